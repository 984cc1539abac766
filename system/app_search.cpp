// PrepareAppSearch: the package's own application searches (VmrAppSearch)
// handed to the installer's standard search, the ordered ones one at a time so
// that each sees the properties the earlier ones set.
#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"

namespace viduzo {
namespace {

constexpr char kOrderedQuery[] =
    "SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` "
    "WHERE `Order` is not null ORDER BY `Order`";
constexpr char kUnorderedQuery[] =
    "SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` WHERE `Order` is null";
constexpr char kInsertQuery[] = "SELECT `Property`, `Signature_` FROM `AppSearch`";
constexpr char kLookupQuery[] =
    "SELECT * FROM `AppSearch` WHERE `Property`=? AND `Signature_`=?";
constexpr char kStandardSearch[] = "AppSearch";
constexpr DWORD kFieldBuffer = 256;

enum Column : UINT { kProperty = 1, kSignature = 2, kPreferDefault = 3 };

// A text field read into a fixed buffer; a value that does not fit is unreadable.
bool ReadField(MSIHANDLE record, UINT field, char (&buffer)[kFieldBuffer]) {
  DWORD count = kFieldBuffer;
  return MsiRecordGetStringA(record, field, buffer, &count) == ERROR_SUCCESS;
}

enum class RowOutcome { kSkipped, kInserted, kNoRecord };

// Turns one VmrAppSearch row into a temporary AppSearch row, unless its
// property is unusable, already holds a value it should keep, or it names no
// signature. *search receives the (Property, Signature_) record.
RowOutcome InsertSearch(MSIHANDLE hInstall, MSIHANDLE row, MSIHANDLE insertView,
                        MsiHandle* search) {
  char property[kFieldBuffer];
  if (!ReadField(row, kProperty, property) || property[0] == '\0') return RowOutcome::kSkipped;
  int preferDefault = MsiRecordGetInteger(row, kPreferDefault);
  if (preferDefault != static_cast<int>(MSI_NULL_INTEGER) && preferDefault != 0) {
    char current[kFieldBuffer];
    if (ReadProperty(hInstall, property, current, kFieldBuffer) == ERROR_SUCCESS &&
        current[0] != '\0')
      return RowOutcome::kSkipped;
  }
  char signature[kFieldBuffer];
  if (!ReadField(row, kSignature, signature) || signature[0] == '\0') return RowOutcome::kSkipped;

  search->reset(MsiCreateRecord(2));
  if (!*search) return RowOutcome::kNoRecord;
  MsiRecordSetStringA(search->get(), kProperty, property);
  MsiRecordSetStringA(search->get(), kSignature, signature);
  if (MsiViewModify(insertView, MSIMODIFY_INSERT_TEMPORARY, search->get()) != ERROR_SUCCESS)
    return RowOutcome::kSkipped;
  return RowOutcome::kInserted;
}

// Deletes the temporary AppSearch row that the search record names.
void RemoveSearch(MSIHANDLE lookupView, MSIHANDLE search) {
  MsiViewClose(lookupView);
  if (MsiViewExecute(lookupView, search) != ERROR_SUCCESS) return;
  MsiHandle found;
  if (MsiViewFetch(lookupView, found.put()) != ERROR_SUCCESS) return;
  MsiViewModify(lookupView, MSIMODIFY_DELETE, found.get());
}

}  // namespace
}  // namespace viduzo

extern "C" UINT WINAPI PrepareAppSearch(MSIHANDLE hInstall) {
  using namespace viduzo;
  MsiHandle database(MsiGetActiveDatabase(hInstall));
  if (!database) return ERROR_INSTALL_FAILURE;

  // A package without VmrAppSearch has nothing to prepare.
  MsiHandle ordered, insert, lookup;
  if (MsiDatabaseOpenViewA(database.get(), kOrderedQuery, ordered.put()) != ERROR_SUCCESS ||
      MsiDatabaseOpenViewA(database.get(), kInsertQuery, insert.put()) != ERROR_SUCCESS ||
      MsiDatabaseOpenViewA(database.get(), kLookupQuery, lookup.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  if (MsiViewExecute(ordered.get(), 0) != ERROR_SUCCESS ||
      MsiViewExecute(insert.get(), 0) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;

  // Ordered rows: each search runs on its own, then its row goes again.
  MsiHandle row;
  while (MsiViewFetch(ordered.get(), row.put()) == ERROR_SUCCESS) {
    MsiHandle search;
    RowOutcome outcome = InsertSearch(hInstall, row.get(), insert.get(), &search);
    if (outcome == RowOutcome::kNoRecord) return ERROR_INSTALL_FAILURE;
    if (outcome != RowOutcome::kInserted) continue;
    MsiDoActionA(hInstall, kStandardSearch);
    RemoveSearch(lookup.get(), search.get());
  }
  MsiViewClose(ordered.get());
  ordered.reset();

  // Unordered rows stay for the standard search where the sequence runs it.
  MsiHandle unordered;
  if (MsiDatabaseOpenViewA(database.get(), kUnorderedQuery, unordered.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  if (MsiViewExecute(unordered.get(), 0) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  while (MsiViewFetch(unordered.get(), row.put()) == ERROR_SUCCESS) {
    MsiHandle search;
    if (InsertSearch(hInstall, row.get(), insert.get(), &search) == RowOutcome::kNoRecord)
      return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}
