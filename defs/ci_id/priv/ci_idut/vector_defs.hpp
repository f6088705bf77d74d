// Definitions of a typed vector family: every operation forwards to the generic vector, the
// constructors adding the element size and the family's element-operation table.
#ifndef IDUT_PRIV_VECTOR_DEFS_HPP
#define IDUT_PRIV_VECTOR_DEFS_HPP

#include "ci_id/vector.h"

// The generic vector's begin/end/element results arrive as void pointers.
#define CIDUT_VP(p) reinterpret_cast<void**>(p)
#define CIDUT_CVP(p) reinterpret_cast<const void**>(p)

#define CSTD_TYPED_VECTOR_DEFS(T, E, TABLE)                                                                 \
  csys_status cstd_vector_##T##_construct(cstd_vector_##T* v, uint32_t n) {                                 \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__constructWithVtable(&v->base, n, sizeof(E), TABLE);                                 \
  }                                                                                                         \
  csys_status cstd_vector_##T##_constructWithMtable(cstd_vector_##T* v, uint32_t n, const void* m) {        \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__constructWithVtableWithMtable(&v->base, n, sizeof(E), TABLE, m);                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_constructEmpty(cstd_vector_##T* v) {                                        \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__constructWithVtable(&v->base, 0, sizeof(E), TABLE);                                 \
  }                                                                                                         \
  csys_status cstd_vector_##T##_constructEmptyWithMtable(cstd_vector_##T* v, const void* m) {               \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__constructWithVtableWithMtable(&v->base, 0, sizeof(E), TABLE, m);                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_constructUninit(cstd_vector_##T* v, uint32_t n) {                           \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__constructWithVtableUninit(&v->base, n, sizeof(E), TABLE);                           \
  }                                                                                                         \
  csys_status cstd_vector_##T##_constructFill(cstd_vector_##T* v, uint32_t n, const E* e) {                 \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__constructFillWithVtable(&v->base, n, sizeof(E), e, TABLE);                          \
  }                                                                                                         \
  csys_status cstd_vector_##T##_constructFromBlock(cstd_vector_##T* v, const E* first, const E* last) {     \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__constructFromBlockWithVtable(&v->base, sizeof(E), first, last, TABLE);              \
  }                                                                                                         \
  csys_status cstd_vector_##T##_constructCopy(cstd_vector_##T* v, const cstd_vector_##T* source) {          \
    CSYS_REQUIRE(v != nullptr && source != nullptr);                                                        \
    return cstd_vector__constructCopy(&v->base, &source->base);                                             \
  }                                                                                                         \
  csys_status cstd_vector_##T##_assign(cstd_vector_##T* v, const cstd_vector_##T* source) {                 \
    CSYS_REQUIRE(v != nullptr && source != nullptr);                                                        \
    return cstd_vector__assign(&v->base, &source->base);                                                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_assignElements(cstd_vector_##T* v, const E* first, const E* last) {         \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__assignElements(&v->base, first, last);                                              \
  }                                                                                                         \
  csys_status cstd_vector_##T##_destruct(cstd_vector_##T* v) {                                              \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__destruct(&v->base);                                                                 \
  }                                                                                                         \
  csys_status cstd_vector_##T##_resize(cstd_vector_##T* v, uint32_t n) {                                    \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__resize(&v->base, n);                                                                \
  }                                                                                                         \
  csys_status cstd_vector_##T##_resizeUninit(cstd_vector_##T* v, uint32_t n) {                              \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__resizeUninit(&v->base, n);                                                          \
  }                                                                                                         \
  csys_status cstd_vector_##T##_resizeFill(cstd_vector_##T* v, uint32_t n, const E* e) {                    \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__resizeFill(&v->base, n, e);                                                         \
  }                                                                                                         \
  csys_status cstd_vector_##T##_reserve(cstd_vector_##T* v, uint32_t n) {                                   \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__reserve(&v->base, n);                                                               \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getSize(const cstd_vector_##T* v, uint32_t* size) {                         \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getSize32(&v->base, size);                                                          \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getSize32(const cstd_vector_##T* v, uint32_t* size) {                       \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getSize32(&v->base, size);                                                          \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getCapacity(const cstd_vector_##T* v, uint32_t* capacity) {                 \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getCapacity(&v->base, capacity);                                                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getElementSize(const cstd_vector_##T* v, uint32_t* size) {                  \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getElementSize(&v->base, size);                                                     \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBeginEnd(cstd_vector_##T* v, E** begin, E** end) {                      \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginEnd(&v->base, CIDUT_VP(begin), CIDUT_VP(end));                              \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBeginEndConst(const cstd_vector_##T* v, const E** begin, const E** end) { \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginEndConst(&v->base, CIDUT_CVP(begin), CIDUT_CVP(end));                       \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBegin(cstd_vector_##T* v, E** begin) {                                   \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginEnd(&v->base, CIDUT_VP(begin), nullptr);                                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBeginConst(const cstd_vector_##T* v, const E** begin) {                  \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginEndConst(&v->base, CIDUT_CVP(begin), nullptr);                              \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBeginSize(cstd_vector_##T* v, E** begin, uint32_t* size) {               \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginSize32(&v->base, CIDUT_VP(begin), size);                                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBeginSize32(cstd_vector_##T* v, E** begin, uint32_t* size) {             \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginSize32(&v->base, CIDUT_VP(begin), size);                                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBeginSizeConst(const cstd_vector_##T* v, const E** begin, uint32_t* size) { \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginSize32Const(&v->base, CIDUT_CVP(begin), size);                              \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getBeginSize32Const(const cstd_vector_##T* v, const E** begin,              \
                                                    uint32_t* size) {                                       \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getBeginSize32Const(&v->base, CIDUT_CVP(begin), size);                              \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getElement(cstd_vector_##T* v, uint32_t index, E** e) {                     \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getElement(&v->base, index, CIDUT_VP(e));                                           \
  }                                                                                                         \
  csys_status cstd_vector_##T##_getElementConst(const cstd_vector_##T* v, uint32_t index, const E** e) {    \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__getElementConst(&v->base, index, CIDUT_CVP(e));                                     \
  }                                                                                                         \
  csys_status cstd_vector_##T##_insert(cstd_vector_##T* v, E* position, const E* first, const E* last) {    \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__insert(&v->base, position, first, last);                                            \
  }                                                                                                         \
  csys_status cstd_vector_##T##_insertElement(cstd_vector_##T* v, E* position, const E* e) {                \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__insertElement(&v->base, position, e);                                               \
  }                                                                                                         \
  csys_status cstd_vector_##T##_erase(cstd_vector_##T* v, E* first, E* last) {                              \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__erase(&v->base, first, last);                                                       \
  }                                                                                                         \
  csys_status cstd_vector_##T##_eraseElement(cstd_vector_##T* v, E* e) {                                    \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__eraseElement(&v->base, e);                                                          \
  }                                                                                                         \
  csys_status cstd_vector_##T##_pushBack(cstd_vector_##T* v, const E* e) {                                  \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__pushBack(&v->base, e);                                                              \
  }                                                                                                         \
  csys_status cstd_vector_##T##_popBack(cstd_vector_##T* v) {                                               \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__popBack(&v->base);                                                                  \
  }                                                                                                         \
  csys_status cstd_vector_##T##_clear(cstd_vector_##T* v) {                                                 \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__clear(&v->base);                                                                    \
  }                                                                                                         \
  csys_status cstd_vector_##T##_clearAndFreeMemory(cstd_vector_##T* v) {                                    \
    CSYS_REQUIRE(v != nullptr);                                                                             \
    return cstd_vector__clearAndFreeMemory(&v->base);                                                       \
  }                                                                                                         \
  csys_status cstd_vector_##T##_append(cstd_vector_##T* v, const cstd_vector_##T* other) {                  \
    CSYS_REQUIRE(v != nullptr && other != nullptr);                                                         \
    return cstd_vector__append(&v->base, &other->base);                                                     \
  }                                                                                                         \
  csys_status cstd_vector_##T##_swap(cstd_vector_##T* v, cstd_vector_##T* other) {                          \
    CSYS_REQUIRE(v != nullptr && other != nullptr);                                                         \
    return cstd_vector__swap(&v->base, &other->base);                                                       \
  }

// Element-operation table slots for a family whose elements are themselves typed vectors (or
// any record with construct/constructCopy/assign/destruct functions): adapts the typed
// functions to the table's untyped slots.
#define CSTD_ELEMENT_TABLE(NAME, E, CONSTRUCT, COPY, ASSIGN, DESTRUCT)                                      \
  namespace {                                                                                               \
  csys_status NAME##_construct(void* e) { return CONSTRUCT(static_cast<E*>(e)); }                           \
  csys_status NAME##_constructCopy(void* d, const void* s) {                                                \
    return COPY(static_cast<E*>(d), static_cast<const E*>(s));                                              \
  }                                                                                                         \
  csys_status NAME##_assign(void* d, const void* s) { return ASSIGN(static_cast<E*>(d), static_cast<const E*>(s)); } \
  csys_status NAME##_destruct(void* e) { return DESTRUCT(static_cast<E*>(e)); }                             \
  const cstd_vector_vtable NAME = {NAME##_construct, NAME##_constructCopy, NAME##_assign, NAME##_destruct,  \
                                   0xFFFFFFFFu};                                                            \
  }

#endif
