// The 1D readers on element widths made from libzint's bars: distorted, reversed, corrupted and
// truncated lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <iterator>
#include <map>
#include <tuple>
#include <utility>

#include "idut/read.hpp"
#include "reader/oned/oned.hpp"
#include "reader/oned/readline.hpp"
#include "reader/oned/databar.hpp"
#include "reader/oned/databarexp.hpp"
#include "reader/oned/fullascii.hpp"
#include "reader/oned/match.hpp"
#include "reader/oned/upce.hpp"
#include "scenes/scene_1d.hpp"

namespace {

using scene::Barcode1d;

oned::Symbology readerSymbology(Barcode1d kind) {
  using oned::Symbology;
  static const Symbology kReaders[] = {Symbology::code128, Symbology::code128, Symbology::ean13,  Symbology::upca,
                                       Symbology::ean8,    Symbology::code39,  Symbology::itf,    Symbology::upce,
                                       Symbology::code93,  Symbology::codabar, Symbology::code39, Symbology::code32,
                                       Symbology::pzn,     Symbology::ean13,   Symbology::databar,
                                       Symbology::databarExpanded};
  static_assert(std::size(kReaders) == scene::kAllBarcodes1d.size());
  return kReaders[static_cast<int>(kind)];
}

// What rawText holds for a kind: the printed characters where the text interprets them.
bool hasRawText(Barcode1d kind) {
  return kind == Barcode1d::code39FullAscii || kind == Barcode1d::codabar || kind == Barcode1d::code32 ||
         kind == Barcode1d::pzn;
}

// Run widths of one row of bars between 10-module quiet zones: every bar spread by `spread`
// modules (the spaces shrink by as much) and each width jittered by up to `jitter` modules.
std::vector<double> widthsOf(const scene::DmSymbol& bars, double module, double spread, double jitter,
                             scene::Random& rng) {
  std::vector<double> w{10};
  bool dark = false;
  for (int c = 0; c < bars.cols; ++c) {
    const bool d = bars.isDark(0, c);
    if (d != dark) {
      w.push_back(0);
      dark = d;
    }
    w.back() += 1;
  }
  w.push_back(10);
  for (size_t i = 1; i + 1 < w.size(); ++i) w[i] += (i % 2 ? spread : -spread) + rng.uniform(-jitter, jitter);
  for (double& x : w) x *= module;
  return w;
}

// Elements per character block, and the index of the first block, for swapping two characters.
std::pair<int, int> charBlocks(Barcode1d kind) {
  switch (kind) {
    case Barcode1d::code128:
    case Barcode1d::gs1_128:
    case Barcode1d::code93: return {6, 7};
    case Barcode1d::ean13:
    case Barcode1d::upca:
    case Barcode1d::ean8:
    case Barcode1d::ean13AddOn: return {4, 4};
    case Barcode1d::upce: return {0, 0};  // a swap moves the parities that carry the check digit along
    default: return {0, 0};  // no check character by default: a swap reads as other text
  }
}

TEST(OnedRead, ZintBarsReadBothWaysAndCorruptionsDoNot) {
  scene::Random rng(20261206);
  for (Barcode1d kind : scene::kAllBarcodes1d) {
    for (int trial = 0; trial < 40; ++trial) {
      const scene::Encoded1d code = scene::encode1d(kind, scene::randomData1d(rng, kind), 1);
      // Bars spread by up to a quarter module, EAN/UPC's by 0.4 (a blurred photograph's, which
      // their edge distances ignore); elements jittered by 0.15.
      const auto [size, first] = charBlocks(kind);
      const double maxSpread = size == 4 ? 0.4 : 0.25;
      const double spread = rng.uniform(-maxSpread, maxSpread), jitter = rng.uniform(0, 0.15);
      std::vector<double> w = widthsOf(code.bars, rng.uniform(1, 4), spread, jitter, rng);
      const int n = static_cast<int>(w.size());
      for (bool reversed : {false, true}) {
        std::vector<double> line = w;
        if (reversed) std::reverse(line.begin(), line.end());
        const std::vector<oned::Read> reads = oned::readLine(line);
        ASSERT_EQ(reads.size(), 1u) << scene::barcodeName(kind) << " " << code.text << " reversed " << reversed;
        const oned::Read& r = reads[0];
        // A symbol with its add-on ends at the symbol's last bar; the add-on follows.
        const int last = kind == Barcode1d::ean13AddOn ? 59 : n - 2;
        const int first = kind == Barcode1d::ean13AddOn && reversed ? n - 1 - 59 : 1;
        EXPECT_EQ(std::tuple(r.text, r.addOn, static_cast<int>(r.symbology), r.reversed, r.firstElement),
                  std::tuple(code.text, code.addOn, static_cast<int>(readerSymbology(kind)), reversed, first))
            << scene::barcodeName(kind);
        if (!reversed) {
          EXPECT_EQ(r.lastElement, last) << scene::barcodeName(kind);
        }
        EXPECT_EQ(r.rawText.empty(), !hasRawText(kind)) << scene::barcodeName(kind) << " " << r.rawText;
        EXPECT_EQ(r.identifier.substr(0, 2), std::string("]") + "CCEEEAIEGFAAAEee"[static_cast<int>(kind)])
            << scene::barcodeName(kind) << " " << r.identifier;
      }
      // Cut off: the last eight elements become quiet zone. A symbol whose add-on is cut reads
      // without it.
      std::vector<double> cut(w.begin(), w.end() - 9);
      cut.push_back(10 * w[0]);
      const std::vector<oned::Read> cutReads = oned::readLine(cut);
      if (kind == Barcode1d::ean13AddOn) {
        ASSERT_EQ(cutReads.size(), 1u) << code.text;
        EXPECT_EQ(std::tuple(cutReads[0].text, cutReads[0].addOn, cutReads[0].identifier),
                  std::tuple(code.text, std::string(), std::string("]E0")));
      } else {
        EXPECT_TRUE(cutReads.empty()) << scene::barcodeName(kind) << " truncated " << code.text;
      }
      // Two different characters swapped: the check rejects the line.
      if (size == 0) continue;
      std::vector<double> swapped = w;
      std::swap_ranges(swapped.begin() + first, swapped.begin() + first + size, swapped.begin() + first + size);
      if (std::equal(swapped.begin(), swapped.end(), w.begin())) continue;
      // EAN/UPC's weights 3 and 1 cannot see a swap of digits 5 apart.
      const size_t lead = kind == Barcode1d::ean13 || kind == Barcode1d::ean13AddOn ? 1 : 0;
      if (size == 4 && std::abs(code.text[lead] - code.text[lead + 1]) == 5) continue;
      for (const oned::Read& r : oned::readLine(swapped))
        EXPECT_EQ(r.text, code.text) << scene::barcodeName(kind) << " swapped characters read as other text";
    }
  }
}

// Lines that are no barcode: random widths, a uniform comb, an empty and a one-bar line.
TEST(OnedRead, JunkLinesReadNothing) {
  scene::Random rng(7);
  int reads = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<double> w{30};
    const int n = rng.uniformInt(1, 60);
    for (int i = 0; i < 2 * n - 1; ++i) w.push_back(rng.uniformInt(1, 4) * rng.uniform(0.8, 1.2));
    w.push_back(30);
    reads += static_cast<int>(oned::readLine(w).size());
  }
  for (const std::vector<double>& w : {std::vector<double>(81, 1.0), {}, {5, 1, 5}, {5, 1}})
    reads += static_cast<int>(oned::readLine(w).size());
  EXPECT_EQ(reads, 0);
}

