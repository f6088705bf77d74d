import pytest

import idut
from support import SAMPLE


@pytest.fixture(scope="module")
def sample():
    return idut.read_image(SAMPLE)
