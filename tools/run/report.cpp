// The account of a run: for each action, its result and what it changed,
// readable or as JSON; and the tables of a package as loaded.
#include "tools/run/report.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "winsim/control.h"

namespace viduzo_run {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      // Text is ANSI text of code page 1252 or 932; JSON wants Unicode, so
      // bytes past ASCII are written as the code points of their byte values.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Text for people: between quotes, with only quotes and control characters escaped.
std::string Shown(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out + "\"";
}

}  // namespace

const char* ResultName(UINT result) {
  switch (result) {
    case ERROR_SUCCESS: return "ERROR_SUCCESS";
    case ERROR_INVALID_HANDLE: return "ERROR_INVALID_HANDLE";
    case ERROR_INVALID_PARAMETER: return "ERROR_INVALID_PARAMETER";
    case ERROR_MORE_DATA: return "ERROR_MORE_DATA";
    case ERROR_NO_MORE_ITEMS: return "ERROR_NO_MORE_ITEMS";
    case ERROR_INSTALL_USEREXIT: return "ERROR_INSTALL_USEREXIT";
    case ERROR_INSTALL_FAILURE: return "ERROR_INSTALL_FAILURE";
    case ERROR_INSTALL_SUSPEND: return "ERROR_INSTALL_SUSPEND";
    case ERROR_FUNCTION_NOT_CALLED: return "ERROR_FUNCTION_NOT_CALLED";
    case ERROR_FUNCTION_FAILED: return "ERROR_FUNCTION_FAILED";
    case ERROR_BAD_QUERY_SYNTAX: return "ERROR_BAD_QUERY_SYNTAX";
    default: return "";
  }
}

void PrintText(const Account& account) {
  const SourcePackage& source = account.source;
  const LoadedPackage& loaded = account.loaded;
  std::printf("package %s: %zu tables read with %s\n", account.package.c_str(),
              source.tables.size(), source.origin.c_str());
  for (const std::string& binary : loaded.substitutedBinaries)
    std::printf("Binary row %s stands for this build's viduzo.dll\n", binary.c_str());
  for (const ActionRun& run : account.runs) {
    std::printf("\n");
    if (run.how == "skipped") {
      std::printf("%s: skipped, condition false: %s\n", run.name.c_str(), run.condition.c_str());
      continue;
    }
    const char* name = ResultName(run.result);
    const std::string how = run.how == "export"          ? "viduzo.dll"
                            : run.how == "custom action" ? "custom action, viduzo.dll " + run.target
                                                         : run.how;
    std::printf("%s (%s): %u%s%s%s\n", run.name.c_str(), how.c_str(), run.result, *name ? " " : "", name,
                run.changes.empty() ? ", nothing changed" : "");
    for (const Change& c : run.changes) {
      if (c.what == "property") {
        if (c.kind == "added")
          std::printf("  property %s = %s\n", c.name.c_str(), Shown(c.after).c_str());
        else if (c.kind == "changed")
          std::printf("  property %s = %s (was %s)\n", c.name.c_str(), Shown(c.after).c_str(),
                      Shown(c.before).c_str());
        else
          std::printf("  property %s cleared (was %s)\n", c.name.c_str(), Shown(c.before).c_str());
      } else if (c.what == "row") {
        std::printf("  row %s %s%s: %s\n", c.kind == "added" ? "+" : "-", c.name.c_str(),
                    c.temporary ? " (temporary)" : "", c.after.c_str());
      } else if (c.what == "registry") {
        const char* sign = c.kind == "added" ? "+" : c.kind == "removed" ? "-" : "~";
        if (c.kind == "added" || c.kind == "changed")
          std::printf("  registry %s %s%s%s\n", sign, c.name.c_str(),
                      c.name.find('|') == std::string::npos ? "" : " = ",
                      c.name.find('|') == std::string::npos ? "" : Shown(c.after).c_str());
        else
          std::printf("  registry %s %s\n", sign, c.name.c_str());
      } else if (c.what == "file") {
        const char* sign = c.kind == "added" ? "+" : c.kind == "removed" ? "-" : "~";
        std::printf("  file %s %s%s%s\n", sign, c.name.c_str(), c.after.empty() ? "" : " ",
                    c.after.c_str());
      } else if (c.what == "debug") {
        std::printf("  debug %s\n", Shown(c.after).c_str());
      } else if (c.what == "message") {
        std::string fields;
        for (std::size_t i = 0; i < c.texts.size(); ++i)
          fields += (i ? ", " : "") + Shown(c.texts[i]);
        std::printf("  message %s [%s]\n", c.name.c_str(), fields.c_str());
      } else if (c.what == "messagebox") {
        std::printf("  message box %s: %s\n", Shown(c.name).c_str(), Shown(c.after).c_str());
      } else if (c.what == "leak") {
        std::printf("  left open: %s %s\n", c.after.c_str(), c.name.c_str());
      }
    }
  }
  if (!account.stopped.empty()) std::printf("\n%s\n", account.stopped.c_str());
}

