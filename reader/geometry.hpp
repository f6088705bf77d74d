// Small geometry the roads' measurements share: bilinear sampling, the projective map of the unit
// square onto a quadrilateral, and the library's lines (fitted to points, intersected).
#ifndef IDUT_READER_GEOMETRY_HPP
#define IDUT_READER_GEOMETRY_HPP

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "base/cimg.h"
#include "ci_id/line.h"
#include "ci_id/linefit.h"

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
// (1, 0) to p10, (1, 1) to p11, (0, 1) to p01. Not the library's perspective transform: that
// solves the general point-pair problem, about 4000 instructions a map, where this closed form
// takes a few dozen; the border check and the samplers build one for every hypothesis, and the
// library's construction made the whole default run 3.6% slower (instruction counts over the
// photographs). The two agree to rounding: idut-find's output over the generated scenes and the
// photographs was identical with either.
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

// Lines of the road: a point on the line (pos) and its unit direction (dir), the library's own.
using EdgeLine = cidut_line;

// Orthogonal least-squares line through the points, by the library's fit. False, line
// untouched, for fewer than two points or points that fix no direction.
inline bool fitLine(const std::vector<cmath_vect>& pts, EdgeLine* line) {
  return pts.size() >= 2 && pts.size() <= 0x7FFFFFFF &&
         !CSYS_FAILED(cidut_lineFitting(line, pts.data(), static_cast<int32_t>(pts.size())));
}

// Distance of p from the line.
inline double offLine(const EdgeLine& l, const cmath_vect& p) {
  double d = 0;
  cidut_line_getDistToPoint(&l, &p, &d);
  return std::fabs(d);
}

// Where the two lines cross; false when they are (nearly) parallel.
inline bool crossing(const EdgeLine& a, const EdgeLine& b, cmath_vect* at) {
  return !CSYS_FAILED(cidut_line_getIntersection(&a, &b, at));
}

}  // namespace dmroad

#endif
