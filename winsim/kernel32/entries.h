// The entries of winsim's file system: what NTFS keeps beside the data.
// Internal to kernel32.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace winsim {

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

// Gives the entry the 8.3 name a test wants ("" for none); false when there is
// no such entry.
bool SetEntryShortName(const std::string& host, const std::string& shortName);

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

}  // namespace winsim
