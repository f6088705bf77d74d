// cid_region: construction and measurements of a symbol's quadrilateral, and its vector family.
#include "ci_id/region.h"

#include <cmath>

#include "ci_id/priv/ci_idut/region_geom.hpp"
#include "ci_id/priv/ci_idut/vector_defs.hpp"

namespace cidut_region {

csys_status centerSegment(const cid_region& r, bool xAxis, const cmath_vect& c, cidut_lineSeg* segment) {
  const cmath_vect& u = xAxis ? r.px : r.py;
  const cmath_vect& v = xAxis ? r.py : r.px;
  if (r.isAffine) {
    *segment = cidut_lineSeg{mid(r.po, v), mid(u, r.popp)};
    return 0;
  }
  // The line through the center towards the axis's vanishing point, cut by the two sides of the
  // other axis. A side parallel to it (or a zero direction) falls back to the side's midpoint.
  const cmath_shapeLine across{axisDir(r, xAxis, c), c};
  const cmath_shapeLine first{sub(v, r.po), r.po};
  const cmath_shapeLine second{sub(r.popp, u), u};
  cidut_lineSeg s;
  csys_status st = cmath_shapeLine_intersection(&across, &first, &s.p1);
  if (st == csys_errParallelLines) s.p1 = mid(r.po, v);
  else if (CSYS_FAILED(st)) return st;
  st = cmath_shapeLine_intersection(&across, &second, &s.p2);
  if (st == csys_errParallelLines) s.p2 = mid(u, r.popp);
  else if (CSYS_FAILED(st)) return st;
  *segment = s;
  return 0;
}

}  // namespace cidut_region

using namespace cidut_region;

