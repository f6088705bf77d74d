// The 1D road's bar-like regions: a grid of cells, each with the direction its grey gradients
// share (a structure tensor of Sobel responses), cells of one direction grouped into regions, and
// regions in line joined as the pieces of one symbol.
#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "reader/oned/road1d.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace road1d {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinCoherence = 0.55;      // |J1 - J2| / (J1 + J2) of a bar cell
constexpr double kMinEnergy = 250;          // mean squared Sobel response of a bar cell
// Of a cell's squared gradient components, summed with the components' signs over summed without
// (the two axes added): near 1 where all its edges rise the same way, a lone straight edge, while
// a symbol's edges of both senses cancel. Squares, so that the noise of a plain background does
// not dilute the edge.
constexpr double kMaxOneSense = 0.8;
constexpr double kMergeGap = 4.5 * kCell;   // pixels along between pieces of one symbol
constexpr double kMergeOverlap = 0.5;       // of the narrower piece, side by side across

struct Cell {
  double jxx = 0, jyy = 0, jxy = 0;
  double signedXx = 0, signedYy = 0;  // gx |gx| and gy |gy| summed: jxx and jyy with signs
  double angle = 0;  // gradient direction mod pi
  bool bar = false;
  bool oneSense = false;  // its edges all rise the same way (kMaxOneSense)
  int group = -1;
};

double angleDistance(double a, double b) {
  double d = std::fmod(std::fabs(a - b), kPi);
  return std::min(d, kPi - d);
}

// A row's Sobel responses gx and gy at x in [1, width - 1), from the rows above and below it:
// first each column's sum up + 2 mid + down and difference down - up, which both responses are
// made of, once a pixel instead of again for every neighbour whose response uses them. Every
// value lies within +-1020: 16 bits hold them, eight to an SSE2 register. The arrays hold width
// + kPadding entries (those past width - 1 are left as they are).
constexpr int kPadding = 16;

void rowResponses(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int width, int16_t* sum,
                  int16_t* diff, int16_t* gx, int16_t* gy) {
  int x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  auto bytes = [&](const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  };
  for (; x + 8 <= width; x += 8) {
    const __m128i u = bytes(up + x), m = bytes(mid + x), d = bytes(down + x);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + x), _mm_add_epi16(_mm_add_epi16(u, d), _mm_add_epi16(m, m)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(diff + x), _mm_sub_epi16(d, u));
  }
#endif
  for (; x < width; ++x) {
    sum[x] = static_cast<int16_t>(up[x] + 2 * mid[x] + down[x]);
    diff[x] = static_cast<int16_t>(down[x] - up[x]);
  }
  x = 1;
