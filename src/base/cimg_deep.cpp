// Images of doubles and of 32-bit integers: one template serves both records.
#include "base/cimg_deep.h"

#include <type_traits>

#include "cimg_record.hpp"

namespace {

using cimg_record::setUnbound;

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
  cimg_record::windowNew(image, static_cast<Pixel*>(block), width, height);
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

extern "C" {

CIMG_RECORD_DEFS(cimg_imageDouble, double)
CIMG_RECORD_DEFS(cimg_imageInt32, int32_t)

}  // extern "C"
