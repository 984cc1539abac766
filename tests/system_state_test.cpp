// System state detection: the folder, hive, configuration-file and validation
// properties of GetSystemState, and the steps SystemStateBetweenCostFinalize
// takes before it runs CostFinalize.
#include <algorithm>
#include <string>
#include <vector>

#include "system/system_state.h"
#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kCore[] = "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kLauncher[] = "QVADIR.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
const char kAgent[] = "QVADIR.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
const char kLauncherPf[] = "PROGRAM_FOLDER_NAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
const char kAgentPf[] = "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
const char kDesktopLink[] = "DESKTOPLINK.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
const char kCache[] = "Cache.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kCacheSize[] = "PersistentCacheSize.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kCacheBmp[] = "PersistentCacheBMP.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kLogFile[] = "LogFile.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kLogFile32[] = "LogFile32.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kPassThrough[] = "PASS_THROUGH_FOUND.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kError[] = "ValidationError.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kCurrentUser[] = "CurrentUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kEnableTrovFiles[] = "EnableTROVFiles.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

// An opened package whose entries are all acceptable; each test changes what it
// is about.
class SystemStateTest : public ::testing::Test {
 protected:
  MSIHANDLE Open() {
    MSIHANDLE h = pkg.Open();
    SetProp(h, "CLIENT_NAME", "CLIENT01");
    SetProp(h, kCore, "C:\\Program Files\\Velmar\\QVA Client\\");
    SetProp(h, kLauncherPf, "Velmar Hublane");
    SetProp(h, kAgentPf, "Velmar Agent");
    SetProp(h, "UserSID", "");
    SetProp(h, "HlType", "MSI_ALL");
    SetProp(h, kCache, "");
    SetProp(h, kError, "untouched");
    return h;
  }
  Package pkg;
};

TEST_F(SystemStateTest, LastFailingCheckNamesTheError) {
  const char* invalidName = "ErrorClientNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  const char* emptyName = "ErrorClientNameEmtpy.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  const char* badDir = "ErrorInstallDirInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  const char* badPf = "ErrorPFNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  struct Case {
    const char* hlType;
    const char* clientName;
    const char* folder;
    const char* launcherPf;
    const char* agentPf;
    const char* error;
  } cases[] = {
      {"MSI_ALL", "CLIENT01", "C:\\Velmar\\", "Hublane", "Agent", "untouched"},
      {"msi_hla", "CLIENT01", "C:\\Velmar\\", "bad/name", "Agent", "untouched"},  // agent only
      {"msi_hla", "CLIENT01", "C:\\Velmar\\", "Hublane", "", badPf},
      {"MSIHL", "CLIENT01", "C:\\Velmar\\", "Hublane", "bad|name", "untouched"},  // classic only
      {"MSIHL", "CLIENT01", "C:\\Velmar\\", "bad?", "Agent", badPf},
      {"", "CLIENT01", "C:\\Velmar\\", "Hublane", "bad*", badPf},  // empty type: both
      {"", "CLIENT01", "C:\\Velmar\\", "bad*", "Agent", badPf},
      {"MSI_ALL", "bad.name", "C:\\Velmar\\", "Hublane", "Agent", invalidName},
      {"MSI_ALL", "", "C:\\Velmar\\", "Hublane", "Agent", emptyName},
      {"MSI_ALL", "", "C:\\Vel\"mar\\", "Hublane", "Agent", badDir},  // the later check wins
      {"MSI_ALL", "bad.name", "", "", "Agent", badPf},
  };
  MSIHANDLE h = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.hlType) + "/" + c.clientName + "/" + c.folder + "/" +
                 c.launcherPf + "/" + c.agentPf);
    SetProp(h, "HlType", c.hlType);
    SetProp(h, "CLIENT_NAME", c.clientName);
    SetProp(h, kCore, c.folder);
    SetProp(h, kLauncherPf, c.launcherPf);
    SetProp(h, kAgentPf, c.agentPf);
    SetProp(h, kError, "untouched");
    EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
    EXPECT_EQ(GetProp(h, kError), c.error);
  }
}

