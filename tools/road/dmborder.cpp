#include "road/dmborder.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "road/dmgeometry.hpp"
#include "road/dmroad.hpp"

namespace dmroad {

namespace {

// Data Matrix sizes (rows x cols): square, rectangular and the rectangular extension.
constexpr int kSizes[][2] = {
    {10, 10},  {12, 12},  {14, 14},  {16, 16}, {18, 18}, {20, 20}, {22, 22}, {24, 24}, {26, 26}, {32, 32},
    {36, 36},  {40, 40},  {44, 44},  {48, 48}, {52, 52}, {64, 64}, {72, 72}, {80, 80}, {88, 88}, {96, 96},
    {104, 104}, {120, 120}, {132, 132}, {144, 144}, {8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48},
    {8, 48},   {8, 64},   {8, 80},   {8, 96},  {8, 120}, {8, 144}, {12, 64}, {12, 88}, {16, 64}, {20, 36},
    {20, 44},  {20, 64},  {22, 48},  {24, 48}, {24, 64}, {26, 40}, {26, 48}, {26, 64}};

// The centre of module k of a side of count modules, (k + 0.5) / count, for every count the sizes
// use: divided once for the program rather than twice a sample.
class ModuleCentres {
 public:
  ModuleCentres() {
    first_.fill(-1);
    for (const auto& size : kSizes)
      for (const int count : size)
        if (first_[count] < 0) {
          first_[count] = static_cast<int>(centre_.size());
          for (int k = 0; k < count; ++k) centre_.push_back((k + 0.5) / count);
        }
  }
  // The centres of a side of count modules; count one of the sizes' row or column counts.
  const double* of(int count) const { return centre_.data() + first_[count]; }

