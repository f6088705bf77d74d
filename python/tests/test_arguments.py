"""Argument checks of every function: clear TypeErrors and ValueErrors naming the argument, never a
binding error, a library assertion or an allocation sized by a wild value; the library's own
refusals as idut.Error with their status."""
import pickle

import numpy as np
import pytest

import idut
from support import ean13_image

IMAGE = np.random.default_rng(1).integers(0, 256, (40, 60), dtype=np.uint8)
LINE = IMAGE[0].copy()
TINY = np.zeros((3, 3), np.uint8)


@pytest.mark.parametrize("call,error,message", [
    # images and search keywords
    (lambda a: idut.find(a.astype(np.float64)), TypeError, "dtype uint8, got float64"),
    (lambda a: idut.find(a.tolist()), TypeError, "numpy array, got list"),
    (lambda a: idut.find(a[0]), ValueError, "got (640,)"),
    (lambda a: idut.find(a[:, :, None, None]), ValueError, "got (400, 640, 1, 1)"),
    (lambda a: idut.find(np.zeros((4, 4, 5), np.uint8)), ValueError, "1 to 4 channels"),
    (lambda a: idut.find(a[:0]), ValueError, "empty"),
    (lambda a: idut.find(a, step=0), ValueError, "step is 0, not from 1 to 64"),
    (lambda a: idut.find(a, step=1.5), TypeError, "step must be an int"),
    (lambda a: idut.find(a, symbologies=""), ValueError, "unknown symbology ''"),
    (lambda a: idut.find(a, symbologies=[]), ValueError, "symbologies is empty"),
    (lambda a: idut.find(a, modules=(8, 200)), ValueError, "modules"),
    (lambda a: idut.find(a, modules="8"), TypeError, "modules must be an int N or a tuple"),
    (lambda a: idut.find(a, symbologies=["qr"]), ValueError, "unknown symbology 'qr'"),
    (lambda a: idut.find(a, min_size=90, max_size=50), ValueError, "min_size 90 is larger than max_size 50"),
    (lambda a: idut.find(a, max_size=2**40), ValueError, "max_size must be from"),
    (lambda a: idut.find(a, rectangles="square"), ValueError, "rectangles"),
    (lambda a: idut.find(a, decode="yes"), TypeError, "decode must be True or False, got str"),
    (lambda a: idut.find(a, stop=3), TypeError, "stop must be callable"),
    (lambda a: idut.check_options(step=65), ValueError, "step is 65"),
    (lambda a: idut.read_file(42), TypeError, "path must be a str or an os.PathLike, got int"),
    (lambda a: idut.read_file("/nonexistent/file.png"), ValueError, "/nonexistent/file.png"),
    (lambda a: idut.status_name(2**33), ValueError, "status must be from"),
    # Reed-Solomon and big integers
    (lambda a: idut.ReedSolomon(8, 5, 0x12D).ecc([]), ValueError, "data must hold at least 1 value, got 0"),
    (lambda a: idut.ReedSolomon(8, 5, 0x12D).ecc([256]), ValueError, "data[0] must be from 0 to 255, got 256"),
    (lambda a: idut.ReedSolomon(8, 5, 0x12D).ecc([1.0]), TypeError, "data[0] must be an int, got float"),
    (lambda a: idut.ReedSolomon(8, 5, 0x12D).correct([1] * 10, [10]), ValueError, "erasures[0] must be from 0 to 9"),
    (lambda a: idut.ReedSolomon(8, 300, 0x12D), ValueError, "ecc_count must be from 1 to 254, got 300"),
    (lambda a: idut.ReedSolomon(8, 5, 0x2D), ValueError, "primitive must be from 256 to 511"),
    (lambda a: idut.correct_929([929], 1), ValueError, "codewords[0] must be from 0 to 928, got 929"),
    (lambda a: idut.correct_929([1] * 9, 513), ValueError, "ecc_count must be from 1 to 512, got 513"),
    (lambda a: idut.bigint.add(-1, 0), ValueError, "x must be from 0 to 2**160 - 1"),
    (lambda a: idut.bigint.add(1 << 160, 0), ValueError, "x must be from 0 to 2**160 - 1"),
    (lambda a: idut.bigint.add(1.0, 0), TypeError, "x must be an int, got float"),
    (lambda a: idut.bigint.to_bytes(1, 2**32 - 1), ValueError, "count must be from 0 to 4096"),
    # image families
    (lambda a: idut.binarize(a, tiles=(2**31, 2**31)), ValueError, "tiles[0] must be from 1 to 2147483647"),
    (lambda a: idut.binarize(a, 6), ValueError, "method must be from 0 to 5, got 6"),
    (lambda a: idut.binarize(a, 4, min_contrast=float("nan")), ValueError, "min_contrast must be a finite number"),
    (lambda a: idut.correlate(LINE[:5], LINE, 2**31 - 1), ValueError, "margin must be from 0 to 4, got 2147483647"),
    (lambda a: idut.correlate(LINE, LINE[:5]), ValueError, "signal (5 samples) must be at least as long as template"),
    (lambda a: idut.correlate(a[0], a[0].astype(np.int16)), TypeError, "signal must have dtype uint8"),
    (lambda a: idut.morphology(a, "blur", 3, 3), ValueError, "operation must be"),
    (lambda a: idut.morphology(a, "max", 0, 3), ValueError, "width must be from 1 to 1048576, got 0"),
    (lambda a: idut.running_max(LINE, 60), ValueError, "window must be from 2 to 59, got 60"),
    (lambda a: idut.edge_points(a, "10"), TypeError, "threshold must be a number, got str"),
    (lambda a: idut.hysteresis(a, 0, 100), ValueError, "low must be from 1 to 255, got 0"),
    (lambda a: idut.map(a, np.arange(255, dtype=np.uint8)), ValueError, "256 entries, got 255"),
    (lambda a: idut.expand(a, 2**20, 2**20), ValueError, "the expanded image would be"),
    (lambda a: idut.low_pass(a, 0.5, 66), ValueError, "size must be from 0 to 65, got 66"),
    (lambda a: idut.box_mean(TINY, 4, 1), ValueError, "width must be from 1 to 3, got 4"),
    (lambda a: idut.project(a, [(0, 0), (5, 0)]), ValueError, "shape (3, 2)"),
    # spectra
    (lambda a: idut.fft_shift(a), TypeError, "float64"),
    (lambda a: idut.fft(a, "phase"), ValueError, "output must be"),
    (lambda a: idut.fft_fixed(a[:16, :16]), TypeError, "complex128"),
    (lambda a: idut.fft_fixed(np.zeros((16, 32), complex)), ValueError, "(16, 16) or (32, 32)"),
    (lambda a: idut.amplitude_spectrum(a, 3), ValueError, "go together"),
])
def test_bad_arguments_raise_clear_errors(sample, call, error, message):
    with pytest.raises(error) as raised:
        call(sample)
    assert message in str(raised.value)


