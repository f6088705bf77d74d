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

class Mpz {
 public:
  Mpz() { mpz_init(v); }
  explicit Mpz(const cmath_bigInt& x) {
    mpz_init(v);
    mpz_import(v, 5, -1, sizeof(uint32_t), 0, 0, x.word);
  }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
  // Reduces modulo 2^160 (non-negative result).
  void wrap() { mpz_fdiv_r_2exp(v, v, 160); }
  std::string str() const {
    std::vector<char> buf(mpz_sizeinbase(v, 10) + 2);
    mpz_get_str(buf.data(), 10, v);
    return buf.data();
  }
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
    switch (shape) {
      case 0: w = rng(); break;
      case 1: w = 0; break;
      case 2: w = (rng() & 1) ? 0xFFFFFFFFu : 0; break;
      case 3: w = (rng() & 3) == 0 ? rng() : 0; break;
      case 4: w = 1u << (rng() % 32); break;
      default: w = rng() & 0xFF; break;
    }
  }
  if (shape == 1) x.word[0] = rng() % 3 == 0 ? 0 : rng();
  return x;
}

// Expects x to equal the GMP value reduced modulo 2^160.
void expectEqual(const cmath_bigInt& x, Mpz& expected, const char* what, const cmath_bigInt& a) {
  expected.wrap();
  Mpz got(x);
  ASSERT_EQ(mpz_cmp(got.v, expected.v), 0) << what << " of " << hex(a) << ": got " << hex(x);
}

constexpr int kTrials = 4000;

}  // namespace

TEST(BigInt, ArithmeticAgreesWithGmp) {
  std::mt19937 rng(1);
  for (int trial = 0; trial < kTrials; ++trial) {
    const cmath_bigInt a = randomBig(rng), b = randomBig(rng);
    const uint32_t base = trial % 5 == 0 ? 0xFFFFFFFFu : rng() >> (rng() % 32);
    const Mpz ma(a), mb(b);
    cmath_bigInt r;
    Mpz e;

    r = a;
    ASSERT_EQ(cmath_bigInt_add(&r, &b), 0);
    mpz_add(e.v, ma.v, mb.v);
    expectEqual(r, e, "add", a);

    r = a;
    ASSERT_EQ(cmath_bigInt_sub(&r, &b), 0);
    mpz_sub(e.v, ma.v, mb.v);
    expectEqual(r, e, "sub", a);

    r = a;
    ASSERT_EQ(cmath_bigInt_addBase(&r, base), 0);
    mpz_add_ui(e.v, ma.v, base);
    expectEqual(r, e, "addBase", a);

    r = a;
    ASSERT_EQ(cmath_bigInt_multBase(&r, base), 0);
    mpz_mul_ui(e.v, ma.v, base);
    expectEqual(r, e, "multBase", a);

    ASSERT_EQ(cmath_bigInt_mul(&a, &b, &r), 0);
    mpz_mul(e.v, ma.v, mb.v);
    expectEqual(r, e, "mul", a);

    r = a;
    ASSERT_EQ(cmath_bigInt_inc(&r), 0);
    mpz_add_ui(e.v, ma.v, 1);
    expectEqual(r, e, "inc", a);

    r = a;
    ASSERT_EQ(cmath_bigInt_neg(&r), 0);
    mpz_neg(e.v, ma.v);
    expectEqual(r, e, "neg", a);

    const uint32_t shift = rng() % 170;
    r = a;
    ASSERT_EQ(cmath_bigInt_shiftLeft(&r, shift), 0);
    mpz_mul_2exp(e.v, ma.v, shift);
    expectEqual(r, e, "shiftLeft", a);

    r = a;
    ASSERT_EQ(cmath_bigInt_shiftRight(&r, shift), 0);
    mpz_fdiv_q_2exp(e.v, ma.v, shift);
    expectEqual(r, e, "shiftRight", a);

    const uint32_t divisor = base == 0 ? 7 : base;
    uint32_t rem = 0;
    ASSERT_EQ(cmath_bigInt_divideBase(&a, &r, &rem, divisor), 0);
    const uint32_t expectedRem = static_cast<uint32_t>(mpz_fdiv_q_ui(e.v, ma.v, divisor));
    expectEqual(r, e, "divideBase", a);
    ASSERT_EQ(rem, expectedRem) << hex(a) << " / " << divisor;

    int32_t lt = -1, gt = -1, eq = -1, zero = -1;
    ASSERT_EQ(cmath_bigInt_lessThan(&a, &b, &lt), 0);
    ASSERT_EQ(cmath_bigInt_greaterThan(&a, &b, &gt), 0);
    ASSERT_EQ(cmath_bigInt_isEqual(&a, &b, &eq), 0);
    ASSERT_EQ(cmath_bigInt_isZero(&a, &zero), 0);
    const int cmp = mpz_cmp(ma.v, mb.v);
    ASSERT_EQ(lt, cmp < 0 ? 1 : 0);
    ASSERT_EQ(gt, cmp > 0 ? 1 : 0);
    ASSERT_EQ(eq, cmp == 0 ? 1 : 0);
    ASSERT_EQ(zero, mpz_sgn(ma.v) == 0 ? 1 : 0);
  }
}

