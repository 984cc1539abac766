// Processes: the table of running programs that CreateProcessA starts, the
// objects a wait can wait for, and what the other kernel32 files and user32
// need to know about a process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/kernel32/clock.h"
#include "winsim/kernel32/handles.h"

namespace winsim {

// A kernel object that WaitForSingleObject / WaitForMultipleObjects accept.
struct Waitable : KernelObject {
  // Signalled now.
  virtual bool Signaled() const = 0;
  // The earliest time from now on at which it is signalled, or kNever when
  // nothing but another program's action could signal it.
  virtual Milliseconds SignalTime() const = 0;
  // The access right a wait needs on this handle (SYNCHRONIZE for processes).
  virtual bool MayWait() const { return true; }
};

struct Process {
  DWORD id = 0;
  DWORD parentId = 0;
  std::string image;        // the full Windows path of its program file
  std::string commandLine;  // as the creator gave it
  Milliseconds exitTime = kNever;
  DWORD exitCode = 0;
  DWORD endsAfterTerminateMs = 0;
  bool refusesOpen = false;
  bool refusesTerminate = false;
  bool terminated = false;

  bool Exited() const { return Now() >= exitTime; }
};

// The processes that have not ended, in the order they were started.
std::vector<std::shared_ptr<Process>> RunningProcesses();

// True while the process of that id runs; the test program itself always does.
bool ProcessRunning(DWORD id);

// The test program itself: its process id and its name in a process list.
inline constexpr DWORD kTestProcessId = 0x200;
inline constexpr char kTestProgramImage[] = "C:\\Windows\\viduzo_tests.exe";

}  // namespace winsim
