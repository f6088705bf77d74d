// The pattern lines: the image's rows and columns read straight from the pixels, runs along each
// against a threshold held over 80 pixels, the start and stop patterns among the runs.
#include "reader/pdf417/pdfpattern.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pdfroad {

namespace {

constexpr int kBlockShift = 4;        // thresholds are set per block of 16 samples
constexpr int kBlockReach = 2;        // from the extremes of the block and two either side (80 samples)
constexpr float kMinModule = 0.9f;    // narrowest module matched, samples (a sharp scan of 1 pixel)
// Space before the start pattern, and after the stop pattern, at least. Scans cut close to the
// start pattern leave a module; the stop pattern's wide bar is less distinctive (data holds bars
// of six modules), so it asks for more.
constexpr float kQuietBeforeStart = 0.9f, kQuietAfterStop = 1.5f;
constexpr int kStartModules = 17, kStopModules = 18;
// The wide bar against its narrow neighbours (the next two elements, a module each in both
// patterns): 8 (or 7) modules against 1, with the slack the matching allows, is at least 3.5 times
// as wide; anything less needs no closer look.
constexpr float kWideOverNarrow = 3.0f;

// A pattern's elements in modules, bar first, and how far each may be off, in modules: narrow
// elements by a little over half a module (blur moves both edges of a narrow element), the wide
// bar by a module and a half.
template <size_t N>
struct Pattern {
  float modules[N];
  float slack[N];
  int total;
};
template <size_t N>
constexpr Pattern<N> patternOf(const int (&elements)[N], int total) {
  Pattern<N> p{};
  for (size_t j = 0; j < N; ++j) {
    p.modules[j] = static_cast<float>(elements[j]);
    p.slack[j] = elements[j] >= 7 ? 1.5f : 0.45f + 0.1f * static_cast<float>(elements[j]);
  }
  p.total = total;
  return p;
}
constexpr int kStartElements[] = {8, 1, 1, 1, 1, 1, 1, 3};
constexpr int kStopElements[] = {7, 1, 1, 3, 1, 1, 1, 2, 1};
constexpr Pattern<8> kStart = patternOf(kStartElements, kStartModules);
constexpr Pattern<9> kStop = patternOf(kStopElements, kStopModules);

// Run k onwards (forward) or k backwards (backward) as the elements of pattern, bar first; module
// receives the pattern's mean module.
template <size_t N>
bool matchesAt(const LineRuns& r, size_t k, bool forward, const Pattern<N>& pattern, float* module) {
  if (forward ? k + N > r.count() : k + 1 < N) return false;
  const float span = forward ? r.edges[k + N] - r.edges[k] : r.edges[k + 1] - r.edges[k + 1 - N];
  const float m = span / static_cast<float>(pattern.total);
  if (m < kMinModule) return false;
  for (size_t j = 0; j < N; ++j) {
    const float w = r.width(forward ? k + j : k - j);
    if (std::fabs(w - pattern.modules[j] * m) > pattern.slack[j] * m) return false;
  }
  *module = m;
  return true;
}

// Whether the samples of block b's neighbourhood, spanning lo to hi, go from below a quarter of
// that span to above three quarters (or back) at least twice: bars and spaces, where one step
// from one level to another goes once, and noise near either level not at all.
bool crossesTwice(const uint8_t* p, int n, int b, int lo, int hi) {
  const int from = std::max(0, b - kBlockReach) << kBlockShift;
  const int to = std::min(n, (b + kBlockReach + 1) << kBlockShift);
  const int low = lo + (hi - lo) / 4, high = hi - (hi - lo) / 4;
  int side = 0, crossings = 0;  // side: -1 last seen low, 1 high, 0 neither yet
  for (int i = from; i < to && crossings < 2; ++i) {
    const int now = p[i] < low ? -1 : p[i] > high ? 1 : 0;
    if (now == 0 || now == side) continue;
    if (side != 0) ++crossings;
    side = now;
  }
  return crossings >= 2;
}

// The threshold of block b from the extremes of its neighbourhood, or of the neighbourhood that
// ends (or begins) at b when that one holds bars and spaces of its own and the far side adds a
// level beyond them by more than half their span: a pale label on a white page has three levels
// near its edge, and the page's white would lift the midpoint above the label's light modules,
// turning its quiet zone and the start or stop pattern beside it into one dark run. The
// neighbourhood ending at b is the centred one of block b - 2 (the one beginning at b that of
// block b + 2). A side counts as holding bars and spaces when its span is more than twice that of
// the plainest block within reach of either side (the page itself, or the line's noise), so the
// noise inside a wide bar never passes for them, and when its samples cross its middle level
// twice or more: a label's narrow light margin and the page beyond it span two levels too, but
// with one step between them, and taking their midpoint turns the margin dark, joined to the
// pattern's outer bar (on whichever lines the blocks happen to split there).
float oneSidedThreshold(const uint8_t* p, int n, const uint8_t* nearLo, const uint8_t* nearHi,
                        const uint8_t* nearFlattest, int blocks, int b, double minContrast) {
  const int l = nearLo[b], h = nearHi[b];
  float best = 0.5f * static_cast<float>(l + h);
  int bestSpan = h - l;
  const int before = std::max(0, b - kBlockReach), after = std::min(blocks - 1, b + kBlockReach);
  const int flattest = std::min(nearFlattest[before], nearFlattest[after]);
  for (const int side : {before, after}) {
    const int sl = nearLo[side], sh = nearHi[side], span = sh - sl;
    if (span < minContrast || span <= 2 * flattest || span >= bestSpan) continue;
    if ((2 * (h - sh) > span || 2 * (sl - l) > span) && crossesTwice(p, n, side, sl, sh)) {
      best = 0.5f * static_cast<float>(sl + sh);
      bestSpan = span;
    }
  }
  return best;
}

// Bit k set where sample k of the 16 lies below `below`: with SSE2 one comparison of the 16 bytes
// (a byte lies at or above the threshold exactly when the larger of the two is the byte itself).
uint32_t darkBits16(const uint8_t* q, int below) {
  if (below <= 0) return 0;
  if (below > 255) return 0xFFFFu;
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  const __m128i atOrAbove = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(static_cast<char>(below))), v);
  return ~static_cast<uint32_t>(_mm_movemask_epi8(atOrAbove)) & 0xFFFFu;
