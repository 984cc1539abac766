#include "client/running.h"

#include <tlhelp32.h>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kClientProcessRunning[] =
    "ClientProcessRunning.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

// The client's main windows, by class, in the order they are looked for.
constexpr const char* kClientWindowClasses[] = {"ZncMgr32Class", "ZncRun32Class", "ZnQVA32Class",
                                               "QVA Seamless Connection Center"};
constexpr char kConnectionManagerClass[] = "ZncRun32Class";
// The connection manager is polled this many times, this far apart, before the
// action goes on without it.
constexpr int kManagerPolls = 20;
constexpr DWORD kManagerPollMs = 100;
// What WM_COPYDATA asks of the connection manager: to end.
constexpr ULONG_PTR kTerminateRequest = 1;

constexpr char kAgentCommandKey[] = "HLAgentFile\\Shell\\Open\\Command";
constexpr char kTerminateSwitch[] = " /terminate";
// The registered command is read into 521 bytes; the command line adds two
// quotes, the switch and the terminator.
constexpr LONG kCommandValueSize = 521;
constexpr int kCommandLineSize = kCommandValueSize - 1 + 2 + sizeof kTerminateSwitch;
// The terminate process is checked at least this often, and at every change in
// the files the notification watches.
constexpr DWORD kAgentWaitMs = 30000;
constexpr DWORD kAgentFilesFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE;

constexpr DWORD kTerminateAccess = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE;
constexpr DWORD kProcessEndMs = 2000;

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32);

// Reads the agent's registered open command (the key's default value).
bool ReadAgentCommand(char (&value)[kCommandValueSize]) {
  RegKey key;
  LONG size = kCommandValueSize;
  // A value that fills the buffer without its terminator does not fit either.
  value[kCommandValueSize - 1] = '\0';
  return RegOpenKeyA(HKEY_CLASSES_ROOT, kAgentCommandKey, key.put()) == ERROR_SUCCESS &&
         RegQueryValueA(key.get(), nullptr, value, &size) == ERROR_SUCCESS &&
         value[kCommandValueSize - 1] == '\0';
}

// Turns the registered command into the agent's command line: the program path
// quoted, everything from the "%1" placeholder on dropped (with the quote that
// opens it), and the terminate switch appended when asked for. Cuts value.
void BuildAgentCommandLine(char* value, char (&commandLine)[kCommandLineSize], bool terminate) {
  commandLine[0] = '\0';
  if (value[0] != '"') lstrcatA(commandLine, "\"");
  if (char* placeholder = const_cast<char*>(FindText(value, "%1"))) {
    if (placeholder != value && placeholder[-1] == '"') --placeholder;
    *placeholder = '\0';
  }
  lstrcatA(commandLine, value);
  if (!FindChar(value, '"')) lstrcatA(commandLine, "\"");
  if (terminate) lstrcatA(commandLine, kTerminateSwitch);
}

// Starts a command line shown, without waiting; the caller owns the process
// handle (null when the start failed).
HANDLE StartProcess(char* commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started))
    return nullptr;
  KernelHandle thread(started.hThread);
  return started.hProcess;
}

void ReleaseKernel32(HMODULE kernel) {
  if (!FreeLibrary(kernel)) OutputDebugStringA("VmrTerminateProcess: FreeLibrary call failed.");
}

// Ends one process of the list; the outcome as VmrTerminateProcess counts it,
// or `previous` when the process could not be terminated.
int EndProcess(DWORD processId, int previous) {
  KernelHandle process(OpenProcess(kTerminateAccess, FALSE, processId));
  if (!process) return 0;
  if (!TerminateProcess(process.get(), 0)) return previous;
  return WaitForSingleObject(process.get(), kProcessEndMs) == WAIT_OBJECT_0 ? 1 : 0;
}

// Takes a snapshot of the process list and ends every process of the name;
// the result as VmrTerminateProcess reports it.
int WalkProcesses(CreateSnapshotFn createSnapshot, ProcessWalkFn firstProcess,
                  ProcessWalkFn nextProcess, LPCSTR exeName) {
  OutputDebugStringA("VmrTerminateProcess: Calling CreateToolHelp32SnapShot");
  KernelHandle snapshot(createSnapshot(TH32CS_SNAPPROCESS, 0));
  OutputDebugStringA("VmrTerminateProcess: After pCreateToolHelp32SnapShot");
  if (!snapshot) return 0;

  int result = 0;
  // The record's size tells the system which layout the caller uses; it must be
  // this build's own (296 bytes on x86, 304 on x64).
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  if (firstProcess(snapshot.get(), &entry)) {
    OutputDebugStringA("VmrTerminateProcess: After pProcess32First");
    do {
      const char* slash = FindLastChar(entry.szExeFile, '\\');
      const char* fileName = slash ? slash + 1 : entry.szExeFile;
      if (EqualsNoCase(fileName, exeName)) result = EndProcess(entry.th32ProcessID, result);
    } while (nextProcess(snapshot.get(), &entry));
  }
  return result;
}

}  // namespace

