// Boundary tracker: outlines of anti-aliased shapes against a brute-force crossing set and the
// shapes' level lines, iso-circles of a cone for the adaptive threshold, start choice, limits,
// saddles, a random-image partition property and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "base/cbt.h"
#include "support/assert_recorder.hpp"
#include "support/shapes.hpp"

namespace {

using shapes::Canvas;
using shapes::Pt;
using shapes::Shape;
using Raw = std::pair<int32_t, int32_t>;

constexpr uint8_t kDark = 40, kLight = 216;
constexpr int kMid = 128;  // the 50 % coverage level

struct View {
  explicit View(const Canvas& c) {
    EXPECT_EQ(cimg_imageConst_constructWrap(&image, c.windowPixels(), c.width, c.height, c.stride()), 0);
    EXPECT_EQ(cimg_imageConst_setWindowOffset(&image, c.x0, c.y0), 0);
  }
  ~View() { cimg_imageConst_destruct(&image); }
  cimg_imageConst image;
};

struct Result {
  Result() { EXPECT_EQ(cbt_result_construct(&r, 0), 0); }
  ~Result() { cbt_result_destruct(&r); }
  std::vector<Raw> raw() const {
    std::vector<Raw> v;
    for (uint32_t i = 0; i < r.count; ++i) v.emplace_back(r.points[i].x, r.points[i].y);
    return v;
  }
  double signedArea() const {
    double s = 0;
    for (uint32_t i = 0; i < r.count; ++i) {
      const cbt_point a = r.points[i], b = r.points[(i + 1) % r.count];
      s += (static_cast<double>(a.x) * b.y - static_cast<double>(b.x) * a.y) / 65536.0;
    }
    return 0.5 * s;
  }
  cbt_result r;
};

cbt_runParams params(int polarity, int threshold = kMid) {
  cbt_runParams p;
  EXPECT_EQ(cbt_runParams_init(&p), 0);
  p.polarity = polarity;
  p.threshold = threshold;
  return p;
}

void setStart(cbt_runParams* p, double bx, double by, double ax, double ay) {
  const auto fix = [](double v) { return static_cast<int32_t>(std::lround(v * 256)); };
  p->startB[0] = fix(bx);
  p->startB[1] = fix(by);
  p->startA[0] = fix(ax);
  p->startA[1] = fix(ay);
}

// Seed across the first edge met walking right along row y from x: B just before it, A two
// pixels after it, as the seed finders place them.
void seedOnRow(cbt_runParams* p, const Canvas& c, int y, int x) {
  const bool first = c.at(x, y) < p->threshold;
  while (x + 1 < c.x0 + c.width && (c.at(x + 1, y) < p->threshold) == first) ++x;
  setStart(p, x - 1, y, x + 2, y);
}

// Brute force: every pixel-centre segment of the window whose ends lie on different sides of
// the threshold 128, with its crossing interpolated from the blob's end, rounded to 1/256 pixel.
std::set<Raw> crossingSet(const Canvas& c, bool darkBlob) {
  std::set<Raw> out;
  auto blob = [&](int x, int y) { return (c.at(x, y) < kMid) == darkBlob; };
  for (int y = c.y0; y < c.y0 + c.height; ++y)
    for (int x = c.x0; x < c.x0 + c.width; ++x)
      for (auto [nx, ny] : {std::pair{x + 1, y}, std::pair{x, y + 1}}) {
        if (nx >= c.x0 + c.width || ny >= c.y0 + c.height || blob(x, y) == blob(nx, ny)) continue;
        const int px = blob(x, y) ? x : nx, py = blob(x, y) ? y : ny, qx = x + nx - px, qy = y + ny - py;
        const double s = (kMid - c.at(px, py)) / static_cast<double>(c.at(qx, qy) - c.at(px, py));
        out.emplace(std::lround(256.0 * (px + s * (qx - px))), std::lround(256.0 * (py + s * (qy - py))));
      }
  return out;
}

// Walks a closed outline: each point once, consecutive points (the last and the first too) in
// one cell, every point a crossing of the brute-force set or, closing along the window's edge,
// a pixel centre on that edge. Returns the crossings it holds.
std::set<Raw> walk(const Result& res, const Canvas& c, const std::set<Raw>& crossings) {
  const auto raw = res.raw();
  std::set<Raw> own;
  EXPECT_EQ(std::set<Raw>(raw.begin(), raw.end()).size(), raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto [x, y] = raw[i];
    const auto [nx, ny] = raw[(i + 1) % raw.size()];
    EXPECT_LE(std::max(std::abs(x - nx), std::abs(y - ny)), 256);
    if (crossings.count(raw[i])) {
      own.insert(raw[i]);
    } else {
      EXPECT_TRUE(x % 256 == 0 && y % 256 == 0 &&
                  (x == c.x0 * 256 || x == (c.x0 + c.width - 1) * 256 || y == c.y0 * 256 || y == (c.y0 + c.height - 1) * 256));
    }
  }
  return own;
}

// A walk whose crossings lie within 0.25 pixel of the shape's anti-aliased level line, all the
// crossings when `whole`, with its flags, more than 5 edge points exactly when `border`, and
// its signed area (positive: clockwise on screen).
void checkOutline(const Result& res, const Canvas& c, const Shape& shape, const std::set<Raw>& crossings, bool border,
                  bool whole, double area) {
  ASSERT_EQ(res.r.flags, CBT_FLAG_FOUND | (border ? CBT_FLAG_BORDER : 0u));
  const auto own = walk(res, c, crossings);
  EXPECT_TRUE(!whole || own == crossings);
  EXPECT_NEAR(res.signedArea(), area, 0.01 * std::fabs(area) + 2.0);
  int offLevel = 0;
  for (const auto& [x, y] : own) offLevel += !shape.nearLevelLine(Pt{x / 256.0, y / 256.0}, 0.25);
  EXPECT_EQ(offLevel, 0);
  EXPECT_EQ(res.r.count - own.size() > 5, border);
}

}  // namespace

