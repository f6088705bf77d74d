/* Orthogonal (total) least-squares line fitting.
 *
 * Every fit minimises the sum of squared perpendicular distances of the points from the line;
 * the fitted direction is the principal axis of the points. Three forms:
 *  - cidut_lineFitting: one shot over an array of points (usable from C);
 *  - ccCidLSLineFitter: an accumulator of six running sums, so fits can be merged, mapped
 *    through an affine transform and re-evaluated in O(1);
 *  - cidut_line_fit: a robust fit that leaves out a given number of outliers by trying every
 *    choice of points to leave out and keeping the one with the smallest residual.
 *
 * From the sums of n points: mx = Sx/n, my = Sy/n, A = Sxx - Sx*mx, B = 2*(Sxy - Sx*my),
 * E = Syy - Sy*my; with r = sqrt(B^2 + (A-E)^2), k = (A-E)/r, the principal direction is
 * (c, s) = (sqrt((1+k)/2), sqrt((1-k)/2)), c negated when B < 0, and d = -mx*s + my*c is the
 * signed distance of the line through the centroid from the origin along the normal (-s, c).
 * The sums are taken about the origin, so very large coordinates lose precision. */
#ifndef IDUT_CI_ID_LINEFIT_H
#define IDUT_CI_ID_LINEFIT_H

#include "ci_id/line.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* Fits count points (pairs of doubles). On success dir is the principal direction and
 * pos = d * (-dir.y, dir.x) is the point of the line nearest the origin, with d >= 0 the
 * origin's distance from the line. Fails with cidut_errFitFailed, line untouched, when count
 * is below 2 or the direction is undefined (B and A - E both exactly 0: coincident or
 * perfectly isotropic points such as the corners of a square). */
IDUT_API csys_status cidut_lineFitting(cidut_line* line, const cmath_vect* points, int32_t count);

IDUT_EXTERN_C_END

#ifdef __cplusplus

#include "base/cx.hpp"

class ccCidLSLineFitter;
// The fitter of the points mapped through xform (p' = M p + t), from the sums alone.
IDUT_API ccCidLSLineFitter operator*(const cx2Xform& xform, const ccCidLSLineFitter& fitter) noexcept;

// Accumulates the sums of x, y, x^2, y^2 and x*y over the points given to it. A value class:
// copying, merging and transforming cost O(1) whatever the number of points.
class IDUT_API ccCidLSLineFitter {
 public:
  // An empty fitter: every sum and the count 0.
  ccCidLSLineFitter() noexcept = default;
  // Resets, then updates with every point in order.
  explicit ccCidLSLineFitter(const cxVector<cx2Vect>& points) noexcept;

  void update(const cx2Vect& point) noexcept;
  void reset() noexcept;
  int32_t numPoints() const noexcept { return n_; }

  double sumX() const noexcept { return sumX_; }
  double sumY() const noexcept { return sumY_; }
  double sumXX() const noexcept { return sumXX_; }
  double sumYY() const noexcept { return sumYY_; }
  double sumXY() const noexcept { return sumXY_; }

  // Member-wise sums: the fitter of both point sets together.
  ccCidLSLineFitter& operator+=(const ccCidLSLineFitter& other) noexcept;
  ccCidLSLineFitter operator+(const ccCidLSLineFitter& other) const noexcept;

  // Fits the accumulated points. Returns false, line untouched, when fewer than 2 points were
  // given or the direction is undefined (|B| < 1e-12 and |A - E| < 1e-12). The line is built
  // with cidut_line_initAngDis from the direction angle and the origin's distance, so pos is an
  // axis intercept, not the centroid. (Were that construction to fail, cxException with its
  // status, the path src/id/idut/linefit and the line would be thrown.)
  bool fit(cidut_line& line) const;
  // The same fit; throws cxException(cidut_errFitFailed, no message) where the other returns
  // false.
  cidut_line fit() const;
  // The fit and its residual: with line non-null the fitted line is stored as by fit(); with
  // error non-null it receives the sum (not the mean) of squared perpendicular distances of the
  // accumulated points from that line, from the sums alone. False (nothing stored) under the
  // same conditions as fit().
  bool fitAndError(cidut_line* line, double* error) const;
  // The sum of squared perpendicular distances of the accumulated points from any line (dir of
  // unit length), from the sums alone.
  double error(const cidut_line& line) const;

  friend ccCidLSLineFitter operator*(const cx2Xform& xform, const ccCidLSLineFitter& fitter) noexcept;

 private:
  int32_t n_ = 0;
  double sumX_ = 0.0;
  double sumY_ = 0.0;
  double sumXX_ = 0.0;
  double sumYY_ = 0.0;
  double sumXY_ = 0.0;
};

// Parameters of the robust fit.
struct cidut_linefit_params {
  int32_t numOutliers;  // how many points to leave out (0 for a plain fit)
  double maxRms;        // a fit with rms below this is accepted
};

// Result of the robust fit.
struct cidut_linefit_result {
  bool accepted = false;  // rms < params.maxRms
  cidut_line line{};      // the fitted line (pos an axis intercept, as from ccCidLSLineFitter::fit)
  double rms = 0.0;       // root mean square perpendicular distance of the points used
  cidut_linefit_params params{};  // copy of the parameters of the fit
  cxVector<uint32_t> removed;     // input indices of the points left out, largest first
  double timeMs = 0.0;            // duration of the fit in milliseconds
};
static_assert(sizeof(bool) == 1, "accepted is an 8-bit flag");

IDUT_EXTERN_C_BEGIN

/* Stores both parameters. */
IDUT_API csys_status cidut_linefit_params_set(cidut_linefit_params* params, int32_t numOutliers, double maxRms);
/* accepted false; line, rms, params and timeMs zero; removed emptied (its storage kept). */
IDUT_API csys_status cidut_linefit_result_init(cidut_linefit_result* result);
/* Robust fit of the N points, leaving out k = params->numOutliers of them (k >= 0 is asserted).
 * k = 0 fits all points. For k > 0 every set of k indices is tried, in the order
 * (k-1, ..., 1, 0), (k, k-2, ..., 0), ... with the leading (largest) index moving fastest; the
 * remaining N - k points are fitted and the set whose rms over those points is strictly
 * smallest wins (ties keep the earlier set). Costs C(N, k) fits of N - k points.
 * Failures:
 *   cidut_errTooFewPoints  N < k + 2 (result untouched); the plain fit is impossible
 *                          (coincident or isotropic points); no set gave a fit;
 *   csys_errNoMemory       storage for the index sets or the removed indices could not be had;
 *   the attention check's failure, polled once per index set.
 * On success every field of the result is written; on a failure after the point count check
 * the result is left as cidut_linefit_result_init leaves it. */
IDUT_API csys_status cidut_line_fit(const cidut_linefit_params* params, const cxVector<cx2Vect>* points,
                                    cidut_linefit_result* result);

IDUT_EXTERN_C_END

#endif /* __cplusplus */

#endif
