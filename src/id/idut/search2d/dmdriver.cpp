// Data Matrix scan drivers: edge peaks along the scan lines become seeds for the searches.
#include "ci_id/dmdriver.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "base/priv/csys_attention.h"

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

// A seed at walk position t of a line (pixel base[t * step]) with the peak response.
cid2d_trackingSeed makeSeed(const uint8_t* base, ptrdiff_t step, int32_t t, int32_t x, int32_t y, bool alongRow,
                            const cimg_windowConst& w, int32_t lineIndex, int32_t strength) {
  auto px = [&](int32_t i) -> int32_t { return base[i * step]; };
  cid2d_trackingSeed seed{};
  seed.x = x - w.x0;
  seed.y = y - w.y0;
  seed.strength = strength;
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
  return seed;
}

constexpr int32_t kBlock = 64;

// Poll positions (t & 5 == 5: 5 and 7 modulo 8) below t, counted from a multiple of 8 at or
// below the first position asked about: differences count the polls of a range.
inline int32_t pollsBefore(int32_t t) { return 2 * (t >> 3) + ((t & 7) >= 6 ? 1 : 0); }

// Responses fit 16 bits (at most 3 x 255), so a vector register holds twice as many.
using Response = int16_t;

// Pixels a row block reads: one before its first position to four after its last.
constexpr int32_t kRowBlockPixels = kBlock + 5;

// The six-tap responses of a row block, p[0] the pixel before its first position.
inline void rowResponses(const uint8_t* p, Response* out) {
  for (int32_t i = 0; i < kBlock; ++i)
    out[i] = static_cast<Response>(std::abs(p[i + 3] + p[i + 4] + p[i + 5] - p[i] - p[i + 1] - p[i + 2]));
}

// Whether a whole row block is too flat to hold a peak: a six-tap response is at most three
// times the spread of the pixels it reads, so when three times the spread of the block's pixels
// (p[0], the pixel before its first position, on) stays below the threshold, no response of the
// block reaches it. Background blocks pass this test for the price of a min and max over their
// bytes (a loop of fixed length, vector code), a fraction of what their responses cost.
inline bool flatRowBlock(const uint8_t* p, int32_t threshold) {
  uint8_t lo = 255;
  uint8_t hi = 0;
  for (int32_t i = 0; i < kBlock; ++i) {
    lo = p[i] < lo ? p[i] : lo;
    hi = p[i] > hi ? p[i] : hi;
  }
  // The five pixels past the block apart: a loop of kBlock alone becomes vector code, one of
  // kRowBlockPixels does not.
  for (int32_t i = kBlock; i < kRowBlockPixels; ++i) {
    lo = p[i] < lo ? p[i] : lo;
    hi = p[i] > hi ? p[i] : hi;
  }
  return 3 * (hi - lo) < threshold;
}

// Whether any of the eight bytes is zero.
inline bool hasZeroByte(uint64_t eight) {
  return ((eight - 0x0101010101010101ull) & ~eight & 0x8080808080808080ull) != 0;
}

// Whether the cells of positions x0 ... x1 of row y, eight cells or more, are all marked. The
// plain search passes over a peak in a marked cell without searching from it, and its marks are
// only ever set during a scan, so such a block needs no responses at all: in a noisy image,
// whose cells the caller has marked where only noise would seed, that is most blocks. Cells off
// the marking image count as unmarked, as they do for a peak. Eight cells a load, the last load
// overlapping the one before.
inline bool cellsMarked(const cimg_window& m, int32_t x0, int32_t x1, int32_t y) {
  const int32_t cy = (y >> 2) - m.y0, c0 = (x0 >> 2) - m.x0, c1 = (x1 >> 2) - m.x0;
  if (cy < 0 || cy >= m.height || c0 < 0 || c1 >= m.width || c1 - c0 < 7) return false;
  const uint8_t* row = m.pixels + static_cast<ptrdiff_t>(cy) * m.stride;
  auto eightFrom = [row](int32_t c) {
    uint64_t eight;
    std::memcpy(&eight, row + c, sizeof eight);
    return eight;
  };
  bool zero = hasZeroByte(eightFrom(c1 - 7));
  for (int32_t c = c0; c + 7 < c1 && !zero; c += 8) zero = hasZeroByte(eightFrom(c));
  return !zero;
}

// Polls for the positions t0 + from ... t0 + to - 1 of a poll line, in walk order.
inline csys_status pollRange(int32_t t0, int32_t from, int32_t to) {
  for (int32_t k = pollsBefore(t0 + to) - pollsBefore(t0 + from); k > 0; --k) {
    csys_status st = csys_attention_check();
    if (CSYS_FAILED(st)) return st;
  }
  return 0;
}