TEST_F(SystemStateTest, ModuleFoldersFollowTheCore) {
  MSIHANDLE h = Open();
  SetProp(h, kCore, "C:\\Velmar\\QVA\\");
  SetProp(h, kLauncher, "D:\\Old\\");
  SetProp(h, kAgent, "");
  SetProp(h, "ProgramMenuFolder", "C:\\Menu\\");
  SetProp(h, kLauncherPf, "Hublane");
  SetProp(h, kAgentPf, "Agent");
  SetProp(h, kPassThrough, "C:\\PassThrough\\");
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kLauncher), "C:\\Velmar\\QVA\\");
  EXPECT_EQ(GetProp(h, kAgent), "") << "an empty module folder stays empty";
  EXPECT_EQ(GetProp(h, "PFNAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7"), "C:\\Menu\\Hublane");
  EXPECT_EQ(GetProp(h, "PFNAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4"), "C:\\Menu\\Agent");
  EXPECT_EQ(GetProp(h, "PFName.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4"), "C:\\Menu\\Agent");
  EXPECT_EQ(GetProp(h, "RestorePassThroughKey.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60"),
            "C:\\PassThrough\\");

  // Equal but for case: left as it is.
  SetProp(h, kLauncher, "c:\\velmar\\qva\\");
  EXPECT_EQ(viduzo::SetModuleFolderProperties(h), 1);
  EXPECT_EQ(GetProp(h, kLauncher), "c:\\velmar\\qva\\");
}

TEST_F(SystemStateTest, DesktopLinkFromTheVolumeRoot) {
  struct Case {
    const char* volume;
    const char* link;
    const char* expected;
  } cases[] = {
      {"C:\\", "\\Users\\Public\\Desktop\\", "C:\\Users\\Public\\Desktop\\"},
      {"C:\\", "D:\\Desktop\\", "D:\\Desktop\\"},
      {"C:\\", "\\\\server\\share\\", "\\\\server\\share\\"},
      {"C:\\", "", ""},
      {"", "\\Desktop\\", ""},  // no volume: the link is cleared
      {"\\\\srv\\vol\\", "\\Desktop", "\\\\srv\\vol\\\\Desktop"},
  };
  MSIHANDLE h = Open();
  for (const Case& c : cases) {
    SetProp(h, "WindowsVolume", c.volume);
    SetProp(h, kDesktopLink, c.link);
    viduzo::SetModuleFolderProperties(h);
    EXPECT_EQ(GetProp(h, kDesktopLink), c.expected) << c.volume << " + " << c.link;
  }
}

TEST_F(SystemStateTest, UnreachableHiveSelectsTheDefaultUser) {
  MSIHANDLE h = Open();
  SetProp(h, "UserSID", ".DEFAULT");  // always present under HKEY_USERS
  SetProp(h, kCurrentUser, "start");
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kCurrentUser), "start");
  SetProp(h, "UserSID", "X");  // one character is a SID to look up
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kCurrentUser), "DefaultUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60");
  SetProp(h, kCurrentUser, "start");
  SetProp(h, "UserSID", "");  // no SID: nothing looked up, nothing written
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kCurrentUser), "start");
  SetProp(h, "UserSID", "S-1-5-21-1111111111-2222222222-3333333333-4321");
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kCurrentUser), "DefaultUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60");
}

// The client configuration file, planted in the install folder (or in the
// pass-through client's folder).
struct ConfigCase {
  const char* title;
  bool inPassThrough;
  std::vector<std::pair<const char*, std::string>> keys;
  const char* size;  // null: the default size of a cache folder on no disk, 30000000
  std::string bitmap;
  std::string cache;    // Cache... afterwards
  std::string logFile;  // null-like "<default>": the install folder's znclient.log
  std::string logFile32;
};

