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

// A package with the standard file tables and the two tree tables, with
// OLDDIR and NEWDIR.
struct TreePackage : Package {
  using Package::Open;
  // Opens the package with OLDDIR and NEWDIR set.
  MSIHANDLE Open(const std::string& from, const std::string& to) {
    MSIHANDLE h = Open();
    SetProp(h, "OLDDIR", from);
    SetProp(h, "NEWDIR", to);
    return h;
  }
  TreePackage() {
    Table("Directory").Table("RemoveFile").Table("MoveFile");
    Table("VmrRemoveFileTree").Table("VmrMoveFileTree");
    for (const char* row : {"'TARGETDIR', '', 'SourceDir'", "'OLDDIR', 'TARGETDIR', 'Old'",
                            "'NEWDIR', 'TARGETDIR', 'New'"})
      Sql(std::string("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) "
                      "VALUES (") + row + ")");
  }
};

std::string IntOrNull(int n) { return n < 0 ? "NULL" : std::to_string(n); }

// A removal row; mode -1 leaves the column null.
void RemoveRow(Package& pkg, const std::string& tree, int mode,
               const std::string& dirCondition = "", const std::string& fileCondition = "",
               const std::string& root = "OLDDIR") {
  pkg.Sql("INSERT INTO `VmrRemoveFileTree` (`Tree`, `Component_`, `Root`, `Mode`, "
          "`DirCondition`, `FileCondition`) VALUES ('" + tree + "', 'OldFiles', '" + root +
          "', " + IntOrNull(mode) + ", '" + dirCondition + "', '" + fileCondition + "')");
}

// A move row; options -1 leaves the column null.
void MoveRow(Package& pkg, const std::string& tree, int options,
             const std::string& fileCondition = "", const std::string& dirCondition = "",
             const std::string& source = "OLDDIR", const std::string& destination = "NEWDIR") {
  pkg.Sql("INSERT INTO `VmrMoveFileTree` (`Tree`, `Component_`, `SourceRoot`, `DestRoot`, "
          "`Options`, `DirCondition`, `FileCondition`) VALUES ('" + tree + "', 'NewFiles', '" +
          source + "', '" + destination + "', " + IntOrNull(options) + ", '" + dirCondition +
          "', '" + fileCondition + "')");
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
  TreePackage pkg;
};

