// Gradient edge detection: sub-pixel positions on analytic step edges, magnitude and angle
// against OpenCV's Sobel on a photo, hysteresis against a flood fill, chains, the strip
// fallback, the peak images, the true-peak operator's two paths, and refusals of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "base/cip_pel.h"
#include "ci_id/edge.h"
#include "support/assert_recorder.hpp"
#include "support/owned_image.hpp"
#include "support/photo_and_scenes.hpp"
#include "scenes/scene.hpp"

namespace {

// A straight step from 60 to 180 through (cx, cy), gradient direction theta, blurred by sigma,
// with Gaussian noise; pixel centres at integer coordinates.
scene::GreyImage stepEdge(int size, double cx, double cy, double theta, double sigma, double noise, uint32_t seed) {
  scene::GreyImage img(size, size);
  scene::Random rng(seed);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double d = (x - cx) * std::cos(theta) + (y - cy) * std::sin(theta);
      const double v = 60 + 60 * std::erfc(-d / (sigma * std::sqrt(2.0))) + rng.gaussian(0, noise);
      img.at(x, y) = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
  return img;
}

struct Points {
  csEdgeList* list = nullptr;
  ~Points() { csEdgeListDelete(&list); }
  uint32_t size() const {
    uint32_t n = 0;
    if (list) csEdgeListLen(list, &n);
    return n;
  }
  const csEdgePoint& operator[](uint32_t i) const { return csEdgeListPoints(list)[i]; }
};

// The window of an image as rows of bytes.
std::vector<uint8_t> bytes(const cimg_image& im) {
  std::vector<uint8_t> out;
  for (int y = 0; y < im.window.height; ++y)
    out.insert(out.end(), im.window.pixels + y * im.window.stride, im.window.pixels + y * im.window.stride + im.window.width);
  return out;
}

// The cells of a w x h grid 8-connected to a seed through cells that pass (seeds pass too).
template <class Seed, class Pass>
std::vector<uint8_t> flood8(int w, int h, Seed seed, Pass pass) {
  std::vector<uint8_t> reached(static_cast<size_t>(w) * h, 0);
  std::vector<int> todo;
  for (int i = 0; i < w * h; ++i)
    if (seed(i)) {
      reached[i] = 1;
      todo.push_back(i);
    }
  while (!todo.empty()) {
    const int i = todo.back();
    todo.pop_back();
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int u = i % w + dx, v = i / w + dy;
        if (u >= 0 && v >= 0 && u < w && v < h && !reached[v * w + u] && pass(v * w + u)) reached[v * w + u] = 1, todo.push_back(v * w + u);
      }
  }
  return reached;
}

// The sample photo and two rendered scenes.
std::vector<scene::GreyImage> realImages() { return photoAndScenes({scene::Category::noisy, scene::Category::blurred}, 4); }

}  // namespace

TEST(Edge, SubPixelPositionsOfStepEdges) {
  std::printf("blur noise  median    p90  (px, edge points within 2.5 px of 16 edges)\n");
  for (double sigma : {0.5, 1.0, 2.0})
    for (double noise : {0.0, 2.0, 5.0, 8.0}) {
      std::vector<double> errors;
      for (uint32_t seed = 1; seed <= 16; ++seed) {
        const double theta = 0.39 * seed, cx = 20.3 + 0.17 * seed, cy = 19.8 + 0.29 * seed;
        const scene::GreyImage img = stepEdge(40, cx, cy, theta, sigma, noise, seed);
        scene::ImageView view(img);
        const cip_edgeParams params{1.0, 8.0 + noise, 0.0};
        Points pts;
        ASSERT_EQ(cip_edge_detectEdges(view.get(), &params, &pts.list), 0);
        for (uint32_t i = 0; i < pts.size(); ++i) {
          const csEdgePoint& p = pts[i];
          const double d = (p.x - cx) * std::cos(theta) + (p.y - cy) * std::sin(theta);
          if (std::fabs(d) < 2.5 && std::min({p.column, p.row, 39 - p.column, 39 - p.row}) >= 4) errors.push_back(std::fabs(d));
        }
      }
      ASSERT_GT(errors.size(), 16u * 30);
      std::sort(errors.begin(), errors.end());
      const double median = errors[errors.size() / 2], p90 = errors[errors.size() * 9 / 10];
      std::printf("%4.1f %5.1f  %.4f  %.4f\n", sigma, noise, median, p90);
      EXPECT_LE(noise == 0 ? p90 : 0, 0.05) << sigma;
      EXPECT_LE(noise == 5 ? median : 0, 0.15) << sigma;
    }
}

