// The two local binarisers: local contrast at reduced resolution (method 4) and the sliding
// window mean (method 5).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/cip_filter.h"
#include "base/cip_gmorph.h"
#include "base/cip_histogram.h"
#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "binarize_impl.hpp"

namespace {

// Extremum over the clamped (2 radius + 1)^2 neighbourhood, separably: rows into tmp, then
// columns into out. Planes are w x h with stride w.
template <bool Max>
void neighbourhood(const uint8_t* in, uint8_t* out, uint8_t* tmp, int32_t w, int32_t h, int32_t radius) {
  auto pick = [](uint8_t a, uint8_t b) { return Max ? std::max(a, b) : std::min(a, b); };
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = in + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      uint8_t v = row[x];
      for (int32_t k = std::max(0, x - radius); k <= std::min(w - 1, x + radius); ++k) v = pick(v, row[k]);
      tmp[static_cast<ptrdiff_t>(y) * w + x] = v;
    }
  }
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* o = out + static_cast<ptrdiff_t>(y) * w;
    std::memcpy(o, tmp + static_cast<ptrdiff_t>(y) * w, static_cast<size_t>(w));
    for (int32_t k = std::max(0, y - radius); k <= std::min(h - 1, y + radius); ++k) {
      const uint8_t* t = tmp + static_cast<ptrdiff_t>(k) * w;
      for (int32_t x = 0; x < w; ++x) o[x] = pick(o[x], t[x]);
    }
  }
}

// Copies a window into a packed w x h plane.
void pack(const cimg_window& s, uint8_t* plane) {
  for (int32_t y = 0; y < s.height; ++y)
    std::memcpy(plane + static_cast<ptrdiff_t>(y) * s.width, s.pixels + static_cast<ptrdiff_t>(y) * s.stride,
                static_cast<size_t>(s.width));
}

// Per-pixel thresholds T and contrasts K of the work image S (planes of w x h).
struct Planes {
  uint8_t *dilated, *eroded, *max9, *min9, *max3, *min3, *tmp;
};

void contrastThresholds(const Planes& q, int32_t w, int32_t h, double minContrast, int32_t fallback,
                        const cimg_window& t, const cimg_window& k) {
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const ptrdiff_t i = static_cast<ptrdiff_t>(y) * w + x;
      const int c9 = q.max9[i] - q.min9[i], c3 = q.max3[i] - q.min3[i];
      uint8_t* tp = t.pixels + static_cast<ptrdiff_t>(y) * t.stride + x;
      uint8_t* kp = k.pixels + static_cast<ptrdiff_t>(y) * k.stride + x;
      if (c9 >= minContrast) {
        *tp = static_cast<uint8_t>(q.min9[i] + (c3 >= minContrast ? c3 : c9) / 2);
        *kp = static_cast<uint8_t>(c9);
      } else {
        *tp = static_cast<uint8_t>(fallback);
        *kp = static_cast<uint8_t>(q.dilated[i] - q.eroded[i]);
      }
    }
}

// Enlarges by r (a shared view when r < 2) and windows the result to the w x h rectangle at 0.
csys_status enlarge(const cimg_image& small, int32_t r, int32_t W, int32_t H, cimg_imageConst* out) {
  cimg_imageConst view;
  cimg_imageConst_constructFromImage(&view, &small);
  csys_status st = 0;
  if (r >= 2) {
    cimg_image big;
    cimg_image_constructUnbound(&big);
    st = cip_pelExpand8(&view, &big, r, r);
    if (CSYS_SUCCEEDED(st)) cimg_imageConst_assignFromImage(out, &big);
    cimg_image_destruct(&big);
  } else {
    cimg_imageConst_assign(out, &view);
  }
  cimg_imageConst_destruct(&view);
  if (CSYS_FAILED(st)) return st;
  const cstd_rect32 rect{0, 0, W, H};
  return cimg_imageConst_window(out, &rect);
}

