// The gradient edge detector: Sobel rows in a three-row ring, non-maximum suppression one row
// behind, hysteresis over the suppressed candidates, sub-pixel fits and chains.
#include <algorithm>
#include <cmath>

#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "csedge_impl.hpp"
#include "wide_lanes.hpp"
#include "base/cx.hpp"

namespace {

using csedge::Candidate;
using csedge::angleByte;
template <class T>
using Vec = std::vector<T, csys::Allocator<T>>;

constexpr float kTan22 = 0.41421356f;  // tan(22.5 degrees): sector boundaries
constexpr int kStep[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};

// Written as masks, shifts and blends of comparisons, without branches or products, so that a
// row of it vectorises.
inline uint8_t sectorOf(int gx, int gy) {
  const float ax = static_cast<float>(std::abs(gx)), ay = static_cast<float>(std::abs(gy));
  const int right = gx > 0, left = gx < 0, down = -static_cast<int>(gy > 0);
  const int horizontal = left << 2, vertical = 6 - (down & 4);
  const int diagonal = ((3 - (right << 1)) & down) | ((5 + (right << 1)) & ~down);
  const int h = -static_cast<int>(ay <= kTan22 * ax), v = -static_cast<int>(ax <= kTan22 * ay);
  return static_cast<uint8_t>((horizontal & h) | (~h & ((vertical & v) | (~v & diagonal))));
}

inline uint8_t magnitudeByte(float m) { return m >= 255.0f ? 255 : static_cast<uint8_t>(m); }

// Offset of the peak along the sector step: the mean of a parabola and a Gaussian (log-parabola)
// fit through the three magnitudes. The parabola overshoots towards the middle for wide
// profiles and the Gaussian for narrow ones; their mean stays within 0.02 px of a blurred
// step's true position for blur sigmas 0.5 to 2.
inline float peakOffset(float q, float m, float p) {
  const float den = q - 2 * m + p;
  if (den >= 0) return 0;
  float t = 0.5f * (q - p) / den;
  if (q > 0 && p > 0) {
    const float lq = std::log(q), lm = std::log(m), lp = std::log(p);
    const float lden = lq - 2 * lm + lp;
    if (lden < 0) t = 0.5f * (t + 0.5f * (lq - lp) / lden);
  }
  return t < -0.5f ? -0.5f : (t > 0.5f ? 0.5f : t);
}

// Sobel gradient at (x, y) of the window; the caller keeps one pixel of margin.
inline void sobelAt(const cimg_windowConst& w, int32_t x, int32_t y, int* gx, int* gy) {
  const uint8_t* b = w.pixels + static_cast<ptrdiff_t>(y) * w.stride + x;
  const uint8_t* a = b - w.stride;
  const uint8_t* c = b + w.stride;
  *gx = (a[1] + 2 * b[1] + c[1]) - (a[-1] + 2 * b[-1] + c[-1]);
  *gy = (c[-1] + 2 * c[0] + c[1]) - (a[-1] + 2 * a[0] + a[1]);
}

// Reach of the wide profile fit: about 2.5 widths of the peak seen in the three magnitudes q, m,
// p (a Gaussian of width sigma has ln q - 2 ln m + ln p = -1 / sigma^2), at most kMaxReach;
// below 2 the three-point fit is the better one.
constexpr int kMaxReach = 4;
inline int wideReach(float q, float m, float p) {
  if (q <= 0 || p <= 0) return 0;
  const float curvature = std::log(q) - 2 * std::log(m) + std::log(p);
  if (curvature >= 0) return kMaxReach;
  return std::min(kMaxReach, static_cast<int>(std::ceil(2.5f / std::sqrt(-curvature))));
}

enum class WideFit { none, fitted, flank };

// Profile fit for blurred edges. Three magnitudes locate a narrow peak well, but on a wide one
// their curvature is small and noise in them moves the vertex by a pixel or more. Here the
// gradient is projected on the point's own direction at up to `reach` steps either side
// (signed, so noise averages out instead of piling up as it does in magnitudes) and a Gaussian
// is fitted to those samples by least squares on their logarithms, weighted by the squared
// samples so that the weak, noisy tails count little. Samples keep one pixel inside the window.
// `flank`: the fitted peak lies more than a pixel away, so this pixel is a maximum that noise
// made on the flank of a wider edge whose peak another pixel carries.
WideFit wideOffset(const cimg_windowConst& w, int32_t x, int32_t y, int d, float nx, float ny, int reach, float* t) {
  const int sx = kStep[d][0], sy = kStep[d][1];
  while (reach >= 2 && (std::min({x - reach * sx, x + reach * sx, y - reach * sy, y + reach * sy}) < 1 ||
                        std::max(x - reach * sx, x + reach * sx) > w.width - 2 ||
                        std::max(y - reach * sy, y + reach * sy) > w.height - 2))
    --reach;
  if (reach < 2) return WideFit::none;
  double s[5] = {}, r[3] = {};  // weighted sums of k^0..k^4 and of k^0..k^2 * ln g
  int used = 0;
  for (int k = -reach; k <= reach; ++k) {
    int gx = 0, gy = 0;
    sobelAt(w, x + k * sx, y + k * sy, &gx, &gy);
    const double g = gx * nx + gy * ny;
    if (g <= 0) continue;
    const double weight = g * g, lg = std::log(g);
    double kp = weight;
    for (int e = 0; e < 5; ++e, kp *= k) {
      s[e] += kp;
      if (e < 3) r[e] += kp * lg;
    }
    ++used;
  }
  if (used < 3) return WideFit::none;
  // ln g = a + b k + c k^2: the symmetric normal equations by Cramer's rule.
  const double m00 = s[0], m01 = s[1], m02 = s[2], m12 = s[3], m22 = s[4];
  const double det = m00 * (m02 * m22 - m12 * m12) - m01 * (m01 * m22 - m12 * m02) + m02 * (m01 * m12 - m02 * m02);
  if (!(std::fabs(det) > 1e-9 * m00 * m22 * m22)) return WideFit::none;
  const double b = (m00 * (r[1] * m22 - m12 * r[2]) - r[0] * (m01 * m22 - m12 * m02) + m02 * (m01 * r[2] - r[1] * m02)) / det;
  const double c = (m00 * (m02 * r[2] - r[1] * m12) - m01 * (m01 * r[2] - r[1] * m02) + r[0] * (m01 * m12 - m02 * m02)) / det;
  if (!(c < 0)) return WideFit::none;
  const double offset = -b / (2 * c);
  if (std::fabs(offset) > 1) return WideFit::flank;
  *t = static_cast<float>(std::clamp(offset, -0.5, 0.5));
  return WideFit::fitted;
}

// Three rows of gradients, squared magnitudes and sectors, indexed by interior row modulo 3.
// Squared magnitudes are exact integers and order pixels as their magnitudes do, so the
// suppression compares them directly; square roots are taken only where a magnitude is written.
struct Ring {
  int32_t width = 0;
  Vec<int32_t> sq;
  Vec<int16_t> gx, gy;
  Vec<uint8_t> sector;
  void init(int32_t w) {
    width = w;
    sq.assign(3 * static_cast<size_t>(w), 0);
    gx.assign(3 * static_cast<size_t>(w), 0);
    gy.assign(3 * static_cast<size_t>(w), 0);
    sector.assign(3 * static_cast<size_t>(w), 0);
  }
  size_t at(int32_t row, int32_t column) const { return static_cast<size_t>(row % 3) * width + column; }
};

// The magnitude of a squared Sobel magnitude, as written to images and edge points.
inline float magnitudeOf(int32_t sq, float scale) { return scale * std::sqrt(static_cast<float>(sq)); }

// The least squared magnitude whose magnitude byte reaches `level` (and is above 0), by bisection
// over the monotone byte; above every Sobel value when none does.
int32_t leastSquare(float level, float scale) {
  constexpr int32_t kMaxSq = 2 * 1020 * 1020 + 1;
  auto reaches = [&](int32_t sq) {
    const float m = magnitudeOf(sq, scale);
    return m > 0 && (m >= 255.0f ? 255.0f : std::floor(m)) >= level;
  };
  if (!reaches(kMaxSq)) return kMaxSq + 1;
  int32_t lo = 1, hi = kMaxSq;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (reaches(mid)) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

// Sobel over window row `row` (1 .. H-2) into the ring; columns 1 .. W-2. Built for the
// baseline and for AVX2 (wide_lanes.hpp); both give the same bytes.
IDUT_LANE_BODY void gradientRowBody(const cimg_windowConst& w, int32_t row, Ring& ring) {
  const uint8_t* __restrict a = w.pixels + static_cast<ptrdiff_t>(row - 1) * w.stride;
  const uint8_t* __restrict b = a + w.stride;
  const uint8_t* __restrict c = b + w.stride;
  const size_t base = ring.at(row, 0);
  int32_t* __restrict sq = ring.sq.data() + base;
  int16_t* __restrict gxs = ring.gx.data() + base;
  int16_t* __restrict gys = ring.gy.data() + base;
  uint8_t* __restrict sec = ring.sector.data() + base;
  // Plain loops over restricted rows with a local bound (the stores could alias the window
  // record), so that the compiler can vectorise them.
  const int32_t end = w.width - 1;
  for (int32_t x = 1; x < end; ++x) {
    const int gx = (a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]);
    const int gy = (c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]);
    gxs[x] = static_cast<int16_t>(gx);
    gys[x] = static_cast<int16_t>(gy);
  }
  // In single precision, exact below 2^24: 32-bit lanes have no integer product before SSE4.1.
  for (int32_t x = 1; x < end; ++x) {
    const float fx = gxs[x], fy = gys[x];
    sq[x] = static_cast<int32_t>(fx * fx + fy * fy);
  }
  for (int32_t x = 1; x < end; ++x) sec[x] = sectorOf(gxs[x], gys[x]);
}

