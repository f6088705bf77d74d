// Straight-run analysis: each step against an independent computation (direct sums, closed
// forms), then the whole chain on exact outlines of squares, rotated rectangles and circles, and
// the chain inside a scratch buffer of the exact size the searches use.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "base/cbt.h"
#include "ci_id/contourruns.h"
#include "ci_id/tracking.h"
#include "support/assert_recorder.hpp"
#include "support/shapes.hpp"

namespace {

using Point = cid2d_contourPoint;
using StraightRun = cid2d_straightRun;
struct Px {
  double x, y;
};

// A point in tracker units (1/256 pixel) stored as the searches store it: row first, rounded
// to 1/16 pixel, which adds half a pixel to each coordinate.
Point stored(double x, double y) {
  const auto t = [](double c) { return static_cast<int32_t>(std::floor(c * 256.0 + 0.5)); };
  return Point{(t(y) + 128) >> 4, (t(x) + 128) >> 4};
}
Px toPixels(const Point& p) { return Px{p.v / 16.0 - 0.5, p.u / 16.0 - 0.5}; }

// Closed polygon outline with points about `step` pixels apart.
std::vector<Point> polygon(const std::vector<Px>& corners, double step) {
  std::vector<Point> out;
  for (size_t k = 0; k < corners.size(); ++k) {
    const Px a = corners[k], b = corners[(k + 1) % corners.size()];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    const int m = std::max(1, static_cast<int>(std::lround(len / step)));
    for (int t = 0; t < m; ++t) out.push_back(stored(a.x + (b.x - a.x) * t / m, a.y + (b.y - a.y) * t / m));
  }
  return out;
}

std::vector<Px> rectangle(Px centre, double w, double h, double degrees) {
  const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
  std::vector<Px> out;
  // Clockwise on screen (y down), like the tracker's outlines of dark blobs.
  for (auto [dx, dy] : std::array<std::array<double, 2>, 4>{{{-w / 2, -h / 2}, {w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}}})
    out.push_back(Px{centre.x + c * dx - s * dy, centre.y + s * dx + c * dy});
  return out;
}

std::vector<Point> circle(Px centre, double r, double step) {
  const int n = static_cast<int>(std::lround(2 * M_PI * r / step));
  std::vector<Point> out;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    out.push_back(stored(centre.x + r * std::cos(a), centre.y + r * std::sin(a)));
  }
  return out;
}

// The chain as the Data Matrix search runs it (window from the bounding box, threshold 64).
struct Analysis {
  std::vector<Point> halved, smoothed;
  std::vector<int32_t> curvature;
  int32_t maxCurvature = 0, window = 0, runCount = 0;
  std::vector<StraightRun> runs;
};

Analysis analyse(std::vector<Point> raw) {
  Analysis a;
  int32_t n = 0, w = 0, h = 0, e = 0;
  EXPECT_EQ(cid2d_contour_halve(raw.data(), static_cast<int32_t>(raw.size()), &n), 0);
  a.halved.assign(raw.begin(), raw.begin() + n);
  EXPECT_EQ(cid2d_contour_getBoundingBox(a.halved.data(), n, &w, &h, &e), 0);
  a.window = std::min(std::max(std::min(w, h) / 32, 3), 25);
  a.smoothed.resize(n);
  a.curvature.resize(n);
  EXPECT_EQ(cid2d_contour_smooth(a.smoothed.data(), a.halved.data(), n, a.window), 0);
  EXPECT_EQ(cid2d_contour_curvature(a.curvature.data(), a.smoothed.data(), n, 2 * a.window, &a.maxCurvature), 0);
  a.runs.resize(CID2D_RUN_CAPACITY);
  EXPECT_EQ(cid2d_contour_straightRuns(a.runs.data(), a.curvature.data(), a.smoothed.data(), 0, n, a.window, 64,
                                       CID2D_RUN_CAPACITY, &a.runCount),
            0);
  EXPECT_EQ(cid2d_straightRuns_order(a.runs.data(), a.runCount), 0);
  return a;
}

double distToLine(Px p, Px a, Px b) {
  return std::abs((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x)) / std::hypot(b.x - a.x, b.y - a.y);
}

int circularDistance(int a, int b, int n) {
  const int d = std::abs(a - b) % n;
  return std::min(d, n - d);
}

