// kernel32 basics: the process heap, the last error, the environment block,
// time, and the debugger output a test reads back.
#include <sys/time.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/system.h"

namespace winsim {
namespace {

// ---- environment -----------------------------------------------------------------
//
// Kept as UTF-16 like the real environment block, so that the ANSI functions
// convert with the code page in force when they are called. The process starts
// with the environment of a user logged on to Windows, not the host's: nothing
// of the Linux environment is seen through the Windows API.

struct Environment {
  std::mutex mutex;
  std::vector<std::pair<std::u16string, std::u16string>> entries;

  Environment() { Reset(); }

  void Reset() {
    const std::u16string profile = kUserProfile;
    const std::u16string user = FromUtf8(kUserName);
    const std::u16string computer = FromUtf8(kComputerName);
    entries = {
        {u"ALLUSERSPROFILE", u"C:\\ProgramData"},
        {u"APPDATA", profile + u"\\AppData\\Roaming"},
        {u"CommonProgramFiles", u"C:\\Program Files\\Common Files"},
        {u"CommonProgramFiles(x86)", u"C:\\Program Files (x86)\\Common Files"},
        {u"CommonProgramW6432", u"C:\\Program Files\\Common Files"},
        {u"COMPUTERNAME", computer},
        {u"ComSpec", u"C:\\Windows\\system32\\cmd.exe"},
        {u"HOMEDRIVE", u"C:"},
        {u"HOMEPATH", profile.substr(2)},
        {u"LOCALAPPDATA", profile + u"\\AppData\\Local"},
        {u"LOGONSERVER", u"\\\\" + computer},
        {u"NUMBER_OF_PROCESSORS", u"4"},
        {u"OS", u"Windows_NT"},
        {u"Path", u"C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem;"
                  u"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\"},
        {u"PATHEXT", u".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
        {u"PROCESSOR_ARCHITECTURE", u"AMD64"},
        {u"PROCESSOR_LEVEL", FromUtf8(kProcessorLevel)},
        {u"ProgramData", u"C:\\ProgramData"},
        {u"ProgramFiles", u"C:\\Program Files"},
        {u"ProgramFiles(x86)", u"C:\\Program Files (x86)"},
        {u"ProgramW6432", u"C:\\Program Files"},
        {u"PUBLIC", u"C:\\Users\\Public"},
        {u"SystemDrive", u"C:"},
        {u"SystemRoot", u"C:\\Windows"},
        {u"TEMP", profile + u"\\AppData\\Local\\Temp"},
        {u"TMP", profile + u"\\AppData\\Local\\Temp"},
        {u"USERDOMAIN", computer},
        {u"USERNAME", user},
        {u"USERPROFILE", profile},
        {u"windir", u"C:\\Windows"},
    };
  }

  std::vector<std::pair<std::u16string, std::u16string>>::iterator Find(std::u16string_view name) {
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (EqualNoCase(it->first, name)) return it;
    return entries.end();
  }

  void Set(std::u16string name, std::u16string value) {
    auto it = Find(name);
    if (it != entries.end()) *it = {std::move(name), std::move(value)};
    else entries.emplace_back(std::move(name), std::move(value));
  }
};

Environment& Env() {
  static Environment env;
  return env;
}

// ---- debugger output -------------------------------------------

struct Capture {
  std::mutex mutex;
  std::vector<std::string> debugLines;
};

Capture& Captured() {
  static Capture capture;
  return capture;
}

// ---- heap ------------------------------------------------------------------------
//
// Every block carries its requested size in a header, so that HeapReAlloc can
// zero exactly the bytes that grow and refuse to move a block in place-only
// mode.

constexpr size_t kHeader = 16;
char g_processHeap;  // its address is the process heap's handle
std::mutex g_heapMutex;
long g_heapFailCountdown = -1;  // < 0: allocations do not fail
std::size_t g_heapBlocks = 0;   // blocks allocated and not yet freed

bool HeapShouldFail() {
  std::lock_guard<std::mutex> lock(g_heapMutex);
  if (g_heapFailCountdown < 0) return false;
  if (g_heapFailCountdown == 0) {
    g_heapFailCountdown = -1;
    return true;
  }
  --g_heapFailCountdown;
  return false;
}

size_t& BlockSize(void* header) { return *static_cast<size_t*>(header); }

thread_local DWORD t_lastError = 0;

}  // namespace

bool LookupEnvironment(std::string_view name, std::string* value) {
  Environment& env = Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  auto it = env.Find(ToWide(name));
  if (it == env.entries.end()) return false;
  if (value) *value = ToAnsi(it->second);
  return true;
}

// ---- controls ----------------------------------------------------------------------

const std::vector<std::string>& DebugLines() { return Captured().debugLines; }

void ClearDebugLines() {
  std::lock_guard<std::mutex> lock(Captured().mutex);
  Captured().debugLines.clear();
}

void ResetEnvironment() {
  Environment& env = Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  env.Reset();
}

void FailHeapAllocation(unsigned afterSuccesses) {
  std::lock_guard<std::mutex> lock(g_heapMutex);
  g_heapFailCountdown = static_cast<long>(afterSuccesses);
}

void ResetHeapFailure() {
  std::lock_guard<std::mutex> lock(g_heapMutex);
  g_heapFailCountdown = -1;
}

bool HeapFailurePending() {
  std::lock_guard<std::mutex> lock(g_heapMutex);
  return g_heapFailCountdown >= 0;
}

std::size_t HeapBlockCount() {
  std::lock_guard<std::mutex> lock(g_heapMutex);
  return g_heapBlocks;
}

}  // namespace winsim

// ---- kernel32: memory ----------------------------------------------------------------

HANDLE WINAPI GetProcessHeap() { return &winsim::g_processHeap; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (!heap) return nullptr;
  if (bytes > SIZE_MAX - winsim::kHeader || winsim::HeapShouldFail()) return nullptr;
  void* header = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, winsim::kHeader + bytes)
                                            : std::malloc(winsim::kHeader + bytes);
  if (!header) return nullptr;
  winsim::BlockSize(header) = bytes;
  {
    std::lock_guard<std::mutex> lock(winsim::g_heapMutex);
    ++winsim::g_heapBlocks;
  }
  return static_cast<char*>(header) + winsim::kHeader;
}

LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID mem, SIZE_T bytes) {
  if (!heap || !mem) return nullptr;
  if (bytes > SIZE_MAX - winsim::kHeader) return nullptr;
  void* header = static_cast<char*>(mem) - winsim::kHeader;
  size_t old = winsim::BlockSize(header);
  if ((flags & HEAP_REALLOC_IN_PLACE_ONLY) && bytes > old) return nullptr;
  if (winsim::HeapShouldFail()) return nullptr;
  void* grown = std::realloc(header, winsim::kHeader + bytes);
  if (!grown) return nullptr;
  winsim::BlockSize(grown) = bytes;
  char* data = static_cast<char*>(grown) + winsim::kHeader;
  if ((flags & HEAP_ZERO_MEMORY) && bytes > old) std::memset(data + old, 0, bytes - old);
  return data;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID mem) {
  if (!heap) return FALSE;
  if (mem) {
    std::free(static_cast<char*>(mem) - winsim::kHeader);
    std::lock_guard<std::mutex> lock(winsim::g_heapMutex);
    --winsim::g_heapBlocks;
  }
  return TRUE;
}

