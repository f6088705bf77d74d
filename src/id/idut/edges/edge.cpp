// Edge detection through the base detector, with the strip fallback for large windows, and
// hysteresis thresholding by run flooding.
#include "ci_id/edge.h"

#include <algorithm>
#include <initializer_list>

#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "edge_support.hpp"

namespace edgesupport {

csEdgeParams detectorParams(const cip_edgeParams& p, float suppress) {
  csEdgeParams rec;
  csEdgeParamsDefault(&rec);
  rec.gain = static_cast<float>(p.gain);
  rec.highThreshold = static_cast<float>(p.threshold);
  rec.centresOnly = static_cast<float>(p.centresOnly);
  rec.lowThreshold = 0;
  rec.suppress = suppress;
  return rec;
}

csys_status prepareOutput(cimg_image* caller, const cstd_rect32& rect, cimg_image* work) {
  cimg_image_constructUnbound(work);
  if (cimg_image_isBound(caller)) {
    cimg_image_assign(work, caller);
    return cimg_image_window(work, &rect);
  }
  csys_status st = cimg_image_assignNew(work, rect.width, rect.height);
  if (CSYS_FAILED(st)) return st;
  return cimg_image_setWindowOffset(work, rect.x, rect.y);
}

bool shrinkToOutputs(const cimg_imageConst* source, const cimg_image* a, const cimg_image* b, cstd_rect32* rect) {
  const cimg_windowConst& w = source->window;
  *rect = cstd_rect32{w.x0 + 1, w.y0 + 1, w.width - 2, w.height - 2};
  for (const cimg_image* out : {a, b}) {
    if (out == nullptr || !cimg_image_isBound(out)) continue;
    cstd_rect32 r;
    cimg_image_getWindowRect(out, &r);
    cstd_rect32_intersect(rect, &r, rect);
  }
  return rect->width > 0 && rect->height > 0;
}

}  // namespace edgesupport

using namespace edgesupport;

csys_status cip_edgeParams_init(cip_edgeParams* params) {
  CSYS_REQUIRE(params != nullptr);
  csEdgeParams rec;
  csEdgeParamsDefault(&rec);
  params->gain = rec.gain;
  params->threshold = rec.highThreshold;
  params->centresOnly = rec.centresOnly;
  return 0;
}

