// EAN-13, UPC-A and EAN-8: guards 101, digits of 7 modules in two elements pairs, a centre guard
// 01010 and a mod-10 check digit. The left half of EAN-13 carries its first digit in the
// parity (L or G code) of its six digits.
#include <algorithm>

#include "reader/oned/match.hpp"
#include "reader/oned/oned.hpp"

namespace oned {

namespace {

// L codes (space, bar, space, bar) 0..9, then G codes 0..9 (the L codes' mirror images). The
// right half uses the L widths starting with a bar.
const char* const kDigits[] = {"3211", "2221", "2122", "1411", "1132", "1231", "1114", "1312", "1213", "3112",
                               "1123", "1222", "2212", "1141", "2311", "1321", "4111", "2131", "3121", "2113"};
const PatternTable kLeftTable{kDigits, 20, 4, 7};
const PatternTable kRightTable{kDigits, 10, 4, 7};

// Parity of the six left digits (bit 5 the first, 1 = G) for first digit 0..9.
constexpr int kFirstDigitParity[10] = {0x00, 0x0B, 0x0D, 0x0E, 0x13, 0x19, 0x1C, 0x15, 0x16, 0x1A};
constexpr double kQuietModules = 5;

bool guardFits(const std::vector<double>& widths, int at, int n, double module) {
  const double s = sumWidths(widths, at, n) / module;
  if (s < n * 0.6 || s > n * 1.5) return false;
  for (int k = 0; k < n; ++k) {
    const double w = widths[at + k] / module;
    if (w < 0.3 || w > 2.0) return false;
  }
  return true;
}

// Reads `count` digits from widths[at]; digits and parity bits (left half) out.
bool readDigits(const std::vector<double>& widths, int at, int count, const PatternTable& table, std::string& digits,
                int& parity, double& margin, double module) {
  for (int d = 0; d < count; ++d) {
    const Match m = matchPattern(widths, at + 4 * d, table);
    if (m.index < 0) return false;
    const double dm = sumWidths(widths, at + 4 * d, 4) / 7;
    if (dm > 1.3 * module || dm < module / 1.3) return false;
    digits.push_back(static_cast<char>('0' + m.index % 10));
    parity = parity << 1 | (m.index >= 10 ? 1 : 0);
    margin = std::min(margin, m.margin);
  }
  return true;
}

bool checkDigitOk(const std::string& digits) {
  int sum = 0;
  const int n = static_cast<int>(digits.size());
  for (int i = 0; i < n - 1; ++i) sum += (digits[n - 2 - i] - '0') * (i % 2 == 0 ? 3 : 1);
  return (10 - sum % 10) % 10 == digits.back() - '0';
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
  if (!guardFits(widths, start, 3, module) || !guardFits(widths, centre, 5, module) ||
      !guardFits(widths, centre + 5 + 4 * half, 3, module))
    return false;
  std::string digits;
  int leftParity = 0, rightParity = 0;
  double margin = 1;
  if (!readDigits(widths, start + 3, half, half == 6 ? kLeftTable : kRightTable, digits, leftParity, margin, module) ||
      !readDigits(widths, centre + 5, half, kRightTable, digits, rightParity, margin, module))
    return false;
  Symbology symbology = Symbology::ean8;
  if (half == 6) {
    const int* first = std::find(kFirstDigitParity, kFirstDigitParity + 10, leftParity);
    if (first == kFirstDigitParity + 10) return false;
    const int firstDigit = static_cast<int>(first - kFirstDigitParity);
    digits.insert(digits.begin(), static_cast<char>('0' + firstDigit));
    symbology = firstDigit == 0 ? Symbology::upca : Symbology::ean13;
  }
  if (!checkDigitOk(digits)) return false;
  if (symbology == Symbology::upca) digits.erase(0, 1);
  read.symbology = symbology;
  read.text = digits;
  read.firstElement = start;
  read.lastElement = start + elements - 1;
  read.margin = margin;
  return true;
}

}  // namespace

bool readUpcEan(const std::vector<double>& widths, int start, Read& read) {
  if (start < 1 || start % 2 == 0) return false;
  return readLength(widths, start, 6, read) || readLength(widths, start, 4, read);
}

}  // namespace oned
