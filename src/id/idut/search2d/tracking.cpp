// Tracking records and the row seed finders.
#include "ci_id/tracking.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ci_id/typecheck.h"

namespace {

using Seed = cid2d_trackingSeed;

// Strict order used for sorting: the seed order, then the column (seeds of one line were
// stored left to right), so equal seeds keep their scan order.
bool seedBefore(const Seed& a, const Seed& b) {
  if (a.strength != b.strength) return a.strength > b.strength;
  if (a.line != b.line) return a.line < b.line;
  if (a.y != b.y) return a.y < b.y;
  return a.x < b.x;
}

void sortSeeds(Seed* begin, Seed* end) {
  if (end - begin > 1) std::sort(begin, end, seedBefore);
}

// Six-tap step response at window column x of a row of pixels p.
inline int32_t response(const uint8_t* p, int32_t x) {
  const int32_t s = p[x + 2] + p[x + 3] + p[x + 4] - p[x - 1] - p[x] - p[x + 1];
  return s < 0 ? -s : s;
}

// The seed at window column x of window row y.
Seed makeSeed(const uint8_t* p, int32_t x, int32_t y, int32_t strength, int32_t line) {
  Seed s;
  s.x = x;
  s.y = y;
  s.strength = strength;
  s.mean = (p[x - 1] + p[x] + p[x + 1] + p[x + 2]) / 4;
  s.line = line;
  s.polarity = p[x] < s.mean ? 1 : 0;
  s.startA[0] = (s.x + 2) * 256;
  s.startA[1] = s.y * 256;
  s.startB[0] = (s.x - 1) * 256;
  s.startB[1] = s.y * 256;
  return s;
}

// Walks image row `row` from image column `from` while x < `limit`, starting with
// R(x-2) = `initial` and R(x-1) = 0, and hands each peak's seed to `onSeed`, which returns
// false to stop the walk. The caller keeps columns from - 1 ... limit + 3 inside the window.
template <class OnSeed>
void walkRow(const cimg_windowConst& w, int32_t row, int32_t from, int32_t limit, int32_t initial,
             int32_t threshold, int32_t line, OnSeed&& onSeed) {
  const int32_t y = row - w.y0;
  const uint8_t* p = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
  int32_t before = initial, previous = 0;
  for (int32_t x = from - w.x0; x < limit - w.x0; ++x) {
    const int32_t current = response(p, x);
    if (before < previous && current <= previous && previous >= threshold) {
      if (!onSeed(makeSeed(p, x, y, previous, line))) return;
    }
    before = previous;
    previous = current;
  }
}

}  // namespace

