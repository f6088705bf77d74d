// PDF417 search from a seed edge: track the blob the seed bounds, reduce its outline to a few
// straight runs, and build the quadrilateral either from four short runs directly or from the
// longest run, a run perpendicular to it and the convex hull of the outline.
#include "ci_id/pdpsearch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "base/cmath_affineRect.h"
#include "ci_id/contourruns.h"
#include "ci_id/priv/ci_idut/seedsearch.hpp"
#include "ci_id/status.h"

namespace {

using namespace cid2d_seed;

constexpr int64_t kPerpendicular = 2748;  // 70 degrees
constexpr int64_t kParallel = 177;        // 10 degrees
constexpr int64_t kFitCorner = 1804;      // 61 degrees
constexpr int32_t kShortEdge = 61;        // hull edge, L1 in 1/16 pixel

inline int64_t l1(const Point& a, const Point& b) {
  return iabs(static_cast<int64_t>(a.u) - b.u) + iabs(static_cast<int64_t>(a.v) - b.v);
}

// Points covered by a run: start ... (end - 1) mod n.
inline int64_t coveredPoints(const Run& r, int32_t n) {
  const int64_t e = wrap(static_cast<int64_t>(r.end) - 1, n);
  return e >= r.start ? e - r.start + 1 : n - r.start + e + 1;
}

// ---- runs ------------------------------------------------------------------------------------

// The straight runs of the smoothed outline in contour order, with two additions to the plain
// routine: a last run that wraps past the start into the first run is joined to it when the two
// make one straight stretch, and an outline where only two runs survived beside exactly four
// short stretches of 3 or more points (and at most eight of 2 or more) is reported as three runs,
// the third being the empty terminator: a small symbol whose short sides are too short to be
// runs.
csys_status pdpRuns(const Scratch& sc, int32_t n, int32_t minLength, int32_t threshold, int32_t* runCount) {
  cid2d_droppedRuns dropped{};
  int32_t k = 0;
  csys_status st = cid2d_contour_straightRunsCounted(sc.runs, sc.curvature, sc.smoothed, 0, n, minLength, threshold,
                                                     kRunCapacity, &k, &dropped);
  if (CSYS_FAILED(st)) return st;
  if (k >= 2) {
    Run& first = sc.runs[0];
    const Run& last = sc.runs[k - 1];
    if (last.end < last.start && first.start <= last.end && last.end <= first.end) {
      const int32_t len = wrap(static_cast<int64_t>(first.end) - last.start, n);
      const int32_t mid = wrap(static_cast<int64_t>(last.start) + len / 2, n);
      int64_t deviation = 0;
      st = cid2d_contour_chordDeviation(sc.smoothed, last.start, first.end, mid, &deviation);
      if (CSYS_FAILED(st)) return st;
      if (deviation < 9 * static_cast<int64_t>(threshold)) {
        int64_t strength = 0;
        st = cid2d_contour_distanceSq(&sc.smoothed[last.start], &sc.smoothed[first.end], &strength);
        if (CSYS_FAILED(st)) return st;
        first.start = last.start;
        first.strength = static_cast<int32_t>(std::min<int64_t>(strength, INT32_MAX));
        --k;
        sc.runs[k] = Run{0, 0, 0};
      }
    }
  }
  if (k == 2 && dropped.atLeast3 == 4 && dropped.atLeast2 <= 8) k = 3;
  *runCount = k;
  return 0;
}

// ---- four-run fit ----------------------------------------------------------------------------

// Four short runs in contour order, each pair of neighbours at a clear corner: the corners are
// the crossings of consecutive run lines.
csys_status fourRunFit(const Scratch& sc, int32_t n, Candidate* out) {
  out->found = false;
  const Run* runs = sc.runs;
  if (runs[0].strength <= 143) return 0;
  for (int i = 0; i < 3; ++i)
    if (runs[i].strength >= 785) return 0;
  int64_t covered = 0;
  for (int i = 0; i < 4; ++i) covered += coveredPoints(runs[i], n);
  if (covered <= n / 3 - 1) return 0;

  Line lines[4];
  for (int i = 0; i < 4; ++i) lines[i] = runLine(sc.smoothed, runs[i], n);
  int64_t t[4];
  for (int i = 0; i < 4; ++i) {
    // Short runs of a noisy outline can lie on one line (t = 0) or collapse to a point
    // (degenerate): no corner there, so the fit fails like any other flat corner.
    const Angle a = angleBetween(lines[i], lines[(i + 1) % 4]);
    if (a.degenerate || a.t < kFitCorner) return 0;
    t[i] = a.t;
  }
  for (int i = 0; i < 4; ++i)
    if (t[i] < 2475 && !(t[(i + 2) % 4] < t[i] + 3200)) return 0;

  out->corner = intersect(lines[1], lines[2]);
  out->sideX = intersect(lines[0], lines[1]);
  out->sideY = intersect(lines[2], lines[3]);
  out->fourth = intersect(lines[3], lines[0]);
  out->parallelogram = 0;
  out->score = 700;
  out->found = true;
  return 0;
}

// ---- convex hull -----------------------------------------------------------------------------

// Turn of o -> a -> b with v as the first and u as the second axis: positive is a left turn in
// the order the angular keys sort.
inline int64_t turn(const Point& o, const Point& a, const Point& b) {
  return (static_cast<int64_t>(a.v) - o.v) * (static_cast<int64_t>(b.u) - o.u) -
         (static_cast<int64_t>(a.u) - o.u) * (static_cast<int64_t>(b.v) - o.v);
}

// Angular key of p about the pivot (which has the smallest u): the slope du / dv scaled by 10000,
// moved past the axis when negative, so keys grow with the angle from +v through +u to -v.
inline int64_t angularKey(const Point& pivot, const Point& p) {
  const int64_t du = static_cast<int64_t>(p.u) - pivot.u, dv = static_cast<int64_t>(p.v) - pivot.v;
  if (dv != 0) {
    const int64_t q = floorDiv(10000 * du, dv);
    return q < 0 ? q + 2 * 1073741823LL : q;
  }
  return du != 0 ? 1073741823LL : 0;
}

// Graham scan in place over points (count updated). Sorting takes no memory of its own.
csys_status convexHull(Point* points, int32_t* count) {
  int32_t n = *count;
  if (n < 3) return 0;
  int32_t pivot = 0;
  for (int32_t i = 1; i < n; ++i)
    if (points[i].u < points[pivot].u || (points[i].u == points[pivot].u && points[i].v < points[pivot].v)) pivot = i;
  std::swap(points[0], points[pivot]);
  const Point p0 = points[0];
  auto distSq = [&](const Point& p) {
    const int64_t du = static_cast<int64_t>(p.u) - p0.u, dv = static_cast<int64_t>(p.v) - p0.v;
    return du * du + dv * dv;
  };
  std::sort(points + 1, points + n, [&](const Point& a, const Point& b) {
    const int64_t ka = angularKey(p0, a), kb = angularKey(p0, b);
    return ka != kb ? ka < kb : distSq(a) < distSq(b);
  });
  int32_t h = 2;
  for (int32_t i = 2; i < n; ++i) {
    while (h >= 2 && turn(points[h - 2], points[h - 1], points[i]) <= 0) --h;
    points[h++] = points[i];
  }
  while (h >= 3 && turn(points[h - 2], points[h - 1], points[0]) <= 0) --h;
  *count = h;
  return csys_attention_check();
}

// ---- hull construction -----------------------------------------------------------------------

// Crossing of the line through p1, q1 with the line through p2, q2, the points taken in 1/8
// pixel; 1/16 pixel, or false for parallel lines.
bool crossing8(const Point& p1, const Point& q1, const Point& p2, const Point& q2, Vec* out) {
  const double x1 = p1.v >> 1, y1 = p1.u >> 1, dx1 = (q1.v >> 1) - x1, dy1 = (q1.u >> 1) - y1;
  const double x2 = p2.v >> 1, y2 = p2.u >> 1, dx2 = (q2.v >> 1) - x2, dy2 = (q2.u >> 1) - y2;
  const double det = dx1 * dy2 - dy1 * dx2;
  if (det == 0) return false;
  const double s = ((x2 - x1) * dy2 - (y2 - y1) * dx2) / det;
  out->v = 2 * (x1 + s * dx1);
  out->u = 2 * (y1 + s * dy1);
  return true;
}

// Crossing of the line through a with direction da and the line through b with direction db,
// 1/16 pixel; false for (nearly) parallel directions.
bool crossingDir(const Vec& a, const Vec& da, const Vec& b, const Vec& db, Vec* out) {
  const double det = da.v * db.u - da.u * db.v;
  if (std::fabs(det) < 1e-12) return false;
  const double s = ((b.v - a.v) * db.u - (b.u - a.u) * db.v) / det;
  out->v = a.v + s * da.v;
  out->u = a.u + s * da.u;
  return true;
}

inline Vec vecOf(const Point& p) { return Vec{static_cast<double>(p.u), static_cast<double>(p.v)}; }

int32_t nearestVertex(const Point* hull, int32_t h, const Point& p) {
  int32_t best = 0;
  for (int32_t i = 1; i < h; ++i)
    if (l1(hull[i], p) < l1(hull[best], p)) best = i;
  return best;
}

// The side lengths of the rectangle P0, P1, P2 (pixels), or degenerate.
csys_status rectangleTooSmall(const Vec& p0, const Vec& p1, const Vec& p2, int64_t m, bool* small) {
  const cmath_vect a = toPixels(p0), b = toPixels(p1), c = toPixels(p2);
  cmath_shapeAffineRectPoints points;
  cmath_shapeAffineRect rect;
  csys_status st = cmath_shapeAffineRectPoints_init(&points, &a, &b, &c);
  if (CSYS_FAILED(st)) return st;
  st = cmath_shapeAffineRect_initPoints(&rect, &points);
  if (CSYS_FAILED(st)) return st;
  uint32_t degenerate = 0;
  st = cmath_shapeAffineRect_getIsDegenerate(&rect, &degenerate);
  if (CSYS_FAILED(st)) return st;
  double xl = 0, yl = 0;
  st = cmath_shapeAffineRect_getXLength(&rect, &xl);
  if (CSYS_FAILED(st)) return st;
  st = cmath_shapeAffineRect_getYLength(&rect, &yl);
  if (CSYS_FAILED(st)) return st;
  *small = degenerate != 0 || 3 * xl * xl < static_cast<double>(m) || 3 * yl * yl < static_cast<double>(m);
  return 0;
}

// The longest run and the first run nearly perpendicular to it give the corner and two sides;
// the hull edges on the far side of the outline give the other two.
csys_status hullConstruction(const Scratch& sc, int32_t n, int32_t r, Candidate* out) {
  out->found = false;
  Run* runs = sc.runs;
  csys_status st = cid2d_straightRuns_order(runs, r);
  if (CSYS_FAILED(st)) return st;
  const Line line0 = runLine(sc.smoothed, runs[0], n);
  int32_t k = 0;
  for (int32_t j = 1; j < r && k == 0; ++j) {
    const Angle a = angleBetween(line0, runLine(sc.smoothed, runs[j], n));
    if (!a.degenerate && a.t >= kPerpendicular) k = j;
  }
  if (k == 0) return 0;
  const Run run0 = runs[0], runK = runs[k];
  const int64_t m = ((static_cast<int64_t>(run0.strength) + runK.strength) / 2) >> 4;
  const Point s0 = sc.smoothed[run0.start], e0 = sc.smoothed[run0.end];
  const Point sk = sc.smoothed[runK.start], ek = sc.smoothed[runK.end];
  const Point e0m = sc.smoothed[wrap(static_cast<int64_t>(run0.end) - 1, n)];
  const Point ekm = sc.smoothed[wrap(static_cast<int64_t>(runK.end) - 1, n)];
  const bool leadsIn = l1(sk, e0) < l1(s0, ek);  // run 0 runs into run k
  const Point farA = leadsIn ? s0 : sk, farB = leadsIn ? ek : e0, corner = leadsIn ? e0 : ek;

  // The hull overwrites the smoothed outline: everything needed from it is read above.
  Point* hull = sc.smoothed;
  std::copy(sc.contour, sc.contour + n, hull);
  int32_t h = n;
  st = convexHull(hull, &h);
  if (CSYS_FAILED(st)) return st;
  if (h < 4) return 0;
  const int32_t va = nearestVertex(hull, h, farA), vb = nearestVertex(hull, h, farB);
  const int32_t vc = nearestVertex(hull, h, corner);
  if (va == vb || va == vc || vb == vc) return 0;
  const int32_t i1 = std::min(va, vb), i2 = std::max(va, vb);
  // The arc from i1 to i2 that avoids the corner vertex.
  const bool inner = !(i1 < vc && vc < i2);
  const int32_t from = inner ? i1 : i2, to = inner ? i2 : i1;
  if (wrap(static_cast<int64_t>(to) - from, h) >= kRunCapacity) return 0;  // more edges than the run area holds
  int32_t edges = 0;
  for (int32_t v = from; v != to; v = (v + 1) % h) {
    const int32_t w = (v + 1) % h;
    runs[edges++] = Run{v, static_cast<int32_t>(std::min<int64_t>(l1(hull[v], hull[w]), INT32_MAX)), w};
  }
  runs[edges] = Run{0, 0, 0};
  st = cid2d_straightRuns_order(runs, edges);
  if (CSYS_FAILED(st)) return st;

  int32_t par = -1, perp = -1;
  for (int32_t i = 0; i < edges && (par < 0 || perp < 0); ++i) {
    const Angle a = angleBetween(line0, lineThrough(hull[runs[i].start], hull[runs[i].end]));
    if (a.degenerate) continue;
    if (par < 0 && a.t < kParallel) par = i;
    if (perp < 0 && a.t >= kPerpendicular) perp = i;
  }
  if (par < 0 || perp < 0) return 0;
  bool isShort = runs[par].strength < kShortEdge || runs[perp].strength < kShortEdge;
  bool haveRect = false;
  if (!isShort) {
    const Point& pa = hull[runs[par].start];
    const Point& pb = hull[runs[par].end];
    const Point& qa = hull[runs[perp].start];
    const Point& qb = hull[runs[perp].end];
    Vec p0, p1, p2, p3;
    if (!crossing8(s0, e0m, sk, ekm, &p0) || !crossing8(pa, pb, sk, ekm, &p1) || !crossing8(s0, e0m, qa, qb, &p2) ||
        !crossing8(pa, pb, qa, qb, &p3))
      return 0;
    out->corner = p0;
    out->sideX = p1;
    out->sideY = p2;
    out->fourth = p3;
    out->parallelogram = 0;
    haveRect = true;
    bool small = false;
    st = rectangleTooSmall(p0, p1, p2, m, &small);
    if (CSYS_FAILED(st)) return st;
    isShort = small;
  }
  if (isShort) {
    // The far sides through the hull points farthest from the two runs.
    const Vec d0{static_cast<double>(e0.u) - s0.u, static_cast<double>(e0.v) - s0.v};
    const Vec dk{static_cast<double>(ek.u) - sk.u, static_cast<double>(ek.v) - sk.v};
    auto farthest = [&](const Point& from, const Vec& d) {
      int32_t best = runs[0].start;
      double bestDist = -1;
      for (int32_t i = 0; i < edges; ++i) {
        const Point& p = hull[runs[i].start];
        const double du = static_cast<double>((static_cast<int64_t>(p.u) - from.u) >> 2);
        const double dv = static_cast<double>((static_cast<int64_t>(p.v) - from.v) >> 2);
        const double dist = std::fabs(d.v * du - d.u * dv);
        if (dist > bestDist) {
          bestDist = dist;
          best = runs[i].start;
        }
      }
      return hull[best];
    };
    const Point f0 = farthest(s0, d0), fk = farthest(sk, dk);
    Vec p0, p1, p2;
    if (crossingDir(vecOf(s0), d0, vecOf(sk), dk, &p0) && crossingDir(vecOf(f0), d0, vecOf(sk), dk, &p1) &&
        crossingDir(vecOf(s0), d0, vecOf(fk), dk, &p2)) {
      out->corner = p0;
      out->sideX = p1;
      out->sideY = p2;
      out->fourth = Vec{p1.u + p2.u - p0.u, p1.v + p2.v - p0.v};
      out->parallelogram = 1;
      haveRect = true;
    }
  }
  if (!haveRect) return 0;
  out->score = 700;
  out->found = true;
  return 0;
}

// ---- the search ------------------------------------------------------------------------------

int32_t smoothingWindow(int32_t w, int32_t h, const cid2d_trackingParams& params) {
  int32_t window = static_cast<int32_t>((4 * static_cast<int64_t>(std::min(w, h)) + 21) / 42);
  const auto floorMin = static_cast<int32_t>(std::floor(params.minSmoothing));
  if (window <= floorMin) window = floorMin;
  return std::min(window, 25);
}

csys_status pdpSearch(SearchArgs& s, const cbt_runParams& run, int32_t singleTry, bool* found) {
  const cid2d_trackingParams& params = *s.params;
  const cid2d_trackingSeed& seed = *s.seed;
  cid2d_trackingResult* result = s.result;

  const csys_status tracked = cbt_boundaryTrack(s.image, &run, &result->boundary);
  if (CSYS_FAILED(tracked) && tracked != cidut_errTrackerNoBoundary) return tracked;
  csys_status st = csys_attention_check();
  if (CSYS_FAILED(st)) return st;
  ++result->trackerRuns;
  if (tracked == cidut_errTrackerNoBoundary) return 0;
  s.marking.set(seed.x >> 2, seed.y >> 2, 1);
  const cbt_result& track = result->boundary;
  if ((track.flags & CBT_FLAG_FOUND) == 0) return 0;
  if (track.count == 0) return cidut_errEmptyContour;

  int32_t n = static_cast<int32_t>(std::min<uint32_t>(track.count, kRawContourLimit));
  const Scratch sc = carve(params);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = track.points[i].x, y = track.points[i].y;
    CSYS_REQUIRE(insideWindow(s.window, (x + 128) >> 8, (y + 128) >> 8));
    sc.contour[i] = Point{(y + 128) >> 4, (x + 128) >> 4};
  }
  if (n < 8.0 * params.minSide / 3.0) return 0;
  if ((track.flags & CBT_FLAG_LIMIT) != 0) return 0;
  // An outline closed along the border is kept only when its ends meet.
  if (params.allowBorder == 0 && (track.flags & CBT_FLAG_BORDER) != 0 && l1(sc.contour[0], sc.contour[n - 1]) > 24)
    return 0;

