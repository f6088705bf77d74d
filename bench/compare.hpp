// Runs our routine and another library's on the same input in each iteration and reports both
// times and their ratio (ours over theirs, below 1 when we are faster). The iteration time is
// ours; the other library is pinned to one thread, as the library runs on its caller's.
#ifndef IDUT_BENCH_COMPARE_HPP
#define IDUT_BENCH_COMPARE_HPP

#include <benchmark/benchmark.h>

#include <chrono>

namespace bench {

template <class Ours, class Theirs>
void compareRuns(benchmark::State& state, Ours ours, Theirs theirs) {
  using Clock = std::chrono::steady_clock;
  double oursSeconds = 0, theirsSeconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    ours();
    const auto middle = Clock::now();
    theirs();
    const auto end = Clock::now();
    const double a = std::chrono::duration<double>(middle - start).count();
    oursSeconds += a;
    theirsSeconds += std::chrono::duration<double>(end - middle).count();
    state.SetIterationTime(a);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = 1e3 * oursSeconds / n;
  state.counters["theirs_ms"] = 1e3 * theirsSeconds / n;
  state.counters["ratio"] = theirsSeconds > 0 ? oursSeconds / theirsSeconds : 0;
}

}  // namespace bench

#endif
