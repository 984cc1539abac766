#include "files/browser_plugins.h"

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/registry.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "files/file_tree.h"

namespace viduzo {
namespace {

constexpr char kModule[] = "5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kComponent[] = "Netscape_Plugins.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kTypeLibrary[] = "IQVAClient.xpt.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kNetscapeKey[] = "SOFTWARE\\Netscape\\Netscape Navigator\\Main";
constexpr char kMozillaKey[] = "Software\\Mozilla";

constexpr DWORD kValueBuffer = 261;
constexpr int kFolderLimit = 260;
constexpr DWORD kSubkeyBuffer = 1025;

// The folder text: the parts appended one after another, cut at 260
// characters (never inside a double-byte character).
class Folder {
 public:
  explicit Folder(const char* first) { Append(first); }
  void Append(const char* part) {
    int length = lstrlenA(text_);
    lstrcpynA(text_ + length, part, static_cast<int>(sizeof text_) - length);
    TruncateBytes(text_, kFolderLimit);
  }
  const char* text() const { return text_; }

 private:
  char text_[kFolderLimit + 2] = "";
};

// One browser folder: its numbered directory key and property, its Directory
// row and its DuplicateFile row. Failures are not reported.
void ScheduleCopy(MSIHANDLE hInstall, MSIHANDLE directoryView, int number, const char* folder) {
  char key[96];
  wsprintfA(key, "MOZILLA_%d.%s", number, kModule);
  MsiSetPropertyA(hInstall, key, folder);
  AddTempDirectory(hInstall, directoryView, key, nullptr, nullptr);
  AddTempDuplicateFile(hInstall, key, kComponent, kTypeLibrary, nullptr, key);
}

}  // namespace

bool AddTempDuplicateFile(MSIHANDLE hInstall, LPCSTR key, LPCSTR component, LPCSTR fileKey,
                          LPCSTR destinationName, LPCSTR destinationFolder) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  MsiHandle view, params, row;
  if (!database ||
      MsiDatabaseOpenViewA(database.get(), "SELECT * FROM `DuplicateFile` WHERE `FileKey`=?",
                           view.put()) != ERROR_SUCCESS)
    return false;
  params.reset(MsiCreateRecord(1));
  if (!params || MsiRecordSetStringA(params.get(), 1, key) != ERROR_SUCCESS ||
      MsiViewExecute(view.get(), params.get()) != ERROR_SUCCESS ||
      MsiViewFetch(view.get(), row.put()) != ERROR_NO_MORE_ITEMS)
    return false;
  MsiHandle record(MsiCreateRecord(5));
  const char* fields[] = {key, component, fileKey, destinationName, destinationFolder};
  for (UINT i = 0; i < 5; ++i)
    if (fields[i] && MsiRecordSetStringA(record.get(), i + 1, fields[i]) != ERROR_SUCCESS)
      return false;
  return MsiViewModify(view.get(), MSIMODIFY_INSERT_TEMPORARY, record.get()) == ERROR_SUCCESS;
}

}  // namespace viduzo

using namespace viduzo;

// Schedules copies of the browser type library into the Netscape plug-in
// folder and every Mozilla components folder found in the registry.
extern "C" UINT WINAPI CopyIQVAClientFile(MSIHANDLE hInstall) {
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  MsiHandle directoryView;
  if (!database ||
      MsiDatabaseOpenViewA(database.get(), "SELECT * FROM `Directory` WHERE `Directory`=?",
                           directoryView.put()) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;

  int number = 0;
  RegKey netscape;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kNetscapeKey, 0, KEY_READ, netscape.put()) ==
      ERROR_SUCCESS) {
    char value[kValueBuffer];
    if (ReadRegistryText(netscape.get(), "Install Directory", value, kValueBuffer)) {
      Folder folder(value);
      for (const char* part : {"\\", "Program\\Plugins", "\\"}) folder.Append(part);
      ScheduleCopy(hInstall, directoryView.get(), 0, folder.text());
    }
    number = 1;
  }

  RegKey mozilla;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMozillaKey, 0, KEY_READ, mozilla.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  // The enumeration ends at 259; any other error ends it too, so that a key
  // that fails every time cannot keep the loop going.
  for (DWORD index = 0;; ++index) {
    char product[kSubkeyBuffer];
    DWORD length = kSubkeyBuffer;
    LONG result =
        RegEnumKeyExA(mozilla.get(), index, product, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    char subkey[kSubkeyBuffer + 16];
    wsprintfA(subkey, "%s\\extensions", product);
    RegKey extensions;
    char value[kValueBuffer];
    if (RegOpenKeyExA(mozilla.get(), subkey, 0, KEY_READ, extensions.put()) != ERROR_SUCCESS ||
        !ReadRegistryText(extensions.get(), "components", value, kValueBuffer))
      continue;
    Folder folder(value);
    folder.Append("\\");
    ScheduleCopy(hInstall, directoryView.get(), number++, folder.text());
  }
  return ERROR_SUCCESS;
}
