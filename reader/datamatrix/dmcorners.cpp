#include "reader/datamatrix/dmcorners.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "reader/geometry.hpp"

namespace dmroad {

namespace {

// One side of the border in symbol coordinates (s along the solid row, t along the solid column,
// both 0 ... 1 over the symbol): the edge runs from (s0, t0) to (s1, t1) and (ns, nt) points out
// of the symbol, one module long.
struct Side {
  double s0, t0, s1, t1;
  double ns, nt;
  int modules;      // modules along the side
  bool alternating; // only every other module (the dark ones) has an outer edge
};

struct Profile {
  cmath_vect inside, outside;  // image points half a module in and a module and a half out
  // Where the walk for the edge ends: a module and a half in across a solid side, whose edge a
  // corner located a module out along the side leaves that far in at one end (and nothing but
  // the side's own ink lies before it); half a module in across an alternating one.
  cmath_vect deepest;
};

// Grey level at p averaged with two points half a pixel along the edge on either side: noise is
// averaged out without moving the edge.
// unclamped when no sample needs the window's clamps (the same values, sooner).
double alongEdgeMean(const cimg_windowConst& w, cmath_vect p, cmath_vect along, bool unclamped) {
  auto at = [&](double x, double y) { return unclamped ? sampleUnclamped(w, x, y) : sampleAt(w, x, y); };
  return (at(p.x, p.y) + at(p.x - 0.5 * along.x, p.y - 0.5 * along.y) + at(p.x + 0.5 * along.x, p.y + 0.5 * along.y)) /
         3;
}

// sampleAt, without the clamps for a point that does not need them (most module centres).
double sampleChecked(const cimg_windowConst& w, cmath_vect p) {
  return sampleNeedsNoClamp(w, p) ? sampleUnclamped(w, p.x, p.y) : sampleAt(w, p.x, p.y);
}

// Whether every point within a pixel of the segment from a to b (in x and in y) samples without
// clamping: the points half a pixel along the edge from a profile, with rounding to spare.
bool nearSegmentUnclamped(const cimg_windowConst& w, cmath_vect a, cmath_vect b) {
  const cmath_vect lo{std::min(a.x, b.x) - 1, std::min(a.y, b.y) - 1};
  const cmath_vect hi{std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1};
  return samplesUnclamped(w, {lo, hi, cmath_vect{lo.x, hi.y}, cmath_vect{hi.x, lo.y}});
}

// Takes its values by value, as nth_element reorders them: callers done with theirs move them in.
double quantileOf(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  const auto at = v.begin() + static_cast<ptrdiff_t>(q * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), at, v.end());
  return *at;
}

double median(std::vector<double> v) { return quantileOf(std::move(v), 0.5); }

class SideFitter {
 public:
  SideFitter(const cimg_windowConst& w, const SquareToQuad& map, const BorderLayout& layout)
      : w_(w), map_(map), layout_(layout) {}

  // Profiles across the side where it has an edge, through the middle of each module along a
  // solid side and of each dark module along an alternating one; the modules at both ends
  // (shared with the crossing sides) are left out. More profiles per module cost as much again
  // each and place the corners no better: the robust fit over a side's length already averages
  // the noise of its edge points.
  // offBeat: along an alternating side, the modules between its dark ones instead, which are the
  // dark ones when the outline lies an odd number of modules out along that side.
  std::vector<Profile> profiles(const Side& side, bool offBeat = false) const {
    std::vector<Profile> out;
    const int n = side.modules;
    const int step = side.alternating ? 2 * std::max(1, n / 48) : std::max(1, n / 32);
    const double ms = side.ns / layout_.cols, mt = side.nt / layout_.rows;  // one module outwards
    for (int k = side.alternating && !offBeat ? 2 : 1; k + 1 < n; k += step) {
      const double f = (k + 0.5) / n;
      const double s = side.s0 + f * (side.s1 - side.s0), t = side.t0 + f * (side.t1 - side.t0);
      const double deep = side.alternating ? 0.5 : 1.5;
      out.push_back(Profile{map_.map(s - 0.5 * ms, t - 0.5 * mt), map_.map(s + 1.5 * ms, t + 1.5 * mt),
                            map_.map(s - deep * ms, t - deep * mt)});
    }
    return out;
  }

