// The PDF417 road over generated scenes with libzint symbols: location rate and corner error per
// condition, each symbol reported once, claimed symbols skipped, scenes without PDF417 empty,
// the sides' bounds, symbols in rows each reported once, and labels on a white page read.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>
#include <string>

#include "ci_id/mask.h"
#include "ci_id/region.h"
#include "reader/pdf417/pdfroad.hpp"
#include "scenes/scene_1d.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_pdf.hpp"
#include "support/fixtures.hpp"
#include "support/photos.hpp"

namespace {

using scene::ConditionPdf;

// Largest corner error under the best pairing of the reported outline with the truth's; mean
// receives that pairing's mean error.
double cornerError(const scene::SymbolTruth& t, const pdfroad::Symbol& s, double* mean = nullptr) {
  const std::array<double, 4> e = cornerErrors(s.corners, t.outline());
  if (mean) *mean = (e[0] + e[1] + e[2] + e[3]) / 4;
  return *std::max_element(e.begin(), e.end());
}

// All four corners within max(2 px, one module).
bool located(const scene::SymbolTruth& t, const pdfroad::Symbol& s) {
  return cornerError(t, s) <= std::max(2.0, t.moduleSize);
}

// Whether a report lies on the symbol at all: its centre inside the symbol's outline.
bool covers(const scene::SymbolTruth& t, const pdfroad::Symbol& s) {
  double cx = 0, cy = 0;
  for (const cmath_vect& c : s.corners) {
    cx += c.x / 4;
    cy += c.y / 4;
  }
  const auto o = t.outline();
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const auto &a = o[i], &b = o[(i + 1) % 4];
    const double cross = (b.x - a.x) * (cy - a.y) - (b.y - a.y) * (cx - a.x);
    const int side = cross > 0 ? 1 : -1;
    if (sign != 0 && side != sign) return false;
    sign = side;
  }
  return true;
}

// The sanitizer build draws the same scenes but runs every fifth one, to stay quick; its rate
// floors and corner-error ceilings leave room for the smaller sample (the median of eight blurred
// scenes lies 0.4 px above that of all forty).
#if defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kSeedStride = 5;
constexpr double kFloorSlack = 0.15;
constexpr double kErrorSlack = 0.5;
#else
constexpr uint32_t kSeedStride = 1;
constexpr double kFloorSlack = 0;
constexpr double kErrorSlack = 0;
#endif

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

