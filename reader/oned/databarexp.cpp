// GS1 DataBar expanded from element widths: finders, characters, the mod-211 check.
#include "reader/oned/databarexp.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "reader/oned/databar.hpp"
#include "reader/oned/match.hpp"

namespace oned {

namespace {

// Finders A..F in reading order as they stand in the first, third, ... pairs.
const char* const kFinders[] = {"18411", "36411", "34611", "32811", "26511", "22911"};
const PatternTable kFinderTable{kFinders, 6, 5, 15};
constexpr double kMaxFinderError = 1.2;  // matchPattern's default

// The characters' groups by odd total 12, 10, 8, 6, 4: the widest odd element, the number of
// even combinations, the group's first value.
struct Group {
  int oddTotal, oddWidest, evenCombinations, firstValue;
};
constexpr Group kGroups[] = {{12, 7, 4, 0}, {10, 5, 20, 348}, {8, 4, 52, 1388}, {6, 3, 104, 2948}, {4, 1, 204, 3988}};
constexpr int kValues = 4096;  // 12 bits a character

constexpr int kModules = 17;           // of a character
constexpr int kMaxPairs = 11;
constexpr double kMaxGuardError = 0.6;  // modules a guard element may lie off one module
constexpr double kMaxSpread = 0.6;      // modules the bars may be widened or thinned

// The finder sequences for 2..11 pairs (0..5 for A..F).
const std::vector<int> kSequences[] = {{0, 0},
                                       {0, 1, 1},
                                       {0, 2, 1, 3},
                                       {0, 4, 1, 3, 2},
                                       {0, 4, 1, 3, 3, 5},
                                       {0, 4, 1, 3, 4, 5, 5},
                                       {0, 0, 1, 1, 2, 2, 3, 3},
                                       {0, 0, 1, 1, 2, 2, 3, 4, 4},
                                       {0, 0, 1, 1, 2, 2, 3, 4, 5, 5},
                                       {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 5}};

// One pair's finder as read: which (-1 none), and the module and bar spread it shows.
struct Finder {
  int index = -1;
  double module = 0, spread = 0;
};

// The finder of pair `pair` whose five elements start at widths[at]: mirrored in odd pairs.
Finder readFinder(const std::vector<double>& widths, int at, int pair) {
  Finder f;
  if (at < 1 || at + 5 >= static_cast<int>(widths.size())) return f;
  std::array<double, 5> five;
  std::copy(widths.begin() + at, widths.begin() + at + 5, five.begin());
  if (pair % 2 == 1) std::reverse(five.begin(), five.end());
  // Every finder ends in two single modules: a place whose last two elements are far from that
  // is turned away before the whole table is weighed.
  static const SharedTerms shared = sharedTerms(kFinderTable);
  if (sharedError(five.data(), 5, 0, kFinderTable, shared) > kMaxFinderError) return f;
  const Match m = matchPattern(five.data(), 5, 0, kFinderTable, kMaxFinderError);
  if (m.index < 0) return f;
  f.index = m.index;
  f.module = (((five[0] + five[1]) + five[2]) + five[3] + five[4]) / 15;
  // The bars' spread from the finder's own known widths (element k of five is a bar when its
  // place in the line is odd).
  double spread = 0;
  int bars = 0;
  for (int k = 0; k < 5; ++k) {
    const int place = pair % 2 == 1 ? at + 4 - k : at + k;
    if (place % 2 == 0) continue;
    spread += five[k] / f.module - (kFinders[m.index][k] - '0');
    ++bars;
  }
  f.spread = std::clamp(spread / bars, -kMaxSpread, kMaxSpread) * f.module;
  return f;
}

struct Character {
  int value = -1;
  std::array<int, 8> counts{};
};

// The character whose eight elements run from widths[outer] towards widths[inner] (the finder
// side), the bars' spread taken off: the group whose totals fit best, then its value.
Character readCharacter(const std::vector<double>& widths, int outer, int inner, const Finder& f) {
  Character c;
  const int step = inner > outer ? 1 : -1;
  double w[8], sum = 0;
  for (int k = 0; k < 8; ++k) {
    const int i = outer + step * k;
    w[k] = std::max(0.1, widths[i] + (i % 2 == 1 ? -f.spread : f.spread));
    sum += w[k];
  }
  double odd[4], even[4];
  for (int k = 0; k < 4; ++k) odd[k] = w[2 * k] * kModules / sum, even[k] = w[2 * k + 1] * kModules / sum;
  double bestError = 1e9;
  for (const Group& g : kGroups) {
    int oc[4], ec[4];
    double oe = 0, ee = 0;
    if (!nearestModuleCounts(odd, g.oddTotal, oc, &oe) || !nearestModuleCounts(even, kModules - g.oddTotal, ec, &ee))
      continue;
    if (oe + ee >= bestError) continue;
    std::array<int, 8> counts;
    for (int k = 0; k < 4; ++k) counts[2 * k] = oc[k], counts[2 * k + 1] = ec[k];
    const int value = dataBarExpandedValue(counts);
    if (value < 0) continue;
    bestError = oe + ee;
    c.value = value;
    c.counts = counts;
  }
  return c;
}

// Whether widths[at] is a closing guard element of about one module; a light one may run on
// into the quiet zone.
bool guardElement(const std::vector<double>& widths, int at, double module) {
  if (at < 0 || at >= static_cast<int>(widths.size())) return false;
  const double m = widths[at] / module;
  return at % 2 == 0 ? m > 1 - kMaxGuardError : std::fabs(m - 1) < kMaxGuardError;
}

// The symbol of `pairs` pairs (the last without its right character when `odd`) starting at the
// guard bar widths[start], its finders read: characters, the check, the bits.
bool readSymbol(const std::vector<double>& widths, int start, const std::vector<Finder>& finders, int pairs, bool odd,
                Read& read) {
  const int n = static_cast<int>(widths.size());
  const int characters = 2 * pairs - (odd ? 1 : 0);
  const int last = start + 1 + 21 * (pairs - 1) + (odd ? 13 : 21);  // the first closing guard element
  const Finder& final = finders[pairs - 1];
  if (last + 1 >= n || !guardElement(widths, last, final.module) || !guardElement(widths, last + 1, final.module))
    return false;
  // A dark closing element needs light after it.
  if (last % 2 == 0 && (last + 2 >= n || widths[last + 2] < final.module)) return false;
  std::vector<int> values;
  int check = -1, sum = 0;
  for (int p = 0; p < pairs; ++p) {
    const int base = start + 1 + 21 * p;
    for (int side = 0; side < 2; ++side) {
      if (side == 1 && odd && p == pairs - 1) break;
      const Character c = side == 0 ? readCharacter(widths, base, base + 7, finders[p])
                                    : readCharacter(widths, base + 20, base + 13, finders[p]);
      if (c.value < 0) return false;
      if (p == 0 && side == 0) {
        check = c.value;
        continue;
      }
      for (int k = 0; k < 8; ++k) sum += c.counts[k] * dataBarExpandedWeight(finders[p].index, p, side == 0, k);
      values.push_back(c.value);
    }
  }
  if (check != 211 * (characters - 4) + sum % 211) return false;
  std::string text;
  if (!decodeDataBarExpandedBits(values, characters, text)) return false;
  read = Read{};
  read.symbology = Symbology::databarExpanded;
  read.text = "]e0" + text;
  read.identifier = "]e0";
  read.firstElement = start;
  read.lastElement = last % 2 == 1 ? last : last + 1;
  read.checked = true;
  read.margin = 1;
  return true;
}

}  // namespace

int dataBarExpandedValue(const std::array<int, 8>& counts) {
  const auto [odd, even, oddTotal, evenTotal] = splitOddEven(counts);
  if (oddTotal + evenTotal != kModules) return -1;
  for (size_t g = 0; g < std::size(kGroups); ++g) {
    if (kGroups[g].oddTotal != oddTotal) continue;
    const int vOdd = dataBarRank(odd, kGroups[g].oddWidest, true);
    const int vEven = dataBarRank(even, 9 - kGroups[g].oddWidest, false);
    if (vOdd < 0 || vEven < 0 || vEven >= kGroups[g].evenCombinations) return -1;
    const int value = kGroups[g].firstValue + vOdd * kGroups[g].evenCombinations + vEven;
    const int end = g + 1 < std::size(kGroups) ? kGroups[g + 1].firstValue : kValues;
    return value < end ? value : -1;
  }
  return -1;
}

int dataBarExpandedWeight(int finder, int pair, bool left, int element) {
  const int row = 4 * finder + (pair % 2 == 0 ? 0 : 2) + (left ? 0 : 1) - 1;
  if (row < 0 || element < 0 || element > 7) return 0;
  // Successive powers of 3 modulo 211, eight to a row.
  int weight = 1;
  for (int k = 0; k < 8 * row + element; ++k) weight = weight * 3 % 211;
  return weight;
}

std::vector<int> dataBarExpandedFinders(int pairs) {
  if (pairs < 2 || pairs > kMaxPairs) return {};
  return kSequences[pairs - 2];
}

bool readDataBarExpanded(const std::vector<double>& widths, int start, Read& read) {
  const int n = static_cast<int>(widths.size());
  // Two whole pairs and the closing guard at the least.
  if (start < 1 || start % 2 == 0 || start + 45 > n) return false;
  // The first finder alone turns away almost every start, before any list of them is made.
  const Finder first = readFinder(widths, start + 9, 0);
  if (first.index != 0 || widths[start - 1] < (1 - kMaxGuardError) * first.module ||
      std::fabs(widths[start] / first.module - 1) > kMaxGuardError)
    return false;
  std::vector<Finder> finders{first};
  while (static_cast<int>(finders.size()) < kMaxPairs) {
    const int p = static_cast<int>(finders.size());
    const Finder f = readFinder(widths, start + 1 + 21 * p + 8, p);
    if (f.index < 0) break;
    finders.push_back(f);
  }
  // The finders seen may run past the symbol's end into others' bars: the longest sequence that
  // is a symbol's and reads.
  for (int pairs = static_cast<int>(finders.size()); pairs >= 2; --pairs) {
    const std::vector<int> sequence = dataBarExpandedFinders(pairs);
    bool same = true;
    for (int p = 0; p < pairs && same; ++p) same = sequence[p] == finders[p].index;
    if (!same) continue;
    if (readSymbol(widths, start, finders, pairs, false, read) || readSymbol(widths, start, finders, pairs, true, read))
      return true;
  }
  return false;
}

}  // namespace oned
