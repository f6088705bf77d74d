// Whole-image pixel operations and the filter fronts.
#include "ci_id/pixelops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/cip_affine.h"
#include "base/cip_filter.h"
#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "../../../base/cip_output.hpp"

namespace {

inline const uint8_t* rowOf(const cimg_windowConst& w, int32_t y) {
  return w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
}

cmath_xformLinear composed(const cmath_xformLinear& outer, const cmath_matrix& m, const cmath_vect& t) {
  cmath_xformLinear inner, out;
  cmath_xformLinear_initMatrixTrans(&inner, &m, &t);
  cmath_xformLinear_compose(&outer, &inner, &out);
  return out;
}

// Overlap is judged on the output's current pixels, which a fresh output would not reuse.
csys_status filterGuard(const cimg_image8Const* source, const cimg_image* out) {
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  if (cimg_image_isBound(out) && CSYS_FAILED(cip_pelfunc_checkMemoryOverlap(source, out)))
    return cidut_errBuffersOverlap;
  return 0;
}

csys_status plpfFront(const cimg_image8Const* source, cimg_image* out, float factor, int32_t size, int32_t passes,
                      int32_t threshold, int32_t mask) {
  CSYS_REQUIRE(source != nullptr && out != nullptr);
  csys_status st = filterGuard(source, out);
  if (CSYS_FAILED(st)) return st;
  if (!std::isfinite(factor)) return cidut_errBadArgument;
  cip_plpfParams p = csPlpfParamsNull;
  p.size = std::clamp(size, 0, CIP_PLPF_MAX_SIZE);
  p.passes = std::clamp(passes, 1, 3);
  p.threshold = threshold;
  p.mask = mask;
  p.factor = factor;
  return cip_plpf(source, out, &p);
}

// Rows of height-1 boxes, and the general box by sliding column sums.
void averageRows(const uint8_t* s, int32_t W, int32_t bw, uint8_t* o) {
  const int32_t last = W - bw;
  if (bw == 2) {
    for (int32_t x = 0; x <= last; ++x) o[x] = static_cast<uint8_t>((s[x] + s[x + 1] + 1) >> 1);
  } else if (bw == 3) {
    for (int32_t x = 0; x <= last; ++x) o[x] = static_cast<uint8_t>((s[x] + s[x + 1] + s[x + 2] + 1) / 3);
  } else {
    uint32_t sum = 0;
    for (int32_t x = 0; x < bw; ++x) sum += s[x];
    for (int32_t x = 0; x <= last; ++x) {
      o[x] = static_cast<uint8_t>((sum + bw / 2) / bw);
      if (x < last) sum += s[x + bw] - s[x];
    }
  }
  std::fill(o + last + 1, o + W, o[last]);
}

}  // namespace

extern "C" {

csys_status cidut_ip_pelSub8(const cimg_image8Const* a, const cimg_image8Const* b, cimg_image* out, int32_t mode) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(a) || !cimg_imageConst_isBound(b)) return cidut_errImageUnbound;
  if (mode != 0) return cidut_errUnsupported;
  return cip_pelSub8(a, b, out, CIP_PELSUB_CLAMP);
}

csys_status cidut_ip_pelAdd8(const cimg_image8Const* a, const cimg_image8Const* b, cimg_image* out, int32_t mode) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(a) || !cimg_imageConst_isBound(b)) return cidut_errImageUnbound;
  if (mode != 0) return cidut_errUnsupported;
  cstd_rect32 ra, rb, r;
  cimg_imageConst_getWindowRect(a, &ra);
  cimg_imageConst_getWindowRect(b, &rb);
  cstd_rect32_intersect(&ra, &rb, &r);
  const cimg_windowConst wa = a->window, wb = b->window;
  return cip::makeInto(out, r, a->clientFromImage, [&](cimg_window& w) {
    for (int32_t y = 0; y < r.height; ++y) {
      const uint8_t* pa = rowOf(wa, r.y + y - wa.y0) + (r.x - wa.x0);
      const uint8_t* pb = rowOf(wb, r.y + y - wb.y0) + (r.x - wb.x0);
      uint8_t* po = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
      for (int32_t x = 0; x < r.width; ++x) po[x] = static_cast<uint8_t>(std::min(pa[x] + pb[x], 255));
    }
  });
}

