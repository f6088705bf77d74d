// Shared by the edge fronts: detector settings and output preparation.
#ifndef IDUT_SRC_EDGE_SUPPORT_HPP
#define IDUT_SRC_EDGE_SUPPORT_HPP

#include "ci_id/edge.h"

namespace edgesupport {

// The base detector's record from the caller's three settings: low threshold 0 and the given
// suppression flag; the reserved field keeps its default.
csEdgeParams detectorParams(const cip_edgeParams& params, float suppress);

// `work` (constructed here) becomes the caller's bound image windowed to rect, or new pixels of
// rect's size at its origin when the caller's image is unbound. work must be destructed.
csys_status prepareOutput(cimg_image* caller, const cstd_rect32& rect, cimg_image* work);

// The source window less a one-pixel border, intersected with the windows of the bound
// outputs (either may be null); false when that leaves nothing.
bool shrinkToOutputs(const cimg_imageConst* source, const cimg_image* a, const cimg_image* b, cstd_rect32* rect);

}  // namespace edgesupport

#endif
