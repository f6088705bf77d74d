// Symbol regions: closed forms on hand regions, properties on random convex quadrilaterals,
// exact perspective answers on projectively mapped squares, derived regions, the region tests,
// degenerate outlines and the vector family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ci_id/region.h"
#include "support/assert_recorder.hpp"

namespace {

using V = cmath_vect;

cid_region quad(V po, V px, V py, V popp) {
  cid_region r;
  EXPECT_EQ(cid_region_initPoPxPyPopp(&r, &po, &px, &py, &popp), 0);
  return r;
}

void expectNear(V a, V b, double tol, const char* what) {
  EXPECT_NEAR(a.x, b.x, tol) << what;
  EXPECT_NEAR(a.y, b.y, tol) << what;
}

// Field by field (the record has padding bytes that memcmp would read).
bool same(const cid_region* a, const cid_region* b) {
  auto eq = [](V p, V q) { return p.x == q.x && p.y == q.y; };
  return eq(a->po, b->po) && eq(a->px, b->px) && eq(a->py, b->py) && eq(a->popp, b->popp) &&
         std::equal(a->tightness, a->tightness + 4, b->tightness) && a->isAffine == b->isAffine;
}

void expectCorners(const cid_region& r, V po, V px, V py, V popp, double tol, const char* what) {
  expectNear(r.po, po, tol, what);
  expectNear(r.px, px, tol, what);
  expectNear(r.py, py, tol, what);
  expectNear(r.popp, popp, tol, what);
}

double crossOf(V a, V b) { return a.x * b.y - a.y * b.x; }
V minus(V a, V b) { return V{a.x - b.x, a.y - b.y}; }
double norm(V a) { return std::hypot(a.x, a.y); }
// Sine of the angle between a and b; 0 when either is zero.
double sine(V a, V b) {
  const double n = norm(a) * norm(b);
  return n > 0 ? crossOf(a, b) / n : 0;
}

// A random convex quadrilateral (corners on an ellipse in angular order, either turning
// direction) whose corners are all between 15 and 165 degrees.
cid_region randomConvex(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  for (;;) {
    const V c{u(rng) * 200 - 100, u(rng) * 200 - 100};
    const double rx = 5 + 60 * u(rng), ry = 5 + 60 * u(rng), turn = u(rng) * 2 * M_PI;
    V p[4];
    for (int k = 0; k < 4; ++k) {
      const double a = k * M_PI / 2 + (u(rng) - 0.5);
      const V e{rx * std::cos(a), ry * std::sin(a)};
      p[k] = V{c.x + e.x * std::cos(turn) - e.y * std::sin(turn), c.y + e.x * std::sin(turn) + e.y * std::cos(turn)};
    }
    if (u(rng) < 0.5) std::swap(p[1], p[3]);
    bool ok = true;
    for (int k = 0; k < 4; ++k)
      ok = ok && std::fabs(sine(minus(p[(k + 1) % 4], p[k]), minus(p[(k + 3) % 4], p[k]))) > std::sin(15 * M_PI / 180);
    if (ok) return quad(p[0], p[1], p[3], p[2]);  // outline order Po, Px, Popp, Py
  }
}

// Point in polygon by ray casting (crossings of a ray towards +x).
bool rayCastInside(const V* poly, int n, V q) {
  bool in = false;
  for (int i = 0, j = n - 1; i < n; j = i++) {
    if ((poly[i].y > q.y) != (poly[j].y > q.y) &&
        q.x < (poly[j].x - poly[i].x) * (q.y - poly[i].y) / (poly[j].y - poly[i].y) + poly[i].x)
      in = !in;
  }
  return in;
}

double distToLine(V q, V a, V b) { return std::fabs(crossOf(minus(b, a), minus(q, a))) / norm(minus(b, a)); }

// A homography, written out here so the perspective answers do not lean on library code.
struct Homography {
  double h[9];
  V map(V p) const {
    const double w = h[6] * p.x + h[7] * p.y + h[8];
    return V{(h[0] * p.x + h[1] * p.y + h[2]) / w, (h[3] * p.x + h[4] * p.y + h[5]) / w};
  }
};

Homography randomHomography(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  // Scale and turn a unit square to about 40 pixels, then tilt it; w stays in [0.6, 1.4].
  const double s = 40 + 10 * u(rng), a = u(rng) * M_PI;
  return Homography{{s * std::cos(a), -s * std::sin(a) + 5 * u(rng), 30 * u(rng), s * std::sin(a) + 5 * u(rng),
                     s * std::cos(a), 30 * u(rng), 0.2 * u(rng), 0.2 * u(rng), 1.0}};
}

}  // namespace

