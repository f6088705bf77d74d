// Symbols the other roads have read claim their outlines: the 1D road does not look for bars
// there. A PDF417's rows and a Data Matrix's solid sides look like bars to the direction grid,
// and on a photo of a large PDF417 scanning them costs more than the rest of the 1D road.
#ifndef IDUT_READER_ONED_ROAD1DCLAIMS_HPP
#define IDUT_READER_ONED_ROAD1DCLAIMS_HPP

#include <array>
#include <vector>

namespace road1d {

struct Region;

// Four corners in image pixels, in order round the outline (either way round).
using Outline = std::array<std::array<double, 2>, 4>;

// Whether (x, y) lies inside the outline, or outside it by no more than margin pixels. A
// degenerate outline (no area) holds nothing.
bool withinOutline(const Outline& outline, double x, double y, double margin);

// Whether all four corners of the region's extent lie within margin pixels of one outline.
bool insideClaimed(const Region& r, const std::vector<Outline>& claimed, double margin);

}  // namespace road1d

#endif
