// Shortcut files and the actions that read them (the launcher's location, the
// condition actions of the tree removal, the desktop icon), the program folder
// names and path cuts, and the browser plug-in copies.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <objbase.h>
#include <shlobj.h>

#include "files/browser_plugins.h"
#include "files/folders.h"
#include "shortcut_files.h"
#include "tests/fixture.h"
#include "tests/registry_tree.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const std::string kCore = ".5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const std::string kAgent = ".9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
const std::string kLauncher = ".3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
const std::string kOld = "OLD_ZNCMGR_FILE_PATH" + kCore;

std::vector<WCHAR> Wide(const std::string& text) {
  std::vector<WCHAR> wide(text.size() + 1);
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// Saves a shortcut through the shell's link object, as the shell makes one.
void MakeShortcut(const std::string& path, const std::string& target, const std::string& args) {
  OleInitialize(nullptr);
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                             reinterpret_cast<void**>(&link)), S_OK);
  link->SetPath(target.c_str());
  if (!args.empty()) link->SetArguments(args.c_str());
  ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
  EXPECT_EQ(file->Save(Wide(path).data(), TRUE), S_OK) << path;
  file->Release();
  link->Release();
  OleUninitialize();
}

// What the shell's link object reads from a file: {target, arguments}, or
// {"<cannot load>", ""}.
std::pair<std::string, std::string> ReadShortcut(const std::string& path) {
  OleInitialize(nullptr);
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  std::pair<std::string, std::string> read{"<cannot load>", ""};
  if (CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                       reinterpret_cast<void**>(&link)) == S_OK) {
    link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(file->Load(Wide(path).data(), STGM_READ))) {
      char target[MAX_PATH] = "", args[MAX_PATH] = "";
      link->GetPath(target, MAX_PATH, nullptr, 0);
      link->GetArguments(args, MAX_PATH);
      read = {target, args};
    }
    file->Release();
    link->Release();
  }
  OleUninitialize();
  return read;
}

// A package whose properties are set as the test gives them; "@" in a value
// stands for the test's shortcut folder.
MSIHANDLE OpenWith(Package& pkg, const std::map<std::string, std::string>& props,
                   const std::string& folder = "") {
  MSIHANDLE install = pkg.Open();
  for (const auto& [name, value] : props) {
    std::string v = value;
    if (!v.empty() && v[0] == '@') v = folder + v.substr(1);
    SetProp(install, name, v);
  }
  return install;
}

}  // namespace

// Shortcut files written by Wine's shell and by winsim's are read alike by
// both; a file cut short does not load.
TEST(ShortcutFiles, ReadAcrossShells) {
  const std::map<std::string, std::pair<std::string, std::string>> expected = {
      {"wine_launcher_di.lnk", {"C:\\Program Files (x86)\\Velmar\\Hublane 8\\hl.exe", "/DI"}},
      {"wine_launcher.lnk", {"C:\\Program Files (x86)\\Velmar\\Hublane 8\\hl.exe", ""}},
      {"wine_notepad_di.lnk", {"C:\\windows\\notepad.exe", "/DI readme.txt"}},
      {"winsim_agent.lnk", {"C:\\Agent\\hlagent.exe", "/tray"}},
  };
  std::string folder = TempFolder("lnk");
  ASSERT_EQ(std::size(kShortcutFiles), expected.size());
  for (const ShortcutFile& made : kShortcutFiles) {
    std::string bytes(reinterpret_cast<const char*>(made.bytes), made.size);
    WriteFile(folder + made.name, bytes);
    EXPECT_EQ(ReadShortcut(folder + made.name), expected.at(made.name)) << made.name;
    // Cut inside the header, the item list or link information, and the strings.
    for (std::size_t cut : {std::size_t{40}, std::size_t{80}, made.size / 2, made.size - 8}) {
      WriteFile(folder + "cut.lnk", bytes.substr(0, cut));
      EXPECT_EQ(ReadShortcut(folder + "cut.lnk").first, "<cannot load>") << made.name << cut;
    }
  }
}

