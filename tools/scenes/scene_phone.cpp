#include "scenes/scene_phone.hpp"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace scene {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Frame {
  Point centre;
  double ux = 1, uy = 0;  // along the symbol (first bar to last)
  double vx = 0, vy = 1;  // across, from the bars' top (v = 0) to their bottom (v = rows)
};

Frame frameOf(const SymbolTruth& t) {
  Frame f;
  f.centre = {0.25 * (t.lCorner.x + t.rowEnd.x + t.columnEnd.x + t.opposite.x),
              0.25 * (t.lCorner.y + t.rowEnd.y + t.columnEnd.y + t.opposite.y)};
  const double lu = std::hypot(t.rowEnd.x - t.lCorner.x, t.rowEnd.y - t.lCorner.y);
  f.ux = (t.rowEnd.x - t.lCorner.x) / lu;
  f.uy = (t.rowEnd.y - t.lCorner.y) / lu;
  // Across: square to the symbol's length (a short side bent by perspective would skew the
  // frame), pointing from the bars' top to their bottom.
  f.vx = -f.uy;
  f.vy = f.ux;
  if (f.vx * (t.lCorner.x - t.columnEnd.x) + f.vy * (t.lCorner.y - t.columnEnd.y) < 0) f.vx = -f.vx, f.vy = -f.vy;
  return f;
}

// Digits printed under the bars: glyphs of a few strokes, 5 modules wide and 7 high, one every
// 7 modules, starting a module below the bars, drawn in the dark level and softened by the blur.
void printDigits(GreyImage& image, const SymbolTruth& t, double blur, Random& rng) {
  const Homography toModule = t.imageFromModule.inverse();
  struct Stroke {
    double u0, v0, u1, v1;
  };
  std::vector<Stroke> strokes;
  // Digits a third of the bars' height (at most 7 modules), as on printed labels.
  const double height = std::clamp(0.35 * t.rows, 2.0, 7.0), top = t.rows + 0.25 * height;
  for (double u = 1; u + 5 <= t.cols; u += 7) {
    const int count = rng.uniformInt(2, 4);
    for (int k = 0; k < count; ++k) {
      if (rng.chance(0.5)) {
        const double v = top + rng.uniform(0, height);
        strokes.push_back({u, v, u + 4.5, v + 0.12 * height + 0.2});
      } else {
        const double x = u + rng.uniform(0, 3.6);
        strokes.push_back({x, top, x + 0.12 * height + 0.2, top + height});
      }
    }
  }
  const double soft = std::max(0.3, blur / std::max(t.moduleSize, 0.5));  // the blur in modules
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const Point m = toModule.map(x + 0.5, y + 0.5);
      if (m.y < t.rows || m.y > top + height + 2 || m.x < -1 || m.x > t.cols + 1) continue;
      double ink = 0;
      for (const Stroke& s : strokes) {
        const double du = std::max({s.u0 - m.x, m.x - s.u1, 0.0}), dv = std::max({s.v0 - m.y, m.y - s.v1, 0.0});
        ink = std::max(ink, std::exp(-0.5 * (du * du + dv * dv) / (soft * soft)));
      }
      uint8_t& p = image.at(x, y);
      p = static_cast<uint8_t>(std::lround(p + (t.setLevel - p) * ink));
    }
}

// The label wrapped round a cylinder whose axis runs along the bars: a point at distance s along
// the symbol from its centre shows at R sin(s / R).
GreyImage curve(const GreyImage& image, const Frame& f, double radius) {
  GreyImage out(image.width, image.height);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const double px = x + 0.5 - f.centre.x, py = y + 0.5 - f.centre.y;
      const double s = px * f.ux + py * f.uy, t = px * f.vx + py * f.vy;
      const double flat = radius * std::asin(std::clamp(s / radius, -1.0, 1.0));
      const Point from{f.centre.x + flat * f.ux + t * f.vx, f.centre.y + flat * f.uy + t * f.vy};
      out.at(x, y) = static_cast<uint8_t>(std::lround(std::clamp(image.sample(from), 0.0, 255.0)));
    }
  return out;
}

