// The working state the stages of cidut_edgesToTeeth share: the copied parameters, working
// edge positions (remapped or the caller's), the working rectangle, the fixed-point lengths and
// the pitch bins of tooth candidates.
#ifndef IDUT_PRIV_TEETH_WORK_HPP
#define IDUT_PRIV_TEETH_WORK_HPP

#include <cmath>

#include "ci_id/teeth.h"

namespace cidut_teeth {

// round(v * 256), half up.
inline int32_t fix8(double v) { return static_cast<int32_t>(std::floor(v * 256.0 + 0.5)); }

// min/max of two magnitudes in 1/256 (0 when the divisor is 0).
inline int32_t ratio256(int32_t a, int32_t b) {
  const int32_t lo = a < b ? a : b, hi = a < b ? b : a;
  const int32_t divisor = (hi + 8) >> 4;
  return divisor == 0 ? 0 : (lo * 16) / divisor;
}

// x / ((y + 8) >> 4) * 16: x / y in 1/256 with the divisor rounded to 1/16.
inline int32_t div256(int64_t x, int32_t y) {
  const int32_t divisor = (y + 8) >> 4;
  return divisor == 0 ? 0 : static_cast<int32_t>((x * 16) / divisor);
}

// The pitch bins: constructed results records, released together.
struct Bins {
  cidut_teethResults* items = nullptr;
  int32_t count = 0;  // constructed records
};
csys_status destroyBins(Bins* bins);

struct Work {
  cidut_edgePairingParams p;  // working copy (lengths scaled by a remapping)
  const cidut_edge* edges = nullptr;
  int32_t count = 0;
  int32_t* remapped = nullptr;  // working positions after a remapping, or null
  cmath_shapeAffineRectCenter rect;      // working rectangle, centred form
  cmath_shapeAffineRectCenter unmapped;  // the caller's rectangle, centred form
  int32_t W = 0, P = 0, H = 0, offset = 0;
  Bins bins;
  int32_t candidates = 0, occupied = 0;

  int32_t position(int32_t i) const { return remapped ? remapped[i] : edges[i].position; }
};

// Carries the edges, rectangle and lengths through the mapping (w.remapped is allocated by the
// caller).
csys_status remap(Work& w, const cmath_xform& mapping, const cmath_shapeAffineRect& rect);
// Pairs edges into candidates in pitch bins (the bins are allocated and registered by the caller).
csys_status pairIntoBins(Work& w);
// Grid and cell stages on the bins; fills results->teeth.
csys_status gridAndCells(Work& w, const cmath_xform* back, const cmath_xformLinear* pointXform,
                         cidut_teethResults* results);
// Conflicts, synthetic teeth, positions and points on results->teeth (filled by the cells stage).
csys_status completeTeeth(Work& w, const cmath_xform* back, const cmath_xformLinear* pointXform,
                          cidut_teethResults* results);

}  // namespace cidut_teeth

#endif
