// What NTFS keeps beside a file's data and the host file system does not:
// the creation time, the DOS attributes and the 8.3 short name (see files.h
// for where it lives and how long), and the time conversions they need.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/entries.h"
#include "winsim/kernel32/host.h"

namespace winsim {
namespace {

constexpr unsigned long long kTicksPerSecond = 10000000ull;
constexpr long long kSecondsFrom1601To1970 = 11644473600ll;

// The attributes a program can set; the others come from the file system.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ---- the host's view of an entry ----------------------------------------------------

struct HostStat {
  bool directory = false;
  dev_t dev = 0;
  ino_t ino = 0;
  mode_t mode = 0;
  unsigned long long size = 0;
  timespec atime{}, mtime{};
  timespec btime{};  // {0, 0} where the host records no birth time
};

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// stat() plus the birth time where the host file system records one.
bool StatHost(const std::string& host, HostStat* out, int* err) {
  struct statx sx;
  if (::statx(AT_FDCWD, host.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    *err = errno;
    return false;
  }
  out->directory = S_ISDIR(sx.stx_mode);
  out->dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  out->ino = sx.stx_ino;
  out->mode = sx.stx_mode;
  out->size = out->directory ? 0 : sx.stx_size;
  out->atime = {static_cast<time_t>(sx.stx_atime.tv_sec), static_cast<long>(sx.stx_atime.tv_nsec)};
  out->mtime = {static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec)};
  if (sx.stx_mask & STATX_BTIME)
    out->btime = {static_cast<time_t>(sx.stx_btime.tv_sec),
                  static_cast<long>(sx.stx_btime.tv_nsec)};
  return true;
}

bool HasBirth(const HostStat& st) { return st.btime.tv_sec != 0 || st.btime.tv_nsec != 0; }

// When an entry came to be: its birth time, else its last-write time.
timespec BornAt(const HostStat& st) { return HasBirth(st) ? st.btime : st.mtime; }

unsigned long long TicksOfHost(const timespec& t) { return TicksFromHost(t.tv_sec, t.tv_nsec); }

// ---- the kept state -------------------------------------------------------------------

struct Entry {
  // The host entry this state belongs to: inode and birth time.
  dev_t dev = 0;
  ino_t ino = 0;
  timespec birth{};
  std::u16string shortName;
  bool shortNameAssigned = false;
  unsigned long long creation = 0;
  DWORD attributes = 0;  // kSettableAttributes only
  // Times set through SetFileTime, valid while the host's last-write time is
  // still the one seen right after they were set (a later write replaces
  // them, as it does on NTFS).
  bool writeKept = false, accessKept = false;
  unsigned long long writeTicks = 0, accessTicks = 0;
  timespec keptStamp{};
};

struct Folder {
  std::map<std::string, Entry> entries;  // by host name
};

std::mutex g_mutex;

std::map<std::string, Folder>& Folders() {
  static std::map<std::string, Folder> folders;
  return folders;
}

bool SplitHost(const std::string& host, std::string* parent, std::string* name) {
  size_t slash = host.rfind('/');
  if (slash == std::string::npos || slash == 0) return false;
  *parent = host.substr(0, slash);
  *name = host.substr(slash + 1);
  return true;
}

bool Matches(const Entry& e, const HostStat& st) {
  return e.dev == st.dev && e.ino == st.ino && SameTime(e.birth, st.btime);
}

Entry Adopt(const HostStat& st) {
  Entry e;
  e.dev = st.dev;
  e.ino = st.ino;
  e.birth = st.btime;
  e.creation = TicksOfHost(BornAt(st));
  if (!st.directory) {
    e.attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.mode & S_IWUSR)) e.attributes |= FILE_ATTRIBUTE_READONLY;
  }
  return e;
}

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = UpperChar(c);
  return out;
}

bool IsShortNameChar(char16_t c) {
  if (c <= 0x20 || c >= 0x7F) return false;
  for (char16_t bad : u"\"*+,/:;<=>?[\\]|.")
    if (bad && c == bad) return false;
  return true;
}

// A long name's characters as they may appear in a short name: upper case,
// spaces and dots dropped, "+,;=[]" and characters outside ASCII as "_".
std::u16string ShortNamePart(std::u16string_view part) {
  std::u16string out;
  for (char16_t c : part) {
    if (c == u' ' || c == u'.') continue;
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (!IsShortNameChar(c)) c = u'_';
    out += c;
  }
  return out;
}

unsigned NameChecksum(std::u16string_view name) {
  unsigned sum = 0;
  for (char16_t c : name) {
    sum = ((sum & 1u) << 15) + (sum >> 1) + UpperChar(c);
    sum &= 0xFFFFu;
  }
  return sum;
}

