// The PDF417 road as a caller runs it. The image's rows and columns are read as lines; the start
// and stop patterns along them form columns down the symbols' sides (pdfpattern.hpp,
// pdfcolumns.hpp); a start column and a stop column facing each other outline a candidate, and
// so does a column on its own (compact PDF417, a pattern written over or cut off). Each candidate
// is read, and the reading decides: a symbol read takes the outline its lines and row indicators
// saw; a pair of columns that does not read is still reported, with the reason, when the start
// and stop patterns show along its rows; a lone column that does not read is dropped. What is
// taken is claimed in a mask, so that the other candidates of its columns are not tried.
// Optionally the library's edge-seeded driver then searches the rows too (pdfseeds.cpp).
#ifndef IDUT_READER_PDF417_PDFROAD_HPP
#define IDUT_READER_PDF417_PDFROAD_HPP

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/cimg.h"
#include "ci_id/mask.h"
#include "ci_id/tracking.h"
#include "reader/pdf417/pdfread.hpp"

namespace pdfroad {

struct Options {
  int rowStep = 2;         // pixels between the rows (and the columns) read as pattern lines
  // Read every candidate, and take the outline of what reads. Off: pairs of columns are taken
  // when their patterns show along the rows, unread; lone columns, which only a reading
  // confirms, are still read.
  bool decode = true;
  // Search a noisy image through a smoothed copy; check, read and measure in the original.
  bool denoise = true;
  int maxSymbols = 64;     // stop after this many finds

  // The edge-seeded driver after the pattern lines (off by default: the pattern lines find what
  // it finds). Its settings:
  bool seeds = false;
  int neighbourRows = 2;   // distance of the rows above and below whose edges confirm a pattern
  // Edge scan threshold (peak value: four times the Sobel response). 0: chosen from the image's
  // noise, so that noise alone seldom makes an edge.
  int edgeThreshold = 0;
  bool transposed = true;  // also scan the image's columns (as rows of a transposed copy)
  // Grow each find of the driver into the whole symbol on a merged copy of the image (see
  // pdfmerge.hpp). Off: the driver's finds are taken as they are.
  bool merge = true;
  // Check each find of the driver for a start or stop pattern along its rows before claiming it;
  // finds that fail are dropped (and not claimed). Off: every find of the library is reported.
  bool verify = true;
  // The searches' single-try flag. Set, an outline of four straight runs that is too large for
  // the direct four-side fit (chords of 3 to 7 pixels) goes on to the hull construction; clear,
  // only small symbols of four runs are taken. A merged symbol is mostly four runs.
  bool singleTry = true;
  int maxCalls = 100000;   // driver calls at most
  // Changes to the tracking parameters after their defaults are written (scratch, scan lines and
  // first scan line are the road's own and are set afterwards).
  std::function<void(cid2d_trackingParams&)> tune;
};

// One located symbol, in the image's pixel coordinates (pixel (x, y) covers [x, x + 1) x
// [y, y + 1); relative to the image window's origin).
struct Symbol {
  // Around the outline, from the start pattern's top along the rows: top left, top right (stop
  // pattern), bottom right, bottom left.
  std::array<cmath_vect, 4> corners{};
  int32_t score = 0;
  int32_t parallelogram = 0;            // 0 when the fourth corner was located on its own
  int32_t line = 0;                     // the driver's scan line of a seeded find
  bool transposed = false;              // a seeded find on the transposed copy
  bool readTried = false;               // reading holds the road's reading of the symbol
  pdf417::Reading reading;
};

struct Outcome {
  csys_status status = 0;  // the first failure of the road (the symbols found before it are kept)
  std::vector<Symbol> symbols;
  int candidates = 0;      // outlines tried
  int calls = 0;           // driver calls made
  int rejected = 0;        // candidates dropped: not read, and no pattern check to vouch for them
};

// Finds every PDF417 symbol of image. The image is normalised to a window at (0, 0) with an
// identity client transform first. mask: symbols already claimed, in those normalised
// coordinates; may be null (the road then uses a mask of its own). Every symbol found is
// appended to the mask in use.
Outcome findAll(const cimg_imageConst& image, const Options& options = {}, cid_mask* mask = nullptr);

}  // namespace pdfroad

#endif
