// Running extrema: the doubling scheme over whole rows of lanes (fast) and the monotone queue
// (generic), and the exported line routines.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/csys_cleanup.hpp"
#include "ci_id/morph.h"
#include "morph_lines.hpp"

namespace morph {

namespace {

template <Kind K>
inline uint8_t pick(uint8_t a, uint8_t b) {
  if constexpr (K == Kind::max) {
    return a > b ? a : b;
  } else {
    return a < b ? a : b;
  }
}

// out[i] = pick(a[i], b[i]) for i < n; out may be a itself (a running extremum in place).
template <Kind K>
void pickTwo(const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), K == Kind::max ? _mm_max_epu8(va, vb) : _mm_min_epu8(va, vb));
  }
#endif
  for (; i < n; ++i) out[i] = pick<K>(a[i], b[i]);
}

// Windows up to this long are picked sample by sample; longer ones by doubling.
constexpr int32_t kDirectWindow = 5;

// out = extremum of the rows at in + k * offset, k = 0 .. rows - 1 (rows >= 1), n bytes each.
template <Kind K>
void pickRows(const uint8_t* in, size_t offset, int32_t rows, uint8_t* out, size_t n) {
  if (rows == 1) {
    std::memcpy(out, in, n);
    return;
  }
  pickTwo<K>(in, in + offset, out, n);
  for (int32_t k = 2; k < rows; ++k) pickTwo<K>(out, in + k * offset, out, n);
}

void copyRows(const uint8_t* source, ptrdiff_t sourceStride, uint8_t* destination, ptrdiff_t destinationStride,
              int32_t rows, int32_t lanes) {
  if (sourceStride == lanes && destinationStride == lanes) {
    std::memcpy(destination, source, static_cast<size_t>(rows) * lanes);
    return;
  }
  for (int32_t y = 0; y < rows; ++y) std::memcpy(destination + y * destinationStride, source + y * sourceStride, lanes);
}

// After k levels, row i of the level buffer is the extremum of padded rows i .. i + 2^k - 1;
// two such spans that overlap cover any window of up to 2^(k+1) rows.
template <Kind K>
void fastExtremaOf(int32_t windowLength, const uint8_t* source, ptrdiff_t sourceStride, uint8_t* destination,
                   ptrdiff_t destinationStride, int32_t count, int32_t lanes, uint8_t* a, uint8_t* b) {
  const int32_t r = radiusOf(windowLength), window = 2 * r + 1, padded = count + 2 * r;
  const uint8_t neutral = K == Kind::max ? 0 : 255;
  const size_t laneBytes = static_cast<size_t>(lanes);
  std::memset(a, neutral, r * laneBytes);
  copyRows(source, sourceStride, a + r * laneBytes, lanes, count, lanes);
  std::memset(a + (r + static_cast<size_t>(count)) * laneBytes, neutral, r * laneBytes);
  if (window <= kDirectWindow && destinationStride == lanes) {
    pickRows<K>(a, laneBytes, window, destination, count * laneBytes);
    return;
  }
  int32_t span = 1;
  for (; 2 * span <= window; span *= 2) {
    pickTwo<K>(a, a + span * laneBytes, b, (padded - 2 * span + 1) * laneBytes);
    std::swap(a, b);
  }
  const size_t second = static_cast<size_t>(window - span) * laneBytes;
  if (destinationStride == lanes) {
    pickTwo<K>(a, a + second, destination, count * laneBytes);
    return;
  }
  for (int32_t y = 0; y < count; ++y)
    pickTwo<K>(a + y * laneBytes, a + y * laneBytes + second, destination + y * destinationStride, laneBytes);
}

// The queue holds indices whose values fall strictly from front (oldest) to back (newest); the
// front is the extremum of the current window. Ring capacity 2r + 1, the most the window holds.
template <Kind K>
void queueExtremaOf(int32_t windowLength, const uint8_t* source, uint8_t* destination, int32_t length, int32_t* ring,
                    uint32_t* steps) {
  const int32_t r = std::min(radiusOf(windowLength), length - 1), capacity = 2 * r + 1;
  auto better = [](uint8_t a, uint8_t b) { return K == Kind::max ? a > b : a < b; };
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
    while (size > 0 && !better(source[ring[(front + size - 1) % capacity]], source[entering])) {
      --size;
      ++dropped;
    }
    ring[(front + size) % capacity] = entering;
    ++size;
  }
  if (steps != nullptr) *steps += dropped;
}

}  // namespace

void fastExtrema(Kind kind, int32_t windowLength, const uint8_t* source, ptrdiff_t sourceStride,
                 uint8_t* destination, ptrdiff_t destinationStride, int32_t count, int32_t lanes, uint8_t* a,
                 uint8_t* b) {
  if (kind == Kind::max) {
    fastExtremaOf<Kind::max>(windowLength, source, sourceStride, destination, destinationStride, count, lanes, a, b);
  } else {
    fastExtremaOf<Kind::min>(windowLength, source, sourceStride, destination, destinationStride, count, lanes, a, b);
  }
}

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
  const int32_t r = morph::radiusOf(K);
  const size_t bytes = morph::fastBufferBytes(N, r, 1);
  csys::CleanupList cleanup;
  uint8_t* work = nullptr;
  csys_status st = csys_memory_allocFastMem_internal(2 * bytes, reinterpret_cast<void**>(&work));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&work);
  morph::fastExtrema(kind, K, source, 1, destination, 1, N, 1, work, work + bytes);
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
