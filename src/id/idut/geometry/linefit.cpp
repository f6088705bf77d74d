// Orthogonal least-squares line fitting: one-shot, incremental and robust.
#include "ci_id/linefit.h"

#include <cmath>
#include <limits>
#include <new>

namespace {

constexpr const char* kPath = "src/id/idut/linefit";
constexpr double kUndefined = 1e-12;  // the class's bound on |B| and |A - E| for "no direction"

// Principal axis of n points from their sums: direction (c, s) and the signed distance d of
// the line through the centroid from the origin, along the normal (-s, c).
struct Axis {
  double c, s, d;
};

struct Moments {
  double a, b, e;  // A, B and E of the scatter about the centroid
  double mx, my;
};

Moments moments(int32_t n, double sx, double sy, double sxx, double syy, double sxy) {
  Moments m;
  m.mx = sx / n;
  m.my = sy / n;
  m.a = sxx - sx * m.mx;
  m.b = 2.0 * (sxy - sx * m.my);
  m.e = syy - sy * m.my;
  return m;
}

Axis axisOf(const Moments& m) {
  const double diff = m.a - m.e;
  const double r = std::sqrt(m.b * m.b + diff * diff);
  const double k = diff / r;
  // |k| <= 1 mathematically; the clamps only guard against a rounding step past it.
  const double s = std::sqrt(std::fmax(0.0, (1.0 - k) / 2.0));
  double c = std::sqrt(std::fmax(0.0, (1.0 + k) / 2.0));
  if (m.b < 0.0) c = -c;
  return Axis{c, s, -m.mx * s + m.my * c};
}

// Squared-distance sum of the accumulated points from the line with normal (-s, c) at offset d.
double squaredDistanceSum(int32_t n, double sx, double sy, double sxx, double syy, double sxy, double c, double s,
                          double d) {
  return n * d * d + 2.0 * d * (s * sx - c * sy) + s * s * sxx + c * c * syy - 2.0 * s * c * sxy;
}

// The line of direction angle phi at distance d >= 0 from the origin.
cidut_line lineFromAngle(double phi, double d) {
  cidut_line line;
  const csys_status st = cidut_line_initAngDis(&line, phi, d);
  if (CSYS_FAILED(st)) throw cxException(st, kPath, __LINE__);
  return line;
}

// Root mean square signed distance of the points for which use(i) holds.
template <class Use>
double rmsOver(const cidut_line& line, const cxVector<cx2Vect>& points, Use use) {
  double sum = 0.0;
  size_t used = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    if (!use(i)) continue;
    const cmath_vect p = points[i];
    double dist = 0.0;
    const csys_status st = cidut_line_getDistToPoint(&line, &p, &dist);
    if (CSYS_FAILED(st)) throw cxException(st, kPath, __LINE__);
    sum += dist * dist;
    ++used;
  }
  if (used == 0) {
    cstd_assert_(__LINE__);
    return std::numeric_limits<double>::quiet_NaN();
  }
  return std::sqrt(sum / static_cast<double>(used));
}

}  // namespace

// ---- one-shot fit ------------------------------------------------------------------------

extern "C" csys_status cidut_lineFitting(cidut_line* line, const cmath_vect* points, int32_t count) {
  CSYS_REQUIRE(line != nullptr && (points != nullptr || count <= 0));
  if (count < 2) return cidut_errFitFailed;
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (int32_t i = 0; i < count; ++i) {
    const double x = points[i].x, y = points[i].y;
    sx += x;
    sy += y;
    sxx += x * x;
    syy += y * y;
    sxy += x * y;
  }
  const Moments m = moments(count, sx, sy, sxx, syy, sxy);
  if (m.b == 0.0 && m.a - m.e == 0.0) return cidut_errFitFailed;
  const Axis ax = axisOf(m);
  if (ax.d >= 0.0) {
    line->dir = cmath_vect{ax.c, ax.s};
    line->pos = cmath_vect{-ax.s * ax.d, ax.c * ax.d};
  } else {
    const double d = -ax.d;
    line->dir = cmath_vect{-ax.c, -ax.s};
    line->pos = cmath_vect{ax.s * d, -ax.c * d};
  }
  return 0;
}

// ---- incremental fitter ------------------------------------------------------------------

ccCidLSLineFitter::ccCidLSLineFitter(const cxVector<cx2Vect>& points) noexcept {
  for (const cx2Vect& p : points) update(p);
}

