// Scenes the image benchmarks share, rendered once per program.
#ifndef IDUT_BENCH_SCENES_HPP
#define IDUT_BENCH_SCENES_HPP

#include "scenes/scene.hpp"

namespace bench {

// 1280 x 1024 of clutter without symbols: a horizontal gradient, 30 text blocks, 8 bar blocks
// and 6 lines under noise of deviation 6 (the filter and morphology benchmarks).
inline const scene::GreyImage& clutterScene() {
  static const scene::GreyImage image = [] {
    scene::SceneSpec spec;
    spec.width = 1280;
    spec.height = 1024;
    spec.gradientX = 80;
    spec.textBlocks = 30;
    spec.barBlocks = 8;
    spec.lines = 6;
    spec.noiseSigma = 6;
    spec.seed = 11;
    return scene::render(spec).image;
  }();
  return image;
}

}  // namespace bench

#endif
