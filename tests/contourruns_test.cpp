// Straight-run analysis: each step against direct sums and closed forms, then the whole chain
// on exact and on tracked outlines of rectangles and circles, and inside a scratch block of the
// exact size the searches use.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
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
    const int m = std::max(1, static_cast<int>(std::lround(std::hypot(b.x - a.x, b.y - a.y) / step)));
    for (int t = 0; t < m; ++t) out.push_back(stored(a.x + (b.x - a.x) * t / m, a.y + (b.y - a.y) * t / m));
  }
  return out;
}

// The chain as the Data Matrix search runs it (window from the bounding box, threshold 64).
struct Analysis {
  std::vector<Point> halved, smoothed;
  std::vector<int32_t> curvature;
  std::vector<StraightRun> runs;
  int32_t window = 0, runCount = 0;
};

Analysis analyse(std::vector<Point> raw) {
  Analysis a;
  int32_t n = 0, w = 0, h = 0;
  EXPECT_EQ(cid2d_contour_halve(raw.data(), static_cast<int32_t>(raw.size()), &n), 0);
  a.halved.assign(raw.begin(), raw.begin() + n);
  EXPECT_EQ(cid2d_contour_getBoundingBox(a.halved.data(), n, &w, &h, nullptr), 0);
  a.window = std::clamp(std::min(w, h) / 32, 3, 25);
  a.smoothed.resize(n);
  a.curvature.resize(n);
  a.runs.resize(CID2D_RUN_CAPACITY);
  EXPECT_EQ(cid2d_contour_smooth(a.smoothed.data(), a.halved.data(), n, a.window), 0);
  EXPECT_EQ(cid2d_contour_curvature(a.curvature.data(), a.smoothed.data(), n, 2 * a.window, nullptr), 0);
  EXPECT_EQ(cid2d_contour_straightRuns(a.runs.data(), a.curvature.data(), a.smoothed.data(), 0, n, a.window, 64,
                                       CID2D_RUN_CAPACITY, &a.runCount),
            0);
  EXPECT_EQ(cid2d_straightRuns_order(a.runs.data(), a.runCount), 0);
  return a;
}

double chordLength(const Analysis& a, const StraightRun& r) {
  const Pt s = toPixels(a.smoothed[r.start]), e = toPixels(a.smoothed[r.end]);
  return std::hypot(e.x - s.x, e.y - s.y);
}

