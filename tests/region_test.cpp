// Symbol regions: closed forms on hand regions, properties on random convex quadrilaterals,
// exact perspective answers on projectively mapped squares, derived regions, degenerate outlines
// and the vector family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
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

V minus(V a, V b) { return V{a.x - b.x, a.y - b.y}; }
double norm(V a) { return std::hypot(a.x, a.y); }
double gap(V a, V b) { return norm(minus(a, b)); }
double cross(V a, V b) { return a.x * b.y - a.y * b.x; }
double distToLine(V q, V a, V b) { return std::fabs(cross(minus(b, a), minus(q, a))) / norm(minus(b, a)); }
double cornerGap(const cid_region& a, const cid_region& b) {
  return std::max({gap(a.po, b.po), gap(a.px, b.px), gap(a.py, b.py), gap(a.popp, b.popp)});
}
// Field by field (the record has padding bytes that memcmp would read).
bool same(const cid_region& a, const cid_region& b) {
  return cornerGap(a, b) == 0 && std::equal(a.tightness, a.tightness + 4, b.tightness) && a.isAffine == b.isAffine;
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
      const double a = k * M_PI / 2 + (u(rng) - 0.5), ex = rx * std::cos(a), ey = ry * std::sin(a);
      p[k] = V{c.x + ex * std::cos(turn) - ey * std::sin(turn), c.y + ex * std::sin(turn) + ey * std::cos(turn)};
    }
    if (u(rng) < 0.5) std::swap(p[1], p[3]);
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
      const V e1 = minus(p[(k + 1) % 4], p[k]), e2 = minus(p[(k + 3) % 4], p[k]);
      ok = ok && std::fabs(cross(e1, e2)) > std::sin(15 * M_PI / 180) * norm(e1) * norm(e2);
    }
    if (ok) return quad(p[0], p[1], p[3], p[2]);  // outline order Po, Px, Popp, Py
  }
}

// Point in polygon by ray casting (crossings of a ray towards +x).
bool rayCastInside(const V* poly, int n, V q) {
  bool in = false;
  for (int i = 0, j = n - 1; i < n; j = i++)
    if ((poly[i].y > q.y) != (poly[j].y > q.y) &&
        q.x < (poly[j].x - poly[i].x) * (q.y - poly[i].y) / (poly[j].y - poly[i].y) + poly[i].x)
      in = !in;
  return in;
}

// A homography written out here, so the perspective answers do not lean on library code: a unit
// square scaled and turned to about 40 pixels, then tilted (w stays in [0.6, 1.4]).
struct Homography {
  double h[9];
  V map(V p) const {
    const double w = h[6] * p.x + h[7] * p.y + h[8];
    return V{(h[0] * p.x + h[1] * p.y + h[2]) / w, (h[3] * p.x + h[4] * p.y + h[5]) / w};
  }
  cid_region square(double s0, double t0, double s1, double t1) const {
    return quad(map({s0, t0}), map({s1, t0}), map({s0, t1}), map({s1, t1}));
  }
};
Homography randomHomography(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  const double s = 40 + 10 * u(rng), a = u(rng) * M_PI;
  return Homography{{s * std::cos(a), -s * std::sin(a) + 5 * u(rng), 30 * u(rng), s * std::sin(a) + 5 * u(rng),
                     s * std::cos(a), 30 * u(rng), 0.2 * u(rng), 0.2 * u(rng), 1.0}};
}

}  // namespace

TEST(Region, ParallelogramMeasuresAlikeStoredAffineOrGeneral) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-50, 50);
  for (int i = 0; i < 200; ++i) {
    const V po{u(rng), u(rng)}, px{u(rng), u(rng)}, py{u(rng), u(rng)}, q{u(rng), u(rng)};
    cid_region aff;
    ASSERT_EQ(cid_region_initPoPxPyPopp(&aff, &po, &px, &py, nullptr), 0);
    const cid_region gen = quad(po, px, py, aff.popp);
    ASSERT_TRUE(aff.isAffine == 1 && gen.isAffine == 0);
    const double tol = 1e-9 * (1 + norm(po) + norm(px) + norm(py));
    V c[2], dir[2];
    cidut_lineSeg xs[2], ys[2];
    double len[2], fy[2];
    const cid_region* r[2] = {&aff, &gen};
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(cid_region_getCenterSegments(r[k], &c[k], &xs[k], &ys[k]), 0);
      cid_region_getAvYLength(r[k], &len[k]);
      cid_region_getYForshortening(r[k], &fy[k]);
      cid_region_getXDirAtPoint(r[k], &q, &dir[k]);
    }
    EXPECT_LT(std::max({gap(c[0], c[1]), gap(xs[0].p1, xs[1].p1), gap(xs[0].p2, xs[1].p2), gap(ys[0].p1, ys[1].p1),
                        gap(ys[0].p2, ys[1].p2), std::fabs(len[0] - len[1])}),
              tol);
    EXPECT_LT(std::max(gap(dir[0], dir[1]), std::fabs(fy[0] - fy[1])), 1e-9);
  }
}

