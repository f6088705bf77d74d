// Tracking records and row seed finders: defaults, the result's lifetime, seeds on step edges,
// the pair filter, the seed limit, the sort orders of the finders, and the row and window limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/csys_cleanup.hpp"
#include "ci_id/tracking.h"
#include "ci_id/typecheck.h"
#include "support/assert_recorder.hpp"

namespace {

using Seed = cid2d_trackingSeed;

// A grey image whose rows are given one by one; wrapped (pixels owned by the test).
struct Picture {
  int width, height;
  std::vector<uint8_t> pixels;
  cimg_imageConst image{};

  Picture(int w, int h, uint8_t fill = 200) : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {
    EXPECT_EQ(cimg_imageConst_constructWrap(&image, pixels.data(), w, h, w), 0);
  }
  ~Picture() { cimg_imageConst_destruct(&image); }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  uint8_t* row(int y) { return &pixels[static_cast<size_t>(y) * width]; }
  // Columns [from, to) of row y set to value.
  void fill(int y, int from, int to, uint8_t value) { std::fill(row(y) + from, row(y) + to, value); }
};

std::vector<Seed> findSeeds(const cimg_imageConst& image, const std::vector<int32_t>& rows, int32_t maxSeeds,
                            int32_t contrast, bool sort = false, bool pairFilter = false, double spacing = 0) {
  std::vector<Seed> seeds(maxSeeds + 2);
  // Guard records after the capacity must stay untouched.
  for (auto& s : seeds) std::memset(&s, 0x5a, sizeof(s));
  int32_t n = -1;
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&image, rows.data(), static_cast<int32_t>(rows.size()), maxSeeds,
                                             contrast, sort, seeds.data(), &n, pairFilter, spacing),
            0);
  EXPECT_GE(n, 0);
  EXPECT_LE(n, maxSeeds);
  Seed guard;
  std::memset(&guard, 0x5a, sizeof(guard));
  EXPECT_EQ(std::memcmp(&seeds[maxSeeds], &guard, sizeof(guard)), 0);
  seeds.resize(std::max(n, 0));
  return seeds;
}

std::vector<int> columns(const std::vector<Seed>& seeds) {
  std::vector<int> out;
  for (const Seed& s : seeds) out.push_back(s.x);
  return out;
}

// The seed order as its own definition: strength descending, then line ascending, stable.
void referenceSort(std::vector<Seed>::iterator begin, std::vector<Seed>::iterator end) {
  std::stable_sort(begin, end, [](const Seed& a, const Seed& b) {
    return a.strength != b.strength ? a.strength > b.strength : a.line < b.line;
  });
}

bool sameSeeds(const std::vector<Seed>& a, const std::vector<Seed>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Seed)) == 0;
}

}  // namespace

