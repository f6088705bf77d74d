// Fixed-point shapes against double-precision references: point, line and segment distances
// within their stated quantisation, and containment against an exact parallelogram test for
// points more than a pixel from the outline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "ci_id/fixpt.h"
#include "support/assert_recorder.hpp"

namespace {

constexpr double kTurn = 65536.0, kPointBound = 4.0 * (1.0 + M_SQRT2);

}  // namespace

TEST(FixPt, RectangleConversions) {
  cmath_shapeFixPtAffineRectPoints fixed;
  cmath_shapeAffineRect rect;
  // Truncation toward zero, on both signs.
  const cmath_shapeAffineRectPoints odd{{0.99, -0.99}, {-2.0 / 16 + 1e-9, 31.999 / 16}, {-1e-12, 1.5 / 16}};
  const cmath_shapeFixPtAffineRectPoints truncated{{15, -15}, {-1, 31}, {0, 1}};
  ASSERT_EQ(cmath_shapeAffineRect_initPoints(&rect, &odd) | cmath_shapeAffineRect_getFixPtPoints(&rect, &fixed), 0);
  EXPECT_EQ(std::memcmp(&fixed, &truncated, sizeof fixed), 0);
  // Fixed -> double -> fixed is exact (sixteenths are exact in double).
  std::mt19937 rng(8);
  std::uniform_int_distribution<int32_t> c(-(1 << 26), 1 << 26);
  for (int i = 0; i < 1000; ++i) {
    const cmath_shapeFixPtAffineRectPoints p{{c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}};
    ASSERT_EQ(cmath_shapeAffineRect_initFixPtPoints(&rect, &p) | cmath_shapeAffineRect_getFixPtPoints(&rect, &fixed), 0);
    ASSERT_EQ(std::memcmp(&p, &fixed, sizeof p), 0) << i;
  }
  // Coordinates that have no 32-bit fixed value leave the output alone.
  for (double bad : {std::nan(""), 2.0e8}) {  // not finite; too big for 32 bits
    const cmath_shapeAffineRectPoints far{{0, 0}, {1, 0}, {0, bad}};
    const cmath_shapeFixPtAffineRectPoints before = fixed;
    ASSERT_EQ(cmath_shapeAffineRect_initPoints(&rect, &far), 0);
    EXPECT_EQ(cmath_shapeAffineRect_getFixPtPoints(&rect, &fixed), cidut_errBadArgument) << bad;
    EXPECT_EQ(std::memcmp(&fixed, &before, sizeof fixed), 0);
  }
}

TEST(FixPt, PointDistanceIsQuantisedToQuarterPixels) {
  // Near points, and far ones whose squares often sum past 2^32.
  std::mt19937 rng(9);
  std::uniform_int_distribution<int32_t> delta(-0x3FFFB, 0x3FFFB), base(-1000000, 1000000);
  for (int i = 0; i < 100000; ++i) {
    const int32_t k = i % 2 ? 1 : 1000;
    const cmath_vect32_4 a{base(rng), base(rng)}, b{a.x + delta(rng) / k, a.y + delta(rng) / k};
    int32_t d = -1;
    ASSERT_TRUE(cmath_vect32_4_getDistance(&a, &b, &d) == 0 && d % 4 == 0);
    ASSERT_NEAR(d, std::hypot(double(a.x) - b.x, double(a.y) - b.y), kPointBound) << a.x - b.x << ", " << a.y - b.y;
  }
  // One step past the supported difference is refused, the output untouched.
  AssertRecorder recorder;
  int32_t d = 7;
  const cmath_vect32_4 o{0, 0}, farY{0, -0x3FFFC};
  EXPECT_EQ(cmath_vect32_4_getDistance(&o, &farY, &d), csys_errAssertion);
  EXPECT_TRUE(d == 7 && recorder.count() == 1u);
}

