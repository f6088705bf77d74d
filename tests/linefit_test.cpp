// Line fitting against an independent total-least-squares solution: the eigenvectors of the
// centred 2x2 scatter matrix, computed here in two passes. The incremental fitter's merge and
// affine transform are checked against fitters of the merged or mapped points, and the robust
// fit against planted outliers at every possible position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ci_id/linefit.h"
#include "support/assert_recorder.hpp"

namespace {

struct Tls {
  cx2Vect centroid;
  cx2Vect dir;      // unit principal direction (sign arbitrary)
  double residual;  // smallest eigenvalue: the least sum of squared perpendicular distances
  double spread;    // largest eigenvalue
};

Tls totalLeastSquares(const std::vector<cx2Vect>& pts) {
  double mx = 0, my = 0;
  for (const auto& p : pts) mx += p.x(), my += p.y();
  mx /= pts.size();
  my /= pts.size();
  double sxx = 0, syy = 0, sxy = 0;
  for (const auto& p : pts) {
    const double dx = p.x() - mx, dy = p.y() - my;
    sxx += dx * dx, syy += dy * dy, sxy += dx * dy;
  }
  const double half = (sxx + syy) / 2, root = std::hypot((sxx - syy) / 2, sxy);
  const double big = half + root, small = half - root;
  // (S - big I) v = 0: take the better conditioned of the two rows.
  cx2Vect v = std::fabs(sxx - big) + std::fabs(sxy) > std::fabs(syy - big) + std::fabs(sxy)
                  ? cx2Vect(sxy, big - sxx)
                  : cx2Vect(big - syy, sxy);
  if (v.length() == 0) v = sxx >= syy ? cx2Vect(1, 0) : cx2Vect(0, 1);
  return Tls{{mx, my}, (1.0 / v.length()) * v, small, big};
}

std::vector<cx2Vect> randomCloud(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> u(-1, 1);
  const double angle = u(rng) * M_PI, offset = u(rng) * 50, length = 1 + 20 * std::fabs(u(rng));
  const double noise = std::pow(10.0, -3 + 3 * std::fabs(u(rng)));  // 0.001 .. 1
  const cx2Vect dir(std::cos(angle), std::sin(angle)), normal(-dir.y(), dir.x());
  const cx2Vect shift(u(rng) * 30, u(rng) * 30);
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

}  // namespace

TEST(LineFit, OneShotFitIsTheTotalLeastSquaresLine) {
  std::mt19937 rng(1);
  for (int trial = 0; trial < 300; ++trial) {
    const auto pts = randomCloud(rng, 2 + trial % 60);
    const Tls tls = totalLeastSquares(pts);
    std::vector<cmath_vect> raw(pts.begin(), pts.end());
    cidut_line line;
    ASSERT_EQ(cidut_lineFitting(&line, raw.data(), static_cast<int32_t>(raw.size())), 0) << trial;
    SCOPED_TRACE(trial);
    expectTlsLine(line, tls, 100);
    // pos is the point nearest the origin, and the origin lies on the non-negative side.
    const double d = signedDist(line, {0, 0});
    EXPECT_GE(d, -1e-12);
    EXPECT_NEAR(line.pos.x, -d * line.dir.y, 1e-9);
    EXPECT_NEAR(line.pos.y, d * line.dir.x, 1e-9);
  }
}

TEST(LineFit, FitterFitAndResidualsMatchTotalLeastSquares) {
  std::mt19937 rng(2);
  for (int trial = 0; trial < 300; ++trial) {
    const auto pts = randomCloud(rng, 2 + trial % 40);
    const Tls tls = totalLeastSquares(pts);
    const ccCidLSLineFitter fitter(toCx(pts));
    SCOPED_TRACE(trial);
    ASSERT_EQ(fitter.numPoints(), static_cast<int32_t>(pts.size()));

    cidut_line a, b;
    ASSERT_TRUE(fitter.fit(a));
    const cidut_line thrown = fitter.fit();
    double err = -1;
    ASSERT_TRUE(fitter.fitAndError(&b, &err));
    expectTlsLine(a, tls, 100);
    EXPECT_EQ(std::memcmp(&a, &thrown, sizeof a), 0);
    // fitAndError turns the direction round by negation, fit by adding pi: the same line.
    EXPECT_NEAR(a.dir.x, b.dir.x, 1e-12);
    EXPECT_NEAR(a.dir.y, b.dir.y, 1e-12);
    EXPECT_NEAR(signedDist(b, a.pos), 0.0, 1e-9 * std::max(1.0, std::hypot(a.pos.x, a.pos.y)));
    EXPECT_TRUE(a.pos.x == 0.0 || a.pos.y == 0.0);  // an axis intercept
    EXPECT_GE(signedDist(a, {0, 0}), -1e-9);

    // Residuals from the sums alone; the sums about the origin cost some digits.
    const double tol = 1e-9 * (tls.spread + 2000.0 * pts.size());
    EXPECT_NEAR(err, tls.residual, tol);
    EXPECT_NEAR(fitter.error(a), tls.residual, tol);
    // error() of any line is the sum of squared distances.
    const cidut_line other{{3.0, -2.0}, {0.6, 0.8}};
    double direct = 0;
    for (const auto& p : pts) direct += std::pow(signedDist(other, p), 2);
    EXPECT_NEAR(fitter.error(other), direct, 1e-9 * std::max(1.0, direct) + tol);
    // Either pointer may be null.
    double errOnly = -1;
    EXPECT_TRUE(fitter.fitAndError(nullptr, &errOnly));
    EXPECT_EQ(errOnly, err);
    EXPECT_TRUE(fitter.fitAndError(nullptr, nullptr));
  }
}

TEST(LineFit, SmallExactCases) {
  const std::vector<cx2Vect> diagonal = {{0, 0}, {1, 1}, {2, 2}};
  const ccCidLSLineFitter f(toCx(diagonal));
  const cidut_line line = f.fit();
  EXPECT_NEAR(std::fabs(line.dir.x), std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(line.dir.y, line.dir.x, 1e-15);
  EXPECT_NEAR(signedDist(line, {0, 0}), 0.0, 1e-15);

  cidut_linefit_params params;
  ASSERT_EQ(cidut_linefit_params_set(&params, 0, 1e-9), 0);
  const cxVector<cx2Vect> pts = toCx(diagonal);
  cidut_linefit_result result;
  ASSERT_EQ(cidut_line_fit(&params, &pts, &result), 0);
  EXPECT_NEAR(result.rms, 0.0, 1e-15);
  EXPECT_TRUE(result.accepted);
  EXPECT_TRUE(result.removed.empty());
  EXPECT_EQ(result.params.numOutliers, 0);
  EXPECT_EQ(result.params.maxRms, 1e-9);
  EXPECT_GE(result.timeMs, 0.0);

  const std::vector<cx2Vect> horizontal = {{-3, 2}, {0, 2}, {1, 2}, {7, 2}};
  const ccCidLSLineFitter h(toCx(horizontal));
  cidut_line hl;
  double err = -1;
  ASSERT_TRUE(h.fitAndError(&hl, &err));
  EXPECT_NEAR(err, 0.0, 1e-12);
  EXPECT_NEAR(h.error(hl), err, 1e-12);
  EXPECT_NEAR(hl.pos.y, 2.0, 1e-15);
  EXPECT_NEAR(std::fabs(hl.dir.x), 1.0, 1e-15);
}

TEST(LineFit, UndefinedDirectionAndTooFewPointsFail) {
  const std::vector<cx2Vect> square = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  const std::vector<cx2Vect> single = {{4, 5}};
  const std::vector<cx2Vect> same = {{4, 5}, {4, 5}, {4, 5}};
  for (const auto* pts : {&square, &single, &same}) {
    const ccCidLSLineFitter f(toCx(*pts));
    cidut_line line{{7, 7}, {7, 7}};
    double err = 7;
    EXPECT_FALSE(f.fit(line));
    EXPECT_FALSE(f.fitAndError(&line, &err));
    EXPECT_EQ(line.pos.x, 7.0);
    EXPECT_EQ(line.dir.y, 7.0);
    EXPECT_EQ(err, 7.0);
    try {
      (void)f.fit();
      ADD_FAILURE() << "no exception";
    } catch (const cxException& e) {
      EXPECT_EQ(e.code(), cidut_errFitFailed);
      EXPECT_EQ(e.message(), nullptr);
    }
    std::vector<cmath_vect> raw(pts->begin(), pts->end());
    EXPECT_EQ(cidut_lineFitting(&line, raw.data(), static_cast<int32_t>(raw.size())), cidut_errFitFailed);
    EXPECT_EQ(line.pos.x, 7.0);

    cidut_linefit_params params{0, 1.0};
    const cxVector<cx2Vect> cx = toCx(*pts);
    cidut_linefit_result result;
    EXPECT_EQ(cidut_line_fit(&params, &cx, &result), cidut_errTooFewPoints);
  }
  cidut_line line;
  EXPECT_EQ(cidut_lineFitting(&line, nullptr, 0), cidut_errFitFailed);
  EXPECT_FALSE(ccCidLSLineFitter().fit(line));
}

TEST(LineFit, MergedAndTransformedFittersMatchFittersOfThePoints) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-2, 2);
  auto expectSums = [](const ccCidLSLineFitter& got, const ccCidLSLineFitter& want) {
    const double scale = std::max({1.0, std::fabs(want.sumXX()), std::fabs(want.sumYY())});
    EXPECT_EQ(got.numPoints(), want.numPoints());
    EXPECT_NEAR(got.sumX(), want.sumX(), 1e-10 * scale);
    EXPECT_NEAR(got.sumY(), want.sumY(), 1e-10 * scale);
    EXPECT_NEAR(got.sumXX(), want.sumXX(), 1e-10 * scale);
    EXPECT_NEAR(got.sumYY(), want.sumYY(), 1e-10 * scale);
    EXPECT_NEAR(got.sumXY(), want.sumXY(), 1e-10 * scale);
  };
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    const auto a = randomCloud(rng, 1 + trial % 13), b = randomCloud(rng, 2 + trial % 7);
    std::vector<cx2Vect> both = a;
    both.insert(both.end(), b.begin(), b.end());
    const ccCidLSLineFitter fa(toCx(a)), fb(toCx(b));
    ccCidLSLineFitter acc = fa;
    acc += fb;
    expectSums(fa + fb, ccCidLSLineFitter(toCx(both)));
    expectSums(acc, fa + fb);

