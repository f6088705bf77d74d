#include "reader/datamatrix/dmsample.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "reader/geometry.hpp"

namespace dmread {

namespace {

using dmroad::distance;
using dmroad::sampleAt;
using dmroad::SquareToQuad;

// The fixed pattern of every data region: solid bottom row and left column, alternating top
// row and right column. 1 dark, 0 light, -1 a data module.
int fixedModule(const SymbolSize& s, int r, int c) {
  const int lr = r % (s.regionRows + 2), lc = c % (s.regionCols + 2);
  if (lr == s.regionRows + 1 || lc == 0) return 1;
  if (lr == 0) return lc % 2 == 0;
  if (lc == s.regionCols + 1) return lr % 2 == 1;
  return -1;
}

// A module's five samples lie at its centre and a fifth of a module off it either way along
// both axes: offsets (0, 0), (-0.2, -0.2), (0.2, -0.2), (-0.2, 0.2), (0.2, 0.2) in modules. The
// three values either offset takes, and each sample's index among them:
constexpr double kOffsetSteps[3] = {0, -0.2, 0.2};
constexpr int kSampleSteps[5][2] = {{0, 0}, {1, 1}, {2, 1}, {1, 2}, {2, 2}};

// Module centres of a grid mapped into the image. The projective map's products with the
// square's coordinates are taken once per column and once per row (for each offset a sample
// takes) and only summed per sample: every module takes five samples, and the products were
// most of a sample's cost besides the grey level itself. Summed in the map's own order, so a
// point comes out exactly as SquareToQuad::map gives it.
class Mapper {
 public:
  Mapper(const cimg_windowConst& w, const std::array<cmath_vect, 4>& q, int rows, int cols) { place(w, q, rows, cols); }
  // The same for other corners, the products' buffers kept: the grid refinement maps well over a
  // hundred trial grids of one size.
  void place(const cimg_windowConst& w, const std::array<cmath_vect, 4>& q, int rows, int cols) {
    map_ = SquareToQuad(q[0], q[1], q[2], q[3]);
    columns_.resize(static_cast<size_t>(cols) * 3);
    rows_.resize(static_cast<size_t>(rows) * 3);
    // A convex quadrilateral holds the image of the whole unit square, so when its corners lie a
    // pixel inside the window's unclamped range every sample does (rounding to spare).
    unclamped_ = dmroad::convexQuad(q);
    for (const cmath_vect& p : q)
      unclamped_ = unclamped_ && p.x >= 1.5 && p.y >= 1.5 && p.x < w.width - 1.5 && p.y < w.height - 1.5;
    const double perCol = 1.0 / cols, perRow = 1.0 / rows;
    for (int c = 0; c < cols; ++c)
      for (int k = 0; k < 3; ++k) {
        const double u = (c + 0.5 + kOffsetSteps[k]) * perCol;
        columns_[static_cast<size_t>(c) * 3 + k] = Products{map_.a * u, map_.d * u, map_.g * u};
      }
    for (int r = 0; r < rows; ++r)
      for (int k = 0; k < 3; ++k) {
        // Row 0 is the far (clock) row.
        const double v = 1.0 - (r + 0.5 + kOffsetSteps[k]) * perRow;
        rows_[static_cast<size_t>(r) * 3 + k] = Products{map_.b * v, map_.e * v, map_.h * v};
      }
  }
  // Sample `sample` (0 ... 4, in the order above) of module (r, c).
  cmath_vect at(int r, int c, int sample) const {
    const Products& u = columns_[static_cast<size_t>(c) * 3 + kSampleSteps[sample][0]];
    const Products& v = rows_[static_cast<size_t>(r) * 3 + kSampleSteps[sample][1]];
    const double w = 1 / (u.z + v.z + 1);
    return cmath_vect{(u.x + v.x + map_.c) * w, (u.y + v.y + map_.f) * w};
  }
  // Whether every sample lies where sampleAt needs no clamps.
  bool unclamped() const { return unclamped_; }

