// DLL custom actions from the Binary table. The engine extracts the Binary row
// into a temporary file, loads it, calls the named export with a new handle to
// the same session (never the caller's), and reads the return code as
// Windows Installer does: 0, 1602, 1603 and 1626 stand, 259 (skip the rest)
// and 1604 (suspend) count as success, anything else is a failure (1603).
// With the "continue" bit (0x40) in the type the return code is ignored.
#include "winsim/msi/custom.h"

#include <vector>

#include "winsim/msi/database.h"
#include "winsim/msi/record.h"

namespace winsim {
namespace {

constexpr int kContinueOnReturn = 0x40;
constexpr int kInScript = 0x400;

int g_tempCounter = 0;

using EntryPoint = UINT(WINAPI*)(MSIHANDLE);

// Writes the Binary row's stream to a fresh temporary file; false when there
// is no such row or the file cannot be written.
bool ExtractBinary(Database& db, const std::string& source, std::string* path) {
  std::vector<std::vector<Field>> rows;
  if (source.find('\'') != std::string::npos ||
      QueryRows(db, "SELECT `Name`, `Data` FROM `Binary` WHERE `Name` = '" + source + "'",
                &rows) != ERROR_SUCCESS ||
      rows.empty() || rows[0][1].kind != Field::kStream)
    return false;
  char folder[MAX_PATH] = "";
  GetTempPathA(sizeof folder, folder);
  *path = std::string(folder) + "msi" + std::to_string(++g_tempCounter) + ".tmp";
  HANDLE file = CreateFileA(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string& bytes = rows[0][1].text;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

UINT EngineResult(UINT returned) {
  switch (returned) {
    case ERROR_SUCCESS:
    case ERROR_INSTALL_USEREXIT:
    case ERROR_INSTALL_FAILURE:
    case ERROR_FUNCTION_NOT_CALLED:
      return returned;
    case ERROR_NO_MORE_ITEMS:
    case ERROR_INSTALL_SUSPEND:
      return ERROR_SUCCESS;
    default:
      return ERROR_INSTALL_FAILURE;
  }
}

}  // namespace

UINT RunBinaryDllAction(const std::shared_ptr<Session>& session, const std::string& action,
                        const std::string& source, const std::string& target, int type) {
  std::string path;
  if (!ExtractBinary(*session->database, source, &path)) {
    DeleteFileA(path.c_str());
    return ERROR_FUNCTION_FAILED;
  }
  HMODULE module = LoadLibraryA(path.c_str());
  // A DLL that does not load or lacks the export stops the installation.
  UINT result = ERROR_INSTALL_FAILURE;
  if (module) {
    auto entry = reinterpret_cast<EntryPoint>(
        reinterpret_cast<void*>(GetProcAddress(module, target.c_str())));
    if (entry) {
      const bool deferred = (type & kInScript) != 0;
      const std::string before = session->Property("CustomActionData");
      if (deferred) session->SetProperty("CustomActionData", session->Property(action));
      MSIHANDLE own = AddHandle(session);
      result = EngineResult(entry(own));
      RemoveHandle(own);
      if (deferred) session->SetProperty("CustomActionData", before);
    }
    FreeLibrary(module);
  }
  DeleteFileA(path.c_str());
  return (type & kContinueOnReturn) ? ERROR_SUCCESS : result;
}

}  // namespace winsim
