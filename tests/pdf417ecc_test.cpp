// PDF417 codewords and their error correction: the pattern table (every word of every cluster a
// valid 17-module pattern, all distinct, found again from its pattern and from its edge
// distances, and every word of libzint's symbols read through it giving codewords whose
// syndromes vanish), check words equal to libzint's, and damaged codewords repaired up to the
// level's capacity and refused beyond it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "reader/pdf417/pdfecc.hpp"
#include "reader/pdf417/pdftables.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

std::array<int, 8> widthsOf(uint32_t pattern) {
  std::array<int, 8> w{};
  int element = 0;
  for (int bit = 16; bit >= 0; --bit) {
    const bool bar = ((pattern >> bit) & 1) != 0;
    if (bar != (element % 2 == 0)) ++element;
    if (element > 7) return {};
    ++w[element];
  }
  return w;
}

TEST(Pdf417Ecc, PatternTableIsConsistent) {
  for (int k = 0; k < 3; ++k) {
    std::set<uint32_t> seen;
    for (int v = 0; v < pdf417::kWordValues; ++v) {
      const uint32_t p = pdf417::kCodewordPatterns[k][v];
      const std::array<int, 8> w = widthsOf(p);
      SCOPED_TRACE("cluster " + std::to_string(3 * k) + " value " + std::to_string(v));
      ASSERT_EQ(p >> 17, 0u);
      ASSERT_GE(*std::min_element(w.begin(), w.end()), 1);  // four bars and four spaces
      EXPECT_LE(*std::max_element(w.begin(), w.end()), 6);
      EXPECT_EQ(pdf417::clusterOf(w), 3 * k);
      EXPECT_EQ(pdf417::patternOfWidths(w), p);
      EXPECT_TRUE(seen.insert(p).second);
      EXPECT_EQ(pdf417::valueOfPattern(3 * k, p), v);
      std::array<int, 6> e{};
      for (int i = 0; i < 6; ++i) e[i] = w[i] + w[i + 1];
      int cluster = -1;
      EXPECT_EQ(pdf417::valueOfEdges(e, &cluster), v);
      EXPECT_EQ(cluster, 3 * k);
    }
  }
  EXPECT_EQ(pdf417::valueOfPattern(1, pdf417::kCodewordPatterns[0][0]), -1);
  EXPECT_EQ(pdf417::valueOfPattern(3, pdf417::kCodewordPatterns[0][0]), -1);
}

// libzint's symbols read row by row through the table: every word known, syndromes zero, and
// over the symbols every word of every cluster met.
TEST(Pdf417Ecc, TableReadsLibzintSymbols) {
  std::mt19937 rng(5);
  std::set<int> met;
  for (int n = 0; n < 400; ++n) {
    const scene::Pdf417Layout layout{.columns = 1 + static_cast<int>(rng() % 30), .security = static_cast<int>(rng() % 9),
                                     .rowHeight = 1};
    std::string data;
    for (int i = 1 + static_cast<int>(rng() % 200); i > 0; --i) data += static_cast<char>(rng() % 3 ? '0' + rng() % 10 : rng() % 256);
    scene::DmSymbol s;
    try {
      s = scene::encodePdf417(data, layout);
    } catch (const std::exception&) {
      continue;
    }
    const int columns = (s.cols - 69) / 17;  // libzint may widen a symbol it cannot make that narrow
    std::vector<int> words;
    for (int r = 0; r < s.rows; ++r)
      for (int c = 0; c < columns; ++c) {
        uint32_t p = 0;
        for (int m = 0; m < 17; ++m) p = p << 1 | (s.isDark(r, 34 + 17 * c + m) ? 1 : 0);
        const int v = pdf417::valueOfPattern(3 * (r % 3), p);
        ASSERT_GE(v, 0) << "row " << r << " column " << c;
        words.push_back(v);
        met.insert(3 * (r % 3) * 1000 + v);
      }
    EXPECT_TRUE(pdf417::syndromesZero(words, layout.security));
  }
  EXPECT_EQ(met.size(), 3u * 929u);
}

TEST(Pdf417Ecc, CheckWordsMatchLibzint) {
  const struct {
    std::vector<int> data;
    int level;
    std::vector<int> check;
  } cases[] = {
      {{10, 902, 211, 358, 354, 304, 269, 753, 190, 900}, 2, {327, 902, 163, 367, 231, 586, 808, 731}},
      {{16, 901, 65, 66, 49, 50, 900, 928, 111, 101, 123, 456, 923, 1, 111, 103}, 2,
       {84, 519, 604, 20, 557, 225, 641, 417}},
      {{7, 927, 26, 901, 65, 195, 169}, 2, {367, 207, 370, 97, 840, 256, 23, 235}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pdf417::checkWords(c.data, c.level), c.check);
    std::vector<int> all = c.data;
    all.insert(all.end(), c.check.begin(), c.check.end());
    EXPECT_TRUE(pdf417::syndromesZero(all, c.level));
    all[3] = (all[3] + 1) % 929;
    EXPECT_FALSE(pdf417::syndromesZero(all, c.level));
  }
  EXPECT_TRUE(pdf417::checkWords({1, 2}, 9).empty());
  EXPECT_TRUE(pdf417::checkWords(std::vector<int>(900, 1), 8).empty());  // 900 + 512 words
}

