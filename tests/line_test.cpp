// Lines and segments: construction from angle, direction and distance; intersections and their
// parallel limit; projections and the sign of distances; degenerate segments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "ci_id/line.h"
#include "support/assert_recorder.hpp"

namespace {

bool allZero(const cidut_line& l) {
  const cidut_line zero{};
  return std::memcmp(&l, &zero, sizeof(l)) == 0;
}

double gap(const cmath_vect& v, double x, double y) { return std::hypot(v.x - x, v.y - y); }

}  // namespace

TEST(Line, InitAngDisPlacesTheLineAtItsNormalDistance) {
  cidut_line l;
  ASSERT_EQ(cidut_line_initAngDis(&l, 0.0, 2.0), 0);
  EXPECT_TRUE(gap(l.pos, 0, 2) == 0 && gap(l.dir, 1, 0) == 0);
  ASSERT_EQ(cidut_line_initAngDis(&l, M_PI / 2, 2.0), 0);
  EXPECT_LT(gap(l.pos, -2, 0) + gap(l.dir, 0, 1), 1e-12);
  ASSERT_EQ(cidut_line_initAngDis(&l, 0.3, 0.0), 0);  // zero distance is allowed, negative is not
  EXPECT_LT(gap(l.pos, 0, 0), 1e-15);
  EXPECT_EQ(cidut_line_initAngDis(&l, 0.3, -1.0), cidut_errZeroDirection);
  EXPECT_TRUE(allZero(l));

  // For random angles the origin lies at the given distance on the side of (-sin, cos).
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> angle(-M_PI, M_PI), dist(0.0, 100.0);
  for (int i = 0; i < 1000; ++i) {
    const double a = angle(rng), r = dist(rng);
    ASSERT_EQ(cidut_line_initAngDis(&l, a, r), 0);
    const double along = -l.pos.x * std::sin(a) + l.pos.y * std::cos(a);
    EXPECT_NEAR(along, r, 1e-9 * (1 + r / std::max(std::fabs(std::cos(a)), std::fabs(std::sin(a)))));
  }
}

TEST(Line, InitDirPosNormalisesOrRefusesAShortDirection) {
  cidut_line l;
  const cmath_vect p{3, 4}, d{3, 4}, tiny{5e-6, 5e-6}, justEnough{1e-5, 0};
  ASSERT_EQ(cidut_line_initDirPos(&l, &d, &p), 0);
  EXPECT_LT(gap(l.dir, 0.6, 0.8), 1e-15);
  EXPECT_EQ(cidut_line_initDirPos(&l, &tiny, &p), cidut_errZeroDirection);
  EXPECT_TRUE(allZero(l));
  EXPECT_EQ(cidut_line_initDirPos(&l, &justEnough, &p), 0);
  ASSERT_EQ(cidut_line_initAngPos(&l, M_PI, &p), 0);
  EXPECT_TRUE(l.dir.x == -1.0 && l.pos.y == 4.0);
}

TEST(Line, IntersectionAndItsParallelLimit) {
  cidut_line a, b;
  const cmath_vect o{0, 0}, x{1, 0}, q{2, -3}, diag{1, 1};
  cidut_line_initDirPos(&a, &x, &o);
  cidut_line_initDirPos(&b, &diag, &q);
  cmath_vect p{42, 42};
  ASSERT_EQ(cidut_line_getIntersection(&a, &b, &p), 0);
  EXPECT_LT(gap(p, 5, 0), 1e-12);

  // Directions whose cross product is 5e-13 count as parallel; 2e-12 does not.
  b.dir = cmath_vect{1.0, 5e-13};
  p = cmath_vect{42, 42};
  EXPECT_EQ(cidut_line_getIntersection(&a, &b, &p), cidut_errParallelLines);
  EXPECT_EQ(p.x, 42);  // untouched
  b.dir = cmath_vect{1.0, 2e-12};
  EXPECT_EQ(cidut_line_getIntersection(&a, &b, &p), 0);

  // Random crossing lines: the point lies on both.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-50, 50);
  for (int i = 0; i < 500; ++i) {
    const cmath_vect p1{u(rng), u(rng)}, d1{u(rng), u(rng)}, p2{u(rng), u(rng)}, d2{u(rng), u(rng)};
    if (cidut_line_initDirPos(&a, &d1, &p1) || cidut_line_initDirPos(&b, &d2, &p2)) continue;
    if (std::fabs(a.dir.x * b.dir.y - a.dir.y * b.dir.x) < 1e-3) continue;
    ASSERT_EQ(cidut_line_getIntersection(&a, &b, &p), 0);
    double da, db;
    cidut_line_getDistToPoint(&a, &p, &da);
    cidut_line_getDistToPoint(&b, &p, &db);
    EXPECT_LT(std::fabs(da) + std::fabs(db), 1e-7) << i;
  }
}

