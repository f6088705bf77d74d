// The 1D road's line profiles near and past the image border: the samples taken in fixed point are
// found as one range a line, and must be exactly those whose taps keep clear of the window's
// edges (no pixel outside the window read, none left to the slow way that the fast one could
// take), for lines in every direction, ending on the border, crossing it or wholly outside; and
// the taps taken four at once sum as they do one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/oned/road1dprofile.hpp"

namespace {

constexpr int kWidth = 40, kHeight = 30;
constexpr int kMargin = 40;         // pixels of another grey around the window, in its buffer
constexpr uint8_t kOutside = 255;   // far from every grey inside: a read out there shows
constexpr double kTolerance = 0.1;  // fixed-point taps against doubles, grey levels

// A window of kWidth x kHeight inside a larger buffer: greys 0..100 in a pattern with steep
// steps, kOutside all round it.
struct FramedWindow {
  std::vector<uint8_t> buffer;
  cimg_windowConst window{};
  explicit FramedWindow(int stride = kWidth + 2 * kMargin) {
    buffer.assign(static_cast<size_t>(stride) * (kHeight + 2 * kMargin), kOutside);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        buffer[static_cast<size_t>((y + kMargin) * stride + x + kMargin)] = static_cast<uint8_t>((x * 37 + y * 11) % 101);
    window.width = kWidth;
    window.height = kHeight;
    window.stride = stride;
    window.pixels = buffer.data() + static_cast<ptrdiff_t>(kMargin) * stride + kMargin;
  }
  // The window's pixel, its coordinates clamped into it.
  double pixel(int x, int y) const {
    x = std::clamp(x, 0, kWidth - 1);
    y = std::clamp(y, 0, kHeight - 1);
    return window.pixels[static_cast<ptrdiff_t>(y) * window.stride + x];
  }
  // Bilinear grey at (x, y), pixel centres at integers + 0.5, the image held constant beyond
  // its border.
  double bilinear(double x, double y) const {
    const double sx = x - 0.5, sy = y - 0.5;
    const int ix = static_cast<int>(std::floor(sx)), iy = static_cast<int>(std::floor(sy));
    const double fx = sx - ix, fy = sy - iy;
    return (1 - fy) * ((1 - fx) * pixel(ix, iy) + fx * pixel(ix + 1, iy)) +
           fy * ((1 - fx) * pixel(ix, iy + 1) + fx * pixel(ix + 1, iy + 1));
  }
};

struct LineCase {
  std::string name;
  double x0, y0, x1, y1, halfHeight;
  bool someInside;  // whether any sample is taken in fixed point
};

// The lines' sample geometry: place of sample i, the taps' unit offset across and their count.
struct Geometry {
  double ux, uy, spacing;
  int across;
  explicit Geometry(const LineCase& c) {
    const double length = std::hypot(c.x1 - c.x0, c.y1 - c.y0);
    ux = (c.x1 - c.x0) / length;
    uy = (c.y1 - c.y0) / length;
    across = std::max(2, static_cast<int>(c.halfHeight / 0.75 + 0.5));
    spacing = c.halfHeight / across;
  }
};

// Whether sample i's taps keep a tenth of a pixel clear of the window's edges: their pixels and
// the next column and row all inside, with room for the fixed point's rounding.
bool tapsClear(const LineCase& c, const Geometry& g, int i) {
  const double px = c.x0 + g.ux * i * road1d::kStep, py = c.y0 + g.uy * i * road1d::kStep;
  const double ax = std::fabs(g.uy * g.across * g.spacing), ay = std::fabs(g.ux * g.across * g.spacing);
  return 2 * g.across + 1 <= 64 && px - ax >= 0.6 && px + ax < kWidth - 1.6 && py - ay >= 0.6 &&
         py + ay < kHeight - 1.6;
}

const LineCase kLines[] = {
    {"inside, left to right", 5, 10, 35, 12, 1.5, true},
    {"inside, right to left", 35, 12, 5, 10, 1.5, true},
    {"bottom to top, tall taps", 20, 28, 20, 2, 5, true},
    {"inside, nine taps", 4, 14, 36, 17, 3, true},
    {"ends exactly on the right border", 10, 15, 40, 15, 1.5, true},
    {"starts exactly on the left border", 0, 15, 30, 15, 1.5, true},
    {"corner to corner", 0, 0, 40, 30, 1.5, true},
    {"corner to corner backwards, tall taps", 40, 30, 0, 0, 5, true},
    {"in from outside and out again", -30, -10, 70, 45, 1.5, true},
    {"the same backwards, tall taps", 70, 45, -30, -10, 5, true},
    {"steep, past the top and bottom", 18, -25, 23, 55, 1.5, true},
    {"wholly above the window", -10, -5, 50, -5, 1.5, false},
    {"wholly beyond the right border", 45, -10, 45, 40, 5, false},
    {"down the first column's centre", 0.5, -5, 0.5, 35, 1.5, false},
    {"taps taller than the window", 2, 15, 38, 15, 20, false},
    {"more taps than the tables hold", 2, 15, 38, 15, 30, false},
};

// For every line: the samples taken in fixed point are exactly those whose taps keep clear of the
// border; every sample, fixed point or clamped, is the mean of its taps' bilinear greys of the
// window alone (a fixed-point tap past the border would bring in the grey around it, a sample
// past one side read on the wrong border column or row, the wrong grey); and rows of 32768 bytes
// or more, too long for the taps taken four at once, give the same doubles taken one by one.
TEST(Road1dProfile, SamplesNearTheBorderReadOnlyTheWindow) {
  const FramedWindow f, wide(32800);
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.name);
    road1d::InsideSamples inside;
    const std::vector<double> profile = road1d::lineProfile(f.window, c.x0, c.y0, c.x1, c.y1, c.halfHeight, &inside);
    ASSERT_FALSE(profile.empty());
    const Geometry g(c);
    const int n = static_cast<int>(profile.size());
    ASSERT_LE(0, inside.begin);
    ASSERT_LE(inside.begin, inside.end);
    ASSERT_LE(inside.end, n);
    EXPECT_EQ(inside.end > inside.begin, c.someInside);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(i >= inside.begin && i < inside.end, tapsClear(c, g, i)) << "sample " << i << " of " << n;
      const double px = c.x0 + g.ux * i * road1d::kStep, py = c.y0 + g.uy * i * road1d::kStep;
      double sum = 0;
      for (int k = -g.across; k <= g.across; ++k) sum += f.bilinear(px - g.uy * k * g.spacing, py + g.ux * k * g.spacing);
      ASSERT_NEAR(profile[static_cast<size_t>(i)], sum / (2 * g.across + 1), kTolerance) << "sample " << i;
    }
    EXPECT_EQ(road1d::lineProfile(wide.window, c.x0, c.y0, c.x1, c.y1, c.halfHeight), profile);
  }
}

}  // namespace