// RemoveHLShortcuts removes a shortcut to "hl.exe" (target in any case, also
// inside a longer name) started with "/DI" (any case, anywhere in the
// arguments); everything else, a missing or damaged file and item texts over
// 260 characters included, stays.
TEST(ShortcutConditions, LauncherShortcutsStartedWithDI) {
  struct Case {
    std::string target, args, file;
    UINT expected;
  } cases[] = {
      {"C:\\Old\\HL.EXE", "/di /x", "a.lnk", 0},
      {"C:\\Old\\HL.EXE", "/x", "a.lnk", 259},
      {"C:\\Old\\HL.EXE", "", "a.lnk", 259},
      {"C:\\x\\myhl.exe", "-q /DI", "a.lnk", 0},
      {"C:\\Tools\\notepad.exe", "/DI", "a.lnk", 259},
      {"C:\\Old\\hl.exe", "/DI", "missing.lnk", 259},
      {"C:\\Old\\hl.exe", "/DI", "cut.lnk", 259},
      {"C:\\Old\\hl.exe", "/DI", std::string(261, 'n'), 259},
  };
  for (const Case& c : cases) {
    Package pkg;
    std::string folder = TempFolder("menu");
    MakeShortcut(folder + "a.lnk", c.target, c.args);
    WriteFile(folder + "cut.lnk", ReadWholeFile(folder + "a.lnk").substr(0, 90));
    MSIHANDLE install = OpenWith(pkg, {{"VmrCoreRemoveFileDirectory", "@"},
                                       {"VmrCoreRemoveFileFile", c.file}}, folder);
    EXPECT_EQ(CallAction(install, "RemoveHLShortcuts"), c.expected) << c.target << c.args << c.file;
  }
  Package pkg;  // a folder of 261 characters is not read
  MSIHANDLE install = OpenWith(pkg, {{"VmrCoreRemoveFileDirectory", "C:\\" + std::string(258, 'd')},
                                     {"VmrCoreRemoveFileFile", "a.lnk"}});
  EXPECT_EQ(CallAction(install, "RemoveHLShortcuts"), 259u);
}

// RmHlAgentShortcutMenu removes a shortcut to "\hlagent.exe" without
// arguments when the agent was found; a shortcut outside the Startup folder
// while the agent's menu path points into it sets the three folder properties
// from the shortcut's folder.
TEST(ShortcutConditions, AgentShortcutsAndStartupRepair) {
  const std::string startup = "@Startup\\";
  struct Case {
    std::string target, args, found, folder, menuPath;
    UINT expected;
    std::string newMenuPath, newFolderName;  // "" when the properties stay
    std::string startupFolder = "@Startup\\", menuFolder = "@Programs\\";
  } cases[] = {
      {"C:\\Agent\\HLAgent.EXE", "", "1", "Programs\\Agent\\", "C:\\M\\Other", 0, "", ""},
      {"C:\\Agent\\HLAgent.exe", "/tray", "1", "Programs\\Agent\\", "", 259, "", ""},
      {"C:\\Agent\\hlagent.exe", "", "", "Programs\\Agent\\", "", 259, "", ""},
      {"C:\\Agent\\xhlagent.exe", "", "1", "Programs\\Agent\\", "", 259, "", ""},
      // The target as the link holds it, not its 8.3 form ("HLAGEN~1.D").
      {"@hlagent.exe.d\\run.exe", "", "1", "Programs\\Agent\\", "", 0, "", ""},
      {"C:\\Agent\\hlagent.exe", "", std::string(300, 'y'), "Startup\\", "@Startup\\Old", 0, "", ""},
      {"C:\\Agent\\hlagent.exe", "", "1", "Programs\\Agent\\", "@startup\\Old", 0,
       "@Programs\\Agent", "Agent"},
      // Values that do not fit their buffers (256, 261, 256 bytes) keep the file.
      {"C:\\Agent\\hlagent.exe", "", "1", "Programs\\Agent\\", "", 259, "", "",
       std::string(256, 's')},
      {"C:\\Agent\\hlagent.exe", "", "1", "Programs\\Agent\\", std::string(261, 'p'), 259, "", ""},
      {"C:\\Agent\\hlagent.exe", "", "1", "Programs\\Agent\\", "@startup\\Old", 259,
       "@Programs\\Agent", "", startup, std::string(256, 'm')},
  };
  for (const Case& c : cases) {
    Package pkg;
    std::string root = TempFolder("start");
    CreateDirectoryA((root + "Startup").c_str(), nullptr);
    CreateDirectoryA((root + "Programs").c_str(), nullptr);
    CreateDirectoryA((root + c.folder).c_str(), nullptr);
    CreateDirectoryA((root + "hlagent.exe.d").c_str(), nullptr);
    WriteFile(root + "hlagent.exe.d\\run.exe", "agent");
    MakeShortcut(root + c.folder + "Agent.lnk", c.target[0] == '@' ? root + c.target.substr(1) : c.target,
                 c.args);
    MSIHANDLE install = OpenWith(pkg, {{"VmrCoreRemoveFileDirectory", "@" + c.folder},
                                       {"VmrCoreRemoveFileFile", "Agent.lnk"},
                                       {"HLA_FOUND" + kCore, c.found},
                                       {"StartupFolder", c.startupFolder},
                                       {"ProgramMenuFolder", c.menuFolder},
                                       {"PFNAME" + kAgent, c.menuPath},
                                       {"PFName" + kAgent, "unchanged"},
                                       {"PROGRAM_FOLDER_NAME" + kAgent, "unchanged"}}, root);
    std::string label = c.target + c.args + c.folder + c.menuPath;
    EXPECT_EQ(CallAction(install, "RmHlAgentShortcutMenu"), c.expected) << label;
    std::string menuPath = c.newMenuPath.empty() ? "unchanged" : root + c.newMenuPath.substr(1);
    EXPECT_EQ(GetProp(install, "PFName" + kAgent), menuPath) << label;
    if (!c.newMenuPath.empty()) {
      EXPECT_EQ(GetProp(install, "PFNAME" + kAgent), menuPath) << label;
    }
    EXPECT_EQ(GetProp(install, "PROGRAM_FOLDER_NAME" + kAgent),
              c.newFolderName.empty() ? "unchanged" : c.newFolderName) << label;
  }
}

