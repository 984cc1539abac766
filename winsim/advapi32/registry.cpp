// advapi32's registry over an in-memory tree of keys.
//
// Names are stored as UTF-16 with the case they were created with and are
// compared upper-cased, as the Windows configuration manager does. String
// values (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are stored as UTF-16 too, so
// the sizes that RegQueryInfoKeyA reports and the ANSI sizes of the *A
// functions differ exactly as they do on Windows.
//
// Subkeys are kept in a map by their upper-cased name (the order Windows
// enumerates them in) and values in a list in the order they were first set.
// Each key remembers where the last enumeration call stopped, so that walking
// the subkeys or values by index, forwards or backwards, costs O(1) per call.
//
// The roots: HKEY_LOCAL_MACHINE and HKEY_USERS are master keys (no keys can be
// created directly under them). HKEY_CURRENT_USER shows HKEY_USERS\<current
// user SID>, or HKEY_USERS\.DEFAULT while that hive is unloaded.
// HKEY_CLASSES_ROOT shows HKEY_LOCAL_MACHINE\SOFTWARE\Classes; Windows merges
// HKEY_CURRENT_USER\Software\Classes into that view, winsim does not (Wine does
// not either).
//
// Handles carry the access they were opened with and every function checks it.
// The DACLs written to keys are recorded and read back, but they do not limit
// who may open a key, and new keys do not inherit ACEs from their parent.
#include "winsim/advapi32/registry.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "winsim/control.h"
#include "winsim/core/codepage.h"

#if defined(__SANITIZE_ADDRESS__)
#define WINSIM_REGISTRY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WINSIM_REGISTRY_ASAN 1
#endif
#endif
#ifdef WINSIM_REGISTRY_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace winsim {
namespace {

const char kCurrentUserSid[] = "S-1-5-21-2127521184-1604012920-1887927527-1001";
constexpr ACCESS_MASK kAllAccess = KEY_ALL_ACCESS;
constexpr uint32_t kClassesRoot = 0x80000000u;
constexpr uint32_t kCurrentUser = 0x80000001u;
constexpr uint32_t kLocalMachine = 0x80000002u;
constexpr uint32_t kUsers = 0x80000003u;
constexpr uint32_t kLastPredefined = 0x80000007u;

std::u16string Fold(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) c = UpperChar(c);
  return folded;
}

