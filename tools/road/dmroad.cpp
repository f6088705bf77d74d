#include "road/dmroad.hpp"

#include <algorithm>
#include <cmath>
#include <vector>
#include <utility>

#include "ci_id/dmdriver.h"
#include "ci_id/region.h"
#include "road/dmcorners.hpp"
#include "road/dmdenoise.hpp"
#include "road/dmgeometry.hpp"
#include "road/dmlong.hpp"
#include "road/roadbase.hpp"

namespace dmroad {

namespace {

// What the road builds beyond the shared pieces, destructed whatever way it leaves.
struct Resources : road::Base {
  std::vector<uint8_t> smoothed;
  cimg_imageConst search{};  // what the driver searches: fine, or a smoothed copy of it
  bool haveSearch = false;
  cimg_image marking{};
  bool haveMarking = false;
  ~Resources() {
    if (haveMarking) cimg_image_destruct(&marking);
    if (haveSearch) cimg_imageConst_destruct(&search);
  }
};

// Noise (grey levels of deviation) above which the driver searches a smoothed copy.
constexpr double kDenoiseAbove = 5.0;
constexpr double kSmoothTwiceAbove = 10.0;

// Data Matrix sizes (rows x cols): square, rectangular and the rectangular extension.
constexpr int kSizes[][2] = {
    {10, 10},  {12, 12},  {14, 14},  {16, 16}, {18, 18}, {20, 20}, {22, 22}, {24, 24}, {26, 26}, {32, 32},
    {36, 36},  {40, 40},  {44, 44},  {48, 48}, {52, 52}, {64, 64}, {72, 72}, {80, 80}, {88, 88}, {96, 96},
    {104, 104}, {120, 120}, {132, 132}, {144, 144}, {8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48},
    {8, 48},   {8, 64},   {8, 80},   {8, 96},  {8, 120}, {8, 144}, {12, 64}, {12, 88}, {16, 64}, {20, 36},
    {20, 44},  {20, 64},  {22, 48},  {24, 48}, {24, 64}, {26, 40}, {26, 48}, {26, 64}};

struct Hypothesis {
  cmath_vect l, rowEnd, columnEnd, opposite;
  int rows, cols;
  // Symbol square (s, t) in [0, 1]^2 to image: (0, 0) the L corner, (1, 0) the row end, (0, 1)
  // the column end. Projective, so module centres land right on a symbol seen at an angle.
  SquareToQuad imageFromSymbol;
};

// Fraction of border modules that fall in their expected class, with the threshold halfway
// between the two classes' means; 0 when the classes are less than minContrast apart or less
// than 2.5 standard deviations of the values about their class means.
double borderScore(const cimg_windowConst& w, const Hypothesis& h, double minContrast) {
  const int R = h.rows, C = h.cols;
  auto at = [&](int row, int col) {
    const cmath_vect p = h.imageFromSymbol.map((col + 0.5) / C, 1.0 - (row + 0.5) / R);
    return sampleAt(w, p.x, p.y);
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
    return sampleAt(w, corner.x + t * u.x + offset * n.x, corner.y + t * u.y + offset * n.y);
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

// The outer edge of a far (alternating) side, measured in the image. Walking inwards across the
// side from a little outside, the first crossing into ink lies on the side's outer edge where
// the clock module is ink, and deeper inside where it is not; the edge is the line that most
// crossings agree on (to within a pixel), refined by a least-squares fit of those crossings.
// from and to are the side's ends as located, inward points into the symbol; reach is how far
// from the located side to look. Levels come from the solid sides (ink and light).
bool measureFarSide(const cimg_windowConst& w, cmath_vect from, cmath_vect to, cmath_vect inward, double reach,
                    double ink, double light, EdgeLine* edge) {
  const double length = std::hypot(to.x - from.x, to.y - from.y);
  if (!(length > 8)) return false;
  const cmath_vect u{(to.x - from.x) / length, (to.y - from.y) / length};
  cmath_vect n{-u.y, u.x};
  if (n.x * inward.x + n.y * inward.y < 0) n = {-n.x, -n.y};
  const double threshold = (ink + light) / 2;
  const bool inkIsDark = ink < light;
  auto inkness = [&](cmath_vect p) {  // positive on the ink side of the threshold
    const double v = sampleAt(w, p.x, p.y) - threshold;
    return inkIsDark ? -v : v;
  };
  std::vector<cmath_vect> hits;
  const int samples = 48;
  const int quarters = static_cast<int>(std::floor(2 * reach / 0.25 + 1e-9));  // steps from -reach to reach
  for (int i = 0; i < samples; ++i) {
    const double t = length * (0.08 + 0.84 * i / (samples - 1));
    const cmath_vect base{from.x + t * u.x, from.y + t * u.y};
    // The crossing counts only after a pixel or more of light: the quiet zone. Ink met before
    // it is clutter or, for light-on-dark symbols, the lighter background beyond the quiet zone.
    // Quarter-pixel steps, taken a pixel at a time where both ends of the pixel are light: ink
    // thinner than a pixel between them is not a module edge.
    auto inknessAt = [&](int q) {
      const double s = -reach + 0.25 * q;
      return inkness(cmath_vect{base.x + s * n.x, base.y + s * n.y});
    };
    double previous = inknessAt(0);
    int lightSteps = previous > 0 ? 0 : 1;
    bool hit = false;
    for (int q = 0; q < quarters && !hit;) {
      const int next = std::min(q + 4, quarters);
      const double ahead = inknessAt(next);
      if (next == q + 4 && previous <= 0 && ahead <= 0) {
        lightSteps += 4;
        previous = ahead;
        q = next;
        continue;
      }
      for (int j = q + 1; j <= next; ++j) {
        const double value = j == next ? ahead : inknessAt(j);
        if (value > 0 && lightSteps >= 4) {
          const double f = previous / (previous - value);  // linear crossing between the steps
          const double at = -reach + 0.25 * (j - 1 + f);
          hits.push_back(cmath_vect{base.x + at * n.x, base.y + at * n.y});
          hit = true;
          break;
        }
        lightSteps = value > 0 ? 0 : lightSteps + 1;
        previous = value;
      }
      q = next;
    }
  }
  if (hits.size() < 8) return false;
  // The line through two crossings that most crossings lie within a pixel of.
  size_t bestCount = 0;
  EdgeLine best{};
  // Candidate lines through crossings a quarter to three quarters of the side apart.
  for (size_t i = 0; i < hits.size(); ++i)
    for (size_t j = i + hits.size() / 4; j < hits.size() && j <= i + 3 * hits.size() / 4; j += 2) {
      const double dx = hits[j].x - hits[i].x, dy = hits[j].y - hits[i].y, d = std::sqrt(dx * dx + dy * dy);
      if (d < length * 0.2) continue;
      const EdgeLine line{hits[i], cmath_vect{dx / d, dy / d}};
      size_t count = 0;
      for (const cmath_vect& h : hits)
        count += std::fabs((h.x - line.point.x) * line.dir.y - (h.y - line.point.y) * line.dir.x) <= 1.0;
      if (count > bestCount) bestCount = count, best = line;
    }
  if (bestCount < std::max<size_t>(6, hits.size() / 4)) return false;
  // Least squares over the agreeing crossings (orthogonal fit through their centroid).
  double mx = 0, my = 0;
  std::vector<cmath_vect> inliers;
  for (const cmath_vect& h : hits)
    if (std::fabs((h.x - best.point.x) * best.dir.y - (h.y - best.point.y) * best.dir.x) <= 1.0) inliers.push_back(h);
  for (const cmath_vect& h : inliers) mx += h.x / inliers.size(), my += h.y / inliers.size();
  double sxx = 0, sxy = 0, syy = 0;
  for (const cmath_vect& h : inliers) {
    sxx += (h.x - mx) * (h.x - mx);
    sxy += (h.x - mx) * (h.y - my);
    syy += (h.y - my) * (h.y - my);
  }
  const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
  *edge = EdgeLine{cmath_vect{mx, my}, cmath_vect{std::cos(angle), std::sin(angle)}};
  return true;
}

// A parallelogram cannot follow a keystone: the far corner of a symbol seen at an angle lies off
// the parallelogram's. The two far sides are measured in the image and the corners rebuilt from
// them and the solid sides. corners: L corner, end of solid side 1, far corner, end of solid
// side 2 (the road's order). False when the image does not show the far sides clearly.
bool fitFarSides(const cimg_windowConst& w, std::array<cmath_vect, 4>* corners) {
  const cmath_vect k = (*corners)[0], a = (*corners)[1], d = (*corners)[2], b = (*corners)[3];
  const double sideA = distance(k, a), sideB = distance(k, b);
  if (!(sideA > 8 && sideB > 8)) return false;
  // Ink and light levels from the solid sides: just inside and just outside them.
  const cmath_vect centre{(k.x + a.x + b.x + d.x) / 4, (k.y + a.y + b.y + d.y) / 4};
  auto level = [&](cmath_vect p0, cmath_vect p1, double offset) {
    const double len = distance(p0, p1);
    const cmath_vect u{(p1.x - p0.x) / len, (p1.y - p0.y) / len};
    cmath_vect n{-u.y, u.x};
    if ((centre.x - p0.x) * n.x + (centre.y - p0.y) * n.y < 0) n = {-n.x, -n.y};
    double sum = 0;
    for (int i = 0; i < 8; ++i) {
      const double t = len * (0.2 + 0.6 * i / 7);
      sum += sampleAt(w, p0.x + t * u.x + offset * n.x, p0.y + t * u.y + offset * n.y);
    }
    return sum / 8;
  };
  const double ink = (level(k, a, 1.0) + level(k, b, 1.0)) / 2;
  const double light = (level(k, a, -1.5) + level(k, b, -1.5)) / 2;
  if (std::fabs(ink - light) < 15) return false;
  // Only a solid L is worth measuring further: along both sides, ink just inside and light just
  // outside nearly everywhere. Most candidates among clutter and noise end here, cheaply.
  const double mid = (ink + light) / 2, inkSign = ink < light ? -1 : 1;
  int wrong = 0;
  for (const cmath_vect& end : {a, b}) {
    const double len = distance(k, end);
    const cmath_vect u{(end.x - k.x) / len, (end.y - k.y) / len};
    cmath_vect n{-u.y, u.x};
    if ((centre.x - k.x) * n.x + (centre.y - k.y) * n.y < 0) n = {-n.x, -n.y};
    for (int i = 0; i < 16; ++i) {
      const double t = len * (0.1 + 0.8 * i / 15);
      const cmath_vect p{k.x + t * u.x, k.y + t * u.y};
      wrong += inkSign * (sampleAt(w, p.x + n.x, p.y + n.y) - mid) <= 0;
      wrong += inkSign * (sampleAt(w, p.x - 1.5 * n.x, p.y - 1.5 * n.y) - mid) >= 0;
    }
  }
  if (wrong > 6) return false;
  // Far side 1 runs from a to d (opposite solid side 2), far side 2 from b to d.
  const double reach = std::max(3.0, 0.3 * std::min(sideA, sideB));
  EdgeLine far1, far2;
  const cmath_vect into1{k.x - a.x, k.y - a.y}, into2{k.x - b.x, k.y - b.y};
  if (!measureFarSide(w, a, d, into1, reach, ink, light, &far1)) return false;
  if (!measureFarSide(w, b, d, into2, reach, ink, light, &far2)) return false;
  const EdgeLine solid1{k, cmath_vect{(a.x - k.x) / sideA, (a.y - k.y) / sideA}};
  const EdgeLine solid2{k, cmath_vect{(b.x - k.x) / sideB, (b.y - k.y) / sideB}};
  cmath_vect a2, b2, d2;
  if (!crossing(solid1, far1, &a2) || !crossing(solid2, far2, &b2) || !crossing(far1, far2, &d2)) return false;
  // Keep only a modest correction: the located L is trusted, the far sides may move.
  const double limit = 0.4 * std::min(sideA, sideB);
  if (distance(a2, a) > limit || distance(b2, b) > limit || distance(d2, d) > limit) return false;
  *corners = {k, a2, d2, b2};
  return true;
}

}  // namespace

namespace {

// The long rectangles: beyond 5 : 1.
bool isLong(const BorderLayout& l) { return std::max(l.rows, l.cols) > 5 * std::min(l.rows, l.cols); }

// The best border hypothesis over the four corners as the L corner and every size whose modules
// come out roughly square; false when none scores well enough. One turning direction is enough:
// the other one with rows and columns swapped samples the same border modules and expects the
// same of each, so it scores the same and would never displace the first.
bool matchBorder(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, bool longRectangles,
                 BorderLayout* layout) {
  double best = 0;
  for (int i = 0; i < 4; ++i) {
    const int dir = 1;
    Hypothesis h{corners[i], corners[(i + dir) % 4], corners[(i + 4 - dir) % 4], corners[(i + 2) % 4], 0, 0, {}};
    h.imageFromSymbol = SquareToQuad(h.l, h.rowEnd, h.opposite, h.columnEnd);
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
          *layout = BorderLayout{i, dir, h.rows, h.cols};
        }
        if (best >= 0.97) return longRectangles || !isLong(*layout);  // a border this clear is the one
      }
    }
  }
  // The long rectangles only on request; a long symbol must not pass as a shorter size either.
  if (!longRectangles && isLong(*layout)) return false;
  return best >= 0.85;
}

// Whether the border still shows through corners in the layout matchBorder gave them.
bool borderHolds(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, const BorderLayout& layout) {
  const int i = layout.l, dir = layout.dir;
  Hypothesis h{corners[i], corners[(i + dir) % 4], corners[(i + 4 - dir) % 4], corners[(i + 2) % 4],
               layout.rows, layout.cols, {}};
  h.imageFromSymbol = SquareToQuad(h.l, h.rowEnd, h.opposite, h.columnEnd);
  return borderScore(w, h, 15.0) >= 0.85;
}

// Marks the cells of the marking image that lie wholly inside a region just claimed in a mask
// of regions, so that the driver passes over the edges of the symbol's modules without starting
// a search at each, which would find its seed masked and return. A cell is marked only when its
// four corner pixels lie inside the convex outline by a margin: every pixel between them, the
// only places a seed of the cell can sit, is then inside too.
void markClaimedCells(const cid_region& region, cimg_image* marking) {
  const cmath_vect outline[4] = {region.py, region.po, region.px, region.popp};
  // Inward unit normals and offsets of the four sides: inside means n . q > c for every side.
  cmath_vect normal[4];
  double offset[4];
  double turn = 0;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect a = outline[i], b = outline[(i + 1) % 4], c = outline[(i + 2) % 4];
    turn += (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
  }
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect a = outline[i], b = outline[(i + 1) % 4], c = outline[(i + 2) % 4];
    const double bend = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
    const double length = distance(a, b);
    if (!(length > 1) || !(bend * turn > 0)) return;  // degenerate or not convex: nothing marked
    const double sign = turn > 0 ? 1 : -1;
    normal[i] = cmath_vect{-sign * (b.y - a.y) / length, sign * (b.x - a.x) / length};
    offset[i] = normal[i].x * a.x + normal[i].y * a.y;
    minX = std::min(minX, a.x), maxX = std::max(maxX, a.x);
    minY = std::min(minY, a.y), maxY = std::max(maxY, a.y);
  }
  auto inside = [&](double x, double y) {
    for (int i = 0; i < 4; ++i)
      if (!(normal[i].x * x + normal[i].y * y > offset[i] + 0.01)) return false;
    return true;
  };
  cimg_window& m = marking->window;
  const int cx0 = std::max(0, static_cast<int>(std::floor(minX / 4))), cx1 = std::min(m.width - 1, static_cast<int>(maxX / 4));
  const int cy0 = std::max(0, static_cast<int>(std::floor(minY / 4))), cy1 = std::min(m.height - 1, static_cast<int>(maxY / 4));
  for (int cy = cy0; cy <= cy1; ++cy)
    for (int cx = cx0; cx <= cx1; ++cx) {
      const double x = 4.0 * cx, y = 4.0 * cy;
      if (inside(x, y) && inside(x + 3, y) && inside(x, y + 3) && inside(x + 3, y + 3))
        m.pixels[static_cast<ptrdiff_t>(cy) * m.stride + cx] = 1;
    }
}

}  // namespace

