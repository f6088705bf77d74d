// What idut-find reports for one input, and how it prints it.
#ifndef IDUT_FIND_RESULT_HPP
#define IDUT_FIND_RESULT_HPP

#include <array>
#include <initializer_list>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "idut/read.hpp"

namespace idutfind {

// How far an input got when something failed.
enum class Failure {
  none,
  unreadable,  // not read as an image: missing, not a regular file, not an image, too large,
               // damaged, or no memory to read it
  search,      // read, but the search failed (out of memory, ...): the symbols found before stay
  output,      // searched, but its overlay could not be written
};

struct ImageResult {
  std::string_view file;  // the input's path, owned by the input list
  bool readOk = false;
  int width = 0;
  int height = 0;
  std::vector<idut::Symbol> symbols;
  double milliseconds = 0;
  Failure failure = Failure::none;
  // The failure's status: the library's status name ("csys_errNoMemory", ...) for a failed
  // search or an input that ran out of memory while read, else "unreadable" or "not_written".
  // Static strings, so that saying "out of memory" needs no memory.
  const char* status = "";
  std::string error;      // the message, naming the input
  bool truncated = false;  // the search stopped at --max-symbols
  std::string truncatedReason;
};

// One line per symbol: "FILE: SYMBOLOGY (x,y) (x,y) (x,y) (x,y) score=N parallelogram=0|1", the
// corners as origin, the ends of its two sides, opposite; then ' text="..."' (JSON-escaped) for a
// decoded symbol. The file name is printed with printable(): nothing in a name can start a line
// or drive the terminal.
void printText(std::FILE* out, const ImageResult& result);

// One JSON object per input on one line:
// {"file":F,"width":W,"height":H,"symbols":[{"symbology":S,"corners":[[x,y],x4],"score":N,
//  "parallelogram":true,"text":T,...}]} with the corners in the text order, "text" for a decoded
//  symbol, "decode_error" for one a reader could not read, then the decoding details (see
//  printJson in result.cpp); then "truncated":true,"truncated_reason":R when --max-symbols cut
//  the search short, and "error":{"status":S,"message":M} when something failed. An input that
//  could not be read is {"file":F,"error":{...}}. Strings are written as JSON escapes of UTF-8;
//  a byte that is not part of valid UTF-8 (a file name in another encoding) is written as the
//  lone surrogate \udcXX (XX the byte), as Python's "surrogateescape" does, so the name's bytes
//  can be recovered and the line stays valid JSON.
void printJson(std::FILE* out, const ImageResult& result);

// text as a JSON string's contents (no quotes), by the rules above.
std::string jsonEscape(std::string_view text);

// text with everything a terminal would act on escaped: control characters (C0, DEL, C1) as
// \n, \r, \t or \xHH, bytes that are not valid UTF-8 as \xHH, and the backslash as \\.
std::string printable(std::string_view text);

// "idut-find: " and the message's parts, printable(), on a line of its own; needs no memory.
void printNotice(std::FILE* out, std::initializer_list<std::string_view> message);

// The corners in the order the tool prints them: origin, the ends of its two sides, opposite.
std::array<idut::Point, 4> printOrder(const idut::Quad& quad);

}  // namespace idutfind

#endif
