// Processes: CreateProcessA starts the programs that tests register (a program
// file holds the name of its program), and the process then runs on the
// simulated clock: it ends after the time its program chose, or when it is
// terminated. Process and thread handles are waitable kernel handles.
#include "winsim/kernel32/process.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/change.h"
#include "winsim/kernel32/paths.h"

namespace winsim {
namespace {

constexpr char kProgramMarker[] = "MZ winsim program: ";

struct Table {
  std::mutex mutex;
  std::vector<std::shared_ptr<Process>> processes;
  std::map<std::string, Program> programs;
  DWORD nextId = 0x400;
  DWORD current = kTestProcessId;
};

// The start-up information of the process that is starting (what
// GetStartupInfoA shows its program).
STARTUPINFOA g_startup = {};

Table& Processes() {
  static Table table;
  return table;
}

struct ProcessObject : Waitable {
  std::shared_ptr<Process> process;
  DWORD access;
  ProcessObject(std::shared_ptr<Process> p, DWORD a) : process(std::move(p)), access(a) {}
  bool Signaled() const override { return process->Exited(); }
  Milliseconds SignalTime() const override { return process->exitTime; }
  bool MayWait() const override { return (access & SYNCHRONIZE) != 0; }
};

// A program's one thread: it ends with its process.
struct ThreadObject : Waitable {
  std::shared_ptr<Process> process;
  explicit ThreadObject(std::shared_ptr<Process> p) : process(std::move(p)) {}
  bool Signaled() const override { return process->Exited(); }
  Milliseconds SignalTime() const override { return process->exitTime; }
};

enum class Found { kProgram, kMissing, kFolder, kNotProgram };

// Looks at a candidate program path: the program's registered name when the
// file is a program file.
Found Examine(const std::string& windowsPath, std::string* name, std::string* fullPath) {
  std::string host;
  DWORD error = 0;
  if (windowsPath.empty() || !MapPath(windowsPath.c_str(), &host, &error)) return Found::kMissing;
  struct stat info;
  if (::stat(host.c_str(), &info) != 0) return Found::kMissing;
  if (S_ISDIR(info.st_mode)) return Found::kFolder;
  std::ifstream file(host, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (content.rfind(kProgramMarker, 0) != 0) return Found::kNotProgram;
  *name = content.substr(sizeof kProgramMarker - 1);
  std::u16string full;
  FullWindowsPath(ToWide(windowsPath), &full, &error);
  *fullPath = ToAnsi(full);
  return Found::kProgram;
}

// As the loader looks for a module: the name as given, then with ".exe" when
// its file name has no extension.
Found Locate(std::string candidate, std::string* name, std::string* fullPath) {
  while (!candidate.empty() && candidate.back() == ' ') candidate.pop_back();
  Found found = Examine(candidate, name, fullPath);
  if (found != Found::kMissing) return found;
  std::size_t slash = candidate.find_last_of("\\/");
  std::string file = slash == std::string::npos ? candidate : candidate.substr(slash + 1);
  if (!file.empty() && file.find('.') == std::string::npos)
    return Examine(candidate + ".exe", name, fullPath);
  return Found::kMissing;
}

DWORD ErrorFor(Found found) {
  switch (found) {
    case Found::kFolder: return ERROR_ACCESS_DENIED;
    case Found::kNotProgram: return ERROR_BAD_EXE_FORMAT;
    default: return ERROR_FILE_NOT_FOUND;
  }
}

// The program a command line starts: a quoted first token names it whole; an
// unquoted one is tried up to each blank in turn, as Windows does.
DWORD FindProgram(const std::string& commandLine, std::string* name, std::string* fullPath) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    std::size_t close = commandLine.find('"', 1);
    std::string quoted = commandLine.substr(1, close == std::string::npos ? std::string::npos
                                                                          : close - 1);
    if (quoted.empty()) return ERROR_INVALID_PARAMETER;
    Found found = Locate(quoted, name, fullPath);
    return found == Found::kProgram ? ERROR_SUCCESS : ErrorFor(found);
  }
  std::size_t start = commandLine.find_first_not_of(" \t");
  if (start == std::string::npos) return ERROR_INVALID_PARAMETER;
  Found last = Found::kMissing;
  for (std::size_t end = commandLine.find_first_of(" \t", start);;
       end = commandLine.find_first_of(" \t", end + 1)) {
    last = Locate(commandLine.substr(start, end == std::string::npos ? end : end - start), name,
                  fullPath);
    if (last == Found::kProgram) return ERROR_SUCCESS;
    if (end == std::string::npos) break;
  }
  return ErrorFor(last);
}

std::shared_ptr<Process> FindProcess(DWORD id) {
  Table& table = Processes();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const auto& process : table.processes)
    if (process->id == id && !process->Exited()) return process;
  return nullptr;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

std::vector<std::shared_ptr<Process>> RunningProcesses() {
  Table& table = Processes();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::vector<std::shared_ptr<Process>> running;
  for (const auto& process : table.processes)
    if (!process->Exited()) running.push_back(process);
  return running;
}

bool ProcessRunning(DWORD id) { return id == kTestProcessId || FindProcess(id) != nullptr; }

void RegisterProgram(const std::string& name, Program program) {
  Table& table = Processes();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.programs[name] = std::move(program);
}

std::string ProgramFileContent(const std::string& name) { return kProgramMarker + name; }

void ResetProcesses() {
  Table& table = Processes();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& process : table.processes) {
      if (process->Exited()) continue;
      process->exitCode = 1;
      process->exitTime = Now();
    }
    table.processes.clear();
  }
  ClearFileChanges();
}

}  // namespace winsim

