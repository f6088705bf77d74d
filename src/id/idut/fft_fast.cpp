// The fast transform kernels, written once over a vector of doubles and built twice: lanes of
// two (the x86-64 baseline) and lanes of four (AVX2 with FMA), picked at run time.
#include <cstring>

#include "fft_kernels.hpp"

// Four-lane vectors pass through small helpers that are always inlined into the AVX2 builds, so
// no call with them crosses the non-AVX calling convention this warning is about.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace fft {

namespace {

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef long long I2 __attribute__((vector_size(16)));
typedef long long I4 __attribute__((vector_size(32)));

#define FFT_INLINE inline __attribute__((always_inline))

template <class V>
FFT_INLINE V load(const double* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V>
FFT_INLINE void store(double* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}
template <class V>
FFT_INLINE V broadcast(double x) {
  V v{};
  for (size_t i = 0; i < sizeof(V) / sizeof(double); ++i) v[i] = x;
  return v;
}
// GCC and clang spell the lane shuffle differently (the fuzz builds use clang).
#if defined(__clang__)
FFT_INLINE V2 reversed(const V2& v) { return __builtin_shufflevector(v, v, 1, 0); }
FFT_INLINE V4 reversed(const V4& v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); }
#else
FFT_INLINE V2 reversed(const V2& v) { return __builtin_shuffle(v, I2{1, 0}); }
FFT_INLINE V4 reversed(const V4& v) { return __builtin_shuffle(v, I4{3, 2, 1, 0}); }
#endif

struct Quad {
  double *r0, *i0, *r1, *i1, *r2, *i2, *r3, *i3;
};

// Radix-4 step of decimation in time (two radix-2 steps fused, inputs in bit-reversed order):
// with B = b w^2k, C = c w^k, D = d w^3k, t0 = a + B, t1 = a - B, t2 = C + D, t3 = C - D,
//   a' = t0 + t2,  b' = t1 - i t3,  c' = t0 - t2,  d' = t1 + i t3.
//
// Everything a four-lane step calls must be inlined into it: an out-of-line helper (a lambda
// has no target attribute) is compiled for the baseline, which returns a four-lane vector in
// memory while the AVX2 caller reads it from a register, and the transform comes out wrong
// whenever the compiler does not inline (unoptimised builds).
template <class V>
FFT_INLINE void butterflyTime(const Quad& p, ptrdiff_t j, const double* w, ptrdiff_t q) {
  const V wr1 = load<V>(w + j), wi1 = load<V>(w + q + j), wr2 = load<V>(w + 2 * q + j), wi2 = load<V>(w + 3 * q + j);
  const V wr3 = load<V>(w + 4 * q + j), wi3 = load<V>(w + 5 * q + j);
  const V ar = load<V>(p.r0 + j), ai = load<V>(p.i0 + j), xr = load<V>(p.r1 + j), xi = load<V>(p.i1 + j);
  const V yr = load<V>(p.r2 + j), yi = load<V>(p.i2 + j), zr = load<V>(p.r3 + j), zi = load<V>(p.i3 + j);
  const V br = xr * wr2 - xi * wi2, bi = xr * wi2 + xi * wr2;
  const V cr = yr * wr1 - yi * wi1, ci = yr * wi1 + yi * wr1;
  const V dr = zr * wr3 - zi * wi3, di = zr * wi3 + zi * wr3;
  const V t0r = ar + br, t0i = ai + bi, t1r = ar - br, t1i = ai - bi;
  const V t2r = cr + dr, t2i = ci + di, t3r = cr - dr, t3i = ci - di;
  store(p.r0 + j, t0r + t2r), store(p.i0 + j, t0i + t2i);
  store(p.r2 + j, t0r - t2r), store(p.i2 + j, t0i - t2i);
  store(p.r1 + j, t1r + t3i), store(p.i1 + j, t1i - t3r);
  store(p.r3 + j, t1r - t3i), store(p.i3 + j, t1i + t3r);
}

// Radix-4 step of decimation in frequency with one factor triple for all lanes (the column
// pass, where lanes are columns): with t0 = a + c, t1 = a - c, t2 = b + d, t3 = b - d,
//   a' = t0 + t2,  b' = (t0 - t2) w^2k,  c' = (t1 - i t3) w^k,  d' = (t1 + i t3) w^3k.
template <class V>
FFT_INLINE void butterflyFrequency(const Quad& p, ptrdiff_t j, const V (&w)[6]) {
  const V ar = load<V>(p.r0 + j), ai = load<V>(p.i0 + j), br = load<V>(p.r1 + j), bi = load<V>(p.i1 + j);
  const V cr = load<V>(p.r2 + j), ci = load<V>(p.i2 + j), dr = load<V>(p.r3 + j), di = load<V>(p.i3 + j);
  const V t0r = ar + cr, t0i = ai + ci, t1r = ar - cr, t1i = ai - ci;
  const V t2r = br + dr, t2i = bi + di, t3r = br - dr, t3i = bi - di;
  store(p.r0 + j, t0r + t2r), store(p.i0 + j, t0i + t2i);
  const V ur = t0r - t2r, ui = t0i - t2i;
  store(p.r1 + j, ur * w[2] - ui * w[3]), store(p.i1 + j, ur * w[3] + ui * w[2]);
  const V vr = t1r + t3i, vi = t1i - t3r;
  store(p.r2 + j, vr * w[0] - vi * w[1]), store(p.i2 + j, vr * w[1] + vi * w[0]);
  const V xr = t1r - t3i, xi = t1i + t3r;
  store(p.r3 + j, xr * w[4] - xi * w[5]), store(p.i3 + j, xr * w[5] + xi * w[4]);
}

FFT_INLINE void butterflyTimeScalar(double* re, double* im) {
  const double t0r = re[0] + re[1], t0i = im[0] + im[1], t1r = re[0] - re[1], t1i = im[0] - im[1];
  const double t2r = re[2] + re[3], t2i = im[2] + im[3], t3r = re[2] - re[3], t3i = im[2] - im[3];
  re[0] = t0r + t2r, im[0] = t0i + t2i, re[2] = t0r - t2r, im[2] = t0i - t2i;
  re[1] = t1r + t3i, im[1] = t1i - t3r, re[3] = t1r - t3i, im[3] = t1i + t3r;
}

FFT_INLINE Quad quadAt(double* re, double* im, ptrdiff_t g, ptrdiff_t q, ptrdiff_t stride) {
  return Quad{re + g * stride,           im + g * stride,           re + (g + q) * stride,     im + (g + q) * stride,
              re + (g + 2 * q) * stride, im + (g + 2 * q) * stride, re + (g + 3 * q) * stride, im + (g + 3 * q) * stride};
}

// In-place transform of n values given in bit-reversed order, whose first step (radix 2 for an
// odd log2 n, else radix 4) is done already; the result in natural order. Spans with fewer
// factors a run than V has lanes take the two-lane step.
template <class V>
FFT_INLINE void complexAfterFirstStep(double* re, double* im, int n) {
  constexpr ptrdiff_t lanes = sizeof(V) / sizeof(double);
  const int log2n = log2Exact(n);
  for (int s = log2n % 2 == 1 ? 3 : 4; s <= log2n; s += 2) {
    const ptrdiff_t len = ptrdiff_t{1} << s, q = len / 4;
    const double* w = factorsOf(s);
    for (ptrdiff_t g = 0; g < n; g += len) {
      const Quad p = quadAt(re, im, g, q, 1);
      if (q < lanes) {
        for (ptrdiff_t k = 0; k < q; k += 2) butterflyTime<V2>(p, k, w, q);
      } else {
        for (ptrdiff_t k = 0; k < q; k += lanes) butterflyTime<V>(p, k, w, q);
      }
    }
  }
}

// Loads z[j] = x[2j] + i x[2j+1] in bit-reversed order and runs the first step on the way:
// positions g, g+1, g+2, g+3 of a group hold z at r, r + h/2, r + h/4, r + 3h/4 (r the reversal
// of g), so each group is read where it lies.
template <class T>
FFT_INLINE void loadFirstStep(const T* x, double* re, double* im, int h) {
  const int log2h = log2Exact(h);
  if (h == 1) {
    re[0] = x[0], im[0] = x[1];
  } else if (log2h % 2 == 1) {
    for (int g = 0; g < h; g += 2) {
      const int r = 2 * bitReverse(g, log2h), r1 = r + h;
      const double ar = x[r], ai = x[r + 1], br = x[r1], bi = x[r1 + 1];
      re[g] = ar + br, im[g] = ai + bi, re[g + 1] = ar - br, im[g + 1] = ai - bi;
    }
  } else {
    for (int g = 0; g < h; g += 4) {
      const int r = 2 * bitReverse(g, log2h);
      double vr[4], vi[4];
      const int at[4] = {r, r + h, r + h / 2, r + 3 * h / 2};
      for (int i = 0; i < 4; ++i) vr[i] = x[at[i]], vi[i] = x[at[i] + 1];
      butterflyTimeScalar(vr, vi);
      for (int i = 0; i < 4; ++i) re[g + i] = vr[i], im[g + i] = vi[i];
    }
  }
}

// Split of the half-length transform Z (natural order) of z[j] = x[2j] + i x[2j+1] into the
// real spectrum: X[k] = E + w^k O and X[h - k] = conj(E - w^k O), E = (Z[k] + conj Z[h-k]) / 2,
// O = -i (Z[k] - conj Z[h-k]) / 2, w = e^(-2 pi i / n), h = n / 2. A vector of k at a time,
// the mirrored coefficients read and written with their lanes reversed.
template <class V>
FFT_INLINE void splitReal(const double* zr, const double* zi, double* outRe, double* outIm, int n) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  const int h = n / 2;
  outRe[0] = zr[0] + zi[0], outIm[0] = 0;
  outRe[h] = zr[0] - zi[0], outIm[h] = 0;
  if (h == 1) return;
  outRe[h / 2] = zr[h / 2], outIm[h / 2] = -zi[h / 2];
  // w^k for k < n / 4 is the first run of the span-n radix-4 factors.
  const double* wr = factorsOf(log2Exact(n));
  const double* wi = wr + n / 4;
  const V half = broadcast<V>(0.5);
  int k = 1;
  for (; k + lanes <= h / 2; k += lanes) {
    const V ar = load<V>(zr + k), ai = load<V>(zi + k);
    const V br = reversed(load<V>(zr + h - k - (lanes - 1))), bi = reversed(load<V>(zi + h - k - (lanes - 1)));
    const V er = half * (ar + br), ei = half * (ai - bi), orr = half * (ai + bi), oi = half * (br - ar);
    const V fr = load<V>(wr + k), fi = load<V>(wi + k);
    const V tr = orr * fr - oi * fi, ti = orr * fi + oi * fr;
    store(outRe + k, er + tr), store(outIm + k, ei + ti);
    store(outRe + h - k - (lanes - 1), reversed(er - tr)), store(outIm + h - k - (lanes - 1), reversed(ti - ei));
  }
  for (; k < h / 2; ++k) {
    const double er = 0.5 * (zr[k] + zr[h - k]), ei = 0.5 * (zi[k] - zi[h - k]);
    const double orr = 0.5 * (zi[k] + zi[h - k]), oi = -0.5 * (zr[k] - zr[h - k]);
    const double tr = wr[k] * orr - wi[k] * oi, ti = wr[k] * oi + wi[k] * orr;
    outRe[k] = er + tr, outIm[k] = ei + ti;
    outRe[h - k] = er - tr, outIm[h - k] = ti - ei;
  }
}

