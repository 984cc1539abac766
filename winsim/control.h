// What only a test can set or read in winsim: the controls that have no
// Windows API. Native tests include this; tests built for Wine never do.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "runtime/win.h"

namespace winsim {

// ---- installer handles ------------------------------------------------------
std::size_t OpenHandleCount();

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

// ---- process heap -------------------------------------------------------------
// Makes one HeapAlloc / HeapReAlloc fail: the one after `afterSuccesses` more
// calls succeed.
void FailHeapAllocation(unsigned afterSuccesses);
void ResetHeapFailure();

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

}  // namespace winsim
