// Spectra against FFTW (double precision, estimate plans) and against direct computations.
#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../src/id/idut/spectra/fft_kernels.hpp"
#include "ci_id/spectra.h"
#include "support/assert_recorder.hpp"
#include "support/owned_image.hpp"

namespace {

using Complex = std::complex<double>;

std::vector<uint8_t> noise(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> grey(0, 255);
  std::vector<uint8_t> v(count);
  for (auto& p : v) p = static_cast<uint8_t>(grey(rng));
  return v;
}

// The reference: FFTW's complex 2D transform (rows = 1 for a single row) of the bytes.
std::vector<Complex> fftwDft(const uint8_t* pixels, int stride, int width, int height, bool rowsOnly) {
  std::vector<Complex> data(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) data[y * width + x] = pixels[y * stride + x];
  auto* z = reinterpret_cast<fftw_complex*>(data.data());
  fftw_plan plan = rowsOnly ? fftw_plan_many_dft(1, &width, height, z, nullptr, 1, width, z, nullptr, 1, width,
                                                 FFTW_FORWARD, FFTW_ESTIMATE)
                            : fftw_plan_dft_2d(height, width, z, z, FFTW_FORWARD, FFTW_ESTIMATE);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
  return data;
}

// max |a - b| / max |b|, the error measure quoted for every transform here.
double relativeError(const std::vector<Complex>& a, const std::vector<Complex>& b) {
  double diff = 0, scale = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    diff = std::max(diff, std::abs(a[i] - b[i]));
    scale = std::max(scale, std::abs(b[i]));
  }
  return diff / scale;
}

const char* gInhibited[2] = {nullptr, nullptr};
int inhibit(const char* name) {
  for (const char* n : gInhibited)
    if (n && std::strcmp(n, name) == 0) return 1;
  return 0;
}

// Runs body once for each combination of the row and the column path.
void onEveryPath(const std::function<void(const std::string&)>& body) {
  const char* rows[2] = {nullptr, "cf1DRealFFT"};
  const char* columns[2] = {nullptr, "cf2DFFT"};
  for (const char* r : rows)
    for (const char* c : columns) {
      gInhibited[0] = r;
      gInhibited[1] = c;
      cprt_isOptimizationInhibitedFP = &inhibit;
      body(std::string(r ? "generic rows" : "fast rows") + (c ? ", generic columns" : ", fast columns"));
    }
  cprt_isOptimizationInhibitedFP = nullptr;
}

std::vector<Complex> complexOf(const cimg_imageDouble& image, int width, int height) {
  std::vector<Complex> out(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double* p = image.window.pixels + y * image.window.stride + 2 * x;
      out[y * width + x] = Complex(p[0], p[1]);
    }
  return out;
}

TEST(Fft, MatchesFftwAtEverySideOnEveryPath) {
  struct Size {
    int width, height, dimension;
  };
  std::vector<Size> sizes;
  for (int w = 2; w <= 1024; w *= 2) sizes.push_back({w, 3, CIDUT_FFT_ROWS});
  for (int s = 1; s <= 10; ++s) sizes.push_back({1 << s, 1 << (11 - s), CIDUT_FFT_2D});
  sizes.push_back({1024, 1024, CIDUT_FFT_2D});
  double worst = 0;
  onEveryPath([&](const std::string& path) {
    for (const Size& size : sizes) {
      // A window inside a wider image, so the source stride is exercised.
      const int stride = size.width + 5;
      const auto pixels = noise(stride * size.height, size.width * 31 + size.height);
      cimg_imageConst source;
      cimg_imageConst_constructWrap(&source, pixels.data(), size.width, size.height, stride);
      OwnedDouble out;
      ASSERT_EQ(cfPelFFT(&source, &out, CIDUT_FFT_COMPLEX, size.dimension), 0) << path;
      ASSERT_EQ(out.window.width, 2 * size.width);
      const double error = relativeError(complexOf(out, size.width, size.height),
                                         fftwDft(pixels.data(), stride, size.width, size.height,
                                                 size.dimension == CIDUT_FFT_ROWS));
      EXPECT_LE(error, 1e-9) << path << " " << size.width << " x " << size.height;
      worst = std::max(worst, error);
    }
  });
  std::printf("largest relative error against FFTW: %.3g\n", worst);
}

