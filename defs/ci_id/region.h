/* cid_region: where a symbol lies. A quadrilateral of four corners in client coordinates
 * (double-precision pixels), either a parallelogram (an affine region) or a general convex
 * quadrilateral seen in perspective, with one tightness value per side.
 *
 * Vocabulary.
 *  - Corners: Po (origin), Px (end of the X side from Po), Py (end of the Y side from Po) and
 *    Popp (opposite Po). Going around, the corners come in the cyclic order Po, Px, Popp, Py.
 *  - The X sides are Po-Px and Py-Popp; the Y sides Po-Py and Px-Popp.
 *  - A side selector `side` picks one side of an axis: non-zero the side through Po (Po->Px for
 *    X, Po->Py for Y), zero the opposite side (Py->Popp for X, Px->Popp for Y). Side vectors
 *    always point along the axis (end minus start).
 *  - Tightness: [0] side Po-Px, [1] side Po-Py, [2] side Px-Popp, [3] side Py-Popp; 1 by
 *    default. The searches that grow a region give them their meaning.
 *  - isAffine is 1 when Popp is Px + Py - Po (a parallelogram); measurements then take the
 *    simple parallelogram formulas. With isAffine 0 they follow the region's perspective.
 *  - The axis direction at a point q: for X let U = Px, V = Py, for Y let U = Py, V = Px;
 *    e = Popp - V, w1 = cross(e, V - U), w2 = cross(e, Po - V), w3 = cross(e, U - Po) and
 *    D(q) = w1 Po + w2 U + w3 q. D(q) points from q towards the vanishing point of the axis's
 *    two sides (along them when they are parallel); cross(a, b) = a.x b.y - a.y b.x.
 *  - A center segment of an axis runs through the region's center from one side of the other
 *    axis to the opposite side: the X center segment from side Po-Py to side Px-Popp, the Y
 *    center segment from side Po-Px to side Py-Popp, both following the region's perspective.
 *
 * Every function returns a status, asserts its required pointers (csys_errAssertion through
 * cstd_assert_, outputs untouched) and accepts outputs that alias inputs. Angles are radians in
 * (-pi, pi], measured with atan2 (the y axis points down the image rows). */
#ifndef IDUT_CI_ID_REGION_H
#define IDUT_CI_ID_REGION_H

#include "base/cmath.h"
#include "base/cmath_affineRect.h"
#include "base/cmath_projective.h"
#include "base/cstd.h"
#include "ci_id/line.h"
#include "ci_id/status.h"
#include "ci_id/typecheck.h"
#include "ci_id/vector.h"

IDUT_EXTERN_C_BEGIN

typedef struct cid_region {
  cmath_vect po;
  cmath_vect px;
  cmath_vect py;
  cmath_vect popp;
  uint32_t tightness[4];
  uint32_t isAffine;
} cid_region;

/* A point as the corner lists of cid_region_initPoints / getPoints take it. */
typedef struct cid_regionPoint {
  double x;
  double y;
} cid_regionPoint;

/* An axis-aligned rectangle in client units: first corner (x, y), then width and height. */
typedef struct cid_regionRect {
  double x;
  double y;
  double width;
  double height;
} cid_regionRect;

/* ---- construction ---------------------------------------------------------------------- */

/* The unit square: Po (0,0), Px (1,0), Py (0,1), Popp (1,1), tightness 1, isAffine 1. */
IDUT_API csys_status cid_region_init(cid_region* region);
/* Copies Po, Px, Py. With popp null: Popp = Px + (Py - Po), isAffine 1; otherwise Popp copied
 * and isAffine 0. Tightness all 1. */
IDUT_API csys_status cid_region_initPoPxPyPopp(cid_region* region, const cmath_vect* po, const cmath_vect* px,
                                               const cmath_vect* py, const cmath_vect* popp);
IDUT_API csys_status cid_region_initAffineRectPoints(cid_region* region, const cmath_shapeAffineRectPoints* points,
                                                     const cmath_vect* popp);
IDUT_API csys_status cid_region_initAffineRect(cid_region* region, const cmath_shapeAffineRect* rect,
                                               const cmath_vect* popp);
/* Fails as cmath_shapeAffineRect_initCenter does (csys_errBadArgument on non-finite values). */
IDUT_API csys_status cid_region_initAffineRectCenter(cid_region* region, const cmath_shapeAffineRectCenter* center,
                                                     const cmath_vect* popp);
/* Four corners: Po = points[0], Px = points[1]; with cyclic 0 Py = points[2], Popp = points[3];
 * with cyclic non-zero (the points go around the outline) Py = points[3], Popp = points[2].
 * isAffine 0, tightness all 1. */
