// Affine rectangles: form conversions, containment against an independent polygon test,
// degeneracy, enclosing pixel rectangles and argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "base/cmath_affineRect.h"

namespace {

cmath_shapeAffineRect makeRect(cmath_vect po, cmath_vect px, cmath_vect py) {
  cmath_shapeAffineRectPoints pts;
  EXPECT_EQ(cmath_shapeAffineRectPoints_init(&pts, &po, &px, &py), 0);
  cmath_shapeAffineRect r;
  EXPECT_EQ(cmath_shapeAffineRect_initPoints(&r, &pts), 0);
  return r;
}

// Strictly inside a convex polygon given in either turning order: all edge cross products share
// one sign and none is near zero. Returns -1 when too close to an edge to call.
int insideConvex(const cmath_vect* poly, int n, cmath_vect q, double margin) {
  int sign = 0;
  for (int i = 0; i < n; ++i) {
    const cmath_vect a = poly[i], b = poly[(i + 1) % n];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    const double d = ((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x)) / len;  // signed distance
    if (std::fabs(d) < margin) return -1;
    const int s = d > 0 ? 1 : -1;
    if (sign == 0) sign = s;
    else if (s != sign) return 0;
  }
  return 1;
}

}  // namespace

TEST(AffineRect, FourthCornerLengthsAndDirection) {
  const cmath_shapeAffineRect r = makeRect({1.5, -2}, {4, 1}, {-1, 3.25});
  cmath_vect popp, u;
  ASSERT_EQ(cmath_shapeAffineRect_getPopp(&r, &popp), 0);
  EXPECT_DOUBLE_EQ(popp.x, 1.5);
  EXPECT_DOUBLE_EQ(popp.y, 6.25);
  double lx, ly;
  ASSERT_EQ(cmath_shapeAffineRect_getXLength(&r, &lx), 0);
  ASSERT_EQ(cmath_shapeAffineRect_getYLength(&r, &ly), 0);
  EXPECT_DOUBLE_EQ(lx, std::hypot(2.5, 3));
  EXPECT_DOUBLE_EQ(ly, std::hypot(2.5, 5.25));
  ASSERT_EQ(cmath_shapeAffineRect_getUnitPoPx(&r, &u), 0);
  EXPECT_DOUBLE_EQ(u.x, 2.5 / lx);
  EXPECT_DOUBLE_EQ(u.y, 3 / lx);
}