#ifndef _WIN32
// The generated keys of a fresh process: the counter starts at 0, both actions
// draw from it, and a key is spent also when it is never written (the folder
// keys under keep-folders). One walk after another, each key written out.
TEST(FileTreeKeys, RowsAndKeysOfAFreshProcess) {
  InFreshProcess([] {
    auto rm = [](int n) { return "RM_FILE_" + std::to_string(n) + kSuffix; };
    auto mv = [](int n) { return "MV_FILE_" + std::to_string(n) + kSuffix; };
    const std::string a = PlantTree();  // a\x, a\b\y
    const std::string flat = TempFolder("flat");
    WriteFile(flat + "x", "x");
    WriteFile(flat + "z", "z");
    const std::string target = TempFolder("target");
    const std::string siblings = TempFolder("siblings");
    CreateDirectoryA((siblings + "d1").c_str(), nullptr);
    CreateDirectoryA((siblings + "d2").c_str(), nullptr);
    struct Step {
      const char* title;
      const char* action;
      int mode;  // mode or options; -1 null
      std::string fileCondition;
      std::string root;
      Rows directories;  // generated Directory rows
      Rows rows;         // RemoveFile or MoveFile rows
      std::vector<std::pair<std::string, std::string>> properties;
    } steps[] = {
        {"null mode: wildcard and folder rows", "RemoveFileTree", -1, "", a,
         {{rm(0), "OLDDIR", "."}, {rm(1), "OLDDIR", "."}},
         {{rm(0), "OldFiles", "*", rm(0), "3"}, {rm(1), "OldFiles", "*", rm(1), "3"},
          {rm(2), "OldFiles", "", rm(1), "3"}, {rm(3), "OldFiles", "", rm(0), "3"}},
         {{rm(0), a}, {rm(1), a + "b\\"}, {"VmrCoreRemoveFileDirectory", a + "b\\"}}},
        {"keep folders: folders walked, their keys spent", "RemoveFileTree", 16 | 1, "", a,
         {{rm(4), "OLDDIR", "."}, {rm(5), "OLDDIR", "."}}, {}, {{rm(5), a + "b\\"}}},
        {"a file condition picks y", "RemoveFileTree", 2, "c VmrCoreRemoveFileFile = \"y\"", a,
         {{rm(8), "OLDDIR", "."}, {rm(9), "OLDDIR", "."}},
         {{rm(10), "OldFiles", "y", rm(9), "2"}, {rm(11), "OldFiles", "", rm(9), "2"},
          {rm(12), "OldFiles", "", rm(8), "2"}},
         {{"VmrCoreRemoveFileFile", "x"}}},  // b\ is listed before x
        {"upper-case head, keep folders", "RemoveFileTree", 16 | 3 | 64,
         "C VmrCoreRemoveFileFile >< \"x\"", flat, {{rm(13), "OLDDIR", "."}},
         {{rm(14), "OldFiles", "x", rm(13), "3"}}, {}},
        // MV_FILE_17 is in the Directory table already: kept as it is.
        {"moving a tree", "MoveFileTree", 1, "", a,
         {{mv(16), "NEWDIR", "."}, {mv(18), "NEWDIR", "."}, {mv(19), "OLDDIR", "."}},
         {{mv(17), "NewFiles", "*", "", mv(17), mv(16), "1"},
          {mv(19), "NewFiles", "*", "", mv(19), mv(18), "1"}},
         {{mv(16), target}, {mv(17), a}, {mv(18), target + "b\\"}, {mv(19), a + "b\\"}}},
        {"null options give 0", "MoveFileTree", -1, "", flat + "x",
         {{mv(20), "NEWDIR", "."}, {mv(21), "OLDDIR", "."}},
         {{mv(21), "NewFiles", "x", "", mv(21), mv(20), "0"}}, {{mv(21), flat}}},
        // Sibling folders: the path is cut back after each.
        {"sibling folders removed", "RemoveFileTree", 16, "", siblings,
         {{rm(22), "OLDDIR", "."}, {rm(23), "OLDDIR", "."}, {rm(25), "OLDDIR", "."}}, {},
         {{rm(23), siblings + "d1\\"}, {rm(25), siblings + "d2\\"}}},
        {"sibling folders moved", "MoveFileTree", 0, "", siblings,
         {{mv(28), "NEWDIR", "."}, {mv(29), "OLDDIR", "."}, {mv(30), "NEWDIR", "."},
          {mv(31), "OLDDIR", "."}, {mv(32), "NEWDIR", "."}, {mv(33), "OLDDIR", "."}},
         {{mv(29), "NewFiles", "*", "", mv(29), mv(28), "0"},
          {mv(31), "NewFiles", "*", "", mv(31), mv(30), "0"},
          {mv(33), "NewFiles", "*", "", mv(33), mv(32), "0"}},
         {{mv(32), target + "d2\\"}, {mv(33), siblings + "d2\\"}}},
    };
    for (const Step& step : steps) {
      SCOPED_TRACE(step.title);
      TreePackage p;
      p.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('" +
            mv(17) + "', 'ELSEWHERE', 'Kept')");
      const bool removal = std::string(step.action) == "RemoveFileTree";
      if (removal) RemoveRow(p, "T", step.mode, "", step.fileCondition);
      else MoveRow(p, "M", step.mode, step.fileCondition);
      MSIHANDLE h = p.Open(step.root, target);
      EXPECT_EQ(CallAction(h, step.action), 0u);
      EXPECT_EQ(Directories(h), step.directories);
      EXPECT_EQ(removal ? Removals(h) : Moves(h), step.rows);
      for (const auto& [name, value] : step.properties) EXPECT_EQ(GetProp(h, name), value) << name;
      EXPECT_EQ(QueryRows(h, "SELECT `Directory_Parent` FROM `Directory` WHERE `DefaultDir` = "
                             "'Kept'"),
                (Rows{{"ELSEWHERE"}}));
    }
  });
}
#endif