TEST_F(SystemStateTest, ConfigurationFileSettingsAndDefaults) {
  const std::string longPath = "C:\\" + std::string(297, 'p');
  const ConfigCase cases[] = {
      {"all set",
       false,
       {{"PersistentCacheSize", "5000000"},
        {"PersistentCacheMinBitmap", "4096"},
        {"PersistentCachePath", "D:\\Cache"},
        {"LogFile", "\\\\server\\logs\\zn.log"},
        {"LogFileWin32", "E:\\zn32.log"}},
       "5000000", "4096", "D:\\Cache", "\\\\server\\logs\\zn.log", "E:\\zn32.log"},
      {"digits then letters kept, zero and letters replaced",
       false,
       {{"PersistentCacheSize", " 12ab"}, {"PersistentCacheMinBitmap", "0"}},
       "12ab", "8192", "<cache>", "<default>", ""},
      {"letters only", false, {{"PersistentCacheSize", "abc"}}, nullptr, "8192", "<cache>",
       "<default>", ""},
      {"zero", false, {{"PersistentCacheSize", "0"}, {"PersistentCacheMinBitmap", " -0x"}},
       nullptr, "8192", "<cache>", "<default>", ""},
      {"signed and blank-led numbers kept", false,
       {{"PersistentCacheSize", "-5"}, {"PersistentCacheMinBitmap", "+07"}}, "-5", "+07",
       "<cache>", "<default>", ""},
      {"refused paths change nothing",
       false,
       {{"PersistentCachePath", "relative\\cache"},
        {"LogFile", "x"},  // one character: nothing set, and no default either
        {"LogFileWin32", "\\\\9server\\log"}},
       nullptr, "8192", "<cache>", "<unset>", "<unset>"},
      {"forbidden characters refused",
       false,
       {{"PersistentCachePath", "C:\\ca|che"}, {"LogFile", "C:\\log?.txt"}},
       nullptr, "8192", "<cache>", "<unset>", ""},
      {"values cut at 255", false, {{"PersistentCachePath", longPath}}, nullptr, "8192",
       longPath.substr(0, 255), "<default>", ""},
      {"from the pass-through folder", true, {{"PersistentCacheSize", "777"}}, "777", "8192",
       "<cache>", "<default>", ""},
      {"no file", false, {}, nullptr, "8192", "<cache>", "<default>", ""},
      {"a letter before the digits: no number", false, {{"PersistentCacheSize", "X12"}},
       nullptr, "8192", "<cache>", "<default>", ""},
      {"every digit counts", false,
       {{"PersistentCacheSize", "90"}, {"PersistentCacheMinBitmap", "09"}}, "90", "09",
       "<cache>", "<default>", ""},
      {"network paths: two backslashes, then a letter from a to z or A to Z", false,
       {{"PersistentCachePath", "\\\\a"}, {"LogFile", "\\\\z\\l"}, {"LogFileWin32", "\\\\A\\w"}},
       nullptr, "8192", "\\\\a", "\\\\z\\l", "\\\\A\\w"},
      {"network paths: Z taken, @ and [ refused", false,
       {{"PersistentCachePath", "\\\\Z\\c"}, {"LogFile", "\\\\@\\l"}, {"LogFileWin32", "\\\\[\\w"}},
       nullptr, "8192", "\\\\Z\\c", "<unset>", "<unset>"},
      {"network paths: ` and { refused, one backslash refused", false,
       {{"PersistentCachePath", "\\\\`c"}, {"LogFile", "\\\\{l"}, {"LogFileWin32", "\\xyz"}},
       nullptr, "8192", "<cache>", "<unset>", "<unset>"},
      {"a backslash second is no network path", false, {{"LogFile", "x\\yz"}}, nullptr, "8192",
       "<cache>", "<unset>", ""},
  };
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.title);
    Package p;
    MSIHANDLE h = p.Open();
    const std::string install = TempFolder("qva");
    const std::string passThrough = TempFolder("pt");
    const std::string cache = "Q:\\nowhere\\cache\\";  // on no disk
    SetProp(h, "HlType", "MSI_ALL");
    SetProp(h, "UserSID", "");
    SetProp(h, "CLIENT_NAME", "CLIENT01");
    SetProp(h, kLauncherPf, "Hublane");
    SetProp(h, kAgentPf, "Agent");
    SetProp(h, kCore, install);
    SetProp(h, kPassThrough, passThrough);
    SetProp(h, kCache, cache);
    SetProp(h, kLogFile, "<unset>");
    SetProp(h, kLogFile32, "<unset>");
    const std::string ini = (c.inPassThrough ? passThrough : install) + "HOSTCFG.INI";
    for (const auto& [key, value] : c.keys)
      ASSERT_TRUE(WritePrivateProfileStringA("ZNClient", key, value.c_str(), ini.c_str()));

    EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
    EXPECT_EQ(GetProp(h, kCacheSize), c.size ? c.size : "30000000");
    EXPECT_EQ(GetProp(h, kCacheBmp), c.bitmap);
    EXPECT_EQ(GetProp(h, kCache), c.cache == "<cache>" ? cache : c.cache);
    EXPECT_EQ(GetProp(h, kLogFile),
              c.logFile == "<default>" ? install + "znclient.log" : c.logFile);
    // The default 32-bit log names an installed file; this package has none.
    EXPECT_EQ(GetProp(h, kLogFile32), c.logFile32);
    EXPECT_EQ(GetProp(h, kError), "");
  }
}

