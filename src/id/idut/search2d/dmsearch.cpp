// Data Matrix search from a seed edge: track the blob the seed bounds, reduce its outline to
// straight runs, pair two runs into the symbol's solid L and measure how far each side reaches.
// Also the cheap straight-edge pre-check; the adaptive variant lives in dmsearch_adaptive.cpp.
//
// Integer arithmetic up to the corners. Lines are kept in normal form a u + b v + c = 0 over
// quarter-pixel coordinates (u the row, v the column of the stored contour); products are taken
// in 64 bits so that no image size the library accepts can overflow them.
#include "ci_id/dmsearch.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "base/cmath_affineRect.h"
#include "ci_id/contourruns.h"
#include "ci_id/priv/ci_idut/outlinecells.hpp"
#include "ci_id/priv/ci_idut/seedsearch.hpp"
#include "ci_id/region.h"
#include "base/cmath_fixed.h"
#include "ci_id/status.h"

namespace {

using namespace cid2d_seed;


// Angle limits (1000 x tangent of the corner angle) and square side-ratio windows (100 x ratio).
constexpr int64_t kAngleDefault = 4332;  // 77 degrees
constexpr int64_t kAngleRelaxed = 2748;  // 70 degrees
constexpr int64_t kAngleWide = 1732;     // 60 degrees

inline int64_t distanceSq(const Point& p, int64_t u, int64_t v) {
  const int64_t du = p.u - u, dv = p.v - v;
  return du * du + dv * dv;
}

// Walks along the halved contour from i0 in direction d, measuring the distance from line l.
// Keeps the farthest point and stops once the distance has dropped 3 pixels below it. Returns the
// farthest distance in 1/16 pixel and its index.
struct Walk {
  int64_t length = 0;
  int32_t index = 0;
};

Walk walkSide(const Point* halved, int32_t n, int32_t i0, int d, const Line& l) {
  const int64_t g = isqrt(l.a * l.a + l.b * l.b) >> 2;
  const int32_t steps = n / 4 - 1;
  int64_t best = 0;
  Walk w;
  w.index = i0;
  for (int32_t s = 1; s <= steps; ++s) {
    const int32_t i = wrap(static_cast<int64_t>(i0) + static_cast<int64_t>(s) * d, n);
    const int64_t value = iabs(l.a * (halved[i].u >> 2) + l.b * (halved[i].v >> 2) + l.c);
    if (value > best) {
      best = value;
      w.index = i;
    } else if (best - value >= 48 * g) {
      break;
    }
  }
  w.length = g < 1 ? kNoAngle : best / g;
  return w;
}

// The longer of the forward and backward walk (the backward one on a tie).
Walk longerWalk(const Point* halved, int32_t n, int32_t i0, const Line& l) {
  const Walk forward = walkSide(halved, n, i0, 1, l);
  const Walk backward = walkSide(halved, n, i0, -1, l);
  return forward.length > backward.length ? forward : backward;
}

// 1000 x chord / side, 500 when the side is shorter than the chord (a sign of a bad pairing).
int64_t straightness(int32_t strength, int64_t side) {
  int64_t denom = side >> 4;
  if (denom < 1) denom = 1;
  const int64_t q = 1000 * isqrt(static_cast<int64_t>(strength) >> 4) / denom;
  return q > 1000 ? 500 : q;
}

// ---- corner pairing ----------------------------------------------------------------------

struct PairingSetup {
  int shapeMode = -1;  // -1 unknown size, 1 square, 0 rectangular
  int64_t angleLimit = kAngleDefault;
  int64_t squareLo = 75, squareHi = 133;
  bool relaxed = false;
};

PairingSetup pairingSetup(const cid2d_trackingParams& params) {
  PairingSetup s;
  if (params.expectedSizeA == 0)
    s.shapeMode = -1;
  else if (params.expectedSizeA == params.expectedSizeB)
    s.shapeMode = 1;
  else
    s.shapeMode = 0;
  s.relaxed = params.relaxedCorners != 0;
  if (params.wideCorners != 0 && s.shapeMode == -1) {
    s.angleLimit = kAngleWide;
  } else if (s.relaxed) {
    s.angleLimit = kAngleRelaxed;
  }
  if (s.relaxed) {
    s.squareLo = 62;
    s.squareHi = 160;
  }
  return s;
}

bool shapeAccepts(const PairingSetup& setup, int64_t ratio) {
  if (setup.shapeMode == -1) return true;
  if (setup.shapeMode == 1) return ratio >= setup.squareLo && ratio <= setup.squareHi;
  static constexpr int64_t windows[6][2] = {{175, 266}, {266, 333}, {330, 470}, {37, 57}, {26, 36}, {20, 30}};
  for (const auto& w : windows)
    if (ratio > w[0] && ratio < w[1]) return true;
  return false;
}

inline bool differsInOne(const Vec& p, const Vec& q, double by) {
  return std::fabs(p.u - q.u) > by || std::fabs(p.v - q.v) > by;
}
inline bool differsInBoth(const Vec& p, const Vec& q, double by) {
  return std::fabs(p.u - q.u) > by && std::fabs(p.v - q.v) > by;
}

// Replaces the far sides of the parallelogram by two other runs when they support them.
csys_status relaxedCompletion(const Point* smoothed, const Run* runs, int32_t r, int32_t n, int32_t k,
                              const Line& line1, const Line& line2, const Vec& V, const Vec& A, const Vec& B,
                              const Vec& D, int64_t longer, int64_t shorter, int64_t limit, Candidate* out) {
  for (int32_t j = 1; j < r; ++j) {
    if (j == k || runs[j].strength < 1024) continue;
    for (int32_t jj = j + 1; jj < r; ++jj) {
      if (jj == k) continue;
      if (runs[jj].strength < 145 || runs[jj].strength < runs[j].strength / 255) return 0;
      Line lj = runLine(smoothed, runs[j], n);
      Line ljj = runLine(smoothed, runs[jj], n);
      const Angle between = angleBetween(lj, ljj);
      if (between.degenerate) {
        cstd_assert_(__LINE__);
        return csys_errAssertion;
      }
      if (between.t < limit || between.cross == 0) continue;
      const Vec Dp = intersect(lj, ljj);

      int64_t qj = straightness(runs[j].strength, longer);
      int64_t qjj = straightness(runs[jj].strength, shorter);
      if (std::min(qj, qjj) <= 499 || std::max(qj, qjj) <= 599) continue;
      if (!differsInOne(Dp, V, 159) || !differsInOne(Dp, A, 159) || !differsInOne(Dp, B, 159)) continue;

      // Line j should cross line 2 (it is the side opposite side 1).
      Angle toJ = angleBetween(line2, lj);
      if (toJ.degenerate) {
        cstd_assert_(__LINE__);
        return csys_errAssertion;
      }
      if (toJ.t < limit / 2) {
        std::swap(lj, ljj);
        toJ = angleBetween(line2, lj);
        if (toJ.degenerate) {
          cstd_assert_(__LINE__);
          return csys_errAssertion;
        }
      }
      const Angle toJJ = angleBetween(line1, ljj);
      if (toJJ.degenerate) {
        cstd_assert_(__LINE__);
        return csys_errAssertion;
      }
      if (toJ.t < limit / 2 || toJJ.t < limit / 2 || toJ.cross == 0 || toJJ.cross == 0) continue;
      const Vec Bp = intersect(line2, lj);
      const Vec Ap = intersect(line1, ljj);

      const bool differs = (differsInBoth(Bp, B, 16) && differsInBoth(Ap, A, 16)) ||
                           (differsInBoth(Bp, A, 16) && differsInBoth(Ap, B, 16)) || differsInOne(Dp, D, 16);
      const bool reaches = std::fabs(Dp.u - V.u) > std::fabs(D.u - V.u) / 2 &&
                           std::fabs(Dp.v - V.v) > std::fabs(D.v - V.v) / 2;
      const bool awayFromCorner = differsInBoth(Bp, V, 16) && differsInBoth(Ap, V, 16);
      if (differs && reaches && awayFromCorner) {
        out->sideX = Bp;
        out->sideY = Ap;
        out->fourth = Dp;
        out->parallelogram = 0;
        return 0;
      }
    }
  }
  return 0;
}

// Pairs run 0 with the first later run that meets it at a near-right angle and whose sides
// reach far enough along the contour.
csys_status pairCorner(const Point* halved, const Point* smoothed, const Run* runs, int32_t r, int32_t n,
                       const PairingSetup& setup, Candidate* out) {
  out->found = false;
  if (r < 2 || runs[0].strength < 1024) return 0;
  const Line line1 = runLine(smoothed, runs[0], n);
  const int64_t limit = setup.angleLimit;
  for (int32_t k = 1; k < r; ++k) {
    if (runs[k].strength < 145 || runs[k].strength < runs[0].strength / 255) return 0;
    const Line line2 = runLine(smoothed, runs[k], n);
    const Angle angle = angleBetween(line1, line2);
    if (angle.degenerate) {
      cstd_assert_(__LINE__);
      return csys_errAssertion;
    }
    if (angle.t < limit) continue;
    const int64_t xq = angle.cross >> 2;
    if (xq == 0) {
      cstd_assert_(__LINE__);
      return csys_errAssertion;
    }
    const int64_t vu = floorDiv(line2.c * line1.b - line1.c * line2.b, xq);
    const int64_t vv = floorDiv(line1.c * line2.a - line2.c * line1.a, xq);

    // The far end of each run: the end point farther from the corner.
    auto farEnd = [&](const Run& run) {
      return distanceSq(halved[run.start], vu, vv) > distanceSq(halved[run.end], vu, vv) ? run.start : run.end;
    };
    const Walk side1 = longerWalk(halved, n, farEnd(runs[0]), line2);
    const Walk side2 = longerWalk(halved, n, farEnd(runs[k]), line1);
    const int64_t len1 = side1.length, len2 = side2.length;
    if (len2 <= 15) continue;
    const int64_t ratio = 100 * len1 / len2;
    const int64_t longer = std::max(len1, len2), shorter = std::min(len1, len2);
    if (longer * longer < 64 * static_cast<int64_t>(runs[0].strength) / 9) continue;
    if (!shapeAccepts(setup, ratio)) continue;

    const Vec V{static_cast<double>(vu), static_cast<double>(vv)};
    const Vec A = intersect(line1, parallelThrough(line2, halved[side1.index]));
    const Vec B = intersect(line2, parallelThrough(line1, halved[side2.index]));
    const Vec D{A.u + B.u - V.u, A.v + B.v - V.v};
    out->corner = V;
    out->sideX = angle.s == 0 ? B : A;
    out->sideY = angle.s == 0 ? A : B;
    out->fourth = D;
    out->parallelogram = 1;

    const int64_t q1 = straightness(runs[0].strength, longer);
    const int64_t q2 = straightness(runs[k].strength, shorter);
    int64_t score = (q1 + q2) / 2;
    if (angle.t < kAngleDefault) score = score * 8 / 10;
    out->score = static_cast<int32_t>(score);

    if (setup.relaxed) {
      csys_status st = relaxedCompletion(smoothed, runs, r, n, k, line1, line2, V, A, B, D, longer, shorter, limit, out);
      if (CSYS_FAILED(st)) return st;
    }
    out->found = true;
    return 0;
  }
  return 0;
}

// The located parallelogram, its final tests and the result fields of a find.
csys_status acceptCandidate(const cimg_windowConst& window, const cid2d_trackingParams& params, const Candidate& cand,
                            bool* accepted, cid2d_trackingResult* result) {
  *accepted = false;
  const cmath_vect p0 = toPixels(cand.corner), p1 = toPixels(cand.sideX), p2 = toPixels(cand.sideY);
  const cmath_vect p3 = toPixels(cand.fourth);
  if (params.allowBorder == 0) {
    const double lastCol = window.x0 + window.width - 1, lastRow = window.y0 + window.height - 1;
    for (const cmath_vect& p : {p0, p1, p2, p3})
      if (!(p.x > window.x0 && p.x < lastCol && p.y > window.y0 && p.y < lastRow)) return 0;
  }
  cmath_shapeAffineRectPoints points;
  cmath_shapeAffineRect rect;
  csys_status st = cmath_shapeAffineRectPoints_init(&points, &p0, &p1, &p2);
  if (CSYS_FAILED(st)) return st;
  st = cmath_shapeAffineRect_initPoints(&rect, &points);
  if (CSYS_FAILED(st)) return st;
  double xLength = 0, yLength = 0;
  st = cmath_shapeAffineRect_getXLength(&rect, &xLength);
  if (CSYS_FAILED(st)) return st;
  st = cmath_shapeAffineRect_getYLength(&rect, &yLength);
  if (CSYS_FAILED(st)) return st;
  if (std::min(xLength, yLength) < params.minSide || std::max(xLength, yLength) > params.maxSide) return 0;

  st = storeCandidate(cand, result);
  if (CSYS_FAILED(st)) return st;
  *accepted = true;
  return 0;
}

}  // namespace

