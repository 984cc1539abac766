#include "winsim/kernel32/modules.h"

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "winsim/control.h"
#include "winsim/kernel32/paths.h"

namespace winsim {
namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Strips a folder and adds ".dll" when there is no extension, as LoadLibrary does.
std::string ModuleKey(const char* name) {
  std::string s = name;
  std::size_t slash = s.find_last_of("\\/");
  if (slash != std::string::npos) s = s.substr(slash + 1);
  if (s.find('.') == std::string::npos) s += ".dll";
  return Lower(s);
}

struct Module {
  std::map<std::string, FARPROC> exports;
  DllEntry entry = nullptr;
  int loads = 0;
  bool failLoad = false;
  bool failFree = false;
};

std::map<std::string, std::unique_ptr<Module>>& Modules() {
  static std::map<std::string, std::unique_ptr<Module>> modules;
  return modules;
}

Module* FindModule(HMODULE handle) {
  for (auto& [key, module] : Modules())
    if (reinterpret_cast<HMODULE>(module.get()) == handle) return module.get();
  return nullptr;
}

Module& GetOrAdd(const std::string& key) {
  auto& slot = Modules()[key];
  if (!slot) slot = std::make_unique<Module>();
  return *slot;
}

// The content of a file that stands for a registered module on disk.
std::string ImageOf(const std::string& key) { return "MZ winsim module image: " + key; }

// The registered module whose image file a path names: a DLL that the
// installer extracted from its Binary table into a temporary file, say.
std::map<std::string, std::unique_ptr<Module>>::iterator FindByImage(const char* path) {
  auto& modules = Modules();
  std::string host;
  DWORD error = 0;
  if (!MapPath(path, &host, &error)) return modules.end();
  std::ifstream in(host, std::ios::binary);
  if (!in) return modules.end();
  std::ostringstream content;
  content << in.rdbuf();
  for (auto it = modules.begin(); it != modules.end(); ++it)
    if (content.str() == ImageOf(it->first)) return it;
  return modules.end();
}

}  // namespace

std::string ModuleImage(const std::string& fileName) { return ImageOf(ModuleKey(fileName.c_str())); }

bool RegisterModule(const char* fileName, const ModuleExport* exports, std::size_t count,
                    DllEntry entry) {
  Module& module = GetOrAdd(ModuleKey(fileName));
  for (std::size_t i = 0; i < count; ++i) module.exports[exports[i].name] = exports[i].address;
  module.entry = entry;
  return true;
}

bool RegisterSystemFunction(const char* dll, const char* name, FARPROC address) {
  Module& module = GetOrAdd(ModuleKey(dll));
  module.exports[name] = address;
  module.loads = 1;  // system DLLs are always loaded
  return true;
}

int ModuleLoadCount(const std::string& name) {
  auto it = Modules().find(ModuleKey(name.c_str()));
  return it == Modules().end() ? 0 : it->second->loads;
}

void FailModuleCalls(const std::string& name, bool load, bool free) {
  Module& module = GetOrAdd(ModuleKey(name.c_str()));
  module.failLoad = load;
  module.failFree = free;
}

}  // namespace winsim

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto& modules = winsim::Modules();
  auto it = modules.find(winsim::ModuleKey(name));
  if (it == modules.end()) it = winsim::FindByImage(name);
  if (it == modules.end()) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
  }
  winsim::Module& module = *it->second;
  if (module.failLoad) {
    SetLastError(126);
    return nullptr;
  }
  HMODULE handle = reinterpret_cast<HMODULE>(&module);
  if (module.loads++ == 0 && module.entry) {
    if (!module.entry(handle, DLL_PROCESS_ATTACH, nullptr)) {
      module.loads = 0;
      SetLastError(1114);  // ERROR_DLL_INIT_FAILED
      return nullptr;
    }
  }
  return handle;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (!name) return nullptr;
  auto& modules = winsim::Modules();
  auto it = modules.find(winsim::ModuleKey(name));
  if (it == modules.end() || it->second->loads == 0) {
    SetLastError(126);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(it->second.get());
}

BOOL WINAPI FreeLibrary(HMODULE handle) {
  winsim::Module* module = winsim::FindModule(handle);
  if (!module || module->loads == 0 || module->failFree) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--module->loads == 0 && module->entry) module->entry(handle, DLL_PROCESS_DETACH, nullptr);
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name) {
  winsim::Module* module = winsim::FindModule(handle);
  if (!module || !name) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto it = module->exports.find(name);
  if (it == module->exports.end()) {
    SetLastError(127);  // ERROR_PROC_NOT_FOUND
    return nullptr;
  }
  return it->second;
}
