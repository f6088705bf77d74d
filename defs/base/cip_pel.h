/* Whole-window pixel fill and copy of 8-bit images, and the memory-overlap check used before
 * writing one image from another. */
#ifndef IDUT_CIP_PEL_H
#define IDUT_CIP_PEL_H

#include "base/cimg.h"

IDUT_EXTERN_C_BEGIN

/* Reported by cip_pelfunc_checkMemoryOverlap when the two windows share pixel bytes. */
#define cip_errMemoryOverlap ((csys_status)0x800006a1)

/* Sets every pixel of the window to value. csys_errImageUnbound for an unbound image. */
IDUT_API csys_status cip_pelSet8(cimg_image* image, uint8_t value);

/* Copies the source window into the destination window; both must have the same width and
 * height (csys_errBadArgument otherwise, nothing written). csys_errImageUnbound when either
 * is unbound. The windows must not overlap in memory. */
IDUT_API csys_status cip_pelCopy8(const cimg_imageConst* source, cimg_image* destination);

/* 0 when the byte ranges spanned by the two windows are disjoint (or either window is empty
 * or unbound), cip_errMemoryOverlap when they share bytes. Windows of one buffer that
 * interleave rows without touching the same bytes still count as overlapping: the check
 * compares the spans from each window's first to last pixel. */
IDUT_API csys_status cip_pelfunc_checkMemoryOverlap(const cimg_imageConst* a, const cimg_image* b);

/* Difference modes of cip_pelSub8. */
#define CIP_PELSUB_WRAP 0     /* (a - b) modulo 256 */
#define CIP_PELSUB_ABS 1      /* |a - b| */
#define CIP_PELSUB_OFFSET 2   /* (a - b) / 2 + 128, the halving rounded towards minus infinity */
#define CIP_PELSUB_CLAMP 3    /* a - b, negative results 0 */

/* Pixel difference over the intersection of the two windows (image coordinates) into new pixels
 * of that rectangle, with a's client transform, handed to out. An empty intersection gives an
 * empty image. csys_errImageUnbound when a or b is unbound, csys_errBadArgument for another mode;
 * out untouched on failure. out may be a or b's own holder: the result never shares their pixels. */
IDUT_API csys_status cip_pelSub8(const cimg_imageConst* a, const cimg_imageConst* b, cimg_image* out, int32_t mode);

/* Pixel replication: each source pixel becomes a factorX x factorY block of new pixels handed to
 * out, whose window origin is the source origin times the factors and whose client transform is
 * the source's applied after a scale by 1 / factor (output pixel u lies over source pixel
 * u / factor). Factors below 1 or a result beyond 2^31 pixels a side: csys_errBadArgument;
 * unbound source: csys_errImageUnbound; out untouched on failure. */
IDUT_API csys_status cip_pelExpand8(const cimg_imageConst* source, cimg_image* out, int32_t factorX, int32_t factorY);

/* out = table[source] into new pixels of the source window, with its origin and client
 * transform. csys_errImageUnbound for an unbound source; out untouched on failure. */
IDUT_API csys_status cip_pelMap8(const cimg_imageConst* source, cimg_image* out, const uint8_t* table);

/* Smallest and largest pixel of the window: 255 and 0 for an empty window.
 * csys_errImageUnbound for an unbound image. */
IDUT_API csys_status cip_pelMinMax8(const cimg_imageConst* image, uint8_t* minimum, uint8_t* maximum);

IDUT_EXTERN_C_END

#endif
