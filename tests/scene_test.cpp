// The scene generator must put real symbols exactly where its ground truth says, or every
// location test built on it would measure the generator instead of the library.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "support/scene.hpp"

using scene::Category;
using scene::GreyImage;
using scene::Point;
using scene::Polarity;
using scene::Random;
using scene::Scene;
using scene::SceneSpec;
using scene::SymbolTruth;

namespace {

// Reads the module grid back from the image through the map that takes the symbol's outer grid
// corners to the given image points (lCorner, rowEnd, opposite, columnEnd), and returns the
// fraction of modules whose grey is nearer the other level than the one libzint asks for.
double moduleMismatch(const Scene& sc, const SymbolTruth& t, const std::array<Point, 4>& corners) {
  const double rows = t.rows, cols = t.cols;
  const scene::Homography h = scene::homographyFromPoints({Point{0, rows}, {cols, rows}, {cols, 0}, {0, 0}}, corners);
  int wrong = 0;
  for (int r = 0; r < t.rows; ++r)
    for (int c = 0; c < t.cols; ++c) {
      const Point centre = h.map(c + 0.5, r + 0.5);
      const Point side = h.map(c + 0.8, r + 0.5);
      const double radius = std::max(0.5, 0.6 * std::hypot(side.x - centre.x, side.y - centre.y));
      const double v = sc.image.meanAround(centre, radius);
      const bool looksSet = std::fabs(v - t.setLevel) < std::fabs(v - t.unsetLevel);
      wrong += looksSet != t.symbol.isDark(r, c);
    }
  return static_cast<double>(wrong) / (t.rows * t.cols);
}

// Fraction of points half a module outside the symbol, along all four sides, whose grey is
// nearer the set level than the quiet zone's.
double quietZoneMismatch(const Scene& sc, const SymbolTruth& t) {
  int wrong = 0, n = 0;
  auto probe = [&](double u, double v) {
    const double value = sc.image.sample(t.imageFromModule.map(u, v));
    wrong += std::fabs(value - t.setLevel) < std::fabs(value - t.unsetLevel);
    ++n;
  };
  for (int c = 0; c < t.cols; ++c) {
    probe(c + 0.5, -0.5);
    probe(c + 0.5, t.rows + 0.5);
  }
  for (int r = 0; r < t.rows; ++r) {
    probe(-0.5, r + 0.5);
    probe(t.cols + 0.5, r + 0.5);
  }
  return static_cast<double>(wrong) / n;
}

bool segmentsCross(Point a, Point b, Point c, Point d) {
  auto orient = [](Point p, Point q, Point r) { return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x); };
  const double d1 = orient(c, d, a), d2 = orient(c, d, b), d3 = orient(a, b, c), d4 = orient(a, b, d);
  return ((d1 > 0) != (d2 > 0)) && ((d3 > 0) != (d4 > 0));
}

// Winding test, independent of the convexity the generator relies on.
bool insideQuad(const std::array<Point, 4>& q, Point p) {
  bool inside = false;
  for (int i = 0, j = 3; i < 4; j = i++)
    if ((q[i].y > p.y) != (q[j].y > p.y) &&
        p.x < (q[j].x - q[i].x) * (p.y - q[i].y) / (q[j].y - q[i].y) + q[i].x)
      inside = !inside;
  return inside;
}

std::array<Point, 4> ring(const std::array<Point, 4>& qz) { return {qz[0], qz[1], qz[3], qz[2]}; }

// A one-symbol spec with no clutter, blur or noise; the background equals the quiet zone.
SceneSpec plainSpec(const scene::DmSymbol& sym, const scene::Placement& p, int width, int height) {
  SceneSpec spec;
  spec.width = width;
  spec.height = height;
  spec.darkLevel = 30;
  spec.lightLevel = 220;
  spec.background = p.polarity == Polarity::darkOnLight ? 220 : 30;
  spec.symbols = {sym};
  spec.placements = {p};
  return spec;
}

