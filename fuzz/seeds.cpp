// Writes the fuzz targets' starting corpora: fuzz_seeds DIR makes DIR/<target>/ with a few
// inputs each, taken from real symbols rendered with libzint (small scenes, so the fuzzer
// starts from inputs that reach deep into the searches) and from tiny images.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imageio/imageio.hpp"
#include "reader/datamatrix/dmcodewords.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_1d.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

namespace fs = std::filesystem;

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A small scene holding one real symbol, as the image-taking targets read it: width and
// height in the first two bytes (both at most 64), then the pixels.
std::vector<uint8_t> sizedImage(const scene::GreyImage& image) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(image.width - 1), static_cast<uint8_t>(image.height - 1)};
  bytes.insert(bytes.end(), image.pixels.begin(), image.pixels.end());
  return bytes;
}

scene::GreyImage smallDataMatrixScene(const std::string& text, double angle, scene::Polarity polarity, int side = 90,
                                      double moduleSize = 4) {
  scene::SceneSpec spec;
  spec.width = side;
  spec.height = side;
  spec.symbols.push_back(scene::encodeDataMatrix(text));
  scene::Placement placement;
  placement.centre = {side / 2.0, side / 2.0};
  placement.moduleSize = moduleSize;
  placement.angleDeg = angle;
  placement.polarity = polarity;
  spec.placements.push_back(placement);
  spec.blurSigma = 0.6;
  return scene::render(spec).image;
}

void imageSeeds(const fs::path& dir) {
  const scene::GreyImage scene = smallDataMatrixScene("fuzz", 20, scene::Polarity::darkOnLight);
  imageio::GreyImage image{scene.width, scene.height, scene.pixels};
  std::string error;
  imageio::writePng((dir / "scene.png").string(), image, &error);
  imageio::writePgm((dir / "scene.pgm").string(), image, &error);
  imageio::writeJpeg((dir / "scene.jpg").string(), image, 80, &error);
  imageio::GreyImage tiny{2, 2, {0, 255, 255, 0}};
  imageio::writePng((dir / "tiny.png").string(), tiny, &error);
}

// 10 x 10 symbols of 3-pixel modules in 60 x 60 scenes, inside the targets' 64 x 64 cap.
void roadSeeds(const fs::path& dir) {
  writeBytes(dir / "dark", sizedImage(smallDataMatrixScene("road", 10, scene::Polarity::darkOnLight, 60, 3)));
  writeBytes(dir / "light", sizedImage(smallDataMatrixScene("12345", 75, scene::Polarity::lightOnDark, 60, 3)));
}

// Small PDF417 scenes as the PDF417 road target reads them: width - 16 and height - 1 in the first
// two bytes, then the pixels. The symbols lie along the image's rows (the target's images are
// wide and short: at most 48 rows).
void pdfroadSeeds(const fs::path& dir) {
  int n = 0;
  for (auto [angle, polarity] : {std::pair{3.0, scene::Polarity::darkOnLight}, {178.0, scene::Polarity::lightOnDark}}) {
    scene::SceneSpec spec;
    spec.width = 180;
    spec.height = 48;
    spec.symbols.push_back(scene::encodePdf417("pdf", scene::Pdf417Layout{2, 1, 3}));
    scene::Placement placement;
    placement.centre = {90, 24};
    placement.moduleSize = 1.5;
    placement.quietZone = 2;
    placement.angleDeg = angle;
    placement.polarity = polarity;
    spec.placements.push_back(placement);
    spec.blurSigma = 0.5;
    const scene::GreyImage image = scene::render(spec).image;
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(image.width - 16), static_cast<uint8_t>(image.height - 1)};
    bytes.insert(bytes.end(), image.pixels.begin(), image.pixels.end());
    writeBytes(dir / ("pdf" + std::to_string(n++)), bytes);
  }
}

