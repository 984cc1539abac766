// The account of a run, readable or as JSON.
#pragma once

#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "tools/run/changes.h"
#include "tools/run/load.h"
#include "tools/run/source.h"

namespace viduzo_run {

struct ActionRun {
  std::string name;
  std::string how;  // "export", "custom action", "engine", "skipped"
  std::string target;  // the export a custom action calls
  std::string condition;
  UINT result = 0;
  std::vector<Change> changes;
};

struct Account {
  const std::string& package;
  const SourcePackage& source;
  const LoadedPackage& loaded;
  const std::vector<ActionRun>& runs;
  const std::string& stopped;  // why a sequence ended early; "" when it did not
};

// The name of a result code ("ERROR_INSTALL_FAILURE"), "" for one without a name here.
const char* ResultName(UINT result);

void PrintText(const Account& account);
void PrintJson(const Account& account);
// Every table with its columns (types, keys) and its rows, sorted, one to a line.
void PrintTables(MSIHANDLE install);

}  // namespace viduzo_run