// 40 fixed-seed scenes of each condition (1 to 3 symbols each): every symbol located with its
// four corners within max(2 px, a module), reported once, and nothing reported off the symbols.
// Floors are the rates this road reaches less a little room, and the median corner error a
// third of a pixel over it. Compact symbols, symbols cut to their bars (framed) and those of
// long rows and large modules are located by their start columns and outlined by the reading.
TEST(PdfRoad, LocationRateAndCornerErrorPerCondition) {
  struct Floor {
    ConditionPdf condition;
    double rate, medianError;
  };
  const Floor floors[] = {
      {ConditionPdf::clean, 0.97, 0.6},    {ConditionPdf::rotated, 0.97, 0.6},   {ConditionPdf::perspective, 0.95, 0.5},
      {ConditionPdf::blurred, 0.97, 0.8},  {ConditionPdf::noisy, 0.97, 0.5},     {ConditionPdf::lowContrast, 0.97, 0.5},
      {ConditionPdf::inverted, 0.97, 0.6}, {ConditionPdf::crowded, 0.95, 0.5},   {ConditionPdf::compact, 0.95, 0.6},
      {ConditionPdf::content, 0.97, 0.6},  {ConditionPdf::framed, 0.97, 0.6},    {ConditionPdf::large, 0.95, 0.8},
      {ConditionPdf::bilevel, 0.75, 0.6}};
  constexpr uint32_t kSeeds = 40;
  int allSymbols = 0, allLocated = 0;
  for (const Floor& f : floors) {
    int symbols = 0, found = 0, duplicates = 0, strays = 0;
    std::vector<double> errors;
    for (uint32_t seed = 1; seed <= kSeeds; seed += kSeedStride) {
      const scene::ScenePdf sp = scene::generatePdf(f.condition, seed);
      scene::ImageView view(sp.scene.image);
      const pdfroad::Outcome out = pdfroad::findAll(*view);
      ASSERT_EQ(out.status, 0);
      for (size_t i = 0; i < sp.pdf.size(); ++i) {
        const scene::SymbolTruth& t = sp.scene.symbols[i];
        int hits = 0, onIt = 0;
        double bestMean = 1e300;
        for (const pdfroad::Symbol& s : out.symbols) {
          if (located(t, s)) {
            double mean;
            cornerError(t, s, &mean);
            ++hits;
            bestMean = std::min(bestMean, mean);
          }
          onIt += covers(t, s);
        }
        ++symbols;
        if (hits > 0) {
          ++found;
          errors.push_back(bestMean);
        }
        duplicates += onIt > 1;
      }
      // Every report lies on one of the scene's PDF417 symbols.
      const auto truths = sp.scene.symbols.begin(), truthsEnd = truths + static_cast<std::ptrdiff_t>(sp.pdf.size());
      for (const pdfroad::Symbol& s : out.symbols)
        strays += std::none_of(truths, truthsEnd, [&](const scene::SymbolTruth& t) { return covers(t, s); });
    }
    const double rate = static_cast<double>(found) / symbols;
    std::printf("%-12s located %3d / %3d (%5.1f%%), median corner error %.2f px, duplicates %d, stray reports %d\n",
                scene::conditionName(f.condition), found, symbols, 100 * rate, median(errors), duplicates, strays);
    EXPECT_GE(rate, f.rate - kFloorSlack) << scene::conditionName(f.condition);
    EXPECT_LE(median(errors), f.medianError + kErrorSlack) << scene::conditionName(f.condition);
    EXPECT_EQ(duplicates, 0) << scene::conditionName(f.condition);
    EXPECT_EQ(strays, 0) << scene::conditionName(f.condition);
    allSymbols += symbols;
    allLocated += found;
  }
  std::printf("all          located %d / %d (%.1f%%)\n", allLocated, allSymbols, 100.0 * allLocated / allSymbols);
  EXPECT_GE(allLocated, (0.98 - kFloorSlack) * allSymbols);
}

// Data Matrix, 1D barcodes, text, bars and noise hold no PDF417; and a symbol the mask already
// holds is not reported again.
TEST(PdfRoad, NoReportsWithoutPdf417AndNoneOfClaimedSymbols) {
  int reports = 0;
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    std::vector<scene::Scene> scenes;
    for (scene::Category c : {scene::Category::clean, scene::Category::multiSymbol, scene::Category::textOnly,
                              scene::Category::barsOnly, scene::Category::noiseOnly})
      scenes.push_back(scene::generate(c, seed));
    scenes.push_back(scene::generate1d(scene::kAllBarcodes1d[seed % 7], scene::Condition1d::crowded, seed).scene);
    for (const scene::Scene& sc : scenes) {
      scene::ImageView view(sc.image);
      reports += static_cast<int>(pdfroad::findAll(*view).symbols.size());
    }
  }
  EXPECT_EQ(reports, 0);

  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const scene::ScenePdf sp = scene::generatePdf(ConditionPdf::crowded, seed);
    scene::ImageView view(sp.scene.image);
    cid_mask mask;
    ASSERT_EQ(cid_mask_construct(&mask, nullptr), 0);
    const pdfroad::Outcome first = pdfroad::findAll(*view, {}, &mask);
    const pdfroad::Outcome again = pdfroad::findAll(*view, {}, &mask);
    EXPECT_TRUE(!first.symbols.empty() && again.symbols.empty()) << first.symbols.size() << " " << again.symbols.size();
    cid_mask_destruct(&mask);
  }
}

