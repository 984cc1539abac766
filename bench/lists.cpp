// Benchmark of the feature and dialog lists: feature tables of 200, 2,000 and
// 20,000 features (four top features, each with a quarter of the features in a
// tree below it, up to eight levels deep) and dialog mappings of the same
// sizes. Times SetFeatureListbox, DefaultListBox (a LIST selection naming a
// quarter of the features), PopulateListBoxTable, and Remove / RemoveAll of a
// top feature with a quarter of the features below it, and prints the time per
// item next to that of a plain fetch of the same table, and the table rows the
// engine looked at per item: the time varies with the machine's load and its
// caches, the rows do not.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <msidefs.h>
#include <objbase.h>

#include "bench/bench.h"
#include "winsim/control.h"

namespace {

using viduzo_bench::Execute;
using viduzo_bench::Seconds;

std::string Key(int i) { return "F" + std::to_string(i); }

// Feature i of n: four top features 0..3; feature i >= 4 belongs to subtree
// i % 4 as its (i / 4)-th member, whose parent is member (m - 1) / 4 of the
// same subtree: a tree of fan-out four, eight levels for 16,384 members.
int Parent(int i) {
  if (i < 4) return -1;
  int m = i / 4;
  return ((m - 1) / 4) * 4 + i % 4;
}

MSIHANDLE OpenPackage(const std::string& path, int n) {
  MSIHANDLE database = 0;
  MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, &database);
  const char* tables[] = {
      "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL "
      "PRIMARY KEY `Property`)",
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` "
      "CHAR(64), `Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` "
      "CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)",
      "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
      "`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
      "`KeyPath` CHAR(72) PRIMARY KEY `Component`)",
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) "
      "NOT NULL PRIMARY KEY `Feature_`, `Component_`)",
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
      "`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)",
      "CREATE TABLE `ListBox` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` "
      "CHAR(64) NOT NULL, `Text` CHAR(64) PRIMARY KEY `Property`, `Order`)",
      "CREATE TABLE `VmrDialogMapping` (`Dialog` CHAR(72) NOT NULL, `Order` SHORT, `EnableKey` "
      "CHAR(72), `DisplayText` CHAR(255) PRIMARY KEY `Dialog`)",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
      "('TARGETDIR', '', 'SourceDir')",
  };
  for (const char* s : tables) Execute(database, s);
  MSIHANDLE row = MsiCreateRecord(4);
  for (int i = 0; i < n; ++i) {
    MsiRecordSetStringA(row, 1, Key(i).c_str());
    MsiRecordSetStringA(row, 2, Parent(i) < 0 ? "" : Key(Parent(i)).c_str());
    MsiRecordSetStringA(row, 3, ("Title " + std::to_string(i)).c_str());
    Execute(database,
            "INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Title`, `Display`, `Level`, "
            "`Attributes`) VALUES (?, ?, ?, 1, 100, 0)",
            row);
    MsiRecordSetStringA(row, 1, ("Dialog" + std::to_string(i)).c_str());
    MsiRecordSetInteger(row, 2, i + 1);
    MsiRecordSetStringA(row, 3, ("Shows dialog " + std::to_string(i)).c_str());
    Execute(database,
            "INSERT INTO `VmrDialogMapping` (`Dialog`, `Order`, `DisplayText`) VALUES (?, ?, ?)",
            row);
  }
  MsiCloseHandle(row);
  Execute(database, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', "
                    "'{5D1C7A40-2E8B-4F96-A3C5-7B0E9D214F68}')");
  MSIHANDLE install = viduzo_bench::OpenAsPackage(database, path);
  for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
    if (MsiDoActionA(install, action) != ERROR_SUCCESS) {
      std::fprintf(stderr, "%s failed\n", action);
      std::exit(1);
    }
  return install;
}

// What a step cost: the time it took, and the table rows the engine looked at
// for it (the same on any machine and under any load).
struct Cost {
  double seconds;
  std::size_t rows;
};

template <class F>
Cost Measure(F&& f) {
  std::size_t rows = winsim::RowsExamined();
  double seconds = Seconds(f);
  return {seconds, winsim::RowsExamined() - rows};
}

// Fetches every row of a query and reads its text fields: the plain cost of
// reading a table through the engine.
long FetchAll(MSIHANDLE install, const std::string& sql) {
  MSIHANDLE database = MsiGetActiveDatabase(install);
  MSIHANDLE view = 0, record = 0;
  long count = 0;
  char buffer[512];
  if (MsiDatabaseOpenViewA(database, sql.c_str(), &view) == ERROR_SUCCESS &&
      MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      for (UINT f = 1; f <= MsiRecordGetFieldCount(record); ++f) {
        DWORD size = sizeof buffer;
        MsiRecordGetStringA(record, f, buffer, &size);
      }
      ++count;
      MsiCloseHandle(record);
    }
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
  MsiCloseHandle(database);
  return count;
}