# Every argument of every function, one slot each: a call that puts the value in that argument.
SLOTS = {
    "status_name": lambda v: idut.status_name(v),
    "read_image": lambda v: idut.read_image(v),
    "ReedSolomon bits": lambda v: idut.ReedSolomon(v, 5, 0x12D),
    "ReedSolomon ecc_count": lambda v: idut.ReedSolomon(8, v, 0x12D),
    "ReedSolomon primitive": lambda v: idut.ReedSolomon(8, 5, v),
    "ReedSolomon.ecc": lambda v: idut.ReedSolomon(8, 5, 0x12D).ecc(v),
    "ReedSolomon.correct": lambda v: idut.ReedSolomon(8, 5, 0x12D).correct(v),
    "ReedSolomon.correct erasures": lambda v: idut.ReedSolomon(8, 5, 0x12D).correct([0] * 10, v),
    "correct_929": lambda v: idut.correct_929(v, 2),
    "correct_929 ecc_count": lambda v: idut.correct_929([0] * 10, v),
    "correct_929 erasures": lambda v: idut.correct_929([0] * 10, 2, v),
    "bigint.add": lambda v: idut.bigint.add(v, 1),
    "bigint.mul": lambda v: idut.bigint.mul(1, v),
    "bigint.neg": lambda v: idut.bigint.neg(v),
    "bigint.add_base": lambda v: idut.bigint.add_base(1, v),
    "bigint.shift_right": lambda v: idut.bigint.shift_right(1, v),
    "bigint.divmod_base": lambda v: idut.bigint.divmod_base(7, v),
    "bigint.to_decimal": lambda v: idut.bigint.to_decimal(v),
    "bigint.to_bytes": lambda v: idut.bigint.to_bytes(1, v),
    "histogram": lambda v: idut.histogram(v),
    "threshold": lambda v: idut.threshold(IMAGE, v),
    "correlate template": lambda v: idut.correlate(v, LINE),
    "correlate margin": lambda v: idut.correlate(LINE[:5], LINE, v),
    "best_shift signal": lambda v: idut.best_shift(LINE[:5], v),
    "best_shift margin": lambda v: idut.best_shift(LINE[:5], LINE, v),
    "morphology operation": lambda v: idut.morphology(IMAGE, v, 3, 3),
    "morphology width": lambda v: idut.morphology(IMAGE, "max", v, 3),
    "morphology height": lambda v: idut.morphology(IMAGE, "open", 3, v),
    "running_max": lambda v: idut.running_max(LINE, v),
    "running_min line": lambda v: idut.running_min(v, 3),
    "edges": lambda v: idut.edges(IMAGE, v),
    "edge_points threshold": lambda v: idut.edge_points(IMAGE, v),
    "edge_points centres_only": lambda v: idut.edge_points(IMAGE, 10, 1, v),
    "hysteresis low": lambda v: idut.hysteresis(IMAGE, v, 200),
    "hysteresis high": lambda v: idut.hysteresis(IMAGE, 10, v),
    "hysteresis connect": lambda v: idut.hysteresis(IMAGE, 10, 200, v),
    "binarize method": lambda v: idut.binarize(IMAGE, v),
    "binarize tiles": lambda v: idut.binarize(IMAGE, 3, tiles=v),
    "binarize min_range": lambda v: idut.binarize(IMAGE, 2, min_range=v),
    "binarize min_contrast": lambda v: idut.binarize(IMAGE, 4, min_contrast=v),
    "binarize reduction": lambda v: idut.binarize(IMAGE, 4, reduction=v),
    "binarize offset": lambda v: idut.binarize(IMAGE, 5, offset=v),
    "binarize window_size": lambda v: idut.binarize(IMAGE, 5, window_size=v),
    "binarize contrast_mask": lambda v: idut.binarize(IMAGE, 4, contrast_mask=v),
    "add": lambda v: idut.add(IMAGE, v),
    "subtract": lambda v: idut.subtract(v, IMAGE),
    "invert": lambda v: idut.invert(v),
    "map": lambda v: idut.map(IMAGE, v),
    "min_max": lambda v: idut.min_max(v),
    "transpose": lambda v: idut.transpose(v),
    "subsample": lambda v: idut.subsample(IMAGE, v, 1),
    "expand": lambda v: idut.expand(IMAGE, 1, v),
    "gauss": lambda v: idut.gauss(IMAGE, v, 1),
    "low_pass factor": lambda v: idut.low_pass(IMAGE, v, 2),
    "low_pass size": lambda v: idut.low_pass(IMAGE, 0.5, v),
    "low_pass passes": lambda v: idut.low_pass(IMAGE, 0.5, 2, v),
    "low_pass mask_threshold": lambda v: idut.low_pass(IMAGE, 0.5, 2, mask_threshold=v),
    "project": lambda v: idut.project(IMAGE, v),
    "box_mean": lambda v: idut.box_mean(IMAGE, v, 3),
    "fft output": lambda v: idut.fft(IMAGE[:32, :32], v),
    "fft rows_only": lambda v: idut.fft(IMAGE[:32, :32], "complex", v),
    "fft integer": lambda v: idut.fft(IMAGE[:32, :32], integer=v),
    "amplitude_spectrum column_limit": lambda v: idut.amplitude_spectrum(IMAGE, v, 3),
    "amplitude_spectrum frequency_limit": lambda v: idut.amplitude_spectrum(IMAGE, 3, v),
    "fft_fixed": lambda v: idut.fft_fixed(v),
    "fft_fixed inverse": lambda v: idut.fft_fixed(np.zeros((16, 16), complex), v),
    "dft": lambda v: idut.dft(v),
    "fft_shift": lambda v: idut.fft_shift(v),
    "viewable_spectrum": lambda v: idut.viewable_spectrum(v),
    "find image": lambda v: idut.find(v),
    "find symbologies": lambda v: idut.find(TINY, v),
    "find step": lambda v: idut.find(TINY, step=v),
    "find modules": lambda v: idut.find(TINY, modules=v),
    "find decode": lambda v: idut.find(TINY, decode=v),
    "find rectangles": lambda v: idut.find(TINY, rectangles=v),
    "find max_symbols": lambda v: idut.find(TINY, max_symbols=v),
    "read_file": lambda v: idut.read_file(v),
}

