// The Data Matrix reader against libzint: every size and encodation round-trips from the module
// matrix, error correction holds to half the check words of every block and refuses one more,
// and on generated scenes the symbols the road locates are read, never misread.
#include <gtest/gtest.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "reader/datamatrix/dmread.hpp"
#include "reader/datamatrix/dmroad.hpp"
#include "scenes/scene.hpp"
#include "support/fixtures.hpp"

namespace {

struct Encoding {
  std::string data;
  int mode = DATA_MODE;
  int eci = 0;
  int sizeOption = 0;
  int options = 0;           // output_options (READER_INIT)
  int appendIndex = 0, appendCount = 0;
};

// The module matrix libzint draws for the data; throws when it does not fit.
dmread::ModuleMatrix encode(const Encoding& e) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  sym->symbology = BARCODE_DATAMATRIX;
  sym->input_mode = e.mode;
  sym->eci = e.eci;
  sym->option_2 = e.sizeOption;
  sym->option_3 = DM_DMRE;
  sym->output_options = e.options;
  sym->structapp.index = e.appendIndex;
  sym->structapp.count = e.appendCount;
  const int rc = ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(e.data.data()),
                                 static_cast<int>(e.data.size()));
  if (rc >= ZINT_ERROR) throw std::runtime_error(sym->errtxt);
  dmread::ModuleMatrix m;
  m.rows = sym->rows;
  m.cols = sym->width;
  for (int r = 0; r < m.rows; ++r)
    for (int c = 0; c < m.cols; ++c) m.dark.push_back((sym->encoded_data[r][c >> 3] >> (c & 7)) & 1);
  return m;
}

// Bytes that no text holds: control codes but for tab, line feed, carriage return and the
// separators EOT, FS, GS, RS; DEL and the C1 controls.
bool hasNoTextByte(const std::string& bytes) {
  for (unsigned char b : bytes)
    if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != 0x04 && (b < 0x1C || b > 0x1E)) || (b >= 0x7F && b <= 0x9F))
      return true;
  return false;
}

std::string latin1ToUtf8(const std::string& bytes) {
  std::string s;
  for (unsigned char b : bytes) {
    if (b < 0x80) s += static_cast<char>(b);
    else {
      s += static_cast<char>(0xC0 | (b >> 6));
      s += static_cast<char>(0x80 | (b & 63));
    }
  }
  return s;
}

// Text of a flavour that steers libzint to one encodation, n characters long.
std::string flavouredText(int flavour, int n, scene::Random& rng) {
  static const char* kAlphabets[] = {
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ ",     // C40
      "0123456789abcdefghijklmnopqrstuvwxyz ",     // Text
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ*>\r ",  // X12
      "@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_ !\"#$%&'()*+,-./0123456789:;<=>?",  // EDIFACT
      "0123456789",                                  // digit pairs
      "Mixed text, 12 digits 345678 and Symbols! {|}~`",  // ASCII with C40/Text shifts
  };
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (flavour == 6) {
      s += static_cast<char>(rng.uniformInt(0, 255));  // Base 256
      continue;
    }
    const std::string a = kAlphabets[flavour];
    s += a[rng.uniformInt(0, static_cast<int>(a.size()) - 1)];
  }
  return s;
}

// All four corners within max(2 px, one module) of the truth, in any order; mirrorWidth > 0:
// of the truth mirrored in an image that wide.
bool matches(const scene::SymbolTruth& t, const dmroad::Symbol& s, int mirrorWidth) {
  auto truth = t.outline();
  for (auto& p : truth) p.x = mirrorWidth > 0 ? mirrorWidth - p.x : p.x;
  return worstCornerError(s.corners, truth) <= std::max(2.0, t.moduleSize);
}

}  // namespace

