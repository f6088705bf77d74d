// Fixed-point regions, and masks of claimed regions with an optional mask image.
#include "ci_id/mask.h"

#include <cmath>
#include <cstdint>

#include "base/cdraw.h"
#include "base/csys_cleanup.hpp"

namespace {

// Halves round up on both sides of zero; false when the value cannot be held.
bool toFixed(double v, int32_t* out) {
  const double scaled = v >= 0.0 ? v * 256.0 + 0.5 : v * 256.0 - 0.4999999999;
  const double t = std::trunc(scaled);
  if (!(t >= static_cast<double>(INT32_MIN) && t <= static_cast<double>(INT32_MAX))) return false;
  *out = static_cast<int32_t>(t);
  return true;
}

bool toFixed(const cmath_vect& v, cid_fixedPoint* out) { return toFixed(v.x, &out->x) && toFixed(v.y, &out->y); }

// Paints the region's rectangle into the mask image, turning `from` pixels into `to`.
csys_status drawRegion(cid_mask& mask, const cid_region& region, double margin, uint8_t from, uint8_t to) {
  if (!std::isfinite(margin)) return csys_errBadArgument;
  cmath_xformLinear imageFromClient;
  csys_status st;
  CSYS_TRY(st, cimg_image_getLinearImageFromClientXform(&mask.image, &imageFromClient));
  cid_region mapped;
  CSYS_TRY(st, cid_region_initMap(&mapped, &imageFromClient, &region));
  cmath_shapeAffineRect rect;
  CSYS_TRY(st, cid_region_getAffineRect(&mapped, &rect));
  cmath_shapeAffineRectCenter c;
  CSYS_TRY(st, cmath_shapeAffineRect_getCenter(&rect, &c));
  const cmath_matrix& m = imageFromClient.m;
  const double grow = margin * std::sqrt(std::fabs(m.a * m.d - m.b * m.c));
  // A negative margin may shrink a side to nothing; the rasteriser then paints no pixel.
  const double width = c.xLength + grow > 0.0 ? c.xLength + grow : 0.0;
  const double height = c.yLength + grow > 0.0 ? c.yLength + grow : 0.0;
  return cdraw_rasterize_rotatedRectangle_forID(&mask.image, &c.center, width, height, c.xRotation, from, to);
}

// The vector position of index (-1: the last); false when there is no such region.
bool resolveIndex(const cid_mask& mask, int32_t index, uint32_t* position) {
  uint32_t size = 0;
  cstd_vector_cid_region_getSize(&mask.regions, &size);
  if (size == 0) return false;
  if (index == -1) {
    *position = size - 1;
    return true;
  }
  if (index < 0 || static_cast<uint32_t>(index) >= size) return false;
  *position = static_cast<uint32_t>(index);
  return true;
}

bool sameCorners(const cmath_vect* a, const cmath_vect* b, double tolerance) {
  for (int s = 0; s < 4; ++s) {
    bool all = true;
    for (int k = 0; k < 4 && all; ++k) {
      const cmath_vect& p = a[(k + s) % 4];
      all = cmath_double_epsilonEqual(p.x, b[k].x, tolerance) && cmath_double_epsilonEqual(p.y, b[k].y, tolerance);
    }
    if (all) return true;
  }
  return false;
}

// Po, Px, Py, Popp of a region's parallelogram approximation.
csys_status affineCorners(const cid_region& region, cmath_vect corners[4]) {
  cmath_shapeAffineRect rect;
  csys_status st;
  CSYS_TRY(st, cid_region_getAffineRect(&region, &rect));
  cmath_shapeAffineRectPoints p;
  cmath_shapeAffineRect_getPoints(&rect, &p);
  corners[0] = p.po;
  corners[1] = p.px;
  corners[2] = p.py;
  return cmath_shapeAffineRectPoints_getPopp(&p, &corners[3]);
}

}  // namespace

