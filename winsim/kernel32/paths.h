// winsim's file system: Windows paths mapped into the sandbox folder on the
// host. Internal to winsim; tests use HostPath / SandboxRoot of control.h.
//
// A Windows path is first made absolute and normalised as Windows does it
// (in UTF-16, so that a double-byte character whose trail byte is 0x5C is
// never taken for a separator), then mapped component by component: an
// existing host entry whose name equals the component without regard to case
// is used with its own spelling, a missing one keeps the case it was given.
// Host names are the UTF-8 form of the Windows names.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace winsim {

// The Windows folder, where a profile file named without a path lives.
inline constexpr char16_t kWindowsFolder[] = u"C:\\Windows";

// Makes a Windows path absolute (against the current directory) and
// normalises it: "/" becomes "\", empty and "." components go, ".." removes
// the one before, a component's single trailing "." goes, and the last
// component loses its trailing dots and spaces. A drive root keeps its "\"
// ("C:\"); a UNC path starts "\\server\share". On a malformed path it returns
// false and sets *error to the Windows error code.
bool FullWindowsPath(std::u16string_view path, std::u16string* full, DWORD* error);

// The host path of a path that FullWindowsPath produced.
std::string HostPathOf(std::u16string_view fullPath);

// Both steps for an ANSI path argument (code page in force); false with
// *error set for a null or malformed path. The ANSI file functions convert
// their path into a buffer of MAX_PATH + 1 characters before anything else, so
// a path of more than MAX_PATH characters (after conversion, before it is made
// full) fails with ERROR_FILENAME_EXCED_RANGE, whatever it names.
bool MapPath(LPCSTR path, std::string* host, DWORD* error);
// The same for the arguments converted whole, of any length: the new name of
// MoveFileExA and CopyFileA, and the paths of the profile and version
// functions, which convert into memory of their own.
bool MapPathOfAnyLength(LPCSTR path, std::string* host, DWORD* error);

// The current directory, a full Windows path ("C:\" until it is changed).
std::u16string CurrentDirectory();
void SetCurrentDirectoryPath(std::u16string fullPath);

}  // namespace winsim
