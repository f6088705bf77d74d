// The table-driven edge detector's per-pixel passes over raw buffers and images.
#include <initializer_list>

#include "base/csys_cleanup.hpp"
#include "ci_id/edgedetectid.h"
#include "edge_support.hpp"
#include "edgedetectid_tables.hpp"

namespace {

template <int32_t Kernel>
void codeRow(const uint8_t* src, ptrdiff_t stride, uint8_t* out, int32_t width, const uint8_t* codes) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t code = codes[edgeid::keyAt(src + x, stride, Kernel)];
    out[x] = (Kernel == 2 || code == 255) ? code : static_cast<uint8_t>(code + 32);
  }
}

}  // namespace

csys_status cf_EdgeDetectIDCount(const uint8_t* source, int32_t sourceStride, uint8_t* destination, int32_t width,
                                 int32_t height, int32_t destinationStride, const uint8_t* table, uint32_t tableSize,
                                 uint8_t, int32_t chunkWidth, uint32_t* counts, const void*, const void*,
                                 int32_t kernel) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr && table != nullptr);
  CSYS_REQUIRE(tableSize == CF_EDGEDETECTID_CODE_TABLE_SIZE && width > 0 && height > 0);
  CSYS_REQUIRE(counts == nullptr || chunkWidth > 0);
  const uint8_t* codes = table + 16;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = source + static_cast<ptrdiff_t>(y) * sourceStride;
    uint8_t* out = destination + static_cast<ptrdiff_t>(y) * destinationStride;
    if (kernel == 2)
      codeRow<2>(src, sourceStride, out, width, codes);
    else
      codeRow<3>(src, sourceStride, out, width, codes);
    if (counts == nullptr) continue;
    for (int32_t start = 0, j = 0; start < width; start += chunkWidth, ++j) {
      const int32_t end = start + chunkWidth < width ? start + chunkWidth : width;
      uint32_t n = 0;
      for (int32_t x = start; x < end; ++x) n += out[x] == 255;
      counts[j] += n;
    }
  }
  return 0;
}

csys_status cf_EdgeDetectID(const uint8_t* source, int32_t sourceStride, uint8_t* destination, int32_t width,
                            int32_t height, int32_t destinationStride, const uint8_t* table, uint32_t tableSize,
                            uint8_t unused8, const void* unused1, const void* unused2, int32_t kernel) {
  return cf_EdgeDetectIDCount(source, sourceStride, destination, width, height, destinationStride, table, tableSize,
                              unused8, 1, nullptr, unused1, unused2, kernel);
}

csys_status cfEdgeDetectIDMagAng(const cimg_imageConst* source, cimg_image* magnitude, cimg_image* angle,
                                 int32_t thresholdFlag, uint8_t threshold, int32_t kernel) {
  CSYS_REQUIRE(source != nullptr && magnitude != nullptr && angle != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  if (thresholdFlag != 0 && thresholdFlag != 1) return cidut_errBadArgument;
  const cimg_windowConst& w = source->window;
  const int32_t inset = kernel == 2 ? 0 : 1;
  cstd_rect32 rect{w.x0 + inset, w.y0 + inset, w.width - 1 - inset, w.height - 1 - inset};
  for (const cimg_image* out : {magnitude, angle}) {
    if (!cimg_image_isBound(out)) continue;
    cstd_rect32 r;
    cimg_image_getWindowRect(out, &r);
    cstd_rect32_intersect(&rect, &r, &rect);
  }
  if (rect.width <= 0 || rect.height <= 0) return 0;
  const uint8_t* table = nullptr;
  csys_status st = edgeid::gradientTable(thresholdFlag, &table);
  if (CSYS_FAILED(st)) return st;
  csys::CleanupList cleanup;
  cimg_image mag, ang;
  st = edgesupport::prepareOutput(magnitude, rect, &mag);
  cleanup.destructAlways<cimg_image_destruct>(&mag);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  st = edgesupport::prepareOutput(angle, rect, &ang);
  cleanup.destructAlways<cimg_image_destruct>(&ang);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  for (int32_t y = 0; y < rect.height; ++y) {
    if (CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
    const uint8_t* src = w.pixels + static_cast<ptrdiff_t>(rect.y - w.y0 + y) * w.stride + (rect.x - w.x0);
    uint8_t* m = mag.window.pixels + static_cast<ptrdiff_t>(y) * mag.window.stride;
    uint8_t* a = ang.window.pixels + static_cast<ptrdiff_t>(y) * ang.window.stride;
    for (int32_t x = 0; x < rect.width; ++x) {
      const size_t at = edgeid::magnitudeIndex(edgeid::keyAt(src + x, w.stride, kernel == 2 ? 2 : 3));
      const uint8_t value = static_cast<uint8_t>(table[at] + 128);
      const uint8_t raw = table[at + 8];
      m[x] = value;
      if (thresholdFlag == 1 && value < threshold)
        a[x] = 255;
      else if (kernel == 2 || (thresholdFlag == 0 && raw == 255))
        a[x] = raw;
      else
        a[x] = static_cast<uint8_t>(raw + 32);
    }
  }
  cmath_xformLinear xf = source->clientFromImage;
  if (kernel != 1) {
    xf.t.x += 0.5 * (xf.m.a + xf.m.b);
    xf.t.y += 0.5 * (xf.m.c + xf.m.d);
  }
  mag.clientFromImage = xf;
  ang.clientFromImage = xf;
  cimg_image_assign(magnitude, &mag);
  cimg_image_assign(angle, &ang);
  return cleanup.exit(0);
}
