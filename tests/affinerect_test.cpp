// Affine rectangles: centre form against a closed form and round trips, containment against an
// independent polygon test, degeneracy, enclosing pixel rectangles and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "base/cmath_affineRect.h"

namespace {

using Rect = cmath_shapeAffineRect;

double gap(const Rect& a, const Rect& b) {
  auto d = [](cmath_vect p, cmath_vect q) { return std::hypot(p.x - q.x, p.y - q.y); };
  return std::max({d(a.po, b.po), d(a.px, b.px), d(a.py, b.py)});
}

// 1 strictly inside, 0 outside a convex quadrilateral in either turning order (every edge's
// signed distance has one sign); -1 when within `margin` of an edge.
int insideConvex(const cmath_vect* poly, cmath_vect q, double margin) {
  double lo = INFINITY, hi = -INFINITY;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect a = poly[i], b = poly[(i + 1) % 4];
    const double d = ((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x)) / std::hypot(b.x - a.x, b.y - a.y);
    lo = std::min(lo, d);
    hi = std::max(hi, d);
  }
  return std::min(std::fabs(lo), std::fabs(hi)) < margin ? -1 : lo > 0 || hi < 0;
}

}  // namespace

TEST(AffineRect, CentreFormRoundTripAndWithinAgainstAPolygonTest) {
  // A 6 x 2 rectangle turned by 30 degrees about (10, 20): Po = centre - 3 u - 1 v.
  const double a = M_PI / 6, ca = std::cos(a), sa = std::sin(a);
  const cmath_shapeAffineRectCenter turned{{10, 20}, 6, 2, a, a};
  Rect r, back;
  ASSERT_EQ(cmath_shapeAffineRect_initCenter(&r, &turned), 0);
  const cmath_vect po{10 - 3 * ca + sa, 20 - 3 * sa - ca};
  EXPECT_LT(gap(r, Rect{po, {po.x + 6 * ca, po.y + 6 * sa}, {po.x - 2 * sa, po.y + 2 * ca}}), 1e-12);

  std::mt19937 rng(11);
  std::uniform_real_distribution<double> coord(-50, 50);
  auto point = [&](double s) { return cmath_vect{coord(rng) * s, coord(rng) * s}; };
  int counts[2] = {0, 0};
  for (int i = 0; i < 300; ++i) {
    // Points -> centre form -> points, angles in (-pi, pi].
    r = Rect{point(1), point(1), point(1)};
    cmath_shapeAffineRectCenter c;
    ASSERT_EQ(cmath_shapeAffineRect_getCenter(&r, &c), 0);
    EXPECT_TRUE(c.xRotation > -M_PI && c.xRotation <= M_PI && c.yRotation > -M_PI && c.yRotation <= M_PI);
    ASSERT_EQ(cmath_shapeAffineRect_initCenter(&back, &c), 0);
    EXPECT_LT(gap(r, back), 1e-9);
    cmath_vect popp;
    cmath_shapeAffineRect_getPopp(&r, &popp);
    const cmath_vect poly[4] = {r.po, r.px, popp, r.py};
    for (int k = 0; k < 40; ++k) {
      const cmath_vect q = point(1.5);
      const int expect = insideConvex(poly, q, 1e-6);
      uint32_t flag = 9;
      if (expect < 0) continue;
      ASSERT_EQ(cmath_shapeAffineRect_within(&r, &q, &flag), 0);
      ASSERT_EQ(static_cast<int>(flag), expect) << "rect " << i << " point " << q.x << "," << q.y;
      ++counts[expect];
    }
  }
  EXPECT_GT(std::min(counts[0], counts[1]), 500);
}

TEST(AffineRect, DegenerateShapesEnclosingRectanglesAndFailures) {
  // The outline (a far corner, the origin corner of a tiny square that is proper by the relative
  // test) counts as inside; shapes without area contain not even a point of their own outline.
  const struct { cmath_vect po, px, py, probe; uint32_t degenerate, inside; } cases[] = {
      {{0, 0}, {2, 0}, {0, 2}, {2, 2}, 0, 1},         {{0, 0}, {1e-9, 0}, {0, 1e-9}, {0, 0}, 0, 1},
      {{0, 0}, {2, 0}, {0, 2}, {NAN, 0}, 0, 0},       {{1, 1}, {1, 1}, {0, 2}, {0.5, 1.5}, 1, 0},
      {{0, 0}, {2, 2}, {-3, -3}, {-0.5, -0.5}, 1, 0}, {{0, 0}, {INFINITY, 0}, {0, 1}, {0, 0.5}, 1, 0}};
  for (const auto& c : cases) {
    const Rect r{c.po, c.px, c.py};
    uint32_t deg = 9, in = 9;
    ASSERT_EQ(cmath_shapeAffineRect_getIsDegenerate(&r, &deg), 0);
    ASSERT_EQ(cmath_shapeAffineRect_within(&r, &c.probe, &in), 0);
    EXPECT_TRUE(deg == c.degenerate && in == c.inside) << c.px.x << "," << c.py.y;
  }
  // x 0.5 .. 2.5, y -1.25 .. 3.3; through (2x + 10, 2y): 11 .. 15, -2.5 .. 6.6.
  const Rect r{{0.5, -1.25}, {2.5, -1.25}, {0.5, 3.3}};
  const cmath_xformLinear x{{2, 0, 0, 2}, {10, 0}};
  cstd_rect32 box[2];
  ASSERT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&r, nullptr, &box[0]), 0);
  ASSERT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&r, &x, &box[1]), 0);
  EXPECT_EQ((std::array{box[0].x, box[0].y, box[0].width, box[0].height, box[1].x, box[1].y, box[1].width, box[1].height}),
            (std::array<int32_t, 8>{0, -2, 3, 6, 11, -3, 4, 10}));
  // Out of 32-bit range, zero X side: refused, the output untouched.
  const Rect huge{{-2e9, 0}, {2e9, 0}, {-2e9, 1}}, flat{{0, 0}, {0, 0}, {-3, 0}};
  cmath_vect u{7, 7};
  EXPECT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&huge, nullptr, &box[0]), csys_errBadArgument);
  EXPECT_EQ(box[0].width, 3);
  EXPECT_EQ(cmath_shapeAffineRect_getUnitPoPx(&flat, &u), csys_errZeroVector);
  EXPECT_EQ(u.x, 7);
}
