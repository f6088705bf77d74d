/* Data Matrix search from a seed edge.
 *
 * Given one seed edge (ci_id/tracking.h), decide whether it lies on the outline of a Data Matrix
 * symbol and, if so, locate the symbol. The search tracks the dark or light blob the seed edge
 * bounds (base/cbt.h), reduces its outline to straight runs (ci_id/contourruns.h), looks for two
 * runs that meet at a near-right angle (the symbol's solid L), measures how far each side really
 * extends along the outline and validates the result against size, aspect, the image border, a
 * mask of symbols already found and a marking image of outlines already tracked.
 *
 * Coordinates. The seed's x and y, the tracker's start points, marking cells and mask queries are
 * all taken as image pixel coordinates (pixel centres at integer positions, as the tracker has
 * them). The seed finders and drivers give seed positions relative to the image window's origin;
 * the two agree for images whose window starts at (0, 0), which is what cid2d_imageMemoryManager
 * provides (ci_id/imagememory.h). Located corners carry the half pixel that the stored outline
 * adds ((v + 128) >> 4 of a tracker point): in them pixel (x, y) covers [x, x + 1) x [y, y + 1),
 * so a pixel's centre is at (x + 0.5, y + 0.5).
 *
 * Marking image: caller-owned 8-bit image at a quarter of the search image's resolution (at least
 * ceil(width / 4) x ceil(height / 4) cells for a search image at (0, 0)), cleared to 0 before a
 * scan. Every tracked contour point (x, y in 1/256 pixel) sets the one cell ((x + 128) >> 10,
 * (y + 128) >> 10), that of the pixel it rounds to; the seed's own cell is set only when the
 * outline passes it. A seed whose cell is set is skipped, so a blob is normally tracked once per
 * scan.
 * Not always: a seed next to a blurred edge may track at a different threshold and take an
 * outline that misses the cells of the first one, so a symbol can be found twice unless the
 * caller claims each find in the mask. Cells outside the marking image's window read as clear
 * and are not written.
 *
 * Scratch buffer: params->scratch, at least CID2D_SCRATCH_MIN_SIZE (229320) bytes, 4-byte
 * aligned; the searches overwrite it (layout in ci_id/contourruns.h).
 *
 * The searches keep no state between calls. The marking image, mask, scratch buffer and result
 * belong to one search at a time. */
#ifndef IDUT_CI_ID_DMSEARCH_H
#define IDUT_CI_ID_DMSEARCH_H

#include "base/cbt.h"
#include "base/cimg.h"
#include "ci_id/mask.h"
#include "ci_id/tracking.h"

IDUT_EXTERN_C_BEGIN

/* Searches for a Data Matrix symbol from one seed.
 *
 * image: the 8-bit search image. params: read only except for its scratch buffer; the minimum and
 * maximum side (pixels) bound the symbol's sides and bounding box, the expected sizes choose the
 * shape test (A = 0: any; A = B: square, side ratio within 0.75 ... 1.33, or 0.62 ... 1.60 with
 * relaxed corners; otherwise one of the rectangular Data Matrix ratios), relaxedCorners widens
 * the corner angle to 70 degrees (wideCorners with unknown size: 60; default 77) and fits all four
 * sides when other runs support the far sides, attempts > 1 retries after merging collinear runs.
 * seed: the start edge. runParams: a prepared tracker parameter set (the driver's), copied; the
 * seed's threshold, polarity and start points and the point limit min(maxContourPoints, 16379)
 * are filled in. markingImage: see above. mask: claimed regions, may be null; seeds on a claimed
 * region and candidates on one are rejected. reserved: not read. maskXform: maps search-image
 * coordinates into the mask's, may be null (identity). result: output.
 *
 * On a find result->found is 1, rectangle holds the corner and the two side ends (ordered so that
 * cross(Px - Po, Py - Po) <= 0), fourthCorner the opposite corner, parallelogram 1 (0 when four
 * sides were fitted), score the straightness of the sides (0 ... 1000), quality 1000 and threshold
 * the seed's mean. The quality is set for every candidate that reaches the final mask and
 * image-window checks, also when they leave found 0. Whatever the outcome the result's seed and boundary are overwritten and line is
 * set to params->firstScanLine; nothing found is success with found 0.
 *
 * Failures: csys_errAssertion for null arguments, a scratch buffer below 229320 bytes (or
 * misaligned), a contour point outside the window, too many runs or coincident lines;
 * csys_errImageUnbound for an unbound image or marking image; cidut_errEmptyContour (0x80000867)
 * when the tracker reports a contour without points; tracker, mask and geometry failures and the
 * attention check's status (polled after long tracks, halving, run extraction and each pairing
 * attempt) are returned unchanged. */
