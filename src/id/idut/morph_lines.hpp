// Running extrema along lines and along strips of columns, shared by the exported line routines
// and the 2D morphology. Nothing here allocates: callers hand in the work buffers.
#ifndef IDUT_MORPH_LINES_HPP
#define IDUT_MORPH_LINES_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace morph {

enum class Kind { max, min };

// Half window: an even window length looks one sample further, and 2 looks at 3 samples.
inline int32_t radiusOf(int32_t windowLength) { return std::max(1, (windowLength - 1) / 2); }

// Columns handled together by the fast column pass: wide enough for whole vector registers,
// narrow enough that a strip of a tall image stays in the second-level cache.
constexpr int32_t kStripLanes = 64;

// Bytes of each of the two buffers that fastExtrema needs for `count` rows of `lanes` samples.
inline size_t fastBufferBytes(int32_t count, int32_t radius, int32_t lanes) {
  return (static_cast<size_t>(count) + 2 * static_cast<size_t>(radius)) * static_cast<size_t>(lanes);
}

// Running extremum along the rows' direction of a block of `count` rows, each `lanes` samples
// wide: output row y is the extremum of source rows max(0, y - r) .. min(count - 1, y + r),
// lane by lane. With lanes = 1 and both strides 1 this is the line routine. a and b each hold
// fastBufferBytes(count, r, lanes) bytes. Source and destination may be the same block.
void fastExtrema(Kind kind, int32_t windowLength, const uint8_t* source, ptrdiff_t sourceStride,
                 uint8_t* destination, ptrdiff_t destinationStride, int32_t count, int32_t lanes, uint8_t* a,
                 uint8_t* b);

// Short windows (up to 5 rows) down the columns of a width x height block, straight from source
// to destination rows, which must not overlap. Returns false, doing nothing, for longer windows.
bool fastColumns(Kind kind, int32_t windowLength, const uint8_t* source, ptrdiff_t sourceStride,
                 uint8_t* destination, ptrdiff_t destinationStride, int32_t width, int32_t height);

// The monotone-queue running extremum of one line; ring holds 2r + 1 indices. Source and
// destination must not overlap. Adds the number of samples dropped from the queue's back to
// *steps when steps is not null.
void queueExtrema(Kind kind, int32_t windowLength, const uint8_t* source, uint8_t* destination, int32_t length,
                  int32_t* ring, uint32_t* steps);

}  // namespace morph

#endif