#if defined(__SSE2__)
  auto at = [](const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  for (; x + 8 <= width - 1; x += 8) {
    const __m128i d = at(diff + x);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(gx + x), _mm_sub_epi16(at(sum + x + 1), at(sum + x - 1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(gy + x),
                     _mm_add_epi16(_mm_add_epi16(at(diff + x - 1), at(diff + x + 1)), _mm_add_epi16(d, d)));
  }
#endif
  for (; x < width - 1; ++x) {
    gx[x] = static_cast<int16_t>(sum[x + 1] - sum[x - 1]);
    gy[x] = static_cast<int16_t>(diff[x - 1] + 2 * diff[x] + diff[x + 1]);
  }
}

// The structure tensor's sums of one cell over the spans of a band of rows, in integers: exact,
// whatever the order they are added in. A cell is at most 2 * kCell - 1 rows of 2 * kCell - 2
// pixels of squares up to 1020^2: int32 holds its sums. With SSE2 they are kept in four lanes
// each and added up once the band is done.
static_assert((2 * kCell - 1) * (2 * kCell - 2) * int64_t{1020 * 1020} <= INT32_MAX);
struct SpanSums {
  int32_t xx = 0, yy = 0, xy = 0, sxx = 0, syy = 0;  // gx gx, gy gy, gx gy, gx |gx|, gy |gy|
};

#if defined(__SSE2__)
struct CellLanes {
  __m128i xx = _mm_setzero_si128(), yy = xx, xy = xx, sxx = xx, syy = xx;
};

// Adds responses [from, to) of a row, eight at a time, pairs of products summed by madd; the
// last, short load has the lanes past the span cleared (the arrays' padding makes it readable).
void addSpan(const int16_t* gx, const int16_t* gy, int from, int to, CellLanes& c) {
  auto at = [](const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  auto absOf = [](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); };
  for (int x = from; x < to; x += 8) {
    __m128i a = at(gx + x), b = at(gy + x);
    if (to - x < 8) {
      const __m128i lane = _mm_set_epi16(7, 6, 5, 4, 3, 2, 1, 0);
      const __m128i keep = _mm_cmplt_epi16(lane, _mm_set1_epi16(static_cast<int16_t>(to - x)));
      a = _mm_and_si128(a, keep);
      b = _mm_and_si128(b, keep);
    }
    c.xx = _mm_add_epi32(c.xx, _mm_madd_epi16(a, a));
    c.yy = _mm_add_epi32(c.yy, _mm_madd_epi16(b, b));
    c.xy = _mm_add_epi32(c.xy, _mm_madd_epi16(a, b));
    c.sxx = _mm_add_epi32(c.sxx, _mm_madd_epi16(a, absOf(a)));
    c.syy = _mm_add_epi32(c.syy, _mm_madd_epi16(b, absOf(b)));
  }
}

SpanSums totalsOf(const CellLanes& c) {
  auto total = [](__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
  };
  return {total(c.xx), total(c.yy), total(c.xy), total(c.sxx), total(c.syy)};
}
#else
using CellLanes = SpanSums;

void addSpan(const int16_t* gx, const int16_t* gy, int from, int to, CellLanes& c) {
  for (int x = from; x < to; ++x) {
    const int a = gx[x], b = gy[x];
    c.xx += a * a;
    c.yy += b * b;
    c.xy += a * b;
    c.sxx += a * std::abs(a);
    c.syy += b * std::abs(b);
  }
}

SpanSums totalsOf(const CellLanes& c) { return c; }
#endif

std::vector<Cell> directionGrid(const cimg_windowConst& w, int cols, int rows) {
  std::vector<Cell> cells(static_cast<size_t>(cols) * rows);
  // Sobel responses in integers, summed per cell over a band of kCell rows before they go to the
  // cell (the bottom band takes the rows left over).
  const size_t n = static_cast<size_t>(w.width) + kPadding;
  std::vector<int16_t> sum(n, 0), diff(n, 0), gx(n, 0), gy(n, 0);
  std::vector<CellLanes> band(static_cast<size_t>(cols));
  int bandRow = -1;
  auto closeBand = [&] {
    if (bandRow < 0) return;
    for (int i = 0; i < cols; ++i) {
      const SpanSums t = totalsOf(band[i]);
      Cell& c = cells[static_cast<size_t>(bandRow) * cols + i];
      c.jxx += static_cast<double>(t.xx);
      c.jyy += static_cast<double>(t.yy);
      c.jxy += static_cast<double>(t.xy);
      c.signedXx += static_cast<double>(t.sxx);
      c.signedYy += static_cast<double>(t.syy);
      band[i] = CellLanes{};
    }
  };
  for (int y = 1; y + 1 < w.height; ++y) {
    if (const int r = std::min(y / kCell, rows - 1); r != bandRow) {
      closeBand();
      bandRow = r;
    }
    const uint8_t* up = w.pixels + static_cast<ptrdiff_t>(y - 1) * w.stride;
    rowResponses(up, up + w.stride, up + 2 * static_cast<ptrdiff_t>(w.stride), w.width, sum.data(), diff.data(),
                 gx.data(), gy.data());
    for (int x0 = 1; x0 + 1 < w.width;) {
      const int cell = std::min(x0 / kCell, cols - 1);
      const int x1 = cell == cols - 1 ? w.width - 1 : (cell + 1) * kCell;
      addSpan(gx.data(), gy.data(), x0, x1, band[cell]);
      x0 = x1;
    }
  }
  closeBand();
  for (Cell& c : cells) {
    const double sum = c.jxx + c.jyy;
    const double diff = std::hypot(c.jxx - c.jyy, 2 * c.jxy);
    c.angle = 0.5 * std::atan2(2 * c.jxy, c.jxx - c.jyy);
    if (c.angle < 0) c.angle += kPi;
    c.bar = sum > kMinEnergy * kCell * kCell && diff > kMinCoherence * sum;
    c.oneSense = std::fabs(c.signedXx) + std::fabs(c.signedYy) > kMaxOneSense * sum;
  }
  return cells;
}

// Regions running the same way, side by side across and a gap apart along: the pieces of one
// symbol whose widest spaces (DataBar's finders hold spaces of nine modules) part its cells. Each
// pair is joined into one region over both, the weaker taken into the stronger's frame.
void mergeInLine(std::vector<Region>& regions) {
  for (bool merged = true; merged;) {
    merged = false;
    for (size_t i = 0; i < regions.size() && !merged; ++i)
      for (size_t j = 0; j < regions.size() && !merged; ++j) {
        Region& a = regions[i];
        const Region& b = regions[j];
        if (i == j || a.energy < b.energy || std::fabs(a.dx * b.dy - a.dy * b.dx) > std::sin(kSameDirection)) continue;
        // b's extents in a's frame.
        const double px = b.cx - a.cx, py = b.cy - a.cy;
        const double along = px * a.dx + py * a.dy, across = -px * a.dy + py * a.dx;
        const double bAlong0 = along + b.alongMin, bAlong1 = along + b.alongMax;
        const double bAcross0 = across + b.acrossMin, bAcross1 = across + b.acrossMax;
        const double overlap = std::min(a.acrossMax, bAcross1) - std::max(a.acrossMin, bAcross0);
        const double narrower = std::min(a.acrossMax - a.acrossMin, bAcross1 - bAcross0);
        const double gap = std::max(bAlong0 - a.alongMax, a.alongMin - bAlong1);
        if (overlap < kMergeOverlap * narrower || gap > kMergeGap) continue;
        if (a.pieces.empty()) a.pieces.push_back(a);
        if (b.pieces.empty())
          a.pieces.push_back(b);
        else
          a.pieces.insert(a.pieces.end(), b.pieces.begin(), b.pieces.end());
        a.groups.insert(a.groups.end(), b.groups.begin(), b.groups.end());
        a.piecesApart = a.piecesApart || b.piecesApart;
        a.alongMin = std::min(a.alongMin, bAlong0);
        a.alongMax = std::max(a.alongMax, bAlong1);
        a.acrossMin = std::min(a.acrossMin, bAcross0);
        a.acrossMax = std::max(a.acrossMax, bAcross1);
        a.energy += b.energy;
        regions.erase(regions.begin() + static_cast<std::ptrdiff_t>(j));
        merged = true;
      }
  }
}

// Cells centred inside a read symbol's outline are no bar cells. Only the cells under the
// corners' bounding box are looked at: a sheet of hundreds of read symbols would otherwise test
// every cell against every outline.
void unclaimBarCells(std::vector<Cell>& cells, int cols, int rows, const Outline& q) {
  double x0 = q[0][0], x1 = q[0][0], y0 = q[0][1], y1 = q[0][1];
  for (const auto& corner : q) {
    x0 = std::min(x0, corner[0]);
    x1 = std::max(x1, corner[0]);
    y0 = std::min(y0, corner[1]);
    y1 = std::max(y1, corner[1]);
  }
  if (!(x0 <= x1 && y0 <= y1)) return;  // a corner not a number holds nothing
  // Cell c's centre is (c + 0.5) * kCell: the cells whose centres lie in [x0, x1].
  const auto firstCell = [](double v, int n) { return static_cast<int>(std::clamp(std::ceil(v / kCell - 0.5), 0.0, double(n))); };
  const auto endCell = [](double v, int n) { return static_cast<int>(std::clamp(std::floor(v / kCell - 0.5) + 1, 0.0, double(n))); };
  const int c0 = firstCell(x0, cols), c1 = endCell(x1, cols), r0 = firstCell(y0, rows), r1 = endCell(y1, rows);
  for (int r = r0; r < r1; ++r)
    for (int c = c0; c < c1; ++c) {
      Cell& cell = cells[static_cast<size_t>(r) * cols + c];
      if (cell.bar && withinOutline(q, (c + 0.5) * kCell, (r + 0.5) * kCell, 0)) cell.bar = false;
    }
}

// Where cell i's centre lies in the region's frame: along and across.
std::pair<double, double> cellPlace(const Region& r, int cols, int i) {
  const double px = ((i % cols) + 0.5) * kCell - r.cx, py = ((i / cols) + 0.5) * kCell - r.cy;
  return {px * r.dx + py * r.dy, -px * r.dy + py * r.dx};
}

// A region's extents: across, over its cells that hold edges of both senses; along, over those
// and the cells of one sense that touch them, in a chain, within that. A lone straight edge - a
// label's or a photograph's border, an image laid on white - has the bars' direction and joins
// their cells (or, as a region of its own, is joined to theirs in line), but runs along the bars
// past the symbol's ends: spread over it, the region's scan lines would pass the symbol by. The
// cells of one sense inside a symbol (a wide element's single edge, the first bar's) still join
// its pieces and reach its ends. False when no cell holds both senses: the region is a lone edge
// and no symbol.
bool setExtents(Region& r, int cols, const std::vector<Cell>& cells, const std::vector<int>& members) {
  const auto place = [&](int i) { return cellPlace(r, cols, i); };
  double acrossLo = 1e9, acrossHi = -1e9;
  for (int i : members) {
    if (cells[i].oneSense) continue;
    const double across = place(i).second;
    acrossLo = std::min(acrossLo, across);
    acrossHi = std::max(acrossHi, across);
  }
  if (acrossLo > acrossHi) return false;
  r.alongMin = 1e9;
  r.alongMax = -1e9;
  for (int i : members) {
    const auto [along, across] = place(i);
    if (cells[i].oneSense || across < acrossLo || across > acrossHi) continue;
    r.alongMin = std::min(r.alongMin, along - kCell / 2.0);
    r.alongMax = std::max(r.alongMax, along + kCell / 2.0);
  }
  // Then the cells of one sense that touch that extent, and those touching them in turn: a wide
  // element's single edge, the first bar's. A step a cell or more beyond it is no part of the
  // symbol: a faint label's border on a white page, parallel to its bars a few modules past its
  // quiet zone, lay inside the region and was taken for the first bar.
  for (bool grew = true; grew;) {
    grew = false;
    for (int i : members) {
      const auto [along, across] = place(i);
      if (!cells[i].oneSense || across < acrossLo || across > acrossHi) continue;
      if (along - kCell / 2.0 >= r.alongMin && along + kCell / 2.0 <= r.alongMax) continue;
      if (along < r.alongMin - kCell || along > r.alongMax + kCell) continue;
      r.alongMin = std::min(r.alongMin, along - kCell / 2.0);
      r.alongMax = std::max(r.alongMax, along + kCell / 2.0);
      grew = true;
    }
  }
  r.acrossMin = acrossLo - kCell / 2.0;
  r.acrossMax = acrossHi + kCell / 2.0;
  return true;
}

// The parts of a group that lie apart across: its cells holding edges of both senses, taken in
// their order across, are cut where more than a cell and a half lies empty between neighbours (a
// group's cells join two apart, so labels side by side a narrow gap apart, or a sheet's tiles in
// a row with their borders in line, gather into one group whose lines cross them all). Each part
// holds every cell of the group within its span across. None when the group is all of a piece.
std::vector<std::vector<int>> partsAcross(const Region& r, int cols, const std::vector<Cell>& cells,
                                          const std::vector<int>& members) {
  const auto acrossOf = [&](int i) { return cellPlace(r, cols, i).second; };
  std::vector<double> places;
  for (int i : members)
    if (!cells[i].oneSense) places.push_back(acrossOf(i));
  std::sort(places.begin(), places.end());
  std::vector<std::pair<double, double>> spans;
  for (size_t k = 0; k < places.size(); ++k)
    if (k == 0 || places[k] - places[k - 1] > 1.5 * kCell)
      spans.push_back({places[k], places[k]});
    else
      spans.back().second = places[k];
  std::vector<std::vector<int>> parts;
  if (spans.size() < 2) return parts;
  for (const auto& [lo, hi] : spans) {
    parts.emplace_back();
    for (int i : members) {
      const double across = acrossOf(i);
      if (across >= lo - 0.75 * kCell && across <= hi + 0.75 * kCell) parts.back().push_back(i);
    }
  }
  return parts;
}

// A region over the cells given: its direction the energy-weighted mean of their doubled angles,
// its centre their energy-weighted mean; false when it is a lone edge (setExtents). The pieces of a
// group apart across take their own direction: labels side by side seldom lie quite parallel, and
// lines laid the group's mean way drift off a short symbol's bars.
bool regionOf(const std::vector<Cell>& cells, int cols, const std::vector<int>& members, Region& r) {
  double energy = 0, mx = 0, my = 0, sx = 0, sy = 0;
  for (int i : members) {
    const Cell& c = cells[i];
    const double e = c.jxx + c.jyy;
    energy += e;
    mx += e * ((i % cols) + 0.5) * kCell;
    my += e * ((i / cols) + 0.5) * kCell;
    sx += e * std::cos(2 * c.angle);
    sy += e * std::sin(2 * c.angle);
  }
  const double a = 0.5 * std::atan2(sy, sx);
  r.dx = std::cos(a);
  r.dy = std::sin(a);
  r.cx = mx / energy;
  r.cy = my / energy;
  r.energy = energy;
  return setExtents(r, cols, cells, members);
}

}  // namespace

