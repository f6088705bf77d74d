// The corpus comparison's PDF417 table: idut's PDF417 road (as idut-find runs it) and ZXing-C++
// (ReadBarcodes restricted to PDF417, try-harder and try-rotate, on the image and on its
// inversion, since this ZXing reads dark-on-light symbols only) over the same generated PDF417
// scenes, per condition. An idut symbol counts as located when all four corners lie within
// max(2 px, one module) of the true ones; a ZXing result when it decoded the symbol's text and
// the centre of its position lies inside the true outline. Reports matching no symbol are
// counted as false. Times are wall-clock per image, each library timed on its own.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "locate.hpp"
#include "support/scene_pdf.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct PdfTally {
  int images = 0, symbols = 0, idutLocated = 0, idutFalse = 0, zxingRead = 0;
  double idutMs = 0, zxingMs = 0;
  void add(const PdfTally& o) {
    images += o.images, symbols += o.symbols, idutLocated += o.idutLocated, idutFalse += o.idutFalse;
    zxingRead += o.zxingRead, idutMs += o.idutMs, zxingMs += o.zxingMs;
  }
};

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct ZxingPdf {
  scene::Point centre;
  std::string text;
};

std::vector<ZxingPdf> zxingPdf(const scene::GreyImage& image, double& ms) {
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::PDF417);
  hints.setTryHarder(true);
  hints.setTryRotate(true);
  const auto start = Clock::now();
  ZXing::Results results =
      ZXing::ReadBarcodes(ZXing::ImageView(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
  std::vector<uint8_t> inverted(image.pixels.size());
  std::transform(image.pixels.begin(), image.pixels.end(), inverted.begin(), [](uint8_t v) { return 255 - v; });
  ZXing::Results more =
      ZXing::ReadBarcodes(ZXing::ImageView(inverted.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
  ms = msSince(start);
  results.insert(results.end(), more.begin(), more.end());
  std::vector<ZxingPdf> finds;
  for (const ZXing::Result& r : results) {
    if (!r.isValid()) continue;
    ZxingPdf f;
    const auto& p = r.position();
    // ZXing's positions count pixel centres at whole numbers; the scenes at x + 0.5.
    for (int k = 0; k < 4; ++k) f.centre.x += p[k].x / 4.0, f.centre.y += p[k].y / 4.0;
    f.centre.x += 0.5;
    f.centre.y += 0.5;
    f.text = r.text();
    finds.push_back(f);
  }
  return finds;
}

bool inside(const std::array<scene::Point, 4>& quad, scene::Point p) {
  int sign = 0;
  for (int k = 0; k < 4; ++k) {
    const scene::Point a = quad[k], b = quad[(k + 1) % 4];
    const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    const int s = cross > 0 ? 1 : (cross < 0 ? -1 : 0);
    if (s != 0 && sign != 0 && s != sign) return false;
    if (s != 0) sign = s;
  }
  return true;
}

// Every true corner has a reported corner within tolerance.
bool cornersMatch(const idutfind::Symbol& found, const scene::SymbolTruth& truth) {
  const double tolerance = std::max(2.0, truth.moduleSize);
  for (const scene::Point& t : truth.outline()) {
    bool near = false;
    for (const idutfind::Corner& c : found.corners) near |= std::hypot(c.x - t.x, c.y - t.y) <= tolerance;
    if (!near) return false;
  }
  return true;
}

void tally(const scene::ScenePdf& sp, PdfTally& t) {
  const scene::GreyImage& image = sp.scene.image;
  std::vector<idutfind::Symbol> idut;
  std::string error;
  idutfind::LocateSettings settings;
  const auto start = Clock::now();
  idutfind::locatePdf417(image.pixels.data(), image.width, image.height, image.width, settings, idut, error);
  t.idutMs += msSince(start);
  double zxingMs = 0;
  const std::vector<ZxingPdf> zxing = zxingPdf(image, zxingMs);
  t.zxingMs += zxingMs;
  ++t.images;
  std::vector<bool> used(idut.size(), false);
  for (size_t i = 0; i < sp.pdf.size(); ++i) {
    const scene::SymbolTruth& truth = sp.scene.symbols[i];
    ++t.symbols;
    for (size_t k = 0; k < idut.size(); ++k)
      if (!used[k] && cornersMatch(idut[k], truth)) {
        used[k] = true;
        ++t.idutLocated;
        break;
      }
    for (const ZxingPdf& z : zxing)
      if (z.text == truth.symbol.text && inside(truth.outline(), z.centre)) {
        ++t.zxingRead;
        break;
      }
  }
  t.idutFalse += static_cast<int>(std::count(used.begin(), used.end(), false));
}

void printPdfRow(const char* name, const PdfTally& t) {
  if (t.images == 0) return;
  const double im = t.idutMs / t.images, zm = t.zxingMs / t.images;
  std::printf("%-12s %6d %7d %5d (%3.0f%%) %6d %5d (%3.0f%%) %10.2f %10.2f %6.2fx\n", name, t.images, t.symbols,
              t.idutLocated, 100.0 * t.idutLocated / t.symbols, t.idutFalse, t.zxingRead,
              100.0 * t.zxingRead / t.symbols, im, zm, im > 0 ? zm / im : 0);
}

}  // namespace

// perCondition scenes of each PDF417 condition; prints one row per condition.
void runPdfScenes(int perCondition, uint32_t seed) {
  std::printf("\n%-12s %6s %7s %12s %6s %12s %10s %10s %7s\n", "PDF417", "images", "symbols", "idut located",
              "false", "zxing read", "idut ms", "zxing ms", "ratio");
  PdfTally all;
  for (scene::ConditionPdf condition : scene::kAllConditionsPdf) {
    PdfTally t;
    for (int i = 0; i < perCondition; ++i) tally(scene::generatePdf(condition, seed + 1000u * i), t);
    printPdfRow(scene::conditionName(condition), t);
    all.add(t);
  }
  printPdfRow("all", all);
}