void reedSolomonSeeds(const fs::path& dir) {
  // Field selector, field size, code size, data length and damage, as the target reads them.
  writeBytes(dir / "gf256", {0, 6, 10, 20, 0, 3, 5, 0, 7, 1, 9, 0, 2});
  writeBytes(dir / "gf929", {1, 40, 0, 8, 4, 1, 0, 3, 1, 200, 1});
}

// Module grids of real symbols as the Data Matrix reader target takes them (size index, then the
// modules as bits), and a few data codewords for its message decoder.
void dmreadSeeds(const fs::path& dir) {
  const auto& sizes = dmread::symbolSizes();
  int n = 0;
  for (const char* text : {"seed", "1234567890123456", "Hello, World! hello world"}) {
    const scene::DmSymbol symbol = scene::encodeDataMatrix(text);
    for (size_t index = 0; index < sizes.size(); ++index) {
      if (sizes[index].rows != symbol.rows || sizes[index].cols != symbol.cols) continue;
      std::vector<uint8_t> bytes = {2, static_cast<uint8_t>(index)};
      bytes.resize(2 + (symbol.modules.size() + 7) / 8);
      for (size_t i = 0; i < symbol.modules.size(); ++i)
        if (symbol.modules[i]) bytes[2 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
      writeBytes(dir / ("matrix" + std::to_string(n++)), bytes);
    }
  }
  writeBytes(dir / "codewords", {1, 'h' + 1, 'i' + 1, 230, 0x59, 0x7A, 254, 142, 129});
}

// Width sequences of real 1D symbols (one byte a width, in modules) for the 1D target.
void onedSeeds(const fs::path& dir) {
  int n = 0;
  for (auto [kind, data] : {std::pair{scene::Barcode1d::code128, "Seed-128"}, {scene::Barcode1d::ean13, "590123412345"},
                            {scene::Barcode1d::code39, "SEED39"}, {scene::Barcode1d::itf, "12345678"},
                            {scene::Barcode1d::upce, "123456"},   {scene::Barcode1d::code93, "Seed93"},
                            {scene::Barcode1d::codabar, "A40156B"}, {scene::Barcode1d::ean13AddOn, "590123412345+12345"},
                            {scene::Barcode1d::databar, "0950110153000"},
                            {scene::Barcode1d::databarExpanded, "[01]98898765432106[3202]012345[15]991231"},
                            {scene::Barcode1d::databarExpanded, "[10]AB-12[21]xyz!"}}) {
    const scene::Encoded1d encoded = scene::encode1d(kind, data, 1);
    std::vector<uint8_t> bytes = {1, 20};  // the widths path, then a quiet zone
    int run = 1;
    for (int c = 1; c <= encoded.bars.cols; ++c) {
      const bool same = c < encoded.bars.cols && encoded.bars.isDark(0, c) == encoded.bars.isDark(0, c - 1);
      if (same) {
        ++run;
        continue;
      }
      bytes.push_back(static_cast<uint8_t>(run));
      run = 1;
    }
    bytes.push_back(20);
    writeBytes(dir / ("widths" + std::to_string(n++)), bytes);
  }
}

// A 40 x 12 image of bars 3 to 5 pixels wide, scanned along its middle row, down a slanted
// segment and along a ray; and a grey profile for the peak detector.
void scanSeeds(const fs::path& dir) {
  const int width = 40, height = 12;
  auto le16 = [](std::vector<uint8_t>& b, int v) { b.push_back(uint8_t(v & 255)), b.push_back(uint8_t((v >> 8) & 255)); };
  const struct { int kind, ax, ay, bx, by, dx, dy; } shapes[] = {
      {0, 8, 6 * 16 + 8, 0, 0, 1000, 0}, {1, 16, 24, 38 * 16, 10 * 16, 0, 0}, {2, 100, 100, 0, 0, 900, 300}};
  int n = 0;
  for (const auto& k : shapes) {
    std::vector<uint8_t> b{1, width - 1, height - 1, 1, 1, uint8_t(k.kind)};
    for (int v : {k.ax, k.ay, k.bx, k.by, k.dx, k.dy}) le16(b, v);
    b.push_back(4);  // threshold 32
    le16(b, 0);
    le16(b, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) b.push_back((x / 4 + x / 7) % 2 ? 30 : 220);
    writeBytes(dir / ("shape" + std::to_string(n++)), b);
  }
  std::vector<uint8_t> profile{0, 10};
  for (int i = 0; i < 60; ++i) profile.push_back(uint8_t(i % 20 < 10 ? 40 : 200));
  writeBytes(dir / "profile", profile);
}

// Edges of 30 bars 6 pixels apart, 3 wide, along an axis; and values in three groups.
void teethSeeds(const fs::path& dir) {
  std::vector<uint8_t> bars{1, 29, 0, 0, 1, 44, 48, 200, 4, 0};
  for (int i = 0; i < 60; ++i) {
    const int step = 3 * 256;
    bars.insert(bars.end(), {uint8_t(step & 255), uint8_t(step >> 8), uint8_t(200 + i % 7)});
  }
  writeBytes(dir / "bars", bars);
  std::vector<uint8_t> groups{0, 3, 3, 2, 5};
  for (int i = 0; i < 90; ++i) {
    const int v = 1000 * (i % 3) + i % 11;
    groups.insert(groups.end(), {uint8_t(v & 255), uint8_t(v >> 8)});
  }
  writeBytes(dir / "groups", groups);
}

}  // namespace