// ---- kernel32: errors, debug output, time ----------------------------------------------

DWORD WINAPI GetLastError() { return winsim::t_lastError; }

void WINAPI SetLastError(DWORD code) { winsim::t_lastError = code; }

void WINAPI OutputDebugStringA(LPCSTR text) {
  if (!text) return;
  if (std::getenv("WINSIM_DEBUG_OUTPUT")) std::fprintf(stderr, "[debug] %s\n", text);
  winsim::Capture& capture = winsim::Captured();
  std::lock_guard<std::mutex> lock(capture.mutex);
  capture.debugLines.emplace_back(text);
}

// ---- kernel32: environment ----------------------------------------------------------------

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string value;
  if (!*name || !winsim::LookupEnvironment(name, &value)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  // Fits: the length without the terminator. Too small: the size needed
  // with it, and the buffer is left alone.
  if (buffer && size > value.size()) {
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<DWORD>(value.size());
  }
  return static_cast<DWORD>(value.size() + 1);
}

// ---- kernel32: the computer's name ---------------------------------------------------

BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Too small: the size needed with the terminator.
  const DWORD length = sizeof winsim::kComputerName - 1;
  if (!buffer || *size <= length) {
    *size = length + 1;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(buffer, winsim::kComputerName, length + 1);
  *size = length;
  return TRUE;
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (!name || !*name || std::strchr(name + 1, '=')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  winsim::Environment& env = winsim::Env();
  std::u16string wideName = winsim::ToWide(name);
  std::lock_guard<std::mutex> lock(env.mutex);
  if (!value) {
    auto it = env.Find(wideName);
    if (it != env.entries.end()) env.entries.erase(it);
    return TRUE;
  }
  env.Set(std::move(wideName), winsim::ToWide(value));
  return TRUE;
}
