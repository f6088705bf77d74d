// The road searches a noisy image through a lightly smoothed copy: noise makes edge peaks on
// every scan line, and each one costs a boundary track around a ragged blob. The corners are
// measured in the original image afterwards, so the smoothing costs no accuracy.
#ifndef IDUT_TOOLS_ROAD_DMDENOISE_HPP
#define IDUT_TOOLS_ROAD_DMDENOISE_HPP

#include <cstdint>
#include <vector>

#include "base/cimg.h"

namespace dmroad {

// The standard deviation of the pixel noise, estimated from the median absolute second
// difference along every sixteenth row (edges are too few to move the median).
double noiseSigma(const cimg_windowConst& w);

// The window smoothed by the 3 x 3 binomial kernel (1 2 1 across and down, edges repeated),
// rounded to the nearest level, into out (width x height, stride width).
void smoothBinomial(const cimg_windowConst& w, std::vector<uint8_t>* out);

}  // namespace dmroad

#endif
