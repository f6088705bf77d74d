// Loops of the Data Matrix seed search over a traced outline's points: its extent, the cells it
// marks and its copy into the search's scratch, two points a vector where SSE2 is there (the
// scalar loops finish the rest and run alone elsewhere, with the same results).
#ifndef IDUT_PRIV_OUTLINECELLS_HPP
#define IDUT_PRIV_OUTLINECELLS_HPP

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/cbt.h"
#include "base/cimg.h"
#include "ci_id/priv/ci_idut/seedsearch.hpp"

namespace cid2d_seed {

// The extent of the outline's points, folded into *minX..*maxY. SSE2 has no 32-bit min or max,
// so each lane picks through a compare mask; lanes alternate x and y.
inline void outlineExtent(const cbt_point* points, int32_t n, int32_t* minX, int32_t* maxX, int32_t* minY,
                          int32_t* maxY) {
  int32_t i = 0;
#if defined(__SSE2__)
  if (n >= 2) {
    __m128i lo = _mm_set_epi32(*minY, *minX, *minY, *minX);
    __m128i hi = _mm_set_epi32(*maxY, *maxX, *maxY, *maxX);
    auto fold = [&lo, &hi](__m128i v) {
      const __m128i below = _mm_cmplt_epi32(v, lo), above = _mm_cmpgt_epi32(v, hi);
      lo = _mm_or_si128(_mm_and_si128(below, v), _mm_andnot_si128(below, lo));
      hi = _mm_or_si128(_mm_and_si128(above, v), _mm_andnot_si128(above, hi));
    };
    for (; i + 2 <= n; i += 2) fold(_mm_loadu_si128(reinterpret_cast<const __m128i*>(points + i)));
    // Fold the upper point's lanes onto the lower's.
    const __m128i lo2 = _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2));
    const __m128i hi2 = _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2));
    const __m128i below = _mm_cmplt_epi32(lo2, lo), above = _mm_cmpgt_epi32(hi2, hi);
    lo = _mm_or_si128(_mm_and_si128(below, lo2), _mm_andnot_si128(below, lo));
    hi = _mm_or_si128(_mm_and_si128(above, hi2), _mm_andnot_si128(above, hi));
    *minX = _mm_cvtsi128_si32(lo);
    *minY = _mm_cvtsi128_si32(_mm_srli_si128(lo, 4));
    *maxX = _mm_cvtsi128_si32(hi);
    *maxY = _mm_cvtsi128_si32(_mm_srli_si128(hi, 4));
  }
#endif
  for (; i < n; ++i) {
    *minX = std::min(*minX, points[i].x);
    *maxX = std::max(*maxX, points[i].x);
    *minY = std::min(*minY, points[i].y);
    *maxY = std::max(*maxY, points[i].y);
  }
}

// Marks the cell of the pixel each of the leading points of an outline rounds to, ((x + 128) >> 10,
// (y + 128) >> 10), for an outline whose cells all lie on the marking image m, two points at a
// time; returns how many points it handled (the caller marks the rest). Cell offsets are formed in
// 32 bits, so it handles none when the image could overflow them.
inline int32_t markCellsWide(const cimg_window& m, const cbt_point* points, int32_t n) {
#if defined(__SSE2__)
  if (m.stride <= 0 || static_cast<int64_t>(m.stride) * m.height > INT32_MAX) return 0;
  const __m128i origin = _mm_set_epi32(m.y0, m.x0, m.y0, m.x0);
  const __m128i round = _mm_set1_epi32(128);
  const __m128i stride = _mm_set1_epi32(m.stride);
  uint8_t* const pixels = m.pixels;
  int32_t i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(points + i));
    // Lanes x, y, x, y of the cells, relative to the image: non-negative, as every cell is on it.
    const __m128i c = _mm_sub_epi32(_mm_srai_epi32(_mm_add_epi32(v, round), 10), origin);
    const __m128i row = _mm_mul_epu32(_mm_srli_epi64(c, 32), stride);
    // Offsets in lanes 0 and 2, one a point.
    alignas(16) uint32_t at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_add_epi32(row, c));
    pixels[at[0]] = 1;
    pixels[at[2]] = 1;
  }
  return i;
#else
  (void)m;
  (void)points;
  (void)n;
  return 0;
#endif
}

// The outline's points as contour points in 1/16 pixel (row first), into out: two points a
// vector where SSE2 is there.
inline void copyOutline(const cbt_point* points, int32_t n, Point* out) {
  int32_t i = 0;
#if defined(__SSE2__)
  static_assert(sizeof(Point) == 8 && sizeof(cbt_point) == 8, "two points a vector");
  const __m128i half = _mm_set1_epi32(128);
  for (; i + 2 <= n; i += 2) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(points + i));
    const __m128i r = _mm_srai_epi32(_mm_add_epi32(v, half), 4);
    // Row first: swap the lanes of each point.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_shuffle_epi32(r, _MM_SHUFFLE(2, 3, 0, 1)));
  }
#endif
  for (; i < n; ++i) out[i] = Point{(points[i].y + 128) >> 4, (points[i].x + 128) >> 4};
}

}  // namespace cid2d_seed

#endif  // IDUT_PRIV_OUTLINECELLS_HPP