TEST(Fft, ModesAreFunctionsOfTheCoefficients) {
  auto pixels = noise(32 * 16, 5);
  std::fill(pixels.begin(), pixels.begin() + 32 * 8, 0);  // rows of zeros keep some powers tiny
  cimg_imageConst source;
  cimg_imageConst_constructWrap(&source, pixels.data(), 32, 16, 32);
  const auto ref = fftwDft(pixels.data(), 32, 32, 16, false);
  for (int mode = CIDUT_FFT_AMPLITUDE; mode <= CIDUT_FFT_LOG_POWER; ++mode) {
    OwnedDouble out;
    ASSERT_EQ(cfPelFFT(&source, &out, mode, CIDUT_FFT_2D), 0);
    for (int i = 0; i < 32 * 16; ++i) {
      const double p = std::norm(ref[i]);
      const double want = mode == CIDUT_FFT_AMPLITUDE ? std::sqrt(p) : mode == CIDUT_FFT_POWER ? p : std::log(p + 1e-10);
      ASSERT_NEAR(out.window.pixels[i], want, 1e-9 * std::max(1.0, std::abs(want))) << "mode " << mode << " at " << i;
    }
  }
}

// The fast kernels in both builds (two and four lanes): the real one also serves lengths above
// the library's sides; the column pass of both builds agrees with itself on a ragged width.
TEST(Fft, FastKernelsMatchFftwInBothBuilds) {
  std::vector<fft::Lanes> builds = {fft::Lanes::two};
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) builds.push_back(fft::Lanes::four);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> value(-1, 1);
  for (fft::Lanes lanes : builds) {
    for (int n = 2; n <= 4096; n *= 2) {
      std::vector<double> x(n), re(n / 2 + 1), im(n / 2 + 1), work(n);
      for (double& v : x) v = value(rng);
      std::vector<Complex> ref(n / 2 + 1), ours(n / 2 + 1);
      std::vector<double> copy = x;
      fftw_plan plan = fftw_plan_dft_r2c_1d(n, copy.data(), reinterpret_cast<fftw_complex*>(ref.data()), FFTW_ESTIMATE);
      fftw_execute(plan);
      fftw_destroy_plan(plan);
      fft::fastReal(x.data(), re.data(), im.data(), n, work.data(), lanes);
      for (int k = 0; k <= n / 2; ++k) ours[k] = Complex(re[k], im[k]);
      EXPECT_LE(relativeError(ours, ref), 1e-12) << n << " points, build " << static_cast<int>(lanes);
    }
    // 7 columns (8 with the padding lane) of 64 rows against FFTW column by column.
    const int rows = 64, stride = 8;
    std::vector<double> re(rows * stride), im(rows * stride);
    for (double& v : re) v = value(rng);
    for (double& v : im) v = value(rng);
    std::vector<Complex> column(rows), ours(rows);
    std::vector<std::vector<Complex>> ref;
    for (int c = 0; c < 7; ++c) {
      for (int r = 0; r < rows; ++r) column[r] = Complex(re[r * stride + c], im[r * stride + c]);
      fftw_plan plan = fftw_plan_dft_1d(rows, reinterpret_cast<fftw_complex*>(column.data()),
                                        reinterpret_cast<fftw_complex*>(column.data()), FFTW_FORWARD, FFTW_ESTIMATE);
      fftw_execute(plan);
      fftw_destroy_plan(plan);
      ref.push_back(column);
    }
    fft::fastColumnsBitReversed(re.data(), im.data(), stride, 7, rows, lanes);
    for (int c = 0; c < 7; ++c) {
      for (int v = 0; v < rows; ++v) ours[v] = Complex(re[fft::bitReverse(v, 6) * stride + c], im[fft::bitReverse(v, 6) * stride + c]);
      EXPECT_LE(relativeError(ours, ref[c]), 1e-12) << "column " << c;
    }
  }
}

