/* In-place ascending sorts of plain number arrays. Each sorts the half-open range
 * [begin, end) and returns 0; a null begin or end, or fewer than two elements, changes nothing.
 * Comparisons use the element's own signedness (csys_uint8_qsort and csys_uint32_qsort put
 * values with the top bit set last). Quicksort with the last element as pivot; not stable. */
#ifndef IDUT_CI_ID_SORT_H
#define IDUT_CI_ID_SORT_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

IDUT_API csys_status csys_double_qsort(double* begin, double* end);
IDUT_API csys_status csys_float_qsort(float* begin, float* end);
IDUT_API csys_status csys_int8_qsort(int8_t* begin, int8_t* end);
IDUT_API csys_status csys_uint8_qsort(uint8_t* begin, uint8_t* end);
IDUT_API csys_status csys_int32_qsort(int32_t* begin, int32_t* end);
IDUT_API csys_status csys_uint32_qsort(uint32_t* begin, uint32_t* end);

IDUT_EXTERN_C_END

#ifdef __cplusplus
/* The same sort as a template; instantiated and exported for long, int32_t and double. */
template <class T>
IDUT_API void csys_vector_qsort(T* begin, T* end);
#endif

#endif
