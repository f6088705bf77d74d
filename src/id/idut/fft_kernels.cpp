// Transform kernels: the tabulated radix-2 schedule and the fast split-form radix-4 kernels.
#include "fft_kernels.hpp"

#include <emmintrin.h>

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
  if (quadrant == 1) cq = -s, sq = c;
  if (quadrant == 2) cq = -c, sq = -s;
  if (quadrant == 3) cq = s, sq = -c;
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

const double* factorsOf(int s) { return kFactors.values.data() + factorOffset(s); }

constexpr int kBitReverseLog2 = kFastMaxLog2 - 1;
struct BitReverse {
  std::array<uint16_t, size_t{1} << kBitReverseLog2> values{};
  constexpr BitReverse() {
    for (size_t i = 0; i < values.size(); ++i) {
      uint32_t r = 0;
      for (int b = 0; b < kBitReverseLog2; ++b) r |= ((i >> b) & 1u) << (kBitReverseLog2 - 1 - b);
      values[i] = static_cast<uint16_t>(r);
    }
  }
};
constexpr BitReverse kBitReverse{};

// ---- radix-4 butterflies in split form ---------------------------------------------------
//
// One radix-4 step of decimation in frequency is two radix-2 steps fused, so the output order
// stays plain bit reversal: with t0 = a + c, t1 = a - c, t2 = b + d, t3 = b - d,
//   a' = t0 + t2,  b' = (t0 - t2) w^2k,  c' = (t1 - i t3) w^k,  d' = (t1 + i t3) w^3k.

inline __m128d mulRe(__m128d ar, __m128d ai, __m128d wr, __m128d wi) {
  return _mm_sub_pd(_mm_mul_pd(ar, wr), _mm_mul_pd(ai, wi));
}
inline __m128d mulIm(__m128d ar, __m128d ai, __m128d wr, __m128d wi) {
  return _mm_add_pd(_mm_mul_pd(ar, wi), _mm_mul_pd(ai, wr));
}

struct Quad {
  double *r0, *i0, *r1, *i1, *r2, *i2, *r3, *i3;
};

// Butterflies of element pairs [j, j + 2) of the four rows of q, with factors w1, w2, w3
// given per pair (wr1 ... wi3 point at the pair's factors, or are broadcast).
inline void butterfly2(const Quad& p, ptrdiff_t j, __m128d wr1, __m128d wi1, __m128d wr2, __m128d wi2,
                       __m128d wr3, __m128d wi3) {
  const __m128d ar = _mm_loadu_pd(p.r0 + j), ai = _mm_loadu_pd(p.i0 + j);
  const __m128d br = _mm_loadu_pd(p.r1 + j), bi = _mm_loadu_pd(p.i1 + j);
  const __m128d cr = _mm_loadu_pd(p.r2 + j), ci = _mm_loadu_pd(p.i2 + j);
  const __m128d dr = _mm_loadu_pd(p.r3 + j), di = _mm_loadu_pd(p.i3 + j);
  const __m128d t0r = _mm_add_pd(ar, cr), t0i = _mm_add_pd(ai, ci);
  const __m128d t1r = _mm_sub_pd(ar, cr), t1i = _mm_sub_pd(ai, ci);
  const __m128d t2r = _mm_add_pd(br, dr), t2i = _mm_add_pd(bi, di);
  const __m128d t3r = _mm_sub_pd(br, dr), t3i = _mm_sub_pd(bi, di);
  _mm_storeu_pd(p.r0 + j, _mm_add_pd(t0r, t2r));
  _mm_storeu_pd(p.i0 + j, _mm_add_pd(t0i, t2i));
  const __m128d ur = _mm_sub_pd(t0r, t2r), ui = _mm_sub_pd(t0i, t2i);
  _mm_storeu_pd(p.r1 + j, mulRe(ur, ui, wr2, wi2));
  _mm_storeu_pd(p.i1 + j, mulIm(ur, ui, wr2, wi2));
  const __m128d vr = _mm_add_pd(t1r, t3i), vi = _mm_sub_pd(t1i, t3r);  // t1 - i t3
  _mm_storeu_pd(p.r2 + j, mulRe(vr, vi, wr1, wi1));
  _mm_storeu_pd(p.i2 + j, mulIm(vr, vi, wr1, wi1));
  const __m128d xr = _mm_sub_pd(t1r, t3i), xi = _mm_add_pd(t1i, t3r);  // t1 + i t3
  _mm_storeu_pd(p.r3 + j, mulRe(xr, xi, wr3, wi3));
  _mm_storeu_pd(p.i3 + j, mulIm(xr, xi, wr3, wi3));
}

}  // namespace

