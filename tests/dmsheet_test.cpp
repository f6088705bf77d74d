// Data Matrix on big sheets: a sheet of labels side by side must give every symbol its labels
// give alone, at the same place with the same text, and nothing else; a symbol too big for a
// window is found too; the windows cover the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "idut/read.hpp"
#include "reader/datamatrix/dmlocalnoise.hpp"
#include "reader/datamatrix/dmwindows.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_dm.hpp"

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

// The reads of `reads` that `others` has not at the same place with the same text.
std::vector<Read> unmatched(const std::vector<Read>& reads, const std::vector<Read>& others) {
  std::vector<Read> left;
  for (const Read& r : reads)
    if (std::none_of(others.begin(), others.end(),
                     [&](const Read& o) { return std::hypot(r.x - o.x, r.y - o.y) < 4 && r.text == o.text; }))
      left.push_back(r);
  return left;
}

// Labels laid left to right with `gap` pixels of white round each, a new row when the next
// would pass the width, as many rows as fit the height.
struct Sheet {
  int width, height;
  std::vector<uint8_t> pixels;
  std::vector<Read> expected;  // what the labels give alone, moved to their places
};

Sheet laySheet(const std::vector<scene::Scene>& labels, int width, int height, int gap, uint8_t paper) {
  Sheet sheet{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, paper), {}};
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
  // Pictures filled by a symbol without quiet zone, of this polarity, turned by 0 to 3 quarters,
  // besides the labels; and the sheet's grey.
  int fills = 0;
  scene::Polarity fillPolarity = scene::Polarity::darkOnLight;
  uint8_t paper = 255;
  // Symbols the sheet may lose: one whose outline the search cuts a module short at the corner
  // of its L's far end (where the data modules beside the L are paper) is not read yet.
  size_t mayLose = 0;
  // Clean long rectangles of small modules laid between the labels, one after each.
  int longRectangles = 0;
};

std::vector<scene::Scene> labelsOf(const SheetCase& c) {
  std::vector<scene::Scene> labels;
  for (const auto& [kind, seed] : c.labels) labels.push_back(scene::generate(kind, seed));
  scene::Random rng(5);
  for (int i = 0; i < c.fills; ++i) {
    scene::DmContent content;
    content.sizeOption = 3 + 2 * (i % 5);
    content.data = scene::fillText(content.sizeOption, scene::DmSizes::squareOnly, rng);
    const scene::FrameFill f{.moduleSize = 2.0 + 0.5 * (i % 4), .quietZone = 0, .polarity = c.fillPolarity,
                             .quarterTurns = i % 4, .seed = rng.bits()};
    labels.push_back(scene::frameFilling(scene::encodeDataMatrix(content), f));
  }
  if (c.longRectangles == 0) return labels;
  std::vector<scene::Scene> interleaved;
  const std::vector<scene::DmreSize>& sizes = scene::dmreSizes();
  for (int i = 0; i < c.longRectangles; ++i) {
    interleaved.push_back(labels[i % labels.size()]);
    scene::DmContent content;
    content.sizeOption = sizes[(5 * i) % sizes.size()].sizeOption;
    content.sizes = scene::DmSizes::withRectangular;
    content.data = scene::fillText(content.sizeOption, content.sizes, rng);
    const scene::Placed p{.moduleSize = 1.9 + 0.1 * (i % 7), .angleDeg = 37.0 * i,
                          .polarity = i % 2 ? scene::Polarity::lightOnDark : scene::Polarity::darkOnLight,
                          .seed = rng.bits()};
    interleaved.push_back(scene::placedAlone(scene::encodeDataMatrix(content), p));
  }
  return interleaved;
}

