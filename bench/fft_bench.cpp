// Our transforms against FFTW's (double precision, plans made once with FFTW_MEASURE, outside
// the timing) on the same data in each iteration; both results are compared once before timing.
// Each iteration runs a batch of each and times it in thread CPU time, so that the time the
// scheduler gives to other processes on a shared machine counts for neither side.
#include <fftw3.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "../src/id/idut/spectra/fft_kernels.hpp"
#include "ci_id/spectra.h"
#include "compare.hpp"

namespace {

std::vector<uint8_t> noise(size_t count) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> grey(0, 255);
  std::vector<uint8_t> v(count);
  for (auto& p : v) p = static_cast<uint8_t>(grey(rng));
  return v;
}

// The real transform kernel that serves image rows, n real doubles to n/2 + 1 coefficients.
void BM_RealFft(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto bytes = noise(n);
  std::vector<double> x(bytes.begin(), bytes.end()), re(n / 2 + 1), im(n / 2 + 1), work(n);
  double* in = fftw_alloc_real(n);
  fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  std::copy(x.begin(), x.end(), in);
  auto runOurs = [&] {
    fft::fastReal(x.data(), re.data(), im.data(), n, work.data());
    benchmark::DoNotOptimize(re.data());
  };
  auto runTheirs = [&] {
    fftw_execute(plan);
    benchmark::DoNotOptimize(out);
  };
  runOurs();
  runTheirs();
  for (int k = 0; k <= n / 2; ++k)
    if (std::abs(std::complex<double>(re[k] - out[k][0], im[k] - out[k][1])) > 1e-9 * n * 255) state.SkipWithError("results differ");
  bench::compareCpu(state, 64, runOurs, runTheirs);
  fftw_destroy_plan(plan);
  fftw_free(out);
  fftw_free(in);
}
BENCHMARK(BM_RealFft)->ArgName("n")->Arg(1024)->Arg(4096)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The 2D amplitude spectrum of a 512 x 512 window from its bytes, by cfPelFFT into a bound
// image; FFTW converts the bytes, runs its real 2D transform and fills the same full spectrum
// through the conjugate symmetry. generic: 1 runs the plain radix-2 path.
void BM_Spectrum2D(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0)), half = side / 2;
  const bool generic = state.range(1) != 0;
  const auto bytes = noise(static_cast<size_t>(side) * side);
  cimg_imageConst source;
  cimg_imageConst_constructWrap(&source, bytes.data(), side, side, side);
  cimg_imageDouble ours;
  cimg_imageDouble_construct(&ours, side, side);
  std::vector<double> theirs(static_cast<size_t>(side) * side);
  double* in = fftw_alloc_real(static_cast<size_t>(side) * side);
  fftw_complex* out = fftw_alloc_complex(static_cast<size_t>(side) * (half + 1));
  fftw_plan plan = fftw_plan_dft_r2c_2d(side, side, in, out, FFTW_MEASURE);
  cprt_isOptimizationInhibitedFP = generic ? +[](const char*) { return 1; } : nullptr;
  auto runOurs = [&] { cfPelFFT(&source, &ours, CIDUT_FFT_AMPLITUDE, CIDUT_FFT_2D); };
  auto runTheirs = [&] {
    for (size_t i = 0; i < bytes.size(); ++i) in[i] = bytes[i];
    fftw_execute(plan);
    for (int v = 0; v < side; ++v) {
      double* row = theirs.data() + static_cast<size_t>(v) * side;
      const fftw_complex* d = out + static_cast<size_t>(v) * (half + 1);
      const fftw_complex* m = out + static_cast<size_t>((side - v) % side) * (half + 1);
      for (int u = 0; u <= half; ++u) row[u] = std::sqrt(d[u][0] * d[u][0] + d[u][1] * d[u][1]);
      for (int u = half + 1; u < side; ++u) row[u] = std::sqrt(m[side - u][0] * m[side - u][0] + m[side - u][1] * m[side - u][1]);
    }
  };
  runOurs();
  runTheirs();
  for (size_t i = 0; i < theirs.size(); ++i)
    if (std::abs(ours.window.pixels[i] - theirs[i]) > 1e-9 * theirs[0]) state.SkipWithError("results differ");
  bench::compareCpu(state, 1, runOurs, runTheirs);
  cprt_isOptimizationInhibitedFP = nullptr;
  fftw_destroy_plan(plan);
  fftw_free(out);
  fftw_free(in);
  cimg_imageDouble_destruct(&ours);
}
BENCHMARK(BM_Spectrum2D)->ArgNames({"side", "generic"})->Args({512, 0})->Args({512, 1})->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
