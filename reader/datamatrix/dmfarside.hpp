// The sides of a located Data Matrix symbol followed in the image beyond what the searches
// report: the solid sides of the adaptive search's L to their ends, and the two far
// (alternating) sides of a symbol seen at an angle, whose fourth corner a parallelogram misses.
#ifndef IDUT_READER_DATAMATRIX_DMFARSIDE_HPP
#define IDUT_READER_DATAMATRIX_DMFARSIDE_HPP

#include <array>

#include "base/cimg.h"

namespace dmroad {

// The far end of the solid side from corner to farEnd, followed along the image while a point
// just inside the edge stays ink; other is the end of the other solid side. Pixel x covers
// [x, x + 1).
cmath_vect extendSide(const cimg_windowConst& w, cmath_vect corner, cmath_vect farEnd, cmath_vect other);

// The two far sides measured in the image and the corners rebuilt from them and the solid sides.
// corners: L corner, end of solid side 1, far corner, end of solid side 2 (the road's order).
// False, leaving the corners alone, when the image does not show the far sides clearly.
bool fitFarSides(const cimg_windowConst& w, std::array<cmath_vect, 4>* corners);

}  // namespace dmroad

#endif
