// Clipping checked against a brute-force walk of random shapes in small windows, and the
// fractional Bresenham step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "ci_id/scanclip.h"
#include "ci_id/scanwalk.h"
#include "support/assert_recorder.hpp"

TEST(ScanClip, KeepsWhatABruteForceWalkFindsInsideSmallWindows) {
  std::mt19937 rng(2024);
  auto uni = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
  AssertRecorder rec;
  int kept = 0, empty = 0;
  for (int w = 0; w < 300; ++w) {
    const int32_t W = int32_t(uni(4, 12)), H = int32_t(uni(4, 12)), cx = int32_t(uni(-6, 6)), cy = int32_t(uni(-6, 6));
    cidc_windowROI roi;
    ASSERT_EQ(cidc_windowROI_init(&roi, W, H, cx, cy, int32_t(uni(0, std::min(2, (W - 2) / 2))),
                                  int32_t(uni(0, std::min(2, (H - 2) / 2))), cx + int32_t(uni(-6, 6)), cy + int32_t(uni(-6, 6))),
              0);
    const double x0 = double(roi.firstCentre[0]), y0 = double(roi.firstCentre[1]), x1 = double(roi.lastCentre[0]),
                 y1 = double(roi.lastCentre[1]);
    auto inside = [&](double x, double y, double grow) { return x >= x0 - grow && x <= x1 + grow && y >= y0 - grow && y <= y1 + grow; };
    // Corners, points on the sides and random points: shapes touch corners and run along edges.
    auto point = [&](int i) -> cidc_vect64_4 {
      const int64_t sx = (i & 4) ? roi.firstCentre[0] : roi.lastCentre[0], sy = (i & 8) ? roi.firstCentre[1] : roi.lastCentre[1];
      const int64_t rx = uni(roi.firstCentre[0] - 64, roi.lastCentre[0] + 64), ry = uni(roi.firstCentre[1] - 64, roi.lastCentre[1] + 64);
      return i % 4 == 0 ? cidc_vect64_4{sx, sy} : i % 4 == 1 ? cidc_vect64_4{sx + uni(-2, 2), ry} : i % 4 == 2 ? cidc_vect64_4{rx, sy + uni(-2, 2)} : cidc_vect64_4{rx, ry};
    };
    for (int i = 0; i < 120; ++i) {
      const int kind = int(uni(0, 2));  // line, segment, ray
      const cidc_vect64_4 p = point(i * 7 + w), q = point(i * 5 + 3 + w);
      cidc_unitDir16 d;
      const int64_t axis = uni(0, 9);
      cidc_unitDir16_initVect(&d, axis < 2 ? 0 : int32_t(uni(-70000, 70000)), axis == 2 ? 0 : int32_t(uni(-70000, 70000)) | 1);
      cidc_scanLineSeg seg, out;
      cidc_scanRay ray;
      cidc_scanLine line;
      cidc_scanShape shape;
      const cidc_vect64_4 pts[2] = {p, q};
      const csys_status made = kind == 1   ? cidc_scanLineSeg_initPoints(&seg, pts, nullptr) + cidc_scanShape_initScanLineSeg(&shape, &seg)
                               : kind == 2 ? cidc_scanRay_initPointDir(&ray, &p, &d, nullptr) + cidc_scanShape_initScanRay(&shape, &ray)
                                           : cidc_scanLine_initPointDir(&line, &p, &d) + cidc_scanShape_initScanLine(&shape, &line);
      SCOPED_TRACE(testing::Message() << "window " << w << " shape " << i << " kind " << kind << " dir " << shape.line->dir.x << ","
                                      << shape.line->dir.y << " p " << p.x << "," << p.y << " q " << q.x << "," << q.y);
      ASSERT_EQ(made, 0);
      ASSERT_EQ(cidc_scanShape_clip(&shape, &roi, &out), 0);
      const cidc_scanLine& l = *shape.line;
      const bool axisParallel = l.dir.x == 0 || l.dir.y == 0, toOrigin = kind == 2 && std::memcmp(&out.endPoint[1], &p, sizeof p) == 0;
      const double tol = axisParallel ? 0 : 3, n = std::hypot(l.dir.x, l.dir.y), ux = l.dir.x / n, uy = l.dir.y / n;
      const double fx = double(l.footPoint.x), fy = double(l.footPoint.y), along0 = (p.x - fx) * ux + (p.y - fy) * uy;
      // The brute-force walk: every quarter unit of the original (a segment's chord, a ray
      // from its origin's foot on the line, which keeps what lies before it when it starts
      // on the exit side; with the origin outside a ray counts as its line).
      double bx = fx, by = fy, ex = ux, ey = uy, t0 = -800, t1 = 800, lo = 1e300, hi = -1e300, maxGap = 0;
      if (kind == 1) {
        bx = double(p.x);
        by = double(p.y);
        ex = double(q.x - p.x);
        ey = double(q.y - p.y);
        t0 = 0;
        t1 = 1;
      }
      if (kind == 2 && inside(double(p.x), double(p.y), 0)) (toOrigin ? t1 : t0) = along0;
      const double offLine = kind == 2 ? std::abs((p.x - fx) * uy - (p.y - fy) * ux) : 0;
      const int steps = std::max(1, int(std::hypot(ex, ey) * (t1 - t0) * 4));
      double nearest[2] = {1e300, 1e300};
      for (int k = 0; k <= steps; ++k) {
        const double t = t0 + (t1 - t0) * k / steps, x = bx + t * ex, y = by + t * ey;
        for (int e = 0; e < 2 && inside(x, y, tol + 1); ++e)
          nearest[e] = std::min(nearest[e], std::hypot(x - double(out.endPoint[e].x), y - double(out.endPoint[e].y)));
        if (!inside(x, y, 0)) continue;
        lo = std::min(lo, (x - fx) * ux + (y - fy) * uy);
        hi = std::max(hi, (x - fx) * ux + (y - fy) * uy);
        if (out.isDegenerate) continue;
        // Every inside point is kept; a cut is truncated towards keeping more.
        const double sx = double(out.endPoint[1].x - out.endPoint[0].x), sy = double(out.endPoint[1].y - out.endPoint[0].y);
        const double s = std::clamp(((x - out.endPoint[0].x) * sx + (y - out.endPoint[0].y) * sy) / std::max(1e-9, sx * sx + sy * sy), 0.0, 1.0);
        maxGap = std::max(maxGap, std::hypot(x - out.endPoint[0].x - s * sx, y - out.endPoint[0].y - s * sy));
      }
      const bool zeroLength = kind == 1 && p.x == q.x && p.y == q.y;
      if (out.isDegenerate) {
        EXPECT_TRUE(hi - lo <= 2 * tol || zeroLength) << lo << ".." << hi;  // nothing of length was lost
      } else {
        EXPECT_FALSE(zeroLength);
        EXPECT_LE(maxGap, tol / 2 + offLine + 1e-6);
        EXPECT_EQ(std::memcmp(&out.line, &l, sizeof l), 0);
        for (int e = 0; e < 2; ++e) {  // the ends lie on the original, inside, on usable pixels
          EXPECT_LE(nearest[e], tol + 0.5) << "end " << e;
          EXPECT_TRUE(inside(double(out.endPoint[e].x), double(out.endPoint[e].y), tol * 2 / 3)) << "end " << e;
          EXPECT_TRUE(out.endPixel[e][0] >= roi.colBegin && out.endPixel[e][0] < roi.colEnd && out.endPixel[e][1] >= roi.rowBegin &&
                      out.endPixel[e][1] < roi.rowEnd);
        }
      }
      if (HasFailure()) return;
      (out.isDegenerate ? empty : kept) += 1;
    }
  }
  EXPECT_EQ(rec.count(), 0u);
  EXPECT_GT(kept, 8000);  // both outcomes in earnest
  EXPECT_GT(empty, 4000);
}

