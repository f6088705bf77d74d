// Line fitting against an independent total-least-squares solution: the eigenvectors of the
// centred 2x2 scatter matrix, computed here in two passes. The incremental fitter's merge and
// affine transform are checked against fitters of the merged or mapped points, and the robust
// fit against planted outliers at every possible position.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "ci_id/linefit.h"
#include "support/assert_recorder.hpp"
#include "support/fixtures.hpp"

namespace {

struct Tls {
  cx2Vect centroid, dir;  // dir: unit principal direction (sign arbitrary)
  double residual;        // smallest eigenvalue: the least sum of squared perpendicular distances
  double spread;          // largest eigenvalue
};

Tls totalLeastSquares(const std::vector<cx2Vect>& pts) {
  double mx = 0, my = 0, sxx = 0, syy = 0, sxy = 0;
  for (const auto& p : pts) {
    mx += p.x() / pts.size();
    my += p.y() / pts.size();
  }
  for (const auto& p : pts) {
    const double dx = p.x() - mx, dy = p.y() - my;
    sxx += dx * dx;
    syy += dy * dy;
    sxy += dx * dy;
  }
  const double half = (sxx + syy) / 2, root = std::hypot((sxx - syy) / 2, sxy), big = half + root;
  // (S - big I) v = 0: take the better conditioned of the two rows.
  cx2Vect v = std::fabs(sxx - big) > std::fabs(syy - big) ? cx2Vect(sxy, big - sxx) : cx2Vect(big - syy, sxy);
  if (v.length() == 0) v = sxx >= syy ? cx2Vect(1, 0) : cx2Vect(0, 1);
  return Tls{{mx, my}, (1.0 / v.length()) * v, half - root, big};
}

std::vector<cx2Vect> randomCloud(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> u(-1, 1);
  const double angle = u(rng) * M_PI, offset = u(rng) * 50, length = 1 + 20 * std::fabs(u(rng));
  const double noise = std::pow(10.0, -3 + 3 * std::fabs(u(rng)));  // 0.001 .. 1
  const cx2Vect dir(std::cos(angle), std::sin(angle)), normal(-dir.y(), dir.x()), shift(u(rng) * 30, u(rng) * 30);
  std::vector<cx2Vect> pts;
  for (int i = 0; i < n; ++i) pts.push_back(shift + (u(rng) * length) * dir + (offset + u(rng) * noise) * normal);
  return pts;
}

cxVector<cx2Vect> toCx(const std::vector<cx2Vect>& pts) { return cxVector<cx2Vect>(pts.begin(), pts.end()); }

double signedDist(const cidut_line& line, cx2Vect p) {
  const cmath_vect q = p;
  double d = 0;
  EXPECT_EQ(cidut_line_getDistToPoint(&line, &q, &d), 0);
  return d;
}

// The line has the principal direction and passes through the centroid.
void expectTlsLine(const cidut_line& line, const Tls& tls, double scale) {
  EXPECT_NEAR(std::hypot(line.dir.x, line.dir.y), 1.0, 1e-12);
  EXPECT_NEAR(cross(cx2Vect(line.dir), tls.dir), 0.0, 1e-9 * std::max(1.0, tls.spread / (tls.spread - tls.residual)));
  EXPECT_NEAR(signedDist(line, tls.centroid), 0.0, 1e-9 * scale);
}

void expectSums(const ccCidLSLineFitter& got, const ccCidLSLineFitter& want) {
  const std::array<double, 6> g{double(got.numPoints()), got.sumX(), got.sumY(), got.sumXX(), got.sumYY(), got.sumXY()},
      w{double(want.numPoints()), want.sumX(), want.sumY(), want.sumXX(), want.sumYY(), want.sumXY()};
  const double scale = std::max({1.0, std::fabs(want.sumXX()), std::fabs(want.sumYY())});
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(g[i], w[i], 1e-10 * scale) << i;
}

}  // namespace

