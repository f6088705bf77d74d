// The replaced operator new and delete behind new_hook.hpp. They live in the same object as the
// controls, so only the programs that call the controls get them.
#include "support/new_hook.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace newhook {

namespace {

std::atomic<uint64_t> g_countdown{0};
std::atomic<size_t> g_failFrom{0};
std::atomic<bool> g_fired{false};
std::atomic<int64_t> g_live{0};
std::atomic<uint64_t> g_allocations{0};

bool mustFail(size_t size) {
  const size_t from = g_failFrom.load(std::memory_order_relaxed);
  bool fail = from != 0 && size >= from;
  uint64_t n = g_countdown.load(std::memory_order_relaxed);
  while (n != 0 && !g_countdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
  }
  if (n == 1) fail = true;
  if (fail) g_fired.store(true, std::memory_order_relaxed);
  return fail;
}

void* allocate(size_t size) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (mustFail(size)) return nullptr;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void release(void* p) noexcept {
  if (p == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

}  // namespace

void failNth(uint64_t n) {
  g_fired.store(false, std::memory_order_relaxed);
  g_countdown.store(n, std::memory_order_relaxed);
}

void failFrom(size_t bytes) {
  g_fired.store(false, std::memory_order_relaxed);
  g_failFrom.store(bytes, std::memory_order_relaxed);
}

bool fired() { return g_fired.load(std::memory_order_relaxed); }
void stopCountdown() { g_countdown.store(0, std::memory_order_relaxed); }
int64_t liveBlocks() { return g_live.load(std::memory_order_relaxed); }
uint64_t allocations() { return g_allocations.load(std::memory_order_relaxed); }

}  // namespace newhook

void* operator new(size_t size) {
  if (void* p = newhook::allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  if (void* p = newhook::allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return newhook::allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return newhook::allocate(size); }
void operator delete(void* p) noexcept { newhook::release(p); }
void operator delete[](void* p) noexcept { newhook::release(p); }
void operator delete(void* p, size_t) noexcept { newhook::release(p); }
void operator delete[](void* p, size_t) noexcept { newhook::release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { newhook::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { newhook::release(p); }