csys_status cip_edge_detectMagAng(const cimg_image8Const* source, const cip_edgeParams* params, cimg_image* magnitude,
                                  cimg_image* angle) {
  CSYS_REQUIRE(source != nullptr && params != nullptr && magnitude != nullptr && angle != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  cstd_rect32 rect;
  if (!shrinkToOutputs(source, magnitude, angle, &rect)) return 0;
  csys::CleanupList cleanup;
  cimg_image mag, ang;
  cimg_imageConst src;
  csys_status st = prepareOutput(magnitude, rect, &mag);
  cleanup.destructAlways<cimg_image_destruct>(&mag);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  st = prepareOutput(angle, rect, &ang);
  cleanup.destructAlways<cimg_image_destruct>(&ang);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cimg_imageConst_constructCopy(&src, source);
  cleanup.destructAlways<cimg_imageConst_destruct>(&src);
  const cstd_rect32 grown{rect.x - 1, rect.y - 1, rect.width + 2, rect.height + 2};
  if (CSYS_FAILED(st = cimg_imageConst_window(&src, &grown))) return cleanup.exit(st);
  const csEdgeParams rec = detectorParams(*params, 1.0f);
  if (CSYS_FAILED(st = csEdgeDetect(&src, &mag, &ang, nullptr, nullptr, &rec))) return cleanup.exit(st);
  mag.clientFromImage = source->clientFromImage;
  ang.clientFromImage = source->clientFromImage;
  cimg_image_assign(magnitude, &mag);
  cimg_image_assign(angle, &ang);
  return cleanup.exit(0);
}

namespace {

// The fallback when no list for the whole window can be had: a list of half the capacity
// and 4 strips, or of a quarter and 8 strips, overlapping by 4 rows. The detector's points keep
// two rows of margin, so the strips give exactly the points of one whole-window run.
csys_status detectStrips(const cimg_imageConst* source, const csEdgeParams& rec, uint32_t capacity,
                         csEdgeList** out) {
  const cimg_windowConst& w = source->window;
  csys::CleanupList cleanup;
  csEdgeList* list = nullptr;
  int32_t n = 4;
  csys_status st = csEdgeListNew(std::max<uint32_t>(1, capacity / 2), &list);
  if (st == cidut_errNoMemory) {
    n = 8;
    st = csEdgeListNew(std::max<uint32_t>(1, capacity / 4), &list);
  }
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.deleteOnFailure<csEdgeListDelete>(&list);
  if (w.height < n + 4) return cleanup.exit(cidut_errNoMemory);
  csEdgeListInit(list, 1, 0);
  uint32_t room = 0;
  csEdgeListCapacity(list, &room);
  const int32_t s = w.height / n;
  const uint32_t reserve = std::max<uint32_t>(64, static_cast<uint32_t>(static_cast<int64_t>(w.width) * s / 2));
  cimg_imageConst strip;
  cimg_imageConst_constructUnbound(&strip);
  cleanup.destructAlways<cimg_imageConst_destruct>(&strip);
  // Strip k covers rows [top, end). On short windows the first strip can be under 4 rows high;
  // the next then starts at row 0 rather than above the window, which still leaves every row
  // with its two rows of margin in exactly one strip.
  int32_t top = 0, end = w.height - (n - 1) * s;
  for (int32_t k = 0; k < n; ++k) {
    if (CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
    cimg_imageConst_assign(&strip, source);
    const cstd_rect32 r{w.x0, w.y0 + top, w.width, end - top};
    if (CSYS_FAILED(st = cimg_imageConst_window(&strip, &r))) return cleanup.exit(st);
    if (CSYS_FAILED(st = csEdgeDetect(&strip, nullptr, nullptr, list, nullptr, &rec))) return cleanup.exit(st);
    uint32_t length = 0;
    csEdgeListLen(list, &length);
    if (k + 1 < n && room - length < reserve) return cleanup.exit(cidut_errNoMemory);
    top = std::max(0, end - 4);
    end += s;
  }
  csEdgeListAssign(out, &list);
  return cleanup.exit(0);
}

}  // namespace

csys_status cip_edge_detectEdges(const cimg_image8Const* source, const cip_edgeParams* params, csEdgeList** list) {
  CSYS_REQUIRE(source != nullptr && params != nullptr && list != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  const cimg_windowConst& w = source->window;
  const csEdgeParams rec = detectorParams(*params, 1.0f);
  const uint32_t capacity =
      std::max<uint32_t>(64, static_cast<uint32_t>(static_cast<int64_t>(w.width) * w.height / 2));
  csys::CleanupList cleanup;
  csEdgeList* made = nullptr;
  csys_status st = csEdgeListNew(capacity, &made);
  if (st == cidut_errNoMemory) return cleanup.exit(detectStrips(source, rec, capacity, list));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.deleteOnFailure<csEdgeListDelete>(&made);
  csEdgeListInit(made, 1, 0);
  st = csEdgeDetect(source, nullptr, nullptr, made, nullptr, &rec);
  if (st == cidut_errNoMemory) {
    csEdgeListDelete(&made);
    return cleanup.exit(detectStrips(source, rec, capacity, list));
  }
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  csEdgeListAssign(list, &made);
  return cleanup.exit(0);
}

csys_status cip_edge_detectEdgesChains(const cimg_image8Const* source, const cip_edgeParams* params, csEdgeList** list,
                                       csEdgeChains** chains) {
  CSYS_REQUIRE(source != nullptr && params != nullptr && list != nullptr && chains != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  const cimg_windowConst& w = source->window;
  const uint32_t capacity =
      std::max<uint32_t>(64, static_cast<uint32_t>(static_cast<int64_t>(w.width) * w.height / 2));
  csys::CleanupList cleanup;
  csEdgeList* made = nullptr;
  csEdgeChains* madeChains = nullptr;
  csys_status st = csEdgeListNew(capacity, &made);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.deleteOnFailure<csEdgeListDelete>(&made);
  if (CSYS_FAILED(st = csEdgeChainsNew(&madeChains))) return cleanup.exit(st);
  cleanup.deleteOnFailure<csEdgeChainsDelete>(&madeChains);
  csEdgeListInit(made, 1, 0);
  const csEdgeParams rec = detectorParams(*params, 1.0f);
  if (CSYS_FAILED(st = csEdgeDetect(source, nullptr, nullptr, made, madeChains, &rec))) return cleanup.exit(st);
  csEdgeListAssign(list, &made);
  csEdgeChainsDelete(chains);
  *chains = madeChains;
  madeChains = nullptr;
  return cleanup.exit(0);
}
