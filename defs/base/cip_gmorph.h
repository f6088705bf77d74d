/* Grey morphology of 8-bit images with small flat structuring elements given as offset arrays.
 *
 * Dilation: out(x, y) = the maximum of source(x + dx, y + dy) over the element's offsets;
 * erosion: the minimum. Positions outside the window take the nearest window pixel. The output
 * is new pixels of the source window (same origin and client transform) handed to the
 * destination, which may be the source's own holder. */
#ifndef IDUT_CIP_GMORPH_H
#define IDUT_CIP_GMORPH_H

#include "base/cimg.h"

IDUT_EXTERN_C_BEGIN

typedef struct cip_gmorphElementArray {
  int32_t count;    /* number of offsets */
  int32_t* offsets; /* count pairs (dx, dy) */
} cip_gmorphElementArray;

/* The filled rectangle of (2 halfWidth + 1) x (2 halfHeight + 1) offsets centred on (0, 0);
 * arguments 1 and 1 give the 3 x 3 square. Half sizes outside 0 .. 64: csys_errBadArgument;
 * allocation failure: its status; the array is left empty on failure. */
IDUT_API csys_status cip_gmorphElementArray_constructType(cip_gmorphElementArray* elements, int32_t halfWidth,
                                                          int32_t halfHeight);
IDUT_API csys_status cip_gmorphElementArray_destruct(cip_gmorphElementArray* elements);

/* Failures, destination untouched: csys_errImageUnbound for an unbound source,
 * csys_errBadArgument for an empty element array, allocation failures. */
IDUT_API csys_status cip_gmorphDilate8(const cimg_imageConst* source, cimg_image* destination,
                                       const cip_gmorphElementArray* elements);
IDUT_API csys_status cip_gmorphErode8(const cimg_imageConst* source, cimg_image* destination,
                                      const cip_gmorphElementArray* elements);

IDUT_EXTERN_C_END

#endif
