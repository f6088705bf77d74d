// The 1D road on generated scenes: read rates per symbology and condition, never a wrong text,
// and nothing read where there is no 1D barcode (generated scenes, and photographs when the
// Debian packages of sample images are installed).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>

#include "reader/oned/road1d.hpp"
#include "reader/oned/road1dbands.hpp"
#include "reader/oned/extrema.hpp"
#include "reader/oned/road1dteeth.hpp"
#include "reader/oned/road1dvotes.hpp"
#include "scenes/scene_1d.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

using scene::Barcode1d;
using scene::Condition1d;

// The sanitizer build draws the same scenes but runs every fifth one, to stay quick.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSceneStride = 5;
#else
constexpr int kSceneStride = 1;
#endif

struct Tally {
  int scenes = 0, read = 0, wrong = 0;
};

std::vector<road1d::Symbol> runRoad(const scene::GreyImage& image) {
  scene::ImageView view(image);
  return road1d::findAll(*view).symbols;
}

// A region running along x, centred at (cx, cy), with its extent along and across.
road1d::Region regionAlongX(double cx, double cy, double alongMin, double alongMax, double acrossMin, double acrossMax) {
  road1d::Region r;
  r.cx = cx;
  r.cy = cy;
  r.alongMin = alongMin;
  r.alongMax = alongMax;
  r.acrossMin = acrossMin;
  r.acrossMax = acrossMax;
  return r;
}

// The read's corners lie within two modules of the truth's (in the same order).
bool boxMatches(const road1d::Symbol& s, const scene::SymbolTruth& t) {
  const scene::Point truth[4] = {t.lCorner, t.rowEnd, t.columnEnd, t.opposite};
  const double tolerance = 2.5 * t.moduleSize + 2;
  // Along the bars the lines cover only the middle of the bars: check the ends of the symbol.
  for (int k = 0; k < 4; k += 1) {
    const double along = (s.corners[k][0] - truth[k].x) * (t.rowEnd.x - t.lCorner.x) +
                         (s.corners[k][1] - truth[k].y) * (t.rowEnd.y - t.lCorner.y);
    if (std::fabs(along) / std::hypot(t.rowEnd.x - t.lCorner.x, t.rowEnd.y - t.lCorner.y) > tolerance) return false;
  }
  return true;
}

// Every read is the scene's barcode or, in crowded scenes, the second barcode beside it, with
// its box where the bars are. Rates are printed per symbology and condition and held at 95% per
// symbology, 90% per condition over all symbologies, 80% for the second barcodes.
TEST(Road1d, GeneratedScenesReadWithoutWrongText) {
  const std::map<Barcode1d, int> counts = {
      {Barcode1d::code128, 56}, {Barcode1d::gs1_128, 49}, {Barcode1d::ean13, 35},  {Barcode1d::upca, 35},
      {Barcode1d::ean8, 35},    {Barcode1d::code39, 105}, {Barcode1d::itf, 105},   {Barcode1d::upce, 32},
      {Barcode1d::code93, 32},  {Barcode1d::codabar, 32}, {Barcode1d::code39FullAscii, 24},
      {Barcode1d::code32, 24},  {Barcode1d::pzn, 24},     {Barcode1d::ean13AddOn, 32},
      {Barcode1d::databar, 32}, {Barcode1d::databarExpanded, 32}};
  std::map<std::pair<Barcode1d, Condition1d>, Tally> table;
  std::map<Barcode1d, Tally> perKind;
  std::map<Condition1d, Tally> perCondition;
  Tally second;
  int badBoxes = 0;
  for (const auto& [kind, count] : counts) {
    for (int seed = 0; seed < count; seed += kSceneStride) {
      const Condition1d condition = scene::kAllConditions1d[seed % scene::kAllConditions1d.size()];
      const scene::Scene1d s = scene::generate1d(kind, condition, static_cast<uint32_t>(seed));
      const std::vector<road1d::Symbol> found = runRoad(s.scene.image);
      // Phone scenes are held apart: their own floor, not the symbology's.
      std::vector<Tally*> tallies{&table[{kind, condition}], &perCondition[condition]};
      if (condition != Condition1d::phone) tallies.push_back(&perKind[kind]);
      for (Tally* t : tallies) ++t->scenes;
      second.scenes += static_cast<int>(s.others.size());
      bool read = false;
      for (const road1d::Symbol& f : found) {
        // The truth of the barcode read: symbols[0], or an other one (after the Data Matrix symbol).
        const scene::SymbolTruth* truth = nullptr;
        if (f.text == s.barcode.text) {
          truth = &s.scene.symbols[0];
          read = true;
          // An add-on is reported right or not at all.
          if (!f.addOn.empty() && f.addOn != s.barcode.addOn) {
            for (Tally* t : tallies) ++t->wrong;
            ADD_FAILURE() << scene::barcodeName(kind) << " seed " << seed << " add-on \"" << f.addOn << "\"";
          }
        }
        for (size_t i = 0; i < s.others.size() && !truth; ++i)
          if (f.text == s.others[i].text) {
            truth = &s.scene.symbols[2 + i];
            ++second.read;
          }
        if (!truth) {
          for (Tally* t : tallies) ++t->wrong;
          ADD_FAILURE() << scene::barcodeName(kind) << " " << scene::conditionName(condition) << " seed " << seed
                        << " read \"" << f.text << "\" for \"" << s.barcode.text << "\"";
        } else if (condition != Condition1d::perspective && condition != Condition1d::phone &&
                   kind != Barcode1d::ean13AddOn && !boxMatches(f, *truth)) {
          // (The truth box of a symbol with its add-on ends at the add-on, the read's at the symbol.)
          // Perspective and a curved label bend the bar ends away from the lines' straight fit:
          // boxes held there too loosely to count.
          ++badBoxes;
          ADD_FAILURE() << scene::barcodeName(kind) << " seed " << seed << " box of \"" << f.text << "\" off";
        }
      }
      if (read)
        for (Tally* t : tallies) ++t->read;
    }
  }
  std::printf("%-9s", "");
  for (Condition1d c : scene::kAllConditions1d) std::printf(" %11s", scene::conditionName(c));
  std::printf("   all\n");
  for (const auto& [kind, k] : perKind) {
    std::printf("%-9s", scene::barcodeName(kind));
    for (Condition1d c : scene::kAllConditions1d) {
      const Tally& t = table[{kind, c}];
      std::printf("     %3d/%-3d", t.read, t.scenes);
    }
    std::printf("   %5.1f%%\n", 100.0 * k.read / k.scenes);
  }
  std::printf("%-9s", "all");
  for (Condition1d c : scene::kAllConditions1d)
    std::printf("      %5.1f%%", 100.0 * perCondition[c].read / perCondition[c].scenes);
  int read = 0, scenes = 0;
  for (const auto& [kind, k] : perKind) {
    read += k.read;
    scenes += k.scenes;
    EXPECT_EQ(k.wrong, 0) << scene::barcodeName(kind);
    // Codabar has no check character: a blurred or slanted one needs two lines reading it whole.
    EXPECT_GE(k.read, (kind == Barcode1d::codabar ? 0.8 : 0.95) * k.scenes) << scene::barcodeName(kind);
  }
  for (const auto& [condition, t] : perCondition) {
    EXPECT_EQ(t.wrong, 0) << scene::conditionName(condition);
    // Phone scenes (short bars under digits, glare, a curved label, JPEG) are what the road still
    // misses most (77% read): held a little under today's rate so that it only goes up.
    // (The sanitizer build's fifth of the scenes holds about twenty phone scenes: its floor is lower.)
    const double floor = condition == Condition1d::phone ? (kSceneStride == 1 ? 0.7 : 0.5) : 0.9;
    EXPECT_GE(t.read, floor * t.scenes) << scene::conditionName(condition);
  }
  std::printf("   %5.1f%%\nread %d of %d scenes, %d of %d second barcodes, %d boxes off\n", 100.0 * read / scenes, read,
              scenes, second.read, second.scenes, badBoxes);
  EXPECT_GE(second.read, 0.8 * second.scenes);
  EXPECT_EQ(badBoxes, 0);
}