extern "C" {

// ---- fixed regions -------------------------------------------------------------------------

csys_status cid_fixedRegion_initRegion(cid_fixedRegion* fixed, const cid_region* region) {
  CSYS_REQUIRE(fixed != nullptr && region != nullptr);
  cid_fixedRegion f;
  if (!toFixed(region->po, &f.po) || !toFixed(region->px, &f.px) || !toFixed(region->py, &f.py) ||
      !toFixed(region->popp, &f.popp))
    return csys_errBadArgument;
  f.isAffine = region->isAffine;
  *fixed = f;
  return 0;
}

csys_status cid_fixedRegion_sampleScans(const cid_fixedRegion* fixed, int32_t n, cid_fixedPoint first[2],
                                        cid_fixedPoint step[2]) {
  CSYS_REQUIRE(fixed != nullptr && first != nullptr && step != nullptr && n >= 1);
  // 64-bit differences: two corners far apart on opposite sides of zero do not overflow.
  const int64_t m = 2 * static_cast<int64_t>(n);
  const cid_fixedRegion& f = *fixed;
  const int64_t ax = (static_cast<int64_t>(f.py.x) - f.po.x) / m, ay = (static_cast<int64_t>(f.py.y) - f.po.y) / m;
  const int64_t bx = (static_cast<int64_t>(f.popp.x) - f.px.x) / m,
                by = (static_cast<int64_t>(f.popp.y) - f.px.y) / m;
  // |a| < 2^31, so po + a lies between po and py and fits; a step of 2a can only wrap (a defined,
  // modular conversion) when the corners lie more than 2^31 apart.
  first[0] = cid_fixedPoint{static_cast<int32_t>(f.po.x + ax), static_cast<int32_t>(f.po.y + ay)};
  first[1] = cid_fixedPoint{static_cast<int32_t>(f.px.x + bx), static_cast<int32_t>(f.px.y + by)};
  step[0] = cid_fixedPoint{static_cast<int32_t>(2 * ax), static_cast<int32_t>(2 * ay)};
  step[1] = cid_fixedPoint{static_cast<int32_t>(2 * bx), static_cast<int32_t>(2 * by)};
  return 0;
}

// ---- masks ---------------------------------------------------------------------------------

csys_status cid_mask_construct(cid_mask* mask, const cimg_imageConst* image) {
  CSYS_REQUIRE(mask != nullptr);
  csys::CleanupList cleanup;
  mask->freeValue = 255;
  mask->claimedValue = 0;
  mask->hasImage = 0;
  mask->testCenter = 1;
  mask->testCorners = 1;
  mask->window = cimg_window{0, 0, 0, 0, 0, nullptr};
  csys_status st = cstd_vector_cid_region_constructEmpty(&mask->regions);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cstd_vector_cid_region_destruct>(&mask->regions);

  if (image == nullptr) {
    st = cimg_image_constructUnbound(&mask->image);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    return cleanup.exit(0);
  }
  if (!cimg_imageConst_isBound(image)) return cleanup.exit(csys_errImageUnbound);
  const cimg_windowConst& w = image->window;
  st = cimg_image_construct(&mask->image, w.width, w.height);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cimg_image_destruct>(&mask->image);
  cimg_image_setWindowOffset(&mask->image, w.x0, w.y0);
  cimg_window mw;
  st = cimg_window_init(&mw, &mask->image);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  for (int32_t y = 0; y < mw.height; ++y)
    csys_memory_fill(mask->freeValue, static_cast<size_t>(mw.width), mw.pixels + static_cast<ptrdiff_t>(y) * mw.stride);
  st = cimg_image_setLinearClientFromImageXform(&mask->image, &image->clientFromImage);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  mask->window = mw;
  mask->hasImage = 1;
  return cleanup.exit(0);
}

csys_status cid_mask_destruct(cid_mask* mask) {
  CSYS_REQUIRE(mask != nullptr);
  const csys_status a = cstd_vector_cid_region_destruct(&mask->regions);
  const csys_status b = cimg_image_destruct(&mask->image);
  mask->hasImage = 0;
  mask->window = cimg_window{0, 0, 0, 0, 0, nullptr};
  return CSYS_FAILED(a) ? a : b;
}

csys_status cid_mask_appendRegion(cid_mask* mask, const cid_region* region, double margin) {
  if (mask == nullptr) return 0;
  CSYS_REQUIRE(region != nullptr);
  const cid_region r = *region;
  csys_status st;
  CSYS_TRY(st, cstd_vector_cid_region_pushBack(&mask->regions, &r));
  if (mask->hasImage) {
    st = drawRegion(*mask, r, margin, mask->freeValue, mask->claimedValue);
    if (CSYS_FAILED(st)) {
      cstd_vector_cid_region_popBack(&mask->regions);  // nothing was painted: undo the claim
      return st;
    }
  }
  return 0;
}

csys_status cid_mask_removeRegion(cid_mask* mask, int32_t index, double margin) {
  if (mask == nullptr) return 0;
  uint32_t position = 0;
  CSYS_REQUIRE(resolveIndex(*mask, index, &position));
  cid_region* element = nullptr;
  csys_status st;
  CSYS_TRY(st, cstd_vector_cid_region_getElement(&mask->regions, position, &element));
  const cid_region old = *element;
  // Paint first: the rasteriser writes nothing when it fails, so a failure leaves the mask whole.
  if (mask->hasImage) CSYS_TRY(st, drawRegion(*mask, old, margin, mask->claimedValue, mask->freeValue));
  return index == -1 ? cstd_vector_cid_region_popBack(&mask->regions)
                     : cstd_vector_cid_region_eraseElement(&mask->regions, element);
}

csys_status cid_mask_updateRegion(cid_mask* mask, int32_t index, const cid_region* region, double margin) {
  if (mask == nullptr) return 0;
  CSYS_REQUIRE(region != nullptr);
  uint32_t position = 0;
  CSYS_REQUIRE(resolveIndex(*mask, index, &position));
  cid_region* element = nullptr;
  csys_status st;
  CSYS_TRY(st, cstd_vector_cid_region_getElement(&mask->regions, position, &element));
  const cid_region old = *element;
  const cid_region now = *region;
  if (mask->hasImage) {
    CSYS_TRY(st, drawRegion(*mask, old, margin, mask->claimedValue, mask->freeValue));
    st = drawRegion(*mask, now, margin, mask->freeValue, mask->claimedValue);
    if (CSYS_FAILED(st)) {
      // Put the old claim back so the image and the list still agree.
      drawRegion(*mask, old, margin, mask->freeValue, mask->claimedValue);
      return st;
    }
  }
  *element = now;
  return 0;
}

csys_status cid_mask_isPointUnMasked(const cid_mask* mask, const cmath_vect* point, const cmath_xformLinear* xform,
                                     uint32_t* isMasked) {
  CSYS_REQUIRE(point != nullptr && isMasked != nullptr);
  *isMasked = 0;
  if (mask == nullptr) return 0;
  cmath_vect q = *point;
  if (xform != nullptr) cmath_xformLinear_mapPoint(xform, &q, &q);

  if (!mask->hasImage) {
    const cid_region* begin = nullptr;
    uint32_t size = 0;
    csys_status st;
    CSYS_TRY(st, cstd_vector_cid_region_getBeginSizeConst(&mask->regions, &begin, &size));
    for (uint32_t i = 0; i < size; ++i) {
      uint32_t in = 0;
      CSYS_TRY(st, cid_region_within(&begin[i], &q, &in));
      if (in) {
        *isMasked = 1;
        return 0;
      }
    }
    return 0;
  }

  cmath_xformLinear imageFromClient;
  csys_status st;
  CSYS_TRY(st, cimg_image_getLinearImageFromClientXform(&mask->image, &imageFromClient));
  cmath_vect uv;
  cmath_xformLinear_mapPoint(&imageFromClient, &q, &uv);
  const cimg_window& w = mask->window;
  const double i = std::floor(uv.x - w.x0), j = std::floor(uv.y - w.y0);
  // Compared as doubles so that far-off (or NaN) points never reach an integer conversion.
  if (!(i >= 0.0 && i < w.width && j >= 0.0 && j < w.height)) return 0;
  const uint8_t value = w.pixels[static_cast<ptrdiff_t>(j) * w.stride + static_cast<ptrdiff_t>(i)];
  *isMasked = value == mask->claimedValue ? 1u : 0u;
  return 0;
}

csys_status cid_mask_isRegionUnMasked(const cid_mask* mask, const cid_region* region, const cmath_xformLinear* xform,
                                      double distance, uint32_t* isMasked) {
  CSYS_REQUIRE(region != nullptr && isMasked != nullptr);
  *isMasked = 0;
  if (mask == nullptr) return 0;
  CSYS_REQUIRE(mask->testCenter || mask->testCorners);

  cid_region query = *region;
  double tolerance = distance;
  if (xform != nullptr) {
    cid_region_initMap(&query, xform, &query);
    const cmath_vect d{distance, 0.0};
    cmath_vect mapped;
    cmath_xformLinear_mapVector(xform, &d, &mapped);
    tolerance = cmath_vect_getLength(&mapped);
  }
  cmath_vect center;
  cmath_vect corners[4];
  csys_status st;
  CSYS_TRY(st, cid_region_getCenter(&query, &center));
  CSYS_TRY(st, affineCorners(query, corners));

  const cid_region* begin = nullptr;
  uint32_t size = 0;
  CSYS_TRY(st, cstd_vector_cid_region_getBeginSizeConst(&mask->regions, &begin, &size));
  for (uint32_t i = 0; i < size; ++i) {
    uint32_t hit = 0;
    if (mask->testCenter) CSYS_TRY(st, cid_region_within(&begin[i], &center, &hit));
    if (!hit && mask->testCorners) {
      cmath_vect claimed[4];
      CSYS_TRY(st, affineCorners(begin[i], claimed));
      hit = sameCorners(claimed, corners, tolerance) ? 1u : 0u;
    }
    if (hit) {
      *isMasked = 1;
      return 0;
    }
  }
  return 0;
}

}  // extern "C"
