// Transforms and the perspective checks built on them: 2x2 matrices against closed forms,
// perspective transforms from point pairs against an independent 8x8 solve, degenerate input;
// then the mapping between a parallelogram and its measured quadrilateral, the convexity and
// corner checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

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
    std::copy(&rows[0][0], &rows[0][0] + 18, A[2 * i]);
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

// Convexity oracle: the diagonals' crossing by their parameters, p1 + t (p4 - p1) = p2 + u (p3 -
// p2), by Cramer's rule; the ends lie t and 1 - t of the diagonal's length away. -1 when too
// close to the one-pixel limit to call.
int diagonalsCrossWellInside(const cmath_vect& p1, const cmath_vect& p2, const cmath_vect& p3, const cmath_vect& p4) {
  const double ax = p4.x - p1.x, ay = p4.y - p1.y, bx = p3.x - p2.x, by = p3.y - p2.y, rx = p2.x - p1.x,
               ry = p2.y - p1.y;
  const double det = -ax * by + ay * bx, t = (-rx * by + ry * bx) / det, u = (ax * ry - ay * rx) / det;
  const double l14 = std::hypot(ax, ay), l23 = std::hypot(bx, by);
  int ok = 1;
  for (double m : {t * l14 - 1.0, (1.0 - t) * l14 - 1.0, u * l23 - 1.0, (1.0 - u) * l23 - 1.0}) {
    if (std::fabs(m) < 1e-7) return -1;
    ok &= m > 0.0;
  }
  return ok;
}

}  // namespace

TEST(Matrix, RotationScaleAgainstClosedFormsAndInverse) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ang(-4.0, 4.0), sc(0.2, 5.0);
  for (int trial = 0; trial < 200; ++trial) {
    const double xr = ang(rng), yr = ang(rng), xs = sc(rng), ys = sc(rng);
    cmath_matrix m, inv, prod;
    // Columns xs (cos xr, sin xr) and ys (-sin yr, cos yr), as the affine rectangles' centre form.
    ASSERT_EQ(cmath_matrix_initRotationScale(&m, xr, yr, xs, ys), 0);
    EXPECT_LT(std::fabs(m.a - xs * std::cos(xr)) + std::fabs(m.c - xs * std::sin(xr)) +
                  std::fabs(m.b + ys * std::sin(yr)) + std::fabs(m.d - ys * std::cos(yr)),
              1e-12 * (xs + ys));
    ASSERT_EQ(cmath_matrix_inverse(&m, &inv), 0);
    cmath_matrix_multiply(&inv, &m, &prod);
    const double tol = 1e-9 * xs * ys / std::max(1e-3, std::fabs(std::cos(xr - yr)));
    EXPECT_LT(std::fabs(prod.a - 1) + std::fabs(prod.b) + std::fabs(prod.c) + std::fabs(prod.d - 1), tol);
  }
  // The product applies its right factor first; singular or non-finite matrices have no inverse
  // (out untouched).
  cmath_matrix shear{1, 2, 0, 1}, quarter{0, -1, 1, 0}, out;
  cmath_matrix_multiply(&quarter, &shear, &out);
  EXPECT_TRUE(out.a == 0 && out.b == -1 && out.c == 1 && out.d == 2);
  for (const cmath_matrix& bad : {cmath_matrix{1, 2, 2, 4}, cmath_matrix{NAN, 0, 0, 1}}) {
    EXPECT_EQ(cmath_matrix_inverse(&bad, &out), cmath_errSingularXform);
    EXPECT_EQ(out.b, -1.0);
  }
}

