// The image side of reading a located PDF417 symbol: grey profiles sampled along lines across
// its rows through the projective map of the located corners (a little beyond them, as a location
// is good to a module or two), and the symbol's outline from where the lines that read it met its
// sides.
#ifndef IDUT_READER_PDF417_PDFSAMPLE_HPP
#define IDUT_READER_PDF417_PDFSAMPLE_HPP

#include <array>
#include <vector>

#include "base/cimg.h"
#include "reader/geometry.hpp"
#include "reader/pdf417/pdfgrid.hpp"

namespace pdf417 {

// A profile sample beyond the image: read as the line's lightest level (its quiet zone) whichever
// the polarity, so that a symbol printed to the image's edge still shows its first bar's leading
// edge, and the line's range of levels stays the image's.
inline constexpr float kOutside = -1.0f;

// Lines across a quadrilateral p00 p10 p11 p01, each along u (p00 towards p10) at its own v.
struct Scan {
  std::vector<std::vector<float>> profiles;
  std::vector<double> vs;
  dmroad::SquareToQuad map;
  double mu = 0;    // the profiles run from u = -mu to 1 + mu
  int samples = 0;  // samples a profile
  bool resolved = false;  // samples beyond the image already hold their line's lightest level
  // The image point of a position along a profile at v (in samples, of the profile read reversed
  // or not).
  cmath_vect pointAt(double position, double v, bool reversed) const {
    const double s = reversed ? samples - 1 - position : position;
    return map.map(-mu + (1 + 2 * mu) * (s + 0.5) / samples, v);
  }
};

struct Sampling {
  double pitch = 1.5;    // pixels between lines
  std::vector<double> at;  // the lines' v, when not empty (instead of lines pitch apart)
  double step = 0.5;     // pixels between samples along a line (about; evenly spread in u)
  // Negate the samples (light bars on a dark ground) and give samples beyond the image their
  // line's lightest level here (resolved), rather than leaving kOutside for the reader to
  // resolve for each way it tries.
  bool resolve = false;
  bool invert = false;
  // Each sample the mean of three across the line, 0.35 pixels apart, which keeps the noise of a
  // grainy image from splitting narrow elements; else one sample.
  bool average = true;
};

// Samples the lines, evenly in the map's u so that modules stay evenly spaced along a profile
// however the symbol is tilted away. False for corners too small, too large or not finite.
bool sampleProfiles(const cimg_windowConst& w, const std::array<cmath_vect, 4>& corners, const Sampling& how,
                    Scan* scan);

// The outline of the symbol the lines read (reversed: the profiles were read back to front): the
// start side through the start patterns' leading edges, the far side through the stop patterns'
// trailing edges (a compact symbol's: a module past where its last data column ends), a side too
// few lines met placed from the other one by the symbol's width in each line's modules, and the
// first and last rows' outer edges where the grid's row fit puts them. Corners from the top of
// the start side along the first row.
bool outlineOf(const Scan& scan, const std::vector<ScannedLine>& lines, const CodewordGrid& grid, bool reversed,
               std::array<cmath_vect, 4>* outline);

}  // namespace pdf417

#endif
