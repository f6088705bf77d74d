/* The line-fitting header compiles as C (its flat one-shot fit) and links from the shared
 * library. */
#include <math.h>
#include <stdio.h>

#include "ci_id/linefit.h"

int main(void) {
  /* Points on y = x + 2: direction +-(1,1)/sqrt2, distance sqrt2 from the origin. */
  cmath_vect pts[4] = {{0.0, 2.0}, {1.0, 3.0}, {-2.0, 0.0}, {5.0, 7.0}};
  cidut_line line;
  if (cidut_lineFitting(&line, pts, 4) != 0) return 1;
  if (fabs(fabs(line.dir.x) - sqrt(0.5)) > 1e-12 || fabs(line.dir.x - line.dir.y) > 1e-12) return 2;
  if (fabs(hypot(line.pos.x, line.pos.y) - sqrt(2.0)) > 1e-12) return 3;
  if (cidut_lineFitting(&line, pts, 1) != cidut_errFitFailed) return 4;
  puts("linefit ok");
  return 0;
}
