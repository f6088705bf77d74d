// The road's own walk of the plain Data Matrix scan: the same rows, peaks and seeds as the
// library's driver (ci_id/dmdriver.h), each seed handed to the library's search from a seed, and
// after every track the cells around its outline marked as well as the ones the search marks.
//
// The search marks the one cell of the pixel each outline point rounds to. On photographs and
// noisy scenes that leaves seeds just beside a tracked outline unmarked (a point between two
// pixels lies next to a second cell), and each of them tracks the same outline again: the road
// ran 60% longer on the photographs, and a seed beside a noisy symbol's outline found it with a
// worse outline first. So every tracked point marks all the cells of the pixels it lies between,
// and the seed's own cell too; a resumed scan then passes over them.
#ifndef IDUT_READER_DATAMATRIX_DMSCAN_HPP
#define IDUT_READER_DATAMATRIX_DMSCAN_HPP

#include <cstdint>

#include "base/cimg.h"
#include "ci_id/mask.h"
#include "ci_id/tracking.h"

namespace dmroad {

// cf_BndFindNextDMSymbol along rows (params->scanDirection 1), with the wider marking above:
// walks params->scanLines from params->firstScanLine until a search finds a symbol (its line in
// result->line) or the lines end (result->line the count). The seeds are those of the driver:
// peaks of the six-tap row response at or above 45 (33 with lowContrast) in an unmarked cell,
// from x0 + 3 while x < x0 + width - 5. Attention is polled once per line (the search polls too).
// Returns the search's or the attention check's failure as it comes.
csys_status findNextSymbol(const cimg_imageConst* image, const cid2d_trackingParams* params, const cid_mask* mask,
                           const cmath_xformLinear* maskXform, int32_t lowContrast, cimg_image* marking,
                           cid2d_trackingResult* result);

}  // namespace dmroad

#endif
