// Boundary tracker: outlines of anti-aliased shapes against a brute-force crossing set and the
// shapes' level lines, iso-circles of a cone, start choice, limits, saddles, a random-image
// partition property, the adaptive threshold and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <set>
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
  explicit Result(uint32_t size = 0) { EXPECT_EQ(cbt_result_construct(&r, size), 0); }
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
  p.polarity = polarity, p.threshold = threshold;
  return p;
}

void setStart(cbt_runParams* p, double bx, double by, double ax, double ay) {
  p->startB[0] = static_cast<int32_t>(std::lround(bx * 256)), p->startB[1] = static_cast<int32_t>(std::lround(by * 256));
  p->startA[0] = static_cast<int32_t>(std::lround(ax * 256)), p->startA[1] = static_cast<int32_t>(std::lround(ay * 256));
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

// Checks a closed outline: its flags, each point once, consecutive points in one cell, every
// point a crossing of the brute-force set (or, closing along the window's edge, a pixel centre
// on that edge) within 0.25 pixel of the shape's anti-aliased level line, all the crossings
// when `whole`, and its signed area (positive: clockwise on screen).
void checkOutline(const Result& res, const Canvas& c, const Shape& shape, const std::set<Raw>& crossings, bool border,
                  bool whole, double area) {
  ASSERT_EQ(res.r.flags, CBT_FLAG_FOUND | (border ? CBT_FLAG_BORDER : 0u));
  const auto raw = res.raw();
  const std::set<Raw> seen(raw.begin(), raw.end());
  EXPECT_EQ(seen.size(), raw.size());
  EXPECT_TRUE(!whole || std::includes(seen.begin(), seen.end(), crossings.begin(), crossings.end()));
  EXPECT_NEAR(res.signedArea(), area, 0.01 * std::fabs(area) + 2.0);
  int offLevel = 0, onEdge = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto [x, y] = raw[i];
    const auto [nx, ny] = raw[(i + 1) % raw.size()];
    EXPECT_LE(std::max(std::abs(x - nx), std::abs(y - ny)), 256);
    if (crossings.count(raw[i])) {
      offLevel += !shape.nearLevelLine(Pt{x / 256.0, y / 256.0}, 0.25);
    } else {
      EXPECT_TRUE(x % 256 == 0 && y % 256 == 0 &&
                  (x / 256 == c.x0 || x / 256 == c.x0 + c.width - 1 || y / 256 == c.y0 || y / 256 == c.y0 + c.height - 1));
      ++onEdge;
    }
  }
  EXPECT_EQ(offLevel, 0);
  EXPECT_EQ(onEdge > 5, border);
}

// A cone of value 250 - 5 r about (cx, cy): the iso-line of level T is the circle of radius
// (250 - T) / 5.
constexpr double kConeX = 40.3, kConeY = 38.6;
Canvas cone() {
  Canvas c(0, 0, 81, 79);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      c.at(x, y) = static_cast<uint8_t>(std::lround(std::max(0.0, 250.0 - 5.0 * std::hypot(x - kConeX, y - kConeY))));
  return c;
}
void expectCircle(const Result& res, int threshold, double sign) {
  const double radius = (250.0 - threshold) / 5.0, area = M_PI * radius * radius;
  ASSERT_EQ(res.r.flags, CBT_FLAG_FOUND);
  for (const auto& [x, y] : res.raw()) ASSERT_NEAR(std::hypot(x / 256.0 - kConeX, y / 256.0 - kConeY), radius, 0.15);
  EXPECT_NEAR(res.signedArea(), sign * area, 0.02 * area);
}

}  // namespace

