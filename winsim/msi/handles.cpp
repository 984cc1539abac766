#include "winsim/msi/handles.h"

#include <unordered_map>

namespace winsim {
namespace {

struct HandleTable {
  std::unordered_map<MSIHANDLE, std::shared_ptr<Object>> objects;
  MSIHANDLE next = 1;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

}  // namespace

MSIHANDLE AddHandle(std::shared_ptr<Object> object) {
  HandleTable& table = Table();
  MSIHANDLE handle = table.next++;
  if (table.next == 0) table.next = 1;
  table.objects[handle] = std::move(object);
  return handle;
}

std::shared_ptr<Object> GetObject(MSIHANDLE handle) {
  HandleTable& table = Table();
  auto it = table.objects.find(handle);
  return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(MSIHANDLE handle) { return Table().objects.erase(handle) != 0; }

std::size_t OpenHandleCount() { return Table().objects.size(); }

std::size_t RemoveAllHandles() {
  // Objects may hold handles of their own; release them outside the table walk.
  auto objects = std::move(Table().objects);
  Table().objects.clear();
  return objects.size();
}

}  // namespace winsim

UINT WINAPI MsiCloseHandle(MSIHANDLE handle) {
  if (handle == 0) return ERROR_SUCCESS;
  return winsim::RemoveHandle(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

UINT WINAPI MsiCloseAllHandles() {
  return static_cast<UINT>(winsim::RemoveAllHandles());
}
