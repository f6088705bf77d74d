// Affine resampling (bilinear, replicated border) and projection of a region onto its X side.
//
// Sampling positions advance by exact increments in 32.32 fixed point, so a row of any length
// drifts by less than 2^-32 pixel per sample; weights are the top 8 fraction bits.
#include "base/cip_affine.h"

#include <algorithm>
#include <cmath>

#include "cip_output.hpp"

namespace {

// Source sampling position of output pixel (i, j): origin + i * du + j * dv, in window-relative
// image coordinates with pixel centres on integers.
struct Mapping {
  cmath_vect origin, du, dv;
};

csys_status mapRegion(const cimg_imageConst& source, const cmath_shapeAffineRect& region, int32_t width,
                      int32_t height, Mapping* out) {
  cmath_xformLinear imageFromClient;
  if (CSYS_FAILED(cimg_imageConst_getLinearImageFromClientXform(&source, &imageFromClient)))
    return csys_errBadArgument;
  const cmath_vect ex{(region.px.x - region.po.x) / width, (region.px.y - region.po.y) / width};
  const cmath_vect ey{(region.py.x - region.po.x) / height, (region.py.y - region.po.y) / height};
  const cmath_vect first{region.po.x + 0.5 * ex.x + 0.5 * ey.x, region.po.y + 0.5 * ex.y + 0.5 * ey.y};
  cmath_vect p;
  cmath_xformLinear_mapPoint(&imageFromClient, &first, &p);
  cmath_xformLinear_mapVector(&imageFromClient, &ex, &out->du);
  cmath_xformLinear_mapVector(&imageFromClient, &ey, &out->dv);
  out->origin = cmath_vect{p.x - 0.5 - source.window.x0, p.y - 0.5 - source.window.y0};
  // Every position is a convex combination of the four corner samples: bounding those bounds all.
  for (int c = 0; c < 4; ++c) {
    const double i = (c & 1) ? width - 1 : 0, j = (c & 2) ? height - 1 : 0;
    const double x = out->origin.x + i * out->du.x + j * out->dv.x;
    const double y = out->origin.y + i * out->du.y + j * out->dv.y;
    if (!(std::fabs(x) < 32767.0) || !(std::fabs(y) < 32767.0)) return csys_errBadArgument;
  }
  return 0;
}

bool finiteRegion(const cmath_shapeAffineRect& r) {
  return std::isfinite(r.po.x) && std::isfinite(r.po.y) && std::isfinite(r.px.x) && std::isfinite(r.px.y) &&
         std::isfinite(r.py.x) && std::isfinite(r.py.y);
}

int32_t roundedLength(const cmath_vect& a, const cmath_vect& b) {
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  return length < 1.0 ? 1 : static_cast<int32_t>(std::min(std::floor(length + 0.5), 1e8));
}

constexpr double kFixOne = 4294967296.0;  // 2^32
inline int64_t toFix(double v) { return static_cast<int64_t>(std::floor(v * kFixOne + 0.5)); }

void resampleRows(const cimg_windowConst& s, const Mapping& m, cimg_window& out) {
  const int32_t W = s.width, H = s.height;
  const int64_t dux = toFix(m.du.x), duy = toFix(m.du.y);
  for (int32_t j = 0; j < out.height; ++j) {
    int64_t x = toFix(m.origin.x + j * m.dv.x), y = toFix(m.origin.y + j * m.dv.y);
    uint8_t* dst = out.pixels + static_cast<ptrdiff_t>(j) * out.stride;
    for (int32_t i = 0; i < out.width; ++i, x += dux, y += duy) {
      const int32_t xi = static_cast<int32_t>(x >> 32), yi = static_cast<int32_t>(y >> 32);
      const uint32_t fx = static_cast<uint32_t>(x >> 24) & 255u, fy = static_cast<uint32_t>(y >> 24) & 255u;
      uint32_t p00, p01, p10, p11;
      if (static_cast<uint32_t>(xi) < static_cast<uint32_t>(W - 1) &&
          static_cast<uint32_t>(yi) < static_cast<uint32_t>(H - 1)) {
        const uint8_t* p = s.pixels + static_cast<ptrdiff_t>(yi) * s.stride + xi;
        p00 = p[0];
        p01 = p[1];
        p10 = p[s.stride];
        p11 = p[s.stride + 1];
      } else {
        const int32_t x0 = std::clamp(xi, 0, W - 1), x1 = std::clamp(xi + 1, 0, W - 1);
        const uint8_t* r0 = s.pixels + static_cast<ptrdiff_t>(std::clamp(yi, 0, H - 1)) * s.stride;
        const uint8_t* r1 = s.pixels + static_cast<ptrdiff_t>(std::clamp(yi + 1, 0, H - 1)) * s.stride;
        p00 = r0[x0];
        p01 = r0[x1];
        p10 = r1[x0];
        p11 = r1[x1];
      }
      const uint32_t top = p00 * (256 - fx) + p01 * fx, bottom = p10 * (256 - fx) + p11 * fx;
      dst[i] = static_cast<uint8_t>((top * (256 - fy) + bottom * fy + 32768) >> 16);
    }
  }
}

// Grey level at a window-relative position (pixel centres on integers); false outside the window.
bool sampleAt(const cimg_windowConst& s, double x, double y, bool bilinear, uint32_t* value) {
  if (!(x >= -0.5 && y >= -0.5 && x < s.width - 0.5 && y < s.height - 0.5)) return false;
  auto at = [&](int32_t xi, int32_t yi) {
    return static_cast<double>(s.pixels[static_cast<ptrdiff_t>(std::clamp(yi, 0, s.height - 1)) * s.stride +
                                        std::clamp(xi, 0, s.width - 1)]);
  };
  if (!bilinear) {
    *value = static_cast<uint32_t>(at(static_cast<int32_t>(std::floor(x + 0.5)), static_cast<int32_t>(std::floor(y + 0.5))));
    return true;
  }
  const double fx0 = std::floor(x), fy0 = std::floor(y), fx = x - fx0, fy = y - fy0;
  const int32_t xi = static_cast<int32_t>(fx0), yi = static_cast<int32_t>(fy0);
  const double v = (at(xi, yi) * (1 - fx) + at(xi + 1, yi) * fx) * (1 - fy) +
                   (at(xi, yi + 1) * (1 - fx) + at(xi + 1, yi + 1) * fx) * fy;
  *value = static_cast<uint32_t>(std::floor(v + 0.5));
  return true;
}

}  // namespace

