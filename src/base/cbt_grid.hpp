// Inside the boundary tracker: the walk's directions, the division tables for crossing offsets,
// the window as the walk reads it, and the walk state.
#ifndef IDUT_SRC_BASE_CBT_GRID_HPP
#define IDUT_SRC_BASE_CBT_GRID_HPP

#include <cstddef>
#include <cstdint>

#include "base/cbt.h"

namespace cbt_detail {

// Directions in clockwise order on screen (y down): E, S, W, N. right(k) = k + 1, left(k) = k + 3.
constexpr int kDx[4] = {1, 0, -1, 0};
constexpr int kDy[4] = {0, 1, 0, -1};

constexpr int32_t kCoordinateLimit = (1 << 23) - 2;  // keeps coordinate * 256 inside int32
constexpr uint32_t kAttentionSteps = 4096;

// ceil(2^24 / d): for n < 2^16 and 0 < d < 256, (n * kReciprocal[d]) >> 24 is exactly n / d.
struct ReciprocalTable {
  uint32_t value[256];
  constexpr ReciprocalTable() : value() {
    for (uint32_t d = 1; d < 256; ++d) value[d] = ((1u << 24) + d - 1) / d;
  }
  constexpr uint32_t operator[](uint32_t d) const { return value[d]; }
};
constexpr ReciprocalTable kReciprocal;

// The same quotient in the form the inner walk uses: for num = 256 * a,
// (num + d / 2) * kReciprocal[d] == a * scale + bias, so (a * scale + bias) >> 24 is the
// rounded 256 * a / d with one multiply and one add.
struct CrossingTable {
  struct Entry {
    uint64_t scale, bias;
  };
  Entry value[256];
  constexpr CrossingTable() : value() {
    for (uint32_t d = 1; d < 256; ++d) value[d] = {256 * uint64_t{kReciprocal[d]}, (d / 2) * uint64_t{kReciprocal[d]}};
  }
  constexpr const Entry& operator[](uint32_t d) const { return value[d]; }
};
constexpr CrossingTable kCrossing;

struct Grid {
  const uint8_t* pixels;
  int32_t stride;
  int32_t x0, y0, width, height;
  int32_t threshold;
  bool darkBlob;
  bool saddleByMean;

  bool inWindow(int32_t x, int32_t y) const {
    return static_cast<uint32_t>(x - x0) < static_cast<uint32_t>(width) &&
           static_cast<uint32_t>(y - y0) < static_cast<uint32_t>(height);
  }
  // Only for pixels of the window.
  int32_t value(int32_t x, int32_t y) const {
    return pixels[static_cast<ptrdiff_t>(y - y0) * stride + (x - x0)];
  }
  bool isBlobValue(int32_t v) const { return darkBlob ? v < threshold : v >= threshold; }
  bool isBlob(int32_t x, int32_t y) const { return inWindow(x, y) && isBlobValue(value(x, y)); }

  // For a sum of four pixel values: whether their mean is in the blob's class.
  bool isBlobValue4(int32_t sum) const { return darkBlob ? sum < 4 * threshold : sum >= 4 * threshold; }

  // Distance in 1/256 pixel from a blob pixel of value vp to the threshold crossing towards a
  // 4-neighbour of value vq on the other side: one value is below the threshold and the other
  // at or above it, so 0 < den and 0 <= num <= 256 * den; rounded to nearest.
  int32_t crossingOffset(int32_t vp, int32_t vq) const {
    const uint32_t num = static_cast<uint32_t>((vp < threshold ? threshold - vp : vp - threshold) * 256);
    const uint32_t den = static_cast<uint32_t>(vp < vq ? vq - vp : vp - vq);
    return static_cast<int32_t>(((num + den / 2) * static_cast<uint64_t>(kReciprocal[den])) >> 24);
  }

  // The crossing between blob pixel (px, py) and its 4-neighbour (qx, qy), 1/256 pixel.
  // Returns true when (qx, qy) lies outside the window (the point is then P's centre).
  bool crossing(int32_t px, int32_t py, int32_t qx, int32_t qy, cbt_point* out) const {
    if (!inWindow(qx, qy)) {
      out->x = px * 256;
      out->y = py * 256;
      return true;
    }
    const int32_t s = crossingOffset(value(px, py), value(qx, qy));
    out->x = px * 256 + (qx - px) * s;
    out->y = py * 256 + (qy - py) * s;
    return false;
  }

  // At a saddle cell (blob on one diagonal only), whether the blob connects across the cell.
  // All four pixels lie in the window: the two blob pixels do, and the others lie between them.
  bool blobConnectsAt(int32_t ax, int32_t ay, int32_t bx, int32_t by) const {
    if (!saddleByMean) return true;
    const int32_t minX = ax < bx ? ax : bx;
    const int32_t minY = ay < by ? ay : by;
    const int32_t sum = value(minX, minY) + value(minX + 1, minY) + value(minX, minY + 1) +
                        value(minX + 1, minY + 1);
    return darkBlob ? sum < 4 * threshold : sum >= 4 * threshold;
  }
};

inline bool samePoint(const cbt_point& a, const cbt_point& b) { return a.x == b.x && a.y == b.y; }

struct State {
  int32_t px, py;  // blob pixel
  int k;           // travel direction
};

}  // namespace cbt_detail

#endif
