#include "reader/datamatrix/dmscan.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "base/cbt.h"
#include "base/csys.h"
#include "ci_id/dmsearch.h"
#include "reader/lanes.hpp"

namespace dmroad {

namespace {

constexpr int32_t kBlock = 64;

struct Cells {
  cimg_window w{};
  bool set(int32_t cx, int32_t cy) const {
    return cx >= w.x0 && cy >= w.y0 && cx - w.x0 < w.width && cy - w.y0 < w.height &&
           w.pixels[static_cast<ptrdiff_t>(cy - w.y0) * w.stride + (cx - w.x0)] != 0;
  }
  void mark(int32_t cx, int32_t cy) const {
    if (cx >= w.x0 && cy >= w.y0 && cx - w.x0 < w.width && cy - w.y0 < w.height)
      w.pixels[static_cast<ptrdiff_t>(cy - w.y0) * w.stride + (cx - w.x0)] = 1;
  }
};

// Every cell of the pixels each point of the last track lies between, and the seed's own cell.
// The search has marked the cell of the pixel each point rounds to; a point lies next to a second
// cell along x only in the last pixel before a cell boundary (x & 1023 above 768, x in 1/256
// pixel), and likewise along y, so only those points have cells left to mark.
void markAround(const Cells& cells, const cbt_result& track, const cid2d_trackingSeed& seed) {
  const cbt_point* points = track.points;
  const uint32_t n = track.count;
  // The window in locals (byte stores could otherwise alias it); a cell is on the image when its
  // offsets from the origin, read unsigned, are below the sizes.
  uint8_t* const pixels = cells.w.pixels;
  const ptrdiff_t stride = cells.w.stride;
  const int32_t x0 = cells.w.x0, y0 = cells.w.y0;
  const uint32_t width = static_cast<uint32_t>(cells.w.width), height = static_cast<uint32_t>(cells.w.height);
  auto mark = [&](int32_t cx, int32_t cy) {
    const uint32_t u = static_cast<uint32_t>(cx - x0), v = static_cast<uint32_t>(cy - y0);
    if (u < width && v < height) pixels[static_cast<ptrdiff_t>(v) * stride + u] = 1;
  };
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t x = points[i].x, y = points[i].y;
    const bool nearX = (x & 1023) > 768, nearY = (y & 1023) > 768;
    if (!nearX && !nearY) continue;
    const int32_t cx = x >> 10, cy = y >> 10;
    mark(cx, cy);
    if (nearX) mark(cx + 1, cy);
    if (nearY) {
      mark(cx, cy + 1);
      if (nearX) mark(cx + 1, cy + 1);
    }
  }
  cells.mark(seed.x >> 2, seed.y >> 2);
}

struct Row {
  const cimg_imageConst* image;
  const cid2d_trackingParams* params;
  const cid_mask* mask;
  const cmath_xformLinear* maskXform;
  cimg_windowConst window;
  Cells cells;
  cbt_runParams run;
  int32_t threshold;
};

// The search from the peak at column x of row y (p the row, x0-based), then the wider marks.
csys_status searchAt(const Row& r, const uint8_t* p, int32_t x, int32_t y, int32_t lineIndex, int32_t strength,
                     cimg_image* marking, cid2d_trackingResult* result) {
  const cimg_windowConst& w = r.window;
  cid2d_trackingSeed seed{};
  seed.x = x - w.x0;
  seed.y = y - w.y0;
  seed.strength = strength;
  seed.line = lineIndex;
  seed.mean = (p[x - 1] + p[x] + p[x + 1] + p[x + 2]) / 4;
  seed.polarity = p[x] < seed.mean ? 1 : 0;
  seed.startA[0] = (x + 2) * 256;
  seed.startA[1] = y * 256;
  seed.startB[0] = (x - 1) * 256;
  seed.startB[1] = y * 256;
  result->boundary.count = 0;  // tells a track from a seed the search passed over
  const csys_status st = cf_BndFindDMSymbolFromSeed(r.image, r.params, &seed, &r.run, marking, r.mask, nullptr,
                                                    r.maskXform, result);
  if (CSYS_FAILED(st)) return st;
  if (result->boundary.count > 0) markAround(r.cells, result->boundary, seed);
  return 0;
}

// The six-tap responses of a block of positions, q[0] the pixel before the first: a loop of fixed
// length, which the compiler turns into vector code.
IDUT_READER_LANE_BODY void blockResponses(const uint8_t* q, int16_t* out) {
  for (int32_t i = 0; i < kBlock; ++i)
    out[i] = static_cast<int16_t>(std::abs(q[i + 3] + q[i + 4] + q[i + 5] - q[i] - q[i + 1] - q[i + 2]));
}

// Whether no response of a block (pixels q[0] ... q[kBlock + 4]) can reach the threshold: a
// six-tap response is at most three times the spread of the pixels it reads. A loop of kBlock
// alone becomes vector code, so each step takes q[i] and q[i + 5] together: the two runs overlap
// and cover the block's pixels and the five past it (a loop of its own for those five cost more
// than the block's).
IDUT_READER_LANE_BODY bool flatBlock(const uint8_t* q, int32_t threshold) {
  uint8_t lo = 255, hi = 0;
  for (int32_t i = 0; i < kBlock; ++i) {
    const uint8_t a = q[i], b = q[i + 5];
    const uint8_t low = a < b ? a : b, high = a > b ? a : b;
    lo = low < lo ? low : lo;
    hi = high > hi ? high : hi;
  }
  return 3 * (hi - lo) < threshold;
}

// Whether the cells of columns x0 ... x1 of row y are all marked: no peak there is searched from.
bool blockMarked(const Cells& cells, int32_t x0, int32_t x1, int32_t y) {
  const cimg_window& m = cells.w;
  const int32_t cy = (y >> 2) - m.y0, c0 = (x0 >> 2) - m.x0, c1 = (x1 >> 2) - m.x0;
  if (cy < 0 || cy >= m.height || c0 < 0 || c1 >= m.width) return false;
  const uint8_t* row = m.pixels + static_cast<ptrdiff_t>(cy) * m.stride;
  for (int32_t c = c0; c <= c1; ++c)
    if (row[c] == 0) return false;
  return true;
}

// One scan row: responses and peaks a block at a time (blocks too flat for a peak, or wholly in
// marked cells, only carry their last two responses on), peaks searched from in walk order
// unless their cell is marked. Built for the baseline and for AVX2 (reader/lanes.hpp).
IDUT_READER_LANE_BODY csys_status scanRowBody(const Row& r, int32_t lineIndex, int32_t y, cimg_image* marking,
                                              cid2d_trackingResult* result) {
  const cimg_windowConst& w = r.window;
  const uint8_t* p = w.pixels + static_cast<ptrdiff_t>(y - w.y0) * w.stride - w.x0;
  const int32_t begin = w.x0 + 3, end = w.x0 + w.width - 5;
  // Held in a local: the byte stores of the peak flags could otherwise alias it.
  const int16_t threshold = static_cast<int16_t>(r.threshold);
  int16_t resp[kBlock + 2];
  resp[0] = 256;  // the two responses before the first position
  resp[1] = 0;
  uint8_t peak[kBlock];
  uint8_t tail[kBlock + 5];
  // The row of marking cells this scan row falls in (null when it lies off the marking image).
  const cimg_window& m = r.cells.w;
  const int32_t cellY = (y >> 2) - m.y0, cellX0 = m.x0, cellWidth = m.width;
  const uint8_t* cellRow = cellY >= 0 && cellY < m.height ? m.pixels + static_cast<ptrdiff_t>(cellY) * m.stride : nullptr;
  auto responseAt = [p](int32_t x) {
    return static_cast<int16_t>(std::abs(p[x + 2] + p[x + 3] + p[x + 4] - p[x - 1] - p[x] - p[x + 1]));
  };
  for (int32_t t0 = begin; t0 < end; t0 += kBlock) {
    const int32_t n = end - t0 < kBlock ? end - t0 : kBlock;
    const uint8_t* q = p + t0 - 1;
    if (n == kBlock && ((resp[1] < threshold && flatBlock(q, threshold)) ||
                        blockMarked(r.cells, t0, t0 + kBlock - 1, y))) {
      resp[0] = responseAt(t0 + kBlock - 2);
      resp[1] = responseAt(t0 + kBlock - 1);
      continue;
    }
    if (n < kBlock) {  // the row's last block from a zero-padded copy; what lies past n is unused
      std::memcpy(tail, q, static_cast<size_t>(n) + 5);
      std::memset(tail + n + 5, 0, sizeof tail - (static_cast<size_t>(n) + 5));
      q = tail;
    }
    blockResponses(q, resp + 2);
    for (int32_t i = 0; i < kBlock; ++i)
      peak[i] = static_cast<uint8_t>((resp[i + 1] >= threshold) & (resp[i + 1] > resp[i]) & (resp[i + 1] >= resp[i + 2]));
    // The peaks as one bit each (position i in bit i), visited in order.
    uint64_t bits = 0;
    for (int32_t k = 0; k < kBlock / 8; ++k) {
      uint64_t eight;
      std::memcpy(&eight, peak + 8 * k, sizeof eight);
      if constexpr (std::endian::native == std::endian::big) eight = __builtin_bswap64(eight);
      bits |= ((eight * 0x0102040810204080ull) >> 56) << (8 * k);
    }
    if (n < kBlock) bits &= (uint64_t{1} << n) - 1;
    while (bits != 0) {
      const int32_t i = std::countr_zero(bits);
      bits &= bits - 1;
      const int32_t x = t0 + i, cx = (x >> 2) - cellX0;
      if (cellRow != nullptr && cx >= 0 && cx < cellWidth && cellRow[cx] != 0) continue;
      const csys_status st = searchAt(r, p, x, y, lineIndex, resp[i + 1], marking, result);
      if (CSYS_FAILED(st) || result->found != 0) return st;
    }
    resp[0] = resp[n];
    resp[1] = resp[n + 1];
  }
  return 0;
}

using ScanRow = csys_status (*)(const Row&, int32_t, int32_t, cimg_image*, cid2d_trackingResult*);
csys_status scanRowBaseline(const Row& r, int32_t lineIndex, int32_t y, cimg_image* marking,
                            cid2d_trackingResult* result) {
  return scanRowBody(r, lineIndex, y, marking, result);
}
IDUT_READER_WIDE_TARGET csys_status scanRowWide(const Row& r, int32_t lineIndex, int32_t y, cimg_image* marking,
                                                cid2d_trackingResult* result) {
  return scanRowBody(r, lineIndex, y, marking, result);
}

}  // namespace

