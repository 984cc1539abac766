// Folders, file deletion, moves and copies, attributes, the temporary folder.
#include "winsim/kernel32/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/entries.h"
#include "winsim/kernel32/filehandle.h"
#include "winsim/kernel32/host.h"
#include "winsim/kernel32/system.h"

namespace {

// Fails the call with the given error code.
template <class T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

bool IsDriveOrShareRoot(const std::string& host) {
  // The sandbox folder's own children ("C", "UNC") and the shares below UNC.
  std::string root = winsim::SandboxRoot();
  if (host.size() <= root.size()) return true;
  std::string tail = host.substr(root.size() + 1);
  size_t slashes = std::count(tail.begin(), tail.end(), '/');
  if (slashes == 0) return true;
  return tail.rfind("UNC/", 0) == 0 && slashes <= 2;
}

// A path whose last component is to be made or renamed: the full Windows
// path, and the host path of its folder joined to the last component as
// spelled (so that "a.txt" can become "A.TXT").
bool MapNewEntry(LPCSTR path, std::u16string* full, std::string* host, DWORD* error) {
  if (!path) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (!winsim::FullWindowsPath(winsim::ToWide(path), full, error)) return false;
  size_t slash = full->rfind(u'\\');
  bool isRoot = slash == std::u16string::npos || slash + 1 == full->size() ||
                (full->size() > 2 && (*full)[0] == u'\\' &&
                 std::count(full->begin(), full->end(), u'\\') <= 3);
  if (isRoot) {
    *error = ERROR_ACCESS_DENIED;
    return false;
  }
  std::u16string parent = full->substr(0, slash);
  if (parent.size() == 2 && parent[1] == u':') parent += u'\\';
  *host = winsim::HostPathOf(parent) + "/" + winsim::ToUtf8(full->substr(slash + 1));
  return true;
}

// The volume part of a full path: "C:" or "\\server\share", upper case.
std::u16string VolumeOf(const std::u16string& full) {
  std::u16string volume;
  if (full.size() >= 2 && full[1] == u':') {
    volume = full.substr(0, 2);
  } else {
    size_t server = full.find(u'\\', 2);
    size_t share = server == std::u16string::npos ? server : full.find(u'\\', server + 1);
    volume = full.substr(0, share);
  }
  for (char16_t& c : volume) c = winsim::UpperChar(c);
  return volume;
}

bool SameHostEntry(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool CopyHostFile(const std::string& from, const std::string& to, DWORD* error) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = winsim::ErrorFromErrno(errno, from);
    return false;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    *error = winsim::ErrorFromErrno(errno, to);
    ::close(in);
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ok = false;
        break;
      }
      done += put;
    }
    if (!ok) break;
  }
  if (!ok) *error = winsim::ErrorFromErrno(errno, to);
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    *error = winsim::ErrorFromErrno(errno, to);
  }
  return ok;
}

}  // namespace

