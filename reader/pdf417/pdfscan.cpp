#include "reader/pdf417/pdfscan.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "reader/pdf417/pdftables.hpp"

namespace pdf417 {

namespace {

// The threshold a profile is cut at, held per block of samples: the middle of the darkest and
// lightest values around each block (the block and its neighbours), or of the whole line where
// the neighbourhood holds too little contrast to tell bars from spaces (inside a wide bar or the
// quiet zone); band is the hysteresis either side of it.
struct Thresholds {
  size_t block = 8;
  std::vector<float> mid, band;  // per block
  float midAt(size_t i) const { return mid[i / block]; }
  float bandAt(size_t i) const { return band[i / block]; }
};

struct Extremes {
  float lo = 255, hi = 0;
};

// The darkest and lightest of count samples, starting from 255 and 0. Four lanes at a time with
// SSE2: a profile holds grey levels and kOutside, never a NaN, so the extremes are the same
// whichever order the samples are compared in.
Extremes extremesOf(const float* p, size_t count) {
  Extremes e;
  size_t i = 0;
#if defined(__SSE2__)
  if (count >= 4) {
    __m128 lo = _mm_set1_ps(255.0f), hi = _mm_setzero_ps();
    for (; i + 4 <= count; i += 4) {
      const __m128 v = _mm_loadu_ps(p + i);
      lo = _mm_min_ps(v, lo);
      hi = _mm_max_ps(v, hi);
    }
    alignas(16) float l[4], h[4];
    _mm_store_ps(l, lo);
    _mm_store_ps(h, hi);
    e.lo = std::min(std::min(l[0], l[1]), std::min(l[2], l[3]));
    e.hi = std::max(std::max(h[0], h[1]), std::max(h[2], h[3]));
  }
#endif
  for (; i < count; ++i) {
    e.lo = std::min(e.lo, p[i]);
    e.hi = std::max(e.hi, p[i]);
  }
  return e;
}

void localThreshold(const std::vector<float>& p, Thresholds* t) {
  const size_t n = p.size();
  const size_t block = std::max<size_t>(8, n / 16);
  const size_t blocks = (n + block - 1) / block;
  std::vector<float> lo(blocks), hi(blocks);
  for (size_t b = 0; b < blocks; ++b) {
    const size_t from = b * block;
    const Extremes e = extremesOf(p.data() + from, std::min(n, from + block) - from);
    lo[b] = e.lo;
    hi[b] = e.hi;
  }
  // The line's levels from the blocks inside the symbol: the profile runs a little past both
  // sides, where a pale label's page may stand far lighter (or darker) than any of its modules.
  const size_t inner = blocks >= 6 ? 2 : 0;
  const float globalLo = *std::min_element(lo.begin() + inner, lo.end() - inner);
  const float globalHi = *std::max_element(hi.begin() + inner, hi.end() - inner);
  const float globalRange = globalHi - globalLo;
  t->block = block;
  t->mid.resize(blocks);
  t->band.resize(blocks);
  for (size_t b = 0; b < blocks; ++b) {
    float l = lo[b], h = hi[b];
    if (b > 0) l = std::min(l, lo[b - 1]), h = std::max(h, hi[b - 1]);
    if (b + 1 < blocks) l = std::min(l, lo[b + 1]), h = std::max(h, hi[b + 1]);
    // A level beyond the symbol's own by more than half its span is the surroundings, not a
    // module: it does not move the threshold of the quiet zone and patterns beside it.
    if (h > globalHi + 0.5f * globalRange) h = globalHi;
    if (l < globalLo - 0.5f * globalRange) l = globalLo;
    if (h - l < 0.4f * globalRange) l = globalLo, h = globalHi;
    t->mid[b] = 0.5f * (l + h);
    t->band[b] = 0.06f * (h - l);
  }
}

// std::lround's value (halves away from zero) without its library call, for the few modules a
// word's elements measure; anything not finite or beyond an int's reach is left to lround.
template <typename Real>
int roundHalfAway(Real x) {
  if (!(std::fabs(x) < static_cast<Real>(1 << 30))) return static_cast<int>(std::lround(x));
  int r = static_cast<int>(x);  // towards zero
  // Exact: below 1 r is 0, above it r and x lie within a factor of two of each other.
  const Real rest = x - static_cast<Real>(r);
  if (rest >= static_cast<Real>(0.5)) ++r;
  else if (rest <= static_cast<Real>(-0.5)) --r;
  return r;
}

// Whether the elements from edge e (a bar's leading edge) have the relative widths of ref,
// within tol modules on every pair of neighbouring elements.
template <size_t N>
bool matchesPattern(const std::vector<double>& pos, size_t e, const std::array<int, N>& ref, int modules,
                    double tol) {
  if (e + N >= pos.size()) return false;
  const double total = pos[e + N] - pos[e];
  if (total <= 0) return false;
  const double scale = modules / total;
  for (size_t i = 0; i + 1 < N; ++i) {
    const double pair = (pos[e + i + 2] - pos[e + i]) * scale;
    if (std::fabs(pair - (ref[i] + ref[i + 1])) > tol) return false;
  }
  return true;
}

// The word whose eight elements start at edge e and span total, read two ways: by the
// edge-to-similar-edge distances (immune to bars printed wide or narrow) and by the element
// boundaries each put on the nearest of the word's 17 module boundaries (immune to the pixel
// quantisation of a symbol scanned square to the pixel grid, which can round a distance the
// wrong way on every line alike). -1 where a way gives no word; clusters alongside.
std::array<int, 2> readWord(const std::vector<double>& pos, size_t e, double total, std::array<int, 2>* clusters,
                            std::array<float, 6>* distances) {
  std::array<int, 2> value{-1, -1};
  std::array<float, 6>& raw = *distances;
  for (int i = 0; i < 6; ++i) raw[i] = static_cast<float>((pos[e + i + 2] - pos[e + i]) * kModulesPerWord / total);
  value[0] = wordOfDistances(raw, &(*clusters)[0]);
  std::array<int, 8> widths{};
  int previous = 0;
  for (int i = 1; i <= 8; ++i) {
    const int boundary = i == 8 ? kModulesPerWord
                                : roundHalfAway((pos[e + i] - pos[e]) * kModulesPerWord / total);
    widths[i - 1] = boundary - previous;
    previous = boundary;
  }
  (*clusters)[1] = clusterOf(widths);
  const uint32_t pattern = patternOfWidths(widths);
  if (pattern != 0) value[1] = valueOfPattern((*clusters)[1], pattern);
  return value;
}

}  // namespace

int wordOfDistances(const std::array<float, 6>& raw, int* cluster) {
  std::array<int, 6> d{};
  for (int i = 0; i < 6; ++i) d[i] = roundHalfAway(raw[i]);
  int value = valueOfEdges(d, cluster);
  if (value >= 0) return value;
  int worst = 0;
  double worstOff = -1;
  for (int i = 0; i < 6; ++i) {
    const double off = std::fabs(raw[i] - d[i]);
    if (off > worstOff) worstOff = off, worst = i;
  }
  if (worstOff < 0.3) return -1;  // every distance clear: the elements are no word
  d[worst] += raw[worst] > d[worst] ? 1 : -1;
  return valueOfEdges(d, cluster);
}

namespace {

// Index of the bar leading edge nearest to x within reach; pos.size() if none.
size_t barEdgeNear(const std::vector<double>& pos, const std::vector<char>& dark, double x, double reach) {
  size_t best = pos.size();
  double bestOff = reach;
  for (size_t i = std::lower_bound(pos.begin(), pos.end(), x - reach) - pos.begin(); i < pos.size() && pos[i] < x + reach;
       ++i) {
    if (!dark[i]) continue;
    const double off = std::fabs(pos[i] - x);
    if (off < bestOff) bestOff = off, best = i;
  }
  return best;
}

// The first start pattern of the line, as the index of its first edge; pos.size() if none.
size_t findStart(const std::vector<double>& pos, const std::vector<char>& dark) {
  for (size_t e = 0; e + 8 < pos.size(); ++e)
    if (dark[e] && matchesPattern(pos, e, kStartWidths, kStartModules, 0.8)) return e;
  return pos.size();
}

}  // namespace

size_t firstBeyond(const float* p, size_t from, size_t to, float level, bool above) {
#if defined(__SSE2__)
  const __m128 l = _mm_set1_ps(level);
  for (; from + 4 <= to; from += 4) {
    const __m128 v = _mm_loadu_ps(p + from);
    const int hits = _mm_movemask_ps(above ? _mm_cmpgt_ps(v, l) : _mm_cmplt_ps(v, l));
    if (hits != 0) return from + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(hits)));
  }
