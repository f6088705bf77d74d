// Images of doubles and of 32-bit integers: one template serves both records.
#include "base/cimg_deep.h"

#include <cstring>
#include <type_traits>

namespace {

template <class I>
void setUnbound(I* image) {
  std::memset(image, 0, sizeof(*image));
  cmath_xformLinear_initIdentity(&image->clientFromImage);
}

template <class I>
csys_status newPixels(int32_t width, int32_t height, void** block) {
  using Pixel = std::remove_pointer_t<decltype(I::window.pixels)>;
  if (width < 0 || height < 0) return csys_errBadArgument;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  // A zero-sized image still gets a block, so that it counts as bound.
  return csys_memory_allocClear_internal(count == 0 ? sizeof(Pixel) : count * sizeof(Pixel), block);
}

template <class I>
void bind(I* image, void* block, int32_t width, int32_t height) {
  using Pixel = std::remove_pointer_t<decltype(I::window.pixels)>;
  image->block = block;
  image->window.width = width;
  image->window.height = height;
  image->window.x0 = 0;
  image->window.y0 = 0;
  image->window.stride = width;
  image->window.pixels = static_cast<Pixel*>(block);
}

template <class I>
csys_status constructUnbound(I* image) {
  CSYS_REQUIRE(image != nullptr);
  setUnbound(image);
  return 0;
}

template <class I>
csys_status construct(I* image, int32_t width, int32_t height) {
  CSYS_REQUIRE(image != nullptr);
  setUnbound(image);
  void* block = nullptr;
  const csys_status st = newPixels<I>(width, height, &block);
  if (CSYS_FAILED(st)) return st;
  bind(image, block, width, height);
  return 0;
}

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

template <class I>
csys_status destruct(I* image) {
  CSYS_REQUIRE(image != nullptr);
  csys_memory_free_internal(&image->block);
  setUnbound(image);
  return 0;
}

template <class I>
csys_status assignNew(I* image, int32_t width, int32_t height) {
  CSYS_REQUIRE(image != nullptr);
  void* block = nullptr;
  const csys_status st = newPixels<I>(width, height, &block);
  if (CSYS_FAILED(st)) return st;
  csys_memory_free_internal(&image->block);
  bind(image, block, width, height);
  return 0;
}

}  // namespace

#define CIMG_DEEP_IMAGE_DEFS(I, PIX)                                                                          \
  csys_status I##_constructUnbound(I* image) { return constructUnbound(image); }                              \
  csys_status I##_construct(I* image, int32_t width, int32_t height) { return construct(image, width, height); } \
  csys_status I##_constructWrap(I* image, PIX* pixels, int32_t width, int32_t height, int32_t stride) {       \
    return constructWrap(image, pixels, width, height, stride);                                               \
  }                                                                                                           \
  csys_status I##_destruct(I* image) { return destruct(image); }                                              \
  csys_status I##_assignNew(I* image, int32_t width, int32_t height) { return assignNew(image, width, height); } \
  int I##_isBound(const I* image) { return image != nullptr && image->window.pixels != nullptr; }

extern "C" {

CIMG_DEEP_IMAGE_DEFS(cimg_imageDouble, double)
CIMG_DEEP_IMAGE_DEFS(cimg_imageInt32, int32_t)

}  // extern "C"