// The work image S of the source view (origin 0): a view when r < 2, else smoothed and reduced.
csys_status workImage(const cimg_imageConst& source, int32_t r, cimg_imageConst* work) {
  if (r < 2) return cimg_imageConst_assign(work, &source);
  cip_gaussParams gp;
  cip_gaussParams_init(&gp);
  gp.sizeX = gp.sizeY = std::min(r, CIP_GAUSS_MAX_SIZE);
  gp.reduceX = gp.reduceY = r;
  cimg_image reduced;
  cimg_image_constructUnbound(&reduced);
  csys_status st = cip_gauss_smooth8_8(&source, &reduced, &gp);
  if (CSYS_SUCCEEDED(st)) cimg_imageConst_assignFromImage(work, &reduced);
  cimg_image_destruct(&reduced);
  return st;
}

// The global fallback threshold and the 3 x 3 dilation and erosion of S into the planes.
csys_status morphology(const cimg_imageConst& work, const Planes& q, int32_t* fallback) {
  uint32_t histogram[CIP_HISTOGRAM8_BINS];
  cip_pelHistogram8(&work, histogram);
  cip_threshParams tp;
  cip_threshParams_init(&tp);
  csys_status st = cip_threshComputeWGVThresholdFromHistogram(histogram, 255, 1, 255, &tp, fallback);
  if (CSYS_FAILED(st)) return st;
  csys::CleanupList cleanup;
  cip_gmorphElementArray element;
  st = cip_gmorphElementArray_constructType(&element, 1, 1);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructAlways<cip_gmorphElementArray_destruct>(&element);
  cimg_image result;
  cimg_image_constructUnbound(&result);
  cleanup.destructAlways<cimg_image_destruct>(&result);
  st = cip_gmorphDilate8(&work, &result, &element);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  pack(result.window, q.dilated);
  st = cip_gmorphErode8(&work, &result, &element);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  pack(result.window, q.eroded);
  return cleanup.exit(0);
}

}  // namespace

