// The road searches a noisy image through a lightly smoothed copy: noise makes edge peaks on
// every scan line, and each one costs a boundary track around a ragged blob. The corners are
// measured in the original image afterwards, so the smoothing costs no accuracy.
#ifndef IDUT_READER_DATAMATRIX_DMDENOISE_HPP
#define IDUT_READER_DATAMATRIX_DMDENOISE_HPP

#include <cstdint>
#include <vector>

#include "base/cimg.h"

namespace dmroad {

// The standard deviation of the pixel noise, estimated from the median absolute second
// difference along every sixteenth row (edges are too few to move the median). A picture filled
// with modules of a pixel or two has an edge beside nearly every pixel, and that estimate is
// checked against the change of the differences from row to row, which such modules keep small;
// estimates at or below `matters` are returned without that check. rowToRow, when not null,
// receives the row-to-row estimate over the first (1 where the check was not made): near 1 for
// noise, well below for modules the check recognised, in between where it could not tell.
double noiseSigma(const cimg_windowConst& w, double matters = 0, double* rowToRow = nullptr);

// The window smoothed by the 3 x 3 binomial kernel (1 2 1 across and down, edges repeated),
// rounded to the nearest level, into out (width x height, stride width; every byte written).
void smoothBinomial(const cimg_windowConst& w, uint8_t* out);

// The same twice over (a 5 x 5 binomial in all, rounded after each pass), without an image of
// the first pass in between.
void smoothBinomialTwice(const cimg_windowConst& w, uint8_t* out);

// Marks the cells of the marking image where the driver would seed on noise alone. Along the
// scan rows (sorted, image rows of w) the driver's seeds are peaks of its six-tap row response of
// 45 and more, and in a noisy image most of those are noise, each costing a track around a
// ragged blob that usually runs to the image's edge. The response's own spread is measured over
// the rows (the median absolute response is 0.6745 of its deviation); a cell whose strongest
// response stays below kNoiseMargin deviations holds no seed an edge of the image made, and is
// marked so the driver passes over it. Nothing is marked while that level is under 45. In a
// picture whose pixels gather at two grey levels (a symbol filling it) the level is at most twice
// their difference, so that the picture's own edges are never taken for noise. Returns the level
// (0 when the rows are too few to measure).
int32_t markNoiseCells(const cimg_windowConst& w, const std::vector<int32_t>& rows, cimg_window* marking);

}  // namespace dmroad

#endif
