// The corpus comparison over photographs with their texts: every image under the directories
// that has a truth file beside it (NAME.txt with the text, NAME.bin with the bytes) is read by idut
// (every symbology, as idut-find runs it) and by ZXing-C++ (every format, try-harder and
// try-rotate, each in a child process since Debian's build can abort on some 1D results) at 0, 90,
// 180 and 270 degrees, rotated in memory. One row per folder: both libraries' read rates and
// wrong texts, and CPU milliseconds per image (the ratio is ZXing's time over idut's). With
// --1d both look for the one-dimensional symbologies only.
//
// A folder of structured-append messages holds images named NN-MM (symbol MM of message NN) and
// the whole message's truth in NN.txt or NN.bin: each message counts once a turn, its parts read
// from all of its images turned alike and joined in the order of their indices (a binary part's
// bytes, a text part's text); it is right when the join is the truth, wrong when a part is no
// piece of the truth. Its row counts messages, not images.
//
// A read is right when one of its texts is the truth: the text itself, the text without its
// symbology identifier ("]C1..."), and for EAN/UPC truths of 13 digits a UPC-A read with a
// leading 0 and a UPC-E read expanded to UPC-A with a leading 0. An image with any other text
// and none right is a wrong read.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "corpus_support.hpp"
#include "idut/read.hpp"
#include "imageio/imageio.hpp"
#include "inputs.hpp"

namespace {

struct Found {
  std::string symbology, text;
  int index = -1;    // structured append: the part's place in its message, -1 when none
  std::string data;  // what the part adds to its message: the text, or the bytes when binary
};

struct FolderTally {
  int images = 0, idutRead = 0, idutWrong = 0, zxingRead = 0, zxingWrong = 0;
  double idutMs = 0, zxingMs = 0;
};

// The truth of the file stem (a path without extension): its text or bytes; false when there is none.
bool readTruthOf(const std::filesystem::path& stem, std::string& truth) {
  for (const char* ext : {".txt", ".bin"}) {
    std::ifstream in(stem.string() + ext, std::ios::binary);
    if (!in) continue;
    truth.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (truth.size() > 1 && truth.back() == '\n' && std::string(ext) == ".txt") truth.pop_back();
    return true;
  }
  return false;
}

// The truth beside image: its text or bytes; false when there is none.
bool readTruth(const std::string& image, std::string& truth) {
  return readTruthOf(std::filesystem::path(image).replace_extension(), truth);
}

// The message image NN-MM is a part of, when NN's truth lies beside it: *message gets NN's stem.
bool readMessageTruth(const std::string& image, std::string* message, std::string& truth) {
  const std::filesystem::path path(image);
  const std::string stem = path.stem().string();
  const size_t dash = stem.rfind('-');
  if (dash == std::string::npos || dash == 0) return false;
  *message = (path.parent_path() / stem.substr(0, dash)).string();
  return readTruthOf(*message, truth);
}

std::string upceToUpca(const std::string& t) {
  if (t.size() != 8) return {};
  for (char c : t)
    if (c < '0' || c > '9') return {};
  const std::string d = t.substr(1, 6);
  std::string m;
  if (d[5] <= '2') m = d.substr(0, 2) + d[5] + "0000" + d.substr(2, 3);
  else if (d[5] == '3') m = d.substr(0, 3) + "00000" + d.substr(3, 2);
  else if (d[5] == '4') m = d.substr(0, 4) + "00000" + d[4];
  else m = d.substr(0, 5) + "0000" + d[5];
  return t[0] + m + t[7];
}

bool matches(const Found& f, const std::string& truth) {
  std::vector<std::string> texts{f.text};
  if (f.text.size() >= 3 && f.text[0] == ']') texts.push_back(f.text.substr(3));
  if ((f.symbology == "UPC-A" || f.symbology == "UPCA") && f.text.size() == 12) texts.push_back("0" + f.text);
  if (f.symbology == "UPC-E" || f.symbology == "UPCE") {
    const std::string a = upceToUpca(f.text);
    if (!a.empty()) texts.push_back("0" + a);
  }
  for (const std::string& t : texts)
    if (t == truth) return true;
  return false;
}

// Returns whether one of finds is the truth.
bool tally(const std::vector<Found>& finds, const std::string& truth, int& read, int& wrong) {
  bool right = false, other = false;
  for (const Found& f : finds) (matches(f, truth) ? right : other) = true;
  read += right ? 1 : 0;
  wrong += !right && other ? 1 : 0;
  return right;
}

// The parts of one message found on its images, joined in the order of their indices (the first
// reading of an index kept): right when the join is the truth, wrong when a part is no piece of it.
// Returns whether it was right.
bool tallyMessage(const std::vector<Found>& finds, const std::string& truth, int& read, int& wrong) {
  std::map<int, std::string> parts;
  bool stray = false;
  for (const Found& f : finds) {
    if (f.index < 0) continue;
    stray = stray || f.data.empty() || truth.find(f.data) == std::string::npos;
    parts.emplace(f.index, f.data);
  }
  std::string joined;
  for (const auto& [index, data] : parts) joined += data;
  const bool right = !parts.empty() && joined == truth;
  read += right ? 1 : 0;
  wrong += !right && stray ? 1 : 0;
  return right;
}

// --misses: every image and turn idut did not read, with what it read instead and whether ZXing
// read it, on stderr.
void reportMiss(const std::string& file, int turns, const std::vector<Found>& finds, bool zxingRead) {
  std::fprintf(stderr, "miss %s at %d degrees%s:", file.c_str(), 90 * turns, zxingRead ? " (ZXing reads it)" : "");
  for (const Found& f : finds) std::fprintf(stderr, " [%s %s]", f.symbology.c_str(), f.text.c_str());
  std::fprintf(stderr, "\n");
}

// --1d: both libraries look for the one-dimensional symbologies only.
bool g_onlyOned = false;

std::vector<Found> idutFinds(const scene::GreyImage& image, double& ms) {
  idut::ReadOptions options;
  if (g_onlyOned) options.symbologies.erase(idut::Symbology::DataMatrix).erase(idut::Symbology::PDF417);
  const corpus::Stamp start = corpus::now(true);
  const std::vector<idut::Symbol> symbols = corpus::readIdut(image, options);
  ms = corpus::msSince(start, true);
  std::vector<Found> finds;
  for (const idut::Symbol& s : symbols)
    if (s.decoded)
      finds.push_back({idut::toString(s.symbology), s.text, s.structuredAppend.index,
                       s.contentType == idut::ContentType::Binary ? std::string(s.bytes.begin(), s.bytes.end())
                                                                  : s.text});
  return finds;
}

std::string toHex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) h += digits[c >> 4], h += digits[c & 15];
  return h;
}

