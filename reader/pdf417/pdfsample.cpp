#include "reader/pdf417/pdfsample.hpp"

#include "reader/pdf417/pdftables.hpp"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pdf417 {

namespace {

// A line through points, refitted three times without the points further off it than the larger
// of tolerance and three times the median distance (a stray point or two far off pull the first
// fit aside); at least half the points must lie within tolerance of the last.
bool robustLine(const std::vector<cmath_vect>& points, double tolerance, dmroad::EdgeLine* line) {
  if (points.size() < 2 || !dmroad::fitLine(points, line)) return false;
  std::vector<cmath_vect> kept;
  std::vector<double> off(points.size());
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < points.size(); ++i) off[i] = dmroad::offLine(*line, points[i]);
    std::vector<double> sorted = off;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double limit = round == 2 ? tolerance : std::max(tolerance, 3 * sorted[sorted.size() / 2]);
    kept.clear();
    for (size_t i = 0; i < points.size(); ++i)
      if (off[i] <= limit) kept.push_back(points[i]);
    if (kept.size() * 2 <= points.size() || !dmroad::fitLine(kept, line)) return false;
  }
  return true;
}

// One line's samples from u0 by du, the map's numerators and denominator stepped along it (they
// are linear in u): three bilinear samples across the line at +-across each (Average), or one.
template <bool Inside, bool Average>
void sampleLine(const cimg_windowConst& w, const dmroad::SquareToQuad& m, double u0, double du, double v,
                cmath_vect across, bool invert, std::vector<float>* profile) {
  double nx = m.a * u0 + m.b * v + m.c, ny = m.d * u0 + m.e * v + m.f, dn = m.g * u0 + m.h * v + 1;
  const double sx = m.a * du, sy = m.d * du, sd = m.g * du;
  const float flip = invert ? 255.0f : 0.0f, sign = invert ? -1.0f : 1.0f;
  for (float& out : *profile) {
    const double k = 1 / dn, x = nx * k, y = ny * k;
    nx += sx;
    ny += sy;
    dn += sd;
    double value;
    if (Inside) {
      value = !Average ? dmroad::sampleUnclamped(w, x, y)
                       : (dmroad::sampleUnclamped(w, x - across.x, y - across.y) + dmroad::sampleUnclamped(w, x, y) +
                          dmroad::sampleUnclamped(w, x + across.x, y + across.y)) *
                             (1.0 / 3);
    } else if (!dmroad::sampleNeedsNoClamp(w, cmath_vect{x, y})) {
      out = kOutside;
      continue;
    } else if (!Average) {
      value = dmroad::sampleUnclamped(w, x, y);  // sampleAt's value where nothing is clamped
    } else if (x >= 1 && y >= 1 && x < w.width - 1 && y < w.height - 1) {
      // Half a pixel in from the border the points either side (0.35 pixels off) need no clamp
      // either: the line's run inside the image is sampled without the clamps.
      value = (dmroad::sampleUnclamped(w, x - across.x, y - across.y) + dmroad::sampleUnclamped(w, x, y) +
               dmroad::sampleUnclamped(w, x + across.x, y + across.y)) *
              (1.0 / 3);
    } else {
      value = (dmroad::sampleAt(w, x - across.x, y - across.y) + dmroad::sampleAt(w, x, y) +
               dmroad::sampleAt(w, x + across.x, y + across.y)) *
              (1.0 / 3);
    }
    out = flip + sign * static_cast<float>(value);
  }
}

// Gives the samples beyond the image the line's lightest level (0 at least). Four lanes at a time
// with SSE2: samples are grey levels and kOutside, never a NaN, so the lightest is the same in any
// order, and a lane is replaced exactly where it holds kOutside.
void resolveOutside(std::vector<float>* profile) {
  float* p = profile->data();
  const size_t n = profile->size();
  float lightest = 0;
  size_t i = 0;
#if defined(__SSE2__)
  __m128 light = _mm_setzero_ps();
  for (; i + 4 <= n; i += 4) light = _mm_max_ps(_mm_loadu_ps(p + i), light);
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, light);
  lightest = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
#endif
  for (; i < n; ++i) lightest = std::max(lightest, p[i]);
  i = 0;
#if defined(__SSE2__)
  const __m128 outside = _mm_set1_ps(kOutside), fill = _mm_set1_ps(lightest);
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_loadu_ps(p + i), beyond = _mm_cmpeq_ps(v, outside);
    _mm_storeu_ps(p + i, _mm_or_ps(_mm_and_ps(beyond, fill), _mm_andnot_ps(beyond, v)));
  }
#endif
  for (; i < n; ++i)
    if (p[i] == kOutside) p[i] = lightest;
}

