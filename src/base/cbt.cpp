// Boundary tracker: a marching-squares walk on the grid of pixel centres.
//
// The walk state is a directed crossing: a blob pixel P, a travel direction d, and the non-blob
// pixel Q = P + left(d) across the crossed segment (so the blob is on the right). Looking into
// the cell ahead, with P' = P + d and Q' = Q + d, the crossing moves
//   straight  when P' is blob and Q' is not    (to segment P'Q'),
//   right     when neither is blob             (to segment PP', same P),
//   left      when Q' is blob and P' is too    (to segment Q'Q, P becomes Q'),
// and at a saddle (Q' blob, P' not) left or right as the cell's connectivity says. Every
// directed crossing has exactly one successor and one predecessor, so the walk returns to its
// start state after visiting each crossing of the outline once. Pixels outside the window are
// never blob, which closes every outline; the walk reads a pixel only after checking that it
// lies in the window.
#include "base/cbt.h"

#include <cstring>

#include "cbt_grid.hpp"
#include "cbt_walk.hpp"

namespace {

using namespace cbt_detail;

// Grows the result's buffer to hold at least `needed` points (never beyond `limit`), keeping
// its first `kept` points.
csys_status grow(cbt_result* result, uint32_t kept, uint32_t needed, uint32_t limit) {
  uint64_t capacity = result->capacity < 64 ? 64 : static_cast<uint64_t>(result->capacity) * 2;
  if (capacity < needed) capacity = needed;
  if (capacity > limit) capacity = limit;
  void* block = nullptr;
  const csys_status st = csys_memory_alloc_internal(static_cast<size_t>(capacity) * sizeof(cbt_point), &block);
  if (CSYS_FAILED(st)) return st;
  if (kept > 0) std::memcpy(block, result->points, kept * sizeof(cbt_point));
  void* old = result->points;
  csys_memory_free_internal(&old);
  result->points = static_cast<cbt_point*>(block);
  result->capacity = static_cast<uint32_t>(capacity);
  return 0;
}

// Looks along the 4-connected pixel path from start B to start A for the crossing nearest the
// midpoint of the two. Returns false when no step of the path crosses the boundary.
bool findStart(const Grid& g, const cbt_runParams& p, State* start) {
  const int64_t ax = (static_cast<int64_t>(p.startA[0]) + 128) >> 8;
  const int64_t ay = (static_cast<int64_t>(p.startA[1]) + 128) >> 8;
  const int64_t bx = (static_cast<int64_t>(p.startB[0]) + 128) >> 8;
  const int64_t by = (static_cast<int64_t>(p.startB[1]) + 128) >> 8;
  const int64_t mx = static_cast<int64_t>(p.startA[0]) + p.startB[0];  // twice the midpoint
  const int64_t my = static_cast<int64_t>(p.startA[1]) + p.startB[1];
  const int64_t adx = ax > bx ? ax - bx : bx - ax;
  const int64_t ady = ay > by ? ay - by : by - ay;
  const int32_t sx = ax > bx ? 1 : -1;
  const int32_t sy = ay > by ? 1 : -1;

  // Only the part of the path within one pixel of the window can cross the boundary.
  const int64_t loX = g.x0 - 1, hiX = static_cast<int64_t>(g.x0) + g.width;
  const int64_t loY = g.y0 - 1, hiY = static_cast<int64_t>(g.y0) + g.height;

  bool found = false;
  int64_t best = 0;
  int64_t x = bx, y = by, ix = 0, iy = 0;
  while (ix < adx || iy < ady) {
    // Step along the axis whose next half-pixel boundary the ideal line reaches first.
    int64_t nx = x, ny = y;
    if (iy >= ady || (ix < adx && (1 + 2 * ix) * ady < (1 + 2 * iy) * adx)) {
      nx += sx;
      ++ix;
    } else {
      ny += sy;
      ++iy;
    }
    const bool near = x >= loX && x <= hiX && y >= loY && y <= hiY && nx >= loX && nx <= hiX &&
                      ny >= loY && ny <= hiY;
    if (near) {
      const auto cx = static_cast<int32_t>(x), cy = static_cast<int32_t>(y);
      const auto dx = static_cast<int32_t>(nx), dy = static_cast<int32_t>(ny);
      const bool b0 = g.isBlob(cx, cy);
      const bool b1 = g.isBlob(dx, dy);
      if (b0 != b1) {
        State s{0, 0, 0};
        cbt_point pt;
        if (b0) {
          s.px = cx;
          s.py = cy;
          g.crossing(cx, cy, dx, dy, &pt);
        } else {
          s.px = dx;
          s.py = dy;
          g.crossing(dx, dy, cx, cy, &pt);
        }
        // The non-blob pixel is on the left: d = (r.y, -r.x) with r = P - Q.
        const int32_t rx = b0 ? cx - dx : dx - cx;
        const int32_t ry = b0 ? cy - dy : dy - cy;
        const int32_t ddx = ry, ddy = -rx;
        s.k = ddx == 1 ? 0 : ddy == 1 ? 1 : ddx == -1 ? 2 : 3;
        const int64_t ex = 2 * static_cast<int64_t>(pt.x) - mx;
        const int64_t ey = 2 * static_cast<int64_t>(pt.y) - my;
        const int64_t dist = ex * ex + ey * ey;
        if (!found || dist < best) {
          found = true;
          best = dist;
          *start = s;
        }
      }
    }
    x = nx;
    y = ny;
  }
  return found;
}

using InnerWalk = InnerStop (*)(const Grid&, const State&, uint32_t, uint32_t, State*, cbt_point*, uint32_t*, uint32_t,
                                uint64_t*);

csys_status track(const cimg_imageConst* image, const cbt_runParams* params, int32_t threshold,
                  cbt_result* result) {
  cimg_windowConst w;
  csys_status st = cimg_windowConst_init(&w, image);
  if (CSYS_FAILED(st)) return st;
  CSYS_REQUIRE(w.x0 >= -kCoordinateLimit && w.y0 >= -kCoordinateLimit &&
               static_cast<int64_t>(w.x0) + w.width <= kCoordinateLimit &&
               static_cast<int64_t>(w.y0) + w.height <= kCoordinateLimit);

  result->count = 0;
  result->flags = 0;
  result->threshold = threshold;
  result->startIndex = 0;

  Grid g;
  g.pixels = w.pixels;
  g.stride = w.stride;
  g.x0 = w.x0;
  g.y0 = w.y0;
  g.width = w.width < 0 ? 0 : w.width;
  g.height = w.height < 0 ? 0 : w.height;
  g.threshold = threshold;
  g.darkBlob = params->polarity != 0;
  g.saddleByMean = params->saddleByMean != 0;

  State s{0, 0, 0};
  if (!findStart(g, *params, &s)) return cbt_errNoBoundary;
  const State start = s;

  const uint32_t limit = params->maxPoints > CBT_MAX_POINTS_LIMIT ? CBT_MAX_POINTS_LIMIT
                                                                  : static_cast<uint32_t>(params->maxPoints);
  const bool closeAtBorder = params->closeAtBorder != 0;
  uint32_t flags = CBT_FLAG_FOUND;
  uint32_t count = 0;
  bool pendingFirst = false;  // a point equal to point 0 is waiting at the limit

  // A directed crossing can occur at most once per outline; a walk longer than all of them
  // means the state machine is broken.
  const uint64_t maxSteps = 4 * (static_cast<uint64_t>(g.width) + 2) * (static_cast<uint64_t>(g.height) + 2) + 4;
  uint64_t steps = 0;
  bool stopAtEdge = false;

  // Pixel offsets of the four directions, and the box of pixels at least one pixel inside the
  // window: from there every pixel the walk looks at lies in the window, so it reads them
  // without checks.
  const ptrdiff_t offset[4] = {1, g.stride, -1, -static_cast<ptrdiff_t>(g.stride)};
  const uint32_t innerWidth = g.width >= 2 ? static_cast<uint32_t>(g.width - 2) : 0;
  const uint32_t innerHeight = g.height >= 2 ? static_cast<uint32_t>(g.height - 2) : 0;

  const InnerWalk inner = g.darkBlob ? (g.saddleByMean ? innerWalk<true, true> : innerWalk<true, false>)
                                     : (g.saddleByMean ? innerWalk<false, true> : innerWalk<false, false>);
  // The periodic stop check and the bound on the walk's length.
  auto attention = [&]() -> csys_status {
    csys_status check = csys_attention_check();
    if (CSYS_SUCCEEDED(check) && steps > maxSteps) {
      cstd_assert_(__LINE__);
      check = csys_errAssertion;
    }
    if (CSYS_FAILED(check)) {
      result->count = 0;
      result->flags = 0;
    }
    return check;
  };

  for (;;) {
    // The inner walk takes states in the inner box only; near the border it would return at once.
    if (count > 0 && !pendingFirst && static_cast<uint32_t>(s.px - g.x0 - 1) < innerWidth &&
        static_cast<uint32_t>(s.py - g.y0 - 1) < innerHeight) {
      const uint32_t room = (limit < result->capacity ? limit : result->capacity) - count;
      const InnerStop stop = inner(g, start, innerWidth, innerHeight, &s, result->points, &count, room, &steps);
      if (stop == InnerStop::start) break;
      if (stop == InnerStop::attention) {
        st = attention();
        if (CSYS_FAILED(st)) return st;
        continue;
      }
    }
    const int left = (s.k + 3) & 3;
    const int32_t qx = s.px + kDx[left];
    const int32_t qy = s.py + kDy[left];
    const int dxk = kDx[s.k], dyk = kDy[s.k];
    cbt_point pt;
    bool frontRight, frontLeft, joined;
    if (static_cast<uint32_t>(s.px - g.x0 - 1) < innerWidth && static_cast<uint32_t>(s.py - g.y0 - 1) < innerHeight) {
      const uint8_t* pp = g.pixels + static_cast<ptrdiff_t>(s.py - g.y0) * g.stride + (s.px - g.x0);
      const int32_t vp = pp[0];
      const int32_t vq = pp[offset[left]];
      const int32_t vr = pp[offset[s.k]];
      const int32_t vl = pp[offset[left] + offset[s.k]];
      const int32_t off = g.crossingOffset(vp, vq);
      pt.x = s.px * 256 + kDx[left] * off;
      pt.y = s.py * 256 + kDy[left] * off;
      frontRight = g.isBlobValue(vr);
      frontLeft = g.isBlobValue(vl);
      joined = frontRight || !g.saddleByMean || g.isBlobValue4(vp + vq + vr + vl);
    } else {
      if (g.crossing(s.px, s.py, qx, qy, &pt)) {
        flags |= CBT_FLAG_BORDER;
        if (!closeAtBorder) stopAtEdge = true;
      }
      frontRight = g.isBlob(s.px + dxk, s.py + dyk);
      frontLeft = g.isBlob(qx + dxk, qy + dyk);
      joined = frontRight || (frontLeft && g.blobConnectsAt(s.px, s.py, qx + dxk, qy + dyk));
    }

    // Emit the crossing of the current state.
    if (pendingFirst) {
      // Only repeats of point 0 may follow before the outline closes.
      if (!samePoint(pt, result->points[0])) {
        flags |= CBT_FLAG_LIMIT;
        break;
      }
    } else if (count == 0 || !samePoint(pt, result->points[count - 1])) {
      if (count == limit) {
        if (!samePoint(pt, result->points[0])) {
          flags |= CBT_FLAG_LIMIT;
          break;
        }
        pendingFirst = true;  // merges with point 0 if the outline closes without a new point
      } else {
        if (count == result->capacity) {
          st = grow(result, count, count + 1, limit);
          if (CSYS_FAILED(st)) {
            result->count = 0;
            result->flags = 0;
            return st;
          }
        }
        result->points[count++] = pt;
      }
    }
    if (stopAtEdge) break;

    // Step to the next crossing.
    if (frontRight && !frontLeft) {
      s.px += dxk;
      s.py += dyk;
    } else if (frontLeft && joined) {
      s.px = qx + dxk;
      s.py = qy + dyk;
      s.k = left;
    } else {
      s.k = (s.k + 1) & 3;
    }
    if (s.px == start.px && s.py == start.py && s.k == start.k) break;

    if (++steps % kAttentionSteps == 0) {
      st = attention();
      if (CSYS_FAILED(st)) return st;
    }
  }

  // The outline is closed implicitly; a last point on top of point 0 is the same point.
  const bool closed = (flags & CBT_FLAG_LIMIT) == 0 && !stopAtEdge;
  if (closed && count > 1 && samePoint(result->points[count - 1], result->points[0])) --count;
  if (closed && params->minPoints > 0 && count < static_cast<uint32_t>(params->minPoints)) {
    count = 0;
    flags = 0;
  }
  result->count = count;
  result->flags = flags;
  return 0;
}

csys_status checkArguments(const cimg_imageConst* image, const cbt_runParams* params, cbt_result* result) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && result != nullptr);
  result->count = 0;
  result->flags = 0;
  CSYS_REQUIRE(params->maxPoints >= 1);
  CSYS_REQUIRE(params->threshold >= 0 && params->threshold <= 256);
  return 0;
}

}  // namespace

