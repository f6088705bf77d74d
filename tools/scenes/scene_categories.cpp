// The scene categories: how a scene of each kind is drawn at random, from one seed.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "scenes/scene.hpp"
#include "scenes/scene_geometry.hpp"

namespace scene {

using namespace geometry;

const char* categoryName(Category category) {
  switch (category) {
    case Category::clean: return "clean";
    case Category::noisy: return "noisy";
    case Category::blurred: return "blurred";
    case Category::lowContrast: return "lowContrast";
    case Category::perspective: return "perspective";
    case Category::multiSymbol: return "multiSymbol";
    case Category::textOnly: return "textOnly";
    case Category::barsOnly: return "barsOnly";
    case Category::noiseOnly: return "noiseOnly";
    case Category::plain: return "plain";
  }
  return "?";
}

bool hasSymbols(Category category) {
  switch (category) {
    case Category::textOnly:
    case Category::barsOnly:
    case Category::noiseOnly:
    case Category::plain: return false;
    default: return true;
  }
}

namespace {

std::string randomText(Random& rng, int length) {
  static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-./ ";
  std::string s;
  for (int i = 0; i < length; ++i) s += kChars[rng.uniformInt(0, static_cast<int>(sizeof(kChars)) - 2)];
  return s;
}

// A symbol of a random size: mostly small squares, some larger squares, rectangles and
// rectangular extension sizes; the text is shortened until it fits.
DmSymbol randomSymbol(Random& rng) {
  const double r = rng.uniform();
  const int option = r < 0.55   ? rng.uniformInt(1, 10)
                     : r < 0.65 ? rng.uniformInt(11, 16)
                     : r < 0.85 ? rng.uniformInt(25, 30)
                                : rng.uniformInt(31, 48);
  int length = rng.uniformInt(1, 80);
  while (true) {
    const std::string text = randomText(rng, length);
    try {
      return encodeDataMatrix(text, option, option >= 31 ? DmSizes::withRectangular : DmSizes::squareOnly);
    } catch (const std::runtime_error&) {
      if (length == 1) throw;
      length = std::max(1, length / 2);
    }
  }
}

struct Look {
  double contrastLo, contrastHi, blurLo, blurHi, noiseLo, noiseHi;
};

}  // namespace

SceneSpec makeSpec(Category category, uint32_t seed) {
  Random rng(mix(seed * 31u + static_cast<uint32_t>(category) + 1u));
  SceneSpec spec;
  spec.seed = rng.bits();
  const bool multi = category == Category::multiSymbol;
  spec.width = multi ? rng.uniformInt(640, 960) : rng.uniformInt(320, 640);
  spec.height = multi ? rng.uniformInt(480, 720) : rng.uniformInt(240, 480);

  Look look{60, 200, 0, 0.6, 0, 3};
  switch (category) {
    case Category::clean: look = {80, 200, 0, 0.6, 0, 2}; break;
    case Category::noisy: look = {80, 200, 0.3, 0.8, 8, 20}; break;
    case Category::blurred: look = {60, 200, 0, 0, 0, 3}; break;
    case Category::lowContrast: look = {25, 45, 0.2, 0.7, 0, 1.5}; break;
    case Category::textOnly:
    case Category::barsOnly: look = {40, 200, 0, 1.0, 0, 4}; break;
    case Category::noiseOnly: look = {25, 200, 0, 1.5, 10, 40}; break;
    case Category::plain: look = {25, 200, 0, 1.0, 0, 2}; break;
    default: break;
  }
  const int contrast = rng.uniformInt(static_cast<int>(look.contrastLo), static_cast<int>(look.contrastHi));
  const int margin = std::min(15, (255 - contrast) / 2);
  spec.darkLevel = static_cast<uint8_t>(rng.uniformInt(margin, 255 - contrast - margin));
  spec.lightLevel = static_cast<uint8_t>(spec.darkLevel + contrast);
  const Polarity polarity = rng.chance(0.75) ? Polarity::darkOnLight : Polarity::lightOnDark;
  const bool darkOnLight = polarity == Polarity::darkOnLight;
  spec.background = (darkOnLight ? spec.lightLevel : spec.darkLevel) + rng.uniform(-8, 8);
  spec.gradientX = rng.uniform(-12, 12);
  spec.gradientY = rng.uniform(-12, 12);
  spec.clutterLevel = darkOnLight ? spec.darkLevel + contrast * rng.uniform(0, 0.3)
                                  : spec.lightLevel - contrast * rng.uniform(0, 0.3);
  spec.blurSigma = rng.uniform(look.blurLo, look.blurHi);
  spec.noiseSigma = rng.uniform(look.noiseLo, look.noiseHi);

  switch (category) {
    case Category::textOnly:
      spec.textBlocks = rng.uniformInt(3, 8);
      spec.lines = rng.uniformInt(0, 2);
      return spec;
    case Category::barsOnly:
      spec.barBlocks = rng.uniformInt(2, 5);
      spec.lines = rng.uniformInt(1, 4);
      return spec;
    case Category::noiseOnly:
    case Category::plain: return spec;
    default: break;
  }

  spec.textBlocks = rng.uniformInt(0, 3);
  spec.barBlocks = rng.uniformInt(0, 1);
  spec.lines = rng.uniformInt(0, 3);
  const int count = multi ? rng.uniformInt(2, 4) : 1;
  std::vector<Polygon> placed;
  int failures = 0;
  while (static_cast<int>(spec.symbols.size()) < count) {
    if (++failures > 200) throw std::runtime_error("cannot place the symbols");
    DmSymbol symbol = randomSymbol(rng);
    Placement p;
    p.polarity = polarity;
    p.quietZone = rng.uniformInt(1, 3);
    p.angleDeg = rng.uniform(0, 360);
    if (category == Category::perspective) {
      do {
        p.perspectiveU = rng.uniform(-0.35, 0.35);
        p.perspectiveV = rng.uniform(-0.35, 0.35);
      } while (std::fabs(p.perspectiveU) + std::fabs(p.perspectiveV) < 0.15);
    }
    const double diag = std::hypot(symbol.cols + 2.0 * p.quietZone, symbol.rows + 2.0 * p.quietZone);
    const double room = std::min(spec.width, spec.height) / (multi ? std::sqrt(count) : 1.0) - 8;
    const double slack = 1 + std::fabs(p.perspectiveU) + std::fabs(p.perspectiveV);
    const double maxModule = std::min(12.0, room / (diag * slack));
    if (maxModule < 2) continue;
    p.moduleSize = rng.uniform(2, maxModule);
    if (category == Category::blurred)
      spec.blurSigma = std::max(spec.blurSigma, std::clamp(rng.uniform(0.25, 0.5) * p.moduleSize, 0.6, 4.0));
    const double borderMargin = 2 + 2 * spec.blurSigma;
    bool done = false;
    for (int attempt = 0; attempt < 100 && !done; ++attempt) {
      p.centre = {rng.uniform(0, spec.width), rng.uniform(0, spec.height)};
      const SymbolTruth t = placeSymbol(symbol, p, spec.darkLevel, spec.lightLevel);
      bool ok = true;
      for (const Point& c : t.quietZoneQuad)
        ok = ok && c.x >= borderMargin && c.y >= borderMargin && c.x <= spec.width - borderMargin &&
             c.y <= spec.height - borderMargin;
      const Quad& qz = t.quietZoneQuad;
      const Polygon outline{qz[0], qz[1], qz[3], qz[2]};
      for (const Polygon& other : placed) ok = ok && !convexOverlap(grown(outline, 3), other);
      if (!ok) continue;
      placed.push_back(outline);
      spec.symbols.push_back(std::move(symbol));
      spec.placements.push_back(p);
      done = true;
    }
  }
  return spec;
}

}  // namespace scene
