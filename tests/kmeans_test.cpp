// Fixed statistics against direct sums, and k-means results checked for what a clustering
// must be: statistics that describe exactly the values labelled with each cluster, every value
// at its nearest cluster mean once settled, clusters numbered by size, and well separated
// groups found whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "ci_id/kmeans.h"
#include "support/assert_recorder.hpp"

namespace {

struct Direct {
  int n = 0;
  double sum = 0, min = 0, max = 0, mean = 0, sd = 0;
};

template <class T>
Direct direct(const std::vector<T>& v, const std::vector<int32_t>& labels, int cluster) {
  Direct d;
  std::vector<double> xs;
  for (size_t i = 0; i < v.size(); ++i)
    if (labels[i] == cluster) xs.push_back(static_cast<double>(v[i]));
  d.n = static_cast<int>(xs.size());
  if (xs.empty()) return d;
  d.min = *std::min_element(xs.begin(), xs.end());
  d.max = *std::max_element(xs.begin(), xs.end());
  for (double x : xs) d.sum += x;
  d.mean = d.sum / d.n;
  for (double x : xs) d.sd += (x - d.mean) * (x - d.mean);
  d.sd = d.n > 1 ? std::sqrt(d.sd / (d.n - 1)) : 0.0;
  return d;
}

// Groups of values around well separated centres, shuffled or sorted.
template <class T>
std::vector<T> groups(std::mt19937& rng, int count, int perGroup, double spread, std::vector<int>* truth) {
  std::vector<std::pair<T, int>> v;
  for (int g = 0; g < count; ++g)
    for (int i = 0; i < perGroup + g; ++i) {
      const double x = 1000.0 * (g + 1) + std::uniform_real_distribution<double>(-spread, spread)(rng);
      v.push_back({static_cast<T>(x), g});
    }
  std::sort(v.begin(), v.end());
  std::vector<T> out;
  truth->clear();
  for (auto& [x, g] : v) {
    out.push_back(x);
    truth->push_back(g);
  }
  return out;
}

// The labels split the values exactly like the truth (up to the numbering).
void expectSamePartition(const std::vector<int32_t>& labels, const std::vector<int>& truth) {
  std::map<int, int> mapping;
  for (size_t i = 0; i < truth.size(); ++i) {
    auto [it, inserted] = mapping.emplace(truth[i], labels[i]);
    EXPECT_EQ(it->second, labels[i]) << "value " << i;
  }
}

template <class T, class S>
void checkClustering(const std::vector<T>& values, const std::vector<int32_t>& labels, const std::vector<S>& stats,
                     int32_t clusters, int32_t converged, double meanTolerance) {
  int previous = 1 << 30;
  for (int c = 0; c < static_cast<int>(stats.size()); ++c) {
    const Direct d = direct(values, labels, c);
    ASSERT_EQ(stats[c].n, d.n) << "cluster " << c;
    EXPECT_EQ(d.n > 0, c < clusters) << "non-empty clusters come first";
    EXPECT_LE(d.n, previous) << "ordered by size";
    previous = d.n;
    if (d.n == 0) continue;
    EXPECT_DOUBLE_EQ(stats[c].sum, d.sum);
    EXPECT_EQ(stats[c].min, static_cast<T>(d.min));
    EXPECT_EQ(stats[c].max, static_cast<T>(d.max));
  }
  if (!converged) return;
  // Settled without merging: every value sits at its nearest mean.
  for (size_t i = 0; i < values.size(); ++i) {
    const double own = std::fabs(values[i] - direct(values, labels, labels[i]).mean);
    for (int c = 0; c < clusters; ++c)
      EXPECT_LE(own, std::fabs(values[i] - direct(values, labels, c).mean) + meanTolerance) << i << " vs " << c;
  }
}

}  // namespace

