/* The scan-shape header compiles as C and its flat functions link from the shared library. */
#include <stdio.h>

#include "ci_id/scanshape.h"

int main(void) {
  cidc_unitDir16 d;
  if (cidc_unitDir16_initVect(&d, 3, 4) != 0 || d.x != 39321 || d.y != 52428) return 1;
  cidc_vect64_4 pts[2] = {{8, 8}, {16 * 10 + 8, 8}};
  cidc_scanLineSeg seg;
  if (cidc_scanLineSeg_initPoints(&seg, pts, NULL) != 0 || seg.isDegenerate) return 2;
  int32_t origin[2] = {100, 50};
  double q[2];
  if (cidc_convertPeakToImage(seg.endProj[0][0], &seg, origin, q) != 0) return 3;
  if (q[0] != 100.5 || q[1] != 50.5) return 4;
  puts("scanshape ok");
  return 0;
}
