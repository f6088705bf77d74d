// What the image records of cimg.h and cimg_deep.h do alike, whatever their pixels and however
// they hold them: every record has a window {width, height, x0, y0, stride, pixels} and a
// clientFromImage transform, and its owning member (buffer or block) is null when unbound.
#ifndef IDUT_CIMG_RECORD_HPP
#define IDUT_CIMG_RECORD_HPP

#include <cstring>

#include "base/cmath.h"

namespace cimg_record {

// All zero (no pixels, no owner, window at (0, 0)) with an identity transform.
template <class I>
void setUnbound(I* image) {
  std::memset(image, 0, sizeof(*image));
  cmath_xformLinear_initIdentity(&image->clientFromImage);
}

template <class I>
csys_status constructUnbound(I* image) {
  CSYS_REQUIRE(image != nullptr);
  setUnbound(image);
  return 0;
}

// Caller-owned pixels: no owner, so destruct leaves them alone.
template <class I, class P>
csys_status constructWrap(I* image, P* pixels, int32_t width, int32_t height, int32_t stride) {
  CSYS_REQUIRE(image != nullptr && pixels != nullptr && width >= 0 && height >= 0 && stride >= width);
  setUnbound(image);
  image->window.width = width;
  image->window.height = height;
  image->window.stride = stride;
  image->window.pixels = pixels;
  return 0;
}

// The window over new, unpadded pixels of width x height at origin (0, 0).
template <class I, class P>
void windowNew(I* image, P* pixels, int32_t width, int32_t height) {
  image->window.width = width;
  image->window.height = height;
  image->window.x0 = 0;
  image->window.y0 = 0;
  image->window.stride = width;
  image->window.pixels = pixels;
}

}  // namespace cimg_record

// The entry points every image record has: the shared templates above, with construct, destruct
// and assignNew from the including file, which know how its records hold their pixels.
#define CIMG_RECORD_DEFS(I, PIX)                                                                              \
  csys_status I##_constructUnbound(I* image) { return cimg_record::constructUnbound(image); }                 \
  csys_status I##_construct(I* image, int32_t width, int32_t height) { return construct(image, width, height); } \
  csys_status I##_constructWrap(I* image, PIX* pixels, int32_t width, int32_t height, int32_t stride) {       \
    return cimg_record::constructWrap(image, pixels, width, height, stride);                                  \
  }                                                                                                           \
  csys_status I##_destruct(I* image) { return destruct(image); }                                              \
  csys_status I##_assignNew(I* image, int32_t width, int32_t height) { return assignNew(image, width, height); } \
  int I##_isBound(const I* image) { return image != nullptr && image->window.pixels != nullptr; }

#endif