// PDF417 for the decoder target: module rows of real symbols (mode 2: rows - 3, width - 35, then
// each row's modules as bits), data codewords (mode 0, 16 bits each) and a symbol to damage
// (mode 1: level, columns, word count, words).
void pdfdecodeSeeds(const fs::path& dir) {
  int n = 0;
  for (const char* text : {"Seed 417", "1234567890123456789012345", "Mixed: abc DEF 12.5%"}) {
    scene::Pdf417Layout layout;
    layout.rowHeight = 1;
    layout.columns = 2;
    layout.security = 1;
    const scene::DmSymbol symbol = scene::encodePdf417(text, layout);
    if (symbol.rows < 3 || symbol.rows > 32) continue;
    std::vector<uint8_t> bytes = {2, static_cast<uint8_t>(symbol.rows - 3), static_cast<uint8_t>(symbol.cols - 35)};
    for (int r = 0; r < symbol.rows; ++r)
      for (int c = 0; c < symbol.cols; c += 8) {
        uint8_t byte = 0;
        for (int b = 0; b < 8 && c + b < symbol.cols; ++b) byte |= static_cast<uint8_t>(symbol.isDark(r, c + b) << b);
        bytes.push_back(byte);
      }
    writeBytes(dir / ("rows" + std::to_string(n++)), bytes);
  }
  writeBytes(dir / "codewords", {0, 5, 0, 0xD4, 0x00, 0x8D, 0x03, 0x86, 0x03, 0x01, 0x00});
  writeBytes(dir / "damaged", {1, 2, 3, 6, 0x50, 0x00, 0x86, 0x03, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 2});
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 64;
  }
  const fs::path root = argv[1];
  const struct {
    const char* target;
    void (*make)(const fs::path&);
  } kSeeds[] = {{"imageio", imageSeeds}, {"road", roadSeeds}, {"reedsolomon", reedSolomonSeeds},
                {"dmread", dmreadSeeds},   {"oned", onedSeeds}, {"edge", roadSeeds},
                {"scan", scanSeeds},     {"teeth", teethSeeds}, {"pdfroad", pdfroadSeeds},
                {"pdfdecode", pdfdecodeSeeds}};
  for (const auto& s : kSeeds) {
    fs::create_directories(root / s.target);
    s.make(root / s.target);
  }
  return 0;
}
