// The PDF417 reader on images: the generated scenes of every condition read through the front
// door, with the exact content and never a wrong text; the outline a reading gives from rough
// corners; the ECI a Macro PDF417 symbol carries into the next; and the real scans (plain,
// compact and Macro PDF417) at four rotations, every one read with the file's text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <map>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "imageio/imageio.hpp"
#include "reader/pdf417/pdfread.hpp"
#include "idut/read.hpp"
#include "support/photos.hpp"
#include "reader/charset.hpp"
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
  int images = 0;
};

// This thread's processor time: the reader's cost, whatever else the machine runs.
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Whether a found symbol's centre lies inside the true outline.
bool inside(const scene::SymbolTruth& t, const idut::Symbol& s) {
  const idut::Point c = s.corners.centre();
  const auto o = t.outline();
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const auto &a = o[i], &b = o[(i + 1) % 4];
    const int side = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x) > 0 ? 1 : -1;
    if (sign != 0 && side != sign) return false;
    sign = side;
  }
  return true;
}

std::vector<idut::Symbol> readPdf417(const scene::GreyImage& image) {
  idut::ReadOptions options;
  options.symbologies = {idut::Symbology::PDF417};
  return idut::readSymbols(idut::ImageView(image.pixels.data(), image.width, image.height, image.width), options);
}

// Reads every PDF417 of the scene through the front door; each text read is checked against the
// truths.
void readScene(const scene::ScenePdf& sp, Tally* t) {
  std::vector<Expected> expected;
  for (size_t i = 0; i < sp.pdf.size(); ++i) expected.push_back(expectedOf(sp.pdf[i], sp.scene.symbols[i].symbol));
  const double start = cpuSeconds();
  const std::vector<idut::Symbol> found = readPdf417(sp.scene.image);
  t->seconds += cpuSeconds() - start;
  ++t->images;
  std::vector<char> gotIt(expected.size(), 0);
  for (const idut::Symbol& sym : found) {
    if (!sym.decoded) continue;
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
    for (const idut::Symbol& s : found) on = on || inside(sp.scene.symbols[i], s);
    t->located += on;
  }
  for (char g : gotIt) t->read += g, t->unread += !g;
}

// The symbol's true corners (start side first, as the reader takes them), each moved by up to
// `jitter` pixels either way.
std::array<cmath_vect, 4> roughCorners(const scene::SymbolTruth& truth, double jitter, scene::Random& rng) {
  const scene::Point from[4] = {truth.columnEnd, truth.opposite, truth.rowEnd, truth.lCorner};
  std::array<cmath_vect, 4> corners;
  for (int k = 0; k < 4; ++k) corners[k] = cmath_vect{from[k].x + rng.uniform(-jitter, jitter), from[k].y + rng.uniform(-jitter, jitter)};
  return corners;
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
    idut::Symbol sym;
    ++t->symbols;
    if (!pdf417::readSymbol(window, roughCorners(truth, truth.moduleSize, rng), sym)) {
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
    double rate;
  };
  // Floors a little under what this reader reaches on these seeds.
  const Floor floors[] = {
      {scene::ConditionPdf::clean, 0.95},    {scene::ConditionPdf::rotated, 0.95},
      {scene::ConditionPdf::perspective, 0.9}, {scene::ConditionPdf::blurred, 0.95},
      {scene::ConditionPdf::noisy, 0.95},    {scene::ConditionPdf::lowContrast, 0.95},
      {scene::ConditionPdf::inverted, 0.95}, {scene::ConditionPdf::crowded, 0.9},
      {scene::ConditionPdf::compact, 0.9},   {scene::ConditionPdf::content, 0.95},
      {scene::ConditionPdf::framed, 0.95},   {scene::ConditionPdf::large, 0.9},
      {scene::ConditionPdf::bilevel, 0.8}};
  constexpr uint32_t kSeeds = 12;
  Tally all;
  for (const Floor& f : floors) {
    Tally t;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) readScene(scene::generatePdf(f.condition, seed), &t);
    const double rate = static_cast<double>(t.read) / t.symbols;
    std::printf("%-12s located %3d, read %3d / %3d (%5.1f%%), wrong %d, %.2f ms of processor time an image\n",
                scene::conditionName(f.condition), t.located, t.read, t.symbols, 100 * rate, t.wrong,
                1000 * t.seconds / t.images);
    EXPECT_EQ(t.wrong, 0) << scene::conditionName(f.condition);
    EXPECT_GE(rate, f.rate) << scene::conditionName(f.condition);
    all.symbols += t.symbols;
    all.read += t.read;
  }
  EXPECT_GE(all.read, 0.97 * all.symbols);
}

