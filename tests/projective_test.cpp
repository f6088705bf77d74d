// Transforms and the perspective checks built on them: 2x2 matrices against closed forms,
// perspective transforms from point pairs against an independent 8x8 solve, inverses and round
// trips, degenerate input; then the mapping between a parallelogram and its measured
// quadrilateral, the mapped affine rectangle, the convexity and corner checks.
#include <gtest/gtest.h>

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

double cross3(const cmath_vect& o, const cmath_vect& a, const cmath_vect& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Corners in outline order are strictly convex when every turn has the same sign.
bool convexOutline(const Quad& q) {
  int pos = 0, neg = 0;
  for (int i = 0; i < 4; ++i) {
    const double c = cross3(q[i], q[(i + 1) % 4], q[(i + 2) % 4]);
    if (c > 1e-6) ++pos;
    if (c < -1e-6) ++neg;
  }
  return pos == 4 || neg == 4;
}

// A random parallelogram (Po, Px, Py) somewhere in a 1000-pixel field, sides 20 to 300 long, and
// a measured fourth corner moved off the parallelogram's by up to `wobble` of the side length,
// kept only when the outline Po, Px, Popp, Py stays convex.
struct Measured {
  cmath_vect po, px, py, popp, measured;
};

Measured randomMeasured(std::mt19937& rng, double wobble) {
  std::uniform_real_distribution<double> pos(0.0, 1000.0), len(20.0, 300.0), ang(-M_PI, M_PI),
      shear(-0.4, 0.4), unit(-1.0, 1.0);
  for (;;) {
    Measured m;
    const double a = ang(rng), lx = len(rng), ly = len(rng), s = shear(rng);
    m.po = {pos(rng), pos(rng)};
    m.px = {m.po.x + lx * std::cos(a), m.po.y + lx * std::sin(a)};
    m.py = {m.po.x - ly * std::sin(a + s), m.po.y + ly * std::cos(a + s)};
    m.popp = {m.px.x + m.py.x - m.po.x, m.px.y + m.py.y - m.po.y};
    const double r = wobble * std::min(lx, ly);
    m.measured = {m.popp.x + r * unit(rng), m.popp.y + r * unit(rng)};
    if (convexOutline({m.po, m.px, m.measured, m.py})) return m;
  }
}

// Independent solution of the four-pair transform: the 8x8 linear system with h[8] = 1 in the
// raw coordinates, by Gaussian elimination with partial pivoting in long double.
std::array<double, 9> solve8x8(const Quad& from, const Quad& to) {
  long double A[8][9] = {};
  for (int i = 0; i < 4; ++i) {
    const long double x = from[i].x, y = from[i].y, u = to[i].x, v = to[i].y;
    const long double r0[9] = {x, y, 1, 0, 0, 0, -u * x, -u * y, u};
    const long double r1[9] = {0, 0, 0, x, y, 1, -v * x, -v * y, v};
    for (int j = 0; j < 9; ++j) {
      A[2 * i][j] = r0[j];
      A[2 * i + 1][j] = r1[j];
    }
  }
  for (int c = 0; c < 8; ++c) {
    int piv = c;
    for (int r = c + 1; r < 8; ++r)
      if (std::fabs(A[r][c]) > std::fabs(A[piv][c])) piv = r;
    for (int j = 0; j < 9; ++j) std::swap(A[c][j], A[piv][j]);
    for (int r = 0; r < 8; ++r) {
      if (r == c) continue;
      const long double f = A[r][c] / A[c][c];
      for (int j = c; j < 9; ++j) A[r][j] -= f * A[c][j];
    }
  }
  std::array<double, 9> h{};
  for (int i = 0; i < 8; ++i) h[i] = static_cast<double>(A[i][8] / A[i][i]);
  h[8] = 1.0;
  return h;
}

cmath_vect applyH(const std::array<double, 9>& h, const cmath_vect& p) {
  const double w = h[6] * p.x + h[7] * p.y + h[8];
  return {(h[0] * p.x + h[1] * p.y + h[2]) / w, (h[3] * p.x + h[4] * p.y + h[5]) / w};
}

bool isIdentity(const cmath_xformPerspective& x) {
  const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i)
    if (x.h[i] != id[i]) return false;
  return true;
}

}  // namespace

// ---- 2x2 matrices --------------------------------------------------------------------------

