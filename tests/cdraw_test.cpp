// The rotated-rectangle rasteriser: painted sets against an independent point-in-polygon test
// (exact half-open sides when upright), clipping to the window, paint-then-erase, bad arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "base/cdraw.h"
#include "support/assert_recorder.hpp"

namespace {

constexpr int kPad = 16;

// A w x h window at image position (x0, y0) inside a buffer with kPad bytes on every side, all
// holding `fill`: a write outside the window shows as a pad byte that changed.
struct Canvas {
  int w, h, stride;
  std::vector<uint8_t> buffer;
  cimg_image image;
  Canvas(int w_, int h_, int x0, int y0, uint8_t fill)
      : w(w_), h(h_), stride(w_ + 2 * kPad), buffer(static_cast<size_t>(stride) * (h_ + 2 * kPad), fill) {
    EXPECT_EQ(cimg_image_constructWrap(&image, &at(0, 0), w, h, stride), 0);
    EXPECT_EQ(cimg_image_setWindowOffset(&image, x0, y0), 0);
  }
  ~Canvas() { cimg_image_destruct(&image); }
  uint8_t& at(int i, int j) { return buffer[static_cast<size_t>(j + kPad) * stride + (i + kPad)]; }  // window-relative
};

// Smallest signed distance of the offset (px, py) from the centre to the sides of the
// rectangle, positive inside, from corners built here.
double insideMargin(double w, double h, double angle, double px, double py) {
  const double ux = std::cos(angle) / 2, uy = std::sin(angle) / 2;
  const double c[4][2] = {{-ux * w + uy * h, -uy * w - ux * h}, {ux * w + uy * h, uy * w - ux * h},
                          {ux * w - uy * h, uy * w + ux * h}, {-ux * w - uy * h, -uy * w + ux * h}};
  double margin = INFINITY;
  for (int k = 0; k < 4; ++k) {
    const double ex = c[(k + 1) % 4][0] - c[k][0], ey = c[(k + 1) % 4][1] - c[k][1];
    margin = std::min(margin, (ex * (py - c[k][1]) - ey * (px - c[k][0])) / std::hypot(ex, ey));
  }
  return margin;
}

}  // namespace

TEST(RotatedRectangle, AgreesWithPointInPolygonStaysInTheWindowErasesAndRefusesBadArguments) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> size(0.3, 60.0), angle(-2 * M_PI, 2 * M_PI), pos(-30.0, 110.0);
  long painted = 0;
  for (int trial = 0; trial < 400; ++trial) {
    Canvas c(80, 60, 17, -9, 255);
    for (int j = 0; j < c.h; ++j)  // islands of another ID, which drawing must leave alone
      for (int i = (j * 7 + trial) % 9; i < c.w; i += 9) c.at(i, j) = 3;
    const std::vector<uint8_t> before = c.buffer;
    double a = angle(rng), w = size(rng), h = size(rng);
    cmath_vect center{pos(rng) + 17, pos(rng) - 9};
    if (trial % 4 == 0) {  // upright with sides through pixel centres: the half-open rule decides them
      a = 0;
      w = std::ceil(w);
      h = std::ceil(h);
      center = {std::round(2 * center.x) / 2, std::round(2 * center.y) / 2};
    }
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &center, w, h, a, 255, 7), 0);
    // Every byte, the pad round the window included.
    for (int j = -kPad; j < c.h + kPad; ++j)
      for (int i = -kPad; i < c.w + kPad; ++i) {
        const double x = 17 + i + 0.5 - center.x, y = -9 + j + 0.5 - center.y, m = insideMargin(w, h, a, x, y);
        const bool in = (a == 0 ? x >= -w / 2 && x < w / 2 && y >= -h / 2 && y < h / 2 : m > 0) && i >= 0 && j >= 0 &&
                        i < c.w && j < c.h;
        const uint8_t old = before[&c.at(i, j) - c.buffer.data()];
        if (a != 0 && std::fabs(m) <= 1e-9 && old != 3) continue;  // too close to a tilted side to call
        ASSERT_EQ(c.at(i, j), in && old == 255 ? 7 : old) << "trial " << trial << " pixel " << i << "," << j;
      }
    painted += std::count(c.buffer.begin(), c.buffer.end(), 7);
    // Drawing back with the values swapped restores every pixel.
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &center, w, h, a, 7, 255), 0);
    ASSERT_EQ(c.buffer, before) << "trial " << trial;
  }
  EXPECT_GT(painted, 50000);  // the comparison really covered painted pixels

  // A zero size succeeds; negative or non-finite values are refused; nothing is written.
  Canvas c(30, 20, 100, 200, 255);
  const std::vector<uint8_t> clean = c.buffer;
  const cmath_vect centre{115.0, 210.0};
  for (auto [w, h, a, status] : {std::tuple{0.0, 10.0, 0.3, 0}, {-1.0, 10.0, 0.0, csys_errBadArgument},
                                 {5.0, NAN, 0.0, csys_errBadArgument}, {5.0, 5.0, INFINITY, csys_errBadArgument}})
    EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &centre, w, h, a, 255, 0), status) << w << " " << h;
  EXPECT_EQ(c.buffer, clean);
  cimg_image unbound;
  ASSERT_EQ(cimg_image_constructUnbound(&unbound), 0);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&unbound, &centre, 5.0, 5.0, 0.0, 255, 0), csys_errImageUnbound);
  cimg_image_destruct(&unbound);
  AssertRecorder rec;
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, nullptr, 5.0, 5.0, 0.0, 255, 0), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}
