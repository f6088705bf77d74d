// Fuzzes the spectra with arbitrary small images: byte 0 gives the width, byte 1 the height
// (odd: a power of two 2^(b/2 mod 12), even: b/2 itself), byte 2 the mode and the dimension
// flag, the rest the pixels (repeated to fill the window). The status must be the documented
// one for the sizes; a successful transform must agree between its fast and generic paths,
// hold the pixel sum at frequency 0 and the pixels' energy (Parseval), and the integer
// transform, the shift and the 8-bit view must behave on it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fuzz_check.hpp"
#include "ci_id/spectra.h"

namespace {

int inhibitAll(const char*) { return 1; }

int sideOf(uint8_t b) { return b % 2 ? 1 << ((b / 2) % 12) : b / 2; }
bool fftSide(int n) { return n >= 2 && n <= 1024 && (n & (n - 1)) == 0; }

void shiftAndView(const cimg_imageDouble& spectrum) {
  cimg_imageDouble shifted, back;
  cimg_imageDouble_constructUnbound(&shifted);
  cimg_imageDouble_constructUnbound(&back);
  check(cfFFTShift(&spectrum, &shifted) == 0 && cfFFTShift(&shifted, &back) == 0);
  const cimg_windowDouble& w = spectrum.window;
  // Two shifts undo each other on even sides.
  if (w.width % 2 == 0 && w.height % 2 == 0)
    for (int y = 0; y < w.height; ++y)
      for (int x = 0; x < w.width; ++x) check(back.window.pixels[y * back.window.stride + x] == w.pixels[y * w.stride + x]);
  cimg_image view;
  cimg_image_constructUnbound(&view);
  check(cfViewableFFT(&shifted, &view) == 0);
  int top = 0;
  for (int y = 0; y < w.height; ++y)
    for (int x = 0; x < w.width; ++x) top = std::max<int>(top, view.window.pixels[y * view.window.stride + x]);
  check(top == 255 || top == 0);
  cimg_image_destruct(&view);
  cimg_imageDouble_destruct(&back);
  cimg_imageDouble_destruct(&shifted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int width = sideOf(data[0]), height = sideOf(data[1]);
  const int mode = data[2] & 7, dimension = (data[2] >> 3) & 1;
  // At most 16k pixels (128 x 128, or 1024 x 16 at the widest side a transform takes): two
  // transforms and their checks per input grow with the area.
  if (int64_t{width} * height > (1 << 14)) return 0;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height + 1);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[3 + i % (size - 3)];
  cimg_imageConst source;
  cimg_imageConst_constructWrap(&source, pixels.data(), width, height, width);

  cimg_imageDouble fast, generic;
  cimg_imageDouble_constructUnbound(&fast);
  cimg_imageDouble_constructUnbound(&generic);
  const csys_status st = cfPelFFT(&source, &fast, mode, dimension);
  cprt_isOptimizationInhibitedFP = &inhibitAll;
  const csys_status stGeneric = cfPelFFT(&source, &generic, mode, dimension);
  cprt_isOptimizationInhibitedFP = nullptr;
  const bool sizesOk = fftSide(width) && (dimension == CIDUT_FFT_ROWS ? height >= 1 : fftSide(height));
  check(st == stGeneric);
  check(st == (!sizesOk ? cidut_errFftSize : mode > CIDUT_FFT_LOG_POWER ? cidut_errBadArgument : 0));
  cimg_imageInt32 integer;
  cimg_imageInt32_constructUnbound(&integer);
  check(cfPelFFTBin(&source, &integer, mode, dimension) == st);
  cimg_imageInt32_destruct(&integer);
  if (st != 0) {
    check(!cimg_imageDouble_isBound(&fast) && !cimg_imageDouble_isBound(&generic));
    return 0;
  }
  const int values = mode == CIDUT_FFT_COMPLEX ? 2 * width : width;
  double largest = 0, diff = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < values; ++x) {
      const double a = fast.window.pixels[y * fast.window.stride + x], b = generic.window.pixels[y * generic.window.stride + x];
      largest = std::max(largest, std::abs(b));
      diff = std::max(diff, std::abs(a - b));
    }
  check(diff <= 1e-9 * std::max(1.0, largest) || mode == CIDUT_FFT_LOG_POWER);  // log: near-zero powers differ
  if (mode == CIDUT_FFT_POWER && dimension == CIDUT_FFT_2D) {
    double sum = 0, energy = 0, spectral = 0;
    for (int i = 0; i < width * height; ++i) {
      sum += pixels[i];
      energy += static_cast<double>(pixels[i]) * pixels[i];
    }
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) spectral += fast.window.pixels[y * fast.window.stride + x];
    check(std::abs(std::sqrt(fast.window.pixels[0]) - sum) <= 1e-9 * std::max(1.0, sum));
    check(std::abs(spectral - energy * width * height) <= 1e-9 * std::max(1.0, spectral));
  }
  if (mode != CIDUT_FFT_COMPLEX) shiftAndView(fast);
  cimg_imageDouble_destruct(&generic);
  cimg_imageDouble_destruct(&fast);
  return 0;
}
