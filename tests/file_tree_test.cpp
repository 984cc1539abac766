// Directory trees planted on disk, scheduled for removal and moving through the
// package's tree tables.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "files/file_tree.h"
#include "tests/fixture.h"
#include "tests/pe_image.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kSuffix[] = ".E06D3B94_1A58_4C7E_B3F2_6D9A04C85E13";

// The counter of a generated key ("RM_FILE_12.<suffix>" gives 12), -1 for others.
long KeyNumber(const std::string& key) {
  std::size_t underscore = key.rfind('_', key.find('.'));
  std::size_t dot = key.find('.');
  if (dot == std::string::npos || key.substr(dot) != kSuffix) return -1;
  return std::strtol(key.c_str() + underscore + 1, nullptr, 10);
}

// Rewrites generated keys relative to the lowest one seen, so that a test can
// state its rows as "K0", "K1", ... whatever the process-wide counter was.
struct KeyNames {
  long base = -1;
  void See(const Rows& rows) {
    for (const auto& row : rows)
      for (const auto& field : row) {
        long n = KeyNumber(field);
        if (n >= 0 && (base < 0 || n < base)) base = n;
      }
  }
  Rows Rename(Rows rows) const {
    for (auto& row : rows)
      for (auto& field : row) {
        long n = KeyNumber(field);
        if (n >= 0) field = "K" + std::to_string(n - base);
      }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  std::string Key(const std::string& prefix, long k) const {
    return prefix + std::to_string(base + k) + kSuffix;
  }
};

// The standard file tables and the two tree tables, with OLDDIR and NEWDIR.
void CreateTables(Package& pkg) {
  pkg.Table("Directory").Table("RemoveFile").Table("MoveFile");
    pkg.Sql("CREATE TABLE `VmrRemoveFileTree` (`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) "
            "NOT NULL, `Root` CHAR(72) NOT NULL, `Mode` SHORT, `DirCondition` CHAR(255), "
            "`FileCondition` CHAR(255) PRIMARY KEY `Tree`)");
    pkg.Sql("CREATE TABLE `VmrMoveFileTree` (`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT "
            "NULL, `SourceRoot` CHAR(72) NOT NULL, `DestRoot` CHAR(72) NOT NULL, `Options` SHORT, "
            "`DirCondition` CHAR(255), `FileCondition` CHAR(255) PRIMARY KEY `Tree`)");
    pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
            "('TARGETDIR', '', 'SourceDir')");
    pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
            "('OLDDIR', 'TARGETDIR', 'Old')");
    pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
            "('NEWDIR', 'TARGETDIR', 'New')");
}

// A removal row; mode -1 leaves the column null.
void RemoveRow(Package& pkg, const std::string& tree, int mode,
               const std::string& dirCondition = "", const std::string& fileCondition = "",
               const std::string& root = "OLDDIR") {
  pkg.Sql("INSERT INTO `VmrRemoveFileTree` (`Tree`, `Component_`, `Root`, `Mode`, "
          "`DirCondition`, `FileCondition`) VALUES ('" + tree + "', 'OldFiles', '" + root +
          "', " + (mode < 0 ? std::string("NULL") : std::to_string(mode)) + ", '" +
          dirCondition + "', '" + fileCondition + "')");
}

void MoveRow(Package& pkg, const std::string& tree, int options,
             const std::string& fileCondition = "") {
  pkg.Sql("INSERT INTO `VmrMoveFileTree` (`Tree`, `Component_`, `SourceRoot`, `DestRoot`, "
          "`Options`, `DirCondition`, `FileCondition`) VALUES ('" + tree +
          "', 'NewFiles', 'OLDDIR', 'NEWDIR', " + std::to_string(options) + ", '', '" +
          fileCondition + "')");
}

// Plants a\x and a\b\y below a fresh folder; returns the path of a\.
std::string PlantTree() {
  std::string a = TempFolder("tree");
  WriteFile(a + "x", "x");
  CreateDirectoryA((a + "b").c_str(), nullptr);
  WriteFile(a + "b\\y", "y");
  return a;
}

