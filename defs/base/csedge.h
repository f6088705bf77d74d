/* The gradient edge detector: Sobel gradient magnitude and angle, non-maximum suppression
 * along the gradient, optional hysteresis, sub-pixel edge positions, edge lists and chains.
 *
 * Gradient. For every pixel with all eight neighbours inside the source window,
 *   gx = (p(x+1,y-1) + 2 p(x+1,y) + p(x+1,y+1)) - (p(x-1,y-1) + 2 p(x-1,y) + p(x-1,y+1))
 * and gy likewise down the rows. Magnitude = gain * sqrt(gx^2 + gy^2) / 4, the grey-level
 * change per pixel (a sharp step of contrast C gives C beside the step); its byte is the
 * magnitude truncated and capped at 255. Angle byte: 256 units per turn, 0 along +x, 64 along
 * +y (rows grow downward), atan2(gy, gx) rounded. Direction sector d: the nearest of the eight
 * neighbour steps to the gradient direction (boundaries at 22.5 + k * 45 degrees, decided on gx
 * and gy, so close to a boundary d can differ from ((angle + 16) >> 5) & 7); steps (column, row): 0 (+1,0) 1 (+1,+1) 2 (0,+1) 3 (-1,+1) 4 (-1,0) 5 (-1,-1)
 * 6 (0,-1) 7 (+1,-1).
 *
 * Edge points (non-maximum suppression). A pixel with two pixels of margin inside the window
 * is an edge point when its magnitude byte is at least `highThreshold` and, with suppression
 * on, its magnitude m beats its forward neighbour p (in its sector) and its backward neighbour
 * q (the opposite sector) as p < m and q <= m; a neighbour whose sector differs from the
 * pixel's by 3, 4 or 5 counts as magnitude 0. The tie rule keeps exactly one pixel of a pair
 * of equal magnitudes: the one on the brighter side. With a low threshold (0 < low < high) a
 * suppressed pixel whose byte is at least `lowThreshold` is also kept when it is 8-connected
 * through such pixels to one at least `highThreshold` (hysteresis, as in Canny's detector).
 *
 * Sub-pixel position: the offset t in [-0.5, 0.5] of the gradient profile's peak along the
 * sector step; the position is (column + t * step.x, row + t * step.y), in coordinates whose
 * pixel centres are integers. A narrow peak (q, m, p fall off faster than a Gaussian of width
 * 0.8 step) is located by the mean of a parabola and a Gaussian through q, m, p. A wider one
 * by a Gaussian fitted (least squares on logarithms, weighted by the squared samples) to the
 * gradient projected on the point's direction at up to 4 steps either side (about 2.5 widths,
 * kept one pixel inside the window); when that fit puts the peak more than a pixel away the
 * pixel is a maximum made by noise on the flank of a wider edge and is not an edge point.
 * Typical accuracy on straight steps of contrast 120 (median / 90th percentile): 0.01 / 0.03 px
 * clean, 0.14 / 0.42 px at blur 2 and noise sigma 5. With centresOnly there is no fit and no
 * flank test. Edge points of one detector call are listed in raster order.
 *
 * Coordinates of a list's points (csEdgePi, csEdgePj, csEdgeX, csEdgeY) are relative to the
 * origin of the first window detected into the list after csEdgeListInit, so strips of one
 * image detected into one list share one frame.
 *
 * Chains: every edge point of one detector call lies in exactly one chain; consecutive points
 * of a chain are 8-neighbours. Chains follow the edge direction where it branches. */
#ifndef IDUT_CSEDGE_H
#define IDUT_CSEDGE_H

#include "base/cimg.h"

IDUT_EXTERN_C_BEGIN

/* The detector's settings, six single-precision fields. */
typedef struct csEdgeParams {
  float gain;          /* magnitude scale; 1 = grey levels per pixel */
  float highThreshold; /* edge points need a magnitude byte at least this */
  float centresOnly;   /* nonzero: positions are pixel centres (no sub-pixel fit) */
  float lowThreshold;  /* 0 = no hysteresis; else 0 < low < high keeps connected weaker points */
  float reserved;      /* not read */
  float suppress;      /* nonzero: non-maximum suppression; 0: every pixel at the threshold */
} csEdgeParams;

