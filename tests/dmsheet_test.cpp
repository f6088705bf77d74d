// Data Matrix on big sheets: a sheet of labels side by side must give every symbol its labels
// give alone, at the same place with the same text; and the pieces that make it so (the windows
// a big image is searched in, the noise decided block by block) hold what they promise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "idut/read.hpp"
#include "reader/datamatrix/dmdenoise.hpp"
#include "reader/datamatrix/dmlocalnoise.hpp"
#include "reader/datamatrix/dmwindows.hpp"
#include "scenes/scene.hpp"

namespace {

using scene::Category;

struct Read {
  double x, y;
  std::string text;
};

std::vector<Read> readsOf(const uint8_t* pixels, int width, int height, int stride) {
  idut::ReadOptions options;
  options.symbologies = {idut::Symbology::DataMatrix};
  std::vector<Read> reads;
  for (const idut::Symbol& s : idut::readSymbols(idut::ImageView(pixels, width, height, stride), options))
    if (s.decoded) reads.push_back({s.corners.centre().x, s.corners.centre().y, s.text});
  return reads;
}

// Labels laid left to right with `gap` pixels of white round each, a new row when the next
// would pass the width, as many rows as fit the height.
struct Sheet {
  int width, height;
  std::vector<uint8_t> pixels;
  std::vector<Read> expected;  // what the labels give alone, moved to their places
};

Sheet laySheet(const std::vector<scene::Scene>& labels, int width, int height, int gap) {
  Sheet sheet{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, 255), {}};
  int x = gap, y = gap, rowHeight = 0;
  for (size_t k = 0;; ++k) {
    const scene::GreyImage& g = labels[k % labels.size()].image;
    if (x + g.width + gap > width) x = gap, y += rowHeight + gap, rowHeight = 0;
    if (y + g.height + gap > height) break;
    for (int row = 0; row < g.height; ++row)
      std::memcpy(&sheet.pixels[static_cast<size_t>(y + row) * width + x], &g.pixels[static_cast<size_t>(row) * g.width],
                  static_cast<size_t>(g.width));
    for (const Read& r : readsOf(g.pixels.data(), g.width, g.height, g.width))
      sheet.expected.push_back({r.x + x, r.y + y, r.text});
    x += g.width + gap;
    rowHeight = std::max(rowHeight, g.height);
  }
  return sheet;
}

struct SheetCase {
  const char* name;
  std::vector<std::pair<Category, uint32_t>> labels;  // generated scenes, by kind and seed
  int width, height, gap;
};

// Searched whole, the low-contrast sheet gave 10 of its 30 symbols and the blurred one 34 of 36:
// the copies far from the top left corner were lost. The sheet of noisy labels between clean ones,
// with wide white margins, would take one noise estimate for all of it.
const SheetCase kSheets[] = {
    {"one low-contrast label repeated", {{Category::lowContrast, 6}}, 3200, 2400, 16},
    {"blurred labels", {{Category::blurred, 1}, {Category::blurred, 3}, {Category::blurred, 4}}, 3200, 2400, 16},
    {"noisy labels between clean ones, wide margins",
     {{Category::noisy, 1}, {Category::clean, 2}, {Category::noisy, 7}, {Category::clean, 8}}, 2400, 2200, 120},
};

TEST(DataMatrixSheet, GivesEverySymbolItsLabelsGiveAlone) {
  for (const SheetCase& c : kSheets) {
    std::vector<scene::Scene> labels;
    for (const auto& [kind, seed] : c.labels) labels.push_back(scene::generate(kind, seed));
    const Sheet sheet = laySheet(labels, c.width, c.height, c.gap);
    ASSERT_GE(sheet.expected.size(), 6u) << c.name << ": too few symbols read alone to test anything";
    const std::vector<Read> onSheet = readsOf(sheet.pixels.data(), sheet.width, sheet.height, sheet.width);
    size_t given = 0;
    for (const Read& e : sheet.expected) {
      const bool found = std::any_of(onSheet.begin(), onSheet.end(), [&](const Read& r) {
        return std::hypot(r.x - e.x, r.y - e.y) < 4 && r.text == e.text;
      });
      given += found;
      EXPECT_TRUE(found) << c.name << ": \"" << e.text << "\" at (" << e.x << ", " << e.y << ") lost";
    }
    EXPECT_EQ(given, sheet.expected.size()) << c.name;
    // Nothing read on the sheet that no label gave at that place.
    for (const Read& r : onSheet)
      EXPECT_TRUE(std::any_of(sheet.expected.begin(), sheet.expected.end(),
                              [&](const Read& e) { return std::hypot(r.x - e.x, r.y - e.y) < 4 && r.text == e.text; }))
          << c.name << ": \"" << r.text << "\" at (" << r.x << ", " << r.y << ") read only on the sheet";
  }
}