 private:
  struct Products {
    double x, y, z;  // with the map's x, y and denominator coefficients
  };
  SquareToQuad map_;
  std::vector<Products> columns_, rows_;
  bool unclamped_ = false;
};

double moduleValue(const cimg_windowConst& w, const Mapper& m, int r, int c) {
  double sum = 0;
  if (m.unclamped()) {
    for (int sample = 0; sample < 5; ++sample) {
      const cmath_vect p = m.at(r, c, sample);
      sum += dmroad::sampleUnclamped(w, p.x, p.y);
    }
  } else {
    for (int sample = 0; sample < 5; ++sample) {
      const cmath_vect p = m.at(r, c, sample);
      sum += sampleAt(w, p.x, p.y);
    }
  }
  return sum / 5;
}

// Ink and paper means of the fixed modules, and the fraction on the right side of their
// midpoint. Ink is the solid finder's class, whichever polarity. value(r, c) is the module's
// grey level.
struct FixedStats {
  double ink = 0, paper = 0, right = 0;
};

// Calls f(r, c, ink) for every finder and clock module in rows [r0, r1) and columns [c0, c1),
// row by row and left to right: whole rows where a region's border row runs, only the regions'
// border columns in between, so the data modules cost nothing.
template <class F>
void forFixedModules(const SymbolSize& s, int r0, int r1, int c0, int c1, F f) {
  const int hr = s.regionRows + 2, hc = s.regionCols + 2;
  for (int r = r0; r < r1; ++r) {
    const int lr = r % hr;
    if (lr == 0 || lr == hr - 1) {
      for (int c = c0; c < c1; ++c) f(r, c, fixedModule(s, r, c) == 1);
      continue;
    }
    for (int b = c0 - c0 % hc; b < c1; b += hc)
      for (const int c : {b, b + hc - 1})
        if (c >= c0 && c < c1) f(r, c, fixedModule(s, r, c) == 1);
  }
}

template <class Value>
FixedStats fixedStats(const SymbolSize& s, int r0, int r1, int c0, int c1, Value value) {
  std::vector<std::pair<double, bool>> values;
  values.reserve(static_cast<size_t>(2 * (r1 - r0) + 2 * (c1 - c0)));
  forFixedModules(s, r0, r1, c0, c1, [&](int r, int c, bool ink) { values.push_back({value(r, c), ink}); });
  FixedStats st;
  int inks = 0;
  for (const auto& [v, ink] : values) (ink ? st.ink : st.paper) += v, inks += ink;
  const int papers = static_cast<int>(values.size()) - inks;
  if (inks == 0 || papers == 0) return st;
  st.ink /= inks;
  st.paper /= papers;
  const double t = (st.ink + st.paper) / 2;
  const bool inkDark = st.ink < st.paper;
  int right = 0;
  for (const auto& [v, ink] : values) right += ((v < t) == inkDark) == ink;
  st.right = static_cast<double>(right) / values.size();
  return st;
}

// Over the whole grid of size s on the corners, mapped by m (placed on them here).
FixedStats wholeStats(const cimg_windowConst& w, const SymbolSize& s, const std::array<cmath_vect, 4>& corners,
                      Mapper* m) {
  m->place(w, corners, s.rows, s.cols);
  return fixedStats(s, 0, s.rows, 0, s.cols, [&](int r, int c) { return moduleValue(w, *m, r, c); });
}

// Module grey levels of one module count, sampled on demand in the frame of the corners as
// located (corner 0 at the square's (0, 0), corner 1 at (1, 0), corner 2 at (1, 1)) and kept:
// every reading of the quadrilateral (each L corner, each handedness) puts its module centres
// on the same points of the image, only numbered differently, so the eight readings of a size
// sample its finder and clock modules once instead of eight times.
class ModuleValues {
 public:
  ModuleValues(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, int rows, int cols)
      : w_(w), m_(w, corners, rows, cols), rows_(rows), cols_(cols),
        values_(static_cast<size_t>(rows) * cols, std::numeric_limits<double>::quiet_NaN()) {}
  int rows() const { return rows_; }
  int cols() const { return cols_; }
  double at(int r, int c) {
    double& v = values_[static_cast<size_t>(r) * cols_ + c];
    if (std::isnan(v)) v = moduleValue(w_, m_, r, c);
    return v;
  }