// Scenes without a 1D barcode: text, bar-like clutter, noise, flat backgrounds, Data Matrix and
// PDF417 symbols (next to Data Matrix symbols, and the PDF417 scenes of every condition).
TEST(Road1d, NothingReadWithoutABarcode) {
  int reads = 0, scenes = 0;
  for (scene::Category c : {scene::Category::textOnly, scene::Category::barsOnly, scene::Category::noiseOnly,
                            scene::Category::plain, scene::Category::clean, scene::Category::multiSymbol}) {
    for (uint32_t seed = 0; seed < 8; seed += kSceneStride) {
      scene::SceneSpec spec = scene::makeSpec(c, seed + 500);
      if (c == scene::Category::multiSymbol) {
        // One of the symbols becomes a PDF417.
        spec.symbols[0] = scene::encodePdf417("PDF417 " + std::to_string(seed));
        spec.placements[0].moduleSize = 2;
      }
      scene::Scene sc;
      try {
        sc = scene::render(spec);
      } catch (const std::runtime_error&) {
        continue;  // the PDF417 overlaps another symbol
      }
      ++scenes;
      for (const road1d::Symbol& f : runRoad(sc.image)) {
        ++reads;
        ADD_FAILURE() << scene::categoryName(c) << " seed " << seed << " read \"" << f.text << "\"";
      }
    }
  }
  // PDF417 scenes in every condition: rows of bars and spaces with start and stop patterns.
  for (scene::ConditionPdf c : scene::kAllConditionsPdf)
    for (uint32_t seed = 0; seed < 3; seed += kSceneStride) {
      ++scenes;
      for (const road1d::Symbol& f : runRoad(scene::generatePdf(c, seed + 700).scene.image)) {
        ++reads;
        ADD_FAILURE() << "PDF417 " << scene::conditionName(c) << " seed " << seed << " read \"" << f.text << "\"";
      }
    }
  EXPECT_EQ(reads, 0);
  EXPECT_GE(scenes, 64 / kSceneStride);
}

// Teeth on a line of bars and spaces of one to four modules: a pair of weak edges splitting one
// element (a stain in a bar, a speck in a space) goes, strong edges and short lines stay.
TEST(Road1d, TeethMergeOnlyWeakSplits) {
  const std::string modules = "2112141113231311232341112421133112";  // bar first
  std::vector<road1d::LineEdge> line;
  double at = 40;
  for (size_t i = 0; i <= modules.size(); ++i) {
    line.push_back({at, i % 2 == 1, 100});
    if (i < modules.size()) at += 6.0 * (modules[i] - '0');
  }
  struct Case {
    size_t element;  // the element split at its middle
    double strength;
    bool merged;
  } cases[] = {{20, 25, true}, {30, 25, true}, {25, 25, true}, {20, 100, false}};  // bars of 4 and 3, a space of 4
  for (const Case& c : cases) {
    std::vector<road1d::LineEdge> split = line;
    const double middle = 0.5 * (line[c.element].position + line[c.element + 1].position);
    const bool bar = c.element % 2 == 0;
    split.insert(split.begin() + c.element + 1,
                 {{middle - 1, bar, c.strength}, {middle + 1, !bar, c.strength}});
    EXPECT_EQ(road1d::mergedByTeeth(split).size(), c.merged ? line.size() : split.size()) << c.element;
  }
  const std::vector<road1d::LineEdge> few(line.begin(), line.begin() + 6);
  EXPECT_EQ(road1d::mergedByTeeth(few).size(), few.size());
  EXPECT_NEAR(road1d::modulePitch(line), 6.0, 0.1);
}

