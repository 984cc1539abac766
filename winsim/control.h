// What only a test can set or read in winsim: the controls that have no
// Windows API. Native tests include this; tests built for Wine never do.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace winsim {

// ---- installer handles ------------------------------------------------------
std::size_t OpenHandleCount();
// How many table rows the engine's queries have looked at so far (a keyed
// lookup looks at the rows it finds; a walk at every row of the table).
std::size_t RowsExamined();

// ---- install session --------------------------------------------------------
struct ProcessedMessage {
  INSTALLMESSAGE type;
  std::vector<std::string> fields;  // fields 0..count as text
};
// The answer MsiProcessMessage gives (0 until a test sets one).
void SetMessageAnswer(int answer);
const std::vector<ProcessedMessage>& Messages();
void ClearMessages();

// Actions a test registers; MsiDoActionA runs them by name before the package's
// CustomAction table is consulted.
void RegisterAction(const std::string& name, std::function<UINT(MSIHANDLE)> action);
// Every action name that MsiDoActionA was asked to run, in order.
const std::vector<std::string>& ActionsRun();
void ResetSession();

// Products installed on the machine, as MsiGetComponentPathA and the costing
// actions (the installed states of a package's features and components) see
// them. Nothing is installed until a test registers it; product and component
// codes are GUIDs, matched without regard to case. A component registered
// INSTALLSTATE_LOCAL answers LOCAL while its path exists, ABSENT when it does
// not, NOTUSED when the path is empty. ResetSession forgets every product.
void SetInstalledComponent(const std::string& productCode, const std::string& componentCode,
                           INSTALLSTATE state, const std::string& path);
// The installed state a feature of the product reports after CostFinalize.
void SetInstalledFeature(const std::string& productCode, const std::string& feature,
                         INSTALLSTATE state);
void ResetInstalledProducts();

// Makes MsiGetPropertyA (reads) or MsiSetPropertyA (writes) of the property
// `name` (the exact name) fail with ERROR_FUNCTION_FAILED once `afterSuccesses`
// more such calls on it have succeeded, and every such call after that; a name
// ending in "*" stands for every property whose name begins with the rest.
// ResetSession lets them succeed again.
void FailPropertyRead(const std::string& name, unsigned afterSuccesses = 0);
void FailPropertyWrite(const std::string& name, unsigned afterSuccesses = 0);

// Makes MsiViewModify inserts (modes 1 and 7) into `table` fail with
// ERROR_FUNCTION_FAILED when field `field` of the record holds `value`, as an
// engine that refuses a row would. ResetSession forgets them.
void FailRowInsert(const std::string& table, UINT field, const std::string& value);
void ResetRowInsertFailures();

// ---- debug output, message boxes -------------------------------------------
// Every OutputDebugStringA text, in order.
const std::vector<std::string>& DebugLines();
void ClearDebugLines();

struct MessageBoxCall {
  std::string text;
  std::string caption;
  UINT type;
};
// Every MessageBoxA call, in order.
const std::vector<MessageBoxCall>& MessageBoxes();
void ClearMessageBoxes();
// The answer MessageBoxA gives (IDOK until a test sets another).
void SetMessageBoxAnswer(int answer);

// ---- environment ---------------------------------------------------------------
// The process starts with the environment of a user logged on to Windows (PATH,
// SystemRoot, windir, TEMP, USERPROFILE, ProgramFiles, ...), never the host's;
// SetEnvironmentVariableA changes it. ResetEnvironment returns to that start.
void ResetEnvironment();

// ---- process heap -------------------------------------------------------------
// Makes one HeapAlloc / HeapReAlloc fail: the one after `afterSuccesses` more
// calls succeed.
void FailHeapAllocation(unsigned afterSuccesses);
void ResetHeapFailure();
// True while the failure FailHeapAllocation asked for has not happened yet.
bool HeapFailurePending();
// The number of HeapAlloc blocks not yet freed.
std::size_t HeapBlockCount();

// ---- code page -------------------------------------------------------------
// 1252 or 932; by default chosen from LC_ALL / LC_CTYPE / LANG like Wine does
// ("ja..." gives 932). 0 returns to that default.
void SetCodePage(UINT codePage);

