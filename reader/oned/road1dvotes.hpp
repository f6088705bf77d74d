// How the reads of a region's lines become one symbol: votes by text and by place, a rival over
// the same bars clearly outvoted, the add-on and identifier of the winning text.
#ifndef IDUT_READER_ONED_ROAD1DVOTES_HPP
#define IDUT_READER_ONED_ROAD1DVOTES_HPP

#include <string>
#include <utility>
#include <vector>

#include "reader/oned/road1d.hpp"

namespace road1d {

struct LineRead {
  oned::Read read;
  double startAlong, endAlong;  // the symbol's first and last bar edges along the region axis
  double across;
  int line;  // which of the region's lines, in order across
};

struct Votes {
  std::pair<int, std::string> winner;  // symbology and text
  double start = 0, end = 0;           // along, the span of the winner's reads
  int firstLine = 0, lastLine = 0;     // and the lines that read it
  // A rival over the same span along on lines apart from the winner's (splitBetween: the sum of
  // the two nearest lines, -1 when none), or on lines among them (interleaved).
  int splitBetween = -1;
  bool interleaved = false;
  int best = 0, second = 0;            // lines for the winner and for its strongest rival
  double acrossSpan = 0;               // how far apart across the winner's outermost lines lie
};

// How far apart across so few lines (kFewLines or fewer) must lie to decide an EAN/UPC symbol
// (see decides): so many of the symbol's modules, or this share of the region's height.
inline constexpr int kFewLines = 3;
inline constexpr double kIndependentModules = 4.5;
inline constexpr double kIndependentShare = 0.25;

bool overlapAlong(double start0, double end0, double start1, double end1);
double startOf(const LineRead& r);  // the read's span along, whichever way it was read
double endOf(const LineRead& r);

// Votes by text and place over every line's reads (see road1dvotes.cpp).
Votes countVotes(const std::vector<std::vector<LineRead>>& perLine);

// The add-on, raw text and identifier of the winning text, from the winner's reads.
void chooseAddOn(const std::vector<LineRead>& reads, const std::pair<int, std::string>& winner, Symbol& out);

// Whether this line read the same text over the same bars already (one vote a line a symbol).
bool readAlready(const std::vector<LineRead>& line, const LineRead& r);

// Whether enough lines agree and any rival is clearly outvoted.
bool outvotes(const Votes& v, const Options& options);

// Whether the votes decide: they outvote, and for EAN/UPC a few agreeing lines lie well apart.
// regionAcross: the height of the region the lines cross.
bool decides(const Votes& v, const Options& options, double regionAcross);

}  // namespace road1d

#endif
