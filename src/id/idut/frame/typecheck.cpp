// The type-check entries: deliberately empty.
#include "ci_id/typecheck.h"

#define CIDUT_TYPECHECK_DEFS(T)                                   \
  void csys_typeCheck_##T(T*) {}                                  \
  void csys_typeCheckPtr_##T(T**) {}                              \
  void csys_typeCheckFunc_##T(csys_status (*)(T*)) {}             \
  void csys_typeCheckFuncPtr_##T(csys_status (*)(T**)) {}

extern "C" {
CIDUT_TYPECHECK_DEFS(cstd_vector_cid_region)
CIDUT_TYPECHECK_DEFS(cstd_vector_cidut_toothCand)
CIDUT_TYPECHECK_DEFS(cstd_vector_cidc_peakIDFixedX_4)
CIDUT_TYPECHECK_DEFS(cstd_vector_vector_cidc_peakIDFixedX_4)
CIDUT_TYPECHECK_DEFS(cstd_vector_cidc_scanLine)
CIDUT_TYPECHECK_DEFS(cstd_vector_cidc_scanLineSeg)
CIDUT_TYPECHECK_DEFS(cstd_vector_cidc_scanRay)
CIDUT_TYPECHECK_DEFS(cstd_vector_cidc_scanShape)
CIDUT_TYPECHECK_DEFS(cid_mask)
CIDUT_TYPECHECK_DEFS(cid2d_imageMemoryManager)
CIDUT_TYPECHECK_DEFS(cid2d_trackingResult)
CIDUT_TYPECHECK_DEFS(cidut_teethResults)
CIDUT_TYPECHECK_DEFS(cidut_binarizeParams)
CIDUT_TYPECHECK_DEFS(cid2d_ReedSolomonCode)
}