// From its true corners moved by up to half a module each way, a symbol reads and its
// outline comes back to within a fraction of a module of the truth: the start side through the
// start patterns, the far side through the stop patterns (a compact symbol's single bar), the
// first and last rows' edges from the rows the indicators name.
TEST(Pdf417Read, OutlineFromRoughCorners) {
  const struct {
    scene::ConditionPdf condition;
    double medianModules, worstModules;  // corner error in modules: median and largest allowed
  } cases[] = {{scene::ConditionPdf::clean, 0.25, 0.8},  {scene::ConditionPdf::rotated, 0.3, 1.0},
               {scene::ConditionPdf::perspective, 0.3, 1.0}, {scene::ConditionPdf::blurred, 0.3, 1.0},
               {scene::ConditionPdf::compact, 0.3, 1.0}, {scene::ConditionPdf::framed, 0.3, 1.0},
               {scene::ConditionPdf::large, 0.25, 0.8}};
  for (const auto& c : cases) {
    std::vector<double> errors;
    int unread = 0;
    for (uint32_t seed = 201; seed <= 212; ++seed) {
      const scene::ScenePdf sp = scene::generatePdf(c.condition, seed);
      scene::ImageView view(sp.scene.image);
      cimg_windowConst window{};
      ASSERT_EQ(cimg_imageConst_getWindow(view.get(), &window), 0);
      scene::Random rng(seed * 31u + 7u);
      const scene::SymbolTruth& truth = sp.scene.symbols[0];
      const scene::Point from[4] = {truth.columnEnd, truth.opposite, truth.rowEnd, truth.lCorner};
      const pdf417::Reading r = pdf417::readImage(window, roughCorners(truth, 0.5 * truth.moduleSize, rng));
      if (!r.ok || !r.haveOutline) {
        ++unread;
        continue;
      }
      for (int k = 0; k < 4; ++k)
        errors.push_back(std::hypot(r.outline[k].x - from[k].x, r.outline[k].y - from[k].y) / truth.moduleSize);
    }
    ASSERT_FALSE(errors.empty()) << scene::conditionName(c.condition);
    std::sort(errors.begin(), errors.end());
    const double med = errors[errors.size() / 2], worst = errors.back();
    std::printf("%-12s outline corner error %.2f modules median, %.2f at most; %d of 12 not read\n",
                scene::conditionName(c.condition), med, worst, unread);
    EXPECT_LE(med, c.medianModules) << scene::conditionName(c.condition);
    EXPECT_LE(worst, c.worstModules) << scene::conditionName(c.condition);
    EXPECT_LE(unread, 1) << scene::conditionName(c.condition);
  }
}