#endif
  for (; from < to; ++from)
    if (above ? p[from] > level : p[from] < level) return from;
  return to;
}

// Edges of a profile: positions (in samples, interpolated) where the level crosses the local
// threshold, found with hysteresis; dark[i] tells whether edge i enters a bar.
static void findEdges(const std::vector<float>& p, std::vector<double>* positions, std::vector<char>* dark) {
  positions->clear();
  dark->clear();
  if (p.size() < 2) return;
  // Room for every edge the profile can hold, taken once rather than grown edge by edge.
  positions->reserve(p.size());
  dark->reserve(p.size());
  Thresholds levels;
  localThreshold(p, &levels);
  bool inDark = p[0] < levels.midAt(0);
  size_t lastSwitch = 0;
  const size_t n = p.size();
  // Block by block, each with its levels; within one, from crossing to crossing.
  for (size_t i = 1; i < n;) {
    const size_t block = i / levels.block, blockEnd = std::min(n, (block + 1) * levels.block);
    const float enterLight = levels.mid[block] + levels.band[block];
    const float enterDark = levels.mid[block] - levels.band[block];
    for (;;) {
      i = inDark ? firstBeyond(p.data(), i, blockEnd, enterLight, true)
                 : firstBeyond(p.data(), i, blockEnd, enterDark, false);
      if (i == blockEnd) break;
      // The crossing of the threshold itself, looking back to the last sample on the old side;
      // the block of sample j followed as j steps back, not divided out per sample.
      size_t j = i, jBlock = block, jBlockStart = block * levels.block;
      for (; j > lastSwitch; --j) {
        if (j < jBlockStart) --jBlock, jBlockStart -= levels.block;
        const float mid = levels.mid[jBlock];
        if (!(inDark ? p[j] >= mid : p[j] <= mid)) break;
      }
      if (j < jBlockStart) --jBlock, jBlockStart -= levels.block;
      const size_t nextBlock = j + 1 < jBlockStart + levels.block ? jBlock : jBlock + 1;
      const double a = p[j] - levels.mid[jBlock], b = p[j + 1] - levels.mid[nextBlock];
      const double t = a != b ? std::clamp(a / (a - b), 0.0, 1.0) : 0.5;
      positions->push_back(static_cast<double>(j) + t);
      inDark = !inDark;
      dark->push_back(inDark ? 1 : 0);
      lastSwitch = i++;
    }
  }
}