  // Ink level half a module inside the side and light level a module outside, over its profiles.
  void levels(const std::vector<Profile>& ps, double* ink, double* light) const {
    std::vector<double> in, out;
    for (const Profile& p : ps) {
      in.push_back(sampleAt(w_, p.inside.x, p.inside.y));
      const cmath_vect o{p.inside.x + (p.outside.x - p.inside.x) * 0.75,
                         p.inside.y + (p.outside.y - p.inside.y) * 0.75};
      out.push_back(sampleAt(w_, o.x, o.y));
    }
    *ink = median(std::move(in));
    *light = median(std::move(out));
  }

  // The level that the inkiest twentieth of the module centres reaches, on the ink side of light
  // (above it when inkAbove).
  double inkPlateau(double light, bool inkAbove) const {
    std::vector<double> inkness;
    const int rows = layout_.rows, cols = layout_.cols;
    const int step = std::max(1, std::max(rows, cols) / 48);
    for (int r = 0; r < rows; r += step)
      for (int c = 0; c < cols; c += step) {
        const cmath_vect p = map_.map((c + 0.5) / cols, (r + 0.5) / rows);
        inkness.push_back(std::fabs(sampleChecked(w_, p) - light));
      }
    const double far = quantileOf(std::move(inkness), 0.95);
    return inkAbove ? light + far : light - far;
  }

  // Edge points: walking each profile inwards from outside, the first crossing of the threshold
  // halfway between light and ink, interpolated linearly between samples a quarter pixel apart.
  std::vector<cmath_vect> edgePoints(const std::vector<Profile>& ps, double ink, double light) const {
    std::vector<cmath_vect> points;
    const double threshold = (ink + light) / 2;
    const double sign = ink < light ? -1 : 1;  // inkness = sign * (value - threshold)
    for (const Profile& p : ps) {
      const double twoModules = distance(p.inside, p.outside);
      const double len = distance(p.deepest, p.outside);
      if (!(twoModules > 0.5)) continue;
      const cmath_vect d{(p.deepest.x - p.outside.x) / len, (p.deepest.y - p.outside.y) / len};
      const cmath_vect along{-d.y, d.x};
      // Strides of about a sixth of a module find the crossing, quarter pixels within it place it.
      const double coarse = std::max(0.25, twoModules / 12);
      const int steps = static_cast<int>(std::ceil(len / coarse));
      const bool unclamped = nearSegmentUnclamped(w_, p.outside, p.deepest);
      auto inkness = [&](double at) {
        const cmath_vect q{p.outside.x + at * d.x, p.outside.y + at * d.y};
        return sign * (alongEdgeMean(w_, q, along, unclamped) - threshold);
      };
      double previous = inkness(0);
      if (previous > 0) continue;  // ink out there: clutter or a wrong side
      for (int i = 1; i <= steps; ++i) {
        double at = len * i / steps;
        double value = inkness(at);
        if (value <= 0) {
          previous = value;
          continue;
        }
        double from = len * (i - 1) / steps;
        const int fine = static_cast<int>(std::ceil((at - from) / 0.25));
        for (int j = 1; j < fine; ++j) {
          const double mid = from + (at - from) * j / fine;
          const double v = inkness(mid);
          if (v > 0) {
            at = mid;
            value = v;
            break;
          }
          from = mid;
          previous = v;
        }
        const double back = (at - from) * value / (value - previous);
        points.push_back(cmath_vect{p.outside.x + (at - back) * d.x, p.outside.y + (at - back) * d.y});
        break;
      }
    }
    return points;
  }