  int32_t w = 0, h = 0, e = 0;
  st = halveAndMeasure(sc, &n, &w, &h, &e);
  if (CSYS_FAILED(st)) return st;
  if (!boxAcceptable(s.window, params, w, h, e)) return 0;
  if (3 * static_cast<int64_t>(w) < h || 3 * static_cast<int64_t>(h) < w) return 0;

  const int32_t window = smoothingWindow(w, h, params);
  st = cid2d_contour_smooth(sc.smoothed, sc.contour, n, window);
  if (CSYS_FAILED(st)) return st;
  int32_t maxCurvature = 0;
  st = cid2d_contour_curvature(sc.curvature, sc.smoothed, n, 2 * window, &maxCurvature);
  if (CSYS_FAILED(st)) return st;
  const int32_t threshold = window < 3 ? 60 : 16 * std::min((3 * window + 1) / 2, 7) + 12;
  if (maxCurvature < 32) return 0;

  int32_t runCount = 0;
  st = pdpRuns(sc, n, window < 5 ? window : window - 1, threshold, &runCount);
  if (CSYS_FAILED(st)) return st;
  st = csys_attention_check();
  if (CSYS_FAILED(st)) return st;
  CSYS_REQUIRE(runCount <= kRunCapacity - 1);
  // A flat outline (rounded by blur) gets a second chance with a threshold below its bends.
  if (window > 2 && runCount < 3 && maxCurvature < 2 * threshold - 20) {
    st = pdpRuns(sc, n, window < 4 ? window : window - 1, std::max(maxCurvature / 2, 48), &runCount);
    if (CSYS_FAILED(st)) return st;
  }
  if (runCount < 3 || runCount > 8) return 0;

