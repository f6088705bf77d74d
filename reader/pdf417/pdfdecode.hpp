// PDF417 data codewords to the message they carry: text compaction (alpha, lower, mixed and
// punctuation sub-modes with their latches and shifts, the byte shift 913), byte compaction
// (901, 924), numeric compaction (902), ECI designators (925, 926, 927), reader initialisation
// (921) and the Macro PDF417 control block (928: segment index, file id, the optional fields
// after 923, the terminator 922).
//
// The message is kept as bytes, split where an ECI designator changes the interpretation; the
// text is made from them by charset::segmentsToUtf8. Codeword 920 (linkage to the linear part of
// a GS1 composite symbol) and 918 are refused: a stand-alone PDF417 has no FNC1, so its content is
// never GS1. Reserved codewords (903-912, 914-919) are refused as well.
#ifndef IDUT_READER_PDF417_PDFDECODE_HPP
#define IDUT_READER_PDF417_PDFDECODE_HPP

#include <string>
#include <vector>

#include "idut/read.hpp"
#include "reader/charset.hpp"

namespace pdf417 {

struct Message {
  bool ok = false;
  std::string error;                       // why the codewords are not a message, when !ok
  std::vector<charset::Segment> segments;  // the data bytes, one segment per ECI in force
  std::vector<int> ecis;                   // ECI designators in the order met
  bool readerInit = false;
  idut::StructuredAppend append;           // index -1 when there is no control block
};

// data: the symbol's data codewords, the length descriptor first (values 0..928). The length
// descriptor counts the words decoded; words after it are ignored.
Message decodeData(const std::vector<int>& data);

}  // namespace pdf417

#endif
