// Binarisation frame (validation, destination, tile grid, reference image), the global and
// tile methods, and the buffer division.
#include <algorithm>
#include <cmath>

#include "base/cip_affine.h"
#include "base/cip_histogram.h"
#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "binarize_impl.hpp"

namespace binarize {

csys_status againstThresholds(const cimg_imageConst& source, const cimg_imageConst& thresholds,
                              const cimg_window& destination) {
  csys::CleanupList cleanup;
  cimg_image difference;
  cimg_image_constructUnbound(&difference);
  cleanup.destructAlways<cimg_image_destruct>(&difference);
  csys_status st = cip_pelSub8(&source, &thresholds, &difference, CIP_PELSUB_CLAMP);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  uint8_t table[256];
  table[0] = 0;
  std::fill(table + 1, table + 256, uint8_t{255});
  cimg_imageConst view;
  cimg_imageConst_constructFromImage(&view, &difference);
  cleanup.destructAlways<cimg_imageConst_destruct>(&view);
  mapInto(view.window, destination, table);
  return cleanup.exit(0);
}

}  // namespace binarize

namespace {

struct Grid {
  int32_t nx = 0, ny = 0;
};

bool isNullRegion(const cmath_shapeAffineRect& r) {
  return r.po.x == 0 && r.po.y == 0 && r.px.x == 0 && r.px.y == 0 && r.py.x == 0 && r.py.y == 0;
}

bool finiteRegion(const cmath_shapeAffineRect& r) {
  return std::isfinite(r.po.x) && std::isfinite(r.po.y) && std::isfinite(r.px.x) && std::isfinite(r.px.y) &&
         std::isfinite(r.py.x) && std::isfinite(r.py.y);
}

// Tile counts; false when a tile side truncates to 0, a count is 0 or there are more tiles
// than pixels along a side.
bool tileGrid(const cidut_binarizeParams& p, int32_t W, int32_t H, Grid* grid) {
  if (isNullRegion(p.region)) {
    *grid = Grid{p.tilesX, p.tilesY};
  } else {
    const double a = std::hypot(p.region.px.x - p.region.po.x, p.region.px.y - p.region.po.y);
    const double b = std::hypot(p.region.py.x - p.region.po.x, p.region.py.y - p.region.po.y);
    if (!(p.divisions > 0) || !(a > 0) || !(b > 0)) return false;
    double w, h;
    if (a <= b) {
      h = b / p.divisions;
      w = (a / b) * h;
    } else {
      w = a / p.divisions;
      h = (b / a) * w;
    }
    if (!(w >= 1 && h >= 1 && w < 1e9 && h < 1e9)) return false;
    *grid = Grid{W / static_cast<int32_t>(w), H / static_cast<int32_t>(h)};
  }
  return grid->nx >= 1 && grid->ny >= 1 && grid->nx <= W && grid->ny <= H;
}

// Visits the tiles row by row: fn(x0, y0, x1, y1) with exclusive ends, window-relative.
template <class Fn>
void forEachTile(int32_t W, int32_t H, const Grid& g, Fn fn) {
  const int32_t bw = W / g.nx + 1, bh = H / g.ny + 1;
  for (int32_t ty = 0; ty < g.ny && ty * bh < H; ++ty)
    for (int32_t tx = 0; tx < g.nx && tx * bw < W; ++tx)
      fn(tx * bw, ty * bh, std::min(W, (tx + 1) * bw), std::min(H, (ty + 1) * bh));
}

void tileMinMax(const cimg_windowConst& s, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int* lo, int* hi) {
  uint8_t mn = 255, mx = 0;
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* row = s.pixels + static_cast<ptrdiff_t>(y) * s.stride;
    for (int32_t x = x0; x < x1; ++x) {
      mn = std::min(mn, row[x]);
      mx = std::max(mx, row[x]);
    }
  }
  *lo = mn;
  *hi = mx;
}

void fillTile(const cimg_window& d, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int value) {
  for (int32_t y = y0; y < y1; ++y)
    std::fill(d.pixels + static_cast<ptrdiff_t>(y) * d.stride + x0, d.pixels + static_cast<ptrdiff_t>(y) * d.stride + x1,
              static_cast<uint8_t>(value));
}

