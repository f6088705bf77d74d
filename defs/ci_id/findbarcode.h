/* Quick one-dimensional tests on the bar outlines near one point of an image.
 *
 * Both functions look at a small window: they find strong edges along one row (or column) of
 * it, and from each light-to-dark edge entering a bar they follow the outline of the light
 * space beside the bar with the boundary tracker, for at most 100 points - only the start of
 * each outline is looked at. The outline is reduced to straight runs (contourruns.h) and the
 * strongest run gives the bar's direction as a slope 1000 du / dv (u the row, v the column,
 * 2147483647 for a vertical run). With k bars measured out of t edges tracked, the bars count
 * as found when k > 2 and k > floor(2t / 3); their direction is the median slope.
 *
 * The tracker runs on the whole image, in image coordinates with pixel centres on whole
 * numbers. A tracker that finds no boundary at one of the edges ends the test at once with
 * success and nothing found. Each call holds its own work memory (a 262080-byte scratch area,
 * a tracker result, 20 seeds and 20 slopes, a view of the image), all released before it
 * returns.
 *
 * Failures: csys_errAssertion on null pointers; csys_errImageUnbound for an image without
 * pixels; csys_errBadArgument when the test window does not lie inside the image window;
 * csys_errNoMemory; cidut_errEmptyContour when the tracker reports a boundary without points;
 * a tracker failure other than "no boundary". Not finding enough bars is success with the
 * found flag unchanged. */
#ifndef IDUT_CI_ID_FINDBARCODE_H
#define IDUT_CI_ID_FINDBARCODE_H

#include "base/cimg.h"
#include "base/cmath_affineRect.h"
#include "ci_id/region.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* Looks for bars at the centre of the image: edges come from the row 25 below the top of the
 * 100 x 50 window whose top-left corner is (x0 - 50 + width / 2, y0 - 50 + height / 2), the
 * image window's origin and size (a window that does not fit the image is its failure). On success *rectangle is centred on the mean of the measured
 * runs' midpoints, its x side along the reading direction (the median bar direction turned by
 * a quarter turn) and as long as the image is wide, its y side 100 pixels; *found is set to 1.
 * Otherwise *found and *rectangle are left as they were. */
IDUT_API csys_status cid2d_findOneBarcode(const cimg_imageConst* image, cmath_shapeAffineRect* rectangle,
                                          int32_t* found);

/* Checks whether the bars near the centre of region (client coordinates of the image) run along
 * the region's y axis, the direction phi in [0, 2 pi) of its y centre segment. *isLike is set to
 * 0 and *regionOut to a copy of region first. The region's centre c is mapped to pixels and the
 * 100 x 100 window starts at (x0 + floor(c.x) - 50, y0 + floor(c.y) - 50), (x0, y0) the image
 * window's origin (the two agree for windows at (0, 0); a window that does not fit the image is
 * its failure). Edges come from its middle row when the y axis is steeper than 45 degrees,
 * otherwise from its middle column, where a response |p[y + 3] - p[y]| counts only when it is
 * strictly above both of its neighbours (a sharp step's flat top makes no seed). Runs shorter
 * than m / 2 points are not counted, m = min(20, round(length) / 2) with length that of the y
 * segment's vector mapped as a point to pixels. With theta the bars' median direction in
 * [0, 2 pi) and d = |theta - phi|, they agree when d < pi / 10 or pi - pi / 10 < d < pi + pi / 10
 * (directions on either side of 0 do not agree); then *isLike becomes 1 and *regionOut the
 * region turned by theta - phi (about a half turn for an opposite axis) about c in pixels. */
IDUT_API csys_status cid2d_getIsCandidateBarcodeLike(const cimg_imageConst* image, const cid_region* region,
                                                     int32_t* isLike, cid_region* regionOut);

IDUT_EXTERN_C_END

#endif
