#include "reader/oned/codabar.hpp"

#include <algorithm>
#include <string>

#include "reader/oned/match.hpp"

namespace oned {

namespace {

constexpr char kAlphabet[] = "0123456789-$:/.+ABCD";
// Wide elements of each character, the first element (a bar) in bit 6.
constexpr int kEncodings[20] = {0x03, 0x06, 0x09, 0x60, 0x12, 0x42, 0x21, 0x24, 0x30, 0x48,
                                0x0C, 0x18, 0x45, 0x51, 0x54, 0x15, 0x1A, 0x29, 0x0B, 0x0E};
constexpr int kFirstStartStop = 16;
constexpr double kWideRatio = 1.5;     // wide over narrow, at the least (printed 2 to 3)
constexpr double kMaxGapNarrows = 3;   // the gap between characters, at most
constexpr double kQuietNarrows = 5;

// The wide elements among `count` widths known to hold `wideCounts` (any of them) wide ones: a
// bit per element (index 0 in the highest of `count` bits), or -1 when no split is clear.
// narrowMax and wideMin receive the split's bounds.
int splitWide(const double* w, int count, std::initializer_list<int> wideCounts, double& narrowMax, double& wideMin) {
  double sorted[4];
  std::copy(w, w + count, sorted);
  std::sort(sorted, sorted + count);
  double bestRatio = 0;
  int bestWide = -1;
  for (int wide : wideCounts) {
    if (wide <= 0 || wide >= count) continue;
    const double ratio = sorted[count - wide] / std::max(sorted[count - wide - 1], 1e-9);
    if (ratio > bestRatio) {
      bestRatio = ratio;
      bestWide = wide;
    }
  }
  if (bestWide < 0 || bestRatio < kWideRatio) return -1;
  narrowMax = sorted[count - bestWide - 1];
  wideMin = sorted[count - bestWide];
  const double cut = 0.5 * (narrowMax + wideMin);
  int bits = 0;
  for (int k = 0; k < count; ++k) bits = bits << 1 | (w[k] > cut ? 1 : 0);
  return bits;
}

// The character at widths[at], or -1; narrow receives its mean narrow bar.
int character(const std::vector<double>& widths, int at, double& narrow) {
  const double bars[4] = {widths[at], widths[at + 2], widths[at + 4], widths[at + 6]};
  const double spaces[3] = {widths[at + 1], widths[at + 3], widths[at + 5]};
  double narrowBar = 0, wideBar = 0;
  const int barBits = splitWide(bars, 4, {1, 3}, narrowBar, wideBar);
  if (barBits < 0) return -1;
  // Three wide bars (: / . +) go with three narrow spaces, which must then be alike; one wide
  // bar with one or two wide spaces. Spaces are split on their own, as ink spread makes them
  // narrower than the bars.
  int spaceBits = 0;
  double narrowSpace = 0, wideSpace = 0;
  const int wideBars = __builtin_popcount(static_cast<unsigned>(barBits));
  if (wideBars == 3) {
    const auto [lo, hi] = std::minmax({spaces[0], spaces[1], spaces[2]});
    if (hi > 1.4 * lo) return -1;
  } else {
    spaceBits = splitWide(spaces, 3, {1, 2}, narrowSpace, wideSpace);
    if (spaceBits < 0) return -1;
  }
  int bits = 0;
  for (int k = 0; k < 7; ++k) bits = bits << 1 | (k % 2 == 0 ? (barBits >> (3 - k / 2)) & 1 : (spaceBits >> (2 - k / 2)) & 1);
  const int* e = std::find(kEncodings, kEncodings + 20, bits);
  if (e == kEncodings + 20) return -1;
  double sum = 0;
  int count = 0;
  for (int k = 0; k < 4; ++k)
    if (!((barBits >> (3 - k)) & 1)) sum += bars[k], ++count;
  narrow = sum / std::max(count, 1);
  return static_cast<int>(e - kEncodings);
}

// Whether the seven elements at widths[at] can classify as a start character (A to D) at all:
// those have one wide bar, never the first, clearly (half as wide again) the widest, and the
// middle space among the two wide ones. The bounds sit a little below character()'s ratio so
// that its rounding never turns a start away here; a few comparisons spare the sorting at
// almost every bar of a line.
bool mayBeStart(const std::vector<double>& widths, int at) {
  const double* w = widths.data() + at;
  const double b0 = w[0], b1 = w[2], b2 = w[4], b3 = w[6];
  const double widest = std::max({b1, b2, b3});
  const double others = widest == b1 ? std::max({b0, b2, b3}) : widest == b2 ? std::max({b0, b1, b3}) : std::max({b0, b1, b2});
  constexpr double kLooseRatio = 0.95 * kWideRatio;
  return widest >= kLooseRatio * others && w[3] >= kLooseRatio * std::min(w[1], w[5]);
}

}  // namespace

bool readCodabar(const std::vector<double>& widths, int start, const Options& options, Read& read) {
  const int n = static_cast<int>(widths.size());
  if (start < 1 || start % 2 == 0 || start + 7 > n) return false;
  double narrow = 0;
  if (!mayBeStart(widths, start)) return false;
  const int first = character(widths, start, narrow);
  if (first < kFirstStartStop || widths[start - 1] < kQuietNarrows * narrow) return false;
  const double firstWidth = sumWidths(widths, start, 7);
  std::string raw(1, kAlphabet[first]);
  int at = start + 8;
  while (true) {
    if (at + 7 > n) return false;
    if (widths[at - 1] > kMaxGapNarrows * narrow) return false;
    const double w = sumWidths(widths, at, 7);
    // Characters are 8 to 10 narrows wide at a 2:1 ratio, more at 3:1: neighbours within a third.
    if (w > 1.35 * firstWidth || w < firstWidth / 1.35) return false;
    double nw = 0;
    const int c = character(widths, at, nw);
    if (c < 0) return false;
    raw.push_back(kAlphabet[c]);
    if (c >= kFirstStartStop) break;
    at += 8;
  }
  const int data = static_cast<int>(raw.size()) - 2;
  if (at + 7 >= n || widths[at + 7] < kQuietNarrows * narrow || data < options.codabarMinData) return false;
  read.symbology = Symbology::codabar;
  read.text = raw.substr(1, data);
  read.rawText = raw;
  read.firstElement = start;
  read.lastElement = at + 6;
  read.margin = 0;
  read.checked = false;
  read.identifier = "]F0";
  return true;
}

}  // namespace oned
