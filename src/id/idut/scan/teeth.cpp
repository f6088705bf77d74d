// Edges to teeth: the records, the parameters, the optional remapping through a perspective
// mapping, the pairing of edges into candidates in pitch bins, and the driver that runs the
// grid stages (teethgrid.cpp) after them.
#include "ci_id/teeth.h"

#include <cmath>
#include <cstdlib>

#include "base/csys_cleanup.hpp"
#include "ci_id/priv/ci_idut/teeth_work.hpp"
#include "ci_id/priv/ci_idut/vector_defs.hpp"
#include "ci_id/projective.h"

CSTD_TYPED_VECTOR_DEFS(cidut_toothCand, cidut_toothCand, nullptr)

namespace cidut_teeth {

csys_status destroyBins(Bins* bins) {
  csys_status first = 0;
  for (int32_t i = 0; i < bins->count; ++i) {
    const csys_status st = cidut_teethResults_destruct(&bins->items[i]);
    if (CSYS_FAILED(st) && first == 0) first = st;
  }
  bins->count = 0;
  void* block = bins->items;
  csys_memory_free_internal(&block);
  bins->items = nullptr;
  return first;
}

csys_status remap(Work& w, const cmath_xform& mapping, const cmath_shapeAffineRect& rect) {
  cmath_vect unit;
  csys_status st = cmath_shapeAffineRect_getUnitPoPx(&rect, &unit);
  if (CSYS_FAILED(st)) return st;
  cmath_shapeAffineRect mappedRect;
  if (CSYS_FAILED(st = cidut_affine_mapPerspective(&rect, &mapping, &mappedRect))) return st;
  if (CSYS_FAILED(st = cmath_shapeAffineRect_getCenter(&mappedRect, &w.rect))) return st;
  CSYS_REQUIRE(w.unmapped.xLength > 0.0);
  const double scale = w.rect.xLength / w.unmapped.xLength;
  w.p.expectedWidth *= scale;
  w.p.widthRange.start *= scale;
  w.p.widthRange.end *= scale;
  w.p.expectedPitch *= scale;
  w.p.gridOffset *= scale;
  for (int32_t i = 0; i < w.count; ++i) {
    const double t = w.edges[i].position / 256.0;
    const cmath_vect p{w.unmapped.center.x + t * unit.x, w.unmapped.center.y + t * unit.y};
    cmath_vect q;
    if (CSYS_FAILED(st = cmath_xform_mapPoint(&mapping, &p, &q))) return st;
    const double d = cmath_vect_getDistance(&q, &w.rect.center);
    w.remapped[i] = (w.edges[i].position < 0 ? -1 : 1) * fix8(d);
  }
  return 0;
}

namespace {

bool startsTooth(const Work& w, int32_t strength) { return w.p.polarity ? strength <= 0 : strength > 0; }

// The limit compares the signed strength: with a limit in force, an edge of negative strength
// never passes it.
bool strongEnough(int32_t strength, int32_t smin) { return smin < 0 || strength >= smin; }

csys_status addCandidate(Work& w, int32_t i, int32_t j, int32_t width, int32_t ratio, int32_t* score) {
  cidut_toothCand t;
  cidut_toothCand_init(&t);
  t.point[0] = t.point[1] = 0.0;
  t.spare = 0;
  t.centre = (w.position(i) + w.position(j)) / 2;
  t.position = (w.edges[i].position + w.edges[j].position) / 2;
  t.startEdge = i;
  t.endEdge = j;
  t.strength = (std::abs(w.edges[i].strength) + std::abs(w.edges[j].strength)) / 2;
  t.width = width;
  t.contrastRatio = ratio;
  t.widthScore = ratio256(width, w.W);
  t.score = (t.widthScore * ratio + 128) >> 8;
  *score = t.score;
  const int32_t b = (w.H + t.centre) / w.P;
  CSYS_REQUIRE(b >= 0 && b < w.bins.count && w.H + t.centre >= 0);
  cidut_teethResults& bin = w.bins.items[b];
  uint32_t size = 0;
  cidut_toothCand* begin = nullptr;
  csys_status st = cstd_vector_cidut_toothCand_getBeginSize(&bin.teeth, &begin, &size);
  if (CSYS_FAILED(st)) return st;
  if (size == 0) {
    ++w.occupied;
    bin.bestIndex = 0;
  } else if (begin[bin.bestIndex].score < t.score) {
    bin.bestIndex = static_cast<int32_t>(size);
  }
  if (CSYS_FAILED(st = cstd_vector_cidut_toothCand_pushBack(&bin.teeth, &t))) return st;
  ++w.candidates;
  return 0;
}

}  // namespace

csys_status pairIntoBins(Work& w) {
  const int32_t wmin = fix8(w.p.widthRange.start * w.p.expectedWidth);
  const int32_t wmax = fix8(w.p.widthRange.end * w.p.expectedWidth);
  const int32_t smin = w.p.minEdgeStrength < 0 ? -1 : fix8(w.p.minEdgeStrength);
  const int32_t rmin = fix8(w.p.minContrastRatio);
  csys_status st = 0;
  for (int32_t i = 0; i + 1 < w.count; ++i) {
    const int32_t si = w.edges[i].strength;
    if (!startsTooth(w, si) || !strongEnough(si, smin)) continue;
    for (int32_t j = i + 1; j < w.count; ++j) {
      const int32_t sj = w.edges[j].strength;
      if (startsTooth(w, sj) || !strongEnough(sj, smin)) continue;
      const int32_t ratio = ratio256(std::abs(si), std::abs(sj));
      const int32_t width = std::abs(w.position(i) - w.position(j));
      if (width >= wmax) break;
      if (width <= wmin || ratio <= rmin) continue;
      int32_t score = 0;
      if (CSYS_FAILED(st = addCandidate(w, i, j, width, ratio, &score))) return st;
      if (score <= 0) break;
    }
  }
  return 0;
}

}  // namespace cidut_teeth

