// Window histograms, percentile tables and the within-group-variance threshold against direct
// computations on random windows; window fill, copy and the overlap check.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/cip_histogram.h"
#include "base/cip_pel.h"
#include "support/assert_recorder.hpp"
#include "scenes/scene.hpp"

namespace {

// Sum of squared deviations of a class, from its samples' values (two passes).
double classSpread(const std::vector<int>& values) {
  if (values.empty()) return 0;
  double mean = 0;
  for (int v : values) mean += v;
  mean /= static_cast<double>(values.size());
  double s = 0;
  for (int v : values) s += (v - mean) * (v - mean);
  return s;
}

}  // namespace

TEST(CipHistogram, WindowCountsAndPercentilesMatchSortedPixels) {
  scene::Random rng(5);
  // Widths around the four-pixel groups, a 32-wide block and windows offset into the buffer.
  const int widths[] = {1, 3, 4, 7, 31, 32, 33, 61};
  for (int w : widths) {
    const int h = 1 + static_cast<int>(rng.bits() % 9), stride = w + 5;
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * (h + 2), 0);
    const int spread = rng.uniformInt(1, 255), base = rng.uniformInt(0, 255 - spread);
    for (auto& p : pixels) p = static_cast<uint8_t>(base + rng.uniformInt(0, spread));
    cimg_imageConst img;
    ASSERT_EQ(cimg_imageConst_constructWrap(&img, pixels.data(), stride, h + 2, stride), 0);
    const cstd_rect32 win{2, 1, w, h};
    ASSERT_EQ(cimg_imageConst_window(&img, &win), 0);

    uint32_t hist[256];
    std::fill(hist, hist + 256, 7u);  // cleared by the call
    ASSERT_EQ(cip_pelHistogram8(&img, hist), 0);
    std::vector<int> sorted;
    uint32_t direct[256] = {};
    for (int y = 1; y <= h; ++y)
      for (int x = 2; x < 2 + w; ++x) {
        const uint8_t v = pixels[static_cast<size_t>(y) * stride + x];
        ++direct[v];
        sorted.push_back(v);
      }
    EXPECT_TRUE(std::equal(hist, hist + 256, direct)) << "width " << w;

    // The j-th percentile is the order statistic at index floor(j * N / 100).
    std::sort(sorted.begin(), sorted.end());
    int32_t table[101];
    ASSERT_EQ(cip_pelHistogramStat_invCum(hist, 256, table), 0);
    const size_t n = sorted.size();
    for (size_t j = 0; j < 100; ++j) EXPECT_EQ(table[j], sorted[j * n / 100]) << "width " << w << " j " << j;
    EXPECT_EQ(table[100], sorted.back());
    cimg_imageConst_destruct(&img);
  }
  uint32_t empty[256] = {};
  int32_t table[101];
  std::fill(table, table + 101, 9);
  ASSERT_EQ(cip_pelHistogramStat_invCum(empty, 256, table), 0);
  EXPECT_TRUE(std::all_of(table, table + 101, [](int32_t v) { return v == 0; }));
}

