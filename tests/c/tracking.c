/* The tracking and contour-run headers compile as C; the exported tracking functions link
 * from the shared library and give the expected records and seeds. */
#include <stdio.h>
#include <string.h>

#include "ci_id/contourruns.h"
#include "ci_id/tracking.h"
#include "ci_id/typecheck.h"

int main(void) {
  cid2d_trackingParams params;
  cid2d_trackingResult result;
  cid2d_trackingSeed seeds[4];
  cid2d_straightRun run = {0, 0, 0};
  cid2d_contourPoint point = {0, 0};
  uint8_t pixels[12 * 40];
  cimg_imageConst image;
  int32_t rows[1] = {6};
  int32_t count = -1;

  if (cid2d_trackingParams_init(&params) != 0) return 1;

  result.trackerRuns = 5;
  if (cid2d_trackingResult_construct(&result) != 0) return 3;
  csys_typeCheck_cid2d_trackingResult(&result);
  if (result.parallelogram != 1 || result.found != 0 || result.trackerRuns != 5) return 4;
  result.found = 1;
  result.score = 700;
  result.line = 3;
  cid2d_trackingResult_reset(&result);
  if (result.found != 0 || result.score != 0 || result.line != 3) return 5;
  if (cid2d_trackingResult_destruct(&result) != 0) return 6;

  /* A dark-to-light step between columns 19 and 20: one seed at column 19, strength 3 x 100. */
  memset(pixels, 60, sizeof(pixels));
  for (int y = 0; y < 12; ++y) memset(pixels + y * 40 + 20, 160, 20);
  if (cimg_imageConst_constructWrap(&image, pixels, 40, 12, 40) != 0) return 7;
  if (cid2d_getHorizontalTrackingSeeds(&image, rows, 1, 4, 50, 1, seeds, &count, 0, 0.0) != 0) return 8;
  if (count != 1 || seeds[0].x != 19 || seeds[0].y != 6 || seeds[0].strength != 300 || seeds[0].polarity != 1)
    return 9;
  cimg_imageConst_destruct(&image);

  if (sizeof(run) != 12 || sizeof(point) != 8 || sizeof(seeds[0]) != 40) return 10;
  puts("tracking c ok");
  return 0;
}
