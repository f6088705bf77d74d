#include "reader/datamatrix/dmwindows.hpp"

#include <algorithm>
#include <cmath>

#include "ci_id/mask.h"
#include "reader/datamatrix/dmlocalnoise.hpp"
#include "reader/roadbase.hpp"

namespace dmroad {

std::vector<int32_t> windowStarts(int32_t length) {
  std::vector<int32_t> starts{0};
  const int32_t last = std::max(0, (length - kWindowSide) / kNoiseBlock * kNoiseBlock);
  while (starts.back() + kWindowSide < length) {
    const int32_t next = std::min(starts.back() + kWindowStep, last);
    if (next <= starts.back()) break;  // the window there reaches the end instead
    starts.push_back(next);
  }
  return starts;
}

int32_t windowLength(const std::vector<int32_t>& starts, size_t i, int32_t length) {
  return i + 1 < starts.size() ? std::min(kWindowSide, length) : length - starts[i];
}

Span coreOf(const std::vector<int32_t>& starts, size_t i, int32_t length) {
  auto centre = [&](size_t k) { return starts[k] + std::min(kWindowSide, length) / 2.0; };
  Span s{-1e300, 1e300};
  if (i > 0) s.from = (centre(i - 1) + centre(i)) / 2;
  if (i + 1 < starts.size()) s.to = (centre(i) + centre(i + 1)) / 2;
  return s;
}

namespace {

// The mask and window image of one window, destructed whatever way the search leaves.
struct WindowResources {
  cid_mask mask{};
  bool haveMask = false;
  cimg_imageConst image{};
  bool haveImage = false;
  ~WindowResources() {
    if (haveImage) cimg_imageConst_destruct(&image);
    if (haveMask) cid_mask_destruct(&mask);
  }
};

cmath_vect centreOf(const std::array<cmath_vect, 4>& corners) {
  return cmath_vect{(corners[0].x + corners[1].x + corners[2].x + corners[3].x) / 4,
                    (corners[0].y + corners[1].y + corners[2].y + corners[3].y) / 4};
}

// The box of a symbol's corners.
struct Box {
  double x0, y0, x1, y1;
};
Box boxOf(const Symbol& s) {
  Box b{1e300, 1e300, -1e300, -1e300};
  for (const cmath_vect& c : s.corners) {
    b.x0 = std::min(b.x0, c.x);
    b.x1 = std::max(b.x1, c.x);
    b.y0 = std::min(b.y0, c.y);
    b.y1 = std::max(b.y1, c.y);
  }
  return b;
}

// Whether any corner of a symbol lies within the window grown by a margin: only those can hold
// a seed or a candidate of the window.
bool reaches(const Symbol& s, double x0, double y0, double x1, double y1) {
  const Box b = boxOf(s);
  return b.x1 >= x0 && b.x0 <= x1 && b.y1 >= y0 && b.y0 <= y1;
}

// Searches one window at (x0, y0) of w, with the symbols found so far claimed, and appends the
// symbols whose centres lie in its core, in image coordinates.
csys_status searchWindow(const cimg_windowConst& w, int32_t x0, int32_t y0, int32_t width, int32_t height, Span coreX,
                         Span coreY, const Options& options, Outcome* out) {
  WindowResources r;
  csys_status st = cid_mask_construct(&r.mask, nullptr);
  if (CSYS_FAILED(st)) return st;
  r.haveMask = true;
  constexpr double kReach = 8;
  for (const Symbol& s : out->symbols) {
    if (!reaches(s, x0 - kReach, y0 - kReach, x0 + width + kReach, y0 + height + kReach)) continue;
    std::array<cmath_vect, 4> local = s.corners;
    for (cmath_vect& c : local) c = cmath_vect{c.x - x0, c.y - y0};
    st = road::claim(&r.mask, local, s.parallelogram != 0, nullptr);
    if (CSYS_FAILED(st)) return st;
  }
  st = cimg_imageConst_constructWrap(&r.image, w.pixels + static_cast<ptrdiff_t>(y0) * w.stride + x0, width, height,
                                     w.stride);
  if (CSYS_FAILED(st)) return st;
  r.haveImage = true;
  Options windowOptions = options;
  windowOptions.maxSymbols = 0;  // the core's share is counted below
  windowOptions.noiseByBlocks = true;
  const Outcome found = findAll(r.image, windowOptions, &r.mask);
  out->calls += found.calls;
  out->rejected += found.rejected;
  for (Symbol s : found.symbols) {
    for (cmath_vect& c : s.corners) c = cmath_vect{c.x + x0, c.y + y0};
    const cmath_vect centre = centreOf(s.corners);
    if (centre.x < coreX.from || centre.x >= coreX.to || centre.y < coreY.from || centre.y >= coreY.to) continue;
    if (options.maxSymbols > 0 && static_cast<int>(out->symbols.size()) >= options.maxSymbols) break;
    out->symbols.push_back(s);
  }
  return found.status;
}

// The whole image once more for the symbols too big to lie in a window's core, with every symbol
// found so far claimed: only outlines of at least kBigSide on both sides of their box are tracked
// to the end, so the smaller ones, which the windows have searched, cost little.
csys_status searchWhole(const cimg_imageConst& image, const Options& options, Outcome* out) {
  WindowResources r;
  csys_status st = cid_mask_construct(&r.mask, nullptr);
  if (CSYS_FAILED(st)) return st;
  r.haveMask = true;
  for (const Symbol& s : out->symbols)
    if (CSYS_FAILED(st = road::claim(&r.mask, s.corners, s.parallelogram != 0, nullptr))) return st;
  Options bigOnly = options;
  bigOnly.maxSymbols = 0;
  bigOnly.tune = [&options](cid2d_trackingParams& params) {
    if (options.tune) options.tune(params);
    params.minSide = std::max(params.minSide, static_cast<double>(kBigSide));
  };
  const Outcome found = findAll(image, bigOnly, &r.mask);
  out->calls += found.calls;
  out->rejected += found.rejected;
  for (const Symbol& s : found.symbols) {
    if (options.maxSymbols > 0 && static_cast<int>(out->symbols.size()) >= options.maxSymbols) break;
    out->symbols.push_back(s);
  }
  return found.status;
}

double shorterSide(const Symbol& s) {
  const std::array<cmath_vect, 4>& c = s.corners;
  return std::min(std::hypot(c[1].x - c[0].x, c[1].y - c[0].y), std::hypot(c[3].x - c[0].x, c[3].y - c[0].y));
}

}  // namespace

bool searchedInWindows(const cimg_imageConst& image) {
  cimg_windowConst w;
  return !CSYS_FAILED(cimg_windowConst_init(&w, &image)) && (w.width > kWholeSearchSide || w.height > kWholeSearchSide);
}

Outcome findAgainAlone(const cimg_imageConst& image, const Symbol& unread, const Options& options) {
  Outcome out;
  cimg_windowConst w;
  if (CSYS_FAILED(out.status = cimg_windowConst_init(&w, &image))) return out;
  // Out to whole noise blocks, so the part is scanned on the rows and marking cells the whole
  // image would be.
  const Box box = boxOf(unread);
  auto down = [](double v, int32_t limit) {
    return std::clamp(static_cast<int32_t>(std::floor(v - kAloneMargin)) / kNoiseBlock * kNoiseBlock, 0, limit);
  };
  auto up = [](double v, int32_t limit) {
    return std::clamp(static_cast<int32_t>(std::ceil(v + kAloneMargin)), 0, limit);
  };
  const int32_t x0 = down(std::max(box.x0, 0.0), w.width), y0 = down(std::max(box.y0, 0.0), w.height);
  const int32_t x1 = up(std::min(box.x1, double(w.width)), w.width), y1 = up(std::min(box.y1, double(w.height)), w.height);
  if (x1 - x0 > kWholeSearchSide || y1 - y0 > kWholeSearchSide || x1 <= x0 || y1 <= y0) return out;
  WindowResources r;
  out.status = cimg_imageConst_constructWrap(&r.image, w.pixels + static_cast<ptrdiff_t>(y0) * w.stride + x0, x1 - x0,
                                             y1 - y0, w.stride);
  if (CSYS_FAILED(out.status)) return out;
  r.haveImage = true;
  Options alone = options;
  alone.maxSymbols = 0;
  alone.noiseByBlocks = false;
  alone.front = nullptr;
  Outcome found = findAll(r.image, alone);
  out.status = found.status;
  out.calls = found.calls;
  out.rejected = found.rejected;
  const cmath_vect centre = centreOf(unread.corners);
  const double near = shorterSide(unread) / 4;
  for (Symbol s : found.symbols) {
    for (cmath_vect& c : s.corners) c = cmath_vect{c.x + x0, c.y + y0};
    const cmath_vect other = centreOf(s.corners);
    if (std::hypot(other.x - centre.x, other.y - centre.y) <= near) out.symbols.push_back(s);
  }
  return out;
}

Outcome findAllInWindows(const cimg_imageConst& image, const Options& options) {
  cimg_windowConst w;
  csys_status st = cimg_windowConst_init(&w, &image);
  if (CSYS_FAILED(st) || (w.width <= kWholeSearchSide && w.height <= kWholeSearchSide)) return findAll(image, options);
  Outcome out;
  const std::vector<int32_t> xs = windowStarts(w.width), ys = windowStarts(w.height);
  for (size_t j = 0; j < ys.size(); ++j)
    for (size_t i = 0; i < xs.size(); ++i) {
      if (options.maxSymbols > 0 && static_cast<int>(out.symbols.size()) >= options.maxSymbols) return out;
      st = searchWindow(w, xs[i], ys[j], windowLength(xs, i, w.width), windowLength(ys, j, w.height),
                        coreOf(xs, i, w.width), coreOf(ys, j, w.height), options, &out);
      if (CSYS_FAILED(st)) {
        out.status = st;
        return out;
      }
    }
  if (options.maxSymbols > 0 && static_cast<int>(out.symbols.size()) >= options.maxSymbols) return out;
  if (CSYS_FAILED(st = searchWhole(image, options, &out))) out.status = st;
  return out;
}

}  // namespace dmroad