Rows Removals(MSIHANDLE h) {
  return QueryRows(h, "SELECT `FileKey`, `Component_`, `FileName`, `DirProperty`, "
                      "`InstallMode` FROM `RemoveFile`");
}
Rows Directories(MSIHANDLE h) {
  return QueryRows(h, "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory` "
                      "WHERE `DefaultDir` = '.'");
}
Rows Moves(MSIHANDLE h) {
  return QueryRows(h, "SELECT `FileKey`, `Component_`, `SourceName`, `DestName`, "
                      "`SourceFolder`, `DestFolder`, `Options` FROM `MoveFile`");
}

class FileTreeTest : public ::testing::Test {
 protected:
  FileTreeTest() { CreateTables(pkg); }

  Package pkg;
};

TEST_F(FileTreeTest, RemovalOfATreeWritesWildcardAndFolderRows) {
  RemoveRow(pkg, "T1", -1);  // null mode: on install and removal
  MSIHANDLE h = pkg.Open();
  const std::string a = PlantTree();
  SetProp(h, "OLDDIR", a);
  EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);

  KeyNames keys;
  Rows removals = Removals(h);
  keys.See(removals);
  EXPECT_EQ(keys.Rename(removals), (Rows{{"K0", "OldFiles", "*", "K0", "3"},
                                        {"K1", "OldFiles", "*", "K1", "3"},
                                        {"K2", "OldFiles", "", "K1", "3"},
                                        {"K3", "OldFiles", "", "K0", "3"}}));
  EXPECT_EQ(keys.Rename(Directories(h)), (Rows{{"K0", "OLDDIR", "."}, {"K1", "OLDDIR", "."}}));
  EXPECT_EQ(GetProp(h, keys.Key("RM_FILE_", 0)), a);
  EXPECT_EQ(GetProp(h, keys.Key("RM_FILE_", 1)), a + "b\\");
  EXPECT_EQ(GetProp(h, "VmrCoreRemoveFileDirectory"), a + "b\\");
}

