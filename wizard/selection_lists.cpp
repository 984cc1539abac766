// The eight list buttons of the wizard's selection screens: each moves the
// selected item (with its sub- or parent features) or every item from one list
// of a pair to the other. The lists are ListBox rows; the rows work directly
// through the installer's view calls.
#include <cstring>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"

namespace viduzo {
namespace {

constexpr DWORD kNameBuffer = 256;
constexpr DWORD kValueBuffer = 512;
constexpr DWORD kTextBuffer = 256;

constexpr char kSelected[] = "SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`=?";
constexpr char kOthers[] = "SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`<>?";
constexpr char kWholeList[] = "SELECT * FROM `ListBox` WHERE `Property`=?";

constexpr UINT kListProperty = 1;
constexpr UINT kListValue = 3;
constexpr UINT kListText = 4;

// Which rows follow the selected one into the destination list.
enum MoveKind {
  kSubFeatures = 1,  // rows below the selected feature
  kParents = 2,      // rows above it, and rows with its own Value
  kDialog = 4,       // none
};

struct NamePair {
  const char* first;
  const char* second;
};
constexpr NamePair kFeatureNames[] = {{"RemoveFeatureListBox11", "RemoveFeatureListBox12"},
                                      {"RemoveFeatureListBox21", "RemoveFeatureListBox22"}};
constexpr NamePair kDialogNames[] = {{"DialogListBox11", "DialogListBox12"},
                                     {"DialogListBox21", "DialogListBox22"}};

// The other name of a list (compared case-sensitively), or null.
const char* Alternate(const char* name, int kind) {
  const NamePair* pairs = nullptr;
  if (kind == kSubFeatures || kind == kParents) pairs = kFeatureNames;
  if (kind == kDialog) pairs = kDialogNames;
  if (!pairs) return nullptr;
  for (int i = 0; i < 2; ++i) {
    if (std::strcmp(name, pairs[i].first) == 0) return pairs[i].second;
    if (std::strcmp(name, pairs[i].second) == 0) return pairs[i].first;
  }
  return nullptr;
}

// Reads a property that must hold text into a 256-character buffer.
bool ReadName(MSIHANDLE hInstall, LPCSTR name, char (&buffer)[kNameBuffer]) {
  buffer[0] = '\0';
  return ReadProperty(hInstall, name, buffer, kNameBuffer) == ERROR_SUCCESS && buffer[0] != '\0';
}

// Opens and executes a ListBox view with one or two text parameters.
UINT OpenListView(MSIHANDLE database, LPCSTR sql, LPCSTR first, LPCSTR second, MsiHandle* view) {
  MsiHandle params(MsiCreateRecord(second ? 2 : 1));
  if (!params) return ERROR_FUNCTION_FAILED;
  UINT result = MsiRecordSetStringA(params.get(), 1, first);
  if (result == ERROR_SUCCESS && second) result = MsiRecordSetStringA(params.get(), 2, second);
  if (result == ERROR_SUCCESS) result = MsiDatabaseOpenViewA(database, sql, view->put());
  if (result == ERROR_SUCCESS) result = MsiViewExecute(view->get(), params.get());
  return result;
}

UINT ReadField(MSIHANDLE row, UINT field, char* buffer, DWORD size) {
  DWORD count = size;
  return MsiRecordGetStringA(row, field, buffer, &count);
}

// Deletes the fetched row and inserts it again under the name `to`. When the
// insert fails (the destination already has a row with that Order) the row goes
// back under its old name, so that no item is lost, and the insert's code is
// the result.
UINT Refile(MSIHANDLE view, MSIHANDLE row, LPCSTR from, LPCSTR to) {
  UINT result = MsiViewModify(view, MSIMODIFY_DELETE, row);
  if (result != ERROR_SUCCESS) return result;
  result = MsiRecordSetStringA(row, kListProperty, to);
  if (result != ERROR_SUCCESS) return result;
  result = MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, row);
  if (result != ERROR_SUCCESS && MsiRecordSetStringA(row, kListProperty, from) == ERROR_SUCCESS)
    MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, row);
  return result;
}

// Y is a sub-feature path of X: it begins with X followed by a backslash.
bool IsBelow(const char* y, const char* x) {
  std::size_t length = std::strlen(x);
  return std::strncmp(y, x, length) == 0 && y[length] == '\\';
}

// Y is X itself or one of X's ancestors: X begins with Y, and Y ends where X
// ends or has a backslash.
bool IsAtOrAbove(const char* y, const char* x) {
  std::size_t length = std::strlen(y);
  return std::strncmp(x, y, length) == 0 && (x[length] == '\\' || x[length] == '\0');
}

}  // namespace

