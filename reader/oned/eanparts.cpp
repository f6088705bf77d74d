#include "reader/oned/eanparts.hpp"

#include <algorithm>

#include "read/oned/match.hpp"

namespace oned {

const char* const kEanDigits[20] = {"3211", "2221", "2122", "1411", "1132", "1231", "1114",
                                    "1312", "1213", "3112", "1123", "1222", "2212", "1141",
                                    "2311", "1321", "4111", "2131", "3121", "2113"};

namespace {
const PatternTable kLTable{kEanDigits, 10, 4, 7};
const PatternTable kLGTable{kEanDigits, 20, 4, 7};
}  // namespace

int eanDigit(const std::vector<double>& widths, int at, bool gCodes, double module, double& margin) {
  const Match m = matchPattern(widths, at, gCodes ? kLGTable : kLTable);
  if (m.index < 0) return -1;
  const double digitModule = sumWidths(widths, at, 4) / 7;
  if (digitModule > 1.3 * module || digitModule < module / 1.3) return -1;
  margin = std::min(margin, m.margin);
  return m.index;
}

bool eanGuardFits(const std::vector<double>& widths, int at, int n, double module) {
  if (at < 0 || at + n > static_cast<int>(widths.size())) return false;
  const double s = sumWidths(widths, at, n) / module;
  if (s < n * 0.6 || s > n * 1.5) return false;
  for (int k = 0; k < n; ++k) {
    const double w = widths[at + k] / module;
    if (w < 0.3 || w > 2.0) return false;
  }
  return true;
}

int eanCheckDigit(const std::string& digits) {
  int sum = 0;
  const int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) sum += (digits[n - 1 - i] - '0') * (i % 2 == 0 ? 3 : 1);
  return (10 - sum % 10) % 10;
}

bool eanCheckOk(const std::string& digits) {
  if (digits.size() < 2) return false;
  return eanCheckDigit(digits.substr(0, digits.size() - 1)) == digits.back() - '0';
}

}  // namespace oned
