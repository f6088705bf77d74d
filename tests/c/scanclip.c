/* The scan-shape, clipping, walking and peak headers compile as C: a unit direction and a segment
 * mapped back to the image, and an edge scan through the shared library that finds a step with
 * four times its Sobel response. */
#include <stdio.h>

#include "ci_id/scanclip.h"
#include "ci_id/scanwalk.h"

int main(void) {
  cidc_unitDir16 d;
  if (cidc_unitDir16_initVect(&d, 3, 4) != 0 || d.x != 39321 || d.y != 52428) return 3;
  cidc_vect64_4 pts[2] = {{8, 8}, {16 * 10 + 8, 8}};
  cidc_scanLineSeg seg;
  int32_t origin[2] = {100, 50};
  double q[2];
  if (cidc_scanLineSeg_initPoints(&seg, pts, NULL) != 0 || seg.isDegenerate) return 4;
  if (cidc_convertPeakToImage(seg.endProj[0][0], &seg, origin, q) != 0 || q[0] != 100.5 || q[1] != 50.5) return 5;

  static uint8_t pixels[200];
  for (int i = 0; i < 200; ++i) pixels[i] = (i % 20) > 9 ? 255 : 0;
  cimg_imageConst image;
  cidc_windowROI roi;
  cidc_scanLine line;
  cidc_scanShape shape;
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
