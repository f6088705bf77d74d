// Fuzzes the binariser with arbitrary small images and settings: the first bytes choose the
// size, method, tiles, reference, reduction, contrast, offset and window; the rest are pixels.
// A status outside the documented ones, an output pixel other than 0 and 255, or an output
// written on a refusal is a finding.
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.hpp"
#include "ci_id/binarize.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t next() { return at < size ? data[at++] : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size};
  const int W = in.next() % 97, H = in.next() % 97;
  cidut_binarizeParams p;
  cidut_binarizeParams_construct(&p);
  p.method = in.next() % 7;  // 6 is refused
  p.regionMode = in.next() % 4;
  p.tilesX = in.next() % 40;
  p.tilesY = in.next() % 40;
  p.minRange = in.next();
  p.reduction = in.next() % 70 - 2;
  p.minContrast = in.next();
  p.offset = in.next();
  p.windowSize = in.next() % 100;
  p.window = cstd_rect32{in.next() % 40 - 5, in.next() % 40 - 5, in.next() % 50, in.next() % 50};
  if (in.next() % 2) {
    p.divisions = in.next() % 20;
    const cmath_shapeAffineRectPoints pts{{in.next() - 20.0, in.next() - 20.0},
                                          {in.next() - 20.0, in.next() - 20.0},
                                          {in.next() - 20.0, in.next() - 20.0}};
    cmath_shapeAffineRect_initPoints(&p.region, &pts);
  }
  // At least one byte, so that even an empty window wraps real memory (a null pointer is
  // refused by the wrap and would leave the source unset).
  std::vector<uint8_t> pixels(std::max<size_t>(1, static_cast<size_t>(W) * H));
  for (auto& v : pixels) v = in.next();
  cimg_imageConst source;
  check(cimg_imageConst_constructWrap(&source, pixels.data(), W, H, W) == 0);
  cimg_image out, mask;
  cimg_image_constructUnbound(&out);
  cimg_image_constructUnbound(&mask);
  const csys_status st = cidut_binarizeImage(&out, nullptr, nullptr, &mask, &source, &p);
  check(st == 0 || st == cidut_errBadArgument);
  if (st == 0) {
    check(out.window.width == W && out.window.height == H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const uint8_t v = out.window.pixels[y * out.window.stride + x];
        check(v == 0 || v == 255);
      }
    check(p.method == 4 || !cimg_image_isBound(&mask));
  } else {
    check(!cimg_image_isBound(&out) && !cimg_image_isBound(&mask));
  }
  cimg_image_destruct(&out);
  cimg_image_destruct(&mask);
  cimg_imageConst_destruct(&source);
  return 0;
}
