// Reed-Solomon codecs. The oracles are independent of the codec's tables: GF(2^m) products are
// carry-less multiplications reduced by the field polynomial, GF(929) is plain modular
// arithmetic, generator polynomials are multiplied out here, and a codeword is checked by
// evaluating it at the generator's roots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "ci_id/reedsolomon.h"
#include "support/assert_recorder.hpp"

namespace {

using Words = std::vector<uint32_t>;
constexpr uint32_t kErased = 0x80000000u;

// ---- GF(2^m) by shift and reduce --------------------------------------------------------------

struct Gf2 {
  int m;
  uint32_t poly;
  uint32_t mul(uint32_t a, uint32_t b) const {
    uint32_t r = 0;
    for (; b != 0; b >>= 1) {
      if (b & 1) r ^= a;
      a <<= 1;
      if (a >> m) a ^= poly;
    }
    return r;
  }
  uint32_t pow2(int e) const {
    uint32_t r = 1;
    for (int i = 0; i < e; ++i) r = mul(r, 2);
    return r;
  }
  // c(alpha^j), index i of c holding the coefficient of x^i.
  uint32_t eval(const Words& c, uint32_t x) const {
    uint32_t v = 0;
    for (size_t i = c.size(); i-- > 0;) v = mul(v, x) ^ c[i];
    return v;
  }
  bool isCodeword(const Words& c, int k) const {
    for (int j = 1; j <= k; ++j)
      if (eval(c, pow2(j)) != 0) return false;
    return true;
  }
};

class Code {
 public:
  Code(int m, uint32_t poly, int k) : field{m, poly} {
    EXPECT_EQ(cid2d_ReedSolomonCode_construct(&rs, m, k, poly, 2), 0);
  }
  ~Code() { cid2d_ReedSolomonCode_destruct(&rs); }
  Code(const Code&) = delete;
  Code& operator=(const Code&) = delete;

  int n() const { return rs.fieldMax; }
  int k() const { return rs.eccCount; }
  // ecc words followed by the data words.
  Words encode(const Words& data) const {
    Words ecc(k());
    EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&rs, data.data(), (int32_t)data.size(), ecc.data(), k()), 0);
    ecc.insert(ecc.end(), data.begin(), data.end());
    return ecc;
  }
  int32_t correct(Words& c) {
    int32_t corrected = -7;
    EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&rs, c.data(), (int32_t)c.size(), &corrected), 0);
    return corrected;
  }

  Gf2 field;
  cid2d_ReedSolomonCode rs{};
};

Words randomWords(std::mt19937& rng, size_t count, uint32_t max) {
  Words w(count);
  for (auto& v : w) v = std::uniform_int_distribution<uint32_t>(0, max)(rng);
  return w;
}

// Damages `count` distinct positions of c: the first `errors` get a nonzero error added, the
// rest are marked erased (with random low bits, sometimes the all-ones word).
void damage(std::mt19937& rng, Words& c, int errors, int erasures, uint32_t n) {
  std::vector<uint32_t> pos(c.size());
  for (uint32_t i = 0; i < pos.size(); ++i) pos[i] = i;
  std::shuffle(pos.begin(), pos.end(), rng);
  for (int i = 0; i < errors; ++i) c[pos[i]] ^= std::uniform_int_distribution<uint32_t>(1, n)(rng);
  for (int i = errors; i < errors + erasures; ++i)
    c[pos[i]] = (rng() & 1) ? 0xFFFFFFFFu : kErased | (rng() & 0xFFFF);
}

}  // namespace

TEST(ReedSolomon, DataMatrixPublishedExample) {
  // Data 142, 164, 186 (first word highest power) give 114, 25, 5, 88, 102.
  Code code(8, 0x12D, 5);
  const Words c = code.encode({186, 164, 142});
  EXPECT_EQ(c, (Words{102, 88, 5, 25, 114, 186, 164, 142}));
}

