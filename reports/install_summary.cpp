// The installation summary: one Report row per feature saying what will happen
// to it, made from a template row of the same table; the four feature list
// properties; and, for an administrative installation, ENABLE_DIALOGS from the
// dialog lists.
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "reports/feature_list.h"
#include "runtime/action.h"
#include "runtime/msi.h"
#include "runtime/text.h"
#include "wizard/dialog_controls.h"

namespace viduzo {
namespace {

constexpr char kReportTable[] = "Report";
constexpr char kFeatureTable[] = "Feature";
constexpr char kListBoxTable[] = "ListBox";
constexpr char kTemplateId[] = "ReportTemplateID";
constexpr char kDefaultTemplateId[] = "FeatureReport";
constexpr char kTitleSuffix[] = "Feature";
constexpr char kStateSuffix[] = "State";
constexpr char kConditionJoin[] = " AND ";
constexpr char kAction[] = "ACTION";
constexpr char kAdminAction[] = "ADMIN";
constexpr char kSampleShown[] = "DisplaySampleDialog";
constexpr char kEnableDialogs[] = "ENABLE_DIALOGS";
constexpr char kAddLocal[] = "VMR_ADDLOCAL";
constexpr char kAddSource[] = "VMR_ADDSOURCE";
constexpr char kAdvertise[] = "VMR_ADVERTISE";
constexpr char kRemove[] = "VMR_REMOVE";
constexpr char kFeatureLists[] = "RemoveFeatureListBox";
constexpr char kDialogLists[] = "DialogListBox";
constexpr char kNoTitle[] = "Could not retrieve Feature.Title for Feature";
constexpr char kNoListText[] = "Could not retrieve Listbox.Text for Feature during Admin";

// Report, Feature and ListBox fields.
constexpr UINT kReportDialog = 1;
constexpr UINT kReportControl = 2;
constexpr UINT kReportOrder = 3;
constexpr UINT kReportCondition = 4;
constexpr UINT kReportText = 5;
constexpr UINT kFeatureKey = 1;
constexpr UINT kFeatureTitle = 3;
constexpr UINT kFeatureDisplay = 5;
constexpr UINT kFeatureAttributes = 8;
constexpr UINT kListText = 4;

// Feature attribute bits that decide a default action.
constexpr int kFavorSource = 1;
constexpr int kFavorAdvertise = 4;

// The state texts: the property that may override each, and its default, for a
// normal and for an administrative installation.
enum SummaryState {
  kAbsent,
  kRepair,
  kLocal,
  kUnknown,
  kSource,
  kNotHandled,
  kAdvertised,
  kNoState,
  kDisabled,
  kToBeRemoved,
  kNoLine,
};

struct StateText {
  const char* installProperty;
  const char* installDefault;
  const char* adminProperty;
  const char* adminDefault;
};

const StateText kFeatureStateTextTable[] = {
    {"InstallAbsentText", "Absent", "AdminAbsentText", "Absent"},
    {"InstallRepairText", "Repair", "AdminRepairText", "Repair"},
    {"InstallLocallyText", "Local", "AdminLocallyText", "Local"},
    {"InstallUnknownText", "Unknown", "AdminUnknownText", "Unknown"},
    {"InstallSourceText", "Source", "AdminSourceText", "Source"},
    {"InstallActionNotHandledText", "Action Not Handled", "AdminActionNotHandledText",
     "Action Not Handled"},
    {"InstallAdvertisedText", "Advertised", "AdminAdvertisedText", "Advertised"},
    {"InstallNoFeatureStateText", "No Feature State", "AdminNoFeatureStateText",
     "No Feature State could be determined"},
    {nullptr, nullptr, "AdminDisabledText", "Disabled"},
    {nullptr, nullptr, "AdminScheduledToBeRemovedText", "Scheduled To Be Removed"},
};

// What the summary lines are made from: the template row's place and text, the
// two properties its text refers to, and the title path of the feature being
// looked up in the lists.
struct ReportLine {
  std::string dialog;
  std::string control;
  int nextOrder = 0;
  std::string conditionRest;
  std::string lineTemplate;
  std::string titleProperty;
  std::string stateProperty;
  std::string titlePath;
};

bool IsOneOf(int value, std::initializer_list<int> values) {
  for (int v : values)
    if (value == v) return true;
  return false;
}

// The state of a feature in a normal installation; the list it joins, if any.
SummaryState InstallState(int action, int installed, const char** list) {
  switch (action) {
    case INSTALLSTATE_UNKNOWN:
      return installed == INSTALLSTATE_ABSENT ? kAbsent : kNoLine;
    case INSTALLSTATE_ADVERTISED:
      if (IsOneOf(installed, {-6, -5, 0, 1})) return kRepair;
      if (!IsOneOf(installed, {-4, -1, 2, 3, 4})) return kUnknown;
      *list = kAdvertise;
      return kAdvertised;
    case INSTALLSTATE_ABSENT:
      return kAbsent;
    case INSTALLSTATE_LOCAL:
      if (IsOneOf(installed, {-6, -5, 0, 3})) return kRepair;
      if (!IsOneOf(installed, {-4, -1, 1, 2, 4})) return kUnknown;
      *list = kAddLocal;
      return kLocal;
    case INSTALLSTATE_SOURCE:
      if (IsOneOf(installed, {-6, -5, -4, 0, 4})) return kRepair;
      if (!IsOneOf(installed, {-1, 1, 2, 3})) return kUnknown;
      *list = kAddSource;
      return kSource;
    default:
      return kNotHandled;
  }
}

// The state of a feature in an administrative installation, where the
// installed state counts only when no action is requested.
SummaryState AdminState(int action, int installed, const char** list) {
  switch (action) {
    case INSTALLSTATE_UNKNOWN:
      return installed == INSTALLSTATE_ABSENT ? kAbsent : kNoLine;
    case INSTALLSTATE_ADVERTISED:
      *list = kAdvertise;
      return kAdvertised;
    case INSTALLSTATE_ABSENT:
      return kAbsent;
    case INSTALLSTATE_LOCAL:
      *list = kAddLocal;
      return kLocal;
    case INSTALLSTATE_SOURCE:
      *list = kAddSource;
      return kSource;
    default:
      return kNotHandled;
  }
}

// The state's text: its property's value, or the default when that is empty.
std::string StateTextFor(MSI& query, SummaryState state, bool admin) {
  const StateText& entry = kFeatureStateTextTable[state];
  const char* value = query.GetProperty(admin ? entry.adminProperty : entry.installProperty);
  if (value && *value) return value;
  return admin ? entry.adminDefault : entry.installDefault;
}

// Writes one summary line: the line template resolved with the title and
// state properties as they are now, after the template, at the next order.
UINT WriteReportRow(const MSI& owner, ReportLine& line) {
  MSI report(owner);
  if (report.SetTable(kReportTable) != ERROR_SUCCESS) return report.lastResult();
  char* masked = report.MaskRtfControls(line.lineTemplate.c_str());
  if (!masked) return ERROR_FUNCTION_FAILED;
  char* formatted = report.FormatRecordText(masked);
  if (!formatted) return report.lastResult();
  char* resolved = report.UnmaskRtfControls(formatted);
  if (!resolved) return ERROR_FUNCTION_FAILED;
  if (!report.NewRecord()) return report.lastResult();
  report.SetFieldString(kReportDialog, line.dialog.c_str());
  report.SetFieldString(kReportControl, line.control.c_str());
  report.SetFieldInteger(kReportOrder, line.nextOrder);
  report.SetFieldString(kReportCondition, line.conditionRest.c_str());
  report.SetFieldString(kReportText, resolved);
  if (report.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY)) ++line.nextOrder;
  return report.lastResult();
}

void SetLineProperties(MSI& query, const ReportLine& line, LPCSTR title, LPCSTR state) {
  query.SetProperty(line.titleProperty.c_str(), title);
  query.SetProperty(line.stateProperty.c_str(), state);
}

// True when the template's condition begins with the identifier, compared
// without regard to case over the identifier's length.
bool IsTemplate(const char* condition, const char* id) {
  int length = lstrlenA(id);
  std::string head(static_cast<std::size_t>(length) + 1, '\0');
  lstrcpynA(head.data(), condition, length + 1);
  return EqualsNoCase(head.c_str(), id);
}

// Finds the template row, fills the line from it and deletes the lines of an
// earlier run: every row of the template's control with a greater Order.
UINT PrepareTemplate(const MSI& owner, const char* id, ReportLine& line) {
  MSI report(owner);
  if (report.SetTable(kReportTable) != ERROR_SUCCESS) return report.lastResult();
  UINT fetched;
  for (;;) {
    fetched = report.FetchRecord();
    if (fetched != ERROR_SUCCESS) return fetched;
    const char* condition = report.GetFieldString(kReportCondition);
    if (condition && IsTemplate(condition, id)) break;
  }
  line.titleProperty = std::string(id) + kTitleSuffix;
  line.stateProperty = std::string(id) + kStateSuffix;
  const char* condition = report.GetFieldString(kReportCondition);
  const char* join = FindText(condition, kConditionJoin);
  std::string rest = join ? join + lstrlenA(kConditionJoin) : "";

  int order = 0;
  if (!report.GetFieldInteger(kReportOrder, &order)) return ERROR_FUNCTION_FAILED;
  const char* dialog = report.GetFieldString(kReportDialog);
  const char* control = report.GetFieldString(kReportControl);
  const char* text = report.GetFieldString(kReportText);
  if (!dialog || !control || !text) return report.lastResult();
  line.dialog = dialog;
  line.control = control;
  line.lineTemplate = text;
  line.nextOrder = order;
  line.conditionRest = rest;

  // The rows are first listed, then deleted each through a view of its own:
  // an engine may fetch rows that do not match a view's condition once rows
  // were deleted through it (Wine's does).
  // (The query object cuts every query text to its 256 characters.)
  const std::string rows =
      "WHERE `Dialog_`='" + line.dialog + "' AND `Control_`='" + line.control + "' AND `Order`";
  std::vector<int> earlier;
  if (report.SetQueryView((rows + ">" + std::to_string(order)).c_str(), nullptr) ==
      ERROR_SUCCESS)
    for (int later = 0; report.FetchRecord() == ERROR_SUCCESS;)
      if (report.GetFieldInteger(kReportOrder, &later)) earlier.push_back(later);
  for (int row : earlier)
    if (report.SetQueryView((rows + "=" + std::to_string(row)).c_str(), nullptr) ==
            ERROR_SUCCESS &&
        report.FetchRecord() == ERROR_SUCCESS)
      report.DeleteRecord();
  return ERROR_SUCCESS;
}

// In an administrative installation a feature found in a feature list gets the
// list's text and the list's state: Disabled in a list 1x, to be removed in a
// list 2x. True when its line was written.
bool AdminListLookup(MSI& query, const char* key, ReportLine& line) {
  if (!BuildFeatureTitlePath(query, key, &line.titlePath)) return false;
  MSI lists(query);
  int found = 0;
  for (int i = 1; i <= 2 && !found; ++i) {
    for (int j = 1; j <= 2 && !found; ++j) {
      std::string where = "WHERE `Property`='" + std::string(kFeatureLists) +
                          std::to_string(i) + std::to_string(j) + "' AND `Value`='" +
                          line.titlePath + "'";
      if (lists.SetQueryView(where.c_str(), kListBoxTable) == ERROR_SUCCESS &&
          lists.FetchRecord() == ERROR_SUCCESS)
        found = i;
    }
  }
  if (!found) return false;
  const char* text = lists.GetFieldString(kListText);
  std::string title = text ? text : kNoListText;
  SummaryState state = found == 1 ? kDisabled : kToBeRemoved;
  if (state == kToBeRemoved) query.AppendProperty(kRemove, key);
  std::string stateText = StateTextFor(query, state, true);
  SetLineProperties(query, line, title.c_str(), stateText.c_str());
  WriteReportRow(query, line);
  return true;
}

// One line per shown feature whose state calls for one.
UINT FeatureSummary(MSI& query, const char* id) {
  ReportLine line;
  if (PrepareTemplate(query, id, line) != ERROR_SUCCESS) return query.lastResult();
  line.nextOrder += 1;

  MSI features(query);
  if (features.SetTable(kFeatureTable) != ERROR_SUCCESS) return features.lastResult();
  const char* action = query.GetProperty(kAction);
  bool admin = action && lstrcmpA(action, kAdminAction) == 0;
  const char* sample = query.GetProperty(kSampleShown);
  if (sample && lstrcmpA(sample, "1") == 0) admin = false;

  while (features.FetchRecord() == ERROR_SUCCESS) {
    int display = 0;
    if (!features.GetFieldInteger(kFeatureDisplay, &display) || display == 0) continue;
    const char* key = features.GetFieldString(kFeatureKey);
    if (!key) continue;
    if (admin && AdminListLookup(features, key, line)) continue;

    SummaryState state = kNoState;
    const char* list = nullptr;
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, requested = INSTALLSTATE_UNKNOWN;
    if (features.GetFeatureState(key, &installed, &requested)) {
      int act = requested;
      if (act == INSTALLSTATE_DEFAULT) {
        int attributes = 0;
        if (!features.GetFieldInteger(kFeatureAttributes, &attributes))
          act = INSTALLSTATE_LOCAL;
        else if (attributes & kFavorSource)
          act = INSTALLSTATE_SOURCE;
        else if (attributes & kFavorAdvertise)
          act = INSTALLSTATE_ADVERTISED;
        else
          act = INSTALLSTATE_LOCAL;
      }
      state = admin ? AdminState(act, installed, &list) : InstallState(act, installed, &list);
    }
    if (state == kNoLine) continue;
    if (list) query.AppendProperty(list, key);
    const char* titleField = features.GetFieldString(kFeatureTitle);
    std::string title = titleField ? titleField : kNoTitle;
    std::string stateText = StateTextFor(query, state, admin);
    SetLineProperties(query, line, title.c_str(), stateText.c_str());
    WriteReportRow(query, line);
  }
  return ERROR_SUCCESS;
}

// ENABLE_DIALOGS of an administrative installation: "Yes" when every dialog is
// in a shown list, "No" when every one is in a hidden list, else the shown
// dialogs' texts and enable keys.
void DialogListSummary(MSI& query) {
  MSI lists(query);
  if (lists.SetTable(kListBoxTable) != ERROR_SUCCESS) return;
  bool shown = false, hidden = false;
  for (int i = 1; i <= 2; ++i) {
    for (int j = 1; j <= 2; ++j) {
      std::string where = "WHERE `Property`='" + std::string(kDialogLists) + std::to_string(i) +
                          std::to_string(j) + "'";
      if (lists.SetQueryView(where.c_str(), nullptr) != ERROR_SUCCESS) continue;
      while (lists.FetchRecord() == ERROR_SUCCESS) {
        if (i == 2) {
          hidden = true;
          continue;
        }
        shown = true;
        const char* text = lists.GetFieldString(kListText);
        if (!text) continue;
        query.AppendProperty(kEnableDialogs, text);
        std::unique_ptr<char[], decltype(&MSI::FreeText)> key(
            EnableKeyForDisplayText(lists, text), &MSI::FreeText);
        if (key) query.AppendProperty(kEnableDialogs, key.get());
      }
    }
  }
  if (shown != hidden) query.SetProperty(kEnableDialogs, shown ? "Yes" : "No");
}

UINT Summarize(MSI& query) {
  for (const char* list : {kAddLocal, kAddSource, kAdvertise, kRemove})
    query.SetProperty(list, "");
  const char* action = query.GetProperty(kAction);
  if (action && lstrcmpA(action, kAdminAction) == 0) {
    query.SetProperty(kEnableDialogs, "");
    DialogListSummary(query);
  }
  const char* id = query.GetProperty(kTemplateId);
  std::string identifier = id && *id ? id : kDefaultTemplateId;
  return FeatureSummary(query, identifier.c_str());
}

}  // namespace
}  // namespace viduzo

using namespace viduzo;

// Writes the summary lines of the features into the Report table after the
// template row, and the feature list properties.
extern "C" UINT WINAPI SetInstallSummaryReport(MSIHANDLE hInstall) {
  MSI query(hInstall);
  // Without an active database nothing can be summarized.
  if (!query.OpenActiveDatabase(hInstall)) return ERROR_FUNCTION_FAILED;
  UINT result = ERROR_FUNCTION_FAILED;
  try {
    result = Summarize(query);
  } catch (const std::bad_alloc&) {
    result = ERROR_FUNCTION_FAILED;
  }
  query.CloseDatabase();
  return result;
}
