#include "runtime/msi.h"

#include <new>
#include <string>

#include "runtime/text.h"

namespace viduzo {
namespace {

// The formatter treats "{", "}" and "\" as its own syntax; RTF's own control
// characters travel through it as these codes, which it leaves alone.
constexpr char kOpenBrace = 17;
constexpr char kCloseBrace = 18;
constexpr char kBackslash = 19;

// The engine's value for an empty integer field.
constexpr int kNullInteger = static_cast<int>(MSI_NULL_INTEGER);

char* NewText(std::size_t bytes) { return new (std::nothrow) char[bytes]; }

char* CopyText(const char* text) {
  int length = lstrlenA(text);
  char* copy = NewText(length + 1);
  if (copy) lstrcpyA(copy, text);
  return copy;
}

void Release(char*& text) {
  delete[] text;
  text = nullptr;
}

// Puts a query text into the object's 256-character buffer, cut to fit.
void PutQuery(char (&buffer)[MSI::kQuerySize], const std::string& text) {
  lstrcpynA(buffer, text.c_str(), MSI::kQuerySize);
}

std::string Quoted(const char* name) { return std::string("`") + name + "`"; }

bool IsRtfSpecial(char c) { return c == '\\' || c == '{' || c == '}'; }

// Width in bytes of the character at p (1 or 2).
int CharWidth(const char* p) { return static_cast<int>(CharNextA(p) - p); }

}  // namespace

MSI::MSI(MSIHANDLE hInstall) : install_(hInstall) {}

MSI::MSI(const MSI& other) : install_(other.install_), database_(other.database_) {}

MSI::MSI(DatabaseHandle database) : database_(database.handle) {}

MSI::~MSI() {
  for (char*& text : fieldTexts_) Release(text);
  Release(table_);
  Release(propertyText_);
  Release(formattedText_);
  Release(unmaskedText_);
  Release(maskedText_);
  Release(joinedText_);
  CloseRecord();
  CloseView();
}

void MSI::FreeText(char* text) { delete[] text; }

char* MSI::Deliver(char* text, char** out, char** slot) {
  if (out) {
    *out = text;
    return text;
  }
  Release(*slot);
  *slot = text;
  return text;
}

void MSI::CloseRecord() {
  if (record_) MsiCloseHandle(record_);
  record_ = 0;
}

void MSI::CloseView() {
  if (view_) {
    MsiViewClose(view_);
    MsiCloseHandle(view_);
  }
  view_ = 0;
}

bool MSI::OpenActiveDatabase(MSIHANDLE hInstall) {
  MSIHANDLE database = MsiGetActiveDatabase(hInstall);
  if (!database) return false;
  database_ = database;
  return true;
}

void MSI::CloseDatabase() {
  if (database_) MsiCloseHandle(database_);
  database_ = 0;
}

UINT MSI::SetTable(LPCSTR name) {
  if (!name) return ERROR_SUCCESS;
  char* copy = CopyText(name);
  if (!copy) return kNoHandle;
  Release(table_);
  table_ = copy;
  columnCount_ = 0;
  return SetQueryView(nullptr, nullptr);
}

UINT MSI::SetQueryView(LPCSTR where, LPCSTR table) {
  if (!table) {
    if (!table_) return kNoHandle;
  } else if (!table_ || lstrcmpA(table, table_) != 0) {
    if (SetTable(table) != ERROR_SUCCESS) return lastResult_;
    if (!where) return ERROR_SUCCESS;
  }
  char sql[kQuerySize];
  std::string text = "SELECT * FROM " + Quoted(table_);
  if (where) text += std::string(" ") + where;
  PutQuery(sql, text);
  return OpenView(sql);
}

UINT MSI::OpenView(LPCSTR sql) {
  CloseView();
  lastResult_ = MsiDatabaseOpenViewA(database_, sql, &view_);
  if (lastResult_ != ERROR_SUCCESS) {
    view_ = 0;
    return lastResult_;
  }
  lastResult_ = MsiViewExecute(view_, 0);
  if (lastResult_ != ERROR_SUCCESS) CloseView();
  return lastResult_;
}

UINT MSI::FetchRecord() {
  if (!view_) return kNoHandle;
  CloseRecord();
  lastResult_ = MsiViewFetch(view_, &record_);
  if (lastResult_ != ERROR_SUCCESS) record_ = 0;
  return lastResult_;
}

UINT MSI::FindRecord(LPCSTR column1, LPCSTR value1, LPCSTR column2, LPCSTR value2,
                     LPCSTR column3, LPCSTR value3, LPCSTR table) {
  if (!column1 || !value1 || (column2 && !value2) || (column3 && !value3)) {
    lastResult_ = ERROR_INVALID_PARAMETER;
    return lastResult_;
  }
  if (table && (!table_ || lstrcmpA(table, table_) != 0)) {
    if (SetTable(table) != ERROR_SUCCESS) return lastResult_;
  } else if (!table && !table_) {
    lastResult_ = ERROR_FUNCTION_FAILED;
    return lastResult_;
  }
  // Values go into the text unchanged: one holding an apostrophe fails the query.
  std::string text = "WHERE " + Quoted(column1) + "='" + value1 + "'";
  if (column2) {
    text += " AND " + Quoted(column2) + "='" + value2 + "'";
    if (column3) text += " AND " + Quoted(column3) + "='" + value3 + "'";
  }
  char where[kQuerySize];
  PutQuery(where, text);
  SetQueryView(where, nullptr);
  return FetchRecord();
}

char* MSI::GetFieldString(UINT field, char** out) {
  if (out) *out = nullptr;
  if (!record_) return nullptr;
  DWORD size = MsiRecordDataSize(record_, field);
  if (size == 0) return nullptr;  // an empty field reads as null, never as ""

  DWORD bytes = size + 1;
  char* text = NewText(bytes);
  if (!text) return nullptr;
  DWORD count = bytes;
  lastResult_ = MsiRecordGetStringA(record_, field, text, &count);
  if (lastResult_ == ERROR_MORE_DATA) {
    delete[] text;
    ++bytes;
    text = NewText(bytes);
    if (!text) return nullptr;
    count = bytes;
    lastResult_ = MsiRecordGetStringA(record_, field, text, &count);
  }
  if (lastResult_ != ERROR_SUCCESS) {
    delete[] text;
    return nullptr;
  }
  if (out) {
    *out = text;
    return text;
  }
  if (field >= kCachedFields) {
    delete[] text;
    return nullptr;
  }
  Release(fieldTexts_[field]);
  fieldTexts_[field] = text;
  fieldLengths_[field] = static_cast<DWORD>(lstrlenA(text)) + 1;
  return text;
}

bool MSI::GetFieldInteger(UINT field, int* out) {
  int value = record_ ? MsiRecordGetInteger(record_, field) : kNullInteger;
  bool present = value != kNullInteger;
  if (!present) value = 0;
  if (out) *out = value;
  if (record_) lastInteger_ = value;
  return present;
}

UINT MSI::SetFieldString(UINT field, LPCSTR text) {
  if (!record_) return kNoHandle;
  lastResult_ = MsiRecordSetStringA(record_, field, text);
  return lastResult_;
}

UINT MSI::SetFieldInteger(UINT field, int value) {
  if (!record_) return kNoHandle;
  lastResult_ = MsiRecordSetInteger(record_, field, value);
  return lastResult_;
}

bool MSI::NewRecord(LPCSTR table) {
  if (table && SetTable(table) != ERROR_SUCCESS) return false;
  if (columnCount_ == 0 && GetColumnCount() == 0) return false;
  MSIHANDLE record = MsiCreateRecord(columnCount_);
  if (!record) return false;
  CloseRecord();
  record_ = record;
  return true;
}

UINT MSI::GetColumnCount() {
  if (!view_) return 0;
  MSIHANDLE names = 0;
  lastResult_ = MsiViewGetColumnInfo(view_, MSICOLINFO_NAMES, &names);
  if (lastResult_ != ERROR_SUCCESS) return 0;
  columnCount_ = MsiRecordGetFieldCount(names);
  MsiCloseHandle(names);
  return columnCount_;
}

bool MSI::ModifyRecord(MSIMODIFY mode) {
  if (!record_) return false;
  lastResult_ = MsiViewModify(view_, mode, record_);
  return lastResult_ == ERROR_SUCCESS;
}

bool MSI::DeleteRecord() { return ModifyRecord(MSIMODIFY_DELETE); }

char* MSI::GetProperty(LPCSTR name, char** out) {
  char empty[1] = "";
  DWORD count = 0;
  lastResult_ = MsiGetPropertyA(install_, name, empty, &count);
  if (lastResult_ != ERROR_MORE_DATA) return nullptr;
  DWORD bytes = count + 1;
  char* text = NewText(bytes);
  if (!text) return nullptr;
  count = bytes;
  lastResult_ = MsiGetPropertyA(install_, name, text, &count);
  if (lastResult_ != ERROR_SUCCESS) {
    delete[] text;
    return nullptr;
  }
  return Deliver(text, out, &propertyText_);
}

UINT MSI::GetPropertyInto(LPCSTR name, char* buffer, DWORD* size) {
  if (!size || *size == 0) return ERROR_INVALID_PARAMETER;
  lastResult_ = MsiGetPropertyA(install_, name, buffer, size);
  if (lastResult_ == ERROR_MORE_DATA) {
    buffer[0] = '\0';
    *size = 0;
  }
  return lastResult_;
}

UINT MSI::SetProperty(LPCSTR name, LPCSTR value) {
  lastResult_ = MsiSetPropertyA(install_, name, value);
  return lastResult_;
}

UINT MSI::AppendProperty(LPCSTR name, LPCSTR text) {
  const char* old = GetProperty(name);
  std::size_t oldLength = old ? lstrlenA(old) : 0;
  char* value = NewText(oldLength + lstrlenA(text) + 2);
  if (!value) return kNoHandle;
  value[0] = '\0';
  if (old) lstrcpyA(value, old);
  lstrcatA(value, text);
  lstrcatA(value, ",");
  UINT result = SetProperty(name, value);
  delete[] value;
  return result;
}

bool MSI::GetFeatureState(LPCSTR feature, INSTALLSTATE* installed, INSTALLSTATE* action) {
  lastResult_ = MsiGetFeatureStateA(install_, feature, installed, action);
  return lastResult_ == ERROR_SUCCESS;
}

char* MSI::FormatRecordText(LPCSTR templ, char** out) {
  if (out) *out = nullptr;
  MSIHANDLE record = MsiCreateRecord(1);
  if (!record) return nullptr;
  char* text = nullptr;
  lastResult_ = MsiRecordSetStringA(record, 1, templ);
  if (lastResult_ == ERROR_SUCCESS) {
    DWORD bytes = static_cast<DWORD>(lstrlenA(templ)) + 1;
    text = NewText(bytes);
    DWORD count = bytes;
    if (text) lastResult_ = MsiFormatRecordA(install_, record, text, &count);
    if (text && lastResult_ == ERROR_MORE_DATA) {
      delete[] text;
      bytes = count + 1;
      text = NewText(bytes);
      count = bytes;
      if (text) lastResult_ = MsiFormatRecordA(install_, record, text, &count);
    }
    if (text && lastResult_ != ERROR_SUCCESS) Release(text);
  }
  MsiCloseHandle(record);
  if (!text) return nullptr;
  return Deliver(text, out, &formattedText_);
}

char* MSI::MaskRtfControls(const char* text, char** out) {
  if (out) *out = nullptr;
  if (!text || !*text) return nullptr;
  char* masked = NewText(lstrlenA(text) + 1);
  if (!masked) return nullptr;
  char* w = masked;
  bool escaped = false;  // the previous input character was an unescaped backslash
  for (const char* p = text; *p; p = CharNextA(p)) {
    int width = CharWidth(p);
    if (width == 1 && *p == '\\') {
      if (escaped) {
        w[-1] = '\\';
        escaped = false;
      } else {
        *w++ = kBackslash;
        escaped = true;
      }
    } else if (width == 1 && (*p == '{' || *p == '}')) {
      if (escaped) {
        w[-1] = *p;
        escaped = false;
      } else {
        *w++ = *p == '{' ? kOpenBrace : kCloseBrace;
      }
    } else {
      for (int i = 0; i < width; ++i) *w++ = p[i];
      escaped = false;
    }
  }
  *w = '\0';
  return Deliver(masked, out, &maskedText_);
}

char* MSI::UnmaskRtfControls(char* text, char** out) {
  if (out) *out = nullptr;
  if (!text || !*text) return nullptr;
  // The formatter's frame: "1: " before the value and a blank after it.
  text[lstrlenA(text) - 1] = '\0';
  const char* start = FindText(text, ": ");
  start = start ? start + 2 : text;

  int specials = 0;
  for (const char* p = start; *p; p = CharNextA(p))
    if (CharWidth(p) == 1 && IsRtfSpecial(*p)) ++specials;
  char* rtf = NewText(lstrlenA(start) + specials + 1);
  if (!rtf) return nullptr;
  char* w = rtf;
  for (const char* p = start; *p; p = CharNextA(p)) {
    int width = CharWidth(p);
    if (width == 1 && *p == kOpenBrace) {
      *w++ = '{';
    } else if (width == 1 && *p == kCloseBrace) {
      *w++ = '}';
    } else if (width == 1 && *p == kBackslash) {
      *w++ = '\\';
    } else if (width == 1 && IsRtfSpecial(*p)) {
      *w++ = '\\';
      *w++ = *p;
    } else {
      for (int i = 0; i < width; ++i) *w++ = p[i];
    }
  }
  *w = '\0';
  return Deliver(rtf, out, &unmaskedText_);
}

char* MSI::ConcatStrings(const char* first, const char* second, char** out) {
  if (out) *out = nullptr;
  if (!first || !second) return nullptr;
  char* joined = NewText(lstrlenA(first) + lstrlenA(second) + 1);
  if (!joined) return nullptr;
  lstrcpyA(joined, first);
  lstrcatA(joined, second);
  return Deliver(joined, out, &joinedText_);
}

}  // namespace viduzo