TEST(BoundaryTrack, RenderedShapesBothPolaritiesInsideAndAcrossTheWindowEdge) {
  Canvas c(-7, 3, 112, 104, 4);
  const double X = c.x0, Y = c.y0;
  std::vector<std::pair<shapes::Polygon, bool>> cases;
  for (double deg : {0.0, 5.0, 17.0, 30.0, 45.0, 63.0, 80.0})
    cases.push_back({shapes::rectangle(X + 60.3, Y + 54.6, 52.0, 52.0, deg * M_PI / 180), false});
  for (double r : {2.6, 7.3, 19.8, 45.45}) cases.push_back({shapes::disc(X + 55.37, Y + 51.81, r), false});
  // Across the left edge, over the top-left corner, turned across the bottom edge, wider than
  // the window.
  for (auto [cx, cy, w, h, deg] : std::vector<std::array<double, 5>>{
           {3, 40, 30, 20, 0}, {5.2, 4.7, 24, 18, 0}, {50, 100, 40, 26, 20}, {55, 40, 140, 21, 3}})
    cases.push_back({shapes::rectangle(X + cx, Y + cy, w, h, deg * M_PI / 180), true});
  for (int polarity : {1, 0})
    for (const auto& [polygon, border] : cases) {
      const Shape shape{{polygon}};
      c.render(shape, polarity ? kLight : kDark, polarity ? kDark : kLight);
      c.fillGuard(polarity ? kDark : kLight);  // blob everywhere outside the window
      View view(c);
      Pt centre{0, 0};
      for (const Pt& v : polygon.vertices) centre.x += v.x, centre.y += v.y;
      const int row = static_cast<int>(std::lround(centre.y / polygon.vertices.size()));
      cbt_runParams p = params(polarity);
      seedOnRow(&p, c, row, static_cast<int>(std::lround(centre.x / polygon.vertices.size())));
      Result res;
      ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
      SCOPED_TRACE(testing::Message() << "polarity " << polarity << " shape on row " << row);
      // The whole crossing set, clockwise round the shape's area inside the window's
      // pixel-centre box.
      checkOutline(res, c, shape, crossingSet(c, polarity != 0), border, true,
                   polygon.areaInBox(c.x0, c.y0, c.x0 + c.width - 1, c.y0 + c.height - 1));
    }
}

TEST(BoundaryTrack, NestedBlobsAreTrackedOneOutlineAtATime) {
  // A dark ring (outer square minus a hole) with a dark square in the hole.
  const auto outer = shapes::rectangle(60.4, 60.2, 90.0, 90.0, 0.2);
  const auto hole = shapes::rectangle(60.4, 60.2, 56.0, 56.0, 0.2, -1);
  const auto core = shapes::rectangle(60.4, 60.2, 20.0, 20.0, -0.3);
  const Shape scene{{outer, hole, core}};
  Canvas c(0, 0, 121, 121);
  c.render(scene, kLight, kDark);
  View view(c);
  // Outer edge; hole edge as the ring's inner outline (anticlockwise) and as the light blob's
  // outer outline (clockwise); the core's edge.
  struct Case {
    int polarity, fromX;
    const shapes::Polygon* polygon;
    double sign;
  } const cases[] = {{1, 0, &outer, 1.0}, {1, 25, &hole, -1.0}, {0, 25, &hole, 1.0}, {1, 40, &core, 1.0}};
  for (const Case& k : cases) {
    Result res;
    cbt_runParams p = params(k.polarity);
    seedOnRow(&p, c, 60, k.fromX);
    ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
    SCOPED_TRACE(k.fromX);
    checkOutline(res, c, scene, crossingSet(c, k.polarity != 0), false, false, k.sign * k.polygon->area());
  }
}

TEST(BoundaryTrack, ThresholdPicksTheIsoLinePolarityTheSideAndTheLevelMovesIt) {
  const Canvas c = cone();
  View view(c);
  // The bright core is the blob with polarity 0; polarity 1 gives the same circle the other
  // way round (the dark blob outside it on the right).
  for (int t : {60, 128, 200})
    for (int polarity : {0, 1}) {
      cbt_runParams p = params(polarity, t);
      setStart(&p, kConeX, 38, kConeX + (250.0 - t) / 5.0 + 2, 38);
      Result res;
      ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
      expectCircle(res, t, polarity ? -1.0 : 1.0);
    }
  // Adaptive: level sixteenths of the seed contrast towards the blob's side, clamped one grey
  // level inside it; a dark blob moves the other way; without the local switch no move.
  cbt_runParams p = params(0);
  setStart(&p, 40, 38, 80, 38);
  p.seedStrength = 3 * 96;  // contrast 96: levels 80 ... 176
  struct Case {
    int polarity, local, level, threshold;
  } const cases[] = {{0, 1, 0, 128}, {0, 1, 4, 152},    {0, 1, -4, 104}, {0, 1, 7, 170}, {0, 1, 8, 175},
                     {0, 1, 100, 175}, {0, 1, -100, 81}, {1, 1, 4, 104},  {1, 0, 4, 128}};
  for (const Case& k : cases) {
    p.polarity = k.polarity, p.localThreshold = k.local;
    Result res;
    ASSERT_EQ(cbt_boundaryTrack_Adaptive(&view.image, &p, k.level, &res.r), 0);
    EXPECT_EQ(res.r.threshold, k.threshold) << k.level;
    expectCircle(res, k.threshold, k.polarity ? -1.0 : 1.0);
  }
}