TEST(Region, UnitSquareAndParallelogramPaths) {
  cid_region r;
  ASSERT_EQ(cid_region_init(&r), 0);
  V c;
  double f = 0;
  ASSERT_EQ(cid_region_getCenter(&r, &c), 0);
  expectNear(c, V{0.5, 0.5}, 0, "unit center");
  ASSERT_EQ(cid_region_getXForshortening(&r, &f), 0);
  EXPECT_EQ(f, 1.0);
  EXPECT_EQ(r.isAffine, 1u);
  EXPECT_EQ(r.popp.x, 1.0);
  EXPECT_EQ(r.tightness[3], 1u);

  // The same parallelogram stored as affine and as a general quadrilateral measures the same.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-50, 50);
  for (int i = 0; i < 200; ++i) {
    const V po{u(rng), u(rng)}, px{u(rng), u(rng)}, py{u(rng), u(rng)};
    cid_region aff, gen;
    ASSERT_EQ(cid_region_initPoPxPyPopp(&aff, &po, &px, &py, nullptr), 0);
    ASSERT_EQ(aff.isAffine, 1u);
    gen = quad(po, px, py, aff.popp);
    ASSERT_EQ(gen.isAffine, 0u);
    uint32_t deg = 0;
    cid_region_getIsDegenerate(&aff, &deg);
    if (deg) continue;
    const double tol = 1e-9 * (1 + norm(po) + norm(px) + norm(py));
    V ca, cg, xa, xg;
    cidut_lineSeg sxa, sya, sxg, syg;
    ASSERT_EQ(cid_region_getCenterSegments(&aff, &ca, &sxa, &sya), 0);
    ASSERT_EQ(cid_region_getCenterSegments(&gen, &cg, &sxg, &syg), 0);
    expectNear(ca, cg, tol, "center");
    expectNear(sxa.p1, sxg.p1, tol, "x segment start");
    expectNear(sxa.p2, sxg.p2, tol, "x segment end");
    expectNear(sya.p1, syg.p1, tol, "y segment start");
    expectNear(sya.p2, syg.p2, tol, "y segment end");
    double la, lg, fa, fg;
    cid_region_getAvYLength(&aff, &la);
    cid_region_getAvYLength(&gen, &lg);
    EXPECT_NEAR(la, lg, tol);
    cid_region_getYForshortening(&aff, &fa);
    cid_region_getYForshortening(&gen, &fg);
    EXPECT_NEAR(fa, fg, 1e-9);
    const V q{u(rng), u(rng)};
    cid_region_getXDirAtPoint(&aff, &q, &xa);
    cid_region_getXDirAtPoint(&gen, &q, &xg);
    expectNear(xa, xg, 1e-9, "direction at a point");
    cid_region_getAvXUnitDir(&gen, &xg);
    expectNear(xa, xg, 1e-9, "average direction");
  }
}