// ---- file system -----------------------------------------------------------
// The host folder that holds drive C: and the other Windows paths: the
// folder named by WINSIM_ROOT, else a fresh folder under the host's temporary
// folder that is removed when the process exits. Drive X: is its folder "X",
// \\server\share is "UNC/server/share".
std::string SandboxRoot();
// The host path of a Windows path (relative paths start at the current
// directory). Existing entries are matched without regard to case.
std::string HostPath(const std::string& windowsPath);

// Disk sizes. Every drive that exists reports 256 GiB in all and 96 GiB free
// until a test sets its sizes; setting them also makes the drive exist
// (a drive that does not exist fails both calls with ERROR_PATH_NOT_FOUND).
void SetDiskSize(char drive, unsigned long long totalBytes, unsigned long long freeBytes);
// Makes GetDiskFreeSpaceExA or GetDiskFreeSpaceA fail for a drive with the
// given error code; 0 lets it succeed again.
enum class DiskCall { kFreeSpaceEx, kFreeSpace };
void FailDiskCall(char drive, DiskCall call, DWORD error);
// Forgets every size and failure set.
void ResetDisks();

// Gives an existing file or folder the 8.3 name `shortName` (in upper case),
// as SetFileShortNameA does on NTFS; it may even be one that equals the long
// name without regard to case. False when there is no such entry.
bool SetShortName(const std::string& windowsPath, const std::string& shortName);

// The number of kernel handles (files, folders, searches, ...) open now.
std::size_t OpenKernelHandleCount();

// ---- modules -----------------------------------------------------------------
// The bytes of a file that LoadLibraryA loads as the registered module of that
// file name (winsim's stand-in for a DLL's image), whatever the file is called:
// what a test puts into a package's Binary table for a DLL custom action.
std::string ModuleImage(const std::string& fileName);

// ---- registry ----------------------------------------------------------------
// The registry starts as Windows has it after setup: HKEY_LOCAL_MACHINE with
// HARDWARE, SOFTWARE (and SOFTWARE\Classes, which HKEY_CLASSES_ROOT shows) and
// SYSTEM; HKEY_USERS with .DEFAULT and the current user's hive, which
// HKEY_CURRENT_USER shows. ResetRegistry returns it to that state and closes
// every key handle.
void ResetRegistry();
// The SID of the current user, the name of its hive under HKEY_USERS.
std::string CurrentUserSid();
// Loads a user's hive as HKEY_USERS\<sid>: the content it had when it was last
// unloaded, else a new hive holding Software and Environment. False when a
// hive of that name is loaded already or the name is empty or holds "\".
bool LoadUserHive(const std::string& sid);
// Unloads it: open handles into it report ERROR_KEY_DELETED from then on.
// While the current user's hive is unloaded, HKEY_CURRENT_USER shows
// HKEY_USERS\.DEFAULT. False when no such hive is loaded (.DEFAULT cannot be).
bool UnloadUserHive(const std::string& sid);
// The number of registry key handles open now (predefined keys not counted).
std::size_t OpenKeyCount();

struct RegistryAce {
  BYTE type;         // ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE, ...
  BYTE flags;        // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, ...
  ACCESS_MASK mask;  // as written in the ACE
  std::string sid;   // "S-1-1-0"
};
struct RegistryKeySecurity {
  unsigned daclWrites = 0;  // how many times a DACL was applied to the key
  bool daclPresent = false;  // false: the last one applied was "no DACL"
  bool nullDacl = false;     // present, but a null DACL (everyone has full access)
  std::vector<RegistryAce> aces;  // the last DACL applied, in order
  std::string owner;              // the owner applied, "" when none was
};
// What RegSetKeySecurity (or the security attributes of RegCreateKeyExA) last
// applied to the key root\subKey. False when the key does not exist.
bool KeySecurity(HKEY root, const std::string& subKey, RegistryKeySecurity* security);