namespace {

const cmath_vect& sideStart(const cid_region& r, bool xAxis, uint32_t side) {
  if (side) return r.po;
  return xAxis ? r.py : r.px;
}
const cmath_vect& sideEnd(const cid_region& r, bool xAxis, uint32_t side) {
  if (side) return xAxis ? r.px : r.py;
  return r.popp;
}

csys_status getVect(const cid_region* region, bool xAxis, uint32_t side, cmath_vect* vector) {
  CSYS_REQUIRE(region != nullptr && vector != nullptr);
  *vector = sub(sideEnd(*region, xAxis, side), sideStart(*region, xAxis, side));
  return 0;
}

csys_status getLength(const cid_region* region, bool xAxis, uint32_t side, double* length) {
  CSYS_REQUIRE(region != nullptr && length != nullptr);
  *length = cmath_vect_getDistance(&sideEnd(*region, xAxis, side), &sideStart(*region, xAxis, side));
  return 0;
}

csys_status getAngle(const cid_region* region, bool xAxis, uint32_t side, double* angle) {
  CSYS_REQUIRE(region != nullptr && angle != nullptr);
  const cmath_vect v = sub(sideEnd(*region, xAxis, side), sideStart(*region, xAxis, side));
  return cmath_vect_getDirection(&v, angle);
}

csys_status getLengths(const cid_region* region, bool xAxis, double* shorter, double* longer) {
  CSYS_REQUIRE(region != nullptr && shorter != nullptr && longer != nullptr);
  double second = 0.0, first = 0.0;
  getLength(region, xAxis, 0, &second);
  getLength(region, xAxis, 1, &first);
  if (second < first) std::swap(first, second);  // strictly: equal lengths stay in order
  *shorter = first;
  *longer = second;
  return 0;
}

csys_status getCenterSegmentOf(const cid_region* region, bool xAxis, cidut_lineSeg* segment) {
  CSYS_REQUIRE(region != nullptr && segment != nullptr);
  return centerSegment(*region, xAxis, center(*region), segment);
}

csys_status getAvLength(const cid_region* region, bool xAxis, double* length) {
  CSYS_REQUIRE(region != nullptr && length != nullptr);
  const cid_region& r = *region;
  if (r.isAffine) {
    *length = cmath_vect_getDistance(xAxis ? &r.px : &r.py, &r.po);
    return 0;
  }
  cidut_lineSeg s;
  const csys_status st = centerSegment(r, xAxis, center(r), &s);
  if (CSYS_FAILED(st)) return st;
  *length = cmath_vect_getDistance(&s.p2, &s.p1);
  return 0;
}

csys_status avUnitDir(const cid_region& r, bool xAxis, cmath_vect* unit) {
  cmath_vect v;
  if (r.isAffine) {
    v = sub(xAxis ? r.px : r.py, r.po);
  } else {
    cidut_lineSeg s;
    const csys_status st = centerSegment(r, xAxis, center(r), &s);
    if (CSYS_FAILED(st)) return st;
    v = sub(s.p2, s.p1);
  }
  if (CSYS_FAILED(cmath_vect_getUnit(&v, unit))) *unit = xAxis ? cmath_vect{1.0, 0.0} : cmath_vect{0.0, 1.0};
  return 0;
}

csys_status getAvUnitDir(const cid_region* region, bool xAxis, cmath_vect* unit) {
  CSYS_REQUIRE(region != nullptr && unit != nullptr);
  cmath_vect u;
  const csys_status st = avUnitDir(*region, xAxis, &u);
  if (CSYS_FAILED(st)) return st;
  *unit = u;
  return 0;
}

csys_status getAvAngle(const cid_region* region, bool xAxis, double* angle) {
  CSYS_REQUIRE(region != nullptr && angle != nullptr);
  cmath_vect u;
  const csys_status st = avUnitDir(*region, xAxis, &u);
  if (CSYS_FAILED(st)) return st;
  return cmath_vect_getDirection(&u, angle);
}

// The axis direction at q, signed to point like V->Popp; zero when D(q) is zero.
cmath_vect signedDirAt(const cid_region& r, bool xAxis, const cmath_vect& q) {
  cmath_vect d = axisDir(r, xAxis, q);
  const cmath_vect e = sub(r.popp, xAxis ? r.py : r.px);
  if (cmath_vect_dot(&d, &e) <= 0.0) d = cmath_vect{-d.x, -d.y};
  return d;
}

csys_status getDirAtPoint(const cid_region* region, bool xAxis, const cmath_vect* point, cmath_vect* unit) {
  CSYS_REQUIRE(region != nullptr && point != nullptr && unit != nullptr);
  const cid_region& r = *region;
  const cmath_vect d = r.isAffine ? sub(xAxis ? r.px : r.py, r.po) : signedDirAt(r, xAxis, *point);
  if (CSYS_FAILED(cmath_vect_getUnit(&d, unit))) *unit = cmath_vect{0.0, 0.0};
  return 0;
}

csys_status getAngleAtPoint(const cid_region* region, bool xAxis, const cmath_vect* point, double* angle) {
  CSYS_REQUIRE(region != nullptr && point != nullptr && angle != nullptr);
  const cid_region& r = *region;
  const cmath_vect d = r.isAffine ? sub(xAxis ? r.px : r.py, r.po) : signedDirAt(r, xAxis, *point);
  return cmath_vect_getDirection(&d, angle);
}

csys_status getForeshortening(const cid_region* region, bool xAxis, double* ratio) {
  CSYS_REQUIRE(region != nullptr && ratio != nullptr);
  const cid_region& r = *region;
  if (r.isAffine) {
    *ratio = 1.0;
    return 0;
  }
  const cmath_vect c = center(r);
  cidut_lineSeg s;
  const csys_status st = centerSegment(r, xAxis, c, &s);
  if (CSYS_FAILED(st)) return st;
  const double l1 = cmath_vect_getDistance(&s.p1, &c);
  const double l2 = cmath_vect_getDistance(&s.p2, &c);
  const double hi = std::fmax(l1, l2);
  // A segment collapsed onto the center shows no foreshortening.
  *ratio = hi > 0.0 ? std::fmin(l1, l2) / hi : 1.0;
  return 0;
}

csys_status region_initAllOne(cid_region* region) {
  *region = cid_region{{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}, {1, 1, 1, 1}, 1};
  return 0;
}

csys_status regionElementConstruct(void* element) { return region_initAllOne(static_cast<cid_region*>(element)); }

const cstd_vector_vtable regionElementTable = {regionElementConstruct, nullptr, nullptr, nullptr, 0xFFFFFFFFu};

}  // namespace

