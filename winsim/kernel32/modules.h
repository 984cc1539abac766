// Modules that winsim's LoadLibraryA can load: the Linux builds of DLLs register
// their export tables here.
#pragma once

#include <cstddef>

#include <windows.h>

namespace winsim {

struct ModuleExport {
  const char* name;
  FARPROC address;
};

using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

// Registers a module by file name; returns true so that it can initialise a static.
bool RegisterModule(const char* fileName, const ModuleExport* exports, std::size_t count,
                    DllEntry entry);

// Functions of system DLLs that a program looks up by name (GetProcAddress on
// kernel32 and friends).
bool RegisterSystemFunction(const char* dll, const char* name, FARPROC address);

}  // namespace winsim