using namespace cidut_teeth;

namespace {

void resetResults(cidut_teethResults* r) {
  r->dominantWidth = r->dominantGridShift = r->averagePitch = -256;
  r->avgCellSizeDeviation = r->avgUndistortedCellSize = r->expectedWidth = -256;
  r->reserved = -256;
  r->bestIndex = -1;
}

csys_status makeBins(Work& w, int32_t n) {
  void* block = nullptr;
  csys_status st = csys_memory_allocClear_internal(sizeof(cidut_teethResults) * static_cast<size_t>(n), &block);
  if (CSYS_FAILED(st)) return st;
  w.bins.items = static_cast<cidut_teethResults*>(block);
  for (int32_t i = 0; i < n; ++i) {
    if (CSYS_FAILED(st = cidut_teethResults_construct(&w.bins.items[i]))) return st;
    w.bins.count = i + 1;
  }
  return 0;
}

}  // namespace

extern "C" {

csys_status cidut_edgePairingParams_init(cidut_edgePairingParams* p) {
  CSYS_REQUIRE(p != nullptr);
  p->cellCount = 0;
  p->twoCellsPerTooth = 0;
  p->skipEndCells = 0;
  p->polarity = 1;
  p->expectedWidth = 0.0;
  const csys_status st = cmath_range_init(&p->widthRange, 0.3, 1.7);
  if (CSYS_FAILED(st)) return st;
  p->expectedPitch = 0.0;
  p->gridOffset = -1.0;
  p->minEdgeStrength = -1.0;
  p->minContrastRatio = 0.45;
  p->widthLimit = -1.0;
  p->minTeeth = 2;
  p->computePoints = 0;
  return 0;
}

csys_status cidut_toothCand_init(cidut_toothCand* t) {
  CSYS_REQUIRE(t != nullptr);
  t->position = 0;
  t->score = t->strength = -256;
  t->startEdge = t->endEdge = t->cell = -1;
  t->centre = t->width = 0;
  t->gridScore = t->widthScore = t->contrastRatio = -256;
  return 0;
}

csys_status cidut_toothCand_assign(cidut_toothCand* t, const cidut_toothCand* source) {
  CSYS_REQUIRE(t != nullptr && source != nullptr);
  *t = *source;
  return 0;
}

csys_status cidut_teethResults_construct(cidut_teethResults* r) {
  CSYS_REQUIRE(r != nullptr);
  csys::CleanupList cleanup;
  resetResults(r);
  csys_status st = cstd_vector_cidut_toothCand_constructEmpty(&r->teeth);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cstd_vector_cidut_toothCand_destruct>(&r->teeth);
  return cleanup.exit(cstd_vector_cidut_toothCand_reserve(&r->teeth, 5));
}

csys_status cidut_teethResults_constructCopy(cidut_teethResults* r, const cidut_teethResults* source) {
  CSYS_REQUIRE(r != nullptr && source != nullptr);
  csys::CleanupList cleanup;
  csys_status st = cidut_teethResults_construct(r);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cidut_teethResults_destruct>(r);
  return cleanup.exit(cidut_teethResults_assign(r, source));
}

csys_status cidut_teethResults_assign(cidut_teethResults* r, const cidut_teethResults* source) {
  CSYS_REQUIRE(r != nullptr && source != nullptr);
  if (r == source) return 0;
  const csys_status st = cstd_vector_cidut_toothCand_assign(&r->teeth, &source->teeth);
  if (CSYS_FAILED(st)) return st;
  r->dominantWidth = source->dominantWidth;
  r->dominantGridShift = source->dominantGridShift;
  r->averagePitch = source->averagePitch;
  r->avgCellSizeDeviation = source->avgCellSizeDeviation;
  r->avgUndistortedCellSize = source->avgUndistortedCellSize;
  r->expectedWidth = source->expectedWidth;
  r->reserved = source->reserved;
  r->bestIndex = source->bestIndex;
  return 0;
}

csys_status cidut_teethResults_destruct(cidut_teethResults* r) {
  CSYS_REQUIRE(r != nullptr);
  return cstd_vector_cidut_toothCand_destruct(&r->teeth);
}

csys_status cidut_edgesToTeeth(const cidut_edgePairingParams* params, const cidut_edgeList* edges,
                               const cmath_xform* mapping, const cmath_xform* back, const cmath_shapeAffineRect* rect,
                               const cmath_xformLinear* pointXform, cidut_teethResults* results) {
  CSYS_REQUIRE(params != nullptr && edges != nullptr && rect != nullptr && results != nullptr);
  CSYS_REQUIRE(edges->count >= 0 && (edges->count == 0 || edges->edges != nullptr));
  resetResults(results);
  csys_status st = cstd_vector_cidut_toothCand_clear(&results->teeth);
  if (CSYS_FAILED(st)) return st;
  if (edges->count < 5) return 0;
  Work w;
  w.p = *params;
  w.edges = edges->edges;
  w.count = edges->count;
  csys::CleanupList cleanup;
  cleanup.destructAlways<destroyBins>(&w.bins);
  if (CSYS_FAILED(st = cmath_shapeAffineRect_getCenter(rect, &w.unmapped))) return cleanup.exit(st);
  w.rect = w.unmapped;
  if ((edges->flags & CIDUT_EDGELIST_ON_AXIS) == 0) return cleanup.exit(cidut_errBadArgument);
  const bool remapping = mapping != nullptr && back != nullptr;
  if (remapping) {
    if (CSYS_FAILED(st = csys_memory_alloc_internal(sizeof(int32_t) * static_cast<size_t>(w.count),
                                                    reinterpret_cast<void**>(&w.remapped))))
      return cleanup.exit(st);
    cleanup.freeAlways(&w.remapped);
    if (CSYS_FAILED(st = remap(w, *mapping, *rect))) return cleanup.exit(st);
  }
  if (!(w.p.expectedPitch > 0.0) || !(w.p.expectedWidth >= 0.0) || !(w.rect.xLength < 1e7)) {
    cstd_assert_(__LINE__);
    return cleanup.exit(csys_errAssertion);
  }
  w.W = fix8(w.p.expectedWidth);
  w.P = fix8(w.p.expectedPitch);
  w.H = fix8(w.rect.xLength / 2);
  w.offset = w.p.gridOffset < 0 ? w.H : fix8(w.p.gridOffset);
  if (w.P <= 0) {
    cstd_assert_(__LINE__);
    return cleanup.exit(csys_errAssertion);
  }
  const double binCount = cmath_double_ceil(w.rect.xLength / (w.p.expectedPitch * 0.8));
  if (CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
  if (CSYS_FAILED(st = makeBins(w, binCount > 1 ? static_cast<int32_t>(binCount) : 1))) return cleanup.exit(st);
  if (CSYS_FAILED(st = pairIntoBins(w))) return cleanup.exit(st);
  if (CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
  if (CSYS_FAILED(st = gridAndCells(w, remapping ? back : nullptr, pointXform, results))) return cleanup.exit(st);
  if (CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
  results->expectedWidth = fix8(params->expectedWidth);
  return cleanup.exit(0);
}

}  // extern "C"
