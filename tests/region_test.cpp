// Symbol regions: properties on random convex quadrilaterals, exact perspective answers on
// projectively mapped squares, dilation closed forms, degenerate outlines, enclosing rectangles
// and the vector family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

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
// square scaled to 10 ... 90 pixels a side, turned, sheared, tilted (w stays in [0.6, 1.4] over
// the square) and half the time mirrored, so that its image turns the other way. The images of
// the square are random convex quadrilaterals.
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
  const double sx = 50 + 40 * u(rng), sy = 50 + 40 * u(rng), a = u(rng) * M_PI, k = 0.3 * std::min(sx, sy);
  const double m = u(rng) < 0 ? -1 : 1;
  return Homography{{sx * std::cos(a), m * (-sy * std::sin(a) + k * u(rng)), 30 * u(rng), sx * std::sin(a) + k * u(rng),
                     m * sy * std::cos(a), 30 * u(rng), 0.2 * u(rng), m * 0.2 * u(rng), 1.0}};
}

}  // namespace

TEST(Region, RandomConvexQuadrilateralsAsProjectedSquares) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  int counts[2] = {0, 0};
  for (int i = 0; i < 300; ++i) {
    const Homography h = randomHomography(rng);
    cid_region r = h.square(0, 0, 1, 1);
    for (uint32_t& t : r.tightness) t = static_cast<uint32_t>(rng() % 7);

    cmath_shapeLine a[2], b[2];
    cid_region back;
    ASSERT_EQ(cid_region_getLines(&r, a, b), 0);
    ASSERT_EQ(cid_region_initLines(&back, a, b), 0);
    EXPECT_LT(cornerGap(back, r), 1e-9);

    // One step moves the origin to Px, each side keeping its tightness; four single steps come
    // back exactly; two single steps equal one double step.
    cid_region s = r, twice, two, one = quad(r.px, r.popp, r.po, r.py);
    const uint32_t moved[4] = {r.tightness[2], r.tightness[0], r.tightness[3], r.tightness[1]};
    std::copy_n(moved, 4, one.tightness);
    for (int k = 0; k < 4; ++k) {
      ASSERT_EQ(cid_region_initRotatePoints(&s, 1, &s), 0);
      EXPECT_TRUE(k != 0 || same(s, one));
      if (k == 1) twice = s;
    }
    ASSERT_EQ(cid_region_initRotatePoints(&two, 2, &r), 0);
    EXPECT_TRUE(same(s, r) && same(two, twice));

    // The center lies on both diagonals, at H(1/2, 1/2); the center segments are the images of
    // the middle lines; the X forshortening compares their halves; the X direction is the
    // tangent of H's grid line. None of it leans on the library's formulas.
    V c, d;
    cidut_lineSeg xs, ys;
    double f;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &c, &xs, &ys), 0);
    ASSERT_EQ(cid_region_getXForshortening(&r, &f), 0);
    const V hc = h.map({0.5, 0.5}), x1 = h.map({0, 0.5}), x2 = h.map({1, 0.5});
    EXPECT_LT(std::max({distToLine(c, r.po, r.popp), distToLine(c, r.px, r.py), gap(c, hc), gap(xs.p1, x1), gap(xs.p2, x2),
                        gap(ys.p1, h.map({0.5, 0})), gap(ys.p2, h.map({0.5, 1}))}),
              1e-9);
    EXPECT_NEAR(f, std::min(gap(x1, hc), gap(x2, hc)) / std::max(gap(x1, hc), gap(x2, hc)), 1e-9);
    const double ps = 0.2 + 0.6 * (i % 5) / 4.0, pt = 0.8 - 0.6 * (i % 3) / 2.0;
    const V q = h.map({ps, pt}), tangent = minus(h.map({ps + 1e-6, pt}), h.map({ps - 1e-6, pt}));
    ASSERT_EQ(cid_region_getXDirAtPoint(&r, &q, &d), 0);
    EXPECT_LT(gap(d, {tangent.x / norm(tangent), tangent.y / norm(tangent)}), 1e-7);

    // A sub-rectangle of the same square already has the reference's perspective: rebuilding it
    // from its own center segments gives it back.
    const cid_region sub = h.square(0.1, 0.3, 0.7, 0.9);
    const V wide{2.5, 1};
    cid_region again, w;
    ASSERT_EQ(cid_region_initChangePersp(&again, &sub, &r, 1, 1), 0);
    EXPECT_LT(cornerGap(again, sub), 1e-8);
    // Widening X by 2.5 moves the X center segment's ends out by 0.75 of it; the new Y sides run
    // through them and through (h1, h4, h7), where H's lines s = 0 and s = 1 meet; Po and Popp
    // stay on the lines of their X sides.
    ASSERT_EQ(cid_region_initDilate(&w, &wide, nullptr, &r), 0);
    const V v = minus(x2, x1), e1{x1.x - 0.75 * v.x, x1.y - 0.75 * v.y}, e2{x2.x + 0.75 * v.x, x2.y + 0.75 * v.y};
    auto aims = [&](V a, V b) {  // sine of the angle between b - a and the direction to the meeting point
      const V m{h.h[1] - a.x * h.h[7], h.h[4] - a.y * h.h[7]}, e = minus(b, a);
      return std::fabs(cross(e, m)) / (norm(e) * norm(m));
    };
    EXPECT_LT(std::max({distToLine(w.po, r.po, r.px), distToLine(w.popp, r.py, r.popp), distToLine(e1, w.po, w.py),
                        distToLine(e2, w.px, w.popp), aims(w.po, w.py), aims(w.px, w.popp)}),
              1e-8);

    // Within against ray casting, away from the outline.
    const V poly[4] = {r.po, r.px, r.popp, r.py};
    for (int k = 0; k < 30; ++k) {
      const V p = h.map({0.5 + u(rng), 0.5 + u(rng)});
      bool nearEdge = false;
      for (int e = 0; e < 4; ++e) nearEdge = nearEdge || distToLine(p, poly[e], poly[(e + 1) % 4]) < 1e-6;
      uint32_t flag = 7;
      if (nearEdge) continue;
      ASSERT_EQ(cid_region_within(&r, &p, &flag), 0);
      const bool expect = rayCastInside(poly, 4, p);
      ASSERT_EQ(flag, expect ? 1u : 0u);
      ++counts[expect];
    }
  }
  EXPECT_GT(std::min(counts[0], counts[1]), 1000);
}

