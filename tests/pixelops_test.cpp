// Pixel operations and the base filters against OpenCV and direct loops, on the sample photo
// and rendered scenes.
//
// Allowed differences: the Gaussian rounds an 8-bit kernel along rows and a 15-bit one along
// columns, OpenCV its own fixed-point kernel; each pass's kernel rounding can move a result by a
// level, so the two may differ by 2 grey levels (by far less on average); the
// resampling weights are 1/256 steps where OpenCV's are 1/32, so at a step of 255 levels the two
// may differ by up to (1/64 + 1/512) of a step along each axis, 9 levels for a step of 255, and
// by far less on average.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>
#include <tuple>
#include <vector>

#include "base/cip_affine.h"
#include "base/cip_filter.h"
#include "base/cip_pel.h"
#include "ci_id/pixelops.h"
#include "support/assert_recorder.hpp"
#include "support/owned_image.hpp"
#include "support/photo_and_scenes.hpp"
#include "scenes/scene.hpp"

namespace {

std::vector<scene::GreyImage> images() { return photoAndScenes({scene::Category::noisy, scene::Category::perspective}, 7); }

cv::Mat matOf(const scene::GreyImage& g) {
  return cv::Mat(g.height, g.width, CV_8U, const_cast<uint8_t*>(g.pixels.data()));
}
cv::Mat matOf(const cimg_image& im) {
  return cv::Mat(im.window.height, im.window.width, CV_8U, im.window.pixels, static_cast<size_t>(im.window.stride));
}

struct Diff {
  int max = 0;
  double mean = 0;
};
Diff difference(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat d;
  cv::absdiff(a, b, d);
  double mx = 0;
  cv::minMaxLoc(d, nullptr, &mx);
  return {static_cast<int>(mx), cv::mean(d)[0]};
}

TEST(Filters, GaussianMatchesOpenCvAndItsOwnReduction) {
  for (const scene::GreyImage& g : images()) {
    scene::ImageView view(g);
    for (auto [sx, sy] : {std::pair{1, 1}, {2, 2}, {7, 3}, {0, 5}, {24, 24}}) {
      OwnedImage out, small;
      ASSERT_EQ(cidut_ip_gauss8(view.get(), &out, sx, sy), 0);
      cv::Mat theirs;
      cv::GaussianBlur(matOf(g), theirs, {2 * sx + 1, 2 * sy + 1}, 0.5 + sx / 3.0, 0.5 + sy / 3.0,
                       cv::BORDER_REPLICATE);
      const Diff d = difference(matOf(out), theirs);
      EXPECT_LE(d.max, 2) << g.width << "x" << g.height << " sizes " << sx << "," << sy;
      EXPECT_LT(d.mean, 0.1) << "sizes " << sx << "," << sy;
      // The reduced filter is the full one taken at the kept centres.
      cip_gaussParams p = csGaussParamsNull;
      p.sizeX = sx;
      p.sizeY = sy;
      p.reduceX = 3;
      p.reduceY = 2;
      ASSERT_EQ(cip_gauss_smooth8_8(view.get(), &small, &p), 0);
      ASSERT_EQ(std::tuple(small.window.width, small.window.height), std::tuple((g.width + 2) / 3, (g.height + 1) / 2));
      int wrong = 0;
      for (int j = 0; j < small.window.height; ++j)
        for (int i = 0; i < small.window.width; ++i)
          wrong += small.window.pixels[j * small.window.stride + i] !=
                   out.window.pixels[std::min(2 * j, g.height - 1) * out.window.stride + std::min(3 * i + 1, g.width - 1)];
      EXPECT_EQ(wrong, 0);
    }
  }
}

TEST(Filters, BoxMeansMatchOpenCv) {
  for (const scene::GreyImage& g : images()) {
    for (auto [w, h] : {std::pair{2, 1}, {3, 1}, {7, 1}, {1, 5}, {5, 5}, {16, 9}}) {
      std::vector<uint8_t> out(g.pixels.size(), 0);
      ASSERT_EQ(cid_spatialAverage(g.pixels.data(), g.width, g.height, g.width, w, h, out.data(), g.width), 0);
      cv::Mat sums;
      cv::boxFilter(matOf(g), sums, CV_32S, {w, h}, {0, 0}, false, cv::BORDER_REPLICATE);
      int wrong = 0;
      for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) {
          const int bx = std::min(x, g.width - w), by = std::min(y, g.height - h);
          wrong += out[y * g.width + x] != (sums.at<int>(by, bx) + w * h / 2) / (w * h);
        }
      EXPECT_EQ(wrong, 0) << "box " << w << "x" << h;
    }
    // Low-pass in plain mode with factor 1 is the centred box mean with replicated borders.
    scene::ImageView view(g);
    OwnedImage out;
    ASSERT_EQ(cidut_ip_plpf8(view.get(), &out, 1.0f, 3, 1, 0), 0);
    cv::Mat sums;
    cv::boxFilter(matOf(g), sums, CV_32S, {7, 7}, {-1, -1}, false, cv::BORDER_REPLICATE);
    cv::Mat expected(g.height, g.width, CV_8U);
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) expected.at<uint8_t>(y, x) = static_cast<uint8_t>((sums.at<int>(y, x) + 24) / 49);
    EXPECT_EQ(difference(matOf(out), expected).max, 0);
  }
}

