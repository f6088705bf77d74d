// The attention dispatch behind StopScope.
#include "reader/stop.hpp"

#include <atomic>
#include <chrono>
#include <mutex>

#include "base/csys.h"

namespace idutread {

namespace {

thread_local StopScope* t_scope = nullptr;
std::atomic<int> g_scopes{0};   // scopes with a callback alive now, on any thread
std::atomic<int> g_stopped{0};  // of those, the ones that asked to stop
// Counts polls; racing threads may lose increments, which only spaces their checks a little more.
std::atomic<uint32_t> g_polls{0};
constexpr uint32_t kPollsPerCheck = 16;
// A callback is consulted at most this often: reading the clock is cheap, a callback need not be.
constexpr long long kCheckIntervalNs = 1'000'000;

long long nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Most polls end at the first test: no scope with a callback anywhere. While scopes exist but
// none has stopped, only every 16th poll reaches the thread's own scope.
csys_status dispatch(void*) {
  if (g_scopes.load(std::memory_order_relaxed) == 0) return 0;
  if (g_stopped.load(std::memory_order_relaxed) == 0) {
    const uint32_t polls = g_polls.load(std::memory_order_relaxed) + 1;
    g_polls.store(polls, std::memory_order_relaxed);
    if (polls % kPollsPerCheck != 0) return 0;
  }
  StopScope* scope = t_scope;
  return scope != nullptr && scope->poll() ? csys_errAttention : 0;
}

std::once_flag g_installed;

}  // namespace

StopScope::StopScope(const std::function<bool()>& stop) : outer_(t_scope) {
  if (stop) {
    stop_ = &stop;
    std::call_once(g_installed, [] { csys_attention_setCallback(dispatch, nullptr); });
    g_scopes.fetch_add(1);
  }
  t_scope = this;
}

StopScope::~StopScope() {
  t_scope = outer_;
  if (stop_) {
    if (stopped_) g_stopped.fetch_sub(1);
    g_scopes.fetch_sub(1);
  }
}

bool StopScope::poll() {
  if (stopped_) return true;
  if (stop_ == nullptr) return outer_ != nullptr && outer_->poll();
  const long long now = nowNs();
  if (now < nextCheck_) return false;
  nextCheck_ = now + kCheckIntervalNs;
  // The callback runs inside the library's search: nothing it throws may unwind through it.
  try {
    stopped_ = (*stop_)();
  } catch (...) {
    exception_ = std::current_exception();
    stopped_ = true;
  }
  if (stopped_) g_stopped.fetch_add(1);
  return stopped_;
}

}  // namespace idutread
