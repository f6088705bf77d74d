#include "ci_id/scanclip.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int64_t kOne16 = 65536;
constexpr int64_t kMaxCornerOffset = (int64_t(1) << 32) - 2;

struct ClipRect {
  int64_t x0, y0, x1, y1;  // closed, 1/16 pixel
  int64_t w, h;
};

ClipRect clipRect(const cidc_windowROI* roi) {
  return {roi->firstCentre[0], roi->firstCentre[1], roi->lastCentre[0], roi->lastCentre[1], roi->span[0], roi->span[1]};
}

bool inside(const ClipRect& r, const cidc_vect64_4& p) {
  return p.x >= r.x0 && p.x <= r.x1 && p.y >= r.y0 && p.y <= r.y1;
}

csys_status segmentOn(const cidc_scanLine* line, cidc_vect64_4 a, cidc_vect64_4 b, cidc_scanLineSeg* out) {
  const cidc_vect64_4 p[2] = {a, b};
  return cidc_scanLineSeg_initPoints(out, p, line);
}

// Axis-parallel shapes: `fixedAxis` is the coordinate that stays constant along the shape.
// Returns false when the constant coordinate misses the rectangle.
bool onAxisBand(const ClipRect& r, int fixedAxis, int64_t value) {
  return fixedAxis == 0 ? (value >= r.x0 && value <= r.x1) : (value >= r.y0 && value <= r.y1);
}

// A slanted line, reflected so that it runs towards +x and +y from the entry corner. The
// function c(p) = p.x*ay - p.y*ax is constant along the line; its value against a corner tells
// which side of the rectangle the line crosses next to that corner and how far from it.
csys_status clipSlantedLine(const cidc_scanLine* line, const ClipRect& r, cidc_scanLineSeg* out) {
  const int64_t dx = line->dir.x, dy = line->dir.y;
  const cidc_vect64_4 f = line->footPoint;
  const bool sx = dx > 0, sy = dy > 0;
  const int64_t ax = std::llabs(dx), ay = std::llabs(dy);
  const int64_t ex = sx ? f.x - r.x0 : r.x1 - f.x;
  const int64_t ey = sy ? f.y - r.y0 : r.y1 - f.y;
  CSYS_REQUIRE(std::llabs(ex) <= kMaxCornerOffset && std::llabs(ey) <= kMaxCornerOffset);
  const int64_t a = r.w * ay, b = -r.h * ax;
  const int64_t c0 = ex * ay - ey * ax, c1 = a + b - c0;
  if (c0 > a || c0 < b || c1 > a || c1 < b) return cidc_scanLineSeg_initDegen(out);
  const int64_t stepX = sx ? 1 : -1, stepY = sy ? 1 : -1;
  cidc_vect64_4 entry{sx ? r.x0 : r.x1, sy ? r.y0 : r.y1};
  cidc_vect64_4 exit{sx ? r.x1 : r.x0, sy ? r.y1 : r.y0};
  if (c0 < 0) entry.y += stepY * (-c0 / ax);  // enters through the vertical side
  else entry.x += stepX * (c0 / ay);          // through the horizontal side
  if (c1 < 0) exit.y -= stepY * (-c1 / ax);
  else exit.x -= stepX * (c1 / ay);
  return segmentOn(line, entry, exit, out);
}

