// Fixed-point shapes against double-precision references: point, line and segment distances
// within their stated quantisation, and containment against an exact parallelogram test for
// points more than a pixel from the outline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "base/cmath_fixed.h"
#include "ci_id/fixpt.h"
#include "support/assert_recorder.hpp"

namespace {

constexpr double kTurn = 65536.0;

int32_t dist(cmath_vect32_4 a, cmath_vect32_4 b) {
  int32_t d = -1;
  EXPECT_EQ(cmath_vect32_4_getDistance(&a, &b, &d), 0);
  return d;
}

double exactDist(cmath_vect32_4 a, cmath_vect32_4 b) { return std::hypot(double(a.x) - b.x, double(a.y) - b.y); }

// Exact distance from the segment, in double precision.
double exactSegDist(cmath_vect32_4 p1, cmath_vect32_4 p2, cmath_vect32_4 q) {
  const double ux = double(p2.x) - p1.x, uy = double(p2.y) - p1.y;
  const double t = std::clamp(((q.x - p1.x) * ux + (q.y - p1.y) * uy) / (ux * ux + uy * uy), 0.0, 1.0);
  return std::hypot(q.x - (p1.x + t * ux), q.y - (p1.y + t * uy));
}

}  // namespace

TEST(FixPt, RectangleConversions) {
  cmath_shapeFixPtAffineRectPoints unit;
  ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_init(&unit), 0);
  cmath_shapeAffineRect rect;
  ASSERT_EQ(cmath_shapeAffineRect_initFixPtPoints(&rect, &unit), 0);
  cmath_shapeAffineRectPoints corners;
  ASSERT_EQ(cmath_shapeAffineRect_getPoints(&rect, &corners), 0);
  EXPECT_EQ(corners.po.x, 0.0);
  EXPECT_EQ(corners.po.y, 0.0);
  EXPECT_EQ(corners.px.x, 1.0);
  EXPECT_EQ(corners.px.y, 0.0);
  EXPECT_EQ(corners.py.x, 0.0);
  EXPECT_EQ(corners.py.y, 1.0);

  // Truncation toward zero, on both signs.
  const cmath_shapeAffineRectPoints odd{{0.99, -0.99}, {-2.0 / 16 + 1e-9, 31.999 / 16}, {-1e-12, 1.5 / 16}};
  ASSERT_EQ(cmath_shapeAffineRect_initPoints(&rect, &odd), 0);
  cmath_shapeFixPtAffineRectPoints fixed;
  ASSERT_EQ(cmath_shapeAffineRect_getFixPtPoints(&rect, &fixed), 0);
  EXPECT_EQ(fixed.po.x, 15);
  EXPECT_EQ(fixed.po.y, -15);
  EXPECT_EQ(fixed.px.x, -1);
  EXPECT_EQ(fixed.px.y, 31);
  EXPECT_EQ(fixed.py.x, 0);
  EXPECT_EQ(fixed.py.y, 1);

  // Fixed -> double -> fixed is exact (sixteenths are exact in double).
  std::mt19937 rng(8);
  std::uniform_int_distribution<int32_t> coord(-(1 << 26), 1 << 26);
  for (int i = 0; i < 1000; ++i) {
    const cmath_shapeFixPtAffineRectPoints p{{coord(rng), coord(rng)}, {coord(rng), coord(rng)}, {coord(rng), coord(rng)}};
    cmath_shapeFixPtAffineRectPoints back;
    ASSERT_EQ(cmath_shapeAffineRect_initFixPtPoints(&rect, &p), 0);
    ASSERT_EQ(cmath_shapeAffineRect_getFixPtPoints(&rect, &back), 0);
    ASSERT_EQ(std::memcmp(&p, &back, sizeof p), 0) << i;
  }

  // Coordinates that have no 32-bit fixed value leave the output alone.
  for (double bad : {std::nan(""), HUGE_VAL, 2.0e8, -2.0e8}) {
    const cmath_shapeAffineRectPoints far{{0, 0}, {1, 0}, {0, bad}};
    ASSERT_EQ(cmath_shapeAffineRect_initPoints(&rect, &far), 0);
    fixed = unit;
    EXPECT_EQ(cmath_shapeAffineRect_getFixPtPoints(&rect, &fixed), cidut_errBadArgument) << bad;
    EXPECT_EQ(fixed.px.x, 16);
  }
}

