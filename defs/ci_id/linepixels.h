/* Grey profiles along straight lines of an 8-bit image.
 *
 * Frame. The window (base/cimg.h) is read for its width, height, first-pixel coordinates
 * (x0, y0), stride and pixels; its client transform is not used. Points p0 and p1 are doubles
 * in the image's coordinates, where pixel (c, r) of the window covers
 * [x0 + c, x0 + c + 1) x [y0 + r, y0 + r + 1) and has its centre at (x0 + c + 0.5, y0 + r + 0.5).
 * Internally a point becomes window-relative with the pixel centres on integers,
 * x' = x - x0 - 0.5, y' = y - y0 - 0.5, in signed 16.16 fixed point (truncated); both must lie
 * within +-32768 pixels of the window (asserted).
 *
 * Samples. n samples split the line into n equal intervals. The centred variants put sample k
 * in the middle of interval k (p0 + (k + 1/2) (p1 - p0) / n), the start-aligned ones at its
 * start (p0 + k (p1 - p0) / n). A sample is bilinear over the 2x2 pixels around it with 8-bit
 * weights that sum to 255 per axis: a uniform grey g reads as floor(g * 65025 / 65536) (255 reads
 * 253, 128 reads 127). Samples exist only where the whole 2x2 neighbourhood is inside the window
 * (0 <= x' < width - 1, 0 <= y' < height - 1); the line is clipped to that area, up to two
 * samples next to a clipped end are dropped so that every sample stays strictly inside, and the
 * missing samples at either end repeat the nearest valid one.
 *
 * Statuses: cidut_errNoSamples (0x8000084b) when the line has no valid sample in the window
 * (the outputs that are zeroed at entry stay 0, the buffer is not written); csys_errAssertion
 * for null pointers, n < 1 and coordinates out of range. Nothing is allocated. */
#ifndef IDUT_CI_ID_LINEPIXELS_H
#define IDUT_CI_ID_LINEPIXELS_H

#include "base/cimg.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* *count = round(|p1 - p0|): a sample count of about one per pixel. Points less than half a
 * pixel apart give 0, which is not a valid n for the sampling functions. */
IDUT_API csys_status cidut_getPixelCount(const cmath_vect* p0, const cmath_vect* p1, int32_t* count);

/* n centred bilinear samples into buffer[0 .. n-1]; *mean = the mean of the valid samples
 * (0 at entry); *spacing = |p1 - p0| / n pixels per sample, written before anything can fail. */
IDUT_API csys_status cidut_linePixels(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                                      uint8_t* buffer, int32_t n, uint8_t* mean, double* spacing);

/* n start-aligned bilinear samples; *spacing = length / n (the caller's length, not the
 * distance of the points); *mean as above. */
IDUT_API csys_status cidut_linePixels1(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                                       uint8_t* buffer, double length, int32_t n, uint8_t* mean, double* spacing);

/* n centred samples, each the single pixel holding the sample's truncated position (the
 * upper-left pixel of its 2x2 neighbourhood), for coarse profiles; *spacing = |p1 - p0| / n. */
IDUT_API csys_status cidut_linePixels_LowPPM(const cimg_windowConst* window, const cmath_vect* p0,
                                             const cmath_vect* p1, uint8_t* buffer, int32_t n, double* spacing);

/* Grey activity: the sum of absolute differences of start-aligned bilinear samples two sample
 * steps apart, from the first valid sample k0 while the step counter (starting at k0) stays
 * below (last valid index + 1) / 2. *total is 0 at entry. */
IDUT_API csys_status cidut_linePixels2D(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                                        int32_t n, int32_t* total);

IDUT_EXTERN_C_END

#endif
