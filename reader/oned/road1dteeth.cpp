#include "reader/oned/road1dteeth.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "base/cmath_affineRect.h"
#include "ci_id/gridpitch.h"
#include "ci_id/teeth.h"

namespace road1d {

namespace {

int32_t fixed(double v) { return static_cast<int32_t>(std::lround(v * 256)); }

using Span = std::pair<int, int>;  // a tooth's start and end edge

// The phase of the module grid, measured from the first edge: the middle of the largest group
// of edges that agree on a phase within a fifth of a module.
bool gridPhase(const std::vector<LineEdge>& edges, double pitch, double* phase) {
  const int32_t n = static_cast<int32_t>(edges.size()), p = fixed(pitch), window = std::max<int32_t>(1, p / 5);
  std::vector<int32_t> positions, scratch(n), order(n);
  // From the first edge, so that no position is negative: a negative one has its residue mirrored.
  for (const LineEdge& e : edges) positions.push_back(fixed(e.position - edges.front().position));
  int32_t origin = 0, flag = 0;
  if (CSYS_FAILED(cidut_cg1dOnGrid(n, positions.data(), scratch.data(), p, window, order.data(), &origin, &flag)))
    return false;
  *phase = (origin + window / 2) / 256.0;
  return true;
}

// The real (not synthesised) teeth of one polarity, appended to spans.
void teethOf(const std::vector<cidut_edge>& list, const cmath_shapeAffineRect& rect, cidut_edgePairingParams params,
             int polarity, std::vector<Span>& spans) {
  params.polarity = polarity;
  const cidut_edgeList edges{static_cast<int32_t>(list.size()), CIDUT_EDGELIST_ON_AXIS, 0, list.data()};
  cidut_teethResults results;
  if (CSYS_FAILED(cidut_teethResults_construct(&results))) return;
  const cidut_toothCand *begin = nullptr, *end = nullptr;
  if (!CSYS_FAILED(cidut_edgesToTeeth(&params, &edges, nullptr, nullptr, &rect, nullptr, &results)) &&
      !CSYS_FAILED(cstd_vector_cidut_toothCand_getBeginEndConst(&results.teeth, &begin, &end)))
    for (const cidut_toothCand* t = begin; t != end; ++t)
      if (t->startEdge >= 0 && t->endEdge > t->startEdge && t->endEdge < edges.count)
        spans.push_back({t->startEdge, t->endEdge});
  cidut_teethResults_destruct(&results);
}

// The teeth of both polarities on a grid of two-module cells (see the header).
std::vector<Span> teeth(const std::vector<LineEdge>& edges, double pitch) {
  std::vector<Span> spans;
  double phase = 0;
  if (!gridPhase(edges, pitch, &phase)) return spans;
  const double centre = 0.5 * (edges.front().position + edges.back().position);
  const double half = 0.5 * (edges.back().position - edges.front().position) + 2 * pitch;
  std::vector<cidut_edge> list;
  for (const LineEdge& e : edges)
    list.push_back({fixed(e.position - centre), (e.rising ? 1 : -1) * fixed(std::min(e.strength, 255.0))});
  const cmath_shapeAffineRectPoints points{{-half, -4}, {half, -4}, {-half, 4}};
  cmath_shapeAffineRect rect;
  cidut_edgePairingParams params;
  if (CSYS_FAILED(cmath_shapeAffineRect_initPoints(&rect, &points)) ||
      CSYS_FAILED(cidut_edgePairingParams_init(&params)) || CSYS_FAILED(cmath_range_init(&params.widthRange, 0.5, 4.5)))
    return spans;
  // Cells are counted from the line's start plus gridOffset: borders at a quarter module past
  // the grid phase, every two modules, and every edge in a cell of non-negative index.
  const double cell = 2 * pitch, border = edges.front().position - centre + phase + 0.25 * pitch;
  params.gridOffset = std::fmod(std::fmod(-border, cell) + cell, cell);
  while (params.gridOffset < half) params.gridOffset += cell;
  params.cellCount = static_cast<int32_t>(std::ceil((half + params.gridOffset) / cell)) + 1;
  params.expectedWidth = pitch;
  params.expectedPitch = cell;
  teethOf(list, rect, params, 1, spans);
  teethOf(list, rect, params, 0, spans);
  return spans;
}

}  // namespace

double modulePitch(const std::vector<LineEdge>& edges) {
  const size_t n = edges.size();
  if (n < 8) return 0;
  std::vector<double> widths;
  for (size_t i = 1; i < n; ++i) widths.push_back(edges[i].position - edges[i - 1].position);
  std::sort(widths.begin(), widths.end());
  // A quarter of the elements at least are one module wide in every symbology read here.
  const double quarter = widths[widths.size() / 4];
  double sum = 0;
  int count = 0;
  for (double w : widths)
    if (w <= 1.5 * quarter) {
      sum += w;
      ++count;
    }
  const double narrow = sum / count;
  if (!(narrow > 1)) return 0;
  std::vector<int32_t> positions;
  for (const LineEdge& e : edges) positions.push_back(fixed(e.position));
  // Print spread moves the bars' edges against the spaces' by a fraction of a module: the
  // position noise allowed is an eighth of the nominal pitch, the scale a quarter either way.
  const int32_t nominal = fixed(narrow), tolerance = std::max<int32_t>(1, nominal / 8);
  int32_t fitSum = 0, inliers = 0, pitch = 0;
  if (CSYS_FAILED(cidut_cg1dComputeScaledPitch(static_cast<int32_t>(n), positions.data(), nominal, 760, 1240, tolerance,
                                               0, 64, &fitSum, &inliers, &pitch)))
    return 0;
  return pitch / 256.0;
}

std::vector<LineEdge> mergedByTeeth(const std::vector<LineEdge>& edges) {
  const double pitch = modulePitch(edges);
  if (!(pitch > 1)) return edges;
  std::vector<char> drop(edges.size(), 0);
  for (const auto& [a, b] : teeth(edges, pitch)) {
    if (b - a < 3) continue;
    const double outer = std::min(edges[a].strength, edges[b].strength);
    bool weak = true;
    for (int i = a + 1; i < b && weak; ++i) weak = edges[i].strength < 0.5 * outer;
    if (weak) std::fill(drop.begin() + a + 1, drop.begin() + b, 1);
  }
  std::vector<LineEdge> kept;
  for (size_t i = 0; i < edges.size(); ++i)
    if (!drop[i]) kept.push_back(edges[i]);
  return kept;
}

}  // namespace road1d
