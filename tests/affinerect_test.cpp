// Affine rectangles: centre form against a closed form and round trips, containment against an
// independent polygon test, degeneracy and enclosing pixel rectangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "base/cmath_affineRect.h"

namespace {

cmath_shapeAffineRect makeRect(cmath_vect po, cmath_vect px, cmath_vect py) {
  const cmath_shapeAffineRectPoints pts{po, px, py};
  cmath_shapeAffineRect r;
  EXPECT_EQ(cmath_shapeAffineRect_initPoints(&r, &pts), 0);
  return r;
}

double gap(const cmath_shapeAffineRect& a, const cmath_shapeAffineRect& b) {
  auto d = [](cmath_vect p, cmath_vect q) { return std::hypot(p.x - q.x, p.y - q.y); };
  return std::max({d(a.po, b.po), d(a.px, b.px), d(a.py, b.py)});
}

// 1 strictly inside, 0 outside a convex polygon in either turning order (every edge's signed
// distance has one sign); -1 when within `margin` of an edge.
int insideConvex(const cmath_vect* poly, int n, cmath_vect q, double margin) {
  int sign = 0;
  for (int i = 0; i < n; ++i) {
    const cmath_vect a = poly[i], b = poly[(i + 1) % n];
    const double d = ((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x)) / std::hypot(b.x - a.x, b.y - a.y);
    if (std::fabs(d) < margin) return -1;
    if (sign == 0) sign = d > 0 ? 1 : -1;
    else if ((d > 0 ? 1 : -1) != sign) return 0;
  }
  return 1;
}

}  // namespace

TEST(AffineRect, CentreFormAgainstClosedFormAndItsFailures) {
  // A 6 x 2 rectangle turned by 30 degrees about (10, 20): Po = centre - 3 u - 1 v.
  const double a = M_PI / 6, ca = std::cos(a), sa = std::sin(a);
  cmath_shapeAffineRectCenter c{{10, 20}, 6, 2, a, a};
  cmath_shapeAffineRect r;
  ASSERT_EQ(cmath_shapeAffineRect_initCenter(&r, &c), 0);
  const cmath_vect po{10 - 3 * ca + sa, 20 - 3 * sa - ca};
  EXPECT_LT(gap(r, makeRect(po, {po.x + 6 * ca, po.y + 6 * sa}, {po.x - 2 * sa, po.y + 2 * ca})), 1e-12);

  // A zero-length side takes the other side's angle; non-finite input and a zero X side are
  // refused with the output untouched.
  const cmath_shapeAffineRect flat = makeRect({0, 0}, {0, 0}, {-3, 0}), keep = r;
  ASSERT_EQ(cmath_shapeAffineRect_getCenter(&flat, &c), 0);
  EXPECT_NEAR(c.yRotation, M_PI / 2, 1e-15);
  EXPECT_EQ(c.xRotation, c.yRotation);
  c.yRotation = NAN;
  EXPECT_EQ(cmath_shapeAffineRect_initCenter(&r, &c), csys_errBadArgument);
  EXPECT_EQ(gap(r, keep), 0);
  cmath_vect u{7, 7};
  EXPECT_EQ(cmath_shapeAffineRect_getUnitPoPx(&flat, &u), csys_errZeroVector);
  EXPECT_EQ(u.x, 7);
}

TEST(AffineRect, RandomParallelogramsRoundTripAndWithinAgreesWithPolygonTest) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> coord(-50, 50);
  auto point = [&](double s) { return cmath_vect{coord(rng) * s, coord(rng) * s}; };
  int counts[2] = {0, 0};
  for (int i = 0; i < 300; ++i) {
    const cmath_shapeAffineRect r = makeRect(point(1), point(1), point(1));
    // Points -> centre form -> points, angles in (-pi, pi].
    cmath_shapeAffineRectCenter c;
    cmath_shapeAffineRect back;
    ASSERT_EQ(cmath_shapeAffineRect_getCenter(&r, &c), 0);
    EXPECT_TRUE(c.xRotation > -M_PI && c.xRotation <= M_PI && c.yRotation > -M_PI && c.yRotation <= M_PI);
    ASSERT_EQ(cmath_shapeAffineRect_initCenter(&back, &c), 0);
    EXPECT_LT(gap(r, back), 1e-9);

    cmath_vect popp;
    cmath_shapeAffineRect_getPopp(&r, &popp);
    const cmath_vect poly[4] = {r.po, r.px, popp, r.py};
    for (int k = 0; k < 40; ++k) {
      const cmath_vect q = point(1.5);
      const int expect = insideConvex(poly, 4, q, 1e-6);
      uint32_t flag = 9;
      if (expect < 0) continue;
      ASSERT_EQ(cmath_shapeAffineRect_within(&r, &q, &flag), 0);
      ASSERT_EQ(static_cast<int>(flag), expect) << "rect " << i << " point " << q.x << "," << q.y;
      ++counts[expect];
    }
  }
  EXPECT_GT(counts[0], 500);
  EXPECT_GT(counts[1], 500);
}

