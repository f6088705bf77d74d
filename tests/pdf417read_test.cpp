// The PDF417 reader on images: the generated scenes of every condition located by the PDF417
// road and read, with the exact content and never a wrong text; and the real scans (plain,
// compact and Macro PDF417) at four rotations, where every text read must be the file's.
#include <gtest/gtest.h>

#include <ctime>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "imageio/imageio.hpp"
#include "reader/pdf417/pdfread.hpp"
#include "reader/pdf417/pdfroad.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

// The text (or, for binary content, the bytes) a scene's symbol must read as.
struct Expected {
  std::string text;
  std::string bytes;
  bool binary = false;
};

// Bytes that no text holds: control codes but for tab, line feed, carriage return and the
// separators EOT, FS, GS, RS; DEL and the C1 controls.
bool hasNoTextByte(const std::string& bytes) {
  for (unsigned char b : bytes)
    if ((b < 0x20 && std::string_view("\t\n\r\x04\x1C\x1D\x1E").find(static_cast<char>(b)) == std::string_view::npos) ||
        (b >= 0x7F && b <= 0x9F))
      return true;
  return false;
}

// Binary: ECI 899, or, with no ECI designated, a byte no text holds.
Expected expectedOf(const scene::PdfTruth& t, const scene::DmSymbol& s) {
  Expected e;
  const bool designated = !t.content.segments.empty() && t.content.segments[0].eci != 0;
  e.binary = (designated && t.content.segments[0].eci == 899) || (!designated && hasNoTextByte(s.text));
  if (e.binary) e.bytes = s.text;
  else e.text = s.text;
  return e;
}

bool matches(const idut::Symbol& sym, const Expected& e) {
  if (e.binary) return sym.contentType == idut::ContentType::Binary && std::string(sym.bytes.begin(), sym.bytes.end()) == e.bytes;
  return sym.contentType == idut::ContentType::Text && sym.text == e.text;
}

struct Tally {
  int symbols = 0, located = 0, read = 0, wrong = 0, unread = 0;
  double seconds = 0;
  int attempts = 0;
};

// This thread's processor time: the reader's cost, whatever else the machine runs.
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Whether a find's centre lies inside the symbol's outline.
bool inside(const scene::SymbolTruth& t, const pdfroad::Symbol& s) {
  double cx = 0, cy = 0;
  for (const cmath_vect& c : s.corners) cx += c.x / 4, cy += c.y / 4;
  const auto o = t.outline();
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const auto &a = o[i], &b = o[(i + 1) % 4];
    const int side = (b.x - a.x) * (cy - a.y) - (b.y - a.y) * (cx - a.x) > 0 ? 1 : -1;
    if (sign != 0 && side != sign) return false;
    sign = side;
  }
  return true;
}

// Locates and reads every PDF417 of the image; each text read is checked against the truths.
void readScene(const scene::ScenePdf& sp, Tally* t) {
  scene::ImageView view(sp.scene.image);
  const pdfroad::Outcome out = pdfroad::findAll(*view);
  std::vector<Expected> expected;
  for (size_t i = 0; i < sp.pdf.size(); ++i) expected.push_back(expectedOf(sp.pdf[i], sp.scene.symbols[i].symbol));
  std::vector<char> gotIt(expected.size(), 0);
  cimg_windowConst window{};
  ASSERT_EQ(cimg_imageConst_getWindow(view.get(), &window), 0);
  for (const pdfroad::Symbol& s : out.symbols) {
    idut::Symbol sym;
    const double start = cpuSeconds();
    const bool ok = pdf417::readSymbol(window, s.corners, sym);
    t->seconds += cpuSeconds() - start;
    ++t->attempts;
    if (!ok) continue;
    bool known = false;
    for (size_t i = 0; i < expected.size(); ++i)
      if (matches(sym, expected[i])) known = true, gotIt[i] = 1;
    if (!known) {
      ++t->wrong;
      ADD_FAILURE() << "wrong text \"" << sym.text << "\"";
    }
  }
  t->symbols += static_cast<int>(expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    bool on = false;
    for (const pdfroad::Symbol& s : out.symbols) on = on || inside(sp.scene.symbols[i], s);
    t->located += on;
  }
  for (char g : gotIt) t->read += g, t->unread += !g;
}