std::vector<Region> findRegions(const cimg_windowConst& w, int maxRegions, BarCells* barCells,
                                const std::vector<Outline>& claimed) {
  std::vector<Region> regions;
  if (w.width < 3 * kCell || w.height < kCell) return regions;
  const int cols = w.width / kCell, rows = w.height / kCell;
  std::vector<Cell> cells = directionGrid(w, cols, rows);
  for (const Outline& q : claimed) unclaimBarCells(cells, cols, rows, q);

  // Cells two apart still join, so a wide bar filling one cell does not split a symbol.
  int groups = 0;
  for (int start = 0; start < cols * rows; ++start) {
    if (!cells[start].bar || cells[start].group >= 0) continue;
    std::vector<int> stack{start}, members;
    cells[start].group = groups;
    while (!stack.empty()) {
      const int i = stack.back();
      stack.pop_back();
      members.push_back(i);
      const int cx = i % cols, cy = i / cols;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          const int x = cx + dx, y = cy + dy;
          if (x < 0 || y < 0 || x >= cols || y >= rows) continue;
          Cell& n = cells[static_cast<size_t>(y) * cols + x];
          if (!n.bar || n.group >= 0 || angleDistance(n.angle, cells[i].angle) > kSameDirection) continue;
          n.group = groups;
          stack.push_back(y * cols + x);
        }
    }
    ++groups;
    if (members.size() < 3) continue;
    Region r;
    if (!regionOf(cells, cols, members, r)) continue;
    r.groups.push_back(groups - 1);
    for (const std::vector<int>& part : partsAcross(r, cols, cells, members)) {
      Region piece;
      if (!regionOf(cells, cols, part, piece)) continue;
      piece.groups = r.groups;
      r.pieces.push_back(piece);
      r.piecesApart = true;
    }
    regions.push_back(r);
  }
  if (barCells) {
    barCells->cols = cols;
    barCells->rows = rows;
    barCells->group.resize(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) barCells->group[i] = cells[i].bar ? cells[i].group : -1;
  }
  mergeInLine(regions);
  std::sort(regions.begin(), regions.end(), [](const Region& a, const Region& b) { return a.energy > b.energy; });
  if (maxRegions > 0 && static_cast<int>(regions.size()) > maxRegions) regions.resize(maxRegions);
  return regions;
}

