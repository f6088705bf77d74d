// Fuzzes the 1D readers with arbitrary width sequences (each byte a width of 1 to 64 units, a
// light run first and last), and the 1D road with small arbitrary images. A read may be empty;
// every read it does make must name elements inside the line, and the road must report a
// readable image as read.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "reader/oned/oned.hpp"
#include "reader/oned/road1d.hpp"

namespace {

void fuzzWidths(const uint8_t* data, size_t size) {
  std::vector<double> widths(size | 1);  // odd count: light first and last
  for (size_t i = 0; i < widths.size(); ++i) widths[i] = 1 + (i < size ? data[i] % 64 : 0) * (i % 2 ? 0.5 : 1.0);
  widths.front() = widths.back() = 80;  // quiet zones, so the readers look at the symbol
  for (const oned::Read& r : oned::readLine(widths)) {
    if (r.firstElement < 0 || r.lastElement >= static_cast<int>(widths.size()) || r.text.empty()) std::abort();
  }
}

void fuzzImage(const uint8_t* data, size_t size) {
  if (size < 3) return;
  const int width = 8 + data[0] % 120, height = 8 + data[1] % 40;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[2 + i % (size - 2)];
  cimg_imageConst image;
  if (CSYS_FAILED(cimg_imageConst_constructWrap(&image, pixels.data(), width, height, width))) std::abort();
  if (road1d::findAll(image).status != 0) std::abort();
  cimg_imageConst_destruct(&image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  if (data[0] & 1)
    fuzzWidths(data + 1, size - 1);
  else
    fuzzImage(data + 1, size - 1);
  return 0;
}
