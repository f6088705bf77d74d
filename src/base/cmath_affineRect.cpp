// Affine rectangles (parallelograms) in three-point and centre form.
#include "base/cmath_affineRect.h"

#include <cmath>
#include <cstdint>

namespace {

cmath_vect sub(const cmath_vect& a, const cmath_vect& b) { return cmath_vect{a.x - b.x, a.y - b.y}; }

bool finite(const cmath_vect& v) { return std::isfinite(v.x) && std::isfinite(v.y); }

cmath_vect poppOf(const cmath_vect& po, const cmath_vect& px, const cmath_vect& py) {
  return cmath_vect{px.x + py.x - po.x, px.y + py.y - po.y};
}

bool degenerate(const cmath_shapeAffineRect& r) {
  if (!finite(r.po) || !finite(r.px) || !finite(r.py)) return true;
  const cmath_vect a = sub(r.px, r.po);
  const cmath_vect b = sub(r.py, r.po);
  const double la = std::hypot(a.x, a.y);
  const double lb = std::hypot(b.x, b.y);
  if (!(la > 0.0) || !(lb > 0.0)) return true;
  const double c = cmath_vect_cross(&a, &b);
  // The relative test keeps the answer independent of the rectangle's scale.
  return !(std::fabs(c) > 1e-12 * la * lb);
}

}  // namespace

