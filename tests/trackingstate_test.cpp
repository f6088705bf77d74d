// Tracking-state initialisers: every field written, covariance known only when both variances
// are, and mismatched scales or null pointers rejected without touching the state.
#include <gtest/gtest.h>

#include <cstring>

#include "ci_id/trackingstate.h"
#include "support/assert_recorder.hpp"

namespace {

template <class T>
T poisoned() {
  T t;
  std::memset(&t, 0x5A, sizeof t);
  return t;
}

void expectValue(const cidc_trackedValue& v, int32_t value, int32_t variance, int32_t precision) {
  EXPECT_TRUE(v.value == value && v.variance == variance && v.precision == precision)
      << v.value << " " << v.variance << " " << v.precision;
}

}  // namespace

TEST(TrackingState, PlainInitialisersOverwriteEveryField) {
  auto val = poisoned<cidc_trackStateConstantVal1D>();
  ASSERT_EQ(cidc_trackStateConstantVal1D_init(&val, 6), 0);
  expectValue(val.estimate, 0, -1, 6);
  EXPECT_EQ(val.ready, 0);

  auto rate = poisoned<cidc_trackStateConstantRate1D>();
  ASSERT_EQ(cidc_trackStateConstantRate1D_init(&rate, 12), 0);
  expectValue(rate.estimate, 0, -1, 12);
  expectValue(rate.rate, 0, -1, 12);
  EXPECT_EQ(rate.covariance, -1);
  EXPECT_EQ(rate.ready, 0);
}

TEST(TrackingState, ValueInitialisersCopyAndDeriveCovariance) {
  auto val = poisoned<cidc_trackStateConstantVal1D>();
  const cidc_trackedValue v{-1234, 9, 4};
  ASSERT_EQ(cidc_trackStateConstantVal1D_initVal(&val, &v, 1), 0);
  expectValue(val.estimate, -1234, 9, 4);
  EXPECT_EQ(val.ready, 1);

  struct Case {
    int32_t posVariance, rateVariance, covariance;
  };
  for (const Case c : {Case{4, -1, -1}, Case{-1, 4, -1}, Case{-1, -1, -1}, Case{0, 0, 0}, Case{7, 3, 0}}) {
    auto rate = poisoned<cidc_trackStateConstantRate1D>();
    const cidc_trackedValue pos{100, c.posVariance, 8}, r{-3, c.rateVariance, 8};
    ASSERT_EQ(cidc_trackStateConstantRate1D_initVal(&rate, &pos, &r, 5), 0);
    expectValue(rate.estimate, 100, c.posVariance, 8);
    expectValue(rate.rate, -3, c.rateVariance, 8);
    EXPECT_EQ(rate.covariance, c.covariance) << c.posVariance << " " << c.rateVariance;
    EXPECT_EQ(rate.ready, 5);
  }

  // The values may come from the state itself (re-initialising in place).
  auto rate = poisoned<cidc_trackStateConstantRate1D>();
  rate.estimate = {1, 2, 3};
  rate.rate = {4, 5, 3};
  ASSERT_EQ(cidc_trackStateConstantRate1D_initVal(&rate, &rate.rate, &rate.estimate, 1), 0);
  expectValue(rate.estimate, 4, 5, 3);
  expectValue(rate.rate, 1, 2, 3);
}

TEST(TrackingState, MismatchedPrecisionAndNullPointersAreAssertionFailures) {
  AssertRecorder recorder;
  auto rate = poisoned<cidc_trackStateConstantRate1D>();
  const auto before = rate;
  const cidc_trackedValue pos{1, 0, 8}, r{1, 0, 10};
  EXPECT_EQ(cidc_trackStateConstantRate1D_initVal(&rate, &pos, &r, 1), csys_errAssertion);
  EXPECT_EQ(std::memcmp(&rate, &before, sizeof rate), 0);
  EXPECT_EQ(recorder.count(), 1u);

  cidc_trackStateConstantVal1D val;
  const csys_status nulls[] = {cidc_trackStateConstantRate1D_initVal(&rate, nullptr, &r, 1),
                               cidc_trackStateConstantRate1D_initVal(&rate, &pos, nullptr, 1),
                               cidc_trackStateConstantRate1D_initVal(nullptr, &pos, &pos, 1),
                               cidc_trackStateConstantRate1D_init(nullptr, 8), cidc_trackStateConstantVal1D_init(nullptr, 8),
                               cidc_trackStateConstantVal1D_initVal(nullptr, &pos, 1),
                               cidc_trackStateConstantVal1D_initVal(&val, nullptr, 1)};
  for (const csys_status st : nulls) EXPECT_EQ(st, csys_errAssertion) << &st - nulls;
  EXPECT_EQ(recorder.count(), 8u);
}
