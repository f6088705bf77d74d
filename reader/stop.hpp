// A caller's stop callback polled during a search. The library polls one process-wide attention
// callback, very often (about once per microsecond of a Data Matrix search); the reader installs
// its own once and dispatches each poll to the search running on the polling thread.
#ifndef IDUT_READER_STOP_HPP
#define IDUT_READER_STOP_HPP

#include <exception>
#include <functional>

namespace idutread {

// While it lives, polls on this thread consult stop (may be empty: nothing to consult). Once
// stop returns true, or throws, every later poll on the thread asks the search to end. Scopes
// nest: a stop callback may itself read symbols.
class StopScope {
 public:
  explicit StopScope(const std::function<bool()>& stop);
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

  bool stopped() const { return stopped_; }
  // What the callback threw, if it threw (then stopped() is true as well).
  std::exception_ptr exception() const { return exception_; }

  // For the dispatch: one poll of this scope; true asks the search to end.
  bool poll();

 private:
  const std::function<bool()>* stop_ = nullptr;
  StopScope* outer_ = nullptr;
  bool stopped_ = false;
  std::exception_ptr exception_;
  long long nextCheck_ = 0;  // steady clock, nanoseconds
};

}  // namespace idutread

#endif
