// Runs our routine and another library's on the same input in each iteration and reports both
// times and their ratio (ours over theirs, below 1 when we are faster). The iteration time is
// ours; the other library is pinned to one thread, as the library runs on its caller's.
#ifndef IDUT_BENCH_COMPARE_HPP
#define IDUT_BENCH_COMPARE_HPP

#include <benchmark/benchmark.h>

#include <time.h>

namespace bench {

inline double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Times are this thread's CPU time, over batches of `batch` runs of each (for runs too short to
// time one at a time), so that the time the scheduler gives other processes on a shared machine
// counts for neither side. Only for single-threaded runs on both sides. The iteration time is our
// batch; the counters are per run, in microseconds.
template <class Ours, class Theirs>
void compareCpu(benchmark::State& state, int batch, Ours ours, Theirs theirs) {
  double oursSeconds = 0, theirsSeconds = 0;
  for (auto _ : state) {
    const double start = threadSeconds();
    for (int i = 0; i < batch; ++i) ours();
    const double middle = threadSeconds();
    for (int i = 0; i < batch; ++i) theirs();
    const double end = threadSeconds();
    oursSeconds += middle - start;
    theirsSeconds += end - middle;
    state.SetIterationTime(middle - start);
  }
  const double n = static_cast<double>(state.iterations()) * batch;
  state.counters["ours_us"] = 1e6 * oursSeconds / n;
  state.counters["theirs_us"] = 1e6 * theirsSeconds / n;
  state.counters["ratio"] = theirsSeconds > 0 ? oursSeconds / theirsSeconds : 0;
}

}  // namespace bench

#endif