// The sides' bounds keep exactly the symbols whose shorter side reaches minSide and whose longer
// side stays within maxSide.
TEST(PdfRoad, SideBoundsKeepTheSymbolsBetweenThem) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const scene::ScenePdf sp = scene::generatePdf(ConditionPdf::crowded, seed);
    scene::ImageView view(sp.scene.image);
    const pdfroad::Outcome all = pdfroad::findAll(*view);
    ASSERT_FALSE(all.symbols.empty());
    double shortest = 1e300, longest = 0;
    for (const pdfroad::Symbol& s : all.symbols)
      for (int k = 0; k < 4; ++k) {
        const double side = std::hypot(s.corners[k].x - s.corners[(k + 1) % 4].x, s.corners[k].y - s.corners[(k + 1) % 4].y);
        shortest = std::min(shortest, side);
        longest = std::max(longest, side);
      }
    const struct {
      int minSide, maxSide;
      bool allKept;  // else none
    } cases[] = {{static_cast<int>(shortest) - 1, 0, true},
                 {0, static_cast<int>(longest) + 1, true},
                 {static_cast<int>(longest) + 1, 0, false},
                 {0, static_cast<int>(shortest) - 1, false}};
    for (const auto& c : cases) {
      pdfroad::Options o;
      o.minSide = c.minSide;
      o.maxSide = c.maxSide;
      const size_t kept = pdfroad::findAll(*view, o).symbols.size();
      EXPECT_EQ(kept, c.allKept ? all.symbols.size() : 0u) << "seed " << seed << " min " << c.minSide << " max " << c.maxSide;
    }
  }
}

// Symbols standing in rows put their patterns on the same lines: each is reported once, read or
// located only. A lone column's lines run on through the symbols beside it, and a symbol they
// read there is not the column's own (it was reported twice, at the other's place).
TEST(PdfRoad, SymbolsInRowsAreEachReportedOnce) {
  const struct {
    int columns, rows;
    double module;
    bool decode;
  } cases[] = {{3, 1, 1.5, false}, {6, 11, 1.5, true}, {6, 11, 1.5, false}, {4, 6, 2, false}};
  for (const auto& c : cases) {
    scene::SceneSpec spec;
    const double cellWidth = 190 * c.module / 1.5, cellHeight = 70 * c.module / 1.5;
    spec.width = static_cast<int>(c.columns * cellWidth + 40);
    spec.height = static_cast<int>(c.rows * cellHeight + 40);
    for (int k = 0; k < c.columns * c.rows; ++k) {
      spec.symbols.push_back(scene::encodePdf417("pdf" + std::to_string(k), {.columns = 2, .security = 1, .rowHeight = 3}));
      spec.placements.push_back({.centre = {20 + (k % c.columns + 0.5) * cellWidth, 20 + (k / c.columns + 0.5) * cellHeight},
                                 .moduleSize = c.module, .quietZone = 2});
    }
    const scene::Scene sc = scene::render(spec);
    scene::ImageView view(sc.image);
    pdfroad::Options o;
    o.decode = c.decode;
    const pdfroad::Outcome out = pdfroad::findAll(*view, o);
    ASSERT_EQ(out.status, 0);
    const std::string what = std::to_string(c.columns) + " x " + std::to_string(c.rows) + " at " +
                             std::to_string(c.module) + (c.decode ? ", read" : ", located");
    EXPECT_EQ(out.symbols.size(), sc.symbols.size()) << what;
    for (const scene::SymbolTruth& t : sc.symbols)
      EXPECT_EQ(std::count_if(out.symbols.begin(), out.symbols.end(), [&](auto& s) { return covers(t, s); }), 1) << what;
  }
}