namespace {

// The marking cell of a contour point (1/256 pixel): that of the pixel it rounds to.
inline int32_t cellOf(int32_t coordinate) { return (coordinate + 128) >> 10; }

// Steps 3 to 16 of the search; *found tells the outcome. Rejections return 0.
csys_status searchFromSeed(SearchArgs& s, const cbt_runParams& run, bool* found) {
  const cid2d_trackingParams& params = *s.params;
  cid2d_trackingResult* result = s.result;

  csys_status st = cbt_boundaryTrack(s.image, &run, &result->boundary);
  if (st == cidut_errTrackerNoBoundary) return 0;
  if (CSYS_FAILED(st)) return st;
  const cbt_result& track = result->boundary;
  if ((track.flags & CBT_FLAG_FOUND) == 0) return 0;
  if (track.count == 0) return cidut_errEmptyContour;

  int32_t n = static_cast<int32_t>(std::min<uint32_t>(track.count, kRawContourLimit));
  if (n >= 1000) {
    st = csys_attention_check();
    if (CSYS_FAILED(st)) return st;
  }
  const Scratch scratch = carve(params);
  // The tracker keeps every point in the window. The outline's extent is measured in one loop
  // the compiler vectorises; it tells whether every point lies in the window (rounding to pixels
  // keeps the order of coordinates) and every cell the marking below touches on the marking
  // image. Only when a point is outside does the point-by-point walk run, to stop at it with what
  // came before stored and marked. Otherwise the outline is copied only once it has passed the
  // tests that most outlines fail (too short, too long, touching the border).
  const cbt_point* points = track.points;
  int32_t minX = INT32_MAX, maxX = INT32_MIN, minY = INT32_MAX, maxY = INT32_MIN;
  outlineExtent(points, n, &minX, &maxX, &minY, &maxY);
  const bool allInside = insideWindow(s.window, (minX + 128) >> 8, (minY + 128) >> 8) &&
                         insideWindow(s.window, (maxX + 128) >> 8, (maxY + 128) >> 8);
  // Each point marks one cell, that of the pixel it rounds to; off the marking image it marks
  // none. The seed's own cell is left as the outline leaves it.
  const cimg_window m = s.marking.w;
  const bool cellsOnMarking = s.marking.inside(cellOf(minX), cellOf(minY)) && s.marking.inside(cellOf(maxX), cellOf(maxY));
  if (allInside && cellsOnMarking) {
    for (int32_t i = markCellsWide(m, points, n); i < n; ++i)
      m.pixels[static_cast<ptrdiff_t>(cellOf(points[i].y) - m.y0) * m.stride + (cellOf(points[i].x) - m.x0)] = 1;
  } else if (allInside) {
    for (int32_t i = 0; i < n; ++i) s.marking.set(cellOf(points[i].x), cellOf(points[i].y), 1);
  } else {
    for (int32_t i = 0; i < n; ++i) {
      const int32_t x = points[i].x, y = points[i].y;
      CSYS_REQUIRE(insideWindow(s.window, (x + 128) >> 8, (y + 128) >> 8));
      scratch.contour[i] = Point{(y + 128) >> 4, (x + 128) >> 4};
      s.marking.set(cellOf(x), cellOf(y), 1);
    }
  }
  if (n < 4.0 * params.minSide) return 0;
  if ((track.flags & CBT_FLAG_LIMIT) != 0) return 0;
  if (params.allowBorder == 0 && (track.flags & CBT_FLAG_BORDER) != 0) return 0;
  if (allInside) copyOutline(points, n, scratch.contour);

  int32_t w = 0, h = 0, e = 0;
  st = halveAndMeasure(scratch, &n, &w, &h, &e);
  if (CSYS_FAILED(st)) return st;
  if (!boxAcceptable(s.window, params, w, h, e)) return 0;
  if (5 * static_cast<int64_t>(w) < h || 5 * static_cast<int64_t>(h) < w) return 0;

  const int32_t window = smoothingWindow(w, h, params);
  bool bends = false;
  st = smoothAndBend(scratch, n, window, &bends);
  if (CSYS_FAILED(st) || !bends) return st;

  int32_t runCount = 0;
  st = cid2d_contour_straightRuns(scratch.runs, scratch.curvature, scratch.smoothed, 0, n, window, 64, kRunCapacity,
                                  &runCount);
  if (CSYS_FAILED(st)) return st;
  st = csys_attention_check();
  if (CSYS_FAILED(st)) return st;
  CSYS_REQUIRE(runCount <= kRunCapacity - 1);
  if (runCount < 2) return 0;

  const PairingSetup setup = pairingSetup(params);
  for (int32_t attempt = 0; attempt < params.attempts; ++attempt) {
    if (attempt == 0) {
      st = cid2d_straightRuns_order(scratch.runs, runCount);
      if (CSYS_FAILED(st)) return st;
    } else {
      st = cid2d_straightRuns_merge(scratch.runs, scratch.smoothed, n, runCount, 4 * window, 64);
      if (CSYS_FAILED(st)) return st;
      st = cid2d_straightRuns_order(scratch.runs, runCount);
      if (CSYS_FAILED(st)) return st;
      int32_t trimmed = runCount;
      st = cid2d_straightRuns_trim(scratch.runs, runCount, &trimmed);
      if (CSYS_FAILED(st)) return st;
      if (trimmed >= runCount) break;
      runCount = trimmed;
    }
    Candidate cand;
    st = pairCorner(scratch.contour, scratch.smoothed, scratch.runs, runCount, n, setup, &cand);
    if (CSYS_FAILED(st)) return st;
    st = csys_attention_check();
    if (CSYS_FAILED(st)) return st;
    if (cand.found) {
      bool accepted = false;
      st = acceptCandidate(s.window, params, cand, &accepted, result);
      if (CSYS_FAILED(st)) return st;
      if (accepted) {
        *found = true;
        break;
      }
    }
  }
  if (!*found) return 0;
  return confirmFind(s.image, s.window, s.mask, s.maskXform, result, found);
}

}  // namespace

