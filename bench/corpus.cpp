// The corpus comparison: idut's Data Matrix location (as idut-find runs it) and ZXing-C++
// (ReadBarcodes restricted to Data Matrix) over the same images in one process.
//
//   idut-corpus [--scenes N] [--seed S]   generated scenes with ground truth (default 40 per
//                                          category that holds symbols, plus symbol-free ones)
//   idut-corpus DIRECTORY ...             every image under the directories: with truth files
//                                          beside them (NAME.txt, NAME.bin) each read at four
//                                          rotations and compared per folder (corpus_truth.cpp),
//                                          else counted only; --1d reads 1D symbologies only,
//                                          --misses lists each image and turn idut did not read
//   idut-corpus --oned N                  the 1D table alone, N scenes per symbology and
//                                          condition, with a row per symbology and condition
//   idut-corpus --rectangles long         idut with the long rectangles accepted
//   idut-corpus --step N                  idut scanning every N-th row
//   idut-corpus --dm-tables N             only the frame-filling and DMRE table, N scenes a row
//   idut-corpus --write DIRECTORY         also writes the generated scenes there as PNG files
//                                          (the 1D and PDF417 ones as 1d-* and pdf417-*),
//                                          to be read back as a directory
//   idut-corpus --cpu-time                the Data Matrix and PDF417 tables timed by the thread's
//                                          CPU time, not the wall clock (for a busy machine)
//   idut-corpus --pdf417 [--scenes N]     the PDF417 table alone, N scenes per condition
//   idut-corpus --pdf417 [--pages P] DIRECTORY ...
//                                          PDF417 on images with truth files beside them, at four
//                                          rotations, and each pasted into P larger pages
//                                          (corpus_pdfphotos.cpp)
//
// With ground truth, an idut symbol counts as located when all four of its corners lie within
// max(2 px, one module) of the true corners; a ZXing result counts when the centre of its
// reported position lies inside the true outline and it decoded the symbol's text. ZXing reads
// each image twice, as given and inverted, since the version packaged here finds dark-on-light
// symbols only. Without
// ground truth the program counts what each reports. Times are wall-clock (or --cpu-time) per image, each
// library timed on its own; the ratio is ZXing's time over idut's (both locate and decode).
// A second table compares 1D reading (corpus_oned.cpp) on generated 1D scenes, a third PDF417
// location (corpus_pdf.cpp) on generated PDF417 scenes.
// "idut decoded" counts located symbols whose text the Data Matrix reader got right (without
// ground truth: every decoded symbol), next to ZXing's decoded count.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "corpus_support.hpp"
#include "imageio/imageio.hpp"
#include "inputs.hpp"
#include "scenes/scene.hpp"

// The 1D table over generated 1D scenes (corpus_oned.cpp): perCell scenes per symbology and
// condition, also written to writeTo when it is set.
void runOnedScenes(int perCell, uint32_t seed, const std::string& writeTo, bool byCondition = false);
// Directories of photographs with truth files beside them (corpus_truth.cpp).
bool hasTruthFiles(const std::vector<std::string>& paths);
int runTruthDirectories(const std::vector<std::string>& paths, bool onlyOned, bool listMisses);
// The PDF417 table over generated PDF417 scenes (corpus_pdf.cpp): perCondition scenes each,
// also written to writeTo when it is set.
void runPdfScenes(int perCondition, uint32_t seed, const std::string& writeTo, bool cpuTime);
// PDF417 on images with truth files beside them, and pasted into pages (corpus_pdfphotos.cpp).
int runPdfPhotos(const std::vector<std::string>& paths, int pages);
// The table of frame-filling and rectangular extension Data Matrix symbols (corpus_dm.cpp):
// perCell scenes per row, also written to writeTo when it is set.
void runDmTables(int perCell, uint32_t seed, const std::string& writeTo);