// Labels pasted on a white page: pale ones, far lighter (or a little lighter) than their light
// modules, and compact ones, whose lone start columns' outlines once ran on over the page to its
// border and read nothing there. Each is found where it was pasted and read with its own text.
TEST(PdfRoad, LabelsOnAWhitePageAreEachRead) {
  const struct {
    ConditionPdf condition;
    int gap;
    uint8_t white;
  } pages[] = {{ConditionPdf::lowContrast, 40, 255}, {ConditionPdf::lowContrast, 80, 255},
               {ConditionPdf::lowContrast, 60, 235}, {ConditionPdf::compact, 40, 255},
               {ConditionPdf::compact, 400, 255}};
  for (const auto& page : pages) {
    std::vector<scene::ScenePdf> labels;
    int cellWidth = 0, cellHeight = 0;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      labels.push_back(scene::generatePdf(page.condition, seed));
      cellWidth = std::max(cellWidth, labels.back().scene.image.width);
      cellHeight = std::max(cellHeight, labels.back().scene.image.height);
    }
    const int dx = cellWidth + page.gap, dy = cellHeight + page.gap;
    scene::GreyImage sheet(2 * dx + page.gap, 2 * dy + page.gap, page.white);
    for (size_t k = 0; k < labels.size(); ++k) {
      const scene::GreyImage& im = labels[k].scene.image;
      for (int r = 0; r < im.height; ++r)
        std::copy_n(&im.pixels[static_cast<size_t>(r) * im.width], im.width,
                    &sheet.at(page.gap + k % 2 * dx, page.gap + k / 2 * dy + r));
    }
    scene::ImageView view(sheet);
    const pdfroad::Outcome out = pdfroad::findAll(*view);
    for (size_t k = 0; k < labels.size(); ++k) {
      bool read = false;
      for (pdfroad::Symbol s : out.symbols) {
        for (cmath_vect& c : s.corners) c = {c.x - page.gap - k % 2 * dx, c.y - page.gap - k / 2 * dy};
        std::string text;
        for (const auto& segment : s.reading.message.segments) text.append(segment.bytes.begin(), segment.bytes.end());
        read = read || (located(labels[k].scene.symbols[0], s) && s.reading.ok && text == labels[k].scene.symbols[0].symbol.text);
      }
      EXPECT_TRUE(read) << scene::conditionName(page.condition) << " label " << k + 1 << " on a " << sheet.width << " x "
                        << sheet.height << " page of " << int(page.white) << ", " << page.gap << " px apart";
    }
  }
}

// The road scans every other line first, then the other lines near its hits. The shortest
// symbols (three rows two modules high, modules of one and two pixels) cross the fewest lines,
// upright and turned (seen by the columns then), and are still read.
TEST(PdfRoad, ShortestSymbolsAreReadAfterTheHalfScan) {
  const struct {
    int module, rowHeight, quarterTurns;
  } cases[] = {{1, 2, 0}, {1, 2, 1}, {2, 2, 0}, {2, 2, 1}, {1, 3, 0}, {1, 3, 1}, {2, 3, 2}, {2, 3, 3}};
  scene::Pdf417Content content;
  content.segments = {{0, "SHORT"}};
  for (const auto& c : cases) {
    const scene::DmSymbol s = scene::encodePdf417(content, scene::Pdf417Layout{4, 1, c.rowHeight});
    const int quiet = 6 * c.module;  // upright in a quiet zone, then turned a quarter at a time
    scene::GreyImage image(s.cols * c.module + 2 * quiet, s.rows * c.module + 2 * quiet, 255);
    for (int y = 0; y < s.rows * c.module; ++y)
      for (int x = 0; x < s.cols * c.module; ++x)
        if (s.isDark(y / c.module, x / c.module)) image.at(quiet + x, quiet + y) = 0;
    image = turnedClockwise(std::move(image), c.quarterTurns);
    scene::ImageView view(image);
    bool read = false;
    for (const pdfroad::Symbol& sym : pdfroad::findAll(*view).symbols)
      read = read || (sym.reading.ok && sym.reading.message.segments.size() == 1 &&
                      std::string(sym.reading.message.segments[0].bytes.begin(), sym.reading.message.segments[0].bytes.end()) == "SHORT");
    EXPECT_TRUE(read) << "module " << c.module << ", rows " << c.rowHeight << " high, " << c.quarterTurns << " turns";
  }
}
