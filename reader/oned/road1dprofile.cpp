#include "reader/oned/road1dprofile.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "reader/oned/road1d.hpp"

namespace road1d {

// A profile's every sample rounded its place twice with std::lround, a library call. Beyond 1 a
// value's integer part is at least half of it, so the fraction left is exact, and a half rounds
// up as lround rounds it.
int roundNonNegative(double v) {
  const int whole = static_cast<int>(v);
  return whole + (v - whole >= 0.5 ? 1 : 0);
}

namespace {

constexpr int kMaxTaps = 64;  // taps across the line with offsets in tables; more go the clamped way
constexpr int kBits = 12, kOne = 1 << kBits;

// One tap's bilinear grey in fixed point, times 2^24: the top pair's and the bottom pair's
// greys weighted by the tap's fraction across, then the two by its fraction down.
inline int64_t fixedPointTap(const uint8_t* pixels, ptrdiff_t stride, int x, int y) {
  const int fx = x & (kOne - 1), fy = y & (kOne - 1);
  const uint8_t* p = pixels + static_cast<ptrdiff_t>(y >> kBits) * stride + (x >> kBits);
  const int top = p[0] * kOne + fx * (p[1] - p[0]);
  const int bottom = p[stride] * kOne + fx * (p[stride + 1] - p[stride]);
  return static_cast<int64_t>(top) * kOne + static_cast<int64_t>(fy) * (bottom - top);
}

#if defined(__SSE2__)
// The sum of fixedPointTap over four taps at once (the integers are the same, summed in another
// order), for windows under 32768 pixels a side and a row: a tap's pixel index, row * stride +
// column, is then a 16-bit multiply-add too. A pair's grey is p0 (4096 - fx) + p1 fx, a 16-bit
// multiply-add of the pair by the weights; a tap's is then top (4096 - fy) + bottom fy, up to
// 2^32, too wide for 16-bit factors, so top and bottom go in as their high and low 10 bits: the
// sum is high * 1024 + low.
class FourTaps {
 public:
  static bool fits(const cimg_windowConst& w) { return w.stride < 32768 && w.width <= w.stride && w.height < 32768; }
  FourTaps(const uint8_t* pixels, int stride)
      : pixels_(pixels), stride_(stride), indexWeights_(_mm_set1_epi32(1 | stride << 16)) {}
  [[gnu::always_inline]] void add(int cx, int cy, const int* offsetX, const int* offsetY) {
    const __m128i x = _mm_add_epi32(_mm_set1_epi32(cx), _mm_load_si128(reinterpret_cast<const __m128i*>(offsetX)));
    const __m128i y = _mm_add_epi32(_mm_set1_epi32(cy), _mm_load_si128(reinterpret_cast<const __m128i*>(offsetY)));
    const __m128i fraction = _mm_set1_epi32(kOne - 1), one = _mm_set1_epi32(kOne);
    const __m128i fx = _mm_and_si128(x, fraction), fy = _mm_and_si128(y, fraction);
    // (column, row) as 16-bit pairs against (1, stride).
    const __m128i place = _mm_or_si128(_mm_srai_epi32(x, kBits), _mm_slli_epi32(_mm_srai_epi32(y, kBits), 16));
    alignas(16) int32_t index[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_madd_epi16(place, indexWeights_));
    // Each tap's two pixel pairs as 16-bit words (left pixel in the low byte).
    __m128i topPairs = _mm_setzero_si128(), bottomPairs = _mm_setzero_si128();
    const uint8_t* p = pixels_ + index[0];
    topPairs = _mm_insert_epi16(topPairs, p[0] | p[1] << 8, 0);
    bottomPairs = _mm_insert_epi16(bottomPairs, p[stride_] | p[stride_ + 1] << 8, 0);
    p = pixels_ + index[1];
    topPairs = _mm_insert_epi16(topPairs, p[0] | p[1] << 8, 1);
    bottomPairs = _mm_insert_epi16(bottomPairs, p[stride_] | p[stride_ + 1] << 8, 1);
    p = pixels_ + index[2];
    topPairs = _mm_insert_epi16(topPairs, p[0] | p[1] << 8, 2);
    bottomPairs = _mm_insert_epi16(bottomPairs, p[stride_] | p[stride_ + 1] << 8, 2);
    p = pixels_ + index[3];
    topPairs = _mm_insert_epi16(topPairs, p[0] | p[1] << 8, 3);
    bottomPairs = _mm_insert_epi16(bottomPairs, p[stride_] | p[stride_ + 1] << 8, 3);
    const __m128i zero = _mm_setzero_si128();
    // Per tap, in 32 bits: (4096 - fx, fx) as 16-bit weights against (p0, p1).
    const __m128i across = _mm_or_si128(_mm_sub_epi32(one, fx), _mm_slli_epi32(fx, 16));
    const __m128i top = _mm_madd_epi16(_mm_unpacklo_epi8(topPairs, zero), across);
    const __m128i bottom = _mm_madd_epi16(_mm_unpacklo_epi8(bottomPairs, zero), across);
    const __m128i down = _mm_or_si128(_mm_sub_epi32(one, fy), _mm_slli_epi32(fy, 16));
    const __m128i lowBits = _mm_set1_epi32(1023);
    const __m128i high = _mm_or_si128(_mm_srli_epi32(top, 10), _mm_slli_epi32(_mm_srli_epi32(bottom, 10), 16));
    const __m128i low = _mm_or_si128(_mm_and_si128(top, lowBits), _mm_slli_epi32(_mm_and_si128(bottom, lowBits), 16));
    high_ = _mm_add_epi32(high_, _mm_madd_epi16(high, down));
    low_ = _mm_add_epi32(low_, _mm_madd_epi16(low, down));
  }
  int64_t sum() const {
    // The lanes together fit 32 bits: 4096 x 1023 a tap, kMaxTaps taps at the most.
    return static_cast<int64_t>(lanesSum(high_)) * 1024 + lanesSum(low_);
  }