TEST(FixPt, PointDistanceIsQuantisedToQuarterPixels) {
  EXPECT_EQ(dist({0, 0}, {48, 64}), 80);
  EXPECT_EQ(dist({48, 64}, {0, 0}), 80);
  // The floor shift of the difference makes the order matter.
  EXPECT_EQ(dist({3, 0}, {0, 0}), 0);
  EXPECT_EQ(dist({0, 0}, {3, 0}), 4);

  std::mt19937 rng(9);
  std::uniform_int_distribution<int32_t> delta(-0x3FFFB, 0x3FFFB), small(-200, 200), base(-1000000, 1000000);
  const double bound = 4.0 * (1.0 + std::sqrt(2.0));
  for (int i = 0; i < 100000; ++i) {
    const bool near = i % 2 == 0;
    const cmath_vect32_4 a{base(rng), base(rng)};
    const cmath_vect32_4 b{a.x + (near ? small(rng) : delta(rng)), a.y + (near ? small(rng) : delta(rng))};
    const int32_t d = dist(a, b);
    ASSERT_EQ(d % 4, 0);
    ASSERT_NEAR(d, exactDist(a, b), bound) << a.x - b.x << ", " << a.y - b.y;
  }
  // The largest allowed differences on both axes: the squares' sum passes 2^32.
  const int32_t m = 0x3FFFB;
  EXPECT_NEAR(dist({m, -m}, {0, 0}), std::hypot(m, m), bound);
  EXPECT_NEAR(dist({0, 0}, {m, m}), std::hypot(m, m), bound);

  AssertRecorder recorder;
  int32_t d = 7;
  cmath_vect32_4 a{0x3FFFC, 0}, o{0, 0};
  EXPECT_EQ(cmath_vect32_4_getDistance(&a, &o, &d), csys_errAssertion);
  a = {0, -0x3FFFC};
  EXPECT_EQ(cmath_vect32_4_getDistance(&o, &a, &d), csys_errAssertion);
  EXPECT_EQ(d, 7);
  EXPECT_EQ(recorder.count(), 2u);
}

TEST(FixPt, SegmentToLineStoresTheDirectionFromP2ToP1) {
  auto angleOf = [](cmath_vect32_4 p1, cmath_vect32_4 p2) {
    const cmath_shapeFixPtLineSeg seg{p1, p2};
    cmath_shapeFixPtLine line{};
    EXPECT_EQ(cmath_shapeFixPtLineSeg_getLine(&seg, &line), 0);
    EXPECT_EQ(line.x, p1.x);
    EXPECT_EQ(line.y, p1.y);
    return line.angle;
  };
  EXPECT_EQ(angleOf({16, 0}, {0, 0}), 0);
  EXPECT_EQ(angleOf({0, 0}, {16, 0}), 0x8000);
  EXPECT_EQ(angleOf({0, 16}, {0, 0}), 0x4000);
  EXPECT_EQ(angleOf({0, 0}, {0, 16}), 0xC000);
  EXPECT_EQ(angleOf({5, 5}, {0, 0}), 0x2000);

  std::mt19937 rng(10);
  std::uniform_int_distribution<int32_t> c(-5000, 5000);
  for (int i = 0; i < 20000; ++i) {
    const cmath_vect32_4 p1{c(rng), c(rng)}, p2{c(rng), c(rng)};
    if (p1.x == p2.x && p1.y == p2.y) continue;
    const double exact = std::atan2(double(p1.y) - p2.y, double(p1.x) - p2.x) * kTurn / (2 * M_PI);
    double diff = std::fmod(angleOf(p1, p2) - exact, kTurn);
    if (diff > kTurn / 2) diff -= kTurn;
    if (diff < -kTurn / 2) diff += kTurn;
    ASSERT_LE(std::fabs(diff), 0.5 + 1e-9) << i;
  }
}

