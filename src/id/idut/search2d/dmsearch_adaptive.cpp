// Data Matrix search from a seed edge with a threshold of its own: the adaptive variant of the
// seed search, used by the adaptive driver. It tracks the blob the seed bounds, picks the solid
// L among the outline's strongest straight runs and marks the outline's cells with the column it
// crossed them in, so that the driver passes over seeds next to it.
#include "ci_id/dmsearch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "ci_id/contourruns.h"
#include "ci_id/priv/ci_idut/seedsearch.hpp"
#include "ci_id/status.h"

namespace {

using namespace cid2d_seed;

constexpr int32_t kAdaptiveRunCapacity = 8190;
constexpr int64_t kAdaptiveAngle = 2605;

// ---- adaptive search -------------------------------------------------------------------------

struct PixelPoint {
  int32_t x = 0, y = 0;
};

PixelPoint pixelOf(const Point& p) { return PixelPoint{(p.v + 8) >> 4, (p.u + 8) >> 4}; }

inline int32_t l1(const PixelPoint& a, const PixelPoint& b) { return std::abs(a.x - b.x) + std::abs(a.y - b.y); }

// Mean curvature of a run as a fraction sum / count (start ... end - 1 summed, end - start + 1
// points counted).
struct MeanCurvature {
  int64_t sum = 0, count = 1;
};

MeanCurvature meanCurvature(const int32_t* curvature, const Run& run, int32_t n) {
  MeanCurvature m;
  const int32_t len = wrap(static_cast<int64_t>(run.end) - run.start, n);
  for (int32_t i = 0; i < len; ++i) m.sum += curvature[wrap(static_cast<int64_t>(run.start) + i, n)];
  m.count = static_cast<int64_t>(len) + 1;
  return m;
}

inline bool lowerMean(const MeanCurvature& a, const MeanCurvature& b) { return a.sum * b.count < b.sum * a.count; }

inline bool liesBetween(const Run& x, const Run& a, const Run& b) {
  return std::min(a.start, b.start) < x.start && x.start < std::max(a.start, b.start);
}

// The two runs of the L among the three strongest. Returns false when none qualifies.
csys_status chooseAdaptivePair(const Point* smoothed, const int32_t* curvature, const Run* runs, int32_t r, int32_t n,
                               int32_t* first, int32_t* second, bool* ok) {
  *ok = false;
  auto angleOf = [&](int32_t i, int32_t j, int64_t* t) -> csys_status {
    const Angle a = angleBetween(runLine(smoothed, runs[i], n), runLine(smoothed, runs[j], n));
    if (a.degenerate) {
      cstd_assert_(__LINE__);
      return csys_errAssertion;
    }
    *t = a.t;
    return 0;
  };
  int64_t t01 = 0;
  csys_status st = angleOf(0, 1, &t01);
  if (CSYS_FAILED(st)) return st;
  if (t01 < kAdaptiveAngle) {
    if (r < 3) return 0;
    int32_t p = 0;
    if (liesBetween(runs[2], runs[0], runs[1]) &&
        lowerMean(meanCurvature(curvature, runs[1], n), meanCurvature(curvature, runs[0], n)))
      p = 1;
    int64_t t = 0;
    st = angleOf(p, 2, &t);
    if (CSYS_FAILED(st)) return st;
    if (t <= kAdaptiveAngle || runs[2].strength <= 31) return 0;
    *first = p;
    *second = 2;
    *ok = true;
    return 0;
  }
  *first = 0;
  *second = 1;
  if (r >= 3 && 2 * static_cast<int64_t>(runs[1].strength) < 3 * static_cast<int64_t>(runs[2].strength)) {
    if (liesBetween(runs[0], runs[1], runs[2])) {
      int64_t t = 0;
      st = angleOf(0, 2, &t);
      if (CSYS_FAILED(st)) return st;
      if (t >= kAdaptiveAngle + 1 &&
          !lowerMean(meanCurvature(curvature, runs[1], n), meanCurvature(curvature, runs[2], n)))
        *second = 2;
    } else if (liesBetween(runs[1], runs[0], runs[2])) {
      int64_t t = 0;
      st = angleOf(1, 2, &t);
      if (CSYS_FAILED(st)) return st;
      if (t >= kAdaptiveAngle + 1 &&
          !lowerMean(meanCurvature(curvature, runs[0], n), meanCurvature(curvature, runs[2], n))) {
        *first = 1;
        *second = 2;
      }
    }
  }
  *ok = true;
  return 0;
}

// True when the corner K lies inside a side's own span rather than beyond its end.
bool cornerInsideSpan(int32_t nearDist, int32_t farDist, int32_t runLength, int32_t joinDiff, int32_t gapPoints) {
  return nearDist < runLength && farDist < runLength && farDist < 20 * nearDist &&
         (nearDist > 1 || joinDiff < gapPoints);
}

// The seed lies on the side from k to f (L1 metric, tolerance growing with the side's length).
bool seedOnSide(const PixelPoint& seed, const PixelPoint& k, const PixelPoint& f) {
  const int32_t d = l1(k, f);
  const int32_t tol = std::max(2, std::min(d / 32, 5));
  return l1(seed, k) + l1(seed, f) <= d + tol || l1(seed, k) <= tol || l1(seed, f) <= tol;
}

inline uint8_t columnMark(int32_t x256) { return static_cast<uint8_t>((((x256 + 128) >> 8) & 3) + 1); }

csys_status adaptiveSearch(SearchArgs& s, const cbt_runParams& run, int32_t level, bool* found) {
  const cid2d_trackingParams& params = *s.params;
  const cid2d_trackingSeed& seed = *s.seed;
  cid2d_trackingResult* result = s.result;

  result->boundary.markingMode = 1;
  csys_status st = cbt_boundaryTrack_Adaptive(s.image, &run, level, &result->boundary);
  s.marking.set(seed.x >> 2, seed.y >> 2, static_cast<uint8_t>((seed.x & 3) + 1));
  if (st == cidut_errTrackerNoBoundary) return 0;
  if (CSYS_FAILED(st)) return st;
  const cbt_result& track = result->boundary;
  if ((track.flags & CBT_FLAG_FOUND) == 0) return 0;
  if (track.count == 0) return cidut_errEmptyContour;

  const int32_t rawCount = static_cast<int32_t>(std::min<uint32_t>(track.count, kRawContourLimit));
  int32_t n = rawCount;
  if (n >= 400) {
    st = csys_attention_check();
    if (CSYS_FAILED(st)) return st;
  }
  const uint8_t markingMode = track.markingMode;
  const int32_t marked = markingMode == 16 ? std::max(0, n - 10) : markingMode == 0 ? 0 : n;
  const Scratch scratch = carve(params);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = track.points[i].x, y = track.points[i].y;
    CSYS_REQUIRE(insideWindow(s.window, (x + 128) >> 8, (y + 128) >> 8));
    scratch.contour[i] = Point{(y + 128) >> 4, (x + 128) >> 4};
    if (i < marked) s.marking.set((x + 128) >> 10, (y + 128) >> 10, columnMark(x));
  }
  if (n < 2.0 * params.minSide) return 0;
  if (params.allowBorder == 0 && (track.flags & CBT_FLAG_BORDER) != 0) return 0;

