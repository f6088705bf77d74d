// Gaussian smoothing and affine resampling of a 1280 x 1024 scene, ours and OpenCV's on the same
// image in each iteration (OpenCV on one thread); results are checked against each other once.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

#include "base/cip_affine.h"
#include "ci_id/pixelops.h"
#include "compare.hpp"
#include "scenes.hpp"
#include "scenes/scene.hpp"

namespace {

int maxDifference(const cimg_image& ours, const cv::Mat& theirs) {
  const cv::Mat mine(ours.window.height, ours.window.width, CV_8U, ours.window.pixels,
                     static_cast<size_t>(ours.window.stride));
  cv::Mat d;
  cv::absdiff(mine, theirs, d);
  double mx = 0;
  cv::minMaxLoc(d, nullptr, &mx);
  return static_cast<int>(mx);
}

// Arg: kernel half-width n (a (2n + 1)^2 kernel).
void BM_Gaussian(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const scene::GreyImage& image = bench::clutterScene();
  cv::setNumThreads(1);
  const cv::Mat in(image.height, image.width, CV_8U, const_cast<uint8_t*>(image.pixels.data()));
  scene::ImageView view(image);
  cimg_image out;
  cimg_image_construct(&out, image.width, image.height);
  cv::Mat theirs;
  auto runOurs = [&] { cidut_ip_gauss8(view.get(), &out, n, n); };
  auto runTheirs = [&] {
    cv::GaussianBlur(in, theirs, {2 * n + 1, 2 * n + 1}, 0.5 + n / 3.0, 0.5 + n / 3.0, cv::BORDER_REPLICATE);
  };
  runOurs();
  runTheirs();
  if (maxDifference(out, theirs) > 2) state.SkipWithError("results differ");
  bench::compareCpu(state, 1, runOurs, runTheirs);
  cimg_image_destruct(&out);
}
BENCHMARK(BM_Gaussian)->ArgName("n")->Arg(1)->Arg(2)->Arg(7)->UseManualTime()->Unit(benchmark::kMillisecond);

// Arg: rotation in degrees; the region is scaled by 0.9 about the image centre.
void BM_Resample(benchmark::State& state) {
  const double a = static_cast<double>(state.range(0)) * M_PI / 180;
  const scene::GreyImage& image = bench::clutterScene();
  cv::setNumThreads(1);
  const cv::Mat in(image.height, image.width, CV_8U, const_cast<uint8_t*>(image.pixels.data()));
  scene::ImageView view(image);
  const int W = image.width, H = image.height;
  const double c = std::cos(a) * 0.9, s = std::sin(a) * 0.9;
  const cmath_vect centre{W / 2.0, H / 2.0};
  const cmath_vect po{centre.x - c * W / 2 + s * H / 2, centre.y - s * W / 2 - c * H / 2};
  cmath_shapeAffineRectPoints pts{po, {po.x + c * W, po.y + s * W}, {po.x - s * H, po.y + c * H}};
  cmath_shapeAffineRect region;
  cmath_shapeAffineRect_initPoints(&region, &pts);
  const double ux = c, uy = s, vx = -s, vy = c;
  const cv::Mat m = (cv::Mat_<double>(2, 3) << ux, vx, po.x + 0.5 * (ux + vx) - 0.5, uy, vy, po.y + 0.5 * (uy + vy) - 0.5);
  cimg_image out;
  cimg_image_constructUnbound(&out);
  cv::Mat theirs;
  auto runOurs = [&] { cip_affine8(view.get(), &region, W, H, &out); };
  auto runTheirs = [&] { cv::warpAffine(in, theirs, m, {W, H}, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE); };
  runOurs();
  runTheirs();
  if (maxDifference(out, theirs) > 9) state.SkipWithError("results differ");
  bench::compareCpu(state, 1, runOurs, runTheirs);
  cimg_image_destruct(&out);
}
BENCHMARK(BM_Resample)->ArgName("deg")->Arg(0)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