void gradientRowBaseline(const cimg_windowConst& w, int32_t row, Ring& ring) { gradientRowBody(w, row, ring); }
IDUT_WIDE_TARGET void gradientRowWide(const cimg_windowConst& w, int32_t row, Ring& ring) {
  gradientRowBody(w, row, ring);
}

void gradientRow(const cimg_windowConst& w, int32_t row, Ring& ring) {
  static const auto build = idut_lanes::pick(&gradientRowBaseline, &gradientRowWide);
  build(w, row, ring);
}

void writeOutputs(const Ring& ring, int32_t row, int32_t width, float scale, cimg_image* magnitude, cimg_image* angle) {
  const size_t base = ring.at(row, 0);
  if (magnitude) {
    uint8_t* out = magnitude->window.pixels + static_cast<ptrdiff_t>(row - 1) * magnitude->window.stride;
    for (int32_t x = 1; x < width - 1; ++x) {
      const float m = magnitudeOf(ring.sq[base + x], scale);
      out[x - 1] = m > 0 ? magnitudeByte(m) : 0;
    }
  }
  if (angle) {
    uint8_t* out = angle->window.pixels + static_cast<ptrdiff_t>(row - 1) * angle->window.stride;
    for (int32_t x = 1; x < width - 1; ++x) out[x - 1] = angleByte(ring.gx[base + x], ring.gy[base + x]);
  }
}

