// Grid phase and cell numbers against hand-worked and randomly generated edge lists, and the
// refined pitch against a least-squares fit of the edges to their known cells.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "ci_id/gridpitch.h"
#include "support/assert_recorder.hpp"

namespace {

struct OnGridOut {
  csys_status status;
  std::vector<int32_t> cells;
  int32_t origin = 12345, flag = 12345;
};

OnGridOut onGrid(const std::vector<int32_t>& pos, int32_t pitch, int32_t window) {
  OnGridOut o;
  std::vector<int32_t> scratch(pos.size());
  o.cells.assign(pos.size(), 0);
  o.status = cidut_cg1dOnGrid(static_cast<int32_t>(pos.size()), pos.data(), scratch.data(), pitch, window,
                              o.cells.data(), &o.origin, &o.flag);
  if (o.status == 0) {
    EXPECT_EQ(scratch, o.cells);
  }
  return o;
}

TEST(GridPitch, OnGridWorkedExamples) {
  struct Case {
    std::vector<int32_t> pos;
    int32_t pitch, window, origin;
    std::vector<int32_t> cells;
  };
  const Case cases[] = {
      // one group that reaches the end of the sorted residues
      {{0, 100, 200, 300, 405}, 100, 20, -7, {0, 1, 2, 3, 4}},
      // a narrow window leaves the late edge off the grid
      {{0, 100, 200, 300, 405}, 100, 4, -2, {0, 1, 2, 3, -1}},
      // residues 98 and 1 form one group across the wrap
      {{98, 201, 298, 450}, 100, 10, 94, {0, 1, 2, -1}},
      // the larger of two groups wins; cells count from the smallest
      {{1010, 1110, 1150, 1210, 1250, 1310}, 100, 8, 6, {0, 1, -1, 2, -1, 3}},
      // two groups of one size: the tighter one wins
      {{0, 106, 250, 351}, 100, 10, 45, {-1, -1, 0, 1}},
  };
  for (const Case& c : cases) {
    const OnGridOut o = onGrid(c.pos, c.pitch, c.window);
    EXPECT_EQ(std::tuple(o.status, o.origin, o.flag, o.cells), std::tuple(0, c.origin, 0, c.cells)) << c.pos[0] << " " << c.window;
  }
}

// Edges on a jittered grid at any phase, with a few stray edges half a cell off: every grid edge
// gets its own cell relative to the first, every stray one -1.
TEST(GridPitch, OnGridFindsJitteredGridAtAnyPhase) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t pitch = std::uniform_int_distribution<int32_t>(40, 900)(rng);
    const int32_t jitter = pitch / 20;
    const int32_t phase = std::uniform_int_distribution<int32_t>(0, pitch - 1)(rng);
    const int32_t base = std::uniform_int_distribution<int32_t>(0, 50)(rng) * pitch;
    std::vector<int32_t> pos, truth;
    int32_t k = 0;
    for (int e = 0; e < 30; ++e) {
      k += std::uniform_int_distribution<int32_t>(1, 3)(rng);
      const bool stray = e % 7 == 3;
      const int32_t off = stray ? pitch / 2 : std::uniform_int_distribution<int32_t>(-jitter, jitter)(rng);
      pos.push_back(base + phase + k * pitch + off);
      truth.push_back(stray ? -1 : k);
    }
    const OnGridOut o = onGrid(pos, pitch, 3 * jitter + 1);
    ASSERT_EQ(o.status, 0);
    int32_t firstCell = -1, firstTruth = 0;
    for (size_t i = 0; i < pos.size(); ++i) {
      if (truth[i] < 0) {
        EXPECT_EQ(o.cells[i], -1) << "trial " << trial << " edge " << i;
        continue;
      }
      if (firstCell < 0) {
        firstCell = o.cells[i];
        firstTruth = truth[i];
      }
      EXPECT_EQ(o.cells[i] - firstCell, truth[i] - firstTruth) << "trial " << trial << " edge " << i;
    }
    EXPECT_EQ(firstCell, 0) << "trial " << trial;
  }
}

struct PitchOut {
  csys_status status;
  int32_t fitSum = -7, inliers = -7, pitch = -7;
};

