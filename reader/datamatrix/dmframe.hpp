// A frame of background around the image the Data Matrix road searches. A symbol that fills the
// picture or lies within a module or two of its edge cannot be found in the image as it is: the
// driver takes no seed within a few pixels of the edge, so its outline's outer edges give no
// seed, and an outline that reaches the edge is not closed. In a framed copy the outline is whole
// and its outer edges lie where the scan reaches them.
//
// The frame must be background, not ink: ink would join the solid L to the frame. Each side of
// the frame takes the level opposite to the one its outermost pixels mostly show, and sides that
// show both (a clock track, clutter) follow the clearest side: a dark solid side gets a light
// frame, a light one (a symbol printed light on dark) a dark frame, a plain white margin a dark
// frame a quiet zone away from anything inside it. Edges without contrast get their own level.
#ifndef IDUT_READER_DATAMATRIX_DMFRAME_HPP
#define IDUT_READER_DATAMATRIX_DMFRAME_HPP

#include <array>
#include <cstdint>

#include "base/cimg.h"

namespace dmroad {

// Width of the frame in pixels: past the driver's seed margins (three columns on the left, five
// on the right), and a whole number of marking cells so that cells keep their places in the image.
inline constexpr int kFrameWidth = 8;

// The frame's grey level on each side: left, top, right, bottom.
using FrameLevels = std::array<uint8_t, 4>;

// The levels for a window of at least one pixel.
FrameLevels frameLevels(const cimg_windowConst& w);

// The window inside a frame of kFrameWidth pixels into out, (width + 2 kFrameWidth) x
// (height + 2 kFrameWidth), stride its width; every byte is written. The corner blocks take the
// levels of the top and bottom sides.
void framedCopy(const cimg_windowConst& w, const FrameLevels& levels, uint8_t* out);

}  // namespace dmroad

#endif
