/* The library's status codes. Every flat function returns one: 0 is success, a value with
 * bit 31 set (negative) is a failure; test with CSYS_FAILED(). Failures pass upward unchanged.
 * Codes the base layer raises (csys_err*) are in base/csys.h. */
#ifndef IDUT_CI_ID_STATUS_H
#define IDUT_CI_ID_STATUS_H

#include "base/csys.h"

/* bare failure: an unsupported pixel-operation mode, a fixed-point segment of zero length */
#define cidut_errUnsupported ((csys_status)0x80000000)
/* a null pointer given to the correlation routines */
#define cidut_errNullArgument ((csys_status)0x80000001)
/* an argument out of range (correlation, Reed-Solomon codec) */
#define cidut_errOutOfRange ((csys_status)0x80000002)
/* an allocation failed, or an edge list is full */
#define cidut_errNoMemory ((csys_status)0x80000023)
/* a sampling step below 1 */
#define cidut_errBadStep ((csys_status)0x800003c2)
/* an input image has no pixel memory bound to it */
#define cidut_errImageUnbound ((csys_status)0x800003c3)
/* fixed-point statistics: precision below 3 or not initialised */
#define cidut_errStatsParam ((csys_status)0x80000541)
/* fixed-point statistics without samples */
#define cidut_errStatsEmpty ((csys_status)0x80000542)
/* the fast variant of a routine is inhibited; run the generic one */
#define cidut_errNotOptimized ((csys_status)0x80000601)
/* two lines (or the lines through two segments) do not intersect */
#define cidut_errParallelLines ((csys_status)0x80000841)
/* a line cannot be built: direction too short, negative distance, or a failed fit line */
#define cidut_errZeroDirection ((csys_status)0x80000842)
/* a segment's two end points give no direction */
#define cidut_errDegenerateSegment ((csys_status)0x80000843)
/* big-integer division by zero */
#define cidut_errDivideByZero ((csys_status)0x80000845)
/* an argument value outside its allowed range */
#define cidut_errBadArgument ((csys_status)0x80000846)
/* a least-squares line fit with fewer than two points or no defined direction */
#define cidut_errFitFailed ((csys_status)0x80000847)
/* a robust line fit with too few points, or no fit found */
#define cidut_errTooFewPoints ((csys_status)0x80000848)
/* an operation that needs a finite range applied to an empty or full range */
#define cidut_errRangeNotFinite ((csys_status)0x80000849)
/* source and destination pixel memory overlap */
#define cidut_errBuffersOverlap ((csys_status)0x8000084a)
/* a sampling line without any valid sample inside the window */
#define cidut_errNoSamples ((csys_status)0x8000084b)
/* an FFT image dimension that is not a power of two */
#define cidut_errFftSize ((csys_status)0x80000861)
/* the boundary tracker reported a contour without points */
#define cidut_errEmptyContour ((csys_status)0x80000867)

/* Base-layer codes that callers in the library test for by value. */
#define cidut_errTrackerNoBoundary ((csys_status)0x80000903) /* no boundary at a seed */
#define cidut_errLinesParallelBase ((csys_status)0x80000928) /* cmath_shapeLine_intersection */
#define cidut_errZeroVectorBase ((csys_status)0x80000584)    /* cmath_vect_getUnit */
#define cidut_errMemoryOverlapBase ((csys_status)0x800006a1) /* memory-overlap check */
#define cidut_errEmptySpanBase ((csys_status)0x80000784)     /* projection with an empty span */

/* Nonzero when a failure status asks the caller to run a routine's generic path. */
#define CIDUT_IS_NOT_OPTIMIZED(s) (CSYS_FAILED(s) && ((uint32_t)(s) & 0xFFFFu) >= 0x600u && ((uint32_t)(s) & 0xFFFFu) <= 0x61Fu)

#endif