#else
  uint32_t dark = 0;
  for (int k = 0; k < 16; ++k) dark |= static_cast<uint32_t>(q[k] < below) << k;
  return dark;
#endif
}

constexpr int kMaxBlocks = 1 << 12;
constexpr int kLanes = 16;
constexpr int kPad = 16;  // at least kBlockReach
constexpr int kPaddedBlocks = kPad + kMaxBlocks + kPad + kLanes;

// Over blocks 0 .. blocks - 1 (rounded up to whole groups of kLanes, which the arrays have room
// for): the least of lo, the greatest of hi and the least of span over the kBlockReach blocks
// either side and the block itself. The inputs hold kBlockReach neutral blocks before 0 and
// after the last, and are readable kLanes blocks further.
void neighbourhoods(const uint8_t* lo, const uint8_t* hi, const uint8_t* span, int blocks, uint8_t* nearLo,
                    uint8_t* nearHi, uint8_t* nearFlattest) {
  static_assert(kPad >= kBlockReach);
#if defined(__SSE2__)
  auto at = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  for (int b = 0; b < blocks; b += kLanes) {
    __m128i l = at(lo + b - kBlockReach), h = at(hi + b - kBlockReach), f = at(span + b - kBlockReach);
    for (int d = 1 - kBlockReach; d <= kBlockReach; ++d) {
      l = _mm_min_epu8(l, at(lo + b + d));
      h = _mm_max_epu8(h, at(hi + b + d));
      f = _mm_min_epu8(f, at(span + b + d));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(nearLo + b), l);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(nearHi + b), h);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(nearFlattest + b), f);
  }
#else
  for (int b = 0; b < blocks; ++b) {
    uint8_t l = 255, h = 0, f = 255;
    for (int j = b - kBlockReach; j <= b + kBlockReach; ++j) {
      l = std::min(l, lo[j]);
      h = std::max(h, hi[j]);
      f = std::min(f, span[j]);
    }
    nearLo[b] = l;
    nearHi[b] = h;
    nearFlattest[b] = f;
  }
#endif
}

// count samples from p, p + step, p + 2 step, ... into out, four to a round.
void gather(const uint8_t* p, ptrdiff_t step, int count, uint8_t* out) {
  int i = 0;
  for (; i + 4 <= count; i += 4, p += 4 * step) {
    out[i] = p[0];
    out[i + 1] = p[step];
    out[i + 2] = p[2 * step];
    out[i + 3] = p[3 * step];
  }
  for (; i < count; ++i, p += step) out[i] = *p;
}

}  // namespace