TEST(FixPt, LineDistancesMatchDoublePrecision) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> c(-100000, 100000), d(-0xFFFE, 0xFFFE);
  std::uniform_int_distribution<int> angle(0, 65535);
  for (int i = 0; i < 100000; ++i) {
    const cmath_shapeFixPtLine line{c(rng), c(rng), static_cast<uint16_t>(angle(rng))};
    const cmath_vect32_4 q{line.x + d(rng) / (i % 3 + 1), line.y + d(rng) / (i % 3 + 1)};
    int32_t from = -1, along = -1;
    ASSERT_EQ(cmath_shapeFixPtLine_distanceFrom(&line, &q, &from), 0);
    ASSERT_EQ(cmath_shapeFixPtLine_distanceAlong(&line, &q, &along), 0);
    // Reference on the stored angle: the trigonometry (half a unit in 2^15) and two floor
    // shifts are all the error there is.
    const double a = line.angle * 2 * M_PI / kTurn, dx = double(q.x) - line.x, dy = double(q.y) - line.y;
    const double bound = (std::fabs(dx) + std::fabs(dy)) * (0.5 / 32768) + 2.0 + 1e-9;
    ASSERT_NEAR(from, std::fabs(-dx * std::sin(a) + dy * std::cos(a)), bound) << i;
    ASSERT_NEAR(along, std::fabs(dx * std::cos(a) + dy * std::sin(a)), bound) << i;
  }

  AssertRecorder recorder;
  const cmath_shapeFixPtLine line{0, 0, 0};
  const cmath_vect32_4 far{0xFFFF, 0}, farY{0, -0xFFFF};
  int32_t out = 7;
  EXPECT_EQ(cmath_shapeFixPtLine_distanceFrom(&line, &far, &out), csys_errAssertion);
  EXPECT_EQ(cmath_shapeFixPtLine_distanceAlong(&line, &farY, &out), csys_errAssertion);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(recorder.count(), 2u);
}

TEST(FixPt, SegmentDistanceMatchesDoublePrecision) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<int32_t> c(-30000, 30000), d(-20000, 20000);
  int before = 0, after = 0, beside = 0;
  for (int i = 0; i < 50000; ++i) {
    const cmath_vect32_4 p1{c(rng), c(rng)};
    const cmath_vect32_4 p2{p1.x + d(rng) / (i % 4 + 1), p1.y + d(rng) / (i % 4 + 1)};
    const cmath_vect32_4 q{p1.x + d(rng), p1.y + d(rng)};
    if (std::abs(p2.x - p1.x) < 8 && std::abs(p2.y - p1.y) < 8) continue;
    const cmath_shapeFixPtLineSeg seg{p1, p2};
    int32_t got = -1;
    ASSERT_EQ(cmath_shapeFixPtLineSeg_distanceFrom(&seg, &q, &got), 0);
    // Angle quantisation (half a step) tilts the line about p1; the rest is as for the point
    // and line distances.
    const double r = exactDist(q, p1);
    const double bound = r * (M_PI / kTurn) + 4.0 * (1.0 + std::sqrt(2.0)) + 4.0;
    ASSERT_NEAR(got, exactSegDist(p1, p2, q), bound) << i;
    // Where the point clearly projects outside a long segment (the quarter-pixel projection
    // cannot tip the decision) the answer is the end point's distance itself.
    const double ux = double(p2.x) - p1.x, uy = double(p2.y) - p1.y, len = std::hypot(ux, uy);
    const double along = ((q.x - p1.x) * ux + (q.y - p1.y) * uy) / len;  // from p1 towards p2
    if (len < 2000) continue;
    if (along < -200) {
      ++before;
      ASSERT_EQ(got, dist(q, p1));
    } else if (along > len + 200) {
      ++after;
      ASSERT_EQ(got, dist(q, p2));
    } else if (along > 200 && along < len - 200) {
      ++beside;
    }
  }
  EXPECT_GT(before, 1000);
  EXPECT_GT(after, 1000);
  EXPECT_GT(beside, 1000);

  const cmath_shapeFixPtLineSeg point{{5, 5}, {5, 5}};
  const cmath_vect32_4 q{0, 0};
  int32_t out = 7;
  EXPECT_EQ(cmath_shapeFixPtLineSeg_distanceFrom(&point, &q, &out), cidut_errUnsupported);
  EXPECT_EQ(out, 7);

  // Shorter than a quarter pixel on both axes: no direction left after the shift.
  AssertRecorder recorder;
  const cmath_shapeFixPtLineSeg tiny{{4, 4}, {6, 7}};
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
    const double sign = shape % 2 ? 1.0 : -1.0;  // both turning orders
    const cmath_vect32_4 po{static_cast<int32_t>((u(rng) - 0.5) * 30000), static_cast<int32_t>((u(rng) - 0.5) * 30000)};
    const cmath_vect32_4 px{po.x + static_cast<int32_t>(lx * std::cos(angle)),
                            po.y + static_cast<int32_t>(lx * std::sin(angle))};
    const double ya = angle + sign * (M_PI / 2 + skew);
    const cmath_vect32_4 py{po.x + static_cast<int32_t>(ly * std::cos(ya)), po.y + static_cast<int32_t>(ly * std::sin(ya))};
    const cmath_shapeFixPtAffineRectPoints rect{po, px, py};

    // Exact coordinates (u, v) of a point in the frame po + u (px - po) + v (py - po), and its
    // distance from the nearest side in 1/16 pixel.
    const double ax = px.x - po.x, ay = px.y - po.y, bx = py.x - po.x, by = py.y - po.y;
    const double det = ax * by - ay * bx;
    const double heightX = std::fabs(det) / std::hypot(ax, ay), widthY = std::fabs(det) / std::hypot(bx, by);
    const double minX = std::min({0.0, ax, bx, ax + bx}), maxX = std::max({0.0, ax, bx, ax + bx});
    const double minY = std::min({0.0, ay, by, ay + by}), maxY = std::max({0.0, ay, by, ay + by});
    for (int k = 0; k < 400; ++k) {
      const double qx = minX - 48 + u(rng) * (maxX - minX + 96), qy = minY - 48 + u(rng) * (maxY - minY + 96);
      const cmath_vect32_4 q{po.x + static_cast<int32_t>(std::lround(qx)), po.y + static_cast<int32_t>(std::lround(qy))};
      const double rx = q.x - po.x, ry = q.y - po.y;
      const double s = (rx * by - ry * bx) / det, t = (ax * ry - ay * rx) / det;
      // Positive inside (the distance to the nearest side); negative outside, where the point
      // is at least that far from some side's line and so from the parallelogram.
      const double margin = std::min({s * widthY, (1 - s) * widthY, t * heightX, (1 - t) * heightX});
      uint32_t flag = 7;
      ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &q, &flag), 0);
      ASSERT_TRUE(flag == 0 || flag == 1);
      if (std::fabs(margin) < 16) {
        ++thin;
        continue;  // within a pixel of a side's line: either answer is fine
      }
      const bool in = margin > 0;
      ASSERT_EQ(flag, in ? 1u : 0u) << "shape " << shape << " point " << k << " margin " << margin;
      ++(in ? inside : outside);
    }
  }
  EXPECT_GT(inside, 20000);
  EXPECT_GT(outside, 20000);
  EXPECT_GT(thin, 0);
}

