#include "reader/datamatrix/dmsymbols.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "reader/datamatrix/dmwindows.hpp"
#include "reader/roadrun.hpp"

namespace dmroad {

namespace {

// The located corners (around the outline) in the order of the grid's corners (L, row end,
// opposite, column end): each located corner takes the place of the grid corner nearest it, the
// grid being the located outline named and, at most, refined by a fraction of a module.
std::array<cmath_vect, 4> namedAfter(const std::array<cmath_vect, 4>& located, const std::array<cmath_vect, 4>& grid) {
  auto nearest = [&](const cmath_vect& g) {
    int best = 0;
    double bestDistance = 1e300;
    for (int i = 0; i < 4; ++i) {
      const double d = std::hypot(located[i].x - g.x, located[i].y - g.y);
      if (d < bestDistance) {
        bestDistance = d;
        best = i;
      }
    }
    return best;
  };
  // The L's place and the turning direction from the row end's: the outline order is kept.
  const int l = nearest(grid[0]), rowEnd = nearest(grid[1]);
  const int dir = (rowEnd - l + 4) % 4;
  if (dir != 1 && dir != 3) return located;
  return {located[l], located[(l + dir) % 4], located[(l + 2) % 4], located[(l + 4 - dir) % 4]};
}

// A symbol a window located and the decoder could not read, located again in the part of the
// image round it and read there (findAgainAlone): the first find there that reads takes its place.
// The search's failure (no memory, a stop), with what it found before it kept.
csys_status readAgainAlone(const cimg_imageConst& image, const cimg_windowConst& window, const Options& road,
                           Symbol* found, dmread::Reading* reading) {
  const Outcome again = findAgainAlone(image, *found, road);
  for (const Symbol& s : again.symbols) {
    dmread::Reading r = dmread::readSymbol(window, s.corners, s.rows, s.cols);
    if (!r.ok) continue;
    *found = s;
    *reading = std::move(r);
    break;
  }
  return again.status;
}

}  // namespace

csys_status readSymbols(idutread::FrontPass& front, const idut::ReadOptions& options, int limit,
                        std::vector<idut::Symbol>& out) {
  Options road;
  road.rowStep = options.step;
  road.lowContrast = options.lowContrast;
  road.adaptive = options.adaptive;
  road.longRectangles = options.longRectangles;
  road.front = &front;
  const cimg_imageConst& image = front.image();
  if (limit > 0) road.maxSymbols = limit;
  road.tune = [&options](cid2d_trackingParams& params) {
    if (options.minSize > 0) params.minSide = options.minSize;
    if (options.maxSize > 0) params.maxSide = options.maxSize;
    params.expectedSizeA = options.modulesA;
    params.expectedSizeB = options.modulesB;
  };
  const Outcome outcome = findAllInWindows(image, road);
  cimg_windowConst window;
  const bool decode = options.decode && !CSYS_FAILED(cimg_windowConst_init(&window, &image));
  const bool windowed = searchedInWindows(image);
  csys_status status = outcome.status;
  for (Symbol found : outcome.symbols) {
    dmread::Reading reading;
    if (decode) {
      reading = dmread::readSymbol(window, found.corners, found.rows, found.cols);
      if (!reading.ok && windowed && !CSYS_FAILED(status)) {
        const csys_status st = readAgainAlone(image, window, road, &found, &reading);
        if (CSYS_FAILED(st) && !CSYS_FAILED(status)) status = st;
      }
    }
    idut::Symbol s;
    s.symbology = idut::Symbology::DataMatrix;
    s.corners = idutread::quadOf(found.corners.data());
    s.score = found.score;
    s.parallelogram = found.parallelogram != 0;
    s.rows = found.rows;
    s.columns = found.cols;
    if (decode) {
      dmread::fillSymbol(reading, s);
      // The grid that read knows which corner is the L and which side the rows: the located
      // corners are named after it (or give way to it, when they missed the L).
      if (reading.ok && reading.outlineGrown) s.corners = idutread::quadOf(reading.gridCorners.data());
      else if (reading.ok) s.corners = idutread::quadOf(namedAfter(found.corners, reading.gridCorners).data());
    }
    out.push_back(std::move(s));
  }
  return status;
}

}  // namespace dmroad

namespace dmread {

namespace {

// The rectangular extension sizes (DMRE) carry identifiers of their own.
bool extensionSize(int rows, int cols) {
  if (rows == cols) return false;
  static const int kClassic[][2] = {{8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48}};
  for (const auto& rc : kClassic)
    if (rc[0] == rows && rc[1] == cols) return false;
  return true;
}

// "]d1" plain, "]d2" GS1 (FNC1 first), "]d4" with ECI, "]d5" GS1 with ECI; the extension sizes
// "]d7" plain and "]d8" GS1.
const char* identifierOf(const Reading& r) {
  const bool eci = !r.message.ecis.empty();
  if (extensionSize(r.rows, r.cols)) return r.message.gs1 ? "]d8" : "]d7";
  if (r.message.gs1) return eci ? "]d5" : "]d2";
  return eci ? "]d4" : "]d1";
}

}  // namespace

void fillSymbol(const Reading& reading, idut::Symbol& symbol) {
  symbol.decoded = reading.ok;
  symbol.errorsCorrected = reading.corrected;
  symbol.erasures = reading.erased;
  symbol.mirrored = reading.mirrored;
  symbol.inverted = reading.lightOnDark;
  if (reading.rows > 0) {
    symbol.rows = reading.rows;
    symbol.columns = reading.cols;
  }
  if (!reading.ok) {
    symbol.decodeError = reading.error;
    return;
  }
  const Message& m = reading.message;
  symbol.text = m.text;
  symbol.bytes = m.bytes;
  symbol.symbologyIdentifier = identifierOf(reading);
  symbol.contentType = m.binary  ? idut::ContentType::Binary
                       : m.macro ? idut::ContentType::ISO15434
                       : m.gs1   ? idut::ContentType::GS1
                                 : idut::ContentType::Text;
  symbol.eci = m.ecis.empty() ? -1 : m.ecis.front();
  symbol.readerInit = m.readerProgramming;
  if (m.appendCount > 0) {
    symbol.structuredAppend.index = m.appendPosition - 1;
    symbol.structuredAppend.count = m.appendCount;
    char id[16];
    std::snprintf(id, sizeof id, "%d.%d", m.appendFileId >> 8, m.appendFileId & 0xFF);
    symbol.structuredAppend.id = id;
  }
}

}  // namespace dmread
