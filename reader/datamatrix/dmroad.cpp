#include "reader/datamatrix/dmroad.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>
#include <utility>

#include "ci_id/dmdriver.h"
#include "ci_id/region.h"
#include "reader/datamatrix/dmborder.hpp"
#include "reader/datamatrix/dmcorners.hpp"
#include "reader/datamatrix/dmdenoise.hpp"
#include "reader/datamatrix/dmelongated.hpp"
#include "reader/datamatrix/dmfarside.hpp"
#include "reader/datamatrix/dmframe.hpp"
#include "reader/geometry.hpp"
#include "reader/datamatrix/dmlocalnoise.hpp"
#include "reader/datamatrix/dmlong.hpp"
#include "reader/datamatrix/dmscan.hpp"
#include "reader/roadbase.hpp"

namespace dmroad {

namespace {

// Pixel copies a thread keeps from one image to the next. The allocator hands blocks of a few
// hundred kilobytes back to the system on release, so a fresh one each image came back as new
// pages, and the first write to each page was a page fault: about a third of a millisecond of
// system time per generated scene, as much as the rest of the road. Blocks up to kKeptBytes are
// kept (a thread holds at most two, 8 MB); a bigger image gets blocks of its own.
constexpr size_t kKeptBytes = size_t{4} << 20;

struct KeptBlock {
  std::unique_ptr<uint8_t[]> bytes;  // left unfilled: each use writes every byte it reads
  size_t size = 0;
};

thread_local KeptBlock t_smoothed, t_framed;
// Searches running on this thread: a caller's stop callback may start another search while one
// is under way, and the inner one must not write over the outer one's copies.
thread_local int t_searchesUnderWay = 0;

struct SearchUnderWay {
  SearchUnderWay() { ++t_searchesUnderWay; }
  ~SearchUnderWay() { --t_searchesUnderWay; }
  SearchUnderWay(const SearchUnderWay&) = delete;
  SearchUnderWay& operator=(const SearchUnderWay&) = delete;
};

// n bytes for this image: the thread's kept block, grown when it is short and n is small enough
// to keep, else (or in a search nested in another) a block of the image's own in *own.
uint8_t* blockFor(KeptBlock& kept, size_t n, std::unique_ptr<uint8_t[]>* own) {
  const bool nested = t_searchesUnderWay > 1;
  if (n <= kept.size && !nested) return kept.bytes.get();
  if (n > kKeptBytes || nested) {
    *own = std::make_unique_for_overwrite<uint8_t[]>(n);
    return own->get();
  }
  kept.bytes.reset();  // the old block goes first: never both at once
  kept.size = 0;
  kept.bytes = std::make_unique_for_overwrite<uint8_t[]>(n);
  kept.size = n;
  return kept.bytes.get();
}

// What the road builds beyond the shared pieces, destructed whatever way it leaves.
struct Resources : road::Base {
  std::unique_ptr<uint8_t[]> smoothed;  // the copies of an image too big for the kept blocks
  std::unique_ptr<uint8_t[]> framed;
  cimg_imageConst search{};  // what the driver searches: fine, or a smoothed copy of it
  bool haveSearch = false;
  cimg_image marking{};
  bool haveMarking = false;
  ~Resources() {
    if (haveMarking) cimg_image_destruct(&marking);
    if (haveSearch) cimg_imageConst_destruct(&search);
  }
};

constexpr double kPi = 3.14159265358979323846;
// How far in (pixels, both ways) a band's second view starts: half a marking cell.
constexpr int32_t kSecondViewShift = 2;

// Noise (grey levels of deviation) above which the driver searches a smoothed copy.
constexpr double kDenoiseAbove = 5.0;
constexpr double kSmoothTwiceAbove = 10.0;

// Marks the cells of the marking image that lie wholly inside a region just claimed in a mask
// of regions, so that the driver passes over the edges of the symbol's modules without starting
// a search at each, which would find its seed masked and return. A cell is marked only when its
// four corner pixels lie inside the convex outline by a margin: every pixel between them, the
// only places a seed of the cell can sit, is then inside too.
// shift: where the image's origin lies in the marked search image (the frame's width).
void markClaimedCells(const cid_region& region, double shift, cimg_image* marking) {
  auto shifted = [shift](cmath_vect p) { return cmath_vect{p.x + shift, p.y + shift}; };
  const cmath_vect outline[4] = {shifted(region.py), shifted(region.po), shifted(region.px), shifted(region.popp)};
  // Inward unit normals and offsets of the four sides: inside means n . q > c for every side.
  cmath_vect normal[4];
  double offset[4];
  double turn = 0;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect a = outline[i], b = outline[(i + 1) % 4], c = outline[(i + 2) % 4];
    turn += (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
  }
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect a = outline[i], b = outline[(i + 1) % 4], c = outline[(i + 2) % 4];
    const double bend = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
    const double length = distance(a, b);
    if (!(length > 1) || !(bend * turn > 0)) return;  // degenerate or not convex: nothing marked
    const double sign = turn > 0 ? 1 : -1;
    normal[i] = cmath_vect{-sign * (b.y - a.y) / length, sign * (b.x - a.x) / length};
    offset[i] = normal[i].x * a.x + normal[i].y * a.y;
    minX = std::min(minX, a.x);
    maxX = std::max(maxX, a.x);
    minY = std::min(minY, a.y);
    maxY = std::max(maxY, a.y);
  }
  auto inside = [&](double x, double y) {
    for (int i = 0; i < 4; ++i)
      if (!(normal[i].x * x + normal[i].y * y > offset[i] + 0.01)) return false;
    return true;
  };
  cimg_window& m = marking->window;
  const int cx0 = std::max(0, static_cast<int>(std::floor(minX / 4))), cx1 = std::min(m.width - 1, static_cast<int>(maxX / 4));
  const int cy0 = std::max(0, static_cast<int>(std::floor(minY / 4))), cy1 = std::min(m.height - 1, static_cast<int>(maxY / 4));
  auto holds = [&](int cx, int cy) {
    const double x = 4.0 * cx, y = 4.0 * cy;
    return inside(x, y) && inside(x + 3, y) && inside(x, y + 3) && inside(x + 3, y + 3);
  };
  // Along a row of cells each side's test only turns one way as x grows (rounding to nearest
  // keeps the order of a product and of a sum), so the cells that hold form one run: it is
  // found from its two ends and filled without testing the cells inside it.
  for (int cy = cy0; cy <= cy1; ++cy) {
    int left = cx0;
    while (left <= cx1 && !holds(left, cy)) ++left;
    if (left > cx1) continue;
    int right = cx1;
    while (right > left && !holds(right, cy)) --right;
    uint8_t* row = m.pixels + static_cast<ptrdiff_t>(cy) * m.stride;
    std::fill(row + left, row + right + 1, uint8_t{1});
  }
}

// Whether a quarter of the band's box or more lies in the boxes of symbols found: the marks of a
// claimed symbol fill its outline, and joined to those of clutter beside it they make a band.
bool coveredByFinds(const Elongated& band, const std::vector<Symbol>& found) {
  const double area = double(band.x1 - band.x0) * (band.y1 - band.y0);
  double covered = 0;
  for (const Symbol& s : found) {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const cmath_vect& c : s.corners) {
      x0 = std::min(x0, c.x);
      x1 = std::max(x1, c.x);
      y0 = std::min(y0, c.y);
      y1 = std::max(y1, c.y);
    }
    const double w = std::min<double>(x1, band.x1) - std::max<double>(x0, band.x0);
    const double h = std::min<double>(y1, band.y1) - std::max<double>(y0, band.y0);
    if (w > 0 && h > 0) covered += w * h;
  }
  return covered >= 0.25 * area;
}

