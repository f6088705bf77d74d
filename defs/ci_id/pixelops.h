/* Whole-image operations on 8-bit images: arithmetic between two images, inversion, table
 * mapping, minimum and maximum, transposition, subsampling and replication with matching client
 * transforms, projection of an affine region, box averages of raw buffers, and fronts to the
 * Gaussian and low-pass filters.
 *
 * Common frame: every input image must be bound (cidut_errImageUnbound otherwise); the result is
 * made in new pixels and handed to the output image at the end, so a call never writes into
 * pixels the caller still shares, and the output may be an input's own holder. Only
 * cidut_ip_pelInvert8 works in place, and the Gaussian and low-pass fronts write into a bound
 * output (see there). On failure the output is untouched. */
#ifndef IDUT_CI_ID_PIXELOPS_H
#define IDUT_CI_ID_PIXELOPS_H

#include "base/cimg.h"
#include "base/cmath_affineRect.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* out = a - b (negative results 0) / a + b (results above 255 are 255) over the intersection of
 * the two windows, with a's client transform. Only mode 0: any other is cidut_errUnsupported. */
IDUT_API csys_status cidut_ip_pelSub8(const cimg_image8Const* a, const cimg_image8Const* b, cimg_image* out,
                                      int32_t mode);
IDUT_API csys_status cidut_ip_pelAdd8(const cimg_image8Const* a, const cimg_image8Const* b, cimg_image* out,
                                      int32_t mode);

/* In place: p = 255 - p over the window. */
IDUT_API csys_status cidut_ip_pelInvert8(cimg_image* image);

/* out = table[source] over the source window, with its origin and client transform. */
IDUT_API csys_status cip_image8_map(cimg_image* out, const cimg_image8Const* source, const uint8_t* table);

/* Smallest and largest pixel of the window (255 and 0 when it is empty). */
IDUT_API csys_status cidut_ip_pelMinMax8(const cimg_image8Const* source, uint8_t* minimum, uint8_t* maximum);

/* out(y, x) = source(x, y): a window of height x width at origin (y0, x0); the client transform
 * is the source's applied after swapping the two coordinates. */
IDUT_API csys_status cidut_ip_pelTranspose8(const cimg_image8Const* source, cimg_image* out);

/* Subsampling with steps of at least 1 (cidut_errBadStep otherwise): out is
 * (width / stepX) x (height / stepY) at origin (0, 0) and out(i, j) = the source window's pixel
 * (i stepX + (stepX - 1) / 2, j stepY + (stepY - 1) / 2). Source image coordinate x (relative to
 * the window's origin) lies at output coordinate x / stepX + dx, dx = 0.5 / stepX for an even step
 * and 0 for an odd one (likewise y); the output's client transform is the source's composed with
 * the inverse of that map. */
IDUT_API csys_status cidut_ip_pelSample(const cimg_image8Const* source, cimg_image* out, int32_t stepX,
                                        int32_t stepY);

/* Replication: each pixel becomes a factorX x factorY block; origin = source origin x factors;
 * client transform the source's after a scale by 1 / factor. Factors below 1: cidut_errBadStep. */
IDUT_API csys_status cidut_ip_pelExpand8(const cimg_image8Const* source, cimg_image* out, int32_t factorX,
                                         int32_t factorY);

/* The region's normalised projection onto its X side (nearest-pixel samples, the rounded mean of
 * each bin, see cip_affineProjectNorm), windowed to the span of bins that received samples: one
 * row whose origin x is the first such bin. An empty span is success with an empty window.
 * *count receives the number of samples taken. */
IDUT_API csys_status cidut_ip_project8(const cimg_image8Const* source, const cmath_shapeAffineRect* region,
                                       int32_t* count, cimg_image* out);

/* Gaussian smoothing (cip_gauss) with kernel half-widths sizeX, sizeY clamped to 0 .. 24 and the
 * default sigmas (0.5 + size / 3); no reduction. The output region (cfGaussGetDstReg) is the
 * source window: a bound output must contain it and receives the result there; an unbound one
 * gets new pixels. Source and bound output pixel memory must not overlap:
 * cidut_errBuffersOverlap, nothing written. A bound output that does not contain the region:
 * cidut_errBadArgument. */
IDUT_API csys_status cidut_ip_gauss8(const cimg_image8Const* source, cimg_image* out, int32_t sizeX, int32_t sizeY);

/* Box low-pass filter (cip_plpf): half-width size clamped to 0 .. 65, passes clamped to 1 .. 3,
 * blend factor (finite, else cidut_errBadArgument) and, for the Mask variant, the contrast
 * threshold of the local-contrast mask; the plain variant ignores threshold. Output and overlap
 * rules as for cidut_ip_gauss8 (region: cfPlpfComputeDstReg, the source window). */
IDUT_API csys_status cidut_ip_plpf8(const cimg_image8Const* source, cimg_image* out, float factor, int32_t size,
                                    int32_t passes, int32_t threshold);
IDUT_API csys_status cidut_ip_plpf8Mask(const cimg_image8Const* source, cimg_image* out, float factor, int32_t size,
                                        int32_t passes, int32_t threshold);

/* Box mean over raw buffers: out(x, y) = (sum of the boxWidth x boxHeight pixels with top-left
 * corner (x, y) + area / 2) / area for x <= width - boxWidth, y <= height - boxHeight; the last
 * boxWidth - 1 columns of each such row repeat its last value and the last boxHeight - 1 rows copy
 * the last computed row. Boxes of height 1 and width 2 or 3 round as (p0 + p1 + 1) >> 1 and
 * (p0 + p1 + p2 + 1) / 3. Asserted (csys_errAssertion, nothing written): non-null buffers,
 * 1 <= boxWidth <= width, 1 <= boxHeight <= height, strides of at least width, and output rows
 * that do not overlap the source's. */
IDUT_API csys_status cid_spatialAverage(const uint8_t* source, int32_t width, int32_t height, int32_t sourceStride,
                                        int32_t boxWidth, int32_t boxHeight, uint8_t* out, int32_t outStride);

IDUT_EXTERN_C_END

#endif
