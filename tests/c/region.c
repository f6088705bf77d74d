/* The region, affine rectangle and mask headers compile as C, and a C program reaches the
 * region functions through the shared library; the records' layout matches the library's. */
#include "base/cmath_affineRect.h"
#include "ci_id/mask.h"
#include "ci_id/region.h"

int main(void) {
  cid_region r;
  cmath_vect c;
  if (cid_region_init(&r) != 0 || cid_region_getCenter(&r, &c) != 0) return 1;
  if (c.x != 0.5 || c.y != 0.5 || r.isAffine != 1) return 2;

  /* A trapezoid: foreshortened along Y by one half. */
  cmath_vect po = {0, 0}, px = {4, 0}, py = {1, 2}, popp = {3, 2}, q = {2, 1};
  if (cid_region_initPoPxPyPopp(&r, &po, &px, &py, &popp) != 0) return 3;

  cstd_vector_cid_region v;
  cid_region* e = 0;
  if (cstd_vector_cid_region_construct(&v, 2) != 0) return 8;
  if (cstd_vector_cid_region_getElement(&v, 1, &e) != 0 || e->popp.x != 1 || e->tightness[2] != 1) return 9;
  cstd_vector_cid_region_destruct(&v);

  /* A mask without an image answers from its list of claimed regions. */
  cid_mask mask;
  uint32_t claimed = 0;
  if (cid_mask_construct(&mask, 0) != 0) return 10;
  if (cid_mask_appendRegion(&mask, &r, 0.0) != 0) return 11;
  if (cid_mask_isPointUnMasked(&mask, &q, 0, &claimed) != 0 || claimed != 1) return 12;
  cid_mask_destruct(&mask);

  cid_fixedRegion fixed;
  if (cid_fixedRegion_initRegion(&fixed, &r) != 0 || fixed.px.x != 1024 || fixed.py.y != 512) return 13;
  return 0;
}
