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
constexpr int32_t kNoFit = std::numeric_limits<int32_t>::max();

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
// Every quantity of the fit is a 32-bit word that wraps: sums, products and differences are
// formed in unsigned arithmetic and read back as signed, and the divisions truncate.

inline int32_t wrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t wrapSub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int32_t wrapMul(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }
inline int32_t wrapAbs(int32_t a) { return a < 0 ? wrapSub(0, a) : a; }
// Truncating division; the one quotient that does not fit (-2^31 / -1) wraps to -2^31.
inline int32_t wrapDiv(int32_t a, int32_t b) { return b == -1 ? wrapSub(0, a) : a / b; }

struct PhasePoint {
  int32_t x;  // cell number
  int32_t y;  // phase within the cell, 1/256
};

struct Fit {
  int32_t n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;

  void add(int32_t x, int32_t y) {
    n = wrapAdd(n, 1);
    sx = wrapAdd(sx, x);
    sy = wrapAdd(sy, y);
    sxx = wrapAdd(sxx, wrapMul(x, x));
    syy = wrapAdd(syy, wrapMul(y, y));
    sxy = wrapAdd(sxy, wrapMul(x, y));
  }
  void remove(int32_t x, int32_t y) {
    n = wrapSub(n, 1);
    sx = wrapSub(sx, x);
    sy = wrapSub(sy, y);
    sxx = wrapSub(sxx, wrapMul(x, x));
    syy = wrapSub(syy, wrapMul(y, y));
    sxy = wrapSub(sxy, wrapMul(x, y));
  }
  int32_t det() const { return wrapSub(wrapMul(n, sxx), wrapMul(sx, sx)); }
  int32_t slope() const {
    const int32_t d = det();
    return d == 0 ? kNoFit : wrapDiv(wrapSub(wrapMul(n, sxy), wrapMul(sx, sy)), d);
  }
  int32_t intercept() const {
    const int32_t d = det();
    return d == 0 ? 0 : wrapDiv(wrapSub(wrapMul(sxx, sy), wrapMul(sx, sxy)), d);
  }
  // Residual sum of squares about the line y = b x + a with the truncated slope and intercept:
  // syy - 2a sy - 2b sxy + n a^2 + 2ab sx + b^2 sxx.
  int32_t residual() const {
    if (det() == 0) return kNoFit;
    const int32_t a = intercept(), b = slope();
    int32_t r = syy;
    r = wrapSub(r, wrapMul(wrapMul(2, a), sy));
    r = wrapSub(r, wrapMul(wrapMul(2, b), sxy));
    r = wrapAdd(r, wrapMul(n, wrapMul(a, a)));
    r = wrapAdd(r, wrapMul(wrapMul(wrapMul(2, a), b), sx));
    r = wrapAdd(r, wrapMul(wrapMul(b, b), sxx));
    return r;
  }
};

// |y - (b x + a)|, wrapping.
inline int32_t offLine(const PhasePoint& p, int32_t a, int32_t b) {
  return wrapAbs(wrapSub(p.y, wrapAdd(wrapMul(b, p.x), a)));
}

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
  // True when the points cover more than one cell.
  bool spansACell() const {
    if (count == 0) return false;
    int32_t lo = points[0].x, hi = points[0].x;
    for (int32_t i = 1; i < count; ++i) {
      lo = std::min(lo, points[i].x);
      hi = std::max(hi, points[i].x);
    }
    return hi > lo;
  }
};

struct RoundResult {
  int32_t pitch;
  int32_t fitSum = 0;
  int32_t inliers = 0;
};

// Appends a run's points to the joint fit, shifted so that the run's integer means match the
// joint ones: every run adds its slope, not its offset.
void mergeRun(Trial* joint, const Trial& run) {
  int32_t dx = 0, dy = 0;
  if (joint->fit.n > 0) {
    dx = wrapSub(wrapDiv(joint->fit.sx, joint->fit.n), wrapDiv(run.fit.sx, run.fit.n));
    dy = wrapSub(wrapDiv(joint->fit.sy, joint->fit.n), wrapDiv(run.fit.sy, run.fit.n));
  }
  for (int32_t i = 0; i < run.count; ++i) joint->add(wrapAdd(run.points[i].x, dx), wrapAdd(run.points[i].y, dy));
}

// Closes a run that spans a cell: the trial with the smaller residual sum joins the joint fit,
// on equal sums the one with the smaller absolute slope.
void closeRun(Trial* joint, Trial* trials) {
  if (trials[0].spansACell()) {
    const int32_t r0 = trials[0].fit.residual(), r1 = trials[1].fit.residual();
    int winner = r1 < r0 ? 1 : 0;
    if (r0 == r1 && wrapAbs(trials[1].fit.slope()) < wrapAbs(trials[0].fit.slope())) winner = 1;
    mergeRun(joint, trials[winner]);
  }
  trials[0].clear();
  trials[1].clear();
}

