// Separable grey morphology: a row pass and a column pass of running extrema, composed for
// opening and closing.
#include <algorithm>

#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "ci_id/morph.h"
#include "morph_lines.hpp"

namespace {

using morph::Kind;

// Work buffers for every pass of one call.
struct Work {
  morph::RowWork rows;      // fast path
  uint8_t* line = nullptr;  // gathered column and its extremum (generic path)
  uint8_t* lineOut = nullptr;
  int32_t* ring = nullptr;
};

csys_status allocateWork(const cimg_windowConst& w, int32_t kernelWidth, int32_t kernelHeight, void** block,
                         Work* work) {
  const size_t fast = (morph::rowWorkBytes(w.width, kernelWidth, kernelHeight) + 63) & ~size_t{63};
  const size_t line = (static_cast<size_t>(w.height) + 63) & ~size_t{63};
  const size_t ring = 2 * static_cast<size_t>(morph::radiusOf(std::max(kernelWidth, kernelHeight))) + 1;
  csys_status st = csys_memory_allocFastMem_internal(fast + 2 * line + ring * sizeof(int32_t), block);
  if (CSYS_FAILED(st)) return st;
  auto* bytes = static_cast<uint8_t*>(*block);
  work->rows = morph::rowWorkAt(bytes, w.width, kernelWidth, kernelHeight);
  work->line = bytes + fast;
  work->lineOut = bytes + fast + line;
  work->ring = reinterpret_cast<int32_t*>(bytes + fast + 2 * line);
  return 0;
}

struct Plane {
  const uint8_t* pixels;
  ptrdiff_t stride;
};

struct PlaneOut {
  uint8_t* pixels;
  ptrdiff_t stride;
};

csys_status fastPass(Kind kind, Plane in, PlaneOut out, int32_t width, int32_t height, int32_t kernelWidth,
                     int32_t kernelHeight, const Work& work) {
  if (cprt_isOptimizationInhibited(kind == Kind::max ? "rowExtremaMax" : "rowExtremaMin"))
    return cidut_errNotOptimized;
  morph::rowPass(kind, in.pixels, in.stride, out.pixels, out.stride, width, height, kernelWidth, kernelHeight,
                 work.rows);
  return 0;
}

csys_status genericPass(Kind kind, Plane in, PlaneOut out, int32_t width, int32_t height, int32_t kernelWidth,
                        int32_t kernelHeight, const Work& work) {
  if (kernelWidth >= 2) {
    for (int32_t y = 0; y < height; ++y)
      morph::queueExtrema(kind, kernelWidth, in.pixels + y * in.stride, out.pixels + y * out.stride, width, work.ring,
                          nullptr);
    in = Plane{out.pixels, out.stride};
  }
  if (kernelHeight >= 2) {
    for (int32_t x = 0; x < width; ++x) {
      for (int32_t y = 0; y < height; ++y) work.line[y] = in.pixels[y * in.stride + x];
      morph::queueExtrema(kind, kernelHeight, work.line, work.lineOut, height, work.ring, nullptr);
      for (int32_t y = 0; y < height; ++y) out.pixels[y * out.stride + x] = work.lineOut[y];
    }
  }
  return 0;
}

csys_status pass(Kind kind, Plane in, PlaneOut out, int32_t width, int32_t height, int32_t kernelWidth,
                 int32_t kernelHeight, const Work& work) {
  csys_status st = fastPass(kind, in, out, width, height, kernelWidth, kernelHeight, work);
  if (CIDUT_IS_NOT_OPTIMIZED(st)) st = genericPass(kind, in, out, width, height, kernelWidth, kernelHeight, work);
  return st;
}

// The image that receives the result: the destination itself under the source window when it
// can, else a new image of the source window's rectangle. *inPlace tells which.
csys_status prepareOutput(const cimg_image8Const* source, const cimg_image* destination, cimg_image* out,
                          bool* inPlace) {
  cstd_rect32 sourceRect, destinationRect;
  cimg_imageConst_getWindowRect(source, &sourceRect);
  cimg_image_getWindowRect(destination, &destinationRect);
  *inPlace = cimg_image_isBound(destination) && cstd_rect32_containsRect(&destinationRect, &sourceRect) &&
             cip_pelfunc_checkMemoryOverlap(source, destination) == 0;
  if (*inPlace) {
    cimg_image_constructCopy(out, destination);
    return cimg_image_window(out, &sourceRect);
  }
  csys_status st = cimg_image_construct(out, sourceRect.width, sourceRect.height);
  if (CSYS_FAILED(st)) return st;
  cimg_image_setWindowOffset(out, sourceRect.x, sourceRect.y);
  return cimg_image_setLinearClientFromImageXform(out, &source->clientFromImage);
}

csys_status runOperation(const cimg_image8Const* source, const cimg_image& out, int32_t operation, int32_t kernelWidth,
                         int32_t kernelHeight) {
  const cimg_windowConst& w = source->window;
  const Plane in{w.pixels, w.stride};
  const PlaneOut result{out.window.pixels, out.window.stride};
  csys::CleanupList cleanup;
  void* block = nullptr;
  Work work;
  csys_status st = allocateWork(w, kernelWidth, kernelHeight, &block, &work);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  if (operation < 2) {
    st = pass(operation == CIDUT_MORPH_MAX ? Kind::max : Kind::min, in, result, w.width, w.height, kernelWidth,
              kernelHeight, work);
    return cleanup.exit(st);
  }
  cimg_image temporary;
  st = cimg_image_construct(&temporary, w.width, w.height);
  cleanup.destructAlways<cimg_image_destruct>(&temporary);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  const Kind first = operation == CIDUT_MORPH_OPEN ? Kind::min : Kind::max;
  const Kind second = first == Kind::min ? Kind::max : Kind::min;
  const PlaneOut middle{temporary.window.pixels, temporary.window.stride};
  st = pass(first, in, middle, w.width, w.height, kernelWidth, kernelHeight, work);
  if (CSYS_SUCCEEDED(st))
    st = pass(second, Plane{middle.pixels, middle.stride}, result, w.width, w.height, kernelWidth, kernelHeight, work);
  return cleanup.exit(st);
}

}  // namespace

extern "C" {

csys_status cidut_morph2d_run(const cimg_image8Const* source, cimg_image* destination, int32_t operation,
                              int32_t kernelWidth, int32_t kernelHeight) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  if (operation < CIDUT_MORPH_MAX || operation > CIDUT_MORPH_CLOSE || kernelWidth < 1 || kernelHeight < 1)
    return cidut_errBadArgument;
  const cimg_windowConst& w = source->window;
  if (w.width == 0 || w.height == 0) return 0;
  csys::CleanupList cleanup;
  cimg_image out;
  bool inPlace = false;
  csys_status st = prepareOutput(source, destination, &out, &inPlace);
  cleanup.destructAlways<cimg_image_destruct>(&out);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  const bool copyOnly =
      w.width < kernelWidth || w.height < kernelHeight || (kernelWidth < 2 && kernelHeight < 2);
  st = copyOnly ? cip_pelCopy8(source, &out) : runOperation(source, out, operation, kernelWidth, kernelHeight);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (!inPlace) cimg_image_assign(destination, &out);
  return cleanup.exit(0);
}

}  // extern "C"
