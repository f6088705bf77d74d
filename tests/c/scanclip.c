/* The clipping and walking headers compile as C and their functions link from the shared library. */
#include <stdio.h>

#include "ci_id/scanclip.h"
#include "ci_id/scanwalk.h"

int main(void) {
  cidc_windowROI roi;
  if (cidc_windowROI_initCorner(&roi, 20, 10, 0, 0, 1, 1) != 0) return 1;
  cidc_scanLine line;
  cidc_unitDir16 d = {65536, 0};
  cidc_vect64_4 p = {0, 40};
  if (cidc_scanLine_initPointDir(&line, &p, &d) != 0) return 2;
  cidc_scanShape shape;
  cidc_scanShape_initScanLine(&shape, &line);
  cidc_scanLineSeg seg;
  if (cidc_scanShape_clip(&shape, &roi, &seg) != 0 || seg.isDegenerate) return 3;
  if (seg.endPixel[0][0] != 1 || seg.endPixel[1][0] != 18) return 4;
  int32_t pixel[2] = {0, 0}, fraction[2] = {0, 0};
  if (cidc_bresWalk(pixel, fraction, &d) != 0 || pixel[0] != 1) return 5;
  puts("scanclip ok");
  return 0;
}