// A root without a trailing backslash names one file, whatever the length or
// the characters of its name: both walks schedule that file under its whole
// name, with the folder in the generated key's property.
TEST(FileTreeSingleFile, RootOfOneCharacterIsAFile) {
  TreePackage p;
  RemoveRow(p, "T", 3);
  MoveRow(p, "M", 1);
  MSIHANDLE h = p.Open("x", TempFolder("onechar"));
  EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);
  EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
  EXPECT_EQ(QueryRows(h, "SELECT `FileName` FROM `RemoveFile`"), (Rows{{"x"}}));
  EXPECT_EQ(QueryRows(h, "SELECT `SourceName` FROM `MoveFile`"), (Rows{{"x"}}));
}

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
    TreePackage p;
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
    TreePackage p;
    RemoveRow(p, "T", c.mode, "", c.condition);
    MoveRow(p, "M", 0, c.condition);
    MSIHANDLE h = p.Open(a, TempFolder("target"));
    EXPECT_EQ(CallAction(h, c.action), 0u);
    const bool removal = std::string(c.action) == "RemoveFileTree";
    Rows files = removal ? QueryRows(h, "SELECT `FileName` FROM `RemoveFile` WHERE `FileName` "
                                        "IS NOT NULL")
                         : QueryRows(h, "SELECT `SourceName` FROM `MoveFile`");
    std::sort(c.names.begin(), c.names.end());
    EXPECT_EQ(files, c.names);
  }
}

#ifndef _WIN32
// Name lengths at their limit, with short names set by the test: a long name
// of 255 characters alone, "SHORT|long" of exactly 255, and a short name of
// one character, which is a short name all the same.
TEST(FileTreeNames, NamesAtTheLimit) {
  const std::string a = TempFolder("limit");
  const std::string alone = std::string(251, 'a') + ".txt";  // 255
  const std::string joined = std::string(238, 'j') + ".txt";  // 242 + 1 + 12
  PlantFile(a + alone, "a");
  PlantFile(a + joined, "j");
  WriteFile(a + "Long Name.txt", "l");
  ASSERT_TRUE(winsim::SetShortName(a + alone, ""));
  ASSERT_TRUE(winsim::SetShortName(a + joined, "JJJJJJ~1.TXT"));
  ASSERT_TRUE(winsim::SetShortName(a + "Long Name.txt", "L"));
  TreePackage p;
  RemoveRow(p, "T", 3, "", "c VmrCoreRemoveFileFile >< \".txt\" OR VmrCoreRemoveFileFile = \"L\"");
  MSIHANDLE h = p.Open();
  SetProp(h, "OLDDIR", a);
  EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);
  EXPECT_EQ(QueryRows(h, "SELECT `FileName` FROM `RemoveFile` WHERE `FileName` IS NOT NULL"),
            (Rows{{"JJJJJJ~1.TXT|" + joined}, {"L|Long Name.txt"}, {alone}}));
}
#endif

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
      {"a condition with no expression fails the row", "<tree>", "c ", "", 1603, 0, 0},
      {"empty root: its row, key property and wildcard", "", "", "", 0, 1, 1},
      {"missing folder: no folder row", "<missing>", "", "", 0, 1, 1},
      {"an over-long short|long name fails the row", "<longname>", "",
       "c VmrCoreRemoveFileFile >< \"n\"", 1603, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    TreePackage p;
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

TEST_F(FileTreeTest, MoveSkipsEqualPaths) {
  MoveRow(pkg, "M", 0, "c VmrCoreMoveFileFile >< \".txt\"");
  MSIHANDLE h = pkg.Open();
  const std::string a = TempFolder("times");
  WriteFile(a + "x.txt", "x");
  // Equal paths but for case: nothing at all.
  std::string upper = a;
  for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  SetProp(h, "OLDDIR", a);
  SetProp(h, "NEWDIR", upper);
  EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
  EXPECT_TRUE(Moves(h).empty());
  EXPECT_TRUE(Directories(h).empty());
}

// Moves that write less than the whole tree, without failing: a refused
// directory condition, an empty destination (its root row only), and a
// destination of one character, which is still a destination.
TEST(FileTreeMoves, QuietMoves) {
  const struct {
    const char* directoryCondition;
    const char* destination;
    std::size_t moves;
  } cases[] = {
      {"c VmrCoreMoveFileDirectory = \"nowhere\"", "<target>", 0},
      {"", "", 1},
      {"", "y", 2},
      {"", "<target>", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.directoryCondition) + " to " + c.destination);
    TreePackage p;
    MoveRow(p, "M", 0, "", c.directoryCondition);
    const std::string to = c.destination;
    MSIHANDLE h = p.Open(PlantTree(), to == "<target>" ? TempFolder("qt") : to);
    EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
    EXPECT_EQ(Moves(h).size(), c.moves);
  }
}

