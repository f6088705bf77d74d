// What the Data Matrix and PDF417 roads build alike around their driver calls: the memory
// manager and the fine image it normalises, the mask of claimed symbols, the driver's result and
// the tracking parameters with their scratch, and the claim of a located symbol in the mask.
#ifndef IDUT_READER_ROADBASE_HPP
#define IDUT_READER_ROADBASE_HPP

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/cimg.h"
#include "ci_id/imagememory.h"
#include "ci_id/mask.h"
#include "ci_id/region.h"
#include "ci_id/tracking.h"

namespace road {

// Built in two steps so that a road can do its own work on the fine image in between (and leave
// early without building the rest); destructs what was built, whatever way the road leaves.
struct Base {
  cid2d_imageMemoryManager manager{};
  bool haveManager = false;
  cimg_imageConst fine{};  // the image in a window at (0, 0) with an identity client transform
  bool haveFine = false;
  cid_mask ownMask{};
  bool haveMask = false;
  cid2d_trackingResult result{};
  bool haveResult = false;
  cid_mask* mask = nullptr;  // the mask in use: the caller's, or ownMask
  cid2d_trackingParams params{};
  // The driver's working memory, which params points into. Left unfilled: the drivers read only
  // what they wrote there, and filling its 229 KB for every image was a few per cent of a search.
  std::unique_ptr<int32_t[]> scratch;

  Base() = default;
  Base(const Base&) = delete;
  Base& operator=(const Base&) = delete;
  ~Base();

  // The manager over image and the fine image from it.
  csys_status open(const cimg_imageConst& image);
  // The mask in use (callerMask, or one of the road's own when it is null), the result, and the
  // parameters: defaults, then tune (may be empty), then the road's scratch and a forward scan.
  csys_status prepare(cid_mask* callerMask, const std::function<void(cid2d_trackingParams&)>& tune);
};

// Appends a located symbol to mask. corners: Po, Px, Popp, Py around the outline; the claim is
// the affine rectangle of Po, Px and Py, bent to Popp when the symbol is not a parallelogram.
// region (may be null) receives the claim.
csys_status claim(cid_mask* mask, const std::array<cmath_vect, 4>& corners, bool parallelogram,
                  cid_region* region = nullptr);

}  // namespace road

#endif
