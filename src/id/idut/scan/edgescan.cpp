// The edge scan: clip, walk the clipped segment's pixels, run the extremum detector inline on
// the gradient responses.
#include <algorithm>
#include <cstdlib>

#include "ci_id/priv/ci_idut/peak_step.hpp"
#include "ci_id/scanclip.h"
#include "ci_id/scanwalk.h"

namespace {

// Weights of the directional operator; false when an axis-parallel gradient is too long to
// keep the response within 16 bits.
bool directionalWeights(const int16_t gradient[2], int32_t g[2]) {
  const int32_t gx = gradient[0], gy = gradient[1];
  if (gx == 0 || gy == 0) {
    g[0] = gx;
    g[1] = gy;
    return std::abs(gx) <= 32 && std::abs(gy) <= 32;
  }
  const int32_t ax = std::abs(gx), ay = std::abs(gy);
  const int32_t m = 2 * std::max(ax, ay) + std::min(ax, ay);
  g[0] = int16_t((gx * 64) / m);
  g[1] = int16_t((gy * 64) / m);
  return true;
}

struct Directional {
  int32_t gx, gy;
  int64_t stride;
  int32_t operator()(const uint8_t* q) const {
    auto P = [&](int dx, int dy) { return int32_t(q[dx + dy * stride]); };
    const int32_t r = 2 * gx * (P(1, 0) - P(-1, 0)) + 2 * gy * (P(0, 1) - P(0, -1)) + (gx + gy) * (P(1, 1) - P(-1, -1)) +
                      (gy - gx) * (P(-1, 1) - P(1, -1));
    return int16_t(r);
  }
};

// Appends the peaks of one walk of n >= 2 samples: sample k sits at start + k * along (bytes).
// The detector's room is reserved before and trimmed after the walk.
template <class Walk>
csys_status detectAlong(cstd_vector_cidc_peakIDFixedX_4* peaks, int32_t n, Walk&& walk) {
  cidc_peakDetectState st;
  csys_status status;
  CSYS_TRY(status, cidc_peakDetectState_init(&st, peaks, walk.first(), n));
  bool ok = true;
  for (int32_t k = 1; ok && k < n; ++k) ok = walk.next(st);
  status = cidc_peakDetectState_finish(&st, peaks);
  return ok ? status : csys_errAssertion;
}

// Plain operator: the 1-2-1 sum across the walk at every sample, differenced along it.
struct PlainWalk {
  const uint8_t* p;  // sample 0
  int64_t along, across;
  int32_t threshold, offset;
  int32_t s[4];  // sums at samples k-2 .. k+1
  int32_t sum(const uint8_t* q) const { return q[-across] + 2 * q[0] + q[across]; }
  int32_t first() {
    s[0] = 0;
    s[1] = sum(p - along);
    s[2] = sum(p);
    s[3] = sum(p + along);
    return int16_t(s[3] - s[1]);
  }
  bool next(cidc_peakDetectState& st) {
    p += along;
    s[0] = s[1];
    s[1] = s[2];
    s[2] = s[3];
    s[3] = sum(p + along);
    const uint8_t grey = uint8_t((((s[2] >> 2) & 0xFF) + ((s[0] >> 2) & 0xFF)) >> 1);
    return cidc::peakStep(st, int16_t(s[3] - s[1]), threshold, offset, 2, 0, grey);
  }
};

// Directional operator along a row or column.
struct StraightWalk {
  const uint8_t* p;
  int64_t along;
  Directional op;
  int32_t threshold, offset;
  uint8_t grey[3];  // pixels at samples k-2 .. k
  int32_t first() {
    grey[1] = grey[2] = *p;
    return op(p);
  }
  bool next(cidc_peakDetectState& st) {
    p += along;
    grey[0] = grey[1];
    grey[1] = grey[2];
    grey[2] = *p;
    return cidc::peakStep(st, op(p), threshold, offset, 0, 3, uint8_t((grey[2] + grey[0]) >> 1));
  }
};

// Bresenham walk between the end pixels; the major axis is x unless |dy| > |dx|.
struct SlantedWalk {
  const uint8_t* p;
  int64_t majorInc, minorInc;
  int32_t majorExtent, minorExtent, error = 0;
  Directional op;
  int32_t threshold, offset;
  uint8_t grey[3];
  int32_t first() {
    grey[1] = grey[2] = *p;
    return op(p);
  }
  bool next(cidc_peakDetectState& st) {
    error += minorExtent;
    p += majorInc;
    if (2 * error >= majorExtent) {
      error -= majorExtent;
      p += minorInc;
    }
    grey[0] = grey[1];
    grey[1] = grey[2];
    grey[2] = *p;
    return cidc::peakStep(st, op(p), threshold, offset, 0, 3, uint8_t((grey[2] + grey[0]) >> 1));
  }
};

// True when both end pixels, and so every pixel between them, keep a one-pixel border inside
// the window.
bool fitsWindow(const cimg_windowConst& w, const int32_t a[2], const int32_t b[2]) {
  auto inside = [&](const int32_t q[2]) {
    return q[0] >= 1 && q[0] <= w.width - 2 && q[1] >= 1 && q[1] <= w.height - 2;
  };
  return inside(a) && inside(b);
}

}  // namespace

