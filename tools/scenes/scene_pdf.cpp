// PDF417 scenes: libzint's rows as a module matrix placed by scene::renderAtRandom.
#include "scenes/scene_pdf.hpp"

#include <zint.h>

#include <algorithm>
#include <iterator>
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

// Texts in the character sets of several ECIs (UTF-8 here; libzint converts them).
struct EciSample {
  int eci;
  const char* text;
};
constexpr EciSample kEciSamples[] = {
    {3, "Gr\u00FC\u00DFe aus K\u00F6ln"},  {4, "\u0141\u00F3d\u017A \u017Ar\u00F3d\u0142o"},
    {7, "\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440"}, {9, "\u039A\u03B1\u03BB\u03B7\u03BC\u03AD\u03C1\u03B1"},
    {10, "\u05E9\u05DC\u05D5\u05DD"}, {17, "Prix 20 \u20AC"},
    {20, "\u65E5\u672C\u8A9E\u30C6\u30AD\u30B9\u30C8"}, {21, "\u010Cesk\u00FD jazyk"},
    {22, "\u0411\u044A\u043B\u0433\u0430\u0440\u0438\u044F"}, {24, "\u0645\u0631\u062D\u0628\u0627"},
    {25, "UTF-16 \u00E9\u4E2D"}, {26, "UTF-8 \u00E9\u4E2D\U0001F600"},
    {28, "\u7E41\u9AD4\u4E2D\u6587"}, {29, "\u7B80\u4F53\u4E2D\u6587"}, {30, "\uD55C\uAD6D\uC5B4"},
    {32, "GB18030 \u4E2D\u6587"}, {33, "UTF-16LE \u00FC"}, {34, "UTF-32 \u00DF"}, {35, "UTF-32LE \u00E5"},
};

// Content for a content scene: one of ECI text (one to three segments), Macro PDF417, binary
// data, digits, mixed text with bytes, or reader initialisation.
Pdf417Content randomContent(Random& rng, int length) {
  Pdf417Content c;
  const int kind = rng.uniformInt(0, 5);
  if (kind == 0) {
    const int n = rng.uniformInt(1, 3);
    for (int i = 0; i < n; ++i) {
      const EciSample& e = kEciSamples[rng.uniformInt(0, static_cast<int>(std::size(kEciSamples)) - 1)];
      c.segments.push_back({e.eci, e.text});
    }
  } else if (kind == 1) {
    c.segments.push_back({0, randomText(rng, length)});
    c.macroCount = rng.uniformInt(1, 5);
    c.macroIndex = rng.uniformInt(1, c.macroCount);
    for (int g = rng.uniformInt(0, 3); g > 0; --g) c.macroId += std::to_string(rng.uniformInt(100, 899));
  } else if (kind == 2) {
    std::string bytes;
    for (int i = 0; i < length; ++i) bytes += static_cast<char>(rng.uniformInt(0, 255));
    c.segments.push_back({899, bytes});
    c.binary = true;
  } else if (kind == 3) {
    std::string digits;
    for (int i = 0; i < length; ++i) digits += static_cast<char>('0' + rng.uniformInt(0, 9));
    c.segments.push_back({0, digits});
  } else if (kind == 4) {
    std::string text = randomText(rng, length);
    text[static_cast<size_t>(rng.uniformInt(0, length - 1))] = static_cast<char>(rng.uniformInt(0, 31));
    c.segments.push_back({0, text + "\t;<@[]_|~{}"});
  } else {
    c.segments.push_back({0, randomText(rng, length)});
    c.readerInit = true;
  }
  return c;
}

