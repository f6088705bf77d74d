// Whole-image Data Matrix scans: a 1280 x 1024 scene with one or four rendered symbols among
// text, bars and lines, scanned on every row or every 4th row, the driver called again after
// each find until the scan ends. "library" is the driver, marking image and mask alone; "checked"
// adds the road's border check of each candidate.
#include <benchmark/benchmark.h>

#include <string>

#include "road/dmroad.hpp"
#include "support/scene.hpp"

namespace {

scene::Scene makeScene(int symbols) {
  scene::SceneSpec spec;
  spec.width = 1280;
  spec.height = 1024;
  spec.background = 190;
  spec.gradientX = 10;
  spec.darkLevel = 45;
  spec.lightLevel = 195;
  spec.textBlocks = 5;
  spec.barBlocks = 1;
  spec.lines = 3;
  spec.blurSigma = 0.6;
  spec.noiseSigma = 2;
  spec.seed = 77;
  const scene::Point centres[4] = {{330, 270}, {950, 300}, {320, 760}, {960, 740}};
  const double angles[4] = {12, 75, 200, 310};
  const char* texts[4] = {"idut bench 0001", "idut bench second symbol 0002", "3", "idut bench fourth symbol 0004 xyz"};
  for (int i = 0; i < symbols; ++i) {
    spec.symbols.push_back(scene::encodeDataMatrix(texts[i]));
    scene::Placement p;
    p.centre = centres[i];
    p.moduleSize = 6 + i;
    p.angleDeg = angles[i];
    p.quietZone = 2;
    spec.placements.push_back(p);
  }
  return scene::render(spec);
}

void scan(benchmark::State& state, int symbols, int rowStep, bool verify) {
  const scene::Scene sc = makeScene(symbols);
  const scene::ImageView view(sc.image);
  dmroad::Options options;
  options.rowStep = rowStep;
  options.verify = verify;
  options.fitFarSides = verify;  // "library": the library's own reports, nothing measured after
  size_t found = 0;
  int calls = 0;
  for (auto _ : state) {
    const dmroad::Outcome out = dmroad::findAll(*view, options);
    if (out.status != 0) state.SkipWithError("scan failed");
    found = out.symbols.size();
    calls = out.calls;
    benchmark::DoNotOptimize(found);
  }
  state.counters["reported"] = static_cast<double>(found);
  state.counters["driverCalls"] = calls;
}

}  // namespace

BENCHMARK_CAPTURE(scan, one_everyRow_library, 1, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, one_every4thRow_library, 1, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_everyRow_library, 4, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_every4thRow_library, 4, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, one_everyRow_checked, 1, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_everyRow_checked, 4, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_every4thRow_checked, 4, 4, true)->Unit(benchmark::kMillisecond);
