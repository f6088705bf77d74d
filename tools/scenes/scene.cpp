// Scene rendering: libzint module matrices drawn through projective maps with area-sampled
// anti-aliasing, clutter, blur and noise. See scene.hpp for the conventions.
#include "scenes/scene.hpp"

#include <png.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>

#include "scenes/scene_geometry.hpp"

namespace scene {

using namespace geometry;

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------- float canvas

struct Canvas {
  int width;
  int height;
  std::vector<double> v;
  double& at(int x, int y) { return v[static_cast<size_t>(y) * width + x]; }
};

// Blends level into the canvas with the covered fraction of each pixel (4 x 4 samples).
void fillConvex(Canvas& canvas, const Polygon& poly, double level) {
  if (poly.size() < 3) return;
  const auto [minX, minY, maxX, maxY] = boundsOf(poly);
  const int x0 = std::max(0, static_cast<int>(std::floor(minX)));
  const int y0 = std::max(0, static_cast<int>(std::floor(minY)));
  const int x1 = std::min(canvas.width - 1, static_cast<int>(std::floor(maxX)));
  const int y1 = std::min(canvas.height - 1, static_cast<int>(std::floor(maxY)));
  constexpr int kS = 4;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      int hits = 0;
      for (int j = 0; j < kS; ++j)
        for (int i = 0; i < kS; ++i) hits += insideConvex(poly, x + (i + 0.5) / kS, y + (j + 0.5) / kS);
      if (hits == 0) continue;
      const double f = static_cast<double>(hits) / (kS * kS);
      canvas.at(x, y) = canvas.at(x, y) * (1 - f) + level * f;
    }
  }
}

// Separable Gaussian blur with sampled, normalised taps; borders repeat the edge pixel.
void gaussianBlur(Canvas& canvas, double sigma) {
  if (sigma <= 0) return;
  const int r = std::max(1, static_cast<int>(std::ceil(3.5 * sigma)));
  std::vector<double> k(2 * r + 1);
  double sum = 0;
  for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& t : k) t /= sum;
  const int w = canvas.width, h = canvas.height;
  std::vector<double> line(std::max(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double acc = 0;
      for (int i = -r; i <= r; ++i) acc += k[i + r] * canvas.at(std::clamp(x + i, 0, w - 1), y);
      line[x] = acc;
    }
    for (int x = 0; x < w; ++x) canvas.at(x, y) = line[x];
  }
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) {
      double acc = 0;
      for (int i = -r; i <= r; ++i) acc += k[i + r] * canvas.at(x, std::clamp(y + i, 0, h - 1));
      line[y] = acc;
    }
    for (int y = 0; y < h; ++y) canvas.at(x, y) = line[y];
  }
}

// ---------------------------------------------------------------- symbols

// Cell classes in symbol coordinates.
enum : int { kKeep = 0, kUnset = 1, kSet = 2 };

struct SymbolPainter {
  const SymbolTruth& truth;
  Homography moduleFromImage;
  int q;

  // Class of the unit cell (cu, cv) of symbol coordinates.
  int cellClass(long cu, long cv) const {
    const int rows = truth.rows, cols = truth.cols;
    if (cu < -q || cv < -q || cu >= cols + q || cv >= rows + q) return kKeep;
    if (cu < 0 || cv < 0 || cu >= cols || cv >= rows) return kUnset;
    return truth.symbol.isDark(static_cast<int>(cv), static_cast<int>(cu)) ? kSet : kUnset;
  }

  // The cell holding image point (x, y), or false when the point lies beyond the horizon.
  bool cellAt(double x, double y, long* cu, long* cv) const {
    const double w = moduleFromImage.m[2][0] * x + moduleFromImage.m[2][1] * y + moduleFromImage.m[2][2];
    if (!(w > 0)) return false;
    const Point p = moduleFromImage.map(x, y);
    *cu = static_cast<long>(std::floor(std::clamp(p.x, -1e6, 1e6)));
    *cv = static_cast<long>(std::floor(std::clamp(p.y, -1e6, 1e6)));
    return true;
  }

  int classAt(double x, double y) const {
    long cu, cv;
    return cellAt(x, y, &cu, &cv) ? cellClass(cu, cv) : kKeep;
  }
};

double levelOf(int cls, const SymbolTruth& t, double keep) {
  return cls == kSet ? t.setLevel : cls == kUnset ? t.unsetLevel : keep;
}

