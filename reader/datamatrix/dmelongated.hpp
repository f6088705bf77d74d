// Where the long Data Matrix rectangles lie, from what the main scan already did. The searches
// take no outline beyond 5 : 1 across its bounding box and pair a side only with one at least a
// sixteenth as long, so a long rectangle near an image axis, and an 8 x 144 at any angle, is
// tracked and then dropped. Its outline is left in the marking image all the same: a thin band
// of marked cells. Such bands are picked out here (connected marked cells whose spread is long
// and narrow), and only the picture round each is turned and shortened along the band for a
// second search (dmlong.hpp), rather than the whole picture in every direction.
#ifndef IDUT_READER_DATAMATRIX_DMELONGATED_HPP
#define IDUT_READER_DATAMATRIX_DMELONGATED_HPP

#include <cstdint>
#include <vector>

#include "base/cimg.h"

namespace dmroad {

// A band of marked cells: the pixel box round it (image coordinates, end exclusive, clamped to
// the image) and the direction of its length, radians from the x axis in [0, pi).
struct Elongated {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  double direction = 0;
};

// The bands of cells the scan marked (set in marking, clear in before: the marks a scan started
// with, such as the noise cells, are not outlines) that could be a long rectangle's outline:
// at least minLength pixels long, minWidth wide, and four times as long as wide. frame: where the
// image's origin lies in the marked search image; imageWidth, imageHeight: the image's size.
std::vector<Elongated> elongatedOutlines(const cimg_window& marking, const std::vector<uint8_t>& before, int32_t frame,
                                         int32_t imageWidth, int32_t imageHeight, double minLength,
                                         double minWidth);

// Whether the edges in the band's box run both along the band and across it in like measure, as
// a Data Matrix symbol's module edges do: the bars of a 1D symbol, and a PDF417 symbol's start
// and stop patterns, make bands whose edges nearly all run one way. w: the image.
bool edgesBothWays(const cimg_windowConst& w, const Elongated& band);

}  // namespace dmroad

#endif