TEST_F(SystemStateTest, UnreadableDecidingPropertiesEndTheAction) {
  // A value that does not fit the 256-character buffer cannot be read.
  const std::string tooLong(256, 'x');
  pkg.Table("Directory");
  MSIHANDLE h = Open();
  const char* kPfError = "ErrorPFNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  // A refused program folder name shows whether validation ran.
  SetProp(h, kLauncherPf, "bad/pf");
  for (const char* name : {"", "UserSID", "HlType"}) {
    SCOPED_TRACE(name);
    SetProp(h, "UserSID", "");
    SetProp(h, "HlType", "MSI_ALL");
    if (*name) SetProp(h, name, tooLong);
    SetProp(h, kError, "untouched");
    EXPECT_EQ(CallAction(h, "GetSystemState"), *name ? 1603u : 0u);
    EXPECT_EQ(GetProp(h, kError), *name ? "untouched" : kPfError);
  }
  const struct {
    const char* adminUser;
    const char* privileged;
    const char* enableTrov;
    UINT result;
  } cases[] = {
      {"1", "", "Yes", 0},                          // every read succeeds
      {tooLong.c_str(), "1", "Yes", 1603},
      {"", tooLong.c_str(), "Yes", 1603},
      {"1", tooLong.c_str(), "Yes", 0},             // Privileged not read
      {"1", "", tooLong.c_str(), 1603},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.adminUser).substr(0, 5) + "/" + std::string(c.privileged).substr(0, 5) +
                 "/" + std::string(c.enableTrov).substr(0, 5));
    SetProp(h, "AdminUser", c.adminUser);
    SetProp(h, "Privileged", c.privileged);
    SetProp(h, "ENABLE_TROV", c.enableTrov);
    SetProp(h, kEnableTrovFiles, "start");
    EXPECT_EQ(CallAction(h, "SystemStateBetweenCostFinalize"), c.result);
    EXPECT_EQ(GetProp(h, kEnableTrovFiles), "start");
  }
#ifndef _WIN32
  const auto& run = winsim::ActionsRun();
  EXPECT_EQ(std::count(run.begin(), run.end(), "CostFinalize"), 2) << "only when no read failed";
#endif
}

#ifndef _WIN32
TEST(DefaultCacheSize, DiskSizesAndTheirThirtyTwoBitArithmetic) {
  struct Case {
    unsigned long long total;
    bool failEx;
    bool failOld;
    DWORD expected;
  } cases[] = {
      {1000000000ull, false, false, 30000000u},     // three per cent of 1 GB
      {10ull << 30, false, false, 128849016u},      // above 4 GB: 3 x (4294967295 / 100)
      {1000000000ull, true, true, 30000000u},       // both calls fail: the fixed default
      {2ull << 30, true, false, 64424508u},         // the older call alone, 2 GiB
      {8ull << 30, true, false, 30000000u},         // 8 GiB in 32 bits wraps to 0
      {6ull << 30, true, false, 64424508u},         // 6 GiB wraps to 2 GiB
  };
  for (const Case& c : cases) {
    winsim::ResetDisks();
    winsim::SetDiskSize('C', c.total, c.total / 2);
    if (c.failEx) winsim::FailDiskCall('C', winsim::DiskCall::kFreeSpaceEx, ERROR_ACCESS_DENIED);
    if (c.failOld) winsim::FailDiskCall('C', winsim::DiskCall::kFreeSpace, ERROR_ACCESS_DENIED);
    EXPECT_EQ(viduzo::DefaultCacheSize("C:\\"), c.expected) << c.total;
  }
}