// The far corner of a located parallelogram measured afresh (fitFourthCorner, twice: the second
// fit starts from far sides the first has brought close) and the border matched through it; on
// success the corners, refined, and the layout are replaced.
bool fitKeystone(const cimg_windowConst& w, bool acceptLong, std::array<cmath_vect, 4>* corners, BorderLayout* layout) {
  std::array<cmath_vect, 4> fitted = *corners;
  if (!fitFourthCorner(w, &fitted) || !convexQuad(fitted)) {
    // The located corner's second side may be what fails it: measured afresh along the first.
    fitted = *corners;
    if (!remeasureSecondSide(w, &fitted) || !fitFourthCorner(w, &fitted) || !convexQuad(fitted)) return false;
  }
  fitFourthCorner(w, &fitted);
  BorderLayout fittedLayout;
  if (!convexQuad(fitted) || !matchBorder(w, fitted, acceptLong, &fittedLayout)) return false;
  refineCorners(w, fittedLayout, &fitted);
  *corners = fitted;
  *layout = fittedLayout;
  return true;
}

// The whole image's part to smooth, from a noise estimate made elsewhere (as noisyParts decides).
std::vector<NoisyPart> wholeImageNoise(int32_t width, int32_t height, double noise) {
  if (!(noise > kDenoiseAbove)) return {};
  return {NoisyPart{0, 0, width, height, noise > kSmoothTwiceAbove}};
}

}  // namespace