// Integer coefficients follow the floating ones to within the truncation of 16-bit stage factors.
TEST(Fft, IntegerTransformFollowsTheFloatingOne) {
  double worst = 0;
  for (int s = 1; s <= 10; ++s) {
    const int w = 1 << s, h = 1 << ((s + 3) % 10 + 1);
    const auto pixels = noise(w * h, s);
    cimg_imageConst source;
    cimg_imageConst_constructWrap(&source, pixels.data(), w, h, w);
    OwnedInt32 out, power, amplitude;
    ASSERT_EQ(cfPelFFTBin(&source, &out, CIDUT_FFT_COMPLEX, CIDUT_FFT_2D), 0);
    std::vector<Complex> ours(static_cast<size_t>(w) * h);
    for (int i = 0; i < w * h; ++i) ours[i] = Complex(out.window.pixels[2 * i], out.window.pixels[2 * i + 1]);
    const double error = relativeError(ours, fftwDft(pixels.data(), w, w, h, false));
    EXPECT_LE(error, 4e-3) << w << " x " << h;  // shifts round down: their errors add up
    worst = std::max(worst, error);
    // Power and amplitude are the documented functions of those integers.
    ASSERT_EQ(cfPelFFTBin(&source, &power, CIDUT_FFT_POWER, CIDUT_FFT_2D), 0);
    ASSERT_EQ(cfPelFFTBin(&source, &amplitude, CIDUT_FFT_AMPLITUDE, CIDUT_FFT_2D), 0);
    for (int i = 0; i < w * h; i += 5) {
      const int64_t re = out.window.pixels[2 * i], im = out.window.pixels[2 * i + 1], p = re * re + im * im;
      const uint32_t wrapped = static_cast<uint32_t>(p);
      ASSERT_EQ(power.window.pixels[i], static_cast<int32_t>(wrapped)) << i;
      ASSERT_EQ(amplitude.window.pixels[i], static_cast<int64_t>(std::sqrt(static_cast<double>(wrapped))) & 0xFFFF) << i;
    }
  }
  std::printf("integer transform, largest relative error: %.3g\n", worst);
}

TEST(Fft, IntegerProductsAreShiftedAndPowersWrap) {
  // One row of 8 with a single 1 at index 1. The stage factors of the last stage are 1, then
  // (46341, -46341), then (46341^2 >> 16) - (-46341 * -46341 >> 16) = 0 and
  // 2 * (46341 * -46341 >> 16) = 2 * -32769 = -65538, then (-46341, -46341) by the same shifts.
  // A product shifted right by 16 rounds down: 1 * 46341 >> 16 = 0 and 1 * -65538 >> 16 = -2, so
  // coefficient 1 is (0, -1) and coefficient 2 is (0, -2), not the nearest (1, -1) and (0, -1).
  // A row of 1024 pixels of 255 has the coefficient 261120 at frequency 0; its power
  // 261120^2 = 68183654400 wraps to 3759144960 (as int32 -535822336), whose root is 61311.
  const struct {
    std::vector<uint8_t> row;
    std::vector<int32_t> complexCoefficients;  // the first eight values (four coefficients)
    int32_t power0, amplitude0;
  } rows[] = {{{0, 1, 0, 0, 0, 0, 0, 0}, {1, 0, 0, -1, 0, -2, -1, -1}, 1, 1},
              {{10, 20, 30, 40, 50, 60, 70, 80}, {360, 0, -40, 96, -40, 40, -40, 16}, 129600, 360},
              {std::vector<uint8_t>(1024, 255), {261120, 0, 0, 0, 0, 0, 0, 0}, -535822336, 61311}};
  for (const auto& r : rows) {
    cimg_imageConst source;
    cimg_imageConst_constructWrap(&source, r.row.data(), static_cast<int32_t>(r.row.size()), 1,
                                  static_cast<int32_t>(r.row.size()));
    OwnedInt32 out, power, amplitude;
    ASSERT_EQ(cfPelFFTBin(&source, &out, CIDUT_FFT_COMPLEX, CIDUT_FFT_ROWS), 0);
    ASSERT_EQ(cfPelFFTBin(&source, &power, CIDUT_FFT_POWER, CIDUT_FFT_ROWS), 0);
    ASSERT_EQ(cfPelFFTBin(&source, &amplitude, CIDUT_FFT_AMPLITUDE, CIDUT_FFT_ROWS), 0);
    EXPECT_EQ(std::vector<int32_t>(out.window.pixels, out.window.pixels + 8), r.complexCoefficients) << r.row.size();
    EXPECT_EQ(std::tuple(power.window.pixels[0], amplitude.window.pixels[0]), std::tuple(r.power0, r.amplitude0))
        << r.row.size();
  }
}

