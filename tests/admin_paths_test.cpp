// Administrative path properties: Mark2UpdateAdminProperty records path
// properties against the system folder they lie in, UpdateAdminProperty
// resolves them again with the folder values in force then.
#include <string>

#include "tests/fixture.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kList[] = "ADMINPATH2MODIFY";

class AdminPathTest : public ::testing::Test {
 protected:
  AdminPathTest() {
    h = pkg.Open();
    common = GetProp(h, "CommonFilesFolder");
    appData = GetProp(h, "AppDataFolder");
    windows = GetProp(h, "WindowsFolder");
  }
  Package pkg;
  MSIHANDLE h = 0;
  std::string common, appData, windows;
};

TEST_F(AdminPathTest, MarkRecordsEachListedPathAgainstItsFolder) {
  // INSTALLDIR lies under CommonFilesFolder, which comes before the folder
  // that holds it too (ProgramFilesFolder); DATADIR under AppDataFolder.
  SetProp(h, "INSTALLDIR", common + "Velmar\\QVA\\");
  SetProp(h, "DATADIR", appData + "Velmar\\");
  SetProp(h, "ELSEWHERE", "\\\\server\\share\\QVA\\");  // under no system folder
  const std::string lower = [&] {
    std::string s = common + "Velmar\\";
    CharLowerA(&s[0]);
    return s;
  }();
  SetProp(h, "LOWERDIR", lower);  // folders compare with case
  SetProp(h, "WINDIR", windows);                                   // the folder itself
  // Paths are read into 260 bytes: 260 characters do not fit.
  SetProp(h, "LONGPATH", windows + std::string(260 - windows.size(), 'x'));
  const std::string c = "INSTALLDIR=[CommonFilesFolder]Velmar\\QVA\\;";
  const std::string a = "DATADIR=[AppDataFolder]Velmar\\;";
  const struct {
    std::string names, before, expected;
  } cases[] = {
      {"INSTALLDIR;DATADIR;", "Nothing", c + a},
      {"INSTALLDIR;DATADIR;", "", c + a},
      {"INSTALLDIR;", "P=x;", "P=x;" + c},
      {"INSTALLDIR", "Nothing", "Nothing"},              // no ";": no item
      {"DATADIR;INSTALLDIR", "Nothing", a},              // text after the last ";" is no item
      {"INSTALLDIR;;DATADIR;", "Nothing", c},            // an empty item ends the walk
      {";INSTALLDIR;", "Nothing", "Nothing"},
      {"ELSEWHERE;LOWERDIR;NOTSET;DATADIR;", "Nothing", a},
      {"", "Nothing", "Nothing"},
      {"INSTALLDIR;INSTALLDIR;", "Nothing", c + c},
      {"WINDIR;", "Nothing", "WINDIR=[WindowsFolder];"},
      {"LONGPATH;DATADIR;", "Nothing", a},
  };
  for (const auto& k : cases) {
    SetProp(h, "AdminPathProperties", k.names);
    SetProp(h, kList, k.before);
    EXPECT_EQ(CallAction(h, "Mark2UpdateAdminProperty"), 0u) << k.names;
    EXPECT_EQ(GetProp(h, kList), k.expected) << k.names;
  }
}

TEST_F(AdminPathTest, AnUnreadableFolderEndsTheSearch) {
  // The first system folder does not fit its buffer: no folder is found.
  SetProp(h, "AdminToolsFolder", "C:\\" + std::string(300, 'a') + "\\");
  SetProp(h, "INSTALLDIR", common + "Velmar\\");
  SetProp(h, "AdminPathProperties", "INSTALLDIR;");
  SetProp(h, kList, "Nothing");
  EXPECT_EQ(CallAction(h, "Mark2UpdateAdminProperty"), 0u);
  EXPECT_EQ(GetProp(h, kList), "Nothing");
}