namespace binarize {

csys_status localContrast(const cimg_imageConst& source, const cidut_binarizeParams& params,
                          const cimg_window& destination, cimg_image* contrastMask) {
  const int32_t W = source.window.width, H = source.window.height, r = params.reduction;
  csys::CleanupList cleanup;
  // Window-relative coordinates throughout, so the enlarged thresholds start at the source's
  // first pixel whatever its origin.
  cimg_imageConst origin, work;
  cimg_imageConst_constructCopy(&origin, &source);
  cleanup.destructAlways<cimg_imageConst_destruct>(&origin);
  cimg_imageConst_setWindowOffset(&origin, 0, 0);
  cimg_imageConst_constructUnbound(&work);
  cleanup.destructAlways<cimg_imageConst_destruct>(&work);
  csys_status st = workImage(origin, r, &work);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  const int32_t w = work.window.width, h = work.window.height;
  const size_t plane = static_cast<size_t>(w) * h;
  void* block = nullptr;
  st = csys_memory_alloc_internal(7 * plane, &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  auto* b = static_cast<uint8_t*>(block);
  const Planes q{b, b + plane, b + 2 * plane, b + 3 * plane, b + 4 * plane, b + 5 * plane, b + 6 * plane};
  int32_t fallback = 0;
  st = morphology(work, q, &fallback);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  neighbourhood<true>(q.dilated, q.max9, q.tmp, w, h, 4);
  neighbourhood<false>(q.eroded, q.min9, q.tmp, w, h, 4);
  neighbourhood<true>(q.dilated, q.max3, q.tmp, w, h, 1);
  neighbourhood<false>(q.eroded, q.min3, q.tmp, w, h, 1);
  cimg_image t, k;
  st = cimg_image_construct(&t, w, h);
  cleanup.destructAlways<cimg_image_destruct>(&t);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  st = cimg_image_construct(&k, w, h);
  cleanup.destructAlways<cimg_image_destruct>(&k);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  contrastThresholds(q, w, h, params.minContrast, fallback, t.window, k.window);
  cimg_imageConst thresholds;
  cimg_imageConst_constructUnbound(&thresholds);
  cleanup.destructAlways<cimg_imageConst_destruct>(&thresholds);
  st = enlarge(t, r, W, H, &thresholds);
  if (CSYS_SUCCEEDED(st)) st = againstThresholds(origin, thresholds, destination);
  if (CSYS_FAILED(st) || contrastMask == nullptr) return cleanup.exit(st);
  cimg_imageConst contrast;
  cimg_imageConst_constructUnbound(&contrast);
  cleanup.destructAlways<cimg_imageConst_destruct>(&contrast);
  st = enlarge(k, r, W, H, &contrast);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  uint8_t table[256];
  for (int v = 0; v < 256; ++v) table[v] = v >= params.minContrast ? 255 : 0;
  cimg_image mask;
  cimg_image_constructUnbound(&mask);
  cleanup.destructAlways<cimg_image_destruct>(&mask);
  st = cip_pelMap8(&contrast, &mask, table);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cimg_image_setWindowOffset(&mask, source.window.x0, source.window.y0);
  cimg_image_setLinearClientFromImageXform(&mask, &source.clientFromImage);
  cimg_image_assign(contrastMask, &mask);
  return cleanup.exit(0);
}

// Column sums of the current band of N rows (16-bit: N * 255 <= 46155), a window sum sliding
// along the band, and the comparison values of the first and last bands kept for the rows
// above and below the first and last window centres.
csys_status slidingMean(const cimg_windowConst& s, const cidut_binarizeParams& params,
                        const cimg_window& destination) {
  const int32_t W = s.width, H = s.height, N = params.windowSize, half = N / 2, span = W - N + 1;
  const int16_t area = static_cast<int16_t>(N * N);
  const int32_t bias = static_cast<int32_t>(params.offset) * area;
  csys::CleanupList cleanup;
  void* block = nullptr;
  const size_t columnBytes = (sizeof(uint16_t) * W + 7) & ~size_t{7};  // the bands' values stay aligned
  csys_status st = csys_memory_alloc_internal(columnBytes + sizeof(int32_t) * 2 * span, &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  auto* columns = static_cast<uint16_t*>(block);
  auto* firstBand = reinterpret_cast<int32_t*>(static_cast<uint8_t*>(block) + columnBytes);
  int32_t* lastBand = firstBand + span;
  auto src = [&](int32_t y) { return s.pixels + static_cast<ptrdiff_t>(y) * s.stride; };
  auto dst = [&](int32_t y) { return destination.pixels + static_cast<ptrdiff_t>(y) * destination.stride; };
  auto decide = [&](uint8_t p, int32_t cmp) { return static_cast<uint8_t>(p * area < cmp ? 0 : 255); };
  std::fill(columns, columns + W, uint16_t{0});
  for (int32_t y = 0; y < N; ++y)
    for (int32_t x = 0; x < W; ++x) columns[x] = static_cast<uint16_t>(columns[x] + src(y)[x]);
  for (int32_t band = 0; band + N <= H; ++band) {
    if (band > 0)
      for (int32_t x = 0; x < W; ++x)
        columns[x] = static_cast<uint16_t>(columns[x] - src(band - 1)[x] + src(band + N - 1)[x]);
    int32_t sum = 0;
    for (int32_t x = 0; x < N; ++x) sum += columns[x];
    const uint8_t* in = src(band + half);
    uint8_t* out = dst(band + half);
    for (int32_t x = 0; x < span; ++x) {
      const int32_t cmp = sum - bias;
      lastBand[x] = cmp;
      out[x + half] = decide(in[x + half], cmp);
      if (x + 1 < span) sum += columns[x + N] - columns[x];
    }
    for (int32_t x = 0; x < half; ++x) out[x] = decide(in[x], lastBand[0]);
    for (int32_t x = span + half; x < W; ++x) out[x] = decide(in[x], lastBand[span - 1]);
    if (band == 0) std::copy(lastBand, lastBand + span, firstBand);
  }
  // Rows above the first centre and below the last take the first and last bands' values.
  auto border = [&](int32_t y, const int32_t* values) {
    const uint8_t* in = src(y);
    uint8_t* out = dst(y);
    for (int32_t x = 0; x < W; ++x) out[x] = decide(in[x], values[std::clamp(x - half, 0, span - 1)]);
  };
  for (int32_t y = 0; y < half; ++y) border(y, firstBand);
  for (int32_t y = H - N + half + 1; y < H; ++y) border(y, lastBand);
  return cleanup.exit(0);
}

}  // namespace binarize
