// The scene generator must put real symbols exactly where its ground truth says, or every
// location test built on it would measure the generator instead of the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "scenes/scene.hpp"
#include "scenes/scene_pdf.hpp"

using scene::Category;
using scene::Point;
using scene::Polarity;
using scene::Scene;
using scene::SceneSpec;
using scene::SymbolTruth;

namespace {

// Reads the module grid back through the map that takes the symbol's outer grid corners to the
// given image points (lCorner, rowEnd, opposite, columnEnd), and returns the fraction of
// modules whose grey is nearer the other level than the one libzint asks for.
double moduleMismatch(const Scene& sc, const SymbolTruth& t, const std::array<Point, 4>& corners) {
  const double rows = t.rows, cols = t.cols;
  const scene::Homography h = scene::homographyFromPoints({Point{0, rows}, {cols, rows}, {cols, 0}, {0, 0}}, corners);
  int wrong = 0;
  for (int r = 0; r < t.rows; ++r)
    for (int c = 0; c < t.cols; ++c) {
      const Point centre = h.map(c + 0.5, r + 0.5), side = h.map(c + 0.8, r + 0.5);
      const double radius = std::max(0.5, 0.6 * std::hypot(side.x - centre.x, side.y - centre.y));
      const double v = sc.image.meanAround(centre, radius);
      wrong += (std::fabs(v - t.setLevel) < std::fabs(v - t.unsetLevel)) != t.symbol.isDark(r, c);
    }
  return static_cast<double>(wrong) / (t.rows * t.cols);
}

// Fraction of points half a module outside the symbol, along all four sides, whose grey is
// nearer the set level than the quiet zone's.
double quietZoneMismatch(const Scene& sc, const SymbolTruth& t) {
  int wrong = 0;
  const int n = 2 * (t.rows + t.cols);
  for (int i = 0; i < n; ++i) {
    const int k = i / 2, far = i % 2;  // along the columns, then along the rows
    const Point m = k < t.cols ? Point{k + 0.5, far ? t.rows + 0.5 : -0.5}
                               : Point{far ? t.cols + 0.5 : -0.5, k - t.cols + 0.5};
    const double value = sc.image.sample(t.imageFromModule.map(m));
    wrong += std::fabs(value - t.setLevel) < std::fabs(value - t.unsetLevel);
  }
  return static_cast<double>(wrong) / n;
}

// A one-symbol spec with no clutter, blur or noise; the background equals the quiet zone.
SceneSpec plainSpec(const scene::DmSymbol& sym, const scene::Placement& p, int width, int height) {
  return {.width = width, .height = height, .background = p.polarity == Polarity::darkOnLight ? 220.0 : 30.0,
          .darkLevel = 30, .lightLevel = 220, .symbols = {sym}, .placements = {p}};
}

}  // namespace

TEST(SceneSupport, EncodingAndProjectiveMaps) {
  // Every size family carries the finder pattern: solid left column and bottom row, alternating
  // top row and right column.
  for (const auto& [option, sizes, rows, cols] : {std::tuple{1, scene::DmSizes::squareOnly, 10, 10},
                                                  {24, scene::DmSizes::squareOnly, 144, 144},
                                                  {31, scene::DmSizes::withRectangular, 8, 48}}) {
    const scene::DmSymbol s = scene::encodeDataMatrix("A1", option, sizes);
    ASSERT_TRUE(s.rows == rows && s.cols == cols && s.text == "A1") << option;
    for (int r = 0; r < s.rows; ++r) EXPECT_TRUE(s.isDark(r, 0) && s.isDark(r, s.cols - 1) == (r % 2 == 1)) << option;
    for (int c = 0; c < s.cols; ++c) EXPECT_TRUE(s.isDark(s.rows - 1, c) && s.isDark(0, c) == (c % 2 == 0)) << option;
  }
  EXPECT_NE(scene::encodeDataMatrix("ABC", 2).modules, scene::encodeDataMatrix("XYZ", 2).modules);

  // A map solved from four point pairs agrees with the one that made them; inverse and
  // composition undo it.
  const scene::Homography h{{{3.1, -0.4, 120}, {0.7, 2.6, 80}, {0.002, -0.003, 1}}};
  const std::array<Point, 4> from{Point{0, 0}, {20, 0}, {20, 14}, {0, 14}};
  const scene::Homography solved =
      scene::homographyFromPoints(from, {h.map(from[0]), h.map(from[1]), h.map(from[2]), h.map(from[3])});
  auto gap = [](Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); };
  for (const Point p : {Point{3, 5}, Point{-7, 22}, Point{13.5, 0.25}}) {
    const Point m = h.map(p);
    EXPECT_LT(gap(m, solved.map(p)) + gap(h.inverse().map(m), p) + gap((h.inverse() * h).map(p), p), 3e-9);
  }
}

