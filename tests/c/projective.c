/* The transform, rasteriser and perspective headers compile as C and their functions are
 * reachable through the shared library. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "base/cdraw.h"
#include "base/cmath_projective.h"
#include "ci_id/projective.h"

int main(void) {
  /* A measured corner 5 pixels off: mapping needed, and it carries Popp onto the measurement. */
  cmath_shapeAffineRectPoints pts = {{0.0, 0.0}, {40.0, 0.0}, {0.0, 30.0}};
  cmath_vect measured = {43.0, 34.0}, popp = {40.0, 30.0}, mapped, centre = {4.0, 4.0};
  cmath_vect a = {10, 10}, b = {50, 10}, c = {10, 50}, d = {50, 50};
  cmath_xformPerspective x, inv;
  cmath_xform g;
  cstd_rect32 r = {0, 0, 100, 100};
  uint32_t flag = 0, code = 99;
  uint8_t pixels[64];
  cimg_image img;
  if (cidut_isPerspectiveMappingRequired(&pts, &measured, &flag) != 0 || flag != 1) return 1;
  if (cidut_perspectiveMapping_construct(&pts, &measured, &x, &inv) != 0) return 2;
  cmath_xform_initPerspective(&g, &x);
  if (cmath_xform_mapPoint(&g, &popp, &mapped) != 0 || fabs(mapped.x - 43.0) > 1e-9 || fabs(mapped.y - 34.0) > 1e-9) return 3;
  cmath_xformPerspective_destruct(&x);
  cmath_xformPerspective_destruct(&inv);
  /* Square corners well inside a rectangle: nothing wrong. */
  if (cidut_verifyValidBarcodeRgnCorners(&a, &b, &c, &d, &r, &code) != 0 || code != 0) return 4;
  /* A 4 x 2 block painted into an 8 x 8 image. */
  memset(pixels, 255, sizeof pixels);
  if (cimg_image_constructWrap(&img, pixels, 8, 8, 8) != 0) return 5;
  if (cdraw_rasterize_rotatedRectangle_forID(&img, &centre, 4.0, 2.0, 0.0, 255, 0) != 0) return 6;
  cimg_image_destruct(&img);
  if (pixels[3 * 8 + 2] != 0 || pixels[5 * 8 + 2] != 255) return 7;
  puts("c ok");
  return 0;
}