TEST(AdminPathActions, WithoutAnInstallHandle) {
  // Nothing can be read: each action gives its result for an unreadable input.
  EXPECT_EQ(CallAction(0, "Mark2UpdateAdminProperty"), 1627u);
  EXPECT_EQ(CallAction(0, "UpdateAdminProperty"), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(CallAction(0, "SetFixIniFile"), 1627u);
  EXPECT_EQ(CallAction(0, "FixIniFile"), 1627u);
  EXPECT_EQ(CallAction(0, "PrepareAppSearch"), 1603u);
}

#ifndef _WIN32
TEST_F(AdminPathTest, LongNamesAndFailedAllocations) {
  const std::string longest(255, 'M'), tooLong(256, 'N');
  SetProp(h, longest, windows + "m\\");
  SetProp(h, tooLong, windows + "n\\");
  SetProp(h, "DATADIR", appData + "Velmar\\");
  SetProp(h, "AdminPathProperties", tooLong + ";" + longest + ";DATADIR;");
  SetProp(h, kList, "Nothing");
  EXPECT_EQ(CallAction(h, "Mark2UpdateAdminProperty"), 0u);
  EXPECT_EQ(GetProp(h, kList), longest + "=[WindowsFolder]m\\;DATADIR=[AppDataFolder]Velmar\\;");

  // The list of names, then ADMINPATH2MODIFY, then the resolved text cannot be had.
  SetProp(h, "AdminPathProperties", "DATADIR;");
  SetProp(h, kList, "Nothing");
  winsim::FailHeapAllocation(0);
  EXPECT_EQ(CallAction(h, "Mark2UpdateAdminProperty"), 1627u);
  winsim::FailHeapAllocation(1);
  EXPECT_EQ(CallAction(h, "Mark2UpdateAdminProperty"), 0u);
  EXPECT_EQ(GetProp(h, kList), "Nothing");

  SetProp(h, kList, "P=[WindowsFolder]a;Q=[WindowsFolder]b;");
  winsim::FailHeapAllocation(0);
  EXPECT_EQ(CallAction(h, "UpdateAdminProperty"), 1603u);
  winsim::FailHeapAllocation(1);
  EXPECT_EQ(CallAction(h, "UpdateAdminProperty"), 1603u);
  EXPECT_EQ(GetProp(h, "P"), "");
  EXPECT_EQ(GetProp(h, "Q"), "");
  winsim::ResetHeapFailure();
}
#endif

TEST_F(AdminPathTest, RoundTripFollowsAChangedFolder) {
  SetProp(h, "INSTALLDIR", common + "Velmar\\QVA\\");
  SetProp(h, "DATADIR", appData + "Velmar\\");
  SetProp(h, "AdminPathProperties", "INSTALLDIR;DATADIR;");
  SetProp(h, kList, "Nothing");
  ASSERT_EQ(CallAction(h, "Mark2UpdateAdminProperty"), 0u);

  SetProp(h, "CommonFilesFolder", "D:\\Shared\\");
  EXPECT_EQ(CallAction(h, "UpdateAdminProperty"), 0u);
  EXPECT_EQ(GetProp(h, "INSTALLDIR"), "D:\\Shared\\Velmar\\QVA\\");
  EXPECT_EQ(GetProp(h, "DATADIR"), appData + "Velmar\\");
  // The list stays for another pass.
  EXPECT_EQ(GetProp(h, kList),
            "INSTALLDIR=[CommonFilesFolder]Velmar\\QVA\\;DATADIR=[AppDataFolder]Velmar\\;");
}

TEST_F(AdminPathTest, UpdateAppliesWellFormedEntries) {
  const struct {
    const char* list;
    const char* p;  // P after the call ("" = not set)
    const char* q;
  } cases[] = {
      {"Nothing", "", ""},
      {"", "", ""},
      {"P=[WindowsFolder]a;Q=[WindowsFolder]b", "a", ""},  // after the last ";": ignored
      {"noequals;=[WindowsFolder]x;P=[WindowsFolder]a;", "a", ""},
      {"P=[WindowsFolder]a;P=[WindowsFolder]b;Q=x=y;", "b", "x=y"},  // the later one last
      {"P=;Q=[WindowsFolder]q;", "", "q"},
  };
  for (const auto& c : cases) {
    SetProp(h, "P", "");
    SetProp(h, "Q", "");
    SetProp(h, kList, c.list);
    EXPECT_EQ(CallAction(h, "UpdateAdminProperty"), 0u) << c.list;
    EXPECT_EQ(GetProp(h, "P"), *c.p ? windows + c.p : "") << c.list;
    EXPECT_EQ(GetProp(h, "Q"), *c.q == 'q' ? windows + c.q : c.q) << c.list;
  }
}

}  // namespace
