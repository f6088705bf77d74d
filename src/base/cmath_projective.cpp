// 2x2 matrices, perspective transforms and the general (linear or perspective) transform.
#include "base/cmath_projective.h"

#include <cmath>
#include <cstring>

namespace {

bool finite(const cmath_vect& v) { return std::isfinite(v.x) && std::isfinite(v.y); }

// 3x3 helpers on row-major arrays.
void mul3(const double a[9], const double b[9], double out[9]) {
  double r[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
  std::memcpy(out, r, sizeof r);
}

double det3(const double h[9]) {
  return h[0] * (h[4] * h[8] - h[5] * h[7]) - h[1] * (h[3] * h[8] - h[5] * h[6]) + h[2] * (h[3] * h[7] - h[4] * h[6]);
}

double frobenius(const double h[9]) {
  double s = 0.0;
  for (int i = 0; i < 9; ++i) s += h[i] * h[i];
  return std::sqrt(s);
}

// A homogeneous matrix is singular when its determinant is lost in rounding: below a small
// multiple of the sum of the magnitudes of the six products it is made of. This measure does
// not depend on the scale of the coordinates (a large translation is no reason to refuse).
bool singular3(const double h[9]) {
  for (int i = 0; i < 9; ++i)
    if (!std::isfinite(h[i])) return true;
  const double terms[6] = {h[0] * h[4] * h[8], -h[0] * h[5] * h[7], -h[1] * h[3] * h[8],
                           h[1] * h[5] * h[6], h[2] * h[3] * h[7],  -h[2] * h[4] * h[6]};
  double det = 0.0, scale = 0.0;
  for (double t : terms) {
    det += t;
    scale += std::fabs(t);
  }
  return !std::isfinite(scale) || !(std::fabs(det) > 1e-13 * scale);
}

// In the conditioned frame, where both point sets sit around the origin at unit spread, a
// usable transform has a determinant of order 0.1 once scaled to unit norm; one that collapses
// the plane onto a line or a point has a determinant at rounding level.
bool collapses(const double hn[9]) {
  const double n = frobenius(hn);
  if (!(n > 0.0) || !std::isfinite(n)) return true;
  double u[9];
  for (int i = 0; i < 9; ++i) u[i] = hn[i] / n;
  return !(std::fabs(det3(u)) > 1e-10);
}

// Brings the matrix to the stored scale: h[8] = 1 when h[8] is not negligible, else unit norm
// with a non-negative first nonzero entry. The transform it describes is unchanged.
void normalise3(double h[9]) {
  const double n = frobenius(h);
  double s = n;
  if (std::fabs(h[8]) > 1e-12 * n) {
    s = h[8];
  } else {
    for (int i = 0; i < 9; ++i)
      if (h[i] != 0.0) {
        if (h[i] < 0.0) s = -n;
        break;
      }
  }
  for (int i = 0; i < 9; ++i) h[i] /= s;
}

void adjugate3(const double h[9], double out[9]) {
  double r[9];
  r[0] = h[4] * h[8] - h[5] * h[7];
  r[1] = h[2] * h[7] - h[1] * h[8];
  r[2] = h[1] * h[5] - h[2] * h[4];
  r[3] = h[5] * h[6] - h[3] * h[8];
  r[4] = h[0] * h[8] - h[2] * h[6];
  r[5] = h[2] * h[3] - h[0] * h[5];
  r[6] = h[3] * h[7] - h[4] * h[6];
  r[7] = h[1] * h[6] - h[0] * h[7];
  r[8] = h[0] * h[4] - h[1] * h[3];
  std::memcpy(out, r, sizeof r);
}

void identity3(double h[9]) {
  static const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::memcpy(h, id, sizeof id);
}

// The similarity that moves a point set to its centroid and scales it to a mean distance of
// sqrt(2) from there (and the inverse), so the homogeneous equations are well balanced.
// False when all points coincide.
bool conditioning(const cmath_vect* p, uint32_t n, double T[9], double Tinv[9]) {
  double cx = 0.0, cy = 0.0;
  for (uint32_t i = 0; i < n; ++i) {
    cx += p[i].x;
    cy += p[i].y;
  }
  cx /= n;
  cy /= n;
  double mean = 0.0;
  for (uint32_t i = 0; i < n; ++i) mean += std::hypot(p[i].x - cx, p[i].y - cy);
  mean /= n;
  if (!(mean > 0.0) || !std::isfinite(mean)) return false;
  const double s = std::sqrt(2.0) / mean;
  const double t[9] = {s, 0, -s * cx, 0, s, -s * cy, 0, 0, 1};
  const double ti[9] = {1 / s, 0, cx, 0, 1 / s, cy, 0, 0, 1};
  std::memcpy(T, t, sizeof t);
  std::memcpy(Tinv, ti, sizeof ti);
  return true;
}

// One-sided Jacobi (Hestenes) SVD of the 9 x 9 matrix A (row major). On return the columns of
// A are mutually orthogonal (A V), V holds the right singular vectors as columns and sigma the
// column norms. Works on A itself rather than on A^T A, so a small singular value comes out to
// the accuracy of A's entries.
void jacobiSvd9(double A[81], double V[81], double sigma[9]) {
  constexpr int n = 9;
  for (int i = 0; i < n * n; ++i) V[i] = (i % (n + 1) == 0) ? 1.0 : 0.0;
  for (int sweep = 0; sweep < 60; ++sweep) {
    bool rotated = false;
    for (int p = 0; p < n - 1; ++p) {
      for (int q = p + 1; q < n; ++q) {
        double alpha = 0.0, beta = 0.0, gamma = 0.0;
        for (int r = 0; r < n; ++r) {
          const double ap = A[r * n + p], aq = A[r * n + q];
          alpha += ap * ap;
          beta += aq * aq;
          gamma += ap * aq;
        }
        if (gamma == 0.0 || std::fabs(gamma) <= 1e-15 * std::sqrt(alpha * beta)) continue;
        rotated = true;
        const double zeta = (beta - alpha) / (2.0 * gamma);
        const double t = std::copysign(1.0, zeta) / (std::fabs(zeta) + std::sqrt(1.0 + zeta * zeta));
        const double c = 1.0 / std::sqrt(1.0 + t * t);
        const double s = c * t;
        for (int r = 0; r < n; ++r) {
          const double ap = A[r * n + p], aq = A[r * n + q];
          A[r * n + p] = c * ap - s * aq;
          A[r * n + q] = s * ap + c * aq;
          const double vp = V[r * n + p], vq = V[r * n + q];
          V[r * n + p] = c * vp - s * vq;
          V[r * n + q] = s * vp + c * vq;
        }
      }
    }
    if (!rotated) break;
  }
  for (int j = 0; j < n; ++j) {
    double s = 0.0;
    for (int r = 0; r < n; ++r) s += A[r * n + j] * A[r * n + j];
    sigma[j] = std::sqrt(s);
  }
}

// Folds one equation row into the upper-triangular R (9 x 9) with Givens rotations, so any
// number of pairs reduces to R with R^T R = A^T A, without storing A.
void foldRow(double R[81], double e[9]) {
  for (int k = 0; k < 9; ++k) {
    if (e[k] == 0.0) continue;
    const double r = std::hypot(R[k * 9 + k], e[k]);
    const double c = R[k * 9 + k] / r, s = e[k] / r;
    for (int j = k; j < 9; ++j) {
      const double rk = R[k * 9 + j], ej = e[j];
      R[k * 9 + j] = c * rk + s * ej;
      e[j] = -s * rk + c * ej;
    }
    e[k] = 0.0;
  }
}

// Solves for the homogeneous matrix of the conditioned pairs: the right singular vector of the
// smallest singular value of the 2n x 9 system. False when that value is not isolated, that is
// when more than one transform fits the pairs equally well.
bool solveConditioned(const cmath_vect* from, const cmath_vect* to, uint32_t n, const double Tf[9],
                      const double Tt[9], double h[9]) {
  double R[81] = {};
  for (uint32_t i = 0; i < n; ++i) {
    const double x = Tf[0] * from[i].x + Tf[2], y = Tf[4] * from[i].y + Tf[5];
    const double u = Tt[0] * to[i].x + Tt[2], v = Tt[4] * to[i].y + Tt[5];
    double e0[9] = {x, y, 1, 0, 0, 0, -u * x, -u * y, -u};
    double e1[9] = {0, 0, 0, x, y, 1, -v * x, -v * y, -v};
    foldRow(R, e0);
    foldRow(R, e1);
  }
  double V[81], sigma[9];
  jacobiSvd9(R, V, sigma);

  int smallest = 0, largest = 0;
  for (int j = 1; j < 9; ++j) {
    if (sigma[j] < sigma[smallest]) smallest = j;
    if (sigma[j] > sigma[largest]) largest = j;
  }
  double second = -1.0;
  for (int j = 0; j < 9; ++j)
    if (j != smallest && (second < 0.0 || sigma[j] < second)) second = sigma[j];
  if (!(second > 1e-10 * sigma[largest])) return false;
  for (int i = 0; i < 9; ++i) h[i] = V[i * 9 + smallest];
  return true;
}

}  // namespace

extern "C" {

// ---- 2x2 matrices ----------------------------------------------------------------------

csys_status cmath_matrix_initIdentity(cmath_matrix* m) {
  CSYS_REQUIRE(m != nullptr);
  *m = cmath_matrix{1.0, 0.0, 0.0, 1.0};
  return 0;
}

csys_status cmath_matrix_initRotationScale(cmath_matrix* m, double xRotation, double yRotation, double xScale,
                                           double yScale) {
  CSYS_REQUIRE(m != nullptr);
  *m = cmath_matrix{xScale * std::cos(xRotation), -yScale * std::sin(yRotation), xScale * std::sin(xRotation),
                    yScale * std::cos(yRotation)};
  return 0;
}

csys_status cmath_matrix_multiply(const cmath_matrix* a, const cmath_matrix* b, cmath_matrix* out) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && out != nullptr);
  const cmath_matrix r{a->a * b->a + a->b * b->c, a->a * b->b + a->b * b->d, a->c * b->a + a->d * b->c,
                       a->c * b->b + a->d * b->d};
  *out = r;
  return 0;
}

