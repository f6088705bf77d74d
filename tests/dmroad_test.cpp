// The Data Matrix road over generated scenes with libzint symbols: location rate and corner error
// per kind of scene, each symbol reported once, claimed symbols skipped, empty scenes empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ci_id/dmdriver.h"
#include "ci_id/mask.h"
#include "ci_id/region.h"
#include "reader/datamatrix/dmdenoise.hpp"
#include "reader/datamatrix/dmupscale.hpp"
#include "reader/datamatrix/dmelongated.hpp"
#include "reader/datamatrix/dmroad.hpp"
#include "reader/datamatrix/dmscan.hpp"
#include "scenes/scene.hpp"
#include "support/shapes.hpp"
#include "support/fixtures.hpp"

namespace {

using scene::Category;

// Corner errors in truth order (L corner, row end, opposite, column end). Truth and reports
// share one pixel convention.
std::array<double, 4> cornerErrors(const scene::SymbolTruth& t, const dmroad::Symbol& s) {
  return ::cornerErrors(s.corners, t.outline());
}

// All four corners within max(2 px, one module), times slack.
bool located(const scene::SymbolTruth& t, const dmroad::Symbol& s, double slack = 1) {
  const auto e = cornerErrors(t, s);
  return *std::max_element(e.begin(), e.end()) <= slack * std::max(2.0, t.moduleSize);
}

// The L corner and both solid sides' ends: what a parallelogram gets right over a keystone.
bool lLocated(const scene::SymbolTruth& t, const dmroad::Symbol& s) {
  const auto e = cornerErrors(t, s);
  const double tol = std::max(2.0, t.moduleSize);
  return e[0] <= tol && e[1] <= tol && e[3] <= tol;
}

// Keystoned symbols are searched with relaxed corners, as a caller expecting them would.
dmroad::Options optionsFor(Category c, bool verify) {
  dmroad::Options o;
  o.lowContrast = c == Category::lowContrast;
  o.verify = verify;
  o.fitFarSides = verify;  // the library alone: its corners as they are, on the image as it is
  o.denoise = verify;
  o.frame = verify;
  o.elongated = verify;
  if (c == Category::perspective) o.tune = [](cid2d_trackingParams& p) { p.relaxedCorners = 1; };
  return o;
}

long reportsOf(const dmroad::Outcome& out, const scene::SymbolTruth& t, double slack = 1) {
  return std::count_if(out.symbols.begin(), out.symbols.end(), [&](auto& s) { return located(t, s, slack); });
}

// Reports lying on no symbol even within `slack` modules: false finds.
int extras(const dmroad::Outcome& out, const scene::Scene& sc, double slack) {
  return static_cast<int>(std::count_if(out.symbols.begin(), out.symbols.end(), [&](auto& s) {
    return std::none_of(sc.symbols.begin(), sc.symbols.end(), [&](auto& t) { return located(t, s, slack); });
  }));
}

double median(std::vector<double> v) {
  if (v.empty()) return 1e300;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

// 60 fixed-seed scenes of each kind (300 in all), every row scanned. Floors are the rates this
// implementation reaches less a little room. "located" is the library alone (border check off:
// its first report of a symbol is claimed, accurate or not); "checked" is the road as idut-find
// runs it, where a report failing the border check is dropped and a later seed may do better,
// and where the far sides are measured in the image. The library's parallelogram cannot follow
// a keystone, so on perspective scenes the library alone is held to the L; the road must get
// all four corners.
TEST(DataMatrixRoad, LocationRateAndCornerErrorPerKindOfScene) {
  struct Floor {
    Category category;
    double located, checked, lLocated, medianError;  // median over the corners counted
  };
  const Floor floors[] = {{Category::clean, 0.95, 0.95, 0.95, 0.75},
                          {Category::noisy, 0.78, 0.95, 0.80, 0.6},
                          {Category::blurred, 0.85, 0.90, 0.86, 2.2},
                          {Category::lowContrast, 0.95, 0.95, 0.95, 0.55},
                          {Category::perspective, 0, 0.62, 0.68, 0.85}};
  std::printf("%-12s %7s %8s %8s %8s %7s | library misses: aspect small inaccurate notFound | extra\n", "kind",
              "symbols", "located", "checked", "L", "median");
  for (const Floor& f : floors) {
    const bool lOnly = f.category == Category::perspective;
    int symbols = 0, hits = 0, checkedHits = 0, lHits = 0, extra = 0;
    int missAspect = 0, missSmall = 0, missInaccurate = 0, missNotFound = 0;
    std::vector<double> errors;
    for (uint32_t seed = 1000; seed < 1060; ++seed) {
      const scene::Scene sc = scene::generate(f.category, seed);
      const scene::ImageView view(sc.image);
      const dmroad::Outcome raw = dmroad::findAll(*view, optionsFor(f.category, false));
      const dmroad::Outcome checked = dmroad::findAll(*view, optionsFor(f.category, true));
      ASSERT_EQ(raw.status | checked.status, 0) << scene::categoryName(f.category) << " seed " << seed;
      for (const auto& t : sc.symbols) {
        ++symbols;
        // The road takes the long rectangles too (the library alone does not: "aspect" below).
        checkedHits += reportsOf(checked, t) > 0;
        const auto hit = std::find_if(raw.symbols.begin(), raw.symbols.end(), [&](auto& s) { return located(t, s); });
        const auto lHit = std::find_if(raw.symbols.begin(), raw.symbols.end(), [&](auto& s) { return lLocated(t, s); });
        lHits += lHit != raw.symbols.end();
        if (lOnly && lHit != raw.symbols.end()) {
          const auto e = cornerErrors(t, *lHit);
          errors.insert(errors.end(), {e[0], e[1], e[3]});
        }
        if (hit != raw.symbols.end()) {
          ++hits;
          if (!lOnly) for (double e : cornerErrors(t, *hit)) errors.push_back(e);
          continue;
        }
        const int shortSide = std::min(t.rows, t.cols), longSide = std::max(t.rows, t.cols);
        if (longSide > 5 * shortSide) ++missAspect;
        else if (t.moduleSize * shortSide < 15) ++missSmall;
        else if (reportsOf(raw, t, 4) > 0) ++missInaccurate;
        else ++missNotFound;
      }
      extra += extras(checked, sc, 4);
    }
    const double n = symbols;
    std::printf("%-12s %7d %7.1f%% %7.1f%% %7.1f%% %7.2f | %21d %5d %10d %8d | %d\n",
                scene::categoryName(f.category), symbols, 100 * hits / n, 100 * checkedHits / n,
                100 * lHits / n,
                median(errors), missAspect, missSmall, missInaccurate, missNotFound, extra);
    if (!lOnly) {
      EXPECT_GE(hits / n, f.located) << scene::categoryName(f.category);
    }
    EXPECT_GE(checkedHits / n, f.checked) << scene::categoryName(f.category);
    EXPECT_GE(lHits / n, f.lLocated) << scene::categoryName(f.category);
    EXPECT_LE(median(errors), f.medianError) << scene::categoryName(f.category);
    EXPECT_LE(extra, 1) << scene::categoryName(f.category);
  }
}

// Symbols seen at a steep angle, where the search's parallelogram misses the far corner by up to
// half a side and may stand on any corner of the symbol, not only its L: the road, as idut-find
// runs it, still reports each once with all four corners on the keystone's and the right size.
// The big symbols of small modules have far sides of barely two pixels a module; on the long
// rectangle the search's second side can run a few degrees off its true one.
TEST(DataMatrixRoad, SteepKeystonesAreLocatedFromAnyCorner) {
  struct Case {
    const char* text;
    double angle, perspectiveU, perspectiveV;
    bool lightOnDark;
    int sizeOption = 0;  // the encoder's size choice (10: 32 x 32, 12: 40 x 40, 41: 20 x 44; 0: smallest square)
    double moduleSize = 6;
  };
  const Case cases[] = {{"bmAHH13JjX", 15, -0.2, -0.35, false},        {"bmAHH13JjX", 15, 0.35, 0.2, true},
                        {"bmAHH13JjX", 105, 0.2, 0.35, false},         {"bmAHH13JjX", 105, 0.35, 0.35, true},
                        {"bmAHH13JjX", 195, 0.35, 0.2, false},         {"bmAHH13JjX", 285, -0.2, -0.35, true},
                        {"keystone 1234567890", 15, 0.35, 0.35, false}, {"keystone 1234567890", 105, -0.2, -0.35, true},
                        {"keystone 1234567890", 195, -0.2, -0.35, true}, {"keystone 1234567890", 285, 0.35, 0.35, false},
                        {"FiiNszE0/d", 0, 0.35, -0.35, false, 10, 2.2}, {"FiiNszE0/d", 250, -0.35, -0.35, false, 10, 2.2},
                        {"FiiNszE0/d", 75, 0.35, 0.35, true, 10, 2.6},  {"FiiNszE0/d", 25, 0.35, 0.35, true, 12, 2.6},
                        {"tGni6YFB77SRLV3YpR/y5d 4APpqjxfYqj", 157.5, -0.015, 0.226, false, 41, 3.3},
                        {"tGni6YFB77SRLV3YpR/y5d 4APpqjxfYqj", 247.5, -0.015, 0.226, false, 41, 3.3}};
  for (const Case& c : cases) {
    const scene::Scene sc = scene::render(
        {.width = 420, .height = 420, .background = c.lightOnDark ? 40.0 : 200.0,
         .symbols = {scene::encodeDataMatrix(c.text, c.sizeOption,
                                             c.sizeOption > 24 ? scene::DmSizes::withRectangular : scene::DmSizes::squareOnly)},
         .placements = {{.centre = {210, 210}, .moduleSize = c.moduleSize, .angleDeg = c.angle, .perspectiveU = c.perspectiveU,
                         .perspectiveV = c.perspectiveV, .quietZone = 2,
                         .polarity = c.lightOnDark ? scene::Polarity::lightOnDark : scene::Polarity::darkOnLight}},
         .lines = 2, .blurSigma = 0.6, .noiseSigma = 2, .seed = 7});
    const scene::ImageView view(sc.image);
    const dmroad::Outcome out = dmroad::findAll(*view, dmroad::Options{});
    ASSERT_EQ(out.status, 0);
    const scene::SymbolTruth& t = sc.symbols[0];
    const std::string what = std::string(c.text) + " at " + std::to_string(c.angle) + " keystone " +
                             std::to_string(c.perspectiveU) + " " + std::to_string(c.perspectiveV);
    ASSERT_EQ(out.symbols.size(), 1u) << what;
    EXPECT_TRUE(located(t, out.symbols[0])) << what;
    EXPECT_EQ(std::minmax(out.symbols[0].rows, out.symbols[0].cols), std::minmax(t.rows, t.cols)) << what;
  }
}

// The bands of marked cells a long rectangle's outline leaves, picked out for the turned views:
// a glyph of clutter whose marks touch the band's side (a stalk of a few cells) must not make
// it look too wide to be one, in either direction; a blob that is not long, and a band joined
// to clutter as big as a good part of it, are not taken.
TEST(DataMatrixRoad, LongBandsSurviveClutterJoinedAtTheirSide) {
  struct Rect {
    int x0, y0, x1, y1;  // cells, inclusive
  };
  struct Case {
    const char* what;
    std::vector<Rect> marks;
    bool found;
    double direction;  // of the band found, radians in [0, pi)
    int frame = 0;     // pixels of frame round the picture; its outline then rings the cells
  };
  const Case cases[] = {
      {"band alone", {{10, 20, 49, 23}}, true, 0},
      {"band with a stalk above", {{10, 20, 49, 23}, {30, 12, 30, 19}}, true, 0},
      {"band with a stalk below its end", {{10, 20, 49, 23}, {48, 24, 48, 31}}, true, 0},
      {"upright band with a stalk", {{20, 5, 23, 44}, {24, 30, 31, 30}}, true, 1.5707963},
      {"blob", {{10, 10, 39, 21}}, false, 0},
      {"band joined to a big blob", {{10, 20, 49, 23}, {40, 8, 47, 19}}, false, 0},
      // A column of glyphs across the band's end touches it at one cell (whether the marks touch
      // depends on where the picture falls on the cells), on a picture framed as the road frames.
      {"band touching a long column of glyphs", {{6, 24, 53, 29}, {56, 4, 57, 55}, {54, 27, 55, 27}}, true, 0, 8},
      // A picture with a margin all round, framed in the other class: the outline of its edge
      // rings it, on the frame and just inside, and a stalk of marks joins the band to it.
      {"band joined to the outline of the picture's edge",
       {{10, 20, 49, 23}, {30, 3, 30, 19}, {1, 1, 62, 2}, {1, 61, 62, 62}, {1, 1, 2, 62}, {61, 1, 62, 62}},
       true, 0, 8},
      {"the outline of the picture's edge alone", {{1, 1, 62, 2}, {1, 61, 62, 62}, {1, 1, 2, 62}, {61, 1, 62, 62}},
       false, 0, 8},
  };
  constexpr int kCells = 64;
  for (const Case& c : cases) {
    std::vector<uint8_t> cells(kCells * kCells, 0);
    for (const Rect& r : c.marks)
      for (int y = r.y0; y <= r.y1; ++y)
        for (int x = r.x0; x <= r.x1; ++x) cells[y * kCells + x] = 1;
    const cimg_window marking{kCells, kCells, 0, 0, kCells, cells.data()};
    const std::vector<uint8_t> before(cells.size(), 0);
    // The road's bounds: an 8 x 48 of 1.5-pixel modules, with a cell of marks each side across.
    const int picture = 4 * kCells - 2 * c.frame;
    const auto bands = dmroad::elongatedOutlines(marking, before, c.frame, picture, picture, 72, 16);
    ASSERT_EQ(bands.size(), c.found ? 1u : 0u) << c.what;
    if (!c.found) continue;
    // Directions a half turn apart are the same band's.
    const double off = std::fmod(std::fabs(bands[0].direction - c.direction), 3.14159265358979323846);
    EXPECT_LT(std::min(off, 3.14159265358979323846 - off), 0.1) << c.what;
    // The box holds every marked cell, a cell of margin round them.
    const Rect& band = c.marks[0];
    EXPECT_LE(bands[0].x0, 4 * (band.x0 - 1) - c.frame) << c.what;
    EXPECT_GE(bands[0].x1, 4 * (band.x1 + 2) - c.frame) << c.what;
  }
}

// Multi-symbol scenes: without the border check, the library's marking image and mask alone
// must keep a symbol from being reported twice, however loosely; with it, nothing but the
// symbols is reported. The adaptive driver reports only the symbol's L; the road completes it
// along the solid edges and claims it with a margin, so each symbol comes back once with all
// four corners in place. (One group of four bars in the adaptive scenes passes the border check
// as a small symbol: its bar ends make a solid side and the bars and gaps an alternating one.)
TEST(DataMatrixRoad, EachSymbolIsReportedOnce) {
  const struct {
    const char* what;
    bool adaptive;
    std::vector<Category> kinds;
    uint32_t firstSeed, seeds;
    double extraSlack;
    int maxExtra;
  } runs[] = {{"multi-symbol", false, {Category::multiSymbol}, 3000, 20, 1, 0},
              {"adaptive", true, {Category::clean, Category::multiSymbol}, 5000, 15, 4, 1}};
  for (const auto& run : runs) {
    int symbols = 0, found = 0, twice = 0, extra = 0;
    for (Category c : run.kinds)
      for (uint32_t seed = run.firstSeed; seed < run.firstSeed + run.seeds; ++seed) {
        const scene::Scene sc = scene::generate(c, seed);
        const scene::ImageView view(sc.image);
        dmroad::Options checked = optionsFor(c, true);
        checked.adaptive = run.adaptive;  // reports the road as a whole: no separate library run
        const dmroad::Outcome out = dmroad::findAll(*view, checked);
        const dmroad::Outcome rawOut = run.adaptive ? out : dmroad::findAll(*view, optionsFor(c, false));
        ASSERT_EQ(rawOut.status | out.status, 0) << run.what;
        for (const auto& t : sc.symbols) {
          ++symbols;
          twice += reportsOf(rawOut, t, 4) > 1;
          found += reportsOf(out, t) > 0;
        }
        extra += extras(out, sc, run.extraSlack);
      }
    std::printf("%s: %d symbols, %d located, %d reported twice, %d extra\n", run.what, symbols, found, twice, extra);
    EXPECT_EQ(twice, 0) << run.what;
    EXPECT_LE(extra, run.maxExtra) << run.what;
    EXPECT_GE(found, symbols * 9 / 10) << run.what;
  }
}

TEST(DataMatrixRoad, ClaimedSymbolsAreNotReportedAgain) {
  const scene::Scene sc = scene::generate(Category::multiSymbol, 3001);
  ASSERT_GE(sc.symbols.size(), 2u);
  const scene::ImageView view(sc.image);
  const dmroad::Options raw = optionsFor(Category::multiSymbol, false);
  const dmroad::Outcome first = dmroad::findAll(*view, raw);
  for (const auto& t : sc.symbols) ASSERT_EQ(reportsOf(first, t), 1);

  // Claim the first symbol's true outline before a fresh scan: only the others come back.
  cid_mask mask;
  ASSERT_EQ(cid_mask_construct(&mask, nullptr), 0);
  const auto o = sc.symbols[0].outline();
  const cmath_vect c[4] = {{o[0].x, o[0].y}, {o[1].x, o[1].y}, {o[2].x, o[2].y}, {o[3].x, o[3].y}};
  cid_region claimed;
  ASSERT_EQ(cid_region_initVectPoints(&claimed, c, 1), 0);
  ASSERT_EQ(cid_mask_appendRegion(&mask, &claimed, 0.0), 0);
  const dmroad::Outcome second = dmroad::findAll(*view, raw, &mask);
  EXPECT_EQ(reportsOf(second, sc.symbols[0]), 0);
  for (size_t i = 1; i < sc.symbols.size(); ++i) EXPECT_EQ(reportsOf(second, sc.symbols[i]), 1) << i;
  // The road claimed those in the caller's mask: a third scan reports none of them.
  const dmroad::Outcome third = dmroad::findAll(*view, raw, &mask);
  for (const auto& t : sc.symbols) EXPECT_EQ(reportsOf(third, t, 4), 0);
  cid_mask_destruct(&mask);
}

TEST(DataMatrixRoad, ScenesWithoutSymbolsReportNothing) {
  for (Category c : {Category::textOnly, Category::barsOnly, Category::noiseOnly, Category::plain}) {
    int reported = 0, dropped = 0;
    for (uint32_t seed = 4000; seed < 4015; ++seed) {
      const scene::Scene sc = scene::generate(c, seed);
      const scene::ImageView view(sc.image);
      const dmroad::Outcome out = dmroad::findAll(*view, optionsFor(c, true));
      ASSERT_EQ(out.status, 0);
      reported += static_cast<int>(out.symbols.size());
      dropped += out.rejected;
    }
    EXPECT_EQ(reported, 0) << scene::categoryName(c);
    if (c == Category::plain) {
      EXPECT_EQ(dropped, 0);  // a flat gradient offers not even a candidate
    }
  }
}

// Tiny, thin and random images: the road and the searches under it must neither crash nor read
// outside the pixels (the sanitizer build watches), whatever the drivers make of them.
TEST(DataMatrixRoad, TinyAndRandomImagesAreSafe) {
  scene::Random random(77);
  for (int w : {1, 2, 3, 5, 8, 13, 40})
    for (int h : {1, 2, 4, 7, 16, 33}) {
      scene::GreyImage image(w, h);
      for (auto& p : image.pixels) p = random.chance(0.5) ? 20 : static_cast<uint8_t>(random.uniformInt(0, 255));
      const scene::ImageView view(image);
      for (int mode = 0; mode < 3; ++mode) {
        dmroad::Options options;
        options.adaptive = mode == 1;
        options.longRectangles = mode == 2;
        const dmroad::Outcome out = dmroad::findAll(*view, options);
        EXPECT_EQ(out.status, 0) << w << "x" << h << " mode " << mode;
      }
    }
  // A strip wider than the long views can reach is searched without them, not refused.
  const scene::GreyImage strip(40000, 24);
  dmroad::Options options;
  options.longRectangles = true;
  EXPECT_EQ(dmroad::findAll(*scene::ImageView(strip), options).status, 0);
}

// The long rectangles (beyond 5 : 1) are located with their size by default, through views round
// the bands their outlines leave; along an image axis (where the searches' box test drops them)
// and at an angle. Without those views and without the long option, none is reported, and the
// other rectangles of the extension (16 x 64 to 26 x 64, at most 4 : 1) are found either way.
TEST(DataMatrixRoad, LongRectanglesByDefault) {
  // libzint's size options: 31 ... 38 are 8 x 48 ... 8 x 144, 12 x 64, 12 x 88; 39 ... 48 are
  // 16 x 64, 20 x 36 ... 26 x 64.
  for (int option = 31; option <= 48; ++option)
    for (double angle : {0.0, 3.0, 63.0, 90.0}) {
      const scene::Scene sc = scene::render(
          {.width = 560, .height = 560,
           .symbols = {scene::encodeDataMatrix("long " + std::to_string(option), option, scene::DmSizes::withRectangular)},
           .placements = {{.centre = {280, 280}, .moduleSize = 3, .angleDeg = angle, .quietZone = 2}},
           .blurSigma = 0.5, .noiseSigma = 2, .seed = static_cast<uint32_t>(option)});
      const scene::SymbolTruth& t = sc.symbols[0];
      const scene::ImageView view(sc.image);
      dmroad::Options options;
      const dmroad::Outcome byDefault = dmroad::findAll(*view, options);
      options.elongated = false;
      const dmroad::Outcome standard = dmroad::findAll(*view, options);
      ASSERT_EQ(standard.status | byDefault.status, 0);
      const bool isLong = t.cols > 5 * t.rows;
      EXPECT_EQ(reportsOf(standard, t, 4), isLong ? 0 : 1) << t.rows << "x" << t.cols << " at " << angle;
      ASSERT_EQ(reportsOf(byDefault, t), 1) << t.rows << "x" << t.cols << " at " << angle;
      EXPECT_EQ(byDefault.symbols.size(), 1u) << t.rows << "x" << t.cols << " at " << angle;
      const auto found =
          std::find_if(byDefault.symbols.begin(), byDefault.symbols.end(), [&](auto& s) { return located(t, s); });
      EXPECT_EQ(std::pair(std::min(found->rows, found->cols), std::max(found->rows, found->cols)), std::pair(t.rows, t.cols))
          << t.rows << "x" << t.cols << " at " << angle;
    }
}

// The road's own walk of the plain scan seeds where the library's driver does: over a plain
// background the first peak lies on the square's edge, and both stop there with the same line and
// corners. The road's marking then holds every cell the driver's does, and besides them all the
// cells of the pixels each outline point lies between ((x >> 10, y >> 10) to ((x + 255) >> 10,
// (y + 255) >> 10) in 1/256 pixel) and the seed's own cell.
TEST(DataMatrixRoad, ItsScanSeedsLikeTheDriverAndMarksAroundEachOutline) {
  const double kDegree = 3.14159265358979323846 / 180;
  for (double angle : {0.0, 10.0, 33.0}) {
    const shapes::Polygon square = shapes::rectangle(110.3, 97.6, 100, 100, angle * kDegree);
    TrackingBench bench[2] = {{220, 200, {square}, 210, 40}, {220, 200, {square}, 210, 40}};
    std::vector<int32_t> lines;
    for (int32_t y = 1; y < 200; y += 2) lines.push_back(y);
    for (TrackingBench& b : bench) {
      b.params.scanLines = lines.data();
      b.params.scanLineCount = static_cast<int32_t>(lines.size());
    }
    ASSERT_EQ(cf_BndFindNextDMSymbol(&bench[0].image, &bench[0].params, nullptr, nullptr, nullptr, 0, &bench[0].marking,
                                     &bench[0].result),
              0);
    ASSERT_EQ(dmroad::findNextSymbol(&bench[1].image, &bench[1].params, nullptr, nullptr, 0, &bench[1].marking,
                                     &bench[1].result),
              0);
    const cid2d_trackingResult &r0 = bench[0].result, &r1 = bench[1].result;
    ASSERT_EQ(std::tuple(r0.found, r1.found, r0.line), std::tuple(1, 1, r1.line)) << angle;
    EXPECT_EQ(std::memcmp(&r0.rectangle, &r1.rectangle, sizeof r0.rectangle), 0) << angle;
    const cimg_window &a = bench[0].marking.window, &b = bench[1].marking.window;
    std::vector<uint8_t> expected(static_cast<size_t>(b.stride) * b.height, 0);
    auto mark = [&](int32_t cx, int32_t cy) {
      if (cx >= 0 && cy >= 0 && cx < b.width && cy < b.height) expected[static_cast<size_t>(cy) * b.stride + cx] = 1;
    };
    for (uint32_t i = 0; i < r1.boundary.count; ++i) {
      const cbt_point& p = r1.boundary.points[i];
      for (int32_t cy : {p.y >> 10, (p.y + 255) >> 10})
        for (int32_t cx : {p.x >> 10, (p.x + 255) >> 10}) mark(cx, cy);
    }
    mark(r1.seed.x >> 2, r1.seed.y >> 2);
    int onlyDriver = 0, wrong = 0;
    for (int32_t y = 0; y < b.height; ++y)
      for (int32_t x = 0; x < b.width; ++x) {
        onlyDriver += a.pixels[y * a.stride + x] != 0 && b.pixels[y * b.stride + x] == 0;
        wrong += (b.pixels[y * b.stride + x] != 0) != (expected[static_cast<size_t>(y) * b.stride + x] != 0);
      }
    EXPECT_EQ(std::pair(onlyDriver, wrong), std::pair(0, 0)) << angle;
  }
}

// The smoothed copies the road searches in noisy images, once and twice over, against the 3 x 3
// binomial's definition (edges repeated, rounded after each pass): single pixels, rows, columns,
// sizes either side of the row loops' blocks, random levels and extremes. This runs the build
// picked for this processor; baseline_lanes_dmroad runs the baseline one.
TEST(DataMatrixRoad, SmoothedCopiesMatchTheKernel) {
  auto byDefinition = [](const std::vector<uint8_t>& in, int width, int height) {
    std::vector<uint8_t> out(in.size());
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            sum += (2 - dy * dy) * (2 - dx * dx) *
                   in[static_cast<size_t>(std::clamp(y + dy, 0, height - 1)) * width + std::clamp(x + dx, 0, width - 1)];
        out[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((sum + 8) >> 4);
      }
    return out;
  };
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {31, 3}, {32, 4}, {33, 5}, {65, 7}, {130, 41}};
  scene::Random rng(3);
  for (const auto& [width, height] : sizes)
    for (int extremes = 0; extremes < 2; ++extremes) {
      std::vector<uint8_t> in(static_cast<size_t>(width) * height);
      for (uint8_t& v : in) v = static_cast<uint8_t>(extremes ? 255 * rng.uniformInt(0, 1) : rng.uniformInt(0, 255));
      const cimg_windowConst w{width, height, 0, 0, width, in.data()};
      std::vector<uint8_t> once(in.size()), twice(in.size());
      dmroad::smoothBinomial(w, once.data());
      dmroad::smoothBinomialTwice(w, twice.data());
      const std::vector<uint8_t> expectOnce = byDefinition(in, width, height);
      EXPECT_EQ(once, expectOnce) << width << " x " << height;
      EXPECT_EQ(twice, byDefinition(expectOnce, width, height)) << width << " x " << height;
    }
}

// The copy twice as large that small pictures are searched in, against linear interpolation
// between pixel centres worked out in doubles (edges repeated, rounded to nearest, halves up);
// and the mean step both ways that decides which pictures are enlarged.
TEST(DataMatrixRoad, EnlargedCopyInterpolatesBetweenPixelCentres) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 5}, {5, 1}, {2, 3}, {17, 9}};
  scene::Random rng(4);
  for (const auto& [width, height] : sizes) {
    std::vector<uint8_t> in(static_cast<size_t>(width) * height);
    for (uint8_t& v : in) v = static_cast<uint8_t>(rng.uniformInt(0, 255));
    const cimg_windowConst w{width, height, 0, 0, width, in.data()};
    std::vector<uint8_t> out(4 * in.size());
    dmroad::upscaleTwice(w, out.data());
    auto at = [&](int x, int y) { return double(in[size_t(std::clamp(y, 0, height - 1)) * width + std::clamp(x, 0, width - 1)]); };
    for (int y2 = 0; y2 < 2 * height; ++y2)
      for (int x2 = 0; x2 < 2 * width; ++x2) {
        const double fx = (x2 + 0.5) / 2 - 0.5, fy = (y2 + 0.5) / 2 - 0.5;
        const int x = static_cast<int>(std::floor(fx)), y = static_cast<int>(std::floor(fy));
        const double tx = fx - x, ty = fy - y;
        const double v = (at(x, y) * (1 - tx) + at(x + 1, y) * tx) * (1 - ty) + (at(x, y + 1) * (1 - tx) + at(x + 1, y + 1) * tx) * ty;
        ASSERT_EQ(out[size_t(y2) * 2 * width + x2], static_cast<uint8_t>(std::floor(v + 0.5))) << width << " x " << height;
      }
  }
  std::vector<uint8_t> checks(8 * 6), bars(8 * 6), flat(8 * 6, 90);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      checks[size_t(y) * 8 + x] = (x + y) % 2 ? 200 : 40;
      bars[size_t(y) * 8 + x] = x % 2 ? 200 : 40;
    }
  const struct {
    const std::vector<uint8_t>* pixels;
    double step;
  } steps[] = {{&checks, 160}, {&bars, 0}, {&flat, 0}};
  for (const auto& c : steps)
    EXPECT_DOUBLE_EQ(dmroad::meanStepBothWays(cimg_windowConst{8, 6, 0, 0, 8, c.pixels->data()}), c.step);
}