// One axis of the slanted segment clip: widens the cut fractions t[0] <= 0 <= t[1] (16.16 shares
// of the segment removed at its start and its end) so that the axis stays in [lo, hi].
csys_status cutAxis(int32_t a0, int32_t a1, int64_t lo, int64_t hi, int32_t t[2]) {
  const int64_t delta = int64_t(a1) - a0;
  if (delta == 0) {
    if (a0 < lo || a0 > hi) {
      t[0] = -int32_t(kOne16);
      t[1] = int32_t(kOne16);
    }
    return 0;
  }
  const int64_t length = std::llabs(delta);
  const int64_t startOver = delta > 0 ? lo - a0 : a0 - hi;
  const int64_t endOver = delta > 0 ? a1 - hi : lo - a1;
  if (startOver > 0) {
    const int32_t f = int32_t((std::min(startOver, length) * kOne16) / length);
    if (f > -t[0]) t[0] = -f;
  }
  if (endOver > 0) {
    const int32_t f = int32_t((std::min(endOver, length) * kOne16) / length);
    if (f > t[1]) t[1] = f;
  }
  CSYS_REQUIRE(t[0] <= 0 && t[1] >= 0);
  return 0;
}

csys_status clipSlantedSegment(const cidc_scanLineSeg* seg, const ClipRect& r, cidc_scanLineSeg* out) {
  const cidc_vect64_4 p0 = seg->endPoint[0], p1 = seg->endPoint[1];
  int32_t t[2] = {0, 0};
  csys_status st;
  CSYS_TRY(st, cutAxis(int32_t(p0.x), int32_t(p1.x), r.x0, r.x1, t));
  CSYS_TRY(st, cutAxis(int32_t(p0.y), int32_t(p1.y), r.y0, r.y1, t));
  if (int64_t(t[1]) - t[0] >= kOne16) return cidc_scanLineSeg_initDegen(out);
  // The extent times the cut fraction is formed in 64 bits, so segments of any length clip
  // exactly (a 32-bit product would wrap beyond 2048 pixels).
  const int64_t ex = int64_t(int32_t(p1.x) - int32_t(p0.x)), ey = int64_t(int32_t(p1.y) - int32_t(p0.y));
  const cidc_vect64_4 a{p0.x - ((ex * t[0]) >> 16), p0.y - ((ey * t[0]) >> 16)};
  const cidc_vect64_4 b{p1.x - ((ex * t[1]) >> 16), p1.y - ((ey * t[1]) >> 16)};
  return segmentOn(&seg->line, a, b, out);
}

// Axis-parallel segment: keep [start, end] of the moving coordinate inside [lo, hi], in the
// direction of travel; nothing is left unless the end lies strictly beyond the start.
csys_status clipAxisSegment(const cidc_scanLineSeg* seg, int movingAxis, int64_t lo, int64_t hi, int64_t travel,
                            cidc_scanLineSeg* out) {
  cidc_vect64_4 a = seg->endPoint[0], b = seg->endPoint[1];
  int64_t& start = movingAxis == 0 ? a.x : a.y;
  int64_t& end = movingAxis == 0 ? b.x : b.y;
  if (travel < 0) {
    start = std::min(start, hi);
    end = std::max(end, lo);
    if (!(end < start)) return cidc_scanLineSeg_initDegen(out);
  } else {
    start = std::max(start, lo);
    end = std::min(end, hi);
    if (!(end > start)) return cidc_scanLineSeg_initDegen(out);
  }
  return segmentOn(&seg->line, a, b, out);
}

// Along-coordinate of the centre of the pixel holding p, as segments compute it for their ends.
int64_t pixelCentreAlong(const cidc_scanLine* line, const cidc_vect64_4& p) {
  const int64_t cx = 16 * (p.x >> 4) + 8, cy = 16 * (p.y >> 4) + 8;
  return (cx * line->scaledRot[0] - cy * line->scaledRot[1]) >> 16;
}

}  // namespace

