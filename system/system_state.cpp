#include "system/system_state.h"

#include "client/validation.h"
#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/names.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

using namespace names;

constexpr char kLauncherFolder[] = "QVADIR.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
constexpr char kAgentFolder[] = "QVADIR.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
constexpr char kLauncherMenuPath[] = "PFNAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
constexpr char kAgentMenuPath[] = "PFNAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
constexpr char kAgentMenuPathAlias[] = "PFName.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
constexpr char kDesktopLink[] = "DESKTOPLINK.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
constexpr char kPassThroughFound[] = "PASS_THROUGH_FOUND.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kRestorePassThrough[] =
    "RestorePassThroughKey.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kCurrentUser[] = "CurrentUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kDefaultUser[] = "DefaultUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kCache[] = "Cache.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kCacheSize[] = "PersistentCacheSize.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kCacheBitmap[] = "PersistentCacheBMP.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kLogFile[] = "LogFile.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kLogFile32[] = "LogFile32.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kEnableTrovFiles[] = "EnableTROVFiles.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

constexpr char kConfigTemplate[] = "[QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60]HOSTCFG.INI";
constexpr char kPassThroughConfigTemplate[] =
    "[PASS_THROUGH_FOUND.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60]HOSTCFG.INI";
constexpr char kLogTemplate[] = "[QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60]znclient.log";
constexpr char kLog32Template[] = "[#zncwin32.log.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60]";
constexpr char kConfigSection[] = "ZNClient";

constexpr char kLauncherRegistryComponent[] = "Registry.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
constexpr char kTrovComponentCode[] = "{D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92}";

constexpr DWORD kSmallBuffer = 256;
constexpr DWORD kUnknownDiskCacheSize = 30000000;

// The package type from HlType: 1 agent, 0 classic launcher, 2 both.
enum PackageType { kClassicPackage = 0, kAgentPackage = 1, kBothPackage = 2 };

PackageType PackageTypeOf(const char* hlType) {
  if (EqualsNoCase(hlType, "MSI_HLA")) return kAgentPackage;
  if (EqualsNoCase(hlType, "MSIHL")) return kClassicPackage;
  return kBothPackage;
}

// Sets the menu path properties to the program-menu folder followed by a
// module's program folder name, when the name is set. False on a failed step.
bool SetMenuPath(MSIHANDLE hInstall, LPCSTR folderName, LPCSTR target, LPCSTR alias,
                 bool* stop) {
  GrowableText menu;
  if (menu.ReadProperty(hInstall, "ProgramMenuFolder") != ERROR_SUCCESS) {
    *stop = true;
    return false;
  }
  GrowableText name;
  if (name.ReadProperty(hInstall, folderName) != ERROR_SUCCESS) return false;
  if (name.text[0] == '\0') return true;
  GrowableText joined;
  if (!joined.Join(menu.text, name.text)) return false;
  bool ok = MsiSetPropertyA(hInstall, target, joined.text) == ERROR_SUCCESS;
  if (alias) ok = MsiSetPropertyA(hInstall, alias, joined.text) == ERROR_SUCCESS && ok;
  return ok;
}

// A desktop link "\Desktop" (one leading backslash) is a path from the root of
// an unnamed volume: it gets the system volume in front.
bool FixDesktopLink(MSIHANDLE hInstall, bool* stop) {
  GrowableText link;
  if (link.ReadProperty(hInstall, kDesktopLink) != ERROR_SUCCESS) {
    *stop = true;
    return false;
  }
  if (link.text[0] != '\\' || link.text[1] == '\\') return true;

  GrowableText volume;
  GrowableText fixed;
  if (volume.ReadProperty(hInstall, "WindowsVolume") == ERROR_SUCCESS && volume.text[0] != '\0') {
    // "C:\" loses its backslash, so that the link's own one joins the two.
    char* backslash = FindChar(volume.text, '\\');
    if (backslash && backslash[1] == '\0') *backslash = '\0';
    if (!fixed.Join(volume.text, link.text)) return false;
  } else if (!fixed.Join("", "")) {
    return false;
  }
  return MsiSetPropertyA(hInstall, kDesktopLink, fixed.text) == ERROR_SUCCESS;
}