// ---- 8.3 names ---------------------------------------------------------------------------
//
// A long name that is a valid 8.3 name (in any case) needs no short name.
// Others get the first six usable characters of the name before its last dot,
// "~1" to "~4", and up to three characters of the extension; from the fifth
// clash on, two characters, four hex digits of a checksum of the long name,
// and "~1", "~2", ... Usable characters are upper case ASCII; spaces and dots
// are dropped, "+,;=[]" and everything outside ASCII become "_".

bool IsValid83Name(std::u16string_view name) {
  if (name == u"." || name == u"..") return true;
  if (name.empty() || name.size() > 12) return false;
  size_t dot = name.find(u'.');
  std::u16string_view base = name.substr(0, dot);
  std::u16string_view ext;
  if (dot != std::u16string_view::npos) {
    ext = name.substr(dot + 1);
    if (ext.empty() || ext.size() > 3 || ext.find(u'.') != std::u16string_view::npos) return false;
  }
  if (base.empty() || base.size() > 8) return false;
  for (char16_t c : base)
    if (!IsShortNameChar(c)) return false;
  for (char16_t c : ext)
    if (!IsShortNameChar(c)) return false;
  return true;
}

std::u16string ShortNameCandidate(std::u16string_view longName, int attempt) {
  // Leading dots never start an extension (".profile" has none).
  size_t start = longName.find_first_not_of(u'.');
  if (start == std::u16string_view::npos) start = longName.size();
  size_t lastDot = longName.rfind(u'.');
  bool hasExtension = lastDot != std::u16string_view::npos && lastDot >= start;
  std::u16string base =
      ShortNamePart(longName.substr(start, hasExtension ? lastDot - start : std::u16string_view::npos));
  std::u16string ext = hasExtension ? ShortNamePart(longName.substr(lastDot + 1)) : u"";
  if (ext.size() > 3) ext.resize(3);
  if (base.empty()) base = u"_";

  std::u16string stem;
  std::u16string tail;
  if (attempt <= 4) {
    stem = base.substr(0, 6);
    tail = u"~" + FromUtf8(std::to_string(attempt));
  } else {
    // From the fifth on: two characters of the name, four hex digits of a
    // checksum of the whole long name, then "~1", "~2", ...
    static const char16_t kHex[] = u"0123456789ABCDEF";
    unsigned sum = NameChecksum(longName);
    stem = base.substr(0, 2);
    for (int shift = 12; shift >= 0; shift -= 4) stem += kHex[(sum >> shift) & 0xF];
    tail = u"~" + FromUtf8(std::to_string(attempt - 4));
    if (stem.size() + tail.size() > 8) stem.resize(8 - tail.size());
  }
  std::u16string result = stem + tail;
  if (!ext.empty()) result += u"." + ext;
  return result;
}

// Brings a folder's table in line with the host: entries that appeared are
// adopted, entries that went are dropped, and every entry whose long name is
// not a valid 8.3 name gets a short name no other entry of the folder uses
// (as long name or short name). New short names are handed out in the order
// the entries were created, as NTFS hands them out. `present` receives what
// the host said about each entry, when asked for.
Folder& Sync(const std::string& folderHost, std::vector<std::pair<std::string, HostStat>>* present) {
  Folder& folder = Folders()[folderHost];
  std::vector<std::pair<std::string, HostStat>> seen;
  if (DIR* d = ::opendir(folderHost.c_str())) {
    while (dirent* ent = ::readdir(d)) {
      std::string name = ent->d_name;
      if (name == "." || name == "..") continue;
      HostStat st;
      int err;
      if (!StatHost(folderHost + "/" + name, &st, &err)) continue;
      seen.emplace_back(std::move(name), st);
    }
    ::closedir(d);
  }
  std::map<std::string, Entry> kept;
  for (const auto& [name, st] : seen) {
    auto it = folder.entries.find(name);
    if (it != folder.entries.end() && Matches(it->second, st))
      kept.emplace(name, std::move(it->second));
    else
      kept.emplace(name, Adopt(st));
  }
  folder.entries = std::move(kept);

  std::set<std::u16string> used;
  std::vector<std::pair<std::string, Entry*>> waiting;
  for (auto& [name, entry] : folder.entries) {
    std::u16string wide = FromUtf8(name);
    if (IsValid83Name(wide)) used.insert(Upper(wide));
    if (entry.shortNameAssigned) {
      if (!entry.shortName.empty()) used.insert(entry.shortName);
    } else {
      waiting.emplace_back(name, &entry);
    }
  }
  std::sort(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
    if (a.second->creation != b.second->creation) return a.second->creation < b.second->creation;
    return a.first < b.first;
  });
  for (auto& [name, entry] : waiting) {
    std::u16string wide = FromUtf8(name);
    entry->shortNameAssigned = true;
    if (IsValid83Name(wide)) continue;
    for (int attempt = 1;; ++attempt) {
      std::u16string candidate = ShortNameCandidate(wide, attempt);
      if (used.insert(candidate).second) {
        entry->shortName = std::move(candidate);
        break;
      }
    }
  }
  if (present) *present = std::move(seen);
  return folder;
}

