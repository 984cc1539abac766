#include "reports/feature_list.h"

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"

namespace viduzo {
namespace {

constexpr char kFeatureTable[] = "Feature";
constexpr char kScratchTable[] = "FeatureList";
constexpr char kCreateScratch[] =
    "CREATE TABLE `FeatureList` (`ID` CHAR, `Value` CHAR, `Text` CHAR PRIMARY KEY `ID`)";
constexpr char kDropScratch[] = "DROP TABLE `FeatureList`";
constexpr char kListBoxTable[] = "ListBox";
constexpr char kListStem[] = "RemoveFeatureListBox";
constexpr char kTargetPointer[] = "RemoveFeatureListBox1";
constexpr char kDefaultTarget[] = "RemoveFeatureListBox11";
constexpr char kNoDisabledFeatures[] = "NoDisabledFeatures";
constexpr char kValueLookup[] = "SELECT `Value` FROM `ListBox` WHERE `Value`=?";
constexpr DWORD kNameBuffer = 256;

// Feature table fields.
constexpr UINT kFeatureKey = 1;
constexpr UINT kFeatureParent = 2;
constexpr UINT kFeatureTitle = 3;
constexpr UINT kFeatureDisplay = 5;
constexpr UINT kFeatureLevel = 6;

// FeatureList and ListBox fields.
constexpr UINT kScratchId = 1;
constexpr UINT kScratchValue = 2;
constexpr UINT kScratchText = 3;
constexpr UINT kListProperty = 1;
constexpr UINT kListOrder = 2;
constexpr UINT kListValue = 3;
constexpr UINT kListText = 4;

// Closes the database handle of a query object that opened it itself.
struct DatabaseCloser {
  MSI& owner;
  ~DatabaseCloser() { owner.CloseDatabase(); }
};

// True when some ListBox row, in any list, has this Value. The value goes in as
// a parameter, so apostrophes and long paths are looked up as they are.
bool IsListed(MSIHANDLE lookup, LPCSTR value) {
  MsiHandle params(MsiCreateRecord(1));
  if (!params || MsiRecordSetStringA(params.get(), 1, value) != ERROR_SUCCESS) return false;
  if (MsiViewExecute(lookup, params.get()) != ERROR_SUCCESS) return false;
  MsiHandle row;
  bool found = MsiViewFetch(lookup, row.put()) == ERROR_SUCCESS;
  MsiViewClose(lookup);
  return found;
}

// A feature qualifies for the lists when it is shown, enabled, not installed and
// has no action requested; the row then goes into FeatureList with its path.
void AddQualifyingFeature(MSI& features, MSI& scratch) {
  int level = 0, display = 0;
  if (!features.GetFieldInteger(kFeatureLevel, &level) || level == 0) return;
  if (!features.GetFieldInteger(kFeatureDisplay, &display) || display == 0) return;
  const char* key = features.GetFieldString(kFeatureKey);
  if (!key) return;
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  if (!features.GetFeatureState(key, &installed, &action)) return;
  if (installed != INSTALLSTATE_ABSENT || action != INSTALLSTATE_UNKNOWN) return;
  const char* title = features.GetFieldString(kFeatureTitle);
  if (!title) return;
  std::string path;
  if (!BuildFeatureTitlePath(features, key, &path)) return;
  scratch.NewRecord();
  scratch.SetFieldString(kScratchId, key);
  scratch.SetFieldString(kScratchValue, path.c_str());
  scratch.SetFieldString(kScratchText, title);
  scratch.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY);
}

// Brings the four feature lists up to date against FeatureList (on scratch):
// rows whose feature no longer qualifies go, new features are appended to the
// target list; rows that stay keep their place and Order.
UINT UpdateFeatureLists(MSI& scratch) {
  MSI lists(scratch);
  if (lists.SetTable(kListBoxTable) != ERROR_SUCCESS) return lists.lastResult();
  int order = 1;
  bool listed = false;
  for (int i = 1; i <= 2; ++i) {
    for (int j = 1; j <= 2; ++j) {
      char where[MSI::kQuerySize];
      wsprintfA(where, "WHERE `Property`='%s%d%d'", kListStem, i, j);
      if (lists.SetQueryView(where, nullptr) != ERROR_SUCCESS) continue;
      while (lists.FetchRecord() == ERROR_SUCCESS) {
        const char* value = lists.GetFieldString(kListValue);
        if (!value) continue;
        if (scratch.FindRecord("Value", value) == ERROR_SUCCESS) {
          listed = true;
          ++order;
        } else {
          lists.DeleteRecord();
        }
      }
    }
  }

  char target[kNameBuffer] = "";
  if (ReadProperty(scratch.install(), kTargetPointer, target, sizeof target) != ERROR_SUCCESS ||
      target[0] == '\0')
    lstrcpyA(target, kDefaultTarget);

  if (scratch.SetQueryView(nullptr, nullptr) != ERROR_SUCCESS) return scratch.lastResult();
  MsiHandle lookup;
  MsiDatabaseOpenViewA(scratch.database(), kValueLookup, lookup.put());
  while (scratch.FetchRecord() == ERROR_SUCCESS) {
    const char* value = scratch.GetFieldString(kScratchValue);
    if (!value || IsListed(lookup.get(), value)) continue;
    const char* text = scratch.GetFieldString(kScratchText);
    if (!text) continue;
    lists.NewRecord();
    lists.SetFieldString(kListProperty, target);
    lists.SetFieldInteger(kListOrder, order++);
    lists.SetFieldString(kListValue, value);
    lists.SetFieldString(kListText, text);
    if (lists.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY)) listed = true;
  }
  lists.SetProperty(kNoDisabledFeatures, listed ? "0" : "1");
  return ERROR_SUCCESS;
}

}  // namespace