// True when the leading decimal number of text (blanks, a sign, digits) is 0 or
// there is none.
bool LeadingNumberIsZero(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '+' || *p == '-') ++p;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (*p != '0') return false;
  return true;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The outcome of GetSystemState's steps: a failed write marks it, a failed
// read of a deciding property ends the action at once. The validation flags
// are the action's one pair, shared by the path checks and the entry checks:
// a check whose property cannot be read leaves them as the check before did.
struct Outcome {
  bool failed = false;
  int valid = 1;
  int empty = 0;
  void Set(MSIHANDLE hInstall, LPCSTR name, LPCSTR value) {
    if (MsiSetPropertyA(hInstall, name, value) != ERROR_SUCCESS) failed = true;
  }
};

// A configuration path is taken when it is a drive path or a network path and
// passes the path character check (through the scratch property).
bool AcceptPath(MSIHANDLE hInstall, const char* path, Outcome* outcome) {
  bool drive = path[0] != '\0' && path[1] == ':';
  bool network = lstrlenA(path) >= 3 && path[0] == '\\' && path[1] == '\\' &&
                 IsAsciiLetter(path[2]);
  if (!drive && !network) return false;
  outcome->Set(hInstall, kScratchPath, path);
  ValidateProperty(hInstall, kScratchPath, nullptr, &outcome->valid, &outcome->empty);
  return outcome->valid != 0;
}

bool FileExists(LPCSTR path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path, &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}


// Reads the configuration file's path keys into properties. False when a
// default log path cannot be resolved or set, which ends the action.
bool CarryConfigPaths(MSIHANDLE hInstall, LPCSTR ini, Outcome* outcome) {
  char value[kSmallBuffer];
  GetPrivateProfileStringA(kConfigSection, "PersistentCachePath", "", value, sizeof value, ini);
  if (value[0] != '\0' && AcceptPath(hInstall, value, outcome)) outcome->Set(hInstall, kCache, value);

  const struct {
    const char* key;
    const char* property;
    const char* defaultTemplate;
  } logs[] = {{"LogFile", kLogFile, kLogTemplate}, {"LogFileWin32", kLogFile32, kLog32Template}};
  for (const auto& log : logs) {
    GetPrivateProfileStringA(kConfigSection, log.key, "", value, sizeof value, ini);
    if (value[0] != '\0') {
      if (AcceptPath(hInstall, value, outcome)) outcome->Set(hInstall, log.property, value);
      continue;
    }
    GrowableText resolved;
    char* path = nullptr;
    if (resolved.Format(hInstall, log.defaultTemplate, &path) != ERROR_SUCCESS || !path)
      return false;
    if (MsiSetPropertyA(hInstall, log.property, path) != ERROR_SUCCESS) return false;
  }
  return true;
}

// Validates one entry in flag form; a failure names its error property.
void CheckEntry(MSIHANDLE hInstall, LPCSTR name, Outcome* outcome, LPCSTR error,
                LPCSTR emptyError = nullptr) {
  ValidateProperty(hInstall, name, nullptr, &outcome->valid, &outcome->empty);
  if (outcome->valid) return;
  MsiSetPropertyA(hInstall, kValidationError, emptyError && outcome->empty ? emptyError : error);
}

}  // namespace

int SetModuleFolderProperties(MSIHANDLE hInstall) {
  GrowableText core;
  if (core.ReadProperty(hInstall, kClientFolder) != ERROR_SUCCESS) return 0;
  int result = 1;
  for (LPCSTR module : {kLauncherFolder, kAgentFolder}) {
    GrowableText value;
    if (value.ReadProperty(hInstall, module) != ERROR_SUCCESS) {
      result = 0;
      continue;
    }
    if (value.text[0] != '\0' && !EqualsNoCase(value.text, core.text) &&
        MsiSetPropertyA(hInstall, module, core.text) != ERROR_SUCCESS)
      result = 0;
  }

  bool stop = false;
  if (!SetMenuPath(hInstall, kLauncherProgramFolder, kLauncherMenuPath, nullptr, &stop)) result = 0;
  if (stop) return 0;
  if (!SetMenuPath(hInstall, kAgentProgramFolder, kAgentMenuPath, kAgentMenuPathAlias, &stop))
    result = 0;
  if (stop) return 0;
  if (!FixDesktopLink(hInstall, &stop)) result = 0;
  if (stop) return 0;
  return result;
}