namespace {

// r found on the image shrunk by factor, in the full image's pixels.
Region enlarged(const Region& r, int factor) {
  Region d = r;
  d.cx = factor * r.cx;
  d.cy = factor * r.cy;
  d.alongMin = factor * r.alongMin;
  d.alongMax = factor * r.alongMax;
  d.acrossMin = factor * r.acrossMin;
  d.acrossMax = factor * r.acrossMax;
  d.energy = factor * factor * r.energy;
  d.groups.clear();  // its cells are not the full image's
  d.pieces.clear();
  for (const Region& p : r.pieces) d.pieces.push_back(enlarged(p, factor));
  return d;
}

// Whether a region found before runs through c and is at least two thirds as long.
bool foundAlready(const Region& c, const std::vector<Region>& found) {
  return std::any_of(found.begin(), found.end(), [&](const Region& o) {
    return runsThrough(o, c) && 1.5 * (o.alongMax - o.alongMin) >= c.alongMax - c.alongMin;
  });
}

}  // namespace

bool runsThrough(const Region& o, const Region& r) {
  if (std::fabs(o.dx * r.dy - o.dy * r.dx) >= std::sin(kSameDirection)) return false;
  const double px = r.cx - o.cx, py = r.cy - o.cy;
  const double along = px * o.dx + py * o.dy, across = -px * o.dy + py * o.dx;
  return along >= o.alongMin && along <= o.alongMax && across >= o.acrossMin && across <= o.acrossMax;
}

