"""Reading many image files: one record per file, in input order, on threads of one process.

The searches release the interpreter's lock while they decode and search, so N threads read N
files at once. At most 2 * jobs files are in flight, so memory stays bounded by the jobs however
long the list of paths is.
"""
from __future__ import annotations

import base64
import collections
import concurrent.futures
import dataclasses
import os
import sys
import threading
import time
from collections.abc import Mapping

from . import _idut

# The keywords of find() and read_file() that read_files() passes on (its stop is its own).
OPTION_NAMES = ("symbologies", "step", "min_size", "max_size", "modules", "adaptive", "low_contrast",
                "max_symbols", "decode", "rectangles")

# What went wrong with a file, by kind:
#   "input"   the item was not a path, or its own options were wrong
#   "file"    the file could not be opened or decoded as an image
#   "memory"  memory ran out decoding or searching it
#   "timeout" the search reached the per-file time limit (symbols: what it had found by then)
#   "library" any other failure of the library (the message names its status)
#   "worker"  (idut.dask) the process reading it died
ERROR_KINDS = ("input", "file", "memory", "timeout", "library", "worker")


@dataclasses.dataclass
class FileResult:
    """What reading one image file gave.

    path        the path as given (str)
    symbols     the Symbols found (after a failure: those found before it)
    error       None when the file was read, else why it was not (fully) read
    error_kind  None, or one of "input", "file", "memory", "timeout", "library", "worker"

    Records pickle, and a list of them makes a pandas DataFrame (one row per file):
    pandas.DataFrame(results), or pandas.DataFrame(r.as_dict() for r in results) with the
    symbols as plain dicts."""

    path: str
    symbols: list = dataclasses.field(default_factory=list)
    error: str | None = None
    error_kind: str | None = None

    @property
    def ok(self) -> bool:
        return self.error is None

    def as_dict(self) -> dict:
        """The record as plain values (JSON-ready): symbols as symbol_dict() gives them."""
        return {"path": self.path, "symbols": [symbol_dict(s) for s in self.symbols], "error": self.error,
                "error_kind": self.error_kind}


FileResult.__module__ = "idut"


def symbol_dict(symbol) -> dict:
    """A Symbol as the plain values idut-find --json prints for it (corners as [x, y] pairs, bytes
    in base64, the details only where they say something)."""
    d = {"symbology": symbol.symbology, "corners": symbol.corners.tolist(), "score": symbol.score,
         "parallelogram": symbol.parallelogram}
    if symbol.text is not None:
        d["text"] = symbol.text
        d["bytes"] = base64.b64encode(symbol.bytes).decode("ascii")
        d["content_type"] = symbol.content_type
        if symbol.symbology_identifier:
            d["symbology_identifier"] = symbol.symbology_identifier
        if symbol.eci >= 0:
            d["eci"] = symbol.eci
    elif symbol.decode_error is not None:
        d["decode_error"] = symbol.decode_error
    if symbol.rows > 0:
        d["rows"], d["columns"] = symbol.rows, symbol.columns
    if symbol.ec_level >= 0:
        d["ec_level"] = symbol.ec_level
    if symbol.errors_corrected or symbol.erasures:
        d["errors_corrected"], d["erasures"] = symbol.errors_corrected, symbol.erasures
    for flag in ("reader_init", "mirrored", "inverted"):
        if getattr(symbol, flag):
            d[flag] = True
    for name in ("add_on", "raw_text"):
        if getattr(symbol, name):
            d[name] = getattr(symbol, name)
    if symbol.structured_append is not None:
        d["structured_append"] = dict(symbol.structured_append)
    return d


IMAGE_EXTENSIONS = (".png", ".jpg", ".jpeg", ".pgm", ".ppm", ".pnm", ".webp")


def image_files(*paths) -> list:
    """The files idut-find would read for these arguments: a file as given (also one that does not
    exist, so that it gets its error record), a directory's image files (by extension) walked
    recursively, each directory's in sorted order."""
    files = []
    for path in paths:
        path = os.fspath(path)
        if not os.path.isdir(path):
            files.append(path)
            continue
        found = []
        for folder, _, names in os.walk(path):
            found += [os.path.join(folder, n) for n in names if n.lower().endswith(IMAGE_EXTENSIONS)
                      and os.path.isfile(os.path.join(folder, n))]
        files += sorted(found)
    return files


def check_options(options: Mapping) -> dict:
    """The options as read_file() keywords; TypeError for a name it does not take, else its own
    checks (TypeError or ValueError naming the option)."""
    unknown = sorted(set(options) - set(OPTION_NAMES))
    if unknown:
        raise TypeError(f"unknown option {unknown[0]!r} (options: {', '.join(OPTION_NAMES)})")
    _idut.check_options(**options)
    return dict(options)


def _count(name, value, low):
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, got {type(value).__name__}")
    if value < low:
        raise ValueError(f"{name} must be at least {low}, got {value}")
    return value


def check_timeout(timeout):
    """None, or a positive number of seconds."""
    if timeout is None:
        return None
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)):
        raise TypeError(f"timeout must be a number of seconds or None, got {type(timeout).__name__}")
    if not timeout > 0 or timeout == float("inf"):
        raise ValueError(f"timeout must be a positive number of seconds, got {timeout}")
    return float(timeout)