Outcome findAll(const cimg_imageConst& image, const Options& options, cid_mask* mask) {
  const SearchUnderWay underWay;
  Outcome out;
  Resources r;
  auto fail = [&](csys_status st) {
    out.status = st;
    return out;
  };
  csys_status st = r.open(image);
  if (CSYS_FAILED(st)) return fail(st);
  const int32_t width = r.fine.window.width, height = r.fine.window.height;
  // The pixels searched: the image, or a smoothed copy of it; then framed (see dmframe.hpp).
  cimg_windowConst unframed = r.fine.window;
  // Heavy noise is smoothed twice over (a 5 x 5 binomial in all).
  idutread::FrontPass* front = options.front && options.front->covers(r.fine.window) ? options.front : nullptr;
  const std::vector<NoisyPart> noisy = !options.denoise ? std::vector<NoisyPart>{}
                                       : front && !options.noiseByBlocks
                                           ? wholeImageNoise(width, height, front->noise())
                                           : noisyParts(r.fine.window, kDenoiseAbove, kSmoothTwiceAbove, options.noiseByBlocks);
  out.smoothed = !noisy.empty();
  if (front && noisy.size() == 1 && !noisy[0].twice) {
    unframed = cimg_windowConst{width, height, 0, 0, width, front->smoothedOnce()};
  } else if (!noisy.empty()) {
    uint8_t* smoothed = blockFor(t_smoothed, static_cast<size_t>(width) * height, &r.smoothed);
    smoothParts(r.fine.window, noisy, smoothed);  // writes every byte
    unframed = cimg_windowConst{width, height, 0, 0, width, smoothed};
  }
  const int32_t frame = options.frame ? kFrameWidth : 0;
  cimg_windowConst searched = unframed;
  if (frame > 0) {
    const int32_t framedWidth = width + 2 * frame, framedHeight = height + 2 * frame;
    uint8_t* framed = blockFor(t_framed, static_cast<size_t>(framedWidth) * framedHeight, &r.framed);
    framedCopy(unframed, frameLevels(unframed, options.otherFrame, &out.otherFrame), framed);
    searched = cimg_windowConst{framedWidth, framedHeight, 0, 0, framedWidth, framed};
  }
  const cimg_imageConst* searchImage = &r.fine;
  if (searched.pixels != r.fine.window.pixels) {
    st = cimg_imageConst_constructWrap(&r.search, searched.pixels, searched.width, searched.height, searched.stride);
    if (CSYS_FAILED(st)) return fail(st);
    r.haveSearch = true;
    searchImage = &r.search;
  }
  // Search coordinates to the image's: back across the frame.
  const cmath_xformLinear imageFromFramed{{1, 0, 0, 1}, {-double(frame), -double(frame)}};

  st = cimg_image_construct(&r.marking, (searched.width + 3) / 4, (searched.height + 3) / 4);
  if (CSYS_FAILED(st)) return fail(st);
  r.haveMarking = true;
  st = r.prepare(mask, options.tune);
  if (CSYS_FAILED(st)) return fail(st);
  mask = r.mask;
  cid2d_trackingParams& params = r.params;
  std::vector<int32_t> lines;
  const int step = options.rowStep < 1 ? 1 : options.rowStep;
  const bool acceptLong = options.longRectangles || options.elongated;
  const bool lookForLong = options.elongated && !options.longRectangles && !options.adaptive;
  std::vector<uint8_t> startMarks;

  // One search image scanned to its end: the framed image (or its smoothed copy), or a view of
  // the image for the long rectangles; finds map back through imageFromSearch (null: identity).
  auto scan = [&](const cimg_imageConst* searchImage, cimg_image* marking, const cmath_xformLinear* imageFromSearch,
                  bool mainScan) -> csys_status {
    lines.clear();
    // The main scan takes the image's own rows: the frame's rows hold no edge to seed on.
    const int32_t top = mainScan ? frame : 0, bottom = mainScan ? frame + height : searchImage->window.height;
    for (int32_t y = top + step / 2; y < bottom; y += step) lines.push_back(y);
    params.scanLines = lines.data();
    params.scanLineCount = static_cast<int32_t>(lines.size());
    params.firstScanLine = 0;
    // In a noisy image the cells where only noise would seed are passed over. The adaptive
    // driver reads the marks' values, so its marking is left to it.
    if (!noisy.empty() && mainScan && !options.adaptive)
      markNoiseCellsInParts(searched, frame, noisy, lines, &marking->window);
    // What the scan starts with, so that the outlines it tracks can be told apart afterwards.
    if (mainScan && lookForLong) {
      const cimg_window& m = marking->window;
      startMarks.resize(static_cast<size_t>(m.width) * m.height);
      for (int32_t y = 0; y < m.height; ++y)
        std::copy_n(m.pixels + static_cast<ptrdiff_t>(y) * m.stride, m.width, startMarks.data() + static_cast<size_t>(y) * m.width);
    }
    const cmath_xformLinear* maskXform = imageFromSearch;
    auto toImage = [imageFromSearch](cmath_vect q) {
      if (imageFromSearch == nullptr) return q;
      const cmath_matrix& m = imageFromSearch->m;
      return cmath_vect{m.a * q.x + m.b * q.y + imageFromSearch->t.x, m.c * q.x + m.d * q.y + imageFromSearch->t.y};
    };
    // A find's seed cell, clear when the driver took the seed there, is marked whatever becomes
    // of the find: the same seed can never come back, so the scan ends.
    auto markSeed = [&] {
      const int32_t cx = r.result.seed.x >> 2, cy = r.result.seed.y >> 2;
      if (cx < 0 || cy < 0 || cx >= marking->window.width || cy >= marking->window.height) return;
      uint8_t& cell = marking->window.pixels[static_cast<ptrdiff_t>(cy) * marking->window.stride + cx];
      if (cell == 0) cell = 1;
    };
    while (options.maxSymbols <= 0 || static_cast<int>(out.symbols.size()) < options.maxSymbols) {
      const int32_t lowContrast = options.lowContrast ? 1 : 0;
      csys_status st = options.adaptive
                           ? cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(searchImage, &params, mask, maskXform,
                                                                                  lowContrast, marking, &r.result)
                           : findNextSymbol(searchImage, &params, mask, maskXform, lowContrast, marking, &r.result);
      ++out.calls;
      if (CSYS_FAILED(st)) return st;
      if (r.result.found == 0) break;
      Symbol s;
      if (options.adaptive) {
        // The L: corner K with the far ends of its two sides; the opposite corner completes the
        // parallelogram. The adaptive search leaves rectangle and score alone, so both are set here.
        const int32_t(*side)[2] = r.result.boundary.sides;
        const cmath_vect k = toImage({double(side[0][0]), double(side[0][1])});
        const cmath_vect shortA = toImage({double(side[1][0]), double(side[1][1])});
        const cmath_vect shortB = toImage({double(side[3][0]), double(side[3][1])});
        cmath_vect a = extendSide(r.fine.window, k, shortA, shortB);
        cmath_vect b = extendSide(r.fine.window, k, shortB, shortA);
        // The same turning order as the plain search's corners: (a - k) x (b - k) not positive.
        if ((a.x - k.x) * (b.y - k.y) - (a.y - k.y) * (b.x - k.x) > 0) std::swap(a, b);
        s.corners = {k, a, cmath_vect{a.x + b.x - k.x, a.y + b.y - k.y}, b};
        cmath_shapeAffineRectPoints p{k, a, b};
        cmath_shapeAffineRect_initPoints(&r.result.rectangle, &p);
        r.result.parallelogram = 1;
        r.result.fourthCorner = s.corners[2];
        r.result.score = 0;
      } else {
        cmath_shapeAffineRectPoints p;
        cmath_shapeAffineRect_getPoints(&r.result.rectangle, &p);
        s.corners = {toImage(p.po), toImage(p.px), toImage(r.result.fourthCorner), toImage(p.py)};
      }
      s.score = r.result.score;
      s.parallelogram = r.result.parallelogram;
      s.line = r.result.line;
      params.firstScanLine = r.result.line;
      const cimg_windowConst& w = r.fine.window;
      BorderLayout layout;
      bool onlyLong = false;
      bool matched = (options.verify || options.fitFarSides) &&
                     matchBorder(w, s.corners, acceptLong, &layout, &onlyLong);
      // The sides fitted to the edges along their whole length give the corners to a fraction of
      // a module, once the border check has placed the L.
      std::array<cmath_vect, 4> refinedCorners = s.corners;
      bool refined = matched && options.fitFarSides && refineCorners(w, layout, &refinedCorners) &&
                     borderHolds(w, refinedCorners, layout);
      // A long rectangle from a shortened view can come with its short sides skewed by a module or
      // two, too far for their few edge points: squared on its long side, it is matched and
      // measured again.
      if (matched && options.fitFarSides && !refined && std::max(layout.rows, layout.cols) > 5 * std::min(layout.rows, layout.cols)) {
        // The L is placed again on the squared corners: a skewed short side can make a wrong L,
        // one taking the alternating short side for solid, score best.
        refinedCorners = s.corners;
        BorderLayout squaredLayout;
        refined = squareOnLongSide(layout, &refinedCorners) &&
                  matchBorder(w, refinedCorners, acceptLong, &squaredLayout) &&
                  refineCorners(w, squaredLayout, &refinedCorners) && borderHolds(w, refinedCorners, squaredLayout);
        if (refined) layout = squaredLayout;
      }
      if (refined) s.corners = refinedCorners;
      // A long rectangle that was not asked for stays one however its far sides are measured,
      // and is dropped.
      const bool refusedLong = onlyLong && options.verify;
      if (options.fitFarSides && !refined && !refusedLong) {
        // Symbols seen at an angle, whose parallelogram strays too far from the far sides: measure
        // those in the image first. With the border check on, the measured corners are kept only
        // when the border shows through them.
        std::array<cmath_vect, 4> fitted = s.corners;
        BorderLayout fittedLayout;
        // A candidate whose first corner is not its L (one from a turned view can be) gets its
        // far sides measured on the wrong sides, and an outline that crosses itself: not kept.
        bool refit = fitFarSides(w, &fitted) && convexQuad(fitted);
        // Clutter with a solid L of its own gets this far and is most of the candidates that do.
        // A symbol's border already shows through the far sides of one fit; over generated scenes
        // of every kind, no candidate whose border failed after one fit passed after two. So with
        // the border check on, only the candidates the first fit has passed get the second.
        if (refit && options.verify) refit = matchBorder(w, fitted, acceptLong, &fittedLayout);
        const bool firstMatched = refit && options.verify;
        const std::array<cmath_vect, 4> firstFit = fitted;
        const BorderLayout firstLayout = fittedLayout;
        // Twice: the second pass starts from far sides that the first has brought close.
        if (refit) fitFarSides(w, &fitted);
        refit = refit && convexQuad(fitted);
        bool fittedMatched = refit && matchBorder(w, fitted, acceptLong, &fittedLayout);
        // On modules of two pixels or so, a clock track's crossings can draw the second pass a
        // module off, and the border no longer shows: the first pass's corners, whose border
        // did, stand then.
        if (firstMatched && !fittedMatched) {
          std::array<cmath_vect, 4> refinedFirst = firstFit;
          if (refineCorners(w, firstLayout, &refinedFirst) && borderHolds(w, refinedFirst, firstLayout)) {
            fitted = refinedFirst;
            fittedLayout = firstLayout;
            refit = fittedMatched = true;
          }
        }
        if (refit && (fittedMatched || !options.verify)) {
          s.corners = fitted;
          s.parallelogram = 0;
          if (fittedMatched) {
            layout = fittedLayout;
            matched = true;
            refineCorners(w, layout, &s.corners);
          }
        }
      }
      // The search may start its parallelogram at any corner of the symbol, and seen at a steep
      // angle the parallelogram's far corner lies too far off for the border to show through it:
      // the sides through that corner, solid or alternating, measured further out.
      if (options.fitFarSides && options.verify && !matched && !refusedLong &&
          fitKeystone(w, acceptLong, &s.corners, &layout)) {
        matched = true;
        s.parallelogram = 0;
      }
      if (options.verify && !matched) {
        // Not claimed, so mark the seed as tried: its outline may cross the next marking cell, and
        // the seed would find the same candidate again.
        const int32_t cx = r.result.seed.x >> 2, cy = r.result.seed.y >> 2;
        if (cx >= 0 && cy >= 0 && cx < marking->window.width && cy < marking->window.height)
          marking->window.pixels[static_cast<ptrdiff_t>(cy) * marking->window.stride + cx] = 1;
        ++out.rejected;
        continue;
      }
      markSeed();
      if (matched) {
        s.rows = layout.rows;
        s.cols = layout.cols;
      }
      if (refined) s.parallelogram = 0;
      out.symbols.push_back(s);

      cid_region region;
      if (options.adaptive) {
        // The adaptive search tests only its seed against the mask, and seeds sit on the symbol's
        // outline: claim the parallelogram grown by a few pixels so they fall inside the claim.
        const cmath_vect& k = s.corners[0];
        const cmath_vect& a = s.corners[1];
        const cmath_vect& b = s.corners[3];
        const double shorter = std::min(std::hypot(a.x - k.x, a.y - k.y), std::hypot(b.x - k.x, b.y - k.y));
        const double grow = shorter > 0 ? 1.0 + 6.0 / shorter : 1.0;
        const cmath_vect c{(a.x + b.x) / 2, (a.y + b.y) / 2};
        auto scaled = [&](const cmath_vect& p) {
          return cmath_vect{c.x + grow * (p.x - c.x), c.y + grow * (p.y - c.y)};
        };
        st = road::claim(mask, {scaled(k), scaled(a), scaled(s.corners[2]), scaled(b)}, true, &region);
      } else {
        st = road::claim(mask, s.corners, s.parallelogram != 0, &region);
      }
      if (CSYS_FAILED(st)) return st;
      // The plain search tests each seed against the mask before anything else; the adaptive
      // driver reads the marks' values, so its marking is left to it.
      if (!options.adaptive && mainScan && !mask->hasImage) markClaimedCells(region, frame, marking);
    }
    return 0;
  };

  // View k of the pixels of part, which lie at offset in the image, scanned with a marking image
  // of its own; the mask, in image coordinates, is shared.
  auto scanView = [&](const cimg_windowConst& part, int k, cmath_vect offset) -> csys_status {
    LongView view;
    csys_status st = makeLongView(part, k, &view);
    if (CSYS_FAILED(st)) return st;
    if (view.width < 16 || view.height < 16) return 0;
    view.imageFromView.t.x += offset.x;
    view.imageFromView.t.y += offset.y;
    // Destructed on every way out, an exception from the scan's own allocations included.
    struct ViewImages {
      cimg_imageConst image{};
      bool haveImage = false;
      cimg_image marking{};
      bool haveMarking = false;
      ~ViewImages() {
        if (haveMarking) cimg_image_destruct(&marking);
        if (haveImage) cimg_imageConst_destruct(&image);
      }
    } v;
    st = cimg_imageConst_constructWrap(&v.image, view.pixels.data(), view.width, view.height, view.width);
    if (CSYS_FAILED(st)) return st;
    v.haveImage = true;
    st = cimg_image_construct(&v.marking, (view.width + 3) / 4, (view.height + 3) / 4);
    if (CSYS_FAILED(st)) return st;
    v.haveMarking = true;
    return scan(&v.image, &v.marking, &view.imageFromView, false);
  };

  st = scan(searchImage, &r.marking, frame > 0 ? &imageFromFramed : nullptr, true);
  if (CSYS_FAILED(st)) return fail(st);
  // The long rectangles the searches dropped: a view round each band of outline they left, turned
  // and shortened along it.
  if (lookForLong) {
    // 8 x 48 of 1.5-pixel modules, with the cell or two the marks add each side across.
    constexpr double kShortestLong = 48 * 1.5, kNarrowestLong = 8 * 1.5 + 4;
    for (const Elongated& band :
         elongatedOutlines(r.marking.window, startMarks, frame, width, height, kShortestLong, kNarrowestLong)) {
      if (options.maxSymbols > 0 && static_cast<int>(out.symbols.size()) >= options.maxSymbols) break;
      if (coveredByFinds(band, out.symbols) || !edgesBothWays(r.fine.window, band)) continue;
      const int k = static_cast<int>(std::lround(band.direction / (kPi / kLongViewCount))) % kLongViewCount;
      const size_t foundBefore = out.symbols.size();
      const int rejectedBefore = out.rejected;
      // A band whose view tracks outlines that fail the border check, and finds nothing, is
      // viewed once more from half a marking cell further in: whether a long symbol's outline is
      // tracked whole in the view depends on where the view's pixels and cells fall on its
      // modules, and the same picture shifted by a pixel or two lost some symbols and found
      // others.
      for (const int32_t shift : {0, kSecondViewShift}) {
        if (shift != 0 && (out.symbols.size() != foundBefore || out.rejected == rejectedBefore)) break;
        const int32_t x0 = std::min(band.x0 + shift, band.x1 - 1), y0 = std::min(band.y0 + shift, band.y1 - 1);
        const cimg_windowConst part{band.x1 - x0, band.y1 - y0, 0, 0, unframed.stride,
                                    unframed.pixels + static_cast<ptrdiff_t>(y0) * unframed.stride + x0};
        st = scanView(part, k, cmath_vect{double(x0), double(y0)});
        if (CSYS_FAILED(st)) return fail(st);
      }
    }
  }
  // The long rectangles the image itself does not show the searches: through the views, each
  // with a marking image of its own; the mask, in image coordinates, is shared.
  for (int k = 0; options.longRectangles && !options.adaptive && k < kLongViewCount; ++k) {
    st = scanView(unframed, k, cmath_vect{0, 0});
    if (CSYS_FAILED(st)) return fail(st);
  }
  return out;
}

}  // namespace dmroad
