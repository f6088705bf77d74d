// The Data Matrix road as the front door runs it: the symbols located, then read.
#ifndef IDUT_READER_DATAMATRIX_DMSYMBOLS_HPP
#define IDUT_READER_DATAMATRIX_DMSYMBOLS_HPP

#include <vector>

#include "base/cimg.h"
#include "idut/read.hpp"
#include "reader/frontpass.hpp"
#include "reader/datamatrix/dmread.hpp"

namespace dmroad {

// See idutread::RoadRun.
csys_status readSymbols(idutread::FrontPass& front, const idut::ReadOptions& options, int limit,
                        std::vector<idut::Symbol>& out);

}  // namespace dmroad

namespace dmread {

// A reading's content and figures into the symbol's decoding fields.
void fillSymbol(const Reading& reading, idut::Symbol& symbol);

}  // namespace dmread

#endif
