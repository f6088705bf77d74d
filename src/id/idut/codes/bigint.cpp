// 160-bit unsigned integers: word arithmetic with 64-bit intermediates.
#include "ci_id/bigint.h"

#include <cstring>

namespace {

constexpr int kWords = 5;
constexpr uint32_t kBits = 32 * kWords;
constexpr uint32_t kChunk = 1000000000u;  // nine decimal digits

// Quotient and remainder of x by a nonzero 32-bit divisor, from the top word down.
uint32_t divideInPlace(uint32_t (&w)[kWords], uint32_t divisor) {
  uint64_t rem = 0;
  for (int i = kWords - 1; i >= 0; --i) {
    const uint64_t cur = (rem << 32) | w[i];
    w[i] = static_cast<uint32_t>(cur / divisor);
    rem = cur % divisor;
  }
  return static_cast<uint32_t>(rem);
}

bool isZero(const uint32_t (&w)[kWords]) {
  for (uint32_t v : w)
    if (v != 0) return false;
  return true;
}

// -1, 0, 1 as x <, ==, > y, from the top word down.
int compare(const cmath_bigInt& x, const cmath_bigInt& y) {
  for (int i = kWords - 1; i >= 0; --i)
    if (x.word[i] != y.word[i]) return x.word[i] < y.word[i] ? -1 : 1;
  return 0;
}

}  // namespace