TEST(Edge, MagnitudeAndAngleMatchOpenCvSobel) {
  for (const scene::GreyImage& img : realImages()) {
    scene::ImageView view(img);
    OwnedImage mag, ang;
    cip_edgeParams params;
    cip_edgeParams_init(&params);
    ASSERT_EQ(cip_edge_detectMagAng(view.get(), &params, &mag, &ang), 0);
    ASSERT_EQ(mag.window.width, img.width - 2);
    EXPECT_EQ(mag.window.x0, 1);
    cv::Mat src(img.height, img.width, CV_8U, const_cast<uint8_t*>(img.pixels.data())), gx, gy;
    cv::Sobel(src, gx, CV_32F, 1, 0, 3);
    cv::Sobel(src, gy, CV_32F, 0, 1, 3);
    int angleOff = 0;
    for (int y = 1; y < img.height - 1; ++y)
      for (int x = 1; x < img.width - 1; ++x) {
        const double a = gx.at<float>(y, x), b = gy.at<float>(y, x), m = std::hypot(a, b) / 4;
        const int got = mag.window.pixels[(y - 1) * mag.window.stride + x - 1];
        // Single against double precision may differ only right at an integer.
        const double slack = (m - std::floor(m) < 1e-3 || std::ceil(m) - m < 1e-3) ? 1 : 0;
        ASSERT_LE(std::fabs(got - std::min(255.0, std::floor(m))), slack) << x << "," << y;
        const int expect = static_cast<int>(std::lround(std::atan2(b, a) * 128 / M_PI)) & 255;
        const int diff = std::abs(ang.window.pixels[(y - 1) * ang.window.stride + x - 1] - expect);
        angleOff += m >= 1 && std::min(diff, 256 - diff) > 0;
      }
    EXPECT_EQ(angleOff, 0);
  }
}

