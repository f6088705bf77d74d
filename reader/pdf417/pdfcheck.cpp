// The PDF417 road's check of a find: the start or the stop pattern along the rows.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "reader/geometry.hpp"
#include "reader/pdf417/pdfcheck.hpp"

namespace pdfroad {

namespace {

using dmroad::sampleAt;

constexpr int kLines = 9;          // lines across the rows, evenly spread over the symbol
constexpr double kStep = 0.5;      // profile sampling step, pixels
constexpr int kMinEach = 2;        // lines that must show the start pattern, and the stop pattern
constexpr int kMinBoth = 5;        // lines showing either, counted once for each
constexpr int kMinWhole = 5;       // lines showing both
constexpr int kStart[] = {8, 1, 1, 1, 1, 1, 1, 3};     // bar first; 17 modules
constexpr int kStop[] = {7, 1, 1, 3, 1, 1, 1, 2, 1};   // bar first; 18 modules

struct Run {
  bool bar;
  double length;  // samples
};

// Runs of bar and space along a profile, bars being the dark class (or the light class for
// light-on-dark symbols). The threshold is halfway between the profile's 10th and 90th
// percentiles; an empty list when the profile shows no contrast.
std::vector<Run> runsOf(const std::vector<double>& profile, bool barsDark) {
  // The two order statistics alone, not a whole sort: the second selection searches only above
  // the first, where nth_element has left every larger value.
  std::vector<double> sorted = profile;
  const auto low = sorted.begin() + sorted.size() / 10, high = sorted.begin() + sorted.size() * 9 / 10;
  std::nth_element(sorted.begin(), low, sorted.end());
  const double lo = *low;  // read before the second selection reorders from low on
  std::nth_element(low, high, sorted.end());
  const double hi = *high;
  std::vector<Run> runs;
  if (hi - lo < 12) return runs;
  const double mid = (lo + hi) / 2;
  // Runs end where the profile crosses the threshold, between samples by linear interpolation,
  // so that modules of little more than a pixel keep their widths.
  double from = 0;
  for (size_t i = 0; i < profile.size(); ++i) {
    const bool bar = (profile[i] < mid) == barsDark;
    if (runs.empty()) {
      runs.push_back(Run{bar, 0});
    } else if (runs.back().bar != bar) {
      const double d = profile[i] - profile[i - 1];
      const double at = i - 1 + (d != 0 ? std::clamp((mid - profile[i - 1]) / d, 0.0, 1.0) : 0.5);
      runs.back().length = at - from;
      from = at;
      runs.push_back(Run{bar, 0});
    }
  }
  if (!runs.empty()) runs.back().length = profile.size() - from;
  return runs;
}

// Whether the runs from index i on have the widths of the pattern, in modules of the pattern's
// own mean width, to within a little over half a module (a module and a half for the widest
// element, which blur widens most).
template <size_t N>
bool matchesAt(const std::vector<Run>& runs, size_t i, const int (&pattern)[N]) {
  if (i + N > runs.size() || !runs[i].bar) return false;
  int modules = 0;
  double total = 0;
  for (size_t k = 0; k < N; ++k) {
    modules += pattern[k];
    total += runs[i + k].length;
  }
  const double module = total / modules;
  if (module < 1.0 / kStep) return false;  // narrower than the smallest module drawn, foreshortened
  for (size_t k = 0; k < N; ++k) {
    const double slack = pattern[k] >= 7 ? 1.5 : 0.45 + 0.1 * pattern[k];
    if (std::fabs(runs[i + k].length / module - pattern[k]) > slack) return false;
  }
  return true;
}

struct Ends {
  bool start = false, stop = false;
};

// The start pattern among the first bars of the runs, and the stop pattern among the last ones
// (the line reaches a little beyond the located sides, so a bar or two of clutter may come first).
Ends readsForward(const std::vector<Run>& runs) {
  constexpr size_t kFirstBars = 6;
  Ends ends;
  for (size_t i = 0, bars = 0; i < runs.size() && bars < kFirstBars && !ends.start; ++i) {
    if (!runs[i].bar) continue;
    ++bars;
    ends.start = matchesAt(runs, i, kStart);
  }
  constexpr size_t kStopLength = sizeof(kStop) / sizeof(kStop[0]);
  for (size_t end = runs.size(), bars = 0; end >= kStopLength && bars < kFirstBars && !ends.stop; --end) {
    if (!runs[end - 1].bar) continue;
    ++bars;
    ends.stop = matchesAt(runs, end - kStopLength, kStop);
  }
  return ends;
}

// Start and stop patterns anywhere along the runs, read this way.
int patternsAlong(const std::vector<Run>& runs) {
  int n = 0;
  for (size_t i = 0; i < runs.size(); ++i) n += matchesAt(runs, i, kStart) || matchesAt(runs, i, kStop);
  return n;
}

}  // namespace

bool hasPdf417Pattern(const cimg_imageConst& image, std::array<cmath_vect, 4>* corners) {
  cimg_windowConst w;
  if (CSYS_FAILED(cimg_windowConst_init(&w, &image))) return false;
  w.x0 = 0;
  w.y0 = 0;
  const std::array<cmath_vect, 4>& q = *corners;
  // Lines along sides (q[axis], q[axis + 1]) that show the start pattern at q[axis]'s end
  // (reversed 0) or at the other end, and lines that show the stop pattern at the far end.
  int starts[2][2] = {{0, 0}, {0, 0}}, stops[2][2] = {{0, 0}, {0, 0}};
  int whole[2][2] = {{0, 0}, {0, 0}};  // lines that show both
  for (int axis = 0; axis < 2; ++axis) {
    const cmath_vect a0 = q[axis], a1 = q[(axis + 3) % 4], b0 = q[axis + 1], b1 = q[(axis + 2) % 4];
    for (int i = 0; i < kLines; ++i) {
      const double t = (i + 0.5) / kLines;
      const cmath_vect from{a0.x + t * (a1.x - a0.x), a0.y + t * (a1.y - a0.y)};
      const cmath_vect to{b0.x + t * (b1.x - b0.x), b0.y + t * (b1.y - b0.y)};
      const double length = dmroad::distance(from, to);
      if (!(length > 20) || length > 1e5) continue;
      // A little beyond both ends: the located sides may fall short of the outer bars.
      const double reach = 2 + 0.03 * length;
      const cmath_vect u{(to.x - from.x) / length, (to.y - from.y) / length};
      std::vector<double> profile;
      for (double s = -reach; s <= length + reach; s += kStep)
        profile.push_back(sampleAt(w, from.x + s * u.x, from.y + s * u.y));
      for (bool barsDark : {true, false}) {
        std::vector<Run> runs = runsOf(profile, barsDark);
        if (runs.empty()) break;
        const Ends forward = readsForward(runs);
        int patterns = patternsAlong(runs);
        std::reverse(runs.begin(), runs.end());
        const Ends backward = readsForward(runs);
        patterns += patternsAlong(runs);
        // A line across one symbol shows one start and one stop pattern; more, and it runs on
        // into another symbol (a quadrilateral joining the sides of two), so it counts for nothing.
        if (patterns > 2) break;
        starts[axis][0] += forward.start;
        stops[axis][0] += forward.stop;
        starts[axis][1] += backward.start;
        stops[axis][1] += backward.stop;
        whole[axis][0] += forward.start && forward.stop;
        whole[axis][1] += backward.start && backward.stop;
        if (forward.start || forward.stop || backward.start || backward.stop) break;
      }
    }
  }
  // Both patterns must show, each at its own end, and both on one line more than once: a blob
  // that joins a symbol to clutter or to another symbol shows them on different lines if at all.
  int bestAxis = 0, bestReversed = 0, best = -1;
  for (int axis = 0; axis < 2; ++axis)
    for (int reversed = 0; reversed < 2; ++reversed) {
      const int votes = starts[axis][reversed] + stops[axis][reversed];
      if (starts[axis][reversed] >= kMinEach && stops[axis][reversed] >= kMinEach &&
          whole[axis][reversed] >= kMinWhole && votes > best) {
        best = votes;
        bestAxis = axis;
        bestReversed = reversed;
      }
    }
  if (best < kMinBoth) return false;
  // Left side: the start pattern's; the rows read left to right and follow one another
  // clockwise on the screen (y down), so the top left corner is the left corner from which the
  // outline turns clockwise.
  cmath_vect left0 = q[bestAxis], left1 = q[(bestAxis + 3) % 4];
  cmath_vect right0 = q[bestAxis + 1], right1 = q[(bestAxis + 2) % 4];
  if (bestReversed) std::swap(left0, right0), std::swap(left1, right1);
  const double turn = (right0.x - left0.x) * (left1.y - left0.y) - (right0.y - left0.y) * (left1.x - left0.x);
  if (turn < 0) std::swap(left0, left1), std::swap(right0, right1);
  *corners = {left0, right0, right1, left1};
  return true;
}

}  // namespace pdfroad
