// Reed-Solomon codecs. The oracles are independent of the codec's tables: GF(2^m) products are
// carry-less multiplications reduced by the field polynomial, GF(929) is plain modular
// arithmetic, and a codeword is checked by evaluating it at the generator's roots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "ci_id/reedsolomon.h"
#include "support/assert_recorder.hpp"

namespace {

using Words = std::vector<uint32_t>;
using Outcome = std::pair<int32_t, int32_t>;  // GF(929): errors, corrected flag
constexpr uint32_t kErased = 0x80000000u, P = 929;

Words randomWords(std::mt19937& rng, size_t count, uint32_t max) {
  Words w(count);
  for (auto& v : w) v = rng() % (max + 1);
  return w;
}

// Damages e + s distinct random positions: e errors (a nonzero xor, or a nonzero addition mod
// 929 when n is 929), then s erasures (marked, or any value mod 929). Returns the erased indices.
std::vector<int32_t> damage(std::mt19937& rng, Words& c, int e, int s, uint32_t n) {
  std::vector<int32_t> pos(c.size());
  std::iota(pos.begin(), pos.end(), 0);
  std::shuffle(pos.begin(), pos.end(), rng);
  for (int i = 0; i < e + s; ++i) {
    uint32_t& w = c[pos[i]];
    if (i >= e)
      w = n == P ? rng() % P : (rng() & 1) ? 0xFFFFFFFFu : kErased | (rng() & 0xFFFF);
    else
      w = n == P ? (w + 1 + rng() % (P - 1)) % P : w ^ (1 + rng() % n);
  }
  return std::vector<int32_t>(pos.begin() + e, pos.begin() + e + s);
}

// A GF(2^m) code with a shift-and-reduce model of its field.
struct Code {
  Code(int m, uint32_t poly, int k) : m(m), poly(poly) {
    EXPECT_EQ(cid2d_ReedSolomonCode_construct(&rs, m, k, poly, 2), 0);
  }
  ~Code() { cid2d_ReedSolomonCode_destruct(&rs); }
  uint32_t mul(uint32_t a, uint32_t b) const {
    uint32_t r = 0;
    for (; b != 0; b >>= 1, a = (a << 1) >> m ? (a << 1) ^ poly : a << 1)
      if (b & 1) r ^= a;
    return r;
  }
  bool isCodeword(const Words& c) const {  // index i holds the coefficient of x^i
    for (uint32_t j = 1, x = 2, v = 0; j <= (uint32_t)rs.eccCount; ++j, x = mul(x, 2), v = 0) {
      for (size_t i = c.size(); i-- > 0;) v = mul(v, x) ^ c[i];
      if (v != 0) return false;
    }
    return true;
  }
  Words encode(const Words& data) const {  // ecc words, then the data
    Words c(rs.eccCount);
    EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&rs, data.data(), (int32_t)data.size(), c.data(), rs.eccCount), 0);
    c.insert(c.end(), data.begin(), data.end());
    return c;
  }
  int32_t correct(Words& c) {
    int32_t corrected = -7;
    EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&rs, c.data(), (int32_t)c.size(), &corrected), 0);
    return corrected;
  }
  int m;
  uint32_t poly;
  cid2d_ReedSolomonCode rs{};
};

}  // namespace

TEST(ReedSolomon, EncodesDataMatrixBlocks) {
  // Published example: data 142, 164, 186 (first word highest power) give 114, 25, 5, 88, 102.
  EXPECT_EQ(Code(8, 0x12D, 5).encode({186, 164, 142}), (Words{102, 88, 5, 25, 114, 186, 164, 142}));
  std::mt19937 rng(11);
  // (data, ecc) per block, square and rectangular symbols up to the interleaved large ones.
  const int sizes[][2] = {{3, 5},    {5, 7},    {8, 10},   {12, 12},  {18, 14},  {22, 18},  {30, 20},
                          {36, 24},  {44, 28},  {62, 36},  {86, 42},  {102, 42}, {114, 48}, {140, 56},
                          {144, 56}, {174, 68}, {175, 68}, {163, 62}, {156, 62}, {155, 62}, {10, 11}};
  for (const auto& [dataCount, k] : sizes) {
    Code code(8, 0x12D, k);
    // Monic of degree k and vanishing at the k roots: the generator is their product.
    EXPECT_TRUE(code.isCodeword(Words(code.rs.generator, code.rs.generator + k + 1)) && code.rs.generator[k] == 1);
    const Words data = randomWords(rng, dataCount, 255), c = code.encode(data);
    EXPECT_TRUE(code.isCodeword(c) && std::equal(data.begin(), data.end(), c.begin() + k)) << dataCount << "/" << k;
  }
}