// Paints one symbol with its quiet zone. A pixel whose four corners fall in one cell lies inside
// that cell (cells are convex and the map keeps lines straight) and takes its level; any other
// pixel is the mean of antiAlias x antiAlias samples.
void paintSymbol(Canvas& canvas, const SymbolTruth& truth) {
  SymbolPainter painter{truth, truth.imageFromModule.inverse(), truth.placement.quietZone};
  const auto [minX, minY, maxX, maxY] = boundsOf(truth.quietZoneQuad);
  const int x0 = std::max(0, static_cast<int>(std::floor(minX)) - 1);
  const int y0 = std::max(0, static_cast<int>(std::floor(minY)) - 1);
  const int x1 = std::min(canvas.width - 1, static_cast<int>(std::floor(maxX)) + 1);
  const int y1 = std::min(canvas.height - 1, static_cast<int>(std::floor(maxY)) + 1);
  const int kS = std::max(1, truth.placement.antiAlias);
  const int n = x1 - x0 + 2;
  std::vector<long> cornerU(n), cornerV(n), nextU(n), nextV(n);
  std::vector<char> ok(n), nextOk(n);
  for (int i = 0; i < n; ++i) ok[i] = painter.cellAt(x0 + i, y0, &cornerU[i], &cornerV[i]);
  for (int y = y0; y <= y1; ++y) {
    for (int i = 0; i < n; ++i) nextOk[i] = painter.cellAt(x0 + i, y + 1, &nextU[i], &nextV[i]);
    for (int x = x0; x <= x1; ++x) {
      const int i = x - x0;
      const bool uniform = ok[i] && ok[i + 1] && nextOk[i] && nextOk[i + 1] && cornerU[i] == cornerU[i + 1] &&
                           cornerU[i] == nextU[i] && cornerU[i] == nextU[i + 1] && cornerV[i] == cornerV[i + 1] &&
                           cornerV[i] == nextV[i] && cornerV[i] == nextV[i + 1];
      const double keep = canvas.at(x, y);
      if (uniform) {
        canvas.at(x, y) = levelOf(painter.cellClass(cornerU[i], cornerV[i]), truth, keep);
        continue;
      }
      double acc = 0;
      for (int j = 0; j < kS; ++j)
        for (int k = 0; k < kS; ++k)
          acc += levelOf(painter.classAt(x + (k + 0.5) / kS, y + (j + 0.5) / kS), truth, keep);
      canvas.at(x, y) = acc / (kS * kS);
    }
    cornerU.swap(nextU);
    cornerV.swap(nextV);
    ok.swap(nextOk);
  }
}

// ---------------------------------------------------------------- clutter

struct ClutterItem {
  Polygon bounds;  // convex outline that must stay clear of the symbols
  std::vector<Polygon> parts;
};

ClutterItem makeText(Random& rng, Point origin) {
  const double h = rng.uniform(6, 20);
  const double cw = 0.6 * h;
  const double pitch = cw * rng.uniform(1.2, 1.5);
  const double lineGap = h * rng.uniform(1.4, 1.8);
  const int chars = rng.uniformInt(4, 15);
  const int linesN = rng.uniformInt(1, 3);
  const double angle = rng.uniform(0, 2 * kPi);
  const double stroke = h * rng.uniform(0.1, 0.18);
  const double c = std::cos(angle), s = std::sin(angle);
  auto at = [&](double x, double y) { return Point{origin.x + c * x - s * y, origin.y + s * x + c * y}; };
  // Stroke templates in a 0.6 x 1 character cell.
  static const double kStrokes[][4] = {{0, 0, 0, 1},     {0.6, 0, 0.6, 1}, {0.3, 0, 0.3, 1}, {0, 0, 0.6, 0},
                                       {0, 0.5, 0.6, 0.5}, {0, 1, 0.6, 1},   {0, 1, 0.6, 0},   {0, 0, 0.6, 1},
                                       {0, 0.5, 0, 1},   {0.6, 0, 0.6, 0.5}, {0.3, 0, 0.6, 1}, {0.3, 0, 0, 1}};
  constexpr int kStrokeCount = sizeof(kStrokes) / sizeof(kStrokes[0]);
  ClutterItem item;
  for (int l = 0; l < linesN; ++l) {
    for (int k = 0; k < chars; ++k) {
      if (rng.chance(0.12)) continue;  // a space
      const double bx = k * pitch, by = l * lineGap;
      const int strokes = rng.uniformInt(2, 4);
      for (int t = 0; t < strokes; ++t) {
        const double* st = kStrokes[rng.uniformInt(0, kStrokeCount - 1)];
        const Point a = at(bx + st[0] * h, by + st[1] * h);
        const Point b = at(bx + st[2] * h, by + st[3] * h);
        item.parts.push_back(strokePolygon(a, b, stroke));
      }
    }
  }
  const double pad = stroke;
  item.bounds = rotatedRect(origin, angle, -pad, -pad, (chars - 1) * pitch + cw + 2 * pad,
                            (linesN - 1) * lineGap + h + 2 * pad);
  return item;
}