// Every size, each with every flavour of text filling about half of it, plus the markers
// libzint can write: decoded text equals the input.
TEST(DataMatrixRead, EverySizeAndEncodationRoundTrips) {
  scene::Random rng(17);
  const auto& sizes = dmread::symbolSizes();
  ASSERT_EQ(sizes.size(), 48u);
  int checked = 0;
  for (int option = 1; option <= 48; ++option) {
    const dmread::SymbolSize& size = sizes[option - 1];
    for (int flavour = 0; flavour < 7; ++flavour) {
      for (int n = size.dataWords; n > 0; n /= 2) {
        Encoding e{flavouredText(flavour, n, rng), DATA_MODE, 0, option};
        dmread::ModuleMatrix m;
        try {
          m = encode(e);
        } catch (const std::runtime_error&) {
          continue;  // too long for this size and flavour: try half
        }
        ASSERT_EQ(m.rows * 1000 + m.cols, size.rows * 1000 + size.cols) << option;
        const dmread::Reading r = dmread::readMatrix(m);
        ASSERT_TRUE(r.ok) << size.rows << "x" << size.cols << " flavour " << flavour << ": " << r.error;
        EXPECT_EQ(std::string(r.message.bytes.begin(), r.message.bytes.end()), e.data) << size.rows << "x" << size.cols;
        // Bytes no text holds make the content binary: no text then.
        EXPECT_EQ(r.message.binary, hasNoTextByte(e.data)) << size.rows << "x" << size.cols << " flavour " << flavour;
        EXPECT_EQ(r.message.text, r.message.binary ? "" : latin1ToUtf8(e.data)) << size.rows << "x" << size.cols;
        EXPECT_EQ(r.corrected, 0) << size.rows << "x" << size.cols << " flavour " << flavour;
        ++checked;
        break;
      }
    }
  }
  EXPECT_EQ(checked, 48 * 7);

  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
  const std::string gs = "\x1D";
  struct Marked {
    Encoding e;
    std::string text;
    bool gs1 = false, readerProgramming = false;
    int macro = 0, eci = -1, appendPosition = 0, appendCount = 0;
  };
  const Marked marked[] = {
      {{everyByte}, ""},  // binary: the bytes alone
      {{everyByte + everyByte + everyByte}, ""},
      {{"caf\xE9 \x1D\t"}, "caf\xC3\xA9 \x1D\t"},
      {{"[01]09501101530003[17]140704[10]AB-123", GS1_MODE}, "]d20109501101530003171407041" "0AB-123", true},
      {{"[10]ABC123[21]XYZ[400]98765", GS1_MODE}, "]d210ABC123" + gs + "21XYZ" + gs + "40098765", true},
      {{"Grüße, €100", UNICODE_MODE, 26}, "Grüße, €100", false, false, 0, 26},
      {{"Grüße", UNICODE_MODE}, "Grüße"},
      // ISO 8859-5: 0xB6 is Zhe, 0xD0 a small a.
      {{"\xB6\xD0", DATA_MODE, 7}, "\xD0\x96\xD0\xB0", false, false, 0, 7},
      {{"[)>\x1E" "05\x1D" "ABC123\x1E\x04"}, "[)>\x1E" "05\x1D" "ABC123\x1E\x04", false, false, 5},
      {{"[)>\x1E" "06\x1D" "12345\x1E\x04"}, "[)>\x1E" "06\x1D" "12345\x1E\x04", false, false, 6},
      {{"PROGRAM", DATA_MODE, 0, 0, READER_INIT}, "PROGRAM", false, true},
      {{"PART TWO", DATA_MODE, 0, 0, 0, 2, 3}, "PART TWO", false, false, 0, -1, 2, 3},
  };
  for (const Marked& k : marked) {
    const dmread::Reading r = dmread::readMatrix(encode(k.e));
    ASSERT_TRUE(r.ok) << k.e.data << ": " << r.error;
    const dmread::Message& m = r.message;
    EXPECT_EQ(std::tuple(m.text, m.gs1, m.readerProgramming, m.macro, m.ecis.empty() ? -1 : m.ecis[0], m.appendPosition,
                         m.appendCount),
              std::tuple(k.text, k.gs1, k.readerProgramming, k.macro, k.eci, k.appendPosition, k.appendCount))
        << k.e.data;
  }
}

