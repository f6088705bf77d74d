// The parts EAN-13, UPC-A, EAN-8, UPC-E and the EAN/UPC add-ons share: the digit patterns of
// seven modules in four elements, the guards, the mod-10 check.
#ifndef IDUT_READER_ONED_EANPARTS_HPP
#define IDUT_READER_ONED_EANPARTS_HPP

#include <string>
#include <vector>

namespace oned {

// Digit d's L code (space, bar, space, bar) is kEanDigits[d], its G code kEanDigits[10 + d].
// The right half of EAN/UPC uses the L widths starting with a bar.
extern const char* const kEanDigits[20];

// The digit at widths[at .. at + 4) of about `module` units a module: 0..9 for an L code,
// 10..19 for a G code (only with gCodes), -1 when none fits clearly or the digit's width is not
// seven modules within a third. margin is lowered to the match's margin.
int eanDigit(const std::vector<double>& widths, int at, bool gCodes, double module, double& margin);

// n elements at widths[at] of one module each, within tolerance (guards and separators).
bool eanGuardFits(const std::vector<double>& widths, int at, int n, double module);

// The GS1 mod-10 check: the last digit checks the others (weights 3, 1, 3, ... from the right).
bool eanCheckOk(const std::string& digits);
int eanCheckDigit(const std::string& digitsWithoutCheck);

}  // namespace oned

#endif
