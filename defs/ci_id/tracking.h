/* Tracking records and seed finders: the three records every 2D symbol search shares (its
 * parameters, the seed edge it starts from and its result) and the finders that scan rows of
 * an 8-bit image for strong edges to start from.
 *
 * Edge response. Along a row with pixels p, the response at column x is the six-tap step
 * filter R(x) = |p[x+2] + p[x+3] + p[x+4] - p[x-1] - p[x] - p[x+1]|; a step of contrast c gives
 * 3c at the column two before the step. Walking along the row, R(x-1) is a peak when
 * R(x-2) < R(x-1), R(x) <= R(x-1) and R(x-1) reaches the contrast threshold. A peak makes a
 * seed at column x - the pixel just before the step - with strength R(x-1), mean
 * (p[x-1] + p[x] + p[x+1] + p[x+2]) / 4 (rounded down), polarity p[x] < mean and tracker start
 * points at columns x + 2 and x - 1.
 *
 * Seed coordinates are relative to the image window's origin; rows are given in image
 * coordinates. Seed order (for sorting): strength descending, then line ascending; the finders
 * keep seeds equal in both in their scan order. */
#ifndef IDUT_CI_ID_TRACKING_H
#define IDUT_CI_ID_TRACKING_H

#include "base/cbt.h"
#include "base/cimg.h"
#include "base/cmath_affineRect.h"

IDUT_EXTERN_C_BEGIN

/* Parameters of a 2D search. The caller owns it (and its scratch buffer and scan lines),
 * fills it with cid2d_trackingParams_init and changes what it needs. */
typedef struct cid2d_trackingParams {
  uint8_t* scratch;          /* work memory the searches carve into fixed areas; null by default */
  uint32_t scratchSize;      /* bytes; the Data Matrix search needs at least 229320 */
  int32_t* scanLines;        /* row (or column) numbers the drivers scan, image coordinates */
  int32_t scanLineCount;     /* entries in scanLines */
  double minSide;            /* 15.0: smallest accepted side and bounding-box extent, pixels */
  double maxSide;            /* 2000.0: largest accepted side and extent, pixels */
  int32_t expectedSizeA;     /* 0: modules along one side, 0 = unknown */
  int32_t expectedSizeB;     /* 0: modules along the other side */
  int32_t scanDirection;     /* 1: drivers walk along rows; 0: along columns */
  int32_t firstScanLine;     /* 0: index into scanLines where a driver starts */
  double minSmoothing;       /* 3.0: lower bound of the contour smoothing window, points */
  int32_t maxContourPoints;  /* 2147483647: tracker contour limit (the searches cap it at 16379) */
  int32_t allowBorder;       /* 0: nonzero lets a symbol touch or cross the image border */
  int32_t relaxedCorners;    /* 0: nonzero widens corner and aspect limits, fits four sides */
  int32_t wideCorners;       /* 0: nonzero with unknown size: the widest corner-angle limit */
  int32_t attempts;          /* 2: corner-pairing attempts per contour */
} cid2d_trackingParams;

/* A seed edge: a plain value. */
typedef struct cid2d_trackingSeed {
  int32_t x;         /* column of the pixel just before the edge, relative to the window */
  int32_t y;         /* row, relative to the window */
  int32_t strength;  /* edge response at the peak */
  int32_t mean;      /* local mean grey level across the edge, 0 ... 255: the boundary threshold */
  int32_t line;      /* index of the scan line in the caller's list (row number: single-row finder) */
  int32_t polarity;  /* 1 when the pixel at (x, y) is darker than mean, else 0 */
  int32_t startA[2]; /* first tracker start point, 1/256 pixel: ((x + 2) 256, y 256) along a row,
                      * (x 256, (y + 2) 256) along a column */
  int32_t startB[2]; /* second start point: ((x - 1) 256, y 256) along a row, (x 256, (y - 1) 256)
                      * along a column */
} cid2d_trackingSeed;

/* Result of a 2D search. Made by construct, freed by destruct. */
typedef struct cid2d_trackingResult {
  cmath_shapeAffineRect rectangle; /* the symbol: corner, end of first side, end of second side */
  cmath_vect fourthCorner;         /* corner opposite the rectangle's origin, pixels */
  int32_t parallelogram;           /* 1: built from one corner and two sides; 0: four fitted sides */
  cbt_result boundary;             /* the tracked contour */
  int32_t found;                   /* 1 when a symbol was located */
  int32_t line;                    /* scan line index where the search stopped or found */
  int32_t score;                   /* straightness of the located sides, 0 ... 1000 */
  int32_t quality;                 /* 1000 when a symbol is found */
  uint8_t threshold;               /* the seed's mean grey level used for the boundary */
  cid2d_trackingSeed seed;         /* the seed of the last search */
  int32_t trackerRuns;             /* tracker calls of the PDF417 search; only the caller clears it */
} cid2d_trackingResult;