TEST(AffineRect, CenterFormOfTurnedRectangleAndRoundTrip) {
  // A 6 x 2 rectangle turned by 30 degrees about (10, 20): both angles equal the turn.
  const double a = M_PI / 6;
  cmath_shapeAffineRectCenter c{{10, 20}, 6, 2, a, a};
  cmath_shapeAffineRect r;
  ASSERT_EQ(cmath_shapeAffineRect_initCenter(&r, &c), 0);
  // Po = centre - 3 (cos a, sin a) - 1 (-sin a, cos a)
  EXPECT_NEAR(r.po.x, 10 - 3 * std::cos(a) + std::sin(a), 1e-12);
  EXPECT_NEAR(r.po.y, 20 - 3 * std::sin(a) - std::cos(a), 1e-12);
  EXPECT_NEAR(r.px.x - r.po.x, 6 * std::cos(a), 1e-12);
  EXPECT_NEAR(r.py.y - r.po.y, 2 * std::cos(a), 1e-12);
  const cmath_vect ax{r.px.x - r.po.x, r.px.y - r.po.y}, ay{r.py.x - r.po.x, r.py.y - r.po.y};
  EXPECT_NEAR(cmath_vect_dot(&ax, &ay), 0, 1e-12);

  cmath_shapeAffineRectCenter back;
  ASSERT_EQ(cmath_shapeAffineRect_getCenter(&r, &back), 0);
  EXPECT_NEAR(back.center.x, 10, 1e-12);
  EXPECT_NEAR(back.center.y, 20, 1e-12);
  EXPECT_NEAR(back.xLength, 6, 1e-12);
  EXPECT_NEAR(back.yLength, 2, 1e-12);
  EXPECT_NEAR(back.xRotation, a, 1e-12);
  EXPECT_NEAR(back.yRotation, a, 1e-12);

  // Random sheared parallelograms, either turning order: points -> centre form -> points.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> coord(-100, 100);
  for (int i = 0; i < 500; ++i) {
    const cmath_shapeAffineRect p = makeRect({coord(rng), coord(rng)}, {coord(rng), coord(rng)}, {coord(rng), coord(rng)});
    cmath_shapeAffineRectCenter pc;
    ASSERT_EQ(cmath_shapeAffineRect_getCenter(&p, &pc), 0);
    EXPECT_GE(pc.xLength, 0);
    EXPECT_GE(pc.yLength, 0);
    EXPECT_GT(pc.xRotation, -M_PI - 1e-15);
    EXPECT_LE(pc.xRotation, M_PI);
    EXPECT_GT(pc.yRotation, -M_PI - 1e-15);
    EXPECT_LE(pc.yRotation, M_PI);
    cmath_shapeAffineRect q;
    ASSERT_EQ(cmath_shapeAffineRect_initCenter(&q, &pc), 0);
    EXPECT_NEAR(q.po.x, p.po.x, 1e-9);
    EXPECT_NEAR(q.po.y, p.po.y, 1e-9);
    EXPECT_NEAR(q.px.x, p.px.x, 1e-9);
    EXPECT_NEAR(q.px.y, p.px.y, 1e-9);
    EXPECT_NEAR(q.py.x, p.py.x, 1e-9);
    EXPECT_NEAR(q.py.y, p.py.y, 1e-9);
  }

  // A zero-length side takes the other side's angle; non-finite input is refused untouched.
  const cmath_shapeAffineRect flat = makeRect({0, 0}, {0, 0}, {-3, 0});
  ASSERT_EQ(cmath_shapeAffineRect_getCenter(&flat, &back), 0);
  EXPECT_NEAR(back.yRotation, M_PI / 2, 1e-15);
  EXPECT_EQ(back.xRotation, back.yRotation);
  EXPECT_EQ(back.xLength, 0);
  cmath_shapeAffineRect keep = r;
  c.yRotation = NAN;
  EXPECT_EQ(cmath_shapeAffineRect_initCenter(&keep, &c), csys_errBadArgument);
  EXPECT_EQ(keep.po.x, r.po.x);
}

TEST(AffineRect, WithinAgreesWithPolygonTest) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> coord(-50, 50);
  int inside = 0, outside = 0;
  for (int i = 0; i < 300; ++i) {
    const cmath_shapeAffineRect r = makeRect({coord(rng), coord(rng)}, {coord(rng), coord(rng)}, {coord(rng), coord(rng)});
    uint32_t deg = 9;
    ASSERT_EQ(cmath_shapeAffineRect_getIsDegenerate(&r, &deg), 0);
    if (deg) continue;
    cmath_vect popp;
    cmath_shapeAffineRect_getPopp(&r, &popp);
    const cmath_vect poly[4] = {r.po, r.px, popp, r.py};
    for (int k = 0; k < 40; ++k) {
      const cmath_vect q{coord(rng) * 1.5, coord(rng) * 1.5};
      const int expect = insideConvex(poly, 4, q, 1e-6);
      if (expect < 0) continue;
      uint32_t flag = 9;
      ASSERT_EQ(cmath_shapeAffineRect_within(&r, &q, &flag), 0);
      ASSERT_EQ(static_cast<int>(flag), expect) << "rect " << i << " point " << q.x << "," << q.y;
      (expect ? inside : outside)++;
    }
  }
  EXPECT_GT(inside, 500);
  EXPECT_GT(outside, 500);

  // Corners and edges of the closed shape count as inside.
  const cmath_shapeAffineRect sq = makeRect({0, 0}, {2, 0}, {0, 2});
  for (cmath_vect q : {cmath_vect{0, 0}, cmath_vect{2, 2}, cmath_vect{1, 0}, cmath_vect{2, 1}}) {
    uint32_t flag = 0;
    ASSERT_EQ(cmath_shapeAffineRect_within(&sq, &q, &flag), 0);
    EXPECT_EQ(flag, 1u);
  }
  uint32_t flag = 1;
  const cmath_vect nan{NAN, 0};
  ASSERT_EQ(cmath_shapeAffineRect_within(&sq, &nan, &flag), 0);
  EXPECT_EQ(flag, 0u);
}

