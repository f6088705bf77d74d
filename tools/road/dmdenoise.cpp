#include "road/dmdenoise.hpp"

#include <array>
#include <cstdlib>

namespace dmroad {

double noiseSigma(const cimg_windowConst& w) {
  if (w.width < 3 || w.height < 1) return 0;
  std::array<uint32_t, 1021> histogram{};
  uint64_t count = 0;
  for (int32_t y = w.height / 32; y < w.height; y += 16) {
    const uint8_t* p = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    for (int32_t x = 1; x + 1 < w.width; ++x) ++histogram[std::abs(p[x - 1] - 2 * p[x] + p[x + 1])];
    count += static_cast<uint64_t>(w.width - 2);
  }
  uint64_t below = 0;
  size_t median = 0;
  while (median + 1 < histogram.size() && 2 * (below + histogram[median]) < count) below += histogram[median++];
  // For Gaussian noise of deviation s the second difference has deviation s * sqrt(6), and the
  // median of its absolute value is 0.6745 times that.
  return static_cast<double>(median) / (0.6745 * 2.449);
}

void smoothBinomial(const cimg_windowConst& w, std::vector<uint8_t>* out) {
  const int32_t width = w.width, height = w.height;
  out->assign(static_cast<size_t>(width) * height, 0);
  if (width <= 0 || height <= 0) return;
  // Row sums (1 2 1) of the rows above, at and below the current one.
  std::vector<uint16_t> rows[3];
  auto rowSum = [&](int32_t y, std::vector<uint16_t>& sum) {
    const uint8_t* p = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    sum.resize(static_cast<size_t>(width));
    uint16_t* o = sum.data();
    if (width == 1) {
      o[0] = static_cast<uint16_t>(4 * p[0]);
      return;
    }
    o[0] = static_cast<uint16_t>(3 * p[0] + p[1]);
    for (int32_t x = 1; x + 1 < width; ++x) o[x] = static_cast<uint16_t>(p[x - 1] + 2 * p[x] + p[x + 1]);
    o[width - 1] = static_cast<uint16_t>(p[width - 2] + 3 * p[width - 1]);
  };
  rowSum(0, rows[0]);
  rows[1] = rows[0];
  rowSum(height > 1 ? 1 : 0, rows[2]);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* o = out->data() + static_cast<size_t>(y) * width;
    const uint16_t *a = rows[0].data(), *b = rows[1].data(), *c = rows[2].data();
    for (int32_t x = 0; x < width; ++x) o[x] = static_cast<uint8_t>((a[x] + 2 * b[x] + c[x] + 8) >> 4);
    std::swap(rows[0], rows[1]);
    std::swap(rows[1], rows[2]);
    rowSum(y + 2 < height ? y + 2 : height - 1, rows[2]);
  }
}

}  // namespace dmroad
