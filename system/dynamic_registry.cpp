// Registry content the installer writes and removes with a component, made at
// install time: temporary Registry rows under generated keys, the ".lnk2" file
// type copied from the machine's own ".lnk" type, its direct fallback mapping,
// and the agent's key opened to all users.
#include "system/dynamic_registry.h"

#include <cstring>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/registry.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {

// The copier's substitutions: ".lnk2" is told to use its own class, and the
// copied class is not marked as a shortcut.
struct RegistrySubstitution {
  enum Action { kReplaceData, kLeaveOut };
  int root;
  const char* key;
  const char* valueName;  // "" is the default value
  Action action;
  const char* data;
  DWORD size;
};

namespace {

constexpr RegistrySubstitution kSubstitutions[] = {
    {0, ".lnk2", "", RegistrySubstitution::kReplaceData, "lnkfile2", 9},
    {0, "lnkfile2", "IsShortcut", RegistrySubstitution::kLeaveOut},
};

constexpr char kRegistryLookup[] = "SELECT * FROM `Registry` WHERE `Registry`=?";
constexpr char kKeyPrefix[] = "DYN_REG";
constexpr char kCoreComponent[] = "[CoreComponent.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60]";
constexpr char kKeyRow[] = "+";
constexpr char kAgentUninstallKey[] = "Software\\Velmar\\Hublane Agent\\Uninstall";

constexpr DWORD kComponentLimit = 512;
constexpr DWORD kComponentBuffer = 513;
constexpr DWORD kDefaultValueBuffer = 256;
constexpr DWORD kPathHeadroom = 511;
// The longest name the registry has: a value name (a key name has 255).
constexpr DWORD kValueNameLimit = 16383;
// The access-allowed entry's header and mask beside the SID in the ACL.
constexpr DWORD kAclOverhead = 16;
constexpr BYTE kInheritToAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// The generated-key counter and its GUID suffix are kept for as long as the
// library stays loaded: one suffix per loaded library, made with the first key.
DWORD g_keyCounter = 0;
char g_keySuffix[40] = "";
constexpr int kKeyBuffer = 64;

// The registry root of an installer root number; null for other numbers.
HKEY RootKey(int number) {
  switch (number) {
    case 0:
      return HKEY_CLASSES_ROOT;
    case 1:
      return HKEY_CURRENT_USER;
    case 2:
      return HKEY_LOCAL_MACHINE;
    case 3:
      return HKEY_USERS;
    default:
      return nullptr;
  }
}

bool NextRegistryKey(MSIHANDLE hInstall, char (&key)[kKeyBuffer]) {
  if (*g_keySuffix == '\0' && !AppendGuidSuffix(hInstall, g_keySuffix, nullptr)) return false;
  wsprintfA(key, "%s%u%s", kKeyPrefix, g_keyCounter, g_keySuffix);
  ++g_keyCounter;
  return true;
}

// The component of a row: the name itself, or the value of the property that
// "[Name]" names. False when it is too long or cannot be read.
bool ResolveComponent(MSIHANDLE hInstall, LPCSTR component, char (&name)[kComponentBuffer]) {
  if (static_cast<DWORD>(lstrlenA(component)) > kComponentLimit) return false;
  if (component[0] != '[') {
    lstrcpyA(name, component);
    return true;
  }
  char property[kComponentBuffer];
  lstrcpyA(property, component + 1);
  int length = lstrlenA(property);
  if (length > 0) property[length - 1] = '\0';
  return ReadProperty(hInstall, property, name, sizeof name) == ERROR_SUCCESS;
}

bool SetField(MSIHANDLE record, UINT field, LPCSTR text) {
  return !text || MsiRecordSetStringA(record, field, text) == ERROR_SUCCESS;
}

// An empty entry name matches the default value only.
bool NameMatches(const RegistrySubstitution& entry, LPCSTR valueName) {
  return EqualsNoCase(entry.valueName, valueName);
}

// The length of the text at data, which ends at its first zero or with the data.
DWORD TextLength(const BYTE* data, DWORD size) {
  DWORD length = 0;
  while (length < size && data[length] != 0) ++length;
  return length;
}

bool PutText(char** buffer, DWORD* bufferSize, LPCSTR prefix, const BYTE* data, DWORD length) {
  DWORD prefixLength = static_cast<DWORD>(lstrlenA(prefix));
  if (!GrowBuffer(buffer, bufferSize, prefixLength + length)) return false;
  std::memcpy(*buffer, prefix, prefixLength);
  std::memcpy(*buffer + prefixLength, data, length);
  (*buffer)[prefixLength + length] = '\0';
  return true;
}

// A multi-string: "[~]", then each string followed by "[~]"; the list ends at
// an empty string or with the data, and an empty list gives "[~][~]".
bool PutMultiString(char** buffer, DWORD* bufferSize, const BYTE* data, DWORD size) {
  static const char kMarker[] = "[~]";
  const DWORD markerLength = 3;
  DWORD needed = 2 * markerLength;  // an empty list has two markers
  DWORD strings = 0;
  for (DWORD at = 0; at < size && data[at] != 0; ++strings) {
    DWORD length = TextLength(data + at, size - at);
    needed += length + markerLength;
    at += length + 1;
  }
  if (!GrowBuffer(buffer, bufferSize, needed)) return false;
  char* out = *buffer;
  std::memcpy(out, kMarker, markerLength);
  out += markerLength;
  DWORD at = 0;
  for (DWORD i = 0; i < strings; ++i) {
    DWORD length = TextLength(data + at, size - at);
    std::memcpy(out, data + at, length);
    out += length;
    std::memcpy(out, kMarker, markerLength);
    out += markerLength;
    at += length + 1;
  }
  if (strings == 0) {
    std::memcpy(out, kMarker, markerLength);
    out += markerLength;
  }
  *out = '\0';
  return true;
}

// A number: "#" and its unsigned decimal digits, from up to four bytes, low
// byte first.
bool PutNumber(char** buffer, DWORD* bufferSize, const BYTE* data, DWORD size) {
  DWORD number = 0;
  for (DWORD i = 0; i < size && i < sizeof number; ++i) number |= static_cast<DWORD>(data[i]) << (8 * i);
  if (!GrowBuffer(buffer, bufferSize, 11)) return false;
  wsprintfA(*buffer, "#%u", number);
  return true;
}

// A buffer for enumerated names and one for their data.
struct EnumBuffers {
  GrowableText name;
  GrowableText data;
};

// One step of a value (or subkey) enumeration: when the name or data does not
// fit, the data buffer grows to the size the call reports and the name buffer
// to the registry's longest name (the call does not report a name's length),
// and the same index is tried once more.
LONG EnumerateAt(HKEY key, DWORD index, bool values, EnumBuffers* b, DWORD* nameLength,
                 DWORD* type, DWORD* dataSize) {
  auto call = [&] {
    *nameLength = b->name.size;
    *dataSize = b->data.size;
    return values ? RegEnumValueA(key, index, b->name.text, nameLength, nullptr, type,
                                  reinterpret_cast<BYTE*>(b->data.text), dataSize)
                  : RegEnumKeyExA(key, index, b->name.text, nameLength, nullptr, nullptr,
                                  nullptr, nullptr);
  };
  LONG result = call();
  if (result != ERROR_MORE_DATA) return result;
  if (!GrowBuffer(&b->name.text, &b->name.size, kValueNameLimit) ||
      (values && !GrowBuffer(&b->data.text, &b->data.size, *dataSize)))
    return ERROR_OUTOFMEMORY;
  return call();
}

// The state of one copy: the destination root and the destination path, which
// grows and is cut back while the copy descends.
struct CopyWalk {
  MSIHANDLE hInstall;
  int destinationRoot;
  GrowableText path;
};

// Copies the values and subkeys of an open source key to the destination path.
// The default value enumerates with an empty name.
bool CopyOpenKey(CopyWalk& w, HKEY source) {
  bool ok = true;
  const RegistrySubstitution* pending = FindRegistrySubstitution(w.destinationRoot, w.path.text);
  if (!AddTempRegistryRow(w.hInstall, w.destinationRoot, w.path.text, kKeyRow, nullptr,
                          kCoreComponent))
    ok = false;

  EnumBuffers b;
  GrowableText value;
  if (!GrowBuffer(&b.name.text, &b.name.size, 0) || !GrowBuffer(&b.data.text, &b.data.size, 0))
    return false;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength, type = REG_NONE, dataSize;
    LONG result = EnumerateAt(source, index, true, &b, &nameLength, &type, &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      ok = false;
      break;
    }
    RowValue row = RegistryRowValue(&pending, b.name.text, type,
                                    reinterpret_cast<const BYTE*>(b.data.text), dataSize,
                                    &value.text, &value.size);
    if (row == RowValue::kLeftOut) continue;
    if (row == RowValue::kFailed ||
        !AddTempRegistryRow(w.hInstall, w.destinationRoot, w.path.text, b.name.text, value.text,
                            kCoreComponent))
      ok = false;
  }

