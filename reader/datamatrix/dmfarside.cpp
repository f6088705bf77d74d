#include "reader/datamatrix/dmfarside.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "reader/geometry.hpp"

namespace dmroad {

namespace {

// Crossings measured along one far side: one per line across it at most.
constexpr int kFarSideSamples = 48;

// The crossings in a block of fixed length, coordinates apart and the unused slots not a
// number, so that counting those near a line is one loop of fixed length that the compiler
// turns into vector code at the project's optimisation level. Every candidate line of a side
// counts over all crossings, which made the count most of the side's cost.
class CrossingsBlock {
 public:
  explicit CrossingsBlock(const std::vector<cmath_vect>& hits) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    for (size_t k = 0; k < kFarSideSamples; ++k) {
      x_[k] = k < hits.size() ? hits[k].x : none;
      y_[k] = k < hits.size() ? hits[k].y : none;
    }
  }
  // The crossings within a pixel of the line (a slot not a number is never within). The distance
  // is offLine's own expression written out: through the library's call, one per crossing, the
  // loop stayed scalar and was most of a far side's cost; the same products in the same order
  // give the same counts.
  size_t near(const EdgeLine& line) const {
    const double px = line.pos.x, py = line.pos.y, dx = line.dir.x, dy = line.dir.y;
    // Counted in a double: the compiler vectorises this sum and not an integer one.
    double count = 0;
    for (size_t k = 0; k < kFarSideSamples; ++k)
      count += std::fabs((x_[k] - px) * dy - (y_[k] - py) * dx) <= 1.0 ? 1.0 : 0.0;
    return static_cast<size_t>(count);
  }