extern "C" {

// ---- construction --------------------------------------------------------------------------

csys_status cid_region_init(cid_region* region) {
  CSYS_REQUIRE(region != nullptr);
  return region_initAllOne(region);
}

csys_status cid_region_initPoPxPyPopp(cid_region* region, const cmath_vect* po, const cmath_vect* px,
                                      const cmath_vect* py, const cmath_vect* popp) {
  CSYS_REQUIRE(region != nullptr && po != nullptr && px != nullptr && py != nullptr);
  // Read everything before writing: the points may be fields of the region itself.
  cid_region r;
  r.po = *po;
  r.px = *px;
  r.py = *py;
  if (popp == nullptr) {
    r.popp = add(r.px, sub(r.py, r.po));
    r.isAffine = 1;
  } else {
    r.popp = *popp;
    r.isAffine = 0;
  }
  for (uint32_t& t : r.tightness) t = 1;
  *region = r;
  return 0;
}

csys_status cid_region_initAffineRectPoints(cid_region* region, const cmath_shapeAffineRectPoints* points,
                                            const cmath_vect* popp) {
  CSYS_REQUIRE(region != nullptr && points != nullptr);
  const cmath_shapeAffineRectPoints p = *points;
  return cid_region_initPoPxPyPopp(region, &p.po, &p.px, &p.py, popp);
}

csys_status cid_region_initAffineRect(cid_region* region, const cmath_shapeAffineRect* rect, const cmath_vect* popp) {
  CSYS_REQUIRE(region != nullptr && rect != nullptr);
  cmath_shapeAffineRectPoints p;
  csys_status st;
  CSYS_TRY(st, cmath_shapeAffineRect_getPoints(rect, &p));
  return cid_region_initAffineRectPoints(region, &p, popp);
}

csys_status cid_region_initAffineRectCenter(cid_region* region, const cmath_shapeAffineRectCenter* center,
                                            const cmath_vect* popp) {
  CSYS_REQUIRE(region != nullptr && center != nullptr);
  cmath_shapeAffineRect rect;
  csys_status st;
  CSYS_TRY(st, cmath_shapeAffineRect_initCenter(&rect, center));
  return cid_region_initAffineRect(region, &rect, popp);
}

csys_status cid_region_initVectPoints(cid_region* region, const cmath_vect points[4], uint32_t cyclic) {
  CSYS_REQUIRE(region != nullptr && points != nullptr);
  cid_region r;
  r.po = points[0];
  r.px = points[1];
  r.py = points[cyclic ? 3 : 2];
  r.popp = points[cyclic ? 2 : 3];
  for (uint32_t& t : r.tightness) t = 1;
  r.isAffine = 0;
  *region = r;
  return 0;
}

csys_status cid_region_initPoints(cid_region* region, const cid_regionPoint points[4], uint32_t cyclic) {
  CSYS_REQUIRE(region != nullptr && points != nullptr);
  cmath_vect v[4];
  for (int i = 0; i < 4; ++i) v[i] = cmath_vect{points[i].x, points[i].y};
  return cid_region_initVectPoints(region, v, cyclic);
}

csys_status cid_region_getVectPoints(const cid_region* region, cmath_vect points[4], uint32_t cyclic) {
  CSYS_REQUIRE(region != nullptr && points != nullptr);
  const cid_region r = *region;
  points[0] = r.po;
  points[1] = r.px;
  points[cyclic ? 3 : 2] = r.py;
  points[cyclic ? 2 : 3] = r.popp;
  return 0;
}

csys_status cid_region_getPoints(const cid_region* region, cid_regionPoint points[4], uint32_t cyclic) {
  CSYS_REQUIRE(region != nullptr && points != nullptr);
  cmath_vect v[4];
  cid_region_getVectPoints(region, v, cyclic);
  for (int i = 0; i < 4; ++i) points[i] = cid_regionPoint{v[i].x, v[i].y};
  return 0;
}

csys_status cid_region_initLines(cid_region* region, const cmath_shapeLine linesA[2], const cmath_shapeLine linesB[2]) {
  CSYS_REQUIRE(region != nullptr && linesA != nullptr && linesB != nullptr);
  cid_region r;
  csys_status st;
  CSYS_TRY(st, cmath_shapeLine_intersection(&linesA[0], &linesB[0], &r.po));
  CSYS_TRY(st, cmath_shapeLine_intersection(&linesA[1], &linesB[0], &r.px));
  CSYS_TRY(st, cmath_shapeLine_intersection(&linesA[0], &linesB[1], &r.py));
  CSYS_TRY(st, cmath_shapeLine_intersection(&linesA[1], &linesB[1], &r.popp));
  for (uint32_t& t : r.tightness) t = 1;
  r.isAffine = 0;
  *region = r;
  return 0;
}

csys_status cid_region_getLines(const cid_region* region, cmath_shapeLine linesA[2], cmath_shapeLine linesB[2]) {
  CSYS_REQUIRE(region != nullptr && linesA != nullptr && linesB != nullptr);
  const cid_region r = *region;
  linesA[0] = cmath_shapeLine{sub(r.py, r.po), r.po};
  linesA[1] = cmath_shapeLine{sub(r.popp, r.px), r.px};
  linesB[0] = cmath_shapeLine{sub(r.px, r.po), r.po};
  linesB[1] = cmath_shapeLine{sub(r.popp, r.py), r.py};
  return 0;
}

csys_status cid_region_initShift(cid_region* destination, const cmath_vect* shift, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && shift != nullptr && source != nullptr);
  cid_region r = *source;
  const cmath_vect t = *shift;
  r.po = add(r.po, t);
  r.px = add(r.px, t);
  r.py = add(r.py, t);
  r.popp = add(r.popp, t);
  *destination = r;
  return 0;
}

