/* Images of wide pixels: doubles (spectra) and signed 32-bit integers (integer transforms).
 *
 * Same idea as the 8-bit images of cimg.h, reduced to what the spectral routines need: a
 * window onto pixels and a linear client-from-image transform. Unlike cimg_image the window's
 * stride counts pixels, not bytes: pixel (x, y) in image coordinates lies at
 *   pixels + (y - y0) * stride + (x - x0).
 * An image either owns its pixels (construct, assignNew: one block, freed by destruct) or refers
 * to caller-owned pixels (constructWrap); these images are not shared, so there is no copy.
 * An unbound image has no pixels. Every constructed image must be destructed; destructing an
 * unbound image is fine. */
#ifndef IDUT_CIMG_DEEP_H
#define IDUT_CIMG_DEEP_H

#include "base/cmath.h"

IDUT_EXTERN_C_BEGIN

typedef struct cimg_windowDouble {
  int32_t width;
  int32_t height;
  int32_t x0; /* image x of the window's first pixel */
  int32_t y0; /* image y of the window's first pixel */
  int32_t stride; /* pixels from one row to the next */
  double* pixels;
} cimg_windowDouble;

typedef struct cimg_windowInt32 {
  int32_t width;
  int32_t height;
  int32_t x0;
  int32_t y0;
  int32_t stride; /* pixels from one row to the next */
  int32_t* pixels;
} cimg_windowInt32;

typedef struct cimg_imageDouble {
  void* block; /* owned pixel memory; null when unbound or wrapped */
  cimg_windowDouble window;
  cmath_xformLinear clientFromImage;
} cimg_imageDouble;

typedef struct cimg_imageInt32 {
  void* block;
  cimg_windowInt32 window;
  cmath_xformLinear clientFromImage;
} cimg_imageInt32;

#define CIMG_DEEP_IMAGE_DECLS(I, PIX)                                                                \
  IDUT_API csys_status I##_constructUnbound(I* image);                                                \
  /* New zeroed pixels of width x height (stride = width), origin (0, 0), identity transform;        \
   * csys_errBadArgument for a negative side, allocation failures with the image left unbound. */    \
  IDUT_API csys_status I##_construct(I* image, int32_t width, int32_t height);                        \
  /* Refers to caller-owned pixels, which must outlive the image. stride >= width. */                \
  IDUT_API csys_status I##_constructWrap(I* image, PIX* pixels, int32_t width, int32_t height,        \
                                         int32_t stride);                                             \
  IDUT_API csys_status I##_destruct(I* image);                                                        \
  /* Replaces the pixels by new zeroed ones of width x height at origin (0, 0) and keeps the         \
   * transform; on failure the image is unchanged. */                                                 \
  IDUT_API csys_status I##_assignNew(I* image, int32_t width, int32_t height);                        \
  IDUT_API int I##_isBound(const I* image);

CIMG_DEEP_IMAGE_DECLS(cimg_imageDouble, double)
CIMG_DEEP_IMAGE_DECLS(cimg_imageInt32, int32_t)

IDUT_EXTERN_C_END

#endif
