#include "reader/oned/extrema.hpp"

#include <algorithm>
#include <cmath>

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
    const double position = steepest(p, a, b);
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