extern "C" {

csys_status cidc_scanLine_clip(const cidc_scanLine* line, const cidc_windowROI* roi, cidc_scanLineSeg* out) {
  CSYS_REQUIRE(line != nullptr && roi != nullptr && out != nullptr);
  const int32_t dx = line->dir.x, dy = line->dir.y;
  if (dx == 0 && dy == 0) return cidut_errZeroDirection;
  const ClipRect r = clipRect(roi);
  const cidc_vect64_4 f = line->footPoint;
  if (dx == 0) {
    if (!onAxisBand(r, 0, f.x)) return cidc_scanLineSeg_initDegen(out);
    return dy > 0 ? segmentOn(line, {f.x, r.y0}, {f.x, r.y1}, out) : segmentOn(line, {f.x, r.y1}, {f.x, r.y0}, out);
  }
  if (dy == 0) {
    if (!onAxisBand(r, 1, f.y)) return cidc_scanLineSeg_initDegen(out);
    return dx > 0 ? segmentOn(line, {r.x0, f.y}, {r.x1, f.y}, out) : segmentOn(line, {r.x1, f.y}, {r.x0, f.y}, out);
  }
  return clipSlantedLine(line, r, out);
}

csys_status cidc_scanLineSeg_clip(const cidc_scanLineSeg* seg, const cidc_windowROI* roi, cidc_scanLineSeg* out) {
  CSYS_REQUIRE(seg != nullptr && roi != nullptr && out != nullptr);
  const int32_t dx = seg->line.dir.x, dy = seg->line.dir.y;
  if (dx == 0 && dy == 0) return cidut_errZeroDirection;
  if (seg->isDegenerate) return cidc_scanLineSeg_initDegen(out);
  const ClipRect r = clipRect(roi);
  const cidc_vect64_4 f = seg->line.footPoint;
  if (dx == 0) {
    if (!onAxisBand(r, 0, f.x)) return cidc_scanLineSeg_initDegen(out);
    return clipAxisSegment(seg, 1, r.y0, r.y1, dy, out);
  }
  if (dy == 0) {
    if (!onAxisBand(r, 1, f.y)) return cidc_scanLineSeg_initDegen(out);
    return clipAxisSegment(seg, 0, r.x0, r.x1, dx, out);
  }
  return clipSlantedSegment(seg, r, out);
}

csys_status cidc_scanRay_clip(const cidc_scanRay* ray, const cidc_windowROI* roi, cidc_scanLineSeg* out) {
  CSYS_REQUIRE(ray != nullptr && roi != nullptr && out != nullptr);
  cidc_scanLineSeg whole;
  csys_status st;
  CSYS_TRY(st, cidc_scanLine_clip(&ray->line, roi, &whole));
  const cidc_vect64_4 o = ray->origin;
  if (whole.isDegenerate || !inside(clipRect(roi), o)) {
    *out = whole;
    return st;
  }
  const int64_t ahead =
      (whole.endPoint[1].x - o.x) * int64_t(ray->line.dir.x) + (whole.endPoint[1].y - o.y) * int64_t(ray->line.dir.y);
  // The origin need not lie exactly on the rounded line; when that puts its pixel beyond the
  // clipped end along the line (they are then neighbours), the stretch is the end's pixel alone.
  const cidc_scanLine* l = &ray->line;
  if (ahead > 0) {
    const cidc_vect64_4 e = whole.endPoint[1];
    return segmentOn(l, pixelCentreAlong(l, o) <= pixelCentreAlong(l, e) ? o : e, e, out);
  }
  const cidc_vect64_4 e = whole.endPoint[0];
  return segmentOn(l, e, pixelCentreAlong(l, e) <= pixelCentreAlong(l, o) ? o : e, out);
}

csys_status cidc_scanShape_clip(const cidc_scanShape* shape, const cidc_windowROI* roi, cidc_scanLineSeg* out) {
  CSYS_REQUIRE(shape != nullptr && roi != nullptr && out != nullptr);
  CSYS_REQUIRE(shape->seg != nullptr || shape->line != nullptr || shape->ray != nullptr);
  if (shape->seg != nullptr) return cidc_scanLineSeg_clip(shape->seg, roi, out);
  if (shape->ray != nullptr) return cidc_scanRay_clip(shape->ray, roi, out);
  return cidc_scanLine_clip(shape->line, roi, out);
}

}  // extern "C"
