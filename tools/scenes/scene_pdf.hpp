// Test scenes with PDF417 symbols rendered by libzint, drawn through the placement, clutter, blur
// and noise of the Data Matrix scenes (scene.hpp).
//
// A symbol is a module matrix whose libzint rows are each repeated rowHeight times, so its
// SymbolTruth outline is the exact box of the bars: u runs along the rows from the start pattern's
// first bar to the end of the stop pattern's last bar, v down the rows. lCorner is then the
// bottom of the start pattern, rowEnd the bottom of the stop pattern.
#ifndef IDUT_TOOLS_SCENES_SCENE_PDF_HPP
#define IDUT_TOOLS_SCENES_SCENE_PDF_HPP

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "scenes/scene.hpp"

namespace scene {

struct Pdf417Layout {
  int columns = 0;     // data columns, 1 to 30; 0 lets libzint choose
  int security = -1;   // error-correction level 0 to 8; -1 lets libzint choose
  int rowHeight = 3;   // modules per row
};

// Encodes text. Throws std::runtime_error with libzint's message when the text does not fit or
// an option is invalid.
DmSymbol encodePdf417(const std::string& text, const Pdf417Layout& layout = {});

// What a symbol carries beyond plain text: segments under ECIs, Macro PDF417, compact form.
struct Pdf417Content {
  struct Segment {
    int eci = 0;        // 0: no ECI designator
    std::string data;   // UTF-8 that libzint converts to the ECI's set, or raw bytes (binary)
  };
  std::vector<Segment> segments;
  bool binary = false;  // segments hold raw bytes, written as they are
  bool compact = false;
  bool readerInit = false;
  int macroIndex = 0, macroCount = 0;  // Macro PDF417: 1-based index of count (count 0: none)
  std::string macroId;                 // digits, read in groups of three (each 000..899)
};

// Encodes content; the same errors as encodePdf417. symbol.text is the segments' data joined.
DmSymbol encodePdf417(const Pdf417Content& content, const Pdf417Layout& layout = {});

enum class ConditionPdf {
  clean, rotated, perspective, blurred, noisy, lowContrast, inverted, crowded, compact, content, framed, large, bilevel
};
inline constexpr std::array<ConditionPdf, 13> kAllConditionsPdf = {
    ConditionPdf::clean,   ConditionPdf::rotated,     ConditionPdf::perspective, ConditionPdf::blurred,
    ConditionPdf::noisy,   ConditionPdf::lowContrast, ConditionPdf::inverted,    ConditionPdf::crowded,
    ConditionPdf::compact, ConditionPdf::content,     ConditionPdf::framed,      ConditionPdf::large,
    ConditionPdf::bilevel};
const char* conditionName(ConditionPdf condition);

// One PDF417 symbol of the scene with the layout and content it was encoded with.
struct PdfTruth {
  Pdf417Layout layout;
  int zintRows = 0;  // rows of codewords
  Pdf417Content content;
};

// A scene with one PDF417 symbol (three in some crowded scenes, which also add text blocks, bar
// groups and a Data Matrix symbol after them): 2 to 30 columns, security level 0 to 8, modules of
// 1.5 to 6 pixels, rows 2 to 5 modules high, any rotation except for clean scenes (within 10
// degrees of upright either way round). scene.symbols[i] is the truth of pdf[i]; further symbols
// are not PDF417. Compact scenes are rotated scenes of compact PDF417; content scenes are rotated
// scenes whose symbols carry ECI segments in several character sets, Macro PDF417 control
// blocks, binary data (ECI 899), digits or reader initialisation. Framed scenes are scans cut to
// the symbol: within 2 degrees of a quarter turn, the image's border 0 to 1.5 modules from the
// bars on every side (so the quiet zone is gone), full or compact PDF417 alike. Large scenes
// hold symbols of 3 to 8 pixel modules and 10 or more columns, rows 2 to 4 modules high, any
// rotation: long rows across an image of up to 2000 pixels. Bilevel scenes are a fax or a 1-bit
// scanner's: within 2 degrees of a quarter turn, modules of 1.8 to 2.8 pixels, blurred and a
// little grainy, then cut to black and white at 30% to 70% of the way from dark to light, so that
// every edge lands on a pixel boundary, bars come out up to half a module wide or thin, and the
// grain leaves edges ragged by a pixel.
struct ScenePdf {
  Scene scene;
  std::vector<PdfTruth> pdf;
};
ScenePdf generatePdf(ConditionPdf condition, uint32_t seed);

}  // namespace scene

#endif
