// The 1D readers on element widths made from libzint's bars: distorted, reversed, corrupted and
// truncated lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "reader/oned/oned.hpp"
#include "scenes/scene_1d.hpp"

namespace {

using scene::Barcode1d;

oned::Symbology readerSymbology(Barcode1d kind) {
  using oned::Symbology;
  static const Symbology kReaders[] = {Symbology::code128, Symbology::code128, Symbology::ean13, Symbology::upca,
                                       Symbology::ean8,    Symbology::code39,  Symbology::itf};
  return kReaders[static_cast<int>(kind)];
}

// Run widths of one row of bars between 10-module quiet zones: every bar spread by `spread`
// modules (the spaces shrink by as much) and each width jittered by up to `jitter` modules.
std::vector<double> widthsOf(const scene::DmSymbol& bars, double module, double spread, double jitter,
                             scene::Random& rng) {
  std::vector<double> w{10};
  bool dark = false;
  for (int c = 0; c < bars.cols; ++c) {
    const bool d = bars.isDark(0, c);
    if (d != dark) {
      w.push_back(0);
      dark = d;
    }
    w.back() += 1;
  }
  w.push_back(10);
  for (size_t i = 1; i + 1 < w.size(); ++i) w[i] += (i % 2 ? spread : -spread) + rng.uniform(-jitter, jitter);
  for (double& x : w) x *= module;
  return w;
}

// Elements per character block, and the index of the first block, for swapping two characters.
std::pair<int, int> charBlocks(Barcode1d kind) {
  switch (kind) {
    case Barcode1d::code128:
    case Barcode1d::gs1_128: return {6, 7};
    case Barcode1d::ean13:
    case Barcode1d::upca:
    case Barcode1d::ean8: return {4, 4};
    default: return {0, 0};  // no check character by default: a swap reads as other text
  }
}

TEST(OnedRead, ZintBarsReadBothWaysAndCorruptionsDoNot) {
  scene::Random rng(20261206);
  for (Barcode1d kind : scene::kAllBarcodes1d) {
    for (int trial = 0; trial < 40; ++trial) {
      const scene::Encoded1d code = scene::encode1d(kind, scene::randomData1d(rng, kind), 1);
      const double spread = rng.uniform(-0.25, 0.25), jitter = rng.uniform(0, 0.15);
      std::vector<double> w = widthsOf(code.bars, rng.uniform(1, 4), spread, jitter, rng);
      const int n = static_cast<int>(w.size());
      for (bool reversed : {false, true}) {
        std::vector<double> line = w;
        if (reversed) std::reverse(line.begin(), line.end());
        const std::vector<oned::Read> reads = oned::readLine(line);
        ASSERT_EQ(reads.size(), 1u) << scene::barcodeName(kind) << " " << code.text << " reversed " << reversed;
        const oned::Read& r = reads[0];
        EXPECT_EQ(std::tuple(r.text, static_cast<int>(r.symbology), r.reversed, r.firstElement, r.lastElement),
                  std::tuple(code.text, static_cast<int>(readerSymbology(kind)), reversed, 1, n - 2))
            << scene::barcodeName(kind);
      }
      // Cut off: the last eight elements become quiet zone.
      std::vector<double> cut(w.begin(), w.end() - 9);
      cut.push_back(10 * w[0]);
      EXPECT_TRUE(oned::readLine(cut).empty()) << scene::barcodeName(kind) << " truncated " << code.text;
      // Two different characters swapped: the check rejects the line.
      const auto [size, first] = charBlocks(kind);
      if (size == 0) continue;
      std::vector<double> swapped = w;
      std::swap_ranges(swapped.begin() + first, swapped.begin() + first + size, swapped.begin() + first + size);
      if (std::equal(swapped.begin(), swapped.end(), w.begin())) continue;
      // EAN/UPC's weights 3 and 1 cannot see a swap of digits 5 apart.
      const size_t lead = kind == Barcode1d::ean13 ? 1 : 0;
      if (size == 4 && std::abs(code.text[lead] - code.text[lead + 1]) == 5) continue;
      for (const oned::Read& r : oned::readLine(swapped))
        EXPECT_EQ(r.text, code.text) << scene::barcodeName(kind) << " swapped characters read as other text";
    }
  }
}

// Lines that are no barcode: random widths, a uniform comb, an empty and a one-bar line.
TEST(OnedRead, JunkLinesReadNothing) {
  scene::Random rng(7);
  int reads = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<double> w{30};
    const int n = rng.uniformInt(1, 60);
    for (int i = 0; i < 2 * n - 1; ++i) w.push_back(rng.uniformInt(1, 4) * rng.uniform(0.8, 1.2));
    w.push_back(30);
    reads += static_cast<int>(oned::readLine(w).size());
  }
  for (const std::vector<double>& w : {std::vector<double>(81, 1.0), {}, {5, 1, 5}, {5, 1}})
    reads += static_cast<int>(oned::readLine(w).size());
  EXPECT_EQ(reads, 0);
}

}  // namespace
