// The install session: a package opened with MsiOpenPackageA, its properties,
// formatted text, conditions, actions and messages. The costing actions and the
// feature / component states are in costing.cpp.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winsim/session.h"

#include "winsim/control.h"

namespace winsim {
namespace {

struct SessionControl {
  int messageAnswer = 0;
  std::vector<ProcessedMessage> messages;
  std::map<std::string, std::function<UINT(MSIHANDLE)>> actions;
  std::vector<std::string> actionsRun;
  INSTALLUI_HANDLERA externalUi = nullptr;
  DWORD externalUiFilter = 0;
  LPVOID externalUiContext = nullptr;
  // Property calls made to fail: the successes still to give, per name.
  std::map<std::string, unsigned> failingReads;
  std::map<std::string, unsigned> failingWrites;
};

SessionControl& Control() {
  static SessionControl control;
  return control;
}

// True when this call on the property is one the test made fail. A name
// ending in "*" stands for every name that begins with the rest.
bool CallFails(std::map<std::string, unsigned>& failing, const char* name) {
  auto it = failing.find(name);
  if (it == failing.end()) {
    const std::string text = name;
    it = std::find_if(failing.begin(), failing.end(), [&text](const auto& entry) {
      const std::string& n = entry.first;
      return !n.empty() && n.back() == '*' && text.compare(0, n.size() - 1, n, 0, n.size() - 1) == 0;
    });
  }
  if (it == failing.end()) return false;
  if (it->second == 0) return true;
  --it->second;
  return false;
}

// The standard actions of the installer; running one outside a real installation
// is recorded and succeeds.
bool IsStandardAction(const std::string& name) {
  static const char* const kStandard[] = {
      "AppSearch",        "CCPSearch",        "CreateFolders",      "CreateShortcuts",
      "DuplicateFiles",   "ExecuteAction",    "FindRelatedProducts", "InstallExecute",
      "InstallFiles",     "InstallFinalize",  "InstallInitialize",  "InstallValidate",
      "LaunchConditions",
      "MigrateFeatureStates", "MoveFiles",    "PublishFeatures",    "PublishProduct",
      "RegisterProduct",  "RegisterUser",     "RemoveExistingProducts", "RemoveFiles",
      "RemoveFolders",    "RemoveIniValues",  "RemoveRegistryValues", "RemoveShortcuts",
      "ResolveSource",    "RMCCPSearch",      "ValidateProductID",  "WriteIniValues",
      "WriteRegistryValues", "ProcessComponents", "UnpublishFeatures", "SelfRegModules",
      "SelfUnregModules",
  };
  for (const char* s : kStandard)
    if (name == s) return true;
  return false;
}

// Properties the engine sets when it opens a package, before the Property table.
void SetEngineProperties(Session& session) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  const std::pair<const char*, std::string> kProperties[] = {
      {"WindowsVolume", "C:\\"},
      {"WindowsFolder", "C:\\windows\\"},
      {"SystemFolder", "C:\\windows\\system32\\"},
      {"System64Folder", "C:\\windows\\system32\\"},
      {"ProgramFilesFolder", "C:\\Program Files (x86)\\"},
      {"ProgramFiles64Folder", "C:\\Program Files\\"},
      {"CommonFilesFolder", "C:\\Program Files (x86)\\Common Files\\"},
      {"TempFolder", temp},
      {"VersionNT", "601"},
      {"WindowsBuild", "7601"},
      {"ALLUSERS", ""},
      {"UILevel", "5"},
  };
  for (const auto& [name, value] : kProperties) session.SetProperty(name, value);
}

}  // namespace

void SetMessageAnswer(int answer) { Control().messageAnswer = answer; }
const std::vector<ProcessedMessage>& Messages() { return Control().messages; }
void ClearMessages() { Control().messages.clear(); }

void RegisterAction(const std::string& name, std::function<UINT(MSIHANDLE)> action) {
  Control().actions[name] = std::move(action);
}

const std::vector<std::string>& ActionsRun() { return Control().actionsRun; }

void ResetSession() {
  SessionControl& control = Control();
  control.messageAnswer = 0;
  control.messages.clear();
  control.actions.clear();
  control.actionsRun.clear();
  control.failingReads.clear();
  control.failingWrites.clear();
  ResetInstalledProducts();
  ResetRowInsertFailures();
}

void FailPropertyRead(const std::string& name, unsigned afterSuccesses) {
  Control().failingReads[name] = afterSuccesses;
}

void FailPropertyWrite(const std::string& name, unsigned afterSuccesses) {
  Control().failingWrites[name] = afterSuccesses;
}

std::shared_ptr<Session> GetSession(MSIHANDLE handle) { return Get<Session>(handle); }

}  // namespace winsim

using winsim::Session;

