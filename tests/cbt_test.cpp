// Boundary tracker: contours of anti-aliased shapes with exact geometry (squares at several
// turns, discs, rectangles cut by the window, nested blobs), threshold meaning on a cone of
// known iso-circles, start and orientation, the point limit, diagonal contacts, windows inside
// larger buffers with guard pixels, the adaptive threshold and its marking byte, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

constexpr uint8_t kDark = 40;
constexpr uint8_t kLight = 216;
constexpr int kMid = 128;  // (kDark + kLight) / 2: the 50 % coverage level

// A library view of a canvas window.
class View {
 public:
  explicit View(const Canvas& c) {
    EXPECT_EQ(cimg_imageConst_constructWrap(&image_, c.windowPixels(), c.width, c.height, c.stride()), 0);
    EXPECT_EQ(cimg_imageConst_setWindowOffset(&image_, c.x0, c.y0), 0);
  }
  ~View() { cimg_imageConst_destruct(&image_); }
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  const cimg_imageConst* get() const { return &image_; }

 private:
  cimg_imageConst image_;
};

class Result {
 public:
  explicit Result(uint32_t size = 0) { EXPECT_EQ(cbt_result_construct(&r, size), 0); }
  ~Result() { cbt_result_destruct(&r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  std::vector<Pt> points() const {
    std::vector<Pt> v;
    for (uint32_t i = 0; i < r.count; ++i) v.push_back(Pt{r.points[i].x / 256.0, r.points[i].y / 256.0});
    return v;
  }
  std::vector<std::pair<int32_t, int32_t>> raw() const {
    std::vector<std::pair<int32_t, int32_t>> v;
    for (uint32_t i = 0; i < r.count; ++i) v.emplace_back(r.points[i].x, r.points[i].y);
    return v;
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

// Seed across the first edge met walking right along row y from x: start B just before the
// edge, start A two pixels after it, as the seed finders place them.
void seedOnRow(cbt_runParams* p, const Canvas& c, int y, int x, int threshold = kMid) {
  const bool first = c.at(x, y) < threshold;
  while (x + 1 < c.x0 + c.width && (c.at(x + 1, y) < threshold) == first) ++x;
  p->startB[0] = (x - 1) * 256;
  p->startB[1] = y * 256;
  p->startA[0] = (x + 2) * 256;
  p->startA[1] = y * 256;
}

double signedArea(const std::vector<Pt>& v) {
  double s = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const Pt& a = v[i];
    const Pt& b = v[(i + 1) % v.size()];
    s += a.x * b.y - b.x * a.y;
  }
  return 0.5 * s;
}

double maxGap(const std::vector<Pt>& v) {
  double g = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const Pt& a = v[i];
    const Pt& b = v[(i + 1) % v.size()];
    g = std::max(g, std::hypot(a.x - b.x, a.y - b.y));
  }
  return g;
}

bool allDistinct(const Result& res) {
  const auto raw = res.raw();
  return std::set<std::pair<int32_t, int32_t>>(raw.begin(), raw.end()).size() == raw.size();
}

// Every pixel-centre segment of the window whose two ends fall on different sides of the
// threshold, with its crossing interpolated from the blob's end and rounded to 1/256 pixel,
// found by brute force. For a single blob without holes that touches nothing, this is its
// outline as a set of points.
std::set<std::pair<int32_t, int32_t>> crossingSet(const Canvas& c, int threshold, bool darkBlob) {
  std::set<std::pair<int32_t, int32_t>> out;
  auto blob = [&](int x, int y) { return (c.at(x, y) < threshold) == darkBlob; };
  auto add = [&](int px, int py, int qx, int qy) {
    const double s = (threshold - c.at(px, py)) / static_cast<double>(c.at(qx, qy) - c.at(px, py));
    out.emplace(static_cast<int32_t>(std::lround(256.0 * (px + s * (qx - px)))),
                static_cast<int32_t>(std::lround(256.0 * (py + s * (qy - py)))));
  };
  for (int y = c.y0; y < c.y0 + c.height; ++y)
    for (int x = c.x0; x < c.x0 + c.width; ++x)
      for (auto [nx, ny] : {std::pair{x + 1, y}, std::pair{x, y + 1}}) {
        if (nx >= c.x0 + c.width || ny >= c.y0 + c.height || blob(x, y) == blob(nx, ny)) continue;
        if (blob(x, y)) add(x, y, nx, ny);
        else add(nx, ny, x, y);
      }
  return out;
}

double distanceToCorner(const Shape& shape, Pt p) {
  double d = INFINITY;
  for (const auto& part : shape.parts)
    for (const Pt& v : part.vertices) d = std::min(d, std::hypot(v.x - p.x, v.y - p.y));
  return d;
}

// Checks a closed outline of `shape` that lies wholly inside the window. The anti-aliased
// image's level line at the threshold is the boundary the tracker follows; it lies on the
// shape's edges except at corners, which the pixels' area coverage rounds off by up to
// 0.21 pixel. So: every point within 0.25 of that level line, within 0.25 of the shape's
// edges away from its corners, and within 0.3 near them.
void expectOutline(const Result& res, const Canvas& c, const Shape& shape, int polarity, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(res.r.flags, CBT_FLAG_FOUND);
  const auto pts = res.points();
  ASSERT_GT(pts.size(), 3u);
  double worstEdge = 0, worstCorner = 0;
  int offLevel = 0;
  for (const Pt& p : pts) {
    const double d = shape.distanceToBoundary(p);
    double& worst = distanceToCorner(shape, p) < 1.5 ? worstCorner : worstEdge;
    worst = std::max(worst, d);
    offLevel += !shape.nearLevelLine(p, 0.25);
  }
  EXPECT_EQ(offLevel, 0);
  EXPECT_LT(worstEdge, 0.25);
  EXPECT_LT(worstCorner, 0.3);
  EXPECT_LE(maxGap(pts), std::sqrt(2.0) + 1e-9);  // consecutive crossings share a cell
  EXPECT_TRUE(allDistinct(res));
  const auto raw = res.raw();
  const std::set<std::pair<int32_t, int32_t>> visited(raw.begin(), raw.end());
  EXPECT_TRUE(visited == crossingSet(c, kMid, polarity != 0));
  // Clockwise on screen, once round: the signed area is the shape's.
  EXPECT_NEAR(signedArea(pts), shape.area(), 0.01 * shape.area() + 1.0);
}

struct Polarity {
  int polarity;
  uint8_t background, foreground;
};
const Polarity kBoth[] = {{1, kLight, kDark}, {0, kDark, kLight}};

}  // namespace

TEST(BoundaryTrack, AntiAliasedSquaresAtSeveralTurnsBothPolarities) {
  for (const Polarity& pol : kBoth)
    for (double degrees : {0.0, 5.0, 17.0, 30.0, 45.0, 63.0, 80.0}) {
      Canvas c(10, -5, 120, 110);
      const Shape shape{{shapes::rectangle(70.3, 49.6, 52.0, 52.0, degrees * M_PI / 180.0)}};
      c.render(shape, pol.background, pol.foreground);
      View view(c);
      Result res;
      cbt_runParams p = params(pol.polarity);
      seedOnRow(&p, c, 50, c.x0);
      ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
      // The outline starts at the crossing between the start points and runs clockwise on screen.
      ASSERT_GT(res.r.count, 0u);
      EXPECT_EQ(res.r.points[0].y, 50 * 256);
      EXPECT_GT(res.r.points[0].x, p.startB[0]);
      EXPECT_LT(res.r.points[0].x, p.startA[0]);
      expectOutline(res, c, shape, pol.polarity, degrees == 0 ? "square" : "turned square");
    }
}

TEST(BoundaryTrack, DiscsOfSeveralSizesBothPolarities) {
  for (const Polarity& pol : kBoth)
    for (double r : {2.6, 7.3, 19.8, 45.45}) {
      Canvas c(0, 0, 112, 104);
      const Shape shape{{shapes::disc(55.37, 51.81, r)}};
      c.render(shape, pol.background, pol.foreground);
      View view(c);
      Result res(100);
      cbt_runParams p = params(pol.polarity);
      seedOnRow(&p, c, 52, 0);
      ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
      expectOutline(res, c, shape, pol.polarity, "disc");
      // About one point per pixel of boundary: between the perimeter and 4/pi times it.
      const double perimeter = 2 * M_PI * r;
      EXPECT_GE(res.r.count, 0.9 * perimeter);
      EXPECT_LE(res.r.count, 4.0 / M_PI * perimeter + 4);
    }
}

TEST(BoundaryTrack, ThresholdSelectsTheIsoLineAndPolaritySelectsTheSide) {
  // A cone: value 250 - 5 r about a centre off the pixel grid, so the iso-line of level T is
  // the circle of radius (250 - T) / 5, and the inverted cone gives the same circles.
  const double cx = 40.3, cy = 38.6;
  for (int inverted = 0; inverted < 2; ++inverted)
    for (int t : {60, 128, 200}) {
      Canvas c(0, 0, 81, 79);
      for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
          const double v = std::max(0.0, 250.0 - 5.0 * std::hypot(x - cx, y - cy));
          c.at(x, y) = static_cast<uint8_t>(std::lround(inverted ? 255.0 - v : v));
        }
      const int level = inverted ? 255 - t : t;
      const double radius = (250.0 - t) / 5.0;
      View view(c);
      Result res;
      // The bright core is the blob with polarity 0, the dark core with polarity 1.
      cbt_runParams p = params(inverted ? 1 : 0, level);
      p.startB[0] = static_cast<int32_t>(std::lround(cx * 256));
      p.startB[1] = 38 * 256;
      p.startA[0] = static_cast<int32_t>(std::lround((cx + radius + 2) * 256));
      p.startA[1] = 38 * 256;
      ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
      ASSERT_EQ(res.r.flags, CBT_FLAG_FOUND);
      double worst = 0;
      for (const Pt& q : res.points()) worst = std::max(worst, std::fabs(std::hypot(q.x - cx, q.y - cy) - radius));
      EXPECT_LT(worst, 0.15) << "level " << level;
      EXPECT_NEAR(signedArea(res.points()), M_PI * radius * radius, 0.02 * M_PI * radius * radius);

      // The other polarity tracks the complement: its outline is the same circle, traversed
      // the other way round (the blob outside it is on the right).
      p.polarity = !p.polarity;
      ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
      ASSERT_EQ(res.r.flags & CBT_FLAG_FOUND, CBT_FLAG_FOUND);
      EXPECT_NEAR(signedArea(res.points()), -M_PI * radius * radius, 0.02 * M_PI * radius * radius);
    }
}

