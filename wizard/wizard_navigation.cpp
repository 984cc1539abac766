#include "wizard/wizard_navigation.h"

#include <string>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/msi.h"
#include "runtime/names.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kCurrentDialog[] = "VmrCurrentDialog";
constexpr char kCurrentControl[] = "VmrCurrentCtrlSelection";
constexpr char kEnableDialogs[] = "ENABLE_DIALOGS";
constexpr char kNextDialog[] = "VmrNextWizardDialog";
constexpr char kNothing[] = "Nothing";
constexpr char kSearchAction[] = "SearchNewDialog";
constexpr char kWizardQuery[] =
    "SELECT * FROM `DialogWizardControl` WHERE `Dialog`=? AND `Control`=? ORDER BY "
    "`DialogSequence`";
constexpr char kEventQuery[] =
    "SELECT * FROM `ControlEvent` WHERE `Dialog_`=? AND `Control_`=? ORDER BY `Ordering`";
constexpr char kEndCondition[] = "VmrNextWizardDialog = \"Nothing\"";

constexpr DWORD kDialogBuffer = 73;
constexpr DWORD kControlBuffer = 50;
constexpr DWORD kColumnBuffer = 256;
constexpr DWORD kEventConditionBuffer = 1024;
constexpr int kModalBits = 2 | 8;  // modal, system-modal
constexpr int kEndEventOrdering = 999;

using Action = UINT(WINAPI*)(MSIHANDLE);

// Searches running now, nested ones included. It is back at 0 when the
// outermost search returns, so nothing of it outlives a call.
int g_activeSearches = 0;

class SearchLevel {
 public:
  SearchLevel() { ++g_activeSearches; }
  ~SearchLevel() { --g_activeSearches; }
  SearchLevel(const SearchLevel&) = delete;
  SearchLevel& operator=(const SearchLevel&) = delete;
  bool TooDeep() const { return g_activeSearches > kMaxNestedDialogSearches; }
};

// A two-field parameter record for a view.
MSIHANDLE PairRecord(LPCSTR first, LPCSTR second) {
  MSIHANDLE record = MsiCreateRecord(2);
  if (record) {
    MsiRecordSetStringA(record, 1, first);
    MsiRecordSetStringA(record, 2, second);
  }
  return record;
}

// Opens and executes a view with a two-field parameter record; false on any failure.
bool OpenPairView(MSIHANDLE database, LPCSTR sql, LPCSTR first, LPCSTR second,
                  MsiHandle* view) {
  if (MsiDatabaseOpenViewA(database, sql, view->put()) != ERROR_SUCCESS) return false;
  MsiHandle params(PairRecord(first, second));
  return params && MsiViewExecute(view->get(), params.get()) == ERROR_SUCCESS;
}

template <DWORD N>
UINT ReadField(MSIHANDLE record, UINT field, char (&buffer)[N]) {
  DWORD count = N;
  return MsiRecordGetStringA(record, field, buffer, &count);
}

// Sets the property named by a "[Name]" event to its resolved argument.
// A name without its closing bracket is no property event: the row is skipped.
UINT SetEventProperty(MSIHANDLE hInstall, char* event, LPCSTR argument) {
  char* name = event + 1;
  char* close = FindChar(name, ']');
  if (!close) return ERROR_SUCCESS;
  *close = '\0';
  GrowableText value;
  char* resolved = nullptr;
  UINT result = value.Format(hInstall, argument, &resolved);
  if (result != ERROR_SUCCESS) return result;
  return MsiSetPropertyA(hInstall, name, resolved ? resolved : "");
}

