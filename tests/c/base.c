/* The headers of plain records and flat functions compile as C, and a C program links and
 * calls the shared library. */
#include <stdio.h>

#include "base/cimg.h"
#include "base/cmath.h"
#include "base/csys.h"
#include "base/cstd.h"
#include "ci_id/line.h"
#include "ci_id/sort.h"
#include "ci_id/status.h"
#include "ci_id/typecheck.h"
#include "ci_id/vector.h"
#include "ci_id/version.h"

int main(void) {
  cidut_line line;
  cmath_vect dir = {0.0, 0.0}, pos = {1.0, 2.0};
  if (cidut_line_initDirPos(&line, &dir, &pos) != cidut_errZeroDirection) return 1;

  int32_t values[5] = {3, -1, 2, -7, 0};
  csys_int32_qsort(values, values + 5);
  if (values[0] != -7 || values[4] != 3) return 2;

  cimg_image image;
  if (cimg_image_construct(&image, 8, 4) != 0) return 3;
  if (!cimg_image_isBound(&image) || image.window.stride != 8) return 4;
  cimg_image_destruct(&image);

  cstd_vector32s v;
  if (cstd_vector32s_constructEmpty(&v) != 0 || cstd_vector32s_pushBack(&v, 5) != 0) return 5;
  cstd_vector32s_destruct(&v);
  if (cidut_getVersion()[0] < '0' || cidut_getVersion()[0] > '9') return 6;
  puts("c ok");
  return 0;
}