TEST(LineFit, EveryFitIsTheTotalLeastSquaresLine) {
  // Exact diagonal, horizontal and vertical lines first (a zero cross term), then noisy clouds.
  const std::vector<std::vector<cx2Vect>> exact = {
      {{0, 0}, {1, 1}, {2, 2}}, {{-3, 2}, {0, 2}, {1, 2}, {7, 2}}, {{-4, -1}, {-4, 3}, {-4, 8}}};
  std::mt19937 rng(1);
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE(trial);
    const auto pts = trial < 3 ? exact[trial] : randomCloud(rng, 2 + trial % 60);
    const Tls tls = totalLeastSquares(pts);
    const std::vector<cmath_vect> raw(pts.begin(), pts.end());
    cidut_line one, b;
    ASSERT_EQ(cidut_lineFitting(&one, raw.data(), static_cast<int32_t>(raw.size())), 0);
    expectTlsLine(one, tls, 100);

    const ccCidLSLineFitter fitter(toCx(pts));
    double err = -1;
    const cidut_line a = fitter.fit();
    ASSERT_TRUE(fitter.fitAndError(&b, &err));
    expectTlsLine(a, tls, 100);
    expectTlsLine(b, tls, 100);
    // pos is an axis intercept, the origin on the non-negative side.
    EXPECT_TRUE((a.pos.x == 0.0 || a.pos.y == 0.0) && signedDist(a, {0, 0}) >= -1e-9);

    // Residuals from the sums alone (the sums about the origin cost some digits); error() of any
    // line is the sum of squared distances.
    const double tol = 1e-9 * (tls.spread + 2000.0 * pts.size());
    EXPECT_NEAR(err, tls.residual, tol);
    const cidut_line other{{3.0, -2.0}, {0.6, 0.8}};
    double direct = 0;
    for (const auto& p : pts) direct += std::pow(signedDist(other, p), 2);
    EXPECT_NEAR(fitter.error(other), direct, 1e-9 * std::max(1.0, direct) + tol);
  }
}

TEST(LineFit, UndefinedDirectionAndTooFewPointsFail) {
  // A square's corners (isotropic), one point, coincident points, no points.
  for (const std::vector<cx2Vect>& pts : std::vector<std::vector<cx2Vect>>{
           {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {{4, 5}}, {{4, 5}, {4, 5}, {4, 5}}, {}}) {
    const ccCidLSLineFitter f(toCx(pts));
    cidut_line line{{7, 7}, {7, 7}};
    double err = 7;
    EXPECT_FALSE(f.fit(line) || f.fitAndError(&line, &err));
    expectThrows([&] { (void)f.fit(); }, cidut_errFitFailed, nullptr);
    const std::vector<cmath_vect> raw(pts.begin(), pts.end());
    EXPECT_EQ(cidut_lineFitting(&line, raw.data(), static_cast<int32_t>(raw.size())), cidut_errFitFailed);
    EXPECT_TRUE(line.pos.x == 7.0 && line.dir.y == 7.0 && err == 7.0);
  }
}

TEST(LineFit, MergedUpdatedAndTransformedFittersMatchFittersOfThePoints) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-2, 2);
  ccCidLSLineFitter acc;
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    const auto a = randomCloud(rng, 1 + trial % 13), b = randomCloud(rng, 2 + trial % 7);
    std::vector<cx2Vect> both = a, mapped;
    both.insert(both.end(), b.begin(), b.end());
    const ccCidLSLineFitter fa(toCx(a)), fb(toCx(b)), fBoth(toCx(both));
    expectSums(fa + fb, fBoth);
    acc.reset();
    for (const auto& p : a) acc.update(p);
    acc += fb;
    expectSums(acc, fBoth);
    // A general affine map (rotation, scale, shear, translation), and its action on the points.
    const cx2Xform x(cx2Matrix{u(rng), u(rng), u(rng), u(rng)}, cx2Vect(10 * u(rng), 10 * u(rng)));
    for (const auto& p : a) mapped.push_back(x * p);
    expectSums(x * fa, ccCidLSLineFitter(toCx(mapped)));
  }
}