 private:
  double x_[kFarSideSamples];
  double y_[kFarSideSamples];
};

// The first crossing into ink along a sample line of quarter-pixel steps 0 ... quarters, in steps
// (interpolated linearly between two), inkness(q) positive on the ink side at step q. The
// crossing counts only after a pixel or more of light: the quiet zone. Ink met before it is
// clutter or, for light-on-dark symbols, the lighter background beyond the quiet zone. The
// steps are taken a pixel at a time where both ends of the pixel are light: ink thinner than a
// pixel between them is not a module edge.
template <class Inkness>
bool firstCrossing(const Inkness& inkness, int quarters, double* at) {
  double previous = inkness(0);
  int lightSteps = previous > 0 ? 0 : 1;  // none exactly when the last step was ink
  for (int q = 0; q < quarters;) {
    const int next = std::min(q + 4, quarters);
    const double ahead = inkness(next);
    if (next == q + 4 && previous <= 0 && ahead <= 0) {
      lightSteps += 4;
      previous = ahead;
      q = next;
      continue;
    }
    // Only the pixel's first ink step can be the crossing: ink resets the light count, and at
    // most three steps of the pixel remain after it. So its steps are walked forwards only up to
    // the first ink, and after that only the light steps it ends with matter, counted back from
    // its end (no more samples than walking all its steps, often fewer).
    int firstInk = q;  // the pixel's first ink step, or q when the step before it was ink
    if (lightSteps > 0) {
      for (firstInk = q + 1; firstInk <= next; ++firstInk) {
        const double value = firstInk == next ? ahead : inkness(firstInk);
        if (value > 0) {
          if (lightSteps < 4) break;
          const double f = previous / (previous - value);
          *at = firstInk - 1 + f;
          return true;
        }
        ++lightSteps;
        previous = value;
      }
    }
    if (firstInk <= next) {
      lightSteps = 0;
      for (int j = next; j > firstInk && (j == next ? ahead : inkness(j)) <= 0; --j) ++lightSteps;
      previous = ahead;
    }
    q = next;
  }
  return false;
}

// The line through two crossings that most crossings lie within a pixel of, the first such in
// the order tried, and how many lie within a pixel of it. Candidate lines pass through
// crossings a quarter to three quarters of the side apart (length), and within passFrom of
// from, where the side meets its located neighbour (infinite: anywhere).
size_t consensusLine(const std::vector<cmath_vect>& hits, double length, cmath_vect from, double passFrom,
                     EdgeLine* best) {
  size_t bestCount = 0;
  const CrossingsBlock block(hits);
  const bool anywhere = std::isinf(passFrom);
  for (size_t i = 0; i < hits.size(); ++i)
    for (size_t j = i + hits.size() / 4; j < hits.size() && j <= i + 3 * hits.size() / 4; j += 2) {
      const double dx = hits[j].x - hits[i].x, dy = hits[j].y - hits[i].y, d = std::sqrt(dx * dx + dy * dy);
      if (d < length * 0.2) continue;
      const EdgeLine line{hits[i], cmath_vect{dx / d, dy / d}};
      if (!anywhere && offLine(line, from) > passFrom) continue;
      const size_t count = block.near(line);
      if (count > bestCount) {
        bestCount = count;
        *best = line;
        // A later line would have to count more to replace this one.
        if (bestCount == hits.size()) return bestCount;
      }
    }
  return bestCount;
}

// How a far side is looked for: how far across it at its located end (from) and at the far
// corner (to), on how many lines across it, and how near from the edge must pass.
struct FarSideLook {
  double reachFrom, reachTo;
  int samples;
  // A far side runs through its located end's corner when that is a true one, as the search's
  // corners are: a line passing further from it is clutter (infinite: no such test).
  double passFrom;
};

// The outer edge of a far (alternating) side, measured in the image. Walking inwards across the
// side from a little outside, the first crossing into ink lies on the side's outer edge where
// the clock module is ink, and deeper inside where it is not; the edge is the line that most
// crossings agree on (to within a pixel), refined by a least-squares fit of those crossings.
// from and to are the side's ends as located, inward points into the symbol; how far from the
// located side to look goes from look.reachFrom at from to look.reachTo at to, in proportion.
// Levels come from the located sides (ink and light).
bool measureFarSide(const cimg_windowConst& w, cmath_vect from, cmath_vect to, cmath_vect inward,
                    const FarSideLook& look, double ink, double light, EdgeLine* edge) {
  const double reachFrom = look.reachFrom, reachTo = look.reachTo;
  const double reach = std::max(reachFrom, reachTo);
  const double length = std::hypot(to.x - from.x, to.y - from.y);
  if (!(length > 8)) return false;
  const cmath_vect u{(to.x - from.x) / length, (to.y - from.y) / length};
  cmath_vect n{-u.y, u.x};
  if (n.x * inward.x + n.y * inward.y < 0) n = {-n.x, -n.y};
  const double threshold = (ink + light) / 2;
  const bool inkIsDark = ink < light;
  // Every sample lies within reach of the side between its ends; a pixel more covers rounding.
  const double r = reach + 1;
  const bool unclamped = samplesUnclamped(w, {cmath_vect{from.x - r * n.x, from.y - r * n.y},
                                              cmath_vect{from.x + r * n.x, from.y + r * n.y},
                                              cmath_vect{to.x - r * n.x, to.y - r * n.y},
                                              cmath_vect{to.x + r * n.x, to.y + r * n.y}});
  auto inkness = [&](cmath_vect p) {  // positive on the ink side of the threshold
    const double v = (unclamped ? sampleUnclamped(w, p.x, p.y) : sampleAt(w, p.x, p.y)) - threshold;
    return inkIsDark ? -v : v;
  };
  std::vector<cmath_vect> hits;
  const int samples = look.samples;
  for (int i = 0; i < samples; ++i) {
    const double part = 0.08 + 0.84 * i / (samples - 1), t = length * part;
    const double across = reachFrom == reachTo ? reachFrom : reachFrom + part * (reachTo - reachFrom);
    const int quarters = static_cast<int>(std::floor(2 * across / 0.25 + 1e-9));  // steps from -across to across
    const cmath_vect base{from.x + t * u.x, from.y + t * u.y};
    auto inknessAt = [&](int q) {
      const double s = -across + 0.25 * q;
      return inkness(cmath_vect{base.x + s * n.x, base.y + s * n.y});
    };
    double step = 0;
    if (firstCrossing(inknessAt, quarters, &step)) {
      const double at = -across + 0.25 * step;
      hits.push_back(cmath_vect{base.x + at * n.x, base.y + at * n.y});
    }
  }
  if (hits.size() < 8) return false;
  EdgeLine best{};
  const size_t bestCount = consensusLine(hits, length, from, look.passFrom, &best);
  if (bestCount < std::max<size_t>(6, hits.size() / 4)) return false;
  // Least squares over the agreeing crossings (orthogonal fit through their centroid).
  std::vector<cmath_vect> inliers;
  for (const cmath_vect& h : hits)
    if (offLine(best, h) <= 1.0) inliers.push_back(h);
  return fitLine(inliers, edge);
}

}  // namespace

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

