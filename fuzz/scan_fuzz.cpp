// Fuzzes the scanning core with arbitrary shapes through small arbitrary images: the input picks
// the window, the margins, a line, segment or ray in fixed point, the gradient direction and the
// threshold; the rest are pixels. The clip must land on usable pixels, the edge scan must return
// a documented status and leave its outputs alone when it fails, every peak must lie on the
// clipped segment and map back into the window, and the peak detector fed sample by sample must
// agree with the one-call detection of the same profile.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_check.hpp"
#include "ci_id/peakdetect.h"
#include "ci_id/scanclip.h"
#include "ci_id/scanwalk.h"

namespace {

using fuzz::Bytes;

struct Peaks {
  Peaks() { cstd_vector_cidc_peakIDFixedX_4_constructEmpty(&v); }
  ~Peaks() { cstd_vector_cidc_peakIDFixedX_4_destruct(&v); }
  uint32_t size() const {
    uint32_t n = 0;
    cstd_vector_cidc_peakIDFixedX_4_getSize(&v, &n);
    return n;
  }
  const cidc_peakIDFixedX_4* begin() const { return static_cast<const cidc_peakIDFixedX_4*>(v.base.begin); }
  cstd_vector_cidc_peakIDFixedX_4 v;
};

// Any shape the initialisers make, with ends and directions up to a window beyond the image.
bool makeShape(Bytes& in, int width, int height, cidc_scanLine* line, cidc_scanLineSeg* seg, cidc_scanRay* ray,
               cidc_scanShape* shape) {
  const uint32_t kind = in.next() % 3;
  auto coordinate = [&](int size) { return static_cast<int64_t>(in.next16s() % (32 * size + 64)); };
  const cidc_vect64_4 a{coordinate(width), coordinate(height)}, b{coordinate(width), coordinate(height)};
  cidc_unitDir16 dir;
  if (cidc_unitDir16_initVect(&dir, in.next16s(), in.next16s()) != 0) return false;
  if (cidc_scanLine_initPointDir(line, &a, &dir) != 0) return false;
  if (kind == 0) return cidc_scanShape_initScanLine(shape, line) == 0;
  if (kind == 1) {
    const cidc_vect64_4 ends[2] = {a, b};
    return cidc_scanLineSeg_initPoints(seg, ends, nullptr) == 0 && cidc_scanShape_initScanLineSeg(shape, seg) == 0;
  }
  return cidc_scanRay_initPointDir(ray, &a, &dir, nullptr) == 0 && cidc_scanShape_initScanRay(shape, ray) == 0;
}

void scanImage(Bytes& in) {
  const int width = 1 + static_cast<int>(in.next() % 48), height = 1 + static_cast<int>(in.next() % 48);
  const int marginX = static_cast<int>(in.next() % 4), marginY = static_cast<int>(in.next() % 4);
  cidc_windowROI roi;
  if (cidc_windowROI_initCorner(&roi, width, height, 0, 0, marginX, marginY) != 0) return;
  cidc_scanLine line;
  cidc_scanLineSeg seg;
  cidc_scanRay ray;
  cidc_scanShape shape;
  if (!makeShape(in, width, height, &line, &seg, &ray, &shape)) return;
  cidc_edgeScanParams params{static_cast<int32_t>(in.next() * 8)};
  const int16_t gradient[2] = {static_cast<int16_t>(in.next16s() % 80), static_cast<int16_t>(in.next16s() % 80)};

  cidc_scanLineSeg clipped;
  check(cidc_scanShape_clip(&shape, &roi, &clipped) == 0);
  if (!clipped.isDegenerate)
    for (const auto& p : clipped.endPixel)
      check(p[0] >= roi.colBegin && p[0] < roi.colEnd && p[1] >= roi.rowBegin && p[1] < roi.rowEnd);

  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (uint8_t& p : pixels) p = static_cast<uint8_t>(in.next());
  cimg_imageConst image;
  check(cimg_imageConst_constructWrap(&image, pixels.data(), width, height, width) == 0);
  Peaks peaks;
  cidc_scanLineSeg out;
  out.isDegenerate = 7;
  const csys_status st = cidc_runEdgeScan(&image, &roi, &params, &shape, gradient, &peaks.v, &out);
  check(st == 0 || st == cidut_errBadArgument);
  if (st != 0) {
    check(peaks.size() == 0 && out.isDegenerate == 7);
  } else {
    check(out.isDegenerate == clipped.isDegenerate);
    for (uint32_t i = 0; i < peaks.size(); ++i) {
      const cidc_peakIDFixedX_4& p = peaks.begin()[i];
      check(p.position >= out.endProj[0][0] - 16 && p.position <= out.endProj[1][0] + 16);
      double at[2];
      check(cidc_convertPeakToImage(p.position, &out, roi.origin, at) == 0);
      check(at[0] >= -1.5 && at[0] <= width + 1.5 && at[1] >= -1.5 && at[1] <= height + 1.5);
    }
  }
  cimg_imageConst_destruct(&image);
}

// The same profile detected in one call and sample by sample.
void detectProfile(Bytes& in) {
  const int32_t threshold = static_cast<int32_t>(in.next());
  std::vector<int32_t> profile;
  profile.reserve(400);  // a buffer even for an empty profile
  while (in.at < in.size && profile.size() < 400) profile.push_back(static_cast<int32_t>(in.next()));
  const int32_t n = static_cast<int32_t>(profile.size());
  Peaks whole, steps;
  check(cidc_runEdgeScanPeakDetection(&n, profile.data(), &threshold, &whole.v) == 0);
  if (n >= 3) {
    cidc_peakDetectState state;
    check(cidc_peakDetectState_init(&state, &steps.v, profile[2] - profile[0], n) == 0);
    for (int32_t i = 1; i + 2 < n; ++i)
      check(cidc_peakDetectState_detect(&state, static_cast<uint8_t>(profile[i + 1]), static_cast<uint8_t>(profile[i - 1]),
                                        static_cast<int16_t>(profile[i + 2] - profile[i]), threshold, 0, 0, 0) == 0);
    check(cidc_peakDetectState_finish(&state, &steps.v) == 0);
  }
  check(whole.size() == steps.size());
  for (uint32_t i = 0; i < whole.size(); ++i)
    check(whole.begin()[i].position == steps.begin()[i].position && whole.begin()[i].value == steps.begin()[i].value);
  int32_t smallest = -1, median = -1;
  check(cidc_peakIDFixedX_4_getContrastStats(whole.begin(), whole.begin() + whole.size(), 1, &smallest, &median) == 0);
  check(smallest >= 0 && smallest <= median);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Bytes in{data + 1, size - 1};
  if (data[0] % 4 == 0)
    detectProfile(in);
  else
    scanImage(in);
  return 0;
}
