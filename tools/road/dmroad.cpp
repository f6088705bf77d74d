#include "road/dmroad.hpp"

#include <cmath>
#include <utility>

#include "ci_id/dmdriver.h"
#include "ci_id/imagememory.h"
#include "ci_id/region.h"

namespace dmroad {

namespace {

// Destructs what the road built, whatever way it leaves.
struct Resources {
  cid2d_imageMemoryManager manager{};
  bool haveManager = false;
  cimg_imageConst fine{};
  bool haveFine = false;
  cimg_image marking{};
  bool haveMarking = false;
  cid_mask ownMask{};
  bool haveMask = false;
  cid2d_trackingResult result{};
  bool haveResult = false;
  ~Resources() {
    if (haveResult) cid2d_trackingResult_destruct(&result);
    if (haveMask) cid_mask_destruct(&ownMask);
    if (haveMarking) cimg_image_destruct(&marking);
    if (haveFine) cimg_imageConst_destruct(&fine);
    if (haveManager) cid2d_imageMemoryManager_destruct(&manager);
  }
};

// Data Matrix sizes (rows x cols): square, rectangular and the rectangular extension.
constexpr int kSizes[][2] = {
    {10, 10},  {12, 12},  {14, 14},  {16, 16}, {18, 18}, {20, 20}, {22, 22}, {24, 24}, {26, 26}, {32, 32},
    {36, 36},  {40, 40},  {44, 44},  {48, 48}, {52, 52}, {64, 64}, {72, 72}, {80, 80}, {88, 88}, {96, 96},
    {104, 104}, {120, 120}, {132, 132}, {144, 144}, {8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48},
    {8, 48},   {8, 64},   {8, 80},   {8, 96},  {8, 120}, {8, 144}, {12, 64}, {12, 88}, {16, 64}, {20, 36},
    {20, 44},  {20, 64},  {22, 48},  {24, 48}, {24, 64}, {26, 40}, {26, 48}, {26, 64}};

// Bilinear grey value at (x, y), pixel centres at integer positions, clamped to the window.
double sample(const cimg_windowConst& w, double x, double y) {
  x = std::fmin(std::fmax(x, 0.0), w.width - 1.0);
  y = std::fmin(std::fmax(y, 0.0), w.height - 1.0);
  const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  const int x1 = x0 + 1 < w.width ? x0 + 1 : x0, y1 = y0 + 1 < w.height ? y0 + 1 : y0;
  const double fx = x - x0, fy = y - y0;
  auto at = [&](int xx, int yy) { return static_cast<double>(w.pixels[static_cast<ptrdiff_t>(yy) * w.stride + xx]); };
  return (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0)) + fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1));
}

struct Hypothesis {
  cmath_vect l, rowEnd, columnEnd, opposite;
  int rows, cols;
};