csys_status cmath_matrix_determinant(const cmath_matrix* m, double* determinant) {
  CSYS_REQUIRE(m != nullptr && determinant != nullptr);
  *determinant = m->a * m->d - m->b * m->c;
  return 0;
}

csys_status cmath_matrix_inverse(const cmath_matrix* m, cmath_matrix* out) {
  CSYS_REQUIRE(m != nullptr && out != nullptr);
  const double det = m->a * m->d - m->b * m->c;
  const double scale = std::fabs(m->a * m->d) + std::fabs(m->b * m->c);
  if (!std::isfinite(det) || !std::isfinite(scale) || !(std::fabs(det) > 1e-15 * scale))
    return cmath_errSingularXform;
  const cmath_matrix r{m->d / det, -m->b / det, -m->c / det, m->a / det};
  *out = r;
  return 0;
}

csys_status cmath_matrix_mapVector(const cmath_matrix* m, const cmath_vect* v, cmath_vect* out) {
  CSYS_REQUIRE(m != nullptr && v != nullptr && out != nullptr);
  const cmath_vect r{m->a * v->x + m->b * v->y, m->c * v->x + m->d * v->y};
  *out = r;
  return 0;
}

// ---- perspective transforms -------------------------------------------------------------

csys_status cmath_xformPerspective_construct(cmath_xformPerspective* x) {
  CSYS_REQUIRE(x != nullptr);
  identity3(x->h);
  return 0;
}

