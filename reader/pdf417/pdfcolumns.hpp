// The pattern locator's second stage: hits grouped into columns, a line fitted down each, start
// and stop columns paired, and the ends of the wide bars for the top and bottom.
#ifndef IDUT_READER_PDF417_PDFCOLUMNS_HPP
#define IDUT_READER_PDF417_PDFCOLUMNS_HPP

#include <vector>

#include "reader/pdf417/pdfpattern.hpp"

namespace pdfroad {

// Groups the hits into columns, pairs start columns with stop columns and builds the outline of
// each pair; several candidates per start column (the nearest stop columns first), best
// supported first overall. The caller checks and claims them.
std::vector<PatternFind> outlinesFromHits(const cimg_windowConst& w, const PatternScan& scan,
                                          const std::vector<PatternHit>& hits);

}  // namespace pdfroad

#endif