csys_status cidut_ip_pelInvert8(cimg_image* image) {
  CSYS_REQUIRE(image != nullptr);
  if (!cimg_image_isBound(image)) return cidut_errImageUnbound;
  const cimg_window& w = image->window;
  for (int32_t y = 0; y < w.height; ++y) {
    uint8_t* row = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    for (int32_t x = 0; x < w.width; ++x) row[x] = static_cast<uint8_t>(row[x] ^ 255);
  }
  return 0;
}

csys_status cip_image8_map(cimg_image* out, const cimg_image8Const* source, const uint8_t* table) {
  CSYS_REQUIRE(out != nullptr && source != nullptr && table != nullptr);
  return cip_pelMap8(source, out, table);
}

csys_status cidut_ip_pelMinMax8(const cimg_image8Const* source, uint8_t* minimum, uint8_t* maximum) {
  CSYS_REQUIRE(source != nullptr && minimum != nullptr && maximum != nullptr);
  return cip_pelMinMax8(source, minimum, maximum);
}

csys_status cidut_ip_pelTranspose8(const cimg_image8Const* source, cimg_image* out) {
  CSYS_REQUIRE(source != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  const cimg_windowConst s = source->window;
  const cstd_rect32 r{s.y0, s.x0, s.height, s.width};
  const cmath_xformLinear xf = composed(source->clientFromImage, cmath_matrix{0, 1, 1, 0}, cmath_vect{0, 0});
  return cip::makeInto(out, r, xf, [&](cimg_window& w) {
    // 16 x 16 blocks keep both the rows read and the rows written in cache.
    for (int32_t y0 = 0; y0 < s.height; y0 += 16)
      for (int32_t x0 = 0; x0 < s.width; x0 += 16)
        for (int32_t x = x0; x < std::min(x0 + 16, s.width); ++x) {
          uint8_t* o = w.pixels + static_cast<ptrdiff_t>(x) * w.stride;
          for (int32_t y = y0; y < std::min(y0 + 16, s.height); ++y) o[y] = rowOf(s, y)[x];
        }
  });
}

csys_status cidut_ip_pelSample(const cimg_image8Const* source, cimg_image* out, int32_t stepX, int32_t stepY) {
  CSYS_REQUIRE(source != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  if (stepX < 1 || stepY < 1) return cidut_errBadStep;
  const cimg_windowConst s = source->window;
  const cstd_rect32 r{0, 0, s.width / stepX, s.height / stepY};
  const double dx = stepX % 2 == 0 ? 0.5 / stepX : 0.0, dy = stepY % 2 == 0 ? 0.5 / stepY : 0.0;
  // Output point (u, v) lies over source point (x0 + stepX (u - dx), y0 + stepY (v - dy)).
  const cmath_xformLinear xf =
      composed(source->clientFromImage, cmath_matrix{static_cast<double>(stepX), 0, 0, static_cast<double>(stepY)},
               cmath_vect{s.x0 - stepX * dx, s.y0 - stepY * dy});
  const int32_t cx = (stepX - 1) / 2, cy = (stepY - 1) / 2;
  return cip::makeInto(out, r, xf, [&](cimg_window& w) {
    for (int32_t j = 0; j < r.height; ++j) {
      const uint8_t* in = rowOf(s, j * stepY + cy) + cx;
      uint8_t* o = w.pixels + static_cast<ptrdiff_t>(j) * w.stride;
      for (int32_t i = 0; i < r.width; ++i) o[i] = in[static_cast<ptrdiff_t>(i) * stepX];
    }
  });
}

csys_status cidut_ip_pelExpand8(const cimg_image8Const* source, cimg_image* out, int32_t factorX, int32_t factorY) {
  CSYS_REQUIRE(source != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  if (factorX < 1 || factorY < 1) return cidut_errBadStep;
  return cip_pelExpand8(source, out, factorX, factorY);
}

csys_status cidut_ip_project8(const cimg_image8Const* source, const cmath_shapeAffineRect* region, int32_t* count,
                              cimg_image* out) {
  CSYS_REQUIRE(source != nullptr && region != nullptr && count != nullptr && out != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  csys::CleanupList cleanup;
  cimg_image projection;
  cimg_image_constructUnbound(&projection);
  cleanup.destructAlways<cimg_image_destruct>(&projection);
  int32_t first = 0, last = -1, taken = 0;
  csys_status st = cip_affineProjectNorm(source, region, 1, 0, &projection, &first, &last, &taken);
  if (st == cidut_errEmptySpanBase) st = 0;
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  const cstd_rect32 span{first, 0, last - first + 1, 1};
  cimg_image_window(&projection, &span);
  cimg_image_assign(out, &projection);
  *count = taken;
  return cleanup.exit(0);
}

csys_status cidut_ip_gauss8(const cimg_image8Const* source, cimg_image* out, int32_t sizeX, int32_t sizeY) {
  CSYS_REQUIRE(source != nullptr && out != nullptr);
  csys_status st = filterGuard(source, out);
  if (CSYS_FAILED(st)) return st;
  cip_gaussParams p = csGaussParamsNull;
  p.sizeX = std::clamp(sizeX, 0, CIP_GAUSS_MAX_SIZE);
  p.sizeY = std::clamp(sizeY, 0, CIP_GAUSS_MAX_SIZE);
  cstd_rect32 window, region;
  cimg_imageConst_getWindowRect(source, &window);
  cfGaussGetDstReg(&window, &p, &region);
  if (cimg_image_isBound(out)) {
    cstd_rect32 outWindow;
    cimg_image_getWindowRect(out, &outWindow);
    if (!cstd_rect32_containsRect(&outWindow, &region)) return cidut_errBadArgument;
  }
  return cip_gauss(source, out, &p);
}

csys_status cidut_ip_plpf8(const cimg_image8Const* source, cimg_image* out, float factor, int32_t size,
                           int32_t passes, int32_t threshold) {
  return plpfFront(source, out, factor, size, passes, threshold, 0);
}

csys_status cidut_ip_plpf8Mask(const cimg_image8Const* source, cimg_image* out, float factor, int32_t size,
                               int32_t passes, int32_t threshold) {
  return plpfFront(source, out, factor, size, passes, threshold, 1);
}

csys_status cid_spatialAverage(const uint8_t* source, int32_t width, int32_t height, int32_t sourceStride,
                               int32_t boxWidth, int32_t boxHeight, uint8_t* out, int32_t outStride) {
  CSYS_REQUIRE(source != nullptr && out != nullptr && boxWidth >= 1 && boxHeight >= 1 && width >= boxWidth &&
               height >= boxHeight && sourceStride >= width && outStride >= width);
  const uint8_t* sourceEnd = source + static_cast<ptrdiff_t>(height - 1) * sourceStride + width;
  const uint8_t* outEnd = out + static_cast<ptrdiff_t>(height - 1) * outStride + width;
  CSYS_REQUIRE(outEnd <= source || sourceEnd <= out);
  const int32_t lastRow = height - boxHeight;
  if (boxHeight == 1) {
    for (int32_t y = 0; y < height; ++y)
      averageRows(source + static_cast<ptrdiff_t>(y) * sourceStride, width, boxWidth,
                  out + static_cast<ptrdiff_t>(y) * outStride);
    return 0;
  }
  csys::CleanupList cleanup;
  void* block = nullptr;
  csys_status st = csys_memory_alloc_internal(sizeof(uint32_t) * static_cast<size_t>(width), &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  auto* columns = static_cast<uint32_t*>(block);
  const uint32_t area = static_cast<uint32_t>(boxWidth) * static_cast<uint32_t>(boxHeight);
  std::fill(columns, columns + width, 0u);
  auto srcRow = [&](int32_t y) { return source + static_cast<ptrdiff_t>(y) * sourceStride; };
  for (int32_t y = 0; y < boxHeight; ++y)
    for (int32_t x = 0; x < width; ++x) columns[x] += srcRow(y)[x];
  const int32_t lastColumn = width - boxWidth;
  for (int32_t y = 0; y <= lastRow; ++y) {
    if (y > 0)
      for (int32_t x = 0; x < width; ++x) columns[x] += srcRow(y + boxHeight - 1)[x] - srcRow(y - 1)[x];
    uint8_t* o = out + static_cast<ptrdiff_t>(y) * outStride;
    int64_t sum = 0;
    for (int32_t x = 0; x < boxWidth; ++x) sum += columns[x];
    for (int32_t x = 0; x <= lastColumn; ++x) {
      o[x] = static_cast<uint8_t>((sum + area / 2) / area);
      if (x < lastColumn) sum += int64_t{columns[x + boxWidth]} - int64_t{columns[x]};
    }
    std::fill(o + lastColumn + 1, o + width, o[lastColumn]);
  }
  for (int32_t y = lastRow + 1; y < height; ++y)
    std::memcpy(out + static_cast<ptrdiff_t>(y) * outStride, out + static_cast<ptrdiff_t>(lastRow) * outStride,
                static_cast<size_t>(width));
  return cleanup.exit(0);
}

}  // extern "C"