// Four runs, one per side, whose chords lie on the sides and cover all but the rounded corners;
// the curvature peaks at the corners. The run scan starts at point 0 and a run may wrap past the
// last point: when point 0 lies inside a side, the side's run wraps round the end and the scan
// also opens a piece of it at 0 that ends where the wrapped run ends. That piece is set aside.
void expectRunsOnSides(Analysis a, const std::vector<Px>& corners) {
  std::vector<StraightRun> runs(a.runs.begin(), a.runs.begin() + a.runCount);
  for (size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].start != 0) continue;
    for (size_t j = 0; j < runs.size(); ++j) {
      if (j != i && runs[j].start > runs[j].end && runs[j].end == runs[i].end) {
        runs.erase(runs.begin() + i);
        break;
      }
    }
    break;
  }
  std::copy(runs.begin(), runs.end(), a.runs.begin());
  a.runs[runs.size()] = StraightRun{0, 0, 0};
  a.runCount = static_cast<int32_t>(runs.size());
  double perimeter = 0;
  for (int k = 0; k < 4; ++k)
    perimeter += std::hypot(corners[(k + 1) % 4].x - corners[k].x, corners[(k + 1) % 4].y - corners[k].y);
  const double step = perimeter / static_cast<double>(a.halved.size());  // pixels per halved point
  std::array<int, 4> runOfSide{-1, -1, -1, -1};
  for (int r = 0; r < 4; ++r) {
    const StraightRun& run = a.runs[r];
    const Px s = toPixels(a.smoothed[run.start]), e = toPixels(a.smoothed[run.end]);
    int best = -1;
    for (int k = 0; k < 4; ++k) {
      const Px c0 = corners[k], c1 = corners[(k + 1) % 4];
      if (std::max(distToLine(s, c0, c1), distToLine(e, c0, c1)) < 1.0) best = k;
    }
    ASSERT_GE(best, 0) << "run " << r << " lies on no side";
    EXPECT_EQ(runOfSide[best], -1) << "two runs on side " << best;
    runOfSide[best] = r;
    const Px c0 = corners[best], c1 = corners[(best + 1) % 4];
    const double side = std::hypot(c1.x - c0.x, c1.y - c0.y);
    const double chord = std::hypot(e.x - s.x, e.y - s.y);
    // The curvature span reaches W halved points to either side, so each corner takes about
    // W point steps off both runs that meet there (a little less on diagonal sides, where the
    // sum of the absolute second differences is smaller, and on rendered corners, which the
    // anti-aliasing rounds).
    const double cut = 2.0 * a.window * step;
    EXPECT_GE(chord, side - cut - 1.5 * step) << "window " << a.window << " step " << step;
    EXPECT_LE(chord, side - cut + 3.0 * step) << "window " << a.window << " step " << step;
    // strength: the squared chord in quarter pixels
    EXPECT_NEAR(std::sqrt(static_cast<double>(run.strength)), 4 * chord, 2.0);
    if (r > 0) {
      EXPECT_GE(a.runs[r - 1].strength, run.strength);
    }
  }
  EXPECT_EQ(a.runs[4].strength, 0);  // terminator

  // The curvature maximum between two side middles sits on the corner between them.
  const int n = static_cast<int>(a.halved.size());
  std::array<int, 4> cornerIndex{};
  for (int k = 0; k < 4; ++k) {
    double best = 1e30;
    for (int i = 0; i < n; ++i) {
      const Px p = toPixels(a.halved[i]);
      const double d = std::hypot(p.x - corners[k].x, p.y - corners[k].y);
      if (d < best) best = d, cornerIndex[k] = i;
    }
  }
  // In contour order (the outline may run either way round the corner list).
  std::sort(cornerIndex.begin(), cornerIndex.end());
  for (int k = 0; k < 4; ++k) {
    const int prev = cornerIndex[(k + 3) % 4], here = cornerIndex[k], next = cornerIndex[(k + 1) % 4];
    const int from = (prev + ((here - prev + n) % n) / 2) % n, len = ((next - prev + n) % n) / 2;
    int arg = from;
    for (int t = 0; t <= len; ++t)
      if (a.curvature[(from + t) % n] > a.curvature[arg]) arg = (from + t) % n;
    EXPECT_LE(circularDistance(arg, here, n), 2) << "corner " << k;
    EXPECT_GE(a.curvature[arg], 64);
    const int middleOfSide = (here + ((next - here + n) % n) / 2) % n;
    EXPECT_LT(a.curvature[middleOfSide], 16);
  }
  EXPECT_EQ(a.maxCurvature, *std::max_element(a.curvature.begin(), a.curvature.end()));
}

}  // namespace

