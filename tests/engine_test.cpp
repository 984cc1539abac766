// What the system gives every process and the engine every package: the
// environment of a Windows user, the engine's standard properties of the
// machine, the user and the process, and the user interface level.
#include <regex>
#include <string>
#include <vector>

#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

constexpr bool kProcess64 = sizeof(void*) == 8;

// An environment variable's value, "<unset>" when it is not set.
std::string Env(const char* name) {
  char buffer[2048];
  DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return "<unset>";
  return std::string(buffer, length);
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string TempPath() {
  char buffer[MAX_PATH + 1] = "";
  GetTempPathA(sizeof buffer, buffer);
  return buffer;
}

TEST(Environment, IsThatOfAWindowsUser) {
  const std::string path = Env("PATH"), root = Env("SystemRoot"), drive = Env("SystemDrive");
  EXPECT_TRUE(std::regex_match(path, std::regex("[A-Za-z]:\\\\[^/]*"))) << path;
  EXPECT_NE(Upper(path).find(Upper(root) + "\\SYSTEM32"), std::string::npos) << path;
  EXPECT_EQ(Upper(Env("windir")), Upper(root));
  EXPECT_EQ(root.substr(0, 3), drive + "\\");
  EXPECT_EQ(Env("OS"), "Windows_NT");
  EXPECT_EQ(Env("TEMP"), Env("TMP"));
  EXPECT_EQ(TempPath(), Env("TMP") + "\\");
  const std::string profile = Env("USERPROFILE");
  EXPECT_EQ(profile.substr(0, 3), drive + "\\");
  EXPECT_EQ(Env("HOMEDRIVE") + Env("HOMEPATH"), profile);
  EXPECT_EQ(Env("APPDATA"), profile + "\\AppData\\Roaming");
  EXPECT_EQ(Env("LOCALAPPDATA"), profile + "\\AppData\\Local");
  EXPECT_EQ(Env("ProgramFiles"), drive + "\\Program Files");
  EXPECT_EQ(Env("ProgramFiles(x86)"), drive + "\\Program Files (x86)");
  EXPECT_EQ(Env("CommonProgramFiles"), Env("ProgramFiles") + "\\Common Files");
  EXPECT_EQ(Env("ProgramData"), drive + "\\ProgramData");
  EXPECT_NE(Env("USERNAME"), "<unset>");
  EXPECT_NE(Env("COMPUTERNAME"), "<unset>");
  EXPECT_EQ(Env("USERDOMAIN"), Env("COMPUTERNAME"));
  EXPECT_EQ(Env("PROCESSOR_ARCHITECTURE"), kProcess64 ? "AMD64" : Env("PROCESSOR_ARCHITECTURE"));
  // The temporary folder exists.
  EXPECT_EQ(GetFileAttributesA(TempPath().c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST(Environment, ChangesReachTheTemporaryFolderAndFormattedText) {
  const std::string tmp = Env("TMP"), folder = TempFolder("envtmp");
  ASSERT_TRUE(SetEnvironmentVariableA("TMP", (folder + "inner").c_str()));
  EXPECT_EQ(TempPath(), folder + "inner\\");
  ASSERT_TRUE(SetEnvironmentVariableA("TMP", nullptr));
  EXPECT_EQ(TempPath(), Env("TEMP") + "\\");  // TEMP comes next
  ASSERT_TRUE(SetEnvironmentVariableA("TMP", tmp.c_str()));
  EXPECT_EQ(TempPath(), tmp + "\\");

  Package p;
  MSIHANDLE h = p.Open();
  EXPECT_EQ(Format(h, "[%SystemRoot]|[%windir]"), Env("SystemRoot") + "|" + Env("windir"));
  ASSERT_TRUE(SetEnvironmentVariableA("SystemRoot", "D:\\Elsewhere"));
  EXPECT_EQ(Format(h, "[%SYSTEMROOT]"), "D:\\Elsewhere");
  ASSERT_TRUE(SetEnvironmentVariableA("SystemRoot", Env("windir").c_str()));
}

#ifndef _WIN32
// Nothing of the host's environment shows, and a test can start again from the
// environment every process starts with.
TEST(Environment, HostVariablesDoNotShowAndResetRestores) {
  for (const char* name : {"HOME", "SHELL", "LANG", "PWD", "WINSIM_ROOT"})
    EXPECT_EQ(Env(name), "<unset>") << name;
  const std::string path = Env("PATH");
  SetEnvironmentVariableA("PATH", "C:\\Tools");
  SetEnvironmentVariableA("VIDUZO_EXTRA", "x");
  winsim::ResetEnvironment();
  EXPECT_EQ(Env("PATH"), path);
  EXPECT_EQ(Env("VIDUZO_EXTRA"), "<unset>");
}
#endif

// The properties the engine sets when it opens a package, for the machine,
// the user and the process (a 64-bit process here). Values that differ from
// machine to machine are checked by their form and against the environment.
TEST(EngineProperties, StandardPropertiesOfMachineUserAndProcess) {
  Package p;
  p.Property("ProductCode", "{0B7E9A51-6C2D-4E38-9F14-A2D5C8E0B731}");
  MSIHANDLE h = p.Open();
  auto prop = [&](const char* name) { return GetProp(h, name); };
  const std::string windows = prop("WindowsFolder"), appData = prop("AppDataFolder");
  const std::string startMenu = appData + "Microsoft\\Windows\\Start Menu\\";
  const std::string profile = Env("USERPROFILE") + "\\";
  const std::string number = "[1-9][0-9]*";
  struct Case {
    const char* name;
    std::string expected;
    enum { kEquals, kEqualsNoCase, kMatches } how;
  };
  const Case cases[] = {
      {"VersionNT", "[1-9][0-9]{2,3}", Case::kMatches},
      {"VersionNT64", kProcess64 ? prop("VersionNT") : "", Case::kEquals},
      {"WindowsBuild", number, Case::kMatches},
      {"ServicePackLevel", "[0-9]+", Case::kMatches},
      {"MsiNTProductType", "[123]", Case::kMatches},
      {"Intel", Env("PROCESSOR_LEVEL"), Case::kEquals},
      {"Msix64", kProcess64 ? prop("Intel") : "", Case::kEquals},
      {"MsiAMD64", kProcess64 ? prop("Intel") : "", Case::kEquals},
      {"VersionMsi", "[1-9]\\.[0-9]+", Case::kMatches},
      {"VersionDatabase", number, Case::kMatches},
      {"PhysicalMemory", number, Case::kMatches},
      {"ScreenX", number, Case::kMatches},
      {"ScreenY", number, Case::kMatches},
      {"ColorBits", number, Case::kMatches},
      {"Privileged", "1", Case::kEquals},
      {"AdminUser", "1", Case::kEquals},
      {"MsiRunningElevated", "1", Case::kEquals},
      {"LogonUser", Env("USERNAME"), Case::kEquals},
      {"ComputerName", Env("COMPUTERNAME"), Case::kEquals},
      {"UserSID", "S-1-5-21(-[0-9]+){4}", Case::kMatches},
      {"UserLanguageID", number, Case::kMatches},
      {"SystemLanguageID", number, Case::kMatches},
      {"Date", "[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}", Case::kMatches},
      {"Time", "[0-9]{1,2}:[0-9]{2}:[0-9]{2}", Case::kMatches},
      {"ProductState", "-1", Case::kEquals},  // the product is not installed
      {"UILevel", "2", Case::kEquals},        // the fixture opens without a user interface
      {"PackageCode", "{7C3E6A14-2B9D-4F1A-9E55-0D8C41B7A263}", Case::kEquals},  // the fixture's
      {"OriginalDatabase", p.path(), Case::kEquals},
      // Folders.
      {"WindowsFolder", Env("SystemRoot") + "\\", Case::kEqualsNoCase},
      {"WindowsVolume", windows.substr(0, 3), Case::kEquals},
      {"System64Folder", kProcess64 ? windows + "system32\\" : "", Case::kEqualsNoCase},
      {"SystemFolder", windows + (kProcess64 ? "SysWOW64\\" : "system32\\"), Case::kEqualsNoCase},
      {"FontsFolder", windows + "Fonts\\", Case::kEqualsNoCase},
      {"TempFolder", TempPath(), Case::kEquals},
      {"ProgramFilesFolder", Env("ProgramFiles(x86)") + "\\", Case::kEquals},
      {"ProgramFiles64Folder", Env("ProgramW6432") + "\\", Case::kEquals},
      {"CommonFilesFolder", Env("CommonProgramFiles(x86)") + "\\", Case::kEquals},
      {"CommonFiles64Folder", Env("CommonProgramW6432") + "\\", Case::kEquals},
      {"CommonAppDataFolder", Env("ProgramData") + "\\", Case::kEquals},
      {"AppDataFolder", Env("APPDATA") + "\\", Case::kEquals},
      {"LocalAppDataFolder", Env("LOCALAPPDATA") + "\\", Case::kEquals},
      {"DesktopFolder", profile + "Desktop\\", Case::kEquals},
      {"PersonalFolder", profile + "Documents\\", Case::kEquals},
      {"FavoritesFolder", profile + "Favorites\\", Case::kEquals},
      {"MyPicturesFolder", profile + "Pictures\\", Case::kEquals},
      {"StartMenuFolder", startMenu, Case::kEquals},
      {"ProgramMenuFolder", startMenu + "Programs\\", Case::kEquals},
      {"StartupFolder", startMenu + "Programs\\Startup\\", Case::kEqualsNoCase},
      {"AdminToolsFolder", startMenu + "Programs\\Administrative Tools\\", Case::kEquals},
      {"SendToFolder", appData + "Microsoft\\Windows\\SendTo\\", Case::kEquals},
      {"RecentFolder", appData + "Microsoft\\Windows\\Recent\\", Case::kEquals},
      {"TemplateFolder", appData + "Microsoft\\Windows\\Templates\\", Case::kEquals},
      {"NetHoodFolder", appData + "Microsoft\\Windows\\Network Shortcuts\\", Case::kEquals},
      {"PrintHoodFolder", appData + "Microsoft\\Windows\\Printer Shortcuts\\", Case::kEquals},
  };
  for (const Case& c : cases) {
    const std::string value = prop(c.name);
    switch (c.how) {
      case Case::kEquals: EXPECT_EQ(value, c.expected) << c.name; break;
      case Case::kEqualsNoCase: EXPECT_EQ(Upper(value), Upper(c.expected)) << c.name; break;
      case Case::kMatches:
        EXPECT_TRUE(std::regex_match(value, std::regex(c.expected))) << c.name << ": " << value;
        break;
    }
  }
  EXPECT_TRUE(std::regex_match(windows, std::regex("[A-Za-z]:\\\\.*\\\\"))) << windows;
}

// MsiSetInternalUI sets the process's level and answers the one before; a
// package takes UILevel, the level without its flags, when it is opened.
TEST(EngineProperties, UiLevelIsTheLevelSetBeforeThePackageOpens) {
  Package p;
  p.Open();
  const INSTALLUILEVEL saved = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  auto level = [](int flags) { return static_cast<INSTALLUILEVEL>(flags); };
  auto uiLevelOfANewSession = [&]() {
    MSIHANDLE h = 0;
    EXPECT_EQ(MsiOpenPackageA(p.path().c_str(), &h), ERROR_SUCCESS);
    std::string value = GetProp(h, "UILevel");
    MsiCloseHandle(h);
    return value;
  };
  const struct {
    int set;
    int previous;
    const char* uiLevel;
  } cases[] = {
      {INSTALLUILEVEL_BASIC | INSTALLUILEVEL_SOURCERESONLY, INSTALLUILEVEL_NONE, "3"},
      {INSTALLUILEVEL_REDUCED | INSTALLUILEVEL_PROGRESSONLY,
       INSTALLUILEVEL_BASIC | INSTALLUILEVEL_SOURCERESONLY, "4"},
      {INSTALLUILEVEL_FULL | INSTALLUILEVEL_ENDDIALOG | INSTALLUILEVEL_HIDECANCEL,
       INSTALLUILEVEL_REDUCED | INSTALLUILEVEL_PROGRESSONLY, "5"},
      // NOCHANGE answers the level and keeps it.
      {INSTALLUILEVEL_NOCHANGE, INSTALLUILEVEL_FULL | INSTALLUILEVEL_ENDDIALOG |
                                    INSTALLUILEVEL_HIDECANCEL, "5"},
      // An unknown flag changes nothing and answers NOCHANGE.
      {0x1000 | INSTALLUILEVEL_NONE, INSTALLUILEVEL_NOCHANGE, "5"},
      {INSTALLUILEVEL_NONE,
       INSTALLUILEVEL_FULL | INSTALLUILEVEL_ENDDIALOG | INSTALLUILEVEL_HIDECANCEL, "2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MsiSetInternalUI(level(c.set), nullptr), level(c.previous)) << c.set;
    EXPECT_EQ(uiLevelOfANewSession(), c.uiLevel) << c.set;
  }
  // An open session keeps the level it was opened with.
  MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
  MSIHANDLE h = 0;
  ASSERT_EQ(MsiOpenPackageA(p.path().c_str(), &h), ERROR_SUCCESS);
  MsiSetInternalUI(INSTALLUILEVEL_FULL, nullptr);
  EXPECT_EQ(GetProp(h, "UILevel"), "3");
  MsiCloseHandle(h);

  // The window is swapped with the one given, whatever the level.
  HWND window = reinterpret_cast<HWND>(0x1234), previous = reinterpret_cast<HWND>(0x99);
  HWND before = nullptr;
  MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, &before);
  MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, &window);
  EXPECT_EQ(window, before);
  MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, &previous);
  EXPECT_EQ(previous, reinterpret_cast<HWND>(0x1234));
  MsiSetInternalUI(saved, &before);
}

#ifndef _WIN32
// An installed product: ProductState is INSTALLSTATE_DEFAULT.
TEST(EngineProperties, ProductStateOfAnInstalledProduct) {
  const char* code = "{0B7E9A51-6C2D-4E38-9F14-A2D5C8E0B731}";
  winsim::SetInstalledFeature(code, "Core", INSTALLSTATE_LOCAL);
  Package p;
  p.Property("ProductCode", "{0b7e9a51-6c2d-4e38-9f14-a2d5c8e0b731}");
  EXPECT_EQ(GetProp(p.Open(), "ProductState"), "5");
}
#endif

}  // namespace
