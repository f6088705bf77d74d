// Grey profiles along straight lines: clipping to the area where bilinear samples exist, the
// sample index range that stays strictly inside it, and the four sampling walks.
#include "ci_id/linepixels.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "base/cmath.h"

namespace {

constexpr double kFixedOne = 65536.0;
constexpr double kCoordLimit = 32768.0;

struct Real2 {
  double x, y;
};

// Cohen-Sutherland outcodes against [0, xmax) x [0, ymax).
enum : int { kLeft = 1, kRight = 2, kBottom = 4, kTop = 8 };

int outcode(const Real2& p, double xmax, double ymax) {
  int code = 0;
  if (p.x < 0) code |= kLeft;
  else if (p.x >= xmax) code |= kRight;
  if (p.y < 0) code |= kTop;
  else if (p.y >= ymax) code |= kBottom;
  return code;
}

// Moves p onto the boundary towards `other`; false on a zero division (a broken invariant).
bool moveOnto(Real2& p, const Real2& other, double xmax, double ymax) {
  const Real2 start = p;
  int code = outcode(p, xmax, ymax);
  if (code & (kTop | kBottom)) {
    if (other.y == start.y) return false;
    const double y = (code & kTop) ? 0.0 : ymax - 1e-11;
    p.x = start.x + (other.x - start.x) * (y - start.y) / (other.y - start.y);
    p.y = y;
    if (p.x >= 0 && p.x < xmax) return true;
    code = outcode(p, xmax, ymax);
  }
  if (code & (kLeft | kRight)) {
    if (other.x == start.x) return false;
    const double x = (code & kLeft) ? 0.0 : xmax - 1e-11;
    p.y = start.y + (other.y - start.y) * (x - start.x) / (other.x - start.x);
    p.x = x;
  }
  return true;
}

// The part of a line inside the sample area, 16.16 window-relative.
struct Walk {
  int64_t p0[2];   // unclipped start
  int64_t step[2]; // per sample
  int32_t k0 = 0, k1 = 0;
};

inline int64_t toFixed(double v) { return static_cast<int64_t>(v * kFixedOne); }

// Prepares the walk of n samples; cidut_errNoSamples when none lies inside.
csys_status prepare(const cimg_windowConst& w, const cmath_vect& a, const cmath_vect& b, int32_t n, Walk* walk) {
  Real2 s{a.x - w.x0 - 0.5, a.y - w.y0 - 0.5}, e{b.x - w.x0 - 0.5, b.y - w.y0 - 0.5};
  for (double v : {s.x, s.y, e.x, e.y}) CSYS_REQUIRE(std::fabs(v) < kCoordLimit);
  const double xmax = w.width - 1.0, ymax = w.height - 1.0;
  walk->p0[0] = toFixed(s.x);
  walk->p0[1] = toFixed(s.y);
  const int64_t p1[2] = {toFixed(e.x), toFixed(e.y)};
  for (int axis = 0; axis < 2; ++axis) walk->step[axis] = (p1[axis] - walk->p0[axis]) / n;
  int cs = outcode(s, xmax, ymax), ce = outcode(e, xmax, ymax);
  if ((cs & ce) != 0) return cidut_errNoSamples;
  walk->k0 = 0;
  walk->k1 = n;
  if (cs == 0 && ce == 0) return 0;
  if (cs != 0) {
    CSYS_REQUIRE(moveOnto(s, e, xmax, ymax));
    if (outcode(s, xmax, ymax) != 0) return cidut_errNoSamples;
  }
  if (ce != 0) CSYS_REQUIRE(moveOnto(e, s, xmax, ymax));
  const int64_t c0[2] = {toFixed(s.x), toFixed(s.y)}, c1[2] = {toFixed(e.x), toFixed(e.y)};
  bool limited = false;
  int64_t k0 = 0, k1 = n;
  for (int axis = 0; axis < 2; ++axis) {
    const int64_t step = walk->step[axis];
    if (step == 0) continue;
    const int64_t a1 = step - (step > 0 ? 1 : -1);
    const int64_t lo = ((c0[axis] - walk->p0[axis]) + a1) / step;
    const int64_t hi = ((c1[axis] - walk->p0[axis]) - a1) / step;
    k0 = limited ? (lo > k0 ? lo : k0) : lo;
    k1 = limited ? (hi < k1 ? hi : k1) : hi;
    limited = true;
  }
  // A line too short to move between samples cannot be placed inside once it was clipped.
  if (!limited) return cidut_errNoSamples;
  if (k0 < 0) k0 = 0;
  if (k1 > n) k1 = n;
  if (k0 >= k1) return cidut_errNoSamples;
  walk->k0 = static_cast<int32_t>(k0);
  walk->k1 = static_cast<int32_t>(k1);
  return 0;
}

// One sample position: checked against the window, so a broken bound never reads outside.
struct Sampler {
  const cimg_windowConst& w;
  bool inside(int64_t x, int64_t y) const {
    return x >= 0 && y >= 0 && (x >> 16) < w.width - 1 && (y >> 16) < w.height - 1;
  }
  const uint8_t* at(int64_t x, int64_t y) const {
    return w.pixels + static_cast<ptrdiff_t>(y >> 16) * w.stride + (x >> 16);
  }
  // The bilinear value before the final shift: the sample is v >> 16.
  uint32_t bilinear(int64_t x, int64_t y) const {
    const uint8_t* p = at(x, y);
    const uint32_t fx = static_cast<uint32_t>(x & 0xFFFF) >> 8, fy = static_cast<uint32_t>(y & 0xFFFF) >> 8;
    const uint32_t top = p[0] * (255 - fx) + p[1] * fx;
    const uint32_t bottom = p[w.stride] * (255 - fx) + p[w.stride + 1] * fx;
    return top * (255 - fy) + bottom * fy;
  }
};

enum class Mode { bilinear, nearest };

// Fills buffer[k0 .. k1) from the first position on, then the ends; *sum receives the sum of
// the bilinear values >> 8 (for the mean).
csys_status sampleLine(const cimg_windowConst& w, const Walk& walk, bool centred, Mode mode, uint8_t* buffer,
                       int32_t n, uint64_t* sum) {
  const Sampler sampler{w};
  int64_t x = walk.p0[0] + walk.step[0] * walk.k0, y = walk.p0[1] + walk.step[1] * walk.k0;
  if (centred) {
    x += walk.step[0] >> 1;
    y += walk.step[1] >> 1;
  }
  *sum = 0;
  for (int32_t k = walk.k0; k < walk.k1; ++k, x += walk.step[0], y += walk.step[1]) {
    CSYS_REQUIRE(sampler.inside(x, y));
    if (mode == Mode::nearest) {
      buffer[k] = *sampler.at(x, y);
    } else {
      const uint32_t v = sampler.bilinear(x, y);
      buffer[k] = static_cast<uint8_t>(v >> 16);
      *sum += v >> 8;
    }
  }
  csys_status st = 0;
  if (walk.k0 > 0 && CSYS_FAILED(st = csys_memory_fill(buffer[walk.k0], static_cast<size_t>(walk.k0), buffer)))
    return st;
  if (walk.k1 < n)
    st = csys_memory_fill(buffer[walk.k1 - 1], static_cast<size_t>(n - walk.k1), buffer + walk.k1);
  return st;
}

csys_status profile(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1, uint8_t* buffer,
                    int32_t n, bool centred, Mode mode, uint8_t* mean) {
  CSYS_REQUIRE(window->pixels != nullptr && window->width > 0 && window->height > 0);
  Walk walk;
  csys_status st = prepare(*window, *p0, *p1, n, &walk);
  if (CSYS_FAILED(st)) return st;
  uint64_t sum = 0;
  if (CSYS_FAILED(st = sampleLine(*window, walk, centred, mode, buffer, n, &sum))) return st;
  if (mean != nullptr) *mean = static_cast<uint8_t>((sum / static_cast<uint64_t>(walk.k1 - walk.k0)) >> 8);
  return 0;
}

}  // namespace

