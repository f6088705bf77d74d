// Data Matrix search from a seed and the straight-edge pre-check, on anti-aliased shapes with
// exact corners (squares, bars, rectangles, a keystoned quadrilateral, a triangle) and on a
// rendered symbol: the located corners, the result record, marking cells, the mask, the border,
// aspect and shape-ratio tests, relaxed four-side completion, merging attempts, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "ci_id/contourruns.h"
#include "ci_id/dmsearch.h"
#include "ci_id/region.h"
#include "support/assert_recorder.hpp"
#include "support/scene.hpp"
#include "support/shapes.hpp"

namespace {

using shapes::Pt;

constexpr uint8_t kLight = 210;
constexpr uint8_t kDark = 40;

// One search set-up as a driver prepares it: a canvas image at (0, 0), a quarter-resolution
// marking image, default parameters with a scratch buffer, driver run parameters and a result.
class Search {
 public:
  Search(int width, int height) : canvas(0, 0, width, height, 0, kLight), scratch_((CID2D_SCRATCH_MIN_SIZE + 3) / 4) {
    EXPECT_EQ(cimg_image_construct(&marking, (width + 3) / 4, (height + 3) / 4), 0);
    cid2d_trackingParams_init(&params);
    params.scratch = reinterpret_cast<uint8_t*>(scratch_.data());
    params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
    cbt_runParams_init(&run);
    run.closeAtBorder = 1;
    run.saddleByMean = 1;
    run.minPoints = 0;
    run.maxPoints = params.maxContourPoints;
    EXPECT_EQ(cid2d_trackingResult_construct(&result), 0);
  }
  ~Search() {
    cid2d_trackingResult_destruct(&result);
    cimg_image_destruct(&marking);
    if (haveImage_) cimg_imageConst_destruct(&image_);
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  void draw(const std::vector<shapes::Polygon>& parts, uint8_t background = kLight, uint8_t foreground = kDark) {
    shapes::Shape shape;
    shape.parts = parts;
    canvas.render(shape, background, foreground);
  }
  const cimg_imageConst* image() {
    if (!haveImage_) {
      EXPECT_EQ(cimg_imageConst_constructWrap(&image_, canvas.windowPixels(), canvas.width, canvas.height,
                                              canvas.stride()),
                0);
      haveImage_ = true;
    }
    return &image_;
  }
  // Seeds on one row from the library's row seed finder (threshold 45).
  std::vector<cid2d_trackingSeed> seedsOnRow(int32_t row) {
    std::vector<cid2d_trackingSeed> seeds(64);
    int32_t count = 0;
    EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(image(), &row, 1, 64, 45, 0, seeds.data(), &count, 0, 0.0), 0);
    seeds.resize(static_cast<size_t>(count));
    return seeds;
  }
  cid2d_trackingSeed firstSeed(int32_t row, int polarity) {
    for (const auto& s : seedsOnRow(row))
      if (s.polarity == polarity) return s;
    ADD_FAILURE() << "no seed of polarity " << polarity << " on row " << row;
    return cid2d_trackingSeed{};
  }
  csys_status find(const cid2d_trackingSeed& seed, const cid_mask* mask = nullptr) {
    return cf_BndFindDMSymbolFromSeed(image(), &params, &seed, &run, &marking, mask, nullptr, nullptr, &result);
  }
  csys_status precheck(const cid2d_trackingSeed& seed) {
    return cf_DcdFindDMSymbolFromSeed(image(), &params, &seed, &run, &marking, nullptr, nullptr, nullptr, &result);
  }
  uint8_t& cell(int32_t x, int32_t y) { return marking.window.pixels[(y >> 2) * marking.window.stride + (x >> 2)]; }
  // The located corners around the outline: Po, Px, fourth corner, Py.
  std::array<cmath_vect, 4> corners() const {
    cmath_shapeAffineRectPoints p;
    cmath_shapeAffineRect_getPoints(&result.rectangle, &p);
    return {p.po, p.px, result.fourthCorner, p.py};
  }

  shapes::Canvas canvas;
  cimg_image marking;
  cid2d_trackingParams params;
  cbt_runParams run;
  cid2d_trackingResult result;

