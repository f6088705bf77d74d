// idut-find's settings turned into one run of the PDF417 road over an image.
#include "locate.hpp"
#include "road/pdfroad.hpp"

namespace idutfind {

bool locatePdf417(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
                  std::vector<Symbol>& symbols, std::string& error, csys_status* status) {
  cimg_imageConst image;
  csys_status st = cimg_imageConst_constructWrap(&image, pixels, width, height, stride);
  if (CSYS_FAILED(st)) return libraryFailure(st, error, status);
  pdfroad::Options options;
  options.rowStep = settings.rowStep;
  if (settings.maxSymbols > 0) options.maxSymbols = settings.maxSymbols;
  options.tune = [&settings](cid2d_trackingParams& params) {
    if (settings.minSide > 0) params.minSide = settings.minSide;
    if (settings.maxSide > 0) params.maxSide = settings.maxSide;
  };
  const pdfroad::Outcome outcome = pdfroad::findAll(image, options);
  cimg_imageConst_destruct(&image);
  for (const pdfroad::Symbol& found : outcome.symbols) {
    Symbol s;
    s.symbology = "PDF417";
    // The road gives the outline from the start pattern's top corner; the tool reports that
    // corner, the ends of its two sides (along the first row, down the start pattern), then the
    // opposite corner.
    const int order[4] = {0, 1, 3, 2};
    for (int k = 0; k < 4; ++k) s.corners[k] = Corner{found.corners[order[k]].x, found.corners[order[k]].y};
    s.score = found.score;
    s.parallelogram = found.parallelogram != 0;
    symbols.push_back(s);
  }
  if (CSYS_FAILED(outcome.status)) return libraryFailure(outcome.status, error, status);
  return true;
}

}  // namespace idutfind
