// Transforms and the perspective checks built on them: 2x2 matrices against closed forms,
// perspective transforms from point pairs against an independent 8x8 solve, degenerate input;
// then the mapping between a parallelogram and its measured quadrilateral, the mapped affine
// rectangle, the convexity and corner checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "base/cmath_projective.h"
#include "ci_id/projective.h"
#include "support/assert_recorder.hpp"

namespace {

using Quad = std::array<cmath_vect, 4>;

double dist(const cmath_vect& a, const cmath_vect& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// A random parallelogram (Po, Px, Py) in a 1000-pixel field, sides 20 to 300 long and at least 67
// degrees apart, and a measured fourth corner moved off Popp by up to `wobble` (at most 0.35) of
// the shorter side in each coordinate: less than Popp's distance to the lines through the other
// corners, so the outline Po, Px, measured, Py stays strictly convex.
struct Measured { cmath_vect po, px, py, popp, measured; };
Measured randomMeasured(std::mt19937& rng, double wobble) {
  std::uniform_real_distribution<double> pos(0.0, 1000.0), len(20.0, 300.0), ang(-M_PI, M_PI), shear(-0.4, 0.4),
      unit(-1.0, 1.0);
  const double a = ang(rng), lx = len(rng), ly = len(rng), s = shear(rng), r = wobble * std::min(lx, ly);
  Measured m;
  m.po = {pos(rng), pos(rng)};
  m.px = {m.po.x + lx * std::cos(a), m.po.y + lx * std::sin(a)};
  m.py = {m.po.x - ly * std::sin(a + s), m.po.y + ly * std::cos(a + s)};
  m.popp = {m.px.x + m.py.x - m.po.x, m.px.y + m.py.y - m.po.y};
  m.measured = {m.popp.x + r * unit(rng), m.popp.y + r * unit(rng)};
  return m;
}

// The four-pair transform solved independently: the 8x8 system with h[8] = 1 in raw coordinates,
// Gauss-Jordan with partial pivoting in long double.
std::array<double, 9> solve8x8(const Quad& from, const Quad& to) {
  long double A[8][9] = {};
  for (int i = 0; i < 4; ++i) {
    const long double x = from[i].x, y = from[i].y, u = to[i].x, v = to[i].y;
    const long double rows[2][9] = {{x, y, 1, 0, 0, 0, -u * x, -u * y, u}, {0, 0, 0, x, y, 1, -v * x, -v * y, v}};
    std::copy(rows[0], rows[0] + 9, A[2 * i]);
    std::copy(rows[1], rows[1] + 9, A[2 * i + 1]);
  }
  for (int c = 0; c < 8; ++c) {
    int piv = c;
    for (int r = c + 1; r < 8; ++r)
      if (std::fabs(A[r][c]) > std::fabs(A[piv][c])) piv = r;
    std::swap(A[c], A[piv]);
    for (int r = 0; r < 8; ++r)
      for (int j = 8; j >= c && r != c; --j) A[r][j] -= A[r][c] / A[c][c] * A[c][j];
  }
  std::array<double, 9> h{};
  for (int i = 0; i < 8; ++i) h[i] = static_cast<double>(A[i][8] / A[i][i]);
  h[8] = 1.0;
  return h;
}

bool isIdentity(const cmath_xformPerspective& x) {
  const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  return std::equal(x.h, x.h + 9, id);
}

}  // namespace

TEST(Matrix, RotationScaleAgainstClosedFormsAndInverse) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ang(-4.0, 4.0), sc(0.2, 5.0);
  for (int trial = 0; trial < 200; ++trial) {
    const double xr = ang(rng), yr = ang(rng), xs = sc(rng), ys = sc(rng);
    cmath_matrix m, inv, prod;
    double det;
    // Columns xs (cos xr, sin xr) and ys (-sin yr, cos yr), as the affine rectangles' centre form.
    ASSERT_EQ(cmath_matrix_initRotationScale(&m, xr, yr, xs, ys), 0);
    EXPECT_LT(std::fabs(m.a - xs * std::cos(xr)) + std::fabs(m.c - xs * std::sin(xr)) +
                  std::fabs(m.b + ys * std::sin(yr)) + std::fabs(m.d - ys * std::cos(yr)),
              1e-12 * (xs + ys));
    cmath_matrix_determinant(&m, &det);
    EXPECT_NEAR(det, xs * ys * std::cos(xr - yr), 1e-12 * xs * ys);
    ASSERT_EQ(cmath_matrix_inverse(&m, &inv), 0);
    cmath_matrix_multiply(&inv, &m, &prod);
    const double tol = 1e-9 * xs * ys / std::max(1e-3, std::fabs(std::cos(xr - yr)));
    EXPECT_LT(std::fabs(prod.a - 1) + std::fabs(prod.b) + std::fabs(prod.c) + std::fabs(prod.d - 1), tol);
  }
  // The product applies its right factor first; singular or non-finite matrices have no inverse
  // (out untouched), tiny regular ones do.
  cmath_matrix shear{1, 2, 0, 1}, quarter{0, -1, 1, 0}, out;
  cmath_matrix_multiply(&quarter, &shear, &out);
  EXPECT_TRUE(out.a == 0 && out.b == -1 && out.c == 1 && out.d == 2);
  for (const cmath_matrix& bad : {cmath_matrix{0, 0, 0, 0}, cmath_matrix{1, 2, 2, 4}, cmath_matrix{NAN, 0, 0, 1}}) {
    EXPECT_EQ(cmath_matrix_inverse(&bad, &out), cmath_errSingularXform);
    EXPECT_EQ(out.b, -1.0);
  }
  const cmath_matrix tiny{1e-150, 0, 0, 1e-150};
  EXPECT_EQ(cmath_matrix_inverse(&tiny, &out), 0);
  EXPECT_DOUBLE_EQ(out.a, 1e150);
}

