// Path properties tidied before the installer uses them: the program folder
// names relative to the programs menu, the location of the launcher installed
// before (through its shortcut when that is all that was found), and path
// properties cut back to their folders.
#include <utility>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "files/folders.h"
#include "files/shell_link.h"

namespace viduzo {
namespace {

constexpr char kAgentModule[] = "9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
constexpr char kLauncherModule[] = "3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
constexpr char kProgramMenuFolder[] = "ProgramMenuFolder";
constexpr char kOldLauncher[] = "OLD_ZNCMGR_FILE_PATH.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kLauncherFound[] = "HLLOC.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kAgentFound[] = "HLALOC.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kBothFound[] = "HLALL.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kAgentFoundFlag[] = "HLA_FOUND.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kPassThroughFound[] = "PASS_THROUGH_FOUND.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

constexpr DWORD kFolderBuffer = 1040;
constexpr DWORD kLocationBuffer = 256;
// The shortcut's file name in UTF-16, terminator included.
constexpr int kWideShortcutName = 261;

// value without as many leading characters as prefix has; null when value
// has no more characters than that.
const char* AfterPrefixLength(const char* value, const char* prefix) {
  const char* rest = value;
  for (const char* p = prefix; *p; p = CharNextA(p)) {
    if (*rest == '\0') return nullptr;
    rest = CharNextA(rest);
  }
  return *rest ? rest : nullptr;
}

// A 256-byte read of FixInstallLocation: a value that does not fit (234)
// counts as read and non-empty.
struct LocationRead {
  char text[kLocationBuffer] = "";  // a failed read leaves it empty
  UINT result;
  LocationRead(MSIHANDLE hInstall, LPCSTR name)
      : result(ReadProperty(hInstall, name, text, kLocationBuffer)) {}
  bool ok() const { return result == ERROR_SUCCESS || result == ERROR_MORE_DATA; }
  bool empty() const { return result != ERROR_MORE_DATA && text[0] == '\0'; }
};

bool ContainsShortcutExtension(char (&text)[kLocationBuffer]) {
  CharLowerA(text);
  return FindText(text, ".lnk") != nullptr;
}

// The steps of FixInstallLocation: the value it writes, and whether anything failed.
struct LocationFix {
  MSIHANDLE hInstall;
  GrowableText value;  // V, empty until a branch sets it
  bool failed = false;
  bool write = true;

  // Reads a property in full; a failed read marks failure and leaves the text
  // empty (the engine wrote nothing).
  void ReadWhole(GrowableText& text, LPCSTR name) {
    if (text.ReadProperty(hInstall, name) == ERROR_SUCCESS) return;
    failed = true;
    if (text.text) text.text[0] = '\0';
  }

  void Take(LPCSTR name) { ReadWhole(value, name); }

  // The agent's location, when the agent was found.
  void AgentBranch() {
    GrowableText agent;
    ReadWhole(agent, kAgentFound);
    if (!agent.text || agent.text[0] == '\0') return;
    LocationRead found(hInstall, kAgentFoundFlag);
    if (!found.ok()) return Stop();
    if (found.empty()) return;
    std::swap(value.text, agent.text);
    std::swap(value.size, agent.size);
  }

  // The classic launcher's location, or its shortcut's target.
  void ClassicBranch(bool agentFallBack) {
    LocationRead old(hInstall, kOldLauncher);
    if (!old.ok()) return Stop();
    if (!old.empty()) {
      LocationRead agent(hInstall, kAgentFound);
      if (!agent.ok()) return Stop();
      if (agent.empty()) {
        write = false;  // the location found before stays
        return;
      }
    }
    LocationRead launcher(hInstall, kLauncherFound);
    if (!launcher.ok()) return Stop();
    if (!launcher.empty()) {
      write = false;
      if (!ContainsShortcutExtension(launcher.text)) {
        write = true;
        Take(kLauncherFound);
      } else if (FindOldLauncherFromShortcut(hInstall, kLauncherFound) != ERROR_SUCCESS) {
        failed = true;
      }
      return;
    }
    if (agentFallBack) AgentBranch();
  }

  // Both launchers: the combined location, else the classic one.
  void CombinedBranch() {
    LocationRead both(hInstall, kBothFound);
    if (!both.ok()) {
      failed = true;
      return ClassicBranch(true);
    }
    if (!both.empty()) return Take(kBothFound);
    LocationRead passThrough(hInstall, kPassThroughFound);
    if (!passThrough.ok() || passThrough.empty()) return ClassicBranch(true);
    LocationRead launcher(hInstall, kLauncherFound);
    if (!launcher.ok() || launcher.empty() || ContainsShortcutExtension(launcher.text)) return;
    Take(kLauncherFound);
    if (value.text) CharLowerA(value.text);
  }

