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

IDUT_EXTERN_C_END

#endif