TEST(ReedSolomon, DataMatrixBlockSizesGiveCodewords) {
  std::mt19937 rng(11);
  // (data, ecc) per block, from the square and rectangular symbols up to the interleaved
  // 96x96 to 144x144 blocks.
  const int sizes[][2] = {{3, 5},    {5, 7},    {8, 10},   {12, 12},  {18, 14},  {22, 18},  {30, 20},
                          {36, 24},  {44, 28},  {62, 36},  {86, 42},  {102, 42}, {114, 48}, {140, 56},
                          {144, 56}, {174, 68}, {175, 68}, {163, 62}, {156, 62}, {155, 62}, {10, 11}};
  for (const auto& [dataCount, eccCount] : sizes) {
    Code code(8, 0x12D, eccCount);
    // Generator multiplied out independently: prod (x + alpha^i), i = 1..k.
    Words g{1};
    for (int i = 1; i <= eccCount; ++i) {
      Words next(g.size() + 1, 0);
      for (size_t j = 0; j < g.size(); ++j) {
        next[j + 1] ^= g[j];
        next[j] ^= code.field.mul(g[j], code.field.pow2(i));
      }
      g = next;
    }
    EXPECT_EQ(Words(code.rs.generator, code.rs.generator + eccCount + 1), g) << eccCount;
    for (int trial = 0; trial < 5; ++trial) {
      const Words data = randomWords(rng, dataCount, 255);
      const Words c = code.encode(data);
      EXPECT_TRUE(code.field.isCodeword(c, eccCount)) << dataCount << "/" << eccCount;
      EXPECT_TRUE(std::equal(data.begin(), data.end(), c.begin() + eccCount));
    }
  }
}

TEST(ReedSolomon, CorrectsEveryPatternWithinReachOnSmallFields) {
  // Every placement of e errors (every nonzero value) and s erasures with 2e + s <= k.
  std::mt19937 rng(5);
  for (const auto& [m, poly] : {std::pair{3, 0xBu}, std::pair{4, 0x13u}}) {
    Code code(m, poly, 4);
    const uint32_t n = code.n();
    for (int trial = 0; trial < 2; ++trial) {
      const Words good = code.encode(randomWords(rng, n - 4, n));
      Words received = good;
      long cases = 0;
      std::function<void(size_t, int, int)> walk = [&](size_t at, int e, int s) {
        if (at == good.size()) {
          Words c = received;
          ++cases;
          ASSERT_EQ(code.correct(c), e + s);
          ASSERT_EQ(c, good);
          return;
        }
        walk(at + 1, e, s);
        if (2 * e + s + 1 <= 4) {
          received[at] = kErased | at;
          walk(at + 1, e, s + 1);
        }
        if (2 * e + s + 2 <= 4) {
          for (uint32_t v = 1; v <= n; ++v) {
            received[at] = good[at] ^ v;
            walk(at + 1, e + 1, s);
          }
        }
        received[at] = good[at];
      };
      walk(0, 0, 0);
      EXPECT_GT(cases, m == 3 ? 2000 : 49000);
    }
  }
}

TEST(ReedSolomon, CorrectsRandomErrorsAndErasures) {
  std::mt19937 rng(17);
  struct Case {
    int m;
    uint32_t poly;
    int k;
  };
  for (const Case& cs : {Case{4, 0x13, 6}, Case{5, 0x25, 9}, Case{6, 0x43, 10}, Case{7, 0x89, 16}, Case{8, 0x12D, 20},
                         Case{8, 0x11D, 68}, Case{10, 0x409, 30}, Case{12, 0x1053, 40}, Case{16, 0x1100B, 24}}) {
    Code code(cs.m, cs.poly, cs.k);
    const uint32_t n = code.n();
    const int maxLength = std::min<int>(n, 600);
    for (int trial = 0; trial < 300; ++trial) {
      const int length = std::uniform_int_distribution<int>(cs.k + 1, maxLength)(rng);
      const Words good = code.encode(randomWords(rng, length - cs.k, n));
      const int e = std::uniform_int_distribution<int>(0, cs.k / 2)(rng);
      const int s = std::uniform_int_distribution<int>(0, std::min(cs.k - 2 * e, length - e))(rng);
      Words c = good;
      damage(rng, c, e, s, n);
      ASSERT_EQ(code.correct(c), e + s) << "m " << cs.m << " k " << cs.k << " length " << length;
      ASSERT_EQ(c, good);
      // Every erasure is recorded, in increasing order.
      for (int i = 1; i < s; ++i) EXPECT_LT(code.rs.erasurePositions[i - 1], code.rs.erasurePositions[i]);
    }
  }
}

