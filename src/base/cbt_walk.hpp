// Inside the boundary tracker: the inner walk, the bulk of every outline, specialised by
// polarity and saddle rule.
#ifndef IDUT_SRC_BASE_CBT_WALK_HPP
#define IDUT_SRC_BASE_CBT_WALK_HPP

#include "cbt_grid.hpp"

namespace cbt_detail {

// The walk through states whose blob pixel lies at least one pixel inside the window, where
// every pixel it looks at is in the window and no border contact can arise: the bulk of every
// outline. Specialised by polarity and saddle rule, with no bounds, buffer or limit tests per
// step. Emits at most room new points (and needs point count - 1 to exist); stops on leaving
// the inner box, when room runs out, back at the start state, or after the step that makes
// steps a multiple of the attention interval (the caller then polls).
//
// The direction is a position in the code rather than a value: the step has one copy per
// direction, so that its pixel offsets, coordinate deltas and box tests are constants, and a
// turn is a jump to another copy. The blob pixel is held both as a pointer into the window and
// as its coordinates times 256, the form the points need. Room and the attention interval are
// folded into one count of steps that can certainly run before either may stop the walk (each
// step emits at most one point).
enum class InnerStop { left, start, attention };

template <bool DarkBlob, bool SaddleByMean>
struct InnerWalker {
  const uint8_t* pp;  // the blob pixel
  int32_t x, y;       // its coordinates * 256
  cbt_point* out;     // where the next point goes
  ptrdiff_t stride;
  int32_t t;
  int32_t loX, hiX, loY, hiY;  // the inner box, coordinates * 256

  template <int K>
  static constexpr int kLeft = (K + 3) & 3;
  template <int K>
  static constexpr int kRight = (K + 1) & 3;

  template <int K>
  ptrdiff_t offset() const {
    return K == 0 ? 1 : K == 1 ? stride : K == 2 ? -1 : -stride;
  }
  bool blob(int32_t v) const { return DarkBlob ? v < t : v >= t; }

  // Whether a move by direction K keeps the pixel in the inner box (only the coordinate that
  // moved can have left it).
  template <int K>
  bool inBoxAfterMove() const {
    return K == 0 ? x <= hiX : K == 1 ? y <= hiY : K == 2 ? x >= loX : y >= loY;
  }