template <class V, class T>
FFT_INLINE void real(const T* samples, double* outRe, double* outIm, int n, double* work) {
  const int h = n / 2;
  double* zr = work;
  double* zi = work + h;
  loadFirstStep(samples, zr, zi, h);
  complexAfterFirstStep<V>(zr, zi, h);
  splitReal<V>(zr, zi, outRe, outIm, n);
}

// Column transforms by decimation in frequency over whole rows: every step combines four rows
// with one factor triple, lanes running along the row.
template <class V>
FFT_INLINE void columns(double* re, double* im, ptrdiff_t stride, int count, int rows) {
  constexpr ptrdiff_t lanes = sizeof(V) / sizeof(double);
  const int log2n = log2Exact(rows);
  const ptrdiff_t even = (count + 1) & ~1;
  const ptrdiff_t wide = even / lanes * lanes;
  int s = log2n;
  for (; s >= 2; s -= 2) {
    const ptrdiff_t len = ptrdiff_t{1} << s, q = len / 4;
    const double* f = factorsOf(s);
    for (ptrdiff_t g = 0; g < rows; g += len) {
      for (ptrdiff_t k = 0; k < q; ++k) {
        const Quad p = quadAt(re, im, g + k, q, stride);
        const V w[6] = {broadcast<V>(f[k]),         broadcast<V>(f[q + k]),     broadcast<V>(f[2 * q + k]),
                        broadcast<V>(f[3 * q + k]), broadcast<V>(f[4 * q + k]), broadcast<V>(f[5 * q + k])};
        ptrdiff_t c = 0;
        for (; c < wide; c += lanes) butterflyFrequency<V>(p, c, w);
        if (c < even) {
          const V2 w2[6] = {broadcast<V2>(f[k]),         broadcast<V2>(f[q + k]),     broadcast<V2>(f[2 * q + k]),
                            broadcast<V2>(f[3 * q + k]), broadcast<V2>(f[4 * q + k]), broadcast<V2>(f[5 * q + k])};
          for (; c < even; c += 2) butterflyFrequency<V2>(p, c, w2);
        }
      }
    }
  }
  if (s == 1) {
    for (ptrdiff_t g = 0; g < rows; g += 2) {
      double *ar = re + g * stride, *ai = im + g * stride, *br = ar + stride, *bi = ai + stride;
      for (ptrdiff_t c = 0; c < even; c += 2) {
        const V2 xr = load<V2>(ar + c), xi = load<V2>(ai + c), yr = load<V2>(br + c), yi = load<V2>(bi + c);
        store(ar + c, xr + yr), store(ai + c, xi + yi), store(br + c, xr - yr), store(bi + c, xi - yi);
      }
    }
  }
}