bool BuildFeatureTitlePath(const MSI& owner, LPCSTR feature, std::string* path) {
  MSI walk(owner);
  if (walk.SetTable(kFeatureTable) != ERROR_SUCCESS) return false;
  if (walk.FindRecord("Feature", feature) != ERROR_SUCCESS) return false;
  std::string result;
  for (int titles = 0;; ++titles) {
    const char* title = walk.GetFieldString(kFeatureTitle);
    if (!title) break;
    // Past the deepest tree the installer accepts, the parents loop.
    if (titles == kMaxTitlePathDepth) return false;
    result.insert(0, title);
    const char* parent = walk.GetFieldString(kFeatureParent);
    if (!parent) break;
    result.insert(0, 1, '\\');
    if (walk.FindRecord("Feature", parent) != ERROR_SUCCESS) break;
  }
  if (result.empty()) return false;
  *path = std::move(result);
  return true;
}

}  // namespace viduzo

using namespace viduzo;

extern "C" UINT WINAPI SetFeatureListbox(MSIHANDLE hInstall) {
  MSI features(hInstall);
  // Without an active database there is nothing to list; the lists stay as
  // they are.
  if (!features.OpenActiveDatabase(hInstall)) return ERROR_FUNCTION_FAILED;
  DatabaseCloser closer{features};
  if (features.SetTable(kFeatureTable) != ERROR_SUCCESS) return features.lastResult();

  MSI scratch(features);
  if (scratch.OpenView(kCreateScratch) != ERROR_SUCCESS) return scratch.lastResult();
  if (scratch.SetTable(kScratchTable) != ERROR_SUCCESS) {
    UINT result = scratch.lastResult();
    scratch.OpenView(kDropScratch);
    return result;
  }
  while (features.FetchRecord() == ERROR_SUCCESS) AddQualifyingFeature(features, scratch);

  UINT result = UpdateFeatureLists(scratch);
  scratch.OpenView(kDropScratch);
  return result;
}
