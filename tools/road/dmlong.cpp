#include "road/dmlong.hpp"

#include <algorithm>
#include <cmath>


namespace dmroad {

cmath_vect LongView::toImage(cmath_vect q) const {
  const cmath_matrix& m = imageFromView.m;
  return cmath_vect{m.a * q.x + m.b * q.y + imageFromView.t.x, m.c * q.x + m.d * q.y + imageFromView.t.y};
}

LongView makeLongView(const cimg_windowConst& w, int k) {
  LongView v;
  if (w.width < 2 || w.height < 2) return v;  // empty: nothing to view
  // Image to view: turn direction theta onto 45 degrees, then shorten along 45 degrees.
  const double pi = 3.14159265358979323846;
  const double turn = pi / 4 - k * pi / kLongViewCount;
  const double c = std::cos(turn), s = std::sin(turn);
  const double e = std::sqrt(0.5), f = 1 / kLongViewSqueeze - 1;  // shorten: I + f u u^T, u = (e, e)
  const double sq[2][2] = {{1 + f * e * e, f * e * e}, {f * e * e, 1 + f * e * e}};
  const double rot[2][2] = {{c, -s}, {s, c}};
  double m[2][2];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) m[i][j] = sq[i][0] * rot[0][j] + sq[i][1] * rot[1][j];
  // The view holds the whole image: its corners' images bound it.
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  for (double x : {0.0, double(w.width)})
    for (double y : {0.0, double(w.height)}) {
      const double vx = m[0][0] * x + m[0][1] * y, vy = m[1][0] * x + m[1][1] * y;
      minX = std::min(minX, vx);
      maxX = std::max(maxX, vx);
      minY = std::min(minY, vy);
      maxY = std::max(maxY, vy);
    }
  v.width = static_cast<int32_t>(std::ceil(maxX - minX));
  v.height = static_cast<int32_t>(std::ceil(maxY - minY));
  const double det = m[0][0] * m[1][1] - m[0][1] * m[1][0];
  cmath_matrix inv{m[1][1] / det, -m[0][1] / det, -m[1][0] / det, m[0][0] / det};
  // image = inv * (view + (minX, minY))
  v.imageFromView.m = inv;
  v.imageFromView.t = cmath_vect{inv.a * minX + inv.b * minY, inv.c * minX + inv.d * minY};
  v.pixels.assign(static_cast<size_t>(v.width) * v.height, 0);
  // Stepped along each view row. View pixels outside the image repeat its border, so that the
  // view's corners hold no edges of their own.
  for (int32_t y = 0; y < v.height; ++y) {
    uint8_t* row = v.pixels.data() + static_cast<size_t>(y) * v.width;
    const cmath_vect start = v.toImage(cmath_vect{0.5, y + 0.5});
    // Pixel-centre coordinates of the image.
    double px = start.x - 0.5, py = start.y - 0.5;
    for (int32_t x = 0; x < v.width; ++x, px += inv.a, py += inv.c) {
      const double cx = std::clamp(px, 0.0, w.width - 1.0), cy = std::clamp(py, 0.0, w.height - 1.0);
      const int ix = std::min(static_cast<int>(cx), w.width - 2), iy = std::min(static_cast<int>(cy), w.height - 2);
      const double fx = cx - ix, fy = cy - iy;
      const uint8_t* q = w.pixels + static_cast<ptrdiff_t>(iy) * w.stride + ix;
      const double top = q[0] + fx * (q[1] - q[0]), bottom = q[w.stride] + fx * (q[w.stride + 1] - q[w.stride]);
      row[x] = static_cast<uint8_t>(top + fy * (bottom - top) + 0.5);
    }
  }
  return v;
}

}  // namespace dmroad