TEST(Region, TrapezoidClosedForms) {
  const cid_region t = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  V c;
  cidut_lineSeg xs, ys;
  ASSERT_EQ(cid_region_getCenterSegments(&t, &c, &xs, &ys), 0);
  expectNear(c, V{2, 4.0 / 3}, 1e-14, "center");
  expectNear(ys.p1, V{2, 0}, 1e-14, "y start");
  expectNear(ys.p2, V{2, 2}, 1e-14, "y end");
  expectNear(xs.p1, V{2.0 / 3, 4.0 / 3}, 1e-14, "x start");
  expectNear(xs.p2, V{10.0 / 3, 4.0 / 3}, 1e-14, "x end");
  double fx, fy, ay, lo, hi;
  cid_region_getXForshortening(&t, &fx);
  cid_region_getYForshortening(&t, &fy);
  EXPECT_NEAR(fx, 1.0, 1e-14);
  EXPECT_NEAR(fy, 0.5, 1e-14);
  ASSERT_EQ(cid_region_getAvYLength(&t, &ay), 0);
  EXPECT_NEAR(ay, 2.0, 1e-14);
  ASSERT_EQ(cid_region_getXLengths(&t, &lo, &hi), 0);
  EXPECT_EQ(lo, 2.0);
  EXPECT_EQ(hi, 4.0);

  // The Y sides meet at (2, 4): the Y direction at a point aims along the line to it, turned to
  // run like Px->Popp.
  V d;
  const V q{1, 1};
  ASSERT_EQ(cid_region_getYDirAtPoint(&t, &q, &d), 0);
  expectNear(d, V{1 / std::sqrt(10.0), 3 / std::sqrt(10.0)}, 1e-14, "y direction");
  double a;
  ASSERT_EQ(cid_region_getYAngleAtPoint(&t, &q, &a), 0);
  EXPECT_NEAR(a, std::atan2(3, 1), 1e-14);

  // Parallelogram approximation: x1 + (y1 - c), x2 + (y1 - c), x1 + (y2 - c).
  cmath_shapeAffineRect rect;
  ASSERT_EQ(cid_region_getAffineRect(&t, &rect), 0);
  expectNear(rect.po, V{2.0 / 3, 0}, 1e-14, "affine po");
  expectNear(rect.px, V{10.0 / 3, 0}, 1e-14, "affine px");
  expectNear(rect.py, V{2.0 / 3, 2}, 1e-14, "affine py");
  cmath_vect popp;
  ASSERT_EQ(cid_region_getAffineRectAndPopp(&t, &rect, &popp), 0);
  EXPECT_EQ(rect.py.x, 1.0);
  EXPECT_EQ(popp.x, 3.0);
}