// Where the lines met one side of the symbol, with each line's v and the row its end there lies
// in.
struct SidePoints {
  std::vector<cmath_vect> points;
  std::vector<double> vs;
  std::vector<int> rows;
  void add(const cmath_vect& p, double v, int row) {
    points.push_back(p);
    vs.push_back(v);
    rows.push_back(row);
  }
  // The v of the side's ends, the rows' continuous coordinate running at slope a unit of v (as
  // across the whole scan) and offset to the middles of the rows' lines at this side (r + 0.5
  // where row r's lines lie on average), taken at 0 and at rows. False when fewer than two rows
  // have lines here.
  bool ends(int rowCount, double slope, double* first, double* last) const {
    std::vector<double> sum(static_cast<size_t>(rowCount), 0.0);
    std::vector<int> count(static_cast<size_t>(rowCount), 0);
    for (size_t i = 0; i < vs.size(); ++i) {
      if (rows[i] < 0 || rows[i] >= rowCount) continue;
      sum[rows[i]] += vs[i];
      ++count[rows[i]];
    }
    int n = 0;
    double base = 0;
    for (int r = 0; r < rowCount; ++r) {
      if (count[r] == 0) continue;
      base += r + 0.5 - slope * sum[r] / count[r];
      ++n;
    }
    if (n < 2 || slope == 0) return false;
    base /= n;
    *first = -base / slope;
    *last = (rowCount - base) / slope;
    return true;
  }
};

// Where a line read from its start pattern that did not see the stop pattern meets the far
// side: a module (compact PDF417's last bar) past where its last data column ends, or the stop
// pattern's 18 modules past where the right row indicator ends, in the module of the line's last
// word there (under perspective the module changes along the line); -1 where the walk did not
// reach so far.
float farEnd(const LineRead& r, const CodewordGrid& grid) {
  const size_t after = static_cast<size_t>(grid.columns) + (grid.compact ? 1 : 2);
  if (r.slotStart.size() <= after) return -1;
  const float module = (r.slotStart[after] - r.slotStart[after - 1]) / kModulesPerWord;
  return r.slotStart[after] + (grid.compact ? 1 : 18) * module;
}

}  // namespace

bool sampleProfiles(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, const Sampling& how,
                    Scan* scan) {
  const cmath_vect p00 = corners[0], p10 = corners[1], p11 = corners[2], p01 = corners[3];
  const double width = std::max(dmroad::distance(p00, p10), dmroad::distance(p01, p11));
  const double height = std::max(dmroad::distance(p00, p01), dmroad::distance(p10, p11));
  if (!std::isfinite(width) || !std::isfinite(height) || width < 8 || height < 2 || width > 1e5 || height > 1e5 ||
      !(how.pitch > 0) || !(how.step > 0))
    return false;
  scan->map = dmroad::SquareToQuad(p00, p10, p11, p01);
  const double mu = 0.06 + 6 / width, mv = 0.02 + 2 / height;
  const int lines = how.at.empty() ? std::clamp(static_cast<int>(height * (1 + 2 * mv) / how.pitch), 8, 1500)
                                   : static_cast<int>(std::min<size_t>(how.at.size(), 1500));
  const int samples = std::clamp(static_cast<int>(width * (1 + 2 * mu) / how.step), 64, 12000);
  scan->mu = mu;
  scan->samples = samples;
  scan->resolved = how.resolve;
  scan->profiles.assign(lines, std::vector<float>(samples));
  scan->vs.resize(lines);
  const double u0 = -mu + (1 + 2 * mu) * 0.5 / samples, du = (1 + 2 * mu) / samples;
  for (int l = 0; l < lines; ++l) {
    const double v = how.at.empty() ? -mv + (1 + 2 * mv) * (l + 0.5) / lines : how.at[l];
    if (!std::isfinite(v)) return false;
    scan->vs[l] = v;
    const cmath_vect mid = scan->map.map(0.5, v), below = scan->map.map(0.5, v + 1 / height);
    double ax = below.x - mid.x, ay = below.y - mid.y;
    const double norm = std::hypot(ax, ay);
    if (!(norm > 0) || !std::isfinite(norm)) return false;
    ax *= 0.35 / norm;
    ay *= 0.35 / norm;
    const cmath_vect a = scan->map.map(-mu, v), b = scan->map.map(1 + mu, v);
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) return false;
    // Inside when the ends are and the map has no pole between them (its denominator, linear in u,
    // keeps its sign): the points between then lie on the segment joining the ends.
    const double d0 = scan->map.g * -mu + scan->map.h * v + 1, d1 = scan->map.g * (1 + mu) + scan->map.h * v + 1;
    if (!(d0 * d1 > 0)) return false;  // the line crosses the map's horizon
    const bool inside = dmroad::samplesUnclamped(w, {cmath_vect{a.x - ax, a.y - ay}, cmath_vect{a.x + ax, a.y + ay},
                                                     cmath_vect{b.x - ax, b.y - ay}, cmath_vect{b.x + ax, b.y + ay}});
    std::vector<float>& profile = scan->profiles[l];
    const cmath_vect across{ax, ay};
    if (inside) {
      if (how.average) sampleLine<true, true>(w, scan->map, u0, du, v, across, how.invert, &profile);
      else sampleLine<true, false>(w, scan->map, u0, du, v, across, how.invert, &profile);
      continue;
    }
    if (how.average) sampleLine<false, true>(w, scan->map, u0, du, v, across, how.invert, &profile);
    else sampleLine<false, false>(w, scan->map, u0, du, v, across, how.invert, &profile);
    if (how.resolve) resolveOutside(&profile);
  }
  return true;
}

