// Integer square roots against their defining inequality r^2 <= v < (r+1)^2, and the 16-bit
// sine and cosine against std::sin and std::cos at every angle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>

#include "base/cmath_fixed.h"
#include "support/assert_recorder.hpp"

namespace {

bool isFloorSqrt(uint64_t v, uint64_t r) {
  // (r+1)^2 computed in 128 bits so it cannot wrap for r near 2^32.
  const unsigned __int128 next = static_cast<unsigned __int128>(r + 1) * (r + 1);
  return r * r <= v && v < next;
}

}  // namespace

TEST(CmathFixed, Sqrt32IsTheExactFloorRoot) {
  EXPECT_EQ(cmath_sqrt32(UINT32_MAX), 65535u);
  for (uint32_t v = 0; v < (1u << 20); ++v) ASSERT_TRUE(isFloorSqrt(v, cmath_sqrt32(v))) << v;
  // Around every perfect square, where an off-by-one would show.
  for (uint64_t r = 1; r <= 65535; ++r) {
    const uint32_t sq = static_cast<uint32_t>(r * r);  // and (r+1)^2 - 1 = sq + 2r
    ASSERT_TRUE(cmath_sqrt32(sq) == r && cmath_sqrt32(sq - 1) == r - 1 && (r == 65535 || cmath_sqrt32(sq + 2 * static_cast<uint32_t>(r)) == r)) << r;
  }
  std::mt19937 rng(5);
  for (int i = 0; i < 200000; ++i)
    if (const uint32_t v = rng(); !isFloorSqrt(v, cmath_sqrt32(v))) FAIL() << v;
}

TEST(CmathFixed, Sqrt64IsTheExactFloorRoot) {
  const uint64_t top = uint64_t{4294967295} * 4294967295u;
  EXPECT_EQ(std::tuple(cmath_sqrt64(0), cmath_sqrt64(UINT64_MAX), cmath_sqrt64(top), cmath_sqrt64(top - 1)),
            std::tuple(0u, 4294967295u, 4294967295u, 4294967294u));
  std::mt19937_64 rng(6);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t v = rng() >> (i % 64);
    ASSERT_TRUE(isFloorSqrt(v, cmath_sqrt64(v))) << v;
    const uint64_t r = rng() >> 32;
    ASSERT_EQ(cmath_sqrt64(r * r), r);
  }
}

TEST(CmathFixed, SineAndCosineAreWithinTheirQuantisation) {
  for (int32_t bits : {0, 1, 8, 14, 15, 16, 24, 29, 30}) {
    const double scale = std::ldexp(1.0, bits);
    const double bound = 0.5 + std::ldexp(1.0, bits - 31) + 1e-9;
    for (int32_t a = 0; a < 65536; ++a) {
      const double rad = a * (2.0 * M_PI / 65536.0);
      const int32_t s = cmath_sin16FixedPoint(a, bits), c = cmath_cos16FixedPoint(a, bits);
      ASSERT_LE(std::fabs(s - std::sin(rad) * scale), bound) << "sin " << a << " bits " << bits;
      ASSERT_LE(std::fabs(c - std::cos(rad) * scale), bound) << "cos " << a << " bits " << bits;
      // Only the low 16 bits of the angle count, and sine is odd.
      ASSERT_TRUE(cmath_sin16FixedPoint(a - 65536, bits) == s && cmath_sin16FixedPoint(a + 3 * 65536, bits) == s &&
                  cmath_sin16FixedPoint(-a, bits) == -s) << a << " bits " << bits;
    }
    const int32_t one = 1 << bits;
    // Exact at the quarter turns.
    EXPECT_TRUE(cmath_sin16FixedPoint(0x4000, bits) == one && cmath_sin16FixedPoint(0xC000, bits) == -one &&
                cmath_cos16FixedPoint(0, bits) == one && cmath_cos16FixedPoint(0x8000, bits) == -one &&
                cmath_cos16FixedPoint(0x4000, bits) == 0 && cmath_sin16FixedPoint(0x8000, bits) == 0)
        << bits;
  }
  // 0x2AAB is 60.0018 degrees: its cosine at 15 bits is 16383.09, which rounds down.
  EXPECT_EQ(cmath_cos16FixedPoint(0x2AAB, 15), 16383);
}

TEST(CmathFixed, FractionBitsOutsideTheTableAreRejected) {
  AssertRecorder recorder;
  EXPECT_EQ(cmath_sin16FixedPoint(0x4000, 31), 0);
  EXPECT_EQ(cmath_cos16FixedPoint(0, -1), 0);
  EXPECT_EQ(recorder.count(), 2u);
}