TEST(BoundaryTrack, RectanglesCutByTheWindowAreClosedAlongItsEdge) {
  struct Case {
    double cx, cy, w, h, degrees;
  };
  // Across the left edge, over the top-left corner, turned across the bottom edge, and wider
  // than the window.
  const Case cases[] = {{3.0, 40.0, 30.0, 20.0, 0.0},
                        {5.2, 4.7, 24.0, 18.0, 0.0},
                        {50.0, 78.0, 40.0, 26.0, 20.0},
                        {45.0, 40.0, 140.0, 21.0, 3.0}};
  for (const Polarity& pol : kBoth)
    for (const Case& k : cases) {
      // The shape is drawn into the guard pixels too, so reading outside the window would
      // extend the blob there.
      Canvas c(-7, 3, 90, 80, 6);
      const Shape shape{{shapes::rectangle(c.x0 + k.cx, c.y0 + k.cy, k.w, k.h, k.degrees * M_PI / 180.0)}};
      c.render(shape, pol.background, pol.foreground, true);
      View view(c);
      Result res;
      cbt_runParams p = params(pol.polarity);
      const int row = c.y0 + static_cast<int>(k.cy + (k.cy > 70 ? -5 : 0));
      seedOnRow(&p, c, row, static_cast<int>(c.x0 + k.cx));
      ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
      EXPECT_EQ(res.r.flags, CBT_FLAG_FOUND | CBT_FLAG_BORDER);
      const double left = c.x0, right = c.x0 + c.width - 1, top = c.y0, bottom = c.y0 + c.height - 1;
      int onEdge = 0;
      for (const Pt& q : res.points()) {
        ASSERT_TRUE(q.x >= left && q.x <= right && q.y >= top && q.y <= bottom);
        const bool edge = q.x == left || q.x == right || q.y == top || q.y == bottom;
        onEdge += edge;
        if (!edge) EXPECT_LT(shape.distanceToBoundary(q), 0.25);
        else EXPECT_TRUE(shape.parts[0].contains(q) || shape.distanceToBoundary(q) < 0.5);
      }
      EXPECT_GT(onEdge, 5);
      EXPECT_TRUE(allDistinct(res));
      EXPECT_LE(maxGap(res.points()), std::sqrt(2.0) + 1e-9);
      // The enclosed area is the rectangle's part inside the pixel-centre box of the window.
      const double inside = shape.parts[0].areaInBox(left, top, right, bottom);
      EXPECT_NEAR(signedArea(res.points()), inside, 0.02 * inside + 2.0);
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

  struct Case {
    int polarity;
    int fromX;
    const shapes::Polygon* polygon;
    double sign;
  };
  // Outer edge of the ring; hole edge as the ring's inner outline (anticlockwise) and as the
  // light blob's outer outline (clockwise); the core's edge.
  const Case cases[] = {{1, 0, &outer, 1.0}, {1, 25, &hole, -1.0}, {0, 25, &hole, 1.0}, {1, 40, &core, 1.0}};
  for (const Case& k : cases) {
    Result res;
    cbt_runParams p = params(k.polarity);
    seedOnRow(&p, c, 60, k.fromX);
    ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
    ASSERT_EQ(res.r.flags, CBT_FLAG_FOUND);
    const auto pts = res.points();
    double worst = 0;
    for (const Pt& q : pts) worst = std::max(worst, k.polygon->distanceToBoundary(q));
    EXPECT_LT(worst, 0.25) << "case from " << k.fromX;
    EXPECT_TRUE(allDistinct(res));
    EXPECT_NEAR(signedArea(pts), k.sign * k.polygon->area(), 0.01 * k.polygon->area());
  }
}

TEST(BoundaryTrack, PointLimitIsHonouredExactly) {
  Canvas c(0, 0, 100, 100);
  const Shape shape{{shapes::disc(49.7, 50.2, 38.0)}};
  c.render(shape, kLight, kDark);
  View view(c);
  cbt_runParams p = params(1);
  seedOnRow(&p, c, 50, 0);

  Result full;
  ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &full.r), 0);
  ASSERT_EQ(full.r.flags, CBT_FLAG_FOUND);
  const uint32_t n = full.r.count;
  ASSERT_GT(n, 200u);
  const auto all = full.raw();

  for (uint32_t limit : {1u, 2u, 100u, n - 1, n, n + 1}) {
    Result res(limit == 100 ? 100 : 0);
    p.maxPoints = static_cast<int32_t>(limit);
    ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
    const uint32_t expectCount = std::min(limit, n);
    EXPECT_EQ(res.r.count, expectCount) << "limit " << limit;
    EXPECT_EQ(res.r.flags, limit < n ? (CBT_FLAG_FOUND | CBT_FLAG_LIMIT) : CBT_FLAG_FOUND) << "limit " << limit;
    EXPECT_LE(res.r.capacity, limit);
    const auto got = res.raw();
    EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin())) << "limit " << limit;
  }

  // An outline that returns to point 0 at the very end (started on the window's corner pixel:
  // its last crossing lands on the same pixel centre) closes at a limit of its point count.
  Canvas filled(0, 0, 12, 9, 0, kDark);
  View fullView(filled);
  const uint32_t perimeter = 2 * (12 - 1) + 2 * (9 - 1);
  p.startB[0] = 0, p.startB[1] = 1 * 256;
  p.startA[0] = 0, p.startA[1] = -3 * 256;
  for (uint32_t limit : {perimeter - 1, perimeter, perimeter + 1}) {
    Result res;
    p.maxPoints = static_cast<int32_t>(limit);
    ASSERT_EQ(cbt_boundaryTrack(fullView.get(), &p, &res.r), 0);
    EXPECT_EQ(res.r.count, std::min(limit, perimeter));
    const uint32_t flags = CBT_FLAG_FOUND | CBT_FLAG_BORDER;
    EXPECT_EQ(res.r.flags, limit < perimeter ? flags | CBT_FLAG_LIMIT : flags);
  }
}

