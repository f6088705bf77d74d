/* 2x2 matrices, perspective (projective) transforms, and the general transform that is either
 * linear or perspective.
 *
 * Coordinates are double-precision pixels; angles are radians; the y axis points down the image
 * rows. Every function asserts its pointer arguments (csys_errAssertion, outputs untouched) and
 * returns a status. Unless a function says otherwise, an output may alias an input. */
#ifndef IDUT_CMATH_PROJECTIVE_H
#define IDUT_CMATH_PROJECTIVE_H

#include "base/cmath.h"

IDUT_EXTERN_C_BEGIN

/* The point pairs leave a perspective transform undetermined or make it collapse: fewer than
 * four pairs, coincident points, three collinear points on one side only, a value that is not
 * finite. */
#define cmath_errDegeneratePoints ((csys_status)0x80000929)
/* A matrix or transform that has no inverse (determinant zero relative to its entries). */
#define cmath_errSingularXform ((csys_status)0x8000092a)
/* A point that a perspective transform sends to infinity (on its vanishing line), or whose
 * image is too far out to be represented. */
#define cmath_errPointAtInfinity ((csys_status)0x8000092b)

/* ---- 2x2 matrices (cmath_matrix, row major [a b; c d], is declared in base/cmath.h) ------ */

IDUT_API csys_status cmath_matrix_initIdentity(cmath_matrix* m);
/* The matrix that takes the x unit vector to xScale * (cos xRotation, sin xRotation) and the y
 * unit vector to yScale * (-sin yRotation, cos yRotation): its columns are the images of the two
 * axes. Equal rotations and scales 1 give a pure rotation; unequal rotations give a shear. This
 * is the convention of the affine rectangles' centre form. */
IDUT_API csys_status cmath_matrix_initRotationScale(cmath_matrix* m, double xRotation, double yRotation,
                                                    double xScale, double yScale);
/* out = a * b (b applied first when mapping vectors). */
IDUT_API csys_status cmath_matrix_multiply(const cmath_matrix* a, const cmath_matrix* b, cmath_matrix* out);
/* a*d - b*c */
IDUT_API csys_status cmath_matrix_determinant(const cmath_matrix* m, double* determinant);
/* cmath_errSingularXform (out untouched) when |det| <= 1e-15 * (|a*d| + |b*c|), which includes
 * the zero matrix, or when an entry is not finite. */
IDUT_API csys_status cmath_matrix_inverse(const cmath_matrix* m, cmath_matrix* out);
/* out = m * v */
IDUT_API csys_status cmath_matrix_mapVector(const cmath_matrix* m, const cmath_vect* v, cmath_vect* out);

/* ---- perspective transforms ----------------------------------------------------------
 * A 3x3 homogeneous matrix h, row major: the point (x, y) maps to
 *   ((h[0] x + h[1] y + h[2]) / w, (h[3] x + h[4] y + h[5]) / w),  w = h[6] x + h[7] y + h[8].
 * The matrix is kept scaled so that h[8] = 1 whenever h[8] is not negligible. A linear
 * transform is the special case h[6] = h[7] = 0.
 *
 * The record holds no memory; construct and destruct exist so that owners handle it like the
 * other constructed records (construct before use, destruct when done). A copy by value is an
 * independent transform. */
typedef struct cmath_xformPerspective {
  double h[9];
} cmath_xformPerspective;

/* The identity transform. */
IDUT_API csys_status cmath_xformPerspective_construct(cmath_xformPerspective* x);
/* Ends the transform's life (clears it). */
IDUT_API csys_status cmath_xformPerspective_destruct(cmath_xformPerspective* x);

/* Constructs the transform that carries each from[i] onto to[i], i < count.
 * With four pairs the fit is exact. With more it minimises the algebraic error of the
 * homogeneous equations after each point set is moved to its centroid and scaled to unit mean
 * distance. The pairs need not be distinct: repeated pairs are accepted and simply weigh more.
 * Fails with cmath_errDegeneratePoints, *x left as the identity, when count < 4, a coordinate is
 * not finite, or the pairs do not fix one invertible transform (for four pairs: three of the
 * from points collinear, or three of the to points collinear while their partners are not). */
IDUT_API csys_status cmath_xformPerspective_constructPointsAllowNonUnique(cmath_xformPerspective* x,
                                                                          const cmath_vect* from,
                                                                          const cmath_vect* to, uint32_t count);
/* Sets the transform from nine row-major entries (scaled as described above).
 * cmath_errSingularXform (x untouched) when an entry is not finite or the matrix is singular:
 * |det| <= 1e-13 times the sum of the magnitudes of the six products that make up det (a
 * measure that does not depend on the scale of the coordinates). */
IDUT_API csys_status cmath_xformPerspective_initMatrix(cmath_xformPerspective* x, const double h[9]);
/* Sets the transform equal to a linear one. cmath_errSingularXform (x untouched) when the
 * linear transform's matrix is singular. */
IDUT_API csys_status cmath_xformPerspective_initLinear(cmath_xformPerspective* x, const cmath_xformLinear* linear);
/* cmath_errPointAtInfinity (out untouched) when w is 0 or the mapped point is not finite. */
IDUT_API csys_status cmath_xformPerspective_mapPoint(const cmath_xformPerspective* x, const cmath_vect* p,
                                                     cmath_vect* out);
/* Fills out (a constructed transform) with the inverse of x. cmath_errSingularXform (out
 * untouched) when x is singular in the sense of initMatrix. */
IDUT_API csys_status cmath_xformPerspective_getInverse(const cmath_xformPerspective* x, cmath_xformPerspective* out);

/* ---- the general transform ------------------------------------------------------------ */

#define CMATH_XFORM_LINEAR 0u
#define CMATH_XFORM_PERSPECTIVE 1u

/* Either a linear or a perspective transform; `kind` says which member is in force (the other
 * is ignored). Plain record: fill it with an init function. */
typedef struct cmath_xform {
  uint32_t kind; /* CMATH_XFORM_LINEAR or CMATH_XFORM_PERSPECTIVE */
  cmath_xformLinear linear;
  cmath_xformPerspective perspective;
} cmath_xform;

IDUT_API csys_status cmath_xform_initIdentity(cmath_xform* x);
IDUT_API csys_status cmath_xform_initLinear(cmath_xform* x, const cmath_xformLinear* linear);
IDUT_API csys_status cmath_xform_initPerspective(cmath_xform* x, const cmath_xformPerspective* perspective);
/* Maps through whichever transform is in force; the perspective case fails as
 * cmath_xformPerspective_mapPoint does. csys_errBadArgument for an unknown kind. */
IDUT_API csys_status cmath_xform_mapPoint(const cmath_xform* x, const cmath_vect* p, cmath_vect* out);
/* The inverse, of the same kind. csys_errBadArgument (linear, as cmath_xformLinear_getInverse)
 * or cmath_errSingularXform (perspective) when there is none; csys_errBadArgument for an unknown
 * kind. out untouched on failure. */
IDUT_API csys_status cmath_xform_getInverse(const cmath_xform* x, cmath_xform* out);

IDUT_EXTERN_C_END

#endif
