// The stand-in client program that the running-client tests start under
// Windows (Wine). One program, three ways to run, chosen by its arguments:
//
//   helper window CLASS CLOSES  a window of that class; it records every
//                               WM_COPYDATA it gets, and with CLOSES "1" it
//                               closes (and the program ends) on one whose
//                               dwData is 1
//   helper wait                 runs until it is terminated
//   helper ...                  the agent: it records the show state it was
//                               started with ("-" when none) and its command
//                               line; with " /terminate" at its end it ends
//                               after VIDUZO_AGENT_MS milliseconds, else at once
//
// Records are lines appended to the file that VIDUZO_HELPER_LOG names.
// tests/programs.cpp gives native tests a winsim program that behaves the same.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool g_closes = false;

void Record(const std::string& line) {
  char path[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("VIDUZO_HELPER_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The arguments after the program's own name; quotes group blanks.
std::vector<std::string> Arguments(const char* line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (const char* p = line;; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      any = true;
    } else if (*p == '\0' || ((*p == ' ' || *p == '\t') && !quoted)) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
      if (!*p) break;
    } else {
      word += *p;
      any = true;
    }
  }
  if (!words.empty()) words.erase(words.begin());
  return words;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    char line[128];
    std::snprintf(line, sizeof line, "copydata %lu %lu %lu", static_cast<unsigned long>(wParam),
                  static_cast<unsigned long>(data->dwData), static_cast<unsigned long>(data->cbData));
    Record(line);
    if (g_closes && data->dwData == 1) DestroyWindow(window);
    return TRUE;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int RunWindow(const std::string& className, bool closes) {
  g_closes = closes;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className.c_str();
  if (!RegisterClassA(&windowClass)) return 2;
  if (!CreateWindowExA(0, className.c_str(), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                       windowClass.hInstance, nullptr))
    return 3;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

int main() {
  const char* line = GetCommandLineA();
  std::vector<std::string> args = Arguments(line);
  if (args.size() == 3 && args[0] == "window") return RunWindow(args[1], args[2] == "1");
  if (args.size() == 1 && args[0] == "wait") {
    Sleep(INFINITE);
    return 0;
  }
  STARTUPINFOA startup = {};
  GetStartupInfoA(&startup);
  Record((startup.dwFlags & STARTF_USESHOWWINDOW ? std::to_string(startup.wShowWindow) : "-") +
         " " + line);
  std::size_t length = std::strlen(line);
  const char kSwitch[] = " /terminate";
  if (length >= sizeof kSwitch - 1 && std::strcmp(line + length - (sizeof kSwitch - 1), kSwitch) == 0) {
    char delay[32];
    DWORD got = GetEnvironmentVariableA("VIDUZO_AGENT_MS", delay, sizeof delay);
    if (got > 0 && got < sizeof delay) Sleep(static_cast<DWORD>(std::strtoul(delay, nullptr, 10)));
  }
  return 0;
}
