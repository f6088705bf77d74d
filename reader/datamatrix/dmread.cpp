#include "reader/datamatrix/dmread.hpp"

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

Reading readSymbol(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows, int cols) {
  std::vector<Grid> grids = gridCandidates(window, corners, rows, cols);
  if (grids.empty() && rows > 0) grids = gridCandidates(window, corners);
  if (grids.empty()) {
    Reading none;
    none.error = "no Data Matrix finder and clock pattern fits the located corners";
    return none;
  }
  Reading first;
  // A few readings, each as located and then with the grid refined on the finder pattern, each
  // decided by threshold and then against the blur model.
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
        if (r.ok) return r;
        if (pass == 0 && i == 0 && !equalized) first = r;
      }
    }
  return first;
}

}  // namespace dmread
