// Hysteresis thresholding by run flooding over a padded copy of the magnitude image.
#include <cstring>

#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "ci_id/edge.h"

namespace {

struct FloodEntry {
  uint8_t* source;  // in the padded copy; set to the background once pushed (visited)
  uint8_t* result;
};

struct Flood {
  FloodEntry* stack;
  int64_t capacity, size;
  ptrdiff_t stride;  // the same for the padded copy and the result
  int32_t width;
  uint8_t low, high, background, edge;
  uint32_t count;

  bool push(uint8_t* s, uint8_t* r) {
    if (size >= capacity) return false;
    *s = background;
    stack[size++] = FloodEntry{s, r};
    return true;
  }

  // Follows the weak neighbours above and below one end of a run.
  bool pushNeighbours(uint8_t* s, uint8_t* r) {
    const ptrdiff_t offsets[6] = {-stride - 1, -stride, -stride + 1, stride + 1, stride, stride - 1};
    for (ptrdiff_t o : offsets) {
      const uint8_t v = s[o];
      if (v >= low && v < high && !push(s + o, r + o)) return false;
    }
    return true;
  }

  // Drains the stack: each entry fills its horizontal run and looks up and down at its ends.
  bool drain() {
    while (size > 0) {
      const FloodEntry e = stack[--size];
      if (*e.result == background) {
        *e.result = edge;
        ++count;
      }
      int32_t right = 0, left = 0;
      for (int32_t k = 1; k < width && e.source[k] >= low; ++k) {
        e.source[k] = background;
        e.result[k] = edge;
        ++count;
        right = k;
      }
      for (int32_t k = 1; k < width && e.source[-k] >= low; ++k) {
        e.source[-k] = background;
        e.result[-k] = edge;
        ++count;
        left = -k;
      }
      if (!pushNeighbours(e.source + right, e.result + right)) return false;
      if (left != right && !pushNeighbours(e.source + left, e.result + left)) return false;
    }
    return true;
  }
};

// The largest of 16 bytes, written so that it becomes a few vector instructions.
inline uint8_t blockMax16(const uint8_t* p) {
  uint8_t m = 0;
  for (int k = 0; k < 16; ++k) m = p[k] > m ? p[k] : m;
  return m;
}

uint8_t middleValue(uint8_t background, uint8_t edge) {
  if (background != 0 && edge != 0) return 0;
  if (background != 1 && edge != 1) return 1;
  return 2;
}

}  // namespace

csys_status cip_edge_hysteresisThreshold(const cimg_imageConst* source, cimg_image* destination, uint8_t low,
                                         uint8_t high, uint32_t* count, int32_t maxStack, uint8_t background,
                                         uint8_t edgeValue, int32_t connect) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr);
  if (!cimg_imageConst_isBound(source)) return cidut_errImageUnbound;
  if (low > high || (connect && background >= low)) return cidut_errBadArgument;
  const cimg_windowConst& w = source->window;
  const bool bound = cimg_image_isBound(destination);
  if (bound && (destination->window.width != w.width || destination->window.height != w.height))
    return cidut_errBadArgument;
  if (bound) {
    csys_status st = cip_pelfunc_checkMemoryOverlap(source, destination);
    if (CSYS_FAILED(st)) return st;
  }
  if (w.width <= 0 || w.height <= 0) {
    if (count) *count = 0;
    return 0;
  }
  csys::CleanupList cleanup;
  cimg_image padded, result;
  cimg_image_constructUnbound(&padded);
  cleanup.destructAlways<cimg_image_destruct>(&padded);
  cimg_image_constructUnbound(&result);
  cleanup.destructAlways<cimg_image_destruct>(&result);
  csys_status st = cimg_image_assignNew(&padded, w.width + 2, w.height + 2);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (CSYS_FAILED(st = cimg_image_assignNew(&result, w.width + 2, w.height + 2))) return cleanup.exit(st);
  cip_pelSet8(&padded, background);
  cip_pelSet8(&result, background);
  const ptrdiff_t stride = padded.window.stride;
  uint8_t* s0 = padded.window.pixels + stride + 1;  // the source window's first pixel
  uint8_t* r0 = result.window.pixels + stride + 1;
  for (int32_t y = 0; y < w.height; ++y)
    std::memcpy(s0 + y * stride, w.pixels + static_cast<ptrdiff_t>(y) * w.stride, static_cast<size_t>(w.width));

  uint32_t edges = 0;
  FloodEntry* stack = nullptr;  // registered below; must outlive the branch that makes it
  if (!connect) {
    uint8_t map[256];
    const uint8_t middle = middleValue(background, edgeValue);
    for (int v = 0; v < 256; ++v) map[v] = v < low ? background : (v < high ? middle : edgeValue);
    for (int32_t y = 0; y < w.height; ++y)
      for (int32_t x = 0; x < w.width; ++x) {
        const uint8_t v = map[s0[y * stride + x]];
        r0[y * stride + x] = v;
        edges += v == edgeValue;
      }
  } else {
    const int64_t pixels = static_cast<int64_t>(w.width) * w.height;
    const int64_t capacity = maxStack < 0 ? pixels : (maxStack < pixels ? maxStack : pixels);
    st = csys_memory_alloc_internal(static_cast<size_t>(capacity > 0 ? capacity : 1) * sizeof(FloodEntry),
                                    reinterpret_cast<void**>(&stack));
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    cleanup.freeAlways(&stack);
    Flood flood{stack, capacity, 0, stride, w.width, low, high, background, edgeValue, 0};
    for (int32_t y = 0; y < w.height; ++y) {
      if ((y & 31) == 0 && CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
      uint8_t* srow = s0 + y * stride;
      uint8_t* rrow = r0 + y * stride;
      const int32_t width = w.width;  // locals: the flood's byte stores could alias them
      const uint8_t seed = high;
      for (int32_t x = 0; x < width; ++x) {
        if (x + 16 <= width && blockMax16(srow + x) < seed) {
          x += 15;  // seeds are rare: skip blocks without one
          continue;
        }
        if (srow[x] < seed) continue;
        if (!flood.push(srow + x, rrow + x) || !flood.drain()) return cleanup.exit(cidut_errNoMemory);
      }
    }
    edges = flood.count;
  }
  const cstd_rect32 inner{1, 1, w.width, w.height};
  cimg_image_window(&result, &inner);
  cimg_image_setWindowOffset(&result, w.x0, w.y0);
  result.clientFromImage = source->clientFromImage;
  if (bound) {
    cimg_imageConst view;
    cimg_imageConst_constructFromImage(&view, &result);
    st = cip_pelCopy8(&view, destination);
    cimg_imageConst_destruct(&view);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
  } else {
    cimg_image_assign(destination, &result);
  }
  if (count) *count = edges;
  return cleanup.exit(0);
}
