// Change notifications: a handle that is signalled when a file in the watched
// folder (or below it, when the subtree is watched) changes in a way the filter
// names. The changes come from the programs that run (control.h's
// FileChange); FindNextChangeNotification re-arms the handle for changes after
// that moment.
#include "winsim/kernel32/change.h"

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/paths.h"
#include "winsim/kernel32/process.h"

namespace winsim {
namespace {

struct Change {
  Milliseconds time;
  std::u16string path;  // full Windows path
  DWORD kind;
};

struct Changes {
  std::mutex mutex;
  std::vector<Change> changes;
};

Changes& Recorded() {
  static Changes changes;
  return changes;
}

std::atomic<std::size_t> g_rearms{0};

struct Notification : Waitable {
  std::u16string folder;  // full Windows path, no trailing "\"
  bool subtree;
  DWORD filter;
  Milliseconds armedAt;

  bool Watches(const Change& change) const {
    if (!(change.kind & filter)) return false;
    std::size_t slash = change.path.find_last_of(u'\\');
    if (slash == std::u16string::npos) return false;
    std::u16string parent = change.path.substr(0, slash);
    if (EqualNoCase(parent, folder)) return true;
    return subtree && parent.size() > folder.size() && parent[folder.size()] == u'\\' &&
           EqualNoCase(std::u16string_view(parent).substr(0, folder.size()), folder);
  }
  // The first change this notification sees after it was armed.
  Milliseconds FirstChange() const {
    Changes& all = Recorded();
    std::lock_guard<std::mutex> lock(all.mutex);
    Milliseconds first = kNever;
    for (const Change& change : all.changes)
      if (change.time > armedAt && change.time < first && Watches(change)) first = change.time;
    return first;
  }
  bool Signaled() const override { return FirstChange() <= Now(); }
  Milliseconds SignalTime() const override { return FirstChange(); }
};

std::u16string WithoutTrailingSlash(std::u16string path) {
  while (path.size() > 3 && path.back() == u'\\') path.pop_back();
  return path;
}

}  // namespace

void ScheduleFileChange(Milliseconds time, const std::string& path, DWORD kind) {
  std::u16string full;
  DWORD error = 0;
  if (!FullWindowsPath(ToWide(path), &full, &error)) return;
  Changes& all = Recorded();
  std::lock_guard<std::mutex> lock(all.mutex);
  all.changes.push_back({time, std::move(full), kind});
}

void ClearFileChanges() {
  Changes& all = Recorded();
  std::lock_guard<std::mutex> lock(all.mutex);
  all.changes.clear();
}

std::size_t ChangeNotificationRearms() { return g_rearms.load(); }

}  // namespace winsim

HANDLE WINAPI FindFirstChangeNotificationA(LPCSTR pathName, BOOL watchSubtree, DWORD filter) {
  if (!pathName || !*pathName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  for (const char* p = pathName; *p; ++p) {
    if (*p == '"' || *p == '<' || *p == '>' || *p == '|' || *p == '*' || *p == '?') {
      SetLastError(ERROR_INVALID_NAME);
      return INVALID_HANDLE_VALUE;
    }
  }
  std::u16string full;
  std::string host;
  DWORD error = 0;
  if (!winsim::FullWindowsPath(winsim::ToWide(pathName), &full, &error) ||
      !winsim::MapPath(pathName, &host, &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  struct stat info;
  if (::stat(host.c_str(), &info) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return INVALID_HANDLE_VALUE;
  }
  if (!filter || (filter & ~0x17Fu)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto notification = std::make_shared<winsim::Notification>();
  notification->folder = winsim::WithoutTrailingSlash(full);
  notification->subtree = watchSubtree != FALSE;
  notification->filter = filter;
  notification->armedAt = winsim::Now();
  return winsim::AddKernelHandle(notification);
}

BOOL WINAPI FindNextChangeNotification(HANDLE change) {
  auto notification = winsim::GetKernel<winsim::Notification>(change);
  if (!notification) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  notification->armedAt = winsim::Now();
  ++winsim::g_rearms;
  return TRUE;
}

BOOL WINAPI FindCloseChangeNotification(HANDLE change) {
  if (!winsim::GetKernel<winsim::Notification>(change) || !winsim::RemoveKernelHandle(change)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
