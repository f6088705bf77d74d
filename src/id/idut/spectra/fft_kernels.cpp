// Compile-time factor tables and the tabulated radix-2 schedule.
#include "fft_kernels.hpp"

#include <array>
#include <utility>

namespace fft {

const double kStageSin[kMaxLog2] = {0.0,
                                    1.0,
                                    0.7071067811865475,
                                    0.3826834323650898,
                                    0.19509032201612825,
                                    0.0980171403295606,
                                    0.049067674327418015,
                                    0.024541228522912288,
                                    0.012271538285719925,
                                    0.006135884649154475};
const double kStageCos[kMaxLog2] = {-1.0,
                                    0.0,
                                    0.7071067811865476,
                                    0.9238795325112867,
                                    0.9807852804032304,
                                    0.9951847266721969,
                                    0.9987954562051724,
                                    0.9996988186962042,
                                    0.9999247018391445,
                                    0.9999811752826011};
const int32_t kStageSin16[kMaxLog2] = {0, 65536, 46341, 25080, 12785, 6424, 3216, 1608, 804, 402};
const int32_t kStageCos16[kMaxLog2] = {-65536, 0, 46341, 60547, 64277, 65220, 65457, 65516, 65531, 65535};

int log2Exact(int64_t n) {
  if (n < 1 || (n & (n - 1)) != 0) return -1;
  int k = 0;
  while ((int64_t{1} << k) < n) ++k;
  return k;
}

namespace {

// ---- compile-time tables ------------------------------------------------------------------

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// sin and cos of phi in [0, pi/4] by their series; 14 terms reach far below a double's ulp.
constexpr std::pair<long double, long double> sinCosSmall(long double phi) {
  long double s = 0, c = 0, term = 1;  // term = phi^j / j!
  for (int j = 0; j < 28; ++j) {
    const int sign = (j / 2) % 2 == 0 ? 1 : -1;
    if (j % 2 == 0) c += sign * term;
    else s += sign * term;
    term = term * phi / (j + 1);
  }
  return {s, c};
}

// cos and -sin of 2 pi k / len (the forward factor e^(-i theta)), reduced to an eighth turn.
constexpr std::pair<double, double> forwardFactor(int64_t k, int64_t len) {
  const int64_t m = ((k % len) + len) % len;
  const int64_t quadrant = 4 * m / len;
  const int64_t rest = 4 * m - quadrant * len;  // phi = (pi / 2) rest / len
  long double s, c;
  if (2 * rest <= len) {
    const auto sc = sinCosSmall(kPi / 2 * rest / len);
    s = sc.first;
    c = sc.second;
  } else {
    const auto sc = sinCosSmall(kPi / 2 * (len - rest) / len);
    s = sc.second;
    c = sc.first;
  }
  long double cq = c, sq = s;
  if (quadrant == 1) {
    cq = -s;
    sq = c;
  }
  if (quadrant == 2) {
    cq = -c;
    sq = -s;
  }
  if (quadrant == 3) {
    cq = s;
    sq = -c;
  }
  return {static_cast<double>(cq), static_cast<double>(-sq)};
}

// Radix-4 factors of every span len = 2^s, 2 <= s <= kFastMaxLog2: for q = len / 4 and k < q,
// six runs of q values: re w^k, im w^k, re w^2k, im w^2k, re w^3k, im w^3k.
constexpr size_t factorOffset(int s) {
  size_t offset = 0;
  for (int t = 2; t < s; ++t) offset += 6 * (size_t{1} << (t - 2));
  return offset;
}
constexpr size_t kFactorCount = factorOffset(kFastMaxLog2 + 1);

struct Factors {
  std::array<double, kFactorCount> values{};
  constexpr Factors() {
    for (int s = 2; s <= kFastMaxLog2; ++s) {
      const int64_t len = int64_t{1} << s, q = len / 4;
      double* run = values.data() + factorOffset(s);
      for (int64_t k = 0; k < q; ++k) {
        for (int64_t j = 1; j <= 3; ++j) {
          const auto w = forwardFactor(j * k, len);
          run[(2 * j - 2) * q + k] = w.first;
          run[(2 * j - 1) * q + k] = w.second;
        }
      }
    }
  }
};
constexpr Factors kFactors{};


}  // namespace

const double* factorsOf(int s) { return kFactors.values.data() + factorOffset(s); }

// ---- the tabulated radix-2 schedule -------------------------------------------------------

namespace {

template <class T>
void bitReversePermute(T* data, int n) {
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(data[2 * i], data[2 * j]);
      std::swap(data[2 * i + 1], data[2 * j + 1]);
    }
  }
}

}  // namespace

void genericComplex(double* data, int n) {
  bitReversePermute(data, n);
  const int log2n = log2Exact(n);
  for (int s = 0; s < log2n; ++s) {
    const int half = 1 << s;
    const double stepR = kStageCos[s], stepI = -kStageSin[s];
    double wr = 1.0, wi = 0.0;
    for (int j = 0; j < half; ++j) {
      for (int i = j; i < n; i += 2 * half) {
        double* a = data + 2 * i;
        double* b = data + 2 * (i + half);
        const double tr = wr * b[0] - wi * b[1], ti = wr * b[1] + wi * b[0];
        b[0] = a[0] - tr;
        b[1] = a[1] - ti;
        a[0] += tr;
        a[1] += ti;
      }
      const double nr = wr * stepR - wi * stepI;
      wi = wr * stepI + wi * stepR;
      wr = nr;
    }
  }
}

namespace {

// Product of two values with 16 fraction bits in the second, brought back to the first's scale
// by an arithmetic right shift (rounding towards minus infinity).
inline int64_t mul16(int64_t a, int64_t b) { return (a * b) >> 16; }

}  // namespace

void genericComplexInt(int32_t* data, int n) {
  bitReversePermute(data, n);
  const int log2n = log2Exact(n);
  for (int s = 0; s < log2n; ++s) {
    const int half = 1 << s;
    const int64_t stepR = kStageCos16[s], stepI = -kStageSin16[s];
    int64_t wr = 65536, wi = 0;
    for (int j = 0; j < half; ++j) {
      for (int i = j; i < n; i += 2 * half) {
        int32_t* a = data + 2 * i;
        int32_t* b = data + 2 * (i + half);
        const int64_t tr = mul16(b[0], wr) - mul16(b[1], wi), ti = mul16(b[1], wr) + mul16(b[0], wi);
        const int64_t ar = a[0], ai = a[1];
        b[0] = static_cast<int32_t>(ar - tr);
        b[1] = static_cast<int32_t>(ai - ti);
        a[0] = static_cast<int32_t>(ar + tr);
        a[1] = static_cast<int32_t>(ai + ti);
      }
      const int64_t nr = mul16(wr, stepR) - mul16(wi, stepI);
      wi = mul16(wr, stepI) + mul16(wi, stepR);
      wr = nr;
    }
  }
}

}  // namespace fft
