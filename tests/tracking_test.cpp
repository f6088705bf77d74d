// Row seed finders (the records' lifetime is checked from C): seeds on step edges
// against the six-tap response worked by hand, the pair filter, the seed limit, the finders'
// orders against a stable reference sort, and the row and window limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ci_id/tracking.h"
#include "support/assert_recorder.hpp"

namespace {

using Seed = cid2d_trackingSeed;

struct Picture {
  int width;
  std::vector<uint8_t> pixels;
  cimg_imageConst image{};
  Picture(int w, int h, uint8_t fill = 200) : width(w), pixels(static_cast<size_t>(w) * h, fill) {
    EXPECT_EQ(cimg_imageConst_constructWrap(&image, pixels.data(), w, h, w), 0);
  }
  ~Picture() { cimg_imageConst_destruct(&image); }
  // Columns [from, to) of rows [top, bottom) set to value.
  void fill(int top, int bottom, int from, int to, uint8_t value) {
    for (int y = top; y < bottom; ++y) std::fill(&pixels[y * width + from], &pixels[y * width + to], value);
  }
};

// Seeds of the multi-row finder; the records past maxSeeds must stay untouched.
std::vector<Seed> findSeeds(const cimg_imageConst& image, const std::vector<int32_t>& rows, int32_t maxSeeds,
                            int32_t contrast, bool sort = false, bool pairFilter = false, double spacing = 0) {
  std::vector<Seed> seeds(maxSeeds + 2);
  std::memset(seeds.data(), 0x5a, seeds.size() * sizeof(Seed));
  int32_t n = -1;
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&image, rows.data(), static_cast<int32_t>(rows.size()), maxSeeds,
                                             contrast, sort, seeds.data(), &n, pairFilter, spacing),
            0);
  EXPECT_TRUE(n >= 0 && n <= maxSeeds);
  EXPECT_EQ(std::memcmp(&seeds[maxSeeds], &seeds[maxSeeds + 1], sizeof(Seed)), 0);
  EXPECT_EQ(seeds[maxSeeds].x, 0x5a5a5a5a);
  seeds.resize(std::max(n, 0));
  return seeds;
}

std::vector<int> columns(const std::vector<Seed>& seeds) {
  std::vector<int> out;
  for (const Seed& s : seeds) out.push_back(s.x);
  return out;
}

// The seed order from its definition: strength descending, then line ascending, stable.
void referenceSort(std::vector<Seed>::iterator begin, std::vector<Seed>::iterator end) {
  std::stable_sort(begin, end, [](const Seed& a, const Seed& b) {
    return a.strength != b.strength ? a.strength > b.strength : a.line < b.line;
  });
}

bool sameSeeds(const std::vector<Seed>& a, const std::vector<Seed>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Seed)) == 0;
}

}  // namespace

TEST(Tracking, StepEdgeGivesOneSeedAtTheColumnBeforeTheStep) {
  // 50 up to column 24, 170 from 25: R(23) = 3 x 120 is the peak, so the seed sits at 24 with
  // mean (50 + 50 + 170 + 170) / 4 and polarity 1 (dark before the edge).
  Picture pic(60, 12);
  pic.fill(0, 12, 0, 25, 50);
  pic.fill(0, 12, 25, 60, 170);
  const Seed step{24, 5, 360, 110, 0, 1, {26 * 256, 5 * 256}, {23 * 256, 5 * 256}};
  EXPECT_TRUE(sameSeeds(findSeeds(pic.image, {5}, 10, 40), {step}));
  EXPECT_EQ(findSeeds(pic.image, {5}, 10, 360).size(), 1u);  // the threshold is inclusive
  EXPECT_TRUE(findSeeds(pic.image, {5}, 10, 361).empty());
  // Light to dark over one pixel (230 | 150 | 70 at column 30): R(28) = R(29) = 400, the first
  // is the peak; mean (230 + 230 + 150 + 70) / 4; polarity 0; line = index of the row. Rows 0
  // and 9 (the window's first and third-last) are not scanned.
  Picture ramp(60, 12, 230);
  ramp.fill(0, 12, 30, 31, 150);
  ramp.fill(0, 12, 31, 60, 70);
  EXPECT_TRUE(sameSeeds(findSeeds(ramp.image, {0, 9, 8}, 10, 40),
                        {Seed{29, 8, 400, 170, 2, 0, {31 * 256, 8 * 256}, {28 * 256, 8 * 256}}}));
}

