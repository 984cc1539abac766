// Tool-help snapshots of the process list. Programs that must run where these
// functions are missing look them up with GetProcAddress on kernel32, so they
// are registered with the loader; a test can make one missing, make snapshots
// fail, or have entries carry full paths.
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/kernel32/handles.h"
#include "winsim/kernel32/modules.h"
#include "winsim/kernel32/process.h"

namespace winsim {
namespace {

struct Entry {
  DWORD id;
  DWORD parentId;
  std::string image;
};

struct Snapshot : KernelObject {
  std::vector<Entry> entries;
  std::size_t next = 0;
};

std::atomic<bool> g_fullPaths{false};
std::atomic<bool> g_fail{false};

struct Function {
  const char* name;
  FARPROC address;
};

const Function kFunctions[] = {
    {"CreateToolhelp32Snapshot",
     reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CreateToolhelp32Snapshot))},
    {"Process32First", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Process32First))},
    {"Process32Next", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Process32Next))},
};

bool RegisterAll() {
  for (const Function& f : kFunctions) RegisterSystemFunction("kernel32.dll", f.name, f.address);
  return true;
}

[[maybe_unused]] const bool g_registered = RegisterAll();

std::string ShownName(const std::string& image) {
  if (g_fullPaths) return image;
  std::size_t slash = image.find_last_of('\\');
  return slash == std::string::npos ? image : image.substr(slash + 1);
}

BOOL Fill(HANDLE handle, LPPROCESSENTRY32 entry, bool first) {
  auto snapshot = GetKernel<Snapshot>(handle);
  if (!snapshot) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!entry || entry->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (first) snapshot->next = 0;
  if (snapshot->next >= snapshot->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  const Entry& e = snapshot->entries[snapshot->next++];
  entry->cntUsage = 0;
  entry->th32ProcessID = e.id;
  entry->th32DefaultHeapID = 0;
  entry->th32ModuleID = 0;
  entry->cntThreads = 1;
  entry->th32ParentProcessID = e.parentId;
  entry->pcPriClassBase = 8;
  entry->dwFlags = 0;
  std::string name = ShownName(e.image);
  std::size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  std::memcpy(entry->szExeFile, name.data(), length);
  entry->szExeFile[length] = '\0';
  return TRUE;
}

}  // namespace

void SetSnapshotFullPaths(bool fullPaths) { g_fullPaths = fullPaths; }
void FailProcessSnapshots(bool fail) { g_fail = fail; }

void SetToolhelpFunctionMissing(const std::string& name) {
  RegisterSystemFunction("kernel32.dll", name.c_str(), nullptr);
}

void ResetProcessSnapshots() {
  g_fullPaths = false;
  g_fail = false;
  RegisterAll();
}

}  // namespace winsim

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  if (winsim::g_fail) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  auto snapshot = std::make_shared<winsim::Snapshot>();
  if (flags & TH32CS_SNAPPROCESS) {
    snapshot->entries.push_back({winsim::kTestProcessId, 0, winsim::kTestProgramImage});
    for (const auto& process : winsim::RunningProcesses())
      snapshot->entries.push_back({process->id, process->parentId, process->image});
  }
  return winsim::AddKernelHandle(snapshot);
}

BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  return winsim::Fill(snapshot, entry, true);
}

BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  return winsim::Fill(snapshot, entry, false);
}