csys_status findNextSymbol(const cimg_imageConst* image, const cid2d_trackingParams* params, const cid_mask* mask,
                           const cmath_xformLinear* maskXform, int32_t lowContrast, cimg_image* marking,
                           cid2d_trackingResult* result) {
  Row r{image, params, mask, maskXform, {}, {}, {}, lowContrast == 0 ? 45 : 33};
  csys_status st = cimg_windowConst_init(&r.window, image);
  if (CSYS_FAILED(st)) return st;
  if (CSYS_FAILED(st = cimg_window_init(&r.cells.w, marking))) return st;
  if (CSYS_FAILED(st = cbt_runParams_init(&r.run))) return st;
  r.run.closeAtBorder = 1;
  r.run.saddleByMean = 1;
  r.run.minPoints = 0;
  r.run.maxPoints = params->maxContourPoints;
  if (CSYS_FAILED(st = cid2d_trackingResult_reset(result))) return st;
  const cimg_windowConst& w = r.window;
  static const ScanRow scanRow = lanes::pick<ScanRow>(scanRowBaseline, scanRowWide);
  int32_t i = params->firstScanLine;
  for (; i < params->scanLineCount; ++i) {
    if (CSYS_FAILED(st = csys_attention_check())) return st;
    const int32_t y = params->scanLines[i];
    if (y < w.y0 || y >= w.y0 + w.height || w.width < 9) continue;
    if (CSYS_FAILED(st = scanRow(r, i, y, marking, result))) return st;
    if (result->found != 0) break;
  }
  result->line = i;
  return 0;
}

}  // namespace dmroad