TEST(Edge, HysteresisAgreesWithAFloodFill) {
  scene::Random rng(17);
  const uint8_t low = 60, high = 150;
  for (int trial = 0; trial < 24; ++trial) {
    const int w = rng.uniformInt(1, 40), h = rng.uniformInt(1, 30);
    // Sparse trials have no two pixels >= low side by side, so every run is one pixel and the
    // flood must reach exactly the 8-connected set; dense ones may only miss pixels of it.
    const bool sparse = trial % 2 == 0;
    scene::GreyImage img(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        img.at(x, y) = (sparse && x > 0 && img.at(x - 1, y) >= low) ? 10 : static_cast<uint8_t>(rng.uniformInt(0, 200));
    const std::vector<uint8_t> ref = flood8(w, h, [&](int i) { return img.pixels[i] >= high; }, [&](int i) { return img.pixels[i] >= low; });
    scene::ImageView view(img);
    OwnedImage out;
    uint32_t count = 0;
    ASSERT_EQ(cip_edge_hysteresisThreshold(view.get(), &out, low, high, &count, -1, 0, 255, 1), 0);
    const std::vector<uint8_t> got = bytes(out);
    ASSERT_EQ(got.size(), img.pixels.size());
    EXPECT_EQ(count, static_cast<uint32_t>(std::count(got.begin(), got.end(), 255)));
    for (size_t i = 0; i < got.size(); ++i) {
      const uint8_t v = img.pixels[i];
      ASSERT_TRUE(got[i] == 0 || got[i] == 255);
      if (sparse || v >= high) {
        ASSERT_EQ(got[i] == 255, ref[i] == 1) << trial << " at " << i;
      }
      ASSERT_TRUE(ref[i] || got[i] == 0);
    }
    // Without connecting: the three-level map, into the now bound destination.
    ASSERT_EQ(cip_edge_hysteresisThreshold(view.get(), &out, low, high, &count, -1, 0, 255, 0), 0);
    const std::vector<uint8_t> map = bytes(out);
    for (size_t i = 0; i < map.size(); ++i) {
      const uint8_t v = img.pixels[i];
      ASSERT_EQ(map[i], v < low ? 0 : (v < high ? 1 : 255));
    }
  }
}

TEST(Edge, DetectorHysteresisKeepsWhatConnectsToStrongPoints) {
  for (const scene::GreyImage& img : realImages()) {
    scene::ImageView view(img);
    auto detect = [&](float high, float low, Points& pts) {
      csEdgeParams params;
      csEdgeParamsDefault(&params);
      params.highThreshold = high;
      params.lowThreshold = low;
      ASSERT_EQ(csEdgeListNew(static_cast<uint32_t>(img.width * img.height), &pts.list), 0);
      csEdgeListInit(pts.list, 1, 0);
      ASSERT_EQ(csEdgeDetect(view.get(), nullptr, nullptr, pts.list, nullptr, &params), 0);
    };
    Points all, kept;
    detect(8, 0, all);
    detect(20, 8, kept);
    // Reference: flood from the points of magnitude >= 20 through 8-neighbouring points >= 8.
    std::vector<int> at(img.pixels.size(), -1);
    for (uint32_t i = 0; i < all.size(); ++i) at[all[i].row * img.width + all[i].column] = static_cast<int>(i);
    const std::vector<uint8_t> reached = flood8(img.width, img.height, [&](int i) { return at[i] >= 0 && all[static_cast<uint32_t>(at[i])].magnitude >= 20; },
                                                [&](int i) { return at[i] >= 0; });
    uint32_t k = 0;
    for (uint32_t i = 0; i < all.size(); ++i) {
      if (!reached[all[i].row * img.width + all[i].column]) continue;
      ASSERT_LT(k, kept.size());
      ASSERT_EQ(kept[k].column, all[i].column);
      ASSERT_EQ(kept[k++].row, all[i].row);
    }
    EXPECT_EQ(k, kept.size());
    EXPECT_LT(kept.size(), all.size());
  }
}

TEST(Edge, ChainsAndStripsOnRealImages) {
  for (const scene::GreyImage& img : realImages()) {
    scene::ImageView view(img);
    const cip_edgeParams params{1.0, 12.0, 0.0};
    Points pts, plain;
    csEdgeChains* chains = nullptr;
    ASSERT_EQ(cip_edge_detectEdgesChains(view.get(), &params, &pts.list, &chains), 0);
    ASSERT_EQ(cip_edge_detectEdges(view.get(), &params, &plain.list), 0);
    ASSERT_GT(pts.size(), 500u);
    ASSERT_EQ(plain.size(), pts.size());
    // Every point in exactly one chain, consecutive points 8-neighbours.
    std::vector<int> seen(pts.size(), 0);
    for (uint32_t c = 0; c < csEdgeChainsCount(chains); ++c)
      for (uint32_t k = 0; k < csEdgeChainLen(chains, c); ++k) {
        const uint32_t i = csEdgeChainPoint(chains, c, k);
        ASSERT_LT(i, pts.size());
        ++seen[i];
        if (k == 0) continue;
        const csEdgePoint &a = pts[csEdgeChainPoint(chains, c, k - 1)], &b = pts[i];
        ASSERT_LE(std::max(std::abs(a.column - b.column), std::abs(a.row - b.row)), 1);
      }
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
    csEdgeChainsDelete(&chains);
    // No list for the whole window (its record or its storage fails): 4 strips, the same
    // points. (Without sub-pixel fits, which near a seam see only their strip; the noisy scene
    // has points at about half its pixels, more than a strip list holds.)
    if (plain.size() > static_cast<uint32_t>(img.width * img.height / 8)) continue;
    const cip_edgeParams centres{1.0, 12.0, 1.0};
    for (int rows : {img.height, 12}) {  // 12 rows: the first strip is only 3 rows high
      scene::GreyImage part(img.width, rows);
      std::copy_n(img.pixels.begin(), part.pixels.size(), part.pixels.begin());
      scene::ImageView partView(part);
      Points whole;
      ASSERT_EQ(cip_edge_detectEdges(partView.get(), &centres, &whole.list), 0);
      for (uint64_t failing : {1u, 2u}) {
        Points strips;
        {
          FailAllocation fail(failing);
          ASSERT_EQ(cip_edge_detectEdges(partView.get(), &centres, &strips.list), 0) << rows;
        }
        ASSERT_EQ(strips.size(), whole.size());
        for (uint32_t i = 0; i < whole.size(); ++i) {
          ASSERT_EQ(strips[i].column, whole[i].column);
          ASSERT_EQ(strips[i].row, whole[i].row);
          ASSERT_EQ(strips[i].magnitude, whole[i].magnitude);
        }
      }
    }
  }
}

TEST(Edge, PeakImagesFromEdgelets) {
  const scene::GreyImage img = realImages()[0];
  scene::ImageView view(img);
  const uint8_t threshold = 12;
  Points pts;
  const cip_edgeParams params{1.0, threshold, 0.0};
  ASSERT_EQ(cip_edge_detectEdges(view.get(), &params, &pts.list), 0);
  OwnedImage single, xs, ys, xyPeak;
  ASSERT_EQ(cf_GetTrueEdgePeakFromEdgelets_noPadding(view.get(), &single, threshold), 0);
  ASSERT_EQ(cf_GetTrueEdgePeakXYFromEdgelets(view.get(), &xyPeak, &xs, &ys, threshold), 0);
  std::vector<uint8_t> one(img.pixels.size(), 0), two(one), xSign(one), ySign(one);
  auto sign = [&](float d, uint8_t m) {
    const int g = static_cast<int>(d * m);
    return static_cast<uint8_t>(g <= -threshold ? 192 : (g >= threshold ? 128 : 0));
  };
  for (uint32_t i = 0; i < pts.size(); ++i) {
    const csEdgePoint& p = pts[i];
    const size_t at = static_cast<size_t>(p.row) * img.width + p.column;
    one[at] = two[at] = two[at + 1] = p.magnitude;
    xSign[at] = sign(p.dx, p.magnitude);
    ySign[at] = sign(p.dy, p.magnitude);
  }
  EXPECT_TRUE(bytes(single) == one);
  EXPECT_TRUE(bytes(xyPeak) == two);
  EXPECT_TRUE(bytes(xs) == xSign);
  EXPECT_TRUE(bytes(ys) == ySign);
}

namespace {

int inhibitTruepeak(const char* name) { return std::string(name) == "cip_truepeak8"; }

std::vector<uint8_t> truepeak(const scene::GreyImage& img, uint8_t threshold, bool generic, uint32_t* count) {
  scene::ImageView view(img);
  OwnedImage out;
  cprt_isOptimizationInhibitedFP = generic ? &inhibitTruepeak : nullptr;
  EXPECT_EQ(cip_truepeak8(view.get(), &out, threshold, count), 0);
  cprt_isOptimizationInhibitedFP = nullptr;
  return bytes(out);
}

}  // namespace

TEST(Edge, TruePeakPathsAgree) {
  for (const scene::GreyImage& img : realImages()) {
    uint32_t fastCount = 0, genericCount = 0;
    const std::vector<uint8_t> fast = truepeak(img, 10, false, &fastCount), generic = truepeak(img, 10, true, &genericCount);
    ASSERT_EQ(fast.size(), static_cast<size_t>((img.width - 2) * (img.height - 2)));
    ASSERT_EQ(generic.size(), fast.size());
    EXPECT_EQ(fastCount, fast.size() - std::count(fast.begin(), fast.end(), 0));
    EXPECT_EQ(genericCount, generic.size() - std::count(generic.begin(), generic.end(), 0));
    size_t differ = 0;
    for (size_t i = 0; i < fast.size(); ++i) {
      if ((fast[i] != 0) != (generic[i] != 0)) {
        ++differ;
      } else if (fast[i]) {  // shift-and-add magnitudes: within 3 % (and 2 levels)
        ASSERT_LE(std::abs(fast[i] - generic[i]), std::max(2, fast[i] * 3 / 100));
      }
    }
    EXPECT_LE(differ, fastCount / 20);  // near-ties of neighbours and sector boundaries
  }
  // A vertical step: equal magnitudes on both sides, only the brighter column is a peak.
  scene::GreyImage step(12, 8, 40);
  for (int y = 0; y < 8; ++y)
    for (int x = 6; x < 12; ++x) step.at(x, y) = 200;
  for (bool generic : {false, true}) {
    uint32_t count = 0;
    const std::vector<uint8_t> peaks = truepeak(step, 5, generic, &count);
    ASSERT_EQ(count, 4u) << generic;  // rows 2..5 of the source
    for (int y = 1; y <= 4; ++y) EXPECT_NEAR(peaks[static_cast<size_t>(y * 10 + 5)], 160, 2) << generic;
  }
  uint32_t count = 1;
  truepeak(scene::GreyImage(20, 20, 77), 0, true, &count);
  EXPECT_EQ(count, 0u);
}

TEST(Edge, BadInputIsRefusedAndWritesNothing) {
  AssertRecorder asserts;
  LiveBlocks live;
  scene::GreyImage img(6, 5, 15);  // weak everywhere, one strong pixel
  img.at(0, 0) = 200;
  scene::ImageView view(img);
  cimg_imageConst none;
  cimg_imageConst_constructUnbound(&none);
  cimg_image dst, small, unbound, alias;
  cimg_image_construct(&dst, 6, 5);
  cimg_image_construct(&small, 5, 5);
  cimg_image_constructUnbound(&unbound);
  cimg_image_constructWrap(&alias, const_cast<uint8_t*>(img.pixels.data()), 6, 5, 6);
  cip_pelSet8(&dst, 7);
  cip_pelSet8(&small, 7);
  struct Case {
    const cimg_imageConst* src;
    cimg_image* dst;
    uint8_t low, high, background;
    int32_t maxStack;
    csys_status expect;
  } cases[] = {
      {&none, &dst, 10, 20, 0, -1, csys_errImageUnbound},      {view.get(), &dst, 30, 20, 0, -1, cidut_errBadArgument},
      {view.get(), &dst, 10, 20, 10, -1, cidut_errBadArgument}, {view.get(), &small, 10, 20, 0, -1, cidut_errBadArgument},
      {view.get(), &alias, 10, 20, 0, -1, cidut_errMemoryOverlapBase}, {view.get(), &dst, 10, 20, 0, 3, cidut_errNoMemory},
  };
  for (const Case& c : cases) {
    uint32_t count = 99;
    EXPECT_EQ(cip_edge_hysteresisThreshold(c.src, c.dst, c.low, c.high, &count, c.maxStack, c.background, 255, 1), c.expect);
    const std::vector<uint8_t> d = bytes(dst), sm = bytes(small);
    const auto seven = [](uint8_t v) { return v == 7; };
    EXPECT_TRUE(count == 99u && std::all_of(d.begin(), d.end(), seven) && std::all_of(sm.begin(), sm.end(), seven) && img.pixels[0] == 200)
        << c.expect;
  }
  uint32_t count = 0;  // a maximum stack that suffices reaches every weak pixel
  ASSERT_EQ(cip_edge_hysteresisThreshold(view.get(), &dst, 10, 20, &count, 30, 0, 255, 1), 0);
  EXPECT_EQ(count, 30u);
  // Unbound sources; windows too small for any gradient leave the outputs as they were.
  cip_edgeParams params;
  cip_edgeParams_init(&params);
  csEdgeList* list = nullptr;
  csEdgeChains* chains = nullptr;
  EXPECT_EQ(cip_edge_detectMagAng(&none, &params, &small, &unbound), csys_errImageUnbound);
  EXPECT_EQ(cip_edge_detectEdges(&none, &params, &list), csys_errImageUnbound);
  EXPECT_EQ(cip_edge_detectEdgesChains(&none, &params, &list, &chains), csys_errImageUnbound);
  EXPECT_EQ(cf_GetTrueEdgePeakFromEdgelets(&none, &unbound, 3), csys_errImageUnbound);
  EXPECT_EQ(cip_truepeak8(&none, &unbound, 3, &count), csys_errImageUnbound);
  const scene::GreyImage tiny(2, 9, 100);
  scene::ImageView tinyView(tiny);
  EXPECT_EQ(cip_edge_detectMagAng(tinyView.get(), &params, &small, &unbound), 0);
  EXPECT_EQ(cip_truepeak8(tinyView.get(), &unbound, 0, &count), 0);
  EXPECT_TRUE(list == nullptr && chains == nullptr && !cimg_image_isBound(&unbound) && small.window.pixels[0] == 7);
  // Too few rows for 4 strips when no whole-window list can be had: the caller's list stays.
  const scene::GreyImage flat(20, 7, 9);
  scene::ImageView flatView(flat);
  Points untouched;
  ASSERT_EQ(csEdgeListNew(5, &untouched.list), 0);
  csEdgeList* before = untouched.list;
  {
    FailAllocation fail(1);
    EXPECT_EQ(cip_edge_detectEdges(flatView.get(), &params, &untouched.list), cidut_errNoMemory);
  }
  EXPECT_EQ(untouched.list, before);
  csEdgeListDelete(&untouched.list);
  for (auto* i : {&dst, &small, &unbound, &alias}) cimg_image_destruct(i);
  EXPECT_EQ(live.leaked(), 0);
}