Point curved(Point p, const Frame& f, double radius) {
  const double px = p.x - f.centre.x, py = p.y - f.centre.y;
  const double s = px * f.ux + py * f.uy, t = px * f.vx + py * f.vy;
  const double shown = radius * std::sin(std::clamp(s / radius, -kPi / 2, kPi / 2));
  return {f.centre.x + shown * f.ux + t * f.vx, f.centre.y + shown * f.uy + t * f.vy};
}

// A band of glare along the bars over part of their height: grey pulled towards white.
void glare(GreyImage& image, const Frame& f, const SymbolTruth& t, Random& rng) {
  const double barHeight = t.rows * t.moduleSize;
  const double offset = rng.uniform(-0.35, 0.35) * barHeight, width = rng.uniform(0.1, 0.2) * barHeight + 1;
  const double strength = rng.uniform(0.5, 0.85), tilt = rng.uniform(-0.08, 0.08);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const double px = x + 0.5 - f.centre.x, py = y + 0.5 - f.centre.y;
      const double s = px * f.ux + py * f.uy, across = px * f.vx + py * f.vy - offset - tilt * s;
      const double g = strength * std::exp(-0.5 * across * across / (width * width));
      uint8_t& p = image.at(x, y);
      p = static_cast<uint8_t>(std::lround(p + (255 - p) * g));
    }
}

// The frame filled: the image cut to the symbol's box with `margin` modules of quiet zone before
// its first and after its last bar, and a few pixels above and below.
GreyImage crop(const GreyImage& image, SymbolTruth& t, const Frame& f, double margin, double below) {
  const double mu = margin * t.moduleSize;
  const Point corners[4] = {t.lCorner, t.rowEnd, t.columnEnd, t.opposite};
  double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
  for (int k = 0; k < 4; ++k) {
    const bool start = k == 0 || k == 2, bottom = k < 2;
    const double du = start ? -mu : mu, dv = bottom ? below : -2;
    const double x = corners[k].x + du * f.ux + dv * f.vx, y = corners[k].y + du * f.uy + dv * f.vy;
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  }
  const int left = std::clamp(static_cast<int>(std::floor(x0)), 0, image.width - 1);
  const int topRow = std::clamp(static_cast<int>(std::floor(y0)), 0, image.height - 1);
  const int right = std::clamp(static_cast<int>(std::ceil(x1)), left + 1, image.width);
  const int bottomRow = std::clamp(static_cast<int>(std::ceil(y1)), topRow + 1, image.height);
  GreyImage out(right - left, bottomRow - topRow);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) out.at(x, y) = image.at(x + left, y + topRow);
  for (Point* p : {&t.lCorner, &t.rowEnd, &t.columnEnd, &t.opposite}) {
    p->x -= left;
    p->y -= topRow;
  }
  return out;
}

// The camera's blur (separable Gaussian, edges repeated) and sensor noise.
void blurAndNoise(GreyImage& image, double sigma, double noise, Random& rng) {
  const int r = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
  std::vector<double> k(2 * r + 1);
  double sum = 0;
  for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-0.5 * i * i / (sigma * sigma));
  const int w = image.width, h = image.height;
  std::vector<double> rows(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double acc = 0;
      for (int i = -r; i <= r; ++i) acc += k[i + r] * image.at(std::clamp(x + i, 0, w - 1), y);
      rows[static_cast<size_t>(y) * w + x] = acc / sum;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double acc = 0;
      for (int i = -r; i <= r; ++i) acc += k[i + r] * rows[static_cast<size_t>(std::clamp(y + i, 0, h - 1)) * w + x];
      image.at(x, y) = static_cast<uint8_t>(std::lround(std::clamp(acc / sum + rng.gaussian(0, noise), 0.0, 255.0)));
    }
}

}  // namespace