  // A failure ends the search: whatever is written, the property ends up empty.
  void Stop() { failed = true; }

  UINT Run() {
    LocationRead type(hInstall, "HlType");
    if (!type.ok() || type.empty()) {
      Stop();
    } else if (lstrcmpiA(type.text, "MSIHL") == 0) {
      ClassicBranch(false);
    } else if (lstrcmpiA(type.text, "MSI_HLA") == 0) {
      AgentBranch();
    } else {
      CombinedBranch();
    }
    if (write &&
        MsiSetPropertyA(hInstall, kOldLauncher, value.text ? value.text : "") != ERROR_SUCCESS)
      failed = true;
    if (!failed) return ERROR_SUCCESS;
    MsiSetPropertyA(hInstall, kOldLauncher, "");
    return ERROR_INSTALL_FAILURE;
  }
};

}  // namespace

// Takes the launcher's path from the shortcut that the named property holds.
UINT FindOldLauncherFromShortcut(MSIHANDLE hInstall, LPCSTR property) {
  bool ok = false;
  GrowableText value;
  if (value.ReadProperty(hInstall, property) == ERROR_SUCCESS) {
    OleSession ole;
    if (value.text[0] == '\0') return ERROR_SUCCESS;
    const char* name = value.text;
    bool inFolder = true;
    if (char* slash = FindLastChar(value.text, '\\')) {
      *slash = '\0';
      name = slash + 1;
      inFolder = SetCurrentDirectoryA(value.text) != FALSE;
    }
    Shortcut shortcut;
    char target[kShortcutText];
    if (inFolder && shortcut.Open(name, kWideShortcutName) && shortcut.Target(target)) {
      CharLowerA(target);
      ok = FindText(target, "hl.exe") &&
           MsiSetPropertyA(hInstall, kOldLauncher, target) == ERROR_SUCCESS;
    }
  }
  if (ok) return ERROR_SUCCESS;
  MsiSetPropertyA(hInstall, kOldLauncher, "");
  return ERROR_INSTALL_FAILURE;
}

}  // namespace viduzo

using namespace viduzo;

// Turns the agent's and the launcher's full programs-menu folders
// (PFNAME.<module>) into folder names relative to the programs menu
// (PROGRAM_FOLDER_NAME.<module>).
extern "C" UINT WINAPI SetProgramFolderName(MSIHANDLE hInstall) {
  for (const char* module : {kAgentModule, kLauncherModule}) {
    char name[96], folder[kFolderBuffer], menu[kFolderBuffer];
    wsprintfA(name, "PFNAME.%s", module);
    if (ReadProperty(hInstall, name, folder, kFolderBuffer) != ERROR_SUCCESS)
      return ERROR_INSTALL_FAILURE;
    char* slash = FindLastChar(folder, '\\');
    if (!slash) continue;
    *slash = '\0';
    if (ReadProperty(hInstall, kProgramMenuFolder, menu, kFolderBuffer) != ERROR_SUCCESS)
      return ERROR_INSTALL_FAILURE;
    const char* relative = AfterPrefixLength(folder, menu);
    if (!relative) continue;
    wsprintfA(name, "PROGRAM_FOLDER_NAME.%s", module);
    if (MsiSetPropertyA(hInstall, name, relative) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

// Records in OLD_ZNCMGR_FILE_PATH.5B1E0A72_... where the launcher installed
// before lives, chosen by package type among the locations the searches found.
extern "C" UINT WINAPI FixInstallLocation(MSIHANDLE hInstall) {
  LocationFix fix{hInstall};
  return fix.Run();
}

// Cuts four path properties back to their folder (trailing backslash kept).
extern "C" UINT WINAPI RemoveFileFromDirs(MSIHANDLE hInstall) {
  static const char* const kPaths[] = {
      kOldLauncher, "PFNAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7",
      "PFNAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4", kAgentFound};
  bool failed = false;
  for (const char* name : kPaths) {
    char path[kFolderBuffer];
    if (ReadProperty(hInstall, name, path, kFolderBuffer) != ERROR_SUCCESS) {
      failed = true;
      continue;
    }
    char* slash = FindLastChar(path, '\\');
    if (!slash || slash[1] == '\0') continue;
    slash[1] = '\0';
    if (MsiSetPropertyA(hInstall, name, path) != ERROR_SUCCESS) failed = true;
  }
  return failed ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}
