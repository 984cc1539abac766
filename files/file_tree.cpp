#include "files/file_tree.h"

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kKeySuffix[] = ".E06D3B94_1A58_4C7E_B3F2_6D9A04C85E13";
constexpr char kRemovePrefix[] = "RM_FILE_";
constexpr char kMovePrefix[] = "MV_FILE_";
constexpr char kRemoveDirectoryItem[] = "VmrCoreRemoveFileDirectory";
constexpr char kRemoveFileItem[] = "VmrCoreRemoveFileFile";
constexpr char kMoveDirectoryItem[] = "VmrCoreMoveFileDirectory";
constexpr char kMoveFileItem[] = "VmrCoreMoveFileFile";
constexpr char kTimestamps[] = "SetTimestamps.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kMsiVersion[] = "MSI_VERSION.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kDirectoryLookup[] = "SELECT * FROM `Directory` WHERE `Directory`=?";

constexpr DWORD kColumnBuffer = 256;
constexpr DWORD kNameLimit = 255;
constexpr DWORD kPathBuffer = 261;
constexpr int kKeyBuffer = 64;

// The key counter and the way "a " conditions call actions are the only state
// that outlives a call; both live as long as the library stays loaded.
int g_keyCounter = 0;
char g_actionCallMode[4] = "";

using Action = UINT(WINAPI*)(MSIHANDLE);

void NextKey(char (&key)[kKeyBuffer], LPCSTR prefix) {
  int value = g_keyCounter;
  g_keyCounter = static_cast<int>(static_cast<unsigned>(g_keyCounter) + 1u);
  wsprintfA(key, "%s%d%s", prefix, value, kKeySuffix);
}

bool HasHead(LPCSTR text, char lower) {
  return (text[0] == lower || text[0] == lower - 'a' + 'A') && text[1] == ' ';
}

// Runs the action named in an "a " condition: through the engine when the
// package said so (MSI_VERSION set), else by calling the library's own export
// of that name directly.
bool RunConditionAction(MSIHANDLE hInstall, LPCSTR name, UINT* result) {
  if (g_actionCallMode[0] == '\0') {
    char version[kPathBuffer];
    bool viaEngine = ReadProperty(hInstall, kMsiVersion, version, sizeof version) ==
                         ERROR_SUCCESS &&
                     version[0] != '\0';
    lstrcpyA(g_actionCallMode, viaEngine ? "Yes" : "No");
  }
  if (lstrcmpA(g_actionCallMode, "Yes") == 0) {
    *result = MsiDoActionA(hInstall, name);
    return true;
  }
  // "Name.<module id>" calls the export "Name".
  char exportName[kPathBuffer];
  lstrcpynA(exportName, name, sizeof exportName);
  if (char* dot = FindChar(exportName, '.')) *dot = '\0';
  auto action = reinterpret_cast<Action>(
      reinterpret_cast<void*>(GetProcAddress(ModuleHandle(), exportName)));
  if (!action) return false;
  *result = action(hInstall);
  return true;
}

// A growable path that a walk appends to and cuts back. A failed growth
// releases the buffer: the row fails, and the cuts on the way out of the walk
// find nothing to cut.
struct PathBuffer {
  GrowableText buffer;
  bool Append(const char* first, const char* second = "") {
    DWORD length = static_cast<DWORD>(lstrlenA(buffer.text));
    DWORD needed = length + lstrlenA(first) + lstrlenA(second);
    if (!GrowBuffer(&buffer.text, &buffer.size, needed)) return false;
    lstrcatA(buffer.text, first);
    lstrcatA(buffer.text, second);
    return true;
  }
  DWORD Length() const { return static_cast<DWORD>(lstrlenA(buffer.text)); }
  // A root that does not end in "\" names one file: the text after its last
  // "\", whole, goes to name and the buffer keeps the folder, backslash
  // included. kFailed when the name cannot be copied.
  enum Split { kFolder, kFile, kFailed };
  Split SplitFileRoot(GrowableText& name) {
    char* path = buffer.text;
    if (path[0] == '\0' || EndsWithChar(path, '\\')) return kFolder;
    char* slash = FindLastChar(path, '\\');
    char* start = slash ? slash + 1 : path;
    if (!name.Join(start, "")) return kFailed;
    Cut(static_cast<DWORD>(start - path));
    return kFile;
  }
  void Cut(DWORD length) {
    if (buffer.text) buffer.text[length] = '\0';
  }
  char* text() { return buffer.text; }
  bool Init() {
    if (!buffer.text && !GrowBuffer(&buffer.text, &buffer.size, kPathBuffer - 1)) return false;
    buffer.text[0] = '\0';
    return true;
  }
};

