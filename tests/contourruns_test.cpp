// Straight-run analysis: smoothing against direct sums, the run and merge rules on made-up
// contours, then the whole chain on exact and on tracked outlines of rectangles and circles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "base/cbt.h"
#include "ci_id/contourruns.h"
#include "support/assert_recorder.hpp"
#include "support/shapes.hpp"

using Point = cid2d_contourPoint;
using StraightRun = cid2d_straightRun;
using shapes::Pt;

bool operator==(const Point& a, const Point& b) { return a.u == b.u && a.v == b.v; }

namespace {

double dist(Pt a, Pt b) { return std::hypot(a.x - b.x, a.y - b.y); }

// A point in tracker units (1/256 pixel) stored as the searches store it: row first, rounded
// to 1/16 pixel, which adds half a pixel to each coordinate.
Point stored(double x, double y) {
  const auto t = [](double c) { return static_cast<int32_t>(std::floor(c * 256.0 + 0.5)); };
  return Point{(t(y) + 128) >> 4, (t(x) + 128) >> 4};
}
Pt toPixels(const Point& p) { return Pt{p.v / 16.0 - 0.5, p.u / 16.0 - 0.5}; }

// Closed outline of a polygon with points about `step` pixels apart, starting at its first corner.
std::vector<Point> outline(const shapes::Polygon& polygon, double step) {
  std::vector<Point> out;
  const auto& v = polygon.vertices;
  for (size_t k = 0; k < v.size(); ++k) {
    const Pt a = v[k], b = v[(k + 1) % v.size()];
    const int m = std::max(1, static_cast<int>(std::lround(dist(a, b) / step)));
    for (int t = 0; t < m; ++t) out.push_back(stored(a.x + (b.x - a.x) * t / m, a.y + (b.y - a.y) * t / m));
  }
  return out;
}

// The polygon rendered dark on light and tracked from its left edge on row 170, stored as the
// searches store it and turned to start at the point nearest the polygon's first corner.
std::vector<Point> tracked(const shapes::Polygon& polygon) {
  shapes::Canvas canvas(0, 0, 360, 340);
  canvas.render(shapes::Shape{{polygon}}, 215, 35);
  cimg_imageConst image;
  EXPECT_EQ(cimg_imageConst_constructWrap(&image, canvas.windowPixels(), canvas.width, canvas.height, canvas.stride()), 0);
  cbt_runParams run;
  cbt_runParams_init(&run);
  run.maxPoints = CID2D_RAW_CONTOUR_CAPACITY;
  run.startA[0] = 180 * 256;
  run.startA[1] = run.startB[1] = 170 * 256;
  cbt_result result;
  EXPECT_EQ(cbt_result_construct(&result, 0), 0);
  EXPECT_EQ(cbt_boundaryTrack(&image, &run, &result), 0);
  std::vector<Point> contour;
  for (uint32_t k = 0; k < result.count; ++k)
    contour.push_back(Point{(result.points[k].y + 128) >> 4, (result.points[k].x + 128) >> 4});
  cbt_result_destruct(&result);
  cimg_imageConst_destruct(&image);
  const Pt c = polygon.vertices[0];
  std::rotate(contour.begin(), std::min_element(contour.begin(), contour.end(), [&](const Point& p, const Point& q) {
                return dist(toPixels(p), c) < dist(toPixels(q), c);
              }), contour.end());
  return contour;
}

// The chain as the Data Matrix search runs it (window from the bounding box, threshold 64).
struct Analysis {
  std::vector<Point> smoothed;
  std::vector<int32_t> curvature;
  std::vector<StraightRun> runs;
  int32_t window = 0, runCount = 0;
};

Analysis analyse(std::vector<Point> raw) {
  Analysis a;
  int32_t n = 0, w = 0, h = 0;
  EXPECT_EQ(cid2d_contour_halve(raw.data(), static_cast<int32_t>(raw.size()), &n), 0);
  EXPECT_EQ(cid2d_contour_getBoundingBox(raw.data(), n, &w, &h, nullptr), 0);
  a.window = std::clamp(std::min(w, h) / 32, 3, 25);
  a.smoothed.resize(n);
  a.curvature.resize(n);
  a.runs.resize(CID2D_RUN_CAPACITY);
  EXPECT_EQ(cid2d_contour_smooth(a.smoothed.data(), raw.data(), n, a.window), 0);
  EXPECT_EQ(cid2d_contour_curvature(a.curvature.data(), a.smoothed.data(), n, 2 * a.window, nullptr), 0);
  EXPECT_EQ(cid2d_contour_straightRuns(a.runs.data(), a.curvature.data(), a.smoothed.data(), 0, n, a.window, 64,
                                       CID2D_RUN_CAPACITY, &a.runCount),
            0);
  return a;
}

// Four runs, one per side of the w x h rectangle: each chord lies on its side and covers it but
// for about W point steps at either corner (the curvature span reaches W halved points each
// way). The curvature peaks within two points of each corner and stays low mid-side.
void expectRunsOnSides(const Analysis& a, const std::vector<Pt>& corners, double w, double h) {
  ASSERT_EQ(a.runCount, 4);
  const int n = static_cast<int>(a.smoothed.size());
  const double step = 2 * (w + h) / n, cut = 2.0 * a.window * step;  // pixels per halved point
  std::set<int> sides;
  for (int r = 0; r < 4; ++r) {
    const Pt s = toPixels(a.smoothed[a.runs[r].start]), e = toPixels(a.smoothed[a.runs[r].end]);
    for (int k = 0; k < 4; ++k) {
      const Pt c0 = corners[k], c1 = corners[(k + 1) % 4];
      auto off = [&](Pt p) {  // distance from the side's line
        return std::abs((c1.x - c0.x) * (p.y - c0.y) - (c1.y - c0.y) * (p.x - c0.x)) / dist(c0, c1);
      };
      if (std::max(off(s), off(e)) >= 1.0) continue;
      sides.insert(k);
      EXPECT_NEAR(dist(s, e), dist(c0, c1) - cut + 0.75 * step, 2.25 * step) << "side " << k << " window " << a.window;
    }
  }
  EXPECT_EQ(sides.size(), 4u);
  auto nearest = [&](Pt c) {  // index of the smoothed point nearest c
    int at = 0;
    for (int i = 0; i < n; ++i) at = dist(toPixels(a.smoothed[i]), c) < dist(toPixels(a.smoothed[at]), c) ? i : at;
    return at;
  };
  const int reach = static_cast<int>(std::min(w, h) / step / 2);
  for (int k = 0; k < 4; ++k) {
    const int at = nearest(corners[k]);
    int arg = at;
    for (int t = at - reach + n; t <= at + reach + n; ++t) arg = a.curvature[t % n] > a.curvature[arg] ? t % n : arg;
    EXPECT_LE(std::min((arg - at + n) % n, (at - arg + n) % n), 2) << "corner " << k;
    EXPECT_GE(a.curvature[arg], 64);
    const Pt c1 = corners[(k + 1) % 4];
    EXPECT_LT(a.curvature[nearest(Pt{(corners[k].x + c1.x) / 2, (corners[k].y + c1.y) / 2})], 32);  // threshold / 2
  }
}

using Spans = std::vector<std::pair<int, int>>;
Spans spans(const std::vector<StraightRun>& runs) {
  Spans out;
  for (const StraightRun& r : runs) out.emplace_back(r.start, r.end);
  return out;
}

// Runs of a contour with made-up curvature; checks the terminator and that nothing is written
// past the capacity.
std::vector<StraightRun> runsOf(const std::vector<int32_t>& c, const std::vector<Point>& p, int32_t split,
                                int32_t minLength, int32_t capacity = 40) {
  std::vector<StraightRun> runs(capacity + 1, StraightRun{9, 9, 9});
  int32_t k = -1;
  EXPECT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), split, static_cast<int32_t>(c.size()), minLength,
                                       64, capacity, &k),
            0);
  EXPECT_TRUE(k >= 0 && k < capacity && runs[k].start == 0 && runs[k].strength == 0 && runs[k].end == 0);
  EXPECT_EQ(runs[capacity].start, 9);
  runs.resize(k);
  return runs;
}

}  // namespace