ClutterItem makeBars(Random& rng, Point origin) {
  const double unit = rng.uniform(1.5, 4);
  const double height = rng.uniform(20, 80);
  const int bars = rng.uniformInt(10, 35);
  const double angle = rng.uniform(0, 2 * kPi);
  ClutterItem item;
  double x = 0;
  for (int i = 0; i < bars; ++i) {
    const double w = unit * rng.uniformInt(1, 4);
    item.parts.push_back(rotatedRect(origin, angle, x, 0, w, height));
    x += w + unit * rng.uniformInt(1, 4);
  }
  item.bounds = rotatedRect(origin, angle, -1, -1, x + 2, height + 2);
  return item;
}

ClutterItem makeLine(Random& rng, Point origin) {
  const double len = rng.uniform(50, 300);
  const double angle = rng.uniform(0, 2 * kPi);
  const double width = rng.uniform(1, 4);
  const Point b{origin.x + len * std::cos(angle), origin.y + len * std::sin(angle)};
  ClutterItem item;
  item.parts.push_back(strokePolygon(origin, b, width));
  item.bounds = strokePolygon(origin, b, width + 2);
  return item;
}

// Places count items of one kind, half of them next to a symbol; an item that would cross a
// quiet zone is tried elsewhere and dropped after a few attempts.
template <class Make>
void placeClutter(Canvas& canvas, Random& rng, const SceneSpec& spec, const std::vector<Polygon>& keepOut, int count,
                  Make make) {
  for (int i = 0; i < count; ++i) {
    for (int attempt = 0; attempt < 30; ++attempt) {
      Point origin{rng.uniform(0, spec.width), rng.uniform(0, spec.height)};
      if (!keepOut.empty() && rng.chance(0.5)) {
        const Polygon& near = keepOut[rng.uniformInt(0, static_cast<int>(keepOut.size()) - 1)];
        const Point corner = near[rng.uniformInt(0, static_cast<int>(near.size()) - 1)];
        const double r = rng.uniform(2, 40), a = rng.uniform(0, 2 * kPi);
        origin = {corner.x + r * std::cos(a), corner.y + r * std::sin(a)};
      }
      ClutterItem item = make(rng, origin);
      bool clear = true;
      for (const Polygon& k : keepOut) clear = clear && !convexOverlap(item.bounds, k);
      if (!clear) continue;
      for (const Polygon& part : item.parts) fillConvex(canvas, part, spec.clutterLevel);
      break;
    }
  }
}

uint8_t toByte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

// ---------------------------------------------------------------- images

GreyImage::GreyImage(int w, int h, uint8_t fill)
    : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

double GreyImage::sample(Point p) const {
  const double fx = std::clamp(p.x - 0.5, 0.0, width - 1.0);
  const double fy = std::clamp(p.y - 0.5, 0.0, height - 1.0);
  const int x0 = std::min(static_cast<int>(fx), width - 1);
  const int y0 = std::min(static_cast<int>(fy), height - 1);
  const int x1 = std::min(x0 + 1, width - 1);
  const int y1 = std::min(y0 + 1, height - 1);
  const double ax = fx - x0, ay = fy - y0;
  const double top = at(x0, y0) * (1 - ax) + at(x1, y0) * ax;
  const double bottom = at(x0, y1) * (1 - ax) + at(x1, y1) * ax;
  return top * (1 - ay) + bottom * ay;
}

double GreyImage::meanAround(Point p, double radius) const {
  double sum = 0;
  int n = 0;
  const int x0 = std::max(0, static_cast<int>(std::floor(p.x - radius)));
  const int x1 = std::min(width - 1, static_cast<int>(std::floor(p.x + radius)));
  const int y0 = std::max(0, static_cast<int>(std::floor(p.y - radius)));
  const int y1 = std::min(height - 1, static_cast<int>(std::floor(p.y + radius)));
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      if (std::hypot(x + 0.5 - p.x, y + 0.5 - p.y) <= radius) {
        sum += at(x, y);
        ++n;
      }
  if (n > 0) return sum / n;
  const int nx = std::clamp(static_cast<int>(std::floor(p.x)), 0, width - 1);
  const int ny = std::clamp(static_cast<int>(std::floor(p.y)), 0, height - 1);
  return at(nx, ny);
}

