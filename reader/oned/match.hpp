// Pattern matching on element widths, shared by the readers.
#ifndef IDUT_READER_ONED_MATCH_HPP
#define IDUT_READER_ONED_MATCH_HPP

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace oned {

// A table of count patterns of n elements each, every element a module count (1..9), as the
// digits of a string: "212222" is a 2-module element, then 1, 2, 2, 2, 2.
struct PatternTable {
  const char* const* patterns;
  int count;
  int elements;
  int modules;  // modules of each pattern
};

struct Match {
  int index = -1;       // best pattern, -1 when none fits
  double error = 1e9;   // its squared distance in modules
  double margin = 0;    // (second - best) / (second + best): 0 a tie, 1 a perfect lone fit
};

// The best pattern for widths[at .. at + n): widths are scaled so that they span the table's
// modules, then compared on both the element widths and the sums of neighbouring elements.
// A match needs an error below maxError and a margin of at least minMargin.
Match matchPattern(const std::vector<double>& widths, int at, const PatternTable& table, double maxError = 1.2,
                   double minMargin = 0.25);
// The same on count widths held elsewhere (a reader's few elements gathered or turned round on the
// stack: the readers try every bar of every line, and a heap copy each time cost more than the match).
Match matchPattern(const double* widths, int count, int at, const PatternTable& table, double maxError = 1.2,
                   double minMargin = 0.25);

// The distance matchPattern measures from pattern index alone (1e9 when the widths do not fit):
// a reader checks its start pattern with it before it matches the whole table.
double patternError(const std::vector<double>& widths, int at, const PatternTable& table, int index);

// The terms of matchPattern's error that every pattern of a table shares: the elements, and the
// neighbour sums, whose module counts all its patterns agree on (DataBar's finders all end in
// two single modules, say).
struct SharedTerms {
  bool element[16] = {};
  bool pair[16] = {};  // the sum of elements k and k + 1
};
SharedTerms sharedTerms(const PatternTable& table);

// The shared terms of the error at widths[at], summed as matchPattern sums them: no pattern's
// error is below it, so when it passes maxError no pattern matches, and a reader turns the
// place away before weighing the whole table. 0 where matchPattern finds nothing to scale.
double sharedError(const double* widths, int count, int at, const PatternTable& table, const SharedTerms& shared);

// Whether pattern index or another of indices lies within maxError of widths[at .. at + n), as
// patternError measures it (the widths scaled once for all).
bool anyPatternWithin(const std::vector<double>& widths, int at, const PatternTable& table,
                      std::initializer_list<int> indices, double maxError);

double sumWidths(const std::vector<double>& widths, int at, int n);

// Wide/narrow classification of n elements of which exactly wide are wide: the bit pattern
// (first element in the highest bit) or -1 when the widest narrow element and the narrowest wide
// element are closer than ratio to each other. narrow receives the mean narrow width.
int wideNarrow(const std::vector<double>& widths, int at, int n, int wide, double ratio, double* narrow);
int wideNarrow(const double* widths, int count, int at, int n, int wide, double ratio, double* narrow);

// Appends the UTF-8 encoding of a code point below 256.
void appendLatin1(std::string& text, int c);

}  // namespace oned

#endif
