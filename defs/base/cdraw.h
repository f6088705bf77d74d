/* Drawing into 8-bit images: the rotated-rectangle rasteriser used to paint claimed regions into
 * a mask image and to erase them again. */
#ifndef IDUT_CDRAW_H
#define IDUT_CDRAW_H

#include "base/cimg.h"

IDUT_EXTERN_C_BEGIN

/* Replaces fromValue by toValue in every pixel of the image's window that lies inside a rotated
 * rectangle; all other pixels, and everything outside the window, are left alone.
 *
 *  image      the image written; only its window is touched. Coordinates below are image
 *             coordinates, the same as the window's x0, y0: pixel (x, y) covers the unit square
 *             [x, x + 1) x [y, y + 1) and its centre is (x + 0.5, y + 0.5).
 *  center     the rectangle's centre.
 *  width      the length of the rectangle's side along (cos angle, sin angle); >= 0.
 *  height     the length of the side along (-sin angle, cos angle); >= 0.
 *  angle      the rotation of the width side from the x axis, radians.
 *  fromValue  the value a pixel must hold to be changed (so drawing an ID over pixels that
 *             already carry another ID leaves them alone).
 *  toValue    the value written.
 *
 * Which pixels are inside: pixel (x, y) is inside when its centre c, in the rectangle's own
 * frame s = (c - center) . (cos angle, sin angle), t = (c - center) . (-sin angle, cos angle),
 * satisfies -width/2 <= s < width/2 and -height/2 <= t < height/2. The half-open rule makes
 * two rectangles that share a side paint disjoint pixel sets, and a rectangle of zero width or
 * height paints nothing (success).
 *
 * The pixel set depends only on the geometry arguments, so drawing with (a, b) and then with
 * (b, a) restores every pixel that held a before; in particular painting a region into a mask
 * whose pixels inside all hold the free value and then erasing it restores the mask exactly.
 *
 * Failures: csys_errImageUnbound when the image has no pixels; csys_errBadArgument when a
 * coordinate, size or the angle is not finite or a size is negative. Nothing is written then. */
IDUT_API csys_status cdraw_rasterize_rotatedRectangle_forID(cimg_image* image, const cmath_vect* center, double width,
                                                            double height, double angle, uint8_t fromValue,
                                                            uint8_t toValue);

IDUT_EXTERN_C_END

#endif
