/* Fixed-point regions and masks of claimed regions.
 *
 * cid_fixedRegion holds a region's corners in 1/256 pixel, for laying evenly spaced sampling
 * scans across it without floating point.
 *
 * cid_mask remembers the regions that searches have claimed, so that later searches skip seeds
 * and reject candidates lying on a symbol already found. It works either from its list of
 * regions alone, or from a mask image (8-bit, same pixel rectangle and client transform as the
 * image it was made for) on which each claimed region is drawn as a filled rotated rectangle:
 * the region's parallelogram approximation in mask-image pixels, turned like its X side, its
 * side lengths grown by the margin (client units, scaled to mask pixels by sqrt|det| of the
 * mask image's image-from-client matrix). Claimed pixels hold claimedValue (0), the others
 * freeValue (255). All claimed regions share one value, so releasing a region frees every
 * pixel of its rectangle, including any it shares with another claimed region.
 *
 * Every operation except construct and destruct accepts a null mask: it then does nothing,
 * sets its flag (if any) to 0 and returns 0. The two queries answer 1 for "claimed", whatever
 * their names suggest. Other pointers are asserted (csys_errAssertion). */
#ifndef IDUT_CI_ID_MASK_H
#define IDUT_CI_ID_MASK_H

#include "base/cimg.h"
#include "ci_id/region.h"
#include "ci_id/typecheck.h"

IDUT_EXTERN_C_BEGIN

/* A point in 1/256 pixel. */
typedef struct cid_fixedPoint {
  int32_t x;
  int32_t y;
} cid_fixedPoint;

typedef struct cid_fixedRegion {
  cid_fixedPoint po;
  cid_fixedPoint px;
  cid_fixedPoint py;
  cid_fixedPoint popp;
  uint32_t isAffine;
} cid_fixedRegion;

/* Converts each coordinate v to trunc(v * 256 + 0.5) when v >= 0 and trunc(v * 256 -
 * 0.4999999999) when v < 0 (halves round up: -2.5/256 gives -2, 2.5/256 gives 3) and copies
 * isAffine. csys_errBadArgument (fixed region untouched) when a coordinate is not finite or does
 * not fit in 32 bits. */
IDUT_API csys_status cid_fixedRegion_initRegion(cid_fixedRegion* fixed, const cid_region* region);
/* The first of n scans across the region, at the middle of the first of n equal bands along the
 * Y sides, and the step to the next: with a = (py - po) / 2n and b = (popp - px) / 2n per
 * component (integer division truncating toward zero), scan i runs from po + a + 2i a to
 * px + b + 2i b. first[0], first[1] receive the first scan's ends; step[0] = 2a and
 * step[1] = 2b. n >= 1 (asserted). */
IDUT_API csys_status cid_fixedRegion_sampleScans(const cid_fixedRegion* fixed, int32_t n, cid_fixedPoint first[2],
                                                 cid_fixedPoint step[2]);

struct cid_mask {
  cimg_image image;               /* the mask image; unbound without one */
  cstd_vector_cid_region regions; /* the claimed regions, oldest first */
  uint32_t testCenter;            /* region test: is the query's center in a claimed region (1) */
  uint32_t testCorners;           /* region test: does the query coincide with a claimed region (1) */
  uint32_t hasImage;              /* 1 when the mask image is in use */
  uint8_t freeValue;              /* 255 */
  uint8_t claimedValue;           /* 0 */
  cimg_window window;             /* the mask image's window (all zero without an image) */
};
typedef struct cid_mask cid_mask;

/* An empty mask. With image null, the mask works from its region list and its image stays
 * unbound. Otherwise the mask image gets new pixels of the image's window size at the window's
 * position, all freeValue, and the image's client transform; hasImage 1. image must then have
 * pixels (csys_errImageUnbound otherwise). Fails with the allocation's status and leaves nothing
 * allocated. */
IDUT_API csys_status cid_mask_construct(cid_mask* mask, const cimg_imageConst* image);
/* Frees the region list and the image; hasImage 0. */
IDUT_API csys_status cid_mask_destruct(cid_mask* mask);

/* Claims a region: appends it to the list and, with an image, paints it with claimedValue.
 * margin (client units) grows both side lengths of the painted rectangle; a margin that shrinks
 * a side below 0 paints nothing along it. On failure the mask is unchanged: csys_errNoMemory,
 * csys_errBadArgument for a margin or region that is not finite (image only), the transform's
 * failure when the mask image's transform is singular. */
IDUT_API csys_status cid_mask_appendRegion(cid_mask* mask, const cid_region* region, double margin);
/* Releases the region at index (-1: the last): with an image its rectangle is painted back to
 * freeValue first, then it leaves the list. index must name a region (asserted; an empty list
 * has none). Use the margin it was claimed with to restore the image exactly. */
IDUT_API csys_status cid_mask_removeRegion(cid_mask* mask, int32_t index, double margin);
/* Replaces the region at index (-1: the last); with an image the old rectangle is freed and the
 * new one claimed, both with this margin. */
IDUT_API csys_status cid_mask_updateRegion(cid_mask* mask, int32_t index, const cid_region* region, double margin);

/* *isMasked = 1 when the point, mapped through xform (null: as it is), is claimed. Without an
 * image: it lies inside a claimed region (cid_region_within). With one: the mask pixel under it
 * (floor of its mask-image coordinates) holds claimedValue; points off the image are not
 * claimed. Fails only when the mask image's transform is singular. */
IDUT_API csys_status cid_mask_isPointUnMasked(const cid_mask* mask, const cmath_vect* point,
                                              const cmath_xformLinear* xform, uint32_t* isMasked);
/* *isMasked = 1 when the region, mapped through xform (null: as it is), falls on a claimed one:
 * with testCenter, its center lies inside a claimed region; with testCorners, the corners
 * (Po, Px, Py, Popp) of its parallelogram approximation match those of a claimed region's, in
 * one of the four cyclic shifts of that list, to within distance (mapped through xform's
 * matrix) in each coordinate. The mask image is not consulted. One of testCenter and
 * testCorners must be set (asserted). */
IDUT_API csys_status cid_mask_isRegionUnMasked(const cid_mask* mask, const cid_region* region,
                                               const cmath_xformLinear* xform, double distance, uint32_t* isMasked);

IDUT_EXTERN_C_END

#endif
