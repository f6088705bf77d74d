// Clipping scan shapes to the usable rectangle, checked against a brute-force walk of each
// shape in small windows, and the fractional Bresenham step.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ci_id/scanclip.h"
#include "ci_id/scanwalk.h"
#include "support/assert_recorder.hpp"

namespace {

enum class Kind { line, segment, ray };

struct Shape {
  Kind kind = Kind::line;
  cidc_scanLine line{};
  cidc_scanLineSeg seg{};
  cidc_scanRay ray{};
  cidc_scanShape tagged{};
  bool axis() const { return line.dir.x == 0 || line.dir.y == 0; }
};

struct Rect {
  double x0, y0, x1, y1;
  bool contains(double x, double y, double grow) const {
    return x >= x0 - grow && x <= x1 + grow && y >= y0 - grow && y <= y1 + grow;
  }
};

// The brute-force walk of the original: its points (every 1/4 unit) near the rectangle, and
// the along-line extent, (q - foot) . dir in 1/16 pixel, of those inside it.
struct Walk {
  std::vector<std::array<double, 3>> points;  // x, y, 1 when inside the rectangle
  bool any = false;
  double lo = 1e300, hi = -1e300;
};

Walk walkOriginal(const Shape& s, const Rect& r, double grow, bool backwards = false) {
  const double dx = s.line.dir.x / 65536.0, dy = s.line.dir.y / 65536.0, n = std::hypot(dx, dy);
  const double ux = dx / n, uy = dy / n, fx = double(s.line.footPoint.x), fy = double(s.line.footPoint.y);
  double bx = fx, by = fy, ex = ux, ey = uy, t0 = -800, t1 = 800;
  if (s.kind == Kind::segment) {  // the chord between the two end points
    bx = double(s.seg.endPoint[0].x), by = double(s.seg.endPoint[0].y);
    ex = double(s.seg.endPoint[1].x) - bx, ey = double(s.seg.endPoint[1].y) - by;
    t0 = 0, t1 = 1;
  } else if (s.kind == Kind::ray && r.contains(double(s.ray.origin.x), double(s.ray.origin.y), 0)) {
    // The ray's own line from the origin's foot on it; else the whole line counts.
    const double a = (double(s.ray.origin.x) - fx) * ux + (double(s.ray.origin.y) - fy) * uy;
    bx = fx + a * ux, by = fy + a * uy;
    (backwards ? t1 : t0) = 0;
  }
  Walk walk;
  const int steps = std::max(1, int(std::hypot(ex, ey) * (t1 - t0) * 4));
  for (int i = 0; i <= steps; ++i) {
    const double t = t0 + (t1 - t0) * i / steps, x = bx + t * ex, y = by + t * ey;
    if (!r.contains(x, y, grow + 1)) continue;
    const bool in = r.contains(x, y, 0);
    walk.points.push_back({x, y, in ? 1.0 : 0.0});
    if (!in) continue;
    const double a = (x - fx) * ux + (y - fy) * uy;
    walk.any = true;
    walk.lo = std::min(walk.lo, a);
    walk.hi = std::max(walk.hi, a);
  }
  return walk;
}

double distanceToSegment(double x, double y, const cidc_scanLineSeg& s) {
  const double ax = double(s.endPoint[0].x), ay = double(s.endPoint[0].y);
  const double bx = double(s.endPoint[1].x) - ax, by = double(s.endPoint[1].y) - ay, l2 = bx * bx + by * by;
  const double t = l2 > 0 ? std::clamp(((x - ax) * bx + (y - ay) * by) / l2, 0.0, 1.0) : 0.0;
  return std::hypot(x - ax - t * bx, y - ay - t * by);
}

// The clip keeps every point the walk found inside, its ends lie on the original near the
// rectangle (so it keeps nothing more), inside it up to the truncation of cut positions, and
// their pixels are usable. A cut is truncated towards keeping more, so a kept end lies at most
// 1.5 units inside the exact one.
void checkClip(const Shape& s, const cidc_windowROI& roi, std::string what) {
  const Rect r{double(roi.firstCentre[0]), double(roi.firstCentre[1]), double(roi.lastCentre[0]),
               double(roi.lastCentre[1])};
  const double tol = s.axis() ? 0 : 3;
  cidc_scanLineSeg out;
  AssertRecorder rec;
  ASSERT_EQ(cidc_scanShape_clip(&s.tagged, &roi, &out), 0) << what;
  ASSERT_EQ(rec.count(), 0u) << what;
  what += " rect " + std::to_string(r.x0) + "," + std::to_string(r.y0) + " " + std::to_string(r.x1) + "," +
          std::to_string(r.y1) + " clip " + std::to_string(out.endPoint[0].x) + "," + std::to_string(out.endPoint[0].y) +
          " " + std::to_string(out.endPoint[1].x) + "," + std::to_string(out.endPoint[1].y);
  Walk walk = walkOriginal(s, r, tol);
  // A ray starting where the line leaves the rectangle keeps the stretch before its origin
  // (which of the two an origin within a unit of the exit gets is the clip's rounding).
  const bool fromOrigin = out.endPoint[0].x == s.ray.origin.x && out.endPoint[0].y == s.ray.origin.y;
  if (s.kind == Kind::ray && (!walk.any || walk.hi - walk.lo < 1) && !fromOrigin) walk = walkOriginal(s, r, tol, true);
  const bool zeroLength = s.kind == Kind::segment && s.seg.endPoint[0].x == s.seg.endPoint[1].x &&
                          s.seg.endPoint[0].y == s.seg.endPoint[1].y;
  if (out.isDegenerate) {
    EXPECT_TRUE(!walk.any || walk.hi - walk.lo <= 2 * tol || zeroLength) << what << " lost " << walk.lo << ".." << walk.hi;
    return;
  }
  ASSERT_FALSE(zeroLength) << what;
  for (int e = 0; e < 2; ++e) {
    const double x = double(out.endPoint[e].x), y = double(out.endPoint[e].y);
    EXPECT_TRUE(r.contains(x, y, s.axis() ? 0 : 2)) << what << " end " << e;
    EXPECT_TRUE(out.endPixel[e][0] >= roi.colBegin && out.endPixel[e][0] < roi.colEnd &&
                out.endPixel[e][1] >= roi.rowBegin && out.endPixel[e][1] < roi.rowEnd)
        << what << " end pixel " << e;
    double nearest = 1e300;
    for (const auto& p : walk.points) nearest = std::min(nearest, std::hypot(p[0] - x, p[1] - y));
    EXPECT_LE(nearest, tol + 0.5) << what << " end " << e << " is not on the original";
  }
  // A ray's origin sits as far off its line as the rounding of the line's foot put it.
  const double ox = double(s.ray.origin.x - s.line.footPoint.x), oy = double(s.ray.origin.y - s.line.footPoint.y);
  const double offLine = s.kind == Kind::ray ? std::abs(ox * s.line.dir.y - oy * s.line.dir.x) / 65536.0 : 0.0;
  for (const auto& p : walk.points) {
    if (p[2] == 0) continue;
    ASSERT_LE(distanceToSegment(p[0], p[1], out), tol / 2 + offLine + 1e-6) << what << " lost " << p[0] << "," << p[1];
  }
  EXPECT_EQ(std::memcmp(&out.line, &s.line, sizeof s.line), 0) << what << " changed line";
}

cidc_unitDir16 randomDir(std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, 9), comp(-70000, 70000);
  cidc_unitDir16 d;
  switch (pick(rng)) {
    case 0: d = {65536, 0}; break;
    case 1: d = {-65536, 0}; break;
    case 2: d = {0, 65536}; break;
    case 3: d = {0, -65536}; break;
    case 4: cidc_unitDir16_initVect(&d, comp(rng) % 5 + 1000, comp(rng) % 3); break;  // nearly axis-parallel
    default: {
      int32_t dx = comp(rng), dy = comp(rng);
      if (dx == 0 && dy == 0) dx = 1;
      cidc_unitDir16_initVect(&d, dx, dy);
    }
  }
  return d;
}

}  // namespace