WILD = [None, True, -1, 0, 1, 7, 2**31, 2**63, -2**31 - 1, 1.5, float("nan"), float("inf"), "x", "", b"x", [], [1],
        (2**31, 2**31), np.int64(3), np.float32(2.5), object(), np.zeros(0, np.uint8), np.zeros((3, 3), np.float32),
        np.zeros((5, 0), np.uint8), np.full(9, 7, np.uint8)]

# The statuses that mean a precondition failed inside the library: never for a caller's value.
ASSERTIONS = {"csys_errAssertion", "cidut_errNullArgument"}


@pytest.mark.parametrize("slot", sorted(SLOTS))
def test_wild_values_give_python_errors(slot):
    for value in WILD:
        try:
            SLOTS[slot](value)
        except idut.Error as e:
            assert e.name not in ASSERTIONS, (slot, value, str(e))
        except (TypeError, ValueError) as e:
            text = str(e)
            assert "incompatible function arguments" not in text and "Unable to cast" not in text, (slot, value, text)
            assert text, (slot, value)


def test_library_refusals_carry_status(sample):
    cases = [
        # the library's own checks of values inside the ranges the module lets through
        (lambda: idut.ReedSolomon(8, 5, 0x100), idut.ArgumentError, 0x80000002, "cidut_errOutOfRange"),
        (lambda: idut.binarize(TINY, 3), idut.ArgumentError, 0x80000846, "cidut_errBadArgument"),
        (lambda: idut.bigint.divmod_base(5, 0), idut.ArgumentError, 0x80000845, "cidut_errDivideByZero"),
        (lambda: idut.fft(sample[:, :600]), idut.ArgumentError, 0x80000861, "cidut_errFftSize"),
        (lambda: idut.project(sample, [(0, 0), (np.nan, 0), (0, 5)]), idut.ArgumentError, 0x80000024,
         "csys_errBadArgument"),
        (lambda: idut.fft_fixed(np.zeros((32, 32), complex), inverse=True), idut.Error, 0x80000601,
         "cidut_errNotOptimized"),
        (lambda: idut.find(sample, stop=lambda: True), idut.Error, 0x80000030, "csys_errAttention"),
        # The 1D road alone, over eight barcodes: it polls between its scan lines too.
        (lambda: idut.find(np.vstack([ean13_image("4006381333931")] * 8), "ean13", stop=lambda: True),
         idut.Error, 0x80000030, "csys_errAttention"),
    ]
    for call, kind, status, name in cases:
        with pytest.raises(kind) as raised:
            call()
        assert (raised.value.status, raised.value.name) == (status, name)
        assert isinstance(raised.value, ValueError) == (kind is idut.ArgumentError)
        assert idut.status_name(status) == name


def test_errors_pickle_with_what_the_search_had_found(sample):
    with pytest.raises(idut.Error) as raised:
        idut.find(sample, stop=lambda: True)
    assert raised.value.symbols == []
    found = idut.find(sample)
    for error in [raised.value, idut.Error(0x80000030, "csys_errAttention", "find", found),
                  idut.ArgumentError(0x80000846, "cidut_errBadArgument", "binarize"),
                  idut.OutOfMemoryError(0x80000023, "csys_errNoMemory", "find", found[:1])]:
        again = pickle.loads(pickle.dumps(error))
        assert type(again) is type(error) and str(again) == str(error)
        assert (again.status, again.name, again.message) == (error.status, error.name, error.message)
        assert [s.text for s in again.symbols] == [s.text for s in error.symbols]
    assert isinstance(idut.OutOfMemoryError(0x80000023, "csys_errNoMemory", "x"), MemoryError)
