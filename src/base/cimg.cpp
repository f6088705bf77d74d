// Images over shared, reference-counted pixel buffers. cimg_image and cimg_imageConst have the
// same layout; one set of templates serves both.
#include "base/cimg.h"

#include <atomic>
#include <new>

#include "cimg_record.hpp"

struct cimg_pixelBuffer {
  std::atomic<int32_t> references;
  uint8_t* pixels;
};

namespace {

// One csys block: the buffer header, then the pixels.
csys_status newBuffer(int32_t width, int32_t height, cimg_pixelBuffer** out, uint8_t** pixels) {
  if (width < 0 || height < 0) return csys_errBadArgument;
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
  const size_t header = (sizeof(cimg_pixelBuffer) + 63) & ~size_t{63};
  void* block = nullptr;
  csys_status st = csys_memory_allocClear_internal(header + bytes, &block);
  if (CSYS_FAILED(st)) return st;
  auto* buffer = new (block) cimg_pixelBuffer;
  buffer->references.store(1, std::memory_order_relaxed);
  buffer->pixels = static_cast<uint8_t*>(block) + header;
  *out = buffer;
  *pixels = buffer->pixels;
  return 0;
}

void retain(cimg_pixelBuffer* b) {
  if (b) b->references.fetch_add(1, std::memory_order_relaxed);
}

void release(cimg_pixelBuffer* b) {
  if (b && b->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    b->~cimg_pixelBuffer();
    void* block = b;
    csys_memory_free_internal(&block);
  }
}

using cimg_record::setUnbound;

template <class I>
csys_status construct(I* image, int32_t width, int32_t height) {
  CSYS_REQUIRE(image != nullptr);
  setUnbound(image);
  uint8_t* pixels = nullptr;
  csys_status st = newBuffer(width, height, &image->buffer, &pixels);
  if (CSYS_FAILED(st)) return st;
  cimg_record::windowNew(image, pixels, width, height);
  return 0;
}

template <class I>
csys_status constructCopy(I* image, const I* source) {
  CSYS_REQUIRE(image != nullptr && source != nullptr);
  *image = *source;
  retain(image->buffer);
  return 0;
}

template <class I>
csys_status destruct(I* image) {
  CSYS_REQUIRE(image != nullptr);
  release(image->buffer);
  setUnbound(image);
  return 0;
}

template <class I>
csys_status assign(I* image, const I* source) {
  CSYS_REQUIRE(image != nullptr && source != nullptr);
  if (image == source) return 0;
  retain(source->buffer);
  release(image->buffer);
  *image = *source;
  return 0;
}

template <class I>
csys_status assignNew(I* image, int32_t width, int32_t height) {
  CSYS_REQUIRE(image != nullptr);
  cimg_pixelBuffer* buffer = nullptr;
  uint8_t* pixels = nullptr;
  csys_status st = newBuffer(width, height, &buffer, &pixels);
  if (CSYS_FAILED(st)) return st;
  release(image->buffer);
  image->buffer = buffer;
  cimg_record::windowNew(image, pixels, width, height);
  return 0;
}

template <class I>
csys_status window(I* image, const cstd_rect32* rect) {
  CSYS_REQUIRE(image != nullptr && rect != nullptr);
  auto& w = image->window;
  if (w.pixels == nullptr) return csys_errImageUnbound;
  const int64_t dx = int64_t{rect->x} - w.x0, dy = int64_t{rect->y} - w.y0;
  if (rect->width < 0 || rect->height < 0 || dx < 0 || dy < 0 || dx + rect->width > w.width ||
      dy + rect->height > w.height)
    return csys_errBadArgument;
  w.pixels += dy * w.stride + dx;
  w.x0 = rect->x;
  w.y0 = rect->y;
  w.width = rect->width;
  w.height = rect->height;
  return 0;
}

template <class I>
csys_status setWindowOffset(I* image, int32_t x0, int32_t y0) {
  CSYS_REQUIRE(image != nullptr);
  image->window.x0 = x0;
  image->window.y0 = y0;
  return 0;
}

template <class I>
csys_status getWindowRect(const I* image, cstd_rect32* rect) {
  CSYS_REQUIRE(image != nullptr && rect != nullptr);
  *rect = cstd_rect32{image->window.x0, image->window.y0, image->window.width, image->window.height};
  return 0;
}

template <class I>
csys_status getClientFromImage(const I* image, cmath_xformLinear* xform) {
  CSYS_REQUIRE(image != nullptr && xform != nullptr);
  *xform = image->clientFromImage;
  return 0;
}

template <class I>
csys_status setClientFromImage(I* image, const cmath_xformLinear* xform) {
  CSYS_REQUIRE(image != nullptr && xform != nullptr);
  image->clientFromImage = *xform;
  return 0;
}

template <class I>
csys_status getImageFromClient(const I* image, cmath_xformLinear* xform) {
  CSYS_REQUIRE(image != nullptr && xform != nullptr);
  return cmath_xformLinear_getInverse(&image->clientFromImage, xform);
}

}  // namespace

