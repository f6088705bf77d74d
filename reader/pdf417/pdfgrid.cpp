#include "reader/pdf417/pdfgrid.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "reader/pdf417/pdfecc.hpp"
#include "reader/pdf417/pdftables.hpp"

namespace pdf417 {

namespace {

// Votes for a value 0..29 (or 1..30).
struct Tally {
  std::array<int, 31> count{};
  void add(int v) {
    if (v >= 0 && v <= 30) ++count[v];
  }
  // The value most lines gave; -1 with no votes or a tie for first place.
  int winner() const {
    int best = -1, bestCount = 0, second = 0;
    for (int v = 0; v <= 30; ++v) {
      if (count[v] > bestCount) second = bestCount, bestCount = count[v], best = v;
      else if (count[v] > second) second = count[v];
    }
    return bestCount > second ? best : -1;
  }
};

// The word slot of a line that holds its left row indicator, the one that holds its right row
// indicator, and the one of data column c of `columns`; -1 where the line has no such slot.
int leftSlot(const LineRead& r) { return r.fromStop ? (r.startAt >= 2 ? r.startAt - 1 : -1) : 0; }
int rightSlot(const LineRead& r) { return r.fromStop ? 0 : (r.stopAt >= 2 ? r.stopAt - 1 : -1); }
int dataSlot(const LineRead& r, int c, int columns) { return r.fromStop ? columns - c : c + 1; }

int wordAt(const LineRead& r, int slot) {
  return slot >= 0 && slot < static_cast<int>(r.words.size()) ? r.words[slot] : -1;
}
int leftIndicatorOf(const LineRead& r) { return wordAt(r, leftSlot(r)); }
int rightIndicatorOf(const LineRead& r) { return wordAt(r, rightSlot(r)); }

// The data columns the patterns at both ends of a line leave room for; -1 when it saw only one.
int columnsBetweenPatterns(const LineRead& r) {
  const int slots = r.fromStop ? r.startAt : r.stopAt;
  return slots >= 3 ? slots - 2 : -1;
}

struct Size {
  int rows = 0, columns = 0, level = -1;
};

// Rows, data columns and level as most row indicators tell them.
bool voteSize(const std::vector<ScannedLine>& lines, Size* size, std::string* error) {
  Tally rowGroups, levelAndRows, columns;
  for (const ScannedLine& l : lines) {
    const LineRead& r = l.read;
    if (r.cluster < 0) continue;
    const int left = leftIndicatorOf(r), right = rightIndicatorOf(r);
    if (left >= 0) {
      const int info = left % 30;
      if (r.cluster == 0) rowGroups.add(info);
      else if (r.cluster == 3) levelAndRows.add(info);
      else columns.add(info + 1);
    }
    if (right >= 0) {
      const int info = right % 30;
      if (r.cluster == 0) columns.add(info + 1);
      else if (r.cluster == 3) rowGroups.add(info);
      else levelAndRows.add(info);
    }
    columns.add(columnsBetweenPatterns(r));
  }
  const int groups = rowGroups.winner(), lr = levelAndRows.winner(), cols = columns.winner();
  if (groups < 0 || lr < 0 || cols < 1) {
    *error = "row indicators do not agree on the symbol's size";
    return false;
  }
  size->rows = 3 * groups + lr % 3 + 1;
  size->level = lr / 3;
  size->columns = cols;
  if (size->rows < 3 || size->rows > 90 || size->level > 8 || size->rows * size->columns > kMaxCodewords ||
      size->rows * size->columns <= checkWordCount(size->level)) {
    *error = "row indicators give an impossible size: " + std::to_string(size->rows) + " rows, " +
             std::to_string(size->columns) + " columns, level " + std::to_string(size->level);
    return false;
  }
  return true;
}

// The row a row indicator of the cluster gives, -1 for none.
int rowOfIndicator(int indicator, int cluster, int rows) {
  if (indicator < 0) return -1;
  const int row = 3 * (indicator / 30) + cluster / 3;
  return row < rows ? row : -1;
}

// The row a line's indicators give, -1 when they give none or disagree.
int indicatedRow(const LineRead& r, int rows) {
  const int left = leftIndicatorOf(r), right = rightIndicatorOf(r);
  int group = -1;
  if (left >= 0) group = left / 30;
  if (right >= 0) {
    if (group >= 0 && group != right / 30) return -1;
    group = right / 30;
  }
  if (group < 0) return -1;
  const int row = 3 * group + r.cluster / 3;
  return row < rows ? row : -1;
}

struct LineFit {
  double a = 0, b = 0;  // row = a + b * v
};

// Least-squares row against v over the lines with indicated rows, refitted without the lines
// more than a row and a half off.
bool fitRows(const std::vector<std::pair<double, int>>& points, LineFit* fit) {
  std::vector<char> use(points.size(), 1);
  for (int pass = 0; pass < 3; ++pass) {
    double n = 0, sv = 0, sr = 0, svv = 0, svr = 0;
    for (size_t i = 0; i < points.size(); ++i) {
      if (!use[i]) continue;
      const double v = points[i].first, r = points[i].second;
      n += 1, sv += v, sr += r, svv += v * v, svr += v * r;
    }
    const double den = n * svv - sv * sv;
    if (n < 2 || std::fabs(den) < 1e-12) return false;
    fit->b = (n * svr - sv * sr) / den;
    fit->a = (sr - fit->b * sv) / n;
    for (size_t i = 0; i < points.size(); ++i)
      use[i] = std::fabs(fit->a + fit->b * points[i].first - points[i].second) <= 1.5;
  }
  return true;
}

// The rows' continuous coordinate against v: row r's middle (r + 0.5) where its lines lie on
// average, fitted over the rows that have lines. A fit of the lines' row numbers themselves runs
// flatter than the rows (a staircase of n steps fits a slope 1 - 1/n^2 of its own), which on a
// symbol of three rows puts its outer edges a module or two out; it stands in only where fewer
// than two rows have lines.
void placeRows(const std::vector<double>& sums, const std::vector<int>& counts, const LineFit& lineFit,
               CodewordGrid* grid) {
  std::vector<std::pair<double, int>> middles;
  for (size_t r = 0; r < sums.size(); ++r)
    if (counts[r] > 0) middles.push_back({sums[r] / counts[r], static_cast<int>(r)});
  double n = 0, sv = 0, sr = 0, svv = 0, svr = 0;
  for (const auto& [v, r] : middles) n += 1, sv += v, sr += r + 0.5, svv += v * v, svr += v * (r + 0.5);
  const double den = n * svv - sv * sv;
  if (n >= 2 && std::fabs(den) > 1e-12) {
    grid->rowPerV = (n * svr - sv * sr) / den;
    grid->rowBase = (sr - grid->rowPerV * sv) / n;
  } else {
    grid->rowPerV = lineFit.b;
    grid->rowBase = lineFit.a + 0.5;
  }
}

}  // namespace

CodewordGrid assembleGrid(const std::vector<ScannedLine>& lines) {
  CodewordGrid grid;
  Size size;
  if (!voteSize(lines, &size, &grid.error)) return grid;
  grid.rows = size.rows;
  grid.columns = size.columns;
  grid.level = size.level;

  std::vector<std::pair<double, int>> points;
  // Compact PDF417 has neither a right row indicator nor a stop pattern: after its last data
  // column comes a single bar, then the quiet zone. A line that sees the stop pattern, or finds a
  // word's edges where the right row indicator would be (read or not), tells of a full symbol;
  // one that reads on past the data columns and finds no more than a bar there, of a compact
  // one. Most lines decide (a stray stop pattern does not).
  int full = 0, compact = 0;
  const size_t afterData = static_cast<size_t>(grid.columns) + 1;
  for (const ScannedLine& l : lines) {
    const LineRead& r = l.read;
    if (r.cluster < 0) continue;
    if (r.stopAt >= 0 || r.fromStop) {
      ++full;
    } else if (r.slotEdges.size() > afterData) {
      // A word has eight edges; compact PDF417's last bar has two, and the quiet zone none.
      (r.slotEdges[afterData] >= 6 ? full : compact) += 1;
    }
    const int row = indicatedRow(r, grid.rows);
    if (row >= 0) points.push_back({l.v, row});
  }
  grid.compact = compact > full;
  LineFit fit;
  if (!fitRows(points, &fit)) {
    grid.error = "too few row indicators read to place the rows";
    return grid;
  }
  grid.rowsAlongV = fit.b > 0;

  // votes[cell]: (value, weight) pairs; a line's word counts twice where both ways of reading it
  // agree, once for each way where they do not.
  std::vector<std::vector<std::pair<int, int>>> votes(static_cast<size_t>(grid.rows) * grid.columns);
  // guesses[cell]: the nearest words to the distances of lines that did not read the cell.
  std::vector<std::vector<std::pair<int, int>>> guesses(votes.size());
  auto addVote = [](std::vector<std::pair<int, int>>& cell, int value, int weight) {
    auto it = std::find_if(cell.begin(), cell.end(), [value](const auto& p) { return p.first == value; });
    if (it == cell.end()) cell.push_back({value, weight});
    else it->second += weight;
  };
  std::vector<double> rowSums(grid.rows, 0.0);
  std::vector<int> rowLines(grid.rows, 0);
  grid.lineRows.assign(lines.size(), -1);
  grid.leftRows.assign(lines.size(), -1);
  grid.rightRows.assign(lines.size(), -1);
  for (size_t index = 0; index < lines.size(); ++index) {
    const ScannedLine& l = lines[index];
    const LineRead& r = l.read;
    if (r.cluster < 0) continue;
    const int between = columnsBetweenPatterns(r);
    if (between >= 0 && between != grid.columns) continue;  // a line that lost its place
    grid.leftRows[index] = rowOfIndicator(leftIndicatorOf(r), r.cluster, grid.rows);
    grid.rightRows[index] = rowOfIndicator(rightIndicatorOf(r), r.cluster, grid.rows);
    const double expected = fit.a + fit.b * l.v;
    int row = indicatedRow(r, grid.rows);
    if (row < 0 || std::fabs(row - expected) > 1.5) {
      // The nearest row of the line's cluster, if it is close enough to be the one.
      const int k = r.cluster / 3;
      row = 3 * static_cast<int>(std::lround((expected - k) / 3)) + k;
      if (std::fabs(row - expected) > 1.0 || row < 0 || row >= grid.rows) continue;
    }
    rowSums[row] += l.v;
    ++rowLines[row];
    grid.lineRows[index] = row;
    for (int c = 0; c < grid.columns; ++c) {
      const int slot = dataSlot(r, c, grid.columns);
      if (slot < 0 || slot >= static_cast<int>(r.readings.size())) continue;
      auto& cell = votes[static_cast<size_t>(row) * grid.columns + c];
      const std::array<int, 2>& reading = r.readings[slot];
      for (int way = 0; way < 2; ++way) {
        const int value = reading[way];
        if (value < 0 || (way == 1 && value == reading[0])) continue;
        addVote(cell, value, value == reading[1 - way] ? 2 : 1);
      }
      if (reading[0] < 0 && reading[1] < 0 && r.unread[slot][0] != kNotMeasured) {
        float off = 0;
        const int nearest = nearestWord(r.unread[slot], 3 * (row % 3), 0.75f, &off);
        if (nearest >= 0) addVote(guesses[static_cast<size_t>(row) * grid.columns + c], nearest, 1);
      }
    }
  }
  grid.words.assign(votes.size(), -1);
  std::vector<std::pair<double, int>> doubts;  // (margin of the winner, cell)
  for (size_t i = 0; i < votes.size(); ++i) {
    int best = -1, bestCount = 0, second = 0;
    for (const auto& [value, count] : votes[i]) {
      if (count > bestCount) second = bestCount, bestCount = count, best = value;
      else if (count > second) second = count;
    }
    if (bestCount > second) grid.words[i] = best;
    if (grid.words[i] >= 0 && (second > 0 || bestCount <= 2))
      doubts.push_back({static_cast<double>(bestCount - second) / (bestCount + second + 1), static_cast<int>(i)});
  }
  // Cells no line read take the word most lines' distances lie nearest to, if most agree; such
  // words are the least sure of all, and the first erased when the correction needs room.
  for (size_t i = 0; i < votes.size(); ++i) {
    if (grid.words[i] >= 0 || guesses[i].empty()) continue;
    int best = -1, bestCount = 0, total = 0;
    for (const auto& [value, count] : guesses[i]) {
      total += count;
      if (count > bestCount) bestCount = count, best = value;
    }
    if (2 * bestCount <= total) continue;
    grid.words[i] = best;
    doubts.push_back({-1.0, static_cast<int>(i)});
  }
  placeRows(rowSums, rowLines, fit, &grid);
  std::sort(doubts.begin(), doubts.end());
  for (const auto& d : doubts) grid.weak.push_back(d.second);
  grid.ok = true;
  return grid;
}

}  // namespace pdf417
