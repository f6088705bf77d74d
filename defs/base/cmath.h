/* Geometry basics: 2D vectors, infinite lines, scalar helpers and linear (affine) transforms.
 * Angles are radians; the y axis points down the image rows. */
#ifndef IDUT_CMATH_H
#define IDUT_CMATH_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

typedef struct cmath_vect {
  double x;
  double y;
} cmath_vect;

IDUT_API cmath_vect cmath_vect_make(double x, double y);
IDUT_API double cmath_vect_dot(const cmath_vect* a, const cmath_vect* b);
/* a.x * b.y - a.y * b.x */
IDUT_API double cmath_vect_cross(const cmath_vect* a, const cmath_vect* b);
IDUT_API double cmath_vect_getLength(const cmath_vect* v);
IDUT_API double cmath_vect_getDistance(const cmath_vect* a, const cmath_vect* b);
/* The unit vector along v; fails with csys_errZeroVector (0x80000584) on a zero vector and
 * leaves *unit untouched. */
IDUT_API csys_status cmath_vect_getUnit(const cmath_vect* v, cmath_vect* unit);
/* atan2(v.y, v.x) in (-pi, pi]; 0 for the zero vector. */
IDUT_API csys_status cmath_vect_getDirection(const cmath_vect* v, double* radians);

/* An infinite line: a direction, then a point on it. */
typedef struct cmath_shapeLine {
  cmath_vect dir;
  cmath_vect point;
} cmath_shapeLine;

/* The crossing point of two lines; csys_errParallelLines (0x80000928) when their directions'
 * cross product is (nearly) zero, relative to the directions' lengths. */
IDUT_API csys_status cmath_shapeLine_intersection(const cmath_shapeLine* a, const cmath_shapeLine* b,
                                                  cmath_vect* point);
/* point + t * dir */
IDUT_API csys_status cmath_shapeLine_pointAlong(const cmath_shapeLine* line, double t, cmath_vect* point);

/* Nonzero when |a - b| <= epsilon. */
IDUT_API int cmath_double_epsilonEqual(double a, double b, double epsilon);
/* Round half up: floor(x + 0.5). */
IDUT_API double cmath_double_round(double x);
/* The smallest integer not below x. */
IDUT_API double cmath_double_ceil(double x);
/* The angle brought into (-pi, pi]. */
IDUT_API double cmath_radian_norm(double radians);

/* 2x2 matrix, row major: [a b; c d]. */
typedef struct cmath_matrix {
  double a, b, c, d;
} cmath_matrix;

/* A linear (affine) transform: p' = M p + t. */
typedef struct cmath_xformLinear {
  cmath_matrix m;
  cmath_vect t;
} cmath_xformLinear;

IDUT_API csys_status cmath_xformLinear_initIdentity(cmath_xformLinear* x);
IDUT_API csys_status cmath_xformLinear_initMatrixTrans(cmath_xformLinear* x, const cmath_matrix* m,
                                                       const cmath_vect* t);
IDUT_API csys_status cmath_xformLinear_mapPoint(const cmath_xformLinear* x, const cmath_vect* p, cmath_vect* out);
/* Maps a direction (no translation). */
IDUT_API csys_status cmath_xformLinear_mapVector(const cmath_xformLinear* x, const cmath_vect* v, cmath_vect* out);
/* out = outer o inner (inner applied first). out may alias either input. */
IDUT_API csys_status cmath_xformLinear_compose(const cmath_xformLinear* outer, const cmath_xformLinear* inner,
                                               cmath_xformLinear* out);
/* Fails with csys_errBadArgument when the matrix is singular; out untouched then. */
IDUT_API csys_status cmath_xformLinear_getInverse(const cmath_xformLinear* x, cmath_xformLinear* out);

IDUT_EXTERN_C_END

#endif