// errors e and erasures f: repaired while 2e + f <= k - 2 (two words kept back to detect a wrong
// repair), refused well beyond k.
TEST(Pdf417Ecc, RepairsWithinCapacityRefusesBeyond) {
  std::mt19937 rng(11);
  for (int level = 0; level <= 8; ++level) {
    const int k = pdf417::checkWordCount(level);
    const int dataCount = std::min(400, std::max(4, 900 - k) / 2);
    std::vector<int> data(dataCount);
    for (int& d : data) d = static_cast<int>(rng() % 900);
    data[0] = dataCount;
    std::vector<int> clean = data;
    const std::vector<int> check = pdf417::checkWords(data, level);
    clean.insert(clean.end(), check.begin(), check.end());
    const int n = static_cast<int>(clean.size());
    const struct {
      int errors, erasures;
      bool ok;
    } cases[] = {{0, 0, true},
                 {(k - 2) / 2, 0, true},
                 {0, k - 2, true},
                 {(k - 2) / 4, (k - 2) - 2 * ((k - 2) / 4), true},
                 {k / 2 + 2, 0, false},
                 {k / 2, 2, false},
                 {0, k + 1, false}};
    for (const auto& c : cases) {
      SCOPED_TRACE("level " + std::to_string(level) + ": " + std::to_string(c.errors) + " errors, " +
                   std::to_string(c.erasures) + " erasures");
      std::vector<int> positions(n);
      for (int i = 0; i < n; ++i) positions[i] = i;
      std::shuffle(positions.begin(), positions.end(), rng);
      std::vector<int> words = clean, erased;
      for (int i = 0; i < c.errors; ++i) words[positions[i]] = (words[positions[i]] + 1 + static_cast<int>(rng() % 928)) % 929;
      for (int i = 0; i < c.erasures; ++i) {
        erased.push_back(positions[c.errors + i]);
        words[positions[c.errors + i]] = static_cast<int>(rng() % 929);
      }
      const std::vector<int> before = words;
      const pdf417::Correction fix = pdf417::correct(words, level, erased);
      EXPECT_EQ(fix.ok, c.ok) << fix.error;
      if (fix.ok) {
        EXPECT_EQ(words, clean);
        EXPECT_EQ(fix.erasures, c.erasures);
        EXPECT_GE(fix.corrected, c.errors);
        EXPECT_LE(fix.corrected, c.errors + c.erasures);
      } else {
        EXPECT_EQ(words, before);  // a refused repair changes nothing
        EXPECT_FALSE(fix.error.empty());
      }
    }
  }
}

// Words that already form a codeword: taken as they are when nothing is erased and every word is
// a field element; a word listed as erased is still counted as repaired, and a word written
// outside the field (a negative number of the right residue) is never passed on as it is: it is
// repaired to the element, or the repair is refused and the words left alone.
TEST(Pdf417Ecc, CodewordAsReadNeedsNoRepairUnlessErasedOrOutsideTheField) {
  for (int level : {1, 2, 4}) {
    std::vector<int> data{6, 41, 900, 17, 0, 928};
    const std::vector<int> check = pdf417::checkWords(data, level);
    std::vector<int> codeword = data;
    codeword.insert(codeword.end(), check.begin(), check.end());
    const int last = static_cast<int>(codeword.size()) - 1;
    const struct {
      const char* what;
      int outside;  // index of the word written outside the field (-1: none)
      int erased;   // index listed as erased (-1: none)
      int corrected, erasures;
    } cases[] = {{"as read", -1, -1, 0, 0},
                 {"a correct word listed as erased", -1, 3, 1, 1},
                 {"the last check word below the field", last, -1, 1, 0},
                 {"a data word below the field", 2, -1, 1, 0}};
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", level " + std::to_string(level));
      std::vector<int> words = codeword;
      if (c.outside >= 0) words[c.outside] -= 929;
      const std::vector<int> before = words;
      std::vector<int> erased;
      if (c.erased >= 0) erased.push_back(c.erased);
      const pdf417::Correction fix = pdf417::correct(words, level, erased);
      if (c.outside >= 0 && !fix.ok) {
        EXPECT_EQ(words, before);
        continue;
      }
      ASSERT_TRUE(fix.ok) << fix.error;
      EXPECT_EQ(words, codeword);
      EXPECT_EQ(fix.corrected, c.corrected);
      EXPECT_EQ(fix.erasures, c.erasures);
    }
  }
}

}  // namespace
