/* The fixed-point math header compiles as C and links from the shared library. */
#include <stdio.h>

#include "base/cmath_fixed.h"

int main(void) {
  if (cmath_sqrt32(0xFFFFFFFFu) != 65535u || cmath_sqrt32(80u * 80u - 1u) != 79u) return 1;
  if (cmath_sqrt64(0xFFFFFFFFFFFFFFFFull) != 0xFFFFFFFFu) return 2;
  if (cmath_sin16FixedPoint(0x4000, 15) != 32768 || cmath_cos16FixedPoint(0x8000, 16) != -65536) return 3;
  puts("cmath_fixed ok");
  return 0;
}
