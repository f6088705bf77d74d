// Where a filter writes: into a bound destination under the output rectangle, or into new
// pixels handed to an unbound destination at the end. Shared by the base filters.
#ifndef IDUT_CIP_OUTPUT_HPP
#define IDUT_CIP_OUTPUT_HPP

#include "base/cimg.h"
#include "base/cip_pel.h"

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

}  // namespace cip

#endif
