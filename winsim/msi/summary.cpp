// Summary information: the property set stored with a package database
// (template, revision number, page count, ...). A handle works on a copy;
// MsiSummaryInfoPersist stores it with the database, and for a summary opened
// by path also writes the database file.
#include <map>
#include <memory>
#include <string>

#include <msidefs.h>
#include <wtypes.h>

#include "winsim/msi/database.h"
#include "winsim/msi/handles.h"
#include "winsim/msi/record.h"

namespace winsim {
namespace {

struct SummaryInfo : Object {
  std::shared_ptr<Database> db;
  bool openedByPath = false;
  std::map<UINT, SummaryValue> values;
  UINT updatesLeft = 0;
};

// The value type each property id takes; VT_EMPTY for ids that do not exist.
UINT PropertyType(UINT pid) {
  switch (pid) {
    case 1:  // code page
      return VT_I2;
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 18:
      return VT_LPSTR;
    case 10:
    case 11:
    case 12:
    case 13:
      return VT_FILETIME;
    case 14:
    case 15:
    case 16:
    case 19:
      return VT_I4;
    default:
      return VT_EMPTY;
  }
}

const UINT kMaxPropertyId = 19;

std::shared_ptr<SummaryInfo> GetSummary(MSIHANDLE handle) { return Get<SummaryInfo>(handle); }

}  // namespace
}  // namespace winsim

UINT WINAPI MsiGetSummaryInformationA(MSIHANDLE database, LPCSTR path, UINT updateCount,
                                      MSIHANDLE* summary) {
  if (!summary) return ERROR_INVALID_PARAMETER;
  auto info = std::make_shared<winsim::SummaryInfo>();
  if (database) {
    info->db = winsim::Get<winsim::Database>(database);
    if (!info->db) return ERROR_INVALID_HANDLE;
  } else {
    if (!path) return ERROR_INVALID_PARAMETER;
    LPCSTR mode = updateCount ? MSIDBOPEN_TRANSACT : MSIDBOPEN_READONLY;
    UINT r = winsim::OpenDatabase(path, mode, &info->db);
    if (r != ERROR_SUCCESS) return r;
    info->openedByPath = true;
  }
  info->values = info->db->summary;
  info->updatesLeft = updateCount;
  *summary = winsim::AddHandle(info);
  return ERROR_SUCCESS;
}

UINT WINAPI MsiSummaryInfoSetPropertyA(MSIHANDLE summary, UINT property, UINT type, INT value,
                                       FILETIME* time, LPCSTR text) {
  auto info = winsim::GetSummary(summary);
  if (!info) return ERROR_INVALID_HANDLE;
  UINT expected = winsim::PropertyType(property);
  if (expected == VT_EMPTY || type != expected) return ERROR_DATATYPE_MISMATCH;
  if (type == VT_LPSTR && !text) return ERROR_INVALID_PARAMETER;
  if (type == VT_FILETIME && !time) return ERROR_INVALID_PARAMETER;
  auto it = info->values.find(property);
  if (it == info->values.end()) {
    // Each property that was not set before uses up one of the updates asked for.
    if (info->updatesLeft == 0) return ERROR_FUNCTION_FAILED;
    --info->updatesLeft;
  }
  winsim::SummaryValue& v = info->values[property];
  v = winsim::SummaryValue{};
  v.type = type;
  if (type == VT_LPSTR) {
    v.text = text;
  } else if (type == VT_FILETIME) {
    v.time = *time;
  } else {
    v.integer = value;
  }
  return ERROR_SUCCESS;
}

UINT WINAPI MsiSummaryInfoGetPropertyA(MSIHANDLE summary, UINT property, UINT* type, INT* value,
                                       FILETIME* time, LPSTR text, DWORD* count) {
  auto info = winsim::GetSummary(summary);
  if (!info) return ERROR_INVALID_HANDLE;
  if (property > winsim::kMaxPropertyId) {
    if (type) *type = VT_EMPTY;
    return ERROR_UNKNOWN_PROPERTY;
  }
  auto it = info->values.find(property);
  if (it == info->values.end()) {
    if (type) *type = VT_EMPTY;
    return ERROR_SUCCESS;
  }
  const winsim::SummaryValue& v = it->second;
  if (type) *type = v.type;
  switch (v.type) {
    case VT_LPSTR:
      return winsim::CopyOut(v.text, text, count);
    case VT_FILETIME:
      if (time) *time = v.time;
      return ERROR_SUCCESS;
    default:
      if (value) *value = v.integer;
      return ERROR_SUCCESS;
  }
}

UINT WINAPI MsiSummaryInfoGetPropertyCount(MSIHANDLE summary, UINT* count) {
  auto info = winsim::GetSummary(summary);
  if (!info) return ERROR_INVALID_HANDLE;
  if (!count) return ERROR_INVALID_PARAMETER;
  *count = static_cast<UINT>(info->values.size());
  return ERROR_SUCCESS;
}

UINT WINAPI MsiSummaryInfoPersist(MSIHANDLE summary) {
  auto info = winsim::GetSummary(summary);
  if (!info) return ERROR_INVALID_HANDLE;
  if (info->db->readOnly) return ERROR_FUNCTION_FAILED;
  info->db->summary = info->values;
  // A summary opened by path writes the file itself; one opened on a database
  // handle is written with the database's next commit.
  return info->openedByPath ? info->db->Commit() : ERROR_SUCCESS;
}
