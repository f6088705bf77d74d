// The overlay picture: the grey input in colour with every located symbol outlined (green) and
// its origin corner marked (a red disc), and the origin's two sides drawn in red and blue so
// the symbol's orientation can be read at a glance.
#ifndef IDUT_FIND_OVERLAY_HPP
#define IDUT_FIND_OVERLAY_HPP

#include <cstdint>
#include <vector>

#include "result.hpp"

namespace idutfind {

// RGB, 3 bytes per pixel, rows of width * 3 bytes.
std::vector<uint8_t> drawOverlay(const uint8_t* grey, int width, int height, int stride,
                                 const std::vector<idut::Symbol>& symbols);

}  // namespace idutfind

#endif