// Moves the row of list `from` whose Value is `selected` to list `to`, with the
// rows that follow it by kind; the rest of `from` is re-filed under its
// alternate name.
UINT MoveSelectedItem(MSIHANDLE hInstall, LPCSTR from, LPCSTR to, LPCSTR selected, int kind) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return ERROR_FUNCTION_FAILED;
  char x[kValueBuffer] = "";
  {
    MsiHandle view;
    UINT result = OpenListView(database.get(), kSelected, from, selected, &view);
    if (result != ERROR_SUCCESS) return result;
    MsiHandle row;
    result = MsiViewFetch(view.get(), row.put());
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;  // nothing selected
    if (result != ERROR_SUCCESS) return result;
    if (kind == kSubFeatures || kind == kParents) {
      result = ReadField(row.get(), kListValue, x, sizeof x);
      if (result != ERROR_SUCCESS) return result;
    }
    result = Refile(view.get(), row.get(), from, to);
    if (result != ERROR_SUCCESS) return result;
    MsiViewClose(view.get());
  }

  MsiHandle view;
  UINT result = OpenListView(database.get(), kOthers, from, selected, &view);
  if (result != ERROR_SUCCESS) return result;
  for (;;) {
    MsiHandle row;
    result = MsiViewFetch(view.get(), row.put());
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) return result;
    const char* name = nullptr;
    if (kind == kSubFeatures || kind == kParents) {
      char y[kValueBuffer];
      result = ReadField(row.get(), kListValue, y, sizeof y);
      if (result != ERROR_SUCCESS) return result;
      if (kind == kParents) {
        char text[kTextBuffer];
        result = ReadField(row.get(), kListText, text, sizeof text);
        if (result != ERROR_SUCCESS) return result;
      }
      if (kind == kSubFeatures ? IsBelow(y, x) : IsAtOrAbove(y, x)) name = to;
    }
    if (!name) name = Alternate(from, kind);
    if (!name) return ERROR_FUNCTION_FAILED;
    result = Refile(view.get(), row.get(), from, name);
    if (result != ERROR_SUCCESS) return result;
  }
  MsiViewClose(view.get());
  return ERROR_SUCCESS;
}

// Moves every row of list `from` to list `to`; stops quietly at the first
// call that fails.
UINT MoveAllItems(MSIHANDLE hInstall, LPCSTR from, LPCSTR to) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return ERROR_FUNCTION_FAILED;
  MsiHandle view;
  if (OpenListView(database.get(), kWholeList, from, nullptr, &view) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  for (;;) {
    MsiHandle row;
    if (MsiViewFetch(view.get(), row.put()) != ERROR_SUCCESS) break;
    if (Refile(view.get(), row.get(), from, to) != ERROR_SUCCESS) break;
  }
  MsiViewClose(view.get());
  return ERROR_SUCCESS;
}

namespace {

UINT SingleItemAction(MSIHANDLE hInstall, LPCSTR fromPointer, LPCSTR toPointer, int kind) {
  char from[kNameBuffer], to[kNameBuffer], selected[kNameBuffer];
  if (!ReadName(hInstall, fromPointer, from) || !ReadName(hInstall, toPointer, to) ||
      !ReadName(hInstall, from, selected))
    return ERROR_FUNCTION_FAILED;
  return MoveSelectedItem(hInstall, from, to, selected, kind);
}

UINT MoveAllAction(MSIHANDLE hInstall, LPCSTR fromPointer, LPCSTR toPointer) {
  char from[kNameBuffer], to[kNameBuffer] = "";
  if (!ReadName(hInstall, fromPointer, from)) return ERROR_FUNCTION_FAILED;
  ReadName(hInstall, toPointer, to);
  return MoveAllItems(hInstall, from, to);
}

constexpr char kFeatureSide1[] = "RemoveFeatureListBox1";
constexpr char kFeatureSide2[] = "RemoveFeatureListBox2";
constexpr char kDialogSide1[] = "DialogListBox1";
constexpr char kDialogSide2[] = "DialogListBox2";

}  // namespace
}  // namespace viduzo

using namespace viduzo;

extern "C" UINT WINAPI Remove(MSIHANDLE hInstall) {
  return SingleItemAction(hInstall, kFeatureSide1, kFeatureSide2, kSubFeatures);
}

extern "C" UINT WINAPI Keep(MSIHANDLE hInstall) {
  return SingleItemAction(hInstall, kFeatureSide2, kFeatureSide1, kParents);
}

extern "C" UINT WINAPI RemoveAll(MSIHANDLE hInstall) {
  return MoveAllAction(hInstall, kFeatureSide1, kFeatureSide2);
}

extern "C" UINT WINAPI KeepAll(MSIHANDLE hInstall) {
  return MoveAllAction(hInstall, kFeatureSide2, kFeatureSide1);
}

extern "C" UINT WINAPI HideDialog(MSIHANDLE hInstall) {
  return SingleItemAction(hInstall, kDialogSide1, kDialogSide2, kDialog);
}

extern "C" UINT WINAPI ShowDialog(MSIHANDLE hInstall) {
  return SingleItemAction(hInstall, kDialogSide2, kDialogSide1, kDialog);
}

extern "C" UINT WINAPI HideAllDialog(MSIHANDLE hInstall) {
  return MoveAllAction(hInstall, kDialogSide1, kDialogSide2);
}

extern "C" UINT WINAPI ShowAllDialog(MSIHANDLE hInstall) {
  return MoveAllAction(hInstall, kDialogSide2, kDialogSide1);
}