void runsOf(const uint8_t* p, int n, double minContrast, LineRuns* runs) {
  runs->edges.clear();
  runs->dark.clear();
  if (n < 2) return;
  // Extremes per block, then each block's threshold from its neighbourhood's extremes.
  const int blocks = ((n - 1) >> kBlockShift) + 1;
  if (blocks > kMaxBlocks) return;  // lines of more than 65536 samples are not read
  // Block extremes, with kBlockReach blocks of padding either side that change no neighbourhood
  // (255 for a minimum, 0 for a maximum) and room for the last 16 blocks' loads.
  uint8_t loBuffer[kPaddedBlocks], hiBuffer[kPaddedBlocks], spanBuffer[kPaddedBlocks];
  uint8_t* const lo = loBuffer + kPad;
  uint8_t* const hi = hiBuffer + kPad;
  uint8_t* const span = spanBuffer + kPad;
  float threshold[kMaxBlocks];
  // Whole blocks in a loop of fixed length, which the vectoriser takes; the last, short one apart.
  constexpr int kBlock = 1 << kBlockShift;
  const int wholeBlocks = n >> kBlockShift;
  for (int b = 0; b < wholeBlocks; ++b) {
    const uint8_t* q = p + (b << kBlockShift);
    uint8_t l = 255, h = 0;
    for (int i = 0; i < kBlock; ++i) {
      l = std::min(l, q[i]);
      h = std::max(h, q[i]);
    }
    lo[b] = l;
    hi[b] = h;
  }
  if (wholeBlocks < blocks) {
    uint8_t l = 255, h = 0;
    for (int i = wholeBlocks << kBlockShift; i < n; ++i) {
      l = std::min(l, p[i]);
      h = std::max(h, p[i]);
    }
    lo[wholeBlocks] = l;
    hi[wholeBlocks] = h;
  }
  for (int b = 0; b < blocks; ++b) span[b] = static_cast<uint8_t>(hi[b] - lo[b]);
  std::memset(lo - kPad, 255, kPad);
  std::memset(hi - kPad, 0, kPad);
  std::memset(span - kPad, 255, kPad);
  std::memset(lo + blocks, 255, kPad + kLanes);
  std::memset(hi + blocks, 0, kPad + kLanes);
  std::memset(span + blocks, 255, kPad + kLanes);
  // Each block's neighbourhood: its extremes, and the narrowest span of one block in it (the
  // line's noise where it holds a plain stretch).
  uint8_t nearLo[kMaxBlocks + kLanes], nearHi[kMaxBlocks + kLanes], nearFlattest[kMaxBlocks + kLanes];
  neighbourhoods(lo, hi, span, blocks, nearLo, nearHi, nearFlattest);
  int firstSet = -1;
  for (int b = 0; b < blocks; ++b) {
    if (nearHi[b] - nearLo[b] >= minContrast) {
      threshold[b] = oneSidedThreshold(p, n, nearLo, nearHi, nearFlattest, blocks, b, minContrast);
      if (firstSet < 0) firstSet = b;
    } else {
      threshold[b] = b > 0 ? threshold[b - 1] : -1.0f;
    }
  }
  if (firstSet < 0) return;  // no contrast anywhere on the line
  // Blocks before the first with contrast take its threshold: a bar at the line's start keeps its
  // class.
  for (int b = 0; b < firstSet; ++b) threshold[b] = threshold[firstSet];
  bool inDark = p[0] < threshold[0];
  // Edges in samples; the line's ends are the image's borders, half a sample outside the first
  // and last samples.
  runs->edges.push_back(-0.5f);
  runs->dark.push_back(inDark);
  for (int block = 0; block < blocks; ++block) {
    const float t = threshold[block];
    const int from = block << kBlockShift, count = std::min(n - from, kBlock);
    // A block whose extremes lie on the side the line is on already holds no edge: most of a
    // line (background, the inside of a wide bar) is passed a block at a time.
    if (inDark ? hi[block] < t : lo[block] >= t) continue;
    // The block's samples as bits (1: dark), then the samples whose class differs from the one
    // before: a test per sample whose outcome a textured line makes unpredictable costs more in
    // mispredicted branches than it computes. The threshold is a whole or half grey level, so an
    // 8-bit sample lies below it exactly when it lies below its ceiling.
    const int below = static_cast<int>(std::ceil(t));
    uint32_t dark = count == kBlock ? darkBits16(p + from, below) : 0;
    if (count != kBlock)
      for (int k = 0; k < count; ++k) dark |= static_cast<uint32_t>(p[from + k] < below) << k;
    uint32_t changes = (dark ^ (dark << 1 | (inDark ? 1u : 0u))) & ((1u << count) - 1);
    if (block == 0) changes &= ~1u;  // the line's first sample begins its first run
    while (changes != 0) {
      const int k = std::countr_zero(changes);
      changes &= changes - 1;
      const int i = from + k;
      // The crossing between the two samples, by linear interpolation (the samples differ: one
      // lies below the threshold, the other not).
      const float a = p[i - 1], b = p[i];
      const float f = std::clamp((t - a) / (b - a), 0.0f, 1.0f);
      runs->edges.push_back(static_cast<float>(i - 1) + f);
      runs->dark.push_back(((dark >> k) & 1) != 0);
    }
    inDark = ((dark >> (count - 1)) & 1) != 0;
  }
  runs->edges.push_back(static_cast<float>(n) - 0.5f);
}

