// One-dimensional measuring: edges to teeth on regular bars (with noise on the edge positions
// and a few spurious edges), and the integer k-means over tooth-width-like values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "ci_id/kmeans.h"
#include "ci_id/teeth.h"

namespace {

// Arg: bars. Bars of width 4 px on a pitch of 8 px.
void BM_EdgesToTeeth(benchmark::State& state) {
  const int bars = static_cast<int>(state.range(0));
  const double s = 4, length = (2 * bars + 4) * s;
  std::mt19937 rng(3);
  std::normal_distribution<double> jitter(0, 0.1);
  std::vector<cidut_edge> edges;
  for (int b = 0; b < bars; ++b) {
    const double u = -length / 2 + (2 * b + 2.25) * s;
    edges.push_back({static_cast<int32_t>((u + jitter(rng)) * 256), -30000});
    edges.push_back({static_cast<int32_t>((u + s + jitter(rng)) * 256), 30000});
    if (b % 7 == 3) edges.push_back({static_cast<int32_t>((u + 1.5 * s) * 256), -9000});  // a stain
  }
  std::sort(edges.begin(), edges.end(), [](const cidut_edge& a, const cidut_edge& b) { return a.position < b.position; });
  const cidut_edgeList list{static_cast<int32_t>(edges.size()), CIDUT_EDGELIST_ON_AXIS, 0, edges.data()};
  cmath_shapeAffineRectPoints pts{{-length / 2, -5}, {length / 2, -5}, {-length / 2, 5}};
  cmath_shapeAffineRect rect;
  cmath_shapeAffineRect_initPoints(&rect, &pts);
  cidut_edgePairingParams params;
  cidut_edgePairingParams_init(&params);
  params.cellCount = bars;
  params.expectedWidth = s;
  params.expectedPitch = 2 * s;
  params.gridOffset = length / 2 - 2 * s;
  cidut_teethResults results;
  cidut_teethResults_construct(&results);
  uint32_t found = 0;
  for (auto _ : state) {
    if (cidut_edgesToTeeth(&params, &list, nullptr, nullptr, &rect, nullptr, &results) != 0) state.SkipWithError("failed");
    cstd_vector_cidut_toothCand_getSize(&results.teeth, &found);
    benchmark::DoNotOptimize(found);
  }
  if (found != static_cast<uint32_t>(bars)) state.SkipWithError("wrong tooth count");
  cidut_teethResults_destruct(&results);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(edges.size()));
}
BENCHMARK(BM_EdgesToTeeth)->Arg(20)->Arg(65)->Arg(200);

// Arg: values. Widths of four groups (1 to 4 modules of 3 px, in 1/256 pixel) with noise, sorted.
void BM_KMeansFixed(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 40);
  std::vector<int32_t> values(n), labels(n);
  for (int i = 0; i < n; ++i) values[i] = static_cast<int32_t>((1 + i % 4) * 768 + noise(rng));
  std::sort(values.begin(), values.end());  // the clustering starts from equal-count runs
  const cidut_clusterKMeansParams params{4, -1.0, 0.3, 8};
  cmath_statisticsFixed stats[6];
  int32_t clusters = 0, converged = 0;
  for (auto _ : state) {
    cidut_clusterKMeans_fixed(&params, values.data(), n, labels.data(), stats, 6, &clusters, &converged);
    benchmark::DoNotOptimize(labels.data());
  }
  if (clusters != 4) state.SkipWithError("wrong cluster count");
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_KMeansFixed)->Arg(32)->Arg(128)->Arg(1024);

}  // namespace