TEST_F(FileTreeTest, RemovalModes) {
  struct Case {
    const char* title;
    int mode;
    const char* fileCondition;
    bool singleFile;  // the root names a\x rather than a\ .
    bool flat;        // a\x and a\z only, so that keys do not depend on listing order
    Rows removals;
    int directories;
  } cases[] = {
      {"keep folders, no condition: no rows but the walk", 16 | 1, "", false, false, {}, 2},
      {"install mode only", 1, "", false, false,
       {{"K0", "OldFiles", "*", "K0", "1"}, {"K1", "OldFiles", "*", "K1", "1"},
        {"K2", "OldFiles", "", "K1", "1"}, {"K3", "OldFiles", "", "K0", "1"}}, 2},
      {"file condition picks y", 2, "c VmrCoreRemoveFileFile = \"y\"", false, false,
       {{"K2", "OldFiles", "y", "K1", "2"}, {"K3", "OldFiles", "", "K1", "2"},
        {"K4", "OldFiles", "", "K0", "2"}}, 2},
      {"file condition with keep folders", 16 | 3, "C VmrCoreRemoveFileFile >< \"x\"", false,
       true, {{"K1", "OldFiles", "x", "K0", "3"}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    Package p;
    CreateTables(p);
    RemoveRow(p, "T", c.mode, "", c.fileCondition);
    MSIHANDLE h = p.Open();
    std::string a;
    if (c.flat) {
      a = TempFolder("flat");
      WriteFile(a + "x", "x");
      WriteFile(a + "z", "z");
    } else {
      a = PlantTree();
    }
    SetProp(h, "OLDDIR", c.singleFile ? a + "x" : a);
    EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);
    KeyNames keys;
    keys.See(Directories(h));
    EXPECT_EQ(keys.Rename(Removals(h)), c.removals);
    EXPECT_EQ(Directories(h).size(), static_cast<std::size_t>(c.directories));
    if (c.singleFile) {
      EXPECT_EQ(GetProp(h, keys.Key("RM_FILE_", 0)), a);
    }
  }
}

// A root without a trailing backslash names one file, whatever the length or
// the characters of its name: both walks schedule that file under its whole
// name, with the folder in the generated key's property.
TEST(FileTreeSingleFile, RootNamingOneFileUsesItsWholeName) {
  const struct {
    const char* title;
    std::string name;
    std::string fileCondition;
  } cases[] = {
      {"short name", "x.log", ""},
      {"a name of 300 characters", std::string(296, 'n') + ".log", ""},
      {"picked by the file condition", "keep.log", "c VmrCoreRemoveFileFile = \"keep.log\" OR "
                                                   "VmrCoreMoveFileFile = \"keep.log\""},
      {"refused by the file condition", "drop.log", "c VmrCoreRemoveFileFile = \"keep.log\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    Package p;
    CreateTables(p);
    RemoveRow(p, "T", 3, "", c.fileCondition);
    MoveRow(p, "M", 1, c.fileCondition);
    MSIHANDLE h = p.Open();
    const std::string folder = TempFolder("single");
    const std::string target = TempFolder("singletarget");
    SetProp(h, "OLDDIR", folder + c.name);
    SetProp(h, "NEWDIR", target);
    EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);
    EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
    const bool picked = std::string(c.title) != "refused by the file condition";
    Rows removals = QueryRows(h, "SELECT `FileName`, `InstallMode` FROM `RemoveFile`");
    Rows moves = QueryRows(h, "SELECT `SourceName`, `DestName`, `Options` FROM `MoveFile`");
    EXPECT_EQ(removals, picked ? (Rows{{c.name, "3"}}) : Rows());
    EXPECT_EQ(moves, picked ? (Rows{{c.name, "", "1"}}) : Rows());
    EXPECT_EQ(GetProp(h, "VmrCoreRemoveFileFile"), c.name);
    EXPECT_EQ(GetProp(h, "VmrCoreMoveFileFile"), c.name);
    // The row's key names the folder: the file's key for removal, the source
    // key for moving.
    for (const auto& [sql, prefix] :
         {std::pair{"SELECT `FileKey`, `DirProperty` FROM `RemoveFile`", "RM"},
          std::pair{"SELECT `FileKey`, `SourceFolder` FROM `MoveFile`", "MV"}}) {
      for (const auto& row : QueryRows(h, sql)) {
        EXPECT_EQ(row[0], row[1]) << prefix;
        EXPECT_EQ(GetProp(h, row[0]), folder) << prefix;
      }
    }
  }
}

// The 8.3 name the file system gave a file ("" when it has none).
std::string ShortName(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path.c_str(), &data);
  EXPECT_NE(find, INVALID_HANDLE_VALUE) << path;
  if (find == INVALID_HANDLE_VALUE) return "";
  FindClose(find);
  return data.cAlternateFileName;
}