// Sets a file's creation and last-write times (low and high halves).
void SetTimes(const std::string& path, FILETIME created, FILETIME written) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  EXPECT_TRUE(SetFileTime(file, &created, nullptr, &written));
  CloseHandle(file);
}

const char kTimestamps[] = "SetTimestamps.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

#ifndef _WIN32
const bool kCreationTimes = true;
#else
const bool kCreationTimes = false;  // Wine reports the last-write time as creation time
#endif

struct TimestampCase {
  const char* title;
  std::string directoryCondition;
  std::string fileCondition;
  std::string before;  // the list when the action starts
  Rows moved;          // source names of the file rows
  // The list afterwards, "<a1>" standing for the entry of a1.txt and so on;
  // and without creation times of their own.
  std::string list;
  std::string listWithoutEntries;
};

// Moves a\ (a1.txt, early.txt, equal.txt, sub\f2.txt, v.dll) with the case's
// conditions and checks the file rows and the list.
void RunTimestampCase(TimestampCase& c) {
  const FILETIME created{100, 30000000}, written{300, 30000001}, early{5, 29999999};
  TreePackage p;
  p.Table("CustomAction");
  p.Sql(std::string("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
                    "('Mark', 51, '") + kTimestamps + "', '[" + kTimestamps + "]M>')");
  MoveRow(p, "M", 1, c.fileCondition, c.directoryCondition);
  MSIHANDLE h = p.Open();
  // "a " actions run through the engine.
  SetProp(h, "MSI_VERSION.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", "500");
  const std::string a = TempFolder("stamps");
  const std::string target = TempFolder("stamptarget");
  WriteFile(a + "a1.txt", "1");
  WriteFile(a + "early.txt", "e");
  WriteFile(a + "equal.txt", "q");
  WriteFile(a + "v.dll", Image(true, 16, 1, 0x409, VersionResource(0x00010002, 3, 0)));
  CreateDirectoryA((a + "sub").c_str(), nullptr);
  WriteFile(a + "sub\\f2.txt", "2");
  SetTimes(a + "a1.txt", created, written);
  SetTimes(a + "early.txt", created, early);
  SetTimes(a + "equal.txt", created, created);
  SetTimes(a + "v.dll", created, written);
  SetTimes(a + "sub\\f2.txt", created, written);
  SetProp(h, "OLDDIR", a);
  SetProp(h, "NEWDIR", target);
  SetProp(h, kTimestamps, c.before);

  EXPECT_EQ(CallAction(h, "MoveFileTree"), 0u);
  std::sort(c.moved.begin(), c.moved.end());
  EXPECT_EQ(QueryRows(h, "SELECT `SourceName` FROM `MoveFile` WHERE `SourceName` <> '*'"),
            c.moved);
  std::string expected = kCreationTimes ? c.list : c.listWithoutEntries;
  for (const auto& [tag, path] : {std::pair<std::string, std::string>{"<a1>", target + "a1.txt"},
                                  {"<f2>", target + "sub\\f2.txt"}}) {
    std::size_t at = expected.find(tag);
    if (at != std::string::npos) expected.replace(at, tag.size(), path + "|100|30000000|300|30000001>");
  }
  EXPECT_EQ(GetProp(h, kTimestamps), expected);
}

// The time-stamp list of moved files: one entry per individually moved,
// unversioned file whose last write is later than its creation, and at every
// moment a condition can look at it (an "a " action, a "c " condition naming
// it) the list is what reading, appending and writing it for every file gives.
TEST(FileTreeTimestamps, ListIsCompleteWheneverAConditionCanSeeIt) {
  TimestampCase cases[] = {
      {"later write, equal times, earlier write, versioned", "", "c VmrCoreMoveFileFile >< \".\"",
       "old>", {{"a1.txt"}, {"equal.txt"}, {"early.txt"}, {"v.dll"}, {"f2.txt"}}, "old><a1><f2>",
       "old>"},
      {"a condition naming the list sees the entries before it", "",
       std::string("c ") + kTimestamps + " >< \"a1.txt|\" OR VmrCoreMoveFileFile = \"a1.txt\"", "",
       kCreationTimes ? Rows{{"a1.txt"}, {"equal.txt"}, {"early.txt"}, {"v.dll"}, {"f2.txt"}}
                      : Rows{{"a1.txt"}},
       "<a1><f2>", ""},
  };
  for (TimestampCase& c : cases) {
    SCOPED_TRACE(c.title);
    RunTimestampCase(c);
  }
}

