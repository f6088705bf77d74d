/* Running statistics of doubles, and closed real intervals.
 *
 * cmath_statistics keeps the count, sum, sum of squares and the extremes of the values added;
 * the mean and the sample deviation (divisor n - 1) are computed on demand. Every function
 * asserts its pointer arguments (csys_errAssertion) and returns a status. */
#ifndef IDUT_CMATH_STATS_H
#define IDUT_CMATH_STATS_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

typedef struct cmath_statistics {
  int32_t n;
  double sum;
  double sumSq;
  double min;
  double max;
} cmath_statistics;

/* Empty statistics (all fields 0). */
IDUT_API csys_status cmath_statistics_init(cmath_statistics* stats);
IDUT_API csys_status cmath_statistics_clear(cmath_statistics* stats);
IDUT_API csys_status cmath_statistics_add(cmath_statistics* stats, double value);
/* Folds the values of other into stats (stats may not be other). */
IDUT_API csys_status cmath_statistics_merge(cmath_statistics* stats, const cmath_statistics* other);
/* sum / n; csys_errBadArgument (mean untouched) without values. */
IDUT_API csys_status cmath_statistics_getMean(const cmath_statistics* stats, double* mean);
/* Sample variance (divisor n - 1), 0 for a single value, never negative (rounding is clamped);
 * csys_errBadArgument without values. */
IDUT_API csys_status cmath_statistics_getVariance(const cmath_statistics* stats, double* variance);
/* The square root of the variance. */
IDUT_API csys_status cmath_statistics_getStdDev(const cmath_statistics* stats, double* deviation);

/* A closed interval [start, end]; plain record. */
typedef struct cmath_range {
  double start;
  double end;
} cmath_range;

/* csys_errBadArgument (range untouched) when end < start or a bound is not a number. */
IDUT_API csys_status cmath_range_init(cmath_range* range, double start, double end);

IDUT_EXTERN_C_END

#endif
