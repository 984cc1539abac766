// The time stamps of moved files: the deferred SetTimestamps gives each file of
// the time-stamp list the creation and last-write times it had before the move.
#pragma once

#include <windows.h>

namespace viduzo {

// Clears a read-only attribute (for good) and sets the given times; a null time
// stays as it is. 0, or 1603 when the file cannot be opened or its times set.
UINT SetFileTimes(LPCSTR path, const FILETIME* creation, const FILETIME* lastAccess,
                  const FILETIME* lastWrite);

// Applies every entry of a time-stamp list, "path|cLow|cHigh|wLow|wHigh>"
// repeated. The text is cut into entries in place. Malformed entries and files
// that cannot be opened are skipped; text after the last ">" is ignored.
void ApplyTimestampList(char* list);

}  // namespace viduzo
