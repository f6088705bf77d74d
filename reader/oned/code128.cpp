// Code 128: 103 data values plus three starts and the stop, six elements of 11 modules each
// (the stop has a seventh, a 2-module bar); a weighted mod-103 check character before the stop.
#include <algorithm>
#include <string>

#include "reader/oned/match.hpp"
#include "reader/oned/code128.hpp"

namespace oned {

namespace {

const char* const kPatterns[] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213",
    "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132",
    "221231", "213212", "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",
    "212123", "212321", "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313",
    "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", "313121", "211331",
    "231131", "213113", "213311", "213131", "311123", "311321", "331121", "312113", "312311", "332111",
    "314111", "221411", "431111", "111224", "111422", "121124", "121421", "141122", "141221", "112214",
    "112412", "122114", "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",
    "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311", "113141",
    "114131", "311141", "411131", "211412", "211214", "211232", "233111"};
const PatternTable kTable{kPatterns, 107, 6, 11};

constexpr int kStartA = 103, kStartC = 105, kStop = 106;
constexpr int kFnc1 = 102, kShift = 98;
constexpr double kQuietModules = 3;
constexpr double kMaxError = 1.2;  // matchPattern's default

enum Set { setA, setB, setC };

// The text of the data values (check and stop removed); false for a sequence no encoder writes.
bool decodeValues(const std::vector<int>& values, std::string& text) {
  Set set = static_cast<Set>(values[0] - kStartA);
  bool shifted = false, fnc4 = false;
  for (size_t i = 1; i < values.size(); ++i) {
    const int v = values[i];
    const Set use = shifted ? (set == setA ? setB : setA) : set;
    shifted = false;
    if (v == kFnc1) {
      text += i == 1 ? "]C1" : "\x1D";
      continue;
    }
    if (use == setC) {
      if (v < 100) {
        text.push_back(static_cast<char>('0' + v / 10));
        text.push_back(static_cast<char>('0' + v % 10));
      } else if (v == 100) {
        set = setB;
      } else if (v == 101) {
        set = setA;
      } else {
        return false;
      }
      continue;
    }
    if (v < 96) {
      int c = use == setB ? v + 32 : (v < 64 ? v + 32 : v - 64);
      if (fnc4) c += 128;
      fnc4 = false;
      appendLatin1(text, c);
    } else if (v == 96 || v == 97) {
      // FNC3 / FNC2: reader instructions, no text.
    } else if (v == kShift) {
      if (set == setC) return false;
      shifted = true;
    } else if (v == 99) {
      set = setC;
    } else if ((v == 100 && use == setB) || (v == 101 && use == setA)) {
      fnc4 = true;
    } else {
      set = v == 100 ? setB : setA;
    }
  }
  return !shifted && !fnc4;
}

}  // namespace

bool readCode128(const std::vector<double>& widths, int start, Read& read) {
  const int n = static_cast<int>(widths.size());
  if (start < 1 || start % 2 == 0 || start + 6 > n) return false;
  double module = sumWidths(widths, start, 6) / 11;
  if (widths[start - 1] < kQuietModules * module) return false;
  // Most bars start nothing: one of the three starts must fit before the whole table is tried.
  if (!anyPatternWithin(widths, start, kTable, {kStartA, kStartA + 1, kStartC}, kMaxError)) return false;
  const Match first = matchPattern(widths, start, kTable, kMaxError);
  if (first.index < kStartA || first.index > kStartC) return false;
  std::vector<int> values{first.index};
  double margin = first.margin;
  int at = start + 6;
  while (true) {
    const Match m = matchPattern(widths, at, kTable);
    if (m.index < 0) return false;
    // Neighbouring characters have the same width (perspective changes it only slowly); a sudden
    // change is another symbol or clutter.
    const double charModule = sumWidths(widths, at, 6) / 11;
    if (charModule > 1.3 * module || charModule < module / 1.3) return false;
    module = charModule;
    margin = std::min(margin, m.margin);
    if (m.index == kStop) break;
    if (m.index >= kStartA) return false;
    values.push_back(m.index);
    at += 6;
  }
  // The stop's final bar (2 modules) and the quiet zone after it.
  if (at + 7 >= n || values.size() < 2) return false;
  const double stopModule = sumWidths(widths, at, 6) / 11;
  const double lastBar = widths[at + 6] / stopModule;
  if (lastBar < 1.3 || lastBar > 2.7 || widths[at + 7] < kQuietModules * stopModule) return false;
  int sum = values[0];
  for (size_t i = 1; i + 1 < values.size(); ++i) sum += static_cast<int>(i) * values[i];
  if (sum % 103 != values.back()) return false;
  values.pop_back();
  std::string text;
  if (!decodeValues(values, text)) return false;
  read.symbology = Symbology::code128;
  read.text = std::move(text);
  read.firstElement = start;
  read.lastElement = at + 6;
  read.margin = margin;
  read.checked = true;
  read.identifier = read.text.rfind("]C1", 0) == 0 ? "]C1" : "]C0";
  return true;
}

}  // namespace oned
