#include "reader/datamatrix/dmborder.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "reader/geometry.hpp"
#include "reader/datamatrix/dmroad.hpp"

namespace dmroad {

namespace {

// Data Matrix sizes (rows x cols): square, rectangular and the rectangular extension.
constexpr int kSizes[][2] = {
    {10, 10},  {12, 12},  {14, 14},  {16, 16}, {18, 18}, {20, 20}, {22, 22}, {24, 24}, {26, 26}, {32, 32},
    {36, 36},  {40, 40},  {44, 44},  {48, 48}, {52, 52}, {64, 64}, {72, 72}, {80, 80}, {88, 88}, {96, 96},
    {104, 104}, {120, 120}, {132, 132}, {144, 144}, {8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48},
    {8, 48},   {8, 64},   {8, 80},   {8, 96},  {8, 120}, {8, 144}, {12, 64}, {12, 88}, {16, 64}, {20, 36},
    {20, 44},  {20, 64},  {22, 48},  {24, 48}, {24, 64}, {26, 40}, {26, 48}, {26, 64}};

// The first stage of a border check samples every third border module: most hypotheses (a wrong
// size, a wrong L corner, clutter) fail plainly on those.
constexpr int kStride = 3;
// The first stage opens with a glance at every third of its modules (every ninth of the border):
// on many hypotheses those alone already fall far below its bar, and the rest of the stage is
// spared. Over generated scenes and photos no border that passed showed a glance below 0.75.
constexpr int kGlanceStride = 3 * kStride;
constexpr int kGlanceMinModules = 4;
constexpr double kGlanceFailure = 0.6;

// The border modules of one size, in the order the checks count them (solid row, solid column,
// clock row, clock column): the symbol coordinates of each module's centre and whether it is ink.
// The modules of the first stage come first (its glance ahead of the others), then the rest: each
// stage reads one run of the table, and the tables of every size are made once for the program
// rather than once a hypothesis.
struct BorderModules {
  int count = 0;  // border modules; the first stageCount entries are the first stage
  int stageCount = 0;
  int glanceCount = 0;  // the stage's first entries: the glance
  std::vector<double> s, t;    // module centre: s along the rows, t along the columns
  std::vector<uint8_t> ink;    // 1 for an ink module, 0 for a paper one
  std::vector<int> position;   // the module's place in the order the checks count them
  std::vector<uint8_t> inkInOrder;  // ink in the order the checks count the modules
};

BorderModules borderModules(int rows, int cols) {
  // Module centres (k + 0.5) / count, as the sampling has always computed them.
  std::vector<double> colCentre(cols), rowCentre(rows);
  for (int k = 0; k < cols; ++k) colCentre[k] = (k + 0.5) / cols;
  for (int r = 0; r < rows; ++r) rowCentre[r] = (r + 0.5) / rows;
  struct Module {
    int row, col;
    bool ink;
  };
  std::vector<Module> ordered;
  for (int k = 0; k < cols; ++k) ordered.push_back({rows - 1, k, true});
  for (int r = 0; r < rows - 1; ++r) ordered.push_back({r, 0, true});
  for (int k = 1; k < cols; ++k) ordered.push_back({0, k, k % 2 == 0});
  for (int r = 1; r < rows - 1; ++r) ordered.push_back({r, cols - 1, (rows - 1 - r) % 2 == 0});
  BorderModules m;
  m.count = static_cast<int>(ordered.size());
  auto add = [&](int i) {
    m.s.push_back(colCentre[ordered[i].col]);
    m.t.push_back(1.0 - rowCentre[ordered[i].row]);
    m.ink.push_back(ordered[i].ink ? 1 : 0);
    m.position.push_back(i);
  };
  for (const Module& module : ordered) m.inkInOrder.push_back(module.ink ? 1 : 0);
  for (int i = 0; i < m.count; i += kGlanceStride) add(i);
  m.glanceCount = static_cast<int>(m.s.size());
  for (int i = 0; i < m.count; i += kStride)
    if (i % kGlanceStride != 0) add(i);
  m.stageCount = static_cast<int>(m.s.size());
  for (int i = 0; i < m.count; ++i)
    if (i % kStride != 0) add(i);
  return m;
}

// The border module tables of every size the check tries, in both orientations.
class BorderTables {
 public:
  BorderTables() {
    for (const auto& size : kSizes)
      for (const int transpose : {0, 1}) {
        const int rows = transpose ? size[1] : size[0], cols = transpose ? size[0] : size[1];
        if (index(rows, cols) < 0) {
          index_[rows][cols] = static_cast<int>(tables_.size());
          tables_.push_back(borderModules(rows, cols));
        }
      }
  }
  // The table of a size the check tries.
  const BorderModules& of(int rows, int cols) const { return tables_[index(rows, cols)]; }

