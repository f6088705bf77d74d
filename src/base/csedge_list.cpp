// Edge lists, chains and the hand-over of a detector call's candidates to them.
#include <cmath>
#include <new>

#include "csedge_impl.hpp"

namespace {

template <class T>
using Vec = std::vector<T, csys::Allocator<T>>;

template <class T>
csys_status newObject(T** out) {
  void* block = nullptr;
  csys_status st = csys_memory_alloc_internal(sizeof(T), &block);
  if (CSYS_FAILED(st)) return st;
  *out = new (block) T();
  return 0;
}

template <class T>
csys_status deleteObject(T** object) {
  if (*object) {
    (*object)->~T();
    void* block = *object;
    csys_memory_free_internal(&block);
    *object = nullptr;
  }
  return 0;
}

const csEdgePoint* pointAt(const csEdgeList* list, uint32_t index) {
  if (list == nullptr || index >= list->points.size()) {
    cstd_assert_(__LINE__);
    return nullptr;
  }
  return &list->points[index];
}

// Hysteresis: marks every candidate 8-connected through candidates to a strong one. The flood
// runs on a byte per window pixel (0 none, 1 candidate, 2 kept), a quarter of what a map of
// candidate indices would touch; candidates keep two pixels of margin, so no bounds tests.
void keepConnected(const Vec<csedge::Candidate>& candidates, int32_t width, int32_t height, Vec<uint8_t>& kept) {
  Vec<uint8_t> state(static_cast<size_t>(width) * height, 0);
  for (const csedge::Candidate& c : candidates) state[static_cast<size_t>(c.row) * width + c.column] = 1;
  const ptrdiff_t offsets[8] = {-width - 1, -width, -width + 1, -1, 1, width - 1, width, width + 1};
  Vec<size_t> stack;
  for (const csedge::Candidate& c : candidates) {
    const size_t at = static_cast<size_t>(c.row) * width + c.column;
    if (!c.strong || state[at] == 2) continue;
    state[at] = 2;
    stack.push_back(at);
    while (!stack.empty()) {
      const size_t p = stack.back();
      stack.pop_back();
      for (ptrdiff_t o : offsets) {
        const size_t n = p + o;
        if (state[n] == 1) {
          state[n] = 2;
          stack.push_back(n);
        }
      }
    }
  }
  for (size_t i = 0; i < candidates.size(); ++i)
    kept[i] = state[static_cast<size_t>(candidates[i].row) * width + candidates[i].column] == 2;
}

// Walks from `start` through unvisited neighbours in `map` (list indices, -1 none), preferring
// the step closest to the previous one, and appends the visited indices to `walk`.
void walk(const csEdgeList* list, const Vec<int32_t>& map, int32_t width, int32_t ox, int32_t oy, uint32_t start,
          float dirX, float dirY, Vec<uint8_t>& visited, uint32_t first, Vec<uint32_t>& out) {
  uint32_t current = start;
  for (;;) {
    const csEdgePoint& p = list->points[current];
    const int32_t cx = p.column + ox, cy = p.row + oy;
    int32_t best = -1;
    float bestScore = -2;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        if (dx == 0 && dy == 0) continue;
        const int32_t n = map[static_cast<size_t>(cy + dy) * width + (cx + dx)];
        if (n < 0 || visited[static_cast<size_t>(n) - first]) continue;
        const float score = (dx * dirX + dy * dirY) / std::sqrt(static_cast<float>(dx * dx + dy * dy));
        if (score > bestScore) {
          bestScore = score;
          best = n;
        }
      }
    if (best < 0) return;
    const csEdgePoint& q = list->points[static_cast<uint32_t>(best)];
    dirX = static_cast<float>(q.column - p.column);
    dirY = static_cast<float>(q.row - p.row);
    visited[static_cast<size_t>(best) - first] = 1;
    out.push_back(static_cast<uint32_t>(best));
    current = static_cast<uint32_t>(best);
  }
}

// Chains over the list's points [first, end), which lie in the window (map in window pixels).
void buildChains(const csEdgeList* list, uint32_t first, Vec<int32_t>& map, int32_t width, int32_t ox, int32_t oy,
                 csEdgeChains* chains) {
  const uint32_t end = static_cast<uint32_t>(list->points.size());
  for (uint32_t i = first; i < end; ++i) {
    const csEdgePoint& p = list->points[i];
    map[static_cast<size_t>(p.row + oy) * width + (p.column + ox)] = static_cast<int32_t>(i);
  }
  chains->starts.clear();
  chains->indices.clear();
  Vec<uint8_t> visited(end - first, 0);
  Vec<uint32_t> backward;
  for (uint32_t i = first; i < end; ++i) {
    if (visited[i - first]) continue;
    visited[i - first] = 1;
    const csEdgePoint& p = list->points[i];
    // The edge runs across the gradient: (-dy, dx) one way, (dy, -dx) the other.
    backward.clear();
    walk(list, map, width, ox, oy, i, p.dy, -p.dx, visited, first, backward);
    chains->starts.push_back(static_cast<uint32_t>(chains->indices.size()));
    chains->indices.insert(chains->indices.end(), backward.rbegin(), backward.rend());
    chains->indices.push_back(i);
    walk(list, map, width, ox, oy, i, -p.dy, p.dx, visited, first, chains->indices);
  }
  chains->starts.push_back(static_cast<uint32_t>(chains->indices.size()));
}

}  // namespace

