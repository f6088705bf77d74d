#include "reader/pdf417/pdftables.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace pdf417 {

namespace {

struct Entry {
  uint32_t key;
  int16_t value;
  bool operator<(const Entry& o) const { return key < o.key; }
};

std::array<int, 8> widthsOfPattern(uint32_t pattern) {
  std::array<int, 8> w{};
  int element = 0;
  for (int bit = 16; bit >= 0 && element < 8; --bit) {
    const bool bar = ((pattern >> bit) & 1) != 0;
    if (bar != (element % 2 == 0)) ++element;
    if (element < 8) ++w[element];
  }
  return w;
}

uint32_t edgeKey(const std::array<int, 6>& e) {
  uint32_t key = 0;
  for (int d : e) key = key * 16 + static_cast<uint32_t>(d & 15);
  return key;
}

// Per cluster, the words sorted by pattern and by edge distances, and each word's distances,
// built once.
struct Index {
  std::vector<Entry> byPattern[3];
  std::vector<Entry> byEdges[3];
  std::array<std::array<int8_t, 6>, kWordValues> edges[3];
  Index() {
    for (int k = 0; k < 3; ++k) {
      for (int v = 0; v < kWordValues; ++v) {
        const uint32_t p = kCodewordPatterns[k][v];
        const std::array<int, 8> w = widthsOfPattern(p);
        std::array<int, 6> e{};
        for (int i = 0; i < 6; ++i) e[i] = w[i] + w[i + 1], edges[k][v][i] = static_cast<int8_t>(e[i]);
        byPattern[k].push_back({p, static_cast<int16_t>(v)});
        byEdges[k].push_back({edgeKey(e), static_cast<int16_t>(v)});
      }
      std::sort(byPattern[k].begin(), byPattern[k].end());
      std::sort(byEdges[k].begin(), byEdges[k].end());
    }
  }
};

const Index& index() {
  static const Index kIndex;  // built on first use, thread-safe
  return kIndex;
}

int find(const std::vector<Entry>& entries, uint32_t key) {
  const auto it = std::lower_bound(entries.begin(), entries.end(), Entry{key, 0});
  return it != entries.end() && it->key == key ? it->value : -1;
}

}  // namespace

int valueOfPattern(int cluster, uint32_t pattern) {
  if (cluster != 0 && cluster != 3 && cluster != 6) return -1;
  return find(index().byPattern[cluster / 3], pattern);
}

int valueOfEdges(const std::array<int, 6>& e, int* cluster) {
  // Bars 0 - 2 + 4 - 6 = (e0 - e1) + (e4 - e5).
  const int k = ((e[0] - e[1] + e[4] - e[5]) % 9 + 9) % 9;
  if (cluster != nullptr) *cluster = k;
  if (k % 3 != 0) return -1;
  for (int d : e)
    if (d < 2 || d > 12) return -1;
  return find(index().byEdges[k / 3], edgeKey(e));
}

int nearestWord(const std::array<float, 6>& e, int cluster, float within, float* off) {
  if (cluster != 0 && cluster != 3 && cluster != 6) return -1;
  const auto& table = index().edges[cluster / 3];
  int best = -1;
  float bestOff = within;
  for (int v = 0; v < kWordValues; ++v) {
    float worst = 0;
    for (int i = 0; i < 6 && worst < bestOff; ++i) worst = std::max(worst, std::fabs(e[i] - table[v][i]));
    if (worst < bestOff) bestOff = worst, best = v;
  }
  if (off != nullptr) *off = bestOff;
  return best;
}

uint32_t patternOfWidths(const std::array<int, 8>& w) {
  uint32_t p = 0;
  int total = 0;
  for (int i = 0; i < 8; ++i) {
    if (w[i] < 1) return 0;
    total += w[i];
    if (total > kModulesPerWord) return 0;
    for (int m = 0; m < w[i]; ++m) p = (p << 1) | (i % 2 == 0 ? 1u : 0u);
  }
  return total == kModulesPerWord ? p : 0;
}

int leftIndicator(int row, int rows, int columns, int level) {
  const int base = 30 * (row / 3);
  switch (row % 3) {
    case 0: return base + (rows - 1) / 3;
    case 1: return base + 3 * level + (rows - 1) % 3;
    default: return base + columns - 1;
  }
}

int rightIndicator(int row, int rows, int columns, int level) {
  const int base = 30 * (row / 3);
  switch (row % 3) {
    case 0: return base + columns - 1;
    case 1: return base + (rows - 1) / 3;
    default: return base + 3 * level + (rows - 1) % 3;
  }
}

}  // namespace pdf417
