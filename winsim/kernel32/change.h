// File changes that programs make while they run, as change notifications see
// them (kernel32's change.cpp).
#pragma once

#include <string>

#include <windows.h>

#include "winsim/kernel32/clock.h"

namespace winsim {

// Records that the file `path` (a Windows path) changes at `time` in the way
// `kind` (FILE_NOTIFY_CHANGE_* bits) names.
void ScheduleFileChange(Milliseconds time, const std::string& path, DWORD kind);

// Forgets every file change.
void ClearFileChanges();

}  // namespace winsim
