#include "runtime/services.h"

#include "runtime/action.h"
#include "runtime/handles.h"

namespace viduzo {
namespace {

HMODULE g_module = nullptr;

constexpr DWORD kFirstBufferSize = 261;
constexpr DWORD kPropertyStartLength = 512;
// Field 1 of the engine's common-data message names the Cancel button; 0 hides it.
constexpr int kCommonDataCancelButton = 2;
constexpr int kHide = 0;

// Builds the two-field hide-Cancel record; false when a field could not be set.
bool FillHideCancelRecord(MSIHANDLE record) {
  UINT first = MsiRecordSetInteger(record, 1, kCommonDataCancelButton);
  UINT second = MsiRecordSetInteger(record, 2, kHide);
  return first == ERROR_SUCCESS && second == ERROR_SUCCESS;
}

}  // namespace

HMODULE ModuleHandle() { return g_module; }
void SetModuleHandle(HMODULE module) { g_module = module; }

void FreeBuffer(char** buffer) {
  if (buffer && *buffer) {
    HeapFree(GetProcessHeap(), 0, *buffer);
    *buffer = nullptr;
  }
}

bool GrowBuffer(char** buffer, DWORD* size, DWORD length) {
  if (*buffer == nullptr) {
    *size = length >= kFirstBufferSize ? length + 1 : kFirstBufferSize;
    *buffer = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, *size));
    return *buffer != nullptr;
  }
  if (length < *size) return true;
  *size = length + 1;
  void* grown = HeapReAlloc(GetProcessHeap(), 0, *buffer, *size);
  if (!grown) {
    // The old block is released so that the caller finds a null pointer.
    HeapFree(GetProcessHeap(), 0, *buffer);
    *buffer = nullptr;
    return false;
  }
  *buffer = static_cast<char*>(grown);
  return true;
}

UINT GetPropertyValue(MSIHANDLE hInstall, LPCSTR name, char** buffer, DWORD* bufferSize,
                      DWORD* valueLength) {
  if (!buffer) return ERROR_INSTALL_FAILURE;
  DWORD size = 0;
  bool grown = GrowBuffer(buffer, &size, kPropertyStartLength);
  UINT result = ERROR_SUCCESS;
  DWORD count = 0;
  if (grown) {
    count = size;
    result = MsiGetPropertyA(hInstall, name, *buffer, &count);
    if (result == ERROR_MORE_DATA) {
      grown = GrowBuffer(buffer, &size, count);
      if (grown) {
        count = size;
        result = MsiGetPropertyA(hInstall, name, *buffer, &count);
      }
    }
  }
  if (!grown && result == ERROR_SUCCESS) result = ERROR_INSTALL_FAILURE;
  if (bufferSize) *bufferSize = size;
  if (valueLength) *valueLength = result == ERROR_SUCCESS ? count : 0;
  return result;
}

UINT ReadProperty(MSIHANDLE hInstall, LPCSTR name, char* buffer, DWORD size) {
  DWORD count = size;
  return MsiGetPropertyA(hInstall, name, buffer, &count);
}

UINT FormatText(MSIHANDLE hInstall, LPCSTR templ, char** buffer, char** resolved,
                DWORD* bufferSize) {
  MsiHandle record(MsiCreateRecord(1));
  if (!record || MsiRecordSetStringA(record.get(), 1, templ) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;

  DWORD count = 0;
  if (*buffer == nullptr) {
    *buffer = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kFirstBufferSize));
    if (!*buffer) return ERROR_INSTALL_FAILURE;
    count = kFirstBufferSize;
    if (bufferSize) *bufferSize = kFirstBufferSize;
  } else {
    if (!bufferSize || *bufferSize == 0) return ERROR_INSTALL_FAILURE;
    count = *bufferSize;
  }

  UINT result = MsiFormatRecordA(hInstall, record.get(), *buffer, &count);
  if (result == ERROR_MORE_DATA) {
    DWORD size = count + 1;
    void* grown = HeapReAlloc(GetProcessHeap(), 0, *buffer, size);
    if (!grown) {
      HeapFree(GetProcessHeap(), 0, *buffer);
      *buffer = nullptr;
      return ERROR_INSTALL_FAILURE;
    }
    *buffer = static_cast<char*>(grown);
    if (bufferSize) *bufferSize = size;
    count = size;
    result = MsiFormatRecordA(hInstall, record.get(), *buffer, &count);
  }

  if (result == ERROR_SUCCESS && resolved) {
    // The output is "1: value " for the one field: drop the trailing blank and
    // point past the first ": ".
    char* text = *buffer;
    int length = lstrlenA(text);
    if (length > 0) text[length - 1] = '\0';
    *resolved = nullptr;
    for (char* p = text; *p; p = CharNextA(p)) {
      if (p[0] == ':' && p[1] == ' ') {
        *resolved = p + 2;
        break;
      }
    }
  }
  return result;
}