csys_status csedge::emit(csEdgeList* list, csEdgeChains* chains, const cimg_windowConst& window,
                         const Vec<Candidate>& candidates, bool hysteresis) {
  if (!list->hasOrigin) {
    list->hasOrigin = true;
    list->originX = list->originMode == 1 ? 0 : window.x0;
    list->originY = list->originMode == 1 ? 0 : window.y0;
  }
  const int32_t ox = window.x0 - list->originX, oy = window.y0 - list->originY;
  Vec<int32_t> map;
  Vec<uint8_t> kept(candidates.size(), hysteresis ? 0 : 1);
  if (chains) map.assign(static_cast<size_t>(window.width) * window.height, -1);
  if (hysteresis) keepConnected(candidates, window.width, window.height, kept);
  const uint32_t first = static_cast<uint32_t>(list->points.size());
  csys_status st = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (!kept[i]) continue;
    if (list->points.size() >= list->capacity) {
      st = csys_errNoMemory;
      break;
    }
    const Candidate& c = candidates[i];
    const float gx = c.gx, gy = c.gy, len = std::sqrt(gx * gx + gy * gy);
    list->points.push_back(csEdgePoint{c.column + ox, c.row + oy, c.x + ox, c.y + oy, gx / len, gy / len, c.magnitude,
                                       csedge::angleByte(c.gx, c.gy), 0});
  }
  if (chains) {
    // Map positions in window pixels: undo the frame shift.
    buildChains(list, first, map, window.width, -ox, -oy, chains);
  }
  return st;
}

csys_status csEdgeListNew(uint32_t capacity, csEdgeList** list) {
  CSYS_REQUIRE(list != nullptr && capacity >= 1);
  csEdgeList* made = nullptr;
  csys_status st = newObject(&made);
  if (CSYS_FAILED(st)) return st;
  try {
    made->points.reserve(capacity);
  } catch (const std::bad_alloc&) {
    deleteObject(&made);
    return csys_errNoMemory;
  }
  made->capacity = capacity;
  *list = made;
  return 0;
}

csys_status csEdgeListInit(csEdgeList* list, int32_t reset, int32_t originMode) {
  CSYS_REQUIRE(list != nullptr);
  if (reset) list->points.clear();
  list->hasOrigin = false;
  list->originMode = originMode;
  return 0;
}

csys_status csEdgeListLen(const csEdgeList* list, uint32_t* length) {
  CSYS_REQUIRE(list != nullptr && length != nullptr);
  *length = static_cast<uint32_t>(list->points.size());
  return 0;
}

csys_status csEdgeListCapacity(const csEdgeList* list, uint32_t* capacity) {
  CSYS_REQUIRE(list != nullptr && capacity != nullptr);
  *capacity = list->capacity;
  return 0;
}

csys_status csEdgeListAssign(csEdgeList** destination, csEdgeList** source) {
  CSYS_REQUIRE(destination != nullptr && source != nullptr);
  if (*destination == *source) return 0;
  deleteObject(destination);
  *destination = *source;
  *source = nullptr;
  return 0;
}

csys_status csEdgeListDelete(csEdgeList** list) {
  CSYS_REQUIRE(list != nullptr);
  return deleteObject(list);
}

const csEdgePoint* csEdgeListPoints(const csEdgeList* list) {
  return list == nullptr || list->points.empty() ? nullptr : list->points.data();
}

#define CSEDGE_ACCESSOR(name, type, field)                       \
  type name(const csEdgeList* list, uint32_t index) {            \
    const csEdgePoint* p = pointAt(list, index);                 \
    return p ? static_cast<type>(p->field) : static_cast<type>(0); \
  }
CSEDGE_ACCESSOR(csEdgePi, int32_t, column)
CSEDGE_ACCESSOR(csEdgePj, int32_t, row)
CSEDGE_ACCESSOR(csEdgeMag, uint8_t, magnitude)
CSEDGE_ACCESSOR(csEdgeDx, float, dx)
CSEDGE_ACCESSOR(csEdgeDy, float, dy)
CSEDGE_ACCESSOR(csEdgeX, float, x)
CSEDGE_ACCESSOR(csEdgeY, float, y)

csys_status csEdgeChainsNew(csEdgeChains** chains) {
  CSYS_REQUIRE(chains != nullptr);
  return newObject(chains);
}

csys_status csEdgeChainsDelete(csEdgeChains** chains) {
  CSYS_REQUIRE(chains != nullptr);
  return deleteObject(chains);
}

uint32_t csEdgeChainsCount(const csEdgeChains* chains) {
  return chains == nullptr || chains->starts.empty() ? 0 : static_cast<uint32_t>(chains->starts.size() - 1);
}

uint32_t csEdgeChainLen(const csEdgeChains* chains, uint32_t chain) {
  if (chain >= csEdgeChainsCount(chains)) return 0;
  return chains->starts[chain + 1] - chains->starts[chain];
}

uint32_t csEdgeChainPoint(const csEdgeChains* chains, uint32_t chain, uint32_t k) {
  if (k >= csEdgeChainLen(chains, chain)) {
    cstd_assert_(__LINE__);
    return 0;
  }
  return chains->indices[chains->starts[chain] + k];
}