TEST(BoundaryTrack, StartIsTheCrossingNearestTheMidpointOfThePath) {
  // Dark bars over x 18 ... 22 and 34 ... 38 (their edge pixels sit exactly at the threshold,
  // so on the light side): crossings on row 20 at x = 17, 23, 33 and 39.
  Canvas c(0, 0, 60, 40);
  c.render(Shape{{shapes::rectangle(20, 20, 6, 30, 0), shapes::rectangle(36, 20, 6, 30, 0)}}, kLight, kDark);
  View view(c);
  struct Case {
    double bx, by, ax, ay, x0;  // x0 of point 0; NaN: no boundary
  } const cases[] = {{10, 20, 40, 20, 23}, {28, 20, 46, 20, 39},    {14, 12, 19, 17, 17},    {19, 20, 21, 20, NAN},
                     {1, 20, 11, 20, NAN}, {19, 20, 19.4, 20, NAN}, {19.4, 20, 19, 20, NAN}};
  Result res;
  for (const Case& k : cases) {
    cbt_runParams p = params(1);
    setStart(&p, k.bx, k.by, k.ax, k.ay);
    if (std::isnan(k.x0)) {
      EXPECT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), cbt_errNoBoundary) << k.bx;
      EXPECT_EQ(res.r.count | res.r.flags, 0u);  // the reused result is cleared
    } else {
      ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
      EXPECT_EQ(res.r.points[0].x, k.x0 * 256) << k.bx;
    }
  }
  // A lone pixel exactly at the threshold is light for either polarity; one grey level lower
  // it is a dark blob with four crossings on its centre lines.
  Canvas single(0, 0, 9, 9, 0, 250);
  single.at(4, 4) = kMid;
  View singleView(single);
  for (auto [polarity, threshold, count] : {std::array{1, kMid, 0}, {0, kMid, 0}, {1, kMid + 1, 4}}) {
    cbt_runParams q = params(polarity, threshold);
    setStart(&q, 4, 4, 7, 4);
    EXPECT_EQ(cbt_boundaryTrack(&singleView.image, &q, &res.r), count ? 0 : cbt_errNoBoundary);
    EXPECT_EQ(res.r.count, static_cast<uint32_t>(count));
  }
}

