// The scene generator's projective maps: composition, inversion and the map through four point
// pairs.
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "scenes/scene.hpp"
#include "scenes/scene_geometry.hpp"

namespace scene {

using geometry::cross;

Point Homography::map(double u, double v) const {
  const double w = m[2][0] * u + m[2][1] * v + m[2][2];
  return {(m[0][0] * u + m[0][1] * v + m[0][2]) / w, (m[1][0] * u + m[1][1] * v + m[1][2]) / w};
}

Homography Homography::operator*(const Homography& rhs) const {
  Homography out;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      out.m[i][j] = 0;
      for (int k = 0; k < 3; ++k) out.m[i][j] += m[i][k] * rhs.m[k][j];
    }
  return out;
}

Homography Homography::inverse() const {
  const auto& a = m;
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  double scale = 0;
  for (const auto& row : a)
    for (double v : row) scale = std::max(scale, std::fabs(v));
  if (!(std::fabs(det) > 1e-12 * scale * scale * scale)) throw std::runtime_error("singular projective map");
  Homography out;
  out.m[0][0] = c00 / det;
  out.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  out.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  out.m[1][0] = c01 / det;
  out.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  out.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  out.m[2][0] = c02 / det;
  out.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  out.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  return out;
}

namespace {

// True when some three of the points lie on one line (relative to the points' spread).
bool hasCollinearTriple(const std::array<Point, 4>& p) {
  double spread = 0;
  for (const Point& a : p)
    for (const Point& b : p) spread = std::max(spread, std::hypot(a.x - b.x, a.y - b.y));
  for (int skip = 0; skip < 4; ++skip) {
    Point t[3];
    for (int i = 0, k = 0; i < 4; ++i)
      if (i != skip) t[k++] = p[i];
    if (!(std::fabs(cross(t[0], t[1], t[2])) > 1e-9 * spread * spread)) return true;
  }
  return false;
}

}  // namespace

Homography homographyFromPoints(const std::array<Point, 4>& from, const std::array<Point, 4>& to) {
  if (hasCollinearTriple(from) || hasCollinearTriple(to)) throw std::runtime_error("degenerate point correspondence");
  // Unknowns h00 h01 h02 h10 h11 h12 h20 h21 with h22 = 1.
  double a[8][9] = {};
  for (int i = 0; i < 4; ++i) {
    const double u = from[i].x, v = from[i].y, x = to[i].x, y = to[i].y;
    const double rowX[9] = {u, v, 1, 0, 0, 0, -u * x, -v * x, x};
    const double rowY[9] = {0, 0, 0, u, v, 1, -u * y, -v * y, y};
    std::copy(std::begin(rowX), std::end(rowX), a[2 * i]);
    std::copy(std::begin(rowY), std::end(rowY), a[2 * i + 1]);
  }
  for (int col = 0; col < 8; ++col) {
    int pivot = col;
    for (int r = col + 1; r < 8; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (std::fabs(a[pivot][col]) < 1e-12) throw std::runtime_error("degenerate point correspondence");
    std::swap(a[pivot], a[col]);
    for (int r = 0; r < 8; ++r) {
      if (r == col) continue;
      const double f = a[r][col] / a[col][col];
      for (int k = col; k < 9; ++k) a[r][k] -= f * a[col][k];
    }
  }
  Homography h;
  for (int i = 0; i < 8; ++i) h.m[i / 3][i % 3] = a[i][8] / a[i][i];
  h.m[2][2] = 1;
  return h;
}

}  // namespace scene