void matchRuns(const LineRuns& r, std::vector<LineMatch>* matches) {
  const size_t count = r.count();
  if (count < 9) return;
  // Whether run i is wide enough for a quiet zone, lies beyond the line's end, or is cut by it
  // (a symbol scanned to its bars keeps a sliver of its quiet zone, whose width tells nothing).
  auto quiet = [&](size_t i, bool beyond, float width) {
    return beyond || i == 0 || i + 1 == count || r.width(i) >= width;
  };
  // Run k as the wide bar of a pattern read either way.
  auto consider = [&](size_t k) {
    const float w = r.width(k);
    // Forward: the wide bar first, the narrow elements after it.
    const bool forward = k + 2 < count && w >= kWideOverNarrow * r.width(k + 1) && w >= kWideOverNarrow * r.width(k + 2);
    // Backward: the line runs against the reading direction, the wide bar last.
    const bool backward = k > 1 && w >= kWideOverNarrow * r.width(k - 1) && w >= kWideOverNarrow * r.width(k - 2);
    if (!forward && !backward) return;
    LineMatch m;
    m.lightBars = r.dark[k] == 0;
    m.wideBar = 0.5f * (r.edges[k] + r.edges[k + 1]);
    if (forward) {
      if (matchesAt(r, k, true, kStart, &m.module) && quiet(k - 1, k == 0, kQuietBeforeStart * m.module)) {
        m.edge = r.edges[k];
        m.atBorder = k == 0;
        matches->push_back(m);
      } else if (matchesAt(r, k, true, kStop, &m.module) && quiet(k + 9, k + 9 == count, kQuietAfterStop * m.module)) {
        m.stop = true;
        m.edge = r.edges[k + 9];
        m.atBorder = k + 9 == count;
        matches->push_back(m);
      }
    }
    if (backward) {
      m.reversed = true;
      m.stop = false;
      if (matchesAt(r, k, false, kStart, &m.module) && quiet(k + 1, k + 1 == count, kQuietBeforeStart * m.module)) {
        m.edge = r.edges[k + 1];
        m.atBorder = k + 1 == count;
        matches->push_back(m);
      } else if (matchesAt(r, k, false, kStop, &m.module) && quiet(k - 9, k == 8, kQuietAfterStop * m.module)) {
        m.stop = true;
        m.edge = r.edges[k - 8];
        m.atBorder = k == 8;
        matches->push_back(m);
      }
    }
  };
  size_t k = 0;
  for (; k < 2; ++k) consider(k);
#if defined(__SSE2__)
  // Four runs at a time, the widths either side of each compared as consider() compares them; only
  // a run that passes on one side is looked at. Needs edges k - 2 .. k + 6.
  const float* e = r.edges.data();
  const __m128 wider = _mm_set1_ps(kWideOverNarrow);
  for (; k + 6 <= count; k += 4) {
    const __m128 e0 = _mm_loadu_ps(e + k - 2), e1 = _mm_loadu_ps(e + k - 1), e2 = _mm_loadu_ps(e + k);
    const __m128 e3 = _mm_loadu_ps(e + k + 1), e4 = _mm_loadu_ps(e + k + 2), e5 = _mm_loadu_ps(e + k + 3);
    const __m128 w = _mm_sub_ps(e3, e2);
    const __m128 forward = _mm_and_ps(_mm_cmpge_ps(w, _mm_mul_ps(wider, _mm_sub_ps(e4, e3))),
                                      _mm_cmpge_ps(w, _mm_mul_ps(wider, _mm_sub_ps(e5, e4))));
    const __m128 backward = _mm_and_ps(_mm_cmpge_ps(w, _mm_mul_ps(wider, _mm_sub_ps(e2, e1))),
                                       _mm_cmpge_ps(w, _mm_mul_ps(wider, _mm_sub_ps(e1, e0))));
    for (unsigned lanes = static_cast<unsigned>(_mm_movemask_ps(_mm_or_ps(forward, backward))); lanes != 0;
         lanes &= lanes - 1)
      consider(k + static_cast<size_t>(std::countr_zero(lanes)));
  }
#endif
  for (; k < count; ++k) consider(k);
}

