// Every action with each of its heap allocations failing in turn: no crash, no
// handle or block left behind (the sanitizers check the blocks at exit), and a
// failure result where the action's own work was cut short. Native only: only
// winsim can make one allocation fail.
#ifndef _WIN32
#include <set>
#include <string>

#include "runtime/text.h"
#include "tests/fixture.h"
#include "tests/pe_image.h"
#include "winsim/control.h"

using namespace viduzo_test;

namespace {

const char kCore[] = "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kCache[] = "Cache.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

// A package on which every action has work to do: tree rows over a tree of two
// levels of 250-character folder names (so that both path buffers must grow), a
// configuration file, client entries, and the package's error action.
struct ActionPackage {
  Package pkg;
  MSIHANDLE h = 0;
  ActionPackage(const std::string& old, const std::string& target, const std::string& flat,
                const std::string& install) {
    pkg.Table("Directory").Table("RemoveFile").Table("MoveFile").Table("CustomAction");
    pkg.Table("VmrRemoveFileTree").Table("VmrMoveFileTree");
    pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
            "('TARGETDIR', '', 'SourceDir')");
    pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
            "('OLDDIR', 'TARGETDIR', 'Old')");
    pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
            "('PrivateDir', 'OLDDIR', 'Private')");
    pkg.Sql("INSERT INTO `VmrRemoveFileTree` (`Tree`, `Component_`, `Root`, `Mode`, "
            "`DirCondition`, `FileCondition`) VALUES ('T', 'Old', 'OLDDIR', 3, '', '')");
    pkg.Sql("INSERT INTO `VmrMoveFileTree` (`Tree`, `Component_`, `SourceRoot`, `DestRoot`, "
            "`Options`, `DirCondition`, `FileCondition`) VALUES ('M', 'Tree', 'OLDDIR', "
            "'NEWDIR', 1, '', '')");
    pkg.Sql("INSERT INTO `VmrMoveFileTree` (`Tree`, `Component_`, `SourceRoot`, `DestRoot`, "
            "`Options`, `DirCondition`, `FileCondition`) VALUES ('M2', 'Flat', 'FLATDIR', "
            "'NEWDIR', 1, '', 'c VmrCoreMoveFileFile >< \".\"')");
    pkg.Sql("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
            "('ValidationFailed.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60', 51, 'SHOWN', 'x')");
    h = pkg.Open();
    SetProp(h, "OLDDIR", old);
    SetProp(h, "NEWDIR", target);
    SetProp(h, "FLATDIR", flat);
    SetProp(h, "CLIENT_NAME", "bad.name");
    SetProp(h, "ENABLE_DYNAMIC_CLIENT_NAME", "Yes");
    SetProp(h, kCore, install);
    SetProp(h, kCache, install);
    // Every entry is refused, so that validation, whenever it runs, names an error.
    SetProp(h, "PROGRAM_FOLDER_NAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7", "bad/pf");
    SetProp(h, "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4", "bad/pf");
    SetProp(h, "ValidationError.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", "untouched");
    SetProp(h, "DESKTOPLINK.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7", "\\Desktop\\");
    SetProp(h, "ProgramMenuFolder", "C:\\Menu\\");
    SetProp(h, "UserSID", "S-1-5-21-1-2-3-4");
  }
};

TEST(AllocationFailure, EveryAllocationOfEveryActionFailsCleanly) {
  const std::string old = TempFolder("deep");
  const std::string level1 = old + std::string(250, 'a') + "\\";
  const std::string level2 = level1 + std::string(250, 'b') + "\\";
  PlantFile(level2 + "inner.txt", "i");
  WriteFile(old + "top.txt", "t");
  const std::string target = TempFolder("deeptarget");
  // A folder whose files the move row picks one by one: a versioned image, and
  // a file with a time stamp to record.
  const std::string flat = TempFolder("flat");
  WriteFile(flat + "v.dll", Image(true, 16, 1, 0x409, VersionResource(0x00010002, 3, 0)));
  WriteFile(flat + "t.txt", "t");
  {
    HANDLE file = CreateFileA((flat + "t.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    FILETIME created{100, 30000000}, written{300, 30000001};
    ASSERT_TRUE(SetFileTime(file, &created, nullptr, &written));
    CloseHandle(file);
  }
  const std::string install = TempFolder("install");
  ASSERT_TRUE(WritePrivateProfileStringA("ZNClient", "PersistentCachePath", "D:\\Cache",
                                         (install + "HOSTCFG.INI").c_str()));

  // What each action may answer when one of its allocations fails. A tree row
  // whose walk could not grow its path fails; a move row whose root cannot be
  // read is skipped quietly, so that with 0 each move row has written all its
  // rows (a wildcard row for each of the three folders; the two files) or none.
  const struct {
    const char* action;
    std::set<UINT> results;
  } actions[] = {
      {"HideCancelButton", {0}},
      {"GetQVAClientName", {0}},
      {"ValidateClientName", {0}},
      {"ValidateClientName2", {0, 1603}},
      {"ValidateClientPath", {0}},
      {"ValidateProgramFolder", {0}},
      {"ValidateProgramFolderHLA", {0}},
      {"GetSystemState", {0, 1603}},
      {"SystemStateBetweenCostFinalize", {0, 1603}},
      {"RemoveFileTree", {1603}},
      {"MoveFileTree", {0, 1603}},
  };
  for (const auto& a : actions) {
    unsigned n = 0;
    for (;; ++n) {
      SCOPED_TRACE(std::string(a.action) + " with allocation " + std::to_string(n) + " failing");
      ActionPackage p(old, target, flat, install);
      winsim::FailHeapAllocation(n);
      UINT result = CallAction(p.h, a.action);
      bool reached = !winsim::HeapFailurePending();
      winsim::ResetHeapFailure();
      if (!reached) break;
      EXPECT_EQ(a.results.count(result), 1u) << "result " << result;
      // GetSystemState ends early (before validating) exactly when it fails for
      // a step it cannot do without, such as resolving the configuration file.
      if (std::string(a.action) == "GetSystemState" && result == 0) {
        EXPECT_NE(GetProp(p.h, "ValidationError.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60"),
                  "untouched");
      }
      if (std::string(a.action) == "MoveFileTree" && result == 0) {
        std::size_t tree =
            QueryRows(p.h, "SELECT `FileKey` FROM `MoveFile` WHERE `Component_` = 'Tree'").size();
        std::size_t files =
            QueryRows(p.h, "SELECT `FileKey` FROM `MoveFile` WHERE `Component_` = 'Flat'").size();
        EXPECT_TRUE(tree == 0 || tree == 3) << tree;
        EXPECT_TRUE(files == 0 || files == 2) << files;
      }
    }
    // The tree walks allocate for the root and for the first level's longer
    // path; the second level lies past MAX_PATH, where listing fails as it
    // does on Windows.
    if (std::string(a.action) == "RemoveFileTree" || std::string(a.action) == "MoveFileTree") {
      EXPECT_GE(n, 2u) << a.action;
    }
  }
}

// A routine that cannot allocate reports false: a text it cannot copy to
// compare is not taken for all upper case.
TEST(AllocationFailure, UpperCaseTestWithoutItsCopy) {
  winsim::FailHeapAllocation(0);
  EXPECT_FALSE(viduzo::IsAllUpper("ROOTPROP"));
  EXPECT_TRUE(viduzo::IsAllUpper("ROOTPROP"));
}

}  // namespace
#endif
