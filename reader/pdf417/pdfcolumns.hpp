// The pattern locator's second stage: hits grouped into columns, a line fitted down each, start
// and stop columns paired, and the ends of the wide bars for the top and bottom. A column with no
// partner still outlines a candidate reaching across the image from it: compact PDF417 ends in a
// single bar, and a stop pattern may be written over or cut off (the start pattern likewise).
#ifndef IDUT_READER_PDF417_PDFCOLUMNS_HPP
#define IDUT_READER_PDF417_PDFCOLUMNS_HPP

#include <array>
#include <vector>

#include "reader/pdf417/pdfpattern.hpp"

namespace pdfroad {

// A candidate outline: corners around it, start side first when there is one (its end towards
// the first hit, then the far side at that end, the far side's other end, the start side's other
// end); a lone stop column's outline begins on the far side it reaches to.
struct PatternFind {
  enum class Kind { pair, startOnly, stopOnly };
  Kind kind = Kind::pair;
  std::array<cmath_vect, 4> corners{};
  int hits = 0;
  bool lightBars = false;  // the columns' polarity
  double module = 0;       // the module across the start column (the lone column), pixels
  int group = 0;  // the column's index: once one of a group is taken, the others are not
  // Middles of the start and stop columns' wide bars (the one column's for a lone one): a
  // candidate either of whose columns lies in a claimed symbol is not taken (the same column
  // seen by the other family of lines, or a neighbour's).
  cmath_vect startMiddle{}, stopMiddle{};
};

// Groups the hits into columns, pairs start columns with stop columns and builds the outline of
// each pair, several per start column (the nearest stop columns first), best supported first;
// then the outlines of every start and every stop column on its own, best supported first.
// The caller checks and claims them.
std::vector<PatternFind> outlinesFromHits(const cimg_windowConst& w, const PatternScan& scan,
                                          const std::vector<PatternHit>& hits);

}  // namespace pdfroad

#endif