TEST(Tracking, UnboundImageAndMissingRowsAreRefused) {
  Picture pic(60, 20);
  cimg_imageConst unbound;
  ASSERT_EQ(cimg_imageConst_constructUnbound(&unbound), 0);
  Seed seeds[2];
  int32_t n = 0;
  const int32_t rows[3] = {5, 6, 7};
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds_ThreeScanlines(&unbound, rows, 3, 2, 30, seeds, &n), csys_errImageUnbound);
  cimg_imageConst_destruct(&unbound);
  AssertRecorder rec;
  EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(&pic.image, nullptr, 1, 2, 30, 0, seeds, &n, 0, 0.0), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(Tracking, PairFilterKeepsCloseOppositePairsAndOnlyTheLatestLoneEdge) {
  // Dark blocks 40 px wide with 40 px gaps, then a dark line two pixels wide, then more blocks.
  Picture pic(420, 9);
  for (int from : {40, 120, 242, 322}) pic.fill(0, 9, from, from + 40, 50);
  pic.fill(0, 9, 200, 202, 50);
  // Unfiltered: a seed just before each block edge; the thin line gives one before it and one
  // on its second pixel.
  EXPECT_EQ(columns(findSeeds(pic.image, {4}, 40, 100)), (std::vector<int>{39, 79, 119, 159, 198, 201, 241, 281, 321, 361}));
  // Spacing 5: the first edge stays, the second place holds only the latest lone edge until the
  // thin line's two edges come in; the next distant edge is appended after the pair and then
  // replaced by each later one.
  EXPECT_EQ(columns(findSeeds(pic.image, {4}, 40, 100, false, true, 5.0)), (std::vector<int>{39, 198, 201, 361}));
  // Row by row: a second row starts again with two free places.
  EXPECT_EQ(columns(findSeeds(pic.image, {2, 4}, 40, 100, false, true, 5.0)),
            (std::vector<int>{39, 198, 201, 361, 39, 198, 201, 361}));
}

TEST(Tracking, SeedLimitStopsTheWholeScanAndSortingFollowsTheSeedOrder) {
  // Ten edges per row; the third row's are stronger and would sort first if it were scanned.
  Picture pic(200, 20);
  for (int b = 0; b < 5; ++b) {
    pic.fill(0, 20, 20 + 36 * b, 38 + 36 * b, 40);
    pic.fill(15, 16, 20 + 36 * b, 38 + 36 * b, 0);
  }
  const std::vector<Seed> s = findSeeds(pic.image, {5, 10, 15}, 15, 60, true);
  // All ten of the first row, then the second row's five leftmost edges.
  ASSERT_EQ(s.size(), 15u);
  EXPECT_EQ(std::count_if(s.begin(), s.end(), [](const Seed& x) { return x.line == 0; }), 10);
  for (const Seed& x : s) EXPECT_TRUE(x.line == 0 || (x.line == 1 && x.x <= 91));
  // With the pair filter an overwrite is not a stored seed; no room, no seeds.
  EXPECT_EQ(findSeeds(pic.image, {5, 10, 15}, 3, 60, false, true, 2.0).size(), 3u);
  EXPECT_TRUE(findSeeds(pic.image, {5}, 0, 60).empty());

  // Edges of several contrasts on three rows, equal strengths within and across rows: the
  // finder's sort, the exported sort and the comparator agree with the reference.
  Picture mixed(300, 20);
  const uint8_t levels[] = {100, 60, 100, 20, 60, 100};
  for (int y : {4, 9, 14})
    for (int b = 0; b < 6; ++b) mixed.fill(y, y + 1, 20 + 45 * b, 40 + 45 * b, levels[(b + y) % 6]);
  const std::vector<int32_t> rows{14, 4, 9};
  std::vector<Seed> expected = findSeeds(mixed.image, rows, 100, 30);
  ASSERT_EQ(expected.size(), 36u);
  std::vector<Seed> reversed(expected.rbegin(), expected.rend());
  referenceSort(expected.begin(), expected.end());
  EXPECT_TRUE(sameSeeds(findSeeds(mixed.image, rows, 100, 30, true), expected));
  ASSERT_EQ(cid2d_trackingSeed_sort(reversed.data(), static_cast<int32_t>(reversed.size())), 0);
  EXPECT_TRUE(sameSeeds(reversed, expected));
}

