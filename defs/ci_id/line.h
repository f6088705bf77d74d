/* Infinite lines and segments in client coordinates (double-precision pixels).
 *
 * The signed distance of a point q from a line is (q - pos) . (dir.y, -dir.x): positive on the
 * side that (dir.y, -dir.x) points to. Every function asserts its pointers and returns a status. */
#ifndef IDUT_CI_ID_LINE_H
#define IDUT_CI_ID_LINE_H

#include "base/cmath.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

typedef struct cidut_line {
  cmath_vect pos; /* a point on the line */
  cmath_vect dir; /* unit direction once constructed */
} cidut_line;

typedef struct cidut_lineSeg {
  cmath_vect p1;
  cmath_vect p2;
} cidut_lineSeg;

/* pos = point, dir = (cos angle, sin angle). */
IDUT_API csys_status cidut_line_initAngPos(cidut_line* line, double angle, const cmath_vect* point);
/* pos = point, dir = direction / |direction|; cidut_errZeroDirection (record all zero) when
 * |direction| < 1e-5. */
IDUT_API csys_status cidut_line_initDirPos(cidut_line* line, const cmath_vect* direction, const cmath_vect* point);
/* The line of direction (cos angle, sin angle) at signed distance `distance` from the origin
 * along (-sin angle, cos angle); pos is an axis intercept. cidut_errZeroDirection (record all
 * zero) when distance < 0. */
IDUT_API csys_status cidut_line_initAngDis(cidut_line* line, double angle, double distance);
/* cidut_errParallelLines (point untouched) when |dir1 x dir2| < 1e-12. */
IDUT_API csys_status cidut_line_getIntersection(const cidut_line* line1, const cidut_line* line2, cmath_vect* point);
/* The foot of the perpendicular from point (dir taken to be of unit length). */
IDUT_API csys_status cidut_line_projectPoint(const cidut_line* line, const cmath_vect* point, cmath_vect* foot);
IDUT_API csys_status cidut_line_getDistToPoint(const cidut_line* line, const cmath_vect* point, double* distance);

IDUT_API csys_status cidut_lineSeg_initP1P2(cidut_lineSeg* seg, const cmath_vect* p1, const cmath_vect* p2);
/* pos = p1, dir = unit vector from p1 to p2; cidut_errDegenerateSegment (line untouched) when
 * p1 == p2. */
IDUT_API csys_status cidut_lineSeg_getLine(const cidut_lineSeg* seg, cidut_line* line);
/* Direction angle of p2 - p1 in (-pi, pi]. */
IDUT_API csys_status cidut_lineSeg_getAngle(const cidut_lineSeg* seg, double* angle);
/* Signed distance from the segment's infinite line. */
IDUT_API csys_status cidut_lineSeg_getDistToPoint(const cidut_lineSeg* seg, const cmath_vect* point, double* distance);
/* The crossing of the two infinite lines through the segments (need not lie on either);
 * cidut_errParallelLines when they are parallel. */
IDUT_API csys_status cidut_lineSeg_getIntersection(const cidut_lineSeg* seg1, const cidut_lineSeg* seg2,
                                                   cmath_vect* point);

IDUT_EXTERN_C_END

#endif