GreyImage jpegRoundTrip(const GreyImage& image, int quality) {
  jpeg_compress_struct c{};
  jpeg_error_mgr error{};
  c.err = jpeg_std_error(&error);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = static_cast<JDIMENSION>(image.width);
  c.image_height = static_cast<JDIMENSION>(image.height);
  c.input_components = 1;
  c.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, std::clamp(quality, 1, 100), TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + static_cast<size_t>(c.next_scanline) * image.width);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  jpeg_decompress_struct d{};
  d.err = jpeg_std_error(&error);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, buffer, size);
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&d);
  GreyImage out(image.width, image.height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = out.pixels.data() + static_cast<size_t>(d.output_scanline) * out.width;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::free(buffer);
  return out;
}

Scene1d generatePhone1d(Barcode1d kind, const std::string& data, Random& rng) {
  Scene1d out;
  Placement p;
  p.quietZone = 10;
  p.antiAlias = 4;
  // The narrowest module the picture shows is 1.5 to 3 pixels: the label curves away from the
  // camera towards its ends (by endAngle there, which foreshortens a module by its cosine) and
  // the perspective narrows the modules of its far end (by (1 + |perspectiveU| / 2) squared), so
  // the flat label's module is drawn that much wider.
  const double narrowest = rng.uniform(1.5, 3);
  const double barPixels = rng.uniform(12, 32);
  p.angleDeg = rng.uniform(-8, 8) + 90 * rng.uniformInt(0, 3);
  p.perspectiveU = rng.uniform(-0.2, 0.2);
  const double endAngle = rng.uniform(0.3, 0.75);
  const double farEnd = 1 + 0.5 * std::fabs(p.perspectiveU);
  p.moduleSize = narrowest * farEnd * farEnd / std::cos(endAngle);
  out.barcode = encode1d(kind, data, std::max(2, static_cast<int>(std::lround(barPixels / p.moduleSize))));
  const int cols = out.barcode.bars.cols;
  // No keystone across the bars: on bars a few modules tall it would fan them out like a comb.
  p.perspectiveV = 0;

  SceneSpec spec;
  spec.seed = rng.bits();
  const int contrast = rng.uniformInt(60, 180);
  spec.darkLevel = static_cast<uint8_t>(rng.uniformInt(10, 245 - contrast));
  spec.lightLevel = static_cast<uint8_t>(spec.darkLevel + contrast);
  spec.background = spec.lightLevel + rng.uniform(-5, 5);
  spec.gradientX = rng.uniform(-30, 30);
  spec.gradientY = rng.uniform(-30, 30);
  spec.noiseSigma = rng.uniform(1, 4);
  // A phone's blur grows with how close it is held, as the modules do: a third to a half of the
  // narrowest module.
  const double blur = std::min(1.5, rng.uniform(0.3, 0.5) * narrowest);
  const double slack = 1.5;
  const double side = (cols + 2 * p.quietZone) * p.moduleSize * slack + 40;
  spec.width = spec.height = static_cast<int>(side);
  spec.symbols.push_back(out.barcode.bars);
  spec.placements.push_back(p);
  // Digits, curvature and glare go in before the blur and the noise, as the camera sees them.
  spec.blurSigma = 0;
  const double noise = spec.noiseSigma;
  spec.noiseSigma = 0;
  out.scene = renderAtRandom(spec, rng, 4);
  SymbolTruth& t = out.scene.symbols[0];
  GreyImage& image = out.scene.image;
  printDigits(image, t, blur, rng);
  const Frame f = frameOf(t);
  const double halfLength = 0.5 * cols * p.moduleSize;
  const double radius = halfLength / endAngle;
  image = curve(image, f, radius);
  for (Point* q : {&t.lCorner, &t.rowEnd, &t.columnEnd, &t.opposite}) *q = curved(*q, f, radius);
  glare(image, f, t, rng);
  image = crop(image, t, frameOf(t), rng.uniform(1, 4), rng.uniform(2, 9) * p.moduleSize);
  // The camera: blur, noise, then the JPEG.
  out.scene.spec.blurSigma = blur;
  out.scene.spec.noiseSigma = noise;
  blurAndNoise(image, blur, noise, rng);
  image = jpegRoundTrip(image, rng.uniformInt(50, 90));
  return out;
}

}  // namespace scene