int bitReverse(int index, int log2n) { return kBitReverse.values[static_cast<size_t>(index)] >> (kBitReverseLog2 - log2n); }

namespace {

// Radix-4 step of decimation in time (two radix-2 steps fused, inputs in bit-reversed order):
// with B = b w^2k, C = c w^k, D = d w^3k, t0 = a + B, t1 = a - B, t2 = C + D, t3 = C - D,
//   a' = t0 + t2,  b' = t1 - i t3,  c' = t0 - t2,  d' = t1 + i t3.
inline void butterflyTime2(const Quad& p, ptrdiff_t j, const double* w, ptrdiff_t q) {
  const __m128d wr1 = _mm_loadu_pd(w + j), wi1 = _mm_loadu_pd(w + q + j);
  const __m128d wr2 = _mm_loadu_pd(w + 2 * q + j), wi2 = _mm_loadu_pd(w + 3 * q + j);
  const __m128d wr3 = _mm_loadu_pd(w + 4 * q + j), wi3 = _mm_loadu_pd(w + 5 * q + j);
  const __m128d ar = _mm_loadu_pd(p.r0 + j), ai = _mm_loadu_pd(p.i0 + j);
  const __m128d xr = _mm_loadu_pd(p.r1 + j), xi = _mm_loadu_pd(p.i1 + j);
  const __m128d yr = _mm_loadu_pd(p.r2 + j), yi = _mm_loadu_pd(p.i2 + j);
  const __m128d zr = _mm_loadu_pd(p.r3 + j), zi = _mm_loadu_pd(p.i3 + j);
  const __m128d br = mulRe(xr, xi, wr2, wi2), bi = mulIm(xr, xi, wr2, wi2);
  const __m128d cr = mulRe(yr, yi, wr1, wi1), ci = mulIm(yr, yi, wr1, wi1);
  const __m128d dr = mulRe(zr, zi, wr3, wi3), di = mulIm(zr, zi, wr3, wi3);
  const __m128d t0r = _mm_add_pd(ar, br), t0i = _mm_add_pd(ai, bi);
  const __m128d t1r = _mm_sub_pd(ar, br), t1i = _mm_sub_pd(ai, bi);
  const __m128d t2r = _mm_add_pd(cr, dr), t2i = _mm_add_pd(ci, di);
  const __m128d t3r = _mm_sub_pd(cr, dr), t3i = _mm_sub_pd(ci, di);
  _mm_storeu_pd(p.r0 + j, _mm_add_pd(t0r, t2r));
  _mm_storeu_pd(p.i0 + j, _mm_add_pd(t0i, t2i));
  _mm_storeu_pd(p.r2 + j, _mm_sub_pd(t0r, t2r));
  _mm_storeu_pd(p.i2 + j, _mm_sub_pd(t0i, t2i));
  _mm_storeu_pd(p.r1 + j, _mm_add_pd(t1r, t3i));
  _mm_storeu_pd(p.i1 + j, _mm_sub_pd(t1i, t3r));
  _mm_storeu_pd(p.r3 + j, _mm_sub_pd(t1r, t3i));
  _mm_storeu_pd(p.i3 + j, _mm_add_pd(t1i, t3r));
}

// The factor-free first step on four consecutive values.
inline void butterflyTime1(double* re, double* im) {
  const double t0r = re[0] + re[1], t0i = im[0] + im[1], t1r = re[0] - re[1], t1i = im[0] - im[1];
  const double t2r = re[2] + re[3], t2i = im[2] + im[3], t3r = re[2] - re[3], t3i = im[2] - im[3];
  re[0] = t0r + t2r, im[0] = t0i + t2i, re[2] = t0r - t2r, im[2] = t0i - t2i;
  re[1] = t1r + t3i, im[1] = t1i - t3r, re[3] = t1r - t3i, im[3] = t1i + t3r;
}

// In-place transform of n values given in bit-reversed order; the result in natural order.
void fastComplexFromBitReversed(double* re, double* im, int n) {
  const int log2n = log2Exact(n);
  int s = log2n % 2;
  if (s == 1) {
    for (ptrdiff_t g = 0; g < n; g += 2) {
      const double ar = re[g], ai = im[g], br = re[g + 1], bi = im[g + 1];
      re[g] = ar + br, im[g] = ai + bi, re[g + 1] = ar - br, im[g + 1] = ai - bi;
    }
  }
  for (s += 2; s <= log2n; s += 2) {
    const ptrdiff_t len = ptrdiff_t{1} << s, q = len / 4;
    if (q == 1) {
      for (ptrdiff_t g = 0; g < n; g += 4) butterflyTime1(re + g, im + g);
      continue;
    }
    const double* w = factorsOf(s);
    for (ptrdiff_t g = 0; g < n; g += len) {
      const Quad p{re + g, im + g, re + g + q, im + g + q, re + g + 2 * q, im + g + 2 * q, re + g + 3 * q, im + g + 3 * q};
      for (ptrdiff_t k = 0; k < q; k += 2) butterflyTime2(p, k, w, q);
    }
  }
}

inline __m128d swapLanes(__m128d v) { return _mm_shuffle_pd(v, v, 1); }

// Split of the half-length transform Z (natural order) of z[j] = x[2j] + i x[2j+1] into the
// real spectrum: X[k] = E + w^k O and X[h - k] = conj(E - w^k O), E = (Z[k] + conj Z[h-k]) / 2,
// O = -i (Z[k] - conj Z[h-k]) / 2, w = e^(-2 pi i / n), h = n / 2. Pairs of k at a time, the
// mirrored coefficients read and written with their lanes swapped.
void splitReal(const double* zr, const double* zi, double* outRe, double* outIm, int n) {
  const int h = n / 2;
  const double z0r = zr[0], z0i = zi[0];
  if (h == 1) {
    outRe[0] = z0r + z0i, outIm[0] = 0, outRe[1] = z0r - z0i, outIm[1] = 0;
    return;
  }
  const double midR = zr[h / 2], midI = zi[h / 2];
  // w^k for k < n / 4 is the first run of the span-n radix-4 factors.
  const double* wr = factorsOf(log2Exact(n));
  const double* wi = wr + n / 4;
  const __m128d half = _mm_set1_pd(0.5);
  int k = 1;
  for (; k + 1 < h / 2; k += 2) {
    const __m128d ar = _mm_loadu_pd(zr + k), ai = _mm_loadu_pd(zi + k);
    const __m128d br = swapLanes(_mm_loadu_pd(zr + h - k - 1)), bi = swapLanes(_mm_loadu_pd(zi + h - k - 1));
    const __m128d er = _mm_mul_pd(half, _mm_add_pd(ar, br)), ei = _mm_mul_pd(half, _mm_sub_pd(ai, bi));
    const __m128d orr = _mm_mul_pd(half, _mm_add_pd(ai, bi)), oi = _mm_mul_pd(half, _mm_sub_pd(br, ar));
    const __m128d fr = _mm_loadu_pd(wr + k), fi = _mm_loadu_pd(wi + k);
    const __m128d tr = mulRe(orr, oi, fr, fi), ti = mulIm(orr, oi, fr, fi);
    _mm_storeu_pd(outRe + k, _mm_add_pd(er, tr));
    _mm_storeu_pd(outIm + k, _mm_add_pd(ei, ti));
    _mm_storeu_pd(outRe + h - k - 1, swapLanes(_mm_sub_pd(er, tr)));
    _mm_storeu_pd(outIm + h - k - 1, swapLanes(_mm_sub_pd(ti, ei)));
  }
  for (; k < h / 2; ++k) {
    const double er = 0.5 * (zr[k] + zr[h - k]), ei = 0.5 * (zi[k] - zi[h - k]);
    const double orr = 0.5 * (zi[k] + zi[h - k]), oi = -0.5 * (zr[k] - zr[h - k]);
    const double tr = wr[k] * orr - wi[k] * oi, ti = wr[k] * oi + wi[k] * orr;
    outRe[k] = er + tr, outIm[k] = ei + ti;
    outRe[h - k] = er - tr, outIm[h - k] = ti - ei;
  }
  // Written last: outRe / outIm may be the z arrays themselves.
  outRe[0] = z0r + z0i, outIm[0] = 0;
  outRe[h] = z0r - z0i, outIm[h] = 0;
  outRe[h / 2] = midR, outIm[h / 2] = -midI;
}

template <class T>
void fastRealOf(const T* samples, double* outRe, double* outIm, int n, double* work) {
  const int h = n / 2, log2h = log2Exact(h);
  double* zr = work;
  double* zi = work + h;
  for (int j = 0; j < h; ++j) {
    const int from = 2 * bitReverse(j, log2h);
    zr[j] = samples[from], zi[j] = samples[from + 1];
  }
  fastComplexFromBitReversed(zr, zi, h);
  splitReal(zr, zi, outRe, outIm, n);
}

}  // namespace

