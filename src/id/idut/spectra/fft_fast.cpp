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
  store(p.r0 + j, t0r + t2r);
  store(p.i0 + j, t0i + t2i);
  store(p.r2 + j, t0r - t2r);
  store(p.i2 + j, t0i - t2i);
  store(p.r1 + j, t1r + t3i);
  store(p.i1 + j, t1i - t3r);
  store(p.r3 + j, t1r - t3i);
  store(p.i3 + j, t1i + t3r);
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
  store(p.r0 + j, t0r + t2r);
  store(p.i0 + j, t0i + t2i);
  const V ur = t0r - t2r, ui = t0i - t2i;
  store(p.r1 + j, ur * w[2] - ui * w[3]);
  store(p.i1 + j, ur * w[3] + ui * w[2]);
  const V vr = t1r + t3i, vi = t1i - t3r;
  store(p.r2 + j, vr * w[0] - vi * w[1]);
  store(p.i2 + j, vr * w[1] + vi * w[0]);
  const V xr = t1r - t3i, xi = t1i + t3r;
  store(p.r3 + j, xr * w[4] - xi * w[5]);
  store(p.i3 + j, xr * w[5] + xi * w[4]);
}

FFT_INLINE void butterflyTimeScalar(double* re, double* im) {
  const double t0r = re[0] + re[1], t0i = im[0] + im[1], t1r = re[0] - re[1], t1i = im[0] - im[1];
  const double t2r = re[2] + re[3], t2i = im[2] + im[3], t3r = re[2] - re[3], t3i = im[2] - im[3];
  re[0] = t0r + t2r;
  im[0] = t0i + t2i;
  re[2] = t0r - t2r;
  im[2] = t0i - t2i;
  re[1] = t1r + t3i;
  im[1] = t1i - t3r;
  re[3] = t1r - t3i;
  im[3] = t1i + t3r;
}

FFT_INLINE Quad quadAt(double* re, double* im, ptrdiff_t g, ptrdiff_t q, ptrdiff_t stride) {
  return Quad{re + g * stride,           im + g * stride,           re + (g + q) * stride,     im + (g + q) * stride,
              re + (g + 2 * q) * stride, im + (g + 2 * q) * stride, re + (g + 3 * q) * stride, im + (g + 3 * q) * stride};
}

