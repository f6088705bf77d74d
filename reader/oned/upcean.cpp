// EAN-13, UPC-A and EAN-8: guards 101, digits of 7 modules in two elements pairs, a centre guard
// 01010 and a mod-10 check digit. The left half of EAN-13 carries its first digit in the
// parity (L or G code) of its six digits.
#include <algorithm>

#include "reader/oned/match.hpp"
#include "reader/oned/upcean.hpp"
#include "reader/oned/addon.hpp"
#include "reader/oned/eanparts.hpp"

namespace oned {

namespace {

// Parity of the six left digits (bit 5 the first, 1 = G) for first digit 0..9.
constexpr int kFirstDigitParity[10] = {0x00, 0x0B, 0x0D, 0x0E, 0x13, 0x19, 0x1C, 0x15, 0x16, 0x1A};
// Quiet zones are 7 to 11 modules; a photograph cropped to the symbol keeps less of them, and
// the guards and the check digit still decide without.
constexpr double kQuietModules = 3;

// The first digit of an EAN-13 from the left half's parities, or -1.
int firstDigitOf(int leftParity) {
  const int* first = std::find(kFirstDigitParity, kFirstDigitParity + 10, leftParity);
  return first == kFirstDigitParity + 10 ? -1 : static_cast<int>(first - kFirstDigitParity);
}

// Parities and check digit: the 12 digits of EAN-13 (its first digit in the parities) or 8 of EAN-8.
bool validEan(const std::string& digits, int parity, const void*) {
  if (digits.size() == 8) return parity == 0 && eanCheckOk(digits);
  const int first = firstDigitOf(parity >> 6);
  return first >= 0 && (parity & 0x3F) == 0 && eanCheckOk(static_cast<char>('0' + first) + digits);
}

// One of the two lengths: half = 6 (EAN-13 / UPC-A) or 4 (EAN-8).
bool readLength(const std::vector<double>& widths, int start, int half, Read& read) {
  const int n = static_cast<int>(widths.size());
  const int elements = 3 + 4 * half + 5 + 4 * half + 3;
  if (start + elements >= n) return false;
  const double totalModules = 3 + 7 * half + 5 + 7 * half + 3;
  const double module = sumWidths(widths, start, elements) / totalModules;
  if (widths[start - 1] < kQuietModules * module || widths[start + elements] < kQuietModules * module) return false;
  const int centre = start + 3 + 4 * half;
  if (!eanGuardFits(widths, start, 3, module) || !eanGuardFits(widths, centre, 5, module) ||
      !eanGuardFits(widths, centre + 5 + 4 * half, 3, module))
    return false;
  std::string digits;
  double margin = 1;
  std::vector<EanDigitAt> places;
  for (int d = 0; d < half; ++d) places.push_back({start + 3 + 4 * d, half == 6, false});
  for (int d = 0; d < half; ++d) places.push_back({centre + 5 + 4 * d, false, true});
  int parity = 0;
  if (!decodeEanDigits(widths, places, module, validEan, nullptr, digits, parity, margin)) return false;
  Symbology symbology = Symbology::ean8;
  if (half == 6) {
    const int firstDigit = firstDigitOf(parity >> 6);
    digits.insert(digits.begin(), static_cast<char>('0' + firstDigit));
    symbology = firstDigit == 0 ? Symbology::upca : Symbology::ean13;
  }
  if (symbology == Symbology::upca) digits.erase(0, 1);
  read.symbology = symbology;
  read.text = digits;
  read.firstElement = start;
  read.lastElement = start + elements - 1;
  read.margin = margin;
  read.checked = true;
  read.addOn = readAddOn(widths, read.lastElement, module);
  read.identifier = !read.addOn.empty() ? "]E3" : symbology == Symbology::ean8 ? "]E4" : "]E0";
  return true;
}

}  // namespace

bool readUpcEan(const std::vector<double>& widths, int start, Read& read) {
  if (start < 1 || start % 2 == 0 || !quietBeforeGuardMayFit(widths, start, kQuietModules)) return false;
  return readLength(widths, start, 6, read) || readLength(widths, start, 4, read);
}

}  // namespace oned
