/* Images: 8-bit pixel views over shared, reference-counted pixel buffers.
 *
 * An image is a window onto pixels plus a linear client-from-image transform. The window has
 * a width and height, the image coordinates (x0, y0) of its first pixel, a row stride in
 * bytes and a pixel pointer: pixel (x, y) in image coordinates lies at
 *   pixels + (y - y0) * stride + (x - x0).
 * Copies and assignments share the pixel buffer (the last holder frees it); an image made
 * with constructWrap refers to caller-owned pixels that must outlive it. An unbound image has
 * no pixels; operations that need pixels fail on it with csys_errImageUnbound.
 * cimg_imageConst is the same record with read-only pixels. Every constructed image must be
 * destructed; destructing an unbound image is fine. */
#ifndef IDUT_CIMG_H
#define IDUT_CIMG_H

#include "base/cmath.h"
#include "base/cstd.h"

IDUT_EXTERN_C_BEGIN

typedef struct cimg_pixelBuffer cimg_pixelBuffer; /* opaque, reference counted */

typedef struct cimg_window {
  int32_t width;
  int32_t height;
  int32_t x0; /* image x of the window's first pixel */
  int32_t y0; /* image y of the window's first pixel */
  int32_t stride; /* bytes from one row to the next */
  uint8_t* pixels;
} cimg_window;

typedef struct cimg_windowConst {
  int32_t width;
  int32_t height;
  int32_t x0;
  int32_t y0;
  int32_t stride;
  const uint8_t* pixels;
} cimg_windowConst;

typedef struct cimg_image {
  cimg_pixelBuffer* buffer; /* null for unbound or wrapped images */
  cimg_window window;
  cmath_xformLinear clientFromImage;
} cimg_image;

typedef struct cimg_imageConst {
  cimg_pixelBuffer* buffer;
  cimg_windowConst window;
  cmath_xformLinear clientFromImage;
} cimg_imageConst;

typedef cimg_imageConst cimg_image8Const;

#define CIMG_IMAGE_DECLS(I, PIX)                                                                       \
  IDUT_API csys_status I##_constructUnbound(I* image);                                                  \
  /* New zeroed pixels of width x height, window origin (0, 0), identity transform. */                 \
  IDUT_API csys_status I##_construct(I* image, int32_t width, int32_t height);                          \
  /* Refers to caller-owned pixels (not freed by the image). stride >= width. */                       \
  IDUT_API csys_status I##_constructWrap(I* image, PIX* pixels, int32_t width, int32_t height,          \
                                         int32_t stride);                                               \
  IDUT_API csys_status I##_constructCopy(I* image, const I* source);                                    \
  IDUT_API csys_status I##_destruct(I* image);                                                          \
  /* Makes image share source's pixels, window and transform. */                                        \
  IDUT_API csys_status I##_assign(I* image, const I* source);                                           \
  /* Replaces the pixels by new zeroed ones of width x height at origin (0, 0); keeps the transform. */ \
  IDUT_API csys_status I##_assignNew(I* image, int32_t width, int32_t height);                          \
  /* Restricts the window to rect (image coordinates), which must lie inside the current window;     \
   * csys_errBadArgument otherwise, image unchanged. */                                                 \
  IDUT_API csys_status I##_window(I* image, const cstd_rect32* rect);                                   \
  /* Moves the window's origin in image coordinates without touching the pixels. */                    \
  IDUT_API csys_status I##_setWindowOffset(I* image, int32_t x0, int32_t y0);                           \
  IDUT_API int I##_isBound(const I* image);                                                             \
  /* The window as an integer rectangle in image coordinates. */                                       \
  IDUT_API csys_status I##_getWindowRect(const I* image, cstd_rect32* rect);                            \
  IDUT_API csys_status I##_getLinearClientFromImageXform(const I* image, cmath_xformLinear* xform);     \
  IDUT_API csys_status I##_setLinearClientFromImageXform(I* image, const cmath_xformLinear* xform);     \
  /* The inverse transform; csys_errBadArgument when the transform is singular. */                     \
  IDUT_API csys_status I##_getLinearImageFromClientXform(const I* image, cmath_xformLinear* xform);

CIMG_IMAGE_DECLS(cimg_image, uint8_t)
CIMG_IMAGE_DECLS(cimg_imageConst, const uint8_t)

/* A read-only view sharing a writable image's pixels. */
IDUT_API csys_status cimg_imageConst_constructFromImage(cimg_imageConst* view, const cimg_image* image);
IDUT_API csys_status cimg_imageConst_assignFromImage(cimg_imageConst* view, const cimg_image* image);
IDUT_API csys_status cimg_image_getWindow(const cimg_image* image, cimg_window* window);
IDUT_API csys_status cimg_imageConst_getWindow(const cimg_imageConst* image, cimg_windowConst* window);
/* Window records for pixel access; csys_errImageUnbound for an unbound image. */
IDUT_API csys_status cimg_window_init(cimg_window* window, const cimg_image* image);
IDUT_API csys_status cimg_windowConst_init(cimg_windowConst* window, const cimg_imageConst* image);

IDUT_EXTERN_C_END

#endif
