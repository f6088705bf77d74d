"""The Python module against idut-find, numpy layouts, stopping, leaks and the stand-alone families."""
import _thread
import pickle
import random
import sys
import threading
import time
import tracemalloc

import numpy as np
import pytest

import idut
from support import SAMPLE, assert_same, ean13_image, tool_json


@pytest.mark.parametrize("kwargs,args", [
    ({}, []),
    ({"decode": False}, ["--no-decode"]),
    ({"max_symbols": 1, "step": 3}, ["-n", "1", "--step", "3"]),
    ({"adaptive": True, "symbologies": ["datamatrix"]}, ["--adaptive", "--symbology", "datamatrix"]),
    ({"symbologies": "code128,ean13"}, ["--symbology", "code128,ean13"]),
])
def test_results_equal_idut_find(images, kwargs, args):
    for path in images:  # the sample, mirrored, and an EAN-13 both ways up
        assert_same(idut.find(idut.read_image(path), **kwargs), tool_json(path, args))
    assert [s.text for s in idut.find(ean13_image("4006381333931"))] == ["4006381333931"]


def test_read_file_and_pickled_results_equal_find(sample):
    found = idut.find(sample)
    from_file = idut.read_file(SAMPLE)
    assert [repr(s) for s in from_file] == [repr(s) for s in found]
    again = pickle.loads(pickle.dumps(from_file))
    for a, b in zip(again, found):
        assert (a.symbology, a.text, a.bytes, a.score, a.rows, a.columns, a.structured_append) == \
            (b.symbology, b.text, b.bytes, b.score, b.rows, b.columns, b.structured_append)
        np.testing.assert_array_equal(a.corners, b.corners)
    assert [s.text for s in idut.read_file(SAMPLE, "code128")] == []


def test_layouts_give_the_contiguous_result(sample):
    expected = idut.find(sample)
    assert [s.text for s in expected] == ["IDUT-42", "idut sample 1: 0123456789", "https://example.org/idut"]
    padded = np.full((sample.shape[0] + 20, sample.shape[1] + 33), 255, np.uint8)
    padded[10:-10, 17:-16] = sample
    doubled = np.repeat(sample, 2, axis=1)
    alpha = np.full(sample.shape, 255, np.uint8)
    views = [
        padded[10:-10, 17:-16],                       # row stride above the width
        np.asfortranarray(sample),                    # column-major
        doubled[:, ::2],                              # every other column
        sample[::-1, ::-1][::-1, ::-1],               # negative strides, same pixels
        np.stack([sample] * 3, axis=-1),              # RGB of a grey image is that grey
        np.stack([sample, alpha], axis=-1),           # opaque grey + alpha
        np.dstack([sample] * 3 + [alpha])[:, :, :],   # RGBA
        sample[:, :, None],                           # one channel
    ]
    for view in views:
        got = idut.find(view)
        assert [(s.text, s.score) for s in got] == [(s.text, s.score) for s in expected]
        for g, e in zip(got, expected):
            np.testing.assert_array_equal(g.corners, e.corners)


def test_colour_is_converted_like_the_image_reader(tmp_path):
    rgb = np.random.default_rng(1).integers(0, 256, (5, 7, 3), dtype=np.uint8)
    path = tmp_path / "c.ppm"
    path.write_bytes(b"P6\n7 5\n255\n" + rgb.tobytes())
    np.testing.assert_array_equal(idut.morphology(rgb, "max", 1, 1), idut.read_image(str(path)))



def slow_scene():
    return np.random.default_rng(7).integers(0, 256, (1024, 1280), dtype=np.uint8)


def test_ctrl_c_and_stop_callbacks_end_a_search():
    scene = slow_scene()
    start = time.monotonic()
    idut.find(scene, rectangles="long", step=1, symbologies="datamatrix")
    full = time.monotonic() - start
    timer = threading.Timer(full / 10, _thread.interrupt_main)
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        idut.find(scene, rectangles="long", step=1, symbologies="datamatrix")
    assert time.monotonic() - start < full / 2
    timer.join()

    def failing():
        raise RuntimeError("from the callback")
    with pytest.raises(RuntimeError, match="from the callback"):
        idut.find(scene, stop=failing)