  int32_t w = 0, h = 0, e = 0;
  st = halveAndMeasure(scratch, &n, &w, &h, &e);
  if (CSYS_FAILED(st)) return st;
  if (w >= s.window.width - 1 || h >= s.window.height - 1) return 0;
  if (level == 0) {
    if (w < params.minSide || h < params.minSide || e > params.maxSide) return 0;
  } else if (e < params.minSide || e > params.maxSide) {
    return 0;
  }
  if (5 * static_cast<int64_t>(w) < h || 5 * static_cast<int64_t>(h) < w) return 0;

  const int32_t window = smoothingWindow(w, h, params);
  bool bends = false;
  st = smoothAndBend(scratch, n, window, &bends);
  if (CSYS_FAILED(st) || !bends) return st;

  const int32_t threshold = window <= 3 ? 64 : 16 * std::min((3 * window + 1) / 2, 7);
  int32_t runCount = 0;
  st = cid2d_contour_straightRuns(scratch.runs, scratch.curvature, scratch.smoothed, 1, n, window, threshold,
                                  kAdaptiveRunCapacity, &runCount);
  if (CSYS_FAILED(st)) return st;
  st = csys_attention_check();
  if (CSYS_FAILED(st)) return st;
  if (runCount < 2) return 0;
  st = cid2d_straightRuns_order(scratch.runs, runCount);
  if (CSYS_FAILED(st)) return st;
  if (scratch.runs[1].strength < 32) return 0;