TEST(ScanClip, ShapesKeepExactlyWhatLiesInsideSmallWindows) {
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int> size(4, 12), margin(0, 2), shift(-6, 6), kindPick(0, 2);
  int kept = 0, empty = 0;
  for (int w = 0; w < 300; ++w) {
    cidc_windowROI roi;
    const int32_t W = size(rng), H = size(rng), mx = margin(rng) % std::max(1, (W - 2) / 2),
                  my = margin(rng) % std::max(1, (H - 2) / 2), cx = shift(rng), cy = shift(rng);
    ASSERT_EQ(cidc_windowROI_init(&roi, W, H, cx, cy, mx, my, cx + shift(rng), cy + shift(rng)), 0);
    const int64_t x0 = roi.firstCentre[0], y0 = roi.firstCentre[1], x1 = roi.lastCentre[0], y1 = roi.lastCentre[1];
    std::uniform_int_distribution<int64_t> px(x0 - 64, x1 + 64), py(y0 - 64, y1 + 64), nudge(-2, 2);
    // Random points, the corners themselves and points on the sides: corner-touching and
    // edge-running shapes come up often.
    auto point = [&](int i) -> cidc_vect64_4 {
      switch (i % 4) {
        case 0: return {(i & 4) ? x0 : x1, (i & 8) ? y0 : y1};
        case 1: return {(i & 4) ? x0 + nudge(rng) : x1 + nudge(rng), py(rng)};
        case 2: return {px(rng), (i & 4) ? y0 + nudge(rng) : y1 + nudge(rng)};
        default: return {px(rng), py(rng)};
      }
    };
    for (int i = 0; i < 120; ++i) {
      Shape s;
      s.kind = Kind(kindPick(rng));
      const cidc_vect64_4 p = point(i * 7 + w), q = point(i * 5 + 3 + w);
      const cidc_unitDir16 d = randomDir(rng);
      if (s.kind == Kind::segment) {
        const cidc_vect64_4 pts[2] = {p, (i % 9 == 0) ? cidc_vect64_4{p.x + nudge(rng) * 9, q.y} : q};
        ASSERT_EQ(cidc_scanLineSeg_initPoints(&s.seg, pts, nullptr), 0);
        s.line = s.seg.line;
        cidc_scanShape_initScanLineSeg(&s.tagged, &s.seg);
      } else if (s.kind == Kind::ray) {
        ASSERT_EQ(cidc_scanRay_initPointDir(&s.ray, &p, &d, nullptr), 0);
        s.line = s.ray.line;
        cidc_scanShape_initScanRay(&s.tagged, &s.ray);
      } else {
        ASSERT_EQ(cidc_scanLine_initPointDir(&s.line, &p, &d), 0);
        cidc_scanShape_initScanLine(&s.tagged, &s.line);
      }
      const std::string what = "window " + std::to_string(w) + " shape " + std::to_string(i) + " kind " +
                               std::to_string(int(s.kind)) + " dir " + std::to_string(s.line.dir.x) + "," +
                               std::to_string(s.line.dir.y) + " at " + std::to_string(p.x) + "," + std::to_string(p.y);
      checkClip(s, roi, what);
      if (HasFatalFailure() || HasNonfatalFailure()) return;
      cidc_scanLineSeg out;
      cidc_scanShape_clip(&s.tagged, &roi, &out);
      (out.isDegenerate ? empty : kept) += 1;
    }
  }
  // Both outcomes are exercised in earnest.
  EXPECT_GT(kept, 8000);
  EXPECT_GT(empty, 4000);
}