TEST(BoundaryTrack, NoBoundaryBetweenTheStartPoints) {
  Canvas c(0, 0, 40, 30, 0, 200);
  View view(c);
  Result res;
  cbt_runParams p = params(1);
  p.startB[0] = 10 * 256, p.startB[1] = 15 * 256;
  p.startA[0] = 13 * 256, p.startA[1] = 15 * 256;
  EXPECT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), cbt_errNoBoundary);  // uniform image
  EXPECT_EQ(res.r.flags, 0u);
  EXPECT_EQ(res.r.count, 0u);

  // A dark square, with both start points inside it, both outside it, or on one pixel.
  const Shape shape{{shapes::rectangle(20, 15, 12, 12, 0)}};
  c.render(shape, kLight, kDark);
  View view2(c);
  p.startB[0] = 16 * 256, p.startA[0] = 22 * 256;
  EXPECT_EQ(cbt_boundaryTrack(view2.get(), &p, &res.r), cbt_errNoBoundary);
  p.startB[0] = 1 * 256, p.startA[0] = 11 * 256;
  EXPECT_EQ(cbt_boundaryTrack(view2.get(), &p, &res.r), cbt_errNoBoundary);
  p.startB[0] = 14 * 256, p.startA[0] = 14 * 256 + 100;
  EXPECT_EQ(cbt_boundaryTrack(view2.get(), &p, &res.r), cbt_errNoBoundary);
  // A pixel exactly at the threshold is on the light side.
  Canvas single(0, 0, 9, 9, 0, 250);
  single.at(4, 4) = kMid;
  View singleView(single);
  cbt_runParams q = params(1);
  q.startB[0] = 4 * 256, q.startB[1] = 4 * 256;
  q.startA[0] = 7 * 256, q.startA[1] = 4 * 256;
  EXPECT_EQ(cbt_boundaryTrack(singleView.get(), &q, &res.r), cbt_errNoBoundary);
  q.polarity = 0;  // the light blob around it has no edge there either
  EXPECT_EQ(cbt_boundaryTrack(singleView.get(), &q, &res.r), cbt_errNoBoundary);
  q.threshold = kMid + 1;  // now it is a dark pixel: a four-point outline on its own centre line
  q.polarity = 1;
  ASSERT_EQ(cbt_boundaryTrack(singleView.get(), &q, &res.r), 0);
  EXPECT_EQ(res.r.count, 4u);
  // A diagonal pair of start points across the edge does find it.
  p.startB[0] = 12 * 256, p.startB[1] = 12 * 256;
  p.startA[0] = 16 * 256, p.startA[1] = 17 * 256;
  EXPECT_EQ(cbt_boundaryTrack(view2.get(), &p, &res.r), 0);
  EXPECT_EQ(res.r.flags, CBT_FLAG_FOUND);
}

