// 2D vectors, lines, scalar helpers and linear transforms.
#include "base/cmath.h"

#include <cmath>

extern "C" {

cmath_vect cmath_vect_make(double x, double y) { return cmath_vect{x, y}; }

double cmath_vect_dot(const cmath_vect* a, const cmath_vect* b) { return a->x * b->x + a->y * b->y; }

double cmath_vect_cross(const cmath_vect* a, const cmath_vect* b) { return a->x * b->y - a->y * b->x; }

double cmath_vect_getLength(const cmath_vect* v) { return std::hypot(v->x, v->y); }

double cmath_vect_getDistance(const cmath_vect* a, const cmath_vect* b) { return std::hypot(a->x - b->x, a->y - b->y); }

csys_status cmath_vect_getUnit(const cmath_vect* v, cmath_vect* unit) {
  CSYS_REQUIRE(v != nullptr && unit != nullptr);
  const double len = std::hypot(v->x, v->y);
  if (!(len > 0.0) || !std::isfinite(len)) return csys_errZeroVector;
  *unit = cmath_vect{v->x / len, v->y / len};
  return 0;
}

csys_status cmath_vect_getDirection(const cmath_vect* v, double* radians) {
  CSYS_REQUIRE(v != nullptr && radians != nullptr);
  *radians = (v->x == 0.0 && v->y == 0.0) ? 0.0 : std::atan2(v->y, v->x);
  return 0;
}

csys_status cmath_shapeLine_intersection(const cmath_shapeLine* a, const cmath_shapeLine* b, cmath_vect* point) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && point != nullptr);
  const double d = cmath_vect_cross(&a->dir, &b->dir);
  const double scale = cmath_vect_getLength(&a->dir) * cmath_vect_getLength(&b->dir);
  if (!(std::fabs(d) > 1e-12 * scale)) return csys_errParallelLines;
  const cmath_vect w{b->point.x - a->point.x, b->point.y - a->point.y};
  const double t = cmath_vect_cross(&w, &b->dir) / d;
  *point = cmath_vect{a->point.x + t * a->dir.x, a->point.y + t * a->dir.y};
  return 0;
}

csys_status cmath_shapeLine_pointAlong(const cmath_shapeLine* line, double t, cmath_vect* point) {
  CSYS_REQUIRE(line != nullptr && point != nullptr);
  *point = cmath_vect{line->point.x + t * line->dir.x, line->point.y + t * line->dir.y};
  return 0;
}

int cmath_double_epsilonEqual(double a, double b, double epsilon) { return std::fabs(a - b) <= epsilon; }

double cmath_double_round(double x) { return std::floor(x + 0.5); }
double cmath_double_ceil(double x) { return std::ceil(x); }

double cmath_radian_norm(double radians) {
  if (!std::isfinite(radians)) return radians;
  double r = std::remainder(radians, 2.0 * M_PI);  // in [-pi, pi]
  if (r <= -M_PI) r += 2.0 * M_PI;
  return r;
}

csys_status cmath_xformLinear_initIdentity(cmath_xformLinear* x) {
  CSYS_REQUIRE(x != nullptr);
  *x = cmath_xformLinear{{1.0, 0.0, 0.0, 1.0}, {0.0, 0.0}};
  return 0;
}

csys_status cmath_xformLinear_initMatrixTrans(cmath_xformLinear* x, const cmath_matrix* m, const cmath_vect* t) {
  CSYS_REQUIRE(x != nullptr && m != nullptr && t != nullptr);
  *x = cmath_xformLinear{*m, *t};
  return 0;
}

csys_status cmath_xformLinear_mapPoint(const cmath_xformLinear* x, const cmath_vect* p, cmath_vect* out) {
  CSYS_REQUIRE(x != nullptr && p != nullptr && out != nullptr);
  const cmath_vect q{x->m.a * p->x + x->m.b * p->y + x->t.x, x->m.c * p->x + x->m.d * p->y + x->t.y};
  *out = q;
  return 0;
}

csys_status cmath_xformLinear_mapVector(const cmath_xformLinear* x, const cmath_vect* v, cmath_vect* out) {
  CSYS_REQUIRE(x != nullptr && v != nullptr && out != nullptr);
  const cmath_vect q{x->m.a * v->x + x->m.b * v->y, x->m.c * v->x + x->m.d * v->y};
  *out = q;
  return 0;
}

csys_status cmath_xformLinear_compose(const cmath_xformLinear* outer, const cmath_xformLinear* inner,
                                      cmath_xformLinear* out) {
  CSYS_REQUIRE(outer != nullptr && inner != nullptr && out != nullptr);
  const cmath_matrix& A = outer->m;
  const cmath_matrix& B = inner->m;
  cmath_xformLinear r;
  r.m = cmath_matrix{A.a * B.a + A.b * B.c, A.a * B.b + A.b * B.d, A.c * B.a + A.d * B.c, A.c * B.b + A.d * B.d};
  r.t = cmath_vect{A.a * inner->t.x + A.b * inner->t.y + outer->t.x, A.c * inner->t.x + A.d * inner->t.y + outer->t.y};
  *out = r;
  return 0;
}

csys_status cmath_xformLinear_getInverse(const cmath_xformLinear* x, cmath_xformLinear* out) {
  CSYS_REQUIRE(x != nullptr && out != nullptr);
  const cmath_matrix& M = x->m;
  const double det = M.a * M.d - M.b * M.c;
  const double scale = std::fabs(M.a * M.d) + std::fabs(M.b * M.c);
  if (!(std::fabs(det) > 1e-15 * scale) || !std::isfinite(det)) return csys_errBadArgument;
  cmath_xformLinear r;
  r.m = cmath_matrix{M.d / det, -M.b / det, -M.c / det, M.a / det};
  r.t = cmath_vect{-(r.m.a * x->t.x + r.m.b * x->t.y), -(r.m.c * x->t.x + r.m.d * x->t.y)};
  *out = r;
  return 0;
}

}  // extern "C"
