// Turns a package read from its source into a winsim install session: the
// tables are created and filled through the installer API (SQL and records),
// the database is committed with its summary information and opened as a
// package, as the engine opens an .msi.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "tools/run/source.h"

namespace viduzo_run {

struct LoadedPackage {
  MSIHANDLE install = 0;
  std::string databasePath;  // the Windows path of the winsim database
  // Binary rows whose data now stands for this build's viduzo.dll.
  std::vector<std::string> substitutedBinaries;
  // The custom actions that call an export of viduzo.dll: action -> export.
  std::map<std::string, std::string> viduzoActions;
};

// The Binary rows that type 1 custom actions call an export of this build's
// viduzo.dll from get the data winsim's loader serves as that DLL, so that
// the package's own wiring runs this build's actions.
void SubstituteViduzoBinaries(SourcePackage* package, LoadedPackage* loaded);

// False with a one-line reason when the engine refuses a table or a row.
bool LoadPackage(const SourcePackage& package, LoadedPackage* loaded, std::string* error);

}  // namespace viduzo_run
