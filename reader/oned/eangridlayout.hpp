// The symbol layouts read on the module grid (eangrid.hpp) and the reading of one between given
// ends, shared by the search along a line for the ends to read between (eangridends.cpp).
#ifndef IDUT_READER_ONED_EANGRIDLAYOUT_HPP
#define IDUT_READER_ONED_EANGRIDLAYOUT_HPP

#include <vector>

#include "reader/oned/eangrid.hpp"

namespace oned::eangrid {

// The digits before the centre guard take L and G codes, those after it R codes. UPC-E has no
// centre guard: its six digits take L and G codes, whose parities carry the number system and
// the check digit, and its end guard (010101) ends as EAN-13's (101) does, a space and a bar
// before the last bar.
struct Layout {
  int modules, left, right;  // 95, 6 and 6 (EAN-13); 51, 6 and 0 (UPC-E)
  bool upce;
  double centre() const { return modules / 2.0; }
  int digits() const { return left + right; }
  int leftDigit(int i) const { return 3 + 7 * i; }
  int rightDigit(int i) const { return 3 + 7 * left + 5 + 7 * i; }
};
// EAN-8 is left to the edges: without parities, its grid fits inside a longer symbol too often.
inline constexpr Layout kEan13{95, 6, 6, false};
inline constexpr Layout kUpcE{51, 6, 0, true};

// The symbol of the layout between start and end (samples, the symbol running forward along
// the profile), its ends refined on its guards.
bool readLayout(const std::vector<double>& profile, double start, double end, const Layout& layout, GridRead& out);

// How well the two end guards fit with the ends at start and end as they lie: the worse of the
// two, at the blur of those the layout is read at where it is best.
double endsFit(const std::vector<double>& profile, double start, double end, const Layout& layout);

}  // namespace oned::eangrid

#endif