 private:
  int index(int rows, int cols) const { return index_[rows][cols]; }
  std::array<std::array<int, 145>, 145> index_ = filled();
  std::vector<BorderModules> tables_;
  static std::array<std::array<int, 145>, 145> filled() {
    std::array<std::array<int, 145>, 145> a;
    for (auto& row : a) row.fill(-1);
    return a;
  }
};

const BorderTables& borderTables() {
  static const BorderTables tables;
  return tables;
}

struct Hypothesis {
  cmath_vect l, rowEnd, columnEnd, opposite;
  int rows, cols;
  // Symbol square (s, t) in [0, 1]^2 to image: (0, 0) the L corner, (1, 0) the row end, (0, 1)
  // the column end. Projective, so module centres land right on a symbol seen at an angle.
  SquareToQuad imageFromSymbol;
};

// The two classes of n modules: how many of each and their mean grey levels, each class summed
// in the order of the values.
struct ClassLevels {
  int inkCount = 0, paperCount = 0;
  double inkMean = 0, paperMean = 0;
  bool bothClasses() const { return inkCount > 0 && paperCount > 0; }
};

ClassLevels classLevels(const double* value, const uint8_t* ink, int n) {
  ClassLevels c;
  double sum[2] = {0, 0};
  for (int i = 0; i < n; ++i) {
    sum[ink[i]] += value[i];
    c.inkCount += ink[i];
  }
  const double inkSum = sum[1], paperSum = sum[0];
  c.paperCount = n - c.inkCount;
  if (c.bothClasses()) {
    c.inkMean = inkSum / c.inkCount;
    c.paperMean = paperSum / c.paperCount;
  }
  return c;
}

// The fraction of the n modules that fall on their class's side of the threshold halfway between
// the two classes' means; -1 when a class has none.
double rightFraction(const double* value, const uint8_t* ink, int n, const ClassLevels& c) {
  if (!c.bothClasses()) return -1;
  const double threshold = (c.inkMean + c.paperMean) / 2;
  // Right are the darker class's modules below the threshold and the other's at or above it.
  int below = 0, inkBelow = 0;
  for (int i = 0; i < n; ++i) {
    const int isBelow = value[i] < threshold;
    below += isBelow;
    inkBelow += isBelow & ink[i];
  }
  const int paperBelow = below - inkBelow;
  const int right = c.inkMean < c.paperMean ? inkBelow + (c.paperCount - paperBelow)
                                            : (c.inkCount - inkBelow) + paperBelow;
  return static_cast<double>(right) / n;
}

// Whether the classes lie at least minContrast apart and the square of their distance is at
// least minSeparationSq times the mean squared deviation of the values about their class means.
bool classesStandApart(const double* value, const uint8_t* ink, int n, const ClassLevels& c, double minContrast,
                       double minSeparationSq) {
  if (!c.bothClasses()) return false;
  const double d = c.inkMean - c.paperMean;
  if (std::fabs(d) < minContrast) return false;
  double spread = 0;
  for (int i = 0; i < n; ++i) {
    const double e = value[i] - (ink[i] ? c.inkMean : c.paperMean);
    spread += e * e;
  }
  spread /= n;
  return d * d >= minSeparationSq * spread;
}

// Fraction of border modules that fall in their expected class, with the threshold halfway
// between the two classes' means; 0 when the classes are less than minContrast apart or less
// than 2.5 standard deviations of the values about their class means.
double borderScore(const cimg_windowConst& w, const Hypothesis& h, double minContrast) {
  const BorderModules& m = borderTables().of(h.rows, h.cols);
  const int n = m.count;
  // Module centres lie inside the outline when it is convex; an outline inside the window
  // then samples without clamping.
  const std::array<cmath_vect, 4> outline = {h.l, h.rowEnd, h.opposite, h.columnEnd};
  const bool unclamped = convexQuad(outline) && samplesUnclamped(w, outline);
  // Grey levels in table order.
  constexpr int kMax = 2 * (144 + 144);
  double sampled[kMax];
  // The map and the window are copied into locals: the stores below could otherwise alias them
  // and force their reloads at every sample.
  const SquareToQuad map = h.imageFromSymbol;
  const cimg_windowConst window = w;
  const double* s = m.s.data();
  const double* t = m.t.data();
  auto sampleRange = [&](int from, int to) {
    if (unclamped) {
      int j = from;
#if defined(__SSE2__)
      // Two modules at a time: the same map and blend as sampleUnclamped, lane by lane, in the
      // same order of operations, so every value comes out bit for bit the same.
      const __m128d ga = _mm_set1_pd(map.a), gb = _mm_set1_pd(map.b), gc = _mm_set1_pd(map.c);
      const __m128d gd = _mm_set1_pd(map.d), ge = _mm_set1_pd(map.e), gf = _mm_set1_pd(map.f);
      const __m128d gg = _mm_set1_pd(map.g), gh = _mm_set1_pd(map.h);
      const __m128d one = _mm_set1_pd(1.0), half = _mm_set1_pd(0.5);
      const uint8_t* pixels = window.pixels;
      const ptrdiff_t stride = window.stride;
      for (; j + 2 <= to; j += 2) {
        const __m128d u = _mm_loadu_pd(s + j), v = _mm_loadu_pd(t + j);
        const __m128d den = _mm_add_pd(_mm_add_pd(_mm_mul_pd(gg, u), _mm_mul_pd(gh, v)), one);
        const __m128d inv = _mm_div_pd(one, den);
        const __m128d x = _mm_sub_pd(
            _mm_mul_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(ga, u), _mm_mul_pd(gb, v)), gc), inv), half);
        const __m128d y = _mm_sub_pd(
            _mm_mul_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(gd, u), _mm_mul_pd(ge, v)), gf), inv), half);
        const __m128i xi = _mm_cvttpd_epi32(x), yi = _mm_cvttpd_epi32(y);
        const __m128d fx = _mm_sub_pd(x, _mm_cvtepi32_pd(xi)), fy = _mm_sub_pd(y, _mm_cvtepi32_pd(yi));
        const int x0 = _mm_cvtsi128_si32(xi), x1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(xi, 1));
        const int y0 = _mm_cvtsi128_si32(yi), y1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(yi, 1));
        const uint8_t* p0 = pixels + static_cast<ptrdiff_t>(y0) * stride + x0;
        const uint8_t* p1 = pixels + static_cast<ptrdiff_t>(y1) * stride + x1;
        const int a0 = p0[0], b0 = p0[1], c0 = p0[stride], d0 = p0[stride + 1];
        const int a1 = p1[0], b1 = p1[1], c1 = p1[stride], d1 = p1[stride + 1];
        // Pixels and differences as ints, as blend's arithmetic has them, then exactly to double.
        const __m128d topLeft = _mm_cvtepi32_pd(_mm_setr_epi32(a0, a1, 0, 0));
        const __m128d topStep = _mm_cvtepi32_pd(_mm_setr_epi32(b0 - a0, b1 - a1, 0, 0));
        const __m128d bottomLeft = _mm_cvtepi32_pd(_mm_setr_epi32(c0, c1, 0, 0));
        const __m128d bottomStep = _mm_cvtepi32_pd(_mm_setr_epi32(d0 - c0, d1 - c1, 0, 0));
        const __m128d top = _mm_add_pd(topLeft, _mm_mul_pd(fx, topStep));
        const __m128d bottom = _mm_add_pd(bottomLeft, _mm_mul_pd(fx, bottomStep));
        _mm_storeu_pd(sampled + j, _mm_add_pd(top, _mm_mul_pd(fy, _mm_sub_pd(bottom, top))));
      }
