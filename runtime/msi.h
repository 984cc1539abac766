// MSI: the query object through which actions walk the package database of the
// running installation. It holds one install handle, one database handle, one
// open view and one current record; builds whole-table and filtered queries;
// reads and writes record fields; inserts temporary rows; and offers property
// and formatted-text access through the same object.
//
// Results come in three kinds: a result code (0, an engine code, or kNoHandle
// when the object lacks the view, record or table a method needs), a boolean,
// or a text pointer (null on failure). Texts returned through an out pointer
// belong to the caller, who releases them with MSI::FreeText; texts returned
// without one belong to the object and live until the same slot is filled again
// or the object goes away.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

class MSI {
 public:
  static constexpr UINT kNoHandle = static_cast<UINT>(-1);
  static constexpr UINT kCachedFields = 128;
  static constexpr int kQuerySize = 256;

  struct DatabaseHandle {
    MSIHANDLE handle;
  };

  // From an install handle; the creator then calls OpenActiveDatabase.
  explicit MSI(MSIHANDLE hInstall);
  // Borrows another object's install and database handles, leaving its view and
  // record alone. A borrower never calls CloseDatabase.
  explicit MSI(const MSI& other);
  // From a database handle alone.
  explicit MSI(DatabaseHandle database);
  ~MSI();
  MSI& operator=(const MSI&) = delete;

  static void FreeText(char* text);

  // Database and query
  bool OpenActiveDatabase(MSIHANDLE hInstall);
  void CloseDatabase();
  UINT SetTable(LPCSTR name);
  UINT SetQueryView(LPCSTR where, LPCSTR table);
  UINT OpenView(LPCSTR sql);
  UINT FetchRecord();
  UINT FindRecord(LPCSTR column1, LPCSTR value1, LPCSTR column2 = nullptr,
                  LPCSTR value2 = nullptr, LPCSTR column3 = nullptr, LPCSTR value3 = nullptr,
                  LPCSTR table = nullptr);

  // Record access on the current record
  char* GetFieldString(UINT field, char** out = nullptr);
  bool GetFieldInteger(UINT field, int* out);
  UINT SetFieldString(UINT field, LPCSTR text);
  UINT SetFieldInteger(UINT field, int value);
  bool NewRecord(LPCSTR table = nullptr);
  UINT GetColumnCount();
  bool ModifyRecord(MSIMODIFY mode);
  bool DeleteRecord();

  // Install-handle access
  char* GetProperty(LPCSTR name, char** out = nullptr);
  UINT GetPropertyInto(LPCSTR name, char* buffer, DWORD* size);
  UINT SetProperty(LPCSTR name, LPCSTR value);
  UINT AppendProperty(LPCSTR name, LPCSTR text);
  bool GetFeatureState(LPCSTR feature, INSTALLSTATE* installed, INSTALLSTATE* action);

  // Text services
  char* FormatRecordText(LPCSTR templ, char** out = nullptr);
  char* MaskRtfControls(const char* text, char** out = nullptr);
  char* UnmaskRtfControls(char* text, char** out = nullptr);
  char* ConcatStrings(const char* first, const char* second, char** out = nullptr);

  MSIHANDLE install() const { return install_; }
  MSIHANDLE database() const { return database_; }
  MSIHANDLE view() const { return view_; }
  MSIHANDLE record() const { return record_; }
  int lastInteger() const { return lastInteger_; }
  UINT columnCount() const { return columnCount_; }
  LPCSTR table() const { return table_; }
  UINT lastResult() const { return lastResult_; }

 private:
  // Hands text to the caller through out, or keeps it in slot.
  char* Deliver(char* text, char** out, char** slot);
  void CloseRecord();
  void CloseView();

  MSIHANDLE install_ = 0;
  MSIHANDLE database_ = 0;
  MSIHANDLE view_ = 0;
  MSIHANDLE record_ = 0;
  int lastInteger_ = 0;
  UINT columnCount_ = 0;
  char* table_ = nullptr;
  char* fieldTexts_[kCachedFields] = {};
  DWORD fieldLengths_[kCachedFields] = {};
  char* propertyText_ = nullptr;
  char* formattedText_ = nullptr;
  char* unmaskedText_ = nullptr;
  char* maskedText_ = nullptr;
  char* joinedText_ = nullptr;
  UINT lastResult_ = 0;
};

}  // namespace viduzo
