// Histogram statistics and thresholds against direct computations on random histograms, a
// random image and rendered scenes; dark/light means and the sharpness of rendered symbols.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "ci_id/threshold.h"
#include "support/assert_recorder.hpp"
#include "scenes/scene.hpp"
#include "support/photo_and_scenes.hpp"

namespace {

// A random histogram: a few clusters of random spread and weight, some empty bins.
std::vector<uint32_t> randomHistogram(scene::Random& rng, int bins) {
  std::vector<uint32_t> h(static_cast<size_t>(bins), 0);
  const int clusters = rng.uniformInt(1, 3);
  for (int c = 0; c < clusters; ++c) {
    const int centre = rng.uniformInt(0, bins - 1), spread = rng.uniformInt(0, bins / 8), n = rng.uniformInt(1, 300);
    for (int i = 0; i < n; ++i) ++h[static_cast<size_t>(std::clamp(centre + rng.uniformInt(-spread, spread), 0, bins - 1))];
  }
  return h;
}

std::vector<int> samplesOf(const std::vector<uint32_t>& h) {
  std::vector<int> s;
  for (size_t b = 0; b < h.size(); ++b) s.insert(s.end(), h[b], static_cast<int>(b));
  return s;
}

}  // namespace

TEST(HistoStats, QueriesMatchDirectStatisticsOfTheSamples) {
  scene::Random rng(3);
  for (int trial = 0; trial < 40; ++trial) {
    const int bins = trial % 4 == 0 ? 7 : 256;
    std::vector<uint32_t> h = randomHistogram(rng, bins);
    const std::vector<int> s = samplesOf(h);  // sorted
    const double n = static_cast<double>(s.size());
    double mean = 0;
    for (int v : s) mean += v;
    mean /= n;
    double var = 0;
    for (int v : s) var += (v - mean) * (v - mean);
    var = s.size() > 1 ? var / (n - 1) : 0;
    const int mode = static_cast<int>(std::max_element(h.begin(), h.end()) - h.begin());

    cxVector<uint32_t> given(h.begin(), h.end());
    cxHistoStats stats;
    ASSERT_EQ(stats.init(given, trial % 2 == 1), 0);
    EXPECT_EQ(given.empty(), trial % 2 == 1);  // taken over: the caller gets the old (empty) contents
    // Percentiles first on odd trials, so the mode scan runs with and without the table.
    if (trial % 2) {
      EXPECT_EQ(stats.median(), s[s.size() / 2]);
    }
    EXPECT_NEAR(stats.mean(), mean, 1e-9);
    EXPECT_NEAR(stats.var(), var, 1e-7 * (1 + var));
    EXPECT_NEAR(stats.sDev(), std::sqrt(var), 1e-7 * (1 + var));
    for (int j = 0; j <= 100; j += 5) EXPECT_EQ(stats.inverseCum(j), j == 100 ? s.back() : s[static_cast<size_t>(j) * s.size() / 100]);
    // Percentiles beyond the ends are clamped.
    EXPECT_EQ(std::tuple(stats.mode(), size_t{stats.nSamp()}, stats.inverseCum(-4), stats.inverseCum(140), stats.histMin(), stats.max()),
              std::tuple(mode, s.size(), s.front(), s.back(), s.front(), s.back()));
  }
  // A re-init replaces every cached value.
  cxHistoStats stats;
  cxVector<uint32_t> a{0, 1, 0, 3};
  ASSERT_EQ(stats.init(a, false), 0);
  EXPECT_DOUBLE_EQ(stats.var(), 1.0);
  cxVector<uint32_t> b{0, 2, 0, 2};
  ASSERT_EQ(stats.init(b, false), 0);
  EXPECT_EQ(stats.mode(), 1);
  EXPECT_DOUBLE_EQ(stats.mean(), 2.0);
  cxHistoStats fresh;
  {
    FailAllocation fail(1);
    EXPECT_EQ(fresh.init(a, false), csys_errNoMemory);
  }
  EXPECT_FALSE(fresh.isValid());
  EXPECT_EQ(fresh.nSamp(), 0u);
}

