// Readers of one-dimensional barcodes from the element widths of one scan line: Code 128,
// EAN-13 / UPC-A / EAN-8, Code 39 and Interleaved 2 of 5.
//
// A scan line is given as the widths of its light and dark runs, in any unit (pixels along the
// line, say), starting and ending with a light run: widths[0] is the light run before the first
// bar (the quiet zone when the line starts outside the symbol), then bar, space, bar, ... and the
// last entry is light again. Even indices are light, odd indices dark. Nothing outside the symbol
// matters: the readers look for a start pattern at every bar and try both directions.
//
// Characters are matched on edge-to-similar-edge measures (the sum of each bar and the following
// space, and of each space and the following bar) as well as on the element widths, so a print
// that spreads every bar by the same amount still reads. A character counts only when its best
// pattern wins clearly over the second best; a symbol counts only when its check digit or check
// character passes (Code 39 and ITF without a check have quiet-zone and length rules instead, and
// are meant to be confirmed by a second scan line, see the road).
//
// Text conventions:
// - Code 128 with FNC1 in the first position (GS1-128) reads as "]C1" followed by the element
//   strings; every later FNC1 (the separator after a variable-length field) reads as GS (0x1D).
//   An FNC1 elsewhere reads as GS as well. FNC2 and FNC3 are dropped; FNC4 adds 128 to the next
//   character, which is returned UTF-8 encoded.
// - An EAN-13 whose first digit is 0 is a UPC-A and reads as its 12 digits with Symbology::upca.
// - Code 39 returns its characters between the start and stop '*' as printed (no full ASCII);
//   with Options::code39Check the last character must be the mod-43 check and is removed.
// - ITF returns the digits; with Options::itfCheck the last digit must be the mod-10 check (as in
//   ITF-14) and stays in the text.
#ifndef IDUT_READER_ONED_ONED_HPP
#define IDUT_READER_ONED_ONED_HPP

#include <string>
#include <vector>

namespace oned {

enum class Symbology { code128, ean13, upca, ean8, code39, itf };

// The name idut-find reports: "Code128", "EAN-13", "UPC-A", "EAN-8", "Code39", "ITF".
const char* symbologyName(Symbology symbology);

struct Options {
  bool code39Check = false;  // Code 39 carries a mod-43 check character
  bool itfCheck = false;     // ITF carries a mod-10 check digit
  int itfMinDigits = 6;      // shorter ITF reads are refused (a partial scan reads as ITF easily)
};

// One symbol read from a line. firstElement and lastElement index the widths as given (both
// directions): the first and the last bar of the symbol, guards included.
struct Read {
  Symbology symbology = Symbology::code128;
  std::string text;
  int firstElement = 0;
  int lastElement = 0;
  bool reversed = false;  // the symbol runs against the line (its start is at the higher index)
  double margin = 0;      // the worst character's lead of best over second-best pattern, 0..1
};

// Every symbol found on the line, in both directions; overlapping reads of different
// symbologies are all reported (the road decides between them).
std::vector<Read> readLine(const std::vector<double>& widths, const Options& options = {});

// The single readers, forward direction only, starting at the bar widths[start] (odd index).
// They return false and leave read untouched when no symbol starts there.
bool readCode128(const std::vector<double>& widths, int start, Read& read);
bool readUpcEan(const std::vector<double>& widths, int start, Read& read);
bool readCode39(const std::vector<double>& widths, int start, const Options& options, Read& read);
bool readItf(const std::vector<double>& widths, int start, const Options& options, Read& read);

}  // namespace oned

#endif
