// What a region holds besides the symbol read in it: the parts before and after the read along,
// the bands beside it across (trimmed of the read's own bar ends), and an unread region parted
// between two labels one above the other.
#ifndef IDUT_READER_ONED_ROAD1DBANDS_HPP
#define IDUT_READER_ONED_ROAD1DBANDS_HPP

#include <vector>

#include "base/cimg.h"
#include "reader/oned/road1d.hpp"

namespace road1d {

// The bands among parts (those beside the read s of region r) each moved off the read's bars
// where they run on past the read's box, and dropped when too low then to hold a label.
std::vector<Region> trimmedOfOwnBars(const cimg_windowConst& w, const Region& r, const Symbol& s,
                                     std::vector<Region> parts);

// Whether some region of others runs the same way as r over the same rectangle, within a few pixels.
bool sameAsAny(const Region& r, const std::vector<Region>& others);

// How far beyond across from the read's box edge at edge (side +1: towards acrossMax, -1:
// towards acrossMin) the read's bars still show, up to limit pixels.
double ownBarsReach(const cimg_windowConst& w, const Region& r, const Symbol& s, double edge, int side, double limit);

// r parted across at the offset given (NaN: not parted), when both parts are tall enough to
// hold bars of their own; none otherwise.
std::vector<Region> partedAcross(const Region& r, double at);

}  // namespace road1d

#endif
