/* Edge location along a grey profile, and the caliper that samples a line and locates its
 * edges in one call.
 *
 * An edge is a strong extremum of the profile's derivative, located to a fraction of a sample
 * by a parabola through the extremum and its two neighbours. Results, in the caller's arrays of
 * maxEdges entries:
 *   values[i]    the derivative at the edge (grey levels over two samples); positive for a
 *                rising edge (dark to light along the line), negative for a falling one;
 *   positions[i] the distance of the edge from the start of the line in 1/256 pixel, that is
 *                (sample index + sub-sample offset) * spacing * 256, where spacing is pixels per
 *                sample. The spacing enters as a multiple of 1/256 pixel, so over long
 *                lines its rounding adds up: lines a whole number of pixels long sampled
 *                once per pixel (the caliper) have it exact.
 * Threshold: with adaptive 0 an extremum must exceed +-threshold; with adaptive 1 it must exceed
 * a third of the largest (or smallest) derivative of the profile, and edges of the same
 * profile closer than 2 pixels are merged into the stronger one (the earlier on a tie). A
 * profile whose derivative never reaches +-threshold has no edges in both modes.
 *
 * *count and values[0] are 0 at entry. Statuses: csys_errNoMemory when the derivative scratch
 * cannot be allocated; csys_errAssertion for null pointers or a negative maxEdges; the
 * caliper also returns the sampling's statuses (ci_id/linepixels.h). */
#ifndef IDUT_CI_ID_CALIPER_H
#define IDUT_CI_ID_CALIPER_H

#include "base/cimg.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* Edges of a profile of n centred samples (sample k covers interval k of the line). The
 * derivative is p[i + 2] - p[i]; edges come in increasing position. n < 5: no edges. */
IDUT_API csys_status cidut_lineEdgeLoc(const uint8_t* profile, int32_t n, int32_t maxEdges, int32_t threshold,
                                       int32_t adaptive, double spacing, int32_t* values, int32_t* positions,
                                       int32_t* count);

/* Edges of a profile of n start-aligned samples (sample k at k * spacing). The derivative is
 * the central difference p[i + 1] - p[i - 1] (one-sided at the ends); the walk runs from the
 * far end, so edges come in decreasing position. Adaptive thresholds are at least +-1. */
IDUT_API csys_status cidut_lineEdgeLoc2D(const uint8_t* profile, int32_t n, int32_t maxEdges, int32_t threshold,
                                         int32_t adaptive, double spacing, int32_t* values, int32_t* positions,
                                         int32_t* count);

/* Samples the line p0 -> p1 with cidut_linePixels, about one sample per pixel
 * (cidut_getPixelCount), and locates its edges with cidut_lineEdgeLoc. Positions are measured
 * from p0. Points less than half a pixel apart are refused (csys_errAssertion). */
IDUT_API csys_status cidut_caliperLite(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                                       int32_t maxEdges, int32_t threshold, int32_t adaptive, int32_t* values,
                                       int32_t* positions, int32_t* count);

IDUT_EXTERN_C_END

#endif