TEST(BoundaryTrack, NearestCrossingToTheSeedIsTheStart) {
  // Two dark bars crossed by the start path: the tracked one is the bar whose edge lies nearer
  // the middle of the start points.
  Canvas c(0, 0, 60, 40);
  const Shape bars{{shapes::rectangle(20.0, 20.0, 6.0, 30.0, 0), shapes::rectangle(36.0, 20.0, 6.0, 30.0, 0)}};
  c.render(bars, kLight, kDark);
  View view(c);
  Result res;
  cbt_runParams p = params(1);
  p.startB[0] = 10 * 256, p.startB[1] = 20 * 256;
  p.startA[0] = 40 * 256, p.startA[1] = 20 * 256;  // midpoint 25: the first bar's right edge (23)
  ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
  EXPECT_NEAR(res.r.points[0].x / 256.0, 23.0, 0.1);
  for (const Pt& q : res.points()) EXPECT_LT(q.x, 28.0);
}

TEST(BoundaryTrack, DiagonalContactsFollowTheSaddleRule) {
  // Two blob pixels touching at a corner. The cell's mean decides whether they form one blob.
  for (int darkMean = 0; darkMean < 2; ++darkMean)
    for (int byMean = 0; byMean < 2; ++byMean) {
      Canvas c(0, 0, 8, 8, 0, 255);
      const uint8_t v = darkMean ? 0 : 100;  // cell mean 127.5 or 177.5 against threshold 128
      c.at(3, 3) = v;
      c.at(4, 4) = v;
      View view(c);
      Result res;
      cbt_runParams p = params(1);
      p.saddleByMean = byMean;
      p.startB[0] = 3 * 256, p.startB[1] = 3 * 256;
      p.startA[0] = 1 * 256, p.startA[1] = 3 * 256;
      ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
      const bool joined = !byMean || darkMean;
      EXPECT_EQ(res.r.count, joined ? 8u : 4u) << darkMean << byMean;
      EXPECT_GT(signedArea(res.points()), 0.0);

      // The light side sees the complementary connectivity: with the blob joined across the
      // cell, the light pixels around it form one outline of 8 crossings as the inner boundary.
      if (byMean) {
        cbt_runParams q = p;
        q.polarity = 0;
        ASSERT_EQ(cbt_boundaryTrack(view.get(), &q, &res.r), 0);
        EXPECT_EQ(res.r.count, joined ? 8u : 4u) << "light " << darkMean;
        EXPECT_LT(signedArea(res.points()), 0.0);
      }
    }
}

