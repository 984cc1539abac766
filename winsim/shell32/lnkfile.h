// The shell link (.lnk) file: the documented Shell Link binary format, read
// and written as Windows and Wine's shell read and write it. Internal to
// shell32.
#pragma once

#include <string>

#include <windows.h>

namespace winsim {

// What a shortcut file holds that the link object reports. The target path
// is ANSI text of the code page in force (the format's LinkInfo stores it so);
// the other texts are kept as the file's string data holds them, in UTF-16.
struct LinkData {
  std::string path;
  std::u16string description;
  std::u16string relativePath;
  std::u16string workingDirectory;
  std::u16string arguments;
  std::u16string iconLocation;
  int iconIndex = 0;
  int showCommand = 1;  // SW_SHOWNORMAL
  WORD hotkey = 0;
};

// Reads a whole file's bytes. False when the header, the item list, the link
// information or a string runs past the end of the data or is malformed.
// Extra data blocks after the strings are not read.
bool ParseLinkFile(const std::string& bytes, LinkData* link);

// The bytes of a shortcut file: header, link information with the target as
// a local base path (when there is a target), the strings in UTF-16 and the
// terminal block. No item list is written.
std::string WriteLinkFile(const LinkData& link);

}  // namespace winsim
