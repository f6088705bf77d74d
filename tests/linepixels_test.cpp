// Line sampling against direct bilinear and nearest-pixel reads of random images, lines that
// run partly or wholly outside the window, and the grey-activity sum.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "ci_id/linepixels.h"
#include "support/assert_recorder.hpp"

namespace {

struct Image {
  int w, h, x0, y0;
  std::vector<uint8_t> px;
  cimg_windowConst window() const { return cimg_windowConst{w, h, x0, y0, w, px.data()}; }
  double at(int c, int r) const { return px[static_cast<size_t>(r) * w + c]; }
  // Bilinear value at window-relative (x', y') with pixel centres on integers, and whether the
  // 2x2 neighbourhood is inside.
  bool bilinear(double x, double y, double* v) const {
    const int c = static_cast<int>(std::floor(x)), r = static_cast<int>(std::floor(y));
    if (c < 0 || r < 0 || c >= w - 1 || r >= h - 1) return false;
    const double fx = x - c, fy = y - r;
    *v = (at(c, r) * (1 - fx) + at(c + 1, r) * fx) * (1 - fy) + (at(c, r + 1) * (1 - fx) + at(c + 1, r + 1) * fx) * fy;
    return true;
  }
};

Image randomImage(std::mt19937& rng) {
  Image im{std::uniform_int_distribution<int>(2, 40)(rng), std::uniform_int_distribution<int>(2, 40)(rng),
           std::uniform_int_distribution<int>(-20, 20)(rng), std::uniform_int_distribution<int>(-20, 20)(rng), {}};
  const bool smooth = rng() % 2;
  for (int r = 0; r < im.h; ++r)
    for (int c = 0; c < im.w; ++c)
      im.px.push_back(smooth ? static_cast<uint8_t>(128 + 100 * std::sin(0.3 * c + 0.2 * r)) : static_cast<uint8_t>(rng()));
  return im;
}

}  // namespace

TEST(LinePixels, SamplesAgreeWithDirectInterpolation) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-0.3, 1.3);
  int insideLines = 0, clippedLines = 0, missed = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    SCOPED_TRACE(trial);
    const Image im = randomImage(rng);
    const cimg_windowConst win = im.window();
    const cmath_vect p0{im.x0 + u(rng) * im.w, im.y0 + u(rng) * im.h}, p1{im.x0 + u(rng) * im.w, im.y0 + u(rng) * im.h};
    const int n = std::uniform_int_distribution<int>(1, 60)(rng);
    const int variant = trial % 3;  // centred bilinear, start-aligned bilinear, nearest pixel
    std::vector<uint8_t> buf(n, 7);
    uint8_t mean = 99;
    double spacing = -1;
    csys_status st;
    if (variant == 0) st = cidut_linePixels(&win, &p0, &p1, buf.data(), n, &mean, &spacing);
    else if (variant == 1) st = cidut_linePixels1(&win, &p0, &p1, buf.data(), 12.5, n, &mean, &spacing);
    else st = cidut_linePixels_LowPPM(&win, &p0, &p1, buf.data(), n, &spacing);
    EXPECT_DOUBLE_EQ(spacing, variant == 1 ? 12.5 / n : std::hypot(p1.x - p0.x, p1.y - p0.y) / n);
    const double ax = p0.x - im.x0 - 0.5, ay = p0.y - im.y0 - 0.5;
    const double dx = (p1.x - p0.x) / n, dy = (p1.y - p0.y) / n, shift = variant == 1 ? 0.0 : 0.5;
    // Which samples the direct computation places inside, by a margin for the fixed point
    // (inside) or possibly (reach).
    std::vector<int> inside, reach;
    for (int k = 0; k < n; ++k) {
      double v;
      const double x = ax + (k + shift) * dx, y = ay + (k + shift) * dy, m = 2e-3;
      if (im.bilinear(x - m, y - m, &v) && im.bilinear(x + m, y + m, &v)) inside.push_back(k);
      if (im.bilinear(x - m, y - m, &v) || im.bilinear(x + m, y + m, &v) || im.bilinear(x - m, y + m, &v) ||
          im.bilinear(x + m, y - m, &v))
        reach.push_back(k);
    }
    if (st == cidut_errNoSamples) {
      ++missed;
      EXPECT_LE(inside.size(), 4u) << "refused a line with valid samples";
      EXPECT_TRUE(buf == std::vector<uint8_t>(n, 7) && (variant == 2 || mean == 0));
      continue;
    }
    ASSERT_EQ(st, 0);
    (inside.size() == static_cast<size_t>(n) ? insideLines : clippedLines)++;
    // Once a line is clipped, up to two samples at either end may be dropped (and repeat their
    // neighbour).
    auto inArea = [&](double x, double y) { return x >= 0 && y >= 0 && x < im.w - 1 && y < im.h - 1; };
    const int drop = inArea(ax, ay) && inArea(p1.x - im.x0 - 0.5, p1.y - im.y0 - 0.5) ? 0 : 2;
    double sum = 0;
    for (size_t i = 0; i < inside.size(); ++i) {
      const int k = inside[i];
      const double x = ax + (k + shift) * dx, y = ay + (k + shift) * dy;
      double want = 0;
      if (variant != 2) {
        im.bilinear(x, y, &want);
        sum += buf[k];
      }
      if (static_cast<int>(i) < drop || i + drop >= inside.size()) continue;
      if (variant == 2) {
        const double fx = x - std::floor(x), fy = y - std::floor(y);
        if (fx < 1e-3 || fx > 1 - 1e-3 || fy < 1e-3 || fy > 1 - 1e-3) continue;  // a pixel boundary
        EXPECT_EQ(buf[k], im.at(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)))) << "sample " << k;
      } else {
        // 8-bit weights summing to 255 per axis read up to 2 levels low, fractions cut to 1/256.
        EXPECT_NEAR(buf[k], want * 65025.0 / 65536.0, 2.5) << "sample " << k;
      }
    }
    // Samples before the first valid one and after the last repeat it.
    if (!reach.empty()) {
      for (int k = 0; k < reach.front(); ++k) EXPECT_EQ(buf[k], buf[k + 1]) << k;
      for (int k = reach.back() + 1; k < n; ++k) EXPECT_EQ(buf[k], buf[k - 1]) << k;
    }
    EXPECT_TRUE(variant == 2 || drop != 0 || std::fabs(mean - sum / n) <= 1.5) << int{mean} << " " << sum / n;
  }
  EXPECT_TRUE(insideLines > 300 && clippedLines > 300 && missed > 100) << insideLines << " " << clippedLines << " " << missed;
}

