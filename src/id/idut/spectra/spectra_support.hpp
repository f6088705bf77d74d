// Helpers shared by the spectral routines: output images bound on demand, and the byte ranges
// of windows for the overlap checks.
#ifndef IDUT_SPECTRA_SUPPORT_HPP
#define IDUT_SPECTRA_SUPPORT_HPP

#include <cstddef>
#include <cstdint>

#include "base/csys_cleanup.hpp"
#include "ci_id/spectra.h"

namespace spectra {

// Bytes [begin, end) that a window's rows span; empty for an empty window.
struct ByteRange {
  const char* begin = nullptr;
  const char* end = nullptr;
};

template <class Window>
ByteRange bytesOf(const Window& w) {
  if (w.pixels == nullptr || w.width <= 0 || w.height <= 0) return {};
  const size_t pixel = sizeof(*w.pixels);
  const char* begin = reinterpret_cast<const char*>(w.pixels);
  // 8-bit windows count their stride in bytes, wide ones in pixels: both are pixel strides here.
  const size_t span = (static_cast<size_t>(w.height - 1) * static_cast<size_t>(w.stride) + static_cast<size_t>(w.width));
  return {begin, begin + span * pixel};
}

inline bool overlaps(ByteRange a, ByteRange b) {
  return a.begin != nullptr && b.begin != nullptr && a.begin < b.end && b.begin < a.end;
}

// Where a result of width x height goes: a bound output's window (which must be at least that
// large), or new pixels bound to an unbound output when create is set (registered so that a
// failure unbinds them again, with the transform copied from the source). `fresh` tells the
// caller whether the pixels are new (no overlap with the source possible then).
template <class Image, class Window>
csys_status bindOutput(Image* output, int32_t width, int32_t height, bool create, const cmath_xformLinear& xform,
                       csys::CleanupList& cleanup, Window* target, bool* fresh);

template <>
inline csys_status bindOutput(cimg_imageDouble* output, int32_t width, int32_t height, bool create,
                              const cmath_xformLinear& xform, csys::CleanupList& cleanup, cimg_windowDouble* target,
                              bool* fresh) {
  *fresh = false;
  if (!cimg_imageDouble_isBound(output)) {
    if (!create) return csys_errImageUnbound;
    const csys_status st = cimg_imageDouble_construct(output, width, height);
    if (CSYS_FAILED(st)) return st;
    cleanup.destructOnFailure<cimg_imageDouble_destruct>(output);
    output->clientFromImage = xform;
    *fresh = true;
  } else if (output->window.width < width || output->window.height < height) {
    return cidut_errBadArgument;
  }
  *target = output->window;
  return 0;
}

template <>
inline csys_status bindOutput(cimg_imageInt32* output, int32_t width, int32_t height, bool create,
                              const cmath_xformLinear& xform, csys::CleanupList& cleanup, cimg_windowInt32* target,
                              bool* fresh) {
  *fresh = false;
  if (!cimg_imageInt32_isBound(output)) {
    if (!create) return csys_errImageUnbound;
    const csys_status st = cimg_imageInt32_construct(output, width, height);
    if (CSYS_FAILED(st)) return st;
    cleanup.destructOnFailure<cimg_imageInt32_destruct>(output);
    output->clientFromImage = xform;
    *fresh = true;
  } else if (output->window.width < width || output->window.height < height) {
    return cidut_errBadArgument;
  }
  *target = output->window;
  return 0;
}

template <>
inline csys_status bindOutput(cimg_image* output, int32_t width, int32_t height, bool create,
                              const cmath_xformLinear& xform, csys::CleanupList& cleanup, cimg_window* target,
                              bool* fresh) {
  *fresh = false;
  if (!cimg_image_isBound(output)) {
    if (!create) return csys_errImageUnbound;
    const csys_status st = cimg_image_construct(output, width, height);
    if (CSYS_FAILED(st)) return st;
    cleanup.destructOnFailure<cimg_image_destruct>(output);
    output->clientFromImage = xform;
    *fresh = true;
  } else if (output->window.width < width || output->window.height < height) {
    return cidut_errBadArgument;
  }
  *target = output->window;
  return 0;
}

}  // namespace spectra

#endif
