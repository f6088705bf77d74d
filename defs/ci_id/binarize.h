/* Binarisation of 8-bit grey images into 0 / 255 by six thresholding methods, and a small
 * buffer division.
 *
 * Methods (params.method); a pixel p becomes 255 when:
 *  0  p >= T, T = (min + max) / 2 of the source window;
 *  1  p >= T, T = the within-group-variance (Otsu) threshold of the source's histogram with the
 *     default threshold parameters (cip_threshComputeWGVThresholdFromImage);
 *  2  p > T of its tile: T = (tile min + tile max) / 2 when the tile's range exceeds F, else 0;
 *     F = the reference image's range when there is one, else minRange;
 *  3  p > T of its tile: T = (tile max + G) / 2, G = the smallest tile minimum, or the
 *     reference image's minimum when there is one;
 *  4  p > T(p) from local contrast at reduced resolution (below);
 *  5  p * N^2 >= S - offset * N^2, S the sum of the N x N window (N = windowSize) centred on p
 *     (top-left corner half = N / 2 above and left of p); pixels nearer than half to a border
 *     take the comparison value of the nearest window.
 *
 * Tile grid (methods 2, 3): tilesX x tilesY tiles, or, when region is not null, tile sides of
 * a / divisions and b / divisions for the region's side lengths a and b (the shorter side's tile
 * scaled so tiles keep the region's aspect), giving W / truncate(w) columns and H / truncate(h)
 * rows. With base size W / nx by H / ny, every tile is one pixel wider and higher than the base
 * and starts right after the previous one; the last tile of a row or column takes what is left.
 *
 * Reference image (methods 0 to 3, by regionMode): 2 none; 1 the region resampled from the source
 * (cip_affine8 at the region's side lengths); 0 the source under `window`, taken relative to the
 * source window's origin (it must lie inside the source window and have a nonzero size).
 *
 * Method 4 (r = reduction, c = minContrast): S = the source smoothed and reduced by r with the
 * Gaussian (half-widths r; a copy when r < 2); D and E its 3 x 3 dilation and erosion. A pixel of
 * S is contrasted when c9 = max D - min E over its clamped 9 x 9 neighbourhood is at least c; it
 * then gets T = (min E over 9 x 9) + k / 2, with k = c3 (the same range over the centred 3 x 3
 * neighbourhood) when c3 >= c, else c9, and contrast K = c9. Any other pixel gets the global
 * within-group-variance threshold of S's histogram and K = D - E. T and K are enlarged by r back
 * over the source; the contrast mask, when given, receives K mapped to 255 where K >= c, else 0.
 *
 * Output: an unbound destination gets new pixels of the source window's size; a bound one must
 * have a window of that size and must not share pixel memory with the source. Either way its
 * window origin becomes the source window's and its client transform the source's.
 *
 * Failures (destination and contrast mask untouched unless noted):
 *  csys_errAssertion              null destination, source or params;
 *  cidut_errImageUnbound          unbound source;
 *  cidut_errBadArgument           an empty source window, a bound destination of another size,
 *                                 a method or regionMode out of range, a zero tile size or count,
 *                                 more tiles than pixels, a reference window of zero size or
 *                                 outside the source, a window size N outside 1 .. 181 or larger
 *                                 than the image, a reduction above 64, a minContrast that is
 *                                 not finite, a region that is not finite;
 *  cidut_errBuffersOverlap        destination or contrast mask pixels overlap the source's;
 *  allocation failures            with their status (the destination may hold part of the
 *                                 threshold image then). */
#ifndef IDUT_CI_ID_BINARIZE_H
#define IDUT_CI_ID_BINARIZE_H

#include "base/cimg.h"
#include "base/cmath_affineRect.h"
#include "ci_id/status.h"
#include "ci_id/typecheck.h"

IDUT_EXTERN_C_BEGIN

struct cidut_binarizeParams {
  cmath_shapeAffineRect region; /* symbol region; null (all corners 0) for none */
  cstd_rect32 window;           /* reference window of regionMode 0, relative to the source origin */
  int64_t reserved0;            /* not read */
  int64_t reserved1;            /* not read */
  int32_t method;               /* 0 .. 5, see above; default 3 */
  int32_t regionMode;           /* 0 window, 1 region, 2 none; default 2 */
  uint8_t minRange;             /* contrast floor F of method 2 without reference; default 65 */
  int32_t tilesX;               /* tile columns without region; default 20 */
  int32_t tilesY;               /* tile rows without region; default 10 */
  double divisions;             /* tiles along each side of the region; default 10 */
  double minContrast;           /* c of method 4; default 20 */
  int32_t reduction;            /* r of method 4 (below 2: none); default 2 */
  uint8_t offset;               /* offset of method 5; default 10 */
  int32_t windowSize;           /* N of method 5; default 15 */
};

/* Sets the defaults above; returns the status of the region's initialisation. */
IDUT_API csys_status cidut_binarizeParams_construct(cidut_binarizeParams* params);
/* Nothing to release: success. */
IDUT_API csys_status cidut_binarizeParams_destruct(cidut_binarizeParams* params);

/* Binarises source into destination (see above). unused1 and unused2 are not read. contrastMask
 * may be null; method 4 alone writes it. */
IDUT_API csys_status cidut_binarizeImage(cimg_image* destination, void* unused1, void* unused2,
                                         cimg_image* contrastMask, const cimg_image8Const* source,
                                         const cidut_binarizeParams* params);

/* output[i] = the low 8 bits of input[i] / divisor for i < count. A fast path (multiplication by
 * a 64-bit reciprocal) and a generic one (plain division) give the same bytes; the optimisation
 * switch name "cidut_divideBufferByConstant32_8" selects the generic one. A divisor of 0 or a
 * null buffer with a nonzero count: cidut_errBadArgument, nothing written. */
IDUT_API csys_status cidut_divideBufferByConstant32_8(const uint32_t* input, uint32_t count, uint32_t divisor,
                                                      uint8_t* output);

IDUT_EXTERN_C_END

#endif