// Reads each PDF417 of the scene from its true corners moved by up to a module each way (the
// reader on its own, whatever the road locates).
void readFromTruth(const scene::ScenePdf& sp, uint32_t seed, Tally* t) {
  scene::ImageView view(sp.scene.image);
  cimg_windowConst window{};
  ASSERT_EQ(cimg_imageConst_getWindow(view.get(), &window), 0);
  scene::Random rng(seed * 7919u + 17u);
  for (size_t i = 0; i < sp.pdf.size(); ++i) {
    const scene::SymbolTruth& truth = sp.scene.symbols[i];
    const Expected e = expectedOf(sp.pdf[i], truth.symbol);
    const double m = truth.moduleSize;
    std::array<cmath_vect, 4> corners;
    const scene::Point from[4] = {truth.columnEnd, truth.opposite, truth.rowEnd, truth.lCorner};
    for (int k = 0; k < 4; ++k) corners[k] = cmath_vect{from[k].x + rng.uniform(-m, m), from[k].y + rng.uniform(-m, m)};
    idut::Symbol sym;
    ++t->symbols;
    if (!pdf417::readSymbol(window, corners, sym)) {
      ++t->unread;
      continue;
    }
    if (matches(sym, e)) {
      ++t->read;
    } else {
      ++t->wrong;
      ADD_FAILURE() << "wrong text \"" << sym.text << "\"";
    }
  }
}

TEST(Pdf417Read, GeneratedScenesFromTrueCorners) {
  for (scene::ConditionPdf c : scene::kAllConditionsPdf) {
    Tally t;
    for (uint32_t seed = 101; seed <= 108; ++seed) readFromTruth(scene::generatePdf(c, seed), seed, &t);
    const double rate = static_cast<double>(t.read) / t.symbols;
    std::printf("%-12s from true corners: read %3d / %3d (%5.1f%%), wrong %d\n", scene::conditionName(c), t.read,
                t.symbols, 100 * rate, t.wrong);
    EXPECT_EQ(t.wrong, 0) << scene::conditionName(c);
    EXPECT_GE(rate, 0.85) << scene::conditionName(c);
  }
}

TEST(Pdf417Read, GeneratedScenesPerCondition) {
  struct Floor {
    scene::ConditionPdf condition;
    double rate;  // -1: not held to a rate (the road does not locate compact PDF417 yet)
  };
  // Floors a little under what this reader reaches (every symbol the road locates, so far).
  const Floor floors[] = {
      {scene::ConditionPdf::clean, 0.9},        {scene::ConditionPdf::rotated, 0.9},
      {scene::ConditionPdf::perspective, 0.85}, {scene::ConditionPdf::blurred, 0.85},
      {scene::ConditionPdf::noisy, 0.85},       {scene::ConditionPdf::lowContrast, 0.85},
      {scene::ConditionPdf::inverted, 0.9},     {scene::ConditionPdf::crowded, 0.85},
      {scene::ConditionPdf::compact, -1},       {scene::ConditionPdf::content, 0.9}};
  constexpr uint32_t kSeeds = 12;
  for (const Floor& f : floors) {
    Tally t;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) readScene(scene::generatePdf(f.condition, seed), &t);
    const double rate = static_cast<double>(t.read) / t.symbols;
    std::printf("%-12s located %3d, read %3d / %3d (%5.1f%%), wrong %d, %.2f ms of processor time a read attempt\n",
                scene::conditionName(f.condition), t.located, t.read, t.symbols, 100 * rate, t.wrong,
                1000 * t.seconds / std::max(1, t.attempts));
    if (f.rate < 0) continue;
    EXPECT_EQ(t.wrong, 0) << scene::conditionName(f.condition);
    EXPECT_GE(rate, f.rate) << scene::conditionName(f.condition);
  }
}

// A grey image turned a quarter turn clockwise `turns` times.
imageio::GreyImage turned(const imageio::GreyImage& in, int turns) {
  imageio::GreyImage out = in;
  for (int t = 0; t < turns; ++t) {
    imageio::GreyImage next;
    next.width = out.height;
    next.height = out.width;
    next.pixels.resize(out.pixels.size());
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x)
        next.pixels[static_cast<size_t>(x) * next.width + (out.height - 1 - y)] = out.pixels[static_cast<size_t>(y) * out.width + x];
    out = std::move(next);
  }
  return out;
}

