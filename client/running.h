// Running clients: finding the client's windows, stopping the connection
// manager, the agent and the single-sign-on server, and starting the agent again.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

// Runs the agent's registered open command with " /terminate" appended and
// waits until that process has ended. Returns 0.
UINT TerminateHlAgent(MSIHANDLE hInstall);

// Ends every process whose program file is named exeName (no folder; letter
// case does not matter). 1 when the last one whose outcome was known ended
// within 2 seconds; 0 otherwise and when nothing matched.
int VmrTerminateProcess(LPCSTR exeName);

}  // namespace viduzo
