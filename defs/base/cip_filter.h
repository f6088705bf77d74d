/* Smoothing filters of 8-bit images: the separable Gaussian (with optional subsampling) and a
 * box low-pass filter with a blend factor and a local-contrast mask mode.
 *
 * Both filters replicate the border pixels of the source window outward, so every output pixel
 * has a full kernel and the output region is the whole source window (divided by the reduction
 * factors for the Gaussian, see cfGaussGetDstReg).
 *
 * Output convention shared by cip_gauss, cip_gauss_smooth8_8 and cip_plpf:
 *  - a bound destination whose window contains the output region receives the result in the
 *    pixels under that region (the rest of its window untouched); the source and destination
 *    pixel memory must not overlap (cip_errMemoryOverlap, nothing written);
 *  - a bound destination whose window does not contain the region: csys_errBadArgument, nothing
 *    written;
 *  - an unbound destination gets new pixels of the region, windowed to the region, with the
 *    source's client transform (composed with the reduction's scale for the Gaussian).
 * An unbound source is csys_errImageUnbound; an empty source window is success with nothing
 * written. */
#ifndef IDUT_CIP_FILTER_H
#define IDUT_CIP_FILTER_H

#include "base/cimg.h"

IDUT_EXTERN_C_BEGIN

/* Largest kernel half-width of the Gaussian and the low-pass box. */
#define CIP_GAUSS_MAX_SIZE 24
#define CIP_PLPF_MAX_SIZE 65

/* Gaussian settings. Kernel taps are exp(-k^2 / (2 sigma^2)) for k = -size .. size, quantised to
 * fixed point: 8 fraction bits along rows, 15 along columns, each set summing exactly to one, so a
 * flat image comes out unchanged. The result is rounded half up. */
typedef struct cip_gaussParams {
  int32_t sizeX;   /* kernel half-width along rows, 0 .. CIP_GAUSS_MAX_SIZE (0: no smoothing along x) */
  int32_t sizeY;   /* kernel half-height along columns, 0 .. CIP_GAUSS_MAX_SIZE */
  int32_t reduceX; /* keep one column in reduceX (>= 1): output column i is centred on source
                    * column i * reduceX + (reduceX - 1) / 2, clamped to the window */
  int32_t reduceY; /* the same for rows */
  double sigmaX;   /* standard deviation along rows in pixels; <= 0 picks 0.5 + sizeX / 3 */
  double sigmaY;   /* the same along columns */
} cip_gaussParams;

/* Half-widths 0 (no smoothing), reductions 1, default sigmas. */
IDUT_API extern const cip_gaussParams csGaussParamsNull;

/* Half-widths 1, reductions 1, default sigmas. */
IDUT_API csys_status cip_gaussParams_init(cip_gaussParams* params);

/* The output rectangle of a Gaussian over a source window rectangle: origin source origin /
 * reduction (rounded towards minus infinity), size ceil(source size / reduction).
 * csys_errBadArgument (dst untouched) when a setting is out of its range. */
IDUT_API csys_status cfGaussGetDstReg(const cstd_rect32* sourceRect, const cip_gaussParams* params, cstd_rect32* dst);

/* The Gaussian filter (output convention above). csys_errBadArgument for settings out of range,
 * allocation failures with their status; nothing written on failure. */
IDUT_API csys_status cip_gauss(const cimg_imageConst* source, cimg_image* destination, const cip_gaussParams* params);

/* Smoothing with reduction: the same filter, for callers that shrink an image before a coarse
 * analysis. */
IDUT_API csys_status cip_gauss_smooth8_8(const cimg_imageConst* source, cimg_image* destination,
                                         const cip_gaussParams* params);

/* Low-pass settings. The local mean m is the mean of the (2 size + 1)^2 box around a pixel,
 * applied `passes` times (each pass on the previous result, rounded half up); three passes
 * approach a Gaussian. Without the mask flag, out = p + factor * (m - p), rounded half up and
 * clamped to 0 .. 255: factor 1 is the plain mean, 0 the identity, a negative factor sharpens.
 * With the mask flag, out = 255 where |p - m| >= threshold, else 0 (a local-contrast mask). */
typedef struct cip_plpfParams {
  int32_t size;      /* box half-width, 0 .. CIP_PLPF_MAX_SIZE */
  int32_t passes;    /* 1 .. 3 */
  int32_t threshold; /* mask mode: smallest |p - m| marked */
  int32_t mask;      /* nonzero: mask mode */
  float factor;      /* blend towards the mean (plain mode) */
} cip_plpfParams;

/* Half-width 0, one pass, threshold 0, no mask, factor 1. */
IDUT_API extern const cip_plpfParams csPlpfParamsNull;

/* The output rectangle: the source window rectangle. csys_errBadArgument (dst untouched) for
 * settings out of range. */
IDUT_API csys_status cfPlpfComputeDstReg(const cstd_rect32* sourceRect, const cip_plpfParams* params, cstd_rect32* dst);

/* The low-pass filter (output convention above). csys_errBadArgument for settings out of range
 * or a factor that is not finite; allocation failures with their status; nothing written on
 * failure. */
IDUT_API csys_status cip_plpf(const cimg_imageConst* source, cimg_image* destination, const cip_plpfParams* params);

IDUT_EXTERN_C_END

#endif
