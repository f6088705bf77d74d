// Data Matrix scenes of the kinds real images bring and the categories leave out: symbols that fill
// the picture (quiet zone of zero or one module, the crop of a close-up photograph or a label
// scan), the long rectangular extension sizes at any angle, mirrored symbols; and symbols whose
// content goes beyond plain text (an ECI character set, binary bytes, GS1, structured append,
// reader initialisation), encoded by libzint.
#ifndef IDUT_TOOLS_SCENES_SCENE_DM_HPP
#define IDUT_TOOLS_SCENES_SCENE_DM_HPP

#include <string>
#include <vector>

#include "scenes/scene.hpp"

namespace scene {

// What libzint is asked to encode beyond the bytes themselves.
struct DmContent {
  std::string data;          // the bytes as encoded (with an ECI: already in its character set)
  int eci = 0;               // ECI designator; 0: none
  bool gs1 = false;          // data in GS1 bracket notation, "[01]0...[10]..."
  bool readerInit = false;   // reader initialisation symbol
  int appendIndex = 0;       // structured append: 1-based position, 0: not part of a sequence
  int appendCount = 0;
  std::string appendId;      // file id as libzint takes it: six digits, "HHHLLL", each half 001 ... 254
  int sizeOption = 0;        // libzint's option_2 (see encodeDataMatrix)
  DmSizes sizes = DmSizes::squareOnly;
};

// Encodes the content; throws std::runtime_error with libzint's message when it does not fit.
DmSymbol encodeDataMatrix(const DmContent& content);

// A symbol filling its picture.
struct FrameFill {
  double moduleSize = 2;
  int quietZone = 0;         // modules of margin the crop leaves
  Polarity polarity = Polarity::darkOnLight;
  int quarterTurns = 0;      // 0 ... 3: the symbol turned by that many right angles
  double tiltDeg = 0;        // and by this much more; the picture is the turned margin's bounding box
  bool mirrored = false;
  double blurSigma = 0;
  double noiseSigma = 0;
  uint32_t seed = 1;
};
Scene frameFilling(const DmSymbol& symbol, const FrameFill& f);

// A symbol at any angle in a picture with a margin of background round its quiet zone and
// text-like clutter beside it.
struct Placed {
  double moduleSize = 3;
  double angleDeg = 0;
  int quietZone = 2;
  Polarity polarity = Polarity::darkOnLight;
  bool mirrored = false;
  double blurSigma = 0;
  double noiseSigma = 0;
  int margin = 24;           // pixels of background beyond the quiet zone's bounding box
  int textBlocks = 2;
  uint32_t seed = 1;
};
Scene placedAlone(const DmSymbol& symbol, const Placed& p);

// The rectangular extension sizes (rows x cols) and libzint's size option for each.
struct DmreSize {
  int rows, cols, sizeOption;
};
const std::vector<DmreSize>& dmreSizes();

// A text of digits and capitals from rng, as long as fits the size with room to spare
// (libzint's smallest fill for that size).
std::string fillText(int sizeOption, DmSizes sizes, Random& rng);

// Texts in the character sets an ECI designator can name, for symbols that switch to them.
struct EciSample {
  int eci;
  const char* charset;  // the character set's name for iconv
  const char* text;     // UTF-8
};
const std::vector<EciSample>& eciSamples();

// The sample's text converted to its character set (glibc's iconv), with the ECI set, ready for
// encodeDataMatrix; throws std::runtime_error when iconv cannot convert it.
DmContent eciContent(const EciSample& sample);

}  // namespace scene

#endif
