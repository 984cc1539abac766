#include "tests/fixture.h"

#include <msidefs.h>
#include <objbase.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace viduzo_test {
namespace {

int g_packageCount = 0;

std::string TempPath() {
  char buffer[MAX_PATH] = "";
  GetTempPathA(sizeof buffer, buffer);
  return buffer;
}

std::string UniqueName(const char* stem) {
  char name[64];
  wsprintfA(name, "%s%lu_%d", stem, static_cast<unsigned long>(GetTickCount()),
            ++g_packageCount);
  return name;
}

void Execute(MSIHANDLE database, const std::string& sql) {
  MSIHANDLE view = 0;
  UINT result = MsiDatabaseOpenViewA(database, sql.c_str(), &view);
  ASSERT_EQ(result, ERROR_SUCCESS) << sql;
  result = MsiViewExecute(view, 0);
  MsiViewClose(view);
  MsiCloseHandle(view);
  ASSERT_EQ(result, ERROR_SUCCESS) << sql;
}

HMODULE Library() {
  static HMODULE module = LoadLibraryA("viduzo.dll");
  return module;
}

}  // namespace

Package::Package() {
  path_ = TempPath() + UniqueName("vdz") + ".msi";
  UINT result = MsiOpenDatabaseA(path_.c_str(), MSIDBOPEN_CREATE, &database_);
  EXPECT_EQ(result, ERROR_SUCCESS) << path_;
  Sql("CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL "
      "PRIMARY KEY `Property`)");
}

Package::~Package() {
  if (install_) MsiCloseHandle(install_);
  if (database_) MsiCloseHandle(database_);
  DeleteFileA(path_.c_str());
}

Package& Package::Sql(const std::string& sql) {
  EXPECT_NE(database_, 0u) << "the package is already open";
  if (database_) Execute(database_, sql);
  return *this;
}

Package& Package::Table(const std::string& name) {
  static const std::pair<const char*, const char*> kTables[] = {
      {"Directory",
       "`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) NOT "
       "NULL LOCALIZABLE PRIMARY KEY `Directory`"},
      {"Component",
       "`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, "
       "`Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY "
       "`Component`"},
      {"Feature",
       "`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) LOCALIZABLE, "
       "`Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, "
       "`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`"},
      {"FeatureComponents",
       "`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Feature_`, "
       "`Component_`"},
      {"File",
       "`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL "
       "LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), "
       "`Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY `File`"},
      {"RemoveFile",
       "`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) "
       "LOCALIZABLE, `DirProperty` CHAR(72) NOT NULL, `InstallMode` SHORT NOT NULL PRIMARY KEY "
       "`FileKey`"},
      {"MoveFile",
       "`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `SourceName` CHAR(255) "
       "LOCALIZABLE, `DestName` CHAR(255) LOCALIZABLE, `SourceFolder` CHAR(72), `DestFolder` "
       "CHAR(72) NOT NULL, `Options` SHORT NOT NULL PRIMARY KEY `FileKey`"},
      {"CustomAction",
       "`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` "
       "CHAR(255) PRIMARY KEY `Action`"},
      // The user-interface tables, with the column types the engine gives them.
      {"Dialog",
       "`Dialog` CHAR(72) NOT NULL, `HCentering` SHORT NOT NULL, `VCentering` SHORT NOT NULL, "
       "`Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, `Title` CHAR(128) "
       "LOCALIZABLE, `Control_First` CHAR(50) NOT NULL, `Control_Default` CHAR(50), "
       "`Control_Cancel` CHAR(50) PRIMARY KEY `Dialog`"},
      {"Control",
       "`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT NULL, "
       "`X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT "
       "NULL, `Attributes` LONG, `Property` CHAR(72), `Text` CHAR(0) LOCALIZABLE, "
       "`Control_Next` CHAR(50), `Help` CHAR(50) LOCALIZABLE PRIMARY KEY `Dialog_`, `Control`"},
      {"ControlEvent",
       "`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Event` CHAR(50) NOT NULL, "
       "`Argument` CHAR(255) NOT NULL, `Condition` CHAR(255), `Ordering` SHORT PRIMARY KEY "
       "`Dialog_`, `Control_`, `Event`, `Argument`, `Condition`"},
      {"ControlCondition",
       "`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Action` CHAR(50) NOT NULL, "
       "`Condition` CHAR(255) NOT NULL PRIMARY KEY `Dialog_`, `Control_`, `Action`, "
       "`Condition`"},
      {"EventMapping",
       "`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Event` CHAR(50) NOT NULL, "
       "`Attribute` CHAR(50) NOT NULL PRIMARY KEY `Dialog_`, `Control_`, `Event`"},
      {"ListBox",
       "`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` CHAR(64) NOT NULL, "
       "`Text` CHAR(64) LOCALIZABLE PRIMARY KEY `Property`, `Order`"},
      {"Binary", "`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`"},
      // The package's own tree tables, which the tree walks read by position.
      {"VmrRemoveFileTree",
       "`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `Root` CHAR(72) NOT NULL, "
       "`Mode` SHORT, `DirCondition` CHAR(255), `FileCondition` CHAR(255) PRIMARY KEY `Tree`"},
      {"VmrMoveFileTree",
       "`Tree` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `SourceRoot` CHAR(72) NOT "
       "NULL, `DestRoot` CHAR(72) NOT NULL, `Options` SHORT, `DirCondition` CHAR(255), "
       "`FileCondition` CHAR(255) PRIMARY KEY `Tree`"},
  };
  for (const auto& [table, columns] : kTables)
    if (name == table) return Sql("CREATE TABLE `" + name + "` (" + columns + ")");
  ADD_FAILURE() << "no standard table " << name;
  return *this;
}

