#include "reader/oned/extrema.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace oned {

namespace {

// The range max - min of the profile over [i - window, i + window], every i: monotone queues of
// indices (a queue's live part is [head, tail) of an array as long as the profile, as every index
// enters it once).
std::vector<double> localRange(const std::vector<double>& p, int window) {
  const int n = static_cast<int>(p.size());
  std::vector<double> range(n);
  std::vector<int> hi(n), lo(n);
  int hiHead = 0, hiTail = 0, loHead = 0, loTail = 0;
  int next = 0;
  for (int i = 0; i < n; ++i) {
    for (; next < n && next <= i + window; ++next) {
      while (hiTail > hiHead && p[hi[hiTail - 1]] <= p[next]) --hiTail;
      hi[hiTail++] = next;
      while (loTail > loHead && p[lo[loTail - 1]] >= p[next]) --loTail;
      lo[loTail++] = next;
    }
    while (hi[hiHead] < i - window) ++hiHead;
    while (lo[loHead] < i - window) ++loHead;
    range[i] = p[hi[hiHead]] - p[lo[loHead]];
  }
  return range;
}

// The steepest point between the extremes at from and to (from < to): the peak of the slope,
// refined by a parabola through the slopes either side. A blurred edge is steepest where the
// element boundary is, whatever the camera did to the grey levels, while a crossing of the
// mid-level moves with the gamma.
double steepest(const std::vector<double>& p, int from, int to) {
  int best = from;
  double slope = -1;
  for (int i = from; i < to; ++i) {
    const double s = std::fabs(p[i + 1] - p[i]);
    if (s > slope) {
      slope = s;
      best = i;
    }
  }
  double position = best + 0.5;
  // The neighbouring slopes may lie past the extremes (an edge of a narrow element is steepest
  // next to them): read them anywhere on the profile, in the edge's direction.
  const int n = static_cast<int>(p.size());
  const double sign = p[to] > p[from] ? 1 : -1;
  if (best >= 1 && best + 2 < n) {
    const double l = sign * (p[best] - p[best - 1]), r = sign * (p[best + 2] - p[best + 1]);
    const double curve = l - 2 * slope + r;
    if (curve < 0) position += std::clamp(0.5 * (l - r) / curve, -0.5, 0.5);
  }
  return position;
}

// The part of the slope from the extreme at from to the one at to (from < to) that is the
// symbol's edge. A label on a lighter page (or beside another label) shows between the page's
// light and a bar's dark a shelf of the label's own grey: two steps, and the page's sharp one is
// often the steeper. The shelf is light when it lies above the middle of the bar's dark and the
// light inside the symbol (symbolLight), and the edge is then the step from the shelf into the
// dark; a darker shelf is part of the dark element, whose edge is the step from the light.
std::pair<int, int> symbolStep(const std::vector<double>& p, int from, int to, double symbolLight, bool falling) {
  constexpr int kMinShelf = 8;  // samples: wider than a blurred narrow element's plateau
  // A shelf lies strictly between the extremes (their own levels are too near low or high).
  if (to - from <= kMinShelf) return {from, to};
  const double swing = std::fabs(p[to] - p[from]);
  const double band = 0.1 * swing, margin = 0.2 * swing;
  const double low = std::min(p[from], p[to]), high = std::max(p[from], p[to]);
  int bestStart = -1, bestLength = 0;
  int runStart = from;
  double runLo = p[from], runHi = p[from];
  for (int i = from + 1; i <= to + 1; ++i) {
    if (i <= to && std::max(runHi, p[i]) - std::min(runLo, p[i]) <= band) {
      runLo = std::min(runLo, p[i]);
      runHi = std::max(runHi, p[i]);
      continue;
    }
    const int length = i - runStart;
    const double level = 0.5 * (runLo + runHi);
    if (length > bestLength && level > low + margin && level < high - margin) {
      bestStart = runStart;
      bestLength = length;
    }
    if (i > to) break;
    runStart = i;
    runLo = runHi = p[i];
  }
  if (bestLength < kMinShelf) return {from, to};
  const int shelfEnd = bestStart + bestLength - 1;
  double level = 0;
  for (int i = bestStart; i <= shelfEnd; ++i) level += p[i];
  level /= bestLength;
  const double dark = falling ? p[to] : p[from];
  const bool shelfLight = level > 0.5 * (dark + symbolLight);
  // Falling: light (page) at from, dark at to; rising the other way round.
  if (shelfLight == falling) return {shelfEnd, to};
  return {from, bestStart};
}

}  // namespace

std::vector<road1d::LineEdge> extremaEdges(const std::vector<double>& p, const ExtremaSettings& settings) {
  std::vector<road1d::LineEdge> edges;
  const int n = static_cast<int>(p.size());
  if (n < 5) return edges;
  const std::vector<double> range = localRange(p, std::max(1, settings.window));
  auto threshold = [&](int i) { return std::max(settings.minSwing, settings.swingFraction * range[i]); };
  // Extremes by hysteresis: positions of alternating maxima and minima.
  std::vector<int> extremes;
  int candidate = 0;
  int direction = 0;  // +1 looking for a maximum, -1 for a minimum, 0 not yet known
  for (int i = 1; i < n; ++i) {
    if (direction == 0) {
      if (p[i] - p[candidate] >= threshold(i)) {
        extremes.push_back(candidate);  // a minimum at the start
        direction = 1;
        candidate = i;
      } else if (p[candidate] - p[i] >= threshold(i)) {
        extremes.push_back(candidate);
        direction = -1;
        candidate = i;
      } else if (std::fabs(p[i] - p[0]) > std::fabs(p[candidate] - p[0])) {
        candidate = i;
      }
      continue;
    }
    if ((direction > 0 && p[i] > p[candidate]) || (direction < 0 && p[i] < p[candidate])) {
      candidate = i;
    } else if (std::fabs(p[i] - p[candidate]) >= threshold(candidate)) {
      extremes.push_back(candidate);
      direction = -direction;
      candidate = i;
    }
  }
  if (direction != 0) extremes.push_back(candidate);
  // The first extreme found at the start is no extreme when the walk had not settled yet: it is
  // kept only when the profile did move away from it by a swing.
  for (size_t k = 0; k + 1 < extremes.size(); ++k) {
    const int a = extremes[k], b = extremes[k + 1];
    const double swing = p[b] - p[a];
    if (std::fabs(swing) < threshold(a) && std::fabs(swing) < threshold(b)) continue;
    // The light inside the symbol lies beyond the dark extreme: after a falling edge, before a
    // rising one.
    const bool falling = swing < 0;
    const double symbolLight = falling ? (k + 2 < extremes.size() ? p[extremes[k + 2]] : p[a])
                                       : (k >= 1 ? p[extremes[k - 1]] : p[b]);
    const auto [from, to] = symbolStep(p, a, b, symbolLight, falling);
    const double position = steepest(p, from, std::max(to, from + 1));
    const road1d::LineEdge e{position, swing > 0, std::fabs(swing)};
    if (!edges.empty() && edges.back().rising == e.rising) {
      if (e.strength > edges.back().strength) edges.back() = e;
      continue;
    }
    edges.push_back(e);
  }
  return edges;
}

}  // namespace oned