 private:
  const cimg_windowConst& w_;
  Mapper m_;
  int rows_, cols_;
  std::vector<double> values_;
};

// A reading's module numbering in the located frame. The reading's square maps onto the
// located one by a symmetry that sends its corner j to located corner (l + j * dir) % 4.
struct Reindex {
  double ox, oy, e1x, e1y, e3x, e3y;  // the symmetry: origin and the images of the two axes
  bool transposed;                    // rows and columns trade places
  Reindex(int l, int dir) {
    static const double kCorner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const double* o = kCorner[l % 4];
    const double* a = kCorner[(l + dir) % 4];
    const double* b = kCorner[(l + 3 * dir) % 4];
    ox = o[0];
    oy = o[1];
    e1x = a[0] - o[0];
    e1y = a[1] - o[1];
    e3x = b[0] - o[0];
    e3y = b[1] - o[1];
    transposed = e1y != 0;
  }
  // The same map in whole modules, for one module count: r0 = r00 + rr * r + rc * c and
  // c0 = c00 + cr * r + cc * c, each step being 0 or one module either way.
  struct Steps {
    int r00, rr, rc, c00, cr, cc;
  };
  Steps steps(int rows, int cols) const {
    int r00, c00, r10, c10, r01, c01;
    map(0, 0, rows, cols, &r00, &c00);
    map(1, 0, rows, cols, &r10, &c10);
    map(0, 1, rows, cols, &r01, &c01);
    return Steps{r00, r10 - r00, r01 - r00, c00, c10 - c00, c01 - c00};
  }
  // Module (r, c) of a reading with rows x cols modules, in a grid of the located frame's
  // counts (cols x rows when transposed).
  void map(int r, int c, int rows, int cols, int* r0, int* c0) const {
    const double u = (c + 0.5) / cols, v = 1.0 - (r + 0.5) / rows;
    const double u0 = ox + u * e1x + v * e3x, v0 = oy + u * e1y + v * e3y;
    const int rows0 = transposed ? cols : rows, cols0 = transposed ? rows : cols;
    *c0 = static_cast<int>(std::lround(u0 * cols0 - 0.5));
    *r0 = static_cast<int>(std::lround((1.0 - v0) * rows0 - 0.5));
  }
};

}  // namespace

std::vector<Grid> gridCandidates(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows,
                                 int cols) {
  std::vector<Grid> out;
  std::vector<std::unique_ptr<ModuleValues>> sampled;  // one per module count met
  auto valuesOf = [&](int rows0, int cols0) -> ModuleValues& {
    for (auto& v : sampled)
      if (v->rows() == rows0 && v->cols() == cols0) return *v;
    sampled.push_back(std::make_unique<ModuleValues>(window, corners, rows0, cols0));
    return *sampled.back();
  };
  for (int l = 0; l < 4; ++l)
    for (int dir : {1, 3}) {
      Grid g;
      g.corners = {corners[l], corners[(l + dir) % 4], corners[(l + 2) % 4], corners[(l + 4 - dir) % 4]};
      const cmath_vect& k = g.corners[0];
      const cmath_vect& a = g.corners[1];
      const cmath_vect& b = g.corners[3];
      g.mirrored = (a.x - k.x) * (b.y - k.y) - (a.y - k.y) * (b.x - k.x) > 0;
      const double rowLength = (distance(k, a) + distance(b, g.corners[2])) / 2;
      const double columnLength = (distance(k, b) + distance(a, g.corners[2])) / 2;
      const Reindex reindex(l, dir);
      for (const SymbolSize& s : symbolSizes()) {
        if (rows > 0 && !((s.rows == rows && s.cols == cols) || (s.rows == cols && s.cols == rows))) continue;
        const double alongRow = rowLength / s.cols, alongColumn = columnLength / s.rows;
        if (alongRow < 1.5 || alongColumn < 1.5 || alongRow > 1.5 * alongColumn || alongColumn > 1.5 * alongRow)
          continue;
        g.size = &s;
        ModuleValues& values = valuesOf(reindex.transposed ? s.cols : s.rows, reindex.transposed ? s.rows : s.cols);
        const Reindex::Steps m = reindex.steps(s.rows, s.cols);
        const FixedStats st = fixedStats(s, 0, s.rows, 0, s.cols, [&](int r, int c) {
          return values.at(m.r00 + m.rr * r + m.rc * c, m.c00 + m.cr * r + m.cc * c);
        });
        if (std::fabs(st.ink - st.paper) < 10 || st.right < 0.8) continue;
        g.score = st.right;
        g.lightOnDark = st.ink > st.paper;
        out.push_back(g);
      }
    }
  std::stable_sort(out.begin(), out.end(), [](const Grid& x, const Grid& y) { return x.score > y.score; });
  return out;
}

void sampleModules(const cimg_windowConst& window, Grid* grid) {
  const SymbolSize& s = *grid->size;
  const Mapper m(window, grid->corners, s.rows, s.cols);
  ModuleMatrix& mm = grid->modules;
  mm.rows = s.rows;
  mm.cols = s.cols;
  mm.dark.assign(static_cast<size_t>(s.rows) * s.cols, 0);
  mm.margin.assign(mm.dark.size(), 0.0f);
  grid->values.assign(mm.dark.size(), 0.0f);
  const int hr = s.regionRows + 2, hc = s.regionCols + 2;
  std::vector<double> region(static_cast<size_t>(hr) * hc);
  for (int rv = 0; rv < s.regionsV; ++rv)
    for (int rh = 0; rh < s.regionsH; ++rh) {
      // The region's modules once; its threshold from its own fixed modules among them.
      for (int r = rv * hr; r < (rv + 1) * hr; ++r)
        for (int c = rh * hc; c < (rh + 1) * hc; ++c) region[static_cast<size_t>(r - rv * hr) * hc + (c - rh * hc)] =
            moduleValue(window, m, r, c);
      const FixedStats st = fixedStats(s, rv * hr, (rv + 1) * hr, rh * hc, (rh + 1) * hc, [&](int r, int c) {
        return region[static_cast<size_t>(r - rv * hr) * hc + (c - rh * hc)];
      });
      const double t = (st.ink + st.paper) / 2, half = std::max(1.0, std::fabs(st.ink - st.paper) / 2);
      const bool inkDark = st.ink < st.paper;
      for (int r = rv * hr; r < (rv + 1) * hr; ++r)
        for (int c = rh * hc; c < (rh + 1) * hc; ++c) {
          const double v = region[static_cast<size_t>(r - rv * hr) * hc + (c - rh * hc)];
          const size_t at = static_cast<size_t>(r) * s.cols + c;
          grid->values[at] = static_cast<float>(v);
          // "dark" is the ink class: the finder's, so light-on-dark symbols read the same.
          mm.dark[at] = (v < t) == inkDark;
          mm.margin[at] = static_cast<float>(std::min(1.0, std::fabs(v - t) / half));
        }
    }
}

namespace {

// Solves the 4 x 4 system a x = b in place (Gaussian elimination with pivoting); false when
// singular.
bool solve4(double a[4][4], double b[4]) {
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int r = col + 1; r < 4; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (std::fabs(a[pivot][col]) < 1e-9) return false;
    std::swap(a[pivot], a[col]);
    std::swap(b[pivot], b[col]);
    for (int r = 0; r < 4; ++r) {
      if (r == col) continue;
      const double f = a[r][col] / a[col][col];
      for (int k = col; k < 4; ++k) a[r][k] -= f * a[col][k];
      b[r] -= f * b[col];
    }
  }
  for (int r = 0; r < 4; ++r) b[r] /= a[r][r];
  return true;
}

}  // namespace