#ifndef _WIN32
// "a " actions run through the engine only when the first "a " condition of the
// process found MSI_VERSION set: this case needs a process of its own.
TEST(FileTreeTimestamps, ActionThatChangesTheListKeepsItsChange) {
  InFreshProcess([] {
    TimestampCase c{"", "a Mark", "c VmrCoreMoveFileFile >< \".txt\"", "",
                    {{"a1.txt"}, {"equal.txt"}, {"early.txt"}, {"f2.txt"}}, "M><a1>M><f2>", ""};
    RunTimestampCase(c);
  });
}
#endif

#ifndef _WIN32
// "a " conditions: an action whose result 0 means yes, 234 and 259 no, and any
// other a failed row. The first one in the process decides how they run for
// good: through the engine when MSI_VERSION is set, else by calling the
// library's own export named by the text before the first ".".
struct ActionCase {
  const char* condition;
  UINT answer;  // what the registered action "Answer.X" returns
  UINT result;
  std::size_t removals;  // wildcard and folder row of a satisfied flat folder
};

void RunActionCases(const std::vector<ActionCase>& cases, const char* msiVersion) {
  for (const ActionCase& c : cases) {
    SCOPED_TRACE(c.condition + std::string(" answering ") + std::to_string(c.answer));
    TreePackage p;
    RemoveRow(p, "T", 3, c.condition, "");
    MSIHANDLE h = p.Open();
    SetProp(h, "MSI_VERSION.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", msiVersion);
    SetProp(h, "OLDDIR", TempFolder("act"));
    const UINT answer = c.answer;
    winsim::RegisterAction("Answer.X", [answer](MSIHANDLE) { return answer; });
    EXPECT_EQ(CallAction(h, "RemoveFileTree"), c.result);
    EXPECT_EQ(Removals(h).size(), c.removals);
  }
}

TEST(FileTreeConditionActions, ThroughTheEngineWhenMsiVersionIsSet) {
  InFreshProcess([] {
    RunActionCases({{"a Answer.X", 0, 0, 2},
                    {"A Answer.X", 234, 0, 0},
                    {"a Answer.X", 259, 0, 0},
                    {"a Answer.X", 1603, 1603, 0},
                    {"a Answer.X", 1, 1603, 0},
                    // Once decided, the way stays: MSI_VERSION is not read again.
                    {"a Answer.X", 0, 0, 2}},
                   "500");
    const auto& run = winsim::ActionsRun();
    EXPECT_EQ(std::count(run.begin(), run.end(), "Answer.X"), 6) << "run under its name as written";
  });
}

TEST(FileTreeConditionActions, TheLibrarysOwnExportOtherwise) {
  InFreshProcess([] {
    RunActionCases({{"a HideCancelButton", 0, 0, 2},
                    {"A HideCancelButton.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60.more", 0, 0, 2},
                    {"a NoSuchAction.X", 0, 1603, 0},
                    {"a Answer.X", 0, 1603, 0}},
                   "");
    // Set now, MSI_VERSION changes nothing: the engine never runs the action.
    RunActionCases({{"a Answer.X", 0, 1603, 0}}, "500");
    const auto& run = winsim::ActionsRun();
    EXPECT_EQ(std::count(run.begin(), run.end(), "Answer.X"), 0);
  });
}

TEST(FileTreeConditionActions, AnOverlongMsiVersionCountsAsUnset) {
  InFreshProcess([] {
    RunActionCases({{"a HideCancelButton", 0, 0, 2}}, std::string(261, '5').c_str());
  });
}

