// Direct DFTs of rows and columns and the amplitude spectra built on them. The sums read their
// cosines and sines from a table of one period (index k n mod N), so each row costs N^2
// multiply-adds and no trigonometric call.
#include <cmath>

#include "base/csys_cleanup.hpp"
#include "ci_id/spectra.h"
#include "spectra_support.hpp"

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

struct Table {
  const double* cosine;
  const double* sine;
  int32_t n;
};

void fillTable(double* cosine, double* sine, int32_t n) {
  const double w = kTwoPi / n;
  for (int32_t m = 0; m < n; ++m) {
    cosine[m] = std::cos(m * w);
    sine[m] = std::sin(m * w);
  }
}

// Real samples x[0], x[step], ...: re[k] = sum x cos, im[k] = -sum x sin.
void dftReal(const uint8_t* x, double* re, double* im, const Table& t) {
  for (int32_t k = 0; k < t.n; ++k) {
    double sr = 0, si = 0;
    int32_t m = 0;  // k j mod n
    for (int32_t j = 0; j < t.n; ++j) {
      sr += x[j] * t.cosine[m];
      si -= x[j] * t.sine[m];
      m += k;
      if (m >= t.n) m -= t.n;
    }
    if (re) re[k] = sr;
    if (im) im[k] = si;
  }
}

// One output frequency k of the complex sequence (re, im)[j * stride]: full complex products.
inline void dftComplexAt(const double* re, const double* im, ptrdiff_t stride, int32_t k, const Table& t, double* outRe,
                         double* outIm) {
  double sr = 0, si = 0;
  int32_t m = 0;
  for (int32_t j = 0; j < t.n; ++j) {
    const double a = re[j * stride], b = im[j * stride], c = t.cosine[m], s = t.sine[m];
    sr += a * c + b * s;
    si += b * c - a * s;
    m += k;
    if (m >= t.n) m -= t.n;
  }
  *outRe = sr;
  *outIm = si;
}

// The work of a 2D transform in one block: the two tables and a column with its transform.
struct Work {
  Table rowPass, columnPass;  // periods of the row length and of the column length
  double* column;  // 4 x rows values: input re, im, output re, im
};

csys_status allocateWork(int32_t rows, int32_t columns, void** block, Work* work) {
  const size_t values = 2 * static_cast<size_t>(rows) + 2 * static_cast<size_t>(columns) + 4 * static_cast<size_t>(rows);
  const csys_status st = csys_memory_alloc_internal(values * sizeof(double), block);
  if (CSYS_FAILED(st)) return st;
  auto* v = static_cast<double*>(*block);
  fillTable(v, v + columns, columns);
  fillTable(v + 2 * columns, v + 2 * columns + rows, rows);
  *work = Work{Table{v, v + columns, columns}, Table{v + 2 * columns, v + 2 * columns + rows, rows}, v + 2 * columns + 2 * rows};
  return 0;
}

// Row transforms of every row, then the column transforms of the chosen columns at the chosen
// vertical frequencies (all of them for the full transform): re, im are rows x columns.
struct Limits {
  int32_t columns;      // first and last this many columns; >= half the width means all
  int32_t frequencies;  // vertical frequencies 0 .. f-1 and rows-f .. rows-1
};

bool inLimit(int32_t index, int32_t size, int32_t limit) { return 2 * int64_t{limit} >= size || index < limit || index >= size - limit; }

csys_status transform2D(const uint8_t* source, int32_t stride, int32_t rows, int32_t columns, double* re, double* im,
                        Limits limits, const Work& work) {
  for (int32_t y = 0; y < rows; ++y) {
    dftReal(source + ptrdiff_t{y} * stride, re + ptrdiff_t{y} * columns, im + ptrdiff_t{y} * columns, work.rowPass);
  }
  double* inRe = work.column;
  double* inIm = inRe + rows;
  double* outRe = inIm + rows;
  double* outIm = outRe + rows;
  for (int32_t x = 0; x < columns; ++x) {
    const csys_status st = csys_attention_check();
    if (CSYS_FAILED(st)) return st;
    const bool wanted = inLimit(x, columns, limits.columns);
    for (int32_t y = 0; y < rows; ++y) {
      inRe[y] = re[ptrdiff_t{y} * columns + x];
      inIm[y] = im[ptrdiff_t{y} * columns + x];
    }
    for (int32_t v = 0; v < rows; ++v) {
      if (wanted && inLimit(v, rows, limits.frequencies)) dftComplexAt(inRe, inIm, 1, v, work.columnPass, outRe + v, outIm + v);
      else outRe[v] = outIm[v] = 0;
    }
    for (int32_t v = 0; v < rows; ++v) re[ptrdiff_t{v} * columns + x] = outRe[v], im[ptrdiff_t{v} * columns + x] = outIm[v];
  }
  return 0;
}

bool validSizes(int32_t stride, int32_t rows, int32_t columns) { return rows >= 1 && columns >= 1 && stride >= columns; }

