// The codeword matrix of a PDF417 symbol from its scan lines: the size and error-correction
// level voted from the left and right row indicators, each line given its row (by its
// indicators, else by its place between the lines that have them, checked against its
// cluster), and every codeword voted across the lines of its row. Words no line read, or that
// lines disagree on evenly, are erasures.
#ifndef IDUT_READER_PDF417_PDFGRID_HPP
#define IDUT_READER_PDF417_PDFGRID_HPP

#include <string>
#include <vector>

#include "reader/pdf417/pdfscan.hpp"

namespace pdf417 {

struct ScannedLine {
  double v = 0;  // the line's place across the rows (any monotonic measure)
  LineRead read;
};

struct CodewordGrid {
  bool ok = false;
  std::string error;        // why no matrix could be built, when !ok
  int rows = 0, columns = 0, level = -1;
  bool compact = false;     // no line saw a stop pattern: compact PDF417 (or its right side lost)
  std::vector<int> words;   // rows * columns, row by row; -1 for an erasure
  std::vector<int> weak;    // indices of words some line read otherwise, the least sure first
  bool rowsAlongV = true;   // row numbers grow with v
  // The rows' continuous coordinate at v: rowBase + rowPerV * v, 0 at the outer edge of the
  // first row, rows at that of the last, r + 0.5 in the middle of row r.
  double rowBase = 0, rowPerV = 0;
  std::vector<int> lineRows;  // the row each line's words were voted in (by line), -1: none
  // The rows the left and the right row indicator of each line give where each end of it lies
  // (a line slanting across the rows starts in one and ends in another), -1: none.
  std::vector<int> leftRows, rightRows;
};

CodewordGrid assembleGrid(const std::vector<ScannedLine>& lines);

}  // namespace pdf417

#endif