bool hasDataMatrixBorder(const cimg_imageConst& image, const std::array<cmath_vect, 4>& corners, int* rows,
                         int* cols) {
  cimg_windowConst w;
  if (CSYS_FAILED(cimg_windowConst_init(&w, &image))) return false;
  w.x0 = 0;
  w.y0 = 0;
  BorderLayout layout;
  if (!matchBorder(w, corners, true, &layout)) return false;
  if (rows) *rows = layout.rows;
  if (cols) *cols = layout.cols;
  return true;
}

Outcome findAll(const cimg_imageConst& image, const Options& options, cid_mask* mask) {
  Outcome out;
  Resources r;
  auto fail = [&](csys_status st) {
    out.status = st;
    return out;
  };
  csys_status st = r.open(image);
  if (CSYS_FAILED(st)) return fail(st);
  const int32_t width = r.fine.window.width, height = r.fine.window.height;
  const cimg_imageConst* searchImage = &r.fine;
  const double noise = options.denoise ? noiseSigma(r.fine.window) : 0;
  const bool noisy = noise > kDenoiseAbove;
  if (noisy) {
    smoothBinomial(r.fine.window, &r.smoothed);
    if (noise > kSmoothTwiceAbove) {
      // Heavy noise: once more over the smoothed copy (a 5 x 5 binomial in all).
      std::vector<uint8_t> twice;
      const cimg_windowConst once{width, height, 0, 0, width, r.smoothed.data()};
      smoothBinomial(once, &twice);
      r.smoothed.swap(twice);
    }
    st = cimg_imageConst_constructWrap(&r.search, r.smoothed.data(), width, height, width);
    if (CSYS_FAILED(st)) return fail(st);
    r.haveSearch = true;
    searchImage = &r.search;
  }

  st = cimg_image_construct(&r.marking, (width + 3) / 4, (height + 3) / 4);
  if (CSYS_FAILED(st)) return fail(st);
  r.haveMarking = true;
  st = r.prepare(mask, options.tune);
  if (CSYS_FAILED(st)) return fail(st);
  mask = r.mask;
  cid2d_trackingParams& params = r.params;
  std::vector<int32_t> lines;
  const int step = options.rowStep < 1 ? 1 : options.rowStep;

  // One search image scanned to its end: the image (or its smoothed copy), or a view of it for
  // the long rectangles, whose finds map back through imageFromSearch.
  auto scan = [&](const cimg_imageConst* searchImage, cimg_image* marking, const LongView* view) -> csys_status {
    const int32_t searchHeight = searchImage->window.height;
    lines.clear();
    for (int32_t y = step / 2; y < searchHeight; y += step) lines.push_back(y);
    params.scanLines = lines.data();
    params.scanLineCount = static_cast<int32_t>(lines.size());
    params.firstScanLine = 0;
    // In a noisy image the cells where only noise would seed are passed over. The adaptive
    // driver reads the marks' values, so its marking is left to it.
    if (noisy && view == nullptr && !options.adaptive) {
      const cimg_windowConst searched{width, height, 0, 0, width, r.smoothed.data()};
      markNoiseCells(searched, lines, &marking->window);
    }
    const cmath_xformLinear* maskXform = view ? &view->imageFromView : nullptr;
    while (static_cast<int>(out.symbols.size()) < options.maxSymbols && out.calls < options.maxCalls) {
      const int32_t lowContrast = options.lowContrast ? 1 : 0;
      csys_status st = options.adaptive
                           ? cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(searchImage, &params, mask, maskXform,
                                                                                  lowContrast, marking, &r.result)
                           : cf_BndFindNextDMSymbol(searchImage, &params, mask, nullptr, maskXform, lowContrast, marking,
                                                    &r.result);
      ++out.calls;
      if (CSYS_FAILED(st)) return st;
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
      if (view)
        for (cmath_vect& c : s.corners) c = view->toImage(c);
      s.score = r.result.score;
      s.parallelogram = r.result.parallelogram;
      s.line = r.result.line;
      params.firstScanLine = r.result.line;
      const cimg_windowConst& w = r.fine.window;
      BorderLayout layout;
      bool matched =
          (options.verify || options.fitFarSides) && matchBorder(w, s.corners, options.longRectangles, &layout);
      // The sides fitted to the edges along their whole length give the corners to a fraction of
      // a module, once the border check has placed the L.
      std::array<cmath_vect, 4> refinedCorners = s.corners;
      bool refined = matched && options.fitFarSides && refineCorners(w, layout, &refinedCorners) &&
                     borderHolds(w, refinedCorners, layout);
      if (refined) s.corners = refinedCorners;
      if (options.fitFarSides && !refined) {
        // Symbols seen at an angle, whose parallelogram strays too far from the far sides: measure
        // those in the image first. With the border check on, the measured corners are kept only
        // when the border shows through them.
        std::array<cmath_vect, 4> fitted = s.corners;
        // Twice: the second pass starts from far sides that the first has brought close.
        const bool refit = fitFarSides(w, &fitted) && (fitFarSides(w, &fitted), true);
        BorderLayout fittedLayout;
        const bool fittedMatched = refit && matchBorder(w, fitted, options.longRectangles, &fittedLayout);
        if (refit && (fittedMatched || !options.verify)) {
          s.corners = fitted;
          s.parallelogram = 0;
          if (fittedMatched) {
            layout = fittedLayout;
            matched = true;
            refineCorners(w, layout, &s.corners);
          }
        }
      }
      if (options.verify && !matched) {
        // Not claimed, so mark the seed as tried: its outline may cross the next marking cell, and
        // the seed would find the same candidate again.
        const int32_t cx = r.result.seed.x >> 2, cy = r.result.seed.y >> 2;
        if (cx >= 0 && cy >= 0 && cx < marking->window.width && cy < marking->window.height)
          marking->window.pixels[static_cast<ptrdiff_t>(cy) * marking->window.stride + cx] = 1;
        ++out.rejected;
        continue;
      }
      if (matched) {
        s.rows = layout.rows;
        s.cols = layout.cols;
      }
      if (refined) s.parallelogram = 0;
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
        auto scaled = [&](const cmath_vect& p) {
          return cmath_vect{c.x + grow * (p.x - c.x), c.y + grow * (p.y - c.y)};
        };
        st = road::claim(mask, {scaled(k), scaled(a), scaled(s.corners[2]), scaled(b)}, true, &region);
      } else {
        st = road::claim(mask, s.corners, s.parallelogram != 0, &region);
      }
      if (CSYS_FAILED(st)) return st;
      // The plain search tests each seed against the mask before anything else; the adaptive
      // driver reads the marks' values, so its marking is left to it.
      if (!options.adaptive && view == nullptr && !mask->hasImage) markClaimedCells(region, marking);
    }
    return 0;
  };

  st = scan(searchImage, &r.marking, nullptr);
  if (CSYS_FAILED(st)) return fail(st);
  // The long rectangles the image itself does not show the searches: through the views, each
  // with a marking image of its own; the mask, in image coordinates, is shared.
  for (int k = 0; options.longRectangles && !options.adaptive && k < kLongViewCount; ++k) {
    const LongView view = makeLongView(searchImage->window, k);
    if (view.width < 16 || view.height < 16) continue;
    cimg_imageConst viewImage;
    st = cimg_imageConst_constructWrap(&viewImage, view.pixels.data(), view.width, view.height, view.width);
    if (CSYS_FAILED(st)) return fail(st);
    cimg_image viewMarking;
    st = cimg_image_construct(&viewMarking, (view.width + 3) / 4, (view.height + 3) / 4);
    if (CSYS_SUCCEEDED(st)) {
      st = scan(&viewImage, &viewMarking, &view);
      cimg_image_destruct(&viewMarking);
    }
    cimg_imageConst_destruct(&viewImage);
    if (CSYS_FAILED(st)) return fail(st);
  }
  return out;
}

}  // namespace dmroad
