// Fuzzes the Data Matrix road (and the tracker, seed finders, straight runs and searches under
// it) with arbitrary small images: the first two bytes give the width and height (1 to 64: the
// searches' cost grows with the area, and a 64 x 64 image still holds a symbol of 3-pixel
// modules with its quiet zone), the rest the pixels. Both drivers run; any status but success
// is a finding.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "reader/datamatrix/dmroad.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int width = 1 + data[0] % 64, height = 1 + data[1] % 64;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[2 + i % (size - 2)];
  cimg_imageConst image;
  if (CSYS_FAILED(cimg_imageConst_constructWrap(&image, pixels.data(), width, height, width))) std::abort();
  for (bool adaptive : {false, true}) {
    dmroad::Options options;
    options.adaptive = adaptive;
    options.lowContrast = (data[0] & 0x80) != 0;
    if (dmroad::findAll(image, options).status != 0) std::abort();
  }
  cimg_imageConst_destruct(&image);
  return 0;
}
