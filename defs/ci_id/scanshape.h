/* Scan geometry in integer fixed point: the usable window of a scan, lines, segments and rays.
 *
 * Positions (cidc_vect64_4) carry 4 fraction bits: pixel (c, r) covers [16c, 16c+16) x
 * [16r, 16r+16) and its centre is (16c+8, 16r+8). Directions (cidc_unitDir16) carry 16
 * fraction bits (65536 = 1.0). Angles are 16-bit binary angles (0x4000 = quarter turn,
 * 0x4000 points along +y). The normal of a direction d is n = (-d.y, d.x).
 * Nothing here allocates; null pointers and broken invariants are assertion failures. */
#ifndef IDUT_CI_ID_SCANSHAPE_H
#define IDUT_CI_ID_SCANSHAPE_H

#include <stdint.h>
#include "ci_id/status.h"
#include "ci_id/vector.h"

IDUT_EXTERN_C_BEGIN

typedef struct cidc_vect64_4 {
  int64_t x, y; /* 1/16 pixel */
} cidc_vect64_4;

typedef struct cidc_unitDir16 {
  int32_t x, y; /* 16.16, each in [-65536, 65536], length 1.0 within rounding */
} cidc_unitDir16;

/* The usable rectangle of a scan inside an image window, in the scan plane (client
 * coordinates minus `origin`). Shapes are clipped to the closed rectangle of pixel centres
 * [firstCentre, lastCentre]. */
typedef struct cidc_windowROI {
  int32_t originOffset[2]; /* origin minus the window's client offset */
  int32_t origin[2];       /* client coordinates of the scan-plane origin */
  int32_t colBegin, colEnd, colCount; /* usable columns, end exclusive */
  int32_t rowBegin, rowEnd, rowCount;
  int64_t span[2];        /* lastCentre - firstCentre, 1/16 pixel */
  int64_t firstCentre[2]; /* centre of the first usable pixel */
  int64_t lastCentre[2];  /* centre of the last usable pixel */
  int64_t halfSpan[2];    /* span >> 1 */
  int64_t margin[2];      /* margin on each side, 1/16 pixel */
} cidc_windowROI;

typedef struct cidc_scanLine {
  int64_t normalOffset;   /* p . n of any point p on the line, 1/16 pixel */
  cidc_unitDir16 dir;     /* direction of travel */
  cidc_vect64_4 footPoint; /* point nearest the origin */
  int32_t majorMag;       /* max(|dir.x|, |dir.y|), 16.16 */
  int32_t majorStep[2];   /* dir / majorMag: one pixel along the major axis per step */
  int32_t scaledRot[2];   /* (dir.x * majorMag, -dir.y * majorMag), 16.16 */
} cidc_scanLine;

/* Along-coordinate u of q: (q.x*scaledRot[0] - q.y*scaledRot[1]) >> 16, the major axis in
 * 1/16 pixel with the sign of travel; v = (q.x*scaledRot[1] + q.y*scaledRot[0]) >> 16. */
typedef struct cidc_scanLineSeg {
  cidc_scanLine line;         /* first, so a segment reads as its line */
  cidc_vect64_4 endPoint[2];  /* start, end as passed */
  int32_t endPixel[2][2];     /* pixel (column, row) holding each end */
  int64_t endProj[2][2];      /* (u, v) of each end pixel's centre; endProj[0][0] <= endProj[1][0] */
  int32_t isDegenerate;       /* 1: empty segment, walk nothing */
} cidc_scanLineSeg;

typedef struct cidc_scanRay {
  cidc_scanLine line;
  cidc_vect64_4 origin; /* start point */
} cidc_scanRay;

/* Any of the three shapes: seg set means segment, else ray set means ray, else line (never
 * null in a valid shape). Does not own what it points to. */
typedef struct cidc_scanShape {
  cidc_scanLineSeg* seg;
  cidc_scanLine* line;
  cidc_scanRay* ray;
} cidc_scanShape;

/* Unit direction of (dx, dy); (0, 0) gives (0, -65536). */
IDUT_API csys_status cidc_unitDir16_initVect(cidc_unitDir16* dir, int32_t dx, int32_t dy);