// The windows along an axis: inside it, each step at most half a window, the cores following
// one another without gap or overlap, and each core a quarter window inside its window except
// where the axis ends.
TEST(DataMatrixSheet, WindowsCoverTheAxisAndTheirCoresTileIt) {
  using dmroad::kWindowSide;
  for (int32_t length : {1, 700, kWindowSide, kWindowSide + 1, 2 * kWindowSide - 7, 3000, 12345}) {
    const std::vector<int32_t> starts = dmroad::windowStarts(length);
    const int32_t side = std::min(kWindowSide, length);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.front(), 0) << length;
    EXPECT_EQ(starts.back() + side, std::max(length, side)) << length;
    for (size_t i = 0; i < starts.size(); ++i) {
      const dmroad::Span core = dmroad::coreOf(starts, i, length);
      if (i == 0) {
        EXPECT_LT(core.from, -1e100) << length;
      }
      if (i + 1 == starts.size()) {
        EXPECT_GT(core.to, 1e100) << length;
      }
      if (i + 1 < starts.size()) {
        EXPECT_LE(starts[i + 1] - starts[i], kWindowSide / 2) << length << " window " << i;
        EXPECT_GT(starts[i + 1], starts[i]) << length << " window " << i;
        EXPECT_EQ(core.to, dmroad::coreOf(starts, i + 1, length).from) << length << " window " << i;
        EXPECT_GE(starts[i] + side - core.to, kWindowSide / 4.0) << length << " window " << i;
      }
      if (i > 0) {
        EXPECT_GE(core.from - starts[i], kWindowSide / 4.0) << length << " window " << i;
      }
    }
  }
}

std::vector<uint8_t> randomImage(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (uint8_t& p : pixels) p = static_cast<uint8_t>(rng() & 0xFF);
  return pixels;
}

// Smoothing by parts: inside a part exactly what smoothing the whole image gives, outside the
// image untouched; parts at the image's edges, inside it, side by side, once and twice.
TEST(DataMatrixSheet, SmoothingByPartsMatchesTheWholeImageInside) {
  const int width = 150, height = 130;
  const std::vector<uint8_t> pixels = randomImage(width, height, 7);
  const cimg_windowConst w{width, height, 0, 0, width, pixels.data()};
  std::vector<uint8_t> once(pixels.size()), twice(pixels.size());
  dmroad::smoothBinomial(w, once.data());
  dmroad::smoothBinomialTwice(w, twice.data());
  const std::vector<std::vector<dmroad::NoisyPart>> cases = {
      {{0, 0, 64, 64, false}},
      {{64, 64, 128, 128, true}},
      {{0, 64, 150, 128, true}, {0, 128, 150, 130, false}},
      {{1, 1, 3, 3, true}, {100, 0, 150, 130, false}},
      {{0, 0, 150, 130, true}},
  };
  for (size_t k = 0; k < cases.size(); ++k) {
    std::vector<uint8_t> out(pixels.size(), 0);
    dmroad::smoothParts(w, cases[k], out.data());
    int wrong = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const size_t i = static_cast<size_t>(y) * width + x;
        uint8_t expected = pixels[i];
        for (const dmroad::NoisyPart& p : cases[k])
          if (x >= p.x0 && x < p.x1 && y >= p.y0 && y < p.y1) expected = p.twice ? twice[i] : once[i];
        wrong += out[i] != expected;
      }
    EXPECT_EQ(wrong, 0) << "case " << k;
  }
}

// A picture that is noisy on its left half and flat white on its right, cut by a band of flat
// white: by blocks, the noisy blocks and those next to them are smoothed, the far white ones not;
// whole, one decision for all (here: none, the white being most of it).
TEST(DataMatrixSheet, NoiseIsDecidedWhereItIs) {
  using dmroad::kNoiseBlock;
  const int width = 8 * kNoiseBlock, height = 4 * kNoiseBlock, noisyWidth = 2 * kNoiseBlock + 10;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 255);
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(128, 12);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < noisyWidth; ++x)
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(std::clamp(std::lround(noise(rng)), 0L, 255L));
  const cimg_windowConst w{width, height, 0, 0, width, pixels.data()};
  EXPECT_TRUE(dmroad::noisyParts(w, 5, 10, false).empty());
  struct Expect {
    int blockX;
    bool smoothed, twice;
  };
  // Blocks 0 and 1 wholly noisy, 2 partly (ten columns) and so measured clean, but next to a
  // noisy one; 3 lends from nothing noisy; 4 and on are far.
  const Expect kColumns[] = {{0, true, true}, {1, true, true}, {2, true, true}, {3, false, false}, {5, false, false}};
  const std::vector<dmroad::NoisyPart> parts = dmroad::noisyParts(w, 5, 10, true);
  for (const Expect& e : kColumns)
    for (int by = 0; by < 4; ++by) {
      const int x = e.blockX * kNoiseBlock + kNoiseBlock / 2, y = by * kNoiseBlock + kNoiseBlock / 2;
      const auto in = std::find_if(parts.begin(), parts.end(),
                                   [&](const dmroad::NoisyPart& p) { return x >= p.x0 && x < p.x1 && y >= p.y0 && y < p.y1; });
      EXPECT_EQ(in != parts.end(), e.smoothed) << "block " << e.blockX << ", " << by;
      if (in != parts.end()) {
        EXPECT_EQ(in->twice, e.twice) << "block " << e.blockX << ", " << by;
      }
    }
}