TEST(ScanWalk, FractionalStepsFollowTheLine) {
  std::mt19937 rng(5);
  for (int i = 0; i < 200; ++i) {  // first the hand-checked (1, 0.5): (1, 0) + 0.5, then (2, 1)
    cidc_unitDir16 d{65536, 32768};
    if (i > 0) cidc_unitDir16_initVect(&d, int32_t(rng() % 100001) - 50000, int32_t(rng() % 100001) - 50000);
    int32_t p[2] = {0, 0}, f[2] = {0, 0};
    const int major = std::abs(d.x) > std::abs(d.y) ? 0 : 1;
    for (int k = 1; k <= 300; ++k) {
      ASSERT_EQ(cidc_bresWalk(p, f, &d), 0);
      ASSERT_EQ(std::abs(p[major]), k);
      ASSERT_NEAR(p[1 - major] + f[1 - major] / 65536.0, k * double(major ? d.x : d.y) / std::abs(major ? d.y : d.x), 1.0);
      EXPECT_TRUE(i > 0 || k > 2 || (p[1] == k - 1 && f[1] == (k == 1 ? 32768 : 0)));
    }
  }
  AssertRecorder rec;
  int32_t p[2] = {0, 0}, f[2] = {0, 0};
  const cidc_unitDir16 zero{0, 0};
  EXPECT_EQ(cidc_bresWalk(p, f, &zero), csys_errAssertion);
}
