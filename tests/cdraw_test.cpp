// The rotated-rectangle rasteriser: painted sets against an independent point-in-polygon test at
// many angles, clipping to the window with guard bytes around it, the half-open edge rule,
// paint-then-erase, and degenerate arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "base/cdraw.h"
#include "support/assert_recorder.hpp"

namespace {

constexpr uint8_t kGuard = 0xA5;
constexpr int kPad = 16;

// A window of w x h pixels at image position (x0, y0) inside a larger buffer whose border
// bytes hold kGuard, so writes outside the window show.
struct Canvas {
  int w, h, x0, y0, stride;
  std::vector<uint8_t> buffer;
  cimg_image image;

  Canvas(int w_, int h_, int x0_, int y0_, uint8_t fill) : w(w_), h(h_), x0(x0_), y0(y0_), stride(w_ + 2 * kPad) {
    buffer.assign(static_cast<size_t>(stride) * (h + 2 * kPad), kGuard);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) at(x, y) = fill;
    EXPECT_EQ(cimg_image_constructWrap(&image, &at(0, 0), w, h, stride), 0);
    EXPECT_EQ(cimg_image_setWindowOffset(&image, x0, y0), 0);
  }
  ~Canvas() { cimg_image_destruct(&image); }
  // Window-relative access.
  uint8_t& at(int i, int j) { return buffer[static_cast<size_t>(j + kPad) * stride + (i + kPad)]; }

  bool guardsIntact() const {
    for (int j = -kPad; j < h + kPad; ++j)
      for (int i = -kPad; i < w + kPad; ++i) {
        if (i >= 0 && i < w && j >= 0 && j < h) continue;
        if (buffer[static_cast<size_t>(j + kPad) * stride + (i + kPad)] != kGuard) return false;
      }
    return true;
  }
};

// Signed distance of a pixel centre inside the rectangle: the smallest distance to one of its
// four sides, from corners built by the test itself (positive inside, negative outside).
double insideMargin(double cx, double cy, double w, double h, double angle, double px, double py) {
  const double ux = std::cos(angle), uy = std::sin(angle);
  const double hx[2] = {ux * w / 2, uy * w / 2}, hy[2] = {-uy * h / 2, ux * h / 2};
  const double corners[4][2] = {{cx - hx[0] - hy[0], cy - hx[1] - hy[1]},
                                {cx + hx[0] - hy[0], cy + hx[1] - hy[1]},
                                {cx + hx[0] + hy[0], cy + hx[1] + hy[1]},
                                {cx - hx[0] + hy[0], cy - hx[1] + hy[1]}};
  double margin = INFINITY;
  for (int k = 0; k < 4; ++k) {
    const double* a = corners[k];
    const double* b = corners[(k + 1) % 4];
    const double ex = b[0] - a[0], ey = b[1] - a[1];
    const double len = std::hypot(ex, ey);
    // With these corners the inside lies on the positive side of each edge's cross product.
    margin = std::min(margin, (ex * (py - a[1]) - ey * (px - a[0])) / len);
  }
  return margin;
}

}  // namespace

TEST(RotatedRectangle, AgreesWithPointInPolygonAndStaysInTheWindow) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> size(0.3, 60.0), angle(-2 * M_PI, 2 * M_PI), pos(-30.0, 110.0);
  const double fixedAngles[] = {0.0, M_PI / 2, M_PI, -M_PI / 2, M_PI / 4, M_PI / 6, 1e-9};
  long painted = 0, ambiguous = 0;
  for (int trial = 0; trial < 400; ++trial) {
    Canvas c(80, 60, 17, -9, 255);
    const double a = trial < 7 ? fixedAngles[trial] : angle(rng);
    const double w = size(rng), h = size(rng);
    const cmath_vect center{pos(rng) + 17, pos(rng) - 9};
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &center, w, h, a, 255, 7), 0);
    ASSERT_TRUE(c.guardsIntact()) << "trial " << trial;
    for (int j = 0; j < c.h; ++j)
      for (int i = 0; i < c.w; ++i) {
        const double m = insideMargin(center.x, center.y, w, h, a, c.x0 + i + 0.5, c.y0 + j + 0.5);
        const uint8_t v = c.at(i, j);
        ASSERT_TRUE(v == 255 || v == 7);
        if (std::fabs(m) < 1e-9) {
          ++ambiguous;
          continue;
        }
        ASSERT_EQ(v == 7, m > 0) << "trial " << trial << " pixel " << i << "," << j << " margin " << m;
        painted += v == 7;
      }
  }
  EXPECT_GT(painted, 50000);  // the comparison really covered painted pixels
  EXPECT_LT(ambiguous, 200);  // and only few centres fell on an edge
}