TEST(Matrix, RotationScaleDeterminantAndInverse) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ang(-4.0, 4.0), sc(0.2, 5.0);
  for (int trial = 0; trial < 200; ++trial) {
    const double xr = ang(rng), yr = ang(rng), xs = sc(rng), ys = sc(rng);
    cmath_matrix m, inv, prod;
    ASSERT_EQ(cmath_matrix_initRotationScale(&m, xr, yr, xs, ys), 0);
    // The axes go where the centre form of an affine rectangle puts its sides.
    cmath_vect ex{1, 0}, ey{0, 1}, mx, my;
    cmath_matrix_mapVector(&m, &ex, &mx);
    cmath_matrix_mapVector(&m, &ey, &my);
    EXPECT_NEAR(std::hypot(mx.x, mx.y), xs, 1e-12);
    EXPECT_NEAR(std::atan2(mx.y, mx.x), std::remainder(xr, 2 * M_PI), 1e-9);
    EXPECT_NEAR(std::atan2(my.y, my.x), std::remainder(yr + M_PI / 2, 2 * M_PI), 1e-9);
    double det;
    cmath_matrix_determinant(&m, &det);
    EXPECT_NEAR(det, xs * ys * std::cos(xr - yr), 1e-12 * xs * ys);
    ASSERT_EQ(cmath_matrix_inverse(&m, &inv), 0);
    cmath_matrix_multiply(&m, &inv, &prod);
    const double tol = 1e-9 * xs * ys / std::max(1e-3, std::fabs(std::cos(xr - yr)));
    EXPECT_NEAR(prod.a, 1.0, tol);
    EXPECT_NEAR(prod.b, 0.0, tol);
    EXPECT_NEAR(prod.c, 0.0, tol);
    EXPECT_NEAR(prod.d, 1.0, tol);
  }
  // The product applies its right factor first: a shear then a rotation.
  cmath_matrix shear{1, 2, 0, 1}, quarter{0, -1, 1, 0}, prod;
  cmath_matrix_multiply(&quarter, &shear, &prod);
  EXPECT_TRUE(prod.a == 0 && prod.b == -1 && prod.c == 1 && prod.d == 2);

  const cmath_matrix bad[] = {{0, 0, 0, 0}, {1, 2, 2, 4}, {NAN, 0, 0, 1}, {INFINITY, 0, 0, 1}};
  for (const auto& b : bad) {
    cmath_matrix out{9, 9, 9, 9};
    EXPECT_EQ(cmath_matrix_inverse(&b, &out), cmath_errSingularXform);
    EXPECT_EQ(out.a, 9.0);
  }
  cmath_matrix tiny{1e-150, 0, 0, 1e-150}, out;  // tiny but regular
  EXPECT_EQ(cmath_matrix_inverse(&tiny, &out), 0);
  EXPECT_DOUBLE_EQ(out.a, 1e150);
}

// ---- perspective transforms ----------------------------------------------------------------

TEST(PerspectiveXform, FourPairsAgreeWithIndependentSolve) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> uv(-0.5, 1.5);
  for (int trial = 0; trial < 300; ++trial) {
    // Two unrelated convex quadrilaterals.
    const Measured a = randomMeasured(rng, 0.3), b = randomMeasured(rng, 0.3);
    const Quad from{a.po, a.px, a.py, a.measured}, to{b.po, b.px, b.py, b.measured};
    cmath_xformPerspective x;
    ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, from.data(), to.data(), 4), 0);
    const auto ref = solve8x8(from, to);
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(x.h[i], ref[i], 1e-9 * (std::fabs(ref[i]) + 1e-6)) << "entry " << i << " trial " << trial;
    for (int k = 0; k < 10; ++k) {
      const double u = uv(rng), v = uv(rng);
      const cmath_vect p{a.po.x + u * (a.px.x - a.po.x) + v * (a.py.x - a.po.x),
                         a.po.y + u * (a.px.y - a.po.y) + v * (a.py.y - a.po.y)};
      cmath_vect q;
      if (CSYS_FAILED(cmath_xformPerspective_mapPoint(&x, &p, &q))) continue;
      const cmath_vect r = applyH(ref, p);
      EXPECT_LT(dist(q, r), 1e-8 * (1 + std::hypot(r.x, r.y)));
    }
  }
}

