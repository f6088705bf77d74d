// Quicksort with the last element as pivot. The partition is the classic two-pointer scheme;
// recursion goes into the smaller side and the larger side is looped on, so sorted or
// all-equal input needs only logarithmic stack.
#include "ci_id/sort.h"

#include <cstddef>
#include <utility>

namespace {

template <class T>
void quicksort(T* a, ptrdiff_t n) {
  while (n >= 2) {
    const ptrdiff_t last = n - 1;
    const T pivot = a[last];
    ptrdiff_t i = -1, j = last;
    for (;;) {
      do ++i;
      while (i < last && a[i] < pivot);
      do --j;
      while (j > 0 && pivot < a[j]);
      if (i >= j) break;
      std::swap(a[i], a[j]);
    }
    std::swap(a[i], a[last]);
    const ptrdiff_t left = i, right = n - i - 1;
    if (left < right) {
      quicksort(a, left);
      a += i + 1;
      n = right;
    } else {
      quicksort(a + i + 1, right);
      n = left;
    }
  }
}

template <class T>
csys_status sortRange(T* begin, T* end) {
  if (begin == nullptr || end == nullptr || end - begin < 2) return 0;
  quicksort(begin, end - begin);
  return 0;
}

}  // namespace

extern "C" {
csys_status csys_double_qsort(double* begin, double* end) { return sortRange(begin, end); }
csys_status csys_float_qsort(float* begin, float* end) { return sortRange(begin, end); }
csys_status csys_int8_qsort(int8_t* begin, int8_t* end) { return sortRange(begin, end); }
csys_status csys_uint8_qsort(uint8_t* begin, uint8_t* end) { return sortRange(begin, end); }
csys_status csys_int32_qsort(int32_t* begin, int32_t* end) { return sortRange(begin, end); }
csys_status csys_uint32_qsort(uint32_t* begin, uint32_t* end) { return sortRange(begin, end); }
}

template <class T>
void csys_vector_qsort(T* begin, T* end) {
  sortRange(begin, end);
}

template IDUT_API void csys_vector_qsort<long>(long*, long*);
template IDUT_API void csys_vector_qsort<int32_t>(int32_t*, int32_t*);
template IDUT_API void csys_vector_qsort<double>(double*, double*);