void equalizeModules(Grid* grid) {
  const SymbolSize& s = *grid->size;
  ModuleMatrix& m = grid->modules;
  auto ink = [&](int r, int c) { return r >= 0 && c >= 0 && r < m.rows && c < m.cols && m.at(r, c) ? 1.0 : 0.0; };
  auto features = [&](int r, int c, double f[4]) {
    f[0] = 1;
    f[1] = ink(r, c);
    f[2] = ink(r - 1, c) + ink(r + 1, c) + ink(r, c - 1) + ink(r, c + 1);
    f[3] = ink(r - 1, c - 1) + ink(r - 1, c + 1) + ink(r + 1, c - 1) + ink(r + 1, c + 1);
  };
  for (int iteration = 0; iteration < 3; ++iteration) {
    double a[4][4] = {}, b[4] = {};
    for (int r = 0; r < m.rows; ++r)
      for (int c = 0; c < m.cols; ++c) {
        double f[4];
        features(r, c, f);
        const double v = grid->values[static_cast<size_t>(r) * m.cols + c];
        for (int i = 0; i < 4; ++i) {
          b[i] += f[i] * v;
          for (int j = 0; j < 4; ++j) a[i][j] += f[i] * f[j];
        }
      }
    if (!solve4(a, b) || std::fabs(b[1]) < 1) return;
    std::vector<uint8_t> next = m.dark;
    for (int r = 0; r < m.rows; ++r)
      for (int c = 0; c < m.cols; ++c) {
        if (fixedModule(s, r, c) >= 0) continue;
        double f[4];
        features(r, c, f);
        const size_t at = static_cast<size_t>(r) * m.cols + c;
        // Distance from the level halfway between the two classes' predictions, in half steps.
        const double mid = b[0] + b[1] / 2 + b[2] * f[2] + b[3] * f[3];
        const double x = (grid->values[at] - mid) / (b[1] / 2);
        next[at] = x > 0;
        m.margin[at] = static_cast<float>(std::min(1.0, std::fabs(x)));
      }
    m.dark.swap(next);
  }
}

