// Programs for the running-client tests, the same on both engines: under
// Windows (Wine) copies of tests/programs/helper.cpp built with the tests,
// natively winsim program files that behave the same way. Their records go to
// a log file that the test reads back.
#pragma once

#include <string>

#include <windows.h>

namespace viduzo_test {

// Puts the helper program at a Windows path (its folder must exist).
void InstallHelper(const std::string& path);

// Makes the helpers that the test starts from now on record into a fresh log
// file, and the agent wait agentMs milliseconds before it ends on
// " /terminate". Returns the log's path.
std::string StartHelperLog(DWORD agentMs);
// The lines recorded so far, one "\n" after each.
std::string HelperLog();
// Waits (up to ten seconds) until the log holds `lines` lines; its content.
std::string WaitForHelperLog(std::size_t lines);

// A started program, terminated (if still running) when it goes out of scope.
class Started {
 public:
  explicit Started(const std::string& commandLine);
  ~Started();
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  bool ok() const { return process_ != nullptr; }
  HANDLE process() const { return process_; }
  // True once the process has ended; its exit code through *exitCode.
  bool Ended(DWORD* exitCode = nullptr) const;

 private:
  HANDLE process_ = nullptr;
};

// Starts a helper window of the class and waits until the window exists.
// With closes it closes on a WM_COPYDATA whose dwData is 1.
class HelperWindow : public Started {
 public:
  HelperWindow(const std::string& helper, const std::string& className, bool closes);
};

// Milliseconds on the clock that Sleep and the waits use.
DWORD Clock();

}  // namespace viduzo_test
