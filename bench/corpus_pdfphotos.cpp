// The corpus comparison's PDF417 table over scans and photographs with their texts: every image
// under the directories that has a truth beside it is read by idut's PDF417 road with its decoder
// and by ZXing-C++ (PDF417, try-harder and try-rotate, the image and its inversion) at 0, 90, 180
// and 270 degrees, rotated in memory. With pages set, each image is also pasted into that many
// larger pages (half plain paper, half with text, bars and lines around it) at a random place,
// and the pages are read at the four rotations too. One row per folder: located (any PDF417
// reported), read and wrong for idut, read and wrong for ZXing, and CPU milliseconds per image.
//
// Truths: NAME.txt (text) or NAME.bin (bytes) beside NAME.png must be the whole content;
// NAME.message.txt / .bin, or NN.txt / NN.bin beside a Macro PDF417 part NN-MM, hold the whole
// message of which a read must be a piece. An image with a text other than its truth and no
// right one is a wrong read.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "corpus_support.hpp"
#include "idut/read.hpp"
#include "imageio/imageio.hpp"
#include "inputs.hpp"

namespace {

struct Truth {
  std::string content;
  bool binary = false;
  bool part = false;  // a piece of the message
};

bool readFile(const std::filesystem::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool truthOf(const std::string& image, Truth& truth) {
  const std::filesystem::path path(image);
  const std::filesystem::path stem = path.parent_path() / path.stem();
  std::string name = path.stem().string();
  struct Candidate {
    std::filesystem::path file;
    bool binary, part;
  };
  std::vector<Candidate> candidates = {{stem.string() + ".txt", false, false},
                                       {stem.string() + ".bin", true, false},
                                       {stem.string() + ".message.txt", false, true},
                                       {stem.string() + ".message.bin", true, true}};
  const size_t dash = name.find('-');
  if (dash != std::string::npos) {
    const std::filesystem::path whole = path.parent_path() / name.substr(0, dash);
    candidates.push_back({whole.string() + ".txt", false, true});
    candidates.push_back({whole.string() + ".bin", true, true});
  }
  for (const Candidate& c : candidates) {
    if (!readFile(c.file, truth.content)) continue;
    truth.binary = c.binary;
    truth.part = c.part;
    if (!c.binary && !c.part && truth.content.size() > 1 && truth.content.back() == '\n') truth.content.pop_back();
    return true;
  }
  return false;
}

bool isRight(const std::string& got, const Truth& truth) {
  if (got.empty()) return false;
  return truth.part ? truth.content.find(got) != std::string::npos : got == truth.content;
}

// The image's paper level: the grey 95% of its pixels lie below.
uint8_t paperLevel(const scene::GreyImage& image) {
  std::vector<uint8_t> v = image.pixels;
  std::nth_element(v.begin(), v.begin() + v.size() * 95 / 100, v.end());
  return v[v.size() * 95 / 100];
}

// The image pasted at a random place into a page one and a half to two and a half times its
// size, of its own paper level, with clutter (cluttered) kept a few pixels from it.
scene::GreyImage pasted(const scene::GreyImage& image, uint32_t seed, bool cluttered) {
  scene::Random rng(seed);
  const uint8_t paper = paperLevel(image);
  scene::SceneSpec spec;
  spec.width = static_cast<int>(image.width * rng.uniform(1.5, 2.5)) + 40;
  spec.height = static_cast<int>(image.height * rng.uniform(1.5, 2.5)) + 40;
  spec.background = paper;
  spec.darkLevel = static_cast<uint8_t>(std::max(0, paper - 160));
  spec.lightLevel = paper;
  spec.clutterLevel = std::max(0, paper - rng.uniformInt(100, 180));
  spec.seed = rng.bits();
  if (cluttered) {
    const double area = static_cast<double>(spec.width) * spec.height / 1e5;
    spec.textBlocks = static_cast<int>(4 + 6 * area);
    spec.barBlocks = static_cast<int>(1 + 2 * area);
    spec.lines = rng.uniformInt(1, 4);
  }
  scene::GreyImage page = scene::render(spec).image;
  const int x0 = rng.uniformInt(0, spec.width - image.width), y0 = rng.uniformInt(0, spec.height - image.height);
  constexpr int kClear = 6;
  for (int y = std::max(0, y0 - kClear); y < std::min(spec.height, y0 + image.height + kClear); ++y)
    for (int x = std::max(0, x0 - kClear); x < std::min(spec.width, x0 + image.width + kClear); ++x) {
      const bool inside = x >= x0 && y >= y0 && x < x0 + image.width && y < y0 + image.height;
      page.at(x, y) = inside ? image.at(x - x0, y - y0) : paper;
    }
  return page;
}

struct Row {
  int images = 0, located = 0, read = 0, wrong = 0, zxingRead = 0, zxingWrong = 0;
  double idutMs = 0, zxingMs = 0;
  void add(const Row& o) {
    images += o.images;
    located += o.located;
    read += o.read;
    wrong += o.wrong;
    zxingRead += o.zxingRead;
    zxingWrong += o.zxingWrong;
    idutMs += o.idutMs;
    zxingMs += o.zxingMs;
  }
};

void readBoth(const scene::GreyImage& image, const Truth& truth, Row& row) {
  idut::ReadOptions options;
  options.symbologies = {idut::Symbology::PDF417};
  const corpus::Stamp start = corpus::now(true);
  const std::vector<idut::Symbol> symbols = corpus::readIdut(image, options);
  row.idutMs += corpus::msSince(start, true);
  bool right = false, other = false;
  for (const idut::Symbol& s : symbols) {
    if (!s.decoded) continue;
    const std::string got = truth.binary ? std::string(s.bytes.begin(), s.bytes.end()) : s.text;
    (isRight(got, truth) ? right : other) = true;
  }
  ++row.images;
  row.located += !symbols.empty();
  row.read += right;
  row.wrong += !right && other;
  double ms = 0;
  right = other = false;
  for (const corpus::ZxingFind& z : corpus::zxingFinds(image, ZXing::BarcodeFormat::PDF417, true, ms))
    (isRight(truth.binary ? z.bytes : z.text, truth) ? right : other) = true;
  row.zxingMs += ms;
  row.zxingRead += right;
  row.zxingWrong += !right && other;
}

void printRow(const std::string& name, const Row& r) {
  if (r.images == 0) return;
  auto pct = [&](int n) { return 100.0 * n / r.images; };
  const double im = r.idutMs / r.images, zm = r.zxingMs / r.images;
  std::printf("%-22s %6d %5d (%3.0f%%) %5d (%5.1f%%) %5d %5d (%5.1f%%) %5d %9.2f %9.2f %6.2fx\n", name.c_str(),
              r.images, r.located, pct(r.located), r.read, pct(r.read), r.wrong, r.zxingRead, pct(r.zxingRead),
              r.zxingWrong, im, zm, im > 0 ? zm / im : 0);
}

}  // namespace

// The PDF417 photo table (see the top of this file); pages: padded pages per image, 0 for none.
int runPdfPhotos(const std::vector<std::string>& paths, int pages) {
  std::map<std::string, Row> rows;
  for (const std::string& file : idutfind::filesOf(idutfind::collectInputs(paths), "idut-corpus")) {
    Truth truth;
    if (!truthOf(file, truth)) continue;
    scene::GreyImage image;
    if (!corpus::readImage(file, &image)) continue;
    const std::string folder = std::filesystem::path(file).parent_path().filename().string();
    const uint32_t seed = static_cast<uint32_t>(std::hash<std::string>{}(std::filesystem::path(file).filename().string()));
    for (int turns = 0; turns < 4; ++turns) {
      const scene::GreyImage view = corpus::rotated(image, turns);
      readBoth(view, truth, rows[folder]);
      for (int p = 0; p < pages; ++p)
        readBoth(pasted(view, seed + 7919u * (4u * p + turns), p % 2 == 1), truth, rows[folder + " in pages"]);
    }
  }
  std::printf("%-22s %6s %12s %14s %5s %14s %5s %9s %9s %7s\n", "PDF417 photos", "images", "idut located",
              "idut read", "wrong", "zxing read", "wrong", "idut ms", "zxing ms", "ratio");
  Row all, allPages;
  for (const auto& [name, row] : rows) {
    printRow(name, row);
    (name.ends_with(" in pages") ? allPages : all).add(row);
  }
  printRow("all", all);
  printRow("all in pages", allPages);
  return all.images > 0 ? 0 : 2;
}
