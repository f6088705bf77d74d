// Fuzzes the 1D measuring families with arbitrary edge lists and values: edges along a symbol's
// axis turned into teeth under fuzzer-chosen pairing parameters, and k-means clustering of
// doubles and of fixed-point integers. Every result must keep to its documented shape: a tooth
// per cell or none, cells and edge indices in range, labels naming reported clusters.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_check.hpp"
#include "ci_id/kmeans.h"
#include "ci_id/teeth.h"

namespace {

using fuzz::Bytes;

void edgesToTeeth(Bytes& in) {
  cidut_edgePairingParams params;
  cidut_edgePairingParams_init(&params);
  params.cellCount = 1 + static_cast<int32_t>(in.next() % 120);
  params.twoCellsPerTooth = in.next() & 1;
  params.skipEndCells = in.next() & 1;
  params.polarity = in.next() & 1;
  params.expectedPitch = 0.5 + in.next() / 8.0;
  params.expectedWidth = in.next() / 16.0;
  params.minEdgeStrength = (in.next() % 4 == 0) ? -1.0 : in.next() * 64.0;
  params.minTeeth = static_cast<int32_t>(in.next() % 8);
  params.computePoints = in.next() & 1;
  // Increasing positions from the start of a rectangle just long enough to hold them.
  std::vector<cidut_edge> edges;
  int32_t position = 0;
  while (in.at + 3 <= in.size && edges.size() < 2000) {
    position += static_cast<int32_t>(in.next16() % 4096);
    const int32_t strength = static_cast<int32_t>(in.next()) * 256 * ((edges.size() + params.polarity) % 2 ? 1 : -1);
    edges.push_back({position, strength});
  }
  const double length = position / 256.0 + 2;
  for (cidut_edge& e : edges) e.position -= static_cast<int32_t>(length * 128);
  const cmath_shapeAffineRect rect{{10, 10}, {10 + length, 10}, {10, 30}};
  const cidut_edgeList list{static_cast<int32_t>(edges.size()), CIDUT_EDGELIST_ON_AXIS, 0,
                            edges.empty() ? nullptr : edges.data()};
  cidut_teethResults results;
  check(cidut_teethResults_construct(&results) == 0);
  const csys_status st = edges.empty() ? 0 : cidut_edgesToTeeth(&params, &list, nullptr, nullptr, &rect, nullptr, &results);
  check(st == 0 || st == csys_errNoMemory);
  uint32_t slots = 0;
  cstd_vector_cidut_toothCand_getSize(&results.teeth, &slots);
  check(slots == 0 || slots == static_cast<uint32_t>(params.cellCount));
  const cidut_toothCand* teeth = static_cast<const cidut_toothCand*>(results.teeth.base.begin);
  for (uint32_t i = 0; i < slots; ++i) {
    const cidut_toothCand& t = teeth[i];
    // Every slot is filled once the cells are completed, slot i with cell i (i - 1 when the end
    // cells are skipped, so the first slot's synthetic tooth has cell -1).
    check(t.cell == static_cast<int32_t>(i) - (params.skipEndCells ? 1 : 0));
    check((t.startEdge == -1 && t.endEdge == -1) ||
          (t.startEdge >= 0 && t.startEdge < t.endEdge && t.endEdge < static_cast<int32_t>(edges.size())));
  }
  check(cidut_teethResults_destruct(&results) == 0);
}

void cluster(Bytes& in) {
  cidut_clusterKMeansParams params{static_cast<int32_t>(in.next() % 10), (in.next() % 8) / 2.0 - 1.0,
                                   (in.next() % 8) * 4.0 - 4.0, 3 + static_cast<int32_t>(in.next() % 12)};
  std::vector<double> values;
  std::vector<int32_t> fixed;
  while (in.at + 2 <= in.size && values.size() < 500) {
    const uint32_t v = in.next16();
    values.push_back(v / 7.0);
    fixed.push_back(static_cast<int32_t>(v) - 30000);
  }
  const int32_t n = static_cast<int32_t>(values.size());
  const int32_t statsLength = params.numClusters + 2;
  std::vector<int32_t> labels(values.size() + 1, -7);
  std::vector<cmath_statistics> stats(statsLength);
  std::vector<cmath_statisticsFixed> fixedStats(statsLength);
  int32_t clusters = -1, converged = -1;
  check(cidut_clusterKMeans(&params, values.data(), n, labels.data(), stats.data(), statsLength, &clusters,
                            &converged) == 0);
  check(clusters >= 0 && clusters <= statsLength && (n == 0 || clusters >= 1));
  for (int32_t i = 0; i < n; ++i) check(labels[i] >= 0 && labels[i] < clusters);
  check(cidut_clusterKMeans_fixed(&params, fixed.data(), n, labels.data(), fixedStats.data(), statsLength, &clusters,
                                  &converged) == 0);
  check(clusters >= 0 && clusters <= statsLength);
  for (int32_t i = 0; i < n; ++i) check(labels[i] >= 0 && labels[i] < clusters);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Bytes in{data + 1, size - 1};
  if (data[0] % 3 == 0)
    cluster(in);
  else
    edgesToTeeth(in);
  return 0;
}
