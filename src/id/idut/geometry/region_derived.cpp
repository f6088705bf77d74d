// Regions derived from a cid_region (mapping, rebuilding from center segments, dilation,
// change of perspective, parallelogram approximation) and the region tests (degeneracy,
// containment, enclosing rectangles).
#include <cmath>
#include <cstdint>

#include "ci_id/priv/ci_idut/region_geom.hpp"
#include "ci_id/region.h"

using namespace cidut_region;

namespace {

void copyTightness(cid_region& to, const cid_region& from) {
  for (int i = 0; i < 4; ++i) to.tightness[i] = from.tightness[i];
}

// Rebuilds from optional X and Y segments, following the reference's perspective; result in
// *out only on success. Tightness is the source's.
csys_status boundPoints(const cidut_lineSeg* xSegment, const cidut_lineSeg* ySegment, const cid_region& src,
                        const cid_region& ref, cid_region* out) {
  cid_region r;
  if (ref.isAffine) {
    const cidut_lineSeg xs = xSegment ? *xSegment : cidut_lineSeg{mid(src.po, src.py), mid(src.px, src.popp)};
    const cidut_lineSeg ys = ySegment ? *ySegment : cidut_lineSeg{mid(src.po, src.px), mid(src.py, src.popp)};
    const cmath_vect h = scaled(sub(ys.p2, ys.p1), 0.5);
    const cmath_vect po = sub(xs.p1, h), px = sub(xs.p2, h), py = add(xs.p1, h);
    cid_region_initPoPxPyPopp(&r, &po, &px, &py, nullptr);
  } else {
    cmath_shapeLine xLines[2], yLines[2];
    if (xSegment) {
      xLines[0] = cmath_shapeLine{axisDir(ref, false, xSegment->p1), xSegment->p1};
      xLines[1] = cmath_shapeLine{axisDir(ref, false, xSegment->p2), xSegment->p2};
    } else {
      xLines[0] = cmath_shapeLine{sub(src.py, src.po), src.po};
      xLines[1] = cmath_shapeLine{sub(src.popp, src.px), src.px};
    }
    if (ySegment) {
      yLines[0] = cmath_shapeLine{axisDir(ref, true, ySegment->p1), ySegment->p1};
      yLines[1] = cmath_shapeLine{axisDir(ref, true, ySegment->p2), ySegment->p2};
    } else {
      yLines[0] = cmath_shapeLine{sub(src.px, src.po), src.po};
      yLines[1] = cmath_shapeLine{sub(src.popp, src.py), src.py};
    }
    csys_status st;
    CSYS_TRY(st, cid_region_initLines(&r, xLines, yLines));
  }
  copyTightness(r, src);
  *out = r;
  return 0;
}

// Moves the ends of a segment out by the scale (each by (s - 1)/2 of its vector) and then by the
// distance (along the vector as it was before the scale). A distance other than 0 on a segment
// of zero length has no direction to move along: a precondition failure.
csys_status dilateSegment(cidut_lineSeg& s, const double* scale, const double* distance, bool moveStart,
                          bool moveEnd) {
  const cmath_vect v = sub(s.p2, s.p1);
  cmath_vect p1 = s.p1, p2 = s.p2;
  if (scale) {
    const cmath_vect k = scaled(v, (*scale - 1.0) / 2.0);
    if (moveStart) p1 = sub(p1, k);
    if (moveEnd) p2 = add(p2, k);
  }
  if (distance && *distance != 0.0) {
    const double len = std::hypot(v.x, v.y);
    CSYS_REQUIRE(len > 0.0);
    const cmath_vect u = scaled(v, *distance / len);
    if (moveStart) p1 = sub(p1, u);
    if (moveEnd) p2 = add(p2, u);
  }
  s.p1 = p1;
  s.p2 = p2;
  return 0;
}

csys_status dilate(const cmath_vect* scale, const cmath_vect* distance, const cid_region& src, cid_region* out) {
  const cmath_vect c = center(src);
  cidut_lineSeg xs, ys;
  csys_status st;
  CSYS_TRY(st, centerSegment(src, true, c, &xs));
  CSYS_TRY(st, centerSegment(src, false, c, &ys));
  CSYS_TRY(st, dilateSegment(xs, scale ? &scale->x : nullptr, distance ? &distance->x : nullptr, true, true));
  CSYS_TRY(st, dilateSegment(ys, scale ? &scale->y : nullptr, distance ? &distance->y : nullptr, true, true));
  return boundPoints(&xs, &ys, src, src, out);
}

csys_status makeAffine(const cid_region& src, cid_region* out) {
  if (src.isAffine) {
    *out = src;
    return 0;
  }
  const cmath_vect c = center(src);
  cidut_lineSeg xs, ys;
  csys_status st;
  CSYS_TRY(st, centerSegment(src, true, c, &xs));
  CSYS_TRY(st, centerSegment(src, false, c, &ys));
  const cmath_vect down = sub(ys.p1, c), up = sub(ys.p2, c);
  const cmath_vect po = add(xs.p1, down), px = add(xs.p2, down), py = add(xs.p1, up);
  cid_region r;
  cid_region_initPoPxPyPopp(&r, &po, &px, &py, nullptr);
  copyTightness(r, src);
  *out = r;
  return 0;
}

bool enclose(const cid_region& region, const cmath_xformLinear* xform, cid_regionRect* rect) {
  cmath_vect p[4] = {region.po, region.px, region.py, region.popp};
  if (xform)
    for (cmath_vect& q : p) cmath_xformLinear_mapPoint(xform, &q, &q);
  double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
  bool ok = true;
  for (const cmath_vect& q : p) {
    ok = ok && finite(q);
    x0 = std::fmin(x0, q.x);
    x1 = std::fmax(x1, q.x);
    y0 = std::fmin(y0, q.y);
    y1 = std::fmax(y1, q.y);
  }
  *rect = cid_regionRect{x0, y0, x1 - x0, y1 - y0};
  return ok;
}

// The whole-pixel box of a client box; false when it cannot be held in 32-bit integers.
bool wholePixels(const cid_regionRect& box, cstd_rect32* out) {
  const double x0 = std::floor(box.x), y0 = std::floor(box.y);
  const double x1 = std::ceil(box.x + box.width), y1 = std::ceil(box.y + box.height);
  constexpr double lo = static_cast<double>(INT32_MIN), hi = static_cast<double>(INT32_MAX);
  // Written so that NaN fails every comparison and is refused.
  if (!(x0 >= lo && y0 >= lo && x1 <= hi && y1 <= hi && x1 - x0 <= hi && y1 - y0 <= hi)) return false;
  *out = cstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                     static_cast<int32_t>(y1 - y0)};
  return true;
}

}  // namespace

