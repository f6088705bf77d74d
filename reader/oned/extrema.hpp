// Edges of a scan line's grey profile from its alternating extremes, for phone photographs:
// blur lowers a narrow element's swing to a fraction of the symbol's contrast, and uneven light
// gives one end of a symbol half the contrast of the other, so edges picked by a gradient
// threshold set from the whole line miss the narrow elements where they matter most.
//
// The profile is walked for its extremes with a hysteresis that follows the local contrast (the
// range of grey within a few modules): a maximum counts once the profile has fallen from it by a
// tenth of that range, a minimum once it has risen as much. Each edge lies between a maximum and
// the minimum after it (or the other way round), where the profile crosses the level halfway
// between the two: a narrow space that reaches only a third of the way to the light level still
// gets both its edges, at the half-height of its own swing.
#ifndef IDUT_READER_ONED_EXTREMA_HPP
#define IDUT_READER_ONED_EXTREMA_HPP

#include <vector>

#include "reader/oned/road1dteeth.hpp"

namespace oned {

struct ExtremaSettings {
  int window = 24;                // half-width, samples, of the local range
  double swingFraction = 0.1;     // of the local range, a swing must reach to count
  double minSwing = 3;            // grey levels, at the least (flat light: no edges from noise)
};

// Edges alternating in polarity, positions in samples; strength is the swing between the two
// extremes. Empty when the profile has fewer than five samples.
std::vector<road1d::LineEdge> extremaEdges(const std::vector<double>& profile, const ExtremaSettings& settings = {});

}  // namespace oned

#endif