TEST(Threshold, OtsuAndPercentileMatchBruteForce) {
  scene::Random rng(8);
  // Random histograms, and the images: the photo, rendered scenes of symbols and a random one.
  std::vector<scene::GreyImage> images = photoAndScenes({scene::Category::clean, scene::Category::noisy, scene::Category::lowContrast}, 5);
  images.emplace_back(37, 23);
  for (auto& p : images.back().pixels) p = static_cast<uint8_t>(rng.uniformInt(30, 220));
  std::vector<std::vector<uint32_t>> hists;
  for (int trial = 0; trial < 40; ++trial) hists.push_back(randomHistogram(rng, 256));
  for (const scene::GreyImage& img : images) {
    hists.emplace_back(256, 0);
    for (uint8_t p : img.pixels) ++hists.back()[p];
  }
  for (size_t trial = 0; trial < hists.size(); ++trial) {
    const std::vector<uint32_t>& h = hists[trial];
    // Brute force: the split t (dark = values < t) with the largest between-class variance.
    double n = 0, sum = 0, total = 0;
    int lo = 256, hi = -1;
    for (int b = 0; b < 256; ++b) {
      n += h[b];
      sum += b * double(h[b]);
      lo = h[b] && lo == 256 ? b : lo;
      hi = h[b] ? b : hi;
    }
    const double mean = sum / n;
    for (int b = 0; b < 256; ++b) total += h[b] * (b - mean) * (b - mean);
    double best = -1;
    int bestT = lo;
    for (int t = lo + 1; t <= hi; ++t) {
      double n0 = 0, m0 = 0;
      for (int b = 0; b < t; ++b) {
        n0 += h[b];
        m0 += b * double(h[b]);
      }
      const double n1 = n - n0, m1 = (sum - m0) / n1;
      if (n0 == 0 || n1 == 0) continue;
      m0 /= n0;
      const double between = n0 * (m0 - mean) * (m0 - mean) + n1 * (m1 - mean) * (m1 - mean);
      if (between > best * (1 + 1e-12)) {
        best = between;
        bestT = t;
      }
    }
    cid_thresholdResult r;
    ASSERT_EQ(cid_thresholdHist(h.data(), 256, &r), 0);
    EXPECT_EQ(r.isValid, 1);
    EXPECT_EQ(r.threshold, bestT) << "histogram " << trial;
    EXPECT_NEAR(r.quality, lo == hi ? 0.0 : best / total, 1e-9);
  }
  // Image thresholds: Otsu as of the image's histogram, the percentile against sorted pixels.
  for (size_t i = 0; i < images.size(); ++i) {
    scene::ImageView view(images[i]);
    std::vector<uint8_t> sorted = images[i].pixels;
    std::sort(sorted.begin(), sorted.end());
    for (float f : {0.0f, 0.1f, 0.5f, 0.93f, 1.0f, 1.5f}) {
      cid_thresholdResult r;
      ASSERT_EQ(cid_thresholdBasedOnPercentage(view.get(), f, &r), 0);
      const double need = std::ceil(static_cast<double>(static_cast<float>(sorted.size()) * f));
      const int expect = need > static_cast<double>(sorted.size()) ? 256 : (need < 1 ? 0 : sorted[static_cast<size_t>(need) - 1]);
      EXPECT_EQ(r.threshold, expect) << f;
    }
    cid_thresholdResult fromHist, fromImage;
    cid_thresholdHist(hists[40 + i].data(), 256, &fromHist);
    ASSERT_EQ(cid_threshold(view.get(), &fromImage), 0);
    EXPECT_EQ(fromImage.threshold, fromHist.threshold);
    EXPECT_EQ(fromImage.quality, fromHist.quality);
  }
}

TEST(Threshold, DarkLightMeansAndDeviations) {
  scene::Random rng(21);
  for (int trial = 0; trial < 30; ++trial) {
    std::vector<uint32_t> h = randomHistogram(rng, 256);
    const std::vector<int> s = samplesOf(h);
    const int d = rng.uniformInt(0, 255), l = rng.uniformInt(0, 255);
    std::vector<int> dark, light;
    for (int v : s) {
      if (v <= d) dark.push_back(v);
      if (v >= l) light.push_back(v);
    }
    auto stats = [](const std::vector<int>& c, double empty) {
      if (c.empty()) return std::pair<double, double>(empty, 0);
      double m = 0, q = 0;
      for (int v : c) m += v;
      m /= static_cast<double>(c.size());
      for (int v : c) q += (v - m) * (v - m);
      return std::pair<double, double>(m, std::sqrt(q / static_cast<double>(c.size())));
    };
    const auto ed = stats(dark, d / 2), el = stats(light, (l + 255) / 2);
    double dm, lm, dd, ld;
    ASSERT_EQ(cidut_getDarkLightMeanThreshold_(h.data(), 256, d, l, &dm, &lm, &dd, &ld), 0);
    EXPECT_NEAR(dm, ed.first, 1e-9);
    EXPECT_NEAR(lm, el.first, 1e-9);
    EXPECT_NEAR(dd, ed.second, 1e-9);
    EXPECT_NEAR(ld, el.second, 1e-9);
    // Percent limits: the same call with the limits at the samples' percentiles.
    const int pd = rng.uniformInt(0, 100), pl = rng.uniformInt(0, 100);
    const int dl = pd == 100 ? s.back() : s[static_cast<size_t>(pd) * s.size() / 100];
    const int ll = pl == 0 ? s.back() : s[static_cast<size_t>(100 - pl) * s.size() / 100];
    double dm2, lm2, dd2, ld2;
    ASSERT_EQ(cidut_getDarkLightMeanThreshold_(h.data(), 256, dl, ll, &dm, &lm, &dd, &ld), 0);
    ASSERT_EQ(cidut_getDarkLightMeanPercent_(h.data(), 256, pd, pl, &dm2, &lm2, &dd2, &ld2), 0);
    EXPECT_EQ(std::tuple(dm, lm, dd, ld), std::tuple(dm2, lm2, dd2, ld2));
  }
}

