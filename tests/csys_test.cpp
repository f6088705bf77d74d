// The system layer: clean-up list kinds, allocation failure injection and live-block counting,
// assertions, attention requests, once-only init, critical sections, shutdown order and the
// optimisation switch.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/csys_cleanup.hpp"
#include "base/cstd.h"
#include "support/assert_recorder.hpp"

namespace {

// A record with two owned members, built the way every constructor of the library is built.
struct TwoBlocks {
  cstd_vector32 first;
  cstd_vector32 second;
};

csys_status twoBlocks_construct(TwoBlocks* t, uint32_t n) {
  CSYS_REQUIRE(t != nullptr);
  csys::CleanupList cleanup;
  csys_status st = cstd_vector32_construct(&t->first, n);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cstd_vector32_destruct>(&t->first);
  st = cstd_vector32_construct(&t->second, n);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cstd_vector32_destruct>(&t->second);
  return cleanup.exit(0);
}

csys_status twoBlocks_destruct(TwoBlocks* t) {
  cstd_vector32_destruct(&t->first);
  return cstd_vector32_destruct(&t->second);
}

// Uses a temporary block and a temporary vector, then fails or succeeds as asked.
csys_status withTemporaries(csys_status outcome, int* releasedAfter) {
  csys::CleanupList cleanup;
  void* block = nullptr;
  csys_status st = csys_memory_alloc_internal(100, &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  cstd_vector32 scratch;
  st = cstd_vector32_construct(&scratch, 10);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructAlways<cstd_vector32_destruct>(&scratch);
  *releasedAfter = cleanup.size();
  return cleanup.exit(outcome);
}

}  // namespace

TEST(CleanupList, FailedSecondAllocationLeavesNothingBuilt) {
  for (uint64_t failAt = 1; failAt <= 2; ++failAt) {
    LiveBlocks live;
    TwoBlocks t;
    {
      FailAllocation fail(failAt);
      EXPECT_EQ(twoBlocks_construct(&t, 4), csys_errNoMemory) << "failing allocation " << failAt;
    }
    EXPECT_EQ(live.leaked(), 0) << "failing allocation " << failAt;
  }
  LiveBlocks live;
  TwoBlocks t;
  ASSERT_EQ(twoBlocks_construct(&t, 4), 0);
  EXPECT_EQ(live.leaked(), 2);  // both members kept on success
  twoBlocks_destruct(&t);
  EXPECT_EQ(live.leaked(), 0);
}

TEST(CleanupList, TemporariesReleasedOnSuccessAndFailureAlike) {
  for (csys_status outcome : {csys_status{0}, csys_errBadArgument}) {
    LiveBlocks live;
    int registered = 0;
    EXPECT_EQ(withTemporaries(outcome, &registered), outcome);
    EXPECT_EQ(registered, 2);
    EXPECT_EQ(live.leaked(), 0);
  }
  // A failure inside the temporaries' own set-up is handled too.
  for (uint64_t failAt = 1; failAt <= 2; ++failAt) {
    LiveBlocks live;
    int registered = 0;
    FailAllocation fail(failAt);
    EXPECT_EQ(withTemporaries(0, &registered), csys_errNoMemory);
    EXPECT_EQ(live.leaked(), 0);
  }
}

TEST(CleanupList, EarlyReleaseAndLeavingWithoutExitCountAsExpected) {
  LiveBlocks live;
  {
    csys::CleanupList cleanup;
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(csys_memory_alloc_internal(8, &a), 0);
    cleanup.freeAlways(&a);
    ASSERT_EQ(csys_memory_alloc_internal(8, &b), 0);
    cleanup.freeAlways(&b);
    EXPECT_EQ(cleanup.releaseNewest(), 0);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(cleanup.size(), 1);
    EXPECT_EQ(live.leaked(), 1);
  }  // no exit(): treated as a failure, the remaining temporary is freed
  EXPECT_EQ(live.leaked(), 0);

  // An output registered for failure survives a scope left through exit(0)...
  cstd_vector32 kept;
  {
    csys::CleanupList cleanup;
    ASSERT_EQ(cstd_vector32_construct(&kept, 3), 0);
    cleanup.destructOnFailure<cstd_vector32_destruct>(&kept);
    EXPECT_EQ(cleanup.exit(0), 0);
  }
  EXPECT_EQ(live.leaked(), 1);
  cstd_vector32_destruct(&kept);
  // ...and is destroyed by an early return without exit().
  {
    csys::CleanupList cleanup;
    ASSERT_EQ(cstd_vector32_construct(&kept, 3), 0);
    cleanup.destructOnFailure<cstd_vector32_destruct>(&kept);
  }
  EXPECT_EQ(live.leaked(), 0);

  AssertRecorder asserts;
  csys::CleanupList empty;
  EXPECT_EQ(empty.releaseNewest(), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 1u);
  empty.exit(0);
}

namespace {
struct Handle {};
int g_deletes = 0;
csys_status deleteHandle(Handle** h) {
  ++g_deletes;
  *h = nullptr;
  return 0;
}
csys_status handOverHandle(csys_status outcome, Handle* storage, Handle** out) {
  csys::CleanupList cleanup;
  Handle* h = storage;
  cleanup.deleteOnFailure<deleteHandle>(&h);
  *out = h;
  return cleanup.exit(outcome);
}
}  // namespace

TEST(CleanupList, HandleDeletedOnlyOnFailure) {
  Handle storage;
  Handle* out = nullptr;
  g_deletes = 0;
  EXPECT_EQ(handOverHandle(0, &storage, &out), 0);
  EXPECT_EQ(g_deletes, 0);
  EXPECT_EQ(out, &storage);
  EXPECT_EQ(handOverHandle(csys_errNoMemory, &storage, &out), csys_errNoMemory);
  EXPECT_EQ(g_deletes, 1);
}

TEST(Memory, HookFailsExactlyTheNthAllocationAndFreeClearsThePointer) {
  void* blocks[4] = {};
  csys_memory_failNthAllocation(3);
  EXPECT_EQ(csys_memory_alloc_internal(16, &blocks[0]), 0);
  EXPECT_EQ(csys_memory_allocClear_internal(16, &blocks[1]), 0);
  EXPECT_EQ(csys_memory_allocFastMem_internal(16, &blocks[2]), csys_errNoMemory);
  EXPECT_EQ(blocks[2], nullptr);
  EXPECT_EQ(csys_memory_allocFastMem_internal(16, &blocks[3]), 0);  // only the third fails
  EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks[3]) % 64, 0u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(static_cast<uint8_t*>(blocks[1])[i], 0);
  for (void*& b : blocks) {
    EXPECT_EQ(csys_memory_free_internal(&b), 0);
    EXPECT_EQ(b, nullptr);
  }
  void* huge = nullptr;
  EXPECT_EQ(csys_memory_alloc_internal(SIZE_MAX - 8, &huge), csys_errNoMemory);
  EXPECT_EQ(huge, nullptr);
}

