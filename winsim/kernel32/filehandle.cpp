// File and folder handles over the sandbox: CreateFileA with its dispositions, access and share modes,
// ReadFile, WriteFile, the file pointer and size, and file times.
#include "winsim/kernel32/filehandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/entries.h"
#include "winsim/kernel32/handles.h"
#include "winsim/kernel32/host.h"
#include "winsim/kernel32/paths.h"

namespace winsim {
namespace {

// ---- open files ---------------------------------------------------------------------------

// What a handle may do with the data, as the share-mode check sees it.
struct Access {
  bool read = false;
  bool write = false;
  bool remove = false;
  bool readAttributes = false;
  bool writeAttributes = false;
  bool Data() const { return read || write || remove; }
};

Access AccessOf(DWORD desired) {
  bool all = desired & (GENERIC_ALL | MAXIMUM_ALLOWED);
  Access a;
  a.read = all || (desired & (GENERIC_READ | GENERIC_EXECUTE | FILE_READ_DATA | FILE_EXECUTE));
  a.write = all || (desired & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA));
  a.remove = all || (desired & DELETE);
  a.readAttributes =
      all || (desired & (GENERIC_READ | GENERIC_EXECUTE | FILE_READ_ATTRIBUTES));
  a.writeAttributes = all || (desired & (GENERIC_WRITE | FILE_WRITE_ATTRIBUTES));
  return a;
}

struct FileObject;

// Every open file by host identity, for the share-mode checks.
struct OpenFiles {
  std::mutex mutex;
  std::multimap<std::pair<dev_t, ino_t>, FileObject*> byId;
};

// Never destroyed: file objects that a program leaves open are released by
// the handle table at exit and still look themselves up here.
OpenFiles& Opened() {
  static OpenFiles* opened = new OpenFiles;
  return *opened;
}

struct FileObject : KernelObject {
  int fd = -1;
  std::string host;
  bool directory = false;
  Access access;
  DWORD share = 0;
  std::pair<dev_t, ino_t> id{};
  unsigned long long position = 0;
  bool deleteOnClose = false;
  // A last-write time set through this handle stays when it writes later.
  bool keepWriteTime = false;
  FILETIME keptWriteTime{};

  ~FileObject() override {
    {
      std::lock_guard<std::mutex> lock(Opened().mutex);
      auto range = Opened().byId.equal_range(id);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second == this) {
          Opened().byId.erase(it);
          break;
        }
      }
    }
    if (fd >= 0) ::close(fd);
    if (deleteOnClose) {
      if ((directory ? ::rmdir(host.c_str()) : ::unlink(host.c_str())) == 0) NoteRemoved(host);
    }
  }
};

// Whether an open with `wanted` access and `share` mode clashes with the
// handles already open on the entry.
bool SharingClash(const std::pair<dev_t, ino_t>& id, const Access& wanted, DWORD share) {
  std::lock_guard<std::mutex> lock(Opened().mutex);
  auto range = Opened().byId.equal_range(id);
  for (auto it = range.first; it != range.second; ++it) {
    const FileObject& other = *it->second;
    // Opens for attributes only neither restrict nor are restricted.
    if (!other.access.Data() || !wanted.Data()) continue;
    if ((wanted.read && !(other.share & FILE_SHARE_READ)) ||
        (wanted.write && !(other.share & FILE_SHARE_WRITE)) ||
        (wanted.remove && !(other.share & FILE_SHARE_DELETE)))
      return true;
    if ((other.access.read && !(share & FILE_SHARE_READ)) ||
        (other.access.write && !(share & FILE_SHARE_WRITE)) ||
        (other.access.remove && !(share & FILE_SHARE_DELETE)))
      return true;
  }
  return false;
}

template <class T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

std::shared_ptr<FileObject> FileOf(HANDLE handle) { return GetKernel<FileObject>(handle); }

constexpr DWORD kCreationAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