TEST(Fft, PowerSpectrumIntoWorkBuffer) {
  const auto pixels = noise(64 * 32, 9);
  cimg_imageConst source;
  cimg_imageConst_constructWrap(&source, pixels.data(), 64, 32, 64);
  source.clientFromImage.t.x = 7;
  std::vector<double> work(2 * 64 * 32);
  cimg_imageDouble out;
  cimg_imageDouble_construct(&out, 3, 3);  // replaced by the result
  ASSERT_EQ(cidut_2dFFTPwrSpec_win8_(&source, work.data(), static_cast<int32_t>(work.size()), &out), 0);
  ASSERT_EQ(std::tuple(out.window.width, out.window.height), std::tuple(64, 32));
  EXPECT_EQ(out.clientFromImage.t.x, 7);
  const auto ref = fftwDft(pixels.data(), 64, 64, 32, false);
  std::vector<Complex> inWork(ref.size());
  for (size_t i = 0; i < ref.size(); ++i) inWork[i] = Complex(work[2 * i], work[2 * i + 1]);
  EXPECT_LE(relativeError(inWork, ref), 1e-9);
  for (size_t i = 0; i < ref.size(); ++i) ASSERT_NEAR(out.window.pixels[i], std::norm(ref[i]), 1e-9 * std::norm(ref[0]));
  cimg_imageDouble_destruct(&out);
}

// Direct DFTs of any length, 1D and 2D, and the amplitude fronts built on them.
TEST(Dft, DirectTransformsMatchFftw) {
  for (int n : {1, 2, 3, 7, 48, 100, 257}) {
    const auto x = noise(n, n);
    std::vector<double> re(n, -1), im(n, -1), reOnly(n, -1);
    ASSERT_EQ(cfRowDFT(x.data(), re.data(), im.data(), n), 0);
    ASSERT_EQ(cfRowDFT(x.data(), reOnly.data(), nullptr, n), 0);
    std::vector<Complex> ours(n);
    for (int k = 0; k < n; ++k) ours[k] = Complex(re[k], im[k]);
    EXPECT_LE(relativeError(ours, fftwDft(x.data(), n, n, 1, true)), 1e-12) << n;
    EXPECT_EQ(reOnly, re) << n;
  }
  struct Size {
    int rows, columns;
  };
  for (const Size size : {Size{5, 7}, Size{1, 9}, Size{16, 3}, Size{12, 12}}) {
    const int stride = size.columns + 2, count = size.rows * size.columns;
    const auto pixels = noise(stride * size.rows, count);
    const auto ref = fftwDft(pixels.data(), stride, size.columns, size.rows, false);
    std::vector<double> re(count), im(count), amplitude(count);
    ASSERT_EQ(cf2DDFT(pixels.data(), stride, size.rows, size.columns, re.data(), im.data()), 0);
    ASSERT_EQ(cf2DPowerSpectrum(pixels.data(), stride, size.rows, size.columns, amplitude.data(), size.columns), 0);
    std::vector<Complex> ours(count), amplitudeAsComplex(count), refAmplitude(count);
    for (int i = 0; i < count; ++i) {
      ours[i] = Complex(re[i], im[i]);
      amplitudeAsComplex[i] = amplitude[i];
      refAmplitude[i] = std::abs(ref[i]);
    }
    EXPECT_LE(relativeError(ours, ref), 1e-12);
    EXPECT_LE(relativeError(amplitudeAsComplex, refAmplitude), 1e-12);

    // The image fronts over a window; the limited spectrum keeps only the low frequencies.
    cimg_imageConst source;
    cimg_imageConst_constructWrap(&source, pixels.data(), size.columns, size.rows, stride);
    OwnedDouble full;
    cimg_imageDouble limited;
    cimg_imageDouble_construct(&limited, size.columns + 1, size.rows);
    ASSERT_EQ(cfPowerSpectrum(&source, &full), 0);
    const int L = 1, M = 2;
    ASSERT_EQ(cfLimitedPelPowerSpectrum(&source, L, M, &limited), 0);
    for (int v = 0; v < size.rows; ++v)
      for (int u = 0; u < size.columns; ++u) {
        const bool kept = (2 * L >= size.columns || u < L || u >= size.columns - L) &&
                          (2 * M >= size.rows || v < M || v >= size.rows - M);
        EXPECT_NEAR(full.window.pixels[v * full.window.stride + u], amplitude[v * size.columns + u], 1e-9);
        EXPECT_NEAR(limited.window.pixels[v * limited.window.stride + u], kept ? amplitude[v * size.columns + u] : 0.0, 1e-9);
      }
    cimg_imageDouble_destruct(&limited);
  }
}