UINT TerminateHlAgent(MSIHANDLE hInstall) {
  char value[kCommandValueSize];
  if (!ReadAgentCommand(value)) return ERROR_SUCCESS;
  // The whole registered text is given as the folder to watch; when it names
  // no folder the handle is invalid and the wait is on the process alone.
  ChangeNotification changes(FindFirstChangeNotificationA(value, TRUE, kAgentFilesFilter));
  char commandLine[kCommandLineSize];
  BuildAgentCommandLine(value, commandLine, true);
  KernelHandle process(StartProcess(commandLine));
  if (!process) return ERROR_SUCCESS;

  const HANDLE waitList[] = {process.get(), changes.get()};
  const DWORD waitCount = changes ? 2 : 1;
  DWORD exitCode;
  do {
    if (WaitForMultipleObjects(waitCount, waitList, FALSE, kAgentWaitMs) == WAIT_OBJECT_0 + 1)
      FindNextChangeNotification(changes.get());
    if (!GetExitCodeProcess(process.get(), &exitCode)) break;
  } while (exitCode == STILL_ACTIVE);
  return ERROR_SUCCESS;
}

int VmrTerminateProcess(LPCSTR exeName) {
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  if (!kernel) return 0;
  auto createSnapshot = reinterpret_cast<CreateSnapshotFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
  auto firstProcess = reinterpret_cast<ProcessWalkFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Process32First")));
  auto nextProcess = reinterpret_cast<ProcessWalkFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Process32Next")));
  OutputDebugStringA("VmrTerminateProcess: After LoadLibrary(kernel32.dll)");
  if (!createSnapshot || !firstProcess || !nextProcess) {
    ReleaseKernel32(kernel);
    return 0;
  }

  int result = WalkProcesses(createSnapshot, firstProcess, nextProcess, exeName);
  ReleaseKernel32(kernel);
  return result;
}

}  // namespace viduzo

using namespace viduzo;

// Sets ClientProcessRunning to "Yes" when any of the client's main windows
// exists; leaves it alone otherwise.
extern "C" UINT WINAPI IsClientRunning(MSIHANDLE hInstall) {
  for (const char* windowClass : kClientWindowClasses) {
    if (FindWindowA(windowClass, nullptr)) {
      MsiSetPropertyA(hInstall, kClientProcessRunning, "Yes");
      return ERROR_SUCCESS;
    }
  }
  return ERROR_SUCCESS;
}

// Asks the connection manager to end and gives it about two seconds; then, in
// the packages that carry the agent, ends the agent through its own terminate
// switch.
extern "C" UINT WINAPI SignalClientTerminate(MSIHANDLE hInstall) {
  if (HWND manager = FindWindowA(kConnectionManagerClass, nullptr)) {
    DWORD payload = 0;
    COPYDATASTRUCT request = {kTerminateRequest, sizeof payload, &payload};
    SendMessageA(manager, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&request));
    for (int poll = 0; poll < kManagerPolls; ++poll) {
      Sleep(kManagerPollMs);
      if (!FindWindowA(kConnectionManagerClass, nullptr)) break;
    }
  }

  char packageType[256];
  if (ReadProperty(hInstall, "HlType", packageType, sizeof packageType) != ERROR_SUCCESS ||
      packageType[0] == '\0')
    return ERROR_SUCCESS;
  if (EqualsNoCase(packageType, "MSIHL")) return ERROR_SUCCESS;
  TerminateHlAgent(hInstall);
  return ERROR_SUCCESS;
}

// Starts the agent again with its registered command, without waiting.
extern "C" UINT WINAPI RestartHlAgent(MSIHANDLE hInstall) {
  char value[kCommandValueSize];
  if (!ReadAgentCommand(value)) return ERROR_SUCCESS;
  char commandLine[kCommandLineSize];
  BuildAgentCommandLine(value, commandLine, false);
  KernelHandle process(StartProcess(commandLine));
  return ERROR_SUCCESS;
}

// Ends the single-sign-on server.
extern "C" UINT WINAPI KillTROV(MSIHANDLE hInstall) {
  VmrTerminateProcess("trovsvr.exe");
  return ERROR_SUCCESS;
}