DWORD DefaultCacheSize(LPCSTR folder) {
  using GetDiskFreeSpaceExFn = BOOL(WINAPI*)(LPCSTR, ULARGE_INTEGER*, ULARGE_INTEGER*,
                                             ULARGE_INTEGER*);
  DWORD size = 0;
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  if (kernel) {
    auto getFreeSpaceEx = reinterpret_cast<GetDiskFreeSpaceExFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
    ULARGE_INTEGER available, total, free;
    if (getFreeSpaceEx && getFreeSpaceEx(folder, &available, &total, &free))
      size = total.QuadPart > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(total.QuadPart);
  }
  if (size == 0) {
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    // Multiplied in 32 bits, as the older call's figures always were.
    if (GetDiskFreeSpaceA(folder, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                          &totalClusters))
      size = totalClusters * bytesPerSector * sectorsPerCluster;
  }
  if (kernel) FreeLibrary(kernel);
  return size == 0 ? kUnknownDiskCacheSize : size / 100 * 3;
}

UINT ClearPrivateDirectoryProperties(MSIHANDLE hInstall) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return ERROR_INSTALL_FAILURE;
  MsiHandle view;
  if (MsiDatabaseOpenViewA(database.get(), "SELECT * FROM `Directory`", view.put()) !=
          ERROR_SUCCESS ||
      MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;

  bool failed = false;
  UINT fetched;
  MsiHandle row;
  while ((fetched = MsiViewFetch(view.get(), row.put())) == ERROR_SUCCESS) {
    char key[kSmallBuffer], parent[kSmallBuffer], defaultDir[kSmallBuffer];
    DWORD keyCount = sizeof key, parentCount = sizeof parent, dirCount = sizeof defaultDir;
    if (MsiRecordGetStringA(row.get(), 1, key, &keyCount) != ERROR_SUCCESS ||
        MsiRecordGetStringA(row.get(), 2, parent, &parentCount) != ERROR_SUCCESS ||
        MsiRecordGetStringA(row.get(), 3, defaultDir, &dirCount) != ERROR_SUCCESS) {
      failed = true;
      continue;
    }
    // Public properties (all upper case) are the user's to set.
    if (IsAllUpper(key)) continue;
    // Folders that the package resolves relative to another (".:Name") stay.
    if (defaultDir[0] == '.' && defaultDir[1] == ':' && lstrcmpA(defaultDir, ".:") != 0 &&
        lstrcmpA(defaultDir, ".:APPLIC~1|Application") != 0)
      continue;
    if (parent[0] == '\0' || lstrcmpA(parent, "TARGETDIR") == 0) continue;
    if (MsiSetPropertyA(hInstall, key, "") != ERROR_SUCCESS) failed = true;
  }
  if (fetched != ERROR_NO_MORE_ITEMS) failed = true;
  MsiViewClose(view.get());
  return failed ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}

}  // namespace viduzo

using namespace viduzo;