 private:
  std::vector<int32_t> scratch_;
  cimg_imageConst image_{};
  bool haveImage_ = false;
};

// Largest distance between found and true corners under the best pairing of the two sets.
double cornerError(const std::array<cmath_vect, 4>& found, const std::vector<Pt>& truth) {
  std::array<int, 4> perm{0, 1, 2, 3};
  double best = 1e300;
  do {
    double worst = 0;
    for (int i = 0; i < 4; ++i)
      worst = std::max(worst, std::hypot(found[perm[i]].x - truth[i].x, found[perm[i]].y - truth[i].y));
    best = std::min(best, worst);
  } while (std::next_permutation(perm.begin(), perm.end()));
  return best;
}

constexpr double kDegree = 3.14159265358979323846 / 180;

}  // namespace

TEST(DmSearch, SolidSquareIsLocatedFromEitherSideOfItsEdge) {
  for (int polarity : {1, 0}) {
    Search s(220, 200);
    const shapes::Polygon square = shapes::rectangle(110.3, 97.6, 100, 100, 20 * kDegree);
    s.draw({square});
    s.params.firstScanLine = 7;
    const cid2d_trackingSeed seed = s.firstSeed(100, polarity);
    ASSERT_EQ(s.find(seed), 0);
    ASSERT_EQ(s.result.found, 1) << "polarity " << polarity;
    EXPECT_EQ(s.result.parallelogram, 1);
    EXPECT_LT(cornerError(s.corners(), square.vertices), 1.0);
    // A parallelogram: the fourth corner closes it, and the sides turn one way.
    const auto c = s.corners();
    EXPECT_NEAR(c[2].x, c[1].x + c[3].x - c[0].x, 1e-4);
    EXPECT_NEAR(c[2].y, c[1].y + c[3].y - c[0].y, 1e-4);
    const cmath_vect e1{c[1].x - c[0].x, c[1].y - c[0].y}, e2{c[3].x - c[0].x, c[3].y - c[0].y};
    EXPECT_LE(cmath_vect_cross(&e1, &e2), 0);
    // The record of the find.
    EXPECT_EQ(s.result.quality, 1000);
    EXPECT_GT(s.result.score, 700);
    EXPECT_LE(s.result.score, 1000);
    EXPECT_EQ(s.result.threshold, seed.mean);
    EXPECT_EQ(s.result.line, 7);
    EXPECT_EQ(s.result.seed.x, seed.x);
    EXPECT_EQ(s.result.seed.strength, seed.strength);
    // The outline is marked at quarter resolution, and nothing far from it.
    int marked = 0;
    for (const Pt& v : square.vertices) marked += s.cell(static_cast<int>(std::lround(v.x)), static_cast<int>(std::lround(v.y))) != 0;
    EXPECT_GE(marked, 3);
    EXPECT_EQ(s.cell(110, 97), 0);  // the centre
    EXPECT_EQ(s.cell(4, 4), 0);
    EXPECT_NE(s.cell(seed.x, seed.y), 0);
  }
}

TEST(DmSearch, SeedOnAnOutlineTrackedBeforeReturnsAtOnce) {
  Search s(200, 200);
  s.draw({shapes::rectangle(100, 100, 80, 80, 10 * kDegree)});
  const cid2d_trackingSeed seed = s.firstSeed(100, 1);
  s.cell(seed.x, seed.y) = 1;
  s.params.firstScanLine = 3;
  ASSERT_EQ(s.find(seed), 0);
  EXPECT_EQ(s.result.found, 0);
  EXPECT_EQ(s.result.boundary.count, 0u);  // never tracked
  EXPECT_EQ(s.result.seed.x, seed.x);      // but the seed and line are written
  EXPECT_EQ(s.result.line, 3);
  s.cell(seed.x, seed.y) = 0;
  ASSERT_EQ(s.find(seed), 0);
  EXPECT_EQ(s.result.found, 1);
  EXPECT_GT(s.result.boundary.count, 200u);
}

