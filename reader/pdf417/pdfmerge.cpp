#include "reader/pdf417/pdfmerge.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/cbt.h"
#include "ci_id/morph.h"
#include "ci_id/pdpsearch.h"
#include "reader/geometry.hpp"

namespace pdfroad {

struct MergedViews::View {
  int32_t operation = 0, kernel = 0;
  int32_t first = 0, rows = 0;  // the band: rows first ... first + rows - 1 of the search image
  cimg_image merged{};          // the operation over the band and kernel rows either side
  bool haveMerged = false;
  cimg_imageConst search{};     // the band's rows of merged, read-only
  bool haveSearch = false;
  // The band's marking. The search marks only its seed's cell, and seeds lie on the line being
  // scanned, so marks are only ever read on that line: a band made afresh loses none that
  // matter, but at worst repeats a search of a line the band moved at.
  cimg_image marking{};
  bool haveMarking = false;
  ~View() { release(); }
  void release() {
    if (haveMarking) cimg_image_destruct(&marking);
    if (haveSearch) cimg_imageConst_destruct(&search);
    if (haveMerged) cimg_image_destruct(&merged);
    haveMarking = haveSearch = haveMerged = false;
  }
};

namespace {

// The copies of all kernels and both polarities together take at most a byte a pixel of the
// image, or this, whichever is more.
constexpr double kCopiesBudget = 32.0 * 1024 * 1024;
constexpr int32_t kCopyKinds = 2 * 7;  // polarities x kernel sizes
constexpr int32_t kMinBandRows = 192;

}  // namespace

MergedViews::MergedViews(const cimg_imageConst& image) : image_(image) {
  const cimg_windowConst& w = image.window;
  const double budget = std::max(kCopiesBudget, static_cast<double>(w.width) * w.height);
  const double rows = budget / (static_cast<double>(kCopyKinds) * std::max(1, w.width));
  bandRows_ = rows >= w.height ? w.height : std::max(kMinBandRows, static_cast<int32_t>(rows) & ~3);
}

MergedViews::~MergedViews() = default;

namespace {

// Kernel sides the merged copies use: each a little over six and a half modules (the widest
// space is six) for a range of module sizes, so that a few copies serve every symbol.
constexpr int32_t kKernels[] = {9, 13, 17, 23, 31, 41, 55};

int32_t kernelFor(double module) {
  for (int32_t k : kKernels)
    if (k >= 6.5 * module) return k;
  return kKernels[sizeof(kKernels) / sizeof(kKernels[0]) - 1];
}

uint8_t at(const cimg_windowConst& w, int32_t x, int32_t y) {
  return w.pixels[static_cast<ptrdiff_t>(y) * w.stride + x];
}

using Line = dmroad::EdgeLine;

// The edge of the merged blob across one side of a quadrilateral: along the middle of the side,
// walking outwards across it, where the grey level passes the mean between symbol and
// background; a least-squares line through those crossings, refitted without the ones more than
// a pixel and a half off. False when too few crossings show.
bool fitSide(const cimg_windowConst& w, cmath_vect a, cmath_vect b, cmath_vect centre, double mean, bool darkBars,
             double reach, Line* out) {
  const double length = dmroad::distance(a, b);
  if (!(length > 8)) return false;
  const cmath_vect u{(b.x - a.x) / length, (b.y - a.y) / length};
  cmath_vect n{-u.y, u.x};
  if ((a.x - centre.x) * n.x + (a.y - centre.y) * n.y < 0) n = {-n.x, -n.y};  // outwards
  auto inside = [&](cmath_vect p) {
    const double v = dmroad::sampleAt(w, p.x, p.y);
    return darkBars ? v < mean : v > mean;
  };
  std::vector<cmath_vect> hits;
  constexpr int kSamples = 32;
  for (int i = 0; i < kSamples; ++i) {
    const double t = length * (0.1 + 0.8 * i / (kSamples - 1));
    const cmath_vect base{a.x + t * u.x, a.y + t * u.y};
    auto point = [&](double s) { return cmath_vect{base.x + s * n.x, base.y + s * n.y}; };
    if (!inside(point(-reach))) continue;
    for (double s = -reach + 0.25; s <= reach; s += 0.25) {
      if (inside(point(s))) continue;
      // Linear crossing between the last inside step and this one.
      const double v0 = dmroad::sampleAt(w, point(s - 0.25).x, point(s - 0.25).y);
      const double v1 = dmroad::sampleAt(w, point(s).x, point(s).y);
      const double f = v1 != v0 ? (mean - v0) / (v1 - v0) : 0.5;
      hits.push_back(point(s - 0.25 + 0.25 * std::clamp(f, 0.0, 1.0)));
      break;
    }
  }
  for (int pass = 0; pass < 2; ++pass) {
    if (hits.size() < kSamples / 3) return false;
    if (!dmroad::fitLine(hits, out)) return false;
    std::vector<cmath_vect> kept;
    for (const cmath_vect& h : hits)
      if (dmroad::offLine(*out, h) <= 1.5) kept.push_back(h);
    hits.swap(kept);
  }
  return true;
}

bool crossingAtClearAngle(const Line& a, const Line& b, cmath_vect* at) {
  const double d = a.dir.x * b.dir.y - a.dir.y * b.dir.x;
  return std::fabs(d) >= 0.2 && dmroad::crossing(a, b, at);  // sides of a symbol meet at a clear angle
}

// The four sides refitted, each looked for within reach (a fraction of the shorter side) of
// where it is; false (corners untouched) when a side does not show or a corner would move by
// more than that fraction of the shorter side.
bool refitOnce(const cimg_windowConst& w, double mean, bool darkBars, double fraction,
               std::array<cmath_vect, 4>* corners) {
  const std::array<cmath_vect, 4>& q = *corners;
  const cmath_vect centre{(q[0].x + q[1].x + q[2].x + q[3].x) / 4, (q[0].y + q[1].y + q[2].y + q[3].y) / 4};
  const double shorter = std::min(dmroad::distance(q[0], q[1]), dmroad::distance(q[1], q[2]));
  const double reach = std::max(3.0, fraction * shorter);
  Line sides[4];
  for (int i = 0; i < 4; ++i)
    if (!fitSide(w, q[i], q[(i + 1) % 4], centre, mean, darkBars, reach, &sides[i])) return false;
  std::array<cmath_vect, 4> fitted;
  for (int i = 0; i < 4; ++i) {
    if (!crossingAtClearAngle(sides[(i + 3) % 4], sides[i], &fitted[i])) return false;
    if (dmroad::distance(fitted[i], q[i]) > 2 * reach) return false;
  }
  *corners = fitted;
  return true;
}

// A parallelogram's far corner may lie well off a keystoned symbol's: the sides are first looked
// for far from where they are, then once more close to where that put them.
bool refit(const cimg_windowConst& w, double mean, bool darkBars, bool parallelogram,
           std::array<cmath_vect, 4>* corners) {
  std::array<cmath_vect, 4> q = *corners;
  if (parallelogram && !refitOnce(w, mean, darkBars, 0.3, &q)) return false;
  if (!refitOnce(w, mean, darkBars, 0.1, &q)) return false;
  *corners = q;
  return true;
}

}  // namespace

// Makes v's copy over rows first ... first + rows - 1 of the image: the operation over them and
// a kernel's rows either side, so that they come out as they do over the whole image.
csys_status MergedViews::makeBand(View& v, int32_t first, int32_t rows) {
  const cimg_windowConst& w = image_.window;
  v.release();
  const int32_t from = std::max(0, first - v.kernel), to = std::min(w.height, first + rows + v.kernel);
  cimg_imageConst source;
  csys_status st = cimg_imageConst_constructWrap(&source, w.pixels + static_cast<ptrdiff_t>(from) * w.stride, w.width,
                                                 to - from, w.stride);
  if (CSYS_FAILED(st)) return st;
  cimg_image_constructUnbound(&v.merged);
  v.haveMerged = true;
  st = cidut_morph2d_run(&source, &v.merged, v.operation, v.kernel, v.kernel);
  cimg_imageConst_destruct(&source);
  if (CSYS_FAILED(st)) return st;
  const cimg_window& m = v.merged.window;
  st = cimg_imageConst_constructWrap(&v.search, m.pixels + static_cast<ptrdiff_t>(first - from) * m.stride, m.width,
                                     rows, m.stride);
  if (CSYS_FAILED(st)) return st;
  v.haveSearch = true;
  st = cimg_image_construct(&v.marking, (w.width + 3) / 4, (rows + 3) / 4);
  if (CSYS_FAILED(st)) return st;
  v.haveMarking = true;
  v.first = first;
  v.rows = rows;
  return 0;
}

csys_status MergedViews::view(int32_t operation, int32_t kernel, int32_t row, View** out) {
  const cimg_windowConst& w = image_.window;
  // A band serves the rows within a third of its height either side of the line; it is made
  // starting a third above the line, so it lasts while the scan moves down another third.
  const int32_t reach = bandRows_ / 3;
  View* v = nullptr;
  for (const auto& candidate : views_)
    if (candidate->operation == operation && candidate->kernel == kernel) v = candidate.get();
  if (v == nullptr) {
    views_.push_back(std::make_unique<View>());
    v = views_.back().get();
    v->operation = operation;
    v->kernel = kernel;
  }
  *out = v;
  const int32_t needFirst = std::max(0, row - reach), needEnd = std::min(w.height, row + reach + 1);
  if (v->haveSearch && v->first <= needFirst && v->first + v->rows >= needEnd) return 0;
  const int32_t first = bandRows_ >= w.height ? 0 : (needFirst & ~3);
  return makeBand(*v, first, std::min(bandRows_, w.height - first));
}

// The copy over every row within reach of row, for outlines a band cut; the last one is kept,
// as outlines cut on one line are often cut on the next ones too.
csys_status MergedViews::tallView(int32_t operation, int32_t kernel, int32_t row, int32_t reach, View** out) {
  const cimg_windowConst& w = image_.window;
  const int32_t needFirst = std::max(0, row - reach), needEnd = std::min(w.height, row + reach + 1);
  if (!tall_) tall_ = std::make_unique<View>();
  View& t = *tall_;
  *out = &t;
  if (t.haveSearch && t.operation == operation && t.kernel == kernel && t.first <= needFirst &&
      t.first + t.rows >= needEnd)
    return 0;
  t.operation = operation;
  t.kernel = kernel;
  const int32_t first = needFirst & ~3;
  return makeBand(t, first, std::min(w.height, first + std::max(bandRows_, 2 * reach + 4)) - first);
}

// The search from a seed (search-image coordinates) on a copy's band, its result moved back to
// the search image. leftBand: the outline ran into a cut edge of the band, so the result may
// not be the whole-image one.
csys_status MergedViews::search(View& v, const cid2d_trackingParams& params, cid2d_trackingSeed seed,
                                const cid_mask* mask, const cmath_xformLinear* maskXform, int32_t singleTry,
                                cid2d_trackingResult* result, bool* leftBand) {
  const int32_t shift = v.first;
  seed.y -= shift;
  seed.startA[1] -= shift * 256;
  seed.startB[1] -= shift * 256;
  // The mask takes search-image coordinates: the band's rows sit shift rows down.
  cmath_xformLinear toMask;
  cmath_matrix identity{1, 0, 0, 1};
  const cmath_vect down{0, static_cast<double>(shift)};
  cmath_xformLinear_initMatrixTrans(&toMask, &identity, &down);
  if (maskXform != nullptr) {
    cmath_xformLinear band = toMask;
    cmath_xformLinear_compose(maskXform, &band, &toMask);
  }
  cbt_runParams run;
  cbt_runParams_init(&run);
  run.closeAtBorder = 1;
  run.saddleByMean = 1;
  run.minPoints = 0;
  run.maxPoints = std::min(params.maxContourPoints, 16379);
  csys_status st = cf_BndFindPDPSymbolFromSeed(&v.search, &params, &seed, &run, &v.marking, singleTry, mask,
                                               nullptr, &toMask, result);
  if (CSYS_FAILED(st)) return st;
  // Cut by the band: the last outline closed on a band edge that is not the image's, and spans
  // no more than a symbol may (wider, the whole image's search would refuse it as well).
  const cimg_windowConst& w = image_.window;
  const bool cutTop = v.first > 0, cutBottom = v.first + v.rows < w.height;
  *leftBand = false;
  const cbt_result& b = result->boundary;
  if ((cutTop || cutBottom) && (b.flags & CBT_FLAG_BORDER) && b.count > 0) {
    bool touches = false;
    int32_t left = b.points[0].x, right = left;
    for (uint32_t i = 0; i < b.count; ++i) {
      const int32_t y = b.points[i].y >> 8;
      touches = touches || (cutTop && y <= 0) || (cutBottom && y >= v.rows - 1);
      left = std::min(left, b.points[i].x);
      right = std::max(right, b.points[i].x);
    }
    *leftBand = touches && (right - left) / 256.0 <= params.maxSide;
  }
  if (result->found && shift != 0) {
    cmath_shapeAffineRectPoints q;
    cmath_shapeAffineRect_getPoints(&result->rectangle, &q);
    for (cmath_vect* p : {&q.po, &q.px, &q.py}) p->y += shift;
    cmath_shapeAffineRect_initPoints(&result->rectangle, &q);
    result->fourthCorner.y += shift;
  }
  return 0;
}

csys_status MergedViews::grow(const cid2d_trackingParams& params, const std::vector<int16_t>& edges, int32_t row,
                              int32_t seedX, const cid_mask* mask, const cmath_xformLinear* maskXform,
                              int32_t singleTry, cid2d_trackingResult* result,
                              std::array<cmath_vect, 4>* corners, bool* fitted, bool* grown) {
  *grown = false;
  *fitted = false;
  // The pattern the driver matched starts at the seed's edge.
  size_t j = 0;
  while (j < edges.size() && std::abs(edges[j]) != seedX) ++j;
  if (j + 5 >= edges.size()) return 0;
  int32_t p[6];
  for (int k = 0; k < 6; ++k) p[k] = std::abs(edges[j + k]);
  const double module = (p[2] - p[0] + p[5] - p[3]) / 4.0;
  const cimg_windowConst& original = image_.window;
  // Bars are the class the pattern's first element belongs to: dark when its first edge turns
  // darker. Dark bars merge under an opening, light ones under a closing.
  const bool darkBars = edges[j] < 0;
  const int32_t operation = darkBars ? CIDUT_MORPH_OPEN : CIDUT_MORPH_CLOSE, kernel = kernelFor(module);
  View* v = nullptr;
  csys_status st = view(operation, kernel, row, &v);
  if (CSYS_FAILED(st)) return st;
  const int32_t bandRow = row - v->first;
  const cimg_windowConst& band = v->search.window;
  // Levels: the merged symbol at the pattern's middle, the background as the spaces of the
  // original show it.
  const int32_t middle = (p[2] + p[3]) / 2;
  int32_t symbol = at(band, middle, bandRow), background = symbol;
  for (int32_t x = p[0]; x <= p[5]; ++x)
    background = darkBars ? std::max<int32_t>(background, at(original, x, row))
                          : std::min<int32_t>(background, at(original, x, row));
  if (std::abs(background - symbol) < 12) return 0;
  const int32_t mean = (symbol + background) / 2;
  auto onSymbol = [&](int32_t x) { return darkBars ? at(band, x, bandRow) < mean : at(band, x, bandRow) > mean; };
  // To the left along the row until the blob ends; x is then the last background pixel.
  int32_t x = middle;
  while (x > 1 && onSymbol(x)) --x;
  if (x <= 1 || x + 2 >= band.width) return 0;
  cid2d_trackingSeed seed{};
  seed.x = x;
  seed.y = row;
  seed.strength = std::abs(at(band, x + 1, bandRow) - at(band, x, bandRow));
  seed.mean = mean;
  seed.line = params.firstScanLine;
  seed.polarity = at(band, x, bandRow) < mean ? 1 : 0;
  seed.startA[0] = (x + 2) * 256;
  seed.startA[1] = row * 256;
  seed.startB[0] = (x - 1) * 256;
  seed.startB[1] = row * 256;
  bool leftBand = false;
  st = search(*v, params, seed, mask, maskXform, singleTry, result, &leftBand);
  if (CSYS_FAILED(st)) return st;
  // An outline cut by the band's edge is followed again on a copy made for it alone, over every
  // row a symbol on this line can reach.
  if (leftBand) {
    st = tallView(operation, kernel, row, static_cast<int32_t>(std::ceil(params.maxSide)) + 1, &v);
    if (CSYS_FAILED(st)) return st;
    st = search(*v, params, seed, mask, maskXform, singleTry, result, &leftBand);
    if (CSYS_FAILED(st)) return st;
  }
  *grown = result->found != 0;
  if (*grown) {
    cmath_shapeAffineRectPoints q;
    cmath_shapeAffineRect_getPoints(&result->rectangle, &q);
    *corners = {q.po, q.px, result->fourthCorner, q.py};
    // Refitted on the copy, in its band's rows.
    for (cmath_vect& c : *corners) c.y -= v->first;
    *fitted = refit(v->search.window, mean, darkBars, result->parallelogram != 0, corners);
    for (cmath_vect& c : *corners) c.y += v->first;
  }
  return 0;
}

}  // namespace pdfroad
