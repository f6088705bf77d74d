// Inside the table-driven edge detector: keys, the shared gradient tables and the test hook.
#ifndef IDUT_SRC_EDGEDETECTID_TABLES_HPP
#define IDUT_SRC_EDGEDETECTID_TABLES_HPP

#include <cstddef>
#include <cstdint>

#include "ci_id/edgedetectid.h"

namespace edgeid {

inline uint32_t keyOf(int a, int b) { return (static_cast<uint32_t>(a) & 255u) * 256u + (static_cast<uint32_t>(b) & 255u); }
// Byte of key k's magnitude in a gradient table; its angle lies 8 bytes further.
inline size_t magnitudeIndex(uint32_t k) { return (k & 7u) + (k & ~7u) * 2u; }

// The unquantised entries: magnitude 0..255 and angle (before variant 1's 255 -> 0).
int gradientMagnitude(int a, int b);
uint8_t gradientAngle(int a, int b);

// The shared table of a variant (0 or 1), built on first use.
csys_status gradientTable(int variant, const uint8_t** table);

// How many times a gradient table has been filled since the process started.
uint32_t tableBuildCount();

// Gradient pair of pixel p (row stride `stride`) for a kernel.
inline uint32_t keyAt(const uint8_t* p, ptrdiff_t stride, int32_t kernel) {
  if (kernel == 2) {
    const int a = (p[1] - p[stride]) >> 1, b = (p[stride + 1] - p[0]) >> 1;
    return keyOf(a, b);
  }
  const uint8_t* u = p - stride;
  const uint8_t* d = p + stride;
  const int gx = (u[1] - u[-1]) + 2 * (p[1] - p[-1]) + (d[1] - d[-1]);
  const int gy = (d[-1] - u[-1]) + 2 * (d[0] - u[0]) + (d[1] - u[1]);
  return keyOf(gx >> 3, gy >> 3);
}

}  // namespace edgeid

#endif
