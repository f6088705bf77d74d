// The fast 2D pass over whole rows. Each output row's column extremum is built from whole source
// rows, then the row extremum runs along that one row in a padded line buffer that stays in the
// first-level cache, so no image is transposed, gathered or stored twice. Every inner loop is a
// plain lane-by-lane extremum over rows, written for the vectoriser; the pass is built for the
// baseline and for AVX2 (wide_lanes.hpp), and both give the same bytes.
#include <cstring>

#include "../../../base/wide_lanes.hpp"
#include "morph_lines.hpp"

namespace morph {

namespace {

// Windows up to this many rows are picked row by row; longer ones by block scans, which cost
// three picks a pixel whatever the length.
constexpr int32_t kDirectRows = 7;
// Windows up to this many samples along a row are picked from shifted loads; longer ones by
// doubling spans.
constexpr int32_t kDirectSamples = 5;

template <Kind K>
IDUT_LANE_BODY uint8_t pick(uint8_t a, uint8_t b) {
  if constexpr (K == Kind::max) {
    return a > b ? a : b;
  } else {
    return a < b ? a : b;
  }
}

template <Kind K>
IDUT_LANE_BODY void pickTwo(const uint8_t* a, const uint8_t* b, uint8_t* __restrict out, int32_t n) {
  for (int32_t x = 0; x < n; ++x) out[x] = pick<K>(a[x], b[x]);
}

// out = extremum of the N rows, lane by lane, in one sweep.
template <Kind K, int N>
IDUT_LANE_BODY void pickRowsOf(const uint8_t* const* rows, uint8_t* __restrict out, int32_t width) {
  const uint8_t* r[N];
  for (int k = 0; k < N; ++k) r[k] = rows[k];
  for (int32_t x = 0; x < width; ++x) {
    uint8_t v = r[0][x];
    for (int k = 1; k < N; ++k) v = pick<K>(v, r[k][x]);
    out[x] = v;
  }
}

template <Kind K>
IDUT_LANE_BODY void pickRows(const uint8_t* const* rows, int32_t n, uint8_t* out, int32_t width) {
  static_assert(kDirectRows == 7, "one case per row count");
  switch (n) {
    case 1: std::memcpy(out, rows[0], static_cast<size_t>(width)); break;
    case 2: pickRowsOf<K, 2>(rows, out, width); break;
    case 3: pickRowsOf<K, 3>(rows, out, width); break;
    case 4: pickRowsOf<K, 4>(rows, out, width); break;
    case 5: pickRowsOf<K, 5>(rows, out, width); break;
    case 6: pickRowsOf<K, 6>(rows, out, width); break;
    default: pickRowsOf<K, 7>(rows, out, width); break;
  }
}

// out[x] = extremum of line[x .. x + N - 1].
template <Kind K, int N>
IDUT_LANE_BODY void pickShifted(const uint8_t* line, uint8_t* __restrict out, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    uint8_t v = line[x];
    for (int k = 1; k < N; ++k) v = pick<K>(v, line[x + k]);
    out[x] = v;
  }
}

// One step of the prefix scan through the next block: the prefix grows by the entering row, and
// the output row is the prefix against the current block's suffix.
template <Kind K>
IDUT_LANE_BODY void prefixStep(const uint8_t* previous, const uint8_t* entering, const uint8_t* suffix,
                               uint8_t* __restrict prefix, uint8_t* __restrict out, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t p = pick<K>(previous[x], entering[x]);
    prefix[x] = p;
    out[x] = pick<K>(suffix[x], p);
  }
}

struct Pass {
  const uint8_t* in;
  ptrdiff_t inStride;
  uint8_t* out;
  ptrdiff_t outStride;
  int32_t width, height, rx, ry;  // ry = 0: no column pass; rx = 0: no row pass
  const RowWork* work;

  IDUT_LANE_BODY const uint8_t* source(int32_t y) const { return in + static_cast<ptrdiff_t>(y) * inStride; }
  IDUT_LANE_BODY uint8_t* result(int32_t y) const { return out + static_cast<ptrdiff_t>(y) * outStride; }
  // Where the column extremum of output row y goes: the line buffer when a row pass follows.
  IDUT_LANE_BODY uint8_t* columnTarget(int32_t y) const { return rx > 0 ? work->line + rx : result(y); }
};

// The row extremum of the padded line (rx neutral samples each side) into output row y.
template <Kind K>
IDUT_LANE_BODY void finishRow(const Pass& p, int32_t y) {
  if (p.rx == 0) return;
  const int32_t window = 2 * p.rx + 1, width = p.width;
  uint8_t* out = p.result(y);
  if (window <= kDirectSamples) {
    static_assert(kDirectSamples == 5, "one case per window");
    if (window == 3) {
      pickShifted<K, 3>(p.work->line, out, width);
    } else {
      pickShifted<K, 5>(p.work->line, out, width);
    }
    return;
  }
  // After each level, a[i] is the extremum of line[i .. i + 2 span - 1]; two overlapping spans
  // then cover the window.
  const uint8_t* a = p.work->line;
  uint8_t* levels[2] = {p.work->levelA, p.work->levelB};
  int32_t valid = width + 2 * p.rx, span = 1;
  for (int which = 0; 2 * span <= window; span *= 2, which ^= 1) {
    valid -= span;
    pickTwo<K>(a, a + span, levels[which], valid);
    a = levels[which];
  }
  pickTwo<K>(a, a + (window - span), out, width);
}

// Short column windows: each output row is the extremum of the clipped window's rows.
template <Kind K>
IDUT_LANE_BODY void directColumns(const Pass& p) {
  const uint8_t* rows[kDirectRows];
  for (int32_t y = 0; y < p.height; ++y) {
    const int32_t first = std::max(0, y - p.ry), last = std::min(p.height - 1, y + p.ry);
    for (int32_t k = first; k <= last; ++k) rows[k - first] = p.source(k);
    pickRows<K>(rows, last - first + 1, p.columnTarget(y), p.width);
    finishRow<K>(p, y);
  }
}