TEST(ScanClip, BoundsAreInclusiveAndMisuseLeavesTheOutputAlone) {
  cidc_windowROI roi;
  ASSERT_EQ(cidc_windowROI_initCorner(&roi, 10, 8, 0, 0, 1, 1), 0);
  struct Row { int64_t y; bool kept; };
  for (const Row& row : {Row{roi.lastCentre[1], true}, Row{roi.lastCentre[1] + 1, false},
                         Row{roi.firstCentre[1], true}, Row{roi.firstCentre[1] - 1, false}}) {
    cidc_scanLine line;
    const cidc_vect64_4 p{0, row.y};
    const cidc_unitDir16 d{-65536, 0};
    ASSERT_EQ(cidc_scanLine_initPointDir(&line, &p, &d), 0);
    cidc_scanLineSeg out;
    ASSERT_EQ(cidc_scanLine_clip(&line, &roi, &out), 0);
    EXPECT_EQ(out.isDegenerate == 0, row.kept) << row.y;
    if (row.kept) {
      EXPECT_EQ(out.endPoint[0].x, roi.lastCentre[0]);  // travels right to left
      EXPECT_EQ(out.endPoint[1].x, roi.firstCentre[0]);
    }
  }
  // A ray that starts inside runs from its origin to where the line leaves; one that starts
  // where the line leaves keeps the stretch from the entry to its origin.
  cidc_scanRay ray;
  const cidc_vect64_4 o{roi.firstCentre[0] + 40, roi.firstCentre[1] + 8};
  const cidc_unitDir16 d{65536, 0};
  ASSERT_EQ(cidc_scanRay_initPointDir(&ray, &o, &d, nullptr), 0);
  cidc_scanLineSeg out;
  ASSERT_EQ(cidc_scanRay_clip(&ray, &roi, &out), 0);
  EXPECT_EQ(out.endPoint[0].x, o.x);
  EXPECT_EQ(out.endPoint[1].x, roi.lastCentre[0]);
  const cidc_vect64_4 atExit{roi.lastCentre[0], o.y};
  ASSERT_EQ(cidc_scanRay_initPointDir(&ray, &atExit, &d, nullptr), 0);
  ASSERT_EQ(cidc_scanRay_clip(&ray, &roi, &out), 0);
  EXPECT_EQ(out.endPoint[0].x, roi.firstCentre[0]);
  EXPECT_EQ(out.endPoint[1].x, atExit.x);

  AssertRecorder rec;
  cidc_scanLineSeg untouched;
  ASSERT_EQ(cidc_scanLineSeg_initDegen(&untouched), 0);
  untouched.endPoint[0].x = 1234;
  cidc_scanLine zero;
  ASSERT_EQ(cidc_scanLine_init(&zero), 0);
  zero.dir = {0, 0};
  EXPECT_EQ(cidc_scanLine_clip(&zero, &roi, &untouched), cidut_errZeroDirection);
  cidc_scanShape none{nullptr, nullptr, nullptr};
  EXPECT_EQ(cidc_scanShape_clip(&none, &roi, &untouched), csys_errAssertion);
  EXPECT_EQ(cidc_scanLine_clip(&zero, nullptr, &untouched), csys_errAssertion);
  EXPECT_EQ(untouched.endPoint[0].x, 1234);
  EXPECT_EQ(rec.count(), 2u);
}

