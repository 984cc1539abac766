// The downgrade guards: before an older client replaces a newer one, the
// package runs the guard of its type. A guard refuses outright when no question
// can be asked and otherwise asks; consent forces every file to be reinstalled
// and is recorded for the rest of the installation. IMS_PrintOut shows the
// reinstall mode in a message box, for diagnosis.
#include <cstdlib>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"

namespace viduzo {
namespace {

constexpr DWORD kUiLevelBuffer = 512;
constexpr DWORD kReinstallModeBuffer = 512;
constexpr char kReinstallMode[] = "REINSTALLMODE";
constexpr char kAllowDowngrade[] = "VMR_ALLOW_CLIENT_DOWNGRADE";

// The refusal goes out as a plain error message; the question as a user
// message with Yes/No buttons and the exclamation icon.
constexpr INSTALLMESSAGE kRefusal = INSTALLMESSAGE_ERROR;
constexpr INSTALLMESSAGE kQuestion =
    static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_USER | MB_YESNO | MB_ICONEXCLAMATION);

// True when the user interface level lets no question be asked: none (2) or
// basic (3). An unreadable or empty level lets the question through.
bool NoQuestionPossible(MSIHANDLE hInstall) {
  char level[kUiLevelBuffer] = {};
  if (ReadProperty(hInstall, "UILevel", level, kUiLevelBuffer) != ERROR_SUCCESS) return false;
  if (level[0] == '\0') return false;
  int number = std::atoi(level);
  return number == INSTALLUILEVEL_NONE || number == INSTALLUILEVEL_BASIC;
}

// Field 1 of the message record is the message number; with no template the
// engine takes the text from the package's Error table.
UINT GuardDowngrade(MSIHANDLE hInstall, int refusal, int question) {
  MsiHandle record(MsiCreateRecord(1));
  if (NoQuestionPossible(hInstall)) {
    MsiRecordSetInteger(record.get(), 1, refusal);
    MsiProcessMessage(hInstall, kRefusal, record.get());
    return ERROR_INSTALL_FAILURE;
  }
  MsiRecordSetInteger(record.get(), 1, question);
  if (MsiProcessMessage(hInstall, kQuestion, record.get()) != IDYES) return ERROR_INSTALL_USEREXIT;
  if (MsiSetPropertyA(hInstall, kReinstallMode, "aums") != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;
  MsiSetPropertyA(hInstall, kAllowDowngrade, "Yes");
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace viduzo

extern "C" UINT WINAPI WarningMessageIfDowngradeClassic(MSIHANDLE hInstall) {
  return viduzo::GuardDowngrade(hInstall, 28504, 28500);
}

extern "C" UINT WINAPI WarningMessageIfDowngradeAgent(MSIHANDLE hInstall) {
  return viduzo::GuardDowngrade(hInstall, 28505, 28501);
}

extern "C" UINT WINAPI WarningMessageIfDowngradeAll(MSIHANDLE hInstall) {
  return viduzo::GuardDowngrade(hInstall, 28506, 28502);
}

extern "C" UINT WINAPI IMS_PrintOut(MSIHANDLE hInstall) {
  char mode[viduzo::kReinstallModeBuffer] = {};
  viduzo::ReadProperty(hInstall, viduzo::kReinstallMode, mode, viduzo::kReinstallModeBuffer);
  MessageBoxA(nullptr, mode[0] == '\0' ? "REINSTALLMODE is NULL" : mode, "PrintOut",
              MB_ICONINFORMATION);
  return ERROR_SUCCESS;
}