// A directory listing that is always closed.
class Listing {
 public:
  ~Listing() {
    if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  }
  // Starts listing folder + "*"; error is 0 or the error of the first call.
  bool Start(PathBuffer& folder, DWORD* error) {
    DWORD length = folder.Length();
    if (!folder.Append("*")) {
      *error = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
    find_ = FindFirstFileA(folder.text(), &data_);
    *error = find_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    folder.Cut(length);
    return find_ != INVALID_HANDLE_VALUE;
  }
  // The next entry; false at the end, with the error that ended the listing.
  bool Next(DWORD* error) {
    if (FindNextFileA(find_, &data_)) return true;
    *error = GetLastError();
    return false;
  }
  const WIN32_FIND_DATAA& entry() const { return data_; }

 private:
  HANDLE find_ = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data_;
};

// A folder that is missing or empty is no error for a walk.
bool IsQuietListingError(DWORD error) {
  return error == ERROR_NO_MORE_FILES || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_FILE_NOT_FOUND;
}

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool IsDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The short name of an entry when it differs from its long name.
const char* DifferentShortName(const WIN32_FIND_DATAA& entry) {
  const char* shortName = entry.cAlternateFileName;
  if (shortName[0] == '\0' || EqualsNoCase(shortName, entry.cFileName)) return nullptr;
  return shortName;
}

// The name a RemoveFile or MoveFile row gives: "SHORT|Long name" with a short
// name, else the long name; false when it is too long. Removal passes any short
// name the entry has, moving only a differing one.
bool RowFileName(const WIN32_FIND_DATAA& entry, const char* shortName,
                 char (&name)[kColumnBuffer]) {
  int longLength = lstrlenA(entry.cFileName);
  if (!shortName) {
    if (longLength > static_cast<int>(kNameLimit)) return false;
    lstrcpyA(name, entry.cFileName);
    return true;
  }
  if (lstrlenA(shortName) + 1 + longLength > static_cast<int>(kNameLimit)) return false;
  wsprintfA(name, "%s|%s", shortName, entry.cFileName);
  return true;
}

// Inserts a temporary row of string fields (null entries stay null) and an
// optional trailing integer.
bool InsertRow(MSIHANDLE view, std::initializer_list<const char*> fields, int number,
               bool withNumber) {
  UINT count = static_cast<UINT>(fields.size()) + (withNumber ? 1 : 0);
  MsiHandle record(MsiCreateRecord(count));
  if (!record) return false;
  UINT field = 1;
  for (const char* text : fields) {
    if (text && MsiRecordSetStringA(record.get(), field, text) != ERROR_SUCCESS) return false;
    ++field;
  }
  if (withNumber && MsiRecordSetInteger(record.get(), field, number) != ERROR_SUCCESS)
    return false;
  return MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, record.get()) == ERROR_SUCCESS;
}

// Reads a string column of a tree-table row; longer than 255 characters fails.
bool ReadColumn(MSIHANDLE row, UINT field, char (&value)[kColumnBuffer]) {
  DWORD count = kColumnBuffer;
  return MsiRecordGetStringA(row, field, value, &count) == ERROR_SUCCESS;
}

// Adds the generated directory key under its root property, falling back to
// TARGETDIR when the root is not in the Directory table. *skip means the tree
// is to be left alone (a success).
bool AddTreeDirectory(MSIHANDLE hInstall, MSIHANDLE directoryView, LPCSTR key, LPCSTR root,
                      LPCSTR path, bool* skip) {
  *skip = false;
  bool parentMissing = false;
  if (!AddTempDirectory(hInstall, directoryView, key, root, &parentMissing)) return false;
  if (!parentMissing) return true;
  if (path[0] == '\0' || !IsAllUpper(root) ||
      !AddTempDirectory(hInstall, directoryView, key, nullptr, nullptr))
    *skip = true;
  return true;
}

