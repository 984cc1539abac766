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