// Reading a located outline gives up early when every line across it reads in one cluster: a
// symbol's rows (three at least) take turns among the three, while the lines over a 1D barcode's
// bars are all alike. Symbols of the fewest rows (three, rows three or two modules high) and
// compact ones still read from their corners; the same symbols with one of their rows drawn
// throughout do not.
TEST(Pdf417Read, LinesAllAlikeAreNoSymbolRowsThatTakeTurnsRead) {
  const struct {
    const char* text;
    int columns, rowHeight;
    bool compact;
  } cases[] = {{"PDF", 6, 3, false}, {"PDF", 6, 2, false}, {"Compact PDF417, a single bar on the right.", 3, 3, true}};
  constexpr int kModule = 3, kQuiet = 4 * kModule;
  for (const auto& c : cases) {
    scene::Pdf417Content content;
    content.segments = {{0, c.text}};
    content.compact = c.compact;
    const scene::DmSymbol s = scene::encodePdf417(content, scene::Pdf417Layout{c.columns, 2, c.rowHeight});
    for (const bool alike : {false, true}) {
      SCOPED_TRACE(std::string(c.text) + (alike ? ", one row throughout" : "") + ", rows " +
                   std::to_string(c.rowHeight) + " modules high");
      // Painted upright in a quiet zone; alike: every module row the middle of the second row.
      scene::GreyImage image(s.cols * kModule + 2 * kQuiet, s.rows * kModule + 2 * kQuiet, 255);
      for (int y = 0; y < s.rows * kModule; ++y)
        for (int x = 0; x < s.cols * kModule; ++x)
          if (s.isDark(alike ? c.rowHeight + c.rowHeight / 2 : y / kModule, x / kModule)) image.at(kQuiet + x, kQuiet + y) = 0;
      const double x1 = kQuiet + s.cols * kModule, y1 = kQuiet + s.rows * kModule;
      scene::ImageView view(image);
      cimg_windowConst window{};
      ASSERT_EQ(cimg_imageConst_getWindow(view.get(), &window), 0);
      pdf417::ReadHint hint;
      hint.known = true;
      hint.module = kModule;
      hint.noise = 0;
      const pdf417::Reading r =
          pdf417::readImage(window, {cmath_vect{kQuiet, kQuiet}, cmath_vect{x1, kQuiet}, cmath_vect{x1, y1}, cmath_vect{kQuiet, y1}}, hint);
      EXPECT_EQ(r.noRows, alike);
      idut::Symbol read;
      EXPECT_EQ(pdf417::fillSymbol(r, read), !alike) << r.error;
      if (alike) EXPECT_NE(r.error.find("one row"), std::string::npos) << r.error;
      else EXPECT_EQ(read.text, c.text);
    }
  }
}

// The ECI in force at the end of one Macro PDF417 symbol goes on into the next one of the same
// message read alongside, up to that symbol's own designator; nothing else changes. Where the
// image holds the part before twice and they end in different ECIs, nothing is carried.
TEST(Pdf417Read, MacroPdf417CarriesTheEciIntoTheNextSymbol) {
  auto part = [](int index, const char* id, int count, std::vector<charset::Segment> segments) {
    pdf417::Reading r;
    r.ok = true;
    r.message.ok = true;
    r.message.append.index = index;
    r.message.append.id = id;
    r.message.append.count = count;
    r.message.segments = std::move(segments);
    return r;
  };
  const charset::Segment gb{29, {'a'}, true}, latin9{17, {'b'}, true}, plain{charset::kDefaultEci, {'c'}, false};
  const struct {
    const char* what;
    std::vector<pdf417::Reading> parts;
    std::vector<int> firstEcis;  // each part's first segment's ECI afterwards, in the given order
  } cases[] = {
      {"next part starts under the ECI the previous one ended in", {part(0, "1", 2, {plain, gb}), part(1, "1", 2, {plain})}, {3, 29}},
      {"order of the readings does not matter", {part(1, "1", 3, {plain}), part(0, "1", 3, {gb})}, {29, 29}},
      {"carried along a chain", {part(0, "7", 3, {gb}), part(1, "7", 3, {plain}), part(2, "7", 3, {plain})}, {29, 29, 29}},
      {"a part's own designator stands", {part(0, "1", 2, {gb}), part(1, "1", 2, {latin9})}, {29, 17}},
      {"a missing part breaks the chain", {part(0, "1", 3, {gb}), part(2, "1", 3, {plain})}, {29, 3}},
      {"another message's part is not continued", {part(0, "1", 2, {gb}), part(1, "2", 2, {plain})}, {29, 3}},
      {"another count is another message", {part(0, "1", 2, {gb}), part(1, "1", 3, {plain})}, {29, 3}},
      {"an unread part carries nothing", {part(0, "1", 2, {gb}), part(1, "1", 2, {plain})}, {29, 3}},
      {"two parts before that end alike carry", {part(0, "1", 2, {gb}), part(0, "1", 2, {plain, gb}), part(1, "1", 2, {plain})},
       {29, 3, 29}},
      {"two parts before that end otherwise carry nothing",
       {part(0, "1", 2, {gb}), part(0, "1", 2, {latin9}), part(1, "1", 2, {plain})}, {29, 17, 3}},
      {"a part read twice is carried into twice", {part(1, "4", 2, {plain}), part(0, "4", 2, {gb}), part(1, "4", 2, {plain})},
       {29, 29, 29}},
  };
  for (const auto& c : cases) {
    std::vector<pdf417::Reading> parts = c.parts;
    if (std::string(c.what) == "an unread part carries nothing") parts[0].ok = false;
    std::vector<pdf417::Reading*> pointers;
    for (pdf417::Reading& r : parts) pointers.push_back(&r);
    pdf417::carryEcis(pointers);
    for (size_t i = 0; i < parts.size(); ++i)
      EXPECT_EQ(parts[i].message.segments.front().eci, c.firstEcis[i]) << c.what << ", part " << i;
  }
}