// Edges from a profile's extremes on what a phone makes of bars of one to four modules: blur,
// the camera's gamma and light falling off along the line. Every edge is found (none missing,
// none added) within a tolerance of its true place, and a flat noisy line has none.
TEST(Road1d, ExtremaEdgesFollowBlurredBars) {
  const std::string modules = "2112141113231311232341112421133112";  // bar first
  struct Case {
    double module, sigma, gamma, falloff, tolerance;  // pixels, pixels, exponent, of the contrast, pixels
  } cases[] = {{3.0, 0.8, 1.0, 0.0, 0.3}, {3.0, 1.5, 1.0, 0.0, 0.5}, {2.0, 0.8, 0.6, 0.5, 0.5},
               {1.5, 0.6, 1.0, 0.3, 0.45}, {4.0, 1.5, 1.8, 0.6, 0.6}};
  for (const Case& c : cases) {
    std::vector<double> edges;
    double at = 30;
    for (char m : modules) {
      edges.push_back(at);
      at += c.module * (m - '0');
    }
    edges.push_back(at);
    const int n = static_cast<int>(at + 30);
    // Reflectance 0.1 in bars, 0.9 in spaces, blurred (in light), lit less towards the end,
    // then through the gamma to grey levels.
    std::vector<double> profile(n);
    for (int i = 0; i < n; ++i) {
      double light = 0;
      for (size_t k = 0; k <= edges.size(); ++k) {
        const double from = k == 0 ? -1e9 : edges[k - 1], to = k == edges.size() ? 1e9 : edges[k];
        const double level = k % 2 == 1 ? 0.1 : 0.9;  // element k - 1 is a bar when k is odd
        light += level * 0.5 * (std::erf((to - i) / (c.sigma * std::sqrt(2.0))) - std::erf((from - i) / (c.sigma * std::sqrt(2.0))));
      }
      profile[i] = 255 * std::pow(light * (1 - c.falloff * i / n), 1 / c.gamma);
    }
    const std::vector<road1d::LineEdge> found = oned::extremaEdges(profile);
    ASSERT_EQ(found.size(), edges.size()) << c.module << " " << c.sigma;
    for (size_t k = 0; k < edges.size(); ++k) {
      EXPECT_NEAR(found[k].position, edges[k], c.tolerance) << c.module << " " << c.sigma << " edge " << k;
      EXPECT_EQ(found[k].rising, k % 2 == 1) << k;
    }
  }
  scene::Random rng(3);
  std::vector<double> flat(400);
  for (double& v : flat) v = 180 + rng.uniform(-1.4, 1.4);
  EXPECT_TRUE(oned::extremaEdges(flat).empty());
}

// Photographs without barcodes (objects and packaging, printed and handwritten text, faces,
// animals, buildings, scenery) from the sample data that opencv-doc and python3-skimage
// install. idut-find runs every symbology over them, the 1D road as it runs it: no 1D symbol may
// come back. What the 2D roads report is printed, not held: those photos are not their test.
TEST(Road1d, NothingReadOnPhotographs) {
#ifndef IDUT_FIND_EXE
  GTEST_SKIP() << "idut-find is not built";
#else
  std::string files;
  int photos = 0, run = 0;
  for (const char* dir : {"/usr/share/doc/opencv-doc/examples/data", "/usr/lib/python3/dist-packages/skimage/data"}) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
      const std::string ext = entry.path().extension().string();
      // Files of a few hundred bytes are the decoders' test cases (one is truncated on purpose).
      if ((ext != ".png" && ext != ".jpg") || entry.file_size(error) < 4096) continue;
      if (photos++ % kSceneStride == 0) {
        files += " '" + entry.path().string() + "'";
        ++run;
      }
    }
  }
  if (files.empty()) GTEST_SKIP() << "no sample photographs installed (opencv-doc, python3-skimage)";
  FILE* pipe = popen((std::string(IDUT_FIND_EXE) + " --no-progress" + files + " 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::map<std::string, int> found;
  const std::regex symbolLine(R"(^(.*): (\S+) \()");
  char line[4096];
  while (fgets(line, sizeof line, pipe)) {
    std::cmatch m;
    if (!std::regex_search(line, m, symbolLine)) continue;
    ++found[m[2].str()];
    if (m[2] != "DataMatrix" && m[2] != "PDF417") ADD_FAILURE() << line;
  }
  const int status = pclose(pipe);  // 1: every photograph read, nothing located
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << status;
  std::printf("%d photographs:", run);
  for (const auto& [symbology, count] : found) std::printf(" %s %d", symbology.c_str(), count);
  std::printf("\n");
#endif
}

// Two blocks of bars side by side: the strongest region spans both when a symbol's wide space could
// part them (a gap of up to four and a half cells, running the same way, side by side across),
// one block only when the gap is wider, the blocks are offset across, or their bars run another way.
TEST(Road1d, PiecesOfOneSymbolJoinIntoOneRegion) {
  struct Case {
    int gap, offsetAcross;
    bool tilted;  // the second block's bars slanted by 45 degrees
    bool joined;
  } cases[] = {{40, 0, false, true}, {50, 10, false, true}, {90, 0, false, false}, {40, 70, false, false},
               {40, 0, true, false}};
  for (const Case& c : cases) {
    scene::GreyImage image(500, 200, 200);
    auto block = [&](int x0, int y0, bool tilted) {
      for (int y = y0; y < y0 + 60; ++y)
        for (int x = x0; x < x0 + 120; ++x) {
          const int u = tilted ? x + (y - y0) : x;
          if ((u / 4) % 2 == 0) image.at(x, y) = 30;
        }
    };
    block(40, 60, false);
    block(40 + 120 + c.gap, 60 + c.offsetAcross, c.tilted);
    scene::ImageView view(image);
    cimg_windowConst w;
    ASSERT_EQ(cimg_windowConst_init(&w, view.get()), 0);
    const std::vector<road1d::Region> regions = road1d::findRegions(w, 24);
    // The strongest region across the upright bars (a slanted block has a region of its own).
    const auto upright = std::find_if(regions.begin(), regions.end(), [](const road1d::Region& r) { return std::fabs(r.dx) > 0.95; });
    ASSERT_NE(upright, regions.end());
    const road1d::Region& r = *upright;
    // Both blocks and the gap, or one block (the cells reach a little past the bars).
    const double span = r.alongMax - r.alongMin;
    EXPECT_EQ(span > 240 + c.gap - 24, c.joined)
        << "gap " << c.gap << " offset " << c.offsetAcross << " tilted " << c.tilted << " span " << span;
    EXPECT_LT(span, 240 + c.gap + 48);
  }
}

// Two short blocks of bars one above the other a narrow gap apart, their bars slanted opposite
// ways: their cells join into one group, whose lines spread over both would cross each block once
// or twice. The region keeps each block as a piece of its own, reading its own way.
TEST(Road1d, BlocksSideBySideAcrossArePiecesOfTheirOwnWay) {
  const struct {
    int gap;
    double slant;  // the upper block's bars sheared by slant pixels per row, the lower's by -slant
  } cases[] = {{8, 0.04}, {8, 0.08}, {4, 0.06}, {10, 0.05}, {12, 0.07}};
  for (const auto& c : cases) {
    scene::GreyImage image(400, 200, 200);
    auto block = [&](int y0, double slant) {
      for (int y = y0; y < y0 + 36; ++y)
        for (int x = 100; x < 260; ++x) {
          int dark = 0;  // of eight samples across the pixel, so that the slant is seen
          for (int k = 0; k < 8; ++k) dark += static_cast<int>(std::floor((x + k / 8.0 + slant * (y - y0 - 18)) / 4)) % 2 == 0;
          image.at(x, y) = static_cast<uint8_t>(200 - 170 * dark / 8);
        }
    };
    block(40, c.slant);
    block(40 + 36 + c.gap, -c.slant);
    scene::ImageView view(image);
    cimg_windowConst w;
    ASSERT_EQ(cimg_windowConst_init(&w, view.get()), 0);
    const std::vector<road1d::Region> regions = road1d::findRegions(w, 24);
    const auto both = std::find_if(regions.begin(), regions.end(), [](const road1d::Region& r) { return r.piecesApart; });
    ASSERT_NE(both, regions.end()) << "gap " << c.gap;
    ASSERT_EQ(both->pieces.size(), 2u) << "gap " << c.gap;
    for (const road1d::Region& piece : both->pieces) {
      // Reading across the bars: (1, s) for bars sheared by s pixels per row.
      const double expected = piece.cy < 40 + 36 ? std::atan(c.slant) : -std::atan(c.slant);
      const double angle = std::atan(piece.dy / piece.dx);
      EXPECT_NEAR(angle, expected, 0.015) << "gap " << c.gap << " piece at y " << piece.cy;
    }
  }
}

}  // namespace

