#include "reader/oned/road1dbands.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

#include "reader/oned/addon.hpp"

namespace road1d {

namespace {

// The read's box in r's frame: its corners' least and greatest along and across.
struct ReadExtent {
  double alongLo = 1e300, alongHi = -1e300, acrossLo = 1e300, acrossHi = -1e300;
};

ReadExtent extentOf(const Region& r, const Symbol& s) {
  ReadExtent e;
  for (const std::array<double, 2>& c : s.corners) {
    const double along = (c[0] - r.cx) * r.dx + (c[1] - r.cy) * r.dy;
    const double across = -(c[0] - r.cx) * r.dy + (c[1] - r.cy) * r.dx;
    e.alongLo = std::min(e.alongLo, along);
    e.alongHi = std::max(e.alongHi, along);
    e.acrossLo = std::min(e.acrossLo, across);
    e.acrossHi = std::max(e.acrossHi, across);
  }
  return e;
}

constexpr double kLowestRest = 2 * kCell;  // lower than bars a region's cells gather

// The read's first and last bar in the region's frame, each along as a straight function of
// across through its ends at the box's two sides (perspective tilts them).
struct BarEnds {
  double across0 = 0, start0 = 0, end0 = 0;  // at across0
  double startSlope = 0, endSlope = 0;       // along per pixel across
  double startAt(double a) const { return start0 + startSlope * (a - across0); }
  double endAt(double a) const { return end0 + endSlope * (a - across0); }
};

BarEnds barEnds(const Region& r, const Symbol& s) {
  std::array<double, 4> along{}, across{};
  for (size_t k = 0; k < 4; ++k) {
    const double px = s.corners[k][0] - r.cx, py = s.corners[k][1] - r.cy;
    along[k] = px * r.dx + py * r.dy;
    across[k] = -px * r.dy + py * r.dx;
  }
  // Corners: first bar at one side, last bar there, first bar at the other side, last bar there.
  BarEnds b;
  b.across0 = across[0];
  b.start0 = along[0];
  b.end0 = along[1];
  const double height = across[2] - across[0];
  if (std::fabs(height) > 1) {
    b.startSlope = (along[2] - along[0]) / height;
    b.endSlope = (along[3] - along[1]) / height;
  }
  return b;
}

// n greys over the read's bars at across, first bar to last.
std::vector<double> barsProfile(const cimg_windowConst& w, const Region& r, const BarEnds& b, double across, int n) {
  std::vector<double> p(static_cast<size_t>(n));
  const double from = b.startAt(across), to = b.endAt(across);
  for (int i = 0; i < n; ++i) {
    const double along = from + (to - from) * (i + 0.5) / n;
    p[static_cast<size_t>(i)] = sampleGrey(w, r.cx + r.dx * along - r.dy * across, r.cy + r.dy * along + r.dx * across);
  }
  return p;
}

// Pearson's correlation of two profiles of one length; 0 where either is flat.
double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ma += a[i];
    mb += b[i];
  }
  ma /= n;
  mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return saa > 1e-9 && sbb > 1e-9 ? sab / std::sqrt(saa * sbb) : 0;
}

}  // namespace

double ownBarsReach(const cimg_windowConst& w, const Region& r, const Symbol& s, double edge, int side, double limit) {
  constexpr double kStepAcross = 3;    // pixels between the profiles compared
  constexpr double kInside = 2;        // the reference lies this far inside the box
  constexpr double kSameBars = 0.5;    // correlation above which a profile shows the read's bars
  const BarEnds b = barEnds(r, s);
  const double length = std::fabs(b.endAt(edge) - b.startAt(edge));
  if (!(length >= 8) || !(limit > 0)) return 0;
  // Two samples a pixel: the narrowest bars read are a pixel wide.
  const int n = static_cast<int>(std::min(8192.0, 2 * length));
  const std::vector<double> reference = barsProfile(w, r, b, edge - side * kInside, n);
  double reach = 0;
  for (double d = kStepAcross; d <= limit; d += kStepAcross) {
    if (correlation(reference, barsProfile(w, r, b, edge + side * d, n)) < kSameBars) break;
    reach = d;
  }
  return reach;
}