// One-character item texts are no empty ones: the folder "\" (the root of the
// current drive) and the file "A".
TEST(ShortcutConditions, OneCharacterItems) {
  char current[MAX_PATH] = "";
  SetCurrentDirectoryA(TempFolder("one").c_str());  // on the drive of the temporary folder
  GetCurrentDirectoryA(MAX_PATH, current);
  std::string root = std::string(current).substr(0, 3);
  MakeShortcut(root + "A", "C:\\Agent\\hlagent.exe", "");
  Package pkg;
  MSIHANDLE install = OpenWith(pkg, {{"VmrCoreRemoveFileDirectory", "\\"},
                                     {"VmrCoreRemoveFileFile", "A"},
                                     {"HLA_FOUND" + kCore, "1"},
                                     {"StartupFolder", "\\"}});
  EXPECT_EQ(CallAction(install, "RmHlAgentShortcutMenu"), 0u);
  DeleteFileA((root + "A").c_str());
}

// The tree removal picks, through the condition action named in its file
// condition, exactly the launcher's shortcuts among the files of a folder.
// The first "a " condition of a process decides for good how they call
// actions: natively the case gets a process of its own; under Wine no earlier
// test runs one.
void TreeRemovalCase() {
  Package pkg;
  pkg.Table("Directory").Table("RemoveFile").Table("VmrRemoveFileTree");
  pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
          "('TARGETDIR', '', 'SourceDir')");
  pkg.Sql("INSERT INTO `VmrRemoveFileTree` (`Tree`, `Component_`, `Root`, `Mode`, "
          "`DirCondition`, `FileCondition`) VALUES ('Menu', 'Menu', 'MENUDIR', 17, '', "
          "'a RemoveHLShortcuts')");
  std::string folder = TempFolder("menu");
  MakeShortcut(folder + "hublane.lnk", "C:\\Hublane\\hl.exe", "/DI");
  MakeShortcut(folder + "setup.lnk", "C:\\Hublane\\hl.exe", "/setup");
  MakeShortcut(folder + "notes.lnk", "C:\\Tools\\notepad.exe", "/DI");
  WriteFile(folder + "readme.txt", "not a shortcut");
  MSIHANDLE install = OpenWith(pkg, {{"MENUDIR", "@"}}, folder);
  EXPECT_EQ(CallAction(install, "RemoveFileTree"), 0u);
  EXPECT_EQ(QueryRows(install, "SELECT `FileName`, `InstallMode` FROM `RemoveFile`"),
            (Rows{{"hublane.lnk", "1"}}));
}

TEST(ShortcutConditions, TreeRemovalPicksLauncherShortcuts) {
#ifndef _WIN32
  InFreshProcess(TreeRemovalCase);
#else
  TreeRemovalCase();
#endif
}

// FixDesktopHLIcon puts the ".lnk" file in place of the ".lnk2" path it is
// given, and changes nothing when there is no ".lnk" file.
TEST(DesktopIcon, CompanionReplacesTheGivenPath) {
  struct Case {
    bool companion, given;
    std::string expectGiven, expectCompanion;
  } cases[] = {
      {true, true, "lnk", "<cannot open>"},
      {true, false, "lnk", "<cannot open>"},
      {false, true, "lnk2", "<cannot open>"},
      {false, false, "<cannot open>", "<cannot open>"},
  };
  for (const Case& c : cases) {
    Package pkg;
    std::string folder = TempFolder("desk");
    if (c.companion) WriteFile(folder + "Hublane.lnk", "lnk");
    if (c.given) WriteFile(folder + "Hublane.lnk2", "lnk2");
    MSIHANDLE install = OpenWith(pkg, {{"CustomActionData", "@Hublane.lnk2"}}, folder);
    EXPECT_EQ(CallAction(install, "FixDesktopHLIcon"), 0u);
    EXPECT_EQ(ReadWholeFile(folder + "Hublane.lnk2"), c.expectGiven) << c.companion << c.given;
    EXPECT_EQ(ReadWholeFile(folder + "Hublane.lnk"), c.expectCompanion) << c.companion << c.given;
  }
}