TEST(ReedSolomon, CorrectsEveryPatternWithinReachOnSmallFields) {
  // Every placement of e errors (every nonzero value) and s erasures with 2e + s <= 4.
  std::mt19937 rng(5);
  for (const auto& [m, poly] : {std::pair{3, 0xBu}, std::pair{4, 0x13u}}) {
    Code code(m, poly, 4);
    const uint32_t n = code.rs.fieldMax;
    const Words good = code.encode(randomWords(rng, n - 4, n));
    Words received = good;
    long cases = 0;
    std::function<void(size_t, int, int)> walk = [&](size_t at, int e, int s) {
      if (at == good.size()) {
        Words c = received;
        ++cases;
        ASSERT_TRUE(code.correct(c) == e + s && c == good) << "m " << m << " e " << e << " s " << s;
        return;
      }
      walk(at + 1, e, s);
      for (uint32_t v = 0; v <= n && 2 * e + s + (v ? 2 : 1) <= 4; ++v) {  // v = 0 erases
        received[at] = v ? good[at] ^ v : kErased | at;
        walk(at + 1, e + (v != 0), s + (v == 0));
      }
      received[at] = good[at];
    };
    walk(0, 0, 0);
    EXPECT_GT(cases, m == 3 ? 2000 : 49000);
  }
}

TEST(ReedSolomon, RandomDamageIsRepairedOrRefusedHonestly) {
  // Within reach (2e + s <= k) the codeword comes back and the erasures are recorded; beyond
  // it, a repair must be a codeword and a refusal changes nothing but the erased words (zeroed).
  std::mt19937 rng(17);
  int beyond = 0, refused = 0;
  for (const auto& [m, poly, k] : {std::tuple{5, 0x25u, 9}, std::tuple{7, 0x89u, 16}, std::tuple{8, 0x11Du, 68},
                                   std::tuple{12, 0x1053u, 40}, std::tuple{16, 0x1100Bu, 24}}) {
    Code code(m, poly, k);
    const int n = code.rs.fieldMax, maxLength = std::min(n, 600);
    for (int trial = 0; trial < 400; ++trial) {
      const bool within = trial % 4 != 3;
      const int length = std::uniform_int_distribution<int>(within ? k + 1 : std::min(k + 8, n), maxLength)(rng);
      const Words good = code.encode(randomWords(rng, length - k, n));
      const int e = within ? std::uniform_int_distribution<int>(0, k / 2)(rng) : k / 2 + 1 + trial % 3;
      const int s = within ? std::uniform_int_distribution<int>(0, std::min(k - 2 * e, length - e))(rng) : trial % 3;
      Words c = good;
      std::vector<int32_t> erased = damage(rng, c, e, s, n);
      Words zeroed = c;
      for (auto& v : zeroed) v = v & kErased ? 0 : v;
      const int32_t corrected = code.correct(c);
      std::sort(erased.begin(), erased.end());
      if (within) {
        ASSERT_EQ(corrected, e + s) << "m " << m << " k " << k << " length " << length;
        ASSERT_EQ(c, good);
        EXPECT_TRUE(std::equal(erased.begin(), erased.end(), code.rs.erasurePositions));
      } else {
        // A refusal may come after some magnitudes were applied: at most k words then differ
        // from what was received, and the erased ones are 0.
        int changed = 0;
        for (size_t i = 0; i < c.size(); ++i) changed += c[i] != zeroed[i];
        ASSERT_TRUE(corrected < 0 ? changed <= k : code.isCodeword(c)) << "m " << m << " k " << k;
        refused += corrected < 0;
        ++beyond;
      }
    }
  }
  EXPECT_GT(refused, beyond / 2);
}