namespace {

bool covers(const Region& o, const Region& r) {
  constexpr double kSlack = 3;      // pixels
  constexpr double kSameWay = 0.2;  // sine of about 12 degrees
  if (std::fabs(o.dx * r.dy - o.dy * r.dx) > kSameWay) return false;
  bool inside = true;
  for (const double along : {r.alongMin, r.alongMax})
    for (const double across : {r.acrossMin, r.acrossMax}) {
      const double x = r.cx + r.dx * along - r.dy * across - o.cx, y = r.cy + r.dy * along + r.dx * across - o.cy;
      const double a = x * o.dx + y * o.dy, c = -x * o.dy + y * o.dx;
      inside = inside && a >= o.alongMin - kSlack && a <= o.alongMax + kSlack && c >= o.acrossMin - kSlack &&
               c <= o.acrossMax + kSlack;
    }
  return inside;
}

}  // namespace

bool shrinkToBarCells(const BarCells& cells, Region& band) {
  constexpr int kFewest = 3;  // cells: a region gathers no fewer
  if (band.groups.empty()) return true;
  // Cells whose centres lie in the band a quarter of a cell or more from its edges across (a
  // cell straddling its edge may be bars of the read's).
  const double acrossMin = band.acrossMin + 0.25 * kCell, acrossMax = band.acrossMax - 0.25 * kCell;
  if (acrossMin > acrossMax) return false;
  double xMin = 1e300, xMax = -1e300, yMin = 1e300, yMax = -1e300;
  for (const double along : {band.alongMin, band.alongMax})
    for (const double across : {acrossMin, acrossMax}) {
      const double x = band.cx + band.dx * along - band.dy * across, y = band.cy + band.dy * along + band.dx * across;
      xMin = std::min(xMin, x);
      xMax = std::max(xMax, x);
      yMin = std::min(yMin, y);
      yMax = std::max(yMax, y);
    }
  const int c0 = std::max(0, static_cast<int>(std::floor(xMin / kCell))), c1 = std::min(cells.cols - 1, static_cast<int>(xMax / kCell));
  const int r0 = std::max(0, static_cast<int>(std::floor(yMin / kCell))), r1 = std::min(cells.rows - 1, static_cast<int>(yMax / kCell));
  int found = 0;
  double lo = 1e300, hi = -1e300, acrossLo = 1e300, acrossHi = -1e300;
  for (int row = r0; row <= r1; ++row)
    for (int col = c0; col <= c1; ++col) {
      const int group = cells.group[static_cast<size_t>(row) * cells.cols + col];
      if (group < 0 || std::find(band.groups.begin(), band.groups.end(), group) == band.groups.end()) continue;
      const double x = (col + 0.5) * kCell - band.cx, y = (row + 0.5) * kCell - band.cy;
      const double along = x * band.dx + y * band.dy, across = -x * band.dy + y * band.dx;
      if (along < band.alongMin || along > band.alongMax || across < acrossMin || across > acrossMax) continue;
      ++found;
      lo = std::min(lo, along);
      hi = std::max(hi, along);
      acrossLo = std::min(acrossLo, across);
      acrossHi = std::max(acrossHi, across);
    }
  if (found < kFewest) return false;
  // Over the cells found and the half cell about their centres.
  band.alongMin = std::max(band.alongMin, lo - 0.5 * kCell);
  band.alongMax = std::min(band.alongMax, hi + 0.5 * kCell);
  band.acrossMin = std::max(band.acrossMin, acrossLo - 0.5 * kCell);
  band.acrossMax = std::min(band.acrossMax, acrossHi + 0.5 * kCell);
  return band.acrossMax - band.acrossMin >= std::max(kLowestRest, band.lowestLabel);
}

bool overlapsRead(const Region& r, const Symbol& s) {
  const ReadExtent e = extentOf(r, s);
  return e.alongLo <= r.alongMax && e.alongHi >= r.alongMin && e.acrossLo <= r.acrossMax && e.acrossHi >= r.acrossMin;
}

bool sameAsAny(const Region& r, const std::vector<Region>& others) {
  for (const Region& o : others)
    if (covers(o, r) && covers(r, o)) return true;
  return false;
}

