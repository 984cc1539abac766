// The sandboxed file system: path mapping, folders, file deletion and
// attributes, the temporary folder.
#include "winsim/files.h"

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

#include "runtime/win.h"
#include "winsim/control.h"
#include "winsim/kernel.h"

namespace winsim {
namespace {

namespace fs = std::filesystem;

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool IsDirectory(const std::string& host) { return IsHostDirectory(host); }

bool Exists(const std::string& host) {
  struct stat st;
  return ::lstat(host.c_str(), &st) == 0;
}

// The host name of the entry of folder `dir` named `name`: an exact match,
// else the first entry equal without regard to case, else `name` itself.
std::string ResolveChild(const std::string& dir, std::u16string_view name, bool dirExists,
                         bool* found) {
  std::string utf8 = ToUtf8(name);
  *found = false;
  if (!dirExists) return utf8;
  if (Exists(dir + "/" + utf8)) {
    *found = true;
    return utf8;
  }
  if (DIR* d = ::opendir(dir.c_str())) {
    std::string match;
    while (dirent* entry = ::readdir(d)) {
      std::string entryName = entry->d_name;
      if (entryName == "." || entryName == "..") continue;
      if (EqualNoCase(FromUtf8(entryName), name)) {
        match = entryName;
        break;
      }
    }
    ::closedir(d);
    if (!match.empty()) {
      *found = true;
      return match;
    }
  }
  // An 8.3 name names its entry too ("PROGRA~1").
  std::string byShortName;
  if (FindByShortName(dir, name, &byShortName)) {
    *found = true;
    return byShortName;
  }
  return utf8;
}

// Maps the components below a host folder.
std::string MapBelow(std::string host, const std::vector<std::u16string>& components) {
  bool exists = IsDirectory(host);
  for (const std::u16string& component : components) {
    bool found;
    std::string child = ResolveChild(host, component, exists, &found);
    host += "/" + child;
    exists = found && IsDirectory(host);
  }
  return host;
}

std::vector<std::u16string> Split(std::u16string_view text) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == u'\\') {
      if (i > start) parts.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// ---- the sandbox folder -------------------------------------------------------------

struct Sandbox {
  std::string root;
  bool owned = false;

  Sandbox() {
    const char* fromEnv = std::getenv("WINSIM_ROOT");
    std::error_code ec;
    if (fromEnv && *fromEnv) {
      root = fromEnv;
      fs::create_directories(root, ec);
    } else {
      std::string pattern = (fs::temp_directory_path(ec) / "winsim-XXXXXX").string();
      std::vector<char> buffer(pattern.begin(), pattern.end());
      buffer.push_back('\0');
      if (::mkdtemp(buffer.data())) {
        root = buffer.data();
        owned = true;
      } else {
        root = pattern.substr(0, pattern.size() - 7) + std::to_string(::getpid());
        fs::create_directories(root, ec);
        owned = true;
      }
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    // The folders every Windows installation has.
    std::string drive = MapBelow(root, {u"C"});
    ::mkdir(drive.c_str(), 0777);
    for (const char16_t* folder : {u"Windows\\System32", u"Temp", u"Program Files\\Common Files"}) {
      std::string host = drive;
      for (const std::u16string& part : Split(folder)) {
        host = MapBelow(host, {part});
        ::mkdir(host.c_str(), 0777);
      }
    }
  }

  ~Sandbox() {
    if (!owned) return;
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Sandbox& TheSandbox() {
  static Sandbox sandbox;
  return sandbox;
}

std::mutex g_cwdMutex;
std::u16string& Cwd() {
  static std::u16string cwd = u"C:\\";
  return cwd;
}

// The root part of a full path: "C:" or "\\server\share".
std::u16string RootOf(const std::u16string& full) {
  if (full.size() >= 2 && full[1] == u':') return full.substr(0, 2);
  size_t server = full.find(u'\\', 2);
  if (server == std::u16string::npos) return full;
  size_t share = full.find(u'\\', server + 1);
  return share == std::u16string::npos ? full : full.substr(0, share);
}

bool HasInvalidCharacter(std::u16string_view component) {
  for (char16_t c : component)
    if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
        c == u'*')
      return true;
  return false;
}

}  // namespace

bool IsHostDirectory(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FullWindowsPath(std::u16string_view input, std::u16string* full, DWORD* error) {
  std::u16string path(input);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  if (path.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  // "\\?\C:\x" and "\\?\UNC\server\share" name the same paths without the prefix.
  if (path.rfind(u"\\\\?\\", 0) == 0) {
    path.erase(0, 4);
    if (path.size() >= 4 && EqualNoCase(std::u16string_view(path).substr(0, 4), u"UNC\\"))
      path.replace(0, 4, u"\\\\");
  } else if (path.rfind(u"\\\\.\\", 0) == 0) {
    *error = ERROR_PATH_NOT_FOUND;  // devices are not part of the file system
    return false;
  }

  std::u16string root, rest;
  if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    size_t serverEnd = path.find(u'\\', 2);
    std::u16string server = path.substr(2, serverEnd == std::u16string::npos ? std::u16string::npos
                                                                               : serverEnd - 2);
    size_t shareEnd = serverEnd == std::u16string::npos ? std::u16string::npos
                                                        : path.find(u'\\', serverEnd + 1);
    std::u16string share =
        serverEnd == std::u16string::npos
            ? std::u16string()
            : path.substr(serverEnd + 1, shareEnd == std::u16string::npos ? std::u16string::npos
                                                                          : shareEnd - serverEnd - 1);
    if (server.empty() || share.empty() || HasInvalidCharacter(server) || HasInvalidCharacter(share)) {
      *error = ERROR_BAD_PATHNAME;
      return false;
    }
    root = u"\\\\" + server + u"\\" + share;
    if (shareEnd != std::u16string::npos) rest = path.substr(shareEnd + 1);
  } else if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':') {
    char16_t drive = UpperChar(path[0]);
    if (path.size() >= 3 && path[2] == u'\\') {
      root = std::u16string(1, drive) + u":";
      rest = path.substr(3);
    } else {
      // "X:name" is relative to the current directory when that is on X:.
      std::u16string cwd = CurrentDirectory();
      std::u16string base = (cwd.size() >= 2 && cwd[1] == u':' && UpperChar(cwd[0]) == drive)
                                ? cwd
                                : std::u16string(1, drive) + u":\\";
      return FullWindowsPath(base + u"\\" + path.substr(2), full, error);
    }
  } else if (path[0] == u'\\') {
    root = RootOf(CurrentDirectory());
    rest = path.substr(1);
  } else {
    return FullWindowsPath(CurrentDirectory() + u"\\" + path, full, error);
  }

  bool trailingSeparator = !rest.empty() && rest.back() == u'\\';
  std::vector<std::u16string> parts;
  for (std::u16string& part : Split(rest)) {
    if (part == u".") continue;
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    std::u16string& part = parts[i];
    bool allDots = part.find_first_not_of(u'.') == std::u16string::npos;
    if (allDots) continue;
    if (i + 1 == parts.size() && !trailingSeparator) {
      while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
    } else if (part.back() == u'.' && part[part.size() - 2] != u'.') {
      part.pop_back();
    }
  }
  if (!parts.empty() && parts.back().empty()) parts.pop_back();
  for (const std::u16string& part : parts) {
    if (HasInvalidCharacter(part)) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
  }

  std::u16string result = root;
  if (parts.empty() && root.size() == 2) result += u'\\';
  for (const std::u16string& part : parts) result += u"\\" + part;
  *full = std::move(result);
  return true;
}

std::string HostPathOf(std::u16string_view fullPath) {
  const std::string& sandbox = TheSandbox().root;
  std::vector<std::u16string> components;
  if (fullPath.size() >= 2 && fullPath[1] == u':') {
    components.emplace_back(1, UpperChar(fullPath[0]));
    for (std::u16string& part : Split(fullPath.substr(2))) components.push_back(std::move(part));
  } else {
    components.emplace_back(u"UNC");
    for (std::u16string& part : Split(fullPath)) components.push_back(std::move(part));
  }
  return MapBelow(sandbox, components);
}

bool MapPath(LPCSTR path, std::string* host, DWORD* error) {
  if (!path) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::u16string full;
  if (!FullWindowsPath(ToWide(path), &full, error)) return false;
  *host = HostPathOf(full);
  return true;
}

std::u16string CurrentDirectory() {
  std::lock_guard<std::mutex> lock(g_cwdMutex);
  return Cwd();
}

void SetCurrentDirectoryPath(std::u16string fullPath) {
  std::lock_guard<std::mutex> lock(g_cwdMutex);
  Cwd() = std::move(fullPath);
}

DWORD ErrorFromErrno(int err, const std::string& hostPath) {
  switch (err) {
    case ENOENT: {
      size_t slash = hostPath.rfind('/');
      std::string parent = slash == std::string::npos ? std::string(".") : hostPath.substr(0, slash);
      return IsDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

// ---- controls ----------------------------------------------------------------------------

std::string SandboxRoot() { return TheSandbox().root; }

std::string HostPath(const std::string& windowsPath) {
  std::string host;
  DWORD error;
  return MapPath(windowsPath.c_str(), &host, &error) ? host : std::string();
}

}  // namespace winsim

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
  if (winsim::MapPath(newName, &existing, &error) && !SameHostEntry(existing, from)) {
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
  if (winsim::MapPath(newName, &existing, &error)) {
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
