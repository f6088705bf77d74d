// The generic vector and the typed-family forwarding layer: element operations run for every
// element made, copied, assigned and destroyed; failures part-way leave nothing leaked; the
// typed families forward all operations unchanged.
#include <gtest/gtest.h>

#include <vector>

#include "base/cmath.h"
#include "ci_id/priv/ci_idut/vector_defs.hpp"
#include "support/assert_recorder.hpp"

// An element that owns memory, like a vector of vectors: every copy allocates.
typedef struct ownedItem {
  cstd_vector32 values;
} ownedItem;

static csys_status ownedItem_construct(ownedItem* e) { return cstd_vector32_construct(&e->values, 1); }
static csys_status ownedItem_constructCopy(ownedItem* d, const ownedItem* s) {
  return cstd_vector__constructCopy(&d->values.base, &s->values.base);
}
static csys_status ownedItem_assign(ownedItem* d, const ownedItem* s) {
  return cstd_vector__assign(&d->values.base, &s->values.base);
}
static csys_status ownedItem_destruct(ownedItem* e) { return cstd_vector32_destruct(&e->values); }

extern "C" {
CSTD_TYPED_VECTOR_DECLS(ownedItem, ownedItem)
CSTD_TYPED_VECTOR_DECLS(plainPoint, cmath_vect)
}
CSTD_ELEMENT_TABLE(kOwnedItemTable, ownedItem, ownedItem_construct, ownedItem_constructCopy, ownedItem_assign,
                   ownedItem_destruct)
extern "C" {
CSTD_TYPED_VECTOR_DEFS(ownedItem, ownedItem, &kOwnedItemTable)
CSTD_TYPED_VECTOR_DEFS(plainPoint, cmath_vect, nullptr)
}

namespace {

std::vector<uint32_t> firstValues(const cstd_vector_ownedItem& v) {
  const ownedItem* items = nullptr;
  uint32_t n = 0;
  cstd_vector_ownedItem_getBeginSizeConst(&v, &items, &n);
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < n; ++i) out.push_back(static_cast<uint32_t*>(items[i].values.base.begin)[0]);
  return out;
}

void setFirstValue(cstd_vector_ownedItem* v, uint32_t index, uint32_t value) {
  ownedItem* item = nullptr;
  ASSERT_EQ(cstd_vector_ownedItem_getElement(v, index, &item), 0);
  static_cast<uint32_t*>(item->values.base.begin)[0] = value;
}

}  // namespace

TEST(TypedVector, ElementsOwnTheirMemoryThroughEveryOperation) {
  LiveBlocks live;
  cstd_vector_ownedItem v;
  ASSERT_EQ(cstd_vector_ownedItem_construct(&v, 3), 0);
  EXPECT_EQ(live.leaked(), 4);  // the block and one member block per element
  for (uint32_t i = 0; i < 3; ++i) setFirstValue(&v, i, 10 + i);

  cstd_vector_ownedItem copy;
  ASSERT_EQ(cstd_vector_ownedItem_constructCopy(&copy, &v), 0);
  setFirstValue(&copy, 0, 99);  // a deep copy: the source is untouched
  EXPECT_EQ(firstValues(v), (std::vector<uint32_t>{10, 11, 12}));
  EXPECT_EQ(firstValues(copy), (std::vector<uint32_t>{99, 11, 12}));

  ASSERT_EQ(cstd_vector_ownedItem_append(&v, &v), 0);  // self-append copies the original elements
  EXPECT_EQ(firstValues(v), (std::vector<uint32_t>{10, 11, 12, 10, 11, 12}));
  ownedItem* begin = nullptr;
  ownedItem* end = nullptr;
  cstd_vector_ownedItem_getBeginEnd(&v, &begin, &end);
  ASSERT_EQ(cstd_vector_ownedItem_erase(&v, begin + 1, begin + 4), 0);
  EXPECT_EQ(firstValues(v), (std::vector<uint32_t>{10, 11, 12}));
  // The pushed element lives inside v itself, so growth must not invalidate it first.
  ASSERT_EQ(cstd_vector_ownedItem_pushBack(&v, static_cast<ownedItem*>(v.base.begin)), 0);
  EXPECT_EQ(firstValues(v), (std::vector<uint32_t>{10, 11, 12, 10}));
  ASSERT_EQ(cstd_vector_ownedItem_assign(&copy, &v), 0);
  EXPECT_EQ(firstValues(copy), firstValues(v));
  ASSERT_EQ(cstd_vector_ownedItem_resize(&v, 1), 0);
  ASSERT_EQ(cstd_vector_ownedItem_popBack(&v), 0);
  uint32_t size = 7;
  cstd_vector_ownedItem_getSize(&v, &size);
  EXPECT_EQ(size, 0u);

  cstd_vector_ownedItem_destruct(&v);
  cstd_vector_ownedItem_destruct(&copy);
  EXPECT_EQ(live.leaked(), 0);
}

