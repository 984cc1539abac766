// Benchmark of the tree walks: plants trees of 1,000, 10,000 and 100,000 entries
// (ten files to a folder) in the winsim sandbox, schedules each for
// removal and for moving, and prints the time per entry next to two baselines:
// a plain recursive FindFirstFileA walk of the same tree, and that walk plus the
// work moving prescribes for every file it picks (the version resource probe,
// opening the file and reading its times). The library's work should stay
// proportional to the tree: the time per entry barely moves with its size.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <msidefs.h>
#include <objbase.h>

#include "bench/bench.h"

namespace {

using viduzo_bench::Execute;
using viduzo_bench::Seconds;
using viduzo_bench::CallAction;

// A package with the file tables and one row in each tree table; every file is
// tested by the file condition, so that each one becomes a row of its own.
MSIHANDLE OpenPackage(const std::string& path) {
  MSIHANDLE database = 0;
  MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, &database);
  const char* sql[] = {
      "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL "
      "PRIMARY KEY `Property`)",
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
      "`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)",
      "CREATE TABLE `RemoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
      "`FileName` CHAR(255), `DirProperty` CHAR(72) NOT NULL, `InstallMode` SHORT NOT NULL "
      "PRIMARY KEY `FileKey`)",
      "CREATE TABLE `MoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
      "`SourceName` CHAR(255), `DestName` CHAR(255), `SourceFolder` CHAR(72), `DestFolder` "
      "CHAR(72) NOT NULL, `Options` SHORT NOT NULL PRIMARY KEY `FileKey`)",
      "CREATE TABLE `VmrRemoveFileTree` (`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT "
      "NULL, `Root` CHAR(72) NOT NULL, `Mode` SHORT, `DirCondition` CHAR(255), `FileCondition` "
      "CHAR(255) PRIMARY KEY `Tree`)",
      "CREATE TABLE `VmrMoveFileTree` (`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
      "`SourceRoot` CHAR(72) NOT NULL, `DestRoot` CHAR(72) NOT NULL, `Options` SHORT, "
      "`DirCondition` CHAR(255), `FileCondition` CHAR(255) PRIMARY KEY `Tree`)",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
      "('TARGETDIR', '', 'SourceDir')",
      "INSERT INTO `VmrRemoveFileTree` (`Tree`, `Component_`, `Root`, `Mode`, `DirCondition`, "
      "`FileCondition`) VALUES ('T', 'Old', 'OLDDIR', 3, '', 'c VmrCoreRemoveFileFile >< \".\"')",
      "INSERT INTO `VmrMoveFileTree` (`Tree`, `Component_`, `SourceRoot`, `DestRoot`, "
      "`Options`, `DirCondition`, `FileCondition`) VALUES ('M', 'New', 'OLDDIR', 'NEWDIR', 0, "
      "'', 'c VmrCoreMoveFileFile >< \".\"')",
  };
  for (const char* s : sql) Execute(database, s);
  return viduzo_bench::OpenAsPackage(database, path);
}

// Plants a tree of about `entries` entries, ten files to a folder: every folder
// holds ten files and up to four subfolders, breadth first.
void PlantTree(const std::string& root, int entries) {
  const std::size_t folderBudget = static_cast<std::size_t>(entries / 11);
  CreateDirectoryA(root.c_str(), nullptr);
  std::vector<std::string> folders{root};
  for (std::size_t i = 0; i < folders.size(); ++i) {
    for (int f = 0; f < 10; ++f) {
      std::string file = folders[i] + "file" + std::to_string(f) + ".dat";
      HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      CloseHandle(h);
    }
    for (int d = 0; d < 4 && folders.size() < folderBudget; ++d) {
      std::string folder = folders[i] + "dir" + std::to_string(d) + "\\";
      CreateDirectoryA(folder.c_str(), nullptr);
      folders.push_back(folder);
    }
  }
}

long PlainWalk(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  long count = 0;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    ++count;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) count += PlainWalk(folder + name + "\\");
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

// The plain walk plus, for every file, what moving does for it: probe the
// version resource, open the file, read its creation and last-write times.
long ProbingWalk(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  long count = 0;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    ++count;
    std::string path = folder + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      count += ProbingWalk(path + "\\");
      continue;
    }
    DWORD handle = 0;
    GetFileVersionInfoSizeA(path.c_str(), &handle);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      FILETIME created, written;
      GetFileTime(file, &created, nullptr, &written);
      CloseHandle(file);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

// The rows a table holds now (the walks' temporary rows included).
long CountRows(MSIHANDLE install, const char* table) {
  MSIHANDLE database = MsiGetActiveDatabase(install);
  MSIHANDLE view = 0, record = 0;
  long count = 0;
  std::string sql = std::string("SELECT * FROM `") + table + "`";
  if (MsiDatabaseOpenViewA(database, sql.c_str(), &view) == ERROR_SUCCESS &&
      MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      ++count;
      MsiCloseHandle(record);
    }
  }
  MsiCloseHandle(view);
  MsiCloseHandle(database);
  return count;
}


}  // namespace

int main() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  // x: the plain walk; p: the walk with the per-file work of moving.
  std::printf("%8s %9s %11s %11s %11s %11s %9s %9s %9s %11s %9s\n", "entries", "walk s",
              "walk us/e", "probe us/e", "remove us/e", "move us/e", "remove/x", "move/x",
              "move/p", "RemoveFile", "MoveFile");
  for (int entries : {1000, 10000, 100000}) {
    std::string root = std::string(temp) + "bench" + std::to_string(entries) + "\\";
    std::string target = std::string(temp) + "bench" + std::to_string(entries) + "-target\\";
    PlantTree(root, entries);
    CreateDirectoryA(target.c_str(), nullptr);
    long counted = 0;
    double walk = Seconds([&] { counted = PlainWalk(root); });
    double probe = Seconds([&] { ProbingWalk(root); });

    MSIHANDLE install = OpenPackage(std::string(temp) + "bench" + std::to_string(entries) + ".msi");
    MsiSetPropertyA(install, "OLDDIR", root.c_str());
    MsiSetPropertyA(install, "NEWDIR", target.c_str());
    UINT removeResult = 0, moveResult = 0;
    double remove = Seconds([&] { removeResult = CallAction("RemoveFileTree", install); });
    double move = Seconds([&] { moveResult = CallAction("MoveFileTree", install); });
    long removeRows = CountRows(install, "RemoveFile");
    long moveRows = CountRows(install, "MoveFile");
    MsiCloseHandle(install);
    if (removeResult != 0 || moveResult != 0)
      std::fprintf(stderr, "actions failed: %u %u\n", removeResult, moveResult);

    double n = static_cast<double>(counted);
    std::printf("%8ld %9.3f %11.2f %11.2f %11.2f %11.2f %9.1f %9.1f %9.1f %11ld %9ld\n", counted,
                walk, walk / n * 1e6, probe / n * 1e6, remove / n * 1e6, move / n * 1e6,
                remove / walk, move / walk, move / probe, removeRows, moveRows);
    std::fflush(stdout);
  }
  return 0;
}