TEST(PerspectiveXform, ManyPairsRecoverTheTransformAndRepeatsAreAccepted) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> coord(-500.0, 1500.0);
  const double h[9] = {1.2, 0.1, 40.0, -0.2, 0.9, 300.0, 2e-4, -1e-4, 1.0};
  cmath_xformPerspective truth;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&truth, h), 0);
  std::vector<cmath_vect> from, to;
  while (from.size() < 30) {
    cmath_vect p{coord(rng) * 0.5, coord(rng) * 0.5}, q;
    if (CSYS_FAILED(cmath_xformPerspective_mapPoint(&truth, &p, &q))) continue;
    from.push_back(p);
    to.push_back(q);
  }
  // Repeat the first pair a few times: still one transform.
  for (int i = 0; i < 3; ++i) {
    from.push_back(from[0]);
    to.push_back(to[0]);
  }
  cmath_xformPerspective x;
  ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, from.data(), to.data(),
                                                                 static_cast<uint32_t>(from.size())),
            0);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(x.h[i], h[i], 1e-9 * (std::fabs(h[i]) + 1e-3)) << i;

  // Far from the origin (large translations) the fit is as good.
  Quad f{{{1e5, 2e5}, {1e5 + 80, 2e5 + 5}, {1e5 - 3, 2e5 + 90}, {1e5 + 79, 2e5 + 97}}};
  Quad t{{{-3e4, 7e4}, {-3e4 + 60, 7e4 - 20}, {-3e4 + 25, 7e4 + 70}, {-3e4 + 90, 7e4 + 40}}};
  ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, f.data(), t.data(), 4), 0);
  cmath_xformPerspective inv;
  cmath_xformPerspective_construct(&inv);
  ASSERT_EQ(cmath_xformPerspective_getInverse(&x, &inv), 0);
  for (int i = 0; i < 4; ++i) {
    cmath_vect a, b;
    ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &f[i], &a), 0);
    EXPECT_LT(dist(a, t[i]), 1e-6);
    ASSERT_EQ(cmath_xformPerspective_mapPoint(&inv, &t[i], &b), 0);
    EXPECT_LT(dist(b, f[i]), 1e-6);
  }
}

TEST(PerspectiveXform, DegeneratePairsAreRefusedWithoutNaN) {
  const Quad square{{{0, 0}, {10, 0}, {0, 10}, {10, 10}}};
  const Quad quad{{{1, 2}, {12, 1}, {0, 11}, {13, 14}}};
  const cmath_vect nan{NAN, 0.0};
  struct Case {
    const char* what;
    Quad from, to;
    uint32_t count;
  };
  const Case cases[] = {
      {"coincident from points", {{{0, 0}, {0, 0}, {0, 10}, {10, 10}}}, quad, 4},
      {"all from points equal", {{{5, 5}, {5, 5}, {5, 5}, {5, 5}}}, quad, 4},
      {"three collinear from points", {{{0, 0}, {5, 0}, {10, 0}, {3, 8}}}, quad, 4},
      // The identity fits, but so do many other transforms.
      {"three collinear on both sides", {{{0, 0}, {5, 0}, {10, 0}, {3, 8}}}, {{{0, 0}, {5, 0}, {10, 0}, {3, 8}}}, 4},
      {"three collinear to points", square, {{{0, 0}, {5, 5}, {10, 10}, {3, 8}}}, 4},
      {"all to points collinear", square, {{{0, 0}, {1, 1}, {2, 2}, {3, 3}}}, 4},
      {"coincident to points", square, {{{1, 1}, {1, 1}, {0, 11}, {13, 14}}}, 4},
      {"too few pairs", square, quad, 3},
      {"not finite", {{nan, {10, 0}, {0, 10}, {10, 10}}}, quad, 4},
  };
  for (const auto& c : cases) {
    cmath_xformPerspective x;
    x.h[0] = 42.0;
    EXPECT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, c.from.data(), c.to.data(), c.count),
              cmath_errDegeneratePoints)
        << c.what;
    EXPECT_TRUE(isIdentity(x)) << c.what;
  }
  // Four pairs that are really two repeated pairs leave the transform open.
  const Quad two{{{0, 0}, {10, 0}, {0, 0}, {10, 0}}};
  cmath_xformPerspective x;
  EXPECT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, two.data(), two.data(), 4),
            cmath_errDegeneratePoints);
  // A quadrilateral with two parallel sides (a trapezoid) is a perfectly good target.
  const Quad trapezoid{{{0, 0}, {10, 0}, {3, 6}, {7, 6}}};
  ASSERT_EQ(cmath_xformPerspective_constructPointsAllowNonUnique(&x, square.data(), trapezoid.data(), 4), 0);
  for (int i = 0; i < 4; ++i) {
    cmath_vect p;
    ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &square[i], &p), 0);
    EXPECT_LT(dist(p, trapezoid[i]), 1e-12);
  }
}

