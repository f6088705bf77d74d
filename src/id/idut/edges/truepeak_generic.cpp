// The generic true-peak operator: a fixed-point Sobel gradient whose magnitude and angle come
// from a three-step shift-and-add rotation and a 128-entry angle table, then non-maximum
// suppression by direction sector, all over three-row rings.
#include <cstdint>
#include <cstdlib>

#include "base/cip_pel.h"
#include "base/csys_cleanup.hpp"
#include "ci_id/edge.h"

namespace truepeak {

namespace {

// Angle (256 units per turn) of each rotation code: the octant bits, then the signs of the
// residual after each rotation step.
constexpr uint8_t kAngle[128] = {
    32,  32,  34,  32,  44,  41,  36,  39,  63,  61,  56,  59,  46,  49,  54,  51,  32,  32,  30,  32,  20,  23,
    28,  25,  1,   3,   8,   5,   18,  15,  10,  13,  96,  96,  94,  96,  84,  87,  92,  89,  65,  67,  72,  69,
    82,  79,  74,  77,  96,  96,  98,  96,  108, 105, 100, 103, 127, 125, 120, 123, 110, 113, 118, 115, 224, 224,
    222, 224, 212, 215, 220, 217, 193, 195, 200, 197, 210, 207, 202, 205, 224, 224, 226, 224, 236, 233, 228, 231,
    255, 253, 248, 251, 238, 241, 246, 243, 160, 160, 162, 160, 172, 169, 164, 167, 191, 189, 184, 187, 174, 177,
    182, 179, 160, 160, 158, 160, 148, 151, 156, 153, 129, 131, 136, 133, 146, 143, 138, 141};

constexpr int kStep[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
constexpr uint32_t kScale = 440;  // truncate(2^9 / 1.1614), 1.1614 being the rotation's gain

struct Rings {
  uint8_t* magnitude;  // 3 rows of rowBytes
  uint8_t* angle;
  int32_t rowBytes;
  uint32_t random = 1;  // 15-bit generator for the angles of flat pixels
  uint8_t* mag(int32_t y) const { return magnitude + (y % 3) * rowBytes; }
  uint8_t* ang(int32_t y) const { return angle + (y % 3) * rowBytes; }
};

// Magnitude byte and angle code of one gradient by the shift-and-add rotation.
void rotate(int32_t gx, int32_t gy, uint8_t* magnitude, uint32_t* code) {
  uint32_t c = 1;
  if (gy < 0) c |= 4;
  if (gx < 0) c |= 2;
  int32_t x = std::abs(gx), y = std::abs(gy);
  if (x < y) {
    const int32_t t = x;
    x = y;
    y = t;
    c &= ~1u;
  }
  for (int k = 1; k <= 3; ++k) {
    const int32_t nx = x + (y >> k), ny = y - (x >> k);
    c = c * 2 + (ny < 0 ? 1 : 0);
    y = std::abs(ny);
    x = nx;
  }
  c = c * 2 + ((y - (x >> 4)) < 0 ? 1 : 0);
  const uint64_t m = static_cast<uint64_t>(x) * kScale * 64;
  *magnitude = m <= 0x3FFFFFFFu ? static_cast<uint8_t>(m >> 22) : 255;
  *code = c;
}

void gradientRow(const cimg_windowConst& w, int32_t y, Rings& r) {
  const uint8_t* a = w.pixels + static_cast<ptrdiff_t>(y - 1) * w.stride;
  const uint8_t* b = a + w.stride;
  const uint8_t* c = b + w.stride;
  uint8_t* mag = r.mag(y);
  uint8_t* ang = r.ang(y);
  // Column sums s and differences t, kept for three consecutive columns.
  int32_t s0 = a[0] + 2 * b[0] + c[0], t0 = c[0] - a[0];
  int32_t s1 = a[1] + 2 * b[1] + c[1], t1 = c[1] - a[1];
  for (int32_t x = 1; x < w.width - 1; ++x) {
    const int32_t s2 = a[x + 1] + 2 * b[x + 1] + c[x + 1], t2 = c[x + 1] - a[x + 1];
    uint8_t m;
    uint32_t code;
    rotate((s2 - s0) * 32, (t0 + 2 * t1 + t2) * 32, &m, &code);
    mag[x] = m;
    if (m < 1) {
      r.random = (r.random * 13821u) & 32767u;
      ang[x] = static_cast<uint8_t>(r.random >> 7);
    } else {
      ang[x] = kAngle[code];
    }
    s0 = s1;
    t0 = t1;
    s1 = s2;
    t1 = t2;
  }
}

inline int sectorOf(uint8_t angle) { return ((angle + 16) >> 5) & 7; }

// Suppression over source row y (third to last but two); peaks go to the destination row y - 1.
uint32_t suppressRow(const Rings& r, int32_t y, int32_t width, uint8_t threshold, uint8_t* out) {
  const uint8_t* mags[3] = {r.mag(y - 1), r.mag(y), r.mag(y + 1)};
  const uint8_t* angs[3] = {r.ang(y - 1), r.ang(y), r.ang(y + 1)};
  uint32_t peaks = 0;
  for (int32_t x = 2; x < width - 2; ++x) {
    const uint8_t m = mags[1][x];
    if (m < threshold) continue;
    const int d = sectorOf(angs[1][x]);
    const int fx = x + kStep[d][0], fy = 1 + kStep[d][1];
    const int bx = x - kStep[d][0], by = 1 - kStep[d][1];
    const int df = std::abs(sectorOf(angs[fy][fx]) - d), db = std::abs(sectorOf(angs[by][bx]) - d);
    const uint8_t p = (df >= 3 && df <= 5) ? 0 : mags[fy][fx];
    const uint8_t q = (db >= 3 && db <= 5) ? 0 : mags[by][bx];
    if (p < m && q <= m) {
      out[x - 1] = m;
      ++peaks;
    }
  }
  return peaks;
}

}  // namespace

// source: the destination's rectangle grown by one pixel; peak: bound, windowed to the rectangle.
csys_status generic(const cimg_imageConst* source, cimg_image* peak, uint8_t threshold, uint32_t* count) {
  const cimg_windowConst& w = source->window;
  csys::CleanupList cleanup;
  const int32_t rowBytes = (w.width / 32 + 1) * 32;
  uint8_t* block = nullptr;
  csys_status st = csys_memory_allocClear_internal(static_cast<size_t>(rowBytes) * 6, reinterpret_cast<void**>(&block));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  Rings rings{block, block + 3 * rowBytes, rowBytes};
  cip_pelSet8(peak, 0);
  uint32_t peaks = 0;
  for (int32_t y = 1; y < w.height - 1; ++y) {
    if ((y & 31) == 0 && CSYS_FAILED(st = csys_attention_check())) return cleanup.exit(st);
    gradientRow(w, y, rings);
    if (y >= 3)
      peaks += suppressRow(rings, y - 1, w.width, threshold,
                           peak->window.pixels + static_cast<ptrdiff_t>(y - 2) * peak->window.stride);
  }
  *count = peaks;
  return cleanup.exit(0);
}

}  // namespace truepeak
