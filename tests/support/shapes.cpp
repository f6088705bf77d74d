// Exact-coverage rendering of polygons: pixels that an edge passes through get the area of the
// polygon clipped to the pixel square; every other pixel is wholly inside or outside, which
// the crossings of its row's centre line decide.
#include "support/shapes.hpp"

#include <algorithm>
#include <cmath>

namespace shapes {

namespace {

double shoelace(const std::vector<Pt>& v) {
  double s = 0;
  for (size_t i = 0, n = v.size(); i < n; ++i) {
    const Pt& a = v[i];
    const Pt& b = v[(i + 1) % n];
    s += a.x * b.y - b.x * a.y;
  }
  return 0.5 * s;
}

// Keeps the part of the polygon where inside(p) holds; `cut` gives the point where an edge
// leaves or enters that half-plane (one Sutherland-Hodgman pass).
template <class Inside, class Cut>
std::vector<Pt> clip(const std::vector<Pt>& in, Inside inside, Cut cut) {
  std::vector<Pt> out;
  out.reserve(in.size() + 4);
  for (size_t i = 0, n = in.size(); i < n; ++i) {
    const Pt& a = in[i];
    const Pt& b = in[(i + 1) % n];
    const bool ia = inside(a), ib = inside(b);
    if (ia) out.push_back(a);
    if (ia != ib) out.push_back(cut(a, b));
  }
  return out;
}

}  // namespace

double Polygon::area() const { return std::fabs(shoelace(vertices)); }

double Polygon::areaInBox(double x0, double y0, double x1, double y1) const {
  // Clipping a simple polygon against a convex box keeps its area exact (degenerate
  // connecting edges, if any, add none).
  std::vector<Pt> v = vertices;
  auto cutX = [](double x) {
    return [x](Pt a, Pt b) { return Pt{x, a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x)}; };
  };
  auto cutY = [](double y) {
    return [y](Pt a, Pt b) { return Pt{a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y), y}; };
  };
  v = clip(v, [x0](Pt p) { return p.x >= x0; }, cutX(x0));
  v = clip(v, [x1](Pt p) { return p.x <= x1; }, cutX(x1));
  v = clip(v, [y0](Pt p) { return p.y >= y0; }, cutY(y0));
  v = clip(v, [y1](Pt p) { return p.y <= y1; }, cutY(y1));
  return v.size() < 3 ? 0.0 : std::fabs(shoelace(v));
}

Polygon rectangle(double cx, double cy, double width, double height, double angle, int sign) {
  const double c = std::cos(angle), s = std::sin(angle);
  Polygon p;
  p.sign = sign;
  const double hx[4] = {-0.5, 0.5, 0.5, -0.5};
  const double hy[4] = {-0.5, -0.5, 0.5, 0.5};
  for (int i = 0; i < 4; ++i) {
    const double u = hx[i] * width, v = hy[i] * height;
    p.vertices.push_back(Pt{cx + c * u - s * v, cy + s * u + c * v});
  }
  return p;
}

Polygon disc(double cx, double cy, double r, int n, int sign) {
  Polygon p;
  p.sign = sign;
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * M_PI * i / n;
    p.vertices.push_back(Pt{cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  return p;
}

double Shape::coverageAt(Pt centre) const {
  double c = 0;
  for (const Polygon& p : parts)
    c += p.sign * p.areaInBox(centre.x - 0.5, centre.y - 0.5, centre.x + 0.5, centre.y + 0.5);
  return std::clamp(c, 0.0, 1.0);
}

bool Shape::nearLevelLine(Pt p, double radius, double level) const {
  const bool side = coverageAt(p) >= level;
  for (int i = 0; i < 64; ++i) {
    const double a = 2.0 * M_PI * i / 64;
    if ((coverageAt(Pt{p.x + radius * std::cos(a), p.y + radius * std::sin(a)}) >= level) != side) return true;
  }
  return false;
}

Canvas::Canvas(int x0_, int y0_, int width_, int height_, int margin_, uint8_t fill)
    : x0(x0_), y0(y0_), width(width_), height(height_), margin(margin_),
      buffer(static_cast<size_t>(width_ + 2 * margin_) * static_cast<size_t>(height_ + 2 * margin_), fill) {}

void Canvas::fillGuard(uint8_t value) {
  for (int y = y0 - margin; y < y0 + height + margin; ++y)
    for (int x = x0 - margin; x < x0 + width + margin; ++x)
      if (x < x0 || x >= x0 + width || y < y0 || y >= y0 + height) at(x, y) = value;
}

void Canvas::render(const Shape& shape, uint8_t background, uint8_t foreground) {
  const int left = x0, right = x0 + width;  // columns [left, right)
  const int top = y0, bottom = y0 + height;
  const int columns = right - left;
  std::vector<double> cover(columns);
  std::vector<uint8_t> edgePixel(columns);
  std::vector<double> crossings;

  for (int y = top; y < bottom; ++y) {
    std::fill(cover.begin(), cover.end(), 0.0);
    const double yc = y, ya = y - 0.5, yb = y + 0.5;
    for (const Polygon& part : shape.parts) {
      std::fill(edgePixel.begin(), edgePixel.end(), 0);
      crossings.clear();
      const auto& v = part.vertices;
      for (size_t i = 0, n = v.size(); i < n; ++i) {
        const Pt& a = v[i];
        const Pt& b = v[(i + 1) % n];
        if ((a.y > yc) != (b.y > yc)) crossings.push_back(a.x + (yc - a.y) * (b.x - a.x) / (b.y - a.y));
        if (std::max(a.y, b.y) < ya || std::min(a.y, b.y) > yb) continue;
        // The edge's stretch inside the row's band marks the pixels it passes through.
        double xa = a.x, xb = b.x;
        if (a.y != b.y) {
          const double ta = std::clamp((ya - a.y) / (b.y - a.y), 0.0, 1.0);
          const double tb = std::clamp((yb - a.y) / (b.y - a.y), 0.0, 1.0);
          xa = a.x + ta * (b.x - a.x);
          xb = a.x + tb * (b.x - a.x);
        }
        const int c0 = static_cast<int>(std::floor(std::min(xa, xb) + 0.5));
        const int c1 = static_cast<int>(std::floor(std::max(xa, xb) + 0.5));
        for (int c = std::max(c0, left); c <= std::min(c1, right - 1); ++c) edgePixel[c - left] = 1;
      }
      std::sort(crossings.begin(), crossings.end());
      size_t k = 0;
      for (int c = left; c < right; ++c) {
        while (k < crossings.size() && crossings[k] < c) ++k;
        double a;
        if (edgePixel[c - left])
          a = part.areaInBox(c - 0.5, ya, c + 0.5, yb);
        else
          a = (k % 2 == 1) ? 1.0 : 0.0;
        cover[c - left] += part.sign * a;
      }
    }
    for (int c = left; c < right; ++c) {
      const double cov = std::clamp(cover[c - left], 0.0, 1.0);
      const double value = background + (foreground - background) * cov;
      at(c, y) = static_cast<uint8_t>(std::lround(value));
    }
  }
}

}  // namespace shapes
