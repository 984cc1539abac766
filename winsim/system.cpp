// kernel32 / user32 / ole32 basics: the process heap, the last error, the
// environment block, time, GUIDs, and the debugger output and message boxes a
// test reads back.
#include <sys/time.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/win.h"
#include "winsim/control.h"
#include "winsim/kernel.h"

extern char** environ;

namespace winsim {
namespace {

// ---- environment -----------------------------------------------------------------
//
// Kept as UTF-16 like the real environment block, so that the ANSI functions
// convert with the code page in force when they are called.

struct Environment {
  std::mutex mutex;
  std::vector<std::pair<std::u16string, std::u16string>> entries;

  Environment() {
    for (char** e = environ; e && *e; ++e) {
      const char* eq = std::strchr(*e, '=');
      if (!eq || eq == *e) continue;
      Set(FromUtf8(std::string_view(*e, eq - *e)), FromUtf8(eq + 1));
    }
    // The host's temporary and system folders mean nothing to Windows code:
    // these variables name folders of the sandboxed drive C: instead.
    Set(u"TEMP", u"C:\\Temp");
    Set(u"TMP", u"C:\\Temp");
    Set(u"SystemDrive", u"C:");
    Set(u"SystemRoot", u"C:\\Windows");
    Set(u"windir", u"C:\\Windows");
    Set(u"ProgramFiles", u"C:\\Program Files");
    Set(u"CommonProgramFiles", u"C:\\Program Files\\Common Files");
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

// ---- debugger output and message boxes -------------------------------------------

struct Capture {
  std::mutex mutex;
  std::vector<std::string> debugLines;
  std::vector<MessageBoxCall> boxes;
  int boxAnswer = IDOK;
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

// ---- GUIDs -----------------------------------------------------------------------

std::mutex g_randomMutex;

std::mt19937_64& Random() {
  static std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return engine;
}

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

const std::vector<MessageBoxCall>& MessageBoxes() { return Captured().boxes; }

void ClearMessageBoxes() {
  std::lock_guard<std::mutex> lock(Captured().mutex);
  Captured().boxes.clear();
}

void SetMessageBoxAnswer(int answer) {
  std::lock_guard<std::mutex> lock(Captured().mutex);
  Captured().boxAnswer = answer;
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

void WINAPI Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

DWORD WINAPI GetTickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
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

// ---- ole32: GUIDs ---------------------------------------------------------------------------

HRESULT WINAPI CoCreateGuid(GUID* guid) {
  if (!guid) return static_cast<HRESULT>(0x80070057L);  // E_INVALIDARG
  uint64_t high, low;
  {
    std::lock_guard<std::mutex> lock(winsim::g_randomMutex);
    high = winsim::Random()();
    low = winsim::Random()();
  }
  // A random (version 4, RFC 4122 variant) GUID, as UuidCreate makes.
  guid->Data1 = static_cast<uint32_t>(high >> 32);
  guid->Data2 = static_cast<uint16_t>(high >> 16);
  guid->Data3 = static_cast<uint16_t>((high & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<uint8_t>(low >> (8 * i));
  guid->Data4[0] = static_cast<uint8_t>((guid->Data4[0] & 0x3F) | 0x80);
  return S_OK;
}

int WINAPI StringFromGUID2(const GUID& guid, LPWSTR buffer, int size) {
  constexpr int kChars = 39;  // 38 characters and the terminator
  if (!buffer || size < kChars) return 0;
  char text[kChars + 1];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i < kChars; ++i) buffer[i] = static_cast<WCHAR>(text[i]);
  return kChars;
}

// ---- user32 ---------------------------------------------------------------------------------

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  winsim::Capture& capture = winsim::Captured();
  std::lock_guard<std::mutex> lock(capture.mutex);
  capture.boxes.push_back({text ? text : "", caption ? caption : "", type});
  return capture.boxAnswer;
}