Package& Package::Property(const std::string& name, const std::string& value) {
  return Sql("INSERT INTO `Property` (`Property`, `Value`) VALUES ('" + name + "', '" + value +
             "')");
}

Package& Package::Binary(const std::string& name, const std::string& path) {
  EXPECT_NE(database_, 0u) << "the package is already open";
  if (!database_) return *this;
  MSIHANDLE view = 0;
  const char sql[] = "INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)";
  EXPECT_EQ(MsiDatabaseOpenViewA(database_, sql, &view), ERROR_SUCCESS);
  MSIHANDLE record = MsiCreateRecord(2);
  MsiRecordSetStringA(record, 1, name.c_str());
  EXPECT_EQ(MsiRecordSetStreamA(record, 2, path.c_str()), ERROR_SUCCESS) << path;
  EXPECT_EQ(MsiViewExecute(view, record), ERROR_SUCCESS) << name;
  MsiCloseHandle(record);
  MsiViewClose(view);
  MsiCloseHandle(view);
  return *this;
}

MSIHANDLE Package::Open() {
  MSIHANDLE summary = 0;
  EXPECT_EQ(MsiGetSummaryInformationA(database_, nullptr, 5, &summary), ERROR_SUCCESS);
  MsiSummaryInfoSetPropertyA(summary, PID_TEMPLATE, VT_LPSTR, 0, nullptr, ";1033");
  MsiSummaryInfoSetPropertyA(summary, PID_REVNUMBER, VT_LPSTR, 0, nullptr,
                             "{7C3E6A14-2B9D-4F1A-9E55-0D8C41B7A263}");
  MsiSummaryInfoSetPropertyA(summary, PID_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
  MsiSummaryInfoSetPropertyA(summary, PID_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
  EXPECT_EQ(MsiSummaryInfoPersist(summary), ERROR_SUCCESS);
  MsiCloseHandle(summary);
  EXPECT_EQ(MsiDatabaseCommit(database_), ERROR_SUCCESS);
  MsiCloseHandle(database_);
  database_ = 0;

  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  UINT result = MsiOpenPackageA(path_.c_str(), &install_);
  EXPECT_EQ(result, ERROR_SUCCESS) << path_;
  return install_;
}

std::string GetProp(MSIHANDLE install, const std::string& name) {
  std::vector<char> buffer(16);
  DWORD count = static_cast<DWORD>(buffer.size());
  UINT result = MsiGetPropertyA(install, name.c_str(), buffer.data(), &count);
  if (result == ERROR_MORE_DATA) {
    buffer.resize(count + 1);
    count = static_cast<DWORD>(buffer.size());
    result = MsiGetPropertyA(install, name.c_str(), buffer.data(), &count);
  }
  EXPECT_EQ(result, ERROR_SUCCESS) << name;
  return std::string(buffer.data(), count);
}

void SetProp(MSIHANDLE install, const std::string& name, const std::string& value) {
  EXPECT_EQ(MsiSetPropertyA(install, name.c_str(), value.c_str()), ERROR_SUCCESS) << name;
}

UINT CallAction(MSIHANDLE install, const char* name) {
  HMODULE module = Library();
  EXPECT_NE(module, nullptr) << "viduzo.dll did not load";
  if (!module) return ERROR_INSTALL_FAILURE;
  auto action = reinterpret_cast<UINT(WINAPI*)(MSIHANDLE)>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
  EXPECT_NE(action, nullptr) << name << " is not exported";
  if (!action) return ERROR_INSTALL_FAILURE;
#ifndef _WIN32
  std::size_t before = winsim::OpenHandleCount();
  std::size_t kernelBefore = winsim::OpenKernelHandleCount();
  std::size_t blocksBefore = winsim::HeapBlockCount();
  std::size_t keysBefore = winsim::OpenKeyCount();
  long linksBefore = winsim::LiveShellLinkCount();
  int comBefore = winsim::ComInitializeDepth();
  UINT result = action(install);
  EXPECT_EQ(winsim::LiveShellLinkCount(), linksBefore) << name << " left a shell link alive";
  EXPECT_EQ(winsim::ComInitializeDepth(), comBefore) << name << " left OLE initialised";
  EXPECT_EQ(winsim::OpenKeyCount(), keysBefore) << name << " left a registry key open";
  EXPECT_EQ(winsim::OpenHandleCount(), before) << name << " left an installer handle open";
  EXPECT_EQ(winsim::OpenKernelHandleCount(), kernelBefore) << name << " left a file handle open";
  EXPECT_EQ(winsim::HeapBlockCount(), blocksBefore) << name << " left a heap block behind";
  return result;
#else
  return action(install);
#endif
}

#ifndef _WIN32
void InFreshProcess(const std::function<void()>& body) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        body();
        // The parent shows what the process wrote to stderr.
        const ::testing::TestResult* result =
            ::testing::UnitTest::GetInstance()->current_test_info()->result();
        for (int i = 0; i < result->total_part_count(); ++i) {
          const ::testing::TestPartResult& part = result->GetTestPartResult(i);
          if (part.failed())
            std::fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?",
                         part.line_number(), part.message());
        }
        std::exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "")
      << "a check failed in the fresh process (see its output above)";
}