TEST(FixedStatistics, AgreeWithDirectSums) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 200; ++trial) {
    const int shift = 3 + trial % 10, n = 1 + trial % 40;
    const int range = trial % 2 ? 5000 : 60000;
    cmath_statisticsFixed s;
    ASSERT_EQ(cmath_statisticsFixed_init(&s, shift), 0);
    std::vector<int32_t> v;
    int64_t sumSq = 0;
    bool wrapped = false;  // a square at or past 2^31 wraps in 32 bits
    for (int i = 0; i < n; ++i) {
      v.push_back(std::uniform_int_distribution<int32_t>(-range, range)(rng));
      ASSERT_EQ(cmath_statisticsFixed_add(&s, v.back()), 0);
      sumSq += (int64_t{v.back()} * v.back() + (1 << (shift - 1))) >> shift;
      wrapped |= int64_t{v.back()} * v.back() + (1 << (shift - 1)) > INT32_MAX;
    }
    const Direct d = direct(v, std::vector<int32_t>(n, 0), 0);
    int32_t mean = 0, var = 0, sd = 0;
    ASSERT_EQ(cmath_statisticsFixed_getMean(&s, &mean), 0);
    ASSERT_EQ(cmath_statisticsFixed_getVariance(&s, &var), 0);
    ASSERT_EQ(cmath_statisticsFixed_getStdDev(&s, &sd), 0);
    EXPECT_EQ(std::tuple(s.n, s.sum), std::tuple(n, static_cast<int32_t>(d.sum)));
    if (sumSq > INT32_MAX || wrapped) continue;  // 32-bit sums: callers keep them in range
    EXPECT_EQ(std::tuple(s.sumSq, mean, s.min, s.max), std::tuple(static_cast<int32_t>(sumSq), static_cast<int32_t>(std::trunc(d.sum / n)),
                                                                  static_cast<int32_t>(d.min), static_cast<int32_t>(d.max)));
    // Each scaled square and the mean term round to within one unit of 2^-shift.
    const double exactVar = d.sd * d.sd / std::ldexp(1.0, shift);
    EXPECT_NEAR(var, exactVar, (n + 2.0 + std::fabs(d.sum) / std::ldexp(1.0, shift)) / std::max(1, n - 1) + 1);
    EXPECT_EQ(sd, static_cast<int32_t>(std::sqrt(static_cast<double>(static_cast<uint32_t>(var)))));
  }
}

TEST(FixedStatistics, WorkInThirtyTwoBitsLikeTheirFields) {
  // Squares, the mean term and the differences are 32-bit and wrap; the deviation is the square
  // root of the variance read as an unsigned word.
  //   50000 with shift 8: 2500000000 + 128 wraps to -1794967168, >> 8 gives -7011591.
  //   50000 twice: sumSq -14023182; the mean term 100000 * 50000 + 128 wraps to 705032832,
  //     >> 8 gives 2754034; variance -16777216, whose unsigned root is 65407.
  //   2 twice with shift 4: each square rounds to (4 + 8) >> 4 = 0, the mean term is
  //     (4 * 2 + 8) >> 4 = 1: variance -1, deviation sqrt(2^32 - 1) = 65535.
  //   shift 31 is a usable scale (half = 2^30): 3 adds (9 + 2^30) >> 31 = 0.
  const struct {
    int32_t shift;
    std::vector<int32_t> values;
    int32_t sumSq, variance, deviation;
  } rows[] = {{8, {50000}, -7011591, 0, 0},
              {8, {50000, 50000}, -14023182, -16777216, 65407},
              {4, {2, 2}, 0, -1, 65535},
              {31, {3}, 0, 0, 0},
              {4, {3, 5}, 3, 1, 1}};
  for (const auto& row : rows) {
    cmath_statisticsFixed s;
    ASSERT_EQ(cmath_statisticsFixed_init(&s, row.shift), 0) << row.shift;
    for (int32_t v : row.values) ASSERT_EQ(cmath_statisticsFixed_add(&s, v), 0);
    int32_t variance = 7, deviation = 7;
    ASSERT_EQ(cmath_statisticsFixed_getVariance(&s, &variance) | cmath_statisticsFixed_getStdDev(&s, &deviation), 0);
    EXPECT_EQ(std::tuple(s.sumSq, variance, deviation), std::tuple(row.sumSq, row.variance, row.deviation))
        << row.shift << " " << row.values[0];
  }
  // A half of 2^31 has no 32-bit value.
  AssertRecorder asserts;
  cmath_statisticsFixed s;
  EXPECT_EQ(cmath_statisticsFixed_init(&s, 32), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 1u);
}