  int32_t p = 0, q = 1;
  bool paired = false;
  st = chooseAdaptivePair(scratch.smoothed, scratch.curvature, scratch.runs, runCount, n, &p, &q, &paired);
  if (CSYS_FAILED(st) || !paired) return st;

  const Line lineP = runLine(scratch.smoothed, scratch.runs[p], n);
  const Line lineQ = runLine(scratch.smoothed, scratch.runs[q], n);
  const Vec kv = intersect(lineP, lineQ);
  if (!std::isfinite(kv.u) || !std::isfinite(kv.v)) return 0;
  const PixelPoint k{static_cast<int32_t>(std::floor(kv.v / 16.0 + 0.5)),
                     static_cast<int32_t>(std::floor(kv.u / 16.0 + 0.5))};

  // Which run arrives at the corner along the contour and which leaves it.
  const Run* in = &scratch.runs[p];
  const Run* out = &scratch.runs[q];
  Line lineIn = lineP, lineOut = lineQ;
  auto px = [&](int32_t i) { return pixelOf(scratch.smoothed[i]); };
  if (l1(k, px(out->end)) + l1(k, px(in->start)) < l1(k, px(in->end)) + l1(k, px(out->start))) {
    std::swap(in, out);
    std::swap(lineIn, lineOut);
  }
  const PixelPoint inNear = px(in->end), inFar = px(in->start);
  const PixelPoint outNear = px(out->start), outFar = px(out->end);
  const int32_t joinDiff = std::max(std::abs(inNear.x - outNear.x), std::abs(inNear.y - outNear.y));
  const int32_t gapPoints = wrap(static_cast<int64_t>(out->start) - in->end, n);
  const int32_t inNearD = l1(k, inNear), inFarD = l1(k, inFar);
  const int32_t outNearD = l1(k, outNear), outFarD = l1(k, outFar);
  if (!(inNearD < inFarD) || !(outNearD < outFarD)) return 0;
  if (cornerInsideSpan(inNearD, inFarD, l1(inNear, inFar), joinDiff, gapPoints)) return 0;
  if (cornerInsideSpan(outNearD, outFarD, l1(outNear, outFar), joinDiff, gapPoints)) return 0;
  if (!insideWindow(s.window, k.x, k.y)) return 0;

  const Angle orientation = angleBetween(lineIn, lineOut);
  const PixelPoint sides[4] = {k, orientation.cross > 0 ? inFar : outFar, k, orientation.cross > 0 ? outFar : inFar};
  for (int i = 0; i < 4; ++i) {
    result->boundary.sides[i][0] = sides[i].x;
    result->boundary.sides[i][1] = sides[i].y;
  }
  *found = true;

  // An outline the tracker did not mark (it touched the border) is marked now when the seed
  // lies on the L, so the drivers do not start from it again.
  if (level == 0 && markingMode == 0) {
    const PixelPoint seedPoint{seed.x, seed.y};
    if ((seedOnSide(seedPoint, k, inFar) || seedOnSide(seedPoint, k, outFar)) && track.count > 20) {
      for (int32_t i = 10; i <= rawCount - 11; ++i)
        s.marking.set((track.points[i].x + 128) >> 10, (track.points[i].y + 128) >> 10, columnMark(track.points[i].x));
    }
  }
  return 0;
}

}  // namespace

extern "C" {

csys_status cf_BndFindDMSymbolFromSeed_Adaptive(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                                const cid2d_trackingSeed* seed, const cbt_runParams* runParams,
                                                cimg_image* markingImage, const cid_mask* mask,
                                                const cmath_xformLinear* maskXform, int32_t level,
                                                cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && seed != nullptr && runParams != nullptr &&
               markingImage != nullptr && result != nullptr);
  cbt_runParams run = *runParams;
  fillRunParams(&run, *params, *seed);
  run.seedStrength = seed->strength;
  run.reportMarking = 1;
  return runSeedSearch(image, params, seed, markingImage, mask, maskXform, result,
                       [&](SearchArgs& s, bool* found) { return adaptiveSearch(s, run, level, found); });
}

}  // extern "C"
