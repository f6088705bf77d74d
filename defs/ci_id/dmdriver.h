/* Data Matrix scan drivers: walk the caller's scan lines, find edge peaks on them and hand each
 * peak whose marking cell is clear to a search from a seed (ci_id/dmsearch.h) until one finds a
 * symbol.
 *
 * Resuming. A driver starts at params->firstScanLine and stops at the first find; the result's
 * line then holds the index of the scan line the symbol was found on (on no find: the index where
 * the scan stopped, that is the scan line count, or firstScanLine when that was already at or
 * beyond it). To find the next symbol the caller claims the found one in its mask, sets
 * params->firstScanLine to result->line and calls again with the same marking image: the line is
 * walked again from its start, and the outlines tracked so far are skipped through their marking
 * cells.
 *
 * Peaks. Along a row (params->scanDirection 1) the response at column x is the six-tap step filter
 * |p[x+2] + p[x+3] + p[x+4] - p[x-1] - p[x] - p[x+1]| for x = x0 + 3 ... x0 + width - 6; along a
 * column (scanDirection 0) it is |p[y+3] - p[y]| for y = y0 + 3 ... y0 + height - 6. The response
 * of the previous position is a peak when it rose from the one before, is not below the current
 * one, reaches the threshold (rows: 45, or 33 with the low-contrast flag; columns: 15) and the
 * marking cell (x >> 2, y >> 2) of the current position is clear. The seed is the current position
 * (relative to the window's origin; see ci_id/dmsearch.h on coordinates), its strength the peak
 * response, its mean the mean of the four pixels from one before to two after it along the walk,
 * its line the scan line's index, its tracker start points two after and one before it. Scan lines
 * outside the window are skipped.
 *
 * Run parameters: cbt_runParams_init, then closeAtBorder 1, saddleByMean 1, minPoints 0 and the
 * point limit from params->maxContourPoints; the adaptive driver also sets localThreshold 1.
 *
 * Failures: csys_errAssertion for null arguments, a negative first scan line or missing scan
 * lines; csys_errImageUnbound for an unbound image or marking image; the attention check's status
 * (polled once per scan line and every few positions) and any failure of the seed search are
 * returned unchanged. Finding nothing is success with found 0. */
#ifndef IDUT_CI_ID_DMDRIVER_H
#define IDUT_CI_ID_DMDRIVER_H

#include "ci_id/dmsearch.h"

IDUT_EXTERN_C_BEGIN

/* Seeds go to cf_BndFindDMSymbolFromSeed (reserved is handed to it unchanged). The result is
 * reset (found and score 0) before the scan. */
IDUT_API csys_status cf_BndFindNextDMSymbol(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                            const cid_mask* mask, void* reserved, const cmath_xformLinear* maskXform,
                                            int32_t lowContrast, cimg_image* markingImage,
                                            cid2d_trackingResult* result);

/* Seeds go to cf_BndFindDMSymbolFromSeed_Adaptive with level 0; on a find the L's side points are
 * in result->boundary.sides. Along rows a peak is also passed over when the adaptive marks say the
 * outline next to it was tracked already: at a column x > 0 that is a multiple of 4 when the cell
 * to the left holds 3 or 4 (an outline in its last two columns), at x mod 4 = 3 (not at the row's
 * last positions) when the cell to the right holds 1 or 2. Attention is also polled every 300
 * positions along a row (a column walk counts none). */
IDUT_API csys_status cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(const cimg_imageConst* image,
                                                                          const cid2d_trackingParams* params,
                                                                          const cid_mask* mask,
                                                                          const cmath_xformLinear* maskXform,
                                                                          int32_t lowContrast,
                                                                          cimg_image* markingImage,
                                                                          cid2d_trackingResult* result);

IDUT_EXTERN_C_END

#endif
