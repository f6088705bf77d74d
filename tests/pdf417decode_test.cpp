// PDF417 content against libzint: symbols of every compaction mode, ECI segments, Macro PDF417,
// binary data, reader initialisation and compact PDF417 encoded by libzint and read back from
// their module rows (every stage but the image sampling), with the exact text, bytes and
// metadata; mirrored and turned symbols; and hand-made codeword sequences that must be refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "reader/pdf417/pdfdecode.hpp"
#include "reader/pdf417/pdfecc.hpp"
#include "reader/pdf417/pdfread.hpp"
#include "reader/pdf417/pdfscan.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

Rows moduleRows(const scene::DmSymbol& s) {
  Rows rows(s.rows);
  for (int r = 0; r < s.rows; ++r)
    for (int c = 0; c < s.cols; ++c) rows[r].push_back(s.isDark(r, c) ? 1 : 0);
  return rows;
}

scene::Pdf417Content text(int eci, std::string data) {
  scene::Pdf417Content c;
  c.segments.push_back({eci, std::move(data)});
  return c;
}

scene::Pdf417Content bytes(int eci, std::string data) {
  scene::Pdf417Content c = text(eci, std::move(data));
  c.binary = true;
  return c;
}

// ISO 8859-1, the default set, is the first 256 code points.
std::string digits(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + (i * 7 + 3) % 10);
  return s;
}

struct Case {
  const char* name;
  scene::Pdf417Content content;
  std::string text;                // expected UTF-8
  std::vector<uint8_t> bytes;      // expected bytes; empty: not checked
  int eci = -1;
  idut::ContentType type = idut::ContentType::Text;
};

