import pytest

import idut
from support import SAMPLE, ean13_image, write_pgm


@pytest.fixture(scope="module")
def sample():
    return idut.read_image(SAMPLE)


@pytest.fixture(scope="module")
def images(tmp_path_factory, sample):
    """Readable files with symbols: the sample, its mirror, an EAN-13 the right way up and upside down."""
    folder = tmp_path_factory.mktemp("images")
    ean = ean13_image("4006381333931")
    paths = [SAMPLE]
    for name, image in [("mirrored", sample[::-1, :]), ("ean", ean), ("ean_turned", ean[::-1, ::-1])]:
        write_pgm(folder / (name + ".pgm"), image)
        paths.append(str(folder / (name + ".pgm")))
    return paths