TEST(DmSearch, AspectBeyondFiveToOneIsRejected) {
  for (const auto& [length, expectFound] : {std::pair{90.0, 1}, std::pair{110.0, 0}}) {
    Search s(200, 100);
    s.draw({shapes::rectangle(100, 50, length, 20, 0)});
    ASSERT_EQ(s.find(s.firstSeed(50, 1)), 0);
    EXPECT_EQ(s.result.found, expectFound) << length << " x 20";
    EXPECT_GT(s.result.boundary.count, 200u);
  }
}

TEST(DmSearch, BlobsAtTheBorderNeedAllowBorderAndAWindowThatHoldsThem) {
  // A square whose left side lies on the first pixel column: the tracker closes it along the
  // window's edge.
  {
    Search s(160, 160);
    s.draw({shapes::rectangle(30, 80, 61, 60, 0)});
    const cid2d_trackingSeed seed = s.firstSeed(80, 1);
    ASSERT_EQ(s.find(seed), 0);
    EXPECT_EQ(s.result.found, 0);
    EXPECT_NE(s.result.boundary.flags & CBT_FLAG_BORDER, 0u);
    s.params.allowBorder = 1;
    s.cell(seed.x, seed.y) = 0;
    ASSERT_EQ(s.find(seed), 0);
    EXPECT_EQ(s.result.found, 1);
    std::vector<Pt> inWindow{{0, 50}, {60.5, 50}, {60.5, 110}, {0, 110}};
    EXPECT_LT(cornerError(s.corners(), inWindow), 1.5);
  }
  // A square cut by the window: its fitted outline leaves the window even with allowBorder.
  {
    Search s(160, 160);
    s.draw({shapes::rectangle(20, 80, 80, 60, 20 * kDegree)});
    s.params.allowBorder = 1;
    int tracked = 0;
    for (const auto& seed : s.seedsOnRow(80)) {
      ASSERT_EQ(s.find(seed), 0);
      EXPECT_EQ(s.result.found, 0);
      tracked += s.result.boundary.count > 0;
    }
    EXPECT_GT(tracked, 0);
  }
}

TEST(DmSearch, ExpectedSizesChooseTheSideRatioWindows) {
  struct Case {
    double width, height;
    int32_t a, b;
    int found;
  };
  const Case cases[] = {
      {120, 60, 0, 0, 1},   // unknown size: any ratio
      {120, 60, 16, 16, 0}, // square expected: 2 : 1 is no square
      {70, 66, 16, 16, 1},
      {120, 60, 8, 18, 1},  // rectangular: 2 : 1 lies in a Data Matrix window
      {150, 50, 8, 18, 1},  // 3 : 1 too
      {90, 60, 8, 18, 0},   // 1.5 : 1 lies in none
      {90, 60, 0, 0, 1},
  };
  for (const Case& c : cases) {
    Search s(220, 160);
    s.draw({shapes::rectangle(110, 80, c.width, c.height, 8 * kDegree)});
    s.params.expectedSizeA = c.a;
    s.params.expectedSizeB = c.b;
    ASSERT_EQ(s.find(s.firstSeed(80, 1)), 0);
    EXPECT_EQ(s.result.found, c.found) << c.width << " x " << c.height << " expecting " << c.a << " x " << c.b;
  }
}

TEST(DmSearch, RelaxedCornersFitAllFourSidesOfAKeystone) {
  const std::vector<Pt> quad{{50, 40}, {160, 52}, {150, 150}, {58, 135}};
  for (int relaxed : {0, 1}) {
    Search s(220, 200);
    s.draw({shapes::Polygon{quad, 1}});
    s.params.relaxedCorners = relaxed;
    ASSERT_EQ(s.find(s.firstSeed(95, 1)), 0);
    ASSERT_EQ(s.result.found, 1) << "relaxed " << relaxed;
    const double error = cornerError(s.corners(), quad);
    if (relaxed) {
      EXPECT_EQ(s.result.parallelogram, 0);
      EXPECT_LT(error, 1.5);
    } else {
      EXPECT_EQ(s.result.parallelogram, 1);
      EXPECT_GT(error, 5.0);  // the parallelogram misses the keystone's fourth corner
    }
  }
}

