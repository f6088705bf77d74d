// The 1D road as the front door runs it: symbols are reported only when read (lines agree on
// their text), so every report carries its text; with decoding off the text is dropped.
#ifndef IDUT_READER_ONED_ONEDSYMBOLS_HPP
#define IDUT_READER_ONED_ONEDSYMBOLS_HPP

#include <vector>

#include "base/cimg.h"
#include "idut/read.hpp"
#include "reader/frontpass.hpp"
#include "reader/oned/oned.hpp"

namespace road1d {

// See idutread::RoadRun.
csys_status readSymbols(idutread::FrontPass& front, const idut::ReadOptions& options, int limit,
                        std::vector<idut::Symbol>& out);

// The front door's symbology of a reader's.
idut::Symbology frontSymbology(oned::Symbology symbology);

}  // namespace road1d

#endif