// The interpretations of printed characters: full ASCII pairs, Code 32's base-32 number and
// check, PZN's mod-11 check, and UPC-E's zero suppression.
TEST(OnedRead, InterpretationsOfPrintedCharacters) {
  struct Ascii {
    const char* printed;
    std::optional<std::string> text;
  } ascii[] = {{"+H+E+L+L+O", "hello"}, {"A/B%U", std::string("A\"") + '\0'}, {"$M$J", "\r\n"},
               {"%V%W/Z", "@`:"},       {"AB/", std::nullopt},               {"A+1", std::nullopt},
               {"/P", std::nullopt},    {"PLAIN", "PLAIN"}};
  for (const Ascii& c : ascii) EXPECT_EQ(oned::decodeFullAscii(c.printed), c.text) << c.printed;

  struct Pharma {
    const char* printed;
    std::optional<std::string> code32;
    bool pzn;
  } pharma[] = {{"3PRM8N", "A123456788", false},    // 123456788 in base 32
                {"3PRM8P", std::nullopt, false},    // one more: check fails
                {"ABC123", std::nullopt, false},    // vowels are not in the alphabet
                {"-12345678", std::nullopt, true},  // PZN8, check 8
                {"-12345679", std::nullopt, false}, {"-1234562", std::nullopt, true},  // PZN7
                {"12345678", std::nullopt, false}};
  for (const Pharma& c : pharma) {
    EXPECT_EQ(oned::decodeCode32(c.printed), c.code32) << c.printed;
    EXPECT_EQ(oned::isPzn(c.printed), c.pzn) << c.printed;
  }

  struct Upce {
    const char* upce;
    const char* upca;  // "" when not a UPC-E number
  } upce[] = {{"01234565", "012345000065"}, {"04252614", "042100005264"}, {"01234133", "012300000413"},
              {"01234145", "012340000015"}, {"0123456", "012345000065"}, {"123456", "012345000065"},
              {"01234566", ""},             {"21234565", ""},             {"0123A565", ""}, {"", ""}};
  for (const Upce& c : upce) EXPECT_EQ(idut::expandUpce(c.upce), c.upca) << c.upce;
  EXPECT_EQ(oned::upceToUpca("11234565").substr(0, 1), "1");
}