TEST(Tracking, ThreeScanlinesKeepTheLeftmostEdgeFirstAndTheStrongestOfTheRest) {
  // Row 2: 40 dark bars (80 edges) of rising contrast, the first the faintest. Rows 7 and 12:
  // 10 edges each.
  Picture pic(900, 16, 240);
  for (int b = 0; b < 40; ++b) pic.fill(2, 3, 20 + 21 * b, 30 + 21 * b, static_cast<uint8_t>(b == 0 ? 230 : 225 - 5 * b));
  for (int y : {7, 12})
    for (int b = 0; b < 5; ++b) pic.fill(y, y + 1, 50 + 100 * b, 80 + 100 * b, static_cast<uint8_t>(40 * b + y));
  auto three = [](const cimg_imageConst& image, const int32_t* rows, int32_t maxSeeds) {
    std::vector<Seed> seeds(maxSeeds + 1, Seed{12345, 0, 0, 0, 0, 0, {}, {}});
    int32_t n = -1;  // the count argument is not consulted
    EXPECT_EQ(cid2d_getHorizontalTrackingSeeds_ThreeScanlines(&image, rows, 99, maxSeeds, 20, seeds.data(), &n), 0);
    EXPECT_EQ(seeds[maxSeeds].x, 12345);
    return std::vector<Seed>(seeds.begin(), seeds.begin() + std::max(n, 0));
  };
  // Reference: row 0 keeps its leftmost seed and the 29 strongest others, rows 1 and 2 their
  // three strongest; then everything after the first three in seed order.
  const int32_t rows[3] = {2, 7, 12};
  std::vector<Seed> expected;
  for (int k = 0; k < 3; ++k) {
    std::vector<Seed> row = findSeeds(pic.image, {rows[k]}, 1000, 20);
    ASSERT_EQ(row.size(), k ? 10u : 80u);
    for (Seed& x : row) x.line = k;
    referenceSort(row.begin() + (k ? 0 : 1), row.end());
    expected.insert(expected.end(), row.begin(), row.begin() + (k ? 3 : 30));
  }
  referenceSort(expected.begin() + 3, expected.end());
  const std::vector<Seed> got = three(pic.image, rows, 100);
  EXPECT_TRUE(sameSeeds(got, expected));
  EXPECT_EQ(got.empty() ? -1 : got[0].x, 19);  // the faint first edge of row 0
  // The limit cuts row 0 to its 20 leftmost edges and the other rows are never reached.
  const std::vector<Seed> cut = three(pic.image, rows, 20);
  ASSERT_EQ(cut.size(), 20u);
  for (const Seed& s : cut) EXPECT_TRUE(s.line == 0 && s.x < 20 + 21 * 10);
}

TEST(Tracking, SingleRowFinderUsesAFixedThresholdAndTheRowNumber) {
  Picture pic(80, 12, 100);
  pic.fill(0, 12, 20, 40, 115);  // contrast 15: response 45
  pic.fill(0, 12, 40, 60, 129);  // contrast 14: response 42
  pic.fill(0, 12, 60, 80, 229);  // contrast 100
  cimg_windowConst w;
  ASSERT_EQ(cimg_windowConst_init(&w, &pic.image), 0);
  // Unsorted, sorted, cut to one; rows y0 and last row - 2 and beyond give nothing.
  struct Case {
    int32_t row, maxSeeds, sort;
    std::vector<int> columns;
  } const cases[] = {{6, 4, 0, {19, 59}}, {6, 4, 1, {59, 19}}, {6, 1, 0, {19}}, {8, 4, 0, {19, 59}},
                     {0, 4, 0, {}},       {9, 4, 0, {}},       {-3, 4, 0, {}}};
  for (const Case& k : cases) {
    Seed seeds[4];
    int32_t n = -1;
    ASSERT_EQ(cid2d_getTrackingSeedsOnRow(&w, k.row, k.maxSeeds, k.sort, seeds, &n), 0);
    const std::vector<Seed> got(seeds, seeds + std::max(n, 0));
    EXPECT_EQ(columns(got), k.columns) << "row " << k.row;
    for (const Seed& s : got) EXPECT_EQ(std::make_pair(s.line, s.strength), std::make_pair(k.row, s.x == 19 ? 45 : 300));
  }
}
