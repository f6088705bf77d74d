// What idut-find reports for one image, and how it prints it.
#ifndef IDUT_FIND_RESULT_HPP
#define IDUT_FIND_RESULT_HPP

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace idutfind {

struct Corner {
  double x = 0;
  double y = 0;
};

// One located symbol. Corners are image pixels with pixel (x, y) covering [x, x+1) x [y, y+1):
// the origin corner, the ends of its two sides, then the opposite corner.
struct Symbol {
  std::string symbology;
  std::array<Corner, 4> corners;
  int score = 0;
  bool parallelogram = true;
  // Filled by a reader: decoded is true with the text (UTF-8), or false with decodeError saying
  // why a located symbol could not be read (empty when no reader ran).
  bool decoded = false;
  std::string text;
  std::string decodeError;
  // 1D: an EAN/UPC add-on read beside the symbol, the characters as the bars carry them where
  // text interprets them (Code 39 full ASCII, Code 32, Codabar's start and stop), and the
  // symbology identifier; each printed only when set.
  std::string addOn, rawText, identifier;
};

struct ImageResult {
  std::string file;
  bool readOk = false;
  std::string error;  // why the file could not be read or searched
  int width = 0;
  int height = 0;
  std::vector<Symbol> symbols;
  double milliseconds = 0;
};

// One line per symbol: "FILE: SYMBOLOGY (x,y) (x,y) (x,y) (x,y) score=N parallelogram=0|1",
// then ' text="..."' (JSON-escaped) for a decoded symbol.
void printText(std::FILE* out, const ImageResult& result);

// One JSON object per image on one line:
// {"file":F,"width":W,"height":H,"symbols":[{"symbology":S,"corners":[[x,y],x4],"score":N,
//  "parallelogram":true,"text":T}]} ("text" for a decoded symbol, "decode_error" for one a reader
//  could not read) or, for an image that could not be read, {"file":F,"error":E}.
void printJson(std::FILE* out, const ImageResult& result);

std::string jsonEscape(const std::string& text);

}  // namespace idutfind

#endif
