// Data Matrix search from a seed and the straight-edge pre-check, on anti-aliased shapes with
// exact corners: located corners and the result record, marking cells, the border, aspect and
// shape-ratio windows, relaxed four-side fits, merging attempts, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ci_id/contourruns.h"
#include "ci_id/dmsearch.h"
#include "support/assert_recorder.hpp"
#include "support/shapes.hpp"
#include "support/fixtures.hpp"

namespace {

using shapes::Pt;

constexpr uint8_t kLight = 210;
constexpr uint8_t kDark = 40;
constexpr double kDegree = 3.14159265358979323846 / 180;

// One search set-up as a driver prepares it, with the boundary tracker's run parameters.
class Search : public TrackingBench {
 public:
  Search(int width, int height, const std::vector<shapes::Polygon>& parts)
      : TrackingBench(width, height, parts, kLight, kDark) {
    cbt_runParams_init(&run);
    run.closeAtBorder = 1;
    run.saddleByMean = 1;
    run.minPoints = 0;
    run.maxPoints = params.maxContourPoints;
  }

  // The first seed of the given polarity that the library's row seed finder (threshold 45) gives.
  cid2d_trackingSeed seed(int32_t row, int polarity = 1) {
    cid2d_trackingSeed seeds[64];
    int32_t count = 0;
    EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&image, &row, 1, 64, 45, 0, seeds, &count, 0, 0.0), 0);
    for (int i = 0; i < count; ++i)
      if (seeds[i].polarity == polarity) return seeds[i];
    ADD_FAILURE() << "no seed of polarity " << polarity << " on row " << row;
    return cid2d_trackingSeed{};
  }
  csys_status find(const cid2d_trackingSeed& s) {
    return cf_BndFindDMSymbolFromSeed(&image, &params, &s, &run, &marking, nullptr, nullptr, nullptr, &result);
  }
  csys_status precheck(const cid2d_trackingSeed& s) {
    return cf_DcdFindDMSymbolFromSeed(&image, &params, &s, &run, &marking, nullptr, nullptr, nullptr, &result);
  }
  uint8_t& cell(int32_t x, int32_t y) { return marking.window.pixels[(y >> 2) * marking.window.stride + (x >> 2)]; }
  // Largest distance between the located corners (Po, Px, fourth, Py) and the true ones.
  double cornerError(const std::vector<Pt>& truth) const {
    cmath_shapeAffineRectPoints p;
    cmath_shapeAffineRect_getPoints(&result.rectangle, &p);
    const cmath_vect found[4] = {p.po, p.px, result.fourthCorner, p.py};
    return worstCornerError(found, truth);
  }

  cbt_runParams run;
};

}  // namespace

// From either side of its edge, a rotated square is found; its outline and the seed's cell are
// marked, and a second search from the same seed returns at once without tracking.
TEST(DmSearch, SolidSquareIsLocatedOnceFromEitherSideOfItsEdge) {
  for (int polarity : {1, 0}) {
    const shapes::Polygon square = shapes::rectangle(110.3, 97.6, 100, 100, 20 * kDegree);
    Search s(220, 200, {square});
    s.params.firstScanLine = 7;
    const cid2d_trackingSeed seed = s.seed(100, polarity);
    ASSERT_EQ(s.find(seed), 0);
    ASSERT_EQ(s.result.found, 1) << "polarity " << polarity;
    EXPECT_LT(s.cornerError(square.vertices), 1.0);
    // Ordered so that the sides turn one way.
    cmath_shapeAffineRectPoints p;
    cmath_shapeAffineRect_getPoints(&s.result.rectangle, &p);
    const cmath_vect e1{p.px.x - p.po.x, p.px.y - p.po.y}, e2{p.py.x - p.po.x, p.py.y - p.po.y};
    EXPECT_LE(cmath_vect_cross(&e1, &e2), 0);
    EXPECT_TRUE(s.result.parallelogram == 1 && s.result.score > 700 && s.result.threshold == seed.mean &&
                s.result.line == 7) << s.result.score;
    int marked = 0;
    for (const Pt& v : square.vertices) marked += s.cell(int(std::lround(v.x)), int(std::lround(v.y))) != 0;
    EXPECT_TRUE(marked >= 3 && s.cell(110, 97) == 0 && s.cell(seed.x, seed.y) != 0);  // outline and seed, not the centre

    s.params.firstScanLine = 3;
    s.result.boundary.count = 12345;
    ASSERT_EQ(s.find(seed), 0);
    // Never tracked, but the line is written.
    EXPECT_TRUE(s.result.found == 0 && s.result.boundary.count == 12345u && s.result.line == 3);
  }
}