TEST(BigInt, OperandsMayShareARecord) {
  std::mt19937 rng(2);
  for (int trial = 0; trial < 200; ++trial) {
    const cmath_bigInt a = randomBig(rng);
    const Mpz ma(a);
    Mpz e;
    cmath_bigInt r = a;
    ASSERT_EQ(cmath_bigInt_mul(&r, &r, &r), 0);
    mpz_mul(e.v, ma.v, ma.v);
    expectEqual(r, e, "square in place", a);
    r = a;
    ASSERT_EQ(cmath_bigInt_add(&r, &r), 0);
    mpz_mul_2exp(e.v, ma.v, 1);
    expectEqual(r, e, "doubling in place", a);
    r = a;
    ASSERT_EQ(cmath_bigInt_sub(&r, &r), 0);
    int32_t zero = 0;
    cmath_bigInt_isZero(&r, &zero);
    ASSERT_EQ(zero, 1);
    r = a;
    uint32_t rem = 0;
    ASSERT_EQ(cmath_bigInt_divideBase(&r, &r, &rem, 10), 0);
    ASSERT_EQ(rem, mpz_fdiv_q_ui(e.v, ma.v, 10));
    expectEqual(r, e, "divide in place", a);
  }
}

TEST(BigInt, DecimalTextAgreesWithGmp) {
  std::mt19937 rng(3);
  char text[CMATH_BIGINT_MAX_TEXT];
  for (int trial = 0; trial < kTrials; ++trial) {
    cmath_bigInt a = randomBig(rng);
    if (trial < 150) {  // powers of ten (wrapping past 10^48) and their neighbours
      cmath_bigInt_init(&a, 1);
      for (int i = 0; i < trial / 3; ++i) cmath_bigInt_multBase(&a, 10);
      cmath_bigInt one;
      cmath_bigInt_init(&one, 1);
      if (trial % 3 == 1) cmath_bigInt_sub(&a, &one);
      if (trial % 3 == 2) cmath_bigInt_add(&a, &one);
    }
    const Mpz ma(a);
    std::memset(text, 'x', sizeof(text));
    ASSERT_EQ(cmath_bigInt_bigInt2Buf(&a, sizeof(text), text), 0);
    ASSERT_EQ(std::string(text), ma.str()) << hex(a);
  }
  // The largest value takes every byte of the buffer.
  cmath_bigInt max;
  std::memset(&max, 0xFF, sizeof(max));
  ASSERT_EQ(cmath_bigInt_bigInt2Buf(&max, sizeof(text), text), 0);
  EXPECT_STREQ(text, "1461501637330902918203684832716283019655932542975");
  EXPECT_EQ(std::strlen(text) + 1, sizeof(text));
}

