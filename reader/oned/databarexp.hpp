// GS1 DataBar expanded: GS1 element strings in 4 to 22 symbol characters of 17 modules, laid
// out in pairs around finder patterns of 15 modules.
//
// Seen from its first bar a line holds the guard bar, then for each pair a left character, a
// finder and a right character (the last pair may lack its right one), then a one-module element
// and the closing one-module element of the other colour. A pair's characters are read from their
// outer ends towards its finder; the finders of the second, fourth, ... pairs are mirrored. The
// first character is the check character. The sequence of finders is fixed by the number of
// pairs, and a character's weights in the mod-211 check by its finder, its side and its pair.
//
// The other characters carry 12 bits each, which hold the element strings: a linkage bit, an
// encodation method (a compressed GTIN, weights, dates, prices and currencies for the common
// combinations) and a general-purpose field in numeric, alphanumeric and ISO/IEC 646 modes.
//
// The text is "]e0" followed by the element strings, separated (after a variable-length field
// that another follows) by GS (0x1D), as GS1-128 reads; the identifier "]e0".
#ifndef IDUT_READER_ONED_DATABAREXP_HPP
#define IDUT_READER_ONED_DATABAREXP_HPP

#include <array>
#include <string>
#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// Forward direction only, starting at the guard bar widths[start] (odd index).
bool readDataBarExpanded(const std::vector<double>& widths, int start, Read& read);

// The value (0..4095) of one character from its eight module counts, outer end first, or -1
// when the counts are no character.
int dataBarExpandedValue(const std::array<int, 8>& counts);

// The mod-211 weight of element (0..7, outer end first) of the character on `left` or right
// of finder `finder` (0..5 for A..F) in pair `pair` (from 0); 0 for the check character itself.
int dataBarExpandedWeight(int finder, int pair, bool left, int element);

// The finders (0..5 for A..F) of a symbol of `pairs` pairs (2..11), or an empty list.
std::vector<int> dataBarExpandedFinders(int pairs);

// The element strings the data characters' bits carry ("01..." without the identifier, GS
// between fields), checked against the number of symbol characters (check character
// included) where the bits record it. False when the bits follow no encodation.
bool decodeDataBarExpandedBits(const std::vector<int>& values, int symbolCharacters, std::string& text);

}  // namespace oned

#endif
