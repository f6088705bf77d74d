// Anti-aliased shapes with exact geometry, for tests that measure contours.
//
// A shape is a set of polygons, each adding (+1) or removing (-1) area; removed polygons lie
// inside added ones, so nested blobs, rings and holes are sums of simple polygons. Discs are
// regular polygons with many sides (the boundary the tests measure against is that polygon,
// so it is exact). Pixel convention: the centre of pixel (x, y) is the point (x, y), the pixel
// covers [x - 0.5, x + 0.5] x [y - 0.5, y + 0.5]. A pixel's value is
// background + (foreground - background) * coverage, rounded, where coverage is the exact area
// of the shape inside the pixel (polygon clipping, no sampling).
#ifndef IDUT_TESTS_SUPPORT_SHAPES_HPP
#define IDUT_TESTS_SUPPORT_SHAPES_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

namespace shapes {

struct Pt {
  double x = 0;
  double y = 0;
};

struct Polygon {
  std::vector<Pt> vertices;  // either orientation
  int sign = 1;              // +1 adds area, -1 removes it

  double area() const;  // unsigned
  // Exact area of the polygon inside the axis-aligned box [x0, x1] x [y0, y1].
  double areaInBox(double x0, double y0, double x1, double y1) const;
};

// Rectangle of the given side lengths centred at (cx, cy), turned by angle (radians).
Polygon rectangle(double cx, double cy, double width, double height, double angle, int sign = 1);
// Regular polygon with n corners on the circle of radius r about (cx, cy).
Polygon disc(double cx, double cy, double r, int n = 512, int sign = 1);

struct Shape {
  std::vector<Polygon> parts;

  // Coverage of a unit square centred anywhere: the anti-aliased image before sampling.
  double coverageAt(Pt centre) const;
  // True when the level line coverageAt = level passes within `radius` of p (checked on the
  // centre and a ring of 64 points; coverageAt is continuous).
  bool nearLevelLine(Pt p, double radius, double level = 0.5) const;
};

// An 8-bit image in a buffer larger than its window: `margin` guard pixels on every side, so a
// test can check that nothing outside the window is read. Pixel (x, y) of the window (image
// coordinates, window origin (x0, y0)) is at(x, y).
struct Canvas {
  int x0 = 0, y0 = 0, width = 0, height = 0, margin = 0;
  std::vector<uint8_t> buffer;

  Canvas(int x0, int y0, int width, int height, int margin = 0, uint8_t fill = 0);
  int stride() const { return width + 2 * margin; }
  uint8_t& at(int x, int y) { return buffer[index(x, y)]; }
  uint8_t at(int x, int y) const { return buffer[index(x, y)]; }
  const uint8_t* windowPixels() const { return &buffer[index(x0, y0)]; }
  // Fills the guard pixels (everything outside the window) with value.
  void fillGuard(uint8_t value);
  // Draws the shape over the window (the guard pixels keep their values).
  void render(const Shape& shape, uint8_t background, uint8_t foreground);

 private:
  size_t index(int x, int y) const {
    return static_cast<size_t>(y - y0 + margin) * static_cast<size_t>(stride()) + static_cast<size_t>(x - x0 + margin);
  }
};

}  // namespace shapes

#endif