namespace {

// How far a fit of the far sides may look and move. The strict rules trust the located L: both
// located sides solid, the far corner a modest correction away. The loose rules take a located
// corner that may be any of the symbol's four: its two sides need only show the quiet zone
// outside and some ink inside (an alternating side is half ink), and the far corner of a
// parallelogram on a symbol seen at a steep angle lies up to half a side from the true one.
struct FarSideRules {
  bool solidL;       // both located sides must be solid (ink just inside nearly everywhere)
  // How far across each far side to look, as parts of the shorter side: at the located end of
  // the far side and at the far corner. The far side meets its located neighbour near a true
  // corner, and strays from the parallelogram's side more and more towards the far corner;
  // looking no further than that keeps clutter beyond the quiet zone out of the measure.
  double reachAtEnd, reachAtFarCorner;
  double limitPart;  // how far a corner may move, as a part of the shorter side
  // The longest located side over the shorter. Beyond 7 : 1 lie only the longest rectangles,
  // which come square from the turned views; bars and lines of text make most such candidates.
  double maxAspect;
  // Lines across each far side. The loose fit only has to bring the far corner within reach of
  // the border check, which the fit of all four sides then sharpens: half as many do.
  int samples;
  // The measured edge must pass near the far side's located end (see FarSideLook): with the
  // reach growing towards the far corner, a line of clutter beyond the quiet zone comes within
  // it there, and must not pass for the side.
  bool passNearEnd;
};
constexpr FarSideRules kStrictRules{true, 0.3, 0.3, 0.4, std::numeric_limits<double>::infinity(),
                                    kFarSideSamples, false};
constexpr FarSideRules kLooseRules{false, 0.1, 0.5, 0.6, 7.0, kFarSideSamples / 2, true};
static_assert(kStrictRules.samples <= kFarSideSamples && kLooseRules.samples <= kFarSideSamples,
              "the crossings of a side fit one block");

// Grey levels just inside (offset 1.0) and just outside (offset -1.5) the two located sides,
// 16 points on each, between a tenth and nine tenths of the side.
struct SideSamples {
  double inside[32];
  double outside[32];
};

SideSamples sampleLocatedSides(const cimg_windowConst& w, cmath_vect k, cmath_vect a, cmath_vect b, cmath_vect centre) {
  SideSamples out{};
  int j = 0;
  for (const cmath_vect& end : {a, b}) {
    const double len = distance(k, end);
    const cmath_vect u{(end.x - k.x) / len, (end.y - k.y) / len};
    cmath_vect n{-u.y, u.x};
    if ((centre.x - k.x) * n.x + (centre.y - k.y) * n.y < 0) n = {-n.x, -n.y};
    for (int i = 0; i < 16; ++i, ++j) {
      const double t = len * (0.1 + 0.8 * i / 15);
      const cmath_vect p{k.x + t * u.x, k.y + t * u.y};
      out.inside[j] = sampleAt(w, p.x + n.x, p.y + n.y);
      out.outside[j] = sampleAt(w, p.x - 1.5 * n.x, p.y - 1.5 * n.y);
    }
  }
  return out;
}

// Ink and light levels of a located corner whose sides may be solid or alternating: light is the
// quiet zone outside both; ink is the mean of the inside samples lying beyond the inside mean,
// away from light (all of a solid side's, the ink modules of an alternating one). False when the
// quiet zone does not show along nearly all of both sides, or too little ink lies inside them.
bool looseLevels(const SideSamples& s, double* ink, double* light) {
  double outsideSum = 0, insideSum = 0;
  for (int i = 0; i < 32; ++i) {
    outsideSum += s.outside[i];
    insideSum += s.inside[i];
  }
  const double lightLevel = outsideSum / 32, insideMean = insideSum / 32;
  const double sign = insideMean < lightLevel ? -1 : 1;  // ink lies this way from light
  double inkSum = 0;
  int inkCount = 0;
  for (const double v : s.inside)
    if (sign * (v - insideMean) >= 0) {
      inkSum += v;
      ++inkCount;
    }
  if (inkCount == 0) return false;
  const double inkLevel = inkSum / inkCount;
  if (std::fabs(inkLevel - lightLevel) < 15) return false;
  const double mid = (inkLevel + lightLevel) / 2;
  // Each side: light outside nearly everywhere, ink inside at a quarter of its points or more
  // (an alternating side shows half).
  for (int side = 0; side < 2; ++side) {
    int darkOutside = 0, inkInside = 0;
    for (int i = 16 * side; i < 16 * side + 16; ++i) {
      darkOutside += sign * (s.outside[i] - mid) >= 0;
      inkInside += sign * (s.inside[i] - mid) > 0;
    }
    if (darkOutside > 2 || inkInside < 4) return false;
  }
  *ink = inkLevel;
  *light = lightLevel;
  return true;
}

// Whether the inside of the parallelogram on corner k and its sides' ends a and b holds both
// ink and light: a symbol's data modules are about half ink, where bars, blocks and the strokes
// of large print that show a corner with a quiet zone are ink through and through. A grid of
// 4 x 4 points over the middle; at least three of each kind.
bool mixedInside(const cimg_windowConst& w, cmath_vect k, cmath_vect a, cmath_vect b, double ink, double light) {
  const double mid = (ink + light) / 2, sign = ink < light ? -1 : 1;
  int inkPoints = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      const double s = 0.2 + 0.2 * i, t = 0.2 + 0.2 * j;
      const double x = k.x + s * (a.x - k.x) + t * (b.x - k.x), y = k.y + s * (a.y - k.y) + t * (b.y - k.y);
      inkPoints += sign * (sampleAt(w, x, y) - mid) > 0;
    }
  return inkPoints >= 3 && inkPoints <= 13;
}