TEST(ReedSolomon, ErasureLimits) {
  std::mt19937 rng(3);
  Code code(8, 0x12D, 10);
  const Words good = code.encode(randomWords(rng, 30, 255));

  // Exactly k erasures: all filled.
  Words c = good;
  damage(rng, c, 0, 10, 255);
  EXPECT_EQ(code.correct(c), 10);
  EXPECT_EQ(c, good);

  // k + 1 erasures: refused; the first k erased words are zeroed, the last keeps its mark, the
  // rest is untouched.
  c = good;
  for (int i = 0; i <= 10; ++i) c[3 * i] = kErased;
  EXPECT_EQ(code.correct(c), -1);
  for (int i = 0; i < 40; ++i) {
    const uint32_t expected = i % 3 == 0 && i < 30 ? 0u : i == 30 ? kErased : good[i];
    EXPECT_EQ(c[i], expected) << i;
  }

  // Erasures over words that really are 0: the syndromes vanish once they are zeroed.
  Words data = randomWords(rng, 30, 255);
  data[2] = data[15] = data[29] = 0;
  const Words withZeroes = code.encode(data);
  c = withZeroes;
  c[12] = c[25] = c[39] = kErased;
  EXPECT_EQ(code.correct(c), 3);
  EXPECT_EQ(c, withZeroes);

  // An error just past the end of a shortened codeword (the codeword without its top word)
  // gives a locator whose root lies outside: refused, nothing changed.
  c = Words(good.begin(), good.end() - 1);
  ASSERT_NE(good.back(), 0u);
  const Words shortened = c;
  EXPECT_EQ(code.correct(c), -1);
  EXPECT_EQ(c, shortened);

  // A clean codeword is left alone.
  c = good;
  EXPECT_EQ(code.correct(c), 0);
  EXPECT_EQ(c, good);
}

TEST(ReedSolomon, BeyondReachNeverReportsANonCodeword) {
  // Too many errors for the code, and words that are no codeword at all: a repair must always
  // give a codeword, a refusal must change nothing but the erased words.
  std::mt19937 rng(23);
  int refused = 0, repairedRandom = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const bool random = trial % 2 == 1;
    Code code(random ? 4 : 8, random ? 0x13 : 0x12D, random ? 6 : 12);
    const uint32_t n = code.n();
    const int length = random ? std::uniform_int_distribution<int>(7, 15)(rng) : 72;
    Words c = random ? randomWords(rng, length, n) : code.encode(randomWords(rng, length - 12, n));
    const Words sent = c;
    if (random) {
      damage(rng, c, 0, rng() % 3, n);
    } else {
      damage(rng, c, 7 + trial % 6, trial % 3, n);
    }
    Words zeroed = c;
    for (auto& v : zeroed)
      if (v & kErased) v = 0;
    const int32_t corrected = code.correct(c);
    if (corrected < 0) {
      refused += random ? 0 : 1;
      ASSERT_EQ(c, zeroed);
    } else {
      repairedRandom += random ? 1 : 0;
      ASSERT_TRUE(code.field.isCodeword(c, code.k()));
      if (!random) {
        EXPECT_NE(c, sent);
      }
    }
  }
  EXPECT_GT(refused, 1300);
  EXPECT_GT(repairedRandom, 50);
}

