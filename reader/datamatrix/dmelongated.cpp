#include "reader/datamatrix/dmelongated.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dmroad {

namespace {

// A band must be this many times as long as it is wide (the widths are those of the marked
// outline, a cell or two wider than the symbol each side: an 8 x 48 of 1.5-pixel modules shows
// about 4 : 1; over generated scenes and the photos no band below 4.5 : 1 held a symbol the
// searches had dropped, and a third of the bands that held none were below 4 : 1).
constexpr double kMinElongation = 4.0;
constexpr int32_t kCell = 4;  // pixels a marking cell covers each way
constexpr double kPi = 3.14159265358979323846;
// How much more of the edges may run one way than the other in a Data Matrix band. A long
// rectangle's module edges run about as much along it as across it; bars run one way only.
constexpr double kMaxEdgeImbalance = 3.0;
// The part of a band's cells at each side across it left out of its width, when the band is too
// wide at its extremes: a glyph of clutter whose marks touch the symbol's joins its set, and at
// the extremes it made a long rectangle's band look half as wide again as it is or more.
constexpr double kWidthTrim = 0.05;
// Bands of less elongation at their extremes than this are not measured again (the symbols'
// bands seen joined to clutter were 3.7 : 1 and more; each band taken costs a turned view).
constexpr double kMinTrimmedElongation = 3.0;
// The share of a band's cells that may lie on the frame round the picture: outlines that follow
// the picture's edge lie there nearly all along. A set with more is taken for the outline of the
// picture's edge, and only a band among its cells off the edge is looked for (a symbol near the
// edge of a picture with a margin all round joins that outline through the marks between).
constexpr double kMaxOnFrame = 0.25;

// A run of marked cells along a row, x0 ... x1 inclusive.
struct Run {
  int32_t y, x0, x1;
  int32_t label;
};

// Moments of a set of cells, and their box (cells).
struct Moments {
  double n = 0, x = 0, y = 0, xx = 0, yy = 0, xy = 0;
  double onFrame = 0;
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  double lo = 1e300, hi = -1e300, across0 = 1e300, across1 = -1e300;  // extents along the direction
  double direction = 0, cos = 1, sin = 0;
};

// Sum of k^2 for k = 0 ... n.
double squaresTo(double n) { return n * (n + 1) * (2 * n + 1) / 6; }

// out[x] = 1 where the scan marked cell x (marked now, clear before), else 0; sixteen cells at a
// time where the processor has SSE2.
void newMarks(const uint8_t* marked, const uint8_t* before, int32_t n, uint8_t* out) {
  int32_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
  for (; x + 16 <= n; x += 16) {
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(marked + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(before + x));
    const __m128i fresh = _mm_andnot_si128(_mm_cmpeq_epi8(m, zero), _mm_cmpeq_epi8(b, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_and_si128(fresh, one));
  }
#endif
  for (; x < n; ++x) out[x] = static_cast<uint8_t>((marked[x] != 0) & (before[x] == 0));
}

// The extent across direction (c, s) of the cells of the runs labelled label, less kWidthTrim
// of them each side. across: scratch.
std::pair<double, double> trimmedAcross(const std::vector<Run>& runs, int32_t label, double c, double s,
                                        std::vector<double>& across) {
  across.clear();
  for (const Run& r : runs)
    if (r.label == label)
      for (int32_t x = r.x0; x <= r.x1; ++x) across.push_back(-s * x + c * r.y);
  const size_t trim = static_cast<size_t>(kWidthTrim * static_cast<double>(across.size()));
  std::nth_element(across.begin(), across.begin() + static_cast<ptrdiff_t>(trim), across.end());
  const double lo = across[trim];
  std::nth_element(across.begin(), across.end() - 1 - static_cast<ptrdiff_t>(trim), across.end());
  return {lo, across[across.size() - 1 - trim]};
}

// A marked cell's place (cells).
struct Cell {
  double x, y;
};

// The straight band that holds most of a set's cells, when clutter joined to it makes the whole
// set too wide: where the marks of a long symbol and of a column of glyphs beside it touch
// depends on where the symbol falls on the 4-pixel grid of cells, so the same picture shifted by
// a pixel made one set of both, and lost the symbol. The band's line is fitted again and again to
// the cells nearest it (kCoreShare of them), which leaves out a smaller crossing part; its
// extents are those of the cells within kCoreReach times that distance.
constexpr double kCoreShare = 0.6;
constexpr double kCoreReach = 2.0;
constexpr int kCoreFits = 4;

struct Core {
  double direction = 0, length = 0, width = 0;
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
};

// Whether a band as long as length (pixels) could be fitted to the cells at all: the narrowest
// strip along direction that holds kCoreShare of them must be no wider than a quarter of the
// length (the band is fitted to about twice that width). A blob of marks, the most of the sets
// too wide to take whole, fails this in one pass over its cells. counts: scratch.
bool mayHoldBand(const std::vector<Cell>& cells, double direction, double length, std::vector<int32_t>& counts) {
  const double c = std::cos(direction), s = std::sin(direction);
  double lo = 1e300, hi = -1e300;
  for (const Cell& p : cells) {
    lo = std::min(lo, -s * p.x + c * p.y);
    hi = std::max(hi, -s * p.x + c * p.y);
  }
  counts.assign(static_cast<size_t>(hi - lo) + 2, 0);
  // Held at 0 from below: the same sum may round otherwise the second time.
  for (const Cell& p : cells) ++counts[static_cast<size_t>(std::max(0.0, -s * p.x + c * p.y - lo))];
  // The narrowest run of strips one cell wide holding the share.
  const size_t need = static_cast<size_t>(std::ceil(kCoreShare * static_cast<double>(cells.size())));
  size_t narrowest = counts.size(), held = 0;
  for (size_t begin = 0, end = 0; end < counts.size(); ++end) {
    held += static_cast<size_t>(counts[end]);
    while (begin < end && held - static_cast<size_t>(counts[begin]) >= need) held -= static_cast<size_t>(counts[begin++]);
    if (held >= need) narrowest = std::min(narrowest, end - begin + 1);
  }
  return length >= kMinElongation * static_cast<double>(narrowest) * kCell;
}

// The band fitted to cells (see kCoreShare); length and width in pixels, the box in cells.
// distances: scratch.
Core coreOf(const std::vector<Cell>& cells, std::vector<double>& distances) {
  Core core;
  double cx = 0, cy = 0, direction = 0, reach = 1e300;
  for (int fit = 0; fit < kCoreFits; ++fit) {
    // Moments of the cells within reach of the line through (cx, cy) along direction.
    const double c = std::cos(direction), s = std::sin(direction);
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (const Cell& p : cells) {
      if (fit > 0 && std::fabs(-s * (p.x - cx) + c * (p.y - cy)) > reach) continue;
      n += 1;
      sx += p.x;
      sy += p.y;
      sxx += p.x * p.x;
      syy += p.y * p.y;
      sxy += p.x * p.y;
    }
    if (n < 2) return core;
    cx = sx / n;
    cy = sy / n;
    direction = 0.5 * std::atan2(2 * (sxy / n - cx * cy), (sxx / n - cx * cx) - (syy / n - cy * cy));
    // The distance from the new line within which kCoreShare of all the cells lie.
    const double nc = std::cos(direction), ns = std::sin(direction);
    distances.clear();
    for (const Cell& p : cells) distances.push_back(std::fabs(-ns * (p.x - cx) + nc * (p.y - cy)));
    const size_t k = static_cast<size_t>(kCoreShare * static_cast<double>(distances.size() - 1));
    std::nth_element(distances.begin(), distances.begin() + static_cast<ptrdiff_t>(k), distances.end());
    reach = std::max(distances[k], 1.0);
  }
  const double c = std::cos(direction), s = std::sin(direction);
  double lo = 1e300, hi = -1e300, across0 = 1e300, across1 = -1e300;
  core.minX = core.minY = INT32_MAX;
  core.maxX = core.maxY = INT32_MIN;
  for (const Cell& p : cells) {
    const double across = -s * (p.x - cx) + c * (p.y - cy);
    if (std::fabs(across) > kCoreReach * reach) continue;
    const double along = c * (p.x - cx) + s * (p.y - cy);
    lo = std::min(lo, along);
    hi = std::max(hi, along);
    across0 = std::min(across0, across);
    across1 = std::max(across1, across);
    core.minX = std::min(core.minX, static_cast<int32_t>(p.x));
    core.maxX = std::max(core.maxX, static_cast<int32_t>(p.x));
    core.minY = std::min(core.minY, static_cast<int32_t>(p.y));
    core.maxY = std::max(core.maxY, static_cast<int32_t>(p.y));
  }
  core.direction = direction;
  core.length = (hi - lo + 1) * kCell;
  core.width = (across1 - across0 + 1) * kCell;
  return core;
}

// The cells of the runs labelled label for which inside(x, y) holds.
template <typename Inside>
void cellsOf(const std::vector<Run>& runs, int32_t label, const Inside& inside, std::vector<Cell>& cells) {
  cells.clear();
  for (const Run& r : runs)
    if (r.label == label)
      for (int32_t x = r.x0; x <= r.x1; ++x)
        if (inside(x, r.y)) cells.push_back(Cell{double(x), double(r.y)});
}

int32_t findRoot(std::vector<int32_t>& parent, int32_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

}  // namespace

std::vector<Elongated> elongatedOutlines(const cimg_window& marking, const std::vector<uint8_t>& before, int32_t frame,
                                         int32_t imageWidth, int32_t imageHeight, double minLength,
                                         double minWidth) {
  const int32_t w = marking.width, h = marking.height;
  std::vector<Elongated> out;
  if (w <= 0 || h <= 0 || before.size() != static_cast<size_t>(w) * h) return out;
  // The runs of cells the scan marked, row by row, joined to the runs of the row above that
  // touch them (eight neighbours) into labelled sets.
  std::vector<Run> runs;
  std::vector<int32_t> parent;
  runs.reserve(static_cast<size_t>(h) * 8);
  parent.reserve(static_cast<size_t>(h) * 8);
  // A row's cells the scan marked, padded with a clear word so that the skip below never reads
  // past it.
  std::vector<uint8_t> row(static_cast<size_t>(w) + 8, 0);
  size_t previousRow = 0, previousEnd = 0;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* m = marking.pixels + static_cast<ptrdiff_t>(y) * marking.stride;
    const uint8_t* b = before.data() + static_cast<size_t>(y) * w;
    uint8_t* r = row.data();
    newMarks(m, b, w, r);
    const size_t rowStart = runs.size();
    for (int32_t x = 0; x < w;) {
      // Eight clear cells at a time: most of a row is clear.
      uint64_t word;
      std::memcpy(&word, r + x, sizeof word);
      if (word == 0) {
        x += 8;
        continue;
      }
      if (r[x] == 0) {
        ++x;
        continue;
      }
      const int32_t x0 = x;
      while (x < w && r[x] != 0) ++x;
      const int32_t label = static_cast<int32_t>(parent.size());
      parent.push_back(label);
      runs.push_back(Run{y, x0, x - 1, label});
    }
    // Runs of the row above overlapping [x0 - 1, x1 + 1]: both lists are in order of x.
    size_t k = previousRow;
    for (size_t i = rowStart; i < runs.size(); ++i) {
      while (k < previousEnd && runs[k].x1 < runs[i].x0 - 1) ++k;
      for (size_t j = k; j < previousEnd && runs[j].x0 <= runs[i].x1 + 1; ++j) {
        const int32_t a = findRoot(parent, runs[i].label), c = findRoot(parent, runs[j].label);
        if (a != c) parent[std::max(a, c)] = std::min(a, c);
      }
    }
    previousRow = rowStart;
    previousEnd = runs.size();
  }
  if (runs.empty()) return out;
  // Moments of each set, from its runs in closed form.
  std::vector<Moments> sets(parent.size());
  const int32_t frameCells = frame / kCell;  // cells wholly on the frame each side
  const int32_t rightFrame = (frame + imageWidth + kCell - 1) / kCell, bottomFrame = (frame + imageHeight + kCell - 1) / kCell;
  for (Run& r : runs) {
    r.label = findRoot(parent, r.label);
    Moments& m = sets[r.label];
    const double n = r.x1 - r.x0 + 1, sx = n * (r.x0 + r.x1) / 2.0;
    if (m.n == 0) {
      m.minX = r.x0;
      m.maxX = r.x1;
      m.minY = m.maxY = r.y;
    }
    m.n += n;
    m.x += sx;
    m.y += n * r.y;
    m.xx += squaresTo(r.x1) - squaresTo(r.x0 - 1.0);
    m.yy += n * r.y * double(r.y);
    m.xy += sx * r.y;
    m.minX = std::min(m.minX, r.x0);
    m.maxX = std::max(m.maxX, r.x1);
    m.minY = std::min(m.minY, r.y);
    m.maxY = std::max(m.maxY, r.y);
    if (r.y < frameCells || r.y >= bottomFrame) {
      m.onFrame += n;
    } else {
      m.onFrame += std::max(0, std::min(r.x1, frameCells - 1) - r.x0 + 1);
      m.onFrame += std::max(0, r.x1 - std::max(r.x0, rightFrame) + 1);
    }
  }
  // The sets long enough, their direction of largest spread and their extents along and across
  // it (a run's extremes lie at its ends).
  auto candidate = [&](const Moments& m) {
    return m.n > 0 && std::max(m.maxX - m.minX + 1, m.maxY - m.minY + 1) * kCell >= minLength;
  };
  for (Moments& m : sets) {
    if (!candidate(m)) continue;
    const double mx = m.x / m.n, my = m.y / m.n;
    const double sxx = m.xx / m.n - mx * mx, syy = m.yy / m.n - my * my, sxy = m.xy / m.n - mx * my;
    m.direction = 0.5 * std::atan2(2 * sxy, sxx - syy);
    m.cos = std::cos(m.direction);
    m.sin = std::sin(m.direction);
  }
  for (const Run& r : runs) {
    Moments& m = sets[r.label];
    if (!candidate(m)) continue;
    const double c = m.cos, s = m.sin;
    for (int32_t x : {r.x0, r.x1}) {
      const double along = c * x + s * r.y, across = -s * x + c * r.y;
      m.lo = std::min(m.lo, along);
      m.hi = std::max(m.hi, along);
      m.across0 = std::min(m.across0, across);
      m.across1 = std::max(m.across1, across);
    }
  }
  std::vector<std::pair<double, Elongated>> bands;
  std::vector<double> across;
  std::vector<Cell> cells;
  std::vector<int32_t> counts;
  auto inside = [&](int32_t x, int32_t y) {
    return y >= frameCells && y < bottomFrame && x >= frameCells && x < rightFrame;
  };
  // The picture less its outermost cells each side, where the outline of its edge runs.
  auto offEdge = [&](int32_t x, int32_t y) {
    return y > frameCells && y < bottomFrame - 1 && x > frameCells && x < rightFrame - 1;
  };
  for (size_t i = 0; i < sets.size(); ++i) {
    const Moments& m = sets[i];
    if (!candidate(m)) continue;
    double length = (m.hi - m.lo + 1) * kCell;
    double width = (m.across1 - m.across0 + 1) * kCell;
    if (length < minLength || width < minWidth) continue;
    int32_t minX = m.minX, minY = m.minY, maxX = m.maxX, maxY = m.maxY;
    double direction = m.direction;
    // A set a quarter or more on the frame is the outline of the picture's edge: only a band among
    // its cells off the edge may be a symbol's.
    const bool edgeOutline = m.onFrame > kMaxOnFrame * m.n;
    bool whole = !edgeOutline && length >= kMinElongation * width;
    if (!edgeOutline && !whole && length >= kMinTrimmedElongation * width) {
      // Too wide at its extremes: measured again without the trimmed cells each side, when that
      // can make it narrow enough (the trimming takes no more than a small glyph's width).
      const auto [lo, hi] = trimmedAcross(runs, static_cast<int32_t>(i), m.cos, m.sin, across);
      const double trimmedWidth = (hi - lo + 1) * kCell;
      whole = trimmedWidth >= minWidth && length >= kMinElongation * trimmedWidth;
    }
    if (!whole) {
      // Clutter too big to trim joined to it (or the edge's outline): the straight band most of
      // its cells lie in.
      if (edgeOutline) cellsOf(runs, static_cast<int32_t>(i), offEdge, cells);
      else cellsOf(runs, static_cast<int32_t>(i), inside, cells);
      if (cells.size() < 2 || (!edgeOutline && !mayHoldBand(cells, m.direction, length, counts))) continue;
      const Core core = coreOf(cells, across);
      if (core.length < minLength || core.width < minWidth || core.length < kMinElongation * core.width) continue;
      minX = core.minX;
      minY = core.minY;
      maxX = core.maxX;
      maxY = core.maxY;
      direction = core.direction;
      length = core.length;
    }
    Elongated e;
    // The box of the band's cells in image pixels, with a cell of margin, on the image.
    e.x0 = std::max(0, (minX - 1) * kCell - frame);
    e.y0 = std::max(0, (minY - 1) * kCell - frame);
    e.x1 = std::min(imageWidth, (maxX + 2) * kCell - frame);
    e.y1 = std::min(imageHeight, (maxY + 2) * kCell - frame);
    if (e.x1 - e.x0 < 2 || e.y1 - e.y0 < 2) continue;
    e.direction = direction < 0 ? direction + kPi : direction;
    bands.emplace_back(length, e);
  }
  // Every band, the longest first. Each costs a second search over its own box only, so a sheet
  // of many long rectangles costs in proportion to them; a cap on the count lost every symbol
  // past it on a big image.
  std::sort(bands.begin(), bands.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& band : bands) out.push_back(band.second);
  return out;
}

bool edgesBothWays(const cimg_windowConst& w, const Elongated& band) {
  // The squared gradient along the band and across it, from differences over two pixels, at
  // every other pixel of every other row of the box.
  const double c = std::cos(band.direction), s = std::sin(band.direction);
  double along = 0, across = 0;
  const ptrdiff_t stride = w.stride;
  for (int32_t y = std::max(band.y0, 1); y < std::min(band.y1, w.height - 1); y += 2) {
    const uint8_t* p = w.pixels + y * stride;
    for (int32_t x = std::max(band.x0, 1); x < std::min(band.x1, w.width - 1); x += 2) {
      const double gx = p[x + 1] - p[x - 1], gy = p[x + stride] - p[x - stride];
      const double a = c * gx + s * gy, b = c * gy - s * gx;
      along += a * a;
      across += b * b;
    }
  }
  return along <= kMaxEdgeImbalance * across && across <= kMaxEdgeImbalance * along;
}

}  // namespace dmroad