// Corrupts codeword `word` of the matrix (every bit of it flipped by a nonzero pattern).
void corruptCodeword(dmread::ModuleMatrix& m, const dmread::SymbolSize& s, int word, uint8_t pattern) {
  const int mr = s.regionRows * s.regionsV, mc = s.regionCols * s.regionsH;
  const std::vector<int> map = dmread::placement(mr, mc);
  for (int r = 0; r < mr; ++r)
    for (int c = 0; c < mc; ++c) {
      const int v = map[static_cast<size_t>(r) * mc + c];
      if (v < 0 || v / 8 != word || !((pattern << (v % 8)) & 0x80)) continue;
      const size_t at = static_cast<size_t>(r + 1 + 2 * (r / s.regionRows)) * m.cols + c + 1 + 2 * (c / s.regionCols);
      m.dark[at] ^= 1;
    }
}

// Every size: half the check words of every block corrupted (data and check words alike) still
// reads the text; one more word in one block is refused with the block named, never misread.
TEST(DataMatrixRead, ErrorCorrectionHoldsToHalfTheCheckWordsOfEachBlock) {
  scene::Random rng(5);
  for (int option = 1; option <= 48; ++option) {
    const dmread::SymbolSize& s = dmread::symbolSizes()[option - 1];
    const Encoding e{flavouredText(5, s.dataWords / 2, rng), DATA_MODE, 0, option};
    const dmread::ModuleMatrix clean = encode(e);
    const int k = s.eccWords / s.blocks, total = s.dataWords + s.eccWords;
    for (int extra = 0; extra < 2; ++extra) {
      dmread::ModuleMatrix m = clean;
      for (int b = 0; b < s.blocks; ++b) {
        // The block's words: data b, b + B, ...; check words likewise (the largest size's start
        // at the ninth block).
        std::vector<int> words;
        for (int i = b; i < s.dataWords; i += s.blocks) words.push_back(i);
        const int first = s.rows == 144 ? (b + s.blocks - 8) % s.blocks : b;
        for (int j = first; j < s.eccWords; j += s.blocks) words.push_back(s.dataWords + j);
        const int bad = k / 2 + (extra && b == s.blocks - 1 ? 1 : 0);
        for (int n = 0; n < bad; ++n) {
          const int pick = rng.uniformInt(n, static_cast<int>(words.size()) - 1);
          std::swap(words[n], words[pick]);
          ASSERT_LT(words[n], total);
          corruptCodeword(m, s, words[n], static_cast<uint8_t>(rng.uniformInt(1, 255)));
        }
      }
      const dmread::Reading r = dmread::readMatrix(m);
      if (extra == 0) {
        ASSERT_TRUE(r.ok) << s.rows << "x" << s.cols << ": " << r.error;
        EXPECT_EQ(r.message.text, e.data);
        EXPECT_EQ(r.corrected, s.blocks * (k / 2));
      } else {
        EXPECT_FALSE(r.ok) << s.rows << "x" << s.cols << " read \"" << r.message.text << "\"";
        EXPECT_NE(r.error.find("block " + std::to_string(s.blocks) + " of"), std::string::npos) << r.error;
      }
    }
  }
}