// Methods 2 and 3: the threshold image goes into the destination, then the comparison
// overwrites it.
csys_status tileMethod(const cimg_imageConst& source, const cimg_imageConst* reference, const cidut_binarizeParams& p,
                       const Grid& grid, cimg_image* destination) {
  const cimg_windowConst& s = source.window;
  const cimg_window& d = destination->window;
  const int32_t W = s.width, H = s.height;
  uint8_t refMin = 255, refMax = 0;
  if (reference != nullptr) cip_pelMinMax8(reference, &refMin, &refMax);
  if (p.method == 2) {
    const int floor = reference != nullptr ? refMax - refMin : p.minRange;
    forEachTile(W, H, grid, [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
      int lo, hi;
      tileMinMax(s, x0, y0, x1, y1, &lo, &hi);
      fillTile(d, x0, y0, x1, y1, hi - lo > floor ? (lo + hi) / 2 : 0);
    });
  } else if (reference != nullptr) {
    forEachTile(W, H, grid, [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
      int lo, hi;
      tileMinMax(s, x0, y0, x1, y1, &lo, &hi);
      fillTile(d, x0, y0, x1, y1, (hi + refMin) / 2);
    });
  } else {
    // First pass: each tile's maximum parked in its pixels, and the smallest tile minimum.
    int g = 255;
    forEachTile(W, H, grid, [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
      int lo, hi;
      tileMinMax(s, x0, y0, x1, y1, &lo, &hi);
      g = std::min(g, lo);
      fillTile(d, x0, y0, x1, y1, hi);
    });
    forEachTile(W, H, grid, [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
      fillTile(d, x0, y0, x1, y1, (d.pixels[static_cast<ptrdiff_t>(y0) * d.stride + x0] + g) / 2);
    });
  }
  csys::CleanupList cleanup;
  cimg_imageConst thresholds;
  cimg_imageConst_constructFromImage(&thresholds, destination);
  cleanup.destructAlways<cimg_imageConst_destruct>(&thresholds);
  return cleanup.exit(binarize::againstThresholds(source, thresholds, d));
}

csys_status globalMethod(const cimg_imageConst& source, int32_t method, const cimg_window& destination) {
  int32_t threshold = 0;
  if (method == 0) {
    uint8_t lo, hi;
    cip_pelMinMax8(&source, &lo, &hi);
    threshold = (lo + hi) / 2;
  } else {
    cip_threshParams tp;
    cip_threshParams_init(&tp);
    csys_status st = cip_threshComputeWGVThresholdFromImage(&source, &tp, &threshold);
    if (CSYS_FAILED(st)) return st;
  }
  uint8_t table[256];
  for (int v = 0; v < 256; ++v) table[v] = v >= threshold ? 255 : 0;
  binarize::mapInto(source.window, destination, table);
  return 0;
}

// The reference image of regionMode 0 or 1 into ref (constructed by the caller).
csys_status makeReference(const cimg_imageConst& source, const cidut_binarizeParams& p, cimg_imageConst* ref) {
  if (p.regionMode == 0) {
    cimg_imageConst_assign(ref, &source);
    const cstd_rect32 r{source.window.x0 + p.window.x, source.window.y0 + p.window.y, p.window.width,
                        p.window.height};
    return cimg_imageConst_window(ref, &r);
  }
  csys::CleanupList cleanup;
  cimg_image sampled;
  cimg_image_constructUnbound(&sampled);
  cleanup.destructAlways<cimg_image_destruct>(&sampled);
  csys_status st = cip_affine8(&source, &p.region, 0, 0, &sampled);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  return cleanup.exit(cimg_imageConst_assignFromImage(ref, &sampled));
}

csys_status validate(const cimg_imageConst& source, const cidut_binarizeParams& p, const cimg_image* destination,
                     const cimg_image* contrastMask, Grid* grid) {
  const cimg_windowConst& s = source.window;
  if (s.width <= 0 || s.height <= 0 || p.method < 0 || p.method > 5 || !finiteRegion(p.region))
    return cidut_errBadArgument;
  if (cimg_image_isBound(destination)) {
    if (destination->window.width != s.width || destination->window.height != s.height) return cidut_errBadArgument;
    if (CSYS_FAILED(cip_pelfunc_checkMemoryOverlap(&source, destination))) return cidut_errBuffersOverlap;
  }
  if (contrastMask != nullptr && CSYS_FAILED(cip_pelfunc_checkMemoryOverlap(&source, contrastMask)))
    return cidut_errBuffersOverlap;
  if (p.method == 4)
    return p.reduction <= 64 && std::isfinite(p.minContrast) ? 0 : cidut_errBadArgument;
  if (p.method == 5)
    return p.windowSize >= 1 && p.windowSize <= 181 && p.windowSize <= s.width && p.windowSize <= s.height
               ? 0
               : cidut_errBadArgument;
  if (p.regionMode < 0 || p.regionMode > 2) return cidut_errBadArgument;
  if (p.regionMode == 1 && isNullRegion(p.region)) return cidut_errBadArgument;
  if (p.regionMode == 0) {
    const cstd_rect32 inner{s.x0 + p.window.x, s.y0 + p.window.y, p.window.width, p.window.height};
    const cstd_rect32 outer{s.x0, s.y0, s.width, s.height};
    if (p.window.width <= 0 || p.window.height <= 0 || !cstd_rect32_containsRect(&outer, &inner))
      return cidut_errBadArgument;
  }
  if ((p.method == 2 || p.method == 3) && !tileGrid(p, s.width, s.height, grid)) return cidut_errBadArgument;
  return 0;
}