TEST(BoundaryTrack, RenderedShapesBothPolaritiesInsideAndAcrossTheWindowEdge) {
  Canvas c(-7, 3, 112, 104, 4);
  const double X = c.x0, Y = c.y0;
  std::vector<std::pair<shapes::Polygon, bool>> cases;
  for (double deg : {0.0, 17.0, 45.0})
    cases.push_back({shapes::rectangle(X + 60.3, Y + 54.6, 52, 52, deg * M_PI / 180), false});
  for (double r : {2.6, 19.8}) cases.push_back({shapes::disc(X + 55.37, Y + 51.81, r), false});
  // Across the left edge, over the top-left corner, wider than the window.
  for (auto [cx, cy, w, h, deg] : {std::array{3.0, 40.0, 30.0, 20.0, 0.0}, {5.2, 4.7, 24, 18, 0}, {55, 40, 140, 21, 3}})
    cases.push_back({shapes::rectangle(X + cx, Y + cy, w, h, deg * M_PI / 180), true});
  for (int polarity : {1, 0})
    for (const auto& [polygon, border] : cases) {
      const Shape shape{{polygon}};
      c.render(shape, polarity ? kLight : kDark, polarity ? kDark : kLight);
      c.fillGuard(polarity ? kDark : kLight);  // blob everywhere outside the window
      View view(c);
      Pt centre{0, 0};
      const double share = 1.0 / polygon.vertices.size();
      for (const Pt& v : polygon.vertices) {
        centre.x += share * v.x;
        centre.y += share * v.y;
      }
      cbt_runParams p = params(polarity);
      seedOnRow(&p, c, static_cast<int>(std::lround(centre.y)), static_cast<int>(std::lround(centre.x)));
      Result res;
      ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
      SCOPED_TRACE(testing::Message() << "polarity " << polarity << " shape at " << centre.x << ", " << centre.y);
      // The whole crossing set, clockwise round the shape's area inside the window's
      // pixel-centre box.
      checkOutline(res, c, shape, crossingSet(c, polarity != 0), border, true,
                   polygon.areaInBox(c.x0, c.y0, c.x0 + c.width - 1, c.y0 + c.height - 1));
    }

  // Nested blobs, one outline at a time: a dark ring (outer square minus a hole) with a dark
  // square in the hole. Outer edge; hole edge as the ring's inner outline (anticlockwise) and
  // as the light blob's outer outline (clockwise); the core's edge.
  const auto outer = shapes::rectangle(60.4, 60.2, 90.0, 90.0, 0.2), core = shapes::rectangle(60.4, 60.2, 20.0, 20.0, -0.3);
  const auto hole = shapes::rectangle(60.4, 60.2, 56.0, 56.0, 0.2, -1);
  const Shape scene{{outer, hole, core}};
  Canvas n(0, 0, 121, 121);
  n.render(scene, kLight, kDark);
  View view(n);
  const double ring = outer.area(), gap = hole.area(), inner = core.area();
  for (auto [polarity, fromX, area] : {std::tuple{1, 0, ring}, {1, 25, -gap}, {0, 25, gap}, {1, 40, inner}}) {
    Result res;
    cbt_runParams p = params(polarity);
    seedOnRow(&p, n, 60, fromX);
    ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
    SCOPED_TRACE(fromX);
    checkOutline(res, n, scene, crossingSet(n, polarity != 0), false, false, area);
  }
}