extern "C" {

csys_status cidut_getPixelCount(const cmath_vect* p0, const cmath_vect* p1, int32_t* count) {
  CSYS_REQUIRE(p0 != nullptr && p1 != nullptr && count != nullptr);
  const double d = cmath_double_round(cmath_vect_getDistance(p0, p1));
  CSYS_REQUIRE(d >= 0.0 && d < 2147483647.0);
  *count = static_cast<int32_t>(d);
  return 0;
}

csys_status cidut_linePixels(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                             uint8_t* buffer, int32_t n, uint8_t* mean, double* spacing) {
  CSYS_REQUIRE(window != nullptr && p0 != nullptr && p1 != nullptr && buffer != nullptr && mean != nullptr &&
               spacing != nullptr && n >= 1);
  *mean = 0;
  *spacing = cmath_vect_getDistance(p0, p1) / n;
  return profile(window, p0, p1, buffer, n, true, Mode::bilinear, mean);
}

csys_status cidut_linePixels1(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                              uint8_t* buffer, double length, int32_t n, uint8_t* mean, double* spacing) {
  CSYS_REQUIRE(window != nullptr && p0 != nullptr && p1 != nullptr && buffer != nullptr && mean != nullptr &&
               spacing != nullptr && n >= 1);
  *mean = 0;
  *spacing = length / n;
  return profile(window, p0, p1, buffer, n, false, Mode::bilinear, mean);
}

csys_status cidut_linePixels_LowPPM(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                                    uint8_t* buffer, int32_t n, double* spacing) {
  CSYS_REQUIRE(window != nullptr && p0 != nullptr && p1 != nullptr && buffer != nullptr && spacing != nullptr &&
               n >= 1);
  *spacing = cmath_vect_getDistance(p0, p1) / n;
  return profile(window, p0, p1, buffer, n, true, Mode::nearest, nullptr);
}

csys_status cidut_linePixels2D(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1, int32_t n,
                               int32_t* total) {
  CSYS_REQUIRE(window != nullptr && p0 != nullptr && p1 != nullptr && total != nullptr && n >= 1);
  *total = 0;
  CSYS_REQUIRE(window->pixels != nullptr && window->width > 0 && window->height > 0);
  Walk walk;
  const csys_status st = prepare(*window, *p0, *p1, n, &walk);
  if (CSYS_FAILED(st)) return st;
  const Sampler sampler{*window};
  int64_t x = walk.p0[0] + walk.step[0] * walk.k0, y = walk.p0[1] + walk.step[1] * walk.k0;
  CSYS_REQUIRE(sampler.inside(x, y));
  int32_t previous = static_cast<int32_t>(sampler.bilinear(x, y) >> 16), sum = 0;
  for (int32_t counter = walk.k0 + 1; counter < (walk.k1 >> 1); ++counter) {
    x += 2 * walk.step[0];
    y += 2 * walk.step[1];
    CSYS_REQUIRE(sampler.inside(x, y));
    const int32_t sample = static_cast<int32_t>(sampler.bilinear(x, y) >> 16);
    sum += std::abs(sample - previous);
    previous = sample;
  }
  *total = sum;
  return 0;
}

}  // extern "C"
