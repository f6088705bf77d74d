// Lines and segments.
#include "ci_id/line.h"

#include <cmath>
#include <cstring>

namespace {
constexpr double kMinDirection = 1e-5;
constexpr double kParallel = 1e-12;
}  // namespace

extern "C" {

csys_status cidut_line_initAngPos(cidut_line* line, double angle, const cmath_vect* point) {
  CSYS_REQUIRE(line != nullptr && point != nullptr);
  std::memset(line, 0, sizeof(*line));
  line->pos = *point;
  line->dir = cmath_vect{std::cos(angle), std::sin(angle)};
  return 0;
}

csys_status cidut_line_initDirPos(cidut_line* line, const cmath_vect* direction, const cmath_vect* point) {
  CSYS_REQUIRE(line != nullptr && direction != nullptr && point != nullptr);
  const cmath_vect d = *direction, p = *point;  // the inputs may alias the record
  std::memset(line, 0, sizeof(*line));
  const double length = std::hypot(d.x, d.y);
  if (!(length >= kMinDirection)) return cidut_errZeroDirection;
  line->pos = p;
  line->dir = cmath_vect{d.x / length, d.y / length};
  return 0;
}

csys_status cidut_line_initAngDis(cidut_line* line, double angle, double distance) {
  CSYS_REQUIRE(line != nullptr);
  std::memset(line, 0, sizeof(*line));
  if (distance < 0.0) return cidut_errZeroDirection;
  const double c = std::cos(angle), s = std::sin(angle);
  line->dir = cmath_vect{c, s};
  if (!cmath_double_epsilonEqual(c, 0.0, kMinDirection)) {
    line->pos = cmath_vect{0.0, distance / c};
  } else {
    CSYS_REQUIRE(!cmath_double_epsilonEqual(s, 0.0, kMinDirection));
    line->pos = cmath_vect{-distance / s, 0.0};
  }
  return 0;
}

csys_status cidut_line_getIntersection(const cidut_line* line1, const cidut_line* line2, cmath_vect* point) {
  CSYS_REQUIRE(line1 != nullptr && line2 != nullptr && point != nullptr);
  const double d = line1->dir.x * line2->dir.y - line1->dir.y * line2->dir.x;
  if (!(std::fabs(d) >= kParallel)) return cidut_errParallelLines;
  const double t = ((line2->pos.x - line1->pos.x) * line2->dir.y - (line2->pos.y - line1->pos.y) * line2->dir.x) / d;
  *point = cmath_vect{line1->pos.x + t * line1->dir.x, line1->pos.y + t * line1->dir.y};
  return 0;
}

csys_status cidut_line_projectPoint(const cidut_line* line, const cmath_vect* point, cmath_vect* foot) {
  CSYS_REQUIRE(line != nullptr && point != nullptr && foot != nullptr);
  const double t = (point->x - line->pos.x) * line->dir.x + (point->y - line->pos.y) * line->dir.y;
  *foot = cmath_vect{line->pos.x + t * line->dir.x, line->pos.y + t * line->dir.y};
  return 0;
}

csys_status cidut_line_getDistToPoint(const cidut_line* line, const cmath_vect* point, double* distance) {
  CSYS_REQUIRE(line != nullptr && point != nullptr && distance != nullptr);
  *distance = (point->x - line->pos.x) * line->dir.y - (point->y - line->pos.y) * line->dir.x;
  return 0;
}

csys_status cidut_lineSeg_initP1P2(cidut_lineSeg* seg, const cmath_vect* p1, const cmath_vect* p2) {
  CSYS_REQUIRE(seg != nullptr && p1 != nullptr && p2 != nullptr);
  const cmath_vect a = *p1, b = *p2;
  seg->p1 = a;
  seg->p2 = b;
  return 0;
}

csys_status cidut_lineSeg_getLine(const cidut_lineSeg* seg, cidut_line* line) {
  CSYS_REQUIRE(seg != nullptr && line != nullptr);
  const cmath_vect diff{seg->p2.x - seg->p1.x, seg->p2.y - seg->p1.y};
  cmath_vect unit;
  if (CSYS_FAILED(cmath_vect_getUnit(&diff, &unit))) return cidut_errDegenerateSegment;
  line->pos = seg->p1;
  line->dir = unit;
  return 0;
}

csys_status cidut_lineSeg_getAngle(const cidut_lineSeg* seg, double* angle) {
  CSYS_REQUIRE(seg != nullptr && angle != nullptr);
  cidut_line line;
  csys_status st = cidut_lineSeg_getLine(seg, &line);
  if (CSYS_FAILED(st)) return st;
  return cmath_vect_getDirection(&line.dir, angle);
}

csys_status cidut_lineSeg_getDistToPoint(const cidut_lineSeg* seg, const cmath_vect* point, double* distance) {
  CSYS_REQUIRE(seg != nullptr && point != nullptr && distance != nullptr);
  cidut_line line;
  csys_status st = cidut_lineSeg_getLine(seg, &line);
  if (CSYS_FAILED(st)) return st;
  return cidut_line_getDistToPoint(&line, point, distance);
}

csys_status cidut_lineSeg_getIntersection(const cidut_lineSeg* seg1, const cidut_lineSeg* seg2, cmath_vect* point) {
  CSYS_REQUIRE(seg1 != nullptr && seg2 != nullptr && point != nullptr);
  // Implicit form a x + b y + c = 0 of each segment's line.
  const double a1 = seg1->p2.y - seg1->p1.y, b1 = -(seg1->p2.x - seg1->p1.x);
  const double c1 = -b1 * seg1->p1.y - a1 * seg1->p1.x;
  const double a2 = seg2->p2.y - seg2->p1.y, b2 = -(seg2->p2.x - seg2->p1.x);
  const double c2 = -b2 * seg2->p1.y - a2 * seg2->p1.x;
  const double d = a1 * b2 - a2 * b1;
  if (!(std::fabs(d) >= kParallel)) return cidut_errParallelLines;
  *point = cmath_vect{(b1 * c2 - b2 * c1) / d, (c1 * a2 - c2 * a1) / d};
  return 0;
}

}  // extern "C"
