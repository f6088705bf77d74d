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

int32_t dist(cmath_vect32_4 a, cmath_vect32_4 b) {
  int32_t d = -1;
  EXPECT_EQ(cmath_vect32_4_getDistance(&a, &b, &d), 0);
  return d;
}

}  // namespace

TEST(FixPt, RectangleConversions) {
  cmath_shapeFixPtAffineRectPoints unit, fixed;
  cmath_shapeAffineRect rect;
  cmath_shapeAffineRectPoints corners;
  ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_init(&unit), 0);
  ASSERT_EQ(cmath_shapeAffineRect_initFixPtPoints(&rect, &unit), 0);
  ASSERT_EQ(cmath_shapeAffineRect_getPoints(&rect, &corners), 0);
  EXPECT_TRUE(corners.po.x == 0 && corners.po.y == 0 && corners.px.x == 1 && corners.px.y == 0 && corners.py.x == 0 &&
              corners.py.y == 1);
  // Truncation toward zero, on both signs.
  const cmath_shapeAffineRectPoints odd{{0.99, -0.99}, {-2.0 / 16 + 1e-9, 31.999 / 16}, {-1e-12, 1.5 / 16}};
  const cmath_shapeFixPtAffineRectPoints truncated{{15, -15}, {-1, 31}, {0, 1}};
  ASSERT_EQ(cmath_shapeAffineRect_initPoints(&rect, &odd), 0);
  ASSERT_EQ(cmath_shapeAffineRect_getFixPtPoints(&rect, &fixed), 0);
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
  for (double bad : {std::nan(""), HUGE_VAL, 2.0e8, -2.0e8}) {
    const cmath_shapeAffineRectPoints far{{0, 0}, {1, 0}, {0, bad}};
    ASSERT_EQ(cmath_shapeAffineRect_initPoints(&rect, &far), 0);
    fixed = unit;
    EXPECT_EQ(cmath_shapeAffineRect_getFixPtPoints(&rect, &fixed), cidut_errBadArgument) << bad;
    EXPECT_EQ(std::memcmp(&fixed, &unit, sizeof fixed), 0);
  }
}

TEST(FixPt, PointDistanceIsQuantisedToQuarterPixels) {
  // The floor shift of the difference makes the order matter.
  EXPECT_TRUE(dist({3, 0}, {0, 0}) == 0 && dist({0, 0}, {3, 0}) == 4);
  std::mt19937 rng(9);
  std::uniform_int_distribution<int32_t> delta(-0x3FFFB, 0x3FFFB), small(-200, 200), base(-1000000, 1000000);
  for (int i = 0; i < 100002; ++i) {
    const bool near = i % 2 == 0;
    const cmath_vect32_4 a{base(rng), base(rng)};
    cmath_vect32_4 b{a.x + (near ? small(rng) : delta(rng)), a.y + (near ? small(rng) : delta(rng))};
    if (i >= 100000) b = {a.x + 0x3FFFB, a.y + (i % 2 ? 0x3FFFB : -0x3FFFB)};  // squares' sum past 2^32
    const int32_t d = dist(a, b);
    ASSERT_EQ(d % 4, 0);
    ASSERT_NEAR(d, std::hypot(double(a.x) - b.x, double(a.y) - b.y), kPointBound) << a.x - b.x << ", " << a.y - b.y;
  }
  AssertRecorder recorder;
  int32_t d = 7;
  const cmath_vect32_4 o{0, 0}, farX{0x3FFFC, 0}, farY{0, -0x3FFFC};
  EXPECT_EQ(cmath_vect32_4_getDistance(&farX, &o, &d), csys_errAssertion);
  EXPECT_EQ(cmath_vect32_4_getDistance(&o, &farY, &d), csys_errAssertion);
  EXPECT_TRUE(d == 7 && recorder.count() == 2u);
}

