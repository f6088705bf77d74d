// The PDF417 main road as a caller runs it: rows of the image as scan lines, the edges found
// along each row and along the rows a little above and below it, the driver that looks for the
// narrow-wide-narrow run of the stop pattern among those edges and tracks the symbol from there,
// the find claimed in a mask, and the driver called again on the same line until it finds nothing
// more. Symbols whose rows run closer to the image's columns are found on a transposed copy
// scanned the same way. idut-find runs it on image files, and the location tests and
// benchmarks run it on generated scenes.
#ifndef IDUT_READER_PDF417_PDFROAD_HPP
#define IDUT_READER_PDF417_PDFROAD_HPP

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/cimg.h"
#include "ci_id/mask.h"
#include "ci_id/tracking.h"

namespace pdfroad {

struct Options {
  int rowStep = 2;         // scan rows rowStep / 2, rowStep / 2 + rowStep, ... (1: every row)
  int neighbourRows = 2;   // distance of the rows above and below whose edges confirm a pattern
  // Edge scan threshold (peak value: four times the Sobel response). 0: chosen from the image's
  // noise, so that noise alone seldom makes an edge.
  int edgeThreshold = 0;
  bool transposed = true;  // also scan the image's columns (as rows of a transposed copy)
  // Grow each find of the driver into the whole symbol on a merged copy of the image (see
  // road/pdfmerge.hpp). Off: the driver's finds are taken as they are.
  bool merge = true;
  // Check each find for a start or stop pattern along its rows before claiming it, as a caller
  // that decodes would; finds that fail are dropped (and not claimed). Off: every find of the
  // library is reported.
  bool verify = true;
  // Search a noisy image through a smoothed copy; check and measure in the original.
  bool denoise = true;
  // The searches' single-try flag. Set, an outline of four straight runs that is too large for
  // the direct four-side fit (chords of 3 to 7 pixels) goes on to the hull construction; clear,
  // only small symbols of four runs are taken. A merged symbol is mostly four runs.
  bool singleTry = true;
  // Look for the start and stop patterns along lines across the image first (road/pdfpattern.hpp),
  // claiming what they outline before the seed search runs.
  bool patterns = true;
  // Stop after this many finds; 0: none, the whole image is searched. The scan needs no cap on
  // its driver calls: every find's seed cell is marked, where the driver seeds no more, so a
  // line is scanned again only while its finds use up new edges.
  int maxSymbols = 0;
  // Changes to the tracking parameters after their defaults are written (scratch, scan lines and
  // first scan line are the road's own and are set afterwards).
  std::function<void(cid2d_trackingParams&)> tune;
};

// One located symbol, in the image's pixel coordinates (pixel (x, y) covers [x, x + 1) x
// [y, y + 1); relative to the image window's origin).
struct Symbol {
  std::array<cmath_vect, 4> corners{};  // around the outline; with verify on, from the start
                                        // pattern's top along the rows: top left, top right
                                        // (stop pattern), bottom right, bottom left
  int32_t score = 0;
  int32_t parallelogram = 1;            // 0 when the fourth corner was located on its own
  int32_t line = 0;                     // scan line index of the find
  bool transposed = false;              // found scanning the columns
};

struct Outcome {
  csys_status status = 0;  // the first failure of the road (the symbols found before it are kept)
  std::vector<Symbol> symbols;
  int calls = 0;           // driver calls made
  int rejected = 0;        // finds dropped by the pattern check
};

// Finds every PDF417 symbol of image. The image is normalised to a window at (0, 0) with an
// identity client transform first. mask: symbols already claimed, in those normalised
// coordinates; may be null (the road then uses a mask of its own). Every symbol found is
// appended to the mask in use.
Outcome findAll(const cimg_imageConst& image, const Options& options = {}, cid_mask* mask = nullptr);

}  // namespace pdfroad

#endif
