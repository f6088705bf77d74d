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

namespace scene {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------- small geometry

using Quad = std::array<Point, 4>;
using Polygon = std::vector<Point>;

double cross(Point o, Point a, Point b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

// Convex polygons (either orientation) overlap unless an edge normal separates them.
bool convexOverlap(const Polygon& a, const Polygon& b) {
  for (int pass = 0; pass < 2; ++pass) {
    const Polygon& p = pass == 0 ? a : b;
    for (size_t i = 0; i < p.size(); ++i) {
      const Point e0 = p[i];
      const Point e1 = p[(i + 1) % p.size()];
      const double nx = e0.y - e1.y, ny = e1.x - e0.x;
      const auto span = [&](const Polygon& poly) {  // the polygon projected on the edge normal
        double lo = INFINITY, hi = -INFINITY;
        for (const Point& q : poly) {
          lo = std::min(lo, nx * q.x + ny * q.y);
          hi = std::max(hi, nx * q.x + ny * q.y);
        }
        return std::pair{lo, hi};
      };
      const auto [aMin, aMax] = span(a);
      const auto [bMin, bMax] = span(b);
      if (aMax < bMin || bMax < aMin) return false;
    }
  }
  return true;
}


// The convex polygon with every edge moved outward by margin pixels (adjacent offset edges
// meet at the new corners).
Polygon grown(const Polygon& p, double margin) {
  const size_t n = p.size();
  double area2 = 0;
  for (size_t i = 0; i < n; ++i) area2 += p[i].x * p[(i + 1) % n].y - p[(i + 1) % n].x * p[i].y;
  const double side = area2 > 0 ? 1.0 : -1.0;  // outward normal is (dy, -dx) for counter-clockwise y-up
  struct Line {
    Point a;
    double dx, dy;
  };
  std::vector<Line> lines;
  for (size_t i = 0; i < n; ++i) {
    const Point a = p[i], b = p[(i + 1) % n];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    const double dx = (b.x - a.x) / len, dy = (b.y - a.y) / len;
    lines.push_back({{a.x + side * dy * margin, a.y - side * dx * margin}, dx, dy});
  }
  Polygon out;
  for (size_t i = 0; i < n; ++i) {
    const Line& l0 = lines[(i + n - 1) % n];
    const Line& l1 = lines[i];
    const double det = l0.dx * l1.dy - l0.dy * l1.dx;
    const double t = ((l1.a.x - l0.a.x) * l1.dy - (l1.a.y - l0.a.y) * l1.dx) / det;
    out.push_back({l0.a.x + t * l0.dx, l0.a.y + t * l0.dy});
  }
  return out;
}

// The bounding box of points, as {minX, minY, maxX, maxY}.
template <class Points>
std::array<double, 4> boundsOf(const Points& points) {
  std::array<double, 4> b{INFINITY, INFINITY, -INFINITY, -INFINITY};
  for (const Point& p : points) b = {std::min(b[0], p.x), std::min(b[1], p.y), std::max(b[2], p.x), std::max(b[3], p.y)};
  return b;
}

bool insideConvex(const Polygon& p, double x, double y) {
  bool pos = false, neg = false;
  for (size_t i = 0; i < p.size(); ++i) {
    const double c = cross(p[i], p[(i + 1) % p.size()], Point{x, y});
    if (c > 0) pos = true;
    if (c < 0) neg = true;
    if (pos && neg) return false;
  }
  return true;
}

// A rectangle of the given width around the segment a-b.
Polygon strokePolygon(Point a, Point b, double width) {
  const double len = std::hypot(b.x - a.x, b.y - a.y);
  if (len <= 0) return {};
  const double nx = -(b.y - a.y) / len * width / 2;
  const double ny = (b.x - a.x) / len * width / 2;
  return {{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}};
}

// A rectangle of size w x h whose local origin (0, 0) sits at origin, turned by angle.
Polygon rotatedRect(Point origin, double angle, double x0, double y0, double w, double h) {
  const double c = std::cos(angle), s = std::sin(angle);
  auto at = [&](double x, double y) { return Point{origin.x + c * x - s * y, origin.y + s * x + c * y}; };
  return {at(x0, y0), at(x0 + w, y0), at(x0 + w, y0 + h), at(x0, y0 + h)};
}

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

uint32_t mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
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

// ---------------------------------------------------------------- projective maps

Point Homography::map(double u, double v) const {
  const double w = m[2][0] * u + m[2][1] * v + m[2][2];
  return {(m[0][0] * u + m[0][1] * v + m[0][2]) / w, (m[1][0] * u + m[1][1] * v + m[1][2]) / w};
}

Homography Homography::operator*(const Homography& rhs) const {
  Homography out;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      out.m[i][j] = 0;
      for (int k = 0; k < 3; ++k) out.m[i][j] += m[i][k] * rhs.m[k][j];
    }
  return out;
}

Homography Homography::inverse() const {
  const auto& a = m;
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  double scale = 0;
  for (const auto& row : a)
    for (double v : row) scale = std::max(scale, std::fabs(v));
  if (!(std::fabs(det) > 1e-12 * scale * scale * scale)) throw std::runtime_error("singular projective map");
  Homography out;
  out.m[0][0] = c00 / det;
  out.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  out.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  out.m[1][0] = c01 / det;
  out.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  out.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  out.m[2][0] = c02 / det;
  out.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  out.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  return out;
}

namespace {

// True when some three of the points lie on one line (relative to the points' spread).
bool hasCollinearTriple(const std::array<Point, 4>& p) {
  double spread = 0;
  for (const Point& a : p)
    for (const Point& b : p) spread = std::max(spread, std::hypot(a.x - b.x, a.y - b.y));
  for (int skip = 0; skip < 4; ++skip) {
    Point t[3];
    for (int i = 0, k = 0; i < 4; ++i)
      if (i != skip) t[k++] = p[i];
    if (!(std::fabs(cross(t[0], t[1], t[2])) > 1e-9 * spread * spread)) return true;
  }
  return false;
}

}  // namespace

Homography homographyFromPoints(const std::array<Point, 4>& from, const std::array<Point, 4>& to) {
  if (hasCollinearTriple(from) || hasCollinearTriple(to)) throw std::runtime_error("degenerate point correspondence");
  // Unknowns h00 h01 h02 h10 h11 h12 h20 h21 with h22 = 1.
  double a[8][9] = {};
  for (int i = 0; i < 4; ++i) {
    const double u = from[i].x, v = from[i].y, x = to[i].x, y = to[i].y;
    const double rowX[9] = {u, v, 1, 0, 0, 0, -u * x, -v * x, x};
    const double rowY[9] = {0, 0, 0, u, v, 1, -u * y, -v * y, y};
    std::copy(std::begin(rowX), std::end(rowX), a[2 * i]);
    std::copy(std::begin(rowY), std::end(rowY), a[2 * i + 1]);
  }
  for (int col = 0; col < 8; ++col) {
    int pivot = col;
    for (int r = col + 1; r < 8; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (std::fabs(a[pivot][col]) < 1e-12) throw std::runtime_error("degenerate point correspondence");
    std::swap(a[pivot], a[col]);
    for (int r = 0; r < 8; ++r) {
      if (r == col) continue;
      const double f = a[r][col] / a[col][col];
      for (int k = col; k < 9; ++k) a[r][k] -= f * a[col][k];
    }
  }
  Homography h;
  for (int i = 0; i < 8; ++i) h.m[i / 3][i % 3] = a[i][8] / a[i][i];
  h.m[2][2] = 1;
  return h;
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
  t.imageFromModule = place * keystone * shift;

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
      if (p.x < 0 || p.y < 0 || p.x > spec.width || p.y > spec.height)
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

// ---------------------------------------------------------------- categories

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