TEST(SceneRender, AxisAlignedIntegerGridIsDrawnPixelExact) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("GRID", 27);  // 12 x 26
  for (Polarity pol : {Polarity::darkOnLight, Polarity::lightOnDark}) {
    const int x0 = 17, y0 = 11;
    const scene::Placement p{
        .centre = {x0 + sym.cols * 1.5, y0 + sym.rows * 1.5}, .moduleSize = 3, .quietZone = 2, .polarity = pol};
    SceneSpec spec = plainSpec(sym, p, 120, 70);
    spec.background = 128;  // differs from both levels, so the quiet zone's extent shows
    const Scene sc = scene::render(spec);
    const SymbolTruth& t = sc.symbols.at(0);
    const double X = x0, Y = y0;
    const std::array<Point, 4> o = t.outline(), want{Point{X, Y + 36}, {X + 78, Y + 36}, {X + 78, Y}, {X, Y}};
    for (int i = 0; i < 4; ++i) EXPECT_LT(std::hypot(o[i].x - want[i].x, o[i].y - want[i].y), 1e-9) << i;
    EXPECT_EQ(t.setLevel, pol == Polarity::darkOnLight ? 30 : 220);
    int wrong = 0;
    for (int y = 0; y < sc.image.height; ++y)
      for (int x = 0; x < sc.image.width; ++x) {
        const int mx = (x - x0 + 6) / 3 - 2, my = (y - y0 + 6) / 3 - 2;  // module index, quiet zone -1 and -2
        const bool inZone = x >= x0 - 6 && y >= y0 - 6 && mx < sym.cols + 2 && my < sym.rows + 2;
        const bool set = mx >= 0 && my >= 0 && mx < sym.cols && my < sym.rows && sym.isDark(my, mx);
        wrong += sc.image.at(x, y) != (!inZone ? 128 : set ? t.setLevel : t.unsetLevel);
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(SceneRender, AreaSamplingConservesInkAtAnyAngleAndPhase) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("conservation", 0);
  const int dark = static_cast<int>(std::count(sym.modules.begin(), sym.modules.end(), 1));
  scene::Random r(99);
  for (int trial = 0; trial < 8; ++trial) {
    scene::Placement p;
    p.moduleSize = r.uniform(2, 7);
    p.angleDeg = r.uniform(0, 360);
    p.centre = {100 + r.uniform(0, 1), 100 + r.uniform(0, 1)};
    const Scene sc = scene::render(plainSpec(sym, p, 200, 200));
    const SymbolTruth& t = sc.symbols[0];
    double ink = 0;
    int partial = 0;
    for (uint8_t v : sc.image.pixels) {
      ink += (static_cast<double>(t.unsetLevel) - v) / (t.unsetLevel - t.setLevel);
      partial += v != t.setLevel && v != t.unsetLevel;
    }
    const double expected = dark * p.moduleSize * p.moduleSize;
    EXPECT_NEAR(ink, expected, 0.003 * expected) << "module " << p.moduleSize << " angle " << p.angleDeg;
    EXPECT_GT(partial, 0) << "edges are anti-aliased";
  }
}

TEST(SceneGenerate, EveryCategoryMatchesItsTruthAndRepeatsItsBytes) {
  for (Category c : scene::kAllCategories) {
    const double limit = c == Category::clean ? 0.002 : c == Category::blurred || c == Category::noisy ? 0.05 : 0.02;
    std::vector<uint8_t> previous;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(std::string(scene::categoryName(c)) + " seed " + std::to_string(seed));
      const Scene sc = scene::generate(c, seed);
      const size_t lo = !scene::hasSymbols(c) ? 0 : c == Category::multiSymbol ? 2 : 1, hi = lo == 2 ? 4 : lo;
      EXPECT_TRUE(sc.symbols.size() >= lo && sc.symbols.size() <= hi) << sc.symbols.size();
      // Same seed, same bytes; the next seed, another scene.
      EXPECT_TRUE(seed > 1 || scene::generate(c, seed).image.pixels == sc.image.pixels);
      EXPECT_FALSE(sc.image.pixels == previous);
      previous = sc.image.pixels;
      for (const SymbolTruth& t : sc.symbols) {
        // The symbol reads back where the truth puts it, with its quiet zone; a quarter turn or
        // a mirror of the labels reads a different pattern.
        const auto o = t.outline();
        EXPECT_LE(moduleMismatch(sc, t, o), limit);
        EXPECT_LE(quietZoneMismatch(sc, t), limit);
        EXPECT_GT(t.rows == t.cols ? moduleMismatch(sc, t, {o[1], o[2], o[3], o[0]}) : 1.0, 0.2);
        EXPECT_GT(moduleMismatch(sc, t, {o[2], o[3], o[0], o[1]}), 0.2);
        EXPECT_GT(moduleMismatch(sc, t, {o[1], o[0], o[3], o[2]}), 0.2);
      }
    }
  }
}

