"""Reading image files on a Dask cluster: one FileResult record per file, in input order.

    from dask.distributed import Client, LocalCluster
    import idut, idut.dask, pandas

    with LocalCluster(n_workers=4, threads_per_worker=1) as cluster, Client(cluster) as client:
        results = idut.dask.read(idut.image_files("scans/"), client, symbologies="datamatrix")
    frame = pandas.DataFrame(r.as_dict() for r in results)      # one row per image

The files are split into batches of batch_size; a worker reads a batch with idut.read_files on one
of its threads (the searches release the interpreter's lock, so a worker with T threads reads T
files at once). The options are find()'s keywords, checked before anything is sent; a list may
also hold (path, options) pairs for options of that file alone. As with read_files, a missing or
unreadable file, its own wrong options, memory running out or a search cut short at the timeout
give that file's record an error and the other files are still read; a worker process that dies
gives each file of its batch the error kind "worker".

read_bag() gives the same records as a lazy dask.bag.Bag, for pipelines of your own, and
`python -m idut.dask DIRECTORY ... --workers N` writes them as JSON lines. Dask
(python3-dask, python3-distributed) is needed only here: `import idut` works without it.
"""
from __future__ import annotations

import argparse
import functools
import json
import sys

try:
    import dask.bag
    import distributed
except ImportError as e:  # pragma: no cover - exercised only where Dask is missing
    raise ImportError("idut.dask needs Dask: install python3-dask and python3-distributed "
                      "(or the dask and distributed packages)") from e

from . import _files

DEFAULT_BATCH = 16


def _read_batch(paths, options, timeout):
    """A worker's part: one batch of inputs, read on the worker's thread."""
    return [_files.read_one(item, options, timeout) for item in paths]


def _checked(options, timeout, batch_size):
    if "stop" in options:
        raise TypeError("idut.dask takes no stop callable: use timeout")
    _files._count("batch_size", batch_size, 1)
    return _files.check_options(options), _files.check_timeout(timeout)


def read_bag(paths, *, batch_size: int = DEFAULT_BATCH, timeout=None, **options) -> dask.bag.Bag:
    """A dask.bag.Bag of FileResult records for a list of inputs (paths, or (path, options)
    pairs) or a bag of them; nothing is read until the bag is computed. A list is split into
    batches of batch_size; a bag keeps its own partitions."""
    options, timeout = _checked(options, timeout, batch_size)
    if isinstance(paths, (str, bytes)):
        raise TypeError("paths must be a sequence or a bag of paths, not one path")
    bag = paths if isinstance(paths, dask.bag.Bag) else dask.bag.from_sequence(list(paths), partition_size=batch_size)
    return bag.map_partitions(_read_batch, options, timeout)


def read(paths, client: distributed.Client | None = None, *, batch_size: int = DEFAULT_BATCH, timeout=None,
         progress: bool = False, **options) -> list:
    """Reads the inputs (a list, or a dask.bag.Bag of paths) on the cluster of client (None: the
    current client) and returns one FileResult per input, in input order.

    batch_size  inputs a worker reads in one task
    timeout     seconds a file may take; a search cut short keeps what it had found
    progress    a progress bar on stderr (tqdm's when installed), by finished batches
    options     find()'s keywords for every file"""
    options, timeout = _checked(options, timeout, batch_size)
    if client is None:
        client = distributed.get_client()
    if isinstance(paths, dask.bag.Bag):
        paths = client.compute(paths).result()
    elif isinstance(paths, (str, bytes)):
        raise TypeError("paths must be a sequence or a bag of paths, not one path")
    items = list(paths)
    batches = [items[i:i + batch_size] for i in range(0, len(items), batch_size)]
    futures = client.map(functools.partial(_read_batch, options=options, timeout=timeout), batches, pure=False)
    bar = _files._Progress(progress, len(items))
    try:
        if progress:
            sizes = {future.key: len(batch) for future, batch in zip(futures, batches)}
            for future in distributed.as_completed(futures):
                for _ in range(sizes[future.key]):
                    bar.step(None)
        results = []
        for batch, future in zip(batches, futures):
            results += _batch_results(batch, future)
        return results
    finally:
        bar.close()
        client.cancel([f for f in futures if not f.done()])


def _batch_results(batch, future):
    """A finished batch's records; a batch whose worker failed gives each input a "worker" error."""
    try:
        return future.result()
    except Exception as e:  # a worker that died, or a task the cluster gave up on
        try:
            reason = f"{type(e).__name__}: {e}" if str(e) else type(e).__name__
        except Exception:  # an exception whose text cannot be made still has a name
            reason = type(e).__name__
        return [_files.FileResult(_files.path_of(item), [], f"the worker reading it failed: {reason}", "worker")
                for item in batch]