    // A general affine map (rotation, scale, shear, translation), and its action on the points.
    const cx2Xform x(cx2Matrix{u(rng), u(rng), u(rng), u(rng)}, cx2Vect(10 * u(rng), 10 * u(rng)));
    std::vector<cx2Vect> mapped;
    for (const auto& p : a) mapped.push_back(x * p);
    const ccCidLSLineFitter direct(toCx(mapped));
    const ccCidLSLineFitter viaSums = x * fa;
    expectSums(viaSums, direct);
    cidut_line l1, l2;
    if (direct.fit(l1)) {
      const Tls tls = totalLeastSquares(mapped);
      if (tls.spread > 1e-6 && tls.spread - tls.residual > 1e-6 * tls.spread) {
        ASSERT_TRUE(viaSums.fit(l2));
        expectTlsLine(l2, tls, 1e3);
      }
    }
  }

  // Identity leaves the sums exactly as they are; a translation moves the fitted line with it.
  const auto pts = randomCloud(rng, 20);
  const ccCidLSLineFitter f(toCx(pts));
  const ccCidLSLineFitter same = cx2Xform() * f;
  EXPECT_EQ(same.numPoints(), f.numPoints());
  EXPECT_EQ(same.sumX(), f.sumX());
  EXPECT_EQ(same.sumY(), f.sumY());
  EXPECT_EQ(same.sumXX(), f.sumXX());
  EXPECT_EQ(same.sumYY(), f.sumYY());
  EXPECT_EQ(same.sumXY(), f.sumXY());
  const cx2Vect t(5.5, -3.25);
  const cidut_line before = f.fit(), after = (cx2Xform(cx2Matrix{}, t) * f).fit();
  EXPECT_NEAR(cross(cx2Vect(before.dir), cx2Vect(after.dir)), 0.0, 1e-9);
  EXPECT_NEAR(signedDist(after, cx2Vect(before.pos) + t), 0.0, 1e-8);

  ccCidLSLineFitter r = f;
  r.reset();
  EXPECT_EQ(r.numPoints(), 0);
  EXPECT_EQ(r.sumX(), 0.0);
  EXPECT_EQ(r.sumXY(), 0.0);
  r.update({2, 3});
  EXPECT_EQ(r.sumXY(), 6.0);
  EXPECT_EQ(r.sumYY(), 9.0);
}

