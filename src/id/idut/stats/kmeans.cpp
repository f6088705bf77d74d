// Integer running statistics and one-dimensional k-means clustering.
#include "ci_id/kmeans.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "base/cmath_fixed.h"

namespace {

constexpr int kMaxPasses = 20;

// Adds in 32 bits with wrap-around, so that overflowing sums stay defined behaviour.
inline int32_t wrapAdd(int32_t a, int64_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// The two variants differ only in their value and statistics types and in how they measure a
// cluster; everything else is shared.
struct FloatVariant {
  using Value = double;
  using Stats = cmath_statistics;
  double distanceLimit = -1.0;
  double sdFactor = -1.0;

  csys_status init(Stats* s) const { return cmath_statistics_init(s); }
  csys_status clear(Stats* s) const { return cmath_statistics_clear(s); }
  csys_status add(Stats* s, Value v) const { return cmath_statistics_add(s, v); }
  static int32_t count(const Stats& s) { return s.n; }
  csys_status mean(const Stats& s, double* m) const { return cmath_statistics_getMean(&s, m); }
  csys_status deviation(const Stats& s, double* d) const { return cmath_statistics_getStdDev(&s, d); }
  bool near(double d, double s) const {
    return (sdFactor >= 0.0 && d <= sdFactor * s + 1e-10) || (distanceLimit >= 0.0 && d <= distanceLimit);
  }
};

struct FixedVariant {
  using Value = int32_t;
  using Stats = cmath_statisticsFixed;
  int32_t shift = 8;
  bool bySd = false, byDistance = false;
  int64_t sdFactor = 0, distanceLimit = 0;

  csys_status init(Stats* s) const { return cmath_statisticsFixed_init(s, shift); }
  csys_status clear(Stats* s) const { return cmath_statisticsFixed_clear(s); }
  csys_status add(Stats* s, Value v) const { return cmath_statisticsFixed_add(s, v); }
  static int32_t count(const Stats& s) { return s.n; }
  csys_status mean(const Stats& s, double* m) const {
    int32_t v = 0;
    const csys_status st = cmath_statisticsFixed_getMean(&s, &v);
    *m = v;
    return st;
  }
  csys_status deviation(const Stats& s, double* d) const {
    int32_t v = 0;
    const csys_status st = cmath_statisticsFixed_getStdDev(&s, &v);
    *d = v;
    return st;
  }
  bool near(double d, double s) const {
    const int64_t di = static_cast<int64_t>(d), si = static_cast<int64_t>(s);
    return (bySd && di <= sdFactor * si) || (byDistance && di <= distanceLimit);
  }
};

template <class V>
class KMeans {
 public:
  using Value = typename V::Value;
  using Stats = typename V::Stats;

  KMeans(const V& variant, const Value* values, int32_t n, int32_t* labels, Stats* stats, int32_t k)
      : v_(variant), values_(values), n_(n), labels_(labels), stats_(stats), k_(k) {}

  csys_status run(bool merging, int32_t* converged) {
    const int32_t q = n_ / k_;
    for (int32_t i = 0; i < n_; ++i) labels_[i] = q > 0 && i / q < k_ ? i / q : k_ - 1;
    int passes = 0;
    bool changed = true;
    csys_status st = 0;
    while (changed && passes < kMaxPasses) {
      ++passes;
      if (CSYS_FAILED(st = accumulate())) return st;
      if (CSYS_FAILED(st = reassign(&changed))) return st;
    }
    // A run stopped by the pass limit keeps the statistics of its last pass: they describe the
    // labels before that pass moved values, and merging starts from them.
    *converged = passes < kMaxPasses ? 1 : 0;
    if (merging && CSYS_FAILED(st = merge())) return st;
    orderBySize();
    return 0;
  }

  int32_t nonEmpty() const {
    int32_t count = 0;
    for (int32_t c = 0; c < k_; ++c) count += V::count(stats_[c]) > 0 ? 1 : 0;
    return count;
  }

 private:
  csys_status accumulate() {
    csys_status st = 0;
    for (int32_t c = 0; c < k_; ++c)
      if (CSYS_FAILED(st = v_.clear(&stats_[c]))) return st;
    for (int32_t i = 0; i < n_; ++i)
      if (CSYS_FAILED(st = v_.add(&stats_[labels_[i]], values_[i]))) return st;
    return 0;
  }

  // Moves each value to the nearest non-empty cluster (ties to the lowest index).
  csys_status reassign(bool* changed) {
    *changed = false;
    csys_status st = 0;
    for (int32_t i = 0; i < n_; ++i) {
      int32_t best = -1;
      double bestDistance = 0.0;
      for (int32_t c = 0; c < k_; ++c) {
        if (V::count(stats_[c]) == 0) continue;
        double m = 0.0;
        if (CSYS_FAILED(st = v_.mean(stats_[c], &m))) return st;
        const double d = std::fabs(static_cast<double>(values_[i]) - m);
        if (best < 0 || d < bestDistance) {
          best = c;
          bestDistance = d;
        }
      }
      if (best >= 0 && best != labels_[i]) {
        labels_[i] = best;
        *changed = true;
      }
    }
    return 0;
  }

  csys_status merge() {
    csys_status st = 0;
    for (int32_t i = 0; i + 1 < k_; ++i) {
      for (int32_t j = i + 1; j < k_; ++j) {
        if (V::count(stats_[i]) == 0 || V::count(stats_[j]) == 0) continue;
        double mi = 0, mj = 0, si = 0, sj = 0;
        if (CSYS_FAILED(st = v_.mean(stats_[i], &mi)) || CSYS_FAILED(st = v_.mean(stats_[j], &mj)) ||
            CSYS_FAILED(st = v_.deviation(stats_[i], &si)) || CSYS_FAILED(st = v_.deviation(stats_[j], &sj)))
          return st;
        if (!v_.near(std::fabs(mj - mi), si > sj ? si : sj)) continue;
        for (int32_t k = 0; k < n_; ++k) {
          if (labels_[k] != j) continue;
          labels_[k] = i;
          if (CSYS_FAILED(st = v_.add(&stats_[i], values_[k]))) return st;
        }
        if (CSYS_FAILED(st = v_.clear(&stats_[j]))) return st;
      }
    }
    return 0;
  }

  // Selection by count, largest first; ties keep the lower position.
  void orderBySize() {
    for (int32_t i = 0; i < k_; ++i) {
      int32_t best = -1, bestCount = 0;
      for (int32_t c = i; c < k_; ++c) {
        if (V::count(stats_[c]) > bestCount) {
          best = c;
          bestCount = V::count(stats_[c]);
        }
      }
      if (best < 0) return;
      if (best == i) continue;
      std::swap(stats_[i], stats_[best]);
      for (int32_t k = 0; k < n_; ++k) {
        if (labels_[k] == i) labels_[k] = best;
        else if (labels_[k] == best) labels_[k] = i;
      }
    }
  }

  const V& v_;
  const Value* values_;
  int32_t n_;
  int32_t* labels_;
  Stats* stats_;
  int32_t k_;
};

// The shared frame of both variants: outputs, the working cluster count, the checks.
template <class V>
csys_status cluster(const V& variant, const cidut_clusterKMeansParams& params, const typename V::Value* values,
                    int32_t n, int32_t* labels, typename V::Stats* stats, int32_t statsLength,
                    int32_t* clusterCount, int32_t* converged) {
  *clusterCount = 0;
  *converged = 0;
  const int64_t wanted = static_cast<int64_t>(params.numClusters) + 2;
  const int32_t k = static_cast<int32_t>(wanted < n ? wanted : n);
  if (k <= 0) return 0;
  if (statsLength < k) return cidut_errBadArgument;
  csys_status st = 0;
  for (int32_t c = 0; c < statsLength; ++c)
    if (CSYS_FAILED(st = variant.init(&stats[c]))) return st;
  KMeans<V> km(variant, values, n, labels, stats, k);
  if (CSYS_FAILED(st = km.run(params.mergeSdFactor >= 0.0 || params.mergeDistance >= 0.0, converged))) return st;
  *clusterCount = km.nonEmpty();
  return 0;
}

// Limits far beyond any 32-bit difference are clamped, so the conversion stays defined.
inline int64_t roundScaled(double v, int32_t shift) {
  const double scaled = v * static_cast<double>(int64_t{1} << shift) + 0.5;
  return scaled < 1e12 ? static_cast<int64_t>(scaled) : int64_t{1000000000000};
}

}  // namespace

extern "C" {

csys_status cmath_statisticsFixed_init(cmath_statisticsFixed* stats, int32_t shift) {
  CSYS_REQUIRE(stats != nullptr);
  *stats = cmath_statisticsFixed{0, 0, 0, 0, 0, -1, -1};
  if (shift < 3) return cidut_errStatsParam;
  CSYS_REQUIRE(shift <= 31);  // half = 2^(shift - 1) must be a 32-bit value
  stats->shift = shift;
  stats->half = int32_t{1} << (shift - 1);
  return 0;
}

csys_status cmath_statisticsFixed_clear(cmath_statisticsFixed* stats) {
  CSYS_REQUIRE(stats != nullptr);
  stats->n = stats->sum = stats->sumSq = stats->min = stats->max = 0;
  return 0;
}

csys_status cmath_statisticsFixed_add(cmath_statisticsFixed* stats, int32_t value) {
  CSYS_REQUIRE(stats != nullptr);
  if (stats->n == 0) {
    stats->min = stats->max = value;
  } else {
    if (value < stats->min) stats->min = value;
    if (value > stats->max) stats->max = value;
  }
  stats->n = wrapAdd(stats->n, 1);
  stats->sum = wrapAdd(stats->sum, value);
  // The square and its rounding are 32-bit: a square past 2^31 wraps and is shifted as the
  // negative number it becomes. A record that was never initialised (shift -1) sums no squares.
  if (stats->shift >= 0 && stats->shift <= 31) {
    const uint32_t u = static_cast<uint32_t>(value);
    const int32_t rounded = static_cast<int32_t>(u * u + static_cast<uint32_t>(stats->half));
    stats->sumSq = wrapAdd(stats->sumSq, rounded >> stats->shift);
  }
  return 0;
}

csys_status cmath_statisticsFixed_getMean(const cmath_statisticsFixed* stats, int32_t* mean) {
  CSYS_REQUIRE(stats != nullptr && mean != nullptr);
  if (stats->n <= 0) return cidut_errStatsEmpty;
  *mean = stats->sum / stats->n;
  return 0;
}

csys_status cmath_statisticsFixed_getVariance(const cmath_statisticsFixed* stats, int32_t* variance) {
  CSYS_REQUIRE(stats != nullptr && variance != nullptr);
  if (stats->n <= 0) return cidut_errStatsEmpty;
  if (stats->shift < 0) return cidut_errStatsParam;
  CSYS_REQUIRE(stats->shift <= 31);
  if (stats->n < 2) {
    *variance = 0;
    return 0;
  }
  // 32-bit throughout, wrapping like the sums themselves.
  const uint32_t sum = static_cast<uint32_t>(stats->sum);
  const uint32_t meanTimesSum = sum * static_cast<uint32_t>(stats->sum / stats->n);
  const int32_t meanSq = static_cast<int32_t>(meanTimesSum + static_cast<uint32_t>(stats->half)) >> stats->shift;
  const int32_t spread = static_cast<int32_t>(static_cast<uint32_t>(stats->sumSq) - static_cast<uint32_t>(meanSq));
  *variance = spread / (stats->n - 1);
  return 0;
}

csys_status cmath_statisticsFixed_getStdDev(const cmath_statisticsFixed* stats, int32_t* deviation) {
  CSYS_REQUIRE(deviation != nullptr);
  int32_t v = 0;
  const csys_status st = cmath_statisticsFixed_getVariance(stats, &v);
  if (CSYS_FAILED(st)) return st;
  // The square root reads the variance as an unsigned word, a negative one included.
  *deviation = static_cast<int32_t>(cmath_sqrt32(static_cast<uint32_t>(v)));
  return 0;
}

csys_status cidut_clusterKMeans(const cidut_clusterKMeansParams* params, const double* values, int32_t n,
                                int32_t* labels, cmath_statistics* stats, int32_t statsLength,
                                int32_t* clusterCount, int32_t* converged) {
  CSYS_REQUIRE(params != nullptr && clusterCount != nullptr && converged != nullptr && n >= 0);
  CSYS_REQUIRE(n == 0 || (values != nullptr && labels != nullptr && stats != nullptr));
  FloatVariant variant;
  variant.distanceLimit = params->mergeDistance;
  variant.sdFactor = params->mergeSdFactor;
  return cluster(variant, *params, values, n, labels, stats, statsLength, clusterCount, converged);
}

csys_status cidut_clusterKMeans_fixed(const cidut_clusterKMeansParams* params, const int32_t* values, int32_t n,
                                      int32_t* labels, cmath_statisticsFixed* stats, int32_t statsLength,
                                      int32_t* clusterCount, int32_t* converged) {
  CSYS_REQUIRE(params != nullptr && clusterCount != nullptr && converged != nullptr && n >= 0);
  CSYS_REQUIRE(n == 0 || (values != nullptr && labels != nullptr && stats != nullptr));
  FixedVariant variant;
  variant.shift = params->fixedShift;
  if (params->fixedShift >= 3 && params->fixedShift <= 31) {
    variant.bySd = params->mergeSdFactor >= 0.0;
    variant.byDistance = params->mergeDistance >= 0.0;
    if (variant.bySd) variant.sdFactor = roundScaled(params->mergeSdFactor, params->fixedShift);
    if (variant.byDistance) variant.distanceLimit = roundScaled(params->mergeDistance, params->fixedShift);
  }
  return cluster(variant, *params, values, n, labels, stats, statsLength, clusterCount, converged);
}

}  // extern "C"