bool outlineOf(const Scan& scan, const std::vector<ScannedLine>& lines, const CodewordGrid& grid, bool reversed,
               std::array<cmath_vect, 4>* outline) {
  const int widthModules = grid.compact ? 35 + 17 * grid.columns : 69 + 17 * grid.columns;
  // Each end of a line placed in the row its own indicator names; without one (compact symbols
  // have no right indicator), in the row the line was read in.
  SidePoints left, right, leftFromRight, rightFromLeft;
  auto rowAt = [](const std::vector<int>& rows, size_t i) { return i < rows.size() ? rows[i] : -1; };
  const bool rightIndicators = std::count_if(grid.rightRows.begin(), grid.rightRows.end(), [](int r) { return r >= 0; }) >= 2;
  for (size_t i = 0; i < lines.size(); ++i) {
    const ScannedLine& l = lines[i];
    const LineRead& r = l.read;
    if (r.cluster < 0) continue;
    const int leftRow = rowAt(grid.leftRows, i), rightRow = rightIndicators ? rowAt(grid.rightRows, i) : rowAt(grid.lineRows, i);
    float end = r.stopEnd;
    if (end < 0 && !r.fromStop) end = farEnd(r, grid);
    if (r.startEdge >= 0) {
      left.add(scan.pointAt(r.startEdge, l.v, reversed), l.v, leftRow);
      rightFromLeft.add(scan.pointAt(r.startEdge + widthModules * r.module, l.v, reversed), l.v, leftRow);
    }
    if (end >= 0) {
      right.add(scan.pointAt(end, l.v, reversed), l.v, rightRow);
      leftFromRight.add(scan.pointAt(end - widthModules * r.module, l.v, reversed), l.v, rightRow);
    }
  }
  if (left.points.size() < 2) left = leftFromRight;
  if (right.points.size() < 2) right = rightFromLeft;
  dmroad::EdgeLine leftLine, rightLine;
  if (!robustLine(left.points, 1.5, &leftLine) || !robustLine(right.points, 1.5, &rightLine) || grid.rowPerV == 0)
    return false;
  // Each side's ends where the rows of the lines that met it put the first row's outer edge and
  // the last one's (the rows the two ends of a line lie in differ where the lines slant across
  // the rows, as they do when the corners read from are a little off); failing that, where the
  // rows across the whole scan put them. The rows' outer edges
  // follow the scan's lines of constant v there, which the projective map keeps straight.
  auto rowLine = [&](double v) {
    const cmath_vect a = scan.map.map(0, v), b = scan.map.map(1, v);
    const double length = dmroad::distance(a, b);
    return dmroad::EdgeLine{a, cmath_vect{(b.x - a.x) / length, (b.y - a.y) / length}};
  };
  const double vTop = -grid.rowBase / grid.rowPerV, vBottom = (grid.rows - grid.rowBase) / grid.rowPerV;
  double leftTop = vTop, leftBottom = vBottom, rightTop = vTop, rightBottom = vBottom;
  if (!left.ends(grid.rows, grid.rowPerV, &leftTop, &leftBottom)) leftTop = vTop, leftBottom = vBottom;
  if (!right.ends(grid.rows, grid.rowPerV, &rightTop, &rightBottom)) rightTop = vTop, rightBottom = vBottom;
  cmath_vect q[4];
  if (!dmroad::crossing(leftLine, rowLine(leftTop), &q[0]) || !dmroad::crossing(rightLine, rowLine(rightTop), &q[1]) ||
      !dmroad::crossing(rightLine, rowLine(rightBottom), &q[2]) || !dmroad::crossing(leftLine, rowLine(leftBottom), &q[3]))
    return false;
  *outline = {q[0], q[1], q[2], q[3]};
  for (const cmath_vect& p : *outline)
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  return dmroad::convexQuad(*outline);
}

}  // namespace pdf417