TEST(Tracking, ParamsInitWritesEveryDefault) {
  cid2d_trackingParams p;
  std::memset(&p, 0xcd, sizeof(p));
  ASSERT_EQ(cid2d_trackingParams_init(&p), 0);
  EXPECT_EQ(p.scratch, nullptr);
  EXPECT_EQ(p.scratchSize, 0u);
  EXPECT_EQ(p.scanLines, nullptr);
  EXPECT_EQ(p.scanLineCount, 0);
  EXPECT_EQ(p.minSide, 15.0);
  EXPECT_EQ(p.maxSide, 2000.0);
  EXPECT_EQ(p.expectedSizeA, 0);
  EXPECT_EQ(p.expectedSizeB, 0);
  EXPECT_EQ(p.scanDirection, 1);
  EXPECT_EQ(p.firstScanLine, 0);
  EXPECT_EQ(p.minSmoothing, 3.0);
  EXPECT_EQ(p.maxContourPoints, 2147483647);
  EXPECT_EQ(p.allowBorder, 0);
  EXPECT_EQ(p.relaxedCorners, 0);
  EXPECT_EQ(p.wideCorners, 0);
  EXPECT_EQ(p.attempts, 2);
  AssertRecorder rec;
  EXPECT_EQ(cid2d_trackingParams_init(nullptr), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(Tracking, ResultLifetimeAndReset) {
  LiveBlocks live;
  cid2d_trackingResult r;
  std::memset(&r, 0xcd, sizeof(r));
  r.trackerRuns = 77;
  ASSERT_EQ(cid2d_trackingResult_construct(&r), 0);
  cmath_shapeAffineRectPoints pts;
  ASSERT_EQ(cmath_shapeAffineRect_getPoints(&r.rectangle, &pts), 0);
  EXPECT_EQ(pts.po.x, 0.0);
  EXPECT_EQ(pts.po.y, 0.0);
  EXPECT_EQ(pts.px.x, 1.0);
  EXPECT_EQ(pts.px.y, 0.0);
  EXPECT_EQ(pts.py.x, 0.0);
  EXPECT_EQ(pts.py.y, 1.0);
  EXPECT_EQ(r.fourthCorner.x, 0.0);
  EXPECT_EQ(r.fourthCorner.y, 0.0);
  EXPECT_EQ(r.parallelogram, 1);
  EXPECT_EQ(r.found, 0);
  EXPECT_EQ(r.line, 0);
  EXPECT_EQ(r.score, 0);
  EXPECT_EQ(r.quality, 0);
  EXPECT_EQ(r.threshold, 0);
  const Seed zero{};
  EXPECT_EQ(std::memcmp(&r.seed, &zero, sizeof(zero)), 0);
  EXPECT_EQ(r.boundary.count, 0u);
  EXPECT_EQ(r.boundary.flags, 0u);
  EXPECT_EQ(r.trackerRuns, 77);

  // The boundary holds memory once a track has filled it; destruct gives it back.
  Picture pic(40, 40, 220);
  for (int y = 10; y < 30; ++y) pic.fill(y, 10, 30, 30);
  cbt_runParams run;
  ASSERT_EQ(cbt_runParams_init(&run), 0);
  run.threshold = 125;
  run.startA[0] = 12 * 256, run.startA[1] = 20 * 256;
  run.startB[0] = 7 * 256, run.startB[1] = 20 * 256;
  ASSERT_EQ(cbt_boundaryTrack(&pic.image, &run, &r.boundary), 0);
  EXPECT_GT(r.boundary.count, 40u);

  r.found = 1, r.score = 800, r.line = 5, r.quality = 1000, r.threshold = 125, r.parallelogram = 0;
  ASSERT_EQ(cid2d_trackingResult_reset(&r), 0);
  EXPECT_EQ(r.found, 0);
  EXPECT_EQ(r.score, 0);
  EXPECT_EQ(r.line, 5);
  EXPECT_EQ(r.quality, 1000);
  EXPECT_EQ(r.threshold, 125);
  EXPECT_EQ(r.parallelogram, 0);
  EXPECT_GT(r.boundary.count, 40u);

  r.found = 1;
  ASSERT_EQ(cid2d_trackingResult_destruct(&r), 0);
  EXPECT_EQ(r.found, 0);
  EXPECT_EQ(live.leaked(), 0);

  // A result registered for clean-up goes through its type-check entries and is released
  // on a failing exit.
  {
    csys::CleanupList cleanup;
    cid2d_trackingResult owned;
    ASSERT_EQ(cid2d_trackingResult_construct(&owned), 0);
    csys_typeCheck_cid2d_trackingResult(&owned);
    csys_typeCheckFunc_cid2d_trackingResult(&cid2d_trackingResult_destruct);
    cleanup.destructOnFailure<cid2d_trackingResult_destruct>(&owned);
    ASSERT_EQ(cbt_boundaryTrack(&pic.image, &run, &owned.boundary), 0);
    owned.found = 1;
    EXPECT_EQ(cleanup.exit(csys_errNoMemory), csys_errNoMemory);
    EXPECT_EQ(owned.found, 0);
  }
  EXPECT_EQ(live.leaked(), 0);

  AssertRecorder rec;
  EXPECT_EQ(cid2d_trackingResult_construct(nullptr), csys_errAssertion);
  EXPECT_EQ(cid2d_trackingResult_reset(nullptr), csys_errAssertion);
  EXPECT_EQ(cid2d_trackingResult_destruct(nullptr), csys_errAssertion);
  EXPECT_EQ(rec.count(), 3u);
}

TEST(Tracking, StepEdgeGivesOneSeedBeforeTheStep) {
  Picture pic(60, 12);
  for (int y = 0; y < 12; ++y) {
    pic.fill(y, 0, 25, 50);   // dark up to column 24
    pic.fill(y, 25, 60, 170); // light from 25
  }
  std::vector<Seed> s = findSeeds(pic.image, {5}, 10, 40);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].x, 24);
  EXPECT_EQ(s[0].y, 5);
  EXPECT_EQ(s[0].strength, 3 * 120);
  EXPECT_EQ(s[0].mean, (50 + 50 + 170 + 170) / 4);
  EXPECT_EQ(s[0].line, 0);
  EXPECT_EQ(s[0].polarity, 1);  // dark before the edge
  EXPECT_EQ(s[0].startA[0], 26 * 256);
  EXPECT_EQ(s[0].startA[1], 5 * 256);
  EXPECT_EQ(s[0].startB[0], 23 * 256);
  EXPECT_EQ(s[0].startB[1], 5 * 256);

  // A light-to-dark edge blurred over one pixel: still one seed, polarity 0, strength a little
  // under 3 x contrast, at the pixel before the middle of the ramp.
  Picture ramp(60, 12);
  for (int y = 0; y < 12; ++y) {
    ramp.fill(y, 0, 30, 230);
    ramp.row(y)[30] = 150;
    ramp.fill(y, 31, 60, 70);
  }
  s = findSeeds(ramp.image, {3, 8}, 10, 40);
  ASSERT_EQ(s.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    EXPECT_TRUE(s[k].x == 29 || s[k].x == 30) << s[k].x;
    EXPECT_EQ(s[k].polarity, 0);
    EXPECT_GE(s[k].strength, 2 * 160);
    EXPECT_LE(s[k].strength, 3 * 160);
    EXPECT_EQ(s[k].line, k);
  }

  // A uniform image, or a contrast under the threshold, gives nothing.
  Picture flat(60, 12, 128);
  EXPECT_TRUE(findSeeds(flat.image, {2, 5, 8}, 10, 1).empty());
  EXPECT_TRUE(findSeeds(pic.image, {5}, 10, 3 * 120 + 1).empty());
  EXPECT_EQ(findSeeds(pic.image, {5}, 10, 3 * 120).size(), 1u);
}