// Fraction of border modules that fall in their expected class, with the threshold halfway
// between the two classes' means; 0 when the classes are less than minContrast apart or less
// than 2.5 standard deviations of the values about their class means.
double borderScore(const cimg_windowConst& w, const Hypothesis& h, double minContrast) {
  const int R = h.rows, C = h.cols;
  auto at = [&](int row, int col) {
    const double s = (col + 0.5) / C, t = 1.0 - (row + 0.5) / R;
    const double x = h.l.x + s * (h.rowEnd.x - h.l.x) + t * (h.columnEnd.x - h.l.x) +
                     s * t * (h.opposite.x - h.rowEnd.x - h.columnEnd.x + h.l.x);
    const double y = h.l.y + s * (h.rowEnd.y - h.l.y) + t * (h.columnEnd.y - h.l.y) +
                     s * t * (h.opposite.y - h.rowEnd.y - h.columnEnd.y + h.l.y);
    // Corners carry the half pixel of the stored outline; the sampler has centres at whole numbers.
    return sample(w, x - 0.5, y - 0.5);
  };
  // Value and expected class (ink) of every border module: solid row, solid column, clock row,
  // clock column.
  constexpr int kMax = 2 * (144 + 144);
  double value[kMax];
  bool ink[kMax];
  int n = 0;
  auto add = [&](double v, bool isInk) {
    value[n] = v;
    ink[n++] = isInk;
  };
  for (int k = 0; k < C; ++k) add(at(R - 1, k), true);
  for (int r = 0; r < R - 1; ++r) add(at(r, 0), true);
  for (int k = 1; k < C; ++k) add(at(0, k), k % 2 == 0);
  for (int r = 1; r < R - 1; ++r) add(at(r, C - 1), (R - 1 - r) % 2 == 0);
  double inkSum = 0, paperSum = 0;
  int inkCount = 0;
  for (int i = 0; i < n; ++i) {
    if (ink[i]) {
      inkSum += value[i];
      ++inkCount;
    } else {
      paperSum += value[i];
    }
  }
  const int paperCount = n - inkCount;
  if (inkCount == 0 || paperCount == 0) return 0;
  const double inkMean = inkSum / inkCount, paperMean = paperSum / paperCount;
  if (std::fabs(inkMean - paperMean) < minContrast) return 0;
  // The two classes must stand apart from the spread inside them, or texture matches by chance.
  double spread = 0;
  for (int i = 0; i < n; ++i) {
    const double d = value[i] - (ink[i] ? inkMean : paperMean);
    spread += d * d;
  }
  spread /= n;
  if ((inkMean - paperMean) * (inkMean - paperMean) < 6.25 * spread) return 0;
  const double threshold = (inkMean + paperMean) / 2;
  const bool inkDark = inkMean < paperMean;
  int right = 0;
  for (int i = 0; i < n; ++i) right += ((value[i] < threshold) == inkDark) == ink[i] ? 1 : 0;
  return static_cast<double>(right) / n;
}

double distance(const cmath_vect& a, const cmath_vect& b) { return std::hypot(a.x - b.x, a.y - b.y); }


// The adaptive search's L ends where its straight runs end, short of the symbol's corners by up
// to a module. Each side is followed further along the image: a point just inside the solid
// edge stays dark (for dark-on-light) until the edge's last module ends. corner and far ends
// use the located corners' pixel convention (pixel x covers [x, x + 1)).
cmath_vect extendSide(const cimg_windowConst& w, cmath_vect corner, cmath_vect farEnd, cmath_vect other) {
  const double length = std::hypot(farEnd.x - corner.x, farEnd.y - corner.y);
  if (!(length > 4)) return farEnd;
  const cmath_vect u{(farEnd.x - corner.x) / length, (farEnd.y - corner.y) / length};
  // Unit normal pointing into the symbol (towards the other side's end).
  const double along = (other.x - corner.x) * u.x + (other.y - corner.y) * u.y;
  cmath_vect n{other.x - corner.x - along * u.x, other.y - corner.y - along * u.y};
  const double nl = std::hypot(n.x, n.y);
  if (!(nl > 0)) return farEnd;
  n = {n.x / nl, n.y / nl};
  auto at = [&](double t, double offset) {
    return sample(w, corner.x + t * u.x + offset * n.x - 0.5, corner.y + t * u.y + offset * n.y - 0.5);
  };
  // Grey levels of the solid edge and of the quiet zone beside it, over the middle of the side.
  double ink = 0, light = 0;
  for (int i = 1; i <= 8; ++i) {
    ink += at(length * (0.2 + 0.075 * i), 1.0) / 8;
    light += at(length * (0.2 + 0.075 * i), -1.5) / 8;
  }
  if (std::fabs(ink - light) < 10) return farEnd;
  const double threshold = (ink + light) / 2;
  const bool inkIsDark = ink < light;
  auto isInk = [&](double t) { return inkIsDark ? at(t, 1.0) < threshold : at(t, 1.0) > threshold; };
  double t = length;
  // Up to a third more than found, in quarter pixels; the edge ends where the inset turns light.
  while (t < length * 1.34 && isInk(t + 0.25)) t += 0.25;
  return cmath_vect{corner.x + t * u.x, corner.y + t * u.y};
}

}  // namespace