TEST(Region, CornerListsLinesRotationsAndFlips) {
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    cid_region r = randomConvex(rng);
    for (int k = 0; k < 4; ++k) r.tightness[k] = static_cast<uint32_t>(rng() % 7);

    cmath_shapeLine a[2], b[2];
    cid_region back;
    ASSERT_EQ(cid_region_getLines(&r, a, b), 0);
    ASSERT_EQ(cid_region_initLines(&back, a, b), 0);
    expectCorners(back, r.po, r.px, r.py, r.popp, 1e-9, "lines");

    // Four single steps come back exactly; two single steps equal one double step.
    cid_region s = r, twice;
    for (int k = 0; k < 4; ++k) {
      ASSERT_EQ(cid_region_initRotatePoints(&s, 1, &s), 0);
      if (k == 1) twice = s;
    }
    EXPECT_TRUE(same(&s, &r));
    cid_region two;
    ASSERT_EQ(cid_region_initRotatePoints(&two, 2, &r), 0);
    EXPECT_TRUE(same(&two, &twice));
    ASSERT_EQ(cid_region_initRotatePoints(&two, 4, &r), 0);
    EXPECT_TRUE(same(&two, &r));

    // The center lies on both diagonals and on both center segments, whose ends lie on the
    // sides; in a convex region it is inside.
    V c;
    cidut_lineSeg xs, ys;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &c, &xs, &ys), 0);
    EXPECT_LT(distToLine(c, r.po, r.popp), 1e-9);
    EXPECT_LT(distToLine(c, r.px, r.py), 1e-9);
    EXPECT_LT(distToLine(c, xs.p1, xs.p2), 1e-9);
    EXPECT_LT(distToLine(c, ys.p1, ys.p2), 1e-9);
    EXPECT_LT(distToLine(xs.p1, r.po, r.py), 1e-9);
    EXPECT_LT(distToLine(xs.p2, r.px, r.popp), 1e-9);
    EXPECT_LT(distToLine(ys.p1, r.po, r.px), 1e-9);
    EXPECT_LT(distToLine(ys.p2, r.py, r.popp), 1e-9);
    uint32_t in = 0, deg = 1;
    ASSERT_EQ(cid_region_within(&r, &c, &in), 0);
    EXPECT_EQ(in, 1u);
    ASSERT_EQ(cid_region_getIsDegenerate(&r, &deg), 0);
    EXPECT_EQ(deg, 0u);
    double f;
    cid_region_getXForshortening(&r, &f);
    EXPECT_GT(f, 0.0);
    EXPECT_LE(f, 1.0);
  }

  // One hand rotation: the origin moves to Px and every side keeps its tightness.
  cid_region r = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  r.tightness[0] = 10, r.tightness[1] = 11, r.tightness[2] = 12, r.tightness[3] = 13;
  cid_region s;
  ASSERT_EQ(cid_region_initRotatePoints(&s, 1, &r), 0);
  expectCorners(s, r.px, r.popp, r.po, r.py, 0, "one step");
  EXPECT_EQ(s.tightness[0], 12u);  // Px-Popp
  EXPECT_EQ(s.tightness[1], 10u);  // Po-Px
  EXPECT_EQ(s.tightness[2], 13u);  // Popp-Py
  EXPECT_EQ(s.tightness[3], 11u);  // Py-Po
  AssertRecorder rec;
  EXPECT_EQ(cid_region_initRotatePoints(&s, -1, &r), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);

  // An affine region stays affine through rotation.
  cid_region aff;
  const V po{1, 1}, px{5, 2}, py{0, 4};
  cid_region_initPoPxPyPopp(&aff, &po, &px, &py, nullptr);
  ASSERT_EQ(cid_region_initRotatePoints(&s, 3, &aff), 0);
  EXPECT_EQ(s.isAffine, 1u);
  expectNear(s.po, py, 0, "affine po'");
  expectNear(s.popp, px, 1e-14, "affine popp'");

  // Corner lists in both orders, and inputs aliasing the output.
  cmath_vect pts[4];
  ASSERT_EQ(cid_region_getVectPoints(&r, pts, 1), 0);
  expectNear(pts[2], r.popp, 0, "cyclic third");
  s = r;
  ASSERT_EQ(cid_region_initPoPxPyPopp(&s, &s.px, &s.po, &s.popp, &s.py), 0);
  expectNear(s.po, r.px, 0, "aliased po");
  expectNear(s.popp, r.py, 0, "aliased popp");

  // Parallel lines fail and leave the region alone.
  const cmath_shapeLine pa[2] = {{{0, 1}, {0, 0}}, {{0, 1}, {3, 0}}};
  const cmath_shapeLine pb[2] = {{{0, 2}, {0, 0}}, {{1, 0}, {0, 3}}};
  s = r;
  EXPECT_EQ(cid_region_initLines(&s, pa, pb), csys_errParallelLines);
  EXPECT_TRUE(same(&s, &r));
}

TEST(Region, WithinAgreesWithRayCasting) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-1, 1);
  int inside = 0, outside = 0;
  for (int i = 0; i < 300; ++i) {
    const cid_region r = randomConvex(rng);
    const V poly[4] = {r.po, r.px, r.popp, r.py};
    V c;
    cid_region_getCenter(&r, &c);
    for (int k = 0; k < 30; ++k) {
      const V q{c.x + 80 * u(rng), c.y + 80 * u(rng)};
      bool nearEdge = false;
      for (int e = 0; e < 4; ++e) nearEdge = nearEdge || distToLine(q, poly[e], poly[(e + 1) % 4]) < 1e-6;
      if (nearEdge) continue;
      uint32_t flag = 7;
      ASSERT_EQ(cid_region_within(&r, &q, &flag), 0);
      const bool expect = rayCastInside(poly, 4, q);
      ASSERT_EQ(flag, expect ? 1u : 0u);
      (expect ? inside : outside)++;
    }
  }
  EXPECT_GT(inside, 500);
  EXPECT_GT(outside, 1000);

  // All four corners in one point contain nothing, not even that point.
  const cid_region dot = quad({3, 3}, {3, 3}, {3, 3}, {3, 3});
  for (V q : {V{3, 3}, V{4, 3}}) {
    uint32_t flag = 7;
    ASSERT_EQ(cid_region_within(&dot, &q, &flag), 0);
    EXPECT_EQ(flag, 0u);
  }
  const V nan{NAN, 1};
  uint32_t flag = 7;
  const cid_region sq = quad({0, 0}, {2, 0}, {0, 2}, {2, 2});
  ASSERT_EQ(cid_region_within(&sq, &nan, &flag), 0);
  EXPECT_EQ(flag, 0u);
  cmath_shapeAffineRect rect;
  cid_region_getAffineRect(&sq, &rect);
  const V one{1, 1};
  ASSERT_EQ(cf_affineRect_within(&rect, &one, &flag), 0);
  EXPECT_EQ(flag, 1u);
}

