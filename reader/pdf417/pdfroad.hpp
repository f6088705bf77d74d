// The PDF417 road as a caller runs it. The image's rows and columns are read as lines; the start
// and stop patterns along them form columns down the symbols' sides (pdfpattern.hpp,
// pdfcolumns.hpp); a start column and a stop column facing each other outline a candidate, and
// so does a column on its own (compact PDF417, a pattern written over or cut off). Each candidate
// is read, and the reading decides: a symbol read takes the outline its lines and row indicators
// saw; a pair of columns that does not read is still reported, with the reason, when the start
// and stop patterns show along its rows; a lone column that does not read is dropped. What is
// taken is claimed in a mask, so that the other candidates of its columns are not tried.
#ifndef IDUT_READER_PDF417_PDFROAD_HPP
#define IDUT_READER_PDF417_PDFROAD_HPP

#include <array>
#include <cstdint>
#include <vector>

#include "base/cimg.h"
#include "ci_id/mask.h"
#include "reader/frontpass.hpp"
#include "reader/pdf417/pdfread.hpp"

namespace pdfroad {

struct Options {
  int rowStep = 2;         // pixels between the rows (and the columns) read as pattern lines
  // Read every pair of columns (lone columns are always read: only a reading confirms them).
  // Off: a pair is taken unread when its patterns show along its rows.
  bool decode = true;
  // Search a noisy image through a smoothed copy too; check, read and measure in the original.
  bool denoise = true;
  // Stop after this many finds; 0: none, the whole image is searched.
  int maxSymbols = 0;
  // Sides of the symbols taken, pixels: the shorter at least minSide, the longer at most maxSide
  // (0: no bound).
  int minSide = 0, maxSide = 0;
  // The front pass over the image (may be null): its noise estimate and smoothed copy stand in
  // for the road's own.
  idutread::FrontPass* front = nullptr;
};

// One located symbol, in the image's pixel coordinates (pixel (x, y) covers [x, x + 1) x
// [y, y + 1); relative to the image window's origin).
struct Symbol {
  // Around the outline, from the start pattern's top along the rows: top left, top right (stop
  // pattern), bottom right, bottom left.
  std::array<cmath_vect, 4> corners{};
  int32_t score = 0;                    // pattern hits down its columns
  bool readTried = false;               // reading holds the road's reading of the symbol
  pdf417::Reading reading;
};

struct Outcome {
  csys_status status = 0;  // the first failure of the road (the symbols found before it are kept)
  std::vector<Symbol> symbols;
  int candidates = 0;      // outlines tried
  int rejected = 0;        // candidates dropped: not read, and no pattern check to vouch for them
};

// Finds every PDF417 symbol of image. The image is normalised to a window at (0, 0) with an
// identity client transform first. mask: symbols already claimed, in those normalised
// coordinates; may be null (the road then uses a mask of its own). Every symbol found is
// appended to the mask in use.
Outcome findAll(const cimg_imageConst& image, const Options& options = {}, cid_mask* mask = nullptr);

}  // namespace pdfroad

#endif