UINT SearchDialog(MSIHANDLE hInstall) {
  MsiSetPropertyA(hInstall, kNextDialog, kNothing);

  char dialog[kDialogBuffer];
  char control[kControlBuffer];
  if (ReadProperty(hInstall, kCurrentDialog, dialog, kDialogBuffer) != ERROR_SUCCESS ||
      dialog[0] == '\0')
    return ERROR_FUNCTION_FAILED;
  if (ReadProperty(hInstall, kCurrentControl, control, kControlBuffer) != ERROR_SUCCESS ||
      control[0] == '\0')
    return ERROR_FUNCTION_FAILED;

  MsiHandle database(MsiGetActiveDatabase(hInstall));
  MsiHandle view;
  if (!database || !OpenPairView(database.get(), kWizardQuery, dialog, control, &view))
    return ERROR_FUNCTION_FAILED;

  GrowableText enabled;
  enabled.ReadProperty(hInstall, kEnableDialogs);
  if (!enabled.text) return ERROR_FUNCTION_FAILED;
  bool showAll = enabled.text[0] == '\0' || EqualsNoCase(enabled.text, "Yes");
  CharLowerA(enabled.text);

  char candidate[kColumnBuffer];
  bool chosen = false;
  for (;;) {
    MsiHandle row;
    UINT fetched = MsiViewFetch(view.get(), row.put());
    if (fetched == ERROR_NO_MORE_ITEMS) break;
    if (fetched != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;

    if (ReadField(row.get(), 4, candidate) != ERROR_SUCCESS || candidate[0] == '\0')
      return ERROR_FUNCTION_FAILED;
    char condition[kColumnBuffer];
    if (ReadField(row.get(), 5, condition) != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;
    MSICONDITION applies = MsiEvaluateConditionA(hInstall, condition);
    if (applies != MSICONDITION_TRUE && applies != MSICONDITION_NONE) continue;
    char key[kColumnBuffer];
    if (ReadField(row.get(), 6, key) != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;
    CharLowerA(key);
    if (showAll || FindText(enabled.text, key)) {
      chosen = true;
      break;
    }
    UINT replayed = ReplayControlEvents(hInstall, candidate, control);
    if (replayed != ERROR_SUCCESS) return replayed;
  }
  if (!chosen) return ERROR_SUCCESS;

  UINT result = MsiSetPropertyA(hInstall, kNextDialog, candidate);
  if (lstrcmpA(candidate, kNothing) == 0) return result;
  return AddWizardEndEvent(hInstall, candidate) == ERROR_SUCCESS ? result
                                                                 : ERROR_FUNCTION_FAILED;
}

}  // namespace

UINT ReplayControlEvents(MSIHANDLE hInstall, LPCSTR dialog, LPCSTR control) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  MsiHandle view;
  if (!database || !OpenPairView(database.get(), kEventQuery, dialog, control, &view))
    return ERROR_FUNCTION_FAILED;

  MsiHandle row;
  while (MsiViewFetch(view.get(), row.put()) == ERROR_SUCCESS) {
    char condition[kEventConditionBuffer];
    UINT result = ReadField(row.get(), 5, condition);
    if (result != ERROR_SUCCESS) return result;
    if (MsiEvaluateConditionA(hInstall, condition) != MSICONDITION_TRUE) continue;
    char event[kColumnBuffer];
    result = ReadField(row.get(), 3, event);
    if (result != ERROR_SUCCESS) return result;
    if (lstrcmpA(event, "NewDialog") == 0) continue;
    char argument[kColumnBuffer];
    result = ReadField(row.get(), 4, argument);
    if (result != ERROR_SUCCESS) return result;

    if (event[0] == '[') {
      result = SetEventProperty(hInstall, event, argument);
      if (result != ERROR_SUCCESS) return result;
    } else if (lstrcmpA(event, "DoAction") == 0) {
      if (lstrcmpA(argument, kSearchAction) == 0) {
        result = SearchNewDialog(hInstall);
        if (result != ERROR_SUCCESS) return result;
      } else {
        result = RunEventAction(hInstall, argument, database.get());
        if (result != ERROR_SUCCESS && result != ERROR_FUNCTION_NOT_CALLED) return result;
      }
    }
  }
  return ERROR_SUCCESS;
}

UINT RunEventAction(MSIHANDLE hInstall, LPCSTR action, MSIHANDLE database) {
  MSI query(MSI::DatabaseHandle{database});
  if (query.SetTable("CustomAction") != ERROR_SUCCESS) return ERROR_SUCCESS;
  // The query object cuts the whole query text at 256 characters.
  std::string where = std::string("WHERE `Action`='") + action + "' AND `Source` = '" +
                      names::kLibraryBinaryKey + "'";
  query.SetQueryView(where.c_str(), nullptr);
  if (query.FetchRecord() != ERROR_SUCCESS) return MsiDoActionA(hInstall, action);

  // No export has a name anywhere near 260 characters: a longer target is
  // simply not found.
  const char* target = query.GetFieldString(4);
  if (!target) return ERROR_FUNCTION_FAILED;
  auto export_ = reinterpret_cast<Action>(
      reinterpret_cast<void*>(GetProcAddress(ModuleHandle(), target)));
  if (!export_) return ERROR_FUNCTION_FAILED;
  return export_(hInstall);
}

UINT AddWizardEndEvent(MSIHANDLE hInstall, LPCSTR dialog) {
  MSI query(hInstall);
  query.OpenActiveDatabase(hInstall);
  struct DatabaseCloser {
    MSI& query;
    ~DatabaseCloser() { query.CloseDatabase(); }
  } closer{query};

  if (query.SetTable("Dialog") != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;
  int attributes;
  if (query.FindRecord("Dialog", dialog) == ERROR_SUCCESS &&
      query.GetFieldInteger(6, &attributes) && (attributes & kModalBits) == 0)
    return ERROR_SUCCESS;

  if (query.SetTable("ControlEvent") != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;
  // The dialog's own SpawnDialog events on Next keep the wizard open: the end
  // event applies only when none of their conditions holds.
  std::string condition = kEndCondition;
  bool spawns = false;
  for (UINT found = query.FindRecord("Dialog_", dialog, "Control_", "Next", "Event",
                                     "SpawnDialog");
       found == ERROR_SUCCESS; found = query.FetchRecord()) {
    const char* spawn = query.GetFieldString(5);
    if (!spawn || lstrcmpA(spawn, "1") == 0) return ERROR_SUCCESS;
    condition += spawns ? ") Or (" : " And Not ((";
    condition += spawn;
    spawns = true;
  }
  if (spawns) condition += "))";

  if (!query.NewRecord()) return ERROR_FUNCTION_FAILED;
  query.SetFieldString(1, dialog);
  query.SetFieldString(2, "Next");
  query.SetFieldString(3, "EndDialog");
  query.SetFieldString(4, "Return");
  query.SetFieldString(5, condition.c_str());
  query.SetFieldInteger(6, kEndEventOrdering);
  // Pressing Next again after coming back finds the row there already; the
  // engine refuses the second copy and the first one serves.
  query.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY);
  return ERROR_SUCCESS;
}

}  // namespace viduzo

// Chooses the dialog that follows the pressed control of the current dialog and
// publishes it in VmrNextWizardDialog ("Nothing" when none follows).
extern "C" UINT WINAPI SearchNewDialog(MSIHANDLE hInstall) {
  viduzo::SearchLevel level;
  if (level.TooDeep()) {
    OutputDebugStringA(
        "SearchNewDialog: switched-off dialogs lead back to one another; search stopped");
    return ERROR_FUNCTION_FAILED;
  }
  return viduzo::SearchDialog(hInstall);
}