// Fast path: multiply by the 64-bit reciprocal ceil(2^64 / d); exact for 32-bit inputs since
// its error stays below 2^-32 of a unit, less than the gap 1 / d to the next integer quotient.
csys_status divideFast(const uint32_t* input, uint32_t count, uint32_t divisor, uint8_t* output) {
  if (cprt_isOptimizationInhibited("cidut_divideBufferByConstant32_8")) return cidut_errNotOptimized;
  if (divisor == 1) {
    for (uint32_t i = 0; i < count; ++i) output[i] = static_cast<uint8_t>(input[i]);
    return 0;
  }
  const uint64_t reciprocal = ~uint64_t{0} / divisor + 1;
  for (uint32_t i = 0; i < count; ++i)
    output[i] = static_cast<uint8_t>((static_cast<unsigned __int128>(input[i]) * reciprocal) >> 64);
  return 0;
}

}  // namespace

extern "C" {

csys_status cidut_binarizeParams_construct(cidut_binarizeParams* params) {
  CSYS_REQUIRE(params != nullptr);
  cmath_shapeAffineRectPoints none{};
  const csys_status st = cmath_shapeAffineRect_initPoints(&params->region, &none);
  params->window = cstd_rect32{0, 0, 0, 0};
  params->reserved0 = params->reserved1 = 0;
  params->method = 3;
  params->regionMode = 2;
  params->minRange = 'A';
  params->tilesX = 20;
  params->tilesY = 10;
  params->divisions = 10.0;
  params->minContrast = 20.0;
  params->reduction = 2;
  params->offset = 10;
  params->windowSize = 15;
  return st;
}

csys_status cidut_binarizeParams_destruct(cidut_binarizeParams* params) {
  CSYS_REQUIRE(params != nullptr);
  return 0;
}

csys_status cidut_binarizeImage(cimg_image* destination, void* /*unused1*/, void* /*unused2*/,
                                cimg_image* contrastMask, const cimg_image8Const* source,
                                const cidut_binarizeParams* params) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr && params != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  const cidut_binarizeParams p = *params;
  Grid grid;
  csys_status st = validate(*source, p, destination, contrastMask, &grid);
  if (CSYS_FAILED(st)) return st;
  const cimg_windowConst& s = source->window;
  if (!cimg_image_isBound(destination)) {
    st = cimg_image_assignNew(destination, s.width, s.height);
    if (CSYS_FAILED(st)) return st;
  }
  cimg_image_setWindowOffset(destination, s.x0, s.y0);
  cimg_image_setLinearClientFromImageXform(destination, &source->clientFromImage);
  if (p.method == 4) return binarize::localContrast(*source, p, destination->window, contrastMask);
  if (p.method == 5) return binarize::slidingMean(s, p, destination->window);
  csys::CleanupList cleanup;
  cimg_imageConst reference;
  cimg_imageConst_constructUnbound(&reference);
  cleanup.destructAlways<cimg_imageConst_destruct>(&reference);
  if (p.regionMode != 2) {
    st = makeReference(*source, p, &reference);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
  }
  const cimg_imageConst* ref = p.regionMode != 2 ? &reference : nullptr;
  st = p.method < 2 ? globalMethod(*source, p.method, destination->window)
                    : tileMethod(*source, ref, p, grid, destination);
  return cleanup.exit(st);
}

csys_status cidut_divideBufferByConstant32_8(const uint32_t* input, uint32_t count, uint32_t divisor,
                                             uint8_t* output) {
  if (divisor == 0 || (count > 0 && (input == nullptr || output == nullptr))) return cidut_errBadArgument;
  csys_status st = divideFast(input, count, divisor, output);
  if (CIDUT_IS_NOT_OPTIMIZED(st)) {
    for (uint32_t i = 0; i < count; ++i) output[i] = static_cast<uint8_t>(input[i] / divisor);
    st = 0;
  }
  return st;
}

}  // extern "C"
