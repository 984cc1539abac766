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

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "tools/run/changes.h"
#include "tools/run/load.h"
#include "tools/run/report.h"
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

// The reason a run cannot start, on one line: control characters that a
// damaged input put into it are shown as "?".
int Fail(std::string message) {
  for (char& c : message)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  std::fprintf(stderr, "viduzo-run: %s\n", message.c_str());
  return 2;
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
    *error = "no package given (--help tells how to run it)";
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
  const Account account{options.package, source, loaded, runs, stopped};
  (options.json ? PrintJson : PrintText)(account);
  return allSucceeded ? 0 : 1;
}

}  // namespace
}  // namespace viduzo_run

int main(int argc, char** argv) { return viduzo_run::Main(argc, argv); }
