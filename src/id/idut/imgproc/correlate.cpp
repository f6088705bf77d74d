// One-dimensional normalised correlation: scores at every shift and the refined best shift.
#include "ci_id/correlate.h"

#include <algorithm>
#include <type_traits>

#include "base/csys_cleanup.hpp"

namespace {

// 8-bit elements sum exactly in 64-bit integers; 32-bit elements sum in double.
template <class T>
using Accum = std::conditional_t<std::is_same_v<T, uint8_t>, int64_t, double>;

csys_status checkArguments(const void* templ, int32_t T, const void* signal, int32_t S, int32_t margin,
                           const void* out) {
  if (templ == nullptr || signal == nullptr || out == nullptr) return cidut_errNullArgument;
  if (T < 1 || S < 1 || margin < 0 || S < T || T <= margin) return cidut_errOutOfRange;
  return 0;
}

int32_t scoreCount(int32_t T, int32_t S, int32_t margin) { return S - T + 1 + 2 * margin; }

// Sums of one side's samples over the index range [lo, hi), moved one end at a time so that a
// shift costs only the samples that enter or leave the overlap.
template <class E>
class RangeSums {
 public:
  explicit RangeSums(const E* data) : data_(data) {}
  void moveTo(int32_t lo, int32_t hi) {
    while (hi_ < hi) add(data_[hi_++], 1);
    while (lo_ > lo) add(data_[--lo_], 1);
    while (lo_ < lo) add(data_[lo_++], -1);
    while (hi_ > hi) add(data_[--hi_], -1);
  }
  Accum<E> sum = 0, squares = 0;

 private:
  void add(E value, int sign) {
    const Accum<E> v = static_cast<Accum<E>>(value);
    sum += sign * v;
    squares += sign * v * v;
  }
  const E* data_;
  int32_t lo_ = 0, hi_ = 0;
};

template <class E>
double scoreOf(int32_t n, const RangeSums<E>& t, const RangeSums<E>& s, Accum<E> cross) {
  const Accum<E> count = n;
  const double c = static_cast<double>(count * cross - t.sum * s.sum);
  if (c < 0) return 0.0;
  const double v = static_cast<double>(count * t.squares - t.sum * t.sum) *
                   static_cast<double>(count * s.squares - s.sum * s.sum);
  if (v <= 0) return 0.0;
  if (v <= c * c) return 1.0;
  return c * c / v;
}

template <class E>
Accum<E> crossSum(const E* t, const E* s, int32_t k, int32_t lo, int32_t hi) {
  Accum<E> sum = 0;
  if constexpr (std::is_same_v<E, uint8_t>) {
    // 32-bit partial sums, which the compiler vectorises: 65536 products of at most 255^2 stay
    // below 2^32, so each block's sum is exact before it joins the 64-bit total.
    for (int32_t start = lo; start < hi; start += 65536) {
      const int32_t end = std::min(hi, start + 65536);
      uint32_t part = 0;
      for (int32_t j = start; j < end; ++j) part += uint32_t{t[j]} * s[j + k];
      sum += part;
    }
  } else {
    for (int32_t j = lo; j < hi; ++j) sum += static_cast<double>(uint64_t{t[j]} * s[j + k]);
  }
  return sum;
}

// Scores for shifts -margin .. S - T + margin; arguments already checked.
template <class E>
csys_status computeScores(const E* templ, int32_t T, const E* signal, int32_t S, int32_t margin, double* scores) {
  RangeSums<E> t(templ), s(signal);
  const int32_t n = scoreCount(T, S, margin);
  for (int32_t i = 0; i < n; ++i) {
    if constexpr (!std::is_same_v<E, uint8_t>) {
      const csys_status st = csys_attention_check();
      if (CSYS_FAILED(st)) return st;
    }
    const int32_t k = i - margin;
    const int32_t lo = std::max(0, -k), hi = std::min(T, S - k);
    t.moveTo(lo, hi);
    s.moveTo(lo + k, hi + k);
    scores[i] = scoreOf(hi - lo, t, s, crossSum(templ, signal, k, lo, hi));
  }
  return 0;
}

template <class E>
csys_status correlate(const E* templ, int32_t T, const E* signal, int32_t S, int32_t margin, double* scores) {
  const csys_status st = checkArguments(templ, T, signal, S, margin, scores);
  if (CSYS_FAILED(st)) return st;
  return computeScores(templ, T, signal, S, margin, scores);
}

// The first largest score above 0, refined by a parabola through its neighbours.
void bestShift(const double* scores, int32_t n, int32_t margin, double* offset, double* score) {
  int32_t best = -1;
  for (int32_t i = 0; i < n; ++i)
    if (scores[i] > 0 && (best < 0 || scores[i] > scores[best])) best = i;
  if (best < 0) return;
  *score = scores[best];
  if (best == 0 || best == n - 1) {
    *offset = best - margin;
    return;
  }
  const double a = scores[best - 1], b = scores[best], c = scores[best + 1];
  const double curvature = 2 * b - a - c;
  const double delta = (a <= b && c < b && curvature > 0.0001) ? (c - a) / curvature : 0.0;
  *offset = best + delta - margin;
}

template <class E>
csys_status runCorrelate(const E* templ, int32_t T, const E* signal, int32_t S, int32_t margin, double* offset,
                         double* score) {
  if (offset == nullptr || score == nullptr) return cidut_errNullArgument;
  *offset = 0;
  *score = 0;
  if (S < T) return 0;
  csys_status st = checkArguments(templ, T, signal, S, margin, offset);
  if (CSYS_FAILED(st)) return st;
  const int32_t n = scoreCount(T, S, margin);
  csys::CleanupList cleanup;
  double* scores = nullptr;
  st = csys_memory_allocFastMem_internal(sizeof(double) * static_cast<size_t>(n), reinterpret_cast<void**>(&scores));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&scores);
  st = computeScores(templ, T, signal, S, margin, scores);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  bestShift(scores, n, margin, offset, score);
  return cleanup.exit(0);
}

}  // namespace