extern "C" {

csys_status cbt_runParams_init(cbt_runParams* params) {
  CSYS_REQUIRE(params != nullptr);
  std::memset(params, 0, sizeof(*params));
  params->closeAtBorder = 1;
  params->polarity = 1;
  params->saddleByMean = 1;
  params->threshold = 128;
  params->maxPoints = 16379;
  return 0;
}

csys_status cbt_result_construct(cbt_result* result, uint32_t size) {
  CSYS_REQUIRE(result != nullptr);
  std::memset(result, 0, sizeof(*result));
  if (size > 0) {
    void* block = nullptr;
    const csys_status st = csys_memory_alloc_internal(static_cast<size_t>(size) * sizeof(cbt_point), &block);
    if (CSYS_FAILED(st)) return st;
    result->points = static_cast<cbt_point*>(block);
    result->capacity = size;
  }
  return 0;
}

csys_status cbt_result_destruct(cbt_result* result) {
  CSYS_REQUIRE(result != nullptr);
  void* block = result->points;
  csys_memory_free_internal(&block);
  result->points = nullptr;
  result->count = 0;
  result->capacity = 0;
  result->flags = 0;
  return 0;
}

csys_status cbt_boundaryTrack(const cimg_imageConst* image, const cbt_runParams* params, cbt_result* result) {
  csys_status st = checkArguments(image, params, result);
  if (CSYS_FAILED(st)) return st;
  return track(image, params, params->threshold, result);
}

csys_status cbt_boundaryTrack_Adaptive(const cimg_imageConst* image, const cbt_runParams* params, int32_t level,
                                       cbt_result* result) {
  csys_status st = checkArguments(image, params, result);
  if (CSYS_FAILED(st)) return st;

  int32_t threshold = params->threshold;
  if (params->localThreshold == 1 && params->seedStrength >= 6) {
    const int64_t strength = params->seedStrength;
    const int64_t shift = static_cast<int64_t>(level) * strength / 48;  // level sixteenths of strength / 3
    int64_t t = params->polarity != 0 ? threshold - shift : threshold + shift;
    int64_t lo = threshold - strength / 6 + 1;
    int64_t hi = threshold + strength / 6 - 1;
    if (lo < 1) lo = 1;
    if (hi > 255) hi = 255;
    if (lo <= hi) {
      if (t < lo) t = lo;
      if (t > hi) t = hi;
      threshold = static_cast<int32_t>(t);
    }
  }

  st = track(image, params, threshold, result);
  if (params->reportMarking == 1) {
    if (CSYS_FAILED(st) || (result->flags & CBT_FLAG_FOUND) == 0 || (result->flags & CBT_FLAG_BORDER) != 0)
      result->markingMode = 0;
    else if ((result->flags & CBT_FLAG_LIMIT) != 0)
      result->markingMode = 16;
  }
  return st;
}

void csys_typeCheck_cbt_result(cbt_result*) {}
void csys_typeCheckPtr_cbt_result(cbt_result**) {}
void csys_typeCheckFunc_cbt_result(csys_status (*)(cbt_result*)) {}
void csys_typeCheckFuncPtr_cbt_result(csys_status (*)(cbt_result**)) {}

}  // extern "C"