// Bit i set when byte i of the eight is nonzero (each byte 0 or 1).
inline uint64_t byteBits(uint64_t eight) { return (eight * 0x0102040810204080ull) >> 56; }

// The peaks of one block for the plain search, in walk order, with the line's polls between
// them. r[0] and r[1] are the last two responses before the block, r[2 + i] the response at
// t0 + i (what lies beyond n is masked off), so a peak at t0 + i reports r[i + 1]. Which
// positions are peaks is decided for the whole block at once (a loop the compiler vectorises)
// and gathered into one bit mask; only the peaks are then visited, the polls between them made
// by count. A line's polls are skipped altogether when no attention callback is installed, as
// each would return 0.
template <bool AlongRow>
csys_status plainPeaks(Scan& s, const uint8_t* base, ptrdiff_t step, int32_t t0, int32_t n, const Response* r,
                       Response threshold, int32_t lineIndex, int32_t fixed, bool pollLine, bool* found) {
  uint8_t peak[kBlock];
  for (int32_t i = 0; i < kBlock; ++i)
    peak[i] = static_cast<uint8_t>((r[i + 1] >= threshold) & (r[i + 1] > r[i]) & (r[i + 1] >= r[i + 2]));
  // Most blocks hold no peak at all: one pass of ORs tells, and spares them the gathering below
  // (whose multiplies would otherwise run for every block of every line).
  uint64_t any = 0;
  for (int32_t k = 0; k < kBlock / 8; ++k) {
    uint64_t eight;
    std::memcpy(&eight, peak + 8 * k, sizeof eight);
    any |= eight;
  }
  const bool polls = pollLine && csys_attention_watched() != 0;
  if (any == 0) return polls ? pollRange(t0, 0, n) : 0;
  uint64_t bits = 0;
  for (int32_t k = 0; k < kBlock / 8; ++k) {
    // Position 8k + j in byte j: one load, turned round on a big-endian machine.
    uint64_t eight;
    std::memcpy(&eight, peak + 8 * k, sizeof eight);
    if constexpr (std::endian::native == std::endian::big) eight = __builtin_bswap64(eight);
    bits |= byteBits(eight) << (8 * k);
  }
  if (n < kBlock) bits &= (uint64_t{1} << n) - 1;
  int32_t pending = 0;  // the first position whose poll is still to be made
  while (bits != 0) {
    const int32_t i = std::countr_zero(bits);
    bits &= bits - 1;
    if (polls) {
      csys_status st = pollRange(t0, pending, i);
      if (CSYS_FAILED(st)) return st;
    }
    pending = i;  // the peak's own poll comes after its search
    const int32_t t = t0 + i;
    const int32_t x = AlongRow ? t : fixed, y = AlongRow ? fixed : t;
    if (markingCell(s.marking, x >> 2, y >> 2) != 0) continue;
    csys_status st = runSearch(s, makeSeed(base, step, t, x, y, AlongRow, s.window, lineIndex, r[i + 1]));
    if (CSYS_FAILED(st)) return st;
    if (s.result->found != 0) {
      *found = true;
      return 0;
    }
  }
  return polls ? pollRange(t0, pending, n) : 0;
}

