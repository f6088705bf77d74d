// The frame that the 2D searches from a seed share (Data Matrix and PDF417): the marking image,
// integer lines over quarter-pixel coordinates and their crossings, the fixed scratch areas,
// the tracked outline's storage, and the final checks and result fields of a find. Internal to
// the library.
//
// Lines are kept in normal form a u + b v + c = 0 over quarter-pixel coordinates (u the row, v
// the column of the stored contour); products are taken in 64 bits so that no image size the
// library accepts can overflow them.
#ifndef IDUT_PRIV_SEEDSEARCH_HPP
#define IDUT_PRIV_SEEDSEARCH_HPP

#include <cstdint>

#include "base/cbt.h"
#include "base/cimg.h"
#include "base/cmath_fixed.h"
#include "ci_id/contourruns.h"
#include "ci_id/mask.h"
#include "ci_id/status.h"
#include "ci_id/tracking.h"

namespace cid2d_seed {

using Point = cid2d_contourPoint;
using Run = cid2d_straightRun;

constexpr int32_t kRawContourLimit = CID2D_RAW_CONTOUR_CAPACITY;  // 16379
constexpr int32_t kRunCapacity = CID2D_RUN_CAPACITY;              // 5460
constexpr int64_t kNoAngle = 2147483647;

// index modulo count, in 0 ... count - 1. Contour walks step at most one lap off the ends, and
// those indices are brought back without the division a remainder costs at every step.
inline int32_t wrap(int64_t index, int32_t count) {
  if (index >= 0) {
    if (index < count) return static_cast<int32_t>(index);
    if (index - count < count) return static_cast<int32_t>(index - count);
  } else if (index + count >= 0) {
    return static_cast<int32_t>(index + count);
  }
  const int64_t r = index % count;
  return static_cast<int32_t>(r < 0 ? r + count : r);
}

inline int64_t floorDiv(int64_t a, int64_t b) {
  int64_t d = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --d;
  return d;
}

inline int64_t iabs(int64_t v) { return v < 0 ? -v : v; }

// floor(sqrt(v)), v >= 0.
inline int64_t isqrt(int64_t v) { return v <= 0 ? 0 : static_cast<int64_t>(cmath_sqrt64(static_cast<uint64_t>(v))); }

// Cells are addressed in the marking image's own image coordinates; cells outside its window
// read as clear and are never written, so a marking image smaller than a quarter of the search
// image only loses marks.
struct Marking {
  cimg_window w{};
  bool inside(int32_t cx, int32_t cy) const {
    return cx >= w.x0 && cy >= w.y0 && cx - w.x0 < w.width && cy - w.y0 < w.height;
  }
  uint8_t get(int32_t cx, int32_t cy) const {
    return inside(cx, cy) ? w.pixels[static_cast<ptrdiff_t>(cy - w.y0) * w.stride + (cx - w.x0)] : 0;
  }
  void set(int32_t cx, int32_t cy, uint8_t value) {
    if (inside(cx, cy)) w.pixels[static_cast<ptrdiff_t>(cy - w.y0) * w.stride + (cx - w.x0)] = value;
  }
};

struct Line {
  int64_t a = 0, b = 0, c = 0;
};

// Through s and e (1/16 pixel), over quarter-pixel coordinates.
inline Line lineThrough(const Point& s, const Point& e) {
  Line l;
  l.a = (static_cast<int64_t>(s.v) - e.v) >> 2;
  l.b = (static_cast<int64_t>(e.u) - s.u) >> 2;
  l.c = -(static_cast<int64_t>(s.u) >> 2) * l.a - (static_cast<int64_t>(s.v) >> 2) * l.b;
  return l;
}

// The line of a run: through its first point and the point before its end.
inline Line runLine(const Point* smoothed, const Run& run, int32_t n) {
  return lineThrough(smoothed[run.start], smoothed[wrap(static_cast<int64_t>(run.end) - 1, n)]);
}

// The same direction through p (1/16 pixel).
inline Line parallelThrough(const Line& l, const Point& p) {
  Line r = l;
  r.c = -l.a * (static_cast<int64_t>(p.u) >> 2) - l.b * (static_cast<int64_t>(p.v) >> 2);
  return r;
}

struct Angle {
  int64_t cross = 0;  // a1 b2 - a2 b1
  int64_t t = 0;      // |1000 cross / dot|, kNoAngle for perpendicular lines
  int s = 0;          // 1 when 1000 cross / dot is negative
  bool degenerate = false;
};

Angle angleBetween(const Line& l1, const Line& l2);

struct Vec {
  double u = 0, v = 0;  // 1/16 pixel
};

// Crossing of two lines in 1/16 pixel (cross = a1 b2 - a2 b1, nonzero).
Vec intersect(const Line& l1, const Line& l2);

// Pixel coordinates (column, row) of a 1/16-pixel point; the division is done in single
// precision.
cmath_vect toPixels(const Vec& p);

// A located candidate: corner, the two side ends and the opposite corner, 1/16 pixel.
struct Candidate {
  bool found = false;
  Vec corner, sideX, sideY, fourth;
  int32_t parallelogram = 1;
  int32_t score = 0;
};

// The fixed areas of the tracking scratch buffer (layout in ci_id/contourruns.h).
struct Scratch {
  Point* contour;
  Point* smoothed;
  int32_t* curvature;
  Run* runs;
};

Scratch carve(const cid2d_trackingParams& params);
bool scratchUsable(const cid2d_trackingParams& params);

struct SearchArgs {
  const cimg_imageConst* image;
  const cid2d_trackingParams* params;
  const cid2d_trackingSeed* seed;
  const cid_mask* mask;
  const cmath_xformLinear* maskXform;
  cid2d_trackingResult* result;
  cimg_windowConst window;
  Marking marking;
};

inline bool insideWindow(const cimg_windowConst& w, int32_t x, int32_t y) {
  return x >= w.x0 && y >= w.y0 && x - w.x0 < w.width && y - w.y0 < w.height;
}

// The seed's threshold, polarity and start points and the capped point limit.
void fillRunParams(cbt_runParams* run, const cid2d_trackingParams& params, const cid2d_trackingSeed& seed);

// A seed inside a claimed symbol, or on an outline tracked earlier in this scan, is skipped.
csys_status seedAlreadyHandled(const SearchArgs& s, bool* skip);

// Halves the stored outline in place (polling for a stop request afterwards) and measures the
// halved outline's bounding box in whole pixels.
csys_status halveAndMeasure(const Scratch& scratch, int32_t* n, int32_t* w, int32_t* h, int32_t* e);

// The bounding-box limits both searches apply to the halved outline: extent and each side
// within [minSide, maxSide], and less than the window in each direction.
bool boxAcceptable(const cimg_windowConst& window, const cid2d_trackingParams& params, int32_t w, int32_t h,
                   int32_t e);

// Writes the candidate into the result: P1 and P2 swapped when cross(P1 - P0, P2 - P0) > 0,
// fourth corner, parallelogram flag, the seed's mean as threshold, the score.
csys_status storeCandidate(const Candidate& cand, cid2d_trackingResult* result);

// Final checks of a find against the mask and the image window (either can clear *found); the
// quality becomes 1000 whatever they decide.
csys_status confirmFind(const cimg_imageConst* image, const cimg_windowConst& window, const cid_mask* mask,
                        const cmath_xformLinear* maskXform, cid2d_trackingResult* result, bool* found);


// The frame every seed search runs in: the arguments are checked and the windows set up before
// anything is written (the marking image may be of any size: cells off it read as unmarked and
// are not written); then the seed goes into the result, found is cleared,
// a seed already handled is skipped without a search, and found and the scan line are written
// once the search has run (or been skipped). The search starts with *found false.
template <class Search>
csys_status runSeedSearch(const cimg_imageConst* image, const cid2d_trackingParams* params,
                          const cid2d_trackingSeed* seed, cimg_image* markingImage, const cid_mask* mask,
                          const cmath_xformLinear* maskXform, cid2d_trackingResult* result, Search search) {
  CSYS_REQUIRE(scratchUsable(*params));
  SearchArgs s{image, params, seed, mask, maskXform, result, {}, {}};
  csys_status st = cimg_windowConst_init(&s.window, image);
  if (CSYS_FAILED(st)) return st;
  st = cimg_window_init(&s.marking.w, markingImage);
  if (CSYS_FAILED(st)) return st;
  result->seed = *seed;
  result->found = 0;
  bool skip = false;
  st = seedAlreadyHandled(s, &skip);
  if (CSYS_FAILED(st)) return st;
  bool found = false;
  if (!skip) st = search(s, &found);
  if (CSYS_FAILED(st)) return st;
  result->found = found ? 1 : 0;
  result->line = params->firstScanLine;
  return 0;
}

// The smoothing window of an outline whose halved box is w x h: a share of its shorter side,
// at least the parameters' minimum smoothing and at most 25 points.
int32_t smoothingWindow(int32_t w, int32_t h, const cid2d_trackingParams& params);

// Smooths the halved outline over the window and measures its curvature over twice that span;
// bends is false when the outline is too flat anywhere to hold a corner.
csys_status smoothAndBend(const Scratch& scratch, int32_t n, int32_t window, bool* bends);

}  // namespace cid2d_seed

#endif
