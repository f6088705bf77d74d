// Inside the scene generator: the small geometry of outlines and clutter, and the seed hash,
// shared by the renderer and the scene categories.
#ifndef IDUT_TOOLS_SCENES_SCENE_GEOMETRY_HPP
#define IDUT_TOOLS_SCENES_SCENE_GEOMETRY_HPP

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "scenes/scene.hpp"

namespace scene::geometry {

using Quad = std::array<Point, 4>;
using Polygon = std::vector<Point>;

inline double cross(Point o, Point a, Point b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

// Convex polygons (either orientation) overlap unless an edge normal separates them.
inline bool convexOverlap(const Polygon& a, const Polygon& b) {
  for (int pass = 0; pass < 2; ++pass) {
    const Polygon& p = pass == 0 ? a : b;
    for (size_t i = 0; i < p.size(); ++i) {
      const Point e0 = p[i];
      const Point e1 = p[(i + 1) % p.size()];
      const double nx = e0.y - e1.y, ny = e1.x - e0.x;
      const auto span = [&](const Polygon& poly) {  // the polygon projected on the edge normal
        double lo = INFINITY, hi = -INFINITY;
        for (const Point& q : poly) {
          lo = std::min(lo, nx * q.x + ny * q.y);
          hi = std::max(hi, nx * q.x + ny * q.y);
        }
        return std::pair{lo, hi};
      };
      const auto [aMin, aMax] = span(a);
      const auto [bMin, bMax] = span(b);
      if (aMax < bMin || bMax < aMin) return false;
    }
  }
  return true;
}


// The convex polygon with every edge moved outward by margin pixels (adjacent offset edges
// meet at the new corners).
inline Polygon grown(const Polygon& p, double margin) {
  const size_t n = p.size();
  double area2 = 0;
  for (size_t i = 0; i < n; ++i) area2 += p[i].x * p[(i + 1) % n].y - p[(i + 1) % n].x * p[i].y;
  const double side = area2 > 0 ? 1.0 : -1.0;  // outward normal is (dy, -dx) for counter-clockwise y-up
  struct Line {
    Point a;
    double dx, dy;
  };
  std::vector<Line> lines;
  for (size_t i = 0; i < n; ++i) {
    const Point a = p[i], b = p[(i + 1) % n];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    const double dx = (b.x - a.x) / len, dy = (b.y - a.y) / len;
    lines.push_back({{a.x + side * dy * margin, a.y - side * dx * margin}, dx, dy});
  }
  Polygon out;
  for (size_t i = 0; i < n; ++i) {
    const Line& l0 = lines[(i + n - 1) % n];
    const Line& l1 = lines[i];
    const double det = l0.dx * l1.dy - l0.dy * l1.dx;
    const double t = ((l1.a.x - l0.a.x) * l1.dy - (l1.a.y - l0.a.y) * l1.dx) / det;
    out.push_back({l0.a.x + t * l0.dx, l0.a.y + t * l0.dy});
  }
  return out;
}

// The bounding box of points, as {minX, minY, maxX, maxY}.
template <class Points>
std::array<double, 4> boundsOf(const Points& points) {
  std::array<double, 4> b{INFINITY, INFINITY, -INFINITY, -INFINITY};
  for (const Point& p : points) b = {std::min(b[0], p.x), std::min(b[1], p.y), std::max(b[2], p.x), std::max(b[3], p.y)};
  return b;
}

inline bool insideConvex(const Polygon& p, double x, double y) {
  bool pos = false, neg = false;
  for (size_t i = 0; i < p.size(); ++i) {
    const double c = cross(p[i], p[(i + 1) % p.size()], Point{x, y});
    if (c > 0) pos = true;
    if (c < 0) neg = true;
    if (pos && neg) return false;
  }
  return true;
}

// A rectangle of the given width around the segment a-b.
inline Polygon strokePolygon(Point a, Point b, double width) {
  const double len = std::hypot(b.x - a.x, b.y - a.y);
  if (len <= 0) return {};
  const double nx = -(b.y - a.y) / len * width / 2;
  const double ny = (b.x - a.x) / len * width / 2;
  return {{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}};
}

// A rectangle of size w x h whose local origin (0, 0) sits at origin, turned by angle.
inline Polygon rotatedRect(Point origin, double angle, double x0, double y0, double w, double h) {
  const double c = std::cos(angle), s = std::sin(angle);
  auto at = [&](double x, double y) { return Point{origin.x + c * x - s * y, origin.y + s * x + c * y}; };
  return {at(x0, y0), at(x0 + w, y0), at(x0 + w, y0 + h), at(x0, y0 + h)};
}

// A 32-bit integer hash: seeds that differ in one bit give unrelated streams.
inline uint32_t mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

}  // namespace scene::geometry

#endif
