/* The clipping, walking and peak headers compile as C, and an edge scan through the shared
 * library finds a step with four times its Sobel response. */
#include <stdio.h>

#include "ci_id/scanclip.h"
#include "ci_id/scanwalk.h"

int main(void) {
  static uint8_t pixels[200];
  for (int i = 0; i < 200; ++i) pixels[i] = (i % 20) > 9 ? 255 : 0;
  cimg_imageConst image;
  cidc_windowROI roi;
  cidc_scanLine line;
  cidc_scanShape shape;
  cidc_scanLineSeg seg;
  cidc_edgeScanParams params = {1000};
  int16_t g[2] = {0, 0};
  cstd_vector_cidc_peakIDFixedX_4 peaks;
  const cidc_peakIDFixedX_4* first = NULL;
  uint32_t n = 0;
  if (cimg_imageConst_constructWrap(&image, pixels, 20, 10, 20) || cidc_windowROI_initCorner(&roi, 20, 10, 0, 0, 1, 1) ||
      cidc_scanLine_initDirDist(&line, 0, 40, NULL) || cidc_scanShape_initScanLine(&shape, &line) ||
      cstd_vector_cidc_peakIDFixedX_4_constructEmpty(&peaks) || cidc_runEdgeScan(&image, &roi, &params, &shape, g, &peaks, &seg))
    return 1;
  cstd_vector_cidc_peakIDFixedX_4_getBeginSizeConst(&peaks, &first, &n);
  if (n != 1 || first->value != 4080 || first->grey != 127 || seg.endPixel[1][0] != 18) return 2;
  cstd_vector_cidc_peakIDFixedX_4_destruct(&peaks);
  cimg_imageConst_destruct(&image);
  puts("scanclip ok");
  return 0;
}