TEST(Region, DilationClosedFormsAndFailures) {
  cid_region sq, r;
  cid_region_init(&sq);
  const V scale{3, 1};
  const double one = 1;
  ASSERT_EQ(cid_region_initDilate(&r, &scale, nullptr, &sq), 0);
  EXPECT_TRUE(cornerGap(r, quad({-1, 0}, {2, 0}, {-1, 1}, {2, 1})) == 0 && r.isAffine == 1);
  // Y axis, start only: an affine rebuild keeps the X middle line and takes only the Y segment's
  // length, so the region grows by half the distance at each end; the same square held as a
  // general quadrilateral is bounded by lines and grows at the start.
  ASSERT_EQ(cid_region_initDilateDim(&r, 0, 1, 0, nullptr, &one, &sq), 0);
  EXPECT_EQ(cornerGap(r, quad({0, -0.5}, {1, -0.5}, {0, 1.5}, {1, 1.5})), 0);
  const cid_region gsq = quad({0, 0}, {1, 0}, {0, 1}, {1, 1});
  ASSERT_EQ(cid_region_initDilateDim(&r, 0, 1, 0, nullptr, &one, &gsq), 0);
  EXPECT_LT(cornerGap(r, quad({0, -1}, {1, -1}, {0, 1}, {1, 1})), 1e-15);
  // A loose (all tightness 0) trapezoid is widened directly along the line of its Y sides'
  // midpoints, a scale of exactly 0 not applied.
  cid_region t = quad({0, 0}, {4, 0}, {1, 2}, {3, 2});
  std::fill_n(t.tightness, 4, 0u);
  ASSERT_EQ(cid_region_initDilateX(&r, 0, 1, &t), 0);
  EXPECT_LT(std::max(gap(r.po, {-1, 0}), gap(r.px, {5, 0})), 1e-14);

  // Parallel lines fail and leave the region alone; a distance on a zero-length segment is a
  // precondition failure.
  const cmath_shapeLine pa[2] = {{{0, 1}, {0, 0}}, {{0, 1}, {3, 0}}}, pb[2] = {{{0, 2}, {0, 0}}, {{1, 0}, {0, 3}}};
  r = t;
  EXPECT_EQ(cid_region_initLines(&r, pa, pb), csys_errParallelLines);
  EXPECT_TRUE(same(r, t));
  AssertRecorder rec;
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
    // parallel lines; nothing asserts and nothing is NaN (nor is the sum of all of them).
    double f[3];
    V v[4];
    cidut_lineSeg xs, ys;
    ASSERT_EQ(cid_region_getCenterSegments(&r, &v[0], &xs, &ys), 0);
    cid_region_getXForshortening(&r, &f[0]);
    cid_region_getYForshortening(&r, &f[1]);
    cid_region_getAvYLength(&r, &f[2]);
    cid_region_getAvXUnitDir(&r, &v[1]);
    cid_region_getYDirAtPoint(&r, &c.po, &v[2]);
    cid_region_getXDirAtPoint(&r, &v[0], &v[3]);
    double sum = f[0] + f[1] + f[2];
    for (V w : {v[0], v[1], v[2], v[3], xs.p1, xs.p2, ys.p1, ys.p2}) sum += w.x + w.y;
    cid_region d[5];
    const V scale{2, 0.5};
    const csys_status sts[5] = {cid_region_initMakeAffine(&d[0], &r), cid_region_initDilate(&d[1], &scale, nullptr, &r),
                                cid_region_initChangePersp(&d[2], &r, &reference, 1, 1),
                                cid_region_initDilateX(&d[3], 1.5, 0, &r),
                                cid_region_initDilateDim(&d[4], 0, 1, 1, &scale.x, nullptr, &r)};
    for (int k = 0; k < 5; ++k) {
      EXPECT_TRUE(sts[k] == 0 || (k > 0 && sts[k] == csys_errParallelLines)) << k;
      if (sts[k] == 0)
        for (V w : {d[k].po, d[k].px, d[k].py, d[k].popp}) sum += w.x + w.y;
    }
    EXPECT_TRUE(std::isfinite(sum)) << c.py.x << "," << c.py.y;
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

TEST(Region, EnclosingRectanglesMapsAndVectorElements) {
  const cid_region r = quad({0.5, 1}, {2.5, 1.5}, {1, 4}, {2, 3.25}), far = quad({0, 0}, {3e9, 0}, {0, 1}, {3e9, 1});
  const cmath_xformLinear turn{{0, -1, 1, 0}, {10, 20}};  // a quarter turn and a shift
  const cstd_rect32 image{0, 0, 3, 4}, small{1, 0, 3, 4};
  cstd_rect32 px;
  cid_region m;
  uint32_t in[3] = {7, 7, 7};
  // The turned corners span x 6 .. 9, y 20.5 .. 22.5.
  ASSERT_EQ(cid_region_getEncloseImageRect(&r, &turn, &px), 0);
  ASSERT_EQ(cid_region_initMap(&m, &turn, &r), 0);
  EXPECT_TRUE(px.x == 6 && px.y == 20 && px.width == 3 && px.height == 3 && gap(m.po, {9, 20.5}) == 0);
  // Contained in the image rectangle; too far for 32 bits is refused or not contained.
  ASSERT_EQ(cid_region_isWithinImageRect(&r, nullptr, &image, &in[0]), 0);
  ASSERT_EQ(cid_region_isWithinImageRect(&r, nullptr, &small, &in[1]), 0);
  ASSERT_EQ(cid_region_isWithinImageRect(&far, nullptr, &image, &in[2]), 0);
  EXPECT_TRUE(in[0] == 1 && in[1] == 0 && in[2] == 0);
  EXPECT_EQ(cid_region_getEncloseImageRect(&far, nullptr, &px), csys_errBadArgument);

  // New vector elements start as unit squares; pushed ones are copies.
  LiveBlocks live;
  cstd_vector_cid_region v;
  cid_region unit;
  cid_region_init(&unit);
  ASSERT_EQ(cstd_vector_cid_region_construct(&v, 3), 0);
  ASSERT_EQ(cstd_vector_cid_region_pushBack(&v, &r), 0);
  ASSERT_EQ(cstd_vector_cid_region_resize(&v, 6), 0);
  for (uint32_t i : {0u, 3u, 5u}) {
    const cid_region* e = nullptr;
    ASSERT_EQ(cstd_vector_cid_region_getElementConst(&v, i, &e), 0);
    EXPECT_TRUE(same(*e, i == 3 ? r : unit)) << i;
  }
  ASSERT_EQ(cstd_vector_cid_region_destruct(&v), 0);
  EXPECT_EQ(live.leaked(), 0);
}
