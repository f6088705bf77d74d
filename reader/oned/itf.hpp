// Interleaved 2 of 5 on a line of widths.
#ifndef IDUT_READER_ONED_ITF_HPP
#define IDUT_READER_ONED_ITF_HPP

#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// The reader, forward direction only, starting at the bar widths[start] (odd index).
// It returns false and leave read untouched when no symbol starts there.
bool readItf(const std::vector<double>& widths, int start, const Options& options, Read& read);

}  // namespace oned

#endif
