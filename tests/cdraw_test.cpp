// The rotated-rectangle rasteriser: painted sets against an independent point-in-polygon test,
// clipping to the window, paint-then-erase, the half-open edge rule and
// bad arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
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
  int count(uint8_t v) const { return static_cast<int>(std::count(buffer.begin(), buffer.end(), v)); }
  int inWindow(uint8_t v) {
    int n = 0;
    for (int j = 0; j < h; ++j) n += static_cast<int>(std::count(&at(0, j), &at(0, j) + w, v));
    return n;
  }
};

// Smallest signed distance of (px, py) to the rectangle's sides, positive inside, from corners the
// test builds itself.
double insideMargin(double cx, double cy, double w, double h, double angle, double px, double py) {
  const double ux = std::cos(angle) / 2, uy = std::sin(angle) / 2;
  const double c[4][2] = {{cx - ux * w + uy * h, cy - uy * w - ux * h}, {cx + ux * w + uy * h, cy + uy * w - ux * h},
                          {cx + ux * w - uy * h, cy + uy * w + ux * h}, {cx - ux * w - uy * h, cy - uy * w + ux * h}};
  double margin = INFINITY;
  for (int k = 0; k < 4; ++k) {
    const double* a = c[k];
    const double ex = c[(k + 1) % 4][0] - a[0], ey = c[(k + 1) % 4][1] - a[1];
    margin = std::min(margin, (ex * (py - a[1]) - ey * (px - a[0])) / std::hypot(ex, ey));
  }
  return margin;
}

}  // namespace

TEST(RotatedRectangle, AgreesWithPointInPolygonStaysInTheWindowAndErases) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> size(0.3, 60.0), angle(-2 * M_PI, 2 * M_PI), pos(-30.0, 110.0);
  const double fixedAngles[] = {0.0, M_PI / 2, M_PI, -M_PI / 2, M_PI / 4, M_PI / 6, 1e-9};
  long painted = 0;
  for (int trial = 0; trial < 400; ++trial) {
    Canvas c(80, 60, 17, -9, 255);
    for (int j = 0; j < c.h; ++j)  // islands of another ID, which drawing must leave alone
      for (int i = (j * 7 + trial) % 9; i < c.w; i += 9) c.at(i, j) = 3;
    const std::vector<uint8_t> before = c.buffer;
    const double a = trial < 7 ? fixedAngles[trial] : angle(rng), w = size(rng), h = size(rng);
    const cmath_vect center{pos(rng) + 17, pos(rng) - 9};
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &center, w, h, a, 255, 7), 0);
    ASSERT_EQ(c.count(7), c.inWindow(7)) << "trial " << trial;
    for (int j = 0; j < c.h; ++j)
      for (int i = 0; i < c.w; ++i) {
        const double m = insideMargin(center.x, center.y, w, h, a, 17 + i + 0.5, -9 + j + 0.5);
        const int want = before[&c.at(i, j) - c.buffer.data()] == 3 ? 3 : m > 0 ? 7 : 255;
        if (std::fabs(m) > 1e-9 || want == 3) {
          ASSERT_EQ(c.at(i, j), want) << "trial " << trial << " pixel " << i << "," << j;
        }
      }
    painted += c.count(7);
    // Drawing back with the values swapped restores every pixel.
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &center, w, h, a, 7, 255), 0);
    ASSERT_EQ(c.buffer, before) << "trial " << trial;
  }
  EXPECT_GT(painted, 50000);  // the comparison really covered painted pixels
}

TEST(RotatedRectangle, HalfOpenEdgesTileWithoutOverlap) {
  // Upright, with pixel centres on every side: a 1 x 1 square about a pixel corner takes one of
  // the four, and two halves sharing a side cover the whole rectangle once (painting 0 -> 1, then
  // 1 -> 2 would mark double cover).
  Canvas one(10, 10, 0, 0, 0), halves(80, 80, 0, 0, 0), whole(80, 80, 0, 0, 0);
  const cmath_vect corner{5, 5}, lower{40, 37}, upper{40, 44}, mid{40, 40.5};
  ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&one.image, &corner, 1, 1, 0, 0, 1), 0);
  EXPECT_EQ(one.count(1), 1);
  ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&halves.image, &lower, 30, 7, 0, 0, 1), 0);
  ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&halves.image, &upper, 30, 7, 0, 1, 2), 0);
  ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&halves.image, &upper, 30, 7, 0, 0, 1), 0);
  ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&whole.image, &mid, 30, 14, 0, 0, 1), 0);
  EXPECT_EQ(whole.count(1), 30 * 14);
  EXPECT_EQ(halves.buffer, whole.buffer);
}

TEST(RotatedRectangle, BadArgumentsWriteNothingAndHugeRectanglesFillTheWindow) {
  Canvas c(30, 20, 100, 200, 255);
  const std::vector<uint8_t> clean = c.buffer;
  // Zero sizes and rectangles off the window succeed; negative or non-finite values are refused.
  const struct {
    double x, y, w, h, a;
    csys_status status;
  } cases[] = {{115, 210, 0, 10, 0.3, 0}, {5, 5, 40, 40, 0.5, 0}, {1e15, -1e15, 1e3, 1e3, 0.5, 0},
               {115, 210, -1, 10, 0, csys_errBadArgument}, {115, 210, 5, NAN, 0, csys_errBadArgument},
               {115, 210, 5, 5, INFINITY, csys_errBadArgument}, {NAN, 210, 5, 5, 0, csys_errBadArgument}};
  for (const auto& k : cases) {
    const cmath_vect centre{k.x, k.y};
    EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &centre, k.w, k.h, k.a, 255, 0), k.status) << k.x << " " << k.w;
  }
  EXPECT_EQ(c.buffer, clean);
  const cmath_vect inWindow{115.0, 210.0};
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, 1e300, 1e300, 0.7, 255, 0), 0);
  EXPECT_EQ(c.count(0), 30 * 20);  // the whole window and nothing around it

  cimg_image unbound;
  ASSERT_EQ(cimg_image_constructUnbound(&unbound), 0);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&unbound, &inWindow, 5.0, 5.0, 0.0, 255, 0), csys_errImageUnbound);
  cimg_image_destruct(&unbound);
  AssertRecorder rec;
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, nullptr, 5.0, 5.0, 0.0, 255, 0), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}
