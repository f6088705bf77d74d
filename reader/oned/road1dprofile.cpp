#include "reader/oned/road1dprofile.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

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

// One sample's taps in fixed point (1/4096 pixel, weights of 12 bits), every pixel inside the
// window: cx, cy the sample's place less half a pixel, the taps at the given offsets from it.
// Taps is a constant for the usual counts, so that the loop unrolls.
template <int kTaps>
double fixedPointSample(const cimg_windowConst& w, int cx, int cy, const int* offsetX, const int* offsetY, int taps,
                        double scale) {
  const int count = kTaps > 0 ? kTaps : taps;
  const uint8_t* pixels = w.pixels;
  const ptrdiff_t stride = w.stride;
  int64_t acc = 0;
#pragma GCC unroll 16
  for (int t = 0; t < count; ++t) {
    const int x = cx + offsetX[t], y = cy + offsetY[t];
    const int fx = x & (kOne - 1), fy = y & (kOne - 1);
    const uint8_t* p = pixels + static_cast<ptrdiff_t>(y >> kBits) * stride + (x >> kBits);
    const int top = p[0] * kOne + fx * (p[1] - p[0]);
    const int bottom = p[stride] * kOne + fx * (p[stride + 1] - p[stride]);
    acc += static_cast<int64_t>(top) * kOne + static_cast<int64_t>(fy) * (bottom - top);
  }
  return static_cast<double>(acc) * (scale / (static_cast<double>(kOne) * kOne));
}

// The samples [begin, end) of the line, all inside, the taps' count made a constant where the
// usual tap heights give one.
template <int kTaps>
void fixedPointSamples(const cimg_windowConst& w, double x0, double y0, double ux, double uy, int begin, int end,
                       const int* offsetX, const int* offsetY, int taps, double scale, double* out) {
  for (int i = begin; i < end; ++i) {
    const double px = x0 + ux * i * kStep, py = y0 + uy * i * kStep;
    // Both are above 0.1 pixel here.
    const int cx = roundNonNegative((px - 0.5) * kOne), cy = roundNonNegative((py - 0.5) * kOne);
    out[i] = fixedPointSample<kTaps>(w, cx, cy, offsetX, offsetY, taps, scale);
  }
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
  int offsetX[kMaxTaps], offsetY[kMaxTaps];
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
  auto clampedSample = [&](int i) {
    const double px = x0 + ux * i * kStep, py = y0 + uy * i * kStep;
    double acc = 0;
    for (int k = -across; k <= across; ++k) {
      const double sx = tabled ? shiftX[k + across] : uy * k * spacing;
      const double sy = tabled ? shiftY[k + across] : ux * k * spacing;
      acc += grey(px - sx, py + sy);
    }
    return acc * scale;
  };
  for (int i = 0; i < begin; ++i) profile[i] = clampedSample(i);
  // Half-heights of 1.5 and 5 pixels (the road's) give 5 and 15 taps.
  if (taps == 5)
    fixedPointSamples<5>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, profile.data());
  else if (taps == 15)
    fixedPointSamples<15>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, profile.data());
  else
    fixedPointSamples<0>(w, x0, y0, ux, uy, begin, end, offsetX, offsetY, taps, scale, profile.data());
  for (int i = end; i < n; ++i) profile[i] = clampedSample(i);
  return profile;
}

}  // namespace road1d