 private:
  static int32_t lanesSum(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
  }
  const uint8_t* pixels_;
  ptrdiff_t stride_;
  __m128i indexWeights_;
  __m128i high_ = _mm_setzero_si128(), low_ = _mm_setzero_si128();
};
#endif

// One sample's taps in fixed point (1/4096 pixel, weights of 12 bits), every pixel inside the
// window: cx, cy the sample's place less half a pixel, the taps at the given offsets from it.
// Taps is a constant for the usual counts, so that the loops unroll; kFour takes them four at once.
template <int kTaps, bool kFour>
double fixedPointSample(const cimg_windowConst& w, int cx, int cy, const int* offsetX, const int* offsetY, int taps,
                        double scale) {
  const int count = kTaps > 0 ? kTaps : taps;
  const uint8_t* pixels = w.pixels;
  const ptrdiff_t stride = w.stride;
  int64_t acc = 0;
  int t = 0;
#if defined(__SSE2__)
  if constexpr (kFour) {
    FourTaps four(pixels, w.stride);
#pragma GCC unroll 4
    for (; t + 4 <= count; t += 4) four.add(cx, cy, offsetX + t, offsetY + t);
    acc = four.sum();
  }
#endif
#pragma GCC unroll 16
  for (; t < count; ++t) acc += fixedPointTap(pixels, stride, cx + offsetX[t], cy + offsetY[t]);
  return static_cast<double>(acc) * (scale / (static_cast<double>(kOne) * kOne));
}

// The samples [begin, end) of the line, all inside, the taps' count made a constant where the
// usual tap heights give one.
template <int kTaps, bool kFour>
void fixedPointSamples(const cimg_windowConst& w, double x0, double y0, double ux, double uy, int begin, int end,
                       const int* offsetX, const int* offsetY, int taps, double scale, double* out) {
  for (int i = begin; i < end; ++i) {
    const double px = x0 + ux * i * kStep, py = y0 + uy * i * kStep;
    // Both are above 0.1 pixel here.
    const int cx = roundNonNegative((px - 0.5) * kOne), cy = roundNonNegative((py - 0.5) * kOne);
    out[i] = fixedPointSample<kTaps, kFour>(w, cx, cy, offsetX, offsetY, taps, scale);
  }
}

// The same with the taps' count a constant for the road's half-heights of 1.5 and 5 pixels,
// 5 and 15 taps.
template <bool kFour>
void fixedPointRange(const cimg_windowConst& w, double x0, double y0, double ux, double uy, int begin, int end,
                     const int* offsetX, const int* offsetY, int taps, double scale, double* out) {
  if (taps == 5)
    fixedPointSamples<5, kFour>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, out);
  else if (taps == 15)
    fixedPointSamples<15, kFour>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, out);
  else
    fixedPointSamples<0, kFour>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, out);
}

}  // namespace

