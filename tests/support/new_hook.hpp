// The program's operator new, replaced in every test program that uses these controls: an
// allocation can be made to fail (the n-th from now, or every one of at least a size), so that
// the handling of std::bad_alloc is exercised the way csys_memory_failNthAllocation exercises
// the library's own allocations; live blocks are counted so that a test can check for leaks.
#ifndef IDUT_TESTS_NEW_HOOK_HPP
#define IDUT_TESTS_NEW_HOOK_HPP

#include <cstddef>
#include <cstdint>

namespace newhook {

// Makes the n-th operator new from now fail (1: the next one; 0: none).
void failNth(uint64_t n);
// Makes every operator new of at least bytes fail (0: none).
void failFrom(size_t bytes);
// Whether a failure was injected since the last failNth or failFrom.
bool fired();
// Stops the countdown of failNth without forgetting whether it fired: what a test does after
// the call it sweeps is not swept.
void stopCountdown();
// Blocks from operator new not yet deleted, in the whole process.
int64_t liveBlocks();
// operator new calls so far, in the whole process.
uint64_t allocations();

// The n-th allocation from now fails while the object lives.
class FailNth {
 public:
  explicit FailNth(uint64_t n) { failNth(n); }
  ~FailNth() { failNth(0); }
  FailNth(const FailNth&) = delete;
  FailNth& operator=(const FailNth&) = delete;
};

// Every allocation of at least bytes fails while the object lives.
class FailFrom {
 public:
  explicit FailFrom(size_t bytes) { failFrom(bytes); }
  ~FailFrom() { failFrom(0); }
  FailFrom(const FailFrom&) = delete;
  FailFrom& operator=(const FailFrom&) = delete;
};

}  // namespace newhook

#endif