def test_searches_release_the_interpreter():
    scene = slow_scene()
    ticks = []
    search = threading.Thread(target=idut.find, args=(scene,), kwargs={"rectangles": "long", "step": 1})
    search.start()
    while search.is_alive():
        ticks.append(time.monotonic())
        time.sleep(0.001)
    assert len(ticks) > 20


def test_no_reference_leaks_over_10000_calls(sample):
    crop = np.ascontiguousarray(sample[60:220, 70:230])
    assert [s.text for s in idut.find(crop)] == ["idut sample 1: 0123456789"]
    tiny = np.zeros((24, 24), np.uint8)
    before_refs = (sys.getrefcount(crop), sys.getrefcount(tiny))
    tracemalloc.start()
    for i in range(10000):
        symbols = idut.find(crop if i % 20 == 0 else tiny)
        if symbols:
            symbols[0].corners.sum()
        if i == 500:
            first, _ = tracemalloc.get_traced_memory()
    last, _ = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    assert (sys.getrefcount(crop), sys.getrefcount(tiny)) == before_refs
    assert last - first < 64 * 1024


def test_reed_solomon_codes():
    # "123456" in a 10 x 10 Data Matrix: data 142 164 186, error correction 114 25 5 88 102.
    code = idut.ReedSolomon(8, 5, 0x12D)
    ecc = code.ecc([186, 164, 142])
    assert ecc[::-1] == [114, 25, 5, 88, 102]
    codeword = ecc + [186, 164, 142]
    damaged = list(codeword)
    damaged[1] ^= 0x55
    damaged[6] = 0
    assert code.correct(damaged, erasures=[6]) == (codeword, 2)
    with pytest.raises(idut.UncorrectableError):
        code.correct([w ^ 1 for w in codeword[:4]] + codeword[4:])

    # GF(929): zeros are a codeword of every length; two errors and an erasure (at index 3, which
    # the module turns into the library's exponent) come back to it.
    k, codeword = 8, [0] * 28
    damaged = list(codeword)
    damaged[3], damaged[10], damaged[20] = 9, 5, 7  # not 25: an unconverted 3 would name index 25
    assert idut.correct_929(damaged, k, erasures=[3]) == (codeword, 3)
    with pytest.raises(idut.UncorrectableError):
        idut.correct_929([1] * 6 + codeword[6:], k)


def test_bigint_matches_python_ints():
    mask, rng = (1 << 160) - 1, random.Random(5)
    for _ in range(200):
        x, y, v, n = rng.getrandbits(160), rng.getrandbits(rng.choice([1, 64, 160])), rng.getrandbits(32) | 1, rng.randrange(170)
        b = idut.bigint
        assert b.add(x, y) == (x + y) & mask and b.sub(x, y) == (x - y) & mask and b.mul(x, y) == (x * y) & mask
        assert b.mul_base(x, v) == (x * v) & mask and b.add_base(x, v) == (x + v) & mask and b.neg(x) == -x & mask
        assert b.shift_left(x, n) == (x << n) & mask and b.shift_right(x, n) == x >> n
        assert b.divmod_base(x, v) == divmod(x, v) and b.to_decimal(x) == str(x)
        assert b.to_bytes(x, 24) == x.to_bytes(24, "big")


def otsu(image):
    """The split t in 1 .. 255 (first of equals) with the largest between-class variance."""
    counts, levels = np.bincount(image.ravel(), minlength=256), np.arange(256)
    def between(t):
        n0, n1 = counts[:t].sum(), counts[t:].sum()
        if not n0 or not n1:
            return 0
        return n0 * n1 * ((levels[:t] @ counts[:t]) / n0 - (levels[t:] @ counts[t:]) / n1) ** 2
    return max(range(1, 256), key=between)


