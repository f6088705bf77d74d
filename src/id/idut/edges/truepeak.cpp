// Peak images from edge points, and the true-peak operator with its fast path on the base
// detector and its generic fixed-point path.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "ci_id/edge.h"
#include "edge_support.hpp"

namespace {

using namespace edgesupport;

// A new zeroed image over the source window (origin and transform of the source), made in
// `image` (constructed here; the caller destructs it).
csys_status newLike(const cimg_imageConst* source, cimg_image* image) {
  cimg_image_constructUnbound(image);
  csys_status st = cimg_image_assignNew(image, source->window.width, source->window.height);
  if (CSYS_FAILED(st)) return st;
  cimg_image_setWindowOffset(image, source->window.x0, source->window.y0);
  image->clientFromImage = source->clientFromImage;
  return 0;
}

uint8_t signCode(float d, uint8_t magnitude, uint8_t threshold) {
  const int g = static_cast<int>(d * static_cast<float>(magnitude));  // truncation toward zero
  uint8_t code = 0;
  if (g >= threshold) code = 128;
  if (g <= -static_cast<int>(threshold)) code = 192;
  return code;
}

// The edgelet images: peak (one or two pixels per point) and, when wanted, the sign images.
csys_status edgeletPeaks(const cimg_image8Const* source, cimg_image* peak, cimg_image* xSign, cimg_image* ySign,
                         uint8_t threshold, bool pad) {
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  csys::CleanupList cleanup;
  cimg_image images[3];
  const int wanted = xSign ? 3 : 1;
  csys_status st = 0;
  for (int k = 0; k < wanted; ++k) {
    st = newLike(source, &images[k]);
    cleanup.destructAlways<cimg_image_destruct>(&images[k]);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
  }
  csEdgeList* list = nullptr;
  const cip_edgeParams params{1.0, static_cast<double>(threshold), 0.0};
  if (CSYS_FAILED(st = cip_edge_detectEdges(source, &params, &list))) return cleanup.exit(st);
  cleanup.destructAlways<csEdgeListDelete>(&list);
  const int32_t height = source->window.height;
  int32_t* rows = nullptr;
  st = csys_memory_alloc_internal(sizeof(int32_t) * static_cast<size_t>(height > 0 ? height : 1),
                                  reinterpret_cast<void**>(&rows));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&rows);
  const int32_t stride = images[0].window.stride;  // the same for all three new images
  for (int32_t j = 0; j < height; ++j) rows[j] = j * stride;
  uint32_t length = 0;
  csEdgeListLen(list, &length);
  const csEdgePoint* points = csEdgeListPoints(list);
  for (uint32_t k = 0; k < length; ++k) {
    const csEdgePoint& p = points[k];
    const int32_t at = rows[p.row] + p.column;
    images[0].window.pixels[at] = p.magnitude;
    if (pad) images[0].window.pixels[at + 1] = p.magnitude;
    if (wanted == 3) {
      if (!(std::fabs(p.dx) <= 1.0f && std::fabs(p.dy) <= 1.0f)) cstd_assert_(__LINE__);
      images[1].window.pixels[at] = signCode(p.dx, p.magnitude, threshold);
      images[2].window.pixels[at] = signCode(p.dy, p.magnitude, threshold);
    }
  }
  cimg_image_assign(peak, &images[0]);
  if (wanted == 3) {
    cimg_image_assign(xSign, &images[1]);
    cimg_image_assign(ySign, &images[2]);
  }
  return cleanup.exit(0);
}

}  // namespace

csys_status cf_GetTrueEdgePeakFromEdgelets(const cimg_image8Const* source, cimg_image* peak, uint8_t threshold) {
  CSYS_REQUIRE(source != nullptr && peak != nullptr);
  return edgeletPeaks(source, peak, nullptr, nullptr, threshold, true);
}

csys_status cf_GetTrueEdgePeakFromEdgelets_noPadding(const cimg_image8Const* source, cimg_image* peak,
                                                     uint8_t threshold) {
  CSYS_REQUIRE(source != nullptr && peak != nullptr);
  return edgeletPeaks(source, peak, nullptr, nullptr, threshold, false);
}

