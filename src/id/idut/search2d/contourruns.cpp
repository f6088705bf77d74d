// Straight-run analysis of closed contours. Integer only; products are taken in 64 bits so
// that large images cannot overflow them, which leaves every value that fits in 32 bits exactly
// as a 32-bit computation would give it.
#include "ci_id/contourruns.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <utility>

#include "base/csys_cleanup.hpp"
#include "ci_id/priv/ci_idut/seedsearch.hpp"

namespace {

using Point = cid2d_contourPoint;

using cid2d_seed::wrap;

// Quarter-pixel difference of two 1/16-pixel values (arithmetic shift: rounds down).
inline int64_t q(int64_t a, int64_t b) { return (a - b) >> 2; }

using cid2d_seed::floorDiv;

inline int32_t saturate32(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

inline int64_t distanceSq(const Point& a, const Point& b) {
  const int64_t dv = q(a.v, b.v), du = q(b.u, a.u);
  return dv * dv + du * du;
}

inline int64_t lineDistanceSq(const Point& p, const Point& a, const Point& b) {
  const int64_t nu = q(a.v, b.v), nv = q(b.u, a.u);
  const int64_t nn = nu * nu + nv * nv;
  if (nn == 0) return distanceSq(a, p);
  const int64_t d = nu * q(p.u, a.u) + nv * q(p.v, a.v);
  return d * d / nn;
}

// Squared distance of the middle point from the chord start -> end. The chord is represented by
// its midpoint and a short direction (100 along the dominant axis), as the search always has.
int64_t chordDeviation(const Point* p, int32_t start, int32_t end, int32_t mid) {
  const Point& s = p[start];
  const Point& e = p[end];
  const Point m{static_cast<int32_t>((static_cast<int64_t>(s.u) + e.u) >> 1),
                static_cast<int32_t>((static_cast<int64_t>(s.v) + e.v) >> 1)};
  const int64_t du = static_cast<int64_t>(e.u) - s.u;
  const int64_t dv = static_cast<int64_t>(e.v) - s.v;
  const int64_t adu = du < 0 ? -du : du, adv = dv < 0 ? -dv : dv;
  if (adv > adu) {
    const Point m2{static_cast<int32_t>(m.u + du * 100 / dv), m.v + 100};
    return lineDistanceSq(p[mid], m, m2);
  }
  if (adu > adv) {
    const Point m2{m.u + 100, static_cast<int32_t>(m.v + dv * 100 / du)};
    return lineDistanceSq(p[mid], m, m2);
  }
  return distanceSq(p[mid], m);
}

bool overlaps(const void* a, size_t aBytes, const void* b, size_t bBytes) {
  const auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
  return pa < pb + bBytes && pb < pa + aBytes;
}

}  // namespace

extern "C" {

csys_status cid2d_contour_distanceSq(const cid2d_contourPoint* a, const cid2d_contourPoint* b, int64_t* out) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && out != nullptr);
  *out = distanceSq(*a, *b);
  return 0;
}

csys_status cid2d_contour_lineDistanceSq(const cid2d_contourPoint* p, const cid2d_contourPoint* a,
                                         const cid2d_contourPoint* b, int64_t* out) {
  CSYS_REQUIRE(p != nullptr && a != nullptr && b != nullptr && out != nullptr);
  *out = lineDistanceSq(*p, *a, *b);
  return 0;
}

csys_status cid2d_contour_halve(cid2d_contourPoint* contour, int32_t count, int32_t* halvedCount) {
  CSYS_REQUIRE(count >= 0 && (contour != nullptr || count == 0));
  const int32_t half = count / 2;
  for (int32_t i = 0; i < half; ++i) {
    const Point a = contour[2 * i], b = contour[2 * i + 1];
    contour[i].u = static_cast<int32_t>((static_cast<int64_t>(a.u) + b.u) >> 1);
    contour[i].v = static_cast<int32_t>((static_cast<int64_t>(a.v) + b.v) >> 1);
  }
  if (halvedCount != nullptr) *halvedCount = half;
  return 0;
}