namespace {

using corpus::Tally;
using corpus::ZxingFind;

// The front door's options for every image: Data Matrix only (--rectangles long sets
// longRectangles).
idut::ReadOptions g_settings = [] {
  idut::ReadOptions o;
  o.symbologies = {idut::Symbology::DataMatrix};
  return o;
}();

// --cpu-time: each library timed by the CPU time of the calling thread rather than by the wall
// clock, so that other work on a shared machine does not count (both run on this thread).
bool g_cpuTime = false;

std::vector<idut::Symbol> runIdut(const scene::GreyImage& image, double& ms) {
  const corpus::Stamp start = corpus::now(g_cpuTime);
  std::vector<idut::Symbol> symbols = corpus::readIdut(image, g_settings);
  ms = corpus::msSince(start, g_cpuTime);
  return symbols;
}

std::vector<ZxingFind> runZxing(const scene::GreyImage& image, double& ms) {
  return corpus::zxingFinds(image, ZXing::BarcodeFormat::DataMatrix, g_cpuTime, ms);
}

void tallyScene(const scene::Scene& s, Tally& t) {
  double idutMs = 0, zxingMs = 0;
  const auto idut = runIdut(s.image, idutMs);
  const auto zxing = runZxing(s.image, zxingMs);
  t.addImage(s.image, s.symbols, idut, idutMs, zxing, zxingMs);
}

void printHeader(bool withTruth) {
  if (withTruth)
    std::printf("%-13s %6s %7s %12s %6s %12s %12s %10s %10s %7s %10s\n", "set", "images", "symbols", "idut located",
                "false", "idut decoded", "zxing found", "idut ms", "zxing ms", "ratio", "idut ms/MP");
  else
    std::printf("%-13s %6s %12s %12s %12s %10s %10s %7s %10s\n", "set", "images", "idut located", "idut decoded",
                "zxing found", "idut ms",
                "zxing ms", "ratio", "idut ms/MP");
}

void printRow(const char* name, const Tally& t, bool withTruth) {
  const double idutMs = t.images ? t.idutMs / t.images : 0, zxingMs = t.images ? t.zxingMs / t.images : 0;
  const double ratio = idutMs > 0 ? zxingMs / idutMs : 0;
  const double perMegapixel = t.megapixels > 0 ? t.idutMs / t.megapixels : 0;
  if (withTruth) {
    auto pct = [&](int n) { return t.truthSymbols ? 100.0 * n / t.truthSymbols : 0.0; };
    std::printf("%-13s %6d %7d %5d (%3.0f%%) %6d %5d (%3.0f%%) %5d (%3.0f%%) %10.2f %10.2f %6.2fx %10.2f\n", name,
                t.images, t.truthSymbols, t.idutLocated, pct(t.idutLocated), t.idutFalse, t.idutDecoded,
                pct(t.idutDecoded), t.zxingLocated, pct(t.zxingLocated), idutMs,
                zxingMs, ratio, perMegapixel);
  } else {
    std::printf("%-13s %6d %12d %12d %12d %10.2f %10.2f %6.2fx %10.2f\n", name, t.images, t.idutLocated,
                t.idutDecoded, t.zxingLocated,
                idutMs, zxingMs, ratio, perMegapixel);
  }
}

int runScenes(int perCategory, uint32_t seed, const std::string& writeTo) {
  printHeader(true);
  Tally total;
  for (scene::Category category : scene::kAllCategories) {
    Tally t;
    const int count = scene::hasSymbols(category) ? perCategory : std::max(1, perCategory / 4);
    for (int i = 0; i < count; ++i) {
      const scene::Scene s = scene::generate(category, seed + 1000u * i);
      corpus::writeScene(writeTo, scene::categoryName(category), i, s.image);
      tallyScene(s, t);
    }
    printRow(scene::categoryName(category), t, true);
    total.add(t);
  }
  printRow("all", total, true);
  runOnedScenes(std::max(1, perCategory / 10), seed, writeTo);
  runPdfScenes(std::max(1, perCategory / 4), seed, writeTo, g_cpuTime);
  runDmTables(std::max(1, perCategory / 4), seed, writeTo);
  return 0;
}

int runDirectories(const std::vector<std::string>& paths) {
  const std::vector<std::string> files = idutfind::filesOf(idutfind::collectInputs(paths), "idut-corpus");
  Tally t;
  for (const std::string& file : files) {
    scene::GreyImage image;
    if (!corpus::readImage(file, &image)) continue;
    double idutMs = 0, zxingMs = 0;
    const auto idut = runIdut(image, idutMs);
    t.idutLocated += static_cast<int>(idut.size());
    t.idutDecoded += static_cast<int>(std::count_if(idut.begin(), idut.end(), [](auto& s) { return s.decoded; }));
    t.zxingLocated += static_cast<int>(runZxing(image, zxingMs).size());
    ++t.images;
    t.idutMs += idutMs;
    t.zxingMs += zxingMs;
    t.megapixels += image.width * static_cast<double>(image.height) / 1e6;
  }
  printHeader(false);
  printRow("directories", t, false);
  return t.images > 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  int perCategory = 40;
  uint32_t seed = 1;
  std::vector<std::string> directories;
  std::string writeTo;
  bool pdf417 = false;
  int pages = 0;
  int dmTablesOnly = 0;
  int onedOnly = 0;
  bool onlyOnedFormats = false;
  bool listMisses = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--1d"))
      onlyOnedFormats = true;
    else if (!std::strcmp(argv[i], "--misses"))
      listMisses = true;
    else if (!std::strcmp(argv[i], "--oned") && i + 1 < argc)
      onedOnly = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--pdf417"))
      pdf417 = true;
    else if (!std::strcmp(argv[i], "--pages") && i + 1 < argc)
      pages = std::max(0, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--scenes") && i + 1 < argc)
      perCategory = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
      seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    else if (!std::strcmp(argv[i], "--step") && i + 1 < argc)
      g_settings.step = std::clamp(std::atoi(argv[++i]), 1, 64);
    else if (!std::strcmp(argv[i], "--rectangles") && i + 1 < argc)
      g_settings.longRectangles = !std::strcmp(argv[++i], "long");
    else if (!std::strcmp(argv[i], "--dm-tables") && i + 1 < argc)
      dmTablesOnly = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--cpu-time"))
      g_cpuTime = true;
    else if (!std::strcmp(argv[i], "--write") && i + 1 < argc)
      writeTo = argv[++i];
    else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: idut-corpus [--scenes N] [--seed S] [--write DIRECTORY] [--rectangles long] [--step N] [--cpu-time] [--dm-tables N] [--oned N] [--1d] [--misses] [--pdf417 [--pages P]] [DIRECTORY ...]\n");
      return 64;
    } else
      directories.push_back(argv[i]);
  }
  // The scenes are written as they are made: a folder that cannot be made is said at once,
  // not after minutes of reading.
  std::error_code made;
  if (!writeTo.empty() && !std::filesystem::create_directories(writeTo, made) && made) {
    std::fprintf(stderr, "idut-corpus: cannot make %s: %s\n", writeTo.c_str(), made.message().c_str());
    return 2;
  }
  if (dmTablesOnly > 0) {
    runDmTables(dmTablesOnly, seed, writeTo);
    return 0;
  }
  if (onedOnly) {
    runOnedScenes(onedOnly, seed, writeTo, true);
    return 0;
  }
  if (pdf417 && !directories.empty()) return runPdfPhotos(directories, pages);
  if (pdf417) {
    runPdfScenes(perCategory, seed, writeTo, g_cpuTime);
    return 0;
  }
  if (!directories.empty()) return hasTruthFiles(directories) ? runTruthDirectories(directories, onlyOnedFormats, listMisses) : runDirectories(directories);
  return runScenes(perCategory, seed, writeTo);
}
