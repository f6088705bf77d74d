// What a Data Matrix symbol carries besides its characters, through the front door: GS1 element
// strings, the 05 / 06 macros with their header and trailer, reader initialisation, structured
// append (position, count, file id), an ECI designator and binary bytes; each symbol encoded by
// libzint, drawn upright, turned, mirrored and printed light on dark.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
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

scene::DmContent plain(std::string data) {
  scene::DmContent c;
  c.data = std::move(data);
  return c;
}

std::vector<Case> cases() {
  std::vector<Case> out;
  out.push_back({"plain text", plain("idut 0123"), {"idut 0123", "idut 0123", ContentType::Text, "]d1"}});
  {
    scene::DmContent c = plain("[10]AB12[17]260101[01]09501101530008");
    c.gs1 = true;
    const std::string data = "10AB12\x1D" "17260101" "0109501101530008";
    out.push_back({"GS1 with a separator", c, {"]d2" + data, data, ContentType::GS1, "]d2"}});
  }
  {
    const std::string data = "[)>\x1E" "05\x1D" "ABC123\x1E\x04";
    out.push_back({"macro 05", plain(data), {data, data, ContentType::ISO15434, "]d1"}});
  }
  {
    const std::string data = "[)>\x1E" "06\x1D" "12S0042\x1E\x04";
    out.push_back({"macro 06", plain(data), {data, data, ContentType::ISO15434, "]d1"}});
  }
  {
    scene::DmContent c = plain("PROGRAM 7");
    c.readerInit = true;
    Expected e{"PROGRAM 7", "PROGRAM 7", ContentType::Text, "]d1"};
    e.readerInit = true;
    out.push_back({"reader initialisation", c, e});
  }
  {
    scene::DmContent c = plain("part two of three");
    c.appendIndex = 2;
    c.appendCount = 3;
    c.appendId = "017042";  // file id 17, 42
    Expected e{"part two of three", "part two of three", ContentType::Text, "]d1"};
    e.appendIndex = 1;
    e.appendCount = 3;
    e.appendId = "17.42";
    out.push_back({"structured append", c, e});
  }
  {
    scene::DmContent c = plain("\xD0\x96 \xE2\x82\xAC");  // "Ж €" in UTF-8
    c.eci = 26;
    Expected e{"\xD0\x96 \xE2\x82\xAC", "\xD0\x96 \xE2\x82\xAC", ContentType::Text, "]d4"};
    e.eci = 26;
    out.push_back({"ECI 26, UTF-8", c, e});
  }
  {
    std::string bytes;
    for (int b : {0x00, 0xFF, 0x80, 0x1D, 0x41, 0xC3, 0x28, 0x7F}) bytes += static_cast<char>(b);
    scene::DmContent c = plain(bytes);
    c.eci = 899;
    Expected e{"", bytes, ContentType::Binary, "]d4"};
    e.eci = 899;
    out.push_back({"ECI 899, binary", c, e});
  }
  return out;
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
      scene::Placed p;
      p.moduleSize = 4;
      p.angleDeg = v.angle;
      p.mirrored = v.mirrored;
      p.polarity = v.polarity;
      p.blurSigma = 0.6;
      p.noiseSigma = 2;
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
      EXPECT_EQ(s.text, e.text) << where;
      EXPECT_EQ(std::string(s.bytes.begin(), s.bytes.end()), e.bytes) << where;
      EXPECT_EQ(s.contentType, e.type) << where;
      EXPECT_EQ(s.symbologyIdentifier, e.identifier) << where;
      EXPECT_EQ(s.eci, e.eci) << where;
      EXPECT_EQ(s.readerInit, e.readerInit) << where;
      EXPECT_EQ(s.structuredAppend.index, e.appendIndex) << where;
      EXPECT_EQ(s.structuredAppend.count, e.appendCount) << where;
      EXPECT_EQ(s.structuredAppend.id, e.appendId) << where;
      EXPECT_EQ(s.mirrored, v.mirrored) << where;
      // The corners are named after the symbol: the L, the end of the solid row, of the solid column.
      const scene::SymbolTruth& t = sc.symbols[0];
      auto near = [&](const idut::Point& p, const scene::Point& q) { return std::hypot(p.x - q.x, p.y - q.y) < 2.0; };
      EXPECT_TRUE(near(s.corners.origin(), t.lCorner)) << where;
      EXPECT_TRUE(near(s.corners.xEnd(), t.rowEnd)) << where;
      EXPECT_TRUE(near(s.corners.yEnd(), t.columnEnd)) << where;
      EXPECT_TRUE(near(s.corners.opposite(), t.opposite)) << where;
      EXPECT_EQ(s.inverted, v.polarity == scene::Polarity::lightOnDark) << where;
    }
  }
}

// Symbols switching to every character set of the samples: the bytes as the character set has
// them (iconv's conversion of the sample text) and the ECI come back; turning them into text is
// the character-set conversion's own test.
TEST(DataMatrixContent, EciSymbolsKeepTheirBytesAndDesignator) {
  for (const scene::EciSample& sample : scene::eciSamples()) {
    const scene::DmContent content = scene::eciContent(sample);
    scene::Placed p;
    p.moduleSize = 3;
    p.angleDeg = 20 + sample.eci;
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