# ---- command line
class _Parser(argparse.ArgumentParser):
    def error(self, message):
        # idut-find's status for a usage error.
        self.print_usage(sys.stderr)
        self.exit(64, f"{self.prog}: error: {message}\n")


def _arguments(argv):
    p = _Parser(
        prog="python -m idut.dask",
        description="Reads image files on a Dask cluster and writes one JSON object per image "
                    "(path, symbols as idut-find --json prints them, error, error_kind), in input order.")
    p.add_argument("paths", nargs="+", metavar="PATH", help="image files and directories (walked recursively)")
    p.add_argument("--workers", type=int, default=2, help="worker processes of a local cluster (default 2)")
    p.add_argument("--threads-per-worker", type=int, default=1, help="threads of each worker (default 1)")
    p.add_argument("--scheduler", metavar="ADDRESS", help="use the cluster of this scheduler instead of a local one")
    p.add_argument("--output", "-o", metavar="FILE", help="write the JSON lines here instead of stdout")
    p.add_argument("--batch-size", type=int, default=DEFAULT_BATCH, help="files per task (default %(default)s)")
    p.add_argument("--timeout", type=float, help="seconds a file may take")
    p.add_argument("--progress", action="store_true", help="a progress bar on stderr")
    p.add_argument("--symbology", help="comma-separated symbologies to look for (default: all)")
    p.add_argument("--step", "-s", type=int, help="scan every N-th row (default 2)")
    p.add_argument("--min-size", type=int, help="smallest symbol side in pixels")
    p.add_argument("--max-size", type=int, help="largest symbol side in pixels")
    p.add_argument("--modules", "-m", help="expected Data Matrix module count N or NxM")
    p.add_argument("--adaptive", action="store_true", help="adaptive-threshold boundary tracking")
    p.add_argument("--low-contrast", action="store_true", help="accept weaker edges as seeds")
    p.add_argument("--max-symbols", "-n", type=int, help="stop each image after N symbols")
    p.add_argument("--no-decode", action="store_true", help="locate only")
    p.add_argument("--rectangles", choices=("standard", "long"), default="standard")
    return p, p.parse_args(argv)


def _options(args, parser):
    options = {"symbologies": args.symbology, "step": args.step, "min_size": args.min_size,
               "max_size": args.max_size, "adaptive": args.adaptive, "low_contrast": args.low_contrast,
               "max_symbols": args.max_symbols, "decode": not args.no_decode, "rectangles": args.rectangles}
    if args.modules:
        try:
            sides = [int(n) for n in args.modules.lower().split("x")]
        except ValueError:
            parser.error(f"--modules takes N or NxM, got {args.modules!r}")
        options["modules"] = sides[0] if len(sides) == 1 else tuple(sides)
    try:
        return _files.check_options(options)
    except (TypeError, ValueError) as e:
        parser.error(str(e))


def _cluster(args):
    if args.scheduler:
        return None, distributed.Client(args.scheduler)
    # Workers on this machine only, listening on the loopback interface.
    cluster = distributed.LocalCluster(n_workers=args.workers, threads_per_worker=args.threads_per_worker,
                                       processes=True, host="127.0.0.1", dashboard_address=None)
    return cluster, distributed.Client(cluster)


def main(argv=None) -> int:
    """Exit status as idut-find's: 0 a symbol found and every file read, 1 every file read but no
    symbol found, 2 a file could not be read (the others were), 64 a usage error."""
    parser, args = _arguments(argv)
    options = _options(args, parser)
    if args.workers < 1 or args.threads_per_worker < 1 or args.batch_size < 1:
        parser.error("--workers, --threads-per-worker and --batch-size must be at least 1")
    files = _files.image_files(*args.paths)
    cluster, client = _cluster(args)
    try:
        results = read(files, client, batch_size=args.batch_size, timeout=args.timeout, progress=args.progress,
                       **options)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    out = open(args.output, "w", encoding="utf-8") if args.output else sys.stdout
    try:
        for r in results:
            out.write(json.dumps(r.as_dict(), ensure_ascii=False) + "\n")
    finally:
        if out is not sys.stdout:
            out.close()
    if any(not r.ok for r in results):
        return 2
    return 0 if any(r.symbols for r in results) else 1


if __name__ == "__main__":
    sys.exit(main())
