// Running extrema along lines (the exported line routines, the generic 2D path) and the fast 2D
// pass over whole rows. Nothing here allocates: callers hand in the work buffers.
#ifndef IDUT_MORPH_LINES_HPP
#define IDUT_MORPH_LINES_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace morph {

enum class Kind { max, min };

// Half window: an even window length looks one sample further, and 2 looks at 3 samples.
inline int32_t radiusOf(int32_t windowLength) { return std::max(1, (windowLength - 1) / 2); }

// Work rows of the whole-row 2D pass, carved from one block of rowWorkBytes bytes.
struct RowWork {
  uint8_t* line;       // the column extremum of one row, padded for the row extremum
  uint8_t* levelA;     // doubling levels of the row extremum
  uint8_t* levelB;
  uint8_t* suffix;     // one window of rows: the block scan's suffixes
  uint8_t* prefix[2];  // the block scan's growing prefix, alternately
  uint8_t* neutral;    // a row of the extremum's neutral value
};
size_t rowWorkBytes(int32_t width, int32_t kernelWidth, int32_t kernelHeight);
RowWork rowWorkAt(uint8_t* block, int32_t width, int32_t kernelWidth, int32_t kernelHeight);

// The rectangle's extremum from `in` into `out` (width x height each, not overlapping): output
// (x, y) is the extremum over the window clipped to the image, rows of half height
// radiusOf(kernelHeight) when kernelHeight >= 2, columns of half width radiusOf(kernelWidth) when
// kernelWidth >= 2 (at least one of the two). A single row with kernelHeight 1 is the fast line
// routine.
void rowPass(Kind kind, const uint8_t* in, ptrdiff_t inStride, uint8_t* out, ptrdiff_t outStride, int32_t width,
             int32_t height, int32_t kernelWidth, int32_t kernelHeight, const RowWork& work);

// The monotone-queue running extremum of one line; ring holds 2r + 1 indices. Source and
// destination must not overlap. Adds the number of samples dropped from the queue's back to
// *steps when steps is not null.
void queueExtrema(Kind kind, int32_t windowLength, const uint8_t* source, uint8_t* destination, int32_t length,
                  int32_t* ring, uint32_t* steps);

}  // namespace morph

#endif
