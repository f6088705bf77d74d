// idut-find's settings turned into one run of the Data Matrix road over an image.
#include "locate.hpp"

#include <algorithm>
#include <cstdio>

#include "read/datamatrix/dmread.hpp"
#include "road/dmroad.hpp"

namespace idutfind {

bool libraryFailure(csys_status st, std::string& error, csys_status* status) {
  char text[64];
  std::snprintf(text, sizeof text, "the library failed with status 0x%08x", static_cast<unsigned>(st));
  error = text;
  if (status) *status = st;
  return false;
}

bool locateDataMatrix(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
                      std::vector<Symbol>& symbols, std::string& error, csys_status* status) {
  cimg_imageConst image;
  csys_status st = cimg_imageConst_constructWrap(&image, pixels, width, height, stride);
  if (CSYS_FAILED(st)) return libraryFailure(st, error, status);
  dmroad::Options options;
  options.rowStep = settings.rowStep;
  options.lowContrast = settings.lowContrast;
  options.adaptive = settings.adaptive;
  options.longRectangles = settings.longRectangles;
  if (settings.maxSymbols > 0) options.maxSymbols = settings.maxSymbols;
  options.tune = [&settings](cid2d_trackingParams& params) {
    if (settings.minSide > 0) params.minSide = settings.minSide;
    if (settings.maxSide > 0) params.maxSide = settings.maxSide;
    params.expectedSizeA = settings.modulesA;
    params.expectedSizeB = settings.modulesB;
  };
  const dmroad::Outcome outcome = dmroad::findAll(image, options);
  cimg_windowConst window;
  const bool decode = settings.decode && !CSYS_FAILED(cimg_windowConst_init(&window, &image));

  for (const dmroad::Symbol& found : outcome.symbols) {
    Symbol s;
    s.symbology = "DataMatrix";
    // The road gives the outline Po, Px, Popp, Py; the tool reports the origin, both side ends,
    // then the opposite corner. Both count pixel x as covering [x, x + 1).
    const int order[4] = {0, 1, 3, 2};
    for (int k = 0; k < 4; ++k) s.corners[k] = Corner{found.corners[order[k]].x, found.corners[order[k]].y};
    s.score = found.score;
    s.parallelogram = found.parallelogram != 0;
    if (decode) {
      const dmread::Reading reading = dmread::readSymbol(window, found.corners, found.rows, found.cols);
      s.decoded = reading.ok;
      (reading.ok ? s.text : s.decodeError) = reading.ok ? reading.message.text : reading.error;
    }
    symbols.push_back(s);
  }
  cimg_imageConst_destruct(&image);
  if (CSYS_FAILED(outcome.status)) return libraryFailure(outcome.status, error, status);
  return true;
}

namespace {

using RoadFunction = bool (*)(const uint8_t*, int, int, int, const LocateSettings&, std::vector<Symbol>&,
                              std::string&, csys_status*);

struct Road {
  const char* symbology;  // the names --symbology selects it by, comma-separated
  RoadFunction locate;
};

// The tool's roads in search order; a new road adds one row here and its name to symbologyNames().
const Road kRoads[] = {
    {"datamatrix", locateDataMatrix},
    {"pdf417", locatePdf417},
    {"code128,ean13,upca,ean8,code39,itf", locate1d},
};

// Whether any of a road's names is selected.
bool wantsRoad(const LocateSettings& settings, const std::string& names) {
  for (size_t begin = 0; begin <= names.size();) {
    const size_t end = std::min(names.find(',', begin), names.size());
    if (settings.wants(names.substr(begin, end - begin))) return true;
    begin = end + 1;
  }
  return false;
}

}  // namespace

bool locateSymbols(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
                   std::vector<Symbol>& symbols, std::string& error, csys_status* status) {
  bool ok = true;
  if (status) *status = 0;
  for (const Road& road : kRoads) {
    if (!wantsRoad(settings, road.symbology)) continue;
    std::string roadError;
    csys_status roadStatus = 0;
    if (!road.locate(pixels, width, height, stride, settings, symbols, roadError, &roadStatus)) {
      error = error.empty() ? roadError : error + "; " + roadError;
      if (status && ok) *status = roadStatus;
      ok = false;
    }
  }
  return ok;
}

}  // namespace idutfind