namespace {

// ---- straight-edge pre-check -----------------------------------------------------------------

constexpr int32_t kChainCapacity = 41;

}  // namespace

extern "C" {

csys_status cf_BndFindDMSymbolFromSeed(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                       const cid2d_trackingSeed* seed, const cbt_runParams* runParams,
                                       cimg_image* markingImage, const cid_mask* mask, void* /*reserved*/,
                                       const cmath_xformLinear* maskXform, cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && seed != nullptr && runParams != nullptr &&
               markingImage != nullptr && result != nullptr);
  cbt_runParams run = *runParams;
  fillRunParams(&run, *params, *seed);
  return runSeedSearch(image, params, seed, markingImage, mask, maskXform, result,
                       [&](SearchArgs& s, bool* found) { return searchFromSeed(s, run, found); });
}

csys_status cf_DcdFindDMSymbolFromSeed(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                       const cid2d_trackingSeed* seed, const cbt_runParams* runParams,
                                       cimg_image* markingImage, const cid_mask* mask, void* reserved,
                                       const cmath_xformLinear* maskXform, cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && seed != nullptr && runParams != nullptr &&
               markingImage != nullptr && result != nullptr);
  CSYS_REQUIRE(scratchUsable(*params));
  cimg_windowConst window;
  csys_status st = cimg_windowConst_init(&window, image);
  if (CSYS_FAILED(st)) return st;
  Marking marking;
  st = cimg_window_init(&marking.w, markingImage);
  if (CSYS_FAILED(st)) return st;

  auto* chain = reinterpret_cast<cid2d_trackingSeed*>(params->scratch);
  int32_t links = 0;
  chain[links++] = *seed;
  const int32_t lastCol = window.x0 + window.width - 1, lastRow = window.y0 + window.height - 1;
  const int32_t m2 = 2 * seed->mean;
  const int32_t minStep = std::max(seed->strength / 2, 45);
  int32_t firstStop = 0;
  // Set once: the downward pass starts from the column where the upward one last matched.
  int32_t lastX = seed->x;

  for (int dir = -1; dir <= 1; dir += 2) {
    const int32_t stepLimit = dir < 0 ? 40 : 40 - firstStop;
    int misses = 0;
    int32_t step = 1;
    for (; step < stepLimit; ++step) {
      const int32_t y = seed->y + dir * 4 * step;
      if (y < window.y0 || y > lastRow) break;
      const uint8_t* row = window.pixels + static_cast<ptrdiff_t>(y - window.y0) * window.stride - window.x0;
      bool matched = false;
      for (int k = 0; k <= 12 && !matched; ++k) {
        const int32_t x = lastX + ((k & 1) ? -(k + 1) / 2 : k / 2);
        if (x - 2 < window.x0 || x + 3 > lastCol) continue;
        const int32_t a = row[x + 1] + row[x + 2];
        const int32_t b = row[x - 1] + row[x];
        const int32_t g = (row[x + 1] + row[x + 2] + row[x + 3]) - (row[x - 2] + row[x - 1] + row[x]);
        const bool match = seed->polarity != 0 ? (a > m2 && m2 > b && g > minStep)
                                               : (a < m2 && m2 < b && g < -minStep);
        if (!match) continue;
        matched = true;
        cid2d_trackingSeed link{};
        link.x = x;
        link.y = y;
        link.strength = g;
        link.mean = (a + b) / 4;
        link.line = seed->line;
        link.polarity = seed->polarity;
        link.startA[0] = (x + 1) * 256;
        link.startA[1] = y * 256;
        link.startB[0] = (x - 1) * 256;
        link.startB[1] = y * 256;
        bool straight = links < 2;
        if (!straight) {
          const cid2d_trackingSeed& last = chain[links - 1];
          const cid2d_trackingSeed& prev = chain[links - 2];
          const int64_t cross = static_cast<int64_t>(last.y - prev.y) * (x - last.x) -
                                static_cast<int64_t>(last.x - prev.x) * (y - last.y);
          straight = cross < 4;
        }
        if (straight && links < kChainCapacity) chain[links++] = link;
        lastX = x;
      }
      if (!matched && ++misses >= 2) break;
    }
    if (dir < 0) {
      firstStop = step;
      for (int32_t i = 0, j = links - 1; i < j; ++i, --j) std::swap(chain[i], chain[j]);
    }
  }

  if (links <= 5) return 0;
  marking.set(seed->x >> 2, seed->y >> 2, 0);
  return cf_BndFindDMSymbolFromSeed(image, params, seed, runParams, markingImage, mask, reserved, maskXform, result);
}

}  // extern "C"
