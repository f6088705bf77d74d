// Fuzzes the PDF417 road (the edge scans, the pattern drivers, the tracker, straight runs and the
// search under them, and the road's pattern check) with arbitrary images: the first two bytes
// give the width (16 to 271, wide enough for a small symbol) and the height (1 to 48: the scans'
// cost grows with the area, and 48 rows hold a short symbol tilted a few degrees), the rest the
// pixels. Both transposed and direct scans run; any status but success is a finding.
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
  options.verify = (data[1] & 0x80) == 0;
  options.singleTry = (data[0] & 1) != 0;
  const csys_status status = pdfroad::findAll(image, options).status;
  if (status != 0) {
    std::fprintf(stderr, "pdfroad::findAll returned 0x%08x\n", static_cast<unsigned>(status));
    std::abort();
  }
  cimg_imageConst_destruct(&image);
  return 0;
}