// Blobs that track fully but fail a shape test: 5.5 : 1 is beyond the aspect limit, the square
// and rectangular windows of the expected size, a blob on or across the image border.
TEST(DmSearch, AspectShapeAndBorderTests) {
  struct Case {
    shapes::Polygon shape;
    int32_t sizeA, sizeB, allowBorder;
    int found;
  };
  const Case cases[] = {
      {shapes::rectangle(100, 50, 90, 20, 0), 0, 0, 0, 1},           // 4.5 : 1
      {shapes::rectangle(100, 50, 110, 20, 0), 0, 0, 0, 0},          // 5.5 : 1
      {shapes::rectangle(100, 50, 120, 60, 8 * kDegree), 16, 16, 0, 0},  // 2 : 1 is no square
      {shapes::rectangle(100, 50, 70, 66, 8 * kDegree), 16, 16, 0, 1},
      {shapes::rectangle(100, 50, 150, 50, 8 * kDegree), 8, 18, 0, 1},  // 3 : 1 is a rectangle size
      {shapes::rectangle(100, 50, 90, 60, 8 * kDegree), 8, 18, 0, 0},    // 1.5 : 1 is none
      {shapes::rectangle(100, 50, 90, 60, 8 * kDegree), 0, 0, 0, 1},
      {shapes::rectangle(30, 50, 61, 60, 0), 0, 0, 0, 0},  // left side on the first column
      {shapes::rectangle(30, 50, 61, 60, 0), 0, 0, 1, 1},
      {shapes::rectangle(20, 50, 80, 60, 20 * kDegree), 0, 0, 1, 0},  // cut by the window
  };
  for (const Case& c : cases) {
    Search s(200, 100, {c.shape});
    s.params.expectedSizeA = c.sizeA;
    s.params.expectedSizeB = c.sizeB;
    s.params.allowBorder = c.allowBorder;
    ASSERT_EQ(s.find(s.seed(50)), 0);
    EXPECT_GT(s.result.boundary.count, 100u);
    EXPECT_EQ(s.result.found, c.found) << "case " << &c - cases;
    // Closed along the window's edge.
    EXPECT_TRUE(!c.found || !c.allowBorder || s.cornerError({{0, 20}, {60.5, 20}, {60.5, 80}, {0, 80}}) < 1.5);
  }
}

TEST(DmSearch, RelaxedCornersFitAllFourSidesOfAKeystone) {
  const std::vector<Pt> quad{{50, 40}, {160, 52}, {150, 150}, {58, 135}};
  for (int relaxed : {0, 1}) {
    Search s(220, 200, {shapes::Polygon{quad, 1}});
    s.params.relaxedCorners = relaxed;
    ASSERT_EQ(s.find(s.seed(95)), 0);
    ASSERT_EQ(s.result.found, 1) << "relaxed " << relaxed;
    EXPECT_EQ(s.result.parallelogram, 1 - relaxed);
    // The parallelogram misses the keystone's fourth corner.
    EXPECT_TRUE(relaxed ? s.cornerError(quad) < 1.5 : s.cornerError(quad) > 5.0) << s.cornerError(quad);
  }
}

// The merge of collinear runs is the only allocation of a search on a warm result, so a failing
// allocation shows whether a second attempt ran.
TEST(DmSearch, SecondAttemptMergesRunsOnlyWhenAllowed) {
  for (int32_t attempts : {1, 2}) {
    Search s(200, 200, {shapes::Polygon{{{40, 150}, {160, 150}, {100, 46}}, 1}});  // no right angle
    s.params.attempts = attempts;
    const cid2d_trackingSeed seed = s.seed(120);
    ASSERT_EQ(s.find(seed), 0);  // grows the tracker's buffer
    EXPECT_EQ(s.result.found, 0);
    std::fill_n(s.marking.window.pixels, s.marking.window.height * s.marking.window.stride, 0);
    LiveBlocks live;
    {
      FailAllocation fail(1);
      EXPECT_EQ(s.find(seed), attempts == 1 ? 0 : csys_errNoMemory) << attempts;
    }
    EXPECT_EQ(live.leaked(), 0);
  }
}

// A dot costs no tracking and leaves the result alone; a long straight edge runs the full search
// even when its cell was marked by an earlier track.
TEST(DmSearch, PreCheckSearchesOnlyFromLongStraightEdges) {
  Search dot(120, 120, {shapes::rectangle(60, 60, 6, 6, 0)});
  dot.result.line = -5;
  ASSERT_EQ(dot.precheck(dot.seed(60)), 0);
  EXPECT_TRUE(dot.result.line == -5 && dot.result.boundary.count == 0u);

  Search bar(160, 120, {shapes::rectangle(80, 60, 60, 30, 0)});
  const cid2d_trackingSeed seed = bar.seed(60);
  bar.cell(seed.x, seed.y) = 1;
  ASSERT_EQ(bar.find(seed), 0);
  EXPECT_EQ(bar.result.found, 0);  // the plain search stops at the mark
  ASSERT_EQ(bar.precheck(seed), 0);
  EXPECT_EQ(bar.result.found, 1);
}

