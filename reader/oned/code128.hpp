// Code 128 on a line of widths.
#ifndef IDUT_READER_ONED_CODE128_HPP
#define IDUT_READER_ONED_CODE128_HPP

#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// The reader, forward direction only, starting at the bar widths[start] (odd index).
// It returns false and leave read untouched when no symbol starts there.
bool readCode128(const std::vector<double>& widths, int start, Read& read);

}  // namespace oned

#endif
