// Separable fixed-point Gaussian with subsampling, and the box low-pass filter.
//
// The Gaussian runs a row pass into 16-bit rows (8 fraction bits of kernel, exact: the taps sum
// to 256 and pixels are at most 255) kept in a ring of 2 sizeY + 1 rows, then a column pass with
// 15-bit taps into 32-bit sums (at most 65280 * 32768 < 2^31). Borders replicate the window's
// edge pixels: rows through a padded copy, columns by clamping the row index.
#include "base/cip_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/csys_cleanup.hpp"
#include "cip_output.hpp"
#include "wide_lanes.hpp"

const cip_gaussParams csGaussParamsNull = {0, 0, 1, 1, 0.0, 0.0};
const cip_plpfParams csPlpfParamsNull = {0, 1, 0, 0, 1.0f};

namespace {

constexpr int kMaxTaps = 2 * CIP_GAUSS_MAX_SIZE + 1;

// Taps w[0 .. 2n] summing exactly to 2^bits; the rounding remainder goes to the centre tap.
void makeKernel(int32_t n, double sigma, int bits, int32_t* w) {
  if (!(sigma > 0)) sigma = 0.5 + n / 3.0;
  double f[kMaxTaps], sum = 0;
  for (int k = -n; k <= n; ++k) sum += f[k + n] = std::exp(-0.5 * k * k / (sigma * sigma));
  const int32_t total = 1 << bits;
  int32_t given = 0;
  for (int k = 0; k <= 2 * n; ++k) given += w[k] = static_cast<int32_t>(std::floor(f[k] * total / sum + 0.5));
  w[n] += total - given;
}

bool validGauss(const cip_gaussParams& p) {
  return p.sizeX >= 0 && p.sizeX <= CIP_GAUSS_MAX_SIZE && p.sizeY >= 0 && p.sizeY <= CIP_GAUSS_MAX_SIZE &&
         p.reduceX >= 1 && p.reduceY >= 1 && !std::isnan(p.sigmaX) && !std::isnan(p.sigmaY) &&
         p.sigmaX < 1e6 && p.sigmaY < 1e6;
}

int32_t floorDiv(int32_t a, int32_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Source column (row) that output column (row) i is centred on.
inline int32_t centreOf(int32_t i, int32_t reduce, int32_t size) {
  return std::min(i * reduce + (reduce - 1) / 2, size - 1);
}

struct GaussWork {
  const cimg_windowConst* in;
  int32_t nx, ny, rx, ry, outW;
  int32_t wx[kMaxTaps], wy[kMaxTaps];
  uint8_t* pad;        // one source row with nx replicated pixels on each side
  uint16_t* ring;      // 2 ny + 1 row-pass results
  uint32_t* acc;       // column sums of one output row
};

// Both passes are built for the baseline and for AVX2 (wide_lanes.hpp): the wider lanes halve
// the time.
IDUT_LANE_BODY void rowPass(const GaussWork& g, int32_t y, uint16_t* __restrict out) {
  const cimg_windowConst& s = *g.in;
  const uint8_t* row = s.pixels + static_cast<ptrdiff_t>(y) * s.stride;
  const int32_t n = g.nx, W = s.width;
  std::memset(g.pad, row[0], static_cast<size_t>(n));
  std::memcpy(g.pad + n, row, static_cast<size_t>(W));
  std::memset(g.pad + n + W, row[W - 1], static_cast<size_t>(n));
  const uint8_t* p = g.pad + n;
  if (g.rx == 1) {
    const uint16_t c = static_cast<uint16_t>(g.wx[n]);
    for (int32_t x = 0; x < W; ++x) out[x] = static_cast<uint16_t>(c * p[x]);
    for (int32_t k = 1; k <= n; ++k) {
      const uint16_t wk = static_cast<uint16_t>(g.wx[n + k]);
      if (wk == 0) continue;
      const uint8_t* __restrict left = p - k;
      const uint8_t* __restrict right = p + k;
      for (int32_t x = 0; x < W; ++x)
        out[x] = static_cast<uint16_t>(out[x] + wk * static_cast<uint16_t>(left[x] + right[x]));
    }
    return;
  }
  for (int32_t i = 0; i < g.outW; ++i) {
    const uint8_t* q = p + centreOf(i, g.rx, W);
    uint32_t sum = 0;
    for (int32_t k = -n; k <= n; ++k) sum += static_cast<uint32_t>(g.wx[n + k]) * q[k];
    out[i] = static_cast<uint16_t>(sum);
  }
}

IDUT_LANE_BODY void gaussRunBody(GaussWork& g, cimg_window& out) {
  const int32_t H = g.in->height, n = g.ny, ringRows = 2 * n + 1, W = g.outW;
  auto ringRow = [&](int32_t y) { return g.ring + static_cast<ptrdiff_t>(y % ringRows) * W; };
  int32_t next = 0;  // first source row not yet through the row pass
  for (int32_t j = 0; j < out.height; ++j) {
    const int32_t cy = centreOf(j, g.ry, H);
    next = std::max(next, std::max(cy - n, 0));
    for (; next <= std::min(H - 1, cy + n); ++next) rowPass(g, next, ringRow(next));
    const uint16_t* __restrict centre = ringRow(cy);
    uint32_t* __restrict acc = g.acc;
    const uint32_t c = static_cast<uint32_t>(g.wy[n]);
    for (int32_t x = 0; x < W; ++x) acc[x] = c * centre[x];
    for (int32_t k = 1; k <= n; ++k) {
      const uint32_t wk = static_cast<uint32_t>(g.wy[n + k]);
      if (wk == 0) continue;
      const uint16_t* __restrict up = ringRow(std::max(cy - k, 0));
      const uint16_t* __restrict down = ringRow(std::min(cy + k, H - 1));
      for (int32_t x = 0; x < W; ++x) acc[x] += wk * (static_cast<uint32_t>(up[x]) + down[x]);
    }
    uint8_t* __restrict dst = out.pixels + static_cast<ptrdiff_t>(j) * out.stride;
    for (int32_t x = 0; x < W; ++x) dst[x] = static_cast<uint8_t>((acc[x] + (1u << 22)) >> 23);
  }
}

void gaussRunBaseline(GaussWork& g, cimg_window& out) { gaussRunBody(g, out); }
IDUT_WIDE_TARGET void gaussRunWide(GaussWork& g, cimg_window& out) { gaussRunBody(g, out); }

void gaussRun(GaussWork& g, cimg_window& out) {
  static const auto build = idut_lanes::pick(&gaussRunBaseline, &gaussRunWide);
  build(g, out);
}

// ---- box low-pass --------------------------------------------------------------------------

struct BoxWork {
  int32_t* colSum;  // W + 2 s column sums (replicated ends)
};

// One box-mean pass from `in` (W x H) into `mean`.
void boxPass(const uint8_t* in, ptrdiff_t inStride, uint8_t* mean, ptrdiff_t meanStride, int32_t W, int32_t H,
             int32_t s, int32_t* colSum) {
  const int32_t side = 2 * s + 1, area = side * side;
  auto rowAt = [&](int32_t y) { return in + static_cast<ptrdiff_t>(std::clamp(y, 0, H - 1)) * inStride; };
  for (int32_t x = 0; x < W; ++x) colSum[x] = 0;
  for (int32_t dy = -s; dy <= s; ++dy) {
    const uint8_t* r = rowAt(dy);
    for (int32_t x = 0; x < W; ++x) colSum[x] += r[x];
  }
  for (int32_t y = 0; y < H; ++y) {
    int32_t sum = 0;
    for (int32_t dx = -s; dx <= s; ++dx) sum += colSum[std::clamp(dx, 0, W - 1)];
    uint8_t* out = mean + static_cast<ptrdiff_t>(y) * meanStride;
    for (int32_t x = 0; x < W; ++x) {
      out[x] = static_cast<uint8_t>((sum + area / 2) / area);
      sum += colSum[std::min(x + s + 1, W - 1)] - colSum[std::max(x - s, 0)];
    }
    if (y + 1 < H) {
      const uint8_t* leaving = rowAt(y - s);
      const uint8_t* entering = rowAt(y + s + 1);
      for (int32_t x = 0; x < W; ++x) colSum[x] += entering[x] - leaving[x];
    }
  }
}

bool validPlpf(const cip_plpfParams& p) {
  return p.size >= 0 && p.size <= CIP_PLPF_MAX_SIZE && p.passes >= 1 && p.passes <= 3 && std::isfinite(p.factor);
}

csys_status plpfRun(const cimg_windowConst& s, cimg_window& out, const cip_plpfParams& p) {
  const int32_t W = s.width, H = s.height;
  csys::CleanupList cleanup;
  void* block = nullptr;
  const size_t plane = (static_cast<size_t>(W) * H + 7) & ~size_t{7};  // column sums stay aligned
  csys_status st = csys_memory_alloc_internal(2 * plane + sizeof(int32_t) * W, &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  uint8_t* a = static_cast<uint8_t*>(block);
  uint8_t* b = a + plane;
  auto* colSum = reinterpret_cast<int32_t*>(b + plane);
  const uint8_t* in = s.pixels;
  ptrdiff_t inStride = s.stride;
  for (int32_t pass = 0; pass < p.passes; ++pass) {
    uint8_t* dst = pass % 2 == 0 ? a : b;
    boxPass(in, inStride, dst, W, W, H, p.size, colSum);
    in = dst;
    inStride = W;
  }
  const double f = p.factor;
  for (int32_t y = 0; y < H; ++y) {
    const uint8_t* src = s.pixels + static_cast<ptrdiff_t>(y) * s.stride;
    const uint8_t* m = in + static_cast<ptrdiff_t>(y) * W;
    uint8_t* dst = out.pixels + static_cast<ptrdiff_t>(y) * out.stride;
    for (int32_t x = 0; x < W; ++x) {
      if (p.mask) {
        dst[x] = std::abs(src[x] - m[x]) >= p.threshold ? 255 : 0;
      } else {
        const double v = std::floor(src[x] + f * (m[x] - src[x]) + 0.5);
        dst[x] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
  return cleanup.exit(0);
}

template <class Params, class Run>
csys_status filterFrame(const cimg_imageConst* source, cimg_image* destination, const cstd_rect32& region,
                        const cmath_xformLinear* clientFromOut, Run run) {
  csys::CleanupList cleanup;
  cimg_image out;
  bool fresh = false;
  csys_status st = cip::prepareOutput(source, destination, region, &out, &fresh);
  cleanup.destructAlways<cimg_image_destruct>(&out);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  st = run(out.window);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  if (fresh) {
    if (clientFromOut != nullptr) cimg_image_setLinearClientFromImageXform(&out, clientFromOut);
    cimg_image_assign(destination, &out);
  }
  return cleanup.exit(0);
}

}  // namespace

csys_status cip_gaussParams_init(cip_gaussParams* params) {
  CSYS_REQUIRE(params != nullptr);
  *params = cip_gaussParams{1, 1, 1, 1, 0.0, 0.0};
  return 0;
}

csys_status cfGaussGetDstReg(const cstd_rect32* sourceRect, const cip_gaussParams* params, cstd_rect32* dst) {
  CSYS_REQUIRE(sourceRect != nullptr && params != nullptr && dst != nullptr);
  if (!validGauss(*params) || sourceRect->width < 0 || sourceRect->height < 0) return csys_errBadArgument;
  const int32_t rx = params->reduceX, ry = params->reduceY;
  *dst = cstd_rect32{floorDiv(sourceRect->x, rx), floorDiv(sourceRect->y, ry),
                     static_cast<int32_t>((static_cast<int64_t>(sourceRect->width) + rx - 1) / rx),
                     static_cast<int32_t>((static_cast<int64_t>(sourceRect->height) + ry - 1) / ry)};
  return 0;
}

csys_status cip_gauss(const cimg_imageConst* source, cimg_image* destination, const cip_gaussParams* params) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr && params != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  cstd_rect32 sourceRect, region;
  cimg_imageConst_getWindowRect(source, &sourceRect);
  csys_status st = cfGaussGetDstReg(&sourceRect, params, &region);
  if (CSYS_FAILED(st)) return st;
  if (region.width == 0 || region.height == 0) return 0;
  const cip_gaussParams p = *params;
  // Output pixel (i, j) covers source pixels [i rx, (i + 1) rx): client = source client of
  // (x rx, y ry) in the output's image coordinates, relative to the two origins.
  cmath_xformLinear scale;
  const cmath_matrix m{static_cast<double>(p.reduceX), 0, 0, static_cast<double>(p.reduceY)};
  const cmath_vect t{static_cast<double>(sourceRect.x) - static_cast<double>(region.x) * p.reduceX,
                     static_cast<double>(sourceRect.y) - static_cast<double>(region.y) * p.reduceY};
  cmath_xformLinear_initMatrixTrans(&scale, &m, &t);
  cmath_xformLinear clientFromOut;
  cmath_xformLinear_compose(&source->clientFromImage, &scale, &clientFromOut);
  return filterFrame<cip_gaussParams>(source, destination, region, &clientFromOut, [&](cimg_window& out) {
    const cimg_windowConst& s = source->window;
    const int32_t ringRows = 2 * p.sizeY + 1;
    const size_t bytes = static_cast<size_t>(s.width) + 2 * p.sizeX + 64 +
                         sizeof(uint16_t) * static_cast<size_t>(ringRows) * region.width + 64 +
                         sizeof(uint32_t) * static_cast<size_t>(region.width);
    csys::CleanupList cleanup;
    void* block = nullptr;
    csys_status rs = csys_memory_allocFastMem_internal(bytes, &block);
    if (CSYS_FAILED(rs)) return cleanup.exit(rs);
    cleanup.freeAlways(&block);
    GaussWork g{};
    g.in = &s;
    g.nx = p.sizeX;
    g.ny = p.sizeY;
    g.rx = p.reduceX;
    g.ry = p.reduceY;
    g.outW = region.width;
    makeKernel(p.sizeX, p.sigmaX, 8, g.wx);
    makeKernel(p.sizeY, p.sigmaY, 15, g.wy);
    auto* bytesAt = static_cast<uint8_t*>(block);
    const size_t padBytes = (static_cast<size_t>(s.width) + 2 * p.sizeX + 63) & ~size_t{63};
    const size_t ringBytes = (sizeof(uint16_t) * static_cast<size_t>(ringRows) * region.width + 63) & ~size_t{63};
    g.pad = bytesAt;
    g.ring = reinterpret_cast<uint16_t*>(bytesAt + padBytes);
    g.acc = reinterpret_cast<uint32_t*>(bytesAt + padBytes + ringBytes);
    gaussRun(g, out);
    return cleanup.exit(0);
  });
}

csys_status cip_gauss_smooth8_8(const cimg_imageConst* source, cimg_image* destination,
                                const cip_gaussParams* params) {
  return cip_gauss(source, destination, params);
}

csys_status cfPlpfComputeDstReg(const cstd_rect32* sourceRect, const cip_plpfParams* params, cstd_rect32* dst) {
  CSYS_REQUIRE(sourceRect != nullptr && params != nullptr && dst != nullptr);
  if (!validPlpf(*params) || sourceRect->width < 0 || sourceRect->height < 0) return csys_errBadArgument;
  *dst = *sourceRect;
  return 0;
}

csys_status cip_plpf(const cimg_imageConst* source, cimg_image* destination, const cip_plpfParams* params) {
  CSYS_REQUIRE(source != nullptr && destination != nullptr && params != nullptr);
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  cstd_rect32 sourceRect, region;
  cimg_imageConst_getWindowRect(source, &sourceRect);
  csys_status st = cfPlpfComputeDstReg(&sourceRect, params, &region);
  if (CSYS_FAILED(st)) return st;
  if (region.width == 0 || region.height == 0) return 0;
  const cip_plpfParams p = *params;
  return filterFrame<cip_plpfParams>(source, destination, region, nullptr,
                                     [&](cimg_window& out) { return plpfRun(source->window, out, p); });
}
