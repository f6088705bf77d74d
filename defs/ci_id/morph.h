/* Grey morphology with rectangular structuring elements on 8-bit images, built on running
 * extrema along lines.
 *
 * Running extremum of a line of N samples with window length K: with r = (K - 1) / 2, but at
 * least 1, output[x] is the maximum (minimum) of source[max(0, x - r) .. min(N - 1, x + r)].
 * An even K therefore looks at K + 1 samples, and K = 2 at 3. Each routine has a fast path (a
 * doubling scheme over whole lines) and a generic one (a monotone queue of sample indices, a
 * constant amortised number of comparisons per sample); the optimisation switch names
 * "rowExtremaMax" and "rowExtremaMin" skip the fast one. Both give the same output. */
#ifndef IDUT_CI_ID_MORPH_H
#define IDUT_CI_ID_MORPH_H

#include "base/cimg.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* The operations of cidut_morph2d_run. */
#define CIDUT_MORPH_MAX 0     /* dilation of bright areas */
#define CIDUT_MORPH_MIN 1     /* erosion of bright areas */
#define CIDUT_MORPH_OPEN 2    /* minimum, then maximum */
#define CIDUT_MORPH_CLOSE 3   /* maximum, then minimum */

/* Running maximum / minimum of source[0 .. length-1] into destination[0 .. length-1].
 * Preconditions (csys_errAssertion, nothing written): non-null lines that do not overlap,
 * windowLength >= 2 and windowLength < length. When steps is not null it receives the number of
 * samples the queue dropped from its back, and the queue (generic path) runs. An allocation
 * failure of the work buffers returns its status with nothing written. */
IDUT_API csys_status rowExtremaMax(int32_t windowLength, const uint8_t* source, uint8_t* destination,
                                   int32_t length, uint32_t* steps);
IDUT_API csys_status rowExtremaMin(int32_t windowLength, const uint8_t* source, uint8_t* destination,
                                   int32_t length, uint32_t* steps);

/* Separable grey morphology of the source window with a kernelWidth x kernelHeight rectangle:
 * the running extremum with K = kernelWidth along every row (when kernelWidth >= 2), then with
 * K = kernelHeight along every column (when kernelHeight >= 2). Near the borders the window is
 * clipped to the image, as in the line routines.
 *
 * Output: when the destination is bound, its window contains the source window and the two do
 * not share pixel memory, the result goes into the destination's pixels under the source window
 * (the rest of the destination untouched). Otherwise the destination receives a new image of the
 * source window's rectangle holding the result, with the source's client transform; this is how
 * a call with the source's own pixels as destination works.
 *
 * A window narrower than kernelWidth or lower than kernelHeight, or a kernel with both sides
 * below 2, copies the source unchanged. A kernel side equal to the window's side is accepted
 * and clipped like any other window.
 *
 * Failures, destination untouched: csys_errImageUnbound for an unbound source,
 * cidut_errBadArgument for an operation outside 0 .. 3 or a kernel side below 1, and
 * allocation failures with their status. An empty source window is success with nothing done. */
IDUT_API csys_status cidut_morph2d_run(const cimg_image8Const* source, cimg_image* destination, int32_t operation,
                                       int32_t kernelWidth, int32_t kernelHeight);

IDUT_EXTERN_C_END

#endif