TEST(FixPt, LineAndSegmentDistancesMatchDoublePrecision) {
  std::mt19937 rng(10);
  std::uniform_int_distribution<int32_t> c(-100000, 100000), d(-0xFFFE, 0xFFFE);
  for (int i = 0; i < 100000; ++i) {
    // The line through p1 pointing from p2 towards p1, its angle rounded (coincident: 0).
    const cmath_vect32_4 p1{c(rng), c(rng)}, p2 = i == 0 ? p1 : cmath_vect32_4{p1.x + d(rng) / 8, p1.y + d(rng) / 8};
    const cmath_shapeFixPtLineSeg seg{p1, p2};
    cmath_shapeFixPtLine line{};
    ASSERT_EQ(cmath_shapeFixPtLineSeg_getLine(&seg, &line), 0);
    const double exact = i == 0 ? 0 : std::atan2(double(p1.y) - p2.y, double(p1.x) - p2.x) * kTurn / (2 * M_PI);
    const double turned = std::remainder(line.angle - exact, kTurn);
    ASSERT_TRUE(line.x == p1.x && line.y == p1.y && std::fabs(turned) <= 0.5 + 1e-9) << i << " " << turned;

    // Reference on the stored angle: the trigonometry (half a unit in 2^15) and two floor
    // shifts are all the error there is.
    const cmath_vect32_4 q{line.x + d(rng) / (i % 3 + 1), line.y + d(rng) / (i % 3 + 1)};
    int32_t from = -1, along = -1, got = 7;
    ASSERT_EQ(cmath_shapeFixPtLine_distanceFrom(&line, &q, &from), 0);
    ASSERT_EQ(cmath_shapeFixPtLine_distanceAlong(&line, &q, &along), 0);
    const double a = line.angle * 2 * M_PI / kTurn, dx = double(q.x) - line.x, dy = double(q.y) - line.y;
    const double bound = (std::fabs(dx) + std::fabs(dy)) * (0.5 / 32768) + 2.0 + 1e-9;
    ASSERT_NEAR(from, std::fabs(-dx * std::sin(a) + dy * std::cos(a)), bound) << i;
    ASSERT_NEAR(along, std::fabs(dx * std::cos(a) + dy * std::sin(a)), bound) << i;

    // The segment: coincident ends are refused (output untouched), shorter than a quarter pixel
    // is not supported. Otherwise the exact distance, with the line tilted about p1 by half an
    // angle step.
    EXPECT_TRUE(i != 0 || (cmath_shapeFixPtLineSeg_distanceFrom(&seg, &q, &got) == cidut_errUnsupported && got == 7));
    if (i == 0 || (std::abs(p2.x - p1.x) < 8 && std::abs(p2.y - p1.y) < 8)) continue;
    ASSERT_EQ(cmath_shapeFixPtLineSeg_distanceFrom(&seg, &q, &got), 0);
    const double ux = double(p2.x) - p1.x, uy = double(p2.y) - p1.y, len = std::hypot(ux, uy);
    const double t = std::clamp(((q.x - p1.x) * ux + (q.y - p1.y) * uy) / (len * len), 0.0, 1.0);
    const double segExact = std::hypot(q.x - (p1.x + t * ux), q.y - (p1.y + t * uy));
    ASSERT_NEAR(got, segExact, std::hypot(dx, dy) * (M_PI / kTurn) + kPointBound + 4) << i;
  }
}

TEST(FixPt, ContainmentMatchesAnExactParallelogramTest) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<double> u(0, 1);
  int inside = 0, outside = 0;
  AssertRecorder recorder;
  for (int shape = 0; shape < 400; ++shape) {
    const double angle = u(rng) * 2 * M_PI, skew = (u(rng) - 0.5) * 2.0;  // up to ~57 degrees
    const double lx = 16 * (3 + 150 * u(rng)), ly = 16 * (3 + 150 * u(rng));
    const double ya = angle + (shape % 2 ? 1.0 : -1.0) * (M_PI / 2 + skew);  // both turning orders
    const cmath_vect32_4 po{int32_t((u(rng) - 0.5) * 30000), int32_t((u(rng) - 0.5) * 30000)};
    const cmath_vect32_4 px{po.x + int32_t(lx * std::cos(angle)), po.y + int32_t(lx * std::sin(angle))};
    const cmath_vect32_4 py{po.x + int32_t(ly * std::cos(ya)), po.y + int32_t(ly * std::sin(ya))};
    const cmath_shapeFixPtAffineRectPoints rect{po, px, py};
    // Exact coordinates (s, t) of a point in the frame po + s (px - po) + t (py - po).
    const double ax = px.x - po.x, ay = px.y - po.y, bx = py.x - po.x, by = py.y - po.y, det = ax * by - ay * bx;
    const double heightX = std::fabs(det) / std::hypot(ax, ay), widthY = std::fabs(det) / std::hypot(bx, by);
    for (int k = 0; k < 400; ++k) {
      const double s0 = u(rng) * 1.6 - 0.3, t0 = u(rng) * 1.6 - 0.3;  // about a third outside
      const cmath_vect32_4 q{po.x + int32_t(std::lround(s0 * ax + t0 * bx)), po.y + int32_t(std::lround(s0 * ay + t0 * by))};
      const double rx = q.x - po.x, ry = q.y - po.y, s = (rx * by - ry * bx) / det, t = (ax * ry - ay * rx) / det;
      // Distance to the nearest side's line when inside; outside, at least that far from the
      // parallelogram. Within a pixel of a side either answer is fine.
      const double margin = std::min({s * widthY, (1 - s) * widthY, t * heightX, (1 - t) * heightX});
      uint32_t flag = 7;
      ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &q, &flag), 0);
      ASSERT_TRUE(flag <= 1 && (std::fabs(margin) < 16 || flag == (margin > 0 ? 1u : 0u)))
          << "shape " << shape << " point " << k << " margin " << margin;
      inside += margin >= 16;
      outside += margin <= -16;
    }
    // Far beyond the distances' range only the bounding box can answer without asserting.
    const cmath_vect32_4 far{po.x + (1 << 28), po.y};
    uint32_t flag = 7;
    ASSERT_TRUE(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &far, &flag) == 0 && flag == 0);
  }
  EXPECT_TRUE(inside > 20000 && outside > 20000 && recorder.count() == 0u);
}
