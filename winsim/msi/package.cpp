// The install session: a package opened with MsiOpenPackageA, its properties,
// formatted text, conditions, actions and messages. The costing actions and the
// feature / component states are in costing.cpp.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <msidefs.h>
#include <wtypes.h>

#include "winsim/msi/session.h"

#include "winsim/msi/custom.h"

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/system.h"

namespace winsim {
namespace {

struct SessionControl {
  int messageAnswer = 0;
  std::vector<ProcessedMessage> messages;
  std::map<std::string, std::function<UINT(MSIHANDLE)>> actions;
  std::vector<std::string> actionsRun;
  // MsiSetInternalUI's level and window, process-wide: a package takes its
  // UILevel from the level set when it is opened.
  INSTALLUILEVEL uiLevel = INSTALLUILEVEL_DEFAULT;
  HWND uiWindow = nullptr;
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

// The level part of a user interface level; the rest are flags.
constexpr unsigned kUiLevelMask = 0x7;
constexpr unsigned kUiLevelFlags = INSTALLUILEVEL_HIDECANCEL | INSTALLUILEVEL_PROGRESSONLY |
                                   INSTALLUILEVEL_ENDDIALOG | INSTALLUILEVEL_SOURCERESONLY |
                                   INSTALLUILEVEL_UACONLY;

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

// The engine's standard properties of the machine, the user and the process,
// which it sets when it opens a package, before the Property table. winsim is
// a 64-bit Windows 7 SP1 workstation (what Wine's engine reports too), running
// a 64-bit process as an administrator; the folders are those of the logged-on
// user (kernel32's machine).
void SetEngineProperties(Session& session) {
  const std::string profile = ToAnsi(kUserProfile);
  const std::string roaming = profile + "\\AppData\\Roaming\\";
  const std::string startMenu = roaming + "Microsoft\\Windows\\Start Menu\\";
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  char user[256] = "";
  DWORD userSize = sizeof user;
  if (!GetUserNameA(user, &userSize)) user[0] = '\0';
  char computer[256] = "";
  DWORD computerSize = sizeof computer;
  if (!GetComputerNameA(computer, &computerSize)) computer[0] = '\0';
  SYSTEMTIME now;
  GetLocalTime(&now);
  char date[32], time[32];
  wsprintfA(date, "%u/%u/%u", now.wMonth, now.wDay, now.wYear);
  wsprintfA(time, "%u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
  const bool process64 = sizeof(void*) == 8;
  const char* processorLevel = kProcessorLevel;

  const std::pair<const char*, std::string> kProperties[] = {
      // Folders.
      {"WindowsVolume", "C:\\"},
      {"WindowsFolder", "C:\\Windows\\"},
      {"SystemFolder", process64 ? "C:\\Windows\\SysWOW64\\" : "C:\\Windows\\system32\\"},
      {"System64Folder", process64 ? "C:\\Windows\\system32\\" : ""},
      {"System16Folder", "C:\\Windows\\system\\"},
      {"FontsFolder", "C:\\Windows\\Fonts\\"},
      {"ProgramFilesFolder", "C:\\Program Files (x86)\\"},
      {"ProgramFiles64Folder", "C:\\Program Files\\"},
      {"CommonFilesFolder", "C:\\Program Files (x86)\\Common Files\\"},
      {"CommonFiles64Folder", "C:\\Program Files\\Common Files\\"},
      {"CommonAppDataFolder", "C:\\ProgramData\\"},
      {"TempFolder", temp},
      {"AppDataFolder", roaming},
      {"LocalAppDataFolder", profile + "\\AppData\\Local\\"},
      {"DesktopFolder", profile + "\\Desktop\\"},
      {"FavoritesFolder", profile + "\\Favorites\\"},
      {"PersonalFolder", profile + "\\Documents\\"},
      {"MyPicturesFolder", profile + "\\Pictures\\"},
      {"NetHoodFolder", roaming + "Microsoft\\Windows\\Network Shortcuts\\"},
      {"PrintHoodFolder", roaming + "Microsoft\\Windows\\Printer Shortcuts\\"},
      {"RecentFolder", roaming + "Microsoft\\Windows\\Recent\\"},
      {"SendToFolder", roaming + "Microsoft\\Windows\\SendTo\\"},
      {"TemplateFolder", roaming + "Microsoft\\Windows\\Templates\\"},
      {"StartMenuFolder", startMenu},
      {"ProgramMenuFolder", startMenu + "Programs\\"},
      {"StartupFolder", startMenu + "Programs\\Startup\\"},
      {"AdminToolsFolder", startMenu + "Programs\\Administrative Tools\\"},
      // The operating system and the processor.
      {"VersionNT", "601"},
      {"VersionNT64", process64 ? "601" : ""},
      {"WindowsBuild", "7601"},
      {"ServicePackLevel", "1"},
      {"MsiNTProductType", "1"},  // a workstation
      {"Intel", processorLevel},
      {"Msix64", process64 ? processorLevel : ""},
      {"MsiAMD64", process64 ? processorLevel : ""},
      {"VersionMsi", "5.00"},
      {"VersionDatabase", "500"},
      {"PhysicalMemory", "16384"},
      {"VirtualMemory", "32768"},
      {"ScreenX", "1024"},
      {"ScreenY", "768"},
      {"ColorBits", "32"},
      {"ShellAdvtSupport", "1"},
      {"OLEAdvtSupport", "1"},
      {"RedirectedDllSupport", "2"},
      {"TTCSupport", "1"},
      // The user and the machine.
      {"LogonUser", user},
      {"ComputerName", computer},
      {"UserSID", CurrentUserSid()},
      {"AdminUser", "1"},
      {"Privileged", "1"},
      {"MsiRunningElevated", "1"},
      {"UserLanguageID", GetACP() == 932 ? "1041" : "1033"},
      {"SystemLanguageID", GetACP() == 932 ? "1041" : "1033"},
      {"Date", date},
      {"Time", time},
      {"ALLUSERS", ""},
      {"UILevel", std::to_string(Control().uiLevel & kUiLevelMask)},
  };
  for (const auto& [name, value] : kProperties) session.SetProperty(name, value);
}

// ProductState: the state of the package's own product on the machine, which
// needs the Property table's ProductCode (without one the query has no
// product to ask about).
void SetProductState(Session& session) {
  std::string productCode = session.Property("ProductCode");
  const char* state = productCode.empty()                 ? "-2"  // INSTALLSTATE_INVALIDARG
                       : ProductRegistered(productCode) ? "5"   // INSTALLSTATE_DEFAULT
                                                        : "-1";  // INSTALLSTATE_UNKNOWN
  session.SetProperty("ProductState", state);
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
  control.uiLevel = INSTALLUILEVEL_DEFAULT;
  control.uiWindow = nullptr;
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
  winsim::SetProductState(*session);
  // PackageCode is the summary information's revision number.
  auto revision = session->database->summary.find(PID_REVNUMBER);
  if (revision != session->database->summary.end() && revision->second.type == VT_LPSTR)
    session->SetProperty("PackageCode", revision->second.text);
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
  UINT search = ERROR_SUCCESS;
  if (winsim::RunSearchAction(*session, action, &search)) return search;

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
    if (type == 1)
      return winsim::RunBinaryDllAction(session, name, rows[0][1].AsText(),
                                        rows[0][2].AsText(), rows[0][0].AsInteger());
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
  // A level is 0..7 with any of the known flags; anything else changes
  // nothing and answers INSTALLUILEVEL_NOCHANGE. NOCHANGE itself keeps the
  // level but still swaps the window.
  winsim::SessionControl& control = winsim::Control();
  if (static_cast<unsigned>(level) & ~(winsim::kUiLevelMask | winsim::kUiLevelFlags))
    return INSTALLUILEVEL_NOCHANGE;
  INSTALLUILEVEL previous = control.uiLevel;
  if (level != INSTALLUILEVEL_NOCHANGE) control.uiLevel = level;
  if (window) std::swap(control.uiWindow, *window);
  return previous;
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