TEST(Tracking, SeedsAreRelativeToTheWindowAndRowsMustLieInside) {
  Picture pic(60, 20);
  for (int y = 0; y < 20; ++y) pic.fill(y, 30, 60, 20);
  cimg_imageConst shifted;
  ASSERT_EQ(cimg_imageConst_constructCopy(&shifted, &pic.image), 0);
  ASSERT_EQ(cimg_imageConst_setWindowOffset(&shifted, 100, 50), 0);
  // Rows 50 ... 69 in image coordinates; only 51 ... 66 are scanned.
  const std::vector<int32_t> scanRows{49, 50, 51, 60, 66, 67, 68, 69, 70};
  const std::vector<Seed> s = findSeeds(shifted, scanRows, 20, 30);
  std::vector<int> lines;
  for (const Seed& x : s) {
    lines.push_back(x.line);
    EXPECT_EQ(x.x, 29);
    EXPECT_EQ(x.y, scanRows[x.line] - 50);
    EXPECT_EQ(x.startA[0], 31 * 256);
    EXPECT_EQ(x.startA[1], x.y * 256);
  }
  EXPECT_EQ(lines, (std::vector<int>{2, 3, 4}));
  cimg_imageConst_destruct(&shifted);

  cimg_imageConst unbound;
  ASSERT_EQ(cimg_imageConst_constructUnbound(&unbound), 0);
  Seed seeds[2];
  int32_t n = 0;
  const int32_t rows[1] = {3};
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&unbound, rows, 1, 2, 30, 0, seeds, &n, 0, 0.0), csys_errImageUnbound);
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds_ThreeScanlines(&unbound, rows, 3, 2, 30, seeds, &n),
            csys_errImageUnbound);
  cimg_imageConst_destruct(&unbound);
  AssertRecorder rec;
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&pic.image, nullptr, 1, 2, 30, 0, seeds, &n, 0, 0.0), csys_errAssertion);
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&pic.image, rows, 1, 2, 30, 0, seeds, nullptr, 0, 0.0),
            csys_errAssertion);
  EXPECT_EQ(rec.count(), 2u);
}