// The profiles' rounding of sample places agrees with std::lround at and either side of every
// half, where a rounding that adds 0.5 before truncating goes wrong (0.49999999999999994 + 0.5
// is 1 in doubles), and up to the largest place an image allows.
TEST(Road1d, SamplePlacesRoundAsLround) {
  const double cases[] = {0.0,   0.1,     0.49999999999999994, 0.5,        0.5000000000000001, 1.0,
                          1.4999999999999998, 1.5, 2.5,        4095.5,     4096.4999999999995, 8191.999999999999,
                          12345.678, 536870911.5, 536870912.49999994, 2147483646.5};
  for (double v : cases) EXPECT_EQ(road1d::roundNonNegative(v), std::lround(v)) << v;
  for (int k = 0; k < 100000; ++k) {
    const double v = k * 0.03125 + (k % 3) * 1e-12;
    ASSERT_EQ(road1d::roundNonNegative(v), std::lround(v)) << v;
  }
}

// What lies beyond a read symbol in its region is read again as a region of its own: every part
// is shorter than the region by a cell at least, whatever the read's place (a read reaching past
// the region's ends, or lying wholly beside it, gave the region back as it was, or longer, and
// the road read on without end on a 50-megapixel sheet).
TEST(Road1d, PartsBeyondAReadAreShorterThanTheirRegion) {
  const road1d::Region r = regionAlongX(500, 100, -200, 200, -20, 20);  // 400 px long
  const struct {
    const char* what;
    double from, to;  // the read's first and last bar, x
    size_t parts;
    std::string addOn = {};  // an EAN-13's add-on, past its last bar
  } cases[] = {
      {"in the middle", 450, 550, 2},   {"at the start", 300, 400, 1},      {"at the end", 600, 700, 1},
      {"past both ends", 250, 750, 0},  {"wholly before", 100, 200, 0},     {"wholly after", 800, 900, 0},
      {"a sliver short of the end", 300, 695, 0},
      // An EAN-13 of 100 px (modules of 100/95 px) read with its add-on, which ends at most 61
      // modules (5 digits) or 34 (2 digits) past its last bar: no part holds the add-on alone.
      {"a 5-digit add-on after it", 450, 550, 2, "12345"}, {"read backwards, a 2-digit add-on", 550, 450, 2, "12"},
      {"an add-on filling the rest", 520, 620, 1, "12345"},
  };
  for (const auto& c : cases) {
    road1d::Symbol s;
    s.symbology = oned::Symbology::ean13;
    s.addOn = c.addOn;
    s.corners = {{{c.from, 110}, {c.to, 110}, {c.from, 90}, {c.to, 90}}};
    const double reach = c.addOn.empty() ? 0 : std::abs(c.to - c.from) / 95 * (c.addOn.size() == 5 ? 61 : 34);
    const double lo = std::min(c.from, c.to) - (c.to < c.from ? reach : 0);
    const double hi = std::max(c.from, c.to) + (c.to > c.from ? reach : 0);
    const std::vector<road1d::Region> parts = road1d::beyondRead(r, s);
    EXPECT_EQ(parts.size(), c.parts) << c.what;
    for (const road1d::Region& p : parts) {
      EXPECT_LE(p.alongMax - p.alongMin, r.alongMax - r.alongMin - 12) << c.what;
      EXPECT_TRUE(p.alongMax <= lo - r.cx + 1e-9 || p.alongMin >= hi - r.cx - 1e-9) << c.what << ": a part overlaps the read";
    }
  }
}

// Labels of grey paper on a white page a few pixels apart, in a row and one above the other,
// every one read at its place: the page's sharp step is steeper than the soft bars' edges, and one
// region's lines cross several labels.
constexpr int kLabelModule = 3, kLabelWidth = 500, kLabelHeight = 84;  // bars of 60 px, quiet zones of 10 modules

// A label of kLabelWidth x height at (x0, y0) on the page, bars of barHeight across its middle:
// the code's bars softened by a box of a module (a print seen by a camera), the label's edges
// sharp. Returns the bars' centre.
scene::Point drawLabel(scene::GreyImage& page, const scene::Encoded1d& code, int x0, int y0, int paper,
                       int height = kLabelHeight, int barHeight = 60) {
  auto dark = [&](int u) { return u >= 0 && u / kLabelModule < code.bars.cols && code.bars.isDark(0, u / kLabelModule); };
  const int barTop = y0 + (height - barHeight) / 2;
  for (int y = y0; y < y0 + height; ++y)
    for (int x = x0; x < x0 + kLabelWidth; ++x) {
      int sum = 0;
      for (int d = -1; d <= 1; ++d)
        sum += y >= barTop && y < barTop + barHeight && dark(x + d - x0 - 10 * kLabelModule) ? 40 : paper;
      page.at(x, y) = static_cast<uint8_t>(sum / 3);
    }
  return {x0 + 10 * kLabelModule + 0.5 * code.bars.cols * kLabelModule, y0 + 0.5 * height};
}