TEST(PerspectiveXform, PairsAgreeWithIndependentSolveAndDegeneratePairsGiveTheIdentity) {
  std::mt19937 rng(11);
  cmath_xformPerspective x;
  for (int trial = 0; trial < 300; ++trial) {
    const Measured a = randomMeasured(rng, 0.3), b = randomMeasured(rng, 0.3);  // two unrelated quadrilaterals
    const Quad from{a.po, a.px, a.py, a.measured}, to{b.po, b.px, b.py, b.measured};
    ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, from.data(), to.data(), 4), 0);
    const auto ref = solve8x8(from, to);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(x.h[i], ref[i], 1e-9 * (std::fabs(ref[i]) + 1e-6)) << i << " " << trial;
  }

  // Coincident or three collinear from points, three collinear to points, three collinear on
  // both sides (the identity fits, and so do others), too few pairs, a coordinate not finite.
  const Quad square{{{0, 0}, {10, 0}, {0, 10}, {10, 10}}}, quad{{{1, 2}, {12, 1}, {0, 11}, {13, 14}}};
  const Quad collinear3{{{0, 0}, {5, 0}, {10, 0}, {3, 8}}};
  const struct { Quad from, to; uint32_t count; } cases[] = {
      {{{{0, 0}, {0, 0}, {0, 10}, {10, 10}}}, quad, 4}, {collinear3, quad, 4}, {square, {{{0, 0}, {5, 5}, {10, 10}, {3, 8}}}, 4},
      {collinear3, collinear3, 4}, {square, quad, 3}, {{{{NAN, 0}, {10, 0}, {0, 10}, {10, 10}}}, quad, 4}};
  for (const auto& c : cases) {
    x.h[0] = 42.0;
    EXPECT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, c.from.data(), c.to.data(), c.count),
              cmath_errDegeneratePoints)
        << c.from[1].x << " " << c.to[1].x;
    EXPECT_TRUE(isIdentity(x));
  }
}

TEST(PerspectiveXform, PointsAtInfinitySingularMatricesAndUnknownKinds) {
  // w = (x - 4) / -4 after scaling to h[8] = 1: the line x = 4 goes to infinity (out untouched).
  const double h[9] = {1, 0, 0, 0, 1, 0, 1, 0, -4}, rank2[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
  cmath_xformPerspective x, y;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&x, h), 0);
  const cmath_vect on{4.0, 7.0};
  cmath_vect out{-1, -1};
  EXPECT_EQ(cmath_xformPerspective_mapPoint(&x, &on, &out), cmath_errPointAtInfinity);
  EXPECT_EQ(out.x, -1.0);
  // Singular matrices are refused, the output untouched; so are unknown kinds.
  cmath_xformPerspective_construct(&y);
  EXPECT_EQ(cmath_xformPerspective_initMatrix(&y, rank2), cmath_errSingularXform);
  EXPECT_TRUE(isIdentity(y));
  cmath_xform g;
  cmath_xform_initPerspective(&g, &x);
  g.kind = 7;
  EXPECT_EQ(cmath_xform_mapPoint(&g, &on, &out), csys_errBadArgument);
}

