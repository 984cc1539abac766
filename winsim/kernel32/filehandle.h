// Open files, as the rest of kernel32 needs to know them.
#pragma once

#include <string>

namespace winsim {

// Whether a handle open on the host entry forbids deleting or renaming it
// (opened without FILE_SHARE_DELETE).
bool OpenHandleForbidsDelete(const std::string& host);

}  // namespace winsim
