/* Fixed-point shapes for inner loops that must stay in integers: points with 4 fraction bits
 * (1/16 pixel), the three-point affine rectangle, segments, and lines with a 16-bit angle, with
 * their distance and containment tests.
 *
 * Units. Every coordinate and every distance is a signed 32-bit integer in 1/16 pixel. A line's
 * angle is 16-bit in 1/65536 turn (0x4000 a quarter turn), the unit of cmath_sin16FixedPoint
 * and cmath_cos16FixedPoint (base/cmath_fixed.h); an angle a in radians is stored as
 * round(a * 32768 / pi) modulo 65536.
 *
 * Every function asserts its pointers and the coordinate ranges stated with it (reported
 * through cstd_assert_, returning csys_errAssertion) and returns a status. */
#ifndef IDUT_CI_ID_FIXPT_H
#define IDUT_CI_ID_FIXPT_H

#include "base/cmath_affineRect.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* A point in 1/16 pixel. */
typedef struct cmath_vect32_4 {
  int32_t x;
  int32_t y;
} cmath_vect32_4;

/* A parallelogram by three corners; the fourth is px + py - po. */
typedef struct cmath_shapeFixPtAffineRectPoints {
  cmath_vect32_4 po;
  cmath_vect32_4 px;
  cmath_vect32_4 py;
} cmath_shapeFixPtAffineRectPoints;

typedef struct cmath_shapeFixPtLineSeg {
  cmath_vect32_4 p1;
  cmath_vect32_4 p2;
} cmath_shapeFixPtLineSeg;

/* The line through (x, y) with direction (cos angle, sin angle). */
typedef struct cmath_shapeFixPtLine {
  int32_t x;
  int32_t y;
  uint16_t angle; /* 1/65536 turn */
} cmath_shapeFixPtLine;

/* The unit square: po (0, 0), px (16, 0), py (0, 16). */
IDUT_API csys_status cmath_shapeFixPtAffineRectPoints_init(cmath_shapeFixPtAffineRectPoints* points);

/* The floating-point rectangle through the three corners divided by 16 (exact). */
IDUT_API csys_status cmath_shapeAffineRect_initFixPtPoints(cmath_shapeAffineRect* rect,
                                                           const cmath_shapeFixPtAffineRectPoints* points);
/* The rectangle's po, px, py multiplied by 16 and truncated toward zero (0.99 px gives 15,
 * -0.99 px gives -15). cidut_errBadArgument, points untouched, when a coordinate is not finite
 * or does not fit in 32 bits after scaling. */
IDUT_API csys_status cmath_shapeAffineRect_getFixPtPoints(const cmath_shapeAffineRect* rect,
                                                          cmath_shapeFixPtAffineRectPoints* points);

/* The distance of a and b in 1/16 pixel, quantised to 1/4 pixel:
 * cmath_sqrt32((dx >> 2)^2 + (dy >> 2)^2) << 2 with dx = a.x - b.x, dy = a.y - b.y and
 * arithmetic (floor) shifts, so the order matters: (3, 0) to (0, 0) is 0 but (0, 0) to (3, 0)
 * is 4. The result is within 4 * (1 + sqrt 2) of the exact distance. |dx| and |dy| must be
 * below 0x3FFFC (about 16383 pixels). */
IDUT_API csys_status cmath_vect32_4_getDistance(const cmath_vect32_4* a, const cmath_vect32_4* b, int32_t* distance);

/* The line through p1 pointing from p2 towards p1: angle = round(atan2(p1.y - p2.y,
 * p1.x - p2.x) * 32768 / pi) modulo 65536 (angle 0 when the two points coincide). */
IDUT_API csys_status cmath_shapeFixPtLineSeg_getLine(const cmath_shapeFixPtLineSeg* segment,
                                                     cmath_shapeFixPtLine* line);

/* Perpendicular distance of the point from the line, |((dx * -s) >> 15) + ((dy * c) >> 15)|,
 * with c, s the line's cosine and sine at 15 fraction bits and (dx, dy) the point less the
 * line's point; |dx| and |dy| must be below 0xFFFF (about 4096 pixels). */
IDUT_API csys_status cmath_shapeFixPtLine_distanceFrom(const cmath_shapeFixPtLine* line, const cmath_vect32_4* point,
                                                       int32_t* distance);
/* Absolute distance along the line from its point to the foot of the perpendicular,
 * |((dx * c) >> 15) + ((dy * s) >> 15)|; same range as distanceFrom. */
IDUT_API csys_status cmath_shapeFixPtLine_distanceAlong(const cmath_shapeFixPtLine* line, const cmath_vect32_4* point,
                                                        int32_t* distance);

/* Distance of the point from the segment: its distance to p1 (cmath_vect32_4_getDistance from
 * the point to p1) when the point projects before p1, to p2 when it projects at or past p2,
 * otherwise its perpendicular distance from the segment's line. The projection is computed on
 * coordinates shifted right by 2, so a segment shorter than 4 (a quarter pixel) on both axes is
 * asserted against. cidut_errUnsupported (0x80000000) when p1 and p2 coincide. */
IDUT_API csys_status cmath_shapeFixPtLineSeg_distanceFrom(const cmath_shapeFixPtLineSeg* segment,
                                                          const cmath_vect32_4* point, int32_t* distance);

/* *isWithin = 1 when the point lies inside the parallelogram, else 0. A point not strictly
 * inside the corners' bounding box widened by 32 (two pixels) on every side is outside at once.
 * Otherwise the point is inside when it is nearer to each X side (po-px, py-popp) than the
 * perpendicular height between them and nearer to each Y side (po-py, px-popp) than the
 * perpendicular width between them, all in the quantised arithmetic above (the sides' angles,
 * the skew from a right angle and its cosine at 15 fraction bits). Either turning order of the
 * corners works. Points within about a pixel of the outline may fall either way. The corners
 * and the point must lie within the ranges of the distance functions (about 4096 pixels of
 * each other). */
IDUT_API csys_status cmath_shapeFixPtAffineRectPoints_getIsWithin(const cmath_shapeFixPtAffineRectPoints* points,
                                                                  const cmath_vect32_4* point, uint32_t* isWithin);

IDUT_EXTERN_C_END

#endif
