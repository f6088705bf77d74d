// Where an image is noisy enough to be searched through a smoothed copy. A picture of ordinary
// size is decided as one: its noise is one camera's or one print's. A big image (a scanned sheet,
// several labels side by side) mixes noisy and clean parts, and white space between them: one
// estimate over all of it is taken by the majority, leaving a noisy label unsmoothed or a clean
// one smoothed and its faint edges marked as noise. There each block decides for itself, and a
// noisy block lends its decision to the blocks around it, which may hold the rest of a symbol
// it cuts through.
#ifndef IDUT_READER_DATAMATRIX_DMLOCALNOISE_HPP
#define IDUT_READER_DATAMATRIX_DMLOCALNOISE_HPP

#include <cstdint>
#include <vector>

#include "base/cimg.h"

namespace dmroad {

// The side of a block, a whole number of marking cells (4 pixels).
inline constexpr int32_t kNoiseBlock = 64;

// A rectangle of the image [x0, x1) x [y0, y1) to be searched smoothed; twice: with the 5 x 5
// binomial (heavy noise), else the 3 x 3.
struct NoisyPart {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool twice = false;
};

// The noisy parts of w: noise (noiseSigma) above `above`, smoothed twice above `twiceAbove`.
// Empty when nothing is that noisy. Without byBlocks the part is the whole image or nothing;
// with it, parts are runs of blocks along a block row, their corners on block corners (or the
// image's edge), and they do not overlap.
std::vector<NoisyPart> noisyParts(const cimg_windowConst& w, double above, double twiceAbove, bool byBlocks);

// w into out (width x height, stride width; every byte written), smoothed within the parts and
// copied elsewhere. Inside a part each pixel is what smoothing the whole image would give it.
void smoothParts(const cimg_windowConst& w, const std::vector<NoisyPart>& parts, uint8_t* out);

// markNoiseCells within each part: searched is the searched image, in which the image lies at
// (shift, shift) (shift a whole number of cells); rows are searched's scan rows, sorted. Each part
// measures its own noise level from its own rows, and only its own cells are marked. A part
// that is the whole image is marked over the whole searched image, frame included.
void markNoiseCellsInParts(const cimg_windowConst& searched, int32_t shift, const std::vector<NoisyPart>& parts,
                           const std::vector<int32_t>& rows, cimg_window* marking);

}  // namespace dmroad

#endif