// The 2D transform into temporaries re and im (rows x columns each), then emit(re, im).
template <class Emit>
csys_status withTransform(const uint8_t* source, int32_t stride, int32_t rows, int32_t columns, Limits limits,
                          Emit emit) {
  csys::CleanupList cleanup;
  void* workBlock = nullptr;
  Work work{};
  csys_status st = allocateWork(rows, columns, &workBlock, &work);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&workBlock);
  void* planes = nullptr;
  const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(columns);
  st = csys_memory_alloc_internal(2 * count * sizeof(double), &planes);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&planes);
  double* re = static_cast<double*>(planes);
  double* im = re + count;
  st = transform2D(source, stride, rows, columns, re, im, limits, work);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  emit(static_cast<const double*>(re), static_cast<const double*>(im));
  return cleanup.exit(0);
}

void writeAmplitude(const double* re, const double* im, int32_t rows, int32_t columns, double* out, ptrdiff_t stride) {
  for (int32_t y = 0; y < rows; ++y) {
    const ptrdiff_t a = ptrdiff_t{y} * columns;
    for (int32_t x = 0; x < columns; ++x) out[y * stride + x] = std::sqrt(re[a + x] * re[a + x] + im[a + x] * im[a + x]);
  }
}

csys_status imageSpectrum(const cimg_imageConst* source, cimg_imageDouble* spectrum, bool create, Limits limits) {
  CSYS_REQUIRE(source != nullptr && spectrum != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  const cimg_windowConst& in = source->window;
  if (in.width < 1 || in.height < 1) return cidut_errBadArgument;
  csys::CleanupList cleanup;
  cimg_windowDouble out{};
  bool fresh = false;
  csys_status st = spectra::bindOutput(spectrum, in.width, in.height, create, source->clientFromImage, cleanup, &out, &fresh);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (!fresh && spectra::overlaps(spectra::bytesOf(in), spectra::bytesOf(out))) return cleanup.exit(cidut_errBuffersOverlap);
  st = withTransform(in.pixels, in.stride, in.height, in.width, limits, [&](const double* re, const double* im) {
    writeAmplitude(re, im, in.height, in.width, out.pixels, out.stride);
  });
  return cleanup.exit(st);
}

constexpr Limits kFull{INT32_MAX, INT32_MAX};

}  // namespace

extern "C" {

csys_status cfRowDFT(const uint8_t* samples, double* re, double* im, int32_t n) {
  CSYS_REQUIRE(samples != nullptr || n == 0);
  if (n < 0) return cidut_errBadArgument;
  if (n == 0 || (re == nullptr && im == nullptr)) return 0;
  csys::CleanupList cleanup;
  void* block = nullptr;
  csys_status st = csys_memory_alloc_internal(2 * static_cast<size_t>(n) * sizeof(double), &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  auto* table = static_cast<double*>(block);
  fillTable(table, table + n, n);
  dftReal(samples, re, im, Table{table, table + n, n});
  return cleanup.exit(0);
}

csys_status cf2DDFT(const uint8_t* source, int32_t stride, int32_t rows, int32_t columns, double* re, double* im) {
  CSYS_REQUIRE(source != nullptr && re != nullptr && im != nullptr);
  if (!validSizes(stride, rows, columns)) return cidut_errBadArgument;
  const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(columns);
  return withTransform(source, stride, rows, columns, kFull, [&](const double* r, const double* i) {
    for (size_t k = 0; k < count; ++k) {
      re[k] = r[k];
      im[k] = i[k];
    }
  });
}

csys_status cf2DPowerSpectrum(const uint8_t* source, int32_t stride, int32_t rows, int32_t columns, double* spectrum,
                              int32_t spectrumStride) {
  CSYS_REQUIRE(source != nullptr && spectrum != nullptr);
  if (!validSizes(stride, rows, columns) || spectrumStride < columns) return cidut_errBadArgument;
  return withTransform(source, stride, rows, columns, kFull, [&](const double* re, const double* im) {
    writeAmplitude(re, im, rows, columns, spectrum, spectrumStride);
  });
}

csys_status cfPelPowerSpectrum(const cimg_imageConst* source, cimg_imageDouble* spectrum) {
  return imageSpectrum(source, spectrum, false, kFull);
}

csys_status cfPowerSpectrum(const cimg_imageConst* source, cimg_imageDouble* spectrum) {
  return imageSpectrum(source, spectrum, true, kFull);
}

csys_status cfLimitedPelPowerSpectrum(const cimg_imageConst* source, int32_t columnLimit, int32_t frequencyLimit,
                                      cimg_imageDouble* spectrum) {
  CSYS_REQUIRE(source != nullptr && spectrum != nullptr);
  if (columnLimit < 0 || frequencyLimit < 0) return cidut_errBadArgument;
  return imageSpectrum(source, spectrum, false, Limits{columnLimit, frequencyLimit});
}

}  // extern "C"