TEST(PerspectiveXform, VanishingLineSingularMatricesAndLinearCase) {
  // w = x - 5 + 1: the line x = 4 goes to infinity.
  const double h[9] = {1, 0, 0, 0, 1, 0, 1, 0, -4};
  cmath_xformPerspective x;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&x, h), 0);
  EXPECT_DOUBLE_EQ(x.h[8], 1.0);  // stored with h[8] = 1
  EXPECT_DOUBLE_EQ(x.h[6], -0.25);
  cmath_vect on{4.0, 7.0}, out{-1, -1};
  EXPECT_EQ(cmath_xformPerspective_mapPoint(&x, &on, &out), cmath_errPointAtInfinity);
  EXPECT_EQ(out.x, -1.0);
  // Close to the line the image is far out but finite; beyond double range it is refused.
  cmath_vect near{4.0 + 1e-9, 7.0};
  ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &near, &out), 0);
  EXPECT_TRUE(std::isfinite(out.x) && std::fabs(out.x) > 1e9);
  const double huge[9] = {1e300, 0, 0, 0, 1, 0, 0, 0, 1};
  cmath_xformPerspective hx;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&hx, huge), 0);
  cmath_vect far{1e10, 0.0}, keep{-1, -1};
  EXPECT_EQ(cmath_xformPerspective_mapPoint(&hx, &far, &keep), cmath_errPointAtInfinity);
  EXPECT_EQ(keep.x, -1.0);
  cmath_vect off{6.0, 4.0};
  ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &off, &out), 0);
  EXPECT_DOUBLE_EQ(out.x, 3.0);
  EXPECT_DOUBLE_EQ(out.y, 2.0);

  const double rank2[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
  const double nonFinite[9] = {1, 0, 0, 0, 1, 0, 0, 0, INFINITY};
  cmath_xformPerspective y;
  cmath_xformPerspective_construct(&y);
  EXPECT_EQ(cmath_xformPerspective_initMatrix(&y, rank2), cmath_errSingularXform);
  EXPECT_EQ(cmath_xformPerspective_initMatrix(&y, nonFinite), cmath_errSingularXform);
  EXPECT_TRUE(isIdentity(y));
  cmath_xformPerspective s;
  for (int i = 0; i < 9; ++i) s.h[i] = rank2[i];
  EXPECT_EQ(cmath_xformPerspective_getInverse(&s, &y), cmath_errSingularXform);
  EXPECT_TRUE(isIdentity(y));

  // A linear transform as a perspective one maps the same points; singular ones are refused.
  cmath_xformLinear lin{{2, 1, -1, 3}, {5, -7}}, flat{{1, 2, 2, 4}, {0, 0}};
  ASSERT_EQ(cmath_xformPerspective_initLinear(&y, &lin), 0);
  cmath_vect p{3.5, -2.25}, a, b;
  cmath_xformLinear_mapPoint(&lin, &p, &a);
  cmath_xformPerspective_mapPoint(&y, &p, &b);
  EXPECT_DOUBLE_EQ(a.x, b.x);
  EXPECT_DOUBLE_EQ(a.y, b.y);
  EXPECT_EQ(cmath_xformPerspective_initLinear(&y, &flat), cmath_errSingularXform);
}

TEST(GeneralXform, InvertsThroughEitherKindAndRefusesUnknownKinds) {
  const cmath_xformLinear lin{{0.5, -0.8, 0.8, 0.5}, {10, 20}};
  const double h[9] = {1.1, 0.2, 3, -0.1, 0.9, 4, 1e-3, 2e-3, 1};
  cmath_xformPerspective persp;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&persp, h), 0);
  cmath_xform x[2], inv[2];
  cmath_xform_initLinear(&x[0], &lin);
  cmath_xform_initPerspective(&x[1], &persp);
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(cmath_xform_getInverse(&x[k], &inv[k]), 0);
    EXPECT_EQ(inv[k].kind, x[k].kind);
    for (const cmath_vect& p : {cmath_vect{0, 0}, cmath_vect{13.5, -4}, cmath_vect{-20, 33}, cmath_vect{100, 50}}) {
      cmath_vect a, back;
      ASSERT_EQ(cmath_xform_mapPoint(&x[k], &p, &a), 0);
      EXPECT_GT(dist(a, p), 1.0);
      ASSERT_EQ(cmath_xform_mapPoint(&inv[k], &a, &back), 0);
      EXPECT_LT(dist(back, p), 1e-10);
    }
  }
  cmath_xform bad = x[0];
  bad.kind = 7;
  cmath_vect p{1, 2}, out;
  EXPECT_EQ(cmath_xform_mapPoint(&bad, &p, &out), csys_errBadArgument);
  EXPECT_EQ(cmath_xform_getInverse(&bad, &inv[0]), csys_errBadArgument);
  ASSERT_EQ(cmath_xform_initIdentity(&bad), 0);
  ASSERT_EQ(cmath_xform_mapPoint(&bad, &p, &out), 0);
  EXPECT_TRUE(out.x == 1.0 && out.y == 2.0);
}

