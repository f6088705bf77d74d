// 160-bit integers against GMP: every operation on thousands of random operands (with the
// word-boundary values mixed in), reduced modulo 2^160 on the GMP side.
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ci_id/bigint.h"
#include "support/assert_recorder.hpp"

namespace {

struct Mpz {
  Mpz() { mpz_init(v); }
  explicit Mpz(const cmath_bigInt& x) : Mpz() { mpz_import(v, 5, -1, sizeof(uint32_t), 0, 0, x.word); }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  mpz_t v;
};

std::string hex(const cmath_bigInt& x) {
  char buf[48];
  snprintf(buf, sizeof(buf), "%08x%08x%08x%08x%08x", x.word[4], x.word[3], x.word[2], x.word[1], x.word[0]);
  return buf;
}

// Random operands: uniform words, short values, sparse patterns and the word edges.
cmath_bigInt randomBig(std::mt19937& rng) {
  cmath_bigInt x{};
  const int shape = rng() % 6;
  for (uint32_t& w : x.word) {
    const uint32_t r = rng(), choices[] = {r, 0, r & 1 ? 0xFFFFFFFFu : 0, r & 3 ? 0 : uint32_t(rng()), 1u << (r % 32), r & 0xFF};
    w = choices[shape];
  }
  if (shape == 1) x.word[0] = rng() % 3 == 0 ? 0 : rng();
  return x;
}

}  // namespace

TEST(BigInt, ArithmeticAgreesWithGmp) {
  // r starts as a copy of a; every fourth trial the second operand is r itself (b = a).
  std::mt19937 rng(1);
  for (int trial = 0; trial < 4000; ++trial) {
    const bool alias = trial % 4 == 0;
    const cmath_bigInt a = randomBig(rng), b = alias ? a : randomBig(rng);
    const uint32_t v = trial % 5 == 0 ? 0xFFFFFFFFu : rng() >> (rng() % 32), d = v ? v : 7, s = rng() % 170;
    const Mpz ma(a), mb(b);
    for (int op = 0; op < 11; ++op) {
      cmath_bigInt r = a;
      const cmath_bigInt& y = alias ? r : b;
      Mpz e;
      csys_status status = 0;
      uint32_t rem = 0;
      switch (op) {
        case 0: status = cmath_bigInt_add(&r, &y); mpz_add(e.v, ma.v, mb.v); break;
        case 1: status = cmath_bigInt_sub(&r, &y); mpz_sub(e.v, ma.v, mb.v); break;
        case 2: status = cmath_bigInt_mul(&r, &y, &r); mpz_mul(e.v, ma.v, mb.v); break;
        case 3: status = cmath_bigInt_assign(&r, &y); mpz_set(e.v, mb.v); break;
        case 4: status = cmath_bigInt_addBase(&r, v); mpz_add_ui(e.v, ma.v, v); break;
        case 5: status = cmath_bigInt_multBase(&r, v); mpz_mul_ui(e.v, ma.v, v); break;
        case 6: status = cmath_bigInt_divideBase(&r, &r, &rem, d); EXPECT_EQ(rem, mpz_fdiv_q_ui(e.v, ma.v, d)); break;
        case 7: status = cmath_bigInt_inc(&r); mpz_add_ui(e.v, ma.v, 1); break;
        case 8: status = cmath_bigInt_neg(&r); mpz_neg(e.v, ma.v); break;
        case 9: status = cmath_bigInt_shiftLeft(&r, s); mpz_mul_2exp(e.v, ma.v, s); break;
        default: status = cmath_bigInt_shiftRight(&r, s); mpz_fdiv_q_2exp(e.v, ma.v, s); break;
      }
      mpz_fdiv_r_2exp(e.v, e.v, 160);
      ASSERT_TRUE(status == 0 && mpz_cmp(Mpz(r).v, e.v) == 0)
          << "op " << op << " of " << hex(a) << ", " << hex(b) << ", " << v << ", " << s << ": got " << hex(r);
    }
    // Comparisons and the low word; a failing call leaves its -1 in place.
    int32_t lt = -1, gt = -1, eq = -1, zero = -1;
    uint32_t low = 0;
    (void)(cmath_bigInt_lessThan(&a, &b, &lt) | cmath_bigInt_greaterThan(&a, &b, &gt) |
           cmath_bigInt_isEqual(&a, &b, &eq) | cmath_bigInt_isZero(&a, &zero) | cmath_bigInt_bigIntBase(&a, &low));
    const int cmp = mpz_cmp(ma.v, mb.v);
    const int64_t wantLow = mpz_get_ui(ma.v) & 0xFFFFFFFFu;
    ASSERT_EQ(std::vector<int64_t>({lt, gt, eq, zero, low}),
              std::vector<int64_t>({cmp < 0, cmp > 0, cmp == 0, mpz_sgn(ma.v) == 0, wantLow}));
  }
}

TEST(BigInt, TextAndBytesAgreeWithGmp) {
  std::mt19937 rng(3);
  char text[CMATH_BIGINT_MAX_TEXT];
  for (int trial = 0; trial < 4000; ++trial) {
    cmath_bigInt a = randomBig(rng);
    if (trial == 0) std::memset(&a, 0xFF, sizeof(a));  // 2^160 - 1 has the longest text
    const Mpz ma(a);
    ASSERT_EQ(cmath_bigInt_bigInt2Buf(&a, sizeof(text), text), 0);
    std::vector<char> expected(mpz_sizeinbase(ma.v, 10) + 2);
    ASSERT_STREQ(text, mpz_get_str(expected.data(), 10, ma.v)) << hex(a);
    EXPECT_TRUE(trial != 0 || std::strlen(text) + 1 == sizeof(text));

    // Bytes: the low count bytes of a, most significant first; the byte after them is not touched.
    const uint32_t count = rng() % 25;
    std::vector<uint8_t> want(count + 1, 0xEE), got(count + 1, 0xEE);
    for (uint32_t i = 0; i < count; ++i) {
      Mpz shifted;
      mpz_fdiv_q_2exp(shifted.v, ma.v, 8 * (count - 1 - i));
      want[i] = mpz_get_ui(shifted.v) & 0xFF;
    }
    ASSERT_EQ(cmath_bigInt_bigInt2Base256(&a, count, got.data()), 0);
    ASSERT_EQ(got, want) << hex(a) << " count " << count;
  }
}

TEST(BigInt, ReportsShortBuffersDivisionByZeroAndNullPointers) {
  // Text needs its digits plus the NUL; one byte short leaves the empty string.
  cmath_bigInt x;
  cmath_bigInt_init(&x, 1000000000u);
  char text[12] = "xxxxxxxxxxx";
  EXPECT_EQ(cmath_bigInt_bigInt2Buf(&x, 10, text), cidut_errBadArgument);
  EXPECT_TRUE(text[0] == '\0' && text[1] == 'x');
  EXPECT_TRUE(cmath_bigInt_bigInt2Buf(&x, 11, text) == 0 && std::strcmp(text, "1000000000") == 0);
  uint32_t rem = 99;
  EXPECT_EQ(cmath_bigInt_divideBase(&x, &x, &rem, 0), cidut_errDivideByZero);
  EXPECT_TRUE(x.word[0] == 1000000000u && rem == 99u);
  AssertRecorder asserts;
  EXPECT_TRUE(cmath_bigInt_add(&x, nullptr) == csys_errAssertion && asserts.count() == 1u);
}
