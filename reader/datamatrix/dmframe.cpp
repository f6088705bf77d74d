#include "reader/datamatrix/dmframe.hpp"

#include <algorithm>
#include <cstring>

#include "reader/datamatrix/dmupscale.hpp"

namespace dmroad {

namespace {

// Below this spread between the edges' dark and light levels the edges show nothing to frame
// against; each side then gets its own mean, and the frame adds no edge.
constexpr int kMinContrast = 24;
// A side whose outermost pixels are this much of one class shows a solid side or a margin.
constexpr double kClear = 0.75;
// The least difference of dark shares between two neighbouring sides and the other two that is
// read as a symbol's L (see frameLevels).
constexpr double kSplit = 0.2;
// ... in a picture whose level changes from pixel to pixel by this much on average both ways, as
// modules filling it make it (2-3.3 px modules, blurred up to a quarter module: 24-39 grey levels);
// photographs whose edges happen to split so change far less, and framing them in a level would
// close the outlines of everything their edges cut through.
constexpr double kFilledStep = 20;

// The grey level at fraction q of a histogram of n values.
int percentile(const std::array<int, 256>& histogram, int n, double q) {
  const int rank = static_cast<int>(q * (n - 1));
  int seen = 0;
  for (int v = 0; v < 256; ++v) {
    seen += histogram[v];
    if (seen > rank) return v;
  }
  return 255;
}

struct Side {
  std::array<int, 256> histogram{};
  int count = 0;
  long sum = 0;
};

}  // namespace

FrameLevels frameLevels(const cimg_windowConst& w, bool otherReading, bool* ambiguous) {
  if (ambiguous != nullptr) *ambiguous = false;
  std::array<Side, 4> sides;  // left, top, right, bottom
  auto add = [](Side& s, uint8_t v) {
    ++s.histogram[v];
    ++s.count;
    s.sum += v;
  };
  const ptrdiff_t stride = w.stride;
  for (int y = 0; y < w.height; ++y) {
    const uint8_t* row = w.pixels + y * stride;
    add(sides[0], row[0]);
    add(sides[2], row[w.width - 1]);
  }
  for (int x = 0; x < w.width; ++x) {
    add(sides[1], w.pixels[x]);
    add(sides[3], w.pixels[(w.height - 1) * stride + x]);
  }
  std::array<int, 256> all{};
  int total = 0;
  for (const Side& s : sides) {
    for (int v = 0; v < 256; ++v) all[v] += s.histogram[v];
    total += s.count;
  }
  FrameLevels levels{};
  levels.fill(kContinue);
  const int dark = percentile(all, total, 0.05), light = percentile(all, total, 0.95);
  if (light - dark < kMinContrast) {
    for (int i = 0; i < 4; ++i) levels[i] = static_cast<int>(sides[i].sum / sides[i].count);
    return levels;
  }
  const int threshold = (dark + light) / 2;
  std::array<double, 4> darkShare{};
  for (int i = 0; i < 4; ++i) {
    int below = 0;
    for (int v = 0; v < threshold; ++v) below += sides[i].histogram[v];
    darkShare[i] = static_cast<double>(below) / sides[i].count;
  }
  // Each side's class when it shows mostly one: 1 dark, 0 light, -1 both.
  std::array<int, 4> clear{};
  for (int i = 0; i < 4; ++i) clear[i] = darkShare[i] >= kClear ? 1 : darkShare[i] <= 1 - kClear ? 0 : -1;
  // A margin all round, or the background round a tilted symbol: the frame is more of it, at one
  // level. Its edge pixels continued would draw out the corners of a symbol tilted into the
  // picture's corners, and a frame of the other class joined those corners to it (frame-filling
  // scenes read a few in a hundred more so, and nothing else changed).
  if (clear[0] >= 0 && clear[0] == clear[1] && clear[1] == clear[2] && clear[2] == clear[3]) {
    levels.fill(clear[0] ? dark : light);
    return levels;
  }
  // Three sides of one class and the fourth showing both: the background round a rectangle tilted
  // into the picture's corners, one of whose sides runs along an edge further than the others, or
  // a margin on three sides of a symbol that the fourth edge cuts. The frame is more of it too.
  for (int i = 0; i < 4; ++i) {
    const int a = (i + 1) % 4, b = (i + 2) % 4, c = (i + 3) % 4;
    if (clear[i] < 0 && clear[a] >= 0 && clear[a] == clear[b] && clear[b] == clear[c]) {
      levels.fill(clear[a] ? dark : light);
      return levels;
    }
  }
  // Two neighbouring sides of one class and the other two showing both: a symbol's solid L on
  // the picture's edge, its alternating sides on the other two. The frame is its background. Or
  // the background round a symbol tilted into the corners, showing on two sides more than on the
  // other two: the first reading holds for most frame-filling scenes, and the other (searched when
  // the first reads nothing) reads most of the rest.
  for (int i = 0; i < 4; ++i) {
    const int next = (i + 1) % 4, far0 = (i + 2) % 4, far1 = (i + 3) % 4;
    if (clear[i] >= 0 && clear[i] == clear[next] && clear[far0] < 0 && clear[far1] < 0) {
      if (ambiguous != nullptr) *ambiguous = true;
      levels.fill((clear[i] != 0) != otherReading ? light : dark);
      return levels;
    }
  }
  // Two neighbouring sides darker than the other two by kSplit or more, none of them clear: the
  // same L read more faintly, a symbol a degree or so off square to the picture whose edges run
  // off its L and its alternating sides into the background along part of their length. The pair
  // further from half dark is taken for the L first, the other reading second.
  for (int i = 0; i < 4; ++i) {
    const int next = (i + 1) % 4, far0 = (i + 2) % 4, far1 = (i + 3) % 4;
    const double lowPair = std::max(darkShare[far0], darkShare[far1]), highPair = std::min(darkShare[i], darkShare[next]);
    if (highPair - lowPair < kSplit || meanStepBothWays(w, 4) < kFilledStep) continue;
    const double highMean = (darkShare[i] + darkShare[next]) / 2, lowMean = (darkShare[far0] + darkShare[far1]) / 2;
    const bool darkL = highMean - 0.5 >= 0.5 - lowMean;
    if (ambiguous != nullptr) *ambiguous = true;
    levels.fill(darkL != otherReading ? light : dark);
    return levels;
  }
  // Anything else, a photograph's edges: the picture's edge pixels continued outwards, so that the
  // frame adds no edge and outlines that run off the picture stay open, as they were.
  levels.fill(kContinue);
  return levels;
}

void framedCopy(const cimg_windowConst& w, const FrameLevels& levels, uint8_t* out) {
  constexpr int f = kFrameWidth;
  const int width = w.width + 2 * f;
  const size_t stride = static_cast<size_t>(width);
  for (int y = 0; y < w.height; ++y) {
    const uint8_t* in = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    uint8_t* row = out + (y + f) * stride;
    std::memset(row, levels[0] == kContinue ? in[0] : levels[0], f);
    std::memcpy(row + f, in, static_cast<size_t>(w.width));
    std::memset(row + f + w.width, levels[2] == kContinue ? in[w.width - 1] : levels[2], f);
  }
  // The top and bottom bands, corners included: a level, or the first and last framed rows.
  for (int y = 0; y < f; ++y) {
    uint8_t* top = out + y * stride;
    uint8_t* bottom = out + (w.height + f + y) * stride;
    if (levels[1] == kContinue) std::memcpy(top, out + f * stride, stride);
    else std::memset(top, levels[1], stride);
    if (levels[3] == kContinue) std::memcpy(bottom, out + (w.height + f - 1) * stride, stride);
    else std::memset(bottom, levels[3], stride);
  }
}

}  // namespace dmroad
