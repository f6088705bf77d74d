// Binarisation: every method on a rendered Data Matrix under a light gradient (module centres
// counted), the global Otsu method against OpenCV, the sliding mean against a direct window
// sum, the documented corner cases, bad input, and both division paths.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "ci_id/binarize.h"
#include "support/owned_image.hpp"
#include "support/photo_and_scenes.hpp"
#include "scenes/scene.hpp"

namespace {

cidut_binarizeParams defaults(int method) {
  cidut_binarizeParams p;
  cidut_binarizeParams_construct(&p);
  p.method = method;
  return p;
}

// The binarisation of g, which must succeed.
scene::GreyImage binarized(const scene::GreyImage& g, const cidut_binarizeParams& p) {
  scene::ImageView view(g);
  OwnedImage out;
  const csys_status status = cidut_binarizeImage(&out, nullptr, nullptr, nullptr, view.get(), &p);
  EXPECT_EQ(status, 0) << "method " << p.method;
  scene::GreyImage result(g.width, g.height);
  if (status == 0)
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) result.at(x, y) = out.window.pixels[y * out.window.stride + x];
  return result;
}

TEST(Binarize, ModulesUnderUnevenLight) {
  // A 26 x 26 symbol at 7 px a module, levels 60 and 170, then light falling by 120 levels from
  // the right edge to the left (clamped to 0 .. 255).
  scene::Scene sc = scene::render({.width = 400, .height = 300, .background = 170, .darkLevel = 60, .lightLevel = 170,
                                   .symbols = {scene::encodeDataMatrix("uneven light across the whole symbol", 9)},
                                   .placements = {{.centre = {200, 150}, .moduleSize = 7, .angleDeg = 12}},
                                   .blurSigma = 1.0, .noiseSigma = 3});
  for (int y = 0; y < sc.image.height; ++y)
    for (int x = 0; x < sc.image.width; ++x)
      sc.image.at(x, y) = static_cast<uint8_t>(std::clamp(sc.image.at(x, y) + 120.0 * (x + 0.5) / 400 - 60, 0.0, 255.0));
  const scene::SymbolTruth& t = sc.symbols[0];
  struct Case {
    int method;
    int maxWrong;  // of the 676 module centres
    int windowSize;
  } cases[] = {{0, 20, 15}, {1, 80, 15}, {2, 0, 15}, {3, 0, 15}, {4, 0, 15}, {5, 8, 15}, {5, 0, 31}};
  for (const Case& c : cases) {
    cidut_binarizeParams p = defaults(c.method);
    p.windowSize = c.windowSize;  // a window of two modules misses the middle of dark patches
    cmath_shapeAffineRectPoints pts{{t.lCorner.x, t.lCorner.y}, {t.rowEnd.x, t.rowEnd.y}, {t.columnEnd.x, t.columnEnd.y}};
    if (c.method == 2 || c.method == 3) cmath_shapeAffineRect_initPoints(&p.region, &pts);
    const scene::GreyImage out = binarized(sc.image, p);
    int wrong = 0;
    for (int r = 0; r < t.rows; ++r)
      for (int col = 0; col < t.cols; ++col) {
        const scene::Point centre = t.imageFromModule.map(col + 0.5, r + 0.5);
        const uint8_t v = out.at(static_cast<int>(centre.x), static_cast<int>(centre.y));
        wrong += (v == 0) != t.symbol.isDark(r, col);
      }
    EXPECT_LE(wrong, c.maxWrong) << "method " << c.method << " window " << c.windowSize;
  }
}

TEST(Binarize, OtsuMatchesOpenCv) {
  std::vector<scene::GreyImage> images = photoAndScenes({scene::Category::lowContrast}, 3);
  images.push_back(scene::generate(scene::Category::textOnly, 5).image);
  for (const scene::GreyImage& g : images) {
    const scene::GreyImage ours = binarized(g, defaults(1));
    cv::Mat theirs;
    cv::threshold(cv::Mat(g.height, g.width, CV_8U, const_cast<uint8_t*>(g.pixels.data())), theirs, 0, 255,
                  cv::THRESH_BINARY | cv::THRESH_OTSU);
    EXPECT_EQ(cv::countNonZero(cv::Mat(g.height, g.width, CV_8U, const_cast<uint8_t*>(ours.pixels.data())) != theirs), 0);
  }
}

TEST(Binarize, SlidingMeanMatchesDirectWindowSums) {
  std::mt19937 rng(3);
  for (auto [W, H, N] : {std::tuple{40, 30, 15}, {15, 15, 15}, {23, 17, 4}, {9, 31, 1}}) {
    scene::GreyImage g(W, H);
    for (auto& v : g.pixels) v = static_cast<uint8_t>(rng() % 256);
    cidut_binarizeParams p = defaults(5);
    p.windowSize = N;
    p.offset = 7;
    const scene::GreyImage out = binarized(g, p);
    const int half = N / 2;
    int wrong = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        // The nearest window: its top-left corner clamped to the valid range.
        const int wx = std::clamp(x - half, 0, W - N), wy = std::clamp(y - half, 0, H - N);
        int sum = 0;
        for (int j = 0; j < N; ++j)
          for (int i = 0; i < N; ++i) sum += g.at(wx + i, wy + j);
        wrong += out.at(x, y) != (g.at(x, y) * N * N < sum - 7 * N * N ? 0 : 255);
      }
    EXPECT_EQ(wrong, 0) << W << "x" << H << " N=" << N;
  }
}