struct Settings {
  float high, low, scale;
  bool suppress, centresOnly;
  int32_t floorSq, strongSq;  // least squared magnitudes of a candidate and of a strong one
};

// The three ring rows around a suppressed row, indexed by row step + 1.
struct RowTriple {
  const int32_t* sqs[3];
  const uint8_t* sectors[3];
  const int16_t* gx;
  const int16_t* gy;
};

// Whether pixel x of the middle row, at or above the floor, is a magnitude peak along its
// gradient: strictly above the neighbour ahead and not below the one behind, a neighbour whose
// sector points three to five sectors away counting as 0. Without branches: the outcome is
// close to random from pixel to pixel.
inline bool isPeak(const RowTriple& r, int32_t x) {
  const int32_t m = r.sqs[1][x];
  const int d = r.sectors[1][x];
  const int sx = kStep[d][0], sy = kStep[d][1];
  const unsigned df = static_cast<unsigned>(std::abs(r.sectors[1 + sy][x + sx] - d) - 3);
  const unsigned db = static_cast<unsigned>(std::abs(r.sectors[1 - sy][x - sx] - d) - 3);
  const int32_t p = df <= 2 ? 0 : r.sqs[1 + sy][x + sx];
  const int32_t q = db <= 2 ? 0 : r.sqs[1 - sy][x - sx];
  return (p < m) & (q <= m);
}