std::vector<PatternHit> scanPatterns(const cimg_windowConst& w, const PatternScan& scan) {
  std::vector<PatternHit> hits;
  if (w.width < 16 || w.height < 16 || scan.spacing < 1 || scan.diagonalStep < 1) return hits;
  LineRuns runs;
  std::vector<LineMatch> matches;
  // The matches of one line as hits: sample s of the line lies at origin + (s + 0.5) * step, a
  // pixel centre.
  auto collect = [&](int family, int line, cmath_vect origin, cmath_vect step) {
    const double length = std::hypot(step.x, step.y);
    for (const LineMatch& m : matches) {
      PatternHit h;
      h.family = family;
      h.line = line;
      h.stop = m.stop;
      h.lightBars = m.lightBars;
      h.reversed = m.reversed;
      h.atBorder = m.atBorder;
      h.module = m.module * length;
      auto at = [&](float s) { return cmath_vect{origin.x + (s + 0.5) * step.x, origin.y + (s + 0.5) * step.y}; };
      h.edge = at(m.edge);
      h.wideBar = at(m.wideBar);
      const double sign = m.reversed ? -1 : 1;
      h.dir = cmath_vect{sign * step.x / length, sign * step.y / length};
      hits.push_back(h);
    }
  };
  auto readLine = [&](const uint8_t* samples, int count, int family, int line, cmath_vect origin, cmath_vect step) {
    runsOf(samples, count, scan.minContrast, &runs);
    matches.clear();
    matchRuns(runs, &matches);
    collect(family, line, origin, step);
  };
  const int step = scan.spacing;
  auto wanted = [&](int family, int line) {
    if (scan.only != nullptr) {
      const std::vector<uint8_t>& flags = (*scan.only)[family];
      return static_cast<size_t>(line) < flags.size() && flags[line] != 0;
    }
    return scan.parity < 0 || (line & 1) == scan.parity;
  };
  // Rows, straight from the pixels.
  int line = 0;
  for (int y = step / 2; y < w.height; y += step, ++line)
    if (wanted(0, line))
      readLine(w.pixels + static_cast<ptrdiff_t>(y) * w.stride, w.width, 0, line, cmath_vect{0, static_cast<double>(y)},
               cmath_vect{1, 0});
  // Columns, gathered so that each image row is read once, in order.
  const int columns = (w.width - step / 2 + step - 1) / step;
  std::vector<int> read;
  for (int c = 0; c < columns; ++c)
    if (wanted(1, c)) read.push_back(c);
  // Sixteen rows at a time: each column's sixteen samples land side by side, and the rows stay at
  // hand in the cache while every column takes its share of them.
  std::vector<uint8_t> gathered(read.size() * w.height);
  std::vector<ptrdiff_t> offsets(read.size());
  for (size_t k = 0; k < read.size(); ++k) offsets[k] = step / 2 + static_cast<ptrdiff_t>(read[k]) * step;
  constexpr int kTile = 16;
  for (int y0 = 0; y0 < w.height; y0 += kTile) {
    const int rows = std::min(kTile, w.height - y0);
    const uint8_t* tile = w.pixels + static_cast<ptrdiff_t>(y0) * w.stride;
    for (size_t k = 0; k < read.size(); ++k) {
      const uint8_t* from = tile + offsets[k];
      uint8_t* to = gathered.data() + k * w.height + y0;
      gather(from, w.stride, rows, to);
    }
  }
  for (size_t k = 0; k < read.size(); ++k)
    readLine(gathered.data() + k * w.height, w.height, 1, read[k],
             cmath_vect{static_cast<double>(step / 2 + read[k] * step), 0}, cmath_vect{0, 1});
  // Diagonals, pixel by pixel: x - y = k (down to the right), then x + y = k (up to the right,
  // from the bottom row), k every diagonalStep pixels.
  std::vector<uint8_t> diagonal(static_cast<size_t>(std::min(w.width, w.height)));
  const int dstep = scan.diagonalStep;
  line = 0;
  for (int k = -(w.height - 1) + dstep / 2; k < w.width; k += dstep, ++line) {
    const int x0 = std::max(0, k), y0 = x0 - k;
    const int count = std::min(w.width - x0, w.height - y0);
    if (count < 16 || !wanted(2, line)) continue;
    const uint8_t* p = w.pixels + static_cast<ptrdiff_t>(y0) * w.stride + x0;
    gather(p, w.stride + 1, count, diagonal.data());
    readLine(diagonal.data(), count, 2, line, cmath_vect{static_cast<double>(x0), static_cast<double>(y0)},
             cmath_vect{1, 1});
  }
  line = 0;
  for (int k = dstep / 2; k < w.width + w.height - 1; k += dstep, ++line) {
    const int y0 = std::min(w.height - 1, k), x0 = k - y0;
    const int count = std::min(w.width - x0, y0 + 1);
    if (count < 16 || !wanted(3, line)) continue;
    const uint8_t* p = w.pixels + static_cast<ptrdiff_t>(y0) * w.stride + x0;
    gather(p, 1 - w.stride, count, diagonal.data());
    readLine(diagonal.data(), count, 3, line, cmath_vect{static_cast<double>(x0), static_cast<double>(y0) + 1},
             cmath_vect{1, -1});
  }
  return hits;
}