TEST(ContourRuns, DistancesUseQuarterPixelsAndRoundDown) {
  const Point a{0, 0}, b{40, 30};  // (2.5, 1.875) px apart: 10 and 7 quarter pixels
  int64_t d = -1;
  ASSERT_EQ(cid2d_contour_distanceSq(&a, &b, &d), 0);
  EXPECT_EQ(d, 8 * 8 + 10 * 10);  // -30 >> 2 is -8
  // The shift rounds towards minus infinity, so the argument order can change the result.
  ASSERT_EQ(cid2d_contour_distanceSq(&b, &a, &d), 0);
  EXPECT_EQ(d, 7 * 7 + 10 * 10);

  // Distance from a line along v (u = 0): the u offset of the point, in quarter pixels.
  const Point la{0, 0}, lb{0, 400}, p{160, 777};
  ASSERT_EQ(cid2d_contour_lineDistanceSq(&p, &la, &lb, &d), 0);
  EXPECT_EQ(d, 40 * 40);
  // A diagonal line: the point (u, v) = (64, 0) lies 16 / sqrt 2 quarter pixels from u = v.
  const Point da{0, 0}, db{400, 400}, dp{64, 0};
  ASSERT_EQ(cid2d_contour_lineDistanceSq(&dp, &da, &db, &d), 0);
  EXPECT_EQ(d, 128);
  // Coinciding line points: the distance to the point itself.
  const Point same{0, 0};
  ASSERT_EQ(cid2d_contour_lineDistanceSq(&p, &same, &same, &d), 0);
  EXPECT_EQ(d, 40 * 40 + 195 * 195);

  AssertRecorder rec;
  EXPECT_EQ(cid2d_contour_distanceSq(&a, nullptr, &d), csys_errAssertion);
  EXPECT_EQ(cid2d_contour_lineDistanceSq(&p, &la, &lb, nullptr), csys_errAssertion);
  EXPECT_EQ(rec.count(), 2u);
}

TEST(ContourRuns, HalvingAveragesPairsAndBoundingBoxCountsWholePixels) {
  std::vector<Point> c{{0, 10}, {3, 11}, {-3, 20}, {0, 20}, {100, 7}, {101, -9}, {55, 55}};
  int32_t n = -1;
  ASSERT_EQ(cid2d_contour_halve(c.data(), 7, &n), 0);
  ASSERT_EQ(n, 3);
  EXPECT_EQ(c[0].u, 1);  // (0 + 3) >> 1
  EXPECT_EQ(c[0].v, 10);
  EXPECT_EQ(c[1].u, -2);  // -3 >> 1 rounds down
  EXPECT_EQ(c[1].v, 20);
  EXPECT_EQ(c[2].u, 100);
  EXPECT_EQ(c[2].v, -1);

  // The rectangle spans 20.9 px in v and 3.0 px in u: widths are whole pixels, rounded down.
  const std::vector<Point> r{{16, 16}, {64, 16}, {64, 350}, {40, 200}};
  int32_t w = 0, h = 0, e = 0;
  ASSERT_EQ(cid2d_contour_getBoundingBox(r.data(), 4, &w, &h, &e), 0);
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(e, 20);
  ASSERT_EQ(cid2d_contour_getBoundingBox(r.data(), 0, &w, &h, &e), 0);
  EXPECT_EQ(w + h + e, 0);
}

