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

// The time-stamp list of moved files. A walk keeps the entries it adds in
// memory and writes them, after the property's current value, whenever
// something could look at the property: before every condition that can see it
// and at the end of the row. So the property is always what reading, appending
// and writing it for every file gives, while a large tree still copies the
// list only a few times rather than once per file.
class TimestampList {
 public:
  TimestampList() = default;
  TimestampList(const TimestampList&) = delete;
  TimestampList& operator=(const TimestampList&) = delete;
  ~TimestampList();

  // Keeps one entry until the next Flush; false when it cannot be kept.
  bool Append(LPCSTR entry);
  // Appends the kept entries to the property as it is now and forgets them.
  // Nothing is written when the property cannot be read.
  void Flush(MSIHANDLE hInstall);

 private:
  char* pending_ = nullptr;
  DWORD size_ = 0;
  DWORD length_ = 0;
};

// Appends the creation and last-write times of an unversioned source file to the
// time-stamp list, under its destination path.
void RecordMovedFileTimes(MSIHANDLE hInstall, LPCSTR sourceFolder, LPCSTR destinationFolder,
                          LPCSTR name, TimestampList& list);

// True when the file has a version resource with a file version or date.
bool IsVersionedFile(LPCSTR path);

}  // namespace viduzo
