#include "client/validation.h"

#include "runtime/action.h"
#include "runtime/names.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

using namespace names;

constexpr char kClientNameValid[] = "ClientNameValid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kClientPathValid[] = "ClientPathValid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kProgramFolderValid[] = "ProgramFolderValid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kValidationFailed[] = "ValidationFailed.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

constexpr char kErrorEmptyDefault[] =
    "ErrorClientNameEmtpyDefault.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kErrorInvalidDefault[] =
    "ErrorClientNameInvalidDefault.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

// Characters that a name may not hold, and the smaller set for folder paths,
// which keep their drive colon and backslashes.
constexpr char kNameForbidden[] = "\\/:*?\"<>|,.()[];";
constexpr char kPathForbidden[] = "/*?\"<>|";

constexpr int kClientNameMaxBytes = 20;
constexpr DWORD kNameBufferSize = 256;
constexpr DWORD kVolumeBufferSize = 261;

const char* ForbiddenSetFor(LPCSTR name) {
  static const char* const kPathProperties[] = {kClientFolder, kLauncherProgramFolder, kAgentProgramFolder,
                                                kScratchPath};
  for (const char* path : kPathProperties)
    if (lstrcmpA(name, path) == 0) return kPathForbidden;
  return kNameForbidden;
}

// Checks a path property and answers in its result property.
UINT ValidatePathProperty(MSIHANDLE hInstall, LPCSTR name, LPCSTR resultProperty) {
  return ValidateProperty(hInstall, name, resultProperty, nullptr, nullptr);
}

}  // namespace

UINT ValidateProperty(MSIHANDLE hInstall, LPCSTR name, LPCSTR resultProperty, int* valid,
                      int* empty) {
  char* value = nullptr;
  if (GetPropertyValue(hInstall, name, &value, nullptr, nullptr) != ERROR_SUCCESS) {
    FreeBuffer(&value);
    return ERROR_SUCCESS;
  }

  bool acceptable = false;
  if (value[0] == '\0') {
    if (empty) *empty = 1;
    if (lstrcmpA(name, kClientName) == 0) {
      char* dynamic = nullptr;
      UINT read = GetPropertyValue(hInstall, kDynamicClientName, &dynamic, nullptr, nullptr);
      if (read == ERROR_SUCCESS) acceptable = EqualsNoCase(dynamic, "yes");
      FreeBuffer(&dynamic);
      if (read != ERROR_SUCCESS) {
        FreeBuffer(&value);
        return ERROR_SUCCESS;
      }
    }
  } else {
    if (empty) *empty = 0;
    acceptable = !ContainsAnyOf(value, ForbiddenSetFor(name));
  }
  FreeBuffer(&value);

  if (resultProperty)
    MsiSetPropertyA(hInstall, resultProperty, acceptable ? "Yes" : "No");
  else if (valid)
    *valid = acceptable ? 1 : 0;
  return ERROR_SUCCESS;
}

bool GetIniClientName(MSIHANDLE hInstall, char* buffer, DWORD size, LPCSTR key) {
  static const char kFileName[] = "ZNCNAME.INI";
  char path[kVolumeBufferSize];
  if (ReadProperty(hInstall, "WindowsVolume", path, sizeof path) != ERROR_SUCCESS ||
      path[0] == '\0')
    return false;
  // A volume path too long to take the file name is no volume the client used.
  if (lstrlenA(path) + lstrlenA(kFileName) >= static_cast<int>(sizeof path)) return false;
  lstrcatA(path, kFileName);
  return GetPrivateProfileStringA("ZNClient", key, "", buffer, size, path) > 0;
}

}  // namespace viduzo

using namespace viduzo;

// Proposes a client name: the one already set or the earlier client's, cut to the
// limit. An unacceptable name falls back to dynamic naming when the package
// allows it, after the package's error action has told the user.
extern "C" UINT WINAPI GetQVAClientName(MSIHANDLE hInstall) {
  char name[kNameBufferSize];
  UINT read = ReadProperty(hInstall, kClientName, name, sizeof name);
  bool have = (read == ERROR_SUCCESS || read == ERROR_MORE_DATA) && name[0] != '\0';
  if (!have) {
    name[0] = '\0';
    char installed[kNameBufferSize];
    if (ReadProperty(hInstall, "Installed", installed, sizeof installed) == ERROR_SUCCESS &&
        installed[0] == '\0') {
      if (!GetIniClientName(hInstall, name, sizeof name, "ClientName")) name[0] = '\0';
    }
  }
  TruncateBytes(name, kClientNameMaxBytes);
  MsiSetPropertyA(hInstall, kClientName, name);

  int valid = 1;
  int empty = 0;
  ValidateProperty(hInstall, kClientName, nullptr, &valid, &empty);
  if (valid) return ERROR_SUCCESS;

  char dynamic[kNameBufferSize];
  if (ReadProperty(hInstall, kDynamicClientName, dynamic, sizeof dynamic) != ERROR_SUCCESS ||
      dynamic[0] == '\0')
    return ERROR_SUCCESS;
  char admin[kNameBufferSize];
  if (ReadProperty(hInstall, "IsAdminPackage", admin, sizeof admin) != ERROR_SUCCESS ||
      admin[0] != '\0')
    return ERROR_SUCCESS;

  MsiSetPropertyA(hInstall, kValidationError, empty ? kErrorEmptyDefault : kErrorInvalidDefault);
  MsiDoActionA(hInstall, kValidationFailed);
  MsiSetPropertyA(hInstall, kClientName, "");
  MsiSetPropertyA(hInstall, kValidationError, "");
  MsiSetPropertyA(hInstall, kDynamicClientName, "yes");
  return ERROR_SUCCESS;
}

// Answers in ClientNameValid: "Over" for a name longer than the limit, else
// "Yes" / "No". An empty name gets no answer.
extern "C" UINT WINAPI ValidateClientName(MSIHANDLE hInstall) {
  char name[kNameBufferSize];
  if (ReadProperty(hInstall, kClientName, name, sizeof name) != ERROR_SUCCESS) return ERROR_SUCCESS;
  if (name[0] == '\0') return ERROR_SUCCESS;
  if (lstrlenA(name) > kClientNameMaxBytes) {
    MsiSetPropertyA(hInstall, kClientNameValid, "Over");
    return ERROR_SUCCESS;
  }
  return ValidateProperty(hInstall, kClientName, kClientNameValid, nullptr, nullptr);
}

// Fails the action, after running the package's error action, when the client
// name is not acceptable, so that the dialog does not go on.
extern "C" UINT WINAPI ValidateClientName2(MSIHANDLE hInstall) {
  int valid = 1;
  int empty = 0;
  ValidateProperty(hInstall, kClientName, nullptr, &valid, &empty);
  if (valid) return ERROR_SUCCESS;
  MsiSetPropertyA(hInstall, kValidationError, empty ? kErrorClientNameEmpty : kErrorClientNameInvalid);
  MsiDoActionA(hInstall, kValidationFailed);
  return ERROR_INSTALL_FAILURE;
}

extern "C" UINT WINAPI ValidateClientPath(MSIHANDLE hInstall) {
  return ValidatePathProperty(hInstall, kClientFolder, kClientPathValid);
}

extern "C" UINT WINAPI ValidateProgramFolder(MSIHANDLE hInstall) {
  return ValidatePathProperty(hInstall, kLauncherProgramFolder, kProgramFolderValid);
}

extern "C" UINT WINAPI ValidateProgramFolderHLA(MSIHANDLE hInstall) {
  return ValidatePathProperty(hInstall, kAgentProgramFolder, kProgramFolderValid);
}
