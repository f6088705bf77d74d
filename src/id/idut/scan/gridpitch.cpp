// Grid pitch: grid phase and cell numbers of edges along a line, and the refinement of a
// nominal pitch from the drift of the edges' phase.
#include "ci_id/gridpitch.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "base/csys_cleanup.hpp"

namespace {

constexpr int32_t kOffGrid = std::numeric_limits<int32_t>::min();
constexpr int64_t kNoFit = std::numeric_limits<int32_t>::max();

inline int32_t clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Shell sort of the indices by key, gaps 1, 4, 13, 40, ... taken largest first.
void sortIndicesByKey(int32_t* order, const int32_t* key, int32_t n) {
  for (int32_t i = 0; i < n; ++i) order[i] = i;
  int64_t gap = 1;
  while (3 * gap + 1 < n) gap = 3 * gap + 1;
  for (; gap >= 1; gap /= 3) {
    const auto h = static_cast<int32_t>(gap);
    for (int32_t i = h; i < n; ++i) {
      const int32_t moving = order[i];
      int32_t j = i;
      while (j >= h && key[order[j - h]] > key[moving]) {
        order[j] = order[j - h];
        j -= h;
      }
      order[j] = moving;
    }
  }
}

struct Group {
  int32_t start = -1;  // sorted index of the first member
  int32_t end = 0;     // sorted index one past the last member (a wrapping group ends before start)
  int32_t size = 0;
  int64_t spread = 0;
  bool wraps = false;
};

// The last residue of a group, raised by the pitch when the group wraps round to small residues.
int64_t lastResidue(const int32_t* r, const int32_t* order, int32_t n, int32_t pitch, const Group& g) {
  int64_t last = g.end == 0 ? r[order[n - 1]] : r[order[g.end - 1]];
  if (last < r[order[g.start]]) last += pitch;
  return last;
}

void consider(Group* best, const Group& g) {
  if (g.size > best->size || (g.size == best->size && g.spread < best->spread)) *best = g;
}

// The largest group of residues lying within less than `window` of its first one.
Group largestGroup(const int32_t* r, const int32_t* order, int32_t n, int32_t pitch, int32_t window) {
  Group best;
  int32_t a = 0, b = 0;
  for (; a < n; ++a) {
    b = std::max(b, a);
    const int64_t limit = static_cast<int64_t>(r[order[a]]) + window;
    while (b < n && r[order[b]] < limit) ++b;
    if (b == n) break;  // this group may go on past the wrap: measured below
    Group g{a, b, b - a, 0, false};
    g.spread = static_cast<int64_t>(r[order[b - 1]]) - r[order[a]];
    consider(&best, g);
  }
  for (b = 0; a < n; ++a) {
    const int64_t limit = static_cast<int64_t>(r[order[a]]) + window;
    while (b < a && static_cast<int64_t>(r[order[b]]) + pitch < limit) ++b;
    Group g{a, b, b + n - a, 0, true};
    g.spread = lastResidue(r, order, n, pitch, g) - r[order[a]];
    consider(&best, g);
  }
  return best;
}

// Cell of an edge at distance d from the grid origin.
inline int64_t cellOf(int64_t d, int32_t pitch) { return d < 0 ? (d - pitch) / pitch : d / pitch; }

// ---- least squares on (cell, phase) points -------------------------------------------------

struct PhasePoint {
  int32_t x;  // cell number
  int32_t y;  // phase within the cell, 1/256
};

struct Fit {
  int64_t n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;

  void add(int64_t x, int64_t y) {
    ++n;
    sx += x;
    sy += y;
    sxx += x * x;
    syy += y * y;
    sxy += x * y;
  }
  void remove(int64_t x, int64_t y) {
    --n;
    sx -= x;
    sy -= y;
    sxx -= x * x;
    syy -= y * y;
    sxy -= x * y;
  }
  int64_t det() const { return n * sxx - sx * sx; }
  int64_t slope() const {
    const int64_t d = det();
    return d == 0 ? kNoFit : (n * sxy - sx * sy) / d;
  }
  int64_t intercept() const {
    const int64_t d = det();
    return d == 0 ? 0 : (sxx * sy - sx * sxy) / d;
  }
  // Residual sum of squares about the least-squares line. Formed from the centred sums rather
  // than from the truncated slope and intercept: cell numbers run into the hundreds, and a slope
  // cut to whole 1/256 would make a straight run look bent far from cell 0.
  int64_t residual() const {
    const int64_t d = det();
    if (d == 0) return kNoFit;
    const double nn = static_cast<double>(n);
    const double cxy = static_cast<double>(n * sxy - sx * sy);
    const double cyy = static_cast<double>(n * syy - sy * sy);
    return static_cast<int64_t>(std::max(0.0, (cyy - cxy * cxy / static_cast<double>(d)) / nn));
  }
};

struct Trial {
  Fit fit;
  PhasePoint* points = nullptr;
  int32_t count = 0;