TEST_F(SystemStateTest, LoadedHiveLeavesCurrentUserAlone) {
  MSIHANDLE h = Open();
  const std::string sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
  ASSERT_TRUE(winsim::LoadUserHive(sid));
  SetProp(h, "UserSID", sid);
  SetProp(h, kCurrentUser, "start");
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kCurrentUser), "start");
  ASSERT_TRUE(winsim::UnloadUserHive(sid));
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kCurrentUser), "DefaultUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60");
}
#endif

#ifndef _WIN32
// Reads and writes that fail. A deciding property that cannot be read ends the
// action at once (validation never runs: the error stays "untouched"); a write
// that fails marks the action failed and the rest still runs. The path checks
// and the entry checks share one validation flag, which a check whose property
// cannot be read leaves as the check before left it. The agent's program
// folder name is refused, so that "ran" is the program folder error.
TEST(SystemStateFailures, ReadAndWriteFailuresAndTheSharedValidationFlag) {
  const char* kScratch = "TEMP.71C5A0E8_94D2_4E6B_8A17_F3B25D0C69E4";
  const char* kRestore = "RestorePassThroughKey.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  const char* kInvalidName = "ErrorClientNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  const char* kRan = "ErrorPFNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
  struct Case {
    const char* title;
    const char* failRead;   // property whose reads fail ("" none)
    unsigned readsFirst;    // reads that still succeed before
    const char* failWrite;  // property whose writes fail ("" none)
    std::string cachePath;  // PersistentCachePath in the configuration file
    std::string logFile;    // LogFile in it
    UINT result;
    std::vector<std::pair<const char*, std::string>> after;
    const char* agentPf = "bad/pf";
  } cases[] = {
      {"scratch write fails: the action fails, the path is not taken", "", 0, kScratch,
       "D:\\Cache", "", 1603, {{kCache, "<cache>"}, {kLogFile, "<install>znclient.log"}}},
      {"scratch read fails after a passed check: the flag stays valid", kScratch, 1, "",
       "D:\\Cache", "C:\\log|bad", 0, {{kCache, "D:\\Cache"}, {kLogFile, "C:\\log|bad"}}},
      {"scratch read fails after a refused check: the flag stays invalid", kScratch, 1, "",
       "C:\\ca|che", "D:\\ok.log", 0, {{kCache, "<cache>"}, {kLogFile, "<unset>"}}},
      {"client name unreadable, nothing refused before: no error", "CLIENT_NAME", 0, "", "", "",
       0, {{kError, "untouched"}}, "Agent"},
      {"client name unreadable after a refused path: the invalid-name error", "CLIENT_NAME", 0,
       "", "C:\\ca|che", "", 0, {{kError, kInvalidName}}, "Agent"},
      {"pass-through read fails: failure, and its copy is written empty", kPassThrough, 0, "",
       "", "", 1603, {{kRestore, ""}, {kError, kRan}}},
      {"pass-through copy write fails: failure, the rest runs", "", 0, kRestore, "", "", 1603,
       {{kError, kRan}, {kLogFile, "<install>znclient.log"}}},
      {"default user write fails: the action ends", "", 0, kCurrentUser, "", "", 1603,
       {{kError, "untouched"}, {kCacheSize, "<unset>"}}},
      {"UserSID unreadable: the action ends", "UserSID", 0, "", "", "", 1603,
       {{kError, "untouched"}, {kCurrentUser, "<unset>"}}},
      {"HlType unreadable: the action ends", "HlType", 0, "", "", "", 1603,
       {{kError, "untouched"}, {kCacheSize, "<unset>"}}},
      {"cache folder unreadable: the action ends", kCache, 0, "", "", "", 1603,
       {{kError, "untouched"}, {kCacheSize, "<unset>"}}},
      {"cache size write fails: failure, the rest runs", "", 0, kCacheSize, "", "", 1603,
       {{kCacheBmp, "8192"}, {kError, kRan}}},
      {"bitmap write fails: failure, the rest runs", "", 0, kCacheBmp, "", "", 1603,
       {{kCacheSize, "30000000"}, {kLogFile, "<install>znclient.log"}}},
      {"cache write after a passed check fails: failure, the rest runs", "", 0, kCache,
       "D:\\Cache", "", 1603, {{kLogFile, "<install>znclient.log"}, {kError, kRan}}},
      {"taken log write fails: failure, the rest runs", "", 0, kLogFile, "", "D:\\ok.log", 1603,
       {{kLogFile32, ""}, {kError, kRan}}},
      {"default log write fails: the action ends", "", 0, kLogFile, "", "", 1603,
       {{kError, "untouched"}, {kLogFile32, "<unset>"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    Package p;
    MSIHANDLE h = p.Open();
    const std::string install = TempFolder("qva");
    // A cache folder on no disk: the default size is the fixed 30000000.
    const std::string cache = "Q:\\nowhere\\cache\\";
    SetProp(h, "HlType", "MSI_ALL");
    SetProp(h, "UserSID", "S-1-5-21-1-2-3-999");  // no such hive
    SetProp(h, "CLIENT_NAME", "CLIENT01");
    SetProp(h, kLauncherPf, "Hublane");
    SetProp(h, kAgentPf, c.agentPf);
    SetProp(h, kCore, install);
    SetProp(h, kCache, cache);
    for (const char* name : {kLogFile, kLogFile32, kCacheSize, kCacheBmp, kCurrentUser})
      SetProp(h, name, "<unset>");
    SetProp(h, kError, "untouched");
    const std::string ini = install + "HOSTCFG.INI";
    if (!c.cachePath.empty())
      WritePrivateProfileStringA("ZNClient", "PersistentCachePath", c.cachePath.c_str(), ini.c_str());
    if (!c.logFile.empty())
      WritePrivateProfileStringA("ZNClient", "LogFile", c.logFile.c_str(), ini.c_str());
    if (*c.failRead) winsim::FailPropertyRead(c.failRead, c.readsFirst);
    if (*c.failWrite) winsim::FailPropertyWrite(c.failWrite);

    EXPECT_EQ(CallAction(h, "GetSystemState"), c.result);
    winsim::ResetSession();
    for (const auto& [name, value] : c.after) {
      std::string expected = value == "<cache>" ? cache : value;
      if (expected.rfind("<install>", 0) == 0) expected = install + expected.substr(9);
      EXPECT_EQ(GetProp(h, name), expected) << name;
    }
  }
}
#endif

TEST_F(SystemStateTest, PrivateDirectoryPropertiesCleared) {
  pkg.Table("Directory");
  const struct {
    const char* key;
    const char* parent;  // "" for the root
    const char* defaultDir;
    bool cleared;
  } rows[] = {
      {"TARGETDIR", "", "SourceDir", false},
      {"VelmarDir", "TARGETDIR", "Velmar", false},  // the parent is the root
      {"RelativeDir", "VelmarDir", ".:Sub", false},
      {"DotDir", "VelmarDir", ".:", true},
      {"AppDir", "VelmarDir", ".:APPLIC~1|Application", true},
      {"PlainDir", "VelmarDir", "Plain", true},
      {"PUBLICDIR", "VelmarDir", "Public", false},
      {"pUBLICDIR", "VelmarDir", "Public", true},  // one lower-case letter is enough
      {"Lower_DIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", "VelmarDir", "Scoped", true},
      {"NoParent", "", "Top", false},
      {"CaseDir", "TargetDir", "Case", true},  // only "TARGETDIR" exactly is the root
  };
  for (const auto& r : rows) {
    std::string parent = *r.parent ? std::string("'") + r.parent + "'" : "''";
    pkg.Sql(std::string("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) "
                        "VALUES ('") +
            r.key + "', " + parent + ", '" + r.defaultDir + "')");
  }
  MSIHANDLE h = Open();
  for (const auto& r : rows) SetProp(h, r.key, "C:\\Some\\Folder\\");
  EXPECT_EQ(viduzo::ClearPrivateDirectoryProperties(h), 0u);
  for (const auto& r : rows)
    EXPECT_EQ(GetProp(h, r.key), r.cleared ? "" : "C:\\Some\\Folder\\") << r.key;
  // Without an install session there is no database to walk.
  EXPECT_EQ(viduzo::ClearPrivateDirectoryProperties(0), 1603u);
}

// A row whose field does not fit 255 characters fails the walk, which still
// goes on with the next rows.
TEST(PrivateDirectories, UnreadableRowFailsTheWalkThatGoesOn) {
  Package pkg;
  pkg.Table("Directory");
  pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
          "('ALong', 'Parent', '" + std::string(300, 'd') + "')");
  pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
          "('BPlain', 'Parent', 'Plain')");
  MSIHANDLE h = pkg.Open();
  SetProp(h, "ALong", "C:\\A\\");
  SetProp(h, "BPlain", "C:\\B\\");
  EXPECT_EQ(viduzo::ClearPrivateDirectoryProperties(h), 1603u);
  EXPECT_EQ(GetProp(h, "ALong"), "C:\\A\\");
  EXPECT_EQ(GetProp(h, "BPlain"), "");
#ifndef _WIN32
  // A property that cannot be cleared fails the walk too.
  SetProp(h, "BPlain", "C:\\B\\");
  winsim::FailPropertyWrite("BPlain");
  EXPECT_EQ(viduzo::ClearPrivateDirectoryProperties(h), 1603u);
  EXPECT_EQ(GetProp(h, "BPlain"), "C:\\B\\");
#endif
}

#ifndef _WIN32
// SetModuleFolderProperties: 1 when every step succeeded, 0 otherwise; a failed
// read of the core folder, the program-menu folder or the desktop link stops
// it, anything else lowers the result and it goes on.
TEST(ModuleFolders, ResultAndStopsOnFailures) {
  const char* kLauncherMenu = "PFNAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
  const char* kAgentMenu = "PFNAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
  const char* kAgentAlias = "PFName.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
  struct Case {
    const char* title;
    const char* failRead;
    unsigned readsFirst;
    const char* failWrite;
    int result;
    // launcher folder, launcher menu path, agent menu path, desktop link afterwards
    const char* launcher;
    const char* launcherMenu;
    const char* agentMenu;
    const char* link;
  } cases[] = {
      {"every step", "", 0, "", 1, "C:\\Core\\", "C:\\Menu\\H", "C:\\Menu\\Agent",
       "C:\\Desk"},
      {"core folder unreadable: stop", kCore, 0, "", 0, "D:\\Old\\", "-", "-", "\\Desk"},
      {"module folder unreadable: go on", kLauncher, 0, "", 0, "D:\\Old\\", "C:\\Menu\\H",
       "C:\\Menu\\Agent", "C:\\Desk"},
      {"module folder unwritable: go on", "", 0, kLauncher, 0, "D:\\Old\\", "C:\\Menu\\H",
       "C:\\Menu\\Agent", "C:\\Desk"},
      {"program menu unreadable: stop", "ProgramMenuFolder", 0, "", 0, "C:\\Core\\", "-", "-",
       "\\Desk"},
      {"program menu unreadable the second time: stop", "ProgramMenuFolder", 1, "", 0,
       "C:\\Core\\", "C:\\Menu\\H", "-", "\\Desk"},
      {"launcher folder name unreadable: go on", kLauncherPf, 0, "", 0, "C:\\Core\\", "-",
       "C:\\Menu\\Agent", "C:\\Desk"},
      {"launcher menu path unwritable: go on", "", 0, kLauncherMenu, 0, "C:\\Core\\", "-",
       "C:\\Menu\\Agent", "C:\\Desk"},
      {"agent alias unwritable: go on", "", 0, kAgentAlias, 0, "C:\\Core\\", "C:\\Menu\\H",
       "C:\\Menu\\Agent", "C:\\Desk"},
      {"desktop link unreadable: stop", kDesktopLink, 0, "", 0, "C:\\Core\\", "C:\\Menu\\H",
       "C:\\Menu\\Agent", "\\Desk"},
      {"desktop link unwritable", "", 0, kDesktopLink, 0, "C:\\Core\\", "C:\\Menu\\H",
       "C:\\Menu\\Agent", "\\Desk"},
      {"volume unreadable: the link is cleared", "WindowsVolume", 0, "", 1, "C:\\Core\\",
       "C:\\Menu\\H", "C:\\Menu\\Agent", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    winsim::ResetSession();
    Package pkg;
    MSIHANDLE h = pkg.Open();
    SetProp(h, kCore, "C:\\Core\\");
    SetProp(h, kLauncher, "D:\\Old\\");
    SetProp(h, "ProgramMenuFolder", "C:\\Menu\\");
    SetProp(h, kLauncherPf, "H");  // one character is a name
    SetProp(h, kAgentPf, "Agent");
    SetProp(h, kDesktopLink, "\\Desk");
    SetProp(h, "WindowsVolume", "C:\\");
    for (const char* name : {kLauncherMenu, kAgentMenu, kAgentAlias}) SetProp(h, name, "-");
    if (*c.failRead) winsim::FailPropertyRead(c.failRead, c.readsFirst);
    if (*c.failWrite) winsim::FailPropertyWrite(c.failWrite);
    EXPECT_EQ(viduzo::SetModuleFolderProperties(h), c.result);
    winsim::ResetSession();
    EXPECT_EQ(GetProp(h, kLauncher), c.launcher);
    EXPECT_EQ(GetProp(h, kLauncherMenu), c.launcherMenu);
    EXPECT_EQ(GetProp(h, kAgentMenu), c.agentMenu);
    EXPECT_EQ(GetProp(h, kDesktopLink), c.link);
  }
  // An empty program folder name leaves its menu path alone: no failure.
  Package pkg;
  MSIHANDLE h = pkg.Open();
  SetProp(h, kCore, "C:\\Core\\");
  SetProp(h, "ProgramMenuFolder", "C:\\Menu\\");
  SetProp(h, kAgentPf, "");
  SetProp(h, kAgentMenu, "-");
  EXPECT_EQ(viduzo::SetModuleFolderProperties(h), 1);
  EXPECT_EQ(GetProp(h, kAgentMenu), "-");
}
#endif

// A cache folder of one character is a folder: the configuration is read.
TEST_F(SystemStateTest, OneCharacterCacheFolder) {
  MSIHANDLE h = Open();
  SetProp(h, kCache, "Q");
  SetProp(h, kCacheBmp, "<unset>");
  EXPECT_EQ(CallAction(h, "GetSystemState"), 0u);
  EXPECT_EQ(GetProp(h, kCacheBmp), "8192");
}

TEST_F(SystemStateTest, BetweenCostFinalizeDecidesSingleSignOn) {
  struct Case {
    const char* adminUser;
    const char* privileged;
    const char* enableTrov;
    const char* trovAfter;
    const char* filesAfter;
  } cases[] = {
      {"1", "", "Yes", "Yes", ""},
      {"", "1", "yes", "yes", ""},
      {"", "", "Yes", "No", "No"},  // no administrative rights: switched off
      {"1", "1", "", "", "No"},
      {"1", "1", "No", "No", "No"},
  };
  // Without a Directory table the private folders cannot be walked: 1603, but
  // every other step still runs.
  MSIHANDLE h = Open();
  SetProp(h, kLauncher, "D:\\Old\\");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.adminUser) + "/" + c.privileged + "/" + c.enableTrov);
    SetProp(h, "AdminUser", c.adminUser);
    SetProp(h, "Privileged", c.privileged);
    SetProp(h, "ENABLE_TROV", c.enableTrov);
    SetProp(h, kEnableTrovFiles, "");
    EXPECT_EQ(CallAction(h, "SystemStateBetweenCostFinalize"), 1603u);
    EXPECT_EQ(GetProp(h, "ENABLE_TROV"), c.trovAfter);
    EXPECT_EQ(GetProp(h, kEnableTrovFiles), c.filesAfter);
    EXPECT_EQ(GetProp(h, kLauncher), GetProp(h, kCore)) << "module folders aligned first";
  }
#ifndef _WIN32
  const auto& run = winsim::ActionsRun();
  EXPECT_EQ(std::count(run.begin(), run.end(), "CostFinalize"), 5);
#endif
}

}  // namespace