// Files picked by their long or short name. Removal retries a refused long name
// with a differing short name; moving asks a differing short name to pass as
// well. Removal writes "SHORT|long" whenever a short name exists, moving only
// for a differing one.
TEST(FileTreeNames, FilesPickedByLongOrShortName) {
  const std::string a = TempFolder("names");
  WriteFile(a + "Long Name.txt", "l");
  WriteFile(a + "plain.txt", "p");
  const std::string shortName = ShortName(a + "Long Name.txt");
  ASSERT_FALSE(shortName.empty()) << "a long name always has a short one";
  ASSERT_EQ(ShortName(a + "plain.txt"), "");
  const std::string longEntry = shortName + "|Long Name.txt";
#ifndef _WIN32
  // A short name equal to the long one but for case, as NTFS may keep.
  WriteFile(a + "same.txt", "s");
  ASSERT_TRUE(winsim::SetShortName(a + "same.txt", "SAME.TXT"));
  const Rows same = {{"SAME.TXT|same.txt"}};
  const Rows sameMoved = {{"same.txt"}};
#else
  const Rows same, sameMoved;
#endif
  auto plus = [](Rows rows, const Rows& more) {
    rows.insert(rows.end(), more.begin(), more.end());
    std::sort(rows.begin(), rows.end());
    return rows;
  };
  struct Case {
    const char* action;
    int mode;
    std::string condition;
    Rows names;
  } cases[] = {
      {"RemoveFileTree", 3, "c VmrCoreRemoveFileFile >< \".txt\"",
       plus({{"plain.txt"}, {longEntry}}, same)},
      // Picked by its short name alone: retried with the short name.
      {"RemoveFileTree", 3, "c VmrCoreRemoveFileFile = \"" + shortName + "\"", {{longEntry}}},
      // Long names only: no retry.
      {"RemoveFileTree", 3 | 32, "c VmrCoreRemoveFileFile = \"" + shortName + "\"", {}},
      // A short name that differs only in case is never tried.
      {"RemoveFileTree", 3, "c VmrCoreRemoveFileFile = \"SAME.TXT\"", {}},
      // The long name passes but the short one does not: left alone.
      {"MoveFileTree", 0, "c VmrCoreMoveFileFile >< \".txt\"", plus({{"plain.txt"}}, sameMoved)},
      {"MoveFileTree", 0, "c VmrCoreMoveFileFile ~>< \".TXT\"",
       plus({{"plain.txt"}, {longEntry}}, sameMoved)},
      // Picked by the short name alone: moving never retries.
      {"MoveFileTree", 0, "c VmrCoreMoveFileFile = \"" + shortName + "\"", {}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + c.condition);
    Package p;
    CreateTables(p);
    RemoveRow(p, "T", c.mode, "", c.condition);
    MoveRow(p, "M", 0, c.condition);
    MSIHANDLE h = p.Open();
    SetProp(h, "OLDDIR", a);
    SetProp(h, "NEWDIR", TempFolder("target"));
    EXPECT_EQ(CallAction(h, c.action), 0u);
    const bool removal = std::string(c.action) == "RemoveFileTree";
    Rows files = removal ? QueryRows(h, "SELECT `FileName` FROM `RemoveFile` WHERE `FileName` "
                                        "IS NOT NULL")
                         : QueryRows(h, "SELECT `SourceName` FROM `MoveFile`");
    std::sort(c.names.begin(), c.names.end());
    EXPECT_EQ(files, c.names);
  }
}