// Marking by parts: a part that is the whole image marks as the whole-image marking does; parts
// mark only their own cells, and inside a noisy part the cells where nothing but noise lies.
TEST(DataMatrixSheet, NoiseCellsAreMarkedOnlyInsideTheirParts) {
  const int width = 256, height = 192, frame = 8;
  const std::vector<uint8_t> image = randomImage(width + 2 * frame, height + 2 * frame, 11);
  // Noise of deviation about 74 everywhere: the driver's response is mostly noise.
  const cimg_windowConst searched{width + 2 * frame, height + 2 * frame, 0, 0, width + 2 * frame, image.data()};
  std::vector<int32_t> rows;
  for (int32_t y = frame + 1; y < frame + height; y += 2) rows.push_back(y);
  const int cellsWide = (searched.width + 3) / 4, cellsHigh = (searched.height + 3) / 4;
  auto marked = [&](const std::vector<dmroad::NoisyPart>& parts, bool whole) {
    std::vector<uint8_t> cells(static_cast<size_t>(cellsWide) * cellsHigh, 0);
    cimg_window marking{cellsWide, cellsHigh, 0, 0, cellsWide, cells.data()};
    if (whole)
      dmroad::markNoiseCells(searched, rows, &marking);
    else
      dmroad::markNoiseCellsInParts(searched, frame, parts, rows, &marking);
    return cells;
  };
  EXPECT_EQ(marked({{0, 0, width, height, false}}, false), marked({}, true));
  const dmroad::NoisyPart part{64, 64, 192, 128, false};
  const std::vector<uint8_t> cells = marked({part}, false);
  int inside = 0, outside = 0;
  for (int cy = 0; cy < cellsHigh; ++cy)
    for (int cx = 0; cx < cellsWide; ++cx) {
      const bool in = cx >= (part.x0 + frame) / 4 && cx < (part.x1 + frame) / 4 && cy >= (part.y0 + frame) / 4 &&
                      cy < (part.y1 + frame) / 4;
      (in ? inside : outside) += cells[static_cast<size_t>(cy) * cellsWide + cx];
    }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(inside, 0);
}

// A page big enough to be searched in windows, holding one symbol too big for any window's core
// (over half a window across): found all the same, by the last search over the whole page.
TEST(DataMatrixSheet, SymbolsTooBigForAWindowAreFoundOnTheWholePage) {
  struct BigCase {
    double module;
    scene::Point centre;
  };
  const BigCase kCases[] = {{14, {700, 700}}, {34, {1300, 1100}}, {42, {1900, 1100}}, {50, {1300, 1100}}};
  for (const BigCase& c : kCases) {
    scene::SceneSpec spec;
    spec.width = 2600;
    spec.height = 2200;
    spec.symbols = {scene::encodeDataMatrix("a big symbol on a big page 1234567890")};
    spec.placements = {{.centre = c.centre, .moduleSize = c.module, .angleDeg = 17}};
    spec.blurSigma = 1;
    spec.noiseSigma = 3;
    const scene::Scene sc = scene::render(spec);
    ASSERT_GT(sc.image.width, dmroad::kWholeSearchSide);
    const scene::ImageView view(sc.image);
    const dmroad::Outcome out = dmroad::findAllInWindows(*view, {});
    ASSERT_EQ(out.status, 0);
    int found = 0;
    for (const dmroad::Symbol& s : out.symbols) {
      double cx = 0, cy = 0;
      for (const cmath_vect& corner : s.corners) cx += corner.x / 4, cy += corner.y / 4;
      found += std::hypot(cx - c.centre.x, cy - c.centre.y) < c.module && s.rows == sc.symbols[0].rows;
    }
    EXPECT_EQ(found, 1) << "modules of " << c.module << " px at " << c.centre.x << ", " << c.centre.y;
  }
}

}  // namespace