TEST(LineFit, RobustFitFindsPlantedOutliersAtEveryPosition) {
  // Every index set of size k out of n holds the outliers once, so the enumeration must visit
  // them all.
  std::mt19937 rng(4);
  std::normal_distribution<double> noise(0, 0.01);
  for (uint32_t k = 0; k <= 3; ++k) {  // k = 0 is the plain fit
    const uint32_t n = 7 + k;
    std::vector<bool> mask(n, false);
    std::fill(mask.begin(), mask.begin() + k, true);
    do {
      const double angle = std::uniform_real_distribution<double>(-M_PI, M_PI)(rng);
      const cx2Vect dir(std::cos(angle), std::sin(angle)), normal(-dir.y(), dir.x()), base(3, -4);
      cxVector<cx2Vect> pts;
      cxVector<uint32_t> planted;  // largest first
      std::vector<cx2Vect> kept;
      for (uint32_t i = 0; i < n; ++i) {
        if (mask[i]) planted.insert(planted.begin(), i);
        const double off = mask[i] ? (i % 2 ? 1.0 : -1.0) * (2.0 + 0.5 * i) : noise(rng);
        pts.push_back(base + (2.0 * i - n) * dir + off * normal);
        if (!mask[i]) kept.push_back(pts.back());
      }
      const cidut_linefit_params params{static_cast<int32_t>(k), 0.05};
      cidut_linefit_result result;
      ASSERT_EQ(cidut_line_fit(&params, &pts, &result), 0);
      ASSERT_EQ(result.removed, planted) << "k " << k;
      EXPECT_TRUE(result.accepted && result.params.numOutliers == params.numOutliers);
      EXPECT_NEAR(result.rms, std::sqrt(totalLeastSquares(kept).residual / kept.size()), 1e-9);
      EXPECT_NEAR(std::fabs(cross(cx2Vect(result.line.dir), dir)), 0.0, 0.02);
    } while (std::prev_permutation(mask.begin(), mask.end()));
  }
  // A bound of 0 rejects even an exact fit (rms < maxRms fails) but still reports it.
  const cxVector<cx2Vect> flat = {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {2, 5}};
  const cidut_linefit_params params{1, 0.0};
  cidut_linefit_result result;
  ASSERT_EQ(cidut_line_fit(&params, &flat, &result), 0);
  EXPECT_TRUE(result.rms == 0.0 && !result.accepted && result.removed == cxVector<uint32_t>{4});
}

TEST(LineFit, RobustFitFailures) {
  AssertRecorder recorder;
  cxVector<cx2Vect> pts = {{0, 0}, {1, 0}, {2, 1}};
  cidut_linefit_params params{2, 1.0};
  cidut_linefit_result result;
  EXPECT_EQ(cidut_line_fit(&params, &pts, &result), cidut_errTooFewPoints);  // 3 < 2 + 2

  // Allocation failures: index sets, exclusion flags, best set, copy into the result.
  pts = {{0, 0}, {1, 0.1}, {2, 0}, {3, 0.1}, {4, 5}};
  params = {1, 1.0};
  const uint64_t points = sweepAllocationFailures([&] {
    cidut_linefit_result fresh;
    const csys_status st = cidut_line_fit(&params, &pts, &fresh);
    const bool wrong = st == 0 && (fresh.removed.size() != 1 || fresh.removed[0] != 4);  // no allocation here
    return wrong ? csys_errAssertion : st;
  });
  EXPECT_TRUE(points >= 3u && points < 9u) << points;

  // A stop request ends the search with the attention check's status.
  csys_attention_setCallback([](void*) -> csys_status { return csys_errAttention; }, nullptr);
  const csys_status stopped = cidut_line_fit(&params, &pts, &result);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(stopped, csys_errAttention);

  params = {-1, 1.0};
  EXPECT_TRUE(cidut_line_fit(&params, &pts, &result) == csys_errAssertion && recorder.count() == 1u);
}
