// The search along a line for the ends of an EAN-13/UPC-A or a UPC-E to read on the module grid.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "reader/oned/eangrid.hpp"
#include "reader/oned/eangridlayout.hpp"

namespace oned {

namespace {

using eangrid::Layout;
using eangrid::kEan13;
using eangrid::kUpcE;

constexpr int kMaxEnds = 5;   // start and end candidates weighed on a line, each way
constexpr int kMaxPairs = 5;  // pairs of them read
// The widest UPC-E module read on the grid, in samples (2 pixels on the road's half-pixel
// profiles): blurred by half a module at most, wider modules keep their edges, and the edge
// readers read them; the grid is for the modules under two pixels, whose narrow elements blur
// away. Most pairs of ends a line of clutter offers are wider, and each would be read.
constexpr double kMaxModuleUpcE = 4;
// UPC-E's pairs of ends: the best three by their guards' fit at the blurs it is read at, and
// only those that fit a third or more as they lie (the ends of the symbols read there fitted
// 0.35 and more before their places were refined); a line of clutter holds dozens of pairs.
constexpr int kMaxPairsUpcE = 3;
constexpr double kMinEndsFitUpcE = 0.3;
// A line's edges inside a pair of ends for the pair to be read: about half a symbol's (EAN-13 has
// 58 between its ends, UPC-E 32), as blur merges the narrow elements; and for UPC-E at most a few
// more than it has, which noise may add (most pairs of a longer symbol or of clutter hold many
// more, and reading each would cost far more than the UPC-E found).
int minEdgesInside(const Layout& layout) { return layout.upce ? 16 : 28; }
int maxEdgesInside(const Layout& layout) { return layout.upce ? 36 : std::numeric_limits<int>::max(); }

// Candidate ends: edges whose light side is a long run (a quiet zone, or the line's end), the
// longest first.
std::vector<double> ends(const std::vector<double>& edges, const std::vector<double>& others, bool startSide,
                         double lineEnd) {
  struct Candidate {
    double at, run;
  };
  // The nearest edge of the other kind before a start (after an end) by binary search: a line
  // holds hundreds of edges, and trying every pair took a twentieth of the 1D road's time.
  // The edges come in order along the line, or in reverse on the backward pass: turned round
  // then rather than sorted.
  std::vector<double> sorted = others;
  if (std::is_sorted(sorted.rbegin(), sorted.rend()))
    std::reverse(sorted.begin(), sorted.end());
  else if (!std::is_sorted(sorted.begin(), sorted.end()))
    std::sort(sorted.begin(), sorted.end());
  std::vector<Candidate> c;
  for (double e : edges) {
    // The light run before a start (after an end): to the nearest edge of the other kind.
    double run = startSide ? e : lineEnd - e;
    if (startSide) {
      const auto after = std::lower_bound(sorted.begin(), sorted.end(), e);
      if (after != sorted.begin()) run = std::min(run, std::fabs(e - *(after - 1)));
    } else {
      const auto after = std::upper_bound(sorted.begin(), sorted.end(), e);
      if (after != sorted.end()) run = std::min(run, std::fabs(e - *after));
    }
    c.push_back({e, run});
  }
  std::sort(c.begin(), c.end(), [](const Candidate& a, const Candidate& b) { return a.run > b.run; });
  std::vector<double> out;
  for (size_t i = 0; i < c.size() && static_cast<int>(i) < kMaxEnds; ++i) out.push_back(c[i].at);
  return out;
}

// A line's edges in order, the median run between them, and its candidate ends, taken once for
// every layout read on the line.
struct LineEnds {
  std::vector<double> all;
  double median = 0;
  std::vector<double> starts, lastBars;
};

// Empty when the line holds too few edges for any symbol.
LineEnds lineEnds(const std::vector<double>& profile, const std::vector<double>& dark, const std::vector<double>& light) {
  LineEnds l;
  l.all = dark;
  l.all.insert(l.all.end(), light.begin(), light.end());
  std::sort(l.all.begin(), l.all.end());
  if (l.all.size() < 21) return LineEnds{};
  std::vector<double> runs;
  for (size_t i = 1; i < l.all.size(); ++i) runs.push_back(l.all[i] - l.all[i - 1]);
  std::nth_element(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(runs.size() / 2), runs.end());
  l.median = runs[runs.size() / 2];
  const double lineEnd = static_cast<double>(profile.size() - 1);
  l.lastBars = ends(light, dark, false, lineEnd);
  l.starts = ends(dark, light, true, lineEnd);
  return l;
}

// The pairs of ends worth reading: at most kMaxPairs, those whose end guards fit best, among the
// pairs whose module suits the line's elements (EAN-13's elements average 1.6 modules; blur
// merges some) and that hold enough edges for a symbol.
std::vector<std::pair<double, double>> endPairs(const std::vector<double>& profile, const LineEnds& l,
                                                const Layout& layout) {
  std::vector<std::pair<double, std::pair<double, double>>> scored;
  for (double s : l.starts)
    for (double e : l.lastBars) {
      const double module = (e - s) / layout.modules;
      if (!(module >= 1.5) || l.median < 0.8 * module || l.median > 4 * module) continue;
      if (layout.upce && module > kMaxModuleUpcE) continue;
      // The edges strictly between s and e.
      const long inside = std::lower_bound(l.all.begin(), l.all.end(), e) - std::upper_bound(l.all.begin(), l.all.end(), s);
      if (inside < minEdgesInside(layout) || inside > maxEdgesInside(layout)) continue;
      const double f = eangrid::endsFit(profile, s, e, layout);
      if (layout.upce && f < kMinEndsFitUpcE) continue;
      scored.push_back({f, {s, e}});
    }
  std::sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::pair<double, double>> out;
  const int maxPairs = layout.upce ? kMaxPairsUpcE : kMaxPairs;
  for (size_t i = 0; i < scored.size() && static_cast<int>(i) < maxPairs; ++i) out.push_back(scored[i].second);
  return out;
}

}  // namespace

std::vector<GridRead> readEanOnGrid(const std::vector<double>& profile, const std::vector<double>& darkEdges,
                                    const std::vector<double>& lightEdges) {
  std::vector<GridRead> reads;
  const double n = static_cast<double>(profile.size());
  if (profile.size() < 8) return reads;
  std::vector<double> reversed(profile.rbegin(), profile.rend());
  for (int pass = 0; pass < 2; ++pass) {
    // Backwards, a light-going edge at x is a dark-going one at n - 1 - x.
    std::vector<double> dark = darkEdges, light = lightEdges;
    if (pass == 1) {
      dark.clear();
      light.clear();
      for (double e : lightEdges) dark.push_back(n - 1 - e);
      for (double e : darkEdges) light.push_back(n - 1 - e);
    }
    const std::vector<double>& p = pass == 0 ? profile : reversed;
    // UPC-E is looked for where no EAN-13 reads: its grid fits none inside a longer symbol, whose
    // bars leave no quiet light beside it.
    bool read = false;
    const LineEnds line = lineEnds(p, dark, light);
    for (const Layout* layout : {&kEan13, &kUpcE}) {
      for (const auto& [s, e] : endPairs(p, line, *layout)) {
        GridRead r;
        if (p.size() < 8 || !(e > s) || !eangrid::readLayout(p, s, e, *layout, r)) continue;
        if (pass == 1) {
          r.read.reversed = true;
          const double a = n - 1 - r.end, b = n - 1 - r.start;
          r.start = a;
          r.end = b;
        }
        reads.push_back(r);
        read = true;
        break;
      }
      if (read) break;
    }
  }
  return reads;
}

}  // namespace oned
