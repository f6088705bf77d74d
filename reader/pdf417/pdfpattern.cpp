// The pattern locator's first stage: lines across the image, runs along each, the start and
// stop patterns among the runs.
#include "reader/pdf417/pdfpattern.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "reader/geometry.hpp"
#include "reader/pdf417/pdfcheck.hpp"
#include "reader/pdf417/pdfcolumns.hpp"
#include "reader/pdf417/pdfroad.hpp"
#include "reader/roadbase.hpp"

namespace pdfroad {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStep = 0.5;         // sampling step along a line, pixels: a 1.5-pixel module is 3 samples
constexpr int kHalfWindow = 80;       // samples each side over which a line's threshold is taken (40 px)
constexpr double kMinModule = 1.1;    // narrowest module matched, pixels
constexpr double kQuietModules = 1.5; // space before the start pattern and after the stop pattern
constexpr int kStart[] = {8, 1, 1, 1, 1, 1, 1, 3};
constexpr int kStop[] = {7, 1, 1, 3, 1, 1, 1, 2, 1};

// Runs along one line read one way: run i spans [edges[i], edges[i + 1]) in samples and is dark
// when dark[i]. The first and last runs are cut by the line's ends.
struct Runs {
  std::vector<double> edges;
  std::vector<char> dark;
  size_t count() const { return dark.size(); }
  double width(size_t i) const { return edges[i + 1] - edges[i]; }
};

// Buffers of the extremes, per thread and kept, as a scan runs them for thousands of lines.
// Reached once per call through work(): in a shared library every access to a thread_local
// costs a call to find it.
struct ExtremesWork {
  std::vector<float> low, high, loFwd, loBack, hiFwd, hiBack, lowest, highest;
};
// Kept out of line so that the compiler takes the address once rather than at every access.
[[gnu::noinline]] ExtremesWork& work() {
  thread_local ExtremesWork w;
  return w;
}

// Minimum and maximum of v over [i - kHalfWindow, i + kHalfWindow] (cut at the ends) for every i,
// by van Herk and Gil-Werman: in blocks as long as the window, running extremes from each
// block's start and from its end; every window spans at most two blocks, whose halves it joins.
// Branch-free, unlike a monotone queue whose pops follow the data.
void windowExtremes(const std::vector<float>& v, std::vector<float>* lowest, std::vector<float>* highest) {
  constexpr int kWindow = 2 * kHalfWindow + 1;
  const int n = static_cast<int>(v.size());
  // low and high are v padded so that window i is [i, i + kWindow - 1] of them, the padding
  // never winning.
  const int padded = n + 2 * kHalfWindow;
  const int blocks = (padded + kWindow - 1) / kWindow;
  const int length = blocks * kWindow;
  ExtremesWork& w = work();
  std::vector<float>& low = w.low;
  std::vector<float>& high = w.high;
  std::vector<float>& loFwd = w.loFwd;
  std::vector<float>& loBack = w.loBack;
  std::vector<float>& hiFwd = w.hiFwd;
  std::vector<float>& hiBack = w.hiBack;
  const float inf = std::numeric_limits<float>::infinity();
  low.assign(static_cast<size_t>(length), inf);
  high.assign(static_cast<size_t>(length), -inf);
  std::copy(v.begin(), v.end(), low.begin() + kHalfWindow);
  std::copy(v.begin(), v.end(), high.begin() + kHalfWindow);
  for (auto* q : {&loFwd, &loBack, &hiFwd, &hiBack}) q->resize(static_cast<size_t>(length));
  for (int start = 0; start < length; start += kWindow) {
    float lo = inf, hi = -inf;
    for (int j = start; j < start + kWindow; ++j) {
      lo = std::min(lo, low[j]);
      hi = std::max(hi, high[j]);
      loFwd[j] = lo;
      hiFwd[j] = hi;
    }
    lo = inf;
    hi = -inf;
    for (int j = start + kWindow - 1; j >= start; --j) {
      lo = std::min(lo, low[j]);
      hi = std::max(hi, high[j]);
      loBack[j] = lo;
      hiBack[j] = hi;
    }
  }
  lowest->resize(static_cast<size_t>(n));
  highest->resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    (*lowest)[i] = std::min(loBack[i], loFwd[i + kWindow - 1]);
    (*highest)[i] = std::max(hiBack[i], hiFwd[i + kWindow - 1]);
  }
}

