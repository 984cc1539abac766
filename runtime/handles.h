// Small owners for installer handles: each closes its handle exactly once.
#pragma once

#include <utility>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

class MsiHandle {
 public:
  MsiHandle() = default;
  explicit MsiHandle(MSIHANDLE h) : handle_(h) {}
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;
  MsiHandle(MsiHandle&& other) noexcept : handle_(other.release()) {}
  MsiHandle& operator=(MsiHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~MsiHandle() { reset(); }

  MSIHANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  // For out parameters: closes the current handle first.
  MSIHANDLE* put() {
    reset();
    return &handle_;
  }
  MSIHANDLE release() { return std::exchange(handle_, 0); }
  void reset(MSIHANDLE h = 0) {
    if (handle_ != 0) MsiCloseHandle(handle_);
    handle_ = h;
  }

 private:
  MSIHANDLE handle_ = 0;
};

}  // namespace viduzo

namespace viduzo {

// One owner for every other kind of handle: the handle type, the function that
// closes it and the value that means "none".
template <typename Handle, auto Closer, Handle Invalid = Handle{}>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Invalid; }
  // For out parameters: closes the current handle first.
  Handle* put() {
    reset();
    return &handle_;
  }
  void reset() {
    if (handle_ != Invalid) Closer(handle_);
    handle_ = Invalid;
  }

 private:
  Handle handle_ = Invalid;
};

// A registry key opened or created by the code that holds it.
using RegKey = UniqueHandle<HKEY, &RegCloseKey>;

}  // namespace viduzo
