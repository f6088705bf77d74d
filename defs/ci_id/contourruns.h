/* Straight-run analysis of closed contours: the integer chain that reduces a tracked outline to
 * a few straight runs, the candidate sides of a symbol.
 *
 *   halve -> bounding box -> smooth -> curvature -> straight runs -> order / merge / trim
 *
 * Every routine works on a closed contour (indices wrap modulo the point count), uses integer
 * arithmetic only and writes into caller-provided areas; only the merge allocates (one flag per
 * run, released before it returns). None of them polls for attention: callers do, between
 * steps.
 *
 * Points are two int32 coordinates in 1/16 pixel. The 2D searches fill them from the tracker's
 * 1/256-pixel points as (c + 128) >> 4, row first, so every stored coordinate carries an extra
 * half pixel. The routines treat the two coordinates symmetrically except where noted.
 *
 * Distances are formed from coordinate differences shifted right by 2 (1/16 -> 1/4 pixel,
 * rounding towards minus infinity) and are compared squared; they are returned as int64 so that
 * no product can overflow. Run strengths are stored as int32 and saturate at 2147483647.
 *
 * Scratch layout used by the 2D searches (byte offsets into the tracking scratch buffer):
 *   CID2D_SCRATCH_CONTOUR_OFFSET    halved contour, CID2D_CONTOUR_CAPACITY points; the raw
 *                                   contour (up to CID2D_RAW_CONTOUR_CAPACITY points) may run on
 *                                   into the next area before it is halved
 *   CID2D_SCRATCH_SMOOTHED_OFFSET   smoothed contour, same capacity
 *   CID2D_SCRATCH_CURVATURE_OFFSET  curvature, CID2D_CONTOUR_CAPACITY int32
 *   CID2D_SCRATCH_RUNS_OFFSET       runs, CID2D_RUN_CAPACITY records
 * so halving must come before smoothing. */
#ifndef IDUT_CI_ID_CONTOURRUNS_H
#define IDUT_CI_ID_CONTOURRUNS_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

/* A contour point in 1/16 pixel: u the first coordinate (the searches store the row here),
 * v the second (the column). */
typedef struct cid2d_contourPoint {
  int32_t u;
  int32_t v;
} cid2d_contourPoint;

/* A straight run of a closed contour, from point index start to point index end (end may be
 * smaller than start when the run wraps past the last point). strength is the squared chord
 * length from start point to end point in quarter pixels. A run list ends with an all-zero
 * record. */
typedef struct cid2d_straightRun {
  int32_t start;
  int32_t strength;
  int32_t end;
} cid2d_straightRun;

#define CID2D_RAW_CONTOUR_CAPACITY 16379
#define CID2D_CONTOUR_CAPACITY 8190
#define CID2D_RUN_CAPACITY 5460
#define CID2D_SCRATCH_CONTOUR_OFFSET 0
#define CID2D_SCRATCH_SMOOTHED_OFFSET 65520
#define CID2D_SCRATCH_CURVATURE_OFFSET 131040
#define CID2D_SCRATCH_RUNS_OFFSET 163800
#define CID2D_SCRATCH_MIN_SIZE 229320

/* In place: point i becomes the mean of points 2i and 2i + 1 ((a + b) >> 1 per coordinate).
 * *halvedCount (may be null) receives count / 2. count >= 0. */
csys_status cid2d_contour_halve(cid2d_contourPoint* contour, int32_t count, int32_t* halvedCount);

/* Extent of the contour in whole pixels: *width = (max - min) >> 4 of v, *height the same of u,
 * *extent the larger. All points take part; an empty contour gives zeros. Any output may be
 * null. */
csys_status cid2d_contour_getBoundingBox(const cid2d_contourPoint* contour, int32_t count, int32_t* width,
                                         int32_t* height, int32_t* extent);

/* Circular box filter of window W. With W < 2 or count < W the contour is copied unchanged.
 * Otherwise, with r = 4096 / W and h = W / 2, output j receives per coordinate
 *   ((sum of the W points j - h ... j - h + W - 1, indices modulo count) + h) * r >> 12,
 * a centred moving average with a truncated fixed-point reciprocal. output holds count points
 * and must not overlap contour (csys_errAssertion), except for the plain copy. */
csys_status cid2d_contour_smooth(cid2d_contourPoint* output, const cid2d_contourPoint* contour, int32_t count,
                                 int32_t window);

/* Second difference across h = span / 2 points on each side, per point m:
 *   c[m] = |p[m-h].u + p[m+h].u - 2 p[m].u| + |p[m-h].v + p[m+h].v - 2 p[m].v|,
 * indices modulo count. curvature holds count values; *maximum (may be null) receives the
 * largest (0 for an empty contour). The searches call it with span = 2 x smoothing window. */
