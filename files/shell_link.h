// Shortcut files read through the shell's link object: OLE for the code that
// holds it, and one shortcut opened for reading its target and arguments.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "runtime/handles.h"

namespace viduzo {

// Target paths and arguments are read into buffers of this many characters.
constexpr int kShortcutText = 260;

// OLE started when the holder is made and ended when it goes, when the start
// succeeded (an apartment of another kind is left as it is).
class OleSession {
 public:
  OleSession() : started_(SUCCEEDED(OleInitialize(nullptr))) {}
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
  ~OleSession() {
    if (started_) OleUninitialize();
  }

 private:
  bool started_;
};

// A shortcut file loaded into a shell link object, for reading.
class Shortcut {
 public:
  // Creates the link object and loads the file, whose name is converted to
  // UTF-16 with the ANSI code page into at most wideChars characters,
  // terminator included (at most 521). False when any step fails.
  bool Open(LPCSTR fileName, int wideChars);
  // The link's target path (no find data, no flags); false when it cannot be
  // read, and path is then not to be read.
  bool Target(char (&path)[kShortcutText]);
  // The link's arguments; false when they cannot be read (nor arguments then).
  bool Arguments(char (&arguments)[kShortcutText]);

 private:
  ComPtr<IShellLinkA> link_;
  ComPtr<IPersistFile> file_;
};

}  // namespace viduzo