TEST(BoundaryTrack, AdaptiveThresholdPicksTheIsoLineOfACone) {
  // A cone of value 250 - 5 r about (cx, cy): the iso-line of level T is the circle of radius
  // (250 - T) / 5. The bright core is the blob with polarity 0; polarity 1 gives the same circle
  // the other way round.
  constexpr double kX = 40.3, kY = 38.6;
  Canvas c(0, 0, 81, 79);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      c.at(x, y) = static_cast<uint8_t>(std::lround(std::max(0.0, 250.0 - 5.0 * std::hypot(x - kX, y - kY))));
  View view(c);
  // Level sixteenths of the seed contrast towards the blob's side, clamped one grey level
  // inside it; a dark blob moves the other way; without the local switch no move.
  cbt_runParams p = params(0);
  setStart(&p, 40, 38, 80, 38);
  p.seedStrength = 3 * 96;  // contrast 96: levels 80 ... 176
  const struct { int polarity, local, level, threshold; } cases[] = {
      {0, 1, 4, 152}, {0, 1, 100, 175}, {0, 1, -100, 81}, {1, 1, 4, 104}, {1, 0, 4, 128}};
  for (const auto& k : cases) {
    p.polarity = k.polarity;
    p.localThreshold = k.local;
    Result res;
    ASSERT_EQ(cbt_boundaryTrack_Adaptive(&view.image, &p, k.level, &res.r), 0);
    EXPECT_EQ(res.r.threshold, k.threshold) << k.level;
    const double radius = (250.0 - k.threshold) / 5.0, area = M_PI * radius * radius;
    ASSERT_EQ(res.r.flags, CBT_FLAG_FOUND);
    for (const auto& [x, y] : res.raw()) ASSERT_NEAR(std::hypot(x / 256.0 - kX, y / 256.0 - kY), radius, 0.15);
    EXPECT_NEAR(res.signedArea(), (k.polarity ? -1 : 1) * area, 0.02 * area);
  }
}

TEST(BoundaryTrack, StartPointLimitBorderMarkingAndNoBoundary) {
  // A disc (x 11.7 ... 87.7 on row 50) and a bar across the left edge.
  Canvas c(0, 0, 100, 100);
  c.render(Shape{{shapes::disc(49.7, 50.2, 38.0), shapes::rectangle(3.3, 95.3, 20, 6, 0)}}, kLight, kDark);
  View view(c);
  // Of the two crossings on the path from x 5 to 99 the one nearer its midpoint starts the
  // outline.
  Result full;
  cbt_runParams p = params(1);
  setStart(&p, 5, 50, 99, 50);
  ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &full.r), 0);
  EXPECT_TRUE(full.r.points[0].y == 50 * 256 && full.r.points[0].x > 80 * 256);
  const auto disc = full.raw();
  const int n = static_cast<int>(disc.size());
  ASSERT_GT(n, 200);
  // The limit keeps the first points, and an outline of exactly the limit closes; no seed path,
  // no boundary. Marking: 16 for a cut outline, the caller's 1 for a complete one, 0 along the
  // window's edge or without a contour.
  const uint32_t F = CBT_FLAG_FOUND, FL = F | CBT_FLAG_LIMIT;
  const struct { int row, maxPoints, count; uint32_t flags; int marking; } cases[] = {
      {50, 100, 100, FL, 16}, {50, n - 1, n - 1, FL, 16}, {50, n, n, F, 1}, {95, 16379, -1, F | CBT_FLAG_BORDER, 0},
      {-1, 16379, 0, 0, 0}};
  for (const auto& k : cases) {
    if (k.row != 50) p = params(1);
    if (k.row == 95) seedOnRow(&p, c, k.row, 0);
    p.maxPoints = k.maxPoints;
    p.reportMarking = 1;
    Result res;
    res.r.markingMode = 1;
    SCOPED_TRACE(testing::Message() << "row " << k.row << " limit " << k.maxPoints);
    EXPECT_EQ(cbt_boundaryTrack_Adaptive(&view.image, &p, 0, &res.r), k.row < 0 ? csys_status(0x80000903) : 0);
    EXPECT_TRUE(res.r.flags == k.flags && res.r.markingMode == k.marking && res.r.capacity <= uint32_t(k.maxPoints));
    EXPECT_TRUE(k.count < 0 || res.raw() == std::vector<Raw>(disc.begin(), disc.begin() + k.count));
  }
}