bool hasDataMatrixBorder(const cimg_imageConst& image, const std::array<cmath_vect, 4>& corners, int* rows,
                         int* cols) {
  cimg_windowConst w;
  if (CSYS_FAILED(cimg_windowConst_init(&w, &image))) return false;
  w.x0 = 0;
  w.y0 = 0;
  double best = 0;
  int bestRows = 0, bestCols = 0;
  for (int i = 0; i < 4; ++i) {
    for (int dir : {1, 3}) {
      Hypothesis h{corners[i], corners[(i + dir) % 4], corners[(i + 4 - dir) % 4], corners[(i + 2) % 4], 0, 0};
      // Mean lengths of the sides along the rows and along the columns.
      const double rowLength = (distance(h.l, h.rowEnd) + distance(h.columnEnd, h.opposite)) / 2;
      const double columnLength = (distance(h.l, h.columnEnd) + distance(h.rowEnd, h.opposite)) / 2;
      for (const auto& size : kSizes) {
        for (int transpose = 0; transpose < (size[0] == size[1] ? 1 : 2); ++transpose) {
          h.rows = transpose ? size[1] : size[0];
          h.cols = transpose ? size[0] : size[1];
          // Modules of at least 1.5 pixels, roughly square (within 3 : 2).
          const double moduleAlongRow = rowLength / h.cols, moduleAlongColumn = columnLength / h.rows;
          if (moduleAlongRow < 1.5 || moduleAlongColumn < 1.5) continue;
          if (moduleAlongRow > 1.5 * moduleAlongColumn || moduleAlongColumn > 1.5 * moduleAlongRow) continue;
          const double score = borderScore(w, h, 15.0);
          if (score > best) {
            best = score;
            bestRows = h.rows;
            bestCols = h.cols;
          }
          if (best >= 0.97) break;
        }
      }
    }
  }
  if (best < 0.85) return false;
  if (rows) *rows = bestRows;
  if (cols) *cols = bestCols;
  return true;
}