GreyImage readPng(const std::string& path) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) throw std::runtime_error(png.message);
  png.format = PNG_FORMAT_GRAY;
  GreyImage g(static_cast<int>(png.width), static_cast<int>(png.height));
  if (!png_image_finish_read(&png, nullptr, g.pixels.data(), 0, nullptr)) throw std::runtime_error(png.message);
  return g;
}

}  // namespace

TEST(SceneRandom, StreamsAreReproducibleAndDistributionsHaveTheirMoments) {
  Random a(42), b(42), c(43);
  bool differs = false;
  for (int i = 0; i < 100; ++i) {
    const uint32_t x = a.bits();
    EXPECT_EQ(x, b.bits());
    differs = differs || x != c.bits();
  }
  EXPECT_TRUE(differs);

  Random r(7);
  int counts[7] = {};
  double sum = 0, sumSq = 0;
  const int n = 70000;
  for (int i = 0; i < n; ++i) {
    const int k = r.uniformInt(-3, 3);
    ASSERT_GE(k, -3);
    ASSERT_LE(k, 3);
    ++counts[k + 3];
    const double u = r.uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
    sumSq += u * u;
  }
  for (int k : counts) EXPECT_NEAR(k, n / 7.0, 5 * std::sqrt(n / 7.0));
  EXPECT_NEAR(sum / n, 0.5, 0.005);
  EXPECT_NEAR(sumSq / n - 0.25, 1.0 / 12, 0.002);
  EXPECT_EQ(r.uniformInt(5, 5), 5);

  double gSum = 0, gSq = 0;
  int withinOne = 0;
  for (int i = 0; i < n; ++i) {
    const double g = r.gaussian(10, 2);
    gSum += g;
    gSq += (g - 10) * (g - 10);
    withinOne += std::fabs(g - 10) < 2;
  }
  EXPECT_NEAR(gSum / n, 10, 0.03);
  EXPECT_NEAR(std::sqrt(gSq / n), 2, 0.03);
  EXPECT_NEAR(static_cast<double>(withinOne) / n, 0.6827, 0.006);
}

TEST(SceneEncode, ModuleMatricesCarryTheFinderPatternInEverySizeFamily) {
  const struct {
    int option;
    scene::DmSizes sizes;
    int rows, cols;
  } cases[] = {{1, scene::DmSizes::squareOnly, 10, 10},    {10, scene::DmSizes::squareOnly, 32, 32},
               {24, scene::DmSizes::squareOnly, 144, 144}, {25, scene::DmSizes::squareOnly, 8, 18},
               {30, scene::DmSizes::squareOnly, 16, 48},   {31, scene::DmSizes::withRectangular, 8, 48},
               {48, scene::DmSizes::withRectangular, 26, 64}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.option);
    const scene::DmSymbol s = scene::encodeDataMatrix("A1", k.option, k.sizes);
    ASSERT_EQ(s.rows, k.rows);
    ASSERT_EQ(s.cols, k.cols);
    EXPECT_EQ(s.text, "A1");
    for (int r = 0; r < s.rows; ++r) {
      EXPECT_TRUE(s.isDark(r, 0)) << "solid column, row " << r;
      EXPECT_EQ(s.isDark(r, s.cols - 1), r % 2 == 1) << "clock column, row " << r;
    }
    for (int c = 0; c < s.cols; ++c) {
      EXPECT_TRUE(s.isDark(s.rows - 1, c)) << "solid row, column " << c;
      EXPECT_EQ(s.isDark(0, c), c % 2 == 0) << "clock row, column " << c;
    }
  }
  EXPECT_EQ(scene::encodeDataMatrix("HELLO WORLD", 0).rows, 16);  // smallest square that holds it
  // Different texts give different data regions in the same size.
  EXPECT_NE(scene::encodeDataMatrix("ABC", 2).modules, scene::encodeDataMatrix("XYZ", 2).modules);
  EXPECT_THROW(scene::encodeDataMatrix(std::string(40, 'x'), 1), std::runtime_error);
}