TEST_F(FileTreeTest, RowFailuresAndQuietCases) {
  struct Case {
    const char* title;
    const char* root;  // "<tree>", "<missing>", "" or a literal
    std::string dirCondition;
    std::string fileCondition;
    UINT result;
    std::size_t directories;
    std::size_t removals;
  } cases[] = {
      {"unknown condition head fails the row", "<tree>", "x VmrCoreRemoveFileDirectory", "",
       1603, 0, 0},
      {"condition syntax error fails the row", "<tree>", "c (((", "", 1603, 0, 0},
      {"false directory condition leaves the tree alone", "<tree>",
       "c VmrCoreRemoveFileDirectory = \"nowhere\"", "", 0, 0, 0},
      {"an action of the library as the condition", "<tree>",
       "a HideCancelButton.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", "", 0, 2, 4},
      {"an action the library does not have", "<tree>", "a NoSuchAction.X", "", 1603, 0, 0},
      {"empty root: its row, key property and wildcard", "", "", "", 0, 1, 1},
      {"missing folder: no folder row", "<missing>", "", "", 0, 1, 1},
      {"an over-long short|long name fails the row", "<longname>", "",
       "c VmrCoreRemoveFileFile >< \"n\"", 1603, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    Package p;
    CreateTables(p);
    RemoveRow(p, "T", 3, c.dirCondition, c.fileCondition);
    MSIHANDLE h = p.Open();
    std::string root = c.root;
    if (root == "<tree>") root = PlantTree();
    if (root == "<missing>") root = TempFolder("gone") + "missing\\";
    if (root == "<longname>") {
      // A folder at the drive's root leaves room under MAX_PATH for a name of
      // 243 characters, whose short name joined to it passes 255.
      root = "C:\\vl" + std::to_string(GetTickCount() % 100000) + "\\";
      CreateDirectoryA(root.c_str(), nullptr);
      const std::string name = std::string(239, 'n') + ".txt";
      WriteFile(root + name, "n");
      EXPECT_GT(ShortName(root + name).size() + 1 + name.size(), 255u);
    }
    SetProp(h, "OLDDIR", root);
    EXPECT_EQ(CallAction(h, "RemoveFileTree"), c.result);
    EXPECT_EQ(Directories(h).size(), c.directories);
    EXPECT_EQ(Removals(h).size(), c.removals);
  }
}

TEST_F(FileTreeTest, MoveOfATreeWritesWildcardRows) {
  MoveRow(pkg, "M", 1);
  MSIHANDLE h = pkg.Open();
  const std::string a = PlantTree();
  const std::string target = TempFolder("target");
  SetProp(h, "OLDDIR", a);
  SetProp(h, "NEWDIR", target);
  EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
  KeyNames keys;
  keys.See(Directories(h));
  // Per directory: destination key n, source key n + 1.
  EXPECT_EQ(keys.Rename(Moves(h)), (Rows{{"K1", "NewFiles", "*", "", "K1", "K0", "1"},
                                        {"K3", "NewFiles", "*", "", "K3", "K2", "1"}}));
  EXPECT_EQ(keys.Rename(Directories(h)), (Rows{{"K0", "NEWDIR", "."},
                                              {"K1", "OLDDIR", "."},
                                              {"K2", "NEWDIR", "."},
                                              {"K3", "OLDDIR", "."}}));
  EXPECT_EQ(GetProp(h, keys.Key("MV_FILE_", 2)), target + "b\\");
  EXPECT_EQ(GetProp(h, keys.Key("MV_FILE_", 3)), a + "b\\");
}

TEST_F(FileTreeTest, MoveSkipsEqualPathsAndRecordsFileTimes) {
  MoveRow(pkg, "M", 0, "c VmrCoreMoveFileFile >< \".txt\"");
  MSIHANDLE h = pkg.Open();
  const std::string a = TempFolder("times");
  const std::string target = TempFolder("target");

  // Equal paths but for case: nothing at all.
  std::string upper = a;
  for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  SetProp(h, "OLDDIR", a);
  SetProp(h, "NEWDIR", upper);
  EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
  EXPECT_TRUE(Moves(h).empty());

  // Two unversioned files: one written long after it was made, one "written"
  // before it was made. Only a last-write time later than the creation time is
  // worth restoring.
  WriteFile(a + "new.txt", "n");
  WriteFile(a + "old.txt", "o");
  WriteFile(a + "skip.dat", "s");
  auto setTimes = [](const std::string& path, ULONGLONG createdTicks, ULONGLONG writtenTicks) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created{static_cast<DWORD>(createdTicks), static_cast<DWORD>(createdTicks >> 32)};
    FILETIME written{static_cast<DWORD>(writtenTicks), static_cast<DWORD>(writtenTicks >> 32)};
    EXPECT_TRUE(SetFileTime(file, &created, nullptr, &written));
    CloseHandle(file);
  };
  const ULONGLONG y2020 = 0x01d5c0f5a4b0c000ull, y2290 = 0x0250000000000000ull,
                  y1960 = 0x01b0000000000000ull;
  setTimes(a + "new.txt", y2020, y2290);
  setTimes(a + "old.txt", y2020, y1960);
  auto times = [](const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    FILETIME created{}, written{};
    GetFileTime(file, &created, nullptr, &written);
    CloseHandle(file);
    return std::make_pair(created, written);
  };
  std::string expected;
  for (const char* name : {"new.txt", "old.txt"}) {
    auto [created, written] = times(a + name);
    if (CompareFileTime(&written, &created) > 0)
      expected += target + name + "|" + std::to_string(created.dwLowDateTime) + "|" +
                  std::to_string(created.dwHighDateTime) + "|" +
                  std::to_string(written.dwLowDateTime) + "|" +
                  std::to_string(written.dwHighDateTime) + ">";
  }
  EXPECT_EQ(expected.find("old.txt"), std::string::npos);
#ifndef _WIN32
  // Wine keeps no creation time of its own (it reports the last-write time), so
  // only an NTFS-like file system has an entry to expect.
  ASSERT_NE(expected.find("new.txt"), std::string::npos);
#endif

  SetProp(h, "NEWDIR", target);
  SetProp(h, "SetTimestamps.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", "");
  EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
  Rows moved = QueryRows(h, "SELECT `SourceName`, `Options` FROM `MoveFile`");
  EXPECT_EQ(moved, (Rows{{"new.txt", "0"}, {"old.txt", "0"}}));
  EXPECT_EQ(GetProp(h, "SetTimestamps.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60"), expected);
}

