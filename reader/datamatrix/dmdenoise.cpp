#include "reader/datamatrix/dmdenoise.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "reader/lanes.hpp"

namespace dmroad {

namespace {

constexpr int32_t kBlock = 32;

// Calls run(x, n) over [first, limit) in blocks of the fixed length n = kBlock, which become
// vector code at the optimisation level the project builds with. When the blocks do not end at
// limit, the last one is moved back to end there, overlapping the one before it rather than
// leaving a tail done one element at a time: run must write the same values however often it
// covers an element. A range shorter than a block is one run of its own length.
template <class Run>
IDUT_READER_LANE_BODY void inBlocks(int32_t first, int32_t limit, Run run) {
  if (limit - first < kBlock) {
    if (limit > first) run(first, limit - first);
    return;
  }
  int32_t x = first;
  for (; x + kBlock <= limit; x += kBlock) run(x, kBlock);
  if (x < limit) run(limit - kBlock, kBlock);
}

const uint8_t* rowOf(const cimg_windowConst& w, int32_t y) { return w.pixels + static_cast<ptrdiff_t>(y) * w.stride; }

// |q[i] - 2 q[i + 1] + q[i + 2]| into d[i] for i below n: at most 510, so 16-bit lanes hold it.
inline void secondDifferences(const uint8_t* __restrict q, int32_t n, uint16_t* __restrict d) {
  for (int32_t i = 0; i < n; ++i) {
    const auto difference = static_cast<int16_t>(q[i] - 2 * q[i + 1] + q[i + 2]);
    d[i] = static_cast<uint16_t>(std::max(difference, static_cast<int16_t>(-difference)));
  }
}

// The signed second differences q[i] - 2 q[i + 1] + q[i + 2] into d[i] for i below n.
inline void signedSecondDifferences(const uint8_t* __restrict q, int32_t n, int16_t* __restrict d) {
  for (int32_t i = 0; i < n; ++i) d[i] = static_cast<int16_t>(q[i] - 2 * q[i + 1] + q[i + 2]);
}

// Below this share of the estimate along the rows, the estimate across them says the second
// differences come from small modules, not noise.
constexpr double kStructureShare = 0.5;

// The levels a second difference takes, 0 ... 510.
constexpr size_t kDifferenceLevels = 511;

// The median of a histogram of count values.
template <size_t N>
size_t medianOf(const std::array<std::array<uint32_t, N>, 4>& part, uint64_t count) {
  auto histogram = [&](size_t v) { return part[0][v] + part[1][v] + part[2][v] + part[3][v]; };
  uint64_t below = 0;
  size_t median = 0;
  while (median + 1 < N && 2 * (below + histogram(median)) < count) below += histogram(median++);
  return median;
}

}  // namespace

double noiseSigma(const cimg_windowConst& w, double matters, double* rowToRow) {
  if (rowToRow != nullptr) *rowToRow = 1;
  if (w.width < 3 || w.height < 1) return 0;
  // Four histograms taken in turn and summed as the median is sought: on flat images most
  // values fall in one bin, and increments of a single counter would each wait for the one
  // before. A row's differences come first, in blocks of a fixed length for the vector code.
  std::array<std::array<uint32_t, kDifferenceLevels>, 4> part{};
  const int32_t n = w.width - 2;
  const auto differences = std::make_unique_for_overwrite<uint16_t[]>(static_cast<size_t>(n));
  uint16_t* d = differences.get();
  uint64_t count = 0;
  for (int32_t y = w.height / 32; y < w.height; y += 16) {
    const uint8_t* p = rowOf(w, y);
    inBlocks(0, n, [&](int32_t i, int32_t m) { secondDifferences(p + i, m, d + i); });
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
      ++part[0][d[i]];
      ++part[1][d[i + 1]];
      ++part[2][d[i + 2]];
      ++part[3][d[i + 3]];
    }
    for (; i < n; ++i) ++part[0][d[i]];
    count += static_cast<uint64_t>(n);
  }
  // For Gaussian noise of deviation s the second difference has deviation s * sqrt(6), and the
  // median of its absolute value is 0.6745 times that.
  const double alongRows = static_cast<double>(medianOf(part, count)) / (0.6745 * 2.449);
  if (alongRows <= matters) return alongRows;
  // The same differences less those of the row above or below, whichever is nearer. A symbol of
  // small modules puts an edge next to nearly every pixel, and its second differences alone
  // would pass for heavy noise; but its rows repeat down each module, so one of the two changes
  // stays small, where noise keeps its size.
  std::array<std::array<uint32_t, 2 * kDifferenceLevels>, 4> mixedPart{};
  const auto signedBuffer = std::make_unique_for_overwrite<int16_t[]>(3 * static_cast<size_t>(n));
  int16_t* above = signedBuffer.get();
  int16_t* here = above + n;
  int16_t* below = here + n;
  uint64_t mixedCount = 0;
  // Every other sampled row: the check only has to tell a fraction from about one.
  for (int32_t y = std::max(1, w.height / 32); y + 1 < w.height; y += 32) {
    const uint8_t *o = rowOf(w, y - 1), *p = rowOf(w, y), *q = rowOf(w, y + 1);
    inBlocks(0, n, [&](int32_t j, int32_t m) {
      signedSecondDifferences(o + j, m, above + j);
      signedSecondDifferences(p + j, m, here + j);
      signedSecondDifferences(q + j, m, below + j);
    });
    for (int32_t i = 0; i < n; ++i)
      ++mixedPart[i & 3][std::min(std::abs(here[i] - above[i]), std::abs(here[i] - below[i]))];
    mixedCount += static_cast<uint64_t>(n);
  }
  if (mixedCount == 0) return alongRows;
  // The median of the smaller of two changes from row to row (three independent rows, the middle
  // one shared) is 0.549 times the deviation of one second difference.
  const double acrossRows = static_cast<double>(medianOf(mixedPart, mixedCount)) / (0.549 * 2.449);
  if (rowToRow != nullptr) *rowToRow = acrossRows / alongRows;
  // Noise gives both about alike (a photograph's, blurred by its camera and its compression,
  // somewhat less from row to row); small modules give the change from row to row a fraction of
  // the other. Only then is it the one believed.
  return acrossRows < kStructureShare * alongRows ? acrossRows : alongRows;
}