TEST(LineFit, RobustFitRemovesTheOutlierOfTheWorkedExample) {
  const cxVector<cx2Vect> pts = {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {2, 5}};
  cidut_linefit_params params{1, 0.5};
  cidut_linefit_result result;
  ASSERT_EQ(cidut_line_fit(&params, &pts, &result), 0);
  EXPECT_EQ(result.removed, (cxVector<uint32_t>{5}));
  EXPECT_EQ(result.rms, 0.0);
  EXPECT_TRUE(result.accepted);
  EXPECT_NEAR(result.line.dir.x, 1.0, 1e-15);
  EXPECT_NEAR(result.line.dir.y, 0.0, 1e-15);
  EXPECT_NEAR(result.line.pos.x, 0.0, 1e-15);
  EXPECT_NEAR(result.line.pos.y, 1.0, 1e-15);
  EXPECT_EQ(result.params.numOutliers, 1);

  // Rejected (but still reported) when the rms bound is not met.
  params = {0, 0.5};
  ASSERT_EQ(cidut_line_fit(&params, &pts, &result), 0);
  EXPECT_FALSE(result.accepted);
  EXPECT_GT(result.rms, 0.5);
}

TEST(LineFit, RobustFitFindsPlantedOutliersAtEveryPosition) {
  // Every index set of size k out of n holds the outliers once, so the enumeration must visit
  // them all.
  std::mt19937 rng(4);
  std::normal_distribution<double> noise(0, 0.01);
  for (uint32_t k = 1; k <= 3; ++k) {
    const uint32_t n = 7 + k;
    std::vector<uint32_t> chosen(k);
    std::vector<bool> mask(n, false);
    std::fill(mask.begin(), mask.begin() + k, true);
    do {
      chosen.clear();
      for (uint32_t i = 0; i < n; ++i)
        if (mask[i]) chosen.push_back(i);
      const double angle = std::uniform_real_distribution<double>(-M_PI, M_PI)(rng);
      const cx2Vect dir(std::cos(angle), std::sin(angle)), normal(-dir.y(), dir.x()), base(3, -4);
      cxVector<cx2Vect> pts;
      for (uint32_t i = 0; i < n; ++i) {
        const bool outlier = std::find(chosen.begin(), chosen.end(), i) != chosen.end();
        const double off = outlier ? (i % 2 ? 1.0 : -1.0) * (2.0 + 0.5 * i) : noise(rng);
        pts.push_back(base + (2.0 * i - n) * dir + off * normal);
      }
      cidut_linefit_params params{static_cast<int32_t>(k), 0.05};
      cidut_linefit_result result;
      ASSERT_EQ(cidut_line_fit(&params, &pts, &result), 0);
      cxVector<uint32_t> expected(chosen.rbegin(), chosen.rend());  // largest first
      ASSERT_EQ(result.removed, expected) << "k " << k << " first " << chosen[0];
      EXPECT_TRUE(result.accepted);
      EXPECT_NEAR(std::fabs(cross(cx2Vect(result.line.dir), dir)), 0.0, 0.02);
    } while (std::prev_permutation(mask.begin(), mask.end()));
  }
}

