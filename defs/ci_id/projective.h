/* Perspective checks and mapping for a symbol whose corners are known as a parallelogram
 * (Po, Px, Py; fourth corner Popp = Px + Py - Po) plus a measured fourth corner: whether the
 * measured corner departs enough to need a perspective mapping, the mapping itself, an affine
 * rectangle carried through a transform, and checks that four corners make a usable convex
 * region inside an image rectangle.
 *
 * Coordinates are double-precision pixels. Flags are 0 or 1. Every function asserts its pointer
 * arguments (csys_errAssertion) and returns a status. */
#ifndef IDUT_CI_ID_PROJECTIVE_H
#define IDUT_CI_ID_PROJECTIVE_H

#include "base/cmath_affineRect.h"
#include "base/cmath_projective.h"
#include "base/cstd.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* *required = 1 when the measured fourth corner lies more than 2.0 pixels (Euclidean, strictly)
 * from the parallelogram's Popp, else 0. measuredPopp may be null: no measurement, flag 0.
 * The flag is set to 0 before anything else; a non-finite distance leaves it 0. */
IDUT_API csys_status cidut_isPerspectiveMappingRequired(const cmath_shapeAffineRectPoints* points,
                                                        const cmath_vect* measuredPopp, uint32_t* required);

/* *severe = 1 when the measured fourth corner lies strictly more than `limit` from the
 * parallelogram's Popp, else 0 (also for a non-finite distance or limit). Set to 0 first. */
IDUT_API csys_status cidut_isPerspectiveSevere(const cmath_shapeAffineRectPoints* points,
                                               const cmath_vect* measuredPopp, double limit, uint32_t* severe);

/* Constructs the perspective transform that carries the parallelogram (Po, Px, Py, Popp) onto
 * the measured quadrilateral (Po, Px, Py, measuredPopp) - it keeps Po, Px and Py and moves Popp
 * to the measured corner - and, in `inverse`, the transform that carries the measured
 * quadrilateral back onto the parallelogram. On success the caller owns both and ends them with
 * cmath_xformPerspective_destruct. On failure neither is left constructed:
 *  - cmath_errDegeneratePoints when the corners fix no invertible transform (Po, Px, Py on one
 *    line, coincident corners, three of the measured corners on one line, a corner that is not
 *    finite);
 *  - cmath_errSingularXform when the transform found cannot be inverted.
 * A measured corner equal to the parallelogram's Popp gives the identity. Whether the measured
 * outline is convex is not checked here (see cidut_verifyConvexHull4Points). */
IDUT_API csys_status cidut_perspectiveMapping_construct(const cmath_shapeAffineRectPoints* points,
                                                        const cmath_vect* measuredPopp, cmath_xformPerspective* xform,
                                                        cmath_xformPerspective* inverse);

/* The rectangle through the mapped Po, Px and Py of rect. Its fourth corner is the parallelogram
 * completion of those three mapped points, not the mapped fourth corner. A failure of the
 * mapping (cmath_errPointAtInfinity, csys_errBadArgument for an unknown transform kind) is
 * returned with out untouched. out may be rect. */
IDUT_API csys_status cidut_affine_mapPerspective(const cmath_shapeAffineRect* rect, const cmath_xform* xform,
                                                 cmath_shapeAffineRect* out);

/* Checks that the diagonals p1-p4 and p2-p3 cross well inside both: with X the crossing of
 * their lines, *isConvex = 1 when X lies more than one pixel from each of the four ends inside
 * its diagonal (|p1 - X| + 1 < |p1 - p4|, |p4 - X| + 1 < |p1 - p4|, and the same for p2, p3).
 * For corners given as (Po, Px, Py, Popp) this says the outline Po, Px, Popp, Py is convex and
 * not squeezed. The flag is 0 first and stays 0 on failure:
 *  - cidut_errDegenerateSegment when a diagonal has zero length (or a corner is not finite);
 *  - cidut_errParallelLines when the diagonals are parallel. */
IDUT_API csys_status cidut_verifyConvexHull4Points(const cmath_vect* p1, const cmath_vect* p2, const cmath_vect* p3,
                                                   const cmath_vect* p4, uint32_t* isConvex);

/* Bit code of what is wrong with four corners against the image rectangle `rect`:
 *   1, 2, 4, 8  p1, p2, p3, p4 lies outside x <= px <= x + width - 1, y <= py <= y + height - 1
 *               (a non-finite corner counts as outside);
 *   16          the convexity check above gives 0.
 * *code is 0 first and is written only when the convexity check succeeds; its failures are
 * returned unchanged. 0 means the corners are fine. */
IDUT_API csys_status cidut_verifyValidBarcodeRgnCorners(const cmath_vect* p1, const cmath_vect* p2,
                                                        const cmath_vect* p3, const cmath_vect* p4,
                                                        const cstd_rect32* rect, uint32_t* code);

IDUT_EXTERN_C_END

#endif