TEST(Line, SignedDistanceAndProjection) {
  cidut_line l;
  const cmath_vect o{1, 1}, x{2, 0};
  cidut_line_initDirPos(&l, &x, &o);
  // (dir.y, -dir.x) = (0, -1): points with smaller y are on the positive side.
  const cmath_vect points[3] = {{5, -2}, {5, 4}, {-7, 1}};  // above, below, on
  double d[3];
  for (int i = 0; i < 3; ++i) cidut_line_getDistToPoint(&l, &points[i], &d[i]);
  EXPECT_TRUE(d[0] == 3.0 && d[1] == -3.0 && d[2] == 0.0) << d[0] << " " << d[1] << " " << d[2];
  cmath_vect foot;
  ASSERT_EQ(cidut_line_projectPoint(&l, &points[1], &foot), 0);
  EXPECT_EQ(gap(foot, 5, 1), 0);
}

TEST(LineSeg, LinesAnglesDistancesAndDegenerateSegments) {
  cidut_lineSeg s, t;
  const cmath_vect a{0, 0}, b{0, 2}, c{1, 1}, e{3, 1}, same{4, 4};
  cidut_lineSeg_initP1P2(&s, &a, &b);
  double angle;
  double d;
  ASSERT_EQ(cidut_lineSeg_getAngle(&s, &angle) | cidut_lineSeg_getDistToPoint(&s, &c, &d), 0);
  EXPECT_TRUE(angle == M_PI / 2 && d == 1.0);  // (dir.y, -dir.x) = (1, 0)

  // Segments that do not touch still report the crossing of their lines.
  cidut_lineSeg_initP1P2(&t, &c, &e);
  cmath_vect p;
  ASSERT_EQ(cidut_lineSeg_getIntersection(&s, &t, &p), 0);
  EXPECT_EQ(gap(p, 0, 1), 0);
  cidut_lineSeg_initP1P2(&t, &c, &c);
  EXPECT_EQ(cidut_lineSeg_getIntersection(&s, &t, &p), cidut_errParallelLines);

  cidut_lineSeg z;
  cidut_lineSeg_initP1P2(&z, &same, &same);
  cidut_line line{{9, 9}, {9, 9}};
  EXPECT_EQ(cidut_lineSeg_getLine(&z, &line), cidut_errDegenerateSegment);
  EXPECT_EQ(line.pos.x, 9);  // untouched
  EXPECT_EQ(cidut_lineSeg_getAngle(&z, &angle), cidut_errDegenerateSegment);
  EXPECT_EQ(cidut_lineSeg_getDistToPoint(&z, &c, &d), cidut_errDegenerateSegment);
}

TEST(Line, NullArgumentsAssertAndFail) {
  AssertRecorder asserts;
  cidut_line l;
  cmath_vect p{0, 0};
  EXPECT_EQ(cidut_line_initDirPos(nullptr, &p, &p), csys_errAssertion);
  EXPECT_EQ(cidut_line_getIntersection(&l, nullptr, &p), csys_errAssertion);
  EXPECT_EQ(cidut_lineSeg_getIntersection(nullptr, nullptr, nullptr), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 3u);
}

TEST(BaseGeometry, UnitVectorsLineCrossingsAndAngles) {
  cmath_vect unit{7, 7};
  const cmath_vect zero{0, 0}, v{-3, 4};
  EXPECT_EQ(cmath_vect_getUnit(&zero, &unit), csys_errZeroVector);
  EXPECT_EQ(unit.x, 7);  // untouched
  ASSERT_EQ(cmath_vect_getUnit(&v, &unit), 0);
  EXPECT_LT(gap(unit, -0.6, 0.8), 1e-15);
  double angle;
  cmath_vect_getDirection(&v, &angle);
  EXPECT_DOUBLE_EQ(angle, std::atan2(4.0, -3.0));

  // Lines in direction-then-point form; the crossing of y = 2 and x = -1, and parallel ones.
  const cmath_shapeLine horizontal{{3, 0}, {10, 2}}, vertical{{0, -0.5}, {-1, 7}}, shifted{{-6, 0}, {0, 9}};
  cmath_vect p{0, 0};
  ASSERT_EQ(cmath_shapeLine_intersection(&horizontal, &vertical, &p), 0);
  EXPECT_EQ(gap(p, -1, 2), 0);
  EXPECT_EQ(cmath_shapeLine_intersection(&horizontal, &shifted, &p), csys_errParallelLines);

  // Angles fold into (-pi, pi]; the boundary stays at +pi.
  for (double a : {0.0, 1.0, -3.0, 3.1, 10.0, -10.0, 100.0}) {
    const double n = cmath_radian_norm(a);
    EXPECT_TRUE(n > -M_PI && n <= M_PI && std::fabs(std::remainder(n - a, 2 * M_PI)) < 1e-12) << a;
  }
  EXPECT_DOUBLE_EQ(cmath_radian_norm(-M_PI), M_PI);
  EXPECT_TRUE(cmath_double_epsilonEqual(1.0, 1.0 + 1e-6, 1e-5));
  EXPECT_FALSE(cmath_double_epsilonEqual(1.0, 1.0 + 1e-4, 1e-5));
}
