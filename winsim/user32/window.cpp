// Window classes and top-level windows, enough for programs that find another
// program's window by class and talk to it with SendMessageA. A window belongs
// to the process that created it and goes when that process ends; WM_COPYDATA
// hands the window procedure a copy of the data, as it does between processes.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/kernel32/process.h"

namespace winsim {
namespace {

struct Window {
  uintptr_t handle;
  std::string className;
  std::string title;
  WNDPROC proc;
  DWORD process;
  uintptr_t parent = 0;  // 0: a top-level window
  DWORD style = 0;
  int id = 0;  // a child window's identifier (its "menu" argument)
};

struct Desktop {
  std::map<std::string, WNDPROC> classes;  // by upper-cased name
  std::vector<Window> windows;             // the newest last
  uintptr_t next = 0x10010;
  uintptr_t foreground = 0;
  std::vector<Broadcast> broadcasts;
};

Desktop& Screen() {
  static Desktop desktop;
  return desktop;
}

std::string Key(LPCSTR name) {
  std::string key = name;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

// Drops the windows of processes that have ended.
void Sweep() {
  auto& windows = Screen().windows;
  for (auto it = windows.begin(); it != windows.end();)
    it = ProcessRunning(it->process) ? it + 1 : windows.erase(it);
}

Window* Find(HWND handle) {
  Sweep();
  for (Window& w : Screen().windows)
    if (w.handle == reinterpret_cast<uintptr_t>(handle)) return &w;
  return nullptr;
}

bool IsAtom(LPCSTR name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

}  // namespace

void ResetWindows() {
  Screen().windows.clear();
  Screen().classes.clear();
  Screen().foreground = 0;
  Screen().broadcasts.clear();
}

const std::vector<Broadcast>& Broadcasts() { return Screen().broadcasts; }

}  // namespace winsim

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
  if (!windowClass || !windowClass->lpszClassName || winsim::IsAtom(windowClass->lpszClassName) ||
      !windowClass->lpfnWndProc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto& classes = winsim::Screen().classes;
  std::string key = winsim::Key(windowClass->lpszClassName);
  if (classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  classes[key] = windowClass->lpfnWndProc;
  return static_cast<ATOM>(0xC000 + classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (!className || winsim::IsAtom(className)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  std::string key = winsim::Key(className);
  winsim::Sweep();
  for (const winsim::Window& w : winsim::Screen().windows) {
    if (w.className == key) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  }
  if (!winsim::Screen().classes.erase(key)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int, int,
                            int, int, HWND parent, HMENU menu, HINSTANCE, LPVOID) {
  if (!className || winsim::IsAtom(className)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  winsim::Desktop& desktop = winsim::Screen();
  auto it = desktop.classes.find(winsim::Key(className));
  if (it == desktop.classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  uintptr_t handle = desktop.next;
  desktop.next += 2;
  desktop.windows.push_back(
      {handle, it->first, windowName ? windowName : "", it->second, GetCurrentProcessId()});
  winsim::Window& created = desktop.windows.back();
  created.parent = reinterpret_cast<uintptr_t>(parent);
  created.style = style;
  if (style & WS_CHILD) created.id = static_cast<int>(reinterpret_cast<intptr_t>(menu));
  return reinterpret_cast<HWND>(handle);
}

BOOL WINAPI IsWindow(HWND window) { return winsim::Find(window) != nullptr; }

BOOL WINAPI DestroyWindow(HWND window) {
  winsim::Window* found = winsim::Find(window);
  if (!found) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  WNDPROC proc = found->proc;
  proc(window, WM_DESTROY, 0, 0);
  // The procedure may have changed the window list; look the window up again.
  auto& windows = winsim::Screen().windows;
  for (auto it = windows.begin(); it != windows.end(); ++it) {
    if (it->handle == reinterpret_cast<uintptr_t>(window)) {
      windows.erase(it);
      break;
    }
  }
  return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
  winsim::Sweep();
  auto& windows = winsim::Screen().windows;
  std::string key = className && !winsim::IsAtom(className) ? winsim::Key(className) : "";
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (it->parent) continue;
    if (className && it->className != key) continue;
    if (windowName && it->title != windowName) continue;
    return reinterpret_cast<HWND>(it->handle);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  winsim::Window* found = winsim::Find(window);
  if (!found) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  WNDPROC proc = found->proc;
  if (message != WM_COPYDATA) return proc(window, message, wParam, lParam);
  // The receiver sees its own copy of the data, as a window of another
  // process does: cbData bytes are read from the sender's block.
  const auto* sent = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (!sent) return proc(window, message, wParam, 0);
  std::vector<unsigned char> copy(sent->cbData);
  if (sent->cbData) std::memcpy(copy.data(), sent->lpData, sent->cbData);
  COPYDATASTRUCT received = {sent->dwData, sent->cbData, sent->cbData ? copy.data() : nullptr};
  return proc(window, message, wParam, reinterpret_cast<LPARAM>(&received));
}

LRESULT WINAPI DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

// ---- the foreground window, dialog tab order, broadcasts --------------------------------

HWND WINAPI GetForegroundWindow() {
  winsim::Desktop& desktop = winsim::Screen();
  if (!winsim::Find(reinterpret_cast<HWND>(desktop.foreground))) desktop.foreground = 0;
  return reinterpret_cast<HWND>(desktop.foreground);
}

BOOL WINAPI SetForegroundWindow(HWND window) {
  if (!winsim::Find(window)) return FALSE;
  winsim::Screen().foreground = reinterpret_cast<uintptr_t>(window);
  return TRUE;
}

int WINAPI GetDlgCtrlID(HWND window) {
  winsim::Window* found = winsim::Find(window);
  if (!found) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return found->id;
}

// The tab order is the order in which the dialog's children were created; a
// control takes part when it has WS_TABSTOP, is visible and is not disabled.
// From no control the search starts after the last one, so it finds the first.
HWND WINAPI GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  winsim::Sweep();
  std::vector<uintptr_t> order;
  for (const winsim::Window& w : winsim::Screen().windows)
    if (w.parent == reinterpret_cast<uintptr_t>(dialog) &&
        (w.style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE))
      order.push_back(w.handle);
  if (order.empty()) return control;
  std::size_t count = order.size();
  std::size_t at = previous ? 0 : count - 1;
  for (std::size_t i = 0; i < count; ++i)
    if (order[i] == reinterpret_cast<uintptr_t>(control)) at = i;
  std::size_t next = previous ? (at + count - 1) % count : (at + 1) % count;
  return reinterpret_cast<HWND>(order[next]);
}

// A broadcast goes to every top-level window and is recorded for the tests;
// the window procedures here answer at once, so no time-out ever passes.
LRESULT WINAPI SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT flags, UINT timeoutMs, PDWORD_PTR result) {
  if (result) *result = 0;
  if (window != HWND_BROADCAST) {
    if (!winsim::Find(window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    LRESULT answer = SendMessageA(window, message, wParam, lParam);
    if (result) *result = static_cast<DWORD_PTR>(answer);
    return 1;
  }
  const char* text = message == WM_SETTINGCHANGE && lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
  winsim::Screen().broadcasts.push_back({message, wParam, text, flags, timeoutMs});
  winsim::Sweep();
  std::vector<winsim::Window> topLevel;
  for (const winsim::Window& w : winsim::Screen().windows)
    if (!w.parent) topLevel.push_back(w);
  for (const winsim::Window& w : topLevel)
    if (winsim::Find(reinterpret_cast<HWND>(w.handle)))
      w.proc(reinterpret_cast<HWND>(w.handle), message, wParam, lParam);
  return 1;
}
