// PDF417 scan drivers: runs of bars and spaces with the PDF417 proportions among the caller's
// edges become seeds for the PDF417 search.
#include "ci_id/pdpdriver.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "ci_id/priv/ci_idut/seedsearch.hpp"
#include "ci_id/status.h"

namespace {

using cid2d_seed::Marking;

inline int32_t position(int16_t e) { return std::abs(static_cast<int32_t>(e)); }
inline bool rising(int16_t e) { return e >= 0; }

bool alternates(const int16_t* e, int32_t count) {
  for (int32_t i = 0; i + 1 < count; ++i)
    if (rising(e[i]) == rising(e[i + 1])) return false;
  return true;
}

inline int32_t tolerance(int32_t sum) {
  const int32_t tol = sum / 8;
  return tol < 3 ? 2 : tol;
}

// Five elements: four narrow ones about equally wide around one at most about three of them.
// With combinedBound the middle is compared with one combined bound instead of two.
bool sixEdgePattern(const int16_t* e, double maxSide, bool combinedBound, int32_t* tolOut) {
  int32_t w[6];
  for (int i = 1; i <= 5; ++i) w[i] = position(e[i]) - position(e[i - 1]);
  if (w[1] + w[2] + w[3] + w[4] + w[5] > maxSide) return false;
  const int32_t tol = tolerance(w[1] + w[2] + w[4] + w[5] + 4);
  *tolOut = tol;
  if (!alternates(e, 6)) return false;
  if (std::abs(w[1] - w[2]) > tol || std::abs(w[4] - w[5]) > tol || std::abs(w[1] + w[2] - w[4] - w[5]) > tol)
    return false;
  if (combinedBound) return w[1] + w[2] + (w[4] + w[5]) / 2 - w[3] >= -tol;
  return w[1] + w[2] + w[4] - w[3] >= -tol && w[2] + w[4] + w[5] - w[3] >= -tol;
}

// Three elements: narrow, about three narrow wide, narrow.
bool fourEdgePattern(const int16_t* e, double maxSide, int32_t* tolOut) {
  const int32_t w1 = position(e[1]) - position(e[0]), w2 = position(e[2]) - position(e[1]);
  const int32_t w3 = position(e[3]) - position(e[2]);
  if (w1 + w2 + w3 > maxSide) return false;
  const int32_t tol = tolerance(w1 + w2 + w3);
  *tolOut = tol;
  if (!alternates(e, 4)) return false;
  return std::abs(w1 - w3) <= tol && std::abs(w1 + w3 + std::max(w1, w3) - w2) <= tol;
}

// The grey threshold of a pattern of elements edges, sampled by at(i) for i in [lo, hi]: group
// A is the two margins and the even elements, group B the odd ones (edge samples excluded); the
// midpoint of their means moves towards the darker one. fallback is used for small groups.
template <class Sample>
int32_t patternThreshold(const int32_t* pos, int elements, int32_t tol, int32_t lo, int32_t hi, Sample at,
                         int32_t fallback) {
  int64_t sum[2] = {0, 0};
  int32_t num[2] = {0, 0};
  auto add = [&](int group, int32_t from, int32_t to) {
    for (int32_t i = std::max(from, lo); i <= std::min(to, hi); ++i) {
      sum[group] += at(i);
      ++num[group];
    }
  };
  add(0, pos[0] - tol - 2, pos[0] - 1);
  add(0, pos[elements] + 1, pos[elements] + 2 + tol);
  for (int k = 1; k <= elements; ++k) add(k % 2 == 0 ? 0 : 1, pos[k - 1] + 1, pos[k] - 1);
  if (num[0] < 3 || num[1] < 3) return fallback;
  const int32_t a = static_cast<int32_t>(sum[0] / num[0]), b = static_cast<int32_t>(sum[1] / num[1]);
  const int32_t contrast = std::abs(a - b);
  int32_t threshold = (a + b) / 2;
  if (num[0] + num[1] < 36) {
    if (contrast > 30) threshold -= 8;
  } else if (contrast < 130) {
    threshold -= contrast / 16;
  }
  return threshold;
}

// The first edge of list at or after from that matches target (same polarity, position within
// reach); -1 when there is none.
int32_t findMatch(const int16_t* list, int32_t count, int32_t from, int16_t target, int32_t reach) {
  for (int32_t m = std::max(from, 0); m < count; ++m)
    if (rising(list[m]) == rising(target) && std::abs(position(list[m]) - position(target)) <= reach) return m;
  return -1;
}

// The neighbouring row repeats the pattern: its first and last edges, and for wide patterns its
// second and fifth ones in between.
bool confirmedOn(const int16_t* list, int32_t count, const int16_t* e) {
  int32_t m = findMatch(list, count, 0, e[0], 8);
  if (m < 0) return false;
  const int32_t narrow = position(e[2]) - position(e[0]) + position(e[5]) - position(e[3]);
  if (narrow > 31) {
    m = findMatch(list, count, m + 1, e[1], 7);
    if (m < 0) return false;
    m = findMatch(list, count, m + 1, e[4], 7);
    if (m < 0) return false;
  }
  return findMatch(list, count, m + 1, e[5], 7) >= 0;
}

// Both a rising and a falling step (beyond 40) of the response F(y) = p[y-1] + p[y] + p[y+1] -
// p[y+2] - p[y+3] - p[y+4] along column c over rows from ... to.
bool crossesRows(const cimg_windowConst& w, int32_t c, int32_t from, int32_t to) {
  const uint8_t* col = w.pixels + (c - w.x0) - static_cast<ptrdiff_t>(w.y0) * w.stride;
  auto px = [&](int32_t y) -> int32_t { return col[static_cast<ptrdiff_t>(y) * w.stride]; };
  auto response = [&](int32_t y) { return px(y - 1) + px(y) + px(y + 1) - px(y + 2) - px(y + 3) - px(y + 4); };
  bool positive = false, negative = false;
  int32_t before = response(from), previous = before;
  for (int32_t y = from + 1; y <= to && !(positive && negative); ++y) {
    const int32_t current = response(y);
    if (previous > 40 && previous > current && previous >= before) positive = true;
    if (previous < -40 && previous < current && previous <= before) negative = true;
    before = previous;
    previous = current;
  }
  return positive && negative;
}

struct Driver {
  const cimg_imageConst* image;
  const cid2d_trackingParams* params;
  const cid_mask* mask;
  void* reserved;
  const cmath_xformLinear* maskXform;
  cimg_image* markingImage;
  int32_t singleTry;
  cid2d_trackingResult* result;
  cimg_windowConst window{};
  Marking marking;
  cbt_runParams run{};
};

// Checks the arguments shared by both drivers, sets up the windows and run parameters, and
// resets the result; nothing is written when it fails.
csys_status prepare(Driver& d) {
  CSYS_REQUIRE(cid2d_seed::scratchUsable(*d.params));
  csys_status st = cimg_windowConst_init(&d.window, d.image);
  if (CSYS_FAILED(st)) return st;
  st = cimg_window_init(&d.marking.w, d.markingImage);
  if (CSYS_FAILED(st)) return st;
  st = cbt_runParams_init(&d.run);
  if (CSYS_FAILED(st)) return st;
  d.run.closeAtBorder = 1;
  d.run.saddleByMean = 1;
  d.run.minPoints = 0;
  d.run.maxPoints = d.params->maxContourPoints;
  st = cid2d_trackingResult_reset(d.result);
  if (CSYS_FAILED(st)) return st;
  d.result->line = d.params->firstScanLine;
  return 0;
}

csys_status search(Driver& d, const cid2d_trackingSeed& seed) {
  csys_status st = csys_attention_check();
  if (CSYS_FAILED(st)) return st;
  return cf_BndFindPDPSymbolFromSeed(d.image, d.params, &seed, &d.run, d.markingImage, d.singleTry, d.mask,
                                     d.reserved, d.maskXform, d.result);
}

inline cid2d_trackingSeed seedAt(int32_t x, int32_t y, const cimg_windowConst& w) {
  cid2d_trackingSeed seed{};
  seed.x = x - w.x0;
  seed.y = y - w.y0;
  return seed;
}

csys_status scanRow(Driver& d, int32_t lineIndex, const int16_t* e, const int16_t* above, const int16_t* below,
                    int32_t count, int32_t aboveCount, int32_t belowCount) {
  const cimg_windowConst& w = d.window;
  const int32_t row = d.params->scanLines[lineIndex];
  const int32_t lastCol = w.x0 + w.width - 1, lastRow = w.y0 + w.height - 1;
  if (row < w.y0 + 3 || row > lastRow) return 0;
  const uint8_t* p = w.pixels + static_cast<ptrdiff_t>(row - w.y0) * w.stride - w.x0;
  for (int32_t j = 0; j + 5 < count; ++j) {
    const int32_t pj = position(e[j]);
    if (pj >= lastCol - 4) break;
    if (pj - 1 < w.x0 || d.marking.get(pj >> 2, row >> 2) != 0) continue;
    int32_t tol = 0;
    if (!sixEdgePattern(e + j, d.params->maxSide, false, &tol)) continue;
    if (!confirmedOn(above, aboveCount, e + j) || !confirmedOn(below, belowCount, e + j)) continue;

    int32_t pos[6];
    for (int i = 0; i < 6; ++i) pos[i] = position(e[j + i]);
    const int32_t c = (pos[2] + pos[3]) / 2, width = pos[5] - pos[0] + 1, reach = 2 * width / 3 + 5;
    if (row - w.y0 < 2 * width / 3 + 6 || row - w.y0 > w.height - reach - 5) continue;
    if (!crossesRows(w, c, row - reach, row - 1) || !crossesRows(w, c, row + 1, row + reach)) continue;

    cid2d_trackingSeed seed = seedAt(pj, row, w);
    seed.strength = p[pj + 1] - p[pj];
    seed.line = lineIndex;
    const int32_t fallback = (p[pj - 1] + p[pj] + p[pj + 1] + p[pj + 2]) / 4;
    seed.mean = patternThreshold(pos, 5, tol, w.x0, lastCol, [&](int32_t x) { return p[x]; }, fallback);
    seed.polarity = p[pj] < seed.mean ? 1 : 0;
    seed.startA[0] = (pj + 2) * 256;
    seed.startA[1] = row * 256;
    seed.startB[0] = (pj - 1) * 256;
    seed.startB[1] = row * 256;
    csys_status st = search(d, seed);
    if (CSYS_FAILED(st)) return st;
    if (d.result->found != 0) break;
  }
  return 0;
}

// A path coordinate's pixel: + 0.5, then truncated towards zero (so -0.7 gives 0). Values without
// a 32-bit pixel give one far off any window.
inline int32_t roundHalfUp(double v) {
  const double t = std::trunc(v + 0.5);
  return t > -2147483648.0 && t < 2147483647.0 ? static_cast<int32_t>(t) : INT32_MIN;
}

csys_status scanPath(Driver& d, const int16_t* e, int32_t count, int32_t length, bool threeElements,
                     const cmath_vect* path, const uint8_t* profile) {
  const cimg_windowConst& w = d.window;
  const int edgesNeeded = threeElements ? 4 : 6;
  auto pixelOf = [&](int32_t i) {
    const cmath_vect& q = path[std::clamp(i, 0, length - 1)];
    return std::pair<int32_t, int32_t>{roundHalfUp(q.x), roundHalfUp(q.y)};
  };
  for (int32_t j = 0; j + edgesNeeded - 1 < count; ++j) {
    int32_t pos[6];
    bool inRange = true;
    for (int i = 0; i < edgesNeeded; ++i) {
      pos[i] = position(e[j + i]);
      inRange = inRange && pos[i] < length;
    }
    if (!inRange) continue;
    // Every edge whose pixel lies in the window is a candidate, those on its outermost rows and
    // columns included; a pixel off the window has no grey value to compare.
    const auto [x, y] = pixelOf(pos[0]);
    if (x < w.x0 || y < w.y0 || x > w.x0 + w.width - 1 || y > w.y0 + w.height - 1) continue;
    if (d.marking.get(x >> 2, y >> 2) != 0) continue;
    int32_t tol = 0;
    const bool pattern = threeElements ? fourEdgePattern(e + j, d.params->maxSide, &tol)
                                       : sixEdgePattern(e + j, d.params->maxSide, true, &tol);
    if (!pattern) continue;

    auto sample = [&](int32_t i) -> int32_t { return profile[std::clamp(i, 0, length - 1)]; };
    const int32_t fallback = (sample(pos[0] - 1) + sample(pos[0]) + sample(pos[0] + 1) + sample(pos[0] + 2)) / 4;
    cid2d_trackingSeed seed = seedAt(x, y, w);
    seed.mean = patternThreshold(pos, edgesNeeded - 1, tol, 0, length - 1, sample, fallback);
    const uint8_t pixel = w.pixels[static_cast<ptrdiff_t>(y - w.y0) * w.stride + (x - w.x0)];
    seed.polarity = pixel < seed.mean ? 1 : 0;
    const auto [ax, ay] = pixelOf(pos[0] + 2);
    const auto [bx, by] = pixelOf(pos[0] - 1);
    seed.startA[0] = ax * 256;
    seed.startA[1] = ay * 256;
    seed.startB[0] = bx * 256;
    seed.startB[1] = by * 256;
    csys_status st = search(d, seed);
    if (CSYS_FAILED(st)) return st;
    if (d.result->found != 0) break;
  }
  return 0;
}

}  // namespace