// Thresholds halfway between the darkest and lightest samples within kHalfWindow, held where
// that span is below minContrast (inside a wide bar, on plain background) so a flat stretch
// keeps the class it had. Samples before the first usable threshold are left out.
Runs runsOf(const std::vector<float>& v, double minContrast) {
  Runs runs;
  const int n = static_cast<int>(v.size());
  ExtremesWork& w = work();
  std::vector<float>& lowest = w.lowest;
  std::vector<float>& highest = w.highest;
  windowExtremes(v, &lowest, &highest);
  double threshold = -1;
  bool prevDark = false;
  for (int i = 0; i < n; ++i) {
    const double a = lowest[i], b = highest[i];
    if (b - a >= minContrast) threshold = (a + b) / 2;
    if (threshold < 0) continue;
    const bool isDark = v[i] < threshold;
    if (runs.dark.empty()) {
      runs.edges.push_back(i);
      runs.dark.push_back(isDark);
    } else if (isDark != prevDark) {
      // The crossing between the two samples, by linear interpolation.
      const double d = v[i] - v[i - 1];
      const double f = d != 0 ? std::clamp((threshold - v[i - 1]) / d, 0.0, 1.0) : 0.5;
      runs.edges.push_back(i - 1 + f);
      runs.dark.push_back(isDark);
    }
    prevDark = isDark;
  }
  if (!runs.dark.empty()) runs.edges.push_back(n - 1);
  return runs;
}

Runs reversedRuns(const Runs& r, double last) {
  Runs out;
  out.edges.assign(r.edges.rbegin(), r.edges.rend());
  for (double& e : out.edges) e = last - e;
  out.dark.assign(r.dark.rbegin(), r.dark.rend());
  return out;
}

// Whether runs k, k + 1, ... have the pattern's widths, bar first; module receives the
// pattern's mean module in samples. Narrow elements may be off by a little over half a module
// (blur moves both edges of a narrow element), the wide bar by a module and a half.
template <size_t N>
bool matchesAt(const Runs& r, size_t k, bool barDark, const int (&pattern)[N], double* module) {
  // The runs before and after the pattern must be there too (quiet zone, row indicator).
  if (k == 0 || k + N >= r.count() || static_cast<bool>(r.dark[k]) != barDark) return false;
  int modules = 0;
  for (int p : pattern) modules += p;
  const double m = (r.edges[k + N] - r.edges[k]) / modules;
  if (m * kStep < kMinModule) return false;
  for (size_t j = 0; j < N; ++j) {
    const double slack = pattern[j] >= 7 ? 1.5 : 0.45 + 0.1 * pattern[j];
    if (std::fabs(r.width(k + j) / m - pattern[j]) > slack) return false;
  }
  *module = m;
  return true;
}

struct LineFrame {
  cmath_vect origin, dir;  // sample s lies at origin + s * kStep * dir
  int family, line;
  double last;             // index of the last sample
};

void matchLine(const Runs& runs, const LineFrame& f, bool reversed, std::vector<PatternHit>* hits) {
  const double sign = reversed ? -1 : 1;
  auto at = [&](double s) {
    const double t = (reversed ? f.last - s : s) * kStep;
    return cmath_vect{f.origin.x + t * f.dir.x, f.origin.y + t * f.dir.y};
  };
  for (bool barDark : {true, false})
    for (size_t k = 1; k + 1 < runs.count(); ++k) {
      if (static_cast<bool>(runs.dark[k]) != barDark) continue;
      PatternHit h;
      h.family = f.family;
      h.line = f.line;
      h.lightBars = !barDark;
      h.reversed = reversed;
      h.dir = cmath_vect{sign * f.dir.x, sign * f.dir.y};
      double m;
      if (matchesAt(runs, k, barDark, kStart, &m) && runs.width(k - 1) >= kQuietModules * m) {
        h.edge = at(runs.edges[k]);
        h.wideBar = at((runs.edges[k] + runs.edges[k + 1]) / 2);
        h.module = m * kStep;
        hits->push_back(h);
      } else if (matchesAt(runs, k, barDark, kStop, &m) && k + 9 < runs.count() &&
                 runs.width(k + 9) >= kQuietModules * m) {
        h.stop = true;
        h.edge = at(runs.edges[k + 9]);
        h.wideBar = at((runs.edges[k] + runs.edges[k + 1]) / 2);
        h.module = m * kStep;
        hits->push_back(h);
      }
    }
}

}  // namespace

