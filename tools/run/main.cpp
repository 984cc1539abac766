// viduzo-run: runs viduzo's actions against a package on Linux, in winsim.
//
//   viduzo-run PACKAGE [options] [NAME=VALUE ...] [ACTION ...]
//
// PACKAGE is an .msi file (read through libmsi) or a folder of .idt files. The
// scenario (options or a file) sets up the machine and the session; each action
// runs with the install handle, an export of viduzo.dll through the DLL's
// export table, any other name through the engine (MsiDoActionA), and what it
// changed is printed, readable or as JSON. Exit code: 0 when every action
// returned 0, 1 when one returned something else, 2 when the run could not
// start (the reason on one line).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "tools/run/changes.h"
#include "tools/run/load.h"
#include "tools/run/scenario.h"
#include "tools/run/source.h"
#include "winsim/control.h"

namespace viduzo_run {
namespace {

const char kUsage[] =
    "usage: viduzo-run PACKAGE [options] [NAME=VALUE ...] [ACTION ...]\n"
    "  PACKAGE               an .msi file or a folder of .idt files\n"
    "  ACTION                an export of viduzo.dll, a CustomAction of the package, or\n"
    "                        CostInitialize, FileCost, CostFinalize, AppSearch\n"
    "  NAME=VALUE            a property, as on msiexec's command line\n"
    "  -s, --scenario FILE   items of a scenario file (see the README)\n"
    "  -p, --property NAME=VALUE\n"
    "  -r, --registry KEY[|NAME=VALUE]   VALUE in the Registry table's notation\n"
    "  -f, --file PATH=TEXT | PATH<HOSTFILE\n"
    "  --line PATH=TEXT      one more line of a file\n"
    "  --folder PATH\n"
    "  --answer N            what MsiProcessMessage answers\n"
    "  --sequence TABLE      run the package's sequence table (InstallExecuteSequence, ...)\n"
    "  --all                 every export of viduzo.dll, in the order of its export list\n"
    "  --tables              print the package's tables as loaded, and run nothing\n"
    "  --json                JSON instead of text\n";

// The export list, from the one list the DLL is built from.
const char* const kExports[] = {
#define VIDUZO_ACTION(Name) #Name,
#include "dll/actions.h"
#undef VIDUZO_ACTION
};

// The standard actions winsim's engine carries out when asked by name.
const char* const kEngineActions[] = {"CostInitialize", "FileCost", "CostFinalize", "AppSearch"};

struct Options {
  std::string package;
  Scenario scenario;
  bool all = false;
  bool tables = false;
  bool json = false;
};

struct ActionRun {
  std::string name;
  std::string how;  // "export", "custom action", "engine", "skipped"
  std::string target;  // the export a custom action calls
  std::string condition;
  UINT result = 0;
  std::vector<Change> changes;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "viduzo-run: %s\n", message.c_str());
  return 2;
}

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

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  static const std::pair<const char*, const char*> kItems[] = {
      {"-p", "property"}, {"--property", "property"}, {"-r", "registry"},
      {"--registry", "registry"}, {"-f", "file"}, {"--file", "file"}, {"--line", "line"},
      {"--folder", "folder"}, {"--answer", "answer"}, {"--sequence", "sequence"}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* item = nullptr;
    for (const auto& [option, kind] : kItems)
      if (arg == option) item = kind;
    if (item || arg == "-s" || arg == "--scenario") {
      if (i + 1 >= argc) {
        *error = arg + " needs an argument";
        return false;
      }
      const std::string value = argv[++i];
      if (!(item ? AddScenarioItem(item, value, &options->scenario, error)
                 : ReadScenarioFile(value, &options->scenario, error)))
        return false;
    } else if (arg == "--all") {
      options->all = true;
    } else if (arg == "--tables") {
      options->tables = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option " + arg + " (--help lists them)";
      return false;
    } else if (options->package.empty()) {
      options->package = arg;
    } else if (arg.find('=') != std::string::npos) {
      if (!AddScenarioItem("property", arg, &options->scenario, error)) return false;
    } else {
      options->scenario.actions.push_back(arg);
    }
  }
  if (options->package.empty()) {
    *error = "no package given\n" + std::string(kUsage);
    return false;
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool HasCustomAction(MSIHANDLE install, const std::string& name) {
  MSIHANDLE database = MsiGetActiveDatabase(install);
  MSIHANDLE view = 0, params = MsiCreateRecord(1), record = 0;
  MsiRecordSetStringA(params, 1, name.c_str());
  bool found = MsiDatabaseOpenViewA(database, "SELECT `Action` FROM `CustomAction` WHERE `Action` = ?",
                                    &view) == ERROR_SUCCESS &&
               MsiViewExecute(view, params) == ERROR_SUCCESS &&
               MsiViewFetch(view, &record) == ERROR_SUCCESS;
  if (record) MsiCloseHandle(record);
  if (view) {
    MsiViewClose(view);
    MsiCloseHandle(view);
  }
  MsiCloseHandle(params);
  MsiCloseHandle(database);
  return found;
}

using Action = UINT(WINAPI*)(MSIHANDLE);

Action Export(HMODULE viduzo, const std::string& name) {
  return reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(viduzo, name.c_str())));
}