extern "C" {

csys_status cf_BndFindNextPDP(const cimg_imageConst* image, const cid2d_trackingParams* params, const cid_mask* mask,
                              void* reserved, const cmath_xformLinear* maskXform, cimg_image* markingImage,
                              int32_t singleTry, const int16_t* edges, const int16_t* edgesAbove,
                              const int16_t* edgesBelow, int32_t edgeCount, int32_t aboveCount, int32_t belowCount,
                              cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && markingImage != nullptr && result != nullptr);
  CSYS_REQUIRE(edgeCount >= 0 && aboveCount >= 0 && belowCount >= 0 && (edges != nullptr || edgeCount == 0) &&
               (edgesAbove != nullptr || aboveCount == 0) && (edgesBelow != nullptr || belowCount == 0));
  CSYS_REQUIRE(params->firstScanLine >= 0 && (params->scanLineCount <= 0 || params->scanLines != nullptr));
  Driver d{image, params, mask, reserved, maskXform, markingImage, singleTry, result, {}, {}, {}};
  csys_status st = prepare(d);
  if (CSYS_FAILED(st)) return st;
  if (params->firstScanLine >= params->scanLineCount) return 0;
  st = scanRow(d, params->firstScanLine, edges, edgesAbove, edgesBelow, edgeCount, aboveCount, belowCount);
  if (CSYS_FAILED(st)) return st;
  result->line = params->firstScanLine;
  return 0;
}

csys_status cf_BndFindMatchingPDP(const cimg_imageConst* image, const cid2d_trackingParams* params,
                                  const cid_mask* mask, void* reserved, const cmath_xformLinear* maskXform,
                                  cimg_image* markingImage, int32_t singleTry, const int16_t* edges,
                                  int32_t edgeCount, int32_t profileLength, int32_t patternFlag,
                                  const cmath_vect* path, const uint8_t* profile, cid2d_trackingResult* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && markingImage != nullptr && result != nullptr);
  CSYS_REQUIRE(edgeCount >= 0 && profileLength >= 0 && (edges != nullptr || edgeCount == 0));
  CSYS_REQUIRE(profileLength == 0 || (path != nullptr && profile != nullptr));
  Driver d{image, params, mask, reserved, maskXform, markingImage, singleTry, result, {}, {}, {}};
  csys_status st = prepare(d);
  if (CSYS_FAILED(st) || profileLength == 0) return st;
  st = scanPath(d, edges, edgeCount, profileLength, patternFlag != 0, path, profile);
  if (CSYS_FAILED(st)) return st;
  result->line = params->firstScanLine;
  return 0;
}

}  // extern "C"
