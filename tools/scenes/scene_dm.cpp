#include "scenes/scene_dm.hpp"

#include <iconv.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace scene {

DmSymbol encodeDataMatrix(const DmContent& content) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  if (!sym) throw std::runtime_error("libzint: out of memory");
  sym->symbology = BARCODE_DATAMATRIX;
  sym->option_2 = content.sizeOption;
  sym->option_3 = content.sizes == DmSizes::squareOnly ? DM_SQUARE : DM_DMRE;
  sym->input_mode = content.gs1 ? GS1_MODE : DATA_MODE;
  sym->eci = content.eci;
  if (content.readerInit) sym->output_options |= READER_INIT;
  if (content.appendCount > 0) {
    sym->structapp.index = content.appendIndex;
    sym->structapp.count = content.appendCount;
    const size_t n = std::min(content.appendId.size(), sizeof sym->structapp.id - 1);
    std::copy_n(content.appendId.data(), n, sym->structapp.id);
    sym->structapp.id[n] = '\0';
  }
  const int rc = ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(content.data.data()),
                                 static_cast<int>(content.data.size()));
  if (rc >= ZINT_ERROR) throw std::runtime_error(std::string("libzint: ") + sym->errtxt);
  DmSymbol out;
  out.text = content.data;
  out.rows = sym->rows;
  out.cols = sym->width;
  out.modules.resize(static_cast<size_t>(out.rows) * out.cols);
  for (int r = 0; r < out.rows; ++r)
    for (int c = 0; c < out.cols; ++c)
      out.modules[static_cast<size_t>(r) * out.cols + c] = (sym->encoded_data[r][c >> 3] >> (c & 7)) & 1;
  return out;
}

namespace {

// The placement's margin outline, placed at the origin: its bounding box.
struct Box {
  double minX, minY, maxX, maxY;
};
Box boxOf(const SymbolTruth& t) {
  Box b{1e300, 1e300, -1e300, -1e300};
  for (const Point& p : t.quietZoneQuad) {
    b.minX = std::min(b.minX, p.x);
    b.maxX = std::max(b.maxX, p.x);
    b.minY = std::min(b.minY, p.y);
    b.maxY = std::max(b.maxY, p.y);
  }
  return b;
}

// Renders one symbol centred in a picture of its margin outline's bounding box plus `extra`
// pixels each side, on a background of the symbol's paper level.
Scene renderCentred(const DmSymbol& symbol, Placement placement, int extra, int textBlocks, double blurSigma,
                    double noiseSigma, uint32_t seed) {
  SceneSpec spec;
  placement.centre = {0, 0};
  const Box b = boxOf(placeSymbol(symbol, placement, spec.darkLevel, spec.lightLevel));
  // Round the extent up, less a hair, so a zero quiet zone still lies on the picture.
  spec.width = static_cast<int>(std::ceil(b.maxX - b.minX - 1e-9)) + 2 * extra;
  spec.height = static_cast<int>(std::ceil(b.maxY - b.minY - 1e-9)) + 2 * extra;
  placement.centre = {spec.width / 2.0, spec.height / 2.0};
  spec.darkLevel = 40;
  spec.lightLevel = 210;
  spec.background = placement.polarity == Polarity::darkOnLight ? spec.lightLevel : spec.darkLevel;
  spec.clutterLevel = placement.polarity == Polarity::darkOnLight ? 60 : 190;
  spec.symbols = {symbol};
  spec.placements = {placement};
  spec.textBlocks = textBlocks;
  spec.blurSigma = blurSigma;
  spec.noiseSigma = noiseSigma;
  spec.seed = seed;
  return render(spec);
}

}  // namespace

Scene frameFilling(const DmSymbol& symbol, const FrameFill& f) {
  Placement p;
  p.moduleSize = f.moduleSize;
  p.angleDeg = 90.0 * f.quarterTurns + f.tiltDeg;
  p.quietZone = f.quietZone;
  p.polarity = f.polarity;
  p.mirrored = f.mirrored;
  return renderCentred(symbol, p, 0, 0, f.blurSigma, f.noiseSigma, f.seed);
}

Scene placedAlone(const DmSymbol& symbol, const Placed& q) {
  Placement p;
  p.moduleSize = q.moduleSize;
  p.angleDeg = q.angleDeg;
  p.quietZone = q.quietZone;
  p.polarity = q.polarity;
  p.mirrored = q.mirrored;
  return renderCentred(symbol, p, q.margin, q.textBlocks, q.blurSigma, q.noiseSigma, q.seed);
}

const std::vector<DmreSize>& dmreSizes() {
  static const std::vector<DmreSize> sizes = {
      {8, 48, 31},  {8, 64, 32},  {8, 80, 33},  {8, 96, 34},  {8, 120, 35}, {8, 144, 36},
      {12, 64, 37}, {12, 88, 38}, {16, 64, 39}, {20, 36, 40}, {20, 44, 41}, {20, 64, 42},
      {22, 48, 43}, {24, 48, 44}, {24, 64, 45}, {26, 40, 46}, {26, 48, 47}, {26, 64, 48}};
  return sizes;
}

std::string fillText(int sizeOption, DmSizes sizes, Random& rng) {
  static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string text;
  for (int i = 0; i < 40; ++i) text += kAlphabet[rng.uniformInt(0, 35)];
  for (size_t length = text.size(); length > 0; --length) {
    DmContent c;
    c.data = text.substr(0, length);
    c.sizeOption = sizeOption;
    c.sizes = sizes;
    try {
      encodeDataMatrix(c);
      return c.data;
    } catch (const std::runtime_error&) {
    }
  }
  throw std::runtime_error("no text fits the size");
}

const std::vector<EciSample>& eciSamples() {
  static const std::vector<EciSample> samples = {
      {3, "ISO-8859-1", "Gr\u00fc\u00dfe, caf\u00e9"},
      {4, "ISO-8859-2", "\u0141\u00f3d\u017a, \u017c\u00f3\u0142\u0107"},
      {7, "ISO-8859-5", "\u041f\u0440\u0438\u0432\u0435\u0442, \u0416"},
      {9, "ISO-8859-7", "\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1"},
      {20, "SHIFT_JIS", "\u65e5\u672c\u8a9e\u30c6\u30ad\u30b9\u30c8"},
      {22, "CP1251", "\u0414\u043e\u0431\u0440\u044b\u0439 \u0434\u0435\u043d\u044c"},
      {24, "CP1256", "\u0645\u0631\u062d\u0628\u0627"},
      {26, "UTF-8", "\u0416 \u20ac \u65e5\u672c"},
      {27, "ASCII", "plain ASCII 123"},
      {28, "BIG5", "\u4e2d\u6587\u5b57"},
      {29, "GB2312", "\u4e2d\u6587\u7b80\u4f53"},
      {30, "EUC-KR", "\ud55c\uad6d\uc5b4"},
      {32, "GB18030", "\u4e2d\u6587 \u20ac"},
      {33, "UTF-16BE", "\u0416\u20ac"},
  };
  return samples;
}

DmContent eciContent(const EciSample& sample) {
  iconv_t cd = iconv_open(sample.charset, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv: no ") + sample.charset);
  std::string in = sample.text, out(4 * in.size() + 16, '\0');
  char* from = in.data();
  char* to = out.data();
  size_t left = in.size(), room = out.size();
  const size_t done = iconv(cd, &from, &left, &to, &room);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) throw std::runtime_error(std::string("iconv: cannot convert to ") + sample.charset);
  out.resize(out.size() - room);
  DmContent c;
  c.data = out;
  c.eci = sample.eci;
  return c;
}

}  // namespace scene