TEST(BoundaryTrack, OutlinesOfNoiseImagesPartitionTheCrossings) {
  // Random pixels (none at the threshold, so every crossing lies strictly inside its segment
  // and distinct segments give distinct points). Tracking from each crossing not yet visited
  // must give closed outlines that never share a crossing and together cover them all, with
  // consecutive points in one cell, for both polarities and both saddle rules; the window is
  // a sub-window whose guard pixels are all blob.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 6; ++trial) {
    const int polarity = trial % 2, byMean = (trial / 2) % 2;
    Canvas c(-3 + trial, 4, 23 + trial, 17, 2);
    for (int y = c.y0; y < c.y0 + c.height; ++y)
      for (int x = c.x0; x < c.x0 + c.width; ++x) {
        const int v = static_cast<int>(rng() % 255);
        c.at(x, y) = static_cast<uint8_t>(v >= kMid ? v + 1 : v);
      }
    c.fillGuard(polarity ? 0 : 255);
    View view(c);
    const auto all = crossingSet(c, kMid, polarity != 0);
    std::set<std::pair<int32_t, int32_t>> visited;
    int outlines = 0, bordered = 0;
    auto blob = [&](int x, int y) { return (c.at(x, y) < kMid) == (polarity != 0); };
    for (int y = c.y0; y < c.y0 + c.height; ++y)
      for (int x = c.x0; x < c.x0 + c.width; ++x)
        for (auto [nx, ny] : {std::pair{x + 1, y}, std::pair{x, y + 1}}) {
          if (nx >= c.x0 + c.width || ny >= c.y0 + c.height || blob(x, y) == blob(nx, ny)) continue;
          cbt_runParams p = params(polarity);
          p.saddleByMean = byMean;
          p.startB[0] = x * 256, p.startB[1] = y * 256;
          p.startA[0] = nx * 256, p.startA[1] = ny * 256;
          Result res;
          ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
          ASSERT_TRUE(res.r.flags & CBT_FLAG_FOUND);
          ASSERT_FALSE(res.r.flags & CBT_FLAG_LIMIT);
          const auto raw = res.raw();
          if (visited.count(raw[0])) {
            // Already seen from another start: the same outline again, as a set.
            for (const auto& q : raw) ASSERT_TRUE(visited.count(q) || (q.first % 256 == 0 && q.second % 256 == 0));
            continue;
          }
          ++outlines;
          bordered += (res.r.flags & CBT_FLAG_BORDER) != 0;
          for (size_t i = 0; i < raw.size(); ++i) {
            const auto& a = raw[i];
            const auto& b = raw[(i + 1) % raw.size()];
            ASSERT_LE(std::abs(a.first - b.first), 256);
            ASSERT_LE(std::abs(a.second - b.second), 256);
            ASSERT_TRUE(a.first >= c.x0 * 256 && a.first <= (c.x0 + c.width - 1) * 256);
            ASSERT_TRUE(a.second >= c.y0 * 256 && a.second <= (c.y0 + c.height - 1) * 256);
            const bool onEdge = a.first % 256 == 0 && a.second % 256 == 0;  // closing along the window's edge
            if (!onEdge) {
              ASSERT_TRUE(all.count(a));
              ASSERT_TRUE(visited.insert(a).second) << "crossing visited by two outlines";
            }
          }
        }
    EXPECT_TRUE(visited == all) << "trial " << trial;
    EXPECT_GT(outlines, 10);
    EXPECT_GT(bordered, 0);
  }
}

