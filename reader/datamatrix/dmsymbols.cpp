#include "reader/datamatrix/dmsymbols.hpp"

#include <algorithm>
#include <cstdio>
#include <new>

#include "reader/datamatrix/dmupscale.hpp"
#include "reader/datamatrix/dmwindows.hpp"
#include "reader/roadrun.hpp"

namespace dmroad {

namespace {

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

// The symbols of an outcome read, in order, onto out; the search's failure, else the first of
// the searches again round a symbol a window located and could not read.
csys_status readOutcome(const cimg_imageConst& image, const Options& road, bool decode, const Outcome& outcome,
                        std::vector<idut::Symbol>& out) {
  cimg_windowConst window;
  decode = decode && !CSYS_FAILED(cimg_windowConst_init(&window, &image));
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
      // The grid that read knows which corner is the L and which side the rows, and where the
      // outline lies: refined onto the modules, it mends a corner the search put a module or two
      // along a long rectangle's side, and it is grown or slid where the search missed the L.
      if (reading.ok) s.corners = idutread::quadOf(reading.gridCorners.data());
    }
    out.push_back(std::move(s));
  }
  return status;
}

// Below this ratio of the noise estimate's row-to-row check to its first figure, a picture taken
// for noisy may be modules of a pixel or two (sharp noise of the camera gives 0.92 and more;
// symbols filling the picture 0.5 to 0.9 when tilted, blurred or of modules under 2 pixels,
// whose rows do not repeat): smoothing blurs such modules away, so when the smoothed search
// reads nothing the picture as it is is searched too.
constexpr double kUndecidedRowToRow = 0.9;

bool anyRead(const std::vector<idut::Symbol>& symbols) {
  return std::any_of(symbols.begin(), symbols.end(), [](const idut::Symbol& s) { return s.decoded; });
}

// Pictures of at most this many pixels a side that read nothing, whose level changes from pixel to
// pixel by at least kEnlargeStep on average both ways, are searched twice as large too: the
// driver's edge filters span six pixels and lose modules under two, and a symbol of such modules
// filling a picture this size has up to 128 of them a side. Such symbols gave 32 grey levels and
// more (a contrast of 150); the 1D photographs and phone scenes at most 20, and the pictures they
// spare would cost four times their search again.
constexpr int32_t kEnlargeUpTo = 256;
constexpr double kEnlargeStep = 26;

// The symbols of front's image located and read into found, the image being scale times the
// caller's (the pixel sizes asked for scaled alike); the search's failure.
csys_status searchAndRead(idutread::FrontPass& front, const idut::ReadOptions& options, int limit, int scale,
                          std::vector<idut::Symbol>& found) {
  Options road;
  road.rowStep = options.step;
  road.lowContrast = options.lowContrast;
  road.adaptive = options.adaptive;
  road.longRectangles = options.longRectangles;
  road.front = &front;
  const cimg_imageConst& image = front.image();
  if (limit > 0) road.maxSymbols = limit;
  road.tune = [&options, scale](cid2d_trackingParams& params) {
    if (options.minSize > 0) params.minSide = options.minSize * scale;
    if (options.maxSize > 0) params.maxSide = options.maxSize * scale;
    params.expectedSizeA = options.modulesA;
    params.expectedSizeB = options.modulesB;
  };
  const Outcome outcome = findAllInWindows(image, road);
  csys_status status = readOutcome(image, road, options.decode, outcome, found);
  // A second search with other options, whose symbols stand when one of them reads.
  auto searchAgain = [&] {
    std::vector<idut::Symbol> again;
    const csys_status st = readOutcome(image, road, true, findAllInWindows(image, road), again);
    if (CSYS_FAILED(st)) status = st;
    else if (anyRead(again)) found = std::move(again);
  };
  // A picture whose edges can be read two ways, where the first read nothing: searched again in
  // the other reading's frame.
  if (options.decode && outcome.otherFrame && !CSYS_FAILED(status) && !anyRead(found)) {
    road.otherFrame = true;
    searchAgain();
  }
  // A picture smoothed for noise that its structure may have passed for, where nothing read:
  // searched again as it is.
  if (options.decode && outcome.smoothed && front.noiseRowToRow() < kUndecidedRowToRow && !CSYS_FAILED(status) &&
      !anyRead(found)) {
    road.denoise = false;
    road.otherFrame = false;
    searchAgain();
  }
  return status;
}

// The symbols of a small picture searched twice as large, where the picture as it is read
// nothing; their corners in the picture's coordinates. found is left alone unless one reads.
csys_status readEnlarged(const cimg_imageConst& image, const idut::ReadOptions& options, int limit,
                         std::vector<idut::Symbol>& found) {
  cimg_windowConst w;
  if (CSYS_FAILED(cimg_windowConst_init(&w, &image))) return 0;
  // The wrapped image is released however the search ends.
  struct Enlarged {
    cimg_imageConst image{};
    bool wrapped = false;
    ~Enlarged() {
      if (wrapped) cimg_imageConst_destruct(&image);
    }
  };
  try {
    std::vector<uint8_t> pixels(4 * static_cast<size_t>(w.width) * w.height);
    upscaleTwice(w, pixels.data());
    Enlarged enlarged;
    csys_status st =
        cimg_imageConst_constructWrap(&enlarged.image, pixels.data(), 2 * w.width, 2 * w.height, 2 * w.width);
    if (CSYS_FAILED(st)) return st;
    enlarged.wrapped = true;
    std::vector<idut::Symbol> again;
    idutread::FrontPass front(enlarged.image);
    st = searchAndRead(front, options, limit, 2, again);
    if (CSYS_FAILED(st) || !anyRead(again)) return st;
    for (idut::Symbol& s : again)
      for (idut::Point& p : s.corners.points) p = idut::Point{p.x / 2, p.y / 2};
    found = std::move(again);
    return 0;
  } catch (const std::bad_alloc&) {
    return csys_errNoMemory;
  }
}

}  // namespace

csys_status readSymbols(idutread::FrontPass& front, const idut::ReadOptions& options, int limit,
                        std::vector<idut::Symbol>& out) {
  std::vector<idut::Symbol> found;
  csys_status status = searchAndRead(front, options, limit, 1, found);
  cimg_windowConst w;
  if (options.decode && !CSYS_FAILED(status) && !anyRead(found) &&
      !CSYS_FAILED(cimg_windowConst_init(&w, &front.image())) && w.width <= kEnlargeUpTo && w.height <= kEnlargeUpTo &&
      meanStepBothWays(w) >= kEnlargeStep)
    status = readEnlarged(front.image(), options, limit, found);
  out.insert(out.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
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