ImageView::ImageView(const GreyImage& image) {
  static const uint8_t kNoPixels = 0;
  const uint8_t* pixels = image.pixels.empty() ? &kNoPixels : image.pixels.data();
  if (CSYS_FAILED(cimg_imageConst_constructWrap(&image_, pixels, image.width, image.height, image.width)))
    throw std::runtime_error("cannot wrap the image");
}

ImageView::~ImageView() { cimg_imageConst_destruct(&image_); }

// ---------------------------------------------------------------- random numbers

double Random::uniform() {
  const uint64_t hi = bits() >> 5;  // 27 bits
  const uint64_t lo = bits() >> 6;  // 26 bits
  return static_cast<double>((hi << 26) | lo) * (1.0 / 9007199254740992.0);
}

double Random::uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }

int Random::uniformInt(int lo, int hi) {
  if (hi <= lo) return lo;
  const uint64_t range = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1;
  const uint64_t limit = (uint64_t{1} << 32) - (uint64_t{1} << 32) % range;  // largest multiple of range
  uint64_t r;
  do r = bits();
  while (r >= limit);
  return static_cast<int>(lo + static_cast<int64_t>(r % range));
}

double Random::gaussian(double mean, double sigma) {
  if (haveSpare_) {
    haveSpare_ = false;
    return mean + sigma * spare_;
  }
  double u1;
  do u1 = uniform();
  while (u1 <= 0);
  const double u2 = uniform();
  const double r = std::sqrt(-2 * std::log(u1));
  spare_ = r * std::sin(2 * kPi * u2);
  haveSpare_ = true;
  return mean + sigma * r * std::cos(2 * kPi * u2);
}

// ---------------------------------------------------------------- encoding

DmSymbol encodeDataMatrix(const std::string& text, int sizeOption, DmSizes sizes) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  if (!sym) throw std::runtime_error("libzint: out of memory");
  sym->symbology = BARCODE_DATAMATRIX;
  sym->option_2 = sizeOption;
  sym->option_3 = sizes == DmSizes::squareOnly ? DM_SQUARE : DM_DMRE;
  const int rc =
      ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (rc >= ZINT_ERROR) throw std::runtime_error(std::string("libzint: ") + sym->errtxt);
  DmSymbol out;
  out.text = text;
  out.rows = sym->rows;
  out.cols = sym->width;
  out.modules.resize(static_cast<size_t>(out.rows) * out.cols);
  for (int r = 0; r < out.rows; ++r)
    for (int c = 0; c < out.cols; ++c)
      out.modules[static_cast<size_t>(r) * out.cols + c] = (sym->encoded_data[r][c >> 3] >> (c & 7)) & 1;
  return out;
}

// ---------------------------------------------------------------- placing and rendering

SymbolTruth placeSymbol(const DmSymbol& symbol, const Placement& placement, uint8_t darkLevel, uint8_t lightLevel) {
  if (symbol.rows <= 0 || symbol.cols <= 0) throw std::runtime_error("empty symbol");
  if (placement.quietZone < 0) throw std::runtime_error("negative quiet zone");
  SymbolTruth t;
  t.symbol = symbol;
  t.placement = placement;
  t.rows = symbol.rows;
  t.cols = symbol.cols;
  t.moduleSize = placement.moduleSize;
  t.polarity = placement.polarity;
  const bool darkOnLight = placement.polarity == Polarity::darkOnLight;
  t.setLevel = darkOnLight ? darkLevel : lightLevel;
  t.unsetLevel = darkOnLight ? lightLevel : darkLevel;

  const double a = placement.angleDeg * kPi / 180;
  const double ms = placement.moduleSize;
  Homography shift, keystone, place;
  shift.m[0][2] = -symbol.cols / 2.0;
  shift.m[1][2] = -symbol.rows / 2.0;
  keystone.m[2][0] = placement.perspectiveU / symbol.cols;
  keystone.m[2][1] = placement.perspectiveV / symbol.rows;
  place.m[0][0] = ms * std::cos(a);
  place.m[0][1] = -ms * std::sin(a);
  place.m[0][2] = placement.centre.x;
  place.m[1][0] = ms * std::sin(a);
  place.m[1][1] = ms * std::cos(a);
  place.m[1][2] = placement.centre.y;
  // The mirror image: v turned about the symbol's centre line, so the solid row runs along the
  // top of the drawn symbol while the corners keep their names.
  Homography mirror;
  if (placement.mirrored) mirror.m[1][1] = -1;
  t.imageFromModule = place * keystone * mirror * shift;

  const double q = placement.quietZone;
  const double u0 = -q, v0 = -q, u1 = symbol.cols + q, v1 = symbol.rows + q;
  for (double u : {u0, u1})
    for (double v : {v0, v1})
      if (!(t.imageFromModule.w(u, v) > 0.2)) throw std::runtime_error("perspective too strong for the symbol");
  const Homography& h = t.imageFromModule;
  t.lCorner = h.map(0, symbol.rows);
  t.rowEnd = h.map(symbol.cols, symbol.rows);
  t.columnEnd = h.map(0, 0);
  t.opposite = h.map(symbol.cols, 0);
  t.quietZoneQuad = {h.map(u0, v1), h.map(u1, v1), h.map(u0, v0), h.map(u1, v0)};
  return t;
}

