#include "tests/programs.h"

#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace viduzo_test {
namespace {

int g_logCount = 0;

std::string LogPath() {
  char path[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA("VIDUZO_HELPER_LOG", path, sizeof path);
  return length > 0 && length < sizeof path ? path : "";
}

#ifndef _WIN32
// The helper, as a winsim program: the same arguments, windows and records as
// tests/programs/helper.cpp.
std::map<HWND, bool>& Closing() {
  static std::map<HWND, bool> closing;
  return closing;
}

void Record(const std::string& line) {
  std::string path = LogPath();
  if (path.empty()) return;
  std::string content = ReadWholeFile(path);
  if (content == "<cannot open>") content.clear();
  WriteFile(path, content + line + "\n");
}

std::vector<std::string> Arguments(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (std::size_t i = 0;; ++i) {
    char c = i < line.size() ? line[i] : '\0';
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == '\0' || ((c == ' ' || c == '\t') && !quoted)) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
      if (!c) break;
    } else {
      word += c;
      any = true;
    }
  }
  if (!words.empty()) words.erase(words.begin());
  return words;
}

LRESULT CALLBACK HelperWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcA(window, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  Record("copydata " + std::to_string(wParam) + " " + std::to_string(data->dwData) + " " +
         std::to_string(data->cbData));
  if (Closing()[window] && data->dwData == 1) DestroyWindow(window);
  return TRUE;
}

winsim::ProgramRun RunHelper(const std::string& line) {
  winsim::ProgramRun run;
  std::vector<std::string> args = Arguments(line);
  if (args.size() == 3 && args[0] == "window") {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HelperWindowProc;
    windowClass.lpszClassName = args[1].c_str();
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, args[1].c_str(), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                  nullptr, nullptr, nullptr);
    Closing()[window] = args[2] == "1";
    run.exitAfterMs = INFINITE;
    return run;
  }
  if (args.size() == 1 && args[0] == "wait") {
    run.exitAfterMs = INFINITE;
    return run;
  }
  STARTUPINFOA startup = {};
  GetStartupInfoA(&startup);
  Record((startup.dwFlags & STARTF_USESHOWWINDOW ? std::to_string(startup.wShowWindow) : "-") +
         " " + line);
  const std::string kSwitch = " /terminate";
  if (line.size() >= kSwitch.size() && line.compare(line.size() - kSwitch.size(), kSwitch.size(), kSwitch) == 0) {
    char delay[32];
    DWORD got = GetEnvironmentVariableA("VIDUZO_AGENT_MS", delay, sizeof delay);
    if (got > 0 && got < sizeof delay) run.exitAfterMs = std::stoul(delay);
  }
  return run;
}
#endif

}  // namespace

void InstallHelper(const std::string& path) {
#ifdef _WIN32
  char self[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string helper = self;
  helper = helper.substr(0, helper.find_last_of('\\') + 1) + "vdzhelper.exe";
  ASSERT_TRUE(CopyFileA(helper.c_str(), path.c_str(), FALSE)) << helper << " -> " << path;
#else
  static const bool registered = [] {
    winsim::RegisterProgram("vdzhelper", RunHelper);
    return true;
  }();
  (void)registered;
  WriteFile(path, winsim::ProgramFileContent("vdzhelper"));
#endif
}

std::string StartHelperLog(DWORD agentMs) {
  char name[64];
  wsprintfA(name, "vdzlog%lu_%d.txt", static_cast<unsigned long>(GetCurrentProcessId()), ++g_logCount);
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  std::string path = std::string(temp) + name;
  DeleteFileA(path.c_str());
  SetEnvironmentVariableA("VIDUZO_HELPER_LOG", path.c_str());
  SetEnvironmentVariableA("VIDUZO_AGENT_MS", std::to_string(agentMs).c_str());
  return path;
}

std::string HelperLog() {
  std::string content = ReadWholeFile(LogPath());
  return content == "<cannot open>" ? "" : content;
}

std::string WaitForHelperLog(std::size_t lines) {
  std::string content;
  for (int i = 0; i < 1000; ++i) {
    content = HelperLog();
    std::size_t count = 0;
    for (char c : content) count += c == '\n';
    if (count >= lines) break;
    Sleep(10);
  }
  return content;
}

Started::Started(const std::string& commandLine) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &info)) {
    process_ = info.hProcess;
    CloseHandle(info.hThread);
  }
  EXPECT_NE(process_, nullptr) << commandLine << " did not start: " << GetLastError();
}

Started::~Started() {
  if (!process_) return;
  if (!Ended()) {
    TerminateProcess(process_, 3);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool Started::Ended(DWORD* exitCode) const {
  if (!process_ || WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
  if (exitCode) GetExitCodeProcess(process_, exitCode);
  return true;
}

HelperWindow::HelperWindow(const std::string& helper, const std::string& className, bool closes)
    : Started("\"" + helper + "\" window \"" + className + "\" " + (closes ? "1" : "0")) {
  for (int i = 0; i < 1000 && ok() && !FindWindowA(className.c_str(), nullptr); ++i) Sleep(10);
  EXPECT_NE(FindWindowA(className.c_str(), nullptr), nullptr) << className;
}

DWORD Clock() { return GetTickCount(); }

}  // namespace viduzo_test
