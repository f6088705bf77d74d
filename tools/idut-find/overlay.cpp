// Overlay drawing: thick anti-alias-free lines and discs, clipped to the picture.
#include "overlay.hpp"

#include <algorithm>
#include <cmath>

namespace idutfind {

namespace {

struct Canvas {
  std::vector<uint8_t>& rgb;
  int width;
  int height;

  void dot(int x, int y, const uint8_t colour[3]) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    p[0] = colour[0];
    p[1] = colour[1];
    p[2] = colour[2];
  }

  void disc(double cx, double cy, double r, const uint8_t colour[3]) {
    const int x0 = static_cast<int>(std::floor(cx - r)), x1 = static_cast<int>(std::ceil(cx + r));
    const int y0 = static_cast<int>(std::floor(cy - r)), y1 = static_cast<int>(std::ceil(cy + r));
    for (int y = std::max(y0, 0); y <= std::min(y1, height - 1); ++y)
      for (int x = std::max(x0, 0); x <= std::min(x1, width - 1); ++x)
        if ((x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy) <= r * r) dot(x, y, colour);
  }

  // Corners use the pixel convention of the results (pixel x covers [x, x+1)).
  void line(idut::Point a, idut::Point b, double thickness, const uint8_t colour[3]) {
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) return;
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    // Far-off corners would make a huge loop; they cannot be drawn usefully anyway.
    if (length > 4.0 * (width + height)) return;
    const int steps = std::max(1, static_cast<int>(std::ceil(length * 2)));
    for (int i = 0; i <= steps; ++i) {
      const double t = static_cast<double>(i) / steps;
      disc(a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), thickness / 2, colour);
    }
  }
};

}  // namespace

std::vector<uint8_t> drawOverlay(const uint8_t* grey, int width, int height, int stride,
                                 const std::vector<idut::Symbol>& symbols) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      // Dimmed so the marks stand out on bright labels.
      const uint8_t g = static_cast<uint8_t>(grey[static_cast<size_t>(y) * stride + x] * 3 / 4);
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = p[1] = p[2] = g;
    }
  Canvas canvas{rgb, width, height};
  static const uint8_t green[3] = {40, 230, 60}, red[3] = {240, 40, 40}, blue[3] = {60, 120, 255};
  const double thickness = std::max(2.0, (width + height) / 600.0);
  for (const idut::Symbol& s : symbols) {
    const std::array<idut::Point, 4> c = printOrder(s.corners);
    canvas.line(c[1], c[3], thickness, green);
    canvas.line(c[2], c[3], thickness, green);
    canvas.line(c[0], c[1], thickness, red);
    canvas.line(c[0], c[2], thickness, blue);
    canvas.disc(c[0].x, c[0].y, thickness * 2.5, red);
  }
  return rgb;
}

}  // namespace idutfind
