// Fixed-point shapes: points in 1/16 pixel, segments and lines with a 16-bit angle, and the
// three-point affine rectangle.
#include "ci_id/fixpt.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/cmath_fixed.h"

namespace {

constexpr int64_t kMaxPointDelta = 0x3FFFC;  // exclusive bound of |dx|, |dy| for point distances
constexpr int64_t kMaxLineDelta = 0xFFFF;    // exclusive bound for line distances
constexpr int kTrigBits = 15;

// Sine and cosine of a line's angle at 15 fraction bits.
struct Trig {
  int64_t c, s;
};

Trig trigOf(uint16_t angle) {
  return Trig{cmath_cos16FixedPoint(angle, kTrigBits), cmath_sin16FixedPoint(angle, kTrigBits)};
}

bool fitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// |component| of the point's offset from the line's point across the line (along = false) or
// along it, in the point's units.
csys_status lineDistance(const cmath_shapeFixPtLine* line, const cmath_vect32_4* point, bool along,
                         int32_t* distance) {
  CSYS_REQUIRE(line != nullptr && point != nullptr && distance != nullptr);
  const int64_t dx = int64_t{point->x} - line->x, dy = int64_t{point->y} - line->y;
  CSYS_REQUIRE(std::llabs(dx) < kMaxLineDelta && std::llabs(dy) < kMaxLineDelta);
  const Trig t = trigOf(line->angle);
  const int64_t sum = along ? ((dx * t.c) >> kTrigBits) + ((dy * t.s) >> kTrigBits)
                            : ((dx * -t.s) >> kTrigBits) + ((dy * t.c) >> kTrigBits);
  *distance = static_cast<int32_t>(std::llabs(sum));
  return 0;
}

}  // namespace

extern "C" {

csys_status cmath_shapeFixPtAffineRectPoints_init(cmath_shapeFixPtAffineRectPoints* points) {
  CSYS_REQUIRE(points != nullptr);
  points->po = cmath_vect32_4{0, 0};
  points->px = cmath_vect32_4{16, 0};
  points->py = cmath_vect32_4{0, 16};
  return 0;
}

csys_status cmath_shapeAffineRect_initFixPtPoints(cmath_shapeAffineRect* rect,
                                                  const cmath_shapeFixPtAffineRectPoints* points) {
  CSYS_REQUIRE(rect != nullptr && points != nullptr);
  auto toPixels = [](cmath_vect32_4 p) { return cmath_vect{p.x / 16.0, p.y / 16.0}; };
  const cmath_shapeAffineRectPoints corners{toPixels(points->po), toPixels(points->px), toPixels(points->py)};
  return cmath_shapeAffineRect_initPoints(rect, &corners);
}

csys_status cmath_shapeAffineRect_getFixPtPoints(const cmath_shapeAffineRect* rect,
                                                 cmath_shapeFixPtAffineRectPoints* points) {
  CSYS_REQUIRE(rect != nullptr && points != nullptr);
  cmath_shapeAffineRectPoints corners;
  const csys_status st = cmath_shapeAffineRect_getPoints(rect, &corners);
  if (CSYS_FAILED(st)) return st;
  const double coords[6] = {corners.po.x, corners.po.y, corners.px.x, corners.px.y, corners.py.x, corners.py.y};
  int32_t fixed[6];
  for (int i = 0; i < 6; ++i) {
    const double v = std::trunc(coords[i] * 16.0);
    // Negated so that NaN is refused too.
    if (!(v >= INT32_MIN && v <= INT32_MAX)) return cidut_errBadArgument;
    fixed[i] = static_cast<int32_t>(v);
  }
  points->po = cmath_vect32_4{fixed[0], fixed[1]};
  points->px = cmath_vect32_4{fixed[2], fixed[3]};
  points->py = cmath_vect32_4{fixed[4], fixed[5]};
  return 0;
}

csys_status cmath_vect32_4_getDistance(const cmath_vect32_4* a, const cmath_vect32_4* b, int32_t* distance) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && distance != nullptr);
  const int64_t dx = int64_t{a->x} - b->x, dy = int64_t{a->y} - b->y;
  CSYS_REQUIRE(std::llabs(dx) < kMaxPointDelta && std::llabs(dy) < kMaxPointDelta);
  // Quarter-pixel units keep each square below 2^32; their sum may not be, so it is formed in
  // 64 bits and only the rare large case takes the wide root.
  const int64_t qx = dx >> 2, qy = dy >> 2;
  const uint64_t sum = static_cast<uint64_t>(qx * qx) + static_cast<uint64_t>(qy * qy);
  const uint32_t root = sum <= UINT32_MAX ? cmath_sqrt32(static_cast<uint32_t>(sum)) : cmath_sqrt64(sum);
  *distance = static_cast<int32_t>(root << 2);
  return 0;
}

csys_status cmath_shapeFixPtLineSeg_getLine(const cmath_shapeFixPtLineSeg* segment, cmath_shapeFixPtLine* line) {
  CSYS_REQUIRE(segment != nullptr && line != nullptr);
  const double dx = double(segment->p1.x) - segment->p2.x, dy = double(segment->p1.y) - segment->p2.y;
  const double turns = cmath_double_round(std::atan2(dy, dx) * (32768.0 / M_PI));  // in (-32768, 32768]
  const cmath_vect32_4 p1 = segment->p1;
  line->x = p1.x;
  line->y = p1.y;
  line->angle = static_cast<uint16_t>(static_cast<int32_t>(turns) & 0xFFFF);
  return 0;
}