csys_status cip_affine8(const cimg_imageConst* source, const cmath_shapeAffineRect* region, int32_t width,
                        int32_t height, cimg_image* destination) {
  CSYS_REQUIRE(source != nullptr && region != nullptr && destination != nullptr);
  if (!cimg_imageConst_isBound(source) || source->window.width <= 0 || source->window.height <= 0)
    return csys_errImageUnbound;
  if (width < 0 || height < 0 || !finiteRegion(*region)) return csys_errBadArgument;
  if (width == 0) width = roundedLength(region->po, region->px);
  if (height == 0) height = roundedLength(region->po, region->py);
  Mapping m;
  csys_status st = mapRegion(*source, *region, width, height, &m);
  if (CSYS_FAILED(st)) return st;
  const cmath_matrix mx{(region->px.x - region->po.x) / width, (region->py.x - region->po.x) / height,
                        (region->px.y - region->po.y) / width, (region->py.y - region->po.y) / height};
  cmath_xformLinear clientFromOut;
  cmath_xformLinear_initMatrixTrans(&clientFromOut, &mx, &region->po);
  return cip::makeInto(destination, cstd_rect32{0, 0, width, height}, clientFromOut,
                       [&](cimg_window& out) { resampleRows(source->window, m, out); });
}

csys_status cip_affineProjectNorm(const cimg_imageConst* source, const cmath_shapeAffineRect* region,
                                  int32_t normalise, int32_t interpolate, cimg_image* projection, int32_t* first,
                                  int32_t* last, int32_t* count) {
  CSYS_REQUIRE(source != nullptr && region != nullptr && projection != nullptr && first != nullptr &&
               last != nullptr && count != nullptr);
  if (!cimg_imageConst_isBound(source) || source->window.width <= 0 || source->window.height <= 0)
    return csys_errImageUnbound;
  if (!finiteRegion(*region)) return csys_errBadArgument;
  const int32_t L = roundedLength(region->po, region->px), M = roundedLength(region->po, region->py);
  if (static_cast<int64_t>(L) * M > (int64_t{1} << 28)) return csys_errBadArgument;
  Mapping m;
  csys_status st = mapRegion(*source, *region, L, M, &m);
  if (CSYS_FAILED(st)) return st;
  int32_t firstBin = 0, lastBin = -1, taken = 0;
  cmath_xformLinear identity;
  cmath_xformLinear_initIdentity(&identity);
  st = cip::makeInto(projection, cstd_rect32{0, 0, L, 1}, identity, [&](cimg_window& out) {
    for (int32_t i = 0; i < L; ++i) {
      uint64_t sum = 0;
      uint32_t n = 0, v = 0;
      for (int32_t j = 0; j < M; ++j) {
        const double x = m.origin.x + i * m.du.x + j * m.dv.x, y = m.origin.y + i * m.du.y + j * m.dv.y;
        if (sampleAt(source->window, x, y, interpolate != 0, &v)) {
          sum += v;
          ++n;
        }
      }
      if (n == 0) continue;
      if (lastBin < 0) firstBin = i;
      lastBin = i;
      taken += static_cast<int32_t>(n);
      out.pixels[i] = static_cast<uint8_t>(normalise ? (sum + n / 2) / n : std::min<uint64_t>(sum, 255));
    }
  });
  if (CSYS_FAILED(st)) return st;
  *first = firstBin;
  *last = lastBin;
  *count = taken;
  return lastBin < 0 ? cip_errEmptySpan : 0;
}
