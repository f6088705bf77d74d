// The PDF417 road's second way in: the library's edge-seeded driver over rows of the image, the
// edges found along each row and along the rows a little above and below it, the driver looking
// for the narrow-wide-narrow run of the stop pattern among those edges and tracking the symbol
// from there, the find grown on a merged copy (pdfmerge.hpp), checked, claimed in the mask, and
// the driver called again on the same line until it finds nothing more; symbols whose rows run
// closer to the image's columns on a transposed copy scanned the same way.
#ifndef IDUT_READER_PDF417_PDFSEEDS_HPP
#define IDUT_READER_PDF417_PDFSEEDS_HPP

#include "reader/pdf417/pdfroad.hpp"
#include "reader/roadbase.hpp"

namespace pdfroad {

// Searches pixels (the fine image of r, or its smoothed copy, with stride) whose noise has the
// deviation noise; r is opened and prepared (its mask in use, its parameters tuned). Appends to
// outcome what it finds, claiming each in r.mask.
csys_status findBySeeds(road::Base& r, const uint8_t* pixels, int32_t stride, double noise, const Options& options,
                        Outcome* outcome);

}  // namespace pdfroad

#endif