TEST(LineFit, RobustFitTiesKeepTheFirstIndexSet) {
  // Points exactly on y = 1: every choice fits with rms 0, so the first set tried stays.
  cxVector<cx2Vect> pts;
  for (int i = 0; i < 6; ++i) pts.push_back({double(i), 1.0});
  for (int32_t k = 1; k <= 3; ++k) {
    cidut_linefit_params params{k, 1.0};
    cidut_linefit_result result;
    ASSERT_EQ(cidut_line_fit(&params, &pts, &result), 0);
    cxVector<uint32_t> first;
    for (int32_t j = k - 1; j >= 0; --j) first.push_back(static_cast<uint32_t>(j));
    EXPECT_EQ(result.removed, first) << k;
    EXPECT_EQ(result.rms, 0.0);
  }
}

TEST(LineFit, RobustFitFailures) {
  AssertRecorder recorder;
  cxVector<cx2Vect> pts = {{0, 0}, {1, 0}, {2, 1}};
  cidut_linefit_params params{2, 1.0};
  cidut_linefit_result result;
  result.rms = 42;
  result.removed = {9, 9};
  EXPECT_EQ(cidut_line_fit(&params, &pts, &result), cidut_errTooFewPoints);  // 3 < 2 + 2
  EXPECT_EQ(result.rms, 42.0);
  EXPECT_EQ(result.removed.size(), 2u);

  // Every candidate fails: whichever point is left out, the rest coincide.
  const cxVector<cx2Vect> coincident = {{1, 1}, {1, 1}, {1, 1}};
  params = {1, 1.0};
  EXPECT_EQ(cidut_line_fit(&params, &coincident, &result), cidut_errTooFewPoints);

  // Allocation failures: index sets, exclusion flags, best set, copy into the result.
  pts = {{0, 0}, {1, 0.1}, {2, 0}, {3, 0.1}, {4, 5}};
  int failures = 0;
  for (uint64_t nth = 1;; ++nth) {
    LiveBlocks live;
    cidut_linefit_result fresh;
    csys_status st;
    {
      FailAllocation fail(nth);
      st = cidut_line_fit(&params, &pts, &fresh);
    }
    if (st == 0) {
      EXPECT_EQ(fresh.removed, (cxVector<uint32_t>{4}));
      break;
    }
    EXPECT_EQ(st, csys_errNoMemory) << nth;
    ++failures;
    fresh = cidut_linefit_result();
    EXPECT_EQ(live.leaked(), 0) << nth;
    ASSERT_LT(nth, 10u);
  }
  EXPECT_GE(failures, 3);

  // A stop request ends the search with the attention check's status.
  csys_attention_setCallback([](void*) -> csys_status { return csys_errAttention; }, nullptr);
  const csys_status stopped = cidut_line_fit(&params, &pts, &result);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(stopped, csys_errAttention);

  EXPECT_EQ(recorder.count(), 0u);
  params = {-1, 1.0};
  EXPECT_EQ(cidut_line_fit(&params, &pts, &result), csys_errAssertion);
  EXPECT_EQ(cidut_line_fit(nullptr, &pts, &result), csys_errAssertion);
  EXPECT_EQ(cidut_line_fit(&params, nullptr, &result), csys_errAssertion);
  EXPECT_EQ(cidut_line_fit(&params, &pts, nullptr), csys_errAssertion);
  EXPECT_EQ(cidut_linefit_params_set(nullptr, 1, 1), csys_errAssertion);
  EXPECT_EQ(cidut_linefit_result_init(nullptr), csys_errAssertion);
  cidut_line line;
  EXPECT_EQ(cidut_lineFitting(nullptr, nullptr, 0), csys_errAssertion);
  EXPECT_EQ(cidut_lineFitting(&line, nullptr, 3), csys_errAssertion);
  EXPECT_EQ(recorder.count(), 8u);
}

TEST(LineFit, ResultInitClearsEveryField) {
  cidut_linefit_result r;
  r.accepted = true;
  r.line = {{1, 2}, {3, 4}};
  r.rms = 5;
  r.params = {6, 7};
  r.removed = {8, 9};
  r.timeMs = 10;
  ASSERT_EQ(cidut_linefit_result_init(&r), 0);
  EXPECT_FALSE(r.accepted);
  EXPECT_EQ(r.line.pos.x, 0.0);
  EXPECT_EQ(r.line.dir.y, 0.0);
  EXPECT_EQ(r.rms, 0.0);
  EXPECT_EQ(r.params.numOutliers, 0);
  EXPECT_EQ(r.params.maxRms, 0.0);
  EXPECT_TRUE(r.removed.empty());
  EXPECT_EQ(r.timeMs, 0.0);
}