extern "C" {

csys_status cid_region_initMap(cid_region* destination, const cmath_xformLinear* xform, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && xform != nullptr && source != nullptr);
  cid_region r = *source;
  cmath_xformLinear_mapPoint(xform, &r.po, &r.po);
  cmath_xformLinear_mapPoint(xform, &r.px, &r.px);
  cmath_xformLinear_mapPoint(xform, &r.py, &r.py);
  cmath_xformLinear_mapPoint(xform, &r.popp, &r.popp);
  *destination = r;
  return 0;
}

csys_status cid_region_initMapPersp(cid_region* destination, const cmath_xformPerspective* xform,
                                    const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && xform != nullptr && source != nullptr);
  cid_region r = *source;
  csys_status st;
  CSYS_TRY(st, cmath_xformPerspective_mapPoint(xform, &r.po, &r.po));
  CSYS_TRY(st, cmath_xformPerspective_mapPoint(xform, &r.px, &r.px));
  CSYS_TRY(st, cmath_xformPerspective_mapPoint(xform, &r.py, &r.py));
  CSYS_TRY(st, cmath_xformPerspective_mapPoint(xform, &r.popp, &r.popp));
  r.isAffine = 0;
  *destination = r;
  return 0;
}

csys_status cid_region_initBoundPoints(cid_region* destination, const cidut_lineSeg* xSegment,
                                       const cidut_lineSeg* ySegment, const cid_region* source,
                                       const cid_region* reference) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr && reference != nullptr);
  return boundPoints(xSegment, ySegment, *source, *reference, destination);
}