TEST(ContourRuns, SmoothingIsTheCentredCircularMeanWithTruncatedReciprocal) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> coord(-5000, 200000);
  for (int32_t n : {5, 17, 64, 301}) {
    std::vector<Point> c(n), out(n);
    for (auto& p : c) p = Point{coord(rng), coord(rng)};
    for (int32_t w : {2, 3, 4, 7, 16, 25}) {
      if (w > n) continue;
      ASSERT_EQ(cid2d_contour_smooth(out.data(), c.data(), n, w), 0);
      // Direct sum for every output, independent of the running-sum order of the routine.
      const int64_t r = 4096 / w, h = w / 2;
      for (int32_t j = 0; j < n; ++j) {
        int64_t su = 0, sv = 0;
        for (int32_t k = 0; k < w; ++k) {
          const Point& p = c[((j - h + k) % n + n) % n];
          su += p.u, sv += p.v;
        }
        ASSERT_EQ(out[j].u, ((su + h) * r) >> 12) << "n " << n << " w " << w << " j " << j;
        ASSERT_EQ(out[j].v, ((sv + h) * r) >> 12);
      }
    }
  }
  // Evenly spaced points on a line are kept where they are (odd windows are exactly centred),
  // up to the truncated reciprocal.
  std::vector<Point> line(40), out(40);
  for (int i = 0; i < 40; ++i) line[i] = Point{1000 + 16 * i, 3000 - 8 * i};
  ASSERT_EQ(cid2d_contour_smooth(out.data(), line.data(), 40, 5), 0);
  for (int i = 2; i < 38; ++i) {
    EXPECT_NEAR(out[i].u, line[i].u, 2) << i;
    EXPECT_NEAR(out[i].v, line[i].v, 2) << i;
  }
  // Windows below 2, or longer than the contour, copy it.
  for (int32_t w : {0, 1, 41}) {
    std::fill(out.begin(), out.end(), Point{-1, -1});
    ASSERT_EQ(cid2d_contour_smooth(out.data(), line.data(), 40, w), 0);
    EXPECT_EQ(std::memcmp(out.data(), line.data(), sizeof(Point) * 40), 0) << w;
  }
  AssertRecorder rec;
  EXPECT_EQ(cid2d_contour_smooth(line.data() + 1, line.data(), 30, 5), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(ContourRuns, CurvatureIsTheSecondDifferenceAcrossHalfTheSpan) {
  // u = 3 m^2: the second difference across h points on either side is 6 h^2 everywhere in the
  // interior; v is linear and adds nothing.
  const int n = 60;
  std::vector<Point> p(n);
  for (int m = 0; m < n; ++m) p[m] = Point{3 * m * m, 7 * m - 100};
  std::vector<int32_t> c(n, -1);
  for (int32_t span : {2, 6, 7}) {
    const int h = span / 2;
    int32_t maximum = -1;
    ASSERT_EQ(cid2d_contour_curvature(c.data(), p.data(), n, span, &maximum), 0);
    for (int m = h; m < n - h; ++m) ASSERT_EQ(c[m], 6 * h * h) << "span " << span << " m " << m;
    // Near index 0 the neighbours wrap round to the far end of the sequence.
    const int64_t du = 3LL * (n - h) * (n - h) + 3LL * h * h;
    const int64_t dv = std::abs(7 * (n - h) + 7 * h - 0);
    EXPECT_EQ(c[0], du + dv);
    EXPECT_EQ(maximum, *std::max_element(c.begin(), c.end()));
  }
}

TEST(ContourRuns, RunsFollowTheCurvatureThresholdAndWrapRoundTheContour) {
  // Points on a straight line so that every candidate run is straight; the curvature is made up.
  const int n = 100;
  std::vector<Point> p(n);
  for (int i = 0; i < n; ++i) p[i] = Point{2000, 32 * i};
  std::vector<int32_t> c(n, 0);
  c[30] = 1000;
  c[80] = 1000;
  std::vector<StraightRun> runs(8, StraightRun{7, 7, 7});
  int32_t k = -1;
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 3, 64, 8, &k), 0);
  ASSERT_EQ(k, 3);
  // 0 .. 29, 31 .. 79, and 81 over the end to 29.
  EXPECT_EQ(runs[0].start, 0);
  EXPECT_EQ(runs[0].end, 29);
  EXPECT_EQ(runs[0].strength, (29 * 8) * (29 * 8));
  EXPECT_EQ(runs[1].start, 31);
  EXPECT_EQ(runs[1].end, 79);
  EXPECT_EQ(runs[2].start, 81);
  EXPECT_EQ(runs[2].end, 29);
  EXPECT_EQ(runs[2].strength, (52 * 8) * (52 * 8));
  EXPECT_EQ(runs[3].start | runs[3].strength | runs[3].end, 0);
  EXPECT_EQ(runs[4].start, 7);  // nothing written past the terminator

  // A point at exactly the threshold opens a run but ends an extension.
  std::fill(c.begin(), c.end(), 1000);
  for (int i = 10; i <= 20; ++i) c[i] = 10;
  c[15] = 64;
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 3, 64, 8, &k), 0);
  ASSERT_EQ(k, 2);
  EXPECT_EQ(runs[0].start, 10);
  EXPECT_EQ(runs[0].end, 14);
  EXPECT_EQ(runs[1].start, 15);
  EXPECT_EQ(runs[1].end, 20);
  // A run needs more than L following points: with L = 4 only the second one stays.
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 4, 64, 8, &k), 0);
  ASSERT_EQ(k, 1);
  EXPECT_EQ(runs[0].start, 15);

  // All flat: one run round the whole contour, which is no side.
  std::fill(c.begin(), c.end(), 0);
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 3, 64, 8, &k), 0);
  EXPECT_EQ(k, 0);
  EXPECT_EQ(runs[0].start | runs[0].strength | runs[0].end, 0);
}

