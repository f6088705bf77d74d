// Normalised correlation against a mean-centred Pearson coefficient computed directly for every
// shift, the refined best shift on smooth profiles, and argument failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "ci_id/correlate.h"

namespace {

// r^2 of the positively correlated overlap at shift k, from mean-centred sums in long double.
template <class E>
double pearsonSquared(const std::vector<E>& t, const std::vector<E>& s, int k) {
  const int lo = std::max(0, -k), hi = std::min<int>(t.size(), static_cast<int>(s.size()) - k);
  long double mt = 0, ms = 0;
  for (int j = lo; j < hi; ++j) {
    mt += t[j];
    ms += s[j + k];
  }
  mt /= hi - lo;
  ms /= hi - lo;
  long double cov = 0, vt = 0, vs = 0;
  for (int j = lo; j < hi; ++j) {
    const long double a = t[j] - mt, b = s[j + k] - ms;
    cov += a * b;
    vt += a * a;
    vs += b * b;
  }
  if (cov < 0 || vt * vs <= 0) return 0;
  return static_cast<double>(std::min<long double>(1, cov * cov / (vt * vs)));
}

template <class E>
void checkAgainstPearson(std::mt19937& rng, int maxValue) {
  std::uniform_int_distribution<int> value(0, maxValue);
  for (int T = 1; T <= 64; ++T) {
    for (int trial = 0; trial < 4; ++trial) {
      const int S = std::uniform_int_distribution<int>(T, 300)(rng);
      const int margin = std::uniform_int_distribution<int>(0, T - 1)(rng);
      // Some templates are slices of the signal, some are flat steps, most are random.
      std::vector<E> s(S), t(T);
      for (auto& v : s) v = static_cast<E>(value(rng));
      const int start = std::uniform_int_distribution<int>(0, S - T)(rng);
      for (int j = 0; j < T; ++j)
        t[j] = trial == 0 ? s[start + j] : static_cast<E>(trial == 1 ? (j < T / 2 ? 3 : 9) : value(rng));
      std::vector<double> scores(S - T + 1 + 2 * margin, -1.0);
      csys_status st;
      if constexpr (sizeof(E) == 1) {
        st = cf_correlate1D_U8(t.data(), T, s.data(), S, margin, scores.data());
      } else {
        st = cf_correlate1D_U32(t.data(), T, s.data(), S, margin, scores.data());
      }
      ASSERT_EQ(st, 0);
      for (size_t i = 0; i < scores.size(); ++i)
        ASSERT_NEAR(scores[i], pearsonSquared(t, s, static_cast<int>(i) - margin), 1e-9) << "T=" << T << " S=" << S << " m=" << margin << " i=" << i;
      const bool flat = std::all_of(t.begin(), t.end(), [&](E v) { return v == t[0]; });
      EXPECT_TRUE(trial != 0 || flat || std::fabs(scores[start + margin] - 1.0) <= 1e-12);  // a slice scores 1
    }
  }
}

TEST(Correlate, ScoresMatchPearsonAtEveryShift) {
  std::mt19937 rng(14);
  checkAgainstPearson<uint8_t>(rng, 255);
  // Projections of whole columns: values far beyond a byte.
  checkAgainstPearson<uint32_t>(rng, 4000000);
}

// A smooth bump and the same bump moved by a fraction of a sample: the refinement moves the best
// integer shift towards the true one and stays within a sample of it (the step is the full
// (c - a) / (2b - a - c), twice a parabola's vertex, so it may overshoot).
TEST(Correlate, BestShiftRefinesToFractions) {
  auto bump = [](double centre, int length) {
    std::vector<uint8_t> v(length);
    for (int x = 0; x < length; ++x)
      v[x] = static_cast<uint8_t>(std::lround(30 + 200 * std::exp(-(x - centre) * (x - centre) / 18.0)));
    return v;
  };
  const std::vector<uint8_t> templ = bump(20.0, 40);
  for (double shift : {-3.3, -0.25, 0.0, 7.3, 12.6, 19.4}) {
    const std::vector<uint8_t> signal = bump(20.0 + shift + 10, 60);
    double offset = -99, score = -99;
    ASSERT_EQ(cf_RunCorrelate_U8(templ.data(), 40, signal.data(), 60, 10, &offset, &score), 0);
    const double truth = shift + 10, nearest = std::round(truth);
    EXPECT_NEAR(offset, truth, 1.0) << shift;
    EXPECT_GE((offset - nearest) * (truth - nearest), 0.0) << shift;
    EXPECT_GT(score, 0.9);
    std::vector<uint32_t> t32(templ.begin(), templ.end()), s32(signal.begin(), signal.end());
    double offset32 = -99, score32 = -99;
    ASSERT_EQ(cidut_RunCorrelate_UInt32(t32.data(), 40, s32.data(), 60, 10, &offset32, &score32), 0);
    EXPECT_EQ(std::tuple(offset32, score32), std::tuple(offset, score));
  }
}

TEST(Correlate, BestShiftAtEndsPlateausAndFlatInputs) {
  struct Case {
    std::vector<uint8_t> t, s;
    int margin;
    double offset, score;
  };
  const std::vector<Case> cases = {
      {{1, 5, 2}, {1, 5, 2, 9, 9, 9, 9}, 0, 0.0, 1.0},        // best at the first shift
      {{1, 5, 2}, {9, 9, 9, 9, 1, 5, 2}, 0, 4.0, 1.0},        // best at the last shift
      {{7, 7, 7, 7}, {1, 8, 3, 9, 2, 6}, 2, 0.0, 0.0},        // constant template: no score
      {{3, 1, 4, 1}, {3, 1, 4, 1}, 0, 0.0, 1.0},              // one score
      {{0, 10, 10, 0}, {0, 0, 10, 10, 10, 0, 0}, 0, 1.0, 0.0}, // plateau: the first, no fraction
  };
  for (const Case& c : cases) {
    double offset = -1, score = -1;
    ASSERT_EQ(cf_RunCorrelate_U8(c.t.data(), static_cast<int>(c.t.size()), c.s.data(), static_cast<int>(c.s.size()),
                                 c.margin, &offset, &score),
              0);
    EXPECT_DOUBLE_EQ(offset, c.offset);
    if (c.score > 0) {
      EXPECT_DOUBLE_EQ(score, c.score);
    } else if (c.margin > 0) {
      EXPECT_EQ(score, 0.0);
    }
  }
}

TEST(Correlate, ImageFrontAndFailures) {
  uint8_t a[2][8] = {{0, 0, 9, 50, 9, 0, 0, 0}, {0}}, b[3][10] = {{0, 0, 0, 0, 9, 50, 9, 0, 0, 0}};
  cimg_imageConst ia, ib, unbound;
  cimg_imageConst_constructWrap(&ia, &a[0][0], 5, 2, 8);  // template 0 0 9 50 9
  cimg_imageConst_constructWrap(&ib, &b[0][0], 10, 3, 10);
  cimg_imageConst_constructUnbound(&unbound);
  double offset = -1, score = -1;
  ASSERT_EQ(cidut_ip_correlate8(&ia, &ib, &offset, &score), 0);
  EXPECT_NEAR(offset, 2.0, 0.01);
  EXPECT_DOUBLE_EQ(score, 1.0);
  EXPECT_EQ(cidut_ip_correlate8(&ia, &unbound, &offset, &score), cidut_errImageUnbound);
  EXPECT_EQ(offset, 0.0);
  cstd_rect32 noRows{0, 0, 10, 0};
  cimg_imageConst_window(&ib, &noRows);
  offset = score = -1;
  EXPECT_EQ(cidut_ip_correlate8(&ia, &ib, &offset, &score), cidut_errOutOfRange);
  EXPECT_EQ(std::tuple(offset, score), std::tuple(0.0, 0.0));

  // Argument rules: nothing written; the best-shift fronts leave their outputs at 0.
  const uint8_t t[4] = {1, 2, 3, 4}, s[6] = {1, 2, 3, 4, 5, 6};
  struct Bad {
    const uint8_t* t;
    int T;
    const uint8_t* s;
    int S, margin;
    csys_status expected;
  };
  for (const Bad& bad : {Bad{nullptr, 4, s, 6, 0, cidut_errNullArgument}, Bad{t, 4, nullptr, 6, 0, cidut_errNullArgument},
                         Bad{t, 0, s, 6, 0, cidut_errOutOfRange}, Bad{t, 4, s, 6, -1, cidut_errOutOfRange},
                         Bad{t, 4, s, 6, 4, cidut_errOutOfRange}, Bad{t, 4, s, 3, 0, cidut_errOutOfRange}}) {
    double scores[16];
    std::fill(std::begin(scores), std::end(scores), -7.0);
    EXPECT_EQ(cf_correlate1D_U8(bad.t, bad.T, bad.s, bad.S, bad.margin, scores), bad.expected);
    EXPECT_EQ(scores[0], -7.0);
    offset = score = -1;
    const csys_status run = cf_RunCorrelate_U8(bad.t, bad.T, bad.s, bad.S, bad.margin, &offset, &score);
    EXPECT_EQ(run, bad.S < bad.T ? 0 : bad.expected);  // a signal shorter than the template is no error
    EXPECT_EQ(std::tuple(offset, score), std::tuple(0.0, 0.0));
  }
  EXPECT_EQ(cf_correlate1D_U8(t, 4, s, 6, 0, nullptr), cidut_errNullArgument);

  // A stop request reaches the 32-bit variant's caller.
  const uint32_t t32[3] = {1, 2, 3}, s32[5] = {1, 2, 3, 4, 5};
  csys_attention_setCallback([](void*) { return csys_errAttention; }, nullptr);
  EXPECT_EQ(cidut_RunCorrelate_UInt32(t32, 3, s32, 5, 0, &offset, &score), csys_errAttention);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(score, 0.0);
}

}  // namespace