TEST(FixPt, ContainmentBoxRejectsFarPointsBeforeAnyDistance) {
  cmath_shapeFixPtAffineRectPoints rect{{0, 0}, {160, 0}, {0, 80}};
  uint32_t flag = 7;
  AssertRecorder recorder;
  // Far beyond the line distances' range: only the box test can answer without asserting.
  for (const cmath_vect32_4 q : {cmath_vect32_4{1000000, 40}, cmath_vect32_4{-1000000, -1000000},
                                 cmath_vect32_4{80, 1 << 30}, cmath_vect32_4{160 + 32, 40}, cmath_vect32_4{80, -32}}) {
    flag = 7;
    ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &q, &flag), 0);
    EXPECT_EQ(flag, 0u);
  }
  EXPECT_EQ(recorder.count(), 0u);
  // Just inside the widened box but outside the rectangle: decided by the side distances.
  const cmath_vect32_4 nearOut{160 + 31, 40}, in{80, 40};
  ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &nearOut, &flag), 0);
  EXPECT_EQ(flag, 0u);
  ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &in, &flag), 0);
  EXPECT_EQ(flag, 1u);
  // The corners themselves lie on the box's edge; the widening lets the side test keep them.
  for (const cmath_vect32_4 corner : {rect.po, rect.px, rect.py, cmath_vect32_4{160, 80}}) {
    flag = 7;
    ASSERT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &corner, &flag), 0);
    EXPECT_EQ(flag, 1u) << corner.x << "," << corner.y;
  }

  EXPECT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(nullptr, &in, &flag), csys_errAssertion);
  EXPECT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, nullptr, &flag), csys_errAssertion);
  EXPECT_EQ(cmath_shapeFixPtAffineRectPoints_getIsWithin(&rect, &in, nullptr), csys_errAssertion);
  EXPECT_EQ(recorder.count(), 3u);
}