TEST(PerspectiveMapping, CarriesTheParallelogramOntoTheMeasuredQuadrilateralAndBack) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 300; ++trial) {
    const Measured m = randomMeasured(rng, 0.35);
    const cmath_shapeAffineRectPoints pts{m.po, m.px, m.py};
    cmath_xformPerspective x, inv;
    ASSERT_EQ(cidut_perspectiveMapping_construct(&pts, &m.measured, &x, &inv), 0) << trial;
    const Quad from{m.po, m.px, m.py, m.popp}, to{m.po, m.px, m.py, m.measured};
    for (int i = 0; i < 4; ++i) {
      cmath_vect a, b;
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &from[i], &a), 0);
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&inv, &to[i], &b), 0);
      EXPECT_LT(std::max(dist(a, to[i]), dist(b, from[i])), 1e-9) << "trial " << trial << " corner " << i;
    }
    // An affine rectangle through the mapping: its three corners mapped, Popp onto the measured
    // corner.
    const cmath_shapeAffineRect rect{m.po, m.popp, m.py};
    cmath_shapeAffineRect mapped;
    cmath_xform g;
    cmath_xform_initPerspective(&g, &x);
    ASSERT_EQ(cidut_affine_mapPerspective(&rect, &g, &mapped), 0);
    EXPECT_LT(std::max({dist(mapped.po, m.po), dist(mapped.px, m.measured), dist(mapped.py, m.py)}), 1e-9);
    cmath_xformPerspective_destruct(&x);
    cmath_xformPerspective_destruct(&inv);
  }
  // Po, Px, Py on a line; the measured corner on the line Px-Py or not finite.
  const struct { cmath_shapeAffineRectPoints pts; cmath_vect measured; } bad[] = {
      {{{0, 0}, {10, 0}, {20, 0}}, {30, 5}}, {{{0, 0}, {10, 0}, {0, 10}}, {5, 5}}, {{{0, 0}, {10, 0}, {0, 10}}, {INFINITY, 10}}};
  for (const auto& c : bad) {
    cmath_xformPerspective x, inv;
    EXPECT_EQ(cidut_perspectiveMapping_construct(&c.pts, &c.measured, &x, &inv), cmath_errDegeneratePoints) << c.measured.x;
  }
}

TEST(PerspectiveCheck, DepartureOfTheMeasuredCornerIsComparedStrictly) {
  const cmath_shapeAffineRectPoints pts{{0, 0}, {10, 0}, {0, 10}};  // Popp (10, 10)
  const struct { cmath_vect measured; double limit; uint32_t required, severe; } cases[] = {
      {{12, 10}, 2.0, 0, 0}, {{12 + 1e-12, 10}, 2.0, 1, 1}, {{11.5, 11.5}, 2.2, 1, 0}, {{NAN, 10}, 2.0, 0, 0}};
  for (const auto& c : cases) {
    uint32_t required = 7, severe = 7;
    ASSERT_EQ(cidut_isPerspectiveMappingRequired(&pts, &c.measured, &required), 0);
    ASSERT_EQ(cidut_isPerspectiveSevere(&pts, &c.measured, c.limit, &severe), 0);
    EXPECT_TRUE(required == c.required && severe == c.severe) << c.measured.x << " " << c.limit;
  }
}

TEST(ConvexCorners, DiagonalsMustCrossWellInsideBothAndCornersInTheImage) {
  uint32_t flag = 7;
  // Given in outline order the tested "diagonals" are opposite sides: parallel for a square; a
  // zero-length diagonal is degenerate. The flag stays 0.
  const cmath_vect a{0, 0}, b{10, 0}, c{10, 10}, d{0, 10};
  EXPECT_EQ(cidut_verifyConvexHull4Points(&a, &b, &c, &d, &flag), cidut_errParallelLines);
  EXPECT_EQ(cidut_verifyConvexHull4Points(&a, &b, &d, &a, &flag), cidut_errDegenerateSegment);
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

  // The corner code: one bit per corner outside the valid pixels x 10 .. 109, y 20 .. 69, and 16
  // for a failed convexity test.
  const cstd_rect32 r{10, 20, 100, 50};
  const struct { Quad p; uint32_t code; } cases[] = {
      {{{{10, 20}, {109, 20}, {10, 69}, {109, 69}}}, 0},         {{{{10, 20}, {109, 20}, {10, 69}, {109 + 1e-9, 69}}}, 8},
      {{{{20, 30}, {60, 15}, {20, 60}, {60, 60}}}, 2},           {{{{0, 0}, {200, 0}, {150, 100}, {50, 100}}}, 31},
      {{{{20, 30}, {60, 30}, {60, 60}, {25, 50}}}, 16}};
  for (const auto& k : cases) {
    uint32_t code = 99;
    ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&k.p[0], &k.p[1], &k.p[2], &k.p[3], &r, &code), 0);
    EXPECT_EQ(code, k.code) << k.p[1].x << " " << k.p[3].x;
  }
}
