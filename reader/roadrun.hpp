// What the front door asks of each symbology's road.
#ifndef IDUT_READER_ROADRUN_HPP
#define IDUT_READER_ROADRUN_HPP

#include <vector>

#include "base/cimg.h"
#include "idut/read.hpp"
#include "reader/frontpass.hpp"

namespace idutread {

// Locates (and, with options.decode, reads) the road's symbols of the symbologies options
// selects in the front pass's image and appends them to out: at most limit of them (0: no
// limit). out holds the symbols the earlier roads found. Returns the library's first failure
// status, the symbols found before it kept in out.
using RoadRun = csys_status (*)(FrontPass& front, const idut::ReadOptions& options, int limit,
                                std::vector<idut::Symbol>& out);

// A road's corners (Po, Px, Popp, Py around the outline) as the front door's quadrilateral.
inline idut::Quad quadOf(const cmath_vect* corners) {
  idut::Quad q;
  for (int k = 0; k < 4; ++k) q.points[k] = idut::Point{corners[k].x, corners[k].y};
  return q;
}

}  // namespace idutread

#endif
