// Fuzzes the PDF417 road (the pattern lines over rows and columns, the columns and their
// outlines, lone and paired, the pattern check, and the reading of every candidate with its
// outline) with arbitrary images: the first two bytes give the width (16 to 271, wide enough for
// a small symbol) and the height (1 to 48: the cost grows with the area, and 48 rows hold a short
// symbol tilted a few degrees), the rest the pixels. Any status but success is a finding, and so
// is a symbol taken with corners that are not finite.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "reader/pdf417/pdfroad.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int width = 16 + data[0], height = 1 + data[1] % 48;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[2 + i % (size - 2)];
  cimg_imageConst image;
  if (CSYS_FAILED(cimg_imageConst_constructWrap(&image, pixels.data(), width, height, width))) std::abort();
  pdfroad::Options options;
  options.decode = (data[1] & 0x80) == 0;
  options.rowStep = 1 + (data[0] & 1);
  const pdfroad::Outcome out = pdfroad::findAll(image, options);
  if (out.status != 0) {
    std::fprintf(stderr, "pdfroad::findAll returned 0x%08x\n", static_cast<unsigned>(out.status));
    std::abort();
  }
  for (const pdfroad::Symbol& s : out.symbols)
    for (const cmath_vect& c : s.corners)
      if (!std::isfinite(c.x) || !std::isfinite(c.y)) {
        std::fprintf(stderr, "a symbol with corners that are not finite\n");
        std::abort();
      }
  cimg_imageConst_destruct(&image);
  return 0;
}