TEST(PerspectiveXform, PairsAgreeWithIndependentSolveAndRecoverATransform) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    const Measured a = randomMeasured(rng, 0.3), b = randomMeasured(rng, 0.3);  // two unrelated quadrilaterals
    const Quad from{a.po, a.px, a.py, a.measured}, to{b.po, b.px, b.py, b.measured};
    cmath_xformPerspective x;
    ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, from.data(), to.data(), 4), 0);
    const auto ref = solve8x8(from, to);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(x.h[i], ref[i], 1e-9 * (std::fabs(ref[i]) + 1e-6)) << i << " " << trial;
  }
  // Thirty pairs of a known transform, the first repeated three times: still that transform.
  const double h[9] = {1.2, 0.1, 40.0, -0.2, 0.9, 300.0, 2e-4, -1e-4, 1.0};
  std::uniform_real_distribution<double> coord(-250.0, 750.0);
  cmath_xformPerspective truth, x;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&truth, h), 0);
  std::vector<cmath_vect> from, to;
  while (from.size() < 33) {
    cmath_vect p = from.size() < 30 ? cmath_vect{coord(rng), coord(rng)} : from[0], q;
    if (CSYS_FAILED(cmath_xformPerspective_mapPoint(&truth, &p, &q))) continue;
    from.push_back(p);
    to.push_back(q);
  }
  ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, from.data(), to.data(), 33), 0);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(x.h[i], h[i], 1e-9 * (std::fabs(h[i]) + 1e-3)) << i;
}