bool IsEngineAction(const std::string& name) {
  for (const char* known : kEngineActions)
    if (name == known) return true;
  return false;
}

struct SequenceRow {
  std::string action, condition;
};

// The rows of a sequence table with a positive sequence number, in order.
bool ReadSequence(MSIHANDLE install, const std::string& table, std::vector<SequenceRow>* rows,
                  std::string* error) {
  MSIHANDLE database = MsiGetActiveDatabase(install);
  MSIHANDLE view = 0;
  const std::string sql = "SELECT `Action`, `Condition`, `Sequence` FROM `" + table +
                          "` WHERE `Sequence` > 0 ORDER BY `Sequence`";
  bool ok = table.find('`') == std::string::npos &&
            MsiDatabaseOpenViewA(database, sql.c_str(), &view) == ERROR_SUCCESS &&
            MsiViewExecute(view, 0) == ERROR_SUCCESS;
  MSIHANDLE record = 0;
  while (ok && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
    SequenceRow row;
    for (int field = 1; field <= 2; ++field) {
      char buffer[1024] = "";
      DWORD size = sizeof buffer;
      MsiRecordGetStringA(record, static_cast<UINT>(field), buffer, &size);
      (field == 1 ? row.action : row.condition) = buffer;
    }
    rows->push_back(row);
    MsiCloseHandle(record);
  }
  if (view) {
    MsiViewClose(view);
    MsiCloseHandle(view);
  }
  MsiCloseHandle(database);
  if (!ok) *error = "the package has no sequence table " + table + " (with Action, Condition and Sequence)";
  return ok;
}

