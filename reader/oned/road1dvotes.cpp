#include "reader/oned/road1dvotes.hpp"

#include <algorithm>
#include <map>

namespace road1d {

bool overlapAlong(double start0, double end0, double start1, double end1) {
  return std::max(start0, start1) <= std::min(end0, end1);
}

double startOf(const LineRead& r) { return std::min(r.startAlong, r.endAlong); }
double endOf(const LineRead& r) { return std::max(r.startAlong, r.endAlong); }

// Votes by place as well as by text: labels standing in a row a few pixels apart share one region
// and its lines, and each line reads them all. Reads of one text whose spans along overlap are one
// symbol (a candidate); a rival is a candidate of another text over the same span along, on any of
// the region's lines, while texts read elsewhere along the lines are other symbols and no rivals
// (nor are copies of one label).
Votes countVotes(const std::vector<std::vector<LineRead>>& perLine) {
  struct Candidate {
    std::pair<int, std::string> key;
    double start, end;
    int firstLine, lastLine, lines;
    double acrossMin, acrossMax;
  };
  std::map<std::pair<int, std::string>, std::vector<const LineRead*>> byText;
  for (const std::vector<LineRead>& line : perLine)
    for (const LineRead& lr : line) byText[{static_cast<int>(lr.read.symbology), lr.read.text}].push_back(&lr);
  std::vector<Candidate> candidates;
  for (auto& [key, list] : byText) {
    std::sort(list.begin(), list.end(), [](const LineRead* a, const LineRead* b) { return startOf(*a) < startOf(*b); });
    for (size_t i = 0; i < list.size(); ++i) {
      const LineRead& r = *list[i];
      if (i == 0 || startOf(r) > candidates.back().end) {
        candidates.push_back({key, startOf(r), endOf(r), r.line, r.line, 1, r.across, r.across});
        continue;
      }
      Candidate& c = candidates.back();
      c.end = std::max(c.end, endOf(r));
      c.firstLine = std::min(c.firstLine, r.line);
      c.lastLine = std::max(c.lastLine, r.line);
      c.acrossMin = std::min(c.acrossMin, r.across);
      c.acrossMax = std::max(c.acrossMax, r.across);
      ++c.lines;
    }
  }
  Votes v;
  const Candidate* best = nullptr;
  for (const Candidate& c : candidates)
    if (!best || c.lines > best->lines) best = &c;
  if (!best) return v;
  v.winner = best->key;
  v.start = best->start;
  v.end = best->end;
  v.firstLine = best->firstLine;
  v.lastLine = best->lastLine;
  v.best = best->lines;
  v.acrossSpan = best->acrossMax - best->acrossMin;
  for (const Candidate& c : candidates) {
    if (&c == best || c.key == best->key || !overlapAlong(c.start, c.end, best->start, best->end)) continue;
    v.second = std::max(v.second, c.lines);
    // Rivals whose lines lie wholly to one side of the winner's may be a label above or below it.
    if (c.lastLine < best->firstLine || c.firstLine > best->lastLine) {
      const int between = c.lastLine < best->firstLine ? (c.lastLine + best->firstLine) : (c.firstLine + best->lastLine);
      v.splitBetween = between;  // twice the place across, in lines
    } else {
      v.interleaved = true;
    }
  }
  return v;
}

// The add-on, raw text and identifier of the winning text. The add-on's own check is weak: it is
// reported only when two lines read it and no line read another.
void chooseAddOn(const std::vector<LineRead>& reads, const std::pair<int, std::string>& winner, Symbol& out) {
  std::map<std::string, int> addOns;
  for (const LineRead& lr : reads) {
    if (static_cast<int>(lr.read.symbology) != winner.first || lr.read.text != winner.second) continue;
    out.rawText = lr.read.rawText;
    if (out.identifier.empty() || lr.read.addOn.empty()) out.identifier = lr.read.identifier;
    if (!lr.read.addOn.empty()) ++addOns[lr.read.addOn];
  }
  if (addOns.size() == 1 && addOns.begin()->second >= 2) out.addOn = addOns.begin()->first;
  // The identifier of a read with its add-on stands for both.
  if (!out.addOn.empty()) out.identifier = "]E3";
  else if (out.identifier == "]E3") out.identifier = winner.first == static_cast<int>(oned::Symbology::ean8) ? "]E4" : "]E0";
}

// One vote a line for a symbol: the same text read by this line another way, over the same bars,
// is not counted again.
bool readAlready(const std::vector<LineRead>& line, const LineRead& r) {
  for (const LineRead& o : line)
    if (o.read.symbology == r.read.symbology && o.read.text == r.read.text &&
        overlapAlong(startOf(o), endOf(o), startOf(r), endOf(r)))
      return true;
  return false;
}

namespace {

// The modules of an EAN/UPC symbol from guard to guard; 0 for the other symbologies.
int eanModules(int symbology) {
  switch (static_cast<oned::Symbology>(symbology)) {
    case oned::Symbology::ean13:
    case oned::Symbology::upca: return 95;
    case oned::Symbology::ean8: return 67;
    case oned::Symbology::upce: return 51;
    default: return 0;
  }
}

}  // namespace

// Wrong text is worse than none: a rival reading must be clearly outvoted.
bool outvotes(const Votes& v, const Options& options) {
  return v.best >= options.minAgreeing && v.best >= 2 * v.second + (v.second > 0 ? 1 : 0);
}

bool decides(const Votes& v, const Options& options, double regionAcross) {
  if (!outvotes(v, options)) return false;
  // EAN/UPC carry one check digit, which often goes on settling a digit the widths left open.
  // Lines a few modules apart cross one flaw of the print (a mark or a crease over the bars, or
  // blur that leaves the same widths all along them) alike, and read the same wrong text: on a
  // photograph scaled up twice, two or three neighbouring lines 2 to 4 modules apart, near the
  // top of a UPC-E's tall bars, agreed on a wrong text, and no other line read anything. So few
  // agreeing lines count only when they lie well apart, or take in a good part of the region's
  // height (a strip of short bars has no lines further apart).
  const int modules = eanModules(v.winner.first);
  if (modules == 0 || v.best > kFewLines) return true;
  return v.acrossSpan >= kIndependentModules * (v.end - v.start) / modules ||
         v.acrossSpan >= kIndependentShare * regionAcross;
}

}  // namespace road1d