TEST(LinePixels, FixedCasesAndActivity) {
  std::vector<uint8_t> flat(20 * 10, 200), columns(20 * 10);
  for (int i = 0; i < 200; ++i) columns[i] = (i % 20) % 2 ? 255 : 0;
  const cimg_windowConst a{20, 10, 0, 0, 20, flat.data()}, b{20, 10, 0, 0, 20, columns.data()};
  uint8_t buf[16], mean = 0;
  double spacing = 0;
  cmath_vect p0{0.5, 4.5}, p1{16.5, 4.5};
  ASSERT_EQ(cidut_linePixels(&a, &p0, &p1, buf, 16, &mean, &spacing), 0);
  EXPECT_EQ(std::tuple(int{buf[0]}, int{buf[15]}, int{mean}), std::tuple(198, 198, 198));
  // Activity two samples apart over one-pixel columns is zero; samples three pixels apart see
  // every change (255 reads 253).
  int32_t total = -1;
  ASSERT_EQ(cidut_linePixels2D(&b, &p0, &p1, 16, &total), 0);
  EXPECT_EQ(total, 0);
  const cmath_vect q1{18.5, 4.5};
  ASSERT_EQ(cidut_linePixels2D(&b, &p0, &q1, 12, &total), 0);
  EXPECT_EQ(total, 5 * 253);
  // Wholly left of the window: refused with the spacing written.
  const cmath_vect l0{-9, 4}, l1{-1, 6};
  spacing = 0;
  EXPECT_EQ(cidut_linePixels(&a, &l0, &l1, buf, 4, &mean, &spacing), cidut_errNoSamples);
  EXPECT_DOUBLE_EQ(spacing, std::hypot(8, 2) / 4);
  EXPECT_EQ(cidut_linePixels2D(&a, &l0, &l1, 4, &total), cidut_errNoSamples);
  EXPECT_EQ(total, 0);
  int32_t count = -1;
  const cmath_vect c0{0, 0}, c1{2.6, 0}, c2{0.2, 0};
  int32_t none = -1;
  cidut_getPixelCount(&c0, &c1, &count);
  cidut_getPixelCount(&c0, &c2, &none);
  EXPECT_EQ(std::tuple(count, none), std::tuple(3, 0));
  AssertRecorder recorder;
  EXPECT_EQ(cidut_linePixels(&a, &p0, &p1, buf, 0, &mean, &spacing), csys_errAssertion);
  EXPECT_EQ(recorder.count(), 1u);
}
