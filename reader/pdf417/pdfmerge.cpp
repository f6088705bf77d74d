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
  cimg_image merged{};
  bool haveMerged = false;
  cimg_imageConst search{};  // a read-only view of merged
  bool haveSearch = false;
  cimg_image marking{};
  bool haveMarking = false;
  ~View() {
    if (haveMarking) cimg_image_destruct(&marking);
    if (haveSearch) cimg_imageConst_destruct(&search);
    if (haveMerged) cimg_image_destruct(&merged);
  }
};

MergedViews::MergedViews(const cimg_imageConst& image) : image_(image) {}
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

csys_status MergedViews::view(int32_t operation, int32_t kernel, View** out) {
  for (const auto& v : views_)
    if (v->operation == operation && v->kernel == kernel) {
      *out = v.get();
      return 0;
    }
  auto v = std::make_unique<View>();
  v->operation = operation;
  v->kernel = kernel;
  cimg_image_constructUnbound(&v->merged);
  v->haveMerged = true;
  csys_status st = cidut_morph2d_run(&image_, &v->merged, operation, kernel, kernel);
  if (CSYS_FAILED(st)) return st;
  const cimg_window& m = v->merged.window;
  st = cimg_imageConst_constructWrap(&v->search, m.pixels, m.width, m.height, m.stride);
  if (CSYS_FAILED(st)) return st;
  v->haveSearch = true;
  st = cimg_image_construct(&v->marking, (m.width + 3) / 4, (m.height + 3) / 4);
  if (CSYS_FAILED(st)) return st;
  v->haveMarking = true;
  *out = v.get();
  views_.push_back(std::move(v));
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
  View* v = nullptr;
  csys_status st = view(darkBars ? CIDUT_MORPH_OPEN : CIDUT_MORPH_CLOSE, kernelFor(module), &v);
  if (CSYS_FAILED(st)) return st;
  const cimg_windowConst& merged = v->search.window;
  // Levels: the merged symbol at the pattern's middle, the background as the spaces of the
  // original show it.
  const int32_t middle = (p[2] + p[3]) / 2;
  int32_t symbol = at(merged, middle, row), background = symbol;
  for (int32_t x = p[0]; x <= p[5]; ++x)
    background = darkBars ? std::max<int32_t>(background, at(original, x, row))
                          : std::min<int32_t>(background, at(original, x, row));
  if (std::abs(background - symbol) < 12) return 0;
  const int32_t mean = (symbol + background) / 2;
  auto onSymbol = [&](int32_t x) { return darkBars ? at(merged, x, row) < mean : at(merged, x, row) > mean; };
  // To the left along the row until the blob ends; x is then the last background pixel.
  int32_t x = middle;
  while (x > 1 && onSymbol(x)) --x;
  if (x <= 1 || x + 2 >= merged.width) return 0;
  cid2d_trackingSeed seed{};
  seed.x = x;
  seed.y = row;
  seed.strength = std::abs(at(merged, x + 1, row) - at(merged, x, row));
  seed.mean = mean;
  seed.line = params.firstScanLine;
  seed.polarity = at(merged, x, row) < mean ? 1 : 0;
  seed.startA[0] = (x + 2) * 256;
  seed.startA[1] = row * 256;
  seed.startB[0] = (x - 1) * 256;
  seed.startB[1] = row * 256;
  cbt_runParams run;
  cbt_runParams_init(&run);
  run.closeAtBorder = 1;
  run.saddleByMean = 1;
  run.minPoints = 0;
  run.maxPoints = std::min(params.maxContourPoints, 16379);
  st = cf_BndFindPDPSymbolFromSeed(&v->search, &params, &seed, &run, &v->marking, singleTry, mask, nullptr,
                                   maskXform, result);
  if (CSYS_FAILED(st)) return st;
  *grown = result->found != 0;
  if (*grown) {
    cmath_shapeAffineRectPoints q;
    cmath_shapeAffineRect_getPoints(&result->rectangle, &q);
    *corners = {q.po, q.px, result->fourthCorner, q.py};
    *fitted = refit(merged, mean, darkBars, result->parallelogram != 0, corners);
  }
  return 0;
}

}  // namespace pdfroad