TEST(FixPt, LinesFromSegmentsAndTheirDistancesMatchDoublePrecision) {
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
    int32_t from = -1, along = -1;
    ASSERT_EQ(cmath_shapeFixPtLine_distanceFrom(&line, &q, &from), 0);
    ASSERT_EQ(cmath_shapeFixPtLine_distanceAlong(&line, &q, &along), 0);
    const double a = line.angle * 2 * M_PI / kTurn, dx = double(q.x) - line.x, dy = double(q.y) - line.y;
    const double bound = (std::fabs(dx) + std::fabs(dy)) * (0.5 / 32768) + 2.0 + 1e-9;
    ASSERT_NEAR(from, std::fabs(-dx * std::sin(a) + dy * std::cos(a)), bound) << i;
    ASSERT_NEAR(along, std::fabs(dx * std::cos(a) + dy * std::sin(a)), bound) << i;
  }
  AssertRecorder recorder;
  const cmath_shapeFixPtLine line{0, 0, 0};
  const cmath_vect32_4 farX{0xFFFF, 0}, farY{0, -0xFFFF};
  int32_t out = 7;
  EXPECT_EQ(cmath_shapeFixPtLine_distanceFrom(&line, &farX, &out), csys_errAssertion);
  EXPECT_EQ(cmath_shapeFixPtLine_distanceAlong(&line, &farY, &out), csys_errAssertion);
  EXPECT_TRUE(out == 7 && recorder.count() == 2u);
}

TEST(FixPt, SegmentDistanceMatchesDoublePrecision) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<int32_t> c(-30000, 30000), d(-20000, 20000);
  int before = 0, after = 0;
  for (int i = 0; i < 50000; ++i) {
    const cmath_vect32_4 p1{c(rng), c(rng)}, p2{p1.x + d(rng) / (i % 4 + 1), p1.y + d(rng) / (i % 4 + 1)};
    const cmath_vect32_4 q{p1.x + d(rng), p1.y + d(rng)};
    if (std::abs(p2.x - p1.x) < 8 && std::abs(p2.y - p1.y) < 8) continue;
    const cmath_shapeFixPtLineSeg seg{p1, p2};
    int32_t got = -1;
    ASSERT_EQ(cmath_shapeFixPtLineSeg_distanceFrom(&seg, &q, &got), 0);
    // Exact distance from the segment; angle quantisation (half a step) tilts the line about p1,
    // the rest is as for the point and line distances.
    const double ux = double(p2.x) - p1.x, uy = double(p2.y) - p1.y, len = std::hypot(ux, uy);
    const double along = ((q.x - p1.x) * ux + (q.y - p1.y) * uy) / len;  // from p1 towards p2
    const double t = std::clamp(along / len, 0.0, 1.0);
    const double exact = std::hypot(q.x - (p1.x + t * ux), q.y - (p1.y + t * uy));
    ASSERT_NEAR(got, exact, std::hypot(double(q.x) - p1.x, double(q.y) - p1.y) * (M_PI / kTurn) + kPointBound + 4) << i;
    // Where the point clearly projects outside a long segment (the quarter-pixel projection
    // cannot tip the decision) the answer is the end point's distance itself.
    const int end = len < 2000 ? 0 : along < -200 ? 1 : along > len + 200 ? 2 : 0;
    ASSERT_TRUE(end == 0 || got == dist(q, end == 1 ? p1 : p2)) << i;
    before += end == 1, after += end == 2;
  }
  EXPECT_TRUE(before > 1000 && after > 1000) << before << " " << after;

  const cmath_shapeFixPtLineSeg point{{5, 5}, {5, 5}}, tiny{{4, 4}, {6, 7}};
  const cmath_vect32_4 q{0, 0};
  int32_t out = 7;
  EXPECT_EQ(cmath_shapeFixPtLineSeg_distanceFrom(&point, &q, &out), cidut_errUnsupported);
  EXPECT_EQ(out, 7);
  // Shorter than a quarter pixel on both axes: no direction left after the shift.
  AssertRecorder recorder;
  EXPECT_EQ(cmath_shapeFixPtLineSeg_distanceFrom(&tiny, &q, &out), csys_errAssertion);
  EXPECT_EQ(recorder.count(), 1u);
}