TEST(SceneGeometry, ProjectiveMapsSolveInvertAndCompose) {
  scene::Homography h;
  h.m[0][0] = 3.1, h.m[0][1] = -0.4, h.m[0][2] = 120;
  h.m[1][0] = 0.7, h.m[1][1] = 2.6, h.m[1][2] = 80;
  h.m[2][0] = 0.002, h.m[2][1] = -0.003, h.m[2][2] = 1;
  const std::array<Point, 4> from{Point{0, 0}, {20, 0}, {20, 14}, {0, 14}};
  std::array<Point, 4> to;
  for (int i = 0; i < 4; ++i) to[i] = h.map(from[i]);
  const scene::Homography solved = scene::homographyFromPoints(from, to);
  const scene::Homography back = h.inverse();
  for (const Point p : {Point{3, 5}, Point{-7, 22}, Point{13.5, 0.25}}) {
    const Point a = h.map(p), b = solved.map(p);
    EXPECT_NEAR(a.x, b.x, 1e-9);
    EXPECT_NEAR(a.y, b.y, 1e-9);
    const Point r = back.map(a);
    EXPECT_NEAR(r.x, p.x, 1e-9);
    EXPECT_NEAR(r.y, p.y, 1e-9);
    const Point twice = (back * h).map(p);
    EXPECT_NEAR(twice.x, p.x, 1e-9);
    EXPECT_NEAR(twice.y, p.y, 1e-9);
  }
  EXPECT_THROW(scene::homographyFromPoints(from, {Point{0, 0}, {1, 1}, {2, 2}, {0, 5}}), std::runtime_error);
  scene::Homography flat;  // second row twice the first
  flat.m[0][0] = 1, flat.m[0][1] = 2, flat.m[0][2] = 3;
  flat.m[1][0] = 2, flat.m[1][1] = 4, flat.m[1][2] = 6;
  EXPECT_THROW(flat.inverse(), std::runtime_error);
}

TEST(SceneRender, AxisAlignedIntegerGridIsDrawnPixelExact) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("GRID", 27);  // 12 x 26
  for (Polarity pol : {Polarity::darkOnLight, Polarity::lightOnDark}) {
    scene::Placement p;
    p.moduleSize = 3;
    p.quietZone = 2;
    p.polarity = pol;
    const int x0 = 17, y0 = 11;
    p.centre = {x0 + sym.cols * 1.5, y0 + sym.rows * 1.5};
    SceneSpec spec = plainSpec(sym, p, 120, 70);
    spec.background = 128;  // differs from both levels, so the quiet zone's extent shows
    const Scene sc = scene::render(spec);
    const SymbolTruth& t = sc.symbols.at(0);
    EXPECT_NEAR(t.lCorner.x, x0, 1e-9);
    EXPECT_NEAR(t.lCorner.y, y0 + 36, 1e-9);
    EXPECT_NEAR(t.rowEnd.x, x0 + 78, 1e-9);
    EXPECT_NEAR(t.columnEnd.y, y0, 1e-9);
    EXPECT_NEAR(t.opposite.x, x0 + 78, 1e-9);
    EXPECT_NEAR(t.opposite.y, y0, 1e-9);
    int wrong = 0;
    for (int y = 0; y < sc.image.height; ++y)
      for (int x = 0; x < sc.image.width; ++x) {
        const int mx = (x - x0 + 6) / 3 - 2, my = (y - y0 + 6) / 3 - 2;  // module index, quiet zone -1 and -2
        int expected = 128;
        if (x >= x0 - 6 && y >= y0 - 6 && mx < sym.cols + 2 && my < sym.rows + 2) {
          const bool inside = mx >= 0 && my >= 0 && mx < sym.cols && my < sym.rows;
          expected = inside && sym.isDark(my, mx) ? t.setLevel : t.unsetLevel;
        }
        wrong += sc.image.at(x, y) != expected;
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(t.setLevel, pol == Polarity::darkOnLight ? 30 : 220);
  }
}

