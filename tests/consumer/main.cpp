// A program outside the project that uses the installed library.
#include <cstdio>

#include "ci_id/line.h"

int main() {
  cidut_line a, b;
  const cmath_vect origin{0.0, 0.0}, right{1.0, 0.0}, up{0.0, 1.0}, at{3.0, 4.0};
  if (cidut_line_initDirPos(&a, &right, &origin) != 0 || cidut_line_initDirPos(&b, &up, &at) != 0) return 1;
  cmath_vect p;
  if (cidut_line_getIntersection(&a, &b, &p) != 0 || p.x != 3.0 || p.y != 0.0) return 2;
  std::puts("consumer ok");
  return 0;
}