TEST(BoundaryTrack, NothingOutsideTheWindowIsRead) {
  // Sub-windows of a larger buffer whose guard pixels say "blob" everywhere: the outline of a
  // blob touching the window's corner must still close on the window's edge.
  for (const Polarity& pol : kBoth) {
    Canvas c(5, 7, 30, 20, 4);
    const Shape shape{{shapes::rectangle(c.x0 + 3.0, c.y0 + 4.0, 10.0, 12.0, 0.1)}};
    c.render(shape, pol.background, pol.foreground);
    c.fillGuard(pol.foreground);
    View view(c);
    Result res;
    cbt_runParams p = params(pol.polarity);
    seedOnRow(&p, c, c.y0 + 4, c.x0);
    ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
    EXPECT_EQ(res.r.flags, CBT_FLAG_FOUND | CBT_FLAG_BORDER);
    for (const Pt& q : res.points()) {
      EXPECT_GE(q.x, c.x0);
      EXPECT_GE(q.y, c.y0);
      EXPECT_LE(q.x, c.x0 + c.width - 1);
      EXPECT_LE(q.y, c.y0 + c.height - 1);
    }
    // The same window copied into a buffer of exactly its size gives the same outline (the
    // sanitizer build catches any read beyond it).
    Canvas tight(c.x0, c.y0, c.width, c.height);
    for (int y = c.y0; y < c.y0 + c.height; ++y)
      for (int x = c.x0; x < c.x0 + c.width; ++x) tight.at(x, y) = c.at(x, y);
    View tightView(tight);
    Result res2;
    ASSERT_EQ(cbt_boundaryTrack(tightView.get(), &p, &res2.r), 0);
    EXPECT_EQ(res2.raw(), res.raw());
    // A blob filling the whole window is outlined along the window's four edges.
    std::fill(tight.buffer.begin(), tight.buffer.end(), pol.foreground);
    tight.at(c.x0 + 10, c.y0 + 10) = pol.background;
    View fullView(tight);
    p.startB[0] = (c.x0 + 8) * 256, p.startB[1] = (c.y0 + 10) * 256;
    p.startA[0] = (c.x0 + 10) * 256, p.startA[1] = (c.y0 + 10) * 256;
    ASSERT_EQ(cbt_boundaryTrack(fullView.get(), &p, &res2.r), 0);
    EXPECT_EQ(res2.r.count, 4u);  // the hole of one pixel
    EXPECT_EQ(res2.r.flags, CBT_FLAG_FOUND);
    p.startB[0] = (c.x0 + 1) * 256, p.startA[0] = (c.x0 - 3) * 256;  // across the left edge
    ASSERT_EQ(cbt_boundaryTrack(fullView.get(), &p, &res2.r), 0);
    EXPECT_EQ(res2.r.flags, CBT_FLAG_FOUND | CBT_FLAG_BORDER);
    EXPECT_EQ(res2.r.count, static_cast<uint32_t>(2 * (c.width - 1) + 2 * (c.height - 1)));
    EXPECT_NEAR(signedArea(res2.points()), (c.width - 1) * (c.height - 1), 1e-9);
  }
}

