// The scene generator must put real symbols exactly where its ground truth says, or every
// location test built on it would measure the generator instead of the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "support/scene.hpp"

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

// Whether two convex quadrilaterals (corners in ring order) touch: an edge crossing or a corner
// inside the other, by a winding test independent of the generator's geometry.
bool quadsTouch(const std::array<Point, 4>& a, const std::array<Point, 4>& b) {
  auto orient = [](Point p, Point q, Point r) { return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x); };
  auto inside = [](const std::array<Point, 4>& q, Point p) {
    bool in = false;
    for (int i = 0, j = 3; i < 4; j = i++)
      if ((q[i].y > p.y) != (q[j].y > p.y) && p.x < (q[j].x - q[i].x) * (p.y - q[i].y) / (q[j].y - q[i].y) + q[i].x)
        in = !in;
    return in;
  };
  for (int i = 0; i < 4; ++i) {
    if (inside(a, b[i]) || inside(b, a[i])) return true;
    for (int j = 0; j < 4; ++j) {
      const Point p = a[i], q = a[(i + 1) % 4], r = b[j], s = b[(j + 1) % 4];
      if ((orient(r, s, p) > 0) != (orient(r, s, q) > 0) && (orient(p, q, r) > 0) != (orient(p, q, s) > 0))
        return true;
    }
  }
  return false;
}

// A one-symbol spec with no clutter, blur or noise; the background equals the quiet zone.
SceneSpec plainSpec(const scene::DmSymbol& sym, const scene::Placement& p, int width, int height) {
  SceneSpec spec;
  spec.width = width, spec.height = height, spec.darkLevel = 30, spec.lightLevel = 220;
  spec.background = p.polarity == Polarity::darkOnLight ? 220 : 30;
  spec.symbols = {sym};
  spec.placements = {p};
  return spec;
}

}  // namespace

TEST(SceneSupport, EncodingAndProjectiveMaps) {
  // Every size family carries the finder pattern: solid left column and bottom row, alternating
  // top row and right column.
  for (const auto& [option, sizes, rows, cols] : {std::tuple{1, scene::DmSizes::squareOnly, 10, 10},
                                                  {24, scene::DmSizes::squareOnly, 144, 144},
                                                  {25, scene::DmSizes::squareOnly, 8, 18},
                                                  {31, scene::DmSizes::withRectangular, 8, 48},
                                                  {48, scene::DmSizes::withRectangular, 26, 64}}) {
    const scene::DmSymbol s = scene::encodeDataMatrix("A1", option, sizes);
    ASSERT_TRUE(s.rows == rows && s.cols == cols && s.text == "A1") << option;
    for (int r = 0; r < s.rows; ++r) EXPECT_TRUE(s.isDark(r, 0) && s.isDark(r, s.cols - 1) == (r % 2 == 1)) << option;
    for (int c = 0; c < s.cols; ++c) EXPECT_TRUE(s.isDark(s.rows - 1, c) && s.isDark(0, c) == (c % 2 == 0)) << option;
  }
  EXPECT_EQ(scene::encodeDataMatrix("HELLO WORLD", 0).rows, 16);  // smallest square that holds it
  EXPECT_NE(scene::encodeDataMatrix("ABC", 2).modules, scene::encodeDataMatrix("XYZ", 2).modules);
  EXPECT_THROW(scene::encodeDataMatrix(std::string(40, 'x'), 1), std::runtime_error);

  // A map solved from four point pairs agrees with the one that made them; inverse and
  // composition undo it; collinear points and singular maps are refused.
  scene::Homography h, flat;
  h.m[0][0] = 3.1, h.m[0][1] = -0.4, h.m[0][2] = 120, h.m[1][0] = 0.7, h.m[1][1] = 2.6, h.m[1][2] = 80;
  h.m[2][0] = 0.002, h.m[2][1] = -0.003;
  const std::array<Point, 4> from{Point{0, 0}, {20, 0}, {20, 14}, {0, 14}};
  const scene::Homography solved =
      scene::homographyFromPoints(from, {h.map(from[0]), h.map(from[1]), h.map(from[2]), h.map(from[3])});
  auto gap = [](Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); };
  for (const Point p : {Point{3, 5}, Point{-7, 22}, Point{13.5, 0.25}}) {
    const Point m = h.map(p);
    EXPECT_LT(gap(m, solved.map(p)) + gap(h.inverse().map(m), p) + gap((h.inverse() * h).map(p), p), 3e-9);
  }
  EXPECT_THROW(scene::homographyFromPoints(from, {Point{0, 0}, {1, 1}, {2, 2}, {0, 5}}), std::runtime_error);
  flat.m[0][0] = 1, flat.m[0][1] = 2, flat.m[0][2] = 3;  // the second row twice the first
  flat.m[1][0] = 2, flat.m[1][1] = 4, flat.m[1][2] = 6;
  EXPECT_THROW(flat.inverse(), std::runtime_error);
}