// ---- the two builds -------------------------------------------------------------------------

void real2(const double* x, double* re, double* im, int n, double* work) { real<V2>(x, re, im, n, work); }
void real2(const uint8_t* x, double* re, double* im, int n, double* work) { real<V2>(x, re, im, n, work); }
void columns2(double* re, double* im, ptrdiff_t stride, int count, int rows) { columns<V2>(re, im, stride, count, rows); }

__attribute__((target("avx2,fma"))) void real4(const double* x, double* re, double* im, int n, double* work) {
  real<V4>(x, re, im, n, work);
}
__attribute__((target("avx2,fma"))) void real4(const uint8_t* x, double* re, double* im, int n, double* work) {
  real<V4>(x, re, im, n, work);
}
__attribute__((target("avx2,fma"))) void columns4(double* re, double* im, ptrdiff_t stride, int count, int rows) {
  columns<V4>(re, im, stride, count, rows);
}

bool wideLanes(Lanes lanes) {
  if (lanes != Lanes::best) return lanes == Lanes::four;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

}  // namespace

void fastReal(const uint8_t* samples, double* outRe, double* outIm, int n, double* work) {
  wideLanes(Lanes::best) ? real4(samples, outRe, outIm, n, work) : real2(samples, outRe, outIm, n, work);
}
void fastReal(const double* samples, double* outRe, double* outIm, int n, double* work) {
  fastReal(samples, outRe, outIm, n, work, Lanes::best);
}
void fastReal(const double* samples, double* outRe, double* outIm, int n, double* work, Lanes lanes) {
  wideLanes(lanes) ? real4(samples, outRe, outIm, n, work) : real2(samples, outRe, outIm, n, work);
}
void fastColumnsBitReversed(double* re, double* im, ptrdiff_t stride, int count, int rows) {
  fastColumnsBitReversed(re, im, stride, count, rows, Lanes::best);
}
void fastColumnsBitReversed(double* re, double* im, ptrdiff_t stride, int count, int rows, Lanes lanes) {
  wideLanes(lanes) ? columns4(re, im, stride, count, rows) : columns2(re, im, stride, count, rows);
}

}  // namespace fft