FILETIME Now() {
  using namespace std::chrono;
  // 100-ns intervals since 1601-01-01.
  auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
  uint64_t ticks = static_cast<uint64_t>(since1970) + 116444736000000000ull;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool IsString(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;  // strings as UTF-16
};

enum class KeyKind {
  Normal,
  Fixed,   // cannot be deleted (hive roots and the keys Windows keeps)
  Master,  // cannot be deleted and holds only hives: no key can be created in it
};

// Where the last enumeration of a container stopped.
template <class Iterator>
struct Cursor {
  bool valid = false;
  size_t index = 0;
  Iterator at;
};

// The element at `index` (< size) of a list or map, reached from whichever of
// the cursor, the beginning and the end is nearest.
template <class Container, class Iterator>
Iterator ElementAt(Container& container, Cursor<Iterator>& cursor, size_t index) {
  size_t size = container.size();
  size_t fromCursor = !cursor.valid
                          ? SIZE_MAX
                          : (index > cursor.index ? index - cursor.index : cursor.index - index);
  if (index < fromCursor && index <= size - index) {
    cursor = Cursor<Iterator>{true, 0, container.begin()};
  } else if (size - index < fromCursor) {
    cursor = Cursor<Iterator>{true, size, container.end()};
  }
  while (cursor.index < index) ++cursor.at, ++cursor.index;
  while (cursor.index > index) --cursor.at, --cursor.index;
  return cursor.at;
}

struct Key;
using KeyPtr = std::shared_ptr<Key>;
using KeyMap = std::map<std::u16string, KeyPtr>;  // by upper-cased name
using ValueList = std::list<Value>;

struct Key {
  std::u16string name;
  std::u16string folded;
  Key* parent = nullptr;  // null for the masters and for detached keys
  KeyMap subkeys;
  ValueList values;                                                    // in the order first set
  std::unordered_map<std::u16string, ValueList::iterator> valueIndex;  // by upper-cased name
  Cursor<KeyMap::iterator> subkeyCursor;
  Cursor<ValueList::iterator> valueCursor;
  std::u16string className;
  bool isVolatile = false;
  bool deleted = false;
  KeyKind kind = KeyKind::Normal;
  FILETIME lastWrite{};
  StoredSecurity security;
};

struct Opened {
  KeyPtr key;
  ACCESS_MASK access = 0;
};

struct Registry {
  std::recursive_mutex mutex;
  KeyPtr machine;
  KeyPtr users;
  std::map<std::u16string, KeyPtr> unloaded;  // hives unloaded, by folded name
  std::unordered_map<uintptr_t, Opened> handles;
  uintptr_t nextHandle = 0x100;
  std::string currentSid = kCurrentUserSid;
};

KeyPtr NewKey(std::u16string name, KeyKind kind) {
  auto key = std::make_shared<Key>();
  key->folded = Fold(name);
  key->name = std::move(name);
  key->kind = kind;
  key->lastWrite = Now();
  return key;
}

KeyPtr FindChild(Key& parent, const std::u16string& folded) {
  auto it = parent.subkeys.find(folded);
  return it == parent.subkeys.end() ? nullptr : it->second;
}

void Attach(Key& parent, const KeyPtr& child) {
  parent.subkeys[child->folded] = child;
  parent.subkeyCursor.valid = false;
  child->parent = &parent;
  parent.lastWrite = Now();
}

Key& AddChild(Key& parent, std::u16string name, KeyKind kind = KeyKind::Normal) {
  KeyPtr child = NewKey(std::move(name), kind);
  Attach(parent, child);
  return *child;
}

void Detach(Key& key) {
  Key* parent = key.parent;
  if (!parent) return;
  auto it = parent->subkeys.find(key.folded);
  if (it != parent->subkeys.end() && it->second.get() == &key) parent->subkeys.erase(it);
  parent->subkeyCursor.valid = false;
  parent->lastWrite = Now();
  key.parent = nullptr;
}

void MarkDeleted(Key& key) {
  key.deleted = true;
  key.parent = nullptr;
  for (auto& entry : key.subkeys) MarkDeleted(*entry.second);
  key.subkeys.clear();
  key.subkeyCursor.valid = false;
}

KeyPtr DeepCopy(const Key& key) {
  auto copy = std::make_shared<Key>();
  copy->name = key.name;
  copy->folded = key.folded;
  copy->values = key.values;
  for (auto it = copy->values.begin(); it != copy->values.end(); ++it)
    copy->valueIndex.emplace(Fold(it->name), it);
  copy->className = key.className;
  copy->isVolatile = key.isVolatile;
  copy->kind = key.kind;
  copy->lastWrite = key.lastWrite;
  copy->security = key.security;
  for (const auto& entry : key.subkeys) {
    KeyPtr childCopy = DeepCopy(*entry.second);
    childCopy->parent = copy.get();
    copy->subkeys.emplace(entry.first, std::move(childCopy));
  }
  return copy;
}

KeyPtr MakeUserHive(const std::u16string& sid) {
  KeyPtr hive = NewKey(sid, KeyKind::Fixed);
  Key& software = AddChild(*hive, u"Software");
  AddChild(software, u"Classes");
  AddChild(AddChild(AddChild(software, u"Microsoft"), u"Windows"), u"CurrentVersion");
  AddChild(*hive, u"Environment");
  return hive;
}

void Build(Registry& r) {
  r.machine = NewKey(u"MACHINE", KeyKind::Master);
  r.users = NewKey(u"USER", KeyKind::Master);
  AddChild(*r.machine, u"HARDWARE", KeyKind::Fixed);
  Key& software = AddChild(*r.machine, u"SOFTWARE", KeyKind::Fixed);
  AddChild(software, u"Classes", KeyKind::Fixed);
  AddChild(AddChild(AddChild(software, u"Microsoft"), u"Windows"), u"CurrentVersion");
  Key& system = AddChild(*r.machine, u"SYSTEM", KeyKind::Fixed);
  AddChild(AddChild(system, u"CurrentControlSet"), u"Control");
  AddChild(AddChild(*r.users, u".DEFAULT", KeyKind::Fixed), u"Software");
  Attach(*r.users, MakeUserHive(ToWide(r.currentSid)));
}

Registry& Reg() {
  // Never destroyed: key handles may be closed from static destructors.
  static Registry* registry = [] {
    auto* r = new Registry;
    Build(*r);
    return r;
  }();
  return *registry;
}

bool IsPredefined(HKEY key, uint32_t* which = nullptr) {
  // Windows looks only at the low 32 bits of a predefined handle.
  uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  if (low < kClassesRoot || low > kLastPredefined) return false;
  if (which) *which = low;
  return true;
}

KeyPtr CurrentUserHive(Registry& r) {
  KeyPtr hive = FindChild(*r.users, Fold(ToWide(r.currentSid)));
  return hive ? hive : FindChild(*r.users, u".DEFAULT");
}

KeyPtr PredefinedKey(Registry& r, uint32_t which) {
  switch (which) {
    case kClassesRoot: {
      KeyPtr software = FindChild(*r.machine, u"SOFTWARE");
      return software ? FindChild(*software, u"CLASSES") : nullptr;
    }
    case kCurrentUser:
      return CurrentUserHive(r);
    case kLocalMachine:
      return r.machine;
    case kUsers:
      return r.users;
    default:
      return nullptr;  // performance data, current config, ...: not simulated
  }
}

LONG Lookup(Registry& r, HKEY handle, Opened* out) {
  if (!handle) return ERROR_INVALID_HANDLE;
  uint32_t which;
  if (IsPredefined(handle, &which)) {
    KeyPtr key = PredefinedKey(r, which);
    if (!key) return ERROR_INVALID_HANDLE;
    *out = Opened{key, kAllAccess};
    return ERROR_SUCCESS;
  }
  auto it = r.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == r.handles.end()) return ERROR_INVALID_HANDLE;
  *out = it->second;
  return ERROR_SUCCESS;
}