  // Emits the crossing of state (pp, K) and steps. Returns the next direction, plus 4 when the
  // new state lies outside the inner box.
  template <int K>
  __attribute__((always_inline)) int step() {
    constexpr int L = kLeft<K>;
    const int32_t vp = pp[0];
    const int32_t vq = pp[offset<L>()];
    // P is blob and Q is not, so the signs of both differences are known.
    const auto a = static_cast<uint64_t>(static_cast<uint32_t>(DarkBlob ? t - vp : vp - t));
    const uint32_t den = static_cast<uint32_t>(DarkBlob ? vq - vp : vp - vq);
    const CrossingTable::Entry& e = kCrossing[den];
    const auto off = static_cast<int32_t>((a * e.scale + e.bias) >> 24);
    const cbt_point pt{L == 0 ? x + off : L == 2 ? x - off : x, L == 1 ? y + off : L == 3 ? y - off : y};
    // Distinct crossings lie on distinct pixel-centre segments, so a point can repeat the one
    // before only at a pixel centre: off 256 (at Q) for a dark blob, where num >= 256 keeps off
    // above 0, and off 0 (at P) for a bright one, where num < 256 * den keeps it below 256.
    if (off != (DarkBlob ? 256 : 0) || pt.x != out[-1].x || pt.y != out[-1].y) *out++ = pt;

    // Read after the store, which keeps fewer values live across it (the store may alias the
    // pixels, so the values above would otherwise be kept or reloaded anyway).
    const int32_t vr = pp[offset<K>()];
    const int32_t vl = pp[offset<L>() + offset<K>()];
    const bool frontRight = blob(vr);
    const bool frontLeft = blob(vl);
    if (frontRight && !frontLeft) {
      pp += offset<K>();
      x += 256 * (K == 0 ? 1 : K == 2 ? -1 : 0);
      y += 256 * (K == 1 ? 1 : K == 3 ? -1 : 0);
      return inBoxAfterMove<K>() ? K : K + 4;
    }
    const int32_t sum = pp[0] + pp[offset<L>()] + vr + vl;
    const bool joined = frontRight || !SaddleByMean || (DarkBlob ? sum < 4 * t : sum >= 4 * t);
    if (frontLeft && joined) {
      pp += offset<L>() + offset<K>();
      x += 256 * ((K == 0 || L == 0) ? 1 : (K == 2 || L == 2) ? -1 : 0);
      y += 256 * ((K == 1 || L == 1) ? 1 : (K == 3 || L == 3) ? -1 : 0);
      return inBoxAfterMove<K>() && inBoxAfterMove<L>() ? L : L + 4;
    }
    return kRight<K>;
  }
};

template <bool DarkBlob, bool SaddleByMean>
InnerStop innerWalk(const Grid& g, const State& start, uint32_t innerWidth, uint32_t innerHeight, State* state,
                    cbt_point* points, uint32_t* count, uint32_t room, uint64_t* steps) {
  if (room == 0 || static_cast<uint32_t>(state->px - g.x0 - 1) >= innerWidth ||
      static_cast<uint32_t>(state->py - g.y0 - 1) >= innerHeight)
    return InnerStop::left;

  InnerWalker<DarkBlob, SaddleByMean> w;
  w.pp = g.pixels + static_cast<ptrdiff_t>(state->py - g.y0) * g.stride + (state->px - g.x0);
  w.x = state->px * 256;
  w.y = state->py * 256;
  w.out = points + *count;
  w.stride = g.stride;
  w.t = g.threshold;
  // innerWidth, innerHeight >= 1 here, and the window's coordinates times 256 fit in int32.
  w.loX = (g.x0 + 1) * 256;
  w.hiX = (g.x0 + static_cast<int32_t>(innerWidth)) * 256;
  w.loY = (g.y0 + 1) * 256;
  w.hiY = (g.y0 + static_cast<int32_t>(innerHeight)) * 256;

  // The start state's coordinates * 256 for its direction; 1, which no position equals, for the
  // other directions.
  int32_t startX[4] = {1, 1, 1, 1}, startY[4] = {1, 1, 1, 1};
  startX[start.k] = start.px * 256;
  startY[start.k] = start.py * 256;

  const cbt_point* first = w.out;  // the first point of the current budget
  uint64_t stepCount = *steps;
  // Steps that may run before room or the attention interval can end the walk, and how many
  // of them are left.
  uint32_t budget = kAttentionSteps - static_cast<uint32_t>(stepCount % kAttentionSteps);
  if (budget > room) budget = room;
  uint32_t remaining = budget;
  int k = state->k;
  InnerStop stop = InnerStop::left;

// Arrival in direction K: the start test, then the count of steps; the new state is in the box.
#define CBT_ARRIVE(K)                                                          \
  arrive##K : if ((K & 1) == 0 ? (w.x == startX[K] && w.y == startY[K])        \
                               : (w.y == startY[K] && w.x == startX[K])) {     \
    k = K;                                                                     \
    goto atStart;                                                              \
  }                                                                            \
  if (--remaining == 0) {                                                      \
    k = K;                                                                     \
    goto refill;                                                               \
  }                                                                            \
  step##K : switch (w.template step<K>()) {                                    \
    case 0: goto arrive0;                                                      \
    case 1: goto arrive1;                                                      \
    case 2: goto arrive2;                                                      \
    case 3: goto arrive3;                                                      \
    case 4: goto outside0;                                                     \
    case 5: goto outside1;                                                     \
    case 6: goto outside2;                                                     \
    default: goto outside3;                                                    \
  }                                                                            \
  outside##K : k = K;                                                          \
  goto outside;

  switch (k) {
    case 0: goto step0;
    case 1: goto step1;
    case 2: goto step2;
    default: goto step3;
  }
  CBT_ARRIVE(0)
  CBT_ARRIVE(1)
  CBT_ARRIVE(2)
  CBT_ARRIVE(3)
#undef CBT_ARRIVE

refill:
  // In the box and not at the start, after `budget` steps.
  stepCount += budget;
  if (stepCount % kAttentionSteps == 0) {
    stop = InnerStop::attention;
    goto done;
  }
  room -= static_cast<uint32_t>(w.out - first);
  if (room == 0) goto done;
  first = w.out;
  budget = kAttentionSteps - static_cast<uint32_t>(stepCount % kAttentionSteps);
  if (budget > room) budget = room;
  remaining = budget;
  switch (k) {
    case 0: goto step0;
    case 1: goto step1;
    case 2: goto step2;
    default: goto step3;
  }
atStart:
  stepCount += budget - remaining;
  stop = InnerStop::start;
  goto done;
outside:
  // Out of the box after a step not yet tested against the start or counted.
  if (w.x == start.px * 256 && w.y == start.py * 256 && k == start.k) goto atStart;
  stepCount += budget - remaining + 1;
  stop = stepCount % kAttentionSteps == 0 ? InnerStop::attention : InnerStop::left;
done:
  state->px = w.x / 256;
  state->py = w.y / 256;
  state->k = k;
  *count = static_cast<uint32_t>(w.out - points);
  *steps = stepCount;
  return stop;
}

}  // namespace cbt_detail

#endif
