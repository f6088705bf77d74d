/* Boundary tracker: follows the grey-level boundary of a blob from a seed edge and returns
 * its closed outline as sub-pixel points.
 *
 * Coordinates. Image coordinates with the centre of pixel (x, y) at the integer point (x, y);
 * the image's window (cimg.h) holds pixels x0 ... x0 + width - 1, y0 ... y0 + height - 1 and
 * nothing outside it is ever read. The image's client transform is not used: start points
 * and contour points are image coordinates in 1/256 pixel (value = coordinate * 256). Every
 * contour point lies inside the window's pixel-centre rectangle
 * [x0, x0 + width - 1] x [y0, y0 + height - 1], so rounding a point to whole pixels
 * ((v + 128) >> 8) always gives a pixel of the window.
 *
 * Threshold and polarity. With threshold T a pixel is dark when its value is below T and
 * light otherwise (value >= T). The blob is the dark pixels when polarity is nonzero and the
 * light pixels when polarity is 0; pixels outside the window count as not blob. The boundary
 * is the iso-line at level T of the bilinear interpolation between pixel centres: each
 * contour point lies on the segment between two 4-adjacent pixel centres of which one is blob
 * and one is not, at the position where the linear interpolation of their values reaches T
 * (a point between a window pixel and a pixel outside the window is put on the window
 * pixel's centre, so a blob that reaches the window's edge is closed along the edge).
 * Diagonal contacts (cells whose blob pixels sit on one diagonal only) are decided by the
 * mean of the cell's four pixels when `saddleByMean` is 1: the blob connects across the cell
 * when that mean is in the blob's class; with saddleByMean 0 diagonal blob pixels always
 * connect (the blob is 8-connected, its complement 4-connected).
 *
 * Start and orientation. The tracker walks from start point B to start point A over
 * 4-adjacent pixels (start points are rounded to the nearest pixel) and looks at every step
 * whose two pixels lie on different sides of the boundary; of these it takes the one whose
 * crossing lies nearest to the midpoint of A and B. That crossing is point 0 of the contour.
 * The contour keeps the blob on its right-hand side in image coordinates (x to the right,
 * y downwards): the outline of a solitary blob runs clockwise on screen, the outline of a
 * hole in a blob counter-clockwise. There is one point per crossed pixel-centre segment,
 * about one point per pixel of boundary (up to 1.42 on diagonals); consecutive equal points
 * are merged. The contour is closed implicitly: the last point is followed by point 0.
 * On an area-sampled (anti-aliased) straight edge tracked at the mid grey level the points
 * lie within 0.1 pixel of the edge; sampling rounds corners off by up to about 0.3 pixel.
 *
 * Flags of a result (cbt_result.flags):
 *   CBT_FLAG_FOUND   (bit 0) a boundary was followed; the points are valid.
 *   CBT_FLAG_BORDER  (bit 1) the contour has points on the window's edge that close it there:
 *                            the blob touches the edge and may go on beyond the window.
 *   CBT_FLAG_LIMIT   (bit 2) the point limit was reached before the contour closed: the result
 *                            holds exactly maxPoints points, the first maxPoints of the
 *                            contour. A contour of exactly maxPoints points closes normally.
 *
 * Statuses: 0 on success (flags tell what was found); cbt_errNoBoundary (0x80000903) when no
 * step between the start points crosses the boundary (for example both on the same side);
 * csys_errNoMemory when the point buffer cannot grow (the result then holds no points);
 * csys_errImageUnbound for an image without pixels; csys_errAssertion for null arguments, a
 * point limit below 1, a threshold outside 0 ... 256 or a window beyond +-2^23 pixels; the
 * attention check's failure status when a caller stops a long track (polled every 4096
 * steps of the walk). After a failure the result holds no points and no flags.
 *
 * A result may be reused: every track overwrites count, flags and points; its buffer grows as
 * needed and is kept for the next track. Different results and run parameters may be used on
 * different threads at once. */
#ifndef IDUT_CBT_H
#define IDUT_CBT_H