namespace {

// Column sums (1 2 1) of three rows at x below n.
IDUT_READER_LANE_BODY void columnSums(const uint8_t* __restrict a, const uint8_t* __restrict b, const uint8_t* __restrict c,
                       int32_t n, uint16_t* __restrict v) {
  for (int32_t x = 0; x < n; ++x) v[x] = static_cast<uint16_t>(a[x] + 2 * b[x] + c[x]);
}

// The same across the column sums, rounded to a grey level, at x below n (v[-1] ... v[n] read).
IDUT_READER_LANE_BODY void acrossSums(const uint16_t* __restrict v, int32_t n, uint8_t* __restrict o) {
  for (int32_t x = 0; x < n; ++x) o[x] = static_cast<uint8_t>((v[x - 1] + 2 * v[x] + v[x + 1] + 8) >> 4);
}

// One row of the smoothed image from the rows above, at and below it (edges repeated).
IDUT_READER_LANE_BODY void smoothRow(const uint8_t* above, const uint8_t* at, const uint8_t* below, int32_t width, uint16_t* sums,
               uint8_t* o) {
  inBlocks(0, width, [&](int32_t x, int32_t n) IDUT_READER_LAMBDA_BODY {
    columnSums(above + x, at + x, below + x, n, sums + x);
  });
  if (width == 1) {
    o[0] = static_cast<uint8_t>((4 * sums[0] + 8) >> 4);
    return;
  }
  o[0] = static_cast<uint8_t>((3 * sums[0] + sums[1] + 8) >> 4);
  inBlocks(1, width - 1, [&](int32_t x, int32_t n) IDUT_READER_LAMBDA_BODY { acrossSums(sums + x, n, o + x); });
  o[width - 1] = static_cast<uint8_t>((sums[width - 2] + 3 * sums[width - 1] + 8) >> 4);
}

IDUT_READER_LANE_BODY void smoothOnceBody(const cimg_windowConst& w, uint8_t* out) {
  const int32_t width = w.width, height = w.height;
  if (width <= 0 || height <= 0) return;
  // The kernel is separable: down the columns of the rows above, at and below, then across.
  std::vector<uint16_t> sums(static_cast<size_t>(width));
  for (int32_t y = 0; y < height; ++y)
    smoothRow(rowOf(w, std::max(y - 1, 0)), rowOf(w, y), rowOf(w, std::min(y + 1, height - 1)), width, sums.data(),
              out + static_cast<size_t>(y) * width);
}

IDUT_READER_LANE_BODY void smoothTwiceBody(const cimg_windowConst& w, uint8_t* out) {
  const int32_t width = w.width, height = w.height;
  if (width <= 0 || height <= 0) return;
  // A row of the second pass reads three rows of the first, so those wait in a ring of three
  // rows instead of a whole image: row r of the first pass is kept in slot r mod 3.
  std::vector<uint16_t> sums(static_cast<size_t>(width));
  std::vector<uint8_t> ring(3 * static_cast<size_t>(width));
  auto once = [&](int32_t r) { return ring.data() + static_cast<size_t>(r % 3) * width; };
  auto smoothOnce = [&](int32_t r) IDUT_READER_LAMBDA_BODY {
    smoothRow(rowOf(w, std::max(r - 1, 0)), rowOf(w, r), rowOf(w, std::min(r + 1, height - 1)), width, sums.data(),
              once(r));
  };
  smoothOnce(0);
  for (int32_t y = 0; y < height; ++y) {
    if (y + 1 < height) smoothOnce(y + 1);  // over row y - 2, no longer read
    smoothRow(once(std::max(y - 1, 0)), once(y), once(std::min(y + 1, height - 1)), width, sums.data(),
              out + static_cast<size_t>(y) * width);
  }
}

// Both smoothings for the baseline and for AVX2 (reader/lanes.hpp): the same bytes either way.
using Smooth = void (*)(const cimg_windowConst&, uint8_t*);
void smoothOnceBaseline(const cimg_windowConst& w, uint8_t* out) { smoothOnceBody(w, out); }
IDUT_READER_WIDE_TARGET void smoothOnceWide(const cimg_windowConst& w, uint8_t* out) { smoothOnceBody(w, out); }
void smoothTwiceBaseline(const cimg_windowConst& w, uint8_t* out) { smoothTwiceBody(w, out); }
IDUT_READER_WIDE_TARGET void smoothTwiceWide(const cimg_windowConst& w, uint8_t* out) { smoothTwiceBody(w, out); }

}  // namespace

