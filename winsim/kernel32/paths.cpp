// The sandboxed file system's paths: the sandbox folder, Windows paths made
// full and mapped to host paths, the current directory, host errors.
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
#include "winsim/kernel32/host.h"
#include "winsim/kernel32/system.h"

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

// The sandbox folder, with the folders every Windows installation has made the
// first time it is used.
const std::string& SandboxFolder() {
  static const std::string root = [] {
    std::string folder = HostSandboxFolder();
    std::string drive = MapBelow(folder, {u"C"});
    ::mkdir(drive.c_str(), 0777);
    // The profile folders of the logged-on user follow its profile path
    // (C:\Users\name), whose first three characters name drive C:.
    const std::u16string profile = std::u16string(kUserProfile).substr(3);
    const std::u16string kFolders[] = {
        u"Windows\\System32",
        u"Windows\\SysWOW64",
        u"Windows\\Fonts",
        u"Program Files\\Common Files",
        u"Program Files (x86)\\Common Files",
        u"ProgramData",
        u"Users\\Public",
        profile + u"\\AppData\\Local\\Temp",
        profile + u"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
        profile + u"\\Desktop",
        profile + u"\\Documents",
    };
    for (const std::u16string& windowsFolder : kFolders) {
      std::string host = drive;
      for (const std::u16string& part : Split(windowsFolder)) {
        host = MapBelow(host, {part});
        ::mkdir(host.c_str(), 0777);
      }
    }
    return folder;
  }();
  return root;
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
  const std::string& sandbox = SandboxFolder();
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

bool MapPathOfAnyLength(LPCSTR path, std::string* host, DWORD* error) {
  if (!path) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::u16string full;
  if (!FullWindowsPath(ToWide(path), &full, error)) return false;
  *host = HostPathOf(full);
  return true;
}

bool MapPath(LPCSTR path, std::string* host, DWORD* error) {
  if (path && ToWide(path).size() > MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  return MapPathOfAnyLength(path, host, error);
}

std::u16string CurrentDirectory() {
  std::lock_guard<std::mutex> lock(g_cwdMutex);
  return Cwd();
}

void SetCurrentDirectoryPath(std::u16string fullPath) {
  std::lock_guard<std::mutex> lock(g_cwdMutex);
  Cwd() = std::move(fullPath);
}

// ---- controls ----------------------------------------------------------------------------

std::string SandboxRoot() { return SandboxFolder(); }

std::string HostPath(const std::string& windowsPath) {
  std::string host;
  DWORD error;
  return MapPathOfAnyLength(windowsPath.c_str(), &host, &error) ? host : std::string();
}

bool SetShortName(const std::string& windowsPath, const std::string& shortName) {
  return SetEntryShortName(HostPath(windowsPath), shortName);
}

}  // namespace winsim