TEST(ContourRuns, BentRunsAreDroppedOrSplitIntoTheirStraightHalves) {
  // A shallow V: 41 points along v, u rising then falling by 12 px; the curvature stays flat.
  const int n = 120;
  std::vector<Point> p(n, Point{0, 0});
  for (int i = 0; i <= 40; ++i)
    p[i] = Point{static_cast<int32_t>(std::lround(16.0 * 12.0 * (20 - std::abs(20 - i)) / 20.0)), 16 * 3 * i};
  std::vector<int32_t> c(n, 1000);
  for (int i = 0; i <= 40; ++i) c[i] = 0;
  std::vector<StraightRun> runs(8);
  int32_t k = -1;
  // Without splitting the middle lies 12 px off the chord: nothing.
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 5, 64, 8, &k), 0);
  EXPECT_EQ(k, 0);
  // With splitting each arm of the V is a run.
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 1, n, 5, 64, 8, &k), 0);
  ASSERT_EQ(k, 2);
  EXPECT_EQ(runs[0].start, 0);
  EXPECT_EQ(runs[0].end, 20);
  EXPECT_EQ(runs[1].start, 20);
  EXPECT_EQ(runs[1].end, 40);
  // The run is too short to split (40 <= 2 L + 1).
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 1, n, 20, 64, 8, &k), 0);
  EXPECT_EQ(k, 0);
  // A larger threshold tolerates the bend (12 px deviation < sqrt(9 T) / 4 px with T = 300).
  ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 5, 300, 8, &k), 0);
  EXPECT_EQ(k, 1);
}

TEST(ContourRuns, RunListStopsOneShortOfItsCapacity) {
  // A comb of short flat stretches: 20 candidate runs.
  const int n = 200;
  std::vector<Point> p(n);
  for (int i = 0; i < n; ++i) p[i] = Point{16 * i, 0};
  std::vector<int32_t> c(n, 0);
  for (int i = 0; i < n; i += 10) c[i] = 500;
  for (int32_t capacity : {1, 2, 4, 21, 30}) {
    std::vector<StraightRun> runs(capacity + 1, StraightRun{9, 9, 9});
    int32_t k = -1;
    ASSERT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 3, 64, capacity, &k), 0);
    EXPECT_EQ(k, std::min(20, capacity - 1));
    EXPECT_EQ(runs[k].start | runs[k].strength | runs[k].end, 0);
    EXPECT_EQ(runs[capacity].start, 9) << "capacity " << capacity;
  }
  AssertRecorder rec;
  int32_t k = 0;
  std::vector<StraightRun> runs(2);
  EXPECT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), 0, n, 3, 64, 0, &k), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(ContourRuns, OrderTakesTheFirstOfTheLargestAndTrimKeepsOneRun) {
  std::vector<StraightRun> r{{0, 5, 0}, {1, 9, 1}, {2, 9, 2}, {3, 1, 3}, {4, 9, 4}};
  ASSERT_EQ(cid2d_straightRuns_order(r.data(), 5), 0);
  std::vector<int> starts;
  for (const StraightRun& x : r) starts.push_back(x.start);
  EXPECT_EQ(starts, (std::vector<int>{1, 2, 4, 0, 3}));

  int32_t n = -1;
  std::vector<StraightRun> t{{0, 4, 0}, {0, 3, 0}, {0, 0, 0}, {0, 0, 0}};
  ASSERT_EQ(cid2d_straightRuns_trim(t.data(), 4, &n), 0);
  EXPECT_EQ(n, 2);
  std::vector<StraightRun> zeros(3, StraightRun{1, 0, 1});
  ASSERT_EQ(cid2d_straightRuns_trim(zeros.data(), 3, &n), 0);
  EXPECT_EQ(n, 1);
  ASSERT_EQ(cid2d_straightRuns_trim(zeros.data(), 0, &n), 0);
  EXPECT_EQ(n, 0);
}