TEST(FixPt, ContainmentMatchesAnExactParallelogramTest) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<double> u(0, 1);
  int inside = 0, outside = 0, thin = 0;
  for (int shape = 0; shape < 400; ++shape) {
    const double angle = u(rng) * 2 * M_PI, skew = (u(rng) - 0.5) * 2.0;  // up to ~57 degrees
    const double lx = 16 * (3 + 150 * u(rng)), ly = 16 * (3 + 150 * u(rng));
    const double ya = angle + (shape % 2 ? 1.0 : -1.0) * (M_PI / 2 + skew);  // both turning orders
    const cmath_vect32_4 po{int32_t((u(rng) - 0.5) * 30000), int32_t((u(rng) - 0.5) * 30000)};
    const cmath_vect32_4 px{po.x + int32_t(lx * std::cos(angle)), po.y + int32_t(lx * std::sin(angle))};
    const cmath_vect32_4 py{po.x + int32_t(ly * std::cos(ya)), po.y + int32_t(ly * std::sin(ya))};
    const cmath_shapeFixPtAffineRectPoints rect{po, px, py};
    // Exact coordinates (s, t) of a point in the frame po + s (px - po) + t (py - po), and its
    // distance from the nearest side in 1/16 pixel.
    const double ax = px.x - po.x, ay = px.y - po.y, bx = py.x - po.x, by = py.y - po.y, det = ax * by - ay * bx;
    const double heightX = std::fabs(det) / std::hypot(ax, ay), widthY = std::fabs(det) / std::hypot(bx, by);
    const double minX = std::min({0.0, ax, bx, ax + bx}), maxX = std::max({0.0, ax, bx, ax + bx});
    const double minY = std::min({0.0, ay, by, ay + by}), maxY = std::max({0.0, ay, by, ay + by});
    for (int k = 0; k < 400; ++k) {
      const cmath_vect32_4 q{po.x + int32_t(std::lround(minX - 48 + u(rng) * (maxX - minX + 96))),
                             po.y + int32_t(std::lround(minY - 48 + u(rng) * (maxY - minY + 96)))};
      const double rx = q.x - po.x, ry = q.y - po.y, s = (rx * by - ry * bx) / det, t = (ax * ry - ay * rx) / det;
      // Positive inside (the distance to the nearest side); negative outside, where the point
      // is at least that far from some side's line and so from the parallelogram.
      const double margin = std::min({s * widthY, (1 - s) * widthY, t * heightX, (1 - t) * heightX});
      uint32_t flag = 7;
      ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &q, &flag), 0);
      ASSERT_TRUE(flag == 0 || flag == 1);
      if (std::fabs(margin) < 16) ++thin;  // within a pixel of a side's line: either answer is fine
      else ASSERT_EQ(flag, margin > 0 ? 1u : 0u) << "shape " << shape << " point " << k << " margin " << margin;
      inside += margin >= 16, outside += margin <= -16;
    }
  }
  EXPECT_TRUE(inside > 20000 && outside > 20000 && thin > 0);
}

TEST(FixPt, ContainmentBoxDecidesFarPointsAndKeepsTheCorners) {
  const cmath_shapeFixPtAffineRectPoints rect{{0, 0}, {160, 0}, {0, 80}};
  AssertRecorder recorder;
  // Far beyond the line distances' range only the box test can answer without asserting; just
  // inside the widened box the side distances decide; the corners lie on the box's edge and the
  // widening lets the side test keep them.
  for (const auto& [q, in] : {std::pair{cmath_vect32_4{1000000, 40}, 0u}, {{-1000000, -1000000}, 0u},
                              {{80, 1 << 30}, 0u}, {{192, 40}, 0u}, {{80, -32}, 0u}, {{191, 40}, 0u},
                              {{80, 40}, 1u}, {{0, 0}, 1u}, {{160, 0}, 1u}, {{0, 80}, 1u}, {{160, 80}, 1u}}) {
    uint32_t flag = 7;
    ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &q, &flag), 0);
    EXPECT_EQ(flag, in) << q.x << "," << q.y;
  }
  EXPECT_EQ(recorder.count(), 0u);
  uint32_t flag;
  EXPECT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(nullptr, &rect.po, &flag), csys_errAssertion);
  EXPECT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, nullptr, &flag), csys_errAssertion);
  EXPECT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &rect.po, nullptr), csys_errAssertion);
  EXPECT_EQ(recorder.count(), 3u);
}
