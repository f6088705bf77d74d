// Perspective checks and mapping around a parallelogram and its measured fourth corner.
#include "ci_id/projective.h"

#include <cmath>

#include "base/csys_cleanup.hpp"
#include "ci_id/line.h"

namespace {

// Distance of the measured corner from the parallelogram's fourth corner.
csys_status poppDeparture(const cmath_shapeAffineRectPoints* points, const cmath_vect* measured, double* distance) {
  cmath_vect popp;
  csys_status st;
  CSYS_TRY(st, cmath_shapeAffineRectPoints_getPopp(points, &popp));
  *distance = cmath_vect_getDistance(&popp, measured);
  return 0;
}

}  // namespace

extern "C" {

csys_status cidut_isPerspectiveMappingRequired(const cmath_shapeAffineRectPoints* points,
                                               const cmath_vect* measuredPopp, uint32_t* required) {
  CSYS_REQUIRE(required != nullptr);
  *required = 0;
  CSYS_REQUIRE(points != nullptr);
  if (measuredPopp == nullptr) return 0;
  double d = 0.0;
  csys_status st;
  CSYS_TRY(st, poppDeparture(points, measuredPopp, &d));
  if (d > 2.0) *required = 1;
  return 0;
}

csys_status cidut_isPerspectiveSevere(const cmath_shapeAffineRectPoints* points, const cmath_vect* measuredPopp,
                                      double limit, uint32_t* severe) {
  CSYS_REQUIRE(severe != nullptr);
  *severe = 0;
  CSYS_REQUIRE(points != nullptr && measuredPopp != nullptr);
  double d = 0.0;
  csys_status st;
  CSYS_TRY(st, poppDeparture(points, measuredPopp, &d));
  if (d > limit) *severe = 1;
  return 0;
}

csys_status cidut_perspectiveMapping_construct(const cmath_shapeAffineRectPoints* points,
                                               const cmath_vect* measuredPopp, cmath_xformPerspective* xform,
                                               cmath_xformPerspective* inverse) {
  CSYS_REQUIRE(points != nullptr && measuredPopp != nullptr && xform != nullptr && inverse != nullptr);
  csys::CleanupList cleanup;
  cmath_vect popp;
  csys_status status = cmath_shapeAffineRectPoints_getPopp(points, &popp);
  if (CSYS_FAILED(status)) return cleanup.exit(status);
  const cmath_vect parallelogram[4] = {points->po, points->px, points->py, popp};
  const cmath_vect measured[4] = {points->po, points->px, points->py, *measuredPopp};

  status = cmath_xformPerspective_constructPointsAllowNonUnique(xform, parallelogram, measured, 4);
  if (CSYS_FAILED(status)) return cleanup.exit(status);
  cleanup.destructOnFailure<cmath_xformPerspective_destruct>(xform);

  status = cmath_xformPerspective_construct(inverse);
  if (CSYS_FAILED(status)) return cleanup.exit(status);
  cleanup.destructOnFailure<cmath_xformPerspective_destruct>(inverse);

  status = cmath_xformPerspective_getInverse(xform, inverse);
  return cleanup.exit(status);
}

csys_status cidut_affine_mapPerspective(const cmath_shapeAffineRect* rect, const cmath_xform* xform,
                                        cmath_shapeAffineRect* out) {
  CSYS_REQUIRE(rect != nullptr && xform != nullptr && out != nullptr);
  cmath_shapeAffineRectPoints p;
  csys_status st;
  CSYS_TRY(st, cmath_shapeAffineRect_getPoints(rect, &p));
  cmath_shapeAffineRectPoints mapped;
  CSYS_TRY(st, cmath_xform_mapPoint(xform, &p.po, &mapped.po));
  CSYS_TRY(st, cmath_xform_mapPoint(xform, &p.px, &mapped.px));
  CSYS_TRY(st, cmath_xform_mapPoint(xform, &p.py, &mapped.py));
  return cmath_shapeAffineRect_initPoints(out, &mapped);
}

csys_status cidut_verifyConvexHull4Points(const cmath_vect* p1, const cmath_vect* p2, const cmath_vect* p3,
                                          const cmath_vect* p4, uint32_t* isConvex) {
  CSYS_REQUIRE(isConvex != nullptr);
  *isConvex = 0;
  CSYS_REQUIRE(p1 != nullptr && p2 != nullptr && p3 != nullptr && p4 != nullptr);
  cidut_lineSeg d14, d23;
  cidut_line l14, l23;
  cmath_vect x;
  csys_status st;
  CSYS_TRY(st, cidut_lineSeg_initP1P2(&d14, p1, p4));
  CSYS_TRY(st, cidut_lineSeg_initP1P2(&d23, p2, p3));
  CSYS_TRY(st, cidut_lineSeg_getLine(&d14, &l14));
  CSYS_TRY(st, cidut_lineSeg_getLine(&d23, &l23));
  CSYS_TRY(st, cidut_line_getIntersection(&l14, &l23, &x));
  const double len14 = cmath_vect_getDistance(p1, p4);
  const double len23 = cmath_vect_getDistance(p2, p3);
  // The crossing must lie on both diagonals, more than a pixel from each end.
  const bool inside14 = cmath_vect_getDistance(p1, &x) + 1.0 < len14 && cmath_vect_getDistance(p4, &x) + 1.0 < len14;
  const bool inside23 = cmath_vect_getDistance(p2, &x) + 1.0 < len23 && cmath_vect_getDistance(p3, &x) + 1.0 < len23;
  if (inside14 && inside23) *isConvex = 1;
  return 0;
}

csys_status cidut_verifyValidBarcodeRgnCorners(const cmath_vect* p1, const cmath_vect* p2, const cmath_vect* p3,
                                               const cmath_vect* p4, const cstd_rect32* rect, uint32_t* code) {
  CSYS_REQUIRE(code != nullptr);
  *code = 0;
  CSYS_REQUIRE(p1 != nullptr && p2 != nullptr && p3 != nullptr && p4 != nullptr && rect != nullptr);
  // Integer limits as doubles; 64-bit arithmetic so x + width - 1 cannot overflow.
  const double xMin = rect->x, xMax = static_cast<double>(static_cast<int64_t>(rect->x) + rect->width - 1);
  const double yMin = rect->y, yMax = static_cast<double>(static_cast<int64_t>(rect->y) + rect->height - 1);
  const cmath_vect* corners[4] = {p1, p2, p3, p4};
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect& p = *corners[i];
    const bool inside = p.x >= xMin && p.x <= xMax && p.y >= yMin && p.y <= yMax;
    if (!inside) bits |= 1u << i;
  }
  uint32_t convex = 0;
  csys_status st;
  CSYS_TRY(st, cidut_verifyConvexHull4Points(p1, p2, p3, p4, &convex));
  if (convex == 0) bits |= 16u;
  *code = bits;
  return 0;
}

}  // extern "C"