void PrintJson(const Account& account) {
  const SourcePackage& source = account.source;
  const LoadedPackage& loaded = account.loaded;
  std::printf("{\"package\": %s, \"readWith\": %s, \"tables\": %zu, \"viduzoBinaries\": [",
              Quoted(account.package).c_str(), Quoted(source.origin).c_str(), source.tables.size());
  for (std::size_t i = 0; i < loaded.substitutedBinaries.size(); ++i)
    std::printf("%s%s", i ? ", " : "", Quoted(loaded.substitutedBinaries[i]).c_str());
  std::printf("],\n \"actions\": [");
  for (std::size_t r = 0; r < account.runs.size(); ++r) {
    const ActionRun& run = account.runs[r];
    std::printf("%s\n  {\"action\": %s, \"how\": %s", r ? "," : "", Quoted(run.name).c_str(),
                Quoted(run.how).c_str());
    if (run.how == "skipped") {
      std::printf(", \"condition\": %s}", Quoted(run.condition).c_str());
      continue;
    }
    if (!run.target.empty()) std::printf(", \"export\": %s", Quoted(run.target).c_str());
    std::printf(", \"result\": %u, \"resultName\": %s, \"changes\": [", run.result,
                Quoted(ResultName(run.result)).c_str());
    for (std::size_t i = 0; i < run.changes.size(); ++i) {
      const Change& c = run.changes[i];
      std::printf("%s\n    {\"what\": %s", i ? "," : "", Quoted(c.what).c_str());
      if (!c.kind.empty()) std::printf(", \"change\": %s", Quoted(c.kind).c_str());
      if (!c.name.empty()) std::printf(", \"name\": %s", Quoted(c.name).c_str());
      if (c.what == "row") {
        std::printf(", \"temporary\": %s, \"fields\": {", c.temporary ? "true" : "false");
        for (std::size_t f = 0; f < c.fields.size(); ++f)
          std::printf("%s%s: %s", f ? ", " : "", Quoted(c.fields[f].first).c_str(),
                      Quoted(c.fields[f].second).c_str());
        std::printf("}}");
        continue;
      }
      if (c.what == "message") {
        std::printf(", \"fields\": [");
        for (std::size_t f = 0; f < c.texts.size(); ++f)
          std::printf("%s%s", f ? ", " : "", Quoted(c.texts[f]).c_str());
        std::printf("]}");
        continue;
      }
      if (c.kind == "changed" || c.kind == "removed")
        std::printf(", \"before\": %s", Quoted(c.before).c_str());
      if (c.kind != "removed") std::printf(", \"after\": %s", Quoted(c.after).c_str());
      std::printf("}");
    }
    std::printf("]}");
  }
  std::printf("]");
  if (!account.stopped.empty()) std::printf(",\n \"stopped\": %s", Quoted(account.stopped).c_str());
  std::printf("}\n");
}

void PrintTables(MSIHANDLE install) {
  for (const winsim::TableContent& table : winsim::DatabaseTables(install)) {
    std::printf("table %s", table.name.c_str());
    for (std::size_t i = 0; i < table.columns.size(); ++i)
      std::printf("%s%s %s%s", i ? ", " : " (", table.columns[i].c_str(), table.types[i].c_str(),
                  i < table.keyCount ? " key" : "");
    std::printf(")\n");
    std::vector<std::string> rows;
    for (const winsim::TableRowContent& row : table.rows) {
      std::string text;
      for (std::size_t i = 0; i < row.fields.size(); ++i) {
        const bool stream = table.types[i][0] == 'v' || table.types[i][0] == 'V';
        text += (i ? "\t" : "  ") + (stream && !row.fields[i].empty()
                                         ? "<stream of " + std::to_string(row.fields[i].size()) +
                                               " bytes, digest " +
                                               std::to_string(std::hash<std::string>()(row.fields[i])) + ">"
                                         : Quoted(row.fields[i]));
      }
      rows.push_back(text);
    }
    std::sort(rows.begin(), rows.end());
    for (const std::string& row : rows) std::printf("%s\n", row.c_str());
  }
}

}  // namespace viduzo_run
