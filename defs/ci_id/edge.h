/* Gradient edge detection on 8-bit images (the front to the base detector, base/csedge.h),
 * hysteresis thresholding of magnitude images, and true edge peaks: images that hold the edge
 * magnitude at every edge point and 0 elsewhere.
 *
 * Magnitudes are grey levels per pixel (Sobel / 4, truncated, capped at 255); angles are bytes
 * of 256 units per turn, 0 along +x and 64 along +y (rows grow downward). */
#ifndef IDUT_CI_ID_EDGE_H
#define IDUT_CI_ID_EDGE_H

#include "base/cimg.h"
#include "base/csedge.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* The detector settings, handed to the base detector as its first three fields. */
typedef struct cip_edgeParams {
  double gain;       /* magnitude scale (1 = grey levels per pixel) */
  double threshold;  /* edge points need a magnitude of at least this */
  double centresOnly; /* nonzero: edge positions at pixel centres, no sub-pixel fit */
} cip_edgeParams;

/* The base detector's defaults: gain 1, threshold 10, sub-pixel positions. */
IDUT_API csys_status cip_edgeParams_init(cip_edgeParams* params);

/* Magnitude and angle images over the source window less one pixel on every side, intersected
 * with the windows of bound outputs. A bound output is windowed to that rectangle; an unbound
 * one receives new pixels of its size at its origin. Both get the source's client transform.
 * An empty rectangle (a window of 2 pixels or fewer across) is success with nothing touched.
 * csys_errImageUnbound for an unbound source, outputs untouched. */
IDUT_API csys_status cip_edge_detectMagAng(const cimg_image8Const* source, const cip_edgeParams* params,
                                           cimg_image* magnitude, cimg_image* angle);

/* Edge points (non-maximum suppressed, at or above the threshold) of the source window, in
 * raster order, positions relative to the window origin. On success *list receives a new list
 * (a list already there is deleted); on failure *list is untouched. When a list for the whole
 * window (max(64, width * height / 2) points) cannot be had, the window is detected in 4 (or
 * 8) strips overlapping by 4 rows into a smaller list. Each pixel then gives the same point,
 * except that within 6 rows of a seam the wide sub-pixel fit (base/csedge.h) sees only its
 * strip, so positions there, and which flank maxima are dropped, may differ. csys_errNoMemory
 * when that fails too, when the window has fewer than 8 (12) rows, or when the points outgrow
 * the list (strong noise can make an edge point of every other pixel). */
IDUT_API csys_status cip_edge_detectEdges(const cimg_image8Const* source, const cip_edgeParams* params,
                                          csEdgeList** list);

/* The same in one detector call (no strip fallback), also chaining the points: *chains
 * receives new chains (chains already there are deleted). Nothing is written on failure. */
IDUT_API csys_status cip_edge_detectEdgesChains(const cimg_image8Const* source, const cip_edgeParams* params,
                                                csEdgeList** list, csEdgeChains** chains);

/* Hysteresis thresholding of a magnitude image into an image of the source window's size.
 * With `connect` set: every pixel >= high is a seed; from it, horizontal runs of pixels >= low
 * are filled, and at both ends of each run the six neighbours in the rows above and below with
 * low <= v < high are followed in turn (pixels inside a run do not look up or down); filled
 * pixels get edgeValue, all others background. With `connect` clear: the destination receives
 * the three-level map (below low: background; low..high-1: a middle value different from both
 * other values; from high: edgeValue) and no flooding is done.
 * *count (when not null) receives the number of pixels set to edgeValue.
 * maxStack bounds the flood stack (negative: width * height, which always suffices); a flood
 * that needs more fails with csys_errNoMemory.
 * A bound destination must have the source window's size and receives a copy; an unbound one
 * is made to refer to the result (origin and client transform of the source).
 * Failures, with nothing written: csys_errImageUnbound (unbound source); cidut_errBadArgument
 * for low > high, with `connect` set for background >= low (the flood marks visited pixels with
 * the background), or a bound destination of another size; cidut_errMemoryOverlapBase when the
 * destination shares bytes with the source. An empty source window is success with count 0. */
IDUT_API csys_status cip_edge_hysteresisThreshold(const cimg_imageConst* source, cimg_image* destination,
                                                  uint8_t low, uint8_t high, uint32_t* count, int32_t maxStack,
                                                  uint8_t background, uint8_t edgeValue, int32_t connect);

/* Peak images from the edge points of cip_edge_detectEdges with settings (1, threshold, 0):
 * an image of the source window's size and origin, 0 except that each point's magnitude is
 * written at its pixel and at the pixel to its right. The new image is handed to *peak
 * (cimg_image_assign), with the source's client transform. csys_errImageUnbound for an unbound
 * source; outputs untouched on every failure. */
IDUT_API csys_status cf_GetTrueEdgePeakFromEdgelets(const cimg_image8Const* source, cimg_image* peak, uint8_t threshold);
/* The same, magnitude at the point's own pixel only. */
IDUT_API csys_status cf_GetTrueEdgePeakFromEdgelets_noPadding(const cimg_image8Const* source, cimg_image* peak,
                                                              uint8_t threshold);
/* The two-pixel peak image plus sign images of the gradient components: with g = truncate(d *
 * magnitude) per component, 128 when g >= threshold, else 192 when g <= -threshold, else 0. */
IDUT_API csys_status cf_GetTrueEdgePeakXYFromEdgelets(const cimg_image8Const* source, cimg_image* peak,
                                                      cimg_image* xSign, cimg_image* ySign, uint8_t threshold);

/* Peak image over the source window less a one-pixel border (intersected with a bound
 * destination's window; an unbound destination receives new pixels there): each magnitude peak
 * at or above the threshold holds its magnitude, everything else 0; *count = number of peaks.
 * The fast path uses the base detector; when cprt_isOptimizationInhibitedFP answers nonzero
 * for "cip_truepeak8" a generic fixed-point Sobel operator with shift-and-add magnitudes runs
 * instead. The two agree except where rounding of the two magnitude and angle computations
 * differs. An empty rectangle is success with nothing written. */
IDUT_API csys_status cip_truepeak8(const cimg_image8Const* source, cimg_image* peak, uint8_t threshold, uint32_t* count);

IDUT_EXTERN_C_END

#endif
