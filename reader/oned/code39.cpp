// Code 39: nine elements a character (five bars, four spaces), three of them wide, characters
// separated by a narrow gap and framed by '*'.
#include <algorithm>
#include <array>
#include <cstring>

#include "reader/oned/match.hpp"
#include "reader/oned/code39.hpp"
#include "reader/oned/fullascii.hpp"

namespace oned {

namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%*";
// Wide elements of each character of kAlphabet, the first element in bit 8.
constexpr int kEncodings[44] = {0x034, 0x121, 0x061, 0x160, 0x031, 0x130, 0x070, 0x025, 0x124, 0x064, 0x109,
                                0x049, 0x148, 0x019, 0x118, 0x058, 0x00D, 0x10C, 0x04C, 0x01C, 0x103, 0x043,
                                0x142, 0x013, 0x112, 0x052, 0x007, 0x106, 0x046, 0x016, 0x181, 0x0C1, 0x1C0,
                                0x091, 0x190, 0x0D0, 0x085, 0x184, 0x0C4, 0x0A8, 0x0A2, 0x08A, 0x02A, 0x094};
constexpr int kStar = 43;
// Wide over narrow, at the least: printers use 2 to 3, and a line across modules of one or two
// pixels measures a 2:1 pair as close as 1.4:1. The character table and the second line guard
// against the misreads a lower bound lets through.
constexpr double kWideRatio = 1.3;
constexpr double kMaxGapNarrows = 1.9;  // the gap between characters, at most
constexpr double kQuietNarrows = 6;

// Every other width from at (the caller keeps at + 2 * (N - 1) within the widths).
template <size_t N>
std::array<double, N> strided(const std::vector<double>& widths, int at) {
  std::array<double, N> out;
  for (size_t k = 0; k < N; ++k) out[k] = widths[at + 2 * k];
  return out;
}

// The character at widths[at], or -1; narrow receives its narrow bar width. Bars and spaces are
// classified apart, so a print that fattens the bars does not turn narrow bars wide: a
// character has two wide bars and one wide space, or no wide bar and three wide spaces.
int character(const std::vector<double>& widths, int at, double* narrow) {
  const std::array<double, 5> bars = strided<5>(widths, at);
  const std::array<double, 4> spaces = strided<4>(widths, at + 1);
  double spaceNarrow = 0;
  int barBits = wideNarrow(bars.data(), 5, 0, 5, 2, kWideRatio, narrow);
  int spaceBits = -1;
  if (barBits >= 0) {
    spaceBits = wideNarrow(spaces.data(), 4, 0, 4, 1, kWideRatio, &spaceNarrow);
  } else {
    const auto [lo, hi] = std::minmax_element(bars.begin(), bars.end());
    if (*hi > 1.35 * *lo) return -1;
    barBits = 0;
    *narrow = 0.2 * (bars[0] + bars[1] + bars[2] + bars[3] + bars[4]);
    spaceBits = wideNarrow(spaces.data(), 4, 0, 4, 3, kWideRatio, &spaceNarrow);
  }
  if (spaceBits < 0) return -1;
  int bits = 0;
  for (int k = 0; k < 9; ++k)
    bits = bits << 1 | (k % 2 == 0 ? (barBits >> (4 - k / 2)) & 1 : (spaceBits >> (3 - k / 2)) & 1);
  const int* e = std::find(kEncodings, kEncodings + 44, bits);
  return e == kEncodings + 44 ? -1 : static_cast<int>(e - kEncodings);
}

// Whether the nine elements at widths[at] can classify as '*' at all: its two wide bars are the
// third and fourth and its wide space the first, so those must be strictly wider than the
// narrow ones of their colour. A few comparisons turn away almost every bar of a line before
// character() sorts anything.
bool mayBeStar(const std::vector<double>& widths, int at) {
  const double* w = widths.data() + at;
  return std::min(w[4], w[6]) > std::max({w[0], w[2], w[8]}) && w[1] > std::max({w[3], w[5], w[7]});
}

// The printed characters as a pharmacode, a full ASCII message or plain Code 39.
void interpret(const std::string& printed, bool checkRemoved, Read& read) {
  read.symbology = Symbology::code39;
  read.checked = checkRemoved;
  read.rawText.clear();
  read.identifier = checkRemoved ? "]A3" : "]A0";
  read.text = printed;
  if (!checkRemoved) {
    if (const std::optional<std::string> code32 = decodeCode32(printed)) {
      read.symbology = Symbology::code32;
      read.text = *code32;
      read.rawText = printed;
      read.checked = true;
      return;
    }
    if (isPzn(printed)) {
      read.symbology = Symbology::pzn;
      read.rawText = printed;
      read.checked = true;
      return;
    }
  }
  if (printed.find_first_of("$%/+") == std::string::npos) return;
  if (const std::optional<std::string> ascii = decodeFullAscii(printed)) {
    read.text = *ascii;
    read.rawText = printed;
    read.identifier = checkRemoved ? "]A7" : "]A4";
  }
}

}  // namespace

bool readCode39(const std::vector<double>& widths, int start, const Options& options, Read& read) {
  const int n = static_cast<int>(widths.size());
  if (start < 1 || start % 2 == 0 || start + 9 > n) return false;
  double narrow = 0;
  if (!mayBeStar(widths, start) || character(widths, start, &narrow) != kStar || widths[start - 1] < kQuietNarrows * narrow) return false;
  double charWidth = sumWidths(widths, start, 9);
  std::string text;
  int at = start + 10;
  while (true) {
    if (at + 9 > n) return false;
    // The gap between characters is narrow (well below a wide element).
    const double gap = widths[at - 1];
    if (gap > kMaxGapNarrows * narrow) return false;
    const double w = sumWidths(widths, at, 9);
    if (w > 1.25 * charWidth || w < charWidth / 1.25) return false;  // the neighbour's width
    charWidth = w;
    double nw = 0;
    const int c = character(widths, at, &nw);
    if (c < 0) return false;
    if (c == kStar) break;
    text.push_back(kAlphabet[c]);
    at += 10;
  }
  if (at + 9 >= n || widths[at + 9] < kQuietNarrows * narrow || text.empty()) return false;
  if (options.code39Check) {
    if (text.size() < 2) return false;
    int sum = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) sum += static_cast<int>(std::strchr(kAlphabet, text[i]) - kAlphabet);
    if (kAlphabet[sum % 43] != text.back()) return false;
    text.pop_back();
  }
  interpret(text, options.code39Check, read);
  read.firstElement = start;
  read.lastElement = at + 8;
  read.margin = 0;
  return true;
}

}  // namespace oned
