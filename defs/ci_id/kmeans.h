/* Integer running statistics and one-dimensional k-means clustering.
 *
 * cmath_statisticsFixed keeps integer sums of the values added (any fixed-point unit: the
 * library's tooth widths, strengths and phases are in 1/256 pixel). Squares are scaled down by
 * 2^shift as they are added: sumSq = sum of ((x * x + half) >> shift). Everything is 32-bit
 * and wraps: a square of 2^31 or more turns negative before the (arithmetic) shift, so values
 * up to 46340 in magnitude keep their true squares. The variance is in units of 2^-shift of the
 * values' unit squared.
 *
 * The clustering groups n values into at most numClusters + 2 working clusters, starting from
 * equal-count groups taken in the order the values are given (sorted input starts best), and
 * moves every value to the nearest cluster mean until nothing changes (at most 20 passes; a run
 * stopped by that limit keeps the statistics taken at the start of its last pass). Near
 * clusters are then merged, and the clusters are numbered by size, largest first: labels[i] is
 * the cluster of value i and stats[c] describes the values labelled c. Clusters after the
 * reported count are empty.
 *
 * Every function asserts its pointer arguments (csys_errAssertion) and returns a status. */
#ifndef IDUT_CI_ID_KMEANS_H
#define IDUT_CI_ID_KMEANS_H

#include "base/cmath_stats.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

typedef struct cmath_statisticsFixed {
  int32_t n;     /* values added */
  int32_t sum;   /* sum of the values */
  int32_t sumSq; /* sum of the scaled squares (see above) */
  int32_t min;   /* smallest value added (0 while empty) */
  int32_t max;   /* largest value added (0 while empty) */
  int32_t shift; /* scaling exponent of the squares, >= 3; -1 until initialised */
  int32_t half;  /* 2^(shift - 1), the rounding term; -1 until initialised */
} cmath_statisticsFixed;

/* Clears the record and sets the shift. cidut_errStatsParam (shift and half left -1) when
 * shift < 3; a shift above 31 is asserted (half would not fit). */
IDUT_API csys_status cmath_statisticsFixed_init(cmath_statisticsFixed* stats, int32_t shift);
/* n, sum, sumSq, min and max to 0; the shift is kept. */
IDUT_API csys_status cmath_statisticsFixed_clear(cmath_statisticsFixed* stats);
/* Adds a value; a record that was never initialised (shift -1) counts it without its square. */
IDUT_API csys_status cmath_statisticsFixed_add(cmath_statisticsFixed* stats, int32_t value);
/* sum / n, truncated towards zero; cidut_errStatsEmpty (mean untouched) without values. */
IDUT_API csys_status cmath_statisticsFixed_getMean(const cmath_statisticsFixed* stats, int32_t* mean);
/* (sumSq - ((sum * (sum / n) + half) >> shift)) / (n - 1) in wrapping 32-bit arithmetic, 0 for
 * a single value; the sample variance scaled by 2^-shift (negative when rounding or wrapping
 * makes the squares' sum fall short). cidut_errStatsEmpty without values, cidut_errStatsParam for a
 * record that was never initialised; the output is untouched on failure. */
IDUT_API csys_status cmath_statisticsFixed_getVariance(const cmath_statisticsFixed* stats, int32_t* variance);
/* cmath_sqrt32 of the variance read as an unsigned 32-bit word: a negative variance gives a
 * large deviation (-1 gives 65535). */
IDUT_API csys_status cmath_statisticsFixed_getStdDev(const cmath_statisticsFixed* stats, int32_t* deviation);

typedef struct cidut_clusterKMeansParams {
  int32_t numClusters;  /* expected number of clusters; the clustering starts with two more */
  double mergeSdFactor; /* merge two clusters whose means are within this many deviations (the
                         * larger of the two); negative disables */
  double mergeDistance; /* merge two clusters whose means are within this distance; negative
                         * disables */
  int32_t fixedShift;   /* shift of the per-cluster statistics (integer variant only), >= 3 */
} cidut_clusterKMeansParams;

/* Clusters n doubles.
 * labels: n entries, written. stats: statsLength records, all initialised, the first
 * *clusterCount describing the clusters. *clusterCount = number of non-empty clusters;
 * *converged = 1 when the assignment settled within 20 passes. Both outputs are 0 first.
 * n = 0 (or numClusters + 2 <= 0) is success with no clusters. cidut_errBadArgument (labels and
 * stats untouched) when statsLength < min(n, numClusters + 2). Merging is by distance
 * (|mean difference| <= mergeDistance) or by deviation (<= mergeSdFactor * larger sample
 * deviation + 1e-10); a merged cluster's statistics take the other's values and later pairs
 * compare with the grown cluster. */
IDUT_API csys_status cidut_clusterKMeans(const cidut_clusterKMeansParams* params, const double* values, int32_t n,
                                         int32_t* labels, cmath_statistics* stats, int32_t statsLength,
                                         int32_t* clusterCount, int32_t* converged);

/* The same on 32-bit integers with cmath_statisticsFixed per cluster (initialised with
 * params->fixedShift; cidut_errStatsParam when it is below 3). Means are the truncated integer
 * means. The merge limits are integers: D = round(mergeDistance * 2^fixedShift) (values whose
 * fixed-point unit has fixedShift fraction bits give D in that unit), and the deviation limit is
 * round(mergeSdFactor * 2^fixedShift) * s with s the larger integer deviation. */
IDUT_API csys_status cidut_clusterKMeans_fixed(const cidut_clusterKMeansParams* params, const int32_t* values,
                                               int32_t n, int32_t* labels, cmath_statisticsFixed* stats,
                                               int32_t statsLength, int32_t* clusterCount, int32_t* converged);

IDUT_EXTERN_C_END

#endif
