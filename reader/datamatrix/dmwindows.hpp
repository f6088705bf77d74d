// A big image searched window by window. The library's search from a seed works in fixed point
// on coordinates measured from the image's origin, and far from it (a couple of thousand pixels
// and more) the outline it fits comes out a pixel or two off, too far for the border check: on a
// sheet of the same label repeated, the copies beyond about 2000 pixels from the top left corner
// were lost while those nearer it were read. Each window is searched as an image of its own, so
// its coordinates stay small, and it decides its own noise, so a noisy label beside clean ones
// gets its smoothing.
//
// Windows overlap by half: a symbol is taken from the window whose centre lies nearest its own
// (along each axis), where at least a quarter window lies round it on every side, so a symbol of
// up to half a window across lies wholly inside that window. Symbols found in earlier windows are
// claimed in the mask of each later window they reach, so they are not tracked again. Bigger
// symbols are then looked for over the whole image, as before, with all the finds claimed.
#ifndef IDUT_READER_DATAMATRIX_DMWINDOWS_HPP
#define IDUT_READER_DATAMATRIX_DMWINDOWS_HPP

#include <cstdint>
#include <vector>

#include "reader/datamatrix/dmroad.hpp"

namespace dmroad {

// Images larger than this on either side are searched in windows; smaller ones whole, as before.
inline constexpr int32_t kWholeSearchSide = 2048;
// The windows' side, and the step from one to the next.
inline constexpr int32_t kWindowSide = 1280;
inline constexpr int32_t kWindowStep = kWindowSide / 2;
// The smallest side of a symbol's box the last search over the whole image takes: every symbol
// whose box is at most kWindowStep on both sides lies wholly inside the window it is taken from.
inline constexpr int32_t kBigSide = kWindowStep / 2;

// Where the windows along one axis of `length` pixels start: every kWindowStep, the last on the
// whole noise block (kNoiseBlock) at or before length - kWindowSide, and running to the axis' end.
// On whole blocks every window scans the rows, and takes the marking cells and noise blocks, that
// the whole image would: a window starting 33 rows lower read a noisy label's 52 x 52 symbol as
// 18 x 18. One window at 0 when the axis fits in one.
std::vector<int32_t> windowStarts(int32_t length);
// The length of window i: kWindowSide, the last one to the axis' end (the whole axis when shorter).
int32_t windowLength(const std::vector<int32_t>& starts, size_t i, int32_t length);

// The part of the axis window i takes symbols from, [from, to): up to halfway between its centre
// and its neighbours' (centres reckoned at half of kWindowSide, or of a shorter axis), the first
// from the axis' start and the last to its end.
struct Span {
  double from, to;
};
Span coreOf(const std::vector<int32_t>& starts, size_t i, int32_t length);

// findAll over the whole image, through windows when it is larger than kWholeSearchSide on a
// side. maxSymbols counts the symbols taken; the symbols come in window order.
Outcome findAllInWindows(const cimg_imageConst& image, const Options& options);

// Whether findAllInWindows searches image through windows.
bool searchedInWindows(const cimg_imageConst& image);

// A symbol located in a window but not read, looked for once more in a picture of its own: the
// part of the image round it (its box grown by kAloneMargin, out to whole noise blocks) searched
// whole, its noise decided as one. A window decides its noise block by block, and a noisy label
// beside a clean one lends its smoothing to the clean one's blocks; a clean symbol of small
// modules, smoothed, was outlined a module off and not read, though read when cropped alone. The
// finds whose centres lie within a quarter of the symbol's shorter side of its own, in image
// coordinates.
inline constexpr int32_t kAloneMargin = 64;
Outcome findAgainAlone(const cimg_imageConst& image, const Symbol& unread, const Options& options);

}  // namespace dmroad

#endif
