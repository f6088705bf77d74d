// Data Matrix scan drivers: edge peaks along the scan lines become seeds for the searches.
#include "ci_id/dmdriver.h"

#include <cstdlib>

namespace {

enum class Search { plain, adaptive };

struct Scan {
  const cimg_imageConst* image;
  const cid2d_trackingParams* params;
  const cid_mask* mask;
  void* reserved;
  const cmath_xformLinear* maskXform;
  cimg_image* markingImage;
  cid2d_trackingResult* result;
  cimg_windowConst window;
  cimg_window marking;
  cbt_runParams run;
  Search search;
};

inline uint8_t markingCell(const cimg_window& m, int32_t cx, int32_t cy) {
  if (cx < m.x0 || cy < m.y0 || cx - m.x0 >= m.width || cy - m.y0 >= m.height) return 0;
  return m.pixels[static_cast<ptrdiff_t>(cy - m.y0) * m.stride + (cx - m.x0)];
}

// The adaptive marks record the column (mod 4) of the outline that crossed a cell: an outline in
// the last two columns of the cell on the left, or in the first two of the cell on the right,
// passes within two pixels of the peak.
bool nextToAdaptiveMark(const Scan& s, int32_t x, int32_t y) {
  const int32_t lastCol = s.window.x0 + s.window.width - 1;
  if ((x & 3) == 0 && x > 0 && markingCell(s.marking, (x >> 2) - 1, y >> 2) > 2) return true;
  if ((x & 3) == 3 && x < lastCol - 5) {
    const uint8_t right = markingCell(s.marking, (x >> 2) + 1, y >> 2);
    if (right == 1 || right == 2) return true;
  }
  return false;
}

csys_status runSearch(Scan& s, const cid2d_trackingSeed& seed) {
  if (s.search == Search::plain)
    return cf_BndFindDMSymbolFromSeed(s.image, s.params, &seed, &s.run, s.markingImage, s.mask, s.reserved,
                                      s.maskXform, s.result);
  return cf_BndFindDMSymbolFromSeed_Adaptive(s.image, s.params, &seed, &s.run, s.markingImage, s.mask, s.maskXform,
                                             0, s.result);
}

// Walks one scan line; *found is set when a seed search located a symbol.
csys_status scanLine(Scan& s, int32_t lineIndex, int32_t line, int32_t rowThreshold, bool* found) {
  *found = false;
  const cimg_windowConst& w = s.window;
  const bool alongRow = s.params->scanDirection != 0;
  const int32_t threshold = alongRow ? rowThreshold : 15;
  // Fixed coordinate, walk range and pixel step along the line.
  const int32_t fixed = line;
  const int32_t begin = alongRow ? w.x0 + 3 : w.y0 + 3;
  const int32_t end = alongRow ? w.x0 + w.width - 1 - 4 : w.y0 + w.height - 1 - 4;
  if (alongRow ? (fixed < w.y0 || fixed - w.y0 >= w.height || begin - w.x0 >= w.width)
               : (fixed < w.x0 || fixed - w.x0 >= w.width || begin - w.y0 >= w.height))
    return 0;
  const ptrdiff_t step = alongRow ? 1 : w.stride;
  // Pixel at walk position t: base[t * step].
  const uint8_t* base = alongRow ? w.pixels + static_cast<ptrdiff_t>(fixed - w.y0) * w.stride - w.x0
                                 : w.pixels + (fixed - w.x0) - static_cast<ptrdiff_t>(w.y0) * w.stride;
  auto px = [&](int32_t t) -> int32_t { return base[t * step]; };

  int32_t before = 256, previous = 0;
  int32_t sinceAttention = 0;
  for (int32_t t = begin; t < end; ++t) {
    const int32_t x = alongRow ? t : fixed, y = alongRow ? fixed : t;
    const int32_t response = alongRow ? std::abs(px(t + 2) + px(t + 3) + px(t + 4) - px(t - 1) - px(t) - px(t + 1))
                                      : std::abs(px(t + 3) - px(t));
    bool peak = previous > before && previous >= response && previous >= threshold &&
                markingCell(s.marking, x >> 2, y >> 2) == 0;
    if (peak && alongRow && s.search == Search::adaptive && nextToAdaptiveMark(s, x, y)) peak = false;
    if (peak) {
      cid2d_trackingSeed seed{};
      seed.x = x - w.x0;
      seed.y = y - w.y0;
      seed.strength = previous;
      seed.line = lineIndex;
      seed.mean = (px(t - 1) + px(t) + px(t + 1) + px(t + 2)) / 4;
      seed.polarity = px(t) < seed.mean ? 1 : 0;
      if (alongRow) {
        seed.startA[0] = (x + 2) * 256;
        seed.startA[1] = y * 256;
        seed.startB[0] = (x - 1) * 256;
        seed.startB[1] = y * 256;
      } else {
        seed.startA[0] = x * 256;
        seed.startA[1] = (y + 2) * 256;
        seed.startB[0] = x * 256;
        seed.startB[1] = (y - 1) * 256;
      }
      csys_status st = runSearch(s, seed);
      if (CSYS_FAILED(st)) return st;
      if (s.result->found != 0) {
        *found = true;
        return 0;
      }
    }
    before = previous;
    previous = response;
    bool poll = (x & 5) == 5 && (y & 5) == 5;
    if (s.search == Search::adaptive && ++sinceAttention >= 300) {
      sinceAttention = 0;
      poll = true;
    }
    if (poll) {
      csys_status st = csys_attention_check();
      if (CSYS_FAILED(st)) return st;
    }
  }
  return 0;
}

csys_status drive(Scan& s, int32_t lowContrast) {
  const cid2d_trackingParams& params = *s.params;
  CSYS_REQUIRE(params.firstScanLine >= 0 && (params.scanLineCount <= 0 || params.scanLines != nullptr));
  csys_status st = cimg_windowConst_init(&s.window, s.image);
  if (CSYS_FAILED(st)) return st;
  st = cimg_window_init(&s.marking, s.markingImage);
  if (CSYS_FAILED(st)) return st;
  const int32_t rowThreshold = lowContrast == 0 ? 45 : 33;

  st = cbt_runParams_init(&s.run);
  if (CSYS_FAILED(st)) return st;
  s.run.closeAtBorder = 1;
  s.run.saddleByMean = 1;
  s.run.minPoints = 0;
  s.run.maxPoints = params.maxContourPoints;
  if (s.search == Search::adaptive) s.run.localThreshold = 1;
  st = cid2d_trackingResult_reset(s.result);
  if (CSYS_FAILED(st)) return st;

  int32_t i = params.firstScanLine;
  for (; i < params.scanLineCount; ++i) {
    st = csys_attention_check();
    if (CSYS_FAILED(st)) return st;
    bool found = false;
    st = scanLine(s, i, params.scanLines[i], rowThreshold, &found);
    if (CSYS_FAILED(st)) return st;
    if (found) break;
  }
  s.result->line = i;
  return 0;
}

}  // namespace

extern "C" {

csys_status cf_BndFindNextDMSymbol(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                   const cid_mask* mask, void* reserved, const cmath_xformLinear* maskXform,
                                   int32_t lowContrast, cimg_image* markingImage, cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && markingImage != nullptr && result != nullptr);
  Scan s{image, params, mask, reserved, maskXform, markingImage, result, {}, {}, {}, Search::plain};
  return drive(s, lowContrast);
}

csys_status cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(const cimg_imageConst* image,
                                                                 const cid2d_trackingParams* params,
                                                                 const cid_mask* mask,
                                                                 const cmath_xformLinear* maskXform,
                                                                 int32_t lowContrast, cimg_image* markingImage,
                                                                 cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && markingImage != nullptr && result != nullptr);
  Scan s{image, params, mask, nullptr, maskXform, markingImage, result, {}, {}, {}, Search::adaptive};
  return drive(s, lowContrast);
}

}  // extern "C"