TEST(Tracking, PairFilterKeepsCloseOppositePairsAndOnlyTheLatestLoneEdge) {
  // Dark blocks 40 px wide with 40 px gaps, then a dark line two pixels wide, then more blocks.
  Picture pic(420, 9);
  for (int y = 0; y < 9; ++y) {
    pic.fill(y, 40, 80, 50);
    pic.fill(y, 120, 160, 50);
    pic.fill(y, 200, 202, 50);
    pic.fill(y, 242, 282, 50);
    pic.fill(y, 322, 362, 50);
  }
  // Every edge, unfiltered: blocks give a seed just before each step, the thin line one
  // before it and one on its second pixel (its two responses are 2 x contrast).
  const std::vector<Seed> all = findSeeds(pic.image, {4}, 40, 100);
  EXPECT_EQ(columns(all), (std::vector<int>{39, 79, 119, 159, 198, 201, 241, 281, 321, 361}));

  // Spacing 5: the first edge stays, the second place holds only the latest lone edge until the
  // thin line's two edges come in (the first replacing that edge); the next distant edge is
  // appended after the pair and then replaced by each later one.
  EXPECT_EQ(columns(findSeeds(pic.image, {4}, 40, 100, false, true, 5.0)), (std::vector<int>{39, 198, 201, 361}));
  // Spacing 3.9 counts as 3: the thin line's edges are 3 apart, not a pair any more.
  EXPECT_EQ(columns(findSeeds(pic.image, {4}, 40, 100, false, true, 3.9)), (std::vector<int>{39, 361}));
  // The filter works row by row: a second row starts again with two free places.
  const std::vector<Seed> two = findSeeds(pic.image, {2, 4}, 40, 100, false, true, 5.0);
  ASSERT_EQ(columns(two), (std::vector<int>{39, 198, 201, 361, 39, 198, 201, 361}));
  EXPECT_EQ(two[4].line, 1);
}

TEST(Tracking, SeedLimitStopsTheWholeScan) {
  Picture pic(200, 20);
  for (int y = 0; y < 20; ++y)
    for (int b = 0; b < 5; ++b) pic.fill(y, 20 + 36 * b, 38 + 36 * b, 40);
  // Ten edges per row; the third row has stronger edges that would sort first if scanned.
  for (int b = 0; b < 5; ++b) pic.fill(15, 20 + 36 * b, 38 + 36 * b, 0);
  const std::vector<Seed> s = findSeeds(pic.image, {5, 10, 15}, 15, 60, true);
  ASSERT_EQ(s.size(), 15u);
  int fromFirst = 0, fromSecond = 0;
  for (const Seed& x : s) {
    EXPECT_NE(x.line, 2);
    (x.line == 0 ? fromFirst : fromSecond) += 1;
    if (x.line == 1) {
      EXPECT_LE(x.x, 91);  // the second row's five leftmost edges: 19, 37, 55, 73, 91
    }
  }
  EXPECT_EQ(fromFirst, 10);
  EXPECT_EQ(fromSecond, 5);
  // With the pair filter an overwrite does not count: the limit is on stored seeds.
  EXPECT_EQ(findSeeds(pic.image, {5, 10, 15}, 3, 60, false, true, 2.0).size(), 3u);
  EXPECT_TRUE(findSeeds(pic.image, {5}, 0, 60).empty());
}

