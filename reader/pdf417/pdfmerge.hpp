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
// kept for the rest of the scan, each with a marking image of its own. On a large image a copy
// covers a band of rows around the line being scanned, remade further down as the scan moves
// on, so that all of them together take no more than about one byte a pixel of the image (at
// least 32 MB); a merged outline that runs out of its band is followed again on a copy made
// for it alone over every row a symbol on that line could reach (params.maxSide either side).
// Within a band the copy is exactly the whole-image one.
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
  // The kept copy for the operation and kernel, its band moved where needed to hold row and a
  // third of a band either side.
  csys_status view(int32_t operation, int32_t kernel, int32_t row, View** out);
  csys_status makeBand(View& v, int32_t first, int32_t rows);
  csys_status tallView(int32_t operation, int32_t kernel, int32_t row, int32_t reach, View** out);
  csys_status search(View& v, const cid2d_trackingParams& params, cid2d_trackingSeed seed, const cid_mask* mask,
                     const cmath_xformLinear* maskXform, int32_t singleTry, cid2d_trackingResult* result,
                     bool* leftBand);

  const cimg_imageConst& image_;
  int32_t bandRows_;  // rows of a band; the image's height when copies are whole
  std::vector<std::unique_ptr<View>> views_;
  std::unique_ptr<View> tall_;  // the copy for outlines the bands cut
};

}  // namespace pdfroad

#endif