  Candidate cand;
  if (runCount == 4) {
    st = fourRunFit(sc, n, &cand);
    if (CSYS_FAILED(st)) return st;
  }
  if (!cand.found && (runCount != 4 || singleTry != 0)) {
    st = hullConstruction(sc, n, runCount, &cand);
    if (CSYS_FAILED(st)) return st;
  }
  if (!cand.found) return 0;
  st = storeCandidate(cand, result);
  if (CSYS_FAILED(st)) return st;
  *found = true;
  return confirmFind(s.image, s.window, s.mask, s.maskXform, result, found);
}

}  // namespace

extern "C" {

csys_status cf_BndFindPDPSymbolFromSeed(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                        const cid2d_trackingSeed* seed, const cbt_runParams* runParams,
                                        cimg_image* markingImage, int32_t singleTry, const cid_mask* mask,
                                        void* /*reserved*/, const cmath_xformLinear* maskXform,
                                        cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && seed != nullptr && runParams != nullptr &&
               markingImage != nullptr && result != nullptr);
  cbt_runParams run = *runParams;
  fillRunParams(&run, *params, *seed);
  return runSeedSearch(image, params, seed, markingImage, mask, maskXform, result,
                       [&](SearchArgs& s, bool* found) { return pdpSearch(s, run, singleTry, found); });
}

}  // extern "C"