bool trimOwnBars(const cimg_windowConst& w, const Region& r, const Symbol& s, Region& band) {
  // A label beside a read is about as tall as the read's bars (its box and their run past it);
  // a band lower than most of that holds text or a fragment.
  constexpr double kLowestLabel = 0.7;
  // A band below the read (towards acrossMax) starts where the read's bars stop, one above ends there.
  const bool below = band.acrossMax >= r.acrossMax;
  const double edge = below ? band.acrossMin : band.acrossMax;
  const double reach = ownBarsReach(w, r, s, edge, below ? 1 : -1, band.acrossMax - band.acrossMin);
  (below ? band.acrossMin : band.acrossMax) += below ? reach : -reach;
  const ReadExtent e = extentOf(r, s);
  band.lowestLabel = std::max(kLowestRest, kLowestLabel * (e.acrossHi - e.acrossLo + reach));
  return band.acrossMax - band.acrossMin >= band.lowestLabel;
}

namespace {

// The read's add-on lies past its last bar and was read with it: the part beyond the read begins
// past the add-on's farthest end, else the add-on alone would make a region of its own, tried
// every way, the slowest too, for nothing.
void pastAddOn(const Region& r, const Symbol& s, double* lo, double* hi) {
  const int modules = oned::eanUpcModules(s.symbology);
  if (s.addOn.empty() || modules == 0) return;
  auto along = [&](const std::array<double, 2>& c) { return (c[0] - r.cx) * r.dx + (c[1] - r.cy) * r.dy; };
  // Reading runs from corner 0 (the first bar) to corner 1 (the last).
  const double first = along(s.corners[0]), last = along(s.corners[1]);
  const double reach = std::fabs(last - first) / modules * oned::addOnReachModules(s.addOn.size());
  if (last >= first) *hi += reach;
  else *lo -= reach;
}

}  // namespace

// The parts of a region beyond the symbol read in it, each long enough to hold another: a joined
// region can hold labels that stand in a row, or one above the other, a gap apart, and its read
// names only one of them. Along, the parts before and after the read; across, the bands beside
// it over the region's whole length.
std::vector<Region> beyondRead(const Region& r, const Symbol& s) {
  constexpr double kShortestRest = 3 * kCell;  // shorter than any symbol with its quiet zones
  const ReadExtent e = extentOf(r, s);
  double lo = e.alongLo, hi = e.alongHi, acrossLo = e.acrossLo, acrossHi = e.acrossHi;
  pastAddOn(r, s, &lo, &hi);
  // Only parts shorter than the region by a cell at least: a read whose lines ran past the
  // region's ends (or lay beside them) left the same region again, read over and over without end.
  const double length = r.alongMax - r.alongMin, height = r.acrossMax - r.acrossMin;
  lo = std::clamp(lo, r.alongMin, r.alongMax);
  hi = std::clamp(hi, r.alongMin, r.alongMax);
  acrossLo = std::clamp(acrossLo, r.acrossMin, r.acrossMax);
  acrossHi = std::clamp(acrossHi, r.acrossMin, r.acrossMax);
  std::vector<Region> rest;
  if (lo - r.alongMin > length - kCell || r.alongMax - hi > length - kCell) return rest;
  if (lo - r.alongMin >= kShortestRest) {
    Region before = r;
    before.alongMax = lo;
    rest.push_back(before);
  }
  if (r.alongMax - hi >= kShortestRest) {
    Region after = r;
    after.alongMin = hi;
    rest.push_back(after);
  }
  if (acrossLo - r.acrossMin > height - kCell || r.acrossMax - acrossHi > height - kCell) return rest;
  if (acrossLo - r.acrossMin >= kLowestRest) {
    Region beside = r;
    beside.besideRead = true;
    beside.pieces.clear();  // the region's pieces run over the read as well: read again, they read it again
    beside.acrossMax = acrossLo;
    rest.push_back(beside);
  }
  if (r.acrossMax - acrossHi >= kLowestRest) {
    Region beside = r;
    beside.besideRead = true;
    beside.pieces.clear();
    beside.acrossMin = acrossHi;
    rest.push_back(beside);
  }
  return rest;
}

// A region parted across at the place given (NaN: not parted), when both parts are tall enough
// to hold bars of their own; each part is lower than the region by that much, so parting ends.
std::vector<Region> partedAcross(const Region& r, double at) {
  constexpr double kLowestPart = 2 * kCell;
  if (!(at - r.acrossMin >= kLowestPart && r.acrossMax - at >= kLowestPart)) return {};
  Region first = r, second = r;
  first.pieces.clear();
  second.pieces.clear();
  first.acrossMax = at;
  second.acrossMin = at;
  return {first, second};
}

}  // namespace road1d