TEST(AffineRect, ClosedOutlineAndDegenerateShapes) {
  // The outline counts as inside; the tiny square is proper by the relative test; shapes without
  // area contain not even a point of their own outline.
  const struct {
    cmath_vect po, px, py, probe;
    uint32_t degenerate, inside;
  } cases[] = {
      {{0, 0}, {2, 0}, {0, 2}, {2, 2}, 0, 1},         {{0, 0}, {2, 0}, {0, 2}, {0, 1}, 0, 1},
      {{0, 0}, {1e-9, 0}, {0, 1e-9}, {1e-9, 5e-10}, 0, 1},
      {{0, 0}, {2, 0}, {0, 2}, {NAN, 0}, 0, 0},       {{1, 1}, {1, 1}, {0, 2}, {0.5, 1.5}, 1, 0},
      {{0, 0}, {2, 2}, {-3, -3}, {-0.5, -0.5}, 1, 0}, {{0, 0}, {1e6, 0}, {1e6, 1e-9}, {1e6, 0}, 1, 0},
      {{5, 5}, {5, 5}, {5, 5}, {5, 5}, 1, 0},         {{0, 0}, {INFINITY, 0}, {0, 1}, {0, 0.5}, 1, 0},
  };
  for (const auto& c : cases) {
    const cmath_shapeAffineRect r = makeRect(c.po, c.px, c.py);
    uint32_t deg = 9, in = 9;
    ASSERT_EQ(cmath_shapeAffineRect_getIsDegenerate(&r, &deg), 0);
    ASSERT_EQ(cmath_shapeAffineRect_within(&r, &c.probe, &in), 0);
    EXPECT_EQ(deg, c.degenerate) << c.px.x << "," << c.py.y;
    EXPECT_EQ(in, c.inside) << c.px.x << "," << c.py.y;
  }
}

TEST(AffineRect, EncloseImageRect) {
  // The rectangle spans x 0.5 .. 2.5, y -1.25 .. 3; through (2x + 10, 2y) it spans 11 .. 15,
  // -2.5 .. 6; a diamond's box needs all four corners.
  const cmath_shapeAffineRect r = makeRect({0.5, -1.25}, {2.5, -1.25}, {0.5, 3});
  const cmath_shapeAffineRect diamond = makeRect({0, 0}, {1, 1}, {-1, 1});
  const cmath_xformLinear x{{2, 0, 0, 2}, {10, 0}};
  cstd_rect32 box;
  auto enclose = [&](const cmath_shapeAffineRect& rect, const cmath_xformLinear* xform) {
    EXPECT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&rect, xform, &box), 0);
    return std::array<int32_t, 4>{box.x, box.y, box.width, box.height};
  };
  EXPECT_EQ(enclose(r, nullptr), (std::array<int32_t, 4>{0, -2, 3, 5}));
  EXPECT_EQ(enclose(r, &x), (std::array<int32_t, 4>{11, -3, 4, 9}));
  EXPECT_EQ(enclose(diamond, nullptr), (std::array<int32_t, 4>{-1, 0, 2, 2}));
  // Out-of-range or non-finite corners are refused, the output untouched.
  const cmath_shapeAffineRect huge = makeRect({-2e9, 0}, {2e9, 0}, {-2e9, 1}), bad = makeRect({NAN, 0}, {1, 0}, {0, 1});
  EXPECT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&huge, nullptr, &box), csys_errBadArgument);
  EXPECT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&bad, nullptr, &box), csys_errBadArgument);
  EXPECT_TRUE(box.x == -1 && box.width == 2);
}
