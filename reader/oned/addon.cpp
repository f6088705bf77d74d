#include "reader/oned/addon.hpp"

#include <algorithm>

#include "reader/oned/match.hpp"
#include "reader/oned/eanparts.hpp"

namespace oned {

namespace {

// Parities of the five digits (bit 4 the first, 1 = G) for check values 0..9.
constexpr int kFiveParity[10] = {0x18, 0x14, 0x12, 0x11, 0x0C, 0x06, 0x03, 0x0A, 0x09, 0x05};
constexpr double kMinGapModules = 5, kMaxGapModules = 14, kQuietModules = 4;

bool validAddOn(const std::string& digits, int parity, const void*) {
  if (digits.size() == 2) return ((digits[0] - '0') * 10 + (digits[1] - '0')) % 4 == parity;
  int sum = 0;
  for (int i = 0; i < 5; ++i) sum += (digits[i] - '0') * (i % 2 == 0 ? 3 : 9);
  return kFiveParity[sum % 10] == parity;
}

// `count` digits after the guard at widths[guard]: their text, or empty.
std::string readDigits(const std::vector<double>& widths, int guard, int count, double module) {
  const int n = static_cast<int>(widths.size());
  // Guard (3 elements), then per digit 4 elements and a 2-element separator after all but the last.
  const int end = guard + 3 + 6 * count - 2;
  if (end >= n || widths[end] < kQuietModules * module) return {};
  std::string digits;
  int parity = 0;
  double margin = 1;
  std::vector<EanDigitAt> places;
  for (int d = 0; d < count; ++d) {
    const int at = guard + 3 + 6 * d;
    if (d + 1 < count && !eanGuardFits(widths, at + 4, 2, module)) return {};
    places.push_back({at, true, false});
  }
  if (!decodeEanDigits(widths, places, module, validAddOn, nullptr, digits, parity, margin)) return {};
  return digits;
}

}  // namespace

std::string readAddOn(const std::vector<double>& widths, int lastBar, double module) {
  const int n = static_cast<int>(widths.size());
  const int guard = lastBar + 2;
  if (lastBar < 0 || guard + 3 >= n || !(module > 0)) return {};
  const double gap = widths[lastBar + 1] / module;
  if (gap < kMinGapModules || gap > kMaxGapModules) return {};
  // Guard: bar 1, space 1, bar 2 modules.
  const double g0 = widths[guard] / module, g1 = widths[guard + 1] / module, g2 = widths[guard + 2] / module;
  if (g0 < 0.4 || g0 > 1.8 || g1 < 0.4 || g1 > 1.8 || g2 < 1.3 || g2 > 2.9) return {};
  std::string five = readDigits(widths, guard, 5, module);
  return !five.empty() ? five : readDigits(widths, guard, 2, module);
}

double addOnReachModules(size_t digits) {
  // Guard 1011, then 7 modules a digit with 01 between digits.
  return kMaxGapModules + 4 + 7.0 * static_cast<double>(digits) + 2.0 * (static_cast<double>(digits) - 1);
}

int eanUpcModules(Symbology symbology) {
  switch (symbology) {
    case Symbology::ean13:
    case Symbology::upca: return 95;
    case Symbology::ean8: return 67;
    case Symbology::upce: return 51;
    default: return 0;
  }
}

}  // namespace oned
