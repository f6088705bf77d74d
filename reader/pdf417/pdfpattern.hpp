// The PDF417 road's pattern lines. Every PDF417 row begins with the same start pattern and ends
// with the same stop pattern, so the two patterns form a solid-looking column down each side of
// the symbol whatever its aspect ratio, and a line crossing that column at any angle sees the
// pattern's bars in their proportions (stretched alike) as long as it stays inside the symbol
// for the pattern's length. The image's rows and its columns are read as such lines, every few
// pixels, straight from the pixels: a symbol at any angle crosses one family of them within 45
// degrees of its rows. A short symbol near 45 degrees lets a line across it leave through its
// top or bottom before the pattern ends, so the two diagonals are read too, further apart, pixel
// by pixel along them. Each line's runs of bar and space are matched against both patterns read
// either way and in either polarity; the hits are grouped into columns (pdfcolumns.hpp).
#ifndef IDUT_READER_PDF417_PDFPATTERN_HPP
#define IDUT_READER_PDF417_PDFPATTERN_HPP

#include <array>
#include <cstdint>
#include <vector>

#include "base/cimg.h"

namespace pdfroad {

// One pattern matched on one line.
struct PatternHit {
  int family = 0;          // the line is 0: an image row, 1: an image column, 2: a diagonal down
                           // to the right (x - y constant), 3: one up to the right (x + y constant)
  int line = 0;            // index of the line within its family
  bool stop = false;       // the stop pattern (else the start pattern)
  bool lightBars = false;  // bars lighter than spaces
  bool reversed = false;   // read against the line's direction
  bool atBorder = false;   // the pattern's outer bar touches the image's border (no quiet zone seen)
  cmath_vect edge{};       // outer edge of the pattern (the symbol's side), image pixels
  cmath_vect wideBar{};    // centre of the pattern's wide bar on the line
  cmath_vect dir{};        // unit direction of reading (from the start pattern towards the stop)
  double module = 0;       // module width along the line, pixels
};

inline constexpr int kLineFamilies = 4;
// Lines of one family apart (gaps where a line missed the pattern) that still join two hits of one
// column.
inline constexpr int kLineReach = 4;

struct PatternScan {
  int spacing = 2;          // pixels between neighbouring rows read, and columns
  int diagonalStep = 4;     // pixels along the image's rows between neighbouring diagonals
  double minContrast = 12;  // grey levels a line must span near a run for it to be split
  // -1: every line of each family; 0 or 1: only the lines whose index within their family has
  // that parity (half the lines, to look for any pattern at all at half the cost).
  int parity = -1;
  // When not null, only the lines flagged here, by family and index within the family (a line past
  // its family's flags is not read), instead of parity's.
  const std::array<std::vector<uint8_t>, kLineFamilies>* only = nullptr;
  // Distance between neighbouring lines of a family, pixels.
  double lineSpacing(int family) const { return family < 2 ? spacing : diagonalStep * 0.70710678118654752; }
};

// Runs of bar and space along one line of grey levels: run i spans [edges[i], edges[i + 1]) in
// samples and is dark when dark[i]. The first run begins at sample 0 and the last ends at the
// line's end. Thresholds are halfway between the darkest and lightest samples within about 40
// samples, held where that span is below minContrast (inside a wide bar, on plain background).
struct LineRuns {
  std::vector<float> edges;
  std::vector<uint8_t> dark;
  size_t count() const { return dark.size(); }
  float width(size_t i) const { return edges[i + 1] - edges[i]; }
};
void runsOf(const uint8_t* samples, int count, double minContrast, LineRuns* runs);

// A pattern found among a line's runs, in samples along the line.
struct LineMatch {
  bool stop = false, lightBars = false, reversed = false, atBorder = false;
  float edge = 0;     // outer edge of the pattern
  float wideBar = 0;  // centre of its wide bar
  float module = 0;
};
// Every start and stop pattern among the runs, either way and either polarity: a pattern needs
// its quiet zone (a module and a half of space) outside, or the line's end.
void matchRuns(const LineRuns& runs, std::vector<LineMatch>* matches);

// Every pattern matched on the rows and columns of the window, by family, then line, then along
// the line.
std::vector<PatternHit> scanPatterns(const cimg_windowConst& w, const PatternScan& scan);

// The hits of the two halves of a scan (parity 0 and 1) in the order the whole scan gives them.
std::vector<PatternHit> mergeHalves(const std::vector<PatternHit>& even, const std::vector<PatternHit>& odd);

// The second half of scans whose first half (parity 0) is read: only its lines within kLineReach
// of a hit of their family, then those within reach of the hits these give, until none is new.
// Every hit that a chain of hits, each within reach of the next, ties to a first-half hit is
// found, so every column the whole scan would join that holds a first-half hit; the lines far
// from any hit (most of an image, all of most images' where a 1D barcode's bars match a pattern
// on a line here and there) are not read. Source i is windows[i] read as scans[i] (the image and
// a smoothed copy of it); all get the same lines. halves[i] holds source i's first half on entry
// and its whole scan, in mergeHalves' order, on return.
void scanSecondHalfNear(const std::vector<cimg_windowConst>& windows, const std::vector<PatternScan>& scans,
                        std::vector<std::vector<PatternHit>>* halves);

}  // namespace pdfroad

#endif