TEST(SceneRender, AxisAlignedIntegerGridIsDrawnPixelExact) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("GRID", 27);  // 12 x 26
  for (Polarity pol : {Polarity::darkOnLight, Polarity::lightOnDark}) {
    scene::Placement p;
    p.moduleSize = 3, p.quietZone = 2, p.polarity = pol;
    const int x0 = 17, y0 = 11;
    p.centre = {x0 + sym.cols * 1.5, y0 + sym.rows * 1.5};
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
    p.moduleSize = r.uniform(2, 7), p.angleDeg = r.uniform(0, 360);
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
  // Half a pixel off the grid, an edge pixel is half covered.
  scene::Placement p;
  p.moduleSize = 4, p.quietZone = 1;
  p.centre = {20.5 + sym.cols * 2, 20.0 + sym.rows * 2};
  const Scene sc = scene::render(plainSpec(sym, p, 40 + sym.cols * 4, 40 + sym.rows * 4));
  const SymbolTruth& t = sc.symbols[0];
  for (int y = 21; y < 20 + 4 * sym.rows; y += 3) EXPECT_NEAR(sc.image.at(20, y), (t.setLevel + t.unsetLevel) / 2.0, 1.0);
}

TEST(SceneGenerate, EveryCategoryKeepsItsPromisesTruthAndBytes) {
  for (Category c : scene::kAllCategories) {
    const double limit = c == Category::clean ? 0.002 : c == Category::blurred || c == Category::noisy ? 0.05 : 0.02;
    std::vector<uint8_t> previous;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(std::string(scene::categoryName(c)) + " seed " + std::to_string(seed));
      const Scene sc = scene::generate(c, seed);
      const SceneSpec& spec = sc.spec;
      const int contrast = spec.lightLevel - spec.darkLevel;
      const size_t lo = !scene::hasSymbols(c) ? 0 : c == Category::multiSymbol ? 2 : 1, hi = lo == 2 ? 4 : lo;
      EXPECT_TRUE(contrast >= 25 && contrast <= 200 && spec.width >= 320 && spec.height >= 240) << contrast;
      EXPECT_TRUE(sc.symbols.size() >= lo && sc.symbols.size() <= hi) << sc.symbols.size();
      EXPECT_TRUE(c != Category::lowContrast || contrast <= 45) << contrast;
      EXPECT_TRUE(c != Category::noisy || spec.noiseSigma >= 8) << spec.noiseSigma;
      EXPECT_TRUE(c != Category::textOnly || spec.textBlocks >= 3);
      EXPECT_TRUE(c != Category::barsOnly || spec.barBlocks >= 2);
      // Same seed, same bytes; the next seed, another scene.
      EXPECT_TRUE(seed > 1 || scene::generate(c, seed).image.pixels == sc.image.pixels);
      EXPECT_FALSE(sc.image.pixels == previous);
      previous = sc.image.pixels;
      for (size_t i = 0; i < sc.symbols.size(); ++i) {
        const SymbolTruth& t = sc.symbols[i];
        const scene::Placement& p = t.placement;
        EXPECT_TRUE(p.quietZone >= 1 && t.moduleSize >= 2 && t.moduleSize <= 12);
        EXPECT_EQ(p.polarity, sc.symbols[0].placement.polarity);
        EXPECT_TRUE(c != Category::perspective || std::fabs(p.perspectiveU) + std::fabs(p.perspectiveV) >= 0.15);
        EXPECT_TRUE(c != Category::blurred || spec.blurSigma >= std::max(0.6, 0.25 * p.moduleSize) - 1e-9);
        // The symbol reads back where the truth puts it, with its quiet zone; a quarter turn or
        // a mirror of the labels reads a different pattern.
        const auto o = t.outline();
        EXPECT_LE(moduleMismatch(sc, t, o), limit);
        EXPECT_LE(quietZoneMismatch(sc, t), limit);
        EXPECT_GT(t.rows == t.cols ? moduleMismatch(sc, t, {o[1], o[2], o[3], o[0]}) : 1.0, 0.2);
        EXPECT_GT(moduleMismatch(sc, t, {o[2], o[3], o[0], o[1]}), 0.2);
        EXPECT_GT(moduleMismatch(sc, t, {o[1], o[0], o[3], o[2]}), 0.2);
        // Quiet zones inside the image and apart.
        const auto& qz = t.quietZoneQuad;
        for (const Point& q : qz) EXPECT_TRUE(q.x >= 0 && q.y >= 0 && q.x <= spec.width && q.y <= spec.height);
        for (size_t j = i + 1; j < sc.symbols.size(); ++j) {
          const auto& other = sc.symbols[j].quietZoneQuad;
          EXPECT_FALSE(quadsTouch({qz[0], qz[1], qz[3], qz[2]}, {other[0], other[1], other[3], other[2]}))
              << "symbols " << i << " and " << j;
        }
      }
    }
  }
}