std::string fromHex(const std::string& h) {
  std::string s;
  for (size_t i = 0; i + 1 < h.size(); i += 2) s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return s;
}

// ZXing in a child process that times its own read (CPU time) and sends "ms" then a line a
// result back: format, text, structured-append index and the part's data, tab-separated, the
// texts in hex (a text may hold tabs and newlines); an abort is no read.
std::vector<Found> zxingFinds(const scene::GreyImage& image, double& ms) {
  ms = 0;
  const std::optional<std::string> message = corpus::inChildProcess([&] {
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    if (g_onlyOned)
      hints.setFormats(ZXing::BarcodeFormat::LinearCodes);
    const corpus::Stamp start = corpus::now(true);
    const ZXing::Results results = ZXing::ReadBarcodes(
        ZXing::ImageView(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
    std::string out = std::to_string(corpus::msSince(start, true)) + '\n';
    for (const ZXing::Result& r : results)
      if (r.isValid()) {
        const bool binary = r.contentType() == ZXing::ContentType::Binary;
        const std::string data = binary ? std::string(r.bytes().begin(), r.bytes().end()) : r.text();
        out += std::string(ZXing::ToString(r.format())) + '\t' + toHex(r.text()) + '\t' +
               std::to_string(r.sequenceIndex()) + '\t' + toHex(data) + '\n';
      }
    return out;
  });
  std::vector<Found> finds;
  if (!message) return finds;
  std::istringstream lines(*message);
  std::string line;
  if (std::getline(lines, line)) ms = std::stod(line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string format, text, index, data;
    if (std::getline(fields, format, '\t') && std::getline(fields, text, '\t') && std::getline(fields, index, '\t')) {
      std::getline(fields, data);
      finds.push_back({format, fromHex(text), std::stoi(index), fromHex(data)});
    }
  }
  return finds;
}

void printRow(const std::string& name, const FolderTally& t) {
  auto pct = [&](int n) { return t.images ? 100.0 * n / t.images : 0.0; };
  const double im = t.images ? t.idutMs / t.images : 0, zm = t.images ? t.zxingMs / t.images : 0;
  std::printf("%-16s %6d %5d (%5.1f%%) %6d %5d (%5.1f%%) %6d %9.2f %9.2f %6.2fx\n", name.c_str(), t.images, t.idutRead,
              pct(t.idutRead), t.idutWrong, t.zxingRead, pct(t.zxingRead), t.zxingWrong, im, zm, im > 0 ? zm / im : 0);
}

}  // namespace

// Whether any image under paths has a truth file beside it (the directory mode then compares texts).
bool hasTruthFiles(const std::vector<std::string>& paths) {
  std::string truth, message;
  for (const idutfind::Input& input : idutfind::collectInputs(paths).items)
    if (input.problem.empty() && (readTruth(input.path, truth) || readMessageTruth(input.path, &message, truth)))
      return true;
  return false;
}

int runTruthDirectories(const std::vector<std::string>& paths, bool onlyOned, bool listMisses) {
  g_onlyOned = onlyOned;
  std::map<std::string, FolderTally> folders;
  FolderTally all;
  // Messages by their stem: the truth, the row they count in and their part images.
  struct Message {
    std::string truth, folder;
    std::vector<scene::GreyImage> images;
  };
  std::map<std::string, Message> messages;
  for (const std::string& file : idutfind::filesOf(idutfind::collectInputs(paths), "idut-corpus")) {
    std::string truth, message;
    scene::GreyImage image;
    const std::string folder = std::filesystem::path(file).parent_path().filename().string();
    if (!readTruth(file, truth)) {
      if (readMessageTruth(file, &message, truth) && corpus::readImage(file, &image)) {
        Message& m = messages[message];
        m.truth = truth;
        m.folder = folder + " msgs";
        m.images.push_back(std::move(image));
      }
      continue;
    }
    if (!corpus::readImage(file, &image)) continue;
    FolderTally& t = folders[folder];
    for (int turns = 0; turns < 4; ++turns) {
      const scene::GreyImage view = corpus::rotated(image, turns);
      double idutMs = 0, zxingMs = 0;
      const std::vector<Found> finds = idutFinds(view, idutMs);
      const bool idutRight = tally(finds, truth, t.idutRead, t.idutWrong);
      const bool zxingRight = tally(zxingFinds(view, zxingMs), truth, t.zxingRead, t.zxingWrong);
      if (!idutRight && listMisses) reportMiss(file, turns, finds, zxingRight);
      ++t.images;
      t.idutMs += idutMs;
      t.zxingMs += zxingMs;
    }
  }
  for (const auto& [stem, m] : messages) {
    FolderTally& t = folders[m.folder];
    for (int turns = 0; turns < 4; ++turns) {
      std::vector<Found> idutParts, zxingParts;
      for (const scene::GreyImage& image : m.images) {
        const scene::GreyImage view = corpus::rotated(image, turns);
        double idutMs = 0, zxingMs = 0;
        for (Found& f : idutFinds(view, idutMs)) idutParts.push_back(std::move(f));
        for (Found& f : zxingFinds(view, zxingMs)) zxingParts.push_back(std::move(f));
        t.idutMs += idutMs;
        t.zxingMs += zxingMs;
      }
      const bool idutRight = tallyMessage(idutParts, m.truth, t.idutRead, t.idutWrong);
      const bool zxingRight = tallyMessage(zxingParts, m.truth, t.zxingRead, t.zxingWrong);
      if (!idutRight && listMisses) reportMiss(stem, turns, idutParts, zxingRight);
      ++t.images;
    }
  }
  std::printf("%-16s %6s %14s %6s %14s %6s %9s %9s %7s\n", "folder", "images", "idut read", "wrong", "zxing read",
              "wrong", "idut ms", "zxing ms", "ratio");
  for (const auto& [name, t] : folders) {
    printRow(name, t);
    all.images += t.images;
    all.idutRead += t.idutRead;
    all.idutWrong += t.idutWrong;
    all.zxingRead += t.zxingRead;
    all.zxingWrong += t.zxingWrong;
    all.idutMs += t.idutMs;
    all.zxingMs += t.zxingMs;
  }
  printRow("all", all);
  return all.images > 0 ? 0 : 2;
}
