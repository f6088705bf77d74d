// What a Data Matrix symbol carries besides its characters, through the front door: GS1 element
// strings, the 05 / 06 macros with their header and trailer, reader initialisation, structured
// append (position, count, file id), an ECI designator and binary bytes; each symbol encoded by
// libzint, drawn upright, turned, mirrored and printed light on dark.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "idut/read.hpp"
#include "scenes/scene_dm.hpp"

namespace {

using idut::ContentType;

struct Expected {
  std::string text;
  std::string bytes;
  ContentType type;
  const char* identifier;
  int eci = -1;
  bool readerInit = false;
  int appendIndex = -1, appendCount = 0;
  const char* appendId = "";
};

struct Case {
  const char* name;
  scene::DmContent content;
  Expected expected;
};

scene::DmContent dm(std::string data, int eci = 0, bool gs1 = false, bool readerInit = false, int appendIndex = 0,
                    int appendCount = 0, std::string appendId = "") {
  return {std::move(data), eci, gs1, readerInit, appendIndex, appendCount, std::move(appendId)};
}

std::vector<Case> cases() {
  const std::string gs1 = "10AB12\x1D" "17260101" "0109501101530008", macro05 = "[)>\x1E" "05\x1D" "ABC123\x1E\x04",
                    macro06 = "[)>\x1E" "06\x1D" "12S0042\x1E\x04", utf8 = "\xD0\x96 \xE2\x82\xAC";  // "Ж €"
  std::string bytes;
  for (int b : {0x00, 0xFF, 0x80, 0x1D, 0x41, 0xC3, 0x28, 0x7F}) bytes += static_cast<char>(b);
  return {
      {"plain text", dm("idut 0123"), {"idut 0123", "idut 0123", ContentType::Text, "]d1"}},
      {"GS1 with a separator", dm("[10]AB12[17]260101[01]09501101530008", 0, true),
       {"]d2" + gs1, gs1, ContentType::GS1, "]d2"}},
      {"macro 05", dm(macro05), {macro05, macro05, ContentType::ISO15434, "]d1"}},
      {"macro 06", dm(macro06), {macro06, macro06, ContentType::ISO15434, "]d1"}},
      {"reader initialisation", dm("PROGRAM 7", 0, false, true),
       {"PROGRAM 7", "PROGRAM 7", ContentType::Text, "]d1", -1, true}},
      // File id 17, 42.
      {"structured append", dm("part two of three", 0, false, false, 2, 3, "017042"),
       {"part two of three", "part two of three", ContentType::Text, "]d1", -1, false, 1, 3, "17.42"}},
      {"ECI 26, UTF-8", dm(utf8, 26), {utf8, utf8, ContentType::Text, "]d4", 26}},
      {"ECI 899, binary", dm(bytes, 899), {"", bytes, ContentType::Binary, "]d4", 899}},
  };
}

TEST(DataMatrixContent, FieldsBesideTheTextAreReported) {
  struct View {
    double angle;
    bool mirrored;
    scene::Polarity polarity;
  };
  const View views[] = {{0, false, scene::Polarity::darkOnLight},
                        {117, false, scene::Polarity::darkOnLight},
                        {30, true, scene::Polarity::darkOnLight},
                        {200, false, scene::Polarity::lightOnDark}};
  for (const Case& c : cases()) {
    const scene::DmSymbol symbol = scene::encodeDataMatrix(c.content);
    for (const View& v : views) {
      const scene::Placed p{.moduleSize = 4, .angleDeg = v.angle, .polarity = v.polarity, .mirrored = v.mirrored,
                            .blurSigma = 0.6, .noiseSigma = 2};
      const scene::Scene sc = scene::placedAlone(symbol, p);
      idut::ReadOptions options;
      options.symbologies = {idut::Symbology::DataMatrix};
      const auto found =
          idut::readSymbols(idut::ImageView(sc.image.pixels.data(), sc.image.width, sc.image.height, sc.image.width),
                            options);
      const std::string where = std::string(c.name) + " at " + std::to_string(int(v.angle)) +
                                (v.mirrored ? " mirrored" : "") +
                                (v.polarity == scene::Polarity::lightOnDark ? " light on dark" : "");
      ASSERT_EQ(found.size(), 1u) << where;
      const idut::Symbol& s = found[0];
      const Expected& e = c.expected;
      ASSERT_TRUE(s.decoded) << where << ": " << s.decodeError;
      EXPECT_EQ(std::tuple(s.text, std::string(s.bytes.begin(), s.bytes.end()), s.contentType, s.symbologyIdentifier, s.eci,
                           s.readerInit, s.structuredAppend.index, s.structuredAppend.count, s.structuredAppend.id,
                           s.mirrored, s.inverted),
                std::tuple(e.text, e.bytes, e.type, std::string(e.identifier), e.eci, e.readerInit, e.appendIndex,
                           e.appendCount, std::string(e.appendId), v.mirrored, v.polarity == scene::Polarity::lightOnDark))
          << where;
      // The corners are named after the symbol: the L, the end of the solid row, of the solid column.
      const scene::SymbolTruth& t = sc.symbols[0];
      auto near = [&](const idut::Point& p, const scene::Point& q) { return std::hypot(p.x - q.x, p.y - q.y) < 2.0; };
      EXPECT_TRUE(near(s.corners.origin(), t.lCorner) && near(s.corners.xEnd(), t.rowEnd) &&
                  near(s.corners.yEnd(), t.columnEnd) && near(s.corners.opposite(), t.opposite))
          << where;
    }
  }
}

// Symbols switching to every character set of the samples: the bytes as the character set has
// them (iconv's conversion of the sample text) and the ECI come back; turning them into text is
// the character-set conversion's own test.
TEST(DataMatrixContent, EciSymbolsKeepTheirBytesAndDesignator) {
  for (const scene::EciSample& sample : scene::eciSamples()) {
    const scene::DmContent content = scene::eciContent(sample);
    const scene::Placed p{.moduleSize = 3, .angleDeg = 20.0 + sample.eci};
    const scene::Scene sc = scene::placedAlone(scene::encodeDataMatrix(content), p);
    idut::ReadOptions options;
    options.symbologies = {idut::Symbology::DataMatrix};
    const auto found = idut::readSymbols(
        idut::ImageView(sc.image.pixels.data(), sc.image.width, sc.image.height, sc.image.width), options);
    ASSERT_EQ(found.size(), 1u) << sample.charset;
    ASSERT_TRUE(found[0].decoded) << sample.charset << ": " << found[0].decodeError;
    EXPECT_EQ(std::string(found[0].bytes.begin(), found[0].bytes.end()), content.data) << sample.charset;
    EXPECT_EQ(found[0].eci, sample.eci) << sample.charset;
    EXPECT_EQ(found[0].symbologyIdentifier, "]d4") << sample.charset;
  }
}

}  // namespace
