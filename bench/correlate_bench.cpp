// One-dimensional normalised correlation along every row of a 1280 x 1024 scene, ours and
// OpenCV's matchTemplate (normalised correlation coefficient r, one thread) on the same rows in
// each iteration. Our score is r^2 where r > 0 and 0 elsewhere; both are compared once before
// timing. OpenCV works in single precision: on these rows its r^2 is up to 1e-3 off the exact
// score for 16-sample templates (2.5e-4 for longer ones), hence the tolerance.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

#include "ci_id/correlate.h"
#include "compare.hpp"
#include "scenes.hpp"

namespace {

// Arg: template length. Row y's template is its run from column 600 on; the signal is row y + 1
// (the last row is its own neighbour), margin 0.
void BM_Correlate(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0));
  const scene::GreyImage& image = bench::clutterScene();
  const int W = image.width, H = image.height, N = W - T + 1;
  cv::setNumThreads(1);
  const uint8_t* pixels = image.pixels.data();
  auto row = [&](int y) { return pixels + static_cast<size_t>(y) * W; };
  auto signalOf = [&](int y) { return row(std::min(y + 1, H - 1)); };
  std::vector<double> ours(static_cast<size_t>(N) * H);
  std::vector<cv::Mat> theirs(H);
  auto runOurs = [&] {
    for (int y = 0; y < H; ++y) cf_correlate1D_U8(row(y) + 600, T, signalOf(y), W, 0, ours.data() + static_cast<size_t>(y) * N);
  };
  auto runTheirs = [&] {
    for (int y = 0; y < H; ++y) {
      const cv::Mat templ(1, T, CV_8U, const_cast<uint8_t*>(row(y) + 600));
      const cv::Mat signal(1, W, CV_8U, const_cast<uint8_t*>(signalOf(y)));
      cv::matchTemplate(signal, templ, theirs[y], cv::TM_CCOEFF_NORMED);
    }
  };
  runOurs();
  runTheirs();
  double worst = 0;
  for (int y = 0; y < H; ++y) {
    for (int i = 0; i < N; ++i) {
      const double r = theirs[y].at<float>(0, i);
      const double d = std::abs(ours[static_cast<size_t>(y) * N + i] - (r > 0 ? r * r : 0.0));
      worst = std::max(worst, d);
    }
  }
  state.counters["max_score_difference"] = worst;
  if (worst > 2e-3) state.SkipWithError("results differ");
  bench::compareCpu(state, 1, runOurs, runTheirs);
}
BENCHMARK(BM_Correlate)->ArgName("T")->Arg(16)->Arg(64)->Arg(256)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