extern "C" {

csys_status cmath_shapeAffineRectPoints_init(cmath_shapeAffineRectPoints* points, const cmath_vect* po,
                                             const cmath_vect* px, const cmath_vect* py) {
  CSYS_REQUIRE(points != nullptr && po != nullptr && px != nullptr && py != nullptr);
  const cmath_shapeAffineRectPoints p{*po, *px, *py};
  *points = p;
  return 0;
}

csys_status cmath_shapeAffineRectPoints_initUnit(cmath_shapeAffineRectPoints* points) {
  CSYS_REQUIRE(points != nullptr);
  *points = cmath_shapeAffineRectPoints{{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}};
  return 0;
}

csys_status cmath_shapeAffineRectPoints_getPopp(const cmath_shapeAffineRectPoints* points, cmath_vect* popp) {
  CSYS_REQUIRE(points != nullptr && popp != nullptr);
  *popp = poppOf(points->po, points->px, points->py);
  return 0;
}

csys_status cmath_shapeAffineRect_init(cmath_shapeAffineRect* rect) {
  CSYS_REQUIRE(rect != nullptr);
  *rect = cmath_shapeAffineRect{{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}};
  return 0;
}

csys_status cmath_shapeAffineRect_initPoints(cmath_shapeAffineRect* rect, const cmath_shapeAffineRectPoints* points) {
  CSYS_REQUIRE(rect != nullptr && points != nullptr);
  const cmath_shapeAffineRect r{points->po, points->px, points->py};
  *rect = r;
  return 0;
}

csys_status cmath_shapeAffineRect_getPoints(const cmath_shapeAffineRect* rect, cmath_shapeAffineRectPoints* points) {
  CSYS_REQUIRE(rect != nullptr && points != nullptr);
  const cmath_shapeAffineRectPoints p{rect->po, rect->px, rect->py};
  *points = p;
  return 0;
}

csys_status cmath_shapeAffineRect_getPopp(const cmath_shapeAffineRect* rect, cmath_vect* popp) {
  CSYS_REQUIRE(rect != nullptr && popp != nullptr);
  *popp = poppOf(rect->po, rect->px, rect->py);
  return 0;
}

csys_status cmath_shapeAffineRect_initCenter(cmath_shapeAffineRect* rect, const cmath_shapeAffineRectCenter* center) {
  CSYS_REQUIRE(rect != nullptr && center != nullptr);
  const cmath_shapeAffineRectCenter c = *center;
  if (!finite(c.center) || !std::isfinite(c.xLength) || !std::isfinite(c.yLength) || !std::isfinite(c.xRotation) ||
      !std::isfinite(c.yRotation))
    return csys_errBadArgument;
  const cmath_vect ux{std::cos(c.xRotation), std::sin(c.xRotation)};
  const cmath_vect uy{-std::sin(c.yRotation), std::cos(c.yRotation)};
  const cmath_vect a{c.xLength * ux.x, c.xLength * ux.y};
  const cmath_vect b{c.yLength * uy.x, c.yLength * uy.y};
  const cmath_vect po{c.center.x - 0.5 * (a.x + b.x), c.center.y - 0.5 * (a.y + b.y)};
  *rect = cmath_shapeAffineRect{po, {po.x + a.x, po.y + a.y}, {po.x + b.x, po.y + b.y}};
  return 0;
}

csys_status cmath_shapeAffineRect_getCenter(const cmath_shapeAffineRect* rect, cmath_shapeAffineRectCenter* center) {
  CSYS_REQUIRE(rect != nullptr && center != nullptr);
  const cmath_vect a = sub(rect->px, rect->po);
  const cmath_vect b = sub(rect->py, rect->po);
  cmath_shapeAffineRectCenter c;
  c.center = cmath_vect{rect->po.x + 0.5 * (a.x + b.x), rect->po.y + 0.5 * (a.y + b.y)};
  c.xLength = std::hypot(a.x, a.y);
  c.yLength = std::hypot(b.x, b.y);
  const bool hasX = c.xLength > 0.0;
  const bool hasY = c.yLength > 0.0;
  const double xAngle = hasX ? std::atan2(a.y, a.x) : 0.0;
  // The Y side's direction less a quarter turn: the same angle as X for an upright rectangle.
  const double yAngle = hasY ? cmath_radian_norm(std::atan2(b.y, b.x) - 0.5 * M_PI) : 0.0;
  c.xRotation = hasX ? xAngle : yAngle;
  c.yRotation = hasY ? yAngle : xAngle;
  *center = c;
  return 0;
}

csys_status cmath_shapeAffineRect_getXLength(const cmath_shapeAffineRect* rect, double* length) {
  CSYS_REQUIRE(rect != nullptr && length != nullptr);
  *length = cmath_vect_getDistance(&rect->px, &rect->po);
  return 0;
}

csys_status cmath_shapeAffineRect_getYLength(const cmath_shapeAffineRect* rect, double* length) {
  CSYS_REQUIRE(rect != nullptr && length != nullptr);
  *length = cmath_vect_getDistance(&rect->py, &rect->po);
  return 0;
}

csys_status cmath_shapeAffineRect_getUnitPoPx(const cmath_shapeAffineRect* rect, cmath_vect* unit) {
  CSYS_REQUIRE(rect != nullptr && unit != nullptr);
  const cmath_vect a = sub(rect->px, rect->po);
  return cmath_vect_getUnit(&a, unit);
}

csys_status cmath_shapeAffineRect_getEncloseImageRect(const cmath_shapeAffineRect* rect,
                                                      const cmath_xformLinear* xform, cstd_rect32* out) {
  CSYS_REQUIRE(rect != nullptr && out != nullptr);
  cmath_vect corners[4] = {rect->po, rect->px, rect->py, poppOf(rect->po, rect->px, rect->py)};
  if (xform != nullptr)
    for (cmath_vect& p : corners) cmath_xformLinear_mapPoint(xform, &p, &p);
  double minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
  for (const cmath_vect& p : corners) {
    if (!finite(p)) return csys_errBadArgument;
    minX = std::fmin(minX, p.x);
    maxX = std::fmax(maxX, p.x);
    minY = std::fmin(minY, p.y);
    maxY = std::fmax(maxY, p.y);
  }
  const double x0 = std::floor(minX), y0 = std::floor(minY);
  const double x1 = std::ceil(maxX), y1 = std::ceil(maxY);
  constexpr double lo = static_cast<double>(INT32_MIN), hi = static_cast<double>(INT32_MAX);
  if (x0 < lo || y0 < lo || x1 > hi || y1 > hi || x1 - x0 > hi || y1 - y0 > hi) return csys_errBadArgument;
  *out = cstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                     static_cast<int32_t>(y1 - y0)};
  return 0;
}

csys_status cmath_shapeAffineRect_within(const cmath_shapeAffineRect* rect, const cmath_vect* point,
                                         uint32_t* isWithin) {
  CSYS_REQUIRE(rect != nullptr && point != nullptr && isWithin != nullptr);
  *isWithin = 0;
  if (degenerate(*rect)) return 0;
  // Coordinates of the point along the two sides: point = Po + s (Px - Po) + t (Py - Po).
  const cmath_vect a = sub(rect->px, rect->po);
  const cmath_vect b = sub(rect->py, rect->po);
  const cmath_vect w = sub(*point, rect->po);
  const double det = cmath_vect_cross(&a, &b);
  const double s = cmath_vect_cross(&w, &b) / det;
  const double t = cmath_vect_cross(&a, &w) / det;
  constexpr double tol = 1e-12;
  if (s >= -tol && s <= 1.0 + tol && t >= -tol && t <= 1.0 + tol) *isWithin = 1;
  return 0;
}

csys_status cmath_shapeAffineRect_getIsDegenerate(const cmath_shapeAffineRect* rect, uint32_t* isDegenerate) {
  CSYS_REQUIRE(rect != nullptr && isDegenerate != nullptr);
  *isDegenerate = degenerate(*rect) ? 1u : 0u;
  return 0;
}

}  // extern "C"