// Calls f with every way of splitting `modules` into eight element widths of 1 to maxWidth.
void forEachComposition(int modules, int maxWidth, const std::function<void(const std::array<int, 8>&)>& f) {
  std::array<int, 8> c{};
  std::function<void(int, int)> walk = [&](int k, int left) {
    if (k == 7) {
      c[7] = left;
      if (left >= 1 && left <= maxWidth) f(c);
      return;
    }
    for (c[k] = 1; c[k] <= std::min(maxWidth, left - (7 - k)); ++c[k]) walk(k + 1, left - c[k]);
  };
  walk(0, modules);
}

// DataBar's character values: over every composition of a character's modules, the values read
// fill 0..2840 (outer characters) and 0..1596 (inner) exactly once each, so a group table whose
// sizes or first values disagree, or a rank that repeats, shows; ranks of small compositions by hand; a symbol libzint drew, and the same
// symbol with two elements of one character swapped or a finder broken, reads right or not at all.
TEST(OnedRead, DataBarCharacterValuesAndChecks) {
  for (const auto& [outer, values] : {std::pair{true, 2841}, std::pair{false, 1597}}) {
    std::vector<int> seen(values, 0);
    int valid = 0, outOfRange = 0;
    forEachComposition(outer ? 16 : 15, 9, [&](const std::array<int, 8>& c) {
      const int v = oned::dataBarCharacterValue(c, outer);
      if (v < 0) return;
      if (v >= values) ++outOfRange;
      else ++seen[v];
      ++valid;
    });
    EXPECT_EQ(outOfRange, 0) << (outer ? "outer" : "inner");
    EXPECT_EQ(valid, values) << (outer ? "outer" : "inner");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), values) << (outer ? "outer" : "inner");
  }
  struct Rank {
    std::array<int, 4> counts;
    int widest;
    bool requireOne;
    int rank;
  } ranks[] = {{{1, 1, 1, 2}, 2, false, 0}, {{1, 1, 2, 1}, 2, false, 1}, {{1, 2, 1, 1}, 2, false, 2},
               {{2, 1, 1, 1}, 2, true, 3},  {{1, 1, 1, 1}, 1, true, 0},  {{3, 1, 1, 1}, 2, false, -1},
               {{2, 2, 2, 2}, 8, true, -1}, {{1, 1, 1, 3}, 8, false, 0}, {{1, 1, 3, 1}, 8, false, 2},
               {{2, 1, 1, 2}, 8, true, 6},  {{2, 2, 1, 1}, 8, false, 8}, {{0, 2, 2, 2}, 8, false, -1}};
  for (const Rank& r : ranks)
    EXPECT_EQ(oned::dataBarRank(r.counts, r.widest, r.requireOne), r.rank)
        << r.counts[0] << r.counts[1] << r.counts[2] << r.counts[3];

  // 0950110153000 as libzint draws it, from the guard bar to the closing bar.
  const std::string modules = "151115111382114121113213212123116522312132211";
  std::vector<double> clean{12};
  for (char m : modules) clean.push_back(2.5 * (m - '0'));
  clean.push_back(12);
  auto texts = [](const std::vector<double>& w) {
    std::vector<std::string> out;
    for (const oned::Read& r : oned::readLine(w)) out.push_back(r.text);
    return out;
  };
  EXPECT_EQ(texts(clean), std::vector<std::string>{"]e0010950110153000" "3"});
  int refused = 0;
  for (int at = 2; at + 1 < 45; ++at) {
    if (clean[at] == clean[at + 1] || (at >= 10 && at <= 14) || (at >= 31 && at <= 35)) continue;
    std::vector<double> swapped = clean;
    std::swap(swapped[at], swapped[at + 1]);
    for (const std::string& t : texts(swapped)) EXPECT_EQ(t, texts(clean)[0]) << "swap at " << at;
    refused += texts(swapped).empty() ? 1 : 0;
  }
  EXPECT_GT(refused, 20);
  std::vector<double> brokenFinder = clean;
  brokenFinder[11] += 5;  // the left finder's wide bar two modules wider, the space after it as much narrower
  brokenFinder[12] -= 5;
  EXPECT_TRUE(texts(brokenFinder).empty());
}