TEST(PerspectiveXform, DegeneratePairsAreRefusedAsTheIdentity) {
  const Quad square{{{0, 0}, {10, 0}, {0, 10}, {10, 10}}}, quad{{{1, 2}, {12, 1}, {0, 11}, {13, 14}}};
  const Quad collinear3{{{0, 0}, {5, 0}, {10, 0}, {3, 8}}};
  const struct { Quad from, to; uint32_t count; } cases[] = {
      {{{{0, 0}, {0, 0}, {0, 10}, {10, 10}}}, quad, 4},          // coincident from points
      {collinear3, quad, 4},                                     // three collinear from points
      {collinear3, collinear3, 4},                               // the identity fits, and so do others
      {square, {{{0, 0}, {5, 5}, {10, 10}, {3, 8}}}, 4},         // three collinear to points
      {{{{0, 0}, {10, 0}, {0, 0}, {10, 0}}}, {{{0, 0}, {10, 0}, {0, 0}, {10, 0}}}, 4},  // two pairs repeated
      {square, quad, 3},                                         // too few pairs
      {{{{NAN, 0}, {10, 0}, {0, 10}, {10, 10}}}, quad, 4},       // not finite
  };
  for (const auto& c : cases) {
    cmath_xformPerspective x;
    x.h[0] = 42.0;
    EXPECT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, c.from.data(), c.to.data(), c.count),
              cmath_errDegeneratePoints)
        << c.from[1].x << " " << c.to[1].x;
    EXPECT_TRUE(isIdentity(x));
  }
  // A trapezoid (two parallel sides) is a perfectly good target.
  const Quad trapezoid{{{0, 0}, {10, 0}, {3, 6}, {7, 6}}};
  cmath_xformPerspective x;
  cmath_vect p;
  ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, square.data(), trapezoid.data(), 4), 0);
  ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &square[3], &p), 0);
  EXPECT_LT(dist(p, trapezoid[3]), 1e-12);
}

TEST(PerspectiveXform, VanishingLineSingularMatricesAndTransformKinds) {
  // w = (x - 4) / -4 after scaling to h[8] = 1: the line x = 4 goes to infinity.
  const double h[9] = {1, 0, 0, 0, 1, 0, 1, 0, -4}, huge[9] = {1e300, 0, 0, 0, 1, 0, 0, 0, 1};
  cmath_xformPerspective x, hx, y;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&x, h), 0);
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&hx, huge), 0);
  const cmath_vect on{4.0, 7.0}, off{6.0, 4.0}, far{1e10, 0.0};
  cmath_vect out{-1, -1};
  EXPECT_EQ(cmath_xformPerspective_mapPoint(&x, &on, &out), cmath_errPointAtInfinity);
  EXPECT_EQ(cmath_xformPerspective_mapPoint(&hx, &far, &out), cmath_errPointAtInfinity);  // beyond double range
  EXPECT_EQ(out.x, -1.0);
  ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &off, &out), 0);
  EXPECT_TRUE(out.x == 3.0 && out.y == 2.0);
  // An affine rectangle with a corner on that line: the failure comes back, the output untouched.
  cmath_xform gv;
  cmath_xform_initPerspective(&gv, &x);
  const cmath_shapeAffineRect onLine{{0, 0}, {4, 0}, {0, 3}};
  cmath_shapeAffineRect untouched{{-9, -9}, {-9, -9}, {-9, -9}};
  EXPECT_EQ(cidut_affine_mapPerspective(&onLine, &gv, &untouched), cmath_errPointAtInfinity);
  EXPECT_EQ(untouched.po.x, -9.0);

  // Singular or non-finite matrices are refused, the output untouched.
  const double rank2[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1}, nonFinite[9] = {1, 0, 0, 0, 1, 0, 0, 0, INFINITY};
  cmath_xformPerspective_construct(&y);
  EXPECT_EQ(cmath_xformPerspective_initMatrix(&y, rank2), cmath_errSingularXform);
  EXPECT_EQ(cmath_xformPerspective_initMatrix(&y, nonFinite), cmath_errSingularXform);
  std::copy(rank2, rank2 + 9, hx.h);
  EXPECT_EQ(cmath_xformPerspective_getInverse(&hx, &y), cmath_errSingularXform);
  const cmath_xformLinear flat{{1, 2, 2, 4}, {0, 0}};
  EXPECT_EQ(cmath_xformPerspective_initLinear(&y, &flat), cmath_errSingularXform);
  EXPECT_TRUE(isIdentity(y));

  // Through the general transform: a linear transform, a perspective one and the linear one as a
  // perspective one invert within their kind and round-trip, the last two alike; unknown kinds fail.
  const cmath_xformLinear lin{{0.5, -0.8, 0.8, 0.5}, {10, 20}};
  const double hp[9] = {1.1, 0.2, 3, -0.1, 0.9, 4, 1e-3, 2e-3, 1};
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&x, hp), 0);
  ASSERT_EQ(cmath_xformPerspective_initLinear(&y, &lin), 0);
  cmath_xform g[3], inv;
  cmath_xform_initLinear(&g[0], &lin);
  cmath_xform_initPerspective(&g[1], &x);
  cmath_xform_initPerspective(&g[2], &y);
  for (const cmath_vect& p : {cmath_vect{0, 0}, cmath_vect{13.5, -4}, cmath_vect{100, 50}}) {
    cmath_vect a[3], back;
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(cmath_xform_mapPoint(&g[k], &p, &a[k]), 0);
      ASSERT_EQ(cmath_xform_getInverse(&g[k], &inv), 0);
      ASSERT_EQ(cmath_xform_mapPoint(&inv, &a[k], &back), 0);
      EXPECT_TRUE(inv.kind == g[k].kind && dist(a[k], p) > 1.0 && dist(back, p) < 1e-10) << k;
    }
    EXPECT_LT(dist(a[0], a[2]), 1e-12);
  }
  g[0].kind = 7;
  EXPECT_EQ(cmath_xform_mapPoint(&g[0], &off, &out), csys_errBadArgument);
  EXPECT_EQ(cmath_xform_getInverse(&g[0], &inv), csys_errBadArgument);
}

