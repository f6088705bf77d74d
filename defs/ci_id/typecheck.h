/* Type-check entries: empty functions that exist so that registering a resource for clean-up
 * checks, at compile time, the object's type and its release function's type. For each resource
 * type T the library exports csys_typeCheck_T (T*), csys_typeCheckPtr_T (T**),
 * csys_typeCheckFunc_T (a release function of T*) and csys_typeCheckFuncPtr_T (a release
 * function of T**). */
#ifndef IDUT_CI_ID_TYPECHECK_H
#define IDUT_CI_ID_TYPECHECK_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

#define CIDUT_TYPECHECK_DECLS(T)                                               \
  typedef struct T T;                                                          \
  IDUT_API void csys_typeCheck_##T(T* object);                                 \
  IDUT_API void csys_typeCheckPtr_##T(T** object);                             \
  IDUT_API void csys_typeCheckFunc_##T(csys_status (*release)(T*));            \
  IDUT_API void csys_typeCheckFuncPtr_##T(csys_status (*release)(T**));

CIDUT_TYPECHECK_DECLS(cstd_vector_cid_region)
CIDUT_TYPECHECK_DECLS(cstd_vector_cidut_toothCand)
CIDUT_TYPECHECK_DECLS(cstd_vector_cidc_peakIDFixedX_4)
CIDUT_TYPECHECK_DECLS(cstd_vector_vector_cidc_peakIDFixedX_4)
CIDUT_TYPECHECK_DECLS(cstd_vector_cidc_scanLine)
CIDUT_TYPECHECK_DECLS(cstd_vector_cidc_scanLineSeg)
CIDUT_TYPECHECK_DECLS(cstd_vector_cidc_scanRay)
CIDUT_TYPECHECK_DECLS(cstd_vector_cidc_scanShape)
CIDUT_TYPECHECK_DECLS(cid_mask)
CIDUT_TYPECHECK_DECLS(cid2d_imageMemoryManager)
CIDUT_TYPECHECK_DECLS(cid2d_trackingResult)
CIDUT_TYPECHECK_DECLS(cidut_teethResults)
CIDUT_TYPECHECK_DECLS(cidut_binarizeParams)
CIDUT_TYPECHECK_DECLS(cid2d_ReedSolomonCode)

IDUT_EXTERN_C_END

#endif