void ccCidLSLineFitter::update(const cx2Vect& point) noexcept {
  const double x = point.x(), y = point.y();
  ++n_;
  sumX_ += x;
  sumY_ += y;
  sumXX_ += x * x;
  sumYY_ += y * y;
  sumXY_ += x * y;
}

void ccCidLSLineFitter::reset() noexcept { *this = ccCidLSLineFitter(); }

ccCidLSLineFitter& ccCidLSLineFitter::operator+=(const ccCidLSLineFitter& other) noexcept {
  n_ += other.n_;
  sumX_ += other.sumX_;
  sumY_ += other.sumY_;
  sumXX_ += other.sumXX_;
  sumYY_ += other.sumYY_;
  sumXY_ += other.sumXY_;
  return *this;
}

ccCidLSLineFitter ccCidLSLineFitter::operator+(const ccCidLSLineFitter& other) const noexcept {
  ccCidLSLineFitter sum = *this;
  sum += other;
  return sum;
}

bool ccCidLSLineFitter::fit(cidut_line& line) const {
  if (n_ < 2) return false;
  const Moments m = moments(n_, sumX_, sumY_, sumXX_, sumYY_, sumXY_);
  if (std::fabs(m.b) < kUndefined && std::fabs(m.a - m.e) < kUndefined) return false;
  const Axis ax = axisOf(m);
  double phi = std::atan2(ax.s, ax.c), d = ax.d;
  if (d < 0.0) {
    // Turn the direction round so the origin lies on the positive side of the normal.
    phi += M_PI;
    d = -d;
  }
  line = lineFromAngle(phi, d);
  return true;
}

cidut_line ccCidLSLineFitter::fit() const {
  cidut_line line;
  if (!fit(line)) throw cxException(cidut_errFitFailed, nullptr);
  return line;
}

bool ccCidLSLineFitter::fitAndError(cidut_line* line, double* error) const {
  if (n_ < 2) return false;
  const Moments m = moments(n_, sumX_, sumY_, sumXX_, sumYY_, sumXY_);
  if (std::fabs(m.b) < kUndefined && std::fabs(m.a - m.e) < kUndefined) return false;
  Axis ax = axisOf(m);
  if (ax.d < 0.0) ax = Axis{-ax.c, -ax.s, -ax.d};
  if (line != nullptr) *line = lineFromAngle(std::atan2(ax.s, ax.c), ax.d);
  if (error != nullptr) *error = squaredDistanceSum(n_, sumX_, sumY_, sumXX_, sumYY_, sumXY_, ax.c, ax.s, ax.d);
  return true;
}

double ccCidLSLineFitter::error(const cidut_line& line) const {
  double phi = 0.0;
  const csys_status st = cmath_vect_getDirection(&line.dir, &phi);
  if (CSYS_FAILED(st)) throw cxException(st, kPath, __LINE__);
  const double s = std::sin(phi), c = std::cos(phi);
  if (!(std::fabs(s * s + c * c - 1.0) <= 1e-15)) cstd_assert_(__LINE__);
  const double d = c * line.pos.y - s * line.pos.x;
  return squaredDistanceSum(n_, sumX_, sumY_, sumXX_, sumYY_, sumXY_, c, s, d);
}

ccCidLSLineFitter operator*(const cx2Xform& xform, const ccCidLSLineFitter& f) noexcept {
  const cx2Matrix& m = xform.matrix();
  const double a = m.a, b = m.b, c = m.c, d = m.d;
  const double tx = xform.trans().x(), ty = xform.trans().y();
  const double n = f.n_;
  const double sx = f.sumX_, sy = f.sumY_, sxx = f.sumXX_, syy = f.sumYY_, sxy = f.sumXY_;
  ccCidLSLineFitter out;
  out.n_ = f.n_;
  out.sumX_ = a * sx + b * sy + tx * n;
  out.sumY_ = c * sx + d * sy + ty * n;
  out.sumXX_ = a * a * sxx + b * b * syy + tx * tx * n + 2.0 * (a * b * sxy + a * tx * sx + b * tx * sy);
  out.sumYY_ = c * c * sxx + d * d * syy + ty * ty * n + 2.0 * (c * d * sxy + c * ty * sx + d * ty * sy);
  out.sumXY_ = a * c * sxx + b * d * syy + tx * ty * n + (a * d + b * c) * sxy + (a * ty + c * tx) * sx +
               (b * ty + d * tx) * sy;
  return out;
}

