// Interleaved 2 of 5: digit pairs in ten elements, the first digit in the five bars and the
// second in the five spaces, two of each five wide; start narrow bar-space-bar-space, stop wide
// bar, narrow space, narrow bar.
#include <algorithm>

#include "reader/oned/match.hpp"
#include "reader/oned/itf.hpp"

namespace oned {

namespace {

// Wide elements of digits 0..9, the first element in bit 4.
constexpr int kDigits[10] = {0x06, 0x11, 0x09, 0x18, 0x05, 0x14, 0x0C, 0x03, 0x12, 0x0A};
constexpr double kWideRatio = 1.35;  // blur pulls a 2:1 print to 1.4:1 at two pixels a module
constexpr double kQuietNarrows = 8;

// Every other width from at: the bars or the spaces of a pair.
int digit(const std::vector<double>& widths, int at, double* narrow) {
  double five[5];
  for (int k = 0; k < 5; ++k) five[k] = widths[at + 2 * k];
  const int bits = wideNarrow(five, 5, 0, 5, 2, kWideRatio, narrow);
  if (bits < 0) return -1;
  const int* d = std::find(kDigits, kDigits + 10, bits);
  return d == kDigits + 10 ? -1 : static_cast<int>(d - kDigits);
}

bool near(double w, double expected) { return w > expected / 1.6 && w < expected * 1.6; }

}  // namespace

bool readItf(const std::vector<double>& widths, int start, const Options& options, Read& read) {
  const int n = static_cast<int>(widths.size());
  if (start < 1 || start % 2 == 0 || start + 4 > n) return false;
  double narrow = sumWidths(widths, start, 4) / 4;
  for (int k = 0; k < 4; ++k)
    if (!near(widths[start + k], narrow)) return false;
  if (widths[start - 1] < kQuietNarrows * narrow) return false;
  std::string text;
  int at = start + 4;
  while (true) {
    if (at + 3 < n && widths[at + 3] >= kQuietNarrows * narrow) {
      // The stop: wide bar, narrow space, narrow bar, quiet zone.
      if (widths[at] < kWideRatio * narrow || !near(widths[at + 1], narrow) || !near(widths[at + 2], narrow))
        return false;
      break;
    }
    if (at + 10 > n) return false;
    double n1 = 0, n2 = 0;
    const int d1 = digit(widths, at, &n1), d2 = digit(widths, at + 1, &n2);
    if (d1 < 0 || d2 < 0 || !near(n1, narrow) || !near(n2, narrow)) return false;
    narrow = 0.5 * (n1 + n2);  // follows a narrow width that perspective changes along the symbol
    text.push_back(static_cast<char>('0' + d1));
    text.push_back(static_cast<char>('0' + d2));
    at += 10;
  }
  if (static_cast<int>(text.size()) < options.itfMinDigits) return false;
  if (options.itfCheck) {
    int sum = 0;
    const int len = static_cast<int>(text.size());
    for (int i = 0; i < len - 1; ++i) sum += (text[len - 2 - i] - '0') * (i % 2 == 0 ? 3 : 1);
    if ((10 - sum % 10) % 10 != text.back() - '0') return false;
  }
  read.symbology = Symbology::itf;
  read.text = std::move(text);
  read.firstElement = start;
  read.lastElement = at + 2;
  read.margin = 0;
  read.checked = options.itfCheck;
  read.identifier = options.itfCheck ? "]I1" : "]I0";
  return true;
}

}  // namespace oned
