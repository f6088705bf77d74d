#include "reader/datamatrix/dmread.hpp"

#include <algorithm>
#include <cmath>

#include "reader/datamatrix/dmsample.hpp"
#include "reader/geometry.hpp"

namespace dmread {

Reading readMatrix(const ModuleMatrix& modules) {
  Reading out;
  const SymbolSize* size = findSize(modules.rows, modules.cols);
  if (size == nullptr) {
    out.error = "no Data Matrix size has " + std::to_string(modules.rows) + " x " + std::to_string(modules.cols) +
                " modules";
    return out;
  }
  out.rows = size->rows;
  out.cols = size->cols;
  std::vector<uint8_t> words;
  std::vector<float> confidence;
  readCodewords(modules, *size, &words, &confidence);
  const Correction fixed = correct(*size, words, confidence);
  out.corrected = fixed.corrected;
  out.erased = fixed.erased;
  if (!fixed.ok) {
    out.error = fixed.error;
    return out;
  }
  out.message = decodeMessage(fixed.data);
  out.ok = out.message.ok;
  if (!out.ok) out.error = "corrected codewords do not decode: " + out.message.error;
  return out;
}

namespace {

// A few of the grids, best first, each as located and then refined on the finder pattern, each
// decided by threshold and then against the blur model: the first reading that decodes, else
// the first grid's plain reading (in *first, when there is none yet).
bool readGrids(const cimg_windowConst& window, std::vector<Grid>& grids, Reading* read, Reading* first,
               bool haveFirst) {
  const size_t tries = grids.size() < 4 ? grids.size() : 4;
  for (int pass = 0; pass < 2; ++pass)
    for (size_t i = 0; i < tries; ++i) {
      Grid& g = grids[i];
      if (pass == 1) refineGrid(window, &g);
      sampleModules(window, &g);
      for (int equalized = 0; equalized < 2; ++equalized) {
        if (equalized) equalizeModules(&g);
        Reading r = readMatrix(g.modules);
        r.mirrored = g.mirrored;
        r.lightOnDark = g.lightOnDark;
        r.gridCorners = g.corners;
        if (r.ok) {
          *read = std::move(r);
          return true;
        }
        if (!haveFirst && pass == 0 && i == 0 && !equalized) *first = r;
      }
    }
  return false;
}

// The located outline grown outwards by one module across the two sides through its corner l:
// a grid of modulesA modules from corner 0 to corner 1 and modulesB from corner 0 to corner 3,
// of which the outline holds all but the L's row and column. Grown through the outline's own
// perspective, so a keystone stays one.
std::array<cmath_vect, 4> grownAcrossCorner(const std::array<cmath_vect, 4>& q, int l, int modulesA, int modulesB) {
  const dmroad::SquareToQuad map(q[0], q[1], q[2], q[3]);
  static const int kCorner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  const double du = 1.0 / (modulesA - 1), dv = 1.0 / (modulesB - 1);
  const double u0 = kCorner[l][0] == 0 ? -du : 0, u1 = kCorner[l][0] == 1 ? 1 + du : 1;
  const double v0 = kCorner[l][1] == 0 ? -dv : 0, v1 = kCorner[l][1] == 1 ? 1 + dv : 1;
  return {map.map(u0, v0), map.map(u1, v0), map.map(u1, v1), map.map(u0, v1)};
}

// A symbol whose solid L is of the class of what lies round it (light modules on dark with
// no dark quiet zone, laid on white paper, or the other way round) shows the search no outer
// edge along its L: the outline follows the L's inner edge and holds every module but the L's
// row and column, with the clock tracks on its other two sides (so the border check still
// counts the size). Each corner is tried as the L's, the outline grown by one module across it.
bool readGrownAcrossL(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols,
                      Reading* read, Reading* first) {
  if (rows < 8 || cols < 8 || !dmroad::convexQuad(corners)) return false;
  for (int l = 0; l < 4; ++l)
    for (const bool turned : {false, true}) {
      if (turned && rows == cols) break;
      const std::array<cmath_vect, 4> grown =
          grownAcrossCorner(corners, l, turned ? rows : cols, turned ? cols : rows);
      if (!dmroad::convexQuad(grown)) continue;
      std::vector<Grid> grids = gridCandidates(window, grown, rows, cols);
      if (readGrids(window, grids, read, first, true)) return true;
    }
  return false;
}

// Grids for an outline: of the size the border matched, else of any size it allows.
std::vector<Grid> gridsFor(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols) {
  std::vector<Grid> grids = gridCandidates(window, corners, rows, cols);
  if (grids.empty() && rows > 0) grids = gridCandidates(window, corners);
  return grids;
}

// A four-sided outline with one corner off. A long rectangle's short sides are fitted on a few
// edge points each, and one stray point turns such a side by some degrees: an 8 x 96 symbol of
// 2-pixel modules was outlined 1.7 modules short at one corner, at one pixel phase of four, and
// no grid from there reads. Each corner in turn is put where the other three make the outline a
// parallelogram, when that moves it by at least a pixel.
bool readWithCornerCompleted(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows,
                             int cols, Reading* read, Reading* first) {
  for (int k = 0; k < 4; ++k) {
    std::array<cmath_vect, 4> q = corners;
    const cmath_vect& a = corners[(k + 1) % 4];
    const cmath_vect& b = corners[(k + 3) % 4];
    const cmath_vect& opposite = corners[(k + 2) % 4];
    q[k] = cmath_vect{a.x + b.x - opposite.x, a.y + b.y - opposite.y};
    if (std::hypot(q[k].x - corners[k].x, q[k].y - corners[k].y) < 1 || !dmroad::convexQuad(q)) continue;
    std::vector<Grid> grids = gridsFor(window, q, rows, cols);
    if (readGrids(window, grids, read, first, true)) return true;
  }
  return false;
}

// A long rectangle whose ends the outline misses by modules (slidGridCandidates).
bool readSlid(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols,
              Reading* read, Reading* first) {
  if (rows <= 0 || std::max(rows, cols) < 3 * std::min(rows, cols)) return false;
  std::vector<Grid> grids = slidGridCandidates(window, corners, rows, cols);
  // The best one only: a grid slid onto the symbol fits its patterns better than any other
  // reading, and refining one costs as much as reading a dozen small symbols.
  if (grids.size() > 1) grids.resize(1);
  return readGrids(window, grids, read, first, true);
}

// A long rectangle outlined short by whole regions: where a light symbol's modules beside a
// region border leave a dark gap across it, the outline can end there, and the border check
// matches the shorter size of its row count (an 8 x 64 symbol outlined and matched as 8 x 48).
// Each longer size of the same rows is tried with the outline grown at either end.
bool readLonger(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols,
                Reading* read, Reading* first) {
  // The border check counts rows and columns in its own frame: either may be the short side.
  const int shortSide = std::min(rows, cols), longSide = std::max(rows, cols);
  if (shortSide <= 0 || longSide < 3 * shortSide) return false;
  // The long sides run from corner 0 to corner 1 and from 3 to 2, or from 0 to 3 and 1 to 2.
  const bool alongFirst = dmroad::distance(corners[0], corners[1]) > dmroad::distance(corners[0], corners[3]);
  const int endA[2] = {0, alongFirst ? 3 : 1}, endB[2] = {alongFirst ? 1 : 3, 2};
  for (const SymbolSize& s : symbolSizes()) {
    if (s.rows != shortSide || s.cols <= longSide) continue;
    const double grow = static_cast<double>(s.cols - longSide) / longSide;
    for (const int* end : {endA, endB}) {
      std::array<cmath_vect, 4> q = corners;
      for (int k = 0; k < 2; ++k) {
        const int i = end[k];
        // Its partner on the same long side: the corner of the other end on that side.
        const int partner = end == endA ? endB[k] : endA[k];
        q[i] = cmath_vect{q[i].x + grow * (corners[i].x - corners[partner].x),
                          q[i].y + grow * (corners[i].y - corners[partner].y)};
      }
      std::vector<Grid> grids = gridCandidates(window, q, s.rows, s.cols);
      if (grids.empty()) continue;
      // The grown ends are as far off as the modules the outline missed were wide.
      if (readGrids(window, grids, read, first, true) || readSlid(window, q, s.rows, s.cols, read, first)) return true;
    }
  }
  return false;
}

// The outline mended the ways above, in turn, when it does not read as located.
bool readMendedOutline(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols,
                       Reading* read, Reading* first) {
  return readWithCornerCompleted(window, corners, rows, cols, read, first) ||
         readSlid(window, corners, rows, cols, read, first) || readLonger(window, corners, rows, cols, read, first);
}

}  // namespace

Reading readSymbol(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols) {
  std::vector<Grid> grids = gridCandidates(window, corners, rows, cols);
  const bool sized = rows > 0 && !grids.empty();
  if (grids.empty() && rows > 0) grids = gridCandidates(window, corners);
  Reading read, first;
  if (grids.empty()) {
    first.error = "no Data Matrix finder and clock pattern fits the located corners";
    if (readGrownAcrossL(window, corners, rows, cols, &read, &first)) return read;
    return readMendedOutline(window, corners, rows, cols, &read, &first) ? read : first;
  }
  if (readGrids(window, grids, &read, &first, false)) return read;
  // The size the border matched can be wrong: a noisy 52 x 52 symbol whose scan rows fell
  // otherwise passed the border check as 18 x 18. The other sizes the outline allows are tried.
  if (sized) {
    std::vector<Grid> others = gridCandidates(window, corners);
    others.erase(std::remove_if(others.begin(), others.end(),
                                [&](const Grid& g) { return g.size == grids.front().size; }),
                 others.end());
    if (readGrids(window, others, &read, &first, true)) return read;
  }
  return readMendedOutline(window, corners, rows, cols, &read, &first) ? read : first;
}

}  // namespace dmread