// Long column windows by van Herk / Gil-Werman over whole rows. The rows are padded with r
// neutral rows at each end and cut into blocks of one window; the window of output row y
// (padded rows y .. y + 2r) is a suffix of y's block joined with a prefix of the next block.
// Per block the suffixes are scanned backwards into the work rows, then the prefix grows one
// entering row per output row.
template <Kind K>
IDUT_LANE_BODY void blockColumns(const Pass& p) {
  const int32_t r = p.ry, window = 2 * r + 1, width = p.width, height = p.height;
  const RowWork& w = *p.work;
  auto padded = [&](int32_t i) { return i >= r && i < r + height ? p.source(i - r) : w.neutral; };
  for (int32_t start = 0; start < height; start += window) {
    const uint8_t* last = padded(start + window - 1);
    const uint8_t* next = last;
    for (int32_t i = window - 2; i >= 1; --i) {
      uint8_t* suffix = w.suffix + static_cast<ptrdiff_t>(i) * width;
      pickTwo<K>(padded(start + i), next, suffix, width);
      next = suffix;
    }
    pickTwo<K>(padded(start), next, p.columnTarget(start), width);  // the whole block
    finishRow<K>(p, start);
    const uint8_t* prefix = nullptr;
    for (int32_t i = 1; i < window && start + i < height; ++i) {
      const int32_t y = start + i;
      const uint8_t* suffix = i == window - 1 ? last : w.suffix + static_cast<ptrdiff_t>(i) * width;
      const uint8_t* entering = padded(y + 2 * r);
      if (prefix == nullptr) {
        pickTwo<K>(suffix, entering, p.columnTarget(y), width);
        prefix = entering;
      } else {
        uint8_t* grown = w.prefix[i & 1];  // never the previous prefix, which is the other one or a row
        prefixStep<K>(prefix, entering, suffix, grown, p.columnTarget(y), width);
        prefix = grown;
      }
      finishRow<K>(p, y);
    }
  }
}

template <Kind K>
IDUT_LANE_BODY void passBody(const Pass& p) {
  const uint8_t neutral = K == Kind::max ? 0 : 255;
  const RowWork& w = *p.work;
  if (p.rx > 0) {
    std::memset(w.line, neutral, static_cast<size_t>(p.rx));
    std::memset(w.line + p.rx + p.width, neutral, static_cast<size_t>(p.rx));
  }
  if (p.ry == 0) {
    for (int32_t y = 0; y < p.height; ++y) {
      std::memcpy(w.line + p.rx, p.source(y), static_cast<size_t>(p.width));
      finishRow<K>(p, y);
    }
  } else if (2 * p.ry + 1 <= kDirectRows) {
    directColumns<K>(p);
  } else {
    std::memset(w.neutral, neutral, static_cast<size_t>(p.width));
    blockColumns<K>(p);
  }
}

void passMaxBaseline(const Pass& p) { passBody<Kind::max>(p); }
void passMinBaseline(const Pass& p) { passBody<Kind::min>(p); }
IDUT_WIDE_TARGET void passMaxWide(const Pass& p) { passBody<Kind::max>(p); }
IDUT_WIDE_TARGET void passMinWide(const Pass& p) { passBody<Kind::min>(p); }

// Bytes of each part of the work block; the column parts only when the block scan runs.
struct Layout {
  size_t line, suffix, row;
};

Layout layoutOf(int32_t width, int32_t kernelWidth, int32_t kernelHeight) {
  const size_t w = static_cast<size_t>(width);
  const size_t line = kernelWidth >= 2 ? w + 2 * static_cast<size_t>(radiusOf(kernelWidth)) : 0;
  const int32_t window = kernelHeight >= 2 ? 2 * radiusOf(kernelHeight) + 1 : 0;
  const bool blocks = window > kDirectRows;
  return Layout{line, blocks ? static_cast<size_t>(window) * w : 0, blocks ? w : 0};
}

}  // namespace

size_t rowWorkBytes(int32_t width, int32_t kernelWidth, int32_t kernelHeight) {
  const Layout l = layoutOf(width, kernelWidth, kernelHeight);
  return 3 * l.line + l.suffix + 3 * l.row;
}

RowWork rowWorkAt(uint8_t* block, int32_t width, int32_t kernelWidth, int32_t kernelHeight) {
  const Layout l = layoutOf(width, kernelWidth, kernelHeight);
  RowWork w;
  w.line = block;
  w.levelA = w.line + l.line;
  w.levelB = w.levelA + l.line;
  w.suffix = w.levelB + l.line;
  w.prefix[0] = w.suffix + l.suffix;
  w.prefix[1] = w.prefix[0] + l.row;
  w.neutral = w.prefix[1] + l.row;
  return w;
}

void rowPass(Kind kind, const uint8_t* in, ptrdiff_t inStride, uint8_t* out, ptrdiff_t outStride, int32_t width,
             int32_t height, int32_t kernelWidth, int32_t kernelHeight, const RowWork& work) {
  static const auto maxBuild = idut_lanes::pick(&passMaxBaseline, &passMaxWide);
  static const auto minBuild = idut_lanes::pick(&passMinBaseline, &passMinWide);
  const Pass p{in,
               inStride,
               out,
               outStride,
               width,
               height,
               kernelWidth >= 2 ? radiusOf(kernelWidth) : 0,
               kernelHeight >= 2 ? radiusOf(kernelHeight) : 0,
               &work};
  (kind == Kind::max ? maxBuild : minBuild)(p);
}

}  // namespace morph