UINT HideCancelMessage(MSIHANDLE hInstall) {
  MsiHandle record(MsiCreateRecord(2));
  if (!record) return ERROR_INSTALL_FAILURE;
  if (!FillHideCancelRecord(record.get())) return ERROR_INSTALL_FAILURE;
  MsiProcessMessage(hInstall, INSTALLMESSAGE_COMMONDATA, record.get());
  return ERROR_SUCCESS;
}

bool NewGuidString(MSIHANDLE, char** text) {
  FreeBuffer(text);
  *text = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 39));
  if (!*text) return false;

  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return false;
  WCHAR wide[39];
  if (StringFromGUID2(guid, wide, 39) == 0) return false;
  char ansi[39];
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr) == 0)
    return false;
  if (ansi[0] == '\0') return false;
  CharUpperA(ansi);
  lstrcpynA(*text, ansi, 39);
  return true;
}

bool AppendGuidSuffix(MSIHANDLE hInstall, char* name, char** suffix) {
  char* guid = nullptr;
  if (!NewGuidString(hInstall, &guid)) {
    FreeBuffer(&guid);
    return false;
  }
  // "{XXXXXXXX-...}" becomes ".XXXXXXXX_..." without the closing brace.
  guid[0] = '.';
  for (char* p = guid; *p; ++p) {
    if (*p == '-') *p = '_';
    if (*p == '}') {
      *p = '\0';
      break;
    }
  }
  char* end = name + lstrlenA(name);
  if (suffix && *suffix) *suffix = end;
  lstrcpyA(end, guid);
  FreeBuffer(&guid);
  return true;
}

bool BytesToHexString(const BYTE* bytes, DWORD count, char** buffer, LPCSTR prefix,
                      DWORD* bufferSize) {
  DWORD size = 0;
  if (*buffer) size = bufferSize ? *bufferSize : static_cast<DWORD>(lstrlenA(*buffer)) + 1;
  DWORD needed = 2 * count + 1 + (prefix ? static_cast<DWORD>(lstrlenA(prefix)) : 0);
  if (!GrowBuffer(buffer, &size, needed)) {
    FreeBuffer(buffer);
    return false;
  }
  if (bufferSize) *bufferSize = size;
  static const char kDigits[] = "0123456789ABCDEF";
  char* out = *buffer;
  *out = '\0';
  if (prefix) {
    lstrcpyA(out, prefix);
    out += lstrlenA(prefix);
  }
  for (DWORD i = 0; i < count; ++i) {
    *out++ = kDigits[bytes[i] >> 4];
    *out++ = kDigits[bytes[i] & 0x0F];
  }
  *out = '\0';
  return true;
}

UINT GrowableText::ReadProperty(MSIHANDLE hInstall, LPCSTR name) {
  return GetPropertyValue(hInstall, name, &text, &size, nullptr);
}

UINT GrowableText::Format(MSIHANDLE hInstall, LPCSTR templ, char** resolved) {
  *resolved = nullptr;
  return FormatText(hInstall, templ, &text, resolved, &size);
}

bool GrowableText::Join(const char* first, const char* second) {
  DWORD length = static_cast<DWORD>(lstrlenA(first)) + static_cast<DWORD>(lstrlenA(second));
  if (!text || length + 1 > size) {
    FreeBuffer(&text);
    size = 0;
    if (!GrowBuffer(&text, &size, 2 * length)) return false;
  }
  lstrcpyA(text, first);
  lstrcatA(text, second);
  return true;
}

}  // namespace viduzo

// Hides the Cancel button of the installer's progress dialog. Always succeeds:
// a missing button is no reason to stop the installation.
extern "C" UINT WINAPI HideCancelButton(MSIHANDLE hInstall) {
  viduzo::MsiHandle record(MsiCreateRecord(2));
  if (record) {
    if (viduzo::FillHideCancelRecord(record.get()))
      MsiProcessMessage(hInstall, INSTALLMESSAGE_COMMONDATA, record.get());
  }
  return ERROR_SUCCESS;
}
