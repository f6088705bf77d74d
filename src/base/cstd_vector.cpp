// The generic vector. Elements are relocated by bytes when the block grows: every element
// type of this library is a plain C record (pointers to its own members are never stored).
#include <algorithm>
#include <cstring>

#include "base/cstd.h"

namespace {

constexpr uint32_t kMaxElements = 0x7FFFFFFFu;

char* at(const cstd_vector* v, uint32_t i) {
  return static_cast<char*>(v->begin) + static_cast<size_t>(i) * v->elementSize;
}

uint32_t indexOf(const cstd_vector* v, const void* p) {
  return static_cast<uint32_t>((static_cast<const char*>(p) - static_cast<const char*>(v->begin)) /
                               v->elementSize);
}

void destroyRange(const cstd_vector* v, uint32_t first, uint32_t last) {
  if (!v->vtable || !v->vtable->destruct) return;
  for (uint32_t i = first; i < last; ++i) v->vtable->destruct(at(v, i));
}

// Constructs [first, last) by default, by copy of one element (fill != null) or from a source
// range (source != null). On failure destroys what it made and returns the status.
csys_status constructRange(const cstd_vector* v, uint32_t first, uint32_t last, const void* fill,
                           const char* source) {
  const cstd_vector_vtable* t = v->vtable;
  for (uint32_t i = first; i < last; ++i) {
    char* e = at(v, i);
    const void* from = source ? source + static_cast<size_t>(i - first) * v->elementSize : fill;
    csys_status st = 0;
    if (from) {
      if (t && t->constructCopy)
        st = t->constructCopy(e, from);
      else
        std::memcpy(e, from, v->elementSize);
    } else {
      if (t && t->construct)
        st = t->construct(e);
      else
        std::memset(e, 0, v->elementSize);
    }
    if (CSYS_FAILED(st)) {
      destroyRange(v, first, i);
      return st;
    }
  }
  return 0;
}

csys_status reallocate(cstd_vector* v, uint32_t capacity) {
  void* block = nullptr;
  if (capacity > 0) {
    csys_status st = csys_memory_alloc_internal(static_cast<size_t>(capacity) * v->elementSize, &block);
    if (CSYS_FAILED(st)) return st;
    if (v->size) std::memcpy(block, v->begin, static_cast<size_t>(v->size) * v->elementSize);
  }
  csys_memory_free_internal(&v->begin);
  v->begin = block;
  v->capacity = capacity;
  return 0;
}

// Makes room for at least `needed` elements, growing geometrically.
csys_status ensureCapacity(cstd_vector* v, uint32_t needed) {
  if (needed <= v->capacity) return 0;
  if (needed > kMaxElements) return csys_errNoMemory;
  uint64_t grown = std::max<uint64_t>(needed, static_cast<uint64_t>(v->capacity) * 3 / 2 + 4);
  return reallocate(v, static_cast<uint32_t>(std::min<uint64_t>(grown, kMaxElements)));
}

csys_status initEmpty(cstd_vector* v, uint32_t elementSize, const cstd_vector_vtable* table,
                      const void* mtable) {
  CSYS_REQUIRE(v != nullptr && elementSize > 0);
  *v = cstd_vector{nullptr, 0, 0, elementSize, table, mtable};
  return 0;
}

// Grows v to n elements made as constructRange makes them; shrinks by destroying the tail.
csys_status resizeWith(cstd_vector* v, uint32_t n, const void* fill, bool construct) {
  CSYS_REQUIRE(v != nullptr);
  if (n <= v->size) {
    destroyRange(v, n, v->size);
    v->size = n;
    return 0;
  }
  csys_status st = ensureCapacity(v, n);
  if (CSYS_FAILED(st)) return st;
  if (construct) {
    st = constructRange(v, v->size, n, fill, nullptr);
    if (CSYS_FAILED(st)) return st;
  }
  v->size = n;
  return 0;
}

csys_status constructSized(cstd_vector* v, uint32_t n, uint32_t elementSize, const cstd_vector_vtable* table,
                           const void* mtable, const void* fill, bool construct) {
  csys_status st = initEmpty(v, elementSize, table, mtable);
  if (CSYS_FAILED(st)) return st;
  st = resizeWith(v, n, fill, construct);
  if (CSYS_FAILED(st)) {
    csys_memory_free_internal(&v->begin);
    v->capacity = 0;
  }
  return st;
}

// Inserts count elements copied from source (or copies of one fill element) before index.
csys_status insertAt(cstd_vector* v, uint32_t index, uint32_t count, const void* fill, const char* source) {
  if (count == 0) return 0;
  if (count > kMaxElements - v->size) return csys_errNoMemory;
  csys_status st = ensureCapacity(v, v->size + count);
  if (CSYS_FAILED(st)) return st;
  const uint32_t tail = v->size - index;
  std::memmove(at(v, index + count), at(v, index), static_cast<size_t>(tail) * v->elementSize);
  st = constructRange(v, index, index + count, fill, source);
  if (CSYS_FAILED(st)) {
    std::memmove(at(v, index), at(v, index + count), static_cast<size_t>(tail) * v->elementSize);
    return st;
  }
  v->size += count;
  return 0;
}

bool validRange(const cstd_vector* v, const void* first, const void* last) {
  return first <= last && ((static_cast<const char*>(last) - static_cast<const char*>(first)) % v->elementSize) == 0;
}

}  // namespace