TEST(Region, ProjectedSquaresMeasureExactly) {
  // For a square seen through a homography H, the diagonals cross at H(1/2, 1/2), the center
  // segments are the images of the square's middle lines and the axis directions are those of
  // H's grid lines: all independent of the library's formulas.
  std::mt19937 rng(21);
  for (int i = 0; i < 200; ++i) {
    const Homography h = randomHomography(rng);
    const cid_region r = quad(h.map({0, 0}), h.map({1, 0}), h.map({0, 1}), h.map({1, 1}));
    V c;
    cidut_lineSeg xs, ys;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &c, &xs, &ys), 0);
    const V hc = h.map({0.5, 0.5});
    expectNear(c, hc, 1e-9, "center");
    expectNear(xs.p1, h.map({0, 0.5}), 1e-9, "x start");
    expectNear(xs.p2, h.map({1, 0.5}), 1e-9, "x end");
    expectNear(ys.p1, h.map({0.5, 0}), 1e-9, "y start");
    expectNear(ys.p2, h.map({0.5, 1}), 1e-9, "y end");
    double f;
    ASSERT_EQ(cid_region_getXForshortening(&r, &f), 0);
    const double l1 = norm(minus(h.map({0, 0.5}), hc)), l2 = norm(minus(h.map({1, 0.5}), hc));
    EXPECT_NEAR(f, std::min(l1, l2) / std::max(l1, l2), 1e-9);

    // Direction along X at H(s, t): the tangent of H's grid line t = const.
    const double s = 0.2 + 0.6 * (i % 5) / 4.0, t = 0.8 - 0.6 * (i % 3) / 2.0;
    const V q = h.map({s, t});
    const V tangent = minus(h.map({s + 1e-6, t}), h.map({s - 1e-6, t}));
    V d;
    ASSERT_EQ(cid_region_getXDirAtPoint(&r, &q, &d), 0);
    expectNear(d, V{tangent.x / norm(tangent), tangent.y / norm(tangent)}, 1e-7, "x direction");

    // A sub-rectangle of the same square, seen through the same H, already has the reference's
    // perspective: rebuilding it from its own center segments gives it back.
    const cid_region sub = quad(h.map({0.1, 0.3}), h.map({0.7, 0.3}), h.map({0.1, 0.9}), h.map({0.7, 0.9}));
    cid_region again;
    ASSERT_EQ(cid_region_initChangePersp(&again, &sub, &r, 1, 1), 0);
    expectNear(again.po, sub.po, 1e-8, "redrawn po");
    expectNear(again.popp, sub.popp, 1e-8, "redrawn popp");
    // Dilating with scale (1, 1) and distance (0, 0) goes through the rebuild too.
    const V one{1, 1}, zero{0, 0};
    ASSERT_EQ(cid_region_initDilate(&again, &one, &zero, &r), 0);
    expectNear(again.px, r.px, 1e-8, "undilated px");
    expectNear(again.py, r.py, 1e-8, "undilated py");

    // Widening X keeps the X sides on their lines and the new Y sides through the Y vanishing
    // point (where H's lines s = 0 and s = 1 meet).
    const V wide{2.5, 1};
    cid_region w;
    ASSERT_EQ(cid_region_initDilate(&w, &wide, nullptr, &r), 0);
    EXPECT_LT(distToLine(w.po, r.po, r.px), 1e-8);
    EXPECT_LT(distToLine(w.popp, r.py, r.popp), 1e-8);
    cmath_shapeLine l0{minus(r.py, r.po), r.po}, l1line{minus(r.popp, r.px), r.px};
    V vp;
    if (cmath_shapeLine_intersection(&l0, &l1line, &vp) == 0 && norm(vp) < 1e7) {
      EXPECT_LT(std::fabs(sine(minus(w.py, w.po), minus(vp, w.po))), 1e-8);
      EXPECT_LT(std::fabs(sine(minus(w.popp, w.px), minus(vp, w.px))), 1e-8);
    }
    double before, after;
    cid_region_getAvXLength(&r, &before);
    cid_region_getAvXLength(&w, &after);
    EXPECT_GT(after, 2 * before);
  }
}