TEST(ReedSolomon, RejectsOutOfRangeArguments) {
  cid2d_ReedSolomonCode rs;
  for (auto [bits, k, poly, gen] : {std::tuple{1, 1, 0x3u, 2u}, std::tuple{17, 4, 0x2002Du, 2u},
                                    std::tuple{8, 0, 0x12Du, 2u}, std::tuple{8, 255, 0x12Du, 2u},
                                    std::tuple{8, 4, 0x2Du, 2u}, std::tuple{8, 4, 0x22Du, 2u},
                                    std::tuple{8, 4, 0x12Du, 3u}, std::tuple{8, 4, 0x11Bu, 2u} /* not primitive */}) {
    LiveBlocks live;
    std::memset(&rs, 0x5A, sizeof(rs));
    EXPECT_EQ(cid2d_ReedSolomonCode_construct(&rs, bits, k, poly, gen), cidut_errOutOfRange) << bits << " " << poly;
    EXPECT_EQ(rs.antilog, nullptr);
    EXPECT_EQ(rs.bits, 0);
    EXPECT_EQ(live.leaked(), 0);
  }
  EXPECT_EQ(cid2d_ReedSolomonCode_destruct(nullptr), 0);

  Code code(4, 0x13, 4);  // n = 15, at most 11 data words
  Words data(12, 1), ecc(4, 77);
  EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&code.rs, data.data(), 11, ecc.data(), 4), 0);
  EXPECT_TRUE(code.field.isCodeword([&] { Words c = ecc; c.insert(c.end(), data.begin(), data.end() - 1); return c; }(), 4));
  ecc.assign(4, 77);
  EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&code.rs, data.data(), 12, ecc.data(), 4), cidut_errOutOfRange);
  EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&code.rs, data.data(), -1, ecc.data(), 4), cidut_errOutOfRange);
  EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&code.rs, data.data(), 5, ecc.data(), 3), cidut_errOutOfRange);
  data[2] = 16;
  EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&code.rs, data.data(), 5, ecc.data(), 4), cidut_errOutOfRange);
  EXPECT_EQ(ecc, Words(4, 77));

  Words c(16, 0);
  int32_t corrected = 9;
  EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&code.rs, c.data(), 16, &corrected), cidut_errOutOfRange);
  c.assign(15, 0);
  c[3] = kErased;
  c[4] = 16;
  EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&code.rs, c.data(), 15, &corrected), cidut_errOutOfRange);
  EXPECT_EQ(c[3], kErased);
  EXPECT_EQ(corrected, 9);

  AssertRecorder asserts;
  EXPECT_EQ(cid2d_ReedSolomonCode_construct(nullptr, 8, 4, 0x12D, 2), csys_errAssertion);
  EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&code.rs, nullptr, 1, ecc.data(), 4), csys_errAssertion);
  EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&code.rs, c.data(), 15, nullptr), csys_errAssertion);
  cid2d_ReedSolomonCode empty{};
  EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&empty, c.data(), 1, &corrected), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 4u);
}

TEST(ReedSolomon, AllocationFailuresLeaveNothingBehind) {
  for (uint64_t nth = 1; nth <= 5; ++nth) {
    LiveBlocks live;
    cid2d_ReedSolomonCode rs;
    {
      FailAllocation fail(nth);
      EXPECT_EQ(cid2d_ReedSolomonCode_construct(&rs, 8, 10, 0x12D, 2), csys_errNoMemory) << nth;
    }
    EXPECT_EQ(rs.antilog, nullptr);
    EXPECT_EQ(rs.erasurePositions, nullptr);
    EXPECT_EQ(live.leaked(), 0);
  }
  LiveBlocks live;
  {
    Code code(8, 0x12D, 10);
    Words c = code.encode(Words(20, 9));
    const Words good = c;
    c[1] = kErased;
    c[7] ^= 1;
    const Words received = c;
    int32_t corrected = 5;
    {
      FailAllocation fail(1);
      EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&code.rs, c.data(), 30, &corrected), csys_errNoMemory);
    }
    EXPECT_EQ(c, received);
    EXPECT_EQ(corrected, 5);
    EXPECT_EQ(code.correct(c), 2);
    EXPECT_EQ(c, good);
  }
  EXPECT_EQ(live.leaked(), 0);
}