// ---- removal -----------------------------------------------------------------

struct RemoveWalk {
  MSIHANDLE hInstall;
  MSIHANDLE directoryView;
  MSIHANDLE removeFileView;
  const char* component;
  const char* directoryCondition;
  const char* fileCondition;
  int mode;
  bool keepFolders;
  bool longNamesOnly;
  const char* rootProperty;
  PathBuffer path;
};

bool ScheduleRemoveTree(RemoveWalk& w) {
  bool satisfied = false;
  if (!EvaluateItemCondition(w.hInstall, w.directoryCondition, kRemoveDirectoryItem, w.path.text(),
                             &satisfied))
    return false;
  if (!satisfied) return true;

  char key[kKeyBuffer];
  NextKey(key, kRemovePrefix);
  bool skip = false;
  if (!AddTreeDirectory(w.hInstall, w.directoryView, key, w.rootProperty, w.path.text(), &skip))
    return false;
  if (skip) return true;

  GrowableText name;
  PathBuffer::Split split = w.path.SplitFileRoot(name);
  if (split == PathBuffer::kFailed) return false;
  if (split == PathBuffer::kFile) {
    if (!EvaluateItemCondition(w.hInstall, w.fileCondition, kRemoveFileItem, name.text,
                               &satisfied))
      return false;
    if (!satisfied) return true;
    if (!InsertRow(w.removeFileView, {key, w.component, name.text, key}, w.mode, true))
      return false;
    return MsiSetPropertyA(w.hInstall, key, w.path.text()) == ERROR_SUCCESS;
  }
  char* path = w.path.text();

  if (MsiSetPropertyA(w.hInstall, key, path) != ERROR_SUCCESS) return false;
  bool testFiles = w.fileCondition[0] != '\0';
  if (!testFiles && !w.keepFolders &&
      !InsertRow(w.removeFileView, {key, w.component, "*", key}, w.mode, true))
    return false;
  if (path[0] == '\0') return true;

  Listing listing;
  DWORD error = 0;
  if (!listing.Start(w.path, &error))
    return IsQuietListingError(error);
  do {
    const WIN32_FIND_DATAA& entry = listing.entry();
    if (IsDirectory(entry)) {
      if (IsDotEntry(entry.cFileName)) continue;
      DWORD length = w.path.Length();
      if (!w.path.Append(entry.cFileName, "\\")) return false;
      bool ok = ScheduleRemoveTree(w);
      w.path.Cut(length);
      if (!ok) return false;
      continue;
    }
    if (!testFiles) continue;
    const char* shortName = DifferentShortName(entry);
    if (!EvaluateItemCondition(w.hInstall, w.fileCondition, kRemoveFileItem, entry.cFileName,
                               &satisfied))
      return false;
    if (!satisfied && !w.longNamesOnly && shortName &&
        !EvaluateItemCondition(w.hInstall, w.fileCondition, kRemoveFileItem, shortName,
                               &satisfied))
      return false;
    if (!satisfied) continue;
    char name[kColumnBuffer];
    const char* anyShortName = entry.cAlternateFileName[0] ? entry.cAlternateFileName : nullptr;
    if (!RowFileName(entry, anyShortName, name)) return false;
    char trace[kColumnBuffer + 64];
    wsprintfA(trace, "Scheduleing the file %s for removal.", name);
    OutputDebugStringA(trace);
    char fileKey[kKeyBuffer];
    NextKey(fileKey, kRemovePrefix);
    if (!InsertRow(w.removeFileView, {fileKey, w.component, name, key}, w.mode, true))
      return false;
  } while (listing.Next(&error));
  if (error != ERROR_NO_MORE_FILES) return false;

  char folderKey[kKeyBuffer];
  NextKey(folderKey, kRemovePrefix);
  if (!w.keepFolders &&
      !InsertRow(w.removeFileView, {folderKey, w.component, nullptr, key}, w.mode, true))
    return false;
  return true;
}

// ---- moving -------------------------------------------------------------------