TEST(SceneRender, AreaSamplingConservesInkAtAnyAngleAndPhase) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("conservation", 0);
  const int dark = static_cast<int>(std::count(sym.modules.begin(), sym.modules.end(), 1));
  Random r(99);
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
  // Half a pixel off the grid, an edge pixel is half covered.
  scene::Placement p;
  p.moduleSize = 4;
  p.quietZone = 1;
  p.centre = {20.5 + sym.cols * 2, 20.0 + sym.rows * 2};
  const Scene sc = scene::render(plainSpec(sym, p, 40 + sym.cols * 4, 40 + sym.rows * 4));
  const SymbolTruth& t = sc.symbols[0];
  for (int y = 21; y < 20 + 4 * sym.rows; y += 3) EXPECT_NEAR(sc.image.at(20, y), (t.setLevel + t.unsetLevel) / 2.0, 1.0);
}

TEST(SceneRender, GroundTruthLocatesEverySymbolInEveryCategory) {
  for (Category c : scene::kAllCategories) {
    if (!scene::hasSymbols(c)) continue;
    const double limit = c == Category::clean ? 0.002 : c == Category::blurred || c == Category::noisy ? 0.05 : 0.02;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(std::string(scene::categoryName(c)) + " seed " + std::to_string(seed));
      const Scene sc = scene::generate(c, seed);
      ASSERT_FALSE(sc.symbols.empty());
      for (const SymbolTruth& t : sc.symbols) {
        EXPECT_EQ(t.rows, t.symbol.rows);
        EXPECT_EQ(t.cols, t.symbol.cols);
        EXPECT_LE(t.moduleSize, 12.0);
        EXPECT_GE(t.moduleSize, 2.0);
        const auto o = t.outline();
        EXPECT_LE(moduleMismatch(sc, t, o), limit);
        EXPECT_LE(quietZoneMismatch(sc, t), limit);
        // The labels are not interchangeable: a quarter turn or a mirror of them reads a
        // different pattern.
        if (t.rows == t.cols) {
          EXPECT_GT(moduleMismatch(sc, t, {o[1], o[2], o[3], o[0]}), 0.2);
        }
        EXPECT_GT(moduleMismatch(sc, t, {o[2], o[3], o[0], o[1]}), 0.2);
        EXPECT_GT(moduleMismatch(sc, t, {o[1], o[0], o[3], o[2]}), 0.2);
      }
    }
  }
}

TEST(SceneGenerate, CategoriesKeepTheirPromises) {
  for (Category c : scene::kAllCategories) {
    for (uint32_t seed = 1; seed <= 10; ++seed) {
      SCOPED_TRACE(std::string(scene::categoryName(c)) + " seed " + std::to_string(seed));
      const SceneSpec spec = scene::makeSpec(c, seed);
      const int contrast = spec.lightLevel - spec.darkLevel;
      EXPECT_GE(contrast, 25);
      EXPECT_LE(contrast, 200);
      EXPECT_GE(spec.width, 320);
      EXPECT_GE(spec.height, 240);
      const size_t n = spec.symbols.size();
      const size_t expectedLo = !scene::hasSymbols(c) ? 0 : c == Category::multiSymbol ? 2 : 1;
      const size_t expectedHi = !scene::hasSymbols(c) ? 0 : c == Category::multiSymbol ? 4 : 1;
      EXPECT_GE(n, expectedLo);
      EXPECT_LE(n, expectedHi);
      EXPECT_TRUE(c != Category::lowContrast || contrast <= 45) << contrast;
      EXPECT_TRUE(c != Category::noisy || spec.noiseSigma >= 8) << spec.noiseSigma;
      EXPECT_TRUE(c != Category::textOnly || spec.textBlocks >= 3);
      EXPECT_TRUE(c != Category::barsOnly || spec.barBlocks >= 2);
      for (const scene::Placement& p : spec.placements) {
        EXPECT_GE(p.quietZone, 1);
        EXPECT_TRUE(c != Category::perspective || std::fabs(p.perspectiveU) + std::fabs(p.perspectiveV) >= 0.15);
        EXPECT_TRUE(c != Category::blurred || spec.blurSigma >= std::max(0.6, 0.25 * p.moduleSize) - 1e-9);
        EXPECT_EQ(p.polarity, spec.placements[0].polarity);
      }
    }
  }
}