TEST(Road1d, LabelsSideBySideOnAPageEachRead) {
  const struct {
    const char* what;
    int columns, rows, gap, paper;
    int height = kLabelHeight, barHeight = 60;
  } cases[] = {{"two in a row, 16 px apart", 2, 1, 16, 190}, {"three in a row, 4 px apart", 3, 1, 4, 200},
               {"two in a row, 17 px apart", 2, 1, 17, 170}, {"two above each other, 8 px apart", 1, 2, 8, 190},
               {"two by two, 16 px apart", 2, 2, 16, 185},   {"one alone, 30 px from the page's edges", 1, 1, 30, 180},
               // The labels' edges run along the bars, far past their ends.
               {"bars of 24 px on labels of 240, 16 px apart", 2, 1, 16, 180, 240, 24}};
  const std::pair<Barcode1d, const char*> codes[] = {
      {Barcode1d::code128, "SHELF-A1"}, {Barcode1d::upca, "03600029145"}, {Barcode1d::ean13, "400638133393"},
      {Barcode1d::code39, "LOT 42"},    {Barcode1d::code128, "PARCEL-7"}, {Barcode1d::upca, "01234567890"},
      {Barcode1d::ean13, "590123412345"}};
  int drawn = 0;
  for (const auto& c : cases) {
    scene::GreyImage page(c.gap + c.columns * (kLabelWidth + c.gap), c.gap + c.rows * (c.height + c.gap), 255);
    std::vector<std::pair<std::string, scene::Point>> labels;
    for (int k = 0; k < c.columns * c.rows; ++k, ++drawn) {
      const scene::Encoded1d code = scene::encode1d(codes[drawn % 7].first, codes[drawn % 7].second, 10);
      const int x0 = c.gap + (k % c.columns) * (kLabelWidth + c.gap), y0 = c.gap + (k / c.columns) * (c.height + c.gap);
      labels.push_back({code.text, drawLabel(page, code, x0, y0, c.paper, c.height, c.barHeight)});
    }
    const std::vector<road1d::Symbol> found = runRoad(page);
    for (const auto& [text, centre] : labels) {
      bool read = false;
      for (const road1d::Symbol& s : found)
        read = read || (s.text == text && std::fabs(0.5 * (s.corners[0][0] + s.corners[3][0]) - centre.x) < 60 &&
                        std::fabs(0.5 * (s.corners[0][1] + s.corners[3][1]) - centre.y) < 40);
      EXPECT_TRUE(read) << c.what << ": \"" << text << "\" not read at its place";
    }
    EXPECT_EQ(found.size(), labels.size()) << c.what;
  }
}

// Faint and noisy scenes laid on a white page, as a sheet of pictures puts them, read as they do
// alone: the page's step past a scene's border is far stronger than a faint symbol's edges and of
// the first bar's sense, and must not be taken for the symbol's first edge, even where the bars
// come within a cell or two of the border.
TEST(Road1d, FaintScenesOnAWhitePageReadAsAlone) {
  constexpr int kBorder = 24;
  int readAlone = 0;
  for (Barcode1d kind : scene::kAllBarcodes1d)
    for (Condition1d condition : {Condition1d::lowContrast, Condition1d::noisy})
      for (uint32_t seed = 0; seed < 4; seed += kSceneStride) {
        const scene::Scene1d s = scene::generate1d(kind, condition, 1000 * seed);
        const scene::GreyImage& alone = s.scene.image;
        auto reads = [&](const std::vector<road1d::Symbol>& found) {
          return std::any_of(found.begin(), found.end(), [&](const road1d::Symbol& f) { return f.text == s.barcode.text; });
        };
        if (!reads(runRoad(alone))) continue;
        ++readAlone;
        scene::GreyImage page(alone.width + 2 * kBorder, alone.height + 2 * kBorder, 255);
        for (int y = 0; y < alone.height; ++y)
          for (int x = 0; x < alone.width; ++x) page.at(x + kBorder, y + kBorder) = alone.at(x, y);
        EXPECT_TRUE(reads(runRoad(page))) << scene::barcodeName(kind) << " " << scene::conditionName(condition)
                                          << " seed " << 1000 * seed << " read alone, not on a white page";
      }
  EXPECT_GT(readAlone, 0);
}

// A UPC-A whose bars read only along a band of 26 px across their 180 (the rest of its height
// another symbol's right half, failing the check), the band at places across one pitch of the
// region's lines: read wherever the band lies, though at some places a single line of the
// region's crosses it.
TEST(Road1d, ASymbolReadableAlongANarrowBandReadsWhereverTheBandLies) {
  const scene::Encoded1d good = scene::encode1d(Barcode1d::upca, "03600029145", 10);
  const scene::Encoded1d other = scene::encode1d(Barcode1d::upca, "12345678901", 10);
  ASSERT_EQ(good.bars.cols, other.bars.cols);
  constexpr int kModule = 3, kBarsTop = 20, kBarsHeight = 180, kBand = 26;
  for (const int bandTop : {80, 84, 88, 92, 96, 100, 104}) {
    scene::GreyImage image(good.bars.cols * kModule + 60, kBarsTop * 2 + kBarsHeight, 200);
    for (int y = kBarsTop; y < kBarsTop + kBarsHeight; ++y) {
      const bool inBand = y >= bandTop && y < bandTop + kBand;
      for (int col = 0; col < good.bars.cols; ++col) {
        const scene::Encoded1d& code = inBand || col < good.bars.cols / 2 ? good : other;
        if (!code.bars.isDark(0, col)) continue;
        for (int x = 30 + col * kModule; x < 30 + (col + 1) * kModule; ++x) image.at(x, y) = 40;
      }
    }
    const std::vector<road1d::Symbol> found = runRoad(image);
    EXPECT_EQ(found.size(), 1u) << "band at " << bandTop;
    for (const road1d::Symbol& s : found) EXPECT_EQ(s.text, good.text) << "band at " << bandTop;
  }
}