csys_status cid_region_initChangePersp(cid_region* destination, const cid_region* source, const cid_region* reference,
                                       uint32_t useX, uint32_t useY) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr && reference != nullptr);
  if (reference->isAffine) {
    *destination = *source;
    return 0;
  }
  const cid_region src = *source;
  const cmath_vect c = center(src);
  cidut_lineSeg xs, ys;
  csys_status st;
  if (useX) CSYS_TRY(st, centerSegment(src, true, c, &xs));
  if (useY) CSYS_TRY(st, centerSegment(src, false, c, &ys));
  return boundPoints(useX ? &xs : nullptr, useY ? &ys : nullptr, src, *reference, destination);
}

csys_status cid_region_initDilate(cid_region* destination, const cmath_vect* scale, const cmath_vect* distance,
                                  const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  return dilate(scale, distance, *source, destination);
}

csys_status cid_region_initDilateX(cid_region* destination, double scale, double distance, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  const cid_region src = *source;
  const bool loose = src.tightness[0] == 0 && src.tightness[1] == 0 && src.tightness[2] == 0 && src.tightness[3] == 0;
  if (!src.isAffine && loose) {
    // No side is pinned down: widen the outline directly along the line between the midpoints
    // of the Y sides.
    const cmath_vect w = sub(mid(src.px, src.popp), mid(src.po, src.py));
    cmath_vect t{0.0, 0.0};
    if (distance != 0.0) {
      const double len = std::hypot(w.x, w.y);
      CSYS_REQUIRE(len > 0.0);
      t = scaled(w, distance / len);
    }
    if (scale != 0.0) t = add(t, scaled(w, (scale - 1.0) / 2.0));
    cid_region r = src;
    r.po = sub(r.po, t);
    r.py = sub(r.py, t);
    r.px = add(r.px, t);
    r.popp = add(r.popp, t);
    r.isAffine = 0;
    *destination = r;
    return 0;
  }
  const cmath_vect scales{scale, 1.0}, distances{distance, 0.0};
  return dilate(&scales, &distances, src, destination);
}

csys_status cid_region_initDilateDim(cid_region* destination, uint32_t xAxis, uint32_t extendStart, uint32_t extendEnd,
                                     const double* scale, const double* distance, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  const cid_region src = *source;
  cidut_lineSeg s;
  csys_status st;
  CSYS_TRY(st, centerSegment(src, xAxis != 0, center(src), &s));
  CSYS_TRY(st, dilateSegment(s, scale, distance, extendStart != 0, extendEnd != 0));
  return boundPoints(xAxis ? &s : nullptr, xAxis ? nullptr : &s, src, src, destination);
}

csys_status cid_region_initMakeAffine(cid_region* destination, const cid_region* source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  return makeAffine(*source, destination);
}

csys_status cid_region_getAffineRect(const cid_region* region, cmath_shapeAffineRect* rect) {
  CSYS_REQUIRE(region != nullptr && rect != nullptr);
  cid_region a;
  csys_status st;
  CSYS_TRY(st, makeAffine(*region, &a));
  const cmath_shapeAffineRectPoints p{a.po, a.px, a.py};
  return cmath_shapeAffineRect_initPoints(rect, &p);
}

csys_status cid_region_getAffineRectAndPopp(const cid_region* region, cmath_shapeAffineRect* rect, cmath_vect* popp) {
  if (region == nullptr || rect == nullptr || popp == nullptr) return csys_errAssertion;
  const cid_region r = *region;
  const cmath_shapeAffineRectPoints p{r.po, r.px, r.py};
  cmath_shapeAffineRect_initPoints(rect, &p);
  *popp = r.popp;
  return 0;
}

