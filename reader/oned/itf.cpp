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
// Narrow bars over narrow spaces (or the other way round), at the most, along the symbol: about
// what the start's check lets through (2.2), with room for a pair's own noise.
constexpr double kMaxBarSpaceRatio = 2.5;

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
  const double narrow = sumWidths(widths, start, 4) / 4;
  for (int k = 0; k < 4; ++k)
    if (!near(widths[start + k], narrow)) return false;
  if (widths[start - 1] < kQuietNarrows * narrow) return false;
  // Bars and spaces keep narrow widths of their own as well as their mean: ink spread, or a
  // photograph's threshold off the middle grey, thickens the one at the other's cost (narrow
  // spaces twice the narrow bars in a blurred photograph), and perspective changes both along the
  // symbol. A narrow width fits when it is near its colour's or the mean (the start gives each
  // colour two elements only, a blurred one among them as often as not).
  double narrowBar = 0.5 * (widths[start] + widths[start + 2]);
  double narrowSpace = 0.5 * (widths[start + 1] + widths[start + 3]);
  auto fits = [&](double w, double ownColour) { return near(w, ownColour) || near(w, 0.5 * (narrowBar + narrowSpace)); };
  std::string text;
  int at = start + 4;
  while (true) {
    const double mean = 0.5 * (narrowBar + narrowSpace);
    if (at + 3 < n && widths[at + 3] >= kQuietNarrows * mean) {
      // The stop: wide bar, narrow space, narrow bar, quiet zone.
      if (widths[at] < kWideRatio * std::min(narrowBar, mean) || !fits(widths[at + 1], narrowSpace) ||
          !fits(widths[at + 2], narrowBar))
        return false;
      break;
    }
    if (at + 10 > n) return false;
    double n1 = 0, n2 = 0;
    const int d1 = digit(widths, at, &n1), d2 = digit(widths, at + 1, &n2);
    if (d1 < 0 || d2 < 0 || !fits(n1, narrowBar) || !fits(n2, narrowSpace)) return false;
    if (std::max(n1, n2) > kMaxBarSpaceRatio * std::min(n1, n2)) return false;
    narrowBar = n1;
    narrowSpace = n2;
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
