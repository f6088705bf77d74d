// Inside the edge detector: the list and chain records and the hand-over of suppressed
// candidates to a list (hysteresis, frame, chains).
#ifndef IDUT_SRC_BASE_CSEDGE_IMPL_HPP
#define IDUT_SRC_BASE_CSEDGE_IMPL_HPP

#include <vector>

#include "base/csedge.h"
#include "base/cx.hpp"

namespace csedge {

// A suppressed pixel at or above the lower threshold, in window coordinates.
// Direction and angle byte come from the gradient when the point is kept (csedge::emit).
struct Candidate {
  int32_t column, row;
  float x, y;
  int16_t gx, gy;
  uint8_t magnitude;
  bool strong;
};

// The angle byte of a gradient: 256 units per turn, atan2 rounded.
uint8_t angleByte(int gx, int gy);

// Appends the kept candidates (all, or with hysteresis those connected to a strong one) to the
// list in raster order and, when chains is not null, replaces its chains by theirs.
csys_status emit(csEdgeList* list, csEdgeChains* chains, const cimg_windowConst& window,
                 const std::vector<Candidate, csys::Allocator<Candidate>>& candidates, bool hysteresis);

}  // namespace csedge

struct csEdgeList {
  uint32_t capacity = 0;
  std::vector<csEdgePoint, csys::Allocator<csEdgePoint>> points;
  int32_t originMode = 0;
  bool hasOrigin = false;
  int32_t originX = 0, originY = 0;
};

struct csEdgeChains {
  std::vector<uint32_t, csys::Allocator<uint32_t>> starts;   // chain c is [starts[c], starts[c+1])
  std::vector<uint32_t, csys::Allocator<uint32_t>> indices;  // edge-list indices
};

#endif
