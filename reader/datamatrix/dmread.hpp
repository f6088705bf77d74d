// Reading a located Data Matrix (ECC 200) symbol: the module grid sampled from the image, the
// codewords corrected block by block, the message decoded (see dmdecode.hpp for the text).
#ifndef IDUT_READER_DATAMATRIX_DMREAD_HPP
#define IDUT_READER_DATAMATRIX_DMREAD_HPP

#include <array>
#include <string>

#include "base/cimg.h"
#include "reader/datamatrix/dmcodewords.hpp"
#include "reader/datamatrix/dmdecode.hpp"

namespace dmread {

struct Reading {
  bool ok = false;
  std::string error;  // why the symbol could not be read, when !ok
  Message message;
  int rows = 0, cols = 0;
  int corrected = 0, erased = 0;  // codewords repaired / erased by the error correction
  bool mirrored = false, lightOnDark = false;
  // The grid that read: its L corner, solid row end, opposite corner and solid column end (set
  // when ok and read from an image).
  std::array<cmath_vect, 4> gridCorners{};
};

// A module grid (ink modules set, row 0 the clock row, column 0 the solid column) to its
// message. The matrix must have one of the ECC 200 sizes and its finder pattern.
Reading readMatrix(const ModuleMatrix& modules);

// Reads the symbol inside the quadrilateral corners (around the outline, in any order of
// rotation; pixel x covering [x, x + 1)). rows/cols > 0: the size the locator matched, tried
// first. Tries the readings the border supports, best first, and reports the first that
// decodes, else the best reading's reason.
Reading readSymbol(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows = 0,
                   int cols = 0);

}  // namespace dmread

#endif
