#include "reader/oned/eanparts.hpp"

#include <algorithm>
#include <cmath>

#include "reader/oned/match.hpp"

namespace oned {

const char* const kEanDigits[20] = {"3211", "2221", "2122", "1411", "1132", "1231", "1114",
                                    "1312", "1213", "3112", "1123", "1222", "2212", "1141",
                                    "2311", "1321", "4111", "2131", "3121", "2113"};

namespace {

constexpr double kMaxSumError = 1.0;    // squared modules over the three distances
constexpr double kMinMargin = 0.25;
constexpr double kMaxSpread = 1.0;      // modules a bar may have grown (or shrunk)
constexpr double kPairLead = 0.3;       // modules the bar width must favour one of a pair by

int pattern(int index, int k) { return kEanDigits[index][k] - '0'; }

// The digit sharing index's edge distances (1 and 7, 2 and 8 in each set), or -1.
int twinOf(int index) {
  static constexpr int kTwins[20] = {-1, 7, 8, -1, -1, -1, -1, 1, 2, -1, -1, 17, 18, -1, -1, -1, -1, 11, 12, -1};
  return kTwins[index];
}

struct DigitMatch {
  int index = -1, runnerUp = -1;  // the best pattern, and the best other one (twins count as one)
  double margin = 0;
  double w[4] = {0, 0, 0, 0};     // the elements scaled to seven modules
};

constexpr double kMaxRunnerUpError = 1.6;  // a runner-up this far off is no candidate

// The best digit by edge distances (a twin counts as the same candidate for the margin).
DigitMatch matchDistances(const std::vector<double>& widths, const EanDigitAt& place, double module) {
  DigitMatch m;
  if (place.at < 0 || place.at + 4 > static_cast<int>(widths.size())) return m;
  const double total = sumWidths(widths, place.at, 4);
  if (!(total > 0) || total / 7 > 2 * module || total / 7 < module / 2) return m;
  for (int k = 0; k < 4; ++k) m.w[k] = widths[place.at + k] * 7 / total;
  double best = 1e9, second = 1e9;
  const int count = place.gCodes ? 20 : 10;
  for (int p = 0; p < count; ++p) {
    double err = 0;
    for (int k = 0; k < 3; ++k) {
      const double d = m.w[k] + m.w[k + 1] - pattern(p, k) - pattern(p, k + 1);
      err += d * d;
    }
    if (err < best) {
      if (m.index >= 0 && twinOf(p) != m.index) {
        second = best;
        m.runnerUp = m.index;
      }
      best = err;
      m.index = p;
    } else if (err < second && twinOf(p) != m.index) {
      second = err;
      m.runnerUp = p;
    }
  }
  m.margin = second + best > 0 ? (second - best) / (second + best) : 0;
  if (best > kMaxSumError) m.index = -1;
  if (second > kMaxRunnerUpError) m.runnerUp = -1;
  return m;
}

// Bar modules of a digit pattern at a place.
double barModules(int index, bool firstIsBar) {
  return firstIsBar ? pattern(index, 0) + pattern(index, 2) : pattern(index, 1) + pattern(index, 3);
}

// The twin of a pair the bars favour, given the bars' spread; both when they do not decide.
std::vector<int> settleTwins(const DigitMatch& m, bool firstIsBar, double spread) {
  const int twin = twinOf(m.index);
  if (twin < 0) return {m.index};
  const double bars = (firstIsBar ? m.w[0] + m.w[2] : m.w[1] + m.w[3]) - 2 * spread;
  const double own = std::fabs(bars - barModules(m.index, firstIsBar));
  const double other = std::fabs(bars - barModules(twin, firstIsBar));
  if (std::fabs(own - other) < kPairLead) return {m.index, twin};
  return {other < own ? twin : m.index};
}

// Perspective makes the module grow or shrink steadily along a symbol, up to twice over; a
// digit whose width leaves that line by more than a fifth is not the digit it seems.
bool modulesFollowALine(const std::vector<double>& widths, const std::vector<EanDigitAt>& places) {
  const int n = static_cast<int>(places.size());
  if (n < 2) return true;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    const double y = sumWidths(widths, places[i].at, 4) / 7;
    sx += i;
    sy += y;
    sxx += static_cast<double>(i) * i;
    sxy += i * y;
  }
  const double det = n * sxx - sx * sx;
  const double slope = det > 0 ? (n * sxy - sx * sy) / det : 0, base = (sy - slope * sx) / n;
  const double first = base, last = base + slope * (n - 1);
  if (!(first > 0) || !(last > 0) || std::max(first, last) > 2.2 * std::min(first, last)) return false;
  for (int i = 0; i < n; ++i) {
    const double y = sumWidths(widths, places[i].at, 4) / 7, fit = base + slope * i;
    if (y > 1.2 * fit || y < fit / 1.2) return false;
  }
  return true;
}

}  // namespace

