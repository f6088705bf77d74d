/* Walking scan lines pixel by pixel, and the edge scan along a scan shape.
 *
 * cidc_runEdgeScan clips a shape to the usable rectangle of an roi, walks the pixels of the
 * clipped segment and appends one peak (ci_id/peakdetect.h) per edge to the caller's vector.
 * Peak positions are along-coordinates of the segment's line, so cidc_convertPeakToImage turns
 * them into client coordinates; peak values are four times the Sobel response across the edge,
 * compared with the threshold T of the parameters.
 *
 * Three walks: a row scan (dir.y = 0) or column scan (dir.x = 0) with the plain operator when
 * the gradient direction's across component is 0: the 1-2-1 column (row) sum's central
 * difference along the walk, signed by the direction of travel (dark to light ahead is
 * positive); a row or column scan with the directional operator otherwise; and a Bresenham walk
 * with the directional operator for slanted lines. The directional operator is
 * g.x * Sobel_x + g.y * Sobel_y with g = gradient scaled so that 2 max(|g|) + min(|g|) = 64;
 * its sign follows the gradient direction, not the travel. An axis-parallel gradient is used
 * as given and must have magnitude at most 32 (32 is the scale of the others).
 *
 * The walk reads one pixel beyond every walked pixel in each direction: the roi needs a margin
 * of at least 1 in the image's window. Thresholds are meant to stay below 4096.
 *
 * Accuracy: on row and column walks a clean isolated step comes out within 1/16 pixel. A
 * slanted walk reads the pixels of the Bresenham line between the end pixels' centres but
 * counts them one major-axis pixel apart along the segment's own line, so near 45 degrees an
 * edge comes out about 0.2 pixel from where it is in the median and up to about 1.2 pixel.
 * Edges closer than three pixels pull at each other's positions (a one-pixel bar's edges come
 * out at the centres of its neighbours, by 1/8 pixel at two pixels apart), and an edge between
 * two one-pixel bars or spaces gives no response at all: the difference across it is zero.
 *
 * cidc_bresWalk advances a fractional Bresenham walk by one pixel along the major axis of a
 * direction (x when |dir.x| > |dir.y|, else y) and carries the slope into the minor axis's
 * 16.16 fraction, so callers can walk a line of any slope themselves. */
#ifndef IDUT_CI_ID_SCANWALK_H
#define IDUT_CI_ID_SCANWALK_H

#include "base/cimg.h"
#include "ci_id/peakdetect.h"
#include "ci_id/scanshape.h"

IDUT_EXTERN_C_BEGIN

/* pixel: (column, row), moved by one step; fraction: per-axis 16.16 position inside the pixel,
 * kept in [0, 65536) (only the minor axis's changes). Asserts that the direction's minor
 * component is not larger than its major one and that the major one is at least 4. */
IDUT_API csys_status cidc_bresWalk(int32_t pixel[2], int32_t fraction[2], const cidc_unitDir16* dir);

/* Only the threshold is read; callers may pass a longer record that starts with it. */
typedef struct cidc_edgeScanParams {
  int32_t threshold;
} cidc_edgeScanParams;

/* Status: 0 on success, with `out` the clipped segment (empty when the shape misses the roi,
 * and then nothing is appended; a walk of one sample, or a slanted walk of fewer than 3, finds
 * nothing either). Failures leave `peaks` and `out` as they were: csys_errImageUnbound for an
 * image without pixels; cidut_errZeroDirection for a shape whose line has no direction;
 * cidut_errBadArgument when the walk and its one-pixel border do not fit inside the image's
 * window (an roi made for a larger window, or an image smaller than 3 x 3) or an axis-parallel
 * gradient is longer than 32; csys_errNoMemory when the peak vector cannot grow; and
 * csys_errAssertion for null pointers. */
IDUT_API csys_status cidc_runEdgeScan(const cimg_image8Const* image, const cidc_windowROI* roi,
                                      const cidc_edgeScanParams* params, const cidc_scanShape* shape,
                                      const int16_t gradient[2], cstd_vector_cidc_peakIDFixedX_4* peaks,
                                      cidc_scanLineSeg* out);

IDUT_EXTERN_C_END

#endif