namespace {

cmath_shapeAffineRectPoints pointsOf(const Measured& m) { return {m.po, m.px, m.py}; }

// Independent convexity oracle: the crossing of the diagonals by their parameters, X = p1 + t
// (p4 - p1) = p2 + u (p3 - p2), solved by Cramer's rule; the ends' distances are t and 1 - t of
// the diagonal's length. Returns -1 when the answer is too close to the one-pixel limit to call.
int diagonalsCrossWellInside(const cmath_vect& p1, const cmath_vect& p2, const cmath_vect& p3, const cmath_vect& p4) {
  const double ax = p4.x - p1.x, ay = p4.y - p1.y, bx = p3.x - p2.x, by = p3.y - p2.y;
  const double det = ax * (-by) - ay * (-bx);
  const double rx = p2.x - p1.x, ry = p2.y - p1.y;
  const double t = (rx * (-by) - ry * (-bx)) / det;
  const double u = (ax * ry - ay * rx) / det;
  const double l14 = std::hypot(ax, ay), l23 = std::hypot(bx, by);
  const double margins[4] = {t * l14 - 1.0, (1.0 - t) * l14 - 1.0, u * l23 - 1.0, (1.0 - u) * l23 - 1.0};
  bool ok = true;
  for (double m : margins) {
    if (std::fabs(m) < 1e-7) return -1;
    ok = ok && m > 0.0;
  }
  return ok ? 1 : 0;
}

}  // namespace

TEST(PerspectiveCheck, DepartureOfTheMeasuredCornerIsComparedStrictly) {
  const cmath_shapeAffineRectPoints pts{{0, 0}, {10, 0}, {0, 10}};  // Popp (10, 10)
  uint32_t flag = 7;
  const cmath_vect exactlyTwo{12.0, 10.0}, justOver{12.0 + 1e-12, 10.0}, diagonal{11.5, 11.5};
  ASSERT_EQ(cidut_isPerspectiveMappingRequired(&pts, &exactlyTwo, &flag), 0);
  EXPECT_EQ(flag, 0u);
  ASSERT_EQ(cidut_isPerspectiveMappingRequired(&pts, &justOver, &flag), 0);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(cidut_isPerspectiveMappingRequired(&pts, &diagonal, &flag), 0);  // 2.12 away
  EXPECT_EQ(flag, 1u);
  flag = 7;
  ASSERT_EQ(cidut_isPerspectiveMappingRequired(&pts, nullptr, &flag), 0);
  EXPECT_EQ(flag, 0u);

  ASSERT_EQ(cidut_isPerspectiveSevere(&pts, &diagonal, 2.0, &flag), 0);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(cidut_isPerspectiveSevere(&pts, &diagonal, 2.2, &flag), 0);
  EXPECT_EQ(flag, 0u);
  ASSERT_EQ(cidut_isPerspectiveSevere(&pts, &exactlyTwo, 2.0, &flag), 0);
  EXPECT_EQ(flag, 0u);
  const cmath_vect nowhere{NAN, 10.0};
  ASSERT_EQ(cidut_isPerspectiveSevere(&pts, &nowhere, 2.0, &flag), 0);
  EXPECT_EQ(flag, 0u);
  ASSERT_EQ(cidut_isPerspectiveSevere(&pts, &diagonal, NAN, &flag), 0);
  EXPECT_EQ(flag, 0u);

  // The flag is cleared before the remaining pointers are checked.
  AssertRecorder rec;
  flag = 7;
  EXPECT_EQ(cidut_isPerspectiveMappingRequired(nullptr, &diagonal, &flag), csys_errAssertion);
  EXPECT_EQ(flag, 0u);
  flag = 7;
  EXPECT_EQ(cidut_isPerspectiveSevere(&pts, nullptr, 1.0, &flag), csys_errAssertion);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(cidut_isPerspectiveSevere(&pts, &diagonal, 1.0, nullptr), csys_errAssertion);
  EXPECT_EQ(rec.count(), 3u);
}

