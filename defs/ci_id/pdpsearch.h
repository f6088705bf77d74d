/* PDF417 search from a seed edge.
 *
 * Given one seed edge (ci_id/tracking.h), decide whether it lies on the outline of a PDF417
 * symbol and, if so, locate the symbol as a quadrilateral. The search shares the frame of the
 * Data Matrix search (ci_id/dmsearch.h: records, coordinates, scratch areas, the tracker call,
 * the final mask and window checks) and differs in what it accepts and how it builds the
 * quadrilateral:
 *  - an outline needs only 8/3 x minSide points and may be as elongated as 3 : 1; an outline
 *    the tracker closed along the border is kept when its two ends meet within 1.5 pixels;
 *  - the smoothing window is about a tenth of the outline's short side (3 ... 25 points with
 *    default parameters) and the curvature threshold grows with it (92 at 3, 108 at 4, 124
 *    from 5); a flat outline is retried once with half its largest curvature as threshold;
 *  - it needs 3 to 8 straight runs. A small outline of exactly four short runs (chords of 3 to
 *    7 pixels) is fitted directly: the corners are the crossings of consecutive runs
 *    (parallelogram 0, score 700). Otherwise the longest run and the first run nearly
 *    perpendicular to it (tangent above 2.748) give the corner and two sides, and the convex
 *    hull of the outline gives the two far sides: the hull edges nearly parallel and nearly
 *    perpendicular to the longest run (parallelogram 0); when those are too short or give a
 *    quadrilateral much smaller than the runs, the far sides are instead the parallels through
 *    the hull points farthest from the two runs (parallelogram 1). Score 700.
 * There is no corner-inside or side-length test of the result, only the mask and the image
 * window (the enclosing rectangle must lie inside it).
 *
 * What is located is one blob's outline. On a sharp image the bars and spaces of a PDF417 make
 * many blobs (the start bar, the stop bar, pieces of the data region), and a seed on one of them
 * locates that piece. The whole symbol is one blob where its bars have merged: by blur at low
 * resolution, or in an image opened (grey minimum, then maximum) over a window wider than the
 * widest space, 6 modules. A symbol more elongated than 3 : 1 in its bounding box is never
 * taken.
 *
 * Marking: the search marks only the seed's own cell (x >> 2, y >> 2), not the outline: a blob
 * of PDF417 bars is tracked again from every seed on it that its caller tries, and the caller's
 * mask keeps a located symbol from being reported twice. The marking image may be of any size:
 * a cell off it reads as clear and is not written.
 *
 * result->trackerRuns grows by one for every tracker call that does not fail, one that finds no
 * boundary included; only the caller clears it. */
#ifndef IDUT_CI_ID_PDPSEARCH_H
#define IDUT_CI_ID_PDPSEARCH_H

#include "base/cbt.h"
#include "base/cimg.h"
#include "ci_id/mask.h"
#include "ci_id/tracking.h"

IDUT_EXTERN_C_BEGIN

/* Searches for a PDF417 symbol from one seed.
 *
 * image: the 8-bit search image. params: read only except for its scratch buffer (at least
 * 229320 bytes, 4-byte aligned); minSide and maxSide bound the outline's bounding box, allowBorder
 * lets the outline touch the border, minSmoothing is the smallest smoothing window,
 * maxContourPoints caps the track (at most 16379). seed: the start edge. runParams: a prepared
 * tracker parameter set, copied; the seed's threshold, polarity and start points and the point
 * limit are filled in. markingImage: see above. singleTry: with 0, an outline of four runs that
 * the direct fit rejects is given up; nonzero tries the hull construction on it as well. mask:
 * claimed regions, may be null. reserved: not read. maskXform: maps search-image coordinates into
 * the mask's, may be null. result: output.
 *
 * On a find result->found is 1, rectangle holds a corner and the two neighbouring corners
 * (ordered so that cross(Px - Po, Py - Po) <= 0), fourthCorner the opposite corner, parallelogram
 * as above, score 700, quality 1000 and threshold the seed's mean. The quality is set for every
 * candidate that reaches the final mask and image-window checks, also when they leave found 0. Whatever the outcome, once the
 * arguments have been checked the result's seed is overwritten, line is set to
 * params->firstScanLine and the boundary holds the last track; nothing found is success with
 * found 0.
 *
 * Failures, with nothing written: csys_errAssertion for null arguments or an unusable scratch
 * buffer; csys_errImageUnbound for an unbound image or marking image. During the search:
 * cidut_errEmptyContour (0x80000867) when the tracker reports a contour without points;
 * csys_errAssertion for a contour point outside the window or too many runs; tracker, mask and
 * geometry failures and the attention check's status (polled after the track, halving, run
 * extraction and the hull) are returned unchanged. */
IDUT_API csys_status cf_BndFindPDPSymbolFromSeed(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                                 const cid2d_trackingSeed* seed, const cbt_runParams* runParams,
                                                 cimg_image* markingImage, int32_t singleTry, const cid_mask* mask,
                                                 void* reserved, const cmath_xformLinear* maskXform,
                                                 cid2d_trackingResult* result);

IDUT_EXTERN_C_END

#endif
