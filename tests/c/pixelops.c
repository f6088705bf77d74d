/* The binarisation and pixel-operation headers compile as C and their functions are reachable
 * through the shared library. */
#include <stdio.h>

#include "ci_id/binarize.h"
#include "ci_id/pixelops.h"

int main(void) {
  /* Left half dark, right half light: the global mid-range method splits them. */
  uint8_t pixels[64];
  for (int i = 0; i < 64; ++i) pixels[i] = (uint8_t)(i % 8 < 4 ? 20 : 220);
  cimg_imageConst source;
  cimg_image out;
  cimg_imageConst_constructWrap(&source, pixels, 8, 8, 8);
  cimg_image_constructUnbound(&out);
  cidut_binarizeParams params;
  if (cidut_binarizeParams_construct(&params) != 0) return 1;
  params.method = 0;
  if (cidut_binarizeImage(&out, NULL, NULL, NULL, &source, &params) != 0) return 2;
  if (out.window.pixels[3] != 0 || out.window.pixels[4] != 255) return 3;
  /* A flat image stays flat through the Gaussian. */
  uint8_t flat[64];
  for (int i = 0; i < 64; ++i) flat[i] = 77;
  cimg_imageConst flatView;
  cimg_imageConst_constructWrap(&flatView, flat, 8, 8, 8);
  if (cidut_ip_gauss8(&flatView, &out, 2, 2) != 0 || out.window.pixels[27] != 77) return 4;
  const uint32_t in[3] = {1000, 7, 255};
  uint8_t q[3];
  if (cidut_divideBufferByConstant32_8(in, 3, 3, q) != 0 || q[0] != (1000 / 3) % 256 || q[1] != 2) return 5;
  cimg_image_destruct(&out);
  cimg_imageConst_destruct(&flatView);
  cimg_imageConst_destruct(&source);
  cidut_binarizeParams_destruct(&params);
  puts("pixelops ok");
  return 0;
}
