// Per-call clean-up list: the one exit of a resource-holding function.
//
// A function makes one CleanupList, registers each resource right after making it, and
// leaves through `return cleanup.exit(status)`. The list then releases, newest first:
//   kind 0x22 (destructOnFailure)  an output member under construction - only on failure;
//   kind 0x32 (destructAlways)     a local temporary object - on every exit;
//   kind 0x31 (freeAlways)         a local block from csys_memory_alloc_internal - every exit;
//   kind 0x21 (deleteOnFailure)    a handle handed to the caller on success - only on failure.
// If the scope is left without exit() (an early return or an exception), the list treats the
// exit as a failure. releaseNewest() releases the newest entry early and returns the release's
// status, which the caller tests at once.
#ifndef IDUT_CSYS_CLEANUP_HPP
#define IDUT_CSYS_CLEANUP_HPP

#include <cstdint>

#include "base/csys.h"

namespace csys {

enum class CleanupKind : uint32_t {
  destructOnFailure = 0x22,
  destructAlways = 0x32,
  freeAlways = 0x31,
  deleteOnFailure = 0x21,
};

class CleanupList {
 public:
  static constexpr int capacity = 8;

  CleanupList() = default;
  CleanupList(const CleanupList&) = delete;
  CleanupList& operator=(const CleanupList&) = delete;
  ~CleanupList() {
    if (!exited_) run(csys_errAssertion);
  }

  // Registers an output member (vector, image, ...) that must be destructed if the call fails.
  template <auto Destruct, class T>
  void destructOnFailure(T* object) {
    add(CleanupKind::destructOnFailure, object, &thunk<Destruct, T>);
  }
  // Registers a local temporary object destructed on every exit.
  template <auto Destruct, class T>
  void destructAlways(T* object) {
    add(CleanupKind::destructAlways, object, &thunk<Destruct, T>);
  }
  // Registers the address of a pointer that holds a csys_memory block, freed on every exit.
  template <class T>
  void freeAlways(T** block) {
    add(CleanupKind::freeAlways, block, &freeThunk<T>);
  }
  // Registers the address of a handle variable, deleted (Delete(&handle)) only on failure.
  template <auto Delete, class T>
  void deleteOnFailure(T** handle) {
    add(CleanupKind::deleteOnFailure, handle, &thunk<Delete, T*>);
  }

  // Releases the newest entry now; returns the release function's status.
  csys_status releaseNewest() {
    if (count_ <= 0) {
      cstd_assert_(__LINE__);
      return csys_errAssertion;
    }
    --count_;
    return entries_[count_].release(entries_[count_].object);
  }

  // Runs the entries that apply to `status` and returns `status` unchanged.
  csys_status exit(csys_status status) {
    exited_ = true;
    run(status);
    return status;
  }

  int size() const { return count_; }

 private:
  using Release = csys_status (*)(void*);
  struct Entry {
    uint32_t id;
    CleanupKind kind;
    void* object;
    Release release;
  };

  template <auto Fn, class T>
  static csys_status thunk(void* object) {
    return static_cast<csys_status>(Fn(static_cast<T*>(object)));
  }
  template <class T>
  static csys_status freeThunk(void* object) {
    T** block = static_cast<T**>(object);
    void* raw = *block;
    csys_status st = csys_memory_free_internal(&raw);
    *block = nullptr;
    return st;
  }

  void add(CleanupKind kind, void* object, Release release) {
    if (count_ < 0 || count_ >= capacity) {
      // More resources than any function holds at once: a programming error. Release at once
      // rather than leak, so the failure stays visible but harmless.
      cstd_assert_(__LINE__);
      release(object);
      return;
    }
    if (nextId_ > 0xFFFFFFFEu) nextId_ = 0;
    entries_[count_++] = Entry{nextId_++, kind, object, release};
  }

  void run(csys_status status) {
    const bool failed = CSYS_FAILED(status);
    while (count_ > 0) {
      Entry& e = entries_[--count_];
      const bool onFailureOnly =
          e.kind == CleanupKind::destructOnFailure || e.kind == CleanupKind::deleteOnFailure;
      if (!onFailureOnly || failed) e.release(e.object);
    }
  }

  Entry entries_[capacity] = {};
  int count_ = 0;
  uint32_t nextId_ = 0;
  bool exited_ = false;
};

}  // namespace csys

#endif