TEST(Assertions, HandlerRecordsTheLineAndCallersLeaveWithAFailure) {
  AssertRecorder asserts;
  EXPECT_EQ(csys_memory_free_internal(nullptr), csys_errAssertion);
  EXPECT_EQ(cstd_vector32_construct(nullptr, 4), csys_errAssertion);
  EXPECT_EQ(csys_memory_fill(0, 4, nullptr), csys_errAssertion);
  ASSERT_EQ(asserts.count(), 3u);
  for (int line : asserts.lines()) EXPECT_GT(line, 0);
}

TEST(Attention, CallbackStatusIsReportedAndCanBeCleared) {
  EXPECT_EQ(csys_attention_check(), 0);
  std::atomic<int> calls{0};
  csys_attention_setCallback(
      [](void* ctx) -> csys_status {
        return ++*static_cast<std::atomic<int>*>(ctx) >= 3 ? csys_errAttention : 0;
      },
      &calls);
  EXPECT_EQ(csys_attention_check(), 0);
  EXPECT_EQ(csys_attention_check(), 0);
  EXPECT_EQ(csys_attention_check(), csys_errAttention);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(csys_attention_check(), 0);
  EXPECT_EQ(calls.load(), 3);
}

TEST(Once, InitRunsOnceUnderContentionAndRetriesAfterFailure) {
  static std::atomic<int> runs{0};
  static csys_onceFlag flag = {0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([] {
      EXPECT_EQ(csys_initializeOnce(&flag, [] {
                  ++runs;
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  return csys_status{0};
                }),
                0);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);

  static int attempts = 0;
  static csys_onceFlag retry = {0};
  auto failingOnce = [] { return ++attempts == 1 ? csys_errNoMemory : csys_status{0}; };
  EXPECT_EQ(csys_initializeOnce(&retry, failingOnce), csys_errNoMemory);
  EXPECT_EQ(csys_initializeOnce(&retry, failingOnce), 0);
  EXPECT_EQ(csys_initializeOnce(&retry, failingOnce), 0);
  EXPECT_EQ(attempts, 2);
}

TEST(CriticalSection, SerialisesIncrementsFromTwoThreads) {
  csys_criticalSection section;
  ASSERT_EQ(csys_criticalSection_construct(&section), 0);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) {
      csys_criticalSection_enter(&section);
      ++counter;
      csys_criticalSection_leave(&section);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 200000);
  EXPECT_EQ(csys_criticalSection_destruct(&section), 0);
}

TEST(Shutdown, RunsNewestFirstAndOnlyOnce) {
  static std::vector<int> order;
  ASSERT_EQ(csys_shutdown_register([] { order.push_back(1); }), 0);
  ASSERT_EQ(csys_shutdown_register([] { order.push_back(2); }), 0);
  csys_shutdown_run();
  csys_shutdown_run();
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST(OptimizationSwitch, AnswersPerRoutineName) {
  EXPECT_EQ(cprt_isOptimizationInhibited("rowExtremaMax"), 0);
  cprt_isOptimizationInhibitedFP = [](const char* name) { return name[0] == 'r' ? 1 : 0; };
  EXPECT_NE(cprt_isOptimizationInhibited("rowExtremaMax"), 0);
  EXPECT_EQ(cprt_isOptimizationInhibited("cf2DFFT"), 0);
  cprt_isOptimizationInhibitedFP = nullptr;
  EXPECT_EQ(cprt_isOptimizationInhibited("rowExtremaMax"), 0);
}
