// Readers of one-dimensional barcodes from the element widths of one scan line: Code 128,
// EAN-13 / UPC-A / EAN-8 / UPC-E with their add-ons, Code 39 (full ASCII, Code 32, PZN),
// Interleaved 2 of 5, Code 93 and Codabar.
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
// - UPC-E reads as its 8 digits (number system, six digits, check digit); idut::expandUpce gives
//   the UPC-A number. A 2- or 5-digit add-on read beside an EAN/UPC symbol goes to Read::addOn,
//   never into the text.
// - Code 39 returns its characters between the start and stop '*'; with Options::code39Check the
//   last character must be the mod-43 check and is removed. When every '$', '%', '/' and '+' of
//   the message starts a valid full ASCII pair (and there is at least one), the text is the full
//   ASCII message and rawText the characters as printed. Six characters of the Code 32 alphabet
//   whose check digit passes read as Code 32 ("A" and nine digits), '-' and 7 or 8 digits whose
//   PZN check passes as PZN (text as printed); rawText keeps the printed characters of both.
// - ITF returns the digits; with Options::itfCheck the last digit must be the mod-10 check (as in
//   ITF-14) and stays in the text.
// - Code 93: both check characters must pass and are removed; its shift characters always spell
//   full ASCII.
// - Codabar: the text is the data between the start and stop characters, which go to rawText
//   with the data (start + data + stop): applications use the data, and a reader that kept A-D
//   in the text would make every application strip them.
#ifndef IDUT_READER_ONED_ONED_HPP
#define IDUT_READER_ONED_ONED_HPP

#include <string>

namespace oned {

enum class Symbology { code128, ean13, upca, ean8, code39, itf, upce, code93, codabar, databar, databarExpanded, code32, pzn };

struct Options {
  bool code39Check = false;  // Code 39 carries a mod-43 check character
  bool itfCheck = false;     // ITF carries a mod-10 check digit
  int itfMinDigits = 6;      // shorter ITF reads are refused (a partial scan reads as ITF easily)
  int codabarMinData = 3;    // shorter Codabar data is refused (no check character guards it)
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
  std::string addOn;      // EAN/UPC: the 2- or 5-digit add-on read after the symbol
  std::string rawText;    // the characters as the bars carry them, where text interprets them
  // The symbology identifier a reader reports ("]C0", "]E0", "]A0", ...). A symbol read with an
  // add-on reports "]E3" (the identifier covers both), as the add-on is part of what was read.
  std::string identifier;
  // Whether the read passed a check character or digit of its own (a line that passes it needs
  // less agreement from other lines than one without).
  bool checked = false;
};

}  // namespace oned

#endif
