/* A table-driven edge detector for identification symbols: one lookup per pixel replaces the
 * square root and arctangent.
 *
 * A gradient pair (a, b) of signed 8-bit values forms the key k = (a & 255) * 256 + (b & 255):
 *  - kernel 2 (2 x 2 diagonal differences): a = (p(x+1,y) - p(x,y+1)) >> 1,
 *    b = (p(x+1,y+1) - p(x,y)) >> 1;
 *  - any other kernel (3 x 3 Sobel): a = gx >> 3, b = gy >> 3 with the Sobel sums gx, gy.
 * Two process-wide gradient tables (variants 0 and 1, 0x20000 bytes each, built once on first
 * use under a lock and released at shutdown) hold for every key the magnitude
 * round(min(255, 2 sqrt(a^2 + b^2))) - 128 (a signed byte) and the angle
 * round((atan2(b, a) - pi/4, in (-pi, pi]) * 128 / pi) mod 256, in blocks of 16 bytes: eight
 * magnitudes, then the eight angles of the same keys (magnitude of k at (k & 7) + (k & ~7) * 2,
 * its angle 8 bytes further). Variant 1 stores the angle 255 as 0. The - pi/4 turns kernel 2's
 * diagonal differences to the image axes; kernel 3 adds 32 back, so with either kernel the
 * delivered angle is 0 along +x and 64 along +y (rows grow downward).
 *
 * The caller's edge-code table (0x10010 bytes): a 16-byte header whose first byte is the
 * threshold, then code[k] = 255 when the variant-1 magnitude of k is below the threshold, else
 * its variant-1 angle. */
#ifndef IDUT_CI_ID_EDGEDETECTID_H
#define IDUT_CI_ID_EDGEDETECTID_H

#include "base/cimg.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

#define CF_EDGEDETECTID_GRADIENT_TABLE_SIZE 0x20000u
#define CF_EDGEDETECTID_CODE_TABLE_SIZE 0x10010u

/* Builds both gradient tables now (variant 1, then variant 0). Safe from many threads at once;
 * later calls find them built. */
IDUT_API csys_status cfEdgeDetectID_install(void);

/* Builds the caller's edge-code table for a threshold, or keeps it when it is already
 * 0x10010 bytes with that threshold in its first byte. The table must be empty or 0x10010
 * bytes (asserted: csys_errAssertion, table untouched). */
IDUT_API csys_status cf_EdgeDetectIDTableInit(cstd_vector8* table, uint8_t threshold);

/* Writes the edge code of every pixel of a width x height block (row-major, destination rows
 * destinationStride apart): with kernel 2 the code, with kernel 3 255 for a non-edge and
 * code + 32 (mod 256) otherwise. Kernel 2 reads one pixel right of and below each pixel,
 * kernel 3 one pixel on every side: the caller provides that margin. With counts not null,
 * counts[j] += the number of 255 codes in the j-th chunk of chunkWidth pixels of every row.
 * table must hold tableSize == 0x10010 bytes and pointers must be non-null and sizes positive
 * (asserted: csys_errAssertion, nothing written). unused8, unused1 and unused2 are not read. */
IDUT_API csys_status cf_EdgeDetectIDCount(const uint8_t* source, int32_t sourceStride, uint8_t* destination,
                                          int32_t width, int32_t height, int32_t destinationStride,
                                          const uint8_t* table, uint32_t tableSize, uint8_t unused8,
                                          int32_t chunkWidth, uint32_t* counts, const void* unused1,
                                          const void* unused2, int32_t kernel);

/* cf_EdgeDetectIDCount without counting. */
IDUT_API csys_status cf_EdgeDetectID(const uint8_t* source, int32_t sourceStride, uint8_t* destination, int32_t width,
                                     int32_t height, int32_t destinationStride, const uint8_t* table,
                                     uint32_t tableSize, uint8_t unused8, const void* unused1, const void* unused2,
                                     int32_t kernel);

/* Magnitude and angle images from gradient table variant = thresholdFlag (0 or 1; any other
 * value is cidut_errBadArgument). The output rectangle is the source window less its last
 * column and row (kernel 2) or less one pixel on every side (kernel 3, so that every read stays
 * in the window), intersected with bound outputs; a bound output is windowed to it, an unbound
 * one gets new pixels there. Magnitude = table magnitude; angle as in the edge codes (flag 1:
 * 255 below the threshold). Client transforms are the source's shifted by half a pixel in x and
 * y (unshifted for kernel 1). An empty rectangle is success with nothing written;
 * csys_errImageUnbound for an unbound source. */
IDUT_API csys_status cfEdgeDetectIDMagAng(const cimg_imageConst* source, cimg_image* magnitude, cimg_image* angle,
                                          int32_t thresholdFlag, uint8_t threshold, int32_t kernel);

IDUT_EXTERN_C_END

#endif