TEST(Pdf417Decode, ContentRoundTripsFromModuleRows) {
  const std::string punct = ";<>@[\\]_`~!\r\t,:\n-.$/\"|*()?{}'";
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
  std::vector<uint8_t> allBytesVec(allBytes.begin(), allBytes.end());
  scene::Pdf417Content multi;
  multi.segments = {{9, "\xCE\xB1\xCE\xB2\xCE\xB3"}, {7, "\xD0\x96\xD0\xB8"}, {26, "\xE2\x82\xAC!"}};
  const std::vector<Case> cases = {
      {"upper", text(0, "HELLO WORLD"), "HELLO WORLD", {}},
      {"lower and shifts", text(0, "hello World Of pdf"), "hello World Of pdf", {}},
      {"mixed", text(0, "A1b2C3 #&%*+=^ 42.5$"), "A1b2C3 #&%*+=^ 42.5$", {}},
      {"punctuation", text(0, punct), punct, {}},
      {"numeric", text(0, digits(120)), digits(120), {}},
      {"digits in text", text(0, "Order " + digits(20) + " of ABC"), "Order " + digits(20) + " of ABC", {}},
      {"latin-1 bytes", bytes(0, "caf\xE9 cr\xE8me"), "caf\xC3\xA9 cr\xC3\xA8me", {}},
      // Control codes with no ECI: binary, the bytes as they are and no text.
      {"all bytes", bytes(0, allBytes), "", allBytesVec, -1, idut::ContentType::Binary},
      {"latin-1 and separators", bytes(0, "a\x1D" "b\xA0\t\r\n"), "a\x1D" "b\xC2\xA0\t\r\n", {}},
      {"binary eci", bytes(899, std::string("\x01\x02\xFF\x00\x7F", 5) + std::string(12, '\x80')), "",
       {1, 2, 0xFF, 0, 0x7F, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, 899,
       idut::ContentType::Binary},
      {"greek", text(9, "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7"), "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7", {0xCA, 0xE1, 0xEB, 0xE7}, 9},
      {"shift jis", text(20, "\xE6\x97\xA5\xE6\x9C\xAC"), "\xE6\x97\xA5\xE6\x9C\xAC", {0x93, 0xFA, 0x96, 0x7B}, 20},
      {"utf-8", text(26, "\xE2\x82\xAC 5"), "\xE2\x82\xAC 5", {0xE2, 0x82, 0xAC, ' ', '5'}, 26},
      {"big5", text(28, "\xE4\xB8\xAD"), "\xE4\xB8\xAD", {0xA4, 0xA4}, 28},
      {"three ecis", multi, "\xCE\xB1\xCE\xB2\xCE\xB3\xD0\x96\xD0\xB8\xE2\x82\xAC!", {}, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int security : {0, 2, 5}) {
      const scene::Pdf417Layout layout{4 + security, security, 1};
      scene::DmSymbol s;
      try {
        s = scene::encodePdf417(c.content, layout);
      } catch (const std::exception& e) {
        continue;  // libzint refuses the level for this size
      }
      idut::Symbol sym;
      ASSERT_TRUE(pdf417::fillSymbol(pdf417::readModuleRows(moduleRows(s)), sym)) << sym.decodeError;
      EXPECT_EQ(sym.text, c.text);
      if (!c.bytes.empty()) {
        EXPECT_EQ(sym.bytes, c.bytes);
      }
      EXPECT_EQ(std::tuple(sym.eci, sym.contentType, sym.ecLevel, sym.columns, sym.rows),
                std::tuple(c.eci, c.type, security, layout.columns, s.rows));
      EXPECT_EQ(std::tuple(sym.symbologyIdentifier, sym.errorsCorrected, sym.mirrored), std::tuple("]L2", 0, false));
    }
  }
}

TEST(Pdf417Decode, MacroFieldsReaderInitAndCompact) {
  struct MacroCase {
    int index, count;
    std::string id;
    bool compact, readerInit;
  };
  const MacroCase cases[] = {{1, 3, "123456", false, false}, {3, 3, "", false, false}, {2, 2, "899000001", true, false},
                             {0, 0, "", true, true},         {0, 0, "", false, true}};
  for (const MacroCase& m : cases) {
    SCOPED_TRACE(std::to_string(m.index) + "/" + std::to_string(m.count) + " id " + m.id);
    scene::Pdf417Content content = text(0, "Part of a longer message");
    content.macroIndex = m.index;
    content.macroCount = m.count;
    content.macroId = m.id;
    content.compact = m.compact;
    content.readerInit = m.readerInit;
    const scene::DmSymbol s = scene::encodePdf417(content, scene::Pdf417Layout{5, -1, 1});
    idut::Symbol sym;
    const pdf417::Reading r = pdf417::readModuleRows(moduleRows(s));
    ASSERT_TRUE(pdf417::fillSymbol(r, sym)) << sym.decodeError;
    EXPECT_EQ(sym.text, "Part of a longer message");
    EXPECT_EQ(r.compact, m.compact);
    EXPECT_EQ(sym.readerInit, m.readerInit);
    const idut::StructuredAppend& sa = sym.structuredAppend;
    EXPECT_EQ(sa.index, m.count > 0 ? m.index - 1 : -1);
    EXPECT_EQ(sa.count, m.count);
    EXPECT_EQ(sa.last, m.count > 0 && m.index == m.count);
    if (m.count > 0) {
      EXPECT_EQ(sa.id, m.id);
    }
  }
}

TEST(Pdf417Decode, MirroredAndTurnedRows) {
  const scene::DmSymbol s = scene::encodePdf417(text(0, "Turned 180 and mirrored"), scene::Pdf417Layout{3, -1, 2});
  const Rows upright = moduleRows(s);
  Rows mirrored = upright, turned = upright, flipped = upright;
  for (auto& r : mirrored) std::reverse(r.begin(), r.end());
  std::reverse(turned.begin(), turned.end());
  for (auto& r : turned) std::reverse(r.begin(), r.end());
  std::reverse(flipped.begin(), flipped.end());
  const struct {
    const char* name;
    const Rows& rows;
    bool mirrored;
  } cases[] = {{"upright", upright, false}, {"mirrored", mirrored, true}, {"turned", turned, false},
               {"upside down", flipped, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    idut::Symbol sym;
    ASSERT_TRUE(pdf417::fillSymbol(pdf417::readModuleRows(c.rows), sym)) << sym.decodeError;
    EXPECT_EQ(sym.text, "Turned 180 and mirrored");
    EXPECT_EQ(sym.mirrored, c.mirrored);
  }
}

// Rows whose start pattern and left indicator are torn away are read from their stop pattern;
// rows missing their right side from the start; a symbol damaged beyond its check words is
// refused, never misread.
TEST(Pdf417Decode, DamagedSides) {
  const std::string message = "Either side of a row may be torn; the other still reads it. 0123456789";
  const scene::DmSymbol s = scene::encodePdf417(text(0, message), scene::Pdf417Layout{6, 4, 3});
  const Rows clean = moduleRows(s);
  const int width = static_cast<int>(clean[0].size());
  const struct {
    const char* name;
    int from, to;      // modules blanked in the damaged rows
    int everyNth;      // which rows (every n-th, from row 0)
    bool readable;
  } cases[] = {
      {"left torn off every other row", 0, 40, 2, true},
      {"left torn off every row", 0, 40, 1, true},
      {"right torn off every row", width - 40, width, 1, true},
      {"middle words gone in every row", 60, 100, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rows rows = clean;
    for (size_t r = 0; r < rows.size(); r += c.everyNth)
      for (int m = c.from; m < c.to; ++m) rows[r][m] = 0;
    idut::Symbol sym;
    EXPECT_EQ(pdf417::fillSymbol(pdf417::readModuleRows(rows), sym), c.readable) << sym.decodeError;
    if (c.readable) {
      EXPECT_EQ(sym.text, message);
    } else {
      EXPECT_TRUE(sym.text.empty());
      EXPECT_FALSE(sym.decodeError.empty());
    }
  }
}

// Data codewords (length descriptor first) made into a level-2 symbol's words.
pdf417::Reading readData(std::vector<int> data) {
  data.insert(data.begin(), static_cast<int>(data.size()) + 1);
  while ((data.size() + 8) % 3 != 0) {
    data.push_back(900);
    ++data[0];
  }
  const std::vector<int> check = pdf417::checkWords(data, 2);
  data.insert(data.end(), check.begin(), check.end());
  return pdf417::readCodewords(data, 3, 2);
}

TEST(Pdf417Decode, HandMadeCodewords) {
  const struct {
    const char* name;
    std::vector<int> data;
    bool ok;
    std::string bytes;
  } cases[] = {
      {"alpha pairs", {7 * 30 + 4, 11 * 30 + 11, 14 * 30 + 26}, true, "HELLO "},
      {"punctuation shift then padding", {0 * 30 + 29}, true, "A"},
      {"byte shift in text", {1 * 30 + 2, 913, 0xE9, 3 * 30 + 4}, true, "BC\xE9" "DE"},
      {"byte 924 group", {924, 1, 2, 3, 4, 5}, true, std::string("\x00\x99\x19\xA7\xF3\xC5", 6)},
      {"byte 901 singles", {901, 65, 66, 67}, true, "ABC"},
      {"numeric", {902, 1, 624, 434, 632, 282, 200}, true, "000213298174000"},
      {"numeric split by an ECI", {902, 1, 624, 927, 26, 1, 100}, true, "524000"},
      {"numeric without its leading 1", {902, 0, 5}, false, ""},
      {"byte 924 not five words", {924, 1, 2, 3}, false, ""},
      {"byte group too large", {924, 899, 899, 899, 899, 899}, false, ""},
      {"byte 901 word above 255", {901, 300}, false, ""},
      {"reserved codeword", {905, 1}, false, ""},
      {"composite linkage", {920, 1}, false, ""},
      {"reader init not first", {1, 921}, false, ""},
      {"eci cut short", {927}, false, ""},
      {"macro terminator outside a block", {1, 922}, false, ""},
      {"macro without segment index", {928, 1}, false, ""},
      {"macro field unknown", {928, 111, 101, 923, 9, 1}, false, ""},
      {"words after terminator", {928, 111, 101, 922, 5}, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const pdf417::Reading r = readData(c.data);
    EXPECT_EQ(r.ok, c.ok) << r.error;
    if (!c.ok) {
      EXPECT_FALSE(r.error.empty());
      continue;
    }
    std::string got;
    for (const auto& s : r.message.segments) got.append(s.bytes.begin(), s.bytes.end());
    EXPECT_EQ(got, c.bytes);
  }
}

TEST(Pdf417Decode, LengthDescriptorChecked) {
  const struct {
    std::vector<int> data;
    bool ok;
  } cases[] = {{{0, 1, 2}, false}, {{4, 1, 2}, false}, {{3, 1, 2}, true}, {{2, 1, 2}, true}, {{}, false}};
  for (const auto& c : cases) EXPECT_EQ(pdf417::decodeData(c.data).ok, c.ok) << testing::PrintToString(c.data);
}

}  // namespace

// The scan line's search for the next sample past a level, four samples at a time and the rest one
// by one: the first such sample wherever it lies (in the first group of four, in the last, in the
// few left over), none for a sample equal to the level, and nothing past the end of the range,
// whether samples past the level lie beyond it or its storage ends there.
TEST(Pdf417Decode, ScanLineFindsTheFirstSamplePastALevel) {
  constexpr float kLevel = 100;
  for (bool above : {true, false}) {
    const float past = above ? 180.0f : 20.0f, near = above ? 60.0f : 140.0f;
    for (size_t from : {0u, 1u, 3u}) {
      for (size_t length = 0; length <= 13; ++length) {
        const size_t to = from + length;
        // Every sample in range short of the level, the level itself at the end, samples past
        // it just beyond the range.
        std::vector<float> samples(to + 6, past);
        for (size_t i = from; i < to; ++i) samples[i] = near;
        if (length > 0) samples[to - 1] = kLevel;
        EXPECT_EQ(pdf417::firstBeyond(samples.data(), from, to, kLevel, above), to)
            << "none, from " << from << ", length " << length << (above ? ", above" : ", below");
        // The range ending where its storage does (a read past it is the sanitizers' to see).
        const std::vector<float> exact(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(to));
        EXPECT_EQ(pdf417::firstBeyond(exact.data(), from, to, kLevel, above), to);
        for (size_t at = from; at < to; ++at) {
          std::vector<float> one = samples;
          one[at] = past;
          if (at + 1 < to) one[to - 1] = past;  // a later sample past the level too
          EXPECT_EQ(pdf417::firstBeyond(one.data(), from, to, kLevel, above), at)
              << "at " << at << ", from " << from << ", length " << length << (above ? ", above" : ", below");
        }
      }
    }
  }
}