void refineGrid(const cimg_windowConst& window, Grid* grid) {
  const SymbolSize& s = *grid->size;
  // Trials move the corners alone: the grid's sampled modules wait for the corners chosen.
  Mapper mapper(window, grid->corners, s.rows, s.cols);
  auto contrast = [&](const std::array<cmath_vect, 4>& corners) {
    const FixedStats st = wholeStats(window, s, corners, &mapper);
    return std::fabs(st.ink - st.paper) * st.right;
  };
  double best = contrast(grid->corners);
  const double module = std::min(distance(grid->corners[0], grid->corners[1]) / s.cols,
                                 distance(grid->corners[0], grid->corners[3]) / s.rows);
  for (double step : {0.3, 0.15, 0.07}) {
    for (int round = 0; round < 3; ++round) {
      bool moved = false;
      for (int corner = 0; corner < 4; ++corner)
        for (int axis = 0; axis < 2; ++axis)
          for (double sign : {-1.0, 1.0}) {
            std::array<cmath_vect, 4> trial = grid->corners;
            (axis == 0 ? trial[corner].x : trial[corner].y) += sign * step * module;
            const double c = contrast(trial);
            if (c > best) {
              best = c;
              grid->corners = trial;
              moved = true;
            }
          }
      if (!moved) break;
    }
  }
}