extern "C" {

csys_status cf_correlate1D_U8(const uint8_t* templ, int32_t templateLength, const uint8_t* signal,
                              int32_t signalLength, int32_t margin, double* scores) {
  return correlate(templ, templateLength, signal, signalLength, margin, scores);
}

csys_status cf_correlate1D_U32(const uint32_t* templ, int32_t templateLength, const uint32_t* signal,
                               int32_t signalLength, int32_t margin, double* scores) {
  return correlate(templ, templateLength, signal, signalLength, margin, scores);
}

csys_status cf_RunCorrelate_U8(const uint8_t* templ, int32_t templateLength, const uint8_t* signal,
                               int32_t signalLength, int32_t margin, double* offset, double* score) {
  return runCorrelate(templ, templateLength, signal, signalLength, margin, offset, score);
}

csys_status cidut_RunCorrelate_UInt32(const uint32_t* templ, int32_t templateLength, const uint32_t* signal,
                                      int32_t signalLength, int32_t margin, double* offset, double* score) {
  return runCorrelate(templ, templateLength, signal, signalLength, margin, offset, score);
}

csys_status cidut_ip_correlate8(const cimg_image8Const* a, const cimg_image8Const* b, double* offset,
                                double* score) {
  if (a == nullptr || b == nullptr || offset == nullptr || score == nullptr) return cidut_errNullArgument;
  *offset = 0;
  *score = 0;
  if (!cimg_imageConst_isBound(a) || !cimg_imageConst_isBound(b)) return cidut_errImageUnbound;
  if (a->window.height < 1 || b->window.height < 1) return cidut_errOutOfRange;
  return cf_RunCorrelate_U8(a->window.pixels, a->window.width, b->window.pixels, b->window.width, 0, offset, score);
}

}  // extern "C"