IDUT_API csys_status cid_region_initVectPoints(cid_region* region, const cmath_vect points[4], uint32_t cyclic);
IDUT_API csys_status cid_region_initPoints(cid_region* region, const cid_regionPoint points[4], uint32_t cyclic);
/* The inverse of the two above. */
IDUT_API csys_status cid_region_getVectPoints(const cid_region* region, cmath_vect points[4], uint32_t cyclic);
IDUT_API csys_status cid_region_getPoints(const cid_region* region, cid_regionPoint points[4], uint32_t cyclic);
/* Po = A0 x B0, Px = A1 x B0, Py = A0 x B1, Popp = A1 x B1 (line crossings); isAffine 0,
 * tightness all 1. A and B are each two lines (direction, then a point). Parallel lines return
 * csys_errParallelLines (the first failing crossing's status) and leave the region untouched. */
IDUT_API csys_status cid_region_initLines(cid_region* region, const cmath_shapeLine linesA[2],
                                          const cmath_shapeLine linesB[2]);
/* A0 = (Py - Po through Po), A1 = (Popp - Px through Px), B0 = (Px - Po through Po),
 * B1 = (Popp - Py through Py): initLines of these gives the corners back. */
IDUT_API csys_status cid_region_getLines(const cid_region* region, cmath_shapeLine linesA[2],
                                         cmath_shapeLine linesB[2]);
/* Every corner moved by shift; isAffine and tightness copied. */
IDUT_API csys_status cid_region_initShift(cid_region* destination, const cmath_vect* shift, const cid_region* source);
/* Po <-> Px and Py <-> Popp (FlipX); Po <-> Py and Px <-> Popp (FlipY). isAffine and the four
 * tightness values are copied in their stored order. */
IDUT_API csys_status cid_region_initFlipX(cid_region* destination, const cid_region* source);
IDUT_API csys_status cid_region_initFlipY(cid_region* destination, const cid_region* source);
/* Moves the origin `steps` places along the cycle Po, Px, Popp, Py: with r = steps % 4 (C
 * remainder), r = 0 copies; otherwise with c = [Po, Px, Popp, Py] the result has Po = c[r],
 * Px = c[r+1], Popp = c[r+2], Py = c[r+3] (indices mod 4), and each side keeps its tightness.
 * An affine source stays affine (its Popp is recomputed). A negative steps value whose
 * remainder is not 0 is a precondition failure. */
IDUT_API csys_status cid_region_initRotatePoints(cid_region* destination, int32_t steps, const cid_region* source);
IDUT_API csys_status cid_region_copyTightness(cid_region* destination, const cid_region* source);

/* ---- measurements ------------------------------------------------------------------------ */

/* The selected side's vector, length and direction angle. */
IDUT_API csys_status cid_region_getXVect(const cid_region* region, uint32_t side, cmath_vect* vector);
IDUT_API csys_status cid_region_getYVect(const cid_region* region, uint32_t side, cmath_vect* vector);
IDUT_API csys_status cid_region_getXLength(const cid_region* region, uint32_t side, double* length);
IDUT_API csys_status cid_region_getYLength(const cid_region* region, uint32_t side, double* length);
IDUT_API csys_status cid_region_getXAngle(const cid_region* region, uint32_t side, double* angle);
IDUT_API csys_status cid_region_getYAngle(const cid_region* region, uint32_t side, double* angle);
/* The lengths of the axis's two sides, shorter first (equal lengths: the side through Po first). */
IDUT_API csys_status cid_region_getXLengths(const cid_region* region, double* shorter, double* longer);
IDUT_API csys_status cid_region_getYLengths(const cid_region* region, double* shorter, double* longer);

/* The crossing of the diagonals; (Po + Popp) / 2 for an affine region and when the diagonals
 * are parallel (|cross| within 1e-12). */
IDUT_API csys_status cid_region_getCenter(const cid_region* region, cmath_vect* center);
/* The axis's center segment. For an affine region the segment between the midpoints of the
 * other axis's sides; otherwise the line through the center along D(center), cut by the two
 * sides it crosses (an end whose side is parallel to that line falls back to the side's
 * midpoint). */
IDUT_API csys_status cid_region_getXCenterSegment(const cid_region* region, cidut_lineSeg* segment);
IDUT_API csys_status cid_region_getYCenterSegment(const cid_region* region, cidut_lineSeg* segment);
IDUT_API csys_status cid_region_getCenterSegments(const cid_region* region, cmath_vect* center, cidut_lineSeg* xSegment,
                                                  cidut_lineSeg* ySegment);
