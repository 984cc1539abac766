// LogInstallTime: the deferred action that appends the dated line of this
// installation to the client's existing log file.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"

namespace viduzo {
namespace {

constexpr DWORD kLineBuffer = 256;
constexpr char kLineFormat[] = "Velmar QVA Client installed on %u-%u-%u at %u:%u:%u\r\n";

}  // namespace
}  // namespace viduzo

// CustomActionData names the log file. A missing file is not created: the
// client writes its log itself, and only an existing log gets the line.
extern "C" UINT WINAPI LogInstallTime(MSIHANDLE hInstall) {
  viduzo::GrowableText path;
  if (path.ReadProperty(hInstall, "CustomActionData") != ERROR_SUCCESS || path.text == nullptr)
    return ERROR_INSTALL_FAILURE;
  viduzo::KernelHandle file(CreateFileA(path.text, GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ERROR_INSTALL_FAILURE;
  // A log of 4 GiB or more cannot be reached this way and counts as unwritable.
  if (SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER)
    return ERROR_INSTALL_FAILURE;
  SYSTEMTIME now;
  GetSystemTime(&now);
  char line[viduzo::kLineBuffer];
  int length = wsprintfA(line, viduzo::kLineFormat, now.wMonth, now.wDay, now.wYear, now.wHour,
                         now.wMinute, now.wSecond);
  DWORD written = 0;
  if (!WriteFile(file.get(), line, static_cast<DWORD>(length), &written, nullptr))
    return ERROR_INSTALL_FAILURE;
  return ERROR_SUCCESS;
}