TEST(ContourRuns, SmoothingIsTheCentredCircularMeanWithTruncatedReciprocal) {
  // Smoothing: the direct sum for every output, independent of the routine's running sum;
  // windows below 2, or longer than the contour, copy it.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> coord(-5000, 200000);
  for (int32_t count : {5, 64, 301}) {
    std::vector<Point> p(count), out(count);
    for (auto& q : p) q = Point{coord(rng), coord(rng)};
    for (int32_t window : {1, 2, 3, 7, 25, count + 1}) {
      ASSERT_EQ(cid2d_contour_smooth(out.data(), p.data(), count, window), 0);
      if (window < 2 || window > count) {
        ASSERT_EQ(out, p) << window;
        continue;
      }
      const int64_t r = 4096 / window, half = window / 2;
      const auto mean = [&](int64_t sum) { return static_cast<int32_t>(((sum + half) * r) >> 12); };
      for (int32_t j = 0; j < count; ++j) {
        int64_t su = 0, sv = 0;
        for (int32_t k = count + j - half; k < count + j - half + window; ++k) {
          su += p[k % count].u;
          sv += p[k % count].v;
        }
        ASSERT_EQ(out[j], (Point{mean(su), mean(sv)})) << "count " << count << " window " << window << " j " << j;
      }
    }
  }
}