TEST(Threshold, SharpnessFallsAsRenderedSymbolsBlur) {
  const scene::DmSymbol symbol = scene::encodeDataMatrix("sharpness 0123", 0);
  for (int polarity = 0; polarity < 2; ++polarity) {
    double previous = 2;
    for (double blur : {0.0, 0.7, 1.2, 1.8, 2.6, 3.5}) {
      const scene::Placement p{.centre = {60, 60}, .moduleSize = 5, .angleDeg = 12,
                               .polarity = polarity ? scene::Polarity::lightOnDark : scene::Polarity::darkOnLight};
      const scene::Scene sc = scene::render({.width = 120, .height = 120, .symbols = {symbol}, .placements = {p}, .blurSigma = blur});
      scene::ImageView view(sc.image);
      double sharpness = -1;
      ASSERT_EQ(cidut_getImageSharpnessFromSymbolRegion_(view.get(), 0, &sharpness), 0);
      // Falling with the blur, within [0, 1], and high when sharp.
      EXPECT_TRUE(sharpness < previous && sharpness >= 0 && sharpness <= 1 && (blur > 0 || sharpness > 0.6)) << blur;
      previous = sharpness;
    }
  }
  // Uniform images, images of zeros with zeros ignored and tiny images score 0.
  for (auto [w, value, ignore] : {std::tuple{40, 90, 0}, std::tuple{40, 0, 1}, std::tuple{2, 90, 0}}) {
    scene::GreyImage img(w, w, static_cast<uint8_t>(value));
    if (w == 2) img.at(0, 0) = 250;
    scene::ImageView view(img);
    double sharpness = -1;
    ASSERT_EQ(cidut_getImageSharpnessFromSymbolRegion_(view.get(), ignore, &sharpness), 0);
    EXPECT_EQ(sharpness, 0) << w << " " << value;
  }
}

TEST(Threshold, BadInputIsRefusedAndWritesNothing) {
  AssertRecorder asserts;
  LiveBlocks live;
  uint32_t h[256] = {};
  cid_thresholdResult r{7, 0.5, 9};
  EXPECT_EQ(cid_thresholdHist(h, 256, &r), csys_errAssertion);  // no counts
  EXPECT_EQ(r.isValid, 0);
  h[5] = 1;
  EXPECT_EQ(cfPelHistogramSmall(nullptr, 4, 4, 4, h), csys_errAssertion);
  uint8_t px[4] = {1, 2, 3, 4};
  EXPECT_EQ(cfPelHistogramSmall(px, 0, 1, 4, h), csys_errAssertion);
  EXPECT_EQ(h[1], 0u);
  double dm = -1, lm = -1, dd = -1, ld = -1;
  EXPECT_EQ(cidut_getDarkLightMeanThreshold_(h, 256, 256, 3, &dm, &lm, &dd, &ld), csys_errAssertion);
  EXPECT_EQ(cidut_getDarkLightMeanPercent_(h, 256, 101, 3, &dm, &lm, &dd, &ld), csys_errAssertion);
  EXPECT_EQ(dm, -1);
  cimg_imageConst unbound, empty;
  cimg_imageConst_constructUnbound(&unbound);
  cimg_imageConst_constructWrap(&empty, px, 0, 0, 0);
  r = cid_thresholdResult{7, 0.5, 9};
  EXPECT_EQ(cid_threshold(&unbound, &r), csys_errImageUnbound);
  EXPECT_EQ(cid_threshold(&empty, &r), cidut_errBadArgument);
  EXPECT_EQ(cid_thresholdBasedOnPercentage(&empty, 0.5f, &r), cidut_errBadArgument);
  EXPECT_EQ(r.threshold, 9);
  double sharpness = -1;
  EXPECT_EQ(cidut_getImageSharpnessFromSymbolRegion_(&unbound, 0, &sharpness), csys_errImageUnbound);
  EXPECT_EQ(sharpness, -1);
  EXPECT_EQ(live.leaked(), 0);
}