#define CIMG_IMAGE_DEFS(I, PIX)                                                                               \
  CIMG_RECORD_DEFS(I, PIX)                                                                                    \
  csys_status I##_constructCopy(I* image, const I* source) { return constructCopy(image, source); }           \
  csys_status I##_assign(I* image, const I* source) { return assign(image, source); }                         \
  csys_status I##_window(I* image, const cstd_rect32* rect) { return window(image, rect); }                   \
  csys_status I##_setWindowOffset(I* image, int32_t x0, int32_t y0) { return setWindowOffset(image, x0, y0); } \
  csys_status I##_getWindowRect(const I* image, cstd_rect32* rect) { return getWindowRect(image, rect); }     \
  csys_status I##_getLinearClientFromImageXform(const I* image, cmath_xformLinear* xform) {                   \
    return getClientFromImage(image, xform);                                                                  \
  }                                                                                                           \
  csys_status I##_setLinearClientFromImageXform(I* image, const cmath_xformLinear* xform) {                   \
    return setClientFromImage(image, xform);                                                                  \
  }                                                                                                           \
  csys_status I##_getLinearImageFromClientXform(const I* image, cmath_xformLinear* xform) {                   \
    return getImageFromClient(image, xform);                                                                  \
  }

extern "C" {

CIMG_IMAGE_DEFS(cimg_image, uint8_t)
CIMG_IMAGE_DEFS(cimg_imageConst, const uint8_t)

csys_status cimg_imageConst_constructFromImage(cimg_imageConst* view, const cimg_image* image) {
  CSYS_REQUIRE(view != nullptr && image != nullptr);
  view->buffer = image->buffer;
  retain(view->buffer);
  const cimg_window& w = image->window;
  view->window = cimg_windowConst{w.width, w.height, w.x0, w.y0, w.stride, w.pixels};
  view->clientFromImage = image->clientFromImage;
  return 0;
}

csys_status cimg_imageConst_assignFromImage(cimg_imageConst* view, const cimg_image* image) {
  CSYS_REQUIRE(view != nullptr && image != nullptr);
  cimg_imageConst fresh;
  cimg_imageConst_constructFromImage(&fresh, image);
  release(view->buffer);
  *view = fresh;
  return 0;
}

csys_status cimg_image_getWindow(const cimg_image* image, cimg_window* window) {
  CSYS_REQUIRE(image != nullptr && window != nullptr);
  *window = image->window;
  return 0;
}

csys_status cimg_imageConst_getWindow(const cimg_imageConst* image, cimg_windowConst* window) {
  CSYS_REQUIRE(image != nullptr && window != nullptr);
  *window = image->window;
  return 0;
}

csys_status cimg_window_init(cimg_window* window, const cimg_image* image) {
  CSYS_REQUIRE(window != nullptr && image != nullptr);
  if (image->window.pixels == nullptr) return csys_errImageUnbound;
  *window = image->window;
  return 0;
}

csys_status cimg_windowConst_init(cimg_windowConst* window, const cimg_imageConst* image) {
  CSYS_REQUIRE(window != nullptr && image != nullptr);
  if (image->window.pixels == nullptr) return csys_errImageUnbound;
  *window = image->window;
  return 0;
}

}  // extern "C"