// Symbols cropped right at their outermost bars, so that the image border is their only quiet
// zone and the outermost bars are dark up to it (the bars softened by a box of a module inside
// the image, as drawLabel's). Code 39 and Code 128 read: a cut
// does not imitate their ends. ITF and EAN-13 do not: four narrow elements or a guard left by a
// cut through a longer symbol would read as a shorter one.
TEST(Road1d, SymbolsCroppedAtTheirBarsReadWhereACutCannotImitateTheirEnds) {
  const struct {
    Barcode1d kind;
    const char* data;
    bool reads;
  } cases[] = {{Barcode1d::code39, "TEST-SHEET", true},
               {Barcode1d::code128, "SHELF-A1", true},
               {Barcode1d::itf, "30712345000010", false},
               {Barcode1d::ean13, "590123412345", false}};
  for (const auto& c : cases) {
    const scene::Encoded1d code = scene::encode1d(c.kind, c.data, 10);
    int first = code.bars.cols, last = -1;
    for (int col = 0; col < code.bars.cols; ++col)
      if (code.bars.isDark(0, col)) {
        first = std::min(first, col);
        last = col;
      }
    ASSERT_LE(first, last) << c.data;
    constexpr int kModule = 3;
    auto dark = [&](int u) { return u >= first * kModule && u < (last + 1) * kModule && code.bars.isDark(0, u / kModule); };
    scene::GreyImage image((last + 1 - first) * kModule, 60, 200);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) {
        int sum = 0;
        for (int d = -1; d <= 1; ++d) sum += dark(std::clamp(x + d, 0, image.width - 1) + first * kModule) ? 40 : 200;
        image.at(x, y) = static_cast<uint8_t>(sum / 3);
      }
    const std::vector<road1d::Symbol> found = runRoad(image);
    if (c.reads) {
      ASSERT_EQ(found.size(), 1u) << c.data;
      EXPECT_EQ(found[0].text, code.text);
    } else {
      EXPECT_TRUE(found.empty()) << c.data << " read as " << (found.empty() ? "" : found[0].text);
    }
  }
}

// A symbol filling a frame much shorter than its bars, the bars slanted a few degrees: the scan
// lines along the symbol leave the image through its top and bottom long before the symbol ends,
// and read on along the border row, which crosses the same bars. Every slant reads; so does the
// upright symbol in a frame cut a module past its ends, whose quiet zones lie beyond the left and
// right borders, where its lines run on over the border columns' light.
TEST(Road1d, SymbolsFillingAShortFrameReadAtASlant) {
  const struct {
    Barcode1d kind;
    const char* data;
    double degrees;
    int quietModules;
  } cases[] = {{Barcode1d::code128, "SHELF-A1", 0, 1},   {Barcode1d::code128, "SHELF-A1", 6, 10},
               {Barcode1d::code128, "SHELF-A1", 10, 10}, {Barcode1d::code39, "TEST-SHEET", 8, 10},
               {Barcode1d::ean13, "590123412345", 0, 1}, {Barcode1d::ean13, "590123412345", 7, 10}};
  for (const auto& c : cases) {
    const scene::Encoded1d code = scene::encode1d(c.kind, c.data, 10);
    constexpr double kModule = 2.5;
    const int cols = code.bars.cols;
    const double length = (cols + 2 * c.quietModules) * kModule;
    const double angle = c.degrees * std::acos(-1.0) / 180, ca = std::cos(angle), sa = std::sin(angle);
    scene::GreyImage image(static_cast<int>(length * ca), 36, 210);
    // Each pixel the mean of 3 x 3 points of the bars (modules from the symbol's left end, the
    // bars infinitely tall, turned about the image centre).
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) {
        int sum = 0;
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) {
            const double px = x + (i + 0.5) / 3 - image.width / 2.0, py = y + (j + 0.5) / 3 - image.height / 2.0;
            const double module = (px * ca + py * sa + length / 2) / kModule - c.quietModules;
            const bool dark = module >= 0 && module < cols && code.bars.isDark(0, static_cast<int>(module));
            sum += dark ? 35 : 210;
          }
        image.at(x, y) = static_cast<uint8_t>(sum / 9);
      }
    const std::vector<road1d::Symbol> found = runRoad(image);
    ASSERT_EQ(found.size(), 1u) << c.data << " at " << c.degrees << " degrees";
    EXPECT_EQ(found[0].text, code.text) << c.degrees << " degrees";
  }
}

// Another road's read claims its outline: the labels it covers are not looked for, those beside
// it are, whichever way round its corners go; an outline without area claims nothing.
TEST(Road1d, ClaimedOutlinesHideOnlyWhatTheyCover) {
  scene::GreyImage page(2 * kLabelWidth + 48, kLabelHeight + 32, 255);
  const scene::Encoded1d left = scene::encode1d(Barcode1d::code128, "CLAIMED-1", 10);
  const scene::Encoded1d right = scene::encode1d(Barcode1d::upca, "03600029145", 10);
  drawLabel(page, left, 16, 16, 190);
  drawLabel(page, right, 32 + kLabelWidth, 16, 190);
  const road1d::Outline overLeft{{{12, 12}, {20.0 + kLabelWidth, 12}, {20.0 + kLabelWidth, 20.0 + kLabelHeight}, {12, 20.0 + kLabelHeight}}};
  const road1d::Outline reversed{{overLeft[3], overLeft[2], overLeft[1], overLeft[0]}};
  const road1d::Outline inGap{{{18.0 + kLabelWidth, 0}, {30.0 + kLabelWidth, 0}, {30.0 + kLabelWidth, 120}, {18.0 + kLabelWidth, 120}}};
  const road1d::Outline flat{{{12, 12}, {520, 12}, {1000, 12}, {12, 12}}};
  const struct {
    const char* what;
    std::vector<road1d::Outline> claimed;
    std::vector<std::string> texts;
  } cases[] = {{"nothing claimed", {}, {"036000291452", "CLAIMED-1"}},
               {"the left label claimed", {overLeft}, {"036000291452"}},
               {"the left label claimed, corners the other way round", {reversed}, {"036000291452"}},
               {"the gap between them claimed", {inGap}, {"036000291452", "CLAIMED-1"}},
               {"an outline without area", {flat}, {"036000291452", "CLAIMED-1"}}};
  scene::ImageView view(page);
  for (const auto& c : cases) {
    road1d::Options options;
    options.claimed = c.claimed;
    std::vector<std::string> texts;
    for (const road1d::Symbol& s : road1d::findAll(*view, options).symbols) texts.push_back(s.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, c.texts) << c.what;
  }
  // The margin widens an outline on every side, a point on its edge lies within it.
  EXPECT_TRUE(road1d::withinOutline(overLeft, 12, 50, 0));
  EXPECT_FALSE(road1d::withinOutline(overLeft, 9, 50, 2));
  EXPECT_TRUE(road1d::withinOutline(reversed, 9, 50, 4));
}

