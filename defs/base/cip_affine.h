/* Affine resampling and projection of 8-bit images.
 *
 * A region is a parallelogram (cmath_shapeAffineRect: corners Po, Px, Py) in the source's client
 * coordinates; it is mapped into the source's image coordinates with the inverse of the source's
 * client-from-image transform. Pixel (x, y) covers [x, x + 1) x [y, y + 1) and its grey level sits
 * at its centre (x + 0.5, y + 0.5). */
#ifndef IDUT_CIP_AFFINE_H
#define IDUT_CIP_AFFINE_H

#include "base/cimg.h"
#include "base/cmath_affineRect.h"

IDUT_EXTERN_C_BEGIN

/* Reported by cip_affineProjectNorm when no bin of the projection received a sample. */
#define cip_errEmptySpan ((csys_status)0x80000784)

/* Resamples the region into an image of width x height pixels (width or height 0: the rounded
 * length of the region's X or Y side, at least 1). Output pixel (i, j) takes the source at the
 * client point Po + (i + 0.5) / width (Px - Po) + (j + 0.5) / height (Py - Po), interpolated
 * bilinearly between the four nearest pixel centres; positions outside the source window take
 * the nearest window pixel. Sampling positions are held in 32.32 fixed point and weights in
 * 1/256, the result rounded half up.
 *
 * The destination receives new pixels (window origin 0, 0) whose client transform maps output
 * image point (u, v) to the client point Po + u / width (Px - Po) + v / height (Py - Po).
 * Failures, destination untouched: csys_errImageUnbound for an unbound source or an empty source
 * window, csys_errBadArgument for negative sizes, a region whose corners are not finite, a
 * singular client transform or sampling positions beyond +-32767 pixels; allocation failures. */
IDUT_API csys_status cip_affine8(const cimg_imageConst* source, const cmath_shapeAffineRect* region, int32_t width,
                                 int32_t height, cimg_image* destination);

/* Projection of the region onto its X side: bin i (0 .. L - 1, L = the rounded length of the X
 * side, at least 1) gathers the M samples (M = the rounded length of the Y side, at least 1) at
 * Po + (i + 0.5) / L (Px - Po) + (j + 0.5) / M (Py - Po), j = 0 .. M - 1, that fall inside the
 * source window, taken at the nearest pixel (interpolate 0) or bilinearly (interpolate nonzero).
 * A bin's value is the rounded mean of its samples (normalise nonzero) or their sum clamped to
 * 255 (normalise 0); a bin without samples is 0.
 *
 * projection receives new pixels of L x 1 (window origin 0, 0, identity transform). *first and
 * *last are the first and last bins with samples and *count the number of samples taken. When no
 * bin has a sample the projection is all 0, *first = 0, *last = -1, *count = 0 and the status is
 * cip_errEmptySpan. Failures otherwise as for cip_affine8, outputs untouched. */
IDUT_API csys_status cip_affineProjectNorm(const cimg_imageConst* source, const cmath_shapeAffineRect* region,
                                           int32_t normalise, int32_t interpolate, cimg_image* projection,
                                           int32_t* first, int32_t* last, int32_t* count);

IDUT_EXTERN_C_END

#endif