csys_status cid_region_initFlipX(cid_region* destination, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  cid_region r = *source;
  std::swap(r.po, r.px);
  std::swap(r.py, r.popp);
  *destination = r;
  return 0;
}

csys_status cid_region_initFlipY(cid_region* destination, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  cid_region r = *source;
  std::swap(r.po, r.py);
  std::swap(r.px, r.popp);
  *destination = r;
  return 0;
}

csys_status cid_region_initRotatePoints(cid_region* destination, int32_t steps, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  const int32_t r = steps % 4;
  CSYS_REQUIRE(r >= 0);
  const cid_region s = *source;
  if (r == 0) {
    *destination = s;
    return 0;
  }
  // Corners and side tightness around the outline; side i runs from c[i] to c[i + 1].
  const cmath_vect c[4] = {s.po, s.px, s.popp, s.py};
  const uint32_t ct[4] = {s.tightness[0], s.tightness[2], s.tightness[3], s.tightness[1]};
  cid_region out;
  const cmath_vect popp = c[(r + 2) % 4];
  cid_region_initPoPxPyPopp(&out, &c[r], &c[(r + 1) % 4], &c[(r + 3) % 4], s.isAffine ? nullptr : &popp);
  out.tightness[0] = ct[r];
  out.tightness[2] = ct[(r + 1) % 4];
  out.tightness[3] = ct[(r + 2) % 4];
  out.tightness[1] = ct[(r + 3) % 4];
  *destination = out;
  return 0;
}

csys_status cid_region_copyTightness(cid_region* destination, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  for (int i = 0; i < 4; ++i) destination->tightness[i] = source->tightness[i];
  return 0;
}

// ---- measurements ------------------------------------------------------------------------

