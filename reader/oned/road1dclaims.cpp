#include "reader/oned/road1dclaims.hpp"

#include <cmath>

#include "reader/oned/road1d.hpp"

namespace road1d {

bool withinOutline(const Outline& q, double x, double y, double margin) {
  double twiceArea = 0;
  for (int i = 0; i < 4; ++i) twiceArea += q[i][0] * q[(i + 1) % 4][1] - q[(i + 1) % 4][0] * q[i][1];
  if (!(std::fabs(twiceArea) > 0)) return false;
  // Inside lies on the same side of every edge: the side the outline turns to.
  const double turn = twiceArea > 0 ? 1 : -1;
  for (int i = 0; i < 4; ++i) {
    const double ax = q[i][0], ay = q[i][1];
    const double ex = q[(i + 1) % 4][0] - ax, ey = q[(i + 1) % 4][1] - ay;
    const double length = std::hypot(ex, ey);
    if (!(length > 0)) return false;
    if (turn * (ex * (y - ay) - ey * (x - ax)) / length < -margin) return false;
  }
  return true;
}

bool insideClaimed(const Region& r, const std::vector<Outline>& claimed, double margin) {
  const double nx = -r.dy, ny = r.dx;  // across the bars
  for (const Outline& q : claimed) {
    bool inside = true;
    for (const double along : {r.alongMin, r.alongMax})
      for (const double across : {r.acrossMin, r.acrossMax})
        inside = inside && withinOutline(q, r.cx + r.dx * along + nx * across, r.cy + r.dy * along + ny * across, margin);
    if (inside) return true;
  }
  return false;
}

}  // namespace road1d
