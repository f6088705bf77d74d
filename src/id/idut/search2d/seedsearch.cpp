// The frame shared by the 2D searches from a seed: lines and crossings, scratch areas, the
// run parameters of a seed, and the final checks and result fields of a find.
#include "ci_id/priv/ci_idut/seedsearch.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/cmath_affineRect.h"
#include "ci_id/region.h"

namespace cid2d_seed {

Angle angleBetween(const Line& l1, const Line& l2) {
  Angle r;
  r.cross = l1.a * l2.b - l2.a * l1.b;
  const int64_t dot = l1.a * l2.a + l1.b * l2.b;
  if (r.cross == 0 && dot == 0) {
    r.degenerate = true;
    return r;
  }
  if (dot == 0) {
    r.t = kNoAngle;
    r.s = r.cross < 0 ? 1 : 0;
    return r;
  }
  const int64_t q = floorDiv(1000 * r.cross, dot);
  r.t = iabs(q);
  r.s = q < 0 ? 1 : 0;
  return r;
}

Vec intersect(const Line& l1, const Line& l2) {
  const double x = static_cast<double>(l1.a * l2.b - l2.a * l1.b);
  Vec p;
  p.u = 4.0 * (static_cast<double>(l2.c) * static_cast<double>(l1.b) - static_cast<double>(l1.c) * static_cast<double>(l2.b)) / x;
  p.v = 4.0 * (static_cast<double>(l1.c) * static_cast<double>(l2.a) - static_cast<double>(l2.c) * static_cast<double>(l1.a)) / x;
  return p;
}

cmath_vect toPixels(const Vec& p) {
  return cmath_vect{static_cast<double>(static_cast<float>(p.v) / 16.0f),
                    static_cast<double>(static_cast<float>(p.u) / 16.0f)};
}

Scratch carve(const cid2d_trackingParams& params) {
  uint8_t* base = params.scratch;
  return Scratch{reinterpret_cast<Point*>(base + CID2D_SCRATCH_CONTOUR_OFFSET),
                 reinterpret_cast<Point*>(base + CID2D_SCRATCH_SMOOTHED_OFFSET),
                 reinterpret_cast<int32_t*>(base + CID2D_SCRATCH_CURVATURE_OFFSET),
                 reinterpret_cast<Run*>(base + CID2D_SCRATCH_RUNS_OFFSET)};
}

bool scratchUsable(const cid2d_trackingParams& params) {
  return params.scratch != nullptr && params.scratchSize >= CID2D_SCRATCH_MIN_SIZE &&
         reinterpret_cast<uintptr_t>(params.scratch) % alignof(int32_t) == 0;
}

void fillRunParams(cbt_runParams* run, const cid2d_trackingParams& params, const cid2d_trackingSeed& seed) {
  run->maxPoints = std::min(params.maxContourPoints, kRawContourLimit);
  run->threshold = seed.mean;
  run->polarity = seed.polarity;
  run->startA[0] = seed.startA[0];
  run->startA[1] = seed.startA[1];
  run->startB[0] = seed.startB[0];
  run->startB[1] = seed.startB[1];
}

csys_status seedAlreadyHandled(const SearchArgs& s, bool* skip) {
  *skip = false;
  if (s.mask != nullptr) {
    const cmath_vect point{static_cast<double>(s.seed->x), static_cast<double>(s.seed->y)};
    uint32_t flag = 0;
    csys_status st = cid_mask_isPointUnMasked(s.mask, &point, s.maskXform, &flag);
    if (CSYS_FAILED(st)) return st;
    if (flag != 0) {
      *skip = true;
      return 0;
    }
  }
  *skip = s.marking.get(s.seed->x >> 2, s.seed->y >> 2) != 0;
  return 0;
}

csys_status halveAndMeasure(const Scratch& scratch, int32_t* n, int32_t* w, int32_t* h, int32_t* e) {
  csys_status st = cid2d_contour_halve(scratch.contour, *n, n);
  if (CSYS_FAILED(st)) return st;
  st = csys_attention_check();
  if (CSYS_FAILED(st)) return st;
  return cid2d_contour_getBoundingBox(scratch.contour, *n, w, h, e);
}

bool boxAcceptable(const cimg_windowConst& window, const cid2d_trackingParams& params, int32_t w, int32_t h,
                   int32_t e) {
  if (e < params.minSide || e > params.maxSide) return false;
  if (w >= window.width - 1 || h >= window.height - 1) return false;
  return !(w < params.minSide || h < params.minSide || w > params.maxSide || h > params.maxSide);
}

csys_status storeCandidate(const Candidate& cand, cid2d_trackingResult* result) {
  cmath_vect p0 = toPixels(cand.corner), p1 = toPixels(cand.sideX), p2 = toPixels(cand.sideY);
  const cmath_vect e1{p1.x - p0.x, p1.y - p0.y}, e2{p2.x - p0.x, p2.y - p0.y};
  if (cmath_vect_cross(&e1, &e2) > 0) std::swap(p1, p2);
  cmath_shapeAffineRectPoints points;
  csys_status st = cmath_shapeAffineRectPoints_init(&points, &p0, &p1, &p2);
  if (CSYS_FAILED(st)) return st;
  st = cmath_shapeAffineRect_initPoints(&result->rectangle, &points);
  if (CSYS_FAILED(st)) return st;
  result->fourthCorner = toPixels(cand.fourth);
  result->parallelogram = cand.parallelogram;
  result->threshold = static_cast<uint8_t>(result->seed.mean);
  result->score = cand.score;
  return 0;
}

csys_status confirmFind(const cimg_imageConst* image, const cimg_windowConst& window, const cid_mask* mask,
                        const cmath_xformLinear* maskXform, cid2d_trackingResult* result, bool* found) {
  cid_region region;
  csys_status st = cid_region_initAffineRect(&region, &result->rectangle, nullptr);
  if (CSYS_FAILED(st)) return st;
  cmath_xformLinear pixelFromClient;
  st = cimg_imageConst_getLinearImageFromClientXform(image, &pixelFromClient);
  if (CSYS_FAILED(st)) return st;
  cstd_rect32 enclosing;
  st = cmath_shapeAffineRect_getEncloseImageRect(&result->rectangle, &pixelFromClient, &enclosing);
  if (CSYS_FAILED(st)) return st;
  if (mask != nullptr) {
    uint32_t covered = 0;
    st = cid_mask_isRegionUnMasked(mask, &region, maskXform, 5.0, &covered);
    if (CSYS_FAILED(st)) return st;
    if (covered != 0) *found = false;
  }
  const cstd_rect32 windowRect{window.x0, window.y0, window.width, window.height};
  if (!cstd_rect32_containsRect(&windowRect, &enclosing)) *found = false;
  // The quality belongs to the candidate that reached these checks, found in the end or not.
  result->quality = 1000;
  return 0;
}

// The smoothing window of an outline whose halved box is w x h.
int32_t smoothingWindow(int32_t w, int32_t h, const cid2d_trackingParams& params) {
  int32_t divisor = 32;
  if (params.expectedSizeA > divisor) divisor = params.expectedSizeA;
  if (params.expectedSizeB > divisor) divisor = params.expectedSizeB;
  int32_t window = std::min(w, h) / divisor;
  const auto floorMin = static_cast<int32_t>(std::floor(params.minSmoothing));
  if (window <= floorMin) window = floorMin;
  return std::min(window, 25);
}

// Smooths the halved outline over the window and measures its curvature over twice that span;
// bends is false when the outline is too flat anywhere to hold a corner.
csys_status smoothAndBend(const Scratch& scratch, int32_t n, int32_t window, bool* bends) {
  csys_status st = cid2d_contour_smooth(scratch.smoothed, scratch.contour, n, window);
  if (CSYS_FAILED(st)) return st;
  int32_t maxCurvature = 0;
  st = cid2d_contour_curvature(scratch.curvature, scratch.smoothed, n, 2 * window, &maxCurvature);
  *bends = CSYS_SUCCEEDED(st) && maxCurvature >= 32;
  return st;
}

}  // namespace cid2d_seed