namespace {

// A reading's grid slid along the long sides of its size (see slidGridCandidates), in place.
void slideEnds(const cimg_windowConst& window, const SymbolSize& size, Mapper* mapper, Grid* g) {
  const bool rowsLong = size.cols > size.rows;
  // Each corner's partner on its long side, and the two ends (the short sides' corners).
  const int partner[4] = {rowsLong ? 1 : 3, rowsLong ? 0 : 2, rowsLong ? 3 : 1, rowsLong ? 2 : 0};
  const int ends[2][2] = {{0, rowsLong ? 3 : 1}, {rowsLong ? 1 : 3, 2}};
  const double module = distance(g->corners[0], g->corners[partner[0]]) / std::max(size.rows, size.cols);
  auto contrast = [&](const std::array<cmath_vect, 4>& q) {
    if (!dmroad::convexQuad(q)) return 0.0;
    const FixedStats st = wholeStats(window, size, q, mapper);
    return std::fabs(st.ink - st.paper) * st.right;
  };
  // Move `move` (0, 1: an end; 2 ... 5: corner move - 2) by `modules` outwards; 6, 7: the long
  // side through corner sides[move - 6] sheared along itself by `modules` (both its corners the
  // same way: a symbol skewed in the picture has its short sides off square by modules).
  const int sides[2] = {ends[0][0], ends[0][1]};
  auto slid = [&](int move, double modules) {
    std::array<cmath_vect, 4> q = g->corners;
    if (move >= 6) {
      const int a = sides[move - 6], b = partner[a];
      const double length = distance(g->corners[b], g->corners[a]);
      const double dx = (g->corners[a].x - g->corners[b].x) / length * modules * module;
      const double dy = (g->corners[a].y - g->corners[b].y) / length * modules * module;
      for (int i : {a, b}) {
        q[i].x += dx;
        q[i].y += dy;
      }
      return q;
    }
    for (int i = 0; i < 4; ++i) {
      if (move < 2 ? i != ends[move][0] && i != ends[move][1] : i != move - 2) continue;
      const cmath_vect& from = g->corners[partner[i]];
      const cmath_vect& to = g->corners[i];
      const double length = distance(from, to);
      q[i].x += (to.x - from.x) / length * modules * module;
      q[i].y += (to.y - from.y) / length * modules * module;
    }
    return q;
  };
  // The one move that gains most, each round: moving the ends by two modules keeps the long
  // sides' solid and clock patterns in step, so the first end moved greedily can take a shift
  // that belongs to the other.
  double best = contrast(g->corners);
  for (int round = 0; round < kSlideRounds; ++round) {
    std::array<cmath_vect, 4> bestTrial = g->corners;
    int bestMove = -1;
    double bestModules = 0;
    auto tryMove = [&](int move, double m) {
      const std::array<cmath_vect, 4> trial = slid(move, m);
      const double c = contrast(trial);
      if (c > best) {
        best = c;
        bestTrial = trial;
        bestMove = move;
        bestModules = m;
      }
    };
    // Each end whole, each corner alone (half as far), each long side sheared, in half modules;
    // the best then to a quarter.
    for (int move = 0; move < 8; ++move) {
      const double reach = move < 2 || move >= 6 ? kSlideModules : kSlideModules / 2;
      for (double m = -reach; m <= reach; m += 0.5)
        if (m != 0) tryMove(move, m);
    }
    if (bestMove < 0) break;
    const int move = bestMove;
    const double m = bestModules;
    tryMove(move, m - 0.25);
    tryMove(move, m + 0.25);
    g->corners = bestTrial;
  }
}

}  // namespace

std::vector<Grid> slidGridCandidates(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows,
                                     int cols) {
  std::vector<Grid> out;
  const SymbolSize* size = findSize(std::min(rows, cols), std::max(rows, cols));
  if (size == nullptr || !dmroad::convexQuad(corners)) return out;
  Mapper mapper(window, corners, size->rows, size->cols);
  for (int l = 0; l < 4; ++l)
    for (int dir : {1, 3}) {
      Grid g;
      g.size = size;
      g.corners = {corners[l], corners[(l + dir) % 4], corners[(l + 2) % 4], corners[(l + 4 - dir) % 4]};
      const double rowLength = distance(g.corners[0], g.corners[1]), columnLength = distance(g.corners[0], g.corners[3]);
      if ((rowLength > columnLength) != (size->cols > size->rows)) continue;
      slideEnds(window, *size, &mapper, &g);
      const FixedStats st = wholeStats(window, *size, g.corners, &mapper);
      if (std::fabs(st.ink - st.paper) < 10 || st.right < kSlidFit) continue;
      const cmath_vect& k = g.corners[0];
      const cmath_vect& a = g.corners[1];
      const cmath_vect& b = g.corners[3];
      g.mirrored = (a.x - k.x) * (b.y - k.y) - (a.y - k.y) * (b.x - k.x) > 0;
      g.score = st.right;
      g.lightOnDark = st.ink > st.paper;
      out.push_back(g);
    }
  std::stable_sort(out.begin(), out.end(), [](const Grid& x, const Grid& y) { return x.score > y.score; });
  return out;
}

}  // namespace dmread