// DataBar expanded. Every composition of 17 modules into eight elements of 1 to 8 that is a
// character gives a value of 0..4095, each once. The finders libzint draws for 2 to 11 pairs are
// the reader's sequences. Element strings of every encodation method (typed from the data, not
// from the reader) read from libzint's bars, spread and jittered, both ways; the same symbols
// with two elements of a character traded, a finder of another letter, or the last pair cut off
// read right or not at all.
TEST(OnedRead, DataBarExpandedValuesSequencesAndElementStrings) {
  std::vector<int> seen(4096, 0);
  int outOfRange = 0;
  forEachComposition(17, 8, [&](const std::array<int, 8>& c) {
    if (const int v = oned::dataBarExpandedValue(c); v >= 4096) ++outOfRange;
    else if (v >= 0) ++seen[v];
  });
  EXPECT_EQ(outOfRange, 0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 4096);

  // Finders as libzint draws them, by letter (the first, third, ... pair's reading order).
  const std::vector<std::string> letters = {"18411", "36411", "34611", "32811", "26511", "22911"};
  std::map<int, int> pairsSeen;
  scene::Random rng(2024);
  for (int length = 1; length <= 60; ++length) {
    std::string data = "[10]" + std::string(std::min(length, 20), 'A');
    if (length > 20) data += "[21]" + std::string(std::min(length - 20, 20), 'B');
    if (length > 40) data += "[240]" + std::string(length - 40, 'C');
    scene::Encoded1d code;
    try {
      code = scene::encode1d(Barcode1d::databarExpanded, data, 1);
    } catch (const std::runtime_error&) {
      break;  // past the 22 characters a symbol holds
    }
    const std::vector<double> w = widthsOf(code.bars, 1, 0, 0, rng);
    const int elements = static_cast<int>(w.size()) - 2;  // the guard bar to the last bar
    const int pairs = (elements + 17) / 21;  // the guard, whole pairs (a last one may be 13), the closing
    std::vector<int> drawn;
    for (int p = 0; p < pairs; ++p) {
      std::string five;
      for (int k = 0; k < 5; ++k) five += static_cast<char>('0' + static_cast<int>(w[1 + 1 + 21 * p + 8 + k]));
      if (p % 2 == 1) std::reverse(five.begin(), five.end());
      drawn.push_back(static_cast<int>(std::find(letters.begin(), letters.end(), five) - letters.begin()));
    }
    EXPECT_EQ(drawn, oned::dataBarExpandedFinders(pairs)) << data;
    ++pairsSeen[pairs];
  }
  EXPECT_EQ(pairsSeen.size(), 10u);  // 2 to 11 pairs
  EXPECT_TRUE(oned::dataBarExpandedFinders(1).empty() && oned::dataBarExpandedFinders(12).empty());

  struct Case {
    const char* data;
    std::string text;
  } cases[] = {
      {"[01]00012345678905[10]ABC123", "]e00100012345678905" "10ABC123"},     // any GTIN, then general
      {"[01]90012345678908[3103]001750", "]e00190012345678908" "3103001750"},  // kilograms
      {"[01]90012345678908[3202]004321", "]e00190012345678908" "3202004321"},  // pounds
      {"[01]90012345678908[3203]014321", "]e00190012345678908" "3203014321"},
      {"[01]98898765432106[3202]012345[15]991231", "]e00198898765432106" "3202012345" "15991231"},
      {"[01]98898765432106[3103]001234[11]991231", "]e00198898765432106" "3103001234" "11991231"},
      {"[01]98898765432106[3100]012345", "]e00198898765432106" "3100012345"},
      {"[01]90012345678908[3922]795", "]e00190012345678908" "3922795"},        // price
      {"[01]90012345678908[3932]0401234", "]e00190012345678908" "3932" "0401234"},  // currency, price
      {"[10]ABC-123[21]xyz!%", "]e010ABC-123\x1D" "21xyz!%"},                  // no GTIN, FNC1, ISO 646
      {"[21]123[10]456", "]e021123\x1D" "10456"},                               // FNC1 among digits
  };
  for (const Case& k : cases) {
    const scene::Encoded1d code = scene::encode1d(Barcode1d::databarExpanded, k.data, 1);
    const std::vector<double> clean = widthsOf(code.bars, 1, 0, 0, rng);
    const int n = static_cast<int>(clean.size());
    for (bool reversed : {false, true}) {
      std::vector<double> w = clean;
      const double spread = rng.uniform(-0.25, 0.25), module = rng.uniform(1.5, 4);
      for (int i = 1; i + 1 < n; ++i) w[i] += (i % 2 ? spread : -spread) + rng.uniform(-0.12, 0.12);
      for (double& x : w) x *= module;
      if (reversed) std::reverse(w.begin(), w.end());
      const std::vector<oned::Read> reads = oned::readLine(w);
      ASSERT_EQ(reads.size(), 1u) << k.data;
      EXPECT_EQ(std::tuple(reads[0].text, reads[0].identifier, reads[0].symbology, reads[0].reversed),
                std::tuple(k.text, std::string("]e0"), oned::Symbology::databarExpanded, reversed))
          << k.data;
    }
    auto readsOnly = [&](const std::vector<double>& w, const char* what) {
      for (const oned::Read& r : oned::readLine(w)) EXPECT_EQ(r.text, k.text) << k.data << " " << what;
      return oned::readLine(w).empty() ? 1 : 0;
    };
    // A module moved between two elements of the second character (pair 0's right one).
    int refused = 0;
    for (int at = 1 + 13; at + 1 <= 1 + 20; ++at) {
      std::vector<double> w = clean;
      if (w[at + 1] < 2) continue;
      w[at] += 1;
      w[at + 1] -= 1;
      refused += readsOnly(w, "traded module");
    }
    EXPECT_GT(refused, 0) << k.data;
    // The second pair's finder (mirrored) turned into another letter.
    std::vector<double> otherFinder = clean;
    const int f = 1 + 21 + 8;
    const std::string other = clean[f + 3] == 8 ? "36411" : "18411";
    for (int e = 0; e < 5; ++e) otherFinder[f + 4 - e] = other[e] - '0';
    refused = readsOnly(otherFinder, "other finder");
    EXPECT_EQ(refused, 1) << k.data;
    // The last two characters (or one) turned into quiet zone.
    std::vector<double> cut(clean.begin(), clean.end() - 17);
    cut.back() = 10;
    EXPECT_EQ(readsOnly(cut, "cut"), 1) << k.data;
  }
}

