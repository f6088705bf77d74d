#include "reader/datamatrix/dmlong.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "base/cip_affine.h"


namespace dmroad {

cmath_vect LongView::toImage(cmath_vect q) const {
  const cmath_matrix& m = imageFromView.m;
  return cmath_vect{m.a * q.x + m.b * q.y + imageFromView.t.x, m.c * q.x + m.d * q.y + imageFromView.t.y};
}

csys_status makeLongView(const cimg_windowConst& w, int k, LongView* out) {
  *out = LongView{};
  LongView v;
  if (w.width < 2 || w.height < 2) return 0;  // empty: nothing to view
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
  // The library's resampler takes view pixel (i, j) at imageFromView(i + 0.5, j + 0.5) in image
  // coordinates and repeats the window's border beyond it, so that the view's corners hold no
  // edges of their own.
  const cmath_vect po = v.toImage(cmath_vect{0, 0});
  const cmath_shapeAffineRect region{po, v.toImage(cmath_vect{double(v.width), 0}),
                                     v.toImage(cmath_vect{0, double(v.height)})};
  // The resampler holds positions within 32767 pixels; the view's corners bound them all.
  for (const cmath_vect& q : {po, region.px, region.py, v.toImage(cmath_vect{double(v.width), double(v.height)})})
    if (!(std::fabs(q.x) < kLongViewReach && std::fabs(q.y) < kLongViewReach)) return 0;
  // The source and the resampled image are destructed on every way out, the copy's own
  // allocation failing included.
  struct Images {
    cimg_imageConst source{};
    bool haveSource = false;
    cimg_image resampled{};
    bool haveResampled = false;
    ~Images() {
      if (haveResampled) cimg_image_destruct(&resampled);
      if (haveSource) cimg_imageConst_destruct(&source);
    }
  } im;
  csys_status st = cimg_imageConst_constructWrap(&im.source, w.pixels, w.width, w.height, w.stride);
  if (CSYS_FAILED(st)) return st;
  im.haveSource = true;
  st = cimg_image_constructUnbound(&im.resampled);
  if (CSYS_FAILED(st)) return st;
  im.haveResampled = true;
  st = cip_affine8(&im.source, &region, v.width, v.height, &im.resampled);
  if (CSYS_FAILED(st)) return st;
  v.pixels.resize(static_cast<size_t>(v.width) * v.height);
  const cimg_window& r = im.resampled.window;
  for (int32_t y = 0; y < v.height; ++y)
    std::memcpy(v.pixels.data() + static_cast<size_t>(y) * v.width, r.pixels + static_cast<ptrdiff_t>(y) * r.stride,
                static_cast<size_t>(v.width));
  *out = std::move(v);
  return 0;
}

}  // namespace dmroad
