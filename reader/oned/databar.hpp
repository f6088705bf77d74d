// GS1 DataBar omnidirectional (and truncated, which differs only in height): a 14-digit GTIN in
// four data characters and two finder patterns, 96 modules.
//
// Seen from its first bar the symbol is 45 elements: the guard bar, the outer left character
// (8 elements, 16 modules, read outwards-in), the left finder (5 elements, 15 modules), the inner
// left character (8 elements, 15 modules, read from the centre out), then the right half as the
// left half mirrored: inner right character, right finder, outer right character, a one-module
// space and the closing one-module bar.
//
// A character's value comes from its odd and even elements (first, third, ... in reading order)
// as the rank of their module counts among all the counts its group allows; the group is set by
// the odd (outer) or even (inner) total. The two finders' values carry a mod-79 check over the
// 32 data elements, and the GTIN its own check digit: both must pass.
//
// The text is the GS1 element string "]e001" followed by the 14 digits; the identifier "]e0".
#ifndef IDUT_READER_ONED_DATABAR_HPP
#define IDUT_READER_ONED_DATABAR_HPP

#include <array>
#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// Forward direction only, starting at the guard bar widths[start] (odd index).
bool readDataBar(const std::vector<double>& widths, int start, Read& read);

// A character's eight module counts parted into its bars (odd elements) and spaces (even), each
// with its sum: the value is drawn from the two halves separately.
struct OddEvenCounts {
  std::array<int, 4> odd{}, even{};
  int oddTotal = 0, evenTotal = 0;
};
OddEvenCounts splitOddEven(const std::array<int, 8>& counts);

// The value of one data character from its eight module counts in reading order (outer
// characters 16 modules, inner 15), or -1 when the counts fit no group.
int dataBarCharacterValue(const std::array<int, 8>& counts, bool outer);

// The rank of four module counts summing to their total among all such counts, in increasing
// lexicographic order, with each count at most widest and (requireOne) at least one count of 1;
// -1 when the counts themselves break those rules.
int dataBarRank(const std::array<int, 4>& counts, int widest, bool requireOne);

// The integer counts nearest to four widths w (modules) that sum to total, each at least 1; the
// summed square error in *error. False when some element lies more than 0.75 module off its count.
bool nearestModuleCounts(const double* w, int total, int* counts, double* error);

}  // namespace oned

#endif
