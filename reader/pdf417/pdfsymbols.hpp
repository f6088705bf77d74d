// The PDF417 road as the front door runs it: the symbols located, then read.
#ifndef IDUT_READER_PDF417_PDFSYMBOLS_HPP
#define IDUT_READER_PDF417_PDFSYMBOLS_HPP

#include <vector>

#include "base/cimg.h"
#include "idut/read.hpp"
#include "reader/frontpass.hpp"

namespace pdfroad {

// See idutread::RoadRun.
csys_status readSymbols(idutread::FrontPass& front, const idut::ReadOptions& options, int limit,
                        std::vector<idut::Symbol>& out);

}  // namespace pdfroad

#endif