// Walks one scan line; *found is set when a seed search located a symbol. The walk runs once
// per pixel of every scan line, so it is specialised by direction and search.
template <bool AlongRow, bool Adaptive>
csys_status walkLine(Scan& s, int32_t lineIndex, int32_t line, int32_t threshold, bool* found) {
  const cimg_windowConst& w = s.window;
  const int32_t fixed = line;
  const int32_t begin = AlongRow ? w.x0 + 3 : w.y0 + 3;
  const int32_t end = AlongRow ? w.x0 + w.width - 1 - 4 : w.y0 + w.height - 1 - 4;
  if (AlongRow ? (fixed < w.y0 || fixed - w.y0 >= w.height || begin - w.x0 >= w.width)
               : (fixed < w.x0 || fixed - w.x0 >= w.width || begin - w.y0 >= w.height))
    return 0;
  const ptrdiff_t step = AlongRow ? 1 : w.stride;
  // Pixel at walk position t: base[t * step].
  const uint8_t* base = AlongRow ? w.pixels + static_cast<ptrdiff_t>(fixed - w.y0) * w.stride - w.x0
                                 : w.pixels + (fixed - w.x0) - static_cast<ptrdiff_t>(w.y0) * w.stride;
  auto px = [&](int32_t t) -> int32_t { return base[t * step]; };
  auto responseAt = [&](int32_t t) {
    return static_cast<Response>(AlongRow ? std::abs(px(t + 2) + px(t + 3) + px(t + 4) - px(t - 1) - px(t) - px(t + 1))
                                          : std::abs(px(t + 3) - px(t)));
  };
  // The poll falls on positions whose row and column both have bits 0 and 2 set; the fixed
  // coordinate decides whether this line has any.
  const bool pollLine = (fixed & 5) == 5;

  // Responses a block at a time, behind the last two of the block before (see plainPeaks).
  Response r[kBlock + 2] = {};
  r[0] = 256;
  int32_t sinceAttention = 0;
  for (int32_t t0 = begin; t0 < end; t0 += kBlock) {
    const int32_t n = end - t0 < kBlock ? end - t0 : kBlock;
    if (!Adaptive && AlongRow && n == kBlock &&
        ((r[1] < threshold && flatRowBlock(base + (t0 - 1), threshold)) ||
         cellsMarked(s.marking, t0, t0 + kBlock - 1, fixed))) {
      // No peak of the block would be searched from: every one lies in a marked cell, or no
      // response of the block reaches the threshold, and neither did the last one before it.
      // Only its polls and the two responses the next block looks back at remain.
      if (pollLine && csys_attention_watched() != 0) {
        csys_status st = pollRange(t0, 0, n);
        if (CSYS_FAILED(st)) return st;
      }
      r[0] = responseAt(t0 + kBlock - 2);
      r[1] = responseAt(t0 + kBlock - 1);
      continue;
    }
    if constexpr (AlongRow) {
      // The row's last, short block from a zero-padded copy, so that it too runs the vector loop;
      // the responses past its end are never looked at.
      const uint8_t* pixels = base + (t0 - 1);
      uint8_t tail[kRowBlockPixels];
      if (n < kBlock) {
        const size_t have = static_cast<size_t>(n) + 5;
        std::memcpy(tail, pixels, have);
        std::memset(tail + have, 0, sizeof tail - have);
        pixels = tail;
      }
      rowResponses(pixels, r + 2);
    } else if (n == kBlock) {
      // A whole block in a loop of fixed length, which the compiler turns into vector code.
      for (int32_t i = 0; i < kBlock; ++i) r[i + 2] = responseAt(t0 + i);
    } else {
      for (int32_t i = 0; i < n; ++i) r[i + 2] = responseAt(t0 + i);
      for (int32_t i = n; i < kBlock; ++i) r[i + 2] = 0;
    }
    if (!Adaptive) {
      csys_status st = plainPeaks<AlongRow>(s, base, step, t0, n, r, static_cast<Response>(threshold), lineIndex,
                                            fixed, pollLine, found);
      if (CSYS_FAILED(st) || *found) return st;
    } else {
      for (int32_t i = 0; i < n; ++i) {
        const int32_t t = t0 + i;
        const int32_t before = r[i], previous = r[i + 1], response = r[i + 2];
        if (previous >= threshold && previous > before && previous >= response) {
          const int32_t x = AlongRow ? t : fixed, y = AlongRow ? fixed : t;
          const bool clear = markingCell(s.marking, x >> 2, y >> 2) == 0 &&
                             !(AlongRow && nextToAdaptiveMark(s, x, y));
          if (clear) {
            csys_status st = runSearch(s, makeSeed(base, step, t, x, y, AlongRow, w, lineIndex, previous));
            if (CSYS_FAILED(st)) return st;
            if (s.result->found != 0) {
              *found = true;
              return 0;
            }
          }
        }
        bool poll = pollLine && (t & 5) == 5;
        // The count of 300 runs along rows only; a column walk polls on the bit rule alone.
        if (AlongRow && ++sinceAttention >= 300) {
          sinceAttention = 0;
          poll = true;
        }
        if (poll) {
          csys_status st = csys_attention_check();
          if (CSYS_FAILED(st)) return st;
        }
      }
    }
    r[0] = r[n];
    r[1] = r[n + 1];
  }
  return 0;
}

csys_status scanLine(Scan& s, int32_t lineIndex, int32_t line, int32_t rowThreshold, bool* found) {
  *found = false;
  const bool adaptive = s.search == Search::adaptive;
  if (s.params->scanDirection != 0)
    return adaptive ? walkLine<true, true>(s, lineIndex, line, rowThreshold, found)
                    : walkLine<true, false>(s, lineIndex, line, rowThreshold, found);
  return adaptive ? walkLine<false, true>(s, lineIndex, line, 15, found)
                  : walkLine<false, false>(s, lineIndex, line, 15, found);
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