// The two sides through corners[2] measured in the image and the corners rebuilt from them and
// the two located sides through corners[0] (see fitFarSides, fitFourthCorner).
bool fitFarSidesBy(const cimg_windowConst& w, const FarSideRules& rules, std::array<cmath_vect, 4>* corners) {
  const cmath_vect k = (*corners)[0], a = (*corners)[1], d = (*corners)[2], b = (*corners)[3];
  const double sideA = distance(k, a), sideB = distance(k, b);
  if (!(sideA > 8 && sideB > 8) || std::max(sideA, sideB) > rules.maxAspect * std::min(sideA, sideB)) return false;
  const cmath_vect centre{(k.x + a.x + b.x + d.x) / 4, (k.y + a.y + b.y + d.y) / 4};
  double ink = 0, light = 0;
  if (rules.solidL) {
    // Ink and light levels from the solid sides: just inside and just outside them, over the
    // middle of each.
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
    ink = (level(k, a, 1.0) + level(k, b, 1.0)) / 2;
    light = (level(k, a, -1.5) + level(k, b, -1.5)) / 2;
    if (std::fabs(ink - light) < 15) return false;
    // Only a solid L is worth measuring further: along both sides, ink just inside and light just
    // outside nearly everywhere. Most candidates among clutter and noise end here, cheaply.
    const double mid = (ink + light) / 2, inkSign = ink < light ? -1 : 1;
    const SideSamples samples = sampleLocatedSides(w, k, a, b, centre);
    int wrong = 0;
    for (int i = 0; i < 32; ++i) {
      wrong += inkSign * (samples.inside[i] - mid) <= 0;
      wrong += inkSign * (samples.outside[i] - mid) >= 0;
    }
    if (wrong > 6) return false;
  } else if (!looseLevels(sampleLocatedSides(w, k, a, b, centre), &ink, &light) ||
             !mixedInside(w, k, a, b, ink, light)) {
    return false;
  }
  // Far side 1 runs from a to d (opposite located side 2), far side 2 from b to d.
  const double shorter = std::min(sideA, sideB);
  const double reachFrom = std::max(3.0, rules.reachAtEnd * shorter);
  const double reachTo = std::max(3.0, rules.reachAtFarCorner * shorter);
  EdgeLine far1, far2;
  const cmath_vect into1{k.x - a.x, k.y - a.y}, into2{k.x - b.x, k.y - b.y};
  const FarSideLook look{reachFrom, reachTo, rules.samples,
                         rules.passNearEnd ? reachFrom : std::numeric_limits<double>::infinity()};
  if (!measureFarSide(w, a, d, into1, look, ink, light, &far1)) return false;
  if (!measureFarSide(w, b, d, into2, look, ink, light, &far2)) return false;
  const EdgeLine side1{k, cmath_vect{(a.x - k.x) / sideA, (a.y - k.y) / sideA}};
  const EdgeLine side2{k, cmath_vect{(b.x - k.x) / sideB, (b.y - k.y) / sideB}};
  cmath_vect a2, b2, d2;
  if (!crossing(side1, far1, &a2) || !crossing(side2, far2, &b2) || !crossing(far1, far2, &d2)) return false;
  // The located corner and its sides are trusted, the far sides may move, within the rules.
  const double limit = rules.limitPart * std::min(sideA, sideB);
  if (distance(a2, a) > limit || distance(b2, b) > limit || distance(d2, d) > limit) return false;
  *corners = {k, a2, d2, b2};
  return true;
}

