// The 1D road as a caller runs it: a whole-image search for bar-like regions at any angle (cells
// whose grey gradients all point one way, grouped by direction) and the library's single-symbol
// finder at the image centre, several scan lines across each region along its reading axis, the
// element widths of each line handed to the 1D readers, and the lines' reads combined so that a symbol is reported only when lines agree on it. idut-find
// runs it on image files, and the reading tests and benchmarks on generated scenes.
//
// The element widths come from the edges; EAN/UPC blurred past its edges is also read from the grey
// levels on its module grid (reader/oned/eangrid.hpp). The library's grid pitch and
// edges-to-teeth stages can check the widths (Profile::teeth; road1dteeth.hpp says why the teeth
// do not give the widths), a way the default reading no longer takes: on the photographs and
// scenes it decided nothing the other ways did not.
#ifndef IDUT_READER_ONED_ROAD1D_HPP
#define IDUT_READER_ONED_ROAD1D_HPP

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/cimg.h"
#include "reader/oned/oned.hpp"
#include "reader/oned/road1dclaims.hpp"

namespace road1d {

inline constexpr int kCell = 12;  // pixels a side of the direction grid's cells
// Radians between the directions of cells grouped into one region, and of regions taken as one.
inline constexpr double kSameDirection = 12 * 3.14159265358979323846 / 180;

// Bilinear grey at (x, y) with pixel centres at integers + 0.5, clamped to the window: the
// sampler of the lines' profiles near the image border and of the bands beside a read. The
// window's bounds are read into locals once, for the many taps of a line.
struct ClampedSampler {
  explicit ClampedSampler(const cimg_windowConst& w)
      : pixels(w.pixels), stride(w.stride), width(w.width), height(w.height), maxX(w.width - 1.0),
        maxY(w.height - 1.0) {}
  double operator()(double x, double y) const {
    x = std::clamp(x - 0.5, 0.0, maxX);
    y = std::clamp(y - 0.5, 0.0, maxY);
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
    const double fx = x - x0, fy = y - y0;
    const uint8_t* row0 = pixels + static_cast<ptrdiff_t>(y0) * stride;
    const uint8_t* row1 = pixels + static_cast<ptrdiff_t>(y1) * stride;
    return (1 - fy) * ((1 - fx) * row0[x0] + fx * row0[x1]) + fy * ((1 - fx) * row1[x0] + fx * row1[x1]);
  }
  // The border column that both x clamp to, or -1: then every x between does as well.
  int clampedColumn(double xa, double xb) const {
    if (xa - 0.5 <= 0.0 && xb - 0.5 <= 0.0) return 0;
    if (xa - 0.5 >= maxX && xb - 0.5 >= maxX) return width - 1;
    return -1;
  }
  int clampedRow(double ya, double yb) const {
    if (ya - 0.5 <= 0.0 && yb - 0.5 <= 0.0) return 0;
    if (ya - 0.5 >= maxY && yb - 0.5 >= maxY) return height - 1;
    return -1;
  }
  // (*this)(x, y) for an x that clamps to the column given: its weights across are 1 and 0.
  double onColumn(int column, double y) const {
    y = std::clamp(y - 0.5, 0.0, maxY);
    const int y0 = static_cast<int>(y), y1 = std::min(y0 + 1, height - 1);
    const double fy = y - y0;
    const uint8_t* p = pixels + column;
    return (1 - fy) * p[static_cast<ptrdiff_t>(y0) * stride] + fy * p[static_cast<ptrdiff_t>(y1) * stride];
  }
  // (*this)(x, y) for a y that clamps to the row given.
  double onRow(double x, int row) const {
    x = std::clamp(x - 0.5, 0.0, maxX);
    const int x0 = static_cast<int>(x), x1 = std::min(x0 + 1, width - 1);
    const double fx = x - x0;
    const uint8_t* p = pixels + static_cast<ptrdiff_t>(row) * stride;
    return (1 - fx) * p[x0] + fx * p[x1];
  }
  const uint8_t* pixels;
  ptrdiff_t stride;
  int width, height;
  double maxX, maxY;
};

inline double sampleGrey(const cimg_windowConst& w, double x, double y) { return ClampedSampler(w)(x, y); }

// How a line's edges are taken from its profile.
struct Profile {
  double smoothing = 0;   // sigma of a Gaussian over the profile, pixels
  bool midLevel = false;  // edges moved to the local mid-level crossings
  bool teeth = false;     // weak edges inside a tooth of the line's module grid dropped (road1dteeth.hpp)
  bool extrema = false;   // edges between the profile's alternating extremes (reader/oned/extrema.hpp)
  // Pixels either side of the line that each profile sample averages along the bars: taller
  // averages quieten noise and the grain of small bars, as long as the line runs across the bars.
  double halfHeight = 1.5;
  // EAN/UPC read on the symbol's module grid from the grey levels (reader/oned/eangrid.hpp), for
  // blur that leaves the narrow elements without edges; the edges only place the symbol's ends.
  bool grid = false;
};

struct Options {
  oned::Options read;
  int maxCandidates = 0;    // bar-like regions scanned, strongest first; 0: every one
  bool centreFinder = true; // also scan along the bars the single-symbol finder sees at the centre
  // Parallel scan lines across a region; three times as many (4 px apart at least) where a line
  // read a text that the lines did not agree on.
  int linesPerRegion = 9;
  int minAgreeing = 2;      // lines that must read the same text
  // The ways every line is read (see lineWidths): gradient peaks and mid-level crossings of the
  // raw profile for the finest modules, the alternating extremes of the raw and a lightly
  // smoothed profile for blur and uneven light, EAN/UPC on its module grid, then the same from
  // profiles averaged three times taller along the bars (noise, the grain of short bars).
  // A line votes once for each text it reads; the later ways are tried only while the votes of
  // the earlier ones do not decide.
  std::vector<Profile> profiles{{0.0, false},
                                {0.0, true},
                                {0.0, false, false, true},
                                {0.6, false, false, true},
                                {0.0, false, false, false, 1.5, true},
                                {0.0, false, false, true, 5},
                                {0.0, false, false, false, 5},
                                {0.0, false, false, false, 5, true}};
  // Outlines of symbols another road has read in the image (road1dclaims.hpp): no bars are
  // looked for inside them, and no read centred on one is reported.
  std::vector<Outline> claimed;
};

// A bar-like region: centre, reading direction (unit vector across the bars) and the extents
// of its cells along and across that direction, pixels (pixel centres at integers + 0.5).
struct Region {
  double cx = 0, cy = 0;
  double dx = 1, dy = 0;
  double alongMin = 0, alongMax = 0, acrossMin = 0, acrossMax = 0;
  double energy = 0;  // summed gradient energy of its cells (the order of the scan)
  // A region joined from pieces in line keeps them, to be read one by one when the whole does
  // not read (two labels a narrow gap apart join as one symbol's pieces do).
  std::vector<Region> pieces;
  // Its pieces lie side by side across, not in line: an unread region is read piece by piece
  // rather than parted where its lines' reads change.
  bool piecesApart = false;
  // A band beside a symbol read already, over the rest of that read's region: it holds another
  // label only now and then, and is given up early when its first profiles read nothing.
  bool besideRead = false;
  double lowestLabel = 0;  // a band's least height to hold a label (pixels)
  // The direction grid's cell groups it was gathered from (none for the centre finder's and a
  // strip's regions).
  std::vector<int> groups;
};

// One read symbol. Corners in image pixels, pixel (x, y) covering [x, x + 1) x [y, y + 1): the
// start of the first bar at the bars' bottom end (with the symbol read left to right and its bars
// upright), the end of the last bar at the bottom, the first bar's top, the last bar's top.
struct Symbol {
  oned::Symbology symbology = oned::Symbology::code128;
  std::string text;
  std::string addOn;       // EAN/UPC: the add-on, when at least two lines agree on it
  std::string rawText;     // the characters as the bars carry them, where text interprets them
  std::string identifier;  // symbology identifier: "]C0", "]E0", "]A0", ...
  std::array<std::array<double, 2>, 4> corners{};
  int lines = 0;      // lines scanned over its region
  int agreeing = 0;   // lines that read this text
};

struct Outcome {
  std::vector<Symbol> symbols;
  int regions = 0;    // bar-like regions scanned
  // The first failure: no window or no memory for the library's finder (no symbols then), or a
  // stop request's status (polled before every scan line), with the symbols read before it kept.
  csys_status status = 0;
};

// The direction grid's bar cells: for each cell of kCell pixels, row by row, the group of cells
// it was gathered into (Region::groups), -1 where it is no bar cell.
struct BarCells {
  int cols = 0, rows = 0;
  std::vector<int> group;
};

// The bar-like regions of an image, strongest first: the maxRegions strongest (0: all); cells,
// when given, receives the grid they were gathered from. Cells centred inside a claimed outline
// are no bar cells. A region's extent across is that of its cells holding edges of both senses: a
// border's lone straight edge beside a symbol does not widen it, nor make a region of its own.
std::vector<Region> findRegions(const cimg_windowConst& window, int maxRegions, BarCells* cells = nullptr,
                                const std::vector<Outline>& claimed = {});

// Whether region o runs the same way as r (within kSameDirection) and holds r's centre.
bool runsThrough(const Region& o, const Region& r);

// A symbol whose modules are wider than half a cell leaves most cells inside its wide elements
// without an edge, and its cells part into pieces too far apart to join (a close-up, a photograph
// at full resolution). The image shrunk to half its size (each pixel the mean of four) shows it
// as the grid expects; such a symbol, 35 modules at least of 6 px, is this long (pixels), and
// twice as long for each further halving.
inline constexpr double kMinHalvedLength = 200;

// The image shrunk by factor (1: not yet).
struct ShrunkImage {
  int width = 0, height = 0, factor = 1;
  std::vector<uint8_t> pixels;
};

// The bar-like regions of the image shrunk to half the size of shrunk (of window, the first
// time), which it then holds, in the full image's pixels: those long enough for modules too wide
// at the size before (kMinHalvedLength at half size) that no region of found has found already (a
// region running through it at least two thirds as long). None once the image is too small for
// such a symbol; csys_errNoMemory without memory for the shrunk image, or a stop request's status.
csys_status regionsShrunkAgain(const cimg_windowConst& window, ShrunkImage& shrunk, int maxRegions,
                               const std::vector<Outline>& claimed, const std::vector<Region>& found,
                               std::vector<Region>& out);

// The parts of r beyond the symbol read in it (along r's direction), each long enough to hold
// another symbol and shorter than r by a cell at least, so that reading them again ends.
std::vector<Region> beyondRead(const Region& r, const Symbol& s);

// Element widths along the line from (x0, y0) to (x1, y1), as the readers take them (light
// first and last); positions receives the edge positions in pixels from (x0, y0) (one fewer
// than the widths). Dark-on-light only. smoothing is the sigma, pixels, of a Gaussian applied to
// the profile first: noise on wide elements makes false edge pairs that it removes, at the cost of
// merging elements much narrower than about three sigmas. With midLevel each edge is moved from
// its gradient peak to where the profile crosses the level halfway between the extremes on either
// side: better on elements of a pixel or two, worse on blurred ones.
std::vector<double> lineWidths(const cimg_windowConst& window, double x0, double y0, double x1, double y1,
                               std::vector<double>* positions, double smoothing = 0, bool midLevel = false);

// lineWidths with every way of taking the edges that Profile offers.
std::vector<double> lineWidths(const cimg_windowConst& window, double x0, double y0, double x1, double y1,
                               std::vector<double>* positions, const Profile& how);

Outcome findAll(const cimg_imageConst& image, const Options& options = {});

// std::lround of a value from 0 to 2^31 - 1 (the profiles' sample places), without the library call.
int roundNonNegative(double v);

}  // namespace road1d

#endif