IDUT_API csys_status cf_BndFindDMSymbolFromSeed(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                                const cid2d_trackingSeed* seed, const cbt_runParams* runParams,
                                                cimg_image* markingImage, const cid_mask* mask, void* reserved,
                                                const cmath_xformLinear* maskXform, cid2d_trackingResult* result);

/* Straight-edge pre-check in front of cf_BndFindDMSymbolFromSeed, same arguments.
 *
 * Follows the seed edge up and then down in steps of 4 rows (at most 40 steps in all), looking
 * for an edge of the seed's polarity within 6 columns of the last one found (the seed's column at
 * first; the downward pass starts from where the upward one last matched), with a step of at
 * least max(strength / 2, 45) across the seed's mean. A step without such an edge is forgiven once
 * per direction. The matched edges that keep the chain from turning are collected as a chain of
 * cid2d_trackingSeed records at the start of the scratch buffer (at most 41, top to bottom). With
 * more than 5 links the seed's marking cell is cleared (the edge may have been marked by an
 * earlier track) and the full search runs, its status returned. Otherwise 0 is returned and the
 * result is not touched: seeds on dots and texture cost no tracking.
 *
 * Failures: as cf_BndFindDMSymbolFromSeed, and the window set-up of the image or marking image. */
IDUT_API csys_status cf_DcdFindDMSymbolFromSeed(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                                const cid2d_trackingSeed* seed, const cbt_runParams* runParams,
                                                cimg_image* markingImage, const cid_mask* mask, void* reserved,
                                                const cmath_xformLinear* maskXform, cid2d_trackingResult* result);

/* The search from a seed with the adaptive tracker (cbt_boundaryTrack_Adaptive at the given
 * level), as the adaptive driver uses it. Differences from cf_BndFindDMSymbolFromSeed:
 *  - the run parameters also get the seed's strength and reportMarking 1 (the caller sets
 *    localThreshold); result->boundary.markingMode is set to 1 before tracking;
 *  - marking: the seed's cell is set to (seed x mod 4) + 1 after tracking; contour points mark
 *    their cell with (pixel column mod 4) + 1 - all of them, all but the last 10 when the tracker
 *    reports markingMode 16, none when it reports 0;
 *  - a contour needs 2 x minSide points; hitting the point limit does not reject it; the
 *    bounding box must lie within [minSide, maxSide] per side (level 0) or in its larger extent
 *    (other levels);
 *  - runs are extracted with splitting and a curvature threshold that grows with the smoothing
 *    window; the L is chosen among the three strongest runs by angle (tangent above 2.605), order
 *    along the outline and mean curvature;
 *  - no rectangle is built and no mask test is made on the candidate: on a find
 *    result->boundary.sides holds the corner and the far end of each side of the L, whole pixels
 *    ({corner, end of side 1, corner, end of side 2}); rectangle, fourthCorner and score are not
 *    touched;
 *  - with level 0 and an outline the tracker left unmarked (markingMode 0: it runs along the
 *    border), points 10 ... count - 11 are marked when the seed lies on one of the L's sides.
 * result->found and result->line (params->firstScanLine) are written as in the plain search.
 * Failures as cf_BndFindDMSymbolFromSeed (attention polled for contours of 400 points and
 * more). */
IDUT_API csys_status cf_BndFindDMSymbolFromSeed_Adaptive(const cimg_imageConst* image,
                                                         const cid2d_trackingParams* params,
                                                         const cid2d_trackingSeed* seed,
                                                         const cbt_runParams* runParams, cimg_image* markingImage,
                                                         const cid_mask* mask, const cmath_xformLinear* maskXform,
                                                         int32_t level, cid2d_trackingResult* result);

IDUT_EXTERN_C_END

#endif
