// Network and logon settings the client changes while it is installed and takes
// back at removal: the TCP and AFD window sizes, the network provider order
// with the single-sign-on provider "HlTrov" in it, and the pass-through path.
#include <cstring>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/registry.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kTcpipKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
constexpr char kAfdKey[] = "SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters";
constexpr char kProviderOrderKey[] = "System\\CurrentControlSet\\Control\\NetworkProvider\\Order";
constexpr char kPassThroughKey[] = "SOFTWARE\\Velmar\\QVA Client\\PASS THROUGH";

constexpr char kProviderOrder[] = "ProviderOrder";
constexpr char kProviderOrderBackup[] = "VmrBackupProviderOrder";
constexpr char kTrovProvider[] = "HlTrov";
constexpr char kDefaultProviderOrder[] = "LanmanWorkstation";
constexpr char kTrovEnabled[] = "IS_TROV_ENABLED.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kPassThroughPath[] = "PassThrough Path";
constexpr char kDefaultPassThroughPath[] = "%systemroot%\\A6E92D03_5F71_4C8D_B0E4_9C13F78B2A56";
constexpr char kOrderKeyFailure[] =
    "Failed to create the HKLM\\System\\CurrentControlSet\\Control\\NetworkProvider\\Order key";

// The window size the client needs: 63 KiB.
constexpr DWORD kTunedWindowSize = 64512;

constexpr DWORD kNumberBuffer = 256;
constexpr DWORD kBackupOrderBuffer = 256;
constexpr DWORD kOrderCheckBuffer = 512;
constexpr DWORD kVersionBuffer = 512;
constexpr DWORD kPathBuffer = 260;

// One tuned window: its parameters key, the tuned value and its backup.
struct WindowSetting {
  const char* key;
  const char* value;
  const char* backup;
};
constexpr WindowSetting kTcpipWindow = {kTcpipKey, "TcpWindowSize", "VelmarBackupTcpWindowSize"};
constexpr WindowSetting kAfdWindow = {kAfdKey, "DefaultSendWindow",
                                      "VelmarBackupDefaultSendWindow"};

bool OpenOrCreate(HKEY root, LPCSTR path, RegKey* key) {
  return RegCreateKeyExA(root, path, 0, const_cast<LPSTR>(""), 0, KEY_ALL_ACCESS, nullptr,
                         key->put(), nullptr) == ERROR_SUCCESS;
}

// The number of a window-size backup: "#" and decimal digits as an application
// search gives a REG_DWORD. The first character is skipped; digits are read up
// to the first non-digit, and a number past 32 bits stops at 4294967295.
DWORD BackupNumber(const char* text) {
  DWORD number = 0;
  for (const char* p = text + 1; *p >= '0' && *p <= '9'; ++p) {
    DWORD digit = static_cast<DWORD>(*p - '0');
    if (number > (0xFFFFFFFFu - digit) / 10) return 0xFFFFFFFFu;
    number = number * 10 + digit;
  }
  return number;
}

// Reads CustomActionData into a fixed buffer; false when it cannot be read or
// is empty.
bool ReadBackupData(MSIHANDLE hInstall, char (&data)[kNumberBuffer]) {
  return ReadProperty(hInstall, "CustomActionData", data, sizeof data) == ERROR_SUCCESS &&
         data[0] != '\0';
}

UINT BackupWindowSize(MSIHANDLE hInstall, const WindowSetting& setting) {
  HideCancelMessage(hInstall);
  RegKey key;
  if (!OpenOrCreate(HKEY_LOCAL_MACHINE, setting.key, &key)) return ERROR_SUCCESS;
  char data[kNumberBuffer];
  DWORD backup = ReadBackupData(hInstall, data) ? BackupNumber(data) : 0;
  WriteRegistryDword(key.get(), setting.backup, backup);
  WriteRegistryDword(key.get(), setting.value, kTunedWindowSize);
  return ERROR_SUCCESS;
}

UINT RestoreWindowSize(MSIHANDLE hInstall, const WindowSetting& setting) {
  HideCancelMessage(hInstall);
  char data[kNumberBuffer];
  if (!ReadBackupData(hInstall, data)) return ERROR_SUCCESS;
  DWORD backup = BackupNumber(data);
  RegKey key;
  if (!OpenOrCreate(HKEY_LOCAL_MACHINE, setting.key, &key)) return ERROR_SUCCESS;
  if (backup == 0) {
    // There was no value before installation: remove the tuned one, unless
    // someone has changed it since.
    DWORD current = 0;
    DWORD size = sizeof current;
    if (RegQueryValueExA(key.get(), setting.value, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&current), &size) == ERROR_SUCCESS &&
        current == kTunedWindowSize)
      RegDeleteValueA(key.get(), setting.value);
  } else {
    WriteRegistryDword(key.get(), setting.value, backup);
  }
  RegDeleteValueA(key.get(), setting.backup);
  return ERROR_SUCCESS;
}

// The first occurrence of the single-sign-on provider as a whole element of a
// comma-separated list: preceded by the start or a comma, followed by a comma
// or the end. Null when there is none.
const char* FindTrovElement(const char* list) {
  const int length = lstrlenA(kTrovProvider);
  for (const char* p = FindText(list, kTrovProvider); p;
       p = FindText(CharNextA(p), kTrovProvider)) {
    bool starts = p == list || p[-1] == ',';
    bool ends = p[length] == ',' || p[length] == '\0';
    if (starts && ends) return p;
  }
  return nullptr;
}

