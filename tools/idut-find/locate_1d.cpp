// idut-find's settings turned into one run of the 1D road over an image.
#include "locate.hpp"
#include "road/road1d.hpp"

namespace idutfind {

namespace {

// The --symbology name of each reader symbology.
const char* optionName(oned::Symbology symbology) {
  switch (symbology) {
    case oned::Symbology::code128: return "code128";
    case oned::Symbology::ean13: return "ean13";
    case oned::Symbology::upca: return "upca";
    case oned::Symbology::ean8: return "ean8";
    case oned::Symbology::code39: return "code39";
    case oned::Symbology::itf: return "itf";
    case oned::Symbology::upce: return "upce";
    case oned::Symbology::code93: return "code93";
    case oned::Symbology::codabar: return "codabar";
    case oned::Symbology::databar: return "databar";
    case oned::Symbology::databarExpanded: return "databarexpanded";
    case oned::Symbology::code32: return "code32";
    case oned::Symbology::pzn: return "pzn";
  }
  return "";
}

}  // namespace

bool locate1d(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
              std::vector<Symbol>& symbols, std::string& error, csys_status* status) {
  cimg_imageConst image;
  const csys_status st = cimg_imageConst_constructWrap(&image, pixels, width, height, stride);
  if (CSYS_FAILED(st)) return libraryFailure(st, error, status);
  const road1d::Outcome outcome = road1d::findAll(image);
  cimg_imageConst_destruct(&image);
  // No pixels to window, no memory, or a stop request: what was read before a stop is dropped.
  if (CSYS_FAILED(outcome.status)) return libraryFailure(outcome.status, error, status);
  // Only symbols whose text two scan lines agree on are found at all, so every report carries its
  // text (a 1D symbol that is located but not read is not reported). --no-decode drops the text.
  int count = 0;
  for (const road1d::Symbol& found : outcome.symbols) {
    if (!settings.wants(optionName(found.symbology))) continue;
    if (settings.maxSymbols > 0 && count >= settings.maxSymbols) break;
    Symbol s;
    s.symbology = oned::symbologyName(found.symbology);
    for (int k = 0; k < 4; ++k) s.corners[k] = Corner{found.corners[k][0], found.corners[k][1]};
    s.score = found.agreeing;
    s.parallelogram = false;
    if (settings.decode) {
      s.decoded = true;
      s.text = found.text;
      s.addOn = found.addOn;
      s.rawText = found.rawText;
      s.identifier = found.identifier;
    }
    symbols.push_back(s);
    ++count;
  }
  return true;
}

}  // namespace idutfind
