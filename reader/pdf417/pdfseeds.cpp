#include "reader/pdf417/pdfseeds.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "ci_id/pdpdriver.h"
#include "ci_id/scanwalk.h"
#include "reader/pdf417/pdfcheck.hpp"
#include "reader/pdf417/pdfmerge.hpp"
#include "reader/roadbase.hpp"

namespace pdfroad {

namespace {

// The edge scan's peaks, destructed whatever way the search leaves.
struct Peaks {
  cstd_vector_cidc_peakIDFixedX_4 peaks{};
  bool have = false;
  ~Peaks() {
    if (have) cstd_vector_cidc_peakIDFixedX_4_destruct(&peaks);
  }
};

// One image the driver searches: the image (or its smoothed copy), or its transposition, with a
// marking image of its own. Owns both.
struct SearchImage {
  std::vector<uint8_t> pixels;  // empty when wrapping the caller's pixels
  cimg_imageConst image{};
  bool haveImage = false;
  cimg_image marking{};
  bool haveMarking = false;
  bool transposed = false;
  SearchImage() = default;
  SearchImage(const SearchImage&) = delete;
  SearchImage& operator=(const SearchImage&) = delete;
  ~SearchImage() {
    if (haveMarking) cimg_image_destruct(&marking);
    if (haveImage) cimg_imageConst_destruct(&image);
  }
  csys_status wrap(const uint8_t* data, int32_t width, int32_t height, int32_t stride) {
    csys_status st = cimg_imageConst_constructWrap(&image, data, width, height, stride);
    if (CSYS_FAILED(st)) return st;
    haveImage = true;
    st = cimg_image_construct(&marking, (width + 3) / 4, (height + 3) / 4);
    if (CSYS_FAILED(st)) return st;
    haveMarking = true;
    return 0;
  }
};

// Edge threshold: at least kMinThreshold (a clean step of about 12 grey levels), and far enough
// above the noise's response (the row operator's response to noise of deviation s has deviation
// about 14 s) that noise seldom breaks up a bar.
constexpr int32_t kMinThreshold = 192;
constexpr double kThresholdPerNoise = 40.0;

// The edges of one row as the driver takes them: the column of the pixel just before each edge,
// negative for edges that turn darker along the row.
csys_status rowEdges(const cimg_imageConst& image, const cidc_windowROI& roi, int32_t row, int32_t threshold,
                     cstd_vector_cidc_peakIDFixedX_4* peaks, std::vector<int16_t>* edges) {
  edges->clear();
  cidc_unitDir16 dir;
  csys_status st = cidc_unitDir16_initVect(&dir, 65536, 0);
  if (CSYS_FAILED(st)) return st;
  const cidc_vect64_4 point{0, 16 * static_cast<int64_t>(row) + 8};
  cidc_scanLine line;
  st = cidc_scanLine_initPointDir(&line, &point, &dir);
  if (CSYS_FAILED(st)) return st;
  cidc_scanShape shape;
  st = cidc_scanShape_initScanLine(&shape, &line);
  if (CSYS_FAILED(st)) return st;
  const int16_t gradient[2] = {32, 0};
  const cidc_edgeScanParams params{threshold};
  cstd_vector_cidc_peakIDFixedX_4_clear(peaks);
  cidc_scanLineSeg out;
  st = cidc_runEdgeScan(&image, &roi, &params, &shape, gradient, peaks, &out);
  if (CSYS_FAILED(st)) return st;
  const cidc_peakIDFixedX_4 *p, *end;
  cstd_vector_cidc_peakIDFixedX_4_getBeginEndConst(peaks, &p, &end);
  for (ptrdiff_t i = 0; i < end - p; ++i) {
    // Positions are in 1/16 pixel with pixel c covering [16c, 16c + 16): the pixel before an
    // edge at position e is the one whose centre lies just before it.
    const int64_t column = (p[i].position - 8) >> 4;
    if (column < 1 || column > 32767) continue;
    edges->push_back(static_cast<int16_t>(p[i].value > 0 ? column : -column));
  }
  return 0;
}

cmath_vect transposedPoint(const cmath_vect& p) { return cmath_vect{p.y, p.x}; }

// Whether edge k begins a run of five elements that the driver could have taken for its pattern:
// alternating edges, the first two and the last two elements about as wide as each other. Tells
// the driver's seed from the other edges of its marking cell.
bool startsPattern(const std::vector<int16_t>& e, size_t k) {
  if (k + 5 >= e.size()) return false;
  int32_t w[5];
  for (int i = 0; i < 5; ++i) {
    if ((e[k + i] > 0) == (e[k + i + 1] > 0)) return false;
    w[i] = std::abs(e[k + i + 1]) - std::abs(e[k + i]);
  }
  const int32_t tol = std::max(2, (w[0] + w[1] + w[3] + w[4] + 4) / 8);
  return std::abs(w[0] - w[1]) <= tol && std::abs(w[3] - w[4]) <= tol;
}

}  // namespace

csys_status findBySeeds(road::Base& r, const uint8_t* pixels, int32_t stride, double noise, const Options& options,
                        Outcome* outcome) {
  Outcome& out = *outcome;
  const cimg_windowConst& fine = r.fine.window;
  const int32_t width = fine.width, height = fine.height;
  const int32_t threshold = options.edgeThreshold > 0
                                ? options.edgeThreshold
                                : std::max(kMinThreshold, static_cast<int32_t>(kThresholdPerNoise * noise));
  cid_mask* mask = r.mask;
  Peaks peaks;
  csys_status st = cstd_vector_cidc_peakIDFixedX_4_constructEmpty(&peaks.peaks);
  if (CSYS_FAILED(st)) return st;
  peaks.have = true;
  cid2d_trackingParams& params = r.params;
  const int step = std::max(1, options.rowStep), gap = std::max(1, options.neighbourRows);
  const int32_t singleTry = options.singleTry ? 1 : 0;
  // Scans one search image to its end. Its mask coordinates are the image's; a transposed
  // image maps its points through the transposition.
  auto scan = [&](SearchImage& search) -> csys_status {
    const cimg_windowConst& sw = search.image.window;
    cidc_windowROI roi;
    csys_status st = cidc_windowROI_initCorner(&roi, sw.width, sw.height, 0, 0, 1, 1);
    if (CSYS_FAILED(st)) return st;
    std::vector<int32_t> lines;
    for (int32_t y = gap + 3 + step / 2; y + gap + 1 < sw.height; y += step) lines.push_back(y);
    if (lines.empty()) return 0;
    params.scanLines = lines.data();
    params.scanLineCount = static_cast<int32_t>(lines.size());
    cmath_xformLinear transpose;
    cmath_matrix swap{0, 1, 1, 0};
    const cmath_vect zero{0, 0};
    cmath_xformLinear_initMatrixTrans(&transpose, &swap, &zero);
    const cmath_xformLinear* maskXform = search.transposed ? &transpose : nullptr;
    // Edges of each row once, however many lines use them.
    std::vector<std::vector<int16_t>> edges(static_cast<size_t>(sw.height));
    std::vector<char> haveEdges(static_cast<size_t>(sw.height), 0);
    auto edgesOf = [&](int32_t row, const std::vector<int16_t>** list) -> csys_status {
      if (!haveEdges[row]) {
        csys_status st = rowEdges(search.image, roi, row, threshold, &peaks.peaks, &edges[row]);
        if (CSYS_FAILED(st)) return st;
        haveEdges[row] = 1;
      }
      *list = &edges[row];
      return 0;
    };
    MergedViews merged(search.image);
    // A located symbol: checked, recorded and claimed. Its corners are in search-image pixels.
    auto report = [&](Symbol s) -> csys_status {
      if (search.transposed)
        for (cmath_vect& c : s.corners) c = transposedPoint(c);
      s.transposed = search.transposed;
      if (options.verify && !hasPdf417Pattern(r.fine, &s.corners)) {
        ++out.rejected;
        return 0;
      }
      out.symbols.push_back(s);
      // The check turns the corners round the outline, so any three in a row span the claim.
      return road::claim(mask, s.corners, s.parallelogram != 0);
    };
    const cimg_window& mw = search.marking.window;
    std::vector<uint8_t> marksBefore(static_cast<size_t>(mw.width));
    for (size_t i = 0; i < lines.size();) {
      if (static_cast<int>(out.symbols.size()) >= options.maxSymbols || out.calls >= options.maxCalls) return 0;
      const int32_t row = lines[i];
      const std::vector<int16_t>*here, *above, *below;
      if (CSYS_FAILED(st = edgesOf(row, &here)) || CSYS_FAILED(st = edgesOf(row - gap, &above)) ||
          CSYS_FAILED(st = edgesOf(row + gap, &below)))
        return st;
      if (here->size() < 6) {
        ++i;
        continue;
      }
      uint8_t* marks = mw.pixels + static_cast<ptrdiff_t>(row >> 2) * mw.stride;
      std::copy(marks, marks + mw.width, marksBefore.begin());
      params.firstScanLine = static_cast<int32_t>(i);
      st = cf_BndFindNextPDP(&search.image, &params, mask, nullptr, maskXform, &search.marking, singleTry,
                             here->data(), above->data(), below->data(), static_cast<int32_t>(here->size()),
                             static_cast<int32_t>(above->size()), static_cast<int32_t>(below->size()), &r.result);
      ++out.calls;
      if (CSYS_FAILED(st)) return st;
      const bool found = r.result.found != 0;
      if (!options.merge && found) {
        Symbol s;
        cmath_shapeAffineRectPoints p;
        cmath_shapeAffineRect_getPoints(&r.result.rectangle, &p);
        s.corners = {p.po, p.px, r.result.fourthCorner, p.py};
        s.parallelogram = r.result.parallelogram;
        s.score = r.result.score;
        s.line = r.result.line;
        if (CSYS_FAILED(st = report(s))) return st;
      }
      if (options.merge) {
        // Every seed the driver tracked on this line marked its cell, found or not: each is a
        // confirmed pattern, grown on a merged copy (where the driver's own find, a block of
        // bars, gives way to the whole symbol).
        for (int32_t cx = 0; cx < mw.width; ++cx) {
          if (marksBefore[cx] != 0 || marks[cx] == 0) continue;
          for (size_t k = 0; k < here->size(); ++k) {
            const int32_t x = std::abs((*here)[k]);
            if (x >> 2 != cx || !startsPattern(*here, k)) continue;
            Symbol s;
            bool grown = false, fitted = false;
            st = merged.grow(params, *here, row, x, mask, maskXform, singleTry, &r.result, &s.corners, &fitted,
                             &grown);
            if (CSYS_FAILED(st)) return st;
            if (!grown) continue;
            s.parallelogram = fitted ? 0 : r.result.parallelogram;
            s.score = r.result.score;
            s.line = static_cast<int32_t>(i);
            if (CSYS_FAILED(st = report(s))) return st;
            break;
          }
        }
      }
      if (!found) ++i;  // the line is done; a find is followed by another look at the same line
    }
    return 0;
  };

  SearchImage direct;
  st = direct.wrap(pixels, width, height, stride);
  if (CSYS_FAILED(st)) return st;
  st = scan(direct);
  if (CSYS_FAILED(st) || !options.transposed) return st;
  SearchImage across;
  across.transposed = true;
  across.pixels.resize(static_cast<size_t>(width) * height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      across.pixels[static_cast<size_t>(x) * height + y] = pixels[static_cast<ptrdiff_t>(y) * stride + x];
  st = across.wrap(across.pixels.data(), height, width, height);
  if (CSYS_FAILED(st)) return st;
  return scan(across);
}

}  // namespace pdfroad