TEST(Tracking, SortingFollowsStrengthThenLineAndKeepsScanOrderOtherwise) {
  // Edges of several contrasts on three rows, with equal strengths within and across rows.
  Picture pic(300, 20);
  const uint8_t levels[] = {100, 60, 100, 20, 60, 100};
  for (int y : {4, 9, 14})
    for (int b = 0; b < 6; ++b) pic.fill(y, 20 + 45 * b, 40 + 45 * b, levels[(b + y) % 6]);
  const std::vector<int32_t> rows{14, 4, 9};
  std::vector<Seed> expected = findSeeds(pic.image, rows, 100, 30, false);
  ASSERT_EQ(expected.size(), 36u);
  referenceSort(expected.begin(), expected.end());
  const std::vector<Seed> sorted = findSeeds(pic.image, rows, 100, 30, true);
  EXPECT_TRUE(sameSeeds(sorted, expected));

  // The comparator and the exported sort agree with the reference too.
  std::vector<Seed> shuffled = findSeeds(pic.image, rows, 100, 30, false);
  std::reverse(shuffled.begin(), shuffled.end());
  std::vector<Seed> bySort = shuffled;
  ASSERT_EQ(cid2d_trackingSeed_sort(bySort.data(), static_cast<int32_t>(bySort.size())), 0);
  for (size_t i = 1; i < bySort.size(); ++i) EXPECT_LE(cid2d_trackingSeed_compare(&bySort[i - 1], &bySort[i]), 0);
}

namespace {

// Seeds of one row, unsorted and unfiltered, labelled with line k.
std::vector<Seed> rowSeeds(const cimg_imageConst& image, int32_t row, int32_t line, int32_t contrast) {
  std::vector<Seed> s = findSeeds(image, {row}, 1000, contrast);
  for (Seed& x : s) x.line = line;
  return s;
}

std::vector<Seed> threeRows(const cimg_imageConst& image, const int32_t rows[3], int32_t maxSeeds,
                            int32_t contrast) {
  std::vector<Seed> seeds(maxSeeds + 1);
  std::memset(&seeds[maxSeeds], 0x5a, sizeof(Seed));
  int32_t n = -1;
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds_ThreeScanlines(&image, rows, 12345, maxSeeds, contrast, seeds.data(), &n),
            0);
  Seed guard;
  std::memset(&guard, 0x5a, sizeof(guard));
  EXPECT_EQ(std::memcmp(&seeds[maxSeeds], &guard, sizeof(guard)), 0);
  seeds.resize(std::max(n, 0));
  return seeds;
}

}  // namespace

