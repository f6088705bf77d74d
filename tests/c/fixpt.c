/* The fixed-point shape header compiles as C and its functions link from the shared library. */
#include <stdio.h>

#include "ci_id/fixpt.h"

int main(void) {
  cmath_shapeFixPtAffineRectPoints square;
  cmath_vect32_4 a = {0, 0}, b = {48, 64}, in = {8, 8}, out = {40, 8};
  int32_t d = 0;
  uint32_t within = 7;
  if (cmath_shapeFixPtAffineRectPoints_init(&square) != 0 || square.px.x != 16) return 1;
  if (cmath_vect32_4_getDistance(&a, &b, &d) != 0 || d != 80) return 2;
  if (cmath_shapeFixPtAffineRectPoints_getIsWithin(&square, &in, &within) != 0 || within != 1) return 3;
  if (cmath_shapeFixPtAffineRectPoints_getIsWithin(&square, &out, &within) != 0 || within != 0) return 4;
  {
    cmath_shapeFixPtLineSeg seg;
    seg.p1 = a;
    seg.p2 = a;
    if (cmath_shapeFixPtLineSeg_distanceFrom(&seg, &b, &d) != cidut_errUnsupported) return 5;
  }
  puts("fixpt ok");
  return 0;
}
