/* Clipping scan shapes to the usable rectangle of a window.
 *
 * Every clip cuts its shape to the closed rectangle of usable pixel centres
 * [roi->firstCentre, roi->lastCentre] and writes a segment on the shape's own line, so its
 * endPixel and endProj agree with that line. Nothing left (the shape misses the rectangle, or
 * only a single point of an axis-parallel segment survives) gives success and an empty segment
 * (isDegenerate = 1). The clipped ends may lie up to two 1/16-pixel units outside the rectangle
 * because cut positions are truncated; their pixels (endPixel) always lie in the usable
 * columns [colBegin, colEnd) and rows [rowBegin, rowEnd) of an roi made with whole-pixel
 * margins.
 *
 * Status: 0 on success; cidut_errZeroDirection when the shape's line has direction (0, 0) (a
 * line written by hand; the initialisers never make one); csys_errAssertion for null pointers.
 * On failure `out` is left as it was. */
#ifndef IDUT_CI_ID_SCANCLIP_H
#define IDUT_CI_ID_SCANCLIP_H

#include "ci_id/scanshape.h"

IDUT_EXTERN_C_BEGIN

/* The part of the infinite line inside the rectangle, running in the line's direction. */
IDUT_API csys_status cidc_scanLine_clip(const cidc_scanLine* line, const cidc_windowROI* roi, cidc_scanLineSeg* out);
/* The part of the segment inside the rectangle; an empty input segment stays empty. */
IDUT_API csys_status cidc_scanLineSeg_clip(const cidc_scanLineSeg* seg, const cidc_windowROI* roi,
                                           cidc_scanLineSeg* out);
/* With the ray's origin inside the rectangle (bounds included): from the origin to where the
 * line leaves the rectangle; an origin on that exit side (nothing ahead of it) keeps instead
 * the stretch from where the line enters to the origin. With the origin outside the rectangle,
 * the whole clipped line. */
IDUT_API csys_status cidc_scanRay_clip(const cidc_scanRay* ray, const cidc_windowROI* roi, cidc_scanLineSeg* out);
/* Dispatches on the shape's kind: segment, else ray, else line. */
IDUT_API csys_status cidc_scanShape_clip(const cidc_scanShape* shape, const cidc_windowROI* roi,
                                         cidc_scanLineSeg* out);

IDUT_EXTERN_C_END

#endif