// The shift against its definition on even and odd sides; the view against its formula (the
// 1 x 1 spectrum is constant: black).
TEST(Spectrum, ShiftAndViewableImage) {
  for (auto [w, h] : {std::pair{4, 6}, std::pair{5, 3}, std::pair{1, 1}, std::pair{8, 7}}) {
    std::vector<double> values(w * h);
    for (int i = 0; i < w * h; ++i) values[i] = std::pow(i, 1.7) * 0.37 - 3;
    cimg_imageDouble in;
    cimg_imageDouble_constructWrap(&in, values.data(), w, h, w);
    OwnedDouble shifted;
    ASSERT_EQ(cfPowerSpectrumShift(&in, &shifted), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(shifted.window.pixels[((y + h / 2) % h) * w + (x + w / 2) % w], values[y * w + x]) << w << "x" << h;

    OwnedImage view;
    ASSERT_EQ(cfViewableFFT(&in, &view), 0);
    const double lo = values.front(), hi = values.back();
    for (int i = 0; i < w * h; ++i) {
      const int want = hi == lo ? 0 : values[i] == hi ? 255 : static_cast<int>((values[i] - lo) * 255 / (hi - lo));
      ASSERT_EQ(view.window.pixels[(i / w) * view.window.stride + i % w], want);
    }
  }
}

// Bad input: the documented status, and no output written or bound.
TEST(Spectrum, BadInputWritesNothing) {
  const auto pixels = noise(2048 * 16, 1);
  auto view = [&](int w, int h, int stride) {
    cimg_imageConst v;
    cimg_imageConst_constructWrap(&v, pixels.data(), w, h, stride);
    return v;
  };
  const cimg_imageConst good = view(16, 16, 16), w48 = view(48, 16, 48), w2048 = view(2048, 2, 2048),
                        w1 = view(1, 16, 1), w0 = view(0, 16, 16), h3 = view(16, 3, 16), h0 = view(16, 0, 16);
  cimg_imageConst unboundSource;
  cimg_imageConst_constructUnbound(&unboundSource);

  OwnedDouble unbound;
  cimg_imageDouble small;
  cimg_imageDouble_construct(&small, 4, 4);
  std::fill(small.window.pixels, small.window.pixels + 16, 777.0);
  OwnedInt32 unboundInt;
  std::vector<double> re(256, 5.0), im(256, 5.0), work(2 * 16 * 16, 5.0);
  // A source whose bytes are the output's pixels.
  std::vector<double> shared(2 * 16 * 16, 1.0);
  cimg_imageConst aliased;
  cimg_imageConst_constructWrap(&aliased, reinterpret_cast<const uint8_t*>(shared.data()), 16, 16, 16);
  cimg_imageDouble aliasOut;
  cimg_imageDouble_constructWrap(&aliasOut, shared.data(), 32, 16, 32);
  cimg_image smallBytes;  // an 8-bit view onto the pixels of `small`
  cimg_image_constructWrap(&smallBytes, reinterpret_cast<uint8_t*>(small.window.pixels), 4, 4, 32);

  struct Row {
    const char* what;
    std::function<csys_status()> call;
    csys_status expected;
  };
  const int32_t workLength = static_cast<int32_t>(work.size());
  const Row rows[] = {
      {"width 48", [&] { return cfPelFFT(&w48, &unbound, CIDUT_FFT_AMPLITUDE, CIDUT_FFT_2D); }, cidut_errFftSize},
      {"width 2048", [&] { return cfPelFFT(&w2048, &unbound, CIDUT_FFT_AMPLITUDE, CIDUT_FFT_ROWS); }, cidut_errFftSize},
      {"width 1", [&] { return cfPelFFT(&w1, &unbound, CIDUT_FFT_COMPLEX, CIDUT_FFT_ROWS); }, cidut_errFftSize},
      {"height 3, 2D", [&] { return cfPelFFT(&h3, &unbound, CIDUT_FFT_POWER, CIDUT_FFT_2D); }, cidut_errFftSize},
      {"height 0, rows", [&] { return cfPelFFT(&h0, &unbound, CIDUT_FFT_POWER, CIDUT_FFT_ROWS); }, cidut_errFftSize},
      {"unbound source", [&] { return cfPelFFT(&unboundSource, &unbound, 0, CIDUT_FFT_2D); }, csys_errImageUnbound},
      {"mode 4", [&] { return cfPelFFT(&good, &unbound, 4, CIDUT_FFT_2D); }, cidut_errBadArgument},
      {"dimension 2", [&] { return cfPelFFT(&good, &unbound, 0, 2); }, csys_errAssertion},
      {"null output", [&] { return cfPelFFT(&good, nullptr, 0, CIDUT_FFT_2D); }, csys_errAssertion},
      {"output too small", [&] { return cfPelFFT(&good, &small, CIDUT_FFT_POWER, CIDUT_FFT_2D); }, cidut_errBadArgument},
      {"output over source", [&] { return cfPelFFT(&aliased, &aliasOut, CIDUT_FFT_COMPLEX, CIDUT_FFT_2D); },
       cidut_errBuffersOverlap},
      {"integer, width 48", [&] { return cfPelFFTBin(&w48, &unboundInt, 0, CIDUT_FFT_ROWS); }, cidut_errFftSize},
      {"work length", [&] { return cidut_2dFFTPwrSpec_win8_(&good, work.data(), workLength - 2, &unbound); },
       csys_errAssertion},
      {"work, height 3", [&] { return cidut_2dFFTPwrSpec_win8_(&h3, work.data(), 2 * 16 * 3, &unbound); }, cidut_errFftSize},
      {"row DFT, n < 0", [&] { return cfRowDFT(pixels.data(), re.data(), im.data(), -1); }, cidut_errBadArgument},
      {"2D DFT, no rows", [&] { return cf2DDFT(pixels.data(), 16, 0, 16, re.data(), im.data()); }, cidut_errBadArgument},
      {"2D DFT, short stride", [&] { return cf2DDFT(pixels.data(), 8, 4, 16, re.data(), im.data()); }, cidut_errBadArgument},
      {"spectrum, empty window", [&] { return cfPowerSpectrum(&w0, &unbound); }, cidut_errBadArgument},
      {"spectrum, unbound output", [&] { return cfPelPowerSpectrum(&good, &unbound); }, csys_errImageUnbound},
      {"spectrum, small output", [&] { return cfPelPowerSpectrum(&good, &small); }, cidut_errBadArgument},
      {"limited, negative", [&] { return cfLimitedPelPowerSpectrum(&good, -1, 2, &small); }, cidut_errBadArgument},
      {"shift in place", [&] { return cfFFTShift(&small, &small); }, cidut_errBuffersOverlap},
      {"view over spectrum", [&] { return cfViewableFFT(&small, &smallBytes); }, cidut_errBuffersOverlap},
  };
  for (const Row& row : rows) {
    AssertRecorder asserts;
    EXPECT_EQ(row.call(), row.expected) << row.what;
    EXPECT_EQ(asserts.count(), row.expected == csys_errAssertion ? 1u : 0u) << row.what;
    EXPECT_FALSE(cimg_imageDouble_isBound(&unbound)) << row.what;
    EXPECT_FALSE(cimg_imageInt32_isBound(&unboundInt)) << row.what;
    for (int i = 0; i < 16; ++i) ASSERT_EQ(small.window.pixels[i], 777.0) << row.what;
    for (const auto* v : {&re, &im, &work}) ASSERT_EQ(std::count(v->begin(), v->end(), 5.0), std::ssize(*v)) << row.what;
    ASSERT_EQ(std::count(shared.begin(), shared.end(), 1.0), std::ssize(shared)) << row.what;
  }
  cimg_imageDouble_destruct(&small);
}

}  // namespace