#include "base/cimg.h"

IDUT_EXTERN_C_BEGIN

/* No boundary crosses the path between the two start points. */
#define cbt_errNoBoundary ((csys_status)0x80000903)

#define CBT_FLAG_FOUND 0x1u
#define CBT_FLAG_BORDER 0x2u
#define CBT_FLAG_LIMIT 0x4u

/* The largest point limit; a limit above it is treated as this value. */
#define CBT_MAX_POINTS_LIMIT 0x3FFFFFFF

/* Run parameters; cbt_runParams_init writes the defaults given with each field. */
typedef struct cbt_runParams {
  int32_t closeAtBorder;  /* 0x00 default 1. 1: a blob reaching the window's edge is closed
                           * along the edge (flag bit 1). 0: tracking stops when the contour
                           * first reaches the edge; the result holds the points up to there
                           * with flags FOUND | BORDER but no closing run along the edge. */
  int32_t polarity;       /* 0x04 default 1. Nonzero: the blob is the pixels darker than the
                           * threshold; 0: the pixels at or above it. */
  int32_t startA[2];      /* 0x08 x, y (1/256 pixel, image coordinates), default (0, 0) */
  int32_t startB[2];      /* 0x10 x, y, default (0, 0) */
  int32_t reserved18[4];  /* 0x18 not read; init sets 0 */
  int32_t saddleByMean;   /* 0x28 default 1: diagonal contacts decided by the cell's mean (see
                           * above); 0: diagonal blob pixels always connect. */
  int32_t reserved2c;     /* 0x2c not read; init sets 0 */
  int32_t threshold;      /* 0x30 default 128: grey level of the boundary, 0 ... 256 */
  int32_t seedStrength;   /* 0x34 default 0: the seed's edge response (six-tap step filter,
                           * about 3 x the contrast), used by the adaptive track only */
  int32_t maxPoints;      /* 0x38 default 16379: the most contour points returned, >= 1 */
  int32_t localThreshold; /* 0x3c default 0: adaptive track only; 1 = derive the threshold from
                           * the seed's strength and the level (cbt_boundaryTrack_Adaptive) */
  int32_t reportMarking;  /* 0x40 default 0: adaptive track only; 1 = write the marking mode
                           * into the result's markingMode byte */
  int32_t minPoints;      /* 0x44 default 0: a closed contour of fewer points than this is
                           * reported as not found (flags 0, count 0, status 0) */
} cbt_runParams;

typedef struct cbt_point {
  int32_t x; /* 1/256 pixel */
  int32_t y;
} cbt_point;

/* Result of a track. The points buffer belongs to the result (made by construct, grown by the
 * tracks, freed by destruct). */
typedef struct cbt_result {
  uint32_t count;       /* 0x00 number of contour points */
  uint32_t capacity;    /* 0x04 points the buffer can hold */
  cbt_point* points;    /* 0x08 the contour, count points */
  uint32_t flags;       /* 0x10 CBT_FLAG_* */
  int32_t sides[4][2];  /* 0x14 not written by the tracker: the adaptive symbol search stores
                         * corner and far end of each side here, whole pixels */
  uint8_t markingMode;  /* 0x34 the caller sets 1 before an adaptive track; see there */
  uint8_t reserved35[3];
  int32_t threshold;    /* 0x38 the threshold the last track used */
  int32_t startIndex;   /* 0x3c reserved; always 0 (the contour starts at the seed) */
} cbt_result;

/* Writes every field of params with the defaults above. */
IDUT_API csys_status cbt_runParams_init(cbt_runParams* params);

/* Makes an empty result whose buffer holds `size` points (0: no buffer until the first
 * track). csys_errNoMemory leaves nothing allocated. */
IDUT_API csys_status cbt_result_construct(cbt_result* result, uint32_t size);
/* Frees the buffer and leaves an empty result (count, capacity and flags 0). */
IDUT_API csys_status cbt_result_destruct(cbt_result* result);

/* Tracks the boundary at params->threshold from between params->startA and params->startB
 * (see the top of this header). params->seedStrength, localThreshold and reportMarking are
 * not read. */
