// The Data Matrix border check: whether a located quadrilateral shows two solid sides meeting at
// one corner and alternating modules along the other two, for one of the Data Matrix sizes.
#ifndef IDUT_READER_DATAMATRIX_DMBORDER_HPP
#define IDUT_READER_DATAMATRIX_DMBORDER_HPP

#include <array>

#include "base/cimg.h"
#include "base/cmath.h"
#include "reader/datamatrix/dmcorners.hpp"

namespace dmroad {

// The best border hypothesis over the four corners as the L corner and every size whose modules
// come out roughly square; false when none scores well enough. corners: around the outline, the
// located corners' pixel convention. longRectangles: the sizes beyond 5 : 1 are accepted too.
// onlyLong (may be null) is set when the border shows clearly but only in a long size that was
// not asked for: a real symbol, which no better placed corners would turn into a shorter size.
bool matchBorder(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, bool longRectangles,
                 BorderLayout* layout, bool* onlyLong = nullptr);

// Whether the border still shows through corners in the layout matchBorder gave them.
bool borderHolds(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, const BorderLayout& layout);

// The border check on its own: whether the quadrilateral (corners around the outline, pixel
// coordinates of image) shows a Data Matrix border - two solid sides meeting at one corner and
// alternating modules along the other two - for one of the Data Matrix sizes. On success rows
// and cols (may be null) receive the matched module counts.
bool hasDataMatrixBorder(const cimg_imageConst& image, const std::array<cmath_vect, 4>& corners, int* rows,
                         int* cols);

}  // namespace dmroad

#endif
