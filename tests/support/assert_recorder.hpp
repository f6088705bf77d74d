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

// Fails every allocation of a call in turn: runs attempt() with the 1st, 2nd, ... allocation
// failing until a run succeeds. Every failing run must return csys_errNoMemory and leak
// nothing; attempt() releases what it built when it succeeds and checks its own outputs (left
// empty, or untouched) when it fails. Returns the number of allocation points met, or 0 when a
// run failed otherwise or the sweep did not end within limit runs.
template <class Attempt>
uint64_t sweepAllocationFailures(Attempt attempt, uint64_t limit = 10000) {
  for (uint64_t n = 1; n <= limit; ++n) {
    LiveBlocks live;
    csys_status status;
    {
      FailAllocation fail(n);
      status = attempt();
    }
    if (live.leaked() != 0) return 0;
    if (status == 0) return n - 1;
    if (status != csys_errNoMemory) return 0;
  }
  return 0;
}

#endif