TEST(AffineRect, DegenerateShapesContainNothing) {
  struct Case {
    cmath_vect po, px, py;
    uint32_t degenerate;
  } cases[] = {
      {{0, 0}, {3, 0}, {0, 2}, 0},           // ordinary
      {{0, 0}, {0, 3}, {2, 0}, 0},           // other turning order
      {{1, 1}, {1, 1}, {0, 2}, 1},           // zero X side
      {{1, 1}, {4, 1}, {1, 1}, 1},           // zero Y side
      {{0, 0}, {2, 2}, {-3, -3}, 1},         // parallel sides
      {{0, 0}, {1e6, 0}, {1e6, 1e-9}, 1},    // nearly parallel (relative test)
      {{5, 5}, {5, 5}, {5, 5}, 1},           // one point
      {{0, 0}, {INFINITY, 0}, {0, 1}, 1},    // not finite
  };
  for (const Case& c : cases) {
    const cmath_shapeAffineRect r = makeRect(c.po, c.px, c.py);
    uint32_t deg = 9;
    ASSERT_EQ(cmath_shapeAffineRect_getIsDegenerate(&r, &deg), 0);
    EXPECT_EQ(deg, c.degenerate) << c.px.x << "," << c.px.y;
    uint32_t in = 9;
    const cmath_vect centre{(c.px.x + c.py.x) / 2, (c.px.y + c.py.y) / 2};
    ASSERT_EQ(cmath_shapeAffineRect_within(&r, &centre, &in), 0);
    EXPECT_EQ(in, c.degenerate ? 0u : 1u);
  }
  // A tiny but proper rectangle is not degenerate: the test is relative to its size.
  const cmath_shapeAffineRect tiny = makeRect({0, 0}, {1e-9, 0}, {0, 1e-9});
  uint32_t deg = 9;
  ASSERT_EQ(cmath_shapeAffineRect_getIsDegenerate(&tiny, &deg), 0);
  EXPECT_EQ(deg, 0u);

  cmath_vect u{7, 7};
  const cmath_shapeAffineRect zeroX = makeRect({1, 1}, {1, 1}, {0, 2});
  EXPECT_EQ(cmath_shapeAffineRect_getUnitPoPx(&zeroX, &u), csys_errZeroVector);
  EXPECT_EQ(u.x, 7);
}

TEST(AffineRect, EncloseImageRect) {
  // Spans x 0.5 .. 2.5 and y -1.25 .. 3: whole pixels x 0..3, y -2..3.
  const cmath_shapeAffineRect r = makeRect({0.5, -1.25}, {2.5, -1.25}, {0.5, 3});
  cstd_rect32 box;
  ASSERT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&r, nullptr, &box), 0);
  EXPECT_EQ(box.x, 0);
  EXPECT_EQ(box.width, 3);
  EXPECT_EQ(box.y, -2);
  EXPECT_EQ(box.height, 5);

  // Through a transform: scale 2 and shift (10, 0); a diamond's box comes from all four corners.
  const cmath_xformLinear x{{2, 0, 0, 2}, {10, 0}};
  ASSERT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&r, &x, &box), 0);
  EXPECT_EQ(box.x, 11);
  EXPECT_EQ(box.width, 4);
  EXPECT_EQ(box.y, -3);
  EXPECT_EQ(box.height, 9);
  const cmath_shapeAffineRect diamond = makeRect({0, 0}, {1, 1}, {-1, 1});
  ASSERT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&diamond, nullptr, &box), 0);
  EXPECT_EQ(box.x, -1);
  EXPECT_EQ(box.width, 2);
  EXPECT_EQ(box.y, 0);
  EXPECT_EQ(box.height, 2);

  // Out-of-range or non-finite corners are refused, the output untouched.
  const cstd_rect32 before = box;
  const cmath_shapeAffineRect huge = makeRect({-2e9, 0}, {2e9, 0}, {-2e9, 1});
  EXPECT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&huge, nullptr, &box), csys_errBadArgument);
  const cmath_shapeAffineRect bad = makeRect({NAN, 0}, {1, 0}, {0, 1});
  EXPECT_EQ(cmath_shapeAffineRect_getEncloseImageRect(&bad, nullptr, &box), csys_errBadArgument);
  EXPECT_EQ(box.x, before.x);
  EXPECT_EQ(box.width, before.width);
}