/* |Px - Po| (|Py - Po|) for an affine region, else the length of the center segment. */
IDUT_API csys_status cid_region_getAvXLength(const cid_region* region, double* length);
IDUT_API csys_status cid_region_getAvYLength(const cid_region* region, double* length);
/* The unit vector of Px - Po (Py - Po) for an affine region, else of the center segment (second
 * end minus first); (1, 0) for X and (0, 1) for Y when that vector is zero. */
IDUT_API csys_status cid_region_getAvXUnitDir(const cid_region* region, cmath_vect* unit);
IDUT_API csys_status cid_region_getAvYUnitDir(const cid_region* region, cmath_vect* unit);
IDUT_API csys_status cid_region_getAvXAngle(const cid_region* region, double* angle);
IDUT_API csys_status cid_region_getAvYAngle(const cid_region* region, double* angle);
/* The unit axis direction at a point: for an affine region that of Px - Po (Py - Po); otherwise
 * D(point) turned to point like V->Popp and normalised; (0, 0) when D(point) is zero. */
IDUT_API csys_status cid_region_getXDirAtPoint(const cid_region* region, const cmath_vect* point, cmath_vect* unit);
IDUT_API csys_status cid_region_getYDirAtPoint(const cid_region* region, const cmath_vect* point, cmath_vect* unit);
/* The angle of that direction (affine: of the side through Po); 0 when D(point) is zero. */
IDUT_API csys_status cid_region_getXAngleAtPoint(const cid_region* region, const cmath_vect* point, double* angle);
IDUT_API csys_status cid_region_getYAngleAtPoint(const cid_region* region, const cmath_vect* point, double* angle);
/* Foreshortening along the axis in [0, 1]: 1 for an affine region; otherwise the ratio of the
 * shorter to the longer part into which the center divides the axis's center segment (1 when
 * both parts are empty). */
IDUT_API csys_status cid_region_getXForshortening(const cid_region* region, double* ratio);
IDUT_API csys_status cid_region_getYForshortening(const cid_region* region, double* ratio);

/* ---- derived regions ------------------------------------------------------------------- */

/* Every corner mapped through the linear transform; isAffine and tightness copied. */
IDUT_API csys_status cid_region_initMap(cid_region* destination, const cmath_xformLinear* xform,
                                        const cid_region* source);
/* Every corner mapped through the perspective transform; tightness copied, isAffine 0. A corner
 * that maps to infinity returns that failure (cmath_errPointAtInfinity), destination untouched. */
IDUT_API csys_status cid_region_initMapPersp(cid_region* destination, const cmath_xformPerspective* xform,
                                             const cid_region* source);
/* The region bounded by lines through the end points of two segments, drawn with the reference's
 * perspective. The X segment runs across the X extent (from side Po-Py to side Px-Popp), the Y
 * segment across the Y extent; either may be null, and then the source's own sides of the other
 * axis bound the result (for an affine reference: the source's midpoint segment is used).
 * Affine reference: the parallelogram whose X center segment is xSegment, offset by half of
 * ySegment; only ySegment's vector counts, not where it lies, so the result is centred on the
 * X segment. Otherwise the X lines run through xSegment's ends along the reference's Y-axis
 * direction D there, the Y lines through ySegment's ends along its X-axis direction, and the
 * corners are their crossings (as initLines). The source's tightness is copied. Parallel lines
 * return csys_errParallelLines with the destination untouched. */
IDUT_API csys_status cid_region_initBoundPoints(cid_region* destination, const cidut_lineSeg* xSegment,
                                                const cidut_lineSeg* ySegment, const cid_region* source,
                                                const cid_region* reference);
/* The source redrawn with the reference's perspective: a copy of the source when the reference
 * is affine; otherwise rebuilt (initBoundPoints) from the source's center segments of the axes
 * whose flags are set, the other axes keeping the source's sides. */
IDUT_API csys_status cid_region_initChangePersp(cid_region* destination, const cid_region* source,
                                                const cid_region* reference, uint32_t useX, uint32_t useY);
/* Dilation of the center segments, rebuilt with the source's own perspective. A segment of
 * vector v is dilated by a scale s (each end moves out by (s - 1)/2 v) and then by a distance a
 * (each end moves out by a along v, measured on v before the scale). scale and distance hold the
 * X values in .x and the Y values in .y; either may be null (not applied). A distance other than
 * 0 on a center segment of zero length is a precondition failure. Scale (1, 1) and distance
 * (0, 0) give the source back. */
IDUT_API csys_status cid_region_initDilate(cid_region* destination, const cmath_vect* scale,
                                           const cmath_vect* distance, const cid_region* source);
