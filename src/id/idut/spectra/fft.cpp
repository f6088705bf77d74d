// FFTs of image windows: the floating transform with its fast and generic paths, the integer
// transform, the power spectrum into a caller's work buffer, and the fixed-size transforms this
// library does not provide.
//
// Two pipelines give the same coefficients. The fast one keeps only the non-redundant half of
// each row's spectrum (u = 0 .. W/2; a real row's spectrum is conjugate-symmetric) in split
// real / imaginary planes and runs the column transforms over whole rows at once, half the work
// of a complex 2D transform; the other half of the result is read back through the symmetry
// X[v][u] = conj X[-v][-u]. The generic one holds every complex coefficient, interleaved, and
// transforms every row and column with the tabulated radix-2 schedule.
#include <algorithm>
#include <climits>
#include <cmath>
#include <type_traits>

#include "base/cmath.h"
#include "base/cmath_fixed.h"
#include "base/csys_cleanup.hpp"
#include "ci_id/spectra.h"
#include "fft_kernels.hpp"
#include "spectra_support.hpp"

namespace {

struct Sizes {
  int width, height, log2w, log2h;
  bool twoD;
};

csys_status checkSizes(const cimg_windowConst& w, int32_t dimension, Sizes* s) {
  s->width = w.width;
  s->height = w.height;
  s->twoD = dimension == CIDUT_FFT_2D;
  s->log2w = fft::log2Exact(w.width);
  s->log2h = fft::log2Exact(w.height);
  if (s->log2w < 1 || s->log2w > fft::kMaxLog2) return cidut_errFftSize;
  if (s->twoD ? (s->log2h < 1 || s->log2h > fft::kMaxLog2) : w.height < 1) return cidut_errFftSize;
  return 0;
}

// Where coefficients go: rows of `stride` values, one (or in mode 0 two) per frequency.
struct Target {
  double* pixels;
  ptrdiff_t stride;
  int32_t mode;
};

template <int Mode>
inline void put(double* row, int u, double re, double im) {
  if constexpr (Mode == CIDUT_FFT_COMPLEX) {
    row[2 * u] = re, row[2 * u + 1] = im;
  } else {
    const double p = re * re + im * im;
    if constexpr (Mode == CIDUT_FFT_AMPLITUDE) row[u] = std::sqrt(p);
    if constexpr (Mode == CIDUT_FFT_POWER) row[u] = p;
    if constexpr (Mode == CIDUT_FFT_LOG_POWER) row[u] = std::log(p + 1e-10);
  }
}

// Output row from half-spectrum rows: u <= W/2 from `direct`, the rest conj(mirror[W - u]).
template <int Mode>
void emitHalf(double* row, const double* dRe, const double* dIm, const double* mRe, const double* mIm, int width) {
  const int half = width / 2;
  for (int u = 0; u <= half; ++u) put<Mode>(row, u, dRe[u], dIm[u]);
  for (int u = half + 1; u < width; ++u) put<Mode>(row, u, mRe[width - u], -mIm[width - u]);
}

template <int Mode>
void emitFull(double* row, const double* z, int width) {
  for (int u = 0; u < width; ++u) put<Mode>(row, u, z[2 * u], z[2 * u + 1]);
}

template <class F>
void byMode(int32_t mode, F f) {
  switch (mode) {
    case CIDUT_FFT_COMPLEX: f(std::integral_constant<int, CIDUT_FFT_COMPLEX>{}); break;
    case CIDUT_FFT_AMPLITUDE: f(std::integral_constant<int, CIDUT_FFT_AMPLITUDE>{}); break;
    case CIDUT_FFT_POWER: f(std::integral_constant<int, CIDUT_FFT_POWER>{}); break;
    default: f(std::integral_constant<int, CIDUT_FFT_LOG_POWER>{}); break;
  }
}

// The plain transform of one real row into interleaved z (2 x width values).
void genericRow(const uint8_t* pixels, double* z, int width) {
  for (int u = 0; u < width; ++u) z[2 * u] = pixels[u], z[2 * u + 1] = 0;
  fft::genericComplex(z, width);
}

// Fast real transform of one row, or cidut_errNotOptimized when that path is inhibited.
csys_status fastRow(const uint8_t* pixels, double* re, double* im, int width, double* work) {
  if (cprt_isOptimizationInhibited("cf1DRealFFT")) return cidut_errNotOptimized;
  fft::fastReal(pixels, re, im, width, work);
  return 0;
}

csys_status allocate(size_t values, csys::CleanupList& cleanup, void** block) {
  const csys_status st = csys_memory_allocFastMem_internal(values * sizeof(double), block);
  if (CSYS_SUCCEEDED(st)) cleanup.freeAlways(block);
  return st;
}

constexpr int kColumnStrip = 16;  // columns per column pass, so a strip stays in the cache

csys_status viaHalfPlanes(const cimg_windowConst& in, const Sizes& s, const Target& t) {
  const int w = s.width, h = s.height, half = w / 2;
  const ptrdiff_t cp = (half + 2) & ~1;  // half + 1 coefficients, rounded up to whole lane pairs
  csys::CleanupList cleanup;
  void* block = nullptr;
  csys_status st = allocate(2 * h * cp + 3 * static_cast<size_t>(w), cleanup, &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  double* re = static_cast<double*>(block);
  double* im = re + h * cp;
  double* work = im + h * cp;  // w values for the fast row, 2 w for the generic one
  for (int y = 0; y < h; ++y) {
    const uint8_t* pixels = in.pixels + ptrdiff_t{y} * in.stride;
    double* rowRe = re + y * cp;
    double* rowIm = im + y * cp;
    if (CIDUT_IS_NOT_OPTIMIZED(fastRow(pixels, rowRe, rowIm, w, work))) {
      genericRow(pixels, work, w);
      for (int u = 0; u <= half; ++u) {
        rowRe[u] = work[2 * u];
        rowIm[u] = work[2 * u + 1];
      }
    }
    if (cp > half + 1) rowRe[half + 1] = rowIm[half + 1] = 0;
  }
  if (s.twoD) {
    for (ptrdiff_t c = 0; c < cp; c += kColumnStrip)
      fft::fastColumnsBitReversed(re + c, im + c, cp, static_cast<int>(std::min<ptrdiff_t>(kColumnStrip, cp - c)), h);
  }
  byMode(t.mode, [&](auto mode) {
    for (int v = 0; v < h; ++v) {
      const ptrdiff_t d = s.twoD ? fft::bitReverse(v, s.log2h) : v;
      const ptrdiff_t m = s.twoD ? fft::bitReverse((h - v) & (h - 1), s.log2h) : v;
      emitHalf<decltype(mode)::value>(t.pixels + v * t.stride, re + d * cp, im + d * cp, re + m * cp, im + m * cp, w);
    }
  });
  return cleanup.exit(0);
}

csys_status viaFullSpectrum(const cimg_windowConst& in, const Sizes& s, const Target& t) {
  const int w = s.width, h = s.height, half = w / 2;
  csys::CleanupList cleanup;
  void* block = nullptr;
  csys_status st = allocate(2 * static_cast<size_t>(w) * h + 2 * static_cast<size_t>(h) + 4 * static_cast<size_t>(w),
                            cleanup, &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  double* z = static_cast<double*>(block);
  double* column = z + 2 * static_cast<size_t>(w) * h;
  double* rowRe = column + 2 * h;  // half + 1 each, then w of fast-row work
  double* rowIm = rowRe + w / 2 + 1;
  double* work = rowIm + w / 2 + 1;
  for (int y = 0; y < h; ++y) {
    const uint8_t* pixels = in.pixels + ptrdiff_t{y} * in.stride;
    double* row = z + 2 * static_cast<ptrdiff_t>(w) * y;
    if (CIDUT_IS_NOT_OPTIMIZED(fastRow(pixels, rowRe, rowIm, w, work))) {
      genericRow(pixels, row, w);
    } else {
      for (int u = 0; u <= half; ++u) row[2 * u] = rowRe[u], row[2 * u + 1] = rowIm[u];
      for (int u = half + 1; u < w; ++u) row[2 * u] = rowRe[w - u], row[2 * u + 1] = -rowIm[w - u];
    }
  }
  if (s.twoD) {
    const ptrdiff_t stride = 2 * static_cast<ptrdiff_t>(w);
    for (int u = 0; u < w; ++u) {
      for (int y = 0; y < h; ++y) column[2 * y] = z[y * stride + 2 * u], column[2 * y + 1] = z[y * stride + 2 * u + 1];
      fft::genericComplex(column, h);
      for (int y = 0; y < h; ++y) z[y * stride + 2 * u] = column[2 * y], z[y * stride + 2 * u + 1] = column[2 * y + 1];
    }
  }
  byMode(t.mode, [&](auto mode) {
    for (int v = 0; v < h; ++v) emitFull<decltype(mode)::value>(t.pixels + v * t.stride, z + 2 * static_cast<ptrdiff_t>(w) * v, w);
  });
  return cleanup.exit(0);
}

// The column pass picks the pipeline: its fast path works on half planes only.
csys_status transformWindow(const cimg_windowConst& in, const Sizes& s, const Target& t) {
  const bool halfPlanes = s.twoD ? !cprt_isOptimizationInhibited("cf2DFFT") : !cprt_isOptimizationInhibited("cf1DRealFFT");
  return halfPlanes ? viaHalfPlanes(in, s, t) : viaFullSpectrum(in, s, t);
}

// ---- integer transform --------------------------------------------------------------------

// re^2 + im^2 of the 32-bit coefficients, in 32-bit words as the output pixels are: the power
// wraps, and the amplitude is the root of the wrapped power read unsigned. The logarithm is
// taken of the exact square.
void emitInt(int32_t* row, const int32_t* z, int width, int32_t mode) {
  for (int u = 0; u < width; ++u) {
    const uint32_t re = static_cast<uint32_t>(z[2 * u]), im = static_cast<uint32_t>(z[2 * u + 1]);
    const uint32_t wrapped = re * re + im * im;
    switch (mode) {
      case CIDUT_FFT_COMPLEX: row[2 * u] = z[2 * u], row[2 * u + 1] = z[2 * u + 1]; break;
      case CIDUT_FFT_AMPLITUDE: row[u] = static_cast<int32_t>(cmath_sqrt32(wrapped) & 0xFFFFu); break;
      case CIDUT_FFT_POWER: row[u] = static_cast<int32_t>(wrapped); break;
      default: {
        const int64_t r = z[2 * u], i = z[2 * u + 1];
        row[u] = static_cast<int32_t>(cmath_double_round(std::log(static_cast<double>(r * r + i * i) + 1e-10)));
        break;
      }
    }
  }
}

csys_status integerTransform(const cimg_windowConst& in, const Sizes& s, const cimg_windowInt32& out, int32_t mode) {
  const int w = s.width, h = s.height;
  const ptrdiff_t stride = 2 * static_cast<ptrdiff_t>(w);
  csys::CleanupList cleanup;
  void* block = nullptr;
  csys_status st = csys_memory_alloc_internal((stride * h + 2 * static_cast<size_t>(h)) * sizeof(int32_t), &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  int32_t* z = static_cast<int32_t*>(block);
  int32_t* column = z + stride * h;
  for (int y = 0; y < h; ++y) {
    int32_t* row = z + y * stride;
    for (int u = 0; u < w; ++u) row[2 * u] = in.pixels[ptrdiff_t{y} * in.stride + u], row[2 * u + 1] = 0;
    fft::genericComplexInt(row, w);
  }
  if (s.twoD) {
    for (int u = 0; u < w; ++u) {
      for (int y = 0; y < h; ++y) column[2 * y] = z[y * stride + 2 * u], column[2 * y + 1] = z[y * stride + 2 * u + 1];
      fft::genericComplexInt(column, h);
      for (int y = 0; y < h; ++y) z[y * stride + 2 * u] = column[2 * y], z[y * stride + 2 * u + 1] = column[2 * y + 1];
    }
  }
  for (int v = 0; v < h; ++v) emitInt(out.pixels + ptrdiff_t{v} * out.stride, z + v * stride, w, mode);
  return cleanup.exit(0);
}

// The floating and the integer front: checks of source, sizes and mode, the output bound at the
// spectrum's size and kept clear of the source, then the transform into it.
template <class Window, class Image, class Transform>
csys_status transformFront(const cimg_imageConst* source, Image* output, int32_t mode, int32_t dimension,
                           Transform transform) {
  CSYS_REQUIRE(source != nullptr && output != nullptr && (dimension == CIDUT_FFT_2D || dimension == CIDUT_FFT_ROWS));
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  Sizes s{};
  csys_status st = checkSizes(source->window, dimension, &s);
  if (CSYS_FAILED(st)) return st;
  if (mode < CIDUT_FFT_COMPLEX || mode > CIDUT_FFT_LOG_POWER) return cidut_errBadArgument;
  csys::CleanupList cleanup;
  Window out{};
  bool fresh = false;
  const int32_t width = mode == CIDUT_FFT_COMPLEX ? 2 * s.width : s.width;
  st = spectra::bindOutput(output, width, s.height, true, source->clientFromImage, cleanup, &out, &fresh);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (!fresh && spectra::overlaps(spectra::bytesOf(source->window), spectra::bytesOf(out)))
    return cleanup.exit(cidut_errBuffersOverlap);
  return cleanup.exit(transform(s, out));
}

}  // namespace

extern "C" {

csys_status cfPelFFT(const cimg_imageConst* source, cimg_imageDouble* output, int32_t mode, int32_t dimension) {
  return transformFront<cimg_windowDouble>(source, output, mode, dimension, [&](const Sizes& s, const cimg_windowDouble& out) {
    return transformWindow(source->window, s, Target{out.pixels, out.stride, mode});
  });
}

csys_status cfPelFFTBin(const cimg_imageConst* source, cimg_imageInt32* output, int32_t mode, int32_t dimension) {
  return transformFront<cimg_windowInt32>(source, output, mode, dimension, [&](const Sizes& s, const cimg_windowInt32& out) {
    return integerTransform(source->window, s, out, mode);
  });
}

csys_status cidut_2dFFTPwrSpec_win8_(const cimg_image8Const* source, double* work, int32_t workLength,
                                     cimg_imageDouble* output) {
  CSYS_REQUIRE(source != nullptr && work != nullptr && output != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  CSYS_REQUIRE(int64_t{workLength} == 2 * int64_t{source->window.width} * source->window.height);
  Sizes s{};
  csys_status st = checkSizes(source->window, CIDUT_FFT_2D, &s);
  if (CSYS_FAILED(st)) return st;
  csys::CleanupList cleanup;
  cimg_imageDouble fresh;
  st = cimg_imageDouble_construct(&fresh, s.width, s.height);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cimg_imageDouble_destruct>(&fresh);
  const ptrdiff_t stride = 2 * static_cast<ptrdiff_t>(s.width);
  st = transformWindow(source->window, s, Target{work, stride, CIDUT_FFT_COMPLEX});
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  for (int v = 0; v < s.height; ++v) {
    const double* z = work + v * stride;
    double* row = fresh.window.pixels + ptrdiff_t{v} * fresh.window.stride;
    for (int u = 0; u < s.width; ++u) row[u] = z[2 * u] * z[2 * u] + z[2 * u + 1] * z[2 * u + 1];
  }
  fresh.clientFromImage = source->clientFromImage;
  cimg_imageDouble_destruct(output);
  *output = fresh;
  return cleanup.exit(0);
}

// Not provided: a caller's fallback on cidut_errNotOptimized is the only transform there is, so
// the generic path answers the same as the (absent) fast one.
csys_status cf2DFFT_32x32_fixed(const void*, void*, int32_t) { return cidut_errNotOptimized; }
csys_status cf2DIFFT_32x32_fixed(const void*, void*, int32_t) { return cidut_errNotOptimized; }
csys_status cf2DFFT_16x16_fixed(const void*, void*, int32_t) { return cidut_errNotOptimized; }
csys_status cf2DIFFT_16x16_fixed(const void*, void*, int32_t) { return cidut_errNotOptimized; }

}  // extern "C"
