// Running statistics of doubles and closed intervals.
#include "base/cmath_stats.h"

#include <cmath>

extern "C" {

csys_status cmath_statistics_init(cmath_statistics* stats) {
  CSYS_REQUIRE(stats != nullptr);
  *stats = cmath_statistics{0, 0.0, 0.0, 0.0, 0.0};
  return 0;
}

csys_status cmath_statistics_clear(cmath_statistics* stats) { return cmath_statistics_init(stats); }

csys_status cmath_statistics_add(cmath_statistics* stats, double value) {
  CSYS_REQUIRE(stats != nullptr);
  if (stats->n == 0) {
    stats->min = stats->max = value;
  } else {
    stats->min = std::fmin(stats->min, value);
    stats->max = std::fmax(stats->max, value);
  }
  ++stats->n;
  stats->sum += value;
  stats->sumSq += value * value;
  return 0;
}

csys_status cmath_statistics_merge(cmath_statistics* stats, const cmath_statistics* other) {
  CSYS_REQUIRE(stats != nullptr && other != nullptr && stats != other);
  if (other->n == 0) return 0;
  if (stats->n == 0) {
    *stats = *other;
    return 0;
  }
  stats->n += other->n;
  stats->sum += other->sum;
  stats->sumSq += other->sumSq;
  stats->min = std::fmin(stats->min, other->min);
  stats->max = std::fmax(stats->max, other->max);
  return 0;
}

csys_status cmath_statistics_getMean(const cmath_statistics* stats, double* mean) {
  CSYS_REQUIRE(stats != nullptr && mean != nullptr);
  if (stats->n <= 0) return csys_errBadArgument;
  *mean = stats->sum / stats->n;
  return 0;
}

csys_status cmath_statistics_getVariance(const cmath_statistics* stats, double* variance) {
  CSYS_REQUIRE(stats != nullptr && variance != nullptr);
  if (stats->n <= 0) return csys_errBadArgument;
  if (stats->n == 1) {
    *variance = 0.0;
    return 0;
  }
  const double v = (stats->sumSq - stats->sum * stats->sum / stats->n) / (stats->n - 1);
  *variance = v > 0.0 ? v : 0.0;
  return 0;
}

csys_status cmath_statistics_getStdDev(const cmath_statistics* stats, double* deviation) {
  CSYS_REQUIRE(deviation != nullptr);
  double v = 0.0;
  const csys_status st = cmath_statistics_getVariance(stats, &v);
  if (CSYS_FAILED(st)) return st;
  *deviation = std::sqrt(v);
  return 0;
}

csys_status cmath_range_init(cmath_range* range, double start, double end) {
  CSYS_REQUIRE(range != nullptr);
  if (!(start <= end)) return csys_errBadArgument;
  range->start = start;
  range->end = end;
  return 0;
}

}  // extern "C"
