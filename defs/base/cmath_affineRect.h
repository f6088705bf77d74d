/* Affine rectangles: parallelograms in client coordinates (double-precision pixels).
 *
 * A rectangle is held as three corners: Po (the origin corner), Px (the end of the X side from
 * Po) and Py (the end of the Y side from Po). The fourth corner is Popp = Px + Py - Po. The
 * corners may come in either turning order; nothing here assumes a clockwise or counter-
 * clockwise outline.
 *
 * The same shape is exchanged in two other forms:
 *  - cmath_shapeAffineRectPoints: the three corners as a plain record;
 *  - cmath_shapeAffineRectCenter: centre, side lengths and side angles. The X side points along
 *    (cos xRotation, sin xRotation); the Y side along (-sin yRotation, cos yRotation), that is
 *    yRotation is the Y side's direction less a quarter turn, so an upright rectangle turned by
 *    an angle a has xRotation = yRotation = a and any difference is the shear. The centre is
 *    (Po + Popp) / 2; a negative length flips its side through the centre.
 *
 * Angles are radians; the y axis points down the image rows. Every function asserts its pointer
 * arguments (csys_errAssertion) and returns a status. */
#ifndef IDUT_CMATH_AFFINERECT_H
#define IDUT_CMATH_AFFINERECT_H

#include "base/cmath.h"
#include "base/cstd.h"

IDUT_EXTERN_C_BEGIN

typedef struct cmath_shapeAffineRectPoints {
  cmath_vect po;
  cmath_vect px;
  cmath_vect py;
} cmath_shapeAffineRectPoints;

typedef struct cmath_shapeAffineRectCenter {
  cmath_vect center;
  double xLength;
  double yLength;
  double xRotation;
  double yRotation;
} cmath_shapeAffineRectCenter;

/* The shape itself; treat the fields as private and go through the functions below. */
typedef struct cmath_shapeAffineRect {
  cmath_vect po;
  cmath_vect px;
  cmath_vect py;
} cmath_shapeAffineRect;

/* ---- three-point form -------------------------------------------------------------- */

/* Sets the three corners (the arguments may alias fields of points). */
IDUT_API csys_status cmath_shapeAffineRectPoints_init(cmath_shapeAffineRectPoints* points, const cmath_vect* po,
                                                      const cmath_vect* px, const cmath_vect* py);
/* The unit square: Po (0,0), Px (1,0), Py (0,1). */
IDUT_API csys_status cmath_shapeAffineRectPoints_initUnit(cmath_shapeAffineRectPoints* points);
/* popp = Px + Py - Po. */
IDUT_API csys_status cmath_shapeAffineRectPoints_getPopp(const cmath_shapeAffineRectPoints* points,
                                                         cmath_vect* popp);

/* ---- the shape ----------------------------------------------------------------------- */

/* The unit square. */
IDUT_API csys_status cmath_shapeAffineRect_init(cmath_shapeAffineRect* rect);
/* The rectangle through the three corners, stored as given (exact round trip with getPoints). */
IDUT_API csys_status cmath_shapeAffineRect_initPoints(cmath_shapeAffineRect* rect,
                                                      const cmath_shapeAffineRectPoints* points);
IDUT_API csys_status cmath_shapeAffineRect_getPoints(const cmath_shapeAffineRect* rect,
                                                     cmath_shapeAffineRectPoints* points);
/* popp = Px + Py - Po. */
IDUT_API csys_status cmath_shapeAffineRect_getPopp(const cmath_shapeAffineRect* rect, cmath_vect* popp);

/* From the centre form (see above). csys_errBadArgument, rect untouched, when a value is not
 * finite. */
IDUT_API csys_status cmath_shapeAffineRect_initCenter(cmath_shapeAffineRect* rect,
                                                      const cmath_shapeAffineRectCenter* center);
/* To the centre form: centre (Po + Popp) / 2, lengths |Px - Po| and |Py - Po| (never negative),
 * xRotation the direction of Px - Po, yRotation the direction of Py - Po less a quarter turn,
 * both in (-pi, pi]. A zero-length side gets the angle that keeps the shape rectangular (the
 * other side's angle), or 0 when both sides are zero. initCenter of the result gives back the
 * corners up to rounding. */
IDUT_API csys_status cmath_shapeAffineRect_getCenter(const cmath_shapeAffineRect* rect,
                                                     cmath_shapeAffineRectCenter* center);

/* |Px - Po| and |Py - Po|. */
IDUT_API csys_status cmath_shapeAffineRect_getXLength(const cmath_shapeAffineRect* rect, double* length);
IDUT_API csys_status cmath_shapeAffineRect_getYLength(const cmath_shapeAffineRect* rect, double* length);

/* The unit vector from Po towards Px; csys_errZeroVector (unit untouched) when Px == Po. */
IDUT_API csys_status cmath_shapeAffineRect_getUnitPoPx(const cmath_shapeAffineRect* rect, cmath_vect* unit);

/* The smallest integer rectangle holding the four corners, mapped first through xform when it is
 * not null: x0 = floor(min x), y0 = floor(min y), width = ceil(max x) - x0, height =
 * ceil(max y) - y0. csys_errBadArgument (out untouched) when a corner is not finite or the
 * rectangle does not fit in 32-bit integers. */
IDUT_API csys_status cmath_shapeAffineRect_getEncloseImageRect(const cmath_shapeAffineRect* rect,
                                                               const cmath_xformLinear* xform, cstd_rect32* out);

/* *isWithin = 1 when the point lies in the closed parallelogram (on its outline counts as
 * inside, to a relative tolerance of 1e-12), else 0. A degenerate rectangle (see below) contains
 * no point. */
IDUT_API csys_status cmath_shapeAffineRect_within(const cmath_shapeAffineRect* rect, const cmath_vect* point,
                                                  uint32_t* isWithin);

/* *isDegenerate = 1 when the rectangle has no area: a side of zero length, the two sides
 * parallel (|cross(Px - Po, Py - Po)| <= 1e-12 * |Px - Po| * |Py - Po|), or a corner that is
 * not finite; else 0. */
IDUT_API csys_status cmath_shapeAffineRect_getIsDegenerate(const cmath_shapeAffineRect* rect,
                                                           uint32_t* isDegenerate);

IDUT_EXTERN_C_END

#endif