// The whole-table match against the single-pattern distance the readers screen starts with: the
// match is the pattern at the least distance, its margin from the two least distances, whatever
// the widths (exact, spread, jittered, junk), so the match's early stop loses nothing.
TEST(OnedRead, TableMatchAgreesWithSinglePatternDistances) {
  static const char* const kPatterns[] = {"212222", "222122", "222221", "121223", "121322", "131222",
                                          "211412", "211214", "211232", "111323", "311141", "141122"};
  const oned::PatternTable table{kPatterns, 12, 6, 11};
  scene::Random rng(99);
  struct Case {
    double spread, jitter;
    bool junk;
  } cases[] = {{0, 0, false}, {0.3, 0, false}, {-0.3, 0.1, false}, {0, 0.4, false}, {0, 0, true}};
  for (const Case& c : cases)
    for (int trial = 0; trial < 200; ++trial) {
      std::vector<double> w{5};
      const char* p = kPatterns[rng.uniformInt(0, 11)];
      for (int k = 0; k < 6; ++k)
        w.push_back(c.junk ? rng.uniform(0.5, 5) : (p[k] - '0' + (k % 2 ? -c.spread : c.spread) + rng.uniform(-c.jitter, c.jitter)) * 2);
      w.push_back(5);
      double best = 1e9, second = 1e9;
      int index = -1;
      for (int q = 0; q < 12; ++q) {
        const double e = oned::patternError(w, 1, table, q);
        if (e < best) {
          second = best;
          best = e;
          index = q;
        } else {
          second = std::min(second, e);
        }
      }
      const oned::Match m = oned::matchPattern(w, 1, table, 1e9, 0);
      EXPECT_EQ(m.index, index);
      EXPECT_DOUBLE_EQ(m.error, best);
      EXPECT_NEAR(m.margin, (second - best) / (second + best), 1e-12);
      if (!c.junk && c.jitter == 0 && c.spread == 0) {
        EXPECT_EQ(kPatterns[m.index], std::string(p));
      }
    }
  EXPECT_EQ(oned::patternError({5, 1, 1, 5}, 1, table, 0), 1e9);   // too few widths
  EXPECT_EQ(oned::patternError({5, 2, 1, 2, 2, 2, 2, 5}, 1, table, 12), 1e9);  // no such pattern
}