IDUT_API csys_status cidc_scanLine_init(cidc_scanLine* line);
/* A zero direction gives the default line moved to foot `point`. */
IDUT_API csys_status cidc_scanLine_initPointDir(cidc_scanLine* line, const cidc_vect64_4* point,
                                                const cidc_unitDir16* dir);
/* The line at binary angle `angle` and normal offset `offset`, then moved by `translation`
 * (may be null). Axis-parallel angles are exact. */
IDUT_API csys_status cidc_scanLine_initDirDist(cidc_scanLine* line, uint16_t angle, int64_t offset,
                                               const cidc_vect64_4* translation);
/* Only the normal component of the translation moves a line; `out` may be `in`. */
IDUT_API csys_status cidc_scanLine_translate(const cidc_scanLine* in, const cidc_vect64_4* translation,
                                             cidc_scanLine* out);

IDUT_API csys_status cidc_scanLineSeg_initDegen(cidc_scanLineSeg* seg);
/* Segment from points[0] to points[1] on `line` (null: the line through them). */
IDUT_API csys_status cidc_scanLineSeg_initPoints(cidc_scanLineSeg* seg, const cidc_vect64_4 points[2],
                                                 const cidc_scanLine* line);
IDUT_API csys_status cidc_scanLineSeg_initPeakPos(cidc_scanLineSeg* seg, const cidc_scanLine* line,
                                                  const int64_t along[2]);
IDUT_API csys_status cidc_scanLineSeg_translate(const cidc_scanLineSeg* in, const cidc_vect64_4* translation,
                                                cidc_scanLineSeg* out);

IDUT_API csys_status cidc_scanRay_init(cidc_scanRay* ray);
IDUT_API csys_status cidc_scanRay_initPointDir(cidc_scanRay* ray, const cidc_vect64_4* point,
                                               const cidc_unitDir16* dir, const cidc_scanLine* line);

IDUT_API csys_status cidc_scanShape_initScanLine(cidc_scanShape* shape, cidc_scanLine* line);
IDUT_API csys_status cidc_scanShape_initScanLineSeg(cidc_scanShape* shape, cidc_scanLineSeg* seg);
IDUT_API csys_status cidc_scanShape_initScanRay(cidc_scanShape* shape, cidc_scanRay* ray);

/* Client coordinates of along-coordinate `along` on `seg`; a scan-plane pixel centre maps to
 * (c + 0.5, r + 0.5) plus the origin. */
IDUT_API csys_status cidc_convertPeakToImage(int64_t along, const cidc_scanLineSeg* seg, const int32_t origin[2],
                                             double point[2]);

/* The window is (width, height, client x, client y); margins in pixels; inner size must be
 * at least 2 x 2. */
IDUT_API csys_status cidc_windowROI_init(cidc_windowROI* roi, int32_t width, int32_t height, int32_t clientX,
                                         int32_t clientY, int32_t marginX, int32_t marginY, int32_t originX,
                                         int32_t originY);
IDUT_API csys_status cidc_windowROI_initCenter(cidc_windowROI* roi, int32_t width, int32_t height, int32_t clientX,
                                               int32_t clientY, int32_t marginX, int32_t marginY);
IDUT_API csys_status cidc_windowROI_initCorner(cidc_windowROI* roi, int32_t width, int32_t height, int32_t clientX,
                                               int32_t clientY, int32_t marginX, int32_t marginY);
IDUT_API csys_status cidc_windowROI_initSameOrigin(cidc_windowROI* roi, int32_t width, int32_t height,
                                                   int32_t clientX, int32_t clientY, const cidc_windowROI* reference,
                                                   int32_t marginX, int32_t marginY);
/* Copy of `source` with margins raised to marginX, marginY (1/16 pixel); smaller margins
 * leave an axis as it is. */
IDUT_API csys_status cidc_windowROI_initCopyShrink(cidc_windowROI* roi, const cidc_windowROI* source, int64_t marginX,
                                                   int64_t marginY);

CSTD_TYPED_VECTOR_DECLS(cidc_scanLine, cidc_scanLine)
CSTD_TYPED_VECTOR_DECLS(cidc_scanLineSeg, cidc_scanLineSeg)
CSTD_TYPED_VECTOR_DECLS(cidc_scanRay, cidc_scanRay)
CSTD_TYPED_VECTOR_DECLS(cidc_scanShape, cidc_scanShape)

IDUT_EXTERN_C_END

#endif