HKEY AddHandle(Registry& r, const KeyPtr& key, ACCESS_MASK access) {
  uintptr_t value;
  do {
    value = r.nextHandle;
    r.nextHandle = r.nextHandle >= 0x3FFFFFF0u ? 0x100 : r.nextHandle + 4;
  } while (r.handles.count(value));
  r.handles[value] = Opened{key, access};
  return reinterpret_cast<HKEY>(value);
}

ACCESS_MASK MapAccess(REGSAM desired) {
  ACCESS_MASK access = desired & ~static_cast<ACCESS_MASK>(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (access & MAXIMUM_ALLOWED)
    access = (access & ~static_cast<ACCESS_MASK>(MAXIMUM_ALLOWED)) | kAllAccess;
  if (access & GENERIC_READ) access |= KEY_READ;
  if (access & GENERIC_WRITE) access |= KEY_WRITE;
  if (access & GENERIC_EXECUTE) access |= KEY_EXECUTE;
  if (access & GENERIC_ALL) access |= KEY_ALL_ACCESS;
  return access &
         ~static_cast<ACCESS_MASK>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

bool Has(const Opened& opened, ACCESS_MASK needed) { return (opened.access & needed) == needed; }

std::u16string Wide(const char* text) { return text ? ToWide(text) : std::u16string(); }

std::string Narrow(std::u16string_view text) { return ToAnsi(text); }

std::vector<BYTE> BytesOf(std::u16string_view text) {
  std::vector<BYTE> bytes(text.size() * sizeof(char16_t));
  if (!text.empty()) std::memcpy(bytes.data(), text.data(), bytes.size());
  return bytes;
}

std::u16string TextOf(const std::vector<BYTE>& bytes) {
  std::u16string text(bytes.size() / sizeof(char16_t), u'\0');
  if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * sizeof(char16_t));
  return text;
}

// The value's data as the *A functions return it: strings in the ANSI code page.
std::string AnsiData(const Value& value) {
  if (IsString(value.type)) return Narrow(TextOf(value.data));
  return std::string(value.data.begin(), value.data.end());
}

// The number of bytes of `text` that fit `room` bytes without splitting a
// double-byte character.
size_t FitChars(const std::string& text, size_t room) {
  UINT codePage = AnsiCodePage();
  size_t at = 0;
  while (at < text.size()) {
    size_t step =
        IsLeadByteIn(codePage, static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2
                                                                                             : 1;
    if (at + step > room) break;
    at += step;
  }
  return at;
}

std::vector<std::u16string> Components(const std::u16string& path) {
  std::vector<std::u16string> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find(u'\\', at);
    if (end == std::u16string::npos) end = path.size();
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

LONG OpenPath(const KeyPtr& base, const std::u16string& path, KeyPtr* out) {
  if (base->deleted) return ERROR_KEY_DELETED;
  KeyPtr key = base;
  for (const std::u16string& part : Components(path)) {
    key = FindChild(*key, Fold(part));
    if (!key) return ERROR_FILE_NOT_FOUND;
  }
  *out = key;
  return ERROR_SUCCESS;
}

Value* FindValue(Key& key, const std::u16string& name) {
  auto it = key.valueIndex.find(Fold(name));
  return it == key.valueIndex.end() ? nullptr : &*it->second;
}

void SetValue(Key& key, std::u16string name, DWORD type, std::vector<BYTE> data) {
  std::u16string folded = Fold(name);
  auto it = key.valueIndex.find(folded);
  if (it != key.valueIndex.end()) {
    // An existing value keeps its place and the case of its name.
    it->second->type = type;
    it->second->data = std::move(data);
  } else {
    key.values.push_back(Value{std::move(name), type, std::move(data)});
    key.valueIndex.emplace(std::move(folded), std::prev(key.values.end()));
    // An iterator at end() would now stand before the new value.
    key.valueCursor.valid = false;
  }
  key.lastWrite = Now();
}

bool EraseValue(Key& key, const std::u16string& name) {
  auto it = key.valueIndex.find(Fold(name));
  if (it == key.valueIndex.end()) return false;
  key.values.erase(it->second);
  key.valueIndex.erase(it);
  key.valueCursor.valid = false;
  key.lastWrite = Now();
  return true;
}

// True when the byte after the caller's data is a NUL. Windows reads it to
// decide whether a string stored without its terminator gets one; under
// AddressSanitizer a byte outside the caller's object counts as not NUL.
bool NulFollows(const BYTE* data, DWORD count) {
#ifdef WINSIM_REGISTRY_ASAN
  if (__asan_address_is_poisoned(data + count)) return false;
#endif
  return data[count] == 0;
}

// The SID of the user hive that holds the key, "" outside user hives.
std::string HiveUser(Registry& r, const Key& key) {
  const Key* at = &key;
  while (at->parent && at->parent != r.users.get()) at = at->parent;
  if (at->parent != r.users.get()) return "";
  std::string name = Narrow(at->name);
  return SidFromText(name).empty() ? "" : name;
}

// Runs an API body under the registry lock; no exception leaves it.
template <class Body>
LONG Locked(Body&& body) {
  try {
    std::lock_guard<std::recursive_mutex> lock(Reg().mutex);
    return body(Reg());
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

// ---- control -----------------------------------------------------------------------

void ResetRegistry() {
  Registry& r = Reg();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  MarkDeleted(*r.machine);
  MarkDeleted(*r.users);
  r.handles.clear();
  r.unloaded.clear();
  r.nextHandle = 0x100;
  Build(r);
}

std::string CurrentUserSid() {
  Registry& r = Reg();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  return r.currentSid;
}

bool LoadUserHive(const std::string& sid) {
  if (sid.empty() || sid.find('\\') != std::string::npos) return false;
  Registry& r = Reg();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  std::u16string name = ToWide(sid);
  std::u16string folded = Fold(name);
  if (FindChild(*r.users, folded)) return false;
  KeyPtr hive;
  auto stashed = r.unloaded.find(folded);
  if (stashed != r.unloaded.end()) {
    hive = stashed->second;
    r.unloaded.erase(stashed);
  } else {
    hive = MakeUserHive(name);
  }
  Attach(*r.users, hive);
  return true;
}

bool UnloadUserHive(const std::string& sid) {
  Registry& r = Reg();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  std::u16string folded = Fold(ToWide(sid));
  if (folded == u".DEFAULT") return false;
  KeyPtr hive = FindChild(*r.users, folded);
  if (!hive) return false;
  KeyPtr copy = DeepCopy(*hive);
  Detach(*hive);
  MarkDeleted(*hive);
  r.unloaded[folded] = copy;
  return true;
}

std::size_t OpenKeyCount() {
  Registry& r = Reg();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  return r.handles.size();
}

bool KeySecurity(HKEY root, const std::string& subKey, RegistryKeySecurity* security) {
  if (!security) return false;
  Registry& r = Reg();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  Opened base;
  KeyPtr key;
  if (Lookup(r, root, &base) || OpenPath(base.key, ToWide(subKey), &key)) return false;
  const StoredSecurity& stored = key->security;
  RegistryKeySecurity out;
  out.daclWrites = stored.daclWrites;
  out.daclPresent = stored.daclPresent;
  out.nullDacl = stored.nullDacl;
  if (stored.ownerSet) out.owner = SidText(stored.owner.data());
  if (!stored.dacl.empty()) {
    ACL header;
    std::memcpy(&header, stored.dacl.data(), sizeof header);
    size_t offset = sizeof(ACL);
    for (WORD i = 0; i < header.AceCount; ++i) {
      ACE_HEADER ace;
      std::memcpy(&ace, stored.dacl.data() + offset, sizeof ace);
      RegistryAce entry{ace.AceType, ace.AceFlags, 0, ""};
      if (ace.AceSize >= sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + 8) {
        std::memcpy(&entry.mask, stored.dacl.data() + offset + sizeof ace, sizeof entry.mask);
        const BYTE* sid = stored.dacl.data() + offset + sizeof ace + sizeof entry.mask;
        if (SidIsValid(sid) && sizeof ace + sizeof entry.mask + SidLength(sid) <= ace.AceSize)
          entry.sid = SidText(sid);
      }
      out.aces.push_back(entry);
      offset += ace.AceSize;
    }
  }
  *security = std::move(out);
  return true;
}

}  // namespace winsim

using winsim::KeyPtr;
using winsim::Opened;
using winsim::Registry;

// ---- advapi32: opening, creating, closing keys ------------------------------------------

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
  return winsim::Locked([&](Registry& r) -> LONG {
    uint32_t which = 0;
    bool predefined = winsim::IsPredefined(hKey, &which);
    if (result && (!subKey || !*subKey) && predefined) {
      *result = hKey;  // a predefined key opens as itself
      return ERROR_SUCCESS;
    }
    // HKEY_CLASSES_ROOT accepts one leading backslash.
    if (predefined && which == winsim::kClassesRoot && subKey && *subKey == '\\') ++subKey;
    if (!result) return ERROR_INVALID_PARAMETER;
    Opened base;
    if (LONG error = winsim::Lookup(r, hKey, &base)) return error;
    *result = nullptr;
    if (subKey && *subKey == '\\') return ERROR_BAD_PATHNAME;
    KeyPtr key;
    if (LONG error = winsim::OpenPath(base.key, winsim::Wide(subKey), &key)) return error;
    *result = winsim::AddHandle(r, key, winsim::MapAccess(desired));
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  if (!subKey || !*subKey) {
    *result = hKey;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExA(hKey, subKey, 0, MAXIMUM_ALLOWED, result);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                            REGSAM desired, LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                            LPDWORD disposition) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if (!result) return ERROR_BADKEY;
    if (reserved) return ERROR_INVALID_PARAMETER;
    Opened base;
    if (LONG error = winsim::Lookup(r, hKey, &base)) return error;
    const DWORD known = REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK | REG_OPTION_BACKUP_RESTORE |
                        REG_OPTION_OPEN_LINK;
    // Symbolic-link keys are not simulated.
    if ((options & ~known) || (options & REG_OPTION_CREATE_LINK)) return ERROR_INVALID_PARAMETER;
    if (subKey && *subKey == '\\') return ERROR_BAD_PATHNAME;
    if (base.key->deleted) return ERROR_KEY_DELETED;
    const bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;

    winsim::StoredSecurity initial;
    bool hasInitial = false;
    if (attributes && attributes->lpSecurityDescriptor) {
      const void* descriptor = attributes->lpSecurityDescriptor;
      SECURITY_INFORMATION parts = winsim::PresentParts(descriptor);
      if (!parts && static_cast<const BYTE*>(descriptor)[0] != SECURITY_DESCRIPTOR_REVISION)
        return ERROR_UNKNOWN_REVISION;
      if (LONG error = winsim::ApplySecurityDescriptor(descriptor, parts, &initial)) return error;
      hasInitial = parts != 0;
    }
    std::u16string className = winsim::Wide(keyClass);

    KeyPtr key = base.key;
    bool created = false;
    for (const std::u16string& part : winsim::Components(winsim::Wide(subKey))) {
      if (KeyPtr child = winsim::FindChild(*key, winsim::Fold(part))) {
        key = child;
        created = false;
        continue;
      }
      if (key->kind == winsim::KeyKind::Master) return ERROR_ACCESS_DENIED;
      if (key->isVolatile && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
      winsim::Key& child = winsim::AddChild(*key, part);
      child.className = className;
      child.isVolatile = isVolatile;
      if (hasInitial) child.security = initial;
      key = winsim::FindChild(*key, child.folded);
      created = true;
    }
    *result = winsim::AddHandle(r, key, winsim::MapAccess(desired));
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  return RegCreateKeyExA(hKey, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED,
                         nullptr, result, nullptr);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if (!hKey) return ERROR_INVALID_HANDLE;
    if (winsim::IsPredefined(hKey)) return ERROR_SUCCESS;
    return r.handles.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS
                                                              : ERROR_INVALID_HANDLE;
  });
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR subKey) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    Opened base;
    if (LONG error = winsim::Lookup(r, hKey, &base)) return error;
    if (*subKey == '\\') return ERROR_BAD_PATHNAME;
    KeyPtr key;
    if (LONG error = winsim::OpenPath(base.key, winsim::Wide(subKey), &key)) return error;
    // Only a key without subkeys can be deleted; the roots and hives never.
    if (key->kind != winsim::KeyKind::Normal || !key->subkeys.empty()) return ERROR_ACCESS_DENIED;
    winsim::Detach(*key);
    winsim::MarkDeleted(*key);
    return ERROR_SUCCESS;
  });
}

// ---- advapi32: values -------------------------------------------------------------------

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD count) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if (!data && count) return ERROR_NOACCESS;
    DWORD size = count;
    // A string whose size left out its terminator gets it, when the byte after
    // the data is that terminator.
    if (count && winsim::IsString(type) && data[count - 1] && winsim::NulFollows(data, count))
      ++size;
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    if (!winsim::Has(opened, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    std::vector<BYTE> stored;
    if (winsim::IsString(type))
      stored = winsim::BytesOf(
          winsim::ToWide(std::string_view(reinterpret_cast<const char*>(data), size)));
    else if (size)
      stored.assign(data, data + size);
    winsim::SetValue(*opened.key, winsim::Wide(name), type, std::move(stored));
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegSetValueA(HKEY hKey, LPCSTR subKey, DWORD type, LPCSTR data, DWORD count) {
  // The size is ignored: the whole string and its terminator are stored.
  if (type != REG_SZ || !data) return ERROR_INVALID_PARAMETER;
  HKEY key = hKey;
  if (subKey && *subKey) {
    LONG error = RegCreateKeyExA(hKey, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                 nullptr, &key, nullptr);
    if (error) return error;
  }
  LONG error = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                              static_cast<DWORD>(std::strlen(data) + 1));
  if (key != hKey) RegCloseKey(key);
  return error;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD count) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if ((data && !count) || reserved) return ERROR_INVALID_PARAMETER;
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    DWORD room = count ? *count : 0;
    if (!data && count) *count = 0;
    if (type) *type = REG_NONE;
    if (!winsim::Has(opened, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    const winsim::Value* value = winsim::FindValue(*opened.key, winsim::Wide(name));
    if (!value) return ERROR_FILE_NOT_FOUND;
    std::string bytes = winsim::AnsiData(*value);
    DWORD size = static_cast<DWORD>(bytes.size());
    LONG result = ERROR_SUCCESS;
    if (data && size) {
      if (size > room) {
        result = ERROR_MORE_DATA;  // the buffer is left as it was
      } else {
        std::memcpy(data, bytes.data(), size);
        // A string stored without its terminator gets one when there is room.
        if (winsim::IsString(value->type) && size < room && data[size - 1]) data[size] = 0;
      }
    }
    if (type) *type = value->type;
    if (count) *count = size;
    return result;
  });
}

