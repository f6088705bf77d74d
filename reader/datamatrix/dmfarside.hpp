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

// The same for a located corner that need not be the L: the search can start its parallelogram
// at any corner of the symbol, and at a steep angle the parallelogram's far corner lies up to
// half a side from the true one. corners[0] and its two sides are kept; the two sides through
// corners[2], solid or alternating, are measured further out and the corners rebuilt from them.
// False, leaving the corners alone, when the located sides do not show a quiet zone outside and
// ink inside, or the image does not show the far sides clearly.
bool fitFourthCorner(const cimg_windowConst& w, std::array<cmath_vect, 4>* corners);

// For a located corner with one solid side right and the other a few degrees off, as the
// search's parallelogram can have on a steep keystone: the side beside the solid one (corners[1]
// or corners[3] its end) measured in the image from the corner out, its end moved onto it and the
// far corner made the parallelogram's again, ready for fitFourthCorner. False, leaving the
// corners alone, when neither side shows solid or the other cannot be measured.
bool remeasureSecondSide(const cimg_windowConst& w, std::array<cmath_vect, 4>* corners);

}  // namespace dmroad

#endif
