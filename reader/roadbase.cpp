#include "reader/roadbase.hpp"

namespace road {

namespace {
// The largest working memory the tracking drivers ask for, in bytes.
constexpr size_t kScratchBytes = 229320;
}  // namespace

Base::~Base() {
  if (haveResult) cid2d_trackingResult_destruct(&result);
  if (haveMask) cid_mask_destruct(&ownMask);
  if (haveFine) cimg_imageConst_destruct(&fine);
  if (haveManager) cid2d_imageMemoryManager_destruct(&manager);
}

csys_status Base::open(const cimg_imageConst& image) {
  csys_status st = cid2d_imageMemoryManager_construct(&manager, &image, &image);
  if (CSYS_FAILED(st)) return st;
  haveManager = true;
  cimg_imageConst_constructUnbound(&fine);
  haveFine = true;
  return cid2d_imageMemoryManager_getFineImage(&manager, nullptr, &fine);
}

csys_status Base::prepare(cid_mask* callerMask, const std::function<void(cid2d_trackingParams&)>& tune) {
  mask = callerMask;
  if (mask == nullptr) {
    csys_status st = cid_mask_construct(&ownMask, nullptr);
    if (CSYS_FAILED(st)) return st;
    haveMask = true;
    mask = &ownMask;
  }
  csys_status st = cid2d_trackingResult_construct(&result);
  if (CSYS_FAILED(st)) return st;
  haveResult = true;
  cid2d_trackingParams_init(&params);
  if (tune) tune(params);
  constexpr size_t words = (kScratchBytes + 3) / 4;
  scratch = std::make_unique_for_overwrite<int32_t[]>(words);
  params.scratch = reinterpret_cast<uint8_t*>(scratch.get());
  params.scratchSize = static_cast<uint32_t>(words * sizeof(int32_t));
  params.scanDirection = 1;
  return 0;
}

csys_status claim(cid_mask* mask, const std::array<cmath_vect, 4>& corners, bool parallelogram, cid_region* region) {
  cmath_shapeAffineRectPoints points{corners[0], corners[1], corners[3]};
  cmath_shapeAffineRect rect;
  cmath_shapeAffineRect_initPoints(&rect, &points);
  cid_region local;
  cid_region* r = region != nullptr ? region : &local;
  csys_status st = cid_region_initAffineRect(r, &rect, parallelogram ? nullptr : &corners[2]);
  if (CSYS_FAILED(st)) return st;
  return cid_mask_appendRegion(mask, r, 0.0);
}

}  // namespace road