TEST(SceneGenerate, PdfScenesCarryTheirLayoutsAndMatchTheirTruth) {
  // Start pattern 8 1 1 1 1 1 1 3 and stop pattern 7 1 1 3 1 1 1 2 1 on every module row.
  const std::string start = "11111111010101000", stop = "111111101000101001";
  for (scene::ConditionPdf c : scene::kAllConditionsPdf) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(std::string(scene::conditionName(c)) + " seed " + std::to_string(seed));
      const scene::ScenePdf sp = scene::generatePdf(c, seed);
      EXPECT_TRUE(seed > 1 || scene::generatePdf(c, seed).scene.image.pixels == sp.scene.image.pixels);
      ASSERT_FALSE(sp.pdf.empty());
      for (size_t i = 0; i < sp.pdf.size(); ++i) {
        const SymbolTruth& t = sp.scene.symbols[i];
        const scene::Pdf417Layout& l = sp.pdf[i].layout;
        EXPECT_TRUE(l.columns >= 2 && l.columns <= 30 && l.security >= 0 && l.security <= 8) << l.columns;
        EXPECT_TRUE(l.rowHeight >= 2 && l.rowHeight <= 5 && t.rows == l.rowHeight * sp.pdf[i].zintRows);
        const bool large = c == scene::ConditionPdf::large, framed = c == scene::ConditionPdf::framed;
        EXPECT_TRUE(t.moduleSize >= (large ? 3 : 1.5) && t.moduleSize <= (large ? 8 : 6)) << t.moduleSize;
        EXPECT_TRUE(!large || l.columns >= 10) << l.columns;
        // Compact PDF417 has no right row indicator and a stop pattern of one bar module.
        const bool compact = sp.pdf[i].content.compact;
        EXPECT_EQ(t.cols, compact ? 17 * (l.columns + 2) + 1 : 17 * (l.columns + 4) + 1);
        for (int r = 0; r < t.rows; r += 7)
          for (int k = 0; k < 17; ++k)
            ASSERT_TRUE(t.symbol.isDark(r, k) == (start[k] == '1') &&
                        (compact ? t.symbol.isDark(r, t.cols - 1) && !t.symbol.isDark(r, t.cols - 2)
                                 : t.symbol.isDark(r, t.cols - 18 + k) == (stop[k] == '1')));
        EXPECT_LE(moduleMismatch(sp.scene, t, t.outline()), c == scene::ConditionPdf::clean ? 0.01 : 0.08);
        if (!framed) {
          EXPECT_LE(quietZoneMismatch(sp.scene, t), 0.08);
          continue;
        }
        // A framed scene is cut to the bars: every side of the image within a module and a half
        // (and the pixel the cut rounds to) of the symbol's box, which the image still holds.
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (const Point& p : t.outline()) x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
        const double reach = 1.5 * t.moduleSize + 1, w = sp.scene.image.width, h = sp.scene.image.height;
        EXPECT_TRUE(x0 >= -0.01 && y0 >= -0.01 && x1 <= w + 0.01 && y1 <= h + 0.01) << x0 << " " << y0 << " " << x1 << " " << y1;
        EXPECT_TRUE(x0 <= reach && y0 <= reach && w - x1 <= reach && h - y1 <= reach) << x0 << " " << y0 << " " << w - x1 << " " << h - y1;
      }
    }
  }
}

TEST(SceneRender, RefusesScenesWhoseTruthWouldBeWrong) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("12345", 0);
  scene::Placement p{.centre = {30, 60}, .moduleSize = 6};  // the quiet zone reaches past x = 0
  EXPECT_THROW(scene::render(plainSpec(sym, p, 200, 120)), std::runtime_error);
  p.centre = {100, 60};
  SceneSpec spec = plainSpec(sym, p, 200, 120);
  spec.symbols.push_back(sym);
  spec.placements.push_back({.centre = {150, 60}, .moduleSize = 6});  // quiet zones overlap
  EXPECT_THROW(scene::render(spec), std::runtime_error);
  p.perspectiveU = 2.5;  // folds the symbol over the horizon
  EXPECT_THROW(scene::render(plainSpec(sym, p, 200, 120)), std::runtime_error);
}
