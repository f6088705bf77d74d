// The system layer: clean-up list kinds, allocation failure injection and live-block counting,
// assertions, attention requests, once-only init, critical sections and shutdown order.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/csys_cleanup.hpp"
#include "base/cstd.h"
#include "support/assert_recorder.hpp"

namespace {

// Builds two owned vectors the way every constructor of the library does, plus a temporary
// block freed on every exit, then succeeds or fails as asked.
csys_status twoBlocks_construct(cstd_vector32 (&v)[2], csys_status outcome, int* registered) {
  csys::CleanupList cleanup;
  void* block = nullptr;
  csys_status st = csys_memory_alloc_internal(100, &block);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&block);
  for (cstd_vector32& member : v) {
    st = cstd_vector32_construct(&member, 4);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    cleanup.destructOnFailure<cstd_vector32_destruct>(&member);
  }
  *registered = cleanup.size();
  return cleanup.exit(outcome);
}

struct Handle {};
int g_deletes = 0;
csys_status deleteHandle(Handle** h) {
  ++g_deletes;
  *h = nullptr;
  return 0;
}

}  // namespace

TEST(CleanupList, OutputsKeptOnSuccessTemporariesAlwaysFreedAndFailuresUndone) {
  // Each of the three allocations failing in turn, then success, then an explicit failure.
  cstd_vector32 v[2];
  int registered = 0;
  LiveBlocks live;
  const uint64_t points = sweepAllocationFailures([&] {
    const csys_status st = twoBlocks_construct(v, 0, &registered);
    if (st != 0) return st;
    const bool kept = live.leaked() == 2;  // both members kept, the temporary freed
    for (cstd_vector32& member : v) cstd_vector32_destruct(&member);
    return kept ? csys_status{0} : csys_errAssertion;
  });
  EXPECT_TRUE(points == 3 && registered == 3) << points;
  EXPECT_EQ(twoBlocks_construct(v, csys_errBadArgument, &registered), csys_errBadArgument);
  EXPECT_EQ(live.leaked(), 0);

  // A scope left without exit() counts as a failure; releaseNewest frees early.
  {
    csys::CleanupList cleanup;
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(csys_memory_alloc_internal(8, &a), 0);
    cleanup.freeAlways(&a);
    ASSERT_EQ(csys_memory_alloc_internal(8, &b), 0);
    cleanup.freeAlways(&b);
    EXPECT_EQ(cleanup.releaseNewest(), 0);
    EXPECT_TRUE(b == nullptr && cleanup.size() == 1 && live.leaked() == 1);
    cstd_vector32 lost;
    ASSERT_EQ(cstd_vector32_construct(&lost, 3), 0);
    cleanup.destructOnFailure<cstd_vector32_destruct>(&lost);
  }
  EXPECT_EQ(live.leaked(), 0);

  // A handle is deleted only when the scope fails.
  Handle storage;
  g_deletes = 0;
  for (csys_status outcome : {csys_status{0}, csys_errNoMemory}) {
    csys::CleanupList cleanup;
    Handle* h = &storage;
    cleanup.deleteOnFailure<deleteHandle>(&h);
    EXPECT_EQ(cleanup.exit(outcome), outcome);
  }
  EXPECT_EQ(g_deletes, 1);

  AssertRecorder asserts;
  csys::CleanupList empty;
  EXPECT_EQ(empty.releaseNewest(), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 1u);
  empty.exit(0);
}

TEST(Memory, HookFailsExactlyTheNthAllocationAndFreeClearsThePointer) {
  void* blocks[4] = {};
  csys_memory_failNthAllocation(3);
  EXPECT_EQ(csys_memory_alloc_internal(16, &blocks[0]), 0);
  EXPECT_EQ(csys_memory_allocClear_internal(16, &blocks[1]), 0);
  EXPECT_EQ(csys_memory_failurePending(), 1);  // the third is still to come
  EXPECT_TRUE(csys_memory_allocFastMem_internal(16, &blocks[2]) == csys_errNoMemory && blocks[2] == nullptr);
  EXPECT_EQ(csys_memory_failurePending(), 0);
  EXPECT_EQ(csys_memory_allocFastMem_internal(16, &blocks[3]), 0);  // only the third fails
  EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks[3]) % 64, 0u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(static_cast<uint8_t*>(blocks[1])[i], 0);
  for (void*& b : blocks) {
    EXPECT_EQ(csys_memory_free_internal(&b), 0);
    EXPECT_EQ(b, nullptr);
  }
  void* huge = nullptr;
  EXPECT_TRUE(csys_memory_alloc_internal(SIZE_MAX - 8, &huge) == csys_errNoMemory && huge == nullptr);
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
  csys_attention_setCallback([](void* ctx) -> csys_status { return ++*static_cast<std::atomic<int>*>(ctx) >= 3 ? csys_errAttention : 0; },
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
      auto slowInit = [] {
        ++runs;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return csys_status{0};
      };
      EXPECT_EQ(csys_initializeOnce(&flag, slowInit), 0);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);

  static int attempts = 0;
  static csys_onceFlag retry = {0};
  auto failingOnce = [] { return ++attempts == 1 ? csys_errNoMemory : csys_status{0}; };
  const csys_status first = csys_initializeOnce(&retry, failingOnce), second = csys_initializeOnce(&retry, failingOnce);
  EXPECT_TRUE(first == csys_errNoMemory && second == 0 && csys_initializeOnce(&retry, failingOnce) == 0 && attempts == 2);
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
