// System layer: assertions, attention, memory with failure injection, once-only init,
// critical sections, shutdown registry and the optimisation switch.
#include "base/csys.h"
#include "base/priv/csys_attention.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

// Superseded records are chained from the current one (never freed, see the setters), which
// keeps them reachable, so leak checkers do not report them.
struct AssertHandler {
  cstd_assert_handler handler;
  void* context;
  AssertHandler* superseded;
};
std::atomic<AssertHandler*> g_assertHandler{nullptr};

struct AttentionHandler {
  csys_attention_callback callback;
  void* context;
  AttentionHandler* superseded;
};
std::atomic<AttentionHandler*> g_attention{nullptr};

std::atomic<int64_t> g_liveBlocks{0};
std::atomic<uint64_t> g_failCountdown{0};

// True when the allocation-failure hook says this allocation must fail.
bool allocationMustFail() {
  uint64_t n = g_failCountdown.load(std::memory_order_relaxed);
  while (n != 0) {
    if (g_failCountdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) return n == 1;
  }
  return false;
}

// Blocks keep a small header so that the aligned fast-memory blocks and plain blocks share
// one free function.
struct BlockHeader {
  void* raw;
  size_t size;
};
constexpr size_t kHeaderRoom = 64;

csys_status allocate(size_t size, size_t alignment, bool clear, void** block) {
  if (block == nullptr) {
    cstd_assert_(__LINE__);
    return csys_errAssertion;
  }
  *block = nullptr;
  if (allocationMustFail()) return csys_errNoMemory;
  if (size > SIZE_MAX - kHeaderRoom - alignment) return csys_errNoMemory;
  void* raw = std::malloc(size + kHeaderRoom + alignment);
  if (raw == nullptr) return csys_errNoMemory;
  uintptr_t start = reinterpret_cast<uintptr_t>(raw) + kHeaderRoom;
  start = (start + alignment - 1) & ~(uintptr_t)(alignment - 1);
  auto* header = reinterpret_cast<BlockHeader*>(start - sizeof(BlockHeader));
  header->raw = raw;
  header->size = size;
  void* user = reinterpret_cast<void*>(start);
  if (clear) std::memset(user, 0, size);
  g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
  *block = user;
  return 0;
}

// Deliberately never destroyed: the registry must outlive every static destructor that
// might still register or run it.
std::mutex& shutdownMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::vector<void (*)(void)>& shutdownList() {
  static auto* list = new std::vector<void (*)(void)>;
  return *list;
}

struct ShutdownAtExit {
  ~ShutdownAtExit() { csys_shutdown_run(); }
} g_shutdownAtExit;

}  // namespace

