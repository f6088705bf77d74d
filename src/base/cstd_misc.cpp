// Plain typed vectors (bytes, 32-bit words) and integer rectangles.
#include <algorithm>
#include <functional>

#include "base/cstd.h"

#define CSTD_PLAIN_VECTOR_DEFS(V, E)                                                          \
  csys_status V##_construct(V* v, uint32_t n) {                                               \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__constructWithVtable(&v->base, n, sizeof(E), nullptr);                 \
  }                                                                                           \
  csys_status V##_constructEmpty(V* v) { return V##_construct(v, 0); }                        \
  csys_status V##_destruct(V* v) {                                                            \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__destruct(&v->base);                                                   \
  }                                                                                           \
  csys_status V##_resize(V* v, uint32_t n) {                                                  \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__resize(&v->base, n);                                                  \
  }                                                                                           \
  csys_status V##_reserve(V* v, uint32_t n) {                                                 \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__reserve(&v->base, n);                                                 \
  }                                                                                           \
  csys_status V##_pushBack(V* v, E value) {                                                   \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__pushBack(&v->base, &value);                                           \
  }                                                                                           \
  csys_status V##_clear(V* v) {                                                               \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__clear(&v->base);                                                      \
  }                                                                                           \
  csys_status V##_getBeginSize32(V* v, E** begin, uint32_t* size) {                           \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__getBeginSize32(&v->base, reinterpret_cast<void**>(begin), size);      \
  }                                                                                           \
  csys_status V##_getBeginSize32Const(const V* v, const E** begin, uint32_t* size) {          \
    CSYS_REQUIRE(v != nullptr);                                                               \
    return cstd_vector__getBeginSize32Const(&v->base, reinterpret_cast<const void**>(begin), size); \
  }

extern "C" {

CSTD_PLAIN_VECTOR_DEFS(cstd_vector8, uint8_t)
CSTD_PLAIN_VECTOR_DEFS(cstd_vector32, uint32_t)
CSTD_PLAIN_VECTOR_DEFS(cstd_vector32s, int32_t)

csys_status cstd_vector32s_sort(cstd_vector32s* v, int ascending) {
  CSYS_REQUIRE(v != nullptr);
  auto* first = static_cast<int32_t*>(v->base.begin);
  if (first == nullptr) return 0;
  if (ascending)
    std::sort(first, first + v->base.size);
  else
    std::sort(first, first + v->base.size, std::greater<int32_t>());
  return 0;
}

csys_status cstd_rect32_init(cstd_rect32* r, int32_t x, int32_t y, int32_t width, int32_t height) {
  CSYS_REQUIRE(r != nullptr);
  *r = cstd_rect32{x, y, width, height};
  return 0;
}

int cstd_rect32_isEmpty(const cstd_rect32* r) { return r == nullptr || r->width <= 0 || r->height <= 0; }

int cstd_rect32_containsPoint(const cstd_rect32* r, int32_t x, int32_t y) {
  if (cstd_rect32_isEmpty(r)) return 0;
  return int64_t{x} >= r->x && int64_t{x} < int64_t{r->x} + r->width && int64_t{y} >= r->y &&
         int64_t{y} < int64_t{r->y} + r->height;
}

int cstd_rect32_containsRect(const cstd_rect32* outer, const cstd_rect32* inner) {
  if (cstd_rect32_isEmpty(outer) || cstd_rect32_isEmpty(inner)) return 0;
  return inner->x >= outer->x && inner->y >= outer->y &&
         int64_t{inner->x} + inner->width <= int64_t{outer->x} + outer->width &&
         int64_t{inner->y} + inner->height <= int64_t{outer->y} + outer->height;
}

csys_status cstd_rect32_intersect(const cstd_rect32* a, const cstd_rect32* b, cstd_rect32* result) {
  CSYS_REQUIRE(a != nullptr && b != nullptr && result != nullptr);
  const int64_t x0 = std::max<int64_t>(a->x, b->x), y0 = std::max<int64_t>(a->y, b->y);
  const int64_t x1 = std::min<int64_t>(int64_t{a->x} + a->width, int64_t{b->x} + b->width);
  const int64_t y1 = std::min<int64_t>(int64_t{a->y} + a->height, int64_t{b->y} + b->height);
  if (cstd_rect32_isEmpty(a) || cstd_rect32_isEmpty(b) || x1 <= x0 || y1 <= y0) {
    *result = cstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), 0, 0};
    return 0;
  }
  *result = cstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                        static_cast<int32_t>(y1 - y0)};
  return 0;
}

}  // extern "C"
