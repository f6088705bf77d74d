/* Typed vector families. Each cstd_vector_<T> is the generic vector (base/cstd.h) with the
 * element size and element-operation table of T fixed at construction; every operation
 * forwards to the generic one. Counts are 32-bit (getSize and getSize32 are the same).
 *
 * A family is declared in its element's header with CSTD_TYPED_VECTOR_DECLS(T, E) and defined
 * in its element's source with CSTD_TYPED_VECTOR_DEFS(T, E, table) (table may be null: plain
 * bytes). The vector record's type name is cstd_vector_T. */
#ifndef IDUT_CI_ID_VECTOR_H
#define IDUT_CI_ID_VECTOR_H

#include "base/cstd.h"

IDUT_EXTERN_C_BEGIN

#define CSTD_TYPED_VECTOR_DECLS(T, E)                                                                     \
  typedef struct cstd_vector_##T {                                                                        \
    cstd_vector base;                                                                                     \
  } cstd_vector_##T;                                                                                      \
  IDUT_API csys_status cstd_vector_##T##_construct(cstd_vector_##T* v, uint32_t n);                       \
  IDUT_API csys_status cstd_vector_##T##_constructWithMtable(cstd_vector_##T* v, uint32_t n, const void* m); \
  IDUT_API csys_status cstd_vector_##T##_constructEmpty(cstd_vector_##T* v);                              \
  IDUT_API csys_status cstd_vector_##T##_constructEmptyWithMtable(cstd_vector_##T* v, const void* m);     \
  IDUT_API csys_status cstd_vector_##T##_constructUninit(cstd_vector_##T* v, uint32_t n);                 \
  IDUT_API csys_status cstd_vector_##T##_constructFill(cstd_vector_##T* v, uint32_t n, const E* e);       \
  IDUT_API csys_status cstd_vector_##T##_constructFromBlock(cstd_vector_##T* v, const E* first, const E* last); \
  IDUT_API csys_status cstd_vector_##T##_constructCopy(cstd_vector_##T* v, const cstd_vector_##T* source); \
  IDUT_API csys_status cstd_vector_##T##_assign(cstd_vector_##T* v, const cstd_vector_##T* source);       \
  IDUT_API csys_status cstd_vector_##T##_assignElements(cstd_vector_##T* v, const E* first, const E* last); \
  IDUT_API csys_status cstd_vector_##T##_destruct(cstd_vector_##T* v);                                    \
  IDUT_API csys_status cstd_vector_##T##_resize(cstd_vector_##T* v, uint32_t n);                          \
  IDUT_API csys_status cstd_vector_##T##_resizeUninit(cstd_vector_##T* v, uint32_t n);                    \
  IDUT_API csys_status cstd_vector_##T##_resizeFill(cstd_vector_##T* v, uint32_t n, const E* e);          \
  IDUT_API csys_status cstd_vector_##T##_reserve(cstd_vector_##T* v, uint32_t n);                         \
  IDUT_API csys_status cstd_vector_##T##_getSize(const cstd_vector_##T* v, uint32_t* size);               \
  IDUT_API csys_status cstd_vector_##T##_getSize32(const cstd_vector_##T* v, uint32_t* size);             \
  IDUT_API csys_status cstd_vector_##T##_getCapacity(const cstd_vector_##T* v, uint32_t* capacity);       \
  IDUT_API csys_status cstd_vector_##T##_getElementSize(const cstd_vector_##T* v, uint32_t* size);        \
  IDUT_API csys_status cstd_vector_##T##_getBeginEnd(cstd_vector_##T* v, E** begin, E** end);             \
  IDUT_API csys_status cstd_vector_##T##_getBeginEndConst(const cstd_vector_##T* v, const E** begin,      \
                                                          const E** end);                                 \
  IDUT_API csys_status cstd_vector_##T##_getBegin(cstd_vector_##T* v, E** begin);                         \
  IDUT_API csys_status cstd_vector_##T##_getBeginConst(const cstd_vector_##T* v, const E** begin);        \
  IDUT_API csys_status cstd_vector_##T##_getBeginSize(cstd_vector_##T* v, E** begin, uint32_t* size);     \
  IDUT_API csys_status cstd_vector_##T##_getBeginSize32(cstd_vector_##T* v, E** begin, uint32_t* size);   \
  IDUT_API csys_status cstd_vector_##T##_getBeginSizeConst(const cstd_vector_##T* v, const E** begin,     \
                                                           uint32_t* size);                               \
  IDUT_API csys_status cstd_vector_##T##_getBeginSize32Const(const cstd_vector_##T* v, const E** begin,   \
                                                             uint32_t* size);                             \
  IDUT_API csys_status cstd_vector_##T##_getElement(cstd_vector_##T* v, uint32_t index, E** e);           \
  IDUT_API csys_status cstd_vector_##T##_getElementConst(const cstd_vector_##T* v, uint32_t index,        \
                                                         const E** e);                                    \
  IDUT_API csys_status cstd_vector_##T##_insert(cstd_vector_##T* v, E* position, const E* first,          \
                                                const E* last);                                           \
  IDUT_API csys_status cstd_vector_##T##_insertElement(cstd_vector_##T* v, E* position, const E* e);      \
  IDUT_API csys_status cstd_vector_##T##_erase(cstd_vector_##T* v, E* first, E* last);                    \
  IDUT_API csys_status cstd_vector_##T##_eraseElement(cstd_vector_##T* v, E* e);                          \
  IDUT_API csys_status cstd_vector_##T##_pushBack(cstd_vector_##T* v, const E* e);                        \
  IDUT_API csys_status cstd_vector_##T##_popBack(cstd_vector_##T* v);                                     \
  IDUT_API csys_status cstd_vector_##T##_clear(cstd_vector_##T* v);                                       \
  IDUT_API csys_status cstd_vector_##T##_clearAndFreeMemory(cstd_vector_##T* v);                          \
  IDUT_API csys_status cstd_vector_##T##_append(cstd_vector_##T* v, const cstd_vector_##T* other);        \
  IDUT_API csys_status cstd_vector_##T##_swap(cstd_vector_##T* v, cstd_vector_##T* other);

IDUT_EXTERN_C_END

#endif
