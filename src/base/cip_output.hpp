// Where a filter writes: into a bound destination under the output rectangle, or into new
// pixels handed to the destination at the end. Shared by the base filters and the pixel
// operations.
#ifndef IDUT_CIP_OUTPUT_HPP
#define IDUT_CIP_OUTPUT_HPP

#include "base/cimg.h"
#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"

namespace cip {

// Resolves the image that receives a result of rectangle `region` (image coordinates).
// out is always constructed (the caller destructs it) and windowed to the region; *fresh tells
// whether it holds new pixels that finish() must hand to the destination.
inline csys_status prepareOutput(const cimg_imageConst* source, const cimg_image* destination,
                                 const cstd_rect32& region, cimg_image* out, bool* fresh) {
  *fresh = !cimg_image_isBound(destination);
  if (!*fresh) {
    cstd_rect32 window;
    cimg_image_getWindowRect(destination, &window);
    cimg_image_constructCopy(out, destination);
    if (!cstd_rect32_containsRect(&window, &region)) return csys_errBadArgument;
    if (CSYS_FAILED(cip_pelfunc_checkMemoryOverlap(source, destination))) return cip_errMemoryOverlap;
    return cimg_image_window(out, &region);
  }
  cimg_image_constructUnbound(out);
  csys_status st = cimg_image_assignNew(out, region.width, region.height);
  if (CSYS_FAILED(st)) return st;
  cimg_image_setWindowOffset(out, region.x, region.y);
  return cimg_image_setLinearClientFromImageXform(out, &source->clientFromImage);
}

// New pixels of rect (image coordinates) with the given client transform, filled by
// fill(window), then handed to out, which is left alone when they cannot be made. fill may read
// pixels that out holds until then.
template <class Fill>
csys_status makeInto(cimg_image* out, const cstd_rect32& rect, const cmath_xformLinear& clientFromImage, Fill fill) {
  csys::CleanupList cleanup;
  cimg_image made;
  cimg_image_constructUnbound(&made);
  cleanup.destructAlways<cimg_image_destruct>(&made);
  csys_status st = cimg_image_assignNew(&made, rect.width, rect.height);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cimg_image_setWindowOffset(&made, rect.x, rect.y);
  cimg_image_setLinearClientFromImageXform(&made, &clientFromImage);
  fill(made.window);
  cimg_image_assign(out, &made);
  return cleanup.exit(0);
}

}  // namespace cip

#endif
