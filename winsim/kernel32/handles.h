// Kernel object handles: one table of HANDLE values shared by every winsim
// area that hands out kernel handles (files and folders here; processes,
// threads or events elsewhere). CloseHandle closes any of them.
//
// Handle values look like Windows ones: non-zero multiples of four, never
// INVALID_HANDLE_VALUE, and never reused within a process, so that a handle
// closed twice is caught.
#pragma once

#include <cstddef>
#include <memory>

#include <windows.h>

namespace winsim {

// Every object a kernel HANDLE can name derives from this.
struct KernelObject {
  virtual ~KernelObject() = default;
  // False for objects that CloseHandle must refuse (find handles, which only
  // FindClose closes).
  virtual bool ClosedByCloseHandle() const { return true; }
};

// Registers the object and returns its new handle.
HANDLE AddKernelHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null when the handle is not open.
std::shared_ptr<KernelObject> GetKernelObject(HANDLE handle);

template <class T>
std::shared_ptr<T> GetKernel(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(GetKernelObject(handle));
}

// Removes a handle; false when it was not open.
bool RemoveKernelHandle(HANDLE handle);

}  // namespace winsim