 private:
  std::array<int, 145> first_;
  std::vector<double> centre_;
};

const ModuleCentres& moduleCentres() {
  static const ModuleCentres centres;
  return centres;
}

struct Hypothesis {
  cmath_vect l, rowEnd, columnEnd, opposite;
  int rows, cols;
  // Symbol square (s, t) in [0, 1]^2 to image: (0, 0) the L corner, (1, 0) the row end, (0, 1)
  // the column end. Projective, so module centres land right on a symbol seen at an angle.
  SquareToQuad imageFromSymbol;
};

// The fraction of the modules i = first, first + stride, ... below n that fall on their class's
// side of the threshold halfway between the two classes' means; -1 when a class has none.
double rightFraction(const double* value, const bool* ink, int n, int first, int stride) {
  double sum[2] = {0, 0};
  int count[2] = {0, 0};
  for (int i = first; i < n; i += stride) {
    sum[ink[i]] += value[i];
    ++count[ink[i]];
  }
  if (count[0] == 0 || count[1] == 0) return -1;
  const double inkMean = sum[1] / count[1], paperMean = sum[0] / count[0];
  const double threshold = (inkMean + paperMean) / 2;
  const bool inkDark = inkMean < paperMean;
  int right = 0;
  for (int i = first; i < n; i += stride) right += ((value[i] < threshold) == inkDark) == ink[i];
  return static_cast<double>(right) / (count[0] + count[1]);
}

// Fraction of border modules that fall in their expected class, with the threshold halfway
// between the two classes' means; 0 when the classes are less than minContrast apart or less
// than 2.5 standard deviations of the values about their class means.
double borderScore(const cimg_windowConst& w, const Hypothesis& h, double minContrast) {
  const int R = h.rows, C = h.cols;
  // Module and expected class (ink) of every border module: solid row, solid column, clock row,
  // clock column.
  constexpr int kMax = 2 * (144 + 144);
  int row[kMax], col[kMax];
  double value[kMax];
  bool ink[kMax];
  int n = 0;
  auto add = [&](int r, int c, bool isInk) {
    row[n] = r;
    col[n] = c;
    ink[n++] = isInk;
  };
  for (int k = 0; k < C; ++k) add(R - 1, k, true);
  for (int r = 0; r < R - 1; ++r) add(r, 0, true);
  for (int k = 1; k < C; ++k) add(0, k, k % 2 == 0);
  for (int r = 1; r < R - 1; ++r) add(r, C - 1, (R - 1 - r) % 2 == 0);
  const double* colCentre = moduleCentres().of(C);
  const double* rowCentre = moduleCentres().of(R);
  // Module centres lie inside the outline when it is convex; an outline inside the window
  // then samples without clamping.
  const std::array<cmath_vect, 4> outline = {h.l, h.rowEnd, h.opposite, h.columnEnd};
  const bool unclamped = convexQuad(outline) && samplesUnclamped(w, outline);
  auto sample = [&](int i) {
    const cmath_vect p = h.imageFromSymbol.map(colCentre[col[i]], 1.0 - rowCentre[row[i]]);
    value[i] = unclamped ? sampleUnclamped(w, p.x, p.y) : sampleAt(w, p.x, p.y);
  };
  // Most hypotheses (a wrong size, a wrong L corner, clutter) fail plainly: every third module
  // tells, for a third of the samples. Any score a border that passes would reach keeps a
  // third of its modules on their side well above this.
  constexpr int kStride = 3;
  constexpr double kPlainFailure = 0.7;
  for (int i = 0; i < n; i += kStride) sample(i);
  const double plain = rightFraction(value, ink, n, 0, kStride);
  if (plain >= 0 && plain < kPlainFailure) return 0;
  for (int i = 0; i < n; ++i)
    if (i % kStride != 0) sample(i);
  double inkSum = 0, paperSum = 0;
  int inkCount = 0;
  for (int i = 0; i < n; ++i) {
    if (ink[i]) {
      inkSum += value[i];
      ++inkCount;
    } else {
      paperSum += value[i];
    }
  }
  const int paperCount = n - inkCount;
  if (inkCount == 0 || paperCount == 0) return 0;
  const double inkMean = inkSum / inkCount, paperMean = paperSum / paperCount;
  if (std::fabs(inkMean - paperMean) < minContrast) return 0;
  // The two classes must stand apart from the spread inside them, or texture matches by chance.
  double spread = 0;
  for (int i = 0; i < n; ++i) {
    const double d = value[i] - (ink[i] ? inkMean : paperMean);
    spread += d * d;
  }
  spread /= n;
  if ((inkMean - paperMean) * (inkMean - paperMean) < 6.25 * spread) return 0;
  return rightFraction(value, ink, n, 0, 1);
}

// The long rectangles: beyond 5 : 1.
bool isLong(const BorderLayout& l) { return std::max(l.rows, l.cols) > 5 * std::min(l.rows, l.cols); }

}  // namespace

// The best border hypothesis over the four corners as the L corner and every size whose modules
// come out roughly square; false when none scores well enough. One turning direction is enough:
// the other one with rows and columns swapped samples the same border modules and expects the
// same of each, so it scores the same and would never displace the first.
bool matchBorder(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, bool longRectangles,
                 BorderLayout* layout, bool* onlyLong) {
  double best = 0;
  // The long rectangles only on request; a long symbol must not pass as a shorter size either.
  auto verdict = [&] {
    const bool refusedLong = !longRectangles && isLong(*layout);
    if (onlyLong) *onlyLong = refusedLong && best >= 0.85;
    return !refusedLong && best >= 0.85;
  };
  for (int i = 0; i < 4; ++i) {
    const int dir = 1;
    Hypothesis h{corners[i], corners[(i + dir) % 4], corners[(i + 4 - dir) % 4], corners[(i + 2) % 4], 0, 0, {}};
    h.imageFromSymbol = SquareToQuad(h.l, h.rowEnd, h.opposite, h.columnEnd);
    // Mean lengths of the sides along the rows and along the columns.
    const double rowLength = (distance(h.l, h.rowEnd) + distance(h.columnEnd, h.opposite)) / 2;
    const double columnLength = (distance(h.l, h.columnEnd) + distance(h.rowEnd, h.opposite)) / 2;
    for (const auto& size : kSizes) {
      for (int transpose = 0; transpose < (size[0] == size[1] ? 1 : 2); ++transpose) {
        h.rows = transpose ? size[1] : size[0];
        h.cols = transpose ? size[0] : size[1];
        // Modules of at least 1.5 pixels, roughly square (within 3 : 2).
        const double moduleAlongRow = rowLength / h.cols, moduleAlongColumn = columnLength / h.rows;
        if (moduleAlongRow < 1.5 || moduleAlongColumn < 1.5) continue;
        if (moduleAlongRow > 1.5 * moduleAlongColumn || moduleAlongColumn > 1.5 * moduleAlongRow) continue;
        const double score = borderScore(w, h, 15.0);
        if (score > best) {
          best = score;
          *layout = BorderLayout{i, dir, h.rows, h.cols};
        }
        if (best >= 0.97) return verdict();  // a border this clear is the one
      }
    }
  }
  return verdict();
}

// Whether the border still shows through corners in the layout matchBorder gave them.
bool borderHolds(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, const BorderLayout& layout) {
  const int i = layout.l, dir = layout.dir;
  Hypothesis h{corners[i], corners[(i + dir) % 4], corners[(i + 4 - dir) % 4], corners[(i + 2) % 4],
               layout.rows, layout.cols, {}};
  h.imageFromSymbol = SquareToQuad(h.l, h.rowEnd, h.opposite, h.columnEnd);
  return borderScore(w, h, 15.0) >= 0.85;
}

bool hasDataMatrixBorder(const cimg_imageConst& image, const std::array<cmath_vect, 4>& corners, int* rows,
                         int* cols) {
  cimg_windowConst w;
  if (CSYS_FAILED(cimg_windowConst_init(&w, &image))) return false;
  w.x0 = 0;
  w.y0 = 0;
  BorderLayout layout;
  if (!matchBorder(w, corners, true, &layout)) return false;
  if (rows) *rows = layout.rows;
  if (cols) *cols = layout.cols;
  return true;
}

}  // namespace dmroad