struct MoveWalk {
  MSIHANDLE hInstall;
  MSIHANDLE directoryView;
  MSIHANDLE moveFileView;
  const char* component;
  const char* directoryCondition;
  const char* fileCondition;
  int options;
  const char* sourceRoot;
  const char* destinationRoot;
  PathBuffer source;
  PathBuffer destination;
  TimestampList timestamps;
};

// A condition that can see the time-stamp list: an action, which may read or
// change any property, or an installer condition that names the list.
bool CanSeeTimestamps(LPCSTR condition) {
  return condition && (HasHead(condition, 'a') ||
                       (HasHead(condition, 'c') && FindText(condition + 2, kTimestamps)));
}

// Tests a condition of the move walk, writing the kept time stamps first when
// the condition could see them.
bool TestMoveCondition(MoveWalk& w, LPCSTR condition, LPCSTR item, LPCSTR value,
                       bool* satisfied) {
  if (CanSeeTimestamps(condition)) w.timestamps.Flush(w.hInstall);
  return EvaluateItemCondition(w.hInstall, condition, item, value, satisfied);
}

bool InsertMoveRow(MoveWalk& w, LPCSTR key, LPCSTR name, LPCSTR sourceKey,
                   LPCSTR destinationFolder) {
  return InsertRow(w.moveFileView, {key, w.component, name, nullptr, sourceKey, destinationFolder},
                   w.options, true);
}

bool ScheduleMoveTree(MoveWalk& w) {
  bool satisfied = false;
  if (!TestMoveCondition(w, w.directoryCondition, kMoveDirectoryItem,
                             w.source.text(), &satisfied))
    return false;
  if (!satisfied) return true;

  // Destination key: the folder name the MoveFile rows write.
  char destinationKey[kKeyBuffer];
  NextKey(destinationKey, kMovePrefix);
  const char* destinationFolder = destinationKey;
  bool parentMissing = false;
  if (!AddTempDirectory(w.hInstall, w.directoryView, destinationKey, w.destinationRoot,
                        &parentMissing))
    return false;
  if (parentMissing &&
      (w.destination.text()[0] == '\0' || !IsAllUpper(w.destinationRoot) ||
       !AddTempDirectory(w.hInstall, w.directoryView, destinationKey, nullptr, nullptr)))
    destinationFolder = w.destinationRoot;
  if (MsiSetPropertyA(w.hInstall, destinationKey, w.destination.text()) != ERROR_SUCCESS)
    return false;

  char sourceKey[kKeyBuffer];
  NextKey(sourceKey, kMovePrefix);
  bool skip = false;
  if (!AddTreeDirectory(w.hInstall, w.directoryView, sourceKey, w.sourceRoot, w.source.text(),
                        &skip))
    return false;
  if (skip) return true;

  GrowableText name;
  PathBuffer::Split split = w.source.SplitFileRoot(name);
  if (split == PathBuffer::kFailed) return false;
  if (split == PathBuffer::kFile) {
    if (!TestMoveCondition(w, w.fileCondition, kMoveFileItem, name.text, &satisfied))
      return false;
    if (!satisfied) return true;
    if (!InsertMoveRow(w, sourceKey, name.text, sourceKey, destinationFolder)) return false;
    if (MsiSetPropertyA(w.hInstall, sourceKey, w.source.text()) != ERROR_SUCCESS) return false;
    RecordMovedFileTimes(w.hInstall, w.source.text(), w.destination.text(), name.text,
                         w.timestamps);
    return true;
  }

  char* source = w.source.text();
  if (MsiSetPropertyA(w.hInstall, sourceKey, source) != ERROR_SUCCESS) return false;
  bool testFiles = w.fileCondition[0] != '\0';
  if (!testFiles && !InsertMoveRow(w, sourceKey, "*", sourceKey, destinationFolder)) return false;
  if (source[0] == '\0' || w.destination.text()[0] == '\0') return true;

  Listing listing;
  DWORD error = 0;
  if (!listing.Start(w.source, &error))
    return IsQuietListingError(error);
  do {
    const WIN32_FIND_DATAA& entry = listing.entry();
    if (IsDirectory(entry)) {
      if (IsDotEntry(entry.cFileName)) continue;
      DWORD sourceLength = w.source.Length();
      DWORD destinationLength = w.destination.Length();
      bool ok = w.source.Append(entry.cFileName, "\\") &&
                w.destination.Append(entry.cFileName, "\\") && ScheduleMoveTree(w);
      w.source.Cut(sourceLength);
      w.destination.Cut(destinationLength);
      if (!ok) return false;
      continue;
    }
    if (!testFiles) continue;
    if (!TestMoveCondition(w, w.fileCondition, kMoveFileItem, entry.cFileName,
                               &satisfied))
      return false;
    if (!satisfied) continue;
    // Once the long name passed, a differing short name must pass too.
    const char* shortName = DifferentShortName(entry);
    if (shortName) {
      if (!TestMoveCondition(w, w.fileCondition, kMoveFileItem, shortName,
                                 &satisfied))
        return false;
      if (!satisfied) continue;
    }
    char name[kColumnBuffer];
    if (!RowFileName(entry, shortName, name)) return false;
    char fileKey[kKeyBuffer];
    NextKey(fileKey, kMovePrefix);
    if (!InsertMoveRow(w, fileKey, name, sourceKey, destinationFolder)) return false;
    RecordMovedFileTimes(w.hInstall, w.source.text(), w.destination.text(), entry.cFileName,
                         w.timestamps);
  } while (listing.Next(&error));
  return error == ERROR_NO_MORE_FILES;
}