// Drops the points far from the joint line, refits and corrects the pitch by the phase drift.
// Inliers lie within half the inlier tolerance: |y - (b x + a)| < v / 2, v / 2 truncated.
void robustFit(Trial* joint, int32_t pitch, int32_t window, int32_t inlierTolerance, RoundResult* out) {
  Fit& f = joint->fit;
  const int32_t h = wrapDiv(wrapMul(window / 2, 256), pitch);
  int32_t a = f.intercept(), b = f.slope();
  for (int32_t i = 0; i < joint->count; ++i) {
    const PhasePoint& p = joint->points[i];
    if (offLine(p, a, b) > h) f.remove(p.x, p.y);
  }
  if (f.det() == 0) return;
  a = f.intercept();
  b = f.slope();
  out->pitch = wrapAdd(pitch, wrapMul(b, pitch) >> 8);
  const int32_t halfTolerance = inlierTolerance / 2;
  int32_t inliers = 0;
  for (int32_t i = 0; i < joint->count; ++i)
    if (offLine(joint->points[i], a, b) < halfTolerance) ++inliers;
  out->inliers = inliers;
}

struct Walk {
  int32_t n;
  const int32_t* positions;
  Trial joint, trials[2];
};

// One round at pitch P with runs of K cells and search window W.
RoundResult trialRound(Walk& w, int32_t K, int32_t P, int32_t W, int32_t inlierTolerance) {
  RoundResult out{P};
  if (P < W) return out;
  w.joint.clear();
  w.trials[0].clear();
  w.trials[1].clear();
  const int32_t p0 = w.positions[0];
  const int32_t dir = w.positions[w.n - 1] < w.positions[0] ? -1 : 1;
  const int32_t origins[2] = {p0, wrapSub(p0, wrapMul(dir, P / 2))};
  int32_t runStart = 0;
  for (int32_t i = 0; i < w.n; ++i) {
    const int32_t d0 = wrapAbs(wrapSub(w.positions[i], origins[0]));
    if (wrapMul(wrapAdd(runStart, K), 256) < wrapSub(wrapDiv(wrapMul(256, d0), P), 128)) {
      closeRun(&w.joint, w.trials);
      runStart = wrapDiv(d0, P);
    }
    for (int k = 0; k < 2; ++k) {
      const int32_t d = wrapAbs(wrapSub(w.positions[i], origins[k]));
      const int32_t x = wrapDiv(d, P);
      w.trials[k].add(x, wrapSub(wrapDiv(wrapMul(d, 256), P), wrapMul(256, x)));
    }
  }
  closeRun(&w.joint, w.trials);
  if (w.joint.fit.n < 2) return out;
  out.fitSum = w.joint.fit.sx;
  robustFit(&w.joint, P, W, inlierTolerance, &out);
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
  // Runs may not be longer than the number of cells over which the largest scale error moves an
  // edge by half a cell; a smallest scale of 1000 or more leaves no such bound (a division by
  // zero, or a negative length).
  CSYS_REQUIRE(minScale < 1000);
  int32_t W = wrapAdd(wrapMul(nominalPitch, maxScale - minScale) / 1000, wrapMul(2, tolerance));
  int32_t K = std::min(499 / (1000 - minScale), 499 / (maxScale - 1000));
  CSYS_REQUIRE(K >= 2);
  const int32_t span = wrapDiv(wrapAbs(wrapSub(positions[n - 1], positions[0])), nominalPitch);

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
  int32_t previousSum = 0;
  // A round that goes on has strictly grown the fit sum; the cap only guards against inputs
  // whose wrapped sums would keep growing for billions of rounds.
  for (int round = 0; round < 64; ++round) {
    last = trialRound(walk, K, P, W, inlierTolerance);
    if (wrapAbs(wrapSub(P, last.pitch)) < 2 || span < K) break;
    const int32_t c = last.fitSum;
    if (c != 0) {
      // A larger fit narrows the search window and lengthens the runs.
      W = std::min(W, wrapAdd(wrapMul(2, tolerance) / c, wrapMul(2, tolerance)));
      K = std::max(K, wrapMul(wrapMul(499, c), last.pitch) / tolerance);
    }
    if (span < K || (round > 0 && c <= previousSum)) break;
    previousSum = c;
    P = last.pitch;
  }
  *fitSum = last.fitSum;
  *inliers = last.inliers;
  *pitch = last.pitch;
  return cleanup.exit(0);
}

}  // extern "C"
