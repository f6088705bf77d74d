// Spectrum display helpers: the quadrant shift and the 8-bit view.
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/csys_cleanup.hpp"
#include "ci_id/spectra.h"
#include "spectra_support.hpp"

namespace {

// Row y of the source lands on row (y + h/2) mod h; within a row, [0, w - w/2) moves to
// [w/2, w) and the rest to the front: two block copies a row.
void shiftRows(const cimg_windowDouble& in, const cimg_windowDouble& out) {
  const int w = in.width, h = in.height, dx = w / 2, dy = h / 2;
  for (int y = 0; y < h; ++y) {
    const double* src = in.pixels + ptrdiff_t{y} * in.stride;
    double* dst = out.pixels + ptrdiff_t{(y + dy) % h} * out.stride;
    std::copy(src, src + (w - dx), dst + dx);
    std::copy(src + (w - dx), src + w, dst);
  }
}

}  // namespace

extern "C" {

csys_status cfFFTShift(const cimg_imageDouble* spectrum, cimg_imageDouble* output) {
  CSYS_REQUIRE(spectrum != nullptr && output != nullptr);
  if (!cimg_imageDouble_isBound(spectrum)) return csys_errImageUnbound;
  const cimg_windowDouble& in = spectrum->window;
  csys::CleanupList cleanup;
  cimg_windowDouble out{};
  bool fresh = false;
  csys_status st = spectra::bindOutput(output, in.width, in.height, true, spectrum->clientFromImage, cleanup, &out, &fresh);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (!fresh && spectra::overlaps(spectra::bytesOf(in), spectra::bytesOf(out))) return cleanup.exit(cidut_errBuffersOverlap);
  shiftRows(in, out);
  return cleanup.exit(0);
}

csys_status cfPowerSpectrumShift(const cimg_imageDouble* spectrum, cimg_imageDouble* output) {
  return cfFFTShift(spectrum, output);
}

csys_status cfViewableFFT(const cimg_imageDouble* spectrum, cimg_image* output) {
  CSYS_REQUIRE(spectrum != nullptr && output != nullptr);
  if (!cimg_imageDouble_isBound(spectrum)) return csys_errImageUnbound;
  const cimg_windowDouble& in = spectrum->window;
  csys::CleanupList cleanup;
  cimg_window out{};
  bool fresh = false;
  csys_status st = spectra::bindOutput(output, in.width, in.height, true, spectrum->clientFromImage, cleanup, &out, &fresh);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (!fresh && spectra::overlaps(spectra::bytesOf(in), spectra::bytesOf(out))) return cleanup.exit(cidut_errBuffersOverlap);
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (int y = 0; y < in.height; ++y) {
    const double* row = in.pixels + ptrdiff_t{y} * in.stride;
    for (int x = 0; x < in.width; ++x) {
      if (!std::isfinite(row[x])) continue;
      lo = std::min(lo, row[x]);
      hi = std::max(hi, row[x]);
    }
  }
  // A constant spectrum has no scale: it shows as black. The product comes before the division
  // so that the maximum maps to 255 exactly.
  const double range = hi > lo ? hi - lo : 0.0;
  for (int y = 0; y < in.height; ++y) {
    const double* row = in.pixels + ptrdiff_t{y} * in.stride;
    uint8_t* dst = out.pixels + ptrdiff_t{y} * out.stride;
    for (int x = 0; x < in.width; ++x) {
      const double v = row[x];
      // The maximum is set apart: (hi - lo) * 255 / (hi - lo) may round to just below 255.
      if (std::isfinite(v)) dst[x] = range > 0 ? (v == hi ? 255 : static_cast<uint8_t>(std::min(255.0, (v - lo) * 255.0 / range))) : 0;
      else dst[x] = v > 0 ? 255 : 0;
    }
  }
  return cleanup.exit(0);
}

}  // extern "C"
