// Quick one-dimensional tests: the directions of the bars near one point, from the start of
// their tracked outlines.
#include "ci_id/findbarcode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "base/cbt.h"
#include "base/cmath_projective.h"
#include "base/csys_cleanup.hpp"
#include "ci_id/contourruns.h"
#include "ci_id/tracking.h"

namespace {

using Seed = cid2d_trackingSeed;
using Point = cid2d_contourPoint;
using Run = cid2d_straightRun;

constexpr size_t kScratchBytes = 262080;
constexpr int32_t kMaxSeeds = 20;
constexpr int32_t kMaxPoints = 100;
constexpr int32_t kSmoothing = 3;
constexpr int32_t kRunThreshold = 64;
constexpr double kPi = std::numbers::pi;

// Everything one call works with; registered with the call's clean-up list as it is made.
struct Work {
  uint8_t* scratch = nullptr;
  cbt_result track{};
  Seed* seeds = nullptr;
  int32_t* slopes = nullptr;
  cimg_imageConst view{};

  Point* contour() const { return reinterpret_cast<Point*>(scratch + CID2D_SCRATCH_CONTOUR_OFFSET); }
  Point* smoothed() const { return reinterpret_cast<Point*>(scratch + CID2D_SCRATCH_SMOOTHED_OFFSET); }
  int32_t* curvature() const { return reinterpret_cast<int32_t*>(scratch + CID2D_SCRATCH_CURVATURE_OFFSET); }
  Run* runs() const { return reinterpret_cast<Run*>(scratch + CID2D_SCRATCH_RUNS_OFFSET); }
};

csys_status prepare(const cimg_imageConst* image, Work* w, csys::CleanupList& cleanup) {
  csys_status st = csys_memory_alloc_internal(kScratchBytes, reinterpret_cast<void**>(&w->scratch));
  if (CSYS_FAILED(st)) return st;
  cleanup.freeAlways(&w->scratch);
  st = cbt_result_construct(&w->track, kMaxPoints);
  if (CSYS_FAILED(st)) return st;
  cleanup.destructAlways<cbt_result_destruct>(&w->track);
  st = csys_memory_alloc_internal(kMaxSeeds * sizeof(Seed), reinterpret_cast<void**>(&w->seeds));
  if (CSYS_FAILED(st)) return st;
  cleanup.freeAlways(&w->seeds);
  st = csys_memory_alloc_internal(kMaxSeeds * sizeof(int32_t), reinterpret_cast<void**>(&w->slopes));
  if (CSYS_FAILED(st)) return st;
  cleanup.freeAlways(&w->slopes);
  st = cimg_imageConst_constructCopy(&w->view, image);
  if (CSYS_FAILED(st)) return st;
  cleanup.destructAlways<cimg_imageConst_destruct>(&w->view);
  return 0;
}

// Restricts the view to the w x h window at (x, y), image coordinates. A window that does not
// lie inside the image fails with the window's own status.
csys_status restrictView(Work* w, int64_t x, int64_t y, int64_t width, int64_t height, cimg_windowConst* window) {
  constexpr int64_t kLo = std::numeric_limits<int32_t>::min(), kHi = std::numeric_limits<int32_t>::max();
  if (x < kLo || y < kLo || x > kHi - width || y > kHi - height) return csys_errBadArgument;
  const cstd_rect32 r{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(width),
                      static_cast<int32_t>(height)};
  const csys_status st = cimg_imageConst_window(&w->view, &r);
  if (CSYS_FAILED(st)) return st;
  return cimg_windowConst_init(window, &w->view);
}

// Step response down a column: R(y) = |p[y + 3] - p[y]|, walked from the window's third row. At
// row y the response R(y - 1) is a peak when it is above 14 and strictly above both R(y - 2) and
// R(y); the seed is made at row y (as along a row, the position after the peak). The walk starts
// as if R(y - 2) were 1000 and R(y - 1) were 0, so its first two rows hold no peak. A sharp step
// gives R a flat top, which is no strict peak: such a step makes no seed.
csys_status seedsOnColumn(const cimg_windowConst& w, int32_t column, Seed* seeds, int32_t* seedCount) {
  const int32_t lastCol = w.x0 + w.width - 1, lastRow = w.y0 + w.height - 1;
  int32_t n = 0;
  *seedCount = 0;
  if (!(w.x0 < column && column < lastCol - 2 && w.y0 + 2 < lastRow - 2)) return 0;
  const uint8_t* p = w.pixels + (column - w.x0);
  auto at = [&](int32_t y) { return static_cast<int32_t>(p[static_cast<ptrdiff_t>(y) * w.stride]); };
  int32_t before = 1000, previous = 0;
  for (int32_t y = 2; y < lastRow - 5 - w.y0 && n < kMaxSeeds; ++y) {
    const int32_t current = std::abs(at(y + 3) - at(y));
    if (before < previous && current < previous && previous > 14) {
      Seed s{};
      s.x = column - w.x0;
      s.y = y;
      s.strength = previous;
      s.mean = (at(y - 1) + at(y) + at(y + 1) + at(y + 2)) / 4;
      s.line = column;
      s.polarity = at(y) < s.mean ? 1 : 0;
      s.startA[0] = s.x * 256;
      s.startA[1] = (s.y + 2) * 256;
      s.startB[0] = s.x * 256;
      s.startB[1] = (s.y - 1) * 256;
      seeds[n++] = s;
    }
    before = previous;
    previous = current;
  }
  *seedCount = n;
  return 0;
}

struct Bars {
  int32_t tracked = 0;  // light-to-dark edges tracked
  int32_t count = 0;    // bars with a straight run, one slope each
  int64_t sumU = 0;     // run end points, 1/16 pixel
  int64_t sumV = 0;
  bool stopped = false;  // an edge without a boundary ended the test
};

inline int64_t floorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int32_t slopeOf(const Point& s, const Point& e) {
  if (e.v == s.v) return std::numeric_limits<int32_t>::max();
  const int64_t q = floorDiv(1000 * (static_cast<int64_t>(e.u) - s.u), static_cast<int64_t>(e.v) - s.v);
  return static_cast<int32_t>(std::clamp<int64_t>(q, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The strongest straight run at the start of the outline tracked from one seed, if any.
csys_status measureBar(const cimg_imageConst* image, const cimg_windowConst& window, const Seed& seed,
                       int32_t minRun, Work& w, Bars* bars) {
  cbt_runParams run;
  csys_status st = cbt_runParams_init(&run);
  if (CSYS_FAILED(st)) return st;
  run.closeAtBorder = 1;
  run.saddleByMean = 1;
  run.minPoints = 0;
  run.maxPoints = kMaxPoints;
  run.threshold = seed.mean;
  run.polarity = seed.polarity;
  for (int i = 0; i < 2; ++i) {
    const int32_t origin = (i == 0 ? window.x0 : window.y0) * 256;
    run.startA[i] = seed.startA[i] + origin;
    run.startB[i] = seed.startB[i] + origin;
  }
  ++bars->tracked;
  st = cbt_boundaryTrack(image, &run, &w.track);
  if (st == cbt_errNoBoundary) {
    bars->stopped = true;
    return 0;
  }
  if (CSYS_FAILED(st) || (w.track.flags & CBT_FLAG_FOUND) == 0) return st;
  if (w.track.count == 0) return cidut_errEmptyContour;

  int32_t n = static_cast<int32_t>(std::min<uint32_t>(w.track.count, kMaxPoints));
  Point* contour = w.contour();
  for (int32_t i = 0; i < n; ++i)
    contour[i] = Point{(w.track.points[i].y + 128) >> 4, (w.track.points[i].x + 128) >> 4};
  int32_t runCount = 0;
  if (CSYS_FAILED(st = cid2d_contour_halve(contour, n, &n)) ||
      CSYS_FAILED(st = cid2d_contour_smooth(w.smoothed(), contour, n, kSmoothing)) ||
      CSYS_FAILED(st = cid2d_contour_curvature(w.curvature(), w.smoothed(), n, 2 * kSmoothing, nullptr)) ||
      CSYS_FAILED(st = cid2d_contour_straightRuns(w.runs(), w.curvature(), w.smoothed(), 0, n, minRun,
                                                   kRunThreshold, CID2D_RUN_CAPACITY, &runCount)) ||
      CSYS_FAILED(st = cid2d_straightRuns_order(w.runs(), runCount)))
    return st;
  if (runCount < 1) return 0;
  const Run& best = w.runs()[0];
  const Point& s = w.smoothed()[best.start];
  const Point& e = w.smoothed()[best.end == 0 ? n - 1 : best.end - 1];
  w.slopes[bars->count++] = slopeOf(s, e);
  bars->sumU += static_cast<int64_t>(s.u) + e.u;
  bars->sumV += static_cast<int64_t>(s.v) + e.v;
  return 0;
}

// Measures the bars at the light-to-dark seeds, polling for a stop request between them.
csys_status measureBars(const cimg_imageConst* image, const cimg_windowConst& window, int32_t seedCount,
                        int32_t minRun, Work& w, Bars* bars) {
  for (int32_t i = 0; i < seedCount && !bars->stopped; ++i) {
    if (w.seeds[i].polarity != 0) continue;
    csys_status st = csys_attention_check();
    if (CSYS_FAILED(st)) return st;
    st = measureBar(image, window, w.seeds[i], minRun, w, bars);
    if (CSYS_FAILED(st)) return st;
  }
  return 0;
}

// Enough bars were measured, and they agree: sorts the slopes (descending) for the median.
bool barsFound(const Bars& bars, Work& w) {
  if (bars.stopped || bars.count <= 2 || bars.count <= (2 * bars.tracked) / 3) return false;
  std::sort(w.slopes, w.slopes + bars.count, [](int32_t a, int32_t b) { return a > b; });
  return true;
}

// The angle brought into [0, 2 pi).
double fullTurn(double a) {
  a = std::fmod(a, 2 * kPi);
  return a < 0 ? a + 2 * kPi : a;
}

double medianBarAngle(const Bars& bars, const Work& w) { return std::atan2(w.slopes[bars.count / 2] * 0.001, 1.0); }

// The segment's vector mapped as a point (the mapping's translation included) and measured.
csys_status mappedLength(const cmath_xformLinear& toPixels, const cidut_lineSeg& segment, double* length) {
  const cmath_vect v{segment.p2.x - segment.p1.x, segment.p2.y - segment.p1.y};
  cmath_vect mapped;
  const csys_status st = cmath_xformLinear_mapPoint(&toPixels, &v, &mapped);
  if (CSYS_FAILED(st)) return st;
  *length = cmath_vect_getLength(&mapped);
  return 0;
}

// The region turned by angle about centre.
csys_status turnRegion(const cid_region* region, const cmath_vect& centre, double angle, cid_region* out) {
  cmath_matrix m;
  csys_status st = cmath_matrix_initRotationScale(&m, angle, angle, 1.0, 1.0);
  if (CSYS_FAILED(st)) return st;
  cmath_vect rc;
  cmath_xformLinear rotate;
  cmath_xformLinear_initIdentity(&rotate);
  rotate.m = m;
  st = cmath_xformLinear_mapVector(&rotate, &centre, &rc);
  if (CSYS_FAILED(st)) return st;
  const cmath_vect t{centre.x - rc.x, centre.y - rc.y};
  st = cmath_xformLinear_initMatrixTrans(&rotate, &m, &t);
  if (CSYS_FAILED(st)) return st;
  return cid_region_initMap(out, &rotate, region);
}

}  // namespace

extern "C" {

csys_status cid2d_findOneBarcode(const cimg_imageConst* image, cmath_shapeAffineRect* rectangle, int32_t* found) {
  CSYS_REQUIRE(image != nullptr && rectangle != nullptr && found != nullptr);
  cimg_windowConst full;
  csys_status st = cimg_windowConst_init(&full, image);
  if (CSYS_FAILED(st)) return st;

  csys::CleanupList cleanup;
  Work w;
  st = prepare(image, &w, cleanup);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cimg_windowConst window;
  st = restrictView(&w, static_cast<int64_t>(full.x0) - 50 + full.width / 2,
                    static_cast<int64_t>(full.y0) - 50 + full.height / 2, 100, 50, &window);
  if (CSYS_FAILED(st)) return cleanup.exit(st);

  int32_t seedCount = 0;
  st = cid2d_getTrackingSeedsOnRow(&window, window.y0 + 25, kMaxSeeds, 0, w.seeds, &seedCount);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  Bars bars;
  st = measureBars(image, window, seedCount, 10, w, &bars);
  if (CSYS_FAILED(st) || !barsFound(bars, w)) return cleanup.exit(st);

  cmath_shapeAffineRectCenter c;
  const double scale = 0.0625 * 0.5 / bars.count;
  c.center = cmath_vect{static_cast<double>(bars.sumV) * scale, static_cast<double>(bars.sumU) * scale};
  c.xLength = full.width;
  c.yLength = 100.0;
  c.xRotation = c.yRotation = medianBarAngle(bars, w) - kPi / 2;
  cmath_shapeAffineRect out;
  st = cmath_shapeAffineRect_initCenter(&out, &c);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  *rectangle = out;
  *found = 1;
  return cleanup.exit(0);
}

csys_status cid2d_getIsCandidateBarcodeLike(const cimg_imageConst* image, const cid_region* region,
                                            int32_t* isLike, cid_region* regionOut) {
  CSYS_REQUIRE(image != nullptr && region != nullptr && isLike != nullptr && regionOut != nullptr);
  *isLike = 0;
  *regionOut = *region;
  cmath_xformLinear toPixels;
  csys_status st = cimg_imageConst_getLinearImageFromClientXform(image, &toPixels);
  if (CSYS_FAILED(st)) return st;

  csys::CleanupList cleanup;
  Work w;
  st = prepare(image, &w, cleanup);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cmath_vect centre, c;
  cidut_lineSeg axis;
  double phi = 0.0, length = 0.0;
  if (CSYS_FAILED(st = cid_region_getCenter(region, &centre)) ||
      CSYS_FAILED(st = cmath_xformLinear_mapPoint(&toPixels, &centre, &c)) ||
      CSYS_FAILED(st = cid_region_getYCenterSegment(region, &axis)) ||
      CSYS_FAILED(st = mappedLength(toPixels, axis, &length)))
    return cleanup.exit(st);
  const cmath_vect dir{axis.p2.x - axis.p1.x, axis.p2.y - axis.p1.y};
  if (CSYS_FAILED(st = cmath_vect_getDirection(&dir, &phi))) return cleanup.exit(st);
  phi = fullTurn(phi);
  if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(length) || std::fabs(c.x) > 1e9 ||
      std::fabs(c.y) > 1e9)
    return cleanup.exit(csys_errBadArgument);

  // The 100 x 100 window whose corner lies 50 pixels up and left of the centre, counted from the
  // image window's origin.
  const cimg_windowConst& full = w.view.window;
  cimg_windowConst window;
  st = restrictView(&w, static_cast<int64_t>(full.x0) + static_cast<int64_t>(std::floor(c.x)) - 50,
                    static_cast<int64_t>(full.y0) + static_cast<int64_t>(std::floor(c.y)) - 50, 100, 100, &window);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  const bool steep = (kPi / 4 < phi && phi < 3 * kPi / 4) || (5 * kPi / 4 < phi && phi < 7 * kPi / 4);
  int32_t seedCount = 0;
  st = steep ? cid2d_getTrackingSeedsOnRow(&window, window.y0 + window.height / 2, kMaxSeeds, 0, w.seeds, &seedCount)
             : seedsOnColumn(window, window.x0 + window.width / 2, w.seeds, &seedCount);
  if (CSYS_FAILED(st)) return cleanup.exit(st);

  const int32_t m = std::min<int32_t>(20, static_cast<int32_t>(std::min(std::lround(length), 1L << 30)) / 2);
  Bars bars;
  st = measureBars(image, window, seedCount, m / 2, w, &bars);
  if (CSYS_FAILED(st) || !barsFound(bars, w)) return cleanup.exit(st);

  // The bars agree with the axis when their directions differ by less than a tenth of a half
  // turn, or lie that close to opposite. The directions are compared as they are, both in
  // [0, 2 pi): a pair on either side of 0 (the bars at 359 degrees, the axis at 1) does not agree.
  const double theta = fullTurn(medianBarAngle(bars, w));
  double d = std::fabs(theta - phi);
  if (d > 2 * kPi) d -= 2 * kPi;
  const double tenth = kPi / 10;
  if (!(d < tenth || (kPi - tenth < d && d < kPi + tenth))) return cleanup.exit(0);
  // The region turns by the whole difference (about a half turn for an opposite axis), about the
  // centre in pixels.
  cid_region turned;
  st = turnRegion(region, c, theta - phi, &turned);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  *regionOut = turned;
  *isLike = 1;
  return cleanup.exit(0);
}

}  // extern "C"
