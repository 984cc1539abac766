// shell32: the shell link object (CLSID_ShellLink) with IShellLinkA and
// IPersistFile over .lnk files, served to CoCreateInstance through shell32's
// DllGetClassObject.
#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include <shlobj.h>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/modules.h"
#include "winsim/kernel32/paths.h"
#include "winsim/shell32/lnkfile.h"

const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

std::atomic<long> g_liveObjects{0};
std::mutex g_failMutex;
std::set<std::string> g_failing;

// True when a test made this method of the link object fail.
bool Failing(const char* method) {
  std::lock_guard<std::mutex> lock(g_failMutex);
  return g_failing.count(method) != 0;
}

HRESULT FromLastError() {
  DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The 8.3 form of an existing target ("X:\..."), component by component, as
// GetPath gives it with SLGP_SHORTPATH; a target that cannot be followed stays
// as it is.
std::string ShortForm(const std::string& path) {
  std::u16string wide = winsim::ToWide(path);
  if (wide.size() < 3 || wide[1] != u':' || wide[2] != u'\\') return path;
  std::string done = winsim::ToAnsi(wide.substr(0, 3));
  std::size_t start = 3;
  while (start < wide.size()) {
    std::size_t end = wide.find(u'\\', start);
    if (end == std::u16string::npos) end = wide.size();
    std::string part = winsim::ToAnsi(wide.substr(start, end - start));
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((done + part).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return path;
    FindClose(find);
    done += entry.cAlternateFileName[0] ? entry.cAlternateFileName : part;
    if (end < wide.size()) done += '\\';
    start = end + 1;
  }
  return done;
}

void CopyOut(const std::string& text, LPSTR buffer, int cch) {
  if (buffer && cch > 0) lstrcpynA(buffer, text.c_str(), cch);
}

class ShellLink final : public IShellLinkA, public IPersistFile {
 public:
  ShellLink() { ++g_liveObjects; }
  ~ShellLink() { --g_liveObjects; }

  // IUnknown (both interfaces share one object and one count).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellLinkA)) {
      *object = static_cast<IShellLinkA*>(this);
    } else if (IsEqualIID(riid, IID_IPersistFile) || IsEqualIID(riid, IID_IPersist)) {
      if (Failing("QueryInterface")) return E_NOINTERFACE;
      *object = static_cast<IPersistFile*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IShellLinkA
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int cch, WIN32_FIND_DATAA* findData,
                                    DWORD flags) override {
    if (Failing("GetPath")) return E_FAIL;
    if (findData) *findData = WIN32_FIND_DATAA{};
    CopyOut((flags & SLGP_SHORTPATH) ? ShortForm(link_.path) : link_.path, file, cch);
    return link_.path.empty() ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDList(void** pidl) override {
    if (pidl) *pidl = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetIDList(const void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR name, int cch) override {
    CopyOut(winsim::ToAnsi(link_.description), name, cch);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR name) override {
    return Set(name, &link_.description);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR dir, int cch) override {
    CopyOut(winsim::ToAnsi(link_.workingDirectory), dir, cch);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR dir) override {
    return Set(dir, &link_.workingDirectory);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR args, int cch) override {
    if (Failing("GetArguments")) return E_FAIL;
    CopyOut(winsim::ToAnsi(link_.arguments), args, cch);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR args) override {
    return Set(args, &link_.arguments);
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* hotkey) override {
    if (!hotkey) return E_INVALIDARG;
    *hotkey = link_.hotkey;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD hotkey) override {
    link_.hotkey = hotkey;
    dirty_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* showCmd) override {
    if (!showCmd) return E_INVALIDARG;
    *showCmd = link_.showCommand;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int showCmd) override {
    link_.showCommand = showCmd;
    dirty_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR iconPath, int cch, int* icon) override {
    CopyOut(winsim::ToAnsi(link_.iconLocation), iconPath, cch);
    if (icon) *icon = link_.iconIndex;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR iconPath, int icon) override {
    link_.iconIndex = icon;
    return Set(iconPath, &link_.iconLocation);
  }
  HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR pathRel, DWORD) override {
    return Set(pathRel, &link_.relativePath);
  }
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return S_OK; }
  // The target is kept as a full path, made against the current directory; a
  // target that does not exist is kept too, with S_FALSE.
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) override {
    if (!file) return E_INVALIDARG;
    std::u16string full;
    DWORD error = 0;
    if (file[0] == '\0') {
      link_.path.clear();
    } else if (!winsim::FullWindowsPath(winsim::ToWide(file), &full, &error)) {
      return E_INVALIDARG;
    } else {
      link_.path = winsim::ToAnsi(full);
    }
    dirty_ = true;
    return link_.path.empty() || GetFileAttributesA(link_.path.c_str()) != INVALID_FILE_ATTRIBUTES
               ? S_OK
               : S_FALSE;
  }

  // IPersistFile
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override {
    if (!classId) return E_POINTER;
    *classId = CLSID_ShellLink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  // Reads the file through the file system as the process sees it (relative
  // names start at the current directory).
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, DWORD) override {
    if (!fileName) return E_INVALIDARG;
    if (Failing("Load")) return E_FAIL;
    std::string name = winsim::ToAnsi(fileName);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FromLastError();
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    BOOL ok;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr)) && read > 0)
      bytes.append(chunk, read);
    CloseHandle(file);
    if (!ok) return E_FAIL;
    winsim::LinkData link;
    if (!winsim::ParseLinkFile(bytes, &link)) return E_FAIL;
    link_ = link;
    file_ = fileName;
    dirty_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR fileName, BOOL remember) override {
    std::u16string target = fileName ? std::u16string(fileName) : file_;
    if (target.empty()) return E_INVALIDARG;
    std::string bytes = winsim::WriteLinkFile(link_);
    HANDLE file = CreateFileA(winsim::ToAnsi(target).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FromLastError();
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes.size()) return E_FAIL;
    if (remember || !fileName) {
      file_ = target;
      dirty_ = false;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName) override {
    if (fileName) *fileName = nullptr;
    return E_NOTIMPL;
  }

 private:
  HRESULT Set(LPCSTR text, std::u16string* field) {
    *field = text ? winsim::ToWide(text) : std::u16string();
    dirty_ = true;
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  winsim::LinkData link_;
  std::u16string file_;
  bool dirty_ = false;
};

class LinkFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
      return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // The factory is a static object of the DLL: counting it keeps nothing alive.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* link = new ShellLink();
    HRESULT result = link->QueryInterface(riid, object);
    link->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

LinkFactory g_factory;

HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(classId, CLSID_ShellLink)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, object);
}

[[maybe_unused]] const bool g_registered = winsim::RegisterSystemFunction(
    "shell32.dll", "DllGetClassObject",
    reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&DllGetClassObject)));

}  // namespace

namespace winsim {

long LiveShellLinkCount() { return g_liveObjects; }

void FailShellLinkMethod(const std::string& method) {
  std::lock_guard<std::mutex> lock(g_failMutex);
  g_failing.insert(method);
}

void ResetShellLinks() {
  std::lock_guard<std::mutex> lock(g_failMutex);
  g_failing.clear();
}

}  // namespace winsim