// Opens a view and executes it; false on either failure.
UINT OpenAndExecute(MSIHANDLE database, LPCSTR sql, MsiHandle* view, bool* opened) {
  *opened = false;
  UINT result = MsiDatabaseOpenViewA(database, sql, view->put());
  if (result != ERROR_SUCCESS) return result;
  *opened = true;
  return MsiViewExecute(view->get(), 0);
}

}  // namespace

bool EvaluateItemCondition(MSIHANDLE hInstall, LPCSTR condition, LPCSTR property,
                           LPCSTR value, bool* satisfied) {
  bool ok = true;
  if (property && MsiSetPropertyA(hInstall, property, value) != ERROR_SUCCESS) ok = false;
  *satisfied = false;
  if (!condition || condition[0] == '\0') {
    *satisfied = true;
    return ok;
  }
  if (HasHead(condition, 'c')) {
    switch (MsiEvaluateConditionA(hInstall, condition + 2)) {
      case MSICONDITION_TRUE:
        *satisfied = true;
        return ok;
      case MSICONDITION_FALSE:
        return ok;
      default:
        return false;
    }
  }
  if (HasHead(condition, 'a')) {
    UINT result = 0;
    if (!RunConditionAction(hInstall, condition + 2, &result)) return false;
    if (result == ERROR_SUCCESS) {
      *satisfied = true;
      return ok;
    }
    return (result == ERROR_MORE_DATA || result == ERROR_NO_MORE_ITEMS) && ok;
  }
  return false;
}

bool AddTempDirectory(MSIHANDLE hInstall, MSIHANDLE directoryView, LPCSTR key, LPCSTR parent,
                      bool* parentMissing) {
  if (parentMissing) *parentMissing = false;
  // Looks a key up; true when the lookup ran, *found telling the answer.
  auto lookup = [directoryView](LPCSTR name, bool* found) {
    MsiHandle params(MsiCreateRecord(1));
    if (!params || MsiRecordSetStringA(params.get(), 1, name) != ERROR_SUCCESS) return false;
    MsiViewClose(directoryView);
    if (MsiViewExecute(directoryView, params.get()) != ERROR_SUCCESS) return false;
    MsiHandle row;
    UINT fetched = MsiViewFetch(directoryView, row.put());
    *found = fetched == ERROR_SUCCESS;
    return fetched == ERROR_SUCCESS || fetched == ERROR_NO_MORE_ITEMS;
  };

  bool found = false;
  if (!lookup(key, &found)) return false;
  if (found) return true;
  if (InsertRow(directoryView, {key, parent ? parent : "TARGETDIR", "."}, 0, false)) return true;
  if (!parentMissing) return false;
  bool parentFound = false;
  if (!lookup(parent ? parent : "TARGETDIR", &parentFound)) return false;
  if (parentFound) return false;
  *parentMissing = true;
  return true;
}

TimestampList::~TimestampList() { FreeBuffer(&pending_); }