// FixInstallLocation by package type: the combined location, the classic
// launcher's (its shortcut's target when it is a shortcut), the agent's.
TEST(InstallLocation, ChosenByPackageType) {
  const std::string link = "@HL.LNK", other = "@other.lnk";
  struct Case {
    std::map<std::string, std::string> props;  // without the module suffix
    UINT expected;
    std::string old;
  } cases[] = {
      {{{"HlType", ""}, {"HLLOC", "D:\\Old\\HL.exe"}, {"OLD_ZNCMGR_FILE_PATH", "X"}}, 1603, ""},
      {{{"HlType", "MSIHL"}, {"HLLOC", "D:\\Old\\HL.exe"}}, 0, "D:\\Old\\HL.exe"},
      {{{"HlType", "msihl"}, {"HLLOC", link}}, 0, "c:\\old\\hl.exe"},
      {{{"HlType", "MSIHL"}, {"HLLOC", other}}, 1603, ""},
      {{{"HlType", "MSIHL"}, {"HLLOC", "@missing.lnk"}}, 1603, ""},
      // Decided on the 255 characters that fit 256 bytes: no ".lnk" there.
      {{{"HlType", "MSIHL"}, {"HLLOC", "D:\\" + std::string(249, 'x') + ".lnk"}}, 0,
       "D:\\" + std::string(249, 'x') + ".lnk"},
      {{{"HlType", "MSIHL"}, {"OLD_ZNCMGR_FILE_PATH", "X"}, {"HLLOC", "D:\\hl.exe"}}, 0, "X"},
      {{{"HlType", "MSIHL"}, {"OLD_ZNCMGR_FILE_PATH", "X"}, {"HLALOC", "D:\\A\\hlagent.exe"},
        {"HLA_FOUND", "1"}}, 0, ""},
      {{{"HlType", "MSIHL"}, {"OLD_ZNCMGR_FILE_PATH", "X"}, {"HLALOC", "D:\\A\\hlagent.exe"},
        {"HLLOC", "D:\\B\\hl.exe"}}, 0, "D:\\B\\hl.exe"},
      {{{"HlType", "MSI_HLA"}, {"HLALOC", "D:\\A\\HLAgent.exe"}, {"HLA_FOUND", "1"},
        {"HLLOC", "D:\\B\\hl.exe"}}, 0, "D:\\A\\HLAgent.exe"},
      {{{"HlType", "MSI_HLA"}, {"HLALOC", "x"}, {"HLA_FOUND", "1"}}, 0, "x"},
      {{{"HlType", "MSI_ALL"}, {"HLLOC", "D:\\B\\hl.exe"}, {"HLALOC", "D:\\A\\hlagent.exe"},
        {"HLA_FOUND", "1"}}, 0, "D:\\B\\hl.exe"},
      {{{"HlType", "MSI_HLA"}, {"HLALOC", "D:\\A\\hlagent.exe"}, {"HLA_FOUND", ""},
        {"OLD_ZNCMGR_FILE_PATH", "X"}}, 0, ""},
      {{{"HlType", "MSI_HLA"}, {"HLALOC", "D:\\A\\hlagent.exe"},
        {"HLA_FOUND", std::string(300, 'y')}}, 0, "D:\\A\\hlagent.exe"},
      {{{"HlType", "MSI_ALL"}, {"HLALL", "E:\\All\\HL.EXE"}, {"HLLOC", "D:\\hl.exe"},
        {"PASS_THROUGH_FOUND", "C:\\PT\\"}}, 0, "E:\\All\\HL.EXE"},
      {{{"HlType", "MSI_ALL"}, {"PASS_THROUGH_FOUND", "C:\\PT\\"}, {"HLLOC", "D:\\Old\\HL.EXE"}},
       0, "d:\\old\\hl.exe"},
      {{{"HlType", "MSI_ALL"}, {"PASS_THROUGH_FOUND", "C:\\PT\\"}, {"HLLOC", link},
        {"OLD_ZNCMGR_FILE_PATH", "X"}}, 0, ""},
      {{{"HlType", "MSI_ALL"}, {"HLLOC", link}}, 0, "c:\\old\\hl.exe"},
      {{{"HlType", "MSI_ALL"}, {"HLALOC", "D:\\A\\hlagent.exe"}, {"HLA_FOUND", "1"}}, 0,
       "D:\\A\\hlagent.exe"},
  };
  for (const Case& c : cases) {
    Package pkg;
    std::string folder = TempFolder("loc");
    MakeShortcut(folder + "hl.lnk", "C:\\Old\\HL.EXE", "");
    MakeShortcut(folder + "other.lnk", "C:\\Old\\launch.exe", "");
    std::map<std::string, std::string> props;
    for (const auto& [name, value] : c.props) props[name == "HlType" ? name : name + kCore] = value;
    MSIHANDLE install = OpenWith(pkg, props, folder);
    std::string label = c.props.begin()->second + " " + std::to_string(&c - cases);
    EXPECT_EQ(CallAction(install, "FixInstallLocation"), c.expected) << label;
    EXPECT_EQ(GetProp(install, kOld), c.old) << label;
  }
}