// The road as idut-find runs it, then the reader on each symbol it locates: the share read per
// kind of scene (clean scenes also mirrored left to right), and no text that differs from the
// symbol's.
TEST(DataMatrixRead, ScenesReadWhatTheRoadLocatesAndNeverMisread) {
  const scene::Category kinds[] = {scene::Category::clean, scene::Category::noisy, scene::Category::blurred,
                                   scene::Category::lowContrast, scene::Category::perspective,
                                   scene::Category::multiSymbol, scene::Category::clean};
  int allLocated = 0, allRead = 0, wrong = 0;
  std::printf("%-12s %8s %8s %8s %6s\n", "kind", "located", "read", "rate", "wrong");
  for (const scene::Category& kind : kinds) {
    const bool mirror = &kind == &kinds[std::size(kinds) - 1];
    int located = 0, read = 0, kindWrong = 0;
    for (uint32_t seed = 500; seed < 512; ++seed) {
      scene::Scene sc = scene::generate(kind, seed);
      for (int y = 0; mirror && y < sc.image.height; ++y)
        std::reverse(sc.image.pixels.begin() + y * sc.image.width, sc.image.pixels.begin() + (y + 1) * sc.image.width);
      const scene::ImageView view(sc.image);
      dmroad::Options options;
      options.lowContrast = kind == scene::Category::lowContrast;
      const dmroad::Outcome out = dmroad::findAll(*view, options);
      ASSERT_EQ(out.status, 0);
      cimg_windowConst w;
      ASSERT_EQ(cimg_windowConst_init(&w, view.get()), 0);
      for (const dmroad::Symbol& s : out.symbols) {
        const dmread::Reading r = dmread::readSymbol(w, s.corners, s.rows, s.cols);
        const scene::SymbolTruth* truth = nullptr;
        for (const auto& t : sc.symbols)
          if (matches(t, s, mirror ? sc.image.width : 0)) truth = &t;
        if (truth == nullptr) {
          kindWrong += r.ok;  // a read where no symbol is
          continue;
        }
        ++located;
        if (!r.ok) continue;
        ++read;
        kindWrong += r.message.text != truth->symbol.text;
        EXPECT_EQ(r.lightOnDark, truth->polarity == scene::Polarity::lightOnDark);
        EXPECT_EQ(r.mirrored, mirror);
      }
    }
    std::printf("%-12s %8d %8d %7.1f%% %6d\n", mirror ? "mirrored" : scene::categoryName(kind), located, read,
                located ? 100.0 * read / located : 0.0, kindWrong);
    EXPECT_GE(read, 0.9 * located) << scene::categoryName(kind);
    allLocated += located;
    allRead += read;
    wrong += kindWrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(allRead, 0.95 * allLocated);
}

// A grid read from exact corners wherever the symbol lies: against the image's edges (samples
// clamped there), a pixel or two in and well inside, it reads its text uncorrected; corners listed
// as a bow tie read nothing (sampled without the clamps, such a grid runs off the image).
TEST(DataMatrixRead, GridsOnTheImageEdgeReadAsInside) {
  const Encoding e{"EDGE 0123456789 sampling", DATA_MODE, 0, 0};
  const dmread::ModuleMatrix m = encode(e);
  constexpr int kModule = 3;
  struct Case {
    int left, top, right, bottom;  // light pixels beside the outline
    bool crossed;
  };
  const Case cases[] = {{0, 0, 6, 6, false}, {6, 6, 0, 0, false},   {0, 0, 0, 0, false},    {1, 1, 1, 1, false},
                        {2, 2, 2, 2, false}, {12, 9, 7, 15, false}, {0, 0, 0, 0, true}, {10, 10, 10, 10, true}};
  for (const Case& c : cases) {
    const int side = m.cols * kModule, tall = m.rows * kModule;
    const int width = c.left + side + c.right, height = c.top + tall + c.bottom;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 220);
    for (int y = 0; y < tall; ++y)
      for (int x = 0; x < side; ++x)
        if (m.at(y / kModule, x / kModule)) pixels[static_cast<size_t>(c.top + y) * width + c.left + x] = 40;
    const cimg_windowConst w{width, height, 0, 0, width, pixels.data()};
    const double x0 = c.left, y0 = c.top, x1 = x0 + side, y1 = y0 + tall;
    std::array<cmath_vect, 4> corners{cmath_vect{x0, y1}, cmath_vect{x1, y1}, cmath_vect{x1, y0}, cmath_vect{x0, y0}};
    if (c.crossed) std::swap(corners[1], corners[2]);
    const dmread::Reading r = dmread::readSymbol(w, corners, m.rows, m.cols);
    const std::string name = std::to_string(c.left) + " " + std::to_string(c.top) + (c.crossed ? " crossed" : "");
    EXPECT_EQ(r.ok, !c.crossed) << name << ": " << r.error;
    if (!r.ok) continue;
    EXPECT_EQ(r.message.text, e.data) << name;
    EXPECT_EQ(r.corrected, 0) << name;
  }
}

