// Edge location on worked profiles, and the caliper across rendered steps at known positions
// (area-sampled, optionally blurred) at any angle: every step found once, where it is.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ci_id/caliper.h"
#include "support/assert_recorder.hpp"

TEST(LineEdgeLoc, WorkedProfiles) {
  struct Row {
    std::vector<uint8_t> profile;
    int32_t threshold, adaptive;
    bool startAligned;
    double spacing;
    std::vector<int32_t> values, positions;
  };
  const std::vector<Row> rows = {
      {{0, 0, 0, 0, 100, 100, 100, 100}, 50, 0, false, 1.0, {100}, {1024}},
      {{100, 100, 100, 100, 0, 0, 0, 0}, 50, 0, false, 1.0, {-100}, {1024}},
      {{0, 0, 0, 0, 100, 100, 100, 100}, 50, 1, false, 1.0, {100}, {1024}},
      {{0, 0, 0, 100}, 50, 0, false, 1.0, {}, {}},                      // too short
      {{90, 90, 90, 90, 90, 90, 90}, 5, 1, false, 1.0, {}, {}},            // flat
      {{0, 0, 0, 0, 100, 100, 100, 100}, 101, 0, false, 1.0, {}, {}},      // below the threshold
      // Two rising steps 1.5 pixels apart merge into the stronger with the adaptive flag...
      {{0, 0, 0, 60, 60, 60, 160, 160, 160, 160}, 20, 1, false, 0.5, {100}, {768}},
      // ...and stay two without it.
      {{0, 0, 0, 60, 60, 60, 160, 160, 160, 160}, 20, 0, false, 0.5, {60, 100}, {384, 768}},
      // Start-aligned: central differences, walked from the far end.
      {{0, 0, 0, 0, 100, 100, 100, 100}, 50, 0, true, 1.0, {100}, {896}},
      {{0, 0, 100, 100, 100, 0, 0, 0}, 50, 0, true, 1.0, {-100, 100}, {1152, 384}},
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    SCOPED_TRACE(r);
    const Row& row = rows[r];
    int32_t values[4] = {9, 9, 9, 9}, positions[4] = {9, 9, 9, 9}, count = -1;
    const auto fn = row.startAligned ? cidut_lineEdgeLoc2D : cidut_lineEdgeLoc;
    ASSERT_EQ(fn(row.profile.data(), static_cast<int32_t>(row.profile.size()), 4, row.threshold, row.adaptive, row.spacing,
                 values, positions, &count),
              0);
    EXPECT_EQ(std::vector<int32_t>(values, values + count), row.values);
    EXPECT_EQ(std::vector<int32_t>(positions, positions + count), row.positions);
  }
}

TEST(CaliperLite, FindsRenderedStepsWhereTheyAre) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0, 1);
  const int w = 120, h = 120;
  double worst = 0;
  for (int trial = 0; trial < 150; ++trial) {
    SCOPED_TRACE(trial);
    // Bands perpendicular to the direction a, crossing the line at known distances t.
    const double a = u(rng) * 2 * M_PI, ca = std::cos(a), sa = std::sin(a);
    const cmath_vect p0{60 - 45 * ca, 60 - 45 * sa}, p1{60 + 45 * ca, 60 + 45 * sa};
    std::vector<double> steps;
    for (double t = 8 + 6 * u(rng); t < 84; t += 6 + 8 * u(rng)) steps.push_back(t);
    auto level = [&](double t) {  // grey along the line's axis: dark and light bands
      int k = 0;
      while (k < static_cast<int>(steps.size()) && t >= steps[k]) ++k;
      return k % 2 ? 200.0 : 50.0;
    };
    std::vector<uint8_t> px(w * h);
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        double g = 0;  // 4x4 supersampling
        for (int i = 0; i < 16; ++i) {
          const double x = c + (i % 4 + 0.5) / 4, y = r + (i / 4 + 0.5) / 4;
          g += level((x - p0.x) * ca + (y - p0.y) * sa) / 16;
        }
        px[r * w + c] = static_cast<uint8_t>(g + 0.5);
      }
    const cimg_windowConst win{w, h, 0, 0, w, px.data()};
    int32_t values[32], positions[32], count = 0;
    ASSERT_EQ(cidut_caliperLite(&win, &p0, &p1, 32, 60, trial % 2, values, positions, &count), 0);
    ASSERT_EQ(count, static_cast<int32_t>(steps.size()));
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(values[i] > 0, i % 2 == 0) << "polarity of edge " << i;
      const double err = std::fabs(positions[i] / 256.0 - steps[i]);
      worst = std::max(worst, err);
      EXPECT_LT(err, 0.25) << "edge " << i;
    }
  }
  RecordProperty("worstError", std::to_string(worst));
}

TEST(CaliperLite, Refusals) {
  std::vector<uint8_t> px(100, 128);
  const cimg_windowConst win{10, 10, 0, 0, 10, px.data()};
  int32_t values[2] = {5, 5}, positions[2], count = 3;
  const cmath_vect outside0{-30, -30}, outside1{-20, -25}, a{3, 3}, b{3.2, 3};
  EXPECT_EQ(cidut_caliperLite(&win, &outside0, &outside1, 2, 10, 0, values, positions, &count), cidut_errNoSamples);
  EXPECT_EQ(count, 0);
  AssertRecorder recorder;
  LiveBlocks blocks;
  EXPECT_EQ(cidut_caliperLite(&win, &a, &b, 2, 10, 0, values, positions, &count), csys_errAssertion);
  {
    FailAllocation fail(1);
    const cmath_vect c{9, 5};
    EXPECT_EQ(cidut_caliperLite(&win, &a, &c, 2, 10, 0, values, positions, &count), csys_errNoMemory);
  }
  EXPECT_EQ(blocks.leaked(), 0);
}