BOOL WINAPI CreateDirectoryA(LPCSTR path, void* security) {
  std::string host;
  DWORD error;
  if (!winsim::MapPath(path, &host, &error)) return Fail(error, FALSE);
  if (::mkdir(host.c_str(), 0777) != 0) return Fail(winsim::ErrorFromErrno(errno, host), FALSE);
  winsim::NoteCreated(host, 0);
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
  std::string host;
  DWORD error;
  if (!winsim::MapPath(path, &host, &error)) return Fail(error, FALSE);
  if (IsDriveOrShareRoot(host)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  winsim::EntryData entry;
  if (!winsim::QueryEntry(host, &entry, &error)) return Fail(error, FALSE);
  if (!entry.directory) return Fail(ERROR_DIRECTORY, FALSE);
  if (entry.attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (winsim::OpenHandleForbidsDelete(host)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  if (::rmdir(host.c_str()) != 0) {
    int err = errno == EEXIST ? ENOTEMPTY : errno;
    return Fail(winsim::ErrorFromErrno(err, host), FALSE);
  }
  winsim::NoteRemoved(host);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  std::string host;
  DWORD error;
  if (!winsim::MapPath(path, &host, &error)) return Fail(error, FALSE);
  winsim::EntryData entry;
  if (!winsim::QueryEntry(host, &entry, &error)) return Fail(error, FALSE);
  // A folder is not a file, and a read-only file cannot be deleted.
  if (entry.directory || (entry.attributes & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (winsim::OpenHandleForbidsDelete(host)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  if (::unlink(host.c_str()) != 0) return Fail(winsim::ErrorFromErrno(errno, host), FALSE);
  winsim::NoteRemoved(host);
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  std::string host;
  DWORD error;
  if (!winsim::MapPath(path, &host, &error)) return Fail(error, INVALID_FILE_ATTRIBUTES);
  winsim::EntryData entry;
  if (!winsim::QueryEntry(host, &entry, &error)) return Fail(error, INVALID_FILE_ATTRIBUTES);
  return entry.attributes;
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  std::string host;
  DWORD error;
  if (!winsim::MapPath(path, &host, &error)) return Fail(error, FALSE);
  if (!winsim::SetEntryAttributes(host, attributes, &error)) return Fail(error, FALSE);
  return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags) {
  std::string from, to;
  std::u16string fromFull, toFull;
  DWORD error;
  if (!winsim::MapPath(existingName, &from, &error)) return Fail(error, FALSE);
  if (!existingName || !winsim::FullWindowsPath(winsim::ToWide(existingName), &fromFull, &error))
    return Fail(error, FALSE);
  winsim::EntryData source;
  if (!winsim::QueryEntry(from, &source, &error)) return Fail(error, FALSE);
  if (IsDriveOrShareRoot(from)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!MapNewEntry(newName, &toFull, &to, &error)) return Fail(error, FALSE);
  size_t slash = to.rfind('/');
  if (!winsim::IsHostDirectory(to.substr(0, slash))) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  // A folder stays on its volume.
  if (source.directory && VolumeOf(fromFull) != VolumeOf(toFull))
    return Fail(17L /* ERROR_NOT_SAME_DEVICE */, FALSE);

  // The target may already exist under another spelling; renaming an entry to
  // its own name in another case is no clash.
  std::string existing;
  if (winsim::MapPathOfAnyLength(newName, &existing, &error) && !SameHostEntry(existing, from)) {
    winsim::EntryData target;
    if (winsim::QueryEntry(existing, &target, &error)) {
      if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
      if (target.directory || source.directory || (target.attributes & FILE_ATTRIBUTE_READONLY))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
      if (winsim::OpenHandleForbidsDelete(existing)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
      if (::unlink(existing.c_str()) != 0)
        return Fail(winsim::ErrorFromErrno(errno, existing), FALSE);
      winsim::NoteRemoved(existing);
    }
  }
  if (winsim::OpenHandleForbidsDelete(from)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  if (::rename(from.c_str(), to.c_str()) != 0)
    return Fail(winsim::ErrorFromErrno(errno, to), FALSE);
  winsim::NoteMoved(from, to);
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR existingName, LPCSTR newName) {
  return MoveFileExA(existingName, newName, MOVEFILE_COPY_ALLOWED);
}

BOOL WINAPI CopyFileA(LPCSTR existingName, LPCSTR newName, BOOL failIfExists) {
  std::string from, to;
  std::u16string toFull;
  DWORD error;
  if (!winsim::MapPath(existingName, &from, &error)) return Fail(error, FALSE);
  winsim::EntryData source;
  if (!winsim::QueryEntry(from, &source, &error)) return Fail(error, FALSE);
  if (source.directory) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!MapNewEntry(newName, &toFull, &to, &error)) return Fail(error, FALSE);
  if (!winsim::IsHostDirectory(to.substr(0, to.rfind('/')))) return Fail(ERROR_PATH_NOT_FOUND, FALSE);

  std::string existing;
  bool replacing = false;
  if (winsim::MapPathOfAnyLength(newName, &existing, &error)) {
    winsim::EntryData target;
    if (winsim::QueryEntry(existing, &target, &error)) {
      if (SameHostEntry(existing, from)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
      if (failIfExists) return Fail(ERROR_FILE_EXISTS, FALSE);
      if (target.directory ||
          (target.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
      to = existing;
      replacing = true;
    }
  }
  if (!CopyHostFile(from, to, &error)) return Fail(error, FALSE);
  DWORD attributes = source.attributes == FILE_ATTRIBUTE_NORMAL ? 0 : source.attributes;
  if (!replacing) winsim::NoteCreated(to, attributes | FILE_ATTRIBUTE_ARCHIVE);
  else winsim::SetEntryAttributes(to, attributes | FILE_ATTRIBUTE_ARCHIVE, &error);
  // The copy keeps the original's last-write time.
  winsim::SetEntryTimes(to, nullptr, nullptr, &source.lastWrite, &error);
  return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  // The first of TMP, TEMP and USERPROFILE that is set, else the Windows
  // folder; always with a trailing backslash.
  std::u16string full;
  for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
    std::string value;
    DWORD error;
    if (winsim::LookupEnvironment(name, &value) && !value.empty() &&
        winsim::FullWindowsPath(winsim::ToWide(value), &full, &error))
      break;
    full.clear();
  }
  if (full.empty()) full = winsim::kWindowsFolder;
  if (full.back() != u'\\') full += u'\\';
  std::string text = winsim::ToAnsi(full);
  if (buffer && size > text.size()) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
  }
  return static_cast<DWORD>(text.size() + 1);
}