TEST(FixedStatistics, RefusalsLeaveOutputs) {
  cmath_statisticsFixed s;
  int32_t out = 77;
  EXPECT_EQ(cmath_statisticsFixed_init(&s, 2), cidut_errStatsParam);
  EXPECT_EQ(std::tuple(s.shift, s.half), std::tuple(-1, -1));
  EXPECT_EQ(cmath_statisticsFixed_getMean(&s, &out), cidut_errStatsEmpty);
  cmath_statisticsFixed_add(&s, 4);
  EXPECT_EQ(cmath_statisticsFixed_getVariance(&s, &out), cidut_errStatsParam);
  EXPECT_EQ(out, 77);
}

TEST(KMeans, BothVariantsDescribeTheirClusters) {
  std::mt19937 rng(7);
  std::vector<int> truth;
  for (int trial = 0; trial < 60; ++trial) {
    SCOPED_TRACE(trial);
    const int groupCount = 1 + trial % 4;
    cidut_clusterKMeansParams p{groupCount, -1.0, -1.0, 8};
    const bool merge = trial % 3 != 0;
    if (merge) p.mergeDistance = 300.0 / 256;  // fixed: 300 units; float set below
    int32_t clusters = -1, converged = -1;
    // Integer variant over well separated groups: found whole once merging is on.
    const auto vi = groups<int32_t>(rng, groupCount, 5 + trial % 7, 120.0, &truth);
    std::vector<int32_t> labels(vi.size(), -9);
    std::vector<cmath_statisticsFixed> fs(groupCount + 3);
    ASSERT_EQ(cidut_clusterKMeans_fixed(&p, vi.data(), static_cast<int32_t>(vi.size()), labels.data(), fs.data(),
                                        static_cast<int32_t>(fs.size()), &clusters, &converged),
              0);
    checkClustering(vi, labels, fs, clusters, merge ? 0 : converged, 1.0);
    if (merge) {
      EXPECT_EQ(clusters, groupCount);
      expectSamePartition(labels, truth);
    }
    // Float variant over random values (no structure): the same promises.
    std::vector<double> vd(5 + trial * 3);
    for (double& x : vd) x = std::uniform_real_distribution<double>(-50, 50)(rng);
    if (trial % 2) std::sort(vd.begin(), vd.end());
    p.mergeDistance = merge ? 1.0 : -1.0;
    p.mergeSdFactor = trial % 5 == 1 ? 0.5 : -1.0;
    labels.assign(vd.size(), -9);
    std::vector<cmath_statistics> ds(groupCount + 2);
    ASSERT_EQ(cidut_clusterKMeans(&p, vd.data(), static_cast<int32_t>(vd.size()), labels.data(), ds.data(),
                                  static_cast<int32_t>(ds.size()), &clusters, &converged),
              0);
    const bool merged = p.mergeDistance >= 0 || p.mergeSdFactor >= 0;
    checkClustering(vd, labels, ds, clusters, merged ? 0 : converged, 1e-9);
    for (int32_t l : labels) EXPECT_TRUE(l >= 0 && l < clusters);
  }
}