csys_status cid2d_contour_getBoundingBox(const cid2d_contourPoint* contour, int32_t count, int32_t* width,
                                         int32_t* height, int32_t* extent) {
  CSYS_REQUIRE(count >= 0 && (contour != nullptr || count == 0));
  int32_t w = 0, h = 0;
  if (count > 0) {
    int32_t minU = contour[0].u, maxU = minU, minV = contour[0].v, maxV = minV;
    for (int32_t i = 1; i < count; ++i) {
      const Point& p = contour[i];
      if (p.u < minU) minU = p.u;
      if (p.u > maxU) maxU = p.u;
      if (p.v < minV) minV = p.v;
      if (p.v > maxV) maxV = p.v;
    }
    w = saturate32((static_cast<int64_t>(maxV) - minV) >> 4);
    h = saturate32((static_cast<int64_t>(maxU) - minU) >> 4);
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  if (extent != nullptr) *extent = w > h ? w : h;
  return 0;
}

csys_status cid2d_contour_smooth(cid2d_contourPoint* output, const cid2d_contourPoint* contour, int32_t count,
                                 int32_t window) {
  CSYS_REQUIRE(count >= 0 && ((output != nullptr && contour != nullptr) || count == 0));
  if (count == 0) return 0;
  if (window < 2 || count < window) {
    if (output != contour) csys_memory_copy(contour, sizeof(Point) * static_cast<size_t>(count), output);
    return 0;
  }
  const size_t bytes = sizeof(Point) * static_cast<size_t>(count);
  CSYS_REQUIRE(!overlaps(output, bytes, contour, bytes));

  const int64_t r = 4096 / window;
  const int32_t h = window / 2;
  int64_t su = 0, sv = 0;
  for (int32_t k = 0; k < window; ++k) {
    su += contour[k].u;
    sv += contour[k].v;
  }
  // One running sum: the window 0 .. W-1 is centred on index h. Each step adds the next point
  // and drops the oldest, moving the centre by one; after count steps the window is back at the
  // first one and the last write lands on index h.
  // The steps in three stretches, so that none wraps an index: the added point runs from index
  // window to the end and on from 0 (window <= count); the written one from h + 1 to the end and
  // on from 0; the dropped one never passes the end.
  auto step = [&](int32_t add, int32_t drop, int32_t out) {
    su += static_cast<int64_t>(contour[add].u) - contour[drop].u;
    sv += static_cast<int64_t>(contour[add].v) - contour[drop].v;
    output[out].u = static_cast<int32_t>(((su + h) * r) >> 12);
    output[out].v = static_cast<int32_t>(((sv + h) * r) >> 12);
  };
  // Step i (window <= i < window + count) adds point i mod count, drops point i - window and
  // writes point (i - window + h + 1) mod count.
  const int32_t addWraps = count, writeWraps = window + count - h - 1;  // first i whose index wraps
  const int32_t firstBreak = addWraps < writeWraps ? addWraps : writeWraps;
  const int32_t secondBreak = addWraps < writeWraps ? writeWraps : addWraps;
  int32_t i = window;
  for (; i < firstBreak; ++i) step(i, i - window, i - window + h + 1);
  for (; i < secondBreak; ++i)
    step(i < count ? i : i - count, i - window, i - window + h + 1 < count ? i - window + h + 1 : i - window + h + 1 - count);
  for (; i < window + count; ++i) step(i - count, i - window, i - window + h + 1 - count);
  return 0;
}

csys_status cid2d_contour_curvature(int32_t* curvature, const cid2d_contourPoint* smoothed, int32_t count,
                                    int32_t span, int32_t* maximum) {
  CSYS_REQUIRE(count >= 0 && span >= 0 && ((curvature != nullptr && smoothed != nullptr) || count == 0));
  const int32_t h = span / 2;
  int32_t best = 0;
  auto at = [&](int32_t m, int32_t before, int32_t after) {
    const Point& a = smoothed[before];
    const Point& b = smoothed[after];
    const Point& c = smoothed[m];
    const int64_t du = std::llabs(static_cast<int64_t>(a.u) + b.u - 2 * static_cast<int64_t>(c.u));
    const int64_t dv = std::llabs(static_cast<int64_t>(a.v) + b.v - 2 * static_cast<int64_t>(c.v));
    const int32_t value = saturate32(du + dv);
    curvature[m] = value;
    if (value > best) best = value;
  };
  auto wrapped = [&](int32_t m) {
    at(m, wrap(static_cast<int64_t>(m) - h, count), wrap(static_cast<int64_t>(m) + h, count));
  };
  if (2 * static_cast<int64_t>(h) < count) {
    // Only the first and last h points look past an end of the contour.
    for (int32_t m = 0; m < h; ++m) wrapped(m);
    for (int32_t m = h; m < count - h; ++m) at(m, m - h, m + h);
    for (int32_t m = count - h; m < count; ++m) wrapped(m);
  } else {
    for (int32_t m = 0; m < count; ++m) wrapped(m);
  }
  if (maximum != nullptr) *maximum = best;
  return 0;
}

csys_status cid2d_contour_straightRuns(cid2d_straightRun* runs, const int32_t* curvature,
                                       const cid2d_contourPoint* smoothed, int32_t split, int32_t count,
                                       int32_t minLength, int32_t threshold, int32_t capacity,
                                       int32_t* runCount) {
  return cid2d_contour_straightRunsCounted(runs, curvature, smoothed, split, count, minLength, threshold, capacity,
                                           runCount, nullptr);
}

csys_status cid2d_contour_chordDeviation(const cid2d_contourPoint* points, int32_t start, int32_t end, int32_t mid,
                                         int64_t* deviation) {
  CSYS_REQUIRE(points != nullptr && deviation != nullptr && start >= 0 && end >= 0 && mid >= 0);
  *deviation = chordDeviation(points, start, end, mid);
  return 0;
}

csys_status cid2d_contour_straightRunsCounted(cid2d_straightRun* runs, const int32_t* curvature,
                                              const cid2d_contourPoint* smoothed, int32_t split, int32_t count,
                                              int32_t minLength, int32_t threshold, int32_t capacity,
                                              int32_t* runCount, cid2d_droppedRuns* dropped) {
  if (dropped != nullptr) *dropped = cid2d_droppedRuns{0, 0};
  // A dropped stretch of len following points covers len + 1 points.
  auto drop = [&](int64_t len) {
    if (dropped == nullptr) return;
    if (len + 1 >= 3) ++dropped->atLeast3;
    if (len + 1 >= 2) ++dropped->atLeast2;
  };
  CSYS_REQUIRE(runs != nullptr && runCount != nullptr && capacity >= 1 && count >= 0);
  CSYS_REQUIRE(count == 0 || (curvature != nullptr && smoothed != nullptr));
  const int64_t limit = 9 * static_cast<int64_t>(threshold);
  int32_t k = 0;
  // Accepts start .. start + len when its middle point lies close to the chord; false when the
  // list is full afterwards.
  auto tryAccept = [&](int32_t start, int32_t len, int32_t midOffset) -> bool {
    const int32_t end = wrap(static_cast<int64_t>(start) + len, count);
    const int32_t mid = wrap(static_cast<int64_t>(start) + midOffset, count);
    if (chordDeviation(smoothed, start, end, mid) >= limit) return false;
    runs[k].start = start;
    runs[k].end = end;
    runs[k].strength = saturate32(distanceSq(smoothed[start], smoothed[end]));
    ++k;
    return true;
  };

  int64_t i = 0;
  while (i < count && k < capacity - 1) {
    if (curvature[i] > threshold) {
      ++i;
      continue;
    }
    const int32_t start = static_cast<int32_t>(i);
    int64_t j = i + 1;
    while (j < 2 * static_cast<int64_t>(count) && curvature[wrap(j, count)] < threshold) ++j;
    const int32_t len = static_cast<int32_t>(j - i - 1);
    i = j;
    if (len <= minLength || len >= count) {
      drop(len);
      continue;
    }
    if (tryAccept(start, len, len / 2)) continue;
    if (!split || len <= 2 * static_cast<int64_t>(minLength) + 1) {
      drop(len);
      continue;
    }
    const int32_t half = len / 2;
    if (!tryAccept(start, half, len / 4)) drop(half);
    if (k >= capacity - 1) break;
    const int32_t second = wrap(static_cast<int64_t>(start) + half, count);
    if (!tryAccept(second, len - half, static_cast<int32_t>(3 * static_cast<int64_t>(len) / 4) - half))
      drop(len - half);
  }
  runs[k] = cid2d_straightRun{0, 0, 0};
  *runCount = k;
  return 0;
}

csys_status cid2d_straightRuns_order(cid2d_straightRun* runs, int32_t runCount) {
  CSYS_REQUIRE(runCount >= 0 && (runs != nullptr || runCount == 0));
  for (int32_t pos = 0; pos + 1 < runCount; ++pos) {
    int32_t best = pos;
    for (int32_t j = pos + 1; j < runCount; ++j)
      if (runs[j].strength > runs[best].strength) best = j;
    if (best != pos) std::swap(runs[pos], runs[best]);
  }
  return 0;
}

csys_status cid2d_straightRuns_trim(const cid2d_straightRun* runs, int32_t runCount, int32_t* trimmedCount) {
  CSYS_REQUIRE(runCount >= 0 && trimmedCount != nullptr && (runs != nullptr || runCount == 0));
  int32_t n = runCount;
  while (n > 1 && runs[n - 1].strength == 0) --n;
  *trimmedCount = n;
  return 0;
}

csys_status cid2d_straightRuns_merge(cid2d_straightRun* runs, const cid2d_contourPoint* smoothed, int32_t count,
                                     int32_t runCount, int32_t gap, int32_t tolerance) {
  CSYS_REQUIRE(runCount >= 0 && count >= 0);
  CSYS_REQUIRE(runCount == 0 || (runs != nullptr && smoothed != nullptr && count > 0));
  if (runCount < 2) return 0;
  for (int32_t i = 0; i < runCount; ++i)
    CSYS_REQUIRE(runs[i].start >= 0 && runs[i].start < count && runs[i].end >= 0 && runs[i].end < count);

  csys::CleanupList cleanup;
  uint8_t* merged = nullptr;
  {
    void* block = nullptr;
    const csys_status st = csys_memory_allocFastMem_internal(static_cast<size_t>(runCount), &block);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    merged = static_cast<uint8_t*>(block);
    cleanup.freeAlways(&merged);
  }
  csys_memory_fill(0, static_cast<size_t>(runCount), merged);

  const int64_t reach = static_cast<int64_t>(gap) + 6;
  const int64_t reachSq = reach * reach;
  const int64_t tol = tolerance;

  for (int32_t i = 0; i + 1 < runCount; ++i) {
    if (runs[i].strength <= 1 || merged[i]) continue;
    for (int32_t j = i + 1; j + 1 < runCount; ++j) {
      if (runs[j].strength <= 1 || merged[j]) continue;
      const Point& si = smoothed[runs[i].start];
      const Point& ei = smoothed[runs[i].end];
      const Point& sj = smoothed[runs[j].start];
      const Point& ej = smoothed[runs[j].end];
      const int64_t ai = q(si.v, ei.v), bi = q(ei.u, si.u);
      const int64_t aj = q(sj.v, ej.v), bj = q(ej.u, sj.u);
      const int64_t x = ai * bj - aj * bi;
      const int64_t d = ai * aj + bi * bj;
      if (x == 0 && d == 0) {
        cstd_assert_(__LINE__);
        return cleanup.exit(csys_errAssertion);
      }
      const int64_t tau = d == 0 ? INT32_MAX : floorDiv(1000 * x, d);
      if (!(-35 < tau && tau < 0)) continue;

      // Normal of the joining chord from run i's start to run j's end.
      const int64_t wa = q(si.v, ej.v), wb = q(ej.u, si.u);
      const int64_t lsq = wa * wa + wb * wb;
      if (lsq == 0) {
        runs[j].strength = 0;
        merged[j] = 1;
        continue;
      }
      const int64_t ci = wa * bi - wb * ai, cj = wb * aj - wa * bj;
      const int64_t m = ci * ci > cj * cj ? ci * ci : cj * cj;
      if (m >= ((tol * tol * lsq) >> 4)) continue;

      if (distanceSq(si, sj) < lsq) {
        // Run j continues run i.
        if (distanceSq(ei, sj) < reachSq) {
          runs[i].end = runs[j].end;
          runs[i].strength = saturate32(lsq);
          runs[j].strength = 0;
          runs[j].end = runs[j].start;
          merged[i] = merged[j] = 1;
        }
      } else if (lsq < reachSq) {
        // Run j precedes run i.
        runs[i].start = runs[j].start;
        runs[i].strength = saturate32(distanceSq(sj, ei));
        runs[j].strength = 0;
        merged[i] = merged[j] = 1;
      }
    }
  }
  return cleanup.exit(0);
}

}  // extern "C"