// A random symbol whose box fits maxWidth x maxHeight pixels at a module size of at least
// minModule; moduleSize receives the size drawn.
DmSymbol randomPdf(Random& rng, ConditionPdf condition, double minModule, double maxWidth, double maxHeight,
                   PdfTruth* truth, double* moduleSize) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    Pdf417Layout layout;
    layout.security = rng.uniformInt(0, 8);
    layout.rowHeight = rng.uniformInt(2, condition == ConditionPdf::large ? 4 : 5);
    const int ecc = 2 << layout.security;
    // Enough columns that the check words fit in about 30 rows; the wider symbols the rarer. A
    // row is 17 modules a column plus start and stop patterns and two row indicators.
    const int minColumns = std::max(2, (ecc + 31) / 30);
    const int widest = std::min(30, static_cast<int>(maxWidth / minModule - 1) / 17 - 4);
    if (widest < minColumns) continue;
    const double u = rng.uniform();
    layout.columns = std::min(widest, minColumns + static_cast<int>((widest - minColumns + 1) * u * u));
    if (condition == ConditionPdf::large) {
      if (widest < 10) continue;
      layout.columns = rng.uniformInt(std::max(10, minColumns), widest);
    }
    // Text for about the number of rows drawn (text compaction packs two characters a codeword,
    // shifts cost some back).
    const int targetRows = rng.uniformInt(3, 24);
    const int dataWords = std::max(1, targetRows * layout.columns - ecc - 1);
    int length = std::clamp(dataWords * 3 / 2, 1, 600);
    DmSymbol symbol;
    Pdf417Content content;
    try {
      if (condition == ConditionPdf::content) {
        content = randomContent(rng, std::min(length, 120));
      } else {
        content.segments.push_back({0, randomText(rng, length)});
        content.compact = condition == ConditionPdf::compact || (condition == ConditionPdf::framed && rng.chance(0.5));
      }
      symbol = content.compact || condition == ConditionPdf::content ? encodePdf417(content, layout)
                                                                     : encodePdf417(content.segments[0].data, layout);
    } catch (const std::runtime_error&) {
      continue;  // too much data for the layout
    }
    const double widest_module = maxWidth / symbol.cols, tallest_module = maxHeight / symbol.rows;
    const double largest = condition == ConditionPdf::large ? 8.0 : (condition == ConditionPdf::bilevel ? 2.8 : 6.0);
    const double maxModule = std::min({largest, widest_module, tallest_module});
    if (maxModule < minModule) continue;
    truth->layout = layout;
    truth->content = std::move(content);
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

// The scene cut to [x0, x1) x [y0, y1), its truths moved with it.
void crop(Scene* scene, int x0, int y0, int x1, int y1) {
  GreyImage cut(x1 - x0, y1 - y0);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) cut.at(x - x0, y - y0) = scene->image.at(x, y);
  scene->image = std::move(cut);
  scene->spec.width = x1 - x0;
  scene->spec.height = y1 - y0;
  Homography shift;
  shift.m[0][2] = -x0;
  shift.m[1][2] = -y0;
  auto moved = [&](Point& p) { p = Point{p.x - x0, p.y - y0}; };
  for (SymbolTruth& t : scene->symbols) {
    t.imageFromModule = shift * t.imageFromModule;
    for (Point* p : {&t.lCorner, &t.rowEnd, &t.columnEnd, &t.opposite}) moved(*p);
    for (Point& p : t.quietZoneQuad) moved(p);
    t.placement.centre = Point{t.placement.centre.x - x0, t.placement.centre.y - y0};
  }
}

// A framed scene: the scene cut to its one symbol's bars, with a margin of 0 to 1.5 modules on
// each side (none at all on some).
void cropToSymbol(Scene* scene, Random& rng) {
  const SymbolTruth& t = scene->symbols.front();
  double bx0 = 1e300, by0 = 1e300, bx1 = -1e300, by1 = -1e300;
  for (const Point& p : t.outline()) {
    bx0 = std::min(bx0, p.x);
    by0 = std::min(by0, p.y);
    bx1 = std::max(bx1, p.x);
    by1 = std::max(by1, p.y);
  }
  auto margin = [&] { return rng.chance(0.3) ? 0.0 : rng.uniform(0, 1.5) * t.moduleSize; };
  const int x0 = std::max(0, static_cast<int>(std::floor(bx0 - margin())));
  const int y0 = std::max(0, static_cast<int>(std::floor(by0 - margin())));
  const int x1 = std::min(scene->image.width, static_cast<int>(std::ceil(bx1 + margin())));
  const int y1 = std::min(scene->image.height, static_cast<int>(std::ceil(by1 + margin())));
  crop(scene, x0, y0, x1, y1);
}

}  // namespace