// Searched whole, the low-contrast sheet gave 10 of its 30 symbols and the blurred one 34 of 36:
// the copies far from the top left corner were lost. In windows that each take one noise
// estimate, the blurred sheet lost 4. The noisy labels stand between clean ones with wide white
// margins, which would take a whole-sheet estimate. A symbol of light modules on dark filling its
// picture shows no edge along its light L on white paper (nor a dark one on black): it was
// located a module short and not read. A noisy label lends its smoothing to the blocks round it,
// and a clean long rectangle of 2-pixel modules there, smoothed, was outlined a module off and
// not read, though it was read alone.
const SheetCase kSheets[] = {
    {"one low-contrast label repeated", {{Category::lowContrast, 6}}, 3200, 2400, 16},
    {"blurred labels", {{Category::blurred, 1}, {Category::blurred, 3}, {Category::blurred, 4}}, 3200, 2400, 16},
    {"noisy labels between clean ones, wide margins",
     {{Category::noisy, 1}, {Category::clean, 2}, {Category::noisy, 7}, {Category::clean, 8}}, 2400, 2200, 120},
    {"light symbols filling their pictures, on white", {}, 900, 700, 16, 12, scene::Polarity::lightOnDark, 255, 1},
    {"dark symbols filling their pictures, on black", {}, 900, 700, 16, 12, scene::Polarity::darkOnLight, 0},
    {"clean long rectangles of small modules beside noisy labels",
     {{Category::noisy, 1}, {Category::noisy, 7}, {Category::noisy, 9}, {Category::noisy, 3}}, 3000, 2400, 8, 0,
     scene::Polarity::darkOnLight, 255, 0, 40},
};

TEST(DataMatrixSheet, GivesEverySymbolItsLabelsGiveAlone) {
  for (const SheetCase& c : kSheets) {
    const Sheet sheet = laySheet(labelsOf(c), c.width, c.height, c.gap, c.paper);
    ASSERT_GE(sheet.expected.size(), 6u) << c.name << ": too few symbols read alone to test anything";
    const std::vector<Read> onSheet = readsOf(sheet.pixels.data(), sheet.width, sheet.height, sheet.width);
    const std::vector<Read> lost = unmatched(sheet.expected, onSheet);
    for (const Read& e : lost)
      if (lost.size() > c.mayLose) ADD_FAILURE() << c.name << ": \"" << e.text << "\" at (" << e.x << ", " << e.y << ") lost";
    for (const Read& r : unmatched(onSheet, sheet.expected))
      ADD_FAILURE() << c.name << ": \"" << r.text << "\" at (" << r.x << ", " << r.y << ") read only on the sheet";
  }
}

// The windows along an axis: on whole noise blocks, the last running to the axis' end, each
// step at most half a window, the cores following one another without gap or overlap, and each
// core a quarter window inside its window except where the axis ends.
TEST(DataMatrixSheet, WindowsCoverTheAxisAndTheirCoresTileIt) {
  using dmroad::kWindowSide;
  for (int32_t length : {1, 700, kWindowSide, kWindowSide + 1, kWindowSide + 70, 2 * kWindowSide - 7, 3873, 12345}) {
    const std::vector<int32_t> starts = dmroad::windowStarts(length);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.back() + dmroad::windowLength(starts, starts.size() - 1, length), length) << length;
    for (size_t i = 0; i < starts.size(); ++i) {
      const dmroad::Span core = dmroad::coreOf(starts, i, length);
      const int32_t end = starts[i] + dmroad::windowLength(starts, i, length);
      EXPECT_EQ(starts[i] % dmroad::kNoiseBlock, 0) << length << " window " << i;
      EXPECT_EQ(i == 0, core.from < -1e100) << length << " window " << i;
      EXPECT_EQ(i + 1 == starts.size(), core.to > 1e100) << length << " window " << i;
      if (i > 0) {
        EXPECT_GE(core.from - starts[i], kWindowSide / 4.0) << length << " window " << i;
      }
      if (i + 1 < starts.size()) {
        EXPECT_GT(starts[i + 1], starts[i]) << length << " window " << i;
        EXPECT_LE(starts[i + 1] - starts[i], kWindowSide / 2) << length << " window " << i;
        EXPECT_EQ(core.to, dmroad::coreOf(starts, i + 1, length).from) << length << " window " << i;
        EXPECT_GE(end - core.to, kWindowSide / 4.0) << length << " window " << i;
      }
    }
  }
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
    const scene::Scene sc = scene::render({.width = 2600, .height = 2200,
                                           .symbols = {scene::encodeDataMatrix("a big symbol on a big page 1234567890")},
                                           .placements = {{.centre = c.centre, .moduleSize = c.module, .angleDeg = 17}},
                                           .blurSigma = 1, .noiseSigma = 3});
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
