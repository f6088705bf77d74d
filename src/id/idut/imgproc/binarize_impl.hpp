// Shared pieces of the binarisers: the table map into the destination, and the two local
// methods that live in binarize_local.cpp.
#ifndef IDUT_BINARIZE_IMPL_HPP
#define IDUT_BINARIZE_IMPL_HPP

#include <cstdint>

#include "ci_id/binarize.h"

namespace binarize {

// out(x, y) = table[in(x, y)] over equal-sized windows.
inline void mapInto(const cimg_windowConst& in, const cimg_window& out, const uint8_t* table) {
  for (int32_t y = 0; y < in.height; ++y) {
    const uint8_t* s = in.pixels + static_cast<ptrdiff_t>(y) * in.stride;
    uint8_t* d = out.pixels + static_cast<ptrdiff_t>(y) * out.stride;
    for (int32_t x = 0; x < in.width; ++x) d[x] = table[s[x]];
  }
}

// Destination := 255 where source > threshold image (both over the source window), else 0,
// through the clamped difference and a table.
csys_status againstThresholds(const cimg_imageConst& source, const cimg_imageConst& thresholds,
                              const cimg_window& destination);

// Method 4; contrastMask may be null.
csys_status localContrast(const cimg_imageConst& source, const cidut_binarizeParams& params,
                          const cimg_window& destination, cimg_image* contrastMask);

// Method 5; the source is at least windowSize pixels wide and high.
csys_status slidingMean(const cimg_windowConst& source, const cidut_binarizeParams& params,
                        const cimg_window& destination);

}  // namespace binarize

#endif
