// Running extrema against a brute-force window scan, and 2D morphology against OpenCV's
// erode/dilate/opening/closing with rectangular elements (exact: both are order statistics of
// the same clipped windows), on rendered scenes and noise, through both paths.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>
#include <tuple>
#include <vector>

#include "base/cip_pel.h"
#include "ci_id/morph.h"
#include "support/assert_recorder.hpp"
#include "support/owned_image.hpp"
#include "scenes/scene.hpp"

namespace {

const char* gInhibited = nullptr;  // the routine name whose fast path is switched off
int inhibit(const char* name) { return gInhibited != nullptr && std::string(name) == gInhibited; }

// Runs body once with both fast paths and once with both generic paths.
template <class Body>
void onBothPaths(Body body) {
  for (const char* name : {static_cast<const char*>(nullptr), "rowExtremaMax"}) {
    for (int round = 0; round < (name ? 2 : 1); ++round) {
      gInhibited = round == 0 ? name : "rowExtremaMin";
      cprt_isOptimizationInhibitedFP = name ? &inhibit : nullptr;
      body(name == nullptr ? "fast" : gInhibited);
    }
  }
  cprt_isOptimizationInhibitedFP = nullptr;
}

TEST(RowExtrema, MatchBruteForceForEveryWindow) {
  std::mt19937 rng(64);
  onBothPaths([&](const char* path) {
    for (int K = 2; K <= 64; ++K) {
      for (int N : {K + 1, K + 7, 300}) {
        std::vector<uint8_t> line(N), outMax(N), outMin(N);
        // Few grey levels so that equal values meet in the queue.
        std::uniform_int_distribution<int> level(0, K % 3 == 0 ? 3 : 255);
        for (auto& v : line) v = static_cast<uint8_t>(level(rng));
        uint32_t* noCount = nullptr;
        ASSERT_EQ(rowExtremaMax(K, line.data(), outMax.data(), N, noCount), 0);
        ASSERT_EQ(rowExtremaMin(K, line.data(), outMin.data(), N, noCount), 0);
        const int r = std::max(1, (K - 1) / 2);
        for (int x = 0; x < N; ++x) {
          const auto first = line.begin() + std::max(0, x - r), last = line.begin() + std::min(N - 1, x + r) + 1;
          ASSERT_EQ(outMax[x], *std::max_element(first, last)) << path << " K=" << K << " N=" << N << " x=" << x;
          ASSERT_EQ(outMin[x], *std::min_element(first, last)) << path << " K=" << K << " N=" << N << " x=" << x;
        }
      }
    }
  });
}

TEST(RowExtrema, QueueStepsAndPreconditions) {
  // Rising, flat and falling lines of 20 with K = 5 (r = 2): each of the 17 samples that enter
  // after the start replaces the back on a rise or a tie, and none does on a fall.
  std::vector<uint8_t> rising(20), flat(20, 7), falling(20), out(20);
  for (int i = 0; i < 20; ++i) {
    rising[i] = static_cast<uint8_t>(10 * i);
    falling[i] = static_cast<uint8_t>(200 - i);
  }
  struct Case {
    const std::vector<uint8_t>* line;
    bool max;
    uint32_t steps;
  };
  for (const Case& c : {Case{&rising, true, 17}, Case{&flat, true, 17}, Case{&falling, true, 0},
                        Case{&falling, false, 17}, Case{&rising, false, 0}}) {
    uint32_t steps = 99;
    const auto fn = c.max ? &rowExtremaMax : &rowExtremaMin;
    ASSERT_EQ(fn(5, c.line->data(), out.data(), 20, &steps), 0);
    EXPECT_EQ(steps, c.steps);
  }

  AssertRecorder asserts;
  std::vector<uint8_t> untouched(20, 42);
  EXPECT_EQ(rowExtremaMax(1, rising.data(), untouched.data(), 20, nullptr), csys_errAssertion);
  EXPECT_EQ(rowExtremaMax(20, rising.data(), untouched.data(), 20, nullptr), csys_errAssertion);
  EXPECT_EQ(rowExtremaMin(3, rising.data(), rising.data() + 5, 20, nullptr), csys_errAssertion);
  EXPECT_EQ(rowExtremaMin(3, nullptr, untouched.data(), 20, nullptr), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 4u);
  EXPECT_EQ(std::count(untouched.begin(), untouched.end(), 42), 20);
}

cv::Mat openCvMorph(const cv::Mat& in, int operation, int kernelWidth, int kernelHeight) {
  auto side = [](int k) { return k < 2 ? 1 : 2 * std::max(1, (k - 1) / 2) + 1; };
  const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, {side(kernelWidth), side(kernelHeight)});
  const int ops[] = {cv::MORPH_DILATE, cv::MORPH_ERODE, cv::MORPH_OPEN, cv::MORPH_CLOSE};
  cv::Mat out;
  cv::morphologyEx(in, out, ops[operation], element);
  return out;
}

