// Grey erosion and opening of a 1280 x 1024 scene with rectangular elements, ours and OpenCV's
// on the same image in each iteration; both results are compared once before timing.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "ci_id/morph.h"
#include "compare.hpp"
#include "scenes.hpp"
#include "scenes/scene.hpp"

namespace {

// Args: operation (0 maximum .. 3 closing), kernel side; generic: 1 runs the queue path.
void BM_Morph(benchmark::State& state) {
  const int op = static_cast<int>(state.range(0)), side = static_cast<int>(state.range(1));
  const bool generic = state.range(2) != 0;
  const scene::GreyImage& image = bench::clutterScene();
  cv::setNumThreads(1);
  const cv::Mat in(image.height, image.width, CV_8U, const_cast<uint8_t*>(image.pixels.data()));
  const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, {side, side});
  const int cvOps[] = {cv::MORPH_DILATE, cv::MORPH_ERODE, cv::MORPH_OPEN, cv::MORPH_CLOSE};
  scene::ImageView view(image);
  std::vector<uint8_t> pixels(image.pixels.size());
  cimg_image out;
  cimg_image_constructWrap(&out, pixels.data(), image.width, image.height, image.width);
  cv::Mat theirs;
  cprt_isOptimizationInhibitedFP = generic ? +[](const char*) { return 1; } : nullptr;
  auto runOurs = [&] { cidut_morph2d_run(view.get(), &out, op, side, side); };
  auto runTheirs = [&] { cv::morphologyEx(in, theirs, cvOps[op], element); };
  runOurs();
  runTheirs();
  if (cv::countNonZero(cv::Mat(image.height, image.width, CV_8U, pixels.data()) != theirs) != 0)
    state.SkipWithError("results differ");
  bench::compareCpu(state, 1, runOurs, runTheirs);
  cprt_isOptimizationInhibitedFP = nullptr;
  cimg_image_destruct(&out);
}
BENCHMARK(BM_Morph)
    ->ArgNames({"op", "side", "generic"})
    ->Args({1, 3, 0})
    ->Args({1, 15, 0})
    ->Args({1, 3, 1})
    ->Args({1, 15, 1})
    ->Args({1, 51, 0})
    ->Args({2, 15, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
