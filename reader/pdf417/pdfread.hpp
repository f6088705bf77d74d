// Reading a located PDF417 symbol: scan lines sampled across its rows through the projective map
// of the located corners (a little beyond them, as a location is good to a module or two), each
// line read into codewords, the codeword matrix voted from the lines, corrected, decoded.
//
// Entry points at three depths: the image with its corners (the front door), module rows as a
// printer lays them (tests and the fuzzer drive every stage but the sampling through it), and
// the codeword matrix itself.
#ifndef IDUT_READER_PDF417_PDFREAD_HPP
#define IDUT_READER_PDF417_PDFREAD_HPP

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/cimg.h"
#include "idut/read.hpp"
#include "reader/pdf417/pdfdecode.hpp"

namespace pdf417 {

struct Reading {
  bool ok = false;
  std::string error;           // why the symbol could not be read, when !ok
  Message message;
  int rows = 0, columns = 0, level = -1;
  int corrected = 0, erasures = 0;
  bool compact = false, mirrored = false, inverted = false;
  // Given up before the full read, as the few lines a reading begins with showed no rows of a
  // symbol: none met a start or stop pattern, or those that read words all read them in one
  // cluster, as lines over a 1D barcode's bars do (a symbol's rows take turns among three).
  bool noRows = false;
  // Read from an image: the symbol's outline as the lines that read it saw its sides and the row
  // indicators its rows (the corners readImage takes, in its order); haveOutline false when too
  // few lines met a side to fit it.
  bool haveOutline = false;
  std::array<cmath_vect, 4> outline{};
};

// All rows * columns codewords of a symbol, row by row (row indicators left out), -1 for a word
// known to be unreadable; level 0..8. Corrects and decodes.
Reading readCodewords(std::vector<int> words, int columns, int level);

// A symbol given as its module rows (1 for a bar module), each row read left to right from its
// start pattern; rows may be repeated, reversed (then all of them) or damaged.
Reading readModuleRows(const std::vector<std::vector<uint8_t>>& rows);

// What a locator knows of a symbol before it is read.
struct ReadHint {
  bool known = false;      // the rows run from corners[0]'s side to corners[1]'s, and:
  bool lightBars = false;  // the polarity
  double module = 0;       // the module along the rows, pixels (0: not known)
  double noise = -1;       // the image's noise, grey levels of deviation (-1: not known)
};

// Reads the symbol in the quadrilateral: corners[0] the top of the start pattern, [1] the end of
// the first row at the stop pattern, [2] the bottom right, [3] the bottom left (image pixels,
// pixel x covering [x, x + 1)). Either polarity, mirrored or not; also tries the corners a
// quarter turn round when the rows do not run the way they say. With a hint, only the way it
// gives (and lines spaced and sampled for its module).
Reading readImage(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, const ReadHint& hint = {});

// How many words a few lines across the quadrilateral read the hint's way (which must be known):
// a cheap measure of how well lines from corners[0]'s side to corners[1]'s follow the rows, as a
// line slanting across the rows loses its words where it leaves its row.
int wordsAlongRows(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, const ReadHint& hint);

// Fills the decoding fields of symbol from a reading; false when the symbol could not be read,
// decodeError then saying why. The text is the message's bytes, each segment in the character
// set of its ECI (ISO 8859-1 where none is given); bytes an ECI's set does not convert, or an ECI
// that names no set, leave the symbol unread with the reason (bytes still filled). A message with
// any binary segment (ECI 899) is Binary content: bytes hold it all, text stays empty. The
// symbology identifier is always "]L2": this reader applies ECIs itself and passes none on as
// escape sequences (basic channel), and a stand-alone PDF417 carries no GS1 data.
bool fillSymbol(const Reading& reading, idut::Symbol& symbol);

// Macro PDF417 symbols read together: the ECI in force at the end of one symbol of a message
// goes on at the start of the next (index + 1, the same file id and count) up to that one's first
// designator of its own, so that a character whose bytes a symbol boundary does not split but
// whose set the previous symbol chose reads as it was written. Only symbols whose predecessor is
// among readings change.
void carryEcis(const std::vector<Reading*>& readings);

// readImage then fillSymbol.
bool readSymbol(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, idut::Symbol& symbol);

}  // namespace pdf417

#endif