LONG WINAPI RegQueryValueA(HKEY hKey, LPCSTR subKey, LPSTR data, PLONG count) {
  HKEY key = hKey;
  if (subKey && *subKey) {
    if (LONG error = RegOpenKeyA(hKey, subKey, &key)) return error;
  }
  LONG error = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                                reinterpret_cast<LPDWORD>(count));
  if (key != hKey) RegCloseKey(key);
  if (error == ERROR_FILE_NOT_FOUND) {
    // A key without a default value reads as an empty string.
    if (data) *data = 0;
    if (count) *count = 1;
    error = ERROR_SUCCESS;
  }
  return error;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR name) {
  return winsim::Locked([&](Registry& r) -> LONG {
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    if (!winsim::Has(opened, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    return winsim::EraseValue(*opened.key, winsim::Wide(name)) ? ERROR_SUCCESS
                                                               : ERROR_FILE_NOT_FOUND;
  });
}

// ---- advapi32: enumeration and key information -------------------------------------------

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPSTR keyClass, LPDWORD classLength, PFILETIME lastWrite) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if (reserved) return ERROR_INVALID_PARAMETER;
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    if (!winsim::Has(opened, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
    if (index >= opened.key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const winsim::Key& child =
        *winsim::ElementAt(opened.key->subkeys, opened.key->subkeyCursor, index)->second;
    std::string text = winsim::Narrow(child.name);
    std::string classText = winsim::Narrow(child.className);
    if (lastWrite) *lastWrite = child.lastWrite;
    // Neither the name nor the class is written unless both fit with their
    // terminators; the lengths are then left as they were.
    if (text.size() >= *nameLength || (keyClass && classLength && classText.size() >= *classLength))
      return ERROR_MORE_DATA;
    std::memcpy(name, text.data(), text.size());
    name[text.size()] = 0;
    *nameLength = static_cast<DWORD>(text.size());
    if (classLength) {
      *classLength = static_cast<DWORD>(classText.size());
      if (keyClass) {
        std::memcpy(keyClass, classText.data(), classText.size());
        keyClass[classText.size()] = 0;
      }
    }
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD index, LPSTR name, DWORD nameLength) {
  return RegEnumKeyExA(hKey, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD count) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if ((data && !count) || reserved || !name || !nameLength) return ERROR_INVALID_PARAMETER;
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    if (!winsim::Has(opened, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    if (index >= opened.key->values.size()) return ERROR_NO_MORE_ITEMS;
    const winsim::Value& value =
        *winsim::ElementAt(opened.key->values, opened.key->valueCursor, index);
    std::string bytes = winsim::AnsiData(value);
    DWORD size = static_cast<DWORD>(bytes.size());
    LONG result = ERROR_SUCCESS;
    if (data && size) {
      if (size > *count) {
        result = ERROR_MORE_DATA;  // then neither the data nor the name is written
      } else {
        std::memcpy(data, bytes.data(), size);
        if (winsim::IsString(value.type) && size < *count && data[size - 1]) data[size] = 0;
      }
    }
    if (result == ERROR_SUCCESS) {
      std::string text = winsim::Narrow(value.name);
      if (text.size() >= *nameLength) {
        // The name is cut to the buffer; its length is left as it was.
        result = ERROR_MORE_DATA;
        if (*nameLength) {
          size_t fit = winsim::FitChars(text, *nameLength - 1);
          std::memcpy(name, text.data(), fit);
          name[fit] = 0;
        }
      } else {
        std::memcpy(name, text.data(), text.size());
        name[text.size()] = 0;
        *nameLength = static_cast<DWORD>(text.size());
      }
    }
    if (type) *type = value.type;
    if (count) *count = size;
    return result;
  });
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                             LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                             LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                             LPDWORD securityLength, PFILETIME lastWrite) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if (keyClass && !classLength) return ERROR_INVALID_PARAMETER;
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    if (!winsim::Has(opened, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    const winsim::Key& key = *opened.key;
    LONG result = ERROR_SUCCESS;
    std::string classText = winsim::Narrow(key.className);
    if (keyClass && *classLength) {
      // The class is cut to the buffer; a class that fills it is too long.
      DWORD room = *classLength;
      DWORD written = static_cast<DWORD>(winsim::FitChars(classText, room));
      std::memcpy(keyClass, classText.data(), written);
      if (written == room) {
        result = ERROR_MORE_DATA;
        --written;
      }
      keyClass[written] = 0;
      *classLength = written;
    } else if (classLength) {
      *classLength = static_cast<DWORD>(classText.size());
    }
    size_t longestName = 0, longestClass = 0, longestValueName = 0, longestData = 0;
    for (const auto& entry : key.subkeys) {
      longestName = std::max(longestName, entry.second->name.size());
      longestClass = std::max(longestClass, entry.second->className.size());
    }
    for (const winsim::Value& value : key.values) {
      longestValueName = std::max(longestValueName, value.name.size());
      longestData = std::max(longestData, value.data.size());
    }
    if (subKeys) *subKeys = static_cast<DWORD>(key.subkeys.size());
    if (maxSubKeyLength) *maxSubKeyLength = static_cast<DWORD>(longestName);
    if (maxClassLength) *maxClassLength = static_cast<DWORD>(longestClass);
    if (values) *values = static_cast<DWORD>(key.values.size());
    if (maxValueNameLength) *maxValueNameLength = static_cast<DWORD>(longestValueName);
    if (maxValueLength) *maxValueLength = static_cast<DWORD>(longestData);
    if (securityLength) {
      *securityLength = static_cast<DWORD>(
          winsim::SelfRelativeDescriptor(
              key.security,
              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
              winsim::HiveUser(r, key))
              .size());
    }
    if (lastWrite) *lastWrite = key.lastWrite;
    return result;
  });
}

// ---- advapi32: key security -------------------------------------------------------------

LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION info,
                              PSECURITY_DESCRIPTOR descriptor) {
  return winsim::Locked([&](Registry& r) -> LONG {
    const SECURITY_INFORMATION known = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                       DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
    if (!(info & known) || !descriptor) return ERROR_INVALID_PARAMETER;
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    ACCESS_MASK needed = 0;
    if (info & DACL_SECURITY_INFORMATION) needed |= WRITE_DAC;
    if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) needed |= WRITE_OWNER;
    if (info & SACL_SECURITY_INFORMATION) needed |= ACCESS_SYSTEM_SECURITY;
    if (!winsim::Has(opened, needed)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    // System ACLs (auditing) are accepted but not recorded.
    return winsim::ApplySecurityDescriptor(descriptor, info & ~SACL_SECURITY_INFORMATION,
                                           &opened.key->security);
  });
}

LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor,
                              LPDWORD length) {
  return winsim::Locked([&](Registry& r) -> LONG {
    if (!length) return ERROR_INVALID_PARAMETER;
    Opened opened;
    if (LONG error = winsim::Lookup(r, hKey, &opened)) return error;
    ACCESS_MASK needed = READ_CONTROL;
    if (info & SACL_SECURITY_INFORMATION) needed |= ACCESS_SYSTEM_SECURITY;
    if (!winsim::Has(opened, needed)) return ERROR_ACCESS_DENIED;
    if (opened.key->deleted) return ERROR_KEY_DELETED;
    std::vector<BYTE> bytes = winsim::SelfRelativeDescriptor(opened.key->security, info,
                                                             winsim::HiveUser(r, *opened.key));
    DWORD size = static_cast<DWORD>(bytes.size());
    if (*length < size) {
      *length = size;
      return ERROR_INSUFFICIENT_BUFFER;
    }
    if (!descriptor) return ERROR_INVALID_PARAMETER;
    std::memcpy(descriptor, bytes.data(), size);
    *length = size;
    return ERROR_SUCCESS;
  });
}