 private:
  const cimg_windowConst& w_;
  const SquareToQuad& map_;
  const BorderLayout& layout_;
};

// The fit, refitted without the points far off it (a speck of clutter, a profile that crossed
// into a data module): off by more than three robust deviations, and more than a third of a pixel.
bool robustLine(std::vector<cmath_vect> pts, size_t minPoints, EdgeLine* line) {
  for (int pass = 0; pass < 2; ++pass) {
    if (pts.size() < minPoints || !fitLine(pts, line)) return false;
    std::vector<double> off;
    for (const cmath_vect& p : pts) off.push_back(offLine(*line, p));
    const double limit = std::max(1/3.0, 3 * 1.4826 * median(std::move(off)));
    std::vector<cmath_vect> kept;
    for (const cmath_vect& p : pts)
      if (offLine(*line, p) <= limit) kept.push_back(p);
    if (kept.size() == pts.size()) return true;
    pts.swap(kept);
  }
  return pts.size() >= minPoints && fitLine(pts, line);
}

// Whether both ends of a side lie within a pixel of the same edge of the picture.
bool alongPictureEdge(const cimg_windowConst& w, cmath_vect a, cmath_vect b) {
  auto near = [](double v, double edge) { return std::fabs(v - edge) <= 1.0; };
  return (near(a.x, 0) && near(b.x, 0)) || (near(a.y, 0) && near(b.y, 0)) ||
         (near(a.x, w.width) && near(b.x, w.width)) || (near(a.y, w.height) && near(b.y, w.height));
}

// One refinement over the corners in layout order: L, row end, opposite, column end.
bool refineOnce(const cimg_windowConst& w, const BorderLayout& layout, std::array<cmath_vect, 4>* q) {
  const SquareToQuad map((*q)[0], (*q)[1], (*q)[2], (*q)[3]);
  const Side sides[4] = {
      {0, 0, 1, 0, 0, -1, layout.cols, false},  // solid row
      {0, 0, 0, 1, -1, 0, layout.rows, false},  // solid column
      {0, 1, 1, 1, 0, 1, layout.cols, true},    // alternating row
      {1, 0, 1, 1, 1, 0, layout.rows, true},    // alternating column
  };
  const SideFitter fitter(w, map, layout);
  EdgeLine lines[4];
  std::vector<Profile> profiles[4];
  std::vector<double> lights;
  double centres[4];  // ink level half a module inside each side
  for (int i = 0; i < 4; ++i) {
    profiles[i] = fitter.profiles(sides[i]);
    double light = 0;
    fitter.levels(profiles[i], &centres[i], &light);
    lights.push_back(light);
  }
  // The light level outside (the quiet zone), and the ink level where ink is widest: under blur
  // the solid side's own module next to the quiet zone never reaches it, and a threshold halfway
  // to its level would put the edge too far out.
  const double light = median(std::move(lights));
  // Which side of light the ink lies on, from the solid sides' whole length: the L's own module
  // alone can lie off the symbol when the located corner is a module out along the side.
  const double solid = (centres[0] + centres[1]) / 2 - light;
  const double plateau = fitter.inkPlateau(light, solid > 0);
  if (std::fabs(plateau - light) < 8 || std::fabs(solid) < 4) return false;
  auto fitSide = [&](int i, const std::vector<Profile>& ps, double centre) {
    // A lone dark module of an alternating side is dimmed further by its light neighbours along
    // the side, and its whole profile across the edge with it: its threshold is dimmed alike.
    const double dim = i < 2 ? 1.0 : std::clamp((centre - light) / solid, 0.3, 1.0);
    const double ink = light + dim * (plateau - light);
    const std::vector<cmath_vect> pts = fitter.edgePoints(ps, ink, light);
    // The alternating side of an 8-module side has three dark modules to measure; two of them
    // still place it, the corner checks below and the border check after it guarding the fit.
    const size_t minPoints = ps.size() <= 3 ? 2 : std::max<size_t>(3, ps.size() / 3);
    return robustLine(pts, minPoints, &lines[i]);
  };
  // Each side's ends in q: the solid row, the solid column, the alternating row and column.
  const int ends[4][2] = {{0, 1}, {0, 3}, {3, 2}, {1, 2}};
  for (int i = 0; i < 4; ++i) {
    // A side along the picture's edge (a symbol filling the picture) has no background beyond it
    // to be measured against: its profiles would start on its own pixels repeated. It stays
    // where it was located, round the frame the search saw.
    if (alongPictureEdge(w, (*q)[ends[i][0]], (*q)[ends[i][1]])) {
      if (!fitLine({(*q)[ends[i][0]], (*q)[ends[i][1]]}, &lines[i])) return false;
      continue;
    }
    if (fitSide(i, profiles[i], centres[i])) continue;
    // An outline a module out along an alternating side has its profiles on the light modules,
    // which have no outer edge: the modules between are tried.
    if (i < 2) return false;
    const std::vector<Profile> offBeat = fitter.profiles(sides[i], true);
    double centre = 0, outside = 0;
    fitter.levels(offBeat, &centre, &outside);
    if (!fitSide(i, offBeat, centre)) return false;
  }
  std::array<cmath_vect, 4> r;
  if (!crossing(lines[0], lines[1], &r[0]) || !crossing(lines[0], lines[3], &r[1]) ||
      !crossing(lines[2], lines[3], &r[2]) || !crossing(lines[1], lines[2], &r[3]))
    return false;
  const double module = std::min(distance((*q)[0], (*q)[1]) / layout.cols, distance((*q)[0], (*q)[3]) / layout.rows);
  for (int i = 0; i < 4; ++i)
    if (!(distance(r[i], (*q)[i]) <= 1.5 * module)) return false;
  *q = r;
  return true;
}

}  // namespace