extern "C" {

csys_status cid2d_trackingParams_init(cid2d_trackingParams* params) {
  CSYS_REQUIRE(params != nullptr);
  params->scratch = nullptr;
  params->scratchSize = 0;
  params->scanLines = nullptr;
  params->scanLineCount = 0;
  params->minSide = 15.0;
  params->maxSide = 2000.0;
  params->expectedSizeA = 0;
  params->expectedSizeB = 0;
  params->scanDirection = 1;
  params->firstScanLine = 0;
  params->minSmoothing = 3.0;
  params->maxContourPoints = 2147483647;
  params->allowBorder = 0;
  params->relaxedCorners = 0;
  params->wideCorners = 0;
  params->attempts = 2;
  return 0;
}

csys_status cid2d_trackingResult_construct(cid2d_trackingResult* result) {
  CSYS_REQUIRE(result != nullptr);
  csys_typeCheck_cid2d_trackingResult(result);
  csys_status st = cmath_shapeAffineRect_init(&result->rectangle);
  if (CSYS_FAILED(st)) return st;
  result->fourthCorner = cmath_vect{0.0, 0.0};
  result->parallelogram = 1;
  result->found = 0;
  // The boundary is the only member holding memory; nothing is left to undo if it fails.
  st = cbt_result_construct(&result->boundary, 0);
  if (CSYS_FAILED(st)) return st;
  result->line = 0;
  result->score = 0;
  result->quality = 0;
  result->threshold = 0;
  std::memset(&result->seed, 0, sizeof(result->seed));
  return 0;
}

csys_status cid2d_trackingResult_reset(cid2d_trackingResult* result) {
  CSYS_REQUIRE(result != nullptr);
  result->found = 0;
  result->score = 0;
  return 0;
}

csys_status cid2d_trackingResult_destruct(cid2d_trackingResult* result) {
  CSYS_REQUIRE(result != nullptr);
  result->found = 0;
  return cbt_result_destruct(&result->boundary);
}

int cid2d_trackingSeed_compare(const void* a, const void* b) {
  const Seed& s = *static_cast<const Seed*>(a);
  const Seed& t = *static_cast<const Seed*>(b);
  if (s.strength != t.strength) return s.strength > t.strength ? -1 : 1;
  if (s.line != t.line) return s.line < t.line ? -1 : 1;
  return 0;
}

csys_status cid2d_trackingSeed_sort(cid2d_trackingSeed* seeds, int32_t count) {
  CSYS_REQUIRE(count >= 0 && (seeds != nullptr || count == 0));
  sortSeeds(seeds, seeds + count);
  return 0;
}

csys_status cid2d_getHorizontalTrackingSeeds(const cimg_imageConst* image, const int32_t* rows, int32_t rowCount,
                                             int32_t maxSeeds, int32_t minContrast, int32_t sortBySeedStrength,
                                             cid2d_trackingSeed* seeds, int32_t* seedCount, int32_t pairFilter,
                                             double pairSpacing) {
  CSYS_REQUIRE(image != nullptr && seedCount != nullptr && rowCount >= 0 && maxSeeds >= 0);
  CSYS_REQUIRE((rows != nullptr || rowCount == 0) && (seeds != nullptr || maxSeeds == 0));
  cimg_windowConst w;
  const csys_status st = cimg_windowConst_init(&w, image);
  if (CSYS_FAILED(st)) return st;
  const int32_t lastCol = w.x0 + w.width - 1, lastRow = w.y0 + w.height - 1;
  const double spacingFloor = std::floor(pairSpacing);
  const int32_t spacing = spacingFloor > 2147483647.0 ? 2147483647
                          : spacingFloor < -2147483647.0 ? -2147483647
                                                         : static_cast<int32_t>(spacingFloor);

  int32_t n = 0;
  for (int32_t i = 0; i < rowCount && n < maxSeeds; ++i) {
    const int32_t r = rows[i];
    if (!(w.y0 < r && r < lastRow - 2 && w.x0 + 2 < lastCol - 2)) continue;
    const int32_t rowStart = n;
    walkRow(w, r, w.x0 + 2, lastCol - 4, 256, minContrast, i, [&](const Seed& s) {
      if (pairFilter && n - rowStart >= 2) {
        const Seed& l2 = seeds[n - 2];
        const Seed& l1 = seeds[n - 1];
        const bool closePair = l1.x - l2.x < spacing && l1.polarity != l2.polarity;
        const bool closesPair = s.x - l1.x < spacing && s.polarity != l1.polarity;
        if (!closePair && !closesPair) {
          seeds[n - 1] = s;  // a lone edge: only the latest one is kept
          return true;
        }
      }
      seeds[n++] = s;
      return n < maxSeeds;
    });
  }
  if (sortBySeedStrength) sortSeeds(seeds, seeds + n);
  *seedCount = n;
  return 0;
}

csys_status cid2d_getHorizontalTrackingSeeds_ThreeScanlines(const cimg_imageConst* image, const int32_t* rows,
                                                            int32_t /*count*/, int32_t maxSeeds,
                                                            int32_t minContrast, cid2d_trackingSeed* seeds,
                                                            int32_t* seedCount) {
  CSYS_REQUIRE(image != nullptr && rows != nullptr && seedCount != nullptr && maxSeeds >= 0);
  CSYS_REQUIRE(seeds != nullptr || maxSeeds == 0);
  cimg_windowConst w;
  const csys_status st = cimg_windowConst_init(&w, image);
  if (CSYS_FAILED(st)) return st;
  const int32_t lastCol = w.x0 + w.width - 1, lastRow = w.y0 + w.height - 1;

  int32_t n = 0;
  for (int32_t k = 0; k < 3 && n < maxSeeds; ++k) {
    const int32_t r = rows[k];
    if (r < w.y0 || r > lastRow) continue;  // no pixels to read
    const int32_t rowStart = n;
    walkRow(w, r, w.x0 + 2, lastCol - 4, 256, minContrast, k, [&](const Seed& s) {
      seeds[n++] = s;
      return n < maxSeeds;
    });
    const int32_t found = n - rowStart;
    if (found == 0) continue;
    if (k == 0) {
      // The leftmost edge keeps its place in front; the others go by strength.
      sortSeeds(seeds + rowStart + 1, seeds + n);
      n = rowStart + std::min(found, 30);
    } else {
      sortSeeds(seeds + rowStart, seeds + n);
      n = rowStart + std::min(found, 3);
    }
  }
  if (n > 10) sortSeeds(seeds + 3, seeds + n);
  *seedCount = n;
  return 0;
}

csys_status cid2d_getTrackingSeedsOnRow(const cimg_windowConst* window, int32_t row, int32_t maxSeeds,
                                        int32_t sortBySeedStrength, cid2d_trackingSeed* seeds,
                                        int32_t* seedCount) {
  CSYS_REQUIRE(window != nullptr && seedCount != nullptr && maxSeeds >= 0);
  CSYS_REQUIRE((seeds != nullptr || maxSeeds == 0) && (window->pixels != nullptr));
  const cimg_windowConst& w = *window;
  const int32_t lastCol = w.x0 + w.width - 1, lastRow = w.y0 + w.height - 1;
  int32_t n = 0;
  if (maxSeeds > 0 && w.y0 < row && row < lastRow - 2 && w.x0 + 3 < lastCol - 2) {
    walkRow(w, row, w.x0 + 3, lastCol - 5, 1000, 45, row, [&](const Seed& s) {
      seeds[n++] = s;
      return n < maxSeeds;
    });
  }
  if (sortBySeedStrength) sortSeeds(seeds, seeds + n);
  *seedCount = n;
  return 0;
}

}  // extern "C"