TEST(BigInt, DecimalTextNeedsRoomForDigitsAndNul) {
  cmath_bigInt x;
  cmath_bigInt_init(&x, 1000000000u);
  char text[12];
  EXPECT_EQ(cmath_bigInt_bigInt2Buf(&x, 11, text), 0);
  EXPECT_STREQ(text, "1000000000");
  std::memset(text, 'x', sizeof(text));
  EXPECT_EQ(cmath_bigInt_bigInt2Buf(&x, 10, text), cidut_errBadArgument);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[1], 'x');
  std::memset(text, 'x', sizeof(text));
  EXPECT_EQ(cmath_bigInt_bigInt2Buf(&x, 0, text), cidut_errBadArgument);
  EXPECT_EQ(text[0], 'x');
  cmath_bigInt_init(&x, 0);
  EXPECT_EQ(cmath_bigInt_bigInt2Buf(&x, 1, text), cidut_errBadArgument);
  EXPECT_EQ(cmath_bigInt_bigInt2Buf(&x, 2, text), 0);
  EXPECT_STREQ(text, "0");
}

TEST(BigInt, BytesMostSignificantFirst) {
  std::mt19937 rng(4);
  for (int trial = 0; trial < 1000; ++trial) {
    const cmath_bigInt a = randomBig(rng);
    const uint32_t count = rng() % 25;
    // GMP's big-endian export of a modulo 256^count, left-padded with zeros.
    Mpz low(a);
    mpz_fdiv_r_2exp(low.v, low.v, 8 * count);
    std::vector<uint8_t> expected(count + 1, 0), got(count + 1, 0xEE);
    size_t written = 0;
    std::vector<uint8_t> raw(32);
    mpz_export(raw.data(), &written, 1, 1, 1, 0, low.v);
    std::copy(raw.begin(), raw.begin() + written, expected.begin() + (count - written));
    expected[count] = 0xEE;  // the byte after the output is not touched
    ASSERT_EQ(cmath_bigInt_bigInt2Base256(&a, count, got.data()), 0);
    ASSERT_EQ(got, expected) << hex(a) << " count " << count;
  }
  cmath_bigInt x;
  cmath_bigInt_init(&x, 0x01020304u);
  uint8_t four[4];
  cmath_bigInt_bigInt2Base256(&x, 4, four);
  EXPECT_EQ(std::vector<uint8_t>(four, four + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(BigInt, WrapsAroundAndRejectsDivisionByZero) {
  cmath_bigInt max, x;
  std::memset(&max, 0xFF, sizeof(max));
  x = max;
  cmath_bigInt_inc(&x);
  int32_t zero = 0;
  cmath_bigInt_isZero(&x, &zero);
  EXPECT_EQ(zero, 1);
  cmath_bigInt one;
  cmath_bigInt_init(&one, 1);
  cmath_bigInt_init(&x, 0);
  cmath_bigInt_sub(&x, &one);
  int32_t eq = 0;
  cmath_bigInt_isEqual(&x, &max, &eq);
  EXPECT_EQ(eq, 1);
  uint32_t base = 0;
  EXPECT_EQ(cmath_bigInt_bigIntBase(&max, &base), 0);
  EXPECT_EQ(base, 0xFFFFFFFFu);

  cmath_bigInt q;
  cmath_bigInt_init(&q, 77);
  uint32_t rem = 99;
  EXPECT_EQ(cmath_bigInt_divideBase(&max, &q, &rem, 0), cidut_errDivideByZero);
  EXPECT_EQ(q.word[0], 77u);
  EXPECT_EQ(rem, 99u);

  AssertRecorder asserts;
  EXPECT_EQ(cmath_bigInt_add(&x, nullptr), csys_errAssertion);
  EXPECT_EQ(cmath_bigInt_divideBase(&x, &q, nullptr, 3), csys_errAssertion);
  EXPECT_EQ(cmath_bigInt_bigInt2Buf(&x, 50, nullptr), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 3u);
}
