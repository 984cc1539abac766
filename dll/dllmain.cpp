// The library's entry routine: it records the module handle at process attach,
// which the actions use to call the library's own exports by name.
#include "runtime/action.h"
#include "runtime/services.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) viduzo::SetModuleHandle(module);
  return TRUE;
}

#ifndef _WIN32
// The Linux build has no loader: the export table generated from the action
// list is handed to winsim, whose LoadLibraryA("viduzo.dll") and GetProcAddress
// serve it the way Windows serves the DLL's export directory.
#include "winsim/kernel32/modules.h"

namespace {

const winsim::ModuleExport kExports[] = {
#define VIDUZO_ACTION(Name) {#Name, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Name))},
#include "dll/actions.h"
#undef VIDUZO_ACTION
};

const bool kRegistered = winsim::RegisterModule(
    "viduzo.dll", kExports, sizeof kExports / sizeof kExports[0], &DllMain);

}  // namespace
#endif