// The merge of collinear runs is the only allocation of a search on a warm result, so a failing
// allocation shows whether a second attempt ran.
TEST(DmSearch, SecondAttemptMergesRunsOnlyWhenAllowed) {
  const std::vector<Pt> triangle{{40, 150}, {160, 150}, {100, 46}};  // 60 degree corners: no pair
  for (int32_t attempts : {1, 2}) {
    Search s(200, 200);
    s.draw({shapes::Polygon{triangle, 1}});
    s.params.attempts = attempts;
    const cid2d_trackingSeed seed = s.firstSeed(120, 1);
    ASSERT_EQ(s.find(seed), 0);  // grows the tracker's buffer
    EXPECT_EQ(s.result.found, 0);
    s.cell(seed.x, seed.y) = 0;
    for (int i = 0; i < s.marking.window.height * s.marking.window.stride; ++i) s.marking.window.pixels[i] = 0;
    LiveBlocks live;
    {
      FailAllocation fail(1);
      EXPECT_EQ(s.find(seed), attempts == 1 ? 0 : csys_errNoMemory) << attempts;
    }
    EXPECT_EQ(live.leaked(), 0);
  }
}

TEST(DmSearch, ClaimedRegionsStopSeedsAndCandidates) {
  Search s(200, 200);
  s.draw({shapes::rectangle(100, 100, 80, 80, 15 * kDegree)});
  const cid2d_trackingSeed seed = s.firstSeed(100, 1);
  cid_mask mask;
  ASSERT_EQ(cid_mask_construct(&mask, nullptr), 0);
  // A claim over the centre only: the seed is tracked, the candidate falls on the claim.
  cid_region centre;
  const cmath_vect po{95, 95}, px{105, 95}, py{95, 105};
  cmath_shapeAffineRectPoints pts;
  cmath_shapeAffineRectPoints_init(&pts, &po, &px, &py);
  ASSERT_EQ(cid_region_initAffineRectPoints(&centre, &pts, nullptr), 0);
  ASSERT_EQ(cid_mask_appendRegion(&mask, &centre, 0), 0);
  ASSERT_EQ(s.find(seed, &mask), 0);
  EXPECT_EQ(s.result.found, 0);
  EXPECT_GT(s.result.boundary.count, 0u);
  // A claim over the seed: not even tracked.
  cid_region all;
  const cmath_vect qo{20, 20}, qx{180, 20}, qy{20, 180};
  cmath_shapeAffineRectPoints_init(&pts, &qo, &qx, &qy);
  ASSERT_EQ(cid_region_initAffineRectPoints(&all, &pts, nullptr), 0);
  ASSERT_EQ(cid_mask_appendRegion(&mask, &all, 0), 0);
  s.cell(seed.x, seed.y) = 0;
  s.result.boundary.count = 0;
  ASSERT_EQ(s.find(seed, &mask), 0);
  EXPECT_EQ(s.result.found, 0);
  EXPECT_EQ(s.result.boundary.count, 0u);
  cid_mask_destruct(&mask);
}

TEST(DmSearch, RenderedSymbolIsLocatedFromItsSolidEdge) {
  const scene::DmSymbol symbol = scene::encodeDataMatrix("idut 0123456789", 0);
  scene::SceneSpec spec;
  spec.width = 240;
  spec.height = 220;
  spec.symbols = {symbol};
  scene::Placement p;
  p.centre = {120, 110};
  p.moduleSize = 6;
  p.angleDeg = 30;
  p.quietZone = 2;
  spec.placements = {p};
  const scene::Scene sc = scene::render(spec);
  Search s(spec.width, spec.height);
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x) s.canvas.at(x, y) = sc.image.at(x, y);
  std::vector<Pt> truth;
  for (const auto& c : sc.symbols[0].outline()) truth.push_back(Pt{c.x - 0.5, c.y - 0.5});
  // Walking the row as a driver does: the first find is the symbol; once it is claimed, no seed
  // of the row (the rest of its outline, blobs inside it) yields another.
  cid_mask mask;
  ASSERT_EQ(cid_mask_construct(&mask, nullptr), 0);
  int found = 0;
  for (const auto& seed : s.seedsOnRow(110)) {
    ASSERT_EQ(s.find(seed, &mask), 0);
    if (s.result.found == 0) continue;
    ++found;
    EXPECT_LT(cornerError(s.corners(), truth), 1.5);
    cid_region region;
    ASSERT_EQ(cid_region_initAffineRect(&region, &s.result.rectangle, nullptr), 0);
    ASSERT_EQ(cid_mask_appendRegion(&mask, &region, 0), 0);
  }
  EXPECT_EQ(found, 1);
  cid_mask_destruct(&mask);
}