namespace {

// The words of a line as they are read, with the clusters each way of reading gave.
struct Walk {
  std::vector<std::array<int, 2>> readings, clusters;
  std::vector<std::array<float, 6>> unread;
  std::vector<int> firstEdges;  // per slot, the edge its word was read from; -1 where none read
  std::array<float, 6> lastDistances{kNotMeasured};

  // Room for a line's words, taken once.
  void reserve() {
    readings.reserve(kMaxLineWords);
    clusters.reserve(kMaxLineWords);
    unread.reserve(kMaxLineWords);
    firstEdges.reserve(kMaxLineWords);
  }
  // The word whose elements run from edge e over total samples; false when neither way reads it
  // (its distances are then kept for skip()).
  bool take(const std::vector<double>& pos, size_t e, double total, double module) {
    std::array<int, 2> value{-1, -1}, cluster{-1, -1};
    lastDistances = {kNotMeasured};
    if (std::fabs(total - kModulesPerWord * module) < 2.5 * module)
      value = readWord(pos, e, total, &cluster, &lastDistances);
    if (value[0] < 0 && value[1] < 0) return false;
    readings.push_back(value);
    clusters.push_back(cluster);
    unread.push_back({kNotMeasured});
    firstEdges.push_back(static_cast<int>(e));
    return true;
  }
  // A slot that did not read: its distances when take() measured them just before.
  void skip(bool measured) {
    readings.push_back({-1, -1});
    clusters.push_back({-1, -1});
    unread.push_back(measured ? lastDistances : std::array<float, 6>{kNotMeasured});
    firstEdges.push_back(-1);
  }
  // A word's own span holds its scale only to the pixel: on a symbol of two-pixel modules scanned
  // to a bilevel image, a word of 33.6 pixels spans 34 and puts a distance of 11 pixels at exactly
  // 5.5 modules, which then rounds the same wrong way on every line. The span of the run of read
  // words around it (up to two either side) holds the scale that many times more exactly: each
  // read word is read again at it.
  void rescale(const std::vector<double>& pos) {
    const int n = static_cast<int>(firstEdges.size());
    for (int k = 0; k < n; ++k) {
      if (firstEdges[k] < 0) continue;
      int a = k, b = k;
      while (a > k - 2 && a > 0 && firstEdges[a - 1] >= 0) --a;
      while (b < k + 2 && b + 1 < n && firstEdges[b + 1] >= 0) ++b;
      if (a == b) continue;
      const size_t e = static_cast<size_t>(firstEdges[k]);
      // Slots run along the profile or, read from the stop pattern, against it.
      const size_t first = static_cast<size_t>(std::min(firstEdges[a], firstEdges[b]));
      const size_t last = static_cast<size_t>(std::max(firstEdges[a], firstEdges[b]));
      const double own = pos[e + 8] - pos[e];
      const double total = (pos[last + 8] - pos[first]) / (b - a + 1);
      // Neighbours of another scale (a word read across a flaw) leave the word as it read.
      if (std::fabs(total - own) > 0.06 * own) continue;
      std::array<int, 2> cluster{-1, -1};
      std::array<float, 6> distances{};
      const std::array<int, 2> value = readWord(pos, e, total, &cluster, &distances);
      if (value[0] < 0 && value[1] < 0) continue;
      readings[k] = value;
      clusters[k] = cluster;
    }
  }
  // Votes for the line's cluster: a word's cluster once, or each way's where they differ.
  std::array<int, 9> clusterVotes() const {
    std::array<int, 9> votes{};
    for (size_t k = 0; k < readings.size(); ++k)
      for (int way = 0; way < 2; ++way) {
        const std::array<int, 2>& value = readings[k];
        const std::array<int, 2>& cluster = clusters[k];
        if (value[way] >= 0 && (way == 0 || value[0] < 0 || cluster[0] != cluster[1])) ++votes[cluster[way]];
      }
    return votes;
  }
};

// From the start pattern at edge `start` to the right: words until the stop pattern.
void walkForward(const std::vector<double>& pos, const std::vector<char>& dark, size_t start, double profileEnd,
                 LineRead* line, Walk* walk) {
  double module = (pos[start + 8] - pos[start]) / kStartModules;
  line->startEdge = static_cast<float>(pos[start]);
  line->slotStart.reserve(kMaxLineWords);
  line->slotEdges.reserve(kMaxLineWords);
  line->module = static_cast<float>(module);
  size_t e = start + 8;
  double x = pos[e];
  for (int k = 0; k < kMaxLineWords; ++k) {
    line->slotStart.push_back(static_cast<float>(x));
    const auto from = std::lower_bound(pos.begin(), pos.end(), x - 0.5 * module);
    const auto to = std::lower_bound(from, pos.end(), x + (kModulesPerWord - 0.5) * module);
    line->slotEdges.push_back(static_cast<uint8_t>(std::min<std::ptrdiff_t>(255, to - from)));
    if (e + 9 < pos.size() && dark[e] && matchesPattern(pos, e, kStopWidths, kStopModules, 0.8)) {
      line->stopAt = k;
      line->stopEnd = static_cast<float>(pos[e + 9]);
      return;
    }
    const bool tried = e + 8 < pos.size();
    if (tried && walk->take(pos, e, pos[e + 8] - pos[e], module)) {
      module = 0.8 * module + 0.2 * (pos[e + 8] - pos[e]) / kModulesPerWord;
      e += 8;
      x = pos[e];
      continue;
    }
    // Resynchronise on the leading edge nearest to where the next word should begin; with none
    // there, the following slots are placed by position alone.
    walk->skip(tried);
    x += kModulesPerWord * module;
    if (x >= profileEnd) return;
    e = barEdgeNear(pos, dark, x, 0.8 * module);
    if (e < pos.size()) x = pos[e];
  }
}

// From the stop pattern at edge `stop` to the left: the right row indicator first, until the
// start pattern or the line's beginning. For lines whose start pattern is covered or torn.
void walkBackward(const std::vector<double>& pos, const std::vector<char>& dark, size_t stop, LineRead* line,
                  Walk* walk) {
  double module = (pos[stop + 9] - pos[stop]) / kStopModules;
  line->stopEnd = static_cast<float>(pos[stop + 9]);
  line->module = static_cast<float>(module);
  size_t end = stop;  // edge where the word being read ends (the next word's first bar)
  double x = pos[end];
  for (int k = 0; k < kMaxLineWords; ++k) {
    if (end >= 8 && dark[end - 8] && matchesPattern(pos, end - 8, kStartWidths, kStartModules, 0.8)) {
      line->startAt = k;
      line->startEdge = static_cast<float>(pos[end - 8]);
      return;
    }
    const bool tried = end >= 8 && end < pos.size() && dark[end - 8];
    if (tried && walk->take(pos, end - 8, pos[end] - pos[end - 8], module)) {
      module = 0.8 * module + 0.2 * (pos[end] - pos[end - 8]) / kModulesPerWord;
      end -= 8;
      x = pos[end];
      continue;
    }
    walk->skip(tried);
    x -= kModulesPerWord * module;
    if (x <= 0) return;
    end = barEdgeNear(pos, dark, x, 0.8 * module);
    if (end < pos.size()) x = pos[end];
    else end = 0;
  }
}

// The last stop pattern of the line, as the index of its first edge; pos.size() if none.
size_t findStop(const std::vector<double>& pos, const std::vector<char>& dark) {
  for (size_t e = pos.size(); e-- > 0;)
    if (e + 9 < pos.size() && dark[e] && matchesPattern(pos, e, kStopWidths, kStopModules, 0.8)) return e;
  return pos.size();
}

}  // namespace

