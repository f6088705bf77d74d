#include "reader/datamatrix/dmupscale.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <vector>

namespace dmroad {

void upscaleTwice(const cimg_windowConst& w, uint8_t* out) {
  if (w.width <= 0 || w.height <= 0) return;
  const size_t outWidth = 2 * static_cast<size_t>(w.width);
  // Rows blended 3 : 1 first (at most 1020, in 16 bits), then their columns.
  std::vector<uint16_t> blended(static_cast<size_t>(w.width));
  for (int32_t y2 = 0; y2 < 2 * w.height; ++y2) {
    const int32_t y = y2 / 2, other = std::clamp(y2 % 2 ? y + 1 : y - 1, 0, w.height - 1);
    const uint8_t* near = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    const uint8_t* far = w.pixels + static_cast<ptrdiff_t>(other) * w.stride;
    for (int32_t x = 0; x < w.width; ++x) blended[static_cast<size_t>(x)] = static_cast<uint16_t>(3 * near[x] + far[x]);
    uint8_t* o = out + static_cast<size_t>(y2) * outWidth;
    for (int32_t x = 0; x < w.width; ++x) {
      const uint16_t here = blended[static_cast<size_t>(x)];
      const uint16_t left = blended[static_cast<size_t>(std::max(x - 1, 0))];
      const uint16_t right = blended[static_cast<size_t>(std::min(x + 1, w.width - 1))];
      o[2 * x] = static_cast<uint8_t>((3 * here + left + 8) >> 4);
      o[2 * x + 1] = static_cast<uint8_t>((3 * here + right + 8) >> 4);
    }
  }
}

double meanStepBothWays(const cimg_windowConst& w, int32_t rowStep) {
  if (w.width < 2 || w.height < 2) return 0;
  uint64_t across = 0, down = 0, rows = 0, pairs = 0;
  for (int32_t y = 0; y < w.height; y += std::max(rowStep, 1)) {
    const uint8_t* row = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    for (int32_t x = 0; x + 1 < w.width; ++x) across += static_cast<uint64_t>(std::abs(row[x + 1] - row[x]));
    ++rows;
    if (y + 1 == w.height) break;
    const uint8_t* next = row + w.stride;
    for (int32_t x = 0; x < w.width; ++x) down += static_cast<uint64_t>(std::abs(next[x] - row[x]));
    ++pairs;
  }
  if (pairs == 0) return 0;
  return std::min(static_cast<double>(across) / (static_cast<double>(rows) * (w.width - 1)),
                  static_cast<double>(down) / (static_cast<double>(pairs) * w.width));
}

}  // namespace dmroad
