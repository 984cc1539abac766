// What the system gives every process and the engine every package: the
// environment of a Windows user.
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

}  // namespace
