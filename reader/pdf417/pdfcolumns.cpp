// The pattern locator's second stage: hits grouped into columns, a line fitted down each, start
// and stop columns paired, the ends of the wide bars for the top and bottom, and the outlines of
// lone columns.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "reader/geometry.hpp"
#include "reader/pdf417/pdfcolumns.hpp"

namespace pdfroad {

namespace {

constexpr int kMinHits = 3;          // hits a column needs
constexpr size_t kFewPoints = 40;    // columns of up to this many hits try every pair for their line
constexpr double kSideShare = 0.3;   // of a start column's length that a column standing between needs
constexpr double kMinWidth = 40;     // modules between a start column and its stop column, at least
constexpr int kPairsPerStart = 3;    // stop columns tried for each start column
// A lone column's outline reaches across the widest symbol (30 data columns, 579 modules) or to
// the image's border, whichever is nearer; a reach of fewer modules than the narrowest compact
// symbol (52) is no candidate.
constexpr double kWidestModules = 579, kNarrowestModules = 52;

double cross(const cmath_vect& a, const cmath_vect& b) { return a.x * b.y - a.y * b.x; }
double dot(const cmath_vect& a, const cmath_vect& b) { return a.x * b.x + a.y * b.y; }
cmath_vect sub(const cmath_vect& a, const cmath_vect& b) { return cmath_vect{a.x - b.x, a.y - b.y}; }
cmath_vect along(const cmath_vect& p, const cmath_vect& u, double t) { return cmath_vect{p.x + t * u.x, p.y + t * u.y}; }

int keyOf(const PatternHit& h) { return ((h.family * 2 + h.stop) * 2 + h.lightBars) * 2 + h.reversed; }
cmath_vect scaled(const cmath_vect& a, double f) { return cmath_vect{a.x * f, a.y * f}; }

struct Column {
  const PatternHit* first = nullptr;  // any of its hits (family, kind, polarity, direction)
  cmath_vect dir{};                   // reading direction
  cmath_vect point{}, unit{};         // outer edge line: a point on it and its unit direction,
                                      // turned so that cross(dir, unit) > 0
  cmath_vect barPoint{};              // a point on the wide bar's centre line (parallel to unit)
  double t0 = 0, t1 = 0;              // extent of the edge points along unit from point
  double b0 = 0, b1 = 0;              // extent of the wide bar points along unit from barPoint
  double module = 0;                  // median module of the hits, along the lines
  double across = 0;                  // the module across the column (along the rows)
  int hits = 0;
  // Points of the column from the hits' extent: its outer edge and wide bar halfway along.
  cmath_vect edgeMiddle() const { return along(point, unit, (t0 + t1) / 2); }
  cmath_vect barMiddle() const { return along(barPoint, unit, (b0 + b1) / 2); }
  // Unit direction across the column into the symbol.
  cmath_vect inward() const {
    const cmath_vect n{unit.y, -unit.x};  // cross(dir, unit) > 0 makes this point along dir
    return first->stop ? scaled(n, -1) : n;
  }
};

int findRoot(std::vector<int>& parent, int i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

// The median distance of the points from the line through c along unit u.
double medianOff(const std::vector<cmath_vect>& pts, const cmath_vect& c, const cmath_vect& u, std::vector<double>* r) {
  r->resize(pts.size());
  for (size_t i = 0; i < pts.size(); ++i) (*r)[i] = std::fabs(cross(u, sub(pts[i], c)));
  std::vector<double> sorted = *r;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  return sorted[sorted.size() / 2];
}

// The line through two of the points with the least median distance from all of them: every pair
// of a few points, pairs half the list apart of many. Hits where a line leaves the symbol through
// its top or bottom corner before the pattern ends sit off the side, and on a short column they
// are enough to tilt a least-squares line.
bool medianLine(const std::vector<cmath_vect>& pts, cmath_vect* c, cmath_vect* u) {
  const size_t n = pts.size();
  std::vector<double> r;
  double best = 1e300;
  auto tryPair = [&](size_t i, size_t j) {
    const double length = dmroad::distance(pts[i], pts[j]);
    if (!(length > 1e-9)) return;
    const cmath_vect dir{(pts[j].x - pts[i].x) / length, (pts[j].y - pts[i].y) / length};
    const double off = medianOff(pts, pts[i], dir, &r);
    if (off < best) best = off, *c = pts[i], *u = dir;
  };
  if (n <= kFewPoints) {
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i + 1; j < n; ++j) tryPair(i, j);
  } else {
    for (size_t i = 0; i < n / 2; ++i) tryPair(i, i + n / 2);
  }
  return best < 1e300;
}

// A line through points (a point on it, its direction): the least-median line, then least squares
// over the points near it, refitted twice without the points off it; keep marks the points left.
bool fitLine(const std::vector<cmath_vect>& pts, double tolerance, std::vector<char>* keep, cmath_vect* c,
             cmath_vect* u) {
  if (static_cast<int>(pts.size()) < kMinHits || !medianLine(pts, c, u)) return false;
  std::vector<double> r;
  std::vector<cmath_vect> kept;
  for (int round = 0; round < 3; ++round) {
    const double limit = std::max(tolerance, 3 * medianOff(pts, *c, *u, &r));
    keep->assign(pts.size(), 0);
    kept.clear();
    for (size_t i = 0; i < pts.size(); ++i)
      if (r[i] <= limit) (*keep)[i] = 1, kept.push_back(pts[i]);
    dmroad::EdgeLine line;
    if (static_cast<int>(kept.size()) < kMinHits || !dmroad::fitLine(kept, &line)) return false;
    *c = line.pos;
    *u = line.dir;
  }
  return true;
}

// Columns of hits: same angle, pattern, polarity and direction, on nearby lines, at positions
// along the lines that a straight side allows, with similar modules.
std::vector<Column> columnsOf(const std::vector<PatternHit>& hits, const PatternScan& scan) {
  std::vector<int> order(hits.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    const int ka = keyOf(hits[a]), kb = keyOf(hits[b]);
    return ka != kb ? ka < kb : hits[a].line < hits[b].line;
  });
  std::vector<int> parent(hits.size());
  std::iota(parent.begin(), parent.end(), 0);
  for (size_t i = 0; i < order.size(); ++i) {
    const PatternHit& h = hits[order[i]];
    for (size_t j = i + 1; j < order.size(); ++j) {
      const PatternHit& g = hits[order[j]];
      if (keyOf(g) != keyOf(h) || g.line - h.line > kLineReach) break;
      if (g.line == h.line) continue;
      // A side up to 50 degrees off the lines' normal moves along them by under 1.2 times the
      // lines' spacing a line (the rows or the columns cross every side within 45 degrees).
      const double shift = std::fabs(dot(sub(g.edge, h.edge), h.dir));
      const double ratio = g.module / h.module;
      if (shift <= 1.2 * scan.lineSpacing(h.family) * (g.line - h.line) + 1.5 && ratio > 0.75 && ratio < 1.33)
        parent[findRoot(parent, order[i])] = findRoot(parent, order[j]);
    }
  }
  std::vector<std::vector<int>> groups(hits.size());
  for (size_t i = 0; i < hits.size(); ++i) groups[findRoot(parent, static_cast<int>(i))].push_back(static_cast<int>(i));
  std::vector<Column> columns;
  for (const std::vector<int>& g : groups) {
    if (static_cast<int>(g.size()) < kMinHits) continue;
    std::vector<cmath_vect> edges, bars;
    std::vector<double> modules;
    for (int i : g) {
      edges.push_back(hits[i].edge);
      bars.push_back(hits[i].wideBar);
      modules.push_back(hits[i].module);
    }
    std::nth_element(modules.begin(), modules.begin() + modules.size() / 2, modules.end());
    Column c;
    c.first = &hits[g[0]];
    c.dir = c.first->dir;
    c.module = modules[modules.size() / 2];
    std::vector<char> keep;
    if (!fitLine(edges, std::max(0.8, 0.35 * c.module), &keep, &c.point, &c.unit)) continue;
    if (cross(c.dir, c.unit) < 0) c.unit = cmath_vect{-c.unit.x, -c.unit.y};
    if (cross(c.dir, c.unit) < 0.5) continue;  // a side must cross the lines steeply
    c.across = c.module * cross(c.dir, c.unit);
    c.t0 = 1e300;
    c.t1 = -1e300;
    c.b0 = 1e300;
    c.b1 = -1e300;
    double bx = 0, by = 0;
    for (size_t i = 0; i < g.size(); ++i)
      if (keep[i]) {
        ++c.hits;
        bx += bars[i].x;
        by += bars[i].y;
      }
    c.barPoint = cmath_vect{bx / c.hits, by / c.hits};
    for (size_t i = 0; i < g.size(); ++i) {
      if (!keep[i]) continue;
      const double t = dot(sub(edges[i], c.point), c.unit), b = dot(sub(bars[i], c.barPoint), c.unit);
      c.t0 = std::min(c.t0, t);
      c.t1 = std::max(c.t1, t);
      c.b0 = std::min(c.b0, b);
      c.b1 = std::max(c.b1, b);
    }
    columns.push_back(c);
  }
  // One side seen at several angles gives a column at each, and lines that cross a side at a
  // shallow angle give fragments of it: of columns along one line, the best supported stands.
  std::sort(columns.begin(), columns.end(), [](const Column& a, const Column& b) { return a.hits > b.hits; });
  std::vector<Column> kept;
  for (const Column& c : columns) {
    bool covered = false;
    for (const Column& k : kept) {
      if (k.first->stop != c.first->stop || k.first->lightBars != c.first->lightBars || dot(k.dir, c.dir) <= 0 ||
          std::fabs(cross(k.unit, c.unit)) > 0.1)
        continue;
      const cmath_vect m = along(c.point, c.unit, (c.t0 + c.t1) / 2);
      const double off = std::fabs(cross(k.unit, sub(m, k.point))), t = dot(sub(m, k.point), k.unit);
      covered = off < std::max(2.0, k.module) && t > k.t0 - 4 * k.module && t < k.t1 + 4 * k.module;
      if (covered) break;
    }
    if (!covered) kept.push_back(c);
  }
  return kept;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Where the column's wide bar ends, each way along the side: followed along its centre line from
// the last hit until the grey crosses halfway between the bar and the pattern's widest space (3
// modules, the last element of the start pattern and the fourth of the stop pattern), or to the
// image's border. ends[0] lies towards -unit. levels, when given, takes the bar's grey and the
// space's. However far: on a bilevel scan the rows meet the pattern on one line in four, and the
// column is a fragment of its side whose bar runs on for many times its length.
bool barEnds(const cimg_windowConst& w, const Column& c, cmath_vect ends[2], double* levels = nullptr) {
  std::vector<double> bar, space;
  const cmath_vect in = c.inward();
  const cmath_vect s = along(c.point, in, (c.first->stop ? 7.5 : 15.5) * c.across);
  for (double t = c.b0; t <= c.b1; t += 1) {
    const cmath_vect p = along(c.barPoint, c.unit, t);
    bar.push_back(dmroad::sampleAt(w, p.x, p.y));
  }
  for (double t = c.t0; t <= c.t1; t += 1) {
    const cmath_vect p = along(s, c.unit, t);
    space.push_back(dmroad::sampleAt(w, p.x, p.y));
  }
  const double barLevel = median(bar), spaceLevel = median(space);
  if (std::fabs(barLevel - spaceLevel) < 8) return false;
  if (levels) levels[0] = barLevel, levels[1] = spaceLevel;
  const double mid = (barLevel + spaceLevel) / 2, sign = spaceLevel > barLevel ? 1 : -1;
  // The walk leaves the image within its diagonal (from a hit inside it): the border ends it.
  const double reach = std::hypot(w.width, w.height) + 1, step = 0.25;
  for (int e = 0; e < 2; ++e) {
    const double from = e == 0 ? c.b0 : c.b1, towards = e == 0 ? -1 : 1;
    double prev = sign * (barLevel - mid);
    bool found = false;
    for (double d = step; d <= reach && !found; d += step) {
      const cmath_vect p = along(c.barPoint, c.unit, from + towards * d);
      if (p.x < 0 || p.y < 0 || p.x > w.width || p.y > w.height) {
        // The bar runs on to the image's border: the symbol is cut there.
        ends[e] = along(c.barPoint, c.unit, from + towards * (d - step));
        found = true;
        break;
      }
      const double v = sign * (dmroad::sampleAt(w, p.x, p.y) - mid);
      if (v > 0) {
        const double f = prev < v ? -prev / (v - prev) : 0;  // prev <= 0 < v
        ends[e] = along(c.barPoint, c.unit, from + towards * (d - step + f * step));
        found = true;
      }
      prev = v;
    }
    if (!found) return false;
  }
  return true;
}

// The outline of a start column and a stop column: their sides, and the lines through the ends
// of their wide bars.
bool outline(const cimg_windowConst& w, const Column& s, const Column& t, std::array<cmath_vect, 4>* corners) {
  cmath_vect se[2], te[2];
  if (!barEnds(w, s, se) || !barEnds(w, t, te)) return false;
  const dmroad::EdgeLine left{s.point, s.unit}, right{t.point, t.unit};
  cmath_vect q[4];
  for (int e = 0; e < 2; ++e) {
    const double len = dmroad::distance(se[e], te[e]);
    if (!(len > 1)) return false;
    const dmroad::EdgeLine end{se[e], cmath_vect{(te[e].x - se[e].x) / len, (te[e].y - se[e].y) / len}};
    if (!dmroad::crossing(end, left, &q[e == 0 ? 0 : 3]) || !dmroad::crossing(end, right, &q[e == 0 ? 1 : 2]))
      return false;
  }
  *corners = {q[0], q[1], q[2], q[3]};
  return dmroad::convexQuad(*corners);
}

// Where a lone column's rows end: on lines inward from its outer edge at five places along it, the
// start of the first stretch of kQuietModules modules that does not cross between its bar's grey
// and its space's (a quarter of the way from their middle either way; inside a symbol no bar or
// space is wider than eight modules). The farthest of those, four modules to spare, or the reach
// given where a line meets none; never less than the narrowest compact symbol. An outline running
// on past its rows over a blank page, or other pictures, took those for most of its lines, whose
// grey the rows could not then be told apart in.
double rowsReach(const cimg_windowConst& w, const Column& c, const cmath_vect side[2], const double levels[2],
                 double reach) {
  constexpr double kQuietModules = 12;
  const cmath_vect in = c.inward();
  const double step = std::min(1.0, c.across / 2), quiet = kQuietModules * c.across;
  const double mid = (levels[0] + levels[1]) / 2, margin = std::fabs(levels[1] - levels[0]) / 4;
  double farthest = kNarrowestModules * c.across;
  for (int k = 0; k < 5; ++k) {
    const cmath_vect from = along(side[0], sub(side[1], side[0]), (k + 0.5) / 5);
    int sense = 0;  // +1 last seen on the space's side, -1 on the bar's
    double crossed = 0;
    bool ended = false;
    for (double d = 0; d <= reach && !ended; d += step) {
      const cmath_vect p = along(from, in, d);
      const double v = (dmroad::sampleAt(w, p.x, p.y) - mid) * (levels[1] > levels[0] ? 1 : -1);
      const int now = v > margin ? 1 : v < -margin ? -1 : sense;
      if (now != sense) sense = now, crossed = d;
      ended = d - crossed >= quiet;
    }
    if (!ended) return reach;
    farthest = std::max(farthest, crossed + 4 * c.across);
  }
  return std::min(reach, farthest);
}

// The outline of a column on its own: its side between the ends of its wide bar, and the far side
// square to it where its rows end (rowsReach), across the widest symbol at most, or at the image's
// border, whichever is nearer.
bool loneOutline(const cimg_windowConst& w, const Column& c, std::array<cmath_vect, 4>* corners) {
  cmath_vect ends[2];
  double levels[2];
  if (!barEnds(w, c, ends, levels)) return false;
  const cmath_vect in = c.inward(), middle = c.edgeMiddle();
  // How far the middle may go inwards before it leaves the image.
  double reach = kWidestModules * c.across;
  if (in.x > 1e-9) reach = std::min(reach, (w.width - middle.x) / in.x);
  if (in.x < -1e-9) reach = std::min(reach, -middle.x / in.x);
  if (in.y > 1e-9) reach = std::min(reach, (w.height - middle.y) / in.y);
  if (in.y < -1e-9) reach = std::min(reach, -middle.y / in.y);
  if (!(reach >= kNarrowestModules * c.across)) return false;
  cmath_vect side[2];
  for (int e = 0; e < 2; ++e) side[e] = along(c.point, c.unit, dot(sub(ends[e], c.point), c.unit));
  reach = rowsReach(w, c, side, levels, reach);
  const cmath_vect far0 = along(side[0], in, reach), far1 = along(side[1], in, reach);
  *corners = {side[0], far0, far1, side[1]};
  return dmroad::distance(side[0], side[1]) > 2;
}

// Whether another column of the polarity and reading direction of start column si, and of some
// length, stands between it and stop column ti (b ahead of it along its lines), level with it:
// the two belong to different symbols side by side.
bool columnBetween(const std::vector<Column>& columns, size_t si, size_t ti, double b) {
  const Column& s = columns[si];
  for (size_t oi = 0; oi < columns.size(); ++oi) {
    const Column& o = columns[oi];
    if (oi == si || oi == ti || o.first->lightBars != s.first->lightBars || dot(o.dir, s.dir) <= 0) continue;
    // A few hits of a pattern-like word within one row are no symbol's side: a side runs about
    // as far as the start column's.
    if (o.t1 - o.t0 < kSideShare * (s.t1 - s.t0)) continue;
    const cmath_vect m = o.edgeMiddle();
    const double margin = kMinWidth / 4 * s.module;
    // The start or the stop side itself, seen by another family of lines, is not between them.
    if (std::fabs(cross(s.unit, sub(m, s.point))) < margin || std::fabs(cross(columns[ti].unit, sub(m, columns[ti].point))) < margin)
      continue;
    const double ahead = cross(s.unit, sub(m, s.point)) / cross(s.unit, s.dir), level = dot(sub(m, s.point), s.unit);
    if (ahead > margin && ahead < b - margin && level > s.t0 && level < s.t1) return true;
  }
  return false;
}

}  // namespace

std::vector<PatternFind> outlinesFromHits(const cimg_windowConst& w, const PatternScan& scan,
                                          const std::vector<PatternHit>& hits) {
  const std::vector<Column> columns = columnsOf(hits, scan);
  struct Pair {
    double cost;
    int stop;
  };
  std::vector<PatternFind> finds;
  for (size_t si = 0; si < columns.size(); ++si) {
    const Column& s = columns[si];
    if (s.first->stop) continue;
    std::vector<Pair> pairs;
    for (size_t ti = 0; ti < columns.size(); ++ti) {
      const Column& t = columns[ti];
      // Either family of lines may have seen either side (under perspective the two may be far
      // from parallel, and a symbol near 45 degrees may show one side to the rows and the other
      // to the columns), but not read against each other, and in the same polarity.
      if (!t.first->stop || t.first->lightBars != s.first->lightBars || dot(s.dir, t.dir) < 0) continue;
      const double ratio = t.across / s.across;
      if (ratio < 0.5 || ratio > 2) continue;
      // The stop column's middle as s.point + a s.unit + b s.dir: b is how far ahead it lies;
      // and the start column's middle as far behind the stop column.
      const cmath_vect sm = s.edgeMiddle(), tm = t.edgeMiddle();
      const double b = cross(s.unit, sub(tm, s.point)) / cross(s.unit, s.dir);
      const double back = -cross(t.unit, sub(sm, t.point)) / cross(t.unit, t.dir);
      if (b < kMinWidth * s.module || back < kMinWidth * t.module || columnBetween(columns, si, ti, b)) continue;
      // Its extent along the start column's side, which it overlaps unless the top and bottom
      // are far from square to the sides: nearer and overlapping stop columns first.
      const double p0 = dot(sub(along(t.point, t.unit, t.t0), s.point), s.unit);
      const double p1 = dot(sub(along(t.point, t.unit, t.t1), s.point), s.unit);
      const double overlap = std::min(std::max(p0, p1), s.t1) - std::max(std::min(p0, p1), s.t0);
      pairs.push_back(Pair{b + std::max(0.0, -overlap), static_cast<int>(ti)});
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.cost < b.cost; });
    for (size_t k = 0; k < pairs.size() && k < static_cast<size_t>(kPairsPerStart); ++k) {
      PatternFind f;
      const Column& t = columns[pairs[k].stop];
      if (!outline(w, s, t, &f.corners)) continue;
      f.hits = s.hits + t.hits;
      f.lightBars = s.first->lightBars;
      f.module = s.across;
      f.group = static_cast<int>(si);
      f.startMiddle = s.barMiddle();
      f.stopMiddle = t.barMiddle();
      finds.push_back(f);
    }
  }
  // Best supported groups first, each group's candidates in their order.
  std::vector<int> best(columns.size(), 0);
  for (const PatternFind& f : finds) best[f.group] = std::max(best[f.group], f.hits);
  std::stable_sort(finds.begin(), finds.end(), [&](const PatternFind& a, const PatternFind& b) {
    return best[a.group] != best[b.group] ? best[a.group] > best[b.group] : a.group < b.group;
  });
  // Then every column on its own, best supported first.
  std::vector<PatternFind> lone;
  for (size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    PatternFind f;
    if (!loneOutline(w, c, &f.corners)) continue;
    f.kind = c.first->stop ? PatternFind::Kind::stopOnly : PatternFind::Kind::startOnly;
    f.hits = c.hits;
    f.lightBars = c.first->lightBars;
    f.module = c.across;
    f.group = static_cast<int>(columns.size() + i);
    f.startMiddle = f.stopMiddle = c.barMiddle();
    // A stop column's outline, start side first: the far side it reaches to.
    if (f.kind == PatternFind::Kind::stopOnly) f.corners = {f.corners[1], f.corners[0], f.corners[3], f.corners[2]};
    lone.push_back(f);
  }
  std::stable_sort(lone.begin(), lone.end(), [](const PatternFind& a, const PatternFind& b) { return a.hits > b.hits; });
  finds.insert(finds.end(), lone.begin(), lone.end());
  return finds;
}

}  // namespace pdfroad