// A root property that is not in the Directory table: the generated row is
// refused under it (winsim refuses the insert, as an engine holding to the
// parent would), and the rules for a missing parent apply.
TEST(FileTreeParents, MissingRootParents) {
  struct Case {
    const char* title;
    const char* action;
    const char* sourceRoot;
    const char* destinationRoot;
    std::vector<std::string> refused;  // parents whose inserts fail
    bool emptySource;
    bool emptyDestination;
    UINT result;
    Rows parents;      // Directory_Parent of the generated rows
    Rows destFolders;  // DestFolder of the MoveFile rows, "<key>" for a generated key
    std::size_t rows;  // RemoveFile or MoveFile rows
  } cases[] = {
      {"upper-case root: retried under TARGETDIR", "RemoveFileTree", "ROOTPROP", "", {"ROOTPROP"},
       false, false, 0, {{"TARGETDIR"}}, {}, 2},
      {"mixed-case root: left alone", "RemoveFileTree", "RootProp", "", {"RootProp"}, false, false,
       0, {}, {}, 0},
      {"empty path: left alone", "RemoveFileTree", "ROOTPROP", "", {"ROOTPROP"}, true, false, 0,
       {}, {}, 0},
      {"TARGETDIR refused too: left alone", "RemoveFileTree", "ROOTPROP", "",
       {"ROOTPROP", "TARGETDIR"}, false, false, 0, {}, {}, 0},
      {"a root that is in the table: the row fails", "RemoveFileTree", "OLDDIR", "", {"OLDDIR"},
       false, false, 1603, {}, {}, 0},
      {"upper-case destination: under TARGETDIR, rows name its key", "MoveFileTree", "OLDDIR",
       "DESTPROP", {"DESTPROP"}, false, false, 0, {{"OLDDIR"}, {"TARGETDIR"}}, {{"<key>"}}, 1},
      {"mixed-case destination: rows name the property", "MoveFileTree", "OLDDIR", "DestProp",
       {"DestProp"}, false, false, 0, {{"OLDDIR"}}, {{"DestProp"}}, 1},
      {"empty destination: rows name the property", "MoveFileTree", "OLDDIR", "DESTPROP",
       {"DESTPROP"}, false, true, 0, {{"OLDDIR"}}, {{"DESTPROP"}}, 1},
      {"destination's TARGETDIR refused: rows name the property", "MoveFileTree", "OLDDIR",
       "DESTPROP", {"DESTPROP", "TARGETDIR"}, false, false, 0, {{"OLDDIR"}}, {{"DESTPROP"}}, 1},
      {"mixed-case source: left alone", "MoveFileTree", "SrcProp", "NEWDIR", {"SrcProp"}, false,
       false, 0, {{"NEWDIR"}}, {}, 0},
      {"a destination in the table: the row fails", "MoveFileTree", "OLDDIR", "NEWDIR",
       {"NEWDIR"}, false, false, 1603, {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    winsim::ResetSession();
    TreePackage p;
    const bool removal = std::string(c.action) == "RemoveFileTree";
    if (removal) RemoveRow(p, "T", 3, "", "", c.sourceRoot);
    else MoveRow(p, "M", 1, "", "", c.sourceRoot, c.destinationRoot);
    MSIHANDLE h = p.Open();
    const std::string source = c.emptySource ? "" : TempFolder("src");
    const std::string destination = c.emptyDestination ? "" : TempFolder("dst");
    SetProp(h, c.sourceRoot, source);
    if (!removal) SetProp(h, c.destinationRoot, destination);
    for (const std::string& parent : c.refused) winsim::FailRowInsert("Directory", 2, parent);
    EXPECT_EQ(CallAction(h, c.action), c.result);
    EXPECT_EQ(QueryRows(h, "SELECT `Directory_Parent` FROM `Directory` WHERE `DefaultDir` = '.'"),
              c.parents);
    if (removal) {
      EXPECT_EQ(Removals(h).size(), c.rows);
    } else {
      Rows moves = QueryRows(h, "SELECT `DestFolder`, `FileKey` FROM `MoveFile`");
      EXPECT_EQ(moves.size(), c.rows);
      Rows folders;
      for (const auto& row : moves) {
        folders.push_back({row[0].rfind("MV_FILE_", 0) == 0 ? "<key>" : row[0]});
        // The destination key's property holds the destination path whatever
        // the rows name.
        if (row[0].rfind("MV_FILE_", 0) == 0) {
          EXPECT_EQ(GetProp(h, row[0]), destination);
        }
      }
      EXPECT_EQ(folders, c.destFolders);
    }
  }
}

// What only winsim can make happen in a walk: failed property reads and writes,
// a failing CostFinalize, and the debugger output.
TEST(FileTreeFailures, ReadsWritesCostFinalizeAndTrace) {
  struct Case {
    const char* title;
    const char* action;
    const char* failRead;
    const char* failWrite;
    bool failCostFinalize;
    UINT result;
    std::size_t rows;
  } cases[] = {
      {"removal root unreadable: the row fails", "RemoveFileTree", "OLDDIR", "", false, 1603, 0},
      {"move source unreadable: the row is skipped", "MoveFileTree", "OLDDIR", "", false, 0, 0},
      {"move destination unreadable: the row is skipped", "MoveFileTree", "NEWDIR", "", false, 0,
       0},
      {"item property unwritable: the row fails", "RemoveFileTree", "", "VmrCoreRemoveFileFile",
       false, 1603, 0},
      {"move item property unwritable: the row fails", "MoveFileTree", "",
       "VmrCoreMoveFileDirectory", false, 1603, 0},
      {"CostFinalize failing fails the removal", "RemoveFileTree", "", "", true, 1603, 2},
      {"moving never runs CostFinalize", "MoveFileTree", "", "", true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    winsim::ResetSession();
    winsim::ClearDebugLines();
    TreePackage p;
    RemoveRow(p, "T", 3, "", "c VmrCoreRemoveFileFile = \"y.txt\"");
    MoveRow(p, "M", 0, "c VmrCoreMoveFileFile = \"y.txt\"");
    MSIHANDLE h = p.Open();
    const std::string a = TempFolder("fail");
    WriteFile(a + "y.txt", "y");
    SetProp(h, "OLDDIR", a);
    SetProp(h, "NEWDIR", TempFolder("failtarget"));
    if (*c.failRead) winsim::FailPropertyRead(c.failRead);
    if (*c.failWrite) winsim::FailPropertyWrite(c.failWrite);
    if (c.failCostFinalize)
      winsim::RegisterAction("CostFinalize", [](MSIHANDLE) { return UINT{1603}; });
    EXPECT_EQ(CallAction(h, c.action), c.result);
    const bool removal = std::string(c.action) == "RemoveFileTree";
    EXPECT_EQ((removal ? Removals(h) : Moves(h)).size(), c.rows);
    const auto& run = winsim::ActionsRun();
    EXPECT_EQ(std::count(run.begin(), run.end(), "CostFinalize"), removal ? 1 : 0);
    const auto& lines = winsim::DebugLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Scheduleing the file y.txt for removal."),
              removal && c.rows > 0 ? 1 : 0);
  }
}
#endif

#ifndef _WIN32
// Every step of a walk that can fail fails the row: refused rows, unwritable
// key and item properties, conditions that cannot be tested. Rows written
// before the failure stay; nothing after it is written.
TEST(FileTreeFailures, EveryFailingStepFailsTheRow) {
  struct Case {
    const char* title;
    const char* action;
    bool singleFile;
    std::string fileCondition;
    const char* failWrite;  // property names; "RM_FILE_*" and "MV_FILE_*" the generated keys
    unsigned writesFirst;
    const char* refusedTable;
    UINT refusedField;
    const char* refusedValue;
    Rows rows;  // FileName / SourceName of the rows written ("" for a folder row)
  } cases[] = {
      {"root key property", "RemoveFileTree", false, "", "RM_FILE_*", 0, "", 0, "", {}},
      {"subfolder key property", "RemoveFileTree", false, "", "RM_FILE_*", 1, "", 0, "", {{"*"}}},
      {"wildcard row", "RemoveFileTree", false, "", "", 0, "RemoveFile", 3, "*", {}},
      {"folder row", "RemoveFileTree", false, "", "", 0, "RemoveFile", 3, "", {{"*"}, {"*"}}},
      {"file row", "RemoveFileTree", false, "c VmrCoreRemoveFileFile >< \".txt\"", "", 0,
       "RemoveFile", 3, "y.txt", {}},  // b\ is listed first
      {"subfolder item property", "RemoveFileTree", false, "", "VmrCoreRemoveFileDirectory", 1,
       "", 0, "", {{"*"}}},
      {"file condition that cannot be tested", "RemoveFileTree", false, "c (((", "", 0, "", 0, "",
       {}},
      {"short name retried with an unwritable item", "RemoveFileTree", false,
       "c VmrCoreRemoveFileFile = \"nothing\"", "VmrCoreRemoveFileFile", 2, "", 0, "", {{""}}},
      {"single file row", "RemoveFileTree", true, "", "", 0, "RemoveFile", 3, "y.txt", {}},
      {"single file key property", "RemoveFileTree", true, "", "RM_FILE_*", 0, "", 0, "",
       {{"y.txt"}}},
      {"destination key property", "MoveFileTree", false, "", "MV_FILE_*", 0, "", 0, "", {}},
      {"source key property", "MoveFileTree", false, "", "MV_FILE_*", 1, "", 0, "", {}},
      {"subfolder destination key", "MoveFileTree", false, "", "MV_FILE_*", 2, "", 0, "", {{"*"}}},
      {"move wildcard row", "MoveFileTree", false, "", "", 0, "MoveFile", 3, "*", {}},
      {"move file row", "MoveFileTree", false, "c VmrCoreMoveFileFile >< \".txt\"", "", 0,
       "MoveFile", 3, "y.txt", {}},
      {"move file condition that cannot be tested", "MoveFileTree", false, "c (((", "", 0, "", 0,
       "", {}},
      {"a one-character file condition is a condition", "MoveFileTree", false, "x", "", 0, "", 0,
       "", {}},
      {"short name test with an unwritable item", "MoveFileTree", false,
       "c VmrCoreMoveFileFile >< \"Name\"", "VmrCoreMoveFileFile", 2, "", 0, "", {}},
      {"move single file row", "MoveFileTree", true, "", "", 0, "MoveFile", 3, "y.txt", {}},
      {"move single file source key", "MoveFileTree", true, "", "MV_FILE_*", 1, "", 0, "",
       {{"y.txt"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    winsim::ResetSession();
    TreePackage p;
    RemoveRow(p, "T", 3, "", c.fileCondition);
    MoveRow(p, "M", 0, c.fileCondition);
    MSIHANDLE h = p.Open();
    // a\ holds "Long Name.txt" and b\, which holds y.txt.
    const std::string a = TempFolder("steps");
    WriteFile(a + "Long Name.txt", "l");
    CreateDirectoryA((a + "b").c_str(), nullptr);
    WriteFile(a + "b\\y.txt", "y");
    SetProp(h, "OLDDIR", c.singleFile ? a + "b\\y.txt" : a);
    SetProp(h, "NEWDIR", TempFolder("stepstarget"));
    if (*c.failWrite) winsim::FailPropertyWrite(c.failWrite, c.writesFirst);
    if (*c.refusedTable) winsim::FailRowInsert(c.refusedTable, c.refusedField, c.refusedValue);
    const bool removal = std::string(c.action) == "RemoveFileTree";
    EXPECT_EQ(CallAction(h, c.action), 1603u);
    EXPECT_EQ(removal ? QueryRows(h, "SELECT `FileName` FROM `RemoveFile`")
                      : QueryRows(h, "SELECT `SourceName` FROM `MoveFile`"),
              c.rows);
  }
}
#endif

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
  // A folder whose name begins with a dot is a folder like any other.
  CreateDirectoryA((a + ".d").c_str(), nullptr);
  WriteFile(a + ".d\\one.dat", "1");
  SetProp(h, "OLDDIR", a);
  EXPECT_EQ(CallAction(h, "RemoveFileTree"), 0u);
  EXPECT_EQ(QueryRows(h, "SELECT `FileName` FROM `RemoveFile` WHERE `FileName` IS NOT NULL"),
            (Rows{{"hidden.dat"}, {"inner.dat"}, {"one.dat"}, {"readonly.dat"}}));
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

TEST(FileTreeTables, NoSessionAndOverlongColumns) {
  // Without an install session there is no database: both actions fail.
  EXPECT_EQ(CallAction(0, "RemoveFileTree"), 1603u);
  EXPECT_EQ(CallAction(0, "MoveFileTree"), 1603u);
  // A column of more than 255 characters fails its row; the next row still runs.
  TreePackage p;
  // 256 characters: one more than the column buffer holds.
  RemoveRow(p, "A", 3, "c " + std::string(254, 'x'));
  RemoveRow(p, "B", 3);
  MoveRow(p, "A", 0, "c " + std::string(254, 'x'));
  MoveRow(p, "B", 0);
  MSIHANDLE h = p.Open(TempFolder("cols"), TempFolder("colstarget"));
  EXPECT_EQ(CallAction(h, "RemoveFileTree"), 1603u);
  EXPECT_EQ(CallAction(h, "MoveFileTree"), 1603u);
  EXPECT_EQ(QueryRows(h, "SELECT `FileName` FROM `RemoveFile`"), (Rows{{""}, {"*"}}));
  EXPECT_EQ(QueryRows(h, "SELECT `SourceName` FROM `MoveFile`"), (Rows{{"*"}}));
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
    p.Table("VmrRemoveFileTree").Table("VmrMoveFileTree");
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
