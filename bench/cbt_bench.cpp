// Boundary tracker throughput: contour points per second on large anti-aliased blobs (a disc
// and a turned square), and on a small seed-sized square as the 2D searches see them.
#include <benchmark/benchmark.h>

#include <cmath>

#include "base/cbt.h"
#include "support/shapes.hpp"

namespace {

struct Scene {
  shapes::Canvas canvas;
  cimg_imageConst image;
  cbt_runParams params;

  Scene(int size, const shapes::Shape& shape, int seedRow) : canvas(0, 0, size, size) {
    canvas.render(shape, 220, 30);
    cimg_imageConst_constructWrap(&image, canvas.windowPixels(), size, size, canvas.stride());
    cbt_runParams_init(&params);
    params.threshold = 125;
    params.polarity = 1;
    params.maxPoints = 0x3FFFFFFF;
    int x = 0;
    while (x + 1 < size && canvas.at(x + 1, seedRow) >= 125) ++x;
    params.startB[0] = (x + 2) * 256;
    params.startB[1] = seedRow * 256;
    params.startA[0] = (x - 1) * 256;
    params.startA[1] = seedRow * 256;
  }
  ~Scene() { cimg_imageConst_destruct(&image); }
};

void run(benchmark::State& state, Scene& scene) {
  cbt_result result;
  cbt_result_construct(&result, 0);
  uint64_t points = 0;
  for (auto _ : state) {
    if (cbt_boundaryTrack(&scene.image, &scene.params, &result) != 0) state.SkipWithError("track failed");
    points += result.count;
    benchmark::DoNotOptimize(result.points);
  }
  state.counters["points"] = static_cast<double>(result.count);
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
  cbt_result_destruct(&result);
}

void BM_TrackLargeDisc(benchmark::State& state) {
  static Scene scene(2048, shapes::Shape{{shapes::disc(1023.4, 1024.7, 1000.0, 2048)}}, 1024);
  run(state, scene);
}
BENCHMARK(BM_TrackLargeDisc)->Unit(benchmark::kMicrosecond);

void BM_TrackLargeTurnedSquare(benchmark::State& state) {
  static Scene scene(2048, shapes::Shape{{shapes::rectangle(1023.4, 1024.7, 1400.0, 1400.0, 0.4)}}, 1024);
  run(state, scene);
}
BENCHMARK(BM_TrackLargeTurnedSquare)->Unit(benchmark::kMicrosecond);

void BM_TrackSymbolSizedSquare(benchmark::State& state) {
  static Scene scene(256, shapes::Shape{{shapes::rectangle(128.3, 127.6, 100.0, 100.0, 0.2)}}, 128);
  run(state, scene);
}
BENCHMARK(BM_TrackSymbolSizedSquare)->Unit(benchmark::kMicrosecond);

}  // namespace
