#include "reader/datamatrix/dmread.hpp"

#include <algorithm>

#include "reader/datamatrix/dmsample.hpp"

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

}  // namespace

Reading readSymbol(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols) {
  std::vector<Grid> grids = gridCandidates(window, corners, rows, cols);
  const bool sized = rows > 0 && !grids.empty();
  if (grids.empty() && rows > 0) grids = gridCandidates(window, corners);
  if (grids.empty()) {
    Reading none;
    none.error = "no Data Matrix finder and clock pattern fits the located corners";
    return none;
  }
  Reading read, first;
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
  return first;
}

}  // namespace dmread