/* gain 1, high threshold 10, sub-pixel positions, no hysteresis, suppression on. */
IDUT_API csys_status csEdgeParamsDefault(csEdgeParams* params);

typedef struct csEdgePoint {
  int32_t column; /* relative to the list's origin */
  int32_t row;
  float x;        /* sub-pixel position in the same frame */
  float y;
  float dx;       /* unit gradient direction */
  float dy;
  uint8_t magnitude;
  uint8_t angle;
  uint16_t reserved;
} csEdgePoint;

typedef struct csEdgeList csEdgeList;     /* opaque */
typedef struct csEdgeChains csEdgeChains; /* opaque */

/* A list with room for `capacity` points (capacity >= 1). */
IDUT_API csys_status csEdgeListNew(uint32_t capacity, csEdgeList** list);
/* reset nonzero empties the list and forgets its origin; originMode 0 takes the origin from the
 * next detected window, 1 reports image coordinates. */
IDUT_API csys_status csEdgeListInit(csEdgeList* list, int32_t reset, int32_t originMode);
IDUT_API csys_status csEdgeListLen(const csEdgeList* list, uint32_t* length);
IDUT_API csys_status csEdgeListCapacity(const csEdgeList* list, uint32_t* capacity);
/* Deletes *destination (if any), moves *source into it and sets *source to null. */
IDUT_API csys_status csEdgeListAssign(csEdgeList** destination, csEdgeList** source);
/* Frees *list (null is fine) and sets it to null. */
IDUT_API csys_status csEdgeListDelete(csEdgeList** list);
/* The points, or null for an empty list. */
IDUT_API const csEdgePoint* csEdgeListPoints(const csEdgeList* list);

/* Accessors of point `index` (< length, asserted; 0 on a bad index). */
IDUT_API int32_t csEdgePi(const csEdgeList* list, uint32_t index);
IDUT_API int32_t csEdgePj(const csEdgeList* list, uint32_t index);
IDUT_API uint8_t csEdgeMag(const csEdgeList* list, uint32_t index);
IDUT_API float csEdgeDx(const csEdgeList* list, uint32_t index);
IDUT_API float csEdgeDy(const csEdgeList* list, uint32_t index);
IDUT_API float csEdgeX(const csEdgeList* list, uint32_t index);
IDUT_API float csEdgeY(const csEdgeList* list, uint32_t index);

IDUT_API csys_status csEdgeChainsNew(csEdgeChains** chains);
IDUT_API csys_status csEdgeChainsDelete(csEdgeChains** chains);
IDUT_API uint32_t csEdgeChainsCount(const csEdgeChains* chains);
IDUT_API uint32_t csEdgeChainLen(const csEdgeChains* chains, uint32_t chain);
/* Index into the edge list of the k-th point of a chain. */
IDUT_API uint32_t csEdgeChainPoint(const csEdgeChains* chains, uint32_t chain, uint32_t k);

/* Runs the detector over the source window. Outputs may be null when not wanted:
 *  - magnitude, angle: bound images whose windows are the source window less one pixel on
 *    every side (csys_errBadArgument otherwise, nothing written); each pixel gets its byte;
 *  - list: points are appended; csys_errNoMemory when the list is full (the points that fit
 *    stay appended);
 *  - chains: replaced by the chains of this call's points (needs a list, asserted).
 * csys_errImageUnbound for an unbound source. A window smaller than 3 x 3 has no gradients
 * (success, nothing written); points need a window of at least 5 x 5. */
IDUT_API csys_status csEdgeDetect(const cimg_imageConst* source, cimg_image* magnitude, cimg_image* angle,
                                  csEdgeList* list, csEdgeChains* chains, const csEdgeParams* params);

IDUT_EXTERN_C_END

#endif
