#include "reader/oned/code93.hpp"

#include <string>

#include "reader/oned/match.hpp"
#include "reader/oned/fullascii.hpp"

namespace oned {

namespace {

// Values 0..42: the characters of kAlphabet; 43..46 the shifts ($) (%) (/) (+); 47 start/stop.
constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
const char* const kPatterns[] = {
    "131112", "111213", "111312", "111411", "121113", "121212", "121311", "111114", "131211", "141111",
    "211113", "211212", "211311", "221112", "221211", "231111", "112113", "112212", "112311", "122112",
    "132111", "111123", "111222", "111321", "121122", "131121", "212112", "212211", "211122", "211221",
    "221121", "222111", "112122", "112221", "122121", "123111", "121131", "311112", "311211", "321111",
    "112131", "113121", "211131", "121221", "312111", "311121", "122211", "111141"};
const PatternTable kTable{kPatterns, 48, 6, 9};
constexpr int kStartStop = 47, kFirstShift = 43;
constexpr double kMaxError = 1.2;  // matchPattern's default
constexpr double kQuietModules = 3;

// The check character over values[0 .. count): weights 1, 2, ... maxWeight from the right, cycling.
int checkValue(const std::vector<int>& values, size_t count, int maxWeight) {
  int sum = 0;
  for (size_t i = 0; i < count; ++i) sum += values[count - 1 - i] * (static_cast<int>(i) % maxWeight + 1);
  return sum % 47;
}

// The message of the data values: the shifts with the letter after them spell one character.
bool decodeValues(const std::vector<int>& values, std::string& text) {
  for (size_t i = 0; i < values.size(); ++i) {
    const int v = values[i];
    if (v < kFirstShift) {
      text.push_back(kAlphabet[v]);
      continue;
    }
    if (i + 1 >= values.size() || values[i + 1] < 10 || values[i + 1] > 35) return false;
    static constexpr char kShiftChars[] = "$%/+";
    const int ascii = fullAsciiPair(kShiftChars[v - kFirstShift], kAlphabet[values[++i]]);
    if (ascii < 0) return false;
    appendLatin1(text, ascii);
  }
  return true;
}

}  // namespace

bool readCode93(const std::vector<double>& widths, int start, Read& read) {
  const int n = static_cast<int>(widths.size());
  if (start < 1 || start % 2 == 0 || start + 6 > n) return false;
  double module = sumWidths(widths, start, 6) / 9;
  if (widths[start - 1] < kQuietModules * module) return false;
  // Most bars start nothing: the start must fit before the whole table is tried.
  if (!anyPatternWithin(widths, start, kTable, {kStartStop}, kMaxError)) return false;
  const Match first = matchPattern(widths, start, kTable, kMaxError);
  if (first.index != kStartStop) return false;
  std::vector<int> values;
  double margin = first.margin;
  int at = start + 6;
  while (true) {
    const Match m = matchPattern(widths, at, kTable);
    if (m.index < 0) return false;
    const double charModule = sumWidths(widths, at, 6) / 9;
    if (charModule > 1.3 * module || charModule < module / 1.3) return false;
    module = charModule;
    margin = std::min(margin, m.margin);
    if (m.index == kStartStop) break;
    values.push_back(m.index);
    at += 6;
  }
  // The termination bar of one module and the quiet zone after it.
  if (at + 7 >= n || values.size() < 3) return false;
  const double bar = widths[at + 6] / module;
  if (bar < 0.4 || bar > 1.8 || widths[at + 7] < kQuietModules * module) return false;
  const size_t data = values.size() - 2;
  if (checkValue(values, data, 20) != values[data] || checkValue(values, data + 1, 15) != values[data + 1]) return false;
  values.resize(data);
  std::string text;
  if (!decodeValues(values, text)) return false;
  read.symbology = Symbology::code93;
  read.text = std::move(text);
  read.rawText.clear();
  read.firstElement = start;
  read.lastElement = at + 6;
  read.margin = margin;
  read.checked = true;
  read.identifier = "]G0";
  return true;
}

}  // namespace oned