// The scans: every image read at every rotation with the file's text (for a Macro PDF417 part, a
// piece of its message), through the front door, and no other text; and each Macro PDF417 message
// whole at every rotation, its parts from all its images joined in the order of their indices.
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
  int images = 0, read = 0, wrong = 0;
  // Per message (its file stem) and turn, the parts read, by index.
  std::map<std::string, std::array<std::map<int, std::string>, 4>> messages;
  std::map<std::string, std::string> messageTruths;
  for (const auto& folder : folders) {
    for (const char* file : folder.files) {
      const std::string path = root + "/" + folder.folder + "/" + file;
      imageio::GreyImage image;
      std::string error;
      if (!imageio::readGrey(path, &image, &error)) GTEST_SKIP() << "no scans here: " << error;
      const std::string stem = root + "/" + folder.folder + "/" + std::string(file).substr(0, 2);
      std::string truth = fileText(stem + ".txt");
      const bool binary = truth.empty();
      if (binary) truth = fileText(stem + ".bin");
      const bool part = std::string(folder.folder) == "pdf417-4";
      if (part) messageTruths[stem] = truth;
      std::printf("%s/%-10s", folder.folder, file);
      for (int turns = 0; turns < 4; ++turns) {
        const imageio::GreyImage img = turnedClockwise(image, turns);
        scene::GreyImage grey(img.width, img.height);
        grey.pixels = img.pixels;
        std::string note = "not located";
        bool ok = false;
        for (const idut::Symbol& sym : readPdf417(grey)) {
          if (!sym.decoded) {
            note = sym.decodeError;
            continue;
          }
          const std::string got = binary ? std::string(sym.bytes.begin(), sym.bytes.end()) : sym.text;
          const bool right = part ? !got.empty() && truth.find(got) != std::string::npos : got == truth;
          ok = ok || right;
          if (part) messages[stem][turns].emplace(sym.structuredAppend.index, got);
          if (!right) {
            ++wrong;
            ADD_FAILURE() << path << " at " << 90 * turns << " degrees: wrong text \"" << got << "\"";
          }
        }
        ++images;
        read += ok;
        std::printf(" | %3d: %s", 90 * turns, ok ? "read" : note.substr(0, 32).c_str());
      }
      std::printf("\n");
    }
  }
  std::printf("scans read %d of %d image rotations, wrong %d\n", read, images, wrong);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(read, images);
  ASSERT_EQ(messageTruths.size(), 3u);
  for (const auto& [stem, truth] : messageTruths)
    for (int turns = 0; turns < 4; ++turns) {
      std::string joined;
      for (const auto& [index, got] : messages[stem][turns]) joined += got;
      EXPECT_EQ(joined, truth) << stem << " at " << 90 * turns << " degrees: " << messages[stem][turns].size()
                               << " parts read";
    }
}

}  // namespace
