// INI file repair: duplicate items removed from the comma lists that the
// installer's IniFile rows (action 3, "add a tag") add to.
#pragma once

#include <windows.h>

namespace viduzo {

// Removes duplicate items from a list whose items are separated by any of the
// single-byte characters of separators. Items compare without regard to case
// after their leading white space; runs of separators give no empty items.
// True when at least one duplicate was dropped; only then is value rewritten,
// as the kept items joined by ",", which is never longer than before.
bool RemoveDuplicateListItems(char* value, const char* separators);

// Reads one INI value, removes its duplicate items and writes it back when
// anything changed. 0, or 1627 when the value could not be read or written.
UINT RemoveDuplicatesFromIniFileValue(LPCSTR filePath, LPCSTR section, LPCSTR key);

// One entry of the FixIniFile entry list, cut in place: each pointer runs from
// the end of its marker to the next 0x0B. False when a marker is missing.
struct IniFixEntry {
  const char* file = nullptr;
  const char* section = nullptr;
  const char* key = nullptr;
};
bool SplitIniFixEntry(char* entry, IniFixEntry* out);

}  // namespace viduzo
