// Codabar: 16 data characters (digits and - $ : / . +) between a start and a stop character
// (A, B, C or D), each of seven elements (four bars, three spaces) of which two or three are
// wide, separated by a narrow gap. No check character: the start and stop characters, the quiet
// zones and the road's agreement of lines decide.
#ifndef IDUT_READER_ONED_CODABAR_HPP
#define IDUT_READER_ONED_CODABAR_HPP

#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// A Codabar symbol starting at the bar widths[start], forward only. text is the data, rawText
// the start character, the data and the stop character.
bool readCodabar(const std::vector<double>& widths, int start, const Options& options, Read& read);

}  // namespace oned

#endif