TEST(Filters, ResamplingMatchesOpenCv) {
  for (const scene::GreyImage& g : images()) {
    scene::ImageView view(g);
    const double c = std::cos(0.3), s = std::sin(0.3);
    // A region turned by 0.3 rad, scaled by 0.8 and partly outside the image.
    cmath_shapeAffineRect region;
    const cmath_vect po{g.width * 0.3, -20.0};
    const double W = g.width * 0.8, H = g.height * 0.8;
    cmath_shapeAffineRectPoints pts{po, {po.x + c * W, po.y + s * W}, {po.x - s * H, po.y + c * H}};
    cmath_shapeAffineRect_initPoints(&region, &pts);
    const int ow = g.width, oh = g.height;
    OwnedImage out;
    ASSERT_EQ(cip_affine8(view.get(), &region, ow, oh, &out), 0);
    const double ux = c * W / ow, uy = s * W / ow, vx = -s * H / oh, vy = c * H / oh;
    cv::Mat m = (cv::Mat_<double>(2, 3) << ux, vx, po.x + 0.5 * (ux + vx) - 0.5, uy, vy, po.y + 0.5 * (uy + vy) - 0.5);
    cv::Mat theirs;
    cv::warpAffine(matOf(g), theirs, m, {ow, oh}, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    const Diff d = difference(matOf(out), theirs);
    EXPECT_LE(d.max, 9);
    EXPECT_LT(d.mean, 0.3);
    std::printf("resampling %dx%d: max difference %d, mean %.3f\n", ow, oh, d.max, d.mean);
    // The output's client transform maps its pixel corners onto the region.
    cmath_vect corner{static_cast<double>(ow), 0}, client;
    cmath_xformLinear_mapPoint(&out.clientFromImage, &corner, &client);
    EXPECT_NEAR(client.x, pts.px.x, 1e-9);
    EXPECT_NEAR(client.y, pts.px.y, 1e-9);
  }
}

// The small operations against direct loops over one random image with an offset window.
TEST(PixelOps, MatchDirectLoops) {
  std::mt19937 rng(5);
  scene::GreyImage a(37, 23), b(37, 23);
  for (auto* g : {&a, &b})
    for (auto& v : g->pixels) v = static_cast<uint8_t>(rng() % 256);
  scene::ImageView va(a), vb(b);
  cimg_imageConst wa;
  cimg_imageConst_constructCopy(&wa, va.get());
  const cstd_rect32 part{5, 3, 20, 15};
  cimg_imageConst_window(&wa, &part);
  OwnedImage out;
  auto at = [&](int x, int y) { return static_cast<int>(out.window.pixels[(y - out.window.y0) * out.window.stride + x - out.window.x0]); };
  // Every pixel of the source window against want(x, y) (the output read at where(x, y)).
  auto each = [&](auto where, auto want) {
    for (int y = 3; y < 18; ++y)
      for (int x = 5; x < 25; ++x) ASSERT_EQ(where(x, y), want(x, y)) << x << "," << y;
  };
  ASSERT_EQ(cidut_ip_pelSub8(&wa, vb.get(), &out, 0), 0);
  ASSERT_EQ(out.window.x0, 5);
  each(at, [&](int x, int y) { return std::max(0, a.at(x, y) - b.at(x, y)); });
  ASSERT_EQ(cidut_ip_pelAdd8(&wa, vb.get(), &out, 0), 0);
  each(at, [&](int x, int y) { return std::min(255, a.at(x, y) + b.at(x, y)); });
  ASSERT_EQ(cidut_ip_pelTranspose8(&wa, &out), 0);
  ASSERT_EQ(out.window.width, 15);
  each([&](int x, int y) { return at(y, x); }, [&](int x, int y) { return int{a.at(x, y)}; });
  ASSERT_EQ(cidut_ip_pelSample(va.get(), &out, 4, 3), 0);
  ASSERT_EQ(std::tuple(out.window.width, out.window.height), std::tuple(9, 7));
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < 9; ++i) ASSERT_EQ(at(i, j), a.at(4 * i + 1, 3 * j + 1));
  // Output (u, v) = (1, 1) lies over source (4 (1 - 0.125), 3 (1 - 0)) = (3.5, 3).
  cmath_vect p{1, 1}, q;
  cmath_xformLinear_mapPoint(&out.clientFromImage, &p, &q);
  EXPECT_DOUBLE_EQ(q.x, 3.5);
  EXPECT_DOUBLE_EQ(q.y, 3.0);
  ASSERT_EQ(cidut_ip_pelExpand8(&wa, &out, 3, 2), 0);
  ASSERT_EQ(out.window.x0, 15);
  for (int y = 6; y < 36; ++y)
    for (int x = 15; x < 75; ++x) ASSERT_EQ(at(x, y), a.at(x / 3, y / 2));
  uint8_t table[256];
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>((v * 7) % 256);
  ASSERT_EQ(cip_image8_map(&out, &wa, table), 0);
  each(at, [&](int x, int y) { return int{table[a.at(x, y)]}; });
  cidut_ip_pelInvert8(&out);
  each(at, [&](int x, int y) { return 255 - table[a.at(x, y)]; });
  uint8_t lo = 0, hi = 0;
  ASSERT_EQ(cidut_ip_pelMinMax8(&wa, &lo, &hi), 0);
  int mn = 255, mx = 0;
  for (int y = 3; y < 18; ++y)
    for (int x = 5; x < 25; ++x) {
      mn = std::min(mn, int{a.at(x, y)});
      mx = std::max(mx, int{a.at(x, y)});
    }
  EXPECT_EQ(std::tuple(int{lo}, int{hi}), std::tuple(mn, mx));
  // Projection of a 10 x 4 region over columns 10..19, rows 5..8: column means.
  cmath_shapeAffineRect region;
  cmath_shapeAffineRectPoints pts{{10, 5}, {20, 5}, {10, 9}};
  cmath_shapeAffineRect_initPoints(&region, &pts);
  int32_t count = 0;
  ASSERT_EQ(cidut_ip_project8(va.get(), &region, &count, &out), 0);
  ASSERT_EQ(std::tuple(count, out.window.width), std::tuple(40, 10));
  for (int i = 0; i < 10; ++i) {
    int sum = 0;
    for (int j = 5; j < 9; ++j) sum += a.at(10 + i, j);
    EXPECT_EQ(out.window.pixels[i], (sum + 2) / 4);
  }
  cimg_imageConst_destruct(&wa);
}

