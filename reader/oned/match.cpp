#include "reader/oned/match.hpp"

#include <algorithm>
#include <cmath>

namespace oned {

double sumWidths(const std::vector<double>& widths, int at, int n) {
  double s = 0;
  for (int k = 0; k < n; ++k) s += widths[at + k];
  return s;
}

namespace {

// Widths at..at + n scaled to the table's modules; false when they span nothing.
bool scaledWidths(const double* widths, int count, int at, const PatternTable& table, double* w) {
  const int n = table.elements;
  if (at < 0 || at + n > count || n > 16) return false;
  double total = 0;
  for (int k = 0; k < n; ++k) total += widths[at + k];
  if (!(total > 0)) return false;
  const double scale = table.modules / total;
  for (int k = 0; k < n; ++k) w[k] = widths[at + k] * scale;
  return true;
}

// The squared distance of scaled widths from pattern t, on the widths and on the sums of
// neighbours (edge-to-similar-edge: a uniform spread of the bars cancels in those); the sum stops
// early once it passes bound, as nothing above it is wanted.
double distance(const double* w, const char* t, int n, double bound) {
  double err = 0;
  for (int k = 0; k < n && err < bound; ++k) {
    const double d = w[k] - (t[k] - '0');
    err += d * d;
    if (k + 1 < n) {
      const double e = w[k] + w[k + 1] - (t[k] - '0') - (t[k + 1] - '0');
      err += 2 * e * e;
    }
  }
  return err;
}

}  // namespace

double patternError(const std::vector<double>& widths, int at, const PatternTable& table, int index) {
  double w[16];
  if (index < 0 || index >= table.count ||
      !scaledWidths(widths.data(), static_cast<int>(widths.size()), at, table, w))
    return 1e9;
  return distance(w, table.patterns[index], table.elements, 1e9);
}

SharedTerms sharedTerms(const PatternTable& table) {
  SharedTerms shared;
  const int n = std::min(table.elements, 16);
  for (int k = 0; k < n; ++k) {
    bool same = true;
    for (int p = 1; p < table.count; ++p) same = same && table.patterns[p][k] == table.patterns[0][k];
    shared.element[k] = same;
  }
  for (int k = 0; k + 1 < n; ++k) shared.pair[k] = shared.element[k] && shared.element[k + 1];
  return shared;
}

double sharedError(const double* widths, int count, int at, const PatternTable& table, const SharedTerms& shared) {
  double w[16];
  if (table.count < 1 || !scaledWidths(widths, count, at, table, w)) return 0;
  // The terms in distance()'s order and form: each is the same for every pattern, and leaving
  // out the others (all of them positive) can only make the sum smaller, rounding included.
  const char* t = table.patterns[0];
  const int n = table.elements;
  double err = 0;
  for (int k = 0; k < n; ++k) {
    if (shared.element[k]) {
      const double d = w[k] - (t[k] - '0');
      err += d * d;
    }
    if (k + 1 < n && shared.pair[k]) {
      const double e = w[k] + w[k + 1] - (t[k] - '0') - (t[k + 1] - '0');
      err += 2 * e * e;
    }
  }
  return err;
}

bool anyPatternWithin(const std::vector<double>& widths, int at, const PatternTable& table,
                      std::initializer_list<int> indices, double maxError) {
  double w[16];
  if (!scaledWidths(widths.data(), static_cast<int>(widths.size()), at, table, w)) return false;
  // A sum stopped at the bound only ever stops above maxError: a pattern within it is summed whole.
  const double bound = std::nextafter(maxError, 1e300);
  for (int index : indices)
    if (index >= 0 && index < table.count && distance(w, table.patterns[index], table.elements, bound) <= maxError)
      return true;
  return false;
}

Match matchPattern(const std::vector<double>& widths, int at, const PatternTable& table, double maxError,
                   double minMargin) {
  return matchPattern(widths.data(), static_cast<int>(widths.size()), at, table, maxError, minMargin);
}

Match matchPattern(const double* widths, int count, int at, const PatternTable& table, double maxError,
                   double minMargin) {
  Match m;
  double w[16];
  if (!scaledWidths(widths, count, at, table, w)) return m;
  double best = 1e9, second = 1e9;
  for (int p = 0; p < table.count; ++p) {
    const double err = distance(w, table.patterns[p], table.elements, second);
    if (err < best) {
      second = best;
      best = err;
      m.index = p;
    } else if (err < second) {
      second = err;
    }
  }
  m.error = best;
  m.margin = second + best > 0 ? (second - best) / (second + best) : 0;
  if (best > maxError || m.margin < minMargin) m.index = -1;
  return m;
}

int wideNarrow(const std::vector<double>& widths, int at, int n, int wide, double ratio, double* narrow) {
  return wideNarrow(widths.data(), static_cast<int>(widths.size()), at, n, wide, ratio, narrow);
}

int wideNarrow(const double* widths, int count, int at, int n, int wide, double ratio, double* narrow) {
  if (at < 0 || at + n > count || n > 16 || wide <= 0 || wide >= n) return -1;
  double sorted[16];
  for (int k = 0; k < n; ++k) sorted[k] = widths[at + k];
  std::sort(sorted, sorted + n);
  const double maxNarrow = sorted[n - wide - 1], minWide = sorted[n - wide];
  if (!(maxNarrow > 0) || minWide < ratio * maxNarrow) return -1;
  const double cut = 0.5 * (maxNarrow + minWide);
  int bits = 0;
  double narrowSum = 0;
  for (int k = 0; k < n; ++k) {
    const bool isWide = widths[at + k] > cut;
    bits = bits << 1 | (isWide ? 1 : 0);
    if (!isWide) narrowSum += widths[at + k];
  }
  if (narrow) *narrow = narrowSum / (n - wide);
  return bits;
}

void appendLatin1(std::string& text, int c) {
  if (c < 0x80) {
    text.push_back(static_cast<char>(c));
  } else {
    text.push_back(static_cast<char>(0xC0 | (c >> 6)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace oned
