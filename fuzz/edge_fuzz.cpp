// Fuzzes the edge operations with arbitrary small images: the first two bytes give the width
// and height (1 to 64, which keeps a run of every operation on the image cheap), the rest the
// pixels, and the last four bytes also the thresholds. Every operation runs on the image; a
// status other than the documented ones, a chain that misses or repeats a point, or a
// hysteresis count that disagrees with its image is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "ci_id/edge.h"
#include "ci_id/edgedetectid.h"
#include "ci_id/threshold.h"

namespace {

int inhibitAll(const char*) { return 1; }

void pointsAndChains(const cimg_imageConst& image, const cip_edgeParams& params) {
  csEdgeList* list = nullptr;
  csEdgeChains* chains = nullptr;
  const csys_status st = cip_edge_detectEdgesChains(&image, &params, &list, &chains);
  check(st == 0 || st == cidut_errNoMemory);  // noise can outgrow a list of half the pixels
  if (st != 0) {
    check(list == nullptr && chains == nullptr);
    return;
  }
  uint32_t length = 0;
  csEdgeListLen(list, &length);
  std::vector<int> seen(length, 0);
  for (uint32_t c = 0; c < csEdgeChainsCount(chains); ++c)
    for (uint32_t k = 0; k < csEdgeChainLen(chains, c); ++k) {
      const uint32_t i = csEdgeChainPoint(chains, c, k);
      check(i < length && seen[i]++ == 0);
      const float x = csEdgeX(list, i), y = csEdgeY(list, i);
      check(x >= csEdgePi(list, i) - 0.5f && x <= csEdgePi(list, i) + 0.5f);
      check(y >= csEdgePj(list, i) - 0.5f && y <= csEdgePj(list, i) + 0.5f);
    }
  for (int n : seen) check(n == 1);
  csEdgeListDelete(&list);
  csEdgeChainsDelete(&chains);
  list = nullptr;
  const csys_status plain = cip_edge_detectEdges(&image, &params, &list);
  check(plain == 0 || plain == cidut_errNoMemory);
  csEdgeListDelete(&list);
}

void hysteresis(const cimg_imageConst& image, uint8_t low, uint8_t high, uint8_t background, bool connect) {
  cimg_image out;
  cimg_image_constructUnbound(&out);
  uint32_t count = 0;
  const csys_status st = cip_edge_hysteresisThreshold(&image, &out, low, high, &count, -1, background, 255, connect);
  const bool refused = low > high || (connect && background >= low);
  check(st == (refused ? cidut_errBadArgument : 0));
  if (st == 0) {
    uint32_t set = 0;
    for (int y = 0; y < out.window.height; ++y)
      for (int x = 0; x < out.window.width; ++x) set += out.window.pixels[y * out.window.stride + x] == 255;
    check(set == count);
  }
  cimg_image_destruct(&out);
}

void imagesOut(const cimg_imageConst& image, uint8_t threshold) {
  cimg_image a, b, c;
  for (cimg_image* i : {&a, &b, &c}) cimg_image_constructUnbound(i);
  cip_edgeParams params;
  cip_edgeParams_init(&params);
  check(cip_edge_detectMagAng(&image, &params, &a, &b) == 0);
  const csys_status peaks = cf_GetTrueEdgePeakXYFromEdgelets(&image, &a, &b, &c, threshold);
  check(peaks == 0 || peaks == cidut_errNoMemory);
  uint32_t count = 0;
  for (bool generic : {false, true}) {
    cprt_isOptimizationInhibitedFP = generic ? &inhibitAll : nullptr;
    check(cip_truepeak8(&image, &c, threshold, &count) == 0);
    cprt_isOptimizationInhibitedFP = nullptr;
  }
  for (int kernel : {2, 3}) check(cfEdgeDetectIDMagAng(&image, &a, &b, kernel & 1, threshold, kernel) == 0);
  double sharpness = -1;
  check(cidut_getImageSharpnessFromSymbolRegion_(&image, threshold & 1, &sharpness) == 0);
  check(sharpness >= 0 && sharpness <= 1);
  cid_thresholdResult otsu;
  check(cid_threshold(&image, &otsu) == 0 && otsu.isValid == 1);
  for (cimg_image* i : {&a, &b, &c}) cimg_image_destruct(i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const int width = 1 + data[0] % 64, height = 1 + data[1] % 64;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[2 + i % (size - 2)];
  const uint8_t low = data[size - 1], high = data[size - 2], background = data[size - 3], threshold = data[size - 4];
  cimg_imageConst image;
  check(cimg_imageConst_constructWrap(&image, pixels.data(), width, height, width) == 0);
  const cip_edgeParams params{1.0, static_cast<double>(threshold % 64), static_cast<double>(data[size - 3] & 1)};
  pointsAndChains(image, params);
  for (bool connect : {false, true}) hysteresis(image, low, high, background % 32, connect);
  imagesOut(image, threshold % 64);
  cimg_imageConst_destruct(&image);
  return 0;
}
