// EAN-13, UPC-A and UPC-E read from the grey profile on the symbol's module grid, for photographs
// blurred past what edges can follow: at a blur of most of a module the narrow elements leave only
// shallow ripples, and their edges drift or vanish, but the grey level across each digit still
// follows its pattern drawn through the same blur.
//
// Given where the symbol's first bar starts and its last bar ends (in profile samples), the grid
// is refined on the guards (the two ends a fraction of a module either way, the centre guard up to
// a module either way, so mild perspective may change the module from one half to the other), and each
// digit is the pattern whose blurred rendering correlates best with the profile over its seven
// modules (the modules either side are known from the symbol's structure and are part of the
// rendering). The blur is one of a few widths, the one the guards fit best; the contrast and
// level are fitted per digit, so uneven light and glare do not matter.
//
// A digit decides when its best pattern leads the next clearly; up to two digits may stay
// undecided with two candidates, and the symbol reads only when exactly one combination passes
// the parity rules and the check digit. Where the straight grid does not read, the digits are
// read again, each on a window that may move a little from its neighbour's (a curved label or a
// lens bends the grid). At a blur of most of a module the centre guard's bars are gone: the
// centre is then placed where the digits fit best, and every digit must decide its value alone
// (its parity may stay open, for the parities' table to settle). EAN-8 is
// not read this way: without the parities of EAN-13's left half, an EAN-8 grid fits inside a
// longer symbol and passes its check too often.
//
// UPC-E is read the same way where no EAN-13 reads, for modules under two pixels whose narrow
// elements blur away: its six digits on one straight grid between its guards, blurred by half a
// module at most, at most one digit open in its value or parity (the parities carry its number
// system and check digit), and light beside it.
#ifndef IDUT_READER_ONED_EANGRID_HPP
#define IDUT_READER_ONED_EANGRID_HPP

#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

struct GridRead {
  Read read;
  double start = 0, end = 0;  // the symbol's ends on the profile, samples
};

// EAN-13 (UPC-A) between start and end (the first bar's leading edge, the last bar's
// trailing edge, samples, start < end), the symbol running forward along the profile.
bool readEanOnGrid(const std::vector<double>& profile, double start, double end, GridRead& out);

// Every EAN-13/UPC-A and UPC-E the profile holds, both directions: the ends are tried at the dark-going edges
// after a light run and the light-going edges before one (edges as alternating positions in
// samples, the first dark-going: see road1d::LineEdge).
std::vector<GridRead> readEanOnGrid(const std::vector<double>& profile, const std::vector<double>& darkEdges,
                                    const std::vector<double>& lightEdges);

}  // namespace oned

#endif
