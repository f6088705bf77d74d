/* Reed-Solomon codecs for symbol codewords.
 *
 * cid2d_ReedSolomonCode: a systematic code over GF(2^m) (matrix symbols). The generator
 * polynomial is g(x) = (x + a)(x + a^2)...(x + a^k), a = the field element 2, k = eccCount.
 * A codeword is an array of unsigned 32-bit symbols in which index i holds the coefficient of
 * x^i: the k error-correction words occupy indices 0..k-1 (ascending powers), the data words
 * follow, the last data word being the highest power. In a received codeword a word whose top
 * bit is set (negative as signed 32-bit) marks an erasure.
 *
 * cid_RSSCCA_RSCorrectErrors_: errors-and-erasures correction over the prime field GF(929)
 * (stacked symbols), with the field built on the primitive element 3.
 *
 * Both decoders use Berlekamp-Massey with erasures, a Chien search and Forney's formula. A
 * cid2d_ReedSolomonCode is written by every decode (erasurePositions), so one record must not
 * decode on two threads at once; the GF(929) decoder keeps no state. */
#ifndef IDUT_CI_ID_REEDSOLOMON_H
#define IDUT_CI_ID_REEDSOLOMON_H

#include "ci_id/status.h"
#include "ci_id/typecheck.h"

IDUT_EXTERN_C_BEGIN

/* Owned by the caller: filled by _construct, emptied by _destruct. The tables are read-only
 * after construction; erasurePositions is scratch written by every decode. */
struct cid2d_ReedSolomonCode {
  int32_t bits;              /* m, bits per symbol */
  int32_t fieldMax;          /* n = 2^m - 1, also the longest codeword */
  int32_t eccCount;          /* k, error-correction words per codeword */
  uint32_t primitive;        /* reduction polynomial as a bit mask including the x^m bit */
  uint32_t generatorElement; /* multiplier that builds the power table (2) */
  uint32_t* antilog;         /* 2^m entries: antilog[i] = a^i (antilog[n] = 1) */
  uint32_t* log;             /* 2^m entries: log[a^i] = i, log[1] = n, log[0] = n (sentinel) */
  uint32_t* inverse;         /* 2^m entries: multiplicative inverses (inverse[0] = 1, unused) */
  uint32_t* generator;       /* k + 1 coefficients of g(x), ascending powers, g[k] = 1 */
  uint32_t* erasurePositions; /* k entries: codeword indices erased in the last decode */
};

/* Builds the field tables and the generator polynomial. The record is cleared first, so on any
 * failure it is left all zero (safe to destruct) and nothing is allocated.
 *   bits             m, 1 to 31 (other values are asserted: the tables have 2^m 32-bit entries);
 *   eccCount         k >= 1 (0 or less is asserted). A k of n or more builds a code that takes no
 *                    data (GetECCWords refuses every call) but still decodes;
 *   primitive        the reduction polynomial with its x^m bit (0x12D for m = 8); the powers
 *                    of 2 are reduced by it whenever they reach 2^m and then cut to m bits, so
 *                    only its low m bits take part;
 *   generatorElement must be 2.
 * cidut_errOutOfRange when the generator element is not 2 or the polynomial is not primitive
 * (the powers of 2 do not run through every nonzero element); csys_errNoMemory when an
 * allocation fails. */
IDUT_API csys_status cid2d_ReedSolomonCode_construct(cid2d_ReedSolomonCode* code, int32_t bits, int32_t eccCount,
                                                     uint32_t primitive, uint32_t generatorElement);

/* Frees the tables and clears the record. A null code is accepted (success). */
IDUT_API csys_status cid2d_ReedSolomonCode_destruct(cid2d_ReedSolomonCode* code);

/* Systematic encoding: ecc[0..k-1] = the remainder of data(x) * x^k divided by g(x), ascending
 * powers, where data[i] is the coefficient of x^i of data(x) (data[dataCount - 1] highest).
 * cidut_errOutOfRange (ecc untouched) when dataCount < 0, dataCount > n - k, eccCount != k, or
 * a data word is not below 2^m. */
IDUT_API csys_status cid2d_ReedSolomonCode_GetECCWords(const cid2d_ReedSolomonCode* code, const uint32_t* data,
                                                       int32_t dataCount, uint32_t* ecc, int32_t eccCount);

/* Corrects a received codeword of `length` words in place. Erased words (top bit set) are
 * counted, at most k of them, and set to 0 before decoding; their indices are recorded in
 * code->erasurePositions.
 *   *corrected = the number of words repaired (errors plus erasures; 0 for a clean codeword),
 *              or -1 when the codeword cannot be corrected. More than k erasures are refused
 *              before decoding: the first k erased words are then 0, the rest keep their mark.
 *   The locator's roots are taken in increasing value (every field element is tried) and each
 *   one's magnitude is applied as it is found. A decode that fails at a root whose position lies
 *   beyond the codeword, or whose repaired word still has a nonzero syndrome, returns -1 with
 *   the erased words 0 and the magnitudes applied before that point left in place.
 *   A successful repair always leaves a codeword whose k syndromes are zero.
 * Returns 0 whether or not the codeword could be corrected. cidut_errOutOfRange (codeword and
 * *corrected untouched) when length < 0, length > n, or a word that is not an erasure is not
 * below 2^m; csys_errNoMemory (codeword untouched) when the decoder's scratch cannot be
 * allocated. */
IDUT_API csys_status cid2d_ReedSolomonCode_CorrectErrs(cid2d_ReedSolomonCode* code, uint32_t* codewords,
                                                       int32_t length, int32_t* corrected);

/* Errors-and-erasures correction over GF(929), in place.
 *   codewords    `count` values 0..928; codewords[0] is the coefficient of x^count, the last
 *                the coefficient of x^1 (a valid codeword vanishes at 3^1 ... 3^eccCount);
 *   count        1 to 928;
 *   eccCount     k, 1 to 512;
 *   erasures     `erasureCount` erased positions given as exponents: the word at index i has
 *                exponent count - i (1 to count). May be null when erasureCount is 0.
 *   *errors      the number of errors plus erasures in the locator found (its degree t), or
 *                -1 when no consistent locator exists (also for erasureCount > k or an
 *                exponent outside 1..count);
 *   *correctedFlag 1 when the codeword was corrected (or was clean), 0 otherwise. A locator is
 *                accepted only when 2t - erasureCount <= k - 2 (two words are kept back to
 *                detect miscorrection) and all its roots lie in the codeword; otherwise the
 *                flag is 0, *errors still holds t, and the codewords are unchanged.
 *   A root at exponent 928 (the word at index 0 of a 928-word codeword) is the field's 1.
 * Returns 0 except for csys_errNoMemory when the work area cannot be allocated (outputs then
 * untouched). Values above 928 take part modulo 929; a corrected word is (word + 929 - e) mod
 * 929 in 32-bit arithmetic. Null pointers, count or eccCount outside
 * the ranges above and a negative erasureCount are asserted (csys_errAssertion). */
IDUT_API csys_status cid_RSSCCA_RSCorrectErrors_(uint32_t* codewords, int32_t count, int32_t eccCount,
                                                 int32_t erasureCount, const int32_t* erasures, int32_t* errors,
                                                 int32_t* correctedFlag);

IDUT_EXTERN_C_END

#endif