void smoothBinomial(const cimg_windowConst& w, uint8_t* out) {
  static const Smooth smooth = lanes::pick<Smooth>(smoothOnceBaseline, smoothOnceWide);
  smooth(w, out);
}

void smoothBinomialTwice(const cimg_windowConst& w, uint8_t* out) {
  static const Smooth smooth = lanes::pick<Smooth>(smoothTwiceBaseline, smoothTwiceWide);
  smooth(w, out);
}

namespace {

// Deviations of the noise's row response a cell's strongest response must reach to be seeded.
constexpr double kNoiseMargin = 5;
constexpr int32_t kDriverThreshold = 45;
// The most a noise level may be, in steps of a two-level picture's own contrast.
constexpr int32_t kEdgeShare = 2;

// The driver's row response at x is |p[x + 2] + p[x + 3] + p[x + 4] - p[x - 1] - p[x] - p[x + 1]|:
// the three pixels after x + 1 against the three up to x + 1.
// The row responses of q's row at x = i + 1 (pixels q[i] ... q[i + 5]), for i below n, into s[i]:
// set, or folded in by their maximum. A response is at most 765, so 16-bit lanes hold it,
// twice as many to a vector register as 32-bit ones.
template <bool kFold>
IDUT_READER_LANE_BODY void responses(const uint8_t* __restrict q, int32_t n, int16_t* __restrict s) {
  for (int32_t i = 0; i < n; ++i) {
    const auto difference = static_cast<int16_t>(q[i + 3] + q[i + 4] + q[i + 5] - q[i] - q[i + 1] - q[i + 2]);
    const int16_t response = std::max(difference, static_cast<int16_t>(-difference));
    s[i] = kFold ? std::max(s[i], response) : response;
  }
}

// The row's responses at x in [first, limit] set into, or folded into, s[x]. Either writes the
// same values again where the last block overlaps the one before it.
template <bool kFold>
IDUT_READER_LANE_BODY void rowResponses(const uint8_t* p, int32_t first, int32_t limit, int16_t* s) {
  inBlocks(first, limit + 1, [&](int32_t x, int32_t n) IDUT_READER_LAMBDA_BODY { responses<kFold>(p + x - 1, n, s + x); });
}

// Marks m[cx] (when unmarked) for cx below n whose strongest response, strongest[4 cx ... 4 cx + 3],
// is under level. Every mark is written back, changed or not, so the loop has no branch.
IDUT_READER_LANE_BODY void markQuietCells(const int16_t* __restrict strongest, int32_t n, int16_t level, uint8_t* __restrict m) {
  for (int32_t cx = 0; cx < n; ++cx) {
    const int16_t* q = strongest + 4 * cx;
    const int16_t most = std::max(std::max(q[0], q[1]), std::max(q[2], q[3]));
    m[cx] = static_cast<uint8_t>(m[cx] | (m[cx] == 0 && most < level));
  }
}

// The highest noise level a picture of two grey levels allows: twice the difference between its
// dark and light levels (its 5th and 95th percentiles), where a step between them responds with
// three times that difference. In a picture that is mostly a symbol's modules (one filling the
// frame) the rows cross edges at nearly every pixel, and the median response measures the modules,
// not the noise: that level would mark every cell. Such a picture has its pixels at two levels,
// fewer in the middle third between them than even a flat spread puts there; noise alone, or a
// background with a few symbols, has a single level and no such limit. greys: a histogram of
// count pixels of the rows.
int32_t pictureEdgeLevel(const std::array<uint32_t, 256>& greys, uint64_t count) {
  auto greyAt = [&](uint64_t rank) {
    uint64_t seen = 0;
    for (int v = 0; v < 256; ++v)
      if ((seen += greys[static_cast<size_t>(v)]) > rank) return v;
    return 255;
  };
  const int dark = greyAt(count * 5 / 100), light = greyAt(count * 95 / 100);
  const int third = (light - dark) / 3;
  uint64_t middle = 0;
  for (int v = dark + third; v <= light - third; ++v) middle += greys[static_cast<size_t>(v)];
  if (third == 0 || 3 * middle >= count) return std::numeric_limits<int32_t>::max();
  return kEdgeShare * (light - dark);
}

// The levels a response takes, 0 ... 765.
constexpr size_t kResponseLevels = 766;

IDUT_READER_LANE_BODY int32_t markNoiseCellsBody(const cimg_windowConst& w, const std::vector<int32_t>& rows,
                                                  cimg_window* marking) {
  // The positions the driver walks; a seed at x carries the response at x - 1.
  const int32_t first = 2, last = w.width - 7;
  if (last < first || rows.empty()) return 0;
  // The responses of every fourth row, in vector code, then counted into four histograms taken
  // in turn (as in noiseSigma) and summed as the median is sought.
  std::array<std::array<uint32_t, kResponseLevels>, 4> part{};
  const auto row = std::make_unique_for_overwrite<int16_t[]>(static_cast<size_t>(last + 1));
  const int16_t* r = row.get();
  uint64_t count = 0;
  std::array<uint32_t, 256> greys{};
  for (size_t i = 0; i < rows.size(); i += 4) {
    if (rows[i] < 0 || rows[i] >= w.height) continue;
    const uint8_t* pixels = rowOf(w, rows[i]);
    for (int32_t x = first; x <= last; ++x) ++greys[pixels[x]];
    rowResponses<false>(pixels, first, last, row.get());
    int32_t x = first;
    for (; x + 4 <= last + 1; x += 4) {
      ++part[0][static_cast<size_t>(r[x])];
      ++part[1][static_cast<size_t>(r[x + 1])];
      ++part[2][static_cast<size_t>(r[x + 2])];
      ++part[3][static_cast<size_t>(r[x + 3])];
    }
    for (; x <= last; ++x) ++part[0][static_cast<size_t>(r[x])];
    count += static_cast<uint64_t>(last - first + 1);
  }
  if (count < 64) return 0;
  auto histogram = [&](size_t v) { return part[0][v] + part[1][v] + part[2][v] + part[3][v]; };
  uint64_t below = 0;
  size_t median = 0;
  while (median + 1 < kResponseLevels && 2 * (below + histogram(median)) < count) below += histogram(median++);
  const auto level = std::min(static_cast<int32_t>(std::ceil(kNoiseMargin * static_cast<double>(median) / 0.6745)),
                              pictureEdgeLevel(greys, count));
  if (level <= kDriverThreshold) return level;
  // The strongest response at each x over the rows of one cell row, then the cells' maxima and
  // the marks once the cell row is done: strongest[i] holds the response at x = i - 1, so cell
  // cx holds strongest[4 cx ... 4 cx + 3]. Entries outside the walked positions stay 0. The
  // first row of a cell row sets the responses, the others fold theirs in.
  const int32_t cells = marking->width;
  std::vector<int16_t> strongest(static_cast<size_t>(4 * cells + 4), 0);
  // The level is at most 5 x 765 / 0.6745 rounded up, which 16 bits hold.
  const auto quiet = static_cast<int16_t>(level);
  auto flush = [&](int32_t cy) IDUT_READER_LAMBDA_BODY {
    if (cy < 0 || cy >= marking->height) return;
    uint8_t* m = marking->pixels + static_cast<ptrdiff_t>(cy) * marking->stride;
    inBlocks(0, cells, [&](int32_t cx, int32_t n) IDUT_READER_LAMBDA_BODY {
      markQuietCells(strongest.data() + 4 * cx, n, quiet, m + cx);
    });
  };
  const int32_t limit = std::min(last, 4 * cells - 2);
  int32_t cellRow = -1;
  for (const int32_t y : rows) {
    if (y < 0 || y >= w.height) continue;
    if ((y >> 2) != cellRow) {
      flush(cellRow);
      cellRow = y >> 2;
      rowResponses<false>(rowOf(w, y), first, limit, strongest.data() + 1);
    } else {
      rowResponses<true>(rowOf(w, y), first, limit, strongest.data() + 1);
    }
  }
  flush(cellRow);
  return level;
}

// The marking for the baseline and for AVX2 (reader/lanes.hpp): the same marks either way.
using MarkNoise = int32_t (*)(const cimg_windowConst&, const std::vector<int32_t>&, cimg_window*);
int32_t markNoiseBaseline(const cimg_windowConst& w, const std::vector<int32_t>& rows, cimg_window* marking) {
  return markNoiseCellsBody(w, rows, marking);
}
IDUT_READER_WIDE_TARGET int32_t markNoiseWide(const cimg_windowConst& w, const std::vector<int32_t>& rows,
                                              cimg_window* marking) {
  return markNoiseCellsBody(w, rows, marking);
}

}  // namespace

int32_t markNoiseCells(const cimg_windowConst& w, const std::vector<int32_t>& rows, cimg_window* marking) {
  static const MarkNoise mark = lanes::pick<MarkNoise>(markNoiseBaseline, markNoiseWide);
  return mark(w, rows, marking);
}

}  // namespace dmroad