// ---- output ---------------------------------------------------------------------

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
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c >= 0x80) {
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

void PrintText(const Options& options, const SourcePackage& source, const LoadedPackage& loaded,
               const std::vector<ActionRun>& runs, const std::string& stopped) {
  std::printf("package %s: %zu tables read with %s\n", options.package.c_str(),
              source.tables.size(), source.origin.c_str());
  for (const std::string& binary : loaded.substitutedBinaries)
    std::printf("Binary row %s stands for this build's viduzo.dll\n", binary.c_str());
  for (const ActionRun& run : runs) {
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
  if (!stopped.empty()) std::printf("\n%s\n", stopped.c_str());
}

void PrintJson(const Options& options, const SourcePackage& source, const LoadedPackage& loaded,
               const std::vector<ActionRun>& runs, const std::string& stopped) {
  std::printf("{\"package\": %s, \"readWith\": %s, \"tables\": %zu, \"viduzoBinaries\": [",
              Quoted(options.package).c_str(), Quoted(source.origin).c_str(), source.tables.size());
  for (std::size_t i = 0; i < loaded.substitutedBinaries.size(); ++i)
    std::printf("%s%s", i ? ", " : "", Quoted(loaded.substitutedBinaries[i]).c_str());
  std::printf("],\n \"actions\": [");
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const ActionRun& run = runs[r];
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
  if (!stopped.empty()) std::printf(",\n \"stopped\": %s", Quoted(stopped).c_str());
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

int Main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) return Fail(error);

  SourcePackage source;
  if (!Exists(options.package)) return Fail("no such file or folder: " + options.package);
  const bool ok = IsFolder(options.package) ? ReadIdtFolder(options.package, &source, &error)
                                            : ReadMsiFile(options.package, &source, &error);
  if (!ok) return Fail(error);
  LoadedPackage loaded;
  SubstituteViduzoBinaries(&source, &loaded);
  if (!ApplyMachine(options.scenario, &error)) return Fail(error);
  if (!LoadPackage(source, &loaded, &error)) return Fail(error);
  struct Closer {
    MSIHANDLE handle;
    ~Closer() { MsiCloseHandle(handle); }
  } closeInstall{loaded.install};

  if (options.tables) {
    PrintTables(loaded.install);
    return 0;
  }
  for (const auto& [name, value] : options.scenario.properties)
    MsiSetPropertyA(loaded.install, name.c_str(), value.c_str());
  if (options.scenario.hasAnswer) winsim::SetMessageAnswer(options.scenario.answer);

  HMODULE viduzo = LoadLibraryA("viduzo.dll");
  if (!viduzo) return Fail("viduzo.dll does not load");
  struct Unload {
    HMODULE module;
    ~Unload() { FreeLibrary(module); }
  } unload{viduzo};

  // What to run: the actions named, every export, or a sequence table.
  std::vector<SequenceRow> plan;
  if (options.all)
    for (const char* name : kExports) plan.push_back({name, ""});
  for (const std::string& name : options.scenario.actions) {
    if (!Export(viduzo, name) && !IsEngineAction(name) && !HasCustomAction(loaded.install, name))
      return Fail("unknown action " + name + ": no export of viduzo.dll, no CustomAction row of "
                  "the package, and no standard action that winsim carries out");
    plan.push_back({name, ""});
  }
  const bool sequence = !options.scenario.sequence.empty();
  if (sequence && !ReadSequence(loaded.install, options.scenario.sequence, &plan, &error))
    return Fail(error);
  if (plan.empty()) return Fail("nothing to run: name actions, --all or --sequence TABLE");

  std::vector<ActionRun> runs;
  std::string stopped;
  bool allSucceeded = true;
  State state = Capture(loaded.install, loaded.databasePath);
  for (const SequenceRow& step : plan) {
    ActionRun run;
    run.name = step.action;
    if (!step.condition.empty() &&
        MsiEvaluateConditionA(loaded.install, step.condition.c_str()) == MSICONDITION_FALSE) {
      run.how = "skipped";
      run.condition = step.condition;
      runs.push_back(run);
      continue;
    }
    Action action = sequence ? nullptr : Export(viduzo, step.action);
    auto wired = loaded.viduzoActions.find(step.action);
    run.how = action ? "export" : wired != loaded.viduzoActions.end() ? "custom action" : "engine";
    if (!action && wired != loaded.viduzoActions.end()) run.target = wired->second;
    run.result = action ? action(loaded.install) : MsiDoActionA(loaded.install, step.action.c_str());
    State after = Capture(loaded.install, loaded.databasePath);
    run.changes = Compare(state, after);
    state = std::move(after);
    allSucceeded = allSucceeded && run.result == ERROR_SUCCESS;
    runs.push_back(std::move(run));
    // The engine ends a sequence at the first action that does not succeed.
    if (sequence && runs.back().result != ERROR_SUCCESS) {
      stopped = "The sequence ends at " + step.action + ", as the engine ends the installation there.";
      break;
    }
  }
  (options.json ? PrintJson : PrintText)(options, source, loaded, runs, stopped);
  return allSucceeded ? 0 : 1;
}

}  // namespace
}  // namespace viduzo_run

int main(int argc, char** argv) { return viduzo_run::Main(argc, argv); }