// The levels of a located side that should be solid: ink just inside and light just outside at
// 16 points over its middle, nearly all of them clearly so. False for anything less.
bool solidSideLevels(const cimg_windowConst& w, cmath_vect k, cmath_vect end, cmath_vect inward, double* ink,
                     double* light) {
  const double len = distance(k, end);
  if (!(len > 8)) return false;
  const cmath_vect u{(end.x - k.x) / len, (end.y - k.y) / len};
  cmath_vect n{-u.y, u.x};
  if (n.x * inward.x + n.y * inward.y < 0) n = {-n.x, -n.y};
  double inside[16], outside[16], inSum = 0, outSum = 0;
  for (int i = 0; i < 16; ++i) {
    const double t = len * (0.1 + 0.8 * i / 15);
    const cmath_vect p{k.x + t * u.x, k.y + t * u.y};
    inside[i] = sampleAt(w, p.x + n.x, p.y + n.y);
    outside[i] = sampleAt(w, p.x - 1.5 * n.x, p.y - 1.5 * n.y);
    inSum += inside[i];
    outSum += outside[i];
  }
  *ink = inSum / 16;
  *light = outSum / 16;
  if (std::fabs(*ink - *light) < 15) return false;
  const double mid = (*ink + *light) / 2, inkSign = *ink < *light ? -1 : 1;
  int wrong = 0;
  for (int i = 0; i < 16; ++i)
    wrong += (inkSign * (inside[i] - mid) <= 0) + (inkSign * (outside[i] - mid) >= 0);
  return wrong <= 2;
}

}  // namespace

bool remeasureSecondSide(const cimg_windowConst& w, std::array<cmath_vect, 4>* corners) {
  const cmath_vect k = (*corners)[0];
  for (const int trusted : {1, 3}) {
    const int other = 4 - trusted;
    const cmath_vect t = (*corners)[trusted], o = (*corners)[other];
    double ink = 0, light = 0;
    const cmath_vect towardsOther{o.x - k.x, o.y - k.y}, towardsTrusted{t.x - k.x, t.y - k.y};
    if (!solidSideLevels(w, k, t, towardsOther, &ink, &light)) continue;
    // The side is looked for from just off the corner, which lies on it, to a fifth of the
    // trusted side out at its far end: a few degrees of error, as the search's second side makes
    // on a steep keystone.
    const double reachTo = std::max(3.0, 0.2 * distance(k, t));
    const FarSideLook look{3.0, reachTo, kFarSideSamples / 2, 3.0};
    EdgeLine measured;
    if (!measureFarSide(w, k, o, towardsTrusted, look, ink, light, &measured)) continue;
    const double trustedLength = distance(k, t);
    const EdgeLine trustedSide{k, cmath_vect{towardsTrusted.x / trustedLength, towardsTrusted.y / trustedLength}};
    cmath_vect corner;
    if (!crossing(trustedSide, measured, &corner) || distance(corner, k) > 3.0) continue;
    // The other side's end moved onto the measured line, as far along it as it was located.
    const double along = (o.x - corner.x) * measured.dir.x + (o.y - corner.y) * measured.dir.y;
    const cmath_vect end{corner.x + along * measured.dir.x, corner.y + along * measured.dir.y};
    std::array<cmath_vect, 4> moved = *corners;
    moved[0] = corner;
    moved[other] = end;
    moved[2] = cmath_vect{t.x + end.x - corner.x, t.y + end.y - corner.y};
    *corners = moved;
    return true;
  }
  return false;
}

// A parallelogram cannot follow a keystone: the far corner of a symbol seen at an angle lies off
// the parallelogram's. The two far sides are measured in the image and the corners rebuilt from
// them and the solid sides. corners: L corner, end of solid side 1, far corner, end of solid
// side 2 (the road's order). False when the image does not show the far sides clearly.
bool fitFarSides(const cimg_windowConst& w, std::array<cmath_vect, 4>* corners) {
  return fitFarSidesBy(w, kStrictRules, corners);
}

bool fitFourthCorner(const cimg_windowConst& w, std::array<cmath_vect, 4>* corners) {
  return fitFarSidesBy(w, kLooseRules, corners);
}

}  // namespace dmroad
