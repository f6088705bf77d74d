// Module grids of a located Data Matrix symbol sampled from the image.
#ifndef IDUT_READER_DATAMATRIX_DMSAMPLE_HPP
#define IDUT_READER_DATAMATRIX_DMSAMPLE_HPP

#include <array>
#include <vector>

#include "base/cimg.h"
#include "reader/datamatrix/dmcodewords.hpp"

namespace dmread {

// One reading of the quadrilateral: which corner is the L, which way the rows run, the size,
// and the module grid sampled with it.
struct Grid {
  std::array<cmath_vect, 4> corners{};  // L corner, solid row end, opposite, solid column end
  const SymbolSize* size = nullptr;
  double score = 0;       // fraction of the finder and clock modules seen in their class
  bool mirrored = false;  // the rows run clockwise from the L on screen (y down): a mirror image
  bool lightOnDark = false;
  ModuleMatrix modules;
  std::vector<float> values;  // grey level sampled at each module, row-major
};

// The readings of the quadrilateral (corners around the outline, pixel x covering [x, x + 1))
// whose finder and clock patterns fit, best first: every L corner, both handednesses (a mirror
// image reads the other way round) and every size whose modules come out roughly square and at
// least 1.5 pixels wide. rows/cols > 0 restrict the sizes to that one (either orientation).
std::vector<Grid> gridCandidates(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners,
                                 int rows = 0, int cols = 0);

// For a long rectangle whose located ends are a module or two off along its long sides (an
// outline a fraction of a module short at one end leaves the finder and clock patterns of the
// far half off, and the right reading scores under the others): for each reading of the
// quadrilateral, each end (its two corners together) by up to kSlideModules and each corner alone
// by half that, slid along the long sides, or a long side's two corners by up to kSlideModules
// along it (a skewed symbol's short sides lie off square), in half modules, then a quarter either
// way, wherever the finder and clock modules gain contrast; the readings whose patterns then fit
// (kSlidFit of the finder and clock modules on their side), best first: a grid slid onto the
// symbol fits nearly all of them. rows x cols: the size (either orientation).
inline constexpr double kSlideModules = 2;
inline constexpr int kSlideRounds = 2;
inline constexpr double kSlidFit = 0.9;
std::vector<Grid> slidGridCandidates(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, int rows,
                                     int cols);

// Samples every module centre of the grid with a threshold per data region, taken from that
// region's own finder and clock modules; fills grid->modules (with margins).
void sampleModules(const cimg_windowConst& window, Grid* grid);

// Decides the modules again against a model of the blur: each module's grey level is fitted
// as a level plus one step for its own class and smaller ones for its four edge and four corner
// neighbours' classes (least squares over the whole grid, the quiet zone counted as paper),
// then every data module takes the class that fits it better, given its neighbours, three
// times over. Heavy blur spreads a lone module into its neighbours; a threshold alone misses it.
void equalizeModules(Grid* grid);

// Moves the corners in shrinking steps while the finder and clock modules gain contrast: the
// grid then sits on the modules even when the located corners are a fraction of a module off.
void refineGrid(const cimg_windowConst& window, Grid* grid);

}  // namespace dmread

#endif
