/* The Data Matrix and PDF417 search and driver headers compile as C; driver calls on a blank image
 * find nothing and report where the scan stopped. */
#include <stdio.h>
#include <stdlib.h>

#include "ci_id/dmdriver.h"
#include "ci_id/pdpdriver.h"

int main(void) {
  static uint8_t pixels[64 * 48];
  static int32_t scratch[229320 / 4];
  int32_t rows[3] = {10, 20, 30};
  cimg_imageConst image;
  cimg_image marking;
  cid2d_trackingParams params;
  cid2d_trackingResult result;
  int i;
  for (i = 0; i < 64 * 48; ++i) pixels[i] = 200;
  if (cimg_imageConst_constructWrap(&image, pixels, 64, 48, 64) != 0) return 1;
  if (cimg_image_construct(&marking, 16, 12) != 0) return 2;
  if (cid2d_trackingParams_init(&params) != 0) return 3;
  params.scratch = (uint8_t*)scratch;
  params.scratchSize = sizeof scratch;
  params.scanLines = rows;
  params.scanLineCount = 3;
  params.firstScanLine = 1;
  if (cid2d_trackingResult_construct(&result) != 0) return 4;
  if (cf_BndFindNextDMSymbol(&image, &params, NULL, NULL, NULL, 0, &marking, &result) != 0) return 5;
  if (result.found != 0 || result.line != 3) return 6;
  if (cf_BndFindNextPDP(&image, &params, NULL, NULL, NULL, &marking, 1, NULL, NULL, NULL, 0, 0, 0, &result) != 0 ||
      result.found != 0 || result.line != 1)
    return 9;
  cid2d_trackingResult_destruct(&result);
  cimg_image_destruct(&marking);
  cimg_imageConst_destruct(&image);
  puts("c ok");
  return 0;
}
