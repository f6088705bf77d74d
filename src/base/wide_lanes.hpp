// Hot loops of the base layer are built twice on x86-64, for the baseline and for AVX2 (twice
// the vector lanes), and the build to run is picked once, on first use, from what the processor
// reports. The two builds are ordinary functions sharing one always-inlined body: both give the
// same results, since the bodies use only exact integer or exactly rounded arithmetic, and
// coverage and profiling tools see two plain functions rather than compiler-made clones.
#ifndef IDUT_BASE_WIDE_LANES_HPP
#define IDUT_BASE_WIDE_LANES_HPP

#include <cstdlib>

#if defined(__x86_64__) && defined(__GNUC__)
#define IDUT_WIDE_LANES 1
#define IDUT_WIDE_TARGET __attribute__((target("avx2")))
#else
#define IDUT_WIDE_LANES 0
#define IDUT_WIDE_TARGET
#endif
#define IDUT_LANE_BODY inline __attribute__((always_inline))

namespace idut_lanes {

// Whether the AVX2 builds may run here. IDUT_BASELINE_LANES set in the environment (to
// anything) keeps the baseline builds on a processor that has AVX2, so the test suite can run
// the same inputs through both builds.
inline bool wide() {
#if IDUT_WIDE_LANES
  if (std::getenv("IDUT_BASELINE_LANES") != nullptr) return false;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// The wide build when it may run, the baseline otherwise; decided once per pair.
template <typename Fn>
Fn pick(Fn baseline, Fn wideBuild) {
  return wide() ? wideBuild : baseline;
}

}  // namespace idut_lanes

#endif