extern "C" {

csys_status cidc_runEdgeScan(const cimg_image8Const* image, const cidc_windowROI* roi, const cidc_edgeScanParams* params,
                             const cidc_scanShape* shape, const int16_t gradient[2],
                             cstd_vector_cidc_peakIDFixedX_4* peaks, cidc_scanLineSeg* out) {
  CSYS_REQUIRE(image != nullptr && roi != nullptr && params != nullptr && shape != nullptr && gradient != nullptr &&
               peaks != nullptr && out != nullptr);
  cimg_windowConst w;
  csys_status st;
  CSYS_TRY(st, cimg_windowConst_init(&w, image));
  cidc_scanLineSeg seg;
  CSYS_TRY(st, cidc_scanShape_clip(shape, roi, &seg));
  if (seg.isDegenerate) {
    *out = seg;
    return 0;
  }
  const int32_t a[2] = {seg.endPixel[0][0] + roi->originOffset[0], seg.endPixel[0][1] + roi->originOffset[1]};
  const int32_t b[2] = {seg.endPixel[1][0] + roi->originOffset[0], seg.endPixel[1][1] + roi->originOffset[1]};
  if (!fitsWindow(w, a, b)) return cidut_errBadArgument;
  const int64_t stride = w.stride;
  const uint8_t* start = w.pixels + a[1] * stride + a[0];
  const int32_t offset = int32_t(seg.endProj[0][0]), t = params->threshold;
  const cidc_unitDir16 dir = seg.line.dir;
  int32_t g[2] = {0, 0};
  const bool plain = dir.y == 0 ? gradient[1] == 0 : (dir.x == 0 && gradient[0] == 0);
  if (!plain && !directionalWeights(gradient, g)) return cidut_errBadArgument;
  const Directional op{g[0], g[1], stride};
  if (dir.x == 0 || dir.y == 0) {
    const int axis = dir.y == 0 ? 0 : 1;
    const int32_t n = std::abs(b[axis] - a[axis]) + 1;
    const int64_t unit = axis == 0 ? 1 : stride, along = b[axis] > a[axis] ? unit : -unit;
    if (n > 1) {
      st = plain ? detectAlong(peaks, n, PlainWalk{start, along, axis == 0 ? stride : 1, t >> 2, offset, {}})
                 : detectAlong(peaks, n, StraightWalk{start, along, op, t * 8, offset, {}});
      if (CSYS_FAILED(st)) return st;
    }
    *out = seg;
    return 0;
  }
  const int32_t dx = b[0] - a[0], dy = b[1] - a[1];
  const bool yMajor = std::abs(dx) < std::abs(dy);
  const int64_t incX = dx > 0 ? 1 : -1, incY = dy > 0 ? stride : -stride;
  SlantedWalk walk{start, yMajor ? incY : incX, yMajor ? incX : incY, std::abs(yMajor ? dy : dx),
                   std::abs(yMajor ? dx : dy), 0, op, t * 8, offset, {}};
  const int32_t n = walk.majorExtent + 1;
  if (n >= 3) {
    st = detectAlong(peaks, n, walk);
    if (CSYS_FAILED(st)) return st;
  }
  *out = seg;
  return 0;
}

}  // extern "C"