  const DWORD pathLength = static_cast<DWORD>(lstrlenA(w.path.text));
  for (DWORD index = 0;; ++index) {
    DWORD nameLength, unused;
    LONG result = EnumerateAt(source, index, false, &b, &nameLength, nullptr, &unused);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      ok = false;
      break;
    }
    // A path that cannot grow is gone (the buffer is released): the whole
    // copy ends there.
    DWORD needed = pathLength + 1 + nameLength;
    if (needed >= w.path.size &&
        !GrowBuffer(&w.path.text, &w.path.size, pathLength + nameLength + 512))
      return false;
    // Each subkey's name replaces the one before it at the end of this key's
    // path, which is all the cutting back the path needs.
    w.path.text[pathLength] = '\\';
    lstrcpyA(w.path.text + pathLength + 1, b.name.text);
    RegKey child;
    if (RegOpenKeyExA(source, b.name.text, 0, KEY_READ, child.put()) != ERROR_SUCCESS ||
        !CopyOpenKey(w, child.get()))
      ok = false;
    if (!w.path.text) return false;
  }
  return ok;
}

}  // namespace

const RegistrySubstitution* FindRegistrySubstitution(int root, LPCSTR key) {
  const RegistrySubstitution* found = nullptr;
  for (const RegistrySubstitution& entry : kSubstitutions)
    if (entry.root == root && EqualsNoCase(entry.key, key)) found = &entry;
  return found;
}