TEST(BoundaryTrack, DiagonalContactsFollowTheSaddleRuleAndNoiseOutlinesPartitionTheCrossings) {
  // Two dark pixels touching at a corner, cell mean 127.5 (dark) or exactly 128 (light, as the
  // threshold is). Joined, they have one outline of 8 crossings, and so has the light side
  // round them (as a hole); apart, each has 4.
  for (auto [value, polarity] : {std::pair{0, 1}, {0, 0}, {1, 1}, {1, 0}}) {
    Canvas c(0, 0, 8, 8, 0, 255);
    c.at(3, 3) = c.at(4, 4) = static_cast<uint8_t>(value);
    View view(c);
    cbt_runParams p = params(polarity);
    setStart(&p, 3, 3, 1, 3);
    Result res;
    ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
    EXPECT_EQ(res.r.count, value == 0 ? 8u : 4u) << value << " " << polarity;
    EXPECT_EQ(res.signedArea() > 0, polarity == 1);
  }

  // Random pixels, none at the threshold, in sub-windows whose guard pixels are all blob.
  // Tracking from every crossing gives a walk starting there; the walks are disjoint and
  // together hold every crossing once.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 6; ++trial) {
    const int polarity = trial % 2;
    Canvas c(-3 + trial, 4, 23 + trial, 17, 2);
    for (uint8_t& v : c.buffer) {
      v = static_cast<uint8_t>(rng() % 255);
      v += v >= kMid;
    }
    c.fillGuard(polarity ? 0 : 255);
    View view(c);
    const auto all = crossingSet(c, polarity != 0);
    std::set<std::set<Raw>> outlines;
    int bordered = 0;
    for (const auto& start : all) {
      cbt_runParams p = params(polarity);
      p.saddleByMean = (trial / 2) % 2;
      const int x = start.first >> 8, y = start.second >> 8;  // the segment from (x, y) right or down
      setStart(&p, x, y, start.first % 256 ? x + 1 : x, start.first % 256 ? y : y + 1);
      Result res;
      ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
      ASSERT_EQ(res.r.flags & ~CBT_FLAG_BORDER, CBT_FLAG_FOUND);
      ASSERT_EQ(res.raw()[0], start);
      bordered += (res.r.flags & CBT_FLAG_BORDER) != 0;
      outlines.insert(walk(res, c, all));
    }
    size_t total = 0;
    for (const auto& o : outlines) total += o.size();
    EXPECT_EQ(total, all.size()) << "trial " << trial;
    EXPECT_TRUE(outlines.size() > 10u && bordered > 0);
  }
}

TEST(BoundaryTrack, FailuresLeaveNothingBehind) {
  Canvas c(0, 0, 2400, 8, 0, kLight);  // a bar with more than 4096 crossings
  for (int y = 2; y < 6; ++y) std::fill(&c.at(10, y), &c.at(2390, y), kDark);
  View view(c);
  cbt_runParams p = params(1), bad = params(1, 257);
  seedOnRow(&p, c, 3, 0);
  Result res;
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  AssertRecorder asserts;
  EXPECT_EQ(cbt_boundaryTrack_Adaptive(&view.image, &bad, 0, &res.r), csys_errAssertion);
  EXPECT_EQ(cbt_boundaryTrack(&unbound, &p, &res.r), csys_errImageUnbound);
  EXPECT_EQ(asserts.count(), 1u);
  // The second growth of the buffer fails and leaves nothing allocated.
  LiveBlocks live;
  {
    Result failed;
    FailAllocation fail(2);
    EXPECT_EQ(cbt_boundaryTrack(&view.image, &p, &failed.r), csys_errNoMemory);
    EXPECT_EQ(failed.r.count | failed.r.flags, 0u);
  }
  EXPECT_EQ(live.leaked(), 0);
  // The attention check, polled once after 4096 steps, stops the track.
  int calls = 0;
  csys_attention_setCallback([](void* n) -> csys_status { return ++*static_cast<int*>(n) > 0 ? 0x80000777 : 0; },
                             &calls);
  EXPECT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), static_cast<csys_status>(0x80000777));
  EXPECT_TRUE(res.r.count == 0 && calls == 1);
  csys_attention_setCallback(nullptr, nullptr);
  ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
  EXPECT_GT(res.r.count, 4096u);
}
