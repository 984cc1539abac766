// Owners for the system handles that actions open beside installer handles:
// kernel objects (processes, threads, snapshots), change notifications and
// registry keys. One template, one alias per kind; each closes its handle
// exactly once, with the function that kind of handle needs.
#pragma once

#include <utility>

#include <windows.h>

namespace viduzo {

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
using RegistryKey = SystemHandle<HKEY, CloseRegistryKey>;

}  // namespace viduzo
