// Views of an image for the long Data Matrix rectangles. The searches take no outline beyond
// 5 : 1 across its bounding box, and pair a side with another only when it is at least a
// sixteenth as long, so an 8 x 144 symbol is never found and a long one lying along the image
// axes neither. A view turns the image so that symbols whose long axis runs near one direction
// lie at 45 degrees, and shortens them along it to under 8 : 1, where the tests pass and a short side
// still holds a straight run; corners found
// in a view map back to the image.
#ifndef IDUT_READER_DATAMATRIX_DMLONG_HPP
#define IDUT_READER_DATAMATRIX_DMLONG_HPP

#include <cstdint>
#include <vector>

#include "base/cimg.h"
#include "base/cmath.h"

namespace dmroad {

struct LongView {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> pixels;  // stride width
  cmath_xformLinear imageFromView{};  // view coordinates to image coordinates (pixel areas)
  cmath_vect toImage(cmath_vect q) const;
};

// The directions of the long axis the views cover, and how much a view shortens along it.
inline constexpr int kLongViewCount = 16;  // every 11.25 degrees: none is more than 5.6 away
inline constexpr double kLongViewSqueeze = 2.25;

// How far from the image's origin a view may reach, in pixels (the resampler's range, less a
// margin): square windows of up to about 15000 pixels a side, longer narrow ones further.
inline constexpr double kLongViewReach = 32000;

// View k (0 ... kLongViewCount - 1) of the window, resampled bilinearly into *out; empty (0 x 0)
// for a window narrower than 2 pixels either way or reaching beyond kLongViewReach. A failed
// allocation is returned, *out empty.
csys_status makeLongView(const cimg_windowConst& w, int k, LongView* out);

}  // namespace dmroad

#endif
