// Installer handles: one table of live objects shared by every winsim area.
#pragma once

#include <cstddef>
#include <memory>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace winsim {

// Every object that an MSIHANDLE can name derives from this.
struct Object {
  virtual ~Object() = default;
};

// Registers the object and returns a fresh non-zero handle for it.
MSIHANDLE AddHandle(std::shared_ptr<Object> object);

// The object behind a handle, or null when the handle is not open.
std::shared_ptr<Object> GetObject(MSIHANDLE handle);

template <class T>
std::shared_ptr<T> Get(MSIHANDLE handle) {
  return std::dynamic_pointer_cast<T>(GetObject(handle));
}

// Closes a handle; false when it was not open.
bool RemoveHandle(MSIHANDLE handle);

// The number of installer handles open right now (the tests' leak check).
std::size_t OpenHandleCount();

// Closes every handle and returns how many were open.
std::size_t RemoveAllHandles();

}  // namespace winsim