// ---- processes, windows and the clock ---------------------------------------------
// Sleep and the time-outs of the waits move a simulated clock (which runs with
// the host's clock otherwise) instead of sleeping; GetTickCount reads it. A
// wait that nothing can ever end stops the test program with a message.
//
// While frozen, the clock moves only by sleeps and waits, so that a test can
// expect exact times; the test listener thaws it before every test.
void FreezeClock(bool frozen);
// The date and time (UTC) that GetSystemTime and GetSystemTimeAsFileTime report
// from now on, moving with the clock above; ResetSystemClock returns them to
// the host's real time (the test listener does so before every test).
void SetSystemClock(const FILETIME& utc);
void ResetSystemClock();
//
// A program that CreateProcessA can start is a file whose content is
// ProgramFileContent(name): starting it calls the program registered under
// that name with the command line, while GetCurrentProcessId names the new
// process (so windows it creates belong to it), and the ProgramRun it returns
// says how the process goes on.
struct FileChange {
  DWORD afterMs;     // after the start of the process
  std::string path;  // the file that changes (a Windows path)
  DWORD kind;        // FILE_NOTIFY_CHANGE_FILE_NAME, _SIZE, ... : what a notification filters on
};
struct ProgramRun {
  DWORD exitAfterMs = 0;  // INFINITE: runs until terminated
  DWORD exitCode = 0;
  DWORD endsAfterTerminateMs = 0;  // how long it takes to end after TerminateProcess
  bool refusesOpen = false;        // OpenProcess of it fails with ERROR_ACCESS_DENIED
  bool refusesTerminate = false;   // TerminateProcess of it fails with ERROR_ACCESS_DENIED
  std::vector<FileChange> fileChanges;  // seen by change notifications
};
using Program = std::function<ProgramRun(const std::string& commandLine)>;
void RegisterProgram(const std::string& name, Program program);
std::string ProgramFileContent(const std::string& name);
// Ends every process (exit code 1) and forgets the file changes.
void ResetProcesses();
// How many times FindNextChangeNotification re-armed a notification.
std::size_t ChangeNotificationRearms();

// Process snapshots: entries name the program file alone, as Windows does;
// with full paths they carry the whole path instead. A failing snapshot gives
// INVALID_HANDLE_VALUE. A toolhelp function made missing is no longer found by
// GetProcAddress on kernel32. ResetProcessSnapshots undoes all three.
void SetSnapshotFullPaths(bool fullPaths);
void FailProcessSnapshots(bool fail);
void SetToolhelpFunctionMissing(const std::string& name);
void ResetProcessSnapshots();

// Destroys every window and forgets every window class.
void ResetWindows();
// Every SendMessageTimeoutA to HWND_BROADCAST since ResetWindows, in order;
// text is lParam's text for WM_SETTINGCHANGE, "" otherwise.
struct Broadcast {
  UINT message;
  WPARAM wParam;
  std::string text;
  UINT flags;
  UINT timeoutMs;
};
const std::vector<Broadcast>& Broadcasts();

// Modules: how many loads of a module are outstanding (system DLLs start at 1),
// and LoadLibraryA / FreeLibrary of it made to fail (ERROR_MOD_NOT_FOUND,
// ERROR_INVALID_HANDLE) until a test allows them again.
int ModuleLoadCount(const std::string& name);
void FailModuleCalls(const std::string& name, bool load, bool free);

// ---- whole-session reads for tools (viduzo-run) -----------------------------------
// Every property of the install session, by name; empty when the handle is no
// install handle.
std::map<std::string, std::string> SessionProperties(MSIHANDLE install);

// A table of a database as it stands: its columns (names, and the type texts
// MsiViewGetColumnInfo reports: "s72", "I2", "v0", ...), how many of the first
// columns form the key, and its rows in key order. A field is its text
// (integers in decimal, streams as their bytes, null as ""); a row is flagged
// temporary when it was inserted with MSIMODIFY_INSERT_TEMPORARY or belongs to a
// held table.
struct TableRowContent {
  std::vector<std::string> fields;
  bool temporary = false;
};
struct TableContent {
  std::string name;
  std::vector<std::string> columns;
  std::vector<std::string> types;
  std::size_t keyCount = 0;
  bool temporary = false;
  std::vector<TableRowContent> rows;
};
// Every table of the database behind a database or install handle, by name.
std::vector<TableContent> DatabaseTables(MSIHANDLE handle);

// ---- COM and the shell link object ---------------------------------------------------
// How many initialisations (CoInitialize / OleInitialize) of this thread's
// apartment are outstanding.
int ComInitializeDepth();
// Makes every CoCreateInstance fail with `result`; S_OK lets it succeed again.
void FailCoCreateInstance(HRESULT result);
// Shell link objects alive now (created and not yet released to zero).
long LiveShellLinkCount();
// Makes a method of every shell link object fail: "Load", "GetPath" and
// "GetArguments" with E_FAIL, "QueryInterface" (for IPersistFile) with
// E_NOINTERFACE. ResetShellLinks lets them all succeed again.
void FailShellLinkMethod(const std::string& method);
void ResetShellLinks();

}  // namespace winsim
