/* Grid pitch: where the edges of a one-dimensional symbol sit on its regular grid of cells.
 *
 * Both functions take n edge positions along a line, in any fixed unit (pixels, 1/256 pixel,
 * ...) with the pitch in the same unit, ordered along the line, and use integer arithmetic
 * only. Phases within a cell are in 1/256 of the pitch, scale factors in 1/1000.
 *
 * Failures: csys_errAssertion on a null pointer or a parameter outside the limits given with
 * each function (outputs untouched), csys_errNoMemory when a work array cannot be had. */
#ifndef IDUT_CI_ID_GRIDPITCH_H
#define IDUT_CI_ID_GRIDPITCH_H

#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* Numbers the cells of the edges that agree on one grid phase.
 *
 * The residue of an edge is |position remainder pitch| (the remainder takes the position's
 * sign, so -30 with pitch 100 has residue 30). The residues are sorted, and the largest group
 * of them within less than `window` of its first member is taken, where a group may wrap from
 * residues near the pitch round to residues near 0; between groups of one size the tighter one
 * wins. Its origin is (first + last - window) / 2 (the last residue raised by the pitch for a
 * wrapping group), and each edge d = position - origin of the group lies in cell d / pitch
 * ((d - pitch) / pitch for negative d). On return order[i] is the cell of edge i counted from
 * the group's smallest cell, or -1 for an edge off the grid; scratch holds the same numbers.
 *
 * n >= 2; positions, scratch and order hold n values (order is used for the sort on the way);
 * 0 < window <= pitch. *origin receives the origin and *flag 0. */
IDUT_API csys_status cidut_cg1dOnGrid(int32_t n, const int32_t* positions, int32_t* scratch, int32_t pitch,
                                      int32_t window, int32_t* order, int32_t* origin, int32_t* flag);

/* Refines a nominal pitch that may be off by a scale factor in [minScale, maxScale] / 1000.
 *
 * Edges are walked in runs of K cells, K small enough that the largest allowed scale error
 * moves an edge by less than half a cell over a run. In each run the phase of every edge is
 * measured from two origins half a cell apart (one of them keeps the phases away from the wrap
 * at 0/256), a line is fitted to phase against cell for each, and the one with the smaller
 * residual sum of squares about its line is kept (equal sums: the smaller absolute slope). All
 * of the fit is 32-bit integer arithmetic that wraps: slope b = (n Sxy - Sx Sy) / D and
 * intercept a = (Sxx Sy - Sx Sxy) / D truncate (D = n Sxx - Sx^2; D = 0 gives a slope and a
 * residual sum of 2^31 - 1), and the residual sum is Syy - 2a Sy - 2b Sxy + n a^2 + 2ab Sx +
 * b^2 Sxx with those truncated values.
 * The runs' fits are joined with their offsets removed, points farther than half the search
 * window from the joint line are dropped, and the slope of the line (the phase drift per cell)
 * corrects the pitch: pitch' = pitch + (slope * pitch) >> 8. This repeats with the new pitch
 * while it moves by 2 or more and the fit keeps growing; runs lengthen as the fit gets surer.
 * The drift is measured in whole 1/256 of a pitch per cell, so the refined pitch is good to
 * about pitch / 256 over the edges' span.
 *
 * n >= 2 edges; nominalPitch >= 1; 501 <= minScale < 1000, minScale <= maxScale < 2000 and
 * maxScale >= 1001 (K >= 2 is asserted too);
 * 1 <= tolerance < nominalPitch / 2 (the edges' position noise); inlierTolerance v: an edge
 * with |y - (b x + a)| < v / 2 (v / 2 truncated, in 1/256 of a cell) counts as an inlier.
 * reserved is not read. Outputs: *fitSum the sum of the cell numbers of the joint fit (0 when
 * nothing was fitted; it grows with the fit's confidence), *inliers, *pitch the refined pitch
 * (the nominal one when no fit was possible). A minScale of 1000 or more leaves the run length
 * K = min(499 / (1000 - minScale), 499 / (maxScale - 1000)) without a bound and is asserted,
 * like every other range above. */
IDUT_API csys_status cidut_cg1dComputeScaledPitch(int32_t n, const int32_t* positions, int32_t nominalPitch,
                                                  int32_t minScale, int32_t maxScale, int32_t tolerance,
                                                  int32_t reserved, int32_t inlierTolerance, int32_t* fitSum,
                                                  int32_t* inliers, int32_t* pitch);

IDUT_EXTERN_C_END

#endif