HandleCheck::HandleCheck() : before_(winsim::OpenHandleCount()) {}
HandleCheck::~HandleCheck() {
  EXPECT_EQ(winsim::OpenHandleCount(), before_) << "installer handles left open";
}
#else
HandleCheck::HandleCheck() {}
HandleCheck::~HandleCheck() {}
#endif

std::string TempFolder(const std::string& name) {
  std::string folder = TempPath() + UniqueName(name.c_str()) + "\\";
  EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
  return folder;
}

Rows QueryRows(MSIHANDLE install, const std::string& sql) {
  Rows rows;
  MSIHANDLE database = MsiGetActiveDatabase(install);
  MSIHANDLE view = 0;
  EXPECT_EQ(MsiDatabaseOpenViewA(database, sql.c_str(), &view), ERROR_SUCCESS) << sql;
  EXPECT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS) << sql;
  MSIHANDLE record = 0;
  while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
    std::vector<std::string> row;
    UINT count = MsiRecordGetFieldCount(record);
    for (UINT i = 1; i <= count; ++i) {
      std::vector<char> buffer(MsiRecordDataSize(record, i) + 16);
      DWORD size = static_cast<DWORD>(buffer.size());
      MsiRecordGetStringA(record, i, buffer.data(), &size);
      row.emplace_back(buffer.data(), size);
    }
    rows.push_back(row);
    MsiCloseHandle(record);
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
  MsiCloseHandle(database);
  std::sort(rows.begin(), rows.end());
  return rows;
}

void WriteFile(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

#ifndef _WIN32
void PlantFile(const std::string& path, const std::string& content) {
  const std::filesystem::path host = winsim::HostPath(path);
  ASSERT_FALSE(host.empty()) << path;
  std::filesystem::create_directories(host.parent_path());
  std::ofstream(host, std::ios::binary) << content;
}
#endif

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<cannot open>";
  std::string content;
  char chunk[512];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) content.append(chunk, got);
  CloseHandle(file);
  return content;
}

std::string Format(MSIHANDLE install, const std::string& templ) {
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, templ.c_str());
  std::vector<char> buffer(16);
  DWORD count = static_cast<DWORD>(buffer.size());
  UINT result = MsiFormatRecordA(install, record, buffer.data(), &count);
  if (result == ERROR_MORE_DATA) {
    buffer.resize(count + 1);
    count = static_cast<DWORD>(buffer.size());
    result = MsiFormatRecordA(install, record, buffer.data(), &count);
  }
  MsiCloseHandle(record);
  EXPECT_EQ(result, ERROR_SUCCESS) << templ;
  return std::string(buffer.data(), count);
}

void Cost(MSIHANDLE install) {
  for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
    ASSERT_EQ(MsiDoActionA(install, action), 0u) << action;
}

std::string ShortName(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path.c_str(), &data);
  EXPECT_NE(find, INVALID_HANDLE_VALUE) << path;
  if (find == INVALID_HANDLE_VALUE) return "";
  FindClose(find);
  return data.cAlternateFileName;
}

}  // namespace viduzo_test