TEST(DmSearch, PreCheckTracksOnlyLongStraightEdges) {
  // A dot: returns without touching the result.
  {
    Search s(120, 120);
    s.draw({shapes::rectangle(60, 60, 6, 6, 0)});
    s.result.line = -5;
    s.result.score = -6;
    const cid2d_trackingSeed seed = s.firstSeed(60, 1);
    ASSERT_EQ(s.precheck(seed), 0);
    EXPECT_EQ(s.result.line, -5);
    EXPECT_EQ(s.result.score, -6);
    EXPECT_EQ(s.result.boundary.count, 0u);
  }
  // A 30-row straight edge: the full search runs even though the seed's cell was marked.
  {
    Search s(160, 120);
    s.draw({shapes::rectangle(80, 60, 60, 30, 0)});
    const cid2d_trackingSeed seed = s.firstSeed(60, 1);
    s.cell(seed.x, seed.y) = 1;
    ASSERT_EQ(s.find(seed), 0);
    EXPECT_EQ(s.result.found, 0);  // the plain search stops at the mark
    ASSERT_EQ(s.precheck(seed), 0);
    EXPECT_EQ(s.result.found, 1);
  }
}

// A rectangle's left edge above the seed, broken by light lines across it: one missing step is
// forgiven, two in a row end the walk (and leave too few links for the full search).
TEST(DmSearch, PreCheckForgivesOneMissingStepPerDirection) {
  for (int gaps : {1, 2}) {
    Search s(200, 160);
    s.draw({shapes::rectangle(100, 60, 60, 44, 0)});  // rows 38 ... 82, seeded on its last row
    const cid2d_trackingSeed seed = s.firstSeed(80, 1);
    for (int g = 0; g < gaps; ++g)
      for (int x = seed.x - 12; x <= seed.x + 12; ++x) s.canvas.at(x, 68 - 4 * g) = kLight;
    s.result.line = -5;
    ASSERT_EQ(s.precheck(seed), 0);
    if (gaps == 1)
      EXPECT_NE(s.result.line, -5);  // searched
    else
      EXPECT_EQ(s.result.line, -5);  // 76 and 72 only: three links
  }
}

TEST(DmSearch, FailuresAndPreconditions) {
  Search s(100, 100);
  s.draw({shapes::rectangle(50, 50, 40, 40, 0)});
  const cid2d_trackingSeed seed = s.firstSeed(50, 1);
  AssertRecorder asserts;
  s.params.scratchSize = CID2D_SCRATCH_MIN_SIZE - 1;
  EXPECT_EQ(s.find(seed), csys_errAssertion);
  EXPECT_EQ(s.precheck(seed), csys_errAssertion);
  s.params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
  EXPECT_EQ(cf_BndFindDMSymbolFromSeed(s.image(), &s.params, &seed, &s.run, &s.marking, nullptr, nullptr, nullptr,
                                       nullptr),
            csys_errAssertion);
  EXPECT_EQ(asserts.count(), 3u);

  // An unbound marking image.
  cimg_image unbound;
  cimg_image_constructUnbound(&unbound);
  EXPECT_EQ(cf_BndFindDMSymbolFromSeed(s.image(), &s.params, &seed, &s.run, &unbound, nullptr, nullptr, nullptr,
                                       &s.result),
            csys_errImageUnbound);

  // A stop request during the search is returned.
  csys_attention_setCallback([](void*) -> csys_status { return static_cast<csys_status>(0x80001234); }, nullptr);
  const csys_status st = s.find(seed);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(st, static_cast<csys_status>(0x80001234));
}