// A long rectangle of 2-pixel modules turned 35 degrees, with one located corner off by a module
// or two (its short side, fitted on few edge points, turned by a stray one), or one end short or
// long by most of a module, or short by whole regions and matched as a shorter size: it reads all
// the same, whichever corner or end is off and whichever way it moved.
TEST(DataMatrixRead, AnOutlineWithACornerOrAnEndOffReads) {
  const Encoding e{"ONE CORNER OFF 0123456789", DATA_MODE, 0, 34};  // 8 x 96
  const dmread::ModuleMatrix m = encode(e);
  ASSERT_EQ(m.rows, 8);
  ASSERT_EQ(m.cols, 96);
  constexpr double kModule = 2.1, kAngle = 0.61;
  const cmath_vect along{kModule * std::cos(kAngle), kModule * std::sin(kAngle)};
  const cmath_vect across{-along.y, along.x};
  const cmath_vect origin{20, 20};
  auto at = [&](double col, double row) {
    return cmath_vect{origin.x + col * along.x + row * across.x, origin.y + col * along.y + row * across.y};
  };
  const int width = static_cast<int>(at(m.cols, 0).x + 40), height = static_cast<int>(at(m.cols, m.rows).y + 40);
  // Each pixel the share of its 4 x 4 samples on dark modules (row 0 at the top, so the L's
  // corner is at row m.rows).
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  const double det = along.x * across.y - along.y * across.x;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int dark = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          const double px = x + (sx + 0.5) / 4 - origin.x, py = y + (sy + 0.5) / 4 - origin.y;
          const double col = (px * across.y - py * across.x) / det, row = (py * along.x - px * along.y) / det;
          if (col < 0 || row < 0 || col >= m.cols || row >= m.rows) continue;
          dark += m.at(static_cast<int>(row), static_cast<int>(col));
        }
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(215 - dark * 170 / 16);
    }
  const cimg_windowConst w{width, height, 0, 0, width, pixels.data()};
  const std::array<cmath_vect, 4> exact{at(0, m.rows), at(m.cols, m.rows), at(m.cols, 0), at(0, 0)};
  struct Case {
    std::vector<int> corners;            // the corners moved: one, or an end's two
    double alongModules, acrossModules;  // how far
    int matchedCols = 96;                // the size the border check gave (8 x this)
  };
  const Case cases[] = {{{0}, 1.7, 0.6},     {{1}, -1.7, -0.6},   {{2}, -1.7, 0.6},    {{3}, 1.7, -0.6},
                        {{0}, -1.2, 1.0},    {{2}, 1.5, 0.0},     {{1}, 0.0, 1.1},     {{3}, 0.0, -1.1},
                        {{1, 2}, -1.0, 0.0}, {{1, 2}, 1.3, 0.0}, {{0, 3}, 1.5, 0.0}, {{0, 3}, -1.2, 0.0}, {{1, 2}, -1.6, 0.0}, {{0, 3}, 1.8, 0.0},
                        // A long side's two corners off along it: a symbol skewed in the picture.
                        {{0, 1}, 2.0, 0.0}, {{2, 3}, -2.2, 0.0}, {{0, 1}, -1.8, 0.0},
                        // Outlined short by whole regions, and matched as the shorter size.
                        {{1, 2}, -16, 0.0, 80},  {{0, 3}, 32, 0.0, 64}};
  for (const Case& c : cases) {
    std::array<cmath_vect, 4> corners = exact;
    std::string name = "corners";
    for (int k : c.corners) {
      corners[k].x += (c.alongModules * along.x + c.acrossModules * across.x);
      corners[k].y += (c.alongModules * along.y + c.acrossModules * across.y);
      name += " " + std::to_string(k);
    }
    name += " off " + std::to_string(c.alongModules) + ", " + std::to_string(c.acrossModules);
    const dmread::Reading r = dmread::readSymbol(w, corners, m.rows, c.matchedCols);
    EXPECT_TRUE(r.ok) << name << ": " << r.error;
    if (r.ok) {
      EXPECT_EQ(r.message.text, e.data) << name;
      // The grid that read lies on the symbol, whatever outline it started from.
      for (const cmath_vect& g : r.gridCorners) {
        double nearest = 1e300;
        for (const cmath_vect& x : exact) nearest = std::min(nearest, std::hypot(g.x - x.x, g.y - x.y));
        EXPECT_LT(nearest, 0.5 * kModule) << name;
      }
    }
  }
}