TEST(ScanWalk, FractionalStepsFollowTheLine) {
  int32_t pixel[2] = {0, 0}, fraction[2] = {0, 0};
  const cidc_unitDir16 half{65536, 32768};
  ASSERT_EQ(cidc_bresWalk(pixel, fraction, &half), 0);
  EXPECT_EQ(pixel[0], 1);
  EXPECT_EQ(pixel[1], 0);
  EXPECT_EQ(fraction[1], 32768);
  ASSERT_EQ(cidc_bresWalk(pixel, fraction, &half), 0);
  EXPECT_EQ(pixel[1], 1);
  EXPECT_EQ(fraction[1], 0);
  // Any direction: after k steps the walk stays within one pixel of the exact line.
  std::mt19937 rng(5);
  std::uniform_int_distribution<int32_t> c(-50000, 50000);
  for (int i = 0; i < 200; ++i) {
    cidc_unitDir16 d;
    ASSERT_EQ(cidc_unitDir16_initVect(&d, c(rng), c(rng)), 0);
    int32_t p[2] = {3, -2}, f[2] = {0, 0};
    const bool xMajor = std::abs(d.x) > std::abs(d.y);
    const double slope = xMajor ? double(d.y) / std::abs(d.x) : double(d.x) / std::abs(d.y);
    for (int k = 1; k <= 300; ++k) {
      ASSERT_EQ(cidc_bresWalk(p, f, &d), 0);
      const int32_t maj = xMajor ? p[0] - 3 : p[1] + 2, mnr = xMajor ? p[1] + 2 : p[0] - 3;
      ASSERT_EQ(std::abs(maj), k);
      ASSERT_NEAR(mnr + (xMajor ? f[1] : f[0]) / 65536.0, k * slope, 1.0) << i << " step " << k;
    }
  }
  AssertRecorder rec;
  const cidc_unitDir16 zero{0, 0};
  EXPECT_EQ(cidc_bresWalk(pixel, fraction, &zero), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}
