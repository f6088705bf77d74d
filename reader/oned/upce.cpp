#include "reader/oned/upce.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include "idut/read.hpp"
#include "reader/oned/match.hpp"
#include "reader/oned/addon.hpp"
#include "reader/oned/eanparts.hpp"

namespace oned {

namespace {

// Parities of the six digits (bit 5 the first, 1 = G) for check digit 0..9 in number system 0;
// number system 1 uses the complements.
constexpr int kSystem0Parity[10] = {0x38, 0x34, 0x32, 0x31, 0x2C, 0x26, 0x23, 0x2A, 0x29, 0x25};
constexpr int kElements = 3 + 24 + 6;
constexpr double kModules = 3 + 42 + 6;
constexpr double kStartQuietModules = 3;
// After the end guard: EAN-13's centre guard and a right-hand digit 3 (bar 1, space 4) look
// like an end guard followed by a four-module gap, so a UPC-E needs more light than that.
constexpr double kEndQuietModules = 5.5;

// The number system and check digit the parities carry ('0'/'1' and a digit), or 0s.
std::pair<char, char> systemAndCheck(int parity) {
  for (int c = 0; c < 10; ++c) {
    if (kSystem0Parity[c] == parity) return {'0', static_cast<char>('0' + c)};
    if ((kSystem0Parity[c] ^ 0x3F) == parity) return {'1', static_cast<char>('0' + c)};
  }
  return {0, 0};
}

std::string upceText(const std::string& digits, int parity) {
  const auto [system, check] = systemAndCheck(parity);
  return system ? system + digits + check : std::string();
}

bool validUpcE(const std::string& digits, int parity, const void*) {
  const std::string text = upceText(digits, parity);
  return !text.empty() && eanCheckOk(upceToUpca(text));
}

}  // namespace

std::string upceFromParities(const std::string& digits, int parity) {
  return validUpcE(digits, parity, nullptr) ? upceText(digits, parity) : std::string();
}

std::string upceToUpca(const std::string& upce) {
  if (upce.size() != 8 || !std::all_of(upce.begin(), upce.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      (upce[0] != '0' && upce[0] != '1'))
    return {};
  const std::string d = upce.substr(1, 6);
  std::string body;
  switch (d[5]) {
    case '0':
    case '1':
    case '2': body = d.substr(0, 2) + d[5] + "0000" + d.substr(2, 3); break;
    case '3': body = d.substr(0, 3) + "00000" + d.substr(3, 2); break;
    case '4': body = d.substr(0, 4) + "00000" + d[4]; break;
    default: body = d.substr(0, 5) + "0000" + d[5]; break;
  }
  return upce[0] + body + upce[7];
}

bool readUpcE(const std::vector<double>& widths, int start, Read& read) {
  const int n = static_cast<int>(widths.size());
  if (start < 1 || start % 2 == 0 || start + kElements >= n || !quietBeforeGuardMayFit(widths, start, kStartQuietModules))
    return false;
  const double module = sumWidths(widths, start, kElements) / kModules;
  if (widths[start - 1] < kStartQuietModules * module || widths[start + kElements] < kEndQuietModules * module)
    return false;
  if (!eanGuardFits(widths, start, 3, module) || !eanGuardFits(widths, start + 27, 6, module)) return false;
  std::string digits;
  int parity = 0;
  double margin = 1;
  std::vector<EanDigitAt> places;
  for (int d = 0; d < 6; ++d) places.push_back({start + 3 + 4 * d, true, false});
  if (!decodeEanDigits(widths, places, module, validUpcE, nullptr, digits, parity, margin)) return false;
  const std::string text = upceText(digits, parity);
  read.symbology = Symbology::upce;
  read.text = text;
  read.firstElement = start;
  read.lastElement = start + kElements - 1;
  read.margin = margin;
  read.checked = true;
  read.addOn = readAddOn(widths, read.lastElement, module);
  read.identifier = read.addOn.empty() ? "]E0" : "]E3";
  return true;
}

}  // namespace oned

namespace idut {

std::string expandUpce(std::string_view upce) {
  std::string digits(upce);
  if (digits.size() == 6) digits.insert(digits.begin(), '0');
  if (digits.size() == 7) {
    // The check digit computed over the UPC-A number the seven digits stand for.
    const std::string upca = oned::upceToUpca(digits + '0');
    if (upca.empty()) return {};
    digits.push_back(static_cast<char>('0' + oned::eanCheckDigit(upca.substr(0, 11))));
  }
  const std::string upca = oned::upceToUpca(digits);
  return !upca.empty() && oned::eanCheckOk(upca) ? upca : std::string();
}

}  // namespace idut