long CountRows(MSIHANDLE install, const std::string& list) {
  return FetchAll(install, "SELECT * FROM `ListBox` WHERE `Property`='" + list + "'");
}

UINT Call(const char* name, MSIHANDLE install) {
  UINT result = viduzo_bench::CallAction(name, install);
  if (result != ERROR_SUCCESS) std::fprintf(stderr, "%s returned %u\n", name, result);
  return result;
}

struct Figure {
  const char* name;
  Cost cost;
  long items;
};

}  // namespace

int main(int argc, char** argv) {
  // The sizes to measure: 200, 2,000 and 20,000 unless given as arguments.
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {200, 2000, 20000};
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::printf("%8s %-22s %10s %10s %10s %8s %10s\n", "features", "step", "seconds", "items",
              "us/item", "x fetch", "rows/item");
  for (int n : sizes) {
    MSIHANDLE install = OpenPackage(std::string(temp) + "lists" + std::to_string(n) + ".msi", n);
    long fetched = 0;
    Cost fetch = Measure([&] { fetched = FetchAll(install, "SELECT * FROM `Feature`"); });
    double perFetch = fetch.seconds / static_cast<double>(fetched);
    std::vector<Figure> figures;

    figures.push_back({"SetFeatureListbox", Measure([&] { Call("SetFeatureListbox", install); }),
                       CountRows(install, "RemoveFeatureListBox11")});

    // A quarter of the features, named by key, chosen into list 21.
    std::string selection;
    for (int i = 0; i < n; i += 4) selection += Key(i) + ",";
    MsiSetPropertyA(install, "ListPropertyDone", "BenchDone");
    MsiSetPropertyA(install, "ListPropertyFrom", "BenchDefault");
    MsiSetPropertyA(install, "ListPropertyTo", "RemoveFeatureListBox21");
    MsiSetPropertyA(install, "ListPropertyLeftOver", "RemoveFeatureListBox11");
    MsiSetPropertyA(install, "BenchDefault", selection.c_str());
    Cost defaults = Measure([&] { Call("DefaultListBox", install); });
    figures.push_back({"DefaultListBox LIST", defaults, CountRows(install, "RemoveFeatureListBox21")});
    // Back to one list for the buttons.
    MsiSetPropertyA(install, "RemoveFeatureListBox1", "RemoveFeatureListBox21");
    MsiSetPropertyA(install, "RemoveFeatureListBox2", "RemoveFeatureListBox11");
    Call("RemoveAll", install);

    figures.push_back({"PopulateListBoxTable",
                       Measure([&] { Call("PopulateListBoxTable", install); }),
                       CountRows(install, "DialogListBox11")});

    // Remove of the top feature F0, whose subtree holds a quarter of the
    // features; the rest of the list is re-filed under list 12.
    MsiSetPropertyA(install, "RemoveFeatureListBox1", "RemoveFeatureListBox11");
    MsiSetPropertyA(install, "RemoveFeatureListBox2", "RemoveFeatureListBox21");
    MsiSetPropertyA(install, "RemoveFeatureListBox11", "Title 0");
    long listed = CountRows(install, "RemoveFeatureListBox11");
    figures.push_back({"Remove (top feature)", Measure([&] { Call("Remove", install); }), listed});
    long removed = CountRows(install, "RemoveFeatureListBox21");
    MsiSetPropertyA(install, "RemoveFeatureListBox1", "RemoveFeatureListBox12");
    listed = CountRows(install, "RemoveFeatureListBox12");
    figures.push_back({"RemoveAll", Measure([&] { Call("RemoveAll", install); }), listed});
    MsiCloseHandle(install);

    figures.push_back({"plain fetch", fetch, fetched});
    for (const Figure& f : figures) {
      double items = static_cast<double>(f.items > 0 ? f.items : 1);
      double per = f.cost.seconds / items;
      std::printf("%8d %-22s %10.3f %10ld %10.2f %8.1f %10.1f\n", n, f.name, f.cost.seconds,
                  f.items, per * 1e6, per / perFetch, static_cast<double>(f.cost.rows) / items);
    }
    std::printf("%8d (Remove moved %ld)\n", n, removed);
    std::fflush(stdout);
  }
  return 0;
}