namespace {

// Convexity oracle: the diagonals' crossing by their parameters, p1 + t (p4 - p1) = p2 + u (p3 -
// p2), by Cramer's rule; the ends lie t and 1 - t of the diagonal's length away. -1 when too
// close to the one-pixel limit to call.
int diagonalsCrossWellInside(const cmath_vect& p1, const cmath_vect& p2, const cmath_vect& p3, const cmath_vect& p4) {
  const double ax = p4.x - p1.x, ay = p4.y - p1.y, bx = p3.x - p2.x, by = p3.y - p2.y, rx = p2.x - p1.x,
               ry = p2.y - p1.y;
  const double det = -ax * by + ay * bx, t = (-rx * by + ry * bx) / det, u = (ax * ry - ay * rx) / det;
  const double l14 = std::hypot(ax, ay), l23 = std::hypot(bx, by);
  bool ok = true;
  for (double m : {t * l14 - 1.0, (1.0 - t) * l14 - 1.0, u * l23 - 1.0, (1.0 - u) * l23 - 1.0}) {
    if (std::fabs(m) < 1e-7) return -1;
    ok = ok && m > 0.0;
  }
  return ok ? 1 : 0;
}

}  // namespace

TEST(PerspectiveCheck, DepartureOfTheMeasuredCornerIsComparedStrictly) {
  const cmath_shapeAffineRectPoints pts{{0, 0}, {10, 0}, {0, 10}};  // Popp (10, 10)
  const struct { cmath_vect measured; double limit; uint32_t required, severe; } cases[] = {
      {{12, 10}, 2.0, 0, 0},   {{12 + 1e-12, 10}, 2.0, 1, 1}, {{11.5, 11.5}, 2.0, 1, 1},
      {{11.5, 11.5}, 2.2, 1, 0}, {{NAN, 10}, 2.0, 0, 0},        {{11.5, 11.5}, NAN, 1, 0}};
  for (const auto& c : cases) {
    uint32_t required = 7, severe = 7;
    ASSERT_EQ(cidut_isPerspectiveMappingRequired(&pts, &c.measured, &required), 0);
    ASSERT_EQ(cidut_isPerspectiveSevere(&pts, &c.measured, c.limit, &severe), 0);
    EXPECT_TRUE(required == c.required && severe == c.severe) << c.measured.x << " " << c.limit;
  }
  uint32_t flag = 7;
  ASSERT_EQ(cidut_isPerspectiveMappingRequired(&pts, nullptr, &flag), 0);  // no measurement
  EXPECT_EQ(flag, 0u);
  AssertRecorder rec;  // the flag is cleared before the other pointers are checked
  flag = 7;
  EXPECT_EQ(cidut_isPerspectiveSevere(&pts, nullptr, 1.0, &flag), csys_errAssertion);
  EXPECT_EQ(flag, 0u);
}