TEST(BoundaryTrack, StopAtBorderAndMinimumLength) {
  Canvas c(0, 0, 40, 30);
  const Shape shape{{shapes::rectangle(5.0, 15.0, 20.0, 10.0, 0), shapes::rectangle(30.0, 15.0, 3.0, 3.0, 0)}};
  c.render(shape, kLight, kDark);
  View view(c);
  Result closed, open;
  cbt_runParams p = params(1);
  seedOnRow(&p, c, 15, 5);
  ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &closed.r), 0);
  p.closeAtBorder = 0;
  ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &open.r), 0);
  EXPECT_EQ(open.r.flags, CBT_FLAG_FOUND | CBT_FLAG_BORDER);
  ASSERT_LT(open.r.count, closed.r.count);
  const auto a = closed.raw(), b = open.raw();
  EXPECT_TRUE(std::equal(b.begin(), b.end(), a.begin()));
  EXPECT_EQ(open.r.points[open.r.count - 1].x, 0);  // stopped on the left edge

  // The small square is 3 x 3 dark pixels, 12 crossings: a minimum of 13 points drops it, 12 keeps it.
  p.closeAtBorder = 1;
  seedOnRow(&p, c, 15, 25);
  p.minPoints = 13;
  ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &closed.r), 0);
  EXPECT_EQ(closed.r.flags, 0u);
  EXPECT_EQ(closed.r.count, 0u);
  p.minPoints = 12;
  ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &closed.r), 0);
  EXPECT_EQ(closed.r.count, 12u);
}

TEST(BoundaryTrackAdaptive, LevelMovesTheThresholdWithinTheSeedContrast) {
  // Cone as above: value 250 - 5 r, so threshold T is the circle of radius (250 - T) / 5.
  const double cx = 40.5, cy = 40.25;
  Canvas c(0, 0, 81, 81);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      c.at(x, y) = static_cast<uint8_t>(std::lround(std::max(0.0, 250.0 - 5.0 * std::hypot(x - cx, y - cy))));
  View view(c);
  cbt_runParams p = params(0, 128);
  p.startB[0] = 40 * 256, p.startB[1] = 40 * 256;
  p.startA[0] = 80 * 256, p.startA[1] = 40 * 256;
  p.seedStrength = 3 * 96;  // contrast 96: levels 80 ... 176
  p.localThreshold = 1;
  struct Case {
    int level, threshold;
  };
  // 16ths of the contrast towards the light blob's side, clamped one grey level inside it.
  const Case cases[] = {{0, 128}, {4, 152}, {-4, 104}, {7, 170}, {8, 175}, {100, 175}, {-100, 81}};
  for (const Case& k : cases) {
    Result res;
    ASSERT_EQ(cbt_boundaryTrack_Adaptive(view.get(), &p, k.level, &res.r), 0);
    EXPECT_EQ(res.r.threshold, k.threshold) << k.level;
    const double radius = (250.0 - k.threshold) / 5.0;
    for (const Pt& q : res.points()) ASSERT_NEAR(std::hypot(q.x - cx, q.y - cy), radius, 0.15) << k.level;
  }
  // A dark blob moves the other way; without the local switch the level is ignored.
  cbt_runParams d = p;
  d.polarity = 1;
  Result res;
  ASSERT_EQ(cbt_boundaryTrack_Adaptive(view.get(), &d, 4, &res.r), 0);
  EXPECT_EQ(res.r.threshold, 104);
  d.localThreshold = 0;
  ASSERT_EQ(cbt_boundaryTrack_Adaptive(view.get(), &d, 4, &res.r), 0);
  EXPECT_EQ(res.r.threshold, 128);
}