// Symbols at the edge of what the readers accept, where a start is screened before its
// characters are: Codabar's four starts and stops and Code 39's at just above the least
// wide/narrow ratio (wide elements `ratio` narrows, bars spread by `spread`), EAN/UPC with just
// the 3 modules of light before the start guard (`quiet`) and spread bars, ITF with narrow spaces
// twice its narrow bars on a module that shrinks along the line (`shrink`, a photograph's
// perspective). None may be lost.
TEST(OnedRead, ScreenedStartsReadAtTheReadersLimits) {
  struct Case {
    Barcode1d kind;
    const char* data;
    double ratio, spread, quiet;  // ratio 0: the bars as drawn; quiet 0: 10 modules each side
    bool bothWays;
    double shrink = 0;  // the last element's module is 1 - shrink of the first's
  } cases[] = {
      {Barcode1d::itf, "30712345000010", 3, -0.35, 0, true, 0.6}, {Barcode1d::itf, "123456", 2.5, 0.3, 0, true, 0.5},
      {Barcode1d::codabar, "A0123A", 1.52, 0, 0, true},  {Barcode1d::codabar, "B4567B", 1.52, 0, 0, true},
      {Barcode1d::codabar, "C89-$C", 1.52, 0, 0, true},  {Barcode1d::codabar, "D:/.+D", 1.52, 0, 0, true},
      {Barcode1d::codabar, "A0123D", 2.5, 0.2, 0, true}, {Barcode1d::codabar, "C89-$B", 3, -0.25, 0, true},
      {Barcode1d::code39, "AB-12", 1.35, 0, 0, true},    {Barcode1d::code39, "Z. $/+%", 2.5, 0.25, 0, true},
      {Barcode1d::ean13, "590123412345", 0, 0.4, 3.05, true}, {Barcode1d::upca, "03600029145", 0, -0.3, 3.05, true},
      {Barcode1d::ean8, "9638507", 0, 0.4, 3.05, true},  {Barcode1d::upce, "0123456", 0, 0.4, 3.05, false},
  };
  scene::Random rng(1);
  for (const Case& c : cases) {
    const scene::Encoded1d code = scene::encode1d(c.kind, c.data, 1);
    std::vector<double> w = widthsOf(code.bars, 1, c.ratio > 0 ? 0 : c.spread, 0, rng);
    for (size_t i = 1; c.ratio > 0 && i + 1 < w.size(); ++i) w[i] = (w[i] > 1.5 ? c.ratio : 1) + (i % 2 ? c.spread : -c.spread);
    for (size_t i = 1; i + 1 < w.size(); ++i) w[i] *= 1 - c.shrink * static_cast<double>(i) / w.size();
    if (c.quiet > 0) w.front() = c.quiet;
    if (c.quiet > 0 && c.bothWays) w.back() = c.quiet;
    for (bool reversed : {false, true}) {
      if (reversed && !c.bothWays) continue;
      std::vector<double> line = w;
      if (reversed) std::reverse(line.begin(), line.end());
      const std::vector<oned::Read> reads = oned::readLine(line);
      ASSERT_EQ(reads.size(), 1u) << c.data << " reversed " << reversed;
      EXPECT_EQ(reads[0].text, code.text) << c.data;
    }
  }
}