// Every tracked point marks one cell, that of the pixel it rounds to: ((x + 128) >> 10,
// (y + 128) >> 10) for a point in 1/256 pixel. Nothing else is marked, the seed's cell included
// unless the outline passes it. Searched from a mark-free seed at the square's edge and from
// inside a ring (whose outline runs two pixels away from the seed), found or not.
TEST(DmSearch, EachTrackedPointMarksTheCellOfItsPixel) {
  const std::vector<std::vector<shapes::Polygon>> scenes = {
      {shapes::rectangle(110.3, 97.6, 100, 100, 20 * kDegree)},
      {shapes::rectangle(100, 100, 120, 120, 0), shapes::rectangle(100, 100, 40, 40, 0, -1)}};
  for (size_t k = 0; k < scenes.size(); ++k) {
    Search s(220, 200, scenes[k]);
    const cid2d_trackingSeed seed = s.seed(100);
    ASSERT_EQ(s.find(seed), 0);
    ASSERT_GT(s.result.boundary.count, 100u);
    const cimg_window& m = s.marking.window;
    std::vector<uint8_t> expected(static_cast<size_t>(m.stride) * m.height, 0);
    for (uint32_t i = 0; i < s.result.boundary.count; ++i) {
      const cbt_point& p = s.result.boundary.points[i];
      expected[((p.y + 128) >> 10) * m.stride + ((p.x + 128) >> 10)] = 1;
    }
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), m.pixels)) << "scene " << k;
  }
}

// An edge upright below the seed that leans left above it, 6 columns a step, for two steps: the
// upward pass last matches 12 columns left of the seed. The downward pass starts its search
// there (the column is set once, not per direction), and the upright edge below lies 12 columns
// away, beyond the 6 it looks either way: the chain keeps 3 links and the full search never
// runs. An edge upright all along gives a chain in both directions and runs it.
TEST(DmSearch, PreCheckSearchesDownFromWhereTheUpwardPassEnded) {
  const struct {
    std::vector<shapes::Pt> outline;
    bool searched;
  } rows[] = {{{{45, 30}, {200, 30}, {200, 90}, {60, 90}, {60, 40}}, false},
              {{{60, 10}, {200, 10}, {200, 90}, {60, 90}}, true}};
  for (const auto& row : rows) {
    Search s(220, 100, {shapes::Polygon{row.outline}});
    const cid2d_trackingSeed seed = s.seed(40, 0);  // light to dark
    ASSERT_NEAR(seed.x, 60, 1);
    s.result.boundary.count = 12345;
    s.result.line = -5;
    ASSERT_EQ(s.precheck(seed), 0);
    EXPECT_EQ(s.result.boundary.count != 12345u, row.searched) << row.outline[0].x;
    EXPECT_EQ(s.result.line != -5, row.searched) << row.outline[0].x;
  }
}

TEST(DmSearch, FailuresAndPreconditions) {
  Search s(100, 100, {shapes::rectangle(50, 50, 40, 40, 0)});
  const cid2d_trackingSeed seed = s.seed(50);
  AssertRecorder asserts;
  s.params.scratchSize = CID2D_SCRATCH_MIN_SIZE - 1;
  EXPECT_EQ(s.find(seed), csys_errAssertion);
  EXPECT_EQ(s.precheck(seed), csys_errAssertion);
  s.params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
  EXPECT_EQ(cf_BndFindDMSymbolFromSeed(&s.image, &s.params, &seed, &s.run, &s.marking, nullptr, nullptr, nullptr, nullptr),
            csys_errAssertion);
  EXPECT_EQ(asserts.count(), 3u);
  cimg_image unbound;
  cimg_image_constructUnbound(&unbound);
  EXPECT_EQ(cf_BndFindDMSymbolFromSeed(&s.image, &s.params, &seed, &s.run, &unbound, nullptr, nullptr, nullptr, &s.result),
            csys_errImageUnbound);
  // A stop request during the search is returned as it stands.
  csys_attention_setCallback([](void*) -> csys_status { return static_cast<csys_status>(0x80001234); }, nullptr);
  const csys_status st = s.find(seed);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(st, static_cast<csys_status>(0x80001234));
}
