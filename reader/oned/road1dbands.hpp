// What a region holds besides the symbol read in it: the parts before and after the read along,
// the bands beside it across (trimmed of the read's own bar ends), and an unread region parted
// between two labels one above the other.
#ifndef IDUT_READER_ONED_ROAD1DBANDS_HPP
#define IDUT_READER_ONED_ROAD1DBANDS_HPP

#include <vector>

#include "base/cimg.h"
#include "reader/oned/road1d.hpp"

namespace road1d {

// band (a band beside the read s of region r) moved off the read's bars where they run on past
// the read's box; false when it is too low then to hold a label.
bool trimOwnBars(const cimg_windowConst& w, const Region& r, const Symbol& s, Region& band);

// band cut down to the bar cells in it of the groups its region was gathered from (bars beside a
// read that other groups gathered are other regions, read on their own); false when they are
// too few for a label, or span too low a band.
bool shrinkToBarCells(const BarCells& cells, Region& band);

// Whether the read s lies in part over region r (their rectangles overlap in r's frame).
bool overlapsRead(const Region& r, const Symbol& s);

// Whether some region of others covers the same rectangle as r, within a few pixels and a few
// degrees, whichever way along it runs.
bool sameAsAny(const Region& r, const std::vector<Region>& others);

// How far beyond across from the read's box edge at edge (side +1: towards acrossMax, -1:
// towards acrossMin) the read's bars still show, up to limit pixels.
double ownBarsReach(const cimg_windowConst& w, const Region& r, const Symbol& s, double edge, int side, double limit);

// r parted across at the offset given (NaN: not parted), when both parts are tall enough to
// hold bars of their own; none otherwise.
std::vector<Region> partedAcross(const Region& r, double at);

}  // namespace road1d

#endif
