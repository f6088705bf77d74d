// A picture twice as large each way, for the Data Matrix road's search of small pictures whose
// modules are too small for its edge filters (under two pixels).
#ifndef IDUT_READER_DATAMATRIX_DMUPSCALE_HPP
#define IDUT_READER_DATAMATRIX_DMUPSCALE_HPP

#include <cstdint>

#include "base/cimg.h"

namespace dmroad {

// w enlarged twice each way by linear interpolation between pixel centres (weights 3/4 and 1/4,
// edges repeated), rounded to the nearest level, into out: (2 width) x (2 height), stride
// 2 width; every byte written. Pixel (X, Y) of out covers [X/2, (X+1)/2) x [Y/2, (Y+1)/2) of w,
// so a point of out is the point of w at half its coordinates.
void upscaleTwice(const cimg_windowConst& w, uint8_t* out);

// The smaller of the mean absolute differences between neighbouring pixels along the rows and
// along the columns of w (grey levels; 0 for a window under two pixels either way), over every
// rowStep-th row and the row below it. Modules of a pixel or two filling the picture change the
// level at most steps both ways; bars, text on paper and plain noise change it far less often
// at least one way.
double meanStepBothWays(const cimg_windowConst& w, int32_t rowStep = 1);

}  // namespace dmroad

#endif
