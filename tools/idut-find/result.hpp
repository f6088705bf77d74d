// What idut-find reports for one image, and how it prints it.
#ifndef IDUT_FIND_RESULT_HPP
#define IDUT_FIND_RESULT_HPP

#include <cstdio>
#include <string>
#include <vector>

#include "idut/read.hpp"

namespace idutfind {

struct ImageResult {
  std::string file;
  bool readOk = false;
  std::string error;  // why the file could not be read or searched
  int width = 0;
  int height = 0;
  std::vector<idut::Symbol> symbols;
  double milliseconds = 0;
};

// One line per symbol: "FILE: SYMBOLOGY (x,y) (x,y) (x,y) (x,y) score=N parallelogram=0|1", the
// corners as origin, the ends of its two sides, opposite; then ' text="..."' (JSON-escaped) for a
// decoded symbol.
void printText(std::FILE* out, const ImageResult& result);

// One JSON object per image on one line:
// {"file":F,"width":W,"height":H,"symbols":[{"symbology":S,"corners":[[x,y],x4],"score":N,
//  "parallelogram":true,"text":T,...}]} with the corners in the text order, "text" for a decoded
//  symbol, "decode_error" for one a reader could not read, then the decoding details (see
//  printJson in result.cpp); for an image that could not be read, {"file":F,"error":E}.
void printJson(std::FILE* out, const ImageResult& result);

std::string jsonEscape(const std::string& text);

// The corners in the order the tool prints them: origin, the ends of its two sides, opposite.
std::array<idut::Point, 4> printOrder(const idut::Quad& quad);

}  // namespace idutfind

#endif
