// The corpus comparison's PDF417 table: idut's PDF417 road with its decoder (as idut-find runs
// it) and ZXing-C++ (ReadBarcodes restricted to PDF417, try-harder and try-rotate, on the image
// and on its inversion, since this ZXing reads dark-on-light symbols only) over the same
// generated PDF417 scenes, per condition. An idut symbol counts as located when all four corners
// lie within max(2 px, one module) of the true ones, and as read when it is located and its text
// is the symbol's; a ZXing result when it decoded the symbol's text and the centre of its
// position lies inside the true outline. Reports matching no symbol are counted as false. Times
// are per image (wall clock, or this thread's CPU time with cpuTime), each library timed on its
// own; the ratio is ZXing's time over idut's.
#include <cstdio>
#include <string>
#include <vector>

#include "corpus_support.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

using corpus::Tally;

void tally(const scene::ScenePdf& sp, bool cpuTime, Tally& t) {
  const scene::GreyImage& image = sp.scene.image;
  idut::ReadOptions options;
  options.symbologies = {idut::Symbology::PDF417};
  const corpus::Stamp start = corpus::now(cpuTime);
  const std::vector<idut::Symbol> idut = corpus::readIdut(image, options);
  const double idutMs = corpus::msSince(start, cpuTime);
  double zxingMs = 0;
  const std::vector<corpus::ZxingFind> zxing = corpus::zxingFinds(image, ZXing::BarcodeFormat::PDF417, cpuTime, zxingMs);
  t.addImage(image, std::span(sp.scene.symbols).first(sp.pdf.size()), idut, idutMs, zxing, zxingMs);
}

void printPdfRow(const char* name, const Tally& t) {
  if (t.images == 0) return;
  const double im = t.idutMs / t.images, zm = t.zxingMs / t.images;
  auto pct = [&](int n) { return t.truthSymbols ? 100.0 * n / t.truthSymbols : 0.0; };
  std::printf("%-12s %6d %7d %5d (%3.0f%%) %5d (%3.0f%%) %6d %5d (%3.0f%%) %10.2f %10.2f %6.2fx\n", name, t.images,
              t.truthSymbols, t.idutLocated, pct(t.idutLocated), t.idutDecoded, pct(t.idutDecoded), t.idutFalse,
              t.zxingLocated, pct(t.zxingLocated), im, zm, im > 0 ? zm / im : 0);
}

}  // namespace

// perCondition scenes of each PDF417 condition; prints one row per condition. With writeTo set,
// each scene is also written there as pdf417-CONDITION-I.png.
void runPdfScenes(int perCondition, uint32_t seed, const std::string& writeTo, bool cpuTime) {
  std::printf("\n%-12s %6s %7s %12s %12s %6s %12s %10s %10s %7s\n", "PDF417", "images", "symbols", "idut located",
              "idut read", "false", "zxing read", "idut ms", "zxing ms", "ratio");
  Tally all;
  for (scene::ConditionPdf condition : scene::kAllConditionsPdf) {
    Tally t;
    for (int i = 0; i < perCondition; ++i) {
      const auto s = scene::generatePdf(condition, seed + 1000u * i);
      corpus::writeScene(writeTo, std::string("pdf417-") + scene::conditionName(condition), i, s.scene.image);
      tally(s, cpuTime, t);
    }
    printPdfRow(scene::conditionName(condition), t);
    all.add(t);
  }
  printPdfRow("all", all);
}
