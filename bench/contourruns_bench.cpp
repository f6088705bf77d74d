// The straight-run chain as a 2D search runs it on one tracked outline: halve, bounding box,
// smooth, curvature, runs, order, merge, order, trim. Outlines of a turned rectangle with a few
// thousand points and with the longest contour the searches keep (16379 points). Each iteration
// starts from a fresh copy of the raw contour (halving works in place); the copy is included.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ci_id/contourruns.h"

namespace {

std::vector<cid2d_contourPoint> turnedRectangle(int points) {
  const double w = 1.6, h = 1.0, a = 0.35;  // side ratio 1.6, turned 20 degrees
  const double perimeter = 2 * (w + h);
  const double scale = points / perimeter;  // one point per pixel
  const double c = std::cos(a), s = std::sin(a);
  std::vector<cid2d_contourPoint> out;
  for (int i = 0; i < points; ++i) {
    double t = i * perimeter / points, u, v;
    if (t < w) {
      u = t;
      v = 0;
    }
    else if (t < w + h) {
      u = w;
      v = t - w;
    }
    else if (t < 2 * w + h) {
      u = w - (t - w - h);
      v = h;
    }
    else {
      u = 0;
      v = h - (t - 2 * w - h);
    }
    const double x = 3000 + scale * (c * u - s * v), y = 3000 + scale * (s * u + c * v);
    out.push_back(cid2d_contourPoint{(static_cast<int32_t>(y * 256 + 0.5) + 128) >> 4,
                                     (static_cast<int32_t>(x * 256 + 0.5) + 128) >> 4});
  }
  return out;
}

void chain(benchmark::State& state) {
  const std::vector<cid2d_contourPoint> raw = turnedRectangle(static_cast<int>(state.range(0)));
  std::vector<unsigned char> scratch(CID2D_SCRATCH_MIN_SIZE);
  auto* contour = reinterpret_cast<cid2d_contourPoint*>(scratch.data() + CID2D_SCRATCH_CONTOUR_OFFSET);
  auto* smoothed = reinterpret_cast<cid2d_contourPoint*>(scratch.data() + CID2D_SCRATCH_SMOOTHED_OFFSET);
  auto* curvature = reinterpret_cast<int32_t*>(scratch.data() + CID2D_SCRATCH_CURVATURE_OFFSET);
  auto* runs = reinterpret_cast<cid2d_straightRun*>(scratch.data() + CID2D_SCRATCH_RUNS_OFFSET);
  int32_t runCount = 0;
  for (auto _ : state) {
    std::memcpy(contour, raw.data(), raw.size() * sizeof(cid2d_contourPoint));
    int32_t n = 0, w = 0, h = 0, e = 0, maximum = 0;
    cid2d_contour_halve(contour, static_cast<int32_t>(raw.size()), &n);
    cid2d_contour_getBoundingBox(contour, n, &w, &h, &e);
    const int32_t window = std::min(std::max(std::min(w, h) / 32, 3), 25);
    cid2d_contour_smooth(smoothed, contour, n, window);
    cid2d_contour_curvature(curvature, smoothed, n, 2 * window, &maximum);
    cid2d_contour_straightRuns(runs, curvature, smoothed, 0, n, window, 64, CID2D_RUN_CAPACITY, &runCount);
    cid2d_straightRuns_order(runs, runCount);
    cid2d_straightRuns_merge(runs, smoothed, n, runCount, 4 * window, 64);
    cid2d_straightRuns_order(runs, runCount);
    cid2d_straightRuns_trim(runs, runCount, &runCount);
    benchmark::DoNotOptimize(runs);
  }
  if (runCount != 4) state.SkipWithError("expected four runs");
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(raw.size()));
  state.counters["runs"] = runCount;
}

}  // namespace

BENCHMARK(chain)->Arg(4000)->Arg(16379)->Unit(benchmark::kMicrosecond);