TEST(KMeans, WorkedExamplesAndRefusals) {
  const std::vector<int32_t> v{1, 1, 1, 10, 10, 10};
  struct Row {
    cidut_clusterKMeansParams params;
    int32_t statsLength, n;
    csys_status status;
    int32_t clusters, converged;
    std::vector<int32_t> labels;  // empty: untouched (-9)
  };
  const std::vector<Row> rows = {
      // Four working clusters merged by distance 2 into two groups of three.
      {{2, -1.0, 2.0 / 256, 8}, 4, 6, 0, 2, 1, {0, 0, 0, 1, 1, 1}},
      // Three working clusters, no merging: the middle one empties on the second pass.
      {{1, -1.0, -1.0, 8}, 3, 6, 0, 2, 1, {0, 0, 0, 1, 1, 1}},
      {{1, -1.0, -1.0, 8}, 3, 0, 0, 0, 0, {}},              // no values
      {{9, -1.0, -1.0, 8}, 6, 6, 0, 2, 1, {0, 0, 0, 1, 1, 1}},  // k capped by n
      {{9, -1.0, -1.0, 8}, 5, 6, cidut_errBadArgument, 0, 0, {}},  // array shorter than k
      {{2, -1.0, -1.0, 2}, 4, 6, cidut_errStatsParam, 0, 0, {}},   // shift below 3
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    SCOPED_TRACE(r);
    const Row& row = rows[r];
    std::vector<int32_t> labels(v.size(), -9);
    std::vector<cmath_statisticsFixed> stats(row.statsLength);
    int32_t clusters = -1, converged = -1;
    EXPECT_EQ(cidut_clusterKMeans_fixed(&row.params, v.data(), row.n, labels.data(), stats.data(), row.statsLength,
                                        &clusters, &converged),
              row.status);
    EXPECT_EQ(clusters, row.clusters);
    EXPECT_EQ(converged, row.converged);
    EXPECT_EQ(labels, row.labels.empty() ? std::vector<int32_t>(v.size(), -9) : row.labels);
    // The float variant agrees on these integers.
    if (row.params.fixedShift < 3) continue;
    std::vector<double> dv(v.begin(), v.end());
    std::vector<cmath_statistics> ds(row.statsLength);
    std::vector<int32_t> dl(v.size(), -9);
    cidut_clusterKMeansParams fp = row.params;
    if (fp.mergeDistance >= 0) fp.mergeDistance *= 256;
    EXPECT_EQ(cidut_clusterKMeans(&fp, dv.data(), row.n, dl.data(), ds.data(), row.statsLength, &clusters,
                                  &converged),
              row.status);
    EXPECT_EQ(dl, labels);
  }
}

TEST(KMeans, APassLimitedRunKeepsTheStatisticsOfItsLastPass) {
  // Two working clusters: 23 zeros, then a chain of values each just below the midpoint of the
  // two means once the values before it have moved, then 100000. Every pass moves one chain
  // value to the zeros, so the 20th pass still moves one (29028) and the run stops unsettled.
  // Its statistics were taken before that move: 42 values and 4 (29028, 32815, 39227 and 100000,
  // sum 201070), while the labels count 43 and 3.
  std::vector<int32_t> v(23, 0);
  for (int32_t c : {11485, 11985, 12489, 13000, 13521, 14055, 14607, 15181, 15781, 16415, 17091, 17818,
                    18610, 19482, 20459, 21575, 22878, 24448, 26416, 29028, 32815, 39227, 100000})
    v.push_back(c);
  const cidut_clusterKMeansParams p{0, -1.0, -1.0, 3};
  std::vector<int32_t> labels(v.size(), -9);
  std::vector<cmath_statisticsFixed> stats(2);
  int32_t clusters = -1, converged = -1;
  ASSERT_EQ(cidut_clusterKMeans_fixed(&p, v.data(), (int32_t)v.size(), labels.data(), stats.data(), 2, &clusters,
                                      &converged),
            0);
  EXPECT_EQ(std::tuple(clusters, converged), std::tuple(2, 0));
  EXPECT_EQ(std::tuple(stats[0].n, stats[1].n, stats[1].sum), std::tuple(42, 4, 201070));
  EXPECT_EQ(std::count(labels.begin(), labels.end(), 0), 43);
  EXPECT_EQ(labels[42], 0);
  // The float variant runs the same passes on these values.
  std::vector<double> dv(v.begin(), v.end());
  std::vector<cmath_statistics> ds(2);
  ASSERT_EQ(cidut_clusterKMeans(&p, dv.data(), (int32_t)dv.size(), labels.data(), ds.data(), 2, &clusters, &converged),
            0);
  EXPECT_EQ(std::tuple(converged, ds[0].n, ds[1].n), std::tuple(0, 42, 4));
}
