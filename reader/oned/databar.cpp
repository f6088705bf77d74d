#include "reader/oned/databar.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "reader/oned/eanparts.hpp"
#include "reader/oned/match.hpp"

namespace oned {

namespace {

const char* const kFinders[] = {"38211", "35511", "33711", "31911", "27411", "25611", "23811", "15711", "13911"};
const PatternTable kFinderTable{kFinders, 9, 5, 15};
constexpr double kMaxFinderError = 1.2;  // matchPattern's default

// The groups of the outer (16-module) characters by odd total 12, 10, 8, 6, 4, and of the inner
// (15-module) ones by even total 10, 8, 6, 4: the widest odd element, the number of even (outer)
// or odd (inner) combinations, and the first value of the group.
struct Group {
  int total, oddWidest, otherCombinations, firstValue;
};
constexpr Group kOuterGroups[] = {{12, 8, 1, 0}, {10, 6, 10, 161}, {8, 4, 34, 961}, {6, 3, 70, 2015}, {4, 1, 126, 2715}};
constexpr Group kInnerGroups[] = {{10, 2, 4, 0}, {8, 4, 20, 336}, {6, 6, 48, 1036}, {4, 8, 81, 1516}};

constexpr double kMaxElementError = 0.75;  // modules an element may lie off its count
constexpr double kQuietModules = 1;        // the symbol needs no quiet zone beyond its guard space

// Compositions of total into parts of 1..widest (at least one 1 when requireOne), counted.
int countCompositions(int parts, int total, int widest, bool requireOne) {
  if (parts == 0) return total == 0 && !requireOne ? 1 : 0;
  int n = 0;
  for (int first = 1; first <= std::min(widest, total - (parts - 1)); ++first)
    n += countCompositions(parts - 1, total - first, widest, requireOne && first != 1);
  return n;
}

struct Character {
  int value = -1;
  std::array<int, 8> counts{};
};

// The character of eight widths in reading order, scaled to its modules: the group whose totals
// fit the widths best, then the counts' value.
Character readCharacter(const double* widths, bool outer) {
  const int modules = outer ? 16 : 15;
  double sum = 0;
  for (int k = 0; k < 8; ++k) sum += widths[k];
  Character c;
  if (!(sum > 0)) return c;
  double odd[4], even[4];
  for (int k = 0; k < 4; ++k) odd[k] = widths[2 * k] * modules / sum, even[k] = widths[2 * k + 1] * modules / sum;
  double bestError = 1e9;
  for (const Group& g : outer ? std::span<const Group>(kOuterGroups) : std::span<const Group>(kInnerGroups)) {
    const int oddTotal = outer ? g.total : modules - g.total;
    int oc[4], ec[4];
    double oe = 0, ee = 0;
    if (!nearestModuleCounts(odd, oddTotal, oc, &oe) || !nearestModuleCounts(even, modules - oddTotal, ec, &ee)) continue;
    if (oe + ee >= bestError) continue;
    std::array<int, 8> counts;
    for (int k = 0; k < 4; ++k) counts[2 * k] = oc[k], counts[2 * k + 1] = ec[k];
    const int value = dataBarCharacterValue(counts, outer);
    if (value < 0) continue;
    bestError = oe + ee;
    c.value = value;
    c.counts = counts;
  }
  return c;
}

// Eight widths from widths[at] forwards, or backwards from widths[at + 7], with the bars' spread
// (modules times the character's module) taken off; firstIsBar tells the colour of widths[at].
void characterWidths(const std::vector<double>& widths, int at, bool backwards, bool firstIsBar, double spread,
                     double* out) {
  for (int k = 0; k < 8; ++k) {
    const int i = backwards ? at + 7 - k : at + k;
    const bool bar = ((i - at) % 2 == 0) == firstIsBar;
    out[k] = std::max(0.1, widths[i] + (bar ? -spread : spread));
  }
}

// Whether the ranks name a character of group g: the group holds otherCombinations values of the
// minor rank for each major rank, up to the next group's first value. Counts the rank allows
// beyond those (the widest-element rule admits a few more than the character set has) are no
// character.
bool inGroup(const Group& g, int major, int minor, bool outer) {
  const std::span<const Group> groups = outer ? std::span<const Group>(kOuterGroups) : std::span<const Group>(kInnerGroups);
  const int end = &g == &groups.back() ? (outer ? 2841 : 1597) : (&g + 1)->firstValue;
  return major >= 0 && minor >= 0 && minor < g.otherCombinations &&
         g.firstValue + major * g.otherCombinations + minor < end;
}

}  // namespace

bool nearestModuleCounts(const double* w, int total, int* counts, double* error) {
  int sum = 0;
  for (int k = 0; k < 4; ++k) sum += counts[k] = std::max(1, static_cast<int>(std::lround(w[k])));
  while (sum != total) {
    // Move the element whose change costs the least.
    int best = -1;
    double bestCost = 1e9;
    for (int k = 0; k < 4; ++k) {
      const int next = counts[k] + (sum < total ? 1 : -1);
      if (next < 1) continue;
      const double cost = (next - w[k]) * (next - w[k]) - (counts[k] - w[k]) * (counts[k] - w[k]);
      if (cost < bestCost) bestCost = cost, best = k;
    }
    if (best < 0) return false;
    counts[best] += sum < total ? 1 : -1;
    sum += sum < total ? 1 : -1;
  }
  *error = 0;
  for (int k = 0; k < 4; ++k) {
    const double d = counts[k] - w[k];
    if (std::fabs(d) > kMaxElementError) return false;
    *error += d * d;
  }
  return true;
}

int dataBarRank(const std::array<int, 4>& counts, int widest, bool requireOne) {
  int total = 0;
  bool hasOne = false;
  for (int c : counts) {
    if (c < 1 || c > widest) return -1;
    total += c;
    hasOne = hasOne || c == 1;
  }
  if (requireOne && !hasOne) return -1;
  // Every composition that agrees with counts before position k and has a smaller count at k
  // comes first.
  int rank = 0, left = total;
  bool needOne = requireOne;
  for (int k = 0; k < 4; ++k) {
    for (int smaller = 1; smaller < counts[k]; ++smaller)
      rank += countCompositions(3 - k, left - smaller, widest, needOne && smaller != 1);
    left -= counts[k];
    needOne = needOne && counts[k] != 1;
  }
  return rank;
}

OddEvenCounts splitOddEven(const std::array<int, 8>& counts) {
  OddEvenCounts c;
  for (int k = 0; k < 4; ++k) {
    c.odd[k] = counts[2 * k];
    c.even[k] = counts[2 * k + 1];
    c.oddTotal += c.odd[k];
    c.evenTotal += c.even[k];
  }
  return c;
}

int dataBarCharacterValue(const std::array<int, 8>& counts, bool outer) {
  const auto [odd, even, oddTotal, evenTotal] = splitOddEven(counts);
  if (oddTotal + evenTotal != (outer ? 16 : 15)) return -1;
  if (outer) {
    for (const Group& g : kOuterGroups) {
      if (g.total != oddTotal) continue;
      const int vOdd = dataBarRank(odd, g.oddWidest, false), vEven = dataBarRank(even, 9 - g.oddWidest, true);
      return inGroup(g, vOdd, vEven, true) ? g.firstValue + vOdd * g.otherCombinations + vEven : -1;
    }
  } else {
    for (const Group& g : kInnerGroups) {
      if (g.total != evenTotal) continue;
      const int vOdd = dataBarRank(odd, g.oddWidest, true), vEven = dataBarRank(even, 9 - g.oddWidest, false);
      return inGroup(g, vEven, vOdd, false) ? g.firstValue + vEven * g.otherCombinations + vOdd : -1;
    }
  }
  return -1;
}

bool readDataBar(const std::vector<double>& widths, int start, Read& read) {
  const int n = static_cast<int>(widths.size());
  if (start < 1 || start % 2 == 0 || start + 45 >= n) return false;
  const double module = sumWidths(widths, start, 45) / 95;
  if (!(module > 0) || widths[start - 1] < kQuietModules * module || widths[start + 45] < kQuietModules * module)
    return false;
  // Finders first: they reject almost every other start cheaply, the more so on the two single
  // modules every finder ends with, weighed before the whole table.
  static const SharedTerms shared = sharedTerms(kFinderTable);
  if (sharedError(widths.data(), n, start + 9, kFinderTable, shared) > kMaxFinderError) return false;
  const Match left = matchPattern(widths, start + 9, kFinderTable, kMaxFinderError);
  if (left.index < 0) return false;
  std::array<double, 5> rightFinder;
  std::reverse_copy(widths.begin() + start + 30, widths.begin() + start + 35, rightFinder.begin());
  const Match right = matchPattern(rightFinder.data(), 5, 0, kFinderTable);
  if (right.index < 0) return false;
  // The bars' spread in modules, from the finders' three bars each (the finders' own widths are known).
  double spread = 0;
  const double leftModule = sumWidths(widths, start + 9, 5) / 15, rightModule = (rightFinder[0] + rightFinder[1] + rightFinder[2] + rightFinder[3] + rightFinder[4]) / 15;
  for (int k : {1, 3}) spread += widths[start + 9 + k] / leftModule - (kFinders[left.index][k] - '0');
  for (int k : {0, 2, 4}) spread += rightFinder[k] / rightModule - (kFinders[right.index][k] - '0');
  spread = std::clamp(spread / 5, -0.6, 0.6) * module;
  // char1 starts with a space after the guard bar, char2 (read backwards) with a space at its
  // centre end, char4 (forwards) with a bar, char3 (backwards) with a bar at its outer end.
  double w[4][8];
  characterWidths(widths, start + 1, false, false, spread, w[0]);
  characterWidths(widths, start + 14, true, true, spread, w[1]);
  characterWidths(widths, start + 35, true, false, spread, w[2]);
  characterWidths(widths, start + 22, false, true, spread, w[3]);
  Character c[4];
  for (int k = 0; k < 4; ++k) {
    c[k] = readCharacter(w[k], k % 2 == 0);
    if (c[k].value < 0) return false;
  }
  // The mod-79 check over the 32 elements, weighted by powers of 3 in reading order.
  int check = 0, weight = 1;
  for (const Character& ch : c)
    for (int e : ch.counts) {
      check = (check + e * weight) % 79;
      weight = weight * 3 % 79;
    }
  int target = 9 * left.index + right.index;
  if (target > 72) --target;
  if (target > 8) --target;
  if (target != check) return false;
  const uint64_t leftValue = 1597ull * c[0].value + c[1].value, rightValue = 1597ull * c[2].value + c[3].value;
  const uint64_t value = 4537077ull * leftValue + rightValue;
  if (value >= 10000000000000ull) return false;
  std::string digits = std::to_string(value);
  digits.insert(0, 13 - digits.size(), '0');
  digits.push_back(static_cast<char>('0' + eanCheckDigit(digits)));
  read.symbology = Symbology::databar;
  read.text = "]e001" + digits;
  read.identifier = "]e0";
  read.firstElement = start;
  read.lastElement = start + 44;
  read.margin = std::min(left.margin, right.margin);
  read.checked = true;
  return true;
}

}  // namespace oned
