// Reading every symbol a line of bar and space widths holds.
#ifndef IDUT_READER_ONED_READLINE_HPP
#define IDUT_READER_ONED_READLINE_HPP

#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// The name idut-find reports: "Code128", "EAN-13", "UPC-A", "EAN-8", "Code39", "ITF", "UPC-E",
// "Code93", "Codabar", "DataBar", "DataBarExpanded", "Code32", "PZN".
const char* symbologyName(Symbology symbology);

// Every symbol found on the line, in both directions; overlapping reads of different
// symbologies are all reported (the road decides between them).
std::vector<Read> readLine(const std::vector<double>& widths, const Options& options = {});

}  // namespace oned

#endif