// Corner movement of the first pass, in modules, beyond which a second pass is made.
constexpr double kSecondPassAbove = 0.3;

bool refineCorners(const cimg_windowConst& window, const BorderLayout& layout, std::array<cmath_vect, 4>* corners) {
  if (layout.rows < 6 || layout.cols < 6 || (layout.dir != 1 && layout.dir != 3) || layout.l < 0 || layout.l > 3)
    return false;
  const int l = layout.l, dir = layout.dir;
  const int index[4] = {l, (l + dir) % 4, (l + 2) % 4, (l + 4 - dir) % 4};
  std::array<cmath_vect, 4> q;
  for (int i = 0; i < 4; ++i) q[i] = (*corners)[index[i]];
  // Once more when the first pass moved a corner by a fair part of a module: the second pass
  // places its profiles on the sides the first one found. Profiles already that close to the
  // edges would give back nearly the same lines.
  const std::array<cmath_vect, 4> located = q;
  if (!refineOnce(window, layout, &q)) return false;
  const double module = std::min(distance(q[0], q[1]) / layout.cols, distance(q[0], q[3]) / layout.rows);
  double moved = 0;
  for (int i = 0; i < 4; ++i) moved = std::max(moved, distance(q[i], located[i]));
  if (moved > kSecondPassAbove * module) refineOnce(window, layout, &q);
  for (int i = 0; i < 4; ++i) (*corners)[index[i]] = q[i];
  return true;
}

bool squareOnLongSide(const BorderLayout& layout, std::array<cmath_vect, 4>* corners) {
  if ((layout.dir != 1 && layout.dir != 3) || layout.l < 0 || layout.l > 3) return false;
  std::array<cmath_vect, 4>& c = *corners;
  const int l = layout.l, rowEnd = (l + layout.dir) % 4, columnEnd = (l + 4 - layout.dir) % 4, opposite = (l + 2) % 4;
  // The long solid side from the L to `along`; the short one towards `across`, whose far corner
  // is `far` (the opposite corner's partner on the other long side).
  const bool rowLong = layout.cols >= layout.rows;
  const int along = rowLong ? rowEnd : columnEnd, across = rowLong ? columnEnd : rowEnd;
  const cmath_vect d{c[along].x - c[l].x, c[along].y - c[l].y};
  const double length = std::hypot(d.x, d.y);
  const double shortLength = (distance(c[l], c[across]) + distance(c[along], c[opposite])) / 2;
  if (!(length > 1) || !(shortLength > 1)) return false;
  cmath_vect n{-d.y / length, d.x / length};
  // The perpendicular on the side the short side lies.
  if (n.x * (c[across].x - c[l].x) + n.y * (c[across].y - c[l].y) < 0) n = cmath_vect{-n.x, -n.y};
  c[across] = cmath_vect{c[l].x + shortLength * n.x, c[l].y + shortLength * n.y};
  c[opposite] = cmath_vect{c[along].x + shortLength * n.x, c[along].y + shortLength * n.y};
  return true;
}

}  // namespace dmroad