TEST(Morph2d, MatchesOpenCvOnScenesAndNoise) {
  std::vector<scene::GreyImage> images;
  images.push_back(scene::generate(scene::Category::multiSymbol, 3).image);
  images.push_back(scene::generate(scene::Category::noisy, 5).image);
  scene::GreyImage noise(97, 61);
  std::mt19937 rng(7);
  for (auto& p : noise.pixels) p = static_cast<uint8_t>(rng());
  images.push_back(noise);
  struct Kernel {
    int width, height;
  };
  const Kernel kernels[] = {{3, 3}, {15, 15}, {2, 5}, {1, 7}, {6, 1}, {31, 4}, {97, 3}, {4, 61}};
  onBothPaths([&](const char* path) {
    for (const scene::GreyImage& image : images) {
      const cv::Mat in(image.height, image.width, CV_8U, const_cast<uint8_t*>(image.pixels.data()));
      scene::ImageView view(image);
      for (const Kernel& k : kernels) {
        if (k.width > image.width) continue;
        for (int op = 0; op < 4; ++op) {
          OwnedImage out;
          ASSERT_EQ(cidut_morph2d_run(view.get(), &out, op, k.width, k.height), 0);
          const cv::Mat ours(out.window.height, out.window.width, CV_8U, out.window.pixels, out.window.stride);
          const cv::Mat expected = openCvMorph(in, op, k.width, k.height);
          EXPECT_EQ(cv::countNonZero(ours != expected), 0)
              << path << " op " << op << " kernel " << k.width << "x" << k.height << " image " << image.width;
        }
      }
    }
  });
}

TEST(Morph2d, OutputPlacementAndCopies) {
  // A bright pixel under a 5 x 3 maximum becomes a 5 x 3 block, written into a larger bound
  // destination under the source window only.
  scene::GreyImage canvas(12, 9, 10);
  canvas.at(6, 4) = 250;
  canvas.at(0, 0) = 240;
  cimg_imageConst source;
  cimg_imageConst_constructWrap(&source, canvas.pixels.data(), 12, 9, 12);
  const cstd_rect32 inner{1, 1, 10, 7};
  cimg_imageConst_window(&source, &inner);
  std::vector<uint8_t> destPixels(14 * 11, 99);
  cimg_image dest;
  cimg_image_constructWrap(&dest, destPixels.data(), 14, 11, 14);
  ASSERT_EQ(cidut_morph2d_run(&source, &dest, CIDUT_MORPH_MAX, 5, 3), 0);
  int bright = 0;
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 14; ++x) {
      const uint8_t v = destPixels[y * 14 + x];
      const bool inside = x >= 1 && x <= 10 && y >= 1 && y <= 7;
      if (!inside) {
        ASSERT_EQ(v, 99) << x << "," << y;
      } else if (std::abs(x - 6) <= 2 && std::abs(y - 4) <= 1) {
        ++bright;
        EXPECT_EQ(v, 250);
      } else {
        EXPECT_EQ(v, 10) << x << "," << y;  // the bright corner pixel lies outside the window
      }
    }
  }
  EXPECT_EQ(bright, 15);

  // The source as its own destination: a new image replaces it, with the source's origin.
  cimg_image self;
  cimg_image_constructWrap(&self, canvas.pixels.data(), 12, 9, 12);
  cimg_image_window(&self, &inner);
  cimg_imageConst selfView;
  cimg_imageConst_constructFromImage(&selfView, &self);
  ASSERT_EQ(cidut_morph2d_run(&selfView, &self, CIDUT_MORPH_OPEN, 3, 3), 0);
  EXPECT_NE(self.window.pixels, canvas.pixels.data() + 13);
  EXPECT_EQ(std::tuple(self.window.x0, self.window.y0), std::tuple(1, 1));
  EXPECT_EQ(self.window.pixels[3 * self.window.stride + 5], 10);  // opening removed the lone bright pixel
  EXPECT_EQ(canvas.at(6, 4), 250);
  cimg_image_destruct(&self);
  cimg_imageConst_destruct(&selfView);

  // Kernels of 1 x 1 or larger than the window copy; bad arguments write nothing.
  for (auto [kw, kh] : {std::pair{1, 1}, std::pair{11, 3}, std::pair{3, 8}}) {
    OwnedImage copy;
    ASSERT_EQ(cidut_morph2d_run(&source, &copy, CIDUT_MORPH_MIN, kw, kh), 0);
    EXPECT_EQ(copy.window.pixels[3 * copy.window.stride + 5], 250);
  }
  std::fill(destPixels.begin(), destPixels.end(), 99);
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  EXPECT_EQ(cidut_morph2d_run(&unbound, &dest, 0, 3, 3), csys_errImageUnbound);
  EXPECT_EQ(cidut_morph2d_run(&source, &dest, 4, 3, 3), cidut_errBadArgument);
  EXPECT_EQ(cidut_morph2d_run(&source, &dest, 0, 0, 3), cidut_errBadArgument);
  const cstd_rect32 empty{2, 2, 0, 5};
  cimg_imageConst_window(&source, &empty);
  EXPECT_EQ(cidut_morph2d_run(&source, &dest, 0, 3, 3), 0);
  EXPECT_EQ(std::count(destPixels.begin(), destPixels.end(), 99), 14 * 11);
  cimg_imageConst_destruct(&source);
  cimg_image_destruct(&dest);
}

}  // namespace