// Sampled in doubles rather than by the library's line pixels, whose 8-bit bilinear weights lost a
// read on a set of generated scenes.
std::vector<double> lineProfile(const cimg_windowConst& w, double x0, double y0, double x1, double y1,
                                double halfHeight, InsideSamples* inside) {
  if (inside) *inside = {};
  const double length = std::hypot(x1 - x0, y1 - y0);
  if (!(length > 4 * kStep)) return {};
  const double ux = (x1 - x0) / length, uy = (y1 - y0) / length;
  const int n = static_cast<int>(length / kStep) + 1;
  const int across = std::max(2, static_cast<int>(halfHeight / 0.75 + 0.5));
  const double spacing = halfHeight / across;
  std::vector<double> profile(n);
  const double scale = 1.0 / (2 * across + 1);
  const int taps = 2 * across + 1;
  const bool tabled = taps <= kMaxTaps;
  // The taps' offsets across the line, the same for every sample: in fixed point for the samples
  // inside, in doubles (as the clamped way computes them) for the rest.
  alignas(16) int offsetX[kMaxTaps], offsetY[kMaxTaps];
  double shiftX[kMaxTaps], shiftY[kMaxTaps];
  for (int t = 0; t < std::min(taps, kMaxTaps); ++t) {
    const int k = t - across;
    offsetX[t] = static_cast<int>(std::lround(-uy * k * spacing * kOne));
    offsetY[t] = static_cast<int>(std::lround(ux * k * spacing * kOne));
    shiftX[t] = uy * k * spacing;
    shiftY[t] = ux * k * spacing;
  }
  // A sample goes the fixed-point way when its taps' pixels keep a tenth of a pixel clear of the
  // window's edges. The sample places move one way along each axis (x0 + ux * i * kStep only grows
  // or only shrinks with i, rounding included), so each of the four tests holds on a prefix or a
  // suffix of the samples and all four on one range: found by walking in from both ends, past
  // the samples that go the clamped way anyway.
  const double ax = std::fabs(uy * across * spacing), ay = std::fabs(ux * across * spacing);
  auto clear = [&](int i) {
    const double px = x0 + ux * i * kStep, py = y0 + uy * i * kStep;
    return px - ax >= 0.6 && px + ax < w.width - 1.6 && py - ay >= 0.6 && py + ay < w.height - 1.6;
  };
  int begin = n, end = n;
  if (tabled) {
    begin = 0;
    while (begin < n && !clear(begin)) ++begin;
    while (end > begin && !clear(end - 1)) --end;
  }
  if (inside) *inside = {begin, end};
  const ClampedSampler grey(w);
  // A clamped sample whose taps all lie past one side of the window (as a line's samples do
  // beyond the border) has them all on the border's column or row, where the bilinear weights of
  // the clamped axis are 1 and 0: the other axis's interpolation alone gives the same doubles.
  // The taps' places move one way across the line, so the first and last tell for all.
  auto clampedSample = [&](int i) {
    const double px = x0 + ux * i * kStep, py = y0 + uy * i * kStep;
    double acc = 0;
    if (tabled) {
      const int column = grey.clampedColumn(px - shiftX[0], px - shiftX[taps - 1]);
      const int row = column < 0 ? grey.clampedRow(py + shiftY[0], py + shiftY[taps - 1]) : -1;
      if (column >= 0) {
        for (int t = 0; t < taps; ++t) acc += grey.onColumn(column, py + shiftY[t]);
        return acc * scale;
      }
      if (row >= 0) {
        for (int t = 0; t < taps; ++t) acc += grey.onRow(px - shiftX[t], row);
        return acc * scale;
      }
    }
    for (int k = -across; k <= across; ++k) {
      const double sx = tabled ? shiftX[k + across] : uy * k * spacing;
      const double sy = tabled ? shiftY[k + across] : ux * k * spacing;
      acc += grey(px - sx, py + sy);
    }
    return acc * scale;
  };
  for (int i = 0; i < begin; ++i) profile[i] = clampedSample(i);
#if defined(__SSE2__)
  const bool fourAtOnce = FourTaps::fits(w);
#else
  const bool fourAtOnce = false;
#endif
  if (fourAtOnce)
    fixedPointRange<true>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, profile.data());
  else
    fixedPointRange<false>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, profile.data());
  for (int i = end; i < n; ++i) profile[i] = clampedSample(i);
  return profile;
}

}  // namespace road1d