TEST(BoundaryTrack, PointLimitBorderStopMinimumLengthAndMarking) {
  // A disc, a bar across the left edge, and a 3 x 3 pixel square (12 crossings).
  Canvas c(0, 0, 100, 100);
  c.render(Shape{{shapes::disc(49.7, 50.2, 38.0), shapes::rectangle(3.3, 95.3, 20, 6, 0), shapes::rectangle(93, 8, 3, 3, 0)}},
           kLight, kDark);
  View view(c);
  auto seeded = [&](int row, int x) {
    cbt_runParams p = params(1);
    if (row >= 0) seedOnRow(&p, c, row, x);
    return p;
  };
  std::map<int, std::vector<Raw>> full;  // by seed row
  for (auto [row, x] : {std::pair{50, 0}, {95, 0}, {8, 85}}) {
    Result res;
    const cbt_runParams p = seeded(row, x);
    ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
    full[row] = res.raw();
  }
  const int n = static_cast<int>(full[50].size()), nb = static_cast<int>(full[95].size());
  ASSERT_GT(n, 200);
  ASSERT_EQ(full[8].size(), 12u);
  // The bar's outline up to its first point closing along the window's edge (a pixel centre
  // there: the bar's edges lie off the pixel grid).
  const auto& bar = full[95];
  const auto edge = std::find_if(bar.begin(), bar.end(), [](Raw q) { return q.first == 0 && q.second % 256 == 0; });
  const int toEdge = 1 + static_cast<int>(edge - bar.begin());
  ASSERT_LT(toEdge, nb);
  const uint32_t F = CBT_FLAG_FOUND, FL = F | CBT_FLAG_LIMIT, FB = F | CBT_FLAG_BORDER;
  struct Case {
    int row, x, maxPoints, closeAtBorder, minPoints, report, count;
    uint32_t flags;
    int marking;
  } const cases[] = {
      // The limit keeps the first points; an outline of exactly the limit closes. Marking: 16
      // for a cut outline, the caller's 1 for a complete one.
      {50, 0, 1, 1, 0, 1, 1, FL, 16}, {50, 0, 2, 1, 0, 1, 2, FL, 16}, {50, 0, 100, 1, 0, 1, 100, FL, 16},
      {50, 0, n - 1, 1, 0, 1, n - 1, FL, 16}, {50, 0, n, 1, 0, 1, n, F, 1}, {50, 0, n + 1, 1, 0, 1, n, F, 1},
      // Along the window's edge: marked 0 (unasked, the byte is kept); closeAtBorder 0 stops
      // at the edge.
      {95, 0, 16379, 1, 0, 1, nb, FB, 0}, {95, 0, 16379, 1, 0, 0, nb, FB, 1}, {95, 0, 16379, 0, 0, 1, toEdge, FB, 0},
      // A minimum length of 13 drops the small square, 12 keeps it; no boundary at all.
      {8, 85, 16379, 1, 13, 1, 0, 0, 0}, {8, 85, 16379, 1, 12, 1, 12, F, 1}, {-1, 0, 16379, 1, 0, 1, 0, 0, 0}};
  for (const Case& k : cases) {
    cbt_runParams p = seeded(k.row, k.x);
    p.maxPoints = k.maxPoints, p.closeAtBorder = k.closeAtBorder, p.minPoints = k.minPoints, p.reportMarking = k.report;
    Result res;
    res.r.markingMode = 1;
    EXPECT_EQ(cbt_boundaryTrack_Adaptive(&view.image, &p, 0, &res.r), k.row < 0 ? cbt_errNoBoundary : 0);
    SCOPED_TRACE(testing::Message() << "row " << k.row << " limit " << k.maxPoints);
    EXPECT_EQ(res.r.flags, k.flags);
    EXPECT_LE(res.r.capacity, static_cast<uint32_t>(k.maxPoints));
    EXPECT_EQ(res.raw(), std::vector<Raw>(full[k.row].begin(), full[k.row].begin() + k.count));
    EXPECT_EQ(res.r.markingMode, k.marking);
  }
  cbt_runParams p = params(1);
  Result res;
  // A window full of blob, started on its corner pixel: the outline runs along the four edges
  // and its last crossing lands on point 0, so it too closes at a limit of its length, 38.
  Canvas filled(0, 0, 12, 9, 0, kDark);
  View filledView(filled);
  setStart(&p, 0, 1, 0, -3);
  for (int32_t limit : {37, 38}) {
    p.maxPoints = limit;
    ASSERT_EQ(cbt_boundaryTrack(&filledView.image, &p, &res.r), 0);
    EXPECT_EQ(res.r.count, static_cast<uint32_t>(limit));
    EXPECT_EQ(res.r.flags, CBT_FLAG_FOUND | CBT_FLAG_BORDER | (limit < 38 ? CBT_FLAG_LIMIT : 0u));
  }
}

TEST(BoundaryTrack, DiagonalContactsFollowTheSaddleRule) {
  // Two dark pixels touching at a corner, cell mean 127.5 (dark) or 177.5 against 128. Joined,
  // they have one outline of 8 crossings, and so has the light side round them (as a hole);
  // apart, each has 4. Without the mean rule dark diagonal pixels always join.
  for (int darkMean = 0; darkMean < 2; ++darkMean)
    for (auto [byMean, polarity] : {std::pair{0, 1}, {1, 1}, {1, 0}}) {
      Canvas c(0, 0, 8, 8, 0, 255);
      c.at(3, 3) = c.at(4, 4) = darkMean ? 0 : 100;
      View view(c);
      cbt_runParams p = params(polarity);
      p.saddleByMean = byMean;
      setStart(&p, 3, 3, 1, 3);
      Result res;
      ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
      EXPECT_EQ(res.r.count, !byMean || darkMean ? 8u : 4u) << darkMean << byMean << polarity;
      EXPECT_EQ(res.signedArea() > 0, polarity == 1);
    }
}