TEST(ReedSolomon, RefusesTooManyErasuresBadArgumentsAndAllocationFailure) {
  // k + 1 erasures: the first k erased words are zeroed, the last keeps its mark.
  std::mt19937 rng(3);
  Code big(8, 0x12D, 10);
  const Words good = big.encode(randomWords(rng, 30, 255));
  Words damaged = good;
  for (int i = 0; i <= 10; ++i) damaged[3 * i] = kErased;
  EXPECT_EQ(big.correct(damaged), -1);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(damaged[i], i % 3 == 0 && i < 30 ? 0u : i == 30 ? kErased : good[i]) << i;

  // A polynomial that is not primitive (0x11B), then each allocation failing in turn.
  for (int nth = 0; nth <= 5; ++nth) {
    cid2d_ReedSolomonCode rs;
    std::memset(&rs, 0x5A, sizeof(rs));
    LiveBlocks live;
    FailAllocation fail(nth);
    const csys_status want = nth ? csys_errNoMemory : cidut_errOutOfRange;
    EXPECT_EQ(cid2d_ReedSolomonCode_construct(&rs, 8, 10, nth ? 0x12D : 0x11B, 2), want);
    EXPECT_TRUE(rs.antilog == nullptr && rs.erasurePositions == nullptr && rs.bits == 0 && live.leaked() == 0) << nth;
  }

  // Too much data, a word outside the field; an allocation failure leaves the words alone.
  Code code(4, 0x13, 4);  // n = 15, at most 11 data words
  Words data(12, 1), ecc(4, 77);
  EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&code.rs, data.data(), 12, ecc.data(), 4), cidut_errOutOfRange);
  Words c = code.encode(Words(11, 9));
  c[1] = kErased;
  c[4] = 16;
  int32_t corrected = 9;
  EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&code.rs, c.data(), 15, &corrected), cidut_errOutOfRange);
  c[4] = 7;
  const Words received = c;
  {
    FailAllocation fail(1);
    EXPECT_EQ(cid2d_ReedSolomonCode_CorrectErrs(&code.rs, c.data(), 15, &corrected), csys_errNoMemory);
  }
  EXPECT_TRUE(c == received && corrected == 9);
  AssertRecorder asserts;
  EXPECT_TRUE(cid2d_ReedSolomonCode_CorrectErrs(&code.rs, c.data(), 15, nullptr) == csys_errAssertion &&
              asserts.count() == 1u);
}

TEST(ReedSolomon, AFailedDecodeKeepsTheMagnitudesAppliedBeforeIt) {
  // GF(16), x^4 + x + 1, k = 4, codewords shortened to 8 words. The full-length codeword c has
  // zeros at 8..14 except c[12] = 1; the received word is its first 8 words with c[q] ^= 6. It
  // lies two errors (q and 12) from c, so the locator has the roots a^-q and a^-12 = a^3 = 8,
  // taken in increasing value. Position 12 is outside the word: the decode fails there, after
  // repairing q when a^-q < 8 (q = 5: a^10 = 7; q = 0: 1) and before it otherwise (q = 3:
  // a^12 = 15; q = 6: a^9 = 10).
  const struct {
    int q;
    bool repairedBeforeFailing;
  } cases[] = {{5, true}, {0, true}, {3, false}, {6, false}};
  for (const auto& tc : cases) {
    Code code(4, 0x13, 4);
    const Words full = code.encode({1, 2, 3, 4, 0, 0, 0, 0, 1, 0, 0});
    ASSERT_EQ(full[12], 1u);
    Words c(full.begin(), full.begin() + 8);
    c[tc.q] ^= 6;
    const Words received = c;
    EXPECT_EQ(code.correct(c), -1) << tc.q;
    Words expected = received;
    if (tc.repairedBeforeFailing) expected[tc.q] = full[tc.q];
    EXPECT_EQ(c, expected) << tc.q;
  }
}