// SetProgramFolderName makes the menu folders relative to the programs menu;
// RemoveFileFromDirs cuts four paths back to their folders. A value
// of 1040 characters does not fit its 1040 bytes and fails, the cuts going on
// with the next property.
TEST(FolderProperties, ProgramFolderNamesAndFolderCuts) {
  struct Case {
    const char* action;
    std::map<std::string, std::string> props, expected;
    UINT result;
  } cases[] = {
      {"SetProgramFolderName",
       {{"PFNAME" + kAgent, "C:\\Menu\\Tools\\Client\\"}, {"PFNAME" + kLauncher, "C:\\Menu\\"}},
       {{"PROGRAM_FOLDER_NAME" + kAgent, "Tools\\Client"}, {"PROGRAM_FOLDER_NAME" + kLauncher, "x"}},
       0},
      {"SetProgramFolderName",
       {{"PFNAME" + kAgent, "NoFolder"}, {"PFNAME" + kLauncher, "C:\\Menu\\Hublane\\x"}},
       {{"PROGRAM_FOLDER_NAME" + kAgent, "x"}, {"PROGRAM_FOLDER_NAME" + kLauncher, "Hublane"}}, 0},
      {"SetProgramFolderName",
       {{"PFNAME" + kAgent, "C:\\Menu\\A\\" + std::string(1030, 'a')},
        {"PFNAME" + kLauncher, "C:\\Menu\\Hublane\\"}},
       {{"PROGRAM_FOLDER_NAME" + kLauncher, "x"}}, 1603},
      {"RemoveFileFromDirs",
       {{kOld, "D:\\App\\hl.exe"}, {"PFNAME" + kLauncher, "D:\\App\\"},
        {"PFNAME" + kAgent, std::string(1038, 'a') + "\\b"}, {"HLALOC" + kCore, "C:\\A\\b\\hl"}},
       {{kOld, "D:\\App\\"}, {"PFNAME" + kLauncher, "D:\\App\\"}, {"HLALOC" + kCore, "C:\\A\\b\\"}},
       1603},
      {"RemoveFileFromDirs", {{kOld, "hl.exe"}, {"HLALOC" + kCore, "D:\\App\\hl.exe"}},
       {{kOld, "hl.exe"}, {"HLALOC" + kCore, "D:\\App\\"}}, 0},
      {"RemoveFileFromDirs", {{kOld, "C:\\x\\" + std::string(1035, 'a')}},
       {{kOld, "C:\\x\\" + std::string(1035, 'a')}}, 1603},
      {"SetProgramFolderName", {{"PFNAME" + kAgent, "C:\\Menu\\A\\"},
        {"ProgramMenuFolder", "C:\\" + std::string(1037, 'm')}},
       {{"PROGRAM_FOLDER_NAME" + kAgent, "x"}}, 1603},
  };
  for (const Case& c : cases) {
    Package pkg;
    std::map<std::string, std::string> props = c.props;
    props.insert({"ProgramMenuFolder", "C:\\Menu\\"});
    props["PROGRAM_FOLDER_NAME" + kAgent] = props["PROGRAM_FOLDER_NAME" + kLauncher] = "x";
    MSIHANDLE install = OpenWith(pkg, props);
    EXPECT_EQ(CallAction(install, c.action), c.result) << c.action << (&c - cases);
    for (const auto& [name, value] : c.expected)
      EXPECT_EQ(GetProp(install, name), value) << c.action << (&c - cases) << name;
  }
}