TEST(RotatedRectangle, HalfOpenEdgesTileWithoutOverlap) {
  // Axis-aligned on pixel boundaries: exactly the covered pixels.
  Canvas c(20, 20, 0, 0, 0);
  const cmath_vect centre{5.0, 6.0};
  ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &centre, 4.0, 2.0, 0.0, 0, 1), 0);
  int count = 0;
  for (int j = 0; j < 20; ++j)
    for (int i = 0; i < 20; ++i) {
      count += c.at(i, j);
      EXPECT_EQ(c.at(i, j), (i >= 3 && i < 7 && j >= 5 && j < 7) ? 1 : 0) << i << "," << j;
    }
  EXPECT_EQ(count, 8);

  // A width-1 rectangle centred on a pixel boundary takes one column, not two or none.
  Canvas one(10, 10, 0, 0, 0);
  const cmath_vect edgeCentre{5.0, 5.0};
  ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&one.image, &edgeCentre, 1.0, 1.0, 0.0, 0, 1), 0);
  int ones = 0;
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 10; ++i) ones += one.at(i, j);
  EXPECT_EQ(ones, 1);

  // Two rotated halves of a rectangle, sharing their long side, add up to the whole: each pixel is
  // painted by at most one half, and the union equals the whole rectangle's set.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> ang(0.0, 2 * M_PI), jitter(-0.5, 0.5);
  for (int trial = 0; trial < 50; ++trial) {
    const double a = ang(rng), w = 30.0, h = 14.0;
    const cmath_vect mid{40 + jitter(rng), 40 + jitter(rng)};
    const double vx = -std::sin(a) * h / 4, vy = std::cos(a) * h / 4;
    const cmath_vect lower{mid.x - vx, mid.y - vy}, upper{mid.x + vx, mid.y + vy};
    Canvas halves(80, 80, 0, 0, 0), whole(80, 80, 0, 0, 0);
    // Increment-style painting through the from/to pair: 0 -> 1, then 1 -> 2 marks double cover.
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&halves.image, &lower, w, h / 2, a, 0, 1), 0);
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&halves.image, &upper, w, h / 2, a, 1, 2), 0);
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&halves.image, &upper, w, h / 2, a, 0, 1), 0);
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&whole.image, &mid, w, h, a, 0, 1), 0);
    int differ = 0, doubled = 0;
    for (int j = 0; j < 80; ++j)
      for (int i = 0; i < 80; ++i) {
        doubled += halves.at(i, j) == 2;
        differ += (halves.at(i, j) != 0) != (whole.at(i, j) != 0);
      }
    EXPECT_EQ(doubled, 0) << "trial " << trial;
    // Centres within rounding of the shared or outer sides may fall either way.
    EXPECT_LE(differ, 1) << "trial " << trial;
  }
}

TEST(RotatedRectangle, PaintThenEraseRestoresAndOtherValuesAreKept) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> value(1, 255);
  std::uniform_real_distribution<double> ang(-M_PI, M_PI), size(0.0, 90.0), pos(-20.0, 90.0);
  long claimed = 0;
  for (int trial = 0; trial < 100; ++trial) {
    Canvas c(64, 48, -5, 3, 255);
    // Background of the free value with islands of other IDs (never the claimed value 0).
    for (int j = 0; j < c.h; ++j)
      for (int i = 0; i < c.w; ++i)
        if (value(rng) < 60) c.at(i, j) = static_cast<uint8_t>(value(rng));
    const std::vector<uint8_t> before = c.buffer;
    const cmath_vect centre{pos(rng), pos(rng)};
    const double a = ang(rng), w = size(rng), h = size(rng);
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &centre, w, h, a, 255, 0), 0);
    for (size_t k = 0; k < before.size(); ++k) {
      if (before[k] != 255) {
        ASSERT_EQ(c.buffer[k], before[k]) << "only free pixels may change";
      }
      claimed += c.buffer[k] == 0;
    }
    ASSERT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &centre, w, h, a, 0, 255), 0);
    ASSERT_EQ(c.buffer, before) << "trial " << trial;
  }
  EXPECT_GT(claimed, 20000);  // the erasing had real work to undo
}

TEST(RotatedRectangle, DegenerateArgumentsAndClipping) {
  Canvas c(30, 20, 100, 200, 255);
  const std::vector<uint8_t> clean = c.buffer;
  const cmath_vect inWindow{115.0, 210.0};
  // Zero size paints nothing and succeeds.
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, 0.0, 10.0, 0.3, 255, 0), 0);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, 10.0, 0.0, 0.3, 255, 0), 0);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, 0.0, 0.0, 0.0, 255, 0), 0);
  EXPECT_EQ(c.buffer, clean);
  // Negative or non-finite arguments are refused without writing.
  const cmath_vect nanCentre{NAN, 210.0}, infCentre{115.0, INFINITY};
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, -1.0, 10.0, 0.0, 255, 0), csys_errBadArgument);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, 5.0, NAN, 0.0, 255, 0), csys_errBadArgument);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, 5.0, 5.0, INFINITY, 255, 0), csys_errBadArgument);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &nanCentre, 5.0, 5.0, 0.0, 255, 0), csys_errBadArgument);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &infCentre, 5.0, 5.0, 0.0, 255, 0), csys_errBadArgument);
  EXPECT_EQ(c.buffer, clean);
  // Wholly outside the window (the rectangle covers image pixels near the origin, the window
  // starts at (100, 200)), and far away: nothing written.
  const cmath_vect origin{5.0, 5.0}, far{1e15, -1e15};
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &origin, 40.0, 40.0, 0.5, 255, 0), 0);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &far, 1e3, 1e3, 0.5, 255, 0), 0);
  EXPECT_EQ(c.buffer, clean);
  // Enormous rectangles fill exactly the window.
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, &inWindow, 1e300, 1e300, 0.7, 255, 0), 0);
  for (int j = 0; j < c.h; ++j)
    for (int i = 0; i < c.w; ++i) ASSERT_EQ(c.at(i, j), 0);
  EXPECT_TRUE(c.guardsIntact());

  cimg_image unbound;
  ASSERT_EQ(cimg_image_constructUnbound(&unbound), 0);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&unbound, &inWindow, 5.0, 5.0, 0.0, 255, 0), csys_errImageUnbound);
  cimg_image_destruct(&unbound);

  AssertRecorder rec;
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(nullptr, &inWindow, 5.0, 5.0, 0.0, 255, 0), csys_errAssertion);
  EXPECT_EQ(cdraw_rasterize_rotatedRectangle_forID(&c.image, nullptr, 5.0, 5.0, 0.0, 255, 0), csys_errAssertion);
  EXPECT_EQ(rec.count(), 2u);
}