TEST(PerspectiveMapping, CarriesTheParallelogramOntoTheMeasuredQuadrilateralAndBack) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> uv(0.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const Measured m = randomMeasured(rng, 0.35);
    const cmath_shapeAffineRectPoints pts = pointsOf(m);
    cmath_xformPerspective x, inv;
    ASSERT_EQ(cidut_perspectiveMapping_construct(&pts, &m.measured, &x, &inv), 0) << trial;
    const cmath_vect from[4] = {m.po, m.px, m.py, m.popp}, to[4] = {m.po, m.px, m.py, m.measured};
    for (int i = 0; i < 4; ++i) {
      cmath_vect a, b;
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &from[i], &a), 0);
      EXPECT_LT(dist(a, to[i]), 1e-9) << "trial " << trial << " corner " << i;
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&inv, &to[i], &b), 0);
      EXPECT_LT(dist(b, from[i]), 1e-9) << "trial " << trial << " corner " << i;
    }
    // Points of the parallelogram land inside the measured quadrilateral and come back.
    for (int k = 0; k < 20; ++k) {
      const double u = uv(rng), v = uv(rng);
      const cmath_vect p{m.po.x + u * (m.px.x - m.po.x) + v * (m.py.x - m.po.x),
                         m.po.y + u * (m.px.y - m.po.y) + v * (m.py.y - m.po.y)};
      cmath_vect q, back;
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&x, &p, &q), 0);
      // Inside the convex outline Po, Px, Measured, Py: every turn has the orientation of the whole.
      const Quad outline{m.po, m.px, m.measured, m.py};
      const double orient = cross3(m.po, m.px, m.measured);
      for (int e = 0; e < 4; ++e) EXPECT_GE(cross3(outline[e], outline[(e + 1) % 4], q) * orient, -1e-6);
      ASSERT_EQ(cmath_xformPerspective_mapPoint(&inv, &q, &back), 0);
      EXPECT_LT(dist(back, p), 1e-9);
    }
    cmath_xformPerspective_destruct(&x);
    cmath_xformPerspective_destruct(&inv);
  }
  // No departure: both transforms are the identity.
  const cmath_shapeAffineRectPoints pts{{3, 4}, {50, 9}, {-2, 40}};
  const cmath_vect popp{45, 45};
  cmath_xformPerspective x, inv;
  ASSERT_EQ(cidut_perspectiveMapping_construct(&pts, &popp, &x, &inv), 0);
  const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) {
    EXPECT_NEAR(x.h[i], id[i], 1e-12);
    EXPECT_NEAR(inv.h[i], id[i], 1e-12);
  }
}