// ---- robust fit --------------------------------------------------------------------------

extern "C" csys_status cidut_linefit_params_set(cidut_linefit_params* params, int32_t numOutliers, double maxRms) {
  CSYS_REQUIRE(params != nullptr);
  params->numOutliers = numOutliers;
  params->maxRms = maxRms;
  return 0;
}

extern "C" csys_status cidut_linefit_result_init(cidut_linefit_result* result) {
  CSYS_REQUIRE(result != nullptr);
  result->accepted = false;
  result->line = cidut_line{};
  result->rms = 0.0;
  result->params = cidut_linefit_params{};
  result->removed.clear();
  result->timeMs = 0.0;
  return 0;
}

namespace {

// Fits the points not flagged in `excluded` and measures their rms; false when the fit throws.
bool fitExcluding(const cxVector<cx2Vect>& points, const cxVector<uint8_t>& excluded, cidut_line& line, double& rms) {
  ccCidLSLineFitter fitter;
  for (size_t i = 0; i < points.size(); ++i)
    if (!excluded[i]) fitter.update(points[i]);
  try {
    line = fitter.fit();
    rms = rmsOver(line, points, [&](size_t i) { return !excluded[i]; });
  } catch (const cxException&) {
    return false;
  }
  return true;
}

// Tries every set of k indices out of n (k >= 1); keeps the best line and its index set.
csys_status searchOutliers(const cxVector<cx2Vect>& points, uint32_t k, cidut_line& bestLine, double& bestRms,
                           cxVector<uint32_t>& best) {
  const uint32_t n = static_cast<uint32_t>(points.size());
  cxVector<uint32_t> idx(k);
  cxVector<uint8_t> excluded(n, 0);
  best.resize(k);
  for (uint32_t j = 0; j < k; ++j) idx[j] = k - 1 - j;  // strictly decreasing: (k-1, ..., 0)
  bestRms = std::numeric_limits<double>::infinity();
  bool found = false;
  for (;;) {
    const csys_status attention = csys_attention_check();
    if (CSYS_FAILED(attention)) return attention;

    for (uint32_t j = 0; j < k; ++j) excluded[idx[j]] = 1;
    cidut_line line;
    double rms = 0.0;
    if (fitExcluding(points, excluded, line, rms) && rms < bestRms) {
      bestRms = rms;
      bestLine = line;
      best.assign(idx.begin(), idx.end());
      found = true;
    }
    for (uint32_t j = 0; j < k; ++j) excluded[idx[j]] = 0;

    // Next set: advance the lowest position that can still move (position j stays below
    // n - j), then lay the positions under it out just above it.
    uint32_t j = 0;
    while (j < k && ++idx[j] >= n - j) ++j;
    if (j == k) break;
    for (uint32_t i = j; i-- > 0;) idx[i] = idx[i + 1] + 1;
  }
  return found ? 0 : cidut_errTooFewPoints;
}

}  // namespace

extern "C" csys_status cidut_line_fit(const cidut_linefit_params* params, const cxVector<cx2Vect>* points,
                                      cidut_linefit_result* result) {
  CSYS_REQUIRE(params != nullptr && points != nullptr && result != nullptr);
  CSYS_REQUIRE(params->numOutliers >= 0 && points->size() < UINT32_MAX);
  const cidut_linefit_params p = *params;
  const uint64_t k = static_cast<uint64_t>(p.numOutliers);
  if (points->size() < k + 2) return cidut_errTooFewPoints;

  const cxTimer timer;
  cidut_linefit_result_init(result);
  cidut_line line{};
  double rms = 0.0;
  try {
    if (k == 0) {
      try {
        line = ccCidLSLineFitter(*points).fit();
        rms = rmsOver(line, *points, [](size_t) { return true; });
      } catch (const cxException&) {
        return cidut_errTooFewPoints;
      }
    } else {
      cxVector<uint32_t> best;
      const csys_status st = searchOutliers(*points, static_cast<uint32_t>(k), line, rms, best);
      if (CSYS_FAILED(st)) return st;
      result->removed.assign(best.begin(), best.end());
    }
  } catch (const std::bad_alloc&) {
    return csys_errNoMemory;
  }
  result->timeMs = timer.elapsedMs();
  result->params = p;
  result->rms = rms;
  result->line = line;
  result->accepted = rms < p.maxRms;
  return 0;
}