TEST(PerspectiveMapping, CarriesTheParallelogramOntoTheMeasuredQuadrilateralAndBack) {
  std::mt19937 rng(17);
  const cmath_xformLinear lin{{0.8, -0.3, 0.25, 1.1}, {-40, 17}};
  for (int trial = 0; trial < 300; ++trial) {
    const Measured m = randomMeasured(rng, 0.35);
    const cmath_shapeAffineRectPoints pts{m.po, m.px, m.py};
    cmath_xformPerspective x, inv;
    ASSERT_EQ(cidut_perspectiveMapping_construct(&pts, &m.measured, &x, &inv), 0) << trial;
    const Quad from{m.po, m.px, m.py, m.popp}, to{m.po, m.px, m.py, m.measured};
    Quad linear;
    for (int i = 0; i < 4; ++i) {
      cmath_vect a, b;
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &from[i], &a), 0);
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&inv, &to[i], &b), 0);
      EXPECT_LT(std::max(dist(a, to[i]), dist(b, from[i])), 1e-9) << "trial " << trial << " corner " << i;
      cmath_xformLinear_mapPoint(&lin, &from[i], &linear[i]);
    }
    // An affine rectangle through the mapping keeps Po, Px, Py and so the parallelogram's fourth
    // corner, not the measured one; through a linear transform (in place) all four corners map.
    cmath_shapeAffineRect rect{m.po, m.px, m.py}, mapped;
    cmath_xform g;
    cmath_vect popp;
    cmath_xform_initPerspective(&g, &x);
    ASSERT_EQ(cidut_affine_mapPerspective(&rect, &g, &mapped), 0);
    cmath_shapeAffineRect_getPopp(&mapped, &popp);
    EXPECT_LT(dist(popp, m.popp), 1e-9);
    cmath_xform_initLinear(&g, &lin);
    ASSERT_EQ(cidut_affine_mapPerspective(&rect, &g, &rect), 0);
    cmath_shapeAffineRect_getPopp(&rect, &popp);
    EXPECT_LT(std::max({dist(rect.po, linear[0]), dist(rect.px, linear[1]), dist(rect.py, linear[2]), dist(popp, linear[3])}),
              1e-9);
    cmath_xformPerspective_destruct(&x);
    cmath_xformPerspective_destruct(&inv);
  }
  // Degenerate corners give a status: Po, Px, Py on a line; Px on Po; the measured corner on the
  // line Px-Py, on Po, or not finite.
  const struct { cmath_shapeAffineRectPoints pts; cmath_vect measured; } bad[] = {
      {{{0, 0}, {10, 0}, {20, 0}}, {30, 5}}, {{{0, 0}, {0, 0}, {0, 10}}, {1, 11}}, {{{0, 0}, {10, 0}, {0, 10}}, {5, 5}},
      {{{0, 0}, {10, 0}, {0, 10}}, {0, 0}},  {{{0, 0}, {10, 0}, {0, 10}}, {INFINITY, 10}}};
  for (const auto& c : bad) {
    cmath_xformPerspective x, inv;
    EXPECT_EQ(cidut_perspectiveMapping_construct(&c.pts, &c.measured, &x, &inv), cmath_errDegeneratePoints)
        << c.measured.x;
  }
}

