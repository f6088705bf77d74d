/* The Reed-Solomon and big-integer headers compile as C, and a C program calls both families
 * through the shared library. */
#include <stdio.h>
#include <string.h>

#include "ci_id/bigint.h"
#include "ci_id/reedsolomon.h"

int main(void) {
  cid2d_ReedSolomonCode code;
  uint32_t codeword[8] = {0, 0, 0, 0, 0, 186, 164, 142};
  int32_t corrected = 0;
  if (cid2d_ReedSolomonCode_construct(&code, 8, 5, 0x12D, 2) != 0) return 1;
  if (cid2d_ReedSolomonCode_GetECCWords(&code, codeword + 5, 3, codeword, 5) != 0) return 2;
  if (codeword[0] != 102 || codeword[4] != 114) return 3;
  codeword[6] ^= 0x55;
  codeword[2] = 0xFFFFFFFFu; /* erased */
  if (cid2d_ReedSolomonCode_CorrectErrs(&code, codeword, 8, &corrected) != 0) return 4;
  if (corrected != 2 || codeword[6] != 164 || codeword[2] != 5) return 5;
  cid2d_ReedSolomonCode_destruct(&code);

  cmath_bigInt x, y;
  char text[CMATH_BIGINT_MAX_TEXT];
  cmath_bigInt_init(&x, 4000000000u);
  cmath_bigInt_init(&y, 4000000000u);
  cmath_bigInt_mul(&x, &y, &x);
  if (cmath_bigInt_bigInt2Buf(&x, sizeof(text), text) != 0) return 6;
  if (strcmp(text, "16000000000000000000") != 0) return 7;
  puts("c ok");
  return 0;
}