// Takes the provider out of the list in place: the text before it loses the
// comma in front of the element, the comma after it is kept; a first element
// takes the comma after it along.
void RemoveTrovElement(char* list) {
  char* element = const_cast<char*>(FindTrovElement(list));
  if (!element) return;
  char* rest = element + lstrlenA(kTrovProvider);
  char* cut = element;
  if (element == list) {
    if (*rest == ',') ++rest;
  } else {
    --cut;  // the comma before the element
  }
  std::memmove(cut, rest, lstrlenA(rest) + 1);
}

}  // namespace
}  // namespace viduzo

using namespace viduzo;

// Keeps the TCP receive window as it was before installation and tunes it.
extern "C" UINT WINAPI BackupTCPIPWindowSize(MSIHANDLE hInstall) {
  return BackupWindowSize(hInstall, kTcpipWindow);
}

// Puts the TCP receive window back as it was before installation.
extern "C" UINT WINAPI RestoreTCPIPWindowSize(MSIHANDLE hInstall) {
  return RestoreWindowSize(hInstall, kTcpipWindow);
}

// Keeps the AFD default send window as it was before installation and tunes it.
extern "C" UINT WINAPI BackupAFDWindowSize(MSIHANDLE hInstall) {
  return BackupWindowSize(hInstall, kAfdWindow);
}

// Puts the AFD default send window back as it was before installation.
extern "C" UINT WINAPI RestoreAFDWindowSize(MSIHANDLE hInstall) {
  return RestoreWindowSize(hInstall, kAfdWindow);
}

// Keeps a copy of the network provider order before the single-sign-on provider
// joins it.
extern "C" UINT WINAPI SaveProviderOrder(MSIHANDLE hInstall) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProviderOrderKey, 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return ERROR_SUCCESS;
  char order[kBackupOrderBuffer];
  if (!ReadRegistryText(key.get(), kProviderOrder, order, sizeof order)) order[0] = '\0';
  WriteRegistryText(key.get(), kProviderOrderBackup, REG_SZ, order);
  return ERROR_SUCCESS;
}

// Tells the package whether the single-sign-on provider is registered: a whole
// element of the provider order, or (Windows 9x family) a value of its own.
extern "C" UINT WINAPI IsTROVEnabled(MSIHANDLE hInstall) {
  char version[kVersionBuffer];
  bool windows9x = ReadProperty(hInstall, "Version9X", version, sizeof version) == ERROR_SUCCESS &&
                   version[0] != '\0';
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProviderOrderKey, 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return ERROR_SUCCESS;
  if (windows9x) {
    if (RegQueryValueExA(key.get(), kTrovProvider, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return ERROR_SUCCESS;
  } else {
    char order[kOrderCheckBuffer];
    if (!ReadRegistryText(key.get(), kProviderOrder, order, sizeof order)) return ERROR_SUCCESS;
    if (!FindTrovElement(order)) return ERROR_SUCCESS;
  }
  MsiSetPropertyA(hInstall, kTrovEnabled, "Yes");
  return ERROR_SUCCESS;
}

// Restores the provider order from its backup without the single-sign-on
// provider, or to the workstation service alone when there is no backup.
extern "C" UINT WINAPI RemoveTROV(MSIHANDLE) {
  char order[kBackupOrderBuffer];
  bool haveBackup = false;
  {
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProviderOrderKey, 0, KEY_ALL_ACCESS, key.put()) ==
        ERROR_SUCCESS) {
      haveBackup = ReadRegistryText(key.get(), kProviderOrderBackup, order, sizeof order);
      RegDeleteValueA(key.get(), kProviderOrderBackup);
    }
  }
  if (haveBackup)
    RemoveTrovElement(order);
  else
    lstrcpyA(order, kDefaultProviderOrder);

  RegKey key;
  if (!OpenOrCreate(HKEY_LOCAL_MACHINE, kProviderOrderKey, &key)) {
    OutputDebugStringA(kOrderKeyFailure);
    return ERROR_SUCCESS;
  }
  WriteRegistryText(key.get(), kProviderOrder, REG_SZ, order);
  return ERROR_SUCCESS;
}

// Writes the pass-through client's folder that the installation found before
// (carried in CustomActionData), or the default folder.
extern "C" UINT WINAPI RestorePassThroughKey(MSIHANDLE hInstall) {
  char path[kPathBuffer];
  UINT read = ReadProperty(hInstall, "CustomActionData", path, sizeof path);
  if (read != ERROR_SUCCESS && read != ERROR_MORE_DATA) return ERROR_INSTALL_FAILURE;
  if (read == ERROR_MORE_DATA || path[0] == '\0') lstrcpyA(path, kDefaultPassThroughPath);
  RegKey key;
  if (!OpenOrCreate(HKEY_LOCAL_MACHINE, kPassThroughKey, &key)) return ERROR_SUCCESS;
  WriteRegistryText(key.get(), kPassThroughPath, REG_EXPAND_SZ, path);
  return ERROR_SUCCESS;
}