LineRead readLine(const std::vector<float>& profile) {
  LineRead line;
  std::vector<double> pos;
  std::vector<char> dark;
  findEdges(profile, &pos, &dark);
  Walk walk;
  const size_t start = findStart(pos, dark);
  if (start < pos.size()) {
    walk.reserve();
    walkForward(pos, dark, start, static_cast<double>(profile.size()), &line, &walk);
  } else {
    const size_t stop = findStop(pos, dark);
    if (stop == pos.size()) return line;
    line.fromStop = true;
    walk.reserve();
    walkBackward(pos, dark, stop, &line, &walk);
  }
  walk.rescale(pos);
  line.found = true;
  const std::array<int, 9> votes = walk.clusterVotes();
  line.readings = std::move(walk.readings);
  line.unread = std::move(walk.unread);
  const int best = static_cast<int>(std::max_element(votes.begin(), votes.end()) - votes.begin());
  if (votes[best] == 0 || best % 3 != 0) return line;
  line.cluster = best;
  // Readings of another cluster are misreadings; a word is taken where the two ways agree or
  // only one gives a word of the row's cluster.
  line.words.assign(line.readings.size(), -1);
  for (size_t k = 0; k < line.readings.size(); ++k) {
    std::array<int, 2>& r = line.readings[k];
    for (int way = 0; way < 2; ++way)
      if (walk.clusters[k][way] != best) r[way] = -1;
    line.words[k] = r[0] == r[1] || r[1] < 0 ? r[0] : (r[0] < 0 ? r[1] : -1);
  }
  return line;
}

}  // namespace pdf417