TEST_F(FileTreeTest, HiddenReadOnlyAndOverlongEntries) {
  RemoveRow(pkg, "T", 3, "", "c VmrCoreRemoveFileFile >< \"e\"");
  MSIHANDLE h = pkg.Open();
  const std::string a = TempFolder("attrs");
  WriteFile(a + "hidden.dat", "h");
  WriteFile(a + "readonly.dat", "r");
  CreateDirectoryA((a + "hiddendir").c_str(), nullptr);
  WriteFile(a + "hiddendir\\inner.dat", "i");
  SetFileAttributesA((a + "hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((a + "readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((a + "hiddendir").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
  SetProp(h, "OLDDIR", a);
  EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);
  EXPECT_EQ(QueryRows(h, "SELECT `FileName` FROM `RemoveFile` WHERE `FileName` IS NOT NULL"),
            (Rows{{"hidden.dat"}, {"inner.dat"}, {"readonly.dat"}}));
  SetFileAttributesA((a + "readonly.dat").c_str(), FILE_ATTRIBUTE_NORMAL);

  // A root past MAX_PATH cannot be listed: a missing folder is no failure.
  const std::string deep = a + std::string(300, 'd') + "\\";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((deep + "*").c_str(), &data);
  ASSERT_EQ(find, INVALID_HANDLE_VALUE);
  DWORD error = GetLastError();
  bool quiet = error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND;
  SetProp(h, "OLDDIR", deep);
  EXPECT_EQ(CallAction(h, "RemoveFileTree"), quiet ? 0u : 1603u) << "listing error " << error;
}

TEST(FileTreeTables, MissingTables) {
  // No tree tables at all: nothing to schedule, and no failure.
  {
    Package p;
    MSIHANDLE h = p.Open();
    EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);
    EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
  }
  // Tree rows but no Directory / RemoveFile / MoveFile tables to write to.
  {
    Package p;
    p.Sql("CREATE TABLE `VmrRemoveFileTree` (`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) "
          "NOT NULL, `Root` CHAR(72) NOT NULL, `Mode` SHORT, `DirCondition` CHAR(255), "
          "`FileCondition` CHAR(255) PRIMARY KEY `Tree`)");
    p.Sql("CREATE TABLE `VmrMoveFileTree` (`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT "
          "NULL, `SourceRoot` CHAR(72) NOT NULL, `DestRoot` CHAR(72) NOT NULL, `Options` SHORT, "
          "`DirCondition` CHAR(255), `FileCondition` CHAR(255) PRIMARY KEY `Tree`)");
    RemoveRow(p, "T", 3);
    MoveRow(p, "M", 0);
    MSIHANDLE h = p.Open();
    SetProp(h, "OLDDIR", TempFolder("old"));
    SetProp(h, "NEWDIR", TempFolder("new"));
    EXPECT_EQ(CallAction(h, "RemoveFileTree"), 1603u);
    EXPECT_EQ(CallAction(h, "MoveFileTree"), 1603u);
  }
}

TEST(VersionedFile, FileVersionLowHalfOrDateMakesAFileVersioned) {
  const std::string dir = TempFolder("versions");
  const struct {
    const char* name;
    std::string content;
    bool versioned;
  } cases[] = {
      {"v1234.dll", Image(true, 16, 1, 0x409, VersionResource(0x00010002, 0x00030004, 0)), true},
      {"dated.dll", Image(false, 16, 1, 0, VersionResource(0x00010000, 0, 0x01D5C0F5)), true},
      // 1.0.0.0 without a date: the low half of the version is 0, so unversioned.
      {"v1000.dll", Image(true, 16, 1, 0x409, VersionResource(0x00010000, 0, 0)), false},
      {"noversion.dll", Image(true, 10, 1, 0x409, "raw"), false},
      {"text.txt", "plain text", false},
  };
  for (const auto& c : cases) {
    WriteFile(dir + c.name, c.content);
    EXPECT_EQ(viduzo::IsVersionedFile((dir + c.name).c_str()), c.versioned) << c.name;
  }
  EXPECT_FALSE(viduzo::IsVersionedFile((dir + "missing.dll").c_str()));
}

}  // namespace
