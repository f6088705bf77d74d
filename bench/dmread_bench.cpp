// Reading one located Data Matrix symbol: sampling the module grid from the image, correcting
// and decoding, for the smallest and the largest square. The corners are the true ones of a
// rendered scene and the size is the one the border check matched, as the road gives both.
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>

#include "reader/datamatrix/dmread.hpp"
#include "scenes/scene.hpp"

namespace {

void readOne(benchmark::State& state, int sizeOption, int length, double moduleSize) {
  const scene::DmSymbol symbol = scene::encodeDataMatrix(std::string(length, 'A') + "x", sizeOption);
  scene::SceneSpec spec;
  spec.width = spec.height = static_cast<int>(moduleSize * (symbol.cols + 6) * 1.4);
  spec.symbols = {symbol};
  scene::Placement p;
  p.centre = {spec.width / 2.0, spec.height / 2.0};
  p.moduleSize = moduleSize;
  p.angleDeg = 17;
  spec.placements = {p};
  spec.noiseSigma = 4;
  const scene::Scene sc = scene::render(spec);
  const scene::ImageView view(sc.image);
  cimg_windowConst w;
  cimg_windowConst_init(&w, view.get());
  const auto o = sc.symbols[0].outline();
  const std::array<cmath_vect, 4> corners{cmath_vect{o[0].x, o[0].y}, cmath_vect{o[1].x, o[1].y},
                                          cmath_vect{o[2].x, o[2].y}, cmath_vect{o[3].x, o[3].y}};
  for (auto _ : state) {
    const dmread::Reading r = dmread::readSymbol(w, corners, symbol.rows, symbol.cols);
    if (!r.ok || r.message.text != symbol.text) throw std::runtime_error("misread: " + r.error);
    benchmark::DoNotOptimize(r);
  }
}

void BM_Read10x10(benchmark::State& state) { readOne(state, 1, 2, 6); }
void BM_Read144x144(benchmark::State& state) { readOne(state, 24, 1500, 4); }

}  // namespace

BENCHMARK(BM_Read10x10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read144x144)->Unit(benchmark::kMillisecond);