TEST(BoundaryTrackAdaptive, MarkingByteSaysWhichPointsToMark) {
  Canvas c(0, 0, 60, 40);
  const Shape shape{{shapes::rectangle(20.0, 20.0, 16.0, 14.0, 0.1), shapes::rectangle(52.0, 20.0, 20.0, 8.0, 0)}};
  c.render(shape, kLight, kDark);
  View view(c);
  cbt_runParams p = params(1);
  p.reportMarking = 1;
  Result res;
  struct Case {
    int fromX;
    int32_t limit;
    int report;
    uint8_t expected;
  };
  // Complete outline: unchanged; cut by the limit: 16; along the window edge: 0; not asked: unchanged.
  const Case cases[] = {{0, 16379, 1, 1}, {0, 20, 1, 16}, {35, 16379, 1, 0}, {35, 16379, 0, 1}};
  for (const Case& k : cases) {
    seedOnRow(&p, c, 20, k.fromX);
    p.maxPoints = k.limit;
    p.reportMarking = k.report;
    res.r.markingMode = 1;
    ASSERT_EQ(cbt_boundaryTrack_Adaptive(view.get(), &p, 0, &res.r), 0);
    EXPECT_EQ(res.r.markingMode, k.expected) << k.fromX << " " << k.limit;
  }
  p.reportMarking = 1;
  p.startA[0] = p.startB[0] = 1 * 256;
  res.r.markingMode = 1;
  EXPECT_EQ(cbt_boundaryTrack_Adaptive(view.get(), &p, 0, &res.r), cbt_errNoBoundary);
  EXPECT_EQ(res.r.markingMode, 0);
}

TEST(BoundaryTrack, FailuresLeaveNothingBehind) {
  Canvas c(0, 0, 100, 100);
  c.render(Shape{{shapes::disc(50, 50, 30)}}, kLight, kDark);
  View view(c);
  cbt_runParams p = params(1);
  seedOnRow(&p, c, 50, 0);
  {
    AssertRecorder asserts;
    Result res;
    EXPECT_EQ(cbt_boundaryTrack(nullptr, &p, &res.r), csys_errAssertion);
    EXPECT_EQ(cbt_boundaryTrack(view.get(), nullptr, &res.r), csys_errAssertion);
    EXPECT_EQ(cbt_boundaryTrack(view.get(), &p, nullptr), csys_errAssertion);
    cbt_runParams bad = p;
    bad.maxPoints = 0;
    EXPECT_EQ(cbt_boundaryTrack(view.get(), &bad, &res.r), csys_errAssertion);
    bad = p;
    bad.threshold = 257;
    EXPECT_EQ(cbt_boundaryTrack_Adaptive(view.get(), &bad, 0, &res.r), csys_errAssertion);
    EXPECT_EQ(cbt_result_construct(nullptr, 0), csys_errAssertion);
    EXPECT_EQ(asserts.count(), 6u);
    cimg_imageConst unbound;
    cimg_imageConst_constructUnbound(&unbound);
    EXPECT_EQ(cbt_boundaryTrack(&unbound, &p, &res.r), csys_errImageUnbound);
  }
  // The first and the second growth of the buffer fail; a failing construct allocates nothing.
  for (uint64_t nth : {1u, 2u}) {
    LiveBlocks live;
    {
      Result res;
      FailAllocation fail(nth);
      EXPECT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), csys_errNoMemory);
      EXPECT_EQ(res.r.count, 0u);
      EXPECT_EQ(res.r.flags, 0u);
    }
    EXPECT_EQ(live.leaked(), 0);
  }
  {
    LiveBlocks live;
    cbt_result r;
    {
      FailAllocation fail(1);
      EXPECT_EQ(cbt_result_construct(&r, 100), csys_errNoMemory);
    }
    EXPECT_EQ(live.leaked(), 0);
  }
}

TEST(BoundaryTrack, AttentionStopsALongTrack) {
  Canvas c(0, 0, 1800, 1800);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) c.at(x, y) = std::hypot(x - 900.5, y - 899.5) < 850 ? kDark : kLight;
  View view(c);
  cbt_runParams p = params(1);
  seedOnRow(&p, c, 900, 0);
  int calls = 0;
  csys_attention_setCallback([](void* n) -> csys_status { return ++*static_cast<int*>(n) > 0 ? 0x80000777 : 0; },
                             &calls);
  Result res;
  EXPECT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), static_cast<csys_status>(0x80000777));
  EXPECT_EQ(res.r.count, 0u);
  EXPECT_EQ(calls, 1);  // polled once, after 4096 steps
  csys_attention_setCallback(nullptr, nullptr);
  ASSERT_EQ(cbt_boundaryTrack(view.get(), &p, &res.r), 0);
  EXPECT_GT(res.r.count, 4096u);
}
