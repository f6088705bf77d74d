// The parts EAN-13, UPC-A, EAN-8, UPC-E and the EAN/UPC add-ons share: the digit patterns of
// seven modules in four elements, the guards, the mod-10 check.
//
// Digits are told apart by their edge-to-similar-edge distances (a bar and the space after it,
// a space and the bar after it), which a print or a blur that widens every bar by the same
// amount leaves alone: on phone photographs bars often come out half a module wider than their
// spaces. Those distances are the same for 1 and 7 and for 2 and 8 (in either code set); such a
// digit is settled by the width of its two bars, after the widening that the symbol's other
// digits show has been taken off.
#ifndef IDUT_READER_ONED_EANPARTS_HPP
#define IDUT_READER_ONED_EANPARTS_HPP

#include <string>
#include <vector>

namespace oned {

// Digit d's L code (space, bar, space, bar) is kEanDigits[d], its G code kEanDigits[10 + d].
// The right half of EAN/UPC uses the L widths starting with a bar.
extern const char* const kEanDigits[20];

// Where one digit of a symbol lies: its first element's index, whether G codes may stand there,
// and whether its first element is a bar (right-hand digits) or a space.
struct EanDigitAt {
  int at = 0;
  bool gCodes = false;
  bool firstIsBar = false;
};

// Whether digits (and their parities, 1 = G code, the first digit in the highest bit) make a
// valid symbol: the reader's parity rules and check digit.
using EanValidator = bool (*)(const std::string& digits, int parity, const void* context);

// The digits at the places given, of about `module` units a module. A digit whose best pattern
// leads the next by too little to decide alone (or a 1/7, 2/8 pair its bars cannot settle) has
// two candidates; up to kMaxUncertainDigits such digits are allowed, and the symbol reads only
// when exactly one combination of candidates passes the validator: the check digit decides, as
// it is there to, and never has a choice of two. False when a digit fits no pattern, a digit's
// width is not seven modules within a third, or no combination or more than one is valid.
// digits and parity receive the valid combination; margin the worst digit's lead.
inline constexpr int kMaxUncertainDigits = 2;
bool decodeEanDigits(const std::vector<double>& widths, const std::vector<EanDigitAt>& places, double module,
                     EanValidator valid, const void* context, std::string& digits, int& parity, double& margin);

// n elements at widths[at] of one module each, within tolerance (guards and separators).
bool eanGuardFits(const std::vector<double>& widths, int at, int n, double module);

// Whether the light before the start guard at widths[at] (at >= 1, three elements after it) can
// be a quiet zone of quietModules where the guard fits: eanGuardFits allows no guard element
// above 2 modules, so the light must be some quietModules / 2 times the widest of them (a
// little less, so that rounding never turns a symbol away). A reader checks it before summing
// the whole symbol's widths.
bool quietBeforeGuardMayFit(const std::vector<double>& widths, int at, double quietModules);

// The GS1 mod-10 check: the last digit checks the others (weights 3, 1, 3, ... from the right).
bool eanCheckOk(const std::string& digits);
int eanCheckDigit(const std::string& digitsWithoutCheck);

}  // namespace oned

#endif
