// Edges to teeth, the grid stages: the dominant tooth width and strength group (clustering),
// the phase of the cell grid, rescoring and one candidate per cell, then conflicts between
// neighbours, synthetic teeth for the empty cells and the teeth's points.
#include <cstdlib>

#include "base/csys_cleanup.hpp"
#include "ci_id/kmeans.h"
#include "ci_id/priv/ci_idut/teeth_work.hpp"

namespace cidut_teeth {
namespace {

constexpr int32_t kMaxClusters = 6;

// Per-call arrays over the flattened candidates, all from csys memory.
struct Flat {
  cidut_toothCand* cand = nullptr;
  int32_t* values = nullptr;         // what is being clustered
  int32_t* labels = nullptr;         // its labels (-1: ignored)
  int32_t* scratch = nullptr;        // the values taking part
  int32_t* scratchLabels = nullptr;  // their labels
  int32_t* widthOf = nullptr;        // width cluster of each candidate
  int32_t* strengthOf = nullptr;     // strength cluster of the winning width cluster
  int32_t n = 0;

  int32_t** arrays() { return &values; }
  static constexpr int kArrays = 6;
};

csys_status freeFlat(Flat* f) {
  void* block = f->cand;
  csys_memory_free_internal(&block);
  for (int a = 0; a < Flat::kArrays; ++a) {
    block = f->arrays()[a];
    csys_memory_free_internal(&block);
  }
  *f = Flat{};
  return 0;
}

csys_status allocFlat(Flat& f, int32_t n) {
  const size_t m = static_cast<size_t>(n > 0 ? n : 1);
  csys_status st = csys_memory_alloc_internal(sizeof(cidut_toothCand) * m, reinterpret_cast<void**>(&f.cand));
  for (int a = 0; a < Flat::kArrays && CSYS_SUCCEEDED(st); ++a)
    st = csys_memory_alloc_internal(sizeof(int32_t) * m, reinterpret_cast<void**>(&f.arrays()[a]));
  f.n = n;
  return st;
}

// A clustering of f.values (entries equal to `ignored` take no part and get label -1).
struct Clusters {
  cmath_statisticsFixed stats[kMaxClusters];
  int32_t count = 0;
};

// Runs k-means on the values that are not ignored, then splits one cluster that is too wide
// (its far members' mean lies beyond tolerance * factor). False when no cluster is found or the
// split fails.
csys_status clusterValues(Flat& f, int32_t ignored, double tolerance, int32_t factor, Clusters* out, bool* ok) {
  *ok = false;
  int32_t m = 0;
  for (int32_t i = 0; i < f.n; ++i)
    if (f.values[i] != ignored) f.scratch[m++] = f.values[i];
  cidut_clusterKMeansParams params{2, -1.0, tolerance, 8};
  int32_t converged = 0;
  csys_status st = cidut_clusterKMeans_fixed(&params, f.scratch, m, f.scratchLabels, out->stats, kMaxClusters,
                                             &out->count, &converged);
  if (CSYS_FAILED(st)) return st;
  for (int32_t i = 0, k = 0; i < f.n; ++i) f.labels[i] = f.values[i] != ignored ? f.scratchLabels[k++] : -1;
  if (out->count == 0) return 0;
  const int64_t limit = static_cast<int64_t>(fix8(tolerance)) * factor;
  int32_t wide = -1, wideCount = 0;
  for (int32_t c = 0; c < out->count; ++c) {
    int32_t mean = 0;
    if (CSYS_FAILED(st = cmath_statisticsFixed_getMean(&out->stats[c], &mean))) return st;
    int64_t sum = 0, n = 0;
    for (int32_t i = 0; i < f.n; ++i)
      if (f.labels[i] == c && std::llabs(int64_t{f.values[i]} - mean) > limit) {
        sum += f.values[i];
        ++n;
      }
    if (n > 0 && std::llabs(sum / n - mean) > limit) {
      wide = c;
      ++wideCount;
    }
  }
  if (wideCount == 0) {
    *ok = true;
    return 0;
  }
  if (wideCount > 1) return 0;
  // Re-cluster the wide cluster's members and give its second part a cluster of its own.
  m = 0;
  for (int32_t i = 0; i < f.n; ++i)
    if (f.labels[i] == wide) f.scratch[m++] = f.values[i];
  params.numClusters = 1;
  cmath_statisticsFixed parts[3];
  int32_t partCount = 0;
  if (CSYS_FAILED(st = cidut_clusterKMeans_fixed(&params, f.scratch, m, f.scratchLabels, parts, 3, &partCount,
                                                 &converged)))
    return st;
  if (partCount != 2 || out->count >= kMaxClusters) return 0;
  for (int32_t i = 0, k = 0; i < f.n; ++i)
    if (f.labels[i] == wide && f.scratchLabels[k++] == 1) f.labels[i] = out->count;
  out->stats[wide] = parts[0];
  out->stats[out->count++] = parts[1];
  *ok = true;
  return 0;
}

struct Choice {
  int32_t width = -1, strength = -1;
};

// Stage B: the width cluster and, within it, the strength cluster with the best total of
// member count, strength and closeness to the expected width. Labels of the winning strength
// clustering are left in `strengthOf`.
csys_status dominantWidth(Work& w, Flat& f, Choice* choice, cidut_teethResults* results) {
  const double perBin = static_cast<double>(f.n) / (w.occupied > 1 ? w.occupied : 1);
  if (perBin > 2.7) return 0;
  for (int32_t i = 0; i < f.n; ++i) f.values[i] = f.cand[i].width;
  Clusters widths;
  bool ok = false;
  csys_status st = clusterValues(f, 0x7FFFFFFF, 0.1 * w.p.expectedWidth, 3, &widths, &ok);
  if (CSYS_FAILED(st) || !ok || widths.count == 0) return st;
  for (int32_t i = 0; i < f.n; ++i) f.widthOf[i] = f.labels[i];
  int32_t reference = 256 * w.p.cellCount;
  if (w.p.twoCellsPerTooth) reference /= 2;
  const int32_t widest = fix8(0.975 * w.p.expectedPitch);
  int64_t bestTotal = 0;
  bool any = false;
  for (int32_t c = 0; c < widths.count; ++c) {
    int32_t m = 0;
    if (CSYS_FAILED(st = cmath_statisticsFixed_getMean(&widths.stats[c], &m))) return st;
    if (m > widest) continue;
    const int32_t closeness = 256 - div256(std::abs(m - w.W), w.W);
    int64_t strengthSum = 0, members = 0;
    for (int32_t i = 0; i < f.n; ++i) {
      f.values[i] = f.widthOf[i] == c ? f.cand[i].strength : 0x40000;
      if (f.widthOf[i] == c) {
        strengthSum += f.cand[i].strength;
        ++members;
      }
    }
    const double meanStrength = members ? static_cast<double>(strengthSum) / members : 0.0;
    const double tolerance = 0.2 * (meanStrength / 256) < 20.0 ? 0.2 * (meanStrength / 256) : 20.0;
    Clusters strengths;
    if (CSYS_FAILED(st = clusterValues(f, 0x40000, tolerance, 2, &strengths, &ok))) return st;
    if (!ok) continue;
    for (int32_t s = 0; s < strengths.count; ++s) {
      int32_t sm = 0;
      if (CSYS_FAILED(st = cmath_statisticsFixed_getMean(&strengths.stats[s], &sm))) return st;
      if (sm > 0xFF00) continue;
      const int64_t total = int64_t{div256(strengths.stats[s].n * int64_t{256}, reference)} * 3 / 2 +
                            div256(sm, 0xFF00) + closeness / 2;
      if (!any || total > bestTotal) {
        any = true;
        bestTotal = total;
        choice->width = c;
        choice->strength = s;
        for (int32_t i = 0; i < f.n; ++i) f.strengthOf[i] = f.labels[i];
      }
    }
  }
  if (!any) return 0;
  int32_t m = 0;
  if (CSYS_FAILED(st = cmath_statisticsFixed_getMean(&widths.stats[choice->width], &m))) return st;
  results->dominantWidth = m;
  return 0;
}

inline int32_t modPositive(int64_t a, int32_t p) {
  const int64_t r = a % p;
  return static_cast<int32_t>(r < 0 ? r + p : r);
}

// Stage C: the phase of the tooth centres within a cell, from the chosen group.
csys_status gridShift(Work& w, Flat& f, const Choice& choice, int32_t* shift, bool* ok) {
  *ok = false;
  const int32_t P = w.P;
  for (int32_t i = 0; i < f.n; ++i) {
    const bool chosen = f.widthOf[i] == choice.width && f.strengthOf[i] == choice.strength;
    const int64_t p = int64_t{f.cand[i].centre} + w.offset;
    int32_t phase = modPositive(p, P);
    if (phase > P / 2 && p > P) phase = P - phase;
    f.values[i] = chosen ? phase : 10 * P;
  }
  Clusters phases;
  bool clustered = false;
  csys_status st = clusterValues(f, 10 * P, 0.1 * w.p.expectedPitch, 2, &phases, &clustered);
  if (CSYS_FAILED(st) || !clustered || phases.count == 0) return st;
  int32_t m = 0;
  if (CSYS_FAILED(st = cmath_statisticsFixed_getMean(&phases.stats[0], &m))) return st;
  if (m > P) {
    m = 0;
    if (phases.count > 1 && CSYS_FAILED(st = cmath_statisticsFixed_getMean(&phases.stats[1], &m))) return st;
  }
  *shift = m;
  *ok = true;
  return 0;
}

// Stage D: rescoring, cells, and the best candidate into each slot.
csys_status fillCells(Work& w, Flat& f, int32_t shift, int32_t dominant, cidut_teethResults* results) {
  const int32_t P = w.P;
  for (int32_t i = 0; i < f.n; ++i) {
    cidut_toothCand& t = f.cand[i];
    const int64_t p = int64_t{t.centre} + w.offset;
    const int32_t phase = modPositive(p, P);
    const int32_t reference = phase > P / 2 && p > P ? P - shift : shift;
    t.gridScore = div256(P - std::abs(phase - reference), P);
    t.widthScore = ratio256(t.width, dominant);
    const int32_t s = (((t.contrastRatio * 205 + 128) >> 8) + ((t.widthScore * 384 + 128) >> 8)) / 2;
    t.score = (s * t.gridScore + 128) >> 8;
    t.cell = static_cast<int32_t>(div256(p, P) >> 8);
  }
  const int32_t n = w.p.cellCount > 0 ? w.p.cellCount : 0;
  cidut_toothCand empty;
  cidut_toothCand_init(&empty);
  empty.point[0] = empty.point[1] = 0.0;
  empty.spare = 0;
  csys_status st = cstd_vector_cidut_toothCand_resizeFill(&results->teeth, static_cast<uint32_t>(n), &empty);
  if (CSYS_FAILED(st)) return st;
  cidut_toothCand* slots = nullptr;
  uint32_t size = 0;
  if (CSYS_FAILED(st = cstd_vector_cidut_toothCand_getBeginSize(&results->teeth, &slots, &size))) return st;
  const int32_t k = w.p.twoCellsPerTooth ? 2 : 1, usable = n - (w.p.skipEndCells ? 2 : 0);
  for (int32_t i = 0; i < f.n; ++i) {
    const cidut_toothCand& t = f.cand[i];
    if (t.cell < 0) continue;
    const int64_t slot = int64_t{t.cell} * k + (w.p.skipEndCells ? 1 : 0);
    if (slot >= usable) continue;
    cidut_toothCand& s = slots[slot];
    if (s.cell >= 0 && s.score >= t.score) continue;
    s = t;
    s.cell = t.cell * k;
  }
  int64_t deviation = 0, widthSum = 0, taken = 0;
  for (int32_t s = 0; s < n; ++s) {
    if (slots[s].startEdge < 0) continue;
    deviation += div256(slots[s].width, w.W) - 256;
    widthSum += slots[s].width;
    ++taken;
  }
  results->avgCellSizeDeviation = taken ? static_cast<int32_t>(deviation / taken) : 0;
  results->avgUndistortedCellSize = taken ? static_cast<int32_t>(widthSum / taken) : 0;
  return 0;
}

}  // namespace

csys_status gridAndCells(Work& w, const cmath_xform* back, const cmath_xformLinear* pointXform,
                         cidut_teethResults* results) {
  csys::CleanupList cleanup;
  Flat f;
  cleanup.destructAlways<freeFlat>(&f);
  csys_status st = allocFlat(f, w.candidates);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  int32_t k = 0;
  for (int32_t b = 0; b < w.bins.count; ++b) {
    const cidut_toothCand* begin = nullptr;
    uint32_t size = 0;
    if (CSYS_FAILED(st = cstd_vector_cidut_toothCand_getBeginSizeConst(&w.bins.items[b].teeth, &begin, &size)))
      return cleanup.exit(st);
    CSYS_REQUIRE(k + static_cast<int64_t>(size) <= w.candidates);
    for (uint32_t i = 0; i < size; ++i) f.cand[k++] = begin[i];
  }
  Choice choice;
  if (CSYS_FAILED(st = dominantWidth(w, f, &choice, results))) return cleanup.exit(st);
  if (choice.width < 0) return cleanup.exit(0);
  int32_t shift = 0;
  bool ok = false;
  if (CSYS_FAILED(st = gridShift(w, f, choice, &shift, &ok)) || !ok) return cleanup.exit(st);
  results->dominantGridShift = shift;
  if (CSYS_FAILED(st = fillCells(w, f, shift, results->dominantWidth, results))) return cleanup.exit(st);
  if (CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
  return cleanup.exit(completeTeeth(w, back, pointXform, results));
}

}  // namespace cidut_teeth
