// The directory-service (NDS) contexts of the client's logon settings: the
// user's recent contexts offered as defaults in the wizard, and the contexts
// entered there scheduled for the installing user's profile and the default
// profile.
#include <new>
#include <string>

#include "runtime/action.h"
#include "runtime/services.h"
#include "runtime/handles.h"
#include "runtime/text.h"
#include "system/dynamic_registry.h"

namespace viduzo {
namespace {

constexpr char kLogonKey[] = "Software\\Velmar\\VmrLogon";
constexpr char kUserLogonKey[] = "\\Software\\Velmar\\VmrLogon";
constexpr char kDefaultLogonKey[] = ".DEFAULT\\Software\\Velmar\\VmrLogon";
constexpr char kRecentContexts[] = "RecentContexts";
constexpr char kDefaultContext[] = "DEFAULT_NDSCONTEXT";
constexpr char kContextList[] = "NDS_CONTEXT.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kCurrentUser[] = "CurrentUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kUserComponent[] = "NDS_CONTEXT.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kAdminComponent[] = "NDS_CONTEXTAdmin.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kMultiStringMarker[] = "[~]";
constexpr int kUsersRoot = 3;

constexpr DWORD kContextsBuffer = 1028;
constexpr DWORD kDefaultContextBuffer = 514;
constexpr DWORD kPropertyNameBuffer = 512;
constexpr DWORD kProfileKeyBuffer = 542;

// A registry multi-string as a comma list: the end of each string becomes a
// comma and the last comma goes. The list ends at an empty string or with the
// data.
std::string CommaList(const char* data, DWORD size) {
  std::string list;
  for (DWORD at = 0; at < size && data[at] != '\0';) {
    DWORD end = at;
    while (end < size && data[end] != '\0') ++end;
    if (!list.empty()) list += ',';
    list.append(data + at, end - at);
    at = end + 1;
  }
  return list;
}

// "[~]" in front of the list and in place of every comma.
std::string MultiStringNotation(const char* list) {
  std::string text = kMultiStringMarker;
  for (const char* p = list; *p;) {
    const char* next = CharNextA(p);
    if (next - p == 1 && *p == ',')
      text += kMultiStringMarker;
    else
      text.append(p, next - p);
    p = next;
  }
  return text;
}

void OfferRecentContexts(MSIHANDLE hInstall) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kLogonKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    OutputDebugStringA("Couldn't Read NDS context key!!");
    return;
  }
  char contexts[kContextsBuffer];
  DWORD size = sizeof contexts;
  if (RegQueryValueExA(key.get(), kRecentContexts, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(contexts), &size) != ERROR_SUCCESS) {
    OutputDebugStringA("Couldn't Read NDS context key Recent contexts value!!");
    return;
  }
  std::string list = CommaList(contexts, size);

  char entered[kDefaultContextBuffer];
  if (ReadProperty(hInstall, kDefaultContext, entered, sizeof entered) != ERROR_SUCCESS) {
    OutputDebugStringA("Couldn't Get the DEFAULT_NDSCONTEXT property");
  } else if (entered[0] != '\0') {
    list += ',';
    list += entered;
  }
  if (MsiSetPropertyA(hInstall, kDefaultContext, list.c_str()) != ERROR_SUCCESS)
    OutputDebugStringA("Couldn't set the DEFAULT_NDSCONTEXT property!!");
}

UINT ScheduleEnteredContexts(MSIHANDLE hInstall) {
  GrowableText entered;
  if (entered.ReadProperty(hInstall, kDefaultContext) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;
  if (entered.text[0] == '\0') return ERROR_SUCCESS;

  std::string value = MultiStringNotation(entered.text);
  if (MsiSetPropertyA(hInstall, kContextList, value.c_str()) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;

  char profileProperty[kPropertyNameBuffer];
  if (ReadProperty(hInstall, kCurrentUser, profileProperty, sizeof profileProperty) !=
          ERROR_SUCCESS ||
      profileProperty[0] == '\0')
    return ERROR_INSTALL_FAILURE;
  char profile[kProfileKeyBuffer];
  if (ReadProperty(hInstall, profileProperty, profile, sizeof profile) != ERROR_SUCCESS ||
      profile[0] == '\0')
    return ERROR_INSTALL_FAILURE;
  std::string userKey = std::string(profile) + kUserLogonKey;

  if (!AddTempRegistryRow(hInstall, kUsersRoot, userKey.c_str(), kRecentContexts, value.c_str(),
                          kUserComponent) ||
      !AddTempRegistryRow(hInstall, kUsersRoot, kDefaultLogonKey, kRecentContexts, value.c_str(),
                          kAdminComponent))
    return ERROR_INSTALL_FAILURE;
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace viduzo

// Offers the user's recent contexts, followed by what DEFAULT_NDSCONTEXT holds,
// as the default contexts. The lists are held whole; running out of memory for
// them ends the action like any other failure here, quietly.
extern "C" UINT WINAPI SetDEFAULT_NDSCONTEXT(MSIHANDLE hInstall) {
  try {
    viduzo::OfferRecentContexts(hInstall);
  } catch (const std::bad_alloc&) {
  }
  return ERROR_SUCCESS;
}

// Schedules the entered contexts as the recent contexts of the installing
// user's profile and of the default profile.
extern "C" UINT WINAPI SetDefaultNDSContext(MSIHANDLE hInstall) {
  try {
    return viduzo::ScheduleEnteredContexts(hInstall);
  } catch (const std::bad_alloc&) {
    return ERROR_INSTALL_FAILURE;
  }
}
