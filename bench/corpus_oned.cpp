// The corpus comparison's 1D table: idut's 1D road (as idut-find runs it) and ZXing-C++
// (ReadBarcodes restricted to the same formats, try-harder and try-rotate) over the same
// generated 1D scenes, per symbology. A read counts when the text is the scene's; any other
// text is a wrong read. ZXing's GS1-128 text has no "]C1" prefix (it reports it as the
// symbology identifier), so that prefix is added to its text before comparing.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "corpus_support.hpp"
#include "scenes/scene_1d.hpp"

namespace {

struct OnedTally {
  int scenes = 0, idutRead = 0, idutWrong = 0, zxingRead = 0, zxingWrong = 0, zxingAborted = 0;
  double idutMs = 0, zxingMs = 0;
  void add(const OnedTally& o) {
    scenes += o.scenes;
    idutRead += o.idutRead;
    idutWrong += o.idutWrong;
    zxingRead += o.zxingRead;
    zxingWrong += o.zxingWrong;
    zxingAborted += o.zxingAborted;
    idutMs += o.idutMs;
    zxingMs += o.zxingMs;
  }
};

std::vector<std::string> idutTexts(const scene::GreyImage& image, double& ms) {
  idut::ReadOptions options;
  options.symbologies.erase(idut::Symbology::DataMatrix).erase(idut::Symbology::PDF417);
  const corpus::Stamp start = corpus::now();
  const std::vector<idut::Symbol> symbols = corpus::readIdut(image, options);
  ms = corpus::msSince(start);
  std::vector<std::string> texts;
  for (const idut::Symbol& s : symbols)
    if (s.decoded) texts.push_back(s.text);
  return texts;
}

std::vector<std::string> zxingTextsHere(const scene::GreyImage& image, double& ms) {
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::UPCA |
                   ZXing::BarcodeFormat::EAN8 | ZXing::BarcodeFormat::Code39 | ZXing::BarcodeFormat::ITF |
                   ZXing::BarcodeFormat::UPCE | ZXing::BarcodeFormat::Code93 | ZXing::BarcodeFormat::Codabar |
                   ZXing::BarcodeFormat::DataBar | ZXing::BarcodeFormat::DataBarExpanded);
  hints.setTryHarder(true);
  hints.setTryRotate(true);
  const corpus::Stamp start = corpus::now();
  const ZXing::Results results =
      ZXing::ReadBarcodes(ZXing::ImageView(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
  ms = corpus::msSince(start);
  std::vector<std::string> texts;
  for (const ZXing::Result& r : results)
    if (!r.isValid()) continue;
    // ZXing gives DataBar's GTIN alone, idut the element string after "]e0".
    else if (r.format() == ZXing::BarcodeFormat::DataBar) texts.push_back("]e001" + r.text());
    // Its DataBar expanded text is the element strings (GS-separated), idut's after "]e0".
    else if (r.format() == ZXing::BarcodeFormat::DataBarExpanded) texts.push_back("]e0" + r.text());
    else texts.push_back((r.symbologyIdentifier() == "]C1" ? "]C1" : "") + r.text());
  return texts;
}

// A read of the scene's barcode counts; one of another 1D barcode of the scene (crowded scenes
// have a second) is neither a read nor wrong.
// Debian's ZXing-C++ 1.4 fails an assertion (and aborts) when it compares certain 1D results of
// one image, as with two 1D barcodes in a scene. Each image is therefore read in a child process,
// which times its own read and sends the texts back; an aborted read counts as no read.
std::vector<std::string> zxingTexts(const scene::GreyImage& image, double& ms, int& aborted) {
  const std::optional<std::string> message = corpus::inChildProcess([&] {
    double childMs = 0;
    std::string out;
    for (const std::string& t : zxingTextsHere(image, childMs)) out += t + '\n';
    return std::to_string(childMs) + '\n' + out;
  });
  std::vector<std::string> texts;
  const size_t first = message ? message->find('\n') : std::string::npos;
  if (first == std::string::npos) {
    ++aborted;
    ms = 0;
    return texts;
  }
  ms = std::stod(message->substr(0, first));
  for (size_t at = first + 1, end; (end = message->find('\n', at)) != std::string::npos; at = end + 1)
    texts.push_back(message->substr(at, end - at));
  return texts;
}

void count(const std::vector<std::string>& texts, const scene::Scene1d& s, int& read, int& wrong) {
  bool got = false;
  for (const std::string& t : texts) {
    bool other = false;
    for (const scene::Encoded1d& o : s.others) other = other || t == o.text;
    if (t == s.barcode.text)
      got = true;
    else if (!other)
      ++wrong;
  }
  read += got ? 1 : 0;
}

void printOnedRow(const char* name, const OnedTally& r) {
  if (r.scenes == 0) return;
  // ZXing's time per image over the images it did not abort on.
  const double im = r.idutMs / r.scenes, zm = r.zxingMs / std::max(1, r.scenes - r.zxingAborted);
  std::printf("%-12s %6d %5d (%3.0f%%) %6d %5d (%3.0f%%) %6d %7d %10.2f %10.2f %6.2fx\n", name, r.scenes, r.idutRead,
              100.0 * r.idutRead / r.scenes, r.idutWrong, r.zxingRead, 100.0 * r.zxingRead / r.scenes, r.zxingWrong,
              r.zxingAborted, im, zm, im > 0 ? zm / im : 0);
}

void printOnedHeader(const char* first) {
  std::printf("\n%-12s %6s %12s %6s %12s %6s %7s %10s %10s %7s\n", first, "scenes", "idut read", "wrong", "zxing read",
              "wrong", "aborted", "idut ms", "zxing ms", "ratio");
}

}  // namespace

// perCell scenes for each symbology and condition; prints one row per symbology, then (with
// byCondition) one per symbology and condition and one per condition.
void runOnedScenes(int perCell, uint32_t seed, const std::string& writeTo, bool byCondition) {
  printOnedHeader("1D");
  std::map<scene::Barcode1d, OnedTally> tallies;
  std::map<std::pair<scene::Barcode1d, scene::Condition1d>, OnedTally> cells;
  std::map<scene::Condition1d, OnedTally> conditions;
  OnedTally all;
  for (scene::Barcode1d kind : scene::kAllBarcodes1d) {
    OnedTally& t = tallies[kind];
    for (scene::Condition1d condition : scene::kAllConditions1d)
      for (int i = 0; i < perCell; ++i) {
        OnedTally one;
        const scene::Scene1d s = scene::generate1d(kind, condition, seed + 1000u * i);
        corpus::writeScene(writeTo, std::string("1d-") + scene::barcodeName(kind) + "-" + scene::conditionName(condition),
                           i, s.scene.image);
        double idutMs = 0, zxingMs = 0;
        count(idutTexts(s.scene.image, idutMs), s, one.idutRead, one.idutWrong);
        count(zxingTexts(s.scene.image, zxingMs, one.zxingAborted), s, one.zxingRead, one.zxingWrong);
        one.scenes = 1;
        one.idutMs = idutMs;
        one.zxingMs = zxingMs;
        t.add(one);
        cells[{kind, condition}].add(one);
        conditions[condition].add(one);
      }
    printOnedRow(scene::barcodeName(kind), t);
    all.add(t);
  }
  printOnedRow("all", all);
  if (!byCondition) return;
  printOnedHeader("1D cell");
  for (const auto& [key, t] : cells) {
    const std::string name = std::string(scene::barcodeName(key.first)) + "/" + scene::conditionName(key.second);
    printOnedRow(name.c_str(), t);
  }
  printOnedHeader("1D condition");
  for (const auto& [condition, t] : conditions) printOnedRow(scene::conditionName(condition), t);
}