TEST(SceneGenerate, SameSeedSameBytesOtherSeedOtherScene) {
  for (Category c : scene::kAllCategories) {
    SCOPED_TRACE(scene::categoryName(c));
    const Scene a = scene::generate(c, 5), b = scene::generate(c, 5), other = scene::generate(c, 6);
    EXPECT_EQ(a.image.width, b.image.width);
    EXPECT_TRUE(a.image.pixels == b.image.pixels);
    EXPECT_FALSE(a.image.pixels == other.image.pixels);
    ASSERT_EQ(a.symbols.size(), b.symbols.size());
    for (size_t i = 0; i < a.symbols.size(); ++i) {
      EXPECT_EQ(a.symbols[i].lCorner.x, b.symbols[i].lCorner.x);
      EXPECT_EQ(a.symbols[i].symbol.modules, b.symbols[i].symbol.modules);
    }
  }
}

TEST(SceneGenerate, SymbolsStayInsideTheImageAndApart) {
  int scenes = 0;
  for (uint32_t seed = 1; seed <= 25; ++seed) {
    const SceneSpec spec = scene::makeSpec(Category::multiSymbol, seed);
    std::vector<std::array<Point, 4>> quads;
    for (size_t i = 0; i < spec.symbols.size(); ++i)
      quads.push_back(ring(scene::placeSymbol(spec.symbols[i], spec.placements[i], 0, 255).quietZoneQuad));
    for (size_t i = 0; i < quads.size(); ++i) {
      for (const Point& p : quads[i]) {
        EXPECT_TRUE(p.x >= 0 && p.y >= 0 && p.x <= spec.width && p.y <= spec.height) << "seed " << seed;
      }
      for (size_t j = i + 1; j < quads.size(); ++j) {
        bool touch = false;
        for (int a = 0; a < 4; ++a) {
          touch = touch || insideQuad(quads[j], quads[i][a]) || insideQuad(quads[i], quads[j][a]);
          for (int b = 0; b < 4; ++b)
            touch = touch || segmentsCross(quads[i][a], quads[i][(a + 1) % 4], quads[j][b], quads[j][(b + 1) % 4]);
        }
        EXPECT_FALSE(touch) << "seed " << seed << " symbols " << i << " and " << j;
      }
    }
    ++scenes;
  }
  EXPECT_EQ(scenes, 25);
}

// Clutter is kept a pixel away from every quiet zone, so no item is cut off at its outline.
TEST(SceneRender, ClutterStaysClearOfQuietZones) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("keep out", 0);
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    scene::Placement p;
    p.moduleSize = 5;
    p.quietZone = 3;
    p.angleDeg = 20.0 * seed;
    p.centre = {160, 120};
    SceneSpec spec = plainSpec(sym, p, 320, 240);
    spec.textBlocks = 12;
    spec.barBlocks = 4;
    spec.lines = 12;
    spec.seed = seed;
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
        if (within(m, quarterPixel) && !within(m, -quarterPixel)) {  // a pixel on the outline
          ++band;
          wrong += sc.image.at(x, y) != t.unsetLevel;
        }
        if (!within(m, 0)) clutterPixels += sc.image.at(x, y) != t.unsetLevel;
      }
    EXPECT_GT(band, 100);
    EXPECT_EQ(wrong, 0) << "seed " << seed;
    EXPECT_GT(clutterPixels, 500) << "seed " << seed << ": clutter was drawn at all";
  }
}

