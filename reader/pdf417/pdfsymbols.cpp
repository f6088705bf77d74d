#include "reader/pdf417/pdfsymbols.hpp"

#include "reader/pdf417/pdfread.hpp"
#include "reader/pdf417/pdfroad.hpp"
#include "reader/roadrun.hpp"

namespace pdfroad {

csys_status readSymbols(idutread::FrontPass& front, const idut::ReadOptions& options, int limit,
                        std::vector<idut::Symbol>& out) {
  Options road;
  road.rowStep = options.step;
  road.decode = options.decode;
  if (limit > 0) road.maxSymbols = limit;
  road.minSide = options.minSize;
  road.maxSide = options.maxSize;
  road.front = &front;
  const cimg_imageConst& image = front.image();
  Outcome outcome = findAll(image, road);
  std::vector<pdf417::Reading*> readings;
  for (Symbol& found : outcome.symbols)
    if (found.readTried) readings.push_back(&found.reading);
  pdf417::carryEcis(readings);
  cimg_windowConst window;
  const bool decode = options.decode && !CSYS_FAILED(cimg_windowConst_init(&window, &image));
  for (const Symbol& found : outcome.symbols) {
    idut::Symbol s;
    s.symbology = idut::Symbology::PDF417;
    s.corners = idutread::quadOf(found.corners.data());
    s.score = found.score;
    s.parallelogram = false;
    if (decode && found.readTried) pdf417::fillSymbol(found.reading, s);
    else if (decode) pdf417::readSymbol(window, found.corners, s);
    out.push_back(std::move(s));
  }
  return outcome.status;
}

}  // namespace pdfroad