// The kept state of an existing host entry (adopting it when it is new).
// Null for the sandbox folder itself, which has no folder above it here.
Entry* Lookup(const std::string& host, const HostStat& st) {
  std::string parent, name;
  if (!SplitHost(host, &parent, &name) || host.size() <= HostSandboxFolder().size()) return nullptr;
  Folder& folder = Folders()[parent];
  auto it = folder.entries.find(name);
  if (it == folder.entries.end() || !Matches(it->second, st) || !it->second.shortNameAssigned) {
    Sync(parent, nullptr);
    it = folder.entries.find(name);
    if (it == folder.entries.end()) return nullptr;
  }
  return &it->second;
}

void Describe(const HostStat& st, const Entry* e, EntryData* data) {
  data->directory = st.directory;
  data->size = st.size;
  DWORD attributes = e ? e->attributes : (st.directory ? 0 : FILE_ATTRIBUTE_ARCHIVE);
  if (st.directory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  data->attributes = attributes;
  data->creation = FileTimeOf(e ? e->creation : TicksOfHost(BornAt(st)));
  bool keptValid = e && SameTime(e->keptStamp, st.mtime);
  data->lastWrite = FileTimeOf(keptValid && e->writeKept ? e->writeTicks : TicksOfHost(st.mtime));
  data->lastAccess =
      FileTimeOf(keptValid && e->accessKept ? e->accessTicks : TicksOfHost(st.atime));
  data->shortName = e ? e->shortName : std::u16string();
}

}  // namespace

// ---- times ---------------------------------------------------------------------------------

unsigned long long TicksFromHost(long long seconds, long nanoseconds) {
  long long since1601 = seconds + kSecondsFrom1601To1970;
  if (since1601 < 0) return 0;
  return static_cast<unsigned long long>(since1601) * kTicksPerSecond +
         static_cast<unsigned long long>(nanoseconds / 100);
}

void HostFromTicks(unsigned long long ticks, long long* seconds, long* nanoseconds) {
  *seconds = static_cast<long long>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  *nanoseconds = static_cast<long>(ticks % kTicksPerSecond) * 100;
}

