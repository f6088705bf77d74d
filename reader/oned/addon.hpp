// The 2- and 5-digit add-ons printed to the right of an EAN-13, UPC-A, UPC-E or EAN-8 symbol
// (a periodical's issue, a book's price): guard 1011, digits in L or G codes separated by 01.
// The 2-digit add-on carries its value mod 4 in the parities, the 5-digit one a weighted check
// digit; neither is a strong check, so the road reports an add-on only when lines agree on it.
#ifndef IDUT_READER_ONED_ADDON_HPP
#define IDUT_READER_ONED_ADDON_HPP

#include <string>
#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// The add-on after the symbol whose last bar is widths[lastBar] and whose module is `module`
// units: its digits, or empty when none follows within 5 to 14 modules.
std::string readAddOn(const std::vector<double>& widths, int lastBar, double module);

// How far past its symbol's last bar an add-on of `digits` digits ends at most, in modules: the
// widest gap, the guard, the digits and their separators.
double addOnReachModules(size_t digits);

// The modules from the first bar to the last of the symbols an add-on follows (EAN-13 and UPC-A,
// EAN-8, UPC-E), 0 for the others.
int eanUpcModules(Symbology symbology);

}  // namespace oned

#endif
