// Running extrema along one line: the monotone queue (generic), and the exported line routines,
// whose fast path is the 2D pass's row extremum run on a single row.
#include "base/csys_cleanup.hpp"
#include "ci_id/morph.h"
#include "morph_lines.hpp"

namespace morph {

namespace {

// The queue holds indices whose values fall strictly from front (oldest) to back (newest); the
// front is the extremum of the current window. Ring capacity 2r + 1, the most the window holds.
template <Kind K>
void queueExtremaOf(int32_t windowLength, const uint8_t* source, uint8_t* destination, int32_t length, int32_t* ring,
                    uint32_t* steps) {
  const int32_t r = std::min(radiusOf(windowLength), length - 1), capacity = 2 * r + 1;
  auto better = [](uint8_t a, uint8_t b) { return K == Kind::max ? a > b : a < b; };
  // front < capacity and size <= capacity, so one subtraction wraps (no division per sample).
  auto wrap = [capacity](int32_t i) { return i >= capacity ? i - capacity : i; };
  int32_t front = 0, size = 1;
  ring[0] = r;
  for (int32_t j = r - 1; j >= 0; --j) {
    if (better(source[j], source[ring[front]])) {
      front = front == 0 ? capacity - 1 : front - 1;
      ring[front] = j;
      ++size;
    }
  }
  uint32_t dropped = 0;
  for (int32_t x = 0; x < length; ++x) {
    destination[x] = source[ring[front]];
    if (ring[front] == x - r) {
      front = front + 1 == capacity ? 0 : front + 1;
      --size;
    }
    const int32_t entering = x + r + 1;
    if (entering >= length) continue;
    while (size > 0 && !better(source[ring[wrap(front + size - 1)]], source[entering])) {
      --size;
      ++dropped;
    }
    ring[wrap(front + size)] = entering;
    ++size;
  }
  if (steps != nullptr) *steps += dropped;
}

}  // namespace

void queueExtrema(Kind kind, int32_t windowLength, const uint8_t* source, uint8_t* destination, int32_t length,
                  int32_t* ring, uint32_t* steps) {
  if (kind == Kind::max) {
    queueExtremaOf<Kind::max>(windowLength, source, destination, length, ring, steps);
  } else {
    queueExtremaOf<Kind::min>(windowLength, source, destination, length, ring, steps);
  }
}

}  // namespace morph

namespace {

using morph::Kind;

const char* routineName(Kind kind) { return kind == Kind::max ? "rowExtremaMax" : "rowExtremaMin"; }

csys_status fastLine(Kind kind, int32_t K, const uint8_t* source, uint8_t* destination, int32_t N) {
  if (cprt_isOptimizationInhibited(routineName(kind))) return cidut_errNotOptimized;
  csys::CleanupList cleanup;
  uint8_t* work = nullptr;
  csys_status st = csys_memory_allocFastMem_internal(morph::rowWorkBytes(N, K, 1), reinterpret_cast<void**>(&work));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&work);
  morph::rowPass(kind, source, N, destination, N, N, 1, K, 1, morph::rowWorkAt(work, N, K, 1));
  return cleanup.exit(0);
}

csys_status genericLine(Kind kind, int32_t K, const uint8_t* source, uint8_t* destination, int32_t N,
                        uint32_t* steps) {
  csys::CleanupList cleanup;
  int32_t* ring = nullptr;
  const size_t entries = 2 * static_cast<size_t>(morph::radiusOf(K)) + 1;
  csys_status st = csys_memory_allocFastMem_internal(entries * sizeof(int32_t), reinterpret_cast<void**>(&ring));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&ring);
  if (steps != nullptr) *steps = 0;
  morph::queueExtrema(kind, K, source, destination, N, ring, steps);
  return cleanup.exit(0);
}

bool overlaps(const uint8_t* a, const uint8_t* b, int32_t n) {
  const auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
  return pa < pb + static_cast<uintptr_t>(n) && pb < pa + static_cast<uintptr_t>(n);
}

csys_status rowExtrema(Kind kind, int32_t K, const uint8_t* source, uint8_t* destination, int32_t N,
                       uint32_t* steps) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr);
  CSYS_REQUIRE(K >= 2 && K < N);
  CSYS_REQUIRE(!overlaps(source, destination, N));
  // The step count belongs to the queue, so asking for it runs the queue.
  csys_status st = steps == nullptr ? fastLine(kind, K, source, destination, N) : cidut_errNotOptimized;
  if (CIDUT_IS_NOT_OPTIMIZED(st)) st = genericLine(kind, K, source, destination, N, steps);
  return st;
}

}  // namespace

extern "C" {

csys_status rowExtremaMax(int32_t windowLength, const uint8_t* source, uint8_t* destination, int32_t length,
                          uint32_t* steps) {
  return rowExtrema(Kind::max, windowLength, source, destination, length, steps);
}

csys_status rowExtremaMin(int32_t windowLength, const uint8_t* source, uint8_t* destination, int32_t length,
                          uint32_t* steps) {
  return rowExtrema(Kind::min, windowLength, source, destination, length, steps);
}

}  // extern "C"