// The candidate of a kept pixel, with its sub-pixel fit unless only centres are wanted; false
// when the wide fit finds the pixel on the flank of another pixel's peak.
bool makeCandidate(const cimg_windowConst& w, const RowTriple& r, int32_t x, int32_t row, const Settings& s,
                   Candidate* out) {
  const float m = magnitudeOf(r.sqs[1][x], s.scale);
  const uint8_t byte = magnitudeByte(m);
  const int d = r.sectors[1][x];
  const int sx = kStep[d][0], sy = kStep[d][1];
  float t = 0;
  if (s.suppress && !s.centresOnly) {
    const int df = std::abs(r.sectors[1 + sy][x + sx] - d), db = std::abs(r.sectors[1 - sy][x - sx] - d);
    const float p = (df >= 3 && df <= 5) ? 0.f : magnitudeOf(r.sqs[1 + sy][x + sx], s.scale);
    const float q = (db >= 3 && db <= 5) ? 0.f : magnitudeOf(r.sqs[1 - sy][x - sx], s.scale);
    t = peakOffset(q, m, p);
    const int reach = wideReach(q, m, p);
    if (reach >= 2) {
      const float len = std::sqrt(static_cast<float>(r.gx[x] * r.gx[x] + r.gy[x] * r.gy[x]));
      if (wideOffset(w, x, row, d, r.gx[x] / len, r.gy[x] / len, reach, &t) == WideFit::flank) return false;
    }
  }
  *out = Candidate{x, row, x + t * sx, row + t * sy, r.gx[x], r.gy[x], byte, r.sqs[1][x] >= s.strongSq};
  return true;
}

// Suppression over window row `row` (2 .. H-3): candidates at or above the lower threshold.
// `over` is scratch of the window's width plus 8, `kept` of its width.
void suppressRow(const cimg_windowConst& w, const Ring& ring, int32_t row, const Settings& s, Vec<uint8_t>& over,
                 Vec<int32_t>& kept, Vec<Candidate>& out) {
  RowTriple r;
  for (int k = 0; k < 3; ++k) {
    const size_t base = ring.at(row - 1 + k, 0);
    r.sqs[k] = ring.sq.data() + base;
    r.sectors[k] = ring.sector.data() + base;
  }
  r.gx = ring.gx.data() + ring.at(row, 0);
  r.gy = ring.gy.data() + ring.at(row, 0);
  // Which pixels reach the floor, as bytes in one vectorised pass; the scan then takes them 8 at
  // a time as a bit mask, skipping the empty blocks that on most images are nearly all of them.
  const int32_t end = w.width - 2;
  const int32_t* __restrict sqs = r.sqs[1];
  uint8_t* __restrict reach = over.data();
  const int32_t floorSq = s.floorSq;
  for (int32_t x = 0; x < end; ++x) reach[x] = sqs[x] >= floorSq;
  std::fill(reach + end, reach + end + 8, 0);
  int32_t* columns = kept.data();
  int32_t n = 0;
  for (int32_t block = 2; block < end; block += 8) {
    uint64_t word;
    std::memcpy(&word, reach + block, 8);
    if (word == 0) continue;
    // Bytes of 0 or 1 gathered into the low 8 bits, byte i into bit i.
    uint32_t bits = static_cast<uint32_t>((word * 0x0102040810204080ull) >> 56);
    while (bits) {
      const int32_t x = block + __builtin_ctz(bits);
      bits &= bits - 1;
      columns[n] = x;
      n += !s.suppress || isPeak(r, x);
    }
  }
  Candidate c;
  for (int32_t i = 0; i < n; ++i)
    if (makeCandidate(w, r, columns[i], row, s, &c)) out.push_back(c);
}

csys_status checkOutput(const cimg_image* image, int32_t width, int32_t height) {
  if (image == nullptr) return 0;
  if (!cimg_image_isBound(image)) return csys_errImageUnbound;
  return image->window.width == width && image->window.height == height ? 0 : csys_errBadArgument;
}

}  // namespace