void fastReal(const uint8_t* samples, double* outRe, double* outIm, int n, double* work) {
  fastRealOf(samples, outRe, outIm, n, work);
}
void fastReal(const double* samples, double* outRe, double* outIm, int n, double* work) {
  fastRealOf(samples, outRe, outIm, n, work);
}

void fastColumnsBitReversed(double* re, double* im, ptrdiff_t stride, int columns, int rows) {
  const int log2n = log2Exact(rows);
  const ptrdiff_t evenColumns = (columns + 1) & ~1;
  int s = log2n;
  for (; s >= 2; s -= 2) {
    const ptrdiff_t len = ptrdiff_t{1} << s, q = len / 4;
    const double* w = factorsOf(s);
    for (ptrdiff_t g = 0; g < rows; g += len) {
      for (ptrdiff_t k = 0; k < q; ++k) {
        const ptrdiff_t r = g + k;
        const Quad p{re + r * stride,       im + r * stride,       re + (r + q) * stride,     im + (r + q) * stride,
                     re + (r + 2 * q) * stride, im + (r + 2 * q) * stride, re + (r + 3 * q) * stride,
                     im + (r + 3 * q) * stride};
        const __m128d wr1 = _mm_set1_pd(w[k]), wi1 = _mm_set1_pd(w[q + k]);
        const __m128d wr2 = _mm_set1_pd(w[2 * q + k]), wi2 = _mm_set1_pd(w[3 * q + k]);
        const __m128d wr3 = _mm_set1_pd(w[4 * q + k]), wi3 = _mm_set1_pd(w[5 * q + k]);
        for (ptrdiff_t c = 0; c < evenColumns; c += 2) butterfly2(p, c, wr1, wi1, wr2, wi2, wr3, wi3);
      }
    }
  }
  if (s == 1) {
    for (ptrdiff_t g = 0; g < rows; g += 2) {
      double *ar = re + g * stride, *ai = im + g * stride, *br = ar + stride, *bi = ai + stride;
      for (ptrdiff_t c = 0; c < evenColumns; c += 2) {
        const __m128d xr = _mm_loadu_pd(ar + c), xi = _mm_loadu_pd(ai + c);
        const __m128d yr = _mm_loadu_pd(br + c), yi = _mm_loadu_pd(bi + c);
        _mm_storeu_pd(ar + c, _mm_add_pd(xr, yr));
        _mm_storeu_pd(ai + c, _mm_add_pd(xi, yi));
        _mm_storeu_pd(br + c, _mm_sub_pd(xr, yr));
        _mm_storeu_pd(bi + c, _mm_sub_pd(xi, yi));
      }
    }
  }
}

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
        b[0] = a[0] - tr, b[1] = a[1] - ti;
        a[0] += tr, a[1] += ti;
      }
      const double nr = wr * stepR - wi * stepI;
      wi = wr * stepI + wi * stepR;
      wr = nr;
    }
  }
}

namespace {

// Product of two values with 16 fraction bits in the second, rounded to nearest.
inline int64_t mul16(int64_t a, int64_t b) { return (a * b + 0x8000) >> 16; }

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
        b[0] = static_cast<int32_t>(ar - tr), b[1] = static_cast<int32_t>(ai - ti);
        a[0] = static_cast<int32_t>(ar + tr), a[1] = static_cast<int32_t>(ai + ti);
      }
      const int64_t nr = mul16(wr, stepR) - mul16(wi, stepI);
      wi = mul16(wr, stepI) + mul16(wi, stepR);
      wr = nr;
    }
  }
}

}  // namespace fft
