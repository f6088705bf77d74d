// The PDF417 road's own locator, for symbols the seed search does not take (long ones, slanted
// ones whose short sides give no straight run, ones in perspective). Every PDF417 row begins
// with the same start pattern and ends with the same stop pattern, so the two patterns form a
// solid-looking column down each side of the symbol whatever its aspect ratio. Parallel lines at
// a few angles are sampled across the image, each line's runs of bar and space are matched
// against both patterns read either way, and the hits are grouped into columns by line, position
// and module size. A line fitted through a column's outer edges gives a side; a start column and
// a stop column facing each other give the left and right sides of the quadrilateral, and the ends
// of the patterns' wide bars, followed along their length, give the top and bottom.
#ifndef IDUT_READER_PDF417_PDFPATTERN_HPP
#define IDUT_READER_PDF417_PDFPATTERN_HPP

#include <array>
#include <cstdint>
#include <vector>

#include "base/cimg.h"
#include "ci_id/mask.h"

namespace pdfroad {

// One pattern matched on one line.
struct PatternHit {
  int family = 0;          // index of the lines' angle
  int line = 0;            // index of the line within its family
  bool stop = false;       // the stop pattern (else the start pattern)
  bool lightBars = false;  // bars lighter than spaces
  bool reversed = false;   // read against the line's direction
  cmath_vect edge{};       // outer edge of the pattern (the symbol's side), image pixels
  cmath_vect wideBar{};    // centre of the pattern's wide bar on the line
  cmath_vect dir{};        // unit direction of reading (from the start pattern towards the stop)
  double module = 0;       // module width along the line, pixels
};

struct PatternScan {
  int families = 4;      // line angles, evenly spread over half a turn
  double spacing = 2;    // distance between parallel lines, pixels
  double minContrast = 12;  // grey levels a line must span near a run for it to be split
};

// Every pattern matched on the lines across the window.
std::vector<PatternHit> scanPatterns(const cimg_windowConst& w, const PatternScan& scan);

// A candidate outline: corners around it, start pattern's side first (top left, top right, bottom
// right, bottom left when the start is on the left), and the number of hits behind it.
struct PatternFind {
  std::array<cmath_vect, 4> corners{};
  int hits = 0;
  int group = 0;  // the start column's index: once one of a group is taken, the others are not
  // Middles of the start and stop columns' wide bars: a candidate either of whose columns lies in a
  // claimed symbol is not taken (the same column seen at another angle, or a neighbour's).
  cmath_vect startMiddle{}, stopMiddle{};
};

struct Outcome;

// The locator on the road: the lines across searched (the image or its smoothed copy), the
// candidates checked in image (hasPdf417Pattern), those whose centre is not claimed yet
// appended to out and claimed in mask.
csys_status findByPatterns(const cimg_imageConst& image, const cimg_windowConst& searched, const PatternScan& scan,
                           cid_mask* mask, Outcome* out);

}  // namespace pdfroad

#endif
