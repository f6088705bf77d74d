// Edges to teeth, completion: neighbours that claim the same edges, synthetic teeth in the
// cells that stayed empty, positions carried back through the mapping and the teeth's points.
#include <cmath>

#include "ci_id/priv/ci_idut/teeth_work.hpp"

namespace cidut_teeth {
namespace {

bool filled(const cidut_toothCand& t) { return t.cell >= 0; }
bool hasEdge(const cidut_toothCand& t) { return t.startEdge >= 0 || t.endEdge >= 0; }

bool sharesEdge(const cidut_toothCand& a, const cidut_toothCand& b) {
  const int32_t ea[2] = {a.startEdge, a.endEdge}, eb[2] = {b.startEdge, b.endEdge};
  for (int32_t x : ea)
    for (int32_t y : eb)
      if (x >= 0 && x == y) return true;
  return false;
}

// Whether `c` lies strictly between the positions of t's two edges.
bool between(const Work& w, const cidut_toothCand& t, int32_t c) {
  if (t.startEdge < 0 || t.endEdge < 0) return false;
  const int32_t a = w.position(t.startEdge), b = w.position(t.endEdge);
  return (a < c && c < b) || (b < c && c < a);
}

void clearSlot(cidut_toothCand& t) {
  const double x = t.point[0], y = t.point[1];
  cidut_toothCand_init(&t);
  t.point[0] = x;
  t.point[1] = y;
}

// A neighbour pair that claims the same edges, or one inside the other, keeps the better tooth
// (the right one on a tie).
void resolveConflicts(const Work& w, cidut_toothCand* s, int32_t n) {
  for (int32_t i = 1; i < n; ++i) {
    cidut_toothCand &right = s[i], &left = s[i - 1];
    if (!hasEdge(right) || !hasEdge(left)) continue;
    if (!sharesEdge(left, right) && !between(w, right, left.centre) && !between(w, left, right.centre)) continue;
    clearSlot(right.score < left.score ? right : left);
  }
}

void makeSynthetic(cidut_toothCand& t, int32_t W) {
  t.position = t.centre;
  t.score = t.gridScore = 256;
  t.width = W;
  t.startEdge = t.endEdge = -1;
}

// Fills the gaps between the first and last filled slots, one per gap, where the centres lie
// farthest apart; a gap elsewhere is moved next to that spacing first. Slot s keeps holding
// cell s (s - 1 with skipped end cells) throughout.
void fillGaps(cidut_toothCand* s, int32_t n, int32_t step, int32_t W, int32_t* filledCount) {
  int32_t first = -1, last = -1, inner = 0;
  for (int32_t i = 0; i < n; ++i)
    if (filled(s[i])) {
      if (first < 0) first = i;
      last = i;
    }
  for (int32_t i = first + 1; i < last; ++i) inner += filled(s[i]) ? 1 : 0;
  const int32_t gaps = (last - first) - inner - 1;
  for (int32_t round = 0; round < gaps && *filledCount < n; ++round) {
    int32_t e = first + 1;
    while (e < n && filled(s[e])) ++e;
    int32_t g = -1;
    int64_t widest = -1;
    for (int32_t i = first; i < last; ++i) {
      if (!filled(s[i])) continue;
      int32_t next = i + 1;
      while (next <= last && !filled(s[next])) ++next;
      if (next > last) break;
      const int64_t d = int64_t{s[next].centre} - s[i].centre;
      if (d > widest) {
        widest = d;
        g = i;
      }
    }
    if (g < 0 || e >= n) return;
    int32_t target = g + 1;
    if (filled(s[g + 1])) {
      if (g < e) {
        for (int32_t i = e; i > g + 1; --i) {
          s[i] = s[i - 1];
          if (filled(s[i])) ++s[i].cell;
        }
      } else {
        // The teeth follow their slots, as on a move to the right: a moved tooth that kept its
        // cell would name the slot it left, and repeated moves would carry cells past the end.
        for (int32_t i = e; i < g; ++i) {
          s[i] = s[i + 1];
          if (filled(s[i])) --s[i].cell;
        }
        target = g;
      }
    }
    cidut_toothCand& t = s[target];
    if (target == g + 1) {
      t.centre = filled(t) ? (t.centre + s[g].centre) / 2 : s[g].centre + step;
      t.cell = s[g].cell + 1;
    } else {
      // Slot g still holds the tooth now also in g - 1; the new one takes the cell after it.
      t.centre = filled(s[g + 1]) ? (t.centre + s[g + 1].centre) / 2 : t.centre + step;
      t.cell = s[g - 1].cell + 1;
    }
    makeSynthetic(t, W);
    ++*filledCount;
    if (target > last) last = target;
  }
}

// Extends the filled run outwards, one pitch step per slot.
void extendEnds(cidut_toothCand* s, int32_t n, int32_t step, int32_t W, int32_t* filledCount) {
  int32_t first = 0, last = n - 1;
  while (first < n && !filled(s[first])) ++first;
  while (last >= 0 && !filled(s[last])) --last;
  for (int32_t i = first - 1; i >= 0 && *filledCount < n; --i) {
    s[i].cell = s[i + 1].cell - 1;
    s[i].centre = s[i + 1].centre - step;
    makeSynthetic(s[i], W);
    ++*filledCount;
  }
  for (int32_t i = last + 1; i < n && *filledCount < n; ++i) {
    s[i].cell = s[i - 1].cell + 1;
    s[i].centre = s[i - 1].centre + step;
    makeSynthetic(s[i], W);
    ++*filledCount;
  }
}

cmath_vect alongCentreLine(const cmath_shapeAffineRectCenter& r, double t) {
  return cmath_vect{r.center.x + t * std::cos(r.xRotation), r.center.y + t * std::sin(r.xRotation)};
}

csys_status placePoints(const Work& w, const cmath_xform* back, const cmath_xformLinear* pointXform,
                        cidut_toothCand* s, int32_t n) {
  csys_status st = 0;
  for (int32_t i = 0; i < n; ++i) {
    cidut_toothCand& t = s[i];
    if (back != nullptr) {
      const cmath_vect p = alongCentreLine(w.rect, t.centre / 256.0);
      cmath_vect q;
      if (CSYS_FAILED(st = cmath_xform_mapPoint(back, &p, &q))) return st;
      const double d = cmath_vect_getDistance(&q, &w.unmapped.center);
      t.position = (t.centre < 0 ? -1 : 1) * fix8(d);
    }
    if (!w.p.computePoints) continue;
    // The point lies on the working rectangle's centre line (the mapped one when a mapping is
    // in force), at the tooth's final position.
    cmath_vect p = alongCentreLine(w.rect, t.position / 256.0);
    if (pointXform != nullptr && CSYS_FAILED(st = cmath_xformLinear_mapPoint(pointXform, &p, &p))) return st;
    t.point[0] = p.x;
    t.point[1] = p.y;
  }
  return 0;
}

}  // namespace

csys_status completeTeeth(Work& w, const cmath_xform* back, const cmath_xformLinear* pointXform,
                          cidut_teethResults* results) {
  cidut_toothCand* s = nullptr;
  uint32_t size = 0;
  csys_status st = cstd_vector_cidut_toothCand_getBeginSize(&results->teeth, &s, &size);
  if (CSYS_FAILED(st)) return st;
  const int32_t n = static_cast<int32_t>(size);
  const int32_t k = w.p.twoCellsPerTooth ? 2 : 1, step = w.P / k;
  resolveConflicts(w, s, n);
  int32_t count = 0;
  for (int32_t i = 0; i < n; ++i) count += filled(s[i]) ? 1 : 0;
  if (count == 0 || count < w.p.minTeeth) return cstd_vector_cidut_toothCand_resize(&results->teeth, 0);
  fillGaps(s, n, step, w.W, &count);
  extendEnds(s, n, step, w.W, &count);
  if (CSYS_FAILED(st = placePoints(w, back, pointXform, s, n))) return st;
  if (n > 1) results->averagePitch = (s[n - 1].centre - s[0].centre) / (n - 1);
  return 0;
}

}  // namespace cidut_teeth
