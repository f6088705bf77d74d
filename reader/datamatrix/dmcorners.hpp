// Sub-pixel corners of a located Data Matrix symbol: each side of the border is fitted to the
// grey-level edge along its whole length (the solid sides everywhere, the alternating sides at
// their dark modules, where they have an outer edge) and the corners are the crossings of those
// four lines. A decoder sampling module centres needs corners to a small fraction of a module;
// the searches' corners come from a smoothed outline and are off by up to a module.
#ifndef IDUT_READER_DATAMATRIX_DMCORNERS_HPP
#define IDUT_READER_DATAMATRIX_DMCORNERS_HPP

#include <array>

#include "base/cimg.h"

namespace dmroad {

// How a symbol's border lies on four corners given around its outline: corners[l] is the L
// corner where the two solid sides meet, corners[(l + dir) % 4] the far end of the solid row,
// corners[(l + 4 - dir) % 4] the far end of the solid column and corners[(l + 2) % 4] the corner
// where the two alternating sides meet. rows x cols is the symbol's size in modules (the solid
// row runs along the cols).
struct BorderLayout {
  int l = 0;
  int dir = 1;  // 1 or 3
  int rows = 0;
  int cols = 0;
};

// Refines corners (the located corners' pixel convention: pixel x covers [x, x + 1)) in place.
// The sides must already lie within about a module of the edges. Returns false, leaving the
// corners as they were, when a side shows too few edge points or a corner would move by more
// than one and a half modules.
bool refineCorners(const cimg_windowConst& window, const BorderLayout& layout, std::array<cmath_vect, 4>* corners);

// Replaces the short sides of a rectangle by perpendiculars to its long solid side, keeping that
// side and the mean length of the short ones (corners in place, ordered by layout). False, the
// corners untouched, for a degenerate outline.
bool squareOnLongSide(const BorderLayout& layout, std::array<cmath_vect, 4>* corners);

}  // namespace dmroad

#endif