TEST(PerspectiveMapping, DegenerateCornersGiveAStatusAndNoTransform) {
  struct Case {
    const char* what;
    cmath_shapeAffineRectPoints pts;
    cmath_vect measured;
  };
  const Case cases[] = {
      {"Po, Px, Py on one line", {{0, 0}, {10, 0}, {20, 0}}, {30, 5}},
      {"Px equal to Po", {{0, 0}, {0, 0}, {0, 10}}, {1, 11}},
      {"measured corner on the line through Px and Py", {{0, 0}, {10, 0}, {0, 10}}, {5, 5}},
      {"measured corner on Po", {{0, 0}, {10, 0}, {0, 10}}, {0, 0}},
      {"measured corner not finite", {{0, 0}, {10, 0}, {0, 10}}, {INFINITY, 10}},
  };
  for (const auto& c : cases) {
    cmath_xformPerspective x, inv;
    const csys_status st = cidut_perspectiveMapping_construct(&c.pts, &c.measured, &x, &inv);
    EXPECT_EQ(st, cmath_errDegeneratePoints) << c.what;
  }
  AssertRecorder rec;
  const cmath_shapeAffineRectPoints pts{{0, 0}, {10, 0}, {0, 10}};
  const cmath_vect popp{11, 11};
  cmath_xformPerspective x;
  EXPECT_EQ(cidut_perspectiveMapping_construct(&pts, &popp, &x, nullptr), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(PerspectiveMapping, AffineRectangleThroughATransformKeepsTheCompletion) {
  std::mt19937 rng(23);
  for (int trial = 0; trial < 50; ++trial) {
    const Measured m = randomMeasured(rng, 0.3);
    const cmath_shapeAffineRectPoints pts = pointsOf(m);
    cmath_shapeAffineRect rect, mapped;
    ASSERT_EQ(cmath_shapeAffineRect_initPoints(&rect, &pts), 0);

    // Through the mapping the three given corners stay put, so the rectangle comes out the same
    // and its fourth corner is the parallelogram's, not the measured one.
    cmath_xformPerspective x, inv;
    ASSERT_EQ(cidut_perspectiveMapping_construct(&pts, &m.measured, &x, &inv), 0);
    cmath_xform g;
    cmath_xform_initPerspective(&g, &x);
    ASSERT_EQ(cidut_affine_mapPerspective(&rect, &g, &mapped), 0);
    cmath_vect popp;
    cmath_shapeAffineRect_getPopp(&mapped, &popp);
    EXPECT_LT(dist(popp, m.popp), 1e-9);

    // Through a linear transform the parallelogram maps onto the parallelogram of the mapped
    // corners, fourth corner included.
    const cmath_xformLinear lin{{0.8, -0.3, 0.25, 1.1}, {-40, 17}};
    cmath_xform_initLinear(&g, &lin);
    ASSERT_EQ(cidut_affine_mapPerspective(&rect, &g, &mapped), 0);
    cmath_shapeAffineRectPoints out;
    cmath_shapeAffineRect_getPoints(&mapped, &out);
    const cmath_vect src[4] = {m.po, m.px, m.py, m.popp};
    cmath_vect want[4];
    for (int i = 0; i < 4; ++i) cmath_xformLinear_mapPoint(&lin, &src[i], &want[i]);
    cmath_shapeAffineRect_getPopp(&mapped, &popp);
    EXPECT_LT(dist(out.po, want[0]), 1e-9);
    EXPECT_LT(dist(out.px, want[1]), 1e-9);
    EXPECT_LT(dist(out.py, want[2]), 1e-9);
    EXPECT_LT(dist(popp, want[3]), 1e-9);

    // In place, through the mapping's inverse: the measured Popp would go back to the
    // parallelogram's, but the result is built from Po, Px, Py alone.
    cmath_xform_initPerspective(&g, &inv);
    mapped = rect;
    ASSERT_EQ(cidut_affine_mapPerspective(&mapped, &g, &mapped), 0);
    cmath_shapeAffineRect_getPoints(&mapped, &out);
    EXPECT_LT(dist(out.po, m.po), 1e-9);
    EXPECT_LT(dist(out.px, m.px), 1e-9);
  }
  // A corner on the transform's vanishing line: the failure comes back and out is untouched.
  const double h[9] = {1, 0, 0, 0, 1, 0, 1, 0, -4};  // x = 4 goes to infinity
  cmath_xformPerspective vanish;
  ASSERT_EQ(cmath_xformPerspective_initMatrix(&vanish, h), 0);
  cmath_xform g;
  cmath_xform_initPerspective(&g, &vanish);
  const cmath_shapeAffineRectPoints onLine{{0, 0}, {4, 0}, {0, 3}};
  cmath_shapeAffineRect rect, out;
  cmath_shapeAffineRect_initPoints(&rect, &onLine);
  const cmath_shapeAffineRectPoints marker{{-9, -9}, {-9, -9}, {-9, -9}};
  cmath_shapeAffineRect_initPoints(&out, &marker);
  EXPECT_EQ(cidut_affine_mapPerspective(&rect, &g, &out), cmath_errPointAtInfinity);
  cmath_shapeAffineRectPoints after;
  cmath_shapeAffineRect_getPoints(&out, &after);
  EXPECT_EQ(after.po.x, -9.0);
}

TEST(ConvexCorners, DiagonalsMustCrossWellInsideBoth) {
  uint32_t flag = 7;
  // Corners in the order (Po, Px, Py, Popp): the diagonals Po-Popp and Px-Py.
  for (double side : {10.0, 2.0, 1.5, 1.4, 1.0}) {
    const cmath_vect po{0, 0}, px{side, 0}, py{0, side}, popp{side, side};
    ASSERT_EQ(cidut_verifyConvexHull4Points(&po, &px, &py, &popp, &flag), 0);
    // Each end is side / sqrt(2) from the centre; more than one pixel once the side exceeds sqrt(2).
    EXPECT_EQ(flag, side > std::sqrt(2.0) ? 1u : 0u) << side;
  }
  // In the order (Po, Px, Popp, Py) the tested "diagonals" are two opposite sides.
  const cmath_vect a{0, 0}, b{10, 0}, c{10, 10}, d{0, 10};
  flag = 7;
  EXPECT_EQ(cidut_verifyConvexHull4Points(&a, &b, &c, &d, &flag), cidut_errParallelLines);
  EXPECT_EQ(flag, 0u);
  // A trapezoid: the lines of its two legs meet beyond them.
  const cmath_vect t1{0, 0}, t2{20, 0}, t3{15, 10}, t4{5, 10};
  EXPECT_EQ(cidut_verifyConvexHull4Points(&t1, &t2, &t3, &t4, &flag), 0);
  EXPECT_EQ(flag, 0u);
  // A diagonal of zero length.
  flag = 7;
  EXPECT_EQ(cidut_verifyConvexHull4Points(&a, &b, &d, &a, &flag), cidut_errDegenerateSegment);
  EXPECT_EQ(flag, 0u);
  const cmath_vect bad{NAN, 1};
  EXPECT_EQ(cidut_verifyConvexHull4Points(&bad, &b, &d, &c, &flag), cidut_errDegenerateSegment);
  EXPECT_EQ(flag, 0u);

  // Random quadrilaterals, convex and not, large and small, against the parametric crossing.
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> coord(0.0, 12.0);
  int ones = 0, zeros = 0;
  for (int trial = 0; trial < 5000; ++trial) {
    const cmath_vect p[4] = {{coord(rng), coord(rng)}, {coord(rng), coord(rng)}, {coord(rng), coord(rng)},
                             {coord(rng), coord(rng)}};
    const csys_status st = cidut_verifyConvexHull4Points(&p[0], &p[1], &p[2], &p[3], &flag);
    if (st == cidut_errParallelLines) continue;
    ASSERT_EQ(st, 0);
    const int want = diagonalsCrossWellInside(p[0], p[1], p[2], p[3]);
    if (want < 0) continue;
    EXPECT_EQ(flag, static_cast<uint32_t>(want)) << trial;
    (flag ? ones : zeros)++;
  }
  EXPECT_GT(ones, 500);
  EXPECT_GT(zeros, 500);
}

TEST(ConvexCorners, CornerCodeAgainstTheImageRectangle) {
  const cstd_rect32 r{10, 20, 100, 50};  // valid x in [10, 109], y in [20, 69]
  uint32_t code = 99;
  // A large square well inside.
  const cmath_vect q1{20, 30}, q2{60, 30}, q3{20, 60}, q4{60, 60};
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&q1, &q2, &q3, &q4, &r, &code), 0);
  EXPECT_EQ(code, 0u);
  // Corners on the last valid column and row are inside; a hair beyond is not.
  const cmath_vect e1{10, 20}, e2{109, 20}, e3{10, 69}, e4{109, 69}, e4out{109 + 1e-9, 69};
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&e1, &e2, &e3, &e4, &r, &code), 0);
  EXPECT_EQ(code, 0u);
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&e1, &e2, &e3, &e4out, &r, &code), 0);
  EXPECT_EQ(code, 8u);
  // Each corner has its own bit.
  const cmath_vect out2{60, 15}, out3{20, 75};
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&q1, &out2, &q3, &q4, &r, &code), 0);
  EXPECT_EQ(code, 2u);
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&q1, &q2, &out3, &q4, &r, &code), 0);
  EXPECT_EQ(code, 4u);
  // All outside, with diagonals crossing outside one of them: everything is wrong.
  const cmath_vect f1{0, 0}, f2{200, 0}, f3{150, 100}, f4{50, 100};
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&f1, &f2, &f3, &f4, &r, &code), 0);
  EXPECT_EQ(code, 31u);
  // Inside, but given in outline order so the tested pairs are sides: only the convexity bit.
  const cmath_vect c1{20, 30}, c2{60, 30}, c3{60, 60}, c4{25, 50};
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&c1, &c2, &c3, &c4, &r, &code), 0);
  EXPECT_EQ(code, 16u);
  // A failing convexity test leaves the code 0, even with corners outside.
  code = 99;
  EXPECT_EQ(cidut_verifyValidBarcodeRgnCorners(&f1, &f2, &f3, &f1, &r, &code), cidut_errDegenerateSegment);
  EXPECT_EQ(code, 0u);
  // An empty rectangle holds no corner.
  const cstd_rect32 empty{10, 20, 0, 0};
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&q1, &q2, &q3, &q4, &empty, &code), 0);
  EXPECT_EQ(code, 15u);
  // Extreme integer limits do not overflow.
  const cstd_rect32 huge{INT32_MAX - 5, INT32_MAX - 5, INT32_MAX, INT32_MAX};
  const cmath_vect h1{INT32_MAX - 5.0, INT32_MAX - 5.0}, h2{3e9, INT32_MAX - 5.0}, h3{INT32_MAX - 5.0, 3e9},
      h4{3e9, 3e9};
  ASSERT_EQ(cidut_verifyValidBarcodeRgnCorners(&h1, &h2, &h3, &h4, &huge, &code), 0);
  EXPECT_EQ(code, 0u);
}