csys_status regionsShrunkAgain(const cimg_windowConst& w, ShrunkImage& shrunk, int maxRegions,
                               const std::vector<Outline>& claimed, const std::vector<Region>& found,
                               std::vector<Region>& out) {
  out.clear();
  const bool first = shrunk.factor == 1;
  const cimg_windowConst from =
      first ? w : cimg_windowConst{shrunk.width, shrunk.height, 0, 0, shrunk.width, shrunk.pixels.data()};
  const int width = from.width / 2, height = from.height / 2, factor = 2 * shrunk.factor;
  const double minLength = kMinHalvedLength * factor / 2;
  if (std::max(w.width, w.height) < minLength || width < 3 * kCell || height < kCell) return 0;
  std::vector<uint8_t> half;
  std::vector<uint16_t> pairs;  // a row pair's sums, pixel by pixel
  try {
    half.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    pairs.resize(static_cast<size_t>(2 * width));
  } catch (const std::bad_alloc&) {
    return csys_errNoMemory;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* a = from.pixels + static_cast<ptrdiff_t>(2 * y) * from.stride;
    const uint8_t* b = a + from.stride;
    for (int x = 0; x < 2 * width; ++x) pairs[x] = static_cast<uint16_t>(a[x] + b[x]);
    uint8_t* o = half.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int x = 0; x < width; ++x) o[x] = static_cast<uint8_t>((pairs[2 * x] + pairs[2 * x + 1] + 2) >> 2);
  }
  shrunk.pixels.swap(half);
  shrunk.width = width;
  shrunk.height = height;
  shrunk.factor = factor;
  const cimg_windowConst shrunkWindow{width, height, 0, 0, width, shrunk.pixels.data()};
  std::vector<Outline> shrunkClaimed = claimed;
  for (Outline& q : shrunkClaimed)
    for (auto& corner : q) corner = {corner[0] / factor, corner[1] / factor};
  for (const Region& r : findRegions(shrunkWindow, maxRegions, nullptr, shrunkClaimed)) {
    const Region d = enlarged(r, factor);
    if (d.alongMax - d.alongMin >= minLength && !foundAlready(d, found)) out.push_back(d);
  }
  return csys_attention_check();
}

}  // namespace road1d