// EAN/UPC decided by a few lines: those must lie apart by several modules (lines closer than
// that cross one flaw of the print alike), or take in a good part of a thin region.
TEST(Road1d, AFewLinesDecidingAnEanUpcSymbolLieApart) {
  using oned::Symbology;
  const struct {
    const char* what;
    Symbology symbology;
    std::vector<double> across;  // the agreeing lines, over a symbol 102 px long
    double regionAcross;
    bool decided;
  } cases[] = {
      {"UPC-E, two lines 2 modules apart in a tall region", Symbology::upce, {0, 4}, 90, false},
      {"UPC-E, two lines 6 modules apart", Symbology::upce, {0, 12}, 90, true},
      {"UPC-E, two lines 2 modules apart in a thin strip", Symbology::upce, {0, 4}, 12, true},
      {"UPC-E, three lines close together", Symbology::upce, {0, 3, 6}, 90, false},
      {"UPC-E, four lines close together", Symbology::upce, {0, 2, 4, 6}, 90, true},
      {"EAN-8, two lines 3 modules apart", Symbology::ean8, {0, 4.5}, 90, false},
      {"Code 128, two lines close together", Symbology::code128, {0, 4}, 90, true},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<road1d::LineRead>> perLine(c.across.size());
    for (size_t k = 0; k < c.across.size(); ++k) {
      road1d::LineRead lr{};
      lr.read.symbology = c.symbology;
      lr.read.text = "04963406";
      lr.startAlong = 0;
      lr.endAlong = 102;
      lr.across = c.across[k];
      lr.line = static_cast<int>(k);
      perLine[k].push_back(lr);
    }
    EXPECT_EQ(road1d::decides(road1d::countVotes(perLine), road1d::Options{}, c.regionAcross), c.decided) << c.what;
  }
}

// The region's line reads as votes: a text read elsewhere along the lines is another label and
// no rival, a text over the same bars is, wherever its lines lie; rivals on lines apart from the
// winner's (a label above or below) mark where to part the region, interleaved ones do not.
TEST(Road1d, VotesCountRivalsOnlyOverTheSameBars) {
  struct R {
    const char* text;
    double from, to;
    int line;
  };
  const struct {
    const char* what;
    std::vector<R> reads;
    bool decided;
    const char* winner;
    int split;  // twice the line between, -1: none
  } cases[] = {
      {"two labels in a row", {{"A", 0, 100, 1}, {"A", 0, 100, 2}, {"B", 120, 220, 1}, {"B", 120, 220, 2}}, true, "A", -1},
      {"a misread over the same bars", {{"A", 0, 100, 1}, {"A", 0, 100, 2}, {"B", 10, 90, 5}}, false, "A", 7},
      {"a misread among the lines", {{"A", 0, 100, 1}, {"A", 0, 100, 6}, {"B", 0, 100, 3}, {"B", 0, 100, 4}}, false, "", -1},
      {"outvoted twice over", {{"A", 0, 100, 0}, {"A", 0, 100, 1}, {"A", 0, 100, 2}, {"B", 0, 100, 3}}, true, "A", 5},
      {"one line only", {{"A", 0, 100, 1}}, false, "A", -1},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<road1d::LineRead>> perLine(9);
    for (const R& r : c.reads) {
      road1d::LineRead lr{};
      lr.read.text = r.text;
      lr.startAlong = r.from;
      lr.endAlong = r.to;
      lr.line = r.line;
      perLine[r.line].push_back(lr);
    }
    const road1d::Votes v = road1d::countVotes(perLine);
    EXPECT_EQ(road1d::decides(v, road1d::Options{}, 90), c.decided) << c.what;
    if (*c.winner) {
      EXPECT_EQ(v.winner.second, c.winner) << c.what;
    }
    EXPECT_EQ(!v.interleaved ? v.splitBetween : -1, c.split) << c.what;
  }
}

// The band beside a read starts where the read's own bars stop, not at its box: bars running on
// past the box (the lines that did not agree), a row of digits under them and a page's edge each
// end the bars at their true end, within a step of the comparison.
TEST(Road1d, BandsBesideAReadStartWhereItsBarsStop) {
  const struct {
    const char* what;
    int barsTop, barsBottom;  // rows the bars cover; the read's box covers rows 80 to 110
    bool digits;              // blobs of a digit's size in a row under the bars, else another label
    int side;                 // +1: the band below the box, -1: the one above
    double reach;             // how far past the box the bars show
  } cases[] = {
      {"bars ending at the box", 60, 110, true, 1, 0},    {"bars running on 24 px", 60, 134, true, 1, 24},
      {"bars running on 40 px", 60, 150, true, 1, 40},    {"another label under the bars", 60, 124, false, 1, 14},
      {"bars above the box, 20 px", 60, 150, true, -1, 20}, {"bars ending at the top", 80, 150, true, -1, 0},
  };
  const scene::Encoded1d code = scene::encode1d(Barcode1d::code128, "BAND-42", 10);
  const scene::Encoded1d other = scene::encode1d(Barcode1d::code128, "WXYZ-7", 10);
  constexpr int kModule = 2, kLeft = 40;
  for (const auto& c : cases) {
    scene::GreyImage page(kLeft * 2 + code.bars.cols * kModule, 200, 230);
    for (int y = c.barsTop; y < c.barsBottom; ++y)
      for (int x = 0; x < code.bars.cols * kModule; ++x)
        if (code.bars.isDark(0, x / kModule)) page.at(kLeft + x, y) = 30;
    for (int y = c.barsBottom; !c.digits && y < c.barsBottom + 40; ++y)
      for (int x = 0; x < other.bars.cols * kModule; ++x)
        if (other.bars.isDark(0, x / kModule)) page.at(kLeft + x, y) = 30;
    // Digits: blobs 6 px wide and 12 high with gaps that follow no bar.
    for (int x = kLeft + 5; c.digits && x + 6 < kLeft + code.bars.cols * kModule; x += 11)
      for (int y = c.barsBottom + 3; y < c.barsBottom + 15; ++y)
        for (int dx = 0; dx < 6; ++dx) page.at(x + dx, y) = (dx < 2 || dx > 3 || (y / 4) % 2) ? 30 : 230;
    scene::ImageView view(page);
    cimg_windowConst w;
    ASSERT_EQ(cimg_windowConst_init(&w, view.get()), 0);
    const double half = 0.5 * page.width;  // along x through the box's middle
    const road1d::Region r = regionAlongX(half, 95, -half + 4, half - 4, -90, 100);
    road1d::Symbol s;
    const double x0 = kLeft, x1 = kLeft + code.bars.cols * kModule;
    s.corners = {{{x0, 110}, {x1, 110}, {x0, 80}, {x1, 80}}};
    const double edge = c.side > 0 ? 110 - r.cy : 80 - r.cy;
    EXPECT_NEAR(road1d::ownBarsReach(w, r, s, edge, c.side, 80), c.reach, 3.01) << c.what;
  }
}

