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

#endif