csys_status cid_region_getXVect(const cid_region* region, uint32_t side, cmath_vect* vector) {
  return getVect(region, true, side, vector);
}
csys_status cid_region_getYVect(const cid_region* region, uint32_t side, cmath_vect* vector) {
  return getVect(region, false, side, vector);
}
csys_status cid_region_getXLength(const cid_region* region, uint32_t side, double* length) {
  return getLength(region, true, side, length);
}
csys_status cid_region_getYLength(const cid_region* region, uint32_t side, double* length) {
  return getLength(region, false, side, length);
}
csys_status cid_region_getXAngle(const cid_region* region, uint32_t side, double* angle) {
  return getAngle(region, true, side, angle);
}
csys_status cid_region_getYAngle(const cid_region* region, uint32_t side, double* angle) {
  return getAngle(region, false, side, angle);
}
csys_status cid_region_getXLengths(const cid_region* region, double* shorter, double* longer) {
  return getLengths(region, true, shorter, longer);
}
csys_status cid_region_getYLengths(const cid_region* region, double* shorter, double* longer) {
  return getLengths(region, false, shorter, longer);
}

csys_status cid_region_getCenter(const cid_region* region, cmath_vect* c) {
  CSYS_REQUIRE(region != nullptr && c != nullptr);
  *c = center(*region);
  return 0;
}

csys_status cid_region_getXCenterSegment(const cid_region* region, cidut_lineSeg* segment) {
  return getCenterSegmentOf(region, true, segment);
}
csys_status cid_region_getYCenterSegment(const cid_region* region, cidut_lineSeg* segment) {
  return getCenterSegmentOf(region, false, segment);
}

csys_status cid_region_getCenterSegments(const cid_region* region, cmath_vect* c, cidut_lineSeg* xSegment,
                                         cidut_lineSeg* ySegment) {
  CSYS_REQUIRE(region != nullptr && c != nullptr && xSegment != nullptr && ySegment != nullptr);
  const cid_region r = *region;
  const cmath_vect m = center(r);
  cidut_lineSeg xs, ys;
  csys_status st;
  CSYS_TRY(st, centerSegment(r, true, m, &xs));
  CSYS_TRY(st, centerSegment(r, false, m, &ys));
  *c = m;
  *xSegment = xs;
  *ySegment = ys;
  return 0;
}

csys_status cid_region_getAvXLength(const cid_region* region, double* length) { return getAvLength(region, true, length); }
csys_status cid_region_getAvYLength(const cid_region* region, double* length) { return getAvLength(region, false, length); }
csys_status cid_region_getAvXUnitDir(const cid_region* region, cmath_vect* unit) { return getAvUnitDir(region, true, unit); }
csys_status cid_region_getAvYUnitDir(const cid_region* region, cmath_vect* unit) { return getAvUnitDir(region, false, unit); }
csys_status cid_region_getAvXAngle(const cid_region* region, double* angle) { return getAvAngle(region, true, angle); }
csys_status cid_region_getAvYAngle(const cid_region* region, double* angle) { return getAvAngle(region, false, angle); }

csys_status cid_region_getXDirAtPoint(const cid_region* region, const cmath_vect* point, cmath_vect* unit) {
  return getDirAtPoint(region, true, point, unit);
}
csys_status cid_region_getYDirAtPoint(const cid_region* region, const cmath_vect* point, cmath_vect* unit) {
  return getDirAtPoint(region, false, point, unit);
}
csys_status cid_region_getXAngleAtPoint(const cid_region* region, const cmath_vect* point, double* angle) {
  return getAngleAtPoint(region, true, point, angle);
}
csys_status cid_region_getYAngleAtPoint(const cid_region* region, const cmath_vect* point, double* angle) {
  return getAngleAtPoint(region, false, point, angle);
}
csys_status cid_region_getXForshortening(const cid_region* region, double* ratio) {
  return getForeshortening(region, true, ratio);
}
csys_status cid_region_getYForshortening(const cid_region* region, double* ratio) {
  return getForeshortening(region, false, ratio);
}

// ---- vectors of regions ------------------------------------------------------------------

CSTD_TYPED_VECTOR_DEFS(cid_region, cid_region, &regionElementTable)

}  // extern "C"