csys_status cf_GetTrueEdgePeakXYFromEdgelets(const cimg_image8Const* source, cimg_image* peak, cimg_image* xSign,
                                             cimg_image* ySign, uint8_t threshold) {
  CSYS_REQUIRE(source != nullptr && peak != nullptr && xSign != nullptr && ySign != nullptr);
  return edgeletPeaks(source, peak, xSign, ySign, threshold, true);
}

// ---- the true-peak operator ------------------------------------------------------------------

namespace truepeak {
csys_status generic(const cimg_imageConst* source, cimg_image* peak, uint8_t threshold, uint32_t* count);
}

namespace {

// Fast path: the base detector's suppressed points at their own pixels.
csys_status truepeakFast(const cimg_imageConst* source, cimg_image* peak, uint8_t threshold, uint32_t* count) {
  if (cprt_isOptimizationInhibited("cip_truepeak8")) return cidut_errNotOptimized;
  const cimg_windowConst& w = source->window;
  csys::CleanupList cleanup;
  csEdgeList* list = nullptr;
  cleanup.destructAlways<csEdgeListDelete>(&list);
  const csEdgeParams rec = detectorParams(cip_edgeParams{1.0, static_cast<double>(threshold), 1.0}, 1.0f);
  // Half the pixels hold every peak of ordinary images; strong noise can make more, and then a
  // list with room for every pixel is tried once.
  const int64_t pixels = int64_t{w.width} * w.height;
  csys_status st = cidut_errNoMemory;
  for (int64_t capacity : {std::max<int64_t>(64, pixels / 2), std::max<int64_t>(64, pixels)}) {
    if (st != cidut_errNoMemory) break;
    csEdgeListDelete(&list);
    if (CSYS_FAILED(st = csEdgeListNew(static_cast<uint32_t>(capacity), &list))) continue;
    csEdgeListInit(list, 1, 0);
    st = csEdgeDetect(source, nullptr, nullptr, list, nullptr, &rec);
  }
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cip_pelSet8(peak, 0);
  uint32_t length = 0;
  csEdgeListLen(list, &length);
  const csEdgePoint* points = csEdgeListPoints(list);
  for (uint32_t k = 0; k < length; ++k)  // the peak window starts one pixel in from the source's
    peak->window.pixels[static_cast<ptrdiff_t>(points[k].row - 1) * peak->window.stride + points[k].column - 1] =
        points[k].magnitude;
  *count = length;
  return cleanup.exit(0);
}

}  // namespace

csys_status cip_truepeak8(const cimg_image8Const* source, cimg_image* peak, uint8_t threshold, uint32_t* count) {
  CSYS_REQUIRE(source != nullptr && peak != nullptr && count != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  cstd_rect32 rect;
  if (!shrinkToOutputs(source, peak, nullptr, &rect)) return 0;
  csys::CleanupList cleanup;
  cimg_image out;
  cimg_imageConst src;
  csys_status st = prepareOutput(peak, rect, &out);
  cleanup.destructAlways<cimg_image_destruct>(&out);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cimg_imageConst_constructCopy(&src, source);
  cleanup.destructAlways<cimg_imageConst_destruct>(&src);
  const cstd_rect32 grown{rect.x - 1, rect.y - 1, rect.width + 2, rect.height + 2};
  if (CSYS_FAILED(st = cimg_imageConst_window(&src, &grown))) return cleanup.exit(st);
  uint32_t peaks = 0;
  st = truepeakFast(&src, &out, threshold, &peaks);
  if (CIDUT_IS_NOT_OPTIMIZED(st)) st = truepeak::generic(&src, &out, threshold, &peaks);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (!cimg_image_isBound(peak)) out.clientFromImage = source->clientFromImage;
  cimg_image_assign(peak, &out);
  *count = peaks;
  return cleanup.exit(0);
}
