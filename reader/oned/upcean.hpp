// EAN-13, UPC-A and EAN-8 on a line of widths.
#ifndef IDUT_READER_ONED_UPCEAN_HPP
#define IDUT_READER_ONED_UPCEAN_HPP

#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// The reader, forward direction only, starting at the bar widths[start] (odd index).
// It returns false and leave read untouched when no symbol starts there.
bool readUpcEan(const std::vector<double>& widths, int start, Read& read);

}  // namespace oned

#endif