TEST(Region, TrapezoidClosedForms) {
  // The Y sides meet at (2, 4); the diagonals cross at (2, 4/3).
  const cid_region t = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  V c, d;
  cidut_lineSeg xs, ys;
  double fx, fy, ay, lo, hi, a;
  ASSERT_EQ(cid_region_getCenterSegments(&t, &c, &xs, &ys), 0);
  EXPECT_LT(std::max({gap(c, {2, 4.0 / 3}), gap(ys.p1, {2, 0}), gap(ys.p2, {2, 2}), gap(xs.p1, {2.0 / 3, 4.0 / 3}),
                      gap(xs.p2, {10.0 / 3, 4.0 / 3})}),
            1e-14);
  cid_region_getXForshortening(&t, &fx);
  cid_region_getYForshortening(&t, &fy);
  cid_region_getAvYLength(&t, &ay);
  cid_region_getXLengths(&t, &lo, &hi);
  EXPECT_TRUE(std::fabs(fx - 1) < 1e-14 && std::fabs(fy - 0.5) < 1e-14 && std::fabs(ay - 2) < 1e-14 && lo == 2 && hi == 4);
  // The Y direction at a point aims along the line to (2, 4), run like Px -> Popp.
  const V q{1, 1};
  ASSERT_EQ(cid_region_getYDirAtPoint(&t, &q, &d), 0);
  ASSERT_EQ(cid_region_getYAngleAtPoint(&t, &q, &a), 0);
  EXPECT_LT(gap(d, {1 / std::sqrt(10.0), 3 / std::sqrt(10.0)}), 1e-14);
  EXPECT_NEAR(a, std::atan2(3, 1), 1e-14);
  // Parallelogram approximation: x1 + (y1 - c), x2 + (y1 - c), x1 + (y2 - c); the plain rectangle
  // through the corners as they stand.
  cmath_shapeAffineRect rect;
  V popp;
  ASSERT_EQ(cid_region_getAffineRect(&t, &rect), 0);
  EXPECT_LT(std::max({gap(rect.po, {2.0 / 3, 0}), gap(rect.px, {10.0 / 3, 0}), gap(rect.py, {2.0 / 3, 2})}), 1e-14);
  ASSERT_EQ(cid_region_getAffineRectAndPopp(&t, &rect, &popp), 0);
  EXPECT_TRUE(rect.py.x == 1.0 && popp.x == 3.0);
}

