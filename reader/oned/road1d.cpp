#include "reader/oned/road1d.hpp"

#include <algorithm>
#include <optional>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <utility>

#include "ci_id/caliper.h"
#include "ci_id/findbarcode.h"
#include "reader/oned/readline.hpp"
#include "reader/oned/road1dbands.hpp"
#include "reader/oned/road1dprofile.hpp"
#include "reader/oned/road1dteeth.hpp"
#include "reader/oned/road1dvotes.hpp"
#include "reader/oned/eangrid.hpp"
#include "reader/oned/extrema.hpp"

namespace road1d {

namespace {

// A region is read only when a line there shows at least kMinSymbolEdges edges: the shortest
// symbols read (Code 128 with one character, UPC-E) have about 25 elements.
constexpr int kMinSymbolEdges = 20;

}  // namespace

namespace {

using Edge = LineEdge;  // positions in samples

// Extrema of the profile's central difference above a threshold set by the profile's own
// contrast (the library's edge location on the profile rounded to bytes), alternating in sign
// (of two neighbours of one sign the stronger stays). Positions in samples.
std::vector<Edge> profileEdges(const std::vector<double>& p) {
  std::vector<Edge> edges;
  const int n = static_cast<int>(p.size());
  if (n < 5) return edges;
  std::vector<double> sorted = p;
  std::nth_element(sorted.begin(), sorted.begin() + n * 97 / 100, sorted.end());
  const double high = sorted[n * 97 / 100];
  std::nth_element(sorted.begin(), sorted.begin() + n * 3 / 100, sorted.begin() + n * 97 / 100);
  const double contrast = high - sorted[n * 3 / 100];
  const int32_t threshold = static_cast<int32_t>(std::max(4.0, 0.12 * contrast) + 0.5);
  std::vector<uint8_t> bytes(n);
  for (int i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(std::clamp(p[i] + 0.5, 0.0, 255.0));
  std::vector<int32_t> values(n), positions(n);
  int32_t count = 0;
  if (CSYS_FAILED(cidut_lineEdgeLoc(bytes.data(), n, n, threshold, 0, 1.0, values.data(), positions.data(), &count)))
    return edges;
  for (int32_t k = 0; k < count; ++k) {
    // The library measures centred samples (sample i covers [i, i + 1)); ours sit at i.
    const Edge e{positions[k] / 256.0 - 0.5, values[k] > 0, std::fabs(static_cast<double>(values[k]))};
    if (!edges.empty() && edges.back().rising == e.rising) {
      if (e.strength > edges.back().strength) edges.back() = e;
      continue;
    }
    edges.push_back(e);
  }
  return edges;
}

}  // namespace

namespace {

// The profile convolved with a Gaussian of sigma samples, its ends held at their values.
std::vector<double> smoothed(const std::vector<double>& p, double sigma) {
  if (!(sigma > 0.3)) return p;
  const int radius = static_cast<int>(std::ceil(3 * sigma)), n = static_cast<int>(p.size());
  std::vector<double> kernel(2 * radius + 1);
  double total = 0;
  for (int k = -radius; k <= radius; ++k) total += kernel[k + radius] = std::exp(-0.5 * k * k / (sigma * sigma));
  std::vector<double> out(n);
  // Near the ends the taps are clamped; in between, the same sums in the same order without the
  // clamps, which are most of the cost.
  auto clampedAt = [&](int i) {
    double acc = 0;
    for (int k = -radius; k <= radius; ++k) acc += kernel[k + radius] * p[std::clamp(i + k, 0, n - 1)];
    return acc / total;
  };
  const int innerBegin = std::min(radius, n), innerEnd = std::max(innerBegin, n - radius);
  for (int i = 0; i < innerBegin; ++i) out[i] = clampedAt(i);
  for (int i = innerBegin; i < innerEnd; ++i) {
    const double* window = p.data() + (i - radius);
    double acc = 0;
    for (int k = 0; k <= 2 * radius; ++k) acc += kernel[k] * window[k];
    out[i] = acc / total;
  }
  for (int i = innerEnd; i < n; ++i) out[i] = clampedAt(i);
  return out;
}

// Each edge moved to where the profile crosses the level halfway between the extremes on either
// side of it (between its neighbouring edges): on elements of a pixel or two the slopes of
// neighbouring edges overlap and pull the gradient peaks together, while the crossing of the
// local mid-level stays where the element boundary is.
void refineAtMidLevel(const std::vector<double>& p, std::vector<Edge>& edges) {
  const int n = static_cast<int>(p.size());
  std::vector<double> moved(edges.size());
  for (size_t k = 0; k < edges.size(); ++k) {
    const int at = static_cast<int>(edges[k].position + 0.5);
    const int lo = k > 0 ? static_cast<int>(edges[k - 1].position + 0.5) : std::max(0, at - 8);
    const int hi = k + 1 < edges.size() ? static_cast<int>(edges[k + 1].position + 0.5) : std::min(n - 1, at + 8);
    moved[k] = edges[k].position;
    if (lo >= at || hi <= at) continue;
    // The extreme before the edge and the one after it: a minimum and a maximum for a rising edge.
    const double sign = edges[k].rising ? 1 : -1;
    double before = sign * p[at], after = sign * p[at];
    for (int i = lo; i <= at; ++i) before = std::min(before, sign * p[i]);
    for (int i = at; i <= hi; ++i) after = std::max(after, sign * p[i]);
    const double level = 0.5 * (before + after);
    // The crossing nearest the gradient peak.
    double best = 1e9;
    for (int i = lo; i < hi; ++i) {
      const double a = sign * p[i] - level, b = sign * p[i + 1] - level;
      if (!(a < 0 && b >= 0)) continue;
      const double x = i + a / (a - b);
      if (std::fabs(x - edges[k].position) < std::fabs(best - edges[k].position)) best = x;
    }
    if (std::fabs(best - edges[k].position) < 2 / kStep) moved[k] = best;
  }
  for (size_t k = 0; k < edges.size(); ++k) edges[k].position = moved[k];
}

}  // namespace

namespace {

// Where a line runs inside the image, in samples from its start (kStep apart): before enter and
// after exit its samples repeat the border's pixels. enter is 0 where the line starts inside,
// exit at or past the last sample where it ends inside; a line wholly outside has no span.
struct ImageSpan {
  double enter = 0, exit = 0;
};

ImageSpan imageSpan(const cimg_windowConst& w, double x0, double y0, double x1, double y1) {
  // The line clipped to the window's rectangle [0, width] x [0, height]: t from 0 to 1 along it.
  const double dx = x1 - x0, dy = y1 - y0;
  double t0 = 0, t1 = 1;
  auto clip = [&](double p, double q) {  // keeps the t where p t <= q
    if (p == 0) {
      if (q < 0) t1 = -1;
      return;
    }
    if (p < 0) t0 = std::max(t0, q / p);
    else t1 = std::min(t1, q / p);
  };
  clip(-dx, x0);
  clip(dx, w.width - x0);
  clip(-dy, y0);
  clip(dy, w.height - y0);
  if (t1 <= t0) return {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  const double samples = std::hypot(dx, dy) / kStep;
  return {t0 * samples, t1 * samples};
}

// A read's first or last bar is a dark run cut by the image border, its light beyond the border.
constexpr int kBorderBarFirst = 1, kBorderBarLast = 2;

// rawEdges, when given, are the unsmoothed profile's edges of the kind how takes (its extremes'
// edges, or its gradient peaks), taken once for every way that wants them. span, when given,
// tells where the line crosses the image border: a dark run the border cuts becomes a bar with
// the light beyond the border before (after) it, and borderBars says which ends are such bars.
std::vector<double> profileWidths(const std::vector<double>& profile, const Profile& how,
                                  std::vector<double>* positions, const std::vector<Edge>* rawEdges = nullptr,
                                  const ImageSpan* span = nullptr, int* borderBars = nullptr) {
  std::vector<double> widths;
  if (positions) positions->clear();
  if (borderBars) *borderBars = 0;
  if (profile.empty()) return widths;
  const int n = static_cast<int>(profile.size());
  const bool raw = !(how.smoothing / kStep > 0.3);
  const std::vector<double> smooth = raw ? std::vector<double>() : smoothed(profile, how.smoothing / kStep);
  const std::vector<double>& p = raw ? profile : smooth;
  std::vector<Edge> edges = raw && rawEdges ? *rawEdges : how.extrema ? oned::extremaEdges(p) : profileEdges(p);
  if (how.midLevel) refineAtMidLevel(p, edges);
  // Merging by teeth on the raw profile's edges reads what the smoothed profiles read as well,
  // at a quarter more time a line: so it runs only on the smoothest, the last way tried.
  if (how.teeth) edges = mergedByTeeth(edges);
  // Light first: drop a leading rising edge (its dark run has no start) and a trailing falling one,
  // unless the image border cuts that dark run: a symbol printed or cropped right up to the
  // border has its outermost bar there, and what lies beyond is taken for its quiet zone (the
  // road trusts such a read only from symbologies whose ends a cut cannot imitate).
  double lead = 0;
  if (!edges.empty() && edges.front().rising) {
    if (span && span->enter > 0 && edges.front().position > span->enter) {
      edges.insert(edges.begin(), Edge{span->enter, false, 0});
      if (borderBars) *borderBars |= kBorderBarFirst;
    } else {
      lead = edges.front().position;
      edges.erase(edges.begin());
    }
  }
  double tail = n - 1;
  if (!edges.empty() && !edges.back().rising) {
    if (span && span->exit < n - 1 && edges.back().position < span->exit) {
      edges.push_back(Edge{span->exit, true, 0});
      if (borderBars) *borderBars |= kBorderBarLast;
    } else {
      tail = edges.back().position;
      edges.pop_back();
    }
  }
  if (edges.empty()) return widths;
  widths.push_back((edges.front().position - lead) * kStep);
  for (size_t i = 1; i < edges.size(); ++i) widths.push_back((edges[i].position - edges[i - 1].position) * kStep);
  widths.push_back((tail - edges.back().position) * kStep);
  if (positions)
    for (const Edge& e : edges) positions->push_back(e.position * kStep);
  return widths;
}

}  // namespace

std::vector<double> lineWidths(const cimg_windowConst& w, double x0, double y0, double x1, double y1,
                               std::vector<double>* positions, double smoothing, bool midLevel) {
  return profileWidths(lineProfile(w, x0, y0, x1, y1), Profile{smoothing, midLevel}, positions);
}

std::vector<double> lineWidths(const cimg_windowConst& w, double x0, double y0, double x1, double y1,
                               std::vector<double>* positions, const Profile& how) {
  return profileWidths(lineProfile(w, x0, y0, x1, y1, how.halfHeight), how, positions);
}

namespace {

// EAN/UPC on the module grid, the ends placed by the profile's alternating extremes.
std::vector<oned::GridRead> gridReads(const std::vector<double>& profile, const std::vector<Edge>& extrema) {
  std::vector<double> dark, light;
  for (const Edge& e : extrema) (e.rising ? light : dark).push_back(e.position);
  return oned::readEanOnGrid(profile, dark, light);
}

// Whether a read may take the image border for a quiet zone. A symbol cut by the border has bars
// at the cut that are not its ends; Code 39's '*' and Code 128's and Code 93's starts and stops
// with their checks are not imitated by the bars of a cut, while ITF's four narrow elements, the
// EAN/UPC guards and Codabar's ends are, and a cut one of those reads as a shorter symbol.
bool mayEndAtBorder(oned::Symbology s) {
  using oned::Symbology;
  return s == Symbology::code39 || s == Symbology::code32 || s == Symbology::pzn || s == Symbology::code128 ||
         s == Symbology::code93;
}

// How far a line runs on past the image border it crosses head-on (pixels; the larger of the
// two). Beyond a left or right border a line of near-horizontal bars' profile repeats the border
// column, where it slides only slowly: a near-flat run that a cut symbol needs as its quiet zone
// (a few modules), and that is otherwise a third of a photograph's samples, read by every way.
// Past the top or bottom border the same line slides along the border row, which still crosses
// the bars, and is sampled on to its end.
constexpr double kMinBeyondBorder = 24;
constexpr double kBeyondBorderShare = 0.12;  // of the region's length: ten modules of an EAN-13 filling it
constexpr double kMaxBorderSlide = 0.36;     // tan 20 degrees: the slide along the border a pixel beyond it

// The stretch [s0, s1] of the line through (ox, oy) along (dx, dy) from a0 to a1 that runs at
// most `beyond` pixels past the border it crosses head-on, its ends moved in by whole samples so
// that the samples kept lie where they lay on the whole line. The whole line when it runs
// diagonally or passes that border's span by.
std::pair<double, double> clippedToBorder(const cimg_windowConst& w, double ox, double oy, double dx, double dy,
                                          double a0, double a1, double beyond) {
  const bool acrossColumns = std::fabs(dx) >= std::fabs(dy);
  const double major = acrossColumns ? dx : dy, minor = acrossColumns ? dy : dx;
  if (!(std::fabs(minor) <= kMaxBorderSlide * std::fabs(major))) return {a0, a1};
  // Where the line is within the image's extent along the major axis, in along units.
  const double origin = acrossColumns ? ox : oy, extent = acrossColumns ? w.width : w.height;
  double enter = (0 - origin) / major, exit = (extent - origin) / major;
  if (enter > exit) std::swap(enter, exit);
  const double lastSample = std::floor((a1 - a0) / kStep);
  const double skip = std::floor((enter - beyond - a0) / kStep), keep = std::ceil((exit + beyond - a0) / kStep);
  const double s0 = skip > 0 ? a0 + skip * kStep : a0;
  const double s1 = keep < lastSample ? a0 + keep * kStep : a1;
  // A line that passes the image by (a small image, a region's outermost line) keeps its length.
  if (!(s1 - s0 > 4 * kStep)) return {a0, a1};
  return {s0, s1};
}

// The samples before begin and from end on held within the grey range of those between. A line
// runs past its region's ends, often off the label onto a lighter page (a sheet's white between
// its images); the page's step there has the sense of the first bar's edge and is stronger than a
// faint symbol's edges, so of the two the step would be kept and the quiet zone taken into the
// first bar. Held to the symbol's own range, the page is only more quiet zone.
void holdOutsideToRange(std::vector<double>& p, int begin, int end) {
  const int n = static_cast<int>(p.size());
  begin = std::clamp(begin, 0, n);
  end = std::clamp(end, begin, n);
  if (end - begin < 2) return;
  const auto [lo, hi] = std::minmax_element(p.begin() + begin, p.begin() + end);
  const double low = *lo, high = *hi;
  for (int i = 0; i < begin; ++i) p[i] = std::clamp(p[i], low, high);
  for (int i = end; i < n; ++i) p[i] = std::clamp(p[i], low, high);
}

bool nothingRead(const std::vector<std::vector<LineRead>>& perLine) {
  for (const std::vector<LineRead>& line : perLine)
    if (!line.empty()) return false;
  return true;
}

size_t readCount(const std::vector<std::vector<LineRead>>& perLine) {
  size_t n = 0;
  for (const std::vector<LineRead>& line : perLine) n += line.size();
  return n;
}

// What each way read on each line of a pass (unread: not tried there), kept for the denser pass
// that follows: its every third line is one of these lines.
using WayReads = std::vector<std::optional<std::vector<LineRead>>>;

// One pass over a region: how many lines, the ways of reading them in the order tried, and
// whether a denser pass follows; the pass tells which ways added a read, and keeps what each way
// read on each line.
struct Pass {
  int lines = 0;
  std::vector<size_t> ways;
  // Lines that agree but lie too close together to decide are left to the denser pass, which
  // sets lines between them, rather than read the later ways here.
  bool denseFollows = false;
  std::vector<size_t> readingWays;
  std::vector<WayReads> readsByLine;
  // The sparser pass's readsByLine: line k = 3j + 1 of this pass is its line j, whose reads are
  // taken as they are rather than sampled and read again.
  const std::vector<WayReads>* sparser = nullptr;
};

// The reads of one region on the pass's lines: its lines, their reads, and the text most of them
// agree on. The ways of reading a line are tried in turn over all lines, the next only while the
// votes do not decide. *read tells whether out holds a symbol; when it does not, *mostAgreeing is
// the most lines that read one text there. A stop request polled before each line is returned.
csys_status readRegionOnLines(const cimg_windowConst& w, const Region& r, const Options& options, Pass& pass,
                              Symbol& out, bool* read, double* splitAcross, int* mostAgreeing) {
  const int lines = pass.lines;
  *read = false;
  *mostAgreeing = 0;
  *splitAcross = std::nan("");
  const double length = r.alongMax - r.alongMin;
  const double reach = std::max(24.0, 0.35 * length);
  const double a0 = r.alongMin - reach, a1 = r.alongMax + reach;
  std::vector<std::vector<double>> profiles(lines);
  std::vector<ImageSpan> spans(lines);
  // Each line's profile's extremes' edges, taken when a way first wants them.
  std::vector<std::vector<Edge>> extrema(lines);
  std::vector<char> haveExtrema(lines, 0);
  auto extremaOf = [&](int k) -> const std::vector<Edge>& {
    if (!haveExtrema[k]) extrema[k] = oned::extremaEdges(profiles[k]);
    haveExtrema[k] = 1;
    return extrema[k];
  };
  // And its gradient peaks, which the first two ways both start from.
  std::vector<std::vector<Edge>> peaks(lines);
  std::vector<char> havePeaks(lines, 0);
  auto peaksOf = [&](int k) -> const std::vector<Edge>& {
    if (!havePeaks[k]) peaks[k] = profileEdges(profiles[k]);
    havePeaks[k] = 1;
    return peaks[k];
  };
  std::vector<std::vector<LineRead>> perLine(lines);
  auto acrossOf = [&](int k) { return r.acrossMin + (r.acrossMax - r.acrossMin) * (k + 0.5) / lines; };
  Votes votes;
  const double inside0 = a0 + reach / 2, inside1 = a1 - reach / 2;
  std::vector<double> sampledAt(lines, -1.0);  // the half height line k's profile was sampled at
  // Where each line's profile starts along the region (a0, or later where the line starts far
  // outside the image).
  std::vector<double> lineStart(lines, a0);
  const double beyond = std::max(kMinBeyondBorder, kBeyondBorderShare * length);
  auto sampleLine = [&](int k, double halfHeight) {
    sampledAt[k] = halfHeight;
    const double across = acrossOf(k), ox = r.cx - r.dy * across, oy = r.cy + r.dx * across;
    const auto [s0, s1] = clippedToBorder(w, ox, oy, r.dx, r.dy, a0, a1, beyond);
    lineStart[k] = s0;
    const double x0 = ox + r.dx * s0, y0 = oy + r.dy * s0, x1 = ox + r.dx * s1, y1 = oy + r.dy * s1;
    profiles[k] = lineProfile(w, x0, y0, x1, y1, halfHeight);
    spans[k] = imageSpan(w, x0, y0, x1, y1);
    holdOutsideToRange(profiles[k], roundNonNegative(std::max(0.0, r.alongMin - s0) / kStep),
                       roundNonNegative(std::max(0.0, r.alongMax - s0) / kStep));
    haveExtrema[k] = havePeaks[k] = 0;
  };
  // First the first way's profiles of every third line, and on each the edges of the most
  // sensitive way: a region where none of them shows enough inside it (and half the reach either
  // side) for the shortest symbol is text or clutter, and no way reads there. A symbol that two
  // lines can read spans more than a third of its region's lines, so the lines tried cross it
  // (most regions are clutter: two thirds of their profiles are spared).
  // A denser pass's probed lines are the sparser pass's lines, which showed enough edges.
  if (options.profiles.empty()) return 0;
  auto probed = [&](int k) { return lines < 3 || k % 3 == 1; };
  const bool carrying = pass.sparser != nullptr && 3 * static_cast<int>(pass.sparser->size()) == lines;
  int mostEdges = carrying ? kMinSymbolEdges : 0;
  for (int k = 0; k < lines && !carrying; ++k) {
    if (!probed(k)) continue;
    if (const csys_status st = csys_attention_check(); CSYS_FAILED(st)) return st;
    sampleLine(k, options.profiles[0].halfHeight);
    int inside = 0;
    for (const Edge& e : extremaOf(k)) {
      const double along = lineStart[k] + e.position * kStep;
      inside += along >= inside0 && along <= inside1 ? 1 : 0;
    }
    mostEdges = std::max(mostEdges, inside);
  }
  if (mostEdges < kMinSymbolEdges) return 0;
  // The sparser pass's reads of line k the way given, when it read that line that way.
  auto carried = [&](int k, size_t way) -> const std::vector<LineRead>* {
    if (!carrying || k % 3 != 1) return nullptr;
    const WayReads& byWay = (*pass.sparser)[static_cast<size_t>(k / 3)];
    return way < byWay.size() && byWay[way] ? &*byWay[way] : nullptr;
  };
  pass.readsByLine.assign(lines, WayReads(options.profiles.size()));
  // Line k's reads the way given.
  auto waysReads = [&](int k, size_t way) {
    std::vector<LineRead> found;
    const double across = acrossOf(k);
    const Profile& how = options.profiles[way];
    if (how.grid) {
      for (const oned::GridRead& g : gridReads(profiles[k], extremaOf(k)))
        found.push_back(LineRead{g.read, lineStart[k] + g.start * kStep, lineStart[k] + g.end * kStep, across, k});
      return found;
    }
    std::vector<double> positions;
    const bool raw = !(how.smoothing / kStep > 0.3);
    int borderBars = 0;
    const std::vector<double> widths = profileWidths(
        profiles[k], how, &positions, !raw ? nullptr : how.extrema ? &extremaOf(k) : &peaksOf(k), &spans[k], &borderBars);
    const int lastBar = static_cast<int>(widths.size()) - 2;
    for (const oned::Read& read : oned::readLine(widths, options.read)) {
      const bool atBorder = ((borderBars & kBorderBarFirst) && read.firstElement == 1) ||
                            ((borderBars & kBorderBarLast) && read.lastElement == lastBar);
      if (atBorder && !mayEndAtBorder(read.symbology)) continue;
      // Element i (i >= 1) lies between edges i - 1 and i.
      const double s = lineStart[k] + positions[read.firstElement - 1], e = lineStart[k] + positions[read.lastElement];
      found.push_back(LineRead{read, s, e, across, k});
    }
    return found;
  };
  // Line k's reads the way given, into perLine: the sparser pass's where it read the line so,
  // else read here (a carried line sampled first, at the way's height); nothing when this pass
  // read it so already (a band's probed lines are read by the first ways before all its lines).
  auto readWay = [&](int k, size_t way) {
    if (pass.readsByLine[k][way]) return;
    const std::vector<LineRead>* before = carried(k, way);
    std::vector<LineRead> found;
    if (before == nullptr) {
      if (carrying && k % 3 == 1 && sampledAt[k] != options.profiles[way].halfHeight)
        sampleLine(k, options.profiles[way].halfHeight);
      found = waysReads(k, way);
    }
    for (LineRead lr : before != nullptr ? *before : found) {
      lr.line = k;
      if (!readAlready(perLine[k], lr)) perLine[k].push_back(lr);
    }
    pass.readsByLine[k][way] = before != nullptr ? *before : std::move(found);
  };
  // Most bands beside a read hold its digits, or bars of labels cut off by the photograph's edge:
  // a band is read on its probed lines first, by the ways on the profiles at hand but the grid,
  // and given up when none of them reads anything there.
  if (r.besideRead) {
    for (size_t way = 0; way < options.profiles.size() && !options.profiles[way].grid &&
                         options.profiles[way].halfHeight == options.profiles[0].halfHeight;
         ++way)
      for (int k = 0; k < lines; ++k) {
        if (!probed(k)) continue;
        if (const csys_status st = csys_attention_check(); CSYS_FAILED(st)) return st;
        readWay(k, way);
      }
    if (nothingRead(perLine)) return 0;
  }
  for (int k = 0; k < lines; ++k) {
    if (probed(k)) continue;
    if (const csys_status st = csys_attention_check(); CSYS_FAILED(st)) return st;
    sampleLine(k, options.profiles[0].halfHeight);
  }
  double sampledHalfHeight = options.profiles[0].halfHeight;
  for (size_t i = 0; i < pass.ways.size() && !decides(votes, options, r.acrossMax - r.acrossMin); ++i) {
    const size_t way = pass.ways[i];
    const bool resampled = options.profiles[way].halfHeight != sampledHalfHeight;
    if (pass.denseFollows && outvotes(votes, options)) break;
    const size_t readsBefore = readCount(perLine);
    for (int k = 0; k < lines; ++k) {
      if (const csys_status st = csys_attention_check(); CSYS_FAILED(st)) return st;
      if (resampled && !(carrying && k % 3 == 1)) sampleLine(k, options.profiles[way].halfHeight);
      readWay(k, way);
    }
    sampledHalfHeight = options.profiles[way].halfHeight;
    if (readCount(perLine) > readsBefore) pass.readingWays.push_back(way);
    votes = countVotes(perLine);
  }
  if (!decides(votes, options, r.acrossMax - r.acrossMin)) {
    *mostAgreeing = votes.best;
    // Two labels one above the other, each read on lines of its own: where to part the region.
    if (votes.splitBetween >= 0 && !votes.interleaved)
      *splitAcross = r.acrossMin + (r.acrossMax - r.acrossMin) * (0.5 * votes.splitBetween + 0.5) / lines;
    return 0;
  }
  const std::pair<int, std::string>& winner = votes.winner;
  const int best = votes.best;
  // The winner's reads at its place: a copy of the label further along is another symbol.
  std::vector<LineRead> reads;
  for (const std::vector<LineRead>& line : perLine)
    for (const LineRead& lr : line)
      if (static_cast<int>(lr.read.symbology) == winner.first && lr.read.text == winner.second &&
          overlapAlong(startOf(lr), endOf(lr), votes.start, votes.end) && lr.line >= votes.firstLine &&
          lr.line <= votes.lastLine)
        reads.push_back(lr);
  // The symbol's ends as straight lines over the across offset (perspective tilts them), fitted
  // to the agreeing lines and taken at the outermost lines' outer halves.
  double n = 0, sa = 0, saa = 0, ss = 0, sas = 0, se = 0, sae = 0;
  double acrossLo = 1e9, acrossHi = -1e9;
  bool reversed = false;
  for (const LineRead& lr : reads) {
    if (static_cast<int>(lr.read.symbology) != winner.first || lr.read.text != winner.second) continue;
    n += 1;
    sa += lr.across;
    saa += lr.across * lr.across;
    ss += lr.startAlong;
    sas += lr.across * lr.startAlong;
    se += lr.endAlong;
    sae += lr.across * lr.endAlong;
    acrossLo = std::min(acrossLo, lr.across);
    acrossHi = std::max(acrossHi, lr.across);
    reversed = lr.read.reversed;
  }
  const double det = n * saa - sa * sa;
  const double startSlope = det > 1e-9 ? (n * sas - sa * ss) / det : 0, endSlope = det > 1e-9 ? (n * sae - sa * se) / det : 0;
  const double meanAcross = sa / n;
  auto startAt = [&](double across) { return ss / n + startSlope * (across - meanAcross); };
  auto endAt = [&](double across) { return se / n + endSlope * (across - meanAcross); };
  const double pitch = (r.acrossMax - r.acrossMin) / lines;
  acrossLo -= pitch / 2;
  acrossHi += pitch / 2;
  // Read left to right with the bars upright: "bottom" lies to the right of the reading direction
  // in image coordinates (y down).
  const double bottom = reversed ? acrossLo : acrossHi, top = reversed ? acrossHi : acrossLo;
  // Positions in the region's own frame (along, across) to image pixels.
  auto at = [&](double along, double across) {
    return std::array<double, 2>{r.cx + r.dx * along - r.dy * across, r.cy + r.dy * along + r.dx * across};
  };
  auto first = [&](double across) { return reversed ? endAt(across) : startAt(across); };
  auto last = [&](double across) { return reversed ? startAt(across) : endAt(across); };
  out.corners = {at(first(bottom), bottom), at(last(bottom), bottom), at(first(top), top), at(last(top), top)};
  out.symbology = static_cast<oned::Symbology>(winner.first);
  out.text = winner.second;
  chooseAddOn(reads, winner, out);
  out.lines = lines;
  out.agreeing = best;
  *read = true;
  return 0;
}

// Lines of a region read again are at least this far apart across (pixels): the profiles average
// 3 px and more across the line, and closer lines would share their pixels, so that one flaw of
// the print read as a text twice would count as two lines agreeing.
constexpr double kMinDenseLinePitch = 4;

// A region's reads. Where its lines fall across the symbol follows from the cells its region was
// gathered from, and so from how the cell grid lies over the image: a symbol readable only along a
// band narrower than the lines' pitch (a crease, a glare, a part cut off) is crossed there by one
// line at one placement of the grid and by none at another. When a line read a text and no
// text was agreed on, the region is read again on three times as many lines (as far as they keep
// kMinDenseLinePitch apart), voting as before: the band is crossed by two lines or more wherever
// the grid put the region's edges. Two labels one above the other keep the first lines' verdict:
// the region is parted between them.
csys_status readRegion(const cimg_windowConst& w, const Region& r, const Options& options, Symbol& out, bool* read,
                       double* splitAcross) {
  const int lines = std::max(1, options.linesPerRegion);
  const int dense = std::min(3 * lines, static_cast<int>((r.acrossMax - r.acrossMin) / kMinDenseLinePitch));
  Pass first;
  first.lines = lines;
  for (size_t way = 0; way < options.profiles.size(); ++way) first.ways.push_back(way);
  first.denseFollows = dense > lines;
  int mostAgreeing = 0;
  const csys_status st = readRegionOnLines(w, r, options, first, out, read, splitAcross, &mostAgreeing);
  if (CSYS_FAILED(st) || *read || mostAgreeing < 1 || !std::isnan(*splitAcross) || dense <= lines) return st;
  // The ways that read something on the first lines go first on the dense ones: on a blurred
  // photograph often only the last way reads, and the others would be read three times over.
  Pass second;
  second.lines = dense;
  second.sparser = &first.readsByLine;
  second.ways = first.readingWays;
  for (size_t way : first.ways)
    if (std::find(second.ways.begin(), second.ways.end(), way) == second.ways.end()) second.ways.push_back(way);
  double denseSplit = 0;
  return readRegionOnLines(w, r, options, second, out, read, &denseSplit, &mostAgreeing);
}

}  // namespace

namespace {

// The library's single-symbol finder measures the bars crossing the image centre; its rectangle
// (image coordinates with pixel centres on whole numbers) becomes one more region, a band across
// the whole image along the reading direction, unless a region found already runs the same way
// through that point. Returns csys_errNoMemory when the finder ran out of memory; any other
// failure of it (an outline it could not follow on an odd image) only means one region fewer.
csys_status addCentreRegion(const cimg_imageConst& image, const cimg_windowConst& w, std::vector<Region>& regions) {
  cmath_shapeAffineRect rect;
  int32_t found = 0;
  cmath_shapeAffineRectCenter c;
  const csys_status st = cid2d_findOneBarcode(&image, &rect, &found);
  if (st == csys_errNoMemory) return st;
  if (CSYS_FAILED(st) || !found || CSYS_FAILED(cmath_shapeAffineRect_getCenter(&rect, &c))) return 0;
  Region r;
  r.cx = c.center.x + 0.5;
  r.cy = c.center.y + 0.5;
  r.dx = std::cos(c.xRotation);
  r.dy = std::sin(c.xRotation);
  if (r.cx < 0 || r.cy < 0 || r.cx > w.width || r.cy > w.height) return 0;
  for (const Region& o : regions)
    if (runsThrough(o, r)) return 0;
  r.alongMin = -0.5 * c.xLength;
  r.alongMax = 0.5 * c.xLength;
  r.acrossMin = -2.0 * kCell;
  r.acrossMax = 2.0 * kCell;
  regions.push_back(r);
  return 0;
}

// The whole image as one region along its length (turned by `turn` radians about its centre),
// when it is at least twice as long as it is thick and from `thinnest` to under `thickest` thick.
// False when the image is not such a strip.
bool addStripRegion(const cimg_windowConst& w, double thinnest, double thickest, double turn,
                    std::vector<Region>& regions) {
  auto thick = [&](int t) { return t >= thinnest && t < thickest; };
  const bool wide = thick(w.height) && w.width >= 2 * w.height && w.width >= 16;
  const bool tall = thick(w.width) && w.height >= 2 * w.width && w.height >= 16;
  if (!wide && !tall) return false;
  Region r;
  r.cx = 0.5 * w.width;
  r.cy = 0.5 * w.height;
  r.dx = wide ? std::cos(turn) : -std::sin(turn);
  r.dy = wide ? std::sin(turn) : std::cos(turn);
  const double length = wide ? w.width : w.height, thickness = wide ? w.height : w.width;
  r.alongMin = -0.5 * length;
  r.alongMax = 0.5 * length;
  r.acrossMin = -0.5 * thickness;
  r.acrossMax = 0.5 * thickness;
  regions.push_back(r);
  return true;
}

// An image too thin for the direction grid to group its cells (a scanner's single line, a crop
// of a few rows) is also one region along its length.
void addStripRegions(const cimg_windowConst& w, std::vector<Region>& regions) { addStripRegion(w, 0, 3 * kCell, 0, regions); }

// A phone photograph filled by a barcode of short bars (a dozen pixels under digits, glare across
// them) shows the grid the bars' ends and the digits' strokes more than the bars, and its
// strongest regions run across the bars. Where nothing has read (no other road's symbol either:
// a frame a barcode fills holds nothing else), a frame that thin and long is read along its
// length as well; and where that does not read, turned the way whose lines cross the most edges:
// a symbol held a few degrees off the frame's axis has its short bars drift out from under a line
// along the axis (5 degrees over 200 px: 17 px), which then crosses only part of the symbol.
constexpr double kThickestFrameStrip = 10 * kCell;
constexpr double kFrameStripTurns[] = {-6, -4, -2, 2, 4, 6};  // degrees

// The most edges one of a region's lines shows over its extent (the lines placed across it as
// reading places them).
int mostEdgesAlong(const cimg_windowConst& w, const Region& r, int lines) {
  int most = 0;
  for (int k = 0; k < lines; ++k) {
    const double across = r.acrossMin + (r.acrossMax - r.acrossMin) * (k + 0.5) / lines;
    const double ox = r.cx - r.dy * across, oy = r.cy + r.dx * across;
    const std::vector<double> profile =
        lineProfile(w, ox + r.dx * r.alongMin, oy + r.dy * r.alongMin, ox + r.dx * r.alongMax, oy + r.dy * r.alongMax);
    most = std::max(most, static_cast<int>(oned::extremaEdges(profile).size()));
  }
  return most;
}

// The frame strip turned the way of kFrameStripTurns whose lines show the most edges, when they
// show more than the unturned strip's; false when none does.
bool addTurnedFrameStrip(const cimg_windowConst& w, int lines, std::vector<Region>& regions) {
  std::vector<Region> strip;
  if (!addStripRegion(w, 3 * kCell, kThickestFrameStrip, 0, strip)) return false;
  int most = mostEdgesAlong(w, strip[0], lines);
  Region best;
  bool found = false;
  for (const double degrees : kFrameStripTurns) {
    std::vector<Region> turned;
    addStripRegion(w, 3 * kCell, kThickestFrameStrip, degrees * 3.14159265358979323846 / 180, turned);
    const int edges = mostEdgesAlong(w, turned[0], lines);
    if (edges > most) most = edges, best = turned[0], found = true;
  }
  if (found) regions.push_back(best);
  return found;
}

// Whether two reads are one symbol: the same text of the same symbology, each centre within
// half the other's length (first bar to last) of the other's.
bool sameSymbol(const Symbol& a, const Symbol& b) {
  if (a.text != b.text || a.symbology != b.symbology) return false;
  auto centre = [](const Symbol& s, int k) { return 0.25 * (s.corners[0][k] + s.corners[1][k] + s.corners[2][k] + s.corners[3][k]); };
  auto length = [](const Symbol& s) { return std::hypot(s.corners[1][0] - s.corners[0][0], s.corners[1][1] - s.corners[0][1]); };
  const double apart = std::hypot(centre(a, 0) - centre(b, 0), centre(a, 1) - centre(b, 1));
  return apart < 0.5 * std::max(length(a), length(b));
}


// Whether a read's centre lies on a claimed outline: the centre finder's band and the strips run
// past the claims, and over a claimed label they read what the road is not to look for.
bool centredOnClaim(const Symbol& s, const std::vector<Outline>& claimed) {
  const double x = 0.25 * (s.corners[0][0] + s.corners[1][0] + s.corners[2][0] + s.corners[3][0]);
  const double y = 0.25 * (s.corners[0][1] + s.corners[1][1] + s.corners[2][1] + s.corners[3][1]);
  return std::any_of(claimed.begin(), claimed.end(), [&](const Outline& q) { return withinOutline(q, x, y, 0); });
}

}  // namespace

// The most the image is shrunk by for symbols of wide modules.
constexpr int kMaxShrink = 8;

Outcome findAll(const cimg_imageConst& image, const Options& options) {
  Outcome outcome;
  cimg_windowConst w;
  if (CSYS_FAILED(outcome.status = cimg_windowConst_init(&w, &image))) return outcome;
  BarCells cells;
  std::vector<Region> regions = findRegions(w, options.maxCandidates, &cells, options.claimed);
  if (CSYS_FAILED(outcome.status = csys_attention_check())) return outcome;
  if (options.centreFinder && CSYS_FAILED(outcome.status = addCentreRegion(image, w, regions))) return outcome;
  addStripRegions(w, regions);
  outcome.regions = static_cast<int>(regions.size());
  std::vector<Region> bandsSeen, bandsQueued;  // the bands beside reads, before trimming and as read
  // Where nothing reads, the regions the image shrunk to half its size adds are read in turn, and
  // so on while it is large enough (modules up to a cell and a half wide at each size).
  // The grid's regions at each size, gathered only once a shrunk image is searched (most images
  // read before): the first ones are regions' own first ones, which reading only appends to.
  const size_t firstFound = regions.size();
  int frameStrips = 0;  // frame strips read so far: along the frame, then turned
  std::vector<Region> found;
  ShrunkImage shrunk;
  for (size_t i = 0;; ++i) {
    bool exhausted = false;
    while (i == regions.size() && !exhausted) {
      const int factor = shrunk.factor;
      if (outcome.symbols.empty() && options.claimed.empty() && frameStrips < 2) {
        // The strip along the frame first, then turned the way its lines cross most edges.
        const bool added = frameStrips == 0 ? addStripRegion(w, 3 * kCell, kThickestFrameStrip, 0, regions)
                                            : addTurnedFrameStrip(w, options.linesPerRegion, regions);
        frameStrips = added ? frameStrips + 1 : 2;
        outcome.regions = static_cast<int>(regions.size());
        if (i < regions.size()) continue;
      }
      std::vector<Region> more;
      if (outcome.symbols.empty() && factor < kMaxShrink) {
        if (factor == 1) found.assign(regions.begin(), regions.begin() + static_cast<std::ptrdiff_t>(firstFound));
        if (CSYS_FAILED(outcome.status = regionsShrunkAgain(w, shrunk, options.maxCandidates, options.claimed, found, more)))
          return outcome;
      }
      exhausted = shrunk.factor == factor;  // something read, or the image too small to shrink again
      found.insert(found.end(), more.begin(), more.end());
      regions.insert(regions.end(), more.begin(), more.end());
      outcome.regions = static_cast<int>(regions.size());
    }
    if (exhausted) break;
    const Region r = regions[i];  // a copy: reading appends to regions
    // The centre finder's band and the strips are not made of cells: they may lie on a claim.
    if (!options.claimed.empty() && insideClaimed(r, options.claimed, kCell)) continue;
    Symbol s;
    bool read = false;
    double splitAcross = 0;
    if (CSYS_FAILED(outcome.status = readRegion(w, r, options, s, &read, &splitAcross))) return outcome;
    if (!read) {
      const std::vector<Region> parts = r.piecesApart ? std::vector<Region>() : partedAcross(r, splitAcross);
      regions.insert(regions.end(), parts.begin(), parts.end());
      if (parts.empty()) regions.insert(regions.end(), r.pieces.begin(), r.pieces.end());
      continue;
    }
    // One symbol is often read from several regions (its pieces, the centre finder's band, a
    // part beyond another read), each giving the same bands beside it again.
    for (Region& rest : beyondRead(r, s)) {
      // Pieces side by side across are queued below once, as the whole was read; kept by the
      // parts beyond the read, every part's read would queue them again.
      if (r.piecesApart) {
        rest.pieces.clear();
        rest.piecesApart = false;
      }
      if (rest.besideRead) {
        if (sameAsAny(rest, bandsSeen)) continue;
        bandsSeen.push_back(rest);
        if (!trimOwnBars(w, r, s, rest) || !shrinkToBarCells(cells, rest) || sameAsAny(rest, bandsQueued)) continue;
        bandsQueued.push_back(rest);
      }
      regions.push_back(std::move(rest));
    }
    // A region joined from pieces in line names one label of them: the pieces wholly apart from
    // the read may each hold another.
    for (const Region& piece : r.pieces)
      if (!overlapsRead(piece, s)) regions.push_back(piece);
    // One symbol split into two regions reads twice: keep the first. Two labels alike are two
    // symbols, told apart by where they lie.
    bool seen = false;
    for (const Symbol& o : outcome.symbols) seen = seen || sameSymbol(o, s);
    if (!seen && !centredOnClaim(s, options.claimed)) outcome.symbols.push_back(s);
  }
  return outcome;
}

}  // namespace road1d
