// Edge scans through a 1280 x 1024 scene with a barcode and clutter: 1000 random lines a pass,
// slanted (Bresenham walk, directional operator) or along rows (plain operator). Reports scans
// per second and ns per pixel walked.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "ci_id/scanwalk.h"
#include "scenes/scene.hpp"
#include "scenes/scene_1d.hpp"

namespace {

const scene::Scene& benchScene() {
  static const scene::Scene sc = [] {
    scene::SceneSpec spec;
    spec.width = 1280;
    spec.height = 1024;
    spec.textBlocks = 6;
    spec.barBlocks = 4;
    spec.noiseSigma = 4;
    spec.blurSigma = 0.6;
    scene::Placement p;
    p.centre = {640, 512};
    p.moduleSize = 3;
    p.angleDeg = 20;
    p.quietZone = 10;
    spec.symbols.push_back(scene::encode1d(scene::Barcode1d::code128, "idut-0123456789", 20).bars);
    spec.placements.push_back(p);
    return scene::render(spec);
  }();
  return sc;
}

// Arg: 1 = slanted lines at random angles, 0 = rows.
void BM_EdgeScan(benchmark::State& state) {
  const scene::Scene& sc = benchScene();
  scene::ImageView view(sc.image);
  cidc_windowROI roi;
  cidc_windowROI_initCorner(&roi, sc.image.width, sc.image.height, 0, 0, 1, 1);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> angle(0, 2 * M_PI), x(0, 1280), y(0, 1024);
  struct Line {
    cidc_scanLine line;
    int16_t g[2];
  };
  std::vector<Line> lines(1000);
  for (Line& l : lines) {
    const double a = state.range(0) ? angle(rng) : (rng() % 2 ? 0 : M_PI);
    const double dx = std::cos(a), dy = std::sin(a), m = 2 * std::max(std::abs(dx), std::abs(dy)) + std::min(std::abs(dx), std::abs(dy));
    cidc_unitDir16 d;
    cidc_unitDir16_initVect(&d, int32_t(dx * 1e6), state.range(0) ? int32_t(dy * 1e6) : 0);
    const cidc_vect64_4 p{int64_t(x(rng) * 16), int64_t(y(rng) * 16)};
    cidc_scanLine_initPointDir(&l.line, &p, &d);
    l.g[0] = int16_t(std::lround(dx * 64 / m));
    l.g[1] = state.range(0) ? int16_t(std::lround(dy * 64 / m)) : 0;
  }
  const cidc_edgeScanParams params{400};
  cstd_vector_cidc_peakIDFixedX_4 peaks;
  cstd_vector_cidc_peakIDFixedX_4_constructEmpty(&peaks);
  int64_t pixels = 0, found = 0;
  for (auto _ : state) {
    for (Line& l : lines) {
      cidc_scanShape shape;
      cidc_scanShape_initScanLine(&shape, &l.line);
      cidc_scanLineSeg out;
      cstd_vector_cidc_peakIDFixedX_4_clear(&peaks);
      cidc_runEdgeScan(view.get(), &roi, &params, &shape, l.g, &peaks, &out);
      if (!out.isDegenerate)
        pixels += std::max(std::abs(out.endPixel[1][0] - out.endPixel[0][0]), std::abs(out.endPixel[1][1] - out.endPixel[0][1])) + 1;
      found += peaks.base.size;
    }
  }
  cstd_vector_cidc_peakIDFixedX_4_destruct(&peaks);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(lines.size()));
  state.counters["ns_per_pixel"] = benchmark::Counter(double(pixels), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["peaks_per_scan"] = double(found) / double(state.iterations() * lines.size());
}
BENCHMARK(BM_EdgeScan)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