TEST(Region, RandomConvexLinesRotationsCenterAndWithin) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  int counts[2] = {0, 0};
  for (int i = 0; i < 300; ++i) {
    cid_region r = randomConvex(rng);
    for (uint32_t& t : r.tightness) t = static_cast<uint32_t>(rng() % 7);

    cmath_shapeLine a[2], b[2];
    cid_region back;
    ASSERT_EQ(cid_region_getLines(&r, a, b), 0);
    ASSERT_EQ(cid_region_initLines(&back, a, b), 0);
    EXPECT_LT(cornerGap(back, r), 1e-9);

    // Four single steps come back exactly; two single steps equal one double step.
    cid_region s = r, twice, two;
    for (int k = 0; k < 4; ++k) {
      ASSERT_EQ(cid_region_initRotatePoints(&s, 1, &s), 0);
      if (k == 1) twice = s;
    }
    ASSERT_EQ(cid_region_initRotatePoints(&two, 2, &r), 0);
    EXPECT_TRUE(same(s, r) && same(two, twice));

    // The center lies on both diagonals and both center segments, whose ends lie on the sides.
    V c;
    cidut_lineSeg xs, ys;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &c, &xs, &ys), 0);
    EXPECT_LT(std::max({distToLine(c, r.po, r.popp), distToLine(c, r.px, r.py), distToLine(c, xs.p1, xs.p2),
                        distToLine(c, ys.p1, ys.p2), distToLine(xs.p1, r.po, r.py), distToLine(xs.p2, r.px, r.popp),
                        distToLine(ys.p1, r.po, r.px), distToLine(ys.p2, r.py, r.popp)}),
              1e-9);
    double f;
    uint32_t deg = 1;
    cid_region_getXForshortening(&r, &f);
    ASSERT_EQ(cid_region_getIsDegenerate(&r, &deg), 0);
    EXPECT_TRUE(f > 0 && f <= 1 && deg == 0);

    // Within against ray casting, away from the outline.
    const V poly[4] = {r.po, r.px, r.popp, r.py};
    for (int k = 0; k < 30; ++k) {
      const V q{c.x + 80 * u(rng), c.y + 80 * u(rng)};
      bool nearEdge = false;
      for (int e = 0; e < 4; ++e) nearEdge = nearEdge || distToLine(q, poly[e], poly[(e + 1) % 4]) < 1e-6;
      uint32_t flag = 7;
      if (nearEdge) continue;
      ASSERT_EQ(cid_region_within(&r, &q, &flag), 0);
      const bool expect = rayCastInside(poly, 4, q);
      ASSERT_EQ(flag, expect ? 1u : 0u);
      ++counts[expect];
    }
  }
  EXPECT_GT(counts[0], 1000);
  EXPECT_GT(counts[1], 500);
}

TEST(Region, RotationKeepsSideTightnessAndParallelLinesFail) {
  // One step: the origin moves to Px and every side keeps its tightness.
  cid_region r = quad({0, 0}, {4, 0}, {1, 2}, {3, 2}), s;
  const uint32_t tight[4] = {10, 11, 12, 13};
  std::copy_n(tight, 4, r.tightness);
  ASSERT_EQ(cid_region_initRotatePoints(&s, 1, &r), 0);
  EXPECT_EQ(cornerGap(s, quad(r.px, r.popp, r.po, r.py)), 0);
  EXPECT_TRUE(s.tightness[0] == 12 && s.tightness[1] == 10 && s.tightness[2] == 13 && s.tightness[3] == 11);
  // An affine region stays affine, its Popp recomputed.
  const V po{1, 1}, px{5, 2}, py{0, 4};
  cid_region aff;
  cid_region_initPoPxPyPopp(&aff, &po, &px, &py, nullptr);
  ASSERT_EQ(cid_region_initRotatePoints(&s, 3, &aff), 0);
  EXPECT_TRUE(s.isAffine == 1 && gap(s.po, py) == 0 && gap(s.popp, px) < 1e-14);
  // Parallel lines fail and leave the region alone; negative steps are refused.
  const cmath_shapeLine pa[2] = {{{0, 1}, {0, 0}}, {{0, 1}, {3, 0}}}, pb[2] = {{{0, 2}, {0, 0}}, {{1, 0}, {0, 3}}};
  s = r;
  EXPECT_EQ(cid_region_initLines(&s, pa, pb), csys_errParallelLines);
  EXPECT_TRUE(same(s, r));
  AssertRecorder rec;
  EXPECT_EQ(cid_region_initRotatePoints(&s, -1, &r), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(Region, ProjectedSquaresMeasureExactly) {
  // For a square seen through a homography H the diagonals cross at H(1/2, 1/2), the center
  // segments are the images of the middle lines and the X direction is the tangent of H's grid
  // line: all independent of the library's formulas.
  std::mt19937 rng(21);
  for (int i = 0; i < 200; ++i) {
    const Homography h = randomHomography(rng);
    const cid_region r = h.square(0, 0, 1, 1);
    V c, d;
    cidut_lineSeg xs, ys;
    double f;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &c, &xs, &ys), 0);
    const V hc = h.map({0.5, 0.5});
    EXPECT_LT(std::max({gap(c, hc), gap(xs.p1, h.map({0, 0.5})), gap(xs.p2, h.map({1, 0.5})), gap(ys.p1, h.map({0.5, 0})),
                        gap(ys.p2, h.map({0.5, 1}))}),
              1e-9);
    ASSERT_EQ(cid_region_getXForshortening(&r, &f), 0);
    const double l1 = gap(h.map({0, 0.5}), hc), l2 = gap(h.map({1, 0.5}), hc);
    EXPECT_NEAR(f, std::min(l1, l2) / std::max(l1, l2), 1e-9);
    const double s = 0.2 + 0.6 * (i % 5) / 4.0, t = 0.8 - 0.6 * (i % 3) / 2.0;
    const V q = h.map({s, t}), tangent = minus(h.map({s + 1e-6, t}), h.map({s - 1e-6, t}));
    ASSERT_EQ(cid_region_getXDirAtPoint(&r, &q, &d), 0);
    EXPECT_LT(gap(d, {tangent.x / norm(tangent), tangent.y / norm(tangent)}), 1e-7);

    // A sub-rectangle of the same square already has the reference's perspective: rebuilding it
    // from its own center segments gives it back, as does dilating by scale 1 and distance 0.
    const cid_region sub = h.square(0.1, 0.3, 0.7, 0.9);
    const V one{1, 1}, zero{0, 0}, wide{2.5, 1};
    cid_region again, w;
    ASSERT_EQ(cid_region_initChangePersp(&again, &sub, &r, 1, 1), 0);
    EXPECT_LT(cornerGap(again, sub), 1e-8);
    ASSERT_EQ(cid_region_initDilate(&again, &one, &zero, &r), 0);
    EXPECT_LT(cornerGap(again, r), 1e-8);
    // Widening X by 2.5 moves the X center segment's ends out by 0.75 of it; the new Y sides run
    // through them and through (h1, h4, h7), where H's lines s = 0 and s = 1 meet; Po and Popp
    // stay on the lines of their X sides.
    ASSERT_EQ(cid_region_initDilate(&w, &wide, nullptr, &r), 0);
    const V x1 = h.map({0, 0.5}), x2 = h.map({1, 0.5}), v = minus(x2, x1);
    const V e1{x1.x - 0.75 * v.x, x1.y - 0.75 * v.y}, e2{x2.x + 0.75 * v.x, x2.y + 0.75 * v.y};
    auto aims = [&](V a, V b) {  // sine of the angle between b - a and the direction to the meeting point
      const V d{h.h[1] - a.x * h.h[7], h.h[4] - a.y * h.h[7]}, e = minus(b, a);
      return std::fabs(cross(e, d)) / (norm(e) * norm(d));
    };
    EXPECT_LT(std::max({distToLine(w.po, r.po, r.px), distToLine(w.popp, r.py, r.popp), distToLine(e1, w.po, w.py),
                        distToLine(e2, w.px, w.popp), aims(w.po, w.py), aims(w.px, w.popp)}),
              1e-8);
  }
}