csys_status cmath_xformPerspective_destruct(cmath_xformPerspective* x) {
  CSYS_REQUIRE(x != nullptr);
  std::memset(x->h, 0, sizeof x->h);
  return 0;
}

csys_status cmath_xformPerspective_constructPointsAllowNonUnique(cmath_xformPerspective* x, const cmath_vect* from,
                                                                 const cmath_vect* to, uint32_t count) {
  CSYS_REQUIRE(x != nullptr && (count == 0 || (from != nullptr && to != nullptr)));
  identity3(x->h);
  if (count < 4) return cmath_errDegeneratePoints;
  for (uint32_t i = 0; i < count; ++i)
    if (!finite(from[i]) || !finite(to[i])) return cmath_errDegeneratePoints;

  double Tf[9], Tfi[9], Tt[9], Tti[9];
  if (!conditioning(from, count, Tf, Tfi) || !conditioning(to, count, Tt, Tti)) return cmath_errDegeneratePoints;
  double hn[9];
  if (!solveConditioned(from, to, count, Tf, Tt, hn)) return cmath_errDegeneratePoints;
  // A fit that collapses the plane (singular) can satisfy the equations trivially by sending a
  // point to (0, 0, 0); it is no transform.
  if (collapses(hn)) return cmath_errDegeneratePoints;
  // Undo the conditioning: H = Tt^-1 * Hn * Tf.
  double h[9];
  mul3(hn, Tf, h);
  mul3(Tti, h, h);
  normalise3(h);
  if (singular3(h)) return cmath_errDegeneratePoints;
  std::memcpy(x->h, h, sizeof h);
  return 0;
}

