/* Containers: the generic growable vector with its element-operation table, the plain
 * typed vectors of bytes and 32-bit words, and integer rectangles.
 *
 * Generic vector. A cstd_vector holds `size` elements of `elementSize` bytes in one block from
 * csys_memory. Its element-operation table (may be null: plain bytes) says how elements are
 * made, copied, assigned and destroyed; a null slot means plain bytes for that operation.
 * Counts are 32-bit. "Block arguments" are a half-open range [first, last) of element
 * pointers; "position" is an element pointer inside [begin, end].
 * Guarantees: an operation that fails (csys_errNoMemory, or a failing element operation)
 * leaves the vector as it was, except that elements already constructed in the new tail are
 * destroyed again. */
#ifndef IDUT_CSTD_H
#define IDUT_CSTD_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

typedef struct cstd_vector_vtable {
  csys_status (*construct)(void* element);
  csys_status (*constructCopy)(void* destination, const void* source);
  csys_status (*assign)(void* destination, const void* source);
  csys_status (*destruct)(void* element);
  uint32_t endMarker; /* always 0xFFFFFFFF */
} cstd_vector_vtable;

typedef struct cstd_vector {
  void* begin;
  uint32_t size;
  uint32_t capacity;
  uint32_t elementSize;
  const cstd_vector_vtable* vtable;
  const void* mtable; /* handed through by the WithMtable constructors; unused by this layer */
} cstd_vector;

IDUT_API csys_status cstd_vector__constructWithVtable(cstd_vector* v, uint32_t n, uint32_t elementSize,
                                                      const cstd_vector_vtable* table);
IDUT_API csys_status cstd_vector__constructWithVtableWithMtable(cstd_vector* v, uint32_t n,
                                                                uint32_t elementSize,
                                                                const cstd_vector_vtable* table,
                                                                const void* mtable);
/* Like constructWithVtable but leaves the n elements' bytes unset (no element construct). */
IDUT_API csys_status cstd_vector__constructWithVtableUninit(cstd_vector* v, uint32_t n,
                                                            uint32_t elementSize,
                                                            const cstd_vector_vtable* table);
IDUT_API csys_status cstd_vector__constructFillWithVtable(cstd_vector* v, uint32_t n, uint32_t elementSize,
                                                          const void* element,
                                                          const cstd_vector_vtable* table);
IDUT_API csys_status cstd_vector__constructFromBlockWithVtable(cstd_vector* v, uint32_t elementSize,
                                                               const void* first, const void* last,
                                                               const cstd_vector_vtable* table);
IDUT_API csys_status cstd_vector__constructCopy(cstd_vector* v, const cstd_vector* source);
IDUT_API csys_status cstd_vector__assign(cstd_vector* v, const cstd_vector* source);
IDUT_API csys_status cstd_vector__assignElements(cstd_vector* v, const void* first, const void* last);
IDUT_API csys_status cstd_vector__destruct(cstd_vector* v);
IDUT_API csys_status cstd_vector__resize(cstd_vector* v, uint32_t n);
IDUT_API csys_status cstd_vector__resizeUninit(cstd_vector* v, uint32_t n);
IDUT_API csys_status cstd_vector__resizeFill(cstd_vector* v, uint32_t n, const void* element);
IDUT_API csys_status cstd_vector__reserve(cstd_vector* v, uint32_t n);
IDUT_API csys_status cstd_vector__getSize32(const cstd_vector* v, uint32_t* size);
IDUT_API csys_status cstd_vector__getCapacity(const cstd_vector* v, uint32_t* capacity);
IDUT_API csys_status cstd_vector__getElementSize(const cstd_vector* v, uint32_t* elementSize);
/* begin or end may be null when not wanted. */
IDUT_API csys_status cstd_vector__getBeginEnd(cstd_vector* v, void** begin, void** end);
IDUT_API csys_status cstd_vector__getBeginEndConst(const cstd_vector* v, const void** begin, const void** end);
IDUT_API csys_status cstd_vector__getBeginSize32(cstd_vector* v, void** begin, uint32_t* size);
IDUT_API csys_status cstd_vector__getBeginSize32Const(const cstd_vector* v, const void** begin, uint32_t* size);
/* Fails with csys_errOutOfRange when index >= size. */
IDUT_API csys_status cstd_vector__getElement(cstd_vector* v, uint32_t index, void** element);
IDUT_API csys_status cstd_vector__getElementConst(const cstd_vector* v, uint32_t index, const void** element);
/* Inserts copies of [first, last) before position. The source must not lie inside v. */
IDUT_API csys_status cstd_vector__insert(cstd_vector* v, void* position, const void* first, const void* last);
IDUT_API csys_status cstd_vector__insertElement(cstd_vector* v, void* position, const void* element);
IDUT_API csys_status cstd_vector__erase(cstd_vector* v, void* first, void* last);
IDUT_API csys_status cstd_vector__eraseElement(cstd_vector* v, void* element);
IDUT_API csys_status cstd_vector__pushBack(cstd_vector* v, const void* element);
IDUT_API csys_status cstd_vector__popBack(cstd_vector* v);
IDUT_API csys_status cstd_vector__clear(cstd_vector* v);
IDUT_API csys_status cstd_vector__clearAndFreeMemory(cstd_vector* v);
/* Appends copies of other's elements (other may be v itself). Element types must match. */
IDUT_API csys_status cstd_vector__append(cstd_vector* v, const cstd_vector* other);
IDUT_API csys_status cstd_vector__swap(cstd_vector* v, cstd_vector* other);

