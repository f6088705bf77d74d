// PDF417 scenes: libzint's rows as a module matrix placed by scene::renderAtRandom.
#include "scenes/scene_pdf.hpp"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace scene {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t mixSeed(uint32_t seed, ConditionPdf condition) {
  uint32_t x = seed * 2654435761u + static_cast<uint32_t>(condition) * 40503u + 0x51ed27u;
  x ^= x >> 15;
  x *= 0x2c1b3c6du;
  x ^= x >> 12;
  return x;
}

std::string randomText(Random& rng, int length) {
  static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz ,.-/";
  std::string s;
  for (int i = 0; i < length; ++i) s += kChars[rng.uniformInt(0, static_cast<int>(sizeof(kChars)) - 2)];
  return s;
}

// A random symbol whose box fits maxWidth x maxHeight pixels at a module size of at least
// minModule; moduleSize receives the size drawn.
DmSymbol randomPdf(Random& rng, double minModule, double maxWidth, double maxHeight, PdfTruth* truth,
                   double* moduleSize) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    Pdf417Layout layout;
    layout.security = rng.uniformInt(0, 8);
    layout.rowHeight = rng.uniformInt(2, 5);
    const int ecc = 2 << layout.security;
    // Enough columns that the check words fit in about 30 rows; the wider symbols the rarer. A
    // row is 17 modules a column plus start and stop patterns and two row indicators.
    const int minColumns = std::max(2, (ecc + 31) / 30);
    const int widest = std::min(30, static_cast<int>(maxWidth / minModule - 1) / 17 - 4);
    if (widest < minColumns) continue;
    const double u = rng.uniform();
    layout.columns = std::min(widest, minColumns + static_cast<int>((widest - minColumns + 1) * u * u));
    // Text for about the number of rows drawn (text compaction packs two characters a codeword,
    // shifts cost some back).
    const int targetRows = rng.uniformInt(3, 24);
    const int dataWords = std::max(1, targetRows * layout.columns - ecc - 1);
    int length = std::clamp(dataWords * 3 / 2, 1, 600);
    DmSymbol symbol;
    try {
      symbol = encodePdf417(randomText(rng, length), layout);
    } catch (const std::runtime_error&) {
      continue;  // too much data for the layout
    }
    const double widest_module = maxWidth / symbol.cols, tallest_module = maxHeight / symbol.rows;
    const double maxModule = std::min({6.0, widest_module, tallest_module});
    if (maxModule < minModule) continue;
    truth->layout = layout;
    truth->zintRows = symbol.rows / layout.rowHeight;
    *moduleSize = rng.uniform(minModule, maxModule);
    return symbol;
  }
  throw std::runtime_error("no PDF417 symbol fits the scene");
}

// Width and height of the box around a placement's quiet zone, rotated, with perspective slack.
void rotatedExtent(const DmSymbol& symbol, const Placement& p, double* w, double* h) {
  const double slack = 1 + std::fabs(p.perspectiveU) + std::fabs(p.perspectiveV);
  const double bw = (symbol.cols + 2 * p.quietZone) * p.moduleSize * slack;
  const double bh = (symbol.rows + 2 * p.quietZone) * p.moduleSize * slack;
  const double a = p.angleDeg * kPi / 180, c = std::fabs(std::cos(a)), s = std::fabs(std::sin(a));
  *w = bw * c + bh * s;
  *h = bw * s + bh * c;
}

}  // namespace

DmSymbol encodePdf417(const std::string& text, const Pdf417Layout& layout) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  if (!sym) throw std::runtime_error("libzint: out of memory");
  if (layout.rowHeight < 1) throw std::runtime_error("row height below one module");
  sym->symbology = BARCODE_PDF417;
  sym->option_1 = layout.security;
  sym->option_2 = layout.columns;
  const int rc =
      ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (rc >= ZINT_ERROR) throw std::runtime_error(std::string("libzint: ") + sym->errtxt);
  // libzint raises the level on its own when asked for less than the data size calls for; a
  // layout that was not honoured is an error, so the scenes have the layouts they claim.
  if (layout.security >= 0 && sym->option_1 != layout.security)
    throw std::runtime_error("libzint changed the security level");
  DmSymbol out;
  out.text = text;
  out.rows = layout.rowHeight * sym->rows;
  out.cols = sym->width;
  out.modules.resize(static_cast<size_t>(out.rows) * out.cols);
  for (int r = 0; r < out.rows; ++r)
    for (int c = 0; c < out.cols; ++c)
      out.modules[static_cast<size_t>(r) * out.cols + c] =
          (sym->encoded_data[r / layout.rowHeight][c >> 3] >> (c & 7)) & 1;
  return out;
}

