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

// One owner for every other kind of handle (kernel objects such as processes,
// threads, snapshots and files; change notifications; registry keys): the
// handle type and the function that closes it, called exactly once.
template <class Handle, class Closer>
class SystemHandle {
 public:
  SystemHandle() = default;
  explicit SystemHandle(Handle h) : handle_(h) {}
  SystemHandle(const SystemHandle&) = delete;
  SystemHandle& operator=(const SystemHandle&) = delete;
  ~SystemHandle() { reset(); }

  Handle get() const { return handle_; }
  // Null and INVALID_HANDLE_VALUE both mean "no handle": the kernel uses one or
  // the other depending on the call that failed.
  explicit operator bool() const {
    return handle_ != Handle() && handle_ != reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);
  }
  // For out parameters: closes the current handle first.
  Handle* put() {
    reset();
    return &handle_;
  }
  void reset(Handle h = Handle()) {
    if (*this) Closer()(handle_);
    handle_ = h;
  }

 private:
  Handle handle_ = Handle();
};

struct CloseKernelHandle {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
struct CloseChangeNotification {
  void operator()(HANDLE h) const { FindCloseChangeNotification(h); }
};
struct CloseRegistryKey {
  void operator()(HKEY h) const { RegCloseKey(h); }
};

using KernelHandle = SystemHandle<HANDLE, CloseKernelHandle>;
using ChangeNotification = SystemHandle<HANDLE, CloseChangeNotification>;
// A registry key opened or created by the code that holds it.
using RegKey = SystemHandle<HKEY, CloseRegistryKey>;

}  // namespace viduzo

namespace viduzo {

// A COM interface pointer obtained by the code that holds it, released exactly
// once.
template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For out parameters (CoCreateInstance, QueryInterface): releases the current
  // pointer first.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&pointer_);
  }
  void reset() {
    if (pointer_) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace viduzo