std::vector<PatternHit> scanPatterns(const cimg_windowConst& w, const PatternScan& scan) {
  std::vector<PatternHit> hits;
  // Lines stay a pixel inside the window, where bilinear samples need no clamping.
  const double x0 = 1, y0 = 1, x1 = w.width - 1.0, y1 = w.height - 1.0;
  if (x1 - x0 < 16 || y1 - y0 < 16 || scan.spacing <= 0) return hits;
  std::vector<float> profile;
  for (int family = 0; family < scan.families; ++family) {
    const double angle = kPi * family / scan.families;
    const cmath_vect d{std::cos(angle), std::sin(angle)}, n{-d.y, d.x};
    // Offsets along the normal that the window's corners span.
    double omin = 1e300, omax = -1e300;
    for (double cx : {x0, x1})
      for (double cy : {y0, y1}) {
        omin = std::min(omin, cx * n.x + cy * n.y);
        omax = std::max(omax, cx * n.x + cy * n.y);
      }
    int line = 0;
    for (double o = omin + scan.spacing / 2; o < omax; o += scan.spacing, ++line) {
      // Clip origin + t d to the window, one slab per axis.
      const cmath_vect base{o * n.x, o * n.y};
      double t0 = -1e300, t1 = 1e300;
      const double lo[2] = {x0, y0}, hi[2] = {x1, y1}, b[2] = {base.x, base.y}, dd[2] = {d.x, d.y};
      for (int a = 0; a < 2; ++a) {
        if (std::fabs(dd[a]) < 1e-12) {
          if (b[a] < lo[a] || b[a] > hi[a]) {
            t0 = 1;
            t1 = 0;
          }
          continue;
        }
        double ta = (lo[a] - b[a]) / dd[a], tb = (hi[a] - b[a]) / dd[a];
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
      }
      if (!(t1 - t0 > 40)) continue;
      LineFrame f{{base.x + t0 * d.x, base.y + t0 * d.y}, d, family, line, 0};
      const int samples = static_cast<int>((t1 - t0) / kStep) + 1;
      profile.resize(static_cast<size_t>(samples));
      for (int s = 0; s < samples; ++s)
        profile[s] = static_cast<float>(
            dmroad::sampleUnclamped(w, f.origin.x + s * kStep * d.x, f.origin.y + s * kStep * d.y));
      f.last = samples - 1;
      const Runs runs = runsOf(profile, scan.minContrast);
      if (runs.count() < 12) continue;
      matchLine(runs, f, false, &hits);
      matchLine(reversedRuns(runs, f.last), f, true, &hits);
    }
  }
  return hits;
}

csys_status findByPatterns(const cimg_imageConst& image, const cimg_windowConst& searched, const PatternScan& scan,
                           cid_mask* mask, Outcome* out) {
  const std::vector<PatternHit> hits = scanPatterns(searched, scan);
  const std::vector<PatternFind> finds = outlinesFromHits(searched, scan, hits);
  int taken = -1;  // group of the last candidate taken
  for (const PatternFind& f : finds) {
    if (f.group == taken) continue;
    cmath_vect centre{0, 0};
    for (const cmath_vect& c : f.corners) {
      centre.x += c.x / 4;
      centre.y += c.y / 4;
    }
    bool claimed = false;
    for (const cmath_vect& p : {centre, f.startMiddle, f.stopMiddle}) {
      uint32_t masked = 0;
      const csys_status st = cid_mask_isPointUnMasked(mask, &p, nullptr, &masked);
      if (CSYS_FAILED(st)) return st;
      claimed = claimed || masked != 0;
    }
    if (claimed) continue;
    Symbol s;
    s.corners = f.corners;
    s.parallelogram = 0;
    s.score = f.hits;
    if (!hasPdf417Pattern(image, &s.corners)) {
      ++out->rejected;
      continue;
    }
    taken = f.group;
    out->symbols.push_back(s);
    const csys_status st = road::claim(mask, s.corners, false);
    if (CSYS_FAILED(st)) return st;
  }
  return 0;
}

}  // namespace pdfroad