// ---- GF(929) ---------------------------------------------------------------------------------

namespace {

constexpr uint32_t P = 929;

uint32_t powmod(uint32_t a, uint32_t e) {
  uint64_t r = 1, b = a % P;
  for (; e != 0; e >>= 1, b = b * b % P)
    if (e & 1) r = r * b % P;
  return static_cast<uint32_t>(r);
}

// codewords[0] is the highest power: data words first, then the error-correction words, chosen
// so that the whole vanishes at 3^1 ... 3^k.
Words encode929(const Words& data, int k) {
  // g(x) = prod (x - 3^i), highest power first.
  Words g{1};
  for (int i = 1; i <= k; ++i) {
    const uint32_t root = powmod(3, i);
    Words next(g.size() + 1, 0);
    for (size_t j = 0; j < g.size(); ++j) {
      next[j] = (next[j] + g[j]) % P;
      next[j + 1] = (next[j + 1] + P - g[j] * root % P) % P;
    }
    g = next;
  }
  // Remainder of data(x) * x^k by g (g is monic), by long division.
  Words rem(data);
  rem.resize(data.size() + k, 0);
  for (size_t i = 0; i < data.size(); ++i) {
    const uint32_t q = rem[i];
    for (int j = 0; j <= k; ++j) rem[i + j] = (rem[i + j] + P - q * g[j] % P) % P;
  }
  Words c(data);
  for (int j = 0; j < k; ++j) c.push_back((P - rem[data.size() + j]) % P);
  return c;
}

bool vanishesAtRoots(const Words& c, int k) {
  for (int j = 1; j <= k; ++j) {
    const uint32_t x = powmod(3, j);
    uint32_t v = 0;
    for (uint32_t w : c) v = (v * x + w) % P;
    if (v != 0) return false;
  }
  return true;
}

struct Outcome {
  int32_t errors;
  int32_t flag;
};

Outcome correct929(Words& c, int k, const std::vector<int32_t>& erasures) {
  Outcome o{-7, -7};
  EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), (int32_t)c.size(), k, (int32_t)erasures.size(),
                                        erasures.empty() ? nullptr : erasures.data(), &o.errors, &o.flag),
            0);
  return o;
}

// e errors and s erasures at distinct random positions; returns the erasure exponents.
std::vector<int32_t> damage929(std::mt19937& rng, Words& c, int e, int s) {
  std::vector<int32_t> pos(c.size());
  for (size_t i = 0; i < pos.size(); ++i) pos[i] = (int32_t)i;
  std::shuffle(pos.begin(), pos.end(), rng);
  std::vector<int32_t> erasures;
  for (int i = 0; i < e; ++i) c[pos[i]] = (c[pos[i]] + std::uniform_int_distribution<uint32_t>(1, 928)(rng)) % P;
  for (int i = e; i < e + s; ++i) {
    c[pos[i]] = rng() % P;  // an erased word may hold anything
    erasures.push_back((int32_t)c.size() - pos[i]);
  }
  return erasures;
}

}  // namespace

TEST(ReedSolomon929, CorrectsErrorsAndErasuresWithinReach) {
  std::mt19937 rng(29);
  // Many short codewords for the small codes: a zero discrepancy, which steers the locator
  // search down its rarer branch, comes about once in 929 steps.
  for (int k : {2, 4, 7, 8, 16, 32, 64, 512}) {
    for (int trial = 0; trial < (k <= 16 ? 1500 : k == 512 ? 4 : 60); ++trial) {
      const int dataCount = std::uniform_int_distribution<int>(1, k <= 16 ? 40 : std::min(300, 928 - k))(rng);
      const Words good = encode929(randomWords(rng, dataCount, 928), k);
      ASSERT_TRUE(vanishesAtRoots(good, k));
      Words c = good;
      if (trial == 0) {
        const Outcome clean = correct929(c, k, {});
        EXPECT_EQ(clean.errors, 0);
        EXPECT_EQ(clean.flag, 1);
        EXPECT_EQ(c, good);
        continue;
      }
      const int e = std::uniform_int_distribution<int>(0, (k - 2) / 2)(rng);
      const int s = std::uniform_int_distribution<int>(0, k - 2 - 2 * e)(rng);
      const auto erasures = damage929(rng, c, e, s);
      const Outcome o = correct929(c, k, erasures);
      ASSERT_EQ(o.flag, 1) << "k " << k << " e " << e << " s " << s;
      EXPECT_EQ(o.errors, e + s);
      ASSERT_EQ(c, good);
    }
  }
}

