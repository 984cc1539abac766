// ole32: the COM apartment of a thread (CoInitialize / OleInitialize and their
// counts), CoCreateInstance through the class factory of the in-process server
// that the machine registers for the class.
#include <atomic>
#include <string>

#include <objbase.h>
#include <ole2.h>

#include "winsim/control.h"

namespace {

// How many initialisations of this thread's apartment are outstanding.
thread_local int t_comDepth = 0;
std::atomic<HRESULT> g_createFailure{S_OK};

// The in-process servers that a Windows 7 machine registers under
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 for the classes programs create.
struct InprocServer {
  CLSID classId;
  const char* dll;
};
const InprocServer kServers[] = {
    {{0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, "shell32.dll"},  // ShellLink
};

using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, LPVOID*);

HRESULT Initialize() { return t_comDepth++ == 0 ? S_OK : S_FALSE; }

void Uninitialize() {
  if (t_comDepth > 0) --t_comDepth;
}

}  // namespace

HRESULT WINAPI CoInitialize(LPVOID) { return Initialize(); }
void WINAPI CoUninitialize() { Uninitialize(); }
HRESULT WINAPI OleInitialize(LPVOID) { return Initialize(); }
void WINAPI OleUninitialize() { Uninitialize(); }

HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID riid,
                                LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (t_comDepth == 0) return CO_E_NOTINITIALIZED;
  if (g_createFailure != S_OK) return g_createFailure;
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER))) return REGDB_E_CLASSNOTREG;
  const char* dll = nullptr;
  for (const InprocServer& server : kServers)
    if (IsEqualCLSID(server.classId, classId)) dll = server.dll;
  if (!dll) return REGDB_E_CLASSNOTREG;
  HMODULE module = LoadLibraryA(dll);
  if (!module) return REGDB_E_CLASSNOTREG;
  auto entry = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  HRESULT result = CLASS_E_CLASSNOTAVAILABLE;
  IClassFactory* factory = nullptr;
  if (entry)
    result = entry(classId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(result)) {
    result = factory->CreateInstance(outer, riid, object);
    factory->Release();
  }
  FreeLibrary(module);
  return result;
}

namespace winsim {

int ComInitializeDepth() { return t_comDepth; }
void FailCoCreateInstance(HRESULT result) { g_createFailure = result; }

}  // namespace winsim