UINT WINAPI MsiOpenPackageA(LPCSTR path, MSIHANDLE* install) {
  if (!path || !install) return ERROR_INVALID_PARAMETER;
  auto session = std::make_shared<Session>();
  UINT result = winsim::OpenDatabase(path, MSIDBOPEN_TRANSACT, &session->database);
  if (result != ERROR_SUCCESS) return ERROR_INSTALL_PACKAGE_INVALID;
  winsim::SetEngineProperties(*session);
  std::vector<std::vector<winsim::Field>> rows;
  if (winsim::QueryRows(*session->database, "SELECT `Property`, `Value` FROM `Property`",
                        &rows) == ERROR_SUCCESS) {
    for (const auto& row : rows)
      if (row.size() >= 2) session->SetProperty(row[0].AsText(), row[1].AsText());
  }
  session->SetProperty("OriginalDatabase", path);
  session->SetProperty("DATABASE", path);
  *install = winsim::AddHandle(session);
  return ERROR_SUCCESS;
}

UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR buffer, DWORD* count) {
  auto session = winsim::GetSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!name) return ERROR_INVALID_PARAMETER;
  if (winsim::CallFails(winsim::Control().failingReads, name)) return ERROR_FUNCTION_FAILED;
  return winsim::CopyOut(session->Property(name), buffer, count);
}

UINT WINAPI MsiSetPropertyA(MSIHANDLE install, LPCSTR name, LPCSTR value) {
  auto session = winsim::GetSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!name) return ERROR_INVALID_PARAMETER;
  if (!*name) return ERROR_FUNCTION_FAILED;
  if (winsim::CallFails(winsim::Control().failingWrites, name)) return ERROR_FUNCTION_FAILED;
  session->SetProperty(name, value ? value : "");
  return ERROR_SUCCESS;
}

UINT WINAPI MsiFormatRecordA(MSIHANDLE install, MSIHANDLE record, LPSTR buffer, DWORD* count) {
  auto rec = winsim::Get<winsim::Record>(record);
  if (!rec) return ERROR_INVALID_HANDLE;
  // An install handle that names no session formats as if none were given, as
  // the real engine does.
  std::shared_ptr<Session> session = winsim::GetSession(install);
  return winsim::CopyOut(winsim::FormatRecord(*rec, session.get()), buffer, count);
}

MSICONDITION WINAPI MsiEvaluateConditionA(MSIHANDLE install, LPCSTR condition) {
  auto session = winsim::GetSession(install);
  if (!session) return MSICONDITION_ERROR;
  if (!condition) return MSICONDITION_NONE;
  return winsim::EvaluateCondition(condition, *session);
}

int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) {
  auto session = winsim::GetSession(install);
  auto rec = winsim::Get<winsim::Record>(record);
  if (!session || !rec) return -1;
  winsim::ProcessedMessage message{type, {}};
  for (const winsim::Field& f : rec->fields) message.fields.push_back(f.AsText());
  winsim::Control().messages.push_back(message);
  return winsim::Control().messageAnswer;
}

UINT WINAPI MsiDoActionA(MSIHANDLE install, LPCSTR action) {
  auto session = winsim::GetSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!action) return ERROR_INVALID_PARAMETER;
  winsim::SessionControl& control = winsim::Control();
  control.actionsRun.push_back(action);

  auto registered = control.actions.find(action);
  if (registered != control.actions.end()) return registered->second(install);

  // Standard actions come before custom actions of the same name.
  UINT costing = ERROR_SUCCESS;
  if (winsim::RunCostingAction(*session, action, &costing)) return costing;

  // Custom actions of the package: property setters (51) and error actions (19).
  std::vector<std::vector<winsim::Field>> rows;
  std::string name = action;
  if (name.find('\'') == std::string::npos &&
      winsim::QueryRows(*session->database,
                        "SELECT `Type`, `Source`, `Target` FROM `CustomAction` WHERE `Action` = '" +
                            name + "'",
                        &rows) == ERROR_SUCCESS &&
      !rows.empty()) {
    int type = rows[0][0].AsInteger() & 0x3F;
    winsim::Record text(1);
    text.fields[0] = rows[0][2];
    std::string target = winsim::FormatRecord(text, session.get());
    if (type == 51) {
      session->SetProperty(rows[0][1].AsText(), target);
      return ERROR_SUCCESS;
    }
    if (type == 19) {
      MSIHANDLE message = MsiCreateRecord(1);
      MsiRecordSetStringA(message, 0, target.c_str());
      MsiProcessMessage(install, INSTALLMESSAGE_ERROR, message);
      MsiCloseHandle(message);
      return ERROR_INSTALL_FAILURE;
    }
    return ERROR_FUNCTION_NOT_CALLED;
  }
  return winsim::IsStandardAction(name) ? ERROR_SUCCESS : ERROR_FUNCTION_NOT_CALLED;
}

MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE install) {
  auto session = winsim::GetSession(install);
  if (!session || !session->database) return 0;
  return winsim::AddHandle(session->database);
}

INSTALLUILEVEL WINAPI MsiSetInternalUI(INSTALLUILEVEL level, HWND* window) {
  return INSTALLUILEVEL_NONE;
}

INSTALLUI_HANDLERA WINAPI MsiSetExternalUIA(INSTALLUI_HANDLERA handler, DWORD filter,
                                            LPVOID context) {
  winsim::SessionControl& control = winsim::Control();
  INSTALLUI_HANDLERA previous = control.externalUi;
  control.externalUi = handler;
  control.externalUiFilter = filter;
  control.externalUiContext = context;
  return previous;
}