bool TimestampList::Append(LPCSTR entry) {
  DWORD entryLength = static_cast<DWORD>(lstrlenA(entry));
  // Doubling keeps a long run of appends linear.
  if ((!pending_ || length_ + entryLength >= size_) &&
      !GrowBuffer(&pending_, &size_, 2 * (length_ + entryLength))) {
    length_ = 0;
    return false;
  }
  lstrcpyA(pending_ + length_, entry);
  length_ += entryLength;
  return true;
}

void TimestampList::Flush(MSIHANDLE hInstall) {
  if (length_ == 0) return;
  GrowableText list;
  if (list.ReadProperty(hInstall, kTimestamps) == ERROR_SUCCESS) {
    GrowableText joined;
    if (joined.Join(list.text, pending_)) MsiSetPropertyA(hInstall, kTimestamps, joined.text);
  }
  length_ = 0;
  pending_[0] = '\0';
}

void RecordMovedFileTimes(MSIHANDLE hInstall, LPCSTR sourceFolder, LPCSTR destinationFolder,
                          LPCSTR name, TimestampList& list) {
  if (!sourceFolder || !destinationFolder || !name) return;
  char source[MAX_PATH + 1], destination[MAX_PATH + 1];
  if (lstrlenA(sourceFolder) + lstrlenA(name) > MAX_PATH ||
      lstrlenA(destinationFolder) + lstrlenA(name) > MAX_PATH)
    return;
  wsprintfA(source, "%s%s", sourceFolder, name);
  wsprintfA(destination, "%s%s", destinationFolder, name);
  if (IsVersionedFile(source)) return;

  HANDLE file = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME created, written;
  BOOL read = GetFileTime(file, &created, nullptr, &written);
  CloseHandle(file);
  if (!read || CompareFileTime(&written, &created) <= 0) return;

  char entry[MAX_PATH + 64];
  wsprintfA(entry, "%s|%u|%u|%u|%u>", destination, created.dwLowDateTime,
            created.dwHighDateTime, written.dwLowDateTime, written.dwHighDateTime);
  list.Append(entry);
}

bool IsVersionedFile(LPCSTR path) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return false;
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + 2);
  if (!block) {
    OutputDebugStringA("Out of memory.");
    return false;
  }
  bool versioned = false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (GetFileVersionInfoA(path, 0, size, block) &&
      VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &length) && info)
    versioned = info->dwFileVersionLS != 0 || info->dwFileDateMS != 0;
  HeapFree(GetProcessHeap(), 0, block);
  return versioned;
}

}  // namespace viduzo

using namespace viduzo;

// Turns the trees named in VmrRemoveFileTree into temporary Directory and
// RemoveFile rows, then runs CostFinalize so that the new folders resolve.
extern "C" UINT WINAPI RemoveFileTree(MSIHANDLE hInstall) {
  bool failed = false;
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) {
    failed = true;
  } else {
    MsiHandle table;
    bool opened = false;
    UINT result = OpenAndExecute(database.get(), "SELECT * FROM `VmrRemoveFileTree`", &table,
                                 &opened);
    if (opened && result != ERROR_SUCCESS) failed = true;
    if (opened && result == ERROR_SUCCESS) {
      MsiHandle directoryView, removeFileView;
      RemoveWalk walk{};
      walk.hInstall = hInstall;
      MsiHandle row;
      UINT fetched = walk.path.Init() ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
      while (fetched == ERROR_SUCCESS &&
             (fetched = MsiViewFetch(table.get(), row.put())) == ERROR_SUCCESS) {
        if (!walk.directoryView) {
          bool open = false;
          // The lookup view runs with its key parameter in AddTempDirectory.
          if (MsiDatabaseOpenViewA(database.get(), kDirectoryLookup, directoryView.put()) !=
                  ERROR_SUCCESS ||
              OpenAndExecute(database.get(), "SELECT * FROM `RemoveFile`", &removeFileView,
                             &open) != ERROR_SUCCESS) {
            failed = true;
            fetched = ERROR_NO_MORE_ITEMS;
            break;
          }
          walk.directoryView = directoryView.get();
          walk.removeFileView = removeFileView.get();
        }
        char root[kColumnBuffer], component[kColumnBuffer], directoryCondition[kColumnBuffer],
            fileCondition[kColumnBuffer];
        if (!ReadColumn(row.get(), 3, root) || !ReadColumn(row.get(), 2, component) ||
            !ReadColumn(row.get(), 5, directoryCondition) ||
            !ReadColumn(row.get(), 6, fileCondition)) {
          failed = true;
          continue;
        }
        int mode = MsiRecordGetInteger(row.get(), 4);
        if (mode == static_cast<int>(MSI_NULL_INTEGER)) mode = 3;
        if (GetPropertyValue(hInstall, root, &walk.path.buffer.text, &walk.path.buffer.size,
                             nullptr) != ERROR_SUCCESS) {
          failed = true;
          continue;
        }
        walk.component = component;
        walk.directoryCondition = directoryCondition;
        walk.fileCondition = fileCondition;
        walk.mode = mode & 3;
        walk.keepFolders = (mode & 16) != 0;
        walk.longNamesOnly = (mode & 32) != 0;
        walk.rootProperty = root;
        if (!ScheduleRemoveTree(walk)) failed = true;
      }
      if (fetched != ERROR_NO_MORE_ITEMS) failed = true;
    }
  }
  if (MsiDoActionA(hInstall, "CostFinalize") != ERROR_SUCCESS) failed = true;
  return failed ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}