// Carries the machine's state and the user's entries into properties before the
// wizard: module folders, the pass-through client, the user's registry hive,
// the client configuration file's settings, and the validation of the entries.
extern "C" UINT WINAPI GetSystemState(MSIHANDLE hInstall) {
  Outcome outcome;
  SetModuleFolderProperties(hInstall);

  char passThrough[kSmallBuffer] = "";
  if (ReadProperty(hInstall, kPassThroughFound, passThrough, sizeof passThrough) != ERROR_SUCCESS)
    outcome.failed = true;
  outcome.Set(hInstall, kRestorePassThrough, passThrough);

  char sid[kSmallBuffer];
  if (ReadProperty(hInstall, "UserSID", sid, sizeof sid) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;
  if (sid[0] != '\0') {
    HKEY hive = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, sid, 0, KEY_READ, &hive) == ERROR_SUCCESS) {
      RegCloseKey(hive);
    } else if (MsiSetPropertyA(hInstall, kCurrentUser, kDefaultUser) != ERROR_SUCCESS) {
      return ERROR_INSTALL_FAILURE;
    }
  }

  char hlType[kSmallBuffer];
  if (ReadProperty(hInstall, "HlType", hlType, sizeof hlType) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;
  PackageType type = PackageTypeOf(hlType);

  GrowableText cache;
  if (cache.ReadProperty(hInstall, kCache) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  if (cache.text[0] != '\0') {
    DWORD defaultSize = DefaultCacheSize(cache.text);

    GrowableText config;
    char* ini = nullptr;
    if (config.Format(hInstall, kConfigTemplate, &ini) != ERROR_SUCCESS || !ini)
      return ERROR_INSTALL_FAILURE;
    if (!FileExists(ini) &&
        (config.Format(hInstall, kPassThroughConfigTemplate, &ini) != ERROR_SUCCESS || !ini))
      return ERROR_INSTALL_FAILURE;

    char value[kSmallBuffer];
    GetPrivateProfileStringA(kConfigSection, "PersistentCacheSize", "", value, sizeof value, ini);
    if (LeadingNumberIsZero(value)) wsprintfA(value, "%lu", static_cast<unsigned long>(defaultSize));
    outcome.Set(hInstall, kCacheSize, value);

    GetPrivateProfileStringA(kConfigSection, "PersistentCacheMinBitmap", "", value, sizeof value,
                             ini);
    if (LeadingNumberIsZero(value)) lstrcpyA(value, "8192");
    outcome.Set(hInstall, kCacheBitmap, value);

    if (!CarryConfigPaths(hInstall, ini, &outcome)) return ERROR_INSTALL_FAILURE;
  }

  CheckEntry(hInstall, kClientName, &outcome, kErrorClientNameInvalid,
             kErrorClientNameEmpty);
  CheckEntry(hInstall, kClientFolder, &outcome,
             "ErrorInstallDirInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60");
  if (type != kAgentPackage)
    CheckEntry(hInstall, kLauncherProgramFolder, &outcome,
               "ErrorPFNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60");
  if (type != kClassicPackage)
    CheckEntry(hInstall, kAgentProgramFolder, &outcome,
               "ErrorPFNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60");
  return outcome.failed ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}

// Stands in the sequence in place of CostFinalize: aligns folders, clears the
// private directory properties, decides about single sign-on, then runs
// CostFinalize itself.
extern "C" UINT WINAPI SystemStateBetweenCostFinalize(MSIHANDLE hInstall) {
  SetModuleFolderProperties(hInstall);
  bool clearFailed = ClearPrivateDirectoryProperties(hInstall) != ERROR_SUCCESS;

  char value[kSmallBuffer];
  if (ReadProperty(hInstall, "AdminUser", value, sizeof value) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;
  if (value[0] == '\0') {
    if (ReadProperty(hInstall, "Privileged", value, sizeof value) != ERROR_SUCCESS)
      return ERROR_INSTALL_FAILURE;
    if (value[0] == '\0' && MsiSetPropertyA(hInstall, "ENABLE_TROV", "No") != ERROR_SUCCESS)
      return ERROR_INSTALL_FAILURE;
  }

  bool trovNeeded = false;
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  if (MsiGetComponentStateA(hInstall, kLauncherRegistryComponent, &installed, &action) ==
      ERROR_SUCCESS) {
    char productCode[kSmallBuffer];
    if (ReadProperty(hInstall, "ProductCode", productCode, sizeof productCode) != ERROR_SUCCESS)
      return ERROR_INSTALL_FAILURE;
    INSTALLSTATE trovState = MsiGetComponentPathA(productCode, kTrovComponentCode, nullptr, nullptr);
    trovNeeded = action == INSTALLSTATE_LOCAL || action == INSTALLSTATE_SOURCE ||
                 trovState == INSTALLSTATE_LOCAL || trovState == INSTALLSTATE_SOURCE;
  }
  if (!trovNeeded) {
    if (ReadProperty(hInstall, "ENABLE_TROV", value, sizeof value) != ERROR_SUCCESS)
      return ERROR_INSTALL_FAILURE;
    if (!(value[0] != '\0' && EqualsNoCase(value, "Yes")) &&
        MsiSetPropertyA(hInstall, kEnableTrovFiles, "No") != ERROR_SUCCESS)
      return ERROR_INSTALL_FAILURE;
  }

  MsiDoActionA(hInstall, "CostFinalize");
  return clearFailed ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}