// Clutter is kept a pixel away from every quiet zone, so no item is cut off at its outline.
TEST(SceneRender, ClutterStaysClearOfQuietZones) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("keep out", 0);
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    scene::Placement p;
    p.moduleSize = 5, p.quietZone = 3, p.angleDeg = 20.0 * seed, p.centre = {160, 120};
    SceneSpec spec = plainSpec(sym, p, 320, 240);
    spec.textBlocks = 12, spec.barBlocks = 4, spec.lines = 12, spec.seed = seed;
    const Scene sc = scene::render(spec);
    const SymbolTruth& t = sc.symbols[0];
    const scene::Homography back = t.imageFromModule.inverse();
    auto within = [&](Point m, double grow) {
      return m.x > -3 - grow && m.y > -3 - grow && m.x < t.cols + 3 + grow && m.y < t.rows + 3 + grow;
    };
    int band = 0, wrong = 0, clutterPixels = 0;
    const double quarterPixel = 0.25 / p.moduleSize;
    for (int y = 0; y < sc.image.height; ++y)
      for (int x = 0; x < sc.image.width; ++x) {
        const Point m = back.map(x + 0.5, y + 0.5);
        const bool onOutline = within(m, quarterPixel) && !within(m, -quarterPixel);
        const bool differs = sc.image.at(x, y) != t.unsetLevel;
        band += onOutline, wrong += onOutline && differs, clutterPixels += !within(m, 0) && differs;
      }
    EXPECT_TRUE(band > 100 && wrong == 0 && clutterPixels > 500)
        << "seed " << seed << ": outline " << band << ", wrong " << wrong << ", clutter " << clutterPixels;
  }
}

TEST(SceneRender, BlurKeepsTheMeanAndNoiseHasItsSigma) {
  scene::Placement p;
  p.moduleSize = 4, p.angleDeg = 33, p.centre = {100, 100};
  SceneSpec spec = plainSpec(scene::encodeDataMatrix("blur and noise", 0), p, 200, 200);
  spec.darkLevel = 70, spec.lightLevel = 180, spec.background = 180;
  const Scene sharp = scene::render(spec);
  spec.blurSigma = 1.5;
  const Scene blurred = scene::render(spec);
  spec.blurSigma = 0, spec.noiseSigma = 10;
  const Scene noisy = scene::render(spec);
  double sumSharp = 0, sumBlurred = 0, sum = 0, sumSq = 0;
  int steepSharp = 0, steepBlurred = 0;
  const int n = 200 * 200;
  for (int i = 0; i < n; ++i) {
    const int s = sharp.image.pixels[i], b = blurred.image.pixels[i], d = noisy.image.pixels[i] - s;
    sumSharp += s, sumBlurred += b, sum += d, sumSq += d * d;
    if (i % 200 != 0) {
      steepSharp = std::max(steepSharp, std::abs(s - sharp.image.pixels[i - 1]));
      steepBlurred = std::max(steepBlurred, std::abs(b - blurred.image.pixels[i - 1]));
    }
  }
  EXPECT_NEAR(sumBlurred, sumSharp, 0.001 * sumSharp);
  // A step of 110 through a Gaussian of sigma 1.5 rises at most 110 * 0.26 per pixel.
  EXPECT_TRUE(steepSharp >= 80 && steepBlurred <= 0.3 * 110 + 1) << steepSharp << " " << steepBlurred;
  EXPECT_NEAR(sum / n, 0, 0.2);
  EXPECT_NEAR(std::sqrt(sumSq / n - (sum / n) * (sum / n)), std::sqrt(100 + 1.0 / 12), 0.25);
}

TEST(SceneRender, RefusesScenesWhoseTruthWouldBeWrongAndSamplesItsImages) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("12345", 0);
  scene::Placement p, q;
  p.moduleSize = 6;
  p.centre = {30, 60};  // the quiet zone reaches past x = 0
  EXPECT_THROW(scene::render(plainSpec(sym, p, 200, 120)), std::runtime_error);
  p.centre = {100, 60};
  q = p;
  q.centre = {150, 60};  // quiet zones overlap
  SceneSpec spec = plainSpec(sym, p, 200, 120);
  spec.symbols.push_back(sym);
  spec.placements.push_back(q);
  EXPECT_THROW(scene::render(spec), std::runtime_error);
  spec.placements.pop_back();
  EXPECT_THROW(scene::render(spec), std::runtime_error);  // one placement per symbol
  p.perspectiveU = 2.5;  // folds the symbol over the horizon
  EXPECT_THROW(scene::render(plainSpec(sym, p, 200, 120)), std::runtime_error);

  scene::GreyImage small(4, 3);
  small.at(1, 0) = 100, small.at(2, 0) = 200;
  EXPECT_TRUE(small.sample({1.5, 0.5}) == 100 && small.sample({2.0, 0.5}) == 150 && small.sample({-5, -5}) == 0 &&
              small.meanAround({2.0, 0.5}, 0.6) == 150);
}
