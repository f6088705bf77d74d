/* The working-image header compiles as C and its functions link from the shared library. */
#include <stdio.h>

#include "ci_id/imagememory.h"

int main(void) {
  cimg_imageConst view, out;
  cid2d_imageMemoryManager manager;
  static const uint8_t pixels[4 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  int32_t copied = 5;
  if (cimg_imageConst_constructWrap(&view, pixels, 4, 3, 4) != 0) return 1;
  if (cimg_imageConst_setWindowOffset(&view, 7, 9) != 0) return 2;
  if (cid2d_imageMemoryManager_construct(&manager, &view, &view) != 0) return 3;
  if (manager.fineImage.window.x0 != 0 || manager.coarseImage.window.y0 != 0) return 4;
  cimg_imageConst_constructUnbound(&out);
  if (cid2d_imageMemoryManager_getFineImage(&manager, NULL, &out) != 0 || out.window.pixels[5] != 6) return 5;
  if (cimg_imageConst_aliasToFastMem(&view, &out, &copied) != 0 || copied != 0) return 6;
  if (cid2d_imageMemoryManager_destruct(&manager) != 0) return 7;
  cimg_imageConst_destruct(&out);
  cimg_imageConst_destruct(&view);
  puts("c ok");
  return 0;
}