csys_status cid_region_getIsDegenerate(const cid_region* region, uint32_t* isDegenerate) {
  CSYS_REQUIRE(region != nullptr && isDegenerate != nullptr);
  *isDegenerate = 0;
  const cid_region r = *region;
  if (!finite(r.po) || !finite(r.px) || !finite(r.py) || !finite(r.popp)) {
    *isDegenerate = 1;
    return 0;
  }
  const cmath_vect e[5] = {sub(r.po, r.px), sub(r.px, r.popp), sub(r.popp, r.py), sub(r.py, r.po), sub(r.po, r.px)};
  const int pairs = r.isAffine ? 2 : 4;
  bool previousPositive = false;
  for (int i = 0; i < pairs; ++i) {
    const cmath_vect& a = e[i];
    const cmath_vect& b = e[i + 1];
    const double c = cross(a, b);
    const double la = a.x * a.x + a.y * a.y, lb = b.x * b.x + b.y * b.y;
    const bool positive = c > 0.0;
    // A corner sharper than about 3.14 degrees, or the outline turning the other way.
    if (std::fabs(c) < 1e-12 || c * c < 0.003 * la * lb || (i > 0 && positive != previousPositive)) {
      *isDegenerate = 1;
      return 0;
    }
    previousPositive = positive;
  }
  return 0;
}

csys_status cid_region_within(const cid_region* region, const cmath_vect* point, uint32_t* isWithin) {
  CSYS_REQUIRE(region != nullptr && point != nullptr && isWithin != nullptr);
  const cid_region r = *region;
  const cmath_vect q = *point;
  *isWithin = 1;
  if (!finite(q) || !finite(r.po) || !finite(r.px) || !finite(r.py) || !finite(r.popp)) {
    *isWithin = 0;
    return 0;
  }
  const cmath_vect outline[5] = {r.py, r.po, r.px, r.popp, r.py};
  bool orientation = false;
  bool allZero = true;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect& a = outline[i];
    const double c = cross(sub(outline[i + 1], a), sub(q, a));
    if (!cmath_double_epsilonEqual(c, 0.0, 1e-12)) allZero = false;
    // The first edge fixes the orientation with c > 0; later edges count c == 0 as positive.
    const bool positive = i == 0 ? c > 0.0 : c >= 0.0;
    if (i == 0) {
      orientation = positive;
    } else if (positive != orientation) {
      *isWithin = 0;
      return 0;
    }
  }
  if (allZero) *isWithin = 0;
  return 0;
}

csys_status cid_region_getEncloseRect(const cid_region* region, const cmath_xformLinear* xform, cid_regionRect* rect) {
  CSYS_REQUIRE(region != nullptr && rect != nullptr);
  cid_regionRect box;
  enclose(*region, xform, &box);
  *rect = box;
  return 0;
}

csys_status cid_region_getEncloseImageRect(const cid_region* region, const cmath_xformLinear* xform, cstd_rect32* rect) {
  CSYS_REQUIRE(region != nullptr && rect != nullptr);
  cid_regionRect box;
  if (!enclose(*region, xform, &box) || !wholePixels(box, rect)) return csys_errBadArgument;
  return 0;
}

csys_status cid_region_isWithinImageRect(const cid_region* region, const cmath_xformLinear* xform,
                                         const cstd_rect32* imageRect, uint32_t* isWithin) {
  CSYS_REQUIRE(region != nullptr && imageRect != nullptr && isWithin != nullptr);
  cid_regionRect box;
  cstd_rect32 pixels;
  *isWithin = (enclose(*region, xform, &box) && wholePixels(box, &pixels) && cstd_rect32_containsRect(imageRect, &pixels))
                  ? 1u
                  : 0u;
  return 0;
}

csys_status cf_affineRect_within(const cmath_shapeAffineRect* rect, const cmath_vect* point, uint32_t* isWithin) {
  CSYS_REQUIRE(rect != nullptr && point != nullptr && isWithin != nullptr);
  return cmath_shapeAffineRect_within(rect, point, isWithin);
}

}  // extern "C"
