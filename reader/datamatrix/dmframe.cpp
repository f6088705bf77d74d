#include "reader/datamatrix/dmframe.hpp"

#include <algorithm>
#include <cstring>

namespace dmroad {

namespace {

// Below this spread between the edges' dark and light levels the edges show nothing to frame
// against; each side then gets its own mean, and the frame adds no edge.
constexpr int kMinContrast = 24;
// A side whose outermost pixels are this much of one class shows a solid side or a margin.
constexpr double kClear = 0.85;

// The grey level at fraction q of a histogram of n values.
int percentile(const std::array<int, 256>& histogram, int n, double q) {
  const int rank = static_cast<int>(q * (n - 1));
  int seen = 0;
  for (int v = 0; v < 256; ++v) {
    seen += histogram[v];
    if (seen > rank) return v;
  }
  return 255;
}

struct Side {
  std::array<int, 256> histogram{};
  int count = 0;
  long sum = 0;
};

}  // namespace

FrameLevels frameLevels(const cimg_windowConst& w) {
  std::array<Side, 4> sides;  // left, top, right, bottom
  auto add = [](Side& s, uint8_t v) {
    ++s.histogram[v];
    ++s.count;
    s.sum += v;
  };
  const ptrdiff_t stride = w.stride;
  for (int y = 0; y < w.height; ++y) {
    const uint8_t* row = w.pixels + y * stride;
    add(sides[0], row[0]);
    add(sides[2], row[w.width - 1]);
  }
  for (int x = 0; x < w.width; ++x) {
    add(sides[1], w.pixels[x]);
    add(sides[3], w.pixels[(w.height - 1) * stride + x]);
  }
  std::array<int, 256> all{};
  int total = 0;
  for (const Side& s : sides) {
    for (int v = 0; v < 256; ++v) all[v] += s.histogram[v];
    total += s.count;
  }
  FrameLevels levels{};
  const int dark = percentile(all, total, 0.05), light = percentile(all, total, 0.95);
  if (light - dark < kMinContrast) {
    for (int i = 0; i < 4; ++i) levels[i] = static_cast<uint8_t>(sides[i].sum / sides[i].count);
    return levels;
  }
  const int threshold = (dark + light) / 2;
  std::array<double, 4> darkShare{};
  int darkTotal = 0;
  for (int i = 0; i < 4; ++i) {
    int below = 0;
    for (int v = 0; v < threshold; ++v) below += sides[i].histogram[v];
    darkShare[i] = static_cast<double>(below) / sides[i].count;
    darkTotal += below;
  }
  // The level opposite to a side showing mostly dark (share above one half) or mostly light.
  auto opposite = [&](double share) { return static_cast<uint8_t>(share > 0.5 ? light : dark); };
  // The clearest side decides for the sides that show both classes; without one, the edges' majority.
  int clearest = -1;
  for (int i = 0; i < 4; ++i) {
    const bool clear = darkShare[i] >= kClear || darkShare[i] <= 1 - kClear;
    if (clear && (clearest < 0 || std::abs(darkShare[i] - 0.5) > std::abs(darkShare[clearest] - 0.5))) clearest = i;
  }
  const uint8_t mixed = clearest >= 0 ? opposite(darkShare[clearest])
                                      : opposite(static_cast<double>(darkTotal) / total);
  for (int i = 0; i < 4; ++i) {
    const bool clear = darkShare[i] >= kClear || darkShare[i] <= 1 - kClear;
    levels[i] = clear ? opposite(darkShare[i]) : mixed;
  }
  return levels;
}

void framedCopy(const cimg_windowConst& w, const FrameLevels& levels, uint8_t* out) {
  constexpr int f = kFrameWidth;
  const int width = w.width + 2 * f;
  const size_t stride = static_cast<size_t>(width);
  std::memset(out, levels[1], stride * f);
  for (int y = 0; y < w.height; ++y) {
    uint8_t* row = out + (y + f) * stride;
    std::memset(row, levels[0], f);
    std::memcpy(row + f, w.pixels + static_cast<ptrdiff_t>(y) * w.stride, static_cast<size_t>(w.width));
    std::memset(row + f + w.width, levels[2], f);
  }
  std::memset(out + (w.height + f) * stride, levels[3], stride * f);
}

}  // namespace dmroad