namespace {

// Two runs of a contour that runs along +v, one pixel per point, both on u = 0 except that run
// B is turned by `degrees` (towards +u for positive angles) and shifted by `offsetPx`. StraightRun A
// (31 points) is the stronger one; B (26 points) follows it after `gap` points, or precedes it.
struct MergeScene {
  std::vector<Point> p;
  std::vector<StraightRun> runs;
};

MergeScene twoRuns(double degrees, int gap, double offsetPx, bool bBefore) {
  MergeScene s;
  s.p.assign(200, Point{0, 0});
  for (int i = 0; i < 200; ++i) s.p[i] = Point{0, 16 * i};
  const StraightRun a = bBefore ? StraightRun{60, 0, 90} : StraightRun{10, 0, 40};
  const StraightRun b = bBefore ? StraightRun{60 - gap - 25, 0, 60 - gap} : StraightRun{40 + gap, 0, 40 + gap + 25};
  const int pivot = bBefore ? b.end : b.start;  // the end of B next to A stays on A's line
  const double t = std::tan(degrees * M_PI / 180);
  for (int i = b.start; i <= b.end; ++i)
    s.p[i].u = static_cast<int32_t>(std::lround(16 * (offsetPx + t * (i - pivot))));
  int64_t sa = 0, sb = 0;
  cid2d_contour_distanceSq(&s.p[a.start], &s.p[a.end], &sa);
  cid2d_contour_distanceSq(&s.p[b.start], &s.p[b.end], &sb);
  // The list's last entry never takes part in a merge: a short third run makes room for B.
  s.runs = {StraightRun{a.start, static_cast<int32_t>(sa), a.end}, StraightRun{b.start, static_cast<int32_t>(sb), b.end},
            StraightRun{150, 4, 151}};
  return s;
}

}  // namespace

TEST(ContourRuns, MergeJoinsNearlyCollinearRunsAcrossSmallGaps) {
  const int32_t g = 4 * 3;  // window 3: gaps up to 4.5 px
  {
    MergeScene s = twoRuns(1.0, 4, 0.0, false);
    ASSERT_LT(s.runs[1].strength, s.runs[0].strength);
    ASSERT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, g, 64), 0);
    EXPECT_EQ(s.runs[0].start, 10);
    EXPECT_EQ(s.runs[0].end, 69);
    int64_t chord = 0;
    cid2d_contour_distanceSq(&s.p[10], &s.p[69], &chord);
    EXPECT_EQ(s.runs[0].strength, chord);
    EXPECT_EQ(s.runs[1].strength, 0);
    EXPECT_EQ(s.runs[1].end, s.runs[1].start);
    int32_t n = 0;
    cid2d_straightRuns_order(s.runs.data(), 3);
    cid2d_straightRuns_trim(s.runs.data(), 3, &n);
    EXPECT_EQ(n, 2);
  }
  {
    // The weaker run lies before the stronger one along the contour.
    MergeScene s = twoRuns(1.0, 4, 0.0, true);
    ASSERT_LT(s.runs[1].strength, s.runs[0].strength);
    ASSERT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, g, 64), 0);
    EXPECT_EQ(s.runs[0].start, 31);
    EXPECT_EQ(s.runs[0].end, 90);
    int64_t chord = 0;
    cid2d_contour_distanceSq(&s.p[31], &s.p[90], &chord);
    EXPECT_EQ(s.runs[0].strength, chord);
    EXPECT_EQ(s.runs[1].strength, 0);
  }
  // Gap of 6 px, the other turning sense, a turn of 3 degrees, and an exactly collinear
  // continuation: no merge.
  for (auto [deg, gap] : std::array<std::array<double, 2>, 4>{{{1.0, 6}, {-1.0, 4}, {3.0, 4}, {0.0, 4}}}) {
    MergeScene s = twoRuns(deg, static_cast<int>(gap), 0.0, false);
    const std::vector<StraightRun> before = s.runs;
    ASSERT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, g, 64), 0);
    EXPECT_EQ(std::memcmp(before.data(), s.runs.data(), sizeof(StraightRun) * 3), 0) << "turn " << deg << " gap " << gap;
  }
  // Shifted sideways by 10 px, B leaves run A more than 4 px off the joining chord: a generous
  // gap does not help, a doubled tolerance does.
  {
    MergeScene s = twoRuns(1.0, 4, 10.0, false);
    ASSERT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, 100, 64), 0);
    EXPECT_EQ(s.runs[0].end, 40);
    ASSERT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, 100, 128), 0);
    EXPECT_EQ(s.runs[0].end, 69);
  }
}

TEST(ContourRuns, MergeFailuresLeakNothing) {
  MergeScene s = twoRuns(1.0, 4, 0.0, false);
  {
    LiveBlocks live;
    FailAllocation fail(1);
    EXPECT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, 12, 64), csys_errNoMemory);
    EXPECT_EQ(live.leaked(), 0);
  }
  // Two runs whose end points coincide give neither cross nor dot product.
  std::vector<StraightRun> bad{{5, 100, 5}, {20, 100, 20}, {30, 4, 31}};
  LiveBlocks live;
  AssertRecorder rec;
  EXPECT_EQ(cid2d_straightRuns_merge(bad.data(), s.p.data(), 200, 3, 12, 64), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
  EXPECT_EQ(live.leaked(), 0);
  // Fewer than two runs: nothing to do, nothing allocated.
  FailAllocation fail(1);
  EXPECT_EQ(cid2d_straightRuns_merge(bad.data(), s.p.data(), 200, 1, 12, 64), 0);
}