csys_status cmath_xformPerspective_initMatrix(cmath_xformPerspective* x, const double h[9]) {
  CSYS_REQUIRE(x != nullptr && h != nullptr);
  if (singular3(h)) return cmath_errSingularXform;
  double r[9];
  std::memcpy(r, h, sizeof r);
  normalise3(r);
  std::memcpy(x->h, r, sizeof r);
  return 0;
}

csys_status cmath_xformPerspective_initLinear(cmath_xformPerspective* x, const cmath_xformLinear* linear) {
  CSYS_REQUIRE(x != nullptr && linear != nullptr);
  const double h[9] = {linear->m.a, linear->m.b, linear->t.x, linear->m.c, linear->m.d, linear->t.y, 0, 0, 1};
  cmath_matrix inv;
  if (CSYS_FAILED(cmath_matrix_inverse(&linear->m, &inv)) || !finite(linear->t)) return cmath_errSingularXform;
  std::memcpy(x->h, h, sizeof h);
  return 0;
}

csys_status cmath_xformPerspective_mapPoint(const cmath_xformPerspective* x, const cmath_vect* p, cmath_vect* out) {
  CSYS_REQUIRE(x != nullptr && p != nullptr && out != nullptr);
  const double* h = x->h;
  const double w = h[6] * p->x + h[7] * p->y + h[8];
  if (w == 0.0) return cmath_errPointAtInfinity;
  const cmath_vect r{(h[0] * p->x + h[1] * p->y + h[2]) / w, (h[3] * p->x + h[4] * p->y + h[5]) / w};
  if (!finite(r)) return cmath_errPointAtInfinity;
  *out = r;
  return 0;
}

csys_status cmath_xformPerspective_getInverse(const cmath_xformPerspective* x, cmath_xformPerspective* out) {
  CSYS_REQUIRE(x != nullptr && out != nullptr);
  if (singular3(x->h)) return cmath_errSingularXform;
  double r[9];
  adjugate3(x->h, r);
  normalise3(r);
  std::memcpy(out->h, r, sizeof r);
  return 0;
}

// ---- the general transform ----------------------------------------------------------------

csys_status cmath_xform_initIdentity(cmath_xform* x) {
  CSYS_REQUIRE(x != nullptr);
  x->kind = CMATH_XFORM_LINEAR;
  cmath_xformLinear_initIdentity(&x->linear);
  identity3(x->perspective.h);
  return 0;
}

csys_status cmath_xform_initLinear(cmath_xform* x, const cmath_xformLinear* linear) {
  CSYS_REQUIRE(x != nullptr && linear != nullptr);
  x->linear = *linear;
  x->kind = CMATH_XFORM_LINEAR;
  identity3(x->perspective.h);
  return 0;
}

csys_status cmath_xform_initPerspective(cmath_xform* x, const cmath_xformPerspective* perspective) {
  CSYS_REQUIRE(x != nullptr && perspective != nullptr);
  x->perspective = *perspective;
  x->kind = CMATH_XFORM_PERSPECTIVE;
  cmath_xformLinear_initIdentity(&x->linear);
  return 0;
}

csys_status cmath_xform_mapPoint(const cmath_xform* x, const cmath_vect* p, cmath_vect* out) {
  CSYS_REQUIRE(x != nullptr && p != nullptr && out != nullptr);
  if (x->kind == CMATH_XFORM_LINEAR) return cmath_xformLinear_mapPoint(&x->linear, p, out);
  if (x->kind == CMATH_XFORM_PERSPECTIVE) return cmath_xformPerspective_mapPoint(&x->perspective, p, out);
  return csys_errBadArgument;
}

csys_status cmath_xform_getInverse(const cmath_xform* x, cmath_xform* out) {
  CSYS_REQUIRE(x != nullptr && out != nullptr);
  csys_status st = csys_errBadArgument;
  cmath_xform r;
  if (x->kind == CMATH_XFORM_LINEAR) {
    cmath_xformLinear inv;
    st = cmath_xformLinear_getInverse(&x->linear, &inv);
    if (CSYS_SUCCEEDED(st)) cmath_xform_initLinear(&r, &inv);
  } else if (x->kind == CMATH_XFORM_PERSPECTIVE) {
    cmath_xformPerspective inv;
    cmath_xformPerspective_construct(&inv);
    st = cmath_xformPerspective_getInverse(&x->perspective, &inv);
    if (CSYS_SUCCEEDED(st)) cmath_xform_initPerspective(&r, &inv);
  }
  if (CSYS_SUCCEEDED(st)) *out = r;
  return st;
}

}  // extern "C"
