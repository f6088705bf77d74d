// Edge detection with hysteresis on a 1280 x 1024 photo (the sample photo scaled up) against
// OpenCV's Canny, and histogram statistics per megapixel.
//
// Our Canny-like pipelines: peaks (non-maximum suppressed magnitudes, cip_truepeak8) followed
// by hysteresis of the peak image (cip_edge_hysteresisThreshold), and the base detector's own
// hysteresis into an edge list with sub-pixel positions. Magnitudes here are Sobel / 4, so
// Canny's L2 thresholds are four times ours.
#include <benchmark/benchmark.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "ci_id/edge.h"
#include "ci_id/threshold.h"
#include "imageio/imageio.hpp"

namespace {

constexpr uint8_t kLow = 8, kHigh = 20;

struct Photo {
  cv::Mat mat;
  cimg_imageConst image;
  Photo() {
    cv::setNumThreads(1);  // the library runs on the caller's thread only: compare one with one
    imageio::GreyImage grey;
    std::string error;
    if (!imageio::readGrey(IDUT_SAMPLE_PHOTO, &grey, &error)) return;
    cv::Mat small(grey.height, grey.width, CV_8U, grey.pixels.data());
    cv::resize(small, mat, cv::Size(1280, 1024), 0, 0, cv::INTER_CUBIC);
    cimg_imageConst_constructWrap(&image, mat.data, mat.cols, mat.rows, static_cast<int32_t>(mat.step));
  }
  ~Photo() { cimg_imageConst_destruct(&image); }
};

Photo& photo() {
  static Photo p;
  return p;
}

void BM_OpenCvCanny(benchmark::State& state) {
  cv::Mat edges;
  for (auto _ : state) {
    cv::Canny(photo().mat, edges, 4.0 * kLow, 4.0 * kHigh, 3, true);
    benchmark::DoNotOptimize(edges.data);
  }
  state.counters["edges"] = cv::countNonZero(edges);
}
BENCHMARK(BM_OpenCvCanny)->Unit(benchmark::kMillisecond);

void BM_TruePeakAndHysteresis(benchmark::State& state) {
  cimg_image peak, edges;
  cimg_image_constructUnbound(&peak);
  cimg_image_constructUnbound(&edges);
  uint32_t peaks = 0, count = 0;
  for (auto _ : state) {
    if (cip_truepeak8(&photo().image, &peak, kLow, &peaks) != 0) state.SkipWithError("peaks failed");
    cimg_imageConst peakView;
    cimg_imageConst_constructFromImage(&peakView, &peak);
    if (cip_edge_hysteresisThreshold(&peakView, &edges, kLow, kHigh, &count, -1, 0, 255, 1) != 0)
      state.SkipWithError("hysteresis failed");
    cimg_imageConst_destruct(&peakView);
  }
  state.counters["edges"] = count;
  cimg_image_destruct(&peak);
  cimg_image_destruct(&edges);
}
BENCHMARK(BM_TruePeakAndHysteresis)->Unit(benchmark::kMillisecond);

// The base detector with its own hysteresis, sub-pixel fits on (arg 1) or off (arg 0).
void BM_DetectorHysteresisList(benchmark::State& state) {
  const cimg_windowConst& w = photo().image.window;
  csEdgeList* list = nullptr;
  csEdgeListNew(static_cast<uint32_t>(w.width * w.height / 2), &list);
  csEdgeParams params;
  csEdgeParamsDefault(&params);
  params.highThreshold = kHigh;
  params.lowThreshold = kLow;
  params.centresOnly = state.range(0) ? 0.0f : 1.0f;
  uint32_t length = 0;
  for (auto _ : state) {
    csEdgeListInit(list, 1, 0);
    if (csEdgeDetect(&photo().image, nullptr, nullptr, list, nullptr, &params) != 0) state.SkipWithError("detect failed");
    csEdgeListLen(list, &length);
  }
  state.counters["edges"] = length;
  csEdgeListDelete(&list);
}
BENCHMARK(BM_DetectorHysteresisList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Histogram of the whole photo plus every statistic of it, per megapixel.
void BM_HistogramStatistics(benchmark::State& state) {
  const cimg_windowConst& w = photo().image.window;
  double sink = 0;
  for (auto _ : state) {
    cxVector<uint32_t> h(256, 0);
    cfPelHistogramSmall(w.pixels, w.width, w.height, w.stride, h.data());
    cid_thresholdResult otsu;
    cid_thresholdHist(h.data(), 256, &otsu);
    cxHistoStats stats;
    stats.init(h, true);
    sink += stats.mean() + stats.sDev() + stats.mode() + stats.median() + stats.inverseCum(90) + otsu.threshold;
  }
  benchmark::DoNotOptimize(sink);
  const double megapixels = w.width * w.height / 1e6;
  state.counters["Mpx/s"] = benchmark::Counter(megapixels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HistogramStatistics)->Unit(benchmark::kMicrosecond);

}  // namespace
