/* One-dimensional normalised correlation of a template against a signal.
 *
 * A template t of length T slides over a signal s of length S (T <= S) with a margin m
 * (0 <= m < T) on both sides: shifts k run from -m to S - T + m, giving N = S - T + 1 + 2m
 * scores, score i belonging to shift k = i - m. At shift k, t[j] meets s[j + k] wherever both
 * exist; over those n pairs
 *   c = n * sum(t s) - sum(t) * sum(s),  v = (n * sum(t^2) - sum(t)^2) * (n * sum(s^2) - sum(s)^2)
 * and the score is 0 when c < 0 (anti-correlation does not count) or v <= 0 (a constant
 * overlap), 1 when v <= c^2, else c^2 / v: the squared correlation coefficient of positively
 * correlated overlaps, in 0 .. 1.
 *
 * The 8-bit variants sum exactly in 64-bit integers. The 32-bit variants sum in double and take
 * each product t * s at full 64-bit width (it does not wrap), exact while the sums stay below
 * 2^53; they poll the attention check once per shift and return its status when asked to stop.
 *
 * The best-shift operations set both outputs to 0 first, and leave them 0 on every failure. */
#ifndef IDUT_CI_ID_CORRELATE_H
#define IDUT_CI_ID_CORRELATE_H

#include "base/cimg.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* Fills scores[0 .. N-1]. cidut_errNullArgument for a null pointer; cidut_errOutOfRange when
 * T < 1, S < 1, margin < 0, S < T or T <= margin. Nothing is written on failure. */
IDUT_API csys_status cf_correlate1D_U8(const uint8_t* templ, int32_t templateLength, const uint8_t* signal,
                                       int32_t signalLength, int32_t margin, double* scores);
IDUT_API csys_status cf_correlate1D_U32(const uint32_t* templ, int32_t templateLength, const uint32_t* signal,
                                        int32_t signalLength, int32_t margin, double* scores);

/* The best shift refined to a fraction of a sample, and its score. The best index is the first
 * with the largest score above 0 (none: success, both outputs 0). At either end of the score
 * range the shift is the end's; inside it, a parabola through the best score and its two
 * neighbours moves the shift by (c - a) / (2b - a - c) when the best is a strict peak on its
 * right (a <= b > c) and the curvature exceeds 0.0001, else not at all. S < T: success with
 * both outputs 0 and nothing else done. Otherwise the argument rules of cf_correlate1D_*, and
 * cidut_errNullArgument for null outputs; an allocation failure returns its status. */
IDUT_API csys_status cf_RunCorrelate_U8(const uint8_t* templ, int32_t templateLength, const uint8_t* signal,
                                        int32_t signalLength, int32_t margin, double* offset, double* score);
IDUT_API csys_status cidut_RunCorrelate_UInt32(const uint32_t* templ, int32_t templateLength,
                                               const uint32_t* signal, int32_t signalLength, int32_t margin,
                                               double* offset, double* score);

/* cf_RunCorrelate_U8 with the first row of a's window as the template and the first row of b's
 * window as the signal, margin 0: the offset is where a's row lies along b's. Unbound images:
 * cidut_errImageUnbound; a window without rows: cidut_errOutOfRange (outputs 0 in both cases). */
IDUT_API csys_status cidut_ip_correlate8(const cimg_image8Const* a, const cimg_image8Const* b, double* offset,
                                         double* score);

IDUT_EXTERN_C_END

#endif
