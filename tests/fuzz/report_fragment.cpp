// Fuzz target: the merge of report fragments (AddFragment), any bytes at all.
// The input's first byte chooses the code page (odd: 932, so that double-byte
// characters whose trail byte is a brace or a backslash occur); the rest is
// split at zero bytes into up to four fragments, each handed over as a text of
// exactly its own length. Property references resolve against a package
// opened once. After each fragment the document must keep the merge's limits
// and shapes, read from its definition:
//
//   at most 2048 font entries, color entries and body pieces, at most 128
//   mapped fonts and colors per fragment; font entry i is "{\f<i>" followed by
//   a description that begins with a backslash and ends with "}", at most 127
//   characters in all; color entry 0 is "{\colortbl ;", every other one a
//   definition from a backslash to its ";" of at most 128 characters, without
//   brace characters; a fragment without "\fonttbl" changes nothing; merging the same
//   fragments again gives the same document; no installer handle stays open.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "bench/bench.h"
#include "reports/rtf_report.h"
#include "winsim/control.h"

namespace {

MSIHANDLE g_install = 0;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

void CheckShapes(const viduzo::ReportDocument& doc) {
  Check(doc.fonts.size() <= viduzo::kReportMaxEntries);
  Check(doc.colors.size() <= viduzo::kReportMaxEntries);
  Check(doc.body.size() <= viduzo::kReportMaxEntries);
  Check(doc.fontMap.size() <= viduzo::kReportMaxMapped);
  Check(doc.colorMap.size() <= viduzo::kReportMaxMapped);
  for (size_t i = 0; i < doc.fonts.size(); ++i) {
    const std::string& entry = doc.fonts[i].text;
    std::string head = "{\\f" + std::to_string(i);
    Check(StartsWith(entry, head) && entry.size() > head.size() && entry[head.size()] == '\\');
    Check(entry.size() <= 127 && entry.back() == '}');
  }
  for (size_t i = 0; i < doc.colors.size(); ++i) {
    const std::string& entry = doc.colors[i].text;
    if (i == 0) {
      Check(entry == "{\\colortbl ;");
      continue;
    }
    Check(entry.size() <= 128 && entry.front() == '\\' && entry.back() == ';');
    // A brace in a definition can only be the trail byte of a double-byte character.
    for (const char* p = entry.c_str(); *p; p = CharNextA(p)) Check(*p != '{' && *p != '}');
  }
}

std::string Merge(const std::vector<std::string>& fragments, bool check) {
  viduzo::ReportDocument doc;
  doc.install = g_install;
  doc.Open("Dlg", "Report");
  for (const std::string& fragment : fragments) {
    // Exactly the fragment and its terminator, so that any read past it is seen.
    char* text = static_cast<char*>(std::malloc(fragment.size() + 1));
    std::memcpy(text, fragment.c_str(), fragment.size() + 1);
    std::string before = doc.Document();
    std::size_t handles = winsim::OpenHandleCount();
    viduzo::AddFragment(doc, text);
    Check(winsim::OpenHandleCount() == handles);
    if (check) {
      CheckShapes(doc);
      if (fragment.find("\\fonttbl") == std::string::npos) Check(doc.Document() == before);
    }
    doc.ClearMaps();
    std::free(text);
  }
  return doc.Document();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char path[MAX_PATH];
  GetTempPathA(sizeof path, path);
  lstrcatA(path, "fuzz_report_fragment.msi");
  MSIHANDLE database = 0;
  MsiOpenDatabaseA(path, MSIDBOPEN_CREATE, &database);
  viduzo_bench::Execute(database,
                        "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) "
                        "NOT NULL PRIMARY KEY `Property`)");
  g_install = viduzo_bench::OpenAsPackage(database, path);
  MsiSetPropertyA(g_install, "PROP1", "Property 1");
  MsiSetPropertyA(g_install, "FOLDER", "C:\\Program Files\\{Velmar}\\");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  winsim::SetCodePage(data[0] & 1 ? 932 : 1252);
  std::vector<std::string> fragments(1);
  for (size_t i = 1; i < size; ++i) {
    if (data[i] != 0) {
      fragments.back() += static_cast<char>(data[i]);
    } else if (fragments.size() < 4) {
      fragments.emplace_back();
    }
  }
  std::string first = Merge(fragments, true);
  Check(Merge(fragments, false) == first);
  return 0;
}