/* The X axis dilated by scale and distance. A non-affine source whose four tightness values are
 * all 0 is widened directly: with w the vector between the midpoints of its Y sides, Po and Py
 * move by -t and Px and Popp by +t, t = a w/|w| (when a != 0) + (s - 1)/2 w (when s != 0), so a
 * value of exactly 0 is not applied. Any other source goes through initDilate with scale (s, 1)
 * and distance (a, 0), where a scale of 0 collapses the X extent. A distance other than 0 with
 * a zero w is a precondition failure. */
IDUT_API csys_status cid_region_initDilateX(cid_region* destination, double scale, double distance,
                                            const cid_region* source);
/* One axis (xAxis non-zero: X) dilated at its start (extendStart), its end (extendEnd) or both,
 * by the optional scale and distance as in initDilate; the other axis keeps the source's sides. */
IDUT_API csys_status cid_region_initDilateDim(cid_region* destination, uint32_t xAxis, uint32_t extendStart,
                                              uint32_t extendEnd, const double* scale, const double* distance,
                                              const cid_region* source);
/* The parallelogram approximation: a copy for an affine source; otherwise, with c the center
 * and X = (x1, x2), Y = (y1, y2) the center segments, Po = x1 + (y1 - c), Px = x2 + (y1 - c),
 * Py = x1 + (y2 - c), isAffine 1, tightness copied. */
IDUT_API csys_status cid_region_initMakeAffine(cid_region* destination, const cid_region* source);
/* The affine rectangle through Po, Px, Py (of the parallelogram approximation when the region
 * is not affine). */
IDUT_API csys_status cid_region_getAffineRect(const cid_region* region, cmath_shapeAffineRect* rect);
/* The rectangle through Po, Px, Py as they stand, and Popp. Does not report through the
 * assertion handler: a null pointer only returns csys_errAssertion. */
IDUT_API csys_status cid_region_getAffineRectAndPopp(const cid_region* region, cmath_shapeAffineRect* rect,
                                                     cmath_vect* popp);

/* ---- tests ---------------------------------------------------------------------------- */

/* 1 when the outline has a corner of (nearly) zero angle (sine below sqrt(0.003), about 3.14
 * degrees, or a zero cross product of the two edges), is not convex (the turning direction
 * changes), or has a corner that is not finite; else 0. An affine region checks two corners
 * (Px and Popp), any other all four. */
IDUT_API csys_status cid_region_getIsDegenerate(const cid_region* region, uint32_t* isDegenerate);
/* 1 when the point lies inside the region: every edge of the outline Py->Po->Px->Popp->Py sees
 * it on the same side. A point strictly inside a convex region gives 1 and a point strictly
 * outside gives 0, whichever the corner order; a point on the outline may give either. A region
 * whose corners all coincide (every cross product within 1e-12 of 0), a point or a corner that
 * is not finite give 0. */
IDUT_API csys_status cid_region_within(const cid_region* region, const cmath_vect* point, uint32_t* isWithin);
/* The axis-aligned bounding box (x, y = smallest coordinates), of the region mapped through
 * xform when it is not null. */
IDUT_API csys_status cid_region_getEncloseRect(const cid_region* region, const cmath_xformLinear* xform,
                                               cid_regionRect* rect);
/* The bounding box widened to whole pixels: x0 = floor(x), y0 = floor(y), width =
 * ceil(x + width) - x0, height = ceil(y + height) - y0. csys_errBadArgument (rect untouched)
 * when a value is not finite or does not fit in 32 bits. */
IDUT_API csys_status cid_region_getEncloseImageRect(const cid_region* region, const cmath_xformLinear* xform,
                                                    cstd_rect32* rect);
/* 1 when imageRect contains the region's whole-pixel bounding box (cstd_rect32_containsRect);
 * 0 also when that box cannot be formed (a value not finite or beyond 32 bits). */
IDUT_API csys_status cid_region_isWithinImageRect(const cid_region* region, const cmath_xformLinear* xform,
                                                  const cstd_rect32* imageRect, uint32_t* isWithin);

/* cmath_shapeAffineRect_within. */
IDUT_API csys_status cf_affineRect_within(const cmath_shapeAffineRect* rect, const cmath_vect* point,
                                          uint32_t* isWithin);

/* ---- vectors of regions ----------------------------------------------------------------
 * New elements are made with cid_region_init (the unit square); copies are plain bytes. */
CSTD_TYPED_VECTOR_DECLS(cid_region, cid_region)

IDUT_EXTERN_C_END

#endif