extern "C" {

csys_status cstd_vector__constructWithVtable(cstd_vector* v, uint32_t n, uint32_t elementSize,
                                             const cstd_vector_vtable* table) {
  return constructSized(v, n, elementSize, table, nullptr, nullptr, true);
}

csys_status cstd_vector__constructWithVtableWithMtable(cstd_vector* v, uint32_t n, uint32_t elementSize,
                                                       const cstd_vector_vtable* table, const void* mtable) {
  return constructSized(v, n, elementSize, table, mtable, nullptr, true);
}

csys_status cstd_vector__constructWithVtableUninit(cstd_vector* v, uint32_t n, uint32_t elementSize,
                                                   const cstd_vector_vtable* table) {
  return constructSized(v, n, elementSize, table, nullptr, nullptr, false);
}

csys_status cstd_vector__constructFillWithVtable(cstd_vector* v, uint32_t n, uint32_t elementSize,
                                                 const void* element, const cstd_vector_vtable* table) {
  CSYS_REQUIRE(element != nullptr);
  return constructSized(v, n, elementSize, table, nullptr, element, true);
}

csys_status cstd_vector__constructFromBlockWithVtable(cstd_vector* v, uint32_t elementSize, const void* first,
                                                      const void* last, const cstd_vector_vtable* table) {
  csys_status st = initEmpty(v, elementSize, table, nullptr);
  if (CSYS_FAILED(st)) return st;
  CSYS_REQUIRE(validRange(v, first, last));
  const auto count = static_cast<uint32_t>((static_cast<const char*>(last) - static_cast<const char*>(first)) /
                                           elementSize);
  st = insertAt(v, 0, count, nullptr, static_cast<const char*>(first));
  if (CSYS_FAILED(st)) {
    csys_memory_free_internal(&v->begin);
    v->capacity = 0;
  }
  return st;
}

csys_status cstd_vector__constructCopy(cstd_vector* v, const cstd_vector* source) {
  CSYS_REQUIRE(v != nullptr && source != nullptr && v != source);
  csys_status st = initEmpty(v, source->elementSize, source->vtable, source->mtable);
  if (CSYS_FAILED(st)) return st;
  st = insertAt(v, 0, source->size, nullptr, static_cast<const char*>(source->begin));
  if (CSYS_FAILED(st)) {
    csys_memory_free_internal(&v->begin);
    v->capacity = 0;
  }
  return st;
}

csys_status cstd_vector__assign(cstd_vector* v, const cstd_vector* source) {
  CSYS_REQUIRE(v != nullptr && source != nullptr);
  if (v == source) return 0;
  CSYS_REQUIRE(v->elementSize == source->elementSize);
  // Copy into a fresh vector first so a failure leaves v as it was.
  cstd_vector copy;
  csys_status st = cstd_vector__constructCopy(&copy, source);
  if (CSYS_FAILED(st)) return st;
  cstd_vector__swap(v, &copy);
  return cstd_vector__destruct(&copy);
}

csys_status cstd_vector__assignElements(cstd_vector* v, const void* first, const void* last) {
  CSYS_REQUIRE(v != nullptr && validRange(v, first, last));
  cstd_vector copy;
  csys_status st = cstd_vector__constructFromBlockWithVtable(&copy, v->elementSize, first, last, v->vtable);
  if (CSYS_FAILED(st)) return st;
  copy.mtable = v->mtable;
  cstd_vector__swap(v, &copy);
  return cstd_vector__destruct(&copy);
}

csys_status cstd_vector__destruct(cstd_vector* v) {
  CSYS_REQUIRE(v != nullptr);
  destroyRange(v, 0, v->size);
  v->size = 0;
  v->capacity = 0;
  return csys_memory_free_internal(&v->begin);
}

csys_status cstd_vector__resize(cstd_vector* v, uint32_t n) { return resizeWith(v, n, nullptr, true); }

csys_status cstd_vector__resizeUninit(cstd_vector* v, uint32_t n) { return resizeWith(v, n, nullptr, false); }

csys_status cstd_vector__resizeFill(cstd_vector* v, uint32_t n, const void* element) {
  CSYS_REQUIRE(element != nullptr);
  return resizeWith(v, n, element, true);
}

csys_status cstd_vector__reserve(cstd_vector* v, uint32_t n) {
  CSYS_REQUIRE(v != nullptr);
  if (n <= v->capacity) return 0;
  if (n > kMaxElements) return csys_errNoMemory;
  return reallocate(v, n);
}

csys_status cstd_vector__getSize32(const cstd_vector* v, uint32_t* size) {
  CSYS_REQUIRE(v != nullptr && size != nullptr);
  *size = v->size;
  return 0;
}

csys_status cstd_vector__getCapacity(const cstd_vector* v, uint32_t* capacity) {
  CSYS_REQUIRE(v != nullptr && capacity != nullptr);
  *capacity = v->capacity;
  return 0;
}

csys_status cstd_vector__getElementSize(const cstd_vector* v, uint32_t* elementSize) {
  CSYS_REQUIRE(v != nullptr && elementSize != nullptr);
  *elementSize = v->elementSize;
  return 0;
}

csys_status cstd_vector__getBeginEnd(cstd_vector* v, void** begin, void** end) {
  CSYS_REQUIRE(v != nullptr);
  if (begin) *begin = v->begin;
  if (end) *end = v->begin ? at(v, v->size) : nullptr;
  return 0;
}

csys_status cstd_vector__getBeginEndConst(const cstd_vector* v, const void** begin, const void** end) {
  CSYS_REQUIRE(v != nullptr);
  if (begin) *begin = v->begin;
  if (end) *end = v->begin ? at(v, v->size) : nullptr;
  return 0;
}

csys_status cstd_vector__getBeginSize32(cstd_vector* v, void** begin, uint32_t* size) {
  CSYS_REQUIRE(v != nullptr);
  if (begin) *begin = v->begin;
  if (size) *size = v->size;
  return 0;
}

csys_status cstd_vector__getBeginSize32Const(const cstd_vector* v, const void** begin, uint32_t* size) {
  CSYS_REQUIRE(v != nullptr);
  if (begin) *begin = v->begin;
  if (size) *size = v->size;
  return 0;
}

csys_status cstd_vector__getElement(cstd_vector* v, uint32_t index, void** element) {
  CSYS_REQUIRE(v != nullptr && element != nullptr);
  if (index >= v->size) return csys_errOutOfRange;
  *element = at(v, index);
  return 0;
}

csys_status cstd_vector__getElementConst(const cstd_vector* v, uint32_t index, const void** element) {
  CSYS_REQUIRE(v != nullptr && element != nullptr);
  if (index >= v->size) return csys_errOutOfRange;
  *element = at(v, index);
  return 0;
}

csys_status cstd_vector__insert(cstd_vector* v, void* position, const void* first, const void* last) {
  CSYS_REQUIRE(v != nullptr && validRange(v, first, last));
  const uint32_t index = position ? indexOf(v, position) : v->size;
  CSYS_REQUIRE(index <= v->size);
  const auto count = static_cast<uint32_t>((static_cast<const char*>(last) - static_cast<const char*>(first)) /
                                           v->elementSize);
  return insertAt(v, index, count, nullptr, static_cast<const char*>(first));
}

csys_status cstd_vector__insertElement(cstd_vector* v, void* position, const void* element) {
  CSYS_REQUIRE(v != nullptr && element != nullptr);
  const uint32_t index = position ? indexOf(v, position) : v->size;
  CSYS_REQUIRE(index <= v->size);
  return insertAt(v, index, 1, element, nullptr);
}

csys_status cstd_vector__erase(cstd_vector* v, void* first, void* last) {
  CSYS_REQUIRE(v != nullptr && validRange(v, first, last));
  if (first == last) return 0;
  const uint32_t i = indexOf(v, first), j = indexOf(v, last);
  CSYS_REQUIRE(v->begin != nullptr && j <= v->size);
  destroyRange(v, i, j);
  std::memmove(at(v, i), at(v, j), static_cast<size_t>(v->size - j) * v->elementSize);
  v->size -= j - i;
  return 0;
}

csys_status cstd_vector__eraseElement(cstd_vector* v, void* element) {
  CSYS_REQUIRE(v != nullptr && element != nullptr);
  return cstd_vector__erase(v, element, static_cast<char*>(element) + v->elementSize);
}

csys_status cstd_vector__pushBack(cstd_vector* v, const void* element) {
  CSYS_REQUIRE(v != nullptr && element != nullptr);
  // The element may live inside v: copy it aside before the block can move.
  if (v->begin && element >= v->begin && element < static_cast<const void*>(at(v, v->size))) {
    const uint32_t index = indexOf(v, element);
    csys_status st = ensureCapacity(v, v->size + 1);
    if (CSYS_FAILED(st)) return st;
    element = at(v, index);
  }
  return insertAt(v, v->size, 1, element, nullptr);
}

csys_status cstd_vector__popBack(cstd_vector* v) {
  CSYS_REQUIRE(v != nullptr && v->size > 0);
  destroyRange(v, v->size - 1, v->size);
  --v->size;
  return 0;
}

csys_status cstd_vector__clear(cstd_vector* v) {
  CSYS_REQUIRE(v != nullptr);
  destroyRange(v, 0, v->size);
  v->size = 0;
  return 0;
}

csys_status cstd_vector__clearAndFreeMemory(cstd_vector* v) {
  CSYS_REQUIRE(v != nullptr);
  destroyRange(v, 0, v->size);
  v->size = 0;
  v->capacity = 0;
  return csys_memory_free_internal(&v->begin);
}

csys_status cstd_vector__append(cstd_vector* v, const cstd_vector* other) {
  CSYS_REQUIRE(v != nullptr && other != nullptr);
  if (v->elementSize != other->elementSize || v->vtable != other->vtable) return csys_errVectorMismatch;
  const uint32_t count = other->size;
  if (count == 0) return 0;
  csys_status st = ensureCapacity(v, v->size + count);  // other may be v: grow before reading it
  if (CSYS_FAILED(st)) return st;
  return insertAt(v, v->size, count, nullptr, static_cast<const char*>(other->begin));
}

csys_status cstd_vector__swap(cstd_vector* v, cstd_vector* other) {
  CSYS_REQUIRE(v != nullptr && other != nullptr);
  std::swap(*v, *other);
  return 0;
}

}  // extern "C"
