/* The boundary tracker's header compiles as C; a C program tracks a small dark square. */
#include <stdio.h>
#include <string.h>

#include "base/cbt.h"

int main(void) {
  uint8_t pixels[16 * 12];
  cimg_imageConst image;
  cbt_runParams params;
  cbt_result result;
  int x, y;
  memset(pixels, 220, sizeof pixels);
  for (y = 4; y < 8; ++y)
    for (x = 5; x < 10; ++x) pixels[y * 16 + x] = 20; /* 5 x 4 dark pixels */
  if (cimg_imageConst_constructWrap(&image, pixels, 16, 12, 16) != 0) return 1;
  if (cbt_runParams_init(&params) != 0) return 2;
  params.threshold = 120;
  params.polarity = 1;
  params.startB[0] = 6 * 256; params.startB[1] = 5 * 256;
  params.startA[0] = 11 * 256; params.startA[1] = 5 * 256;
  if (cbt_result_construct(&result, 0) != 0) return 3;
  if (cbt_boundaryTrack(&image, &params, &result) != 0) return 4;
  /* 2 x (5 + 4) crossings, half way between a dark and a light pixel centre */
  if (result.flags != CBT_FLAG_FOUND || result.count != 18) return 5;
  if (result.points[0].x != 9 * 256 + 128 || result.points[0].y != 5 * 256) return 6;
  params.startA[0] = 8 * 256; /* both start points inside */
  if (cbt_boundaryTrack(&image, &params, &result) != cbt_errNoBoundary) return 7;
  cbt_result_destruct(&result);
  cimg_imageConst_destruct(&image);
  puts("cbt ok");
  return 0;
}
