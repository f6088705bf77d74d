// The rotated-rectangle rasteriser.
#include "base/cdraw.h"

#include <algorithm>
#include <cmath>

namespace {

struct Frame {
  double cx, cy;     // centre
  double ux, uy;     // unit vector of the width side
  double halfW, halfH;
};

// The membership rule of the header, evaluated at one pixel centre. Every pixel written goes
// through this, so the painted set is exactly the set this defines.
inline bool inside(const Frame& f, double xc, double yc) {
  const double dx = xc - f.cx, dy = yc - f.cy;
  const double s = dx * f.ux + dy * f.uy;
  const double t = -dx * f.uy + dy * f.ux;
  return s >= -f.halfW && s < f.halfW && t >= -f.halfH && t < f.halfH;
}

// Narrows [lo, hi] to the x range where |a * (x - origin) + k| <= half could hold, with a pixel
// of slack on each side for rounding (the exact test is made per pixel).
void narrow(double a, double k, double half, double origin, double& lo, double& hi) {
  if (a == 0.0) {
    if (!(std::fabs(k) <= half + 1e-9 * (std::fabs(k) + half))) hi = lo - 1.0;
    return;
  }
  double d1 = (-half - k) / a, d2 = (half - k) / a;
  if (d1 > d2) std::swap(d1, d2);
  lo = std::max(lo, origin + d1 - 1.0);
  hi = std::min(hi, origin + d2 + 1.0);
}

}  // namespace

extern "C" {

csys_status cdraw_rasterize_rotatedRectangle_forID(cimg_image* image, const cmath_vect* center, double width,
                                                   double height, double angle, uint8_t fromValue,
                                                   uint8_t toValue) {
  CSYS_REQUIRE(image != nullptr && center != nullptr);
  const cimg_window& w = image->window;
  if (w.pixels == nullptr) return csys_errImageUnbound;
  if (!std::isfinite(center->x) || !std::isfinite(center->y) || !std::isfinite(width) || !std::isfinite(height) ||
      !std::isfinite(angle) || width < 0.0 || height < 0.0)
    return csys_errBadArgument;
  if (width == 0.0 || height == 0.0 || w.width <= 0 || w.height <= 0) return 0;

  const Frame f{center->x, center->y, std::cos(angle), std::sin(angle), 0.5 * width, 0.5 * height};

  // Pixel centres are at integer + 0.5; window rows and columns span [x0, x0 + width).
  const double wx0 = w.x0, wx1 = static_cast<double>(w.x0) + w.width - 1.0;
  const double wy0 = w.y0, wy1 = static_cast<double>(w.y0) + w.height - 1.0;

  // Rows that can hold inside pixels: the rectangle's vertical extent, with slack.
  const double ext = f.halfW * std::fabs(f.uy) + f.halfH * std::fabs(f.ux);
  const double yLo = std::max(wy0, std::floor(f.cy - ext - 0.5) - 1.0);
  const double yHi = std::min(wy1, std::ceil(f.cy + ext - 0.5) + 1.0);
  if (yLo > yHi) return 0;

  for (int64_t y = static_cast<int64_t>(yLo); y <= static_cast<int64_t>(yHi); ++y) {
    const double yc = static_cast<double>(y) + 0.5;
    const double dy = yc - f.cy;
    // Column centres xc with |(xc - cx) ux + dy uy| <= halfW and |-(xc - cx) uy + dy ux| <= halfH.
    double lo = wx0 + 0.5, hi = wx1 + 0.5;
    narrow(f.ux, dy * f.uy, f.halfW, f.cx, lo, hi);
    narrow(-f.uy, dy * f.ux, f.halfH, f.cx, lo, hi);
    if (!(lo <= hi)) continue;
    const double xFirst = std::max(wx0, std::floor(lo - 0.5));
    const double xLast = std::min(wx1, std::ceil(hi - 0.5));
    uint8_t* row = w.pixels + (y - w.y0) * static_cast<int64_t>(w.stride);
    for (int64_t x = static_cast<int64_t>(xFirst); x <= static_cast<int64_t>(xLast); ++x) {
      uint8_t& p = row[x - w.x0];
      if (p == fromValue && inside(f, static_cast<double>(x) + 0.5, yc)) p = toValue;
    }
  }
  return 0;
}

}  // extern "C"