def _item(item, shared):
    """(path, options) of one input: a path, or a pair (path, dict of options for that file)."""
    options = shared
    if isinstance(item, tuple) and len(item) == 2 and isinstance(item[1], Mapping):
        item, own = item
        options = {**shared, **own}
    return os.fspath(item), options


def path_of(item) -> str:
    """The path of an input as its record names it (a repr for what is not a path)."""
    try:
        return _item(item, {})[0]
    except TypeError:
        return repr(item)


def read_one(item, shared, timeout, cancelled=None) -> FileResult:
    """Reads one input into its record; only an interruption (KeyboardInterrupt) escapes."""
    try:
        path, options = _item(item, shared)
    except TypeError as e:
        return FileResult(repr(item), [], f"not a path: {e}", "input")
    try:
        check_options(options)
    except (TypeError, ValueError) as e:
        return FileResult(path, [], f"{path}: {e}", "input")
    deadline = None if timeout is None else time.monotonic() + timeout

    def stop():
        return (cancelled is not None and cancelled.is_set()) or (deadline is not None and time.monotonic() > deadline)

    try:
        return FileResult(path, _idut.read_file(path, stop=stop, **options))
    except _idut.Error as e:
        kind = "library"
        if isinstance(e, MemoryError):
            kind = "memory"
        elif e.name == "csys_errAttention" and deadline is not None and time.monotonic() > deadline:
            return FileResult(path, e.symbols, f"{path}: the search was cut short at the time limit of {timeout:g} s",
                              "timeout")
        return FileResult(path, e.symbols, str(e), kind)
    except MemoryError as e:
        return FileResult(path, [], str(e) or f"{path}: out of memory", "memory")
    except ValueError as e:
        return FileResult(path, [], str(e), "file")


class _Progress:
    """A progress bar on stderr: tqdm's when it is installed, else a plain counter."""

    def __init__(self, enabled, total):
        self.bar, self.count, self.total, self.enabled = None, 0, total, enabled
        if enabled:
            try:
                import tqdm
                self.bar = tqdm.tqdm(total=total, unit="file", file=sys.stderr)
            except ImportError:
                pass

    def step(self, result):
        self.count += 1
        if self.bar is not None:
            self.bar.update(1)
        elif self.enabled:
            sys.stderr.write(f"\r{self.count}" + (f"/{self.total}" if self.total is not None else "") + " files")
            sys.stderr.flush()
        return result

    def close(self):
        if self.bar is not None:
            self.bar.close()
        elif self.enabled and self.count:
            sys.stderr.write("\n")


def iter_files(paths, jobs=1, *, progress=False, timeout=None, **options):
    """read_files() as an iterator: each record as soon as it and those before it are read.
    Closing the iterator early (or an interruption) stops the searches in flight."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be a sequence of paths, not one path (read_file reads one)")
    if "stop" in options:
        raise TypeError("read_files takes no stop callable: use timeout, or stop iterating iter_files")
    shared = check_options(options)
    jobs = _count("jobs", (os.cpu_count() or 1) if jobs is None else jobs, 1)
    timeout = check_timeout(timeout)
    total = len(paths) if hasattr(paths, "__len__") else None
    return _generate(iter(paths), jobs, _Progress(bool(progress), total), timeout, shared)


def _result(future):
    """The future's result, waited for in short steps: an untimed wait on a lock would hold off
    Ctrl-C until the file is read."""
    while True:
        try:
            return future.result(timeout=0.05)
        except concurrent.futures.TimeoutError:
            pass


def _generate(items, jobs, bar, timeout, shared):
    cancelled = threading.Event()
    try:
        if jobs == 1:
            for item in items:
                yield bar.step(read_one(item, shared, timeout))
            return
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs, thread_name_prefix="idut-read") as pool:
            pending = collections.deque()
            try:
                for item in items:
                    pending.append(pool.submit(read_one, item, shared, timeout, cancelled))
                    if len(pending) >= 2 * jobs:
                        yield bar.step(_result(pending.popleft()))
                while pending:
                    yield bar.step(_result(pending.popleft()))
            finally:
                # Searches still running see the flag at their next stop check (within about 20 ms).
                cancelled.set()
                for future in pending:
                    future.cancel()
    finally:
        bar.close()


def read_files(paths, jobs=1, *, progress=False, timeout=None, **options) -> list:
    """Reads image files and returns one FileResult per input, in input order.

    paths     file paths (str or os.PathLike), or pairs (path, dict of options for that file)
    jobs      files read at once, on threads (None: one per processor)
    progress  a progress bar on stderr (tqdm's when installed)
    timeout   seconds a file may take; a search cut short keeps what it had found ("timeout")
    options   find()'s keywords, for every file (checked first: TypeError or ValueError)

    A file that cannot be read, its own wrong options, memory running out or a failing search give
    that file's record an error (error_kind says which); the other files are still read. Ctrl-C
    stops the searches in flight and raises KeyboardInterrupt."""
    return list(iter_files(paths, jobs, progress=progress, timeout=timeout, **options))