TEST(SceneRender, BlurKeepsTheMeanAndNoiseHasItsSigma) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("blur and noise", 0);
  scene::Placement p;
  p.moduleSize = 4;
  p.angleDeg = 33;
  p.centre = {100, 100};
  SceneSpec spec = plainSpec(sym, p, 200, 200);
  spec.darkLevel = 70;
  spec.lightLevel = 180;
  spec.background = 180;
  const Scene sharp = scene::render(spec);
  spec.blurSigma = 1.5;
  const Scene blurred = scene::render(spec);
  double sumSharp = 0, sumBlurred = 0;
  int steepSharp = 0, steepBlurred = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x) {
      sumSharp += sharp.image.at(x, y);
      sumBlurred += blurred.image.at(x, y);
      if (x > 0) {
        steepSharp = std::max(steepSharp, std::abs(sharp.image.at(x, y) - sharp.image.at(x - 1, y)));
        steepBlurred = std::max(steepBlurred, std::abs(blurred.image.at(x, y) - blurred.image.at(x - 1, y)));
      }
    }
  EXPECT_NEAR(sumBlurred, sumSharp, 0.001 * sumSharp);
  EXPECT_GE(steepSharp, 80);
  EXPECT_LE(steepBlurred, 0.3 * 110 + 1);  // a step of 110 through a Gaussian of sigma 1.5: at most 110 * 0.26

  spec.blurSigma = 0;
  spec.noiseSigma = 10;
  const Scene noisy = scene::render(spec);
  double sum = 0, sumSq = 0;
  const int n = 200 * 200;
  for (int i = 0; i < n; ++i) {
    const double d = static_cast<double>(noisy.image.pixels[i]) - sharp.image.pixels[i];
    sum += d;
    sumSq += d * d;
  }
  EXPECT_NEAR(sum / n, 0, 0.2);
  EXPECT_NEAR(std::sqrt(sumSq / n - (sum / n) * (sum / n)), std::sqrt(100 + 1.0 / 12), 0.25);
}

TEST(SceneRender, RefusesScenesWhoseTruthWouldBeWrong) {
  const scene::DmSymbol sym = scene::encodeDataMatrix("12345", 0);
  scene::Placement p;
  p.moduleSize = 6;
  p.centre = {30, 60};  // the quiet zone reaches past x = 0
  EXPECT_THROW(scene::render(plainSpec(sym, p, 200, 120)), std::runtime_error);
  p.centre = {100, 60};
  SceneSpec spec = plainSpec(sym, p, 200, 120);
  scene::Placement q = p;
  q.centre = {150, 60};
  spec.symbols.push_back(sym);
  spec.placements.push_back(q);
  EXPECT_THROW(scene::render(spec), std::runtime_error);
  p.perspectiveU = 2.5;  // folds the symbol over the horizon
  EXPECT_THROW(scene::render(plainSpec(sym, p, 200, 120)), std::runtime_error);
  spec.placements.pop_back();
  EXPECT_THROW(scene::render(spec), std::runtime_error);  // one placement per symbol
}

TEST(SceneImage, ViewsAndPngFilesCarryThePixels) {
  const Scene sc = scene::generate(Category::clean, 3);
  {
    const scene::ImageView view(sc.image);
    EXPECT_EQ(view.get()->window.width, sc.image.width);
    EXPECT_EQ(view.get()->window.height, sc.image.height);
    EXPECT_EQ(view.get()->window.stride, sc.image.width);
    EXPECT_EQ(view.get()->window.pixels, sc.image.pixels.data());
  }
  const std::string path = testing::TempDir() + "scene_roundtrip.png";
  scene::writePng(path, sc.image);
  const GreyImage back = readPng(path);
  EXPECT_EQ(back.width, sc.image.width);
  EXPECT_TRUE(back.pixels == sc.image.pixels);
  EXPECT_THROW(scene::writePng("/nonexistent-dir/x.png", sc.image), std::runtime_error);

  GreyImage small(4, 3);
  small.at(1, 0) = 100;
  small.at(2, 0) = 200;
  EXPECT_DOUBLE_EQ(small.sample({1.5, 0.5}), 100);
  EXPECT_DOUBLE_EQ(small.sample({2.0, 0.5}), 150);
  EXPECT_DOUBLE_EQ(small.sample({-5, -5}), 0);
  EXPECT_DOUBLE_EQ(small.meanAround({2.0, 0.5}, 0.6), 150);
}