RowValue RegistryRowValue(const RegistrySubstitution** pending, LPCSTR valueName, DWORD type,
                          const BYTE* data, DWORD size, char** buffer, DWORD* bufferSize) {
  if (*pending && NameMatches(**pending, valueName)) {
    const RegistrySubstitution& entry = **pending;
    *pending = nullptr;
    if (entry.action == RegistrySubstitution::kLeaveOut) return RowValue::kLeftOut;
    data = reinterpret_cast<const BYTE*>(entry.data);
    size = entry.size;
  }
  bool ok;
  switch (type) {
    case REG_SZ:
      ok = PutText(buffer, bufferSize, "", data, TextLength(data, size));
      break;
    case REG_EXPAND_SZ:
      ok = PutText(buffer, bufferSize, "#%", data, TextLength(data, size));
      break;
    case REG_BINARY:
      ok = BytesToHexString(data, size, buffer, "#x", bufferSize);
      break;
    case REG_DWORD:
      ok = PutNumber(buffer, bufferSize, data, size);
      break;
    case REG_MULTI_SZ:
      ok = PutMultiString(buffer, bufferSize, data, size);
      break;
    default:
      ok = PutText(buffer, bufferSize, "", data, 0);
      break;
  }
  return ok ? RowValue::kWritten : RowValue::kFailed;
}

bool AddTempRegistryRow(MSIHANDLE hInstall, int root, LPCSTR key, LPCSTR name, LPCSTR value,
                        LPCSTR component) {
  char componentName[kComponentBuffer];
  if (!ResolveComponent(hInstall, component, componentName)) return false;

  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return false;
  MsiHandle view;
  if (MsiDatabaseOpenViewA(database.get(), kRegistryLookup, view.put()) != ERROR_SUCCESS)
    return false;
  char rowKey[kKeyBuffer];
  if (!NextRegistryKey(hInstall, rowKey)) return false;

  // The generated key must not be in the table yet.
  MsiHandle parameter(MsiCreateRecord(1));
  if (!parameter || MsiRecordSetStringA(parameter.get(), 1, rowKey) != ERROR_SUCCESS ||
      MsiViewExecute(view.get(), parameter.get()) != ERROR_SUCCESS)
    return false;
  MsiHandle existing;
  if (MsiViewFetch(view.get(), existing.put()) != ERROR_NO_MORE_ITEMS) return false;

  MsiHandle row(MsiCreateRecord(6));
  if (!row || !SetField(row.get(), 1, rowKey) ||
      MsiRecordSetInteger(row.get(), 2, root) != ERROR_SUCCESS || !SetField(row.get(), 3, key) ||
      !SetField(row.get(), 4, name) || !SetField(row.get(), 5, value) ||
      !SetField(row.get(), 6, componentName))
    return false;
  return MsiViewModify(view.get(), MSIMODIFY_INSERT_TEMPORARY, row.get()) == ERROR_SUCCESS;
}