TEST(ReedSolomon, BuildsEveryFieldItsPolynomialGeneratesAndAssertsImpossibleSizes) {
  // Any primitive polynomial and any k >= 1 build a code; only the low m bits of the polynomial
  // take part in the reduction, so 0x03 builds the same field as x^4 + x + 1 (0x13). k beyond
  // 2^m - 2 builds a code that takes no data but still decodes erasures.
  const struct {
    int m, k;
    uint32_t poly;
  } builds[] = {{17, 4, 0x20009}, {4, 15, 0x13}, {4, 20, 0x13}, {4, 4, 0x03}, {1, 1, 0x3}, {3, 7, 0xB}};
  for (const auto& b : builds) {
    Code code(b.m, b.poly | (1u << b.m), b.k);  // the model reduces by the full polynomial
    cid2d_ReedSolomonCode built{};
    ASSERT_EQ(cid2d_ReedSolomonCode_construct(&built, b.m, b.k, b.poly, 2), 0) << b.m << " " << b.k;
    const uint32_t n = (1u << b.m) - 1;
    for (uint32_t i = 0, x = 1; i < n; ++i, x = code.mul(x, 2)) ASSERT_EQ(built.antilog[i], x) << b.m;
    EXPECT_TRUE(code.isCodeword(Words(built.generator, built.generator + b.k + 1)) && built.generator[b.k] == 1);
    Words one(1, 0), ecc(b.k, 0);
    EXPECT_EQ(cid2d_ReedSolomonCode_GetECCWords(&built, one.data(), 1, ecc.data(), b.k),
              1 + b.k <= (int)n ? csys_status(0) : cidut_errOutOfRange);
    cid2d_ReedSolomonCode_destruct(&built);
  }
  // The k = n code of GF(8) holds only its check words, all 0: seven erasures are filled.
  Code full(3, 0xB, 7);
  Words erased(7, kErased);
  EXPECT_EQ(full.correct(erased), 7);
  EXPECT_EQ(erased, Words(7, 0));

  // Fields of 2^0 or 2^32 entries, and a generator without a factor, cannot be built.
  const int impossible[][2] = {{0, 4}, {32, 4}, {-3, 4}, {8, 0}, {8, -1}};
  for (const auto& [m, k] : impossible) {
    AssertRecorder asserts;
    cid2d_ReedSolomonCode rs;
    EXPECT_EQ(cid2d_ReedSolomonCode_construct(&rs, m, k, 0x12D, 2), csys_errAssertion) << m << " " << k;
    EXPECT_TRUE(asserts.count() == 1u && rs.antilog == nullptr) << m << " " << k;
  }
  cid2d_ReedSolomonCode rs;
  EXPECT_EQ(cid2d_ReedSolomonCode_construct(&rs, 8, 4, 0x12D, 3), cidut_errOutOfRange);
}

// ---- GF(929) ---------------------------------------------------------------------------------

namespace {

// message(x) * prod (x - 3^i), highest power first: vanishes at 3^1 ... 3^k.
Words encode929(Words c, int k) {
  for (uint32_t i = 1, root = 3; i <= (uint32_t)k; ++i, root = root * 3 % P) {
    c.push_back(0);
    for (size_t j = c.size() - 1; j > 0; --j) c[j] = (c[j] + P - c[j - 1] * root % P) % P;
  }
  return c;
}

bool vanishesAtRoots(const Words& c, int k) {
  for (uint32_t j = 1, x = 3, v = 0; j <= (uint32_t)k; ++j, x = x * 3 % P, v = 0) {
    for (uint32_t w : c) v = (v * x + w) % P;
    if (v != 0) return false;
  }
  return true;
}

Outcome correct929(Words& c, int k, const std::vector<int32_t>& erasures) {
  Outcome o{-7, -7};
  EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), (int32_t)c.size(), k, (int32_t)erasures.size(),
                                        erasures.empty() ? nullptr : erasures.data(), &o.first, &o.second),
            0);
  return o;
}

}  // namespace