TEST(Region, DilationOfTheUnitSquare) {
  cid_region sq, r;
  cid_region_init(&sq);
  const V scale{3, 1};
  ASSERT_EQ(cid_region_initDilate(&r, &scale, nullptr, &sq), 0);
  expectCorners(r, {-1, 0}, {2, 0}, {-1, 1}, {2, 1}, 0, "scaled");
  EXPECT_EQ(r.isAffine, 1u);

  const double one = 1;
  ASSERT_EQ(cid_region_initDilateDim(&r, 1, 0, 1, nullptr, &one, &sq), 0);
  expectCorners(r, {0, 0}, {2, 0}, {0, 1}, {2, 1}, 0, "x end");
  // Y axis, start only: an affine rebuild keeps the X middle line where it was and takes only the
  // Y segment's length, so the region grows by half the distance at each end.
  ASSERT_EQ(cid_region_initDilateDim(&r, 0, 1, 0, nullptr, &one, &sq), 0);
  expectNear(r.po, V{0, -0.5}, 0, "dim y po");
  expectNear(r.popp, V{1, 1.5}, 0, "dim y popp");
  // The same square held as a general quadrilateral is bounded by lines: it grows at the start.
  const cid_region gsq = quad({0, 0}, {1, 0}, {0, 1}, {1, 1});
  ASSERT_EQ(cid_region_initDilateDim(&r, 0, 1, 0, nullptr, &one, &gsq), 0);
  expectNear(r.po, V{0, -1}, 1e-15, "general dim y po");
  expectNear(r.popp, V{1, 1}, 1e-15, "general dim y popp");

  // Loose (all tightness 0) non-affine regions are widened directly: scale 0 and distance 0 are
  // not applied. Otherwise scale 0 collapses the X extent onto the center segment's midpoint.
  cid_region t = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  for (uint32_t& k : t.tightness) k = 0;
  ASSERT_EQ(cid_region_initDilateX(&r, 0, 0, &t), 0);
  EXPECT_TRUE(same(&r, &t));
  ASSERT_EQ(cid_region_initDilateX(&r, 0, 1, &t), 0);
  const V w{3.5 - 0.5, 1 - 1};  // between the Y sides' midpoints (0.5, 1) and (3.5, 1)
  expectNear(r.px, V{4 + w.x / norm(w), 0}, 1e-14, "loose px");
  t.tightness[2] = 1;
  ASSERT_EQ(cid_region_initDilateX(&r, 0, 0, &t), 0);
  expectNear(r.po, r.px, 1e-12, "collapsed bottom");
  expectNear(r.py, r.popp, 1e-12, "collapsed top");
  EXPECT_NEAR(r.po.x, 2, 1e-12);

  AssertRecorder rec;
  const cid_region flat = quad({1, 1}, {1, 1}, {1, 1}, {1, 1});
  EXPECT_EQ(cid_region_initDilateDim(&r, 1, 1, 1, nullptr, &one, &flat), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(Region, DegenerateOutlines) {
  struct Case {
    const char* name;
    V po, px, py, popp;
    uint32_t degenerate;
  };
  const double kFour = 4 * M_PI / 180, kTwo = 2 * M_PI / 180;
  const Case cases[] = {
      {"counter-clockwise", {0, 0}, {4, 0}, {0, 3}, {4, 3}, 0},
      {"clockwise", {0, 0}, {0, 3}, {4, 0}, {4, 3}, 0},
      {"corners of 4 degrees", {0, 0}, {10, 0}, {10 * std::cos(kFour), 10 * std::sin(kFour)},
       {10 + 10 * std::cos(kFour), 10 * std::sin(kFour)}, 0},
      {"corners of 2 degrees", {0, 0}, {10, 0}, {10 * std::cos(kTwo), 10 * std::sin(kTwo)},
       {10 + 10 * std::cos(kTwo), 10 * std::sin(kTwo)}, 1},
      {"bow-tie", {0, 0}, {4, 3}, {0, 3}, {4, 0}, 1},
      {"all coincident", {2, 2}, {2, 2}, {2, 2}, {2, 2}, 1},
      {"two coincident", {0, 0}, {0, 0}, {0, 3}, {4, 3}, 1},
      {"straight corner", {0, 0}, {2, 0}, {0, 3}, {4, 0}, 1},
      {"collinear", {0, 0}, {1, 1}, {2, 2}, {3, 3}, 1},
      {"parallel sides", {0, 0}, {4, 0}, {1, 2}, {3, 2}, 0},
      {"reflex corner", {0, 0}, {4, 0}, {0, 4}, {1, 1}, 1},
  };
  const cid_region reference = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  AssertRecorder rec;
  for (const Case& c : cases) {
    const cid_region r = quad(c.po, c.px, c.py, c.popp);
    uint32_t deg = 7;
    ASSERT_EQ(cid_region_getIsDegenerate(&r, &deg), 0);
    EXPECT_EQ(deg, c.degenerate) << c.name;

    // Every measurement and derived region either succeeds with finite numbers or reports
    // parallel lines; nothing asserts and nothing is NaN.
    std::vector<double> out;
    auto put = [&](V v) { out.push_back(v.x), out.push_back(v.y); };
    V c0;
    cidut_lineSeg xs, ys;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &c0, &xs, &ys), 0) << c.name;
    put(c0), put(xs.p1), put(xs.p2), put(ys.p1), put(ys.p2);
    double d[6];
    V v[4];
    cid_region_getXForshortening(&r, &d[0]);
    cid_region_getYForshortening(&r, &d[1]);
    cid_region_getAvXLength(&r, &d[2]);
    cid_region_getAvYAngle(&r, &d[3]);
    cid_region_getXAngleAtPoint(&r, &c0, &d[4]);
    cid_region_getXLength(&r, 0, &d[5]);
    cid_region_getAvXUnitDir(&r, &v[0]);
    cid_region_getYDirAtPoint(&r, &c.po, &v[1]);
    cid_region_getXDirAtPoint(&r, &c0, &v[2]);
    out.insert(out.end(), d, d + 6);
    for (V w : v) put(w);
    cid_region derived[5];
    const V scale{2, 0.5};
    ASSERT_EQ(cid_region_initMakeAffine(&derived[0], &r), 0);
    const csys_status sts[4] = {cid_region_initDilate(&derived[1], &scale, nullptr, &r),
                                cid_region_initChangePersp(&derived[2], &r, &reference, 1, 1),
                                cid_region_initDilateX(&derived[3], 1.5, 0, &r),
                                cid_region_initDilateDim(&derived[4], 0, 1, 1, &scale.x, nullptr, &r)};
    for (int k = 0; k < 5; ++k) {
      if (k > 0 && sts[k - 1] != 0) {
        EXPECT_EQ(sts[k - 1], csys_errParallelLines) << c.name;
        continue;
      }
      put(derived[k].po), put(derived[k].px), put(derived[k].py), put(derived[k].popp);
    }
    for (double x : out) EXPECT_TRUE(std::isfinite(x)) << c.name;
  }
  EXPECT_EQ(rec.count(), 0u);
}

