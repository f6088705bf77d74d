// Data Matrix (ECC 200) data codewords to text: ASCII (digit pairs, upper shift), C40, Text,
// X12, EDIFACT and Base 256, with FNC1, structured append, reader programming, the 05/06 macros
// and ECI designators.
//
// Output conventions:
//  - bytes: the message bytes as encoded (macro header and trailer included, FNC1 after the
//    first position as the GS byte 0x1D).
//  - text: UTF-8. Bytes are read by the ECI in force, each stretch converted from its character
//    set by iconv (reader/charset.hpp), ISO 8859-1 where no ECI is given. An ECI that names no
//    set iconv converts, or bytes not valid in their set, make the message fail (never a guessed
//    text). Binary content (ECI 899, or bytes no text has under the default set) leaves text
//    empty with binary set. A symbol starting with FNC1 holds GS1 element strings: its text
//    starts with the symbology identifier "]d2" and element strings are separated by GS (0x1D).
#ifndef IDUT_READER_DATAMATRIX_DMDECODE_HPP
#define IDUT_READER_DATAMATRIX_DMDECODE_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace dmread {

struct Message {
  bool ok = false;
  std::string error;            // why the codewords are not a valid message, when !ok
  std::string text;             // see above
  bool binary = false;          // the bytes are no text (text empty)
  std::vector<uint8_t> bytes;
  bool gs1 = false;             // FNC1 in the first position
  bool readerProgramming = false;
  int macro = 0;                // 5 or 6 for the 05 / 06 macro
  std::vector<int> ecis;        // ECI designators in the order met
  // Structured append: this symbol's 1-based position among count symbols, and the file id
  // (two codewords, 1..254 each, as high * 256 + low). count 0: not part of a sequence.
  int appendPosition = 0, appendCount = 0, appendFileId = 0;
};

Message decodeMessage(const std::vector<uint8_t>& data);

}  // namespace dmread

#endif
