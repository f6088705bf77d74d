"""Scaling of the Python package over image files: idut.read_files with one thread against two,
and a Dask LocalCluster of one worker process against two.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_scale.py [FOLDER] [--rounds N] [--limit N]

The modes run interleaved, round after round, so that load from elsewhere on the machine falls
on all of them alike; the medians over the rounds are printed with the speed-ups, and the CPU
seconds each mode used (this process's for read_files, the workers' for the clusters): CPU over
wall time is the parallelism a mode got from the machine. The clusters are started before the
first round (their start-up is not timed). Every mode's records must be the same, or the run
stops."""
import argparse
import resource
import statistics
import time

import distributed

import idut
import idut.dask


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def records(results):
    return [(r.path, [(s.symbology, s.text) for s in r.symbols], r.error_kind) for r in results]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", nargs="?", default="/work/base/scenes")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--limit", type=int, help="only the first N files")
    args = parser.parse_args()
    files = idut.image_files(args.folder)[:args.limit]
    clusters = {n: distributed.LocalCluster(n_workers=n, threads_per_worker=1, processes=True, host="127.0.0.1",
                                            dashboard_address=None) for n in (1, 2)}
    clients = {n: distributed.Client(c, set_as_default=False) for n, c in clusters.items()}
    def workers_cpu(n):
        return lambda: sum(clients[n].run(cpu_seconds).values())

    modes = {  # name: (run, CPU seconds so far)
        "read_files jobs=1": (lambda: idut.read_files(files, jobs=1), cpu_seconds),
        "read_files jobs=2": (lambda: idut.read_files(files, jobs=2), cpu_seconds),
        "cluster 1 worker": (lambda: idut.dask.read(files, clients[1]), workers_cpu(1)),
        "cluster 2 workers": (lambda: idut.dask.read(files, clients[2]), workers_cpu(2)),
    }
    times, cpus = {name: [] for name in modes}, {name: [] for name in modes}
    reference = None
    try:
        for round_ in range(args.rounds):
            for name, (run, cpu) in modes.items():
                cpu_before, start = cpu(), time.perf_counter()
                got = records(run())
                times[name].append(time.perf_counter() - start)
                cpus[name].append(cpu() - cpu_before)
                reference = reference or got
                assert got == reference, f"{name} read other records"
            print(f"round {round_ + 1}: " + ", ".join(f"{n} {t[-1]:.2f} s" for n, t in times.items()), flush=True)
    finally:
        for c in list(clients.values()) + list(clusters.values()):
            c.close()
    median = {name: statistics.median(t) for name, t in times.items()}
    print(f"{len(files)} files, {sum(bool(r[1]) for r in reference)} with symbols; medians of {args.rounds} rounds:")
    for name, m in median.items():
        cpu = statistics.median(cpus[name])
        print(f"  {name:20s} {m:7.2f} s  {len(files) / m:6.1f} files/s  CPU {cpu:6.2f} s ({cpu / m:.2f} cores)")
    print(f"  read_files jobs=2 / jobs=1 speed-up: {median['read_files jobs=1'] / median['read_files jobs=2']:.2f}")
    print(f"  cluster 2 / 1 workers speed-up:      {median['cluster 1 worker'] / median['cluster 2 workers']:.2f}")


if __name__ == "__main__":
    main()