TEST(Tracking, ThreeScanlinesKeepTheLeftmostEdgeFirstAndTheStrongestOfTheRest) {
  // Row 2: 40 dark bars (80 edges) of rising contrast, the first bar the faintest. Rows 7 and 12
  // have 10 edges each.
  Picture pic(900, 16, 240);
  for (int b = 0; b < 40; ++b) pic.fill(2, 20 + 21 * b, 30 + 21 * b, static_cast<uint8_t>(b == 0 ? 230 : 225 - 5 * b));
  for (int y : {7, 12})
    for (int b = 0; b < 5; ++b) pic.fill(y, 50 + 100 * b, 80 + 100 * b, static_cast<uint8_t>(40 * b + y));
  const int32_t rows[3] = {2, 7, 12};

  // Reference: row 0 keeps its leftmost seed, the 29 strongest others; rows 1 and 2 their three
  // strongest; then everything after the first three in seed order.
  std::vector<Seed> expected;
  std::vector<Seed> r0 = rowSeeds(pic.image, 2, 0, 20);
  ASSERT_EQ(r0.size(), 80u);
  referenceSort(r0.begin() + 1, r0.end());
  expected.insert(expected.end(), r0.begin(), r0.begin() + 30);
  for (int k : {1, 2}) {
    std::vector<Seed> rk = rowSeeds(pic.image, rows[k], k, 20);
    ASSERT_EQ(rk.size(), 10u);
    referenceSort(rk.begin(), rk.end());
    expected.insert(expected.end(), rk.begin(), rk.begin() + 3);
  }
  const Seed leftmost = r0[0];
  referenceSort(expected.begin() + 3, expected.end());
  const std::vector<Seed> got = threeRows(pic.image, rows, 100, 20);
  ASSERT_EQ(got.size(), 36u);
  EXPECT_TRUE(sameSeeds(got, expected));
  EXPECT_EQ(got[0].x, leftmost.x);
  EXPECT_EQ(got[0].x, 19);  // the faint first edge of row 0

  // The limit cuts row 0 short (its 20 leftmost edges) and the other rows are never reached.
  std::vector<Seed> cut = threeRows(pic.image, rows, 20, 20);
  ASSERT_EQ(cut.size(), 20u);
  EXPECT_EQ(cut[0].x, 19);
  for (const Seed& s : cut) {
    EXPECT_EQ(s.line, 0);
    EXPECT_LT(s.x, 20 + 21 * 10);
  }

  // Ten seeds or fewer: no final sort, rows stay in order.
  Picture few(300, 16, 240);
  few.fill(2, 100, 110, 10);           // row 0: two edges, the first (at 99) is the stronger
  few.fill(2, 110, 300, 120);
  for (int b = 0; b < 4; ++b) few.fill(7, 20 + 60 * b, 50 + 60 * b, static_cast<uint8_t>(200 - 40 * b));
  few.fill(12, 150, 300, 0);           // row 2: one edge
  const std::vector<Seed> small = threeRows(few.image, rows, 100, 20);
  ASSERT_EQ(small.size(), 2u + 3u + 1u);
  std::vector<int> lines;
  for (const Seed& s : small) lines.push_back(s.line);
  EXPECT_EQ(lines, (std::vector<int>{0, 0, 1, 1, 1, 2}));
  EXPECT_GE(small[2].strength, small[3].strength);
  EXPECT_GE(small[3].strength, small[4].strength);

  // Rows outside the window give nothing and are not read.
  const int32_t outside[3] = {-5, 16, 400};
  EXPECT_TRUE(threeRows(pic.image, outside, 10, 20).empty());
}

TEST(Tracking, SingleRowFinderUsesAFixedThresholdAndTheRowNumber) {
  Picture pic(80, 12, 100);
  for (int y = 0; y < 12; ++y) {
    pic.fill(y, 20, 80, 115);  // contrast 15: response 45
    pic.fill(y, 40, 80, 129);  // contrast 14: response 42
    pic.fill(y, 60, 80, 229);  // contrast 100
  }
  cimg_windowConst w;
  ASSERT_EQ(cimg_windowConst_init(&w, &pic.image), 0);
  Seed seeds[4];
  int32_t n = -1;
  ASSERT_EQ(cid2d_getTrackingSeedsOnRow(&w, 6, 4, 0, seeds, &n), 0);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(seeds[0].x, 19);
  EXPECT_EQ(seeds[0].strength, 45);
  EXPECT_EQ(seeds[1].x, 59);
  EXPECT_EQ(seeds[1].line, 6);
  ASSERT_EQ(cid2d_getTrackingSeedsOnRow(&w, 6, 4, 1, seeds, &n), 0);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(seeds[0].x, 59);
  ASSERT_EQ(cid2d_getTrackingSeedsOnRow(&w, 6, 1, 0, seeds, &n), 0);
  EXPECT_EQ(n, 1);
  // Rows y0 and last row - 2 are outside the accepted range.
  for (int32_t row : {0, 9, 11, -3, 40}) {
    ASSERT_EQ(cid2d_getTrackingSeedsOnRow(&w, row, 4, 0, seeds, &n), 0);
    EXPECT_EQ(n, 0) << row;
  }
  ASSERT_EQ(cid2d_getTrackingSeedsOnRow(&w, 8, 4, 0, seeds, &n), 0);
  EXPECT_EQ(n, 2);
}