TEST(ContourRuns, SquaresAndRotatedRectanglesGiveOneRunPerSide) {
  struct Case {
    double w, h, degrees;
  };
  for (const Case& k : {Case{100, 100, 0}, Case{100, 100, 30}, Case{240, 240, 10}, Case{160, 90, 20},
                        Case{160, 90, -35}, Case{60, 60, 45}, Case{300, 120, 63}}) {
    SCOPED_TRACE(testing::Message() << k.w << " x " << k.h << " at " << k.degrees << " degrees");
    const std::vector<Px> corners = rectangle(Px{200.3, 180.7}, k.w, k.h, k.degrees);
    const Analysis a = analyse(polygon(corners, 1.0));
    expectRunsOnSides(a, corners);
  }
}

TEST(ContourRuns, CirclesGiveNoLongRun) {
  for (double r : {20.0, 50.0, 120.0, 400.0}) {
    const Analysis a = analyse(circle(Px{500.5, 500.25}, r, 1.0));
    for (int i = 0; i < a.runCount; ++i) {
      const Px s = toPixels(a.smoothed[a.runs[i].start]), e = toPixels(a.smoothed[a.runs[i].end]);
      EXPECT_LT(std::hypot(e.x - s.x, e.y - s.y), r / 3) << "radius " << r;
    }
  }
}

namespace {

// Renders the shape dark on light, seeds on the row through its middle, and tracks the outline
// from each seed as the 2D searches do; returns the stored contours.
std::vector<std::vector<Point>> trackedOutlines(const shapes::Shape& shape, int row) {
  shapes::Canvas canvas(0, 0, 360, 340);
  canvas.render(shape, 215, 35);
  cimg_imageConst image;
  EXPECT_EQ(cimg_imageConst_constructWrap(&image, canvas.windowPixels(), canvas.width, canvas.height,
                                          canvas.stride()),
            0);
  cid2d_trackingSeed seeds[8];
  int32_t n = 0;
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&image, &row, 1, 8, 45, 0, seeds, &n, 0, 0.0), 0);
  EXPECT_EQ(n, 2) << "one seed on each side of the shape";
  std::vector<std::vector<Point>> out;
  cbt_result result;
  EXPECT_EQ(cbt_result_construct(&result, 0), 0);
  for (int i = 0; i < n; ++i) {
    cbt_runParams run;
    cbt_runParams_init(&run);
    run.threshold = seeds[i].mean;
    run.polarity = seeds[i].polarity;
    std::memcpy(run.startA, seeds[i].startA, sizeof(run.startA));
    std::memcpy(run.startB, seeds[i].startB, sizeof(run.startB));
    run.maxPoints = CID2D_RAW_CONTOUR_CAPACITY;
    EXPECT_EQ(cbt_boundaryTrack(&image, &run, &result), 0);
    EXPECT_EQ(result.flags, CBT_FLAG_FOUND);
    std::vector<Point> contour;
    for (uint32_t k = 0; k < result.count; ++k)
      contour.push_back(Point{(result.points[k].y + 128) >> 4, (result.points[k].x + 128) >> 4});
    out.push_back(contour);
  }
  cbt_result_destruct(&result);
  cimg_imageConst_destruct(&image);
  return out;
}

}  // namespace

TEST(ContourRuns, TrackedOutlinesOfRenderedRectanglesGiveOneRunPerSide) {
  struct Case {
    double w, h, degrees;
  };
  for (const Case& k : {Case{100, 100, 0}, Case{100, 100, 30}, Case{200, 200, 12}, Case{160, 90, 20},
                        Case{160, 90, -35}, Case{220, 120, 63}}) {
    SCOPED_TRACE(testing::Message() << k.w << " x " << k.h << " at " << k.degrees << " degrees");
    shapes::Shape shape;
    shape.parts.push_back(shapes::rectangle(180.4, 170.6, k.w, k.h, k.degrees * M_PI / 180));
    std::vector<Px> corners;
    for (const shapes::Pt& v : shape.parts[0].vertices) corners.push_back(Px{v.x, v.y});
    // Both seeds (the outline seen from outside and from inside the blob) give the same sides.
    for (const std::vector<Point>& contour : trackedOutlines(shape, 171)) expectRunsOnSides(analyse(contour), corners);
  }
}

