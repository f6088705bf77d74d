/* Walking scan lines pixel by pixel.
 *
 * cidc_bresWalk advances a fractional Bresenham walk by one pixel along the major axis of a
 * direction (x when |dir.x| > |dir.y|, else y) and carries the slope into the minor axis's
 * 16.16 fraction, so callers can walk a line of any slope themselves. */
#ifndef IDUT_CI_ID_SCANWALK_H
#define IDUT_CI_ID_SCANWALK_H

#include "ci_id/scanshape.h"

IDUT_EXTERN_C_BEGIN

/* pixel: (column, row), moved by one step; fraction: per-axis 16.16 position inside the pixel,
 * kept in [0, 65536) (only the minor axis's changes). Asserts that the direction's minor
 * component is not larger than its major one and that the major one is at least 4. */
IDUT_API csys_status cidc_bresWalk(int32_t pixel[2], int32_t fraction[2], const cidc_unitDir16* dir);

IDUT_EXTERN_C_END

#endif