const char* conditionName(ConditionPdf condition) {
  static const char* const kNames[] = {"clean", "rotated",     "perspective", "blurred",
                                       "noisy", "lowContrast", "inverted",    "crowded"};
  return kNames[static_cast<int>(condition)];
}

ScenePdf generatePdf(ConditionPdf condition, uint32_t seed) {
  Random rng(mixSeed(seed, condition));
  ScenePdf out;
  SceneSpec spec;
  spec.seed = rng.bits();
  const bool crowded = condition == ConditionPdf::crowded;
  const int contrast = condition == ConditionPdf::lowContrast ? rng.uniformInt(25, 45) : rng.uniformInt(80, 200);
  spec.darkLevel = static_cast<uint8_t>(rng.uniformInt(10, 250 - contrast));
  spec.lightLevel = static_cast<uint8_t>(spec.darkLevel + contrast);
  const bool inverted = condition == ConditionPdf::inverted;
  spec.background = (inverted ? spec.darkLevel : spec.lightLevel) + rng.uniform(-5, 5);
  spec.gradientX = rng.uniform(-10, 10);
  spec.gradientY = rng.uniform(-10, 10);
  spec.clutterLevel = inverted ? spec.lightLevel - contrast * rng.uniform(0, 0.3)
                               : spec.darkLevel + contrast * rng.uniform(0, 0.3);
  spec.blurSigma = rng.uniform(0, 0.5);
  spec.noiseSigma = condition == ConditionPdf::noisy ? rng.uniform(6, 14) : rng.uniform(0, 2);

  const int count = crowded ? rng.uniformInt(1, 3) : 1;
  const double minModule = condition == ConditionPdf::blurred ? 2.0 : 1.5;
  const double maxWidth = crowded ? 480 : 720, maxHeight = crowded ? 360 : 540;
  double area = 0, widest = 0, tallest = 0;
  for (int i = 0; i < count; ++i) {
    PdfTruth truth;
    Placement p;
    spec.symbols.push_back(randomPdf(rng, minModule, maxWidth, maxHeight, &truth, &p.moduleSize));
    p.quietZone = rng.uniformInt(2, 4);
    p.antiAlias = 4;
    p.polarity = inverted ? Polarity::lightOnDark : Polarity::darkOnLight;
    p.angleDeg = condition == ConditionPdf::clean ? rng.uniform(-10, 10) + (rng.chance(0.5) ? 180 : 0)
                                                  : rng.uniform(0, 360);
    if (condition == ConditionPdf::perspective) {
      p.perspectiveU = rng.uniform(0.1, 0.3) * (rng.chance(0.5) ? 1 : -1);
      p.perspectiveV = rng.uniform(0.05, 0.2) * (rng.chance(0.5) ? 1 : -1);
    }
    spec.placements.push_back(p);
    out.pdf.push_back(truth);
    double w, h;
    rotatedExtent(spec.symbols.back(), p, &w, &h);
    area += w * h;
    widest = std::max(widest, w);
    tallest = std::max(tallest, h);
  }
  if (condition == ConditionPdf::blurred)
    spec.blurSigma = std::clamp(rng.uniform(0.3, 0.5) * spec.placements[0].moduleSize, 0.6, 2.5);
  if (crowded) {
    spec.textBlocks = rng.uniformInt(2, 6);
    spec.barBlocks = rng.uniformInt(1, 3);
    spec.lines = rng.uniformInt(0, 2);
    spec.symbols.push_back(encodeDataMatrix(randomText(rng, rng.uniformInt(3, 30))));
    Placement dm;
    dm.moduleSize = rng.uniform(2, 4);
    dm.angleDeg = rng.uniform(0, 360);
    dm.polarity = rng.chance(0.5) ? Polarity::lightOnDark : Polarity::darkOnLight;
    spec.placements.push_back(dm);
    double w, h;
    rotatedExtent(spec.symbols.back(), dm, &w, &h);
    area += w * h;
  }
  // Room for the symbols with some to spare; a crowded scene gets space for its clutter and grows
  // until its symbols can be placed.
  const double spare = crowded ? std::sqrt(2.5 * area) : 0;
  spec.width = std::max({200, static_cast<int>(widest) + rng.uniformInt(16, 80), static_cast<int>(spare)});
  spec.height = std::max({160, static_cast<int>(tallest) + rng.uniformInt(16, 80), static_cast<int>(spare * 0.8)});
  for (int grow = 0;; ++grow) {
    try {
      out.scene = renderAtRandom(spec, rng, 3 + 2 * spec.blurSigma, crowded ? 60 : 400);
      return out;
    } catch (const std::runtime_error&) {
      if (!crowded || grow == 8) throw;
      spec.width = spec.width * 5 / 4;
      spec.height = spec.height * 5 / 4;
    }
  }
}

}  // namespace scene