TEST(ReedSolomon929, CorrectsWithinReachKeepsTwoWordsBackAndNeverMiscorrectsSilently) {
  // Kind 0: 2e + s <= k - 2 is corrected. Kind 1: 2e + s = k - 1 finds the locator (errors =
  // e + s) but leaves the codeword alone. Kind 2: beyond reach, a repair must be a codeword and
  // a refusal a no-op. Many short codewords for the small codes: a zero discrepancy, which
  // steers the locator search down its rarer branch, comes about once in 929 steps.
  std::mt19937 rng(29);
  int beyond = 0, refused = 0;
  for (int k : {2, 4, 7, 8, 16, 32, 64, 512}) {
    for (int trial = 0; trial < (k <= 16 ? 2500 : k == 512 ? 8 : 100); ++trial) {
      const int kind = trial % 4 < 2 ? 0 : trial % 4 - 1, maxData = std::min(k <= 16 ? 40 : 300, 928 - k);
      const int budget = kind == 0 ? std::uniform_int_distribution<int>(0, k - 2)(rng) : kind == 1 ? k - 1 : k + 1 + trial % 5;
      const int e = std::uniform_int_distribution<int>(0, budget / 2)(rng), s = budget - 2 * e;
      const Words good = encode929(randomWords(rng, std::uniform_int_distribution<int>(kind == 2 ? 8 : 1, maxData)(rng), 928), k);
      Words c = good;
      std::vector<int32_t> erasures = damage(rng, c, e, s, P);
      for (auto& x : erasures) x = (int32_t)c.size() - x;  // indices to exponents
      const Words received = c;
      const Outcome o = correct929(c, k, erasures);
      if (kind < 2) {
        ASSERT_EQ(o, Outcome(e + s, kind == 0)) << "k " << k << " e " << e << " s " << s;
        ASSERT_EQ(c, kind == 0 ? good : received);
      } else {
        EXPECT_TRUE(o.second == 1 ? vanishesAtRoots(c, k) : c == received) << "k " << k;
        refused += o.second == 0;
        ++beyond;
      }
    }
  }
  EXPECT_GT(refused, beyond * 9 / 10);
}

TEST(ReedSolomon929, RefusesWhatItCannotUseAndReportsFailures) {
  // More erasures than k, or an exponent outside the codeword.
  Words c = encode929(Words{1, 2, 3}, 4);
  const Words good = c;
  for (const auto& bad : std::vector<std::vector<int32_t>>{{1, 2, 3, 4, 5}, {8}})
    EXPECT_EQ(correct929(c, 4, bad), Outcome(-1, 0));
  EXPECT_EQ(c, good);
  c[1] = 0;
  const Words received = c;
  int32_t errors = 3, flag = 3;
  {
    FailAllocation fail(1);
    EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), 7, 4, 0, nullptr, &errors, &flag), csys_errNoMemory);
  }
  EXPECT_TRUE(c == received && errors == 3 && flag == 3);
  AssertRecorder asserts;  // k out of range
  EXPECT_EQ(cid_RSSCCA_RSCorrectErrors_(c.data(), 7, 513, 0, nullptr, &errors, &flag), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 1u);
}

TEST(ReedSolomon929, ARootAtTheLastExponentRepairsTheFirstWord) {
  // A 928-word codeword (k = 6): the first word has exponent 928, whose root 3^-928 = 1 stands
  // for exponent 0 and names the word at index 928 - 928 = 0. Errors at index 0 (and others)
  // within reach come back whole.
  const std::vector<std::vector<int>> errorSets = {{0, 500}, {0}, {0, 927}, {1, 500}};
  for (const auto& at : errorSets) {
    std::mt19937 rng(41);
    const Words good = encode929(randomWords(rng, 928 - 6, 928), 6);
    ASSERT_EQ(good.size(), 928u);
    Words c = good;
    for (int i : at) c[i] = (c[i] + 17 + i) % P;
    EXPECT_EQ(correct929(c, 6, {}), Outcome((int32_t)at.size(), 1)) << at[0];
    EXPECT_EQ(c, good) << at[0];
  }
}