// One symbol read from several regions gives the same bands again: the same rectangle, within a
// few pixels and whichever way along, is one band; a shifted, shorter or turned one is another.
TEST(Road1d, ABandIsTheSameOnlyOverTheSameRectangle) {
  const road1d::Region band = regionAlongX(300, 200, -150, 150, 20, 60);
  const struct {
    const char* what;
    double shiftAlong, shiftAcross, shorter, turn;  // pixels, pixels, pixels off alongMax, degrees
    bool same;
  } cases[] = {{"itself", 0, 0, 0, 0, true},           {"2 px along", 2, 0, 0, 0, true},
               {"2 px across", 0, -2, 0, 0, true},     {"10 px across", 0, 10, 0, 0, false},
               {"shorter by 30 px", 0, 0, 30, 0, false}, {"turned 20 degrees", 0, 0, 0, 20, false},
               {"the same, its direction reversed", 0, 0, 0, 180, true}};
  for (const auto& c : cases) {
    road1d::Region other = band;
    const double t = c.turn * 3.14159265358979 / 180;
    other.dx = std::cos(t);
    other.dy = std::sin(t);
    other.cx += c.shiftAlong;
    other.cy += c.shiftAcross;
    other.alongMax -= c.shorter;
    if (c.turn == 180) {  // the same rectangle in the reversed frame
      other.acrossMin = -band.acrossMax;
      other.acrossMax = -band.acrossMin;
    }
    EXPECT_EQ(road1d::sameAsAny(other, {band}), c.same) << c.what;
  }
}

// A band is read only over its own region's bar cells in it: cells other groups gathered are
// regions of their own, and a row of cells too few or too low for a label is text.
TEST(Road1d, BandsShrinkToTheirOwnBarCells) {
  road1d::BarCells cells;  // 40 x 20 cells of 12 px, no bar cells but those each case sets
  cells.cols = 40;
  cells.rows = 20;
  const struct {
    const char* what;
    int group, col0, col1, row0, row1;  // a block of bar cells, columns and rows inclusive
    bool kept;
    double alongMin, alongMax;  // the band's extent along when kept (x - 240)
  } cases[] = {
      {"a label's cells of its own group", 7, 10, 19, 4, 7, true, -120, 0},
      {"cells of another group", 8, 10, 19, 4, 7, false, 0, 0},
      {"two cells", 7, 10, 11, 4, 4, false, 0, 0},
      {"a row of digits one cell high", 7, 5, 30, 5, 5, false, 0, 0},
  };
  for (const auto& c : cases) {
    cells.group.assign(static_cast<size_t>(cells.cols) * cells.rows, -1);
    for (int row = c.row0; row <= c.row1; ++row)
      for (int col = c.col0; col <= c.col1; ++col) cells.group[static_cast<size_t>(row) * cells.cols + col] = c.group;
    road1d::Region band = regionAlongX(240, 72, -240, 240, -36, 36);  // rows 3 to 8 (36 to 108 px), the grid's width
    band.groups = {7};
    band.lowestLabel = 30;
    const bool kept = road1d::shrinkToBarCells(cells, band);
    EXPECT_EQ(kept, c.kept) << c.what;
    if (!kept || !c.kept) continue;
    EXPECT_NEAR(band.alongMin, c.alongMin, 0.01) << c.what;
    EXPECT_NEAR(band.alongMax, c.alongMax, 0.01) << c.what;
    EXPECT_NEAR(band.acrossMin, 4 * 12 - 72, 0.01) << c.what;  // the cells' rows, clipped to the band
    EXPECT_NEAR(band.acrossMax, 8 * 12 - 72, 0.01) << c.what;
  }
}

// Symbols of wide modules (a close-up, a photograph at full resolution) on a page, their bars as
// tall as their length: most cells lie inside a wide element, and the cells of one symbol part
// into pieces too far apart to join. Each is read whole, its modules of 10 to 36 px.
TEST(Road1d, SymbolsOfWideModulesRead) {
  const struct {
    Barcode1d kind;
    const char* data;
    int module;
  } cases[] = {{Barcode1d::code39, "TEST-SHEET", 18}, {Barcode1d::code39, "AB12", 16},
               {Barcode1d::code128, "WIDE-MODULES", 10}, {Barcode1d::ean13, "590123412345", 16},
               {Barcode1d::itf, "30712345000010", 14}, {Barcode1d::upca, "03600029145", 14},
               {Barcode1d::upca, "03600029145", 22}, {Barcode1d::code39, "AB12", 36}};
  for (const auto& c : cases) {
    const scene::Encoded1d code = scene::encode1d(c.kind, c.data, 10);
    const int length = code.bars.cols * c.module, height = length / 3;
    scene::GreyImage page(length + 40, height + 40, 230);
    for (int y = 20; y < 20 + height; ++y)
      for (int x = 20; x < 20 + length; ++x)
        if (code.bars.isDark(0, (x - 20) / c.module)) page.at(x, y) = 40;
    const std::vector<road1d::Symbol> found = runRoad(page);
    EXPECT_EQ(found.size(), 1u) << c.data << " at " << c.module << " px";
    if (!found.empty()) {
      EXPECT_EQ(found[0].text, code.text) << c.module << " px";
    }
  }
}
