#include "wizard/dialog_controls.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kSelectedDisplay[] = "SelectedDialogDisplay";
constexpr char kDialogToDisplay[] = "Dialog2Display";
constexpr char kSampleShown[] = "DisplaySampleDialog";
constexpr char kSampleClosed[] = "ToggleCloseDisplay";
constexpr char kMappingTable[] = "VmrDialogMapping";
constexpr char kDisable[] = "Disable";
constexpr char kSampleCondition[] = "DisplaySampleDialog=1";
constexpr char kControlQuery[] = "SELECT * FROM `Control` WHERE `Dialog_`=? AND `Control`<>?";
constexpr char kConditionQuery[] =
    "SELECT * FROM `ControlCondition` WHERE `Dialog_`=? AND `Action`=?";
constexpr char kRemoveQuery[] =
    "DELETE FROM `ControlCondition` WHERE `Dialog_`=? AND `Action`=? AND `Condition`=?";

constexpr DWORD kTextBuffer = 256;
constexpr DWORD kTypeBuffer = 25;
constexpr DWORD kControlNameBuffer = 55;
constexpr int kDialogNameLimit = 255;
constexpr UINT kDialogColumn = 1;
constexpr UINT kEnableKeyColumn = 3;

// Input controls; every other type (texts, lines, bitmaps, ...) stays as it is.
// Compared exactly, letter case included.
constexpr const char* kInputTypes[] = {
    "PathEdit", "RadioButtonGroup", "PushButton", "DirectoryList", "DirectoryCombo",
    "VolumeSelectCombo", "ListBox", "CheckBox", "Edit", "VolumeCostList", "SelectionTree"};

bool IsInputType(LPCSTR type) {
  for (const char* input : kInputTypes)
    if (lstrcmpA(type, input) == 0) return true;
  return false;
}

template <DWORD N>
UINT ReadField(MSIHANDLE record, UINT field, char (&buffer)[N]) {
  DWORD count = N;
  return MsiRecordGetStringA(record, field, buffer, &count);
}

// Turns the display text in name into the dialog it stands for, publishing the
// dialog in Dialog2Display. A text the mapping does not know stays as it is:
// it is taken to be the dialog's own name.
UINT MapDisplayText(MSIHANDLE hInstall, char (&name)[kTextBuffer]) {
  std::unique_ptr<char[], decltype(&MSI::FreeText)> dialog(
      DialogForDisplayText(hInstall, name), &MSI::FreeText);
  if (!dialog) return ERROR_SUCCESS;
  UINT result = MsiSetPropertyA(hInstall, kDialogToDisplay, dialog.get());
  if (result == ERROR_SUCCESS) {
    TruncateBytes(dialog.get(), kDialogNameLimit);
    lstrcpyA(name, dialog.get());
  }
  return result;
}

}  // namespace

char* LookupDialogMapping(MSI& query, LPCSTR displayText, UINT column) {
  // The query object cuts the query text to fit its buffer; a text too long
  // for it loses its closing quote and the query fails.
  std::string where = std::string("WHERE `DisplayText`='") + displayText + "'";
  if (query.SetQueryView(where.c_str(), kMappingTable) != ERROR_SUCCESS) return nullptr;
  if (query.FetchRecord() != ERROR_SUCCESS) return nullptr;
  char* value = nullptr;
  query.GetFieldString(column, &value);
  return value;
}

char* DialogForDisplayText(MSIHANDLE hInstall, LPCSTR displayText) {
  MSI query(hInstall);
  if (!query.OpenActiveDatabase(hInstall)) return nullptr;
  char* dialog = LookupDialogMapping(query, displayText, kDialogColumn);
  query.CloseDatabase();
  return dialog;
}

char* EnableKeyForDisplayText(MSI& caller, LPCSTR displayText) {
  MSI query(caller);
  return LookupDialogMapping(query, displayText, kEnableKeyColumn);
}

