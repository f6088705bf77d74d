// ECI character sets: for every set a Data Matrix or PDF417 can designate, bytes of that set
// convert to the UTF-8 of known characters and agree with iconv's own conversion; binary data,
// ECIs that name no set and bytes invalid in their set fail; several segments convert each in
// its own set.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "reader/charset.hpp"

namespace {

std::vector<uint8_t> raw(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// iconv's own conversion of the bytes from the named set, as the reference.
std::string iconvReference(const char* from, const std::vector<uint8_t>& in) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
  size_t srcLeft = in.size(), dstLeft = out.size();
  char* dst = out.data();
  const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return "<invalid>";
  out.resize(out.size() - dstLeft);
  return out;
}

TEST(Charset, EverySetConvertsKnownCharacters) {
  const struct {
    int eci;
    const char* iconvName;
    std::string bytes;
    const char* utf8;  // the characters the bytes stand for
  } cases[] = {
      {0, "CP437", "\x81\xE1", "\xC3\xBC\xC3\x9F"},             // u-umlaut, sharp s
      {2, "CP437", "\xC9\xCD", "\xE2\x95\x94\xE2\x95\x90"},     // box drawing
      {1, "ISO-8859-1", "\xE9", "\xC3\xA9"},
      {3, "ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
      {4, "ISO-8859-2", "\xA3\xF3", "\xC5\x81\xC3\xB3"},
      {5, "ISO-8859-3", "\xA1", "\xC4\xA6"},
      {6, "ISO-8859-4", "\xA2", "\xC4\xB8"},
      {7, "ISO-8859-5", "\xB0", "\xD0\x90"},
      {8, "ISO-8859-6", "\xC7", "\xD8\xA7"},
      {9, "ISO-8859-7", "\xE1", "\xCE\xB1"},
      {10, "ISO-8859-8", "\xE0", "\xD7\x90"},
      {11, "ISO-8859-9", "\xFD", "\xC4\xB1"},
      {12, "ISO-8859-10", "\xA1", "\xC4\x84"},
      {13, "ISO-8859-11", "\xA1", "\xE0\xB8\x81"},
      {15, "ISO-8859-13", "\xA1", "\xE2\x80\x9D"},
      {16, "ISO-8859-14", "\xA1", "\xE1\xB8\x82"},
      {17, "ISO-8859-15", "\xA4", "\xE2\x82\xAC"},
      {18, "ISO-8859-16", "\xA1", "\xC4\x84"},
      {20, "SHIFT_JIS", "\x93\xFA", "\xE6\x97\xA5"},
      {21, "CP1250", "\x8A", "\xC5\xA0"},
      {22, "CP1251", "\xC0", "\xD0\x90"},
      {23, "CP1252", "\x80", "\xE2\x82\xAC"},
      {24, "CP1256", "\xC7", "\xD8\xA7"},
      {25, "UTF-16BE", std::string("\x00\x41\x4E\x2D", 4), "A\xE4\xB8\xAD"},
      {26, "UTF-8", "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {27, "US-ASCII", "Az~", "Az~"},
      {170, "US-ASCII", "AZ09", "AZ09"},
      {28, "BIG5", "\xA4\xA4", "\xE4\xB8\xAD"},
      {29, "GB2312", "\xD6\xD0", "\xE4\xB8\xAD"},
      {30, "EUC-KR", "\xC7\xD1", "\xED\x95\x9C"},
      {31, "GBK", "\x81\x40", "\xE4\xB8\x82"},
      {32, "GB18030", std::string("\x81\x30\x81\x30", 4), "\xC2\x80"},
      {33, "UTF-16LE", std::string("\x41\x00", 2), "A"},
      {34, "UTF-32BE", std::string("\x00\x01\xF6\x00", 4), "\xF0\x9F\x98\x80"},
      {35, "UTF-32LE", std::string("\x00\xF6\x01\x00", 4), "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("ECI " + std::to_string(c.eci));
    EXPECT_STREQ(charset::iconvName(c.eci), c.iconvName);
    const std::vector<uint8_t> in = raw(c.bytes);
    std::string out = "kept ";
    std::string error;
    ASSERT_TRUE(charset::toUtf8(c.eci, in.data(), in.size(), &out, &error)) << error;
    EXPECT_EQ(out, std::string("kept ") + c.utf8);  // appended, the text before kept
    EXPECT_EQ(out.substr(5), iconvReference(c.iconvName, in));
  }
}

TEST(Charset, FailuresNeverGiveText) {
  const struct {
    const char* name;
    int eci;
    std::string bytes;
  } cases[] = {
      {"binary", 899, "\x01\x02"},       {"unassigned 14", 14, "A"},      {"unassigned 19", 19, "A"},
      {"user-defined", 810900, "A"},     {"negative", -1, "A"},           {"bad UTF-8", 26, "\xC3("},
      {"cut UTF-8", 26, "\xE2\x82"},     {"ASCII above 127", 27, "\xE9"}, {"odd UTF-16", 25, std::string("\x00", 1)},
      {"bad Shift JIS", 20, "\x85\x40"}, {"UTF-32 beyond Unicode", 34, std::string("\x00\x11\x00\x00", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> in = raw(c.bytes);
    std::string out = "before", error;
    EXPECT_FALSE(charset::toUtf8(c.eci, in.data(), in.size(), &out, &error));
    EXPECT_EQ(out, "before");
    EXPECT_FALSE(error.empty());
  }
}

TEST(Charset, SegmentsEachInTheirSet) {
  const struct {
    const char* name;
    std::vector<charset::Segment> segments;
    bool ok;
    std::string utf8;
  } cases[] = {
      {"default then greek then utf-8", {{3, raw("\xE9")}, {9, raw("\xE9")}, {26, raw("\xC3\xA9")}}, true,
       "\xC3\xA9\xCE\xB9\xC3\xA9"},
      {"empty segments", {{3, {}}, {26, {}}}, true, ""},
      {"one bad segment spoils all", {{3, raw("ok")}, {26, raw("\xFF")}}, false, ""},
      {"binary segment", {{3, raw("ok")}, {899, raw("\x01")}}, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out, error;
    EXPECT_EQ(charset::segmentsToUtf8(c.segments, &out, &error), c.ok) << error;
    EXPECT_EQ(out, c.utf8);
  }
}

}  // namespace