std::vector<PatternHit> mergeHalves(const std::vector<PatternHit>& even, const std::vector<PatternHit>& odd) {
  std::vector<PatternHit> all(even.size() + odd.size());
  // No line is in both halves, so the order by family and line is the whole scan's.
  std::merge(even.begin(), even.end(), odd.begin(), odd.end(), all.begin(), [](const PatternHit& a, const PatternHit& b) {
    return a.family != b.family ? a.family < b.family : a.line < b.line;
  });
  return all;
}

void scanSecondHalfNear(const std::vector<cimg_windowConst>& windows, const std::vector<PatternScan>& scans,
                        std::vector<std::vector<PatternHit>>* halves) {
  std::array<std::vector<uint8_t>, kLineFamilies> wanted, read;
  std::vector<std::vector<PatternHit>> second(windows.size());
  std::vector<PatternHit> near;  // the hits whose neighbouring lines are read next
  for (const std::vector<PatternHit>& half : *halves) near.insert(near.end(), half.begin(), half.end());
  for (;;) {
    bool any = false;
    for (std::vector<uint8_t>& flags : wanted) std::fill(flags.begin(), flags.end(), 0);
    for (const PatternHit& h : near) {
      std::vector<uint8_t>&want = wanted[h.family], &done = read[h.family];
      const size_t last = static_cast<size_t>(h.line + kLineReach);
      if (want.size() <= last) want.resize(last + 1, 0), done.resize(last + 1, 0);
      for (int line = std::max(0, h.line - kLineReach); line <= h.line + kLineReach; ++line)
        if ((line & 1) == 1 && !done[line]) want[line] = done[line] = 1, any = true;
    }
    if (!any) break;
    near.clear();
    for (size_t i = 0; i < windows.size(); ++i) {
      PatternScan s = scans[i];
      s.only = &wanted;
      const std::vector<PatternHit> found = scanPatterns(windows[i], s);
      second[i].insert(second[i].end(), found.begin(), found.end());
      near.insert(near.end(), found.begin(), found.end());
    }
  }
  // Each round reads its lines in the whole scan's order; the rounds interleave.
  for (size_t i = 0; i < windows.size(); ++i) {
    std::stable_sort(second[i].begin(), second[i].end(), [](const PatternHit& a, const PatternHit& b) {
      return a.family != b.family ? a.family < b.family : a.line < b.line;
    });
    (*halves)[i] = mergeHalves((*halves)[i], second[i]);
  }
}

}  // namespace pdfroad
