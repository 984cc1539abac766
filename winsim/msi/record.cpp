#include "winsim/msi/record.h"

#include "winsim/core/codepage.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace winsim {

std::string Field::AsText() const {
  switch (kind) {
    case kInteger:
      return std::to_string(integer);
    case kString:
      return text;
    default:
      return std::string();
  }
}

int Field::AsInteger() const {
  if (kind == kInteger) return integer;
  if (kind != kString) return MSI_NULL_INTEGER;
  // The engine's own reading of a number: an optional "-", then decimal digits
  // and nothing else (no "+", no blanks), accumulated in 32 bits so that a
  // value out of range wraps around instead of failing.
  const char* p = text.c_str();
  bool negative = *p == '-';
  if (negative) ++p;
  uint32_t value = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return MSI_NULL_INTEGER;
    value = value * 10u + static_cast<uint32_t>(*p - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

bool Field::operator==(const Field& other) const {
  return kind == other.kind && integer == other.integer && text == other.text;
}

UINT CopyOut(const std::string& text, LPSTR buffer, DWORD* count) {
  if (!count) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD size = *count;
  DWORD length = static_cast<DWORD>(text.size());
  *count = length;
  if (!buffer) return ERROR_SUCCESS;
  if (size == 0) return ERROR_MORE_DATA;
  DWORD copy = length < size ? length : size - 1;
  std::memcpy(buffer, text.data(), copy);
  buffer[copy] = '\0';
  return length < size ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

}  // namespace winsim

using winsim::Field;
using winsim::Record;

namespace {

std::shared_ptr<Record> GetRecord(MSIHANDLE handle) { return winsim::Get<Record>(handle); }

}  // namespace

MSIHANDLE WINAPI MsiCreateRecord(UINT fields) {
  if (fields > 65535) return 0;
  return winsim::AddHandle(std::make_shared<Record>(fields));
}

UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE record) {
  auto rec = GetRecord(record);
  return rec ? rec->Count() : static_cast<UINT>(-1);
}

BOOL WINAPI MsiRecordIsNull(MSIHANDLE record, UINT field) {
  auto rec = GetRecord(record);
  if (!rec || field > rec->Count()) return TRUE;
  return rec->fields[field].IsNull() ? TRUE : FALSE;
}

UINT WINAPI MsiRecordDataSize(MSIHANDLE record, UINT field) {
  auto rec = GetRecord(record);
  if (!rec || field > rec->Count()) return 0;
  const Field& f = rec->fields[field];
  if (f.kind == Field::kInteger) return sizeof(int);
  // The engine keeps texts as wide characters and counts those: a double-byte
  // character of the ANSI code page is one.
  return static_cast<UINT>(winsim::ToWide(f.text).size());
}

UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value) {
  auto rec = GetRecord(record);
  if (!rec) return ERROR_INVALID_HANDLE;
  if (field > rec->Count()) return ERROR_INVALID_PARAMETER;
  rec->fields[field] = Field::Str(value ? value : "");
  return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value) {
  auto rec = GetRecord(record);
  if (!rec) return ERROR_INVALID_HANDLE;
  if (field > rec->Count()) return ERROR_INVALID_PARAMETER;
  rec->fields[field] = Field::Int(value);
  return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordSetStreamA(MSIHANDLE record, UINT field, LPCSTR path) {
  auto rec = GetRecord(record);
  if (!rec) return ERROR_INVALID_HANDLE;
  if (field == 0 || field > rec->Count() || !path) return ERROR_INVALID_PARAMETER;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ERROR_FUNCTION_FAILED;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  rec->fields[field] = Field::Stream(bytes);
  return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordGetStringA(MSIHANDLE record, UINT field, LPSTR buffer, DWORD* count) {
  auto rec = GetRecord(record);
  if (!rec) return ERROR_INVALID_HANDLE;
  if (field > rec->Count()) {
    if (buffer && count && *count > 0) buffer[0] = '\0';
    if (count) *count = 0;
    return ERROR_SUCCESS;
  }
  return winsim::CopyOut(rec->fields[field].AsText(), buffer, count);
}

int WINAPI MsiRecordGetInteger(MSIHANDLE record, UINT field) {
  auto rec = GetRecord(record);
  if (!rec || field > rec->Count()) return MSI_NULL_INTEGER;
  return rec->fields[field].AsInteger();
}

UINT WINAPI MsiRecordClearData(MSIHANDLE record) {
  auto rec = GetRecord(record);
  if (!rec) return ERROR_INVALID_HANDLE;
  for (Field& f : rec->fields) f = Field::Null();
  return ERROR_SUCCESS;
}