TEST(Region, DilationClosedForms) {
  cid_region sq, r;
  cid_region_init(&sq);
  const V scale{3, 1};
  const double one = 1;
  ASSERT_EQ(cid_region_initDilate(&r, &scale, nullptr, &sq), 0);
  EXPECT_TRUE(cornerGap(r, quad({-1, 0}, {2, 0}, {-1, 1}, {2, 1})) == 0 && r.isAffine == 1);
  ASSERT_EQ(cid_region_initDilateDim(&r, 1, 0, 1, nullptr, &one, &sq), 0);
  EXPECT_EQ(cornerGap(r, quad({0, 0}, {2, 0}, {0, 1}, {2, 1})), 0);
  // Y axis, start only: an affine rebuild keeps the X middle line and takes only the Y segment's
  // length, so the region grows by half the distance at each end; the same square held as a
  // general quadrilateral is bounded by lines and grows at the start.
  ASSERT_EQ(cid_region_initDilateDim(&r, 0, 1, 0, nullptr, &one, &sq), 0);
  EXPECT_EQ(cornerGap(r, quad({0, -0.5}, {1, -0.5}, {0, 1.5}, {1, 1.5})), 0);
  const cid_region gsq = quad({0, 0}, {1, 0}, {0, 1}, {1, 1});
  ASSERT_EQ(cid_region_initDilateDim(&r, 0, 1, 0, nullptr, &one, &gsq), 0);
  EXPECT_LT(cornerGap(r, quad({0, -1}, {1, -1}, {0, 1}, {1, 1})), 1e-15);

  // Loose (all tightness 0) general regions are widened directly, values of exactly 0 not applied;
  // otherwise scale 0 collapses the X extent onto the center segment's midpoint.
  cid_region t = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  std::fill_n(t.tightness, 4, 0u);
  ASSERT_EQ(cid_region_initDilateX(&r, 0, 0, &t), 0);
  EXPECT_TRUE(same(r, t));
  ASSERT_EQ(cid_region_initDilateX(&r, 0, 1, &t), 0);  // by 1 along the Y sides' midpoints' line
  EXPECT_LT(gap(r.px, {5, 0}), 1e-14);
  t.tightness[2] = 1;
  ASSERT_EQ(cid_region_initDilateX(&r, 0, 0, &t), 0);
  EXPECT_LT(std::max({gap(r.po, {2, 0}), gap(r.px, {2, 0}), gap(r.py, r.popp)}), 1e-12);

  AssertRecorder rec;  // a distance on a zero-length segment
  const cid_region flat = quad({1, 1}, {1, 1}, {1, 1}, {1, 1});
  EXPECT_EQ(cid_region_initDilateDim(&r, 1, 1, 1, nullptr, &one, &flat), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(Region, DegenerateOutlinesGiveFiniteAnswers) {
  const double k4 = 4 * M_PI / 180, k2 = 2 * M_PI / 180;
  const struct { V po, px, py, popp; uint32_t degenerate; } cases[] = {
      {{0, 0}, {4, 0}, {0, 3}, {4, 3}, 0},  // counter-clockwise
      {{0, 0}, {0, 3}, {4, 0}, {4, 3}, 0},  // clockwise
      {{0, 0}, {10, 0}, {10 * std::cos(k4), 10 * std::sin(k4)}, {10 + 10 * std::cos(k4), 10 * std::sin(k4)}, 0},
      {{0, 0}, {10, 0}, {10 * std::cos(k2), 10 * std::sin(k2)}, {10 + 10 * std::cos(k2), 10 * std::sin(k2)}, 1},
      {{0, 0}, {4, 3}, {0, 3}, {4, 0}, 1},  // bow-tie
      {{2, 2}, {2, 2}, {2, 2}, {2, 2}, 1},  // all coincident
      {{0, 0}, {0, 0}, {0, 3}, {4, 3}, 1},  // two coincident
      {{0, 0}, {2, 0}, {0, 3}, {4, 0}, 1},  // straight corner
      {{0, 0}, {1, 1}, {2, 2}, {3, 3}, 1},  // collinear
      {{0, 0}, {4, 0}, {0, 4}, {1, 1}, 1},  // reflex corner
  };
  const cid_region reference = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  AssertRecorder rec;
  for (const auto& c : cases) {
    const cid_region r = quad(c.po, c.px, c.py, c.popp);
    uint32_t deg = 7;
    ASSERT_EQ(cid_region_getIsDegenerate(&r, &deg), 0);
    EXPECT_EQ(deg, c.degenerate) << c.py.x << "," << c.py.y;
    // Every measurement and derived region either succeeds with finite numbers or reports
    // parallel lines; nothing asserts and nothing is NaN.
    std::vector<double> out(3);
    V v[7];
    cidut_lineSeg xs, ys;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &v[0], &xs, &ys), 0);
    cid_region_getXForshortening(&r, &out[0]);
    cid_region_getYForshortening(&r, &out[1]);
    cid_region_getAvYLength(&r, &out[2]);
    cid_region_getAvXUnitDir(&r, &v[1]);
    cid_region_getYDirAtPoint(&r, &c.po, &v[2]);
    cid_region_getXDirAtPoint(&r, &v[0], &v[3]);
    v[4] = xs.p1, v[5] = xs.p2, v[6] = ys.p2;
    cid_region derived[5];
    const V scale{2, 0.5};
    const csys_status sts[5] = {cid_region_initMakeAffine(&derived[0], &r),
                                cid_region_initDilate(&derived[1], &scale, nullptr, &r),
                                cid_region_initChangePersp(&derived[2], &r, &reference, 1, 1),
                                cid_region_initDilateX(&derived[3], 1.5, 0, &r),
                                cid_region_initDilateDim(&derived[4], 0, 1, 1, &scale.x, nullptr, &r)};
    for (V w : v) out.insert(out.end(), {w.x, w.y});
    for (int k = 0; k < 5; ++k) {
      EXPECT_TRUE(sts[k] == 0 || (k > 0 && sts[k] == csys_errParallelLines)) << k;
      if (sts[k] == 0)
        for (V w : {derived[k].po, derived[k].px, derived[k].py, derived[k].popp}) out.insert(out.end(), {w.x, w.y});
    }
    for (double x : out) EXPECT_TRUE(std::isfinite(x)) << c.py.x << "," << c.py.y;
  }
  EXPECT_EQ(rec.count(), 0u);
  // Coincident corners contain nothing, not even their point; a NaN point is in nothing.
  const cid_region dot = quad({3, 3}, {3, 3}, {3, 3}, {3, 3});
  const V p3{3, 3}, nan{NAN, 1};
  uint32_t in[2] = {7, 7};
  ASSERT_EQ(cid_region_within(&dot, &p3, &in[0]), 0);
  ASSERT_EQ(cid_region_within(&reference, &nan, &in[1]), 0);
  EXPECT_TRUE(in[0] == 0 && in[1] == 0);
}

