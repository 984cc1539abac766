// Custom actions of the package that run code: a DLL stored in the Binary table.
#pragma once

#include <memory>
#include <string>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "winsim/msi/session.h"

namespace winsim {

// Runs a DLL custom action (base type 1): the Binary row named source is
// written to a temporary file, loaded, and its export target is called with a
// handle of its own to the session. The result is the engine's reading of the
// action's return code. A deferred action (in-script) reads CustomActionData:
// the value the property of the action's own name has when the engine
// schedules it. winsim keeps no script and runs it at once, with that value.
UINT RunBinaryDllAction(const std::shared_ptr<Session>& session, const std::string& action,
                        const std::string& source, const std::string& target, int type);

}  // namespace winsim
