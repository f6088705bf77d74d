// A scan line's grey profile for the 1D road: samples every kStep pixels along the line, each the
// mean of taps across it (along the bars, which do not mind). The lines run well past their
// regions, often past the image border, so a line's samples fall in two kinds: those whose taps
// all have their four pixels inside the window, taken in fixed point, and the rest near or past
// the border, taken by the clamped bilinear sampler in doubles.
#ifndef IDUT_READER_ONED_ROAD1DPROFILE_HPP
#define IDUT_READER_ONED_ROAD1DPROFILE_HPP

#include <vector>

#include "base/cimg.h"

namespace road1d {

inline constexpr double kStep = 0.5;  // profile sampling step along a line, pixels

// The samples [begin, end) of a line that are taken in fixed point: one range, as a line enters
// the window at most once. Empty (begin == end) when no sample is.
struct InsideSamples {
  int begin = 0, end = 0;
};

// The grey profile from (x0, y0) to (x1, y1) at kStep, each sample averaged over taps spread
// halfHeight pixels either side across the line; empty when the line is shorter than 4 steps.
// inside, when given, receives the samples taken in fixed point.
std::vector<double> lineProfile(const cimg_windowConst& w, double x0, double y0, double x1, double y1,
                                double halfHeight = 1.5, InsideSamples* inside = nullptr);

}  // namespace road1d

#endif