// atan2 rounded to 1/256 turn without atan2: within an octant (0 <= lo <= hi) the rounded angle
// is the number of unit boundaries tan((k + 0.5) pi / 128) below lo / hi; octants by symmetry.
// No integer gradient lies within rounding of a boundary, so this is atan2 rounded exactly.
uint8_t csedge::angleByte(int gx, int gy) {
  static constexpr double kBounds[32] = {
      0.012272462379566276, 0.036832180994845636, 0.061436352581593759, 0.086114851197627906,
      0.11089791159591302,  0.1358162787093877,   0.16090136245348918,  0.1861853995275837,
      0.21170162402398335,  0.23748444881607017,  0.26356965989991799,  0.28999462611260612,
      0.3167985269526038,   0.34402260159242631,  0.37171042261274345,  0.39990819851453718,
      0.4286651096994995,   0.45803368337067241,  0.48807021372286286,  0.51883523489997574,
      0.55039405553726395,  0.58281736533497608,  0.61618192609486599,  0.65057136208015331,
      0.68607706754486286,  0.72279925296420588,  0.76084815607025125,  0.80034544949932018,
      0.84142588400725471,  0.88423921522534976,  0.92895247337036746,  0.97575264993237654};
  const int ax = std::abs(gx), ay = std::abs(gy);
  const bool steep = ay > ax;
  const int lo = steep ? ax : ay, hi = steep ? ay : ax;
  if (hi == 0) return 0;
  const double ratio = static_cast<double>(lo) / hi;
  int units = static_cast<int>(std::upper_bound(kBounds, kBounds + 32, ratio) - kBounds);
  if (steep) units = 64 - units;
  if (gx < 0) units = 128 - units;
  if (gy < 0) units = -units;
  return static_cast<uint8_t>(units & 255);
}

csys_status csEdgeParamsDefault(csEdgeParams* params) {
  CSYS_REQUIRE(params != nullptr);
  *params = csEdgeParams{1.0f, 10.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  return 0;
}

csys_status csEdgeDetect(const cimg_imageConst* source, cimg_image* magnitude, cimg_image* angle, csEdgeList* list,
                         csEdgeChains* chains, const csEdgeParams* params) {
  CSYS_REQUIRE(source != nullptr && params != nullptr && (chains == nullptr || list != nullptr));
  if (!cimg_imageConst_isBound(source)) return csys_errImageUnbound;
  const cimg_windowConst& w = source->window;
  if (w.width < 3 || w.height < 3) return 0;
  csys_status st = checkOutput(magnitude, w.width - 2, w.height - 2);
  if (CSYS_FAILED(st)) return st;
  if (CSYS_FAILED(st = checkOutput(angle, w.width - 2, w.height - 2))) return st;
  Settings s{params->highThreshold, params->lowThreshold, params->gain * 0.25f, params->suppress != 0,
             params->centresOnly != 0, 0, 0};
  if (!(s.low > 0 && s.low < s.high)) s.low = 0;
  s.floorSq = leastSquare(s.low > 0 ? s.low : s.high, s.scale);
  s.strongSq = leastSquare(s.high, s.scale);
  const bool wantPoints = list != nullptr && w.width >= 5 && w.height >= 5;
  try {
    Ring ring;
    ring.init(w.width);
    Vec<Candidate> candidates;
    Vec<uint8_t> over(static_cast<size_t>(w.width) + 8, 0);
    Vec<int32_t> kept(static_cast<size_t>(w.width), 0);
    for (int32_t row = 1; row < w.height - 1; ++row) {
      if ((row & 31) == 0 && CSYS_FAILED(st = csys_attention_check())) return st;
      gradientRow(w, row, ring);
      writeOutputs(ring, row, w.width, s.scale, magnitude, angle);
      if (wantPoints && row >= 3) suppressRow(w, ring, row - 1, s, over, kept, candidates);
    }
    if (!list) return 0;
    return csedge::emit(list, chains, w, candidates, s.low > 0);
  } catch (const std::bad_alloc&) {
    return csys_errNoMemory;
  }
}