DmSymbol encodePdf417(const std::string& text, const Pdf417Layout& layout) {
  Pdf417Content content;
  content.segments.push_back({0, text});
  content.binary = true;  // the text's bytes as they are, as this call has always encoded them
  return encodePdf417(content, layout);
}

DmSymbol encodePdf417(const Pdf417Content& content, const Pdf417Layout& layout) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  if (!sym) throw std::runtime_error("libzint: out of memory");
  if (layout.rowHeight < 1) throw std::runtime_error("row height below one module");
  if (content.segments.empty()) throw std::runtime_error("no segments to encode");
  sym->symbology = content.compact ? BARCODE_PDF417COMP : BARCODE_PDF417;
  sym->option_1 = layout.security;
  sym->option_2 = layout.columns;
  sym->input_mode = content.binary ? DATA_MODE : UNICODE_MODE;
  if (content.readerInit) sym->output_options |= READER_INIT;
  if (content.macroCount > 0) {
    if (content.macroId.size() >= sizeof(sym->structapp.id)) throw std::runtime_error("macro id too long");
    sym->structapp.index = content.macroIndex;
    sym->structapp.count = content.macroCount;
    std::copy(content.macroId.begin(), content.macroId.end(), sym->structapp.id);
  }
  std::vector<zint_seg> segs;
  std::string text;
  for (const Pdf417Content::Segment& s : content.segments) {
    segs.push_back(zint_seg{reinterpret_cast<unsigned char*>(const_cast<char*>(s.data.data())),
                            static_cast<int>(s.data.size()), s.eci});
    text += s.data;
  }
  const int rc = ZBarcode_Encode_Segs(sym.get(), segs.data(), static_cast<int>(segs.size()));
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
  static const char* const kNames[] = {"clean",    "rotated", "perspective", "blurred", "noisy",  "lowContrast",
                                       "inverted", "crowded", "compact",     "content", "framed", "large",
                                       "bilevel"};
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
  const bool large = condition == ConditionPdf::large, framed = condition == ConditionPdf::framed;
  const bool bilevel = condition == ConditionPdf::bilevel;
  const double minModule = condition == ConditionPdf::blurred ? 2.0 : (large ? 3.0 : (bilevel ? 1.8 : 1.5));
  const double maxWidth = crowded ? 480 : (large ? 1800 : 720), maxHeight = crowded ? 360 : (large ? 1200 : 540);
  double area = 0, widest = 0, tallest = 0;
  for (int i = 0; i < count; ++i) {
    PdfTruth truth;
    Placement p;
    spec.symbols.push_back(randomPdf(rng, condition, minModule, maxWidth, maxHeight, &truth, &p.moduleSize));
    p.quietZone = rng.uniformInt(2, 4);
    p.antiAlias = 4;
    p.polarity = inverted ? Polarity::lightOnDark : Polarity::darkOnLight;
    p.angleDeg = condition == ConditionPdf::clean ? rng.uniform(-10, 10) + (rng.chance(0.5) ? 180 : 0)
                 : framed || bilevel               ? rng.uniform(-2, 2) + 90 * rng.uniformInt(0, 3)
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
  // A bilevel scan's cut level: away from the middle, bars come out wider (ink spread) or thinner.
  double cutAt = 0.5;
  if (bilevel) {
    spec.blurSigma = rng.uniform(0.5, 1.0);
    spec.noiseSigma = rng.uniform(0.02, 0.08) * contrast;
    cutAt = rng.uniform(0.3, 0.7);
  }
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
      if (framed) cropToSymbol(&out.scene, rng);
      if (bilevel) {
        const double cut = spec.darkLevel + cutAt * (spec.lightLevel - spec.darkLevel);
        for (uint8_t& p : out.scene.image.pixels) p = p < cut ? 0 : 255;
      }
      return out;
    } catch (const std::runtime_error&) {
      if (!crowded || grow == 8) throw;
      spec.width = spec.width * 5 / 4;
      spec.height = spec.height * 5 / 4;
    }
  }
}

}  // namespace scene
