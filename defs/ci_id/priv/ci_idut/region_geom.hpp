// Geometry shared by the region sources: small vector helpers, the region's center, the axis
// direction D(q) and the center segments. Internal to the library.
#ifndef IDUT_PRIV_REGION_GEOM_HPP
#define IDUT_PRIV_REGION_GEOM_HPP

#include <cmath>

#include "ci_id/region.h"

namespace cidut_region {

inline cmath_vect add(const cmath_vect& a, const cmath_vect& b) { return cmath_vect{a.x + b.x, a.y + b.y}; }
inline cmath_vect sub(const cmath_vect& a, const cmath_vect& b) { return cmath_vect{a.x - b.x, a.y - b.y}; }
inline cmath_vect scaled(const cmath_vect& a, double k) { return cmath_vect{a.x * k, a.y * k}; }
inline cmath_vect mid(const cmath_vect& a, const cmath_vect& b) {
  return cmath_vect{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
}
inline double cross(const cmath_vect& a, const cmath_vect& b) { return a.x * b.y - a.y * b.x; }
inline bool finite(const cmath_vect& v) { return std::isfinite(v.x) && std::isfinite(v.y); }

// D(q) = w1 Po + w2 U + w3 q for the X axis (U = Px, V = Py) or the Y axis (U = Py, V = Px);
// since w1 + w2 + w3 = 0 it is evaluated as w1 (Po - q) + w2 (U - q), which does not lose
// digits to the size of the coordinates. Not normalised; its sign is arbitrary.
inline cmath_vect axisDir(const cid_region& r, bool xAxis, const cmath_vect& q) {
  const cmath_vect& u = xAxis ? r.px : r.py;
  const cmath_vect& v = xAxis ? r.py : r.px;
  const cmath_vect e = sub(r.popp, v);
  const double w1 = cross(e, sub(v, u));
  const double w2 = cross(e, sub(r.po, v));
  const cmath_vect a = sub(r.po, q), b = sub(u, q);
  return cmath_vect{w1 * a.x + w2 * b.x, w1 * a.y + w2 * b.y};
}

// The crossing of the diagonals; the midpoint of Po-Popp for an affine region or when the
// diagonals are (nearly) parallel.
inline cmath_vect center(const cid_region& r) {
  if (r.isAffine) return mid(r.po, r.popp);
  const cmath_vect d1 = sub(r.popp, r.po);
  const cmath_vect d2 = sub(r.py, r.px);
  const double den = cross(d1, d2);
  if (cmath_double_epsilonEqual(den, 0.0, 1e-12)) return mid(r.po, r.popp);
  const double t = (d2.x * (r.po.y - r.px.y) - (r.po.x - r.px.x) * d2.y) / den;
  return add(r.po, scaled(d1, t));
}

// The axis's center segment through c (see region.h); fails only on a base-library failure
// other than parallel lines, writing nothing then.
csys_status centerSegment(const cid_region& r, bool xAxis, const cmath_vect& c, cidut_lineSeg* segment);

}  // namespace cidut_region

#endif