extern "C" {

csys_status cmath_bigInt_init(cmath_bigInt* x, uint32_t value) {
  CSYS_REQUIRE(x != nullptr);
  std::memset(x, 0, sizeof(*x));
  x->word[0] = value;
  return 0;
}

csys_status cmath_bigInt_bigIntBase(const cmath_bigInt* x, uint32_t* value) {
  CSYS_REQUIRE(x != nullptr && value != nullptr);
  *value = x->word[0];
  return 0;
}

csys_status cmath_bigInt_assign(cmath_bigInt* x, const cmath_bigInt* y) {
  CSYS_REQUIRE(x != nullptr && y != nullptr);
  std::memmove(x, y, sizeof(*x));
  return 0;
}

csys_status cmath_bigInt_isEqual(const cmath_bigInt* x, const cmath_bigInt* y, int32_t* flag) {
  CSYS_REQUIRE(x != nullptr && y != nullptr && flag != nullptr);
  *flag = std::memcmp(x, y, sizeof(*x)) == 0 ? 1 : 0;
  return 0;
}

csys_status cmath_bigInt_isZero(const cmath_bigInt* x, int32_t* flag) {
  CSYS_REQUIRE(x != nullptr && flag != nullptr);
  *flag = isZero(x->word) ? 1 : 0;
  return 0;
}

csys_status cmath_bigInt_shiftLeft(cmath_bigInt* x, uint32_t bits) {
  CSYS_REQUIRE(x != nullptr);
  if (bits >= kBits) return cmath_bigInt_init(x, 0);
  const int ws = static_cast<int>(bits / 32), bs = static_cast<int>(bits % 32);
  for (int i = kWords - 1; i >= 0; --i) {
    const int from = i - ws;
    uint32_t v = 0;
    if (from >= 0) {
      v = x->word[from] << bs;
      if (bs != 0 && from >= 1) v |= x->word[from - 1] >> (32 - bs);
    }
    x->word[i] = v;
  }
  return 0;
}

csys_status cmath_bigInt_shiftRight(cmath_bigInt* x, uint32_t bits) {
  CSYS_REQUIRE(x != nullptr);
  if (bits >= kBits) return cmath_bigInt_init(x, 0);
  const int ws = static_cast<int>(bits / 32), bs = static_cast<int>(bits % 32);
  for (int i = 0; i < kWords; ++i) {
    const int from = i + ws;
    uint32_t v = 0;
    if (from < kWords) {
      v = x->word[from] >> bs;
      if (bs != 0 && from + 1 < kWords) v |= x->word[from + 1] << (32 - bs);
    }
    x->word[i] = v;
  }
  return 0;
}

csys_status cmath_bigInt_addBase(cmath_bigInt* x, uint32_t value) {
  CSYS_REQUIRE(x != nullptr);
  uint64_t carry = value;
  for (int i = 0; i < kWords && carry != 0; ++i) {
    const uint64_t sum = static_cast<uint64_t>(x->word[i]) + carry;
    x->word[i] = static_cast<uint32_t>(sum);
    carry = sum >> 32;
  }
  return 0;
}

csys_status cmath_bigInt_add(cmath_bigInt* x, const cmath_bigInt* y) {
  CSYS_REQUIRE(x != nullptr && y != nullptr);
  uint64_t carry = 0;
  for (int i = 0; i < kWords; ++i) {
    const uint64_t sum = static_cast<uint64_t>(x->word[i]) + y->word[i] + carry;
    x->word[i] = static_cast<uint32_t>(sum);
    carry = sum >> 32;
  }
  return 0;
}

csys_status cmath_bigInt_sub(cmath_bigInt* x, const cmath_bigInt* y) {
  CSYS_REQUIRE(x != nullptr && y != nullptr);
  uint32_t borrow = 0;
  for (int i = 0; i < kWords; ++i) {
    const uint64_t diff = static_cast<uint64_t>(x->word[i]) - y->word[i] - borrow;
    x->word[i] = static_cast<uint32_t>(diff);
    borrow = static_cast<uint32_t>(diff >> 63);  // wrapped below zero
  }
  return 0;
}

csys_status cmath_bigInt_multBase(cmath_bigInt* x, uint32_t value) {
  CSYS_REQUIRE(x != nullptr);
  uint64_t carry = 0;
  for (int i = 0; i < kWords; ++i) {
    const uint64_t p = static_cast<uint64_t>(x->word[i]) * value + carry;
    x->word[i] = static_cast<uint32_t>(p);
    carry = p >> 32;
  }
  return 0;
}

csys_status cmath_bigInt_mul(const cmath_bigInt* x, const cmath_bigInt* y, cmath_bigInt* product) {
  CSYS_REQUIRE(x != nullptr && y != nullptr && product != nullptr);
  uint32_t r[kWords] = {};
  for (int i = 0; i < kWords; ++i) {
    uint64_t carry = 0;
    for (int j = 0; i + j < kWords; ++j) {
      const uint64_t p = static_cast<uint64_t>(x->word[i]) * y->word[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint32_t>(p);
      carry = p >> 32;
    }
  }
  std::memcpy(product->word, r, sizeof(r));
  return 0;
}

csys_status cmath_bigInt_divideBase(const cmath_bigInt* x, cmath_bigInt* quotient, uint32_t* remainder,
                                    uint32_t divisor) {
  CSYS_REQUIRE(x != nullptr && quotient != nullptr && remainder != nullptr);
  if (divisor == 0) return cidut_errDivideByZero;
  uint32_t w[kWords];
  std::memcpy(w, x->word, sizeof(w));
  const uint32_t rem = divideInPlace(w, divisor);
  std::memcpy(quotient->word, w, sizeof(w));
  *remainder = rem;
  return 0;
}

csys_status cmath_bigInt_inc(cmath_bigInt* x) { return cmath_bigInt_addBase(x, 1); }

csys_status cmath_bigInt_neg(cmath_bigInt* x) {
  CSYS_REQUIRE(x != nullptr);
  for (uint32_t& v : x->word) v = ~v;
  return cmath_bigInt_addBase(x, 1);
}

csys_status cmath_bigInt_lessThan(const cmath_bigInt* x, const cmath_bigInt* y, int32_t* flag) {
  CSYS_REQUIRE(x != nullptr && y != nullptr && flag != nullptr);
  *flag = compare(*x, *y) < 0 ? 1 : 0;
  return 0;
}

csys_status cmath_bigInt_greaterThan(const cmath_bigInt* x, const cmath_bigInt* y, int32_t* flag) {
  CSYS_REQUIRE(x != nullptr && y != nullptr && flag != nullptr);
  *flag = compare(*x, *y) > 0 ? 1 : 0;
  return 0;
}

csys_status cmath_bigInt_bigInt2Buf(const cmath_bigInt* x, uint32_t length, char* text) {
  CSYS_REQUIRE(x != nullptr && text != nullptr);
  // Digits are produced backwards, nine per division, into a local buffer.
  char digits[CMATH_BIGINT_MAX_TEXT + 8];
  char* end = digits + sizeof(digits);
  char* p = end;
  *--p = '\0';
  uint32_t w[kWords];
  std::memcpy(w, x->word, sizeof(w));
  do {
    uint32_t chunk = divideInPlace(w, kChunk);
    for (int i = 0; i < 9; ++i, chunk /= 10) *--p = static_cast<char>('0' + chunk % 10);
  } while (!isZero(w));
  while (p[0] == '0' && p[1] != '\0') ++p;  // keep one digit for zero
  const size_t needed = static_cast<size_t>(end - p);
  if (length < needed) {
    if (length > 0) text[0] = '\0';
    return cidut_errBadArgument;
  }
  std::memcpy(text, p, needed);
  return 0;
}

csys_status cmath_bigInt_bigInt2Base256(const cmath_bigInt* x, uint32_t count, uint8_t* bytes) {
  CSYS_REQUIRE(x != nullptr && bytes != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t b = count - 1 - i;  // little-endian byte index
    bytes[i] = b < 4 * kWords ? static_cast<uint8_t>(x->word[b / 4] >> (8 * (b % 4))) : 0;
  }
  return 0;
}

}  // extern "C"
