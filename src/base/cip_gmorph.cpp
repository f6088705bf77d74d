// Flat grey morphology over offset arrays: each offset is one pass over the window that keeps
// the running extremum, with clamped rows and the clamped columns done apart from the interior.
#include "base/cip_gmorph.h"

#include <algorithm>
#include <cstring>

#include "cip_output.hpp"

namespace {

template <bool Max>
csys_status run(const cimg_imageConst* source, cimg_image* destination, const cip_gmorphElementArray* elements) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr && elements != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  if (elements->count < 1 || elements->offsets == nullptr) return csys_errBadArgument;
  const cimg_windowConst s = source->window;
  const cstd_rect32 rect{s.x0, s.y0, s.width, s.height};
  return cip::makeInto(destination, rect, source->clientFromImage, [&](cimg_window& out) {
    const int32_t W = s.width, H = s.height;
    auto pick = [](uint8_t a, uint8_t b) { return Max ? std::max(a, b) : std::min(a, b); };
    for (int32_t y = 0; y < H; ++y) {
      uint8_t* o = out.pixels + static_cast<ptrdiff_t>(y) * out.stride;
      std::memset(o, Max ? 0 : 255, static_cast<size_t>(W));
      for (int32_t e = 0; e < elements->count; ++e) {
        const int32_t dx = elements->offsets[2 * e], dy = elements->offsets[2 * e + 1];
        const uint8_t* row = s.pixels + static_cast<ptrdiff_t>(std::clamp(y + dy, 0, H - 1)) * s.stride;
        const int32_t lo = std::clamp(-dx, 0, W), hi = std::clamp(W - dx, lo, W);  // x + dx inside
        for (int32_t x = 0; x < lo; ++x) o[x] = pick(o[x], row[std::clamp(x + dx, 0, W - 1)]);
        for (int32_t x = lo; x < hi; ++x) o[x] = pick(o[x], row[x + dx]);
        for (int32_t x = hi; x < W; ++x) o[x] = pick(o[x], row[std::clamp(x + dx, 0, W - 1)]);
      }
    }
  });
}

}  // namespace

csys_status cip_gmorphElementArray_constructType(cip_gmorphElementArray* elements, int32_t halfWidth,
                                                 int32_t halfHeight) {
  CSYS_REQUIRE(elements != nullptr);
  elements->count = 0;
  elements->offsets = nullptr;
  if (halfWidth < 0 || halfWidth > 64 || halfHeight < 0 || halfHeight > 64) return csys_errBadArgument;
  const int32_t count = (2 * halfWidth + 1) * (2 * halfHeight + 1);
  void* block = nullptr;
  csys_status st = csys_memory_alloc_internal(sizeof(int32_t) * 2 * static_cast<size_t>(count), &block);
  if (CSYS_FAILED(st)) return st;
  auto* offsets = static_cast<int32_t*>(block);
  int32_t k = 0;
  for (int32_t dy = -halfHeight; dy <= halfHeight; ++dy)
    for (int32_t dx = -halfWidth; dx <= halfWidth; ++dx) {
      offsets[k++] = dx;
      offsets[k++] = dy;
    }
  elements->count = count;
  elements->offsets = offsets;
  return 0;
}

csys_status cip_gmorphElementArray_destruct(cip_gmorphElementArray* elements) {
  CSYS_REQUIRE(elements != nullptr);
  void* block = elements->offsets;
  elements->offsets = nullptr;
  elements->count = 0;
  return csys_memory_free_internal(&block);
}

csys_status cip_gmorphDilate8(const cimg_imageConst* source, cimg_image* destination,
                              const cip_gmorphElementArray* elements) {
  return run<true>(source, destination, elements);
}

csys_status cip_gmorphErode8(const cimg_imageConst* source, cimg_image* destination,
                             const cip_gmorphElementArray* elements) {
  return run<false>(source, destination, elements);
}
