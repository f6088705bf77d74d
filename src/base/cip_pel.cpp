// Window fill, copy and the overlap check.
#include "base/cip_pel.h"

#include <algorithm>
#include <cstring>

#include "cip_output.hpp"

namespace {

template <class W>
bool spanOf(const W& w, const uint8_t** first, const uint8_t** last) {
  if (w.pixels == nullptr || w.width <= 0 || w.height <= 0) return false;
  *first = w.pixels;
  *last = w.pixels + static_cast<ptrdiff_t>(w.height - 1) * w.stride + w.width;
  return true;
}

template <class Op>
void subRows(const cimg_windowConst& a, const cimg_windowConst& b, const cstd_rect32& r, cimg_window& out, Op op) {
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* pa = a.pixels + static_cast<ptrdiff_t>(r.y + y - a.y0) * a.stride + (r.x - a.x0);
    const uint8_t* pb = b.pixels + static_cast<ptrdiff_t>(r.y + y - b.y0) * b.stride + (r.x - b.x0);
    uint8_t* po = out.pixels + static_cast<ptrdiff_t>(y) * out.stride;
    for (int32_t x = 0; x < r.width; ++x) po[x] = op(pa[x], pb[x]);
  }
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

csys_status cip_pelSub8(const cimg_imageConst* a, const cimg_imageConst* b, cimg_image* out, int32_t mode) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(a) || !cimg_imageConst_isBound(b)) return csys_errImageUnbound;
  if (mode < CIP_PELSUB_WRAP || mode > CIP_PELSUB_CLAMP) return csys_errBadArgument;
  cstd_rect32 ra, rb, r;
  cimg_imageConst_getWindowRect(a, &ra);
  cimg_imageConst_getWindowRect(b, &rb);
  cstd_rect32_intersect(&ra, &rb, &r);
  if (r.width <= 0 || r.height <= 0) r = cstd_rect32{ra.x, ra.y, 0, 0};
  const cimg_windowConst wa = a->window, wb = b->window;
  return cip::makeInto(out, r, a->clientFromImage, [&](cimg_window& w) {
    switch (mode) {
      case CIP_PELSUB_WRAP:
        return subRows(wa, wb, r, w, [](int p, int q) { return static_cast<uint8_t>(p - q); });
      case CIP_PELSUB_ABS:
        return subRows(wa, wb, r, w, [](int p, int q) { return static_cast<uint8_t>(p > q ? p - q : q - p); });
      case CIP_PELSUB_OFFSET:
        return subRows(wa, wb, r, w, [](int p, int q) { return static_cast<uint8_t>(((p - q + 256) >> 1)); });
      default:
        return subRows(wa, wb, r, w, [](int p, int q) { return static_cast<uint8_t>(p > q ? p - q : 0); });
    }
  });
}

csys_status cip_pelExpand8(const cimg_imageConst* source, cimg_image* out, int32_t factorX, int32_t factorY) {
  CSYS_REQUIRE(source != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  const cimg_windowConst s = source->window;
  if (factorX < 1 || factorY < 1 || int64_t{s.width} * factorX > INT32_MAX || int64_t{s.height} * factorY > INT32_MAX ||
      int64_t{s.x0} * factorX > INT32_MAX || int64_t{s.x0} * factorX < INT32_MIN ||
      int64_t{s.y0} * factorY > INT32_MAX || int64_t{s.y0} * factorY < INT32_MIN)
    return csys_errBadArgument;
  const cstd_rect32 r{s.x0 * factorX, s.y0 * factorY, s.width * factorX, s.height * factorY};
  cmath_xformLinear shrink, clientFromOut;
  const cmath_matrix m{1.0 / factorX, 0, 0, 1.0 / factorY};
  const cmath_vect zero{0, 0};
  cmath_xformLinear_initMatrixTrans(&shrink, &m, &zero);
  cmath_xformLinear_compose(&source->clientFromImage, &shrink, &clientFromOut);
  return cip::makeInto(out, r, clientFromOut, [&](cimg_window& w) {
    for (int32_t y = 0; y < s.height; ++y) {
      const uint8_t* in = s.pixels + static_cast<ptrdiff_t>(y) * s.stride;
      uint8_t* first = w.pixels + static_cast<ptrdiff_t>(y) * factorY * w.stride;
      if (factorX == 1) {
        std::memcpy(first, in, static_cast<size_t>(s.width));
      } else {
        for (int32_t x = 0; x < s.width; ++x) std::memset(first + x * factorX, in[x], static_cast<size_t>(factorX));
      }
      for (int32_t k = 1; k < factorY; ++k) std::memcpy(first + k * w.stride, first, static_cast<size_t>(w.width));
    }
  });
}

csys_status cip_pelMap8(const cimg_imageConst* source, cimg_image* out, const uint8_t* table) {
  CSYS_REQUIRE(source != nullptr && out != nullptr && table != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  const cimg_windowConst s = source->window;
  const cstd_rect32 r{s.x0, s.y0, s.width, s.height};
  uint8_t map[256];
  std::memcpy(map, table, sizeof map);  // the table may live in the output's old pixels
  return cip::makeInto(out, r, source->clientFromImage, [&](cimg_window& w) {
    for (int32_t y = 0; y < s.height; ++y) {
      const uint8_t* in = s.pixels + static_cast<ptrdiff_t>(y) * s.stride;
      uint8_t* o = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
      for (int32_t x = 0; x < s.width; ++x) o[x] = map[in[x]];
    }
  });
}

csys_status cip_pelMinMax8(const cimg_imageConst* image, uint8_t* minimum, uint8_t* maximum) {
  CSYS_REQUIRE(image != nullptr && minimum != nullptr && maximum != nullptr);
  if (!cimg_imageConst_isBound(image)) return csys_errImageUnbound;
  const cimg_windowConst& w = image->window;
  uint8_t lo = 255, hi = 0;
  for (int32_t y = 0; y < w.height; ++y) {
    const uint8_t* row = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    for (int32_t x = 0; x < w.width; ++x) {
      lo = std::min(lo, row[x]);
      hi = std::max(hi, row[x]);
    }
  }
  *minimum = lo;
  *maximum = hi;
  return 0;
}