UINT DisableControls(MSIHANDLE hInstall, LPCSTR dialog) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return ERROR_FUNCTION_FAILED;
  MsiHandle controls;
  UINT result = MsiDatabaseOpenViewA(database.get(), kControlQuery, controls.put());
  if (result != ERROR_SUCCESS) return result;
  MsiHandle params(MsiCreateRecord(2));
  if (!params) return ERROR_FUNCTION_FAILED;
  MsiRecordSetStringA(params.get(), 1, dialog);
  MsiRecordSetStringA(params.get(), 2, "Cancel");
  result = MsiViewExecute(controls.get(), params.get());
  if (result != ERROR_SUCCESS) return result;
  // The view through which the rows are inserted.
  MsiHandle conditions;
  result = MsiDatabaseOpenViewA(database.get(), kConditionQuery, conditions.put());
  if (result != ERROR_SUCCESS) return result;

  MsiHandle row;
  while (MsiViewFetch(controls.get(), row.put()) == ERROR_SUCCESS) {
    char type[kTypeBuffer];
    result = ReadField(row.get(), 3, type);
    if (result != ERROR_SUCCESS) return result;
    if (type[0] == '\0') return ERROR_SUCCESS;
    if (!IsInputType(type)) continue;
    char name[kControlNameBuffer];
    result = ReadField(row.get(), 2, name);
    if (result != ERROR_SUCCESS) return result;
    if (name[0] == '\0') return ERROR_SUCCESS;

    MsiHandle condition(MsiCreateRecord(4));
    if (!condition) return ERROR_FUNCTION_FAILED;
    MsiRecordSetStringA(condition.get(), 1, dialog);
    MsiRecordSetStringA(condition.get(), 2, name);
    MsiRecordSetStringA(condition.get(), 3, kDisable);
    MsiRecordSetStringA(condition.get(), 4, kSampleCondition);
    result = MsiViewModify(conditions.get(), MSIMODIFY_INSERT_TEMPORARY, condition.get());
    if (result != ERROR_SUCCESS) return result;
  }
  return ERROR_SUCCESS;
}

UINT RemoveDisableConditions(MSIHANDLE hInstall, LPCSTR dialog) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return ERROR_FUNCTION_FAILED;
  MsiHandle view;
  UINT result = MsiDatabaseOpenViewA(database.get(), kRemoveQuery, view.put());
  if (result != ERROR_SUCCESS) return result;
  MsiHandle params(MsiCreateRecord(3));
  if (!params) return ERROR_FUNCTION_FAILED;
  MsiRecordSetStringA(params.get(), 1, dialog);
  MsiRecordSetStringA(params.get(), 2, kDisable);
  MsiRecordSetStringA(params.get(), 3, kSampleCondition);
  return MsiViewExecute(view.get(), params.get());
}

}  // namespace viduzo

// Prepares the dialog chosen in the dialog list for a sample view: publishes it
// in Dialog2Display and disables its input controls.
extern "C" UINT WINAPI DisableDialogCtrls(MSIHANDLE hInstall) {
  char name[viduzo::kTextBuffer];
  UINT result = viduzo::ReadProperty(hInstall, viduzo::kSelectedDisplay, name, sizeof name);
  if (result != ERROR_SUCCESS) return result;
  if (name[0] == '\0') return ERROR_SUCCESS;
  result = viduzo::MapDisplayText(hInstall, name);
  if (result != ERROR_SUCCESS) return result;
  result = viduzo::DisableControls(hInstall, name);
  if (result != ERROR_SUCCESS) return result;
  return MsiSetPropertyA(hInstall, viduzo::kSampleShown, "1");
}

// Ends a sample view: enables the dialog's controls again and tells the package
// that the sample was closed.
extern "C" UINT WINAPI EnableDialogCtrls(MSIHANDLE hInstall) {
  char shown[viduzo::kTextBuffer];
  if (viduzo::ReadProperty(hInstall, viduzo::kSampleShown, shown, sizeof shown) !=
          ERROR_SUCCESS ||
      std::atoi(shown) == 0) {
    MsiSetPropertyA(hInstall, viduzo::kSampleClosed, "0");
    return ERROR_SUCCESS;
  }
  MsiSetPropertyA(hInstall, viduzo::kSampleClosed, "1");
  UINT result = MsiSetPropertyA(hInstall, viduzo::kSampleShown, "0");
  if (result != ERROR_SUCCESS) return result;

  char name[viduzo::kTextBuffer];
  result = viduzo::ReadProperty(hInstall, viduzo::kSelectedDisplay, name, sizeof name);
  if (result != ERROR_SUCCESS) return result;
  if (name[0] == '\0') return ERROR_SUCCESS;
  result = viduzo::MapDisplayText(hInstall, name);
  if (result != ERROR_SUCCESS) return result;
  return viduzo::RemoveDisableConditions(hInstall, name);
}