TEST(ContourRuns, TrackedOutlineOfARenderedDiscGivesNoLongRun) {
  for (double r : {40.0, 90.0, 150.0}) {
    shapes::Shape shape;
    shape.parts.push_back(shapes::disc(180.3, 170.2, r));
    for (const std::vector<Point>& contour : trackedOutlines(shape, 170)) {
      const Analysis a = analyse(contour);
      for (int i = 0; i < a.runCount; ++i) {
        const Px s = toPixels(a.smoothed[a.runs[i].start]), e = toPixels(a.smoothed[a.runs[i].end]);
        EXPECT_LT(std::hypot(e.x - s.x, e.y - s.y), r / 3) << "radius " << r;
      }
    }
  }
}

TEST(ContourRuns, ChainStaysInsideTheScratchAreas) {
  // The longest raw contour the searches keep, halved in place, then every area at its offset in
  // a block of exactly the scratch size (the address sanitizer catches any stray write).
  const std::vector<Px> corners = rectangle(Px{2200, 2200}, 2100, 2100, 7);
  std::vector<Point> raw = polygon(corners, 0.5);
  raw.resize(CID2D_RAW_CONTOUR_CAPACITY);
  std::unique_ptr<unsigned char[]> scratch(new unsigned char[CID2D_SCRATCH_MIN_SIZE]);
  auto* contour = reinterpret_cast<Point*>(scratch.get() + CID2D_SCRATCH_CONTOUR_OFFSET);
  auto* smoothed = reinterpret_cast<Point*>(scratch.get() + CID2D_SCRATCH_SMOOTHED_OFFSET);
  auto* curvature = reinterpret_cast<int32_t*>(scratch.get() + CID2D_SCRATCH_CURVATURE_OFFSET);
  auto* runs = reinterpret_cast<StraightRun*>(scratch.get() + CID2D_SCRATCH_RUNS_OFFSET);
  static_assert(CID2D_SCRATCH_SMOOTHED_OFFSET == CID2D_CONTOUR_CAPACITY * sizeof(Point));
  static_assert(CID2D_SCRATCH_RUNS_OFFSET - CID2D_SCRATCH_CURVATURE_OFFSET == CID2D_CONTOUR_CAPACITY * 4);
  static_assert(CID2D_SCRATCH_MIN_SIZE - CID2D_SCRATCH_RUNS_OFFSET == CID2D_RUN_CAPACITY * sizeof(StraightRun));
  static_assert(sizeof(StraightRun) == 12 && sizeof(Point) == 8);
  std::memcpy(contour, raw.data(), raw.size() * sizeof(Point));

  int32_t n = 0, maximum = 0, k = 0;
  ASSERT_EQ(cid2d_contour_halve(contour, CID2D_RAW_CONTOUR_CAPACITY, &n), 0);
  ASSERT_EQ(n, 8189);
  ASSERT_EQ(cid2d_contour_smooth(smoothed, contour, n, 25), 0);
  ASSERT_EQ(cid2d_contour_curvature(curvature, smoothed, n, 50, &maximum), 0);
  ASSERT_EQ(cid2d_contour_straightRuns(runs, curvature, smoothed, 1, n, 1, 64, CID2D_RUN_CAPACITY, &k), 0);
  EXPECT_GE(k, 3);  // the contour was cut short in its fourth side
  ASSERT_EQ(cid2d_straightRuns_order(runs, k), 0);
  ASSERT_EQ(cid2d_straightRuns_merge(runs, smoothed, n, k, 100, 64), 0);
  ASSERT_EQ(cid2d_straightRuns_trim(runs, k, &k), 0);

  // The densest run list a contour of this length can give, with every run split: still far
  // below the capacity, and never past it.
  for (int32_t i = 0; i < n; ++i) curvature[i] = (i % 4 == 3) ? 1000 : 0;
  for (int32_t i = 0; i < n; ++i) smoothed[i] = Point{(i % 4 == 1) ? 400 : 0, 16 * (i % 4)};
  ASSERT_EQ(cid2d_contour_straightRuns(runs, curvature, smoothed, 1, 8188, 0, 1, CID2D_RUN_CAPACITY, &k), 0);
  EXPECT_EQ(k, 2 * (8188 / 4));
  EXPECT_LT(k, CID2D_RUN_CAPACITY);
}