using winsim::Process;

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD creationFlags, LPVOID, LPCSTR,
                           LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION information) {
  if ((!applicationName && !commandLine) || !startupInfo || !information)
    return winsim::Fail(ERROR_INVALID_PARAMETER);
  std::string line = commandLine ? commandLine : "";
  std::string name, image;
  DWORD error;
  if (applicationName) {
    winsim::Found found = winsim::Locate(applicationName, &name, &image);
    error = found == winsim::Found::kProgram ? ERROR_SUCCESS : winsim::ErrorFor(found);
    if (line.empty()) line = applicationName;
  } else {
    error = winsim::FindProgram(line, &name, &image);
  }
  if (error != ERROR_SUCCESS) return winsim::Fail(error);

  winsim::Table& table = winsim::Processes();
  auto process = std::make_shared<Process>();
  winsim::Program program;
  DWORD parent;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.programs.find(name);
    if (it == table.programs.end()) return winsim::Fail(ERROR_BAD_EXE_FORMAT);
    program = it->second;
    process->id = table.nextId;
    table.nextId += 4;
    parent = table.current;
    process->parentId = parent;
    process->image = image;
    process->commandLine = line;
    table.processes.push_back(process);
    table.current = process->id;
  }
  winsim::Milliseconds start = winsim::Now();
  // A process created suspended, or for a debugger that the creator must then
  // serve, does not run until someone resumes it: here it never does.
  const DWORD kHeld = DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS | CREATE_SUSPENDED;
  winsim::ProgramRun run;
  run.exitAfterMs = INFINITE;
  if (!(creationFlags & kHeld)) {
    winsim::g_startup = *startupInfo;
    run = program(line);
  }
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    table.current = parent;
  }
  if (!process->terminated) {
    process->exitCode = run.exitCode;
    process->exitTime = run.exitAfterMs == INFINITE ? winsim::kNever : start + run.exitAfterMs;
  }
  process->endsAfterTerminateMs = run.endsAfterTerminateMs;
  process->refusesOpen = run.refusesOpen;
  process->refusesTerminate = run.refusesTerminate;
  for (const winsim::FileChange& change : run.fileChanges)
    winsim::ScheduleFileChange(start + change.afterMs, change.path, change.kind);

  information->hProcess =
      winsim::AddKernelHandle(std::make_shared<winsim::ProcessObject>(process, PROCESS_ALL_ACCESS));
  information->hThread = winsim::AddKernelHandle(std::make_shared<winsim::ThreadObject>(process));
  information->dwProcessId = process->id;
  information->dwThreadId = process->id + 1;
  return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD desiredAccess, BOOL, DWORD processId) {
  std::shared_ptr<Process> process = winsim::FindProcess(processId);
  if (!process) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (process->refusesOpen) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return winsim::AddKernelHandle(std::make_shared<winsim::ProcessObject>(process, desiredAccess));
}

BOOL WINAPI TerminateProcess(HANDLE handle, UINT exitCode) {
  auto object = winsim::GetKernel<winsim::ProcessObject>(handle);
  if (!object) return winsim::Fail(ERROR_INVALID_HANDLE);
  if (!(object->access & PROCESS_TERMINATE)) return winsim::Fail(ERROR_ACCESS_DENIED);
  Process& process = *object->process;
  // A process that has ended, or is ending, cannot be terminated again.
  if (process.Exited() || process.terminated || process.refusesTerminate)
    return winsim::Fail(ERROR_ACCESS_DENIED);
  process.terminated = true;
  process.exitCode = exitCode;
  process.exitTime = winsim::Now() + process.endsAfterTerminateMs;
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
  auto object = winsim::GetKernel<winsim::ProcessObject>(handle);
  if (!object) return winsim::Fail(ERROR_INVALID_HANDLE);
  if (!(object->access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)))
    return winsim::Fail(ERROR_ACCESS_DENIED);
  if (!exitCode) return winsim::Fail(ERROR_NOACCESS);
  *exitCode = object->process->Exited() ? object->process->exitCode : STILL_ACTIVE;
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId() {
  winsim::Table& table = winsim::Processes();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.current;
}

void WINAPI GetStartupInfoA(LPSTARTUPINFOA startupInfo) {
  if (!startupInfo) return;
  *startupInfo = winsim::g_startup;
  startupInfo->cb = sizeof *startupInfo;
}
