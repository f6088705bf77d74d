// The PDF417 road's second look at a find. The driver tracks the outline of the bars around its
// seed, and on a sharp image the bars of a symbol do not all touch: the outline is that of a
// block of them. A grey opening (closing, for light bars) wider than the widest space merges
// the symbol into one quadrilateral blob, whose outline the search then tracks from the blob's
// edge on the seed's row.
#ifndef IDUT_READER_PDF417_PDFMERGE_HPP
#define IDUT_READER_PDF417_PDFMERGE_HPP

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/cimg.h"
#include "ci_id/mask.h"
#include "ci_id/tracking.h"

namespace pdfroad {

// Merged copies of one search image, made on first use at each kernel size and polarity and
// kept for the rest of the scan, each with a marking image of its own.
class MergedViews {
 public:
  explicit MergedViews(const cimg_imageConst& image);
  ~MergedViews();
  MergedViews(const MergedViews&) = delete;
  MergedViews& operator=(const MergedViews&) = delete;

  // Grows the driver's find at seed (on row, whose edges the driver was given) into the whole
  // symbol: the module from the pattern's narrow elements at the seed, the merged copy for it,
  // a seed on the merged blob's edge to the left of the pattern and the search from it. On
  // success *grown says whether the search located a symbol, which result then holds; corners
  // then receives its outline (around it, search-image pixels), each side refitted to the
  // merged blob's edge along its length where that edge shows clearly (*fitted set).
  csys_status grow(const cid2d_trackingParams& params, const std::vector<int16_t>& edges, int32_t row,
                   int32_t seedX, const cid_mask* mask, const cmath_xformLinear* maskXform, int32_t singleTry,
                   cid2d_trackingResult* result, std::array<cmath_vect, 4>* corners, bool* fitted, bool* grown);

 private:
  struct View;
  csys_status view(int32_t operation, int32_t kernel, View** out);

  const cimg_imageConst& image_;
  std::vector<std::unique_ptr<View>> views_;
};

}  // namespace pdfroad

#endif