/* Writes every field with the defaults given above; returns 0 (csys_errAssertion on null). */
IDUT_API csys_status cid2d_trackingParams_init(cid2d_trackingParams* params);

/* Unit-square rectangle, fourth corner (0, 0), parallelogram 1, found, line, score, quality and
 * threshold 0, seed zeroed, boundary constructed empty. trackerRuns is not touched. A failure
 * (csys_errNoMemory from the boundary) is returned at once and leaves nothing to destruct. */
IDUT_API csys_status cid2d_trackingResult_construct(cid2d_trackingResult* result);
/* Sets found and score to 0; nothing else (the drivers call it before a scan). */
IDUT_API csys_status cid2d_trackingResult_reset(cid2d_trackingResult* result);
/* Sets found to 0 and frees the boundary. */
IDUT_API csys_status cid2d_trackingResult_destruct(cid2d_trackingResult* result);

/* Seeds on the listed rows of image.
 * rows: rowCount row numbers (image coordinates), scanned in order; a row r is skipped unless
 *   y0 < r < last row - 2 (and the window is at least 6 columns wide). Columns x0 + 3 ...
 *   last column - 5 can carry seeds.
 * maxSeeds: capacity of seeds; the whole scan stops once that many are stored.
 * minContrast: threshold of the edge response (about 3 x the grey-level step).
 * sortBySeedStrength: nonzero sorts all seeds into the seed order at the end.
 * pairFilter: nonzero keeps, after a row's first two seeds, only edges that belong to a close
 *   pair of opposite edges (x distance below floor(pairSpacing)) or directly follow one; any
 *   other edge replaces the row's last seed.
 * line of each seed: the index into rows. *seedCount receives the number stored.
 * Fails with the window set-up's status (csys_errImageUnbound) or csys_errAssertion. */
IDUT_API csys_status cid2d_getHorizontalTrackingSeeds(const cimg_imageConst* image, const int32_t* rows,
                                                      int32_t rowCount, int32_t maxSeeds, int32_t minContrast,
                                                      int32_t sortBySeedStrength, cid2d_trackingSeed* seeds,
                                                      int32_t* seedCount, int32_t pairFilter, double pairSpacing);

/* Seeds on exactly three rows (count is not consulted; rows outside the window give none).
 * Row k's seeds get line k and are stored after those of the rows before; a row stops when the
 * stored seeds reach maxSeeds. Row 0 keeps its first (leftmost) seed in front, sorts the rest
 * and keeps at most 30; rows 1 and 2 are sorted and keep at most 3 each. When more than 10
 * seeds are stored, all after the first three are sorted again. */
IDUT_API csys_status cid2d_getHorizontalTrackingSeeds_ThreeScanlines(const cimg_imageConst* image,
                                                                     const int32_t* rows, int32_t count,
                                                                     int32_t maxSeeds, int32_t minContrast,
                                                                     cid2d_trackingSeed* seeds,
                                                                     int32_t* seedCount);

/* Seeds on one row of a window with a fixed threshold (responses of 45 and more). The row must
 * satisfy y0 < row < last row - 2; columns x0 + 4 ... last column - 6 can carry seeds; line is
 * the row number. Stops at maxSeeds; optional sort into the seed order. */
csys_status cid2d_getTrackingSeedsOnRow(const cimg_windowConst* window, int32_t row, int32_t maxSeeds,
                                        int32_t sortBySeedStrength, cid2d_trackingSeed* seeds,
                                        int32_t* seedCount);

/* The seed order as a qsort comparator: negative when a comes first (stronger, or as strong on
 * an earlier line), 0 when equal in both keys. */
int cid2d_trackingSeed_compare(const void* a, const void* b);

/* Sorts seeds into the seed order; seeds equal in both keys come row by row, left to right
 * (which is their scan order). No allocation. */
csys_status cid2d_trackingSeed_sort(cid2d_trackingSeed* seeds, int32_t count);

IDUT_STATIC_ASSERT(sizeof(cid2d_trackingSeed) == 40, "cid2d_trackingSeed is ten int32");
IDUT_STATIC_ASSERT(offsetof(cid2d_trackingSeed, startA) == 24, "start points follow polarity");

IDUT_EXTERN_C_END

#endif