Outcome findAll(const cimg_imageConst& image, const Options& options, cid_mask* mask) {
  Outcome out;
  Resources r;
  auto fail = [&](csys_status st) {
    out.status = st;
    return out;
  };
  csys_status st = cid2d_imageMemoryManager_construct(&r.manager, &image, &image);
  if (CSYS_FAILED(st)) return fail(st);
  r.haveManager = true;
  cimg_imageConst_constructUnbound(&r.fine);
  r.haveFine = true;
  st = cid2d_imageMemoryManager_getFineImage(&r.manager, nullptr, &r.fine);
  if (CSYS_FAILED(st)) return fail(st);
  const int32_t width = r.fine.window.width, height = r.fine.window.height;

  st = cimg_image_construct(&r.marking, (width + 3) / 4, (height + 3) / 4);
  if (CSYS_FAILED(st)) return fail(st);
  r.haveMarking = true;
  if (mask == nullptr) {
    st = cid_mask_construct(&r.ownMask, nullptr);
    if (CSYS_FAILED(st)) return fail(st);
    r.haveMask = true;
    mask = &r.ownMask;
  }
  st = cid2d_trackingResult_construct(&r.result);
  if (CSYS_FAILED(st)) return fail(st);
  r.haveResult = true;

  cid2d_trackingParams params;
  cid2d_trackingParams_init(&params);
  if (options.tune) options.tune(params);
  std::vector<int32_t> scratch((229320 + 3) / 4);
  std::vector<int32_t> lines;
  const int step = options.rowStep < 1 ? 1 : options.rowStep;
  for (int32_t y = step / 2; y < height; y += step) lines.push_back(y);
  params.scratch = reinterpret_cast<uint8_t*>(scratch.data());
  params.scratchSize = static_cast<uint32_t>(scratch.size() * sizeof(int32_t));
  params.scanLines = lines.data();
  params.scanLineCount = static_cast<int32_t>(lines.size());
  params.scanDirection = 1;
  params.firstScanLine = 0;

  while (static_cast<int>(out.symbols.size()) < options.maxSymbols && out.calls < options.maxCalls) {
    const int32_t lowContrast = options.lowContrast ? 1 : 0;
    st = options.adaptive ? cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(&r.fine, &params, mask, nullptr,
                                                                                 lowContrast, &r.marking, &r.result)
                          : cf_BndFindNextDMSymbol(&r.fine, &params, mask, nullptr, nullptr, lowContrast, &r.marking,
                                                   &r.result);
    ++out.calls;
    if (CSYS_FAILED(st)) return fail(st);
    if (r.result.found == 0) break;
    Symbol s;
    if (options.adaptive) {
      // The L: corner K with the far ends of its two sides; the opposite corner completes the
      // parallelogram. The adaptive search leaves rectangle and score alone, so both are set here.
      const int32_t(*side)[2] = r.result.boundary.sides;
      const cmath_vect k{double(side[0][0]), double(side[0][1])};
      const cmath_vect shortA{double(side[1][0]), double(side[1][1])}, shortB{double(side[3][0]), double(side[3][1])};
      cmath_vect a = extendSide(r.fine.window, k, shortA, shortB);
      cmath_vect b = extendSide(r.fine.window, k, shortB, shortA);
      // The same turning order as the plain search's corners: (a - k) x (b - k) not positive.
      if ((a.x - k.x) * (b.y - k.y) - (a.y - k.y) * (b.x - k.x) > 0) std::swap(a, b);
      s.corners = {k, a, cmath_vect{a.x + b.x - k.x, a.y + b.y - k.y}, b};
      cmath_shapeAffineRectPoints p{k, a, b};
      cmath_shapeAffineRect_initPoints(&r.result.rectangle, &p);
      r.result.parallelogram = 1;
      r.result.fourthCorner = s.corners[2];
      r.result.score = 0;
    } else {
      cmath_shapeAffineRectPoints p;
      cmath_shapeAffineRect_getPoints(&r.result.rectangle, &p);
      s.corners = {p.po, p.px, r.result.fourthCorner, p.py};
    }
    s.score = r.result.score;
    s.parallelogram = r.result.parallelogram;
    s.line = r.result.line;
    params.firstScanLine = r.result.line;
    if (options.verify && !hasDataMatrixBorder(r.fine, s.corners, &s.rows, &s.cols)) {
      // Not claimed, so mark the seed as tried: its outline may cross the next marking cell, and
      // the seed would find the same candidate again.
      const int32_t cx = r.result.seed.x >> 2, cy = r.result.seed.y >> 2;
      if (cx >= 0 && cy >= 0 && cx < r.marking.window.width && cy < r.marking.window.height)
        r.marking.window.pixels[static_cast<ptrdiff_t>(cy) * r.marking.window.stride + cx] = 1;
      ++out.rejected;
      continue;
    }
    out.symbols.push_back(s);

    cid_region region;
    if (options.adaptive) {
      // The adaptive search tests only its seed against the mask, and seeds sit on the symbol's
      // outline: claim the parallelogram grown by a few pixels so they fall inside the claim.
      const cmath_vect& k = s.corners[0];
      const cmath_vect& a = s.corners[1];
      const cmath_vect& b = s.corners[3];
      const double shorter = std::min(std::hypot(a.x - k.x, a.y - k.y), std::hypot(b.x - k.x, b.y - k.y));
      const double grow = shorter > 0 ? 1.0 + 6.0 / shorter : 1.0;
      const cmath_vect c{(a.x + b.x) / 2, (a.y + b.y) / 2};
      auto scaled = [&](const cmath_vect& p) { return cmath_vect{c.x + grow * (p.x - c.x), c.y + grow * (p.y - c.y)}; };
      cmath_shapeAffineRectPoints claim{scaled(k), scaled(a), scaled(b)};
      cmath_shapeAffineRect rect;
      cmath_shapeAffineRect_initPoints(&rect, &claim);
      st = cid_region_initAffineRect(&region, &rect, nullptr);
    } else {
      st = cid_region_initAffineRect(&region, &r.result.rectangle,
                                     r.result.parallelogram != 0 ? nullptr : &r.result.fourthCorner);
    }
    if (CSYS_FAILED(st)) return fail(st);
    st = cid_mask_appendRegion(mask, &region, 0.0);
    if (CSYS_FAILED(st)) return fail(st);
  }
  return out;
}

}  // namespace dmroad
