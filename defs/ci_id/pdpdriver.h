/* PDF417 scan drivers: find a short run of PDF417 bars and spaces among the edges the caller has
 * found along a scan line (or a path), and hand a seed on its first edge to the PDF417 search
 * from a seed (ci_id/pdpsearch.h) until one locates a symbol.
 *
 * Edge lists are int16 arrays: the magnitude of a value is the edge's position (a column for
 * cf_BndFindNextPDP, an index into the path for cf_BndFindMatchingPDP), its sign the edge's
 * polarity: positive where the grey level rises along the scan (dark to light), negative where it
 * falls. As for the seeds of ci_id/tracking.h, the position is that of the pixel just before the
 * edge; positions grow along the list. Position 0 counts as rising; the drivers never seed
 * there. A row scan's peak (ci_id/scanwalk.h) at client x (the pixel boundary x) converts to
 * sign(value) x (round(x) - 1).
 *
 * The patterns. Six edges bound five elements of widths w1 ... w5 (position differences); they
 * pass when the edges alternate in polarity, the four outer elements are about equally wide and
 * the middle one is at most about three of them wide (the stop pattern's 1 1 3 1 1, and many
 * codeword fragments): with tol = (w1 + w2 + w4 + w5 + 4) / 8, raised to 2 when below 3,
 * |w1 - w2| <= tol, |w4 - w5| <= tol, |(w1 + w2) - (w4 + w5)| <= tol, and w3 <= w1 + w2 + w4 + tol
 * and w3 <= w2 + w4 + w5 + tol. The total width must not exceed params->maxSide. Four edges bound
 * three elements: narrow, about three narrow wide, narrow (tol = (w1 + w2 + w3) / 8, raised to 2
 * when below 3; |w1 - w3| <= tol and |w1 + w3 + max(w1, w3) - w2| <= tol).
 *
 * The seed lies on the pixel of the pattern's first edge. Its grey threshold comes from the
 * samples of the pattern: the mean of the dark and the light elements (with margins of tol + 2
 * pixels on either side counted with the elements next to them), moved towards the darker mean
 * (by 8 for short patterns of strong contrast, by contrast / 16 for long ones); the mean of the
 * four samples around the edge when a group has fewer than 3 samples. Its polarity says whether
 * the seed pixel is below the threshold; its tracker start points are two positions after and
 * one before it.
 *
 * Both drivers reset the result first (found and score 0), skip edges whose marking cell is set
 * (the search marks the cell of every seed it tracks from), poll attention before every search,
 * stop at the first find and leave params->firstScanLine in the result's line. To go on after a
 * find the caller claims the symbol in its mask and calls again with the same edges and marking
 * image: the seeds tried so far are skipped through their cells and the claimed symbol is not
 * reported again.
 *
 * Run parameters: cbt_runParams_init, then closeAtBorder 1, saddleByMean 1, minPoints 0 and the
 * point limit from params->maxContourPoints.
 *
 * Failures, with nothing written: csys_errAssertion for null arguments, a null edge list with a
 * nonzero count, a negative count or first scan line, missing scan lines, or an unusable scratch
 * buffer; csys_errImageUnbound for an unbound image or marking image (of any size: cells off it
 * read as clear and are not written). Failures of
 * the search and the attention check's status are returned as they come. Lists too short for a
 * pattern are no failure: the result is reset and nothing else happens. */
#ifndef IDUT_CI_ID_PDPDRIVER_H
#define IDUT_CI_ID_PDPDRIVER_H

#include "ci_id/pdpsearch.h"

IDUT_EXTERN_C_BEGIN

/* Scans the row scanLines[firstScanLine] with the six-edge pattern. edges: the row's edges
 * (columns, image coordinates); edgesAbove, edgesBelow: the edges of rows a little above and
 * below it, which must repeat the pattern: an edge of the first edge's polarity within 8 columns
 * of it, followed in the list by one matching the pattern's last edge (and, for patterns wider
 * than 31 pixels, by ones matching its second and fifth edges before that, each within 7
 * columns). The pattern must also cut across rows: along the column in the middle of its middle
 * element, the step response (3 pixels above minus 3 below) must show a rising and a falling
 * edge (beyond 40) both within 2 w / 3 + 5 rows above the row and within as many below, w the
 * pattern's width; rows too near the top or bottom for that reach are skipped. A first scan
 * line at or beyond the count scans nothing. singleTry is handed to the search. */
IDUT_API csys_status cf_BndFindNextPDP(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                       const cid_mask* mask, void* reserved, const cmath_xformLinear* maskXform,
                                       cimg_image* markingImage, int32_t singleTry, const int16_t* edges,
                                       const int16_t* edgesAbove, const int16_t* edgesBelow, int32_t edgeCount,
                                       int32_t aboveCount, int32_t belowCount, cid2d_trackingResult* result);

/* Scans a path: path holds profileLength points (x, y, image pixels), profile the grey levels
 * sampled at them, and each edge's magnitude is an index into both (indices at or beyond
 * profileLength are skipped). patternFlag 0 uses the six-edge pattern (its last two width
 * conditions replaced by w3 <= w1 + w2 + (w4 + w5) / 2 + tol), nonzero the four-edge pattern.
 * There is no neighbour or cross check. The threshold comes from the profile; the seed is the
 * edge's path point taken to a pixel (each coordinate + 0.5, truncated; edges whose pixel lies
 * outside the window are skipped, those on its outermost rows and columns are not), with start
 * points at the path points two after and one before it, and
 * strength and line 0. */
IDUT_API csys_status cf_BndFindMatchingPDP(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                           const cid_mask* mask, void* reserved, const cmath_xformLinear* maskXform,
                                           cimg_image* markingImage, int32_t singleTry, const int16_t* edges,
                                           int32_t edgeCount, int32_t profileLength, int32_t patternFlag,
                                           const cmath_vect* path, const uint8_t* profile,
                                           cid2d_trackingResult* result);

IDUT_EXTERN_C_END

#endif
