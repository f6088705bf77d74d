// Fuzzes the 1D readers with arbitrary width sequences (each byte a width of 1 to 64 units, a
// light run first and last) both through readLine and at every start of each single reader
// (the add-on after every bar too), DataBar's and DataBar expanded's character values with the
// bytes as module counts, DataBar expanded's element strings with the bytes as character values,
// the EAN grid on the bytes as a grey profile, the printed-character interpretations and the UPC-E
// expansion with the bytes as text, the extremes' edges with the bytes as a grey profile, and
// the 1D road with small arbitrary images. A read may be empty;
// every read it does make must name elements inside the line, and the road must report a
// readable image as read.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <string>

#include "idut/read.hpp"
#include "reader/oned/oned.hpp"
#include "reader/oned/readline.hpp"
#include "reader/oned/addon.hpp"
#include "reader/oned/codabar.hpp"
#include "reader/oned/code93.hpp"
#include "reader/oned/databar.hpp"
#include "reader/oned/databarexp.hpp"
#include "reader/oned/eangrid.hpp"
#include "reader/oned/extrema.hpp"
#include "reader/oned/fullascii.hpp"
#include "reader/oned/upce.hpp"
#include "reader/oned/road1d.hpp"

namespace {

void fuzzWidths(const uint8_t* data, size_t size) {
  std::vector<double> widths(size | 1);  // odd count: light first and last
  for (size_t i = 0; i < widths.size(); ++i) widths[i] = 1 + (i < size ? data[i] % 64 : 0) * (i % 2 ? 0.5 : 1.0);
  widths.front() = widths.back() = 80;  // quiet zones, so the readers look at the symbol
  const int n = static_cast<int>(widths.size());
  for (const oned::Read& r : oned::readLine(widths)) {
    if (r.firstElement < 0 || r.lastElement >= n || r.text.empty()) std::abort();
  }
  const oned::Options options;
  for (int start = 1; start < n; start += 2) {
    oned::Read r;
    if (oned::readUpcE(widths, start, r) && (r.text.size() != 8 || r.lastElement >= n)) std::abort();
    if (oned::readCode93(widths, start, r) && r.lastElement >= n) std::abort();
    if (oned::readCodabar(widths, start, options, r) && r.lastElement >= n) std::abort();
    if (oned::readDataBar(widths, start, r) && (r.lastElement >= n || r.text.size() != 19)) std::abort();
    if (oned::readDataBarExpanded(widths, start, r) && (r.lastElement >= n || r.text.compare(0, 3, "]e0") != 0))
      std::abort();
    const std::string addOn = oned::readAddOn(widths, start, 1 + widths[static_cast<size_t>(start)] / 3);
    if (!addOn.empty() && addOn.size() != 2 && addOn.size() != 5) std::abort();
  }
}

void fuzzText(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)oned::decodeFullAscii(text);
  if (const auto code32 = oned::decodeCode32(text); code32 && code32->size() != 10) std::abort();
  (void)oned::isPzn(text);
  // The bytes as DataBar module counts: a value, when there is one, lies inside its character set.
  if (size >= 8) {
    std::array<int, 8> counts{};
    for (int k = 0; k < 8; ++k) counts[k] = data[k] % 10;
    for (bool outer : {false, true})
      if (const int v = oned::dataBarCharacterValue(counts, outer); v < -1 || v >= (outer ? 2841 : 1597)) std::abort();
    if (const int v = oned::dataBarExpandedValue(counts); v < -1 || v >= 4096) std::abort();
  }
  // The bytes as DataBar expanded character values (two bytes each, 12 bits): element strings,
  // when they decode, are not empty.
  std::vector<int> values;
  for (size_t i = 0; i + 1 < size; i += 2) values.push_back((data[i] << 8 | data[i + 1]) & 0xFFF);
  std::string elements;
  for (int characters : {static_cast<int>(values.size()) + 1, 22})
    if (oned::decodeDataBarExpandedBits(values, characters, elements) && elements.empty()) std::abort();
  const std::string upca = idut::expandUpce(text);
  if (!upca.empty() && upca.size() != 12) std::abort();
  std::vector<double> profile(size);
  for (size_t i = 0; i < size; ++i) profile[i] = data[i];
  std::vector<double> dark, light;
  for (const road1d::LineEdge& e : oned::extremaEdges(profile)) {
    if (!(e.position >= 0 && e.position <= static_cast<double>(size))) std::abort();
    (e.rising ? light : dark).push_back(e.position);
  }
  // The EAN grid on the bytes as a profile, its ends at the extremes' edges and at the bytes'
  // first two values read as sample positions.
  for (const oned::GridRead& r : oned::readEanOnGrid(profile, dark, light))
    if (r.read.text.size() < 12 || !(r.start < r.end)) std::abort();
  if (size >= 2) {
    oned::GridRead r;
    if (oned::readEanOnGrid(profile, data[0], data[0] + 2.0 * data[1], r) && r.read.text.size() < 12) std::abort();
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
  else if (data[0] & 2)
    fuzzText(data + 1, size - 1);
  else
    fuzzImage(data + 1, size - 1);
  return 0;
}
