// The launcher's shortcut files: the two condition actions through which a
// VmrRemoveFileTree row picks the launcher's shortcuts among the files of a
// folder, and the move of the desktop shortcut onto its final name.
#include <string>

#include "runtime/action.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "files/shell_link.h"

namespace viduzo {
namespace {

constexpr char kDirectoryItem[] = "VmrCoreRemoveFileDirectory";
constexpr char kFileItem[] = "VmrCoreRemoveFileFile";
constexpr char kAgentFoundFlag[] = "HLA_FOUND.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kAgentMenuPath[] = "PFNAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
constexpr char kAgentMenuPathAlias[] = "PFName.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
constexpr char kAgentFolderName[] = "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";

// Satisfied (the file is removed) and not satisfied (it stays, also after any failure).
constexpr UINT kRemove = ERROR_SUCCESS;
constexpr UINT kKeep = ERROR_NO_MORE_ITEMS;

// The item properties are read with at most 260 characters.
constexpr DWORD kItemBuffer = 261;
constexpr DWORD kFolderBuffer = 256;
constexpr DWORD kMenuPathBuffer = 261;
constexpr int kWideName = 261;
constexpr int kWideAgentName = 521;

// True when text begins with prefix, compared without regard to case over the
// length of prefix.
bool BeginsWithNoCase(const char* text, const char* prefix) {
  int length = lstrlenA(prefix);
  if (lstrlenA(text) < length) return false;
  std::string head(text, length);
  return lstrcmpiA(head.c_str(), prefix) == 0;
}

// Skips as many leading characters as prefix has (all of text when it has fewer).
const char* SkipCharacters(const char* text, const char* prefix) {
  for (const char* p = prefix; *p && *text; p = CharNextA(p)) text = CharNextA(text);
  return text;
}

// The shortcut's folder with its trailing backslash (and what follows its last
// backslash) cut off, written as the agent's menu path under both spellings of
// its name and, relative to the programs menu, as its folder name.
bool RepairAgentFolders(MSIHANDLE hInstall, char* folder) {
  if (char* slash = FindLastChar(folder, '\\')) *slash = '\0';
  char menu[kFolderBuffer];
  return MsiSetPropertyA(hInstall, kAgentMenuPath, folder) == ERROR_SUCCESS &&
         MsiSetPropertyA(hInstall, kAgentMenuPathAlias, folder) == ERROR_SUCCESS &&
         ReadProperty(hInstall, "ProgramMenuFolder", menu, kFolderBuffer) == ERROR_SUCCESS &&
         MsiSetPropertyA(hInstall, kAgentFolderName, SkipCharacters(folder, menu)) ==
             ERROR_SUCCESS;
}

UINT AgentShortcutVerdict(MSIHANDLE hInstall, char* folder, const char* file) {
  OleSession ole;
  Shortcut shortcut;
  char target[kShortcutText], arguments[kShortcutText];
  if (!SetCurrentDirectoryA(folder) || !shortcut.Open(file, kWideAgentName) ||
      !shortcut.Target(target))
    return kKeep;
  CharLowerA(target);
  if (!FindText(target, "\\hlagent.exe")) return kKeep;
  if (shortcut.Arguments(arguments) && arguments[0] != '\0') return kKeep;

  char startup[kFolderBuffer];
  if (ReadProperty(hInstall, "StartupFolder", startup, kFolderBuffer) != ERROR_SUCCESS)
    return kKeep;
  if (BeginsWithNoCase(folder, startup)) return kRemove;
  char menuPath[kMenuPathBuffer];
  if (ReadProperty(hInstall, kAgentMenuPath, menuPath, kMenuPathBuffer) != ERROR_SUCCESS)
    return kKeep;
  if (BeginsWithNoCase(menuPath, startup) && !RepairAgentFolders(hInstall, folder)) return kKeep;
  return kRemove;
}

}  // namespace

}  // namespace viduzo

using namespace viduzo;

// Condition action of the tree removal: 0 (remove) for a shortcut to the
// classic launcher ("hl.exe") started with "/DI", 259 (keep) otherwise.
extern "C" UINT WINAPI RemoveHLShortcuts(MSIHANDLE hInstall) {
  OleSession ole;
  char folder[kItemBuffer], file[kItemBuffer];
  if (ReadProperty(hInstall, kDirectoryItem, folder, kItemBuffer) != ERROR_SUCCESS ||
      ReadProperty(hInstall, kFileItem, file, kItemBuffer) != ERROR_SUCCESS ||
      !SetCurrentDirectoryA(folder))
    return kKeep;
  Shortcut shortcut;
  char target[kShortcutText], arguments[kShortcutText];
  if (!shortcut.Open(file, kWideName) || !shortcut.Target(target)) return kKeep;
  CharLowerA(target);
  if (!FindText(target, "hl.exe") || !shortcut.Arguments(arguments)) return kKeep;
  CharUpperA(arguments);
  return FindText(arguments, "/DI") ? kRemove : kKeep;
}

// Condition action of the tree removal: 0 (remove) for a shortcut to the agent
// ("\hlagent.exe") without arguments when the agent was found, 259 (keep)
// otherwise. Agent folder properties left pointing into the Startup folder are
// set from the shortcut's folder.
extern "C" UINT WINAPI RmHlAgentShortcutMenu(MSIHANDLE hInstall) {
  GrowableText folder, file;
  if (folder.ReadProperty(hInstall, kDirectoryItem) != ERROR_SUCCESS ||
      file.ReadProperty(hInstall, kFileItem) != ERROR_SUCCESS || folder.text[0] == '\0' ||
      file.text[0] == '\0')
    return kKeep;
  char found[kFolderBuffer];
  UINT read = ReadProperty(hInstall, kAgentFoundFlag, found, kFolderBuffer);
  if (read != ERROR_MORE_DATA && (read != ERROR_SUCCESS || found[0] == '\0')) return kKeep;
  return AgentShortcutVerdict(hInstall, folder.text, file.text);
}

// Deferred: puts the desktop shortcut in place. CustomActionData is the path
// it must have; the file taken is that path without its last character (the
// ".lnk" of a ".lnk2" path).
extern "C" UINT WINAPI FixDesktopHLIcon(MSIHANDLE hInstall) {
  GrowableText data;
  if (data.ReadProperty(hInstall, "CustomActionData") != ERROR_SUCCESS) return ERROR_SUCCESS;
  std::string companion = data.text;
  const char* last = nullptr;
  for (const char* p = data.text; *p; p = CharNextA(p)) last = p;
  if (last) companion.resize(last - data.text);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(companion.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  FindClose(find);
  DeleteFileA(data.text);
  MoveFileA(companion.c_str(), data.text);
  return ERROR_SUCCESS;
}