PitchOut scaledPitch(const std::vector<int32_t>& pos, int32_t p0, int32_t sMin, int32_t sMax, int32_t tol) {
  PitchOut o;
  o.status = cidut_cg1dComputeScaledPitch(static_cast<int32_t>(pos.size()), pos.data(), p0, sMin, sMax, tol, 0,
                                          2 * tol, &o.fitSum, &o.inliers, &o.pitch);
  return o;
}

// Edges of a symbol drawn at a pitch a few percent off the nominal one: the refined pitch agrees
// with the least-squares pitch of the edges against their true cells, to the drift resolution of
// 1/256 of a pitch per cell.
TEST(GridPitch, ScaledPitchMatchesLeastSquares) {
  std::mt19937 rng(11);
  int refined = 0, misses = 0;
  for (int trial = 0; trial < 200; ++trial) {
    const int32_t p0 = std::uniform_int_distribution<int32_t>(400, 2000)(rng);
    const double scale = std::uniform_real_distribution<double>(0.96, 1.04)(rng);
    const int32_t tol = p0 / 40;
    const double origin = std::uniform_real_distribution<double>(-5000, 5000)(rng);
    const bool reversed = trial % 3 == 0;
    std::vector<int32_t> pos;
    std::vector<double> cells;
    for (int32_t k = 0; k < 120; k += std::uniform_int_distribution<int32_t>(1, 4)(rng)) {
      const double noise = std::uniform_real_distribution<double>(-tol / 2.0, tol / 2.0)(rng);
      pos.push_back(static_cast<int32_t>(std::lround(origin + (reversed ? -k : k) * p0 * scale + noise)));
      cells.push_back(k);
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(pos.size());
    for (size_t i = 0; i < pos.size(); ++i) {
      sx += cells[i];
      sy += pos[i];
      sxx += cells[i] * cells[i];
      sxy += cells[i] * pos[i];
    }
    const double lsq = std::fabs((n * sxy - sx * sy) / (n * sxx - sx * sx));

    const PitchOut o = scaledPitch(pos, p0, 950, 1050, tol);
    ASSERT_EQ(o.status, 0);
    // The fit truncates its slope and intercept to whole 1/256 of a pitch, so now and then a run
    // is taken at the wrong grid phase and the pitch or the inliers suffer.
    const bool close = std::fabs(o.pitch - lsq) <= 2.0 + lsq / 200.0;
    const bool mostlyInliers = o.inliers > static_cast<int32_t>(pos.size() * 3 / 4);
    misses += !(close && mostlyInliers);
    EXPECT_TRUE(close || std::fabs(o.pitch - lsq) < lsq / 20) << "trial " << trial << " scale " << scale;
    EXPECT_GT(o.fitSum, 0);
    if (o.pitch != p0) ++refined;
  }
  EXPECT_LE(misses, 4);
  EXPECT_GT(refined, 150);
}

// Worked cases of the truncating fit (tolerance 20, scale 0.9 ... 1.1).
//   An exact grid of 40 edges, pitch 1000 from 300: the pitch stays and every edge is an inlier.
//   The same from 0 with the edge of cell 20 moved on by 8: its phase is (20008 * 256) / 1000 -
//   5120 = 2, every other phase 0, and the fitted line is y = 0 (slope and intercept truncate to
//   0). The pitch stays 1000; the moved edge is an inlier only when 2 < v / 2 with v / 2
//   truncated: not for v = 4 or 5, but for v = 6.
//   Edges at 0, 1000 and 2016 form one run (K = 4 > the 2 cells spanned, so one round). From the
//   first edge the phases are 0, 0, 4; from half a pitch before it they are 128, 128, 132. Fits
//   with truncating 32-bit division: slope (3*8 - 3*4)/6 = 2 for both, intercepts
//   (5*4 - 3*8)/6 = -0.67 -> 0 and (5*388 - 3*392)/6 = 127.3 -> 127. Residual sums about those
//   lines: 0 + 4 + 0 = 4 and 1 + 1 + 1 = 3, so the second phase wins although both fit equally
//   well. Pitch 1000 + ((2 * 1000) >> 8) = 1007, fit sum 0 + 1 + 2 = 3; its residuals are 1, -1,
//   1, so no edge is an inlier with v = 2 (|r| < 1) and all three are with v = 4.
TEST(GridPitch, TruncatedFitWorkedCases) {
  std::vector<int32_t> exact, moved;
  for (int32_t k = 0; k < 40; ++k) {
    exact.push_back(300 + 1000 * k);
    moved.push_back(1000 * k + (k == 20 ? 8 : 0));
  }
  const std::vector<int32_t> run{0, 1000, 2016};
  const struct {
    const std::vector<int32_t>* pos;
    int32_t inlierTolerance, pitch, fitSum, inliers;  // fitSum -1: not checked
  } rows[] = {{&exact, 40, 1000, -1, 40}, {&moved, 4, 1000, -1, 39}, {&moved, 5, 1000, -1, 39}, {&moved, 6, 1000, -1, 40},
              {&run, 2, 1007, 3, 0},      {&run, 3, 1007, 3, 0},     {&run, 4, 1007, 3, 3}};
  for (const auto& row : rows) {
    int32_t fitSum = -7, inliers = -7, pitch = -7;
    ASSERT_EQ(cidut_cg1dComputeScaledPitch(static_cast<int32_t>(row.pos->size()), row.pos->data(), 1000, 900, 1100, 20,
                                           0, row.inlierTolerance, &fitSum, &inliers, &pitch),
              0);
    EXPECT_EQ(std::tuple(pitch, row.fitSum < 0 ? row.fitSum : fitSum, inliers), std::tuple(row.pitch, row.fitSum, row.inliers))
        << row.pos->size() << " edges, v " << row.inlierTolerance;
  }
}

TEST(GridPitch, BadInputAndAllocationFailure) {
  const std::vector<int32_t> pos{0, 100, 200, 300};
  {
    AssertRecorder rec;
    struct Bad {
      int32_t n, pitch, window;
    };
    for (const Bad& b : {Bad{1, 100, 10}, Bad{4, 0, 1}, Bad{4, 100, 0}, Bad{4, 100, 101}}) {
      std::vector<int32_t> scratch(4), order(4, 9);
      int32_t origin = 5, flag = 5;
      EXPECT_EQ(cidut_cg1dOnGrid(b.n, pos.data(), scratch.data(), b.pitch, b.window, order.data(), &origin, &flag),
                csys_errAssertion);
      EXPECT_TRUE(origin == 5 && order == std::vector<int32_t>(4, 9));
    }
    struct BadPitch {
      int32_t n, p0, sMin, sMax, tol;
    };
    for (const BadPitch& b : {BadPitch{1, 100, 900, 1100, 5}, BadPitch{4, 0, 900, 1100, 5},
                              BadPitch{4, 100, 500, 1100, 5}, BadPitch{4, 100, 900, 2000, 5},
                              BadPitch{4, 100, 900, 1000, 5}, BadPitch{4, 100, 1200, 1100, 5},
                              BadPitch{4, 100, 900, 1100, 0}, BadPitch{4, 100, 900, 1100, 50},
                              BadPitch{4, 100, 501, 1100, 5} /* runs shorter than two cells */,
                              BadPitch{4, 100, 1000, 1100, 5} /* 499 / (1000 - 1000) */,
                              BadPitch{4, 100, 1050, 1100, 5} /* 499 / -50: a negative run length */}) {
      int32_t fit = 3, inl = 3, p = 3;
      EXPECT_EQ(cidut_cg1dComputeScaledPitch(b.n, pos.data(), b.p0, b.sMin, b.sMax, b.tol, 0, 10, &fit, &inl, &p),
                csys_errAssertion);
      EXPECT_TRUE(p == 3 && fit + inl == 6) << p;
    }
    EXPECT_EQ(cidut_cg1dOnGrid(4, nullptr, nullptr, 100, 10, nullptr, nullptr, nullptr), csys_errAssertion);
  }
  LiveBlocks live;
  FailAllocation fail(1);
  int32_t fit = 3, inl = 3, p = 3;
  EXPECT_EQ(cidut_cg1dComputeScaledPitch(4, pos.data(), 100, 900, 1100, 5, 0, 10, &fit, &inl, &p), csys_errNoMemory);
  EXPECT_TRUE(p == 3 && live.leaked() == 0);
}

}  // namespace