bool _CopyKey1ToKey2(MSIHANDLE hInstall, int sourceRoot, LPCSTR sourceKey, int destinationRoot,
                     LPCSTR destinationKey) {
  HKEY root = RootKey(sourceRoot);
  RegKey source;
  if (!root || RegOpenKeyExA(root, sourceKey, 0, KEY_READ, source.put()) != ERROR_SUCCESS)
    return false;
  CopyWalk walk{hInstall, destinationRoot, {}};
  DWORD length = static_cast<DWORD>(lstrlenA(destinationKey));
  if (!GrowBuffer(&walk.path.text, &walk.path.size, length + kPathHeadroom)) return false;
  lstrcpyA(walk.path.text, destinationKey);
  return CopyOpenKey(walk, source.get());
}

}  // namespace viduzo

using namespace viduzo;

// Schedules the ".lnk2" file type and its class "lnkfile2" as copies of the
// machine's ".lnk" and "lnkfile", then costs the new rows.
extern "C" UINT WINAPI RegisterLNK2Type(MSIHANDLE hInstall) {
  bool type = _CopyKey1ToKey2(hInstall, 0, ".lnk", 0, ".lnk2");
  bool typeClass = _CopyKey1ToKey2(hInstall, 0, "lnkfile", 0, "lnkfile2");
  UINT costed = MsiDoActionA(hInstall, "CostFinalize");
  return type && typeClass && costed == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Maps ".lnk2" to the class of ".lnk" directly in the registry, unless it
// already names its own class "lnkfile2".
extern "C" UINT WINAPI AdvertiseLNK2Type(MSIHANDLE) {
  RegKey lnk;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ".lnk", 0, KEY_READ, lnk.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  char lnkClass[kDefaultValueBuffer];
  if (!ReadRegistryText(lnk.get(), nullptr, lnkClass, sizeof lnkClass) || lnkClass[0] == '\0')
    return ERROR_SUCCESS;
  RegKey lnk2;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, ".lnk2", 0, const_cast<LPSTR>(""), 0, KEY_ALL_ACCESS,
                      nullptr, lnk2.put(), nullptr) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  char lnk2Class[kDefaultValueBuffer];
  if (ReadRegistryText(lnk2.get(), nullptr, lnk2Class, sizeof lnk2Class) &&
      lstrcmpA(lnk2Class, "lnkfile2") == 0)
    return ERROR_SUCCESS;
  WriteRegistryText(lnk2.get(), nullptr, REG_SZ, lnkClass);
  return ERROR_SUCCESS;
}

// Gives everyone full access to the agent's uninstall key and what is created
// below it.
extern "C" UINT WINAPI SetRegistryPermissionsForDP(MSIHANDLE) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentUninstallKey, 0, WRITE_DAC, key.put()) !=
      ERROR_SUCCESS)
    return ERROR_SUCCESS;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    return ERROR_SUCCESS;
  DWORD aclSize = GetLengthSid(everyone) + kAclOverhead;
  PACL acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclSize));
  if (acl) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    SECURITY_DESCRIPTOR descriptor;
    if (InitializeAcl(acl, aclSize, ACL_REVISION) &&
        AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, everyone) &&
        GetAce(acl, 0, reinterpret_cast<LPVOID*>(&ace))) {
      ace->Header.AceFlags = kInheritToAll;
      if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE))
        RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &descriptor);
    }
    HeapFree(GetProcessHeap(), 0, acl);
  }
  FreeSid(everyone);
  return ERROR_SUCCESS;
}
