#pragma once
// ScopedHandle: the one move-only owner of a system handle, for every kind of
// handle and its release function. A traits type names both:
//
//   struct Traits {
//     using Handle = ...;                 // the handle's type
//     static Handle Invalid();            // the value an owner holds when empty
//     static bool IsValid(Handle h);      // whether h needs closing
//     static void Close(Handle h);        // the release function
//   };
//
// The owner closes its handle exactly once, wherever it was moved to. Closing
// keeps the thread's last system error as it was: a failed call followed by
// the end of its handle's owner still reports the call's own error.
#include <utility>

#include "runtime/system_error.h"

namespace rt {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return Traits::IsValid(handle_); }

  // Gives up the handle without closing it (the caller now owns it).
  [[nodiscard]] Handle release() {
    const Handle handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }
  // Closes the handle held (if any) and takes `handle` instead.
  void reset(Handle handle = Traits::Invalid()) {
    const Handle old = handle_;
    handle_ = handle;
    if (old == handle || !Traits::IsValid(old)) return;
    const LastErrorKeeper keep;
    Traits::Close(old);
  }
  // For a call that hands a new handle back through a pointer: closes the
  // handle held and lends the place to write the new one.
  Handle* receive() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

}  // namespace rt