  void add(int32_t x, int32_t y) {
    fit.add(x, y);
    points[count++] = PhasePoint{x, y};
  }
  void clear() {
    fit = Fit{};
    count = 0;
  }
};

struct RoundResult {
  int32_t pitch;
  int32_t fitSum = 0;
  int32_t inliers = 0;
};

// Appends a run's points to the joint fit, shifted so that the run's mean matches the joint
// mean: every run adds its slope, not its offset.
void mergeRun(Trial* joint, const Trial& run) {
  int64_t dx = 0, dy = 0;
  if (joint->fit.n > 0) {
    dx = joint->fit.sx / joint->fit.n - run.fit.sx / run.fit.n;
    dy = joint->fit.sy / joint->fit.n - run.fit.sy / run.fit.n;
  }
  for (int32_t i = 0; i < run.count; ++i)
    joint->add(clamp32(run.points[i].x + dx), clamp32(run.points[i].y + dy));
}

// Closes a run: the straighter of the two trial fits joins the joint fit.
void closeRun(Trial* joint, Trial* trials) {
  if (trials[0].fit.det() != 0) {  // spans at least one cell
    const int64_t r0 = trials[0].fit.residual(), r1 = trials[1].fit.residual();
    int winner = r1 < r0 ? 1 : 0;
    if (r0 == r1 && std::llabs(trials[1].fit.slope()) < std::llabs(trials[0].fit.slope())) winner = 1;
    mergeRun(joint, trials[winner]);
  }
  trials[0].clear();
  trials[1].clear();
}

// Drops the points far from the joint line, refits and corrects the pitch by the phase drift.
void robustFit(Trial* joint, int32_t pitch, int32_t window, int32_t inlierTolerance, RoundResult* out) {
  Fit& f = joint->fit;
  const int64_t h = (static_cast<int64_t>(window / 2) * 256) / pitch;
  int64_t a = f.intercept(), b = f.slope();
  for (int32_t i = 0; i < joint->count; ++i) {
    const PhasePoint& p = joint->points[i];
    if (std::llabs(p.y - (b * p.x + a)) > h) f.remove(p.x, p.y);
  }
  if (f.det() == 0) return;
  a = f.intercept();
  b = f.slope();
  out->pitch = clamp32(pitch + ((b * pitch) >> 8));
  int32_t inliers = 0;
  for (int32_t i = 0; i < joint->count; ++i) {
    const PhasePoint& p = joint->points[i];
    if (2 * std::llabs(p.y - (b * p.x + a)) < inlierTolerance) ++inliers;
  }
  out->inliers = inliers;
}

struct Walk {
  int32_t n;
  const int32_t* positions;
  Trial joint, trials[2];
};

// One round at pitch P with runs of K cells and search window W.
RoundResult trialRound(Walk& w, int64_t K, int32_t P, int64_t W, int32_t inlierTolerance) {
  RoundResult out{P};
  if (P < W) return out;
  w.joint.clear();
  w.trials[0].clear();
  w.trials[1].clear();
  const int64_t p0 = w.positions[0];
  const int64_t dir = w.positions[w.n - 1] < w.positions[0] ? -1 : 1;
  const int64_t origins[2] = {p0, p0 - dir * (P / 2)};
  int64_t runStart = 0;
  for (int32_t i = 0; i < w.n; ++i) {
    const int64_t d0 = std::llabs(w.positions[i] - origins[0]);
    if ((runStart + K) * 256 < (256 * d0) / P - 128) {
      closeRun(&w.joint, w.trials);
      runStart = d0 / P;
    }
    for (int k = 0; k < 2; ++k) {
      const int64_t d = std::llabs(w.positions[i] - origins[k]);
      const int64_t x = d / P;
      w.trials[k].add(clamp32(x), clamp32((d * 256) / P - 256 * x));
    }
  }
  closeRun(&w.joint, w.trials);
  if (w.joint.fit.n < 2) return out;
  out.fitSum = clamp32(w.joint.fit.sx);
  robustFit(&w.joint, P, clamp32(W), inlierTolerance, &out);
  return out;
}

}  // namespace