/* Plain typed vectors of unsigned bytes, unsigned and signed 32-bit words. */
typedef struct cstd_vector8 { cstd_vector base; } cstd_vector8;
typedef struct cstd_vector32 { cstd_vector base; } cstd_vector32;
typedef struct cstd_vector32s { cstd_vector base; } cstd_vector32s;

#define CSTD_PLAIN_VECTOR_DECLS(V, E)                                              \
  IDUT_API csys_status V##_construct(V* v, uint32_t n);                            \
  IDUT_API csys_status V##_constructEmpty(V* v);                                   \
  IDUT_API csys_status V##_destruct(V* v);                                         \
  IDUT_API csys_status V##_resize(V* v, uint32_t n);                               \
  IDUT_API csys_status V##_reserve(V* v, uint32_t n);                              \
  IDUT_API csys_status V##_pushBack(V* v, E value);                                \
  IDUT_API csys_status V##_clear(V* v);                                            \
  IDUT_API csys_status V##_getBeginSize32(V* v, E** begin, uint32_t* size);        \
  IDUT_API csys_status V##_getBeginSize32Const(const V* v, const E** begin, uint32_t* size);

CSTD_PLAIN_VECTOR_DECLS(cstd_vector8, uint8_t)
CSTD_PLAIN_VECTOR_DECLS(cstd_vector32, uint32_t)
CSTD_PLAIN_VECTOR_DECLS(cstd_vector32s, int32_t)

/* Sorts the elements in place: ascending when ascending is 1, descending when 0. */
IDUT_API csys_status cstd_vector32s_sort(cstd_vector32s* v, int ascending);

/* Integer rectangle: x, y of the first pixel, width and height (empty when either is <= 0). */
typedef struct cstd_rect32 {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
} cstd_rect32;

IDUT_API csys_status cstd_rect32_init(cstd_rect32* r, int32_t x, int32_t y, int32_t width, int32_t height);
IDUT_API int cstd_rect32_isEmpty(const cstd_rect32* r);
/* Nonzero when (x, y) lies in the rectangle. */
IDUT_API int cstd_rect32_containsPoint(const cstd_rect32* r, int32_t x, int32_t y);
/* Nonzero when inner is non-empty and lies wholly inside outer. */
IDUT_API int cstd_rect32_containsRect(const cstd_rect32* outer, const cstd_rect32* inner);
/* The overlap of a and b (empty rectangles give an empty result of size 0 x 0). */
IDUT_API csys_status cstd_rect32_intersect(const cstd_rect32* a, const cstd_rect32* b, cstd_rect32* result);

IDUT_EXTERN_C_END

#endif
