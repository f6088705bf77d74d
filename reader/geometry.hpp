// Small geometry the Data Matrix road's measurements share: bilinear sampling, the projective
// map of the unit square onto a quadrilateral, and lines through a point with a unit direction
// (fitted to points, intersected). The PDF417 road uses them too.
#ifndef IDUT_READER_GEOMETRY_HPP
#define IDUT_READER_GEOMETRY_HPP

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "base/cimg.h"

namespace dmroad {

// The bilinear blend of the pixel at p, its right neighbour dx and the row below dy, at the
// fraction fx, fy between them.
inline double blend(const uint8_t* p, ptrdiff_t dx, ptrdiff_t dy, double fx, double fy) {
  const double top = p[0] + fx * (p[dx] - p[0]);
  const double bottom = p[dy] + fx * (p[dy + dx] - p[dy]);
  return top + fy * (bottom - top);
}

// Bilinear grey value at (x, y) in the located corners' convention (pixel x covers [x, x + 1),
// so its centre is x + 0.5), clamped to the window.
inline double sampleAt(const cimg_windowConst& w, double x, double y) {
  x -= 0.5;
  y -= 0.5;
  x = x < 0 ? 0 : (x > w.width - 1.0 ? w.width - 1.0 : x);
  y = y < 0 ? 0 : (y > w.height - 1.0 ? w.height - 1.0 : y);
  const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  const ptrdiff_t dx = x0 + 1 < w.width ? 1 : 0;
  const ptrdiff_t dy = y0 + 1 < w.height ? w.stride : 0;
  return blend(w.pixels + static_cast<ptrdiff_t>(y0) * w.stride + x0, dx, dy, x - x0, y - y0);
}

// Whether the point samples without clamping: its bilinear neighbours all lie in the window.
// False when a coordinate is not a number.
inline bool sampleNeedsNoClamp(const cimg_windowConst& w, const cmath_vect& p) {
  return p.x >= 0.5 && p.y >= 0.5 && p.x < w.width - 0.5 && p.y < w.height - 0.5;
}

// Whether every point of the box around the four points samples without clamping.
inline bool samplesUnclamped(const cimg_windowConst& w, const std::array<cmath_vect, 4>& q) {
  for (const cmath_vect& p : q)
    if (!sampleNeedsNoClamp(w, p)) return false;
  return true;
}

// Whether the quadrilateral, its corners in order around it, turns the same way at every
// corner: convex, and no three corners on a line.
inline bool convexQuad(const std::array<cmath_vect, 4>& q) {
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect a = q[i], b = q[(i + 1) % 4], c = q[(i + 2) % 4];
    const double z = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
    const int s = z > 0 ? 1 : (z < 0 ? -1 : 0);
    if (s == 0 || (sign != 0 && s != sign)) return false;
    sign = s;
  }
  return true;
}

// sampleAt for a point that samples without clamping: the same value, with neither the clamps
// nor the tests for the window's last column and row.
inline double sampleUnclamped(const cimg_windowConst& w, double x, double y) {
  x -= 0.5;
  y -= 0.5;
  const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  return blend(w.pixels + static_cast<ptrdiff_t>(y0) * w.stride + x0, 1, w.stride, x - x0, y - y0);
}

inline double distance(const cmath_vect& a, const cmath_vect& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The projective map of the unit square onto a quadrilateral, in closed form: (0, 0) to p00,
// (1, 0) to p10, (1, 1) to p11, (0, 1) to p01.
struct SquareToQuad {
  double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0, g = 0, h = 0;

  SquareToQuad() = default;
  SquareToQuad(cmath_vect p00, cmath_vect p10, cmath_vect p11, cmath_vect p01) {
    const double sx = p00.x - p10.x + p11.x - p01.x, sy = p00.y - p10.y + p11.y - p01.y;
    const double dx1 = p10.x - p11.x, dx2 = p01.x - p11.x, dy1 = p10.y - p11.y, dy2 = p01.y - p11.y;
    const double den = dx1 * dy2 - dx2 * dy1;
    if (den != 0) {
      g = (sx * dy2 - dx2 * sy) / den;
      h = (dx1 * sy - sx * dy1) / den;
    }
    a = p10.x - p00.x + g * p10.x;
    b = p01.x - p00.x + h * p01.x;
    c = p00.x;
    d = p10.y - p00.y + g * p10.y;
    e = p01.y - p00.y + h * p01.y;
    f = p00.y;
  }
  cmath_vect map(double u, double v) const {
    const double w = 1 / (g * u + h * v + 1);  // one division for both coordinates
    return cmath_vect{(a * u + b * v + c) * w, (d * u + e * v + f) * w};
  }
};

struct EdgeLine {
  cmath_vect point;
  cmath_vect dir;  // unit
};

// Orthogonal least-squares line through the points (through their centroid, along the major
// axis of their scatter). False, line untouched, for fewer than two points.
inline bool fitLine(const std::vector<cmath_vect>& pts, EdgeLine* line) {
  if (pts.size() < 2) return false;
  double mx = 0, my = 0;
  for (const cmath_vect& p : pts) {
    mx += p.x;
    my += p.y;
  }
  mx /= static_cast<double>(pts.size());
  my /= static_cast<double>(pts.size());
  double sxx = 0, sxy = 0, syy = 0;
  for (const cmath_vect& p : pts) {
    sxx += (p.x - mx) * (p.x - mx);
    sxy += (p.x - mx) * (p.y - my);
    syy += (p.y - my) * (p.y - my);
  }
  const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
  *line = EdgeLine{cmath_vect{mx, my}, cmath_vect{std::cos(angle), std::sin(angle)}};
  return true;
}

// Distance of p from the line.
inline double offLine(const EdgeLine& l, const cmath_vect& p) {
  return std::fabs((p.x - l.point.x) * l.dir.y - (p.y - l.point.y) * l.dir.x);
}

inline bool crossing(const EdgeLine& a, const EdgeLine& b, cmath_vect* at) {
  const double d = a.dir.x * b.dir.y - a.dir.y * b.dir.x;
  if (std::fabs(d) < 1e-6) return false;
  const double t = ((b.point.x - a.point.x) * b.dir.y - (b.point.y - a.point.y) * b.dir.x) / d;
  *at = cmath_vect{a.point.x + t * a.dir.x, a.point.y + t * a.dir.y};
  return true;
}

}  // namespace dmroad

#endif