unsigned long long TicksOf(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME FileTimeOf(unsigned long long ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

unsigned long long NowTicks() {
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return TicksFromHost(now.tv_sec, now.tv_nsec);
}

// ---- the table's interface -------------------------------------------------------------

bool QueryEntry(const std::string& host, EntryData* data, DWORD* error) {
  HostStat st;
  int err;
  if (!StatHost(host, &st, &err)) {
    *error = ErrorFromErrno(err, host);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  Describe(st, Lookup(host, st), data);
  return true;
}

bool ListEntries(const std::string& hostFolder, std::vector<NamedEntry>* entries, DWORD* error) {
  HostStat st;
  int err;
  if (!StatHost(hostFolder, &st, &err)) {
    *error = err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err, hostFolder);
    return false;
  }
  if (!st.directory) {
    *error = ERROR_DIRECTORY;
    return false;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<std::pair<std::string, HostStat>> present;
  Folder& folder = Sync(hostFolder, &present);
  entries->clear();
  for (const auto& [name, childStat] : present) {
    auto it = folder.entries.find(name);
    NamedEntry named;
    named.name = FromUtf8(name);
    Describe(childStat, it == folder.entries.end() ? nullptr : &it->second, &named.data);
    entries->push_back(std::move(named));
  }
  return true;
}

bool FindByShortName(const std::string& hostFolder, std::u16string_view shortName,
                     std::string* hostName) {
  if (shortName.find(u'~') == std::u16string_view::npos || !IsHostDirectory(hostFolder))
    return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  Folder& folder = Sync(hostFolder, nullptr);
  for (const auto& [name, entry] : folder.entries) {
    if (!entry.shortName.empty() && EqualNoCase(entry.shortName, shortName)) {
      *hostName = name;
      return true;
    }
  }
  return false;
}

void NoteCreated(const std::string& host, DWORD attributes) {
  std::string parent, name;
  if (!SplitHost(host, &parent, &name)) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  Folder& folder = Folders()[parent];
  folder.entries.erase(name);
  Sync(parent, nullptr);
  auto it = folder.entries.find(name);
  if (it != folder.entries.end()) it->second.attributes = attributes & kSettableAttributes;
}

void NoteRemoved(const std::string& host) {
  std::string parent, name;
  if (!SplitHost(host, &parent, &name)) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto folder = Folders().find(parent);
  if (folder != Folders().end()) folder->second.entries.erase(name);
  auto& folders = Folders();
  for (auto it = folders.lower_bound(host); it != folders.end();) {
    if (it->first == host || it->first.rfind(host + "/", 0) == 0)
      it = folders.erase(it);
    else if (it->first.compare(0, host.size(), host) == 0)
      ++it;  // a sibling that shares the prefix ("dir2" after "dir")
    else
      break;
  }
}

void NoteMoved(const std::string& from, const std::string& to) {
  std::string fromParent, fromName, toParent, toName;
  if (!SplitHost(from, &fromParent, &fromName) || !SplitHost(to, &toParent, &toName)) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& folders = Folders();
  bool known = false;
  Entry old;
  auto source = folders.find(fromParent);
  if (source != folders.end()) {
    auto it = source->second.entries.find(fromName);
    if (it != source->second.entries.end()) {
      old = it->second;
      known = true;
      source->second.entries.erase(it);
    }
  }
  // A moved folder takes the tables of everything below it along.
  std::vector<std::pair<std::string, Folder>> moved;
  for (auto it = folders.begin(); it != folders.end();) {
    if (it->first == from || it->first.rfind(from + "/", 0) == 0) {
      moved.emplace_back(to + it->first.substr(from.size()), std::move(it->second));
      it = folders.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, folder] : moved) folders[key] = std::move(folder);

  folders[toParent].entries.erase(toName);
  Folder& target = Sync(toParent, nullptr);
  auto it = target.entries.find(toName);
  if (known && it != target.entries.end()) {
    Entry& e = it->second;
    e.creation = old.creation;
    e.attributes = old.attributes;
    e.writeKept = old.writeKept;
    e.accessKept = old.accessKept;
    e.writeTicks = old.writeTicks;
    e.accessTicks = old.accessTicks;
    e.keptStamp = old.keptStamp;
  }
}

bool SetEntryShortName(const std::string& host, const std::string& shortName) {
  HostStat st;
  int err;
  if (!StatHost(host, &st, &err)) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  Entry* e = Lookup(host, st);
  if (!e) return false;
  e->shortName = Upper(FromUtf8(shortName));
  e->shortNameAssigned = true;
  return true;
}

bool SetEntryAttributes(const std::string& host, DWORD attributes, DWORD* error) {
  HostStat st;
  int err;
  if (!StatHost(host, &st, &err)) {
    *error = ErrorFromErrno(err, host);
    return false;
  }
  DWORD kept = attributes & kSettableAttributes;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Entry* e = Lookup(host, st);
    if (!e) {
      *error = ERROR_ACCESS_DENIED;
      return false;
    }
    e->attributes = kept;
  }
  // The host's write permission follows the read-only attribute.
  if (!st.directory) {
    mode_t mode = st.mode & 07777;
    mode = (kept & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
    ::chmod(host.c_str(), mode);
  }
  return true;
}

bool SetEntryTimes(const std::string& host, const FILETIME* creation, const FILETIME* lastAccess,
                   const FILETIME* lastWrite, DWORD* error) {
  // A zero time, or all ones, leaves that time as it is.
  auto given = [](const FILETIME* t) {
    return t && TicksOf(*t) != 0 && TicksOf(*t) != ~0ull;
  };
  HostStat st;
  int err;
  if (!StatHost(host, &st, &err)) {
    *error = ErrorFromErrno(err, host);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  Entry* e = Lookup(host, st);
  if (!e) {
    *error = ERROR_ACCESS_DENIED;
    return false;
  }
  if (given(creation)) e->creation = TicksOf(*creation);
  if (!given(lastAccess) && !given(lastWrite)) return true;

  // What was kept before stays valid only while the host's time is unchanged.
  bool keptValid = SameTime(e->keptStamp, st.mtime);
  unsigned long long access =
      given(lastAccess) ? TicksOf(*lastAccess)
                        : (keptValid && e->accessKept ? e->accessTicks : TicksOfHost(st.atime));
  unsigned long long write =
      given(lastWrite) ? TicksOf(*lastWrite)
                       : (keptValid && e->writeKept ? e->writeTicks : TicksOfHost(st.mtime));
  timespec times[2];
  long long seconds;
  long nanoseconds;
  HostFromTicks(access, &seconds, &nanoseconds);
  times[0] = {static_cast<time_t>(seconds), nanoseconds};
  HostFromTicks(write, &seconds, &nanoseconds);
  times[1] = {static_cast<time_t>(seconds), nanoseconds};
  ::utimensat(AT_FDCWD, host.c_str(), times, 0);  // the kept values cover what it cannot hold

  HostStat after;
  if (!StatHost(host, &after, &err)) after = st;
  e->accessKept = e->writeKept = true;
  e->accessTicks = access;
  e->writeTicks = write;
  e->keptStamp = after.mtime;
  return true;
}

}  // namespace winsim