TEST(PixelOps, BadInputLeavesOutputUntouched) {
  scene::GreyImage g(30, 20, 9);
  scene::ImageView view(g);
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  cimg_image aliased, small;
  OwnedImage out;
  cimg_image_constructWrap(&aliased, g.pixels.data(), 30, 20, 30);  // the source's own pixels
  cimg_image_construct(&small, 10, 10);
  struct Case {
    const char* what;
    csys_status status;
    csys_status expected;
  } cases[] = {
      {"sub mode", cidut_ip_pelSub8(view.get(), view.get(), &out, 1), cidut_errUnsupported},
      {"add mode", cidut_ip_pelAdd8(view.get(), view.get(), &out, 3), cidut_errUnsupported},
      {"unbound sub", cidut_ip_pelSub8(&unbound, view.get(), &out, 0), cidut_errImageUnbound},
      {"unbound gauss", cidut_ip_gauss8(&unbound, &out, 2, 2), cidut_errImageUnbound},
      {"sample step", cidut_ip_pelSample(view.get(), &out, 0, 1), cidut_errBadStep},
      {"expand factor", cidut_ip_pelExpand8(view.get(), &out, 2, 0), cidut_errBadStep},
      {"gauss overlap", cidut_ip_gauss8(view.get(), &aliased, 2, 2), cidut_errBuffersOverlap},
      {"plpf overlap", cidut_ip_plpf8Mask(view.get(), &aliased, 1.0f, 2, 1, 5), cidut_errBuffersOverlap},
      {"gauss small output", cidut_ip_gauss8(view.get(), &small, 2, 2), cidut_errBadArgument},
      {"plpf factor", cidut_ip_plpf8(view.get(), &out, NAN, 2, 1, 0), cidut_errBadArgument},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  EXPECT_FALSE(cimg_image_isBound(&out));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(small.window.pixels[i], 0);
  // A zero-sized source gives a zero-sized result, never a read.
  scene::GreyImage empty(0, 5);
  scene::ImageView emptyView(empty);
  EXPECT_EQ(cidut_ip_gauss8(emptyView.get(), &out, 2, 2), 0);
  EXPECT_FALSE(cimg_image_isBound(&out));
  AssertRecorder asserts;
  std::vector<uint8_t> buffer(16, 3);
  EXPECT_EQ(cid_spatialAverage(g.pixels.data(), 4, 4, 30, 5, 1, buffer.data(), 4), csys_errAssertion);
  EXPECT_EQ(cid_spatialAverage(g.pixels.data(), 4, 4, 30, 2, 2, g.pixels.data() + 31, 30), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 2u);
  EXPECT_EQ(buffer[0], 3);
  for (cimg_image* im : {&aliased, &small}) cimg_image_destruct(im);
}

}  // namespace