// Turns the trees named in VmrMoveFileTree into temporary Directory and MoveFile
// rows, and records the times of the moved files for SetTimestamps.
extern "C" UINT WINAPI MoveFileTree(MSIHANDLE hInstall) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return ERROR_INSTALL_FAILURE;
  MsiHandle table;
  bool opened = false;
  UINT result = OpenAndExecute(database.get(), "SELECT * FROM `VmrMoveFileTree`", &table, &opened);
  if (!opened) return ERROR_SUCCESS;
  if (result != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;

  bool failed = false;
  MoveWalk walk{};
  walk.hInstall = hInstall;
  if (!walk.source.Init()) return ERROR_INSTALL_FAILURE;
  MsiHandle directoryView, moveFileView;
  MsiHandle row;
  UINT fetched;
  while ((fetched = MsiViewFetch(table.get(), row.put())) == ERROR_SUCCESS) {
    if (!walk.directoryView) {
      bool open = false;
      if (MsiDatabaseOpenViewA(database.get(), kDirectoryLookup, directoryView.put()) !=
              ERROR_SUCCESS ||
          OpenAndExecute(database.get(), "SELECT * FROM `MoveFile`", &moveFileView, &open) !=
              ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
      walk.directoryView = directoryView.get();
      walk.moveFileView = moveFileView.get();
    }
    char sourceRoot[kColumnBuffer], destinationRoot[kColumnBuffer], component[kColumnBuffer],
        directoryCondition[kColumnBuffer], fileCondition[kColumnBuffer];
    if (!ReadColumn(row.get(), 3, sourceRoot) || !ReadColumn(row.get(), 4, destinationRoot) ||
        !ReadColumn(row.get(), 2, component) || !ReadColumn(row.get(), 6, directoryCondition) ||
        !ReadColumn(row.get(), 7, fileCondition)) {
      failed = true;
      continue;
    }
    int options = MsiRecordGetInteger(row.get(), 5);
    if (options == static_cast<int>(MSI_NULL_INTEGER)) options = 0;
    // A root that cannot be read skips its row quietly.
    if (GetPropertyValue(hInstall, sourceRoot, &walk.source.buffer.text, &walk.source.buffer.size,
                         nullptr) != ERROR_SUCCESS ||
        GetPropertyValue(hInstall, destinationRoot, &walk.destination.buffer.text,
                         &walk.destination.buffer.size, nullptr) != ERROR_SUCCESS)
      continue;
    if (EqualsNoCase(walk.source.text(), walk.destination.text())) continue;
    walk.component = component;
    walk.directoryCondition = directoryCondition;
    walk.fileCondition = fileCondition;
    walk.options = options;
    walk.sourceRoot = sourceRoot;
    walk.destinationRoot = destinationRoot;
    if (!ScheduleMoveTree(walk)) failed = true;
    walk.timestamps.Flush(hInstall);
  }
  if (fetched != ERROR_NO_MORE_ITEMS) failed = true;
  return failed ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}