std::string fileText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return f ? s.str() : std::string();
}

// The scans: every text read must be the file's (for a Macro PDF417 part, a piece of its
// message). Prints what each image gives at 0, 90, 180 and 270 degrees.
TEST(Pdf417Read, RealScansAtFourRotations) {
  const std::string root = IDUT_PHOTOS_DIR;
  const struct {
    const char* folder;
    std::vector<const char*> files;
  } folders[] = {
      {"pdf417-3", {"01.png", "02.webp", "03.webp", "04.webp", "05.webp", "06.webp", "07.png", "08.webp", "09.webp",
                    "10.webp", "11.png", "12.webp", "16.png", "17.png", "18.png", "19.png"}},
      {"pdf417-4", {"01-01.webp", "02-01.webp", "02-02.webp", "03-01.png"}},
  };
  int images = 0, read = 0, wrong = 0, fromBox = 0;
  for (const auto& folder : folders) {
    for (const char* file : folder.files) {
      const std::string path = root + "/" + folder.folder + "/" + file;
      imageio::GreyImage image;
      std::string error;
      if (!imageio::readGrey(path, &image, &error)) GTEST_SKIP() << "no scans here: " << error;
      const std::string stem = std::string(file).substr(0, 2);
      std::string truth = fileText(root + "/" + folder.folder + "/" + stem + ".txt");
      const bool binary = truth.empty();
      if (binary) truth = fileText(root + "/" + folder.folder + "/" + stem + ".bin");
      const bool part = std::string(folder.folder) == "pdf417-4";
      std::printf("%s/%-10s", folder.folder, file);
      for (int turns = 0; turns < 4; ++turns) {
        const imageio::GreyImage img = turned(image, turns);
        scene::GreyImage grey(img.width, img.height);
        grey.pixels = img.pixels;
        scene::ImageView view(grey);
        cimg_windowConst window{};
        ASSERT_EQ(cimg_imageConst_getWindow(view.get(), &window), 0);
        const pdfroad::Outcome out = pdfroad::findAll(*view);
        std::string note = out.symbols.empty() ? "not located" : "";
        bool ok = false;
        for (const pdfroad::Symbol& s : out.symbols) {
          idut::Symbol sym;
          if (!pdf417::readSymbol(window, s.corners, sym)) {
            if (note.empty()) note = sym.decodeError;
            continue;
          }
          const std::string got = binary ? std::string(sym.bytes.begin(), sym.bytes.end()) : sym.text;
          const bool right = part ? !got.empty() && truth.find(got) != std::string::npos : got == truth;
          ok = ok || right;
          if (!right) {
            ++wrong;
            ADD_FAILURE() << path << " at " << 90 * turns << " degrees: wrong text \"" << got << "\"";
          }
        }
        if (out.symbols.empty()) {
          // Not located: whether the reader reads it from the image's own corners tells a
          // location failure from a reading one.
          const double w = img.width, h = img.height;
          const std::array<cmath_vect, 4> box{cmath_vect{1, 1}, cmath_vect{w - 1, 1}, cmath_vect{w - 1, h - 1},
                                              cmath_vect{1, h - 1}};
          idut::Symbol sym;
          if (pdf417::readSymbol(window, box, sym)) {
            const std::string got = binary ? std::string(sym.bytes.begin(), sym.bytes.end()) : sym.text;
            const bool right = part ? truth.find(got) != std::string::npos : got == truth;
            note = right ? "unlocated, reads from image box" : "unlocated, WRONG from image box";
            if (!right) ++wrong;
            fromBox += right;
          }
        }
        ++images;
        read += ok;
        std::printf(" | %3d: %s", 90 * turns, ok ? "read" : note.substr(0, 32).c_str());
      }
      std::printf("\n");
    }
  }
  std::printf("scans read %d of %d image rotations, wrong %d; of the unlocated, %d read from the image box\n", read,
              images, wrong, fromBox);
  EXPECT_EQ(wrong, 0);
  // Regression floors a little under today's counts (56 read; the 20 unlocated all read from the box).
  EXPECT_GE(read, 52);
  EXPECT_GE(read + fromBox, 72);
}

}  // namespace