TEST(Region, EnclosingRectanglesAndMaps) {
  const cid_region r = quad({0.5, 1}, {2.5, 1.5}, {1, 4}, {2, 3.25}), far = quad({0, 0}, {3e9, 0}, {0, 1}, {3e9, 1});
  const cmath_xformLinear turn{{0, -1, 1, 0}, {10, 20}};  // a quarter turn and a shift
  const cstd_rect32 image{0, 0, 3, 4}, small{1, 0, 3, 4};
  cid_regionRect box;
  cstd_rect32 px[2];
  cid_region m;
  uint32_t in[3] = {7, 7, 7};
  ASSERT_EQ(cid_region_getEncloseRect(&r, nullptr, &box), 0);
  ASSERT_EQ(cid_region_getEncloseImageRect(&r, nullptr, &px[0]), 0);
  ASSERT_EQ(cid_region_getEncloseImageRect(&r, &turn, &px[1]), 0);
  ASSERT_EQ(cid_region_initMap(&m, &turn, &r), 0);
  EXPECT_TRUE(box.x == 0.5 && box.y == 1 && box.width == 2.0 && box.height == 3.0);
  EXPECT_TRUE(px[0].x == 0 && px[0].y == 1 && px[0].width == 3 && px[0].height == 3);
  EXPECT_TRUE(px[1].x == 6 && px[1].y == 20 && px[1].width == 3 && px[1].height == 3);
  EXPECT_EQ(gap(m.po, {9, 20.5}), 0);
  // Contained in the image rectangle; too far for 32 bits is refused or not contained.
  ASSERT_EQ(cid_region_isWithinImageRect(&r, nullptr, &image, &in[0]), 0);
  ASSERT_EQ(cid_region_isWithinImageRect(&r, nullptr, &small, &in[1]), 0);
  ASSERT_EQ(cid_region_isWithinImageRect(&far, nullptr, &image, &in[2]), 0);
  EXPECT_TRUE(in[0] == 1 && in[1] == 0 && in[2] == 0);
  EXPECT_EQ(cid_region_getEncloseImageRect(&far, nullptr, &px[0]), csys_errBadArgument);

  // A perspective map: corners mapped, tightness kept, no longer affine.
  const double h[9] = {2, 0, 1, 0, 2, 0, 0, 0, 1};
  cmath_xformPerspective hp;
  cid_region sq;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&hp, h), 0);
  cid_region_init(&sq);
  sq.tightness[1] = 0;
  ASSERT_EQ(cid_region_initMapPersp(&m, &hp, &sq), 0);
  EXPECT_TRUE(m.isAffine == 0 && m.tightness[1] == 0 && gap(m.popp, {3, 2}) < 1e-15);
}

TEST(Region, VectorElementsStartAsUnitSquares) {
  LiveBlocks live;
  cstd_vector_cid_region v;
  cid_region unit, t = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  cid_region_init(&unit);
  ASSERT_EQ(cstd_vector_cid_region_construct(&v, 3), 0);
  ASSERT_EQ(cstd_vector_cid_region_pushBack(&v, &t), 0);
  ASSERT_EQ(cstd_vector_cid_region_resize(&v, 6), 0);
  for (const auto& [i, want] : {std::pair{0u, &unit}, std::pair{3u, &t}, std::pair{5u, &unit}}) {
    const cid_region* e = nullptr;
    ASSERT_EQ(cstd_vector_cid_region_getElementConst(&v, i, &e), 0);
    EXPECT_TRUE(same(*e, *want)) << i;
  }
  ASSERT_EQ(cstd_vector_cid_region_destruct(&v), 0);
  EXPECT_EQ(live.leaked(), 0);
}