// CopyIQVAClientFile: one numbered folder, Directory row and DuplicateFile row
// per browser folder found; Netscape takes 0 whenever its key exists.
TEST(BrowserPlugins, OneCopyPerBrowserFolder) {
  const std::string longValue = "D:\\" + std::string(257, 'c');
  struct Case {
    bool netscapeKey;
    std::string installDirectory;  // "" leaves the value out
    std::vector<std::pair<std::string, std::string>> mozilla;  // product, components ("" no extensions key)
    std::vector<std::string> folders;  // MOZILLA_0, _1, ... ("" unset)
  } cases[] = {
      {false, "", {}, {}},
      {true, "D:\\Nav", {{"A", "D:\\Moz A\\components"}, {"B", ""}, {"C", longValue}},
       {"D:\\Nav\\Program\\Plugins\\", "D:\\Moz A\\components\\", longValue}},
      {true, "", {{"A", "D:\\A"}}, {"", "D:\\A\\"}},
      {false, std::string(250, 'n'), {{"A", "D:\\A"}, {"B", std::string(261, 'x')}}, {"D:\\A\\"}},
      {true, "D:\\" + std::string(250, 'n'), {},
       {"D:\\" + std::string(250, 'n') + "\\Progra"}},
  };
  for (const Case& c : cases) {
    SavedPlace netscape(HKEY_CURRENT_USER, "SOFTWARE\\Netscape");
    SavedPlace mozilla(HKEY_LOCAL_MACHINE, "Software\\Mozilla");
    if (c.netscapeKey) {
      RegTree main;
      if (!c.installDirectory.empty()) main.values = {Text("Install Directory", c.installDirectory)};
      Plant(HKEY_CURRENT_USER, "SOFTWARE\\Netscape\\Netscape Navigator\\Main", main);
    }
    for (const auto& [product, components] : c.mozilla) {
      RegTree tree;
      if (!components.empty()) tree.subkeys = {{"extensions", {{Text("components", components)}, {}}}};
      Plant(HKEY_LOCAL_MACHINE, "Software\\Mozilla\\" + product, tree);
    }
    Package pkg;
    pkg.Table("Directory");
    pkg.Sql("CREATE TABLE `DuplicateFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) "
            "NOT NULL, `File_` CHAR(72) NOT NULL, `DestName` CHAR(255), `DestFolder` CHAR(72) "
            "PRIMARY KEY `FileKey`)");
    MSIHANDLE install = pkg.Open();
    Rows directories, copies;
    for (std::size_t n = 0; n < c.folders.size() + 1; ++n) {
      std::string key = "MOZILLA_" + std::to_string(n) + kCore;
      std::string folder = n < c.folders.size() ? c.folders[n] : "";
      EXPECT_EQ(GetProp(install, key), "") << key;
      if (folder.empty()) continue;
      directories.push_back({key, "TARGETDIR", "."});
      copies.push_back({key, "Netscape_Plugins" + kCore, "IQVAClient.xpt" + kCore, "", key});
    }
    // Twice: rows that exist are left alone.
    for (int run = 0; run < 2; ++run) EXPECT_EQ(CallAction(install, "CopyIQVAClientFile"), 0u);
    for (std::size_t n = 0; n < c.folders.size() + 1; ++n)
      EXPECT_EQ(GetProp(install, "MOZILLA_" + std::to_string(n) + kCore),
                n < c.folders.size() ? c.folders[n] : "") << n;
    EXPECT_EQ(QueryRows(install, "SELECT * FROM `Directory`"), directories);
    EXPECT_EQ(QueryRows(install, "SELECT * FROM `DuplicateFile`"), copies);
  }
  Package pkg;  // no Directory table
  EXPECT_EQ(CallAction(pkg.Open(), "CopyIQVAClientFile"), 1603u);
}

// FindOldLauncherFromShortcut on its own: an empty property is success with
// nothing written; a name without a folder opens in the current directory; a
// shortcut to another program or no shortcut clears the location.
TEST(InstallLocation, LauncherFromShortcutRoutine) {
  struct Case {
    std::string value;
    UINT expected;
    std::string old;
  } cases[] = {{"", 0, "X"}, {"hl.lnk", 0, "c:\\old\\hl.exe"}, {"x", 1603, ""},
               {"@other.lnk", 1603, ""}};
  for (const Case& c : cases) {
    Package pkg;
    std::string folder = TempFolder("routine");
    MakeShortcut(folder + "hl.lnk", "C:\\Old\\HL.EXE", "");
    MakeShortcut(folder + "other.lnk", "C:\\Old\\launch.exe", "");
    MSIHANDLE install = OpenWith(pkg, {{"SHORTCUT", c.value}, {kOld, "X"}}, folder);
    SetCurrentDirectoryA(folder.c_str());
    EXPECT_EQ(viduzo::FindOldLauncherFromShortcut(install, "SHORTCUT"), c.expected) << c.value;
    EXPECT_EQ(GetProp(install, kOld), c.old) << c.value;
  }
}