extern "C" {

csys_status cidut_cg1dOnGrid(int32_t n, const int32_t* positions, int32_t* scratch, int32_t pitch, int32_t window,
                             int32_t* order, int32_t* origin, int32_t* flag) {
  CSYS_REQUIRE(positions != nullptr && scratch != nullptr && order != nullptr && origin != nullptr &&
               flag != nullptr);
  CSYS_REQUIRE(n >= 2 && pitch > 0 && window > 0 && window <= pitch);
  int32_t* r = scratch;
  for (int32_t i = 0; i < n; ++i) r[i] = std::abs(positions[i] % pitch);
  sortIndicesByKey(order, r, n);

  const Group g = largestGroup(r, order, n, pitch, window);
  const int64_t first = r[order[g.start]];
  const int64_t o = (first + lastResidue(r, order, n, pitch, g) - window) / 2;

  // Cell numbers of the group's members, by edge; everyone else keeps the marker.
  for (int32_t i = 0; i < n; ++i) r[i] = kOffGrid;
  int64_t smallest = std::numeric_limits<int64_t>::max();
  auto number = [&](int32_t s) {
    const int32_t e = order[s];
    const int64_t c = cellOf(static_cast<int64_t>(positions[e]) - o, pitch);
    r[e] = static_cast<int32_t>(c);
    smallest = std::min(smallest, c);
  };
  if (g.wraps) {
    for (int32_t s = g.start; s < n; ++s) number(s);
    for (int32_t s = 0; s < g.end; ++s) number(s);
  } else {
    for (int32_t s = g.start; s < g.end; ++s) number(s);
  }
  for (int32_t i = 0; i < n; ++i) {
    r[i] = r[i] == kOffGrid ? -1 : clamp32(r[i] - smallest);
    order[i] = r[i];
  }
  *origin = static_cast<int32_t>(o);
  *flag = 0;
  return 0;
}

csys_status cidut_cg1dComputeScaledPitch(int32_t n, const int32_t* positions, int32_t nominalPitch, int32_t minScale,
                                         int32_t maxScale, int32_t tolerance, int32_t /*reserved*/,
                                         int32_t inlierTolerance, int32_t* fitSum, int32_t* inliers,
                                         int32_t* pitch) {
  CSYS_REQUIRE(positions != nullptr && fitSum != nullptr && inliers != nullptr && pitch != nullptr);
  CSYS_REQUIRE(n >= 2 && nominalPitch >= 1 && minScale >= 501 && maxScale >= 1001 && maxScale >= minScale &&
               maxScale < 2000 && tolerance >= 1 && tolerance < nominalPitch / 2);
  int64_t W = (static_cast<int64_t>(nominalPitch) * (maxScale - minScale)) / 1000 + 2 * tolerance;
  int64_t K = 499 / (maxScale - 1000);
  if (minScale < 1000) K = std::min<int64_t>(K, 499 / (1000 - minScale));
  CSYS_REQUIRE(K >= 2);
  const int64_t span = std::llabs(static_cast<int64_t>(positions[n - 1]) - positions[0]) / nominalPitch;

  csys::CleanupList cleanup;
  PhasePoint* points = nullptr;
  csys_status st = csys_memory_allocFastMem_internal(3 * static_cast<size_t>(n) * sizeof(PhasePoint),
                                                     reinterpret_cast<void**>(&points));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&points);

  Walk walk{n, positions, {}, {}};
  walk.joint.points = points;
  walk.trials[0].points = points + n;
  walk.trials[1].points = points + 2 * static_cast<size_t>(n);

  int32_t P = nominalPitch;
  RoundResult last{P};
  int64_t previousSum = std::numeric_limits<int64_t>::min();
  // Each round either stops or strictly grows the fit sum, which is bounded; the cap only guards
  // against pathological inputs.
  for (int round = 0; round < 64; ++round) {
    last = trialRound(walk, K, P, W, inlierTolerance);
    if (std::abs(static_cast<int64_t>(P) - last.pitch) < 2 || span < K) break;
    const int64_t c = last.fitSum;
    if (c > 0) {
      // A larger fit narrows the search window and lengthens the runs.
      W = std::min<int64_t>(W, (2 * static_cast<int64_t>(tolerance)) / c + 2 * tolerance);
      const double runs = std::min(499.0 * static_cast<double>(c) * last.pitch / tolerance, 4e18);
      K = std::max<int64_t>(K, static_cast<int64_t>(runs));
    }
    if (span < K || c <= previousSum) break;
    previousSum = c;
    P = last.pitch;
  }
  *fitSum = last.fitSum;
  *inliers = last.inliers;
  *pitch = last.pitch;
  return cleanup.exit(0);
}

}  // extern "C"