IDUT_API csys_status cbt_boundaryTrack(const cimg_imageConst* image, const cbt_runParams* params,
                                       cbt_result* result);

/* Adaptive track: the same boundary following, with a threshold taken from the seed.
 *
 * Threshold. When params->localThreshold is 0 the threshold is params->threshold. When it is
 * 1 the seed's contrast is estimated as c = seedStrength / 3 (the six-tap response of a step
 * of contrast c is 3c), so the dark side lies near threshold - c/2 and the light side near
 * threshold + c/2, and the level moves the threshold between them in sixteenths of the
 * contrast, towards the blob's side:
 *   d = level * seedStrength / 48 (truncated towards zero, i.e. level * c / 16),
 *   T = threshold - d for a dark blob (polarity nonzero), threshold + d for a light blob,
 * then T is clamped to [threshold - seedStrength/6 + 1, threshold + seedStrength/6 - 1] (at
 * least one grey level inside both sides) and to [1, 255]; when these ranges do not meet, or
 * seedStrength is below 6, T = threshold. Level 0 keeps the seed's mean; positive levels
 * shrink the blob towards its core (against blur and ink spread), negative levels grow it
 * (against thinning). The threshold used is stored in result->threshold.
 *
 * Marking mode. When params->reportMarking is 1, result->markingMode is set after the track:
 *   0   no contour (including cbt_errNoBoundary), or a contour that runs along the window's
 *       edge: part of it is the window's edge, not the blob's own outline, so it should not
 *       be marked as tracked;
 *   16  otherwise, when the point limit cut the walk: the outline goes on beyond the last
 *       point, so its last 10 points, where a later seed may take the outline up again,
 *       should be left unmarked;
 *   unchanged (the caller's 1)  a complete outline inside the window: mark every point.
 * With reportMarking 0 the byte is not touched. Statuses as cbt_boundaryTrack. */
IDUT_API csys_status cbt_boundaryTrack_Adaptive(const cimg_imageConst* image, const cbt_runParams* params,
                                                int32_t level, cbt_result* result);

/* Type-check entries used when a result is registered for clean-up (deliberately empty). */
IDUT_API void csys_typeCheck_cbt_result(cbt_result* object);
IDUT_API void csys_typeCheckPtr_cbt_result(cbt_result** object);
IDUT_API void csys_typeCheckFunc_cbt_result(csys_status (*release)(cbt_result*));
IDUT_API void csys_typeCheckFuncPtr_cbt_result(csys_status (*release)(cbt_result**));

/* Record layout, relied on by callers that copy the records field by field. */
IDUT_STATIC_ASSERT(sizeof(cbt_runParams) == 72, "cbt_runParams size");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, polarity) == 0x04, "polarity offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, startA) == 0x08, "startA offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, startB) == 0x10, "startB offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, saddleByMean) == 0x28, "saddleByMean offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, threshold) == 0x30, "threshold offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, seedStrength) == 0x34, "seedStrength offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, maxPoints) == 0x38, "maxPoints offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, localThreshold) == 0x3c, "localThreshold offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, reportMarking) == 0x40, "reportMarking offset");
IDUT_STATIC_ASSERT(offsetof(cbt_runParams, minPoints) == 0x44, "minPoints offset");
IDUT_STATIC_ASSERT(sizeof(cbt_point) == 8, "cbt_point size");
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
IDUT_STATIC_ASSERT(offsetof(cbt_result, points) == 0x08, "points offset");
IDUT_STATIC_ASSERT(offsetof(cbt_result, flags) == 0x10, "flags offset");
IDUT_STATIC_ASSERT(offsetof(cbt_result, sides) == 0x14, "sides offset");
IDUT_STATIC_ASSERT(offsetof(cbt_result, markingMode) == 0x34, "markingMode offset");
IDUT_STATIC_ASSERT(sizeof(cbt_result) == 0x40, "cbt_result size");
#endif

IDUT_EXTERN_C_END

#endif
