// The host file system as the rest of kernel32 sees it: the sandbox folder
// and the host's errors in Windows terms.
#pragma once

#include <string>

#include <windows.h>

namespace winsim {

// The host folder that holds the Windows drives (SandboxRoot of control.h,
// before the folders every Windows installation has are made in it).
const std::string& HostSandboxFolder();

// The Windows error for a host call that failed with errno `err` on
// `hostPath`: a missing entry is ERROR_FILE_NOT_FOUND when its folder exists
// and ERROR_PATH_NOT_FOUND when it does not.
DWORD ErrorFromErrno(int err, const std::string& hostPath);

bool IsHostDirectory(const std::string& host);

}  // namespace winsim
