#include "ci_id/scanshape.h"
#include <algorithm>
#include <cstdlib>
#include "base/cmath_fixed.h"
#include "ci_id/priv/ci_idut/vector_defs.hpp"

namespace {

constexpr int32_t kOne16 = 65536;

void setDerived(cidc_scanLine* line) {
  const int32_t dx = line->dir.x, dy = line->dir.y;
  const int32_t m = std::max(std::abs(dx), std::abs(dy));
  line->majorMag = m;
  const int32_t k = m >> 3;
  line->majorStep[0] = (dx * 8192) / k;
  line->majorStep[1] = (dy * 8192) / k;
  line->scaledRot[0] = (dx * k) >> 13;
  line->scaledRot[1] = -((dy * k) >> 13);
}

void project(const cidc_scanLine* line, int64_t qx, int64_t qy, int64_t uv[2]) {
  const int64_t rx = line->scaledRot[0], ry = line->scaledRot[1];
  uv[0] = (qx * rx - qy * ry) >> 16;
  uv[1] = (qx * ry + qy * rx) >> 16;
}

void setDefault(cidc_scanLine* line) {
  *line = cidc_scanLine{};
  line->dir = {kOne16, 0};
  setDerived(line);
}

}  // namespace

extern "C" {

csys_status cidc_unitDir16_initVect(cidc_unitDir16* dir, int32_t dx, int32_t dy) {
  CSYS_REQUIRE(dir != nullptr);
  if (dx == 0) {
    *dir = {0, dy <= 0 ? -kOne16 : kOne16};
    return 0;
  }
  if (dy == 0) {
    *dir = {dx < 0 ? -kOne16 : kOne16, 0};
    return 0;
  }
  int32_t m = std::max(std::abs(dx), std::abs(dy));
  while (m >= 32768) {  // keep dx^2 + dy^2 inside 32 bits
    m >>= 1;
    dx >>= 1;
    dy >>= 1;
  }
  while (m < 16384) {  // and use the square root's full precision
    m *= 2;
    dx *= 2;
    dy *= 2;
  }
  const uint32_t sq = uint32_t(int64_t(dx) * dx + int64_t(dy) * dy);
  const uint16_t len = uint16_t(cmath_sqrt32(sq));
  CSYS_REQUIRE(len > 0);
  const int32_t x = int32_t((int64_t(dx) * kOne16) / len), y = int32_t((int64_t(dy) * kOne16) / len);
  CSYS_REQUIRE(x >= -kOne16 && x <= kOne16 && y >= -kOne16 && y <= kOne16);
  *dir = {x, y};
  return 0;
}


csys_status cidc_scanLine_init(cidc_scanLine* line) {
  CSYS_REQUIRE(line != nullptr);
  setDefault(line);
  return 0;
}

csys_status cidc_scanLine_initPointDir(cidc_scanLine* line, const cidc_vect64_4* point, const cidc_unitDir16* dir) {
  CSYS_REQUIRE(line != nullptr && point != nullptr && dir != nullptr);
  const int64_t dx = dir->x, dy = dir->y;
  if (dx == 0 && dy == 0) {
    setDefault(line);
    line->footPoint = *point;
    return 0;
  }
  *line = cidc_scanLine{};
  line->dir = *dir;
  if (dx == 0) {  // axis-parallel lines stay exact
    line->footPoint = {point->x, 0};
    line->normalOffset = -point->x * dy / kOne16;
  } else if (dy == 0) {
    line->footPoint = {0, point->y};
    line->normalOffset = point->y * dx / kOne16;
  } else {
    const int64_t d = (point->x * -dy + point->y * dx) >> 16;
    line->normalOffset = d;
    line->footPoint = {(d * -dy) >> 16, (d * dx) >> 16};
  }
  setDerived(line);
  return 0;
}

csys_status cidc_scanLine_translate(const cidc_scanLine* in, const cidc_vect64_4* t, cidc_scanLine* out) {
  CSYS_REQUIRE(in != nullptr && t != nullptr && out != nullptr);
  cidc_scanLine l = *in;
  const int64_t dx = l.dir.x, dy = l.dir.y;
  const int64_t delta = (t->x * -dy + t->y * dx) >> 16;
  l.normalOffset += delta;
  l.footPoint.x += (delta * -dy) >> 16;
  l.footPoint.y += (delta * dx) >> 16;
  *out = l;
  return 0;
}

csys_status cidc_scanLine_initDirDist(cidc_scanLine* line, uint16_t angle, int64_t offset,
                                      const cidc_vect64_4* translation) {
  CSYS_REQUIRE(line != nullptr);
  *line = cidc_scanLine{};
  if ((angle & 0x7FFF) == 0) {
    const int32_t sx = angle == 0 ? 1 : -1;
    line->dir = {sx * kOne16, 0};
    line->footPoint = {0, sx * offset};
    line->normalOffset = offset;
    if (translation != nullptr) {
      line->footPoint.y += translation->y;
      line->normalOffset = line->footPoint.y * sx;
    }
  } else if ((angle & 0x7FFF) == 0x4000) {
    const int32_t sy = angle == 0x4000 ? 1 : -1;
    line->dir = {0, sy * kOne16};
    line->footPoint = {-sy * offset, 0};
    line->normalOffset = offset;
    if (translation != nullptr) {
      line->footPoint.x += translation->x;
      line->normalOffset = -line->footPoint.x * sy;
    }
  } else {
    line->dir = {cmath_cos16FixedPoint(angle, 16), cmath_sin16FixedPoint(angle, 16)};
    line->normalOffset = offset;
    line->footPoint = {(offset * -int64_t(line->dir.y)) >> 16, (offset * int64_t(line->dir.x)) >> 16};
    if (translation != nullptr) cidc_scanLine_translate(line, translation, line);
  }
  setDerived(line);
  return 0;
}

csys_status cidc_scanLineSeg_initDegen(cidc_scanLineSeg* seg) {
  CSYS_REQUIRE(seg != nullptr);
  *seg = cidc_scanLineSeg{};
  setDefault(&seg->line);
  seg->isDegenerate = 1;
  return 0;
}

csys_status cidc_scanLineSeg_initPoints(cidc_scanLineSeg* seg, const cidc_vect64_4 points[2],
                                        const cidc_scanLine* line) {
  CSYS_REQUIRE(seg != nullptr && points != nullptr);
  cidc_scanLineSeg s{};
  for (int i = 0; i < 2; ++i) {
    s.endPoint[i] = points[i];
    s.endPixel[i][0] = int32_t(points[i].x >> 4);
    s.endPixel[i][1] = int32_t(points[i].y >> 4);
  }
  if (line != nullptr) {
    s.line = *line;
  } else {
    cidc_unitDir16 d;
    csys_status st;
    CSYS_TRY(st, cidc_unitDir16_initVect(&d, int32_t(points[1].x - points[0].x), int32_t(points[1].y - points[0].y)));
    CSYS_TRY(st, cidc_scanLine_initPointDir(&s.line, &points[0], &d));
  }
  for (int i = 0; i < 2; ++i)
    project(&s.line, 16 * int64_t(s.endPixel[i][0]) + 8, 16 * int64_t(s.endPixel[i][1]) + 8, s.endProj[i]);
  CSYS_REQUIRE(s.endProj[0][0] <= s.endProj[1][0]);
  *seg = s;
  return 0;
}

csys_status cidc_scanLineSeg_initPeakPos(cidc_scanLineSeg* seg, const cidc_scanLine* line, const int64_t along[2]) {
  CSYS_REQUIRE(seg != nullptr && line != nullptr && along != nullptr);
  cidc_vect64_4 p[2];
  for (int i = 0; i < 2; ++i)
    p[i] = {line->footPoint.x + ((along[i] * line->majorStep[0]) >> 16),
            line->footPoint.y + ((along[i] * line->majorStep[1]) >> 16)};
  return cidc_scanLineSeg_initPoints(seg, p, line);
}

csys_status cidc_scanLineSeg_translate(const cidc_scanLineSeg* in, const cidc_vect64_4* t, cidc_scanLineSeg* out) {
  CSYS_REQUIRE(in != nullptr && t != nullptr && out != nullptr);
  cidc_scanLine l;
  csys_status st;
  CSYS_TRY(st, cidc_scanLine_translate(&in->line, t, &l));
  const cidc_vect64_4 p[2] = {{in->endPoint[0].x + t->x, in->endPoint[0].y + t->y},
                              {in->endPoint[1].x + t->x, in->endPoint[1].y + t->y}};
  return cidc_scanLineSeg_initPoints(out, p, &l);
}

csys_status cidc_scanRay_init(cidc_scanRay* ray) {
  CSYS_REQUIRE(ray != nullptr);
  setDefault(&ray->line);
  ray->origin = {0, 0};
  return 0;
}

csys_status cidc_scanRay_initPointDir(cidc_scanRay* ray, const cidc_vect64_4* point, const cidc_unitDir16* dir,
                                      const cidc_scanLine* line) {
  CSYS_REQUIRE(ray != nullptr && point != nullptr && dir != nullptr);
  csys_status st = 0;
  if (line != nullptr) ray->line = *line;
  else CSYS_TRY(st, cidc_scanLine_initPointDir(&ray->line, point, dir));
  ray->origin = *point;
  return 0;
}

csys_status cidc_scanShape_initScanLine(cidc_scanShape* shape, cidc_scanLine* line) {
  CSYS_REQUIRE(shape != nullptr && line != nullptr);
  *shape = {nullptr, line, nullptr};
  return 0;
}

csys_status cidc_scanShape_initScanLineSeg(cidc_scanShape* shape, cidc_scanLineSeg* seg) {
  CSYS_REQUIRE(shape != nullptr && seg != nullptr);
  *shape = {seg, &seg->line, nullptr};
  return 0;
}

csys_status cidc_scanShape_initScanRay(cidc_scanShape* shape, cidc_scanRay* ray) {
  CSYS_REQUIRE(shape != nullptr && ray != nullptr);
  *shape = {nullptr, &ray->line, ray};
  return 0;
}

csys_status cidc_convertPeakToImage(int64_t along, const cidc_scanLineSeg* seg, const int32_t origin[2],
                                    double point[2]) {
  CSYS_REQUIRE(seg != nullptr && origin != nullptr && point != nullptr);
  const int64_t sx = seg->line.majorStep[0], sy = seg->line.majorStep[1], v = seg->endProj[0][1];
  point[0] = double(sx * along - sy * v) / 1048576.0 + origin[0];
  point[1] = double(sy * along + sx * v) / 1048576.0 + origin[1];
  return 0;
}

csys_status cidc_windowROI_init(cidc_windowROI* roi, int32_t width, int32_t height, int32_t clientX, int32_t clientY,
                                int32_t marginX, int32_t marginY, int32_t originX, int32_t originY) {
  CSYS_REQUIRE(roi != nullptr);
  const int32_t w = width - 2 * marginX, h = height - 2 * marginY;
  CSYS_REQUIRE(w >= 2 && h >= 2);
  cidc_windowROI r{};
  r.originOffset[0] = originX - clientX;
  r.originOffset[1] = originY - clientY;
  r.origin[0] = originX;
  r.origin[1] = originY;
  r.colBegin = marginX - r.originOffset[0];
  r.colEnd = r.colBegin + w;
  r.colCount = w;
  r.rowBegin = marginY - r.originOffset[1];
  r.rowEnd = r.rowBegin + h;
  r.rowCount = h;
  const int32_t begin[2] = {r.colBegin, r.rowBegin}, end[2] = {r.colEnd, r.rowEnd}, m[2] = {marginX, marginY};
  for (int a = 0; a < 2; ++a) {
    r.margin[a] = 16 * int64_t(m[a]);
    r.firstCentre[a] = 16 * int64_t(begin[a]) + 8;
    r.lastCentre[a] = 16 * int64_t(end[a]) - 8;
    r.span[a] = r.lastCentre[a] - r.firstCentre[a];
    r.halfSpan[a] = r.span[a] >> 1;
  }
  *roi = r;
  return 0;
}

csys_status cidc_windowROI_initCenter(cidc_windowROI* roi, int32_t width, int32_t height, int32_t clientX,
                                      int32_t clientY, int32_t marginX, int32_t marginY) {
  return cidc_windowROI_init(roi, width, height, clientX, clientY, marginX, marginY, clientX + width / 2,
                             clientY + height / 2);
}

csys_status cidc_windowROI_initCorner(cidc_windowROI* roi, int32_t width, int32_t height, int32_t clientX,
                                      int32_t clientY, int32_t marginX, int32_t marginY) {
  return cidc_windowROI_init(roi, width, height, clientX, clientY, marginX, marginY, clientX, clientY);
}

csys_status cidc_windowROI_initSameOrigin(cidc_windowROI* roi, int32_t width, int32_t height, int32_t clientX,
                                          int32_t clientY, const cidc_windowROI* reference, int32_t marginX,
                                          int32_t marginY) {
  CSYS_REQUIRE(reference != nullptr);
  return cidc_windowROI_init(roi, width, height, clientX, clientY, marginX, marginY, reference->origin[0],
                             reference->origin[1]);
}

csys_status cidc_windowROI_initCopyShrink(cidc_windowROI* roi, const cidc_windowROI* source, int64_t marginX,
                                          int64_t marginY) {
  CSYS_REQUIRE(roi != nullptr && source != nullptr);
  cidc_windowROI r = *source;
  const int64_t m[2] = {marginX, marginY};
  int32_t* begin[2] = {&r.colBegin, &r.rowBegin};
  int32_t* end[2] = {&r.colEnd, &r.rowEnd};
  int32_t* count[2] = {&r.colCount, &r.rowCount};
  for (int a = 1; a >= 0; --a) {  // rows first, then columns
    if (m[a] <= r.margin[a]) continue;
    r.span[a] -= 2 * m[a];
    r.firstCentre[a] += m[a];
    r.lastCentre[a] -= m[a];
    r.halfSpan[a] -= m[a];
    *begin[a] = int32_t(r.firstCentre[a] >> 4);
    *end[a] = int32_t((r.lastCentre[a] - 1) >> 4) + 1;
    *count[a] = *end[a] - *begin[a];
    r.margin[a] = m[a];
    CSYS_REQUIRE(r.span[a] >= 0 && *count[a] >= 0);
  }
  *roi = r;
  return 0;
}

}  // extern "C"

CSTD_TYPED_VECTOR_DEFS(cidc_scanLine, cidc_scanLine, nullptr)
CSTD_TYPED_VECTOR_DEFS(cidc_scanLineSeg, cidc_scanLineSeg, nullptr)
CSTD_TYPED_VECTOR_DEFS(cidc_scanRay, cidc_scanRay, nullptr)
CSTD_TYPED_VECTOR_DEFS(cidc_scanShape, cidc_scanShape, nullptr)