bool OpenHandleForbidsDelete(const std::string& host) {
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return false;
  Access remove;
  remove.remove = true;
  return SharingClash({st.st_dev, st.st_ino}, remove,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

}  // namespace winsim

using winsim::Fail;

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile) {
  if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
      (shareMode & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)))
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  winsim::Access access = winsim::AccessOf(desiredAccess);
  if (creationDisposition == TRUNCATE_EXISTING && !access.write)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  std::string host;
  DWORD error;
  if (!winsim::MapPath(fileName, &host, &error)) return Fail(error, INVALID_HANDLE_VALUE);

  winsim::EntryData entry;
  bool exists = winsim::QueryEntry(host, &entry, &error);
  if (!exists && error != ERROR_FILE_NOT_FOUND) return Fail(error, INVALID_HANDLE_VALUE);
  DWORD attributes = flagsAndAttributes & winsim::kCreationAttributes;

  if (exists && entry.directory) {
    // A folder opens only as a folder, and only with backup semantics.
    if (!(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (creationDisposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    if (creationDisposition != OPEN_EXISTING && creationDisposition != OPEN_ALWAYS)
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  } else if (exists) {
    if (creationDisposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    if ((entry.attributes & FILE_ATTRIBUTE_READONLY) && (access.write || access.remove))
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    // Overwriting a hidden or system file must say so.
    DWORD guarded = entry.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (creationDisposition == CREATE_ALWAYS && (guarded & ~attributes))
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  } else if (creationDisposition == OPEN_EXISTING || creationDisposition == TRUNCATE_EXISTING) {
    return Fail(error, INVALID_HANDLE_VALUE);
  }

  struct stat st;
  if (exists) {
    if (::stat(host.c_str(), &st) != 0)
      return Fail(winsim::ErrorFromErrno(errno, host), INVALID_HANDLE_VALUE);
    if (winsim::SharingClash({st.st_dev, st.st_ino}, access, shareMode))
      return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
  }

  int flags = O_CLOEXEC;
  bool truncate = exists && !entry.directory &&
                  (creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING);
  if (exists && entry.directory) {
    flags |= O_RDONLY | O_DIRECTORY;
  } else {
    flags |= access.write ? (access.read ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (truncate && !access.write) flags = (flags & ~O_ACCMODE) | O_WRONLY;
    if (truncate) flags |= O_TRUNC;
    if (!exists) flags |= O_CREAT | O_EXCL;
  }
  int fd = ::open(host.c_str(), flags, 0666);
  if (fd < 0) {
    int err = errno;
    if (err == EISDIR) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (err == EEXIST) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    return Fail(winsim::ErrorFromErrno(err, host), INVALID_HANDLE_VALUE);
  }
  if (!exists) {
    winsim::NoteCreated(host, attributes | FILE_ATTRIBUTE_ARCHIVE);
    if (attributes & FILE_ATTRIBUTE_READONLY)
      winsim::SetEntryAttributes(host, attributes | FILE_ATTRIBUTE_ARCHIVE, &error);
  } else if (creationDisposition == CREATE_ALWAYS) {
    winsim::SetEntryAttributes(host, attributes | FILE_ATTRIBUTE_ARCHIVE, &error);
  }
  if (::fstat(fd, &st) != 0) st = {};

  auto file = std::make_shared<winsim::FileObject>();
  file->fd = fd;
  file->host = host;
  file->directory = exists && entry.directory;
  file->access = access;
  file->share = shareMode;
  file->id = {st.st_dev, st.st_ino};
  file->deleteOnClose = (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  {
    std::lock_guard<std::mutex> lock(winsim::Opened().mutex);
    winsim::Opened().byId.emplace(file->id, file.get());
  }
  HANDLE handle = winsim::AddKernelHandle(std::move(file));
  bool existed = exists && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped) {
  if (read) *read = 0;
  auto f = winsim::FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!read && !overlapped) return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
  if (f->directory) return Fail(ERROR_INVALID_FUNCTION, FALSE);
  if (!f->access.read) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (toRead == 0) return TRUE;
  if (!buffer) return Fail(ERROR_NOACCESS, FALSE);
  unsigned long long offset =
      overlapped ? (static_cast<unsigned long long>(overlapped->OffsetHigh) << 32) | overlapped->Offset
                 : f->position;
  DWORD total = 0;
  while (total < toRead) {
    ssize_t got = ::pread(f->fd, static_cast<char*>(buffer) + total, toRead - total,
                          static_cast<off_t>(offset + total));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(winsim::ErrorFromErrno(errno, f->host), FALSE);
    if (got == 0) break;
    total += static_cast<DWORD>(got);
  }
  f->position = offset + total;
  if (read) *read = total;
  if (overlapped) {
    overlapped->Internal = 0;
    overlapped->InternalHigh = total;
  }
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped) {
  if (written) *written = 0;
  auto f = winsim::FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!written && !overlapped) return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
  if (f->directory) return Fail(ERROR_INVALID_FUNCTION, FALSE);
  if (!f->access.write) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (toWrite == 0) return TRUE;
  if (!buffer) return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
  unsigned long long offset =
      overlapped ? (static_cast<unsigned long long>(overlapped->OffsetHigh) << 32) | overlapped->Offset
                 : f->position;
  DWORD total = 0;
  while (total < toWrite) {
    ssize_t put = ::pwrite(f->fd, static_cast<const char*>(buffer) + total, toWrite - total,
                           static_cast<off_t>(offset + total));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Fail(winsim::ErrorFromErrno(errno, f->host), FALSE);
    total += static_cast<DWORD>(put);
  }
  f->position = offset + total;
  if (written) *written = total;
  if (overlapped) {
    overlapped->Internal = 0;
    overlapped->InternalHigh = total;
  }
  if (f->keepWriteTime) {
    DWORD error;
    winsim::SetEntryTimes(f->host, nullptr, nullptr, &f->keptWriteTime, &error);
  }
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  auto f = winsim::FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return Fail(winsim::ErrorFromErrno(errno, f->host), INVALID_FILE_SIZE);
  unsigned long long size = f->directory ? 0 : static_cast<unsigned long long>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
  return static_cast<DWORD>(size);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  auto f = winsim::FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
  long long move = distanceHigh ? static_cast<long long>(
                                      (static_cast<unsigned long long>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                      static_cast<DWORD>(distance))
                                : static_cast<long long>(distance);
  long long base;
  switch (method) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = static_cast<long long>(f->position);
      break;
    case FILE_END: {
      struct stat st;
      if (::fstat(f->fd, &st) != 0)
        return Fail(winsim::ErrorFromErrno(errno, f->host), INVALID_SET_FILE_POINTER);
      base = st.st_size;
      break;
    }
    default:
      return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  long long target = base + move;
  if (target < 0) return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
  if (!distanceHigh && target > 0xFFFFFFFFll)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  f->position = static_cast<unsigned long long>(target);
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<unsigned long long>(target) >> 32);
  if (static_cast<DWORD>(target) == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
  return static_cast<DWORD>(target);
}

BOOL WINAPI SetEndOfFile(HANDLE file) {
  auto f = winsim::FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (f->directory || !f->access.write) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (::ftruncate(f->fd, static_cast<off_t>(f->position)) != 0)
    return Fail(winsim::ErrorFromErrno(errno, f->host), FALSE);
  return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess,
                        LPFILETIME lastWrite) {
  auto f = winsim::FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!f->access.readAttributes) return Fail(ERROR_ACCESS_DENIED, FALSE);
  winsim::EntryData entry;
  DWORD error;
  if (!winsim::QueryEntry(f->host, &entry, &error)) return Fail(error, FALSE);
  if (creation) *creation = entry.creation;
  if (lastAccess) *lastAccess = entry.lastAccess;
  if (lastWrite) *lastWrite = entry.lastWrite;
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                        const FILETIME* lastWrite) {
  auto f = winsim::FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!f->access.writeAttributes) return Fail(ERROR_ACCESS_DENIED, FALSE);
  DWORD error;
  if (!winsim::SetEntryTimes(f->host, creation, lastAccess, lastWrite, &error))
    return Fail(error, FALSE);
  if (lastWrite && winsim::TicksOf(*lastWrite) != 0) {
    f->keepWriteTime = true;
    if (winsim::TicksOf(*lastWrite) != ~0ull) f->keptWriteTime = *lastWrite;
    else {
      winsim::EntryData entry;
      if (winsim::QueryEntry(f->host, &entry, &error)) f->keptWriteTime = entry.lastWrite;
    }
  }
  return TRUE;
}
