// The Data Matrix road over generated scenes with libzint symbols: location rate and corner error
// per kind of scene, each symbol reported once, claimed symbols skipped, empty scenes empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ci_id/mask.h"
#include "ci_id/region.h"
#include "ci_id/vector.h"
#include "road/dmroad.hpp"
#include "support/scene.hpp"

namespace {

using scene::Category;

// Truth corners; the scenes and the located corners share one pixel convention (pixel (x, y)
// covers [x, x + 1) x [y, y + 1)).
std::array<cmath_vect, 4> truthCorners(const scene::SymbolTruth& t) {
  std::array<cmath_vect, 4> c{};
  const auto o = t.outline();
  for (int i = 0; i < 4; ++i) c[i] = cmath_vect{o[i].x, o[i].y};
  return c;
}

// The pairing of found corners with truth corners that makes the largest error smallest; the
// errors come back in truth order.
std::array<double, 4> cornerErrors(const scene::SymbolTruth& t, const dmroad::Symbol& s) {
  const auto truth = truthCorners(t);
  std::array<int, 4> perm{0, 1, 2, 3};
  std::array<double, 4> best{};
  double bestMax = 1e300;
  do {
    std::array<double, 4> e{};
    for (int i = 0; i < 4; ++i)
      e[i] = std::hypot(s.corners[perm[i]].x - truth[i].x, s.corners[perm[i]].y - truth[i].y);
    const double m = *std::max_element(e.begin(), e.end());
    if (m < bestMax) {
      bestMax = m;
      best = e;
    }
  } while (std::next_permutation(perm.begin(), perm.end()));
  return best;
}

double tolerance(const scene::SymbolTruth& t) { return std::max(2.0, t.moduleSize); }

bool located(const scene::SymbolTruth& t, const dmroad::Symbol& s) {
  const auto e = cornerErrors(t, s);
  return *std::max_element(e.begin(), e.end()) <= tolerance(t);
}

// The L corner and the ends of both solid sides (truth order: L corner, row end, opposite,
// column end) - what a parallelogram gets right even when perspective moves the fourth corner.
bool lLocated(const scene::SymbolTruth& t, const dmroad::Symbol& s) {
  const auto e = cornerErrors(t, s);
  return e[0] <= tolerance(t) && e[1] <= tolerance(t) && e[3] <= tolerance(t);
}

dmroad::Options optionsFor(Category c, bool verify = true) {
  dmroad::Options o;
  o.lowContrast = c == Category::lowContrast;
  o.verify = verify;
  return o;
}

struct Tally {
  int symbols = 0;
  int located = 0;     // by the library alone (border check off)
  int lLocated = 0;    // L corner and solid sides' ends, library alone
  int checked = 0;     // located and kept by the road's border check
  int extra = 0;       // checked reports that match no symbol
  int missAspect = 0, missSmall = 0, missInaccurate = 0, missNotFound = 0;  // library alone
  std::vector<double> errors;  // corner errors of the symbols the library located
};

Tally runCategory(Category c, uint32_t firstSeed, int count) {
  Tally t;
  for (int i = 0; i < count; ++i) {
    const scene::Scene sc = scene::generate(c, firstSeed + static_cast<uint32_t>(i));
    const scene::ImageView view(sc.image);
    const dmroad::Outcome raw = dmroad::findAll(*view, optionsFor(c, false));
    const dmroad::Outcome checked = dmroad::findAll(*view, optionsFor(c, true));
    EXPECT_EQ(raw.status, 0) << scene::categoryName(c) << " seed " << firstSeed + i;
    EXPECT_EQ(checked.status, 0) << scene::categoryName(c) << " seed " << firstSeed + i;
    for (const auto& truth : sc.symbols) {
      ++t.symbols;
      const dmroad::Symbol* hit = nullptr;
      bool near = false, lHit = false;
      for (const auto& s : raw.symbols) {
        const auto e = cornerErrors(truth, s);
        if (hit == nullptr && located(truth, s)) hit = &s;
        lHit = lHit || lLocated(truth, s);
        near = near || *std::max_element(e.begin(), e.end()) <= 4 * tolerance(truth);
      }
      t.lLocated += lHit ? 1 : 0;
      t.checked += std::any_of(checked.symbols.begin(), checked.symbols.end(), [&](auto& s) { return located(truth, s); });
      if (hit != nullptr) {
        ++t.located;
        for (double e : cornerErrors(truth, *hit)) t.errors.push_back(e);
        continue;
      }
      const int shortSide = std::min(truth.rows, truth.cols), longSide = std::max(truth.rows, truth.cols);
      if (longSide > 5 * shortSide)
        ++t.missAspect;
      else if (truth.moduleSize * shortSide < 15)
        ++t.missSmall;
      else if (near)
        ++t.missInaccurate;
      else
        ++t.missNotFound;
    }
    // A report that lies on no symbol even loosely is a false find; a skewed report of a real
    // symbol (a parallelogram over a keystone) counts as inaccurate above instead.
    for (const auto& s : checked.symbols)
      t.extra += std::none_of(sc.symbols.begin(), sc.symbols.end(), [&](auto& tr) {
        const auto e = cornerErrors(tr, s);
        return *std::max_element(e.begin(), e.end()) <= 4 * tolerance(tr);
      });
  }
  return t;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

// 60 scenes of each kind (300 in all), every row scanned. Floors are the rates this
// implementation reaches on this fixed set, less a little room. "located" is the library alone:
// its first report of a symbol is claimed, accurate or not. "checked" drops reports that fail the
// border check, so a later seed can report the symbol again, more accurately.
TEST(DataMatrixRoad, LocationRateAndCornerErrorPerKindOfScene) {
  struct Floor {
    Category category;
    double located;   // all four corners within max(2 px, one module), library alone
    double checked;   // the same, kept by the road's border check
    double lLocated;  // the L corner and both solid sides' ends
    double medianError;
  };
  const Floor floors[] = {
      {Category::clean, 0.95, 0.95, 0.95, 0.75},    {Category::noisy, 0.78, 0.95, 0.80, 0.6},
      {Category::blurred, 0.85, 0.90, 0.86, 2.2},   {Category::lowContrast, 0.95, 0.95, 0.95, 0.55},
      // A parallelogram cannot follow a keystone: only the L is located.
      {Category::perspective, 0.0, 0.0, 0.60, 99},
  };
  std::printf("%-12s %7s %8s %8s %8s %7s | library misses: aspect small inaccurate notFound | extra\n", "kind",
              "symbols", "located", "checked", "L", "median");
  for (const Floor& f : floors) {
    const Tally t = runCategory(f.category, 1000, 60);
    const double n = t.symbols;
    std::printf("%-12s %7d %7.1f%% %7.1f%% %7.1f%% %7.2f | %21d %5d %10d %8d | %d\n",
                scene::categoryName(f.category), t.symbols, 100 * t.located / n, 100 * t.checked / n,
                100 * t.lLocated / n, median(t.errors), t.missAspect, t.missSmall, t.missInaccurate, t.missNotFound,
                t.extra);
    EXPECT_GE(t.located / n, f.located) << scene::categoryName(f.category);
    EXPECT_GE(t.checked / n, f.checked) << scene::categoryName(f.category);
    EXPECT_GE(t.lLocated / n, f.lLocated) << scene::categoryName(f.category);
    EXPECT_LE(t.extra, 1) << scene::categoryName(f.category);
    if (t.located > 0) {
      EXPECT_LE(median(t.errors), f.medianError) << scene::categoryName(f.category);
    }
  }
}

// Every 4th row still finds most symbols: a symbol is crossed by several scan lines.
TEST(DataMatrixRoad, EveryFourthRowKeepsMostOfTheRate) {
  int symbols = 0, every = 0, fourth = 0;
  for (uint32_t seed = 2000; seed < 2030; ++seed) {
    const scene::Scene sc = scene::generate(Category::clean, seed);
    const scene::ImageView view(sc.image);
    dmroad::Options o;
    const dmroad::Outcome all = dmroad::findAll(*view, o);
    o.rowStep = 4;
    const dmroad::Outcome quarter = dmroad::findAll(*view, o);
    for (const auto& truth : sc.symbols) {
      ++symbols;
      every += std::any_of(all.symbols.begin(), all.symbols.end(), [&](auto& s) { return located(truth, s); });
      fourth += std::any_of(quarter.symbols.begin(), quarter.symbols.end(), [&](auto& s) { return located(truth, s); });
    }
  }
  std::printf("clean, 30 scenes: every row %d/%d, every 4th row %d/%d\n", every, symbols, fourth, symbols);
  EXPECT_GE(fourth, every - 3);
  EXPECT_GE(every, symbols * 8 / 10);
}

// Without the border check the library's own bookkeeping (marking image and mask) must keep a
// symbol from being reported twice; clutter may add candidates of its own.
TEST(DataMatrixRoad, EachSymbolOfAMultiSymbolSceneIsReportedOnce) {
  int symbols = 0, found = 0, twice = 0, extraChecked = 0;
  for (uint32_t seed = 3000; seed < 3030; ++seed) {
    const scene::Scene sc = scene::generate(Category::multiSymbol, seed);
    const scene::ImageView view(sc.image);
    const dmroad::Outcome raw = dmroad::findAll(*view, optionsFor(Category::multiSymbol, false));
    const dmroad::Outcome checked = dmroad::findAll(*view, optionsFor(Category::multiSymbol, true));
    ASSERT_EQ(raw.status, 0);
    for (const auto& truth : sc.symbols) {
      ++symbols;
      // A report of this symbol: its centre inside the reported outline's bounding box region.
      int reports = 0;
      for (const auto& s : raw.symbols) {
        const auto e = cornerErrors(truth, s);
        reports += *std::max_element(e.begin(), e.end()) <= 4 * tolerance(truth) ? 1 : 0;
      }
      twice += reports > 1 ? 1 : 0;
      found += std::any_of(checked.symbols.begin(), checked.symbols.end(), [&](auto& s) { return located(truth, s); });
    }
    for (const auto& s : checked.symbols)
      extraChecked += std::none_of(sc.symbols.begin(), sc.symbols.end(), [&](auto& t) { return located(t, s); });
  }
  std::printf("multi-symbol, 30 scenes: %d symbols, %d located, %d reported twice, %d extra after the check\n",
              symbols, found, twice, extraChecked);
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(extraChecked, 0);
  EXPECT_GE(found, symbols * 9 / 10);
}

TEST(DataMatrixRoad, ClaimedSymbolsAreNotReportedAgain) {
  const scene::Scene sc = scene::generate(Category::multiSymbol, 3001);
  ASSERT_GE(sc.symbols.size(), 2u);
  const scene::ImageView view(sc.image);
  const dmroad::Options raw = optionsFor(Category::multiSymbol, false);
  const dmroad::Outcome first = dmroad::findAll(*view, raw);
  auto reportsOf = [&](const dmroad::Outcome& out, const scene::SymbolTruth& t) {
    return std::count_if(out.symbols.begin(), out.symbols.end(), [&](auto& s) { return located(t, s); });
  };
  for (const auto& t : sc.symbols) ASSERT_EQ(reportsOf(first, t), 1);

  // Claim the first symbol (its true outline) before a fresh scan: only the others come back.
  cid_mask mask;
  ASSERT_EQ(cid_mask_construct(&mask, nullptr), 0);
  const auto c = truthCorners(sc.symbols[0]);
  cid_region claimed;
  ASSERT_EQ(cid_region_initVectPoints(&claimed, c.data(), 1), 0);
  ASSERT_EQ(cid_mask_appendRegion(&mask, &claimed, 0.0), 0);
  const dmroad::Outcome second = dmroad::findAll(*view, raw, &mask);
  EXPECT_EQ(reportsOf(second, sc.symbols[0]), 0);
  for (size_t i = 1; i < sc.symbols.size(); ++i) EXPECT_EQ(reportsOf(second, sc.symbols[i]), 1) << i;
  // The road appended what it found to the caller's mask.
  uint32_t claimedCount = 0;
  ASSERT_EQ(cstd_vector_cid_region_getSize(&mask.regions, &claimedCount), 0);
  EXPECT_EQ(claimedCount, 1 + second.symbols.size());

  // With every symbol claimed, a third scan reports none of them.
  const dmroad::Outcome third = dmroad::findAll(*view, raw, &mask);
  for (const auto& t : sc.symbols) EXPECT_EQ(reportsOf(third, t), 0);
  cid_mask_destruct(&mask);
}

TEST(DataMatrixRoad, ScenesWithoutSymbolsReportNothing) {
  for (Category c : {Category::textOnly, Category::barsOnly, Category::noiseOnly, Category::plain}) {
    int reported = 0, candidates = 0;
    for (uint32_t seed = 4000; seed < 4040; ++seed) {
      const scene::Scene sc = scene::generate(c, seed);
      const scene::ImageView view(sc.image);
      const dmroad::Outcome out = dmroad::findAll(*view, optionsFor(c));
      ASSERT_EQ(out.status, 0);
      reported += static_cast<int>(out.symbols.size());
      candidates += out.rejected;
    }
    std::printf("%-10s 40 scenes: %d reported, %d candidates dropped by the border check\n", scene::categoryName(c),
                reported, candidates);
    EXPECT_EQ(reported, 0) << scene::categoryName(c);
    if (c == Category::plain) {
      EXPECT_EQ(candidates, 0);
    }
  }
}
