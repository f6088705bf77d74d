"""read_files and iter_files: records in input order on threads, errors per file, bounded work in
flight, time limits, progress, interruption; image_files as idut-find walks directories."""
import _thread
import ctypes
import pickle
import sys
import threading
import time

import numpy as np
import pytest

import idut
import idut._files as files_module
from support import write_pgm


def texts(symbols):
    return [(s.symbology, s.text) for s in symbols]


@pytest.fixture(scope="module")
def expected(images):
    """What read_file finds in each file, read once (the sanitizer build reads slowly)."""
    return {path: texts(idut.read_file(path)) for path in images}


def slow_file(folder, rows=1024, columns=1280):
    """A noise image whose long-rectangle search at step 1 takes long (1.5 s of CPU at 1024 x 1280)."""
    path = folder / f"noise-{rows}.pgm"
    write_pgm(path, np.random.default_rng(7).integers(0, 256, (rows, columns), dtype=np.uint8))
    return str(path)


SLOW = {"rectangles": "long", "step": 1, "symbologies": "datamatrix"}


@pytest.mark.parametrize("jobs", [1, 3, None])
def test_records_follow_the_input_order_and_equal_read_file(images, expected, jobs):
    order = images + images[::-1]
    results = idut.read_files(order, jobs=jobs)
    assert [r.path for r in results] == order
    for r in results:
        assert r.ok and r.error_kind is None
        assert texts(r.symbols) == expected[r.path] and r.symbols
    eans = images[2:] * 2
    by_step = idut.read_files(eans, jobs=jobs, step=3, symbologies="ean13")
    assert [texts(r.symbols) for r in by_step] == [texts(idut.read_file(p, "ean13", step=3)) for p in eans]


def test_bad_inputs_get_error_records_and_the_rest_is_read(images, expected, tmp_path):
    unreadable = tmp_path / "notes.png"
    unreadable.write_text("not an image")
    cases = [
        (str(tmp_path / "missing.png"), "file", "cannot open"),
        (str(unreadable), "file", "not a supported image format"),
        ((images[2], {"step": 0}), "input", "step is 0"),
        ((images[2], {"stpe": 2}), "input", "unknown option 'stpe'"),
        ((images[2], {"decode": "no"}), "input", "decode must be True or False"),
        (None, "input", "not a path"),
        (42, "input", "not a path"),
    ]
    items = []
    for item, _, _ in cases:
        items += [item, images[2 + len(items) % 2]]
    for jobs in (1, 2):
        results = idut.read_files(items, jobs=jobs)
        assert len(results) == len(items)
        for k, (item, kind, message) in enumerate(cases):
            bad, good = results[2 * k], results[2 * k + 1]
            assert (bad.error_kind, bad.symbols, bad.ok) == (kind, [], False)
            assert message in bad.error
            assert good.ok and texts(good.symbols) == expected[good.path]
    # A file's own options replace the shared ones for it alone.
    own = idut.read_files([images[0], (images[0], {"symbologies": "ean13"}), images[2]], symbologies="datamatrix")
    assert [len(r.symbols) for r in own] == [3, 0, 0]


@pytest.mark.parametrize("call,error,message", [
    (lambda p: idut.read_files(p, step=0), ValueError, "step is 0"),
    (lambda p: idut.read_files(p, stpe=2), TypeError, "unknown option 'stpe'"),
    (lambda p: idut.read_files(p, stop=lambda: False), TypeError, "no stop callable"),
    (lambda p: idut.read_files(p, jobs=0), ValueError, "jobs must be at least 1, got 0"),
    (lambda p: idut.read_files(p, jobs=1.5), TypeError, "jobs must be an int"),
    (lambda p: idut.read_files(p, timeout=0), ValueError, "timeout must be a positive number"),
    (lambda p: idut.read_files(p, timeout="1"), TypeError, "timeout must be a number"),
    (lambda p: idut.read_files(p[0]), TypeError, "not one path"),
    (lambda p: idut.iter_files(p, symbologies="qr"), ValueError, "unknown symbology 'qr'"),
])
def test_wrong_shared_options_raise_before_anything_is_read(images, call, error, message):
    with pytest.raises(error, match=message):
        call(images)


def test_records_pickle_and_become_plain_values(images):
    results = idut.read_files(images + ["/nonexistent.png"], jobs=2)
    again = pickle.loads(pickle.dumps(results))
    assert [(r.path, texts(r.symbols), r.error, r.error_kind) for r in again] == \
        [(r.path, texts(r.symbols), r.error, r.error_kind) for r in results]
    plain = results[0].as_dict()
    assert set(plain) == {"path", "symbols", "error", "error_kind"}
    first = plain["symbols"][0]
    assert (first["symbology"], first["text"], first["content_type"]) == ("DataMatrix", "IDUT-42", "text")
    np.testing.assert_array_equal(first["corners"], results[0].symbols[0].corners)
    assert results[-1].as_dict() == {"path": "/nonexistent.png", "symbols": [],
                                     "error": results[-1].error, "error_kind": "file"}


