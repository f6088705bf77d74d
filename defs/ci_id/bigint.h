/* 160-bit unsigned integers.
 *
 * A cmath_bigInt is five 32-bit words, least significant first (word[4] holds bits 128 to
 * 159). Arithmetic is modulo 2^160; negation is two's complement. "Base" values are single
 * unsigned 32-bit numbers. Every function asserts its pointers (csys_errAssertion) and returns
 * a status; results may be written over an operand (x and product of cmath_bigInt_mul may be the
 * same record, and so on). Nothing is shared between calls: all functions are reentrant. */
#ifndef IDUT_CI_ID_BIGINT_H
#define IDUT_CI_ID_BIGINT_H

#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

typedef struct cmath_bigInt {
  uint32_t word[5];
} cmath_bigInt;

/* Longest decimal text of a 160-bit value, with its NUL: 49 digits + 1. */
#define CMATH_BIGINT_MAX_TEXT 50

/* x = value (the other words 0). */
IDUT_API csys_status cmath_bigInt_init(cmath_bigInt* x, uint32_t value);
/* *value = word 0 of x (x modulo 2^32). */
IDUT_API csys_status cmath_bigInt_bigIntBase(const cmath_bigInt* x, uint32_t* value);
/* x = y. */
IDUT_API csys_status cmath_bigInt_assign(cmath_bigInt* x, const cmath_bigInt* y);
/* *flag = 1 when x == y (all 20 bytes equal), else 0. */
IDUT_API csys_status cmath_bigInt_isEqual(const cmath_bigInt* x, const cmath_bigInt* y, int32_t* flag);
/* *flag = 1 when x == 0, else 0. */
IDUT_API csys_status cmath_bigInt_isZero(const cmath_bigInt* x, int32_t* flag);
/* x = x << bits, x = x >> bits; bits falling off either end are lost (160 or more gives 0). */
IDUT_API csys_status cmath_bigInt_shiftLeft(cmath_bigInt* x, uint32_t bits);
IDUT_API csys_status cmath_bigInt_shiftRight(cmath_bigInt* x, uint32_t bits);
/* x = x + value, x = x + y, x = x - y, x = x * value (all modulo 2^160). */
IDUT_API csys_status cmath_bigInt_addBase(cmath_bigInt* x, uint32_t value);
IDUT_API csys_status cmath_bigInt_add(cmath_bigInt* x, const cmath_bigInt* y);
IDUT_API csys_status cmath_bigInt_sub(cmath_bigInt* x, const cmath_bigInt* y);
IDUT_API csys_status cmath_bigInt_multBase(cmath_bigInt* x, uint32_t value);
/* product = x * y modulo 2^160. */
IDUT_API csys_status cmath_bigInt_mul(const cmath_bigInt* x, const cmath_bigInt* y, cmath_bigInt* product);
/* quotient = x / divisor, *remainder = x mod divisor. cidut_errDivideByZero (outputs
 * untouched) when divisor is 0. */
IDUT_API csys_status cmath_bigInt_divideBase(const cmath_bigInt* x, cmath_bigInt* quotient, uint32_t* remainder,
                                             uint32_t divisor);
/* x = x + 1; x = -x = (NOT x) + 1. */
IDUT_API csys_status cmath_bigInt_inc(cmath_bigInt* x);
IDUT_API csys_status cmath_bigInt_neg(cmath_bigInt* x);
/* *flag = 1 when x < y (x > y), unsigned, else 0. */
IDUT_API csys_status cmath_bigInt_lessThan(const cmath_bigInt* x, const cmath_bigInt* y, int32_t* flag);
IDUT_API csys_status cmath_bigInt_greaterThan(const cmath_bigInt* x, const cmath_bigInt* y, int32_t* flag);
/* Writes the decimal text of x, NUL-terminated, at the start of text (no sign, no leading
 * zeros; "0" for zero). length is the buffer's size in bytes; the text needs its digits plus 1
 * (at most CMATH_BIGINT_MAX_TEXT). cidut_errBadArgument when length is too short: the buffer
 * then holds the empty string (nothing is written when length is 0). */
IDUT_API csys_status cmath_bigInt_bigInt2Buf(const cmath_bigInt* x, uint32_t length, char* text);
/* Writes the `count` lowest bytes of x, most significant first: bytes[i] = byte count - 1 - i
 * of x's little-endian representation. Bytes above the 20th are 0. */
IDUT_API csys_status cmath_bigInt_bigInt2Base256(const cmath_bigInt* x, uint32_t count, uint8_t* bytes);

IDUT_EXTERN_C_END

#endif