TEST(ContourRuns, RunsFollowTheCurvatureThresholdSplitBentRunsAndStopAtTheCapacity) {
  // Points on a straight line, so every candidate run is straight; the curvature is made up.
  std::vector<Point> p(100);
  for (int i = 0; i < 100; ++i) p[i] = Point{2000, 32 * i};
  std::vector<int32_t> c(100, 0);
  c[30] = c[80] = 1000;
  // 0 ... 29, 31 ... 79, and 81 over the end to 29; strength: the squared chord, quarter pixels.
  const auto r = runsOf(c, p, 0, 3);
  EXPECT_EQ(spans(r), (Spans{{0, 29}, {31, 79}, {81, 29}}));
  EXPECT_EQ(r[2].strength, (52 * 8) * (52 * 8));  // 81 to 29 along the line
  // A point at exactly the threshold opens a run but ends an extension; a run needs more than
  // L following points; a run round the whole contour is no side.
  std::fill(c.begin(), c.end(), 1000);
  std::fill(c.begin() + 10, c.begin() + 21, 10);
  c[15] = 64;
  EXPECT_EQ(spans(runsOf(c, p, 0, 3)), (Spans{{10, 14}, {15, 20}}));
  EXPECT_EQ(spans(runsOf(c, p, 0, 4)), (Spans{{15, 20}}));
  EXPECT_TRUE(runsOf(std::vector<int32_t>(100, 0), p, 0, 3).empty());
  // A shallow V along v: u rises then falls by 12 px over 41 points, the curvature flat. Its
  // middle lies 12 px off the chord: dropped unless split into its two straight arms (which
  // needs len > 2 L + 1).
  for (int i = 0; i <= 40; ++i)
    p[i] = Point{static_cast<int32_t>(std::lround(16.0 * 12.0 * (20 - std::abs(20 - i)) / 20.0)), 48 * i};
  std::fill(c.begin() + 41, c.end(), 1000);
  std::fill(c.begin(), c.begin() + 41, 0);
  EXPECT_TRUE(runsOf(c, p, 0, 5).empty());
  EXPECT_EQ(spans(runsOf(c, p, 1, 5)), (Spans{{0, 20}, {20, 40}}));
  EXPECT_TRUE(runsOf(c, p, 1, 20).empty());
  // A comb of 20 flat stretches: the list holds at most capacity - 1 runs.
  std::vector<Point> comb(200);
  std::vector<int32_t> teeth(200, 0);
  for (int i = 0; i < 200; ++i) {
    comb[i] = Point{16 * i, 0};
    teeth[i] = i % 10 ? 0 : 500;
  }
  for (int32_t capacity : {1, 2, 21, 30})
    EXPECT_EQ(runsOf(teeth, comb, 0, 3, capacity).size(), static_cast<size_t>(std::min(20, capacity - 1)));
}