// AddTempDuplicateFile inserts a row only when its key is new, and reports it.
TEST(BrowserPlugins, DuplicateFileRowOnce) {
  Package pkg;
  pkg.Sql("CREATE TABLE `DuplicateFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) "
          "NOT NULL, `File_` CHAR(72) NOT NULL, `DestName` CHAR(255), `DestFolder` CHAR(72) "
          "PRIMARY KEY `FileKey`)");
  MSIHANDLE install = pkg.Open();
  EXPECT_TRUE(viduzo::AddTempDuplicateFile(install, "K", "C", "F", "N.xpt", "D"));
  EXPECT_FALSE(viduzo::AddTempDuplicateFile(install, "K", "C2", "F2", nullptr, "D2"));
  EXPECT_EQ(QueryRows(install, "SELECT * FROM `DuplicateFile`"),
            (Rows{{"K", "C", "F", "N.xpt", "D"}}));
  Package none;
  EXPECT_FALSE(viduzo::AddTempDuplicateFile(none.Open(), "K", "C", "F", nullptr, "D"));
}

#ifndef _WIN32
// Failed property reads and writes of the location and folder actions: the
// location is cleared and 1603 returned; reads that only decide nothing
// change nothing.
TEST(InstallLocation, FailedReadsAndWritesNative) {
  struct Case {
    const char* action;
    std::map<std::string, std::string> props;
    std::string failRead;
    unsigned readsBefore;
    std::string failWrite;
    UINT expected;
    std::string name, value;  // a property afterwards
  } cases[] = {
      {"FixInstallLocation", {{"HlType", "MSIHL"}, {"HLLOC" + kCore, "D:\\hl.exe"}},
       "HLLOC" + kCore, 1, "", 1603, kOld, ""},
      {"FixInstallLocation", {{"HlType", "MSIHL"}, {"HLLOC" + kCore, "D:\\hl.exe"}}, "", 0, kOld,
       1603, "", ""},
      {"FixInstallLocation", {{"HlType", "MSI_HLA"}, {"HLALOC" + kCore, "D:\\a.exe"}},
       "HLALOC" + kCore, 0, "", 1603, "", ""},
      {"FixInstallLocation", {{"HlType", "MSI_HLA"}}, "HLA_FOUND" + kCore, 0, "", 0, kOld, ""},
      {"FixInstallLocation",
       {{"HlType", "MSI_ALL"}, {"HLALL" + kCore, "D:\\all.exe"}, {"HLLOC" + kCore, "D:\\hl.exe"}},
       "HLALL" + kCore, 0, "", 1603, kOld, ""},
      {"FixInstallLocation",
       {{"HlType", "MSI_ALL"}, {"PASS_THROUGH_FOUND" + kCore, "C:\\PT\\"}, {kOld, "X"}},
       "HLLOC" + kCore, 0, "", 0, kOld, ""},
      {"SetProgramFolderName", {{"PFNAME" + kAgent, "C:\\Menu\\A\\"}}, "ProgramMenuFolder", 0,
       "", 1603, "", ""},
      {"SetProgramFolderName", {{"PFNAME" + kAgent, "C:\\Menu\\A\\"}}, "", 0,
       "PROGRAM_FOLDER_NAME" + kAgent, 1603, "", ""},
      {"RemoveFileFromDirs", {{kOld, "D:\\App\\"}}, "", 0, kOld, 0, kOld, "D:\\App\\"},
      {"RemoveFileFromDirs", {{kOld, "D:\\App\\hl.exe"}}, "", 0, kOld, 1603, "", ""},
  };
  for (const Case& c : cases) {
    Package pkg;
    std::map<std::string, std::string> props = c.props;
    props.insert({"ProgramMenuFolder", "C:\\Menu\\"});
    MSIHANDLE install = OpenWith(pkg, props);
    if (!c.failRead.empty()) winsim::FailPropertyRead(c.failRead, c.readsBefore);
    if (!c.failWrite.empty()) winsim::FailPropertyWrite(c.failWrite);
    std::string label = std::string(c.action) + " " + std::to_string(&c - cases);
    EXPECT_EQ(CallAction(install, c.action), c.expected) << label;
    winsim::ResetSession();
    if (!c.name.empty()) {
      EXPECT_EQ(GetProp(install, c.name), c.value) << label;
    }
  }
}

