// The PDF417 road's check of a find: the start or the stop pattern along the rows.
#ifndef IDUT_READER_PDF417_PDFCHECK_HPP
#define IDUT_READER_PDF417_PDFCHECK_HPP

#include <array>

#include "base/cimg.h"

namespace pdfroad {

// Whether the quadrilateral (corners around the outline, image pixel coordinates) shows a PDF417
// symbol: on most of a set of lines along one pair of opposite sides, the runs of light and dark
// begin with the start pattern or end with the stop pattern (read from either end). On success
// the corners are put in the order Symbol::corners describes.
bool hasPdf417Pattern(const cimg_imageConst& image, std::array<cmath_vect, 4>* corners);

}  // namespace pdfroad

#endif