TEST(BoundaryTrack, OutlinesOfNoiseImagesPartitionTheCrossings) {
  // Random pixels, none at the threshold, in sub-windows whose guard pixels are all blob.
  // Tracking from every crossing gives an outline starting there, with consecutive points in
  // one cell; the outlines are disjoint and together hold every crossing once.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 6; ++trial) {
    const int polarity = trial % 2;
    Canvas c(-3 + trial, 4, 23 + trial, 17, 2);
    for (uint8_t& v : c.buffer) v = static_cast<uint8_t>(rng() % 255), v += v >= kMid;
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
      bordered += (res.r.flags & CBT_FLAG_BORDER) != 0;
      const auto raw = res.raw();
      ASSERT_EQ(raw[0], start);
      std::set<Raw> own;
      for (size_t i = 0; i < raw.size(); ++i) {
        const Raw a = raw[i], b = raw[(i + 1) % raw.size()];
        ASSERT_LE(std::max(std::abs(a.first - b.first), std::abs(a.second - b.second)), 256);
        if (a.first % 256 || a.second % 256) {
          ASSERT_TRUE(all.count(a) && own.insert(a).second);
        } else {  // a pixel centre closing along the window's edge
          ASSERT_TRUE(a.first == c.x0 * 256 || a.first == (c.x0 + c.width - 1) * 256 || a.second == c.y0 * 256 ||
                      a.second == (c.y0 + c.height - 1) * 256);
        }
      }
      outlines.insert(own);
    }
    size_t total = 0;
    for (const auto& o : outlines) total += o.size();
    EXPECT_EQ(total, all.size()) << "trial " << trial;
    EXPECT_GT(outlines.size(), 10u);
    EXPECT_GT(bordered, 0);
  }
}

TEST(BoundaryTrack, FailuresLeaveNothingBehind) {
  Canvas c(0, 0, 2400, 8, 0, kLight);  // a bar with more than 4096 crossings
  for (int y = 2; y < 6; ++y) std::fill(&c.at(10, y), &c.at(2390, y), kDark);
  View view(c);
  cbt_runParams p = params(1), bad = params(1, 257);
  seedOnRow(&p, c, 3, 0);
  Result res;
  {
    AssertRecorder asserts;
    EXPECT_EQ(cbt_boundaryTrack(nullptr, &p, &res.r), csys_errAssertion);
    EXPECT_EQ(cbt_boundaryTrack_Adaptive(&view.image, &bad, 0, &res.r), csys_errAssertion);
    bad = p;
    bad.maxPoints = 0;
    EXPECT_EQ(cbt_boundaryTrack(&view.image, &bad, &res.r), csys_errAssertion);
    EXPECT_EQ(asserts.count(), 3u);
  }
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  EXPECT_EQ(cbt_boundaryTrack(&unbound, &p, &res.r), csys_errImageUnbound);
  // The first or the second growth of the buffer fails; a failing construct allocates nothing.
  for (uint64_t nth : {1u, 2u}) {
    LiveBlocks live;
    {
      Result failed;
      FailAllocation fail(nth);
      EXPECT_EQ(cbt_boundaryTrack(&view.image, &p, &failed.r), csys_errNoMemory);
      EXPECT_EQ(failed.r.count | failed.r.flags, 0u);
    }
    cbt_result r;
    FailAllocation fail(1);
    EXPECT_EQ(cbt_result_construct(&r, 100), csys_errNoMemory);
    EXPECT_EQ(live.leaked(), 0);
  }
  // The attention check, polled once after 4096 steps, stops the track.
  int calls = 0;
  csys_attention_setCallback([](void* n) -> csys_status { return ++*static_cast<int*>(n) > 0 ? 0x80000777 : 0; },
                             &calls);
  EXPECT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), static_cast<csys_status>(0x80000777));
  EXPECT_EQ(res.r.count, 0u);
  EXPECT_EQ(calls, 1);
  csys_attention_setCallback(nullptr, nullptr);
  ASSERT_EQ(cbt_boundaryTrack(&view.image, &p, &res.r), 0);
  EXPECT_GT(res.r.count, 4096u);
}
