// winsim's file system: Windows paths mapped into the sandbox folder on the
// host. Internal to winsim; tests use HostPath / SandboxRoot of control.h.
//
// A Windows path is first made absolute and normalised as Windows does it
// (in UTF-16, so that a double-byte character whose trail byte is 0x5C is
// never taken for a separator), then mapped component by component: an
// existing host entry whose name equals the component without regard to case
// is used with its own spelling, a missing one keeps the case it was given.
// Host names are the UTF-8 form of the Windows names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/win.h"

namespace winsim {

// The Windows folder, where a profile file named without a path lives.
inline constexpr char16_t kWindowsFolder[] = u"C:\\Windows";

// Makes a Windows path absolute (against the current directory) and
// normalises it: "/" becomes "\", empty and "." components go, ".." removes
// the one before, a component's single trailing "." goes, and the last
// component loses its trailing dots and spaces. A drive root keeps its "\"
// ("C:\"); a UNC path starts "\\server\share". On a malformed path it returns
// false and sets *error to the Windows error code.
bool FullWindowsPath(std::u16string_view path, std::u16string* full, DWORD* error);

// The host path of a path that FullWindowsPath produced.
std::string HostPathOf(std::u16string_view fullPath);

// Both steps for an ANSI path argument (code page in force); false with
// *error set for a null or malformed path.
bool MapPath(LPCSTR path, std::string* host, DWORD* error);

// The current directory, a full Windows path ("C:\" until it is changed).
std::u16string CurrentDirectory();
void SetCurrentDirectoryPath(std::u16string fullPath);

// The Windows error for a host call that failed with errno `err` on
// `hostPath`: a missing entry is ERROR_FILE_NOT_FOUND when its folder exists
// and ERROR_PATH_NOT_FOUND when it does not.
DWORD ErrorFromErrno(int err, const std::string& hostPath);

bool IsHostDirectory(const std::string& host);

// ---- what NTFS keeps beside the data (files_meta.cpp) -----------------------
//
// The host file system has no creation time that can be set, no hidden,
// system or archive attribute and no 8.3 names, so winsim keeps them in a
// table in memory, one per host folder, keyed by entry name. An entry is tied
// to its host inode: a host entry replaced behind winsim's back (a new inode
// under the same name) starts afresh, exactly like a new file on NTFS. The
// table lives as long as the process, like the sandbox it describes. Entries
// created by other means (a test writing host files, the profile functions)
// are adopted when first seen: their creation time is the host's birth time,
// their attributes ARCHIVE (and READONLY when the host denies writing).

// The state of one entry, as FindFirstFile and GetFileAttributes report it.
struct EntryData {
  bool directory = false;
  DWORD attributes = 0;  // FILE_ATTRIBUTE_*, NORMAL when a file has none
  FILETIME creation{};
  FILETIME lastAccess{};
  FILETIME lastWrite{};
  unsigned long long size = 0;  // 0 for folders
  std::u16string shortName;     // "" when the long name is a valid 8.3 name
};

// The entry at a host path; false with *error (2, 3, ...) when there is none.
bool QueryEntry(const std::string& host, EntryData* data, DWORD* error);

// Every entry of a host folder ("." and ".." not included), with its long
// name; false with *error when the folder cannot be listed.
struct NamedEntry {
  std::u16string name;
  EntryData data;
};
bool ListEntries(const std::string& hostFolder, std::vector<NamedEntry>* entries, DWORD* error);

// The host name of the entry of hostFolder whose 8.3 name is `shortName`
// (compared without regard to case); false when no entry has it.
bool FindByShortName(const std::string& hostFolder, std::u16string_view shortName,
                     std::string* hostName);

// Bookkeeping after winsim changed the host: a new entry gets its creation
// time, the attributes given (FILE_ATTRIBUTE_* without DIRECTORY) and an 8.3
// name that no entry of its folder uses; a removed entry (and for a folder,
// everything below it) is forgotten; a moved entry keeps its creation time and
// attributes and gets the 8.3 name its new name calls for.
void NoteCreated(const std::string& host, DWORD attributes);
void NoteRemoved(const std::string& host);
void NoteMoved(const std::string& from, const std::string& to);

// Changes the kept attributes (READONLY, HIDDEN, SYSTEM, ARCHIVE, TEMPORARY,
// OFFLINE, NOT_CONTENT_INDEXED; NORMAL alone clears them).
bool SetEntryAttributes(const std::string& host, DWORD attributes, DWORD* error);
// Sets the times that are given (a null pointer or a zero time leaves one as
// it is); last-access and last-write go to the host as well.
bool SetEntryTimes(const std::string& host, const FILETIME* creation, const FILETIME* lastAccess,
                   const FILETIME* lastWrite, DWORD* error);

// ---- times ------------------------------------------------------------------------
// FILETIME ticks (100 ns since 1601-01-01 UTC) of a host time, and back.
unsigned long long TicksFromHost(long long seconds, long nanoseconds);
void HostFromTicks(unsigned long long ticks, long long* seconds, long* nanoseconds);
unsigned long long TicksOf(const FILETIME& time);
FILETIME FileTimeOf(unsigned long long ticks);
// The current UTC time as FILETIME ticks.
unsigned long long NowTicks();

// ---- open files (filehandle.cpp) ---------------------------------------------------
// Whether a handle open on the host entry forbids deleting or renaming it
// (opened without FILE_SHARE_DELETE).
bool OpenHandleForbidsDelete(const std::string& host);

}  // namespace winsim
