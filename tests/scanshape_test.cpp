// Fixed-point scan shapes: unit directions, lines through points, segments and their
// projections, conversion back to client coordinates, window rectangles; misuse asserts.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

#include "ci_id/scanshape.h"
#include "support/assert_recorder.hpp"

TEST(ScanShape, UnitDirectionsAreUnitAndFollowTheVector) {
  struct Row { int32_t dx, dy, x, y; };
  for (const Row& r : {Row{0, 0, 0, -65536}, Row{5, 0, 65536, 0}, Row{-7, 0, -65536, 0}, Row{0, 3, 0, 65536},
                       Row{3, 4, 39321, 52428}}) {
    cidc_unitDir16 d;
    ASSERT_EQ(cidc_unitDir16_initVect(&d, r.dx, r.dy), 0);
    EXPECT_EQ(std::tuple(d.x, d.y), std::tuple(r.x, r.y)) << r.dx << "," << r.dy;
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> v(-1000000, 1000000);
  for (int i = 0; i < 2000; ++i) {
    const int32_t dx = v(rng), dy = v(rng);
    cidc_unitDir16 d;
    ASSERT_EQ(cidc_unitDir16_initVect(&d, dx, dy), 0);
    EXPECT_NEAR(std::hypot(d.x, d.y), 65536.0, 8.0);
    EXPECT_TRUE(dx == 0 || dy == 0 || std::fabs(std::atan2(d.y, d.x) - std::atan2(dy, dx)) <= 1e-3) << dx << "," << dy;
  }
}

TEST(ScanShape, LinesAndSegmentsProjectPointsConsistently) {
  cidc_scanLine h;
  const cidc_vect64_4 p{0, 160};
  for (int32_t sx : {1, -1}) {
    const cidc_unitDir16 d{sx * 65536, 0};
    ASSERT_EQ(cidc_scanLine_initPointDir(&h, &p, &d), 0);
    EXPECT_EQ(std::tuple(h.normalOffset, h.footPoint.x, h.footPoint.y), std::tuple(sx * 160, 0, 160));
  }
  // Random segments: the foot lies on the line, the ends map back to their pixel centres.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int64_t> c(-16 * 500, 16 * 500);
  const int32_t origin[2] = {37, -12};
  for (int i = 0; i < 2000; ++i) {
    cidc_vect64_4 pts[2] = {{c(rng), c(rng)}, {c(rng), c(rng)}};
    cidc_scanLineSeg s;
    ASSERT_EQ(cidc_scanLineSeg_initPoints(&s, pts, nullptr), 0);
    EXPECT_TRUE(s.isDegenerate == 0 && s.endProj[0][0] <= s.endProj[1][0]);
    for (int e = 0; e < 2; ++e) {
      double q[2];
      ASSERT_EQ(cidc_convertPeakToImage(s.endProj[e][0], &s, origin, q), 0);
      // The point at the end's along-coordinate lies within a pixel of that end.
      EXPECT_LE(std::max(std::fabs(q[0] - pts[e].x / 16.0 - origin[0]), std::fabs(q[1] - pts[e].y / 16.0 - origin[1])), 1.0);
    }
    cidc_scanLineSeg moved;
    const cidc_vect64_4 t{c(rng), c(rng)};
    ASSERT_EQ(cidc_scanLineSeg_translate(&s, &t, &moved), 0);
    EXPECT_EQ(moved.endPoint[1].x, pts[1].x + t.x);
    EXPECT_NEAR(double(moved.line.normalOffset),
                double(s.line.normalOffset) + (t.x * -double(s.line.dir.y) + t.y * double(s.line.dir.x)) / 65536, 2);
  }
}

TEST(ScanShape, WindowRectanglesAndMisuse) {
  cidc_windowROI r;
  ASSERT_EQ(cidc_windowROI_initCorner(&r, 20, 10, 5, 7, 1, 2), 0);
  EXPECT_EQ(std::tuple(r.colBegin, r.colEnd, r.rowCount, r.firstCentre[0], r.lastCentre[1]), std::tuple(1, 19, 6, 24, 16 * 8 - 8));
  cidc_windowROI s;
  ASSERT_EQ(cidc_windowROI_initCopyShrink(&s, &r, 32, 36), 0);
  // The new margins come on top of the centres already inset by the old ones.
  EXPECT_EQ(std::tuple(s.colBegin, s.colEnd, s.rowBegin, s.rowCount, s.span[0]), std::tuple(3, 17, 4, 2, r.span[0] - 64));

  AssertRecorder rec;
  cidc_windowROI untouched{};
  untouched.colBegin = 99;
  EXPECT_EQ(cidc_windowROI_initCorner(&untouched, 3, 10, 0, 0, 1, 0), csys_errAssertion);
  EXPECT_EQ(untouched.colBegin, 99);
  EXPECT_EQ(cidc_unitDir16_initVect(nullptr, 1, 1), csys_errAssertion);
  cidc_scanLineSeg seg;
  const cidc_vect64_4 back[2] = {{160, 0}, {0, 0}};
  cidc_scanLine fwd;
  ASSERT_EQ(cidc_scanLine_init(&fwd), 0);
  EXPECT_EQ(cidc_scanLineSeg_initPoints(&seg, back, &fwd), csys_errAssertion);  // reversed on its line
  EXPECT_EQ(rec.count(), 3u);
}