csys_status cmath_shapeFixPtLine_distanceFrom(const cmath_shapeFixPtLine* line, const cmath_vect32_4* point,
                                              int32_t* distance) {
  return lineDistance(line, point, false, distance);
}

csys_status cmath_shapeFixPtLine_distanceAlong(const cmath_shapeFixPtLine* line, const cmath_vect32_4* point,
                                               int32_t* distance) {
  return lineDistance(line, point, true, distance);
}

csys_status cmath_shapeFixPtLineSeg_distanceFrom(const cmath_shapeFixPtLineSeg* segment, const cmath_vect32_4* point,
                                                 int32_t* distance) {
  CSYS_REQUIRE(segment != nullptr && point != nullptr && distance != nullptr);
  const cmath_vect32_4 p1 = segment->p1, p2 = segment->p2, q = *point;
  if (p1.x == p2.x && p1.y == p2.y) return cidut_errUnsupported;
  // Projection of q onto the segment in quarter-pixel units: t / L is its parameter along p1->p2.
  const int64_t ux = (int64_t{p2.x} - p1.x) >> 2, uy = (int64_t{p2.y} - p1.y) >> 2;
  const int64_t t = 4 * (((int64_t{q.x} - p1.x) >> 2) * ux + ((int64_t{q.y} - p1.y) >> 2) * uy);
  const int64_t len = 4 * (ux * ux + uy * uy);
  CSYS_REQUIRE(len != 0);
  if (t < 0) return cmath_vect32_4_getDistance(&q, &p1, distance);
  if (t >= len) return cmath_vect32_4_getDistance(&q, &p2, distance);
  cmath_shapeFixPtLine line;
  const csys_status st = cmath_shapeFixPtLineSeg_getLine(segment, &line);
  if (CSYS_FAILED(st)) return st;
  return cmath_shapeFixPtLine_distanceFrom(&line, &q, distance);
}

csys_status cmath_shapeFixPtAffineRectPoints_getIsWithin(const cmath_shapeFixPtAffineRectPoints* points,
                                                         const cmath_vect32_4* point, uint32_t* isWithin) {
  CSYS_REQUIRE(points != nullptr && point != nullptr && isWithin != nullptr);
  const cmath_vect32_4 po = points->po, px = points->px, py = points->py, q = *point;
  const int64_t oppX = int64_t{px.x} + py.x - po.x, oppY = int64_t{px.y} + py.y - po.y;
  CSYS_REQUIRE(fitsInt32(oppX) && fitsInt32(oppY));
  const cmath_vect32_4 popp{static_cast<int32_t>(oppX), static_cast<int32_t>(oppY)};

  // Bounding box widened by two pixels: anything outside it is out without further work.
  constexpr int64_t kMargin = 32;
  const int64_t minX = std::min({po.x, px.x, py.x, popp.x}) - kMargin;
  const int64_t maxX = std::max({po.x, px.x, py.x, popp.x}) + kMargin;
  const int64_t minY = std::min({po.y, px.y, py.y, popp.y}) - kMargin;
  const int64_t maxY = std::max({po.y, px.y, py.y, popp.y}) + kMargin;
  if (!(q.x > minX && q.x < maxX && q.y > minY && q.y < maxY)) {
    *isWithin = 0;
    return 0;
  }

  // The sides as lines: A = po-px and D = py-popp (the X sides), C = px-popp and B = po-py
  // (the Y sides), and the point's distance from each.
  const cmath_shapeFixPtLineSeg sides[4] = {{po, px}, {py, popp}, {px, popp}, {po, py}};
  cmath_shapeFixPtLine lines[4];
  int32_t dist[4];
  for (int i = 0; i < 4; ++i) {
    csys_status st = cmath_shapeFixPtLineSeg_getLine(&sides[i], &lines[i]);
    if (CSYS_FAILED(st)) return st;
    st = cmath_shapeFixPtLine_distanceFrom(&lines[i], &q, &dist[i]);
    if (CSYS_FAILED(st)) return st;
  }
  const int64_t dA = dist[0], dD = dist[1], dC = dist[2], dB = dist[3];
  int32_t lenX = 0, lenY = 0;
  csys_status st = cmath_vect32_4_getDistance(&po, &px, &lenX);
  if (CSYS_FAILED(st)) return st;
  st = cmath_vect32_4_getDistance(&po, &py, &lenY);
  if (CSYS_FAILED(st)) return st;

  // Skew: how far the angle between the sides is from a quarter turn. Its cosine turns the
  // side lengths into the perpendicular height and width; the sign does not matter.
  uint16_t skew = static_cast<uint16_t>(lines[3].angle - 0x4000 - lines[0].angle);
  if (skew > 0x8000) skew = static_cast<uint16_t>(0x8000 - skew);
  const int64_t k = cmath_cos16FixedPoint(skew, kTrigBits);
  const int64_t height = std::llabs(lenY * k) + 1, width = std::llabs(lenX * k) + 1;
  *isWithin = (dA * 0x8000 < height && dD * 0x8000 < height && dC * 0x8000 < width && dB * 0x8000 < width) ? 1 : 0;
  return 0;
}

}  // extern "C"
