// Data Matrix (ECC 200) symbol sizes, codeword placement in the module grid, block interleaving
// and Reed-Solomon correction: a module matrix in, corrected data codewords out.
#ifndef IDUT_READER_DATAMATRIX_DMCODEWORDS_HPP
#define IDUT_READER_DATAMATRIX_DMCODEWORDS_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace dmread {

// One symbol size: the whole symbol is rows x cols modules, divided into regionsV x regionsH
// data regions of regionRows x regionCols modules each (inside every region's finder L and clock
// track). dataWords and eccWords are totals over the blocks, which interleave codeword by codeword.
struct SymbolSize {
  int rows, cols;
  int regionRows, regionCols;
  int regionsV, regionsH;
  int dataWords, eccWords;
  int blocks;
};

// Every ECC 200 size: 24 squares, 6 rectangles and the 18 rectangular extension sizes.
const std::vector<SymbolSize>& symbolSizes();
// The size with these module counts, or null.
const SymbolSize* findSize(int rows, int cols);

// A sampled module grid, row-major from the top (clock) row; row rows-1 and column 0 are the
// solid finder edges. margin (optional, same size) is how far each module's grey level lay from
// the threshold, 0 = undecidable; codewords with small margins are erased first.
struct ModuleMatrix {
  int rows = 0, cols = 0;
  std::vector<uint8_t> dark;
  std::vector<float> margin;
  bool at(int r, int c) const { return dark[static_cast<size_t>(r) * cols + c] != 0; }
};

// For each module of the size's mapping matrix (the data regions side by side, without their
// borders), the codeword index * 8 + bit (0 = most significant), or -1 for the fixed corner
// modules that carry no data.
std::vector<int> placement(int mappingRows, int mappingCols);

// The codewords (data then error correction, as placed) read from the matrix, with one
// confidence per codeword (the smallest module margin; 1 when the matrix has no margins).
void readCodewords(const ModuleMatrix& m, const SymbolSize& size, std::vector<uint8_t>* words,
                   std::vector<float>* confidence);

struct Correction {
  bool ok = false;
  std::string error;           // why not, when !ok
  std::vector<uint8_t> data;   // corrected data codewords, in symbol order
  int corrected = 0;           // codewords repaired over all blocks
  int erased = 0;              // codewords erased on the way
};

// Splits the codewords into their blocks and corrects each with the library's codec over
// GF(256) (polynomial 301). A block that does not decode on its own is tried again with its
// least confident codewords erased, keeping three check words unused so a wrong repair is not
// accepted.
Correction correct(const SymbolSize& size, const std::vector<uint8_t>& words, const std::vector<float>& confidence);

}  // namespace dmread

#endif
