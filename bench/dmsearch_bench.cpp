// Whole-image Data Matrix scans: a 1280 x 1024 scene with one or four rendered symbols among
// text, bars and lines, scanned on every row or every 4th row, the driver called again after
// each find until the scan ends. "library" is the driver, marking image and mask alone; "checked"
// adds the road's border check of each candidate. "corpus" runs the whole road over the corpus
// comparison's generated scenes (ten of each kind, symbol-free ones included), on every row and
// on every second row as idut-find does by default.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "reader/datamatrix/dmroad.hpp"
#include "scenes/scene.hpp"

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

// The scenes are rendered once, not for every run the benchmark makes of the loop.
struct CorpusScenes {
  std::vector<scene::Scene> scenes;
  std::vector<std::unique_ptr<scene::ImageView>> views;
  double megapixels = 0;
  CorpusScenes() {
    for (scene::Category category : scene::kAllCategories)
      for (uint32_t i = 0; i < 10; ++i) scenes.push_back(scene::generate(category, 1 + 1000u * i));
    for (const scene::Scene& sc : scenes) {
      views.push_back(std::make_unique<scene::ImageView>(sc.image));
      megapixels += sc.image.width * static_cast<double>(sc.image.height) / 1e6;
    }
  }
};

void corpus(benchmark::State& state, int rowStep) {
  static const CorpusScenes corpus;
  dmroad::Options options;
  options.rowStep = rowStep;
  const auto& views = corpus.views;
  const double megapixels = corpus.megapixels;
  size_t found = 0;
  int calls = 0, rejected = 0;
  for (auto _ : state) {
    found = 0;
    calls = rejected = 0;
    for (const auto& view : views) {
      const dmroad::Outcome out = dmroad::findAll(**view, options);
      if (out.status != 0) state.SkipWithError("scan failed");
      found += out.symbols.size();
      calls += out.calls;
      rejected += out.rejected;
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["reported"] = static_cast<double>(found);
  state.counters["driverCalls"] = calls;
  state.counters["rejected"] = rejected;
  state.counters["images"] = static_cast<double>(views.size());
  state.counters["megapixels"] = megapixels;
}

}  // namespace

BENCHMARK_CAPTURE(corpus, everyRow, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(corpus, every2ndRow_idutFind, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, one_everyRow_library, 1, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, one_every4thRow_library, 1, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_everyRow_library, 4, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_every4thRow_library, 4, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, one_everyRow_checked, 1, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_everyRow_checked, 4, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scan, four_every4thRow_checked, 4, 4, true)->Unit(benchmark::kMillisecond);