extern "C" {

cprt_optimizationInhibitedFn cprt_isOptimizationInhibitedFP = nullptr;

int cprt_isOptimizationInhibited(const char* routineName) {
  cprt_optimizationInhibitedFn fn = cprt_isOptimizationInhibitedFP;
  return fn != nullptr && routineName != nullptr && fn(routineName) != 0;
}

void cstd_assert_(int line) {
  AssertHandler* h = g_assertHandler.load(std::memory_order_acquire);
  if (h != nullptr && h->handler != nullptr) h->handler(line, h->context);
}

cstd_assert_handler cstd_assert_setHandler(cstd_assert_handler handler, void* context) {
  // Handlers are few and installed rarely (tests); the old record is kept alive on purpose so
  // a concurrent cstd_assert_ never reads a freed record.
  auto* fresh = new AssertHandler{handler, context, g_assertHandler.load(std::memory_order_acquire)};
  while (!g_assertHandler.compare_exchange_weak(fresh->superseded, fresh, std::memory_order_acq_rel)) {
  }
  AssertHandler* old = fresh->superseded;
  return old ? old->handler : nullptr;
}

csys_status csys_attention_check(void) {
  AttentionHandler* h = g_attention.load(std::memory_order_acquire);
  if (h == nullptr || h->callback == nullptr) return 0;
  return h->callback(h->context);
}

int csys_attention_watched(void) {
  const AttentionHandler* h = g_attention.load(std::memory_order_acquire);
  return h != nullptr && h->callback != nullptr ? 1 : 0;
}

void csys_attention_setCallback(csys_attention_callback callback, void* context) {
  // As with the assertion handler, superseded records stay allocated: a search on another
  // thread may be reading one.
  auto* fresh = new AttentionHandler{callback, context, g_attention.load(std::memory_order_acquire)};
  while (!g_attention.compare_exchange_weak(fresh->superseded, fresh, std::memory_order_acq_rel)) {
  }
}

csys_status csys_memory_alloc_internal(size_t size, void** block) {
  return allocate(size, 16, false, block);
}

csys_status csys_memory_allocClear_internal(size_t size, void** block) {
  return allocate(size, 16, true, block);
}

csys_status csys_memory_allocFastMem_internal(size_t size, void** block) {
  return allocate(size, 64, false, block);
}

csys_status csys_memory_free_internal(void** block) {
  if (block == nullptr) {
    cstd_assert_(__LINE__);
    return csys_errAssertion;
  }
  if (*block != nullptr) {
    auto* header = reinterpret_cast<BlockHeader*>(static_cast<char*>(*block) - sizeof(BlockHeader));
    std::free(header->raw);
    g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    *block = nullptr;
  }
  return 0;
}

csys_status csys_memory_fill(int value, size_t count, void* destination) {
  CSYS_REQUIRE(destination != nullptr || count == 0);
  if (count) std::memset(destination, value, count);
  return 0;
}

csys_status csys_memory_copy(const void* source, size_t count, void* destination) {
  CSYS_REQUIRE((source != nullptr && destination != nullptr) || count == 0);
  if (count) std::memmove(destination, source, count);
  return 0;
}

void csys_memory_failNthAllocation(uint64_t n) { g_failCountdown.store(n, std::memory_order_relaxed); }

int csys_memory_failurePending(void) { return g_failCountdown.load(std::memory_order_relaxed) != 0 ? 1 : 0; }

int64_t csys_memory_getLiveBlockCount(void) { return g_liveBlocks.load(std::memory_order_relaxed); }

csys_status csys_initializeOnce(csys_onceFlag* flag, csys_status (*init)(void)) {
  CSYS_REQUIRE(flag != nullptr && init != nullptr);
  // The flag is a plain C record so it can be zero-initialised statically; it is accessed
  // through atomic_ref so concurrent first callers race safely.
  std::atomic_ref<int32_t> state(const_cast<int32_t&>(flag->state));
  for (;;) {
    int32_t s = state.load(std::memory_order_acquire);
    if (s == 2) return 0;
    if (s == 0 && state.compare_exchange_strong(s, 1, std::memory_order_acq_rel)) {
      csys_status st = init();
      // A failed init may be retried by a later caller.
      state.store(CSYS_FAILED(st) ? 0 : 2, std::memory_order_release);
      return st;
    }
    std::this_thread::yield();
  }
}

csys_status csys_criticalSection_construct(csys_criticalSection* section) {
  CSYS_REQUIRE(section != nullptr);
  section->impl = new (std::nothrow) std::mutex;
  return section->impl ? 0 : csys_errNoMemory;
}

csys_status csys_criticalSection_destruct(csys_criticalSection* section) {
  CSYS_REQUIRE(section != nullptr);
  delete static_cast<std::mutex*>(section->impl);
  section->impl = nullptr;
  return 0;
}

csys_status csys_criticalSection_enter(csys_criticalSection* section) {
  CSYS_REQUIRE(section != nullptr && section->impl != nullptr);
  static_cast<std::mutex*>(section->impl)->lock();
  return 0;
}

csys_status csys_criticalSection_leave(csys_criticalSection* section) {
  CSYS_REQUIRE(section != nullptr && section->impl != nullptr);
  static_cast<std::mutex*>(section->impl)->unlock();
  return 0;
}

csys_status csys_shutdown_register(void (*release)(void)) {
  CSYS_REQUIRE(release != nullptr);
  std::lock_guard<std::mutex> lock(shutdownMutex());
  shutdownList().push_back(release);
  return 0;
}

void csys_shutdown_run(void) {
  std::vector<void (*)(void)> list;
  {
    std::lock_guard<std::mutex> lock(shutdownMutex());
    list.swap(shutdownList());
  }
  for (auto it = list.rbegin(); it != list.rend(); ++it) (*it)();
}

}  // extern "C"
