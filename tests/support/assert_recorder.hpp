// Records the assertions that fire while it is alive, in place of the default handler.
#ifndef IDUT_TESTS_ASSERT_RECORDER_HPP
#define IDUT_TESTS_ASSERT_RECORDER_HPP

#include <vector>

#include "base/csys.h"

class AssertRecorder {
 public:
  AssertRecorder() { previous_ = cstd_assert_setHandler(&record, this); }
  ~AssertRecorder() { cstd_assert_setHandler(previous_, nullptr); }
  AssertRecorder(const AssertRecorder&) = delete;
  AssertRecorder& operator=(const AssertRecorder&) = delete;

  const std::vector<int>& lines() const { return lines_; }
  size_t count() const { return lines_.size(); }

 private:
  static void record(int line, void* self) { static_cast<AssertRecorder*>(self)->lines_.push_back(line); }
  cstd_assert_handler previous_;
  std::vector<int> lines_;
};

// Counts live csys blocks over a scope, so a test can check that nothing leaked.
class LiveBlocks {
 public:
  LiveBlocks() : start_(csys_memory_getLiveBlockCount()) {}
  int64_t leaked() const { return csys_memory_getLiveBlockCount() - start_; }

 private:
  int64_t start_;
};

// Makes the n-th allocation from now fail for the lifetime of the object.
class FailAllocation {
 public:
  explicit FailAllocation(uint64_t n) { csys_memory_failNthAllocation(n); }
  ~FailAllocation() { csys_memory_failNthAllocation(0); }
};

// What a sweep met: the allocation points it walked, the runs that failed with
// csys_errNoMemory, and the runs that went on without the allocation and succeeded.
struct SweepCounts {
  uint64_t points = 0;
  uint64_t failed = 0;
  uint64_t tolerated = 0;
};

// Fails every allocation of a call in turn: runs attempt() with the 1st, 2nd, ... allocation
// failing until a run makes fewer allocations than that, so that every point is reached even
// where the call can go on without an allocation (such a run must succeed). Every failing run
// must return csys_errNoMemory and leak nothing; attempt() releases what it built when it
// succeeds and checks its own outputs (left empty, or untouched) when it fails. Returns the
// number of allocation points met, or 0 when a run failed otherwise, leaked, or the sweep did
// not end within limit runs; counts (may be null) receives the tally.
template <class Attempt>
uint64_t sweepAllocationFailures(Attempt attempt, uint64_t limit = 10000, SweepCounts* counts = nullptr) {
  SweepCounts tally;
  for (uint64_t n = 1; n <= limit; ++n) {
    LiveBlocks live;
    csys_status status;
    int pending;
    {
      FailAllocation fail(n);
      status = attempt();
      pending = csys_memory_failurePending();
    }
    if (live.leaked() != 0) return 0;
    if (pending) {
      if (status != 0) return 0;
      tally.points = n - 1;
      if (counts) *counts = tally;
      return n - 1;
    }
    if (status == 0)
      ++tally.tolerated;
    else if (status == csys_errNoMemory)
      ++tally.failed;
    else
      return 0;
  }
  return 0;
}

#endif