Scene render(const SceneSpec& spec) {
  if (spec.width <= 0 || spec.height <= 0) throw std::runtime_error("empty scene");
  if (spec.symbols.size() != spec.placements.size()) throw std::runtime_error("one placement per symbol");
  Scene scene;
  scene.spec = spec;
  std::vector<Polygon> keepOut;
  for (size_t i = 0; i < spec.symbols.size(); ++i) {
    SymbolTruth t = placeSymbol(spec.symbols[i], spec.placements[i], spec.darkLevel, spec.lightLevel);
    for (const Point& p : t.quietZoneQuad)
      // A margin of a millionth of a pixel for rounding: a quiet zone may end on the picture's edge.
      if (p.x < -1e-6 || p.y < -1e-6 || p.x > spec.width + 1e-6 || p.y > spec.height + 1e-6)
        throw std::runtime_error("symbol quiet zone leaves the image");
    const Quad& qz = t.quietZoneQuad;
    Polygon outline{qz[0], qz[1], qz[3], qz[2]};
    for (const Polygon& other : keepOut)
      if (convexOverlap(outline, other)) throw std::runtime_error("symbols overlap");
    keepOut.push_back(outline);
    scene.symbols.push_back(std::move(t));
  }

  Canvas canvas{spec.width, spec.height, std::vector<double>(static_cast<size_t>(spec.width) * spec.height)};
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x)
      canvas.at(x, y) = spec.background + spec.gradientX * ((x + 0.5) / spec.width - 0.5) +
                        spec.gradientY * ((y + 0.5) / spec.height - 0.5);

  Random layout(mix(spec.seed) ^ 0x5ce7e5u);
  std::vector<Polygon> clutterKeepOut;
  for (const Polygon& k : keepOut) clutterKeepOut.push_back(grown(k, 1.0));
  placeClutter(canvas, layout, spec, clutterKeepOut, spec.textBlocks, makeText);
  placeClutter(canvas, layout, spec, clutterKeepOut, spec.barBlocks, makeBars);
  placeClutter(canvas, layout, spec, clutterKeepOut, spec.lines, makeLine);

  for (const SymbolTruth& t : scene.symbols) paintSymbol(canvas, t);
  gaussianBlur(canvas, spec.blurSigma);

  scene.image = GreyImage(spec.width, spec.height);
  Random noise(mix(spec.seed + 0x9e3779b9u));
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x) {
      const double v = canvas.at(x, y) + (spec.noiseSigma > 0 ? noise.gaussian(0, spec.noiseSigma) : 0.0);
      scene.image.at(x, y) = toByte(v);
    }
  return scene;
}

Scene renderAtRandom(SceneSpec& spec, Random& rng, double border, int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    for (size_t i = 0; i < spec.symbols.size(); ++i) {
      Placement& q = spec.placements[i];
      q.centre = {0, 0};
      const SymbolTruth t = placeSymbol(spec.symbols[i], q, spec.darkLevel, spec.lightLevel);
      const auto [minX, minY, maxX, maxY] = boundsOf(t.quietZoneQuad);
      const double x0 = border - minX, x1 = spec.width - border - maxX;
      const double y0 = border - minY, y1 = spec.height - border - maxY;
      if (x1 < x0 || y1 < y0) throw std::runtime_error("a symbol does not fit the scene");
      q.centre = {rng.uniform(x0, x1), rng.uniform(y0, y1)};
    }
    try {
      return render(spec);
    } catch (const std::runtime_error&) {
      // overlapping quiet zones: draw again
    }
  }
  throw std::runtime_error("cannot place the symbols");
}

// ---------------------------------------------------------------- files

void writePng(const std::string& path, const GreyImage& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_GRAY;
  if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), image.width, nullptr))
    throw std::runtime_error(path + ": " + png.message);
}

}  // namespace scene