// Four runs, one per side, in order of strength (the squared chord in quarter pixels): each
// chord lies on its side and covers it but for about W point steps at either corner (the
// curvature span reaches W halved points each way). The curvature peaks within two points of
// each corner and stays low mid-side. The outline must start at a corner, so that no side's run
// wraps past the last point.
void expectRunsOnSides(const Analysis& a, const std::vector<Pt>& corners) {
  ASSERT_EQ(a.runCount, 4);
  const int n = static_cast<int>(a.halved.size());
  double perimeter = 0;
  for (int k = 0; k < 4; ++k) perimeter += std::hypot(corners[(k + 1) % 4].x - corners[k].x, corners[(k + 1) % 4].y - corners[k].y);
  const double step = perimeter / n, cut = 2.0 * a.window * step;  // pixels per halved point
  std::set<int> sides;
  for (int r = 0; r < 4; ++r) {
    const StraightRun& run = a.runs[r];
    const Pt s = toPixels(a.smoothed[run.start]), e = toPixels(a.smoothed[run.end]);
    for (int k = 0; k < 4; ++k) {
      const Pt c0 = corners[k], c1 = corners[(k + 1) % 4];
      const double side = std::hypot(c1.x - c0.x, c1.y - c0.y);
      auto off = [&](Pt p) { return std::abs((c1.x - c0.x) * (p.y - c0.y) - (c1.y - c0.y) * (p.x - c0.x)) / side; };
      if (std::max(off(s), off(e)) >= 1.0) continue;
      sides.insert(k);
      EXPECT_GE(chordLength(a, run), side - cut - 1.5 * step) << "side " << k << " window " << a.window;
      EXPECT_LE(chordLength(a, run), side - cut + 3.0 * step) << "side " << k << " window " << a.window;
    }
    EXPECT_NEAR(std::sqrt(static_cast<double>(run.strength)), 4 * chordLength(a, run), 2.0);
    EXPECT_GE(a.runs[std::max(r - 1, 0)].strength, run.strength);
  }
  EXPECT_EQ(sides.size(), 4u);
  std::array<int, 4> at{};  // index of the halved point nearest each corner, in contour order
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < n; ++i) {
      const Pt p = toPixels(a.halved[i]), q = toPixels(a.halved[at[k]]);
      if (std::hypot(p.x - corners[k].x, p.y - corners[k].y) < std::hypot(q.x - corners[k].x, q.y - corners[k].y)) at[k] = i;
    }
  std::sort(at.begin(), at.end());
  for (int k = 0; k < 4; ++k) {
    const int prev = at[(k + 3) % 4], here = at[k], next = at[(k + 1) % 4];
    const int from = (prev + ((here - prev + n) % n) / 2) % n, len = ((next - prev + n) % n) / 2;
    int arg = from;
    for (int t = 0; t <= len; ++t)
      if (a.curvature[(from + t) % n] > a.curvature[arg]) arg = (from + t) % n;
    EXPECT_LE(std::min((arg - here + n) % n, (here - arg + n) % n), 2) << "corner " << k;
    EXPECT_GE(a.curvature[arg], 64);
    EXPECT_LT(a.curvature[(here + ((next - here + n) % n) / 2) % n], 32);  // half the run threshold
  }
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
  run.maxPoints = CID2D_RAW_CONTOUR_CAPACITY, run.startA[0] = 180 * 256, run.startA[1] = run.startB[1] = 170 * 256;
  cbt_result result;
  EXPECT_EQ(cbt_result_construct(&result, 0), 0);
  EXPECT_EQ(cbt_boundaryTrack(&image, &run, &result), 0);
  EXPECT_EQ(result.flags, CBT_FLAG_FOUND);
  std::vector<Point> contour;
  for (uint32_t k = 0; k < result.count; ++k) contour.push_back(Point{(result.points[k].y + 128) >> 4, (result.points[k].x + 128) >> 4});
  cbt_result_destruct(&result);
  cimg_imageConst_destruct(&image);
  const Point c = stored(polygon.vertices[0].x, polygon.vertices[0].y);
  std::rotate(contour.begin(), std::min_element(contour.begin(), contour.end(), [&](const Point& p, const Point& q) {
                return std::hypot(p.u - c.u, p.v - c.v) < std::hypot(q.u - c.u, q.v - c.v);
              }), contour.end());
  return contour;
}

std::vector<std::pair<int, int>> spans(const std::vector<StraightRun>& runs) {
  std::vector<std::pair<int, int>> out;
  for (const StraightRun& r : runs) out.emplace_back(r.start, r.end);
  return out;
}

// Runs of a contour with made-up curvature; checks the terminator and that nothing is written
// past the capacity.
std::vector<StraightRun> runsOf(const std::vector<int32_t>& c, const std::vector<Point>& p, int32_t split,
                                int32_t minLength, int32_t threshold, int32_t capacity = 40) {
  std::vector<StraightRun> runs(capacity + 1, StraightRun{9, 9, 9});
  int32_t k = -1;
  EXPECT_EQ(cid2d_contour_straightRuns(runs.data(), c.data(), p.data(), split, static_cast<int32_t>(c.size()), minLength,
                                       threshold, capacity, &k),
            0);
  EXPECT_TRUE(k >= 0 && k < capacity);
  EXPECT_EQ(runs[k].start | runs[k].strength | runs[k].end, 0);
  EXPECT_EQ(runs[capacity].start, 9);
  runs.resize(k);
  return runs;
}

}  // namespace