#endif
      for (; j < to; ++j) {
        const cmath_vect p = map.map(s[j], t[j]);
        sampled[j] = sampleUnclamped(window, p.x, p.y);
      }
    } else {
      for (int j = from; j < to; ++j) {
        const cmath_vect p = map.map(s[j], t[j]);
        sampled[j] = sampleAt(window, p.x, p.y);
      }
    }
  };
  // Any score a border that passes would reach keeps a third of its modules on their side well
  // above this.
  constexpr double kPlainFailure = 0.7;
  // The classes must stand apart from the spread inside them, or texture matches by chance: 2.5
  // standard deviations over the whole border. Clutter that passes the first stage's count fails
  // there nearly always, and mostly plainly enough that the first stage's third of the modules
  // shows it at half the contrast and half the squared separation the whole border needs.
  constexpr double kSeparationSq = 2.5 * 2.5;
  sampleRange(0, m.glanceCount);
  const uint8_t* stageInk = m.ink.data();
  if (m.glanceCount >= kGlanceMinModules) {
    const ClassLevels glanced = classLevels(sampled, stageInk, m.glanceCount);
    const double glance = rightFraction(sampled, stageInk, m.glanceCount, glanced);
    if (glance >= 0 && glance < kGlanceFailure) return 0;
  }
  sampleRange(m.glanceCount, m.stageCount);
  const ClassLevels stage = classLevels(sampled, stageInk, m.stageCount);
  const double plain = rightFraction(sampled, stageInk, m.stageCount, stage);
  if (plain >= 0 && plain < kPlainFailure) return 0;
  if (stage.bothClasses() &&
      !classesStandApart(sampled, stageInk, m.stageCount, stage, minContrast / 2, kSeparationSq / 2))
    return 0;
  sampleRange(m.stageCount, n);
  // The whole border in the order the checks count it, so that every sum adds up as it always has.
  double value[kMax];
  for (int j = 0; j < n; ++j) value[m.position[j]] = sampled[j];
  const uint8_t* ink = m.inkInOrder.data();
  const ClassLevels whole = classLevels(value, ink, n);
  if (!classesStandApart(value, ink, n, whole, minContrast, kSeparationSq)) return 0;
  return rightFraction(value, ink, n, whole);
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
        // A border this clear is the one; but on a long rectangle a wrong L that takes a short
        // alternating side for solid misses only a few of its many modules, so there only a
        // border clear all round ends the search.
        if (best >= 0.97 && (!isLong(*layout) || best >= 0.995)) return verdict();
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