TEST(ConvexCorners, DiagonalsMustCrossWellInsideBoth) {
  uint32_t flag = 7;
  // Given in outline order the tested "diagonals" are opposite sides: parallel for a square; a
  // zero-length or non-finite diagonal is degenerate. The flag stays 0.
  const cmath_vect a{0, 0}, b{10, 0}, c{10, 10}, d{0, 10}, bad{NAN, 1};
  EXPECT_EQ(cidut_verifyConvexHull4Points(&a, &b, &c, &d, &flag), cidut_errParallelLines);
  EXPECT_EQ(cidut_verifyConvexHull4Points(&a, &b, &d, &a, &flag), cidut_errDegenerateSegment);
  EXPECT_EQ(cidut_verifyConvexHull4Points(&bad, &b, &d, &c, &flag), cidut_errDegenerateSegment);
  EXPECT_EQ(flag, 0u);

  // Random quadrilaterals, convex and not, large and small, against the parametric crossing.
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> coord(0.0, 12.0);
  int counts[2] = {0, 0};
  for (int trial = 0; trial < 5000; ++trial) {
    const cmath_vect p[4] = {{coord(rng), coord(rng)}, {coord(rng), coord(rng)}, {coord(rng), coord(rng)},
                             {coord(rng), coord(rng)}};
    const csys_status st = cidut_verifyConvexHull4Points(&p[0], &p[1], &p[2], &p[3], &flag);
    const int want = diagonalsCrossWellInside(p[0], p[1], p[2], p[3]);
    if (st == cidut_errParallelLines || want < 0) continue;
    ASSERT_EQ(st, 0);
    EXPECT_EQ(flag, static_cast<uint32_t>(want)) << trial;
    ++counts[flag];
  }
  EXPECT_GT(std::min(counts[0], counts[1]), 500);
}

TEST(ConvexCorners, CornerCodeAgainstTheImageRectangle) {
  const cstd_rect32 r{10, 20, 100, 50}, empty{10, 20, 0, 0};  // valid x 10 .. 109, y 20 .. 69
  const cstd_rect32 huge{INT32_MAX - 5, INT32_MAX - 5, INT32_MAX, INT32_MAX};
  const double big = INT32_MAX - 5.0;
  const struct { Quad p; const cstd_rect32* rect; uint32_t code; } cases[] = {
      {{{{20, 30}, {60, 30}, {20, 60}, {60, 60}}}, &r, 0},            // well inside
      {{{{10, 20}, {109, 20}, {10, 69}, {109, 69}}}, &r, 0},          // on the last column and row
      {{{{10, 20}, {109, 20}, {10, 69}, {109 + 1e-9, 69}}}, &r, 8},   // a hair beyond
      {{{{20, 30}, {60, 15}, {20, 60}, {60, 60}}}, &r, 2},            // each corner its own bit
      {{{{0, 0}, {200, 0}, {150, 100}, {50, 100}}}, &r, 31},          // all outside, not convex
      {{{{20, 30}, {60, 30}, {60, 60}, {25, 50}}}, &r, 16},           // outline order: sides tested
      {{{{20, 30}, {60, 30}, {20, 60}, {60, 60}}}, &empty, 15},       // an empty rectangle holds nothing
      {{{{big, big}, {3e9, big}, {big, 3e9}, {3e9, 3e9}}}, &huge, 0},  // no overflow at the limits
  };
  for (const auto& c : cases) {
    uint32_t code = 99;
    ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&c.p[0], &c.p[1], &c.p[2], &c.p[3], c.rect, &code), 0);
    EXPECT_EQ(code, c.code) << c.p[1].x << " " << c.p[3].x;
  }
  // A failing convexity test is returned and leaves the code 0, even with corners outside.
  const cmath_vect f1{0, 0}, f2{200, 0}, f3{150, 100};
  uint32_t code = 99;
  EXPECT_EQ(cidut_verifyValidBarcodeRgnCorners(&f1, &f2, &f3, &f1, &r, &code), cidut_errDegenerateSegment);
  EXPECT_EQ(code, 0u);
}