TEST(Binarize, CornerCases) {
  scene::GreyImage flat(60, 40, 90);
  struct Case {
    int method;
    uint8_t expected;  // every pixel
  } cases[] = {{0, 255}, {3, 0}, {2, 255}, {1, 255}};
  for (const Case& c : cases) {
    const scene::GreyImage out = binarized(flat, defaults(c.method));
    for (uint8_t v : out.pixels) ASSERT_EQ(v, c.expected) << "method " << c.method;
  }
  // Method 3: one dark pixel sets every tile's threshold; tiles of 3 x 4 (base 2 x 3, +1).
  scene::GreyImage g(40, 30, 100);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) g.at(x, y) = static_cast<uint8_t>(100 + (x * 7 + y * 3) % 50);
  g.at(33, 21) = 10;
  const scene::GreyImage out = binarized(g, defaults(3));
  for (int ty = 0; ty * 4 < 30; ++ty)
    for (int tx = 0; tx * 3 < 40; ++tx) {
      int hi = 0;
      for (int y = ty * 4; y < std::min(30, ty * 4 + 4); ++y)
        for (int x = tx * 3; x < std::min(40, tx * 3 + 3); ++x) hi = std::max(hi, int{g.at(x, y)});
      for (int y = ty * 4; y < std::min(30, ty * 4 + 4); ++y)
        for (int x = tx * 3; x < std::min(40, tx * 3 + 3); ++x)
          ASSERT_EQ(out.at(x, y), g.at(x, y) > (hi + 10) / 2 ? 255 : 0) << x << "," << y;
    }
}

TEST(Binarize, BadInputWritesNothing) {
  scene::GreyImage g(30, 20, 80), empty(0, 20);
  scene::ImageView view(g), emptyView(empty);
  cimg_image out, aliased, other;
  cimg_image_construct(&out, 30, 20);
  cimg_image_constructWrap(&aliased, g.pixels.data(), 30, 20, 30);
  cimg_image_construct(&other, 31, 20);
  cimg_image_setWindowOffset(&out, 3, 4);
  auto run = [&](cimg_image* dst, const scene::ImageView& src, auto edit) {
    cidut_binarizeParams p = defaults(3);
    edit(p);
    return cidut_binarizeImage(dst, nullptr, nullptr, nullptr, src.get(), &p);
  };
  using P = cidut_binarizeParams&;
  struct Case {
    const char* what;
    csys_status status;
    csys_status expected;
  } cases[] = {
      {"empty source", run(&out, emptyView, [](P) {}), cidut_errBadArgument},
      {"overlap", run(&aliased, view, [](P) {}), cidut_errBuffersOverlap},
      {"size", run(&other, view, [](P) {}), cidut_errBadArgument},
      {"more tiles than pixels", run(&out, view, [](P p) { p.tilesX = 31; }), cidut_errBadArgument},
      {"no tiles", run(&out, view, [](P p) { p.tilesY = 0; }), cidut_errBadArgument},
      {"region below a tile", run(&out, view, [](P p) { p.region.px = {5, 0}, p.region.py = {0, 5}; }),
       cidut_errBadArgument},
      {"window over size", run(&out, view, [](P p) { p.method = 5, p.windowSize = 21; }), cidut_errBadArgument},
      {"reference window", run(&out, view, [](P p) { p.regionMode = 0, p.window = {25, 0, 10, 5}; }),
       cidut_errBadArgument},
      {"method", run(&out, view, [](P p) { p.method = 6; }), cidut_errBadArgument},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  for (int i = 0; i < 600; ++i) ASSERT_EQ(out.window.pixels[i], 0);
  EXPECT_EQ(out.window.x0, 3);
  for (uint8_t v : g.pixels) ASSERT_EQ(v, 80);
  for (cimg_image* im : {&out, &aliased, &other}) cimg_image_destruct(im);
}

int inhibitDivide(const char* name) { return std::string(name) == "cidut_divideBufferByConstant32_8"; }

TEST(Binarize, DivisionPathsAgree) {
  std::mt19937 rng(8);
  std::vector<uint32_t> in{0, 1, 254, 255, 256, 65535, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
  for (int i = 0; i < 2000; ++i) in.push_back(static_cast<uint32_t>(rng()));
  for (uint32_t d : {1u, 2u, 3u, 7u, 10u, 255u, 256u, 1000u, 65537u, 0x80000000u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> fast(in.size()), generic(in.size());
    ASSERT_EQ(cidut_divideBufferByConstant32_8(in.data(), static_cast<uint32_t>(in.size()), d, fast.data()), 0);
    cprt_isOptimizationInhibitedFP = &inhibitDivide;
    ASSERT_EQ(cidut_divideBufferByConstant32_8(in.data(), static_cast<uint32_t>(in.size()), d, generic.data()), 0);
    cprt_isOptimizationInhibitedFP = nullptr;
    for (size_t i = 0; i < in.size(); ++i) {
      ASSERT_EQ(fast[i], static_cast<uint8_t>(in[i] / d)) << in[i] << " / " << d;
      ASSERT_EQ(generic[i], fast[i]);
    }
  }
  uint8_t untouched = 7;
  EXPECT_EQ(cidut_divideBufferByConstant32_8(in.data(), 1, 0, &untouched), cidut_errBadArgument);
  EXPECT_EQ(untouched, 7);
}

}  // namespace
