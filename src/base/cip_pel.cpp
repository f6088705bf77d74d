// Window fill, copy and the overlap check.
#include "base/cip_pel.h"

#include <cstring>

namespace {

template <class W>
bool spanOf(const W& w, const uint8_t** first, const uint8_t** last) {
  if (w.pixels == nullptr || w.width <= 0 || w.height <= 0) return false;
  *first = w.pixels;
  *last = w.pixels + static_cast<ptrdiff_t>(w.height - 1) * w.stride + w.width;
  return true;
}

}  // namespace

csys_status cip_pelSet8(cimg_image* image, uint8_t value) {
  CSYS_REQUIRE(image != nullptr);
  if (!cimg_image_isBound(image)) return csys_errImageUnbound;
  const cimg_window& w = image->window;
  for (int32_t y = 0; y < w.height; ++y)
    std::memset(w.pixels + static_cast<ptrdiff_t>(y) * w.stride, value, static_cast<size_t>(w.width));
  return 0;
}

csys_status cip_pelCopy8(const cimg_imageConst* source, cimg_image* destination) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr);
  if (!cimg_imageConst_isBound(source) || !cimg_image_isBound(destination)) return csys_errImageUnbound;
  const cimg_windowConst& s = source->window;
  const cimg_window& d = destination->window;
  if (s.width != d.width || s.height != d.height) return csys_errBadArgument;
  for (int32_t y = 0; y < s.height; ++y)
    std::memcpy(d.pixels + static_cast<ptrdiff_t>(y) * d.stride, s.pixels + static_cast<ptrdiff_t>(y) * s.stride,
                static_cast<size_t>(s.width));
  return 0;
}

csys_status cip_pelfunc_checkMemoryOverlap(const cimg_imageConst* a, const cimg_image* b) {
  CSYS_REQUIRE(a != nullptr && b != nullptr);
  const uint8_t *a0, *a1, *b0, *b1;
  if (!spanOf(a->window, &a0, &a1) || !spanOf(b->window, &b0, &b1)) return 0;
  return (a0 < b1 && b0 < a1) ? cip_errMemoryOverlap : 0;
}