TEST(ContourRuns, DistancesHalvingAndBoundingBoxRoundDown) {
  // Differences are shifted to quarter pixels (rounding down, so the argument order can change
  // the result); the line distance is d^2 / |n|^2, or the distance to a when a == b.
  struct Case {
    Point p, a, b;
    int64_t expected;  // b.u < 0: the point distance from p to a
  } const cases[] = {{{0, 0}, {40, 30}, {-1, -1}, 8 * 8 + 10 * 10},     {{40, 30}, {0, 0}, {-1, -1}, 7 * 7 + 10 * 10},
                     {{160, 777}, {0, 0}, {0, 400}, 40 * 40},           {{64, 0}, {0, 0}, {400, 400}, 128},
                     {{160, 777}, {0, 0}, {0, 0}, 40 * 40 + 195 * 195}};
  for (const Case& k : cases) {
    int64_t d = -1;
    ASSERT_EQ(k.b.u < 0 ? cid2d_contour_distanceSq(&k.p, &k.a, &d) : cid2d_contour_lineDistanceSq(&k.p, &k.a, &k.b, &d), 0);
    EXPECT_EQ(d, k.expected) << k.p.u << " " << k.b.v;
  }
  // Halving averages pairs with a floor shift and drops an odd last point.
  std::vector<Point> c{{0, 10}, {3, 11}, {-3, 20}, {0, 20}, {100, 7}, {101, -9}, {55, 55}};
  int32_t n = -1;
  ASSERT_EQ(cid2d_contour_halve(c.data(), 7, &n), 0);
  EXPECT_EQ(std::vector<Point>(c.begin(), c.begin() + n), (std::vector<Point>{{1, 10}, {-2, 20}, {100, -1}}));
  // 20.9 px in v and 3.0 px in u: whole pixels, rounded down; an empty contour gives zeros.
  const std::vector<Point> r{{16, 16}, {64, 16}, {64, 350}, {40, 200}};
  for (int32_t count : {4, 0}) {
    int32_t w = -1, h = -1, e = -1;
    ASSERT_EQ(cid2d_contour_getBoundingBox(r.data(), count, &w, &h, &e), 0);
    EXPECT_EQ((std::array{w, h, e}), (count ? std::array{20, 3, 20} : std::array{0, 0, 0}));
  }
  AssertRecorder rec;
  EXPECT_EQ(cid2d_contour_lineDistanceSq(&r[0], &r[1], &r[2], nullptr), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
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
      // Direct sum for every output, independent of the routine's running sum.
      const int64_t r = 4096 / w, h = w / 2;
      for (int32_t j = 0; j < n; ++j) {
        int64_t su = 0, sv = 0;
        for (int32_t k = 0; k < w; ++k) su += c[((j - h + k) % n + n) % n].u, sv += c[((j - h + k) % n + n) % n].v;
        ASSERT_EQ(out[j], (Point{static_cast<int32_t>(((su + h) * r) >> 12), static_cast<int32_t>(((sv + h) * r) >> 12)}))
            << "n " << n << " w " << w << " j " << j;
      }
    }
  }
  // Windows below 2, or longer than the contour, copy it; other overlaps are refused.
  std::vector<Point> line(40), out(40);
  for (int i = 0; i < 40; ++i) line[i] = Point{1000 + 16 * i, 3000 - 8 * i};
  for (int32_t w : {0, 1, 41}) {
    std::fill(out.begin(), out.end(), Point{-1, -1});
    ASSERT_EQ(cid2d_contour_smooth(out.data(), line.data(), 40, w), 0);
    EXPECT_EQ(out, line) << w;
  }
  AssertRecorder rec;
  EXPECT_EQ(cid2d_contour_smooth(line.data() + 1, line.data(), 30, 5), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(ContourRuns, CurvatureIsTheSecondDifferenceAcrossHalfTheSpan) {
  // u = 3 m^2: the second difference across h points either side is 6 h^2 inside the
  // sequence; v is linear and adds nothing there. At index 0 the neighbours wrap round.
  const int n = 60;
  std::vector<Point> p(n);
  for (int m = 0; m < n; ++m) p[m] = Point{3 * m * m, 7 * m - 100};
  for (int32_t span : {2, 6, 7}) {
    const int h = span / 2;
    std::vector<int32_t> c(n, -1);
    int32_t maximum = -1;
    ASSERT_EQ(cid2d_contour_curvature(c.data(), p.data(), n, span, &maximum), 0);
    for (int m = h; m < n - h; ++m) ASSERT_EQ(c[m], 6 * h * h) << "span " << span << " m " << m;
    EXPECT_EQ(c[0], 3 * (n - h) * (n - h) + 3 * h * h + 7 * n);
    EXPECT_EQ(maximum, *std::max_element(c.begin(), c.end()));
  }
}

TEST(ContourRuns, RunsFollowTheCurvatureThresholdSplitBentRunsAndStopAtTheCapacity) {
  // Points on a straight line, so every candidate run is straight; the curvature is made up.
  const int n = 100;
  std::vector<Point> p(n);
  for (int i = 0; i < n; ++i) p[i] = Point{2000, 32 * i};
  std::vector<int32_t> c(n, 0);
  c[30] = c[80] = 1000;
  // 0 ... 29, 31 ... 79, and 81 over the end to 29; strength: the squared chord, quarter pixels.
  const auto r = runsOf(c, p, 0, 3, 64);
  EXPECT_EQ(spans(r), (std::vector<std::pair<int, int>>{{0, 29}, {31, 79}, {81, 29}}));
  EXPECT_EQ(r[0].strength, (29 * 8) * (29 * 8));
  EXPECT_EQ(r[2].strength, (52 * 8) * (52 * 8));  // 81 to 29 along the line
  // A point at exactly the threshold opens a run but ends an extension; a run needs more than
  // L following points; a run round the whole contour is no side.
  std::fill(c.begin(), c.end(), 1000);
  std::fill(c.begin() + 10, c.begin() + 21, 10);
  c[15] = 64;
  EXPECT_EQ(spans(runsOf(c, p, 0, 3, 64)), (std::vector<std::pair<int, int>>{{10, 14}, {15, 20}}));
  EXPECT_EQ(spans(runsOf(c, p, 0, 4, 64)), (std::vector<std::pair<int, int>>{{15, 20}}));
  EXPECT_TRUE(runsOf(std::vector<int32_t>(n, 0), p, 0, 3, 64).empty());

  // A shallow V along v: u rises then falls by 12 px over 41 points, the curvature flat. Its
  // middle lies 12 px off the chord: dropped unless split into its two straight arms (which
  // needs len > 2 L + 1), or tolerated by a threshold with sqrt(9 T) / 4 px > 12.
  for (int i = 0; i <= 40; ++i) p[i] = Point{static_cast<int32_t>(std::lround(16.0 * 12.0 * (20 - std::abs(20 - i)) / 20.0)), 48 * i};
  std::fill(c.begin(), c.end(), 1000);
  std::fill(c.begin(), c.begin() + 41, 0);
  EXPECT_TRUE(runsOf(c, p, 0, 5, 64).empty());
  EXPECT_EQ(spans(runsOf(c, p, 1, 5, 64)), (std::vector<std::pair<int, int>>{{0, 20}, {20, 40}}));
  EXPECT_TRUE(runsOf(c, p, 1, 20, 64).empty());
  EXPECT_EQ(runsOf(c, p, 0, 5, 300).size(), 1u);

  // A comb of 20 flat stretches: the list holds at most capacity - 1 runs.
  std::vector<Point> comb(200);
  std::vector<int32_t> teeth(200, 0);
  for (int i = 0; i < 200; ++i) comb[i] = Point{16 * i, 0}, teeth[i] = i % 10 ? 0 : 500;
  for (int32_t capacity : {1, 2, 4, 21, 30}) EXPECT_EQ(runsOf(teeth, comb, 0, 3, 64, capacity).size(), std::min(20, capacity - 1));
  AssertRecorder rec;
  int32_t k = 0;
  StraightRun none[1];
  EXPECT_EQ(cid2d_contour_straightRuns(none, teeth.data(), comb.data(), 0, 200, 3, 64, 0, &k), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(ContourRuns, OrderTakesTheFirstOfTheLargestAndTrimKeepsOneRun) {
  std::vector<StraightRun> r{{0, 5, 0}, {1, 9, 1}, {2, 9, 2}, {3, 1, 3}, {4, 9, 4}};
  ASSERT_EQ(cid2d_straightRuns_order(r.data(), 5), 0);
  EXPECT_EQ(spans(r), (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {4, 4}, {0, 0}, {3, 3}}));
  const std::vector<StraightRun> t{{0, 4, 0}, {0, 3, 0}, {0, 0, 0}, {0, 0, 0}}, zeros(3, StraightRun{1, 0, 1});
  for (auto [runs, count, expected] : {std::tuple{&t, 4, 2}, {&zeros, 3, 1}, {&zeros, 0, 0}}) {
    int32_t n = -1;
    ASSERT_EQ(cid2d_straightRuns_trim(runs->data(), count, &n), 0);
    EXPECT_EQ(n, expected);
  }
}

namespace {

// Two runs of a contour along +v, one pixel per point, on u = 0: A (31 points) and the weaker
// B (26 points) `gap` points after it, or before it; B is turned by `degrees` about its end
// next to A and shifted by `offsetPx`. A third short run makes room: the list's last entry
// never takes part in a merge.
struct MergeScene {
  std::vector<Point> p;
  std::vector<StraightRun> runs;
};

MergeScene twoRuns(double degrees, int gap, double offsetPx, bool bBefore) {
  MergeScene s;
  for (int i = 0; i < 200; ++i) s.p.push_back(Point{0, 16 * i});
  const std::array<int, 2> a = bBefore ? std::array{60, 90} : std::array{10, 40};
  const std::array<int, 2> b = bBefore ? std::array{60 - gap - 25, 60 - gap} : std::array{40 + gap, 40 + gap + 25};
  const int pivot = bBefore ? b[1] : b[0];
  for (int i = b[0]; i <= b[1]; ++i)
    s.p[i].u = static_cast<int32_t>(std::lround(16 * (offsetPx + std::tan(degrees * M_PI / 180) * (i - pivot))));
  for (auto [start, end] : {a, b, std::array{150, 151}}) {
    int64_t d = 0;
    cid2d_contour_distanceSq(&s.p[start], &s.p[end], &d);
    s.runs.push_back(StraightRun{start, static_cast<int32_t>(d), end});
  }
  return s;
}

}  // namespace

TEST(ContourRuns, MergeJoinsNearlyCollinearRunsAcrossSmallGaps) {
  // Gap G = 12 (window 3: up to 4.5 px), tolerance P = 64 (4 px) unless given. A merged run
  // spans both and takes the chord's strength; the absorbed one gets strength 0.
  struct Case {
    double degrees;
    int gap;
    double offset;
    bool bBefore;
    int32_t g, tolerance, start, end;  // of run 0 afterwards; start < 0: no merge
  } const cases[] = {
      {1.0, 4, 0, false, 12, 64, 10, 69}, {1.0, 4, 0, true, 12, 64, 31, 90},
      // Gap of 6 px, the other turning sense, 3 degrees, exactly collinear: no merge.
      {1.0, 6, 0, false, 12, 64, -1, 0}, {-1.0, 4, 0, false, 12, 64, -1, 0}, {3.0, 4, 0, false, 12, 64, -1, 0},
      {0.0, 4, 0, false, 12, 64, -1, 0},
      // Shifted sideways by 10 px, B leaves A over 4 px off the joining chord: a generous gap
      // does not help, a doubled tolerance does.
      {1.0, 4, 10, false, 100, 64, -1, 0}, {1.0, 4, 10, false, 100, 128, 10, 69}};
  for (const Case& k : cases) {
    MergeScene s = twoRuns(k.degrees, k.gap, k.offset, k.bBefore);
    ASSERT_LT(s.runs[1].strength, s.runs[0].strength);
    const std::vector<StraightRun> before = s.runs;
    ASSERT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, k.g, k.tolerance), 0);
    SCOPED_TRACE(testing::Message() << k.degrees << " degrees, gap " << k.gap << ", offset " << k.offset);
    if (k.start < 0) {
      EXPECT_EQ(std::memcmp(before.data(), s.runs.data(), sizeof(StraightRun) * 3), 0);
      continue;
    }
    int64_t chord = 0;
    cid2d_contour_distanceSq(&s.p[k.start], &s.p[k.end], &chord);
    EXPECT_EQ(std::make_tuple(s.runs[0].start, s.runs[0].end, int64_t{s.runs[0].strength}, s.runs[1].strength),
              std::make_tuple(k.start, k.end, chord, 0));
  }
  // Failures: the flag array cannot be allocated; two runs with neither cross nor dot
  // product. Fewer than two runs allocate nothing.
  MergeScene s = twoRuns(1.0, 4, 0.0, false);
  std::vector<StraightRun> bad{{5, 100, 5}, {20, 100, 20}, {30, 4, 31}};
  LiveBlocks live;
  {
    FailAllocation fail(1);
    EXPECT_EQ(cid2d_straightRuns_merge(bad.data(), s.p.data(), 200, 1, 12, 64), 0);
    EXPECT_EQ(cid2d_straightRuns_merge(s.runs.data(), s.p.data(), 200, 3, 12, 64), csys_errNoMemory);
  }
  AssertRecorder rec;
  EXPECT_EQ(cid2d_straightRuns_merge(bad.data(), s.p.data(), 200, 3, 12, 64), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
  EXPECT_EQ(live.leaked(), 0);
}

TEST(ContourRuns, RectanglesGiveOneRunPerSideAndCirclesNoLongRun) {
  // Exact outlines, and (where they fit the canvas) tracked outlines of rendered ones.
  struct Case {
    double w, h, degrees;
    bool tracked;
  } const cases[] = {{100, 100, 0, true},   {100, 100, 30, true},  {240, 240, 10, false}, {200, 200, 12, true},
                     {160, 90, 20, true},   {160, 90, -35, true},  {60, 60, 45, false},   {220, 120, 63, true},
                     {300, 120, 63, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.w << " x " << k.h << " at " << k.degrees << " degrees");
    const auto polygon = shapes::rectangle(180.4, 170.6, k.w, k.h, k.degrees * M_PI / 180);
    expectRunsOnSides(analyse(outline(polygon, 1.0)), polygon.vertices);
    if (k.tracked) expectRunsOnSides(analyse(tracked(polygon)), polygon.vertices);
  }
  for (double r : {20.0, 40.0, 90.0, 150.0, 400.0}) {
    const auto disc = shapes::disc(180.3, 170.2, r, static_cast<int>(std::lround(2 * M_PI * r)));
    for (const auto& contour : {outline(disc, 1.0), r <= 150 ? tracked(disc) : outline(disc, 1.0)}) {
      const Analysis a = analyse(contour);
      for (int i = 0; i < a.runCount; ++i) EXPECT_LT(chordLength(a, a.runs[i]), r / 3) << "radius " << r;
    }
  }
}

TEST(ContourRuns, ChainStaysInsideTheScratchAreas) {
  // The longest raw contour the searches keep, halved in place, then every area at its offset
  // in a block of exactly the scratch size (the address sanitizer catches any stray write).
  const std::vector<Point> raw = outline(shapes::rectangle(2200, 2200, 2100, 2100, 7 * M_PI / 180), 0.5);
  std::unique_ptr<unsigned char[]> scratch(new unsigned char[CID2D_SCRATCH_MIN_SIZE]);
  auto* contour = reinterpret_cast<Point*>(scratch.get() + CID2D_SCRATCH_CONTOUR_OFFSET);
  auto* smoothed = reinterpret_cast<Point*>(scratch.get() + CID2D_SCRATCH_SMOOTHED_OFFSET);
  auto* curvature = reinterpret_cast<int32_t*>(scratch.get() + CID2D_SCRATCH_CURVATURE_OFFSET);
  auto* runs = reinterpret_cast<StraightRun*>(scratch.get() + CID2D_SCRATCH_RUNS_OFFSET);
  static_assert(CID2D_SCRATCH_SMOOTHED_OFFSET == CID2D_CONTOUR_CAPACITY * sizeof(Point));
  static_assert(CID2D_SCRATCH_RUNS_OFFSET - CID2D_SCRATCH_CURVATURE_OFFSET == CID2D_CONTOUR_CAPACITY * 4);
  static_assert(CID2D_SCRATCH_MIN_SIZE - CID2D_SCRATCH_RUNS_OFFSET == CID2D_RUN_CAPACITY * sizeof(StraightRun));
  std::memcpy(contour, raw.data(), CID2D_RAW_CONTOUR_CAPACITY * sizeof(Point));
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
  // The densest run list a contour of this length can give, every run split: still below the
  // capacity, and never past it.
  for (int32_t i = 0; i < n; ++i) curvature[i] = (i % 4 == 3) ? 1000 : 0, smoothed[i] = Point{(i % 4 == 1) ? 400 : 0, 16 * (i % 4)};
  ASSERT_EQ(cid2d_contour_straightRuns(runs, curvature, smoothed, 1, 8188, 0, 1, CID2D_RUN_CAPACITY, &k), 0);
  EXPECT_EQ(k, 2 * (8188 / 4));
}