bool decodeEanDigits(const std::vector<double>& widths, const std::vector<EanDigitAt>& places, double module,
                     EanValidator valid, const void* context, std::string& digits, int& parity, double& margin) {
  std::vector<DigitMatch> matches;
  double spread = 0;
  int spreadCount = 0;
  for (const EanDigitAt& place : places) {
    const DigitMatch m = matchDistances(widths, place, module);
    if (m.index < 0) return false;
    matches.push_back(m);
    if (twinOf(m.index) >= 0 || m.margin < kMinMargin) continue;
    // How much wider than its pattern each bar came out (each space narrower).
    for (int k = 0; k < 4; ++k) {
      const bool bar = (k % 2 == 0) == place.firstIsBar;
      spread += (bar ? 1 : -1) * (m.w[k] - pattern(m.index, k));
      ++spreadCount;
    }
  }
  spread = spreadCount > 0 ? std::clamp(spread / spreadCount, -kMaxSpread, kMaxSpread) : 0;
  if (!modulesFollowALine(widths, places)) return false;
  // The candidates of every digit: one where it decides, two or more where it does not.
  std::vector<std::vector<int>> candidates;
  int uncertain = 0;
  double worst = 1;
  for (size_t i = 0; i < matches.size(); ++i) {
    const DigitMatch& m = matches[i];
    std::vector<int> c = settleTwins(m, places[i].firstIsBar, spread);
    if (m.margin < kMinMargin) {
      if (m.runnerUp < 0) return false;
      for (int t : settleTwins(DigitMatch{m.runnerUp, -1, 0, {m.w[0], m.w[1], m.w[2], m.w[3]}}, places[i].firstIsBar, spread))
        c.push_back(t);
    }
    if (c.size() > 1) ++uncertain;
    worst = std::min(worst, m.margin);
    candidates.push_back(std::move(c));
  }
  if (uncertain > kMaxUncertainDigits) return false;
  // Every combination, counting the valid ones.
  std::vector<size_t> choice(candidates.size(), 0);
  int validCount = 0;
  std::string found;
  int foundParity = 0;
  while (true) {
    std::string text;
    int bits = 0;
    for (size_t i = 0; i < candidates.size(); ++i) {
      const int index = candidates[i][choice[i]];
      text.push_back(static_cast<char>('0' + index % 10));
      bits = bits << 1 | (index >= 10 ? 1 : 0);
    }
    if (valid(text, bits, context)) {
      ++validCount;
      found = text;
      foundParity = bits;
    }
    size_t i = 0;
    while (i < choice.size() && ++choice[i] == candidates[i].size()) choice[i++] = 0;
    if (i == choice.size()) break;
  }
  if (validCount != 1) return false;
  digits += found;
  parity = foundParity;
  margin = std::min(margin, uncertain > 0 ? 0.0 : worst);
  return true;
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

bool quietBeforeGuardMayFit(const std::vector<double>& widths, int at, double quietModules) {
  if (at < 1 || at + 3 > static_cast<int>(widths.size())) return false;
  const double widest = std::max({widths[at], widths[at + 1], widths[at + 2]});
  return !(widths[at - 1] < 0.99 * 0.5 * quietModules * widest);
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