TEST(ContourRuns, MergeJoinsNearlyCollinearRunsAcrossSmallGaps) {
  // Two runs of a contour along +v, one pixel per point: A (31 points) and the weaker B (26
  // points) `gap` points after it, turned by `degrees` about its end next to A and shifted by
  // `offset` pixels. A third short run makes room: the list's last entry never takes part.
  // Gap G = 12 (window 3: up to 4.5 px), tolerance P = 64 (4 px) unless given. A merged run
  // spans both and takes the chord's strength; the absorbed one gets strength 0.
  // A gap of 6 px, the other turning sense, 2.5 degrees, exactly collinear: no merge. Shifted
  // sideways by 10 px, B leaves A over 4 px off the joining chord: a generous gap does not help,
  // a doubled tolerance does.
  const struct { double degrees; int gap; double offset; int32_t g, tolerance; bool merged; } cases[] = {
      {1.0, 4, 0, 12, 64, true},   {1.0, 6, 0, 12, 64, false},   {-1.0, 4, 0, 12, 64, false}, {2.5, 4, 0, 12, 64, false},
      {0.0, 4, 0, 12, 64, false},  {1.0, 4, 10, 100, 64, false}, {1.0, 4, 10, 100, 128, true}};
  std::vector<Point> p(200);
  for (const auto& k : cases) {
    const double slope = std::tan(k.degrees * M_PI / 180);
    const int b = 40 + k.gap;  // B's first point
    for (int i = 0; i < 200; ++i)
      p[i] = Point{i < b ? 0 : static_cast<int32_t>(std::lround(16 * (k.offset + slope * (i - b)))), 16 * i};
    std::vector<StraightRun> runs;
    for (auto [start, end] : {std::pair{10, 40}, {b, b + 25}, {150, 151}}) {
      int64_t d = 0;
      cid2d_contour_distanceSq(&p[start], &p[end], &d);
      runs.push_back(StraightRun{start, static_cast<int32_t>(d), end});
    }
    const std::vector<StraightRun> before = runs;
    ASSERT_EQ(cid2d_straightRuns_merge(runs.data(), p.data(), 200, 3, k.g, k.tolerance), 0);
    SCOPED_TRACE(testing::Message() << k.degrees << " degrees, gap " << k.gap << ", offset " << k.offset);
    if (!k.merged) {
      EXPECT_EQ(std::memcmp(before.data(), runs.data(), sizeof(StraightRun) * 3), 0);
      continue;
    }
    const int64_t du = (p[b + 25].u - p[10].u) >> 2, dv = (p[b + 25].v - p[10].v) >> 2;
    EXPECT_EQ(std::make_tuple(runs[0].start, runs[0].end, int64_t{runs[0].strength}, runs[1].strength),
              std::make_tuple(10, b + 25, du * du + dv * dv, 0));
  }
  // Failures: the flag array cannot be allocated; two runs with neither cross nor dot product.
  std::vector<StraightRun> bad{{5, 100, 5}, {20, 100, 20}, {30, 4, 31}};
  LiveBlocks live;
  {
    FailAllocation fail(1);
    EXPECT_EQ(cid2d_straightRuns_merge(bad.data(), p.data(), 200, 3, 12, 64), csys_errNoMemory);
  }
  AssertRecorder rec;
  EXPECT_EQ(cid2d_straightRuns_merge(bad.data(), p.data(), 200, 3, 12, 64), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
  EXPECT_EQ(live.leaked(), 0);
}

TEST(ContourRuns, RectanglesGiveOneRunPerSideAndCirclesNoLongRun) {
  // Exact outlines, and (where they fit the canvas) tracked outlines of rendered ones; each
  // outline starts at a corner, so that no side's run wraps past the last point.
  const struct { double w, h, degrees; bool tracked; } cases[] = {
      {100, 100, 0, true}, {200, 200, 12, true}, {160, 90, -35, true}, {220, 120, 63, true}, {300, 120, 63, false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << k.w << " x " << k.h << " at " << k.degrees << " degrees");
    const auto polygon = shapes::rectangle(180.4, 170.6, k.w, k.h, k.degrees * M_PI / 180);
    expectRunsOnSides(analyse(outline(polygon, 1.0)), polygon.vertices, k.w, k.h);
    if (k.tracked) expectRunsOnSides(analyse(tracked(polygon)), polygon.vertices, k.w, k.h);
  }
  for (double r : {20.0, 90.0, 400.0}) {
    const auto disc = shapes::disc(180.3, 170.2, r, static_cast<int>(std::lround(2 * M_PI * r)));
    for (const auto& contour : {outline(disc, 1.0), r <= 150 ? tracked(disc) : outline(disc, 1.0)}) {
      const Analysis a = analyse(contour);
      for (int i = 0; i < a.runCount; ++i)
        EXPECT_LT(dist(toPixels(a.smoothed[a.runs[i].start]), toPixels(a.smoothed[a.runs[i].end])), r / 3) << r;
    }
  }
}