TEST(CipHistogram, WgvThresholdMinimisesWeightedClassSpread) {
  scene::Random rng(11);
  cip_threshParams params;
  ASSERT_EQ(cip_threshParams_init(&params), 0);
  for (int trial = 0; trial < 60; ++trial) {
    // Two or three clusters of random width and weight, on a 64-bin histogram.
    std::vector<uint32_t> hist(64, 0);
    std::vector<int> samples;
    const int clusters = 2 + trial % 2;
    for (int c = 0; c < clusters; ++c) {
      const int centre = rng.uniformInt(0, 63), count = rng.uniformInt(1, 40);
      for (int i = 0; i < count; ++i) {
        const int v = std::clamp(centre + rng.uniformInt(-4, 4), 0, 63);
        ++hist[v];
        samples.push_back(v);
      }
    }
    params.darkWeight = trial < 30 ? 1.0 : rng.uniform(0.2, 3.0);
    params.lightWeight = trial < 30 ? 1.0 : rng.uniform(0.2, 3.0);
    const int lo = rng.uniformInt(1, 20), hi = rng.uniformInt(40, 63);
    int32_t t = -1;
    ASSERT_EQ(cip_threshComputeWGVThresholdFromHistogram(hist.data(), 63, lo, hi, &params, &t), 0);
    double best = 0;
    int bestT = -1;
    for (int cand = lo; cand <= hi; ++cand) {
      std::vector<int> dark, light;
      for (int v : samples) (v < cand ? dark : light).push_back(v);
      if (dark.empty() || light.empty()) continue;
      const double f = params.darkWeight * classSpread(dark) + params.lightWeight * classSpread(light);
      if (bestT < 0 || f < best - 1e-9 * (1 + best)) {
        best = f;
        bestT = cand;
      }
    }
    if (bestT < 0) {
      const int first = static_cast<int>(std::find_if(hist.begin(), hist.end(), [](uint32_t c) { return c; }) - hist.begin());
      bestT = std::clamp(first, lo, hi);
    }
    EXPECT_EQ(t, bestT) << "trial " << trial;
  }
  // Empty histograms take the default, a single bin is its own threshold, bad ranges fail.
  std::vector<uint32_t> hist(256, 0);
  int32_t t = -1;
  ASSERT_EQ(cip_threshComputeWGVThresholdFromHistogram(hist.data(), 255, 1, 255, &params, &t), 0);
  EXPECT_EQ(t, 128);
  hist[0] = 5;
  ASSERT_EQ(cip_threshComputeWGVThresholdFromHistogram(hist.data(), 255, 1, 255, &params, &t), 0);
  EXPECT_EQ(t, 1);
  t = -1;
  EXPECT_EQ(cip_threshComputeWGVThresholdFromHistogram(hist.data(), 255, 9, 8, &params, &t), csys_errBadArgument);
  EXPECT_EQ(cip_threshComputeWGVThresholdFromHistogram(hist.data(), 255, 0, 8, &params, &t), csys_errBadArgument);
  EXPECT_EQ(t, -1);
}

TEST(CipPel, FillCopyOverlapAndUnboundImages) {
  cimg_image a, unbound;
  ASSERT_EQ(cimg_image_construct(&a, 12, 6), 0);
  ASSERT_EQ(cimg_image_constructUnbound(&unbound), 0);
  const cstd_rect32 left{0, 0, 5, 6}, right{6, 0, 5, 6}, wide{0, 0, 7, 6};
  cimg_image l, r;
  cimg_image_constructCopy(&l, &a);
  cimg_image_constructCopy(&r, &a);
  cimg_image_window(&l, &left);
  cimg_image_window(&r, &right);
  ASSERT_EQ(cip_pelSet8(&a, 3), 0);
  ASSERT_EQ(cip_pelSet8(&l, 9), 0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(a.window.pixels[y * 12 + x], x < 5 ? 9 : 3);
  cimg_imageConst lc;
  cimg_imageConst_constructFromImage(&lc, &l);
  ASSERT_EQ(cip_pelCopy8(&lc, &r), 0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(a.window.pixels[y * 12 + x], (x < 5 || (x >= 6 && x < 11)) ? 9 : 3);
  // Column windows of one buffer span overlapping byte ranges; disjoint buffers do not.
  EXPECT_EQ(cip_pelfunc_checkMemoryOverlap(&lc, &r), cip_errMemoryOverlap);
  cimg_image other;
  cimg_image_construct(&other, 5, 6);
  EXPECT_EQ(cip_pelfunc_checkMemoryOverlap(&lc, &other), 0);
  EXPECT_EQ(cip_pelfunc_checkMemoryOverlap(&lc, &unbound), 0);
  cimg_image_assign(&r, &a);
  ASSERT_EQ(cimg_image_window(&r, &wide), 0);
  EXPECT_EQ(cip_pelCopy8(&lc, &r), csys_errBadArgument);
  EXPECT_EQ(cip_pelSet8(&unbound, 1), csys_errImageUnbound);
  cimg_imageConst uc;
  cimg_imageConst_constructUnbound(&uc);
  uint32_t hist[256] = {1};
  EXPECT_EQ(cip_pelHistogram8(&uc, hist), csys_errImageUnbound);
  EXPECT_EQ(hist[0], 1u);
  for (auto* img : {&a, &unbound, &l, &r, &other}) cimg_image_destruct(img);
  cimg_imageConst_destruct(&lc);
  cimg_imageConst_destruct(&uc);
}
