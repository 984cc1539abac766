// Benchmark of the rich-text reports: Report tables of 10, 100 and 2,048
// fragments of 1 KB to 64 KB (the sizes 1, 2, 4 ... 64 KB in turn), eight
// fragments to a report control. Each fragment has its own and a shared font,
// a color table, and a body of plain paragraphs with a renumbered font and
// color word and a property reference every 4 KB. Prints the time
// GenerateRtfFromReportTable takes per input byte, next to that of a plain
// fetch of the Report table that reads every text, and the ratio of the time
// per byte to that of the smallest table.
#include <cstdio>
#include <string>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "bench/bench.h"

namespace {

using viduzo_bench::Execute;
using viduzo_bench::Seconds;
using viduzo_bench::CallAction;

constexpr int kFragmentsPerControl = 8;

std::string Fragment(int i, size_t size) {
  std::string text = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 "
                     "Arial;}{\\f1\\fmodern\\fcharset0 Mono " +
                     std::to_string(i % 64) +
                     ";}}{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue" +
                     std::to_string(i % 200) +
                     ";}{\\*\\generator Msftedit 5.41.21.2510;}\\viewkind4\\uc1\\pard\\cf1\\f0\\fs20 ";
  const std::string paragraph =
      "The quick brown fox jumps over the lazy dog, \\b twice\\b0 , and C:\\\\Temp stays a "
      "path.\\par\r\n";
  size_t next = 0;
  while (text.size() + 16 < size) {
    if (text.size() >= next) {
      text += "\\cf2\\f1 [PROP1] \\cf1\\f0 ";
      next = text.size() + 4096;
    }
    text += paragraph;
  }
  return text + "\\par\r\n}\r\n";
}

MSIHANDLE OpenPackage(const std::string& path, int fragments, long* bytes) {
  MSIHANDLE database = 0;
  MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, &database);
  Execute(database,
          "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL "
          "PRIMARY KEY `Property`)");
  Execute(database,
          "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, "
          "`Type` CHAR(20) NOT NULL, `X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT "
          "NULL, `Height` SHORT NOT NULL, `Attributes` LONG, `Property` CHAR(72), `Text` "
          "CHAR(0), `Control_Next` CHAR(50), `Help` CHAR(50) PRIMARY KEY `Dialog_`, `Control`)");
  Execute(database,
          "CREATE TABLE `Report` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, "
          "`Order` SHORT NOT NULL, `Condition` CHAR(255), `Text` CHAR(0) PRIMARY KEY "
          "`Dialog_`, `Control_`, `Order`)");
  MSIHANDLE row = MsiCreateRecord(5);
  *bytes = 0;
  for (int i = 0; i < fragments; ++i) {
    std::string control = "R" + std::to_string(i / kFragmentsPerControl);
    if (i % kFragmentsPerControl == 0)
      Execute(database,
              "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, "
              "`Height`, `Attributes`, `Control_Next`) VALUES ('Dlg', '" +
                  control + "', 'ScrollableText', 10, 10, 300, 200, 3, '" + control +
                  "_Template')");
    std::string text = Fragment(i, size_t{1024} << (i % 7));
    *bytes += static_cast<long>(text.size());
    MsiRecordSetStringA(row, 1, "Dlg");
    MsiRecordSetStringA(row, 2, control.c_str());
    MsiRecordSetInteger(row, 3, i);
    MsiRecordSetStringA(row, 4, i % 16 == 15 ? "NOT PROP1" : "");
    MsiRecordSetStringA(row, 5, text.c_str());
    Execute(database,
            "INSERT INTO `Report` (`Dialog_`, `Control_`, `Order`, `Condition`, `Text`) "
            "VALUES (?, ?, ?, ?, ?)",
            row);
  }
  MsiCloseHandle(row);
  return viduzo_bench::OpenAsPackage(database, path);
}

// Fetches every Report row and reads its text: the plain cost of the input.
long FetchAll(MSIHANDLE install) {
  MSIHANDLE database = MsiGetActiveDatabase(install);
  MSIHANDLE view = 0, record = 0;
  long bytes = 0;
  Execute(database, "SELECT `Text` FROM `Report`");
  MsiDatabaseOpenViewA(database, "SELECT `Text` FROM `Report` ORDER BY `Dialog_`,`Control_`,`Order`",
                       &view);
  MsiViewExecute(view, 0);
  std::string buffer;
  while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
    DWORD size = MsiRecordDataSize(record, 1) + 1;
    buffer.resize(size);
    MsiRecordGetStringA(record, 1, buffer.data(), &size);
    bytes += static_cast<long>(size);
    MsiCloseHandle(record);
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
  MsiCloseHandle(database);
  return bytes;
}


}  // namespace

int main() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::printf("%9s %12s %10s %10s %10s %9s\n", "fragments", "bytes", "seconds", "ns/byte",
              "fetch", "x first");
  double first = 0;
  for (int fragments : {10, 100, 2048}) {
    std::string path = std::string(temp) + "bench_reports_" + std::to_string(fragments) + ".msi";
    long bytes = 0;
    MSIHANDLE install = OpenPackage(path, fragments, &bytes);
    long fetched = 0;
    double fetch = Seconds([&] { fetched = FetchAll(install); });
    UINT result = ERROR_SUCCESS;
    double seconds = Seconds([&] { result = CallAction("GenerateRtfFromReportTable", install); });
    if (result != ERROR_SUCCESS) std::fprintf(stderr, "GenerateRtfFromReportTable returned %u\n", result);
    double perByte = seconds * 1e9 / static_cast<double>(bytes);
    if (first == 0) first = perByte;
    std::printf("%9d %12ld %10.3f %10.2f %10.2f %9.2f\n", fragments, bytes, seconds, perByte,
                fetch * 1e9 / static_cast<double>(fetched), perByte / first);
    MsiCloseHandle(install);
    DeleteFileA(path.c_str());
  }
  return 0;
}