TEST(Region, EnclosingRectanglesAndMaps) {
  const cid_region r = quad({0.5, 1}, {2.5, 1.5}, {1, 4}, {2, 3.25});
  cid_regionRect box;
  ASSERT_EQ(cid_region_getEncloseRect(&r, nullptr, &box), 0);
  EXPECT_EQ(box.width, 2.0);
  EXPECT_EQ(box.height, 3.0);
  cstd_rect32 px;
  ASSERT_EQ(cid_region_getEncloseImageRect(&r, nullptr, &px), 0);
  EXPECT_EQ(px.x, 0);
  EXPECT_EQ(px.width, 3);
  EXPECT_EQ(px.y, 1);
  EXPECT_EQ(px.height, 3);

  // Through a transform (turn by a quarter, shift): the mapped region's own box.
  const cmath_xformLinear x{{0, -1, 1, 0}, {10, 20}};
  cid_region m;
  ASSERT_EQ(cid_region_initMap(&m, &x, &r), 0);
  expectNear(m.po, V{9, 20.5}, 0, "mapped po");
  ASSERT_EQ(cid_region_getEncloseImageRect(&r, &x, &px), 0);
  EXPECT_EQ(px.x, 6);
  EXPECT_EQ(px.width, 3);
  EXPECT_EQ(px.y, 20);
  EXPECT_EQ(px.height, 3);

  uint32_t in = 7;
  const cstd_rect32 image{0, 0, 3, 4};
  ASSERT_EQ(cid_region_isWithinImageRect(&r, nullptr, &image, &in), 0);
  EXPECT_EQ(in, 1u);
  const cstd_rect32 small{1, 0, 3, 4};
  ASSERT_EQ(cid_region_isWithinImageRect(&r, nullptr, &small, &in), 0);
  EXPECT_EQ(in, 0u);
  const cid_region far = quad({0, 0}, {3e9, 0}, {0, 1}, {3e9, 1});
  EXPECT_EQ(cid_region_getEncloseImageRect(&far, nullptr, &px), csys_errBadArgument);
  in = 7;
  ASSERT_EQ(cid_region_isWithinImageRect(&far, nullptr, &image, &in), 0);
  EXPECT_EQ(in, 0u);

  // A perspective map of corners (exact for the identity-like homography used here).
  cmath_xformPerspective hp;
  const double h[9] = {2, 0, 1, 0, 2, 0, 0, 0, 1};
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&hp, h), 0);
  cid_region sq;
  cid_region_init(&sq);
  sq.tightness[1] = 0;
  ASSERT_EQ(cid_region_initMapPersp(&m, &hp, &sq), 0);
  EXPECT_EQ(m.isAffine, 0u);
  EXPECT_EQ(m.tightness[1], 0u);
  expectNear(m.popp, V{3, 2}, 1e-15, "persp popp");
}

TEST(Region, VectorElementsStartAsUnitSquares) {
  LiveBlocks live;
  {
    cstd_vector_cid_region v;
    ASSERT_EQ(cstd_vector_cid_region_construct(&v, 3), 0);
    cid_region* begin = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(cstd_vector_cid_region_getBeginSize(&v, &begin, &n), 0);
    ASSERT_EQ(n, 3u);
    cid_region unit;
    cid_region_init(&unit);
    for (uint32_t i = 0; i < n; ++i) EXPECT_TRUE(same(&begin[i], &unit));
    const cid_region t = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
    ASSERT_EQ(cstd_vector_cid_region_pushBack(&v, &t), 0);
    ASSERT_EQ(cstd_vector_cid_region_resize(&v, 6), 0);
    const cid_region* e = nullptr;
    ASSERT_EQ(cstd_vector_cid_region_getElementConst(&v, 3, &e), 0);
    EXPECT_TRUE(same(e, &t));
    ASSERT_EQ(cstd_vector_cid_region_getElementConst(&v, 5, &e), 0);
    EXPECT_TRUE(same(e, &unit));
    ASSERT_EQ(cstd_vector_cid_region_destruct(&v), 0);
  }
  EXPECT_EQ(live.leaked(), 0);
}