// Every failed step of reading a shortcut keeps the file (259) or fails the
// location (1603, property cleared), and leaves no link object or OLE behind.
TEST(ShortcutConditions, FailedShellStepsNative) {
  // The property write goes last: its failure lasts for the rest of the session.
  const char* steps[] = {"CoCreateInstance", "QueryInterface", "Load", "GetPath",
                         "GetArguments", "SetCurrentDirectory", "property write"};
  for (const char* item : {"VmrCoreRemoveFileDirectory", "VmrCoreRemoveFileFile"}) {
    Package pkg;
    std::string folder = TempFolder("fail");
    MakeShortcut(folder + "a.lnk", "C:\\Agent\\hlagent.exe", "");
    MSIHANDLE install = OpenWith(pkg, {{"VmrCoreRemoveFileDirectory", "@"},
                                       {"VmrCoreRemoveFileFile", "a.lnk"},
                                       {"HLA_FOUND" + kCore, "1"}}, folder);
    winsim::FailPropertyRead(item);
    EXPECT_EQ(CallAction(install, "RmHlAgentShortcutMenu"), 259u) << item;
    winsim::ResetSession();
  }
  {
    Package pkg;
    std::string folder = TempFolder("fail");
    WriteFile(folder + "i.lnk", "lnk");
    MSIHANDLE install = OpenWith(pkg, {{"CustomActionData", "@i.lnk2"}}, folder);
    winsim::FailPropertyRead("CustomActionData");
    EXPECT_EQ(CallAction(install, "FixDesktopHLIcon"), 0u);
    EXPECT_EQ(ReadWholeFile(folder + "i.lnk2"), "<cannot open>");
    winsim::ResetSession();
  }
  for (const char* step : steps) {
    Package pkg;
    std::string folder = TempFolder("fail");
    MakeShortcut(folder + "hl.lnk", "C:\\Old\\HL.EXE", "/DI");
    MSIHANDLE install = OpenWith(pkg, {{"VmrCoreRemoveFileDirectory", "@"},
                                       {"VmrCoreRemoveFileFile", "hl.lnk"},
                                       {"HlType", "MSIHL"}, {"HLLOC" + kCore, "@hl.lnk"},
                                       {"HLALOC" + kCore, "D:\\A\\hlagent.exe"}, {kOld, "X"}},
                                 folder);
    std::string s = step;
    if (s == "CoCreateInstance") winsim::FailCoCreateInstance(REGDB_E_CLASSNOTREG);
    else if (s == "property write") winsim::FailPropertyWrite(kOld, 0);
    else if (s == "SetCurrentDirectory") DeleteFileA((folder + "hl.lnk").c_str()), RemoveDirectoryA(folder.c_str());
    else winsim::FailShellLinkMethod(s);
    EXPECT_EQ(CallAction(install, "RemoveHLShortcuts"), s == "property write" ? 0u : 259u) << s;
    EXPECT_EQ(CallAction(install, "FixInstallLocation"), s == "GetArguments" ? 0u : 1603u) << s;
    if (s != "property write") {
      EXPECT_EQ(GetProp(install, kOld), s == "GetArguments" ? "c:\\old\\hl.exe" : "") << s;
    }
    winsim::ResetShellLinks();
    winsim::FailCoCreateInstance(S_OK);
  }
}
#endif

// Paths whose double-byte characters have a trail byte 0x5C: only real
// backslashes cut, and the last character of a path may be double-byte.
TEST(FolderProperties, DbcsTrailBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const std::string kanji = "\x95\x5C";  // one character whose trail byte is "\\"
  Package pkg;
  std::string folder = TempFolder("dbcs");
  WriteFile(folder + "Hub", "lnk");
  MSIHANDLE install = OpenWith(pkg, {{kOld, "D:\\App" + kanji + "\\hl" + kanji},
                                     {"HLALOC" + kCore, "D:\\" + kanji},
                                     {"CustomActionData", "@Hub" + kanji},
                                     {"ProgramMenuFolder", "C:\\M" + kanji + "\\"},
                                     {"PFNAME" + kAgent, "C:\\M" + kanji + "\\A" + kanji + "\\"}},
                               folder);
  EXPECT_EQ(CallAction(install, "RemoveFileFromDirs"), 0u);
  EXPECT_EQ(GetProp(install, kOld), "D:\\App" + kanji + "\\");
  EXPECT_EQ(GetProp(install, "HLALOC" + kCore), "D:\\");
  EXPECT_EQ(CallAction(install, "SetProgramFolderName"), 0u);
  EXPECT_EQ(GetProp(install, "PROGRAM_FOLDER_NAME" + kAgent), "A" + kanji);
  EXPECT_EQ(CallAction(install, "FixDesktopHLIcon"), 0u);
  EXPECT_EQ(ReadWholeFile(folder + "Hub" + kanji), "lnk");
}