TEST(ReedSolomon929, KeepsTwoWordsBackForDetection) {
  std::mt19937 rng(31);
  // 2e + s = k - 1: the locator is found (errors = e + s) but the codeword is not corrected.
  for (auto [k, s] : {std::pair{7, 0}, std::pair{9, 0}, std::pair{8, 1}, std::pair{16, 3}}) {
    const int e = (k - 1 - s) / 2;
    for (int trial = 0; trial < 20; ++trial) {
      const Words good = encode929(randomWords(rng, 40, 928), k);
      Words c = good;
      const auto erasures = damage929(rng, c, e, s);
      const Words received = c;
      const Outcome o = correct929(c, k, erasures);
      EXPECT_EQ(o.flag, 0);
      EXPECT_EQ(o.errors, e + s);
      EXPECT_EQ(c, received);
    }
  }
  // Beyond reach: a codeword reported corrected must be one, a refused one is unchanged.
  int refused = 0;
  for (int trial = 0; trial < 1000; ++trial) {
    const Words good = encode929(randomWords(rng, 30, 928), 8);
    Words c = good;
    const auto erasures = damage929(rng, c, 4 + trial % 6, trial % 2);
    const Words received = c;
    const Outcome o = correct929(c, 8, erasures);
    if (o.flag == 1) {
      EXPECT_TRUE(vanishesAtRoots(c, 8));
    } else {
      ++refused;
      EXPECT_EQ(c, received);
    }
  }
  EXPECT_GT(refused, 900);

  // The same codeword without its first (highest) word: a single error whose exponent lies
  // past the end. The locator is found but has no root in the codeword.
  {
    Words full = encode929(Words{700, 2, 3, 4}, 6);
    Words cut(full.begin() + 1, full.end());
    const Words received = cut;
    const Outcome o = correct929(cut, 6, {});
    EXPECT_EQ(o.errors, 1);
    EXPECT_EQ(o.flag, 0);
    EXPECT_EQ(cut, received);
  }
  // Erasure lists the code cannot use: more than k, or exponents outside the codeword.
  Words c = encode929(Words{1, 2, 3}, 4);
  const Words good = c;
  for (const std::vector<int32_t>& bad : {std::vector<int32_t>{1, 2, 3, 4, 5}, std::vector<int32_t>{0},
                                          std::vector<int32_t>{8}}) {
    const Outcome o = correct929(c, 4, bad);
    EXPECT_EQ(o.errors, -1);
    EXPECT_EQ(o.flag, 0);
    EXPECT_EQ(c, good);
  }
}

TEST(ReedSolomon929, FailuresAreReported) {
  Words c = encode929(Words{5, 6, 7}, 6);
  c[1] = 0;
  const Words received = c;
  int32_t errors = 3, flag = 3;
  {
    LiveBlocks live;
    FailAllocation fail(1);
    EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), 9, 6, 0, nullptr, &errors, &flag), csys_errNoMemory);
    EXPECT_EQ(live.leaked(), 0);
  }
  EXPECT_EQ(c, received);
  EXPECT_EQ(errors, 3);
  EXPECT_EQ(flag, 3);

  AssertRecorder asserts;
  EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(nullptr, 9, 6, 0, nullptr, &errors, &flag), csys_errAssertion);
  EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), 9, 6, 1, nullptr, &errors, &flag), csys_errAssertion);
  EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), 9, 513, 0, nullptr, &errors, &flag), csys_errAssertion);
  EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), 929, 6, 0, nullptr, &errors, &flag), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 4u);
}
