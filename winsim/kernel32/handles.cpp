// The kernel handle table and CloseHandle.
#include "winsim/kernel32/handles.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "winsim/control.h"

namespace winsim {
namespace {

// ---- the handle table ------------------------------------------------------------------

struct HandleTable {
  std::mutex mutex;
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

}  // namespace

HANDLE AddKernelHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> GetKernelObject(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveKernelHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object;  // released after the lock
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.objects.end()) return false;
  object = std::move(it->second);
  table.objects.erase(it);
  return true;
}

std::size_t OpenKernelHandleCount() {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.objects.size();
}

}  // namespace winsim

namespace {

BOOL InvalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace

BOOL WINAPI CloseHandle(HANDLE object) {
  // The pseudo handles of the current process and thread close without effect.
  if (object == reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)) ||
      object == reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)))
    return TRUE;
  std::shared_ptr<winsim::KernelObject> found = winsim::GetKernelObject(object);
  if (!found || !found->ClosedByCloseHandle()) return InvalidHandle();
  found.reset();
  return winsim::RemoveKernelHandle(object) ? TRUE : InvalidHandle();
}
