// The corpus comparison's table of the Data Matrix symbols real pictures bring and the categories
// leave out: symbols filling the picture (quiet zone of zero or one module, every quarter turn, a
// slight tilt, some mirrored) and the rectangular extension sizes at any angle, each in both
// polarities, read by idut with the default options and by ZXing-C++ (on the image and on its
// inversion). A symbol counts for idut when its corners match and it read the true text; for
// ZXing when it read the true text inside the true outline.
#include <cstdio>
#include <string>
#include <vector>

#include "corpus_support.hpp"
#include "scenes/scene_dm.hpp"

namespace {

using corpus::Tally;
using scene::Polarity;

void tally(const scene::Scene& sc, Tally& t) {
  idut::ReadOptions options;
  options.symbologies = {idut::Symbology::DataMatrix};
  const corpus::Stamp start = corpus::now();
  const std::vector<idut::Symbol> idut = corpus::readIdut(sc.image, options);
  const double idutMs = corpus::msSince(start);
  double zxingMs = 0;
  const auto zxing = corpus::zxingFinds(sc.image, ZXing::BarcodeFormat::DataMatrix, false, zxingMs);
  t.addImage(sc.image, sc.symbols, idut, idutMs, zxing, zxingMs);
}

void printRow(const std::string& name, const Tally& t) {
  if (t.images == 0) return;
  const double im = t.idutMs / t.images, zm = t.zxingMs / t.images;
  auto pct = [&](int n) { return 100.0 * n / t.truthSymbols; };
  std::printf("%-22s %6d %5d (%3.0f%%) %6d %5d (%3.0f%%) %10.2f %10.2f %6.2fx\n", name.c_str(), t.images,
              t.idutDecoded, pct(t.idutDecoded), t.idutFalse, t.zxingLocated, pct(t.zxingLocated), im, zm,
              im > 0 ? zm / im : 0);
}

const char* polarityName(Polarity p) { return p == Polarity::darkOnLight ? "dark" : "light"; }

// A frame-filling scene: a square or rectangular size, modules of 2 to 4 pixels.
scene::Scene fillingScene(int quietZone, Polarity polarity, scene::Random& rng) {
  static const int kOptions[] = {1, 3, 5, 8, 11, 14, 25, 27, 29};
  const int option = kOptions[rng.uniformInt(0, 8)];
  const scene::DmSizes sizes = option >= 25 ? scene::DmSizes::withRectangular : scene::DmSizes::squareOnly;
  scene::DmContent content;
  content.data = scene::fillText(option, sizes, rng);
  content.sizeOption = option;
  content.sizes = sizes;
  scene::FrameFill f;
  f.moduleSize = rng.uniform(2, 4);
  f.quietZone = quietZone;
  f.polarity = polarity;
  f.quarterTurns = rng.uniformInt(0, 3);
  f.tiltDeg = rng.chance(0.5) ? rng.uniform(-4, 4) : 0;
  f.mirrored = rng.chance(0.25);
  f.blurSigma = rng.uniform(0, 0.3) * f.moduleSize;
  f.noiseSigma = rng.uniform(0, 4);
  f.seed = rng.bits();
  return scene::frameFilling(scene::encodeDataMatrix(content), f);
}

// A rectangular extension symbol at any angle among a little clutter.
scene::Scene dmreScene(const scene::DmreSize& size, Polarity polarity, scene::Random& rng) {
  scene::DmContent content;
  content.data = scene::fillText(size.sizeOption, scene::DmSizes::withRectangular, rng);
  content.sizeOption = size.sizeOption;
  content.sizes = scene::DmSizes::withRectangular;
  scene::Placed p;
  p.moduleSize = rng.uniform(2, 4);
  // Half of them near an image axis, where the searches' box test bites.
  p.angleDeg = rng.chance(0.5) ? 90.0 * rng.uniformInt(0, 3) + rng.uniform(-6, 6) : rng.uniform(0, 360);
  p.quietZone = rng.uniformInt(1, 2);
  p.polarity = polarity;
  p.mirrored = rng.chance(0.25);
  p.blurSigma = rng.uniform(0, 0.3) * p.moduleSize;
  p.noiseSigma = rng.uniform(0, 4);
  p.seed = rng.bits();
  return scene::placedAlone(scene::encodeDataMatrix(content), p);
}

}  // namespace

// perCell scenes of each row; with writeTo set, each scene is also written there as
// dmfill-* or dmre-* PNG files.
void runDmTables(int perCell, uint32_t seed, const std::string& writeTo) {
  std::printf("\n%-22s %6s %12s %6s %12s %10s %10s %7s\n", "Data Matrix: fill/DMRE", "images", "idut read", "false",
              "zxing read", "idut ms", "zxing ms", "ratio");
  scene::Random rng(seed);
  Tally all;
  for (int quietZone : {0, 1})
    for (Polarity polarity : {Polarity::darkOnLight, Polarity::lightOnDark}) {
      Tally t;
      const std::string name = "fill qz" + std::to_string(quietZone) + " " + polarityName(polarity);
      for (int i = 0; i < perCell; ++i) {
        const scene::Scene sc = fillingScene(quietZone, polarity, rng);
        corpus::writeScene(writeTo, "dmfill-qz" + std::to_string(quietZone) + "-" + polarityName(polarity), i, sc.image);
        tally(sc, t);
      }
      printRow(name, t);
      all.add(t);
    }
  for (const scene::DmreSize& size : scene::dmreSizes())
    for (Polarity polarity : {Polarity::darkOnLight, Polarity::lightOnDark}) {
      Tally t;
      const std::string cell = std::to_string(size.rows) + "x" + std::to_string(size.cols);
      for (int i = 0; i < perCell; ++i) {
        const scene::Scene sc = dmreScene(size, polarity, rng);
        corpus::writeScene(writeTo, "dmre-" + cell + "-" + polarityName(polarity), i, sc.image);
        tally(sc, t);
      }
      printRow("dmre " + cell + " " + polarityName(polarity), t);
      all.add(t);
    }
  printRow("all", all);
}