csys_status cid2d_contour_curvature(int32_t* curvature, const cid2d_contourPoint* smoothed, int32_t count,
                                    int32_t span, int32_t* maximum);

/* Straight runs of low curvature. Scanning from index 0, a point with curvature <= threshold
 * opens a run that extends over the following points (modulo count) with curvature < threshold.
 * A run of len following points is dropped when len <= minLength or len >= count. Otherwise its
 * deviation - the squared distance of its middle point from its chord - must stay below
 * 9 x threshold (quarter pixels squared); when it does not and split is nonzero and
 * len > 2 minLength + 1, each half is tested on its own and kept if straight. Scanning goes on
 * where the extension stopped.
 * runs has room for capacity records (capacity >= 1): at most capacity - 1 runs are written,
 * followed by the all-zero terminator, and *runCount receives the number of runs. Fails only
 * on bad arguments (csys_errAssertion). */
csys_status cid2d_contour_straightRuns(cid2d_straightRun* runs, const int32_t* curvature,
                                       const cid2d_contourPoint* smoothed, int32_t split, int32_t count,
                                       int32_t minLength, int32_t threshold, int32_t capacity,
                                       int32_t* runCount);

/* Runs the straight-run routine dropped, by size: stretches of at least 3 and of at least 2
 * points (a stretch of len following points covers len + 1). */
typedef struct cid2d_droppedRuns {
  int32_t atLeast3;
  int32_t atLeast2;
} cid2d_droppedRuns;

/* cid2d_contour_straightRuns that also counts what it dropped (too short, too long or not
 * straight); dropped may be null. */
csys_status cid2d_contour_straightRunsCounted(cid2d_straightRun* runs, const int32_t* curvature,
                                              const cid2d_contourPoint* smoothed, int32_t split, int32_t count,
                                              int32_t minLength, int32_t threshold, int32_t capacity,
                                              int32_t* runCount, cid2d_droppedRuns* dropped);

/* The straightness measure of the run routine: the squared distance (quarter pixels) of point
 * mid from the chord start -> end, the chord taken through its midpoint with a short direction
 * along its dominant axis; the distance to the midpoint when both axes are equal. */
csys_status cid2d_contour_chordDeviation(const cid2d_contourPoint* points, int32_t start, int32_t end, int32_t mid,
                                         int64_t* deviation);

/* Selection sort by strength, largest first: each position in turn receives the first of the
 * largest remaining runs. */
csys_status cid2d_straightRuns_order(cid2d_straightRun* runs, int32_t runCount);

/* *trimmedCount receives runCount less the trailing runs of strength 0, but never less than
 * one when runCount >= 1. The records are not changed. */
csys_status cid2d_straightRuns_trim(const cid2d_straightRun* runs, int32_t runCount, int32_t* trimmedCount);

/* Joins nearly collinear runs separated by a small gap. runs holds runCount ordered runs of the
 * smoothed contour of count points; gap G and tolerance P are in quarter pixels (the Data Matrix
 * search passes G = 4 x window and P = 64: the gap may be up to G + 6 quarter pixels and each run
 * must keep within P / 4 quarter pixels of the joining chord; the angle between the runs must
 * give -35 < floor(1000 x cross / dot) < 0). A run that absorbs another takes over its far end
 * point and the chord's strength; the absorbed run gets strength 0. The run count does not
 * change: order and trim afterwards. Fails with csys_errNoMemory when the flag array cannot be
 * allocated and with csys_errAssertion on two degenerate runs (both cross and dot zero). */
csys_status cid2d_straightRuns_merge(cid2d_straightRun* runs, const cid2d_contourPoint* smoothed, int32_t count,
                                     int32_t runCount, int32_t gap, int32_t tolerance);

/* ((a.v - b.v) >> 2)^2 + ((b.u - a.u) >> 2)^2: the squared distance in quarter pixels (the shift
 * rounds down, so the argument order can change the last unit). */
csys_status cid2d_contour_distanceSq(const cid2d_contourPoint* a, const cid2d_contourPoint* b, int64_t* distanceSq);

/* Squared distance of p from the line through a and b, quarter pixels: with
 * n = ((a.v - b.v) >> 2, (b.u - a.u) >> 2) and d = n . ((p - a) >> 2), d^2 / |n|^2 (integer
 * division); when n is zero, the squared distance from a to p. */
csys_status cid2d_contour_lineDistanceSq(const cid2d_contourPoint* p, const cid2d_contourPoint* a,
                                         const cid2d_contourPoint* b, int64_t* distanceSq);

IDUT_EXTERN_C_END

#endif