TEST(TypedVector, FailureAtEveryAllocationOfADeepCopyLeaksNothing) {
  cstd_vector_ownedItem v;
  ASSERT_EQ(cstd_vector_ownedItem_construct(&v, 4), 0);
  for (uint32_t i = 0; i < 4; ++i) setFirstValue(&v, i, i);
  // The block and one member block per element.
  EXPECT_EQ(sweepAllocationFailures([&] {
              cstd_vector_ownedItem copy;
              const csys_status st = cstd_vector_ownedItem_constructCopy(&copy, &v);
              if (st == 0) cstd_vector_ownedItem_destruct(&copy);
              return st;
            }),
            5u);
  // A failed assign leaves the destination as it was.
  cstd_vector_ownedItem target;
  ASSERT_EQ(cstd_vector_ownedItem_construct(&target, 1), 0);
  setFirstValue(&target, 0, 77);
  {
    FailAllocation fail(3);
    EXPECT_EQ(cstd_vector_ownedItem_assign(&target, &v), csys_errNoMemory);
  }
  EXPECT_EQ(firstValues(target), (std::vector<uint32_t>{77}));
  // A failed resize keeps the old elements.
  {
    FailAllocation fail(2);
    EXPECT_EQ(cstd_vector_ownedItem_resize(&target, 3), csys_errNoMemory);
  }
  EXPECT_EQ(firstValues(target), (std::vector<uint32_t>{77}));
  LiveBlocks live;
  cstd_vector_ownedItem_destruct(&target);
  cstd_vector_ownedItem_destruct(&v);
  EXPECT_EQ(live.leaked(), -7);  // 2 blocks of target, 5 of v
}

TEST(TypedVector, PlainElementsInsertEraseAndQuery) {
  // Every edit is mirrored on a std::vector, which the typed vector must match afterwards.
  std::vector<double> expected = {1, 2, 3};
  cstd_vector_plainPoint v;
  const cmath_vect pts[] = {{1, 1}, {2, 2}, {3, 3}};
  ASSERT_EQ(cstd_vector_plainPoint_constructFromBlock(&v, pts, pts + 3), 0);
  auto check = [&] {
    const cmath_vect* begin = nullptr;
    uint32_t n = 0, n32 = 0;
    cstd_vector_plainPoint_getBeginSizeConst(&v, &begin, &n);
    cstd_vector_plainPoint_getSize32(&v, &n32);
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(n32, n);
    for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(begin[i].x, expected[i]) << i;
  };
  cmath_vect* begin = nullptr;
  const cmath_vect extra{9, 9}, fill{5, 5};
  cstd_vector_plainPoint_getBegin(&v, &begin);
  ASSERT_EQ(cstd_vector_plainPoint_insertElement(&v, begin + 1, &extra), 0);
  expected.insert(expected.begin() + 1, 9);
  cstd_vector_plainPoint_getBegin(&v, &begin);
  ASSERT_EQ(cstd_vector_plainPoint_insert(&v, begin, pts + 2, pts + 3), 0);
  expected.insert(expected.begin(), 3);
  check();
  cstd_vector_plainPoint_getBegin(&v, &begin);
  ASSERT_EQ(cstd_vector_plainPoint_eraseElement(&v, begin + 2), 0);
  expected.erase(expected.begin() + 2);
  ASSERT_EQ(cstd_vector_plainPoint_resizeFill(&v, 6, &fill), 0);
  expected.resize(6, 5);
  check();
  const cmath_vect* e = nullptr;
  EXPECT_EQ(cstd_vector_plainPoint_getElementConst(&v, 6, &e), csys_errOutOfRange);
  ASSERT_EQ(cstd_vector_plainPoint_assignElements(&v, pts, pts + 1), 0);
  expected = {1};
  check();
  ASSERT_EQ(cstd_vector_plainPoint_clearAndFreeMemory(&v), 0);
  uint32_t capacity = 1;
  cstd_vector_plainPoint_getCapacity(&v, &capacity);
  EXPECT_EQ(capacity, 0u);
  cstd_vector_plainPoint_destruct(&v);
  // Plain elements made by construct are zeroed.
  ASSERT_EQ(cstd_vector_plainPoint_construct(&v, 3), 0);
  expected = {0, 0, 0};
  check();
  cstd_vector_plainPoint_destruct(&v);
}

TEST(TypedVector, MismatchedFamiliesAndBadRangesAreRefused) {
  AssertRecorder asserts;
  cstd_vector_plainPoint a;
  cstd_vector_ownedItem b;
  ASSERT_EQ(cstd_vector_plainPoint_constructEmpty(&a), 0);
  ASSERT_EQ(cstd_vector_ownedItem_constructEmpty(&b), 0);
  EXPECT_EQ(cstd_vector__append(&a.base, &b.base), csys_errVectorMismatch);
  const cmath_vect pts[2] = {};
  EXPECT_EQ(cstd_vector_plainPoint_insert(&a, nullptr, pts + 1, pts), csys_errAssertion);  // reversed range
  EXPECT_EQ(cstd_vector_plainPoint_popBack(&a), csys_errAssertion);                        // empty
  EXPECT_EQ(cstd_vector_plainPoint_getSize(nullptr, nullptr), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 3u);
  cstd_vector_plainPoint_destruct(&a);
  cstd_vector_ownedItem_destruct(&b);
}
