// A frame of background around the image the Data Matrix road searches. A symbol that fills the
// picture or lies within a module or two of its edge cannot be found in the image as it is: the
// driver takes no seed within a few pixels of the edge, so its outline's outer edges give no
// seed, and an outline that reaches the edge is not closed. In a framed copy the outline is whole
// and its outer edges lie where the scan reaches them.
//
// The frame must be background, not ink: ink would join the solid L to the frame. A picture whose
// edges show two neighbouring sides of one class and two of both (a symbol's solid L and its
// alternating sides, cropped without a quiet zone; in a picture of fine structure both ways, also
// two neighbouring sides darker or lighter than the other two by a fifth of their pixels, the L
// of a symbol a degree or so off square) gets a frame of the other class all round; a
// picture with a plain margin all round, or on three sides (the background round a symbol tilted
// into its corners, or a margin the fourth edge cuts), gets more of that margin. Any other
// picture (a photograph whose edges run through clutter) gets its edge pixels continued outwards:
// a frame of the other class there would close the outline of everything the edge cuts through,
// and each such outline costs a search with corners on the picture's straight edges.
#ifndef IDUT_READER_DATAMATRIX_DMFRAME_HPP
#define IDUT_READER_DATAMATRIX_DMFRAME_HPP

#include <array>
#include <cstdint>

#include "base/cimg.h"

namespace dmroad {

// Width of the frame in pixels: past the driver's seed margins (three columns on the left, five
// on the right), and a whole number of marking cells so that cells keep their places in the image.
inline constexpr int kFrameWidth = 8;

// The frame's grey level on each side: left, top, right, bottom; or kContinue, the edge pixels
// continued outwards.
inline constexpr int kContinue = -1;
using FrameLevels = std::array<int, 4>;

// The levels for a window of at least one pixel. A picture whose edges show two neighbouring
// sides of one class and two of both is read as a symbol's solid L on the edge, framed in the
// other class; otherReading takes those two sides for the background round a symbol tilted into
// the picture's corners instead, and frames it in their class. ambiguous (may be null): set when
// the picture can be read both ways.
FrameLevels frameLevels(const cimg_windowConst& w, bool otherReading = false, bool* ambiguous = nullptr);

// The window inside a frame of kFrameWidth pixels into out, (width + 2 kFrameWidth) x
// (height + 2 kFrameWidth), stride its width; every byte is written. The corner blocks belong to
// the top and bottom sides.
void framedCopy(const cimg_windowConst& w, const FrameLevels& levels, uint8_t* out);

}  // namespace dmroad

#endif
