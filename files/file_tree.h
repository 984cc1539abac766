// Whole directory trees scheduled for removal and moving: the package names a
// tree in its VmrRemoveFileTree / VmrMoveFileTree tables and the walk turns it
// into temporary Directory, RemoveFile and MoveFile rows.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

// Tests a "c <condition>" or "a <action>" text after setting the item property
// (when a name is given). Returns false on failure; *satisfied tells the answer.
bool EvaluateItemCondition(MSIHANDLE hInstall, LPCSTR condition, LPCSTR property,
                           LPCSTR value, bool* satisfied);

// Adds a temporary Directory row (key, parent or "TARGETDIR", ".") unless the key
// is already there. directoryView is "SELECT * FROM `Directory` WHERE
// `Directory`=?". With parentMissing given, a failed insert whose parent is not
// in the table is reported there instead of failing.
bool AddTempDirectory(MSIHANDLE hInstall, MSIHANDLE directoryView, LPCSTR key, LPCSTR parent,
                      bool* parentMissing);

// The time-stamp list of moved files. A walk keeps it in memory and writes the
// property once per tree-table row: setting the property for every file would
// copy the whole list each time and make large trees quadratic.
class TimestampList {
 public:
  TimestampList() = default;
  TimestampList(const TimestampList&) = delete;
  TimestampList& operator=(const TimestampList&) = delete;
  ~TimestampList();

  // Appends one entry, reading the property first when nothing is loaded yet.
  // False when the property cannot be read or the list cannot grow.
  bool Append(MSIHANDLE hInstall, LPCSTR entry);
  // Writes the list to its property when entries were added, and forgets it.
  void Flush(MSIHANDLE hInstall);

 private:
  char* text_ = nullptr;
  DWORD size_ = 0;
  DWORD length_ = 0;
  bool changed_ = false;
};

// Appends the creation and last-write times of an unversioned source file to the
// time-stamp list, under its destination path.
void RecordMovedFileTimes(MSIHANDLE hInstall, LPCSTR sourceFolder, LPCSTR destinationFolder,
                          LPCSTR name, TimestampList& list);

// True when the file has a version resource with a file version or date.
bool IsVersionedFile(LPCSTR path);

}  // namespace viduzo