def test_image_operations_against_numpy():
    rng = np.random.default_rng(11)
    image = rng.integers(0, 256, (37, 53), dtype=np.uint8)
    for width, height in [(3, 1), (1, 5), (4, 4), (7, 2)]:
        rx, ry = max(1, (width - 1) // 2) if width > 1 else 0, max(1, (height - 1) // 2) if height > 1 else 0
        expected = np.array([[image[max(0, y - ry):y + ry + 1, max(0, x - rx):x + rx + 1].max() for x in range(53)]
                             for y in range(37)])
        np.testing.assert_array_equal(idut.morphology(image[:, :], "max", width, height), expected)
        np.testing.assert_array_equal(idut.morphology(255 - image, "min", width, height), 255 - expected)
    line = image[0]
    np.testing.assert_array_equal(idut.running_max(line, 5), [line[max(0, x - 2):x + 3].max() for x in range(53)])

    signal = rng.integers(0, 256, 80, dtype=np.uint8)
    template = signal[30:50].copy()
    scores = idut.correlate(template, signal)
    for k in (0, 17, 30, 60):
        r = np.corrcoef(template.astype(float), signal[k:k + 20].astype(float))[0, 1]
        assert scores[k] == pytest.approx(max(r, 0) ** 2)
    for t, s in [(template, signal), (template.astype(np.uint32), signal.astype(np.uint32))]:
        shift, score = idut.best_shift(t, s)
        assert abs(shift - 30) < 0.5 and score == pytest.approx(1)

    counts = idut.histogram(image[3:, 5:])
    np.testing.assert_array_equal(counts, np.bincount(image[3:, 5:].ravel(), minlength=256))
    split, quality = idut.threshold(image[3:, 5:])
    assert split == otsu(image[3:, 5:]) and 0 < quality < 1
    cumulative = np.cumsum(counts)
    assert idut.threshold(image[3:, 5:], 0.5)[0] == int(np.argmax(cumulative >= cumulative[-1] * 0.5))

    step = np.zeros((20, 30), np.uint8)
    step[:, 15:] = 200
    magnitude, angle = idut.edges(step)
    assert magnitude.shape == step.shape and magnitude[10, 14] == magnitude[10, 15] == 200 and magnitude[10, 5] == 0
    assert angle[10, 14] == 0 and not magnitude[0].any()
    points = idut.edge_points(step)
    assert len(points["x"]) > 0 and np.all(np.abs(points["x"] - 15) < 1) and np.all(points["dx"] > 0.99)
    strong = idut.hysteresis(magnitude, 100, 150)
    assert set(np.unique(strong)) == {0, 255} and strong[10, 14] == 255


def box_sums(image, w, h):
    """Sums of every w x h box by its top-left corner (the boxes inside the image)."""
    c = np.pad(image.astype(np.int64).cumsum(0).cumsum(1), ((1, 0), (1, 0)))
    return c[h:, w:] - c[:-h, w:] - c[h:, :-w] + c[:-h, :-w]


IMAGE = np.random.default_rng(13).integers(0, 256, (41, 67), dtype=np.uint8)
ODD = IMAGE[::2, 1::3]  # strided rows and columns
BLOCKS = np.where(np.arange(67) < 30, IMAGE // 16 + 100, IMAGE).astype(np.uint8)  # low contrast on the left


def gaussian(image, sx, sy):
    """Separable Gaussian of half-widths sx, sy and sigmas 0.5 + size / 3, inside the image only."""
    def kernel(s):
        x = np.arange(-s, s + 1)
        w = np.exp(-0.5 * (x / (0.5 + s / 3)) ** 2)
        return w / w.sum()
    rows = np.apply_along_axis(np.convolve, 1, image.astype(float), kernel(sx), "valid")
    return np.apply_along_axis(np.convolve, 0, rows, kernel(sy), "valid")


def tile_thresholds(image, tiles_x, tiles_y, rule):
    """rule(tile min, tile max) over tiles one pixel larger than size // count, the last ones cut."""
    h, w = image.shape
    bw, bh = w // tiles_x + 1, h // tiles_y + 1
    thresholds = np.zeros(image.shape, int)
    for y in range(0, h, bh):
        for x in range(0, w, bw):
            tile = image[y:y + bh, x:x + bw].astype(int)
            thresholds[y:y + bh, x:x + bw] = rule(tile.min(), tile.max())
    return thresholds


def extreme(image, r, f):
    """f over the (2r + 1) x (2r + 1) neighbourhood, clamped at the borders."""
    return f(np.lib.stride_tricks.sliding_window_view(np.pad(image.astype(int), r, mode="edge"), (2 * r + 1,) * 2),
             axis=(2, 3))


def local_contrast(image, c):
    """(binary, mask) without reduction: 9 x 9 and 3 x 3 ranges of the 3 x 3 dilation and erosion."""
    c9, c3 = (extreme(image, r, np.max) - extreme(image, r, np.min) for r in (5, 2))
    t = np.where(c9 >= c, extreme(image, 5, np.min) + np.where(c3 >= c, c3, c9) // 2, otsu(image))
    return np.where(image > t, 255, 0), np.where(c9 >= c, 255, 0)


def blocky(mask):
    """Whether the mask, made at half resolution and enlarged, is one value in each 2 x 2 block."""
    return np.array_equal(mask[:40, :66], mask[:40:2, :66:2].repeat(2, 0).repeat(2, 1)) and 0 < mask.mean() < 255


def projection(image, region):
    """(bins with samples, first such bin, samples): rounded means of the region's nearest-pixel samples."""
    po, ex, ey = np.asarray(region[0]), np.subtract(region[1], region[0]), np.subtract(region[2], region[0])
    L, M = (max(1, int(np.floor(np.hypot(*e) + 0.5))) for e in (ex, ey))
    u, v = np.meshgrid((np.arange(L) + 0.5) / L, (np.arange(M) + 0.5) / M, indexing="ij")
    x, y = po[0] + u * ex[0] + v * ey[0], po[1] + u * ex[1] + v * ey[1]
    inside, samples = (x >= 0) & (x < image.shape[1]) & (y >= 0) & (y < image.shape[0]), np.zeros(x.shape, int)
    samples[inside] = image[y[inside].astype(int), x[inside].astype(int)]
    n, used = inside.sum(1), np.flatnonzero(inside.any(1))
    first, last = (used[0], used[-1]) if used.size else (0, -1)
    return ((samples.sum(1) + n // 2) // np.maximum(n, 1))[first:last + 1], first, n.sum()


@pytest.mark.parametrize("name,got,expected", [
    ("subtract", lambda: idut.subtract(IMAGE, ODD), lambda: np.clip(IMAGE[:21, :22].astype(int) - ODD, 0, 255)),
    ("add", lambda: idut.add(ODD, IMAGE), lambda: np.clip(ODD.astype(int) + IMAGE[:21, :22], 0, 255)),
    ("invert", lambda: idut.invert(ODD), lambda: 255 - ODD),
    ("map", lambda: idut.map(ODD, np.arange(256)[::-1].astype(np.uint8) // 3),
     lambda: (255 - ODD) // 3),
    ("min_max", lambda: idut.min_max(ODD), lambda: (ODD.min(), ODD.max())),
    ("transpose", lambda: idut.transpose(ODD), lambda: ODD.T),
    ("subsample", lambda: idut.subsample(IMAGE, 4, 3), lambda: IMAGE[1:39:3, 1:65:4]),
    ("expand", lambda: idut.expand(ODD, 2, 3), lambda: np.repeat(np.repeat(ODD, 3, 0), 2, 1)),
    ("box_mean", lambda: idut.box_mean(IMAGE, 5, 3)[:39, :63], lambda: (box_sums(IMAGE, 5, 3) + 7) // 15),
    # The fixed-point kernel rounds its weights: within two grey levels of the exact one.
    ("gauss", lambda: np.abs(idut.gauss(IMAGE, 3, 2)[2:-2, 3:-3] - gaussian(IMAGE, 3, 2)).max() <= 2, lambda: True),
    ("low_pass 0", lambda: idut.low_pass(ODD, 0.0, 2), lambda: ODD),
    ("low_pass 1", lambda: idut.low_pass(IMAGE, 1.0, 2)[2:-2, 2:-2],
     lambda: np.floor(box_sums(IMAGE, 5, 5) / 25 + 0.5)),
    ("low_pass mask", lambda: idut.low_pass(IMAGE, 1.0, 2, mask_threshold=30)[2:-2, 2:-2],
     lambda: np.where(np.abs(IMAGE[2:-2, 2:-2] - np.floor(box_sums(IMAGE, 5, 5) / 25 + 0.5)) >= 30, 255, 0)),
    ("binarize mid-range", lambda: idut.binarize(IMAGE, 0),
     lambda: np.where(IMAGE >= (int(IMAGE.min()) + int(IMAGE.max())) // 2, 255, 0)),
    ("binarize mean", lambda: idut.binarize(IMAGE, 5, window_size=7, offset=10)[3:-3, 3:-3],
     lambda: np.where(IMAGE[3:-3, 3:-3].astype(int) * 49 >= box_sums(IMAGE, 7, 7) - 490, 255, 0)),
    ("binarize Otsu", lambda: idut.binarize(BLOCKS, 1), lambda: np.where(BLOCKS >= otsu(BLOCKS), 255, 0)),
    ("binarize tile mid-range", lambda: idut.binarize(BLOCKS, 2, tiles=(7, 4), min_range=40),
     lambda: np.where(BLOCKS > tile_thresholds(BLOCKS, 7, 4, lambda lo, hi: (lo + hi) // 2 if hi - lo > 40 else 0),
                      255, 0)),
    ("binarize tile maximum", lambda: idut.binarize(BLOCKS, 3),
     lambda: np.where(BLOCKS > tile_thresholds(BLOCKS, 20, 10, lambda lo, hi: (hi + int(BLOCKS.min())) // 2), 255, 0)),
    ("binarize local contrast", lambda: idut.binarize(BLOCKS, 4, reduction=1, min_contrast=30, contrast_mask=True),
     lambda: local_contrast(BLOCKS, 30)),
    ("binarize reduced contrast", lambda: blocky(idut.binarize(BLOCKS, 4, contrast_mask=True)[1]), lambda: True),
])
def test_pixel_operations_against_numpy(name, got, expected):
    np.testing.assert_array_equal(got(), expected())


@pytest.mark.parametrize("image,region", [
    (IMAGE, ((3.3, 5.7), (40.1, 12.2), (-1.4, 30.9))),    # partly outside
    (ODD, ((-6.2, 4.3), (25.9, -3.1), (-3.1, 18.6))),     # the first bins empty
    (IMAGE, ((60.3, 40.2), (20.6, 30.1), (64.9, 20.3))),  # inside
    (IMAGE, ((70.2, 5.1), (90.3, 5.1), (70.2, 20.4))),    # outside: no bins
])
def test_projection_against_numpy(image, region):
    values, first, count = idut.project(image, region)
    expected = projection(image, region)
    np.testing.assert_array_equal(values, expected[0])
    assert (first, count) == expected[1:]


SQUARE = IMAGE[:16, :32]
SPECTRUM = np.abs(np.fft.fft2(ODD))


def near(n, limit):
    """Frequencies below limit or from n - limit: those the limited spectrum keeps."""
    return (np.arange(n) < limit) | (np.arange(n) >= n - limit)


@pytest.mark.parametrize("name,got,expected", [
    ("fft", lambda: idut.fft(SQUARE), lambda: np.fft.fft2(SQUARE)),
    ("fft rows", lambda: idut.fft(IMAGE[:, :64], rows_only=True), lambda: np.fft.fft(IMAGE[:, :64], axis=1)),
    ("amplitude", lambda: idut.fft(SQUARE, "amplitude"), lambda: np.abs(np.fft.fft2(SQUARE))),
    ("power", lambda: idut.fft(SQUARE, "power"), lambda: np.abs(np.fft.fft2(SQUARE)) ** 2),
    ("log_power", lambda: idut.fft(SQUARE, "log_power"), lambda: np.log(np.abs(np.fft.fft2(SQUARE)) ** 2 + 1e-10)),
    ("dft", lambda: idut.dft(ODD), lambda: np.fft.fft2(ODD)),
    ("dft line", lambda: idut.dft(IMAGE[0]), lambda: np.fft.fft(IMAGE[0])),
    ("amplitude spectrum", lambda: idut.amplitude_spectrum(ODD), lambda: SPECTRUM),
    ("limited spectrum", lambda: idut.amplitude_spectrum(ODD, 4, 3),
     lambda: SPECTRUM * np.outer(near(21, 3), near(22, 4))),
    # 16-bit stage factors: within their rounding (the library's own tests bound it for every size).
    ("fft integer", lambda: np.abs(idut.fft(SQUARE, integer=True) @ [1, 1j] - np.fft.fft2(SQUARE)).max()
     <= 2e-3 * np.abs(np.fft.fft2(SQUARE)).max(), lambda: True),
    ("fft_shift", lambda: idut.fft_shift(SPECTRUM), lambda: np.fft.fftshift(SPECTRUM)),
    ("viewable", lambda: idut.viewable_spectrum(SPECTRUM),
     lambda: np.floor((SPECTRUM - SPECTRUM.min()) * 255 / (SPECTRUM.max() - SPECTRUM.min()))),
])
def test_spectra_against_numpy(name, got, expected):
    want = expected()
    np.testing.assert_allclose(got(), want, rtol=1e-9, atol=1e-9 * np.abs(want).max())
