// The reader's hottest pixel loops are built twice on x86-64, for the baseline and for AVX2 (twice
// the vector lanes), and the build to run is picked once from what the processor reports. Both
// builds share one always-inlined body of exact integer arithmetic, so they give the same
// results; IDUT_BASELINE_LANES set in the environment keeps the baseline build on a processor
// with AVX2, so the tests can put the same inputs through both.
#ifndef IDUT_READER_LANES_HPP
#define IDUT_READER_LANES_HPP

#include <cstdlib>

#if defined(__x86_64__) && defined(__GNUC__)
#define IDUT_READER_WIDE_LANES 1
#define IDUT_READER_WIDE_TARGET __attribute__((target("avx2")))
#else
#define IDUT_READER_WIDE_LANES 0
#define IDUT_READER_WIDE_TARGET
#endif
// A loop body the builds share: inlined into each, so each is compiled for its own lanes.
#define IDUT_READER_LANE_BODY inline __attribute__((always_inline))
// The same for a lambda inside such a body (placed after its parameter list).
#define IDUT_READER_LAMBDA_BODY __attribute__((always_inline))

namespace lanes {

// Whether the AVX2 builds may run here.
inline bool wide() {
#if IDUT_READER_WIDE_LANES
  if (std::getenv("IDUT_BASELINE_LANES") != nullptr) return false;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// The wide build when it may run, the baseline otherwise.
template <typename Fn>
Fn pick(Fn baseline, Fn wideBuild) {
  return wide() ? wideBuild : baseline;
}

}  // namespace lanes

#endif