def test_searches_in_flight_stay_within_the_jobs(images, monkeypatch):
    """Concurrent reads reach the job count and never exceed it; started reads stay within two per
    job of the records taken, however slowly the caller takes them."""
    real, change = files_module._idut.read_file, threading.Condition()
    state = {"running": 0, "peak": 0, "started": 0}

    def counting(path, **kwargs):
        with change:
            state["running"] += 1
            state["started"] += 1
            state["peak"] = max(state["peak"], state["running"])
            change.notify_all()
            # The first reads wait for the pool to run three at once (or for a while, if it cannot).
            change.wait_for(lambda: state["peak"] >= 3, timeout=5)
        try:
            return real(path, **kwargs)
        finally:
            with change:
                state["running"] -= 1

    monkeypatch.setattr(files_module._idut, "read_file", counting)
    order = images[2:] * 6
    for taken, record in enumerate(idut.iter_files(order, jobs=3), start=1):
        assert record.path == order[taken - 1]
        assert state["started"] <= taken + 2 * 3
        time.sleep(0.01)
    assert state["peak"] == 3 and state["started"] == len(order)


def test_time_limit_cuts_one_file_short(images, tmp_path):
    slow = slow_file(tmp_path, 3072, 3072)  # its full search takes some 20 times the sample's
    took = []
    for _ in range(3):
        start = time.monotonic()
        idut.read_file(images[0])
        took.append(time.monotonic() - start)
    sample_time = sorted(took)[1]
    start = time.monotonic()
    results = idut.read_files([(slow, SLOW), images[0]], timeout=4 * sample_time)
    assert time.monotonic() - start < 12 * sample_time + 0.5  # the Data Matrix search stops within its checks
    assert results[0].error_kind == "timeout" and f"time limit of {4 * sample_time:g} s" in results[0].error
    assert results[1].ok and len(results[1].symbols) == 3


def test_progress_bar_counts_the_files(images, capsys, monkeypatch):
    images = images[2:]  # the quick ones
    idut.read_files(images, jobs=2, progress=True)
    assert f"{len(images)}/{len(images)}" in capsys.readouterr().err
    monkeypatch.setitem(sys.modules, "tqdm", None)  # the plain counter where tqdm is missing
    idut.read_files(images, progress=True)
    assert f"{len(images)}/{len(images)} files" in capsys.readouterr().err
    idut.read_files(images)
    assert capsys.readouterr().err == ""


def test_interruption_and_early_close_stop_the_searches(tmp_path):
    slow = slow_file(tmp_path, 512, 640)
    start = time.monotonic()
    idut.read_file(slow, **SLOW)
    full = time.monotonic() - start
    threads = threading.active_count()

    timer = threading.Timer(full / 5, _thread.interrupt_main)
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        idut.read_files([slow] * 4, jobs=2, **SLOW)
    assert time.monotonic() - start < full
    timer.join()
    assert threading.active_count() == threads

    records = idut.iter_files([slow] * 4, jobs=2, **SLOW)
    first = next(records)
    start = time.monotonic()
    records.close()  # the searches in flight stop at their next check
    assert first.ok and time.monotonic() - start < full / 2
    assert threading.active_count() == threads


def test_image_files_walks_like_idut_find(tmp_path):
    for name in ["b.png", "a.JPG", "sub/c.pgm", "sub/deeper/d.webp", "notes.txt", "sub/e.ppm", "x.pnm", "y.jpeg"]:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_bytes(b"")
    (tmp_path / "dir.png").mkdir()
    root = str(tmp_path)
    expected = sorted(root + "/" + n for n in ["b.png", "a.JPG", "sub/c.pgm", "sub/deeper/d.webp", "sub/e.ppm",
                                               "x.pnm", "y.jpeg"])
    assert idut.image_files(tmp_path) == expected
    # Files as given, in the order given, also missing ones and other extensions.
    assert idut.image_files(root + "/notes.txt", root + "/gone.png", tmp_path / "sub") == \
        [root + "/notes.txt", root + "/gone.png"] + [e for e in expected if "/sub/" in e]


def test_failures_are_sorted_into_kinds(images, monkeypatch):
    real = files_module._idut.read_file
    failures = {
        "library": idut.Error(0x80000601, "cidut_errNotOptimized", "search"),
        "memory": idut.OutOfMemoryError(0x80000023, "csys_errNoMemory", "search", real(images[0])[:1]),
        "file": ValueError("x.png: truncated PNG data"),
    }
    for kind, failure in list(failures.items()) + [("memory", MemoryError("x.png: out of memory"))]:
        def failing(path, **kwargs):
            raise failure
        monkeypatch.setattr(files_module._idut, "read_file", failing)
        record = idut.read_files([images[0]])[0]
        assert (record.error_kind, record.error) == (kind, str(failure))
        assert [s.text for s in record.symbols] == [s.text for s in getattr(failure, "symbols", [])]


def test_memory_running_out_in_the_library_fails_that_file_alone(images):
    """The library's allocation hook fails its n-th allocation from the start of the first file:
    that file's record says memory ran out (keeping the symbols found before), the next is read."""
    library = ctypes.CDLL("libidut.so.0")  # the one the module loaded
    library.csys_memory_failNthAllocation.argtypes = [ctypes.c_uint64]
    kinds, partial = set(), 0
    try:
        for n in [2 ** k for k in range(13)]:
            library.csys_memory_failNthAllocation(n)
            first, second = idut.read_files([images[0], images[2]])
            library.csys_memory_failNthAllocation(0)
            kinds.add(first.error_kind)
            partial += first.error_kind == "memory" and len(first.symbols) > 0
            assert second.ok and texts(second.symbols) == [("EAN-13", "4006381333931")]
            assert first.error_kind in (None, "memory"), first.error
            assert first.ok or "csys_errNoMemory (0x80000023)" in first.error
    finally:
        library.csys_memory_failNthAllocation(0)
    assert kinds == {None, "memory"} and partial > 0
