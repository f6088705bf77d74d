/* The correlation and morphology headers compile as C and their functions are reachable
 * through the shared library. */
#include <math.h>
#include <stdio.h>

#include "ci_id/correlate.h"
#include "ci_id/morph.h"

int main(void) {
  /* The template sits two samples into the signal. */
  const uint8_t t[4] = {10, 80, 30, 5}, s[8] = {0, 0, 10, 80, 30, 5, 0, 0};
  double scores[5], offset = -1, score = -1;
  if (cf_correlate1D_U8(t, 4, s, 8, 0, scores) != 0 || fabs(scores[2] - 1.0) > 1e-12) return 1;
  if (cf_RunCorrelate_U8(t, 4, s, 8, 0, &offset, &score) != 0 || fabs(offset - 2.0) > 0.5 || score != 1.0) return 2;
  if (cf_correlate1D_U8(t, 4, s, 8, 4, scores) != cidut_errOutOfRange) return 3;

  /* Running maximum of a spike, then the same spike grown to a 3 x 3 block in an image. */
  const uint8_t line[6] = {0, 0, 9, 0, 0, 0};
  uint8_t out[6];
  if (rowExtremaMax(3, line, out, 6, NULL) != 0 || out[1] != 9 || out[3] != 9 || out[4] != 0) return 4;
  uint8_t pixels[25] = {0};
  pixels[12] = 200;
  cimg_imageConst source;
  cimg_image result;
  cimg_imageConst_constructWrap(&source, pixels, 5, 5, 5);
  cimg_image_constructUnbound(&result);
  if (cidut_morph2d_run(&source, &result, CIDUT_MORPH_MAX, 3, 3) != 0) return 5;
  int bright = 0;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) bright += result.window.pixels[y * result.window.stride + x] == 200;
  cimg_image_destruct(&result);
  cimg_imageConst_destruct(&source);
  if (bright != 9) return 6;
  puts("c ok");
  return 0;
}
