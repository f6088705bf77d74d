// The Data Matrix main road as a caller runs it: scan lines over the image, a quarter-resolution
// marking image, a mask of claimed symbols, and the driver called again from the line of each
// find until the scan ends. idut-find runs it on image files, and the location tests and
// benchmarks run it on generated scenes.
#ifndef IDUT_READER_DATAMATRIX_DMROAD_HPP
#define IDUT_READER_DATAMATRIX_DMROAD_HPP

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/cimg.h"
#include "ci_id/mask.h"
#include "ci_id/tracking.h"
#include "reader/frontpass.hpp"

namespace dmroad {

struct Options {
  int rowStep = 1;           // scan rows rowStep / 2, rowStep / 2 + rowStep, ... (1: every row)
  bool lowContrast = false;  // the driver's low-contrast flag (row threshold 33 instead of 45)
  // The adaptive-threshold driver instead of the plain one. It reports the symbol's L (corner and
  // the far ends of both solid sides, whole pixels); the road completes it to a parallelogram.
  bool adaptive = false;
  // Stop after this many finds; 0: none, the whole image is searched. The scan needs no cap on
  // its driver calls: every find marks its seed's cell, where no later seed can start, so each
  // scan ends within one call per marking cell.
  int maxSymbols = 0;
  // Check each located candidate for the Data Matrix border pattern (solid L, alternating clock
  // track) before claiming it, as a caller that decodes would; candidates that fail are dropped
  // (and not claimed). Off: every find of the library is reported.
  bool verify = true;
  // Measure the sides in the image and rebuild the corners from them: the two far (alternating)
  // sides first, so a symbol seen at an angle gets its true fourth corner rather than a
  // parallelogram's, then, once the border check has placed the L, all four sides along their
  // whole length (refineCorners), for corners to a fraction of a module. The report's
  // parallelogram flag is then 0.
  bool fitFarSides = true;
  // Accept the long rectangles (8 x 48 to 8 x 144, 12 x 64, 12 x 88: beyond 5 : 1). Off, the
  // border check takes none of them, as the searches take nothing beyond 5 : 1. Those lying near
  // the image axes are found through turned views, which images of more than about 15000
  // pixels a side (square) go without.
  bool longRectangles = false;
  // Accept the long rectangles, and look for those the searches drop (along the image axes, and
  // 8 x 144 at any angle) in turned views round the long, narrow outlines the scan leaves in its
  // marking image (dmelongated.hpp). longRectangles turns the whole image instead.
  bool elongated = true;
  // Search a noisy image through a smoothed copy (3 x 3 binomial), measuring and checking in the
  // original; images with little noise are searched as they are.
  bool denoise = true;
  // Decide where to smooth block by block (dmlocalnoise.hpp) rather than once for the image:
  // for a window of a big image, which may hold noisy and clean labels side by side.
  bool noiseByBlocks = false;
  // The front pass over the image (may be null): its noise estimate and smoothed copy stand in
  // for the road's own when the road searches that image whole.
  idutread::FrontPass* front = nullptr;
  // Search the image inside a frame of background (dmframe.hpp), so that symbols filling the
  // picture or touching its edge are found; otherFrame: in the frame of the other reading of a
  // picture whose edges can be read two ways (Outcome::otherFrame).
  bool frame = true;
  bool otherFrame = false;
  // Changes to the tracking parameters after their defaults are written (scratch, scan lines and
  // first scan line are the road's own and are set afterwards).
  std::function<void(cid2d_trackingParams&)> tune;
};

// One located symbol, in the image's pixel coordinates as the search reports them (pixel (x, y)
// covers [x, x + 1) x [y, y + 1): the half pixel the stored outline adds;
// relative to the image window's origin).
struct Symbol {
  std::array<cmath_vect, 4> corners{};  // Po, Px, Popp, Py: around the outline
  int32_t score = 0;
  int32_t parallelogram = 1;            // 0 when four sides were fitted
  int32_t line = 0;                     // scan line index of the find
  int rows = 0, cols = 0;               // module counts the border check matched (0: not checked)
};

struct Outcome {
  csys_status status = 0;  // the first failure of the road (the symbols found before it are kept)
  std::vector<Symbol> symbols;
  int calls = 0;           // driver calls made
  int rejected = 0;        // finds dropped by the border check
  bool otherFrame = false;  // the image was framed, and its edges can be read another way
  bool smoothed = false;    // the image was taken for noisy and searched through a smoothed copy
};

// Finds every Data Matrix symbol of image. The image is normalised to a window at (0, 0) with an
// identity client transform first (as cid2d_imageMemoryManager does). mask: symbols already
// claimed, in those normalised coordinates; may be null (the road then uses a mask of its own).
// Every symbol found is appended to the mask in use.
Outcome findAll(const cimg_imageConst& image, const Options& options = {}, cid_mask* mask = nullptr);

}  // namespace dmroad

#endif