// In-place transform of n values given in bit-reversed order, whose steps up to span 2^(s0-1)
// are done already (s0 - 1 of the same parity as log2 n); the result in natural order. Spans
// with fewer factors a run than V has lanes take the two-lane step.
template <class V>
FFT_INLINE void complexFromSpan(double* re, double* im, int n, int s0) {
  constexpr ptrdiff_t lanes = sizeof(V) / sizeof(double);
  const int log2n = log2Exact(n);
  for (int s = s0; s <= log2n; s += 2) {
    const ptrdiff_t len = ptrdiff_t{1} << s, q = len / 4;
    const double* w = factorsOf(s);
    for (ptrdiff_t g = 0; g < n; g += len) {
      const Quad p = quadAt(re, im, g, q, 1);
      if (q < lanes) {
        for (ptrdiff_t k = 0; k < q; k += 2) butterflyTime<V2>(p, k, w, q);
      } else {
        // Unrolled by two, as the split below: GCC's -O2 code for the two loops ran the 1024- and
        // 4096-point transforms about a sixth faster so.
#pragma GCC unroll 2
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
    re[0] = x[0];
    im[0] = x[1];
  } else if (log2h % 2 == 1) {
    for (int g = 0; g < h; g += 2) {
      const int r = 2 * bitReverse(g, log2h), r1 = r + h;
      const double ar = x[r], ai = x[r + 1], br = x[r1], bi = x[r1 + 1];
      re[g] = ar + br;
      im[g] = ai + bi;
      re[g + 1] = ar - br;
      im[g + 1] = ai - bi;
    }
  } else {
    for (int g = 0; g < h; g += 4) {
      const int r = 2 * bitReverse(g, log2h);
      double vr[4], vi[4];
      const int at[4] = {r, r + h, r + h / 2, r + 3 * h / 2};
      for (int i = 0; i < 4; ++i) {
        vr[i] = x[at[i]];
        vi[i] = x[at[i] + 1];
      }
      butterflyTimeScalar(vr, vi);
      for (int i = 0; i < 4; ++i) re[g + i] = vr[i], im[g + i] = vi[i];
    }
  }
}

// Lane shuffles: unpacking the low and the high double of each 128-bit half.
#if defined(__clang__) || __GNUC__ >= 12
FFT_INLINE V2 unpackLow(const V2& a, const V2& b) { return __builtin_shufflevector(a, b, 0, 2); }
FFT_INLINE V2 unpackHigh(const V2& a, const V2& b) { return __builtin_shufflevector(a, b, 1, 3); }
FFT_INLINE V4 unpackLow(const V4& a, const V4& b) { return __builtin_shufflevector(a, b, 0, 4, 2, 6); }
FFT_INLINE V4 unpackHigh(const V4& a, const V4& b) { return __builtin_shufflevector(a, b, 1, 5, 3, 7); }
FFT_INLINE V4 lowHalves(const V4& a, const V4& b) { return __builtin_shufflevector(a, b, 0, 1, 4, 5); }
FFT_INLINE V4 highHalves(const V4& a, const V4& b) { return __builtin_shufflevector(a, b, 2, 3, 6, 7); }
#else
FFT_INLINE V2 unpackLow(const V2& a, const V2& b) { return __builtin_shuffle(a, b, I2{0, 2}); }
FFT_INLINE V2 unpackHigh(const V2& a, const V2& b) { return __builtin_shuffle(a, b, I2{1, 3}); }
FFT_INLINE V4 unpackLow(const V4& a, const V4& b) { return __builtin_shuffle(a, b, I4{0, 4, 2, 6}); }
FFT_INLINE V4 unpackHigh(const V4& a, const V4& b) { return __builtin_shuffle(a, b, I4{1, 5, 3, 7}); }
FFT_INLINE V4 lowHalves(const V4& a, const V4& b) { return __builtin_shuffle(a, b, I4{0, 1, 4, 5}); }
FFT_INLINE V4 highHalves(const V4& a, const V4& b) { return __builtin_shuffle(a, b, I4{2, 3, 6, 7}); }
#endif

// Rows of a square block of lane vectors turned into its columns, in place.
FFT_INLINE void transpose(V2* v) {
  const V2 a = unpackLow(v[0], v[1]), b = unpackHigh(v[0], v[1]);
  v[0] = a;
  v[1] = b;
}
FFT_INLINE void transpose(V4* v) {
  const V4 a = unpackLow(v[0], v[1]), b = unpackHigh(v[0], v[1]), c = unpackLow(v[2], v[3]), d = unpackHigh(v[2], v[3]);
  v[0] = lowHalves(a, c);
  v[1] = lowHalves(b, d);
  v[2] = highHalves(a, c);
  v[3] = highHalves(b, d);
}

template <class V, class T>
FFT_INLINE V loadAs(const T* p) {
  if constexpr (sizeof(T) == sizeof(double)) {
    return load<V>(p);
  } else {
    V v;
    for (size_t i = 0; i < sizeof(V) / sizeof(double); ++i) v[i] = p[i];
    return v;
  }
}

// The first three steps (spans 2, 4 and 8) for h = 2^k, k odd, h >= 8 lanes, fused into one pass
// with a group of eight outputs in each lane. Group g (outputs 8g .. 8g+7) reads z at
// r + t h/8, t = 0 .. 7, with r the reversal of g over log2(h/8) bits, so the groups g + j h/8L,
// j < lanes, read lanes consecutive values of z at each t: two vectors of x, whose unpacking
// gives real and imaginary parts with group g + j h/8L in lane j. A transpose on the way out
// puts each group's outputs back together.
template <class V, class T>
FFT_INLINE void loadFirstThreeSteps(const T* x, double* re, double* im, int h) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  constexpr int at[8] = {0, 4, 2, 6, 1, 5, 3, 7};  // output position i reads z at r + at[i] h/8
  const int groups = h / 8, log2g = log2Exact(groups), apart = groups / lanes;
  const V c = broadcast<V>(kStageCos[2]);  // cos(pi / 4)
  for (int g = 0; g < apart; ++g) {
    const int r = bitReverse(g, log2g);
    V qr[8], qi[8];
    for (int i = 0; i < 8; i += 2) {
      const T* a = x + 2 * (r + at[i] * groups);
      const T* b = x + 2 * (r + at[i + 1] * groups);
      const V a0 = loadAs<V>(a), a1 = loadAs<V>(a + lanes), b0 = loadAs<V>(b), b1 = loadAs<V>(b + lanes);
      const V ar = unpackLow(a0, a1), ai = unpackHigh(a0, a1), br = unpackLow(b0, b1), bi = unpackHigh(b0, b1);
      qr[i] = ar + br;
      qi[i] = ai + bi;
      qr[i + 1] = ar - br;
      qi[i + 1] = ai - bi;
    }
    // Span 8, as butterflyTime: the factors of k = 0 are 1, those of k = 1 are w, -i and w^3
    // with w = (1 - i) cos(pi / 4).
    V outR[8], outI[8];
    const V br[2] = {qr[2], qi[3]}, bi[2] = {qi[2], -qr[3]};
    const V cr[2] = {qr[4], c * (qr[5] + qi[5])}, ci[2] = {qi[4], c * (qi[5] - qr[5])};
    const V dr[2] = {qr[6], c * (qi[7] - qr[7])}, di[2] = {qi[6], -c * (qr[7] + qi[7])};
    for (int k = 0; k < 2; ++k) {
      const V t0r = qr[k] + br[k], t0i = qi[k] + bi[k], t1r = qr[k] - br[k], t1i = qi[k] - bi[k];
      const V t2r = cr[k] + dr[k], t2i = ci[k] + di[k], t3r = cr[k] - dr[k], t3i = ci[k] - di[k];
      outR[k] = t0r + t2r;
      outI[k] = t0i + t2i;
      outR[k + 4] = t0r - t2r;
      outI[k + 4] = t0i - t2i;
      outR[k + 2] = t1r + t3i, outI[k + 2] = t1i - t3r, outR[k + 6] = t1r - t3i, outI[k + 6] = t1i + t3r;
    }
    for (int b = 0; b < 8; b += lanes) {
      transpose(outR + b);
      transpose(outI + b);
      for (int j = 0; j < lanes; ++j) {
        const ptrdiff_t o = 8 * (g + ptrdiff_t{j} * apart) + b;
        store(re + o, outR[b + j]);
        store(im + o, outI[b + j]);
      }
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
  outRe[0] = zr[0] + zi[0];
  outIm[0] = 0;
  outRe[h] = zr[0] - zi[0];
  outIm[h] = 0;
  if (h == 1) return;
  outRe[h / 2] = zr[h / 2], outIm[h / 2] = -zi[h / 2];
  // w^k for k < n / 4 is the first run of the span-n radix-4 factors.
  const double* wr = factorsOf(log2Exact(n));
  const double* wi = wr + n / 4;
  const V half = broadcast<V>(0.5);
  int k = 1;
#pragma GCC unroll 2
  for (; k + lanes <= h / 2; k += lanes) {
    const V ar = load<V>(zr + k), ai = load<V>(zi + k);
    const V br = reversed(load<V>(zr + h - k - (lanes - 1))), bi = reversed(load<V>(zi + h - k - (lanes - 1)));
    const V er = half * (ar + br), ei = half * (ai - bi), orr = half * (ai + bi), oi = half * (br - ar);
    const V fr = load<V>(wr + k), fi = load<V>(wi + k);
    const V tr = orr * fr - oi * fi, ti = orr * fi + oi * fr;
    store(outRe + k, er + tr);
    store(outIm + k, ei + ti);
    store(outRe + h - k - (lanes - 1), reversed(er - tr));
    store(outIm + h - k - (lanes - 1), reversed(ti - ei));
  }
  for (; k < h / 2; ++k) {
    const double er = 0.5 * (zr[k] + zr[h - k]), ei = 0.5 * (zi[k] - zi[h - k]);
    const double orr = 0.5 * (zi[k] + zi[h - k]), oi = -0.5 * (zr[k] - zr[h - k]);
    const double tr = wr[k] * orr - wi[k] * oi, ti = wr[k] * oi + wi[k] * orr;
    outRe[k] = er + tr;
    outIm[k] = ei + ti;
    outRe[h - k] = er - tr, outIm[h - k] = ti - ei;
  }
}

template <class V, class T>
FFT_INLINE void real(const T* samples, double* outRe, double* outIm, int n, double* work) {
  const int h = n / 2;
  double* zr = work;
  double* zi = work + h;
  const int log2h = log2Exact(h);
  constexpr int lanes = sizeof(V) / sizeof(double);
  if (log2h % 2 == 1 && h >= 8 * lanes) {
    loadFirstThreeSteps<V>(samples, zr, zi, h);
    complexFromSpan<V>(zr, zi, h, 5);
  } else {
    loadFirstStep(samples, zr, zi, h);
    complexFromSpan<V>(zr, zi, h, log2h % 2 == 1 ? 3 : 4);
  }
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
        store(ar + c, xr + yr);
        store(ai + c, xi + yi);
        store(br + c, xr - yr);
        store(bi + c, xi - yi);
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
