// Integer square roots and table-driven fixed-point sine and cosine.
#include "base/cmath_fixed.h"

#include <array>

namespace {

// sin(i * 2pi / 65536) * 2^30 rounded, for the first quarter turn i = 0 .. 16384, computed once
// on first use (a function-local static: thread-safe, and no work at library load).
constexpr int kQuarter = 0x4000;
constexpr int kTableBits = 30;

constexpr double sinSeries(double x) {
  // Taylor series; at x <= pi/2 the terms fall below 1e-17 long before the last one.
  double term = x, sum = x;
  const double x2 = x * x;
  for (int k = 1; k < 22; ++k) {
    term *= -x2 / ((2.0 * k) * (2.0 * k + 1.0));
    sum += term;
  }
  return sum;
}

constexpr std::array<int32_t, kQuarter + 1> makeQuarterSine() {
  constexpr double kPi = 3.14159265358979323846;
  std::array<int32_t, kQuarter + 1> t{};
  for (int i = 0; i <= kQuarter; ++i) {
    const double v = sinSeries(i * (kPi / 32768.0));
    t[i] = static_cast<int32_t>(v * double(1 << kTableBits) + 0.5);
  }
  t[kQuarter] = 1 << kTableBits;
  return t;
}

const std::array<int32_t, kQuarter + 1>& quarterSine() {
  static const std::array<int32_t, kQuarter + 1> table = makeQuarterSine();
  return table;
}

int32_t sine(uint32_t angle, int32_t fracBits) {
  angle &= 0xFFFFu;
  const uint32_t quadrant = angle >> 14, i = angle & (kQuarter - 1);
  const int32_t raw = quarterSine()[(quadrant & 1) ? kQuarter - i : i];
  const int shift = kTableBits - fracBits;
  const int32_t rounded = shift == 0 ? raw : static_cast<int32_t>((raw + (int64_t{1} << (shift - 1))) >> shift);
  return quadrant >= 2 ? -rounded : rounded;
}

// Digit-by-digit (binary restoring) square root: the exact floor, for any unsigned width.
template <class U>
U floorSqrt(U value) {
  U rest = value, root = 0, bit = U{1} << (sizeof(U) * 8 - 2);
  while (bit > rest) bit >>= 2;
  while (bit != 0) {
    if (rest >= root + bit) {
      rest -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return root;
}

}  // namespace

extern "C" {

uint32_t cmath_sqrt32(uint32_t value) { return static_cast<uint32_t>(floorSqrt(value)); }

uint32_t cmath_sqrt64(uint64_t value) { return static_cast<uint32_t>(floorSqrt(value)); }

int32_t cmath_sin16FixedPoint(int32_t angle, int32_t fracBits) {
  if (fracBits < 0 || fracBits > kTableBits) {
    cstd_assert_(__LINE__);
    return 0;
  }
  return sine(static_cast<uint32_t>(angle), fracBits);
}

int32_t cmath_cos16FixedPoint(int32_t angle, int32_t fracBits) {
  if (fracBits < 0 || fracBits > kTableBits) {
    cstd_assert_(__LINE__);
    return 0;
  }
  return sine(static_cast<uint32_t>(angle) + kQuarter, fracBits);
}

}  // extern "C"