// The screens readers weigh before a whole table: the error terms all patterns share never pass
// any pattern's own error (so a place they turn away matches nothing), and a few patterns
// checked against a bound agree with their whole errors; on exact, spread, jittered and junk
// widths, for tables whose patterns share their ends, their middle or nothing.
TEST(OnedRead, PatternScreensNeverExceedTheWholeError) {
  static const char* const kEndsAlike[] = {"38211", "35511", "27411", "15711", "18411"};
  static const char* const kMiddleAlike[] = {"31213", "21312", "11211"};
  static const char* const kNoneAlike[] = {"21212", "12121"};
  const oned::PatternTable tables[] = {{kEndsAlike, 5, 5, 15}, {kMiddleAlike, 3, 5, 10}, {kNoneAlike, 2, 5, 8}};
  const double kinds[][3] = {{0, 0, 0}, {0.3, 0, 0}, {-0.2, 0.3, 0}, {0, 0.8, 0}, {0, 0, 1}};  // spread, jitter, junk
  scene::Random rng(5);
  for (const oned::PatternTable& t : tables) {
    const oned::SharedTerms shared = oned::sharedTerms(t);
    for (const auto& [spread, jitter, junk] : kinds)
      for (int trial = 0; trial < 300; ++trial) {
        std::vector<double> w{5};
        const char* p = t.patterns[rng.uniformInt(0, t.count - 1)];
        for (int e = 0; e < 5; ++e)
          w.push_back(junk > 0 ? rng.uniform(0.3, 6) : std::max(0.1, p[e] - '0' + (e % 2 ? -spread : spread) + rng.uniform(-jitter, jitter)));
        w.push_back(5);
        const double floor = oned::sharedError(w.data(), static_cast<int>(w.size()), 1, t, shared);
        for (int q = 0; q < t.count; ++q) EXPECT_LE(floor, oned::patternError(w, 1, t, q)) << p << " pattern " << q;
        EXPECT_TRUE(t.patterns != kNoneAlike || floor == 0) << floor;
        const double first = oned::patternError(w, 1, t, 0), last = oned::patternError(w, 1, t, t.count - 1);
        for (double bound : {0.3, 1.2, 3.0})
          EXPECT_EQ(oned::anyPatternWithin(w, 1, t, {0, t.count - 1, t.count}, bound), std::min(first, last) <= bound);
      }
  }
  // Nothing to scale: no screen turns the place away, and no pattern is within any bound.
  EXPECT_EQ(oned::sharedError(std::vector<double>{5, 1, 1}.data(), 3, 1, tables[0], oned::sharedTerms(tables[0])), 0);
  EXPECT_FALSE(oned::anyPatternWithin({5, 1, 1, 5}, 1, tables[0], {0}, 1e9));
}

}  // namespace
